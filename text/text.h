/* Bounded string and path helpers.
 *
 * Every path, answer and value in the installer lives in a fixed buffer.
 * These helpers are the only way the rest of the code copies, appends and
 * compares such strings: they never write past the size they are given and
 * they take null pointers without failing.  The path operations work on
 * installer-form paths (backslash separators) and return static 512-byte
 * buffers that the next call of the same operation overwrites.
 */
#ifndef QUILLOR_TEXT_H
#define QUILLOR_TEXT_H

#include <cstddef>

constexpr int TEXT_PATH_SIZE = 512;  /* paths, answers and values */
constexpr int TEXT_LINE_SIZE = 1024; /* log messages and walk results */

char *text_copy(char *dst, const char *src, int size);
char *text_append(char *dst, const char *src, int size);
char *text_copy_n(char *dst, const char *src, int n);
int text_compare(const char *a, const char *b);
int text_compare_nocase(const char *a, const char *b);
char *text_lower(char *s);
/* A heap copy of s for the caller to free; null for null or when memory
 * is exhausted. */
char *text_dup(const char *s);

/* c lower-cased through a table made once: the one case fold of the
 * case-blind comparisons and hashes that run once per character. */
unsigned char text_fold(unsigned char c);
/* A hash of s that names differing only in case share (FNV-1a over the
 * text_fold bytes): for tables keyed case-blind. */
size_t text_fold_hash(const char *s);

/* The continuation marker that ends a configuration value of n characters
 * (its trailing blanks already cut): " /" joins the next line on, "\n"
 * puts a line feed before it.  A value of fewer than two characters has
 * none. */
enum { TEXT_MARK_NONE, TEXT_MARK_JOIN, TEXT_MARK_NEWLINE };
int text_continuation_mark(const char *value, size_t n);

/* 1 when s (not null) ends with a backslash: a directory in installer form. */
int text_ends_with_backslash(const char *s);
/* Cuts every carriage return and line feed at the end of s; returns the
 * length left. */
size_t text_strip_line_end(char *s);

/* printf-style checking of a function's format and arguments. */
#if defined(__GNUC__)
#define TEXT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TEXT_PRINTF(fmt, args)
#endif

char *clean_name(const char *name);
char *path_join(const char *dir, const char *name);
char *strip_ext(const char *name);
enum { BASE_KEEP_EXT = 0, BASE_STRIP_EXT = 1 }; /* base_name's strip switch */
char *base_name(const char *path, int strip);
char *dir_part(const char *path);

/* Joins a directory and a listed entry name with exactly one backslash and
 * the name exactly as the listing gave it (no cleaning), into buf.
 * Returns 1, or 0 when the result would not fit (buf is then empty). */
int path_join_raw(char *buf, int size, const char *dir, const char *name);
/* The directory path of a URL path, into out (size bytes, cut to fit):
 * always a leading "\", a "/" before a segment becomes "\", a final "/" is
 * dropped and "//" ends the path.  With TEXT_PATH_SIZE + 1 bytes nothing of
 * a 511-character URL is lost. */
void path_of_url(char *out, int size, const char *url);

#endif
