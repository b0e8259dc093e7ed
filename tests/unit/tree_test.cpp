// Directory creation, tree walk and copy: what callers see on disk, in the
// returned lists, on the console and in the log.
#include "files/tree.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "act/journal.h"
#include "files/path_set.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> walk(const char *start, const char *pattern, int flags, int recurse)
{
    static_list list;
    dir_walk(&list, start, pattern, flags, recurse);
    std::vector<std::string> out;
    static_rewind(&list);
    while (char *item = static_cast<char *>(static_next(&list))) out.push_back(item);
    static_free(&list);
    return out;
}

std::set<std::string> as_set(const std::vector<std::string> &v) { return {v.begin(), v.end()}; }

// Names left in a directory that look like a copy's temporary file.
int temp_files_in(const std::string &dir)
{
    int n = 0;
    for (auto &e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp") != std::string::npos) n++;
    return n;
}

class TreeTest : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    void TearDown() override { plat_syscall_reset(); }
    std::string p(const std::string &rel) { return scratch.path(rel); }
    void file(const std::string &rel, const std::string &content = "x") { tu::write_file(p(rel), content); }
};

/* ---- mkdir_path ---- */

using MkdirPath = TreeTest;

TEST_F(MkdirPath, WithParentsCreatesTheMissingDirectoryThenReportsItExists)
{
    tu::make_dirs(p("quillor"));
    EXPECT_EQ(mkdir_path("\\quillor\\cache\\", 1), 1);
    EXPECT_TRUE(tu::is_dir(p("quillor/cache")));
    EXPECT_NE(log.text().find("Debug: Created '\\quillor\\cache' Directory\n"), std::string::npos);
    EXPECT_EQ(mkdir_path("\\quillor\\cache\\", 1), -1);
    EXPECT_NE(log.text().find("Debug: Directory '\\quillor\\cache\\' already exists.\n"), std::string::npos);
}

TEST_F(MkdirPath, WithParentsCreatesEveryMissingParent)
{
    const std::string c = scratch.drive();  // "C:"; on Windows the scratch drive's letter
    EXPECT_EQ(mkdir_path((c + "\\a\\b\\c\\").c_str(), 1), 1);
    EXPECT_TRUE(tu::is_dir(p("a/b/c")));
    std::string text = log.text();
    EXPECT_NE(text.find("Created '" + c + "\\a' Directory"), std::string::npos);
    EXPECT_NE(text.find("Created '" + c + "\\a\\b' Directory"), std::string::npos);
    EXPECT_NE(text.find("Created '" + c + "\\a\\b\\c' Directory"), std::string::npos);
}

TEST_F(MkdirPath, PathWithoutTrailingBackslashCreatesOnlyItsDirectoryPart)
{
    EXPECT_EQ(mkdir_path((scratch.drive() + "\\a\\b").c_str(), 1), 1);
    EXPECT_TRUE(tu::is_dir(p("a")));
    EXPECT_FALSE(tu::exists(p("a/b")));
    EXPECT_EQ(mkdir_path("\\x\\y", 0), 1);
    EXPECT_TRUE(tu::is_dir(p("x")));
    EXPECT_FALSE(tu::exists(p("x/y")));
}

TEST_F(MkdirPath, WithoutParentsFailsWhenTheParentIsMissing)
{
    EXPECT_EQ(mkdir_path("\\no\\sub\\", 0), 0);
    EXPECT_FALSE(tu::exists(p("no")));
    EXPECT_NE(log.text().find("Debug: Failed to create '\\no\\sub\\' Directory {2=No such file or directory}\n"),
              std::string::npos);
}

TEST_F(MkdirPath, DriveRootAloneIsNotCreated)
{
    errno = EEXIST;  // a stale "exists" must not turn into success
    EXPECT_EQ(mkdir_path("C:\\", 1), 0);
    EXPECT_NE(log.text().find("Failed to create 'C:\\' Directory"), std::string::npos);
}

TEST_F(MkdirPath, NullOrUnusablePathFails)
{
    errno = EEXIST;
    EXPECT_EQ(mkdir_path(nullptr, 1), 0);
    errno = EEXIST;
    EXPECT_EQ(mkdir_path("plainname", 0), 0);
    std::string long_path = "\\" + std::string(600, 'd') + "\\";
    EXPECT_EQ(mkdir_path(long_path.c_str(), 1), 0);
    EXPECT_EQ(errno, 0);  // the error state is cleared on every return
}

/* ---- dir_walk ---- */

class DirWalk : public TreeTest {
  protected:
    void SetUp() override
    {
        tu::make_dirs(p("t/sub1/deep"));
        tu::make_dirs(p("t/sub2"));
        file("t/a.tpl");
        file("t/B.TPL");
        file("t/readme.txt");
        file("t/sub1/x.tpl");
        file("t/sub1/deep/y.tpl");
        file("t/sub2/z.tpl");
    }
};

// Depth of the directory an item was found in (its own trailing backslash aside).
int depth(const std::string &item)
{
    std::string s = item.back() == '\\' ? item.substr(0, item.size() - 1) : item;
    return (int)std::count(s.begin(), s.end(), '\\');
}

