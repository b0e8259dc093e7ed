/* The one seam between the installer and the operating system.
 *
 * The portable core names files with installer-form paths (Windows style,
 * backslash separators, optional drive letter) and reaches the OS only
 * through the operations below.  Each OS has one implementation file
 * (platform_posix.cpp, platform_win32.cpp); code shared by both, such as the
 * swappable system-call table, lives in platform_common.cpp.
 *
 * Errors are reported in one vocabulary: the C library's errno values
 * (EEXIST, ENOENT, EACCES, ENOSPC, ...), readable with errno and strerror.
 */
#ifndef QUILLOR_PLATFORM_H
#define QUILLOR_PLATFORM_H

#include <cerrno>
#include <cstdio>
#include <cstddef>

struct stat;

/* ---- directory listing (find-first / find-next / find-close) ---- */

constexpr unsigned PLAT_ATTR_READONLY = 0x01;
constexpr unsigned PLAT_ATTR_DIRECTORY = 0x10;
constexpr unsigned PLAT_ATTR_ARCHIVE = 0x20;
constexpr unsigned PLAT_ATTR_REPARSE = 0x400;       /* symbolic link: never followed */
/* An entry whose real name no installer path can spell (on Windows: it does
 * not convert exactly to the ANSI code page).  Its name field then holds a
 * readable form for messages only, each such character written "<U+XXXX>",
 * which names no file: the entry must never be acted on. */
constexpr unsigned PLAT_ATTR_UNNAMED = 0x40000000u;
/* An entry Windows would read as another when a plain path spells it: its
 * name ends with a dot or a space, which the system drops, or is a
 * device's ("nul.txt").  Its name is its real one; the platform hands it
 * to the system whole, but only a removal or a backup takes it: any other
 * step leaves it alone.  Never set on POSIX. */
constexpr unsigned PLAT_ATTR_MISREAD = 0x20000000u;
constexpr unsigned PLAT_ATTR_NAME_BITS = PLAT_ATTR_UNNAMED | PLAT_ATTR_MISREAD; /* not the system's bits */
constexpr int PLAT_NAME_MAX = 260;                  /* entry name, terminator included */

struct plat_find_entry {
    char name[PLAT_NAME_MAX];
    unsigned attrib;
};
struct plat_find; /* an open listing */

/* Lists the directory of a pattern "dir\*".  Returns null (errno set) when
 * the directory cannot be listed; otherwise fills the first entry.  With
 * PLAT_FIND_NOFOLLOW a folder that is a link (a reparse point) is not
 * listed (ELOOP, or ENOTDIR): a removal descends only into the folder it
 * listed.  An entry whose name holds a backslash, or cannot be spelt in the
 * system's code page, is listed with PLAT_ATTR_UNNAMED added to its bits,
 * so that it can be reported; names that do not fit are skipped. */
constexpr int PLAT_FIND_NOFOLLOW = 1;
/* plat_folder_open_in: not a folder where a file system is mounted, a folder mounted twice
 * included (EBUSY), so that a removal never empties one. */
constexpr int PLAT_FIND_NOMOUNT = 2;
plat_find *plat_find_first(const char *pattern, plat_find_entry *entry, int flags);
int plat_find_next(plat_find *find, plat_find_entry *entry); /* 1, or 0 at end (errno ENOENT) */
void plat_find_close(plat_find *find);

/* ---- files and directories on installer paths ---- */

/* fopen on an installer path.  Modes as for fopen; an "x" makes the open
 * exclusive (fails with EEXIST when the file is there).  Only regular files
 * are opened: anything else (a device, pipe, socket) is refused with
 * PLAT_ENOTREG, a folder with EISDIR, and the open itself never waits on a
 * pipe.  A file opened for writing or appending is never reached through a
 * symbolic link (ELOOP).  A file created with "x" is a temporary file in
 * progress until plat_rename moves it or plat_remove removes it: an
 * interruption removes it (see plat_on_interrupt). */
FILE *plat_fopen(const char *path, const char *mode);
constexpr int PLAT_ENOTREG = EINVAL; /* errno: not a regular file, refused */
/* Flushes the stream and checks its error flag before closing it, since a
 * C runtime may lose the error of its last write inside fclose.  0, or EOF
 * with errno set when any of it failed. */
