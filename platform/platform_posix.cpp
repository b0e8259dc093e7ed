/* POSIX implementation of the platform layer.
 *
 * Installer paths are Windows style.  Here a backslash becomes "/", a path
 * rooted at the current drive ("\x", "C:\x", "/x") is placed under the
 * directory named by QUILLOR_ROOT (else under "/"), drive letters are
 * dropped, and each component that does not exist with its exact case is
 * resolved case-blind against its directory, as Windows names would be.
 * Listings report Windows-like attribute bits: 0x10 for a plain directory,
 * 0x400 for a symbolic link (never followed), 0x20 for anything else.
 */
#ifndef _WIN32

#include "platform/platform.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

constexpr int NATIVE_MAX = 4096;

/* ---- path mapping ---- */

/* Finds `name` case-blind in directory `dir`; copies the real name into
 * out.  Returns 1 when found. */
static int find_case_blind(const char *dir, const char *name, char *out, size_t size)
{
    DIR *d = opendir(dir[0] ? dir : ".");
    if (!d) return 0;
    int found = 0;
    for (struct dirent *e; (e = readdir(d)) != nullptr;) {
        if (strcasecmp(e->d_name, name) == 0 && strlen(e->d_name) < size) {
            memcpy(out, e->d_name, strlen(e->d_name) + 1);
            found = 1;
            break;
        }
    }
    closedir(d);
    return found;
}

/* Appends component comp to the native path buf (length *len), resolving
 * its case while the path so far exists.  *resolving turns 0 once a
 * component is missing: the rest is taken as given. */
static int add_component(char *buf, size_t *len, size_t size, const char *comp, int *resolving)
{
    char real[NAME_MAX + 1];
    const char *use = comp;
    size_t base = *len;
    int need_sep = base > 0 && buf[base - 1] != '/';
    size_t clen = strlen(comp);
    if (base + need_sep + clen + 1 > size) return 0;
    if (need_sep) buf[base++] = '/';
    memcpy(buf + base, comp, clen + 1);
    struct stat st;
    if (*resolving && strcmp(comp, ".") != 0 && strcmp(comp, "..") != 0 && lstat(buf, &st) != 0) {
        char parent[NATIVE_MAX];
        memcpy(parent, buf, base);
        parent[base] = '\0';
        if (find_case_blind(parent, comp, real, sizeof real))
            use = real;
        else
            *resolving = 0;
        clen = strlen(use);
        if (base + clen + 1 > size) return 0;
        memcpy(buf + base, use, clen + 1);
    }
    *len = base + clen;
    return 1;
}

static int is_drive_prefix(const char *p)
{
    return isalpha((unsigned char)p[0]) && p[1] == ':';
}

/* Where a path starts: the root (QUILLOR_ROOT or "/") for a rooted path,
 * nothing (the current directory) for a relative one. */
static const char *path_start(const char **p, char *buf, size_t size, size_t *len)
{
    if (is_drive_prefix(*p)) *p += 2;
    *len = 0;
    buf[0] = '\0';
    if (**p != '\\' && **p != '/') return buf;
    const char *root = getenv("QUILLOR_ROOT");
    if (!root || !root[0]) root = "/";
    size_t rl = strlen(root);
    if (rl + 1 > size) return nullptr;
    memcpy(buf, root, rl + 1);
    *len = rl;
    return buf;
}

int plat_native_path(const char *path, char *buf, int size)
{
    if (!path || !buf || size < 2) return 0;
    size_t len;
    if (!path_start(&path, buf, (size_t)size, &len)) return 0;
    int resolving = 1;
    char comp[NATIVE_MAX];
    while (*path) {
        size_t n = strcspn(path, "\\/");
        if (n >= sizeof comp) return 0;
        if (n > 0) {
            memcpy(comp, path, n);
            comp[n] = '\0';
            if (!add_component(buf, &len, (size_t)size, comp, &resolving)) return 0;
        }
        path += n;
        if (*path) path++;
        if (*path == '\0' && (path[-1] == '\\' || path[-1] == '/') && n > 0) {
            if (len + 2 > (size_t)size) return 0; /* keep a trailing separator */
            buf[len++] = '/';
            buf[len] = '\0';
        }
    }
    if (len == 0) {
        buf[0] = '.';
        buf[1] = '\0';
    }
    return 1;
}

