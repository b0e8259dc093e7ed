// Update flow of the real binary over an installation made in the scratch root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::lines;
using e2e::list_files;
using e2e::read_file;
using e2e::Sandbox;
using Files = std::vector<std::string>;

namespace {

using e2e::ends_with;
using e2e::prompt;

const std::string kSample = QUILLOR_SAMPLE_DIR;
const std::string kInstalledIni = "# installed configuration\n"
                                  "templates \\site\\tpl\\\n"
                                  "cache_dir \\site\\cache\\\n"
                                  "newshost news.installed.org\n"
                                  "domain www.installed.org\n"
                                  "qlimg /pics\n"
                                  "authent_local true\n";
const char kEnd[] = "Do you want to continue? [y]: ";
const char kBackTemplates[] = "Do you want Quillor Install to backup your current template files?";
const char kBackup[] = "Where do you want these files to be backed up to?";

// An older installation: executable, configuration, templates, web images
// and a cache holding files the cache clean-up must and must not take.
void install_old(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    e2e::write_file(s.at("inetpub/scripts/quillor.exe"), "old exe");
    e2e::write_file(s.at("inetpub/scripts/quillor.ini"), kInstalledIni);
    e2e::make_dirs(s.at("site/tpl"));
    e2e::write_file(s.at("site/tpl/index.tpl"), "old index");
    e2e::write_file(s.at("site/tpl/custom.tpl"), "mine");
    e2e::write_file(s.at("site/tpl/old.dat"), "old data");
    e2e::make_dirs(s.at("inetpub/wwwroot/pics"));
    e2e::write_file(s.at("inetpub/wwwroot/pics/old.gif"), "old gif");
    e2e::make_dirs(s.at("site/cache/msg"));
    for (const char *f : {"group.1", "groups.abc", "login_groups.x", "msg/a", "x_1", "index.idx", "time.idx",
                          "keep.txt", "group", "msgs", "index.idx.bak"})
        e2e::write_file(s.at("site/cache/") + f, "cached");
}

const Files kCacheKept = {"group", "index.idx.bak", "keep.txt", "msgs"};

std::string summary(int backed, int copied)
{
    return "\n" + std::to_string(backed) + " files backed up\n" + std::to_string(copied) +
           " files copied\nNo errors occured\nCheck install.log for details\n\n"
           "Quillor' manuals have been copied too \\site\\tpl\\manuals\\\n\n"
           "You should be able to use Quillor by entering the URL\n\t\thttp://www.installed.org/scripts/quillor.exe"
           "\n\n\nPlease press enter to exit";
}

TEST(UpdateFlow, KeepingTemplatesCopiesOnlyProgramImagesAndManuals)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("The format of some of Quillor' temporary files may have changed since the\n"),
              std::string::npos);
    EXPECT_NE(r.out.find(prompt("Where is your templates directory?\n", "\\site\\tpl\\")), std::string::npos);
    EXPECT_NE(r.out.find(prompt("Where is your cache directory?\n", "\\site\\tpl\\cache\\")), std::string::npos);
    EXPECT_EQ(count(r.out, kBackTemplates), 0);
    EXPECT_EQ(count(r.out, kBackup), 0);
    EXPECT_EQ(list_files(s.at("site/cache")), kCacheKept);  // exactly the outdated cache files went
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), kInstalledIni);
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "old index");
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/pics")), Files{"old.gif"});
    EXPECT_EQ(list_files(s.at("site/tpl/img")).size(), 4u);
    EXPECT_EQ(list_files(s.at("site/tpl/manuals")).size(), 3u);
    EXPECT_FALSE(e2e::exists(s.at("backup")));
    EXPECT_TRUE(ends_with(r.out, summary(0, 8))) << r.out;
    EXPECT_TRUE(e2e::exists(s.in_dist("quillor.ini")));  // cleanup declined
}

TEST(UpdateFlow, ReplacingTemplatesBacksThemAndTheWebImagesUpSideBySide)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "y", "", "\\bak\\", "", "", "", "", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(list_files(s.at("bak")), (Files{"custom.tpl", "index.tpl", "old.dat", "old.gif"}));
    EXPECT_EQ(read_file(s.at("bak/index.tpl")), "old index");
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.at("site/tpl/groups.dat")), read_file(kSample + "/tpl/groups.dat"));
    EXPECT_EQ(read_file(s.at("site/tpl/custom.tpl")), "mine");
    EXPECT_FALSE(e2e::exists(s.at("site/tpl/mail")));
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/pics")),
              (Files{"blank.gif", "dot.gif", "logo.png", "new.png", "old.gif"}));
    EXPECT_EQ(list_files(s.at("site/tpl/originals")), (Files{"article.tpl", "index.tpl", "login.tpl"}));
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), kInstalledIni);
    // program 1, web images 4, templates 3 + 2, originals 3, images 4, manuals 3
    EXPECT_TRUE(ends_with(r.out, summary(4, 20))) << r.out;
    EXPECT_EQ(list_files(s.dist), (Files{"install.hlp", "install.log", e2e::program_name()}));
}

