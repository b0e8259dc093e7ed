/* Static list: the installer's one general container.
 *
 * A growable array of item pointers with a single built-in cursor, used for
 * the configuration store and the work lists of the tree operations.  The
 * list counts its room in fixed steps (spare slots), and is released as soon
 * as the last item leaves.  Underneath, the allocation grows to the next
 * power of two of that room, so that a walk over tens of thousands of
 * entries reallocates a few dozen times rather than once per step: the
 * allocated size is a function of count + spare, so it never needs storing.
 * It is not a typed container: items are never copied, and only
 * static_free frees them.
 */
#include "config/static_list.h"
#include "platform/platform.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr int32_t STATIC_DEFAULT_STEP = 5;
constexpr int STATIC_FORMAT_SIZE = 512;   /* prefixed format, terminator included */
constexpr int STATIC_MESSAGE_SIZE = 1024; /* expanded message, terminator included */
/* Keeps the array's byte size within a 32-bit signed size on every target. */
constexpr int32_t STATIC_MAX_SLOTS = INT32_MAX / (int32_t)sizeof(void *);
constexpr size_t STATIC_MIN_ALLOCATION = 8; /* slots: a small list stays one small block */

static const char GROW_FAILED[] = "Memory Allocation Error in 'static_add'";

/* ---- checks and reporting ---- */

static void require_init(const static_list *l)
{
    if (l->marker != STATIC_MAGIC) {
        perror("Error Using Static List before Init\n");
        plat_exit(1);
    }
}

static void static_log(static_list *l, const char *msg, ...)
{
    if (!l->log) return;
    char format[STATIC_FORMAT_SIZE];
    char text[STATIC_MESSAGE_SIZE];
    snprintf(format, sizeof format, "STATIC: %s", msg);
    va_list ap;
    va_start(ap, msg);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    l->log("%s", text);
}

/* ---- growth ---- */

/* The slots really allocated for a room of `slots` (count + spare): the
 * next power of two, within the limit. */
static size_t allocated_for(size_t slots)
{
    if (slots == 0) return 0;
    size_t real = STATIC_MIN_ALLOCATION;
    while (real < slots && real < (size_t)STATIC_MAX_SLOTS / 2 + 1) real *= 2;
    return real < slots ? (size_t)STATIC_MAX_SLOTS : real;
}

/* Makes room for one more item; 1, or 0 with the list unchanged. */
static int grow(static_list *l)
{
    if (l->spare > 0) return 1;
    if (l->step > STATIC_MAX_SLOTS - l->count) {
        static_log(l, GROW_FAILED);
        return 0;
    }
    size_t slots = (size_t)l->count + (size_t)l->step;
    size_t have = allocated_for((size_t)l->count), need = allocated_for(slots);
    if (need != have || !l->items) {
        void **items = (void **)realloc(l->items, need * sizeof(void *));
        if (!items) {
            static_log(l, GROW_FAILED);
            return 0;
        }
        l->items = items;
    }
    l->spare = l->step;
    return 1;
}

static void release_array(static_list *l)
{
    free(l->items);
    l->items = nullptr;
    l->spare = 0;
}

/* ---- public operations ---- */

int static_init(static_list *l, report_fn log)
{
    if (!l) return STATIC_NO_LIST;
    memset(l, 0, sizeof *l);
    l->marker = STATIC_MAGIC;
    l->log = log;
    l->step = STATIC_DEFAULT_STEP;
    l->cursor = -1;
    return 1;
}

int static_set_step(static_list *l, int step)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    l->step = step < 1 ? 1 : step;
    return 1;
}

int static_add(static_list *l, void *item)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    if (!item) return STATIC_BAD_ITEM;
    if (!grow(l)) return STATIC_NO_MEMORY;
    l->items[l->count++] = item;
    l->spare--;
    return l->count - 1;
}

int static_insert(static_list *l, void *item, int index)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    if (!item || index < 0) return STATIC_BAD_ITEM;
    if (index >= l->count) return static_add(l, item);
    if (!grow(l)) return STATIC_NO_MEMORY;
    if (l->cursor >= index) l->cursor++; /* keep the cursor on the same item */
    memmove(&l->items[index + 1], &l->items[index], (size_t)(l->count - index) * sizeof(void *));
    l->items[index] = item;
    l->count++;
    l->spare--;
    return index;
}

int static_count(static_list *l)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    return l->count;
}

int static_rewind(static_list *l)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    if (l->count == 0) {
        l->cursor = -1;
        return STATIC_BAD_ITEM;
    }
    l->cursor = 0;
    return 1;
}

void *static_next(static_list *l)
{
    if (!l) return nullptr;
    require_init(l);
    if (l->cursor < 0 || l->cursor >= l->count) {
        l->cursor = -1;
        return nullptr;
    }
    void *item = l->items[l->cursor++];
    if (l->cursor >= l->count) l->cursor = -1; /* passed the last item */
    return item;
}

void *static_get(static_list *l, int index)
{
    if (!l) return nullptr;
    require_init(l);
    if (index < 0 || index >= l->count) return nullptr;
    l->cursor = index;
    return static_next(l);
}

void *static_remove(static_list *l, int index)
{
    if (!l) return nullptr;
    require_init(l);
    if (index < 0 || index >= l->count) return nullptr;
    void *item = l->items[index];
    l->count--;
    if (l->count == 0) {
        release_array(l);
    } else {
        memmove(&l->items[index], &l->items[index + 1], (size_t)(l->count - index) * sizeof(void *));
        l->spare++;
    }
    if (l->cursor > index || (l->cursor == index && index == l->count)) l->cursor--;
    return item;
}

void *static_remove_current(static_list *l)
{
    if (!l) return nullptr;
    require_init(l);
    if (l->cursor <= 0) l->cursor = l->count; /* nothing read yet: take the last item */
    void *item = static_remove(l, l->cursor - 1);
    if (l->cursor >= l->count) l->cursor = -1;
    return item;
}

int static_free(static_list *l)
{
    if (!l) return STATIC_NO_LIST;
    require_init(l);
    /* Front to back, as removing item 0 again and again would, but without
     * moving the rest of the array down after every item. */
    for (int32_t i = 0; i < l->count; i++) free(l->items[i]);
    l->count = 0;
    release_array(l);
    l->cursor = -1;
    return 1;
}
