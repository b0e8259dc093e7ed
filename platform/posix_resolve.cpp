/* Path mapping for the POSIX platform layer: installer paths (Windows
 * style) to native ones, resolving case-blind (by reading the folder)
 * where a name does not exist with its exact case.  A copy step, which
 * looks up many names in one folder, uses a folder handle instead
 * (folder.cpp).
 * Every call to the system goes through the table.
 *
 * Not here: the canonical forms and identities that the guards decide on
 * (posix_canonical.cpp), nor the calls made with a mapped path.
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

void remember_map(posix_map *m, map_result how, const struct stat *st, int found)
{
    m->how = how;
    m->mode = st ? st->st_mode : 0;
    m->found = found;
}

/* Splits a native path into its directory, as the lookups name it ("" or
 * ending with "/"), and its last name.  0 when there is no name. */
int split_native(const char *native, char *dir, char *name)
{
    size_t end = strlen(native);
    if (end > 0 && native[end - 1] == '/') end--;
    size_t start = end;
    while (start > 0 && native[start - 1] != '/') start--;
    if (end == start || end - start > NAME_MAX || start >= PLAT_NATIVE_MAX) return 0;
    memcpy(dir, native, start);
    dir[start] = '\0';
    memcpy(name, native + start, end - start);
    name[end - start] = '\0';
    return 1;
}

/* Looks `name` up case-blind in directory `dir` ("" or ending with "/"),
 * reading it whole: 1 and the real name in out, 0 when nothing matches (or
 * the directory cannot be read), -1 when more than one name does and none
 * exactly, since no choice between them could be right. */
static int find_case_blind(const char *dir, const char *name, char *out, size_t size)
{
    void *d = sys().dir_open(dir[0] ? dir : ".", 0);
    if (!d) return 0;
    plat_find_entry e;
    int matches = 0, exact = 0;
    while (!exact && sys().dir_read(d, &e)) {
        size_t len = strlen(e.name);
        if (len >= size || strcasecmp(e.name, name) != 0 || (e.attrib & PLAT_ATTR_UNNAMED)) continue;
        exact = strcmp(e.name, name) == 0;
        if (++matches == 1 || exact) memcpy(out, e.name, len + 1);
    }
    sys().dir_close(d);
    return exact ? 1 : matches > 1 ? -1 : matches;
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
    char name[NAME_MAX + 1], dir[PLAT_NATIVE_MAX], real[NAME_MAX + 1];
    if (!split_native(buf, dir, name) || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    struct stat st;
    if (sys().stat(dir[0] ? dir : ".", &st) != 0) return 0;
    int found = find_case_blind(dir, name, real, sizeof real);
    if (found < 0) return -1;
    if (found) memcpy(buf + strlen(dir), real, strlen(real)); /* equal ignoring case: same length */
    remember_map(m, MAP_LOOKED_UP, nullptr, found);
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
        remember_map(m, MAP_EXISTS, &st, 0);
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

/* Nor does the system drop a trailing dot or space: "x." is not "x". */
int plat_misread_name(const char *, char *name, int size)
{
    if (name && size > 0) name[0] = '\0';
    return 0;
}

/* Names are bytes here, and UTF-8 is what they usually hold. */
int plat_from_utf8(char *, int) { return 1; }

#endif
