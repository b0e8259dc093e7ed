/* Answers given ahead of time: the answers file, the offered defaults and
 * the record of a run.
 *
 * An answers file holds lines "TAG value": TAG one of the question table's
 * help tags (case-blind), the value the rest of the line without blanks at
 * either end, "JOB install|update|remove" for the menu.  Lines starting
 * with "#" and blank lines are ignored.  The whole file is checked before
 * the run does anything; a fault keeps nothing.  During the run a supplied
 * value is printed after its prompt and checked exactly as a typed one;
 * "?" and "Q" mean nothing special here.  Not for reading the console:
 * that stays with the prompting engine.
 */
#include "questions/answers.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "log/log.h"
#include "platform/folder.h"
#include "platform/platform.h"
#include "platform/replace.h"
#include "questions/question.h"

constexpr int READ_SIZE = 4 * TEXT_LINE_SIZE; /* one file line; longer is a fault */
constexpr int TAG_SHOWN = 40;                 /* an unknown tag is quoted this far */
constexpr int TEMP_TRIES = 100;               /* record.tmp, record.1.tmp .. */
constexpr int KEEP_TRIES = 1000;              /* numbers tried past names taken meanwhile */
static const char JOB_TAG[] = "JOB";
/* The first line of every record, up to the version. */
static const char RECORD_HEADING[] = "# Quillor Install answers, recorded by version ";
static const char *const JOB_NAMES[] = {nullptr, "install", "update", "remove"};

struct given_answer {
    int line; /* where the file gave it; 0 when it did not */
    char value[TEXT_PATH_SIZE];
};

struct answers_file {
    given_answer q[Q_COUNT];
    int job;
    int job_line;
};

struct run_record {
    int order[Q_COUNT]; /* question indexes in the order first asked */
    int count;
    int kept[Q_COUNT];
    char value[Q_COUNT][TEXT_PATH_SIZE];
};

static answers_file given;   /* the file in use */
static answers_file reading; /* the file being checked */
static int file_in_use;
static int defaults_taken;
static char file_name[TEXT_PATH_SIZE];
static run_record record;

/* ---- small text helpers ---- */

static char *trim(char *s)
{
    while (*s && isspace((unsigned char)*s)) s++;
    size_t n = strlen(s);
    while (n > 0 && isspace((unsigned char)s[n - 1])) s[--n] = '\0';
    return s;
}

/* Past the byte-order mark some Windows editors put before UTF-8 text. */
static char *skip_bom(char *s) { return strncmp(s, "\xEF\xBB\xBF", 3) == 0 ? s + 3 : s; }

/* The byte-order mark of UTF-16 text, which some Windows shells write. */
static int utf16_mark(const char *s)
{
    return (s[0] == '\xFF' && s[1] == '\xFE') || (s[0] == '\xFE' && s[1] == '\xFF');
}

/* why = "FILE:LINE: what"; without the line for a file that cannot be opened. */
static void fault(char *why, int size, const char *path, int line, const char *fmt, ...) TEXT_PRINTF(5, 6);
static void fault(char *why, int size, const char *path, int line, const char *fmt, ...)
{
    char what[TEXT_LINE_SIZE];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(what, sizeof what, fmt, ap);
    va_end(ap);
    if (line > 0)
        snprintf(why, (size_t)size, "%s:%d: %s", path, line, what);
    else
        snprintf(why, (size_t)size, "%s: %s", path, what);
}

/* Why a file could not be opened, in words: a pipe or a device is not
 * refused for an "invalid argument". */
static const char *open_error(int err)
{
    return err == PLAT_ENOTREG ? "not a regular file (a device, pipe or socket)" : strerror(err);
}

/* The question index of a tag, case-blind; -1 for none. */
static int tag_index(const char *tag)
{
    for (int i = 0; i < Q_COUNT; i++)
        if (text_compare_nocase(tag, question_tag(i)) == 0) return i;
    return -1;
}

static int job_number(const char *name)
{
    for (int j = JOB_INSTALL; j <= JOB_REMOVE; j++)
        if (text_compare_nocase(name, JOB_NAMES[j]) == 0) return j;
    return JOB_NONE;
}

/* ---- checking a file ---- */

