// Faults found by the fuzz targets (fuzz/), each kept as the smallest case
// that showed it.  The sanitized suite turns a return of any of them into a
// test failure even where the plain build would only read freed memory.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ini.h"
#include "config/vini.h"
#include "test_util.h"

namespace {

// Both reporting callbacks land in one list here.
std::vector<std::string> &messages = tu::error_reports();

bool logged(const std::string &line)
{
    for (const auto &m : messages)
        if (m == line) return true;
    return false;
}

const ini_definition TABLE[] = {
    {"templates", nullptr, 0},
    {"blank_ok", nullptr, INI_BLANK_OK},
    {nullptr, nullptr, 0},
};

struct FuzzRegressions : ::testing::Test {
    void SetUp() override { messages.clear(); }
};

// ---- a setting given its own current value ----
// fuzz_vini: storing a declared single-valued setting's own value removed
// the old value first and then logged the text it had just freed.

TEST_F(FuzzRegressions, DeclaredSettingTakesItsOwnValueBack)
{
    tu::Scratch scratch;
    tu::write_file("f.ini", "a 1\nb 2\ntemplates x\n");
    vini v;
    vini_init(&v, tu::capture_error, tu::capture_error);
    vini_set_table(&v, TABLE, nullptr, 0);
    ASSERT_EQ(vini_load(&v, nullptr, "f", nullptr, nullptr), 1);
    messages.clear();

    EXPECT_EQ(vini_set(&v, "templates", vini_get(&v, "templates", 1)), 0);
    EXPECT_STREQ(vini_get(&v, "templates", 0), "x");
    EXPECT_TRUE(logged("INI: Settings changed {templates=x}"));
    vini_free(&v);
}

TEST_F(FuzzRegressions, SettingsListTakesItsOwnValueBackEvenWhenEmpty)
{
    ini_list l;
    ini_init(&l, tu::capture_error, tu::capture_error);
    ini_set_table(&l, TABLE, nullptr, 0);
    ini_lock(&l, 0);
    ASSERT_EQ(ini_add_value(&l, 0, "\\quillor\\"), 0);
    ASSERT_EQ(ini_add_value(&l, 1, ""), 0);
    messages.clear();

    EXPECT_EQ(ini_add_value(&l, 0, ini_get(&l, 0, 0)), 0);
    EXPECT_EQ(ini_add_value(&l, 1, ini_get(&l, 1, 0)), 0);
    EXPECT_STREQ(ini_get(&l, 0, 0), "\\quillor\\");
    EXPECT_STREQ(ini_get(&l, 1, 0), "");
    EXPECT_TRUE(logged("INI: Settings changed {templates=\\quillor\\}"));
    EXPECT_TRUE(logged("INI: Settings changed {blank_ok=}"));
    ini_clear(&l);
}

}  // namespace
