/* Tree removal: deletes the files and whole subdirectories of one
 * directory whose names match a pattern (case-blind). */
#ifndef QUILLOR_REMOVE_H
#define QUILLOR_REMOVE_H

/* 1 when everything the pattern selects is gone (or nothing matched); 0
 * for a null pattern, when any selected file or folder stayed, or when a
 * folder that is there could not be listed or holds a selected name no
 * installer path can spell; each is named in the log. */
int rmfile(const char *dir, const char *pattern);
/* While when is not 0 (a time of plat_clock: when the backup of what
 * rmfile is about to remove began), a file changed after it was not saved
 * by that backup, so rmfile leaves it, names it in the log and counts it
 * as staying.  0 ends that. */
void rmfile_saved_at(long long when);

#endif