int plat_fclose(FILE *f);
size_t plat_fread(void *buf, size_t size, size_t count, FILE *f);
size_t plat_fwrite(const void *buf, size_t size, size_t count, FILE *f);
int plat_fflush(FILE *f); /* 0, or EOF with errno */
char *plat_fgets(char *buf, int size, FILE *f);
int plat_remove(const char *path);                 /* a file or link, never a folder; 0 or -1 */
int plat_rename(const char *from, const char *to); /* replaces an existing target */
/* plat_rename that never replaces: -1 with errno EEXIST when `to` is there. */
int plat_rename_new(const char *from, const char *to);
int plat_mkdir(const char *path);                  /* EEXIST when present */
int plat_rmdir(const char *path);
/* Size in bytes of the file behind an open stream (pending output not
 * counted: flush first), or -1. */
long long plat_file_size(FILE *f);
/* A file a copy reads or writes.  POSIX copies between bare descriptors
 * (a stream costs a call to make and buys a kernel copy nothing), and a
 * stream is made only when the bytes go through the C library; on Windows
 * it is a stream from the start.  size and mode are a source's, read from
 * the open file, so they are those of what was opened. */
struct plat_file {
    FILE *f;        /* the stream, or null while none was needed */
    int fd;         /* the descriptor, or -1 where f stands alone */
    long long size; /* a source's size in bytes */
    unsigned mode;  /* a source's permission bits (POSIX) */
};
plat_file plat_file_of(FILE *f); /* an open stream, as a copy's file */
int plat_file_close(plat_file *f); /* as plat_fclose: 0, or EOF with errno */
/* Opens the source of a whole-file copy for reading, as plat_fopen(path,
 * "rb") does, into *in.  Only a regular file is opened.  1, or 0 with
 * errno set. */
int plat_open_source(const char *path, plat_file *in);
/* Copies the whole of the just-opened source in (in->size bytes) to the
 * just-opened out, in the kernel where the system can (copy_file_range,
 * then sendfile) and else in large blocks.  Returns the bytes copied,
 * which are exactly in->size, with out flushed; or -1 with errno set (EIO
 * when the source ended early, or grew while read in blocks). */
long long plat_copy_file(plat_file *in, plat_file *out);

/* What an installer path names, without following a link at its end. */
enum plat_kind { PLAT_KIND_NONE, PLAT_KIND_FILE, PLAT_KIND_DIR, PLAT_KIND_OTHER };
int plat_path_kind(const char *path);
constexpr int PLAT_NATIVE_MAX = 4096; /* longest native path handled */

/* ---- one name, looked up once ----
 *
 * A copy makes several calls on one target: what is there, whether it may
 * be written, creating it, or renaming a new version over it.  Looked up
 * once, the name is handed on to each of them. */
struct plat_folder;
struct plat_name {
    int kind;                     /* PLAT_KIND_*, as the look-up found it */
    int error;                    /* errno when it could not be mapped (ENAMETOOLONG, ENOTUNIQ) */
    char native[PLAT_NATIVE_MAX]; /* its native form; "" when it cannot be mapped */
    plat_folder *in;              /* the folder handle it was looked up in, or null */
    unsigned mode;                /* POSIX: mode, owner and group as a folder handle's look-up */
    long long uid, gid;           /* found them; mode 0 where not known */
};
/* Looks up an installer path into n; returns n->kind. */
int plat_look_up(const char *path, plat_name *n);

/* Creates the temporary file `name` exclusively in the folder of the
 * looked-up beside (in its folder handle's descriptor where it has one),
 * opens it into *out and describes it in temp.  A temporary name is taken
 * as written: nothing looks it up case-blind.  An interruption removes the
 * file until plat_replace_named or plat_remove_named is done with it.  1,
 * or 0 with errno. */
int plat_create_temp(const plat_name *beside, const char *name, plat_name *temp, plat_file *out);
/* plat_remove of a looked-up name. */
int plat_remove_named(const plat_name *n);

/* ---- files named on the command line ----
 *
 * The administrator's own files (the answers file, the record) are native
 * paths used as given: never placed under the drive root nor looked up
 * case-blind.  The same rules as for installer paths apply otherwise. */
FILE *plat_fopen_native(const char *native, const char *mode); /* as plat_fopen */
/* Makes the new name kept hold what the file native holds, leaving native
 * where it is, only when nothing is at kept: 0, or -1 with errno (EEXIST
 * when the name is taken).  A rename over native keeps it there. */
