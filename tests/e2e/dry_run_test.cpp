// Dry runs of the real binary: the plan is printed, nothing on the disk changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using e2e::read_file;
using e2e::Sandbox;

// Every entry below the root: kind, contents, mode and modification time.
std::map<std::string, std::string> everything(const Sandbox &s) { return e2e::tree_state(s.root, true); }

// A run from the answers file job.txt in the distribution folder.
e2e::Run run_job(const Sandbox &s, bool dry)
{
    e2e::RunOptions o;
    o.args = {"--answers", "job.txt"};
    if (dry) o.args.push_back("--dry-run");
    o.no_stdin = true;
    return s.run("", o);
}

// Every line of text that starts with prefix, without it.
std::vector<std::string> lines_after(const std::string &text, const std::string &prefix)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    return found;
}

TEST(DryRun, AnInstallChangesNothingAndPlansWhatTheRealRunDoesToFoldersAndConfiguration)
{
    Sandbox s;
    const std::string answers = read_file(std::string(QUILLOR_SAMPLE_DIR) + "/answers/install.txt");
    e2e::write_file(s.in_dist("job.txt"), answers);
    const auto before = everything(s);
    const std::string old_ini = read_file(s.in_dist("quillor.ini"));
    e2e::Run dry = run_job(s, true);
    EXPECT_EQ(everything(s), before);  // no log, no lock, no folder, the same configuration
    EXPECT_EQ(dry.status, 0);
    EXPECT_NE(dry.out.find("\nrewrite quillor.ini\n- authent_pop false\n"), std::string::npos);
    EXPECT_NE(dry.out.find("\n- host_authent false\n+ host_authent true\n"), std::string::npos);
    EXPECT_NE(dry.out.find("Dry run: nothing was changed.\n"), std::string::npos);
    EXPECT_EQ(dry.out.find("Check install.log"), std::string::npos);

    ASSERT_EQ(run_job(s, false).status, 0);  // the real run with the same answers
    for (auto it = fs::recursive_directory_iterator(s.root); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), s.root).generic_string();
        if (rel == "dist") it.disable_recursion_pending();
        if (rel == "dist" || !it->is_directory()) continue;
        std::string named = "\\" + rel + "\\";
        for (char &c : named) c = c == '/' ? '\\' : c;
        EXPECT_NE(dry.out.find("create folder " + named + "\n"), std::string::npos) << named;
    }
    const std::string new_ini = read_file(s.in_dist("quillor.ini"));
    EXPECT_NE(new_ini, old_ini);
    for (const std::string &line : lines_after(dry.out, "- ")) EXPECT_NE(old_ini.find(line + "\n"), std::string::npos);
    for (const std::string &line : lines_after(dry.out, "+ ")) EXPECT_NE(new_ini.find(line + "\n"), std::string::npos);
}

TEST(DryRun, ARunThatStopsExitsTwoHavingChangedNothing)
{
    Sandbox s;
    e2e::write_file(s.in_dist("job.txt"), "JOB install\nSCRIPTS \\inetpub\\scripts\\\n");
    const auto before = everything(s);
    e2e::Run r = run_job(s, true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("create folder \\inetpub\\scripts\\\n"), std::string::npos);
    EXPECT_EQ(everything(s), before);
}

TEST(DryRun, ATypedRunLeftAtTheMenuExitsZeroWithoutALogOrLock)
{
    Sandbox s;
    const auto before = everything(s);
    e2e::RunOptions o;
    o.args = {"--dry-run"};
    e2e::Run r = s.run("0\n", o);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Goodbye :-)\n"), std::string::npos);
    EXPECT_EQ(everything(s), before);
}

