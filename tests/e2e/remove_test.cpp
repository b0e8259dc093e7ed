// Remove flow of the real binary over an installation made in the scratch root.
#include <gtest/gtest.h>

#include <filesystem>
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

const std::string kIntro = "\n\n             ** REMOVE **\n\n"
                           "This uninstaller will ask you a series of questions about where Quillor\n"
                           "files are stored.\n" +
                           std::string(e2e::kIntroCommon) +
                           "To see exactly what this program has done, read the file \"install.log\"\n\n";
const char kSuccess[] = "No errors occured\nCheck install.log for details\n\n\nPlease press enter to exit";
const char kWorkarea[] = "Where is your workarea directory?\n";
const char kBackup[] = "Where do you want these files to be backed up to?\n";

std::string errors_line(int n)
{
    return "\n" + std::to_string(n) + " errors occured during removing, check install.log for details\n";
}

// An installation with a work area, and files of the scripts directory
// that belong to other programs.
void install_old(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    e2e::make_dirs(s.at("site/tpl/img"));
    e2e::make_dirs(s.at("site/tpl/cache"));
    e2e::make_dirs(s.at("site/users/alice"));
    e2e::write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    e2e::write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\nworkarea \\site\\users\\\n");
    e2e::write_file(s.at("inetpub/scripts/quillor.log"), "log");
    e2e::write_file(s.at("inetpub/scripts/other.exe"), "other");
    e2e::write_file(s.at("site/tpl/index.tpl"), "tpl");
    e2e::write_file(s.at("site/tpl/img/logo.png"), "png");
    e2e::write_file(s.at("site/tpl/cache/x_1"), "cached");
    e2e::write_file(s.at("site/users/alice/prefs"), "prefs");
    e2e::write_file(s.at("site/users/bob.dat"), "bob");
}

TEST(RemoveFlow, BacksEverythingUpThenRemovesProgramTemplatesAndWorkArea)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"3", "", "", "", "y", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(kIntro), std::string::npos);
    EXPECT_NE(r.out.find(prompt("Where is your templates directory?\n", "\\site\\tpl\\")), std::string::npos);
    EXPECT_NE(r.out.find(prompt(kWorkarea, "\\site\\users\\")), std::string::npos);
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), Files{"other.exe"});
    EXPECT_FALSE(e2e::exists(s.at("site/tpl")));
    EXPECT_FALSE(e2e::exists(s.at("site/users")));
    EXPECT_EQ(list_files(s.at("backup")), (Files{"alice/prefs", "bob.dat", "cache/x_1", "img/logo.png", "index.tpl",
                                                 "quillor.exe", "quillor.ini", "quillor.log"}));
    EXPECT_EQ(read_file(s.at("backup/alice/prefs")), "prefs");
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    EXPECT_EQ(count(r.out, "errors occured during"), 0);
    EXPECT_NE(r.log.find("removed file \\inetpub\\scripts\\quillor.exe"), std::string::npos);
    EXPECT_TRUE(e2e::exists(s.in_dist("quillor.ini")));  // cleanup declined
}

TEST(RemoveFlow, WithoutBackupsOrWorkAreaNothingElseIsAskedOrTouched)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"3", "", "", "", "", "n", "", "", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, kWorkarea), 0);
    EXPECT_EQ(count(r.out, kBackup), 0);
    EXPECT_FALSE(e2e::exists(s.at("backup")));
    EXPECT_EQ(list_files(s.at("site/users")), (Files{"alice/prefs", "bob.dat"}));
    EXPECT_FALSE(e2e::exists(s.at("site/tpl")));
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), Files{"other.exe"});
    EXPECT_EQ(list_files(s.dist), (Files{"install.hlp", "install.log", e2e::program_name()}));
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
}

