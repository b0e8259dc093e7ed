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
 * listed.  An
 * entry whose name holds a backslash, or cannot be spelt in the system's
 * code page, is listed with PLAT_ATTR_UNNAMED added to its bits, so that
 * it can be reported; names that do not fit are skipped. */
constexpr int PLAT_FIND_NOFOLLOW = 1;
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
/* Opens the source of a whole-file copy for reading, as plat_fopen(path,
 * "rb") does, and puts its size in *size, read from the open file, so the
 * size is that of what was opened.  Only a regular file is opened.  The
 * stream, or null with errno set. */
FILE *plat_open_source(const char *path, long long *size);
/* Copies the whole of the just-opened stream in (of size bytes, as
 * plat_open_source gave it) to the just-opened stream out, in the kernel
 * where the system can (copy_file_range, then sendfile) and else in large
 * blocks.  Returns the bytes copied, which are exactly size, with out
 * flushed; or -1 with errno set (EIO when the source ended before size
 * bytes, or grew while read in blocks). */
long long plat_copy_file(FILE *in, FILE *out, long long size);

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
};
/* Looks up an installer path into n; returns n->kind. */
int plat_look_up(const char *path, plat_name *n);

/* ---- a folder handle: one folder, listed once ----
 *
 * A copy step works in one target folder at a time.  It opens the folder
 * once, its case resolved and no link at its end followed, and its names
 * are read into a case-blind set that the handle owns.  A name is then
 * looked up in the set: one the folder lacks costs no call to the system.
 * A file a step creates or renames through the handle enters the set.  A
 * name another program adds while the step runs is not promised to be
 * seen; an exclusive create that meets it (EEXIST) never overwrites it. */
/* Opens the folder path (with PLAT_FIND_NOFOLLOW: not when it is a link),
 * or the folder name in the open folder parent, never following a link
 * at name (on POSIX in the parent's own descriptor, so that a folder
 * swapped for a link since the parent was listed is never entered).  Null
 * with errno: ENOENT or ENOTDIR when there is no such folder, ELOOP for a
 * link, another errno when it could not be listed whole. */
plat_folder *plat_folder_open(const char *path, int flags);
plat_folder *plat_folder_open_in(plat_folder *parent, const char *name, int flags);
void plat_folder_close(plat_folder *f);
/* plat_look_up of the bare name in f. */
int plat_folder_look_up(plat_folder *f, const char *name, plat_name *n);
/* The names of f, one per call from *at = 0 on, each with its PLAT_ATTR_*
 * bits as listed (attrib may be null); null at the end. */
const char *plat_folder_next(const plat_folder *f, unsigned *at, unsigned *attrib);
/* plat_rename_new of two bare names in f (from as the set spells it). */
int plat_folder_rename_new(plat_folder *f, const char *from, const char *to);
/* Removes the file, or the empty folder, of that exact name in f: 0, or
 * -1 with errno. */
int plat_folder_remove(plat_folder *f, const char *name, int folder);

/* Creates the temporary file `name` exclusively in the folder of the
 * looked-up beside and describes it in temp.  A temporary name is taken as
 * written: nothing looks it up case-blind.  An interruption removes the
 * file until plat_replace_named or plat_remove_named is done with it. */
FILE *plat_create_temp(const plat_name *beside, const char *name, plat_name *temp);
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
 * in the target's folder (O_TMPFILE), which vanishes with the process
 * however it ends.  Null with errno ENOSYS where the system or the file
 * system has none: a temporary file of plat_create_temp stands in.  An
 * unnamed file leaves temp->native empty; plat_remove_named of it does
 * nothing (closing it is enough). */
FILE *plat_create_hidden(const plat_name *target, plat_name *temp);
/* Closes out, the complete file of plat_create_hidden (or its stand-in),
 * and gives it the
 * target's name without ever replacing a file: EEXIST when the name
 * appeared meanwhile.  0, or -1 with errno; after a failure the caller
 * removes temp. */
