// Tree removal: which entries go, which stay, and what the console and the
// log say about it.
#include "files/remove.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

class Rmfile : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    void SetUp() override
    {
        tu::make_dirs(p("tpl/inner"));
        tu::make_dirs(p("other"));
        file("index.tpl");
        file("readme.txt");
        file("MANUAL.HTM");
        file("tpl/a.htm");
        file("tpl/inner/b.txt");
        file("other/x.tpl");
    }
    void TearDown() override { plat_syscall_reset(); }
    std::string p(const std::string &rel) { return scratch.path(rel); }
    void file(const std::string &rel) { tu::write_file(p(rel), "x"); }
    bool logged(const std::string &line) { return log.text().find(line + "\n") != std::string::npos; }
};

TEST_F(Rmfile, MatchingSubdirectoryGoesWholeAndOtherEntriesStay)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, "*tpl*"), 1);
    EXPECT_FALSE(tu::exists(p("index.tpl")));
    EXPECT_FALSE(tu::exists(p("tpl")));
    EXPECT_TRUE(tu::exists(p("readme.txt")));
    EXPECT_TRUE(tu::exists(p("other/x.tpl")));  // the mask chooses at the top level only
    EXPECT_EQ(out.text(), "...");
    EXPECT_TRUE(logged("Info: removed file .\\index.tpl"));
    EXPECT_TRUE(logged("Info: removed file .\\tpl\\inner\\b.txt"));
    EXPECT_TRUE(logged("Info: removed file .\\tpl\\a.htm"));
}

TEST_F(Rmfile, MatchingIsCaseBlind)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(".\\", "*man*"), 1);
    EXPECT_FALSE(tu::exists(p("MANUAL.HTM")));
    EXPECT_TRUE(tu::exists(p("readme.txt")));
}

TEST_F(Rmfile, StarEmptiesTheDirectoryButKeepsIt)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile("\\tpl\\", "*"), 1);
    EXPECT_TRUE(tu::is_dir(p("tpl")));
    EXPECT_TRUE(fs::is_empty(p("tpl")));
    EXPECT_TRUE(tu::exists(p("index.tpl")));
}

TEST_F(Rmfile, NullPatternIsReportedInLogAndOnConsole)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, nullptr), 0);
    EXPECT_EQ(out.text(), "\nrmfile: unexpected NULL passed\n");
    EXPECT_TRUE(logged("Error: rmfile: unexpected NULL passed"));
}

TEST_F(Rmfile, NamesWithBlanksAreRemovedLikeAnyOther)
{
    tu::make_dirs(p("odd dir"));
    file("odd dir/in it.txt");
    file("my page.tpl");
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, "*dir*"), 1);
    EXPECT_EQ(rmfile(nullptr, "my*"), 1);
    EXPECT_FALSE(tu::exists(p("odd dir")));
    EXPECT_FALSE(tu::exists(p("my page.tpl")));
    EXPECT_TRUE(logged("Info: removed file .\\my page.tpl"));
}

// Files are removed by name in their open folder on POSIX, by path on Windows.
#ifndef _WIN32
int refuse_keep_at(int dir, const char *name, int folder)
{
    if (!folder && std::string(name).find("keep") != std::string::npos) return errno = EACCES, -1;
    return tu::real_calls().unlink_at(dir, name, folder);
}
void refuse_to_remove_keep() { plat_syscall_table()->unlink_at = refuse_keep_at; }
#else
int refuse_keep(const char *native)
{
    if (std::string(native).find("keep") != std::string::npos) {
        errno = EACCES;
        return -1;
    }
    return remove(native);
}
void refuse_to_remove_keep() { plat_syscall_table()->remove = refuse_keep; }
#endif

