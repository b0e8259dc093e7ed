/* The installer's log ("New-Log").
 *
 * Appends time-stamped, levelled entries to a text file, rotates the file
 * into numbered generations above a size limit and can echo entries to the
 * console.  One process-wide current log serves log_error, log_info and
 * log_debug.  It never stops the installer: a file that cannot be opened or
 * written switches logging off.  Entries are kept in the record and written
 * a buffer at a time, and at every log_flush.
 */
#ifndef QUILLOR_LOG_H
#define QUILLOR_LOG_H

#include <cstdint>
#include <cstdio>

#include "text/text.h"

constexpr int32_t LOG_MAGIC = 32000;
constexpr int LOG_MSG_SIZE = 1024;     /* formatted message buffer */
constexpr int LOG_BUFFER_SIZE = 8192;  /* entries kept before they are written: a few dozen */

enum { LOG_LEVEL_ERROR = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_DEBUG = 2 };

struct log_record {
    int32_t marker;
    int32_t generations;
    int32_t echo;
    int32_t level;
    char *file_name;
    int32_t size_limit;
    int32_t size;
    FILE *file;
    char pending[LOG_BUFFER_SIZE]; /* entries not yet written to the file */
    int32_t pending_size;
    long pid; /* the process that keeps this log, named in each entry (it never forks) */
};

int log_init(log_record *lg);
int log_open(log_record *lg, const char *dir, const char *name);
int log_set_limits(log_record *lg, int32_t size_limit, int32_t generations, int32_t echo);
int log_set_level(log_record *lg, int32_t level);
int log_make_current(log_record *lg);
log_record *log_current();
int log_write(log_record *lg, int level, const char *text, int length);
int log_rotate(log_record *lg);
/* Writes the entries kept so far to the file.  1, or 0 when the write
 * failed: then the log is switched off and the console says so once.  At
 * the end of every copy and removal step, before a question waits for the
 * console, and at log_close. */
int log_flush(log_record *lg);
int log_close(log_record *lg);
/* Async-signal-safe: appends the entry "interrupted" to the current log and
 * closes its file; for an interrupt handler that ends the process. */
void log_interrupted(int put_back); /* put_back > 0: that many changes were put back first */

#define LOG_PRINTF TEXT_PRINTF(1, 2)

/* text with its control characters written as escapes ("\\n", "\\x1b"), as
 * the log writes them, into out (size bytes). */
void log_escape(char *out, int size, const char *text);
int log_error(const char *fmt, ...) LOG_PRINTF;
int log_info(const char *fmt, ...) LOG_PRINTF;
int log_debug(const char *fmt, ...) LOG_PRINTF;

/* A problem the administrator must see: one error entry in the log and the
 * same words on the console between line ends.  log_report_info does the
 * same at info level, for news that is no failure. */
void log_report(const char *fmt, ...) LOG_PRINTF;
void log_report_info(const char *fmt, ...) LOG_PRINTF;

#endif
