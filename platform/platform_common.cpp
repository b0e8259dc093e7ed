/* Platform code shared by every operating system: the swappable table of
 * system calls and the temporary files in progress (the whole-file copy
 * is file_copy.cpp).
 * The wrappers on installer paths (plat_fopen, plat_rename, ...) are each
 * system's own, since the policy around the bare calls differs.  Tests patch
 * the table to inject faults (a full disk, a failed rename) into the real
 * code paths; the installer itself never changes it.  The console is the
 * standard streams everywhere, so it lives here too.
 */
#include "platform/common_internal.h"

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdarg>
#include <cstring>
#ifndef _WIN32
#include <sys/stat.h>
#endif

static char *sys_fgets(char *buf, int size, FILE *f) { return fgets(buf, size, f); }
static int sys_fclose(FILE *f) { return fclose(f); }
static int sys_fflush(FILE *f) { return fflush(f); }
#ifndef _WIN32
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static int sys_stat(const char *native, struct stat *st) { return stat(native, st); }
static int sys_lstat(const char *native, struct stat *st) { return lstat(native, st); }
static int sys_lstat_at(int dir, const char *name, struct stat *st) { return fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW); }
static char *sys_getcwd(char *buf, size_t size) { return getcwd(buf, size); }
static char *sys_realpath(const char *native, char *resolved) { return realpath(native, resolved); }
static long sys_readlink(const char *native, char *buf, size_t n) { return (long)readlink(native, buf, n); }
static int sys_symlink(const char *target, const char *native) { return symlink(target, native); }
static int sys_flock(int fd) { return flock(fd, LOCK_EX | LOCK_NB); }
#endif
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
    plat_sys_fopen,     sys_fclose,        sys_fread,         sys_fwrite,         sys_fgets,
    plat_sys_remove,    plat_sys_rename,   plat_sys_mkdir,    plat_sys_rmdir,     plat_sys_fsync,
    plat_sys_sync_dir,  plat_sys_sync_fs,  sys_fflush,        plat_sys_fsize,     plat_sys_copy_range,
    plat_sys_send_file, plat_sys_dir_open, plat_sys_dir_read, plat_sys_dir_close, plat_sys_may_write,
    plat_sys_open_unnamed, plat_sys_link_unnamed, plat_sys_link, plat_sys_move_new, plat_sys_mode_from,
    plat_sys_mode_like, plat_sys_dir_mode_from,
#ifndef _WIN32
    sys_stat, sys_lstat, sys_lstat_at, sys_getcwd, sys_realpath, sys_readlink, sys_symlink, sys_flock, plat_sys_open_source,
    plat_sys_dir_open_at, plat_sys_unlink_at, plat_sys_rename_at, plat_sys_open_new_at, plat_sys_mount_root,
#else
    plat_sys_attributes, plat_sys_full_path, plat_sys_long_path, plat_sys_current_dir,
#endif
    plat_sys_settle, plat_sys_write_close,
#ifndef _WIN32
    plat_sys_open_lock, plat_sys_close, plat_sys_open_std, plat_sys_sync,
#else
    plat_sys_identity, plat_sys_open_lock, plat_sys_copy_file, plat_sys_set_attributes, plat_sys_module_path,
    plat_sys_final_path, plat_sys_probe_create,
#endif
    plat_sys_name_identity,
};
static plat_syscalls live_calls = real_calls;

plat_syscalls *plat_syscall_table() { return &live_calls; }
const plat_syscalls *plat_real_calls() { return &real_calls; }
void plat_syscall_reset() { live_calls = real_calls; }

/* ---- directory listing ---- */

struct plat_find {
    void *dir;
};

int plat_find_read(void *dir, plat_find_entry *entry)
{
    while (live_calls.dir_read(dir, entry)) {
        if (entry->name[0] == '\0') continue; /* too long to hold */
        if (strchr(entry->name, '\\')) entry->attrib |= PLAT_ATTR_UNNAMED; /* no installer path names it */
        return 1;
    }
    return 0;
}

int plat_find_next(plat_find *f, plat_find_entry *entry) { return f && entry && plat_find_read(f->dir, entry); }

