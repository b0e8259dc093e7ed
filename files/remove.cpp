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

#include "files/tree.h"
#include "log/log.h"
#include "platform/platform.h"
#include "text/text.h"

/* Logs why path stays and returns 0. */
static int stayed(const char *path, int err)
{
    log_error("rmfile: could not remove %s {%d=%s}", path, err, strerror(err));
    return 0;
}

static int remove_in(const char *dir, const char *pattern, int nofollow);

/* Empties and removes one listed subdirectory (name ends with a backslash).
 * 1 when it is gone.  Its listing never follows a link: a folder swapped
 * for one since it was listed is not emptied, wherever the link leads. */
static int remove_subdir(const char *dir, const char *name)
{
    size_t size = strlen(dir) + strlen(name) + 2;
    char *path = (char *)malloc(size);
    if (!path) return stayed(name, ENOMEM);
    text_copy(path, dir, (int)size);
    size_t len = strlen(path);
    if (len == 0 || path[len - 1] != '\\') text_append(path, "\\", (int)size);
    text_append(path, name, (int)size);
    len = strlen(path);
    if (path[len - 1] != '\\') text_append(path, "\\", (int)size);
    int emptied = remove_in(path, "*", WALK_NOFOLLOW);
    errno = 0;
    int gone = plat_rmdir(path) == 0;
    if (!gone && emptied) stayed(path, errno ? errno : EIO); /* else what stayed inside is logged */
    free(path);
    return gone;
}

/* Deletes one listed file and logs what really happened; 1 when it is gone. */
static int remove_one_file(const char *dir, const char *name)
{
    char path[TEXT_LINE_SIZE];
    if (!path_join_raw(path, TEXT_LINE_SIZE, dir, name)) {
        log_error("rmfile: could not remove %s%s {%d=%s}", dir, name, ENAMETOOLONG, strerror(ENAMETOOLONG));
        return 0;
    }
    errno = 0;
    int removed = plat_remove(path) == 0;
    int err = errno;
    plat_out(".");
    plat_progress(); /* at once when a person is watching */
    if (!removed) return stayed(path, err);
    log_info("removed file %s", path);
    return 1;
}

/* Frees a name list after handing each name to action; 1 when every
 * action succeeded. */
static int for_each_name(static_list *names, const char *dir, int (*action)(const char *, const char *))
{
    int all = 1;
    static_rewind(names);
    for (char *name; (name = (char *)static_next(names));) all &= action(dir, name);
    static_free(names);
    return all;
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

int rmfile(const char *dir, const char *pattern)
{
    if (!pattern) {
        log_report("rmfile: unexpected NULL passed");
        return 0;
    }
    return remove_in(dir ? dir : ".\\", pattern, 0);
}

/* rmfile in dir, listing it with the walk flags nofollow adds. */
static int remove_in(const char *dir, const char *pattern, int nofollow)
{
    char base[TEXT_PATH_SIZE], mask[TEXT_PATH_SIZE];
    if (!removal_base(base, dir, pattern)) /* nothing there can be listed */
        return stayed(dir, ENAMETOOLONG);
    text_copy(mask, base_name(pattern, BASE_KEEP_EXT), TEXT_PATH_SIZE);
    static_list names;
    int all = dir_walk(&names, base, mask, WALK_DIRS | WALK_NAMES | nofollow, 0); /* what it could not list stays */
    all &= for_each_name(&names, base, remove_subdir);
    all &= dir_walk(&names, base, mask, WALK_FILES | WALK_NAMES | nofollow, 0);
    all &= for_each_name(&names, base, remove_one_file);
    log_flush(log_current()); /* the step's entries reach the disk, or the full disk is reported */
    return all;
}
