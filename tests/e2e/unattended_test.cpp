// Unattended runs of the real binary: answers files, defaults taken, the
// record of a run, the exit status, and --help and --version.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::lines;
using e2e::read_file;
using e2e::Sandbox;

namespace {

namespace fs = std::filesystem;
using e2e::ends_with;
using e2e::prompt;
using Tree = std::map<std::string, std::string>;

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kNewshost[] = "What is the IP address / name of your newshost?\n";
const char kScripts[] = "What is the path to your cgi-bin/scripts directory?\n";
const char kPressEnter[] = "Please press enter to exit";
const char kHint[] = "Try 'quillor-install --help' for more information.\n";

// Everything the installer made outside the distribution folder, with the
// distribution's rewritten configuration: path -> content ("<dir>").
Tree snapshot(const Sandbox &s) {
    Tree t;
    for (auto it = fs::recursive_directory_iterator(s.root); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), s.root).generic_string();
        if (rel == "dist") {
            it.disable_recursion_pending();
            continue;
        }
        t[rel] = it->is_directory() ? "<dir>" : read_file(it->path().string());
    }
    t["dist/quillor.ini"] = read_file(s.in_dist("quillor.ini"));
    return t;
}

e2e::RunOptions unattended(const std::vector<std::string> &args) {
    e2e::RunOptions o;
    o.args = args;
    o.no_stdin = true;
    return o;
}

e2e::Run run_args(const Sandbox &s, const std::vector<std::string> &args, const std::string &input = "") {
    e2e::RunOptions o;
    o.args = args;
    return s.run(input, o);
}

// Copies an example answers file into the distribution folder.
void put_example(const Sandbox &s, const std::string &job) {
    e2e::write_file(s.in_dist(job + ".txt"), read_file(kSample + "/answers/" + job + ".txt"));
}

// A text file the installer wrote, in its LF form (the Windows program ends
// its lines with CRLF).
std::string text_of(const std::string &path) {
    std::string s = read_file(path), out;
    for (size_t i = 0; i < s.size(); i++)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

std::vector<std::string> sorted_lines(const std::string &text) {
    std::vector<std::string> v;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        v.push_back(text.substr(at, end - at));
    }
    std::sort(v.begin(), v.end());
    return v;
}

// The default offered in a prompt's brackets, the first time it is shown.
std::string offered(const std::string &out, const std::string &q) {
    size_t at = out.find(q + " [");
    if (at == std::string::npos) return "<not asked>";
    at += q.size() + 2;
    return out.substr(at, out.find("]: ", at) - at);
}

// The log without time stamps and process numbers.
std::string log_text(const std::string &log) {
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        size_t tag = line.find("] ");
        out += (tag == std::string::npos ? line : line.substr(tag + 2)) + "\n";
        at = end + 1;
    }
    return out;
}

// The same three jobs typed at the console, answer for answer.
const std::vector<std::string> kTypedInstall = {
    "1", "\\inetpub\\scripts\\", "news.example.org", "www.example.org", "\\quillor\\", "\\quillor\\cache\\",
    "\\inetpub\\wwwroot\\", "/qlimg", "y", "\\quillor\\originals\\", "n", "n", "y", "pop.example.org", "n", "n",
    "y", "y", "n", "n", ""};
const std::vector<std::string> kTypedUpdate = {"2", "\\inetpub\\scripts\\", "y", "", "", "\\inetpub\\wwwroot\\",
                                               "", "y", "y", "\\backup\\", "y", "\\quillor\\originals\\", "n",
                                               "n", ""};
const std::vector<std::string> kTypedRemove = {"3", "\\inetpub\\scripts\\", "", "\\quillor\\", "n", "y",
                                               "\\backup\\removed\\", "n", "n", ""};

TEST(Unattended, ExampleFilesRunEachJobAsATypedSessionWould) {
    Sandbox filed, typed;
    struct Job {
        const char *name;
        const std::vector<std::string> &typed;
    } jobs[] = {{"install", kTypedInstall}, {"update", kTypedUpdate}, {"remove", kTypedRemove}};
    for (const Job &job : jobs) {
        put_example(filed, job.name);
        e2e::Run a = filed.run("", unattended({"--answers", std::string(job.name) + ".txt"}));
        e2e::Run b = typed.run(lines(job.typed));
        ASSERT_EQ(a.status, 0) << job.name << "\n" << a.out << a.err;
        ASSERT_EQ(b.status, 0) << job.name << "\n" << b.out;
        EXPECT_EQ(a.err, "");
        EXPECT_EQ(snapshot(filed), snapshot(typed)) << job.name;
        EXPECT_NE(a.out.find("No errors occured\n"), std::string::npos) << job.name;
        EXPECT_EQ(count(a.out, kPressEnter), 0) << job.name;  // nobody is there to press it
        EXPECT_NE(a.out.find("Enter 1,2,3?" + job.typed[0] + "\n\n\n"), std::string::npos) << job.name;
        EXPECT_EQ(log_text(a.log), log_text(b.log)) << job.name;  // the same log, entry for entry
    }
    // every answer is shown after its prompt, as typed
    e2e::Run again = filed.run("", unattended({"--answers", "install.txt"}));
    EXPECT_NE(again.out.find(prompt(kScripts, "\\inetpub\\scripts\\") + "\\inetpub\\scripts\\\n"), std::string::npos);
    EXPECT_NE(again.out.find(prompt("Do you want to change any of your answers", "n") + "n\n"), std::string::npos);
    EXPECT_EQ(again.status, 0) << again.out;
}

