// Reading a configuration file into the question defaults, as the install
// flow does with the shipped file and the update flow with an installed one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/defaults.h"
#include "table/table.h"
#include "test_util.h"

namespace {

class Defaults : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    tu::TestLog log;
    question_table t;
    void SetUp() override
    {
        table_init(&t);
        for (int q : {Q_POPHOST, Q_NEWSHOST, Q_DOMAIN})
            text_copy(t.q[q].default_answer, computer_name(), TEXT_PATH_SIZE);
    }
    std::string answer(int index) { return t.q[index].default_answer; }
    void set(int index, const char *value) { text_copy(t.q[index].default_answer, value, TEXT_PATH_SIZE); }
    // The shipped file in the current directory, read as install does.
    void load_shipped(const std::string &content, const char *name = "quillor.ini")
    {
        tu::write_file(scratch.path(name), content);
        load_defaults(nullptr, name, &t);
    }
    // An installed file in \scripts\, read as update does.
    void load_installed(const std::string &content)
    {
        tu::make_dirs(scratch.path("scripts"));
        tu::write_file(scratch.path("scripts/quillor.ini"), content);
        load_defaults("\\scripts\\", "quillor.ini", &t);
    }
};

// ---- locations ----

TEST_F(Defaults, TemplatesGiveCacheAndOriginals)
{
    load_shipped("templates \\quillor\\\n");
    EXPECT_EQ("\\quillor\\", answer(Q_TEMPLATES));
    EXPECT_EQ("\\quillor\\cache\\", answer(Q_CACHE));
    EXPECT_EQ("\\quillor\\originals\\", answer(Q_ORIGINALS));
}

TEST_F(Defaults, CacheDirOverridesCacheUnderTemplates)
{
    load_shipped("templates \\quillor\\\ncache_dir D:\\cache\n");
    EXPECT_EQ("D:\\cache\\", answer(Q_CACHE));
}

TEST_F(Defaults, DirectoryValuesGetTrailingBackslash)
{
    load_shipped("templates \\web\\tpl\nworkarea \\work\n");
    EXPECT_EQ("\\web\\tpl\\", answer(Q_TEMPLATES));
    EXPECT_EQ("\\web\\tpl\\cache\\", answer(Q_CACHE));
    EXPECT_EQ("\\web\\tpl\\originals\\", answer(Q_ORIGINALS));
    EXPECT_EQ("\\work\\", answer(Q_WORKAREA));
}

TEST_F(Defaults, MissingTemplatesKeepsTableDefaultsButSetsOriginals)
{
    set(Q_ORIGINALS, "\\elsewhere\\");
    load_shipped("qlimg /pics\n");
    EXPECT_EQ("\\quillor\\", answer(Q_TEMPLATES));
    EXPECT_EQ("\\quillor\\cache\\", answer(Q_CACHE));
    EXPECT_EQ("\\quillor\\users\\", answer(Q_WORKAREA));
    EXPECT_EQ("\\quillor\\originals\\", answer(Q_ORIGINALS));
}

TEST_F(Defaults, ImagesUrlLosesTrailingBackslashesOnly)
{
    load_shipped("qlimg /qlimg\\\\\n");
    EXPECT_EQ("/qlimg", answer(Q_QLIMG));
    load_shipped("qlimg /qlimg/\n");
    EXPECT_EQ("/qlimg/", answer(Q_QLIMG));
}

TEST_F(Defaults, ExecutableNameFollowsConfigurationName)
{
    load_shipped("templates \\q\\\n", "other.ini");
    EXPECT_EQ("other.exe", answer(Q_QUILLOR_CGI));
}

TEST_F(Defaults, OverlongDirectoryIsCutAndStillEndsWithBackslash)
{
    load_shipped("templates \\" + std::string(600, 't') + "\n");
    std::string templates = answer(Q_TEMPLATES);
    EXPECT_EQ(511u, templates.size());
    EXPECT_EQ('\\', templates.back());
}

// ---- host names: install reads the shipped file, update the installed one ----

const char *const HOSTS = "newshost news1\\\npophost pop1\ndomain example.org\\\\\n";

TEST_F(Defaults, InstallIgnoresHostsOfShippedFile)
{
    set(Q_NEWSHOST, "typed-before");
    set(Q_POPHOST, "typed-before");
    set(Q_DOMAIN, "typed-before");
    load_shipped(HOSTS);
    EXPECT_EQ(computer_name(), answer(Q_NEWSHOST));
    EXPECT_EQ(computer_name(), answer(Q_POPHOST));
    EXPECT_EQ(computer_name(), answer(Q_DOMAIN));
}

TEST_F(Defaults, InstallWithoutDomainKeepsDomainDefault)
{
    set(Q_DOMAIN, "prev.example");
    load_shipped("templates \\q\\\n");
    EXPECT_EQ("prev.example", answer(Q_DOMAIN));
}

TEST_F(Defaults, UpdateTakesHostsOfInstalledFileInHostForm)
{
    load_installed(HOSTS);
    EXPECT_EQ("news1", answer(Q_NEWSHOST));
    EXPECT_EQ("pop1", answer(Q_POPHOST));
    EXPECT_EQ("example.org", answer(Q_DOMAIN));
}

TEST_F(Defaults, OtherHostsSectionsAreIgnored)
{
    load_installed("templates \\a\\\n"
                   "vhost other.example\n"
                   "templates \\b\\\n"
                   "cache_dir \\x\\\n"
                   "newshost wrong\n"
                   "vend\n"
                   "workarea \\w\\\n");
    EXPECT_EQ("\\a\\", answer(Q_TEMPLATES));
    EXPECT_EQ("\\a\\cache\\", answer(Q_CACHE));
    EXPECT_EQ("\\w\\", answer(Q_WORKAREA));
    EXPECT_EQ(computer_name(), answer(Q_NEWSHOST));
}

// ---- files that cannot be read ----

TEST_F(Defaults, MissingFileKeepsDefaultsAndSaysSo)
{
    set(Q_NEWSHOST, "typed-before");
    set(Q_QLIMG, "/mine");
    set(Q_TEMPLATES, "\\tpl\\");
    tu::CapturedOutput out;
    load_defaults("\\nowhere\\", "quillor.ini", &t);
    EXPECT_EQ("\nload_defaults: cannot open quillor.ini, using standard defaults\n", out.text());
    EXPECT_NE(std::string::npos,
              log.text().find("Info: load_defaults: cannot open quillor.ini, using standard defaults\n"));
    EXPECT_EQ(computer_name(), answer(Q_NEWSHOST));
    EXPECT_EQ("/mine", answer(Q_QLIMG));
    EXPECT_EQ("quillor.exe", answer(Q_QUILLOR_CGI));
    EXPECT_EQ("\\tpl\\originals\\", answer(Q_ORIGINALS));
}

TEST_F(Defaults, NullFileNameChangesNothing)
{
    set(Q_NEWSHOST, "typed-before");
    question_table before = t;
    tu::CapturedOutput out;
    load_defaults(nullptr, nullptr, &t);
    load_defaults(nullptr, "quillor.ini", nullptr);
    EXPECT_EQ(0, memcmp(&before, &t, sizeof t));
    EXPECT_EQ("\nload_defaults: filename NULL, using standard defaults\n"
              "\nload_defaults: filename NULL, using standard defaults\n",
              out.text());
    EXPECT_NE(std::string::npos, log.text().find("Info: load_defaults: filename NULL, using standard defaults\n"));
}

}  // namespace
