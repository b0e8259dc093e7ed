/* Shared inside the Win32 platform layer only. */
#ifndef QUILLOR_WIN32_INTERNAL_H
#define QUILLOR_WIN32_INTERNAL_H

#include <windows.h>

constexpr DWORD WIN_PATH_MAX = MAX_PATH * 4; /* longest path passed to the system, terminator included */

#endif
