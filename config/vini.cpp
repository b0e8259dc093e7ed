/* Virtual ini ("VINI"): reads a configuration file and answers lookups.
 *
 * One pass over the file turns its lines into key-and-value entries:
 * first-column comments are skipped, " /" and "\n" at the end of a value
 * continue it on the next line, host sections keep only the lines meant for
 * one virtual host, and a value "|file" stands for the lines of that file.
 * Declared keys go to the embedded settings list with its change rules;
 * every other key is kept here with exactly one value.  Writing the file
 * back is not done here.
 */
#include "config/vini.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "text/text.h"

constexpr int VINI_LINE_SIZE = VINI_LINE_MAX + 1;    /* line buffer, terminator included */
constexpr int VINI_VALUE_SIZE = VINI_VALUE_LINE + 1; /* value-file line buffer */
constexpr int VINI_UNDECLARED_STEP = 10;

/* " /" and "\n" line ends, as text/ names them */
enum { MARK_NONE = TEXT_MARK_NONE, MARK_JOIN = TEXT_MARK_JOIN, MARK_NEWLINE = TEXT_MARK_NEWLINE };

/* One entry while its lines are gathered. */
struct entry {
    char *key;
    char *value; /* heap, grows with each continuation line */
    size_t length;
    int pending; /* marker of the last line, waiting for the next one */
};

/* Host-section state of one load. */
struct host_state {
    const char *keyword; /* null: no sections */
    char *host;          /* heap copy; null when absent */
    int from_env;
    int active;
};

/* ---- small helpers ---- */

static void require_init(const vini *v)
{
    if (v->marker != VINI_MAGIC) {
        perror("Error Using virtual ini before Init\n");
        plat_exit(1);
    }
}

static int is_blank(char c) { return c == ' ' || c == '\t'; }

static const char *skip_blanks(const char *s)
{
    while (is_blank(*s)) s++;
    return s;
}

/* Keys are equal ignoring case, exactly as text_compare_nocase finds them,
 * but bytes are lower-cased through text_fold's table, and only where they
 * differ: every store searches the undeclared settings from the start, and
 * calling tolower on every character of every comparison was most of the
 * cost of loading a large file. */
static int same_key(const char *a, const char *b)
{
    if (!a || !b) return 0;
    for (; *a == *b || text_fold((unsigned char)*a) == text_fold((unsigned char)*b); a++, b++)
        if (*a == '\0') return 1; /* b ended here too */
    return 0;
}

/* Length of s without trailing blanks, carriage returns and line feeds. */
static size_t trimmed_length(const char *s)
{
    size_t n = strlen(s);
    while (n > 0 && (is_blank(s[n - 1]) || s[n - 1] == '\r' || s[n - 1] == '\n')) n--;
    return n;
}

/* ---- undeclared settings ---- */

static vini_setting *new_setting(vini *v, const char *key, const char *value)
{
    vini_setting *rec = (vini_setting *)malloc(sizeof(vini_setting));
    char *copy = text_dup(value);
    char *name = text_dup(key);
    if (!rec || !copy || !name) {
        free(rec);
        free(copy);
        free(name);
        return nullptr;
    }
    rec->name = name;
    static_init(&rec->values, v->settings.error);
    if (static_add(&rec->values, copy) < 0) {
        free(copy);
        free(name);
        free(rec);
        return nullptr;
    }
    return rec;
}

static void free_setting(vini_setting *rec)
{
    static_free(&rec->values);
    free(rec->name);
    free(rec);
}

/* ---- the key index ---- */

constexpr size_t INDEX_FIRST = 64; /* buckets at the first store */

static vini_setting **bucket_of(const vini_index *ix, const char *key)
{
    return &ix->buckets[text_fold_hash(key) & (ix->nbuckets - 1)];
}

static vini_setting *index_find(const vini_index *ix, const char *key)
{
    if (!ix->nbuckets || !key) return nullptr;
    for (vini_setting *rec = *bucket_of(ix, key); rec; rec = rec->next_same_hash)
        if (same_key(rec->name, key)) return rec;
    return nullptr;
}