TEST_F(DirWalk, RecursiveWalkFindsMatchesAtEveryLevelBreadthFirst)
{
    auto items = walk(".\\t\\", "*.tpl", WALK_FILES, 1);
    EXPECT_EQ(as_set(items), (std::set<std::string>{".\\t\\a.tpl", ".\\t\\B.TPL", ".\\t\\sub1\\x.tpl",
                                                    ".\\t\\sub2\\z.tpl", ".\\t\\sub1\\deep\\y.tpl"}));
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(),
                               [](const std::string &a, const std::string &b) { return depth(a) < depth(b); }));
}

TEST_F(DirWalk, WithoutRecurseOnlyTheStartDirectoryIsListed)
{
    EXPECT_EQ(as_set(walk(".\\t", "*.tpl", WALK_FILES, 0)), (std::set<std::string>{".\\t\\a.tpl", ".\\t\\B.TPL"}));
}

TEST_F(DirWalk, MatchingIsCaseBlindAndKeepsTheNamesOwnCase)
{
    EXPECT_EQ(as_set(walk(".\\t\\", "*.TPL", WALK_FILES | WALK_NAMES, 0)), (std::set<std::string>{"a.tpl", "B.TPL"}));
}

TEST_F(DirWalk, DirectoriesCarryATrailingBackslashAndAreListedBeforeTheirContent)
{
    auto items = walk(".\\t\\", "*", WALK_FILES | WALK_DIRS, 1);
    EXPECT_EQ(items.size(), 9u);
    auto at = [&](const char *s) { return std::find(items.begin(), items.end(), s) - items.begin(); };
    EXPECT_LT(at(".\\t\\sub1\\"), at(".\\t\\sub1\\x.tpl"));
    EXPECT_LT(at(".\\t\\sub1\\deep\\"), at(".\\t\\sub1\\deep\\y.tpl"));
    EXPECT_EQ(as_set(walk(".\\t\\", "*", WALK_DIRS | WALK_NAMES, 1)),
              (std::set<std::string>{"sub1\\", "sub2\\", "deep\\"}));
}

TEST_F(DirWalk, MaskChoosesWhatIsListedNotWhereTheWalkGoes)
{
    auto items = walk(".\\t\\", "sub*", WALK_FILES | WALK_DIRS, 1);
    EXPECT_EQ(as_set(items), (std::set<std::string>{".\\t\\sub1\\", ".\\t\\sub2\\"}));
    EXPECT_EQ(walk(".\\t\\", "y.tpl", WALK_FILES, 1), (std::vector<std::string>{".\\t\\sub1\\deep\\y.tpl"}));
}

TEST_F(DirWalk, PatternWithADirectoryPartStartsInThatSubdirectory)
{
    EXPECT_EQ(walk(".\\t\\", "sub1\\*.tpl", WALK_FILES, 0), (std::vector<std::string>{".\\t\\sub1\\x.tpl"}));
}

TEST_F(DirWalk, NullPatternOrUnlistableStartGivesAnEmptyList)
{
    EXPECT_TRUE(walk(".\\t\\", nullptr, WALK_FILES, 1).empty());
    EXPECT_TRUE(walk(".\\missing\\", "*", WALK_FILES | WALK_DIRS, 1).empty());
    std::string long_start = ".\\" + std::string(520, 'd') + "\\";
    EXPECT_TRUE(walk(long_start.c_str(), "*", WALK_FILES, 0).empty());
}

TEST_F(DirWalk, NamesWithBlanksAreListedAsTheyAre)
{
    file("t/my page.tpl");
    tu::make_dirs(p("t/odd dir"));
    file("t/odd dir/in it.tpl");
    auto items = as_set(walk(".\\t\\", "*.tpl", WALK_FILES, 1));
    EXPECT_TRUE(items.count(".\\t\\my page.tpl"));
    EXPECT_TRUE(items.count(".\\t\\odd dir\\in it.tpl"));
}

#ifndef _WIN32  // links need privileges on Windows
TEST_F(DirWalk, SymbolicLinksAreListedAsFilesAndNeverEntered)
{
    fs::create_directory_symlink(p("t/sub1"), p("t/link"));
    fs::create_directory_symlink(".", p("t/sub2/loop"));  // a cycle: the walk must still end
    auto items = as_set(walk(".\\t\\", "*", WALK_FILES | WALK_DIRS, 1));
    EXPECT_TRUE(items.count(".\\t\\link"));
    EXPECT_TRUE(items.count(".\\t\\sub2\\loop"));
    for (auto &i : items) EXPECT_EQ(i.find("link\\"), std::string::npos) << i;
    EXPECT_EQ(items.size(), 11u);
}
#endif

TEST_F(DirWalk, NamesHoldingABackslashAreSkipped)
{
    file("t/bad\\name.tpl");
    EXPECT_EQ(as_set(walk(".\\t\\", "*.tpl", WALK_FILES | WALK_NAMES, 0)), (std::set<std::string>{"a.tpl", "B.TPL"}));
}

TEST_F(DirWalk, ProgressIsLoggedWhenTheWorkListReachesFifty)
{
    for (int i = 0; i < 49; i++) tu::make_dirs(p("many/d" + std::to_string(i)));
    walk(".\\many\\", "*", WALK_DIRS, 1);
    EXPECT_NE(log.text().find("Debug:  DIRECTORY: Located 50 files/directories\n"), std::string::npos);
}

/* ---- copy_file ---- */

