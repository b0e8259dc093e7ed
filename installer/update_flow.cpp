/* The update flow: brings an installed copy up to the distribution's version.
 *
 * It offers the installed configuration's values as defaults, clears cache
 * files whose format may have changed (the administrator may abandon the
 * update there), optionally backs up and replaces the templates and images,
 * and copies the new executable, images and manuals.  The installed
 * configuration file is neither rewritten nor replaced.  Finding nothing
 * installed, it offers the install instead and returns the install as the
 * job to hand over to.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "config/defaults.h"
#include "act/act.h"
#include "files/path_set.h"
#include "files/tree.h"
#include "installer/flow_util.h"
#include "installer/flows.h"
#include "installer/probes.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"

static const char *const WHO = "update_flow";
static const char *const INSTALLED_INI = "quillor.ini"; /* beside the installed executable */

enum loop_end { LOOP_DONE, LOOP_INSTALL, LOOP_ABANDONED };

struct update_counts {
    flow_outcome out; /* the counts */
    int tpl_replaced; /* the templates now hold the distribution's own */
    path_set kept;    /* the files this run's backups wrote */
};

/* ---- dialogue ---- */

static void print_intro()
{
    plat_out("\n\n             ** UPDATE **\n\n");
    plat_out("This updater will ask you a series of questions about where Quillor\n");
    plat_out("files are stored.\n");
    flow_intro_common();
    plat_out("To see exactly what this installer has done, read the file \"install.log\"\n\n");
}

/* The questions after the cache clean-up, up to the change question. */
static void ask_locations(question_table *t, int first)
{
    plat_out("\n");
    question(Q_TEMPLATES, t);
    if (first) flow_set_subfolder(answer_of(t, Q_CACHE), answer_of(t, Q_TEMPLATES), "cache", WHO);
    question(Q_CACHE, t);
    question(Q_WWWROOT, t);
    question(Q_QLIMG, t);
    question(Q_DEL_TEMPLATES, t);
    if (flag_of(t, Q_DEL_TEMPLATES)) {
        question(Q_BACK_TEMPLATES, t);
        if (flag_of(t, Q_BACK_TEMPLATES)) question(Q_BACKUP, t);
    }
    question(Q_BACK_ORIGINALS, t);
    if (flag_of(t, Q_BACK_ORIGINALS)) question(Q_ORIGINALS, t);
}

/* *refused counts the cache clean-ups refused on the way. */
static loop_end question_loop(question_table *t, int *refused)
{
    int loaded = 0, first = 1;
    do {
        question(Q_SCRIPTS, t);
        if (!loaded) {
            load_defaults(answer_of(t, Q_SCRIPTS), INSTALLED_INI, t);
            loaded = 1;
        }
        if (!test_update(answer_of(t, Q_SCRIPTS), t)) return LOOP_INSTALL;
        int cleared = del_cache(t);
        if (!cleared) return LOOP_ABANDONED;
        *refused += cleared == DEL_CACHE_REFUSED;
        ask_locations(t, first);
        first = 0;
    } while (flow_ask_change(t, "\n"));
    return LOOP_DONE;
}

/* ---- copying ---- */

/* Backs up the folder `name` below the templates into the same name below
 * the backup; 1 when saved. */
static int backup_beside(question_table *t, update_counts *c, const char *name)
{
    char *from = flow_folder(answer_of(t, Q_TEMPLATES), name, WHO);
    char *to = flow_folder(answer_of(t, Q_BACKUP), name, WHO);
    int ok = from && to && copy_tree_backup(to, from, "*", COPY_FLAT, &c->out.backed_up, &c->kept);
    free(from);
    free(to);
    return ok;
}

/* The backup of the templates, the web images and the images and manuals
 * beside the templates that the administrator asked for; 1 when all were
 * saved whole, else reported. */
static int backup_templates(question_table *t, update_counts *c, const char *web)
{
    const char *templates = answer_of(t, Q_TEMPLATES), *backup = answer_of(t, Q_BACKUP);
    const char *failed = nullptr;
    if (!flow_check_named(t, Q_TEMPLATES, WHO) || !flow_check_named(t, Q_BACKUP, WHO) ||
        !copy_tree_backup(backup, templates, "*", COPY_FLAT, &c->out.backed_up, &c->kept))
        failed = templates;
    if (!failed && !backup_beside(t, c, "img")) failed = "img";
    if (!failed && !backup_beside(t, c, "manuals")) failed = "manuals";
    /* no web folder: never back up the current directory in its place */
    if (!failed && !(web && copy_tree_backup(backup, web, "*", COPY_FLAT, &c->out.backed_up, &c->kept)))
        failed = web ? web : answer_of(t, Q_QLIMG);
    if (!failed && !flow_sync_copies()) failed = templates; /* saved only once it is on the disk */
    if (!failed) return 1;
    act_report("%s: backup of %s failed, templates not replaced", WHO, failed);
    return 0;
}

