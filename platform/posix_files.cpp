/* POSIX platform layer: the wrappers on installer paths and on native
 * names.  Each maps its path (posix_resolve.cpp), makes its call through
 * the system-call table; a name made in a folder handle's folder enters
 * its set (folder.cpp).
 *
 * Not here: the bare calls themselves and the console and process
 * (platform_posix.cpp), durability, the folder lock and interruption
 * (posix_durable.cpp).
 */
#ifndef _WIN32

#include "platform/posix_internal.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

/* ---- files and folders on installer paths: the policy around the calls ---- */

FILE *plat_fopen(const char *path, const char *mode)
{
    char native[PLAT_NATIVE_MAX];
    posix_map m;
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    int create = strchr(mode, 'x') != nullptr;
    if (!posix_map_path(path, native, sizeof native, &m)) return nullptr; /* errno says why */
    if (mode[0] == 'r' && m.how == MAP_LOOKED_UP && !m.found) {
        errno = ENOENT; /* its directory, checked just now, has no such name */
        return nullptr;
    }
    if (create && (m.how == MAP_EXISTS || (m.how == MAP_LOOKED_UP && m.found))) {
        errno = EEXIST; /* seen just now: an exclusive create fails as it would */
        return nullptr;
    }
    /* A file the mapping saw as a regular file just now is read or appended
     * to as one: the open does not wait (O_NONBLOCK, which a regular file
     * ignores), never follows a link for writing (O_NOFOLLOW), and a copy
     * reads its size with fstat, which refuses anything else.  A file an
     * exclusive open created is a regular file. */
    int known_file = create || (mode[0] != 'w' && m.how == MAP_EXISTS && S_ISREG(m.mode));
    FILE *f = plat_open_tracked(native, mode);
    return f && !known_file ? settled(f, mode) : f;
}

/* Whether a call on a path as written failed only because the name is not
 * there as written, so that a case-blind look-up may still find it. */
static int missing_as_written(int err) { return err == ENOENT || err == ENOTDIR; }

/* Most sources exist as written: opening the path as written settles it
 * without a look-up, and one fstat of the open file gives its kind, size
 * and mode.  Only a name that is not there as written is looked up
 * case-blind. */
int plat_open_source(const char *path, plat_file *in)
{
    char native[PLAT_NATIVE_MAX];
    if (!path || !in) {
        errno = EINVAL;
        return 0;
    }
    int fd = posix_map_literal(path, native, sizeof native) ? sys().open_source(native) : -1;
    if (fd < 0 && missing_as_written(errno) && plat_native_path(path, native, sizeof native))
        fd = sys().open_source(native);
    *in = plat_file{nullptr, fd, 0, 0};
    return fd >= 0 && plat_measured(in);
}

int plat_file_close(plat_file *f)
{
    if (f->f) return plat_fclose(f->f);
    return f->fd < 0 || sys().close(f->fd) == 0 ? 0 : EOF;
}

/* ---- files named on the command line ---- */

