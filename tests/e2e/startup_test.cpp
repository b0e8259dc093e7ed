// Start-up, folder check and main menu of the real binary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "harness.h"

using e2e::count;
using e2e::Sandbox;

namespace {

const char kBanner[] = "\n\n***** Quillor Installer *****\n\n";
const char kMenu[] = "Would you like to:\n(1)\tInstall Quillor\n(2)\tUpdate an older version of Quillor\n"
                     "(3)\tRemove Quillor from your system\n\n(0)\texit\n\nEnter 1,2,3?";
const char kReject[] = "please choose a value 0,1,2 or 3\n";

TEST(Menu, ZeroSaysGoodbyeAndLeavesAWellFormedLog)
{
    Sandbox s;
    auto r = s.run("0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(kBanner) + kMenu + "\n\nGoodbye :-)\n");
    EXPECT_EQ(r.log, "\n\nQuillor installer log\n");
}

TEST(Menu, InvalidChoicesRepeatTheMenuWithoutTheBanner)
{
    Sandbox s;
    auto r = s.run("Q\n\n 1\n9\nexit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, "***** Quillor Installer *****"), 1);
    EXPECT_EQ(count(r.out, kReject), 4);
    EXPECT_EQ(count(r.out, "Enter 1,2,3?"), 5);
    EXPECT_NE(r.out.find("Goodbye :-)\n"), std::string::npos);
}

TEST(Menu, ExitWordsInAnyCase)
{
    Sandbox s;
    for (const char *word : {"e\n", "E\n", "Exit\n", "exit now\n"}) {
        auto r = s.run(word);
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(count(r.out, "Goodbye :-)\n"), 1) << word;
    }
}

TEST(Menu, OnlyTheFirstCharacterCounts)
{
    Sandbox s;
    auto r = s.run("2x\n");
    EXPECT_NE(r.out.find("** UPDATE **"), std::string::npos);
}

TEST(Menu, EndOfInputStopsWithAnErrorAndALogEntry)
{
    Sandbox s;
    auto r = s.run("7\n", "", 10);
    EXPECT_FALSE(r.timed_out);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(count(r.out, kReject), 1);
    EXPECT_EQ(r.out.find("Goodbye"), std::string::npos);
    EXPECT_NE(r.log.find("end of input"), std::string::npos) << r.log;
}

TEST(FolderCheck, StartedFromAnotherFolderShowsTheNoticeAndLeavesNoProbe)
{
    Sandbox s;
    std::string other = s.at("elsewhere");
    e2e::make_dirs(other);
    auto r = s.run("\n", other);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\nQuillor Install must be run from inside the Quillor temporary files folder\n"
                     "This folder must be the current directory");
    EXPECT_EQ(e2e::list_files(other), std::vector<std::string>{"install.log"});
    for (const auto &f : e2e::list_files(s.dist)) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;

    // End of input at the notice's wait ends the run normally as well.
    r = s.run("", other);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.timed_out);
}

TEST(FolderCheck, AFolderNamedOutsideTheCodePagePasses)
{
    Sandbox s;
    e2e::RunOptions opt;
    opt.cwd = s.at("\xE5\x88\x86\xE5\x8F\x91");  // no ANSI code page of the West holds it
    opt.command = {opt.cwd + "/" + e2e::program_name()};
    e2e::make_dirs(opt.cwd);
    e2e::write_file(opt.command[0], e2e::read_file(s.exe));
    chmod(opt.command[0].c_str(), 0755);
    EXPECT_EQ(s.run("0\n", opt).out, std::string(kBanner) + kMenu + "\n\nGoodbye :-)\n");
}

TEST(FolderCheck, UnwritableCurrentDirectoryIsReported)
{
    Sandbox s;
    std::string ro = s.at("readonly");
    e2e::make_dirs(ro);
    e2e::RunOptions opt;
    opt.cwd = ro;
    if (geteuid() == 0) {
        if (!e2e::can_run_as_nobody()) GTEST_SKIP() << "root writes everywhere";
        s.give_to_nobody();
        opt.as_nobody = true;
    }
    chmod(ro.c_str(), 0555);
    auto r = s.run("\n", opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nERROR: no write access to current directory\n"
                     "\n\nQuillor Install must be run from inside the Quillor temporary files folder\n"
                     "This folder must be the current directory");
    EXPECT_TRUE(e2e::list_files(ro).empty());
}

TEST(HostDefaults, NewsHostOffersTheComputerName)
{
    char host[256] = "";
    gethostname(host, sizeof host);
    std::string expect = strlen(host) > 0 && strlen(host) <= 63 ? host : "NONAME";
    const char *named = getenv("QUILLOR_E2E_COMPUTERNAME");  // for Windows: the registry's name
    if (named && *named) expect = named;
    Sandbox s;
    auto r = s.run("1\n\n", "", 10);
    EXPECT_NE(r.out.find("What is the IP address / name of your newshost?\n [" + expect + "]: "), std::string::npos)
        << r.out;
}

}  // namespace
