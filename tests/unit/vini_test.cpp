// Virtual ini: the configuration-file grammar, host sections, value files,
// odd input, and the messages sent to the two callbacks.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/vini.h"
#include "test_util.h"

namespace {

std::vector<std::string> &debug_lines = tu::debug_reports();
std::vector<std::string> &error_lines = tu::error_reports();
using tu::capture_debug;
using tu::capture_error;

bool has_line(const std::string &line)
{
    for (const auto &d : debug_lines)
        if (d == line) return true;
    return false;
}

struct Vini : ::testing::Test {
    tu::Scratch scratch;
    vini v;
    void SetUp() override
    {
        unsetenv("SERVER_NAME");
        debug_lines.clear();
        error_lines.clear();
        vini_init(&v, capture_error, capture_debug);
    }
    void TearDown() override { vini_free(&v); }
    // Writes cfg.ini and loads it without host sections.
    int load(const std::string &content, const char *keyword = nullptr, const char *host = nullptr)
    {
        tu::write_file("cfg.ini", content);
        return vini_load(&v, nullptr, "cfg", keyword, host);
    }
    std::string get(const char *key)
    {
        const char *value = vini_get(&v, key, 0);
        return value ? value : "<null>";
    }
};

// ---- plain lines ----

TEST_F(Vini, KeysAndValuesAreSplitAtBlanks)
{
    ASSERT_EQ(load("  lead   value with  blanks \t \r\n"
                   "tab\tx\n"
                   "a=b c\n"),
              1);
    EXPECT_EQ(get("lead"), "value with  blanks");
    EXPECT_EQ(get("tab"), "x");
    EXPECT_EQ(get("a=b"), "c");
    EXPECT_EQ(debug_lines.front(), "VINI: Loading {cfg.ini}");
    EXPECT_TRUE(has_line("VINI: Settings changed {lead=value with  blanks}"));
}

TEST_F(Vini, FirstColumnCommentsAndEmptyLinesAreSkipped)
{
    load("#c comment\n\r\n\n  #x kept\n");
    EXPECT_EQ(get("#c"), "<null>");
    EXPECT_EQ(get("#x"), "kept");
    EXPECT_EQ(static_count(&v.undeclared), 1);
}

TEST_F(Vini, KeyWithoutValueIsRefusedAndKeepsEarlierValue)
{
    load("k 1\nk\n   \t \nk\r\n");
    EXPECT_EQ(get("k"), "1");
    EXPECT_TRUE(has_line("VINI: Blank Setting for {k} not added"));
    EXPECT_TRUE(has_line("VINI: Blank Setting for {} not added"));
}

TEST_F(Vini, LaterLineWinsAndKeyCaseFollowsLatestStore)
{
    load("Key 1\nother 9\nKEY 2\n");
    EXPECT_EQ(get("key"), "2");
    EXPECT_TRUE(has_line("VINI: Settings changed {Key=1}"));
    EXPECT_TRUE(has_line("VINI: Settings changed {KEY=2}"));
    ASSERT_EQ(static_count(&v.undeclared), 2);
    auto *last = (vini_setting *)static_get(&v.undeclared, 1);
    EXPECT_STREQ(last->name, "KEY");  // re-created at the end of the list
}

// Thousands of keys, stored again and removed in any case: the key index
// must agree with the list at every step.
TEST_F(Vini, ManyKeysStoredAgainAndRemovedStayFindable)
{
    std::string file;
    for (int i = 0; i < 3000; i++) file += "key" + std::to_string(i) + " v" + std::to_string(i) + "\n";
    load(file);
    ASSERT_EQ(static_count(&v.undeclared), 3000);
    EXPECT_EQ(vini_set(&v, "KEY10", "again"), 2999);  // moved to the end of the list
    for (int i = 0; i < 3000; i += 2) EXPECT_EQ(vini_remove(&v, ("Key" + std::to_string(i)).c_str()), 1);
    EXPECT_EQ(static_count(&v.undeclared), 1500);
    EXPECT_EQ(get("key10"), "<null>");
    EXPECT_EQ(get("KEY2999"), "v2999");
    EXPECT_EQ(vini_remove(&v, "key0"), 0);
    EXPECT_EQ(vini_set(&v, "key0", "back"), 1500);
    EXPECT_EQ(get("KEY0"), "back");
}

TEST_F(Vini, FileNamesDirectoriesAndMissingFiles)
{
    tu::make_dirs(scratch.path("sub"));
    tu::write_file("sub/q.conf", "x 1\n");
    tu::write_file("sub/plain.ini", "y 2\n");
    EXPECT_EQ(vini_load(&v, "sub", "q.conf", nullptr, nullptr), 1);
    EXPECT_EQ(vini_load(&v, ".\\sub\\", "plain", nullptr, nullptr), 1);
    EXPECT_TRUE(has_line("VINI: Loading {sub\\q.conf}"));
    EXPECT_TRUE(has_line("VINI: Loading {.\\sub\\plain.ini}"));
    EXPECT_EQ(get("x"), "1");
    EXPECT_EQ(get("y"), "2");

    EXPECT_EQ(vini_load(&v, nullptr, "absent", nullptr, nullptr), 0);
    ASSERT_EQ(error_lines.size(), 1u);
    EXPECT_EQ(error_lines[0], "Cannot open file 'absent.ini' {No such file or directory}");
    EXPECT_EQ(v.settings.locked, 1);
    EXPECT_EQ(static_count(&v.undeclared), 2);
}

// ---- continuation lines ----

TEST_F(Vini, SlashContinuationJoinsWithoutSeparator)
{
    load("j abc /\n   def\n"
         "two abc  /\ndef\n"
         "chain a /\n b /\n c\n"
         "hash x /\n#y\n");
    EXPECT_EQ(get("j"), "abcdef");
    EXPECT_EQ(get("two"), "abc def");
    EXPECT_EQ(get("chain"), "abc");
    EXPECT_EQ(get("hash"), "x#y");  // not a comment inside a continuation
    load("blanks abc / \t \r\n def  \n");  // blanks after the marker are no part of the value
    EXPECT_EQ(get("blanks"), "abcdef");
}

TEST_F(Vini, NewlineMarkerBecomesLineFeed)
{
    load("m one\\n\n\t two\\n\nthree\nshort /\n");
    EXPECT_EQ(get("m"), "one\ntwo\nthree");
    EXPECT_EQ(get("short"), "/");  // a one-character value is never a marker
}

TEST_F(Vini, BlankContinuationLineEndsEntryAndDropsMarker)
{
    load("s abc /\n\nnext 1\n"
         "n abc\\n\n \t \r\n"
         "after 2\n");
    EXPECT_EQ(get("s"), "abc");
    EXPECT_EQ(get("n"), "abc");
    EXPECT_EQ(get("next"), "1");
    EXPECT_EQ(get("after"), "2");
}

TEST_F(Vini, FileEndingInsideContinuationKeepsGatheredValue)
{
    load("a x /\n y /");
    EXPECT_EQ(get("a"), "xy /");
    load("b one\\n");
    EXPECT_EQ(get("b"), "one\n  ");
}

// ---- odd input ----

TEST_F(Vini, OverlongLineIsReadAsSeveralLines)
{
    // 25,000 characters: cut after 9,999, the rest read as further lines.
    std::string line = "k " + std::string(9997, 'a') + "p2 " + std::string(9996, 'b') + "p3 " + std::string(4999, 'c');
    ASSERT_EQ(line.size(), 25000u);
    load(line + "\nend 1\n");
    EXPECT_EQ(get("k"), std::string(9997, 'a'));
    EXPECT_EQ(get("p2"), std::string(9996, 'b'));
    EXPECT_EQ(get("p3"), std::string(4999, 'c'));
    EXPECT_EQ(get("end"), "1");
}

TEST_F(Vini, NulBytesAndLoneCarriageReturnsAreHarmless)
{
    load(std::string("a 1\0junk\nb 2\n\0c 3\nd 4\re 5\n", 26));
    EXPECT_EQ(get("a"), "1");  // the rest of a read after a NUL is lost
    EXPECT_EQ(get("b"), "2");
    EXPECT_EQ(get("c"), "<null>");
    EXPECT_EQ(get("d"), "4\re 5");  // a lone CR does not end a line
}

// ---- value files ----

TEST_F(Vini, ValueFromFileKeepsLastNonEmptyLine)
{
    tu::write_file("vals.txt", "a\r\n\nb\n");
    load("lone |\nmissing |nofile.txt\nfrom |vals.txt\n");
    EXPECT_EQ(get("lone"), "|");
    EXPECT_EQ(get("missing"), "|nofile.txt");
    EXPECT_EQ(get("from"), "b");
    EXPECT_TRUE(has_line("VINI: Settings changed {from=a}"));
    EXPECT_TRUE(has_line("VINI: Blank Setting for {from} not added"));
    EXPECT_TRUE(error_lines.empty());
}

TEST_F(Vini, OverlongValueFileLineIsSplitAt511)
{
    std::string big;
    for (int i = 0; i < 25000; i++) big += (char)('a' + i % 26);
    tu::write_file("big.txt", big + "\n");
    const ini_definition defs[] = {{"many", nullptr, INI_MULTI | INI_FROM_FILE}, {nullptr, nullptr, 0}};
    vini_set_table(&v, defs, nullptr, 0);
    load("one |big.txt\nmany |big.txt\n");
    EXPECT_EQ(get("one"), big.substr(48 * 511));
    ini_node *node = (ini_node *)static_get(&v.settings.nodes, 0);
    ASSERT_EQ(static_count(&node->values), 49);
    EXPECT_EQ(get("many"), big.substr(0, 511));
}

// ---- declared keys ----

TEST_F(Vini, DeclaredKeysGoToTheSettingsList)
{
    tu::write_file("list.txt", "x\ny\n");
    const ini_definition defs[] = {{"files", nullptr, INI_MULTI | INI_FROM_FILE},
                                   {"plain", nullptr, INI_MULTI},
                                   {"boot", nullptr, INI_LOAD_ONLY},
                                   {nullptr, nullptr, 0}};
    ASSERT_EQ(vini_set_table(&v, defs, nullptr, 0), &v.settings);
    load("FILES |list.txt\nplain |list.txt\nboot on\nfree 1\n");
    ini_node *files = (ini_node *)static_get(&v.settings.nodes, 0);
    EXPECT_EQ(static_count(&files->values), 2);
    EXPECT_EQ(get("files"), "x");
    EXPECT_EQ(get("plain"), "|list.txt");  // no file flag: the text itself
    EXPECT_EQ(get("boot"), "on");          // set while the file is read
    EXPECT_EQ(vini_add_value(&v, 2, "off"), INI_REFUSED);
    EXPECT_EQ(vini_set(&v, "boot", "off"), INI_REFUSED);
    EXPECT_EQ(vini_remove(&v, "boot"), 0);
    EXPECT_EQ(static_count(&v.undeclared), 1);
    EXPECT_TRUE(has_line("INI: Settings changed {files=x}"));
}

// The file is read as bytes on every system: a Ctrl-Z (which ends a
// text-mode read on Windows) is an ordinary byte, and CR LF ends a line
// exactly as LF does, in the configuration and in a value file.
TEST_F(Vini, CtrlZIsAnOrdinaryByteAndCrLfEndsALine)
{
    tu::write_file("values.txt", "first\r\n\x1a\r\nlast\r\n");
    const std::string crlf = "a 1\r\n#\x1a comment\r\n\x1a\r\nb x\x1ay \r\nc one /\r\n  two\r\nd |values.txt\r\n";
    std::string lf = crlf;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
    for (const std::string &content : {crlf, lf}) {
        vini_free(&v);
        ASSERT_EQ(load(content), 1);
        EXPECT_EQ(get("a"), "1");
        EXPECT_EQ(get("b"), "x\x1ay");
        EXPECT_EQ(get("c"), "onetwo");
        EXPECT_EQ(get("d"), "last");
        EXPECT_EQ(get("\x1a"), "<null>");  // a key alone: refused as blank
        EXPECT_EQ(static_count(&v.undeclared), 4);
    }
}

// ---- host sections ----

TEST_F(Vini, OnlyTheNamedHostSectionApplies)
{
    load("x 1\nvhost beta\nx 2\nvend\nvhost ALPHA\ny 3\nvend\nvhost beta\nvendor_id 4\nz 5\nvend\n", "vhost", "alpha");
    EXPECT_EQ(get("x"), "1");
    EXPECT_EQ(get("y"), "3");
    EXPECT_EQ(get("z"), "<null>");  // a key that starts with "vend" ends no section
    EXPECT_EQ(get("vendor_id"), "<null>");
    EXPECT_EQ(get("vhost"), "alpha");
    EXPECT_EQ(get("vend"), "<null>");
}

TEST_F(Vini, WithoutAnyHostNameEverySectionIsSkipped)
{
    load("x 1\nvhost beta\nx 2\nvhost \nz 3\nvend\nw 4\n", "vhost", nullptr);
    EXPECT_EQ(get("x"), "1");
    EXPECT_EQ(get("z"), "<null>");
    EXPECT_EQ(get("w"), "4");
    EXPECT_EQ(get("vhost"), "<null>");
    EXPECT_EQ(debug_lines.back(), "VINI: Blank Setting for {vhost} not added");
}

TEST_F(Vini, ServerNameAndVhostMatchChooseTheHost)
{
    setenv("SERVER_NAME", "beta", 1);
    setenv("QTEST_HOST", "gamma", 1);
    load("vhost beta\na 1\nvhost_match QTEST_HOST\nvhost gamma\nb 2\nvhost beta\nc 3\n", "vhost", nullptr);
    EXPECT_EQ(get("a"), "1");
    EXPECT_EQ(get("b"), "2");
    EXPECT_EQ(get("c"), "<null>");
    EXPECT_EQ(get("vhost"), "gamma");
    EXPECT_EQ(get("vhost_match"), "<null>");
    unsetenv("SERVER_NAME");
    unsetenv("QTEST_HOST");
}

TEST_F(Vini, VhostMatchOnUnsetVariableIgnoresLaterSections)
{
    setenv("SERVER_NAME", "beta", 1);
    load("vhost beta\na 1\nvhost_match QTEST_UNSET_VAR\nvhost beta\nb 2\nvend\nc 3\n", "vhost", nullptr);
    EXPECT_EQ(get("a"), "1");
    EXPECT_EQ(get("b"), "<null>");
    EXPECT_EQ(get("c"), "3");
    EXPECT_TRUE(has_line("vhost_match, no value found. All host lines ignored"));
    unsetenv("SERVER_NAME");
}

TEST_F(Vini, HostLinesAreOrdinaryKeysWhenNotAsked)
{
    load("vhost_match X\n", "vhost", "alpha");  // host given: stored
    EXPECT_EQ(get("vhost_match"), "X");
    load("vhost beta\nvend now\nq 1\n");
    EXPECT_EQ(get("vhost"), "beta");
    EXPECT_EQ(get("vend"), "now");
    EXPECT_EQ(get("q"), "1");
}

// ---- direct changes ----

TEST_F(Vini, SetGetRemoveAndFreeOnUndeclaredKeys)
{
    EXPECT_EQ(vini_set(&v, "a", "1"), 0);
    EXPECT_EQ(vini_set(&v, "b", "2"), 1);
    EXPECT_EQ(vini_set(&v, "A", vini_get(&v, "a", 0)), 1);  // own value as input
    EXPECT_EQ(get("a"), "1");
    EXPECT_EQ(vini_set(&v, "a", ""), VINI_BAD_ARG);
    EXPECT_EQ(vini_set(&v, "a", nullptr), VINI_BAD_ARG);
    EXPECT_EQ(get("a"), "1");
    EXPECT_EQ(vini_remove(&v, "A"), 1);
    EXPECT_EQ(vini_remove(&v, "a"), 0);
    EXPECT_EQ(get("a"), "<null>");
    EXPECT_EQ(vini_free(&v), 1);
    EXPECT_EQ(static_count(&v.undeclared), 0);
    EXPECT_EQ(load("c 3\n"), 1);  // usable again after freeing
    EXPECT_EQ(get("c"), "3");
}

TEST(ViniArgs, NullVirtualIniIsRefused)
{
    EXPECT_EQ(vini_init(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(vini_set_table(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(vini_load(nullptr, nullptr, "x", nullptr, nullptr), 0);
    EXPECT_EQ(vini_get(nullptr, "x", 0), nullptr);
    EXPECT_EQ(vini_set(nullptr, "x", "y"), VINI_BAD_ARG);
    EXPECT_EQ(vini_add_value(nullptr, 0, "y"), VINI_BAD_ARG);
    EXPECT_EQ(vini_remove(nullptr, "x"), 0);
    EXPECT_EQ(vini_free(nullptr), 0);
}

TEST(ViniDeathTest, UseBeforeInitEndsProcess)
{
    vini never{};
    EXPECT_EXIT(vini_get(&never, "x", 0), ::testing::ExitedWithCode(1), "Error Using virtual ini before Init");
    EXPECT_EXIT(vini_load(&never, nullptr, "x", nullptr, nullptr), ::testing::ExitedWithCode(1),
                "Error Using virtual ini before Init");
}

}  // namespace
