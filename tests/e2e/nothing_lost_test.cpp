// Sequences of runs in which an administrator's files used to be lost or a
// failure reported as success: backups over backups, failed backups,
// names that differ only in case, the clean-up of the distribution folder,
// files that stay, incomplete distributions and short folder names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::ends_with;
using e2e::exists;
using e2e::lines;
using e2e::list_files;
using e2e::read_file;
using e2e::RunOptions;
using e2e::Sandbox;
using e2e::write_file;
using Files = std::vector<std::string>;

namespace {

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kDone[] = "\nPlease press enter to exit";

std::string errors(int n, const char *during)
{
    return "\n" + std::to_string(n) + " errors occured during " + during + ", check install.log for details\n";
}

// An installation whose templates the administrator customised, with a
// web image and a work area that share names with the templates.
void install_old(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(s.at("inetpub/scripts/quillor.ini"),
               "templates \\site\\tpl\\\ncache_dir \\site\\cache\\\nqlimg /pics\nworkarea \\site\\users\\\n");
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "first custom");
    write_file(s.at("site/tpl/custom.tpl"), "mine");
    write_file(s.at("site/tpl/shared.gif"), "template gif");
    e2e::make_dirs(s.at("inetpub/wwwroot/pics"));
    write_file(s.at("inetpub/wwwroot/pics/shared.gif"), "web gif");
    e2e::make_dirs(s.at("site/users"));
    write_file(s.at("site/users/index.tpl"), "user index");
}

// Every file's content below dir, sorted, whatever it is called now.
std::vector<std::string> contents(const std::string &dir)
{
    std::vector<std::string> all;
    for (const std::string &f : list_files(dir)) all.push_back(read_file(dir + "/" + f));
    std::sort(all.begin(), all.end());
    return all;
}

bool has(const std::vector<std::string> &all, const std::string &content)
{
    return std::find(all.begin(), all.end(), content) != all.end();
}

// Update answers: replace the templates with a backup in \bak\, pristine
// copy into `originals`, clean-up declined.
std::string update_answers(const std::string &originals)
{
    return lines({"2", "", "", "", "", "", "", "y", "", "\\bak\\", "", originals, "", "n", ""});
}

