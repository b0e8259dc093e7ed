/* The journal of a run that can be put back, shared by every system: the
 * notes file (one line per change, synced before the change is made), the
 * same notes in memory for an interrupt handler, and the walks that put the
 * changes back, in-process, from an interrupt, or from a killed run's file.
 *
 * Not here: which changes a run makes and when it notes them (the caller's).
 *
 * The file: a header line, then per change "<op>\t<time>\t<a>\t<b>" (native
 * paths, the time in the units of plat_clock), after a change made an
 * "m" line with what it left at a, and "C" once the run is committed ("U"
 * after it: a mark whose sync failed, taken back).
 */
#include "act/journal_internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
static const char NATIVE_SEP[] = "\\";
#else
static const char NATIVE_SEP[] = "/";
#endif
const char OP_LETTERS[] = "DFARXTL"; /* by journal_op */
static const char HEADER[] = "# quillor journal 1\n";
constexpr int ASIDE_TRIES = 100;      /* names aside tried for one file */
constexpr int INDEX_BLOCK = 1024;     /* records per index block */
constexpr int INDEX_BLOCKS = 4096;    /* four million changes at most */
constexpr int FAILED_KEPT_MAX = 9999; /* journals kept for a look: never one applied twice */

/* ---- the records, in memory ---- */

/* Index blocks never move once made, and a record is complete before the
 * published count takes it in: an interrupt reads only those. */
static jrec **index_blocks[INDEX_BLOCKS];
int held;
static volatile sig_atomic_t published, live;
static long journal_pid; /* the process that keeps the journal, in its names aside */
FILE *journal_file;
char journal_native[PLAT_NATIVE_MAX];
static char last[PLAT_NATIVE_MAX], last_native[PLAT_NATIVE_MAX]; /* the folder a note mapped last */

jrec *record_at(int i) { return index_blocks[i / INDEX_BLOCK][i % INDEX_BLOCK]; }

/* Holds one more record: 1, or 0 with errno ENOMEM. */
int hold(int op, long long when, const char *a, const char *b)
{
    int blk = held / INDEX_BLOCK;
    if (blk < INDEX_BLOCKS && !index_blocks[blk]) index_blocks[blk] = (jrec **)calloc(INDEX_BLOCK, sizeof(jrec *));
    size_t la = strlen(a), lb = strlen(b);
    jrec *r = blk < INDEX_BLOCKS && index_blocks[blk] ? (jrec *)malloc(sizeof(jrec) + la + lb + 2) : nullptr;
    if (!r) {
        errno = ENOMEM;
        return 0;
    }
    r->op = op;
    r->when = when;
    r->made = 0;
    r->a = (char *)(r + 1);
    r->b = r->a + la + 1;
    memcpy(r->a, a, la + 1);
    memcpy(r->b, b, lb + 1);
    index_blocks[blk][held % INDEX_BLOCK] = r;
    held++;
    return 1;
}

/* Drops every record and closes the file, which stays where it is. */
static void drop_all()
{
    live = 0;
    published = 0;
    for (int i = 0; i < held; i++) free(record_at(i));
    for (jrec **&blk : index_blocks) {
        free(blk);
        blk = nullptr;
    }
    held = 0;
    if (journal_file) plat_fclose(journal_file);
    journal_file = nullptr;
}

void journal_forget() { drop_all(); }

int journal_active() { return journal_file != nullptr; }

/* ---- writing the file ---- */

/* Appends the line, synced when asked: 1, or 0 with errno. */
enum { KEPT_IN_STREAM, TO_SYSTEM, TO_DISK }; /* how far append takes a line */

static int append(const char *line, int len, int synced)
{
    if (len <= 0 || len >= LINE_SIZE) {
        errno = ENAMETOOLONG;
        return 0;
    }
    if (sys().fwrite(line, 1, (size_t)len, journal_file) != (size_t)len) return 0;
    if (synced == TO_DISK) return sys().fsync(journal_file) == 0;
    if (synced == KEPT_IN_STREAM) return 1; /* goes with the next line that must not be lost */
    return sys().fflush(journal_file) == 0; /* in the system's hands: a killed process loses nothing */
}

int journal_start(const char *name)
{
    if (journal_file) {
        errno = EBUSY;
        return 0;
    }
    if (!name || !plat_native_path(name, journal_native, sizeof journal_native)) {
        if (!name) errno = EINVAL;
        return 0;
    }
    journal_file = sys().fopen(journal_native, "wbx"); /* never a file in progress: an interrupt keeps it */
    last[0] = '\0';
    journal_pid = plat_process_id();
    if (!journal_file) return 0;
    if (append(HEADER, (int)strlen(HEADER), TO_DISK) && sys().sync_dir(journal_native) == 0) {
        live = 1;
        return 1;
    }
    int err = errno;
    drop_all();
    sys().remove(journal_native);
    errno = err;
    return 0;
}

