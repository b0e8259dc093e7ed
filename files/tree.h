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

constexpr int COPY_BLOCK = 1023;         /* bytes moved per read */
constexpr int COPY_STREAM_BUFFER = 65536; /* stdio buffer of each copy stream */

int mkdir_path(const char *path, int parents);
/* Fills `result` (initialised here) with heap strings; the caller frees
 * them with static_free. */
void dir_walk(static_list *result, const char *start, const char *pattern, int flags, int recurse);
int copy_file(const char *source, const char *target);
int copy_tree(const char *dest, const char *source, const char *pattern, int recurse, int *counter);

#endif
