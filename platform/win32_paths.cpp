/* Paths in the Win32 platform layer: what a path really is (its canonical
 * long form, the volume and file index behind it, drive roots under any
 * letter) and what kind of entry it names.
 *
 * Not here: names the system reserves, text from UTF-8, links and folder
 * listings (win32_names.cpp), nor the calls made on a path
 * (platform_win32.cpp).
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

/* "\\?\C:\x", "\\.\C:\x" and "\??\C:\x" name "C:\x", "\\?\UNC\srv\x" (or
 * "\??\UNC\srv\x") names "\\srv\x"; the bare device "\\.\C:" is the whole
 * volume.  Other device paths stay, "\??\" written "\\?\", which the path
 * functions leave alone instead of taking it for a folder named "??". */
static int strip_device_prefix(const char *native, char *out, size_t size)
{
    const char *rest = native;
    char root[4];
    if (win32_device_prefix(native)) {
        rest = native + 4;
        if (isalpha((unsigned char)rest[0]) && rest[1] == ':' && rest[2] == '\0') {
            snprintf(root, sizeof root, "%c:\\", rest[0]);
            rest = root;
        } else if (_strnicmp(rest, "UNC\\", 4) == 0) {
            return snprintf(out, size, "\\\\%s", rest + 4) < (int)size;
        } else if (!(isalpha((unsigned char)rest[0]) && rest[1] == ':')) {
            if (native[1] == '?') return snprintf(out, size, "\\\\?\\%s", rest) < (int)size;
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
        DWORD m = sys().long_path(full, lng, sizeof lng);
        full[keep] = saved;
        if (m == 0 || m >= sizeof lng) continue;
        if (m + (n - keep) + 1 > size) return 0;
        memmove(full + m, full + keep, n - keep + 1);
        memcpy(full, lng, m);
        return 1;
    }
    return 1; /* nothing of it exists: the full path is all there is */
}

/* A name the system would read as another stays as it is, with all that
 * follows it: only the folders before it are resolved, so that "x." is
 * never taken for "x". */
int plat_canonical_path(const char *path, char *buf, int size)
{
    char native[WIN_PATH_MAX], plain[WIN_PATH_MAX], rest[WIN_PATH_MAX] = "";
    if (!buf || size < 4 || !plat_native_path(path, native, sizeof native) ||
        !strip_device_prefix(native, plain, sizeof plain))
        return 0;
    char *odd = win32_device_prefix(plain) ? nullptr : (char *)win32_first_odd(plain);
    if (odd) {
        memcpy(rest, odd, strlen(odd) + 1);
        if (odd == plain || odd[-1] == ':')
            memcpy(odd, ".\\", 3); /* this folder, or the drive's own */
        else
            *odd = '\0';
    }
    DWORD n = sys().full_path(plain, buf, (DWORD)size); /* "C:x": the drive's own current folder */
    if (n == 0 || n >= (DWORD)size || !long_form(buf, (DWORD)size)) return 0;
    n = (DWORD)strlen(buf);
    if (rest[0] && n > 0 && buf[n - 1] != '\\' && n + 1 < (DWORD)size) buf[n++] = '\\', buf[n] = '\0';
    if (rest[0] && snprintf(buf + n, (size_t)size - n, "%s", rest) >= (int)(size - n)) return 0;
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

/* The volume serial number and file index of a file or folder: 1, 0 when
 * nothing is there, -1 with errno when what is there cannot be told.  Asked
 * wide, so that a name the ANSI code page cannot hold is asked as it is. */
int plat_sys_identity(const wchar_t *native, unsigned long id[3])
{
    HANDLE h = CreateFileW(native, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr); /* the flag lets a folder open */
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    DWORD e = ok ? 0 : GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME || e == ERROR_INVALID_DRIVE)
        return 0;
    if (!ok) {
        errno = errno_from_win32(e);
        return -1;
    }
    if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return 0; /* no index: only names can tell */
    id[0] = info.dwVolumeSerialNumber;
    id[1] = info.nFileIndexHigh;
    id[2] = info.nFileIndexLow;
    return 1;
}

/* The table's identity (volume serial number, file index) of an ANSI path,
 * read as the ANSI calls read it. */
static int identity(const char *path, unsigned long id[3])
{
    WCHAR wide[WIN_PATH_MAX];
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(path, buf, sizeof buf);
    if (!whole || MultiByteToWideChar(CP_ACP, 0, whole, -1, wide, WIN_PATH_MAX) == 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return sys().identity(wide, id);
}

static int same_identity(const unsigned long *a, const unsigned long *b) { return memcmp(a, b, 3 * sizeof *a) == 0; }

/* Both canonical forms, or 0 with errno. */
static int canonical_pair(const char *a, char *ca, const char *b, char *cb)
{
    errno = 0;
    return plat_canonical_path(a, ca, WIN_PATH_MAX) && plat_canonical_path(b, cb, WIN_PATH_MAX);
}

/* The name the system itself gives an existing entry, normalized, with its
 * drive letter: its length, or 0 (also where the system lacks the call). */
unsigned long plat_sys_final_path(const char *native, char *buf, unsigned long size)
{
    win32_final_fn fn = win32_final_call();
    if (!fn) return 0;
    char wb[WIN_PATH_MAX];
    const char *whole = win32_whole(native, wb, sizeof wb);
    HANDLE h = whole ? win32_open_entry(whole, 0) : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return 0;
    DWORD n = fn(h, buf, size, 0);
    CloseHandle(h);
    return n;
}

/* The name the system itself gives an existing folder, without "\\?\":
 * subst and network letters resolved, and under the emulator one letter for
 * a place whatever letter opened it, even one it does not list as a drive. */
static int final_path(const char *path, char *out, size_t size)
{
    char buf[WIN_PATH_MAX];
    DWORD n = sys().final_path(path, buf, sizeof buf);
    return n > 0 && n < sizeof buf && strip_device_prefix(buf, out, size);
}

/* 1 when the folder is the root of some drive under another letter (subst,
 * a network drive, a link in the emulator's drive table). */
static int is_some_drive_root(const unsigned long id[3])
{
    DWORD drives = GetLogicalDrives();
    for (int d = 0; d < 26; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', '\0'};
        if (!(drives & (1u << d))) continue;
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM || type == DRIVE_NO_ROOT_DIR)
            continue; /* may ask for a disk */
        unsigned long r[3];
        if (identity(root, r) > 0 && same_identity(id, r)) return 1;
    }
    return 0;
}

int plat_is_root(const char *path)
{
    char c[WIN_PATH_MAX];
    unsigned long id[3];
    char f[WIN_PATH_MAX];
    errno = 0;
    if (!plat_canonical_path(path, c, sizeof c)) return PLAT_UNKNOWN;
    if (names_a_root(c) || (final_path(c, f, sizeof f) && names_a_root(f))) return PLAT_YES;
    int k = identity(c, id);
    if (k <= 0) return k < 0 ? PLAT_UNKNOWN : PLAT_NO;
    return is_some_drive_root(id) ? PLAT_YES : PLAT_NO;
}

int plat_same_dir(const char *a, const char *b)
{
    char ca[WIN_PATH_MAX], cb[WIN_PATH_MAX];
    unsigned long ia[3], ib[3];
    if (!canonical_pair(a, ca, b, cb)) return PLAT_UNKNOWN;
    if (_stricmp(ca, cb) == 0) return PLAT_YES;
    int ka = identity(ca, ia), kb = ka < 0 ? ka : identity(cb, ib);
    if (ka < 0 || kb < 0) return PLAT_UNKNOWN;
    return ka && kb && same_identity(ia, ib) ? PLAT_YES : PLAT_NO;
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
    unsigned long io[3], ii[3];
    if (!canonical_pair(outer, co, inner, ci)) return PLAT_UNKNOWN;
    size_t lo = strlen(co);
    if (_strnicmp(co, ci, lo) == 0 && (ci[lo] == '\0' || ci[lo] == '\\' || co[lo - 1] == '\\')) return PLAT_YES;
    int k = identity(co, io);
    if (k <= 0) return k < 0 ? PLAT_UNKNOWN : PLAT_NO; /* a folder not there holds nothing by identity */
    /* the same folder by another name (a short name left where the path
     * does not exist, another drive letter): inner or an ancestor is outer */
    do {
        if ((k = identity(ci, ii)) < 0) return PLAT_UNKNOWN;
        if (k && same_identity(io, ii)) return PLAT_YES;
    } while (parent_of(ci));
    return PLAT_NO;
}

int plat_path_kind(const char *path)
{
    char native[WIN_PATH_MAX];
    return win32_kind_native(path, native, sizeof native);
}

/* Canonical forms and identities work on files as on folders. */
int plat_native_same_file(const char *native, const char *path)
{
    return native && plat_same_dir(native, path) == PLAT_YES;
}
int plat_same_native_files(const char *a, const char *b) { return a && b && plat_same_dir(a, b) == PLAT_YES; }

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
    return plat_native_kind(native);
}