int plat_dir_contains(const char *outer, const char *inner)
{
    char no[NATIVE_MAX], ni[NATIVE_MAX], ro[PATH_MAX], ri[PATH_MAX];
    if (!plat_native_path(outer, no, sizeof no) || !plat_native_path(inner, ni, sizeof ni)) return 0;
    if (!realpath(no, ro) || !realpath(ni, ri)) return 0;
    size_t lo = strlen(ro);
    if (strcmp(ro, "/") == 0) return 1;
    return strncmp(ro, ri, lo) == 0 && (ri[lo] == '\0' || ri[lo] == '/');
}

/* ---- the real system calls ---- */

FILE *plat_sys_fopen(const char *native, const char *mode)
{
    struct stat st;
    /* a pipe or socket would block the read for ever: refuse it */
    if (mode[0] == 'r' && stat(native, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(native, mode);
}
int plat_sys_remove(const char *native) { return remove(native); }
int plat_sys_rename(const char *from, const char *to) { return rename(from, to); }
int plat_sys_mkdir(const char *native) { return mkdir(native, 0777); }
int plat_sys_rmdir(const char *native) { return rmdir(native); }

/* ---- directory listing ---- */

struct plat_find {
    DIR *dir;
    char path[NATIVE_MAX];
};

static unsigned entry_attrib(plat_find *f, struct dirent *e)
{
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
        char full[NATIVE_MAX * 2];
        struct stat st;
        snprintf(full, sizeof full, "%s/%s", f->path, e->d_name);
        if (lstat(full, &st) != 0) return PLAT_ATTR_ARCHIVE;
        if (S_ISLNK(st.st_mode)) return PLAT_ATTR_REPARSE;
        return S_ISDIR(st.st_mode) ? PLAT_ATTR_DIRECTORY : PLAT_ATTR_ARCHIVE;
    }
    if (type == DT_LNK) return PLAT_ATTR_REPARSE;
    return type == DT_DIR ? PLAT_ATTR_DIRECTORY : PLAT_ATTR_ARCHIVE;
}

int plat_find_next(plat_find *f, plat_find_entry *entry)
{
    if (!f || !entry) return 0;
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(f->dir);
        if (!e) {
            if (errno == 0) errno = ENOENT;
            return 0;
        }
        size_t n = strlen(e->d_name);
        /* a name with a backslash cannot be named by an installer path */
        if (n >= PLAT_NAME_MAX || strchr(e->d_name, '\\')) continue;
        memcpy(entry->name, e->d_name, n + 1);
        entry->attrib = entry_attrib(f, e);
        return 1;
    }
}

plat_find *plat_find_first(const char *pattern, plat_find_entry *entry)
{
    char dir[NATIVE_MAX];
    if (!pattern || !entry) {
        errno = EINVAL;
        return nullptr;
    }
    /* the directory part of "dir\*"; the mask is always "*" */
    const char *slash = strrchr(pattern, '\\');
    size_t n = slash ? (size_t)(slash - pattern) + 1 : 0;
    if (n >= sizeof dir) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    memcpy(dir, pattern, n);
    dir[n] = '\0';
    plat_find *f = (plat_find *)calloc(1, sizeof *f);
    if (!f) return nullptr;
    if (!plat_native_path(n ? dir : ".", f->path, sizeof f->path) || !(f->dir = opendir(f->path))) {
        int e = errno;
        free(f);
        errno = e ? e : ENAMETOOLONG;
        return nullptr;
    }
    if (!plat_find_next(f, entry)) {
        plat_find_close(f);
        errno = ENOENT;
        return nullptr;
    }
    return f;
}

