/* What a path really is, for the POSIX platform layer: the canonical forms
 * and file identities that the guards decide on, the kind of what a path
 * names, and the symbolic links met on installer paths.  Paths are mapped
 * by posix_resolve.cpp; every call to the system goes through the table.
 *
 * Not here: the mapping itself and its case-blind resolver
 * (posix_resolve.cpp), nor the wrappers that make calls on files
 * (posix_files.cpp).
 */
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

/* ---- what a path really is ---- */

/* Appends "/" and name to the absolute path buf (length *len). */
static int append_name(char *buf, size_t *len, size_t size, const char *name, size_t n)
{
    int sep = !(*len == 1 && buf[0] == '/');
    if (*len + sep + n + 1 > size) return 0;
    if (sep) buf[(*len)++] = '/';
    memcpy(buf + *len, name, n);
    *len += n;
    buf[*len] = '\0';
    return 1;
}

/* Drops the last name of the absolute path buf; "/" stays "/". */
static void drop_name(char *buf, size_t *len)
{
    while (*len > 1 && buf[*len - 1] != '/') (*len)--;
    if (*len > 1) (*len)--;
    buf[*len] = '\0';
}

/* Resolves the existing path out (length *len) in place by the file
 * system; *existing turns 0 when it does not exist, so the rest goes by
 * names.  0 with errno when it may exist but cannot be resolved. */
static int real_name(char *out, size_t *len, size_t size, int *existing)
{
    char real[PATH_MAX];
    if (!plat_syscall_table()->realpath(out, real)) {
        *existing = 0;
        return errno == ENOENT || errno == ENOTDIR;
    }
    *len = strlen(real);
    if (*len + 1 > size) {
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(out, real, *len + 1);
    return 1;
}

/* The real form of a native path: from the current directory or "/", each
 * name that exists is resolved by the file system (links, ".." beyond a
 * link), the rest by its names alone. */
static int real_form(const char *native, char *out, size_t size)
{
    size_t len;
    if (native[0] == '/') {
        out[0] = '/';
        out[1] = '\0';
    } else if (!sys().getcwd(out, size)) {
        return 0;
    }
    len = strlen(out);
    int existing = 1;
    for (const char *p = native; *p;) {
        size_t n = strcspn(p, "/");
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            drop_name(out, &len);
        } else if (n > 0 && !(n == 1 && p[0] == '.')) {
            if (!append_name(out, &len, size, p, n) || (existing && !real_name(out, &len, size, &existing))) return 0;
        }
        p += n;
        if (*p) p++;
    }
    return 1;
}

int plat_canonical_path(const char *path, char *buf, int size)
{
    char native[PLAT_NATIVE_MAX];
    if (!buf || size < 2 || !plat_native_path(path, native, sizeof native)) return 0;
    return real_form(native, buf, (size_t)size);
}