class CopyFile : public TreeTest {
  protected:
    std::string data;
    void SetUp() override
    {
        tu::make_dirs(p("src"));
        tu::make_dirs(p("dst"));
        for (int i = 0; i < 5000; i++) data += (char)(i * 7 + i / 13);  // not a multiple of the block
        file("src/data.bin", data);
        file("dst/data.bin", "old contents");
    }
    int copy() { return copy_file("\\src\\data.bin", "\\dst\\data.bin"); }
    void expect_old_target_kept()
    {
        EXPECT_EQ(tu::read_file(p("dst/data.bin")), "old contents");
        EXPECT_EQ(temp_files_in(p("dst")), 0);
    }
};

TEST_F(CopyFile, CopiesEveryByteAndReplacesTheTarget)
{
    EXPECT_EQ(copy(), 1);
    EXPECT_EQ(tu::read_file(p("dst/data.bin")), data);
    EXPECT_EQ(temp_files_in(p("dst")), 0);
    file("src/empty", "");
    EXPECT_EQ(copy_file("\\src\\empty", "\\dst\\new"), 1);
    EXPECT_TRUE(tu::exists(p("dst/new")));
    EXPECT_EQ(tu::read_file(p("dst/new")), "");
}

TEST_F(CopyFile, MissingSourceOrTargetDirectoryFailsAndTouchesNothing)
{
    EXPECT_EQ(copy_file("\\src\\none", "\\dst\\data.bin"), 0);
    expect_old_target_kept();
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\nodir\\data.bin"), 0);
    EXPECT_EQ(copy_file(nullptr, "\\dst\\data.bin"), 0);
    EXPECT_EQ(copy_file("\\src\\data.bin", nullptr), 0);
}

// A source is opened as spelt first and looked up case-blind only when that
// fails; a new target's folder answers whether the name is taken,
// in any case, so a second spelling replaces the first file, never lands
// beside it; a folder as source is refused as a folder.
TEST_F(CopyFile, NamesInAnotherCaseAreTheSameFilesAndAFolderIsNoSource)
{
    EXPECT_EQ(copy_file("\\SRC\\Data.Bin", "\\dst\\fresh.bin"), 1);
    EXPECT_EQ(tu::read_file(p("dst/fresh.bin")), data);
    file("src/other.bin", "other");
    EXPECT_EQ(copy_file("\\src\\other.bin", "\\dst\\extra.bin"), 1);
    EXPECT_EQ(copy_file("\\src\\other.bin", "\\dst\\FRESH.BIN"), 1);
    EXPECT_EQ(tu::read_file(p("dst/fresh.bin")), "other");
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\DST\\Fresh.bin"), 1);
    EXPECT_EQ(tu::read_file(p("dst/fresh.bin")), data);
#ifndef _WIN32
    EXPECT_FALSE(tu::exists(p("dst/FRESH.BIN"))) << "a second file beside the first";
#endif
    EXPECT_EQ(temp_files_in(p("dst")), 0);
    EXPECT_EQ(copy_file("\\src", "\\dst\\folder.bin"), 0);
    EXPECT_FALSE(tu::exists(p("dst/folder.bin")));
#ifndef _WIN32
    EXPECT_NE(log.text().find("could not copy \\src to \\dst\\folder.bin {21="), std::string::npos) << log.text();
#endif
}

#ifndef _WIN32
std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// New and replaced files in one folder, as an update that adds templates
// makes them: every create and rename is seen by the next look-up, and a
// file another program adds is seen too, so a name in another case
// always reaches the file that is there.
TEST_F(CopyFile, NewAndReplacedFilesInOneFolderKeepItsNamesTrue)
{
    file("dst/A.txt", "a");
    file("dst/b.txt", "b");
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\new1"), 1);
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\b.txt"), 1);  // replaced through a temporary file
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\new2"), 1);
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\a.TXT"), 1);
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\B.TXT"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a clock tick, for coarse folder times
    file("dst/C.txt", "c");                                      // behind the installer's back
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\c.txt"), 1);
    EXPECT_EQ(names_in(p("dst")), (std::set<std::string>{"A.txt", "C.txt", "b.txt", "data.bin", "new1", "new2"}));
    for (const char *name : {"A.txt", "C.txt", "b.txt", "new2"})
        EXPECT_EQ(tu::read_file(p("dst/") + name), data) << name;

    file("dst/Twin", "1");  // two names that differ only in case: neither may be chosen
    file("dst/TWIN", "2");
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\twin"), 0);
    EXPECT_EQ(tu::read_file(p("dst/Twin")) + tu::read_file(p("dst/TWIN")), "12");
    EXPECT_NE(log.text().find("to \\dst\\twin {" + std::to_string(ENOTUNIQ) + "="), std::string::npos) << log.text();
}
#endif

