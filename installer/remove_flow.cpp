/* The remove flow: takes an installation of the web application off the
 * server.
 *
 * It reads the installed configuration for defaults, confirms that an
 * installation is there, asks where the templates and the work area are and
 * whether to back everything up first, then deletes the executable's files
 * from the scripts directory, the whole templates directory and the work
 * area.  It never deletes in a drive root, in the installer's own folder or
 * in a folder holding it, nor in a folder that holds the backup just made:
 * such a removal is refused, reported and counted as an error.  Nor does
 * it delete what a backup the administrator asked for failed to save.
 */
#include <cctype>
#include <cstring>

#include "config/defaults.h"
#include "files/remove.h"
#include "files/tree.h"
#include "installer/flow_util.h"
#include "installer/flows.h"
#include "installer/probes.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"

static const char *const WHO = "remove_flow";
static const char *const HERE = ".\\";  /* the installer's own folder */
constexpr int EXT_CHARS = 4;            /* ".exe", cut to make the pattern */


/* ---- dialogue ---- */

static void print_intro()
{
    plat_out("\n\n             ** REMOVE **\n\n");
    plat_out("This uninstaller will ask you a series of questions about where Quillor\n");
    plat_out("files are stored.\n");
    flow_intro_common();
    plat_out("To see exactly what this program has done, read the file \"install.log\"\n\n");
}

/* The installed configuration, named after the executable, as defaults. */
static void load_installed(question_table *t)
{
    char name[TEXT_PATH_SIZE];
    text_copy(name, answer_of(t, Q_QUILLOR_CGI), sizeof name);
    load_defaults(answer_of(t, Q_SCRIPTS), cgi_to_ini(name), t);
}

/* Returns 0 when nothing is installed and the user chose to install
 * instead: then nothing is to be removed. */
static int question_loop(question_table *t)
{
    int loaded = 0;
    do {
        question(Q_SCRIPTS, t);
        if (!loaded) {
            load_installed(t);
            loaded = 1;
        }
        if (!test_update(answer_of(t, Q_SCRIPTS), t)) return 0;
        question(Q_CACHE, t);
        question(Q_TEMPLATES, t);
        question(Q_WORKAREA_TRUE, t);
        if (flag_of(t, Q_WORKAREA_TRUE)) question(Q_WORKAREA, t);
        question(Q_BACK_ALL, t);
        if (flag_of(t, Q_BACK_ALL)) question(Q_BACKUP, t);
    } while (flow_ask_change(t, "\n"));
    return 1;
}

/* ---- what may be deleted ---- */

/* "\", "/", "C:", "C:\" and the like, however many separators end them. */
static int is_drive_root(const char *dir)
{
    size_t n = strlen(dir);
    while (n > 0 && (dir[n - 1] == '\\' || dir[n - 1] == '/')) n--;
    return n == 0 || (n == 2 && isalpha((unsigned char)dir[0]) && dir[1] == ':');
}

/* 1 (after reporting why) when nothing may be deleted in dir.  A backup
 * made inside dir could go with what it saves, so that is refused too. */
static int refused(question_table *t, const char *dir)
{
    const char *why = nullptr;
    if (is_drive_root(dir))
        why = "it is a drive root";
    else if (plat_dir_contains(dir, HERE))
        why = "it holds Quillor Install's own folder";
    else if (flag_of(t, Q_BACK_ALL) && plat_dir_contains(dir, answer_of(t, Q_BACKUP)))
        why = "it holds the backup directory";
    if (!why) return 0;
    flow_report("%s: refusing to delete files in %s: %s", WHO, dir, why);
    return 1;
}

/* 1 for a plain file name: no wildcard, no folder, no drive. */
static int plain_name(const char *s)
{
    return strpbrk(s, "*?[\\/:") == nullptr;
}

/* How much of the executable's name the pattern keeps: all but the
 * four-character extension; for a shorter name the stem before its last
 * dot, or, without a dot, the whole name (*whole set: no ".*" follows). */
static size_t stem_length(const char *name, int *whole)
{
    size_t n = strlen(name);
    *whole = 0;
    if (n >= (size_t)EXT_CHARS) return n - EXT_CHARS;
    const char *dot = strrchr(name, '.');
    if (dot) return (size_t)(dot - name);
    *whole = 1;
    return n;
}

/* The executable's files, built in QUILLOR_CGI's answer field: "quillor.exe"
 * gives "quillor.*", "q.x" gives "q.*" and "abc" stands for itself alone.
 * Returns 0 (reported) when no pattern would name the executable's files
 * only: an empty stem, a wildcard or a folder would take other files along. */
static int build_pattern(question_table *t)
{
    question_rec *cgi = &t->q[Q_QUILLOR_CGI];
    const char *name = cgi->default_answer;
    int whole;
    size_t stem = stem_length(name, &whole);
    if (stem == 0 || !plain_name(name)) {
        flow_report("%s: cannot tell the files of \"%s\" from others, nothing removed from %s", WHO, name,
                    answer_of(t, Q_SCRIPTS));
        return 0;
    }
    text_copy_n(cgi->answer, name, (int)stem);
    if (!whole) text_append(cgi->answer, ".*", TEXT_PATH_SIZE);
    return 1;
}

/* ---- removal ---- */

/* Backs up what the pattern selects in dir when asked to; 1 on success.
 * A failed backup is reported: what it was to save must then stay. */
static int backup(question_table *t, const char *dir, const char *pattern)
{
    if (!flag_of(t, Q_BACK_ALL)) return 1;
    if (copy_tree(answer_of(t, Q_BACKUP), dir, pattern, 1, nullptr) != 0 && flow_sync_copies()) return 1;
    flow_report("%s: backup of %s failed, nothing removed there", WHO, dir);
    return 0;
}

/* The executable and its companions; the scripts directory itself stays. */
static int remove_scripts(question_table *t)
{
    const char *scripts = answer_of(t, Q_SCRIPTS);
    if (!build_pattern(t) || refused(t, scripts)) return 1;
    const char *pattern = t->q[Q_QUILLOR_CGI].answer;
    if (!backup(t, scripts, pattern)) return 1;
    return !rmfile(scripts, pattern);
}

/* A whole directory: backed up, emptied and removed. */
static int remove_dir(question_table *t, const char *dir)
{
    if (refused(t, dir) || !backup(t, dir, "*")) return 1;
    int errors = !rmfile(dir, "*");
    errors += plat_rmdir(dir) != 0;
    return errors;
}

static int removal_steps(question_table *t)
{
    int errors = remove_scripts(t);
    errors += remove_dir(t, answer_of(t, Q_TEMPLATES));
    if (flag_of(t, Q_WORKAREA_TRUE)) errors += remove_dir(t, answer_of(t, Q_WORKAREA));
    return errors;
}

void remove_flow(question_table *t)
{
    if (!t) {
        log_error("remove_flow: unexpected NULL passed");
        return;
    }
    print_intro();
    if (!question_loop(t)) return;
    int errors = removal_steps(t);
    flow_cleanup(t);
    if (errors)
        plat_printf("\n%d errors occured during removing, check install.log for details\n", errors);
    else
        flow_success_lines();
}
