/* Folder handles, the same on every system: a folder's resolved native
 * name and its names, read once into a case-blind set the handle owns.
 *
 * Entries live in one array, in listing order, chained into buckets by
 * their case-folded hash; a name removed leaves a dead entry behind, so
 * that indices stay valid for plat_folder_next.
 */
#include "platform/common_internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "text/text.h"

#ifdef _WIN32
static const char FOLDER_SEP = '\\';
#define ENOTUNIQ EINVAL /* names differ in case only where the folder is case-sensitive */
#else
static const char FOLDER_SEP = '/';
#endif

struct folder_entry {
    char *name; /* null once removed */
    unsigned hash;
    unsigned attrib; /* PLAT_ATTR_*, as listed */
    int next;        /* the next entry of its bucket, or -1 */
};

struct plat_folder {
    void *listing; /* POSIX: the open listing, whose descriptor fd the handle works in */
    int fd;        /* -1 where calls are made on native paths */
    folder_entry *entries;
    unsigned count, cap;
    int *heads;
    unsigned nheads;
    size_t len; /* of native */
    char native[PLAT_NATIVE_MAX];
};

static int same_folded(const char *a, const char *b)
{
    for (; *a && text_fold((unsigned char)*a) == text_fold((unsigned char)*b); a++, b++) {
    }
    return text_fold((unsigned char)*a) == text_fold((unsigned char)*b);
}

/* Chains every entry into nheads buckets afresh. */
static int rehash(plat_folder *f, unsigned nheads)
{
    int *heads = (int *)malloc(nheads * sizeof *heads);
    if (!heads) return 0;
    for (unsigned i = 0; i < nheads; i++) heads[i] = -1;
    for (unsigned i = 0; i < f->count; i++) {
        unsigned b = f->entries[i].hash % nheads;
        f->entries[i].next = heads[b];
        heads[b] = (int)i;
    }
    free(f->heads);
    f->heads = heads;
    f->nheads = nheads;
    return 1;
}

static int set_add(plat_folder *f, const char *name, unsigned attrib)
{
    if (f->count == f->cap) {
        unsigned cap = f->cap ? f->cap * 2 : 64;
        folder_entry *e = (folder_entry *)realloc(f->entries, cap * sizeof *e);
        if (!e) return 0;
        f->entries = e;
        f->cap = cap;
    }
    folder_entry *e = &f->entries[f->count];
    if (!(e->name = text_dup(name))) return 0;
    e->hash = text_fold_hash(name);
    e->attrib = attrib;
    f->count++;
    if (f->count > f->nheads && !rehash(f, f->cap * 2)) {
        free(e->name);
        f->count--;
        return 0;
    }
    if (f->count > f->nheads || f->heads[e->hash % f->nheads] == (int)(f->count - 1)) return 1; /* chained already */
    e->next = f->heads[e->hash % f->nheads];
    f->heads[e->hash % f->nheads] = (int)(f->count - 1);
    return 1;
}

/* The entry named exactly name, else the one that matches case-blind.
 * Several such matches and no exact one make the name ambiguous: null,
 * with *ambiguous set, since no choice between them could be right. */
static folder_entry *set_find(const plat_folder *f, const char *name, int *ambiguous)
{
    *ambiguous = 0;
    if (!f->nheads) return nullptr;
    unsigned h = text_fold_hash(name);
    folder_entry *found = nullptr;
    int several = 0;
    for (int i = f->heads[h % f->nheads]; i >= 0; i = f->entries[i].next) {
        folder_entry *e = &f->entries[i];
        if (!e->name || e->hash != h || (e->attrib & PLAT_ATTR_UNNAMED) || !same_folded(e->name, name)) continue;
        if (strcmp(e->name, name) == 0) return e;
        several = found != nullptr;
        found = e;
    }
    *ambiguous = several;
    return several ? nullptr : found;
}

/* Opens the listing of f: the folder name in parent, or f->native.  On
 * POSIX it stays open, and the handle works in its descriptor. */
static void *listing_open(plat_folder *f, const plat_folder *parent, const char *name, int nofollow)
{
#ifdef _WIN32
    (void)parent, (void)name;
    char pattern[PLAT_NATIVE_MAX];
    int fits = snprintf(pattern, sizeof pattern, "%s*", f->native);
    if (fits < 0 || fits >= (int)sizeof pattern) return errno = ENAMETOOLONG, nullptr;
    return sys().dir_open(pattern, nofollow);
#else
    if (parent && parent->fd >= 0) return sys().dir_open_at(parent->fd, name, nofollow, &f->fd);
    return sys().dir_open_at(AT_FDCWD, f->native, nofollow, &f->fd);
#endif
}

