/* Tree removal.
 *
 * rmfile deletes, in one directory, the files and the whole subdirectories
 * whose names match a mask (case-blind).  The mask chooses only at the top
 * level: a matching subdirectory goes with everything in it.  It keeps no
 * copy of what it deletes; callers that want backups copy first.  The log
 * records each file really removed and each file or folder that had to
 * stay, and the result tells the caller whether anything stayed.
 */
#include "files/remove.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "act/act.h"
#include "files/tree.h"
#include "files/wild.h"
#include "log/log.h"
#include "platform/folder.h"
#include "platform/platform.h"
#include "text/text.h"

static long long saved_at; /* when the backup of what is removed began, or 0 */
static unsigned left_alone = PLAT_ATTR_NAME_BITS; /* names the removal does not take */

/* 1 when the file name in f changed after its backup began: it is not in
 * the backup, or not as it is now. */
static int changed_since_saved(plat_folder *f, const char *name)
{
    plat_name n;
    plat_identity id;
    if (!saved_at || act_dry()) return 0;
    plat_folder_look_up(f, name, &n);
    if (!n.native[0] || plat_syscall_table()->name_identity(n.native, &id) != 0) return 0;
    /* a write moves both times, to now; a second link or a date set ahead moves one, or past now */
    return id.changed > saved_at && id.modified > saved_at && id.modified <= plat_clock_late();
}

/* Logs why path stays and returns 0. */
static int stayed(const char *path, int err)
{
    if (err == ELOOP) /* a link the listing did not show (Windows): what it leads to is not the removal's */
        act_error("rmfile: %s is a link to another file, left alone", path);
    else
        act_error("rmfile: could not remove %s {%d=%s}", path, err, strerror(err));
    return 0;
}

static int remove_all_in(plat_folder *f, const char *dir, const char *mask);
static int remove_planned_in(const char *dir, const char *mask);

/* Empties and removes the subfolder name of f (at path, which ends with a
 * backslash); 1 when it is gone.  It is opened in f without following a
 * link, so a folder swapped for one since f was listed is never emptied,
 * wherever the link leads. */
static int remove_subdir(plat_folder *f, const char *path, const char *name)
{
    errno = 0;
    plat_folder *sub = f ? plat_folder_open_in(f, name, PLAT_FIND_NOFOLLOW | PLAT_FIND_NOMOUNT) : nullptr;
    if (!f) errno = ENOENT; /* a folder only the plan made */
    if (!sub && errno == EBUSY) return stayed(path, EBUSY); /* another file system's, or a folder seen twice */
    int emptied = sub ? remove_all_in(sub, path, "*") : dir_walk_listed(path, errno); /* not there: empty */
    if (!sub && act_dry()) emptied &= remove_planned_in(path, "*"); /* a folder the plan made */
    plat_folder_close(sub);
    errno = 0;
    int gone = act_dry() || act_rollback_on() ? emptied && act_rmdir(path) == 0 : plat_folder_remove(f, name, 1) == 0;
    if (!gone && emptied) stayed(path, errno ? errno : EIO); /* else what stayed inside is logged */
    return gone;
}

/* Deletes one listed file and logs what really happened; 1 when it is gone. */
static int remove_one_file(plat_folder *f, const char *path, const char *name)
{
    if (changed_since_saved(f, name)) {
        act_error("rmfile: %s changed after its backup began, not removed", path);
        return 0;
    }
    errno = 0;
    int removed = act_remove_in(f, path, name) == 0;
    int err = errno;
    act_dot();
    plat_progress(); /* at once when a person is watching */
    if (!removed) return stayed(path, err);
    log_info("removed file %s", path);
    return 1;
}

/* Removes what the mask (lower case) selects in f, folders first (dirs)
 * or files; a folder's own link counts as a file. */