TEST_F(Rmfile, FileThatStaysIsLoggedAsAnErrorNotAsRemoved)
{
    file("keep.tpl");
    refuse_to_remove_keep();
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, "*.tpl"), 0);  // something stayed: the caller counts it
    plat_syscall_reset();
    EXPECT_TRUE(tu::exists(p("keep.tpl")));
    EXPECT_FALSE(tu::exists(p("index.tpl")));
    EXPECT_TRUE(logged("Error: rmfile: could not remove .\\keep.tpl {13=Permission denied}"));
    EXPECT_FALSE(logged("Info: removed file .\\keep.tpl"));

    file("tpl/inner/keep.txt");  // inside a matching folder: counted too, and the folders stay
    refuse_to_remove_keep();
    EXPECT_EQ(rmfile(nullptr, "tpl*"), 0);
    plat_syscall_reset();
    EXPECT_TRUE(tu::exists(p("tpl/inner/keep.txt")));
    EXPECT_FALSE(tu::exists(p("tpl/inner/b.txt")));
    EXPECT_TRUE(logged("Error: rmfile: could not remove .\\tpl\\inner\\keep.txt {13=Permission denied}"));
}

// A file changed after the backup of what is removed began is not in the
// backup as it is: it stays, named; the rest goes.
TEST_F(Rmfile, AFileChangedAfterItsBackupBeganStays)
{
    fs::last_write_time(p("tpl/inner/b.txt"), fs::file_time_type::clock::now() + std::chrono::hours(1));
    long long began = plat_clock_late();                          // a time in the future is not a change: b.txt goes
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past the clocks' coarsest tick
    tu::write_file(p("tpl/a.htm"), "changed");
    int all;
    {
        tu::CapturedOutput out;
        all = rmfile_job(nullptr, "*tpl*", began);
    }
    EXPECT_EQ(all, 0);
    EXPECT_EQ(tu::read_file(p("tpl/a.htm")), "changed");
    EXPECT_FALSE(tu::exists(p("tpl/inner/b.txt")));
    EXPECT_FALSE(tu::exists(p("index.tpl")));
    EXPECT_TRUE(logged("Error: rmfile: .\\tpl\\a.htm changed after its backup began, not removed"));
}

#ifndef _WIN32  // links need privileges on Windows
TEST_F(Rmfile, LinkedDirectoryLosesOnlyTheLink)
{
    tu::make_dirs(p("outside"));
    file("outside/precious.txt");
    fs::create_directory_symlink(p("outside"), p("tpl_link"));
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, "*tpl*"), 1);
    EXPECT_FALSE(tu::exists(p("tpl_link")));
    EXPECT_TRUE(tu::exists(p("outside/precious.txt")));
}
#endif

// The listing marks a name no installer path can spell (on Windows, one the
// ANSI code page cannot hold): here the folder "tpl".
int unnameable_tpl(void *dir, plat_find_entry *e)
{
    int got = tu::real_calls().dir_read(dir, e);
    if (got && strcmp(e->name, "tpl") == 0) e->attrib |= PLAT_ATTR_UNNAMED;
    return got;
}

TEST_F(Rmfile, NameThatCannotBeSpeltIsNeverActedOnAndStays)
{
    tu::CapturedOutput out;
    tu::Fault f(&plat_syscalls::dir_read, unnameable_tpl);
    EXPECT_EQ(rmfile(nullptr, "*tpl*"), 0);  // counted by the caller
    EXPECT_TRUE(tu::exists(p("tpl/inner/b.txt")));
    EXPECT_FALSE(tu::exists(p("index.tpl")));
    EXPECT_TRUE(logged("Error: dir_walk: cannot handle \"tpl\" in .\\: no installer path can name it"));
}

TEST_F(Rmfile, MaskWithADirectoryPartRemovesInThatSubdirectory)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile(nullptr, "other\\*.tpl"), 1);
    EXPECT_FALSE(tu::exists(p("other/x.tpl")));
    EXPECT_TRUE(tu::exists(p("index.tpl")));
}