int plat_publish_named(FILE *out, const plat_name *temp, const plat_name *target);
/* Makes `to` a second name of the file `from` (a hard link), never
 * replacing: EEXIST when `to` is there; another errno (EPERM, EXDEV,
 * ENOSYS, ...) where the file system cannot link. */
int plat_link(const char *from, const char *to);

/* ---- permissions ---- */

/* A new copy gets the permission bits of its source, as far as the umask
 * lets them (POSIX; nothing to do on Windows).  0, or -1 with errno. */
int plat_mode_from(FILE *out, FILE *source);
/* A folder a backup made is no more open than the folder it saves (POSIX:
 * its permission bits as far as the umask lets them).  0, or -1. */
int plat_dir_mode_from(const char *dir, const char *source_dir);

/* 1 when the installer path maps to native (as plat_native_path gives
 * it), else 0; asks the system only when the two could match. */
int plat_names_native(const char *path, const char *native);
/* 0 when the existing file at native (as plat_look_up gave it)
 * may be written, else -1 with errno set (EACCES, EROFS, ...): what an
 * open for writing would find, without opening it. */
int plat_may_write(const char *native);
/* 1 when a name in path matches several entries that differ only in case
 * (and none exactly): such a path names nothing, and every operation on
 * it fails with errno ENOTUNIQ. */
int plat_path_ambiguous(const char *path);
/* 1 when path is a symbolic link (or another reparse point). */
int plat_is_link(const char *path);
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

/* ---- one atomic replace ----
 *
 * New content replaces a file through a temporary file created afresh
 * beside it (exclusively, never through a link), which first gets the
 * mode, owner and group of the file it replaces (POSIX: an owner the
 * process may not give stays the process's, and a group it may not give
 * gets no rights; on Windows a looked-up target's attributes are taken
 * over at the rename instead); every write is checked, and the file takes
 * the target's name in one rename.  On any failure the temporary file goes and the target stays
 * exactly as it was.  Every begin ends in a commit or an abort.
 *
 * Durability: the content is on the disk (fsync) before the rename, and
 * the folder's new name (a folder sync) after it, so that after a crash
 * the target holds its old content or its new one, whole.  With
 * PLAT_REPLACE_SYNC_LATER, for the many files of a copy step, neither sync
 * is made here: the target is noted for plat_sync_now, which the step calls
 * before it counts as done; a crash before that may leave the old content,
 * the new, or, on a file system that does not order data before renames,
 * an empty file. */
constexpr unsigned PLAT_REPLACE_NATIVE = 1;     /* target and temp are native paths */
constexpr unsigned PLAT_REPLACE_TEXT = 2;       /* written in text mode (CRLF line ends on Windows) */
constexpr unsigned PLAT_REPLACE_SYNC_LATER = 4; /* durable at plat_sync_now (installer paths only) */
struct plat_replacing {
    FILE *out;          /* the temporary file; a writer that writes it itself sets err */
    int err;            /* errno of the first failure; 0 while all is well */
    unsigned flags;     /* PLAT_REPLACE_* */
    const char *target; /* as the caller named them; the caller keeps them */
    const char *temp;
    const plat_name *named; /* the looked-up target of plat_replace_begin_named */
    plat_name named_temp;   /* and its temporary file */
};
/* Starts replacing target through the temporary file temp, a name in the
 * target's folder that the caller chose.  1, or 0 with errno (EEXIST when
 * temp is taken: the caller may try another name); nothing is left. */
int plat_replace_begin(plat_replacing *r, const char *target, const char *temp, unsigned flags);
/* plat_replace_begin on the installer path target as its look-up t found
 * it, through the file of the bare name temp in its folder, made, renamed
 * and removed by native names (plat_create_temp, plat_replace_named): no
 * second look-up, and on Windows the target's attributes are kept.  A
 * target that is no regular file gives no mode: the new file keeps its own. */
