// All or nothing: with --rollback a job that fails, is interrupted or is
// killed leaves every file as it was before it started (the log aside).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using e2e::Sandbox;

// Every entry below the root but the log and the answers: kind, mode and contents.
std::map<std::string, std::string> state(const Sandbox &s)
{
    return e2e::tree_state(s.root, false, {"dist/install.log", "dist/job.txt"});
}

// What differs between two states, for the failure message.
std::string differences(const std::map<std::string, std::string> &a, const std::map<std::string, std::string> &b)
{
    std::string d;
    for (const auto &[rel, what] : a)
        if (!b.count(rel) || b.at(rel) != what) d += "  was: " + rel + "\n";
    for (const auto &[rel, what] : b)
        if (!a.count(rel)) d += "  new: " + rel + "\n";
    return d;
}

e2e::Run run_job(const Sandbox &s, const std::string &job, bool rollback)
{
    e2e::write_file(s.in_dist("job.txt"), e2e::read_file(std::string(QUILLOR_SAMPLE_DIR) + "/answers/" + job));
    e2e::RunOptions o;
    o.args = {"--answers", "job.txt"};
    if (rollback) o.args.push_back("--rollback");
    o.no_stdin = true;
    return s.run("", o);
}

// A file that cannot be moved: a file mounted over it (root only).
bool pinned(const Sandbox &s, const std::string &rel)
{
    std::string cmd = "mount --bind '" + s.in_dist("quillor.ini") + "' '" + s.at(rel) + "' 2>/dev/null";
    return system(cmd.c_str()) == 0;
}

struct failure_point {
    const char *name, *job;
    bool installed;       // an install without --rollback runs first
    const char *blocker;  // made a folder, in the way of a file the job writes; or pinned (remove)
};

const failure_point kPoints[] = {
    {"the program", "update.txt", true, "inetpub/scripts/quillor.exe/x"},
    {"mid-templates, after the backup", "update.txt", true, "quillor/login.tpl/x"},
    {"after the templates", "update.txt", true, "quillor/manuals/install.htm/x"},
    {"an install, at the configuration rewrite", "install.txt", false, "dist/tempquillor.ini/x"},
    {"a remove, one file that cannot be removed", "remove.txt", true, "quillor/originals/login.tpl"},
};

TEST(Rollback, AJobThatFailsPartWayPutsBackEverythingItChanged)
{
    for (const failure_point &f : kPoints) {
        Sandbox s;
        if (f.installed) {
            ASSERT_EQ(run_job(s, "install.txt", false).status, 0) << f.name;
            e2e::write_file(s.at("quillor/~qcp1_1.tmp"), "an earlier killed run's");  // cleared, then put back
        }
        if (std::string(f.job) == "remove.txt") {
            if (e2e::under_wine() || !pinned(s, f.blocker)) continue;  // needs a mount
        } else {
            fs::remove(s.at(fs::path(f.blocker).parent_path().string()));  // the file that was there
            e2e::make_dirs(s.at(f.blocker));
        }
        const auto before = state(s);
        e2e::Run r = run_job(s, f.job, true);
        EXPECT_EQ(r.status, 1) << f.name << "\n" << r.out;
        EXPECT_EQ(differences(before, state(s)), "") << f.name;
        EXPECT_NE(r.out.find("changes of this run were put back"), std::string::npos) << f.name << r.out;
        EXPECT_NE(r.log.find("changes of this run were put back"), std::string::npos) << f.name;
        if (std::string(f.job) == "remove.txt") system(("umount '" + s.at(f.blocker) + "'").c_str());
        if (&f != &kPoints[1]) continue;
        EXPECT_EQ(run_job(s, f.job, false).status, 1);  // without it the job goes on past the error
        EXPECT_NE(state(s), before) << f.name;
    }
}

