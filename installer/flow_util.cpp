/* Helpers shared by the install, update and remove flows.
 *
 * Everything here is a step that at least two flows take in the same words:
 * introduction lines, the change question, the clean-up of the temporary
 * files and the summary lines.  Folder names below a directory answer are
 * built here too, and always whole: a name that no longer fits a path
 * buffer is refused and reported rather than cut into some other path.
 */
#include "installer/flow_util.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "act/act.h"
#include "files/remove.h"
#include "files/tree.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/help.h"
#include "questions/question.h"

/* What the clean-up clears from the distribution folder, in this order. */
static const char *const TEMP_PATTERNS[] = {"*tpl*", "*man*", "*img*", "quillor.*"};

/* ---- dialogue ---- */

void flow_intro_common()
{
    plat_out("The default options will be in square brackets like this:\t[default]\n");
    plat_out("To select the default, simply press enter.\n");
    plat_out("You will be asked after you have finshed if you want to make any changes to\n");
    plat_out("your answers. Your previous answers will become the default.\n");
    plat_out("If at any time you want to exit the program, type a capital Q\n");
    plat_out("as one of your answers.\n\n");
}

int flow_ask_change(question_table *t, const char *after)
{
    question_rec *change = &t->q[Q_CHANGE];
    change->flag = 0;
    if (change->default_answer[0] == '\0') change->default_answer[1] = '\0';
    change->default_answer[0] = 'n'; /* the rest stays: only the first letter decides */
    question(Q_CHANGE, t);
    plat_out(after);
    return change->flag;
}

/* ---- folder names ---- */

/* 1 when dir + name + "\" fits a 512-byte path buffer. */
static int folder_fits(const char *dir, const char *name)
{
    return strlen(dir) + strlen(name) + 1 < (size_t)TEXT_PATH_SIZE;
}

static void report_too_long(const char *dir, const char *name, const char *who)
{
    log_report("%s: folder name too long: %s%s\\", who, dir, name);
}

int flow_set_subfolder(char *field, const char *dir, const char *name, const char *who)
{
    if (!folder_fits(dir, name)) {
        report_too_long(dir, name, who);
        return 0;
    }
    char value[TEXT_PATH_SIZE];
    text_copy(value, dir, sizeof value); /* fits: checked above */
    text_append(value, name, sizeof value);
    text_append(value, "\\", sizeof value);
    text_copy(field, value, TEXT_PATH_SIZE);
    return 1;
}

char *flow_folder(const char *dir, const char *name, const char *who)
{
    if (!folder_fits(dir, name)) {
        report_too_long(dir, name, who);
        return nullptr;
    }
    char *folder = append_grow(nullptr, dir);
    folder = append_grow(folder, name);
    folder = append_grow(folder, "\\");
    if (folder && strlen(folder) == strlen(dir) + strlen(name) + 1) return folder;
    free(folder); /* memory ran out half-way: the text names something else */
    return nullptr;
}

void flow_source(char *buf, const char *name)
{
    text_copy(buf, ".\\", TEXT_PATH_SIZE);
    text_append(buf, name, TEXT_PATH_SIZE);
}

/* ---- copying and cleaning ---- */

int flow_copy_into_subfolder(const char *dir, const char *name, const char *pattern, int *counter, char **keep,
                             const char *who, path_set *kept)
{
    char source[TEXT_PATH_SIZE];
    char *folder = flow_folder(dir, name, who);
    if (!folder) return 0;
    mkdir_path(folder, MKDIR_WITH_PARENTS);
    flow_source(source, name);
    int ok = copy_tree(folder, source, pattern, COPY_FLAT, counter, kept);
    if (keep)
        *keep = folder;
    else
        free(folder);
    return ok;
}

int flow_names_same(question_table *t, int index)
{
    const question_rec *r = &t->q[index];
    if (!r->resolved_of[0] || strcmp(r->resolved_of, r->default_answer) != 0) return 1; /* nothing noted for it */
    char now[PLAT_NATIVE_MAX];
    return plat_canonical_path(r->default_answer, now, sizeof now) && plat_native_equal(now, r->resolved);
}

int flow_check_named(question_table *t, int index, const char *who)
{
    if (flow_names_same(t, index)) return 1;
    act_report("%s: %s no longer names the folder it named when it was answered, nothing done in its name", who,
               answer_of(t, index));
    return 0;
}

