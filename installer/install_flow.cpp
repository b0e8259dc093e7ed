/* The install flow: puts a fresh copy of the web application on the server.
 *
 * It asks where everything goes and how users are authenticated, rewrites
 * the distribution's configuration file from the answers, copies the
 * executable, the configuration, the templates, the images and the manuals
 * into place, offers to clear the temporary files and prints a summary.
 * Finding the application already installed, it offers the update instead
 * and returns the update as the job to hand over to.
 */
#include <cstdlib>
#include <cstring>

#include "config/defaults.h"
#include "config/set_ini.h"
#include "act/act.h"
#include "files/tree.h"
#include "installer/flow_util.h"
#include "installer/flows.h"
#include "installer/probes.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"

static const char *const WHO = "install_flow";
static const char *const DIST_INI = "quillor.ini"; /* the distribution's own configuration */

/* ---- dialogue ---- */

static void print_intro()
{
    plat_out("\n\n             ** INSTALL **\n\n");
    plat_out("This installer will ask you a series of questions about what directories\n");
    plat_out("Quillor's files are to be stored in.\n");
    flow_intro_common();
    plat_out("To see exactly what this installer has done, read the file \"install.log\"\n\n\n\n");
}

/* WWWROOT offered beside SCRIPTS: "...scripts..." becomes "...wwwroot\". */
static void derive_wwwroot(question_table *t)
{
    char value[TEXT_PATH_SIZE];
    text_copy(value, answer_of(t, Q_SCRIPTS), sizeof value);
    char *at = strstr(value, "scripts");
    if (at) {
        *at = '\0';
        text_append(value, "wwwroot\\", sizeof value); /* never longer than what it replaces */
    }
    text_copy(answer_of(t, Q_WWWROOT), value, TEXT_PATH_SIZE);
}

/* Asks where everything goes.  Returns 0 when the user chose to update an
 * installation found in the scripts directory instead. */
static int location_loop(question_table *t)
{
    int loaded = 0, first = 1;
    do {
        question(Q_SCRIPTS, t);
        if (!loaded) {
            load_defaults(nullptr, DIST_INI, t);
            loaded = 1;
        }
        if (!test_install(answer_of(t, Q_SCRIPTS), t)) return 0;
        question(Q_NEWSHOST, t);
        if (first) text_copy(answer_of(t, Q_DOMAIN), answer_of(t, Q_NEWSHOST), TEXT_PATH_SIZE);
        question(Q_DOMAIN, t);
        question(Q_TEMPLATES, t);
        if (first) flow_set_subfolder(answer_of(t, Q_CACHE), answer_of(t, Q_TEMPLATES), "cache", WHO);
        question(Q_CACHE, t);
        if (first) derive_wwwroot(t);
        question(Q_WWWROOT, t);
        question(Q_QLIMG, t);
        question(Q_BACK_ORIGINALS, t);
        if (flag_of(t, Q_BACK_ORIGINALS)) question(Q_ORIGINALS, t);
        first = 0;
    } while (flow_ask_change(t, "\n\n"));
    return 1;
}

static void print_auth_intro()
{
    plat_out("-------------------------------------------------------------------------------\n\n");
    plat_out("This set of questions relates to how users are authenticated when using Quillor\n");
    plat_out("You may answer Yes or No to any combination of these questions.\n");
    plat_out("You don't have to choose only one\n\n");
    plat_out("Here is a list of the key questions:\n\n");
    plat_out("Do you want to allow authentication via: a user specified POP3/IMAP server?\n");
    plat_out("                                         an admin specified POP3 server?\n");
    plat_out("                                         the news server?\n");
    plat_out("                                         local Quillor accounts?\n");
    plat_out("Do you want to force users to login before using Quillor?\n\n\n");
}

static void auth_loop(question_table *t)
{
    int first = 1;
    do {
        print_auth_intro();
        question(Q_AUTH_USER_POP, t);
        question(Q_AUTH_ADMIN_POP, t);
        if (flag_of(t, Q_AUTH_ADMIN_POP)) question(Q_POPHOST, t);
        question(Q_FORCE_LOGIN, t);
        question(Q_AUTH_NEWS, t);
        question(Q_AUTHENT_LOCAL, t);
        if (flag_of(t, Q_AUTHENT_LOCAL)) {
            question(Q_AUTHENT_LOCAL_CREATE, t);
            if (flag_of(t, Q_FORCE_LOGIN)) {
                question(Q_AUTHENT_COOKIE, t);
            } else {
                t->q[Q_AUTHENT_COOKIE].flag = 1; /* cookies are how an optional login is kept */
                if (first) text_copy(answer_of(t, Q_AUTHENT_COOKIE), "y", TEXT_PATH_SIZE);
            }
        }
        first = 0;
    } while (flow_ask_change(t, "\n\n"));
}