plat_find *plat_find_first(const char *pattern, plat_find_entry *entry, int flags)
{
    char native[PLAT_NATIVE_MAX];
    if (!pattern || !entry) {
        errno = EINVAL;
        return nullptr;
    }
    if (!plat_sys_find_native(pattern, native, sizeof native)) return nullptr;
    plat_find *f = (plat_find *)calloc(1, sizeof *f);
    if (!f) {
        errno = ENOMEM;
        return nullptr;
    }
    f->dir = live_calls.dir_open(native, flags & PLAT_FIND_NOFOLLOW);
    if (f->dir && plat_find_next(f, entry)) return f;
    int err = errno; /* ENOENT for an empty listing, else why it failed */
    plat_find_close(f);
    errno = err;
    return nullptr;
}

void plat_find_close(plat_find *f)
{
    if (!f) return;
    if (f->dir) live_calls.dir_close(f->dir);
    free(f);
}

/* ---- file operations on installer paths ---- */

constexpr int TEMP_SLOTS = 4; /* temporary files in progress at once */

/* The temporary files in progress, by native path, ready for an interrupt
 * handler: a slot's path is complete before the slot is marked used. */
struct temp_slot {
    volatile sig_atomic_t used;
    FILE *stream; /* while it is open */
    char native[PLAT_NATIVE_MAX];
};
static temp_slot temps[TEMP_SLOTS];

static void temp_started(const char *native, FILE *f)
{
    for (temp_slot &t : temps)
        if (!t.used) {
            memcpy(t.native, native, strlen(native) + 1);
            t.stream = f;
            t.used = 1;
            return;
        }
}

static void temp_finished(const char *native)
{
    for (temp_slot &t : temps)
        if (t.used && strcmp(t.native, native) == 0) t.used = 0;
}

/* While a temporary file is being created and entered above, an interrupt
 * waits: the file would exist without being known. */
static volatile sig_atomic_t creating, interrupt_waiting;

/* Called first by an interrupt handler: 1 when the interrupt must wait. */
int plat_interrupt_must_wait()
{
    if (!creating) return 0;
    interrupt_waiting = 1;
    return 1;
}

/* Called from an interrupt: removes every temporary file in progress. */
void plat_remove_temps_now()
{
    for (temp_slot &t : temps)
        if (t.used) {
            t.used = 0;
            plat_sys_unlink_now(t.native);
        }
}

/* Ends the creation of a temporary file (made: it is there, as f when a
 * stream): it is entered, then an interrupt that waited goes ahead. */
static void created(int made, const char *native, FILE *f)
{
    int err = errno;
    if (made) temp_started(native, f);
    creating = 0;
    if (interrupt_waiting) plat_sys_interrupted();
    errno = err;
}

/* A call that ended a temporary file's life under native when it worked. */
static int finished(int r, const char *native)
{
    if (r == 0) temp_finished(native);
    return r;
}

/* The table's open of a native path; a file created with "x" is entered as
 * a temporary file in progress (an interrupt waits while that happens).
 * Each system's plat_fopen calls it with its policy around it. */
FILE *plat_open_tracked(const char *native, const char *mode)
{
    if (!strchr(mode, 'x')) return live_calls.fopen(native, mode);
    creating = 1;
    FILE *f = live_calls.fopen(native, mode);
    created(f != nullptr, native, f);
    return f;
}

#ifndef _WIN32
int plat_open_new_tracked_at(int at, const char *name, const char *native)
{
    creating = 1;
    int fd = live_calls.open_new_at(at, name);
    created(fd >= 0, native, nullptr);
    return fd;
}

int plat_remove_tracked_at(int at, const char *name, const char *native)
{
    return finished(live_calls.unlink_at(at, name, 0), native);
}

int plat_rename_tracked_at(int at, const char *from, const char *to, int replace, const char *native)
{
    return finished(live_calls.rename_at(at, from, to, replace), native);
}
#endif

