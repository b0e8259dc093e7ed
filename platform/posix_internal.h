/* Shared inside the POSIX platform layer only: what a path mapping found,
 * handed on to the call made with it.  posix_resolve.cpp maps paths,
 * posix_files.cpp and posix_durable.cpp hold the wrappers on installer
 * paths; all of them reach
 * the file system through the table (sys()), outside its own rows.
 */
#ifndef QUILLOR_POSIX_INTERNAL_H
#define QUILLOR_POSIX_INTERNAL_H

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/common_internal.h"

/* ---- what a mapping found ----
 *
 * The wrappers on installer paths pass it on to the call made with the
 * path: a file known to be a regular file needs no second look before it
 * is opened, and a name its folder was just seen to lack needs no open. */

enum map_result { MAP_OTHER, MAP_EXISTS, MAP_LOOKED_UP };

struct posix_map {
    map_result how;
    mode_t mode; /* MAP_EXISTS: the entry's type */
    int found;   /* MAP_LOOKED_UP: the name was there in another case */
};

/* plat_native_path, telling in m what the mapping found. */
int posix_map_path(const char *path, char *buf, int size, posix_map *m);
/* The path as written, in native form, without asking the file system
 * (its case unresolved); 0 with errno when it does not fit. */
int posix_map_literal(const char *path, char *buf, int size);
void remember_map(posix_map *m, map_result how, const struct stat *st, int found);

/* Splits a native path into its directory, as the lookups name it ("" or
 * ending with "/"), and its last name.  0 when there is no name. */
int split_native(const char *native, char *dir, char *name);

/* Checks what an open stream on a native name reached: a regular file,
 * made blocking again and truncated for "w".  Closes it and returns null
 * with errno when it may not be used (platform_posix.cpp). */
FILE *settled(FILE *f, const char *mode);
/* The descriptor of a copy's file (posix_durable.cpp). */
int posix_fd(const plat_file *f);

#endif
