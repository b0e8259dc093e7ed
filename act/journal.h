/* The journal of a run that can be put back (journal.cpp): run policy on
 * top of the platform layer's calls, the same on every system. */
#ifndef QUILLOR_JOURNAL_H
#define QUILLOR_JOURNAL_H

#include "platform/platform.h"

/* ---- the journal of a run that can be put back ----
 *
 * A run that must be all or nothing notes each change to the disk in a
 * journal file before it makes it; the note is on the disk (synced) before
 * the call returns.  Notes name native paths, so that a later start puts
 * them back whatever its environment.  Putting back goes newest first: a
 * file or folder the run made is removed, a file moved aside is renamed
 * back over its name, a rename is reversed, a folder removed is made again.
 * An interruption puts back everything noted before the process ends (the
 * last words call journal_interrupted), and a killed run's journal is put
 * back at the next start (journal_recover). */
enum journal_op {
    JOURNAL_MADE_DIR,    /* a: a folder made where none was */
    JOURNAL_MADE_FILE,   /* a: a file made where none was */
    JOURNAL_ASIDE,       /* a: a file about to be replaced or removed, kept as b (a name aside in its folder) */
    JOURNAL_RENAMED,     /* a about to be renamed to b, which is free */
    JOURNAL_REMOVED_DIR, /* a: an empty folder about to be removed */
    JOURNAL_TEMP,        /* a: a temporary file of a reserved name, noted without a sync */
    JOURNAL_LATER,       /* a: a folder emptied, removed only when the run is kept (its asides gone) */
};
/* Or'ed into a TEMP note: its line waits for the next note, which the
 * caller makes, synced, before the temporary file is made (one write). */
constexpr int JOURNAL_AHEAD = 0x100;
/* Starts the journal file `name` (in the current directory) afresh: 1, or
 * 0 with errno (EEXIST when one is there: recover it first). */
int journal_start(const char *name);
int journal_active(); /* 1 between start and commit or rollback */
/* Notes a change about to be made (a and b installer paths, b null where
 * unused), synced before it returns: 1, or 0 with errno, and then the
 * change must not be made.  Does nothing (1) while no journal is active. */
int journal_note(int op, const char *a, const char *b);
/* The change last noted was made: what it left at a is noted (not synced),
 * so that a later start can tell it from a change made since. */
void journal_made();
/* The change of op noted last was not made after all (a name that
 * appeared meanwhile): it is never put back.  errno is kept. */
void journal_not_made(int op);
/* A name aside for the file path (installer form): in its folder, one of
 * the journal's reserved names, not in use.  1, or 0 with errno. */
int journal_aside_name(const char *path, char *buf, int size);
/* 1 when the bare name is one the journal gives a file set aside,
 * "~qrb<pid>_<n>.old": the run's own, which no step saves or copies. */
int journal_aside_named(const char *name);
/* Keeps the file path aside before it is replaced or removed, by a second
 * name where the file system has them (so that path stays until replaced),
 * else by a rename; noted first, by native names (native: path's, from a
 * look-up, or null).  1 (also while no journal is active), or 0 with errno. */
int journal_set_aside(const char *path, const char *native);
/* Reports a change that could not be put back, or a file moved aside that
 * could not be removed: what (a short phrase), the native path, errno. */
typedef void (*journal_reporter)(const char *what, const char *native, int err);
/* The run succeeded: the journal is marked committed, the files moved
 * aside are removed, then the folders noted for later, and the journal goes.
 * 1, or 0 when some of it failed (each reported; a committed journal is
 * never put back); -1 when the mark could not be written: the journal is
 * still active, to be put back; -2 when not even its taking back could be:
 * the journal is left for the next start, which goes by what reached the
 * disk. */
int journal_commit(journal_reporter report);
/* Puts back every change noted, newest first.  The journal goes when all
 * were put back; else it is renamed "<name>.failed" and kept for a look
 * ("<name>.failed.N", and reported, where an earlier one has that name).
 * Returns the number of changes put back; *failed the number that could
 * not be (each reported). */
int journal_rollback(int *failed, journal_reporter report);
/* For the last words of an interruption (async-signal-safe): puts back,
 * once, every change noted (the temporary files have gone by then) and
 * returns the number put back, in *failed the number it could not (its
 * journal is then left for the next start). */
int journal_interrupted(int *failed);
/* For tests: forgets the active journal as a killed run would, leaving its
 * file as it is. */
void journal_forget();
/* The journal `name` left by a killed run: put back the same way, each
 * change only where what is there is what the run left, else reported and
 * left as it is, never overwritten (a committed one only finishes its
 * commit: 0 put back, none failed, what would not go reported).  -1 when
 * there is no such journal; else as journal_rollback. */
int journal_recover(const char *name, int *failed, journal_reporter report);

#endif
