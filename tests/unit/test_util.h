// Shared helpers for the unit tests: scratch folders, files, a log that the
// test can read back, and scripted standard input / captured output.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio_ext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log.h"

namespace tu {

// A fresh folder under /tmp that becomes the current directory and
// QUILLOR_ROOT while the object lives; removed afterwards.
struct Scratch {
    std::string dir;
    std::string old_cwd;
    Scratch() {
        char tmpl[] = "/tmp/qtestXXXXXX";
        dir = mkdtemp(tmpl);
        char buf[4096];
        old_cwd = getcwd(buf, sizeof buf) ? buf : "/";
        if (chdir(dir.c_str()) != 0) abort();
        setenv("QUILLOR_ROOT", dir.c_str(), 1);
    }
    ~Scratch() {
        if (chdir(old_cwd.c_str()) != 0) abort();
        unsetenv("QUILLOR_ROOT");
        std::string cmd = "chmod -R u+rwx '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) {}
    }
    std::string path(const std::string &rel) const { return dir + "/" + rel; }
};

inline void write_file(const std::string &path, const std::string &content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
}

inline std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline bool is_dir(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline void make_dirs(const std::string &path) {
    std::string cmd = "mkdir -p '" + path + "'";
    if (system(cmd.c_str()) != 0) abort();
}

// A log record opened on a file in the current directory and made current;
// text() reads back what has been written so far.
struct TestLog {
    log_record rec;
    std::string file;
    explicit TestLog(const char *name = "test.log") : file(name) {
        log_init(&rec);
        log_open(&rec, "", name);
        log_set_level(&rec, 2);
        log_make_current(&rec);
    }
    ~TestLog() {
        log_make_current(nullptr);
        log_close(&rec);
    }
    std::string text() const { return read_file(file); }
};

// Replaces standard input with the given bytes while the object lives.
struct ScriptedInput {
    int saved;
    explicit ScriptedInput(const std::string &bytes) {
        char tmpl[] = "/tmp/qinXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size()) abort();
        lseek(fd, 0, SEEK_SET);
        unlink(tmpl);
        __fpurge(stdin);  // nothing read before may leak into the script
        saved = dup(0);
        dup2(fd, 0);
        close(fd);
        clearerr(stdin);
    }
    ~ScriptedInput() {
        __fpurge(stdin);
        dup2(saved, 0);
        close(saved);
        clearerr(stdin);
    }
};

// Collects everything written to standard output while the object lives.
struct CapturedOutput {
    int saved;
    std::string file;
    CapturedOutput() {
        char tmpl[] = "/tmp/qoutXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) abort();
        file = tmpl;
        fflush(stdout);
        saved = dup(1);
        dup2(fd, 1);
        close(fd);
    }
    std::string text() {
        fflush(stdout);
        return read_file(file);
    }
    ~CapturedOutput() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
        unlink(file.c_str());
    }
};

}  // namespace tu
