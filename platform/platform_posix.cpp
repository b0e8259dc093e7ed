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
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

constexpr int NATIVE_MAX = 4096;

/* ---- case-blind lookups through kept listings ----
 *
 * Resolving a name that does not exist with its exact case means reading its
 * directory.  Copying thousands of new files into one directory would read
 * the whole directory once per file, so listings are kept: the names of a
 * directory in a hash table keyed by their case-folded form.  Before every
 * use a listing is checked against the directory's identity and change
 * times (device, inode, mtime, ctime) and read again when anything changed
 * it.  A change this process makes itself right after such a check (a file
 * created, a directory made, a rename) is entered into the listing instead,
 * and the times are taken afresh; a change by another process within that
 * one system call, or within one clock tick on a kernel with coarse
 * directory times, could go unseen until the directory changes again.
 */

constexpr int LISTING_SLOTS = 4;          /* directories whose listings are kept */
constexpr size_t LISTING_MIN_BUCKETS = 64;

struct listed_name {
    listed_name *next;
    unsigned long order; /* position in the listing: the first match wins */
    unsigned hash;
    char *name;          /* stored right behind the record */
};

struct listing {
    char dir[NATIVE_MAX]; /* as the lookups name it: "" or ending with "/" */
    dev_t dev;
    ino_t ino;
    struct timespec mtime, ctime;
    listed_name **buckets;
    size_t nbuckets, count;
    unsigned long next_order, last_use;
    int valid;
};

static listing listings[LISTING_SLOTS];
static unsigned long listing_clock;
static unsigned char fold_table[256];

static unsigned char fold(unsigned char c)
{
    if (!fold_table[(unsigned char)'A'])
        for (int i = 0; i < 256; i++) fold_table[i] = (unsigned char)tolower(i);
    return fold_table[c];
}

static unsigned fold_hash(const char *s)
{
    unsigned h = 2166136261u; /* FNV-1a over the case-folded bytes */
    for (; *s; s++) h = (h ^ fold((unsigned char)*s)) * 16777619u;
    return h;
}

static void listing_clear(listing *l)
{
    for (size_t i = 0; i < l->nbuckets; i++)
        for (listed_name *n = l->buckets[i], *next; n; n = next) {
            next = n->next;
            free(n);
        }
    free(l->buckets);
    l->buckets = nullptr;
    l->nbuckets = l->count = 0;
    l->next_order = 0;
    l->valid = 0;
}

static int listing_rehash(listing *l, size_t nbuckets)
{
    listed_name **b = (listed_name **)calloc(nbuckets, sizeof *b);
    if (!b) return 0;
    for (size_t i = 0; i < l->nbuckets; i++)
        for (listed_name *n = l->buckets[i], *next; n; n = next) {
            next = n->next;
            n->next = b[n->hash % nbuckets];
            b[n->hash % nbuckets] = n;
        }
    free(l->buckets);
    l->buckets = b;
    l->nbuckets = nbuckets;
    return 1;
}

static int listing_add(listing *l, const char *name)
{
    if (l->count >= l->nbuckets && !listing_rehash(l, l->nbuckets ? l->nbuckets * 2 : LISTING_MIN_BUCKETS))
        return 0;
    size_t len = strlen(name);
    listed_name *n = (listed_name *)malloc(sizeof *n + len + 1);
    if (!n) return 0;
    n->name = (char *)(n + 1);
    memcpy(n->name, name, len + 1);
    n->hash = fold_hash(name);
    n->order = l->next_order++;
    n->next = l->buckets[n->hash % l->nbuckets];
    l->buckets[n->hash % l->nbuckets] = n;
    l->count++;
    return 1;
}

static void listing_remove(listing *l, const char *name)
{
    if (!l->nbuckets) return;
    for (listed_name **at = &l->buckets[fold_hash(name) % l->nbuckets]; *at; at = &(*at)->next)
        if (strcmp((*at)->name, name) == 0) {
            listed_name *gone = *at;
            *at = gone->next;
            free(gone);
            l->count--;
            return;
        }
}

