/* The command line of the installer.
 *
 * Long options only, the same on every system: "--answers FILE" or
 * "--answers=FILE", "--record FILE", "--defaults", "--dry-run", "--help",
 * "--version".
 * Everything is checked before the log is opened or the folder probed, so a
 * mistyped command line or a faulty answers file leaves no trace.  Not for
 * supplying answers: that is the answers module's work.
 */
#include "installer/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "act/act.h"
#include "installer/probes.h"
#include "log/log.h"
#include "table/table.h"
#include "text/text.h"
#include "platform/platform.h"
#include "questions/answers.h"

static const char PROGRAM[] = "quillor-install";

struct run_options {
    const char *answers; /* file, or null */
    const char *record;  /* file, or null */
    int defaults;
    int dry_run;
    int rollback;
    int help;
    int version;
};

/* Files of the current directory the run itself writes, which a record
 * may never replace. */
struct run_file {
    const char *path;
    const char *what;
};
static const run_file RUN_FILES[] = {{".\\install.log", "the log"},
                                     {".\\install.lck", "the lock file"},
                                     {".\\install.jnl", "the journal"},
                                     {".\\install.jnl.failed", "the journal"},
                                     {".\\quillor.ini", "the distribution's configuration"}};
static const char INSTALLED_INI[] = "quillor.ini"; /* in the scripts folder */

static run_options opts;
static int record_failed;
static int recovery_failed; /* changes of a killed run the start could not put back */

/* ---- reporting ---- */

static int usage_error(const char *what, const char *arg)
{
    char line[TEXT_LINE_SIZE];
    snprintf(line, sizeof line, "%s: %s %s\nTry '%s --help' for more information.\n", PROGRAM, what, arg, PROGRAM);
    plat_err(line);
    return EXIT_STOPPED;
}

static void ignore_argument(const char *arg)
{
    char line[TEXT_LINE_SIZE];
    snprintf(line, sizeof line, "%s: argument ignored: %s\n", PROGRAM, arg);
    plat_err(line);
}

static void print_tags()
{
    plat_out("  Tags, in the order of the question table:\n   ");
    int column = 3;
    for (int i = 0; i < Q_COUNT; i++) {
        const char *tag = question_tag(i);
        int width = (int)strlen(tag) + 1;
        if (column + width > 78) {
            plat_out("\n   ");
            column = 3;
        }
        plat_printf(" %s", tag);
        column += width;
    }
    plat_out("\n\n");
}

static void print_statuses()
{
    plat_out("Exit status with --answers or --defaults:\n"
             "  0  the summary counted no errors\n"
             "  1  the summary counted errors, or a killed run's journal could not be\n"
             "     put back whole (see install.log)\n"
             "  2  the run stopped: a bad command line or answers file, an answer not\n"
             "     accepted, the end of input, Q at a question, or no summary reached\n"
             "Without them: 0, or 2 when the input ends; a bad command line gives 2.\n"
             "A dry run gives 1 when its plan foresees errors, else as above; a run\n"
             "with --rollback gives 1 after errors and 2 after Q, as with --answers.\n\n"
             "Environment:\n"
             "  QUILLOR_ROOT  on POSIX systems, the folder that stands for the drive's root:\n"
             "                \\inetpub\\scripts\\ is then $QUILLOR_ROOT/inetpub/scripts/.\n"
             "                The Windows program uses paths as typed.\n");
}

static void print_plan_forms()
{
    plat_out("Dry run: one line per action, in the order the job would take them:\n"
             "  create folder \\quillor\\         copy new \\quillor\\index.tpl\n"
             "  replace \\quillor\\index.tpl (identical)   or   (changed locally)\n"
             "  keep \\quillor\\index.tpl as \\quillor\\index.tpl.~2~\n"
             "  remove \\quillor\\index.tpl       remove folder \\quillor\\img\\\n"
             "  clean up quillor.*               error: what the log would say\n"
             "  rewrite quillor.ini, then \"- \" before each line removed, \"+ \" before each\n"
             "  line added; then the counts the summary would show and \"Dry run: nothing\n"
             "  was changed.\"  Only the console and a --record file are written.\n\n"
             "With --rollback each change is noted in install.jnl in this folder before it\n"
             "is made; a file replaced or removed is kept aside in its folder (renamed, not\n"
             "copied: its space is freed only when the run ends).  Errors, a stop or Ctrl-C\n"
             "put all of it back before the summary; a clean end deletes what was kept\n"
             "aside.  A run killed outright leaves install.jnl, and the next start puts it\n"
             "back first.\n\n");
}