int plat_keep_native(const char *native, const char *kept);
int plat_remove_native(const char *native);
/* 1 when the native path and the installer path name the same file (by
 * their canonical forms, and by identity where both exist); else 0. */
int plat_native_same_file(const char *native, const char *path);
int plat_same_native_files(const char *a, const char *b); /* the same for two native paths */

/* ---- new files that appear only complete ---- */

/* A new file for the looked-up missing target, invisible until
 * plat_publish_named gives it the target's name: on Linux an unnamed file
 * in the target's folder (O_TMPFILE), made with the permission bits of
 * like (as plat_mode_from gives them), which vanishes with the process
 * however it ends.  0 with errno ENOSYS where the system or the file
 * system has none: a temporary file of plat_create_temp stands in.  An
 * unnamed file leaves temp->native empty; plat_remove_named of it does
 * nothing (closing it is enough). */
int plat_create_hidden(const plat_name *target, const plat_file *like, plat_name *temp, plat_file *out); /* 1 made */
/* Closes out, the complete file of plat_create_hidden (or its stand-in),
 * and gives it the target's name without ever replacing a file: EEXIST
 * when the name appeared meanwhile.  0, or -1 with errno; after a failure
 * the caller removes temp. */
int plat_publish_named(plat_file *out, const plat_name *temp, const plat_name *target);
/* Makes `to` a second name of the file `from` (a hard link), never
 * replacing: EEXIST when `to` is there; another errno (EPERM, EXDEV,
 * ENOSYS, ...) where the file system cannot link. */
int plat_link(const char *from, const char *to);

/* ---- permissions ---- */

/* A new copy gets the permission bits of its source, as far as the umask
 * lets them (POSIX; nothing to do on Windows).  0, or -1 with errno. */
int plat_mode_from(plat_file *out, const plat_file *source);
/* A folder a backup made is no more open than the folder it saves (POSIX:
 * its permission bits as far as the umask lets them).  0, or -1. */
int plat_dir_mode_from(const char *dir, const char *source_dir);

/* 1 when the installer path maps to native (as plat_native_path gives
 * it), else 0; asks the system only when the two could match. */
int plat_names_native(const char *path, const char *native);
/* 0 when the existing file n names (looked up; in its folder handle where
 * it has one) may be written, else -1 with errno set (EACCES, EROFS, ...):
 * what an open for writing would find, without opening it. */
int plat_may_write(const plat_name *n);
/* 0 when new names may be made in (and names removed from) the existing
 * folder path, as a write there would find; else -1 with errno (EACCES,
 * EROFS).  On Windows a folder's read-only mark refuses nothing: 0. */
int plat_may_write_in(const char *folder);
/* 1 when a name in path matches several entries that differ only in case
 * (and none exactly): such a path names nothing, and every operation on
 * it fails with errno ENOTUNIQ. */
int plat_path_ambiguous(const char *path);
/* 1 when path is a symbolic link (or another reparse point). */
int plat_is_link(const char *path);
/* 1 when opening the existing file at path would reach another file than
 * the one its folder lists under that name: on Windows a link the listing
 * does not show (the emulator shows a host's link to a file as a plain
 * file).  POSIX opens never follow a link, so there it is 0. */
int plat_opens_elsewhere(const char *path);
/* Makes `to` a link with the same target as the link `from`: 0, or -1 with
 * errno set (ENOSYS where links cannot be made by this program). */
int plat_copy_link(const char *from, const char *to);
/* 1 when two native paths name the same entry by the system's rule for
 * names: byte for byte on POSIX, case-blind on Windows. */
int plat_native_equal(const char *a, const char *b);

/* ---- durability ---- */

/* Notes a file just written in place; plat_sync_now makes every noted file
 * durable, once per file system where the system allows that. */
void plat_sync_later(const char *path);
int plat_sync_now(); /* 1, or 0 with errno when some data may not be on disk */

/* ---- one installer per folder ---- */

/* Takes an exclusive lock on the file `name` in the current directory, held
 * until the process ends, whatever ends it; the file goes at a normal exit.
 * 1 locked; 0 another process holds it; -1 no lock file can be made here. */
int plat_lock_folder(const char *name);

/* ---- interruption ---- */

/* From now on Ctrl-C, SIGINT, SIGTERM and SIGHUP (the console control
 * events on Windows) remove the temporary files in progress, call
 * last_words (which must be async-signal-safe, and may make the calls of
 * plat_real_calls) and end the process with PLAT_INTERRUPTED_STATUS.  The
 * lock of plat_lock_folder goes with it. */
