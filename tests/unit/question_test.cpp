// Prompting engine: the validators on their own, and question() driven by
// scripted standard input in-process (quitting and the end of input leave
// through the exit hook), with the console text and the table checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "table/table.h"
#include "log/log.h"
#include "platform/platform.h"
#include "questions/question.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

using tu::read_file;
using tu::write_file;

// A scratch tree that is both the current directory and QUILLOR_ROOT, so
// rooted installer paths such as "\web\" land inside it.
class ScratchTree : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    fs::path dir{scratch.dir};

    // Console text written while fn runs.
    static std::string console_of(const std::function<void()> &fn)
    {
        tu::CapturedOutput out;
        fn();
        return out.text();
    }
};

question_rec record(int mode, const char *def, const char *typed)
{
    question_rec r{};
    r.prompt = "Prompt?";
    r.mode = mode;
    snprintf(r.default_answer, sizeof r.default_answer, "%s", def);
    snprintf(r.answer, sizeof r.answer, "%s", typed);
    return r;
}

question_table dummy_table;

/* ---- y_n_test ---- */

TEST(YesNoTest, EmptyOrBlankAnswerTakesTheDefaultsFirstLetter)
{
    question_rec r = record(QMODE_YN, "y", "");
    EXPECT_EQ(y_n_test(&r, &dummy_table), 1);
    EXPECT_EQ(r.flag, 1);
    EXPECT_STREQ(r.default_answer, "y");

    r = record(QMODE_YN, "no", " \t");
    r.flag = 1;
    EXPECT_EQ(y_n_test(&r, &dummy_table), 1);
    EXPECT_EQ(r.flag, 0);
    EXPECT_STREQ(r.default_answer, "no");
}

TEST(YesNoTest, OnlyTheFirstNonBlankLetterCounts)
{
    const char *yes_rows[][2] = {{" y", "y"}, {"yes", "yes"}, {"Yup", "Yup"}, {"Y", "Y"}, {"\ty\t", "y"}};
    for (const auto &yes : yes_rows) {
        question_rec r = record(QMODE_YN, "n", yes[0]);
        EXPECT_EQ(y_n_test(&r, &dummy_table), 1) << yes[0];
        EXPECT_EQ(r.flag, 1) << yes[0];
        EXPECT_STREQ(r.default_answer, yes[1]);  // stored as typed, without its blanks
    }
    question_rec r = record(QMODE_YN, "y", "nope");
    r.flag = 1;
    EXPECT_EQ(y_n_test(&r, &dummy_table), 1);
    EXPECT_EQ(r.flag, 0);
}

TEST(YesNoTest, OtherAnswersAreRejectedLeavingFlagAndDefault)
{
    for (const char *bad : {"ja", "1", "q", "?x", "y /", "n\\n", "y\rn", "y\nn"}) {
        question_rec r = record(QMODE_YN, "y", bad);
        r.flag = 1;
        EXPECT_EQ(y_n_test(&r, &dummy_table), 0) << bad;
        EXPECT_EQ(r.flag, 1) << bad;
        EXPECT_STREQ(r.default_answer, "y") << bad;
    }
}

TEST(YesNoTest, BlankDefaultStoredEarlierStillCounts)
{
    question_rec r = record(QMODE_YN, " y", "");  // " y" was accepted before
    EXPECT_EQ(y_n_test(&r, &dummy_table), 1);
    EXPECT_EQ(r.flag, 1);
}

/* ---- none_test ---- */

