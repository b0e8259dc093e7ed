/* Shared inside the POSIX platform layer only: the kept directory listings
 * that make case-blind lookups cheap, and what a path mapping found, handed
 * on to the call made with it.  posix_listing.cpp keeps the listings,
 * posix_resolve.cpp maps paths with them, posix_files.cpp and
 * posix_durable.cpp hold the wrappers on installer paths; all of them reach
 * the file system through the table (sys()), outside its own rows.
 */
#ifndef QUILLOR_POSIX_INTERNAL_H
#define QUILLOR_POSIX_INTERNAL_H

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/common_internal.h"

struct listing; /* the names of one directory, kept (posix_listing.cpp) */

/* The listing of dir (whose state, taken just before, is st), read again
 * when it changed; null when it cannot be read. */
listing *listing_of(const char *dir, const struct stat *st);
/* The one name in l that matches name case-blind, or null; *ambiguous set
 * when several do. */
const char *listing_find(const listing *l, const char *name, int *ambiguous);
/* The kept listing of dir, whether or not it is current; null when none is
 * kept. */
listing *listing_cached(const char *dir);
/* The kept listing of dir when it is current now (one stat); a stale one
 * is dropped.  Null when none is kept or it was stale. */
listing *listing_current_now(const char *dir);
/* Forgets every kept listing (a removed directory's inode may come back). */
void listing_clear_all();

/* ---- what a mapping found ----
 *
 * The wrappers on installer paths pass it on to the listing upkeep: a file
 * known to be a regular file needs no second look before it is opened, and
 * a name just looked up in a current listing can be entered into it once
 * the call has made it. */

enum map_result { MAP_OTHER, MAP_EXISTS, MAP_LOOKED_UP };

struct posix_map {
    map_result how;
    mode_t mode;   /* MAP_EXISTS: the entry's type */
    nlink_t links; /* MAP_EXISTS: its number of links */
    listing *in;   /* MAP_LOOKED_UP: the listing its directory had */
    int found;     /* MAP_LOOKED_UP: the name was there in another case */
};

/* plat_native_path, telling in m what the mapping found. */
int posix_map_path(const char *path, char *buf, int size, posix_map *m);
/* The same, asking the folder's listing first where one is kept (a name
 * it holds is MAP_LOOKED_UP and found): most names looked up in a folder
 * being filled are new, and one stat of the folder checks the listing
 * where an lstat of the name and then that stat would be two. */
int posix_map_create(const char *path, char *buf, int size, posix_map *m);
/* The path as written, in native form, without asking the file system
 * (its case unresolved); 0 with errno when it does not fit. */
int posix_map_literal(const char *path, char *buf, int size);
void remember_map(posix_map *m, map_result how, const struct stat *st, listing *in, int found);

/* Splits a native path into its directory, as the lookups name it ("" or
 * ending with "/"), and its last name.  0 when there is no name. */
int split_native(const char *native, char *dir, char *name);
/* A file or directory was made at native, mapped as m: entered into the
 * listing that the lookup before found current. */
void note_created(const posix_map *m, const char *native);
/* An exclusive create at native, mapped as m, found a name there that the
 * listing lacked: the listing is dropped. */
void note_missed(const posix_map *m, const char *native);
/* The listing a rename within one directory can keep current, or null (to
 * mapped as to_map); note_renamed enters a rename that succeeded into it. */
listing *rename_listing(const posix_map *to_map, const char *from, const char *to);
void note_renamed(listing *l, const posix_map *to_map, const char *from, const char *to);

/* Checks what an open stream on a native name reached: a regular file,
 * made blocking again and truncated for "w".  Closes it and returns null
 * with errno when it may not be used (platform_posix.cpp). */
FILE *settled(FILE *f, const char *mode);

#endif
