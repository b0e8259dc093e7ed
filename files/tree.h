/* Directory creation, tree walk and copy.
 *
 * mkdir_path creates a directory with or without its parents; dir_walk
 * lists what a wildcard pattern selects below a directory, breadth-first;
 * copy_file copies one file without ever leaving a damaged target; and
 * copy_tree copies what a pattern selects, keeping the relative layout.
 */
#ifndef QUILLOR_TREE_H
#define QUILLOR_TREE_H

#include "config/static_list.h"

struct path_set;

/* WALK_MISREAD: take the names Windows reads as others (PLAT_ATTR_MISREAD)
 * as they are, for a removal or a backup; without it they are left alone. */
enum { WALK_FILES = 1, WALK_DIRS = 2, WALK_NAMES = 4, WALK_NOFOLLOW = 8, WALK_MISREAD = 16 };
enum { MKDIR_ALONE = 0, MKDIR_WITH_PARENTS = 1 }; /* mkdir_path's parents switch */
enum { COPY_FLAT = 0, COPY_RECURSE = 1 };         /* copy_tree's recurse switch */

int mkdir_path(const char *path, int parents);
/* Fills `result` (initialised here) with heap strings; the caller frees
 * them with static_free.  1 when the walk is whole; 0 when a folder that is
 * there could not be listed, or an entry it would have selected or gone
 * into has a name no installer path can spell: each is logged. */
int dir_walk(static_list *result, const char *start, const char *pattern, int flags, int recurse);
/* How a walk of any kind tells what it could not take: a listing of dir
 * that ended with err (1 when it lost nothing: the folder is not there),
 * and an entry no installer path can name, or one Windows reads as another
 * that the step leaves alone (its listed bits in attrib; logged; 0). */
int dir_walk_listed(const char *dir, int err);
int dir_walk_unnamed(const char *dir, const char *name, unsigned attrib);
int copy_file(const char *source, const char *target);
/* 1 when every selected file was copied; 0 for a null destination or
 * pattern, a subdirectory that could not be made, a file that could not be
 * copied, a missing source folder, an incomplete walk (see dir_walk), or a
 * single file name (no wildcard) that matched nothing.  kept, when given,
 * is the set of files the run's backups wrote: such a file is kept as a
 * backup keeps one (below) before it is replaced. */
int copy_tree(const char *dest, const char *source, const char *pattern, int recurse, int *counter,
              path_set *kept = nullptr);
/* copy_tree as a backup: a file already at a target is first renamed to
 * "name.~N~" above the highest N kept (an identical one simply stays), and the files
 * written are added to kept (when given), the run's set, so that no later copy of
 * the run replaces one without keeping it the same way.  A missing source
 * holds nothing to save and is no failure. */
int copy_tree_backup(const char *dest, const char *source, const char *pattern, int recurse, int *counter,
                     path_set *kept);
/* Renames the file at path to "path.~N~", N one above the highest number
 * already kept beside it (1 when none is), never over an existing name;
 * leaves that name in kept (size bytes) and logs it.  1, or 0 with errno
 * set when no such rename was possible. */
int copy_keep_numbered(const char *path, char *kept, int size);
/* Keeps the file at path under the first free "path.~N~" as well, by a
 * second name (a hard link) or else a copy, while path itself stays: the
 * file can then be replaced without its name ever being missing.  1, or 0
 * with errno set. */
int copy_keep_numbered_beside(const char *path, char *kept, int size);
/* 1 when both files can be read and hold the same bytes. */
int copy_same_content(const char *a, const char *b);

#endif