/* ---- copying ---- */

/* The images for the web server, in the directory behind the images URL,
 * which is left in *web for the caller to release. */
static int copy_web_images(question_table *t, int *copied, char **web)
{
    char source[TEXT_PATH_SIZE];
    *web = url_to_dir(text_dup(answer_of(t, Q_QLIMG)), t);
    flow_source(source, "img");
    return copy_tree(*web, source, "*", COPY_FLAT, copied); /* refuses a missing directory */
}

/* An installed configuration that the new one would replace is kept beside
 * it under a numbered name, and stays under its own until the new one
 * replaces it whole; 0 (reported) when it could not be kept. */
static int keep_installed_ini(const char *scripts, const char *name)
{
    char installed[TEXT_LINE_SIZE], kept[TEXT_LINE_SIZE];
    if (!path_join_raw(installed, sizeof installed, scripts, name)) return 1; /* the copy reports it */
    if (plat_path_kind(installed) != PLAT_KIND_FILE || copy_same_content(name, installed)) return 1;
    if (copy_keep_numbered_beside(installed, kept, sizeof kept)) {
        log_report_info("%s: the installed %s is kept as %s", WHO, installed, kept);
        return 1;
    }
    act_report("%s: could not keep the installed %s, it stays as it was", WHO, installed);
    return 0;
}

/* Every copy step in order; returns the number of steps that failed and
 * leaves the manuals folder in *manuals for the summary and the web images
 * folder in *web. */
static int copy_steps(question_table *t, int *copied, char **manuals, char **web)
{
    char source[TEXT_PATH_SIZE];
    const char *scripts = answer_of(t, Q_SCRIPTS), *templates = answer_of(t, Q_TEMPLATES);
    question_rec *cgi = &t->q[Q_QUILLOR_CGI];
    int errors = 0;
    errors += !copy_tree(scripts, nullptr, cgi->default_answer, COPY_FLAT, copied);
    text_copy(cgi->answer, cgi->default_answer, TEXT_PATH_SIZE);
    cgi_to_ini(cgi->answer); /* unchanged when there is no ".exe" to replace */
    if (keep_installed_ini(scripts, cgi->answer))
        errors += !copy_tree(scripts, nullptr, cgi->answer, COPY_FLAT, copied);
    else
        errors++; /* never replaced without a copy kept */
    flow_source(source, "tpl");
    errors += !copy_tree(templates, source, "*", COPY_FLAT, copied);
    if (flag_of(t, Q_BACK_ORIGINALS))
        errors += !copy_tree(answer_of(t, Q_ORIGINALS), source, "*.tpl", COPY_FLAT, copied);
    errors += !flow_copy_into_subfolder(templates, "img", "*", copied, nullptr, WHO, nullptr);
    errors += !flow_copy_into_subfolder(templates, "manuals", "*.htm*", copied, manuals, WHO, nullptr);
    errors += !copy_web_images(t, copied, web);
    return errors;
}

flow_outcome install_flow(question_table *t)
{
    if (!t) return flow_no_table(WHO);
    flow_outcome out = {0, 0, 0, 0, MENU_EXIT};
    print_intro();
    if (!location_loop(t)) {
        out.next = MENU_UPDATE; /* the update owns the rest of this run */
        return out;
    }
    auth_loop(t);
    char *manuals = nullptr, *web = nullptr;
    /* the copied configuration carries the answers; when it could not be
     * rewritten the shipped one is copied, and that is no success */
    out.errors = !set_ini(nullptr, t);
    out.errors += copy_steps(t, &out.copied, &manuals, &web);
    out.errors += !flow_sync_copies();
    const char *written[] = {answer_of(t, Q_SCRIPTS), answer_of(t, Q_TEMPLATES), answer_of(t, Q_CACHE), web,
                             flag_of(t, Q_BACK_ORIGINALS) ? answer_of(t, Q_ORIGINALS) : nullptr};
    out.errors += flow_cleanup(t, written, 5, WHO);
    flow_summary(&out, MENU_INSTALL, manuals, answer_of(t, Q_DOMAIN));
    free(web);
    free(manuals);
    return out;
}