TEST(NoneTest, AcceptsAnyTextWithoutTheBlanksAtItsEnds)
{
    question_rec r = record(QMODE_NONE, "old", "  news.example.org ");
    EXPECT_EQ(none_test(&r, &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "news.example.org");

    r = record(QMODE_NONE, "old", "q");
    EXPECT_EQ(none_test(&r, &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "q");

    r = record(QMODE_NONE, "old", " ");
    EXPECT_EQ(none_test(&r, &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "old");
}

TEST(Validators, NullRecordOrTableIsRefusedAndLogged)
{
    tu::Scratch scratch;
    tu::TestLog log;
    question_rec r = record(QMODE_YN, "y", "");
    EXPECT_EQ(y_n_test(nullptr, &dummy_table), 0);
    EXPECT_EQ(y_n_test(&r, nullptr), 0);
    EXPECT_EQ(directory_test(nullptr, &dummy_table), 0);
    EXPECT_EQ(relative_test(&r, "\\", nullptr), 0);
    EXPECT_EQ(none_test(nullptr, &dummy_table), 0);
    EXPECT_EQ(dir_exists(nullptr), 0);
    EXPECT_EQ(question(0, nullptr), 0);

    for (const char *who : {"y_n_test", "directory_test", "relative_test", "none_test", "dir_exists", "question"})
        EXPECT_NE(log.text().find(std::string(who) + ": unexpected NULL passed"), std::string::npos) << who;
}

/* ---- dir_exists ---- */

using DirExists = ScratchTree;

TEST_F(DirExists, WritableDirectoryIsFoundAndLeftAsItWas)
{
    fs::create_directory(dir / "web");
    EXPECT_EQ(dir_exists("\\web\\"), 1);
    EXPECT_EQ(dir_exists("\\web"), 1);
    EXPECT_TRUE(fs::is_empty(dir / "web"));
}

TEST_F(DirExists, AnExistingTempfileSurvivesTheProbe)
{
    fs::create_directory(dir / "web");
    write_file(dir / "web" / "tempfile", "administrator's notes");
    EXPECT_EQ(dir_exists("\\web\\"), 1);
    EXPECT_EQ(read_file(dir / "web" / "tempfile"), "administrator's notes");
    int entries = 0;
    for (auto &e : fs::directory_iterator(dir / "web")) entries += e.exists();
    EXPECT_EQ(entries, 1);  // the probe removed only its own file
}

#ifdef __linux__
FILE *no_named_create(const char *native, const char *mode)
{
    if (!strchr(mode, 'x')) return tu::real_calls().fopen(native, mode);
    errno = EROFS;
    return nullptr;
}

// The probe makes no named file a kill could leave behind: an unnamed one
// answers, where the file system has them.
TEST_F(DirExists, ProbeLeavesNoNameAKillCouldStrand)
{
    fs::create_directory(dir / "web");
    plat_file unnamed;
    if (tu::real_calls().open_unnamed(-1, (dir / "web").string().c_str(), 0600, &unnamed) != 0)
        GTEST_SKIP() << "no unnamed files on this file system";
    plat_file_close(&unnamed);
    tu::Fault f(&plat_syscalls::fopen, no_named_create);
    EXPECT_EQ(dir_exists("\\web\\"), 1);
}
#endif

TEST_F(DirExists, MissingOrUnwritableDirectoryIsNotFound)
{
    EXPECT_EQ(dir_exists("\\nowhere\\"), 0);
    write_file(dir / "plain", "x");
    EXPECT_EQ(dir_exists("\\plain\\"), 0);
    EXPECT_EQ(dir_exists(std::string(TEXT_PATH_SIZE - 5, 'd').c_str()), 0);
}

/* ---- directory_test ---- */

using DirectoryTest = ScratchTree;

TEST_F(DirectoryTest, AnswerWithoutBackslashIsStoredWithOneAndCreatedWithParents)
{
    question_rec r = record(QMODE_DIRECTORY, "\\inetpub\\scripts\\", "  \\web\\cgi\\bin");
    std::string out = console_of([&] { EXPECT_EQ(directory_test(&r, &dummy_table), 1); });
    EXPECT_STREQ(r.default_answer, "\\web\\cgi\\bin\\");
    EXPECT_TRUE(fs::is_directory(dir / "web" / "cgi" / "bin"));
    EXPECT_TRUE(fs::is_empty(dir / "web" / "cgi" / "bin"));
    EXPECT_EQ(out, "");
}

TEST_F(DirectoryTest, SlashesSeparateTheFoldersMadeAndEndsInOneSeparator)
{
    const char *rows[][3] = {{"/srv/q/tpl/", "/srv/q/tpl\\", "srv/q/tpl"},
                             {"\\srv\\n", "\\srv\\n\\", "srv/n"},
                             {"/quillor/sub/deep", "/quillor/sub/deep\\", "quillor/sub/deep"}};
    for (const auto &row : rows) {
        question_rec r = record(QMODE_DIRECTORY, "\\old\\", row[0]);
        EXPECT_EQ(directory_test(&r, &dummy_table), 1) << row[0];
        EXPECT_STREQ(r.default_answer, row[1]);
        EXPECT_TRUE(fs::is_directory(dir / row[2])) << row[0];
    }
}

TEST_F(DirectoryTest, EmptyAnswerProbesTheDefault)
{
    fs::create_directories(dir / "quillor");
    write_file(dir / "quillor" / "tempfile", "keep");
    question_rec r = record(QMODE_DIRECTORY, "\\quillor", "");
    EXPECT_EQ(directory_test(&r, &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "\\quillor\\");
    EXPECT_EQ(read_file(dir / "quillor" / "tempfile"), "keep");
}

TEST_F(DirectoryTest, DirectoryThatCannotBeCreatedIsRejectedWithTheReason)
{
    write_file(dir / "file.txt", "x");
    question_rec r = record(QMODE_DIRECTORY, "\\old\\", "\\file.txt\\sub");
    std::string out = console_of([&] { EXPECT_EQ(directory_test(&r, &dummy_table), 0); });
    EXPECT_STREQ(r.default_answer, "\\file.txt\\sub\\");  // shown at the next prompt
    EXPECT_EQ(out, std::string("\nERROR: could not create directory \\file.txt\\sub\\: ") + strerror(ENOTDIR) + "\n");
}

#ifdef _WIN32
// A superscript digit as this system's code page spells it.
std::string superscript(wchar_t w)
{
    char one[8] = "";
    WideCharToMultiByte(CP_ACP, 0, &w, 1, one, sizeof one - 1, nullptr, nullptr);
    return one;
}

// "." and ".." are no names that end with a dot: these stay answers.
TEST_F(DirectoryTest, DotAndDotDotAreNoDottedNames)
{
    for (const char *answer : {".\\cgi\\", "..\\x\\", "P:.", "x\\.\\y"}) {
        char name[64];
        EXPECT_EQ(plat_misread_name(answer, name, sizeof name), 0) << answer << ": " << name;
    }
}
#endif

TEST_F(DirectoryTest, DevicesAndFilesAreRefusedByName)
{
    write_file(dir / "notes.txt", "x");
    std::vector<std::pair<std::string, std::string>> rows = {{"\\notes.txt", "\\notes.txt is a file"}};
#ifdef _WIN32
    rows.insert(rows.end(), {{"NUL", "device NUL,"},
                             {"aux", "device AUX,"},
                             {"COM1", "device COM1,"},
                             {"nul.txt", "device NUL,"},
                             {"\\quillor\\nul\\", "device NUL,"},
                             {"\\quillor\\com1\\", "device COM1,"},
                             {"LPT1.log", "device LPT1,"},
                             {std::string("\\x\\COM") + superscript(0x00B9) + "\\", "device COM"},
                             {std::string("LPT") + superscript(0x00B3) + ".txt", "device LPT"},
                             {"\\\\?\\Q:\\dist.", "\"dist.\" ends with a dot or a space"},
                             {"\\quillor \\cgi", "\"quillor \" ends with a dot or a space"},
                             {"x\\...\\", "\"...\" ends with a dot or a space"}});
#endif
    for (const auto &[answer, why] : rows) {
        question_rec r = record(QMODE_DIRECTORY, "\\old\\", answer.c_str());
        std::string out = console_of([&] { EXPECT_EQ(directory_test(&r, &dummy_table), 0) << answer; });
        EXPECT_STREQ(r.default_answer, "\\old\\");
        EXPECT_NE(out.find(why), std::string::npos) << answer << ": " << out;
    }
    EXPECT_FALSE(fs::exists(dir / "quillor"));  // nothing made
}

TEST_F(DirectoryTest, NameWithNoRoomForTheProbeIsRefusedUnprobed)
{
    std::string longest(TEXT_PATH_SIZE - 1, 'd');
    longest[0] = '\\';
    question_rec r = record(QMODE_DIRECTORY, "\\old\\", longest.c_str());
    std::string out = console_of([&] { EXPECT_EQ(directory_test(&r, &dummy_table), 0); });
    EXPECT_STREQ(r.default_answer, "\\old\\");
    EXPECT_NE(out.find("directory_test: directory name too long"), std::string::npos);
    EXPECT_TRUE(tu::dir_is_empty(scratch.dir));
}

// The longest name leaves room for "tempfile.999" within 511 characters:
// 499 with its trailing backslash (one is added when it lacks it).
TEST_F(DirectoryTest, NamesUpToTheProbesRoomAreTakenAndOneMoreIsNot)
{
    const struct {
        size_t length;
        bool backslash;
        int taken;
    } rows[] = {{499, true, 1}, {498, false, 1}, {500, true, 0}, {499, false, 0}};
    char letter = 'a';
    for (const auto &row : rows) {
        std::string name = "\\";  // folders of 99 characters: each name fits the file system
        while (name.size() < row.length) name += name.size() % 100 == 0 ? '\\' : letter;
        if (row.backslash) name.back() = '\\';
        letter++;
        question_rec r = record(QMODE_DIRECTORY, "\\old\\", name.c_str());
        int taken = -1;
        std::string out = console_of([&] { taken = directory_test(&r, &dummy_table); });
        EXPECT_EQ(out.find("directory name too long") == std::string::npos, row.taken != 0) << row.length << out;
#ifndef _WIN32  // there paths past 259 characters cannot be made
        EXPECT_EQ(taken, row.taken) << row.length;
        std::replace(name.begin(), name.end(), '\\', '/');
        EXPECT_EQ(fs::is_directory(scratch.dir + name), row.taken != 0) << row.length;
#endif
    }
}

/* ---- relative_test ---- */

using RelativeTest = ScratchTree;

TEST_F(RelativeTest, UrlIsProbedUnderTheBaseWhileTheRecordKeepsTheUrl)
{
    question_rec r = record(QMODE_RELATIVE, "/old", "/qlimg");
    EXPECT_EQ(relative_test(&r, "\\inetpub\\wwwroot\\", &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "/qlimg");
    EXPECT_TRUE(fs::is_directory(dir / "inetpub" / "wwwroot" / "qlimg"));
}

TEST_F(RelativeTest, SlashesBecomeBackslashesAndDoubleSlashEndsThePath)
{
    question_rec r = record(QMODE_RELATIVE, "/qlimg", "/pics/small/");
    EXPECT_EQ(relative_test(&r, "\\www\\", &dummy_table), 1);
    EXPECT_TRUE(fs::is_directory(dir / "www" / "pics" / "small"));

    r = record(QMODE_RELATIVE, "/qlimg", "a//b");
    EXPECT_EQ(relative_test(&r, "\\www2\\", &dummy_table), 1);
    EXPECT_STREQ(r.default_answer, "a//b");
    EXPECT_TRUE(fs::is_directory(dir / "www2" / "a"));
    EXPECT_FALSE(fs::exists(dir / "www2" / "a" / "b"));
}

TEST_F(RelativeTest, BaseAndUrlTooLongTogetherAreRefusedUnprobed)
{
    std::string base = "\\" + std::string(400, 'b') + "\\";
    std::string url = "/" + std::string(200, 'u');
    question_rec r = record(QMODE_RELATIVE, "/qlimg", url.c_str());
    std::string out = console_of([&] { EXPECT_EQ(relative_test(&r, base.c_str(), &dummy_table), 0); });
    EXPECT_STREQ(r.default_answer, "/qlimg");
    EXPECT_NE(out.find("relative_test: directory name too long"), std::string::npos);
    EXPECT_TRUE(tu::dir_is_empty(scratch.dir));
}

// The driver runs question() in-process: standard input scripted, the
// console captured, and the process's exits (end of input, "Q" confirmed)
// caught through the platform's exit hook, so it runs under Wine as well.
struct child_result {
    int exit_code = -1;  // the status the run exited with, or 100 + the body's result
    std::string console;
};

log_record child_log;

struct exited {
    int status;
};
[[noreturn]] void leave_by_throwing(int status) { throw exited{status}; }

class QuestionDriver : public ScratchTree {
  protected:
    question_table table;
    question_table *t = &table;

    void SetUp() override
    {
        ScratchTree::SetUp();
        table_init(t);
    }

    child_result run(const std::string &input, const std::function<int()> &body)
    {
        child_result res;
        tu::ScriptedInput in(input);
        tu::CapturedOutput out;
        log_init(&child_log);
        log_open(&child_log, "", "install.log");
        log_set_level(&child_log, 2);
        log_make_current(&child_log);
        plat_exit_hook old = plat_set_exit_hook(leave_by_throwing);
        try {
            res.exit_code = 100 + body();
        } catch (const exited &e) {
            res.exit_code = e.status;
            plat_out(child_log.file ? "[log open]" : "[log closed]");  // what an exit handler would see
        }
        plat_set_exit_hook(old);
        plat_flush();
        res.console = out.text();
        if (child_log.file) log_close(&child_log);
        log_make_current(nullptr);
        return res;
    }
    std::string log_text() { return read_file(dir / "install.log"); }
};

const std::string WORKAREA_PROMPT = "Have you set up a workarea directory? [n]: ";

TEST_F(QuestionDriver, EmptyLineAcceptsTheDefault)
{
    t->q[Q_WORKAREA_TRUE].flag = 1;
    child_result r = run("\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_EQ(r.console, WORKAREA_PROMPT);
    EXPECT_EQ(t->q[Q_WORKAREA_TRUE].flag, 0);
    EXPECT_STREQ(t->q[Q_WORKAREA_TRUE].default_answer, "n");
}

TEST_F(QuestionDriver, LeadingBlankYesIsAccepted)
{
    child_result r = run(" y\r\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_EQ(t->q[Q_WORKAREA_TRUE].flag, 1);
    EXPECT_STREQ(t->q[Q_WORKAREA_TRUE].default_answer, "y");  // without its blank
}

TEST_F(QuestionDriver, RejectedAnswersAskAgainWithTheSameDefault)
{
    child_result r = run("ja\n1\nyes\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_EQ(r.console, WORKAREA_PROMPT + WORKAREA_PROMPT + WORKAREA_PROMPT);
    EXPECT_EQ(t->q[Q_WORKAREA_TRUE].flag, 1);
    EXPECT_STREQ(t->q[Q_WORKAREA_TRUE].default_answer, "yes");
}

TEST_F(QuestionDriver, QuitDeclinedAsksTheQuestionAgain)
{
    for (const char *no : {"no", "N"}) {
        child_result r = run(std::string("Q\n") + no + "\n\n", [&] { return question(Q_WORKAREA_TRUE, t); });
        EXPECT_EQ(r.exit_code, 101) << no;
        EXPECT_EQ(r.console, WORKAREA_PROMPT + "Do you really want to exit? [y]:" + WORKAREA_PROMPT) << no;
    }
}

TEST_F(QuestionDriver, QuitConfirmedByEmptyLineSaysGoodbyeAfterClosingTheLog)
{
    child_result r = run("Q\n\n", [&] {
        question(Q_WORKAREA_TRUE, t);
        plat_out("[returned]");
        return 0;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.console, WORKAREA_PROMPT + "Do you really want to exit? [y]:\nGoodbye :-)\n[log closed]");
}

TEST_F(QuestionDriver, HelpIsShownBetweenLineEndsAndTheQuestionAskedAgain)
{
    write_file(dir / "install.hlp", "[WORKAREA_TRUE]\r\n\tSay y if you have one.\r\n\r\n[WORKAREA]\r\nx\r\n");
    child_result r = run("?\n\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_EQ(r.console, WORKAREA_PROMPT + "\nSay y if you have one.\n\n" + WORKAREA_PROMPT);
    EXPECT_STREQ(t->q[Q_WORKAREA_TRUE].default_answer, "n");
}

TEST_F(QuestionDriver, MissingHelpFileSaysNoHelpAndAsksAgain)
{
    child_result r = run("?\n\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_EQ(r.console, WORKAREA_PROMPT + "\nNo specific help is available for this question.\n" + WORKAREA_PROMPT);
}

TEST_F(QuestionDriver, EndOfInputAtAQuestionStopsTheRun)
{
    child_result r = run("ja\n", [&] { return question(Q_WORKAREA_TRUE, t); });
    EXPECT_EQ(r.exit_code, EXIT_END_OF_INPUT);
    EXPECT_EQ(r.console, WORKAREA_PROMPT + WORKAREA_PROMPT + "\nEnd of input, Quillor Install stopped\n[log closed]");
    EXPECT_NE(log_text().find("end of input at WORKAREA_TRUE, installer stopped"), std::string::npos);
    EXPECT_EQ(t->q[Q_WORKAREA_TRUE].flag, 0);
}

TEST_F(QuestionDriver, EndOfInputAtTheQuitConfirmationStopsTheRun)
{
    child_result r = run("Q\n", [&] { return question(Q_CHANGE, t); });
    EXPECT_EQ(r.exit_code, EXIT_END_OF_INPUT);
    EXPECT_NE(r.console.find("exit? [y]:\nEnd of input, Quillor Install stopped\n[log closed]"), std::string::npos);
    EXPECT_EQ(r.console.find("Goodbye"), std::string::npos);
    EXPECT_NE(log_text().find("end of input at CHANGE, installer stopped"), std::string::npos);
}

TEST_F(QuestionDriver, OverLongLineIsOneAnswerCutAt511Characters)
{
    std::string line(600, 'x');
    child_result r = run(line + "\nexample.org\n", [&] { return question(Q_NEWSHOST, t) + question(Q_DOMAIN, t); });
    EXPECT_EQ(r.exit_code, 102);
    EXPECT_EQ(std::string(t->q[Q_NEWSHOST].default_answer), std::string(TEXT_PATH_SIZE - 1, 'x'));
    EXPECT_STREQ(t->q[Q_DOMAIN].default_answer, "example.org");
}

TEST_F(QuestionDriver, DirectoryAnswerIsStoredWithBackslashAndCreated)
{
    child_result r = run("\\web\\cgi\n", [&] { return question(Q_SCRIPTS, t); });
    EXPECT_EQ(r.exit_code, 101);
    EXPECT_STREQ(t->q[Q_SCRIPTS].default_answer, "\\web\\cgi\\");
    EXPECT_TRUE(fs::is_directory(dir / "web" / "cgi"));
}

TEST_F(QuestionDriver, RelativeUrlIsCreatedUnderTheWebRootAnswer)
{
    child_result r = run("\\site\\root\n\n", [&] { return question(Q_WWWROOT, t) + question(Q_QLIMG, t); });
    EXPECT_EQ(r.exit_code, 102);
    EXPECT_STREQ(t->q[Q_WWWROOT].default_answer, "\\site\\root\\");
    EXPECT_STREQ(t->q[Q_QLIMG].default_answer, "/qlimg");
    EXPECT_TRUE(fs::is_directory(dir / "site" / "root" / "qlimg"));
}

TEST_F(QuestionDriver, RecordWithoutAValidatorIsRefused)
{
    t->q[Q_USER].mode = 7;
    child_result r = run("y\n", [&] { return question(Q_USER, t); });
    EXPECT_EQ(r.exit_code, 100);
    EXPECT_NE(r.console.find("question: invalid mode passed"), std::string::npos);
    EXPECT_NE(log_text().find("question: invalid mode passed"), std::string::npos);
}

}  // namespace

// An answer the configuration reader would take for the start of a
// continued setting, or one holding a line end, is refused at its question.
TEST(NoneTest, RefusesAnswersThatWouldContinueOrBreakTheirLine)
{
    for (const char *bad : {"news.example.org /", "news\\n", "a\rb"}) {
        question_rec r = record(QMODE_NONE, "old", bad);
        EXPECT_EQ(none_test(&r, &dummy_table), 0) << bad;
        EXPECT_STREQ(r.default_answer, "old");
    }
    question_rec r = record(QMODE_NONE, "old", "a/");
    EXPECT_EQ(none_test(&r, &dummy_table), 1);
}
