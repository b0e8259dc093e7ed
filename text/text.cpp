/* Bounded string and path helpers.
 *
 * Everything here works on NUL-terminated byte strings in fixed buffers and
 * never writes past the size it is given.  Null pointers are taken without
 * failing.  The path operations return their own static buffers.
 */
#include "text/text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

/* ---- bounded copying and comparing ---- */

char *text_copy(char *dst, const char *src, int size)
{
    if (!dst || !src || size < 1) return dst;
    int i = 0;
    while (i < size - 1 && src[i] != '\0') {
        dst[i] = src[i];
        i++;
    }
    dst[i] = '\0';
    return dst;
}

char *text_append(char *dst, const char *src, int size)
{
    if (!dst || !src) return dst;
    int len = (int)strlen(dst);
    int room = size - len - 1;
    if (room <= 0) return dst; /* full already: leave it as it is */
    char *p = dst + len;
    while (room > 0 && *src != '\0') {
        *p++ = *src++;
        room--;
    }
    *p = '\0';
    return dst;
}

char *text_copy_n(char *dst, const char *src, int n)
{
    if (!dst) return nullptr;
    if (!src) {
        dst[0] = '\0';
        return dst;
    }
    int i = 0;
    while (i < n && src[i] != '\0') {
        dst[i] = src[i];
        i++;
    }
    dst[i] = '\0';
    if (n >= 0) dst[n] = '\0';
    return dst + i;
}

int text_compare(const char *a, const char *b)
{
    if (!a || !b) return 1;
    if (a[0] != b[0]) return (int)(signed char)a[0] - (int)(signed char)b[0];
    for (;; a++, b++) {
        unsigned char ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == '\0') return 0;
    }
}

int text_compare_nocase(const char *a, const char *b)
{
    if (!a || !b) return 1;
    for (; *a && *b; a++, b++) {
        int fa = tolower((unsigned char)*a), fb = tolower((unsigned char)*b);
        if (fa != fb) return fa - fb;
    }
    return (*a == '\0' && *b == '\0') ? 0 : 1;
}

char *text_lower(char *s)
{
    if (!s) return nullptr;
    for (char *p = s; *p; p++) *p = (char)tolower((unsigned char)*p);
    return s;
}

char *text_dup(const char *s)
{
    if (!s) return nullptr;
    size_t n = strlen(s) + 1;
    char *copy = (char *)malloc(n);
    if (copy) memcpy(copy, s, n);
    return copy;
}

/* ---- paths ---- */

static int name_char_kept(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return 1;
    return c != '\0' && strchr("._*-#:\\@%", c) != nullptr;
}

char *clean_name(const char *name)
{
    static char buf[TEXT_PATH_SIZE];
    int out = 0;
    buf[0] = '\0';
    if (!name) return buf;
    for (int i = 0; i < TEXT_PATH_SIZE - 1 && name[i] != '\0'; i++) {
        if (name[i] == ' ')
            buf[out++] = '_';
        else if (name_char_kept(name[i]))
            buf[out++] = name[i];
    }
    buf[out] = '\0';
    return buf;
}

int text_ends_with_backslash(const char *s)
{
    size_t n = s ? strlen(s) : 0;
    return n > 0 && s[n - 1] == '\\';
}

size_t text_strip_line_end(char *s)
{
    size_t n = s ? strlen(s) : 0;
    while (n > 0 && (s[n - 1] == '\r' || s[n - 1] == '\n')) s[--n] = '\0';
    return n;
}

