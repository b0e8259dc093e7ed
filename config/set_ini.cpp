/* Rewriting the application's configuration file from the install answers.
 * The existing file is copied line by line: the lines of the settings the
 * questions manage get the new values (or are dropped), every other line is
 * kept as it stands, and settings the file lacked are appended.  The new
 * content goes to a temporary file that replaces the old one in a single
 * rename, so the configuration is never lost or left half-written. */
#include "config/set_ini.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdarg>
#include <cstring>

#include "installer/probes.h"
#include "log/log.h"
#include "platform/platform.h"
#include "text/text.h"

constexpr int READ_CHARS = TEXT_PATH_SIZE - 1; /* a longer line is split */
constexpr int LINE_CHARS = 510;                /* key, space and value */
constexpr int OUT_SIZE = TEXT_LINE_SIZE;       /* leading blanks + 510 + "\n" */
constexpr int MARKS = Q_COUNT + 1;             /* one handled marker per question */

enum treatment { T_VALUE, T_YES_NO, T_USER_POP, T_ADMIN_POP };

struct managed_key {
    const char *key; /* with its space */
    int question;
    treatment how;
};

/* Tried in order; the first key that starts the line decides. */
static const managed_key MANAGED[] = {
    {"templates ", Q_TEMPLATES, T_VALUE},
    {"newshost ", Q_NEWSHOST, T_VALUE},
    {"cache_dir ", Q_CACHE, T_VALUE},
    {"domain ", Q_DOMAIN, T_VALUE},
    {"qlimg ", Q_QLIMG, T_VALUE},
    {"authent_pop ", Q_AUTH_USER_POP, T_USER_POP},
    {"authent_imap ", Q_AUTH_USER_POP, T_USER_POP},
    {"host_authent ", Q_AUTH_ADMIN_POP, T_ADMIN_POP},
    {"authent_host ", Q_AUTH_ADMIN_POP, T_ADMIN_POP},
    {"authent_port ", Q_AUTH_ADMIN_POP, T_ADMIN_POP},
    {"authent_news ", Q_AUTH_NEWS, T_YES_NO},
    {"authent_local ", Q_AUTHENT_LOCAL, T_YES_NO},
    {"authent_cookie ", Q_AUTHENT_COOKIE, T_YES_NO},
    {"authent_local_create ", Q_AUTHENT_LOCAL_CREATE, T_YES_NO},
    {"force_login ", Q_FORCE_LOGIN, T_YES_NO},
};

struct appended_key {
    int question;
    const char *key;
};

/* Yes/no settings appended as true/false when the file had no line. */
static const appended_key YES_NO_KEYS[] = {
    {Q_FORCE_LOGIN, "force_login"},
    {Q_AUTH_NEWS, "authent_news"},
    {Q_AUTHENT_LOCAL, "authent_local"},
    {Q_AUTHENT_LOCAL_CREATE, "authent_local_create"},
    {Q_AUTHENT_COOKIE, "authent_cookie"},
};

/* Text settings appended with their answers, under the keys the readers use. */
static const appended_key TEXT_KEYS[] = {
    {Q_NEWSHOST, "newshost"},
    {Q_DOMAIN, "domain"},
    {Q_TEMPLATES, "templates"},
    {Q_CACHE, "cache_dir"},
    {Q_QLIMG, "qlimg"},
};

struct rewrite {
    const question_table *t;
    FILE *out;
    int ok;              /* every write so far succeeded */
    int handled[MARKS];
    int user_pop_done;
    int admin_pop_done;
};

/* ---- reporting ---- */

