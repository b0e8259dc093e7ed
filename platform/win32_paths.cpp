/* Paths in the Win32 platform layer: what a path really is (its canonical
 * long form, the volume and file index behind it, drive roots under any
 * letter), what kind of entry it names, and folder listings.
 */
#ifdef _WIN32

#include "platform/platform.h"
#include "platform/win32_internal.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

/* ---- what a path really is ---- */

/* "\\?\C:\x" and "\\.\C:\x" name "C:\x", "\\?\UNC\srv\x" names "\\srv\x";
 * the bare device "\\.\C:" is the whole volume.  Other device paths stay. */
static int strip_device_prefix(const char *native, char *out, size_t size)
{
    const char *rest = native;
    char root[4];
    if (native[0] == '\\' && native[1] == '\\' && (native[2] == '?' || native[2] == '.') && native[3] == '\\') {
        rest = native + 4;
        if (isalpha((unsigned char)rest[0]) && rest[1] == ':' && rest[2] == '\0') {
            snprintf(root, sizeof root, "%c:\\", rest[0]);
            rest = root;
        } else if (_strnicmp(rest, "UNC\\", 4) == 0) {
            return snprintf(out, size, "\\\\%s", rest + 4) < (int)size;
        } else if (!(isalpha((unsigned char)rest[0]) && rest[1] == ':')) {
            rest = native;
        }
    }
    return snprintf(out, size, "%s", rest) < (int)size;
}

/* Turns the existing part of a full path into its long names: the longest
 * prefix that GetLongPathNameA accepts, then the rest as it is. */
static int long_form(char *full, DWORD size)
{
    char lng[WIN_PATH_MAX];
    size_t n = strlen(full);
    for (size_t cut = n; cut >= 2; cut--) {
        if (cut < n && full[cut] != '\\') continue;
        size_t keep = (full[1] == ':' && cut <= 3) ? 3 : cut; /* "C:\" keeps its backslash */
        char saved = full[keep];
        full[keep] = '\0';
        DWORD m = GetLongPathNameA(full, lng, sizeof lng);
        full[keep] = saved;
        if (m == 0 || m >= sizeof lng) continue;
        if (m + (n - keep) + 1 > size) return 0;
        memmove(full + m, full + keep, n - keep + 1);
        memcpy(full, lng, m);
        return 1;
    }
    return 1; /* nothing of it exists: the full path is all there is */
}

int plat_canonical_path(const char *path, char *buf, int size)
{
    char native[WIN_PATH_MAX], plain[WIN_PATH_MAX];
    if (!buf || size < 4 || !plat_native_path(path, native, sizeof native) ||
        !strip_device_prefix(native, plain, sizeof plain))
        return 0;
    DWORD n = GetFullPathNameA(plain, (DWORD)size, buf, nullptr); /* "C:x": the drive's own current folder */
    if (n == 0 || n >= (DWORD)size || !long_form(buf, (DWORD)size)) return 0;
    n = (DWORD)strlen(buf);
    while (n > 3 && buf[n - 1] == '\\') buf[--n] = '\0'; /* "C:\" keeps its backslash */
    return 1;
}

/* "C:\", or "\\server\share" with nothing below it. */
static int names_a_root(const char *c)
{
    if (isalpha((unsigned char)c[0]) && c[1] == ':' && c[2] == '\\' && c[3] == '\0') return 1;
    if (c[0] != '\\' || c[1] != '\\') return 0;
    const char *share = strchr(c + 2, '\\');
    return !share || !strchr(share + 1, '\\') || share[strcspn(share + 1, "\\") + 2] == '\0';
}

struct file_identity {
    DWORD volume, high, low;
};

/* An existing file or folder opened for its attributes only. */
static HANDLE open_entry(const char *path)
{
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr); /* the flag lets a folder open */
}

/* The volume serial number and file index of an existing file or folder. */
static int identity(const char *path, file_identity *id)
{
    HANDLE h = open_entry(path);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) return 0; /* no index: unknown */
    id->volume = info.dwVolumeSerialNumber;
    id->high = info.nFileIndexHigh;
    id->low = info.nFileIndexLow;
    return 1;
}