static int take_job(const char *value, int line, char *why, int size, const char *path)
{
    if (reading.job_line) {
        fault(why, size, path, line, "JOB given twice (first on line %d)", reading.job_line);
        return 0;
    }
    reading.job = job_number(value);
    if (reading.job == JOB_NONE) {
        fault(why, size, path, line, "unknown job \"%.*s\" (install, update or remove)", TAG_SHOWN, value);
        return 0;
    }
    reading.job_line = line;
    return 1;
}

/* Checks one line that is neither blank nor a comment and keeps it. */
static int take_line(char *text, int line, char *why, int size, const char *path)
{
    char *value = text;
    while (*value && !isspace((unsigned char)*value)) value++;
    if (*value) *value++ = '\0';
    value = trim(value);
    if (text_compare_nocase(text, JOB_TAG) == 0) return take_job(value, line, why, size, path);
    int index = tag_index(text);
    if (index < 0) {
        fault(why, size, path, line, "unknown tag \"%.*s\"", TAG_SHOWN, text);
        return 0;
    }
    given_answer *a = &reading.q[index];
    if (a->line) {
        fault(why, size, path, line, "%s given twice (first on line %d)", question_tag(index), a->line);
        return 0;
    }
    if (strlen(value) > (size_t)ANSWER_VALUE_MAX) {
        fault(why, size, path, line, "value of %s over %d characters", question_tag(index), ANSWER_VALUE_MAX);
        return 0;
    }
    if (index == Q_CHANGE && (value[0] == 'y' || value[0] == 'Y')) {
        fault(why, size, path, line, "CHANGE given as yes would ask the questions again and again");
        return 0;
    }
    a->line = line;
    text_copy(a->value, value, TEXT_PATH_SIZE);
    return 1;
}

/* 1 when the line fgets just read into buf holds a NUL byte: the buffer
 * was filled with non-zero bytes first, so the last NUL is the one fgets
 * put after the line, and any earlier one was read. */
static int holds_nul(const char *buf, int size)
{
    int end = size - 1;
    while (end > 0 && buf[end] != '\0') end--;
    return strlen(buf) < (size_t)end;
}

/* Reads one line into buf; 1 when read, 0 at the end.  *whole is 0 when
 * the line did not fit (its rest is read and dropped), -1 when it holds a
 * NUL byte. */
static int read_file_line(FILE *f, char *buf, int size, int *whole)
{
    memset(buf, 0xFF, (size_t)size);
    if (!plat_fgets(buf, size, f)) return 0;
    *whole = holds_nul(buf, size) ? -1 : 1;
    if (*whole < 0) return 1;
    size_t n = strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') return 1;
    char rest[TEXT_LINE_SIZE];
    while (!feof(f) && plat_fgets(rest, sizeof rest, f)) {
        *whole = 0;
        size_t m = strlen(rest);
        if (m > 0 && rest[m - 1] == '\n') break;
    }
    return 1;
}

/* A file that starts with a UTF-8 byte-order mark is UTF-8 throughout:
 * each answer line is turned into the encoding of the system's names.  0
 * (the fault in why) when a line has no exact form there. */
static int from_utf8(char *text, int utf8, int line, char *why, int size, const char *path)
{
    if (!utf8 || plat_from_utf8(text, (int)strlen(text) + 1)) return 1; /* never grows */
    fault(why, size, path, line, "text that the system's code page cannot hold (the file is UTF-8)");
    return 0;
}

static int check_lines(FILE *f, char *why, int size, const char *path)
{
    static char buf[READ_SIZE];
    int line = 0, whole = 1, utf8 = 0;
    while (read_file_line(f, buf, sizeof buf, &whole)) {
        line++;
        if (line == 1 && utf16_mark(buf)) {
            fault(why, size, path, line, "UTF-16 text, not read: save the file as plain text (ANSI or UTF-8)");
            return 0;
        }
        if (whole < 0) {
            fault(why, size, path, line, "a NUL byte: this is not a text file");
            return 0;
        }
        if (!whole) {
            fault(why, size, path, line, "line longer than %d characters", READ_SIZE - 2);
            return 0;
        }
        if (line == 1) utf8 = skip_bom(buf) != buf;
        char *text = trim(line == 1 ? skip_bom(buf) : buf);
        if (text[0] == '\0' || text[0] == '#') continue;
        if (!from_utf8(text, utf8, line, why, size, path) || !take_line(text, line, why, size, path)) return 0;
    }
    if (ferror(f)) {
        fault(why, size, path, line + 1, "cannot read: %s", strerror(errno ? errno : EIO));
        return 0;
    }
    return 1;
}

