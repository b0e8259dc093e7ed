// Settings list: change rules per flag, the lock, fallbacks and the
// messages sent to the two callbacks.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ini.h"
#include "test_util.h"

namespace {

std::vector<std::string> &debug_lines = tu::debug_reports();
std::vector<std::string> &error_lines = tu::error_reports();
using tu::capture_debug;
using tu::capture_error;

enum { PLAIN, MULTI, SECRET, LOAD_ONLY, BLANK_OK, CLEARS, PLAIN_AGAIN };
const ini_definition table[] = {
    {"plain", nullptr, 0},
    {"multi", nullptr, INI_MULTI},
    {"secret", nullptr, INI_SECRET},
    {"loadonly", "boot", INI_LOAD_ONLY},
    {"blankok", nullptr, INI_BLANK_OK},
    {"clears", nullptr, INI_MULTI | INI_BLANK_CLEARS},
    {"PLAIN", nullptr, 0},
    {nullptr, nullptr, 0},
};

struct Ini : ::testing::Test {
    ini_list l;
    void SetUp() override
    {
        ini_init(&l, capture_error, capture_debug);
        ini_set_table(&l, table, nullptr, 1);
        debug_lines.clear();
        error_lines.clear();
    }
    void TearDown() override { ini_clear(&l); }
};

TEST_F(Ini, BuildReportsEverySettingInTableOrder)
{
    EXPECT_EQ(l.nodes.step, 10);
    EXPECT_EQ(ini_build(&l), 7);  // all nodes exist: nothing is made again
    EXPECT_TRUE(debug_lines.empty());
    ini_set_table(&l, table, nullptr, 0);
    ASSERT_EQ(debug_lines.size(), 7u);
    EXPECT_EQ(debug_lines[0], "INI: Setting #0 is plain");
    EXPECT_EQ(debug_lines[6], "INI: Setting #6 is PLAIN");
}

TEST_F(Ini, NamesAreCaseBlindAndFirstDeclarationWins)
{
    EXPECT_EQ(ini_find(&l, "Multi"), MULTI);
    EXPECT_EQ(ini_find(&l, "plain"), PLAIN);
    EXPECT_EQ(ini_find(&l, "PLAIN"), PLAIN);
    EXPECT_EQ(ini_find(&l, "nosuch"), INI_NO_SETTING);
    EXPECT_EQ(ini_find(&l, nullptr), INI_NO_SETTING);
    EXPECT_STREQ(ini_name(&l, PLAIN_AGAIN), "PLAIN");
    EXPECT_EQ(ini_name(&l, 7), nullptr);
    EXPECT_EQ(ini_name(&l, INI_NO_SETTING), nullptr);
    EXPECT_EQ(ini_add_value(&l, PLAIN_AGAIN, "second"), 0);  // reachable by index
    EXPECT_STREQ(ini_get(&l, PLAIN_AGAIN, 0), "second");
    EXPECT_EQ(ini_get(&l, PLAIN, 0), nullptr);
}

TEST_F(Ini, PlainSettingKeepsOnlyTheLatestValue)
{
    EXPECT_EQ(ini_add_value(&l, PLAIN, "one"), 0);
    EXPECT_EQ(ini_add_value(&l, PLAIN, "two"), 0);
    EXPECT_STREQ(ini_get(&l, PLAIN, 0), "two");
    std::vector<std::string> want = {"INI: Settings changed {plain=one}", "INI: Setting plain removed",
                                     "INI: Settings changed {plain=two}"};
    EXPECT_EQ(debug_lines, want);
}

TEST_F(Ini, MultiSettingKeepsValuesInOrder)
{
    EXPECT_EQ(ini_add_value(&l, MULTI, "a"), 0);
    EXPECT_EQ(ini_add_value(&l, MULTI, "b"), 1);
    EXPECT_EQ(ini_add_value(&l, MULTI, "c"), 2);
    EXPECT_STREQ(ini_get(&l, MULTI, 0), "a");
    ini_node *node = (ini_node *)static_get(&l.nodes, MULTI);
    EXPECT_STREQ((const char *)static_get(&node->values, 2), "c");
    // Without a read in between, a removal takes the last value.
    EXPECT_EQ(ini_remove_value(&l, MULTI), 1);
    EXPECT_EQ(static_count(&node->values), 2);
    EXPECT_EQ(debug_lines.back(), "INI: Setting multi removed");
}

TEST_F(Ini, SecretValueIsHiddenInMessages)
{
    ini_add_value(&l, SECRET, "hunter2");
    EXPECT_EQ(debug_lines.back(), "INI: Settings changed {secret=xxxxx}");
    EXPECT_STREQ(ini_get(&l, SECRET, 0), "hunter2");
}

TEST_F(Ini, LoadOnlySettingChangesOnlyWhileUnlocked)
{
    EXPECT_STREQ(ini_get(&l, LOAD_ONLY, 0), "boot");  // from the defaults
    EXPECT_EQ(ini_add_value(&l, LOAD_ONLY, "late"), INI_REFUSED);
    EXPECT_EQ(debug_lines.back(), "INI: Setting {loadonly=late} not added (INVALID CHANGE)");
    EXPECT_EQ(ini_remove_value(&l, LOAD_ONLY), 0);
    EXPECT_EQ(debug_lines.back(), "INI: Setting {loadonly} (INVALID REMOVAL)");
    EXPECT_STREQ(ini_get(&l, LOAD_ONLY, 0), "boot");
    ini_lock(&l, 0);
    EXPECT_EQ(ini_add_value(&l, LOAD_ONLY, "file"), 0);
    ini_lock(&l, 1);
    EXPECT_STREQ(ini_get(&l, LOAD_ONLY, 0), "file");
}

TEST_F(Ini, BlankValuesAreRefusedStoredOrClear)
{
    ini_add_value(&l, PLAIN, "kept");
    EXPECT_EQ(ini_add_value(&l, PLAIN, ""), INI_REFUSED);
    EXPECT_EQ(debug_lines.back(), "INI: Blank Setting for {plain} not added");
    EXPECT_STREQ(ini_get(&l, PLAIN, 0), "kept");

    EXPECT_EQ(ini_add_value(&l, BLANK_OK, ""), 0);
    EXPECT_STREQ(ini_get(&l, BLANK_OK, 0), "");

    ini_add_value(&l, CLEARS, "x");
    ini_add_value(&l, CLEARS, "y");
    debug_lines.clear();
    EXPECT_EQ(ini_add_value(&l, CLEARS, ""), INI_REFUSED);
    std::vector<std::string> want = {"INI: Setting clears removed", "INI: Setting clears removed",
                                     "INI: Removed all INI Setting for {clears}"};
    EXPECT_EQ(debug_lines, want);
    EXPECT_EQ(ini_get(&l, CLEARS, 0), nullptr);
}

TEST_F(Ini, EmptyDefaultIsRefusedWhileApplyingDefaults)
{
    const ini_definition defs[] = {{"empty", "", 0}, {"none", nullptr, 0}, {nullptr, nullptr, 0}};
    ini_set_table(&l, defs, nullptr, 0);
    debug_lines.clear();
    EXPECT_EQ(ini_apply_defaults(&l), 2);
    ASSERT_EQ(debug_lines.size(), 1u);
    EXPECT_EQ(debug_lines[0], "INI: Blank Setting for {empty} not added");
    EXPECT_EQ(l.locked, 1);
}

TEST_F(Ini, EmptyTableDeclaresNothing)
{
    const ini_definition empty[] = {{nullptr, nullptr, 0}};
    ini_set_table(&l, empty, nullptr, 1);
    EXPECT_EQ(ini_build(&l), 0);
    EXPECT_EQ(static_count(&l.nodes), 0);
    EXPECT_EQ(ini_find(&l, "plain"), INI_NO_SETTING);
    EXPECT_TRUE(debug_lines.empty());
    ini_set_table(&l, nullptr, nullptr, 1);
    EXPECT_EQ(ini_build(&l), INI_NO_TABLE);
    EXPECT_EQ(ini_apply_defaults(&l), 0);
}

TEST_F(Ini, FallbacksAreConsultedInOrderWhenFollowing)
{
    const ini_definition defs[] = {{"a", nullptr, 0}, {"b", nullptr, 0}, {"c", nullptr, 0}, {nullptr, nullptr, 0}};
    const ini_fallback fbs[] = {{"a", "b"}, {"a", "nowhere"}, {"a", "c"}, {nullptr, nullptr}};
    ini_set_table(&l, defs, fbs, 0);
    ini_add_value(&l, 2, "from c");
    EXPECT_STREQ(ini_get(&l, 0, 1), "from c");
    ini_add_value(&l, 1, "from b");
    EXPECT_STREQ(ini_get(&l, 0, 1), "from b");
    EXPECT_EQ(ini_get(&l, 0, 0), nullptr);
    ini_add_value(&l, 0, "own");
    EXPECT_STREQ(ini_get(&l, 0, 1), "own");
    // A later table without fallbacks keeps the earlier fallback table.
    ini_set_table(&l, defs, nullptr, 0);
    ini_add_value(&l, 1, "again");
    EXPECT_STREQ(ini_get(&l, 0, 1), "again");
}

TEST_F(Ini, LoopingFallbacksDoNotRecurseForever)
{
    const ini_definition defs[] = {{"a", nullptr, 0}, {"b", nullptr, 0}, {nullptr, nullptr, 0}};
    const ini_fallback fbs[] = {{"a", "b"}, {"b", "a"}, {nullptr, nullptr}};
    ini_set_table(&l, defs, fbs, 0);
    EXPECT_EQ(ini_get(&l, 0, 1), nullptr);
}

TEST_F(Ini, LongValueIsStoredWholeButShownCut)
{
    std::string value(150, 'v');
    ini_add_value(&l, PLAIN, value.c_str());
    EXPECT_EQ(std::string(ini_get(&l, PLAIN, 0)), value);
    EXPECT_EQ(debug_lines.back(), "INI: Settings changed {plain=" + value.substr(0, 100) + "}");
}

TEST_F(Ini, ClearedStoreRebuildsNodesOnTheNextChange)
{
    ini_add_value(&l, PLAIN, "x");
    EXPECT_EQ(ini_clear(&l), 1);
    EXPECT_EQ(ini_get(&l, PLAIN, 0), nullptr);
    debug_lines.clear();
    EXPECT_EQ(ini_add_value(&l, MULTI, "y"), 0);
    EXPECT_EQ(debug_lines.front(), "INI: Setting #0 is plain");
    EXPECT_STREQ(ini_get(&l, MULTI, 0), "y");
}

TEST_F(Ini, BadArgumentsAreRefused)
{
    EXPECT_EQ(ini_init(nullptr, nullptr, nullptr), INI_BAD_ARG);
    EXPECT_EQ(ini_add_value(nullptr, 0, "x"), INI_BAD_ARG);
    EXPECT_EQ(ini_add_value(&l, PLAIN, nullptr), INI_BAD_ARG);
    EXPECT_EQ(ini_add_value(&l, INI_NO_SETTING, "x"), INI_BAD_ARG);
    EXPECT_EQ(ini_add_value(&l, 42, "x"), INI_BAD_ARG);
    EXPECT_EQ(ini_find(nullptr, "x"), INI_BAD_ARG);
    EXPECT_EQ(ini_set_table(nullptr, table, nullptr, 1), INI_BAD_ARG);
    EXPECT_EQ(ini_clear(nullptr), INI_BAD_ARG);
    EXPECT_EQ(ini_get(&l, 42, 1), nullptr);
    EXPECT_EQ(ini_get(nullptr, 0, 1), nullptr);
    EXPECT_EQ(ini_remove_value(&l, 42), 0);
    EXPECT_EQ(ini_remove_value(&l, PLAIN), 0);  // nothing to remove
}

TEST_F(Ini, FormattersReachTheirCallbacks)
{
    EXPECT_EQ(ini_log_error(&l, "bad %d", 7), 5);
    EXPECT_EQ(error_lines.back(), "bad 7");
    EXPECT_EQ(ini_log_debug(&l, "%s", "dbg"), 3);
    EXPECT_EQ(debug_lines.back(), "dbg");
    ini_list quiet;
    ini_init(&quiet, nullptr, nullptr);
    EXPECT_EQ(ini_log_error(&quiet, "x"), 0);
    EXPECT_EQ(ini_log_debug(nullptr, "x"), 0);
    std::string huge(2000, 'h');
    EXPECT_EQ(ini_log_debug(&l, "%s", huge.c_str()), 511);  // cut to the buffer
}

TEST(IniDeathTest, UseBeforeInitEndsProcess)
{
    ini_list never{};
    EXPECT_EXIT(ini_find(&never, "x"), ::testing::ExitedWithCode(1), "Error Using ini before Init");
    EXPECT_EXIT(ini_lock(&never, 0), ::testing::ExitedWithCode(1), "Error Using ini before Init");
    EXPECT_EXIT(ini_get(&never, 0, 0), ::testing::ExitedWithCode(1), "Error Using ini before Init");
}

}  // namespace
