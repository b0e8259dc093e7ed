/* Win32 implementation of the platform layer.
 *
 * Installer paths are native here: only "/" becomes "\" before any call,
 * and the file system is case-blind by itself.  The computer's name comes from the registry, the
 * listing from FindFirstFileW with the real attribute bits (a link or
 * junction carries the reparse-point bit, so the walk never follows it),
 * and a replacing rename is MoveFileExA with MOVEFILE_REPLACE_EXISTING.
 * Windows error codes are turned into errno values in one place.
 *
 * This file holds the bare calls and the wrappers on files and folders;
 * durability, the folder lock, interruption, the console and the process
 * are in win32_system.cpp, what a path really is (canonical forms,
 * identities, roots) in win32_paths.cpp.
 */
#ifdef _WIN32

#include "platform/platform.h"
#include "platform/win32_internal.h"

#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

/* The one translation of Windows error codes into the errno vocabulary. */
int errno_from_win32(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return EINVAL;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
    }
}

/* ---- paths ---- */

/* Windows takes "/" as a separator too, but the emulator reads a path that
 * starts with one as the host's own: every call gets backslashes only. */
int plat_native_path(const char *path, char *buf, int size)
{
    errno = ENAMETOOLONG;
    if (!path || !buf || size < 2) return 0;
    size_t n = strlen(path);
    if (n + 1 > (size_t)size) return 0;
    for (size_t i = 0; i <= n; i++) buf[i] = path[i] == '/' ? '\\' : path[i];
    if (n == 0) {
        buf[0] = '.';
        buf[1] = '\0';
    }
    return 1;
}

/* ---- the real system calls ---- */

/* A handle is usable only for a regular file on disk: no device ("con",
 * "nul.ini"), pipe, folder or link.  Sets errno when it is not. */
static int regular_handle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        errno = PLAT_ENOTREG;
        return 0;
    }
    if (!GetFileInformationByHandle(h, &info)) {
        errno = errno_from_win32(GetLastError());
        return 0;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        errno = EISDIR;
        return 0;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        errno = ELOOP;
        return 0;
    }
    return 1;
}

/* The bare open for writing or appending, with CreateFileA: "x" creates
 * the file exclusively, a link is opened as itself (never followed), and
 * nothing is truncated here.  A temporary file ("x") may be removed while
 * open, so that an interruption can take it away. */
static FILE *open_for_writing(const char *native, const char *mode)
{
    int plus = strchr(mode, '+') != nullptr, excl = strchr(mode, 'x') != nullptr;
    DWORD access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (excl ? FILE_SHARE_DELETE : 0);
    HANDLE h = CreateFileA(native, access, share, nullptr, excl ? CREATE_NEW : OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return nullptr;
    }
    if (!excl && GetLastError() == ERROR_ALREADY_EXISTS && win32_handle_elsewhere(h, native)) {
        CloseHandle(h); /* never written through a link */
        errno = ELOOP;
        return nullptr;
    }
    int flags = (strchr(mode, 'b') ? _O_BINARY : _O_TEXT) | (mode[0] == 'a' ? _O_APPEND : 0);
    int fd = _open_osfhandle((intptr_t)h, flags);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    char plain[8];
    snprintf(plain, sizeof plain, "%c%s%s", mode[0], plus ? "+" : "", strchr(mode, 'b') ? "b" : "t");
    FILE *f = _fdopen(fd, plain);
    if (!f) _close(fd);
    return f;
}

FILE *plat_sys_fopen(const char *native, const char *mode)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole) return nullptr;
    return mode[0] == 'r' ? fopen(whole, mode) : open_for_writing(whole, mode);
}

/* A file that is reached through a link is not the caller's to change:
 * ELOOP, nothing done.  0 when it may go ahead (nothing there included). */
static int not_through_a_link(const char *whole)
{
    int r = win32_elsewhere(whole);
    if (r > 0) errno = ELOOP;
    return r == 0 ? 0 : -1;
}

/* Removes the file itself, never what a link leads to. */
int plat_sys_remove(const char *native)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole || not_through_a_link(whole) != 0) return -1;
    return remove(whole);
}