// A subfolder is listed in its open parent on POSIX, by path on Windows.
#ifndef _WIN32
void *unlistable_inner(int dir, const char *name, int nofollow, int *fd)
{
    if (std::string(name).find("inner") == std::string::npos)
        return tu::real_calls().dir_open_at(dir, name, nofollow, fd);
    errno = EIO;
    return nullptr;
}
const auto listing_row = &plat_syscalls::dir_open_at;
#else
void *unlistable_inner(const char *native, int nofollow)
{
    if (std::string(native).find("inner") == std::string::npos) return tu::real_calls().dir_open(native, nofollow);
    errno = EIO;
    return nullptr;
}
const auto listing_row = &plat_syscalls::dir_open;
#endif

#ifndef _WIN32  // links made by any account
// A listed folder swapped for a link to another folder just before the
// removal descends into it (swap_when: "inner"), or while it descends
// further ("deep"): neither is followed.
std::string swap_when, swap_inner, swap_away, swap_target;
void *swapped_for_link(int dir, const char *name, int nofollow, int *fd)
{
    if (std::string(name) == swap_when && !tu::exists(swap_away)) {
        fs::rename(swap_inner, swap_away);
        fs::create_directory_symlink(swap_target, swap_inner);
    }
    return tu::real_calls().dir_open_at(dir, name, nofollow, fd);
}

TEST_F(Rmfile, ARemovalNeverFollowsAFolderSwappedForALink)
{
    tu::CapturedOutput out;
    swap_when = "inner", swap_inner = p("tpl/inner"), swap_away = p("tpl/away"), swap_target = p("other");
    {
        tu::Fault f(&plat_syscalls::dir_open_at, swapped_for_link);
        EXPECT_EQ(rmfile("\\tpl\\", "*"), 0);
    }
    EXPECT_TRUE(tu::exists(p("other/x.tpl")));  // where the link leads: untouched
    EXPECT_TRUE(tu::exists(p("tpl/away/b.txt")));
    EXPECT_NE(log.text().find("Error: rmfile: could not remove \\tpl\\inner\\ {"), std::string::npos) << log.text();

    tu::make_dirs(p("two/inner/deep"));
    tu::make_dirs(p("other/deep"));
    file("two/inner/deep/d.txt");
    file("other/deep/precious.txt");
    swap_when = "deep", swap_inner = p("two/inner"), swap_away = p("two/away");
    {
        tu::Fault f(&plat_syscalls::dir_open_at, swapped_for_link);
        rmfile("\\two\\", "*");
    }
    EXPECT_TRUE(tu::exists(p("other/deep/precious.txt")));  // the link at a folder above: not followed
    EXPECT_FALSE(tu::exists(p("two/away/deep/d.txt")));     // the folder listed is the one emptied
}
#endif

TEST_F(Rmfile, AFolderThatCannotBeListedOrANameNoPathSpellsFails)
{
    tu::CapturedOutput out;
    {
        tu::Fault f(listing_row, unlistable_inner);
        EXPECT_EQ(rmfile("\\tpl\\", "*"), 0);
    }
    EXPECT_TRUE(tu::exists(p("tpl/inner/b.txt")));
    EXPECT_FALSE(tu::exists(p("tpl/a.htm")));
    EXPECT_NE(log.text().find("Error: dir_walk: could not list \\tpl\\inner\\ {5="), std::string::npos) << log.text();
#ifndef _WIN32  // no Windows name holds a backslash
    file("other/a\\b.tpl");
    EXPECT_EQ(rmfile("\\other\\", "*.tpl"), 0);
    EXPECT_TRUE(tu::exists(p("other/a\\b.tpl")));
    EXPECT_TRUE(logged("Error: dir_walk: cannot handle \"a\\b.tpl\" in \\other\\: no installer path can name it"));
#endif
}

TEST_F(Rmfile, MissingDirectoryRemovesNothingAndSucceeds)
{
    tu::CapturedOutput out;
    EXPECT_EQ(rmfile("\\missing\\", "*"), 1);
    EXPECT_EQ(out.text(), "");
}

}  // namespace