// A kept run whose end cannot remove a folder it emptied (the templates
// folder is a mount point) says so and counts it: never "No errors occured".
TEST(Rollback, AKeptRunThatCannotFinishItsRemovalsCountsAnError)
{
    Sandbox s;
    if (e2e::under_wine() || !s.mount_tmpfs("quillor", "1m")) GTEST_SKIP() << "needs a mount";
    ASSERT_EQ(run_job(s, "install.txt", false).status, 0);
    e2e::Run r = run_job(s, "remove.txt", true);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("\n1 errors occured during removing, check install.log"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rollback: the run is kept, but not all it set aside went"), std::string::npos) << r.out;
    EXPECT_FALSE(e2e::exists(s.at("quillor/index.tpl")));  // kept: what could go went
}

// A killed run's journal that cannot be put back whole makes the unattended
// run that follows end with status 1, however its own job went.
TEST(Rollback, ARecoveryThatLeavesAChangeMakesTheStatusOne)
{
    if (e2e::under_wine()) GTEST_SKIP() << "the journal names this system's own paths";
    Sandbox s;
    e2e::write_file(s.at("made.txt"), "changed since");
    e2e::write_file(s.in_dist("install.jnl"),
                    "# quillor journal 1\nF\t1\t" + s.at("made.txt") + "\t\nm\t1\t1\t1\t1\t1\t1\n");
    e2e::Run r = run_job(s, "install.txt", false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("No errors occured"), std::string::npos) << r.out;
    EXPECT_EQ(e2e::read_file(s.at("made.txt")), "changed since");
    EXPECT_TRUE(e2e::exists(s.in_dist("install.jnl.failed")));
}

// An interactive run with --rollback ends as an unattended one does: status
// 1 after errors, 2 after a stop by Q; either way nothing is kept.
TEST(Rollback, AnInteractiveRunTellsItsErrorsAndStopsByItsStatus)
{
    Sandbox s;
    e2e::make_dirs(s.at("quillor/login.tpl/x"));  // a folder where a template goes
    const auto before = state(s);
    e2e::RunOptions o;
    o.args = {"--rollback"};
    e2e::Run r = s.run(e2e::lines({"1", "", "", "", "", "", "", "", "n", "", "", "", "", "", "", "", "", "n", ""}), o);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(differences(before, state(s)), "");
    r = s.run(e2e::lines({"1", "", "", "", "", "", "", "", "Q", "y"}), o);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(differences(before, state(s)), "");
}

// Waits until the sparse source file is opened by the copy.
bool copy_started(const std::string &big)
{
    int fd = inotify_init1(IN_CLOEXEC);
    bool seen = fd >= 0 && inotify_add_watch(fd, big.c_str(), IN_OPEN) >= 0;
    char buf[4096];
    seen = seen && read(fd, buf, sizeof buf) > 0;
    if (fd >= 0) close(fd);
    return seen;
}

// An update stopped by a signal or killed outright while it copies a large
// template: SIGTERM puts everything back before the process ends; after
// SIGKILL the next start does, and says so, before its menu.
TEST(Rollback, AnInterruptedOrKilledUpdateIsPutBack)
{
    for (int sig : {SIGTERM, SIGKILL}) {
        if (e2e::under_wine() && sig == SIGTERM) continue;  // no console event reaches it under Wine
        Sandbox s;
        ASSERT_EQ(run_job(s, "install.txt", false).status, 0);
        const std::string big = s.in_dist("tpl/big.tpl");
        e2e::write_file(big, "x");
        ASSERT_EQ(truncate(big.c_str(), 256LL << 20), 0);  // sparse: quick to make, slow to copy
        const auto before = state(s);
        e2e::write_file(s.in_dist("job.txt"), e2e::read_file(std::string(QUILLOR_SAMPLE_DIR) + "/answers/update.txt"));
        Sandbox::Started p = s.start("", {"--answers", "job.txt", "--rollback"});
        ASSERT_TRUE(copy_started(big));
        kill(p.pid, sig);
        e2e::Run r = s.finish(p);
        EXPECT_EQ(r.status, sig == SIGTERM ? 130 : r.status);
        EXPECT_TRUE(sig != SIGTERM || r.out.find("changes of this run were put back") != std::string::npos) << r.out;
        e2e::Run next = s.run("0\n");
        EXPECT_TRUE(sig != SIGKILL || next.out.find("of its changes were put back") != std::string::npos) << next.out;
        EXPECT_EQ(differences(before, state(s)), "") << sig;
    }
}

}  // namespace