// What the real run changed below the root, the log and the answers aside:
// every file added, removed or rewritten, every folder added or removed.
// Errors a real run would meet are foreseen: a template whose target is a
// folder, and a program file missing from the distribution.
TEST(DryRun, ForeseenErrorsAreNamedAndExitOne)
{
    Sandbox s;
    const std::string answers = std::string(QUILLOR_SAMPLE_DIR) + "/answers/";
    e2e::write_file(s.in_dist("job.txt"), read_file(answers + "install.txt"));
    ASSERT_EQ(run_job(s, false).status, 0);
    fs::remove(s.root + "/quillor/login.tpl");
    fs::create_directory(s.root + "/quillor/login.tpl");
    fs::remove(s.in_dist("quillor.exe"));
    e2e::write_file(s.in_dist("job.txt"), read_file(answers + "update.txt"));
    const auto before = everything(s);
    e2e::Run dry = run_job(s, true);
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(everything(s), before);
    EXPECT_NE(dry.out.find("error: copy_file: could not copy .\\tpl\\login.tpl to \\quillor\\login.tpl {"),
              std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("error: copy_tree: quillor.exe not found in"), std::string::npos) << dry.out;
    if (e2e::under_wine()) return;  // Windows programs see no POSIX links
    Sandbox t;                      // a configuration that is a link is never rewritten, foreseen or real
    fs::rename(t.in_dist("quillor.ini"), t.root + "/real.ini");
    fs::create_symlink(t.root + "/real.ini", t.in_dist("quillor.ini"));
    e2e::write_file(t.in_dist("job.txt"), read_file(answers + "install.txt"));
    dry = run_job(t, true);
    EXPECT_EQ(dry.status, 1);
    EXPECT_NE(dry.out.find("set_ini: could not open file .\\tempquillor.ini to write"), std::string::npos) << dry.out;
}

// A link planned away is the link: what it leads to stays in the plan, so
// an edited template it leads to is planned as replaced, as the real run
// replaces it.
TEST(DryRun, ALinkRemovedIsNeverTakenForWhatItLeadsTo)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Sandbox s;
    const std::string answers = std::string(QUILLOR_SAMPLE_DIR) + "/answers/";
    e2e::write_file(s.in_dist("job.txt"), read_file(answers + "install.txt"));
    ASSERT_EQ(run_job(s, false).status, 0);
    e2e::write_file(s.root + "/quillor/index.tpl", "edited here");
    fs::create_symlink("../index.tpl", s.root + "/quillor/cache/x_current");
    e2e::write_file(s.in_dist("job.txt"), read_file(answers + "update.txt"));
    e2e::Run dry = run_job(s, true);
    EXPECT_NE(dry.out.find("\nremove \\quillor\\cache\\x_current\n"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("\nreplace \\quillor\\index.tpl (changed locally)\n"), std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("copy new \\quillor\\index.tpl\n"), std::string::npos) << dry.out;
}

// One numbering rule: with .~1~ and .~3~ kept, a backup keeps as .~4~, a
// second file of the same name as .~5~, in the plan as in the real run,
// and the record keeps another file of its name the same way.
TEST(DryRun, NumberedKeepsFollowTheHighestKeptInThePlanAsInTheRealRun)
{
    Sandbox s;
    for (const char *dir : {"/inetpub/scripts", "/site/tpl", "/site/users", "/backup"}) e2e::make_dirs(s.root + dir);
    e2e::write_file(s.root + "/inetpub/scripts/quillor.ini", "templates \\site\\tpl\\\nworkarea \\site\\users\\\n");
    e2e::write_file(s.root + "/site/tpl/index.tpl", "templates'");
    e2e::write_file(s.root + "/site/users/index.tpl", "work area's");
    for (const std::string kept : {"backup/index.tpl", "backup/index.tpl.~1~", "backup/index.tpl.~3~", "dist/rec.txt",
                                   "dist/rec.txt.~1~", "dist/rec.txt.~3~"})
        e2e::write_file(s.root + "/" + kept, "older");
    const std::string remove = e2e::lines({"3", "", "", "", "y", "", "", "", "", "n", ""});
    e2e::RunOptions dry, real;
    dry.args = {"--dry-run"};
    real.args = {"--record", "rec.txt"};
    e2e::Run plan = s.run(remove, dry);
    EXPECT_NE(plan.out.find("keep \\backup\\index.tpl as \\backup\\index.tpl.~4~\n"), std::string::npos) << plan.out;
    EXPECT_NE(plan.out.find("keep \\backup\\index.tpl as \\backup\\index.tpl.~5~\n"), std::string::npos) << plan.out;
    ASSERT_EQ(s.run(remove, real).status, 0);
    EXPECT_EQ(read_file(s.root + "/backup/index.tpl.~4~"), "older");
    EXPECT_EQ(read_file(s.root + "/backup/index.tpl.~5~"), "templates'");
    EXPECT_EQ(read_file(s.root + "/backup/index.tpl"), "work area's");
    EXPECT_EQ(read_file(s.in_dist("rec.txt.~4~")), "older");
}

}  // namespace