#ifndef _WIN32
mode_t mode_of(const std::string &path)
{
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Permissions as cp keeps them: a copy has its source's bits through the
// umask, a replacement the replaced file's mode, owner and group, and a
// backup, folders included, is never more open than what it saves.
TEST_F(CopyFile, PermissionsAreKeptAsCpKeepsThem)
{
    mode_t mask = umask(022);
    chmod(p("src/data.bin").c_str(), 0755);
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\run.exe"), 1);
    EXPECT_EQ(mode_of(p("dst/run.exe")), 0755u);
    chmod(p("src/data.bin").c_str(), 0444);  // made read-only, and still written whole
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\frozen.bin"), 1);
    EXPECT_EQ(mode_of(p("dst/frozen.bin")), 0444u);
    EXPECT_EQ(tu::read_file(p("dst/frozen.bin")), data);
    chmod(p("dst/data.bin").c_str(), 0640);
    int owned = geteuid() == 0 && chown(p("dst/data.bin").c_str(), 65534, 65534) == 0;
    EXPECT_EQ(copy(), 1);
    EXPECT_EQ(mode_of(p("dst/data.bin")), 0640u);
    struct stat st = {};
    EXPECT_TRUE(!owned || (stat(p("dst/data.bin").c_str(), &st) == 0 && st.st_uid == 65534 && st.st_gid == 65534));
    // and its access list, short or long: users 1000 on may read (owner rw, group and mask r)
    for (unsigned users : {1u, 300u}) {
        std::vector<uint32_t> acl = {2, 0x60001, ~0u};  // version; then entries of tag | perm << 16, id
        for (unsigned u = 0; u < users; u++) acl.insert(acl.end(), {0x40002, 1000 + u});
        acl.insert(acl.end(), {0x40004, ~0u, 0x40010, ~0u, 0x20, ~0u});
        const size_t bytes = acl.size() * 4;
        if (setxattr(p("dst/data.bin").c_str(), "system.posix_acl_access", acl.data(), bytes, 0) != 0) break;
        EXPECT_EQ(copy(), 1);
        std::vector<uint32_t> kept(acl.size() + 1);
        EXPECT_EQ(getxattr(p("dst/data.bin").c_str(), "system.posix_acl_access", kept.data(), kept.size() * 4),
                  (ssize_t)bytes);
        EXPECT_EQ(memcmp(kept.data(), acl.data(), bytes), 0) << users;
        EXPECT_EQ(mode_of(p("dst/data.bin")), 0640u);
    }
    tu::make_dirs(p("work/sub"));
    file("work/sub/secret", "s");
    for (const char *f : {"work", "work/sub"}) chmod(p(f).c_str(), 0700);
    chmod(p("work/sub/secret").c_str(), 0600);
    EXPECT_EQ(copy_tree_backup("\\backup\\work\\", "\\work\\", "*", COPY_RECURSE, nullptr, nullptr), 1);
    EXPECT_EQ(mode_of(p("backup/work")), 0700u);
    EXPECT_EQ(mode_of(p("backup/work/sub")), 0700u);
    EXPECT_EQ(mode_of(p("backup/work/sub/secret")), 0600u);
    umask(mask);
}
#endif

#ifdef _WIN32
// A replaced file keeps its hidden and system attributes, given through the
// system-call table.
int attribute_sets;
int counting_set_attributes(const char *native, unsigned long a)
{
    return attribute_sets++, tu::real_calls().set_attributes(native, a);
}

TEST_F(CopyFile, ReplacementKeepsTheReplacedFilesAttributes)
{
    const std::string target = p("dst/data.bin");
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (!SetFileAttributesA(target.c_str(), kept) || (GetFileAttributesA(target.c_str()) & kept) != kept)
        GTEST_SKIP() << "the file system keeps no such attributes";
    tu::Fault f(&plat_syscalls::set_attributes, counting_set_attributes);
    EXPECT_EQ(copy(), 1);
    EXPECT_EQ(tu::read_file(target), data);
    EXPECT_EQ(GetFileAttributesA(target.c_str()) & kept, kept);
    EXPECT_EQ(attribute_sets, 1);
}
#endif

TEST_F(CopyFile, CopyOntoItselfKeepsTheContents)
{
#ifdef _WIN32
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\SRC\\DATA.BIN"), 0);  // an open file cannot be replaced
#else
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\SRC\\DATA.BIN"), 1);
#endif
    EXPECT_EQ(tu::read_file(p("src/data.bin")), data);
}

// A copy skips a target whose bytes are the source's; a file and its own
// prefix (or the prefix and the file) never count as that, nor do
// equal-sized files with one byte changed, at a block's edge or not.
TEST_F(CopyFile, AFileAndItsOwnPrefixAreNeverTheSameContent)
{
    const std::string block(8192, 'b');
    const struct {
        std::string a, b;
        int same;
    } rows[] = {{"", "", 1},
                {"", "x", 0},
                {"abc", "abcd", 0},
                {block, block, 1},
                {block, block + "x", 0},
                {block + "x", block, 0},
                {block + "xy", block + "x", 0},
                {data, data.substr(0, data.size() - 1) + "!", 0}};
    for (const auto &row : rows) {
        file("src/a", row.a);
        file("dst/b", row.b);
        EXPECT_EQ(copy_same_content("\\src\\a", "\\dst\\b"), row.same) << row.a.size() << " " << row.b.size();
        EXPECT_EQ(copy_file("\\src\\a", "\\dst\\b"), 1);
        EXPECT_EQ(tu::read_file(p("dst/b")), row.a) << row.a.size() << " " << row.b.size();
    }
}

// Fault injection through the system-call table (tu::Fault).  The log
// writes through the same table, so the faults spare its stream.

// The kernel copies refused, as on a system or file system without them:
// the copy goes through the streams in blocks.
long long no_kernel_copy(plat_file *, plat_file *, size_t)
{
    errno = ENOSYS;
    return -1;
}

void use_block_copy()
{
    plat_syscall_table()->copy_range = no_kernel_copy;
    plat_syscall_table()->send_file = no_kernel_copy;
}

// Without unnamed files a temporary file named for the process stands in
// for a new target, and is gone once the target has its name.
int no_unnamed_files(int, const char *, unsigned, plat_file *)
{
    errno = ENOSYS;
    return -1;
}

TEST_F(CopyFile, WithoutUnnamedFilesANamedOneStandsIn)
{
    tu::Fault f(&plat_syscalls::open_unnamed, no_unnamed_files);
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\new.bin"), 1);
    EXPECT_EQ(tu::read_file(p("dst/new.bin")), data);
    EXPECT_EQ(std::distance(fs::directory_iterator(p("dst")), fs::directory_iterator()), 2);  // no temporary file
}

TEST_F(CopyFile, ShortWriteFailsAndKeepsTheOldTarget)
{
    tu::fault_spared = log.rec.file;
    tu::fault_budget = 3000;
    use_block_copy();
    tu::Fault f(&plat_syscalls::fwrite, tu::fail_fwrite_after);
    EXPECT_EQ(copy(), 0);
    expect_old_target_kept();
    EXPECT_NE(log.text().find("Error: copy_file: could not copy \\src\\data.bin to \\dst\\data.bin"),
              std::string::npos);
}

TEST_F(CopyFile, FailedCloseFailsAndKeepsTheOldTarget)
{
    tu::fault_spared = log.rec.file;
    tu::Fault f(&plat_syscalls::fclose, tu::fail_fclose);
    EXPECT_EQ(copy(), 0);
    expect_old_target_kept();
}

TEST_F(CopyFile, FailedRenameFailsAndKeepsTheOldTarget)
{
    tu::Fault f(&plat_syscalls::rename, tu::fail_rename);
    EXPECT_EQ(copy(), 0);
    expect_old_target_kept();
}

TEST_F(CopyFile, ReadErrorEndsTheCopyAsAFailure)
{
    tu::fault_budget = 0;  // the whole file fits one block
    use_block_copy();
    tu::Fault f(&plat_syscalls::fread, tu::fail_fread_after);
    EXPECT_EQ(copy(), 0);
    expect_old_target_kept();
}

FILE *deny_update(const char *native, const char *mode)
{
    if (std::string(mode) == "ab") {  // write access to an existing file
        errno = EACCES;
        return nullptr;
    }
    return tu::real_calls().fopen(native, mode);
}

int deny_write(int, const char *)
{
    errno = EACCES;
    return -1;
}

// A regular file is asked whether it may be written; anything else is
// opened to append.  Either refusal leaves the target as it was.
TEST_F(CopyFile, TargetThatMayNotBeWrittenStaysUntouched)
{
    {
        tu::Fault f(&plat_syscalls::may_write, deny_write);
        EXPECT_EQ(copy(), 0);
        expect_old_target_kept();
    }
    tu::Fault f(&plat_syscalls::fopen, deny_update);
    EXPECT_EQ(copy(), 1);  // the open to append is not how a regular file is asked
}

// Which copy moved the data, and what the copy opened and renamed.
int range_calls, sendfile_calls, renames;
std::vector<std::string> write_opens;
long long counting_range(plat_file *in, plat_file *out, size_t len)
{
    range_calls++;
    return no_kernel_copy(in, out, len);
}
long long counting_sendfile(plat_file *in, plat_file *out, size_t len)
{
    sendfile_calls++;
    return tu::real_calls().send_file(in, out, len);
}
FILE *recording_fopen(const char *native, const char *mode)
{
    if (mode[0] != 'r') write_opens.push_back(std::string(mode) + " " + fs::path(native).filename().string());
    return tu::real_calls().fopen(native, mode);
}
int counting_rename(const char *from, const char *to)
{
    renames++;
    return tu::real_calls().rename(from, to);
}

TEST_F(CopyFile, KernelCopyFallsBackToSendfileAndThenToBlocks)
{
    range_calls = sendfile_calls = 0;
    plat_syscall_table()->copy_range = counting_range;
    plat_syscall_table()->send_file = counting_sendfile;
    EXPECT_EQ(copy(), 1);
    EXPECT_EQ(tu::read_file(p("dst/data.bin")), data);
    EXPECT_EQ(range_calls, 1);  // refused once, not asked again for the same file
#ifndef _WIN32
    EXPECT_GE(sendfile_calls, 1);  // moved the data
#endif
    use_block_copy();
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\blocks.bin"), 1);
    EXPECT_EQ(tu::read_file(p("dst/blocks.bin")), data);
    EXPECT_EQ(temp_files_in(p("dst")), 0);
}

// A kernel copy that stops part way with a full disk.
long long full_after_some(plat_file *in, plat_file *out, size_t len)
{
    static int calls;
    if (calls++ % 2 == 0) return tu::real_calls().copy_range(in, out, std::min(len, (size_t)1000)) < 0 ? -1 : 1000;
    errno = ENOSPC;
    return -1;
}
// A source that ends before its size said.
long long ends_early(plat_file *, plat_file *, size_t) { return 0; }

TEST_F(CopyFile, FullDiskOrShortSourceInTheKernelCopyFailsAndLeavesNothingBehind)
{
    for (auto fault : {full_after_some, ends_early}) {
        tu::fault_spared = log.rec.file;
        plat_syscall_table()->copy_range = fault;
        plat_syscall_table()->send_file = no_kernel_copy;
#ifdef _WIN32
        plat_syscall_table()->fwrite = tu::fail_fwrite_after;  // no kernel copy there: the block loop fails instead
        tu::fault_budget = 1000;
#endif
        EXPECT_EQ(copy(), 0);                                          // an existing target
        EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\new.bin"), 0);  // a new one
        plat_syscall_reset();
        expect_old_target_kept();
        EXPECT_FALSE(tu::exists(p("dst/new.bin"))) << "a failed new file stays behind";
    }
    EXPECT_NE(log.text().find("Error: copy_file: could not copy \\src\\data.bin to \\dst\\new.bin"), std::string::npos);
}

TEST_F(CopyFile, NewFileAppearsOnlyCompleteAndAnExistingOneIsReplacedByRename)
{
    write_opens.clear();
    renames = 0;
    plat_syscall_table()->fopen = recording_fopen;
    plat_syscall_table()->rename = counting_rename;
    EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\fresh.bin"), 1);
    ASSERT_LE(write_opens.size(), 1u);  // none for an unnamed file
    if (!write_opens.empty()) {
        EXPECT_EQ(write_opens[0].find("wbx ~qcp"), 0u) << write_opens[0];
    }
    EXPECT_EQ(renames, 0);  // a name given without replacing: never over a file that appeared meanwhile
    EXPECT_EQ(tu::read_file(p("dst/fresh.bin")), data);

    write_opens.clear();
    EXPECT_EQ(copy(), 1);
    EXPECT_EQ(renames, 1);
    ASSERT_FALSE(write_opens.empty());
    EXPECT_EQ(write_opens.back().find("wbx ~qcp"), 0u) << write_opens.back();
    EXPECT_EQ(tu::read_file(p("dst/data.bin")), data);
    EXPECT_EQ(temp_files_in(p("dst")), 0);
}

#ifndef _WIN32
int fail_close(int fd)  // a new file is closed by its descriptor here
{
    close(fd);
    errno = ENOSPC;
    return -1;
}
#endif

TEST_F(CopyFile, NewFileWhoseCloseFailsIsRemoved)
{
    tu::fault_spared = log.rec.file;
    {
        tu::Fault f(&plat_syscalls::fclose, tu::fail_fclose);
#ifndef _WIN32
        tu::Fault g(&plat_syscalls::close, fail_close);
#endif
        EXPECT_EQ(copy_file("\\src\\data.bin", "\\dst\\new.bin"), 0);
        EXPECT_EQ(copy_tree("\\fresh\\", "\\src\\", "data.bin", 0, nullptr), 0);  // in a step's folder
    }
    EXPECT_FALSE(tu::exists(p("dst/new.bin")));
    EXPECT_FALSE(tu::exists(p("fresh/data.bin")));
    EXPECT_EQ(copy_file("\\src\\none", "\\dst\\new.bin"), 0);  // no source: the new file goes again
    EXPECT_FALSE(tu::exists(p("dst/new.bin")));
}

#ifndef _WIN32  // a file size limit in a forked child
TEST_F(CopyFile, FullDiskFailsAndKeepsTheOldTarget)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {  // the file size limit stands for a full disk, in a child only
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {2048, 2048};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(copy() == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "copy reported success on a full disk";
    expect_old_target_kept();
}
#endif

/* ---- copy_tree ---- */

class CopyTree : public TreeTest {
  protected:
    void SetUp() override
    {
        tu::make_dirs(p("src/tpl/inner"));
        file("src/index.tpl", "index");
        file("src/Logo.GIF", "gif");
        file("src/my page.tpl", "page");
        file("src/tpl/a.htm", "a");
        file("src/tpl/inner/b.htm", "b");
    }
};

TEST_F(CopyTree, RecursiveCopyReproducesTheLayoutAndCountsFiles)
{
    int count = 0;
    tu::CapturedOutput out;
    EXPECT_EQ(copy_tree("\\dest\\new", "\\src", "*", 1, &count), 1);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(out.text(), std::string(7, '.'));  // one per item, directories included
    EXPECT_EQ(tu::read_file(p("dest/new/index.tpl")), "index");
    EXPECT_EQ(tu::read_file(p("dest/new/my page.tpl")), "page");
    EXPECT_EQ(tu::read_file(p("dest/new/tpl/inner/b.htm")), "b");
    EXPECT_EQ(tu::read_file(p("dest/new/Logo.GIF")), "gif");
}

#ifndef _WIN32  // links to folders
// A target folder swapped for a link after its step listed it is never
// written through: a new file (unnamed, or under a temporary name where
// there are no unnamed files) and a replaced one land in the folder that
// was listed.
std::string swap_dir, swap_to;
int unnamed_refused;
void swap_now()
{
    if (fs::is_symlink(swap_dir)) return;
    fs::rename(swap_dir, swap_dir + ".listed");
    fs::create_directory_symlink(swap_to, swap_dir);
}
int swapping_unnamed(int at, const char *dir, unsigned mode, plat_file *out)
{
    if (unnamed_refused) return errno = ENOSYS, -1;
    swap_now();
    return tu::real_calls().open_unnamed(at, dir, mode, out);
}
int swapping_open_new(int at, const char *name) { return swap_now(), tu::real_calls().open_new_at(at, name); }

TEST_F(CopyTree, AFolderSwappedForALinkDuringTheStepIsNeverWrittenThrough)
{
    tu::CapturedOutput out;
    for (const char *old : {"", "-", "old"}) {  // a new file, a new one under a temporary name, a replaced one
        unnamed_refused = std::string(old) == "-";
        fs::remove_all(p("dest.listed"));
        fs::remove_all(p("dest"));
        tu::make_dirs(p("dest"));
        tu::make_dirs(p("elsewhere"));
        if (*old && !unnamed_refused) file("dest/index.tpl", old);
        swap_dir = p("dest"), swap_to = p("elsewhere");
        tu::Fault f(&plat_syscalls::open_unnamed, swapping_unnamed);
        tu::Fault g(&plat_syscalls::open_new_at, swapping_open_new);
        EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "index.tpl", 0, nullptr), 1);
        EXPECT_EQ(tu::read_file(p("dest.listed/index.tpl")), "index") << old;
        EXPECT_TRUE(fs::is_empty(p("elsewhere"))) << old;
    }
    unnamed_refused = 0;
}
#endif