static void print_help()
{
    plat_printf("Usage: %s [--answers FILE] [--defaults] [--record FILE] [--dry-run] [--rollback]\n", PROGRAM);
    plat_printf("       %s --help | --version\n\n", PROGRAM);
    plat_out("Installs, updates or removes Quillor.  Start it from the unpacked distribution,\n"
             "which must be the current directory.  Without options every question is asked\n"
             "on the console.\n\n"
             "Options:\n"
             "  --answers FILE  take the answers from FILE, by question tag; a question FILE\n"
             "                  leaves out is asked on the console\n"
             "  --defaults      take the offered default for every question not answered\n"
             "                  otherwise, printed as if typed\n"
             "  --record FILE   when the run reaches its summary, write its job and answers\n"
             "                  to FILE as an answers file (each question's last answer);\n"
             "                  never over the answers file, the log or a file the run\n"
             "                  writes, and another file there is kept as FILE.~N~\n"
             "  --dry-run       run the dialogue as usual, but change nothing: print the\n"
             "                  plan of the job instead (below); no log, no lock file\n"
             "  --rollback      all or nothing: a run that ends with errors, stops or is\n"
             "                  interrupted puts back everything it changed (below)\n"
             "  --help          show this text\n"
             "  --version       show the version\n\n"
             "FILE is a path of this system, used as given.  Arguments that do not start\n"
             "with - are ignored.\n\n"
             "With --answers or --defaults nobody needs to be at the console: the waits for\n"
             "Enter are skipped, and an answer that is not accepted stops the run instead of\n"
             "being asked again.\n\n"
             "Answers file:\n"
             "  one answer a line: a tag, blanks, the value (blanks at both ends dropped; an\n"
             "  empty value takes the offered default, as Enter does).  Tags are matched\n"
             "  case-blind and may each be given once.  \"JOB install\", \"JOB update\" or\n"
             "  \"JOB remove\" chooses the menu entry.  Lines starting with # and blank lines\n"
             "  are ignored; \"?\" and \"Q\" are ordinary values.  CHANGE may not be yes.\n"
             "  The file is read byte for byte in the encoding of file names (on Windows\n"
             "  the ANSI code page); after a UTF-8 byte-order mark it is UTF-8, converted on\n"
             "  Windows, where a line the code page cannot hold exactly is refused.\n");
    print_tags();
    print_plan_forms();
    print_statuses();
}

/* ---- what a record may not replace ---- */

/* 1 when the native folder is one the job writes in (the answered folders,
 * the images and manuals beside the templates, the web images): a record
 * there could replace a file the run just wrote, the program itself. */
static int written_folder(question_table *t, const char *folder)
{
    char beside[TEXT_PATH_SIZE + 16];
    for (int q : {Q_SCRIPTS, Q_TEMPLATES, Q_CACHE, Q_ORIGINALS, Q_BACKUP})
        if (t->q[q].default_answer[0] && plat_native_same_file(folder, t->q[q].default_answer)) return 1;
    for (const char *sub : {"img\\", "manuals\\"}) {
        snprintf(beside, sizeof beside, "%s%s", t->q[Q_TEMPLATES].default_answer, sub);
        if (plat_native_same_file(folder, beside)) return 1;
    }
    char *web = url_to_dir(text_dup(t->q[Q_QLIMG].default_answer), t);
    int written = web && plat_native_same_file(folder, web);
    free(web);
    return written;
}

/* The folder part of the native path file, "." for none. */
static void native_folder(const char *file, char *folder, size_t size)
{
    const char *cut = strrchr(file, '/'), *back = strrchr(file, '\\');
    if (back && (!cut || back > cut)) cut = back;
    if (!cut)
        snprintf(folder, size, ".");
    else
        snprintf(folder, size, "%.*s", cut == file ? 1 : (int)(cut - file), file);
}

/* What the record would destroy, or null: the answers file, a file of the
 * run in the current directory, or (once the questions are answered, t
 * given) the installed configuration or a file in a folder the job writes in. */
static const char *record_clash(question_table *t)
{
    if (opts.answers && plat_same_native_files(opts.record, opts.answers)) return "the answers file";
    for (const run_file &f : RUN_FILES)
        if (plat_native_same_file(opts.record, f.path)) return f.what;
    char ini[TEXT_PATH_SIZE + sizeof INSTALLED_INI];
    if (t && t->q[Q_SCRIPTS].default_answer[0]) {
        snprintf(ini, sizeof ini, "%s%s", t->q[Q_SCRIPTS].default_answer, INSTALLED_INI);
        if (plat_native_same_file(opts.record, ini)) return "the installed configuration";
    }
    char folder[PLAT_NATIVE_MAX];
    native_folder(opts.record, folder, sizeof folder);
    return t && written_folder(t, folder) ? "a file in a folder the run writes in" : nullptr;
}

/* ---- parsing ---- */

/* The file of a FILE option: "--opt=FILE" or the next argument.  Null when
 * it is missing or empty. */
