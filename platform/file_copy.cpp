/* Whole-file copies, the same on every system: a copy's files (bare
 * descriptors on POSIX, streams on Windows), measured once when opened,
 * and the bytes moved in the kernel where the system can, else in blocks.
 * Every call goes through the system-call table, so tests can fail each.
 */
#include "platform/common_internal.h"

#include <cerrno>

/* A copy source just opened, measured from the open file (fsize refuses
 * anything but a regular file).  Each system's plat_open_source ends here. */
int plat_measured(plat_file *in)
{
    in->size = plat_syscall_table()->fsize(in);
    if (in->size >= 0) return 1;
    int err = errno;
    plat_file_close(in);
    errno = err;
    return 0;
}

plat_file plat_file_of(FILE *f) { return plat_file{f, -1, 0, 0}; }

/* ---- whole-file copies ---- */

constexpr size_t COPY_KERNEL_CHUNK = (size_t)1 << 30; /* bytes asked of one kernel call */
constexpr size_t COPY_BLOCK_SIZE = 256 * 1024;        /* the block of the read/write loop */

long long plat_file_size(FILE *f)
{
    plat_file file = plat_file_of(f);
    return f ? plat_syscall_table()->fsize(&file) : -1;
}

/* Moves bytes with one kind of kernel copy until size are moved or the
 * source ends.  1 when it ran, 0 when the system cannot do it here (and
 * nothing moved), -1 on failure. */
static int kernel_copy(long long (*call)(plat_file *, plat_file *, size_t), plat_file *in, plat_file *out,
                       long long size, long long *moved)
{
    while (*moved < size) {
        size_t ask = (size_t)(size - *moved) < COPY_KERNEL_CHUNK ? (size_t)(size - *moved) : COPY_KERNEL_CHUNK;
        long long n = call(in, out, ask);
        if (n < 0) return *moved == 0 && errno == ENOSYS ? 0 : -1;
        if (n == 0) return 1; /* shorter than its size said: the check below fails it */
        *moved += n;
    }
    return 1;
}

/* The rest of the source in large blocks through the streams; every write
 * checked.  0, or -1 with errno. */
static int block_copy(plat_file *from, plat_file *to, long long *moved)
{
    static char block[COPY_BLOCK_SIZE];
    FILE *in = plat_file_stream(from, "rb"), *out = plat_file_stream(to, "wb");
    if (!in || !out) return -1;
    for (;;) {
        errno = 0;
        size_t got = plat_syscall_table()->fread(block, 1, sizeof block, in);
        if (got > 0 && plat_syscall_table()->fwrite(block, 1, got, out) != got) return -1;
        *moved += (long long)got;
        if (got < sizeof block) {
            if (feof(in) && !ferror(in)) return 0;
            if (errno == 0) errno = EIO;
            return -1; /* a read error, counted or flagged */
        }
    }
}

long long plat_copy_file(plat_file *in, plat_file *out)
{
    long long size = in && out ? in->size : -1;
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    long long moved = 0;
    int r = kernel_copy(plat_syscall_table()->copy_range, in, out, size, &moved);
    if (r == 0) r = kernel_copy(plat_syscall_table()->send_file, in, out, size, &moved);
    if (r == 0 && block_copy(in, out, &moved) != 0) return -1;
    if (r < 0) return -1;
    if (r == 0 && (plat_syscall_table()->fflush(out->f) != 0 || ferror(out->f))) {
        if (errno == 0) errno = EIO;
        return -1;
    }
    if (moved != size) {
        errno = EIO; /* the source changed size, or bytes went missing */
        return -1;
    }
    return moved;
}