/* Doubles the buckets once they hold as many records; 0 when memory ran out. */
static int index_grow(vini_index *ix)
{
    size_t n = ix->nbuckets ? ix->nbuckets * 2 : INDEX_FIRST;
    vini_setting **b = (vini_setting **)calloc(n, sizeof *b);
    if (!b) return 0;
    vini_index bigger = {b, n, ix->count};
    for (size_t i = 0; i < ix->nbuckets; i++)
        for (vini_setting *rec = ix->buckets[i], *next; rec; rec = next) {
            next = rec->next_same_hash;
            vini_setting **head = bucket_of(&bigger, rec->name);
            rec->next_same_hash = *head;
            *head = rec;
        }
    free(ix->buckets);
    *ix = bigger;
    return 1;
}

static int index_add(vini_index *ix, vini_setting *rec)
{
    if (ix->count >= ix->nbuckets && !index_grow(ix) && !ix->nbuckets)
        return 0; /* a full index still works, only slower */
    vini_setting **head = bucket_of(ix, rec->name);
    rec->next_same_hash = *head;
    *head = rec;
    ix->count++;
    return 1;
}

static void index_drop(vini_index *ix, vini_setting *rec)
{
    for (vini_setting **at = bucket_of(ix, rec->name); *at; at = &(*at)->next_same_hash)
        if (*at == rec) {
            *at = rec->next_same_hash;
            ix->count--;
            return;
        }
}

static void index_free(vini_index *ix)
{
    free(ix->buckets);
    ix->buckets = nullptr;
    ix->nbuckets = 0;
    ix->count = 0;
}

/* Takes rec out of the undeclared list and the index, and frees it. */
static void drop_setting(vini *v, vini_setting *rec)
{
    int count = static_count(&v->undeclared);
    for (int k = count - 1; k >= 0; k--) /* a reset key was usually stored last */
        if (static_get(&v->undeclared, k) == rec) {
            static_remove(&v->undeclared, k);
            break;
        }
    index_drop(&v->index, rec);
    free_setting(rec);
}

/* ---- storing an entry ---- */

/* Stores each line of a value file; 0 when the file cannot be opened. */
static int read_value_file(vini *v, int index, const char *key, const char *path)
{
    FILE *f = plat_fopen(path, "rb");
    if (!f) {
        if (errno != ENOENT) /* a device or pipe would never end: refused */
            ini_log_error(&v->settings, "Cannot open value file '%.100s' {%s}", path, strerror(errno));
        return 0;
    }
    char line[VINI_VALUE_SIZE];
    while (plat_fgets(line, VINI_VALUE_SIZE, f)) {
        text_strip_line_end(line);
        if (index >= 0)
            vini_add_value(v, index, line);
        else
            vini_set(v, key, line);
    }
    plat_fclose(f);
    return 1;
}

static void store_entry(vini *v, const char *key, const char *value)
{
    int index = ini_find(&v->settings, key);
    int names_file = value[0] == '|' && value[1] != '\0';
    if (index >= 0) {
        int from_file = v->settings.table[index].flags & INI_FROM_FILE;
        if (!(names_file && from_file && read_value_file(v, index, key, value + 1))) vini_add_value(v, index, value);
    } else if (!(names_file && read_value_file(v, -1, key, value + 1))) {
        vini_set(v, key, value);
    }
}

/* Applies the host-section lines and stores the entries that are selected. */
static void handle_entry(vini *v, host_state *hs, const char *key, const char *value)
{
    if (hs->keyword) {
        if (hs->from_env && text_compare_nocase(key, "vhost_match") == 0) {
            free(hs->host);
            hs->host = text_dup(getenv(value));
            if (!hs->host) ini_log_debug(&v->settings, "vhost_match, no value found. All host lines ignored");
            return;
        }
        if (text_compare_nocase(key, hs->keyword) == 0) {
            hs->active = hs->host && text_compare_nocase(hs->host, value) == 0;
            return;
        }
        if (text_compare_nocase(key, "vend") == 0) {
            hs->active = 1;
            return;
        }
    }
    if (hs->active) store_entry(v, key, value);
}

/* ---- gathering an entry ---- */