/* Backs the current templates and the web images (in web, null when the
 * images URL gave no folder) up, then replaces them.  What a failed backup
 * could not save is not replaced: returns 0 then. */
static int replace_templates(question_table *t, update_counts *c, const char *web)
{
    char img[TEXT_PATH_SIZE], tpl[TEXT_PATH_SIZE];
    const char *templates = answer_of(t, Q_TEMPLATES);
    if (flag_of(t, Q_BACK_TEMPLATES) && !backup_templates(t, c, web)) {
        c->out.errors++;
        return 0;
    }
    flow_source(img, "img");
    c->out.errors += !copy_tree(web, img, "*", COPY_FLAT, &c->out.copied, &c->kept);
    flow_source(tpl, "tpl");
    c->tpl_replaced = copy_tree(templates, tpl, "*.tpl", COPY_FLAT, &c->out.copied, &c->kept) != 0;
    c->out.errors += !c->tpl_replaced;
    c->out.errors += !copy_tree(templates, tpl, "*.dat", COPY_FLAT, &c->out.copied, &c->kept);
    return 1;
}

/* The pristine copy of the templates, never over the templates themselves:
 * right after they were replaced by the same files it has nothing to do. */
static void copy_originals(question_table *t, update_counts *c)
{
    char tpl[TEXT_PATH_SIZE];
    const char *originals = answer_of(t, Q_ORIGINALS);
    int same = plat_same_dir(originals, answer_of(t, Q_TEMPLATES)), err = errno;
    if (same == PLAT_YES && c->tpl_replaced) {
        log_info("%s: %s is the templates directory, which holds the default templates already", WHO, originals);
        return;
    }
    if (same != PLAT_NO) { /* the templates, or it cannot tell */
        char what[TEXT_LINE_SIZE], buf[TEXT_LINE_SIZE];
        snprintf(what, sizeof what, "%s is the templates directory", originals);
        errno = err;
        act_report("%s: %s, the default templates are not copied there", WHO, flow_guard(same, what, buf));
        c->out.errors++;
        return;
    }
    flow_source(tpl, "tpl");
    c->out.errors += !copy_tree(originals, tpl, "*.tpl", COPY_FLAT, &c->out.copied, &c->kept);
}

static void copy_steps(question_table *t, update_counts *c, const char *web, char **manuals)
{
    const char *templates = answer_of(t, Q_TEMPLATES);
    c->out.errors +=
        !copy_tree(answer_of(t, Q_SCRIPTS), nullptr, answer_of(t, Q_QUILLOR_CGI), COPY_FLAT, &c->out.copied);
    int saved = !flag_of(t, Q_DEL_TEMPLATES) || replace_templates(t, c, web);
    if (flag_of(t, Q_BACK_ORIGINALS)) copy_originals(t, c);
    if (!saved) return; /* the images and manuals beside the templates were not saved either */
    c->out.errors += !flow_copy_into_subfolder(templates, "img", "*", &c->out.copied, nullptr, WHO, &c->kept);
    c->out.errors += !flow_copy_into_subfolder(templates, "manuals", "*.htm*", &c->out.copied, manuals, WHO, &c->kept);
}

flow_outcome update_flow(question_table *t)
{
    if (!t) return flow_no_table(WHO);
    update_counts c = {{0, 0, 0, 0, MENU_EXIT}, 0, {nullptr, 0, 0}};
    print_intro();
    loop_end end = question_loop(t, &c.out.errors);     /* the cache clean-ups refused count */
    if (end == LOOP_INSTALL) c.out.next = MENU_INSTALL; /* the install owns the rest of this run */
    if (end != LOOP_DONE) return c.out;
    char *manuals = nullptr;
    int del = flag_of(t, Q_DEL_TEMPLATES);
    char *web = del ? url_to_dir(text_dup(answer_of(t, Q_QLIMG)), t) : nullptr; /* only replaced with the templates */
    copy_steps(t, &c, web, &manuals);
    c.out.errors += !flow_sync_copies();
    const char *written[] = {answer_of(t, Q_SCRIPTS),
                             answer_of(t, Q_TEMPLATES),
                             answer_of(t, Q_CACHE),
                             web,
                             flag_of(t, Q_BACK_ORIGINALS) ? answer_of(t, Q_ORIGINALS) : nullptr,
                             del && flag_of(t, Q_BACK_TEMPLATES) ? answer_of(t, Q_BACKUP) : nullptr};
    c.out.errors += flow_cleanup(t, written, 6, WHO);
    free(web);
    path_set_free(&c.kept);
    flow_summary(&c.out, MENU_UPDATE, manuals, answer_of(t, Q_DOMAIN));
    free(manuals);
    return c.out;
}
