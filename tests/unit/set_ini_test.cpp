// Rewriting the configuration file from the answers: managed lines, groups,
// appended settings, and that the file is never lost or half-written.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "config/defaults.h"
#include "config/set_ini.h"
#include "table/table.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

// What every rewrite appends when the file has none of the managed lines,
// with the answers that Answered() gives.
const char *const APPENDED = "force_login false\n"
                             "authent_news false\n"
                             "authent_local true\n"
                             "authent_local_create true\n"
                             "authent_cookie true\n"
                             "newshost news1\n"
                             "domain example.org\n"
                             "templates \\quillor\\\n"
                             "cache_dir \\quillor\\cache\\\n"
                             "qlimg /qlimg\n";

class SetIni : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    question_table t;
    void SetUp() override
    {
        table_init(&t);
        set(Q_NEWSHOST, "news1");
        set(Q_DOMAIN, "example.org");
        set(Q_POPHOST, "pop1");
    }
    void TearDown() override { plat_syscall_reset(); }
    void set(int index, const char *value, int flag = -1)
    {
        text_copy(t.q[index].default_answer, value, TEXT_PATH_SIZE);
        if (flag >= 0) t.q[index].flag = flag;
    }
    // Writes quillor.ini, rewrites it and returns the new content.
    std::string rewrite(const std::string &content)
    {
        tu::write_file(scratch.path("quillor.ini"), content);
        EXPECT_EQ(1, set_ini(nullptr, &t));
        EXPECT_FALSE(tu::exists(scratch.path("tempquillor.ini")));
        return tu::read_text(scratch.path("quillor.ini"));
    }
};

// ---- managed and unmanaged lines ----

TEST_F(SetIni, UnmanagedLinesKeepTheirPlaceAndManagedOnesGetAnswers)
{
    std::string in = "# Quillor settings\n"
                     "\n"
                     "templates \\old\\\n"
                     "# force_login y is the safe choice\n"
                     "Templates \\old\\\n"
                     "templates\n"
                     "templates\t\\old\\\n"
                     "smtp mail.example\n"
                     "newshost oldnews\n"
                     "cache_dir \\old\\cache\\\n"
                     "domain old.example\n"
                     "qlimg /old\n"
                     "force_login y\n"
                     "authent_news y\n"
                     "authent_local y\n"
                     "authent_local_create y\n"
                     "authent_cookie y\n"
                     "last setting\n";
    EXPECT_EQ("# Quillor settings\n"
              "\n"
              "templates \\quillor\\\n"
              "# force_login y is the safe choice\n"
              "Templates \\old\\\n"
              "templates\n"
              "templates\t\\old\\\n"
              "smtp mail.example\n"
              "newshost news1\n"
              "cache_dir \\quillor\\cache\\\n"
              "domain example.org\n"
              "qlimg /qlimg\n"
              "authent_local y\n"
              "authent_local_create y\n"
              "authent_cookie y\n"
              "last setting\n",
              rewrite(in));
}

TEST_F(SetIni, LeadingBlanksStayBeforeTheKey)
{
    std::string out = rewrite("  \tdomain old.example\n");
    EXPECT_EQ(0u, out.find("  \tdomain example.org\n"));
}

TEST_F(SetIni, CarriageReturnLineEndsBecomeNewlines)
{
    std::string out = rewrite("# comment\r\nsmtp x\r\r\ndomain old\r\n");
    EXPECT_EQ(0u, out.find("# comment\nsmtp x\ndomain example.org\nforce_login false\n"));
    EXPECT_EQ(std::string::npos, out.find('\r'));
}

TEST_F(SetIni, LastLineWithoutNewlineIsKept)
{
    std::string out = rewrite("smtp x\nlast");
    EXPECT_EQ(0u, out.find("smtp x\nlast\nforce_login false\n"));
}

TEST_F(SetIni, OverlongAnswersAreCutTo510Characters)
{
    std::string longer(600, 'd');
    set(Q_DOMAIN, longer.c_str());
    std::string out = rewrite("  domain x\n");
    EXPECT_EQ(0u, out.find("  domain " + std::string(503, 'd') + "\n"));
    set(Q_AUTHENT_LOCAL_CREATE, ("y" + longer).c_str(), 1);
    out = rewrite("authent_local_create y\n");
    EXPECT_EQ(0u, out.find("authent_local_create y" + std::string(488, 'd') + "\n"));
    EXPECT_NE(std::string::npos, out.find("\ndomain " + std::string(503, 'd') + "\n"));
}

