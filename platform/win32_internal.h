/* Shared inside the Win32 platform layer only. */
#ifndef QUILLOR_WIN32_INTERNAL_H
#define QUILLOR_WIN32_INTERNAL_H

#include <windows.h>

#include "platform/common_internal.h"

constexpr DWORD WIN_PATH_MAX = MAX_PATH * 4; /* longest path passed to the system, terminator included */

/* The one translation of Windows error codes into errno values
 * (platform_win32.cpp). */
int errno_from_win32(DWORD code);

/* plat_path_kind, also putting the native form of path into native (size
 * bytes), "" when it cannot be mapped (win32_paths.cpp). */
int win32_kind_native(const char *path, char *native, int size);

/* GetFinalPathNameByHandleA, looked up once (win32_names.cpp): null on
 * older systems, which lack it. */
typedef DWORD(WINAPI *win32_final_fn)(HANDLE, LPSTR, DWORD, DWORD);
win32_final_fn win32_final_call();

/* 1 when native starts with a prefix the system reads as a device path:
 * "\\?\", "\\.\", or "\??\", which the calls pass on unchanged as the
 * system's own name of the same place. */
inline int win32_device_prefix(const char *native)
{
    if (native[0] != '\\') return 0;
    int two = (native[1] == '\\' && (native[2] == '?' || native[2] == '.')) || (native[1] == '?' && native[2] == '?');
    return two && native[3] == '\\';
}

/* 1 when the name (len bytes) is one Windows reads as another entry when
 * a plain path spells it: it ends with a dot or a space, which the system
 * drops, or it is a device's ("nul.txt").  "." and ".." are not
 * (win32_names.cpp). */
int win32_read_as_other(const char *name, size_t len);
/* The first name in native that the system would read as another, or
 * null; a drive's "X:" is no name. */
const char *win32_first_odd(const char *native);
/* native as the system must be handed it so that every name in it is
 * taken whole: native itself, or its "\\?\" form in buf (size bytes) when a
 * name in it is read as another; null with errno when that does not fit. */
const char *win32_whole(const char *native, char *buf, size_t size);
/* Whether the file at whole (as win32_whole gives it), or the one h has
 * open there, is reached through a link: a reparse point, or a final path
 * that is not its folder's final path plus its name (a host link under the
 * emulator looks like a plain file).  1 it is, or it cannot be told; 0 it
 * is the file itself, a folder, or nothing is there; -1 with errno when
 * it cannot be opened to ask. */
int win32_elsewhere(const char *whole);
int win32_handle_elsewhere(HANDLE h, const char *whole);

/* An entry opened only to ask about it, a folder too (flags may add
 * FILE_FLAG_OPEN_REPARSE_POINT, to ask about a link itself). */
inline HANDLE win32_open_entry(const char *native, DWORD flags)
{
    return CreateFileA(native, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

#endif
