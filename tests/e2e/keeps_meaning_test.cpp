// Runs in which a removal used to delete more than it saved, an update used
// to clear or overwrite the administrator's own files, or the configuration
// rewrite used to change what a line means.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

using e2e::ends_with;
using e2e::exists;
using e2e::lines;
using e2e::list_files;
using e2e::read_file;
using e2e::Sandbox;
using e2e::write_file;
using Files = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kSuccess[] = "No errors occured\nCheck install.log for details\n\n\nPlease press enter to exit";

std::string errors(int n, const char *during)
{
    return "\n" + std::to_string(n) + " errors occured during " + during +
           ", check install.log for details\n\nPlease press enter to exit";
}

void installed(const Sandbox &s, const std::string &ini)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), ini);
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "my index");
    e2e::make_dirs(s.at("inetpub/wwwroot/pics"));
}
const char kIni[] = "templates \\site\\tpl\\\ncache_dir \\site\\cache\\\nqlimg /pics\n";

// Install answers with the given SCRIPTS, NEWSHOST, TEMPLATES and QLIMG
// answers (more than one each when a refused one is asked again).
std::string install(const std::vector<std::string> &head, const std::vector<std::string> &rest = {})
{
    std::vector<std::string> a = {"1"};
    a.insert(a.end(), head.begin(), head.end());
    a.insert(a.end(), rest.begin(), rest.end());
    for (int i = 0; i < 7; i++) a.push_back("");  // authentication and its change question
    a.push_back("n");                             // no clean-up
    a.push_back("");
    return lines(a);
}

TEST(RemoveSavesAll, MatchingFoldersWholeTheFoldersCopiesNeedAndLinksAsLinks)
{
    Sandbox s;
    installed(s, kIni);
    e2e::make_dirs(s.at("inetpub/scripts/Quillor.old"));
    write_file(s.at("inetpub/scripts/Quillor.old/quillor.ini"), "older ini");
    write_file(s.at("inetpub/scripts/Quillor.old/notes.txt"), "notes");
    e2e::make_dirs(s.at("inetpub/scripts/old"));
    write_file(s.at("inetpub/scripts/old/quillor.ini"), "kept ini");
    bool links = !e2e::under_wine();  // Windows programs see no POSIX links
    if (links) {
        e2e::make_dirs(s.at("elsewhere"));
        write_file(s.at("elsewhere/precious"), "precious");
        fs::create_directory_symlink("../../elsewhere", s.at("site/tpl/shared"));
    }
    e2e::Run r = s.run(lines({"3", "", "", "", "n", "y", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, kSuccess)) << r.out;
    EXPECT_EQ(read_file(s.at("backup/Quillor.old/notes.txt")), "notes");
    EXPECT_EQ(read_file(s.at("backup/Quillor.old/quillor.ini")), "older ini");
    EXPECT_EQ(read_file(s.at("backup/old/quillor.ini")), "kept ini");
    EXPECT_EQ(read_file(s.at("backup/index.tpl")), "my index");
    EXPECT_FALSE(exists(s.at("inetpub/scripts/Quillor.old")));
    EXPECT_EQ(read_file(s.at("inetpub/scripts/old/quillor.ini")), "kept ini");  // not matched: stays
    EXPECT_FALSE(exists(s.at("site/tpl")));
    if (links) {
        EXPECT_TRUE(fs::is_symlink(s.at("backup/shared")));
        EXPECT_EQ(fs::read_symlink(s.at("backup/shared")), "../../elsewhere");
        EXPECT_EQ(read_file(s.at("elsewhere/precious")), "precious");
    }
}

TEST(UpdateKeepsTheAdministratorsFiles, CacheCleanUpNeverRunsInTheTemplates)
{
    Sandbox s;
    struct Case {
        std::string cache, folder, why;  // folder: the cache's own, from the root
    };
    std::vector<Case> cases = {{"\\site\\tpl\\", "site/tpl", "it holds the templates directory"},
                               {"\\inetpub\\", "inetpub", "it holds the scripts directory"},
                               {"\\dist\\", "dist", "it holds Quillor Install's own folder"}};
    if (!e2e::under_wine()) {  // a link to a folder above the root (Windows programs see no POSIX links)
        fs::create_directory_symlink(s.top, s.at("up"));
        cases.push_back({"\\up\\", "..", "it is a drive root"});
    }
    for (const Case &c : cases) {
        installed(s, "templates \\site\\tpl\\\ncache_dir " + c.cache + "\nqlimg /pics\n");
        write_file(s.at(c.folder + "/groups.dat"), "my groups");
        e2e::make_dirs(s.at(c.folder + "/msg"));
        write_file(s.at(c.folder + "/msg/a"), "a message");
        e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "n", "n", "", "n", ""}));
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string why = "del_cache: refusing to delete cache files in " + c.cache + ": " + c.why;
        EXPECT_NE(r.out.find("\n" + why + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.log.find(why), std::string::npos) << c.cache;
        EXPECT_TRUE(ends_with(r.out, errors(1, "copying"))) << r.out;
        EXPECT_EQ(read_file(s.at(c.folder + "/groups.dat")), "my groups") << c.cache;
        EXPECT_EQ(read_file(s.at(c.folder + "/msg/a")), "a message") << c.cache;
    }
}

