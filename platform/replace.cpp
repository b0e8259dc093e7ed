/* One atomic replace, on both systems: new content for a file is written to
 * a temporary file beside it and takes its name in one rename, or the file
 * stays as it was.  The rule it keeps is stated once, in platform.h.  It is
 * built on the wrappers of the path forms (installer paths, native paths
 * and names already looked up) and on the system-call table,
 * so that every call it makes can be failed by a test; it is not the place
 * for naming policy (each caller names its temporary file) nor for messages.
 */
#include <cerrno>
#include <cstring>

#include "platform/common_internal.h"

/* The installer path or native wrapper, as the form asks. */
template <typename F> static F form_of(const plat_replacing *r, F installer, F native)
{
    return r->flags & PLAT_REPLACE_NATIVE ? native : installer;
}

/* The replaced file's mode, owner and group, when it is there: 0, else
 * nonzero.  A looked-up target that is no regular file gives none and the
 * new file keeps its own; for the other forms that is a failure. */
static int keep_mode(plat_replacing *r)
{
    plat_name old;
    const char *native = r->target;
    int at = r->named ? plat_name_at(r->named, &native) : -1;
    if (!r->named && !(r->flags & PLAT_REPLACE_NATIVE)) {
        if (plat_look_up(r->target, &old) == PLAT_KIND_NONE) return 0;
        native = old.native;
    }
    errno = 0;
    int kept = native[0] ? plat_syscall_table()->mode_like(&r->file, at, native, r->named) : 1;
    if (r->named) return kept < 0;
    return kept != 0 && !(kept < 0 && errno == ENOENT && (r->flags & PLAT_REPLACE_NATIVE));
}

/* The temporary file just made gets the target's mode before any byte is
 * written, so nobody the result keeps out opens it meanwhile. */
static int begun(plat_replacing *r)
{
    int open = r->file.f || r->file.fd >= 0;
    if (open && keep_mode(r) == 0) return 1;
    r->err = errno;
    if (open) plat_replace_abort(r);
    return 0;
}

int plat_replace_begin(plat_replacing *r, const char *target, const char *temp, unsigned flags)
{
    *r = plat_replacing{plat_file_of(nullptr), 0, flags, target, temp, nullptr, {}};
    if (!target || !temp)
        errno = EINVAL;
    else /* afresh */
        r->file.f = form_of(r, plat_fopen, plat_fopen_native)(temp, flags & PLAT_REPLACE_TEXT ? "wx" : "wbx");
    return begun(r);
}

int plat_replace_begin_named(plat_replacing *r, const char *target, const plat_name *t, const char *temp,
                             unsigned flags)
{
    *r = plat_replacing{plat_file_of(nullptr), 0, flags & ~PLAT_REPLACE_NATIVE, target, nullptr, t, {}};
    plat_create_temp(t, temp, &r->named_temp, &r->file); /* afresh, never followed */
    r->temp = r->named_temp.native;
    return begun(r);
}

int plat_replace_write(plat_replacing *r, const void *bytes, size_t len)
{
    if (r->err) return 0;
    errno = 0;
    FILE *out = plat_file_stream(&r->file, "wb");
    if (len == 0 || (out && plat_fwrite(bytes, 1, len, out) == len)) return 1;
    r->err = errno ? errno : EIO;
    return 0;
}

void plat_replace_abort(plat_replacing *r)
{
    int err = r->err ? r->err : errno ? errno : EIO;
    if (r->file.f || r->file.fd >= 0) plat_file_close(&r->file);
    r->file = plat_file_of(nullptr);
    if (r->named) /* the name itself, never what a link there points to */
        plat_remove_named(&r->named_temp);
    else
        form_of(r, plat_remove, plat_remove_native)(r->temp);
    errno = r->err = err;
}

/* The content on the disk (unless it waits for plat_sync_now) and closed. */
static int finish_content(plat_replacing *r)
{
    FILE *stream = r->flags & PLAT_REPLACE_SYNC_LATER ? nullptr : plat_file_stream(&r->file, "wb");
    int synced = (r->flags & PLAT_REPLACE_SYNC_LATER) || (stream && plat_fsync(stream) == 0);
    if (!synced) r->err = errno;
    int closed = plat_file_close(&r->file) == 0;
    r->file = plat_file_of(nullptr);
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
    int renamed = r->named ? plat_replace_named(&r->named_temp, r->named)
                           : form_of(r, plat_rename, plat_rename_native)(r->temp, r->target);
    if (renamed != 0) {
        r->err = errno;
        plat_replace_abort(r);
        return PLAT_REPLACE_RENAME;
    }
    if (sync_name(r)) return PLAT_REPLACE_DONE;
    errno = r->err;
    return PLAT_REPLACE_SYNC_DIR;
}