int plat_canonical_child(const char *canonical_folder, const char *path, const char *known, char *buf, int size)
{
    char mapped[PLAT_NATIVE_MAX];
    if (!canonical_folder || !buf || size < 2) return 0;
    const char *native = known && known[0] ? known : mapped; /* mapped only when no look-up gave it */
    if (native == mapped && !plat_native_path(path, mapped, sizeof mapped)) return 0;
    const char *slash = strrchr(native, '/');
    const char *name = slash ? slash + 1 : native;
    if (!*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return plat_canonical_path(path, buf, size);
    const char *sep = strcmp(canonical_folder, "/") == 0 ? "" : "/";
    int n = snprintf(buf, (size_t)size, "%s%s%s", canonical_folder, sep, name);
    return n > 0 && n < size;
}

/* Device and inode of a path (links followed): 1, 0 when nothing is
 * there, -1 with errno when what is there cannot be told. */
static int identity(const char *native, struct stat *st)
{
    if (plat_syscall_table()->stat(native, st) == 0) return 1;
    return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

/* Whether a and b are the same file by identity; one that is not there is
 * no other's. */
static int same_identity(const char *a, const char *b)
{
    struct stat sa, sb;
    int ka = identity(a, &sa), kb = ka < 0 ? ka : identity(b, &sb);
    if (ka < 0 || kb < 0) return PLAT_UNKNOWN;
    return ka && kb && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? PLAT_YES : PLAT_NO;
}

/* 1 when the real path outer is inner or one of its ancestors by name. */
static int holds_by_name(const char *outer, const char *inner)
{
    size_t n = strlen(outer);
    if (strcmp(outer, "/") == 0) return 1;
    return strncmp(outer, inner, n) == 0 && (inner[n] == '\0' || inner[n] == '/');
}

/* Both canonical forms, or 0 with errno. */
static int canonical_pair(const char *a, char *ca, const char *b, char *cb)
{
    errno = 0;
    return plat_canonical_path(a, ca, PLAT_NATIVE_MAX) && plat_canonical_path(b, cb, PLAT_NATIVE_MAX);
}

int plat_same_dir(const char *a, const char *b)
{
    char ra[PLAT_NATIVE_MAX], rb[PLAT_NATIVE_MAX];
    if (!canonical_pair(a, ra, b, rb)) return PLAT_UNKNOWN;
    return strcmp(ra, rb) == 0 ? PLAT_YES : same_identity(ra, rb);
}

int plat_dir_contains(const char *outer, const char *inner)
{
    char ro[PLAT_NATIVE_MAX], ri[PLAT_NATIVE_MAX];
    struct stat so, si;
    if (!canonical_pair(outer, ro, inner, ri)) return PLAT_UNKNOWN;
    if (holds_by_name(ro, ri)) return PLAT_YES;
    int k = identity(ro, &so);
    if (k <= 0) return k < 0 ? PLAT_UNKNOWN : PLAT_NO; /* a folder not there holds nothing by identity */
    /* the same folder reached another way (a bind mount): inner or an
     * ancestor of it is outer itself */
    for (size_t len = strlen(ri);;) {
        if ((k = identity(ri, &si)) < 0) return PLAT_UNKNOWN;
        if (k && si.st_dev == so.st_dev && si.st_ino == so.st_ino) return PLAT_YES;
        if (len <= 1) return PLAT_NO;
        drop_name(ri, &len);
    }
}

/* The drive, or a folder that holds it, by name or by identity: a link to
 * it, or a second mount of a folder above it. */
int plat_is_root(const char *path) { return plat_dir_contains(path, "\\"); }

int plat_native_same_file(const char *native, const char *path)
{
    char mapped[PLAT_NATIVE_MAX];
    return path && plat_native_path(path, mapped, sizeof mapped) && plat_same_native_files(native, mapped);
}

int plat_same_native_files(const char *a, const char *b)
{
    char ra[PLAT_NATIVE_MAX], rb[PLAT_NATIVE_MAX];
    if (!a || !b || !real_form(a, ra, sizeof ra) || !real_form(b, rb, sizeof rb)) return 0;
    return strcmp(ra, rb) == 0 || same_identity(ra, rb) == PLAT_YES;
}

int plat_names_native(const char *path, const char *native)
{
    char mapped[PLAT_NATIVE_MAX];
    if (!path || !native || !posix_map_literal(path, mapped, sizeof mapped)) return 0;
    if (strcmp(mapped, native) == 0) return 1;
    /* the mapping changes only the case of names */
    if (strcasecmp(mapped, native) != 0) return 0;
    return plat_native_path(path, mapped, sizeof mapped) && strcmp(mapped, native) == 0;
}

static int kind_of_mode(mode_t mode)
{
    if (S_ISREG(mode)) return PLAT_KIND_FILE;
    return S_ISDIR(mode) ? PLAT_KIND_DIR : PLAT_KIND_OTHER; /* links, devices, pipes */
}

int plat_native_kind(const char *native)
{
    struct stat st;
    return sys().lstat(native, &st) == 0 ? kind_of_mode(st.st_mode) : PLAT_KIND_NONE;
}

int plat_name_kind(plat_name *n)
{
    struct stat st;
    const char *name;
    int at = plat_name_at(n, &name);
    if (at < 0) return plat_native_kind(n->native);
    if (sys().lstat_at(at, name, &st) != 0) return PLAT_KIND_NONE;
    n->mode = st.st_mode; /* kept for a replace of it, which then needs no second look */
    n->uid = st.st_uid;
    n->gid = st.st_gid;
    return kind_of_mode(st.st_mode);
}

/* The kind of what a mapping found at native. */
static int kind_of(const char *native, const posix_map *m)
{
    if (m->how == MAP_LOOKED_UP && !m->found) return PLAT_KIND_NONE; /* its folder lacks it */
    if (m->how == MAP_EXISTS) return kind_of_mode(m->mode);          /* the mapping's lstat, just now */
    return plat_native_kind(native);
}

int plat_path_kind(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    posix_map m;
    if (!path || !posix_map_path(path, native, sizeof native, &m)) return PLAT_KIND_NONE;
    return kind_of(native, &m);
}

int plat_look_up(const char *path, plat_name *n)
{
    posix_map m;
    n->kind = PLAT_KIND_NONE;
    n->error = 0;
    n->in = nullptr;
    n->mode = 0;
    if (!path || !posix_map_path(path, n->native, sizeof n->native, &m)) {
        n->error = path && errno ? errno : EINVAL;
        n->native[0] = '\0';
    } else {
        n->kind = kind_of(n->native, &m);
    }
    return n->kind;
}

int plat_native_equal(const char *a, const char *b) { return a && b && strcmp(a, b) == 0; }

int plat_is_link(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    posix_map m;
    if (!path || !posix_map_path(path, native, sizeof native, &m)) return 0;
    if (m.how == MAP_EXISTS) return S_ISLNK(m.mode); /* the mapping's lstat, just now */
    struct stat st;
    return sys().lstat(native, &st) == 0 && S_ISLNK(st.st_mode);
}

int plat_opens_elsewhere(const char *) { return 0; } /* what writes or removes here never follows a link */

int plat_copy_link(const char *from, const char *to)
{
    char nf[PLAT_NATIVE_MAX], nt[PLAT_NATIVE_MAX], target[PLAT_NATIVE_MAX];
    if (!from || !to || !plat_native_path(from, nf, sizeof nf) || !plat_native_path(to, nt, sizeof nt)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    ssize_t n = sys().readlink(nf, target, sizeof target - 1);
    if (n < 0) return -1;
    target[n] = '\0';
    return sys().symlink(target, nt) == 0 ? 0 : -1;
}

#endif
