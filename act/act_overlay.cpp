/* The acting layer's overlay: what a dry run has planned, so that every
 * later step sees the disk as the real run would have left it.
 *
 * One entry per name a change was planned at, keyed by its folder's
 * canonical form and its own name (a link at its end never followed), and
 * found case-blind through a hash of those keys; a later plan for the same
 * name overwrites the entry.  A file planned as a copy remembers the file
 * its bytes come from, and a rewritten one its planned bytes, so that
 * "identical" is decided on what the file would hold.  Not for real runs:
 * nothing is noted there.
 */
#include "act/act.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/text.h"

struct planned {
    char *key;
    size_t folder; /* length of the key's folder part, its separator included */
    int kind;
    char *from;    /* a copy: the file whose bytes it holds */
    char *text;    /* a rewrite: the bytes it holds */
    size_t len;
};

static planned *overlay;
static unsigned count, room;
static int *slots; /* open addressing: entry index + 1, 0 for free */
static unsigned nslots;

/* ---- keys ---- */

/* The folder part and the name of an installer path, a trailing separator
 * dropped: folder (TEXT_PATH_SIZE bytes) and the name's offset in plain. */
static const char *split(const char *path, char *plain, char *folder)
{
    text_copy(plain, path, TEXT_PATH_SIZE);
    size_t n = strlen(plain);
    while (n > 1 && (plain[n - 1] == '\\' || plain[n - 1] == '/') && plain[n - 2] != ':') plain[--n] = '\0';
    size_t cut = n;
    while (cut > 0 && plain[cut - 1] != '\\' && plain[cut - 1] != '/' && plain[cut - 1] != ':') cut--;
    text_copy_n(folder, plain, (int)cut);
    if (!folder[0]) text_copy(folder, ".\\", TEXT_PATH_SIZE);
    return plain + cut;
}

constexpr int FOLDERS_KEPT = 4; /* a copy step asks about its source's folder and its target's */

struct resolved_folder {
    char asked[TEXT_PATH_SIZE], canon[PLAT_NATIVE_MAX];
    int ok;
};
static resolved_folder resolved[FOLDERS_KEPT];
static unsigned next_resolved;

/* The canonical form of folder, resolved once for the many names of a
 * few folders: a dry run changes no folder meanwhile. */
static const char *canonical_folder(const char *folder)
{
    for (const resolved_folder &r : resolved)
        if (r.asked[0] && strcmp(r.asked, folder) == 0) return r.ok ? r.canon : nullptr;
    resolved_folder &r = resolved[next_resolved++ % FOLDERS_KEPT];
    text_copy(r.asked, folder, sizeof r.asked);
    r.ok = plat_canonical_path(folder, r.canon, sizeof r.canon);
    return r.ok ? r.canon : nullptr;
}

/* The key of path: its folder's canonical form and its own name as spelt,
 * a link at its end never followed (a link planned away is the link, never
 * what it leads to), and no look-up of the name itself, which for a name
 * not there would read its whole folder; its canonical form when it names
 * no entry of a folder, or as spelt when it has none.  Names differing in
 * case only are matched when asked (found). */
static const char *key_of(const char *path, char *buf)
{
    char plain[TEXT_PATH_SIZE], folder[TEXT_PATH_SIZE];
    const char *leaf = split(path, plain, folder);
    const char *canon = *leaf && strcmp(leaf, ".") != 0 && strcmp(leaf, "..") != 0 ? canonical_folder(folder) : nullptr;
    size_t n = canon ? strlen(canon) : 0;
    char sep = canon && canon[0] == '/' ? '/' : '\\'; /* the system's own separator */
    const char *gap = n && canon[n - 1] == sep ? "" : sep == '/' ? "/" : "\\";
    if (canon && snprintf(buf, PLAT_NATIVE_MAX, "%s%s%s", canon, gap, leaf) < PLAT_NATIVE_MAX) return buf;
    return plat_canonical_path(path, buf, PLAT_NATIVE_MAX) ? buf : path;
}