int plat_replace_begin_named(plat_replacing *r, const char *target, const plat_name *t, const char *temp,
                             unsigned flags);
/* Appends len bytes; 1, or 0 once any write failed. */
int plat_replace_write(plat_replacing *r, const void *bytes, size_t len);
/* What plat_replace_commit did: done, or the step that failed (errno). */
enum plat_replace_step { PLAT_REPLACE_DONE, PLAT_REPLACE_WRITE, PLAT_REPLACE_RENAME, PLAT_REPLACE_SYNC_DIR };
/* Syncs, closes and renames as above.  PLAT_REPLACE_WRITE (a write, the
 * sync or the close failed) and PLAT_REPLACE_RENAME leave the target as it
 * was; PLAT_REPLACE_SYNC_DIR means it was replaced but the new name may
 * not be on the disk yet. */
int plat_replace_commit(plat_replacing *r);
/* Gives up: closes and removes the temporary file; the target stays. */
void plat_replace_abort(plat_replacing *r);

/* ---- the journal of a run that can be put back ----
 *
 * A run that must be all or nothing notes each change to the disk in a
 * journal file before it makes it; the note is on the disk (synced) before
 * the call returns.  Notes name native paths, so that a later start puts
 * them back whatever its environment.  Putting back goes newest first: a
 * file or folder the run made is removed, a file moved aside is renamed
 * back over its name, a rename is reversed, a folder removed is made again.
 * An interruption (plat_on_interrupt) puts back everything noted before
 * the process ends, and a killed run's journal is put back at the next
 * start (plat_journal_recover). */
enum plat_journal_op {
    PLAT_JOURNAL_MADE_DIR,    /* a: a folder made where none was */
    PLAT_JOURNAL_MADE_FILE,   /* a: a file made where none was */
    PLAT_JOURNAL_ASIDE,       /* a: a file about to be replaced or removed, kept as b (a name aside in its folder) */
    PLAT_JOURNAL_RENAMED,     /* a about to be renamed to b, which is free */
    PLAT_JOURNAL_REMOVED_DIR, /* a: an empty folder about to be removed */
};
/* Starts the journal file `name` (in the current directory) afresh: 1, or
 * 0 with errno (EEXIST when one is there: recover it first). */
int plat_journal_start(const char *name);
int plat_journal_active(); /* 1 between start and commit or rollback */
/* Notes a change about to be made (a and b installer paths, b null where
 * unused), synced before it returns: 1, or 0 with errno, and then the
 * change must not be made.  Does nothing (1) while no journal is active. */
int plat_journal_note(int op, const char *a, const char *b);
/* The change last noted was made: what it left at a is noted (not synced),
 * so that a later start can tell it from a change made since. */
void plat_journal_made();
/* A name aside for the file path (installer form): in its folder, one of
 * the journal's reserved names, not in use.  1, or 0 with errno. */
int plat_journal_aside_name(const char *path, char *buf, int size);
/* Reports a change that could not be put back, or a file moved aside that
 * could not be removed: what (a short phrase), the native path, errno. */
typedef void (*plat_journal_report)(const char *what, const char *native, int err);
/* The run succeeded: the journal is marked committed, the files moved
 * aside are removed and the journal goes.  1, or 0 when some of it failed
 * (each reported; a committed journal is never put back). */
int plat_journal_commit(plat_journal_report report);
/* Puts back every change noted, newest first.  The journal goes when all
 * were put back; else it is renamed "<name>.failed" and kept for a look.
 * Returns the number of changes put back; *failed the number that could
 * not be (each reported). */
int plat_journal_rollback(int *failed, plat_journal_report report);
/* The journal `name` left by a killed run: put back the same way, each
 * change only where what is there is what the run left, else reported and
 * left as it is, never overwritten (a committed one only finishes its
 * commit).  -1 when there is no such journal; else as plat_journal_rollback. */
