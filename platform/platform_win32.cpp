/* Win32 implementation of the platform layer.
 *
 * Installer paths are native here: only "/" becomes "\" before any call,
 * and the file system is case-blind by itself.  The computer's name comes from the registry, the
 * listing from FindFirstFileW with the real attribute bits (a link or
 * junction carries the reparse-point bit, so the walk never follows it),
 * and a replacing rename is MoveFileExA with MOVEFILE_REPLACE_EXISTING.
 * Windows error codes are turned into errno values in one place.  What a
 * path really is (canonical forms, identities, roots) is in win32_paths.cpp.
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
    return mode[0] == 'r' ? fopen(native, mode) : open_for_writing(native, mode);
}

int plat_sys_remove(const char *native) { return remove(native); }

int plat_sys_rename(const char *from, const char *to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* No unnamed files here: a new file is written under a temporary name. */
FILE *plat_sys_open_unnamed(const char *)
{
    errno = ENOSYS;
    return nullptr;
}
int plat_sys_link_unnamed(FILE *, const char *)
{
    errno = ENOSYS;
    return -1;
}

int plat_sys_link(const char *from, const char *to)
{
    if (CreateHardLinkA(to, from, nullptr)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

int plat_sys_move_new(const char *from, const char *to)
{
    if (MoveFileExA(from, to, 0)) return 0; /* without MOVEFILE_REPLACE_EXISTING: never over a file */
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* Permission bits are POSIX's: a replacement's attributes are taken over
 * by plat_replace_named instead. */
int plat_sys_mode_from(FILE *, FILE *) { return 0; }
int plat_sys_mode_like(FILE *, const char *) { return 0; }
int plat_sys_dir_mode_from(const char *, const char *) { return 0; }

int plat_sys_mkdir(const char *native) { return _mkdir(native); }
int plat_sys_rmdir(const char *native) { return _rmdir(native); }

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

/* Keeps an opened stream only when it is a regular file on disk; a file
 * opened to be written ("w") is truncated only then.  Null (errno set)
 * otherwise, the stream closed. */
static FILE *only_regular(FILE *f, const char *mode)
{
    if (!f) return nullptr;
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
    int truncate = mode[0] == 'w' && !strchr(mode, 'x');
    if (regular_handle(h) && (!truncate || SetEndOfFile(h))) return f;
    int err = errno ? errno : errno_from_win32(GetLastError());
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
int plat_sys_may_write(const char *native)
{
    FILE *f = plat_sys_fopen(native, "ab");
    if (!f) return -1;
    fclose(f);
    return 0;
}

FILE *plat_open_source(const char *path, long long *size) { return plat_measured(plat_fopen(path, "rb"), size); }

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

int plat_rename(const char *from, const char *to)
{
    char nfrom[PLAT_NATIVE_MAX], nto[PLAT_NATIVE_MAX];
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(from, nfrom, sizeof nfrom) || !plat_native_path(to, nto, sizeof nto)) return -1;
    return rename_onto(nfrom, nto);
}

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
    if (CopyFileA(native, kept, TRUE)) return 0; /* TRUE: a taken name fails */
    errno = errno_from_win32(GetLastError());
    return -1;
}

int plat_rename_new(const char *from, const char *to)
{
    char nfrom[PLAT_NATIVE_MAX], nto[PLAT_NATIVE_MAX];
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(from, nfrom, sizeof nfrom) || !plat_native_path(to, nto, sizeof nto)) return -1;
    return plat_move_new_tracked(nfrom, nto);
}

/* ---- one name, looked up once ---- */

int plat_look_up(const char *path, plat_name *n)
{
    errno = 0;
    n->kind = win32_kind_native(path, n->native, sizeof n->native);
    n->error = n->native[0] ? 0 : errno ? errno : ENAMETOOLONG;
    return n->kind;
}

FILE *plat_create_named(const plat_name *n)
{
    if (!n->native[0]) {
        errno = n->error ? n->error : ENAMETOOLONG;
        return nullptr;
    }
    if (n->kind != PLAT_KIND_NONE) {
        errno = EEXIST;
        return nullptr;
    }
    errno = 0;
    return only_regular(plat_open_tracked(n->native, "wbx"), "wbx");
}

FILE *plat_create_temp(const plat_name *beside, const char *name, plat_name *temp)
{
    const char *cut = strrchr(beside->native, '\\');
    size_t dir = cut ? (size_t)(cut - beside->native) + 1 : 0;
    int len = snprintf(temp->native, sizeof temp->native, "%.*s%s", (int)dir, beside->native, name);
    if (!beside->native[0] || len < 0 || len >= (int)sizeof temp->native) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    temp->kind = PLAT_KIND_NONE;
    temp->error = 0;
    FILE *f = plat_create_named(temp);
    if (f) temp->kind = PLAT_KIND_FILE;
    return f;
}

/* The attributes a replacement keeps: hidden, system, not indexed; it is
 * new content, so it is marked for archiving too. */
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int plat_replace_named(const plat_name *from, const plat_name *to)
{
    DWORD attr = sys().attributes(to->native);
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & KEPT_ATTRIBUTES))
        SetFileAttributesA(from->native, (attr & KEPT_ATTRIBUTES) | FILE_ATTRIBUTE_ARCHIVE);
    return rename_onto(from->native, to->native);
}