/* Replaces a file, never one reached through a link. */
int plat_sys_rename(const char *from, const char *to)
{
    char a[WIN_PATH_MAX], b[WIN_PATH_MAX];
    const char *wf = win32_whole(from, a, sizeof a), *wt = win32_whole(to, b, sizeof b);
    if (!wf || !wt || not_through_a_link(wt) != 0) return -1;
    if (MoveFileExA(wf, wt, MOVEFILE_REPLACE_EXISTING)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* No unnamed files here: a new file is written under a temporary name. */
int plat_sys_open_unnamed(int, const char *, unsigned, plat_file *)
{
    errno = ENOSYS;
    return -1;
}
int plat_sys_link_unnamed(plat_file *, int, const char *)
{
    errno = ENOSYS;
    return -1;
}

int plat_sys_link(const char *from, const char *to)
{
    char a[WIN_PATH_MAX], b[WIN_PATH_MAX];
    const char *wf = win32_whole(from, a, sizeof a), *wt = win32_whole(to, b, sizeof b);
    if (!wf || !wt) return -1;
    if (CreateHardLinkA(wt, wf, nullptr)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* A removal's rename aside never takes a link's target with it. */
int plat_sys_move_new(const char *from, const char *to)
{
    char a[WIN_PATH_MAX], b[WIN_PATH_MAX];
    const char *wf = win32_whole(from, a, sizeof a), *wt = win32_whole(to, b, sizeof b);
    if (!wf || !wt || not_through_a_link(wf) != 0) return -1;
    if (MoveFileExA(wf, wt, 0)) return 0; /* without MOVEFILE_REPLACE_EXISTING: never over a file */
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* Permission bits are POSIX's: a replacement's attributes are taken over
 * by plat_replace_named instead. */
int plat_sys_mode_from(plat_file *, unsigned) { return 0; }
int plat_sys_mode_like(plat_file *, int, const char *, const plat_name *) { return 0; }
int plat_sys_dir_mode_from(const char *, const char *) { return 0; }

int plat_sys_mkdir(const char *native)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    return whole ? _mkdir(whole) : -1;
}
int plat_sys_rmdir(const char *native)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    return whole ? _rmdir(whole) : -1;
}

/* ---- the policy around the calls ---- */

/* A file marked read-only is neither removed nor replaced, whatever the
 * account may do or the emulator would allow. */
static int read_only_file(const char *native)
{
    DWORD attr = sys().attributes(native);
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY) || !(attr & FILE_ATTRIBUTE_READONLY))
        return 0;
    errno = EACCES;
    return 1;
}

/* Whether some folder part of path names an existing file. */
static int parent_is_file(const char *path)
{
    char part[MAX_PATH * 4];
    size_t n = strlen(path);
    if (n >= sizeof part) return 0;
    for (size_t i = 1; i < n; i++) {
        if (path[i] != '\\' && path[i] != '/') continue;
        memcpy(part, path, i);
        part[i] = '\0';
        DWORD attr = sys().attributes(part);
        if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    }
    return 0;
}

/* Whether an opened stream is a regular file on disk; a file opened to be
 * written ("w") is truncated only then.  0, or -1 with errno. */
int plat_sys_settle(FILE *f, const char *mode)
{
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
    int truncate = mode[0] == 'w' && !strchr(mode, 'x');
    if (regular_handle(h) && (!truncate || SetEndOfFile(h))) return 0;
    errno = errno ? errno : errno_from_win32(GetLastError());
    return -1;
}

/* Keeps an opened stream only when the table's settle takes it; null
 * (errno set) otherwise, the stream closed. */
static FILE *only_regular(FILE *f, const char *mode)
{
    if (!f) return nullptr;
    if (sys().settle(f, mode) == 0) return f;
    int err = errno;
    fclose(f);
    errno = err;
    return nullptr;
}

/* ---- files and folders on installer paths ---- */

FILE *plat_fopen(const char *path, const char *mode)
{
    char native[PLAT_NATIVE_MAX];
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    if (!plat_native_path(path, native, sizeof native)) return nullptr; /* errno says why */
    errno = 0;
    return only_regular(plat_open_tracked(native, mode), mode);
}

/* What opening the file to append would say, without keeping it open. */
int plat_sys_may_write(int, const char *native)
{
    FILE *f = plat_sys_fopen(native, "ab");
    if (!f) return -1;
    fclose(f);
    return 0;
}

int plat_may_write_in(const char *) { return 0; } /* a folder's read-only mark is no refusal */

/* A copy's files are streams from the start here. */
int plat_open_source(const char *path, plat_file *in)
{
    *in = plat_file_of(plat_fopen(path, "rb"));
    return in->f && plat_measured(in);
}
int plat_file_close(plat_file *f) { return plat_fclose(f->f); }
FILE *plat_file_stream(plat_file *f, const char *) { return f->f; }

/* Runs one path-taking call on the native form of path. */
static int on_native(const char *path, int (*call)(const char *))
{
    char native[PLAT_NATIVE_MAX];
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(path, native, sizeof native)) return -1; /* errno says why */
    return call(native);
}

/* A removal that reports success must have removed: a file that is still
 * there afterwards (a delete that the system could not carry out when the
 * last handle closed, as on a read-only mount under Wine) is an error. */
static int remove_checked(const char *native)
{
    if (read_only_file(native)) return -1;
    if (plat_remove_tracked(native) != 0) return -1;
    if (sys().attributes(native) == INVALID_FILE_ATTRIBUTES) return 0; /* gone, or going */
    errno = EACCES;
    return -1;
}

/* A parent that is a file is named as POSIX names it. */
static int mkdir_named(const char *native)
{
    if (plat_syscall_table()->mkdir(native) == 0) return 0;
    if (errno == ENOENT && parent_is_file(native)) errno = ENOTDIR;
    return -1;
}

