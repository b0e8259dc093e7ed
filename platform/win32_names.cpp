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