static void append_value(entry *e, const char *text, size_t n)
{
    char *grown = (char *)realloc(e->value, e->length + n + 1);
    if (!grown) return; /* keep what was gathered */
    memcpy(grown + e->length, text, n);
    e->length += n;
    grown[e->length] = '\0';
    e->value = grown;
}

/* Adds one line's text (leading blanks already skipped) to the value and
 * returns the marker it ends in, which is left out of the value. */
static int gather(entry *e, const char *text)
{
    size_t n = trimmed_length(text);
    int marker = text_continuation_mark(text, n);
    if (marker != MARK_NONE) n -= 2;
    if (e->pending == MARK_NEWLINE) append_value(e, "\n", 1);
    append_value(e, text, n);
    e->pending = marker;
    return marker;
}

/* Starts an entry from a line; 0 when no key could be kept. */
static int start_entry(entry *e, const char *line)
{
    e->key = vini_first_word(line);
    if (!e->key) return 0;
    const char *s = skip_blanks(line);
    while (*s && !is_blank(*s)) s++; /* the key and anything glued to it */
    e->value = nullptr;
    e->length = 0;
    e->pending = MARK_NONE;
    append_value(e, "", 0);
    gather(e, skip_blanks(s));
    return 1;
}

/* Adds a continuation line; 0 when the entry ends without it. */
static int continue_entry(entry *e, const char *line)
{
    const char *text = skip_blanks(line);
    if (trimmed_length(text) == 0) return 0; /* blank line ends the entry; the pending " /" or line feed is dropped */
    return gather(e, text) != MARK_NONE;
}

static void finish_entry(vini *v, host_state *hs, entry *e)
{
    handle_entry(v, hs, e->key, e->value ? e->value : "");
    free(e->key);
    free(e->value);
    e->key = nullptr;
    e->value = nullptr;
    e->length = 0;
    e->pending = MARK_NONE;
}

static int starts_entry(const char *line) { return line[0] != '#' && line[0] != '\r' && line[0] != '\n'; }

static void read_entries(vini *v, host_state *hs, FILE *f)
{
    char line[VINI_LINE_SIZE];
    entry e = {};
    while (plat_fgets(line, VINI_LINE_SIZE, f)) {
        if (e.key) {
            if (!continue_entry(&e, line)) finish_entry(v, hs, &e);
        } else if (starts_entry(line) && start_entry(&e, line) && e.pending == MARK_NONE) {
            finish_entry(v, hs, &e);
        }
    }
    if (e.key) {
        /* the file ended where a continuation was expected: the value keeps
         * its " /", or the line feed of its "\n" followed by two blanks */
        if (e.pending == MARK_JOIN) append_value(&e, " /", 2);
        if (e.pending == MARK_NEWLINE) append_value(&e, "\n  ", 3);
        finish_entry(v, hs, &e);
    }
}

/* The host name comes from the caller, else from the web server's
 * environment; a "vhost_match" line may replace the latter. */
static void settle_host(host_state *hs, const char *keyword, const char *host)
{
    hs->keyword = (keyword && keyword[0]) ? keyword : nullptr;
    hs->from_env = host == nullptr;
    hs->host = text_dup(host ? host : getenv("SERVER_NAME"));
    hs->active = 1;
}

static void config_path(char *path, const char *dir, const char *file)
{
    text_copy(path, path_join(dir, file), TEXT_PATH_SIZE);
    if (!strchr(file, '.')) text_append(path, ".ini", TEXT_PATH_SIZE);
}

/* ---- public operations ---- */

char *vini_first_word(const char *line)
{
    if (!line) return nullptr;
    const char *s = skip_blanks(line);
    size_t n = 0;
    while (s[n] && !is_blank(s[n]) && s[n] != '\r' && s[n] != '\n') n++;
    char *key = (char *)malloc(n + 1);
    if (!key) return nullptr;
    memcpy(key, s, n);
    key[n] = '\0';
    return key;
}

int vini_init(vini *v, report_fn error, report_fn debug)
{
    if (!v) return 0;
    memset(v, 0, sizeof *v);
    ini_init(&v->settings, error, debug);
    static_init(&v->undeclared, error);
    static_set_step(&v->undeclared, VINI_UNDECLARED_STEP);
    v->marker = VINI_MAGIC;
    return 1;
}

