// Installation probes: detection of an installation, the offers to switch
// flows, cache clean-up, the web images directory and the ini file name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "installer/flows.h"
#include "installer/probes.h"
#include "table/table.h"
#include "test_util.h"

namespace {

const char *const UPDATE_PROMPT =
    "Quillor is already installed on this computer\nDo you want to do update instead of install? [y]: ";
const char *const INSTALL_PROMPT =
    "Quillor is not installed on this computer\nDo you want to do install instead of update? [y]: ";
const char *const CGI_PROMPT = "What is the name of Quillor's EXE file? [quillor.exe]: ";

class Probes : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    question_table t;
    void SetUp() override { table_init(&t); }
    char *answer(int index) { return t.q[index].default_answer; }
};

// ---- test_install ----

TEST_F(Probes, InstallGoesOnWithoutAskingWhenNoConfigurationIsThere)
{
    tu::make_dirs(scratch.path("scripts"));
    tu::ScriptedInput in("");
    tu::CapturedOutput out;
    EXPECT_EQ(1, test_install("\\scripts\\", &t));
    EXPECT_EQ("", out.text());
}

TEST_F(Probes, InstallOffersUpdateWhenConfigurationIsThere)
{
    tu::make_dirs(scratch.path("scripts"));
    tu::write_file(scratch.path("scripts/quillor.ini"), "templates \\q\\\n");
    {
        tu::ScriptedInput in("y\n");
        tu::CapturedOutput out;
        EXPECT_EQ(0, test_install("\\scripts", &t));  // backslash added
        EXPECT_EQ(UPDATE_PROMPT, out.text());
    }
    {
        tu::ScriptedInput in("n\n");
        EXPECT_EQ(1, test_install("\\scripts\\", &t));
    }
}

TEST_F(Probes, InstallLooksInStandardScriptsDirectoryWhenNoneIsGiven)
{
    tu::make_dirs(scratch.path("inetpub/scripts"));
    tu::write_file(scratch.path("inetpub/scripts/quillor.ini"), "");
    tu::ScriptedInput in("yes\n");
    EXPECT_EQ(0, test_install(nullptr, &t));
}

#ifndef _WIN32  // Windows cannot make a path beyond MAX_PATH (260)
// A directory one character too long for "quillor.ini": the cut path would
// name "quillor.in", which exists, but nothing is installed there.
TEST_F(Probes, ProbesNeverLookAtACutPath)
{
    std::string dir = "\\";
    std::string native = scratch.dir;
    for (int i = 0; i < 50; i++) {
        dir += "ccccccccc\\";
        native += "/ccccccccc";
    }
    ASSERT_EQ(501u, dir.size());  // 501 + 11 = 512: one byte over
    tu::make_dirs(native);
    tu::write_file(native + "/quillor.in", "");
    {
        tu::ScriptedInput in("");
        tu::CapturedOutput out;
        EXPECT_EQ(1, test_install(dir.c_str(), &t));
        EXPECT_EQ("", out.text());
    }
    {
        tu::ScriptedInput in("\nn\n");
        tu::CapturedOutput out;
        EXPECT_EQ(1, test_update(dir.c_str(), &t));
        EXPECT_EQ(std::string(CGI_PROMPT) + INSTALL_PROMPT, out.text());
    }
}
#endif

TEST_F(Probes, NullTableIsReported)
{
    EXPECT_EQ(0, test_install("\\x\\", nullptr));
    EXPECT_EQ(0, test_update("\\x\\", nullptr));
    EXPECT_EQ(0, del_cache(nullptr));
    std::string text = log.text();
    EXPECT_NE(std::string::npos, text.find("Error: test_install: unexpected NULL passed\n"));
    EXPECT_NE(std::string::npos, text.find("Error: test_update: unexpected NULL passed\n"));
    EXPECT_NE(std::string::npos, text.find("Error: del_cache: unexpected NULL passed\n"));
}

// ---- test_update ----

TEST_F(Probes, UpdateGoesOnWithoutAskingWhenConfigurationIsThere)
{
    tu::make_dirs(scratch.path("scripts"));
    tu::write_file(scratch.path("scripts/quillor.ini"), "");
    tu::ScriptedInput in("");
    tu::CapturedOutput out;
    EXPECT_EQ(1, test_update("\\scripts\\", &t));
    EXPECT_EQ("", out.text());
}