TEST(Unattended, RecordedRunReplaysToTheSameTreesAndConfiguration) {
    // by hand: other places, every authentication, and one round of changes
    // (to answers that create no folder: a folder made for an answer later
    // changed stays behind, and a replay, knowing only the last answers,
    // does not make it)
    Sandbox byhand;
    e2e::Run r = run_args(byhand, {"--record", "rec.txt"},
                          lines({"1", "\\web\\cgi\\", "news1", "dom1", "\\site\\", "\\site\\c\\", "\\web\\www\\",
                                 "/pics", "n", "yes", "", "", "dom2", "", "", "", "", "y", "", "",  // changed
                                 "Y", "Y", "pop1", "y", "yes", "y", "n", "", "n", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, kPressEnter));  // a typed run waits as always
    std::string rec = text_of(byhand.in_dist("rec.txt"));
    EXPECT_EQ(rec.rfind("# Quillor Install answers, recorded by version 1.0 on ", 0), 0u) << rec;
    std::string body = rec.substr(rec.find("\nJOB "));
    EXPECT_EQ(body,
              "\nJOB install\nSCRIPTS \\web\\cgi\\\nNEWSHOST news1\nDOMAIN dom2\nTEMPLATES \\site\\\n"
              "CACHE \\site\\c\\\nWWWROOT \\web\\www\\\nQLIMG /pics\nBACK_ORIGINALS y\nCHANGE n\n"
              "ORIGINALS \\quillor\\originals\\\nAUTH_USER_POP Y\nAUTH_ADMIN_POP Y\nPOPHOST pop1\n"
              "FORCE_LOGIN y\nAUTH_NEWS yes\nAUTHENT_LOCAL y\nAUTHENT_LOCAL_CREATE n\nAUTHENT_COOKIE y\nUSER n\n");
    EXPECT_NE(r.log.find("answers of this run recorded in rec.txt"), std::string::npos);

    // replayed elsewhere with no console at all, and recorded again
    Sandbox replay;
    e2e::write_file(replay.in_dist("rec.txt"), rec);
    e2e::Run p = replay.run("", unattended({"--answers", "rec.txt", "--record=again.txt"}));
    ASSERT_EQ(p.status, 0) << p.out << p.err;
    EXPECT_EQ(snapshot(replay), snapshot(byhand));
    EXPECT_EQ(read_file(replay.in_dist("quillor.ini")), read_file(byhand.in_dist("quillor.ini")));
    std::string again = text_of(replay.in_dist("again.txt"));
    EXPECT_EQ(sorted_lines(again.substr(again.find("\nJOB "))), sorted_lines(body));  // ORIGINALS asked sooner
    for (const std::string &f : e2e::list_files(replay.dist)) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;

    // a run that stops before its summary records nothing; an older record stays
    r = run_args(byhand, {"--record", "rec.txt"}, lines({"1", "", "Q", ""}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(text_of(byhand.in_dist("rec.txt")), rec);
    for (const std::string &f : e2e::list_files(byhand.dist)) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;

    // a record that cannot be written is reported, and counts as an error unattended
    Sandbox nowhere;
    put_example(nowhere, "install");
    p = nowhere.run("", unattended({"--answers", "install.txt", "--record", "missing\\rec.txt"}));
    EXPECT_EQ(p.status, 1) << p.out;
    EXPECT_NE(p.out.find("\nrecord: could not create a temporary file for missing\\rec.txt: "), std::string::npos)
        << p.out;
    EXPECT_NE(p.log.find("record: could not create a temporary file for missing\\rec.txt"), std::string::npos);
}

TEST(Unattended, FaultyCommandLinesAndAnswersFilesStopBeforeAnything) {
    Sandbox s;
    const std::vector<std::string> before = e2e::list_files(s.dist);
    struct Case {
        std::string file;     // the answers file's content ("" = none is written)
        std::string message;  // the one line on standard error
    } cases[] = {
        {"# comment\n\nJOB install\nSCRIPTZ \\x\\\n", "a.txt:4: unknown tag \"SCRIPTZ\""},
        {"scripts \\a\\\n  # indented comment\nSCRIPTS \\b\\\n", "a.txt:3: SCRIPTS given twice (first on line 1)"},
        {"NEWSHOST " + std::string(512, 'h') + "\n", "a.txt:1: value of NEWSHOST over 511 characters"},
        {"CHANGE  yes\n", "a.txt:1: CHANGE given as yes would ask the questions again and again"},
        {"JOB install\nJOB update\n", "a.txt:2: JOB given twice (first on line 1)"},
        {"JOB reinstall\n", "a.txt:1: unknown job \"reinstall\" (install, update or remove)"},
        {"", "a.txt: cannot open: No such file or directory"},
    };
    for (const Case &c : cases) {
        if (c.file.empty())
            fs::remove(s.in_dist("a.txt"));
        else
            e2e::write_file(s.in_dist("a.txt"), c.file);
        e2e::Run r = s.run("", unattended({"--answers", "a.txt"}));
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.err, "quillor-install: " + c.message + "\n");
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_FALSE(e2e::exists(s.in_dist("install.log"))) << c.message;  // not even the log
    }
    fs::remove(s.in_dist("a.txt"));

    const std::vector<std::vector<std::string>> bad = {
        {"--answer", "a.txt"}, {"--answers"}, {"--answers="}, {"--record", "--defaults"}, {"a.txt"},
        {"--defaults", "--answers", "x", "--answers", "y"}};
    for (const auto &args : bad) {
        e2e::Run r = s.run("", unattended(args));
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(count(r.err, "\n"), 2) << r.err;
        EXPECT_TRUE(ends_with(r.err, kHint)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(e2e::list_files(s.dist), before);
}

TEST(Unattended, RejectedAnswersAndStopsEndWithStatusTwo) {
    Sandbox s;
    e2e::write_file(s.at("blocker"), "a file where a folder is wanted");
    // a folder that cannot be made: the validator's message, asked once, nothing done
    e2e::write_file(s.in_dist("a.txt"), "JOB install\nSCRIPTS \\blocker\\cgi\\\n");
    e2e::Run r = s.run("", unattended({"--answers", "a.txt"}));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(count(r.out, kScripts), 1);
    EXPECT_NE(r.out.find("\nERROR: could not create directory \\blocker\\cgi\\: "), std::string::npos) << r.out;
    EXPECT_TRUE(ends_with(r.out, "\nThe answer \"\\blocker\\cgi\\\" to SCRIPTS from a.txt line 2 was not accepted, "
                                 "Quillor Install stopped\n"))
        << r.out;
    EXPECT_NE(r.log.find("answer \"\\blocker\\cgi\\\" to SCRIPTS from a.txt line 2 rejected, installer stopped"),
              std::string::npos);

    // "Q" is an ordinary (and here wrong) answer, "?" an ordinary host name
    e2e::write_file(s.in_dist("a.txt"), "JOB install\nNEWSHOST ?\nBACK_ORIGINALS Q\n");
    r = s.run("", unattended({"--answers", "a.txt", "--defaults"}));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find(prompt(kNewshost, offered(r.out, kNewshost)) + "?\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(prompt("What is your domain?", "?")), std::string::npos);  // taken as the host name
    EXPECT_EQ(count(r.out, "Do you really want to exit?"), 0);
    EXPECT_NE(r.out.find("The answer \"Q\" to BACK_ORIGINALS from a.txt line 3 was not accepted"), std::string::npos);
    EXPECT_EQ(e2e::list_files(s.at("inetpub")), std::vector<std::string>{});
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(kSample + "/quillor.ini"));

    // a question the file leaves out goes to the console: its end, and Q there, stop the run
    e2e::write_file(s.in_dist("a.txt"), "JOB remove\nSCRIPTS \\inetpub\\scripts\\\n");
    r = s.run("", unattended({"--answers", "a.txt"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("\nEnd of input, Quillor Install stopped\n"), std::string::npos) << r.out;
    r = run_args(s, {"--answers", "a.txt"}, "Q\n\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(ends_with(r.out, "Do you really want to exit? [y]:\nGoodbye :-)\n")) << r.out;
    // the same with no options at all stays status 0
    r = s.run(lines({"3", "", "Q", ""}));
    EXPECT_EQ(r.status, 0);
    // leaving at the menu, or a failed folder check, reaches no summary either
    r = run_args(s, {"--defaults"}, "0\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(ends_with(r.out, "Enter 1,2,3?\n\nGoodbye :-)\n")) << r.out;
    e2e::make_dirs(s.at("elsewhere"));
    e2e::write_file(s.at("elsewhere/a.txt"), "JOB install\n");
    e2e::RunOptions other = unattended({"--answers", "a.txt"});
    other.cwd = s.at("elsewhere");
    r = s.run("", other);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              "\n\nQuillor Install must be run from inside the Quillor temporary files folder\n"
              "This folder must be the current directory\n");  // and no wait

    // an update abandoned at the cache clean-up reaches no summary
    e2e::make_dirs(s.at("inetpub/scripts"));
    e2e::write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\old\\\n");
    e2e::write_file(s.in_dist("a.txt"), "JOB update\nEND n\n");
    r = s.run("", unattended({"--answers", "a.txt", "--defaults"}));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(ends_with(r.out, prompt("Do you want to continue?", "y") + "n\n\n")) << r.out;
}

TEST(Unattended, DefaultsCompleteAnInstallAndCountedErrorsGiveOne) {
    // --defaults with a job only: the same install as Enter at every question
    Sandbox filed, typed;
    e2e::write_file(filed.in_dist("a.txt"), "JOB install\n");
    e2e::Run a = filed.run("", unattended({"--defaults", "--answers", "a.txt"}));
    e2e::Run b = typed.run("1\n" + std::string(40, '\n'));
    ASSERT_EQ(a.status, 0) << a.out;
    ASSERT_EQ(b.status, 0);
    Tree ta = snapshot(filed), tb = snapshot(typed);
    ta.erase("dist/quillor.ini");  // cleaned up in both: the temporary files go
    tb.erase("dist/quillor.ini");
    EXPECT_EQ(ta, tb);
    EXPECT_EQ(e2e::list_files(filed.dist),
              (std::vector<std::string>{"a.txt", "install.hlp", "install.log", e2e::program_name()}));

    // an install handing over to the update: the same SCRIPTS answer again
    Sandbox h;
    put_example(h, "install");
    ASSERT_EQ(h.run("", unattended({"--answers", "install.txt"})).status, 0);
    e2e::write_file(h.in_dist("a.txt"), "JOB install\nSCRIPTS \\inetpub\\scripts\\\nDO_UPDATE y\nUSER n\n");
    a = h.run("", unattended({"--answers", "a.txt", "--defaults"}));
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(count(a.out, prompt(kScripts, "\\inetpub\\scripts\\") + "\\inetpub\\scripts\\\n"), 2) << a.out;
    EXPECT_NE(a.out.find("** UPDATE **"), std::string::npos);
    EXPECT_NE(a.out.find(" files backed up\n"), std::string::npos);  // the update's summary

    // a copy step that fails is counted: status 1, and the record is still written
    Sandbox s;
    put_example(s, "install");
    e2e::make_dirs(s.at("quillor"));
    e2e::write_file(s.at("quillor/img"), "a file where the images folder goes");
    e2e::Run r = s.run("", unattended({"--answers", "install.txt", "--record", "rec.txt"}));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" errors occured during copying, check install.log for details\n"), std::string::npos);
    EXPECT_TRUE(e2e::exists(s.in_dist("rec.txt")));

    // a remove that refuses to delete in a drive root counts an error as well
    e2e::write_file(s.in_dist("a.txt"), "JOB remove\nSCRIPTS \\inetpub\\scripts\\\nTEMPLATES \\\n");
    r = s.run("", unattended({"--answers", "a.txt", "--defaults"}));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("refusing to delete files in \\: it is a drive root"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" errors occured during removing"), std::string::npos);
}

TEST(Options, HelpAndVersionTouchNothing) {
    Sandbox s;
    const std::vector<std::string> before = e2e::list_files(s.dist);
    e2e::Run r = s.run("", unattended({"--version"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quillor-install 1.0\n");
    EXPECT_EQ(r.err, "");
    r = s.run("", unattended({"--help"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char *part : {"Usage: quillor-install [--answers FILE] [--defaults] [--record FILE]\n", "--version",
                             "Answers file:\n", "\"JOB install\"", " SCRIPTS NEWSHOST ", " USER END\n",
                             "Exit status with --answers or --defaults:\n", "  1  the summary counted errors",
                             "QUILLOR_ROOT"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    // no log, no probe file, and no folder check: from another folder as well
    EXPECT_EQ(e2e::list_files(s.dist), before);
    e2e::RunOptions elsewhere = unattended({"--help"});
    elsewhere.cwd = s.root;
    r = s.run("", elsewhere);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, "must be run from inside"), 0);
    EXPECT_FALSE(e2e::exists(s.at("install.log")));
}

}  // namespace
