/* Pieces the install, update and remove flows share: the common lines of
 * their introductions, the "change any of your answers" question, folder
 * names built under a directory answer without ever cutting them, the copy
 * of one distribution folder, the clean-up of the temporary files and the
 * success lines of the summaries. */
#ifndef QUILLOR_FLOW_UTIL_H
#define QUILLOR_FLOW_UTIL_H

#include "installer/flows.h"
#include "table/table.h"

struct path_set;

/* Prints the six introduction lines every flow shares. */
void flow_intro_common();

/* Asks CHANGE (17) with "n" offered, prints `after` and returns its flag. */
int flow_ask_change(question_table *t, const char *after);

/* field = dir + name + "\" when the whole fits the 512-byte field; else the
 * field stays as it was, the problem is reported and 0 returned. */
int flow_set_subfolder(char *field, const char *dir, const char *name, const char *who);

/* A heap text dir + name + "\" for a folder below a directory answer, or
 * null (reported) when it would not fit a 512-byte path. */
char *flow_folder(const char *dir, const char *name, const char *who);

/* The source folder ".\<name>" of the distribution, into buf (512 bytes). */
void flow_source(char *buf, const char *name);

/* Copies the distribution folder `name` into dir\name\ (created first) with
 * the pattern; the counter grows by the files copied, and a file the run's
 * backups wrote (kept, or null) is kept before it is replaced.  The folder
 * text is handed to *keep when asked for, else released.  1 on success. */
int flow_copy_into_subfolder(const char *dir, const char *name, const char *pattern, int *counter, char **keep,
                             const char *who, path_set *kept);

/* 1 when the directory answer `index` still resolves to the folder it
 * named when it was accepted (or nothing was noted for it then). */
int flow_names_same(question_table *t, int index);
/* flow_names_same; when not, reports that nothing is done in its name. */
int flow_check_named(question_table *t, int index, const char *who);

/* Makes every file the job copied so far durable; 1, or 0 (reported) when
 * some of it may not be on the disk.  Before a summary claims success, and
 * before anything the copies were to save is deleted. */
int flow_sync_copies();

/* The reason a guard gives for refusing: why when its answer (a
 * plat_answer) is yes; when it cannot tell, "cannot tell whether " why and
 * errno, written into buf (TEXT_LINE_SIZE bytes); null when it is no. */
const char *flow_guard(int answer, const char *why, char *buf);

/* Asks USER (28) and, on yes, clears the distribution's files from the
 * current directory, unless the clean-up would reach one of the `count`
 * folders this run wrote into (null entries are skipped): the current
 * directory itself, or a folder in one the patterns select.  Then the
 * clean-up is refused and reported.  Returns the errors to count, 0 or 1. */
int flow_cleanup(question_table *t, const char *const *written, int count, const char *who);

/* Prints the summary of job (MENU_INSTALL, MENU_UPDATE or MENU_REMOVE)
 * and notes in out that it was reached: the errors counted, or what was
 * copied, the pointer to the log and, after a copy, the manuals folder and
 * the URL of the application.  A dry run prints its closing block instead. */
void flow_summary(flow_outcome *out, int job, const char *manuals, const char *domain);
/* What a flow given no table did: nothing, after logging "who: unexpected
 * NULL passed". */
flow_outcome flow_no_table(const char *who);

#endif
