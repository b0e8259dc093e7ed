/* The prompting engine: asks one question of the table and keeps asking
 * until the answer passes the validator of the record's mode.
 *
 * The accepted value is stored as the record's default answer, which is
 * where the flows read it and what the next asking offers.  "Q" quits after
 * a confirmation, "?" prints the question's help section.  Directory
 * answers are probed for write access and created, parents included, when
 * missing.  The end of standard input ends the run: nothing is ever taken
 * as accepted for want of an answer.
 */
#include "questions/question.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "act/act.h"
#include "files/tree.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/answers.h"
#include "questions/help.h"

static const char HELP_FILE[] = "install.hlp";
static const char PROBE_BASE[] = "tempfile"; /* name of the write probe */
constexpr int PROBE_TRIES = 1000;            /* tempfile, tempfile.001 .. .999 */
constexpr int PROBE_NAME_MAX = 12;           /* "tempfile.999" */
/* Longest directory (trailing backslash included) whose probe name fits a
 * path buffer. */
constexpr int DIR_NAME_MAX = TEXT_PATH_SIZE - 1 - PROBE_NAME_MAX;

/* ---- console input and leaving ---- */

void stop_run(int status, const char *why, const char *said)
{
    if (why) log_error("%s", why);
    act_run_ends(0); /* a run stopped half-way is put back when it must be all or nothing */
    plat_out(said);
    plat_flush();
    log_close(log_current());
    plat_exit(status);
}

void read_answer(char *buf, int size, const char *where)
{
    if (!buf || size < 1) {
        log_error("read_answer: unexpected NULL passed"); /* not an end of input */
        return;
    }
    log_flush(log_current()); /* what the run did so far is on the disk while it waits */
    if (plat_read_line(buf, size)) return;
    char why[LOG_MSG_SIZE];
    snprintf(why, sizeof why, "end of input at %s, installer stopped", where ? where : "question");
    stop_run(EXIT_END_OF_INPUT, why, "\nEnd of input, Quillor Install stopped\n");
}

/* ---- small text helpers ---- */

static const char *skip_space(const char *s)
{
    while (*s && isspace((unsigned char)*s)) s++;
    return s;
}

/* The typed answer without blanks at either end, into buf; "" when only
 * blanks were typed. */
static char *trimmed(char *buf, const char *answer)
{
    text_copy(buf, skip_space(answer), TEXT_PATH_SIZE);
    size_t n = strlen(buf);
    while (n > 0 && isspace((unsigned char)buf[n - 1])) buf[--n] = '\0';
    return buf;
}

/* Why a value cannot stand in the configuration file as one setting, or
 * null: a line end, or an end that the reader takes for a continuation.
 * A folder is stored with a trailing backslash, so "\n" never ends it. */
static const char *value_problem(const char *v, int folder)
{
    size_t n = strlen(v);
    if (strpbrk(v, "\r\n")) return "the answer may not hold a line end";
    int mark = text_continuation_mark(v, n);
    if (mark == TEXT_MARK_JOIN)
        return "the answer may not end in \" /\", which would continue the setting on the next line";
    if (mark == TEXT_MARK_NEWLINE && !folder)
        return "the answer may not end in \"\\n\", which would continue the setting on the next line";
    return nullptr;
}

/* 0 (reported) when value may not be written as a setting. */
static int value_fits_a_line(const char *who, const char *v, int folder = 0)
{
    const char *why = value_problem(v, folder);
    if (!why) return 1;
    log_error("%s: %s: %s", who, why, v);
    plat_printf("\n%s: %s\n", who, why);
    return 0;
}

/* 1 when dir, given its trailing backslash, leaves room for a probe name. */
static int probe_fits(const char *dir)
{
    size_t n = strlen(dir) + (text_ends_with_backslash(dir) ? 0 : 1);
    return n <= (size_t)DIR_NAME_MAX;
}

/* ---- special answers ---- */

static void confirm_quit(int index)
{
    char line[TEXT_PATH_SIZE];
    plat_out("Do you really want to exit? [y]:");
    read_answer(line, sizeof line, question_tag(index));
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
    if (line[0] == 'n' || line[0] == 'N') return; /* ask the question again */
    stop_run(answers_unattended() || act_rollback_on() ? EXIT_STOPPED : 0, nullptr, "\nGoodbye :-)\n");
}

static void show_help(int index)
{
    char *name = append_grow(nullptr, ".");
    name = append_grow(name, "\\");
    name = append_grow(name, HELP_FILE);
    help_reader h;
    help_open(&h, name); /* a missing file gives the "no help" text */
    plat_printf("\n%s\n", help_lookup(&h, question_tag(index)));
    help_close(&h);
    free(name);
}