int plat_remove_named(const plat_name *n) { return n->native[0] ? remove_checked(n->native) : 0; }

/* No unnamed files here: the caller's temporary file stands in. */
FILE *plat_create_hidden(const plat_name *target, plat_name *)
{
    errno = target->native[0] ? ENOSYS : target->error ? target->error : ENAMETOOLONG;
    return nullptr;
}

int plat_publish_named(FILE *out, const plat_name *temp, const plat_name *target)
{
    if (plat_fclose(out) != 0) return -1;
    return plat_move_new_tracked(temp->native, target->native);
}

int plat_link(const char *from, const char *to)
{
    char nfrom[PLAT_NATIVE_MAX], nto[PLAT_NATIVE_MAX];
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(from, nfrom, sizeof nfrom) || !plat_native_path(to, nto, sizeof nto)) return -1;
    return plat_syscall_table()->link(nfrom, nto);
}

int plat_dir_mode_from(const char *, const char *) { return 0; }

/* Made to be deleted when closed: the system removes it however the
 * process ends. */
int plat_probe_create(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (!path || !plat_native_path(path, native, sizeof native)) return 0;
    HANDLE h = CreateFileA(native, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return 0;
    }
    CloseHandle(h);
    return 1;
}

/* ---- durability ---- */

static HANDLE handle_of(FILE *f) { return (HANDLE)_get_osfhandle(_fileno(f)); }

int plat_sys_fsync(FILE *f)
{
    if (fflush(f) != 0) return -1;
    if (FlushFileBuffers(handle_of(f))) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* Flushes what was written to the file or folder at native. */
static int flush_path(const char *native, DWORD flags)
{
    HANDLE h = CreateFileA(native, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) {
        errno = errno_from_win32(GetLastError());
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return -1;
    }
    CloseHandle(h);
    return 0;
}

int plat_sys_sync_dir(const char *native)
{
    char dir[MAX_PATH * 4];
    size_t n = strlen(native);
    if (n >= sizeof dir) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(dir, native, n + 1);
    while (n > 0 && dir[n - 1] != '\\' && dir[n - 1] != '/' && dir[n - 1] != ':') dir[--n] = '\0';
    if (n == 0) memcpy(dir, ".\\", 3);
    return flush_path(dir, FILE_FLAG_BACKUP_SEMANTICS);
}

/* A volume can be flushed only by an administrator: here "the file system
 * holding native" is flushed file by file, native being the file. */
int plat_sys_sync_fs(const char *native) { return flush_path(native, FILE_ATTRIBUTE_NORMAL); }

long long plat_sys_fsize(FILE *f)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_of(f), &size)) return -1;
    return (long long)size.QuadPart;
}

/* No kernel copy between two open files here: the copy goes in large
 * blocks. */
long long plat_sys_copy_range(FILE *, FILE *, size_t)
{
    errno = ENOSYS;
    return -1;
}

long long plat_sys_send_file(FILE *, FILE *, size_t)
{
    errno = ENOSYS;
    return -1;
}

static int sync_failed, sync_errno;

void plat_sync_later(const char *path)
{
    if (path && plat_syscall_table()->sync_fs(path) != 0) {
        sync_failed = 1;
        sync_errno = errno;
    }
}

int plat_sync_now()
{
    int ok = !sync_failed;
    errno = sync_errno;
    sync_failed = sync_errno = 0;
    return ok;
}

/* ---- one installer per folder ---- */