// Lines of the 511-character read buffer's length are whole lines; longer
// ones come out split, never overflowing anything.
TEST_F(SetIni, LongLinesStayOneLineAndOnlyTheirStartIsASetting)
{
    std::string exact(511, 'e');
    std::string exact_crlf(510, 'c');
    std::string longer = "x " + std::string(600, 'l') + " domain zzz " + std::string(500, 'm') + "authent_news y";
    std::string out = rewrite(exact + "\n" + exact_crlf + "\r\n" + longer + "\n" + "\n" + exact);
    EXPECT_EQ(0u, out.find(exact + "\n" + exact_crlf + "\n" + longer + "\n\n" + exact + "\nforce_login false\n"));
    // a managed setting is replaced whole, however long its old value
    out = rewrite("templates " + std::string(700, 'o') + "\nx 1\n");
    EXPECT_EQ(0u, out.find("templates \\quillor\\\nx 1\n"));
}

// Host sections keep their own values; a setting continued over several
// lines goes, or stays, with all its lines.
TEST_F(SetIni, HostSectionsAndContinuedSettingsKeepTheirMeaning)
{
    std::string out = rewrite("domain old\n"
                              "vhost alpha\n"
                              "domain alpha.example\n"
                              "templates \\alpha\\\n"
                              "VEND\n"
                              "newshost a /\n"
                              "  b\n"
                              "motd hello \\n\n"
                              "newshost inside\n"
                              "x 1\n");
    EXPECT_EQ(0u, out.find("domain example.org\n"
                           "vhost alpha\n"
                           "domain alpha.example\n"
                           "templates \\alpha\\\n"
                           "VEND\n"
                           "newshost news1\n"
                           "motd hello \\n\n"
                           "newshost inside\n"
                           "x 1\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("\ntemplates \\quillor\\\n"));  // the global one, appended

    // a key that starts with "vend" ends no section; blanks after a marker
    // leave it a marker
    out = rewrite("vhost beta\nvendor_id 7\ndomain beta\nvend\nqlimg /a / \t\n  domain inner\n");
    EXPECT_EQ(0u, out.find("vhost beta\nvendor_id 7\ndomain beta\nvend\nqlimg /qlimg\nforce_login false\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("inner")) << out;

    // what is appended never lands in an open section or a continued value
    out = rewrite("vhost beta\ndomain beta\nmotd a /");
    EXPECT_EQ(0u, out.find("vhost beta\ndomain beta\nmotd a /\n\nvend\nforce_login false\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\ndomain example.org\n"));
}

// ---- yes/no lines ----

TEST_F(SetIni, NoAnswerDropsTheLineAndAppendsNothing)
{
    set(Q_AUTH_NEWS, "n", 0);
    std::string out = rewrite("authent_news y\n");
    EXPECT_EQ(std::string::npos, out.find("authent_news"));
}

TEST_F(SetIni, MissingYesNoLinesAreAppendedAsTrueOrFalse)
{
    set(Q_FORCE_LOGIN, "yes", 1);
    set(Q_AUTHENT_LOCAL, "y", 1);
    std::string out = rewrite("authent_local n\n");
    EXPECT_EQ(0u, out.find("authent_local y\nforce_login true\nauthent_news false\n"
                           "authent_local_create true\nauthent_cookie true\n"));
}

// ---- POP groups ----

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

TEST_F(SetIni, UserPopGroupIsWrittenOnceWhereItStood)
{
    set(Q_AUTH_USER_POP, "y", 1);
    std::string out = rewrite("a 1\nauthent_pop false\nb 2\nauthent_imap false\nc 3\n");
    EXPECT_EQ(0u, out.find("a 1\nauthent_pop true\nauthent_imap true\nb 2\nc 3\n"));
    EXPECT_EQ(1u, count(out, "authent_pop"));
    EXPECT_EQ(1u, count(out, "authent_imap"));
    set(Q_AUTH_USER_POP, "n", 0);
    out = rewrite("a 1\nauthent_pop false\nauthent_imap false\nc 3\n");
    EXPECT_EQ(0u, out.find("a 1\nc 3\nforce_login"));
    EXPECT_EQ(std::string::npos, out.find("authent_pop"));
    EXPECT_EQ(std::string::npos, out.find("authent_imap"));
}

TEST_F(SetIni, AdminPopGroupNamesThePopHost)
{
    set(Q_AUTH_ADMIN_POP, "y", 1);
    std::string out = rewrite("host_authent false\nauthent_host old\nx 1\nauthent_port 995\n");
    EXPECT_EQ(0u, out.find("host_authent true\nauthent_host pop1\nauthent_port 110\nx 1\n"));
    EXPECT_EQ(1u, count(out, "host_authent"));
    set(Q_AUTH_ADMIN_POP, "n", 0);
    out = rewrite("host_authent false\nauthent_host old\nauthent_port 995\nx 1\n");
    EXPECT_EQ(0u, out.find("x 1\nforce_login"));
    const std::string host(505, 'p');  // the longest answer a line can carry whole
    set(Q_AUTH_ADMIN_POP, "y", 1);
    set(Q_POPHOST, host.c_str());
    out = rewrite("authent_host old\n");
    EXPECT_EQ(0u, out.find("host_authent true\nauthent_host " + host + "\nauthent_port 110\n"));
}

// ---- settings the file lacked ----

TEST_F(SetIni, EveryMissingSettingIsAppended) { EXPECT_EQ(std::string("# empty\n") + APPENDED, rewrite("# empty\n")); }

TEST_F(SetIni, MissingPopGroupsAreAppendedWhenAnsweredYes)
{
    set(Q_AUTH_USER_POP, "y", 1);
    set(Q_AUTH_ADMIN_POP, "y", 1);
    EXPECT_EQ(std::string(APPENDED) + "authent_pop true\nauthent_imap true\n"
                                      "host_authent true\nauthent_host pop1\nauthent_port 110\n",
              rewrite(""));
}

TEST_F(SetIni, RewrittenFileGivesBackEveryAnswer)
{
    set(Q_TEMPLATES, "\\web\\tpl\\");
    set(Q_CACHE, "D:\\cache\\");
    set(Q_QLIMG, "/pics");
    rewrite("# nothing managed\nworkarea \\w\\\n");
    question_table back;
    table_init(&back);
    load_defaults(".\\", "quillor.ini", &back);
    for (int q : {Q_NEWSHOST, Q_DOMAIN, Q_TEMPLATES, Q_CACHE, Q_QLIMG})
        EXPECT_STREQ(t.q[q].default_answer, back.q[q].default_answer) << q;
}

TEST_F(SetIni, FileInAnotherDirectoryIsRewrittenInPlace)
{
    tu::make_dirs(scratch.path("scripts"));
    tu::write_file(scratch.path("scripts/quillor.ini"), "domain x\n");
    tu::write_file(scratch.path("scripts/tempquillor.ini"), "stale");  // the temporary file is made beside it
    EXPECT_EQ(1, set_ini("\\scripts", &t));
    EXPECT_EQ(0u, tu::read_text(scratch.path("scripts/quillor.ini")).find("domain example.org\n"));
    EXPECT_FALSE(tu::exists(scratch.path("scripts/tempquillor.ini")));
    EXPECT_FALSE(tu::exists(scratch.path("tempquillor.ini")));
}

// ---- failures keep the existing file ----

const std::string ORIGINAL = "# keep me\ndomain old.example\nsmtp x\n";

TEST_F(SetIni, CtrlZIsAnOrdinaryByteAndEveryLineAfterItStays)
{
    std::string out = rewrite("# settings\r\n\x1a\r\nnote a \x1a byte\r\ntemplates \\old\\\r\nsmtp mail\r\n");
    EXPECT_EQ(out.find("# settings\n\x1a\nnote a \x1a byte\ntemplates \\quillor\\\nsmtp mail\n"), 0u) << out;
}

class SetIniFails : public SetIni {
  protected:
    void SetUp() override
    {
        SetIni::SetUp();
        tu::write_file(scratch.path("quillor.ini"), ORIGINAL);
    }
    void expect_unchanged()
    {
        EXPECT_EQ(ORIGINAL, tu::read_file(scratch.path("quillor.ini")));
        EXPECT_FALSE(tu::exists(scratch.path("tempquillor.ini")));
    }
};

TEST_F(SetIniFails, NullTableIsReported)
{
    EXPECT_EQ(0, set_ini(nullptr, nullptr));
    EXPECT_NE(std::string::npos, log.text().find("Error: set_ini: unexpected NULL passed\n"));
    expect_unchanged();
}

TEST_F(SetIniFails, MissingFileIsReported)
{
    tu::CapturedOutput out;
    EXPECT_EQ(0, set_ini("\\nowhere\\", &t));
    EXPECT_EQ("\nset_ini: could not open file \\nowhere\\quillor.ini to read\n", out.text());
    EXPECT_NE(std::string::npos,
              log.text().find("Error: set_ini: could not open file \\nowhere\\quillor.ini to read\n"));
    expect_unchanged();
}

int opens = 0;
FILE *counting_fopen(const char *native, const char *mode)
{
    opens++;
    return tu::real_calls().fopen(native, mode);
}

TEST_F(SetIniFails, ExecutableIsNeverOpenedWithoutAnIniName)
{
    tu::write_file(scratch.path("quillor.bin"), "binary");
    set(Q_QUILLOR_CGI, "quillor.bin");
    opens = 0;
    {
        tu::Fault f(&plat_syscalls::fopen, counting_fopen);
        EXPECT_EQ(0, set_ini(nullptr, &t));
    }
    EXPECT_EQ(0, opens);
    EXPECT_EQ("binary", tu::read_file(scratch.path("quillor.bin")));
    EXPECT_NE(std::string::npos, log.text().find("Error: set_ini: "));
    expect_unchanged();
}

TEST_F(SetIniFails, TemporaryFileThatCannotBeCreatedIsReported)
{
    tu::make_dirs(scratch.path("tempquillor.ini"));
    tu::CapturedOutput out;
    EXPECT_EQ(0, set_ini(nullptr, &t));
    EXPECT_EQ("\nset_ini: could not open file .\\tempquillor.ini to write\n", out.text());
    EXPECT_EQ(ORIGINAL, tu::read_file(scratch.path("quillor.ini")));
    EXPECT_TRUE(tu::is_dir(scratch.path("tempquillor.ini")));
}

TEST_F(SetIniFails, FailedRenameKeepsTheExistingFile)
{
    tu::CapturedOutput out;
    {
        tu::Fault f(&plat_syscalls::rename, tu::fail_rename);
        EXPECT_EQ(0, set_ini(nullptr, &t));
    }
    expect_unchanged();
    EXPECT_NE(std::string::npos, log.text().find("Error: set_ini: could not rename "));
    EXPECT_NE(std::string::npos, out.text().find("\nset_ini: .\\quillor.ini left unchanged\n"));
}

// The disk fills up for every file but the test's log.
TEST_F(SetIniFails, DiskFullKeepsTheExistingFile)
{
    for (size_t budget : {0, 5, 40, 200}) {
        tu::fault_budget = budget;
        tu::fault_spared = log.rec.file;
        tu::CapturedOutput out;
        {
            tu::Fault f(&plat_syscalls::fwrite, tu::fail_fwrite_after);
            EXPECT_EQ(0, set_ini(nullptr, &t)) << budget;
        }
        expect_unchanged();
        EXPECT_NE(std::string::npos, log.text().find("Error: set_ini: error writing to .\\tempquillor.ini\n"));
    }
}

TEST_F(SetIniFails, FailedCloseKeepsTheExistingFile)
{
    tu::fault_spared = log.rec.file;
    tu::CapturedOutput out;
    {
        tu::Fault f(&plat_syscalls::fclose, tu::fail_fclose);
        EXPECT_EQ(0, set_ini(nullptr, &t));
    }
    expect_unchanged();
}

TEST_F(SetIniFails, ReadErrorKeepsTheExistingFile)
{
    tu::fault_budget = 0;  // the first read fails
    tu::CapturedOutput out;
    {
        tu::Fault f(&plat_syscalls::fread, tu::fail_fread_after);
        EXPECT_EQ(0, set_ini(nullptr, &t));
    }
    expect_unchanged();
    EXPECT_NE(std::string::npos, log.text().find("Error: error reading from .\\quillor.ini\n"));
}

}  // namespace