static const char *option_file(const char *arg, size_t name_len, int argc, char **argv, int *i)
{
    if (arg[name_len] == '=') return arg[name_len + 1] ? arg + name_len + 1 : nullptr;
    if (*i + 1 >= argc) return nullptr;
    const char *next = argv[*i + 1];
    if (!next[0] || strncmp(next, "--", 2) == 0) return nullptr;
    (*i)++;
    return next;
}

/* 1 when arg is the option name alone or "name=...". */
static int is_option(const char *arg, const char *name, int takes_file)
{
    size_t n = strlen(name);
    if (strncmp(arg, name, n) != 0) return 0;
    return arg[n] == '\0' || (takes_file && arg[n] == '=');
}

/* Returns -1 when every argument was understood, else the exit status. */
static int parse(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const char **file = nullptr;
        const char *name = nullptr;
        if (is_option(arg, "--answers", 1)) {
            file = &opts.answers;
            name = "--answers";
        } else if (is_option(arg, "--record", 1)) {
            file = &opts.record;
            name = "--record";
        } else if (strcmp(arg, "--defaults") == 0) {
            opts.defaults = 1;
        } else if (strcmp(arg, "--dry-run") == 0) {
            opts.dry_run = 1;
        } else if (strcmp(arg, "--rollback") == 0) {
            opts.rollback = 1;
        } else if (strcmp(arg, "--help") == 0) {
            opts.help = 1;
        } else if (strcmp(arg, "--version") == 0) {
            opts.version = 1;
        } else if (arg[0] == '-') {
            return usage_error("unknown option", arg);
        } else {
            ignore_argument(arg); /* the installer has always run without arguments */
            continue;
        }
        if (!file) continue;
        if (*file) return usage_error("option given twice:", name);
        *file = option_file(arg, strlen(name), argc, argv, &i);
        if (!*file) return usage_error("missing FILE after", name);
    }
    return -1;
}

int options_start(int argc, char **argv)
{
    int status = parse(argc, argv);
    if (status >= 0) return status;
    if (opts.help) {
        print_help();
        plat_flush();
        return 0;
    }
    if (opts.version) {
        plat_printf("%s %s\n", PROGRAM, QUILLOR_INSTALL_VERSION);
        plat_flush();
        return 0;
    }
    char why[TEXT_LINE_SIZE];
    if (opts.answers && !answers_load(opts.answers, why, sizeof why)) {
        char line[TEXT_LINE_SIZE + 64];
        snprintf(line, sizeof line, "%s: %s\n", PROGRAM, why);
        plat_err(line);
        return EXIT_STOPPED;
    }
    answers_take_defaults(opts.defaults);
    char device[TEXT_PATH_SIZE];
    if (opts.record && plat_device_name(opts.record, device, sizeof device)) {
        char line[TEXT_LINE_SIZE];
        snprintf(line, sizeof line, "%s: %s: the record cannot be written to the device %s\n", PROGRAM, opts.record,
                 device);
        plat_err(line);
        return EXIT_STOPPED;
    }
    const char *clash = opts.record ? record_clash(nullptr) : nullptr;
    if (clash) {
        char line[TEXT_LINE_SIZE];
        snprintf(line, sizeof line, "%s: %s: the record may not replace %s\n", PROGRAM, opts.record, clash);
        plat_err(line);
        return EXIT_STOPPED;
    }
    act_set_dry(opts.dry_run);
    act_plan_rollback(opts.dry_run && opts.rollback);
    return -1;
}

/* ---- the end of a run ---- */

void options_finish(int job, question_table *t, const flow_outcome *out)
{
    if (!opts.record || !out->reached) return;
    const char *clash = record_clash(t); /* the run may have made one since it started */
    if (clash) {
        log_report("record: %s: the record may not replace %s", opts.record, clash);
        record_failed = 1;
        return;
    }
    act_unfence(); /* the one file a dry run writes */
    if (!answers_write_record(opts.record, job, QUILLOR_INSTALL_VERSION)) record_failed = 1;
}

int options_rollback() { return opts.rollback && !opts.dry_run; }

int options_status(const flow_outcome *out)
{
    int reached = out && out->reached;
    if (!answers_unattended()) /* a dry run and an all-or-nothing run tell their errors */
        return (act_dry() || options_rollback()) && reached && out->errors > 0 ? 1 : 0;
    if (!reached) return EXIT_STOPPED;
    return out->errors > 0 || record_failed || recovery_failed ? 1 : 0;
}

void options_recovered(int not_put_back) { recovery_failed = not_put_back > 0; }

void options_clear()
{
    opts = run_options{};
    record_failed = 0;
    recovery_failed = 0;
    act_set_dry(0);
    answers_clear();
}
