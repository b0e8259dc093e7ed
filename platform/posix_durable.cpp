/* Durability, modes, the folder lock and interruption in the POSIX
 * platform layer: fsync and syncfs through the system-call table, whole-file
 * kernel copies (a copy's files are bare descriptors), the mode, owner and
 * access list a new file takes, the lock that keeps one installer per
 * folder, and the signals that end the process cleanly.
 */
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <sys/stat.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#include <ctime>
#include <unistd.h>

/* ---- durability ---- */

int plat_sys_fsync(FILE *f)
{
    if (fflush(f) != 0) return -1;
    return fsync(fileno(f));
}

/* Opens the folder that holds native (a file or folder path). */
static int open_parent(const char *native)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    if (!split_native(native, dir, name)) {
        errno = EINVAL;
        return -1;
    }
    return open(dir[0] ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

/* Runs call on fd and closes it, keeping the call's errno; -1 for no fd. */
static int on_fd(int fd, int (*call)(int))
{
    if (fd < 0) return -1;
    int r = call(fd);
    int err = errno;
    close(fd);
    errno = err;
    return r;
}

int plat_sys_sync_dir(const char *native) { return on_fd(open_parent(native), fsync); }

void plat_sys_sync() { sync(); }

int plat_sys_sync_fs(const char *native) { return on_fd(open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC), syncfs); }

int posix_fd(const plat_file *f) { return f->fd >= 0 ? f->fd : fileno(f->f); }

FILE *plat_file_stream(plat_file *f, const char *mode)
{
    if (!f->f && f->fd >= 0 && (f->f = fdopen(f->fd, mode))) f->fd = -1; /* the stream owns it now */
    return f->f;
}

long long plat_sys_fsize(plat_file *f)
{
    struct stat st;
    if (fstat(posix_fd(f), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : PLAT_ENOTREG; /* no size to copy or check */
        return -1;
    }
    f->mode = st.st_mode & 07777;
    return (long long)st.st_size;
}

/* A kernel copy that cannot serve these files (another file system, a
 * kind of file or a kernel without support) says ENOSYS: nothing moved. */
static long long kernel_result(ssize_t n)
{
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) errno = ENOSYS;
    return (long long)n;
}

