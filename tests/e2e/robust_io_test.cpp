// The installer's own files under hostile conditions: sources that are
// devices, files it writes that are pipes or links planted beforehand,
// answers that climb out of the drive with "..", a second installer in the
// same folder, and an interruption in the middle of a copy.  Whatever is
// planted, the run ends, touches nothing outside its drive and leaves no
// half-made file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::exists;
using e2e::lines;
using e2e::list_files;
using e2e::read_file;
using e2e::Sandbox;
using e2e::write_file;
using Files = std::vector<std::string>;

namespace {

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kNoErrors[] = "No errors occured";

// Enter everywhere, keeping the distribution (as in the disk fault tests).
const std::string kInstall = lines({"1", "", "", "", "", "", "", "",  "", "", "",  //
                                    "",  "", "", "", "", "", "", "n", ""});

std::string copy_errors(int n)
{
    return "\n" + std::to_string(n) + " errors occured during copying, check install.log for details\n";
}

bool no_temporary_files(const std::string &dir)
{
    for (const std::string &f : list_files(dir))
        if (f.find("~qcp") != std::string::npos || f.find("tempquillor") != std::string::npos) return false;
    return true;
}

// ---- only regular files are read ----

TEST(OnlyRegularFiles, DeviceSourcesAreRefusedAndNamedInTheLog)
{
    if (!exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    Sandbox s;
    ASSERT_EQ(symlink("/dev/zero", s.in_dist("tpl/zero").c_str()), 0);
    e2e::Run r = s.run(kInstall, "", 20);
    ASSERT_FALSE(r.timed_out) << "a device was read for ever";
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(copy_errors(1)), std::string::npos) << r.out;  // the templates step
    EXPECT_NE(r.log.find("could not copy .\\tpl\\zero to \\quillor\\zero"), std::string::npos) << r.log;
    EXPECT_FALSE(exists(s.at("quillor/zero")));
    EXPECT_TRUE(no_temporary_files(s.at("quillor")));
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
}

TEST(OnlyRegularFiles, ConfigurationValueFileAndHelpThatAreDevicesAreRefused)
{
    if (!exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    {  // the configuration itself
        Sandbox s;
        ASSERT_EQ(unlink(s.in_dist("quillor.ini").c_str()), 0);
        ASSERT_EQ(symlink("/dev/zero", s.in_dist("quillor.ini").c_str()), 0);
        e2e::Run r = s.run(kInstall, "", 20);
        ASSERT_FALSE(r.timed_out) << "the configuration was read for ever";
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\nload_defaults: cannot open quillor.ini, using standard defaults\n"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\nset_ini: could not open file .\\quillor.ini to read\n"), std::string::npos) << r.out;
        EXPECT_NE(r.log.find("Cannot open file 'quillor.ini'"), std::string::npos) << r.log;
        EXPECT_LT(r.log.size(), 20000u);
    }
    {  // a value file, and the help asked for at the first question
        Sandbox s;
        ASSERT_EQ(symlink("/dev/zero", s.in_dist("zero").c_str()), 0);
        write_file(s.in_dist("quillor.ini"), read_file(s.in_dist("quillor.ini")) + "newshost |.\\zero\n");
        ASSERT_EQ(unlink(s.in_dist("install.hlp").c_str()), 0);
        ASSERT_EQ(symlink("/dev/zero", s.in_dist("install.hlp").c_str()), 0);
        e2e::Run r = s.run(lines({"1", "?", "", "Q", "y"}), "", 20);
        ASSERT_FALSE(r.timed_out) << "a device was read for ever";
        EXPECT_NE(r.log.find("Cannot open value file '.\\zero'"), std::string::npos) << r.log;
        EXPECT_NE(r.log.find("help_open: cannot open .\\install.hlp"), std::string::npos) << r.log;
        EXPECT_LT(r.log.size(), 20000u);
    }
}

// ---- files written: never a pipe, never through a link ----

TEST(WrittenFiles, PipesInPlaceOfTheLogOrTheTemporaryConfigurationNeverBlock)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX pipes";
    Sandbox ref_box;
    e2e::Run ref = ref_box.run(kInstall);
    {
        Sandbox s;
        ASSERT_EQ(mkfifo(s.in_dist("install.log").c_str(), 0600), 0);
        e2e::Run r = s.run(kInstall, "", 20);
        ASSERT_FALSE(r.timed_out) << "opening the log waited on a pipe";
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.out, ref.out);  // as a log that cannot be opened
    }
    {
        Sandbox s;
        ASSERT_EQ(mkfifo(s.in_dist("tempquillor.ini").c_str(), 0600), 0);
        e2e::Run r = s.run(kInstall, "", 20);
        ASSERT_FALSE(r.timed_out) << "the configuration rewrite waited on a pipe";
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.out, ref.out);
        EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(ref_box.in_dist("quillor.ini")));
        EXPECT_FALSE(exists(s.in_dist("tempquillor.ini")));
    }
}

