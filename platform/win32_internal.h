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

#endif
