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

/* 1 when native starts with a prefix the system reads as a device path:
 * "\\?\", "\\.\", or "\??\", which the calls pass on unchanged as the
 * system's own name of the same place. */
static int device_prefix(const char *native)
{
    if (native[0] != '\\') return 0;
    int two = (native[1] == '\\' && (native[2] == '?' || native[2] == '.')) || (native[1] == '?' && native[2] == '?');
    return two && native[3] == '\\';
}

/* "\\?\C:\x", "\\.\C:\x" and "\??\C:\x" name "C:\x", "\\?\UNC\srv\x" (or
 * "\??\UNC\srv\x") names "\\srv\x"; the bare device "\\.\C:" is the whole
 * volume.  Other device paths stay, "\??\" written "\\?\", which the path
 * functions leave alone instead of taking it for a folder named "??". */
static int strip_device_prefix(const char *native, char *out, size_t size)
{
    const char *rest = native;
    char root[4];
    if (device_prefix(native)) {
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

int plat_canonical_path(const char *path, char *buf, int size)
{
    char native[WIN_PATH_MAX], plain[WIN_PATH_MAX];
    if (!buf || size < 4 || !plat_native_path(path, native, sizeof native) ||
        !strip_device_prefix(native, plain, sizeof plain))
        return 0;
    DWORD n = sys().full_path(plain, buf, (DWORD)size); /* "C:x": the drive's own current folder */
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

/* The volume serial number and file index of a file or folder: 1, 0 when
 * nothing is there, -1 with errno when what is there cannot be told. */
static int identity(const char *path, file_identity *id)
{
    HANDLE h = open_entry(path);
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
    id->volume = info.dwVolumeSerialNumber;
    id->high = info.nFileIndexHigh;
    id->low = info.nFileIndexLow;
    return 1;
}

static int same_identity(const file_identity *a, const file_identity *b)
{
    return a->volume == b->volume && a->high == b->high && a->low == b->low;
}

/* Both canonical forms, or 0 with errno. */
static int canonical_pair(const char *a, char *ca, const char *b, char *cb)
{
    errno = 0;
    return plat_canonical_path(a, ca, WIN_PATH_MAX) && plat_canonical_path(b, cb, WIN_PATH_MAX);
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
        if (identity(root, &r) > 0 && same_identity(id, &r)) return 1;
    }
    return 0;
}

int plat_is_root(const char *path)
{
    char c[WIN_PATH_MAX];
    file_identity id;
    char f[WIN_PATH_MAX];
    errno = 0;
    if (!plat_canonical_path(path, c, sizeof c)) return PLAT_UNKNOWN;
    if (names_a_root(c) || (final_path(c, f, sizeof f) && names_a_root(f))) return PLAT_YES;
    int k = identity(c, &id);
    if (k <= 0) return k < 0 ? PLAT_UNKNOWN : PLAT_NO;
    return is_some_drive_root(&id) ? PLAT_YES : PLAT_NO;
}

int plat_same_dir(const char *a, const char *b)
{
    char ca[WIN_PATH_MAX], cb[WIN_PATH_MAX];
    file_identity ia, ib;
    if (!canonical_pair(a, ca, b, cb)) return PLAT_UNKNOWN;
    if (_stricmp(ca, cb) == 0) return PLAT_YES;
    int ka = identity(ca, &ia), kb = ka < 0 ? ka : identity(cb, &ib);
    if (ka < 0 || kb < 0) return PLAT_UNKNOWN;
    return ka && kb && same_identity(&ia, &ib) ? PLAT_YES : PLAT_NO;
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
    if (!canonical_pair(outer, co, inner, ci)) return PLAT_UNKNOWN;
    size_t lo = strlen(co);
    if (_strnicmp(co, ci, lo) == 0 && (ci[lo] == '\0' || ci[lo] == '\\' || co[lo - 1] == '\\')) return PLAT_YES;
    int k = identity(co, &io);
    if (k <= 0) return k < 0 ? PLAT_UNKNOWN : PLAT_NO; /* a folder not there holds nothing by identity */
    /* the same folder by another name (a short name left where the path
     * does not exist, another drive letter): inner or an ancestor is outer */
    do {
        if ((k = identity(ci, &ii)) < 0) return PLAT_UNKNOWN;
        if (k && same_identity(&io, &ii)) return PLAT_YES;
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
    DWORD attr = sys().attributes(native);
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

/* ---- names the system reserves ---- */

static const char *const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

/* 1 when the name (len bytes) is a device's whatever its extension: "nul",
 * "NUL.txt", "com1 .log"; "COM1" to "COM9" and "LPT1" to "LPT9" too. */
static int is_device(const char *name, size_t len)
{
    size_t n = 0;
    while (n < len && name[n] != '.' && name[n] != ':') n++;
    while (n > 0 && name[n - 1] == ' ') n--; /* the system drops blanks before the extension */
    for (const char *d : DEVICE_NAMES)
        if (n == strlen(d) && _strnicmp(name, d, n) == 0) return 1;
    int port = n == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0);
    return port && name[3] >= '1' && name[3] <= '9';
}

int plat_device_name(const char *path, char *device, int size)
{
    if (device && size > 0) device[0] = '\0';
    if (!path) return 0;
    for (const char *p = path; *p;) {
        size_t len = strcspn(p, "\\/");
        if (len > 0 && is_device(p, len)) {
            size_t n = strcspn(p, ".: ");
            if (device && size > 0) snprintf(device, (size_t)size, "%.*s", (int)(n < len ? n : len), p);
            if (device) _strupr(device);
            return 1;
        }
        p += len + (p[len] != '\0');
    }
    return 0;
}

/* ---- text from UTF-8 files ---- */

constexpr int UTF8_LINE_MAX = 4096; /* longest line converted: an answers file's */

static int ansi_name(const WCHAR *w, char *out, int size); /* with the listing, below */

int plat_from_utf8(char *text, int size)
{
    WCHAR wide[UTF8_LINE_MAX];
    char ansi[UTF8_LINE_MAX]; /* never longer than the UTF-8 it comes from */
    if (!text || size < 1) return 0;
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, UTF8_LINE_MAX)) return 0;
    if (!ansi_name(wide, ansi, (int)sizeof ansi) || strlen(ansi) >= (size_t)size) return 0;
    memcpy(text, ansi, strlen(ansi) + 1);
    return 1;
}

int plat_native_equal(const char *a, const char *b) { return a && b && _stricmp(a, b) == 0; }

int plat_path_ambiguous(const char *) { return 0; } /* the file system is case-blind itself */

int plat_is_link(const char *path)
{
    DWORD attr = path ? sys().attributes(path) : INVALID_FILE_ATTRIBUTES;
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* Making links needs privileges a console installer seldom has. */
int plat_copy_link(const char *, const char *)
{
    errno = ENOSYS;
    return -1;
}

/* ---- directory listing ---- */

/* The bare listing calls, wide, so that the system never turns a name into
 * another by best fit ("／" into "/"): FindFirstFileW's first entry is kept
 * for the first read. */
struct raw_listing {
    HANDLE handle;
    WIN32_FIND_DATAW first;
    int first_unread;
};

/* The folder of the wide pattern "folder\*" is a link or junction. */
static int folder_is_link(WCHAR *pattern)
{
    WCHAR *star = wcsrchr(pattern, L'\\');
    if (!star) return 0;
    WCHAR kept = *star;
    *star = L'\0';
    DWORD attrib = GetFileAttributesW(pattern);
    *star = kept;
    return attrib != INVALID_FILE_ATTRIBUTES && (attrib & FILE_ATTRIBUTE_REPARSE_POINT);
}

void *plat_sys_dir_open(const char *native_pattern, int nofollow)
{
    WCHAR wide[WIN_PATH_MAX];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, native_pattern, -1, wide, WIN_PATH_MAX)) {
        errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
        return nullptr;
    }
    if (nofollow && folder_is_link(wide)) {
        errno = ELOOP;
        return nullptr;
    }
    raw_listing *l = (raw_listing *)calloc(1, sizeof *l);
    if (!l) {
        errno = ENOMEM;
        return nullptr;
    }
    l->handle = FindFirstFileW(wide, &l->first);
    if (l->handle == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        free(l);
        return nullptr;
    }
    l->first_unread = 1;
    return l;
}

