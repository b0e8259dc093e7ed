// The POSIX platform layer: path mapping, listings, console input.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/platform.h"
#include "test_util.h"

namespace {

std::string native(const char *path) {
    char buf[4096];
    EXPECT_EQ(plat_native_path(path, buf, sizeof buf), 1);
    return buf;
}

TEST(PathMapping, RootedPathsGoUnderTheScratchRoot) {
    tu::Scratch s;
    EXPECT_EQ(native("\\inetpub\\scripts\\"), s.dir + "/inetpub/scripts/");
    EXPECT_EQ(native("C:\\inetpub\\x"), s.dir + "/inetpub/x");
    EXPECT_EQ(native("/a/b"), s.dir + "/a/b");
    EXPECT_EQ(native(".\\tpl"), "./tpl");
    EXPECT_EQ(native("tpl\\a.tpl"), "tpl/a.tpl");
    EXPECT_EQ(native(""), ".");
}

TEST(PathMapping, ExistingComponentsResolveCaseBlind) {
    tu::Scratch s;
    tu::make_dirs(s.path("Inetpub/Scripts"));
    tu::write_file(s.path("Inetpub/Scripts/Quillor.INI"), "x");
    EXPECT_EQ(native("\\inetpub\\scripts\\quillor.ini"), s.dir + "/Inetpub/Scripts/Quillor.INI");
    EXPECT_EQ(native("\\INETPUB\\new\\File"), s.dir + "/Inetpub/new/File");
    FILE *f = plat_fopen("\\INETPUB\\SCRIPTS\\QUILLOR.ini", "r");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
}

TEST(PathMapping, DirectoryContainment) {
    tu::Scratch s;
    tu::make_dirs(s.path("a/b/c"));
    EXPECT_EQ(plat_dir_contains("\\a\\", "\\a\\b\\c\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\c\\", "\\a\\b\\c"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\c\\", "\\a\\"), 0);
    EXPECT_EQ(plat_dir_contains("\\", ".\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\missing\\", "\\a\\"), 0);
}

TEST(FileOps, ExclusiveOpenAndReplacingRename) {
    tu::Scratch s;
    tu::write_file("kept", "old");
    EXPECT_EQ(plat_fopen(".\\kept", "wx"), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(tu::read_file("kept"), "old");
    tu::write_file("new", "fresh");
    EXPECT_EQ(plat_rename(".\\new", ".\\kept"), 0);
    EXPECT_EQ(tu::read_file("kept"), "fresh");
    EXPECT_EQ(plat_mkdir("\\d"), 0);
    EXPECT_EQ(plat_mkdir("\\d"), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(plat_rmdir("\\d"), 0);
}

TEST(FileOps, PipesAreRefusedForReading) {
    tu::Scratch s;
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    EXPECT_EQ(plat_fopen(".\\pipe", "rb"), nullptr);
}

TEST(Listing, AttributesMarkDirectoriesLinksAndFiles) {
    tu::Scratch s;
    tu::make_dirs(s.path("d/sub"));
    tu::write_file(s.path("d/file.txt"), "x");
    ASSERT_EQ(symlink("sub", s.path("d/link").c_str()), 0);
    tu::write_file(s.path("d/bad\\name"), "x");
    plat_find_entry e;
    plat_find *f = plat_find_first(".\\d\\*", &e);
    ASSERT_NE(f, nullptr);
    std::map<std::string, unsigned> seen;
    do seen[e.name] = e.attrib;
    while (plat_find_next(f, &e));
    plat_find_close(f);
    EXPECT_EQ(seen["sub"], PLAT_ATTR_DIRECTORY);
    EXPECT_EQ(seen["link"], PLAT_ATTR_REPARSE);
    EXPECT_EQ(seen["file.txt"], PLAT_ATTR_ARCHIVE);
    EXPECT_EQ(seen.count("bad\\name"), 0u);
    EXPECT_EQ(seen.count("."), 1u);
    EXPECT_EQ(plat_find_first(".\\missing\\*", &e), nullptr);
}

TEST(Console, LongLinesAreCutAndTheirRestDropped) {
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

TEST(Process, ComputerNameAndTemporaryNames) {
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

TEST(Process, ProgramPathNamesTheProgramFromTheCurrentDirectory) {
    char buf[4096], self[4096];
    ASSERT_EQ(plat_program_path("ignored", buf, sizeof buf), 1);
    std::string p = buf;
    ASSERT_EQ(p.rfind(".\\", 0), 0u) << p;
    for (char &c : p) if (c == '\\') c = '/';
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n] = '\0';
    char a[4096], b[4096];
    ASSERT_NE(realpath(p.c_str(), a), nullptr);
    ASSERT_NE(realpath(self, b), nullptr);
    EXPECT_STREQ(a, b);
}

}  // namespace
