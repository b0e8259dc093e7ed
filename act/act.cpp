/* The acting layer: real runs act, dry runs plan.
 *
 * A dry run plans each change and notes it in the overlay
 * (act_overlay.cpp), which later steps ask instead of the disk.  Not for
 * deciding what to do: the callers decide, exactly as in a real run.
 */
#include "act/act.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/log.h"

#include "act/journal.h"
#include "platform/folder.h"
#include "text/text.h"

struct plan_form {
    const char *before, *between, *after;
};
/* Indexed by act_line: before the path, before the other name, at the end. */
static const plan_form FORMS[] = {
    {"create folder ", "", ""},
    {"copy new ", "", ""},
    {"replace ", "", " (identical)"},
    {"replace ", "", " (changed locally)"},
    {"keep ", " as ", ""},
    {"remove ", "", ""},
    {"remove folder ", "", ""},
    {"clean up ", "", ""},
    {"error: ", "", ""},
    {"rewrite ", "", ""},
    {"- ", "", ""},
    {"+ ", "", ""},
};

static int dry;
static int rollback_asked; /* the run planned is all or nothing */
static int removed;
static plat_syscalls saved;

/* ---- the fence ---- */

static FILE *refuse_fopen(const char *native, const char *mode)
{
    if (!strpbrk(mode, "wax+")) return saved.fopen(native, mode); /* reading changes nothing */
    errno = EROFS;
    return nullptr;
}
static int refuse_path(const char *) { return errno = EROFS, -1; }
static int refuse_two(const char *, const char *) { return errno = EROFS, -1; }
static int refuse_link_unnamed(plat_file *, int, const char *) { return errno = EROFS, -1; }
#ifndef _WIN32
static int refuse_unlink_at(int, const char *, int) { return errno = EROFS, -1; }
static int refuse_rename_at(int, const char *, const char *, int) { return errno = EROFS, -1; }
static int refuse_open_new_at(int, const char *) { return errno = EROFS, -1; }
#endif
static int refuse_unnamed(int, const char *, unsigned, plat_file *) { return errno = EROFS, -1; }

static void fence(int on)
{
    plat_syscalls *s = plat_syscall_table();
    if (!on) {
        *s = saved;
        return;
    }
    saved = *s;
    s->fopen = refuse_fopen;
    s->remove = s->mkdir = s->rmdir = refuse_path;
    s->rename = s->link = s->move_new = s->dir_mode_from = refuse_two;
    s->open_unnamed = refuse_unnamed;
    s->link_unnamed = refuse_link_unnamed;
#ifndef _WIN32
    s->symlink = refuse_two;
    s->unlink_at = refuse_unlink_at;
    s->rename_at = refuse_rename_at;
    s->open_new_at = refuse_open_new_at;
#endif
}

void act_set_dry(int on)
{
    if (on == dry) return;
    dry = on;
    fence(on);
}

int act_dry() { return dry; }

void act_unfence()
{
    if (dry) fence(0);
}

/* ---- the plan ---- */

void act_plan(int form, const char *path, const char *other)
{
    if (!dry || form < 0 || form > ACT_NEW_LINE) return;
    const plan_form &f = FORMS[form];
    char shown[TEXT_LINE_SIZE], kept[TEXT_LINE_SIZE]; /* no name drives the terminal */
    if (path[0] == '.' && path[1] == '\\') path += 2; /* the distribution's own files by their name */
    log_escape(shown, sizeof shown, path);
    log_escape(kept, sizeof kept, other ? other : "");
    plat_printf("%s%s%s%s%s\n", f.before, shown, other ? f.between : "", kept, f.after);
    if (form == ACT_REMOVE) removed++;
}

void act_plan_rollback(int on) { rollback_asked = on; }

