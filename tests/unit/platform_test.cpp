// The platform layer: path mapping, listings, file operations, console
// input and process facts, on POSIX and on Windows.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <map>
#include <string>
#ifdef _WIN32
#include <process.h>
#endif

#include "platform/platform.h"
#include "test_util.h"

namespace {

std::string native(const char *path)
{
    char buf[4096];
    EXPECT_EQ(plat_native_path(path, buf, sizeof buf), 1);
    return buf;
}

#ifndef _WIN32  // installer paths mapped onto one POSIX tree
TEST(PathMapping, RootedPathsGoUnderTheScratchRoot)
{
    tu::Scratch s;
    EXPECT_EQ(native("\\inetpub\\scripts\\"), s.dir + "/inetpub/scripts/");
    EXPECT_EQ(native("C:\\inetpub\\x"), s.dir + "/inetpub/x");
    EXPECT_EQ(native("/a/b"), s.dir + "/a/b");
    EXPECT_EQ(native(".\\tpl"), "./tpl");
    EXPECT_EQ(native("tpl\\a.tpl"), "tpl/a.tpl");
    EXPECT_EQ(native(""), ".");
}

TEST(PathMapping, ExistingComponentsResolveCaseBlind)
{
    tu::Scratch s;
    tu::make_dirs(s.path("Inetpub/Scripts"));
    tu::write_file(s.path("Inetpub/Scripts/Quillor.INI"), "x");
    EXPECT_EQ(native("\\inetpub\\scripts\\quillor.ini"), s.dir + "/Inetpub/Scripts/Quillor.INI");
    EXPECT_EQ(native("\\INETPUB\\new\\File"), s.dir + "/Inetpub/new/File");
    FILE *f = plat_fopen("\\INETPUB\\SCRIPTS\\QUILLOR.ini", "r");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
    // after a ".." that undoes a missing name, the rest is still looked up
    EXPECT_EQ(native("\\missing\\..\\INETPUB\\scripts\\quillor.ini"), s.dir + "/Inetpub/Scripts/Quillor.INI");
    EXPECT_EQ(native("missing\\..\\inetpub\\SCRIPTS\\"), "Inetpub/Scripts/");
    // a name in the middle that matches two folders, and neither exactly, names nothing
    tu::make_dirs(s.path("Inetpub/Twin/x"));
    tu::make_dirs(s.path("Inetpub/TWIN/x"));
    char buf[4096];
    errno = 0;
    EXPECT_EQ(plat_native_path("\\inetpub\\twin\\x\\f", buf, sizeof buf), 0);
    EXPECT_EQ(errno, ENOTUNIQ);
    EXPECT_EQ(plat_path_ambiguous("\\inetpub\\twin\\x\\f"), 1);
    EXPECT_EQ(plat_fopen("\\inetpub\\twin\\x\\f", "wb"), nullptr);
    EXPECT_EQ(plat_mkdir("\\inetpub\\twin\\x\\d"), -1);
    EXPECT_FALSE(tu::exists(s.path("Inetpub/twin")));
    EXPECT_EQ(plat_path_ambiguous("\\inetpub\\Twin\\x\\f"), 0);  // the exact name settles it
}
// The mapping, the guards, the folder lock, the standard descriptors and the
// check of what an open reached go to the system only through the table: a
// failing row shows in each of them.
int fail_stat(const char *, struct stat *) { return errno = EIO, -1; }
char *fail_getcwd(char *, size_t) { return errno = EACCES, nullptr; }
char *fail_realpath(const char *, char *) { return errno = EIO, nullptr; }
long fail_readlink(const char *, char *, size_t) { return errno = EIO, -1; }
int held_elsewhere(int) { return errno = EWOULDBLOCK, -1; }
int fail_open_lock(const char *, struct stat *) { return errno = EACCES, -1; }
int closed, std_asked;
int counting_close(int fd) { return closed++, close(fd); }
int counting_open_std(int) { return std_asked++, 0; }
int unsettled(FILE *, const char *) { return errno = EIO, -1; }
void *fail_dir_open(const char *, int) { return errno = EACCES, nullptr; }

TEST(PathMapping, EveryCallGoesThroughTheTable)
{
    tu::Scratch s;
    tu::make_dirs(s.path("a/b"));
    EXPECT_EQ(symlink("b", s.path("a/l").c_str()), 0);
    char buf[4096];
    {
        tu::Fault f(&plat_syscalls::dir_open, fail_dir_open);
        EXPECT_EQ(plat_path_kind("\\A\\B"), PLAT_KIND_NONE);  // no listing: no case-blind match
    }
    EXPECT_EQ(plat_path_kind("\\A\\B"), PLAT_KIND_DIR);
    {
        tu::Fault f(&plat_syscalls::lstat, fail_stat);
        EXPECT_EQ(plat_path_kind("\\a\\b"), PLAT_KIND_NONE);
        EXPECT_EQ(plat_is_link("\\a\\l"), 0);
    }
    {
        tu::Fault f(&plat_syscalls::getcwd, fail_getcwd);
        EXPECT_EQ(plat_canonical_path("x", buf, sizeof buf), 0);
    }
    {
        tu::Fault f(&plat_syscalls::realpath, fail_realpath);
        EXPECT_EQ(plat_canonical_path("\\a\\l", buf, sizeof buf), 0);  // what the link is cannot be told
        EXPECT_EQ(plat_same_dir("\\a\\b", "\\a\\l"), PLAT_UNKNOWN);
    }
    {
        tu::Fault f(&plat_syscalls::readlink, fail_readlink);
        EXPECT_EQ(plat_copy_link("\\a\\l", "\\a\\m"), -1);
    }
    {
        tu::Fault f(&plat_syscalls::open_lock, fail_open_lock);
        EXPECT_EQ(plat_lock_folder("lock.tmp"), -1);
        tu::write_file(s.path("a/f"), "x");
        tu::Fault u(&plat_syscalls::settle, unsettled);
        EXPECT_EQ(plat_fopen("\\a\\f", "wb"), nullptr);
        EXPECT_EQ(tu::read_file(s.path("a/f")), "x");  // not truncated either
    }
    tu::Fault f(&plat_syscalls::flock, held_elsewhere);
    tu::Fault c(&plat_syscalls::close, counting_close);
    EXPECT_EQ(plat_lock_folder("lock.tmp"), 0);
    EXPECT_EQ(closed, 1);  // the lock held elsewhere is let go
    tu::Fault o(&plat_syscalls::open_std, counting_open_std);
    plat_std_streams_ready();
    EXPECT_EQ(std_asked, 3);
}
#endif  // !_WIN32

TEST(PathMapping, DirectoryContainment)
{
    tu::Scratch s;
    tu::make_dirs(s.path("a/b/c"));
    EXPECT_EQ(plat_dir_contains("\\a\\", "\\a\\b\\c\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\c\\", "\\a\\b\\c"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\c\\", "\\a\\"), 0);
    EXPECT_EQ(plat_dir_contains("\\", ".\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\missing\\", "\\a\\"), 0);
}

TEST(FileOps, ExclusiveOpenAndReplacingRename)
{
    tu::Scratch s;
    tu::write_file("kept", "old");
    EXPECT_EQ(plat_fopen(".\\kept", "wx"), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(tu::read_file("kept"), "old");
    tu::write_file("new", "fresh");
    EXPECT_EQ(plat_rename(".\\new", ".\\kept"), 0);
    EXPECT_EQ(tu::read_file("kept"), "fresh");
    tu::write_file("newer", "newer");
    EXPECT_EQ(plat_rename_new(".\\newer", ".\\kept"), -1);  // never replaces
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(tu::read_file("kept"), "fresh");
    EXPECT_EQ(plat_rename_new(".\\newer", ".\\other"), 0);
    EXPECT_EQ(tu::read_file("other"), "newer");
    EXPECT_EQ(plat_mkdir("\\d"), 0);
    EXPECT_EQ(plat_mkdir("\\d"), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(plat_rmdir("\\d"), 0);
}

#ifndef _WIN32
TEST(FileOps, PipesAreRefusedForReading)
{
    tu::Scratch s;
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    EXPECT_EQ(plat_fopen(".\\pipe", "rb"), nullptr);
}

// A name is removed as written when it is there, else found case-blind.
TEST(FileOps, RemoveTakesTheNameAsWrittenOrFindsItCaseBlind)
{
    tu::Scratch s;
    tu::make_dirs("Dir");
    tu::write_file("Dir/File.txt", "x");
    tu::write_file("Dir/plain", "y");
    EXPECT_EQ(plat_remove(".\\Dir\\plain"), 0);
    EXPECT_EQ(plat_remove(".\\dir\\file.TXT"), 0);
    EXPECT_FALSE(tu::exists("Dir/File.txt"));
    EXPECT_FALSE(tu::exists("Dir/plain"));
    EXPECT_EQ(plat_remove(".\\dir\\file.txt"), -1);
    EXPECT_EQ(errno, ENOENT);
}

// Every log entry and temporary name carries the caller's own id.
TEST(Process, ProcessIdIsTheCallersOwn) { EXPECT_EQ(plat_process_id(), (long)getpid()); }

TEST(Listing, AttributesMarkDirectoriesLinksAndFiles)
{
    tu::Scratch s;
    tu::make_dirs(s.path("d/sub"));
    tu::write_file(s.path("d/file.txt"), "x");
    ASSERT_EQ(symlink("sub", s.path("d/link").c_str()), 0);
    tu::write_file(s.path("d/bad\\name"), "x");
    plat_find_entry e;
    plat_find *f = plat_find_first(".\\d\\*", &e, 0);
    ASSERT_NE(f, nullptr);
    std::map<std::string, unsigned> seen;
    do seen[e.name] = e.attrib;
    while (plat_find_next(f, &e));
    plat_find_close(f);
    EXPECT_EQ(seen["sub"], PLAT_ATTR_DIRECTORY);
    EXPECT_EQ(seen["link"], PLAT_ATTR_REPARSE);
    EXPECT_EQ(seen["file.txt"], PLAT_ATTR_ARCHIVE);
    EXPECT_EQ(seen["bad\\name"], PLAT_ATTR_ARCHIVE | PLAT_ATTR_UNNAMED);  // listed, to be reported
    EXPECT_EQ(seen.count("."), 1u);
    EXPECT_EQ(plat_find_first(".\\missing\\*", &e, 0), nullptr);
}
#endif

TEST(Console, LongLinesAreCutAndTheirRestDropped)
{
    std::string input = std::string(600, 'a') + "\nsecond\nlast";
    tu::ScriptedInput in(input);
    char buf[512];
    ASSERT_EQ(plat_read_line(buf, sizeof buf), 1);
    EXPECT_EQ(std::string(buf), std::string(511, 'a'));
    ASSERT_EQ(plat_read_line(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "second\n");
    ASSERT_EQ(plat_read_line(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(plat_read_line(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "last");
}

TEST(Console, DiscardingTypeaheadLeavesScriptedInputAlone)
{
    tu::ScriptedInput in("kept\n");  // a file, not a terminal or console
    plat_discard_typeahead();
    char buf[64];
    ASSERT_EQ(plat_read_line(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "kept\n");
}

#ifndef _WIN32
TEST(Process, ComputerNameAndTemporaryNames)
{
    tu::Scratch s;
    char name[64];
    char host[256];
    gethostname(host, sizeof host);
    if (plat_computer_name(name, sizeof name)) {
        EXPECT_STREQ(name, host);
    }
    char t1[] = "XXXXXX", t2[] = "XXXXXX";
    ASSERT_EQ(plat_mktemp(t1), 1);
    tu::write_file(t1, "");
    ASSERT_EQ(plat_mktemp(t2), 1);
    EXPECT_STRNE(t1, t2);
    char bad[] = "XXX";
    EXPECT_EQ(plat_mktemp(bad), 0);
}

TEST(Process, ProgramPathNamesTheProgramFromTheCurrentDirectory)
{
    char buf[4096], self[4096];
    ASSERT_EQ(plat_program_path("ignored", buf, sizeof buf), 1);
    std::string p = buf;
    ASSERT_EQ(p.rfind(".\\", 0), 0u) << p;
    for (char &c : p)
        if (c == '\\') c = '/';
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n] = '\0';
    char a[4096], b[4096];
    ASSERT_NE(realpath(p.c_str(), a), nullptr);
    ASSERT_NE(realpath(self, b), nullptr);
    EXPECT_STREQ(a, b);
}

#endif

#ifdef _WIN32  // the Win32 layer: native paths, real attribute bits, the registry

TEST(WinPaths, InstallerPathsAreNativeWithBackslashesOnly)
{
    EXPECT_EQ(native("\\inetpub\\scripts\\"), "\\inetpub\\scripts\\");
    EXPECT_EQ(native("C:\\inetpub\\x"), "C:\\inetpub\\x");
    EXPECT_EQ(native(".\\tpl"), ".\\tpl");
    EXPECT_EQ(native("/a/b"), "\\a\\b");  // never the emulator's host path
    EXPECT_EQ(native("C:/x\\y/"), "C:\\x\\y\\");
    EXPECT_EQ(native(""), ".");
    setenv("QUILLOR_ROOT", "C:\\elsewhere", 1);  // has no meaning on Windows
    EXPECT_EQ(native("\\a"), "\\a");
    unsetenv("QUILLOR_ROOT");
}

TEST(WinPaths, RootedPathsNameTheCurrentDriveCaseBlind)
{
    tu::Scratch s;  // the test drive's root is the current directory
    tu::make_dirs(s.path("Inetpub/Scripts"));
    tu::write_file(s.path("Inetpub/Scripts/Quillor.INI"), "x");
    FILE *f = plat_fopen("\\INETPUB\\SCRIPTS\\QUILLOR.ini", "r");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
    EXPECT_EQ(plat_dir_contains("\\inetpub\\", "\\INETPUB\\scripts"), 1);
    EXPECT_EQ(plat_dir_contains("\\inetpub\\scripts\\", "\\inetpub\\"), 0);
    EXPECT_EQ(plat_dir_contains("\\in\\", "\\inetpub\\"), 0);  // a prefix of the name is no parent
}

TEST(WinPaths, SlashesSeparateFoldersInEveryCall)
{
    tu::Scratch s;
    ASSERT_EQ(plat_mkdir("/d"), 0);
    ASSERT_EQ(plat_mkdir("/d/sub"), 0);
    FILE *f = plat_fopen("/d/sub/f.txt", "wbx");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
    EXPECT_TRUE(tu::exists("d/sub/f.txt"));
    plat_find_entry e;
    plat_find *found = plat_find_first("./d/sub/*", &e, 0);
    ASSERT_NE(found, nullptr);
    plat_find_close(found);
    EXPECT_EQ(plat_rename("/d/sub/f.txt", "./d/g.txt"), 0);
    EXPECT_EQ(plat_remove("/d/g.txt"), 0);
    EXPECT_EQ(plat_rmdir("/d/sub/"), 0);
}

TEST(WinListing, EntriesCarryTheRealAttributeBits)
{
    tu::Scratch s;
    tu::make_dirs(s.path("d/sub"));
    tu::make_dirs(s.path("d/flagged"));
    tu::make_dirs(s.path("d/empty"));
    tu::write_file(s.path("d/file.txt"), "x");
    tu::write_file(s.path("d/ro.txt"), "x");
    ASSERT_TRUE(SetFileAttributesA("d\\ro.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("d\\flagged", FILE_ATTRIBUTE_HIDDEN));
    plat_find_entry e;
    plat_find *f = plat_find_first(".\\d\\*", &e, 0);
    ASSERT_NE(f, nullptr);
    std::map<std::string, unsigned> seen;
    do seen[e.name] = e.attrib;
    while (plat_find_next(f, &e));
    EXPECT_EQ(errno, ENOENT);
    plat_find_close(f);
    EXPECT_EQ(seen.size(), 7u);  // ".", ".." and the five entries
    EXPECT_EQ(seen["sub"], PLAT_ATTR_DIRECTORY);
    EXPECT_EQ(seen["flagged"], PLAT_ATTR_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);  // not a plain directory
    EXPECT_EQ(seen["file.txt"] & (PLAT_ATTR_DIRECTORY | PLAT_ATTR_READONLY), 0u);
    EXPECT_EQ(seen["ro.txt"] & PLAT_ATTR_READONLY, PLAT_ATTR_READONLY);
    EXPECT_EQ(seen["."], PLAT_ATTR_DIRECTORY);

    f = plat_find_first(".\\d\\empty\\*", &e, 0);  // "." and ".." only
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(e.name, ".");
    plat_find_close(f);
    errno = 0;
    EXPECT_EQ(plat_find_first(".\\missing\\*", &e, 0), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(WinFileOps, ReplacingRenameAndErrorsInTheErrnoVocabulary)
{
    tu::Scratch s;
    tu::write_file("a", "one");
    tu::write_file("b", "two");
    EXPECT_EQ(plat_rename(".\\a", ".\\b"), 0);
    EXPECT_EQ(tu::read_file("b"), "one");
    EXPECT_FALSE(tu::exists("a"));
    errno = 0;
    EXPECT_EQ(plat_rename(".\\missing", ".\\b"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(tu::read_file("b"), "one");
    EXPECT_EQ(plat_mkdir(".\\d"), 0);
    tu::write_file("d/x", "");
    EXPECT_EQ(plat_rmdir(".\\d"), -1);
    EXPECT_EQ(errno, ENOTEMPTY);
    EXPECT_EQ(plat_remove(".\\d\\x"), 0);
    EXPECT_EQ(plat_rmdir(".\\d"), 0);
}

TEST(WinFileOps, ReadOnlyFilesAndOpenFilesStay)
{
    tu::Scratch s;
    tu::write_file("ro", "kept");
    ASSERT_TRUE(SetFileAttributesA("ro", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(plat_remove(".\\ro"), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(tu::read_file("ro"), "kept");
    tu::write_file("open", "old");
    tu::write_file("new", "fresh");
    FILE *f = plat_fopen(".\\open", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plat_rename(".\\new", ".\\open"), -1);  // replacing an open file is refused
    EXPECT_EQ(errno, EACCES);
    plat_fclose(f);
    EXPECT_EQ(tu::read_file("open"), "old");
    EXPECT_EQ(plat_rename(".\\new", ".\\open"), 0);
    EXPECT_EQ(tu::read_file("open"), "fresh");

    // a read-only file is not replaced either, and keeps its attribute
    tu::write_file("newer", "newer");
    errno = 0;
    EXPECT_EQ(plat_rename(".\\newer", ".\\ro"), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(tu::read_file("ro"), "kept");
    EXPECT_EQ(tu::read_file("newer"), "newer");
    EXPECT_NE(GetFileAttributesA("ro") & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_TRUE(SetFileAttributesA("ro", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(plat_rename(".\\newer", ".\\ro"), 0);
    EXPECT_EQ(tu::read_file("ro"), "newer");
}

TEST(WinFileOps, DevicesAreRefusedForReading)
{
    tu::Scratch s;
    errno = 0;
    EXPECT_EQ(plat_fopen("nul", "r"), nullptr);
    EXPECT_EQ(errno, ENOENT);  // the name is a file's, taken whole: the device is never opened
    EXPECT_EQ(plat_fopen(".\\NUL.ini", "rb"), nullptr);
    tu::write_file("plain.ini", "x");
    FILE *f = plat_fopen(".\\plain.ini", "r");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
}

// Text files are written with CRLF line ends, as Windows tools expect, and
// read back with LF; binary files are copied byte for byte.
TEST(WinFileOps, TextModeWritesCrLfAndReadsLf)
{
    tu::Scratch s;
    FILE *f = plat_fopen(".\\t.txt", "wx");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plat_fwrite("a\nb\n", 1, 4, f), 4u);
    plat_fclose(f);
    EXPECT_EQ(tu::read_file("t.txt"), "a\r\nb\r\n");
    f = plat_fopen(".\\t.txt", "r");
    ASSERT_NE(f, nullptr);
    char buf[16];
    ASSERT_NE(plat_fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "a\n");
    plat_fclose(f);
    f = plat_fopen(".\\b.bin", "wbx");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plat_fwrite("a\nb\r\n\x1a", 1, 6, f), 6u);
    plat_fclose(f);
    EXPECT_EQ(tu::read_file("b.bin"), std::string("a\nb\r\n\x1a", 6));
}

TEST(WinProcess, ComputerNameIsTheRegistrysName)
{
    char name[64];
    ASSERT_EQ(plat_computer_name(name, sizeof name), 1);
    char api[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = sizeof api;
    ASSERT_TRUE(GetComputerNameA(api, &n));
    EXPECT_STREQ(name, api);
    const char *expected = getenv("QUILLOR_TEST_COMPUTERNAME");  // what "reg query" says
    if (expected && *expected) {
        EXPECT_STREQ(name, expected);
    }
    char tiny[2] = "?";
    EXPECT_EQ(plat_computer_name(tiny, sizeof tiny), 0);  // too long for the buffer: no name
}

TEST(WinProcess, ProgramPathIsWhereTheProgramIsWhateverItsCommandLineSays)
{
    char buf[MAX_PATH * 4], module[MAX_PATH * 4];
    ASSERT_GT(GetModuleFileNameA(nullptr, module, sizeof module), 0u);
    for (const char *argv0 : {"../elsewhere/unit_tests.exe", "unit_tests", "Q:\\dist\\quillor-install.exe"}) {
        ASSERT_EQ(plat_program_path(argv0, buf, sizeof buf), 1);
        EXPECT_STREQ(buf, module) << argv0;
    }
    std::string p = buf;
    EXPECT_NE(p.find('\\'), std::string::npos);
    EXPECT_EQ(p.substr(p.size() - 14), "unit_tests.exe");
    char tiny[4];
    EXPECT_EQ(plat_program_path("x", tiny, sizeof tiny), 0);  // too small for either: no path
}

TEST(WinProcess, ProcessIdAndTemporaryNames)
{
    tu::Scratch s;
    EXPECT_EQ(plat_process_id(), (long)_getpid());
    char t1[] = "XXXXXX", t2[] = "XXXXXX";
    ASSERT_EQ(plat_mktemp(t1), 1);
    tu::write_file(t1, "");
    ASSERT_EQ(plat_mktemp(t2), 1);
    EXPECT_STRNE(t1, t2);
    EXPECT_FALSE(tu::exists(t2));
    char bad[] = "XXX";
    EXPECT_EQ(plat_mktemp(bad), 0);
}

#endif

#ifdef _WIN32
// The Windows table holds the bare calls too: swapped for plain ones, the
// read-only refusal, the regular-file check and the "/" mapping stay.
int bare_calls;
int counting_remove(const char *native)
{
    bare_calls++;
    return remove(native);
}
int counting_rename(const char *from, const char *to)
{
    bare_calls++;
    return tu::real_calls().rename(from, to);
}

TEST(WindowsTable, SwappedEntriesKeepThePolicyAroundThem)
{
    tu::Scratch s;
    tu::write_file(s.path("kept.txt"), "mine");
    tu::write_file(s.path("new.txt"), "new");
    ASSERT_TRUE(SetFileAttributesA(s.path("kept.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    bare_calls = 0;
    {
        tu::Fault f1(&plat_syscalls::remove, counting_remove);
        tu::Fault f2(&plat_syscalls::rename, counting_rename);
        errno = 0;
        EXPECT_EQ(plat_remove((s.drive() + "\\kept.txt").c_str()), -1);
        EXPECT_EQ(errno, EACCES);
        EXPECT_EQ(plat_rename((s.drive() + "\\new.txt").c_str(), (s.drive() + "\\kept.txt").c_str()), -1);
        EXPECT_EQ(errno, EACCES);
    }
    EXPECT_EQ(bare_calls, 0);  // refused before the call
    EXPECT_EQ(tu::read_file(s.path("kept.txt")), "mine");
    EXPECT_EQ(plat_fopen("NUL", "rb"), nullptr);  // a device is no regular file
    SetFileAttributesA(s.path("kept.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// What a path is, its full form, identity and the system's own name for it,
// the lock, a kept copy, a probe and the program's own path come through the
// table too.
unsigned long no_attributes(const char *) { return INVALID_FILE_ATTRIBUTES; }
unsigned long no_full_path(const char *, char *, unsigned long) { return 0; }
int no_identity(const wchar_t *, unsigned long *) { return errno = EIO, -1; }
int lock_held_elsewhere(const char *) { return 0; }
int no_copy(const char *, const char *) { return errno = EACCES, -1; }
unsigned long no_module_path(wchar_t *, unsigned long) { return 0; }
int not_settled(FILE *, const char *) { return errno = EIO, -1; }
int no_probe(const char *) { return errno = EROFS, -1; }
unsigned long named_a_root(const char *, char *buf, unsigned long size) { return snprintf(buf, size, "C:\\"); }

TEST(WindowsTable, AttributesAndFullPathsComeThroughTheTable)
{
    tu::Scratch s;
    tu::make_dirs(s.path("d"));
    std::string d = s.drive() + "\\d";
    char buf[4096];
    EXPECT_EQ(plat_path_kind(d.c_str()), PLAT_KIND_DIR);
    ASSERT_EQ(plat_canonical_path(d.c_str(), buf, sizeof buf), 1);
    {
        tu::Fault i(&plat_syscalls::identity, no_identity);
        EXPECT_EQ(plat_same_dir(d.c_str(), (s.drive() + "\\").c_str()), PLAT_UNKNOWN);
        tu::Fault l(&plat_syscalls::open_lock, lock_held_elsewhere);
        EXPECT_EQ(plat_lock_folder("x.lck"), 0);
        tu::Fault c(&plat_syscalls::copy_file, no_copy);
        EXPECT_EQ(plat_keep_native("a", "b"), -1);
        EXPECT_EQ(errno, EACCES);
        tu::Fault m(&plat_syscalls::module_path, no_module_path);
        ASSERT_EQ(plat_program_path("x\\y.exe", buf, sizeof buf), 1);
        EXPECT_STREQ(buf, "x\\y.exe");  // the path as started
        tu::write_file(s.path("d/f"), "x");
        tu::Fault u(&plat_syscalls::settle, not_settled);
        EXPECT_EQ(plat_fopen((d + "\\f").c_str(), "wb"), nullptr);
        EXPECT_EQ(tu::read_file(s.path("d/f")), "x");  // not truncated either
        tu::Fault pc(&plat_syscalls::probe_create, no_probe);
        EXPECT_EQ(plat_probe_create((d + "\\p").c_str()), 0);
        EXPECT_EQ(errno, EROFS);
        tu::Fault fp(&plat_syscalls::final_path, named_a_root);
        EXPECT_EQ(plat_is_root(d.c_str()), PLAT_YES);  // the system's own name for it is a root
    }
    tu::Fault f1(&plat_syscalls::attributes, no_attributes);
    EXPECT_EQ(plat_path_kind(d.c_str()), PLAT_KIND_NONE);
    tu::Fault f2(&plat_syscalls::full_path, no_full_path);
    EXPECT_EQ(plat_canonical_path(d.c_str(), buf, sizeof buf), 0);
}
#endif

}  // namespace
