/* Platform code shared by every operating system: the swappable table of
 * system calls and the wrappers that reach files through it.  Tests patch
 * the table to inject faults (a full disk, a failed rename) into the real
 * code paths; the installer itself never changes it.  The console is the
 * standard streams everywhere, so it lives here too.
 */
#include "platform/platform.h"

#include <cerrno>
#include <cstdarg>

/* Implemented per system: the real calls on native paths. */
FILE *plat_sys_fopen(const char *native, const char *mode);
int plat_sys_remove(const char *native);
int plat_sys_rename(const char *from, const char *to);
int plat_sys_mkdir(const char *native);
int plat_sys_rmdir(const char *native);

static char *sys_fgets(char *buf, int size, FILE *f) { return fgets(buf, size, f); }
static int sys_fclose(FILE *f) { return fclose(f); }
#if defined(__GLIBC__)
/* The installer has one thread: a file is copied in thousands of small
 * blocks per megabyte, and the stream lock taken around each one is
 * bookkeeping for nothing. */
static size_t sys_fread(void *b, size_t s, size_t n, FILE *f) { return fread_unlocked(b, s, n, f); }
static size_t sys_fwrite(const void *b, size_t s, size_t n, FILE *f) { return fwrite_unlocked(b, s, n, f); }
#else
static size_t sys_fread(void *b, size_t s, size_t n, FILE *f) { return fread(b, s, n, f); }
static size_t sys_fwrite(const void *b, size_t s, size_t n, FILE *f) { return fwrite(b, s, n, f); }
#endif

static const plat_syscalls real_calls = {
    plat_sys_fopen, sys_fclose, sys_fread, sys_fwrite, sys_fgets,
    plat_sys_remove, plat_sys_rename, plat_sys_mkdir, plat_sys_rmdir,
};
static plat_syscalls live_calls = real_calls;

plat_syscalls *plat_syscall_table() { return &live_calls; }
void plat_syscall_reset() { live_calls = real_calls; }

/* ---- file operations on installer paths ---- */

constexpr int NATIVE_MAX = 4096; /* longest native path handled */

FILE *plat_fopen(const char *path, const char *mode)
{
    char native[NATIVE_MAX];
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    if (!plat_native_path(path, native, sizeof native)) {  /* errno says why */
        return nullptr;
    }
    return live_calls.fopen(native, mode);
}

int plat_fclose(FILE *f) { return f ? live_calls.fclose(f) : EOF; }
size_t plat_fread(void *b, size_t s, size_t n, FILE *f) { return live_calls.fread(b, s, n, f); }
size_t plat_fwrite(const void *b, size_t s, size_t n, FILE *f) { return live_calls.fwrite(b, s, n, f); }
char *plat_fgets(char *buf, int size, FILE *f) { return live_calls.fgets(buf, size, f); }

/* Runs one path-taking call on the native form of path. */
static int on_native(const char *path, int (*call)(const char *))
{
    char native[NATIVE_MAX];
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(path, native, sizeof native)) {  /* errno says why */
        return -1;
    }
    return call(native);
}

int plat_remove(const char *path) { return on_native(path, live_calls.remove); }
int plat_mkdir(const char *path) { return on_native(path, live_calls.mkdir); }
int plat_rmdir(const char *path) { return on_native(path, live_calls.rmdir); }

int plat_rename(const char *from, const char *to)
{
    char nfrom[NATIVE_MAX], nto[NATIVE_MAX];
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(from, nfrom, sizeof nfrom) || !plat_native_path(to, nto, sizeof nto)) {
        return -1;
    }
    return live_calls.rename(nfrom, nto);
}

/* ---- console: standard streams, the same on every system ---- */

void plat_out(const char *text) { fputs(text ? text : "", stdout); }

void plat_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stdout, fmt, ap);
    va_end(ap);
}

void plat_flush() { fflush(stdout); }

void plat_err(const char *text)
{
    fputs(text ? text : "", stderr);
    fflush(stderr);
}

int plat_read_line(char *buf, int size)
{
    if (!buf || size < 1) return 0;
    fflush(stdout);
    int c, n = 0, got = 0;
    while ((c = getchar()) != EOF) {
        got = 1;
        if (n < size - 1) buf[n++] = (char)c; /* the rest of a long line is dropped */
        if (c == '\n') break;
    }
    if (!got) return 0;
    buf[n] = '\0';
    return 1;
}