FILE *plat_fopen_native(const char *native, const char *mode)
{
    if (!native || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    FILE *f = plat_open_tracked(native, mode);
    return f && !strchr(mode, 'x') ? settled(f, mode) : f; /* a new file is a regular one */
}

int plat_rename_native(const char *from, const char *to)
{
    if (from && to) return plat_rename_tracked(from, to);
    errno = EINVAL;
    return -1;
}

/* A second name for the same file: link(2) fails when the name is taken. */
int plat_may_write_in(const char *folder)
{
    char native[PLAT_NATIVE_MAX];
    if (!folder || !plat_native_path(folder, native, sizeof native)) return -1;
    return sys().may_write(-1, native);
}

int plat_keep_native(const char *native, const char *kept)
{
    if (native && kept) return sys().link(native, kept);
    errno = EINVAL;
    return -1;
}

int plat_remove_native(const char *native)
{
    if (native) return plat_remove_tracked(native);
    errno = EINVAL;
    return -1;
}

/* ---- one name, looked up once ---- */

/* A temporary name is taken as written: nothing looks it up case-blind.
 * In a folder handle it is made, renamed and removed in the handle's
 * descriptor, as the handle's own names are (it never enters the set). */
int plat_create_temp(const plat_name *beside, const char *name, plat_name *temp, plat_file *out)
{
    char dir[PLAT_NATIVE_MAX], own[NAME_MAX + 1];
    int len =
        split_native(beside->native, dir, own) ? snprintf(temp->native, sizeof temp->native, "%s%s", dir, name) : -1;
    if (len < 0 || len >= (int)sizeof temp->native) {
        errno = ENAMETOOLONG;
        return 0;
    }
    temp->kind = PLAT_KIND_NONE;
    temp->error = 0;
    temp->in = beside->in;
    const char *leaf;
    int at = plat_name_at(temp, &leaf);
    *out = plat_file{nullptr, -1, 0, 0};
    if (at >= 0) {
        out->fd = plat_open_new_tracked_at(at, leaf, temp->native);
    } else {
        temp->in = nullptr;
        out->f = plat_open_tracked(temp->native, "wbx");
    }
    if (out->f || out->fd >= 0) temp->kind = PLAT_KIND_FILE;
    return temp->kind == PLAT_KIND_FILE;
}

/* The temporary file from gets the name of to: in their folder handle
 * when they share one, else by native paths. */
static int rename_named(const plat_name *from, const plat_name *to, int replace)
{
    const char *a, *b;
    int at = plat_name_at(from, &a);
    if (at >= 0 && at == plat_name_at(to, &b)) return plat_rename_tracked_at(at, a, b, replace, from->native);
    return replace ? plat_rename_tracked(from->native, to->native) : plat_move_new_tracked(from->native, to->native);
}

int plat_replace_named(const plat_name *from, const plat_name *to) { return rename_named(from, to, 1); }
int plat_rename_new_named(const plat_name *from, const plat_name *to) { return rename_named(from, to, 0); }

int plat_remove_named(const plat_name *n)
{
    const char *leaf;
    int at = plat_name_at(n, &leaf);
    if (at >= 0) return plat_remove_tracked_at(at, leaf, n->native);
    return n->native[0] ? plat_remove_tracked(n->native) : 0;
}

/* In the folder handle the target was looked up in, the file is made and
 * named relative to its descriptor: a folder swapped for a link since it
 * was listed is never written through. */
int plat_create_hidden(const plat_name *target, const plat_file *like, plat_name *temp, plat_file *out)
{
    char dir[PLAT_NATIVE_MAX], own[NAME_MAX + 1];
    const char *leaf;
    int at = plat_name_at(target, &leaf);
    if (!target->native[0]) {
        errno = target->error ? target->error : ENAMETOOLONG;
        return 0;
    }
    if (at < 0 && !split_native(target->native, dir, own)) {
        errno = ENOSYS; /* no folder to hold it: the stand-in says why */
        return 0;
    }
    const char *in = at >= 0 || !dir[0] ? "." : dir;
    if (sys().open_unnamed(at, in, like->mode, out) != 0) return 0; /* ENOSYS: a stand-in may do */
    temp->native[0] = '\0'; /* unnamed: closing it is removing it */
    temp->kind = PLAT_KIND_FILE;
    temp->error = 0;
    temp->in = nullptr;
    return 1;
}

/* An unnamed file gets its name while still open; a named one once
 * closed.  A close that fails after the name was given takes it back. */
static int publish(plat_file *out, const plat_name *temp, const plat_name *target)
{
    if (temp->native[0]) return plat_file_close(out) == 0 ? plat_rename_new_named(temp, target) : -1;
    int r = !out->f || (plat_syscall_table()->fflush(out->f) == 0 && !ferror(out->f)) ? 0 : -1;
    const char *leaf;
    int at = plat_name_at(target, &leaf);
    if (r == 0) r = plat_syscall_table()->link_unnamed(out, at, leaf);
    int err = errno ? errno : EIO;
    if (plat_file_close(out) != 0 && r == 0) {
        err = errno;
        plat_remove_named(target); /* where it was named */
        r = -1;
    }
    errno = err;
    return r;
}

int plat_publish_named(plat_file *out, const plat_name *temp, const plat_name *target)
{
    errno = 0;
    int r = publish(out, temp, target);
    if (r == 0) plat_folder_noted(target);
    return r;
}

int plat_link(const char *from, const char *to)
{
    char nfrom[PLAT_NATIVE_MAX], nto[PLAT_NATIVE_MAX];
    posix_map m;
    if (!from || !to) {
        errno = EINVAL;
        return -1;
    }
    if (!plat_native_path(from, nfrom, sizeof nfrom) || !posix_map_path(to, nto, sizeof nto, &m)) return -1;
    if (m.how == MAP_EXISTS || (m.how == MAP_LOOKED_UP && m.found)) {
        errno = EEXIST; /* seen just now */
        return -1;
    }
    return plat_syscall_table()->link(nfrom, nto);
}

/* The table's row as it stands when called: tests swap it. */
static int dir_mode_now(const char *dir, const char *source) { return plat_syscall_table()->dir_mode_from(dir, source); }

int plat_dir_mode_from(const char *dir, const char *source_dir) { return plat_on_natives(dir, source_dir, dir_mode_now); }

/* An unnamed file in the folder answers for the name; where there is none,
 * the file made is removed at once. */
int plat_probe_create(const char *path)
{
    char native[PLAT_NATIVE_MAX], dir[PLAT_NATIVE_MAX], name[NAME_MAX + 1];
    if (path && plat_native_path(path, native, sizeof native) && split_native(native, dir, name)) {
        plat_file f;
        if (plat_syscall_table()->open_unnamed(-1, dir[0] ? dir : ".", 0600, &f) == 0) return plat_file_close(&f) == 0;
        if (errno != ENOSYS) return 0;
    }
    FILE *f = plat_fopen(path, "wx");
    if (!f) return 0;
    plat_remove(path);
    plat_fclose(f);
    return 1;
}

/* The native form of a path a wrapper was given; 0 with errno set. */
static int native_of(const char *path, char *native)
{
    if (path) return plat_native_path(path, native, PLAT_NATIVE_MAX); /* errno says why */
    errno = EINVAL;
    return 0;
}

/* Most names removed were just listed: the name as written goes at once,
 * and only one that is not there as written is looked up case-blind. */
int plat_remove(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (path && posix_map_literal(path, native, sizeof native)) {
        int r = plat_remove_tracked(native);
        if (r == 0 || !missing_as_written(errno)) return r;
    }
    if (!native_of(path, native)) return -1;
    return plat_remove_tracked(native);
}


int plat_rename(const char *from, const char *to) { return plat_on_natives(from, to, plat_rename_tracked); }

int plat_mkdir(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (!native_of(path, native)) return -1;
    return plat_syscall_table()->mkdir(native);
}

int plat_rmdir(const char *path)
{
    char native[PLAT_NATIVE_MAX];
    if (!native_of(path, native)) return -1;
    return plat_syscall_table()->rmdir(native);
}


#endif