static int remove_selected(plat_folder *f, const char *dir, const char *mask, int dirs)
{
    int all = 1;
    unsigned at = 0, attrib, end = plat_folder_end(f); /* not the names set aside meanwhile */
    char lower[PLAT_NAME_MAX], path[TEXT_LINE_SIZE];
    for (const char *name; at < end && (name = plat_folder_next(f, &at, &attrib));) {
        int is_dir = (attrib & ~PLAT_ATTR_NAME_BITS) == PLAT_ATTR_DIRECTORY;
        if (is_dir != dirs || !wild_match(mask, text_lower(text_copy(lower, name, sizeof lower)))) continue;
        int fits = snprintf(path, sizeof path, "%s%s%s", dir, name, dirs ? "\\" : "") < (int)sizeof path;
        if (fits && act_dry() && act_kind(path) == PLAT_KIND_NONE) continue; /* planned away already */
        if (attrib & left_alone) {
            all = dir_walk_unnamed(dir, name, attrib); /* never acted on under another name: it stays */
        } else if (!fits) {
            all = stayed(name, ENAMETOOLONG);
        } else {
            all &= dirs ? remove_subdir(f, path, name) : remove_one_file(f, path, name);
        }
    }
    return all;
}

/* ---- what a dry run made ---- */

struct planned_names {
    static_list dirs, files;
};

static void collect_planned(void *ctx, const char *name, int kind)
{
    planned_names *p = (planned_names *)ctx;
    char *copy = text_dup(name);
    if (copy && static_add(kind == PLAT_KIND_DIR ? &p->dirs : &p->files, copy) < 0) free(copy);
}

/* Removes, in the plan, what the plan made in dir that the mask selects:
 * folders first, then files, as on the disk. */
static int remove_planned_in(const char *dir, const char *mask)
{
    planned_names p;
    char lower[PLAT_NAME_MAX], path[TEXT_LINE_SIZE];
    int all = 1;
    static_init(&p.dirs, nullptr), static_init(&p.files, nullptr);
    act_planned_in(dir, collect_planned, &p); /* collected first: removing changes the plan */
    for (int dirs = 1; dirs >= 0; dirs--) {
        static_list *names = dirs ? &p.dirs : &p.files;
        static_rewind(names);
        for (char *name; (name = (char *)static_next(names));) {
            if (!wild_match(mask, text_lower(text_copy(lower, name, sizeof lower)))) continue;
            if (snprintf(path, sizeof path, "%s%s%s", dir, name, dirs ? "\\" : "") >= (int)sizeof path) continue;
            all &= dirs ? remove_subdir(nullptr, path, name) : remove_one_file(nullptr, path, name);
        }
    }
    static_free(&p.dirs), static_free(&p.files);
    return all;
}

static int remove_all_in(plat_folder *f, const char *dir, const char *mask)
{
    int all = remove_selected(f, dir, mask, 1);
    all = remove_selected(f, dir, mask, 0) && all;
    return act_dry() ? remove_planned_in(dir, mask) && all : all;
}

/* The directory the files are listed and removed in: dir, or the
 * subdirectory a mask's own directory part names.  False when that path
 * would not fit whole (a shortened path could name some other directory). */
static int removal_base(char *base, const char *dir, const char *pattern)
{
    if (strlen(dir) + strlen(pattern) + 2 > (size_t)TEXT_PATH_SIZE) return 0;
    const char *part = strchr(pattern, '\\') ? dir_part(path_join(dir, pattern)) : nullptr;
    text_copy(base, part ? part : dir, TEXT_PATH_SIZE);
    return 1;
}

int rmfile_job(const char *dir, const char *pattern, long long backup_began)
{
    saved_at = backup_began;
    left_alone = PLAT_ATTR_UNNAMED;
    int all = rmfile(dir, pattern);
    saved_at = 0;
    left_alone = PLAT_ATTR_NAME_BITS;
    return all;
}

int rmfile(const char *dir, const char *pattern)
{
    char base[TEXT_PATH_SIZE], mask[TEXT_PATH_SIZE];
    if (!pattern) {
        log_report("rmfile: unexpected NULL passed");
        return 0;
    }
    if (!removal_base(base, dir ? dir : ".\\", pattern)) return stayed(dir ? dir : ".\\", ENAMETOOLONG);
    text_lower(text_copy(mask, base_name(pattern, BASE_KEEP_EXT), TEXT_PATH_SIZE));
    if (base[0] && !text_ends_with_backslash(base)) text_append(base, "\\", TEXT_PATH_SIZE);
    errno = 0;
    plat_folder *f = plat_folder_open(base, 0);
    int all = f ? remove_all_in(f, base, mask) : dir_walk_listed(base, errno);
    if (!f && act_dry()) all = remove_planned_in(base, mask) && all;
    plat_folder_close(f);
    log_flush(log_current()); /* the step's entries reach the disk, or the full disk is reported */
    return all;
}