TEST(UpdateFlow, ReplacingWithoutBackupAsksNoBackupFolder)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "y", "n", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, kBackup), 0);
    EXPECT_FALSE(e2e::exists(s.at("backup")));
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), kInstalledIni);
    EXPECT_TRUE(ends_with(r.out, summary(0, 17))) << r.out;
}

TEST(UpdateFlow, ChangeAsksScriptsTheTestAndTheCacheClearAgain)
{
    Sandbox s;
    install_old(s);
    e2e::make_dirs(s.at("c2"));
    e2e::write_file(s.at("c2/x_9"), "cached");
    e2e::write_file(s.at("c2/keep"), "kept");
    e2e::Run r = s.run(lines({"2", "", "",       "", "\\c2\\", "", "", "", "n", "y",  // first pass
                              "",  "", "\\t3\\", "", "",       "", "", "", "",  "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "What is the path to your cgi-bin/scripts directory?\n"), 2);
    EXPECT_EQ(count(r.out, kEnd), 2);
    EXPECT_NE(r.out.find(prompt("Where is your cache directory?\n", "\\c2\\")), std::string::npos);
    EXPECT_EQ(count(r.out, "\\t3\\cache\\"), 0);  // derived on the first pass only
    EXPECT_EQ(list_files(s.at("c2")), Files{"keep"});
    EXPECT_EQ(list_files(s.at("t3/img")).size(), 4u);
}

TEST(UpdateFlow, EarlyEndsLeaveTheRestUndone)
{
    Sandbox s;
    install_old(s);
    // cache clear declined: nothing deleted, nothing copied, no summary
    e2e::Run r = s.run(lines({"2", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, std::string(kEnd) + "\nPlease press enter to exit")) << r.out;
    EXPECT_EQ(list_files(s.at("site/cache")).size(), 11u);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), "old exe");

    // quit after the cache clear: that step stays done, nothing else is
    r = s.run(lines({"2", "", "", "", "", "", "", "Q", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, "Goodbye :-)\n")) << r.out;
    EXPECT_EQ(list_files(s.at("site/cache")), kCacheKept);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), "old exe");
    EXPECT_FALSE(e2e::exists(s.at("site/tpl/img")));
}

TEST(UpdateFlow, NothingInstalledHandsOverToInstallOrGoesOn)
{
    Sandbox s;
    e2e::Run r = s.run("2\n" + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(prompt(
                  "Quillor is not installed on this computer\nDo you want to do install instead of update?", "y")),
              std::string::npos);
    EXPECT_EQ(count(r.out, "** INSTALL **"), 1);
    EXPECT_EQ(count(r.out, kEnd), 0);
    EXPECT_EQ(count(r.out, "files backed up"), 0);
    EXPECT_EQ(count(r.out, "\n21 files copied\nNo errors occured\n"), 1);
    EXPECT_TRUE(ends_with(r.out, "/scripts/quillor.exe\n\n\nPlease press enter to exit")) << r.out;
    EXPECT_TRUE(e2e::exists(s.at("inetpub/scripts/quillor.ini")));

    Sandbox t;
    r = t.run(lines({"2", "", "", "n", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "** INSTALL **"), 0);
    EXPECT_EQ(count(r.out, kEnd), 1);
}

TEST(UpdateFlow, ACacheNameTheCodePageCannotHoldNeverNamesAnotherFolder)
{
    Sandbox s;
    install_old(s);
    const std::string solidus = "\xEF\xBC\x8F";  // U+FF0F: by best fit "x_/../..", the folder above the cache
    e2e::make_dirs(s.at("site/cache/x_" + solidus + ".." + solidus + ".."));
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(s.at("site/tpl/custom.tpl")), "mine");
    EXPECT_FALSE(e2e::exists(s.at("site/cache/x_1")));
    if (!e2e::under_wine()) return;  // an ordinary name here
    EXPECT_TRUE(e2e::is_dir(s.at("site/cache/x_" + solidus + ".." + solidus + "..")));
    EXPECT_NE(r.out.find("\n1 errors occured during copying"), std::string::npos) << r.out;
}

}  // namespace
