/* Folder handles, the same on every system: a folder's resolved native
 * name and its names, read once into a case-blind set the handle owns.
 *
 * Entries live in one array, in listing order, chained into buckets by
 * their case-folded hash; a name removed leaves a dead entry behind, so
 * that indices stay valid for plat_folder_next.
 */
#include "platform/common_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    int kind;
    int next; /* the next entry of its bucket, or -1 */
};

struct plat_folder {
    folder_entry *entries;
    unsigned count, cap;
    int *heads;
    unsigned nheads;
    size_t len; /* of native */
    char native[PLAT_NATIVE_MAX];
};

static int same_folded(const char *a, const char *b)
{
    for (; *a && text_fold((unsigned char)*a) == text_fold((unsigned char)*b); a++, b++) {}
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

static int set_add(plat_folder *f, const char *name, int kind)
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
    e->kind = kind;
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
        if (!e->name || e->hash != h || !same_folded(e->name, name)) continue;
        if (strcmp(e->name, name) == 0) return e;
        several = found != nullptr;
        found = e;
    }
    *ambiguous = several;
    return several ? nullptr : found;
}

/* A listed entry's kind, as a look-up would name it. */
static int entry_kind(unsigned attrib)
{
    if (attrib & (PLAT_ATTR_REPARSE | PLAT_ATTR_UNNAMED)) return PLAT_KIND_OTHER;
    return attrib & PLAT_ATTR_DIRECTORY ? PLAT_KIND_DIR : PLAT_KIND_FILE;
}

/* Reads the folder's names into f; 0 with errno when it cannot be listed
 * whole (a name left out could be overwritten). */
static int folder_list(plat_folder *f, const char *path)
{
    char pattern[PLAT_NATIVE_MAX];
    size_t n = strlen(path);
    int fits = snprintf(pattern, sizeof pattern, "%s%s*", path, n && path[n - 1] != '\\' ? "\\" : "");
    if (fits < 0 || fits >= (int)sizeof pattern) return errno = ENAMETOOLONG, 0;
    plat_find_entry e;
    plat_find *find = plat_find_first(pattern, &e, PLAT_FIND_NOFOLLOW);
    int ok = find != nullptr;
    for (int more = ok; ok && more; more = plat_find_next(find, &e)) {
        if (strcmp(e.name, ".") == 0 || strcmp(e.name, "..") == 0 || (e.attrib & PLAT_ATTR_UNNAMED)) continue;
        if (!set_add(f, e.name, entry_kind(e.attrib))) ok = (errno = ENOMEM, 0);
    }
    if (ok && errno != ENOENT) ok = 0; /* the listing ended on a failure */
    if (find) plat_find_close(find);
    return ok;
}

plat_folder *plat_folder_open(const char *path)
{
    plat_folder *f = (plat_folder *)calloc(1, sizeof *f);
    if (!path || !f) return free(f), errno = path ? ENOMEM : EINVAL, nullptr;
    int ok = plat_native_path(path, f->native, sizeof f->native);
    f->len = strlen(f->native);
    if (ok && f->len && f->native[f->len - 1] != FOLDER_SEP && f->native[f->len - 1] != '/') {
        ok = f->len + 1 < sizeof f->native;
        if (ok) f->native[f->len++] = FOLDER_SEP, f->native[f->len] = '\0';
    }
    if (ok && rehash(f, 64) && folder_list(f, path)) return f;
    int err = errno ? errno : EIO;
    plat_folder_close(f);
    errno = err;
    return nullptr;
}

void plat_folder_close(plat_folder *f)
{
    if (!f) return;
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
    folder_entry *e = set_find(f, name, &ambiguous);
    if (ambiguous) {
        n->native[0] = '\0';
        n->error = ENOTUNIQ;
        return n->kind;
    }
    if (folder_native(f, e ? e->name : name, n) && e) n->kind = plat_native_kind(n->native);
    return n->kind;
}

const char *plat_folder_next(const plat_folder *f, unsigned *at)
{
    while (*at < f->count)
        if (f->entries[(*at)++].name) return f->entries[*at - 1].name;
    return nullptr;
}

/* from is renamed as the folder spells it. */
int plat_folder_rename_new(plat_folder *f, const char *from, const char *to)
{
    plat_name a, b;
    int ambiguous;
    folder_entry *e = set_find(f, from, &ambiguous);
    if (ambiguous) return errno = ENOTUNIQ, -1;
    a.error = b.error = 0;
    if (!folder_native(f, e ? e->name : from, &a) || !folder_native(f, to, &b)) return errno = ENAMETOOLONG, -1;
    if (plat_move_new_tracked(a.native, b.native) != 0) return -1;
    int kind = e ? e->kind : PLAT_KIND_FILE;
    if (e) free(e->name), e->name = nullptr;
    set_add(f, to, kind);
    return 0;
}

void plat_folder_noted(const plat_name *n)
{
    int ambiguous;
    if (!n->in || !n->native[0]) return;
    const char *leaf = n->native + n->in->len;
    folder_entry *e = set_find(n->in, leaf, &ambiguous);
    if (!e || strcmp(e->name, leaf) != 0) set_add(n->in, leaf, PLAT_KIND_FILE);
}