int plat_journal_recover(const char *name, int *failed, plat_journal_report report);
/* For the last words of an interruption (async-signal-safe): the number of
 * changes it put back, and in *failed the number it could not (its journal
 * is then left for the next start). */
int plat_journal_interrupted(int *failed);

/* ---- one installer per folder ---- */

/* Takes an exclusive lock on the file `name` in the current directory, held
 * until the process ends, whatever ends it; the file goes at a normal exit.
 * 1 locked; 0 another process holds it; -1 no lock file can be made here. */
int plat_lock_folder(const char *name);

/* ---- interruption ---- */

/* From now on Ctrl-C, SIGINT, SIGTERM and SIGHUP (the console control
 * events on Windows) remove the temporary files in progress, call
 * last_words (which must be async-signal-safe) and end the process with
 * PLAT_INTERRUPTED_STATUS.  The lock of plat_lock_folder goes with it. */
constexpr int PLAT_INTERRUPTED_STATUS = 130; /* 128 + SIGINT, as shells report it */
void plat_on_interrupt(void (*last_words)());
/* Async-signal-safe: writes text to the stream's file directly (its line
 * ends as the stream's mode wants them) and closes the file. */
void plat_write_close_raw(FILE *f, const char *text, size_t len);

#ifndef _WIN32
struct stat;
#endif

/* What is at a name, to tell the file a run left there from one put there
 * since: its kind (PLAT_KIND_*), size, times in the system's own units (the
 * clock the journal stamps its notes with), and device and file number
 * where the system gives them. */
struct plat_identity {
    int kind;
    long long size, modified, changed, device, index;
};

/* The real system calls, reached through one table that tests may patch to
 * inject faults (disk full, failed rename, ...).  All take native paths. */
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
    long long (*fsize)(FILE *f); /* fstat's size of an open stream */
    /* Kernel copies of up to len bytes from in to out at their file
     * offsets: bytes moved, 0 at the source's end, or -1 with errno;
     * ENOSYS when the system cannot do it for these files (then nothing
     * moved). */
    long long (*copy_range)(FILE *in, FILE *out, size_t len);
    long long (*send_file)(FILE *in, FILE *out, size_t len);
    /* A directory listing, entry by entry, as the system gives it: open
     * takes the folder (POSIX) or the pattern "folder\*" (Windows) and
     * returns null with errno when it cannot be listed (ELOOP or ENOTDIR
     * when nofollow and the folder is a link); read fills the next
     * entry's name and attribute bits and returns 1, or 0 at the end
     * (errno ENOENT) or on a failure (another errno). */
    void *(*dir_open)(const char *native, int nofollow);
    int (*dir_read)(void *dir, plat_find_entry *entry);
    void (*dir_close)(void *dir);
    int (*may_write)(const char *native); /* 0 when a file may be written, else -1 */
    /* An unnamed new file in the folder dir (O_TMPFILE), opened "wb", or
     * null with errno (ENOSYS where the system or file system has none). */
    FILE *(*open_unnamed)(const char *dir);
    int (*link_unnamed)(FILE *f, const char *to);      /* its first name; EEXIST when taken */
    int (*link)(const char *from, const char *to);     /* a hard link; EEXIST when taken */
    int (*move_new)(const char *from, const char *to); /* a rename that never replaces */
    int (*mode_from)(FILE *out, FILE *source);         /* see plat_mode_from */
    int (*mode_like)(FILE *out, const char *native);   /* see the atomic replace */
    int (*dir_mode_from)(const char *dir, const char *source);
