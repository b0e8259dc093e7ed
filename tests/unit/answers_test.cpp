// Answers given ahead of time: the forgiving parts of the file format, what
// a faulty file leaves behind, and the record written back as a file that
// loads again, kept whole when the disk or the rename fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "installer/table.h"
#include "questions/answers.h"
#include "test_util.h"

namespace {

class Answers : public ::testing::Test {
protected:
    tu::Scratch scratch;
    tu::TestLog log;
    question_table t;
    void SetUp() override {
        answers_clear();
        table_init(&t);
    }
    void TearDown() override {
        plat_syscall_reset();
        answers_clear();
    }
    // The supplied answer of a question and what was printed for it; "-"
    // when nothing was supplied.
    std::string supply(int index, std::string *shown = nullptr) {
        tu::CapturedOutput out;
        int given = answers_supply(index, &t.q[index]);
        std::string text = out.text();
        if (shown) *shown = text;
        return given ? t.q[index].answer : "-";
    }
    int load(const std::string &content, std::string *why = nullptr) {
        tu::write_file(scratch.path("a.txt"), content);
        char buf[TEXT_LINE_SIZE] = "";
        int ok = answers_load("a.txt", buf, sizeof buf);
        if (why) *why = buf;
        return ok;
    }
};

TEST_F(Answers, BlanksCaseCarriageReturnsAndCommentsReadAsMeant) {
    std::string shown;
    ASSERT_EQ(1, load("\t# a comment\r\n   \r\njob Remove\r\n  scripts \t \\web\\cgi\\  \r\n"
                      "Newshost news#1 is a name\nDOMAIN\nquillor_cgi q.exe"));  // no final line end
    EXPECT_EQ(JOB_REMOVE, answers_job());
    EXPECT_EQ(1, answers_unattended());
    EXPECT_EQ("\\web\\cgi\\", supply(Q_SCRIPTS, &shown));
    EXPECT_EQ("\\web\\cgi\\\n", shown);  // printed as if typed
    EXPECT_EQ("news#1 is a name", supply(Q_NEWSHOST));
    EXPECT_EQ("", supply(Q_DOMAIN, &shown));  // no value: Enter, the default
    EXPECT_EQ("\n", shown);
    EXPECT_EQ("q.exe", supply(Q_QUILLOR_CGI));
    EXPECT_EQ("-", supply(Q_TEMPLATES));  // not in the file: the console is asked
    EXPECT_EQ("\\web\\cgi\\", supply(Q_SCRIPTS));  // asked again: the same value

    answers_take_defaults(1);
    EXPECT_EQ("\\quillor\\", supply(Q_TEMPLATES, &shown));  // the offered default
    EXPECT_EQ("\\quillor\\\n", shown);
    char line[8];
    tu::CapturedOutput out;
    ASSERT_EQ(1, answers_menu_choice(line, sizeof line));
    EXPECT_STREQ("3", line);
}

TEST_F(Answers, FaultyFileKeepsNothingAndLongestValueFits) {
    std::string why;
    EXPECT_EQ(0, load("SCRIPTS \\a\\\nNOPE x\n", &why));
    EXPECT_EQ("a.txt:2: unknown tag \"NOPE\"", why);
    EXPECT_EQ(0, answers_unattended());
    EXPECT_EQ("-", supply(Q_SCRIPTS));
    EXPECT_EQ(0, load("SCRIPTS " + std::string(5000, 'x') + "\n", &why));
    EXPECT_EQ("a.txt:1: line longer than 4094 characters", why);
    EXPECT_EQ(0, load("CHANGE Y\n", &why));
    EXPECT_EQ(1, load("CHANGE no\nNEWSHOST " + std::string(ANSWER_VALUE_MAX, 'h') + "   \n"));
    EXPECT_EQ(std::string(ANSWER_VALUE_MAX, 'h'), supply(Q_NEWSHOST));
    EXPECT_EQ(JOB_NONE, answers_job());
}

// Notes answers as the prompting engine does after accepting them.
void accept(question_table &t, int index, const char *value) {
    text_copy(t.q[index].default_answer, value, TEXT_PATH_SIZE);
    answers_note(index, &t.q[index]);
}

TEST_F(Answers, RecordLoadsBackWithLastAnswersInFirstAskedOrder) {
    accept(t, Q_SCRIPTS, "\\web\\cgi\\");
    accept(t, Q_CHANGE, "yes");
    accept(t, Q_NEWSHOST, "news #1");
    accept(t, Q_AUTH_NEWS, "Yup");
    accept(t, Q_CHANGE, "nes");  // the last answer counts, in its first place
    ASSERT_EQ(1, answers_write_record("rec.txt", JOB_UPDATE, "9.9"));
    std::string rec = tu::read_text(scratch.path("rec.txt"));
    EXPECT_EQ(0u, rec.find("# Quillor Install answers, recorded by version 9.9 on "));
    EXPECT_EQ("\nJOB update\nSCRIPTS \\web\\cgi\\\nCHANGE nes\nNEWSHOST news #1\nAUTH_NEWS Yup\n",
              rec.substr(rec.find("\nJOB ")));
    EXPECT_NE(std::string::npos, log.text().find("answers of this run recorded in rec.txt"));

    answers_clear();
    ASSERT_EQ(1, load(tu::read_file(scratch.path("rec.txt"))));
    EXPECT_EQ(JOB_UPDATE, answers_job());
    EXPECT_EQ("news #1", supply(Q_NEWSHOST));
    EXPECT_EQ("Yup", supply(Q_AUTH_NEWS));
}

int failing_rename(const char *, const char *) {
    errno = EACCES;
    return -1;
}
FILE *spared = nullptr;  // the log, which keeps working
size_t no_room(const void *buf, size_t size, size_t count, FILE *f) {
    if (f == spared) return fwrite(buf, size, count, f);
    errno = ENOSPC;
    return 0;
}

TEST_F(Answers, RecordThatCannotBeWrittenLeavesTheOldOneWhole) {
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
        tu::CapturedOutput out;
        EXPECT_EQ(1, answers_write_record("rec.txt", JOB_INSTALL, "1.0"));
    }
    EXPECT_NE(std::string::npos, tu::read_text(scratch.path("rec.txt")).find("\nSCRIPTS \\web\\cgi\\\n"));
}

}  // namespace
