// A small Windows program the end-to-end tests run under Wine for what the
// native test driver cannot ask the emulator itself:
//
//   win_helper short PATH      prints PATH's short (8.3) form
//   win_helper run COMMAND...  starts COMMAND as its command line (so its
//                              first word is the program's argv[0] exactly as
//                              written), with this console, and exits with
//                              its exit status
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

static int short_name(const char *path)
{
    char buf[MAX_PATH * 4];
    DWORD n = GetShortPathNameA(path, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) {
        fprintf(stderr, "GetShortPathNameA(%s) failed: %lu\n", path, GetLastError());
        return 1;
    }
    printf("%s\n", buf);
    return 0;
}

static int run(int argc, char **argv)
{
    std::string line;
    for (int i = 0; i < argc; i++) line += (i ? " " : "") + std::string(argv[i]);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "CreateProcessA(%s) failed: %lu\n", line.c_str(), GetLastError());
        return 127;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return (int)status;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "short") == 0) return short_name(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "run") == 0) return run(argc - 2, argv + 2);
    fprintf(stderr, "usage: win_helper short PATH | run COMMAND...\n");
    return 2;
}