/* Where the last name of path starts (after its folder part, or a drive
 * "X:"; elsewhere a colon is part of a name). */
static size_t leaf_at(const char *path, size_t len)
{
    while (len > 0 && path[len - 1] != '\\' && path[len - 1] != '/' && !(len == 2 && path[1] == ':')) len--;
    return len;
}

/* The native form of folder (installer form), the last one mapped kept. */
static int folder_native(const char *folder, char *native)
{
    if (last[0] && strcmp(folder, last) == 0) {
        memcpy(native, last_native, strlen(last_native) + 1);
        return 1;
    }
    last[0] = '\0';
    if (!plat_native_path(folder, native, PLAT_NATIVE_MAX)) return 0;
    memcpy(last_native, native, strlen(native) + 1);
    memcpy(last, folder, strlen(folder) + 1);
    return 1;
}

/* The native form of a name about to be made: its spelling below its
 * mapped folder, with no case-blind look-up in a folder being filled. */
static int native_of_new(const char *path, char *native)
{
    char folder[PLAT_NATIVE_MAX];
    size_t len = strlen(path);
    while (len > 1 && (path[len - 1] == '\\' || path[len - 1] == '/')) len--; /* a folder's own name */
    size_t leaf = leaf_at(path, len);
    if (leaf == 0 || leaf >= sizeof folder) return plat_native_path(path, native, PLAT_NATIVE_MAX);
    memcpy(folder, path, leaf);
    folder[leaf] = '\0';
    if (!folder_native(folder, native)) return 0;
    size_t n = strlen(native);
    const char *sep = n && (native[n - 1] == '/' || native[n - 1] == '\\') ? "" : NATIVE_SEP;
    int fits = snprintf(native + n, PLAT_NATIVE_MAX - n, "%s%.*s", sep, (int)(len - leaf), path + leaf);
    return fits >= 0 && (size_t)fits < PLAT_NATIVE_MAX - n ? 1 : (errno = ENAMETOOLONG, 0);
}

/* The native form of path for a note (is_new: a name about to be made;
 * "" for none): 1, or 0 with errno. */
static int note_native(const char *path, char *native, int is_new)
{
    if (!path) {
        native[0] = '\0';
        return 1;
    }
    return is_new ? native_of_new(path, native) : plat_native_path(path, native, PLAT_NATIVE_MAX);
}

/* Notes op on the native names na and nb ("" where unused); EINVAL for a
 * name with a tab or a line end, which a line cannot hold. */
static int note_natives(int op, const char *na, const char *nb)
{
    char line[LINE_SIZE];
    int ahead = (op & JOURNAL_AHEAD) && (op & ~JOURNAL_AHEAD) >= JOURNAL_TEMP;
    op &= ~JOURNAL_AHEAD;
    if (strpbrk(na, "\t\r\n") || strpbrk(nb, "\t\r\n")) return errno = EINVAL, 0;
    long long when = plat_clock();
    int n = snprintf(line, sizeof line, "%c\t%lld\t%s\t%s\n", OP_LETTERS[op], when, na, nb);
    if (!hold(op, when, na, nb)) return 0;
    int how = ahead ? KEPT_IN_STREAM : op < JOURNAL_TEMP ? TO_DISK : TO_SYSTEM; /* the last two change nothing yet */
    if (!append(line, n, how)) {
        int err = errno;
        free(record_at(--held)); /* never published */
        errno = err;
        return 0;
    }
    published = held;
    return 1;
}

int journal_note(int op, const char *a, const char *b)
{
    if (!journal_file) return 1;
    char na[PLAT_NATIVE_MAX], nb[PLAT_NATIVE_MAX];
    int bare = op & ~JOURNAL_AHEAD;
    if (bare < JOURNAL_MADE_DIR || bare > JOURNAL_LATER || !a) return errno = EINVAL, 0;
    int a_new = bare == JOURNAL_MADE_DIR || bare == JOURNAL_MADE_FILE || bare == JOURNAL_TEMP;
    return note_native(a, na, a_new) && note_native(b, nb, 1) && note_natives(op, na, nb);
}

void journal_made()
{
    int i = held - 1;
    while (i >= 0 && record_at(i)->op == JOURNAL_TEMP) i--; /* a temporary file is not the change */
    if (!journal_file || i < 0) return;
    jrec *r = record_at(i);
    if (sys().name_identity(r->a, &r->ident) != 0) { /* nothing there: anything found there later is another's */
        if (errno != ENOENT) return;
        r->ident = plat_identity{PLAT_KIND_NONE, 0, 0, 0, 0, 0};
    }
    r->made = 1;
    char line[LINE_SIZE];
    const plat_identity &id = r->ident;
    int n = snprintf(line, sizeof line, MADE_LINE "\n", id.kind, id.size, id.modified, id.changed, id.device, id.index);
    append(line, n, TO_SYSTEM); /* in the system's hands at once: a kill cannot lose it */
}