char *path_join(const char *dir, const char *name)
{
    static char buf[TEXT_PATH_SIZE];
    if (dir && dir[0] == '\0') dir = nullptr;
    if (name && name[0] == '\0') name = nullptr;
    const char *clean = clean_name(name);
    buf[0] = '\0';
    if (!dir) return text_copy(buf, clean, TEXT_PATH_SIZE);
    text_copy(buf, dir, TEXT_PATH_SIZE);
    if (!name) {
        if (!text_ends_with_backslash(buf)) text_append(buf, "\\", TEXT_PATH_SIZE);
        return buf;
    }
    if (text_ends_with_backslash(buf) && clean[0] == '\\')
        buf[strlen(buf) - 1] = '\0';
    else if (!text_ends_with_backslash(buf) && clean[0] != '\\')
        text_append(buf, "\\", TEXT_PATH_SIZE);
    return text_append(buf, clean, TEXT_PATH_SIZE);
}

int path_join_raw(char *buf, int size, const char *dir, const char *name)
{
    if (!buf || size < 1) return 0;
    buf[0] = '\0';
    if (!dir) dir = "";
    if (!name) name = "";
    size_t dl = strlen(dir);
    int sep = (dl > 0 && dir[dl - 1] != '\\' && name[0] != '\\') ? 1 : 0;
    if (dl > 0 && dir[dl - 1] == '\\' && name[0] == '\\') dl--; /* one backslash only */
    if (dl + (size_t)sep + strlen(name) + 1 > (size_t)size) return 0;
    memcpy(buf, dir, dl);
    if (sep) buf[dl++] = '\\';
    memcpy(buf + dl, name, strlen(name) + 1);
    return 1;
}

char *strip_ext(const char *name)
{
    static char buf[TEXT_PATH_SIZE];
    buf[0] = '\0';
    if (!name) return buf;
    text_copy(buf, name, TEXT_PATH_SIZE);
    char *dot = strrchr(buf, '.');
    if (!dot) return buf;
    if (dot[1] != '\0') {
        *dot = '\0';
        return buf;
    }
    /* a trailing dot goes only from a real name: "name." but not "x." or ".." */
    if (dot - buf >= 2 && dot[-1] != '.') *dot = '\0';
    return buf;
}

char *base_name(const char *path, int strip)
{
    static char buf[TEXT_PATH_SIZE];
    buf[0] = '\0';
    if (!path) return buf;
    const char *slash = strrchr(path, '\\');
    text_copy(buf, slash ? slash + 1 : path, TEXT_PATH_SIZE);
    return strip ? strip_ext(buf) : buf;
}

char *dir_part(const char *path)
{
    static char buf[TEXT_PATH_SIZE];
    buf[0] = '\0';
    if (!path) return nullptr;
    text_copy(buf, path, TEXT_PATH_SIZE);
    char *slash = strrchr(buf, '\\');
    if (!slash) {
        buf[0] = '\0';
        return nullptr;
    }
    slash[1] = '\0';
    return buf;
}

void path_of_url(char *out, int size, const char *url)
{
    if (!out || size < 2) return;
    int o = 0;
    out[o++] = '\\';
    for (int i = (url && url[0] == '/') ? 1 : 0; url && url[i] != '\0' && o < size - 1; i++) {
        char c = url[i];
        if (c == '/') {
            if (url[i + 1] == '\0' || url[i + 1] == '/') break;
            c = '\\';
        }
        out[o++] = c;
    }
    out[o] = '\0';
}

unsigned char text_fold(unsigned char c)
{
    static unsigned char lower[256];
    if (!lower[(unsigned char)'A'])
        for (int i = 0; i < 256; i++) lower[i] = (unsigned char)tolower(i);
    return lower[c];
}

size_t text_fold_hash(const char *s)
{
    size_t h = 2166136261u;
    for (; *s; s++) h = (h ^ (size_t)text_fold((unsigned char)*s)) * 16777619u;
    return h;
}

int text_continuation_mark(const char *value, size_t n)
{
    if (!value || n < 2) return TEXT_MARK_NONE;
    if (value[n - 2] == ' ' && value[n - 1] == '/') return TEXT_MARK_JOIN;
    if (value[n - 2] == '\\' && value[n - 1] == 'n') return TEXT_MARK_NEWLINE;
    return TEXT_MARK_NONE;
}
