/* Rewriting the application's configuration file from the install answers.
 * The existing file is copied line by line: the lines of the settings the
 * questions manage get the new values (or are dropped), every other line is
 * kept as it stands, and settings the file lacked are appended.  The new
 * content replaces the old in one atomic replace (act_rewrite_begin), so
 * the configuration is never lost or left half-written. */
#include "config/set_ini.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/ini_name.h"
#include "act/act.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/replace.h"
#include "text/text.h"

constexpr int READ_CHARS = TEXT_PATH_SIZE - 1; /* a longer line is split */
constexpr int LINE_CHARS = 510;                /* key, space and value */
constexpr int OUT_SIZE = TEXT_LINE_SIZE;       /* leading blanks + 510 + "\n" */
constexpr int MARKS = Q_COUNT;                 /* one handled marker per question, by its number */
constexpr size_t READ_BLOCK = 8192;            /* first size of the file buffer */
static const char SECTION_KEY[] = "vhost";     /* starts a host section */
static const char SECTION_END[] = "vend";      /* ends it */

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
    {Q_FORCE_LOGIN, "force_login"},       {Q_AUTH_NEWS, "authent_news"},
    {Q_AUTHENT_LOCAL, "authent_local"},   {Q_AUTHENT_LOCAL_CREATE, "authent_local_create"},
    {Q_AUTHENT_COOKIE, "authent_cookie"},
};

/* Text settings appended with their answers, under the keys the readers use. */
static const appended_key TEXT_KEYS[] = {
    {Q_NEWSHOST, "newshost"}, {Q_DOMAIN, "domain"}, {Q_TEMPLATES, "templates"},
    {Q_CACHE, "cache_dir"},   {Q_QLIMG, "qlimg"},
};

struct rewrite {
    const question_table *t;
    act_rewrite *out; /* keeps the first write error */
    int handled[MARKS];
    int user_pop_done;
    int admin_pop_done;
    int in_section; /* inside a host section: lines are kept as they stand */
    int continuing; /* the next line continues the last setting */
    int dropping;   /* ... whose old text the rewrite replaced or dropped */
};

/* ---- writing ---- */

static void put_n(rewrite *r, const char *text, size_t len) { act_rewrite_write(r->out, text, len); }

static void put(rewrite *r, const char *text) { put_n(r, text, strlen(text)); }

/* Writes "key value\n", the value cut so key, space and value fit. */
static void put_setting(rewrite *r, const char *key, const char *value)
{
    char line[OUT_SIZE];
    int room = LINE_CHARS - (int)strlen(key) - 1;
    snprintf(line, sizeof line, "%s %.*s\n", key, room, value);
    put(r, line);
}

/* Writes a line (len bytes, its line end already cut) and one "\n". */
static void put_line(rewrite *r, const char *line, size_t len)
{
    put_n(r, line, len);
    put(r, "\n");
}

/* The line up to and including its key's space, then the new value. */
static void put_value_line(rewrite *r, const char *line, const char *key, size_t prefix, const char *value)
{
    char out[OUT_SIZE];
    int room = LINE_CHARS - (int)strlen(key);
    snprintf(out, sizeof out, "%.*s%.*s", (int)prefix, line, room, value);
    size_t len = strlen(out);
    while (len > 0 && (out[len - 1] == '\r' || out[len - 1] == '\n')) len--;
    put_line(r, out, len);
}

static void put_user_pop(rewrite *r)
{
    put(r, "authent_pop true\n");
    put(r, "authent_imap true\n");
}

static void put_admin_pop(rewrite *r)
{
    put(r, "host_authent true\n");
    put(r, "authent_host "); /* the host whole: its answer already fits a line */
    put(r, r->t->q[Q_POPHOST].default_answer);
    put(r, "\n");
    put(r, "authent_port 110\n");
}

/* ---- one line of the existing file ---- */

/* The managed key that starts the line, looked for only in its first
 * READ_CHARS characters, as the line's first piece always was. */
static const managed_key *find_managed(const char *line, size_t *prefix)
{
    size_t lead = 0;
    while (line[lead] != '\0' && isspace((unsigned char)line[lead])) lead++;
    for (const managed_key &m : MANAGED) {
        size_t klen = strlen(m.key);
        if (lead + klen <= (size_t)READ_CHARS && strncmp(line + lead, m.key, klen) == 0) {
            *prefix = lead + klen;
            return &m;
        }
    }
    return nullptr;
}

static int is_blank(char c) { return c == ' ' || c == '\t'; }

