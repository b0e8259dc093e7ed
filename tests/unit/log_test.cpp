// The log file: entry format, levels, newline rules, rotation, switching off.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <string>

#include "log/log.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

struct LogTest : ::testing::Test {
    tu::Scratch scratch;
    log_record lg;
    void SetUp() override
    {
        log_init(&lg);
        ASSERT_EQ(log_open(&lg, "", "install.log"), 1);
        log_set_level(&lg, 2);
        log_make_current(&lg);
    }
    void TearDown() override
    {
        log_make_current(nullptr);
        log_close(&lg);
    }
    std::string logged()  // what the entries kept so far make of the file
    {
        log_flush(&lg);
        return tu::read_text("install.log");
    }
};

TEST_F(LogTest, EntriesCarryTimeProcessAndLevel)
{
    EXPECT_GT(log_info("copied file %s", "x"), 0);
    log_error("bad");
    log_debug("detail\n");
    std::string text = logged();
    std::regex entry("\\d\\d \\d\\d:\\d\\d:\\d\\d \\[\\d+\\] Info: copied file x\n"
                     "\\d\\d \\d\\d:\\d\\d:\\d\\d \\[\\d+\\] Error: bad\n"
                     "\\d\\d \\d\\d:\\d\\d:\\d\\d \\[\\d+\\] Debug: detail\n");
    EXPECT_TRUE(std::regex_match(text, entry)) << text;
}

TEST_F(LogTest, LeadingNewlineWritesTheMessageBare)
{
    log_info("\n\nQuillor installer log");
    EXPECT_EQ(logged(), "\n\nQuillor installer log\n");
}

TEST_F(LogTest, LevelFiltersAndNoCurrentLogWritesNothing)
{
    log_set_level(&lg, 1);
    EXPECT_EQ(log_debug("hidden"), 0);
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(log_make_current(nullptr), 0);
    EXPECT_EQ(log_error("nowhere"), 0);
    EXPECT_EQ(log_error(nullptr), 0);
}

TEST_F(LogTest, OverlongMessageIsCutAndStillEndsItsLine)
{
    std::string big(3000, 'm');
    log_info("\n%s", big.c_str());
    log_info("\nnext");
    std::string text = logged();
    ASSERT_EQ(text.size(), 1023u + 6u);
    EXPECT_EQ(text[1022], '\n');
    EXPECT_EQ(text.substr(1023), "\nnext\n");
}

TEST_F(LogTest, OneGenerationRotatesPastTheLimit)
{
    tu::write_file("install1.log", "oldest");
    log_set_limits(&lg, 100, 1, 0);
    std::string fifty(48, 'a');
    log_info("\n%s", fifty.c_str());  // 50 bytes
    log_info("\n%s", fifty.c_str());  // 100: equal to the limit, no rotation
    log_info("\n%s", fifty.c_str());  // 150
    EXPECT_EQ(tu::read_file("install1.log"), "oldest");
    log_info("\nfresh");  // size above the limit: rotate first
    EXPECT_EQ(tu::read_text("install1.log").size(), 150u);
    EXPECT_EQ(logged(), "\nfresh\n");
}

TEST_F(LogTest, ThreeGenerationsShiftInOrder)
{
    tu::write_file("install1.log", "g1");
    tu::write_file("install2.log", "g2");
    tu::write_file("install3.log", "g3");
    log_set_limits(&lg, 1, 3, 0);
    log_info("\ncurrent");
    log_info("\nnew");
    EXPECT_EQ(tu::read_file("install3.log"), "g2");
    EXPECT_EQ(tu::read_file("install2.log"), "g1");
    EXPECT_EQ(tu::read_text("install1.log"), "\ncurrent\n");
    EXPECT_EQ(logged(), "\nnew\n");
}

TEST_F(LogTest, NameWithoutDotGetsLogExtension)
{
    log_record other;
    log_init(&other);
    EXPECT_EQ(log_open(&other, "", "setup"), 1);
    EXPECT_TRUE(tu::exists("setup.log"));
    log_close(&other);
    log_init(&other);
    EXPECT_EQ(log_open(&other, nullptr, "a.txt"), 1);
    EXPECT_TRUE(tu::exists("a.txt"));
    log_close(&other);
}

static size_t fail_write(const void *, size_t, size_t, FILE *) { return 0; }

static int fail_flush(FILE *) { errno = ENOSPC; return EOF; }

// Entries are kept until the step ends; the write or the flush that fails
// then (a full disk) is reported.
TEST_F(LogTest, FailedWriteSwitchesTheLogOffAndSaysSoOnce)
{
    for (int flush_fails = 0; flush_fails < 2; flush_fails++) {
        log_close(&lg);
        std::remove("install.log");
        SetUp();
        tu::CapturedOutput out;
        EXPECT_GT(log_info("first"), 0);
        EXPECT_EQ(tu::read_file("install.log"), "");  // kept, not written yet
        if (flush_fails)
            plat_syscall_table()->fflush = fail_flush;
        else
            plat_syscall_table()->fwrite = fail_write;
        EXPECT_EQ(log_flush(&lg), 0);
        plat_syscall_reset();
        EXPECT_EQ(log_info("second"), 0);
        EXPECT_EQ(log_flush(&lg), 1);
        EXPECT_EQ(out.text(), "Error printing to log file\n");
        EXPECT_EQ(lg.level, -1);
    }
}

TEST_F(LogTest, EchoPrintsPrefixAndMessage)
{
    tu::CapturedOutput out;
    log_set_limits(&lg, 0, 0, 1);
    log_error("visible");
    log_info("\nbare");
    EXPECT_EQ(out.text(), "Error: visible\n\nbare\n");
}

TEST_F(LogTest, ControlCharactersInNamesCannotForgeALine)
{
    tu::CapturedOutput out;
    log_report("removed file %s", "x\nInfo: forged\r\t\x1b[2J");
    std::string text = logged();
    EXPECT_NE(text.find("Error: removed file x\\nInfo: forged\\r\\t\\x1b[2J\n"), std::string::npos) << text;
    EXPECT_EQ(out.text(), "\nremoved file x\\nInfo: forged\\r\\t\\x1b[2J\n");
}

TEST(LogMisuse, UseBeforeInitEndsTheProcess)
{
    log_record lg{};
    EXPECT_EXIT(log_set_level(&lg, 1), ::testing::ExitedWithCode(1), "Error Using New-Log before Init");
}

TEST(LogMisuse, UnopenableFileSwitchesOffSilently)
{
    tu::Scratch scratch;
    log_record lg;
    log_init(&lg);
    EXPECT_EQ(log_open(&lg, ".\\missing\\dir", "x.log"), 0);
    EXPECT_EQ(lg.level, -1);
    log_close(&lg);
}

}  // namespace
