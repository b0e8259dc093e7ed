/* Installation probes: small looks at the server that the install, update
 * and remove flows share.  Is the application installed in a scripts
 * directory (and should we switch flows), clearing cache files whose format
 * may have changed, the web images directory behind the images URL, and the
 * configuration file's name derived from the executable's.  These probes ask
 * questions but copy nothing; the flows do the work. */
#include "installer/probes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "act/act.h"
#include "files/remove.h"
#include "installer/flow_util.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"
#include "text/text.h"

static const char *const SCRIPTS_DEFAULT = "\\inetpub\\scripts\\"; /* a null directory */
static const char *const INI_FILE = "quillor.ini";                 /* installed configuration */

/* Cache files whose format may change between versions. */
static const char *const CACHE_PATTERNS[] = {
    "group.*", "groups.*", "login_groups.*", "msg", "x_*", "index.idx", "time.idx",
};

/* ---- path building ---- */

/* buf = dir (or the scripts default) + "\" when missing + name.  Returns 0
 * when the whole does not fit: a cut path would name some other file. */
static int build_path(char *buf, const char *dir, const char *name)
{
    const char *d = dir ? dir : SCRIPTS_DEFAULT;
    return path_join_raw(buf, TEXT_PATH_SIZE, d[0] ? d : "\\", name); /* "" + "\\" + name */
}

/* 1 when the file exists and can be opened for reading. */
static int file_readable(const char *path)
{
    FILE *f = plat_fopen(path, "r");
    if (!f) return 0;
    plat_fclose(f);
    return 1;
}

/* ---- install / update detection ---- */

int test_install(const char *dir, question_table *t)
{
    char path[TEXT_PATH_SIZE];

    if (!t) {
        log_error("test_install: unexpected NULL passed");
        return 0;
    }
    if (!build_path(path, dir, INI_FILE) || !file_readable(path)) return 1; /* nothing installed there */
    question(Q_DO_UPDATE, t);
    return t->q[Q_DO_UPDATE].flag ? 0 : 1;
}

/* The executable's path in the scripts directory, lower-cased and cut
 * before a ".cgi" extension.  Returns 0 when it does not fit. */
static int executable_path(char *buf, const char *dir, question_table *t)
{
    if (!build_path(buf, dir, t->q[Q_QUILLOR_CGI].default_answer)) return 0;
    text_lower(buf);
    char *cgi = strstr(buf, ".cgi");
    if (cgi) *cgi = '\0';
    return 1;
}

int test_update(const char *dir, question_table *t)
{
    char path[TEXT_PATH_SIZE];

    if (!t) {
        log_error("test_update: unexpected NULL passed");
        return 0;
    }
    if (build_path(path, dir, INI_FILE) && file_readable(path)) return 1;
    question(Q_QUILLOR_CGI, t);
    if (executable_path(path, dir, t) && file_readable(path)) return 1; /* the executable alone shows an installation */
    question(Q_DO_INSTALL, t);
    return t->q[Q_DO_INSTALL].flag ? 0 : 1;
}

/* ---- cache clean-up ---- */

/* 1 (reported) when the cache patterns may not be applied in the cache
 * folder: a folder that is or holds the templates, the scripts, the
 * distribution folder, or a drive root, holds the administrator's files. */
static int cache_refused(question_table *t)
{
    const char *cache = t->q[Q_CACHE].default_answer;
    char buf[TEXT_LINE_SIZE];
    const char *why = flow_guard(plat_is_root(cache), "it is a drive root", buf);
    if (!why)
        why = flow_guard(plat_dir_contains(cache, t->q[Q_TEMPLATES].default_answer), "it holds the templates directory",
                         buf);
    if (!why)
        why = flow_guard(plat_dir_contains(cache, t->q[Q_SCRIPTS].default_answer), "it holds the scripts directory", buf);
    if (!why) why = flow_guard(plat_dir_contains(cache, ".\\"), "it holds Quillor Install's own folder", buf);
    if (!why) return 0;
    act_report("del_cache: refusing to delete cache files in %s: %s", cache, why);
    return 1;
}

int del_cache(question_table *t)
{
    if (!t) {
        log_error("del_cache: unexpected NULL passed");
        return 0;
    }
    plat_out("The format of some of Quillor' temporary files may have changed since the\n");
    plat_out("last version you installed.  Quillor Install will have to delete these files\n");
    question(Q_END, t);
    if (!t->q[Q_END].flag) return 0;
    if (cache_refused(t) || !flow_check_named(t, Q_CACHE, "del_cache")) return DEL_CACHE_REFUSED;
    int all = 1;
    for (const char *pattern : CACHE_PATTERNS)
        all &= rmfile(t->q[Q_CACHE].default_answer, pattern); /* rmfile logs what it removes, and what stays */
    return all ? 1 : DEL_CACHE_REFUSED;
}

/* ---- images URL to directory ---- */

char *url_to_dir(char *url, question_table *t)
{
    char rel[TEXT_PATH_SIZE + 1];
    char dir[TEXT_PATH_SIZE];

    if (!url || !t) {
        log_report("url_to_dir: unexpected NULL passed");
        free(url); /* taken over either way */
        return nullptr;
    }
    char copy[TEXT_PATH_SIZE];
    path_of_url(rel, sizeof rel, text_copy(copy, url, sizeof copy));
    free(url);

    text_copy(dir, t->q[Q_WWWROOT].default_answer, TEXT_PATH_SIZE);
    size_t len = strlen(dir);
    while (len > 0 && dir[len - 1] == '\\') dir[--len] = '\0';
    if (len + strlen(rel) >= (size_t)TEXT_PATH_SIZE) {
        log_error("url_to_dir: %s%s is too long", dir, rel);
        return nullptr; /* a cut path would be some other directory */
    }
    text_append(dir, rel, TEXT_PATH_SIZE);

    size_t size = strlen(dir) + 1;
    char *result = (char *)malloc(size);
    if (result) memcpy(result, dir, size);
    return result;
}