/* The newest record of op, or -1. */
int last_of(int op)
{
    int i = held - 1;
    while (i >= 0 && record_at(i)->op != op) i--;
    return i;
}

void journal_not_made(int op)
{
    int err = errno; /* the caller's: why it was not made */
    int i = journal_file ? last_of(op) : -1;
    if (i < 0) return;
    record_at(i)->made = -1;
    char line[4] = {'n', OP_LETTERS[op], '\n', '\0'};
    append(line, 3, TO_SYSTEM);
    errno = err;
}

/* The next of this process's names aside for path, whether or not it is
 * free: 1, or 0 with errno. */
static int aside_candidate(const char *path, char *buf, int size)
{
    static int counter; /* names this process gave */
    if (!path || !buf || size <= 0) return errno = EINVAL, 0;
    const char *cut = strrchr(path, '\\'), *other = strrchr(path, '/');
    if (other && (!cut || other > cut)) cut = other;
    int folder = cut ? (int)(cut - path) + 1 : path[0] && path[1] == ':' ? 2 : 0;
    int n = snprintf(buf, (size_t)size, "%.*s~qrb%ld_%d.old", folder, path, journal_pid, ++counter);
    return n >= 0 && n < size ? 1 : (errno = ENAMETOOLONG, 0);
}

int journal_aside_named(const char *name)
{
    long pid;
    int n, end = 0;
    return name && sscanf(name, "~qrb%ld_%d.old%n", &pid, &n, &end) == 2 && end > 0 && name[end] == '\0';
}

int journal_aside_name(const char *path, char *buf, int size)
{
    for (int tries = 0; tries < ASIDE_TRIES; tries++) {
        plat_identity there;
        char native[PLAT_NATIVE_MAX];
        if (!aside_candidate(path, buf, size) || !native_of_new(buf, native)) return 0;
        if (sys().name_identity(native, &there) != 0 && errno == ENOENT) return 1;
    }
    errno = EEXIST;
    return 0;
}

/* One try at setting path aside under the next name: 1 done, 0 failed,
 * -1 the name was taken (the note then marked not made). */
static int set_aside_once(const char *path, const char *native)
{
    char aside[PLAT_NATIVE_MAX], na[PLAT_NATIVE_MAX], nb[PLAT_NATIVE_MAX];
    if (native && native[0] && strlen(native) < sizeof na)
        memcpy(na, native, strlen(native) + 1);
    else if (!note_native(path, na, 0))
        return 0;
    if (!aside_candidate(path, aside, sizeof aside) || !note_native(aside, nb, 1) ||
        !note_natives(JOURNAL_ASIDE, na, nb))
        return 0;
    int done = sys().link(na, nb) == 0 ? 2 : errno == EEXIST ? 0 : 1;
    if (done == 1) done = sys().move_new(na, nb) == 0 ? 2 : 0; /* no second names here */
    if (done == 2) return 1;
    journal_not_made(JOURNAL_ASIDE); /* never someone else's file put back over path */
    return errno == EEXIST ? -1 : 0;
}

/* The name aside is not looked at first: one that is taken fails the
 * link or rename (EEXIST), and the next is tried. */
int journal_set_aside(const char *path, const char *native)
{
    if (!journal_file) return 1;
    for (int tries = 0; tries < ASIDE_TRIES; tries++) {
        int r = set_aside_once(path, native);
        if (r >= 0) return r;
    }
    errno = EEXIST;
    return 0;
}

/* ---- putting back ---- */

/* Puts back one change with the calls c (the live table in-process, the
 * real calls from an interrupt): 1, or 0 with errno.  A change never made
 * (its file or its aside missing) needs nothing. */
static int undo_one(const jrec *r, const plat_syscalls &c)
{
    int rc;
    switch (r->op) {
    case JOURNAL_MADE_FILE:
    case JOURNAL_TEMP: rc = c.remove(r->a); break;
    case JOURNAL_MADE_DIR: rc = c.rmdir(r->a); break;
    case JOURNAL_LATER: return 1;
    case JOURNAL_ASIDE: /* a second name of the file still at a: renaming it does nothing, so it goes */
        if ((rc = c.rename(r->b, r->a)) == 0) c.remove(r->b);
        break;
    case JOURNAL_RENAMED: rc = c.move_new(r->b, r->a); break;
    default: return c.mkdir(r->a) == 0 || errno == EEXIST;
    }
    return rc == 0 || errno == ENOENT;
}

static const char *const UNDO_FAILED[] = {"could not remove the folder made",
                                          "could not remove the file made",
                                          "could not put back the file moved aside",
                                          "could not rename back",
                                          "could not make again the folder removed",
                                          "could not remove the temporary file",
                                          ""};