void act_closing(int copied, int backed_up, int errors)
{
    plat_printf("\n%d files would be copied\n%d files would be backed up\n", copied, backed_up);
    plat_printf("%d files would be removed\n%d errors foreseen\n", removed, errors);
    if (rollback_asked && errors) /* as the real run would end */
        plat_out("Rollback: with these errors every change above would be put back, and none kept\n");
    plat_out("Dry run: nothing was changed.\n\n");
}

void act_clear()
{
    act_overlay_clear();
    removed = rollback_asked = 0;
    act_set_dry(0);
}

/* ---- folders and files ---- */

/* The kind of the folder holding path (a trailing separator ignored);
 * PLAT_KIND_DIR for a path with no folder part, or one right below a root. */
/* The folder holding path (a trailing separator ignored) into folder
 * (TEXT_PATH_SIZE bytes), ".\" when it has no folder part; the length of
 * that folder part, 0 for none. */
static size_t folder_of(const char *path, char *folder)
{
    text_copy(folder, path, TEXT_PATH_SIZE);
    size_t n = strlen(folder);
    while (n > 0 && (folder[n - 1] == '\\' || folder[n - 1] == '/')) folder[--n] = '\0';
    while (n > 0 && folder[n - 1] != '\\' && folder[n - 1] != '/' && folder[n - 1] != ':') folder[--n] = '\0';
    if (n == 0) text_copy(folder, ".\\", TEXT_PATH_SIZE);
    return n;
}

static int parent_kind(const char *path)
{
    char parent[TEXT_PATH_SIZE];
    return folder_of(path, parent) == 0 ? PLAT_KIND_DIR : act_kind(parent);
}

int act_may_change(const char *path)
{
    char folder[TEXT_PATH_SIZE];
    if (rollback_asked && strpbrk(path, "\t\r\n")) return errno = EINVAL, -1; /* no journal line holds it */
    folder_of(path, folder);
    if (act_noted_kind(folder) == PLAT_KIND_DIR) return 0; /* one the plan makes is the run's own */
    int planned = act_kind(folder);
    if (planned != PLAT_KIND_DIR) return errno = planned == PLAT_KIND_NONE ? ENOENT : ENOTDIR, -1;
    return plat_may_write_in(folder);
}

/* Plans form on the folder path, shown with its one backslash, and notes
 * what the plan makes of it.  0, as the call it stands for. */
static int plan_folder(int form, const char *path, int kind)
{
    char shown[TEXT_PATH_SIZE];
    text_copy(shown, path, sizeof shown);
    if (!text_ends_with_backslash(shown)) text_append(shown, "\\", sizeof shown);
    act_plan(form, shown);
    act_note(path, kind);
    return 0;
}

/* A folder made in a run that can be put back is noted first; one that is
 * there already is no change. */
static int mkdir_noted(const char *path)
{
    if (!journal_active()) return plat_mkdir(path);
    if (plat_path_kind(path) != PLAT_KIND_NONE) return errno = EEXIST, -1;
    if (!act_journal(JOURNAL_MADE_DIR, path, nullptr)) return -1;
    int r = plat_mkdir(path);
    if (r == 0) act_made();
    return r;
}

int act_mkdir(const char *path)
{
    if (!dry) return mkdir_noted(path);
    if (act_kind(path) != PLAT_KIND_NONE) return errno = EEXIST, -1;
    if (parent_kind(path) != PLAT_KIND_DIR) return errno = ENOENT, -1;
    if (act_may_change(path) != 0) return -1;
    return plan_folder(ACT_CREATE_FOLDER, path, PLAT_KIND_DIR);
}

/* In a dry run a file (or link) goes in the plan only.  0, as the call. */
static int plan_remove(const char *path)
{
    if (act_may_change(path) != 0) return -1;
    act_plan(ACT_REMOVE, path);
    act_note(path, PLAT_KIND_NONE);
    return 0;
}

/* A file removed by an all-or-nothing run is renamed aside instead, so
 * that it can be put back: path (the name in the open folder f, where f is
 * given) takes a name aside, noted first.  0, or -1 with errno. */