#ifndef _WIN32  // one folder holds names that differ only in case
// Names in the target folder in any case: one another program made before
// the step (after an earlier step had looked there) is the file replaced,
// and one the step made itself is the file a later source would land on.
TEST_F(CopyTree, ANameAddedBeforeTheStepIsFoundAndOneTheStepAddsIsSeen)
{
    tu::CapturedOutput out;
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "index.tpl", 0, nullptr), 1);
    file("dest/LOGO.gif", "old");  // another program's
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "logo.gif", 0, nullptr), 1);
    EXPECT_EQ(tu::read_file(p("dest/LOGO.gif")), "gif");
    EXPECT_FALSE(tu::exists(p("dest/Logo.GIF")));
    tu::make_dirs(p("twins"));
    file("twins/a.txt", "1");
    file("twins/A.TXT", "2");
    EXPECT_EQ(copy_tree("\\dest\\", "\\twins\\", "*", 0, nullptr), 0);
    EXPECT_NE(log.text().find("another file of this step was copied there"), std::string::npos) << log.text();
    EXPECT_NE(tu::exists(p("dest/a.txt")), tu::exists(p("dest/A.TXT")));  // one file, never two
}
#endif

TEST_F(CopyTree, WithoutRecurseSubdirectoriesAreNeitherCreatedNorCounted)
{
    int count = 0;
    tu::CapturedOutput out;
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "*", 0, &count), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(out.text(), "....");
    EXPECT_FALSE(tu::exists(p("dest/tpl")));
}

