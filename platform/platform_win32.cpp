/* Win32 implementation of the platform layer.
 *
 * Installer paths are native here: no mapping, and the file system is
 * case-blind by itself.  The computer's name comes from the registry, the
 * listing from FindFirstFileA with the real attribute bits (a link or
 * junction carries the reparse-point bit, so the walk never follows it),
 * and a replacing rename is MoveFileExA with MOVEFILE_REPLACE_EXISTING.
 * Windows error codes are turned into errno values in one place.
 */
#ifdef _WIN32

#include "platform/platform.h"

#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

/* The one translation of Windows error codes into the errno vocabulary. */
static int errno_from_win32(DWORD code)
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

int plat_native_path(const char *path, char *buf, int size)
{
    errno = ENAMETOOLONG;
    if (!path || !buf || size < 2) return 0;
    size_t n = strlen(path);
    if (n + 1 > (size_t)size) return 0;
    memcpy(buf, path, n + 1);
    if (n == 0) {
        buf[0] = '.';
        buf[1] = '\0';
    }
    return 1;
}

/* Full path of an existing directory, without a trailing backslash. */
static int full_dir(const char *path, char *out, DWORD size)
{
    DWORD n = GetFullPathNameA(path, size, out, nullptr);
    if (n == 0 || n >= size) return 0;
    DWORD attr = GetFileAttributesA(out);
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    while (n > 3 && out[n - 1] == '\\') out[--n] = '\0'; /* "C:\" keeps its backslash */
    return 1;
}

int plat_dir_contains(const char *outer, const char *inner)
{
    char fo[MAX_PATH * 4], fi[MAX_PATH * 4];
    if (!outer || !inner || !full_dir(outer, fo, sizeof fo) || !full_dir(inner, fi, sizeof fi)) return 0;
    size_t lo = strlen(fo);
    if (_strnicmp(fo, fi, lo) != 0) return 0;
    return fi[lo] == '\0' || fi[lo] == '\\' || fo[lo - 1] == '\\';
}

int plat_path_kind(const char *path)
{
    DWORD attr = path ? GetFileAttributesA(path[0] ? path : ".") : INVALID_FILE_ATTRIBUTES;
    if (attr == INVALID_FILE_ATTRIBUTES) return PLAT_KIND_NONE;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return PLAT_KIND_OTHER; /* links and junctions */
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? PLAT_KIND_DIR : PLAT_KIND_FILE;
}

int plat_native_equal(const char *a, const char *b) { return a && b && _stricmp(a, b) == 0; }

int plat_path_ambiguous(const char *) { return 0; }  /* the file system is case-blind itself */

int plat_is_link(const char *path)
{
    DWORD attr = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* Making links needs privileges a console installer seldom has. */
int plat_copy_link(const char *, const char *)
{
    errno = ENOSYS;
    return -1;
}

/* ---- the real system calls ---- */

/* fopen with an exclusive-create "x" flag, which the C runtime lacks. */
static FILE *open_exclusive(const char *native, const char *mode)
{
    char plain[16];
    size_t k = 0;
    for (const char *m = mode; *m && k < sizeof plain - 1; m++)
        if (*m != 'x') plain[k++] = *m;
    plain[k] = '\0';
    int flags = _O_CREAT | _O_EXCL | (strchr(plain, 'b') ? _O_BINARY : _O_TEXT);
    flags |= strchr(plain, '+') ? _O_RDWR : _O_WRONLY;
    if (plain[0] == 'a') flags |= _O_APPEND;
    int fd = _open(native, flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    FILE *f = _fdopen(fd, plain);
    if (!f) _close(fd);
    return f;
}

FILE *plat_sys_fopen(const char *native, const char *mode)
{
    if (strchr(mode, 'x')) return open_exclusive(native, mode);
    FILE *f = fopen(native, mode);
    /* a device name ("con", "nul.ini") would make a read wait on the
     * console or read nothing: only files on disk are read */
    if (f && mode[0] == 'r' && GetFileType((HANDLE)_get_osfhandle(_fileno(f))) != FILE_TYPE_DISK) {
        fclose(f);
        errno = EINVAL;
        return nullptr;
    }
    return f;
}

/* A removal that reports success must have removed: a file that is still
 * there afterwards (a delete that the system could not carry out when the
 * last handle closed, as on a read-only mount under Wine) is an error. */
int plat_sys_remove(const char *native)
{
    if (remove(native) != 0) return -1;
    if (GetFileAttributesA(native) == INVALID_FILE_ATTRIBUTES) return 0;  /* gone, or going */
    errno = EACCES;
    return -1;
}

int plat_sys_rename(const char *from, const char *to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
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
        DWORD attr = GetFileAttributesA(part);
        if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    }
    return 0;
}

int plat_sys_mkdir(const char *native)
{
    if (_mkdir(native) == 0) return 0;
    if (errno == ENOENT && parent_is_file(native)) errno = ENOTDIR; /* as POSIX names it */
    return -1;
}
int plat_sys_rmdir(const char *native) { return _rmdir(native); }

/* ---- directory listing ---- */

struct plat_find {
    HANDLE handle;
};

static int fill_entry(const WIN32_FIND_DATAA *d, plat_find_entry *entry)
{
    size_t n = strlen(d->cFileName);
    if (n >= PLAT_NAME_MAX || strchr(d->cFileName, '\\')) return 0;
    memcpy(entry->name, d->cFileName, n + 1);
    entry->attrib = (unsigned)d->dwFileAttributes;
    return 1;
}

int plat_find_next(plat_find *f, plat_find_entry *entry)
{
    WIN32_FIND_DATAA d;
    if (!f || !entry) return 0;
    while (FindNextFileA(f->handle, &d))
        if (fill_entry(&d, entry)) return 1;
    errno = errno_from_win32(GetLastError());
    return 0;
}

plat_find *plat_find_first(const char *pattern, plat_find_entry *entry)
{
    WIN32_FIND_DATAA d;
    if (!pattern || !entry) {
        errno = EINVAL;
        return nullptr;
    }
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return nullptr;
    }
    plat_find *f = (plat_find *)calloc(1, sizeof *f);
    if (!f) {
        FindClose(h);
        errno = ENOMEM;
        return nullptr;
    }
    f->handle = h;
    if (fill_entry(&d, entry) || plat_find_next(f, entry)) return f;
    plat_find_close(f);
    errno = ENOENT;
    return nullptr;
}

void plat_find_close(plat_find *f)
{
    if (!f) return;
    FindClose(f->handle);
    free(f);
}

/* ---- console ---- */

void plat_progress()
{
    if (_isatty(_fileno(stdout))) fflush(stdout);
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
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                      &key) != ERROR_SUCCESS)
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

const char *plat_setup_problem() { return nullptr; }  /* paths are used as typed */

int plat_mktemp(char *templ) { return templ && _mktemp(templ) ? 1 : 0; }

int plat_program_path(const char *argv0, char *buf, int size)
{
    if (!argv0 || !buf || size < 1) return 0;
    size_t n = strlen(argv0);
    if (n + 1 > (size_t)size) return 0;
    memcpy(buf, argv0, n + 1);
    return 1;
}

#endif