static int same_identity(const file_identity *a, const file_identity *b)
{
    return a->volume == b->volume && a->high == b->high && a->low == b->low;
}

/* The name the system itself gives an existing folder, without "\\?\":
 * subst and network letters resolved, and under the emulator one letter for
 * a place whatever letter opened it, even one it does not list as a drive.
 * Looked up at run time: older systems lack the call. */
static int final_path(const char *path, char *out, size_t size)
{
    typedef DWORD(WINAPI * final_path_fn)(HANDLE, LPSTR, DWORD, DWORD);
    static FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    if (!proc) return 0;
    final_path_fn fn = reinterpret_cast<final_path_fn>(reinterpret_cast<void (*)()>(proc));
    char buf[WIN_PATH_MAX];
    HANDLE h = open_entry(path);
    if (h == INVALID_HANDLE_VALUE) return 0;
    DWORD n = fn(h, buf, sizeof buf, 0); /* normalized, with its drive letter */
    CloseHandle(h);
    return n > 0 && n < sizeof buf && strip_device_prefix(buf, out, size);
}

/* 1 when the folder is the root of some drive under another letter (subst,
 * a network drive, a link in the emulator's drive table). */
static int is_some_drive_root(const file_identity *id)
{
    DWORD drives = GetLogicalDrives();
    for (int d = 0; d < 26; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', '\0'};
        if (!(drives & (1u << d))) continue;
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM || type == DRIVE_NO_ROOT_DIR)
            continue; /* may ask for a disk */
        file_identity r;
        if (identity(root, &r) && same_identity(id, &r)) return 1;
    }
    return 0;
}

int plat_is_root(const char *path)
{
    char c[WIN_PATH_MAX];
    file_identity id;
    char f[WIN_PATH_MAX];
    if (!plat_canonical_path(path, c, sizeof c)) return 0;
    if (names_a_root(c) || (final_path(c, f, sizeof f) && names_a_root(f))) return 1;
    return identity(c, &id) && is_some_drive_root(&id);
}

int plat_same_dir(const char *a, const char *b)
{
    char ca[WIN_PATH_MAX], cb[WIN_PATH_MAX];
    file_identity ia, ib;
    if (!plat_canonical_path(a, ca, sizeof ca) || !plat_canonical_path(b, cb, sizeof cb)) return 0;
    if (_stricmp(ca, cb) == 0) return 1;
    return identity(ca, &ia) && identity(cb, &ib) && same_identity(&ia, &ib);
}

/* Cuts the last name off a canonical path; 0 at a root. */
static int parent_of(char *c)
{
    if (names_a_root(c)) return 0;
    char *slash = strrchr(c, '\\');
    if (!slash) return 0;
    if (slash == c + 2 && c[1] == ':')
        slash[1] = '\0'; /* "C:\x" gives "C:\" */
    else
        *slash = '\0';
    return 1;
}

int plat_dir_contains(const char *outer, const char *inner)
{
    char co[WIN_PATH_MAX], ci[WIN_PATH_MAX];
    file_identity io, ii;
    if (!plat_canonical_path(outer, co, sizeof co) || !plat_canonical_path(inner, ci, sizeof ci)) return 0;
    size_t lo = strlen(co);
    if (_strnicmp(co, ci, lo) == 0 && (ci[lo] == '\0' || ci[lo] == '\\' || co[lo - 1] == '\\')) return 1;
    if (!identity(co, &io)) return 0;
    /* the same folder by another name (a short name left where the path
     * does not exist, another drive letter): inner or an ancestor is outer */
    do
        if (identity(ci, &ii) && same_identity(&io, &ii)) return 1;
    while (parent_of(ci));
    return 0;
}

int plat_path_kind(const char *path)
{
    char native[WIN_PATH_MAX];
    return win32_kind_native(path, native, sizeof native);
}

/* Canonical forms and identities work on files as on folders. */
int plat_native_same_file(const char *native, const char *path) { return native && plat_same_dir(native, path); }
int plat_same_native_files(const char *a, const char *b) { return a && b && plat_same_dir(a, b); }

int plat_names_native(const char *path, const char *native)
{
    char mapped[WIN_PATH_MAX];
    return path && native && plat_native_path(path, mapped, sizeof mapped) && _stricmp(mapped, native) == 0;
}