TEST_F(CopyTree, EmptySourceCopiesFromTheCurrentDirectory)
{
    int count = 0;
    file("here.dat", "here");
    tu::CapturedOutput out;
    EXPECT_EQ(copy_tree("\\dest\\", "", "*.dat", 0, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(tu::read_file(p("dest/here.dat")), "here");
}

int deny_tpl_mkdir(const char *native)
{
    std::string path = native;
    size_t n = path.size();
    if (n >= 4 && (path[n - 4] == '/' || path[n - 4] == '\\') && path.compare(n - 3, 3, "tpl") == 0) {
        errno = EACCES;
        return -1;
    }
    return tu::real_calls().mkdir(native);
}

TEST_F(CopyTree, SubdirectoryThatCannotBeMadeStopsTheCopy)
{
    int count = 0;
    tu::CapturedOutput out;
    {
        tu::Fault f(&plat_syscalls::mkdir, deny_tpl_mkdir);
        EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "*", 1, &count), 0);
    }
    EXPECT_NE(log.text().find("Error: could not create directory \\dest\\tpl\\\n"), std::string::npos);
    EXPECT_FALSE(tu::exists(p("dest/tpl")));
}

TEST_F(CopyTree, ExistingSubdirectoryIsFine)
{
    tu::make_dirs(p("dest/tpl/inner"));
    int count = 0;
    tu::CapturedOutput out;
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "*", 1, &count), 1);
    EXPECT_EQ(count, 5);
}

