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

/* An entry opened only to ask about it, a folder too (flags may add
 * FILE_FLAG_OPEN_REPARSE_POINT, to ask about a link itself). */
inline HANDLE win32_open_entry(const char *native, DWORD flags)
{
    return CreateFileA(native, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

#endif