int win32_kind_native(const char *path, char *native, int size)
{
    if (!path || !plat_native_path(path, native, size)) {
        if (size > 0) native[0] = '\0';
        return PLAT_KIND_NONE;
    }
    DWORD attr = GetFileAttributesA(native);
    if (attr == INVALID_FILE_ATTRIBUTES) return PLAT_KIND_NONE;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return PLAT_KIND_OTHER; /* links and junctions */
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? PLAT_KIND_DIR : PLAT_KIND_FILE;
}

int plat_canonical_child(const char *canonical_folder, const char *path, char *buf, int size)
{
    char native[WIN_PATH_MAX];
    if (!canonical_folder || !buf || size < 4 || !plat_native_path(path, native, sizeof native)) return 0;
    const char *cut = strrchr(native, '\\');
    const char *name = cut ? cut + 1 : native;
    if (!*name || strchr(name, ':') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return plat_canonical_path(path, buf, size);
    size_t fl = strlen(canonical_folder);
    const char *sep = fl > 0 && canonical_folder[fl - 1] == '\\' ? "" : "\\";
    int n = snprintf(buf, (size_t)size, "%s%s%s", canonical_folder, sep, name);
    return n > 0 && n < size;
}

int plat_native_equal(const char *a, const char *b) { return a && b && _stricmp(a, b) == 0; }

int plat_path_ambiguous(const char *) { return 0; } /* the file system is case-blind itself */

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

/* ---- directory listing ---- */

/* The bare listing calls: FindFirstFileA's first entry is kept for the
 * first read. */
struct raw_listing {
    HANDLE handle;
    WIN32_FIND_DATAA first;
    int first_unread;
};

void *plat_sys_dir_open(const char *native_pattern)
{
    raw_listing *l = (raw_listing *)calloc(1, sizeof *l);
    if (!l) {
        errno = ENOMEM;
        return nullptr;
    }
    l->handle = FindFirstFileA(native_pattern, &l->first);
    if (l->handle == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        free(l);
        return nullptr;
    }
    l->first_unread = 1;
    return l;
}

int plat_sys_dir_read(void *dir, plat_find_entry *entry)
{
    raw_listing *l = (raw_listing *)dir;
    WIN32_FIND_DATAA d;
    if (l->first_unread) {
        d = l->first;
        l->first_unread = 0;
    } else if (!FindNextFileA(l->handle, &d)) {
        errno = errno_from_win32(GetLastError());
        return 0;
    }
    snprintf(entry->name, sizeof entry->name, "%s", d.cFileName);
    entry->attrib = (unsigned)d.dwFileAttributes;
    return 1;
}

void plat_sys_dir_close(void *dir)
{
    raw_listing *l = (raw_listing *)dir;
    FindClose(l->handle);
    free(l);
}

struct plat_find {
    void *dir;
};

int plat_find_next(plat_find *f, plat_find_entry *entry)
{
    if (!f || !entry) return 0;
    if (!plat_syscall_table()->dir_read(f->dir, entry)) return 0;
    entry->attrib &= ~PLAT_ATTR_UNNAMED;                               /* the bit is ours, never the system's */
    if (strchr(entry->name, '\\')) entry->attrib |= PLAT_ATTR_UNNAMED; /* no installer path names it */
    return 1;
}

plat_find *plat_find_first(const char *pattern, plat_find_entry *entry)
{
    char native[WIN_PATH_MAX];
    if (!pattern || !entry) {
        errno = EINVAL;
        return nullptr;
    }
    if (!plat_native_path(pattern, native, sizeof native)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    plat_find *f = (plat_find *)calloc(1, sizeof *f);
    if (!f) {
        errno = ENOMEM;
        return nullptr;
    }
    f->dir = plat_syscall_table()->dir_open(native);
    if (f->dir && plat_find_next(f, entry)) return f;
    int err = errno;
    plat_find_close(f);
    errno = err;
    return nullptr;
}

void plat_find_close(plat_find *f)
{
    if (!f) return;
    if (f->dir) plat_syscall_table()->dir_close(f->dir);
    free(f);
}

#endif