/* Reads the folder's names into f; 0 with errno when it cannot be listed
 * whole (a name left out could be overwritten). */
static int folder_list(plat_folder *f, const plat_folder *parent, const char *name, int nofollow)
{
    void *dir = listing_open(f, parent, name, nofollow);
    plat_find_entry e;
    int ok = dir != nullptr;
    while (ok && plat_find_read(dir, &e))
        if (strcmp(e.name, ".") != 0 && strcmp(e.name, "..") != 0 && !set_add(f, e.name, e.attrib))
            ok = (errno = ENOMEM, 0);
    if (ok && errno != ENOENT) ok = 0; /* the listing ended on a failure */
#ifdef _WIN32
    if (dir) sys().dir_close(dir);
#else
    f->listing = dir;
#endif
    return ok;
}

/* Ends f's native name with one separator; 0 when it does not fit. */
static int folder_sep(plat_folder *f)
{
    f->len = strlen(f->native);
    if (!f->len || f->native[f->len - 1] == FOLDER_SEP || f->native[f->len - 1] == '/') return 1;
    if (f->len + 1 >= sizeof f->native) return errno = ENAMETOOLONG, 0;
    f->native[f->len++] = FOLDER_SEP;
    f->native[f->len] = '\0';
    return 1;
}

/* A new handle whose native name is filled in by the caller. */
static plat_folder *folder_new()
{
    plat_folder *f = (plat_folder *)calloc(1, sizeof *f);
    if (!f) return errno = ENOMEM, nullptr;
    f->fd = -1;
    if (rehash(f, 64)) return f;
    free(f);
    return errno = ENOMEM, nullptr;
}

/* f listed, or closed with errno kept: null. */
static plat_folder *folder_ready(plat_folder *f, const plat_folder *parent, const char *name, int nofollow)
{
    if (folder_sep(f) && folder_list(f, parent, name, nofollow)) return f;
    int err = errno ? errno : EIO;
    plat_folder_close(f);
    errno = err;
    return nullptr;
}

plat_folder *plat_folder_open(const char *path, int flags)
{
    if (!path) return errno = EINVAL, nullptr;
    plat_folder *f = folder_new();
    if (f && !plat_native_path(path, f->native, sizeof f->native)) {
        plat_folder_close(f); /* errno says why */
        return nullptr;
    }
    return f ? folder_ready(f, nullptr, nullptr, flags & PLAT_FIND_NOFOLLOW) : nullptr;
}

plat_folder *plat_folder_open_in(plat_folder *parent, const char *name, int flags)
{
    plat_folder *f = folder_new();
    if (!f) return nullptr;
    int fits = snprintf(f->native, sizeof f->native, "%s%s", parent->native, name);
    if (fits < 0 || fits >= (int)sizeof f->native) return plat_folder_close(f), errno = ENAMETOOLONG, nullptr;
    f = folder_ready(f, parent, name, flags & PLAT_FIND_NOFOLLOW);
#ifndef _WIN32 /* Windows never follows a mounted folder: it is a reparse point */
    int mounted = f && (flags & PLAT_FIND_NOMOUNT) ? sys().mount_root(parent->fd, f->fd) : 0;
    if (mounted) {
        int err = mounted < 0 ? errno : EBUSY;
        plat_folder_close(f);
        return errno = err, nullptr;
    }
#endif
    return f;
}

void plat_folder_close(plat_folder *f)
{
    if (!f) return;
    int err = errno;
#ifndef _WIN32
    if (f->listing) sys().dir_close(f->listing);
#endif
    errno = err;
    for (unsigned i = 0; i < f->count; i++) free(f->entries[i].name);
    free(f->entries);
    free(f->heads);
    free(f);
}

/* The native form of the bare name in f, into n; 0 when it does not fit. */
static int folder_native(const plat_folder *f, const char *name, plat_name *n)
{
    int len = snprintf(n->native, sizeof n->native, "%s%s", f->native, name);
    if (len >= 0 && len < (int)sizeof n->native) return 1;
    n->native[0] = '\0';
    n->error = ENAMETOOLONG;
    return 0;
}

/* A name the set lacks is not there: no call to the system.  One it
 * holds is asked what it is now. */
int plat_folder_look_up(plat_folder *f, const char *name, plat_name *n)
{
    int ambiguous;
    n->kind = PLAT_KIND_NONE;
    n->error = 0;
    n->in = f;
    n->mode = 0;
    folder_entry *e = set_find(f, name, &ambiguous);
    if (ambiguous) {
        n->native[0] = '\0';
        n->error = ENOTUNIQ;
        return n->kind;
    }
    if (folder_native(f, e ? e->name : name, n) && e) n->kind = plat_name_kind(n);
    return n->kind;
}

