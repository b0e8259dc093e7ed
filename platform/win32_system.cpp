/* Win32 platform layer: durability (flushing files and folders), the lock
 * that lets one installer work in a folder, interruption by the console,
 * the console itself, and the process and machine (computer name, the
 * program's own path).
 *
 * Not here: the calls on files and folders (platform_win32.cpp), nor what
 * a path really is (win32_paths.cpp).
 */
#ifdef _WIN32

#include "platform/platform.h"
#include "platform/win32_internal.h"

#include <windows.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

/* ---- durability ---- */

static HANDLE handle_of(FILE *f) { return (HANDLE)_get_osfhandle(_fileno(f)); }

int plat_sys_fsync(FILE *f)
{
    if (fflush(f) != 0) return -1;
    if (FlushFileBuffers(handle_of(f))) return 0;
    errno = errno_from_win32(GetLastError());
    return -1;
}

/* Flushes what was written to the file or folder at native. */
static int flush_path(const char *native, DWORD flags)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole) return -1;
    HANDLE h = CreateFileA(whole, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) {
        errno = errno_from_win32(GetLastError());
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return -1;
    }
    CloseHandle(h);
    return 0;
}

int plat_sys_sync_dir(const char *native)
{
    char dir[MAX_PATH * 4];
    size_t n = strlen(native);
    if (n >= sizeof dir) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(dir, native, n + 1);
    while (n > 0 && dir[n - 1] != '\\' && dir[n - 1] != '/' && dir[n - 1] != ':') dir[--n] = '\0';
    if (n == 0) memcpy(dir, ".\\", 3);
    return flush_path(dir, FILE_FLAG_BACKUP_SEMANTICS);
}

/* A volume can be flushed only by an administrator: here "the file system
 * holding native" is flushed file by file, native being the file. */
int plat_sys_sync_fs(const char *native) { return flush_path(native, FILE_ATTRIBUTE_NORMAL); }

long long plat_sys_fsize(plat_file *f)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_of(f->f), &size)) return -1;
    return (long long)size.QuadPart;
}

/* No kernel copy between two open files here: the copy goes in large
 * blocks. */
long long plat_sys_copy_range(plat_file *, plat_file *, size_t)
{
    errno = ENOSYS;
    return -1;
}

long long plat_sys_send_file(plat_file *, plat_file *, size_t)
{
    errno = ENOSYS;
    return -1;
}

static int sync_failed, sync_errno;

void plat_sync_later(const char *path)
{
    if (path && plat_syscall_table()->sync_fs(path) != 0) {
        sync_failed = 1;
        sync_errno = errno;
    }
}

int plat_sync_now()
{
    int ok = !sync_failed;
    errno = sync_errno;
    sync_failed = sync_errno = 0;
    return ok;
}

/* ---- what a name holds, for a journal of changes ---- */

static long long file_time(FILETIME t) { return (long long)t.dwHighDateTime << 32 | t.dwLowDateTime; }

int plat_sys_name_identity(const char *native, plat_identity *id)
{
    char buf[WIN_PATH_MAX];
    const char *whole = win32_whole(native, buf, sizeof buf);
    if (!whole) return -1;
    HANDLE h = win32_open_entry(whole, FILE_FLAG_OPEN_REPARSE_POINT);
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    DWORD e = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) {
        errno = errno_from_win32(e);
        return -1;
    }
    DWORD attr = info.dwFileAttributes;
    id->kind = (attr & FILE_ATTRIBUTE_REPARSE_POINT) ? PLAT_KIND_OTHER
               : (attr & FILE_ATTRIBUTE_DIRECTORY)   ? PLAT_KIND_DIR
                                                     : PLAT_KIND_FILE;
    id->size = (long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    id->modified = file_time(info.ftLastWriteTime);
    long long made = file_time(info.ftCreationTime); /* a file made anew, from a copy, has no newer write */
    id->changed = made > id->modified ? made : id->modified;
    id->device = (long long)info.dwVolumeSerialNumber;
    id->index = (long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 0;
}

/* A note's time is taken 20 ms early: file times may come from a coarser
 * clock than this one (Wine's from the kernel's), and a file the run made
 * right after its note must never look older than the note. */
long long plat_clock()
{
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return file_time(t) - 200000; /* 100 ns units */
}

long long plat_clock_late() { return plat_clock() + 400000; /* as late as plat_clock is early */ }

/* ---- one installer per folder ---- */

/* No sharing: a second open fails while this handle lives; the system
 * closes it, and so removes the file, however the process ends. */
int plat_sys_open_lock(const char *name)
{
    if (win32_elsewhere(name) > 0) return -1; /* deleted on close: never a link's target */
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) return 1;
    DWORD e = GetLastError();
    return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ? 0 : -1; /* else: no file can be made */
}

int plat_lock_folder(const char *name) { return name ? sys().open_lock(name) : -1; }

unsigned long plat_sys_module_path(wchar_t *buf, unsigned long size) { return GetModuleFileNameW(nullptr, buf, size); }

/* ---- interruption ---- */

void plat_sys_unlink_now(const char *native) { DeleteFileA(native); }

