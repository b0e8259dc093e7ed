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

enum { WALK_FILES = 1, WALK_DIRS = 2, WALK_NAMES = 4 };
enum { MKDIR_ALONE = 0, MKDIR_WITH_PARENTS = 1 }; /* mkdir_path's parents switch */
enum { COPY_FLAT = 0, COPY_RECURSE = 1 };         /* copy_tree's recurse switch */

int mkdir_path(const char *path, int parents);
/* Fills `result` (initialised here) with heap strings; the caller frees
 * them with static_free. */
void dir_walk(static_list *result, const char *start, const char *pattern, int flags, int recurse);
/* How many entries the last dir_walk would have selected or gone into but
 * left out, each logged, because no installer path can spell their names. */
int dir_walk_unnameable();
int copy_file(const char *source, const char *target);
/* 1 when every selected file was copied; 0 for a null destination or
 * pattern, a subdirectory that could not be made, a file that could not be
 * copied, a missing source folder, or a single file name (no wildcard)
 * that matched nothing. */
int copy_tree(const char *dest, const char *source, const char *pattern, int recurse, int *counter);
/* copy_tree as a backup: a file already at a target is first renamed to
 * the first free "name.~N~" (an identical one simply stays), and the files
 * written are remembered, so that no later copy of this run replaces one
 * without keeping it the same way.  A missing source holds nothing to save
 * and is no failure. */
int copy_tree_backup(const char *dest, const char *source, const char *pattern, int recurse, int *counter);
/* Renames the file at path to the first free "path.~N~" (N = 1, 2, ...),
 * leaves that name in kept (size bytes) and logs it.  1, or 0 with errno
 * set when no such rename was possible. */
int copy_keep_numbered(const char *path, char *kept, int size);
/* 1 when both files can be read and hold the same bytes. */
int copy_same_content(const char *a, const char *b);

#endif
