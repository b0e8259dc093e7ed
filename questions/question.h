/* The prompting engine: asks one question of the table, handles "Q" (quit)
 * and "?" (help), validates the answer by the record's mode and stores the
 * accepted value as the record's default answer. */
#ifndef QUILLOR_QUESTION_H
#define QUILLOR_QUESTION_H

#include "table/table.h"

/* Exit status of a run that ended because standard input ran out. */
constexpr int EXIT_END_OF_INPUT = 2;

int question(int index, question_table *t);
int check_special_answer(const char *text, int index);
int y_n_test(question_rec *r, question_table *t);
int directory_test(question_rec *r, question_table *t);
int relative_test(question_rec *r, const char *base, question_table *t);
int none_test(question_rec *r, question_table *t);
/* 1 when the directory exists and is writable: a probe file is created
 * there exclusively and removed again (its name is "tempfile",
 * then tempfile.001 and on while such names are taken), or, where the
 * system can, an unnamed file that never shows in the folder. */
int dir_exists(const char *path);

/* Reads one answer line into buf (size bytes, rest of a longer line
 * discarded).  At the end of input it logs where it happened, closes the
 * log and ends the process with EXIT_END_OF_INPUT; it never returns then. */
void read_answer(char *buf, int size, const char *where);
/* Ends the run before any summary (end of input, a confirmed quit, a
 * rejected answer): why, when given, goes to the log as an error, said to
 * the console, which is flushed; the log is closed and the process ends
 * with status. */
[[noreturn]] void stop_run(int status, const char *why, const char *said);

#endif
