/* Names in the Win32 platform layer: the device names the system reserves,
 * UTF-8 text turned into the ANSI code page, symbolic links, and the bare
 * folder listing calls, which read names wide so that none is changed by
 * best fit.
 *
 * Not here: what a path really is (win32_paths.cpp), nor the calls on
 * files and folders (platform_win32.cpp).
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

/* ---- names the system reserves ---- */

static const char *const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

/* 1 when the len bytes at s are a port's number: "1" to "9", or "¹", "²"
 * or "³" in the ANSI code page, which the system reserves as well. */
static int port_number(const char *s, size_t len)
{
    static const WCHAR SUPERSCRIPTS[] = {0x00B9, 0x00B2, 0x00B3};
    if (len == 1 && s[0] >= '1' && s[0] <= '9') return 1;
    for (WCHAR w : SUPERSCRIPTS) {
        char one[8];
        BOOL lost = FALSE;
        UINT cp = GetACP();
        int n = WideCharToMultiByte(cp, cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, &w, 1, one, sizeof one, nullptr,
                                    cp == CP_UTF8 ? nullptr : &lost);
        if (n > 0 && !lost && (size_t)n == len && memcmp(s, one, len) == 0) return 1;
    }
    return 0;
}

/* 1 when the name (len bytes) is a device's whatever its extension: "nul",
 * "NUL.txt", "com1 .log"; "COM1" to "COM9", "LPT1" to "LPT9" and their
 * superscript forms ("COM¹") too. */
static int is_device(const char *name, size_t len)
{
    size_t n = 0;
    while (n < len && name[n] != '.' && name[n] != ':') n++;
    while (n > 0 && name[n - 1] == ' ') n--; /* the system drops blanks before the extension */
    for (const char *d : DEVICE_NAMES)
        if (n == strlen(d) && _strnicmp(name, d, n) == 0) return 1;
    int port = n > 3 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0);
    return port && port_number(name + 3, n - 3);
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

