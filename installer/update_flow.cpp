/* The update flow: brings an installed copy up to the distribution's version.
 *
 * It offers the installed configuration's values as defaults, clears cache
 * files whose format may have changed (the administrator may abandon the
 * update there), optionally backs up and replaces the templates and images,
 * and copies the new executable, images and manuals.  The installed
 * configuration file is neither rewritten nor replaced.  Finding nothing
 * installed, it offers the install instead and hands over to install_flow.
 */
#include <cstdlib>

#include "config/defaults.h"
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
    int copied;
    int backed_up;
    int errors;
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
    if (first) flow_derive(answer_of(t, Q_CACHE), answer_of(t, Q_TEMPLATES), "cache", WHO);
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

static loop_end question_loop(question_table *t)
{
    int loaded = 0, first = 1;
    do {
        question(Q_SCRIPTS, t);
        if (!loaded) {
            load_defaults(answer_of(t, Q_SCRIPTS), INSTALLED_INI, t);
            loaded = 1;
        }
        if (!test_update(answer_of(t, Q_SCRIPTS), t)) return LOOP_INSTALL;
        if (!del_cache(t)) return LOOP_ABANDONED;
        ask_locations(t, first);
        first = 0;
    } while (flow_ask_change(t, "\n"));
    return LOOP_DONE;
}

/* ---- copying ---- */

/* A copy step that failed counts one error; the flow goes on. */
static void step(update_counts *c, int ok)
{
    if (!ok) c->errors++;
}

/* Backs the current templates and web images up, then replaces them. */
static void replace_templates(question_table *t, update_counts *c)
{
    char img[TEXT_PATH_SIZE], tpl[TEXT_PATH_SIZE];
    const char *templates = answer_of(t, Q_TEMPLATES), *backup = answer_of(t, Q_BACKUP);
    char *web = url_to_dir(text_dup(answer_of(t, Q_QLIMG)), t);
    if (flag_of(t, Q_BACK_TEMPLATES)) {
        step(c, copy_tree(backup, templates, "*", 0, &c->backed_up));
        step(c, web && copy_tree(backup, web, "*", 0, &c->backed_up)); /* no source: never the current dir */
    }
    flow_source(img, "img");
    step(c, copy_tree(web, img, "*", 0, &c->copied));
    flow_source(tpl, "tpl");
    step(c, copy_tree(templates, tpl, "*.tpl", 0, &c->copied));
    step(c, copy_tree(templates, tpl, "*.dat", 0, &c->copied));
    free(web);
}

static void copy_steps(question_table *t, update_counts *c, char **manuals)
{
    char tpl[TEXT_PATH_SIZE];
    const char *templates = answer_of(t, Q_TEMPLATES);
    step(c, copy_tree(answer_of(t, Q_SCRIPTS), nullptr, answer_of(t, Q_QUILLOR_CGI), 0, &c->copied));
    if (flag_of(t, Q_DEL_TEMPLATES)) replace_templates(t, c);
    if (flag_of(t, Q_BACK_ORIGINALS)) {
        flow_source(tpl, "tpl");
        step(c, copy_tree(answer_of(t, Q_ORIGINALS), tpl, "*.tpl", 0, &c->copied));
    }
    step(c, flow_copy_beside(templates, "img", "*", &c->copied, nullptr, WHO));
    step(c, flow_copy_beside(templates, "manuals", "*.htm*", &c->copied, manuals, WHO));
}

static void print_summary(question_table *t, const update_counts *c, const char *manuals)
{
    if (c->errors) {
        plat_printf("\n%d errors occured during copying, check install.log for details\n", c->errors);
        return;
    }
    plat_printf("\n%d files backed up\n", c->backed_up);
    plat_printf("%d files copied\n", c->copied);
    flow_success_tail(manuals, answer_of(t, Q_DOMAIN));
}

void update_flow(question_table *t)
{
    if (!t) {
        log_error("update_flow: unexpected NULL passed");
        return;
    }
    print_intro();
    loop_end end = question_loop(t);
    if (end == LOOP_INSTALL) install_flow(t);  /* the install owns the rest of this run */
    if (end != LOOP_DONE) return;
    update_counts c = {0, 0, 0};
    char *manuals = nullptr;
    copy_steps(t, &c, &manuals);
    step(&c, flow_sync_copies());
    flow_cleanup(t);
    print_summary(t, &c, manuals);
    free(manuals);
}