int check_special_answer(const char *text, int index)
{
    if (!text) {
        log_error("check_special_answer: unexpected NULL passed");
        return 0;
    }
    if (strcmp(text, "Q") == 0) {
        confirm_quit(index); /* returns only when quitting was declined */
        return 1;
    }
    if (strcmp(text, "?") == 0) {
        show_help(index);
        return 1;
    }
    return 0;
}

/* ---- validators ---- */

int y_n_test(question_rec *r, question_table *t)
{
    if (!r || !t) {
        log_error("y_n_test: unexpected NULL passed");
        return 0;
    }
    char typed[TEXT_PATH_SIZE];
    trimmed(typed, r->answer); /* stored as it is written to the configuration */
    if (typed[0] && !value_fits_a_line("y_n_test", typed)) return 0;
    const char *used = typed[0] ? typed : skip_space(r->default_answer);
    if (used[0] == 'Y' || used[0] == 'y')
        r->flag = 1;
    else if (used[0] == 'N' || used[0] == 'n')
        r->flag = 0;
    else
        return 0;
    if (typed[0]) text_copy(r->default_answer, typed, TEXT_PATH_SIZE);
    return 1;
}

/* The reason a directory could not be made.  mkdir_path leaves no error
 * state behind, so one plain attempt on the directory itself asks again;
 * 0 means it is there after all. */
static int creation_error(const char *dir)
{
    char one[TEXT_PATH_SIZE];
    text_copy(one, dir, sizeof one);
    size_t n = strlen(one);
    if (n > 1 && one[n - 1] == '\\') one[n - 1] = '\0';
    errno = 0;
    if (act_mkdir(one) == 0 || errno == EEXIST) return 0;
    return errno ? errno : EIO;
}

/* Gives a folder its one trailing backslash: a trailing "/" is already a
 * separator, so it becomes the backslash rather than gaining one. */
static void end_with_backslash(char *dir)
{
    size_t n = strlen(dir);
    if (n > 0 && dir[n - 1] == '/')
        dir[n - 1] = '\\';
    else if (!text_ends_with_backslash(dir))
        text_append(dir, "\\", TEXT_PATH_SIZE);
}

static void refuse_long_name(const char *who, const char *dir)
{
    log_report("%s: directory name too long: %s", who, dir);
}

/* 0 (reported) when the answer names what can never be a folder: a
 * device ("NUL", "\x\com1.txt\" on Windows) or an existing file. */
static int could_be_a_folder(const char *dir)
{
    char device[TEXT_PATH_SIZE], plain[TEXT_PATH_SIZE];
    if (plat_device_name(dir, device, sizeof device)) {
        log_report("directory_test: %s names the device %s, not a folder", dir, device);
        return 0;
    }
    if (plat_misread_name(dir, device, sizeof device)) { /* quoted: the dot or space shows */
        log_report("directory_test: %s: the name \"%s\" ends with a dot or a space, which Windows drops", dir, device);
        return 0;
    }
    text_copy(plain, dir, sizeof plain);
    size_t n = strlen(plain);
    if (n > 1 && plain[n - 1] == '\\') plain[n - 1] = '\0';
    if (plat_path_kind(plain) != PLAT_KIND_FILE) return 1;
    log_report("directory_test: %s is a file, not a folder", plain);
    return 0;
}

int directory_test(question_rec *r, question_table *t)
{
    if (!r || !t) {
        log_error("directory_test: unexpected NULL passed");
        return 0;
    }
    char value[TEXT_PATH_SIZE], typed[TEXT_PATH_SIZE];
    text_copy(value, trimmed(typed, r->answer)[0] ? typed : r->default_answer, sizeof value);
    if (!value_fits_a_line("directory_test", value, 1)) return 0;
    if (!probe_fits(value)) {
        refuse_long_name("directory_test", value); /* never probe a cut path */
        return 0;
    }
    end_with_backslash(value);
    if (plat_path_ambiguous(value)) { /* no choice between them could be right */
        log_report("directory_test: %s names more than one folder whose names differ only in case", value);
        return 0;
    }
    if (!could_be_a_folder(value)) return 0;
    text_copy(r->default_answer, value, TEXT_PATH_SIZE);

    if (dir_exists(value) == 1) return 1;
    errno = 0;
    if (mkdir_path(value, MKDIR_WITH_PARENTS) != 0) return 1;
    int err = errno ? errno : creation_error(value);
    if (err == 0) return 1;
    plat_printf("\nERROR: could not create directory %s: %s\n", value, strerror(err));
    return 0;
}

int none_test(question_rec *r, question_table *t)
{
    if (!r || !t) {
        log_error("none_test: unexpected NULL passed");
        return 0;
    }
    char typed[TEXT_PATH_SIZE];
    if (!trimmed(typed, r->answer)[0]) return 1;
    if (!value_fits_a_line("none_test", typed)) return 0;
    text_copy(r->default_answer, typed, TEXT_PATH_SIZE);
    return 1;
}