int plat_lock_folder(const char *name)
{
    /* no sharing: a second open fails while this handle lives; the system
     * closes it, and so removes the file, however the process ends */
    HANDLE h = name ? CreateFileA(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                    : INVALID_HANDLE_VALUE;
    if (h != INVALID_HANDLE_VALUE) return 1;
    DWORD e = name ? GetLastError() : ERROR_INVALID_NAME;
    return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ? 0 : -1; /* else: no file can be made */
}

/* ---- interruption ---- */

void plat_sys_unlink_now(const char *native) { DeleteFileA(native); }

static void (*interrupt_words)();
static HANDLE main_thread;

void plat_sys_interrupted()
{
    plat_remove_temps_now();
    if (interrupt_words) interrupt_words();
    TerminateProcess(GetCurrentProcess(), PLAT_INTERRUPTED_STATUS);
}

/* Runs on a thread of its own: the main thread is stopped first, so that
 * nothing it does races the clean-up.  While it creates a temporary file it
 * goes on, and ends the process itself once the file is known. */
static BOOL WINAPI on_console_event(DWORD)
{
    if (main_thread) SuspendThread(main_thread);
    if (plat_interrupt_must_wait()) {
        if (main_thread) ResumeThread(main_thread);
        return TRUE;
    }
    plat_sys_interrupted();
    return TRUE;
}

void plat_on_interrupt(void (*last_words)())
{
    interrupt_words = last_words;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void plat_std_streams_ready()
{
    FILE *streams[] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; fd++)
        if (_get_osfhandle(fd) == -1) /* closed: the null device keeps the number */
            freopen("NUL", fd == 0 ? "r" : "w", streams[fd]);
}

/* Writes text with CRLF line ends, as the text-mode log has them. */
void plat_write_close_raw(FILE *f, const char *text, size_t len)
{
    if (!f) return;
    HANDLE h = handle_of(f);
    char buf[2048];
    size_t n = 0;
    for (size_t i = 0; i < len && n + 2 < sizeof buf; i++) {
        if (text[i] == '\n') buf[n++] = '\r';
        buf[n++] = text[i];
    }
    DWORD done;
    SetFilePointer(h, 0, nullptr, FILE_END);
    WriteFile(h, buf, (DWORD)n, &done, nullptr);
    CloseHandle(h);
}

/* ---- console ---- */

void plat_progress()
{
    if (_isatty(_fileno(stdout))) plat_flush();
}

void plat_discard_typeahead()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode)) FlushConsoleInputBuffer(in);
}

/* ---- process and machine ---- */

int plat_computer_name(char *buf, int size)
{
    HKEY key;
    DWORD type = 0, len = (DWORD)size;
    if (!buf || size < 1) return 0;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", &key) !=
        ERROR_SUCCESS)
        return 0;
    LONG r = RegQueryValueExA(key, "ComputerName", nullptr, &type, (BYTE *)buf, &len);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ || len == 0) return 0;
    if (buf[len - 1] != '\0') {
        if (len >= (DWORD)size) return 0; /* no room for the terminator */
        buf[len] = '\0';
    }
    return buf[0] != '\0'; /* an empty name is no name */
}

long plat_process_id() { return (long)GetCurrentProcessId(); }

const char *plat_setup_problem() { return nullptr; } /* paths are used as typed */

int plat_mktemp(char *templ) { return templ && _mktemp(templ) ? 1 : 0; }

/* The volume and file index of an existing folder named wide; 0 when the
 * system gives none. */
static int folder_information(const WCHAR *folder, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE h = CreateFileW(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr); /* the flag lets a folder open */
    if (h == INVALID_HANDLE_VALUE) return 0;
    BOOL ok = GetFileInformationByHandle(h, info);
    CloseHandle(h);
    return ok && (info->nFileIndexHigh != 0 || info->nFileIndexLow != 0);
}

/* 1 when the folder (wide, with its trailing backslash) is the current
 * directory: by volume and file index, else by name.  Asked wide, so that
 * a name the ANSI code page cannot hold is compared as it is. */
static int is_current_folder(const WCHAR *folder)
{
    WCHAR cwd[WIN_PATH_MAX];
    DWORD n = sys().current_dir(WIN_PATH_MAX, cwd);
    if (n == 0 || n >= WIN_PATH_MAX - 1) return 0;
    if (cwd[n - 1] != L'\\') { /* fits: checked above */
        cwd[n] = L'\\';
        cwd[n + 1] = L'\0';
    }
    BY_HANDLE_FILE_INFORMATION a, b;
    if (folder_information(folder, &a) && folder_information(cwd, &b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
    return _wcsicmp(folder, cwd) == 0;
}

/* The ANSI form of a wide path; a character the code page lacks becomes
 * "?", which names nothing, never a best fit (which could be a separator). */
static int ansi_path(const WCHAR *w, char *out, int size)
{
    DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    return WideCharToMultiByte(CP_ACP, flags, w, -1, out, size, nullptr, nullptr) > 0;
}

/* Where the program really is, whatever its command line says: a relative
 * path with "/", or a bare name found on PATH, names some other folder.
 * From the current directory it is ".\name", as on POSIX, whatever the
 * code page can spell of that directory's name. */
int plat_program_path(const char *argv0, char *buf, int size)
{
    WCHAR exe[WIN_PATH_MAX];
    if (!buf || size < 4) return 0;
    DWORD n = GetModuleFileNameW(nullptr, exe, WIN_PATH_MAX);
    if (n == 0) return argv0 && plat_native_path(argv0, buf, size); /* the system could not tell */
    WCHAR *cut = wcsrchr(exe, L'\\');
    if (n >= WIN_PATH_MAX || !cut) return 0; /* a cut path would name another folder */
    WCHAR name = cut[1];
    cut[1] = L'\0';
    int here = is_current_folder(exe);
    cut[1] = name;
    if (!here) return ansi_path(exe, buf, size);
    memcpy(buf, ".\\", 3);
    return ansi_path(cut + 1, buf + 2, size - 2);
}

#endif