int plat_misread_name(const char *path, char *name, int size)
{
    if (name && size > 0) name[0] = '\0';
    const char *odd = path ? win32_first_odd(path) : nullptr;
    if (odd && name && size > 0) snprintf(name, (size_t)size, "%.*s", (int)strcspn(odd, "\\/"), odd);
    return odd != nullptr;
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

/* ---- names the system would read as others ---- */

int win32_read_as_other(const char *name, size_t len)
{
    if (len == 0 || (len <= 2 && name[0] == '.' && name[len - 1] == '.')) return 0; /* "." and ".." */
    return name[len - 1] == '.' || name[len - 1] == ' ' || is_device(name, len);
}

const char *win32_first_odd(const char *native)
{
    const char *p = isalpha((unsigned char)native[0]) && native[1] == ':' ? native + 2 : native;
    while (*p) {
        size_t len = strcspn(p, "\\/");
        if (win32_read_as_other(p, len)) return p;
        p += len + (p[len] != '\0');
    }
    return nullptr;
}

/* Appends the names from rest to out (at *n of size bytes), each as it
 * is; "." and ".." would be taken as names there: refused. */
static int append_names(char *out, size_t *n, size_t size, const char *rest)
{
    for (const char *p = rest; *p;) {
        size_t len = strcspn(p, "\\/");
        int dots = len > 0 && len <= 2 && p[0] == '.' && p[len - 1] == '.';
        if (dots || *n + len + 2 > size) return errno = dots ? EINVAL : ENAMETOOLONG, 0;
        if (len && out[*n - 1] != '\\') out[(*n)++] = '\\';
        memcpy(out + *n, p, len);
        *n += len;
        p += len + (p[len] != '\0');
    }
    if (rest[0] && (rest[strlen(rest) - 1] == '\\' || rest[strlen(rest) - 1] == '/') && out[*n - 1] != '\\')
        out[(*n)++] = '\\';
    out[*n] = '\0';
    return 1;
}

/* The folders before the first odd name are resolved by the system as
 * usual; that name and the rest are kept as they are, behind "\\?\". */
const char *win32_whole(const char *native, char *buf, size_t size)
{
    const char *odd = win32_device_prefix(native) ? nullptr : win32_first_odd(native);
    if (!odd) return native;
    char head[WIN_PATH_MAX], full[WIN_PATH_MAX];
    size_t h = (size_t)(odd - native);
    if (h + 3 > sizeof head) return errno = ENAMETOOLONG, nullptr;
    memcpy(head, native, h);
    head[h] = '\0';
    if (h == 0 || (h == 2 && head[1] == ':')) memcpy(head + h, ".\\", 3); /* this folder, or the drive's own */
    DWORD m = GetFullPathNameA(head, sizeof full, full, nullptr);
    if (m == 0 || m + 1 >= sizeof full) return errno = ENAMETOOLONG, nullptr;
    int unc = full[0] == '\\' && full[1] == '\\';
    int len = snprintf(buf, size, "\\\\?\\%s%s", unc ? "UNC\\" : "", full + (unc ? 2 : 0));
    size_t n = (size_t)len;
    if (len < 0 || n >= size) return errno = ENAMETOOLONG, nullptr;
    return append_names(buf, &n, size, odd) ? buf : nullptr;
}

int plat_native_equal(const char *a, const char *b) { return a && b && _stricmp(a, b) == 0; }

int plat_path_ambiguous(const char *) { return 0; } /* the file system is case-blind itself */

int plat_is_link(const char *path)
{
    DWORD attr = path ? sys().attributes(path) : INVALID_FILE_ATTRIBUTES;
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* ---- files reached through a link the listing does not show ---- */

/* The final name the system gives what h has open, without its "\\?\"
 * and with the dots and spaces that end names taken off (the emulator
 * drops them there), into buf: 1, or 0 when it cannot be had. */
win32_final_fn win32_final_call()
{
    static FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    return proc ? reinterpret_cast<win32_final_fn>(reinterpret_cast<void (*)()>(proc)) : nullptr;
}

static int final_name(HANDLE h, char *buf, DWORD size)
{
    char raw[WIN_PATH_MAX];
    DWORD n = win32_final_call() ? win32_final_call()(h, raw, sizeof raw, 0) : 0;
    if (n == 0 || n >= sizeof raw) return 0;
    const char *p = win32_device_prefix(raw) ? raw + 4 : raw;
    size_t o = 0;
    for (; *p && o + 1 < size; p++) {
        if (*p == '\\') /* a name ends: its dots and spaces go */
            while (o > 0 && (buf[o - 1] == '.' || buf[o - 1] == ' ')) o--;
        buf[o++] = *p;
    }
    while (o > 0 && (buf[o - 1] == '.' || buf[o - 1] == ' ')) o--;
    buf[o] = '\0';
    return *p == '\0';
}

/* The final name of the folder that holds whole, into buf. */
static int folder_final_name(const char *whole, char *buf, DWORD size)
{
    char folder[WIN_PATH_MAX];
    const char *cut = strrchr(whole, '\\');
    size_t n = cut ? (size_t)(cut - whole) + 1 : 0;
    if (n + 2 > sizeof folder) return 0;
    memcpy(folder, n ? whole : ".\\", n ? n : 3);
    folder[n ? n : 2] = '\0';
    HANDLE h = win32_open_entry(folder, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int ok = final_name(h, buf, size);
    CloseHandle(h);
    return ok;
}

/* 1 when the odd name in whole is the same file as the name the system
 * would read it as: acting on the one would act on the other. */
static int same_as_read(HANDLE h, const char *whole)
{
    char plain[WIN_PATH_MAX];
    const char *p = win32_device_prefix(whole) ? whole + 4 : whole;
    int unc = p != whole && _strnicmp(p, "UNC\\", 4) == 0; /* "\\?\UNC\srv" is "\\srv" */
    int len = snprintf(plain, sizeof plain, "%s%s", unc ? "\\\\" : "", unc ? p + 4 : p);
    if (len < 0 || len >= (int)sizeof plain || !win32_first_odd(plain)) return 0;
    HANDLE other = win32_open_entry(plain, FILE_FLAG_OPEN_REPARSE_POINT);
    if (other == INVALID_HANDLE_VALUE) return 0; /* nothing there: the name is its own */
    BY_HANDLE_FILE_INFORMATION a, b;
    int same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(other, &b) &&
               a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

int win32_handle_elsewhere(HANDLE h, const char *whole)
{
    BY_HANDLE_FILE_INFORMATION info;
    char file[WIN_PATH_MAX], folder[WIN_PATH_MAX];
    if (!GetFileInformationByHandle(h, &info)) return 1;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return 1;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0; /* a folder's link is marked */
    if (!win32_final_call()) return 0; /* a system without it has no links to files */
    const char *cut = strrchr(whole, '\\');
    char leaf[PLAT_NAME_MAX + 2];
    snprintf(leaf, sizeof leaf, "\\%s", cut ? cut + 1 : whole);
    if (!final_name(h, file, sizeof file) || !folder_final_name(whole, folder, sizeof folder)) return 1;
    size_t f = strlen(folder), l = strlen(leaf);
    while (l > 1 && (leaf[l - 1] == '.' || leaf[l - 1] == ' ')) leaf[--l] = '\0'; /* as final_name drops them */
    if (f > 0 && folder[f - 1] == '\\') f--;                                  /* a root's own backslash */
    if (_strnicmp(file, folder, f) != 0 || _stricmp(file + f, leaf) != 0) return 1;
    return same_as_read(h, whole);
}

int win32_elsewhere(const char *whole)
{
    HANDLE h = win32_open_entry(whole, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return 0;
        errno = errno_from_win32(e);
        return -1;
    }
    int r = win32_handle_elsewhere(h, whole);
    CloseHandle(h);
    return r;
}

int plat_opens_elsewhere(const char *path)
{
    char native[PLAT_NATIVE_MAX], buf[PLAT_NATIVE_MAX];
    const char *whole = plat_native_path(path, native, sizeof native) ? win32_whole(native, buf, sizeof buf) : nullptr;
    return whole && win32_elsewhere(whole) > 0;
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
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native_pattern, buf, sizeof buf);
    if (!whole) return nullptr;
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, whole, -1, wide, WIN_PATH_MAX)) {
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
    entry->attrib = (unsigned)d.dwFileAttributes & ~PLAT_ATTR_NAME_BITS;
    if (!ansi_name(d.cFileName, entry->name, (int)sizeof entry->name)) {
        readable_name(d.cFileName, entry->name, sizeof entry->name);
        entry->attrib |= PLAT_ATTR_UNNAMED; /* never acted on under another name */
    } else if (win32_read_as_other(entry->name, strlen(entry->name))) {
        entry->attrib |= PLAT_ATTR_MISREAD; /* "x." is not "x" */
    }
    return 1;
}

void plat_sys_dir_close(void *dir)
{
    raw_listing *l = (raw_listing *)dir;
    FindClose(l->handle);
    free(l);
}

unsigned long plat_sys_attributes(const char *native)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    return whole ? GetFileAttributesA(whole) : INVALID_FILE_ATTRIBUTES;
}
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