int plat_fclose(FILE *f)
{
    if (!f) return EOF;
    for (temp_slot &t : temps)
        if (t.stream == f) t.stream = nullptr; /* the pointer may come back for another file */
    int before = errno;
    errno = 0;
    int failed = live_calls.fflush(f) != 0 || ferror(f); /* before fclose can hide it */
    int err = errno ? errno : before ? before : EIO;     /* an earlier write's error */
    int r = live_calls.fclose(f);
    if (failed) {
        errno = err;
        return EOF;
    }
    if (r == 0) errno = before;
    return r;
}
int plat_may_write(const plat_name *n)
{
    const char *name;
    int at = n ? plat_name_at(n, &name) : -1;
    if (n && n->native[0]) return live_calls.may_write(at, name);
    errno = EINVAL;
    return -1;
}


size_t plat_fread(void *b, size_t s, size_t n, FILE *f) { return live_calls.fread(b, s, n, f); }
size_t plat_fwrite(const void *b, size_t s, size_t n, FILE *f) { return live_calls.fwrite(b, s, n, f); }
int plat_fflush(FILE *f) { return live_calls.fflush(f); }
char *plat_fgets(char *buf, int size, FILE *f) { return live_calls.fgets(buf, size, f); }

/* The table's remove and rename of native paths; a temporary file in
 * progress that goes is forgotten. */
int plat_remove_tracked(const char *native) { return finished(live_calls.remove(native), native); }
int plat_rename_tracked(const char *from, const char *to) { return finished(live_calls.rename(from, to), from); }

/* The table's rename that never replaces; a temporary file in progress
 * that got its final name is forgotten. */
int plat_move_new_tracked(const char *from, const char *to) { return finished(live_calls.move_new(from, to), from); }

int plat_mode_from(plat_file *out, const plat_file *source) { return live_calls.mode_from(out, source->mode); }

int plat_on_natives(const char *a, const char *b, int (*call)(const char *, const char *))
{
    char na[PLAT_NATIVE_MAX], nb[PLAT_NATIVE_MAX];
    if (!a || !b) {
        errno = EINVAL;
        return -1;
    }

    if (!plat_native_path(a, na, sizeof na) || !plat_native_path(b, nb, sizeof nb)) return -1;
    return call(na, nb);
}

int plat_rename_new(const char *from, const char *to) { return plat_on_natives(from, to, plat_move_new_tracked); }

/* ---- durability ---- */

int plat_fsync(FILE *f)
{
    if (!f) {
        errno = EINVAL;
        return -1;
    }
    return live_calls.fsync(f);
}

int plat_sync_dir(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(path, native, sizeof native)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return live_calls.sync_dir(native);
}

/* ---- console: standard streams, the same on every system ---- */

/* A console that is gone (a pipe nobody reads any more) is not written
 * again: the run goes on, and the loss is told once. */
static int console_gone, console_errno, console_told;

/* Notes the result of a console write: a failure ends the console. */
static void console_wrote(int failed)
{
    if (!failed || console_gone) return;
    console_gone = 1;
    console_errno = errno ? errno : EIO;
}

int plat_console_lost(int *err)
{
    if (!console_gone || console_told) return 0;
    console_told = 1;
    if (err) *err = console_errno;
    return 1;
}

void plat_out(const char *text)
{
    if (!console_gone) console_wrote(fputs(text ? text : "", stdout) == EOF);
}

void plat_printf(const char *fmt, ...)
{
    if (console_gone) return;
    va_list ap;
    va_start(ap, fmt);
    console_wrote(vfprintf(stdout, fmt, ap) < 0);
    va_end(ap);
}

void plat_flush()
{
    if (!console_gone) console_wrote(live_calls.fflush(stdout) == EOF);
}

void plat_err(const char *text)
{
    fputs(text ? text : "", stderr);
    live_calls.fflush(stderr);
}

int plat_read_line(char *buf, int size)
{
    if (!buf || size < 1) return 0;
    plat_flush();
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

void plat_write_close_raw(FILE *f, const char *text, size_t len)
{
    if (f) live_calls.write_close(f, text, len);
}

/* ---- leaving the process ---- */

static plat_exit_hook exit_hook;

plat_exit_hook plat_set_exit_hook(plat_exit_hook hook)
{
    plat_exit_hook old = exit_hook;
    exit_hook = hook;
    return old;
}

void plat_exit(int status)
{
    if (exit_hook) exit_hook(status); /* returns only when it lets the exit happen */
    exit(status);
}