static int moved_aside(const char *path, plat_folder *f, const char *name)
{
    char aside[TEXT_PATH_SIZE];
    if (!journal_aside_name(path, aside, sizeof aside) || !journal_note(JOURNAL_ASIDE, path, aside)) return -1;
    const char *leaf = strrchr(aside, '\\');
    if ((f ? plat_folder_rename_new(f, name, leaf ? leaf + 1 : aside) : plat_rename_new(path, aside)) != 0) {
        journal_not_made(JOURNAL_ASIDE); /* a name aside taken meanwhile is another's file */
        return -1;
    }
    journal_made(); /* nothing left at path: a file put there later is never renamed over */
    return 0;
}

/* The same for a file named by its path alone; never a folder. */
static int remove_aside(const char *path)
{
    if (plat_path_kind(path) == PLAT_KIND_DIR) return errno = EISDIR, -1; /* a file or link, never a folder */
    return moved_aside(path, nullptr, nullptr);
}

int act_remove(const char *path)
{
    if (!dry) return act_rollback_on() ? remove_aside(path) : plat_remove(path);
    if (act_kind(path) != PLAT_KIND_FILE) return errno = ENOENT, -1;
    return plan_remove(path);
}

/* ---- all or nothing ---- */

static const char JOURNAL[] = "install.jnl"; /* in the distribution folder; no clean-up pattern takes it */
static void journal_report(const char *what, const char *native, int err)
{
    log_error("rollback: %s: %s {%d=%s}", what, native, err, strerror(err));
}

int act_rollback_on() { return !dry && journal_active(); }

int act_journal(int op, const char *a, const char *b) { return act_rollback_on() ? journal_note(op, a, b) : 1; }

void act_made()
{
    if (act_rollback_on()) journal_made();
}

void act_not_made(int op)
{
    if (act_rollback_on()) journal_not_made(op); /* errno kept */
}

int act_aside(const char *path, const char *native) { return act_rollback_on() ? journal_set_aside(path, native) : 1; }

int act_remove_in(plat_folder *f, const char *path, const char *name)
{
    if (dry) return plan_remove(path);
    return act_rollback_on() ? moved_aside(path, f, name) : plat_folder_remove(f, name, 0);
}

/* Says how many changes a put-back left; the journal was kept for a look. */
static void say_not_put_back(int failed)
{
    if (failed)
        log_report("%d changes could not be put back (see install.log); the journal is kept as %s.failed (or the "
                   "next free .failed.N, named in the log)",
                   failed, JOURNAL);
}

int act_recover()
{
    int failed = 0;
    int back = journal_recover(JOURNAL, &failed, journal_report);
    if (back < 0) return 0;
    log_report_info("An earlier run was ended before it was done: %d of its changes were put back", back);
    say_not_put_back(failed);
    return failed;
}

int act_rollback_start()
{
    if (journal_start(JOURNAL)) return 1;
    log_report("rollback: cannot start the journal %s: %s", JOURNAL, strerror(errno));
    return 0;
}

int act_run_ends(int ok)
{
    if (!act_rollback_on()) return 1;
    int kept = ok ? journal_commit(journal_report) : -1;
    if (kept > 0) return 1;
    if (kept == 0 || kept == -2) {
        log_report(kept ? "rollback: the journal could not be written; the next start puts the run back or keeps it"
                        : "rollback: the run is kept, but not all it set aside went");
        return 0;
    }
    if (ok) log_report("rollback: the journal could not be marked kept, so the run is put back");
    int failed = 0;
    int back = journal_rollback(&failed, journal_report);
    log_report_info("Rollback: %d changes of this run were put back, nothing it did is kept", back);
    say_not_put_back(failed);
    return !ok;
}

