/* One atomic replace, on both systems: new content for a file is written to
 * a temporary file beside it and takes its name in one rename, or the file
 * stays as it was.  The rule it keeps is stated once, in platform.h.  It is
 * built on the wrappers of the two path forms and on the system-call table,
 * so that every call it makes can be failed by a test; it is not the place
 * for naming policy (each caller names its temporary file) nor for messages.
 */
#include <cerrno>
#include <cstring>

#include "platform/platform.h"

/* The wrappers of one path form. */
struct path_calls {
    FILE *(*open)(const char *path, const char *mode);
    int (*rename)(const char *from, const char *to);
    int (*remove)(const char *path);
};
static const path_calls INSTALLER_FORM = {plat_fopen, plat_rename, plat_remove};
static const path_calls NATIVE_FORM = {plat_fopen_native, plat_rename_native, plat_remove_native};

static const path_calls &calls_of(const plat_replacing *r)
{
    return r->flags & PLAT_REPLACE_NATIVE ? NATIVE_FORM : INSTALLER_FORM;
}

/* The replaced file's mode, owner and group, when it is there. */
static int keep_mode(plat_replacing *r)
{
    plat_name old;
    if (r->named) return plat_mode_like(r->out, r->named) < 0 ? -1 : 0;
    if (!(r->flags & PLAT_REPLACE_NATIVE))
        return plat_look_up(r->target, &old) == PLAT_KIND_NONE ? 0 : plat_mode_like(r->out, &old);
    return plat_syscall_table()->mode_like(r->out, r->target) == 0 || errno == ENOENT ? 0 : -1;
}

/* The temporary file just made gets the target's mode before any byte is
 * written, so nobody the result keeps out opens it meanwhile. */
static int begun(plat_replacing *r)
{
    if (r->out && keep_mode(r) == 0) return 1;
    r->err = errno;
    if (r->out) plat_replace_abort(r);
    return 0;
}

int plat_replace_begin(plat_replacing *r, const char *target, const char *temp, unsigned flags)
{
    *r = plat_replacing{nullptr, 0, flags, target, temp, nullptr, {}};
    if (!target || !temp)
        errno = EINVAL;
    else
        r->out = calls_of(r).open(temp, flags & PLAT_REPLACE_TEXT ? "wx" : "wbx"); /* afresh, never followed */
    return begun(r);
}

int plat_replace_begin_named(plat_replacing *r, const char *target, const plat_name *t, const char *temp,
                             unsigned flags)
{
    *r = plat_replacing{nullptr, 0, flags & ~PLAT_REPLACE_NATIVE, target, nullptr, t, {}};
    r->out = plat_create_temp(t, temp, &r->named_temp); /* afresh, never followed */
    r->temp = r->named_temp.native;
    return begun(r);
}

int plat_replace_write(plat_replacing *r, const void *bytes, size_t len)
{
    if (r->err) return 0;
    errno = 0;
    if (len == 0 || plat_fwrite(bytes, 1, len, r->out) == len) return 1;
    r->err = errno ? errno : EIO;
    return 0;
}

void plat_replace_abort(plat_replacing *r)
{
    int err = r->err ? r->err : errno ? errno : EIO;
    if (r->out) plat_fclose(r->out);
    r->out = nullptr;
    if (r->named) /* the name itself, never what a link there points to */
        plat_remove_named(&r->named_temp);
    else
        calls_of(r).remove(r->temp);
    errno = r->err = err;
}

/* The content on the disk (unless it waits for plat_sync_now) and closed. */
static int finish_content(plat_replacing *r)
{
    int synced = (r->flags & PLAT_REPLACE_SYNC_LATER) || plat_fsync(r->out) == 0;
    if (!synced) r->err = errno;
    int closed = plat_fclose(r->out) == 0;
    r->out = nullptr;
    if (!closed && !r->err) r->err = errno;
    return synced && closed;
}

/* The folder's new name on the disk, or noted for plat_sync_now. */
static int sync_name(plat_replacing *r)
{
    if (r->flags & PLAT_REPLACE_SYNC_LATER) {
        plat_sync_later(r->target);
        return 1;
    }
    int synced = r->flags & PLAT_REPLACE_NATIVE ? plat_syscall_table()->sync_dir(r->target) : plat_sync_dir(r->target);
    if (synced != 0) r->err = errno;
    return synced == 0;
}

int plat_replace_commit(plat_replacing *r)
{
    if (r->err || !finish_content(r)) {
        plat_replace_abort(r);
        return PLAT_REPLACE_WRITE;
    }
    int renamed = r->named ? plat_replace_named(&r->named_temp, r->named) : calls_of(r).rename(r->temp, r->target);
    if (renamed != 0) {
        r->err = errno;
        plat_replace_abort(r);
        return PLAT_REPLACE_RENAME;
    }
    if (sync_name(r)) return PLAT_REPLACE_DONE;
    errno = r->err;
    return PLAT_REPLACE_SYNC_DIR;
}
