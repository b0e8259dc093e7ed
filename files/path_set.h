/* A set of paths compared case-blind, for remembering which files a copy
 * step or a run's backups wrote.  It keeps each path as first added, so a
 * caller can tell whether a later path is the same spelling or only the
 * same name in another case. */
#ifndef QUILLOR_PATH_SET_H
#define QUILLOR_PATH_SET_H

#include <cstddef>

struct path_set {
    char **slots; /* open addressing; null marks a free slot */
    size_t size;  /* slots, a power of two (0 before the first add) */
    size_t count;
};

void path_set_init(path_set *s);
/* Adds a copy of path unless a case-blind equal one is there.  1 when the
 * path is in the set afterwards, 0 when memory ran out. */
int path_set_add(path_set *s, const char *path);
/* The stored spelling of a path equal to `path` case-blind, or null. */
const char *path_set_find(const path_set *s, const char *path);
void path_set_free(path_set *s);

#endif