/* 1 when something in the folder path is not planned away. */
static int holds_anything(const char *path)
{
    char item[TEXT_PATH_SIZE];
    plat_folder *f = plat_folder_open(path, 0);
    unsigned at = 0, attrib;
    int held = 0;
    for (const char *name; f && !held && (name = plat_folder_next(f, &at, &attrib));) {
        int fits = snprintf(item, sizeof item, "%s%s%s", path, text_ends_with_backslash(path) ? "" : "\\", name);
        held = (attrib & PLAT_ATTR_UNNAMED) || fits >= (int)sizeof item || act_kind(item) != PLAT_KIND_NONE;
    }
    plat_folder_close(f);
    return held;
}

int act_rmdir(const char *path)
{
    if (!dry && act_rollback_on()) /* it holds files kept aside: it goes once they are gone */
        return act_journal(JOURNAL_LATER, path, nullptr) ? 0 : -1;
    if (!dry) return plat_rmdir(path);
    if (act_kind(path) != PLAT_KIND_DIR) return errno = ENOENT, -1;
    if (holds_anything(path)) return errno = ENOTEMPTY, -1;
    if (act_may_change(path) != 0) return -1;
    return plan_folder(ACT_REMOVE_FOLDER, path, PLAT_KIND_NONE);
}

/* The message of act_error (logged) or act_report (reported, on the
 * console too), in a dry run an error line of the plan as well. */
static void tell(int report, const char *fmt, va_list ap)
{
    char msg[TEXT_LINE_SIZE];
    vsnprintf(msg, sizeof msg, fmt, ap);
    if (!report)
        log_error("%s", msg);
    else if (!dry)
        log_report("%s", msg);
    act_plan(ACT_ERROR, msg); /* nothing outside a dry run */
}

void act_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    tell(0, fmt, ap);
    va_end(ap);
}

void act_report(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    tell(1, fmt, ap);
    va_end(ap);
}

void act_dot()
{
    if (!dry) plat_out(".");
}

int act_probe_create(const char *path)
{
    if (!dry) return plat_probe_create(path);
    if (parent_kind(path) != PLAT_KIND_DIR) return errno = ENOENT, 0;
    if (act_kind(path) != PLAT_KIND_NONE) return errno = EEXIST, 0;
    return 1;
}

/* ---- rewriting a text file ---- */

int act_rewrite_begin(act_rewrite *w, const char *target, const char *temp, unsigned flags)
{
    memset(w, 0, sizeof *w);
    if (dry) { /* the new text is kept in memory, for the plan */
        int kind = act_kind(target);
        if (kind == PLAT_KIND_OTHER || kind == PLAT_KIND_DIR) return errno = EINVAL, 0; /* as the real one refuses */
        if (act_may_change(temp) != 0) return 0;                                     /* its temporary file */
        w->real.target = target;
        w->real.temp = temp;
        w->real.flags = flags;
        return 1;
    }
    if (!act_journal(JOURNAL_TEMP, temp, nullptr)) return 0;
    if (plat_replace_begin(&w->real, target, temp, flags)) return 1;
    act_not_made(JOURNAL_TEMP); /* no temporary file was made */
    return 0;
}

int act_rewrite_write(act_rewrite *w, const void *bytes, size_t len)
{
    if (!dry) return plat_replace_write(&w->real, bytes, len);
    if (w->failed) return 0;
    if (w->len + len + 1 > w->cap) {
        size_t cap = (w->len + len + 1) * 2;
        char *grown = (char *)realloc(w->text, cap);
        if (!grown) return w->failed = 1, 0;
        w->text = grown;
        w->cap = cap;
    }
    memcpy(w->text + w->len, bytes, len);
    w->len += len;
    w->text[w->len] = '\0';
    return 1;
}

void act_rewrite_abort(act_rewrite *w)
{
    if (!dry) return plat_replace_abort(&w->real);
    free(w->text);
    w->text = nullptr;
}

/* Splits text in place into its lines (line ends and a CR before them
 * dropped); a heap array of *count pointers, or null. */