int flow_sync_copies()
{
    if (plat_sync_now()) return 1;
    log_report("the copied files could not be written to the disk: %s", strerror(errno));
    return 0;
}

const char *flow_guard(int answer, const char *why, char *buf)
{
    if (answer == PLAT_NO) return nullptr;
    if (answer == PLAT_YES) return why;
    int err = errno ? errno : EINVAL;
    return snprintf(buf, TEXT_LINE_SIZE, "cannot tell whether %s {%d=%s}", why, err, strerror(err)) < 0 ? why : buf;
}

/* Whether folder lies in a top-level folder of the distribution that one
 * of the clean-up's patterns selects: that folder goes whole. */
static int in_cleared_folder(const char *folder)
{
    int reached = PLAT_NO, err = 0;
    for (const char *pattern : TEMP_PATTERNS) {
        static_list dirs;
        dir_walk(&dirs, ".\\", pattern, WALK_DIRS | WALK_MISREAD, 0); /* the clean-up names those, not this */
        static_rewind(&dirs);
        for (char *dir; reached != PLAT_YES && (dir = (char *)static_next(&dirs));) {
            int in = plat_dir_contains(dir, folder);
            if (in != PLAT_NO) reached = in, err = errno; /* why it cannot tell, past the later look-ups */
        }
        static_free(&dirs);
    }
    errno = err;
    return reached;
}

/* Whether the clean-up would reach a written folder (the first such one,
 * or the one it cannot tell about, in *which).  The patterns select
 * top-level names only: the distribution folder itself (the files written
 * there) or a folder inside one that they select. */
static int written_here(const char *const *written, int count, const char **which)
{
    for (int i = 0; i < count; i++) {
        if (!written[i]) continue;
        int in = plat_dir_contains(".\\", written[i]);
        if (in == PLAT_YES && (in = plat_same_dir(".\\", written[i])) == PLAT_NO) in = in_cleared_folder(written[i]);
        *which = written[i];
        if (in != PLAT_NO) return in;
    }
    return PLAT_NO;
}

int flow_cleanup(question_table *t, const char *const *written, int count, const char *who)
{
    plat_out("\n");
    question(Q_USER, t);
    if (!t->q[Q_USER].flag) return 0;
    const char *here = nullptr;
    int in = written_here(written, count, &here), err = errno;
    if (in != PLAT_NO) { /* the patterns would take what this run put there */
        char what[TEXT_LINE_SIZE], buf[TEXT_LINE_SIZE];
        snprintf(what, sizeof what, "%s lies in the distribution folder", here);
        errno = err;
        act_report("%s: %s, temporary files not deleted", who, flow_guard(in, what, buf));
        return 1;
    }
    int stayed = 0; /* one error for the clean-up: each file that stayed is named in the log */
    for (const char *pattern : TEMP_PATTERNS) stayed |= !rmfile(nullptr, pattern);
    return stayed;
}

/* ---- summaries ---- */

flow_outcome flow_no_table(const char *who)
{
    log_error("%s: unexpected NULL passed", who);
    return flow_outcome{0, 0, 0, 0, MENU_EXIT};
}

void flow_summary(flow_outcome *out, int job, const char *manuals, const char *domain)
{
    out->reached = 1;
    if (act_dry()) return act_closing(out->copied, out->backed_up, out->errors);
    if (out->errors)
        act_run_ends(0);       /* all or nothing: put back before the summary */
    else if (!act_run_ends(1)) /* kept, but a file set aside or a folder emptied stayed: */
        out->errors++;         /* counted as a removal that failed is */
    const char *doing = job == MENU_REMOVE ? "removing" : "copying";
    if (out->errors) {
        plat_printf("\n%d errors occured during %s, check install.log for details\n", out->errors, doing);
        return;
    }
    if (job == MENU_UPDATE) plat_printf("\n%d files backed up\n", out->backed_up);
    if (job != MENU_REMOVE) plat_printf("%s%d files copied\n", job == MENU_UPDATE ? "" : "\n", out->copied);
    plat_out("No errors occured\n");
    plat_out("Check install.log for details\n\n");
    if (job == MENU_REMOVE) return;
    plat_printf("Quillor' manuals have been copied too %s\n\n", manuals ? manuals : "");
    plat_printf("You should be able to use Quillor by entering the URL\n\t\thttp://%s/scripts/quillor.exe\n\n", domain);
}
