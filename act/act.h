/* The acting layer: every change the installer makes to the disk.
 *
 * In a real run each act_ call is the platform call it stands for, nothing
 * more.  In a dry run nothing on the disk is touched: each action prints
 * one line of the plan at once, in the order of the actions, and is kept in
 * an overlay of planned state, so that later look-ups (act_kind) see a
 * folder "created" earlier as there and a file "removed" as gone.  Not for
 * reading files: reads always go to the disk.
 */
#ifndef QUILLOR_ACT_H
#define QUILLOR_ACT_H

#include <cstddef>

#include "act/journal.h"
#include "platform/platform.h"
#include "platform/replace.h"

/* The plan's line forms; act_plan writes each the same way. */
enum act_line {
    ACT_CREATE_FOLDER,   /* create folder \quillor\ */
    ACT_COPY_NEW,        /* copy new \quillor\index.tpl */
    ACT_REPLACE_SAME,    /* replace \quillor\index.tpl (identical) */
    ACT_REPLACE_CHANGED, /* replace \quillor\index.tpl (changed locally) */
    ACT_KEEP,            /* keep \quillor\index.tpl as \quillor\index.tpl.~2~ */
    ACT_REMOVE,          /* remove \quillor\index.tpl */
    ACT_REMOVE_FOLDER,   /* remove folder \quillor\img\ */
    ACT_CLEAN_UP,        /* clean up quillor.* */
    ACT_ERROR,           /* error: the message the real run logs */
    ACT_REWRITE,         /* rewrite quillor.ini */
    ACT_OLD_LINE,        /* - a line the rewrite removes */
    ACT_NEW_LINE,        /* + a line the rewrite adds */
};

/* Starts (on 1) or ends a dry run.  While it lasts, the system calls that
 * write are refused (EROFS) below the whole program, so that a step not
 * planned through this layer fails rather than change anything. */
void act_set_dry(int on);
int act_dry();
/* Lets the calls that write through again, the run staying dry: for the
 * record file, the one file a dry run writes. */
void act_unfence();

/* Prints one plan line (dry run only): form, the path as the installer
 * spells it (a leading ".\" dropped), and for ACT_KEEP the kept name.
 * ACT_REMOVE counts a file that would be removed. */
void act_plan(int form, const char *path, const char *other = nullptr);
/* Notes in the overlay that path is now planned as kind (PLAT_KIND_NONE:
 * removed).  Dry run only. */
void act_note(const char *path, int kind);
/* What path names: the overlay's planned state first, then plat_path_kind. */
int act_kind(const char *path);
/* Notes path as planned to hold what source holds (a copy, a keep), or
 * the bytes text (len, a rewrite).  Dry run only. */
void act_note_copy(const char *path, const char *source);
/* The kind path was last planned as, or -1 when the plan never touched it
 * (the disk is not asked). */
int act_noted_kind(const char *path);
/* The native name the plan made at path, as the plan spells it (a name
 * planned as "Index.tpl" is what "index.tpl" finds), or null. */
const char *act_noted_name(const char *path);
/* The native name the plan gives path, without asking the disk about the
 * name itself (its folder resolved once): for a name in a folder only the
 * plan made.  1, or 0 when it does not fit. */
int act_planned_name(const char *path, char *native, int size);
void act_note_text(const char *path, const char *text, size_t len);
/* What path would hold: the path of the file to read for it (path itself
 * when nothing was planned there), or null with its planned bytes in *text
 * (*len of them). */
const char *act_content(const char *path, const char **text, size_t *len);
/* Calls fn for each name planned to stand in folder that the disk does not
 * hold yet, with the kind it is planned as: what the folder would list
 * once the plan is made.  Dry run only. */
void act_planned_in(const char *folder, void (*fn)(void *ctx, const char *name, int kind), void *ctx);
void act_overlay_clear(); /* forgets every note */

