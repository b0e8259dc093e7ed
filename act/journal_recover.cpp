/* The journal a killed run left: read back, up to a torn last line, and
 * put back newest first, each change only where what is there is what the
 * run left; a committed one only finishes its commit.
 */
#include "act/journal_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

/* ---- a killed run's journal ---- */

/* Reads one line of the file into the records: a note, a made-line for the
 * note before it, the commit mark (1) or its taking back (2); -1 when a
 * note cannot be held. */
static int read_line(char *line)
{
    const char *op = line[0] ? strchr(OP_LETTERS, line[0]) : nullptr;
    if (strcmp(line, "C") == 0) return 1;
    if (strcmp(line, "U") == 0) return 2;
    const char *not_made = line[0] == 'n' && line[1] ? strchr(OP_LETTERS, line[1]) : nullptr;
    int i = not_made ? last_of((int)(not_made - OP_LETTERS)) : -1;
    if (i >= 0) record_at(i)->made = -1;
    int changed = held - 1; /* a made-line is the newest change's, temporary files aside */
    while (changed >= 0 && record_at(changed)->op == JOURNAL_TEMP) changed--;
    if (line[0] == 'm' && changed >= 0) {
        plat_identity &id = record_at(changed)->ident;
        record_at(changed)->made =
            sscanf(line, MADE_LINE, &id.kind, &id.size, &id.modified, &id.changed, &id.device, &id.index) == 6;
        return 0;
    }
    char *end = nullptr, *tab;
    long long when = op && line[1] == '\t' ? strtoll(line + 2, &end, 10) : 0;
    if (!op || line[1] != '\t' || *end != '\t' || !(tab = strchr(end + 1, '\t'))) return 0; /* the header */
    *tab = '\0';
    return hold((int)(op - OP_LETTERS), when, end + 1, tab + 1) ? 0 : -1;
}

/* Reads the journal file into the records, up to a torn last line: 1 when
 * it was committed, else 0; -1 when it could not be read whole. */
static int load(FILE *f)
{
    static char line[LINE_SIZE];
    int committed = 0;
    while (sys().fgets(line, sizeof line, f)) {
        size_t n = strlen(line);
        if (n == 0 || line[n - 1] != '\n') break; /* the run ended while writing it */
        line[n - 1] = '\0';
        int r = read_line(line);
        if (r < 0) return -1;
        committed = r == 2 ? 0 : committed | r;
    }
    return feof(f) && !ferror(f) ? committed : -1; /* ended early, not at the end: a read failed */
}

/* 1 when what is at a now is what the run left there: the made-line's
 * file, or without one a file changed at or after the note. */
static int run_left(const jrec *r, const plat_identity &now)
{
    const plat_identity &was = r->ident;
    if (!r->made) return now.changed >= r->when || now.modified >= r->when;
    return now.kind == was.kind && now.size == was.size && now.modified == was.modified && now.device == was.device &&
           now.index == was.index;
}

static int same_file(const plat_identity &x, const plat_identity &y)
{
    return x.device == y.device && x.index == y.index && x.index != 0;
}

int undo_checked(const jrec *r)
{
    plat_identity at, aside;
    int here = sys().name_identity(r->a, &at) == 0;
    switch (r->op) {
    case JOURNAL_MADE_FILE: return !here ? 1 : run_left(r, at) ? undo_in_process(r) : -1;
    case JOURNAL_ASIDE:
        if (sys().name_identity(r->b, &aside) != 0) return 1;                                /* never moved aside */
        if (here && same_file(at, aside)) return sys().remove(r->b) == 0 || errno == ENOENT; /* a second name */
        return !here || run_left(r, at) ? undo_in_process(r) : -1;
    case JOURNAL_RENAMED:
        if (!here) return undo_in_process(r);
        return sys().name_identity(r->b, &aside) != 0 ? 1 : -1; /* never renamed, or the name taken since */
    default: return undo_in_process(r);
    }
}

/* A journal that cannot be read whole is put back in no part: it is kept
 * as "<name>.failed", for a look, and said so. */
static int unreadable(int *failed, journal_reporter report)
{
    if (report) report("could not read the journal", journal_native, errno);
    if (failed) *failed = 1;
    finish(1, report);
    return 0;
}

int journal_recover(const char *name, int *failed, journal_reporter report)
{
    if (failed) *failed = 0;
    if (journal_file || !name || !plat_native_path(name, journal_native, sizeof journal_native)) return -1;
    FILE *f = sys().fopen(journal_native, "rb");
    if (!f && errno == ENOENT) return -1;
    journal_file = f; /* closed with the records */
    int committed = f ? load(f) : -1;
    if (committed < 0) return unreadable(failed, report);
    if (!committed) return walk_back(undo_checked, failed, report);
    remove_asides(report); /* a committed run is kept: what would not go is reported, nothing is to put back */
    finish(0, report);
    return 0;
}
