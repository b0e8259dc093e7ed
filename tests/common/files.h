// File helpers shared by the unit tests and the end-to-end harness: plain
// bytes in and out, and POSIX questions about what a path is.  The Windows
// build of the unit tests has its own variants in tests/unit/test_util.h.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace test_files {

inline void write_bytes(const std::string &path, const std::string &content)
{
    std::ofstream f(path, std::ios::binary);
    f << content;
}

inline std::string read_bytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

#ifndef _WIN32
// Anything at path, a dangling link included.
inline bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline bool is_dir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline void make_dirs(const std::string &path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}
#endif

}  // namespace test_files
