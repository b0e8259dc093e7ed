// Bounded string helpers and installer-path operations.
#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

TEST(TextCopy, CutsAtBufferSizeAndTakesNulls)
{
    std::string long_src(600, 'x');
    char buf[512];
    text_copy(buf, long_src.c_str(), sizeof buf);
    EXPECT_EQ(std::string(buf), std::string(511, 'x'));
    text_copy(buf, "abc", 1);
    EXPECT_STREQ(buf, "");
    text_copy(buf, "keep", sizeof buf);
    text_copy(buf, nullptr, sizeof buf);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(text_copy(nullptr, "a", 5), nullptr);
}

TEST(TextAppend, NeverPassesTheBuffer)
{
    char full[512];
    std::string s(511, 'y');
    text_copy(full, s.c_str(), sizeof full);
    text_append(full, "z", sizeof full);
    EXPECT_EQ(std::string(full), s);
    char three[3] = "a";
    text_append(three, "b", 3);
    EXPECT_STREQ(three, "ab");
    char two[2] = "a";
    text_append(two, "b", 2);
    EXPECT_STREQ(two, "a");
    char guard[8] = "abc";
    text_append(guard, nullptr, 8);
    EXPECT_STREQ(guard, "abc");
}

TEST(TextCopyN, WritesTwoTerminators)
{
    char buf[8];
    memset(buf, 'Q', sizeof buf);
    char *end = text_copy_n(buf, "abcdef", 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(end, buf + 3);
    memset(buf, 'Q', sizeof buf);
    end = text_copy_n(buf, "ab", 3);
    EXPECT_EQ(end, buf + 2);
    EXPECT_EQ(buf[2], '\0');
    EXPECT_EQ(buf[3], '\0');
    EXPECT_EQ(text_copy_n(buf, nullptr, 3), buf);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(text_copy_n(nullptr, "x", 3), nullptr);
}

TEST(TextCompare, ExactAndCaseBlind)
{
    EXPECT_EQ(text_compare("abc", "abc"), 0);
    EXPECT_NE(text_compare("abc", "abd"), 0);
    EXPECT_EQ(text_compare("abc", "abd"), -1);
    EXPECT_EQ(text_compare("b", "a"), 1);
    EXPECT_EQ(text_compare(nullptr, "a"), 1);
    EXPECT_EQ(text_compare(nullptr, nullptr), 1);
    EXPECT_EQ(text_compare_nocase("Vend", "vEND"), 0);
    EXPECT_EQ(text_compare_nocase("ab", "abc"), 1);
    EXPECT_EQ(text_compare_nocase("abc", "ab"), 1);
    EXPECT_EQ(text_compare_nocase("", ""), 0);
    EXPECT_EQ(text_compare_nocase("", "a"), 1);
    EXPECT_EQ(text_compare_nocase("a", "c"), 'a' - 'c');
    char s[] = "C:\\Inetpub";
    EXPECT_STREQ(text_lower(s), "c:\\inetpub");
    EXPECT_EQ(text_lower(nullptr), nullptr);
    EXPECT_EQ(text_fold_hash("Quillor.INI"), text_fold_hash("quillor.ini")); /* case-blind tables */
    EXPECT_NE(text_fold_hash("quillor.ini"), text_fold_hash("quillor.inj"));
}

TEST(PathOps, CleanNameKeepsSafeCharactersOnly)
{
    EXPECT_STREQ(clean_name("my file.txt"), "my_file.txt");
    EXPECT_STREQ(clean_name("*.htm*"), "*.htm*");
    EXPECT_STREQ(clean_name("C:\\web\\x"), "C:\\web\\x");
    EXPECT_STREQ(clean_name("a(b)~$&+,!'c"), "abc");
    EXPECT_STREQ(clean_name(nullptr), "");
}

TEST(PathOps, JoinPutsExactlyOneBackslash)
{
    EXPECT_STREQ(path_join("C:\\a", "b"), "C:\\a\\b");
    EXPECT_STREQ(path_join("C:\\a\\", "b"), "C:\\a\\b");
    EXPECT_STREQ(path_join("C:\\a\\", "\\b"), "C:\\a\\b");
    EXPECT_STREQ(path_join("C:\\a", nullptr), "C:\\a\\");
    EXPECT_STREQ(path_join("", "my file.txt"), "my_file.txt");
    EXPECT_STREQ(path_join(nullptr, nullptr), "");
}

TEST(PathOps, RawJoinKeepsTheRealNameAndRefusesToCut)
{
    char buf[16];
    EXPECT_EQ(path_join_raw(buf, sizeof buf, "a\\", "my page"), 1);
    EXPECT_STREQ(buf, "a\\my page");
    EXPECT_EQ(path_join_raw(buf, sizeof buf, "a", "b"), 1);
    EXPECT_STREQ(buf, "a\\b");
    EXPECT_EQ(path_join_raw(buf, sizeof buf, "dir\\", "far-too-long-name"), 0);
    EXPECT_STREQ(buf, "");
}

TEST(PathOps, StripBaseAndDirectory)
{
    EXPECT_STREQ(strip_ext("a.b.c"), "a.b");
    EXPECT_STREQ(strip_ext("file.txt"), "file");
    EXPECT_STREQ(strip_ext(".profile"), "");
    EXPECT_STREQ(strip_ext("name."), "name");
    EXPECT_STREQ(strip_ext("x."), "x.");
    EXPECT_STREQ(strip_ext(".."), "..");
    EXPECT_STREQ(strip_ext("a.."), "a..");
    EXPECT_STREQ(strip_ext("plain"), "plain");
    EXPECT_STREQ(base_name("C:\\logs\\install.log", 1), "install");
    EXPECT_STREQ(base_name("C:\\logs\\", 0), "");
    EXPECT_STREQ(base_name("readme.txt", 0), "readme.txt");
    EXPECT_STREQ(dir_part("C:\\a\\b.txt"), "C:\\a\\");
    EXPECT_STREQ(dir_part("C:\\a\\b\\"), "C:\\a\\b\\");
    EXPECT_EQ(dir_part("readme.txt"), nullptr);
    EXPECT_EQ(dir_part(nullptr), nullptr);
}
