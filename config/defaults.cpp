/* Reading an existing configuration file into the question defaults, so the
 * administrator sees the values in force (or shipped) in the brackets and can
 * keep them with Enter.  Only default answers change; nothing is written to
 * disk and a file that cannot be read simply leaves the table's defaults. */
#include "config/defaults.h"

#include <cstring>

#include "config/vini.h"
#include "log/log.h"
#include "platform/platform.h"
#include "text/text.h"

static const char *const SECTION_KEYWORD = "vhost";
/* A host no section names, so only the file's general settings count. */
static const char *const NO_HOST = "supercalafragalistikexpialadocious";

static const ini_definition NO_SETTINGS[] = {{nullptr, nullptr, 0}};

/* ---- value forms ---- */

/* Directory form: always ends with a backslash, even when the value had to
 * be cut to make room for it. */
static void set_dir_form(char *dst, const char *value)
{
    text_copy(dst, value, TEXT_PATH_SIZE);
    size_t len = strlen(dst);
    if (len > 0 && dst[len - 1] == '\\') return;
    if (len >= (size_t)TEXT_PATH_SIZE - 1) dst[TEXT_PATH_SIZE - 2] = '\0'; /* room for the backslash */
    text_append(dst, "\\", TEXT_PATH_SIZE);
}

/* Host form: no trailing backslashes. */
static void set_host_form(char *dst, const char *value)
{
    text_copy(dst, value, TEXT_PATH_SIZE);
    size_t len = strlen(dst);
    while (len > 0 && dst[len - 1] == '\\') dst[--len] = '\0';
}

/* ---- taking the settings over ---- */

/* The executable named like the configuration file: "x.ini" gives "x.exe". */
static void set_cgi_name(question_table *t, const char *file)
{
    char *cgi = answer_of(t, Q_QUILLOR_CGI);
    size_t len = strlen(file);
    if (len < 3) return; /* no extension to replace */
    text_copy(cgi, file, TEXT_PATH_SIZE);
    len = strlen(cgi);
    memcpy(cgi + len - 3, "exe", 3);
}

static void take_locations(vini *v, question_table *t)
{
    const char *value = vini_get(v, "templates", VINI_FOLLOW);
    if (value) {
        set_dir_form(answer_of(t, Q_TEMPLATES), value);
        text_copy(answer_of(t, Q_CACHE), answer_of(t, Q_TEMPLATES), TEXT_PATH_SIZE);
        text_append(answer_of(t, Q_CACHE), "cache", TEXT_PATH_SIZE);
        text_append(answer_of(t, Q_CACHE), "\\", TEXT_PATH_SIZE);
    }
    if ((value = vini_get(v, "cache_dir", VINI_FOLLOW)) != nullptr) set_dir_form(answer_of(t, Q_CACHE), value);
    if ((value = vini_get(v, "workarea", VINI_FOLLOW)) != nullptr) set_dir_form(answer_of(t, Q_WORKAREA), value);
    if ((value = vini_get(v, "qlimg", VINI_FOLLOW)) != nullptr) set_host_form(answer_of(t, Q_QLIMG), value);
}

/* Host names are taken from an installed configuration only; the shipped
 * one would offer the packager's hosts. */
static void take_hosts(vini *v, question_table *t, int installed)
{
    const char *value = vini_get(v, "domain", VINI_FOLLOW);
    if (value) set_host_form(answer_of(t, Q_DOMAIN), installed ? value : computer_name());
    if (!installed) return;
    if ((value = vini_get(v, "newshost", VINI_FOLLOW)) != nullptr) set_host_form(answer_of(t, Q_NEWSHOST), value);
    if ((value = vini_get(v, "pophost", VINI_FOLLOW)) != nullptr) set_host_form(answer_of(t, Q_POPHOST), value);
}

/* ---- entry point ---- */

void load_defaults(const char *dir, const char *file, question_table *t)
{
    if (!file || !t) {
        log_report_info("load_defaults: filename NULL, using standard defaults");
        return;
    }
    vini v;
    vini_init(&v, log_error, log_debug);
    vini_set_table(&v, NO_SETTINGS, nullptr, 0);

    text_copy(answer_of(t, Q_POPHOST), computer_name(), TEXT_PATH_SIZE);
    text_copy(answer_of(t, Q_NEWSHOST), computer_name(), TEXT_PATH_SIZE);

    if (vini_load(&v, dir, file, SECTION_KEYWORD, NO_HOST)) {
        set_cgi_name(t, file);
        take_locations(&v, t);
        take_hosts(&v, t, dir != nullptr);
    } else {
        log_report_info("load_defaults: cannot open %s, using standard defaults", file);
    }

    text_copy(answer_of(t, Q_ORIGINALS), answer_of(t, Q_TEMPLATES), TEXT_PATH_SIZE);
    text_append(answer_of(t, Q_ORIGINALS), "originals", TEXT_PATH_SIZE);
    text_append(answer_of(t, Q_ORIGINALS), "\\", TEXT_PATH_SIZE);
    vini_free(&v);
}