/* Where the folder part of a key ends: after its last separator. */
static size_t folder_length(const char *key)
{
    const char *a = strrchr(key, '/'), *b = strrchr(key, '\\');
    const char *cut = a > b ? a : b;
    return cut ? (size_t)(cut - key) + 1 : 0;
}

static int same_key(const char *a, const char *b)
{
    for (; *a && text_fold((unsigned char)*a) == text_fold((unsigned char)*b); a++, b++) {
    }
    return text_fold((unsigned char)*a) == text_fold((unsigned char)*b);
}

/* The first n bytes of a and b are the same but for case. */
static int same_start(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (text_fold((unsigned char)a[i]) != text_fold((unsigned char)b[i])) return 0;
    return 1;
}

/* ---- the table ---- */

/* The slot of key: its entry's, or the free one it would take.  Keys are
 * told apart as the system tells names (byte for byte on POSIX), and
 * hashed case-blind, so that names differing in case only share a chain. */
static unsigned slot_of(const char *key)
{
    unsigned i = (unsigned)(text_fold_hash(key) % nslots);
    while (slots[i] && !plat_native_equal(overlay[slots[i] - 1].key, key)) i = (i + 1) % nslots;
    return i;
}

/* An entry whose key differs from key in case only, or null. */
static planned *find_blind(const char *key)
{
    for (unsigned i = (unsigned)(text_fold_hash(key) % nslots); slots[i]; i = (i + 1) % nslots)
        if (same_key(overlay[slots[i] - 1].key, key)) return &overlay[slots[i] - 1];
    return nullptr;
}

static int grow_slots()
{
    unsigned n = nslots ? nslots * 2 : 256;
    int *grown = (int *)calloc(n, sizeof *grown);
    if (!grown) return 0;
    free(slots);
    slots = grown;
    nslots = n;
    for (unsigned e = 0; e < count; e++) slots[slot_of(overlay[e].key)] = (int)e + 1;
    return 1;
}

static planned *find(const char *key)
{
    if (!count) return nullptr;
    int at = slots[slot_of(key)];
    return at ? &overlay[at - 1] : nullptr;
}

/* The entry path finds, as a folder's listing finds a name: one planned
 * under this very spelling; else one that differs in case only, unless
 * the disk holds this very spelling, which a look-up finds first. */
static planned *found(const char *path, char *buf)
{
    const char *key = key_of(path, buf);
    planned *e = find(key);
    if (e || !count || !(e = find_blind(key))) return e;
    plat_name n;
    plat_look_up(path, &n);
    const char *leaf = n.native + folder_length(n.native), *want = key + folder_length(key);
    return n.kind != PLAT_KIND_NONE && strcmp(leaf, want) == 0 ? nullptr : e;
}

/* The entry of key, made when there is none; null when memory ran out. */
static planned *entry_of(const char *key)
{
    planned *e = find(key);
    if (e) return e;
    if ((count + 1) * 2 > nslots && !grow_slots()) return nullptr;
    if (count == room) {
        unsigned more = room ? room * 2 : 64;
        planned *grown = (planned *)realloc(overlay, more * sizeof *grown);
        if (!grown) return nullptr;
        overlay = grown;
        room = more;
    }
    char *copy = text_dup(key);
    if (!copy) return nullptr;
    overlay[count] = planned{copy, folder_length(copy), PLAT_KIND_NONE, nullptr, nullptr, 0};
    slots[slot_of(copy)] = (int)++count;
    return &overlay[count - 1];
}

/* Forgets what e was planned to hold. */
static void forget_content(planned *e)
{
    free(e->from), free(e->text);
    e->from = e->text = nullptr;
    e->len = 0;
}

/* ---- notes and questions ---- */

void act_note(const char *path, int kind)
{
    char buf[PLAT_NATIVE_MAX];
    planned *e = entry_of(key_of(path, buf));
    if (!e) return;
    e->kind = kind;
    forget_content(e);
}