int answers_load(const char *path, char *why, int why_size)
{
    if (!path || !why || why_size < 1) return 0; /* before the log is opened: nothing to tell */
    memset(&reading, 0, sizeof reading);
    char device[TEXT_PATH_SIZE];
    if (plat_device_name(path, device, sizeof device)) { /* never opened: "CON" would read the console */
        fault(why, why_size, path, 0, "cannot open: it names the device %s, not a file", device);
        return 0;
    }
    errno = 0;
    FILE *f = plat_fopen_native(path, "rb"); /* as given, and byte for byte: a Ctrl-Z ends nothing */
    if (!f) {
        fault(why, why_size, path, 0, "cannot open: %s", open_error(errno ? errno : ENOENT));
        return 0;
    }
    errno = 0;
    int ok = check_lines(f, why, why_size, path);
    plat_fclose(f);
    if (!ok) return 0;
    given = reading;
    file_in_use = 1;
    text_copy(file_name, path, TEXT_PATH_SIZE);
    return 1;
}

void answers_take_defaults(int on) { defaults_taken = on ? 1 : 0; }
int answers_unattended() { return file_in_use || defaults_taken; }
int answers_job() { return file_in_use ? given.job : JOB_NONE; }

void answers_clear()
{
    memset(&given, 0, sizeof given);
    memset(&record, 0, sizeof record);
    file_in_use = 0;
    defaults_taken = 0;
    file_name[0] = '\0';
}

/* ---- supplying answers ---- */

int answers_supply(int index, question_rec *r)
{
    if (!r || index < 0 || index >= Q_COUNT) return 0;
    const char *value;
    if (file_in_use && given.q[index].line)
        value = given.q[index].value;
    else if (defaults_taken)
        value = r->default_answer;
    else
        return 0;
    text_copy(r->answer, value, TEXT_PATH_SIZE);
    plat_printf("%s\n", r->answer); /* reads as if typed */
    return 1;
}

int answers_menu_choice(char *line, int size)
{
    int job = answers_job();
    if (job == JOB_NONE || !line || size < 2) return 0;
    line[0] = (char)('0' + job);
    line[1] = '\0';
    plat_printf("%s\n", line);
    return 1;
}

void answers_rejected(int index, const char *value)
{
    const char *tag = question_tag(index);
    char from[TEXT_LINE_SIZE];
    if (file_in_use && given.q[index].line)
        snprintf(from, sizeof from, "%s line %d", file_name, given.q[index].line);
    else
        text_copy(from, "the offered default", sizeof from);
    char why[2 * TEXT_LINE_SIZE], said[2 * TEXT_LINE_SIZE]; /* a value, a tag and a file name; the log cuts */
    if (!value) value = "";
    snprintf(why, sizeof why, "answer \"%s\" to %s from %s rejected, installer stopped", value, tag, from);
    snprintf(said, sizeof said, "\nThe answer \"%s\" to %s from %s was not accepted, Quillor Install stopped\n",
             value, tag, from);
    stop_run(EXIT_STOPPED, why, said);
}

/* ---- the record ---- */

void answers_note(int index, const question_rec *r)
{
    if (!r || index < 0 || index >= Q_COUNT) return;
    if (!record.kept[index]) {
        record.kept[index] = 1;
        record.order[record.count++] = index;
    }
    /* the accepted value, which a yes/no answer keeps as typed: the
     * configuration file may carry it ("yes") */
    text_copy(record.value[index], r->default_answer, TEXT_PATH_SIZE);
}

static void put(plat_replacing *out, const char *text) { plat_replace_write(out, text, strlen(text)); }

static void put_record(plat_replacing *f, int job, const char *version)
{
    char date[32] = "";
    time_t now = time(nullptr);
    const struct tm *t = localtime(&now);
    if (t) strftime(date, sizeof date, "%Y-%m-%d %H:%M", t);
    char line[TEXT_LINE_SIZE];
    snprintf(line, sizeof line, "%s%s on %s\n", RECORD_HEADING, version, date);
    put(f, line);
    put(f, "# Replay with: quillor-install --answers <this file>\n\n");
    if (job >= JOB_INSTALL && job <= JOB_REMOVE) {
        snprintf(line, sizeof line, "%s %s\n", JOB_TAG, JOB_NAMES[job]);
        put(f, line);
    }
    for (int k = 0; k < record.count; k++) {
        int i = record.order[k];
        snprintf(line, sizeof line, "%s %s\n", question_tag(i), record.value[i]);
        put(f, line);
    }
}

