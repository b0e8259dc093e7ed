// The record of a run's answers: written whole through a temporary file, or
// not at all when the disk or the rename fails (the answers file itself and
// the record's content are tested end to end).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "table/table.h"
#include "questions/answers.h"
#include "test_util.h"

namespace {

class Answers : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    question_table t;
    void SetUp() override
    {
        answers_clear();
        table_init(&t);
    }
    void TearDown() override
    {
        plat_syscall_reset();
        answers_clear();
    }
};

// Notes an answer as the prompting engine does after accepting it.
void accept(question_table &t, int index, const char *value)
{
    text_copy(t.q[index].default_answer, value, TEXT_PATH_SIZE);
    answers_note(index, &t.q[index]);
}

int failing_rename(const char *, const char *)
{
    errno = EACCES;
    return -1;
}
FILE *spared = nullptr;  // the log, which keeps working
size_t no_room(const void *buf, size_t size, size_t count, FILE *f)
{
    if (f == spared) return fwrite(buf, size, count, f);
    errno = ENOSPC;
    return 0;
}

TEST_F(Answers, RecordThatCannotBeWrittenLeavesTheOldOneWhole)
{
    tu::write_file(scratch.path("rec.txt"), "old record\n");
    accept(t, Q_SCRIPTS, "\\web\\cgi\\");
    spared = log.rec.file;
    plat_syscall_table()->rename = failing_rename;
    {
        tu::CapturedOutput out;
        EXPECT_EQ(0, answers_write_record("rec.txt", JOB_INSTALL, "1.0"));
        EXPECT_EQ("\nrecord: could not write rec.txt: Permission denied\n", out.text());
    }
    plat_syscall_reset();
    EXPECT_EQ("old record\n", tu::read_file(scratch.path("rec.txt")));
    EXPECT_FALSE(tu::exists(scratch.path("rec.txt.tmp")));

    tu::write_file(scratch.path("rec.txt.tmp"), "somebody's file");  // never overwritten
    plat_syscall_table()->fwrite = no_room;
    {
        tu::CapturedOutput out;
        EXPECT_EQ(0, answers_write_record("rec.txt", JOB_INSTALL, "1.0"));
        EXPECT_EQ("\nrecord: could not write rec.txt: No space left on device\n", out.text());
    }
    plat_syscall_reset();
    EXPECT_EQ("old record\n", tu::read_file(scratch.path("rec.txt")));
    EXPECT_EQ("somebody's file", tu::read_file(scratch.path("rec.txt.tmp")));
    EXPECT_FALSE(tu::exists(scratch.path("rec.txt.1.tmp")));
    EXPECT_NE(std::string::npos, log.text().find("Error: record: could not write rec.txt"));

    {
        tu::fault_spared = log.rec.file;  // a close that reports a full disk
        tu::Fault f(&plat_syscalls::fclose, tu::fail_fclose);
        tu::CapturedOutput out;
        EXPECT_EQ(0, answers_write_record("rec.txt", JOB_INSTALL, "1.0"));
    }
    EXPECT_EQ("old record\n", tu::read_file(scratch.path("rec.txt")));
    EXPECT_FALSE(tu::exists(scratch.path("rec.txt.1.tmp")));

    {
        tu::CapturedOutput out;
        EXPECT_EQ(1, answers_write_record("rec.txt", JOB_INSTALL, "1.0"));
    }
    EXPECT_NE(std::string::npos, tu::read_text(scratch.path("rec.txt")).find("\nSCRIPTS \\web\\cgi\\\n"));
}

}  // namespace