TEST(WrittenFiles, PlantedTemporaryConfigurationLinkIsRemovedNotFollowed)
{
    // Wine shows a POSIX link to a Windows program as the file it names, and
    // deleting the link's name deletes that file: nothing to test there.
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Sandbox s;
    const std::string outside = s.top + "/victim.txt";
    write_file(outside, "precious\n");
    ASSERT_EQ(symlink(outside.c_str(), s.in_dist("tempquillor.ini").c_str()), 0);
    e2e::Run r = s.run(kInstall);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(kNoErrors), std::string::npos) << r.out;
    EXPECT_EQ(read_file(outside), "precious\n");
    struct stat st;
    ASSERT_EQ(lstat(s.in_dist("quillor.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the configuration became a link";
    EXPECT_NE(read_file(s.in_dist("quillor.ini")).find("templates \\quillor\\"), std::string::npos);
    EXPECT_FALSE(exists(s.in_dist("tempquillor.ini")));
}

// ---- ".." never leaves the drive ----

// Installs with the templates folder answered `templates`, the images URL
// answered `url`, and checks where they land.
e2e::Run install_at(const Sandbox &s, const std::string &templates, const std::string &url)
{
    return s.run(lines({"1", "", "", "", templates, "", "", url, "", "", "",  //
                        "",  "", "", "", "",        "", "", "n", ""}));
}

TEST(DotDot, AnswersThatClimbStopAtTheDriveRoot)
{
    struct Case {
        std::string templates, lands;
    };
    const Case cases[] = {
        {"\\..\\x\\", "x"},   {"\\a\\..\\..\\..\\b\\", "b"},
        {"C:\\..\\y\\", "y"},  // the sandbox's own drive letter under Wine
        {"/../../z/", "z"},   {".\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\w\\", "w"},
    };
    for (Case c : cases) {
        Sandbox s;
        if (!s.drive.empty() && c.templates[1] == ':') c.templates = s.drive + c.templates.substr(2);
        e2e::Run r = install_at(s, c.templates, "");
        ASSERT_EQ(r.status, 0) << c.templates << r.out;
        EXPECT_NE(r.out.find(kNoErrors), std::string::npos) << c.templates << r.out;
        EXPECT_EQ(read_file(s.at(c.lands + "/index.tpl")), read_file(kSample + "/tpl/index.tpl")) << c.templates;
        // nothing beside the scratch root: it holds only root/
        EXPECT_EQ(list_files(s.top).size(), list_files(s.root).size()) << c.templates;
    }
}

TEST(DotDot, ImagesUrlThatClimbsStaysUnderTheDriveRoot)
{
    Sandbox s;
    e2e::Run r = install_at(s, "", "/../../..");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(kNoErrors), std::string::npos) << r.out;
    EXPECT_EQ(list_files(s.top).size(), list_files(s.root).size());  // nothing outside the drive
}

// ---- one installer per folder ----

TEST(OneInstaller, ASecondInstallerInTheSameFolderTouchesNothing)
{
    Sandbox s;
    Sandbox::Started first = s.start();
    // the first one waits at its menu, its folder check done
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (read_file(first.out_path).find("Enter 1,2,3?") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        usleep(20000);
    const std::string log_before = read_file(s.in_dist("install.log"));
    ASSERT_FALSE(log_before.empty());
    Files before = list_files(s.dist);

    e2e::Run second = s.run(kInstall);
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.out, "");
    std::string err = second.err;  // the Windows program ends its line with CRLF
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_EQ(err, "Another Quillor Install is running in this folder\n");
    EXPECT_EQ(read_file(s.in_dist("install.log")), log_before);
    EXPECT_EQ(list_files(s.dist), before);
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(kSample + "/quillor.ini"));

    // the first one goes on undisturbed, and a third may run once it is done
    ASSERT_EQ(write(first.in, "0\n", 2), 2);
    e2e::Run r1 = s.finish(first);
    EXPECT_EQ(r1.status, 0);
    EXPECT_NE(r1.out.find("Goodbye :-)"), std::string::npos) << r1.out;
    e2e::Run third = s.run(kInstall);
    EXPECT_EQ(third.status, 0);
    EXPECT_NE(third.out.find(kNoErrors), std::string::npos) << third.out;
    EXPECT_FALSE(exists(s.in_dist("install.lck")));
}

// ---- the console ----

