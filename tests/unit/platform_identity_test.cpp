// What a path really is: canonical forms, drive roots however they are
// spelt, one folder under several names, containment by identity; on POSIX
// and on Windows (drive-relative paths, device prefixes, share roots, short
// names).
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

namespace {

std::string canonical(const std::string &path)
{
    char buf[4096];
    if (!plat_canonical_path(path.c_str(), buf, sizeof buf)) return "<none>";
    return buf;
}

TEST(PathIdentity, EverySpellingOfTheRootIsARootAndNothingBelowIs)
{
    tu::Scratch s;  // the current folder is the root of the test drive
    tu::make_dirs(s.path("a/b"));
    for (const char *root : {"\\", "/", "\\.\\", "/.", "\\a\\..", "\\a\\b\\..\\..\\", "\\..\\", ".\\", ".", "a\\.."})
        EXPECT_EQ(plat_is_root(root), 1) << root;
    for (const char *below : {"\\a\\", "\\a\\b\\..", "\\missing\\", ".\\a", "a", "\\a\\..\\missing"})
        EXPECT_EQ(plat_is_root(below), 0) << below;
    EXPECT_EQ(plat_is_root((s.drive() + "\\").c_str()), 1);
}

TEST(PathIdentity, OneFolderUnderManySpellingsIsOneFolder)
{
    tu::Scratch s;
    tu::make_dirs(s.path("a/b"));
    EXPECT_EQ(canonical("\\a\\b\\..\\"), canonical("\\a"));
    EXPECT_EQ(canonical("/a/./b/"), canonical(".\\a\\b"));
    EXPECT_EQ(plat_same_dir("\\a\\", "\\A\\b\\..\\"), 1);
    EXPECT_EQ(plat_same_dir("\\a\\b", ".\\a\\.\\b\\"), 1);
    EXPECT_EQ(plat_same_dir("\\a\\", "\\a\\b\\"), 0);
    EXPECT_EQ(plat_same_dir("\\new\\x\\..\\", "/new/"), 1);  // missing folders: by their names
    EXPECT_EQ(plat_dir_contains("\\a\\b\\..\\", "\\a\\b"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\", "\\a\\b\\new\\deeper\\"), 1);  // a backup not made yet
    EXPECT_EQ(plat_dir_contains("\\a\\b\\", "\\a\\b\\..\\"), 0);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\x\\..\\..\\", ".\\a\\b"), 1);
}

#ifndef _WIN32
TEST(PathIdentity, LinksAndFoldersAboveTheRootAreSeenForWhatTheyAre)
{
    tu::Scratch s;
    tu::make_dirs(s.path("a/b"));
    ASSERT_EQ(symlink(s.path("a").c_str(), s.path("link").c_str()), 0);
    ASSERT_EQ(symlink(s.dir.c_str(), s.path("a/up").c_str()), 0);
    EXPECT_EQ(plat_same_dir("\\link\\", "\\a\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\link\\", "\\a\\b\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\a\\b\\", "\\link\\b\\"), 1);
    EXPECT_EQ(plat_is_root("\\a\\up\\"), 1);  // a link to the root
    EXPECT_EQ(plat_is_root("..\\"), 1);       // a folder that holds the whole drive
    EXPECT_EQ(canonical("\\link\\missing\\..\\b"), s.path("a/b"));
    // the folder that holds the drive, mounted a second time inside it (root only)
    tu::make_dirs(s.path("above"));
    if (geteuid() == 0 && system(("mount --bind " + s.dir + "/.. " + s.path("above") + " 2>/dev/null").c_str()) == 0) {
        EXPECT_EQ(plat_is_root("\\above\\"), 1);
        EXPECT_EQ(system(("umount " + s.path("above")).c_str()), 0);
    }
}
#endif

#ifdef _WIN32
TEST(WinPathIdentity, DriveRootsUnderEveryPrefixAndShareRoots)
{
    tu::Scratch s;
    tu::make_dirs(s.path("docs"));
    const std::string d = s.drive();  // "T:"
    const std::string lower(1, (char)tolower((unsigned char)d[0]));
    const std::vector<std::string> roots = {d,
                                            d + ".",
                                            d + "\\.\\",
                                            d + "/.",
                                            d + "\\docs\\..",
                                            lower + ":\\..\\",
                                            "\\\\?\\" + d + "\\",
                                            "\\\\.\\" + d + "\\",
                                            "\\\\.\\" + d,
                                            "\\??\\" + d + "\\",
                                            "\\??\\" + d,
                                            "/\?\?/" + d + "/docs/..",
                                            "//?/" + d + "/",
                                            "\\\\srv\\share\\",
                                            "\\\\srv\\share",
                                            "\\\\?\\UNC\\srv\\share\\",
                                            "\\??\\UNC\\srv\\share",
                                            "//srv/share/"};
    for (const std::string &root : roots) EXPECT_EQ(plat_is_root(root.c_str()), 1) << root;
    const std::vector<std::string> below_roots = {d + "\\docs", "\\\\?\\" + d + "\\docs\\", "\\??\\" + d + "\\docs\\",
                                                  "\\\\srv\\share\\dir\\"};
    for (const std::string &below : below_roots) EXPECT_EQ(plat_is_root(below.c_str()), 0) << below;
    EXPECT_EQ(canonical("\\\\?\\" + d + "\\docs\\"), d + "\\docs");
    EXPECT_EQ(canonical("\\\\?\\UNC\\srv\\share\\x\\"), "\\\\srv\\share\\x");
    EXPECT_EQ(canonical("\\??\\" + d + "\\docs\\"), d + "\\docs");  // the system's own spelling
    EXPECT_EQ(plat_same_dir(("\\??\\" + d + "\\docs\\").c_str(), "\\docs\\"), 1);
    EXPECT_EQ(plat_dir_contains(("\\??\\" + d + "\\").c_str(), "\\docs\\x\\"), 1);
}

TEST(WinPathIdentity, DriveRelativePathsUseThatDrivesCurrentFolder)
{
    tu::Scratch s;
    tu::make_dirs(s.path("sub/deeper"));
    ASSERT_EQ(_chdir((s.drive() + "\\sub").c_str()), 0);
    EXPECT_EQ(canonical(s.drive() + "deeper"), s.drive() + "\\sub\\deeper");
    EXPECT_EQ(plat_is_root((s.drive() + ".").c_str()), 0);  // the drive's current folder is sub
    EXPECT_EQ(plat_is_root((s.drive() + "..").c_str()), 1);
    ASSERT_EQ(_chdir((s.drive() + "\\").c_str()), 0);
}

TEST(WinPathIdentity, ShortNamesAreTheFoldersTheyName)
{
    tu::Scratch s;
    tu::make_dirs(s.path("templates_dir/inner"));
    char buf[MAX_PATH];
    std::string long_name = s.drive() + "\\templates_dir";
    DWORD n = GetShortPathNameA(long_name.c_str(), buf, sizeof buf);
    ASSERT_GT(n, 0u);
    std::string short_name = buf;
    if (short_name == long_name) GTEST_SKIP() << "this volume keeps no short names";
    EXPECT_EQ(canonical(short_name + "\\inner\\"), long_name + "\\inner");
    EXPECT_EQ(canonical(short_name + "\\bak\\x"), long_name + "\\bak\\x");  // the missing rest as written
    EXPECT_EQ(plat_same_dir(short_name.c_str(), "\\templates_dir\\"), 1);
    EXPECT_EQ(plat_dir_contains(short_name.c_str(), "\\templates_dir\\bak\\"), 1);
    EXPECT_EQ(plat_dir_contains("\\templates_dir\\", (short_name + "\\bak\\").c_str()), 1);
    EXPECT_EQ(plat_dir_contains((short_name + "\\inner").c_str(), "\\templates_dir\\"), 0);
}
#endif

}  // namespace