/* 1 when the reader takes the line for a comment or an empty line. */
static int is_comment(const char *line)
{
    return line[0] == '\0' || line[0] == '#' || line[0] == '\r' || line[0] == '\n';
}

/* 1 when the line's first word is `word`, compared ignoring case. */
static int first_word_is(const char *line, const char *word)
{
    while (is_blank(*line)) line++;
    size_t n = 0;
    for (; word[n]; n++)
        if (tolower((unsigned char)line[n]) != word[n]) /* word is lower case */
            return 0;
    char after = line[n];
    return after == '\0' || is_blank(after) || after == '\r' || after == '\n';
}

/* 1 when a value ends in a continuation marker, " /" or "\n", after its
 * trailing blanks: the reader then takes the next line into it.  A
 * setting's value starts after its key; a continuation line is all value. */
static int continues(const char *line, int is_continuation)
{
    while (is_blank(*line)) line++;
    if (!is_continuation) {
        while (*line && !is_blank(*line) && *line != '\r' && *line != '\n') line++;
        while (is_blank(*line)) line++;
    }
    size_t n = strlen(line);
    while (n > 0 && (is_blank(line[n - 1]) || line[n - 1] == '\r' || line[n - 1] == '\n')) n--;
    return text_continuation_mark(line, n) != TEXT_MARK_NONE;
}

/* Writes the new form of a managed setting, or nothing when it goes. */
static void rewrite_managed(rewrite *r, const managed_key *m, const char *line, size_t prefix)
{
    const question_rec *q = &r->t->q[m->question];
    int yes = (q->flag == 1);
    switch (m->how) {
    case T_USER_POP: /* the group's lines go once, where its first stood */
        if (yes && !r->user_pop_done) put_user_pop(r);
        r->user_pop_done = 1;
        break;
    case T_ADMIN_POP:
        if (yes && !r->admin_pop_done) put_admin_pop(r);
        r->admin_pop_done = 1;
        break;
    case T_VALUE:
    case T_YES_NO:
        r->handled[m->question] = 1;
        if (m->how == T_VALUE || yes) /* a no drops the line */
            put_value_line(r, line, m->key, prefix, q->default_answer);
        break;
    }
}

/* One line of the existing file, its line end cut (len bytes; a NUL byte
 * ends what is examined, never what is copied). */
static void rewrite_line(rewrite *r, const char *line, size_t len)
{
    if (r->continuing) { /* part of the setting above: it follows that one */
        r->continuing = continues(line, 1);
        if (!r->dropping) put_line(r, line, len);
        return;
    }
    r->dropping = 0;
    if (is_comment(line)) {
        put_line(r, line, len);
        return;
    }
    r->continuing = continues(line, 0);
    if (first_word_is(line, SECTION_KEY)) r->in_section = 1;
    size_t prefix = 0;
    const managed_key *m = r->in_section ? nullptr : find_managed(line, &prefix);
    if (r->in_section && first_word_is(line, SECTION_END)) r->in_section = 0;
    if (!m) { /* a host's own settings are its own: kept as they stand */
        put_line(r, line, len);
        return;
    }
    rewrite_managed(r, m, line, prefix);
    r->dropping = 1;
}

/* ---- the whole file ---- */

/* Reads the whole existing file into *bytes (heap) and *size; 0 on a read
 * error or when memory runs out. */
static int read_all(FILE *in, char **bytes, size_t *size)
{
    size_t cap = 0;
    *bytes = nullptr;
    *size = 0;
    for (;;) {
        if (*size == cap) {
            cap = cap ? cap * 2 : READ_BLOCK;
            char *grown = (char *)realloc(*bytes, cap + 1);
            if (!grown) return 0;
            *bytes = grown;
        }
        size_t got = plat_fread(*bytes + *size, 1, cap - *size, in);
        *size += got;
        if (*size < cap) {
            (*bytes)[*size] = '\0';
            return feof(in) && !ferror(in);
        }
    }
}

/* Copies the existing file line by line; 0 on a read error.  Every line is
 * one line of the new file, however long: only its line end ("\n", any
 * carriage returns before it) is written anew. */
static int rewrite_lines(rewrite *r, FILE *in)
{
    char *bytes;
    size_t size;
    if (!read_all(in, &bytes, &size)) {
        free(bytes);
        return 0;
    }
    for (size_t start = 0; start < size;) {
        char *nl = (char *)memchr(bytes + start, '\n', size - start);
        size_t end = nl ? (size_t)(nl - bytes) : size;
        size_t len = end - start;
        while (len > 0 && bytes[start + len - 1] == '\r') len--;
        bytes[start + len] = '\0'; /* what is examined stops here */
        rewrite_line(r, bytes + start, len);
        start = end + 1;
    }
    free(bytes);
    return 1;
}