TEST_F(Probes, UpdateAcceptsTheExecutableAloneAsAnInstallation)
{
    tu::make_dirs(scratch.path("scripts"));
    tu::write_file(scratch.path("scripts/quillor.exe"), "MZ");
    tu::ScriptedInput in("\n");
    tu::CapturedOutput out;
    EXPECT_EQ(1, test_update("\\scripts\\", &t));
    EXPECT_EQ(CGI_PROMPT, out.text());  // DO_INSTALL not asked
}

TEST_F(Probes, UpdateLooksForCgiExecutableWithoutItsExtension)
{
    tu::make_dirs(scratch.path("a"));
    tu::make_dirs(scratch.path("b"));
    tu::write_file(scratch.path("a/quillor"), "");
    tu::write_file(scratch.path("b/quillor.cgi"), "");
    {
        tu::ScriptedInput in("quillor.cgi\n");
        EXPECT_EQ(1, test_update("\\a\\", &t));
    }
    {
        // only quillor.cgi there: the probe names "quillor" and misses it
        tu::ScriptedInput in("quillor.cgi\nn\n");
        tu::CapturedOutput out;
        EXPECT_EQ(1, test_update("\\b\\", &t));
        EXPECT_NE(std::string::npos, out.text().find(INSTALL_PROMPT));
    }
}

TEST_F(Probes, UpdateOffersInstallWhenNothingIsInstalled)
{
    tu::make_dirs(scratch.path("inetpub/scripts"));
    {
        tu::ScriptedInput in("\ny\n");
        tu::CapturedOutput out;
        EXPECT_EQ(0, test_update(nullptr, &t));
        EXPECT_EQ(std::string(CGI_PROMPT) + INSTALL_PROMPT, out.text());
    }
    {
        tu::ScriptedInput in("\nno\n");
        EXPECT_EQ(1, test_update(nullptr, &t));
    }
}

// ---- del_cache ----

class DelCache : public Probes {
  protected:
    void SetUp() override
    {
        Probes::SetUp();
        tu::make_dirs(scratch.path("cache/x_dir"));
        for (const char *name : {"group.1", "groups.a", "login_groups.b", "msg", "x_12", "index.idx", "time.idx",
                                 "x_dir/inner", "keep.txt", "groupx", "msg2"})
            tu::write_file(scratch.path(std::string("cache/") + name), "data");
        text_copy(answer(Q_CACHE), "\\cache\\", TEXT_PATH_SIZE);
    }
};

TEST_F(DelCache, DeclinedKeepsEveryFile)
{
    tu::ScriptedInput in("n\n");
    tu::CapturedOutput out;
    EXPECT_EQ(0, del_cache(&t));
    EXPECT_EQ("The format of some of Quillor' temporary files may have changed since the\n"
              "last version you installed.  Quillor Install will have to delete these files\n"
              "Do you want to continue? [y]: ",
              out.text());
    EXPECT_TRUE(tu::exists(scratch.path("cache/group.1")));
    EXPECT_TRUE(tu::exists(scratch.path("cache/x_dir/inner")));
}

TEST_F(DelCache, AcceptedDeletesOnlyTheCacheFiles)
{
    tu::ScriptedInput in("\n");
    tu::CapturedOutput out;
    EXPECT_EQ(1, del_cache(&t));
    for (const char *gone : {"group.1", "groups.a", "login_groups.b", "msg", "x_12", "index.idx", "time.idx", "x_dir"})
        EXPECT_FALSE(tu::exists(scratch.path(std::string("cache/") + gone))) << gone;
    for (const char *kept : {"keep.txt", "groupx", "msg2"})
        EXPECT_TRUE(tu::exists(scratch.path(std::string("cache/") + kept))) << kept;
}

// ---- url_to_dir ----

std::string dir_of(const char *url, question_table *t)
{
    char *dir = url_to_dir(strdup(url), t);
    std::string result = dir ? dir : "(null)";
    free(dir);
    return result;
}

