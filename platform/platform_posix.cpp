/* POSIX implementation of the platform layer.
 *
 * Installer paths are Windows style.  Here a backslash becomes "/", a path
 * rooted at the current drive ("\x", "C:\x", "/x") is placed under the
 * directory named by QUILLOR_ROOT (else under "/"), drive letters are
 * dropped, and each component that does not exist with its exact case is
 * resolved case-blind against its directory, as Windows names would be.
 * Listings report Windows-like attribute bits: 0x10 for a plain directory,
 * 0x400 for a symbolic link (never followed), 0x20 for anything else.
 *
 * This file holds the bare calls of the system-call table on native paths,
 * the bare listing calls, the console and the process; the wrappers on
 * installer paths and on native names are in posix_files.cpp, the mapping
 * and its case-blind resolver in posix_resolve.cpp, the canonical forms in
 * posix_canonical.cpp, and durability, modes, the folder lock and
 * interruption in posix_durable.cpp.
 */
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

constexpr unsigned RENAME_NOREPLACE_FLAG = 1; /* renameat2's RENAME_NOREPLACE, from linux/fs.h */

/* open(2) flags for an fopen mode.  Nothing waits in open: a pipe without
 * a writer would block a read open for ever, one without a reader a write
 * open.  A file written to is never reached through a link, and "w"
 * truncates only once the file is known to be a regular one. */
static int open_flags(const char *mode)
{
    int rw = strchr(mode, '+') ? O_RDWR : 0;
    int flags = O_NONBLOCK | O_CLOEXEC;
    if (mode[0] == 'r') return flags | (rw ? rw : O_RDONLY);
    if (mode[0] != 'w' && mode[0] != 'a') return -1;
    flags |= (rw ? rw : O_WRONLY) | O_CREAT | O_NOFOLLOW;
    if (mode[0] == 'a') flags |= O_APPEND;
    if (strchr(mode, 'x')) flags = (flags & ~O_NONBLOCK) | O_EXCL; /* only ever a new file */
    return flags;
}

/* Checks that fd is a regular file and makes it blocking again, truncating
 * it for "w".  A file this very open created is one.  0, or -1 with errno. */