#ifndef _WIN32
    /* The calls that map paths, decide on them and lock a folder. */
    int (*stat)(const char *native, struct stat *st);  /* links followed */
    int (*lstat)(const char *native, struct stat *st); /* a link itself */
    char *(*getcwd)(char *buf, size_t size);
    char *(*realpath)(const char *native, char *resolved); /* resolved: PATH_MAX bytes */
    long (*readlink)(const char *native, char *buf, size_t size);
    int (*symlink)(const char *target, const char *native);
    int (*flock)(int fd); /* an exclusive lock, never waiting: EWOULDBLOCK when held */
    /* A folder handle's calls.  dir_open_at lists the folder name in the
     * open folder dir (a descriptor, or AT_FDCWD for a native path) as
     * dir_open does, and puts the listing's own descriptor, valid until
     * dir_close, in *fd; unlink_at removes a file, or an empty folder,
     * by its name in dir. */
    void *(*dir_open_at)(int dir, const char *name, int nofollow, int *fd);
    int (*unlink_at)(int dir, const char *name, int folder);
#else
    /* The calls that map paths and decide on them, as the system names them. */
    unsigned long (*attributes)(const char *native); /* GetFileAttributes: ~0 when none */
    unsigned long (*full_path)(const char *native, char *buf, unsigned long size);
    unsigned long (*long_path)(const char *native, char *buf, unsigned long size);
    unsigned long (*current_dir)(unsigned long size, wchar_t *buf);
#endif
    /* The journal's look at what a name holds, a link not followed: 0, or
     * -1 with errno (ENOENT when nothing is there). */
    int (*identity)(const char *native, plat_identity *id);
};
plat_syscalls *plat_syscall_table(); /* the live table */
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

/* The canonical form of an installer path, in native form, into buf.
 * Returns 1, or 0 when it cannot be made or does not fit. */
int plat_canonical_path(const char *path, char *buf, int size);

/* The canonical form of the file path, from its folder's canonical form
 * (canonical_folder, as plat_canonical_path gave it) and the file's own
 * name as the system spells it; a link at its end is not followed.  For
 * the many files of one folder: the folder is resolved once.  Returns 1,
 * or 0 when it cannot be made or does not fit. */
int plat_canonical_child(const char *canonical_folder, const char *path, char *buf, int size);

/* The guards' answers.  A guard that protects a deletion or a clean-up
 * refuses on PLAT_UNKNOWN: a path whose canonical form cannot be made, or
 * a folder that exists but cannot be examined (errno says why). */
enum plat_answer { PLAT_NO = 0, PLAT_YES = 1, PLAT_UNKNOWN = -1 };

/* PLAT_YES when path names the root of a drive or volume (on Windows
 * "C:", a UNC share root, the same folder under another letter; on POSIX
 * the mapped root or "/", or a folder that holds it). */
int plat_is_root(const char *path);

/* PLAT_YES when both installer paths name the same folder. */
int plat_same_dir(const char *a, const char *b);

/* PLAT_YES when the folder `outer` is the folder `inner` or one of its
 * ancestors (both installer paths; by their canonical forms, and by
 * identity for the folders that exist). */
int plat_dir_contains(const char *outer, const char *inner);

/* Whether a new file can be made at path (as an exclusive create would
 * find), leaving nothing behind whatever ends the process: on Linux an
 * unnamed file in its folder stands in for it; elsewhere the file made is
 * removed at once.  1, or 0 with errno (EEXIST when the name is taken). */
int plat_probe_create(const char *path);

/* ---- console ---- */

/* Gives each closed standard descriptor the null device, so that no file
 * opened later takes its place, and makes writes to a console that is gone
 * (a pipe nobody reads) fail instead of ending the process.  First thing
 * at start-up. */
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

/* The computer's name, at most 63 characters, into buf (64 bytes).
 * Returns 1, or 0 when it cannot be read. */
int plat_computer_name(char *buf, int size);
long plat_process_id();
/* Turns the trailing "XXXXXX" of templ into a name not in use in the
 * current directory.  Returns 1, or 0 when no name could be made. */
int plat_mktemp(char *templ);
/* The running program's path in installer form, such that its folder part
 * names the folder that holds the program: taken from the system, and from
 * argv0 (the path as started) only when the system cannot tell. */
int plat_program_path(const char *argv0, char *buf, int size);

#endif
