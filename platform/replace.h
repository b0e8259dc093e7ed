/* The one atomic replace of a file (replace.cpp, both systems). */
#ifndef QUILLOR_REPLACE_H
#define QUILLOR_REPLACE_H

#include "platform/platform.h"

/* ---- one atomic replace ----
 *
 * New content replaces a file through a temporary file created afresh
 * beside it (exclusively, never through a link), which first gets the
 * mode, owner and group of the file it replaces (POSIX: an owner the
 * process may not give stays the process's, and a group it may not give
 * gets no rights; on Windows a looked-up target's attributes are taken
 * over at the rename instead); every write is checked, and the file takes
 * the target's name in one rename.  On any failure the temporary file goes and the target stays
 * exactly as it was.  Every begin ends in a commit or an abort.
 *
 * Durability: the content is on the disk (fsync) before the rename, and
 * the folder's new name (a folder sync) after it, so that after a crash
 * the target holds its old content or its new one, whole.  With
 * PLAT_REPLACE_SYNC_LATER, for the many files of a copy step, neither sync
 * is made here: the target is noted for plat_sync_now, which the step calls
 * before it counts as done; a crash before that may leave the old content,
 * the new, or, on a file system that does not order data before renames,
 * an empty file. */
constexpr unsigned PLAT_REPLACE_NATIVE = 1;     /* target and temp are native paths */
constexpr unsigned PLAT_REPLACE_TEXT = 2;       /* written in text mode (CRLF line ends on Windows) */
constexpr unsigned PLAT_REPLACE_SYNC_LATER = 4; /* durable at plat_sync_now (installer paths only) */
struct plat_replacing {
    plat_file file;     /* the temporary file (of a looked-up target: a bare descriptor, for a copy) */
    int err;            /* errno of the first failure; 0 while all is well */
    unsigned flags;     /* PLAT_REPLACE_* */
    const char *target; /* as the caller named them; the caller keeps them */
    const char *temp;
    const plat_name *named; /* the looked-up target of plat_replace_begin_named */
    plat_name named_temp;   /* and its temporary file */
};
/* Starts replacing target through the temporary file temp, a name in the
 * target's folder that the caller chose.  1, or 0 with errno (EEXIST when
 * temp is taken: the caller may try another name); nothing is left. */
int plat_replace_begin(plat_replacing *r, const char *target, const char *temp, unsigned flags);
/* plat_replace_begin on the installer path target as its look-up t found
 * it, through the file of the bare name temp in its folder, made, renamed
 * and removed by native names, in the folder handle's descriptor where
 * the look-up had one (plat_create_temp, plat_replace_named): no second
 * look-up, and on Windows the target's attributes are kept.  Its file is
 * for plat_copy_file: a stream is made only if plat_replace_write needs one.  A
 * target that is no regular file gives no mode: the new file keeps its own. */
int plat_replace_begin_named(plat_replacing *r, const char *target, const plat_name *t, const char *temp,
                             unsigned flags);
/* Appends len bytes; 1, or 0 once any write failed. */
int plat_replace_write(plat_replacing *r, const void *bytes, size_t len);
/* What plat_replace_commit did: done, or the step that failed (errno). */
enum plat_replace_step { PLAT_REPLACE_DONE, PLAT_REPLACE_WRITE, PLAT_REPLACE_RENAME, PLAT_REPLACE_SYNC_DIR };
/* Syncs, closes and renames as above.  PLAT_REPLACE_WRITE (a write, the
 * sync or the close failed) and PLAT_REPLACE_RENAME leave the target as it
 * was; PLAT_REPLACE_SYNC_DIR means it was replaced but the new name may
 * not be on the disk yet. */
int plat_replace_commit(plat_replacing *r);
/* Gives up: closes and removes the temporary file; the target stays. */
void plat_replace_abort(plat_replacing *r);

#endif