/* 0 when the folder of path is one (as planned: ENOENT or ENOTDIR where it
 * is not) and, as the disk holds it, lets its names be made and removed,
 * else -1 with errno: what the real change would meet.  A folder the plan
 * makes is the run's own: 0.  In a plan of an
 * all-or-nothing run a name with a tab or a line end is refused (EINVAL),
 * as its journal refuses it. */
int act_may_change(const char *path);
/* plat_mkdir.  Dry: EEXIST when act_kind finds something there, ENOENT
 * when the parent is no folder; else plans "create folder" and notes it. */
int act_mkdir(const char *path);
/* plat_remove.  Dry: ENOENT unless act_kind finds a file; else plans
 * "remove" and notes the file gone. */
int act_remove(const char *path);
/* plat_rmdir.  Dry: ENOENT unless act_kind finds a folder, ENOTEMPTY
 * while anything in it is not planned away; else plans "remove folder"
 * and notes it gone. */
int act_rmdir(const char *path);
/* log_error, and in a dry run the same message as an error line of the
 * plan: the errors a real run would meet, foreseen. */
void act_error(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* log_report, and in a dry run an error line of the plan instead: a
 * refusal or a failure that the real run reports and counts. */
void act_report(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* A progress dot on the console, in a real run only. */
void act_dot();
/* plat_probe_create.  Dry: 1 when the folder of path is there (as act_kind
 * sees it) and path is not, else 0 with errno (EEXIST or ENOENT). */
int act_probe_create(const char *path);

/* One rewrite of a text file by its new content.  Real: the atomic replace
 * of plat_replace_begin (real holds it).  Dry: the content is kept in
 * memory, and the commit prints the lines removed and added. */
struct act_rewrite {
    plat_replacing real; /* target and temp are set in both runs */
    char *text;          /* dry: the new content */
    size_t len, cap;
    int failed; /* dry: memory ran out */
};
int act_rewrite_begin(act_rewrite *w, const char *target, const char *temp, unsigned flags);
int act_rewrite_write(act_rewrite *w, const void *bytes, size_t len);
int act_rewrite_commit(act_rewrite *w); /* a plat_replace_step */
void act_rewrite_abort(act_rewrite *w);

/* ---- all or nothing ----
 *
 * With --rollback every change below is noted in the journal before it is
 * made (platform.h), a file replaced or removed is kept aside in its folder
 * until the run ends, and a folder removed goes only then; a run that ends
 * with errors, stops or is interrupted is put back. */

/* At start: a journal a killed run left is put back, and that is said.
 * Returns the number of its changes that could not be put back. */
int act_recover();
/* Starts the journal of this run: 1, or 0 when it cannot be (said why). */
int act_rollback_start();
int act_rollback_on(); /* the journal of this run is active */
/* Notes a change about to be made (no journal: nothing): 1 when it may go
 * ahead, else 0 with errno.  act_made after it was made. */
int act_journal(int op, const char *a, const char *b);
void act_made();
void act_not_made(int op); /* the change of op noted last was not made after all */
/* Keeps the file path (native: its looked-up native form, or null) aside
 * before it is replaced, by a second name so that path stays until
 * replaced; noted first.  1, or 0 with errno. */
int act_aside(const char *path, const char *native);
/* Removes the file name of the open folder f, whose path is path: in a
 * run that can be put back it is moved aside in its folder instead, and in
 * a dry run it goes in the plan only.  0, or -1 with errno. */
int act_remove_in(plat_folder *f, const char *path, const char *name);
/* The end of the run: kept when ok, else put back, and said so.  The
 * journal is done with either way.  0 when a run to be kept could not be
 * (its journal could not be marked: it is put back) or could not remove all
 * it set aside or emptied (each reported), else 1. */
int act_run_ends(int ok);

/* The closing block of a dry run: the counts the real summary would show,
 * the files removed as planned, and that nothing was changed. */
void act_closing(int copied, int backed_up, int errors);
/* The run planned is all or nothing (--rollback): a plan with errors ends
 * saying that every change would be put back. */
void act_plan_rollback(int on);
/* Forgets the overlay and the counts (tests). */
void act_clear();

#endif
