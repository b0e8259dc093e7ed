// Case-blind name lookups on POSIX read the folder whenever a name is not
// there as written.  These tests change directories behind the platform
// layer's back, and through it, and check that every lookup sees the
// directory as it is.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

std::string native(const char *path)
{
    char buf[4096];
    EXPECT_EQ(plat_native_path(path, buf, sizeof buf), 1);
    return buf;
}

void make_file_with_platform(const char *path, const char *text)
{
    FILE *f = plat_fopen(path, "wb");
    ASSERT_NE(f, nullptr) << path;
    plat_fwrite(text, 1, strlen(text), f);
    plat_fclose(f);
}

TEST(CaseBlindLookUps, NameAddedBehindTheLayersBackIsFound)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    tu::write_file(s.path("web/Other.txt"), "o");
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/index.tpl");  // looked up: missing
    tu::write_file(s.path("web/INDEX.TPL"), "old");                   // another program adds it
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/INDEX.TPL");
    make_file_with_platform("\\web\\index.tpl", "new");
    EXPECT_EQ(tu::read_file(s.path("web/INDEX.TPL")), "new");
    EXPECT_FALSE(tu::exists(s.path("web/index.tpl")));
}

// A tool that adds a name and then sets the folder's modification time
// back (as unpacking an archive does) cannot hide it: the change time moved.
TEST(CaseBlindLookUps, NameAddedUnderARestoredModificationTimeIsFound)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    struct stat before;
    ASSERT_EQ(stat(s.path("web").c_str(), &before), 0);
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/index.tpl");  // looked up: missing
    std::this_thread::sleep_for(std::chrono::milliseconds(20));       // a clock tick, for coarse times
    tu::write_file(s.path("web/INDEX.TPL"), "old");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, s.path("web").c_str(), times, 0), 0);
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/INDEX.TPL");
}

TEST(CaseBlindLookUps, NameRemovedBehindTheLayersBackIsNoLongerFound)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    tu::write_file(s.path("web/INDEX.TPL"), "old");
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/INDEX.TPL");
    ASSERT_EQ(unlink(s.path("web/INDEX.TPL").c_str()), 0);
    EXPECT_EQ(native("\\web\\index.tpl"), s.dir + "/web/index.tpl");
}

TEST(CaseBlindLookUps, FilesTheLayerCreatesAreFoundInAnyCase)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    for (int i = 0; i < 200; i++) {  // enough names to need a bigger table
        std::string p = "\\web\\Page" + std::to_string(i) + ".Htm";
        EXPECT_EQ(native(p.c_str()), s.dir + "/web/Page" + std::to_string(i) + ".Htm");
        make_file_with_platform(p.c_str(), "x");
    }
    EXPECT_EQ(native("\\web\\PAGE7.HTM"), s.dir + "/web/Page7.Htm");
    EXPECT_EQ(native("\\web\\page199.htm"), s.dir + "/web/Page199.Htm");
    ASSERT_EQ(plat_mkdir("\\web\\Sub"), 0);
    EXPECT_EQ(native("\\web\\SUB\\"), s.dir + "/web/Sub/");
}

TEST(CaseBlindLookUps, RenamesWithinADirectoryMoveTheName)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    make_file_with_platform("\\web\\a.tmp", "1");
    ASSERT_EQ(plat_rename("\\web\\a.tmp", "\\web\\Target.txt"), 0);  // onto a new name
    EXPECT_EQ(native("\\web\\TARGET.TXT"), s.dir + "/web/Target.txt");
    EXPECT_EQ(native("\\web\\A.TMP"), s.dir + "/web/A.TMP");
    make_file_with_platform("\\web\\b.tmp", "2");
    ASSERT_EQ(plat_rename("\\web\\b.tmp", "\\web\\Target.txt"), 0);  // over an existing one
    EXPECT_EQ(native("\\web\\B.TMP"), s.dir + "/web/B.TMP");
    EXPECT_EQ(tu::read_file(s.path("web/Target.txt")), "2");
}

