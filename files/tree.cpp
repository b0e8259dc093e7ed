/* Directory creation, tree walk and copy.
 *
 * The installer moves its files by pattern: it creates directories with
 * their parents, lists what a mask selects below a directory (breadth-first,
 * case-blind) and copies those entries into another directory, keeping the
 * relative layout.  Every file operation goes through the platform layer.
 * A copy is written to a temporary file beside the target (a new target,
 * where the system can, to an unnamed one) that takes the target's name
 * only once every byte is written and the file closed without error, so a
 * failed copy never leaves a damaged or truncated target behind.  Copies
 * are not synced one by one: plat_sync_now makes them durable together
 * before the job's summary (the rule is in platform.h).  A tree copy goes on past a file
 * it cannot copy, logs why, and then reports the whole copy as failed, so
 * that a step which lost a file is never counted as a success.  Removal
 * lives in remove.cpp.
 */
#include "files/tree.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "act/act.h"
#include "act/journal.h"
#include "files/path_set.h"
#include "files/wild.h"
#include "log/log.h"
#include "platform/folder.h"
#include "platform/platform.h"
#include "platform/replace.h"
#include "text/text.h"

constexpr int MKDIR_NAME_SIZE = 1024;               /* directory made without parents */
constexpr int DRIVE_PREFIX = 3;                     /* "C:\" is never created */
constexpr int WALK_PROGRESS_STEP = 50;              /* directories between progress lines */
constexpr int WALK_NAME_CHARS = TEXT_PATH_SIZE - 1; /* bare file names */
constexpr int TEMP_TRIES = 100;                     /* names tried for a copy's temporary file */
constexpr int TEMP_NAME_SIZE = 64;                  /* "~qcp<pid>_<n>.tmp" */
static const char TEMP_PREFIX[] = "~qcp";           /* how a copy's temporary files start */
constexpr int COMPARE_BLOCK = 8192;                 /* bytes compared per read */
constexpr int KEEP_TRIES = 1000;                    /* numbers tried past names taken meanwhile */

/* ---- small helpers ---- */

/* Adds a heap copy of s; the list owns it from then on. */
static void add_copy(static_list *list, const char *s)
{
    char *copy = text_dup(s);
    if (copy && static_add(list, copy) < 0) free(copy);
}