TEST_F(CopyTree, NullDestinationOrPatternIsRefused)
{
    EXPECT_EQ(copy_tree(nullptr, "\\src\\", "*", 0, nullptr), 0);
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", nullptr, 0, nullptr), 0);
    EXPECT_FALSE(tu::exists(p("dest")));
}

TEST_F(CopyTree, MissingSourceFailsButHoldsNothingForABackup)
{
    int count = 0;
    EXPECT_EQ(copy_tree("\\dest\\", "\\nosuch\\", "*", 1, &count), 0);
    EXPECT_EQ(copy_tree_backup("\\dest\\", "\\nosuch\\", "*", 1, &count, nullptr), 1);
    EXPECT_EQ(count, 0);
}

}  // namespace

namespace {

// A backup over an earlier one keeps it under the next free number; when
// that rename fails the file's backup fails and the earlier one stays.
// The files a run's backups wrote are kept from that run's later copies,
// and from no other run's.
TEST_F(CopyTree, BackupKeepsEarlierBackupsUnderTheNextFreeNumber)
{
    path_set run, other;
    path_set_init(&run);
    path_set_init(&other);
    tu::make_dirs(p("bak"));
    file("bak/index.tpl", "first");
    file("bak/index.tpl.~1~", "older");
    EXPECT_EQ(copy_tree_backup("\\bak\\", "\\src\\", "index.tpl", 0, nullptr, &run), 1);
    EXPECT_EQ(tu::read_file(p("bak/index.tpl")), "index");
    EXPECT_EQ(tu::read_file(p("bak/index.tpl.~1~")), "older");
    EXPECT_EQ(tu::read_file(p("bak/index.tpl.~2~")), "first");
    EXPECT_NE(log.text().find("Info: copy_file: kept \\bak\\index.tpl as \\bak\\index.tpl.~2~\n"), std::string::npos);

    file("src/index.tpl", "changed");
    {
#ifndef _WIN32  // a name is kept by a rename in the open folder
        tu::Fault f(
            &plat_syscalls::rename_at, +[](int, const char *, const char *, int) { return errno = EIO, -1; });
#else
        tu::Fault f(&plat_syscalls::move_new, tu::fail_rename);
#endif
        EXPECT_EQ(copy_tree_backup("\\bak\\", "\\src\\", "index.tpl", 0, nullptr, &run), 0);
    }
    EXPECT_EQ(tu::read_file(p("bak/index.tpl")), "index");
    EXPECT_FALSE(tu::exists(p("bak/index.tpl.~3~")));

    // a later plain copy of this run onto a backed-up file keeps it too
    EXPECT_EQ(copy_tree("\\bak\\", "\\src\\", "index.tpl", 0, nullptr, &run), 1);
    EXPECT_EQ(tu::read_file(p("bak/index.tpl.~3~")), "index");
    EXPECT_EQ(tu::read_file(p("bak/index.tpl")), "changed");
    path_set_free(&run);

    // another run's copy replaces it as any copy does
    file("src/index.tpl", "third");
    EXPECT_EQ(copy_tree("\\bak\\", "\\src\\", "index.tpl", 0, nullptr, &other), 1);
    EXPECT_EQ(tu::read_file(p("bak/index.tpl")), "third");
    EXPECT_FALSE(tu::exists(p("bak/index.tpl.~4~")));

    // numbers follow the highest one kept, so kept files sort by age
    file("bak/t", "now");
    file("bak/t.~2~");
    file("bak/t.~9x~");
    char kept[TEXT_LINE_SIZE];
    ASSERT_EQ(copy_keep_numbered("\\bak\\t", kept, sizeof kept), 1);
    EXPECT_STREQ(kept, "\\bak\\t.~3~");
    EXPECT_EQ(tu::read_file(p("bak/t.~3~")), "now");
}

#ifndef _WIN32  // the folder made unreadable through the descriptor row
void *unlistable_at(int, const char *, int, int *) { return errno = EACCES, nullptr; }

// Keeping a file in a run that can be put back: a numbered name found taken
// (here: the folder could not be read, so the numbers start at 1) is another
// file's, and the rollback removes only the name the keep made.
TEST_F(CopyFile, ARollbackRemovesOnlyTheNumberedNameItsKeepMade)
{
    file("dst/cfg", "now");
    file("dst/cfg.~1~", "earlier");
    ASSERT_TRUE(journal_start("keep.jnl"));
    char kept[TEXT_LINE_SIZE];
    {
        tu::Fault f(&plat_syscalls::dir_open_at, unlistable_at);
        ASSERT_EQ(copy_keep_numbered_beside("\\dst\\cfg", kept, sizeof kept), 1);
    }
    EXPECT_STREQ(kept, "\\dst\\cfg.~2~");
    int failed = -1;
    EXPECT_EQ(journal_rollback(&failed, nullptr), 1);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(tu::read_file(p("dst/cfg.~1~")), "earlier");
    EXPECT_FALSE(tu::exists(p("dst/cfg.~2~")));
}
#endif

}  // namespace