constexpr int PLAT_INTERRUPTED_STATUS = 130; /* 128 + SIGINT, as shells report it */
void plat_on_interrupt(void (*last_words)());
/* Async-signal-safe: writes text to the stream's file directly (its line
 * ends as the stream's mode wants them) and closes the file. */
void plat_write_close_raw(FILE *f, const char *text, size_t len);

/* What is at a name, to tell the file a run left there from one put there
 * since: its kind (PLAT_KIND_*), size, times in the system's own units (the
 * clock the journal stamps its notes with), and device and file number
 * where the system gives them. */
struct plat_identity {
    int kind;
    long long size, modified, changed, device, index;
};

/* The real system calls, in one table that tests patch to inject faults (a full disk, a failed
 * rename, ...).  Paths are native ones. */
struct plat_syscalls {
    FILE *(*fopen)(const char *native, const char *mode);
    int (*fclose)(FILE *f);
    size_t (*fread)(void *buf, size_t size, size_t count, FILE *f);
    size_t (*fwrite)(const void *buf, size_t size, size_t count, FILE *f);
    char *(*fgets)(char *buf, int size, FILE *f);
    int (*remove)(const char *native);
    int (*rename)(const char *from, const char *to);
    int (*mkdir)(const char *native);
    int (*rmdir)(const char *native);
    int (*fsync)(FILE *f);               /* data of a stream to the disk */
    int (*sync_dir)(const char *native); /* a folder's names to the disk */
    int (*sync_fs)(const char *native);  /* the file system holding a folder (Windows: that file) */
    int (*fflush)(FILE *f);
    long long (*fsize)(plat_file *f); /* fstat's size of an open file; its mode put in f->mode */
    /* Kernel copies of up to len bytes from in to out at their file offsets: bytes moved, 0 at
     * the source's end, or -1 with errno; ENOSYS when the system cannot (then nothing moved). */
    long long (*copy_range)(plat_file *in, plat_file *out, size_t len);
    long long (*send_file)(plat_file *in, plat_file *out, size_t len);
    /* A directory listing, entry by entry, as the system gives it: open takes the folder (POSIX)
     * or the pattern "folder\*" (Windows) and returns null with errno when it cannot be listed
     * (ELOOP or ENOTDIR when nofollow and the folder is a link); read fills the next entry's name
     * and attribute bits and returns 1, or 0 at the end (errno ENOENT) or on a failure. */
    void *(*dir_open)(const char *native, int nofollow);
    int (*dir_read)(void *dir, plat_find_entry *entry);
    void (*dir_close)(void *dir);
    int (*may_write)(int at, const char *name); /* 0 when a file may be written, else -1; name in at, or -1 */
    /* An unnamed new file in the folder dir (O_TMPFILE; dir taken in the open folder at, or -1)
     * with the permission bits mode (as far as the umask lets them), opened for writing into
     * *out: 0, or -1 with errno (ENOSYS where the system or file system has none). */
    int (*open_unnamed)(int at, const char *dir, unsigned mode, plat_file *out);
    int (*link_unnamed)(plat_file *f, int at, const char *to); /* its first name; EEXIST when taken */
    int (*link)(const char *from, const char *to);     /* a hard link; EEXIST when taken */
    int (*move_new)(const char *from, const char *to); /* a rename that never replaces */
    int (*mode_from)(plat_file *out, unsigned mode);   /* see plat_mode_from */
    /* see the atomic replace; name in at, or -1; known: its look-up (its mode, owner, group), or null */
    int (*mode_like)(plat_file *out, int at, const char *name, const plat_name *known);
    int (*dir_mode_from)(const char *dir, const char *source);
#ifndef _WIN32
    /* The calls that map paths, decide on them and lock a folder. */
    int (*stat)(const char *native, struct stat *st);  /* links followed */
    int (*lstat)(const char *native, struct stat *st); /* a link itself */
    int (*lstat_at)(int dir, const char *name, struct stat *st); /* the same for a name in an open folder */
    char *(*getcwd)(char *buf, size_t size);
    char *(*realpath)(const char *native, char *resolved); /* resolved: PATH_MAX bytes */
    long (*readlink)(const char *native, char *buf, size_t size);
    int (*symlink)(const char *target, const char *native);
    int (*flock)(int fd); /* an exclusive lock, never waiting: EWOULDBLOCK when held */
    int (*open_source)(const char *native); /* to read, never waiting on a pipe: a descriptor, or -1 */
    /* A folder handle's calls.  dir_open_at lists the folder name in the
     * open folder dir (a descriptor, or AT_FDCWD for a native path) as
     * dir_open does, and puts the listing's own descriptor, valid until
     * dir_close, in *fd; unlink_at removes a file, or an empty folder,
     * by its name in dir. */
    void *(*dir_open_at)(int dir, const char *name, int nofollow, int *fd);
    int (*unlink_at)(int dir, const char *name, int folder);
    int (*rename_at)(int dir, const char *from, const char *to, int replace); /* in dir; EEXIST unless replace */
    int (*open_new_at)(int dir, const char *name); /* a new file, never a link: a descriptor, or -1 */
    int (*mount_root)(int parent, int fd); /* fd (in parent) is a mount's root, a bind's too: 1, 0, or -1 */
#else
    /* The calls that map paths and decide on them, as the system names them. */
    unsigned long (*attributes)(const char *native); /* GetFileAttributes: ~0 when none */
    unsigned long (*full_path)(const char *native, char *buf, unsigned long size);
    unsigned long (*long_path)(const char *native, char *buf, unsigned long size);
    unsigned long (*current_dir)(unsigned long size, wchar_t *buf);
#endif
    /* ---- what an open reached, the folder lock, file identities and whole-file copies ---- */
    int (*settle)(FILE *f, const char *mode); /* a regular file, truncated for "w": 0, or -1 with errno */
    void (*write_close)(FILE *f, const char *text, size_t len); /* see plat_write_close_raw */
#ifndef _WIN32
    int (*open_lock)(const char *native, struct stat *held); /* an fd on a regular file, or -1 with errno */
    int (*close)(int fd);
    int (*open_std)(int fd); /* the null device as standard descriptor fd, when fd is closed */
    void (*sync)();          /* every file system */
#else
    int (*identity)(const wchar_t *native, unsigned long id[3]); /* volume, index: 1, 0 when none, -1 */
    int (*open_lock)(const char *name);                          /* 1 held to the end, 0 held elsewhere, -1 */
    int (*copy_file)(const char *from, const char *to);          /* never over a file: 0, or -1 with errno */
    int (*set_attributes)(const char *native, unsigned long attributes);
    unsigned long (*module_path)(wchar_t *buf, unsigned long size); /* the program's own path */
    unsigned long (*final_path)(const char *native, char *buf, unsigned long size);
    int (*probe_create)(const char *native); /* a new file, gone when closed: 0, or -1 with errno */
#endif
    /* The journal's look at what a name holds, a link not followed: 0, or
     * -1 with errno (ENOENT when nothing is there). */
    int (*name_identity)(const char *native, plat_identity *id);
};
plat_syscalls *plat_syscall_table(); /* the live table */
/* The real calls, which tests never swap: an interruption's last words use
 * them (each async-signal-safe on POSIX). */