/* The one name that matches case-blind.  Two or more such names (and no
 * exact one, or it would not be looked up) make the name ambiguous: null,
 * with *ambiguous set, since no choice between them could be right. */
static const char *listing_find(const listing *l, const char *name, int *ambiguous)
{
    *ambiguous = 0;
    if (!l->nbuckets) return nullptr;
    unsigned h = fold_hash(name);
    const listed_name *found = nullptr;
    for (const listed_name *n = l->buckets[h % l->nbuckets]; n; n = n->next) {
        if (n->hash != h || strcasecmp(n->name, name) != 0) continue;
        if (found) {
            *ambiguous = 1;
            return nullptr;
        }
        found = n;
    }
    return found ? found->name : nullptr;
}

static int same_times(const struct timespec *a, const struct timespec *b)
{
    return a->tv_sec == b->tv_sec && a->tv_nsec == b->tv_nsec;
}

static int listing_current(const listing *l, const struct stat *st)
{
    return l->valid && l->dev == st->st_dev && l->ino == st->st_ino && same_times(&l->mtime, &st->st_mtim) &&
           same_times(&l->ctime, &st->st_ctim);
}

static void listing_stamp(listing *l, const struct stat *st)
{
    l->dev = st->st_dev;
    l->ino = st->st_ino;
    l->mtime = st->st_mtim;
    l->ctime = st->st_ctim;
}

/* Reads directory dir into l; st is the directory's state taken before, so
 * that a change made while reading shows at the next check. */
static int listing_load(listing *l, const char *dir, const struct stat *st)
{
    listing_clear(l);
    DIR *d = opendir(dir[0] ? dir : ".");
    if (!d) return 0;
    int ok = 1;
    for (struct dirent *e; ok && (e = readdir(d)) != nullptr;) ok = listing_add(l, e->d_name);
    closedir(d);
    if (!ok) {
        listing_clear(l);
        return 0;
    }
    memcpy(l->dir, dir, strlen(dir) + 1);
    listing_stamp(l, st);
    l->valid = 1;
    return 1;
}

static listing *listing_cached(const char *dir)
{
    for (listing &l : listings)
        if (l.valid && strcmp(l.dir, dir) == 0) return &l;
    return nullptr;
}

/* The listing of dir (whose state is st), read again when it changed. */
static listing *listing_of(const char *dir, const struct stat *st)
{
    if (strlen(dir) >= NATIVE_MAX) return nullptr;
    listing *l = listing_cached(dir);
    if (!l) {
        l = &listings[0];
        for (listing &c : listings)
            if (!c.valid || c.last_use < l->last_use) l = &c; /* a free slot, else the oldest */
    }
    l->last_use = ++listing_clock;
    if (listing_current(l, st) && strcmp(l->dir, dir) == 0) return l;
    return listing_load(l, dir, st) ? l : nullptr;
}

/* ---- what the last mapping found ----
 *
 * The calls on native paths below use it: a file known to be a regular file
 * needs no second look before it is opened, and a name just looked up in a
 * current listing can be entered into it once the call has made it. */

enum map_result { MAP_OTHER, MAP_EXISTS, MAP_LOOKED_UP };

static struct {
    map_result how;
    char path[NATIVE_MAX]; /* the native path mapped */
    mode_t mode;           /* MAP_EXISTS: the entry's type */
    nlink_t links;         /* MAP_EXISTS: its number of links */
    listing *in;           /* MAP_LOOKED_UP: the listing its directory had */
    int found;             /* MAP_LOOKED_UP: the name was there in another case */
} last_map;

static void remember_map(map_result how, const char *path, const struct stat *st, listing *in, int found)
{
    last_map.how = how;
    memcpy(last_map.path, path, strlen(path) + 1);
    last_map.mode = st ? st->st_mode : 0;
    last_map.links = st ? st->st_nlink : 0;
    last_map.in = in;
    last_map.found = found;
}