namespace {

// The listing is reached through the system-call table too, so a folder
// that cannot be read can be made in-process: a copy step naming one file
// there then fails, and says so, instead of passing for done.
void *unreadable_dir(const char *, int)
{
    errno = EIO;
    return nullptr;
}

TEST_F(CopyTree, AnUnreadableSourceListingFailsASingleFileStep)
{
    tu::CapturedOutput out;
    {
        tu::Fault f(&plat_syscalls::dir_open, unreadable_dir);
        EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "index.tpl", 0, nullptr), 0);
        EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "*", 0, nullptr), 0);  // a wildcard step too
    }
    EXPECT_NE(log.text().find("Error: dir_walk: could not list \\src\\ {5="), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("Error: copy_tree: index.tpl not found in \\src\\"), std::string::npos) << log.text();
    EXPECT_FALSE(tu::exists(p("dest/index.tpl")));
    EXPECT_EQ(copy_tree("\\dest\\", "\\src\\", "index.tpl", 0, nullptr), 1);  // readable again
}

#ifndef _WIN32
// A copy step lists its target folder once: a new file costs no look-up of
// its name, however many the step copies.
int lstat_calls = 0;
int counted_lstat(const char *native, struct stat *st)
{
    lstat_calls++;
    return tu::real_calls().lstat(native, st);
}
int counted_lstat_at(int dir, const char *name, struct stat *st)
{
    lstat_calls++;
    return tu::real_calls().lstat_at(dir, name, st);
}

TEST_F(CopyTree, ANewFileCostsNoLookUpOfItsName)
{
    tu::CapturedOutput out;
    int calls[2];
    for (int round = 0; round < 2; round++) {
        tu::make_dirs(p("many"));
        for (int i = 0; i < 4 * (round + 1); i++) file("many/f" + std::to_string(i), "x");
        tu::Fault f(&plat_syscalls::lstat, counted_lstat);
        tu::Fault g(&plat_syscalls::lstat_at, counted_lstat_at);
        lstat_calls = 0;
        EXPECT_EQ(copy_tree(round ? "\\two\\" : "\\one\\", "\\many\\", "*", 0, nullptr), 1);
        calls[round] = lstat_calls;
    }
    EXPECT_EQ(calls[1], calls[0]) << "look-ups grew with the files";
}
#endif

}  // namespace