const plat_syscalls *plat_real_calls();
long long plat_clock(); /* the wall clock, in the units of plat_identity's times */
long long plat_clock_late(); /* the same clock, read so that no file time set before is later */
void plat_syscall_reset();           /* back to the real calls */

/* Maps an installer path to the native path used by the OS, into buf.
 * Returns 1, or 0 with errno set when it does not fit (ENAMETOOLONG) or a
 * name in it is ambiguous (ENOTUNIQ).  Exposed for tests and messages. */
int plat_native_path(const char *path, char *buf, int size);

/* The device that a name in path stands for on this system, whatever its
 * extension ("NUL" for "\x\nul.txt\"), upper case, into device (size
 * bytes): 1, or 0 when no name in path is a device.  Only Windows reserves
 * such names; elsewhere 0. */
int plat_device_name(const char *path, char *device, int size);

/* The first name in path that Windows would read as another (one ending
 * with a dot or a space, which the system drops, or a device's), into
 * name (size bytes): 1, or 0 when there is none.  "." and ".." are no
 * such names.  Only Windows reads names so; elsewhere 0. */
int plat_misread_name(const char *path, char *name, int size);

/* Turns text read from a UTF-8 file (terminated, in a buffer of size bytes)
 * into the encoding the system's names use, in place: on Windows the ANSI
 * code page, exactly (never by best fit); elsewhere names are bytes and it
 * stays as it is.  1, or 0 with text unchanged when some character has no
 * exact form there. */