static void (*interrupt_words)();
static HANDLE main_thread;

void plat_sys_interrupted()
{
    plat_remove_temps_now();
    if (interrupt_words) interrupt_words();
    TerminateProcess(GetCurrentProcess(), PLAT_INTERRUPTED_STATUS);
}

/* Runs on a thread of its own: the main thread is stopped first, so that
 * nothing it does races the clean-up.  While it creates a temporary file it
 * goes on, and ends the process itself once the file is known. */
static BOOL WINAPI on_console_event(DWORD)
{
    if (main_thread) SuspendThread(main_thread);
    if (plat_interrupt_must_wait()) {
        if (main_thread) ResumeThread(main_thread);
        return TRUE;
    }
    plat_sys_interrupted();
    return TRUE;
}

void plat_on_interrupt(void (*last_words)())
{
    interrupt_words = last_words;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void plat_std_streams_ready()
{
    FILE *streams[] = {stdin, stdout, stderr};
    for (int fd = 0; fd <= 2; fd++)
        if (_get_osfhandle(fd) == -1) /* closed: the null device keeps the number */
            freopen("NUL", fd == 0 ? "r" : "w", streams[fd]);
}

/* Writes text with CRLF line ends, as the text-mode log has them. */
void plat_sys_write_close(FILE *f, const char *text, size_t len)
{
    HANDLE h = handle_of(f);
    char buf[2048];
    size_t n = 0;
    for (size_t i = 0; i < len && n + 2 < sizeof buf; i++) {
        if (text[i] == '\n') buf[n++] = '\r';
        buf[n++] = text[i];
    }
    DWORD done;
    SetFilePointer(h, 0, nullptr, FILE_END);
    WriteFile(h, buf, (DWORD)n, &done, nullptr);
    CloseHandle(h);
}

/* ---- console ---- */

void plat_progress()
{
    if (_isatty(_fileno(stdout))) plat_flush();
}

void plat_discard_typeahead()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode)) FlushConsoleInputBuffer(in);
}

/* ---- process and machine ---- */

int plat_computer_name(char *buf, int size)
{
    HKEY key;
    DWORD type = 0, len = (DWORD)size;
    if (!buf || size < 1) return 0;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", &key) !=
        ERROR_SUCCESS)
        return 0;
    LONG r = RegQueryValueExA(key, "ComputerName", nullptr, &type, (BYTE *)buf, &len);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ || len == 0) return 0;
    if (buf[len - 1] != '\0') {
        if (len >= (DWORD)size) return 0; /* no room for the terminator */
        buf[len] = '\0';
    }
    return buf[0] != '\0'; /* an empty name is no name */
}

long plat_process_id() { return (long)GetCurrentProcessId(); }

const char *plat_setup_problem() { return nullptr; } /* paths are used as typed */

int plat_mktemp(char *templ) { return templ && _mktemp(templ) ? 1 : 0; }

/* 1 when the folder (wide, with its trailing backslash) is the current
 * directory: by volume and file index, else by name.  Asked wide, so that
 * a name the ANSI code page cannot hold is compared as it is. */
static int is_current_folder(const WCHAR *folder)
{
    WCHAR cwd[WIN_PATH_MAX];
    DWORD n = sys().current_dir(WIN_PATH_MAX, cwd);
    if (n == 0 || n >= WIN_PATH_MAX - 1) return 0;
    if (cwd[n - 1] != L'\\') { /* fits: checked above */
        cwd[n] = L'\\';
        cwd[n + 1] = L'\0';
    }
    unsigned long a[3], b[3];
    if (sys().identity(folder, a) > 0 && sys().identity(cwd, b) > 0) return memcmp(a, b, sizeof a) == 0;
    return _wcsicmp(folder, cwd) == 0;
}

/* The ANSI form of a wide path; a character the code page lacks becomes
 * "?", which names nothing, never a best fit (which could be a separator). */
static int ansi_path(const WCHAR *w, char *out, int size)
{
    DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    return WideCharToMultiByte(CP_ACP, flags, w, -1, out, size, nullptr, nullptr) > 0;
}

/* Where the program really is, whatever its command line says: a relative
 * path with "/", or a bare name found on PATH, names some other folder.
 * From the current directory it is ".\name", as on POSIX, whatever the
 * code page can spell of that directory's name. */
int plat_program_path(const char *argv0, char *buf, int size)
{
    WCHAR exe[WIN_PATH_MAX];
    if (!buf || size < 4) return 0;
    DWORD n = sys().module_path(exe, WIN_PATH_MAX);
    if (n == 0) return argv0 && plat_native_path(argv0, buf, size); /* the system could not tell */
    WCHAR *cut = wcsrchr(exe, L'\\');
    if (n >= WIN_PATH_MAX || !cut) return 0; /* a cut path would name another folder */
    WCHAR name = cut[1];
    cut[1] = L'\0';
    int here = is_current_folder(exe);
    cut[1] = name;
    if (!here) return ansi_path(exe, buf, size);
    memcpy(buf, ".\\", 3);
    return ansi_path(cut + 1, buf + 2, size - 2);
}

#endif