static int settle_fd(int fd, const char *mode, int flags)
{
    struct stat st;
    if (flags & O_EXCL) return 0;
    if (fstat(fd, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : PLAT_ENOTREG;
        return -1;
    }
    if (mode[0] == 'w' && ftruncate(fd, 0) != 0) return -1;
    return fcntl(fd, F_SETFL, flags & O_APPEND); /* the status flags, O_NONBLOCK cleared */
}

/* ---- the bare calls of the system-call table ---- */

/* open(2) with the flags of the mode, and a stream on it; no check of what
 * was opened ("w" does not truncate: see plat_fopen). */
FILE *plat_sys_fopen(const char *native, const char *mode)
{
    int flags = open_flags(mode);
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    char fmode[8]; /* fdopen's mode: the letters it knows */
    snprintf(fmode, sizeof fmode, "%c%s", mode[0], strchr(mode, '+') ? "+" : "");
#if defined(__GLIBC__)
    if (flags & O_EXCL) { /* the C library opens it as open_flags would: a new file, never a link */
        snprintf(fmode, sizeof fmode, "%c%sxe", mode[0], strchr(mode, '+') ? "+" : "");
        return fopen(native, fmode);
    }
#endif
    FILE *f = nullptr;
    int fd = open(native, flags, 0666);
    if (fd >= 0 && !(f = fdopen(fd, fmode))) {
        int e = errno;
        close(fd);
        errno = e;
    }
    return f;
}

int plat_sys_may_write(int at, const char *name) { return faccessat(at < 0 ? AT_FDCWD : at, name, W_OK, 0); }
int plat_sys_remove(const char *native) { return unlink(native); } /* a file or link, never a folder */
int plat_sys_rename(const char *from, const char *to) { return rename(from, to); }

/* Where the file system cannot link (EPERM on some), nor the kernel refuse
 * in the rename itself: a look just before the rename is the best left. */
static int rename_if_absent(int dir, const char *from, const char *to)
{
    struct stat st;
    if (fstatat(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return errno == ENOENT ? renameat(dir, from, dir, to) : -1;
}

/* A rename by names in the open folder dir (AT_FDCWD: native paths) that
 * fails rather than replace: the kernel's own where it has one, else a new
 * link (which never replaces) and the old name removed. */
static int move_new_at(int dir, const char *from, const char *to)
{
#if defined(__linux__) && defined(SYS_renameat2)
    if (syscall(SYS_renameat2, dir, from, dir, to, RENAME_NOREPLACE_FLAG) == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1; /* EINVAL: this file system cannot */
#endif
    if (linkat(dir, from, dir, to, 0) != 0)
        return errno == EEXIST || errno == ENOENT ? -1 : rename_if_absent(dir, from, to);
    if (unlinkat(dir, from, 0) == 0) return 0;
    int err = errno;
    unlinkat(dir, to, 0); /* both names stand for one file: keep the old one only */
    errno = err;
    return -1;
}

int plat_sys_mkdir(const char *native) { return mkdir(native, 0777); }
int plat_sys_rmdir(const char *native) { return rmdir(native); }

/* ---- new files, links and modes: the bare calls ---- */

int plat_sys_open_unnamed(int at, const char *dir, unsigned mode, plat_file *out)
{
#ifdef O_TMPFILE
    int fd = openat(at < 0 ? AT_FDCWD : at, dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, (mode_t)(mode & 0777));
    if (fd >= 0) {
        *out = plat_file{nullptr, fd, 0, 0};
        return 0;
    }
    if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL) errno = ENOSYS; /* none on this file system */
#else
    (void)at;
    (void)dir;
    (void)mode;
    (void)out;
    errno = ENOSYS;
#endif
    return -1;
}

/* By the descriptor itself where the process may (CAP_DAC_READ_SEARCH, as
 * root has it), which spares a walk through /proc; once refused (ENOENT),
 * through /proc, which needs no privilege. */
int plat_sys_link_unnamed(plat_file *f, int at, const char *to)
{
#ifdef O_TMPFILE
    static int by_descriptor_refused;
    if (at < 0) at = AT_FDCWD;
    if (!by_descriptor_refused) {
        int rc = linkat(posix_fd(f), "", at, to, AT_EMPTY_PATH);
        if (rc == 0 || errno != ENOENT) return rc;
        by_descriptor_refused = 1;
    }
    char proc[64];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", posix_fd(f));
    return linkat(AT_FDCWD, proc, at, to, AT_SYMLINK_FOLLOW);
#else
    (void)f;
    (void)at;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

int plat_sys_link(const char *from, const char *to) { return link(from, to); }

int plat_sys_move_new(const char *from, const char *to) { return move_new_at(AT_FDCWD, from, to); }

/* ---- the check of what an open reached ---- */

int plat_sys_settle(FILE *f, const char *mode) { return settle_fd(fileno(f), mode, open_flags(mode)); }

/* Checks what an open stream reached and settles it (see settle_fd);
 * closes it and returns null when it may not be used. */
FILE *settled(FILE *f, const char *mode)
{
    if (sys().settle(f, mode) == 0) return f;
    int e = errno;
    plat_syscall_table()->fclose(f);
    errno = e;
    return nullptr;
}

/* ---- directory listing ---- */

/* The bare listing calls: the entry's kind from d_type, where the file
 * system gives one, else from fstatat in the open folder.  Never following
 * a link, the folder is opened by its name without a trailing "/" (which
 * would follow it). */
void *plat_sys_dir_open(const char *native, int nofollow)
{
    int fd;
    return nofollow ? plat_sys_dir_open_at(AT_FDCWD, native, 1, &fd) : opendir(native);
}

void *plat_sys_dir_open_at(int at, const char *name, int nofollow, int *fd)
{
    char dir[PLAT_NATIVE_MAX];
    size_t n = strlen(name);
    while (nofollow && n > 1 && name[n - 1] == '/') n--;
    if (n >= sizeof dir) return errno = ENAMETOOLONG, nullptr;
    memcpy(dir, name, n);
    dir[n] = '\0';
    *fd = openat(at, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (nofollow ? O_NOFOLLOW : 0));
    DIR *d = *fd >= 0 ? fdopendir(*fd) : nullptr;
    if (*fd >= 0 && !d) close(*fd);
    return d;
}

int plat_sys_unlink_at(int dir, const char *name, int folder) { return unlinkat(dir, name, folder ? AT_REMOVEDIR : 0); }

int plat_sys_open_new_at(int dir, const char *name) { return openat(dir, name, open_flags("wbx"), 0666); }

int plat_sys_open_source(const char *native) { return open(native, open_flags("rb")); }

int plat_sys_rename_at(int dir, const char *from, const char *to, int replace)
{
    return replace ? renameat(dir, from, dir, to) : move_new_at(dir, from, to);
}

/* By the kernel's own mark where it gives one (a bind mount of a folder of
 * the same file system too), else by a change of device. */
int plat_sys_mount_root(int parent, int fd)
{
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx sx; /* where statx is refused (some containers), the device tells what it can */
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, 0, &sx) == 0 &&
        (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    struct stat p, s;
    if (fstat(parent, &p) != 0 || fstat(fd, &s) != 0) return -1;
    return p.st_dev != s.st_dev;
}

void plat_sys_dir_close(void *dir) { closedir((DIR *)dir); }

int plat_sys_dir_read(void *dir, plat_find_entry *entry)
{
    errno = 0;
    struct dirent *e = readdir((DIR *)dir);
    if (!e) {
        if (errno == 0) errno = ENOENT;
        return 0;
    }
    snprintf(entry->name, sizeof entry->name, "%s", e->d_name);
    if (strlen(e->d_name) >= sizeof entry->name) entry->name[0] = '\0'; /* too long: the wrapper skips it */
    unsigned char type = e->d_type;
    struct stat st; /* an entry the system did not type is asked, without following a link */
    if (type == DT_UNKNOWN && fstatat(dirfd((DIR *)dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    entry->attrib = type == DT_LNK ? PLAT_ATTR_REPARSE : type == DT_DIR ? PLAT_ATTR_DIRECTORY : PLAT_ATTR_ARCHIVE;
    return 1;
}

/* The folder of a pattern "dir\*" (the mask is always "*"), as dir_open
 * takes it. */
int plat_sys_find_native(const char *pattern, char *native, int size)
{
    char dir[PLAT_NATIVE_MAX];
    const char *slash = strrchr(pattern, '\\');
    size_t n = slash ? (size_t)(slash - pattern) + 1 : 0;
    if (n >= sizeof dir) {
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(dir, pattern, n);
    dir[n] = '\0';
    errno = 0;
    if (plat_native_path(n ? dir : ".", native, size)) return 1;
    if (!errno) errno = ENAMETOOLONG;
    return 0;
}

/* ---- console ---- */

/* Whether a standard stream is a terminal, asked once: one file is copied
 * or removed per console dot, and the answer does not change. */
static int is_terminal(int fd)
{
    static int known[3] = {-1, -1, -1};
    if (fd < 0 || fd > 2) return isatty(fd);
    if (known[fd] < 0) known[fd] = isatty(fd);
    return known[fd];
}

void plat_progress()
{
    if (is_terminal(STDOUT_FILENO)) plat_flush(); /* a pipe gets it with the next flush */
}

/* The null device as the standard descriptor fd when fd is closed. */
int plat_sys_open_std(int fd)
{
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) return 0;
    int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY); /* the lowest free number: fd */
    if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
    }
    return null >= 0 ? 0 : -1;
}

void plat_std_streams_ready()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) sys().open_std(fd);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_IGN; /* a write to a pipe nobody reads fails with EPIPE instead */
    sigaction(SIGPIPE, &sa, nullptr);
}

void plat_discard_typeahead()
{
    if (is_terminal(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

/* ---- process and machine ---- */

constexpr int HOST_NAME_BUFFER = 256;    /* gethostname's buffer: any host name fits */
constexpr size_t COMPUTER_NAME_MAX = 63; /* the registry's 64-byte field, terminator aside */
constexpr int MKTEMP_TRIES = 1000;       /* names tried before giving up */
constexpr int PATH_COMPONENTS_MAX = 256; /* folders in a path that plat_program_path handles */

int plat_computer_name(char *buf, int size)
{
    char name[HOST_NAME_BUFFER];
    if (!buf || size < 1 || gethostname(name, sizeof name) != 0) return 0;
    name[sizeof name - 1] = '\0';
    size_t n = strlen(name);
    if (n == 0 || n > COMPUTER_NAME_MAX || n >= (size_t)size) return 0;
    memcpy(buf, name, n + 1);
    return 1;
}

long plat_process_id() { return (long)getpid(); }

const char *plat_setup_problem()
{
    const char *root = getenv("QUILLOR_ROOT");
    if (root && root[0] == '\0') /* would mean the real root, as if it were unset */
        return "QUILLOR_ROOT is set but empty: unset it to install under /, or name the folder to install under";
    return nullptr;
}

int plat_mktemp(char *templ)
{
    static unsigned counter;
    size_t n = templ ? strlen(templ) : 0;
    if (n < 6 || strcmp(templ + n - 6, "XXXXXX") != 0) return 0;
    for (int tries = 0; tries < MKTEMP_TRIES; tries++) {
        unsigned v = (unsigned)getpid() * 31u + counter++;
        for (int i = 0; i < 6; i++) {
            templ[n - 1 - i] = "abcdefghijklmnopqrstuvwxyz0123456789"[v % 36];
            v /= 36;
        }
        char native[PLAT_NATIVE_MAX];
        struct stat st;
        if (plat_native_path(templ, native, sizeof native) && sys().lstat(native, &st) != 0) return 1;
    }
    return 0;
}

/* Splits an absolute native path into its components (in place). */
static int split_components(char *path, char **comp, int max)
{
    int n = 0;
    for (char *tok = strtok(path, "/"); tok && n < max; tok = strtok(nullptr, "/")) comp[n++] = tok;
    return n;
}

/* Writes the path from directory `from` to file `to` (both absolute native
 * paths) relative to `from`, in installer form: ".\..\dir\file". */
static int relative_installer_path(char *from, char *to, char *buf, int size)
{
    char *fc[PATH_COMPONENTS_MAX], *tc[PATH_COMPONENTS_MAX];
    int nf = split_components(from, fc, PATH_COMPONENTS_MAX), nt = split_components(to, tc, PATH_COMPONENTS_MAX);
    int k = 0;
    while (k < nf && k < nt - 1 && strcmp(fc[k], tc[k]) == 0) k++;
    int out = snprintf(buf, (size_t)size, ".");
    for (int i = k; i < nf && out < size; i++) out += snprintf(buf + out, (size_t)(size - out), "\\..");
    for (int i = k; i < nt && out < size; i++) out += snprintf(buf + out, (size_t)(size - out), "\\%s", tc[i]);
    return out < size;
}

int plat_program_path(const char *argv0, char *buf, int size)
{
    char exe[PATH_MAX], cwd[PATH_MAX];
    long n = sys().readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0 && sys().getcwd(cwd, sizeof cwd)) {
        exe[n] = '\0';
        return relative_installer_path(cwd, exe, buf, size);
    }
    /* no /proc: fall back on the path as started */
    if (!argv0 || snprintf(buf, (size_t)size, "%s", argv0) >= size) return 0;
    for (char *p = buf; *p; p++)
        if (*p == '/') *p = '\\';
    return 1;
}

#endif