void plat_find_close(plat_find *f)
{
    if (!f) return;
    closedir(f->dir);
    free(f);
}

/* ---- console ---- */

void plat_out(const char *text) { fputs(text ? text : "", stdout); }

void plat_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stdout, fmt, ap);
    va_end(ap);
}

void plat_flush() { fflush(stdout); }

void plat_progress()
{
    if (isatty(STDOUT_FILENO)) fflush(stdout); /* a pipe gets it with the next flush */
}

int plat_read_line(char *buf, int size)
{
    if (!buf || size < 1) return 0;
    fflush(stdout);
    int c, n = 0, got = 0;
    while ((c = getchar()) != EOF) {
        got = 1;
        if (n < size - 1) buf[n++] = (char)c; /* the rest of a long line is dropped */
        if (c == '\n') break;
    }
    if (!got) return 0;
    buf[n] = '\0';
    return 1;
}

void plat_discard_typeahead()
{
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

/* ---- process and machine ---- */

int plat_computer_name(char *buf, int size)
{
    char name[256];
    if (!buf || size < 1 || gethostname(name, sizeof name) != 0) return 0;
    name[sizeof name - 1] = '\0';
    size_t n = strlen(name);
    if (n == 0 || n > 63 || n >= (size_t)size) return 0; /* the registry's 64-byte limit */
    memcpy(buf, name, n + 1);
    return 1;
}

long plat_process_id() { return (long)getpid(); }

int plat_mktemp(char *templ)
{
    static unsigned counter;
    size_t n = templ ? strlen(templ) : 0;
    if (n < 6 || strcmp(templ + n - 6, "XXXXXX") != 0) return 0;
    for (int tries = 0; tries < 1000; tries++) {
        unsigned v = (unsigned)getpid() * 31u + counter++;
        for (int i = 0; i < 6; i++) {
            templ[n - 1 - i] = "abcdefghijklmnopqrstuvwxyz0123456789"[v % 36];
            v /= 36;
        }
        char native[NATIVE_MAX];
        struct stat st;
        if (plat_native_path(templ, native, sizeof native) && lstat(native, &st) != 0) return 1;
    }
    return 0;
}

/* Splits an absolute native path into its components (in place). */
static int split_components(char *path, char **comp, int max)
{
    int n = 0;
    for (char *tok = strtok(path, "/"); tok && n < max; tok = strtok(nullptr, "/")) comp[n++] = tok;
    return n;
}

/* Writes the path from directory `from` to file `to` (both absolute native
 * paths) relative to `from`, in installer form: ".\..\dir\file". */
static int relative_installer_path(char *from, char *to, char *buf, int size)
{
    char *fc[256], *tc[256];
    int nf = split_components(from, fc, 256), nt = split_components(to, tc, 256);
    int k = 0;
    while (k < nf && k < nt - 1 && strcmp(fc[k], tc[k]) == 0) k++;
    int out = snprintf(buf, (size_t)size, ".");
    for (int i = k; i < nf && out < size; i++) out += snprintf(buf + out, (size_t)(size - out), "\\..");
    for (int i = k; i < nt && out < size; i++) out += snprintf(buf + out, (size_t)(size - out), "\\%s", tc[i]);
    return out < size;
}

int plat_program_path(const char *argv0, char *buf, int size)
{
    char exe[PATH_MAX], cwd[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0 && getcwd(cwd, sizeof cwd)) {
        exe[n] = '\0';
        return relative_installer_path(cwd, exe, buf, size);
    }
    /* no /proc: fall back on the path as started */
    if (!argv0 || snprintf(buf, (size_t)size, "%s", argv0) >= size) return 0;
    for (char *p = buf; *p; p++)
        if (*p == '/') *p = '\\';
    return 1;
}

#endif
