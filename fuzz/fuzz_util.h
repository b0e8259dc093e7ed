// Shared set-up for the fuzz targets.
//
// Every target that touches files works in one scratch folder, made once
// per process, which is both the current directory and QUILLOR_ROOT.  A
// fence in the platform layer's system-call table refuses any path that
// would leave that folder ("..", or an absolute path elsewhere), so input
// that names "\..\..\etc\x" or "/dev/zero" can neither touch the machine
// nor make a target read forever.  Input is cut into parts by the helpers
// of Input; a failed check prints what broke and aborts, which libFuzzer
// reports as a finding.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fz {

// ---- checks ----

[[noreturn]] inline void fail(const char *what, const std::string &detail = "")
{
    fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
    abort();
}

inline void check(bool ok, const char *what, const std::string &detail = "")
{
    if (!ok) fail(what, detail);
}

// Printable form of a string for failure messages.
inline std::string show(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            out += (char)c;
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out + "\"";
}

// ---- cutting the input ----

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    Input(const uint8_t *d, size_t n) : data(d), size(n) {}

    bool done() const { return pos >= size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    // The bytes up to the next NUL (which is consumed), or to the end.
    std::string part()
    {
        size_t start = pos;
        while (pos < size && data[pos] != 0) pos++;
        std::string s((const char *)data + start, pos - start);
        if (pos < size) pos++;
        return s;
    }
    // Everything not read yet, NUL bytes included.
    std::string rest()
    {
        std::string s((const char *)data + pos, size - pos);
        pos = size;
        return s;
    }
};

// Splits text at every occurrence of sep.
inline std::vector<std::string> split(const std::string &text, const std::string &sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + sep.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// ---- the scratch folder and its fence ----

inline std::string &scratch_dir()
{
    static std::string dir;
    return dir;
}

// A native path is inside when it is relative or under the scratch folder,
// and has no ".." component either way.
inline bool inside(const char *native)
{
    if (!native) return false;
    std::string p = native;
    if (p == ".." || p.rfind("../", 0) == 0 || p.find("/../") != std::string::npos ||
        (p.size() >= 3 && p.compare(p.size() - 3, 3, "/..") == 0))
        return false;
    if (p[0] != '/') return true;
    const std::string &root = scratch_dir();
    return p.compare(0, root.size(), root) == 0 && (p.size() == root.size() || p[root.size()] == '/');
}

inline plat_syscalls &real_calls()
{
    static plat_syscalls calls = *plat_syscall_table();
    return calls;
}

inline FILE *fenced_fopen(const char *native, const char *mode)
{
    struct stat st;
    if (!inside(native)) {
        errno = EACCES;
        return nullptr;
    }
    // only plain files and missing ones: no devices, pipes or sockets
    if (stat(native, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = EACCES;
        return nullptr;
    }
    return real_calls().fopen(native, mode);
}

inline int fence_path(const char *native, int (*call)(const char *))
{
    if (!inside(native)) {
        errno = EACCES;
        return -1;
    }
    return call(native);
}
// Fuzzing needs no durability: a real fsync per input would slow the run
// a hundredfold.  The stream is still flushed, so write errors show.
inline int flush_only(FILE *f) { return fflush(f); }
inline int no_sync(const char *native) { return inside(native) ? 0 : (errno = EACCES, -1); }
inline int fenced_remove(const char *n) { return fence_path(n, real_calls().remove); }
inline int fenced_mkdir(const char *n) { return fence_path(n, real_calls().mkdir); }
inline int fenced_rmdir(const char *n) { return fence_path(n, real_calls().rmdir); }
inline int fenced_rename(const char *from, const char *to)
{
    if (!inside(from) || !inside(to)) {
        errno = EACCES;
        return -1;
    }
    return real_calls().rename(from, to);
}

// Removes every plain file at the top of the scratch folder, so that each
// input starts from the same state.
inline void clear_scratch();

// At exit: the scratch folder goes (a crash leaves it for inspection).
inline void leave_scratch()
{
    clear_scratch();
    if (chdir("/") == 0) rmdir(scratch_dir().c_str());
}

// Makes the scratch folder, enters it and puts up the fence (once).
inline void enter_scratch()
{
    if (!scratch_dir().empty()) return;
    char tmpl[] = "/tmp/qfuzzXXXXXX";
    if (!mkdtemp(tmpl)) fail("cannot make a scratch folder");
    scratch_dir() = tmpl;
    if (chdir(tmpl) != 0) fail("cannot enter the scratch folder");
    setenv("QUILLOR_ROOT", tmpl, 1);
    real_calls();
    plat_syscalls *live = plat_syscall_table();
    live->fopen = fenced_fopen;
    live->remove = fenced_remove;
    live->rename = fenced_rename;
    live->mkdir = fenced_mkdir;
    live->rmdir = fenced_rmdir;
    live->fsync = flush_only;
    live->sync_dir = no_sync;
    live->sync_fs = no_sync;
    atexit(leave_scratch);
}

inline void clear_scratch()
{
    DIR *d = opendir(".");
    if (!d) return;
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d)) {
        struct stat st;
        if (lstat(e->d_name, &st) == 0 && !S_ISDIR(st.st_mode)) names.push_back(e->d_name);
    }
    closedir(d);
    for (const std::string &n : names) unlink(n.c_str());
}

inline void write_file(const std::string &name, const std::string &content)
{
    FILE *f = fopen(name.c_str(), "wb");
    if (!f) fail("cannot write a scratch file", name);
    if (!content.empty() && fwrite(content.data(), 1, content.size(), f) != content.size())
        fail("short write to a scratch file", name);
    fclose(f);
}

inline bool read_file(const std::string &name, std::string &content)
{
    FILE *f = fopen(name.c_str(), "rb");
    if (!f) return false;
    content.clear();
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) content.append(buf, n);
    fclose(f);
    return true;
}

inline bool file_exists(const std::string &name)
{
    struct stat st;
    return lstat(name.c_str(), &st) == 0;
}

}  // namespace fz