ini_list *vini_set_table(vini *v, const ini_definition *table, const ini_fallback *fallbacks, int apply)
{
    if (!v) return nullptr;
    require_init(v);
    ini_set_table(&v->settings, table, fallbacks, apply);
    return &v->settings;
}

int vini_load(vini *v, const char *dir, const char *file, const char *keyword, const char *host)
{
    if (!v) return 0;
    require_init(v);
    if (!file) {
        ini_log_error(&v->settings, "vini_load: unexpected NULL passed");
        return 0;
    }
    host_state hs = {};
    settle_host(&hs, keyword, host);
    char path[TEXT_PATH_SIZE];
    config_path(path, dir, file);
    ini_log_debug(&v->settings, "VINI: Loading {%.100s}", path);

    FILE *f = plat_fopen(path, "rb"); /* bytes as they are: a Ctrl-Z ends no text here */
    if (!f) {
        ini_log_error(&v->settings, "Cannot open file '%.100s' {%s}", path, strerror(errno));
        free(hs.host);
        return 0;
    }
    ini_lock(&v->settings, 0);
    read_entries(v, &hs, f);
    plat_fclose(f);
    if (hs.keyword) vini_set(v, hs.keyword, hs.host); /* lets the caller see which host was used */
    free(hs.host);
    ini_lock(&v->settings, 1);
    return 1;
}

const char *vini_get(vini *v, const char *key, int follow)
{
    if (!v) return nullptr;
    require_init(v);
    int index = ini_find(&v->settings, key);
    if (index >= 0) return ini_get(&v->settings, index, follow);
    vini_setting *rec = index_find(&v->index, key);
    return rec ? (const char *)static_get(&rec->values, 0) : nullptr;
}

int vini_set(vini *v, const char *key, const char *value)
{
    if (!v) return VINI_BAD_ARG;
    require_init(v);
    if (!key) return VINI_BAD_ARG;
    int index = ini_find(&v->settings, key);
    if (index >= 0) return ini_add_value(&v->settings, index, value);
    if (!value || !value[0]) {
        ini_log_debug(&v->settings, "VINI: Blank Setting for {%.100s} not added", key);
        return VINI_BAD_ARG;
    }
    /* Copies first: key and value may be texts of the record about to go. */
    vini_setting *rec = new_setting(v, key, value);
    if (!rec) return STATIC_NO_MEMORY;
    while (vini_remove(v, rec->name) == 1) {
    }
    int at = static_add(&v->undeclared, rec);
    if (at < 0) {
        free_setting(rec);
        return at;
    }
    if (!index_add(&v->index, rec)) {
        static_remove(&v->undeclared, at);
        free_setting(rec);
        return STATIC_NO_MEMORY;
    }
    const char *stored = (const char *)static_get(&rec->values, 0);
    ini_log_debug(&v->settings, "VINI: Settings changed {%.100s=%.100s}", rec->name, stored);
    return at;
}

int vini_add_value(vini *v, int index, const char *value)
{
    if (!v) return VINI_BAD_ARG;
    require_init(v);
    return ini_add_value(&v->settings, index, value);
}

int vini_remove(vini *v, const char *key)
{
    if (!v) return 0;
    require_init(v);
    int index = ini_find(&v->settings, key);
    if (index >= 0) return ini_remove_value(&v->settings, index);
    vini_setting *rec = index_find(&v->index, key); /* one record per key */
    if (!rec) return 0;
    int removed = 0;
    char *value = (char *)static_remove_current(&rec->values);
    if (value) {
        free(value);
        removed = 1;
    }
    if (static_count(&rec->values) == 0) drop_setting(v, rec);
    return removed;
}

int vini_free(vini *v)
{
    if (!v) return 0;
    require_init(v);
    ini_clear(&v->settings);
    int count = static_count(&v->undeclared);
    for (int k = count - 1; k >= 0; k--) /* from the end: nothing to shift */
        free_setting((vini_setting *)static_remove(&v->undeclared, k));
    index_free(&v->index);
    return 1;
}