/* Settings appended after the last line must stand on their own: a setting
 * still continued, or a host section still open, would take them in. */
static void close_open_setting(rewrite *r)
{
    if (r->continuing && !r->dropping) put(r, "\n"); /* an empty line ends the setting */
    if (r->in_section) {
        put(r, SECTION_END);
        put(r, "\n");
    }
}

static void append_missing(rewrite *r)
{
    const question_table *t = r->t;
    close_open_setting(r);
    for (const appended_key &a : YES_NO_KEYS)
        if (!r->handled[a.question]) put_setting(r, a.key, t->q[a.question].flag == 1 ? "true" : "false");
    for (const appended_key &a : TEXT_KEYS)
        if (!r->handled[a.question]) put_setting(r, a.key, t->q[a.question].default_answer);
    if (t->q[Q_AUTH_USER_POP].flag == 1 && !r->user_pop_done) put_user_pop(r);
    if (t->q[Q_AUTH_ADMIN_POP].flag == 1 && !r->admin_pop_done) put_admin_pop(r);
}

/* ---- entry point ---- */

/* path = dir (or ".\") with a trailing backslash, then name; 0 when it
 * does not fit, since a cut path would name another file. */
static int build_path(char *buf, const char *dir, const char *name)
{
    const char *d = dir ? dir : ".\\";
    return path_join_raw(buf, TEXT_PATH_SIZE, d[0] ? d : "\\", name); /* "" + "\\" + name */
}

/* Writes the new content and puts it in place; 1 when all of it is there.
 * The old file is closed first: Windows renames nothing over an open file. */
static int write_new(const question_table *t, FILE *in, act_rewrite *out)
{
    rewrite r;
    memset(&r, 0, sizeof r);
    r.t = t;
    r.out = out;
    int read_ok = rewrite_lines(&r, in);
    plat_fclose(in);
    if (!read_ok) {
        log_error("error reading from %s", out->real.target);
        act_rewrite_abort(out);
        return 0;
    }
    append_missing(&r);
    int step = act_rewrite_commit(out);
    if (step == PLAT_REPLACE_WRITE) log_report("set_ini: error writing to %s", out->real.temp);
    if (step == PLAT_REPLACE_RENAME)
        log_report("set_ini: could not rename %s to %s: %s", out->real.temp, out->real.target, strerror(errno));
    if (step == PLAT_REPLACE_SYNC_DIR) /* replaced: only its new name may not be on the disk yet */
        log_error("set_ini: could not sync the folder of %s: %s", out->real.target, strerror(errno));
    return step == PLAT_REPLACE_DONE || step == PLAT_REPLACE_SYNC_DIR;
}

/* The temporary file beside path goes first when an interrupted run left
 * it (the name itself, never what a link there points to), then the new
 * content is written through a fresh one.  Closes in. */
static int replace_with_answers(const question_table *t, FILE *in, const char *path, const char *tmp)
{
    if (act_remove(tmp) == 0)
        log_info("set_ini: removed %s, left over by an interrupted run", tmp);
    else if (errno == ELOOP) /* a link Windows does not show as one: never removed through */
        log_error("set_ini: %s is a link to another file, left alone", tmp);
    else if (errno != ENOENT)
        log_error("set_ini: could not remove %s: %s", tmp, strerror(errno));
    act_rewrite out;
    if (!act_rewrite_begin(&out, path, tmp, PLAT_REPLACE_TEXT)) {
        log_report("set_ini: could not open file %s to write", tmp);
        plat_fclose(in);
        return -1;
    }
    return write_new(t, in, &out);
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
        return 0; /* never rewrite the executable itself */
    }
    char temp_name[TEXT_PATH_SIZE];
    int n = snprintf(temp_name, sizeof temp_name, "temp%s", name);
    if (!build_path(path, dir, name) || n < 0 || n >= (int)sizeof temp_name || !build_path(tmp, dir, temp_name)) {
        log_report("set_ini: path too long for %s", name);
        return 0;
    }
    FILE *in = plat_fopen(path, "rb"); /* every byte, Ctrl-Z and CR included */
    if (!in) {
        log_report("set_ini: could not open file %s to read", path);
        return 0;
    }
    int ok = replace_with_answers(t, in, path, tmp);
    if (ok > 0) return 1;
    if (ok == 0) log_report("set_ini: %s left unchanged", path);
    return 0;
}
