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
#include <cerrno>
#include <cstring>

#include "config/defaults.h"
#include "act/act.h"
#include "files/remove.h"
#include "files/tree.h"
#include "files/wild.h"
#include "installer/flow_util.h"
#include "installer/flows.h"
#include "installer/probes.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"

static const char *const WHO = "remove_flow";
static const char *const HERE = ".\\"; /* the installer's own folder */
constexpr int EXT_CHARS = 4;           /* ".exe", cut to make the pattern */

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

/* 1 (after reporting why) when nothing may be deleted in dir.  A backup
 * made inside dir could go with what it saves, so that is refused too. */
static int refused(question_table *t, const char *dir)
{
    char buf[TEXT_LINE_SIZE];
    const char *why = flow_guard(plat_is_root(dir), "it is a drive root", buf);
    if (!why) why = flow_guard(plat_dir_contains(dir, HERE), "it holds Quillor Install's own folder", buf);
    if (!why && flag_of(t, Q_BACK_ALL))
        why = flow_guard(plat_dir_contains(dir, answer_of(t, Q_BACKUP)), "it holds the backup directory", buf);
    if (!why) return 0;
    act_report("%s: refusing to delete files in %s: %s", WHO, dir, why);
    return 1;
}

/* 1 for a plain file name: no wildcard, no folder, no drive. */
static int plain_name(const char *s) { return strpbrk(s, "*?[\\/:") == nullptr; }

/* How much of the executable's name the pattern keeps: all but a
 * four-character extension (".exe"); else the stem before its last dot, or,
 * without a dot, the whole name (*whole set: no ".*" follows).  Four
 * characters are cut only where they are an extension: "quillor.pl" cut so
 * would give "quillo.*", another program's files and not its own. */
static size_t stem_length(const char *name, int *whole)
{
    size_t n = strlen(name);
    *whole = 0;
    if (n >= (size_t)EXT_CHARS && name[n - EXT_CHARS] == '.') return n - EXT_CHARS;
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
        act_report("%s: cannot tell the files of \"%s\" from others, nothing removed from %s", WHO, name,
                   answer_of(t, Q_SCRIPTS));
        return 0;
    }
    text_copy_n(cgi->answer, name, (int)stem);
    if (!whole) text_append(cgi->answer, ".*", TEXT_PATH_SIZE);
    return 1;
}

/* ---- removal ---- */

/* Backs up, whole, each folder of dir that the pattern selects: the
 * removal takes such a folder with everything in it, whatever the names
 * inside.  1 when all were saved. */
static int backup_matching_folders(const char *backup, const char *dir, const char *pattern)
{
    static_list folders;
    int ok = 1;
    dir_walk(&folders, dir, pattern, WALK_DIRS | WALK_NAMES | WALK_MISREAD, 0);
    static_rewind(&folders);
    for (char *name; ok && (name = (char *)static_next(&folders));) {
        char from[TEXT_LINE_SIZE], to[TEXT_LINE_SIZE];
        ok = path_join_raw(from, sizeof from, dir, name) && path_join_raw(to, sizeof to, backup, name) &&
             copy_tree_backup(to, from, "*", COPY_RECURSE, nullptr, nullptr);
    }
    static_free(&folders);
    return ok;
}

/* 1 when the recursive copy of pattern already saves every matching folder
 * whole: "*" selects every name at every level, so a second pass would
 * read each file again and keep a second copy of each link. */
static int saves_folders_whole(const char *pattern) { return strcmp(pattern, "*") == 0; }

/* Backs up what the pattern selects in dir when asked to; 1 on success,
 * *began the time it began (0 for none).  A failed backup is reported:
 * what it was to save must then stay.  The removal copies nothing but
 * backups, which keep whatever they meet, so it needs no set of the files
 * they wrote. */
static int backup(question_table *t, const char *dir, const char *pattern, long long *began)
{
    *began = 0;
    if (!flag_of(t, Q_BACK_ALL)) return 1;
    *began = plat_clock_late(); /* what changes from now on is not in the backup */
    const char *to = answer_of(t, Q_BACKUP);
    if (flow_check_named(t, Q_BACKUP, WHO) && copy_tree_backup(to, dir, pattern, COPY_RECURSE, nullptr, nullptr) &&
        (saves_folders_whole(pattern) || backup_matching_folders(to, dir, pattern)) && flow_sync_copies())
        return 1;
    act_report("%s: backup of %s failed, nothing removed there", WHO, dir);
    return 0;
}

/* The files the installer keeps in its own folder while it runs. */
static const char *const OWN_FILES[] = {"install.log", "install.lck", "install.jnl", "install.jnl.failed",
                                        "install.hlp"};

/* Whether the pattern, run in scripts, would take one of the installer's
 * own files: PLAT_YES, PLAT_NO or PLAT_UNKNOWN (where scripts is). */