/* The name in the ANSI code page, only when every character converts to
 * itself: no best fit, no default character.  0 when it does not (or does
 * not fit). */
static int ansi_name(const WCHAR *w, char *out, int size)
{
    if (GetACP() == CP_UTF8) /* every name converts; the flags below are refused there */
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w, -1, out, size, nullptr, nullptr) > 0;
    BOOL lost = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w, -1, out, size, nullptr, &lost);
    return n > 0 && !lost;
}

/* A name for messages: ASCII as it is, every other character (a pair of
 * surrogates as one) as "<U+XXXX>", which no file name can hold. */
static void readable_name(const WCHAR *w, char *out, size_t size)
{
    size_t n = 0;
    for (size_t i = 0; w[i] && n + 1 < size; i++) {
        unsigned c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        char one[16];
        int len = c < 0x80 ? snprintf(one, sizeof one, "%c", (char)c) : snprintf(one, sizeof one, "<U+%04X>", c);
        if (n + (size_t)len >= size) break; /* cut whole characters only */
        memcpy(out + n, one, (size_t)len);
        n += (size_t)len;
    }
    out[n] = '\0';
}

int plat_sys_dir_read(void *dir, plat_find_entry *entry)
{
    raw_listing *l = (raw_listing *)dir;
    WIN32_FIND_DATAW d;
    if (l->first_unread) {
        d = l->first;
        l->first_unread = 0;
    } else if (!FindNextFileW(l->handle, &d)) {
        errno = errno_from_win32(GetLastError());
        return 0;
    }
    entry->attrib = (unsigned)d.dwFileAttributes & ~PLAT_ATTR_UNNAMED;
    if (!ansi_name(d.cFileName, entry->name, (int)sizeof entry->name)) {
        readable_name(d.cFileName, entry->name, sizeof entry->name);
        entry->attrib |= PLAT_ATTR_UNNAMED; /* never acted on under another name */
    }
    return 1;
}

void plat_sys_dir_close(void *dir)
{
    raw_listing *l = (raw_listing *)dir;
    FindClose(l->handle);
    free(l);
}

unsigned long plat_sys_attributes(const char *native) { return GetFileAttributesA(native); }
unsigned long plat_sys_full_path(const char *native, char *buf, unsigned long size)
{
    return GetFullPathNameA(native, size, buf, nullptr);
}
unsigned long plat_sys_long_path(const char *native, char *buf, unsigned long size)
{
    return GetLongPathNameA(native, buf, size);
}
unsigned long plat_sys_current_dir(unsigned long size, wchar_t *buf) { return GetCurrentDirectoryW(size, buf); }

/* dir_open takes the pattern "folder\*" itself. */
int plat_sys_find_native(const char *pattern, char *native, int size)
{
    if (plat_native_path(pattern, native, size < (int)WIN_PATH_MAX ? size : (int)WIN_PATH_MAX)) return 1;
    errno = ENAMETOOLONG;
    return 0;
}

#endif
