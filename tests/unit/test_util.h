// Shared helpers for the unit tests: scratch folders, files, a log that the
// test can read back, and scripted standard input / captured output.
//
// On Windows a rooted installer path ("\web\") names the root of the current
// drive, so a scratch tree must be a drive of its own: the environment
// variable QUILLOR_TEST_DRIVE names a drive letter ("T:") that the unit tests
// own.  Each Scratch empties its root, makes it the current directory and
// empties it again at the end.  scripts/test-windows.sh maps that letter to a
// fresh folder of the build tree (under Wine).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef CopyFile  // a Win32 macro that would rename the tests' own CopyFile
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio_ext.h>
#endif

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "../common/files.h"
#include "log/log.h"
#include "platform/platform.h"

#ifdef _WIN32
// The POSIX environment calls the tests use, on the C runtime's own.
inline int setenv(const char *name, const char *value, int overwrite)
{
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
#endif

namespace tu {

// The real system calls, for stubs that fail some calls and pass the rest
// on (the C library alone lacks, on Windows, the exclusive "x" open).
inline const plat_syscalls &real_calls() { return *plat_real_calls(); }

using test_files::read_bytes;
inline void write_file(const std::string &path, const std::string &content) { test_files::write_bytes(path, content); }
inline std::string read_file(const std::string &path) { return test_files::read_bytes(path); }

// A text file as the program meant it: the C library writes "\n" as CRLF
// on Windows (text mode), so there CRLF is read back as "\n".
inline std::string read_text(const std::string &path)
{
    std::string s = read_file(path);
#ifdef _WIN32
    std::string out;
    for (size_t i = 0; i < s.size(); i++)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
#else
    return s;
#endif
}

#ifdef _WIN32

// std::filesystem paths are wide on Windows and do not turn into
// std::string by themselves; these take them as they are.
template <class P, class = std::enable_if_t<std::is_same_v<P, std::filesystem::path>>>
void write_file(const P &path, const std::string &content)
{
    write_file(path.string(), content);
}
template <class P, class = std::enable_if_t<std::is_same_v<P, std::filesystem::path>>>
std::string read_file(const P &path)
{
    return read_file(path.string());
}

inline bool exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool is_dir(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Makes path and its missing parents ("T:/a/b", "a\\b").
inline void make_dirs(const std::string &path)
{
    for (size_t i = 0; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
        std::string part = path.substr(0, i);
        if (part.empty() || (part.size() == 2 && part[1] == ':') || is_dir(part)) continue;
        if (_mkdir(part.c_str()) != 0 && !is_dir(part)) abort();
    }
}

// Removes everything below dir (which ends with a backslash); links are
// removed, never followed.
inline void clear_tree(const std::string &dir)
{
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = d.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = dir + name;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        bool sub = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (sub && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) clear_tree(full + "\\");
        if (sub)
            RemoveDirectoryA(full.c_str());
        else
            DeleteFileA(full.c_str());
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

inline bool tree_is_empty(const std::string &dir)
{
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do
        if (strcmp(d.cFileName, ".") != 0 && strcmp(d.cFileName, "..") != 0) empty = false;
    while (empty && FindNextFileA(h, &d));
    FindClose(h);
    return empty;
}

// Whether a directory holds nothing.  An empty drive root has not even "."
// and "..", which std::filesystem takes for a missing directory.
inline bool dir_is_empty(const std::string &path)
{
    std::string dir = path;
    if (dir.empty() || (dir.back() != '/' && dir.back() != '\\')) dir += "\\";
    return is_dir(path) && tree_is_empty(dir);
}

// A fresh file name in the system's temporary folder (outside the scratch
// drive, whose listings the tests inspect).
inline std::string temp_file(const char *prefix)
{
    char dir[MAX_PATH], name[MAX_PATH];
    if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, prefix, 0, name)) abort();
    return name;
}

// The root of the test drive, empty, as the current directory while the
// object lives.  dir is "T:/", so path("a/b") is "T:/a/b".
struct Scratch {
    std::string dir;
    std::string old_cwd;
    std::string root;
    Scratch()
    {
        const char *d = getenv("QUILLOR_TEST_DRIVE");
        if (!d || !isalpha((unsigned char)d[0]) || d[1] != ':' || d[2]) {
            fputs("QUILLOR_TEST_DRIVE must name the drive the unit tests own, for instance T:\n", stderr);
            abort();
        }
        root = std::string(d) + "\\";
        dir = std::string(d) + "/";
        clear_tree(root);
        if (!tree_is_empty(root)) {
            fprintf(stderr, "cannot empty the test drive %s\n", root.c_str());
            abort();
        }
        char buf[MAX_PATH * 4];
        old_cwd = _getcwd(buf, sizeof buf) ? buf : "C:\\";
        if (_chdir(root.c_str()) != 0) abort();
    }
    ~Scratch()
    {
        if (_chdir(old_cwd.c_str()) != 0) abort();
        clear_tree(root);
    }
    std::string path(const std::string &rel) const { return dir + rel; }
    std::string drive() const { return dir.substr(0, 2); }  // "T:"
};

// Replaces standard input with the given bytes while the object lives.  The
// file is read in text mode, as the console is.
struct ScriptedInput {
    int saved;
    std::string file;
    explicit ScriptedInput(const std::string &bytes)
    {
        file = temp_file("qin");
        write_file(file, bytes);
        int fd = _open(file.c_str(), _O_RDONLY | _O_TEXT);
        if (fd < 0) abort();
        fflush(stdin);  // the C runtime drops what was buffered: nothing leaks into the script
        saved = _dup(0);
        _dup2(fd, 0);
        _close(fd);
        clearerr(stdin);
    }
    ~ScriptedInput()
    {
        fflush(stdin);
        if (saved >= 0) {
            _dup2(saved, 0);
            _close(saved);
        } else {
            _close(0);
        }
        clearerr(stdin);
        remove(file.c_str());
    }
};

// Collects everything written to standard output while the object lives,
// byte for byte (binary mode: no line-end translation).
struct CapturedOutput {
    int saved;
    std::string file;
    CapturedOutput()
    {
        file = temp_file("qout");
        int fd = _open(file.c_str(), _O_RDWR | _O_TRUNC | _O_BINARY);
        if (fd < 0) abort();
        fflush(stdout);
        saved = _dup(1);
        _dup2(fd, 1);
        _close(fd);
    }
    std::string text()
    {
        fflush(stdout);
        return read_file(file);
    }
    ~CapturedOutput()
    {
        fflush(stdout);
        _dup2(saved, 1);
        _close(saved);
        remove(file.c_str());
    }
};

#else

using test_files::exists;
using test_files::is_dir;

inline bool dir_is_empty(const std::string &path) { return std::filesystem::is_empty(path); }

inline void make_dirs(const std::string &path)
{
    test_files::make_dirs(path);
    if (!is_dir(path)) abort();
}

// A fresh folder under /tmp that becomes the current directory and
// QUILLOR_ROOT while the object lives; removed afterwards.
struct Scratch {
    std::string dir;
    std::string old_cwd;
    Scratch()
    {
        char tmpl[] = "/tmp/qtestXXXXXX";
        dir = mkdtemp(tmpl);
        char buf[4096];
        old_cwd = getcwd(buf, sizeof buf) ? buf : "/";
        if (chdir(dir.c_str()) != 0) abort();
        setenv("QUILLOR_ROOT", dir.c_str(), 1);
    }
    ~Scratch()
    {
        if (chdir(old_cwd.c_str()) != 0) abort();
        unsetenv("QUILLOR_ROOT");
        std::string cmd = "chmod -R u+rwx '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    std::string path(const std::string &rel) const { return dir + "/" + rel; }
    std::string drive() const { return "C:"; }  // any letter: the mapping drops it
};

// Replaces standard input with the given bytes while the object lives.
struct ScriptedInput {
    int saved;
    explicit ScriptedInput(const std::string &bytes)
    {
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
    ~ScriptedInput()
    {
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
    CapturedOutput()
    {
        char tmpl[] = "/tmp/qoutXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) abort();
        file = tmpl;
        fflush(stdout);
        saved = dup(1);
        dup2(fd, 1);
        close(fd);
    }
    std::string text()
    {
        fflush(stdout);
        return read_file(file);
    }
    ~CapturedOutput()
    {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
        unlink(file.c_str());
    }
};

#endif

// A log record opened on a file in the current directory and made current;
// text() reads back what has been written so far.
struct TestLog {
    log_record rec;
    std::string file;
    explicit TestLog(const char *name = "test.log") : file(name)
    {
        log_init(&rec);
        log_open(&rec, "", name);
        log_set_level(&rec, 2);
        log_make_current(&rec);
    }
    ~TestLog()
    {
        log_make_current(nullptr);
        log_close(&rec);
    }
    std::string text()
    {
        log_flush(&rec);
        return read_text(file);
    }
};

// Printf-like reporting callbacks for the configuration modules: each keeps
// the expanded messages it was given, for the test to read.
inline std::vector<std::string> &debug_reports()
{
    static std::vector<std::string> lines;
    return lines;
}
inline std::vector<std::string> &error_reports()
{
    static std::vector<std::string> lines;
    return lines;
}
inline int keep_report(std::vector<std::string> &into, const char *fmt, va_list ap)
{
    char buf[2048];
    vsnprintf(buf, sizeof buf, fmt, ap);
    into.push_back(buf);
    return (int)into.back().size();
}
inline int capture_debug(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = keep_report(debug_reports(), fmt, ap);
    va_end(ap);
    return n;
}
inline int capture_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = keep_report(error_reports(), fmt, ap);
    va_end(ap);
    return n;
}

// ---- injected faults ----
//
// One system call of the platform's table is swapped for a failing one
// while the object lives, and put back in the destructor, so a test can
// neither forget to restore it nor leak it into the next test.
//
//   tu::Fault f(&plat_syscalls::rename, tu::fail_rename);
//   tu::Fault f(&plat_syscalls::fwrite, tu::fail_fwrite_after);  // tu::fault_budget bytes pass
template <typename Call> struct Fault {
    Call plat_syscalls::*slot;
    Call saved;
    Fault(Call plat_syscalls::*s, Call stub) : slot(s), saved(plat_syscall_table()->*s)
    {
        plat_syscall_table()->*s = stub;
    }
    ~Fault() { plat_syscall_table()->*slot = saved; }
    Fault(const Fault &) = delete;
    Fault &operator=(const Fault &) = delete;
};

// What the ready-made stubs let through before they fail: bytes for
// fwrite, calls for fread; a stream in fault_spared (the test's own log)
// is never failed.
inline size_t fault_budget = 0;
inline FILE *fault_spared = nullptr;

inline int fail_rename(const char *, const char *)
{
    errno = EACCES;
    return -1;
}
// The disk fills up after fault_budget bytes.
inline size_t fail_fwrite_after(const void *buf, size_t size, size_t count, FILE *f)
{
    if (f == fault_spared) return fwrite(buf, size, count, f);
    size_t want = size * count;
    size_t n = want < fault_budget ? want : fault_budget;
    fault_budget -= n;
    if (n < want) errno = ENOSPC;
    return fwrite(buf, 1, n, f) / (size ? size : 1);
}
// The close reports a full disk (the stream is closed all the same).
inline int fail_fclose(FILE *f)
{
    int rc = fclose(f);
    if (f == fault_spared) return rc;
    errno = ENOSPC;
    return EOF;
}
// Reads fail after fault_budget calls, neither end of file nor a recorded
// error: only the count shows it.
inline size_t fail_fread_after(void *b, size_t s, size_t n, FILE *f)
{
    if (fault_budget > 0) {
        fault_budget--;
        return fread(b, s, n, f);
    }
    errno = EIO;
    return 0;
}

}  // namespace tu