int relative_test(question_rec *r, const char *base, question_table *t)
{
    if (!r || !t) {
        log_error("relative_test: unexpected NULL passed");
        return 0;
    }
    char typed[TEXT_PATH_SIZE];
    const char *url = trimmed(typed, r->answer)[0] ? typed : r->default_answer;
    if (!value_fits_a_line("relative_test", url)) return 0;
    char lead_path[TEXT_PATH_SIZE + 1]; /* "\" and up to 511 characters */
    path_of_url(lead_path, sizeof lead_path, url);
    const char *path = lead_path + 1; /* below the web root */

    const char *root = base ? base : "";
    if (strlen(root) + strlen(path) >= (size_t)TEXT_PATH_SIZE) {
        char shown[TEXT_LINE_SIZE];
        snprintf(shown, sizeof shown, "%s%s", root, path);
        refuse_long_name("relative_test", shown); /* the record keeps its URL */
        return 0;
    }
    if (url != r->default_answer) text_copy(r->default_answer, url, TEXT_PATH_SIZE);

    question_rec scratch = {};
    text_copy(scratch.answer, root, TEXT_PATH_SIZE);
    text_append(scratch.answer, path, TEXT_PATH_SIZE);
    return directory_test(&scratch, t);
}

/* ---- the probe ---- */

/* The probe name of one try: tempfile, then tempfile.001 and on.  dir has
 * passed probe_fits, so the name always fits whole. */
static void probe_name(char *buf, const char *dir, int attempt)
{
    char name[PROBE_NAME_MAX + 1];
    if (attempt == 0)
        text_copy(name, PROBE_BASE, sizeof name);
    else
        snprintf(name, sizeof name, "%s.%03u", PROBE_BASE, (unsigned)attempt % PROBE_TRIES);
    path_join_raw(buf, TEXT_PATH_SIZE, dir, name);
}

int dir_exists(const char *path)
{
    if (!path) {
        log_error("dir_exists: unexpected NULL passed");
        return 0;
    }
    if (!probe_fits(path)) return 0;
    char dir[TEXT_PATH_SIZE], probe[TEXT_PATH_SIZE];
    text_copy(dir, path, sizeof dir);
    if (!text_ends_with_backslash(dir)) text_append(dir, "\\", sizeof dir);
    /* exclusive creation: a file the administrator keeps there is never
     * opened, let alone deleted; and the probe leaves nothing behind,
     * whatever ends the run */
    for (int attempt = 0; attempt < PROBE_TRIES; attempt++) {
        probe_name(probe, dir, attempt);
        errno = 0;
        if (act_probe_create(probe)) return 1;
        if (errno != EEXIST) return 0;
    }
    return 0;
}

/* ---- asking ---- */

static_assert(QUESTION_RESOLVED_SIZE == PLAT_NATIVE_MAX, "a resolved folder holds a canonical native path");

/* Notes the folder an accepted directory answer names now: the flows act
 * in it only while the answer still resolves to it. */
static void note_resolved(question_rec *r)
{
    r->resolved_of[0] = '\0';
    if (r->mode != QMODE_DIRECTORY || !plat_canonical_path(r->default_answer, r->resolved, sizeof r->resolved)) return;
    text_copy(r->resolved_of, r->default_answer, TEXT_PATH_SIZE);
}

/* Runs the validator of the record's mode: 1 accepted, 0 rejected, -1 for
 * a mode that has none. */
static int validate(question_rec *r, question_table *t)
{
    switch (r->mode) {
    case QMODE_YN: return y_n_test(r, t);
    case QMODE_DIRECTORY: return directory_test(r, t);
    case QMODE_RELATIVE: return relative_test(r, t->q[Q_WWWROOT].default_answer, t);
    case QMODE_NONE: return none_test(r, t);
    default: return -1;
    }
}

int question(int index, question_table *t)
{
    if (!t) {
        log_error("question: unexpected NULL passed");
        return 0;
    }
    if (index < 0 || index >= Q_COUNT) {
        log_error("question: invalid index %d passed", index);
        return 0;
    }
    question_rec *r = &t->q[index];
    for (;;) {
        log_flush(log_current()); /* a full disk is reported before the question, not inside it */
        plat_printf("%s [%s]: ", r->prompt ? r->prompt : "", r->default_answer);
        int supplied = answers_supply(index, r); /* from the answers file or the default */
        if (!supplied) {
            plat_discard_typeahead();
            read_answer(r->answer, TEXT_PATH_SIZE, question_tag(index));
            text_strip_line_end(r->answer);
            if (check_special_answer(r->answer, index)) continue;
        }
        int verdict = validate(r, t);
        if (verdict == 1) {
            note_resolved(r);
            answers_note(index, r);
            return 1;
        }
        if (verdict == 0 && supplied) answers_rejected(index, r->answer); /* never asked again */
        if (verdict < 0) {
            plat_out("question: invalid mode passed");
            log_error("question: invalid mode passed");
            return 0;
        }
    }
}