TEST(CaseBlindLookUps, RenameOfAHardLinkOntoItsTwinKeepsBothNames)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    tu::write_file(s.path("web/one"), "x");
    ASSERT_EQ(link(s.path("web/one").c_str(), s.path("web/two").c_str()), 0);
    EXPECT_EQ(native("\\web\\THREE"), s.dir + "/web/THREE");  // keeps a listing
    EXPECT_EQ(plat_rename("\\web\\one", "\\web\\two"), 0);    // changes nothing
    EXPECT_TRUE(tu::exists(s.path("web/one")));
    EXPECT_EQ(native("\\web\\ONE"), s.dir + "/web/one");
}

TEST(CaseBlindLookUps, ADirectoryMadeAgainAtTheSamePlaceIsReadAfresh)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    tu::write_file(s.path("web/Gone.txt"), "x");
    EXPECT_EQ(native("\\web\\gone.txt"), s.dir + "/web/Gone.txt");
    ASSERT_EQ(plat_remove("\\web\\gone.txt"), 0);
    ASSERT_EQ(plat_rmdir("\\web"), 0);
    ASSERT_EQ(plat_mkdir("\\web"), 0);
    EXPECT_EQ(native("\\web\\gone.txt"), s.dir + "/web/gone.txt");
}

TEST(CaseBlindLookUps, ReadingAPipeIsStillRefused)
{
    tu::Scratch s;
    ASSERT_EQ(mkfifo(s.path("pipe").c_str(), 0600), 0);
    errno = 0;
    EXPECT_EQ(plat_fopen("\\pipe", "rb"), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

// Entries of the system-call table that make the bare call and nothing
// else: what the wrappers decide around the calls must not depend on them.
int passed_on;
FILE *passing_fopen(const char *native, const char *mode)
{
    passed_on++;
    if (mode[0] != 'r') return fopen(native, mode);
    int fd = open(native, O_RDONLY | O_NONBLOCK);  // a pipe opens at once, and is not checked here
    FILE *f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (fd >= 0 && !f) close(fd);
    return f;
}
int passing_mkdir(const char *native)
{
    passed_on++;
    return tu::real_calls().mkdir(native);
}
int passing_rename(const char *from, const char *to)
{
    passed_on++;
    return tu::real_calls().rename(from, to);
}

TEST(CaseBlindLookUps, SwappedTableEntriesKeepThePolicyAroundThem)
{
    tu::Scratch s;
    tu::make_dirs(s.path("web"));
    tu::write_file(s.path("web/Seen.txt"), "x");
    ASSERT_EQ(mkfifo(s.path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(native("\\web\\seen.txt"), s.dir + "/web/Seen.txt");  // the listing is kept now
    passed_on = 0;
    plat_syscall_table()->fopen = passing_fopen;
    plat_syscall_table()->mkdir = passing_mkdir;
    plat_syscall_table()->rename = passing_rename;
    errno = 0;
    EXPECT_EQ(plat_fopen("\\pipe", "rb"), nullptr);  // still refused, never waited on
    EXPECT_EQ(errno, EINVAL);
    make_file_with_platform("\\web\\New.txt", "n");  // entered into the kept listing
    ASSERT_EQ(plat_mkdir("\\web\\Sub"), 0);
    ASSERT_EQ(plat_rename("\\web\\seen.txt", "\\web\\Moved.txt"), 0);
    plat_syscall_reset();
    EXPECT_GE(passed_on, 4);
    EXPECT_EQ(native("\\web\\new.txt"), s.dir + "/web/New.txt");
    EXPECT_EQ(native("\\web\\sub\\"), s.dir + "/web/Sub/");
    EXPECT_EQ(native("\\web\\moved.txt"), s.dir + "/web/Moved.txt");
    EXPECT_EQ(native("\\web\\seen.txt"), s.dir + "/web/seen.txt");  // gone: taken as written
    EXPECT_EQ(plat_fopen("\\web\\new.txt", "wbx"), nullptr);        // an exclusive create over it fails
    EXPECT_EQ(errno, EEXIST);
}

}  // namespace
#endif