long long plat_sys_copy_range(plat_file *in, plat_file *out, size_t len)
{
#ifdef __linux__
    return kernel_result(copy_file_range(posix_fd(in), nullptr, posix_fd(out), nullptr, len, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

long long plat_sys_send_file(plat_file *in, plat_file *out, size_t len)
{
#ifdef __linux__
    return kernel_result(sendfile(posix_fd(out), posix_fd(in), nullptr, len));
#else
    errno = ENOSYS;
    return -1;
#endif
}

/* The file systems written to since the last plat_sync_now: one folder on
 * each.  Past the last slot the whole system is synced instead. */
constexpr int SYNC_SLOTS = 16;
static struct {
    dev_t dev;
    char dir[PLAT_NATIVE_MAX];
} sync_pending[SYNC_SLOTS];
static int sync_count, sync_overflow;

/* The installer folder of the last file noted: a file beside it lies on a
 * file system already noted, so a tree's copies cost no look-up here. */
static char sync_last_folder[PLAT_NATIVE_MAX];
static size_t sync_last_len;
static int sync_last_set;

static size_t folder_length(const char *path)
{
    const char *slash = strrchr(path, '\\'), *other = strrchr(path, '/');
    if (other && (!slash || other > slash)) slash = other;
    return slash ? (size_t)(slash - path) + 1 : 0;
}

static void note_device(const char *path)
{
    char native[PLAT_NATIVE_MAX], dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    struct stat st;
    if (!plat_native_path(path, native, sizeof native) || sys().lstat(native, &st) != 0 ||
        !split_native(native, dir, name)) {
        sync_overflow = 1; /* cannot tell where it lies: sync everything */
        return;
    }
    for (int i = 0; i < sync_count; i++)
        if (sync_pending[i].dev == st.st_dev) return;
    if (sync_count == SYNC_SLOTS) {
        sync_overflow = 1;
        return;
    }
    sync_pending[sync_count].dev = st.st_dev;
    memcpy(sync_pending[sync_count].dir, dir[0] ? dir : ".", strlen(dir[0] ? dir : ".") + 1);
    sync_count++;
}

void plat_sync_later(const char *path)
{
    if (!path) return;
    size_t n = folder_length(path);
    if (sync_last_set && n == sync_last_len && memcmp(path, sync_last_folder, n) == 0) return;
    note_device(path);
    sync_last_set = n < sizeof sync_last_folder;
    if (!sync_last_set) return;
    memcpy(sync_last_folder, path, n);
    sync_last_len = n;
}

int plat_sync_now()
{
    int ok = 1, err = 0;
    for (int i = 0; i < sync_count; i++)
        if (plat_syscall_table()->sync_fs(sync_pending[i].dir) != 0) {
            ok = 0;
            err = errno;
        }
    if (sync_overflow) sys().sync();
    sync_count = sync_overflow = sync_last_set = 0;
    errno = err;
    return ok;
}

/* ---- what a name holds, for a journal of changes ---- */

static long long nanoseconds(const struct timespec &t) { return (long long)t.tv_sec * 1000000000LL + t.tv_nsec; }

int plat_sys_name_identity(const char *native, plat_identity *id)
{
    struct stat st;
    if (lstat(native, &st) != 0) return -1;
    id->kind = S_ISREG(st.st_mode) ? PLAT_KIND_FILE : S_ISDIR(st.st_mode) ? PLAT_KIND_DIR : PLAT_KIND_OTHER;
    id->size = (long long)st.st_size;
    id->modified = nanoseconds(st.st_mtim);
    id->changed = nanoseconds(st.st_ctim);
    id->device = (long long)st.st_dev;
    id->index = (long long)st.st_ino;
    return 0;
}

/* The fine clock: a file time set before, coarse or fine, is never later. */
long long plat_clock_late()
{
    struct timespec t;
    return clock_gettime(CLOCK_REALTIME, &t) == 0 ? nanoseconds(t) : 0;
}

/* The coarse clock where there is one: the file times are stamped from it,
 * so a file changed after a note never looks older than the note. */
long long plat_clock()
{
#ifdef CLOCK_REALTIME_COARSE
    struct timespec t;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &t) == 0) return nanoseconds(t);
#endif
    return plat_clock_late();
}

/* ---- modes, owners and access lists: the bare calls ---- */

/* The process's umask, read once: it never changes during a run. */
static mode_t current_umask()
{
    static mode_t mask = (mode_t)-1;
    if (mask == (mode_t)-1) {
        mask = umask(0);
        umask(mask);
    }
    return mask;
}

int plat_sys_mode_from(plat_file *out, unsigned mode) { return fchmod(posix_fd(out), mode & 0777 & ~current_umask()); }

/* The replaced file's access list goes with its mode: without it a user
 * let in by name (the web server's, say) would be shut out, and the group
 * bits, which hold the list's mask, would grant the group more.  Where
 * /proc cannot name the file in its folder the list stays behind. */
#ifdef __linux__
static int keep_acl(int fd, int at, const char *name)
{
    static const char ACL[] = "system.posix_acl_access";
    char path[PLAT_NATIVE_MAX + 32], small[1024];
    if (at >= 0) snprintf(path, sizeof path, "/proc/self/fd/%d/%s", at, name);
    const char *of = at >= 0 ? path : name;
    ssize_t n = lgetxattr(of, ACL, small, sizeof small);
    char *list = small;
    if (n < 0 && errno == ERANGE && (n = lgetxattr(of, ACL, nullptr, 0)) > 0) { /* a long list */
        if (!(list = (char *)malloc((size_t)n))) return errno = ENOMEM, -1;
        n = lgetxattr(of, ACL, list, (size_t)n);
    }
    int rc = n >= 0 ? fsetxattr(fd, ACL, list, (size_t)n, 0)
             : errno == ENODATA || errno == ENOTSUP || (errno == ENOENT && at >= 0) ? 0
                                                                                    : -1;
    if (list != small) free(list);
    return rc;
}
#else
static int keep_acl(int, int, const char *) { return 0; }
#endif

/* An owner only root may give stays the process's (EPERM), and then the
 * group alone is kept where it may be; a group that cannot be kept gets
 * no rights, so that nobody gains any.  A replaced link or other non-file
 * gives nothing. */
int plat_sys_mode_like(plat_file *out, int at, const char *name, const plat_name *known)
{
    struct stat st;
    if (known && known->mode) {
        st.st_mode = (mode_t)known->mode;
        st.st_uid = (uid_t)known->uid;
        st.st_gid = (gid_t)known->gid;
    } else if (fstatat(at < 0 ? AT_FDCWD : at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return -1;
    }
    if (!S_ISREG(st.st_mode)) return 1;
    mode_t mode = st.st_mode & 07777;
    int fd = posix_fd(out);
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        if (errno != EPERM) return -1;
        if (fchown(fd, (uid_t)-1, st.st_gid) != 0 && errno != EPERM) return -1;
        struct stat now;
        if (fstat(fd, &now) != 0) return -1;
        if (now.st_gid != st.st_gid) /* nor the list, whose group entry would give that group rights */
            return fchmod(fd, mode & ~(mode_t)(S_IRWXG | S_ISGID));
    }
    return fchmod(fd, mode) == 0 && keep_acl(fd, at, name) == 0 ? 0 : -1;
}

int plat_sys_dir_mode_from(const char *dir, const char *source)
{
    struct stat st;
    if (stat(source, &st) != 0) return -1; /* the owner keeps writing: the backup fills it next */
    return chmod(dir, (st.st_mode & 0777 & ~current_umask()) | S_IRWXU);
}

/* ---- one installer per folder ---- */

static char lock_native[PLAT_NATIVE_MAX];
static volatile sig_atomic_t lock_held;

static void unlock_at_exit()
{
    if (lock_held) sys().remove(lock_native); /* still locked: nobody else can own that name */
    lock_held = 0;
}

/* The lock file, opened without following a link and without waiting, and
 * only when it is a regular file: its descriptor, or -1. */
int plat_sys_open_lock(const char *native, struct stat *held)
{
    int fd = open(native, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    if (fstat(fd, held) == 0 && S_ISREG(held->st_mode)) return fd;
    close(fd);
    return -1;
}
int plat_sys_close(int fd) { return close(fd); }

/* Locks the file at lock_native; 1, 0 (held elsewhere) or -1.  The name
 * must still name the locked file afterwards: an earlier holder may have
 * removed it between our open and our lock. */
static int lock_once(int *fd_out)
{
    struct stat held, named;
    int fd = sys().open_lock(lock_native, &held);
    if (fd < 0) return -1;
    if (sys().flock(fd) != 0) {
        int busy = errno == EWOULDBLOCK;
        sys().close(fd);
        return busy ? 0 : -1;
    }
    if (sys().lstat(lock_native, &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        sys().close(fd);
        return 2; /* removed under us: try again */
    }
    *fd_out = fd;
    return 1;
}

int plat_lock_folder(const char *name)
{
    if (!name || !plat_native_path(name, lock_native, sizeof lock_native)) return -1;
    int fd = -1, r = 2;
    for (int tries = 0; r == 2 && tries < 10; tries++) r = lock_once(&fd);
    if (r != 1) return r == 2 ? -1 : r;
    lock_held = 1; /* fd stays open: the lock lasts as long as the process */
    atexit(unlock_at_exit);
    return 1;
}

/* ---- interruption ---- */

void plat_sys_unlink_now(const char *native) { unlink(native); }

static void (*interrupt_words)();

void plat_sys_interrupted()
{
    plat_remove_temps_now();
    if (interrupt_words) interrupt_words();
    if (lock_held) unlink(lock_native);
    _exit(PLAT_INTERRUPTED_STATUS);
}

static void on_signal(int)
{
    if (!plat_interrupt_must_wait()) plat_sys_interrupted();
}

void plat_on_interrupt(void (*last_words)())
{
    interrupt_words = last_words;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigfillset(&sa.sa_mask); /* one handler at a time, never nested */
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int sig : signals) sigaction(sig, &sa, nullptr);
}

void plat_sys_write_close(FILE *f, const char *text, size_t len)
{
    int fd = fileno(f);
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n <= 0) break;
        text += n;
        len -= (size_t)n;
    }
    close(fd);
}

#endif