/* The bare name of an installer path. */
static const char *leaf_of(const char *path)
{
    const char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

/* The folder part of an installer path, backslash kept, into folder
 * (TEXT_LINE_SIZE bytes); 0 when the path names no folder. */
static int folder_part(const char *path, char *folder)
{
    const char *slash = strrchr(path, '\\');
    if (slash) text_copy_n(folder, path, (int)(slash - path) + 1);
    return slash != nullptr;
}

/* ---- directory creation ---- */

/* Logs why a directory could not be made and turns errno into the result. */
static int mkdir_report(const char *path)
{
    int err = errno;
    errno = 0;
    if (err == EEXIST) {
        log_debug("Directory '%s' already exists.", path);
        return -1;
    }
    log_debug("Failed to create '%s' Directory {%d=%s}", path, err, strerror(err));
    return 0;
}

/* "/" separates folders as a backslash does, on every system. */
static int is_separator(char c) { return c == '\\' || c == '/'; }

static int mkdir_one(const char *dir)
{
    static char name[MKDIR_NAME_SIZE];
    text_copy(name, dir, MKDIR_NAME_SIZE);
    size_t len = strlen(name);
    if (len > 0 && is_separator(name[len - 1])) name[len - 1] = '\0';
    errno = 0;
    if (act_mkdir(name) != 0) return 0;
    log_debug("Created '%s' Directory", name);
    return 1;
}

/* How much of dir names a root that is never created: "C:\" for a drive,
 * "\" for the current drive's root, nothing for a relative path. */
static size_t root_prefix(const char *dir)
{
    if (isalpha((unsigned char)dir[0]) && dir[1] == ':' && is_separator(dir[2])) return DRIVE_PREFIX;
    return is_separator(dir[0]) ? 1 : 0;
}

/* Makes every directory along dir (which ends with a backslash), skipping
 * its root.  Only the last one, dir itself, decides the result; errno is
 * left as that last attempt set it. */
static int mkdir_parents(char *dir)
{
    int made = 0, stops = 0;
    for (size_t i = root_prefix(dir); i < strlen(dir); i++) {
        if (!is_separator(dir[i])) continue;
        char sep = dir[i];
        dir[i] = '\0';
        errno = 0;
        made = act_mkdir(dir) == 0;
        int err = errno;
        if (made) log_debug("Created '%s' Directory", dir);
        errno = err;
        dir[i] = sep;
        stops++;
    }
    if (stops == 0) errno = EINVAL; /* a drive root alone is nothing to make */
    return stops > 0 && made;
}

int mkdir_path(const char *path, int parents)
{
    char dir[TEXT_PATH_SIZE];
    errno = EINVAL; /* never report a stale "exists" */
    if (!path) return mkdir_report("");
    if (strlen(path) >= (size_t)TEXT_PATH_SIZE) {
        errno = ENAMETOOLONG; /* its directory part would be cut short */
        return mkdir_report(path);
    }
    const char *part = dir_part(path);
    if (!part) return mkdir_report(path);
    text_copy(dir, part, TEXT_PATH_SIZE);
    int made = parents ? mkdir_parents(dir) : mkdir_one(dir);
    if (!made) return mkdir_report(path);
    errno = 0;
    return 1;
}

/* ---- tree walk ---- */

struct walk_state {
    static_list *result;
    static_list work; /* directories still to list, full paths */
    const char *mask; /* lower-cased */
    int flags;
    int recurse;
    int whole; /* every folder listed, every selected name usable */
};

/* Adds a matching entry to the result in the form the flags ask for.
 * Listed entries keep their real names: they are joined, never cleaned. */
static void walk_add_match(walk_state *w, const char *dir, const char *name, int is_dir)
{
    char path[TEXT_LINE_SIZE];
    char item[TEXT_LINE_SIZE];
    if (w->flags & WALK_NAMES) {
        text_copy_n(path, name, WALK_NAME_CHARS);
    } else if (!path_join_raw(path, TEXT_LINE_SIZE, dir, name)) {
        return; /* too long to name the entry */
    }
    if (!is_dir) {
        add_copy(w->result, path);
        return;
    }
    int len = snprintf(item, sizeof item, "%s%c", path, '\\');
    if (len > 0 && len < (int)sizeof item) add_copy(w->result, item);
}

static int is_dot_entry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

/* An entry no installer path can name, or one Windows reads as another
 * that the step does not take, is never acted on under another name: when
 * the walk would have selected it, or would have gone into it, it is named
 * in the log and the walk is not whole. */
static void walk_unnamed(walk_state *w, const char *dir, const plat_find_entry *e, int is_dir, int matched)
{
    int wanted = matched && (w->flags & (is_dir ? WALK_DIRS : WALK_FILES));
    if (wanted || (is_dir && w->recurse)) w->whole = dir_walk_unnamed(dir, e->name, e->attrib);
}

int dir_walk_unnamed(const char *dir, const char *name, unsigned attrib)
{
    if (attrib & PLAT_ATTR_UNNAMED)
        act_error("dir_walk: cannot handle \"%s\" in %s: no installer path can name it", name, dir);
    else /* quoted, so that a trailing dot or space shows */
        act_error("dir_walk: left \"%s\" in %s alone: Windows reads that name as another", name, dir);
    return 0;
}

static void walk_entry(walk_state *w, const char *dir, const plat_find_entry *entry)
{
    if (is_dot_entry(entry->name)) return;
    char lower[PLAT_NAME_MAX]; /* a listed name fits: no allocation per entry */
    text_lower(text_copy(lower, entry->name, PLAT_NAME_MAX));
    int is_dir = (entry->attrib & ~PLAT_ATTR_NAME_BITS) == PLAT_ATTR_DIRECTORY; /* links and flagged dirs are files */
    int misread = (entry->attrib & PLAT_ATTR_MISREAD) && !(w->flags & WALK_MISREAD);
    if ((entry->attrib & PLAT_ATTR_UNNAMED) || misread) {
        walk_unnamed(w, dir, entry, is_dir, wild_match(w->mask, lower) != 0);
        return;
    }
    if (wild_match(w->mask, lower)) {
        if (is_dir && (w->flags & WALK_DIRS)) walk_add_match(w, dir, entry->name, 1);
        if (!is_dir && (w->flags & WALK_FILES)) walk_add_match(w, dir, entry->name, 0);
    }
    char sub[TEXT_LINE_SIZE];
    if (is_dir && w->recurse && path_join_raw(sub, TEXT_LINE_SIZE, dir, entry->name)) add_copy(&w->work, sub);
    int count = static_count(&w->work);
    if (count % WALK_PROGRESS_STEP == 0) log_debug(" DIRECTORY: Located %d files/directories", count);
}

/* A listing that ended on anything but its end, or a folder that is there
 * but could not be listed, loses what it held: logged, the walk not whole.
 * A folder that is not there (any more) holds nothing. */
static void walk_listing_ended(walk_state *w, const char *dir, int err)
{
    if (!dir_walk_listed(dir, err)) w->whole = 0;
}

int dir_walk_listed(const char *dir, int err)
{
    if (err == ENOENT || err == ENOTDIR) return 1;
    act_error("dir_walk: could not list %s {%d=%s}", dir, err, strerror(err));
    return 0;
}

/* A dry run walks the folders as the plan leaves them: what it removed is
 * gone, and what it made is there. */
static int planned_away(const char *dir, const char *name)
{
    char path[TEXT_LINE_SIZE];
    return act_dry() && path_join_raw(path, sizeof path, dir, name) && act_noted_kind(path) == PLAT_KIND_NONE;
}

struct walk_at {
    walk_state *w;
    const char *dir;
};

static void walk_planned(void *ctx, const char *name, int kind)
{
    walk_at *at = (walk_at *)ctx;
    plat_find_entry entry;
    text_copy(entry.name, name, sizeof entry.name);
    entry.attrib = kind == PLAT_KIND_DIR ? PLAT_ATTR_DIRECTORY : PLAT_ATTR_ARCHIVE;
    walk_entry(at->w, at->dir, &entry);
}

static void walk_dir(walk_state *w, const char *dir)
{
    char pattern[TEXT_LINE_SIZE];
    plat_find_entry entry;
    if (!path_join_raw(pattern, TEXT_LINE_SIZE, dir, "*")) return;
    walk_at at = {w, dir};
    if (act_dry()) act_planned_in(dir, walk_planned, &at);
    errno = 0;
    plat_find *find = plat_find_first(pattern, &entry, w->flags & WALK_NOFOLLOW ? PLAT_FIND_NOFOLLOW : 0);
    if (!find) {
        walk_listing_ended(w, dir, errno);
        errno = 0;
        return;
    }
    do {
        if (!planned_away(dir, entry.name)) walk_entry(w, dir, &entry);
        errno = 0;
    } while (plat_find_next(find, &entry));
    walk_listing_ended(w, dir, errno ? errno : ENOENT);
    plat_find_close(find);
    errno = 0;
}

/* The directory the walk starts in: the start directory joined with the
 * pattern's own directory part.  False when the joined path would not fit
 * (a shortened path could name some other directory). */
static int walk_start_dir(static_list *work, const char *start, const char *pattern)
{
    size_t need = (start ? strlen(start) : 0) + (pattern ? strlen(pattern) : 0) + 2;
    if (need > (size_t)TEXT_PATH_SIZE) return 0;
    const char *dir = dir_part(path_join(start, pattern));
    if (dir) add_copy(work, dir);
    return 1;
}

int dir_walk(static_list *result, const char *start, const char *pattern, int flags, int recurse)
{
    walk_state w;
    w.whole = 1;
    errno = 0;
    static_init(result, nullptr);
    static_init(&w.work, nullptr);
    char *mask = nullptr;
    if (walk_start_dir(&w.work, start, pattern) && pattern) mask = text_dup(base_name(pattern, BASE_KEEP_EXT));
    if (mask) {
        w.result = result;
        w.mask = text_lower(mask);
        w.flags = flags;
        w.recurse = recurse;
        for (int i = 0; i < static_count(&w.work); i++) /* grows while we go */
            walk_dir(&w, (const char *)static_get(&w.work, i));
        free(mask);
    }
    static_free(&w.work);
    return w.whole;
}

/* ---- copying one file ---- */

/* Logs why source could not be copied to target (errno) and returns 0. */
static int copy_failed(const char *source, const char *target)
{
    int err = errno ? errno : EIO;
    act_error("copy_file: could not copy %s to %s {%d=%s}", source, target, err, strerror(err));
    errno = 0;
    return 0;
}

/* Puts in name the next of this process's temporary file names, which
 * carry the pid taken with the first (the program never forks). */
static void temp_name(char *name, size_t size)
{
    static unsigned serial = 0;
    static const long pid = plat_process_id();
    snprintf(name, size, "%s%ld_%u.tmp", TEMP_PREFIX, pid, serial++);
}

/* In a run that can be put back, the temporary file name beside target is
 * noted before it is made, so that a killed run leaves none (ahead: with
 * the synced note that comes next). */
static int temp_noted(const char *target, const char *name, int ahead)
{
    char folder[TEXT_LINE_SIZE], temp[TEXT_LINE_SIZE];
    if (!act_rollback_on()) return 1;
    if (!folder_part(target, folder)) folder[0] = '\0';
    int len = snprintf(temp, sizeof temp, "%s%s", folder, name);
    int op = JOURNAL_TEMP | (ahead ? JOURNAL_AHEAD : 0);
    return len >= 0 && len < (int)sizeof temp && act_journal(op, temp, nullptr);
}

/* Creates a new temporary file out for the looked-up missing target and
 * describes it in temp: an unnamed one, made with the permissions of the
 * source in, where the system has it, else one named for this process
 * beside it.  1, or 0 with errno set. */
static int open_temp(const char *path, const plat_name *target, const plat_file *in, plat_name *temp, plat_file *out)
{
    if (plat_create_hidden(target, in, temp, out)) return 1;
    if (errno != ENOSYS) return 0;
    for (int tries = 0; tries < TEMP_TRIES; tries++) {
        char name[TEMP_NAME_SIZE];
        temp_name(name, sizeof name);
        if (!temp_noted(path, name, 0)) return 0;
        if (plat_create_temp(target, name, temp, out)) return 1;
        act_not_made(JOURNAL_TEMP);
        if (errno != EEXIST) return 0;
    }
    return 0;
}

/* Starts replacing the existing, looked-up target through a temporary file
 * beside it (first, already noted: the name of the first try), made
 * durable with the step (plat_sync_now).  1, or 0 with errno set. */
static int begin_replace(plat_replacing *r, const char *target, const plat_name *t, const char *first)
{
    for (int tries = 0; tries < TEMP_TRIES; tries++) {
        char name[TEMP_NAME_SIZE];
        if (tries == 0) {
            text_copy(name, first, sizeof name);
        } else {
            temp_name(name, sizeof name);
            if (!temp_noted(target, name, 0)) return 0;
        }
        if (plat_replace_begin_named(r, target, t, name, PLAT_REPLACE_SYNC_LATER)) return 1;
        act_not_made(JOURNAL_TEMP);
        if (errno != EEXIST) return 0;
    }
    return 0;
}

/* A target that exists but may not be written stays untouched, exactly as
 * if it had been opened for writing and that had failed.  A regular file
 * whose native form is known is asked without opening it; anything else
 * is opened to append, which asks for write access only and changes
 * nothing (and refuses a link). */
static int target_writable(const char *target, const plat_name *t)
{
    if (t->kind == PLAT_KIND_NONE) return 1;
    if (t->kind == PLAT_KIND_FILE && t->native[0]) return plat_may_write(t) == 0;
    FILE *f = plat_fopen(target, "ab");
    if (!f) return 0;
    plat_fclose(f);
    return 1;
}

/* Closes in and logs why source could not be copied (err); 0. */
static int copy_undone(plat_file *in, const char *source, const char *target, int err)
{
    plat_file_close(in);
    errno = err;
    return copy_failed(source, target);
}

/* ---- a dry run: what a copy would do ---- */

/* Plans the copy of source to the looked-up target, as a real copy would
 * go: it fails where the source cannot be opened or the target may not be
 * written, and a file it replaces is told identical or changed. */
static int plan_copy(const char *source, const char *target, const plat_name *t)
{
    plat_file in;
    if (!plat_open_source(source, &in)) return copy_failed(source, target);
    plat_file_close(&in);
    int on_disk = t->kind == PLAT_KIND_FILE && plat_path_kind(target) == PLAT_KIND_FILE; /* not one the plan made */
    errno = t->kind == PLAT_KIND_DIR ? EISDIR : t->kind == PLAT_KIND_OTHER ? PLAT_ENOTREG : 0;
    if (errno || (on_disk && !target_writable(target, t))) return copy_failed(source, target);
    if (act_may_change(target) != 0) return copy_failed(source, target); /* its temporary file, or its name */
    if (t->kind == PLAT_KIND_NONE)
        act_plan(ACT_COPY_NEW, target);
    else
        act_plan(copy_same_content(source, target) ? ACT_REPLACE_SAME : ACT_REPLACE_CHANGED, target);
    act_note_copy(target, source);
    errno = 0;
    return 1;
}

/* A target that does not exist is written where nobody sees it and gets
 * its name only when complete, by a call that never replaces: nothing
 * older can be lost, and nothing half-written ever bears the name, not
 * even after a kill.  1 copied, 0 failed, -1 the name appeared meanwhile
 * (errno EEXIST) and nothing was done. */
static int copy_to_new(const char *source, const char *target, const plat_name *t)
{
    plat_file in, out;
    if (!plat_open_source(source, &in)) return copy_failed(source, target);
    plat_name temp;
    if (!open_temp(target, t, &in, &temp, &out)) return copy_undone(&in, source, target, errno);
    errno = 0; /* the source's permissions before any byte: nobody they keep out opens it meanwhile */
    int filled = (!temp.native[0] || plat_mode_from(&out, &in) == 0) && plat_copy_file(&in, &out) >= 0;
    int err = errno;
    if (filled) err = plat_publish_named(&out, &temp, t) == 0 ? 0 : errno ? errno : EIO;
    if (!filled) plat_file_close(&out);
    if (!filled || err) {
        plat_remove_named(&temp);
        if (!filled || err != EEXIST) return copy_undone(&in, source, target, err);
        plat_file_close(&in);
        return -1;
    }
    plat_sync_later(target);
    plat_file_close(&in);
    errno = 0;
    return 1;
}

/* Replaces the existing, looked-up target in one atomic replace: on any
 * failure the temporary file goes and the target stays as it was. */
static int copy_over(const char *source, const char *target, const plat_name *t)
{
    if (act_dry()) return plan_copy(source, target, t);
    char temp[TEMP_NAME_SIZE]; /* noted with the synced note of the file set aside */
    temp_name(temp, sizeof temp);
    if (!temp_noted(target, temp, t->kind == PLAT_KIND_FILE)) return copy_failed(source, target);
    if (t->kind == PLAT_KIND_FILE && !act_aside(target, t->native))
        return copy_failed(source, target); /* kept until the end */
    plat_file in;
    if (!plat_open_source(source, &in)) return copy_failed(source, target);
    plat_replacing r;
    if (!target_writable(target, t) || !begin_replace(&r, target, t, temp))
        return copy_undone(&in, source, target, errno);
    if (plat_copy_file(&in, &r.file) < 0) r.err = errno ? errno : EIO;
    if (plat_replace_commit(&r) != PLAT_REPLACE_DONE) return copy_undone(&in, source, target, r.err);
    act_made();
    plat_file_close(&in);
    errno = 0;
    return 1;
}

/* copy_to_new on a target looked up as missing; when it appeared
 * meanwhile, t is looked up again and the result is -1. */
static int copy_if_new(const char *source, const char *target, plat_name *t)
{
    if (act_dry()) return plan_copy(source, target, t);
    if (!act_journal(JOURNAL_MADE_FILE, target, nullptr)) return copy_failed(source, target);
    int made = copy_to_new(source, target, t);
    if (made == 1) act_made();
    if (made < 0) act_not_made(JOURNAL_MADE_FILE); /* another's file took the name: never ours to remove */
    if (made < 0) plat_look_up(target, t);         /* it appeared meanwhile */
    return made;
}

/* plat_look_up, or in a dry run what the plan has made of the path. */
/* What the plan made of the looked-up path t, in a dry run: a name
 * planned there is spelt as the plan spells it (found case-blind, as a
 * folder's listing finds it). */
static int planned_over(const char *path, plat_name *t)
{
    int kind = act_noted_kind(path);
    if (!act_dry() || kind < 0) return t->kind;
    const char *planned = act_noted_name(path);
    if (planned) text_copy(t->native, planned, sizeof t->native);
    return t->kind = kind;
}

static int look_up(const char *path, plat_name *t)
{
    int kind = plat_look_up(path, t);
    return act_dry() ? planned_over(path, t) : kind;
}

int copy_file(const char *source, const char *target)
{
    if (!source || !target) return 0;
    if (text_ends_with_backslash(source) || text_ends_with_backslash(target)) return 0; /* directories */
    plat_name t;
    int made = look_up(target, &t) == PLAT_KIND_NONE ? copy_if_new(source, target, &t) : -1;
    return made >= 0 ? made : copy_over(source, target, &t);
}

/* ---- keeping what a copy would replace ---- */

/* How the files of one copy step are written. */
struct copy_step {
    int backup;                    /* keep whatever a target held as "name.~N~" */
    path_set *kept;                /* canonical paths the run's backups wrote, or null */
    path_set wrote;                /* targets this step wrote, as spelled */
    char folder[TEXT_LINE_SIZE];   /* the target folder last made sure of */
    char canon_of[TEXT_LINE_SIZE]; /* the target folder last resolved, as spelled */
    char canon[PLAT_NATIVE_MAX];   /* its canonical form */
    char dir_of[TEXT_LINE_SIZE];   /* the target folder whose handle is open, as spelled */
    plat_folder *dir;              /* that handle, or null when it could not be listed */
};

/* Looks a target up in the handle of its folder, opened once for each
 * folder the step writes in; where none could be opened, by its path. */
static int step_look_up(copy_step *c, const char *target, plat_name *t)
{
    char folder[TEXT_LINE_SIZE];
    if (!folder_part(target, folder)) text_copy(folder, ".\\", sizeof folder);
    if (strcmp(folder, c->dir_of) != 0) {
        plat_folder_close(c->dir);
        c->dir = plat_folder_open(folder, 0);
        text_copy(c->dir_of, folder, sizeof c->dir_of);
    }
    const char *leaf = leaf_of(target);
    if (!c->dir && act_dry() && act_noted_kind(folder) == PLAT_KIND_DIR) { /* a folder only the plan made */
        *t = plat_name{PLAT_KIND_NONE, 0, "", nullptr, 0, 0, 0};
        if (!act_planned_name(target, t->native, sizeof t->native)) t->native[0] = '\0', t->error = ENAMETOOLONG;
        return planned_over(target, t);
    }
    if (!c->dir || !*leaf || strchr(leaf, '/') || strcmp(leaf, ".") == 0 || strcmp(leaf, "..") == 0)
        return look_up(target, t);
    plat_folder_look_up(c->dir, leaf, t); /* the folder as listed, then what the plan made of it */
    return planned_over(target, t);
}

/* The one name of a target's folder whatever spells it: its identity
 * (device and file number), so that a folder mounted a second time is the
 * same folder; its canonical form where it has none yet, not kept. */
static int folder_key(copy_step *c, const char *folder)
{
    plat_identity id;
    if (!plat_canonical_path(folder, c->canon, sizeof c->canon)) return 0;
    if (act_noted_kind(folder) == PLAT_KIND_DIR) /* one only the plan made: its form is its name for good */
        return text_copy(c->canon_of, folder, sizeof c->canon_of), 1;
    if (plat_syscall_table()->name_identity(c->canon, &id) != 0 || id.index == 0) return 1;
    snprintf(c->canon, sizeof c->canon, "#%lld:%lld", id.device, id.index);
    text_copy(c->canon_of, folder, sizeof c->canon_of);
    return 1;
}

/* The one name of a target, for the run's set of files its backups wrote:
 * its folder is resolved once per folder of the step, since resolving
 * every name of a path costs a look-up per name for each file. */
static int canonical_target(copy_step *c, const char *target, const char *tnative, char *out, int size)
{
    char folder[TEXT_LINE_SIZE];
    if (!folder_part(target, folder)) text_copy(folder, ".\\", sizeof folder);
    if (strcmp(folder, c->canon_of) != 0) {
        c->canon_of[0] = '\0';
        if (!folder_key(c, folder)) return 0;
    }
    return plat_canonical_child(c->canon, target, tnative, out, size);
}

/* 1 when the file path holds exactly the len bytes text. */
static int holds_text(const char *path, const char *text, size_t len)
{
    char buf[COMPARE_BLOCK];
    FILE *f = plat_fopen(path, "rb");
    size_t at = 0, n = 0;
    int same = f != nullptr;
    while (same && (n = plat_fread(buf, 1, sizeof buf, f)) > 0) {
        same = at + n <= len && memcmp(buf, text + at, n) == 0;
        at += n;
    }
    same = same && at == len && !ferror(f);
    if (f) plat_fclose(f);
    return same;
}

/* Two files' bytes as a dry run plans them (a file planned as a copy, or
 * rewritten, holds its planned bytes). */
static int planned_same_content(const char *a, const char *b)
{
    const char *ta, *tb;
    size_t la, lb;
    const char *ra = act_content(a, &ta, &la), *rb = act_content(b, &tb, &lb);
    if (ta && tb) return la == lb && memcmp(ta, tb, la) == 0;
    if (ta || tb) return holds_text(ta ? rb : ra, ta ? ta : tb, ta ? la : lb);
    return (strcmp(ra, a) != 0 || strcmp(rb, b) != 0) ? copy_same_content(ra, rb) : -1;
}

int copy_same_content(const char *a, const char *b)
{
    char ba[COMPARE_BLOCK], bb[COMPARE_BLOCK];
    int planned = act_dry() ? planned_same_content(a, b) : -1;
    if (planned >= 0) return planned;
    FILE *fa = plat_fopen(a, "rb"), *fb = plat_fopen(b, "rb");
    int same = fa && fb;
    while (same) {
        size_t na = plat_fread(ba, 1, sizeof ba, fa), nb = plat_fread(bb, 1, sizeof bb, fb);
        same = na == nb && memcmp(ba, bb, na) == 0 && !ferror(fa) && !ferror(fb);
        if (na < sizeof ba) break; /* both ended together, or they differ */
    }
    if (fa) plat_fclose(fa);
    if (fb) plat_fclose(fb);
    return same;
}

/* How a file is kept under a numbered name: by a rename within its folder,
 * or beside it.  Either never replaces, and fails with EEXIST when the
 * name was taken meanwhile. */
typedef int (*keep_call)(plat_folder *dir, const char *path, const char *kept);

/* Keeps path, a name in the folder dir, under the next numbered name by
 * keep; when that name was taken meanwhile (or by the plan), the next
 * number is tried. */
static int keep_numbered(plat_folder *dir, const char *path, char *kept, int size, keep_call keep)
{
    unsigned long long n = plat_folder_next_kept(dir, leaf_of(path));
    for (int tries = 0; tries < KEEP_TRIES; tries++, n++) {
        int len = snprintf(kept, size, "%s.~%llu~", path, n);
        if (len < 0 || len >= size) {
            errno = ENAMETOOLONG;
            return 0;
        }
        if (keep(dir, path, kept) != 0) {
            if (errno == EEXIST) continue;
            return 0;
        }
        log_info("copy_file: kept %s as %s", path, kept);
        return 1;
    }
    errno = EEXIST;
    return 0;
}

/* In a dry run a file is kept in the plan only, under a name the plan
 * has not taken already. */
static int plan_keep(const char *path, const char *kept, int renamed)
{
    if (act_kind(kept) != PLAT_KIND_NONE) return errno = EEXIST, -1;
    if (act_may_change(kept) != 0) return -1;
    act_plan(ACT_KEEP, path, kept);
    act_note_copy(kept, path);
    if (renamed) act_note(path, PLAT_KIND_NONE);
    return 0;
}

/* The outcome of a keep noted as op: made, or never made (a name taken
 * meanwhile is another's file, never one to put back). */
static int keep_done(int op, int r)
{
    if (r == 0) act_made();
    if (r != 0 && errno == EEXIST) act_not_made(op);
    return r;
}

static int keep_renamed(plat_folder *dir, const char *path, const char *kept)
{
    if (act_dry()) return plan_keep(path, kept, 1);
    if (!act_journal(JOURNAL_RENAMED, path, kept)) return -1;
    int r = dir && !strchr(leaf_of(path), '/') ? plat_folder_rename_new(dir, leaf_of(path), leaf_of(kept))
                                               : plat_rename_new(path, kept);
    return keep_done(JOURNAL_RENAMED, r);
}

/* keep_numbered with a handle of path's folder opened for the purpose. */
static int keep_in_own_folder(const char *path, char *kept, int size, keep_call keep)
{
    char folder[TEXT_LINE_SIZE];
    if (!folder_part(path, folder)) text_copy(folder, ".\\", sizeof folder);
    plat_folder *dir = plat_folder_open(folder, 0);
    int ok = keep_numbered(dir, path, kept, size, keep);
    int err = errno;
    plat_folder_close(dir);
    errno = err;
    return ok;
}

int copy_keep_numbered(const char *path, char *kept, int size)
{
    return keep_in_own_folder(path, kept, size, keep_renamed);
}

/* A second name for the file where the file system has links, else a
 * copy, made only where no file is (EEXIST otherwise). */
static int link_or_copy(const char *path, const char *kept)
{
    if (plat_link(path, kept) == 0) return 0;
    if (errno == EEXIST) return -1;
    plat_name k;
    if (plat_look_up(kept, &k) != PLAT_KIND_NONE) {
        errno = EEXIST;
        return -1;
    }
    int made = copy_to_new(path, kept, &k);
    if (made < 0) errno = EEXIST;
    return made == 1 ? 0 : -1;
}

static int keep_beside(plat_folder *, const char *path, const char *kept)
{
    if (act_dry()) return plan_keep(path, kept, 0);
    if (!act_journal(JOURNAL_MADE_FILE, kept, nullptr)) return -1;
    return keep_done(JOURNAL_MADE_FILE, link_or_copy(path, kept));
}

int copy_keep_numbered_beside(const char *path, char *kept, int size)
{
    return keep_in_own_folder(path, kept, size, keep_beside);
}

/* The checks below take the target's native path, mapped once per file
 * (tnative, or null when it could not be mapped: then none of them holds). */
static int written_by_backup(copy_step *c, const char *target, const char *tnative)
{
    char canonical[PLAT_NATIVE_MAX];
    if (!c->kept || c->kept->count == 0 || !canonical_target(c, target, tnative, canonical, sizeof canonical)) return 0;
    const char *found = path_set_find(c->kept, canonical);
    return found && plat_native_equal(found, canonical);
}

/* 1 when an earlier file of this step was written to the file target names
 * (on POSIX, two sources whose names differ only in case meet in one). */
static int written_this_step(const copy_step *c, const char *target, const char *tnative)
{
    const char *earlier = path_set_find(&c->wrote, target);
    if (!earlier || !tnative) return 0;
    char a[PLAT_NATIVE_MAX];
    return plat_native_path(earlier, a, sizeof a) && plat_native_equal(a, tnative);
}

/* 1 when source and the target name one file: copying it onto itself
 * changes nothing (and could not replace a file that is open for reading
 * on Windows). */
static int same_file(const char *source, const char *tnative) { return tnative && plat_names_native(source, tnative); }

/* Notes a target this step has written; a backup's files are noted in
 * the run's set. */
static int note_written(copy_step *c, const char *target, const char *tnative)
{
    char canonical[PLAT_NATIVE_MAX]; /* one name for every spelling: short names, other drive letters */
    path_set_add(&c->wrote, target);
    if (c->backup && c->kept && canonical_target(c, target, tnative, canonical, sizeof canonical))
        path_set_add(c->kept, canonical);
    return 1;
}

/* A backup saves a link as a link to the same place, never what it points
 * to; where the system cannot make one, the log records it instead. */
static int backup_link(copy_step *c, const char *source, const char *target, const char *tnative)
{
    errno = 0;
    if (act_dry()) {
        act_plan(ACT_COPY_NEW, target);
        act_note(target, PLAT_KIND_OTHER);
        return note_written(c, target, tnative);
    }
    if (!act_journal(JOURNAL_MADE_FILE, target, nullptr)) return copy_failed(source, target);
    if (plat_copy_link(source, target) == 0) return note_written(c, target, tnative);
    if (errno != ENOSYS) return copy_failed(source, target);
    log_info("copy_file: %s is a link, which cannot be saved in %s", source, target);
    return 1;
}

/* Copies one file of a step.  Two sources never land silently on one
 * target, and a file a backup wrote is kept under a numbered name before
 * anything replaces it (an identical one simply stays). */
static int copy_step_file(copy_step *c, const char *source, const char *target)
{
    int link = c->backup && plat_is_link(source);
    plat_name t;
    int kind = step_look_up(c, target, &t);
    if (kind == PLAT_KIND_NONE && !link) { /* a new target needs none of the checks below */
        int made = copy_if_new(source, target, &t);
        if (made >= 0) return made && note_written(c, target, t.native);
        kind = t.kind;
    }
    const char *tnative = kind != PLAT_KIND_NONE && t.native[0] ? t.native : nullptr;
    if (kind != PLAT_KIND_NONE && same_file(source, tnative))
        return note_written(c, target, tnative); /* already there */
    if (kind != PLAT_KIND_NONE && !c->backup && written_this_step(c, target, tnative)) {
        act_error("copy_file: could not copy %s to %s: another file of this step was copied there", source, target);
        return 0;
    }
    if (kind != PLAT_KIND_NONE && (c->backup || written_by_backup(c, target, tnative))) {
        if (!link && kind == PLAT_KIND_FILE && copy_same_content(source, target))
            return note_written(c, target, tnative);
        char kept[TEXT_LINE_SIZE];
        if (!keep_numbered(c->dir, target, kept, sizeof kept, keep_renamed)) return copy_failed(source, target);
        kind = step_look_up(c, target, &t); /* kept under its numbered name: the target is free */
    }
    if (link) return backup_link(c, source, target, t.native);
    int copied = kind == PLAT_KIND_NONE ? copy_if_new(source, target, &t) : -1;
    if (copied < 0) copied = copy_over(source, target, &t);
    return copied && note_written(c, target, t.native);
}

/* ---- copying a tree ---- */

/* 1 for the names the installer gives its own temporary files,
 * "~qcp<number>_<number>.tmp". */
static int own_temp_name(const char *name)
{
    const char *p = name + strlen(TEMP_PREFIX);
    if (strncmp(name, TEMP_PREFIX, strlen(TEMP_PREFIX)) != 0 || !isdigit((unsigned char)*p)) return 0;
    while (isdigit((unsigned char)*p)) p++;
    if (*p++ != '_' || !isdigit((unsigned char)*p)) return 0;
    while (isdigit((unsigned char)*p)) p++;
    return strcmp(p, ".tmp") == 0;
}

/* Removes, and logs, what a killed run left in a folder a step writes:
 * files bearing the installer's own temporary names. */
static void remove_leftovers(const char *dir)
{
    char pattern[TEXT_LINE_SIZE], path[TEXT_LINE_SIZE];
    plat_find_entry entry;
    plat_find *find = path_join_raw(pattern, sizeof pattern, dir, "*") ? plat_find_first(pattern, &entry, 0) : nullptr;
    for (int more = find != nullptr; more; more = plat_find_next(find, &entry)) {
        if (entry.attrib == PLAT_ATTR_DIRECTORY || !own_temp_name(entry.name)) continue;
        if (!path_join_raw(path, sizeof path, dir, entry.name)) continue;
        if (act_dry())
            act_plan(ACT_CLEAN_UP, path);
        else if (act_remove(path) == 0)
            log_info("copy_file: removed %s, left over by an interrupted run", path);
        else
            act_error("copy_file: could not remove %s, left over by an interrupted run {%d=%s}", path, errno,
                      strerror(errno));
    }
    if (find) plat_find_close(find);
    errno = 0;
}

/* A folder a backup makes is no more open than the one it saves. */
static void backup_dir_made(const copy_step *c, int made, const char *dir, const char *source_dir)
{
    if (c->backup && made == 1 && !act_dry() && plat_dir_mode_from(dir, source_dir) != 0)
        act_error("could not limit the permissions of %s to those of %s {%d=%s}", dir, source_dir, errno,
                  strerror(errno));
}

/* A file found in a subfolder the mask did not select still needs that
 * folder below the destination: makes it once per folder. */
static void make_folder_of(copy_step *c, const char *item, const char *target)
{
    char folder[TEXT_LINE_SIZE], source_folder[TEXT_LINE_SIZE];
    if (!folder_part(target, folder) || strcmp(folder, c->folder) == 0) return;
    text_copy(c->folder, folder, sizeof c->folder);
    if (act_kind(folder) == PLAT_KIND_DIR) return;
    int made = mkdir_path(folder, MKDIR_WITH_PARENTS);
    if (folder_part(item, source_folder)) backup_dir_made(c, made, folder, source_folder);
}

/* Makes the target folder of a walked folder; one that was there already
 * loses a killed run's leftovers.  0 when it could not be made. */
static int make_target_dir(copy_step *c, const char *item, const char *target)
{
    int made = mkdir_path(target, MKDIR_ALONE);
    if (made == 0) return 0;
    backup_dir_made(c, made, target, item);
    if (made < 0) remove_leftovers(target);
    return 1;
}

/* Copies one walked item to the same place below dest.  Returns 0 only
 * when a directory could not be created, which ends the whole copy; a file
 * that could not be copied adds one to *failed and the copy goes on. */
static int copy_item(copy_step *c, const char *item, const char *dest, size_t src_len, int recurse, int *counter,
                     int *failed)
{
    char target[TEXT_LINE_SIZE];
    int len = snprintf(target, sizeof target, "%s%s", dest, item + src_len);
    int fits = len >= 0 && len < (int)sizeof target;
    int is_dir = text_ends_with_backslash(item);
    if (is_dir && recurse && (!fits || !make_target_dir(c, item, target))) {
        act_error("could not create directory %s", target);
        return 0;
    }
    if (!is_dir && !fits) act_error("copy_file: could not copy %s: target name too long", item);
    if (!is_dir && fits && recurse) make_folder_of(c, item, target);
    int copied = (fits && !is_dir) ? copy_step_file(c, item, target) : 0;
    if (!is_dir && !copied) (*failed)++;
    if (counter) *counter += copied;
    act_dot();
    plat_discard_typeahead();
    return 1;
}

/* Puts dir with a trailing backslash into buf (512 bytes); false when it
 * does not fit whole. */
static int dir_with_backslash(char *buf, const char *dir)
{
    text_copy(buf, path_join(dir, nullptr), TEXT_PATH_SIZE);
    return buf[0] == '\0' || text_ends_with_backslash(buf);
}

/* 1 when the mask names one file rather than choosing by wildcards. */
static int single_name(const char *mask) { return strpbrk(mask, "*?[") == nullptr; }

/* A step whose source is missing copies nothing and must say so: its
 * source folder must exist.  For a backup a missing folder holds nothing
 * to save, which is no failure. */
static int source_present(const char *s, const char *pattern, int backup)
{
    char start[TEXT_PATH_SIZE];
    const char *dir = dir_part(path_join(s, pattern));
    text_copy(start, dir ? dir : s, sizeof start);
    if (act_kind(start) != PLAT_KIND_NONE) return 1; /* a linked or mounted folder is there too */
    if (backup) return -1;
    act_error("copy_tree: source folder %s does not exist", start);
    return 0;
}

static int copy_tree_as(const char *dest, const char *source, const char *pattern, int recurse, int *counter,
                        int backup, path_set *kept)
{
    char d[TEXT_PATH_SIZE], s[TEXT_PATH_SIZE];
    if (!dest || !pattern) return 0;
    if (!dir_with_backslash(d, dest) || !dir_with_backslash(s, source)) {
        act_error("could not create directory %s", dest);
        return 0; /* a cut path would copy elsewhere */
    }
    if (s[0] == '\0') text_copy(s, ".\\", TEXT_PATH_SIZE);
    int present = source_present(s, pattern, backup);
    if (present <= 0) return present < 0; /* nothing to save is no failure */
    copy_step c = {backup, kept, {nullptr, 0, 0}, "", "", "", "", nullptr};
    backup_dir_made(&c, mkdir_path(d, MKDIR_WITH_PARENTS), d, s);
    remove_leftovers(d);
    size_t n = strlen(s);
    static_list items;
    int flags = WALK_FILES | WALK_DIRS | (backup ? WALK_MISREAD : 0); /* a backup saves such a name too */
    int whole = dir_walk(&items, s, pattern, flags, recurse); /* else what it missed is lost */
    int ok = 1, failed = 0, files = 0;
    static_rewind(&items);
    char *item;
    while (ok && (item = (char *)static_next(&items))) {
        const char *name = base_name(item, BASE_KEEP_EXT);
        if (strncmp(item, s, n) != 0 || own_temp_name(name) || journal_aside_named(name))
            continue; /* not below s, a leftover, or a file this run set aside */
        files += !text_ends_with_backslash(item);
        ok = copy_item(&c, item, d, n, recurse, counter, &failed);
    }
    static_free(&items);
    path_set_free(&c.wrote);
    plat_folder_close(c.dir);
    const char *mask = base_name(pattern, BASE_KEEP_EXT);
    if (ok && files == 0 && !backup && single_name(mask)) {
        act_error("copy_tree: %s not found in %s", mask, s);
        return 0;
    }
    return ok && whole && failed == 0; /* a step that lost a file failed, though the rest went on */
}

/* The step's entries reach the disk, or the full disk is reported. */
static int step_done(int result)
{
    log_flush(log_current());
    return result;
}

int copy_tree(const char *dest, const char *source, const char *pattern, int recurse, int *counter, path_set *kept)
{
    return step_done(copy_tree_as(dest, source, pattern, recurse, counter, 0, kept));
}

int copy_tree_backup(const char *dest, const char *source, const char *pattern, int recurse, int *counter,
                     path_set *kept)
{
    return step_done(copy_tree_as(dest, source, pattern, recurse, counter, 1, kept));
}