/* A rename over a file marked read-only is refused: it is never replaced. */
static int rename_onto(const char *from, const char *to)
{
    if (read_only_file(to)) return -1;
    return plat_rename_tracked(from, to);
}

int plat_remove(const char *path) { return on_native(path, remove_checked); }
int plat_mkdir(const char *path) { return on_native(path, mkdir_named); }
int plat_rmdir(const char *path) { return on_native(path, plat_syscall_table()->rmdir); }

int plat_rename(const char *from, const char *to) { return plat_on_natives(from, to, rename_onto); }

/* ---- files named on the command line ----
 *
 * Installer paths are used as typed here, so a native path is one. */

FILE *plat_fopen_native(const char *native, const char *mode) { return plat_fopen(native, mode); }
int plat_rename_native(const char *from, const char *to) { return plat_rename(from, to); }
int plat_remove_native(const char *native) { return plat_remove(native); }

/* A copy: links are not there on every volume. */
int plat_keep_native(const char *native, const char *kept)
{
    if (!native || !kept) {
        errno = EINVAL;
        return -1;
    }
    return sys().copy_file(native, kept);
}

int plat_sys_copy_file(const char *from, const char *to)
{
    char a[WIN_PATH_MAX], b[WIN_PATH_MAX];
    const char *wf = win32_whole(from, a, sizeof a), *wt = win32_whole(to, b, sizeof b);
    if (!wf || !wt) return -1;
    if (CopyFileA(wf, wt, TRUE)) return 0; /* TRUE: a taken name fails */
    errno = errno_from_win32(GetLastError());
    return -1;
}

int plat_sys_set_attributes(const char *native, unsigned long attributes)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole) return -1;
    if (SetFileAttributesA(whole, attributes)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}


/* ---- one name, looked up once ---- */

int plat_look_up(const char *path, plat_name *n)
{
    errno = 0;
    n->in = nullptr;
    n->mode = 0;
    n->kind = win32_kind_native(path, n->native, sizeof n->native);
    n->error = n->native[0] ? 0 : errno ? errno : ENAMETOOLONG;
    return n->kind;
}

int plat_create_temp(const plat_name *beside, const char *name, plat_name *temp, plat_file *out)
{
    const char *cut = strrchr(beside->native, '\\');
    size_t dir = cut ? (size_t)(cut - beside->native) + 1 : 0;
    int len = snprintf(temp->native, sizeof temp->native, "%.*s%s", (int)dir, beside->native, name);
    if (!beside->native[0] || len < 0 || len >= (int)sizeof temp->native) {
        errno = ENAMETOOLONG;
        return 0;
    }
    temp->kind = PLAT_KIND_NONE;
    temp->error = 0;
    temp->in = nullptr; /* a temporary name is taken as written */
    errno = 0;
    *out = plat_file_of(only_regular(plat_open_tracked(temp->native, "wbx"), "wbx"));
    if (out->f) temp->kind = PLAT_KIND_FILE;
    return out->f != nullptr;
}

/* The attributes a replacement keeps: hidden, system, not indexed; it is
 * new content, so it is marked for archiving too. */
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int plat_replace_named(const plat_name *from, const plat_name *to)
{
    DWORD attr = sys().attributes(to->native);
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & KEPT_ATTRIBUTES))
        sys().set_attributes(from->native, (attr & KEPT_ATTRIBUTES) | FILE_ATTRIBUTE_ARCHIVE);
    return rename_onto(from->native, to->native);
}

int plat_remove_named(const plat_name *n) { return n->native[0] ? remove_checked(n->native) : 0; }
int plat_rename_new_named(const plat_name *from, const plat_name *to)
{
    return plat_move_new_tracked(from->native, to->native);
}

/* No unnamed files here: the caller's temporary file stands in. */
int plat_create_hidden(const plat_name *target, const plat_file *, plat_name *, plat_file *)
{
    errno = target->native[0] ? ENOSYS : target->error ? target->error : ENAMETOOLONG;
    return 0;
}

int plat_publish_named(plat_file *out, const plat_name *temp, const plat_name *target)
{
    if (plat_file_close(out) != 0 || plat_move_new_tracked(temp->native, target->native) != 0) return -1;
    plat_folder_noted(target);
    return 0;
}

/* The table's row as it stands when called: tests swap it. */
static int link_now(const char *from, const char *to) { return plat_syscall_table()->link(from, to); }

int plat_link(const char *from, const char *to) { return plat_on_natives(from, to, link_now); }

int plat_dir_mode_from(const char *, const char *) { return 0; }

/* Made to be deleted when closed: the system removes it however the
 * process ends. */
int plat_sys_probe_create(const char *native)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole) return -1;
    HANDLE h = CreateFileA(whole, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return -1;
    }
    CloseHandle(h);
    return 0;
}

int plat_probe_create(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (!path || !plat_native_path(path, native, sizeof native)) return 0;
    return sys().probe_create(native) == 0;
}

#endif
