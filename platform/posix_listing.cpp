/* Case-blind lookups through kept directory listings (POSIX).
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
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "text/text.h"

constexpr int LISTING_SLOTS = 4; /* directories whose listings are kept */
constexpr size_t LISTING_MIN_BUCKETS = 64;

struct listed_name {
    listed_name *next;
    unsigned long order; /* position in the listing: the first match wins */
    unsigned hash;
    char *name; /* stored right behind the record */
};

struct listing {
    char dir[PLAT_NATIVE_MAX]; /* as the lookups name it: "" or ending with "/" */
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
/* The case fold shared with the rest of the installer (text/). */
static unsigned char fold(unsigned char c) { return text_fold(c); }

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
    if (l->count >= l->nbuckets && !listing_rehash(l, l->nbuckets ? l->nbuckets * 2 : LISTING_MIN_BUCKETS)) return 0;
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

/* The name itself when the listing holds it, else the one name that
 * matches case-blind.  Two or more such names and no exact one make the
 * name ambiguous: null, with *ambiguous set, since no choice between them
 * could be right. */
const char *listing_find(const listing *l, const char *name, int *ambiguous)
{
    *ambiguous = 0;
    if (!l->nbuckets) return nullptr;
    unsigned h = fold_hash(name);
    const listed_name *found = nullptr;
    int several = 0;
    for (const listed_name *n = l->buckets[h % l->nbuckets]; n; n = n->next) {
        if (n->hash != h || strcasecmp(n->name, name) != 0) continue;
        if (strcmp(n->name, name) == 0) return n->name;
        several = found != nullptr;
        found = n;
    }
    *ambiguous = several;
    return several || !found ? nullptr : found->name;
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
    void *d = sys().dir_open(dir[0] ? dir : ".", 0);
    if (!d) return 0;
    int ok = 1;
    plat_find_entry e;
    while (ok && sys().dir_read(d, &e)) ok = listing_add(l, e.name);
    sys().dir_close(d);
    if (!ok) {
        listing_clear(l);
        return 0;
    }
    memcpy(l->dir, dir, strlen(dir) + 1);
    listing_stamp(l, st);
    l->valid = 1;
    return 1;
}

listing *listing_cached(const char *dir)
{
    for (listing &l : listings)
        if (l.valid && strcmp(l.dir, dir) == 0) return &l;
    return nullptr;
}

/* The listing of dir (whose state is st), read again when it changed. */
listing *listing_of(const char *dir, const struct stat *st)
{
    if (strlen(dir) >= PLAT_NATIVE_MAX) return nullptr;
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

void remember_map(posix_map *m, map_result how, const struct stat *st, listing *in, int found)
{
    m->how = how;
    m->mode = st ? st->st_mode : 0;
    m->links = st ? st->st_nlink : 0;
    m->in = in;
    m->found = found;
}

/* ---- keeping listings current across this process's own changes ---- */

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

/* After a change of this process to directory dir: the times are taken
 * afresh.  Times that did not move (a kernel with coarse directory times)
 * are trusted only for a change that must have happened; otherwise the
 * listing is dropped, to be read again. */
static void restamp(listing *l, const char *dir, int sure)
{
    struct stat st;
    if (sys().stat(dir[0] ? dir : ".", &st) != 0 ||
        (!sure && same_times(&st.st_mtim, &l->mtime) && same_times(&st.st_ctim, &l->ctime)))
        listing_clear(l);
    else
        listing_stamp(l, &st);
}

/* The listing, current right now, of the directory of a name that was just
 * looked up there; null when there is none. */
static listing *looked_up_listing(const posix_map *m, const char *native, char *dir, char *name)
{
    if (m->how != MAP_LOOKED_UP || !split_native(native, dir, name)) return nullptr;
    listing *l = m->in;
    return l->valid && strcmp(l->dir, dir) == 0 ? l : nullptr;
}

/* A file or directory was made at native: enter it into the listing that
 * the lookup before found current. */
void note_created(const posix_map *m, const char *native)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    listing *l = looked_up_listing(m, native, dir, name);
    if (!l || m->found) return; /* an existing entry was used */
    if (listing_add(l, name))
        restamp(l, dir, 1); /* a new entry: the directory changed */
    else
        listing_clear(l);
}

void note_missed(const posix_map *m, const char *native)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    listing *l = looked_up_listing(m, native, dir, name);
    if (l) listing_clear(l);
}

/* The listing a rename within one directory can keep current: the one the
 * target's lookup just checked, or else a kept one that is current now. */
listing *rename_listing(const posix_map *to_map, const char *from, const char *to)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1], from_dir[PLAT_NATIVE_MAX], from_name[NAME_MAX + 1];
    if (strcmp(from, to) == 0 || !split_native(from, from_dir, from_name) || !split_native(to, dir, name) ||
        strcmp(dir, from_dir) != 0)
        return nullptr;
    listing *l = looked_up_listing(to_map, to, dir, name);
    return l || to_map->how != MAP_EXISTS ? l : listing_current_now(dir);
}

void note_renamed(listing *l, const posix_map *to_map, const char *from, const char *to)
{
    char dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    split_native(from, dir, name);
    listing_remove(l, name);
    split_native(to, dir, name);
    int new_name = to_map->how == MAP_LOOKED_UP && !to_map->found;
    /* Over a target with one link, the source's name surely went; over one
     * with more, the source may have been that very file, and then nothing
     * changed. */
    int sure = new_name || (to_map->how == MAP_EXISTS && to_map->links == 1);
    if (new_name && !listing_add(l, name))
        listing_clear(l);
    else
        restamp(l, dir, sure);
}

listing *listing_current_now(const char *dir)
{
    listing *l = listing_cached(dir);
    struct stat st;
    if (!l || (sys().stat(dir[0] ? dir : ".", &st) == 0 && listing_current(l, &st))) return l;
    listing_clear(l); /* changed behind it: read again when needed */
    return nullptr;
}

void listing_clear_all()
{
    for (listing &l : listings) listing_clear(&l);
}

#endif
