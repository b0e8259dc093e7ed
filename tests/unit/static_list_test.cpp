// Static list: growth and release, cursor rules, removal while iterating.
#include <gtest/gtest.h>

#include "test_util.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/static_list.h"

namespace {

std::vector<std::string> &reported = tu::error_reports();

int items[12];  // stable addresses to store

struct StaticList : ::testing::Test {
    static_list l;
    void SetUp() override
    {
        reported.clear();
        static_init(&l, tu::capture_error);
    }
    void TearDown() override
    {  // the items are not heap blocks: take them out, don't free them
        while (static_count(&l) > 0) static_remove(&l, 0);
    }
    void fill(int n)
    {
        for (int i = 0; i < n; i++) static_add(&l, &items[i]);
    }
    int slots() const { return l.count + l.spare; }
};

TEST_F(StaticList, GrowsByFixedStepNeverDoubling)
{
    EXPECT_EQ(l.step, 5);
    EXPECT_EQ(l.items, nullptr);
    for (int i = 0; i < 5; i++) EXPECT_EQ(static_add(&l, &items[i]), i);
    EXPECT_EQ(slots(), 5);
    EXPECT_EQ(static_add(&l, &items[5]), 5);
    EXPECT_EQ(slots(), 10);
    static_set_step(&l, 3);
    fill(4);  // 10 items fill the array exactly, the eleventh adds 3 slots
    EXPECT_EQ(slots(), 10);
    static_add(&l, &items[11]);
    EXPECT_EQ(static_count(&l), 11);
    EXPECT_EQ(slots(), 13);
}

TEST_F(StaticList, LastRemovalReleasesArrayAndNextAddStartsFresh)
{
    static_add(&l, &items[0]);
    EXPECT_EQ(static_remove(&l, 0), &items[0]);
    EXPECT_EQ(l.items, nullptr);
    EXPECT_EQ(l.spare, 0);
    EXPECT_EQ(l.cursor, -1);
    EXPECT_EQ(static_add(&l, &items[1]), 0);
    EXPECT_EQ(slots(), 5);
}

TEST_F(StaticList, InsertBeforeCursorKeepsCursorOnSameItem)
{
    fill(3);
    static_rewind(&l);
    EXPECT_EQ(static_next(&l), &items[0]);
    EXPECT_EQ(static_insert(&l, &items[9], 0), 0);
    EXPECT_EQ(static_next(&l), &items[1]);
    EXPECT_EQ(static_get(&l, 0), &items[9]);
    EXPECT_EQ(static_insert(&l, &items[8], 3), 3);   // at count: appends
    EXPECT_EQ(static_insert(&l, &items[7], 99), 5);  // beyond: appends too
    EXPECT_EQ(static_get(&l, 5), &items[7]);
    EXPECT_EQ(static_insert(&l, &items[6], -1), -1);
    EXPECT_EQ(static_insert(&l, nullptr, 0), -1);
    EXPECT_EQ(static_add(&l, nullptr), -1);
    EXPECT_EQ(static_count(&l), 6);
}

TEST_F(StaticList, GetOutsideRangeLeavesCursorAlone)
{
    fill(3);
    EXPECT_EQ(static_get(&l, 1), &items[1]);
    EXPECT_EQ(static_get(&l, -1), nullptr);
    EXPECT_EQ(static_get(&l, 3), nullptr);
    EXPECT_EQ(static_next(&l), &items[2]);
    EXPECT_EQ(static_next(&l), nullptr);  // passed the last item: at rest
    EXPECT_EQ(l.cursor, -1);
}

TEST_F(StaticList, EmptyListRewindsToRest)
{
    EXPECT_EQ(static_rewind(&l), -1);
    EXPECT_EQ(static_next(&l), nullptr);
    EXPECT_EQ(static_remove_current(&l), nullptr);
    EXPECT_EQ(static_remove(&l, 0), nullptr);
}

TEST_F(StaticList, RemoveCurrentTakesLastReadOrLastItem)
{
    fill(4);
    EXPECT_EQ(static_remove_current(&l), &items[3]);  // cursor at rest
    EXPECT_EQ(static_get(&l, 2), &items[2]);
    EXPECT_EQ(static_remove_current(&l), &items[2]);
    static_rewind(&l);
    EXPECT_EQ(static_remove_current(&l), &items[1]);  // nothing read yet
    EXPECT_EQ(static_count(&l), 1);
}

TEST_F(StaticList, RemovingWhileIteratingVisitsEachItemOnce)
{
    fill(7);
    std::vector<void *> seen;
    static_rewind(&l);
    while (void *item = static_next(&l)) {
        seen.push_back(item);
        EXPECT_EQ(static_remove_current(&l), item);
    }
    ASSERT_EQ(seen.size(), 7u);
    for (int i = 0; i < 7; i++) EXPECT_EQ(seen[i], &items[i]);
    EXPECT_EQ(static_count(&l), 0);
    EXPECT_EQ(l.cursor, -1);
    EXPECT_EQ(l.items, nullptr);
}

TEST_F(StaticList, RemovingEveryOtherItemWhileIterating)
{
    fill(6);
    static_rewind(&l);
    for (int i = 0; static_next(&l); i++)
        if (i % 2 == 0) static_remove_current(&l);
    ASSERT_EQ(static_count(&l), 3);
    for (int i = 0; i < 3; i++) EXPECT_EQ(static_get(&l, i), &items[2 * i + 1]);
}

TEST_F(StaticList, StepBelowOneBecomesOne)
{
    static_set_step(&l, -5);
    EXPECT_EQ(l.step, 1);
    static_set_step(&l, 0);
    EXPECT_EQ(l.step, 1);
    fill(3);
    EXPECT_EQ(slots(), 3);
}

TEST_F(StaticList, GrowthFailureReportsAndLeavesListUnchanged)
{
    fill(5);
    static_set_step(&l, INT_MAX);
    EXPECT_EQ(static_add(&l, &items[5]), -2);
    EXPECT_EQ(static_insert(&l, &items[5], 0), -2);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "STATIC: Memory Allocation Error in 'static_add'");
    EXPECT_EQ(reported[1], reported[0]);
    EXPECT_EQ(static_count(&l), 5);
    EXPECT_EQ(static_get(&l, 0), &items[0]);
}