TEST(NothingLost, BackupsNeverOverwriteBackups)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(update_answers(""));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("errors occured during"), std::string::npos) << r.out;
    // the template and the web image of the same name both kept
    EXPECT_EQ(read_file(s.at("bak/shared.gif")), "web gif");
    EXPECT_EQ(read_file(s.at("bak/shared.gif.~1~")), "template gif");
    EXPECT_NE(r.log.find("Info: copy_file: kept \\bak\\shared.gif as \\bak\\shared.gif.~1~"), std::string::npos);

    // customised again, updated again, with the pristine copy aimed at the backup
    write_file(s.at("site/tpl/index.tpl"), "second custom");
    r = s.run(update_answers("\\bak\\"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("errors occured during"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("bak/index.tpl.~1~")), "first custom");
    EXPECT_EQ(read_file(s.at("bak/index.tpl.~2~")), "second custom");
    EXPECT_EQ(read_file(s.at("bak/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.at("bak/custom.tpl")), "mine");  // identical: it simply stays
    EXPECT_FALSE(exists(s.at("bak/custom.tpl.~1~")));

    // remove everything, work area included, into the same backup
    r = s.run(lines({"3", "", "", "", "y", "", "y", "\\bak\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No errors occured\n"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(s.at("site/tpl")));
    EXPECT_FALSE(exists(s.at("site/users")));
    std::vector<std::string> saved = contents(s.at("bak"));
    for (const char *c : {"first custom", "second custom", "user index", "mine", "template gif", "web gif"})
        EXPECT_TRUE(has(saved, c)) << c;
    EXPECT_TRUE(has(saved, read_file(kSample + "/quillor.exe")));  // the program the updates installed
}

TEST(NothingLost, UpdateKeepsTheTemplatesWhoseBackupFailed)
{
    // a file too big for the small file system on the backup's way: in the
    // templates, the images or manuals beside them, or the web images
    struct Case {
        std::string mount, big, failed;
    };
    const Case cases[] = {{"bak", "site/tpl/big.tpl", "\\site\\tpl\\"},
                          {"bak/img", "site/tpl/img/big.gif", "img"},
                          {"bak/manuals", "site/tpl/manuals/big.htm", "manuals"},
                          {"bak", "inetpub/wwwroot/pics/big.gif", "\\inetpub\\wwwroot\\pics"}};
    for (const Case &c : cases) {
        Sandbox s;
        RunOptions opt;
        if (!s.mount_tmpfs(c.mount, "256k")) {
            if (e2e::under_wine()) GTEST_SKIP() << "no small file system";
            opt.file_size_limit = 128 * 1024;  // the big file cannot be written anywhere
        }
        install_old(s);
        const std::string big(400 * 1024, 'b');
        e2e::make_dirs(s.at(c.big.substr(0, c.big.rfind('/'))));
        write_file(s.at(c.big), big);
        e2e::Run r = s.run(update_answers(""), opt);
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string why = "update_flow: backup of " + c.failed + " failed, templates not replaced";
        EXPECT_NE(r.out.find("\n" + why + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.log.find(why), std::string::npos) << c.big;
        EXPECT_TRUE(ends_with(r.out, errors(1, "copying") + kDone)) << r.out;
        EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "first custom") << c.big;
        EXPECT_TRUE(read_file(s.at(c.big)) == big) << c.big;
        EXPECT_EQ(read_file(s.at("inetpub/wwwroot/pics/shared.gif")), "web gif") << c.big;
        EXPECT_FALSE(exists(s.at("inetpub/wwwroot/pics/logo.png"))) << c.big;
        EXPECT_FALSE(exists(s.at("site/tpl/img/logo.png"))) << c.big;  // nor what lies beside them
        EXPECT_FALSE(exists(s.at("site/tpl/manuals/index.htm"))) << c.big;
        // the program was still updated
        EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    }
}

TEST(NothingLost, NamesThatDifferOnlyInCaseNeverMeetSilently)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows names are case-blind: such pairs cannot exist";
    Sandbox s;
    install_old(s);
    write_file(s.at("site/tpl/Custom.tpl"), "Mine");
    e2e::make_dirs(s.at("site/tpl/Site"));
    e2e::make_dirs(s.at("site/tpl/site"));
    write_file(s.at("site/tpl/Site/a.tpl"), "upper a");
    write_file(s.at("site/tpl/site/a.tpl"), "lower a");
    e2e::Run r = s.run(lines({"3", "", "", "", "n", "y", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No errors occured\n"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(s.at("site/tpl")));
    std::vector<std::string> saved = contents(s.at("backup"));
    for (const char *c : {"mine", "Mine", "upper a", "lower a"}) EXPECT_TRUE(has(saved, c)) << c;

    // outside a backup, two sources meeting in one target fail that copy
    Sandbox t;
    write_file(t.in_dist("tpl/Index.tpl"), "capital index");
    r = t.run(lines({"1", "", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "copying") + kDone)) << r.out;
    EXPECT_NE(r.log.find("another file of this step was copied there"), std::string::npos) << r.log;
}

TEST(NothingLost, CleanUpNeverTakesWhatThisRunWroteIntoTheDistribution)
{
    // templates installed into the distribution's own tpl folder
    Sandbox s;
    e2e::Run r = s.run(lines({"1", "", "", "", ".\\tpl\\", "", "", "", "n", "", "", "", "", "", "", "", "", "y", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string why = "install_flow: .\\tpl\\ lies in the distribution folder, temporary files not deleted";
    EXPECT_NE(r.out.find("\n" + why + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.log.find(why), std::string::npos);
    EXPECT_TRUE(ends_with(r.out, errors(1, "copying") + kDone)) << r.out;
    EXPECT_EQ(read_file(s.in_dist("tpl/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_TRUE(exists(s.in_dist("quillor.ini")));

    // a removal backed up into the distribution folder
    Sandbox u;
    install_old(u);
    r = u.run(lines({"3", "", "", "", "n", "y", ".\\", "", "y", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("remove_flow: .\\ lies in the distribution folder, temporary files not deleted"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "removing") + kDone)) << r.out;
    EXPECT_EQ(read_file(u.in_dist("index.tpl")), "first custom");
    EXPECT_EQ(read_file(u.in_dist("quillor.exe")), "old exe");
    EXPECT_EQ(read_file(u.in_dist("quillor.exe.~1~")), read_file(kSample + "/quillor.exe"));

    // scripts in a folder of the distribution that no pattern selects: nothing written is at risk
    Sandbox v;
    r = v.run(lines({"1", ".\\cgi\\", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "y", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "errors occured during"), 0) << r.out;
    EXPECT_FALSE(exists(v.in_dist("tpl")));
    EXPECT_EQ(read_file(v.in_dist("cgi/quillor.exe")), read_file(kSample + "/quillor.exe"));
}

TEST(NothingLost, AFileThatStaysIsCountedAndNamed)
{
    Sandbox s;
    if (!s.mount_tmpfs("inetpub/scripts", "256k")) GTEST_SKIP() << "no read-only file system can be made";
    install_old(s);
    if (!s.remount_readonly("inetpub/scripts")) GTEST_SKIP() << "the scripts folder could not be made read-only";
    e2e::Run r = s.run(lines({"3", "", "", "", "n", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "removing") + kDone)) << r.out;
    EXPECT_NE(r.log.find("Error: rmfile: could not remove \\inetpub\\scripts\\quillor.exe"), std::string::npos)
        << r.log;
    EXPECT_NE(r.log.find("Error: rmfile: could not remove \\inetpub\\scripts\\quillor.ini"), std::string::npos);
    EXPECT_FALSE(exists(s.at("site/tpl")));  // the other steps ran
}

// A removal never empties a file system mounted below what it removes, nor
// a folder mounted there a second time: the mount stays, named and counted.
TEST(NothingLost, ARemovalNeverEntersAMountedFolder)
{
    if (e2e::under_wine()) GTEST_SKIP() << "a Linux mount is an ordinary folder to Windows programs";
    Sandbox s;
    install_old(s);
    e2e::make_dirs(s.at("elsewhere"));
    write_file(s.at("elsewhere/keep.txt"), "kept");
    if (!s.mount_bind("elsewhere", "site/tpl/data")) GTEST_SKIP() << "no second mount can be made";
    e2e::Run r = s.run(lines({"3", "", "", "", "n", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.log.find("Error: rmfile: could not remove \\site\\tpl\\data\\ {16="), std::string::npos) << r.log;
    EXPECT_EQ(read_file(s.at("elsewhere/keep.txt")), "kept");
    EXPECT_FALSE(exists(s.at("site/tpl/index.tpl")));  // the rest went
}

// The clean-up of the distribution folder that cannot delete a file counts
// an error: it never ends in "No errors occured".
TEST(NothingLost, ACleanUpThatLeavesAFileCountsIt)
{
    Sandbox s;
    std::filesystem::remove_all(s.in_dist("img"));
    if (!s.mount_tmpfs("dist/img", "256k")) GTEST_SKIP() << "no read-only file system can be made";
    std::filesystem::copy(kSample + "/img", s.in_dist("img"));
    if (!s.remount_readonly("dist/img")) GTEST_SKIP() << "the images folder could not be made read-only";
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "y", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "copying") + kDone)) << r.out;
    EXPECT_NE(r.log.find("Error: rmfile: could not remove .\\img"), std::string::npos) << r.log;
    EXPECT_FALSE(exists(s.in_dist("tpl")));  // the rest of the clean-up went
}

TEST(NothingLost, AnIncompleteDistributionIsAnError)
{
    Sandbox s;
    std::filesystem::remove_all(s.in_dist("manuals"));
    std::filesystem::remove(s.in_dist("quillor.exe"));
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(2, "copying") + kDone)) << r.out;
    EXPECT_NE(r.log.find("Error: copy_tree: quillor.exe not found in .\\"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("Error: copy_tree: source folder .\\manuals\\ does not exist"), std::string::npos);
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));  // the rest went
}

TEST(NothingLost, ANameNoInstallerPathSpellsIsNamedAndCounted)
{
    if (e2e::under_wine()) GTEST_SKIP() << "no Windows name holds a backslash";
    Sandbox s;
    write_file(s.in_dist("tpl/a\\b\nInfo: forged.tpl"), "odd");
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "copying") + kDone)) << r.out;
    EXPECT_NE(r.log.find("Error: dir_walk: cannot handle \"a\\b\\nInfo: forged.tpl\" in .\\tpl\\: no installer"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(count(r.log, "\nInfo: forged"), 0);
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));  // the rest went
}

TEST(NothingLost, ShortFolderNamesCanBeCreated)
{
    Sandbox s;
    e2e::Run r =
        s.run(lines({"1", "\\w\\s", "", "", "\\t\\", "", "", "", "n", "", "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("could not create"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("w/s/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_EQ(read_file(s.at("t/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_TRUE(e2e::is_dir(s.at("t/cache")));
}

}  // namespace

namespace {

// A later copy reaching a backup through another name for its folder (a
// link or a second mount here; a short name or another drive letter on
// Windows) keeps it too.
TEST(NothingLost, ABackupReachedThroughAnotherNameIsKeptToo)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Sandbox s;
    install_old(s);
    e2e::make_dirs(s.at("bak"));
    std::filesystem::create_directory_symlink("bak", s.at("bak_link"));
    e2e::Run r = s.run(update_answers("\\bak_link\\"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(s.at("bak/index.tpl.~1~")), "first custom") << r.log;
    EXPECT_EQ(read_file(s.at("bak/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    // the backup folder is the templates folder mounted a second time
    Sandbox t;
    install_old(t);
    if (!t.mount_bind("site/tpl", "bk")) return;
    r = t.run(lines({"2", "", "", "", "", "", "", "y", "", "\\bk\\", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(t.at("site/tpl/index.tpl.~1~")), "first custom") << r.log;
}

}  // namespace