static int mapped_as(map_result how, const char *native)
{
    return last_map.how == how && strcmp(last_map.path, native) == 0;
}

/* ---- path mapping ---- */

/* Finds `name` case-blind in directory `dir`; copies the real name into
 * out.  Returns 1 when found. */
/* 1 and the real name in out, 0 when nothing matches, -1 when more than
 * one name does. */
static int find_case_blind(const char *dir, const char *name, char *out, size_t size)
{
    struct stat st;
    int ambiguous = 0;
    if (stat(dir[0] ? dir : ".", &st) != 0) return 0;
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
    if (*resolving && strcmp(comp, ".") != 0 && strcmp(comp, "..") != 0 && lstat(buf, &st) != 0) {
        char parent[NATIVE_MAX];
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

static int is_drive_prefix(const char *p)
{
    return isalpha((unsigned char)p[0]) && p[1] == ':';
}

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
    if (!getcwd(buf, size)) return 0;
    *len = strlen(buf);
    *floor = 1;
    if (realpath(drive_root(), real_root)) {
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
    char comp[NATIVE_MAX];
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
static int resolve_last(char *buf)
{
    size_t end = strlen(buf);
    if (end > 0 && buf[end - 1] == '/') end--;
    size_t start = end;
    while (start > 0 && buf[start - 1] != '/') start--;
    char name[NAME_MAX + 1], dir[NATIVE_MAX];
    if (end == start || end - start > NAME_MAX) return 0;
    memcpy(name, buf + start, end - start);
    name[end - start] = '\0';
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    memcpy(dir, buf, start);
    dir[start] = '\0';
    struct stat st;
    if (stat(start ? dir : ".", &st) != 0) return 0;
    listing *l = listing_of(dir, &st);
    int ambiguous = 0;
    const char *real = l ? listing_find(l, name, &ambiguous) : nullptr;
    if (ambiguous) return -1;
    if (real) memcpy(buf + start, real, end - start); /* equal ignoring case: same length */
    if (l) remember_map(MAP_LOOKED_UP, buf, nullptr, l, real != nullptr);
    return 1;
}

/* Most paths exist as written: one lstat settles them.  Only a missing path
 * is resolved, and then its last name alone whenever that suffices. */
int plat_native_path(const char *path, char *buf, int size)
{
    last_map.how = MAP_OTHER;
    if (!path || !buf || size < 2) return 0;
    errno = ENAMETOOLONG;  /* what a failed mapping means, unless a name was ambiguous */
    if (!map_path(path, buf, size, 0)) return 0;
    struct stat st;
    if (lstat(buf, &st) == 0) {
        remember_map(MAP_EXISTS, buf, &st, nullptr, 0);
        return 1;
    }
    int last = resolve_last(buf);
    if (last < 0) errno = ENOTUNIQ;
    if (last) return last > 0;
    errno = 0;
    if (map_path(path, buf, size, 1)) return 1;
    if (errno != ENOTUNIQ) errno = ENAMETOOLONG;
    return 0;
}

int plat_path_ambiguous(const char *path)
{
    char native[NATIVE_MAX];
    return path && !plat_native_path(path, native, sizeof native) && errno == ENOTUNIQ;
}

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

/* The real form of a native path: from the current directory or "/", each
 * name that exists is resolved by the file system (links, ".." beyond a
 * link), the rest by its names alone. */
static int real_form(const char *native, char *out, size_t size)
{
    char real[PATH_MAX];
    size_t len;
    if (native[0] == '/') {
        out[0] = '/';
        out[1] = '\0';
    } else if (!getcwd(out, size)) {
        return 0;
    }
    len = strlen(out);
    int existing = 1;
    for (const char *p = native; *p;) {
        size_t n = strcspn(p, "/");
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            drop_name(out, &len);
        } else if (n > 0 && !(n == 1 && p[0] == '.')) {
            if (!append_name(out, &len, size, p, n)) return 0;
            if (existing && realpath(out, real)) {
                if (strlen(real) + 1 > size) return 0;
                memcpy(out, real, strlen(real) + 1);
                len = strlen(out);
            } else {
                existing = 0; /* the rest does not exist: names only */
            }
        }
        p += n;
        if (*p) p++;
    }
    return 1;
}

int plat_canonical_path(const char *path, char *buf, int size)
{
    char native[NATIVE_MAX];
    if (!buf || size < 2 || !plat_native_path(path, native, sizeof native)) return 0;
    return real_form(native, buf, (size_t)size);
}

/* Device and inode of an existing path (links followed). */
static int identity(const char *native, struct stat *st)
{
    return stat(native, st) == 0;
}

static int same_identity(const char *a, const char *b)
{
    struct stat sa, sb;
    return identity(a, &sa) && identity(b, &sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

/* 1 when the real path outer is inner or one of its ancestors by name. */
static int holds_by_name(const char *outer, const char *inner)
{
    size_t n = strlen(outer);
    if (strcmp(outer, "/") == 0) return 1;
    return strncmp(outer, inner, n) == 0 && (inner[n] == '\0' || inner[n] == '/');
}

int plat_is_root(const char *path)
{
    char real[NATIVE_MAX], root[NATIVE_MAX];
    if (!plat_canonical_path(path, real, sizeof real) || !plat_canonical_path("\\", root, sizeof root)) return 0;
    if (strcmp(real, "/") == 0 || holds_by_name(real, root)) return 1; /* the drive, or all that holds it */
    return same_identity(real, root) || same_identity(real, "/");
}

int plat_same_dir(const char *a, const char *b)
{
    char ra[NATIVE_MAX], rb[NATIVE_MAX];
    if (!plat_canonical_path(a, ra, sizeof ra) || !plat_canonical_path(b, rb, sizeof rb)) return 0;
    return strcmp(ra, rb) == 0 || same_identity(ra, rb);
}

int plat_dir_contains(const char *outer, const char *inner)
{
    char ro[NATIVE_MAX], ri[NATIVE_MAX];
    struct stat so, si;
    if (!plat_canonical_path(outer, ro, sizeof ro) || !plat_canonical_path(inner, ri, sizeof ri)) return 0;
    if (holds_by_name(ro, ri)) return 1;
    if (!identity(ro, &so)) return 0;
    /* the same folder reached another way (a bind mount): inner or an
     * ancestor of it is outer itself */
    for (size_t len = strlen(ri);;) {
        if (identity(ri, &si) && si.st_dev == so.st_dev && si.st_ino == so.st_ino) return 1;
        if (len <= 1) return 0;
        drop_name(ri, &len);
    }
}

static void note_created(const char *native);

int plat_path_kind(const char *path)
{
    char native[NATIVE_MAX];
    struct stat st;
    if (!path || !plat_native_path(path, native, sizeof native)) return PLAT_KIND_NONE;
    if (mapped_as(MAP_LOOKED_UP, native) && !last_map.found) return PLAT_KIND_NONE; /* its folder lacks it */
    if (mapped_as(MAP_EXISTS, native))
        st.st_mode = last_map.mode; /* the mapping's lstat, just now */
    else if (lstat(native, &st) != 0)
        return PLAT_KIND_NONE;
    if (S_ISREG(st.st_mode)) return PLAT_KIND_FILE;
    return S_ISDIR(st.st_mode) ? PLAT_KIND_DIR : PLAT_KIND_OTHER; /* links, devices, pipes */
}

int plat_native_equal(const char *a, const char *b) { return a && b && strcmp(a, b) == 0; }

int plat_is_link(const char *path)
{
    char native[NATIVE_MAX];
    struct stat st;
    return path && plat_native_path(path, native, sizeof native) && lstat(native, &st) == 0 && S_ISLNK(st.st_mode);
}

int plat_copy_link(const char *from, const char *to)
{
    char nf[NATIVE_MAX], nt[NATIVE_MAX], target[NATIVE_MAX];
    if (!from || !to || !plat_native_path(from, nf, sizeof nf) || !plat_native_path(to, nt, sizeof nt)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    ssize_t n = readlink(nf, target, sizeof target - 1);
    if (n < 0) return -1;
    target[n] = '\0';
    if (symlink(target, nt) != 0) return -1;
    note_created(nt);  /* the case-blind lookups must see the new name */
    return 0;
}

/* ---- the real system calls ---- */

/* Splits a native path into its directory, as the lookups name it ("" or
 * ending with "/"), and its last name.  0 when there is no name. */
static int split_native(const char *native, char *dir, char *name)
{
    size_t end = strlen(native);
    if (end > 0 && native[end - 1] == '/') end--;
    size_t start = end;
    while (start > 0 && native[start - 1] != '/') start--;
    if (end == start || end - start > NAME_MAX || start >= NATIVE_MAX) return 0;
    memcpy(dir, native, start);
    dir[start] = '\0';
    memcpy(name, native + start, end - start);
    name[end - start] = '\0';
    return 1;
}

/* After a change of this process to directory dir: the times are taken
 * afresh.  Times that did not move (a kernel with coarse directory times)
 * are trusted only for a change that must have happened; otherwise the
 * listing is dropped, to be read again. */
static void restamp(listing *l, const char *dir, int sure)
{
    struct stat st;
    if (stat(dir[0] ? dir : ".", &st) != 0 ||
        (!sure && same_times(&st.st_mtim, &l->mtime) && same_times(&st.st_ctim, &l->ctime)))
        listing_clear(l);
    else
        listing_stamp(l, &st);
}

/* The listing, current right now, of the directory of a name that was just
 * looked up there; null when there is none. */
static listing *looked_up_listing(const char *native, char *dir, char *name)
{
    if (!mapped_as(MAP_LOOKED_UP, native) || !split_native(native, dir, name)) return nullptr;
    listing *l = last_map.in;
    return l->valid && strcmp(l->dir, dir) == 0 ? l : nullptr;
}

/* A file or directory was made at native: enter it into the listing that
 * the lookup before found current. */
static void note_created(const char *native)
{
    char dir[NATIVE_MAX], name[NAME_MAX + 1];
    listing *l = looked_up_listing(native, dir, name);
    if (!l || last_map.found) return; /* an existing entry was used */
    if (listing_add(l, name))
        restamp(l, dir, 1); /* a new entry: the directory changed */
    else
        listing_clear(l);
}

/* The listing a rename within one directory can keep current: the one the
 * target's lookup just checked, or else a kept one that is current now. */
static listing *rename_listing(const char *from, const char *to)
{
    char dir[NATIVE_MAX], name[NAME_MAX + 1], from_dir[NATIVE_MAX], from_name[NAME_MAX + 1];
    if (strcmp(from, to) == 0 || !split_native(from, from_dir, from_name) || !split_native(to, dir, name) ||
        strcmp(dir, from_dir) != 0)
        return nullptr;
    listing *l = looked_up_listing(to, dir, name);
    if (l || !mapped_as(MAP_EXISTS, to) || !(l = listing_cached(dir))) return l;
    struct stat st;
    return stat(dir[0] ? dir : ".", &st) == 0 && listing_current(l, &st) ? l : nullptr;
}

static void note_renamed(listing *l, const char *from, const char *to)
{
    char dir[NATIVE_MAX], name[NAME_MAX + 1];
    split_native(from, dir, name);
    listing_remove(l, name);
    split_native(to, dir, name);
    int new_name = mapped_as(MAP_LOOKED_UP, to) && !last_map.found;
    /* Over a target with one link, the source's name surely went; over one
     * with more, the source may have been that very file, and then nothing
     * changed. */
    int sure = new_name || (mapped_as(MAP_EXISTS, to) && last_map.links == 1);
    if (new_name && !listing_add(l, name))
        listing_clear(l);
    else
        restamp(l, dir, sure);
}

/* open(2) flags for an fopen mode.  Nothing waits in open: a pipe without
 * a writer would block a read open for ever, one without a reader a write
 * open.  A file written to is never reached through a link, and "w"
 * truncates only once the file is known to be a regular one. */
static int open_flags(const char *mode)
{
    int rw = strchr(mode, '+') ? O_RDWR : 0;
    int flags = O_NONBLOCK | O_CLOEXEC;
    if (mode[0] == 'r') return flags | (rw ? rw : O_RDONLY);
    if (mode[0] != 'w' && mode[0] != 'a') return -1;
    flags |= (rw ? rw : O_WRONLY) | O_CREAT | O_NOFOLLOW;
    if (mode[0] == 'a') flags |= O_APPEND;
    if (strchr(mode, 'x')) flags = (flags & ~O_NONBLOCK) | O_EXCL; /* only ever a new file */
    return flags;
}

/* Checks that fd is a regular file and makes it blocking again, truncating
 * it for "w".  A file this very open created is one.  0, or -1 with errno. */
static int settle_fd(int fd, const char *mode, int flags)
{
    struct stat st;
    if (flags & O_EXCL) return 0;
    if (fstat(fd, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : PLAT_ENOTREG;
        return -1;
    }
    if (mode[0] == 'w' && ftruncate(fd, 0) != 0) return -1;
    return fcntl(fd, F_SETFL, flags & O_APPEND); /* the status flags, O_NONBLOCK cleared */
}

FILE *plat_sys_fopen(const char *native, const char *mode)
{
    if (mode[0] == 'r' && mapped_as(MAP_LOOKED_UP, native) && !last_map.found) {
        last_map.how = MAP_OTHER; /* its directory, checked just now, has no such name */
        errno = ENOENT;
        return nullptr;
    }
    if (strchr(mode, 'x') && mapped_as(MAP_EXISTS, native)) {
        last_map.how = MAP_OTHER; /* seen just now: an exclusive create fails as it would */
        errno = EEXIST;
        return nullptr;
    }
    int flags = open_flags(mode);
    if (flags < 0) {
        last_map.how = MAP_OTHER;
        errno = EINVAL;
        return nullptr;
    }
    char fmode[8]; /* fdopen's mode: the letters it knows */
    snprintf(fmode, sizeof fmode, "%c%s", mode[0], strchr(mode, '+') ? "+" : "");
    FILE *f = nullptr;
#if defined(__GLIBC__)
    if (flags & O_EXCL) { /* the C library opens it as open_flags would: a new file, never a link */
        snprintf(fmode, sizeof fmode, "%c%sxe", mode[0], strchr(mode, '+') ? "+" : "");
        f = fopen(native, fmode);
        int err = errno;
        if (f) note_created(native);
        last_map.how = MAP_OTHER;
        errno = err;
        return f;
    }
#endif
    /* A file the mapping saw as a regular file just now is read or appended
     * to as one: the open does not wait (O_NONBLOCK, which a regular file
     * ignores), never follows a link for writing (O_NOFOLLOW), and a copy
     * reads its size with fstat, which refuses anything else. */
    int known_file = mode[0] != 'w' && mapped_as(MAP_EXISTS, native) && S_ISREG(last_map.mode);
    int fd = open(native, flags, 0666);
    if (fd >= 0 && ((!known_file && settle_fd(fd, mode, flags) != 0) || !(f = fdopen(fd, fmode)))) {
        int e = errno;
        close(fd);
        errno = e;
    }
    int err = errno;
    if (f && mode[0] != 'r') note_created(native);
    last_map.how = MAP_OTHER;
    errno = err;
    return f;
}

int plat_sys_remove(const char *native)
{
    last_map.how = MAP_OTHER; /* a kept listing notices by its times */
    return unlink(native);    /* a file or link, never a folder: as on Windows */
}

int plat_sys_rename(const char *from, const char *to)
{
    listing *l = rename_listing(from, to);
    int r = rename(from, to);
    int err = errno;
    if (r == 0 && l) note_renamed(l, from, to);
    last_map.how = MAP_OTHER;
    errno = err;
    return r;
}

int plat_sys_mkdir(const char *native)
{
    int r = mkdir(native, 0777);
    int err = errno;
    if (r == 0) note_created(native);
    last_map.how = MAP_OTHER;
    errno = err;
    return r;
}

int plat_sys_rmdir(const char *native)
{
    last_map.how = MAP_OTHER;
    int r = rmdir(native);
    if (r == 0)
        for (listing &l : listings) listing_clear(&l); /* a new directory may get its inode */
    return r;
}

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

/* ---- durability ---- */

int plat_sys_fsync(FILE *f)
{
    if (fflush(f) != 0) return -1;
    return fsync(fileno(f));
}

/* Opens the folder that holds native (a file or folder path). */
static int open_parent(const char *native)
{
    char dir[NATIVE_MAX], name[NAME_MAX + 1];
    if (!split_native(native, dir, name)) {
        errno = EINVAL;
        return -1;
    }
    return open(dir[0] ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int plat_sys_sync_dir(const char *native)
{
    int fd = open_parent(native);
    if (fd < 0) return -1;
    int r = fsync(fd);
    int err = errno;
    close(fd);
    errno = err;
    return r;
}

int plat_sys_sync_fs(const char *native)
{
    int fd = open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int r = syncfs(fd);
    int err = errno;
    close(fd);
    errno = err;
    return r;
}

long long plat_sys_fsize(FILE *f)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = PLAT_ENOTREG; /* no size to copy or check */
        return -1;
    }
    return (long long)st.st_size;
}

/* A kernel copy that cannot serve these files (another file system, a
 * kind of file or a kernel without support) says ENOSYS: nothing moved. */
static long long kernel_result(ssize_t n)
{
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) errno = ENOSYS;
    return (long long)n;
}

long long plat_sys_copy_range(FILE *in, FILE *out, size_t len)
{
#ifdef __linux__
    return kernel_result(copy_file_range(fileno(in), nullptr, fileno(out), nullptr, len, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

long long plat_sys_send_file(FILE *in, FILE *out, size_t len)
{
#ifdef __linux__
    return kernel_result(sendfile(fileno(out), fileno(in), nullptr, len));
#else
    errno = ENOSYS;
    return -1;
#endif
}

/* The file systems written to since the last plat_sync_now: one folder on
 * each.  Past the last slot the whole system is synced instead. */
constexpr int SYNC_SLOTS = 16;
static struct {
    dev_t dev;
    char dir[NATIVE_MAX];
} sync_pending[SYNC_SLOTS];
static int sync_count, sync_overflow;

/* The installer folder of the last file noted: a file beside it lies on a
 * file system already noted, so a tree's copies cost no look-up here. */
static char sync_last_folder[NATIVE_MAX];
static size_t sync_last_len;
static int sync_last_set;

static size_t folder_length(const char *path)
{
    const char *slash = strrchr(path, '\\'), *other = strrchr(path, '/');
    if (other && (!slash || other > slash)) slash = other;
    return slash ? (size_t)(slash - path) + 1 : 0;
}

static void note_device(const char *path)
{
    char native[NATIVE_MAX], dir[NATIVE_MAX], name[NAME_MAX + 1];
    struct stat st;
    if (!plat_native_path(path, native, sizeof native) || lstat(native, &st) != 0 ||
        !split_native(native, dir, name)) {
        sync_overflow = 1; /* cannot tell where it lies: sync everything */
        return;
    }
    for (int i = 0; i < sync_count; i++)
        if (sync_pending[i].dev == st.st_dev) return;
    if (sync_count == SYNC_SLOTS) {
        sync_overflow = 1;
        return;
    }
    sync_pending[sync_count].dev = st.st_dev;
    memcpy(sync_pending[sync_count].dir, dir[0] ? dir : ".", strlen(dir[0] ? dir : ".") + 1);
    sync_count++;
}

void plat_sync_later(const char *path)
{
    if (!path) return;
    size_t n = folder_length(path);
    if (sync_last_set && n == sync_last_len && memcmp(path, sync_last_folder, n) == 0) return;
    note_device(path);
    sync_last_set = n < sizeof sync_last_folder;
    if (!sync_last_set) return;
    memcpy(sync_last_folder, path, n);
    sync_last_len = n;
}

int plat_sync_now()
{
    int ok = 1, err = 0;
    for (int i = 0; i < sync_count; i++)
        if (plat_syscall_table()->sync_fs(sync_pending[i].dir) != 0) {
            ok = 0;
            err = errno;
        }
    if (sync_overflow) sync();
    sync_count = sync_overflow = sync_last_set = 0;
    errno = err;
    return ok;
}

/* ---- one installer per folder ---- */

static char lock_native[NATIVE_MAX];
static volatile sig_atomic_t lock_held;

static void unlock_at_exit()
{
    if (lock_held) unlink(lock_native); /* still locked: nobody else can own that name */
    lock_held = 0;
}

/* Locks the file at lock_native; 1, 0 (held elsewhere) or -1.  The name
 * must still name the locked file afterwards: an earlier holder may have
 * removed it between our open and our lock. */
static int lock_once(int *fd_out)
{
    int fd = open(lock_native, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat held, named;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? 0 : -1;
    }
    if (lstat(lock_native, &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        close(fd);
        return 2; /* removed under us: try again */
    }
    *fd_out = fd;
    return 1;
}

int plat_lock_folder(const char *name)
{
    if (!name || !plat_native_path(name, lock_native, sizeof lock_native)) return -1;
    int fd = -1, r = 2;
    for (int tries = 0; r == 2 && tries < 10; tries++) r = lock_once(&fd);
    if (r != 1) return r == 2 ? -1 : r;
    lock_held = 1; /* fd stays open: the lock lasts as long as the process */
    atexit(unlock_at_exit);
    return 1;
}

/* ---- interruption ---- */

void plat_remove_temps_now();    /* platform_common.cpp */
int plat_interrupt_must_wait();

void plat_sys_unlink_now(const char *native) { unlink(native); }

static void (*interrupt_words)();

void plat_sys_interrupted()
{
    plat_remove_temps_now();
    if (interrupt_words) interrupt_words();
    if (lock_held) unlink(lock_native);
    _exit(PLAT_INTERRUPTED_STATUS);
}

static void on_signal(int)
{
    if (!plat_interrupt_must_wait()) plat_sys_interrupted();
}

void plat_on_interrupt(void (*last_words)())
{
    interrupt_words = last_words;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigfillset(&sa.sa_mask); /* one handler at a time, never nested */
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int sig : signals) sigaction(sig, &sa, nullptr);
}

void plat_write_close_raw(FILE *f, const char *text, size_t len)
{
    if (!f) return;
    int fd = fileno(f);
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n <= 0) break;
        text += n;
        len -= (size_t)n;
    }
    close(fd);
}

/* ---- console ---- */

/* Whether a standard stream is a terminal, asked once: one file is copied
 * or removed per console dot, and the answer does not change. */
static int is_terminal(int fd)
{
    static int known[3] = {-1, -1, -1};
    if (fd < 0 || fd > 2) return isatty(fd);
    if (known[fd] < 0) known[fd] = isatty(fd);
    return known[fd];
}

void plat_progress()
{
    if (is_terminal(STDOUT_FILENO)) fflush(stdout); /* a pipe gets it with the next flush */
}

void plat_discard_typeahead()
{
    if (is_terminal(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
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

const char *plat_setup_problem()
{
    const char *root = getenv("QUILLOR_ROOT");
    if (root && root[0] == '\0')  /* would mean the real root, as if it were unset */
        return "QUILLOR_ROOT is set but empty: unset it to install under /, or name the folder to install under";
    return nullptr;
}

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
