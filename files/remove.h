/* Tree removal: deletes the files and whole subdirectories of one
 * directory whose names match a pattern (case-blind). */
#ifndef QUILLOR_REMOVE_H
#define QUILLOR_REMOVE_H

int rmfile(const char *dir, const char *pattern);

#endif