TEST(RemoveFlow, AFolderGoneBeforeItsTurnCountsOneError)
{
    // templates inside the scripts directory, named like the program: the
    // program's removal takes it, its own removal then finds it missing
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"3", "", "", "\\inetpub\\scripts\\quillor.tpl\\", "", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), Files{"other.exe"});
    EXPECT_TRUE(ends_with(r.out, errors_line(1) + "\nPlease press enter to exit")) << r.out;

    EXPECT_NE(r.log.find("Error: remove_flow: could not remove directory \\inetpub\\scripts\\quillor.tpl\\"),
              std::string::npos)
        << r.log;

    // a work area inside the templates goes with them, and that is no error
    Sandbox t;
    install_old(t);
    e2e::make_dirs(t.at("site/tpl/users"));
    e2e::write_file(t.at("site/tpl/users/carol"), "carol");
    r = t.run(lines({"3", "", "", "", "y", "\\site\\tpl\\users\\", "y", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(e2e::exists(t.at("site/tpl")));
    EXPECT_EQ(read_file(t.at("backup/users/carol")), "carol");
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
}

TEST(RemoveFlow, ANameKeepsNamingTheFolderItNamedWhenAnswered)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows holds no two names that differ only in case";
    // after \quillor\ goes, \quillor\users\ would find Quillor\users case-blind
    Sandbox s;
    install_old(s);
    e2e::make_dirs(s.at("quillor/users"));
    e2e::make_dirs(s.at("Quillor/users"));
    e2e::write_file(s.at("quillor/users/alice"), "alice");
    e2e::write_file(s.at("Quillor/users/precious"), "not ours");
    e2e::Run r = s.run(lines({"3", "", "", "\\quillor\\", "y", "\\quillor\\users\\", "y", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(e2e::exists(s.at("quillor")));
    EXPECT_EQ(read_file(s.at("Quillor/users/precious")), "not ours");
    EXPECT_EQ(list_files(s.at("backup/users")), Files{"alice"});
    EXPECT_NE(r.log.find("remove_flow: \\quillor\\users\\ went with \\quillor\\"), std::string::npos) << r.log;
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
}

TEST(RemoveFlow, NothingInstalledAndInstallChosenEndsWithoutRemoving)
{
    Sandbox s;
    e2e::make_dirs(s.at("quillor"));
    e2e::write_file(s.at("quillor/index.tpl"), "keep");
    e2e::Run r = s.run(lines({"3", "", "", "", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\nload_defaults: cannot open quillor.ini, using standard defaults\n"), std::string::npos);
    EXPECT_TRUE(ends_with(r.out, "Do you want to do install instead of update? [y]: \nPlease press enter to exit"))
        << r.out;
    EXPECT_EQ(count(r.out, "** INSTALL **"), 0);
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), "keep");
    EXPECT_TRUE(e2e::exists(s.in_dist("quillor.exe")));
}

TEST(RemoveFlow, RefusesDriveRootsTheInstallerFolderAndFoldersHoldingTheBackup)
{
    Sandbox s;
    install_old(s);
    e2e::write_file(s.in_dist("notes.txt"), "mine");
    // scripts = the distribution, templates = its parent (the root), work area = a drive root
    e2e::Run r = s.run(lines({"3", ".\\", "", "..\\", "y", "C:\\", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    // the distribution folder lies in the root of its drive: its parent is that root
    EXPECT_NE(r.out.find("\nremove_flow: refusing to delete files in ..\\: it is a drive root\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nremove_flow: refusing to delete files in C:\\: it is a drive root\n"), std::string::npos);
    EXPECT_NE(r.log.find("remove_flow: refusing to delete files in C:\\: it is a drive root"), std::string::npos);
    EXPECT_TRUE(ends_with(r.out, errors_line(2) + "\nPlease press enter to exit")) << r.out;
    // in the scripts folder only what "quillor.*" names goes, even there
    EXPECT_FALSE(e2e::exists(s.in_dist("quillor.ini")));
    EXPECT_TRUE(e2e::exists(s.in_dist(e2e::program_name())));
    EXPECT_EQ(read_file(s.in_dist("notes.txt")), "mine");
    EXPECT_TRUE(e2e::is_dir(s.in_dist("tpl")));
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl");

    // a backup inside the templates would go with them; "\" is a drive root too
    r = s.run(lines({"3", "", "", "\\site\\tpl\\", "y", "\\", "y", "\\site\\tpl\\bak\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("refusing to delete files in \\site\\tpl\\: it holds the backup directory"),
              std::string::npos);
    EXPECT_NE(r.out.find("refusing to delete files in \\: it is a drive root"), std::string::npos);
    EXPECT_TRUE(ends_with(r.out, errors_line(2) + "\nPlease press enter to exit")) << r.out;
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), Files{"other.exe"});  // the rest ran
    EXPECT_EQ(read_file(s.at("site/tpl/bak/quillor.exe")), "exe");
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl");
}

TEST(RemoveFlow, InTheScriptsFolderOnlyWhatThePatternReachesIsRefused)
{
    // a backup made in the scripts folder itself would be what is deleted
    Sandbox t;
    install_old(t);
    e2e::Run r = t.run(lines({"3", "", "", "", "", "y", "\\inetpub\\scripts\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("refusing to delete quillor.* in \\inetpub\\scripts\\: the backup would be made there"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(t.at("inetpub/scripts/quillor.exe")), "exe");
    EXPECT_FALSE(e2e::exists(t.at("site/tpl")));
    EXPECT_TRUE(ends_with(r.out, errors_line(1) + "\nPlease press enter to exit")) << r.out;

    // a backup in a folder of scripts that the pattern does not name is no obstacle
    Sandbox u;
    install_old(u);
    r = u.run(lines({"3", "", "", "", "", "y", "\\inetpub\\scripts\\bak\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    EXPECT_EQ(list_files(u.at("inetpub/scripts")),
              (Files{"bak/cache/x_1", "bak/img/logo.png", "bak/index.tpl", "bak/quillor.exe", "bak/quillor.ini",
                     "bak/quillor.log", "other.exe"}));

    // but one it names is: the backup would go with it
    Sandbox v;
    install_old(v);
    r = v.run(lines({"3", "", "", "", "", "y", "\\inetpub\\scripts\\quillor.bak\\", "", "n", ""}));
    EXPECT_NE(r.out.find("refusing to delete quillor.* in \\inetpub\\scripts\\: a folder it matches holds the "
                         "backup directory"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(v.at("inetpub/scripts/quillor.exe")), "exe");
    EXPECT_EQ(read_file(v.at("inetpub/scripts/quillor.bak/index.tpl")), "tpl");  // the templates' backup
}

TEST(RemoveFlow, ShortOrWildExecutableNamesNeverTakeOtherFiles)
{
    Sandbox s;
    e2e::make_dirs(s.at("inetpub/scripts"));
    for (const char *f : {"q.x", "q.dat", "qq.x", "abc", "abc.ini", "abcd", "other"})
        e2e::write_file(s.at("inetpub/scripts/") + f, "x");
    auto answers = [](const std::string &name, const char *do_install) {
        std::vector<std::string> a = {"3", "", name};
        if (do_install) a.push_back(do_install);
        for (const char *x : {"", "\\t\\", "", "n", "", "n", ""}) a.push_back(x);
        return lines(a);
    };
    // "q.x": the stem before the dot, with ".*"
    e2e::Run r = s.run(answers("q.x", nullptr));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), (Files{"abc", "abc.ini", "abcd", "other", "qq.x"}));
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    // "abc": no extension, so the file itself only
    r = s.run(answers("abc", nullptr));
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), (Files{"abc.ini", "abcd", "other", "qq.x"}));
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    // four characters are cut only when they are an extension: "quillor.pl" takes "quillor.*", never
    // "quillo.*", and "abcd" the file itself
    for (const char *f : {"quillor.pl", "quillor.ini", "quillo.cfg"})
        e2e::write_file(s.at("inetpub/scripts/") + f, "x");
    r = s.run(answers("quillor.pl", nullptr));
    r = s.run(answers("abcd", nullptr));
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), (Files{"abc.ini", "other", "qq.x", "quillo.cfg"}));
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    // the installer's own folder as the scripts folder: a name whose files would be its own is refused
    e2e::write_file(s.in_dist("install.exe"), "x");
    std::filesystem::remove(s.in_dist("quillor.ini"));  // else its program is the one asked about
    r = s.run(lines({"3", ".\\", "install.exe", "", "\\t\\", "", "n", "", "n", ""}));
    EXPECT_NE(r.out.find("refusing to delete install.* in .\\: it would take Quillor Install's own files"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(e2e::exists(s.in_dist("install.log")) && e2e::exists(s.in_dist("install.hlp")));
    // a wildcard, a folder, or nothing before the extension: nothing removed, one error
    e2e::write_file(s.at("inetpub/q.ini"), "x");
    for (const char *name : {"*.x", "..\\q.exe", ".exe"}) {
        r = s.run(answers(name, "n"));
        EXPECT_NE(r.out.find("cannot tell the files of \"" + std::string(name) + "\" from others"), std::string::npos)
            << r.out;
        EXPECT_TRUE(ends_with(r.out, errors_line(1) + "\nPlease press enter to exit")) << r.out;
        EXPECT_EQ(list_files(s.at("inetpub/scripts")).size(), 4u);
    }
    EXPECT_TRUE(e2e::exists(s.at("inetpub/q.ini")));
}

TEST(RemoveFlow, QuitStopsBeforeTheNextStep)
{
    Sandbox s;
    install_old(s);
    e2e::Run r = s.run(lines({"3", "", "", "", "", "Q", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, "Goodbye :-)\n"));
    EXPECT_EQ(list_files(s.at("inetpub/scripts")).size(), 4u);
    EXPECT_TRUE(e2e::exists(s.at("site/tpl/index.tpl")));

    // quit at the cleanup question: removed already, but no summary
    r = s.run(lines({"3", "", "", "", "", "n", "", "Q", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(e2e::exists(s.at("site/tpl")));
    EXPECT_EQ(count(r.out, "errors occured during"), 0);
    EXPECT_EQ(count(r.out, "Check install.log"), 0);
    EXPECT_TRUE(e2e::exists(s.in_dist("quillor.ini")));
}

}  // namespace