// Closed at start, standard input and output get the null device: the lock
// file and the log never take their numbers, so no console text lands there.
TEST(Console, ClosedStandardDescriptorsLeaveTheLogToItself)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Wine's own descriptors take the closed numbers before the program starts";
    Sandbox s;
    write_file(s.in_dist("install.txt"), read_file(kSample + "/answers/install.txt"));
    for (int i = 0; i < 1500; i++) write_file(s.in_dist("tpl/f" + std::to_string(i)), "");  // dots past a buffer
    e2e::RunOptions o;
    o.no_stdin = o.no_stdout = true;
    o.timeout_s = 120;
    o.args = {"--answers", "install.txt"};
    e2e::Run r = s.run("", o);
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(count(r.log, "Would you like to"), 0) << r.log;
    EXPECT_TRUE(exists(s.at("inetpub/scripts/quillor.ini")));
}

// A console nobody reads any more loses the console, not the run: the job
// is done, and the log says once that console output was lost.
TEST(Console, APipeNobodyReadsLosesOnlyTheConsole)
{
    Sandbox s;
    e2e::RunOptions o;
    o.stdout_unread = true;
    e2e::Run r = s.run(kInstall, o);
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(count(r.log, "console output lost"), 1) << r.log;
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/qlimg")).size(), list_files(s.in_dist("img")).size());
}

// ---- interruption ----

// Waits until a copy starts: its temporary file appears in the watched
// target folder, or its source, big.dat, is opened; false after timeout.
bool wait_for_copy(int fd, int timeout_ms)
{
    char buf[4096];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = read(fd, buf, sizeof buf);
        for (ssize_t i = 0; i < n;) {
            auto *e = reinterpret_cast<struct inotify_event *>(buf + i);
            if ((e->mask & IN_OPEN) || (e->len && std::string(e->name).find("~qcp") == 0)) return true;
            i += (ssize_t)sizeof *e + e->len;
        }
    }
    return false;
}

TEST(Interruption, ATerminatingSignalMidCopyLeavesNoTemporaryFileAndIsLogged)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        // Wine ends the program itself on SIGTERM and SIGHUP: no console
        // control event reaches it, so nothing is cleaned up or logged
        if (e2e::under_wine() && (sig == SIGTERM || sig == SIGHUP)) continue;
        Sandbox s;
        const std::string big = s.in_dist("tpl/big.dat");
        ASSERT_EQ(truncate((write_file(big, "x"), big).c_str(), 256LL << 20), 0);  // sparse: quick to read
        e2e::make_dirs(s.at("quillor"));
        int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_GE(inotify_add_watch(fd, s.at("quillor").c_str(), IN_CREATE), 0);
        ASSERT_GE(inotify_add_watch(fd, big.c_str(), IN_OPEN), 0);
        Sandbox::Started p = s.start();
        ASSERT_EQ(write(p.in, kInstall.data(), kInstall.size()), (ssize_t)kInstall.size());
        bool seen = wait_for_copy(fd, 30000);
        close(fd);
        if (seen) kill(p.pid, sig);
        e2e::Run r = s.finish(p);
        ASSERT_TRUE(seen) << "no copy started" << r.out;
        EXPECT_FALSE(exists(s.at("quillor/big.dat"))) << sig << ": half-written under its own name";
        EXPECT_EQ(count(r.out, kNoErrors), 0);
        if (sig == SIGKILL) {  // nothing cleans up: an unnamed file goes with the process
            EXPECT_TRUE(e2e::under_wine() || no_temporary_files(s.at("quillor")));
            continue;
        }
        EXPECT_EQ(r.status, e2e::under_wine() ? r.status : 130) << sig;
        EXPECT_NE(r.status, 0) << sig;
        EXPECT_TRUE(e2e::ends_with(r.log, "] Info: interrupted\n")) << sig << r.log;
        EXPECT_TRUE(no_temporary_files(s.at("quillor"))) << sig;
        EXPECT_FALSE(exists(s.in_dist("install.lck"))) << sig;
    }
}

// Leftovers of a killed run bearing the installer's own temporary names go
// in the next run, one log line each; an administrator's file that only
// looks like one stays.
TEST(Interruption, LeftoverTemporaryFilesAreRemovedByTheNextRun)
{
    Sandbox s;
    const Files left = {"quillor/~qcp77_3.tmp", "inetpub/scripts/~qcp77_4.tmp", "dist/tempquillor.ini"};
    e2e::make_dirs(s.at("quillor"));
    e2e::make_dirs(s.at("inetpub/scripts"));
    for (const std::string &f : left) write_file(s.at(f), "half");
    write_file(s.at("quillor/~qcp_x.tmp"), "mine");
    e2e::Run r = s.run(kInstall);
    EXPECT_NE(r.out.find(kNoErrors), std::string::npos) << r.out;
    EXPECT_EQ(count(r.log, "left over by an interrupted run"), 3) << r.log;
    for (const std::string &f : left) EXPECT_FALSE(exists(s.at(f))) << f;
    EXPECT_TRUE(exists(s.at("quillor/~qcp_x.tmp")));
}

}  // namespace