/* 1 when path holds a record (its first line is the heading), 0 when it
 * holds another file, -1 when there is none; -2 (errno set) when that
 * cannot be told, as for a folder or a file that cannot be read. */
static int holds_record(const char *path)
{
    errno = 0;
    FILE *f = plat_fopen_native(path, "rb");
    if (!f) return errno == ENOENT ? -1 : -2;
    char line[TEXT_LINE_SIZE] = "";
    int first = plat_fgets(line, sizeof line, f) != nullptr;
    plat_fclose(f);
    return first && strncmp(line, RECORD_HEADING, strlen(RECORD_HEADING)) == 0;
}

/* A file at path that is not a record is kept as path.~N~ (into kept,
 * "" when there is none), N one above the highest kept, before the record takes its
 * name.  0 (errno set) when it could not be kept. */
static int keep_other_file(const char *path, char *kept, int size)
{
    kept[0] = '\0';
    int held = holds_record(path);
    if (held != 0) return held != -2;
    unsigned long long n = plat_next_kept_native(path); /* one above the highest kept, as a backup's */
    for (int tries = 0; tries < KEEP_TRIES; tries++, n++) {
        snprintf(kept, (size_t)size, "%s.~%llu~", path, n);
        if (plat_keep_native(path, kept) == 0) return 1;
        if (errno != EEXIST) break;
    }
    kept[0] = '\0';
    return 0;
}

/* Starts the record's replace through a temporary file beside path that
 * did not exist before (its name in tmp); 0 with errno when none can be made. */
static int begin_temp(plat_replacing *out, const char *path, char *tmp)
{
    for (int attempt = 0; attempt < TEMP_TRIES; attempt++) {
        int n = attempt == 0 ? snprintf(tmp, TEXT_PATH_SIZE, "%s.tmp", path)
                             : snprintf(tmp, TEXT_PATH_SIZE, "%s.%d.tmp", path, attempt);
        if (n < 0 || n >= TEXT_PATH_SIZE) {
            errno = ENAMETOOLONG;
            return 0;
        }
        if (plat_replace_begin(out, path, tmp, PLAT_REPLACE_NATIVE | PLAT_REPLACE_TEXT)) return 1;
        if (errno != EEXIST) return 0; /* a file that is there is never overwritten */
    }
    return 0;
}

/* Keeps another file at path and puts the record in its place; the step
 * that failed, as plat_replace_commit tells it. */
static int commit_record(plat_replacing *out, const char *path)
{
    char kept[TEXT_PATH_SIZE + 16] = "";
    if (!out->err && !keep_other_file(path, kept, sizeof kept)) {
        out->err = errno;
        plat_replace_abort(out);
        return PLAT_REPLACE_WRITE;
    }
    int step = plat_replace_commit(out);
    int err = errno;
    if (step == PLAT_REPLACE_WRITE || step == PLAT_REPLACE_RENAME) {
        if (kept[0]) plat_remove_native(kept); /* the file is still where it was */
    } else if (kept[0]) {
        log_info("record: %s was not a record, kept as %s", path, kept);
    }
    if (step == PLAT_REPLACE_SYNC_DIR) log_error("record: could not sync the folder of %s: %s", path, strerror(err));
    errno = err;
    return step;
}

int answers_write_record(const char *path, int job, const char *version)
{
    char tmp[TEXT_PATH_SIZE];
    plat_replacing out;
    if (!path || !version) {
        log_error("answers_write_record: unexpected NULL passed");
        return 0;
    }
    if (!begin_temp(&out, path, tmp)) {
        log_report("record: could not create a temporary file for %s: %s", path, strerror(errno ? errno : EIO));
        return 0;
    }
    put_record(&out, job, version);
    int step = commit_record(&out, path);
    if (step == PLAT_REPLACE_DONE || step == PLAT_REPLACE_SYNC_DIR) {
        log_info("answers of this run recorded in %s", path);
        return 1;
    }
    log_report("record: could not write %s: %s", path, strerror(errno ? errno : EIO));
    return 0;
}
