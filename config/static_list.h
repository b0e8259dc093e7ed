/* Static list: the one general container.
 *
 * A growable array of untyped item pointers with one built-in cursor.  It
 * grows by a fixed step (never doubles) and releases its array when the last
 * item goes.  It stores pointers only; static_free is the one operation that
 * frees items itself, so a list passed to it must hold heap blocks only.
 */
#ifndef QUILLOR_STATIC_LIST_H
#define QUILLOR_STATIC_LIST_H

#include <cstdint>

constexpr uint32_t STATIC_MAGIC = 32000;

/* The static list's failure codes, which the settings list and the virtual
 * ini pass on: a missing item or bad index, memory exhausted, no list. */
enum { STATIC_BAD_ITEM = -1, STATIC_NO_MEMORY = -2, STATIC_NO_LIST = -3 };

typedef int (*report_fn)(const char *fmt, ...); /* printf-like callback */

struct static_list {
    uint32_t marker;
    report_fn log;
    int32_t step;
    int32_t spare;
    int32_t count;
    int32_t cursor;
    void **items;
};

int static_init(static_list *l, report_fn log);
int static_set_step(static_list *l, int step);
int static_add(static_list *l, void *item);
int static_insert(static_list *l, void *item, int index);
int static_count(static_list *l);
int static_rewind(static_list *l);
void *static_next(static_list *l);
void *static_get(static_list *l, int index);
void *static_remove(static_list *l, int index);
void *static_remove_current(static_list *l);
int static_free(static_list *l);

#endif
