/* Path mapping for the POSIX platform layer: installer paths (Windows
 * style) to native ones, resolving case-blind (through the kept listings of
 * posix_listing.cpp) where a name does not exist with its exact case, and
 * the canonical forms and identities that the guards decide on.  Every call
 * to the system goes through the table.
 */
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

/* ---- path mapping ---- */

/* Looks `name` up case-blind in the kept listing of directory `dir`: 1 and
 * the real name in out, 0 when nothing matches (or the directory cannot be
 * read), -1 when more than one name does and none exactly. */
static int find_case_blind(const char *dir, const char *name, char *out, size_t size)
{
    struct stat st;
    int ambiguous = 0;
    if (sys().stat(dir[0] ? dir : ".", &st) != 0) return 0;
    listing *l = listing_of(dir, &st);
    const char *real = l ? listing_find(l, name, &ambiguous) : nullptr;
    if (ambiguous) return -1;
    if (!real || strlen(real) >= size) return 0;
    memcpy(out, real, strlen(real) + 1);
    return 1;
}

/* Appends component comp to the native path buf (length *len), resolving
 * its case while the path so far exists.  *resolving turns 0 once a
 * component is missing: the rest is taken as given.  With *resolving 0 from
 * the start the path is mapped literally. */
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
    if (*resolving && strcmp(comp, ".") != 0 && strcmp(comp, "..") != 0 && sys().lstat(buf, &st) != 0) {
        char parent[PLAT_NATIVE_MAX];
        memcpy(parent, buf, base);
        parent[base] = '\0';
        int found = find_case_blind(parent, comp, real, sizeof real);
        if (found < 0) {
            errno = ENOTUNIQ;
            return 0;
        }
        if (found)
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

static int is_drive_prefix(const char *p) { return isalpha((unsigned char)p[0]) && p[1] == ':'; }

/* The drive root: QUILLOR_ROOT, or "/" without it. */
static const char *drive_root()
{
    const char *root = getenv("QUILLOR_ROOT");
    return root && root[0] ? root : "/";
}

/* Whether a relative path's ".." components climb above its start. */
static int climbs_above_start(const char *p)
{
    int depth = 0;
    while (*p) {
        size_t n = strcspn(p, "\\/");
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            if (--depth < 0) return 1;
        } else if (n > 0 && !(n == 1 && p[0] == '.')) {
            depth++;
        }
        p += n;
        if (*p) p++;
    }
    return 0;
}

/* The current directory as the start of a path that climbs out of it; its
 * floor is the drive root when the directory lies inside that, else "/". */
static int start_at_cwd(char *buf, size_t size, size_t *len, size_t *floor)
{
    char real_root[PATH_MAX];
    if (!sys().getcwd(buf, size)) return 0;
    *len = strlen(buf);
    *floor = 1;
    if (sys().realpath(drive_root(), real_root)) {
        size_t rl = strlen(real_root);
        if (rl > 1 && strncmp(buf, real_root, rl) == 0 && (buf[rl] == '\0' || buf[rl] == '/')) *floor = rl;
    }
    return 1;
}

/* Where a path starts: the root (QUILLOR_ROOT or "/") for a rooted path,
 * nothing (the current directory) for a relative one, or the current
 * directory spelled out when the path climbs above it.  *floor is the
 * length that ".." never cuts into. */
static const char *path_start(const char **p, char *buf, size_t size, size_t *len, size_t *floor)
{
    if (is_drive_prefix(*p)) *p += 2;
    *len = *floor = 0;
    buf[0] = '\0';
    if (**p != '\\' && **p != '/') {
        if (!climbs_above_start(*p)) return buf;
        return start_at_cwd(buf, size, len, floor) ? buf : nullptr;
    }
    const char *root = drive_root();
    size_t rl = strlen(root);
    if (rl + 1 > size) return nullptr;
    memcpy(buf, root, rl + 1);
    *len = *floor = rl;
    return buf;
}

/* ".." taken lexically: drops the last component of buf, never cutting
 * into the first `floor` bytes (the drive root, or a leading "."). */