TEST_F(Probes, ImagesUrlBecomesDirectoryUnderWebRoot)
{
    EXPECT_EQ("\\inetpub\\wwwroot\\qlimg", dir_of("/qlimg", &t));
    EXPECT_EQ("\\inetpub\\wwwroot\\qlimg", dir_of("qlimg", &t));
    EXPECT_EQ("\\inetpub\\wwwroot\\a\\b", dir_of("/a/b/", &t));
    EXPECT_EQ("\\inetpub\\wwwroot\\a", dir_of("/a//b", &t));
    text_copy(answer(Q_WWWROOT), "\\inetpub\\wwwroot\\\\", TEXT_PATH_SIZE);
    EXPECT_EQ("\\inetpub\\wwwroot\\qlimg", dir_of("/qlimg", &t));
}

TEST_F(Probes, ImagesUrlNullIsReportedAndTakenOver)
{
    tu::CapturedOutput out;
    EXPECT_EQ(nullptr, url_to_dir(nullptr, &t));
    EXPECT_EQ(nullptr, url_to_dir(strdup("/qlimg"), nullptr));  // no leak under ASan
    EXPECT_EQ("\nurl_to_dir: unexpected NULL passed\n\nurl_to_dir: unexpected NULL passed\n", out.text());
    EXPECT_NE(std::string::npos, log.text().find("Error: url_to_dir: unexpected NULL passed\n"));
}

TEST_F(Probes, ImagesDirectoryTooLongIsRefusedNotCut)
{
    std::string root = "\\" + std::string(505, 'w') + "\\";
    text_copy(answer(Q_WWWROOT), root.c_str(), TEXT_PATH_SIZE);
    EXPECT_EQ("(null)", dir_of("/images", &t));
    EXPECT_EQ("\\" + std::string(505, 'w') + "\\img", dir_of("/img", &t));
}

// ---- cgi_to_ini ----

std::string ini_of(const char *exe, char **result = nullptr)
{
    static char name[TEXT_PATH_SIZE];
    text_copy(name, exe, TEXT_PATH_SIZE);
    char *r = cgi_to_ini(name);
    if (result) *result = r;
    return name;
}

TEST_F(Probes, IniNameReplacesExecutableExtension)
{
    char *r = nullptr;
    EXPECT_EQ("quillor.ini", ini_of("quillor.exe", &r));
    EXPECT_NE(nullptr, r);
    EXPECT_EQ("quillor.ini", ini_of("quillor.exe.bak"));
    EXPECT_EQ("q.ini", ini_of("q.cgi"));
    EXPECT_EQ("a.ini", ini_of("a.exe.cgi"));  // .exe is looked for first
}

TEST_F(Probes, IniNameRefusesOtherNamesCaseSensitively)
{
    char *r = &t.line[0];
    EXPECT_EQ("QUILLOR.EXE", ini_of("QUILLOR.EXE", &r));
    EXPECT_EQ(nullptr, r);
    EXPECT_EQ(nullptr, cgi_to_ini(nullptr));
    std::string text = log.text();
    EXPECT_NE(std::string::npos, text.find("Error: cgi_to_ini: \"QUILLOR.EXE\" does not contain .cgi or .exe\n"));
    EXPECT_NE(std::string::npos, text.find("Error: cgi_to_ini: unexpected NULL passed\n"));
}

// ---- the hand-over between the flows ----

// A flow that gives way to another returns that job without a summary:
// the install finding an installation, the update finding none.  The
// removal finding none hands over to nothing.
TEST_F(Probes, FlowsReturnTheJobTheyHandOverTo)
{
    tu::make_dirs(scratch.path("installed"));
    tu::make_dirs(scratch.path("empty"));
    tu::write_file(scratch.path("installed/quillor.ini"), "");
    const struct {
        flow_outcome (*flow)(question_table *);
        const char *input;
        int next;
    } rows[] = {{install_flow, "\\installed\\\ny\n", MENU_UPDATE},
                {update_flow, "\\empty\\\n\ny\n", MENU_INSTALL},
                {remove_flow, "\\empty\\\n\ny\n", MENU_EXIT}};
    for (const auto &row : rows) {
        table_init(&t);
        tu::ScriptedInput in(row.input);
        tu::CapturedOutput out;
        flow_outcome o = row.flow(&t);
        EXPECT_EQ(o.next, row.next) << row.input << out.text();
        EXPECT_EQ(o.reached, 0);
    }
}

}  // namespace
