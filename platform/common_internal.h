/* Shared inside the platform layer only: what platform_common.cpp and each
 * system's files call of one another.  posix_internal.h and
 * win32_internal.h include it.
 */
#ifndef QUILLOR_COMMON_INTERNAL_H
#define QUILLOR_COMMON_INTERNAL_H

#include "platform/folder.h"
#include "platform/platform.h"
#include "platform/replace.h"

/* Maps two installer paths to their native forms and calls call on them:
 * its result, or -1 with errno (EINVAL for a null path) when they cannot
 * be mapped. */
int plat_on_natives(const char *a, const char *b, int (*call)(const char *, const char *));

/* What the native path names now, as plat_look_up tells it (each system);
 * the same for a looked-up name, in its folder handle where it has one. */
int plat_native_kind(const char *native);
int plat_name_kind(plat_name *n);
/* The next entry of a listing the table's dir_open made, as plat_find_next
 * gives it: 1, or 0 at the end (errno ENOENT) or on a failure. */
int plat_find_read(void *dir, plat_find_entry *entry);
/* A file just made at the looked-up n enters the set of its folder handle. */
void plat_folder_noted(const plat_name *n);
/* The open folder a looked-up name is in, for calls made relative to it:
 * its descriptor and in *leaf the name there; or -1 and the whole native
 * path, where there is no such folder (POSIX). */
int plat_name_at(const plat_name *n, const char **leaf);

/* ---- used by the atomic replace, made by each system ---- */

/* plat_rename of the temporary file from over the looked-up to. */
int plat_replace_named(const plat_name *from, const plat_name *to);
/* from gets the name to, never over a file (EEXIST): in their folder
 * handle when they share one, else by native paths. */
int plat_rename_new_named(const plat_name *from, const plat_name *to);
int plat_rename_native(const char *from, const char *to); /* replaces an existing target */
/* Writes the stream's data through to the disk (fflush, then fsync or
 * FlushFileBuffers).  0, or -1 with errno. */
int plat_fsync(FILE *f);
/* Makes the names in the folder that holds path durable (a rename in it).
 * 0, or -1 with errno. */
int plat_sync_dir(const char *path);

/* ---- per system: the real calls on native paths, the table's rows ---- */

FILE *plat_sys_fopen(const char *native, const char *mode);
int plat_sys_remove(const char *native);
int plat_sys_rename(const char *from, const char *to);
int plat_sys_mkdir(const char *native);
int plat_sys_rmdir(const char *native);
int plat_sys_fsync(FILE *f);
int plat_sys_sync_dir(const char *native);
int plat_sys_sync_fs(const char *native);
void plat_sys_unlink_now(const char *native); /* async-signal-safe */
long long plat_sys_fsize(plat_file *f);
/* What dir_open takes for a pattern "folder\*": 1, or 0 with errno. */
int plat_sys_find_native(const char *pattern, char *native, int size);
void *plat_sys_dir_open(const char *native, int nofollow);
int plat_sys_dir_read(void *dir, plat_find_entry *entry);
void plat_sys_dir_close(void *dir);
long long plat_sys_copy_range(plat_file *in, plat_file *out, size_t len);
long long plat_sys_send_file(plat_file *in, plat_file *out, size_t len);
int plat_sys_may_write(int at, const char *name);
int plat_sys_open_unnamed(int at, const char *dir, unsigned mode, plat_file *out);
int plat_sys_link_unnamed(plat_file *f, int at, const char *to);
int plat_sys_link(const char *from, const char *to);
int plat_sys_move_new(const char *from, const char *to);
int plat_sys_mode_from(plat_file *out, unsigned mode);
int plat_sys_mode_like(plat_file *out, int at, const char *name, const plat_name *known);
int plat_sys_dir_mode_from(const char *dir, const char *source);
void plat_sys_interrupted(); /* clean up and end the process */
int plat_sys_name_identity(const char *native, plat_identity *id);
#ifndef _WIN32
void *plat_sys_dir_open_at(int dir, const char *name, int nofollow, int *fd);
int plat_sys_unlink_at(int dir, const char *name, int folder);
int plat_sys_rename_at(int dir, const char *from, const char *to, int replace);
int plat_sys_open_new_at(int dir, const char *name);
int plat_sys_open_source(const char *native);
int plat_sys_mount_root(int parent, int fd);
#else
unsigned long plat_sys_attributes(const char *native);
unsigned long plat_sys_full_path(const char *native, char *buf, unsigned long size);
unsigned long plat_sys_long_path(const char *native, char *buf, unsigned long size);
unsigned long plat_sys_current_dir(unsigned long size, wchar_t *buf);
#endif
int plat_sys_settle(FILE *f, const char *mode);
void plat_sys_write_close(FILE *f, const char *text, size_t len); /* async-signal-safe */
#ifndef _WIN32
int plat_sys_open_lock(const char *native, struct stat *held);
int plat_sys_close(int fd);
int plat_sys_open_std(int fd);
void plat_sys_sync();
#else
int plat_sys_identity(const wchar_t *native, unsigned long id[3]);
int plat_sys_open_lock(const char *name);
int plat_sys_copy_file(const char *from, const char *to);
int plat_sys_set_attributes(const char *native, unsigned long attributes);
unsigned long plat_sys_module_path(wchar_t *buf, unsigned long size);
unsigned long plat_sys_final_path(const char *native, char *buf, unsigned long size);
int plat_sys_probe_create(const char *native);
#endif

/* The live system-call table, for every call the layer makes. */
inline plat_syscalls &sys() { return *plat_syscall_table(); }

/* ---- platform_common.cpp: the temporary files in progress ---- */

/* The table's open of a native path; a file created with "x" is entered as
 * a temporary file in progress. */
FILE *plat_open_tracked(const char *native, const char *mode);
int plat_remove_tracked(const char *native);
int plat_rename_tracked(const char *from, const char *to);
int plat_move_new_tracked(const char *from, const char *to);
#ifndef _WIN32
/* The same in an open folder at, the file's native path given for an
 * interrupt: a new file's descriptor, or -1; 0, or -1. */
int plat_open_new_tracked_at(int at, const char *name, const char *native);
int plat_remove_tracked_at(int at, const char *name, const char *native);
int plat_rename_tracked_at(int at, const char *from, const char *to, int replace, const char *native);
#endif
/* in, just opened, measured (size and mode): 1, or 0 with in closed when
 * it is not a regular file or cannot be measured. */
int plat_measured(plat_file *in);
/* The stream of a copy's file, made from its descriptor when it has none
 * yet (POSIX), for a copy that goes through the C library; null with errno. */
FILE *plat_file_stream(plat_file *f, const char *mode);
/* Called from an interrupt: removes every temporary file in progress. */
void plat_remove_temps_now();
/* Called first by an interrupt handler: 1 when the interrupt must wait. */
int plat_interrupt_must_wait();

#endif