TEST(UpdateKeepsTheAdministratorsFiles, ImagesAndManualsAreBackedUpAndOriginalsNeverReplaceTemplates)
{
    Sandbox s;
    installed(s, kIni);
    e2e::make_dirs(s.at("site/tpl/img"));
    write_file(s.at("site/tpl/img/logo.png"), "my logo");
    e2e::make_dirs(s.at("site/tpl/manuals"));
    write_file(s.at("site/tpl/manuals/index.htm"), "my manual");
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "y", "", "\\bak\\", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("errors occured during"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("bak/img/logo.png")), "my logo");
    EXPECT_EQ(read_file(s.at("bak/manuals/index.htm")), "my manual");
    EXPECT_EQ(read_file(s.at("site/tpl/img/logo.png")), read_file(kSample + "/img/logo.png"));

    // the pristine copy aimed at the templates themselves is not made
    write_file(s.at("site/tpl/index.tpl"), "customised again");
    r = s.run(lines({"2", "", "", "", "", "", "", "n", "y", "\\site\\tpl\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("update_flow: \\site\\tpl\\ is the templates directory, the default templates are not "
                         "copied there"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(ends_with(r.out, errors(1, "copying"))) << r.out;
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "customised again");

    // right after the templates were replaced by the same files it has nothing to do: no error
    r = s.run(lines({"2", "", "", "", "", "", "", "y", "n", "y", "\\site\\tpl\\", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("errors occured during"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
}

TEST(AmbiguousNames, AFolderNameMatchingTwoFoldersIsRefusedAndAskedAgain)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows names are case-blind: such pairs cannot exist";
    Sandbox s;
    e2e::make_dirs(s.at("Quillor"));
    e2e::make_dirs(s.at("quillor"));
    e2e::Run r = s.run(install({"", "", "", "\\QUILLOR\\", "\\site\\", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\ndirectory_test: \\QUILLOR\\ names more than one folder whose names differ only in case\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(list_files(s.at("Quillor")), Files{});
    EXPECT_EQ(list_files(s.at("quillor")), Files{});
    EXPECT_EQ(read_file(s.at("site/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
}

TEST(ConfigurationKeepsItsMeaning, LongLinesHostSectionsContinuationsAndAnswers)
{
    Sandbox s;
    const std::string long_line = "motd " + std::string(600, 'm') + " domain zzz " + std::string(100, 'n');
    write_file(s.in_dist("quillor.ini"), read_file(kSample + "/quillor.ini") + long_line +
                                             "\nvhost alpha\ntemplates \\alpha\\\ndomain alpha.example\nvend\n"
                                             "banner a /\n  domain b\n");
    e2e::Run r = s.run(install({"", "news.example.org /", "news.example.org", "", "", "", "", " /qlimg2 ", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("none_test: the answer may not end in \" /\""), std::string::npos) << r.out;
    const std::string ini = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_NE(ini.find("\n" + long_line + "\n"), std::string::npos);
    EXPECT_NE(ini.find("\nvhost alpha\ntemplates \\alpha\\\ndomain alpha.example\nvend\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("\nbanner a /\n  domain b\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("\nnewshost news.example.org\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("\nqlimg /qlimg2\n"), std::string::npos) << ini;
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/qlimg2")).size(), 4u);
}

// The names that went from a watched folder (renamed away or deleted).
std::string names_gone(int fd)
{
    std::string gone;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        for (ssize_t i = 0; i < n; i += (ssize_t)sizeof(inotify_event) + ((inotify_event *)(buf + i))->len)
            gone += " " + std::string(((inotify_event *)(buf + i))->name) + " ";
    close(fd);
    return gone;
}

TEST(ConfigurationKeepsItsMeaning, InstallingOverAnInstallationKeepsItsConfiguration)
{
    Sandbox s;
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.ini"), "my own settings\n");
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, s.at("inetpub/scripts").c_str(), IN_MOVED_FROM | IN_DELETE), 0);
    e2e::Run r = s.run(install({"", "n", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(names_gone(watch).find(" quillor.ini "), std::string::npos) << "the configuration was missing a while";
    EXPECT_NE(r.out.find("\ninstall_flow: the installed \\inetpub\\scripts\\quillor.ini is kept as "
                         "\\inetpub\\scripts\\quillor.ini.~1~\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini.~1~")), "my own settings\n");
    EXPECT_NE(read_file(s.at("inetpub/scripts/quillor.ini")).find("templates \\quillor\\"), std::string::npos);
    EXPECT_EQ(r.out.find("errors occured during"), std::string::npos) << r.out;
}

TEST(Startup, AnEmptyQuillorRootIsRefusedBeforeAnythingIsWritten)
{
    if (e2e::under_wine()) GTEST_SKIP() << "QUILLOR_ROOT means nothing to the Windows program";
    Sandbox s;
    std::string cmd =
        "cd '" + s.dist + "' && QUILLOR_ROOT= ./" + e2e::program_name() + " </dev/null >out.txt 2>err.txt";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(read_file(s.in_dist("out.txt")), "");
    const std::string err = read_file(s.in_dist("err.txt"));
    EXPECT_EQ(e2e::count(err, "\n"), 1);
    EXPECT_EQ(err.find("QUILLOR_ROOT is set but empty"), 0u) << err;
    EXPECT_FALSE(exists(s.in_dist("install.log")));
}

}  // namespace