void act_note_copy(const char *path, const char *source)
{
    const char *text = nullptr;
    size_t len = 0;
    const char *from = act_content(source, &text, &len); /* a copy of a planned copy holds the first one's bytes */
    char *from_copy = from ? text_dup(from) : nullptr;
    char *bytes = text ? (char *)malloc(len + 1) : nullptr;
    if (bytes) memcpy(bytes, text, len + 1);
    act_note(path, PLAT_KIND_FILE);
    char buf[PLAT_NATIVE_MAX];
    planned *e = find(key_of(path, buf));
    if (!e) return free(from_copy), free(bytes);
    e->from = from_copy;
    e->text = bytes;
    e->len = bytes ? len : 0;
}

void act_note_text(const char *path, const char *text, size_t len)
{
    char *bytes = (char *)malloc(len + 1);
    if (!bytes) return;
    memcpy(bytes, text, len);
    bytes[len] = '\0';
    act_note(path, PLAT_KIND_FILE);
    char buf[PLAT_NATIVE_MAX];
    planned *e = find(key_of(path, buf));
    if (!e) return free(bytes);
    e->text = bytes;
    e->len = len;
}

int act_kind(const char *path)
{
    char buf[PLAT_NATIVE_MAX];
    if (!count) return plat_path_kind(path); /* nothing planned: no name to resolve */
    const planned *e = found(path, buf);
    return e ? e->kind : plat_path_kind(path);
}

int act_noted_kind(const char *path)
{
    char buf[PLAT_NATIVE_MAX];
    const planned *e = count ? found(path, buf) : nullptr;
    return e ? e->kind : -1;
}

int act_planned_name(const char *path, char *native, int size)
{
    char buf[PLAT_NATIVE_MAX];
    const char *key = key_of(path, buf);
    return snprintf(native, (size_t)size, "%s", key) < size;
}

const char *act_noted_name(const char *path)
{
    char buf[PLAT_NATIVE_MAX];
    const planned *e = count ? found(path, buf) : nullptr;
    return e && e->kind != PLAT_KIND_NONE ? e->key : nullptr;
}

const char *act_content(const char *path, const char **text, size_t *len)
{
    char buf[PLAT_NATIVE_MAX];
    const planned *e = count ? found(path, buf) : nullptr;
    *text = nullptr;
    *len = 0;
    if (!e || e->kind != PLAT_KIND_FILE) return path;
    if (e->text) return *text = e->text, *len = e->len, nullptr;
    return e->from ? e->from : path;
}

void act_planned_in(const char *folder, void (*fn)(void *ctx, const char *name, int kind), void *ctx)
{
    char plain[TEXT_PATH_SIZE], dir[TEXT_PATH_SIZE], probe[TEXT_PATH_SIZE], buf[PLAT_NATIVE_MAX];
    if (!count || snprintf(probe, sizeof probe, "%s%sx", folder, text_ends_with_backslash(folder) ? "" : "\\") >=
                      (int)sizeof probe)
        return;
    const char *key = key_of(probe, buf); /* a name in folder: its key's folder part is folder's */
    size_t n = folder_length(key);
    split(probe, plain, dir);
    for (unsigned i = 0; i < count; i++) {
        const planned *e = &overlay[i];
        if (e->folder != n || e->kind == PLAT_KIND_NONE || !same_start(e->key, key, n)) continue;
        char path[TEXT_PATH_SIZE];
        if (snprintf(path, sizeof path, "%s%s", dir, e->key + n) >= (int)sizeof path) continue;
        if (plat_path_kind(path) == PLAT_KIND_NONE) fn(ctx, e->key + n, e->kind); /* the disk lacks it */
    }
}

void act_overlay_clear()
{
    for (unsigned i = 0; i < count; i++) free(overlay[i].key), forget_content(&overlay[i]);
    free(overlay), free(slots);
    overlay = nullptr;
    slots = nullptr;
    count = room = nslots = 0;
    for (resolved_folder &r : resolved) r.asked[0] = '\0';
}
