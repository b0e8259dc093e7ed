/* Shared by the two halves of the journal only: journal.cpp (the records,
 * the file, the walks of a running process) and journal_recover.cpp (a
 * killed run's file, read back and put back with care).
 */
#ifndef QUILLOR_JOURNAL_INTERNAL_H
#define QUILLOR_JOURNAL_INTERNAL_H

#include <cstdio>

#include "act/journal.h"

inline plat_syscalls &sys() { return *plat_syscall_table(); }

constexpr int LINE_SIZE = 2 * PLAT_NATIVE_MAX + 64; /* a note: two paths, a time */
/* What a change left at its name: kind, size, times, device, index. */
#define MADE_LINE "m\t%d\t%lld\t%lld\t%lld\t%lld\t%lld"

/* One change noted; a and b point into the same allocation. */
struct jrec {
    int op;
    long long when;
    int made; /* 1 when ident is what the change left at a; -1 never made */
    plat_identity ident;
    char *a, *b;
};

extern const char OP_LETTERS[]; /* a note's letter, by journal_op */
extern int held;                /* records held, oldest first */
extern FILE *journal_file;      /* the open journal, or null */
extern char journal_native[PLAT_NATIVE_MAX];

jrec *record_at(int i);
/* Holds a new record; 1, or 0 with errno. */
int hold(int op, long long when, const char *a, const char *b);
int last_of(int op); /* the newest record of op, or -1 */
/* Walks the records newest first with undo (1 put back, 0 failed with
 * errno, -1 left as it is), reports and counts, then ends the journal. */
int walk_back(int (*undo)(const jrec *), int *failed, journal_reporter report);
int undo_in_process(const jrec *r); /* one change put back, no questions asked */
/* undo_in_process, only where nothing but the run changed the names since:
 * -1 (left as it is) for a file another put there or changed. */
int undo_checked(const jrec *r);
/* Ends a walk: the journal goes, or is kept as "<name>.failed". */
int finish(int failed, journal_reporter report);
/* The files moved aside and the folders noted for later, removed. */
int remove_asides(journal_reporter report);

#endif