static const char CHANGED_SINCE[] = "changed since the run, left as it is";

static volatile sig_atomic_t now_done, now_failed; /* what the interrupt put back */

/* Puts back every change noted with the real calls, once, and removes the
 * journal when all were. */
static void put_back_now()
{
    if (!live) return;
    live = 0;
    for (int i = published - 1; i >= 0; i--) {
        const jrec *r = record_at(i);
        if (r->made < 0 || r->op == JOURNAL_LATER) continue; /* nothing to put back */
        if (undo_one(r, *plat_real_calls()))
            now_done = now_done + 1;
        else
            now_failed = now_failed + 1;
    }
    plat_write_close_raw(journal_file, "", 0);
    if (!now_failed) plat_real_calls()->remove(journal_native);
}

int journal_interrupted(int *failed)
{
    put_back_now();
    if (failed) *failed = now_failed;
    return now_done;
}

/* Keeps the journal as "<name>.failed", or where an earlier run's is
 * there as "<name>.failed.N" (said so): never over another.  1, or 0. */
static int keep_failed(journal_reporter report)
{
    char kept[PLAT_NATIVE_MAX + 16];
    for (int n = 1; n <= FAILED_KEPT_MAX; n++) {
        int len = n == 1 ? snprintf(kept, sizeof kept, "%s.failed", journal_native)
                         : snprintf(kept, sizeof kept, "%s.failed.%d", journal_native, n);
        if (len < 0 || len >= (int)sizeof kept) return errno = ENAMETOOLONG, 0;
        if (sys().move_new(journal_native, kept) == 0) {
            if (n > 1 && report) report("an earlier journal has the name: this one is kept as", kept, EEXIST);
            return 1;
        }
        if (errno != EEXIST) return 0;
    }
    return 0;
}

/* Ends a walk: the journal goes, or is kept as "<name>.failed" so that it is
 * never applied twice.  1, or 0 when that failed (reported). */
int finish(int failed, journal_reporter report)
{
    drop_all();
    int ok = failed ? keep_failed(report) : sys().remove(journal_native) == 0;
    if (!ok && report)
        report(failed ? "could not keep the journal" : "could not remove the journal", journal_native, errno);
    return ok;
}

/* Walks the records newest first with undo (1 put back, 0 failed with
 * errno, -1 left as changed since): the number put back. */
int walk_back(int (*undo)(const jrec *), int *failed, journal_reporter report)
{
    int done = 0, bad = 0;
    for (int i = held - 1; i >= 0; i--) {
        const jrec *r = record_at(i);
        int rc = r->made < 0 || r->op == JOURNAL_LATER ? 2 : undo(r); /* nothing to put back */
        published = i;
        if (rc == 2) continue;
        if (rc == 1) {
            done++;
            continue;
        }
        bad++;
        if (report) report(rc < 0 ? CHANGED_SINCE : UNDO_FAILED[r->op], r->a, rc < 0 ? 0 : errno);
    }
    if (failed) *failed = bad;
    finish(bad, report);
    return done;
}

int undo_in_process(const jrec *r) { return undo_one(r, sys()); }

int journal_rollback(int *failed, journal_reporter report)
{
    if (failed) *failed = 0;
    if (!journal_file) return 0;
    return walk_back(undo_checked, failed, report); /* a file changed meanwhile (the run waited at a question) stays */
}

/* Removes the files moved aside, a committed journal's last duty: 1, or 0
 * when some could not be (each reported). */
int remove_asides(journal_reporter report)
{
    int ok = 1;
    for (int i = 0; i < held; i++) {
        const jrec *r = record_at(i);
        if (r->op != JOURNAL_ASIDE || r->made < 0 || sys().remove(r->b) == 0 || errno == ENOENT)
            continue; /* a name aside that was taken is another's file */
        ok = 0;
        if (report) report("could not remove the file moved aside", r->b, errno);
    }
    for (int i = 0; i < held; i++) { /* deepest first, as they were emptied */
        const jrec *r = record_at(i);
        if (r->op != JOURNAL_LATER || sys().rmdir(r->a) == 0 || errno == ENOENT) continue;
        ok = 0;
        if (report) report("could not remove the folder", r->a, errno);
    }
    return ok;
}

int journal_commit(journal_reporter report)
{
    if (!journal_file) return 1;
    if (!append("C\n", 2, TO_DISK)) {
        if (report) report("could not mark the journal committed", journal_native, errno);
        if (append("U\n", 2, TO_DISK)) return -1; /* the mark, were it on the disk, is taken back: put back */
        drop_all();                               /* what reached the disk decides at the next start */
        return -2;
    }
    live = 0; /* committed: an interrupt leaves the journal for the next start to finish */
    int ok = remove_asides(report);
    return finish(0, report) && ok;
}