const char *plat_folder_next(const plat_folder *f, unsigned *at, unsigned *attrib)
{
    while (*at < f->count) {
        const folder_entry *e = &f->entries[(*at)++];
        if (!e->name) continue;
        if (attrib) *attrib = e->attrib;
        return e->name;
    }
    return nullptr;
}

unsigned plat_folder_end(const plat_folder *f) { return f->count; }

/* Drops the exact name from the set. */
static void set_drop(plat_folder *f, const char *name)
{
    int ambiguous;
    folder_entry *e = set_find(f, name, &ambiguous);
    if (e && strcmp(e->name, name) == 0) free(e->name), e->name = nullptr;
}

int plat_folder_remove(plat_folder *f, const char *name, int folder)
{
    plat_name n;
    n.error = 0;
    n.in = f;
    if (!folder_native(f, name, &n)) return errno = ENAMETOOLONG, -1;
    int r;
#ifndef _WIN32
    if (folder && f->fd >= 0)
        r = sys().unlink_at(f->fd, name, 1);
    else
#endif
        r = folder ? sys().rmdir(n.native) : plat_remove_named(&n); /* in f's descriptor where it has one */
    if (r == 0) set_drop(f, name);
    return r;
}

/* from is renamed as the folder spells it. */
int plat_folder_rename_new(plat_folder *f, const char *from, const char *to)
{
    plat_name a, b;
    int ambiguous;
    folder_entry *e = set_find(f, from, &ambiguous);
    if (ambiguous) return errno = ENOTUNIQ, -1;
    a.error = b.error = 0;
    a.in = b.in = f;
    if (!folder_native(f, e ? e->name : from, &a) || !folder_native(f, to, &b)) return errno = ENAMETOOLONG, -1;
    if (plat_rename_new_named(&a, &b) != 0) return -1;
    unsigned attrib = e ? e->attrib : 0;
    if (e) free(e->name), e->name = nullptr;
    set_add(f, to, attrib);
    return 0;
}

/* ---- numbered keeps ---- */

/* N when entry is "name.~N~" (name compared case-blind), else 0; a number
 * too large to count is none. */
static unsigned long long kept_number(const char *entry, const char *name)
{
    size_t len = strlen(name);
    if (strlen(entry) <= len + 3 || entry[len] != '.' || entry[len + 1] != '~') return 0;
    for (size_t i = 0; i < len; i++)
        if (text_fold((unsigned char)entry[i]) != text_fold((unsigned char)name[i])) return 0;
    unsigned long long n = 0;
    const char *p = entry + len + 2;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (n > (ULLONG_MAX - 9) / 10) return 0;
        n = n * 10 + (unsigned)(*p - '0');
    }
    return p > entry + len + 2 && strcmp(p, "~") == 0 ? n : 0;
}

unsigned long long plat_folder_next_kept(const plat_folder *f, const char *name)
{
    unsigned long long high = 0;
    for (unsigned i = 0; f && i < f->count; i++) {
        unsigned long long n = f->entries[i].name ? kept_number(f->entries[i].name, name) : 0;
        if (n > high) high = n;
    }
    return high < ULLONG_MAX ? high + 1 : high;
}

unsigned long long plat_next_kept_native(const char *native)
{
    const char *cut = strrchr(native, FOLDER_SEP);
#ifdef _WIN32
    const char *slash = strrchr(native, '/');
    if (slash && (!cut || slash > cut)) cut = slash;
#endif
    plat_folder *f = folder_new();
    if (!f) return 1;
    size_t n = cut ? (size_t)(cut - native) + 1 : 0;
    if (n + 1 >= sizeof f->native) return plat_folder_close(f), 1;
    memcpy(f->native, n ? native : ".", n ? n : 1);
    f->native[n ? n : 1] = '\0';
    f = folder_ready(f, nullptr, nullptr, 0);
    unsigned long long next = plat_folder_next_kept(f, cut ? cut + 1 : native);
    plat_folder_close(f);
    return next;
}

int plat_name_at(const plat_name *n, const char **leaf)
{
    int in_folder = n->in && n->in->fd >= 0 && n->native[0];
    *leaf = in_folder ? n->native + n->in->len : n->native;
    return in_folder ? n->in->fd : -1;
}

void plat_folder_noted(const plat_name *n)
{
    int ambiguous;
    if (!n->in || !n->native[0]) return;
    const char *leaf = n->native + n->in->len;
    folder_entry *e = set_find(n->in, leaf, &ambiguous);
    if (!e || strcmp(e->name, leaf) != 0) set_add(n->in, leaf, 0);
}
