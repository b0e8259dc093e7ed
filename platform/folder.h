/* Folder handles (folder.cpp, both systems). */
#ifndef QUILLOR_FOLDER_H
#define QUILLOR_FOLDER_H

#include "platform/platform.h"

/* ---- a folder handle: one folder, listed once ----
 *
 * A copy step works in one target folder at a time.  It opens the folder
 * once, its case resolved and no link at its end followed, and its names
 * are read into a case-blind set that the handle owns.  A name is then
 * looked up in the set: one the folder lacks costs no call to the system.
 * A file a step creates or renames through the handle enters the set.  A
 * name another program adds while the step runs is not promised to be
 * seen; an exclusive create that meets it (EEXIST) never overwrites it. */
/* Opens the folder path (with PLAT_FIND_NOFOLLOW: not when it is a link),
 * or the folder name in the open folder parent, never following a link
 * at name (on POSIX in the parent's own descriptor, so that a folder
 * swapped for a link since the parent was listed is never entered).  Null
 * with errno: ENOENT or ENOTDIR when there is no such folder, ELOOP for a
 * link, another errno when it could not be listed whole. */
plat_folder *plat_folder_open(const char *path, int flags);
plat_folder *plat_folder_open_in(plat_folder *parent, const char *name, int flags);
void plat_folder_close(plat_folder *f);
/* plat_look_up of the bare name in f. */
int plat_folder_look_up(plat_folder *f, const char *name, plat_name *n);
/* The names of f, one per call from *at = 0 on, each with its PLAT_ATTR_*
 * bits as listed (attrib may be null); null at the end.  Names entered
 * later come after *at = plat_folder_end(f) as it was before. */
const char *plat_folder_next(const plat_folder *f, unsigned *at, unsigned *attrib);
unsigned plat_folder_end(const plat_folder *f);
/* plat_rename_new of two bare names in f (from as the set spells it). */
int plat_folder_rename_new(plat_folder *f, const char *from, const char *to);
/* Removes the file, or the empty folder, of that exact name in f: 0, or
 * -1 with errno. */
int plat_folder_remove(plat_folder *f, const char *name, int folder);

/* ---- numbered keeps ----
 *
 * A file kept beside itself takes the name "name.~N~", N one above the
 * highest number kept there (name compared case-blind), 1 when there is
 * none, and no cap: the kept files sort by age, as a numbered backup's do. */
unsigned long long plat_folder_next_kept(const plat_folder *f, const char *name);
/* The same for a file named on the command line, a native path used as
 * given: 1 also when its folder cannot be listed. */
unsigned long long plat_next_kept_native(const char *native);

#endif