static void drop_component(char *buf, size_t *len, size_t floor)
{
    size_t n = *len;
    while (n > floor && buf[n - 1] == '/') n--;
    while (n > floor && buf[n - 1] != '/') n--;
    while (n > floor && n > 1 && buf[n - 1] == '/') n--;
    *len = n;
    buf[n] = '\0';
}

/* Maps path component by component, resolving case when `resolve`.  "."
 * is dropped (but for a leading one) and ".." resolved lexically, so no
 * path leaves the drive root. */
static int map_path(const char *path, char *buf, int size, int resolve)
{
    size_t len, floor;
    int resolving = resolve;
    if (!path_start(&path, buf, (size_t)size, &len, &floor)) return 0;
    char comp[PLAT_NATIVE_MAX];
    while (*path) {
        size_t n = strcspn(path, "\\/");
        if (n >= sizeof comp) return 0;
        memcpy(comp, path, n);
        comp[n] = '\0';
        if (strcmp(comp, "..") == 0) {
            drop_component(buf, &len, floor);
            resolving = resolve; /* back on a path whose case was resolved */
        } else if (n > 0 && (strcmp(comp, ".") != 0 || len == 0)) {
            if (!add_component(buf, &len, (size_t)size, comp, &resolving)) return 0;
            if (strcmp(comp, ".") == 0) floor = len; /* ".\.." stays here, as the path started */
        }
        path += n;
        if (*path) path++;
        if (*path == '\0' && (path[-1] == '\\' || path[-1] == '/') && n > 0 && len > 0 && buf[len - 1] != '/') {
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

/* The literal path is missing.  When its directory exists as written, every
 * component before the last exists with its exact case, so only the last
 * one needs looking up; it is replaced in buf by the name found, which has
 * the same length.  Returns 0 when the whole path must be resolved, -1
 * when the last name matches several entries case-blind. */
static int resolve_last(char *buf, posix_map *m)
{
    size_t end = strlen(buf);
    if (end > 0 && buf[end - 1] == '/') end--;
    size_t start = end;
    while (start > 0 && buf[start - 1] != '/') start--;
    char name[NAME_MAX + 1], dir[PLAT_NATIVE_MAX];
    if (end == start || end - start > NAME_MAX) return 0;
    memcpy(name, buf + start, end - start);
    name[end - start] = '\0';
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    memcpy(dir, buf, start);
    dir[start] = '\0';
    struct stat st;
    if (sys().stat(start ? dir : ".", &st) != 0) return 0;
    listing *l = listing_of(dir, &st);
    int ambiguous = 0;
    const char *real = l ? listing_find(l, name, &ambiguous) : nullptr;
    if (ambiguous) return -1;
    if (real) memcpy(buf + start, real, end - start); /* equal ignoring case: same length */
    if (l) remember_map(m, MAP_LOOKED_UP, nullptr, l, real != nullptr);
    return 1;
}

/* Most paths exist as written: one lstat settles them.  Only a missing path
 * is resolved, and then its last name alone whenever that suffices. */
int posix_map_path(const char *path, char *buf, int size, posix_map *m)
{
    m->how = MAP_OTHER;
    if (!path || !buf || size < 2) return 0;
    errno = ENAMETOOLONG; /* what a failed mapping means, unless a name was ambiguous */
    if (!map_path(path, buf, size, 0)) return 0;
    struct stat st;
    if (sys().lstat(buf, &st) == 0) {
        remember_map(m, MAP_EXISTS, &st, nullptr, 0);
        return 1;
    }
    int last = resolve_last(buf, m);
    if (last < 0) errno = ENOTUNIQ;
    if (last) return last > 0;
    errno = 0;
    if (map_path(path, buf, size, 1)) return 1;
    if (errno != ENOTUNIQ) errno = ENAMETOOLONG;
    return 0;
}

int posix_map_literal(const char *path, char *buf, int size)
{
    errno = ENAMETOOLONG;
    return path && buf && size >= 2 && map_path(path, buf, size, 0);
}

/* Whether a listing is kept for the directory of the native path. */
static int listing_kept_for(const char *native)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    return split_native(native, dir, name) && listing_cached(dir) != nullptr;
}

/* Where the folder does not exist as written, or no listing of it is kept,
 * the whole path is mapped as usual. */
int posix_map_create(const char *path, char *buf, int size, posix_map *m)
{
    m->how = MAP_OTHER;
    if (!posix_map_literal(path, buf, size)) return 0;
    int last = listing_kept_for(buf) ? resolve_last(buf, m) : 0;
    if (last < 0) errno = ENOTUNIQ;
    if (last) return last > 0;
    return posix_map_path(path, buf, size, m);
}

int plat_native_path(const char *path, char *buf, int size)
{
    posix_map m;
    return posix_map_path(path, buf, size, &m);
}

int plat_path_ambiguous(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    return path && !plat_native_path(path, native, sizeof native) && errno == ENOTUNIQ;
}

/* No name is a device here: "nul" is a folder like any other. */
int plat_device_name(const char *, char *device, int size)
{
    if (device && size > 0) device[0] = '\0';
    return 0;
}

/* Names are bytes here, and UTF-8 is what they usually hold. */
int plat_from_utf8(char *, int) { return 1; }

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
            if (!append_name(out, &len, size, p, n) || (existing && !real_name(out, &len, size, &existing)))
                return 0;
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

int plat_canonical_child(const char *canonical_folder, const char *path, char *buf, int size)
{
    char native[PLAT_NATIVE_MAX];
    if (!canonical_folder || !buf || size < 2 || !plat_native_path(path, native, sizeof native)) return 0;
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

int plat_is_root(const char *path)
{
    char real[PLAT_NATIVE_MAX], root[PLAT_NATIVE_MAX];
    if (!canonical_pair(path, real, "\\", root)) return PLAT_UNKNOWN;
    if (strcmp(real, "/") == 0 || holds_by_name(real, root)) return PLAT_YES; /* the drive, or all that holds it */
    int r = same_identity(real, root);
    return r == PLAT_NO ? same_identity(real, "/") : r;
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

/* The kind of what a mapping found at native. */
static int kind_of(const char *native, const posix_map *m)
{
    struct stat st;
    if (m->how == MAP_LOOKED_UP && !m->found) return PLAT_KIND_NONE; /* its folder lacks it */
    if (m->how == MAP_EXISTS)
        st.st_mode = m->mode; /* the mapping's lstat, just now */
    else if (sys().lstat(native, &st) != 0)
        return PLAT_KIND_NONE;
    if (S_ISREG(st.st_mode)) return PLAT_KIND_FILE;
    return S_ISDIR(st.st_mode) ? PLAT_KIND_DIR : PLAT_KIND_OTHER; /* links, devices, pipes */
}

int plat_path_kind(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    posix_map m;
    if (!path || !posix_map_path(path, native, sizeof native, &m)) return PLAT_KIND_NONE;
    return kind_of(native, &m);
}

static_assert(sizeof(posix_map) <= sizeof(((plat_name *)nullptr)->seen), "plat_name holds a mapping");

int plat_look_up(const char *path, plat_name *n)
{
    posix_map m;
    n->kind = PLAT_KIND_NONE;
    n->error = 0;
    if (!path || !posix_map_create(path, n->native, sizeof n->native, &m)) {
        n->error = path && errno ? errno : EINVAL;
        n->native[0] = '\0';
        m.how = MAP_OTHER;
    } else {
        n->kind = kind_of(n->native, &m);
    }
    memcpy(n->seen, &m, sizeof m);
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

int plat_copy_link(const char *from, const char *to)
{
    char nf[PLAT_NATIVE_MAX], nt[PLAT_NATIVE_MAX], target[PLAT_NATIVE_MAX];
    posix_map m;
    if (!from || !to || !plat_native_path(from, nf, sizeof nf) || !posix_map_path(to, nt, sizeof nt, &m)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    ssize_t n = sys().readlink(nf, target, sizeof target - 1);
    if (n < 0) return -1;
    target[n] = '\0';
    if (sys().symlink(target, nt) != 0) return -1;
    note_created(&m, nt); /* the case-blind lookups must see the new name */
    return 0;
}

#endif