static int takes_own_files(const char *scripts, const char *pattern)
{
    char mask[TEXT_PATH_SIZE];
    text_lower(text_copy(mask, pattern, sizeof mask));
    int matches = 0;
    for (const char *own : OWN_FILES) matches |= wild_match(mask, own);
    return matches ? plat_same_dir(scripts, HERE) : PLAT_NO;
}

/* Why the pattern's matches in scripts may not go, or null.  Only the
 * top-level names the pattern selects are deleted there, so only a
 * matching folder that holds the installer's own folder or the backup is
 * in the way, or the backup itself when it is made in scripts. */
static const char *scripts_in_the_way(question_table *t, const char *scripts, const char *pattern, char *buf)
{
    const char *backup = flag_of(t, Q_BACK_ALL) ? answer_of(t, Q_BACKUP) : nullptr;
    const char *why =
        backup ? flow_guard(plat_same_dir(backup, scripts), "the backup would be made there", buf) : nullptr;
    if (!why) why = flow_guard(takes_own_files(scripts, pattern), "it would take Quillor Install's own files", buf);
    static_list dirs;
    dir_walk(&dirs, scripts, pattern, WALK_DIRS | WALK_MISREAD, 0); /* every folder the removal takes */
    static_rewind(&dirs);
    for (char *dir; !why && (dir = (char *)static_next(&dirs));) {
        why = flow_guard(plat_dir_contains(dir, HERE), "a folder it matches holds Quillor Install's own folder", buf);
        if (!why && backup)
            why = flow_guard(plat_dir_contains(dir, backup), "a folder it matches holds the backup directory", buf);
    }
    static_free(&dirs);
    return why;
}

/* 1 (after reporting why) when the pattern may not be removed in scripts. */
static int scripts_refused(question_table *t, const char *scripts, const char *pattern)
{
    char buf[TEXT_LINE_SIZE];
    const char *why = flow_guard(plat_is_root(scripts), "it is a drive root", buf);
    if (!why) why = scripts_in_the_way(t, scripts, pattern, buf);
    if (!why) return 0;
    act_report("%s: refusing to delete %s in %s: %s", WHO, pattern, scripts, why);
    return 1;
}


/* The executable and its companions; the scripts directory itself stays. */
static int remove_scripts(question_table *t)
{
    const char *scripts = answer_of(t, Q_SCRIPTS);
    if (!flow_check_named(t, Q_SCRIPTS, WHO) || !build_pattern(t) ||
        scripts_refused(t, scripts, t->q[Q_QUILLOR_CGI].answer))
        return 1;
    const char *pattern = t->q[Q_QUILLOR_CGI].answer;
    long long began;
    if (!backup(t, scripts, pattern, &began) || !flow_check_named(t, Q_SCRIPTS, WHO)) return 1;
    return !rmfile_job(scripts, pattern, began);
}

/* A whole directory answer: backed up, emptied and removed, while its name
 * still names the folder it named when answered. */
static int remove_dir(question_table *t, int index)
{
    const char *dir = answer_of(t, index);
    long long began;
    if (!flow_check_named(t, index, WHO) || refused(t, dir) || !backup(t, dir, "*", &began)) return 1;
    if (!flow_check_named(t, index, WHO)) return 1; /* swapped for another while it was backed up */
    if (!rmfile_job(dir, "*", began)) return 1;   /* what stayed is in the log; so stays dir */
    errno = 0;
    if (act_rmdir(dir) == 0) return 0;
    int err = errno ? errno : EIO;
    act_error("%s: could not remove directory %s {%d=%s}", WHO, dir, err, strerror(err));
    return 1;
}

static int removal_steps(question_table *t)
{
    const char *templates = answer_of(t, Q_TEMPLATES), *work = answer_of(t, Q_WORKAREA);
    int work_inside =
        flag_of(t, Q_WORKAREA_TRUE) && plat_dir_contains(templates, work) == PLAT_YES; /* by name for one gone */
    int errors = remove_scripts(t);
    errors += remove_dir(t, Q_TEMPLATES);
    if (!flag_of(t, Q_WORKAREA_TRUE)) return errors;
    /* gone, or its name now finds some other folder: it went all the same */
    if (work_inside && (act_kind(work) == PLAT_KIND_NONE || !flow_names_same(t, Q_WORKAREA))) {
        log_info("%s: %s went with %s", WHO, work, templates); /* nothing left to do, nothing failed */
        return errors;
    }
    return errors + remove_dir(t, Q_WORKAREA);
}

flow_outcome remove_flow(question_table *t)
{
    if (!t) return flow_no_table(WHO);
    flow_outcome out = {0, 0, 0, 0, MENU_EXIT};
    print_intro();
    if (!question_loop(t)) return out;
    out.errors = removal_steps(t);
    const char *backup = flag_of(t, Q_BACK_ALL) ? answer_of(t, Q_BACKUP) : nullptr;
    out.errors += flow_cleanup(t, &backup, 1, WHO);
    flow_summary(&out, MENU_REMOVE, nullptr, nullptr);
    return out;
}