int plat_name_kind(plat_name *n) { return plat_native_kind(n->native); }

int plat_native_kind(const char *native)
{
    DWORD attr = sys().attributes(native);
    if (attr == INVALID_FILE_ATTRIBUTES) return PLAT_KIND_NONE;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return PLAT_KIND_OTHER; /* links and junctions */
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? PLAT_KIND_DIR : PLAT_KIND_FILE;
}

int plat_canonical_child(const char *canonical_folder, const char *path, const char *known, char *buf, int size)
{
    char mapped[WIN_PATH_MAX];
    if (!canonical_folder || !buf || size < 4) return 0;
    const char *native = known && known[0] ? known : mapped; /* mapped only when no look-up gave it */
    if (native == mapped && !plat_native_path(path, mapped, sizeof mapped)) return 0;
    const char *cut = strrchr(native, '\\');
    const char *name = cut ? cut + 1 : native;
    if (!*name || strchr(name, ':') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return plat_canonical_path(path, buf, size);
    size_t fl = strlen(canonical_folder);
    const char *sep = fl > 0 && canonical_folder[fl - 1] == '\\' ? "" : "\\";
    int n = snprintf(buf, (size_t)size, "%s%s%s", canonical_folder, sep, name);
    return n > 0 && n < size;
}

#endif
