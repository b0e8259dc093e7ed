/* Case-blind path set.
 *
 * A small open-addressing hash table of heap strings.  Copy steps ask it
 * once per file, so lookups must stay cheap however many thousands of
 * files a backup wrote; nothing is ever removed, so no tombstones.
 */
#include "files/path_set.h"

#include <cctype>
#include <cstdlib>

#include "text/text.h"

constexpr size_t FIRST_SIZE = 64; /* slots at the first add */

/* The slot holding path, or the free slot where it would go. */
static size_t slot_of(char **slots, size_t size, const char *path)
{
    size_t i = text_fold_hash(path) & (size - 1);
    while (slots[i] && text_compare_nocase(slots[i], path) != 0) i = (i + 1) & (size - 1);
    return i;
}

static int grow(path_set *s)
{
    size_t size = s->size ? s->size * 2 : FIRST_SIZE;
    char **slots = (char **)calloc(size, sizeof *slots);
    if (!slots) return 0;
    for (size_t i = 0; i < s->size; i++)
        if (s->slots[i]) slots[slot_of(slots, size, s->slots[i])] = s->slots[i];
    free(s->slots);
    s->slots = slots;
    s->size = size;
    return 1;
}

void path_set_init(path_set *s)
{
    s->slots = nullptr;
    s->size = 0;
    s->count = 0;
}

int path_set_add(path_set *s, const char *path)
{
    if (path_set_find(s, path)) return 1;
    if ((s->count + 1) * 2 > s->size && !grow(s)) return 0; /* at most half full */
    char *copy = text_dup(path);
    if (!copy) return 0;
    s->slots[slot_of(s->slots, s->size, path)] = copy;
    s->count++;
    return 1;
}

const char *path_set_find(const path_set *s, const char *path)
{
    if (!s->size || !path) return nullptr;
    return s->slots[slot_of(s->slots, s->size, path)];
}

void path_set_free(path_set *s)
{
    for (size_t i = 0; i < s->size; i++) free(s->slots[i]);
    free(s->slots);
    path_set_init(s);
}
