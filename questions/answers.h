/* Answers given ahead of time, for runs nobody sits at: an answers file
 * read by question tag, the offered defaults taken as they stand, and the
 * record of a run's answers written as such a file.
 *
 * The prompting engine asks this module first and reads the console only
 * when it supplies nothing.  A run with an answers file or with defaults
 * taken is unattended: a supplied answer that is rejected ends the run, it
 * is never asked for again, and every stop ends with EXIT_STOPPED.
 */
#ifndef QUILLOR_ANSWERS_H
#define QUILLOR_ANSWERS_H

#include "table/table.h"

/* Exit status of an unattended run that stopped before its summary. */
constexpr int EXIT_STOPPED = 2;
/* Longest value an answers file may give: what an answer field holds. */
constexpr int ANSWER_VALUE_MAX = TEXT_PATH_SIZE - 1;

/* The jobs a JOB line names, numbered as the menu numbers them. */
enum { JOB_NONE = 0, JOB_INSTALL = 1, JOB_UPDATE = 2, JOB_REMOVE = 3 };

/* Reads and checks an answers file.  Returns 1 when every line is sound;
 * else 0 with the fault in why ("FILE:LINE: what"), and nothing is kept. */
int answers_load(const char *path, char *why, int why_size);
/* On: a question the file leaves out takes its offered default. */
void answers_take_defaults(int on);
/* 1 when an answers file is in use or the defaults are taken. */
int answers_unattended();
/* The job the answers file chose, or JOB_NONE. */
int answers_job();
/* Forgets the file, the defaults switch and the record (tests). */
void answers_clear();

/* ---- the seam of the prompting engine and the menu ---- */

/* Puts the supplied answer of question index into r->answer and prints it
 * after the prompt as if typed.  1 when supplied, 0 when the console is to
 * be asked. */
int answers_supply(int index, question_rec *r);
/* The same for the menu: the chosen job's digit into line (size bytes). */
int answers_menu_choice(char *line, int size);
/* Ends the run because a supplied answer was rejected: a console line, a
 * log entry, the log closed, EXIT_STOPPED. */
[[noreturn]] void answers_rejected(int index, const char *value);

/* ---- the record of this run ---- */

/* Keeps the accepted answer of question index (the last one counts; the
 * order is that of first asking). */
void answers_note(int index, const question_rec *r);
/* Writes the job and the kept answers to path as an answers file, through
 * a temporary file renamed over it.  1 on success; a failure is reported
 * on the console and in the log, and 0 returned. */
int answers_write_record(const char *path, int job, const char *version);

#endif