TEST_F(StaticList, FreeReleasesHeapItemsAndKeepsListUsable)
{
    static_set_step(&l, 2);
    for (int i = 0; i < 5; i++) static_add(&l, malloc(16));
    EXPECT_EQ(static_free(&l), 1);  // the sanitizer build catches a leak here
    EXPECT_EQ(static_count(&l), 0);
    EXPECT_EQ(l.items, nullptr);
    EXPECT_EQ(l.step, 2);
    EXPECT_EQ(l.marker, STATIC_MAGIC);
    EXPECT_EQ(static_add(&l, &items[0]), 0);
}

TEST(StaticListArgs, NullListGivesErrorCodes)
{
    EXPECT_EQ(static_init(nullptr, nullptr), -3);
    EXPECT_EQ(static_set_step(nullptr, 3), -3);
    EXPECT_EQ(static_add(nullptr, items), -3);
    EXPECT_EQ(static_insert(nullptr, items, 0), -3);
    EXPECT_EQ(static_count(nullptr), -3);
    EXPECT_EQ(static_rewind(nullptr), -3);
    EXPECT_EQ(static_free(nullptr), -3);
    EXPECT_EQ(static_next(nullptr), nullptr);
    EXPECT_EQ(static_get(nullptr, 0), nullptr);
    EXPECT_EQ(static_remove(nullptr, 0), nullptr);
    EXPECT_EQ(static_remove_current(nullptr), nullptr);
}

TEST(StaticListDeathTest, UseBeforeInitEndsProcess)
{
    static_list never{};
    EXPECT_EXIT(static_count(&never), ::testing::ExitedWithCode(1), "Error Using Static List before Init");
    EXPECT_EXIT(static_add(&never, items), ::testing::ExitedWithCode(1), "Error Using Static List before Init");
    EXPECT_EXIT(static_next(&never), ::testing::ExitedWithCode(1), "Error Using Static List before Init");
}

}  // namespace