int plat_from_utf8(char *text, int size);

/* ---- what a path really is ----
 *
 * The guards that keep the installer from deleting what it must not decide
 * on what a path names, never on how it is spelt.  The canonical form is
 * absolute, with "." and ".." resolved, links and short (8.3) names turned
 * into the real long names as far as the path exists, and no trailing
 * separator except a root's.  Where folders exist, their identity (volume
 * and file number, or device and inode) settles what the spelling cannot:
 * other drive letters, network names and bind mounts for the same folder. */

/* The canonical form of an installer path, in native form, into buf: 1, or 0 when it cannot be made or does not fit. */
int plat_canonical_path(const char *path, char *buf, int size);

/* The canonical form of the file path, from its folder's canonical form
 * (canonical_folder, as plat_canonical_path gave it) and the file's own
 * name as the system spells it (from native, a look-up's native form of
 * path, when the caller has one); a link at its end is not followed.  For
 * the many files of one folder: the folder is resolved once.  Returns 1,
 * or 0 when it cannot be made or does not fit. */
int plat_canonical_child(const char *canonical_folder, const char *path, const char *native, char *buf, int size);

/* The guards' answers.  A guard that protects a deletion or a clean-up
 * refuses on PLAT_UNKNOWN: a path whose canonical form cannot be made, or
 * a folder that exists but cannot be examined (errno says why). */
enum plat_answer { PLAT_NO = 0, PLAT_YES = 1, PLAT_UNKNOWN = -1 };

/* PLAT_YES when path names the root of a drive or volume (on Windows "C:", a UNC share root, the same
 * folder under another letter; on POSIX the mapped root or "/", or a folder that holds it). */
int plat_is_root(const char *path);
/* PLAT_YES when both installer paths name the same folder. */
int plat_same_dir(const char *a, const char *b);

/* PLAT_YES when the folder `outer` is the folder `inner` or one of its
 * ancestors (both installer paths; by their canonical forms, and by
 * identity for the folders that exist). */
int plat_dir_contains(const char *outer, const char *inner);

/* Whether a new file can be made at path (as an exclusive create would find), leaving nothing behind
 * whatever ends the process: on Linux an unnamed file in its folder stands in for it; elsewhere the file
 * made is removed at once.  1, or 0 with errno (EEXIST when the name is taken). */
int plat_probe_create(const char *path);

/* ---- console ---- */

/* Gives each closed standard descriptor the null device, so that no file opened later takes its
 * place, and makes writes to a console that is gone (a pipe nobody reads) fail instead of ending
 * the process.  First thing at start-up. */
void plat_std_streams_ready();
/* 1 the first time it is asked after console output was lost (the write's
 * errno in *err); from then on the console is not written. */
int plat_console_lost(int *err);

void plat_out(const char *text); /* standard output, buffered */
void plat_printf(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void plat_flush();               /* make pending output visible */
void plat_err(const char *text); /* standard error, at once */
void plat_progress();            /* flush when a person is watching */
/* Reads one line (newline kept, at most size - 1 bytes) after flushing the
 * output; the rest of an over-long line is discarded.  Returns 1, or 0 at
 * the end of input with buf left as it was. */
int plat_read_line(char *buf, int size);
void plat_discard_typeahead(); /* only when stdin is a terminal */

/* ---- leaving the process ---- */

/* The one way out of the process before main returns: runs the exit hook
 * when one is set (tests set one to survive the exit in-process; a hook
 * may leave by longjmp or an exception), then ends the process. */
[[noreturn]] void plat_exit(int status);
typedef void (*plat_exit_hook)(int status);
plat_exit_hook plat_set_exit_hook(plat_exit_hook hook); /* returns the previous one */

/* ---- process and machine ---- */

/* Why the platform cannot be used as it is set up (one line, no line end),
 * or null.  Checked before anything is written. */
const char *plat_setup_problem();

/* The computer's name, at most 63 characters, into buf (64 bytes): 1, or 0 when it cannot be read. */
int plat_computer_name(char *buf, int size);
long plat_process_id();
/* Turns the trailing "XXXXXX" of templ into a name not in use in the current directory: 1, or 0. */
int plat_mktemp(char *templ);
/* The running program's path in installer form, such that its folder part
 * names the folder that holds the program: taken from the system, and from
 * argv0 (the path as started) only when the system cannot tell. */
int plat_program_path(const char *argv0, char *buf, int size);

#endif