static char **split_lines(char *text, int *count)
{
    int n = 0;
    for (char *p = text; *p; p++) n += *p == '\n';
    char **lines = (char **)malloc(((size_t)n + 1) * sizeof *lines);
    *count = 0;
    if (!lines) return nullptr;
    for (char *p = text; *p;) {
        char *end = strchr(p, '\n');
        if (end) *end = '\0';
        size_t len = strlen(p);
        if (len > 0 && p[len - 1] == '\r') p[len - 1] = '\0';
        lines[(*count)++] = p;
        p = end ? end + 1 : p + len;
    }
    return lines;
}

/* From a[i] and b[j], the fewest lines to skip in each (*da, *db) before
 * both read the same line again; all that is left when they never do. */
static void next_common(char **a, int na, int i, char **b, int nb, int j, int *da, int *db)
{
    for (int d = 1; d <= (na - i) + (nb - j); d++)
        for (int x = 0; x <= d; x++)
            if (i + x < na && j + d - x < nb && strcmp(a[i + x], b[j + d - x]) == 0) {
                *da = x;
                *db = d - x;
                return;
            }
    *da = na - i;
    *db = nb - j;
}

/* Plans the lines of a that b lacks and those b adds, in file order. */
static void plan_diff(char **a, int na, char **b, int nb)
{
    int i = 0, j = 0, da, db;
    while (i < na || j < nb) {
        if (i < na && j < nb && strcmp(a[i], b[j]) == 0) {
            i++, j++;
            continue;
        }
        next_common(a, na, i, b, nb, j, &da, &db);
        for (int k = 0; k < da; k++) act_plan(ACT_OLD_LINE, a[i + k]);
        for (int k = 0; k < db; k++) act_plan(ACT_NEW_LINE, b[j + k]);
        i += da, j += db;
    }
}

/* The whole file at path as text, or null; read through a dry rewrite's
 * buffer. */
static char *read_all(const char *path)
{
    FILE *f = plat_fopen(path, "rb");
    if (!f) return nullptr;
    act_rewrite buf = {};
    char block[4096];
    size_t n;
    while ((n = plat_fread(block, 1, sizeof block, f)) > 0) act_rewrite_write(&buf, block, n);
    plat_fclose(f);
    if (!buf.failed && !buf.text) return text_dup("");
    if (buf.failed) free(buf.text);
    return buf.failed ? nullptr : buf.text;
}

/* In a run that can be put back, the file replaced keeps a second name
 * aside until the run ends. */
static int commit_kept(act_rewrite *w)
{
    const char *t = w->real.target;
    int noted =
        plat_path_kind(t) == PLAT_KIND_FILE ? act_aside(t, nullptr) : act_journal(JOURNAL_MADE_FILE, t, nullptr);
    if (!noted) {
        plat_replace_abort(&w->real);
        return PLAT_REPLACE_RENAME;
    }
    int step = plat_replace_commit(&w->real);
    if (step == PLAT_REPLACE_DONE) act_made();
    return step;
}

int act_rewrite_commit(act_rewrite *w)
{
    if (!dry) return act_rollback_on() ? commit_kept(w) : plat_replace_commit(&w->real);
    char *old = read_all(w->real.target);
    if (!w->text) w->text = text_dup("");
    int na = 0, nb = 0;
    char **a = old ? split_lines(old, &na) : nullptr, **b = w->text ? split_lines(w->text, &nb) : nullptr;
    int ok = !w->failed && a && b;
    if (ok) {
        act_plan(ACT_REWRITE, w->real.target);
        plan_diff(a, na, b, nb);
        act_note_text(w->real.target, w->text, strlen(w->text)); /* what later steps read of it */
    }
    free(a), free(b), free(old), free(w->text);
    w->text = nullptr;
    return ok ? PLAT_REPLACE_DONE : (errno = ENOMEM, PLAT_REPLACE_WRITE);
}
