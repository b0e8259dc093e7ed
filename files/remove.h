/* Tree removal: deletes the files and whole subdirectories of one
 * directory whose names match a pattern (case-blind). */
#ifndef QUILLOR_REMOVE_H
#define QUILLOR_REMOVE_H

/* 1 when everything the pattern selects is gone (or nothing matched); 0
 * for a null pattern, when any selected file or folder stayed, or when a
 * folder that is there could not be listed or holds a selected name no
 * installer path can spell, or one Windows reads as another (a clean-up
 * leaves those alone); each is named in the log. */
int rmfile(const char *dir, const char *pattern);
/* rmfile as the remove job runs it: a name Windows reads as another is
 * removed as itself, and where backup_began is not 0 (a time of
 * plat_clock: when the backup of what is removed began) a file changed
 * after it was not saved by that backup, so it stays, named in the log
 * and counted as staying. */
int rmfile_job(const char *dir, const char *pattern, long long backup_began);

#endif