/* A problem the administrator must see: the log and the console. */
static void report(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
static void report(const char *fmt, ...)
{
    char msg[LOG_MSG_SIZE];
    va_list args;
    va_start(args, fmt);
    vsnprintf(msg, sizeof msg, fmt, args);
    va_end(args);
    log_error("%s", msg);
    plat_printf("\n%s\n", msg);
}

/* ---- writing ---- */

static void put(rewrite *r, const char *text)
{
    size_t len = strlen(text);
    if (r->ok && plat_fwrite(text, 1, len, r->out) != len)
        r->ok = 0;
}

/* Writes "key value\n", the value cut so key, space and value fit. */
static void put_setting(rewrite *r, const char *key, const char *value)
{
    char line[OUT_SIZE];
    int room = LINE_CHARS - (int)strlen(key) - 1;
    snprintf(line, sizeof line, "%s %.*s\n", key, room, value);
    put(r, line);
}

/* Writes a line with its line end made one "\n". */
static void put_line(rewrite *r, char *line)
{
    size_t len = strlen(line);
    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n'))
        line[--len] = '\0';
    put(r, line);
    put(r, "\n");
}

/* The line up to and including its key's space, then the new value. */
static void put_value_line(rewrite *r, const char *line, const char *key, size_t prefix,
                           const char *value)
{
    char out[OUT_SIZE];
    int room = LINE_CHARS - (int)strlen(key);
    snprintf(out, sizeof out, "%.*s%.*s", (int)prefix, line, room, value);
    put_line(r, out);
}

static void put_user_pop(rewrite *r)
{
    put(r, "authent_pop true\n");
    put(r, "authent_imap true\n");
}

static void put_admin_pop(rewrite *r)
{
    put(r, "host_authent true\n");
    put_setting(r, "authent_host", r->t->q[Q_POPHOST].default_answer);
    put(r, "authent_port 110\n");
}

/* ---- one line of the existing file ---- */

static const managed_key *find_managed(const char *line, size_t *prefix)
{
    size_t lead = 0;
    while (line[lead] != '\0' && isspace((unsigned char)line[lead]))
        lead++;
    for (const managed_key &m : MANAGED) {
        size_t klen = strlen(m.key);
        if (strncmp(line + lead, m.key, klen) == 0) {
            *prefix = lead + klen;
            return &m;
        }
    }
    return nullptr;
}

static void rewrite_line(rewrite *r, char *line)
{
    size_t prefix = 0;
    const managed_key *m = find_managed(line, &prefix);
    if (!m) {
        put_line(r, line);
        return;
    }
    const question_rec *q = &r->t->q[m->question];
    int yes = (q->flag == 1);
    switch (m->how) {
    case T_USER_POP:  /* the group's lines go once, where its first stood */
        if (yes && !r->user_pop_done)
            put_user_pop(r);
        r->user_pop_done = 1;
        break;
    case T_ADMIN_POP:
        if (yes && !r->admin_pop_done)
            put_admin_pop(r);
        r->admin_pop_done = 1;
        break;
    case T_VALUE:
    case T_YES_NO:
        r->handled[m->question] = 1;
        if (m->how == T_VALUE || yes)  /* a no drops the line */
            put_value_line(r, line, m->key, prefix, q->default_answer);
        break;
    }
}

/* ---- the whole file ---- */

/* A piece made only of line-end characters. */
static int only_line_end(const char *s)
{
    if (*s == '\0')
        return 0;
    for (; *s; s++)
        if (*s != '\r' && *s != '\n')
            return 0;
    return 1;
}

/* Copies the existing file; 0 on a read error.  A line longer than the
 * buffer comes out as several lines, but the line end that follows a piece
 * of exactly the buffer's length belongs to that piece, not a new line. */
static int rewrite_lines(rewrite *r, FILE *in)
{
    char line[READ_CHARS + 1];
    int full = 0;

    while (plat_fgets(line, sizeof line, in) != nullptr) {
        size_t len = strlen(line);
        if (!(full && only_line_end(line)))
            rewrite_line(r, line);
        full = (len == (size_t)READ_CHARS && line[len - 1] != '\n');
    }
    return feof(in) && !ferror(in);
}

static void append_missing(rewrite *r)
{
    const question_table *t = r->t;
    for (const appended_key &a : YES_NO_KEYS)
        if (!r->handled[a.question])
            put_setting(r, a.key, t->q[a.question].flag == 1 ? "true" : "false");
    for (const appended_key &a : TEXT_KEYS)
        if (!r->handled[a.question])
            put_setting(r, a.key, t->q[a.question].default_answer);
    if (t->q[Q_AUTH_USER_POP].flag == 1 && !r->user_pop_done)
        put_user_pop(r);
    if (t->q[Q_AUTH_ADMIN_POP].flag == 1 && !r->admin_pop_done)
        put_admin_pop(r);
}

/* ---- entry point ---- */

/* path = dir (or ".\") with a trailing backslash, then name; 0 when it
 * does not fit, since a cut path would name another file. */
static int build_path(char *buf, const char *dir, const char *name)
{
    const char *d = dir ? dir : ".\\";
    size_t dlen = strlen(d);
    const char *slash = (dlen == 0 || d[dlen - 1] != '\\') ? "\\" : "";
    int n = snprintf(buf, TEXT_PATH_SIZE, "%s%s%s", d, slash, name);
    return n >= 0 && n < TEXT_PATH_SIZE;
}

/* Writes the new content to out and closes it; 1 when all of it is there. */
static int write_new(const question_table *t, FILE *in, FILE *out, const char *path,
                     const char *tmp)
{
    rewrite r;
    memset(&r, 0, sizeof r);
    r.t = t;
    r.out = out;
    r.ok = 1;

    int read_ok = rewrite_lines(&r, in);
    if (read_ok)
        append_missing(&r);
    else
        log_error("error reading from %s", path);
    if (read_ok && r.ok && plat_fsync(out) != 0)
        r.ok = 0;  /* on the disk before it takes the old file's place */
    if (plat_fclose(out) != 0)
        r.ok = 0;
    if (read_ok && !r.ok)
        report("set_ini: error writing to %s", tmp);
    return read_ok && r.ok;
}

/* Puts the new file in place in one replacing rename. */
static int commit(const char *tmp, const char *path)
{
    if (plat_rename(tmp, path) == 0) {
        if (plat_sync_dir(path) != 0)  /* the new name on the disk too */
            log_error("set_ini: could not sync the folder of %s: %s", path, strerror(errno));
        return 1;
    }
    report("set_ini: could not rename %s to %s: %s", tmp, path, strerror(errno));
    return 0;
}

int set_ini(const char *dir, question_table *t)
{
    char name[TEXT_PATH_SIZE];
    char path[TEXT_PATH_SIZE];
    char tmp[TEXT_PATH_SIZE];

    if (!t) {
        log_error("set_ini: unexpected NULL passed");
        return 0;
    }
    text_copy(name, t->q[Q_QUILLOR_CGI].default_answer, TEXT_PATH_SIZE);
    if (!cgi_to_ini(name)) {
        log_error("set_ini: no configuration file name for %s", name);
        return 0;  /* never rewrite the executable itself */
    }
    int n = snprintf(tmp, sizeof tmp, ".\\temp%s", name);
    if (!build_path(path, dir, name) || n < 0 || n >= (int)sizeof tmp) {
        report("set_ini: path too long for %s", name);
        return 0;
    }
    FILE *in = plat_fopen(path, "r");
    if (!in) {
        report("set_ini: could not open file %s to read", path);
        return 0;
    }
    /* an earlier temporary file goes first (the name itself, never what a
     * link there points to); the new one is made afresh, never followed */
    if (plat_remove(tmp) != 0 && errno != ENOENT)
        log_error("set_ini: could not remove %s: %s", tmp, strerror(errno));
    FILE *out = plat_fopen(tmp, "wx");
    if (!out) {
        report("set_ini: could not open file %s to write", tmp);
        plat_fclose(in);
        return 0;
    }
    int ok = write_new(t, in, out, path, tmp);
    plat_fclose(in);
    if (ok && commit(tmp, path))
        return 1;
    plat_remove(tmp);  /* the existing file stays as it was */
    report("set_ini: %s left unchanged", path);
    return 0;
}
