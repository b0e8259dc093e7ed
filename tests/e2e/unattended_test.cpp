// Unattended runs of the real binary: answers files, defaults taken, the
// record of a run, the exit status, and --help and --version.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using e2e::count;
using e2e::ends_with;
using e2e::lines;
using e2e::prompt;
using e2e::read_file;
using e2e::Sandbox;
using Tree = std::map<std::string, std::string>;

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kScripts[] = "What is the path to your cgi-bin/scripts directory?\n";

// What the installer made outside the distribution folder, and the
// distribution's rewritten configuration: path -> content ("<dir>").
Tree snapshot(const Sandbox &s)
{
    Tree t;
    for (auto it = fs::recursive_directory_iterator(s.root); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = fs::relative(it->path(), s.root).generic_string();
        if (rel == "dist")
            it.disable_recursion_pending();
        else
            t[rel] = it->is_directory() ? "<dir>" : read_file(it->path().string());
    }
    t["dist/quillor.ini"] = read_file(s.in_dist("quillor.ini"));
    return t;
}

// A run with these arguments, with standard input closed unless given.
e2e::Run run(const Sandbox &s, const std::vector<std::string> &args, const char *input = nullptr,
             const std::string &cwd = "")
{
    e2e::RunOptions o;
    o.args = args;
    o.no_stdin = input == nullptr;
    o.cwd = cwd;
    return s.run(input ? input : "", o);
}

void put_example(const Sandbox &s, const std::string &job)
{
    e2e::write_file(s.in_dist(job + ".txt"), read_file(kSample + "/answers/" + job + ".txt"));
}

// Text in its LF form (the Windows program writes CRLF), log lines without
// their time stamps and process numbers.
std::string plain(const std::string &text)
{
    std::string out;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t stamp = line.find("] ");
        out += (stamp == std::string::npos ? line : line.substr(stamp + 2)) + "\n";
    }
    return out;
}

// The same three jobs typed at the console, answer for answer.
const std::vector<std::string> kTypedInstall = {"1",
                                                "\\inetpub\\scripts\\",
                                                "news.example.org",
                                                "www.example.org",
                                                "\\quillor\\",
                                                "\\quillor\\cache\\",
                                                "\\inetpub\\wwwroot\\",
                                                "/qlimg",
                                                "y",
                                                "\\quillor\\originals\\",
                                                "n",
                                                "n",
                                                "y",
                                                "pop.example.org",
                                                "n",
                                                "n",
                                                "y",
                                                "y",
                                                "n",
                                                "n",
                                                ""};
const std::vector<std::string> kTypedUpdate = {
    "2", "\\inetpub\\scripts\\",   "y", "",  "", "\\inetpub\\wwwroot\\", "", "y", "y", "\\backup\\",
    "y", "\\quillor\\originals\\", "n", "n", ""};
const std::vector<std::string> kTypedRemove = {"3", "\\inetpub\\scripts\\", "",  "\\quillor\\", "n",
                                               "y", "\\backup\\removed\\",  "n", "n",           ""};

TEST(Unattended, ExampleFilesDoWhatTheTypedSessionDoes)
{
    Sandbox filed, typed;
    const std::vector<std::string> *typed_jobs[] = {&kTypedInstall, &kTypedUpdate, &kTypedRemove};
    const char *names[] = {"install", "update", "remove"};
    for (int j = 0; j < 3; j++) {
        put_example(filed, names[j]);
        e2e::Run a = run(filed, {"--answers", std::string(names[j]) + ".txt"});
        e2e::Run b = typed.run(lines(*typed_jobs[j]));
        ASSERT_EQ(a.status, 0) << names[j] << "\n" << a.out << a.err;
        ASSERT_EQ(b.status, 0) << names[j] << "\n" << b.out;
        EXPECT_EQ(snapshot(filed), snapshot(typed)) << names[j];
        EXPECT_EQ(plain(a.log), plain(b.log)) << names[j];  // the same log, entry for entry
        EXPECT_NE(a.out.find("Enter 1,2,3?" + (*typed_jobs[j])[0] + "\n\n\n"), std::string::npos) << a.out;
        EXPECT_NE(a.out.find(prompt(kScripts, "\\inetpub\\scripts\\") + "\\inetpub\\scripts\\\n"), std::string::npos);
        EXPECT_TRUE(ends_with(a.out, "\n\n\n") && count(a.out, "Please press enter") == 0) << a.out;
        // the remove backs each file up once: 38 dots, no second copy in its empty backup folder
        if (j == 2) {
            EXPECT_NE(b.out.find("\n" + std::string(38, '.') + "\n"), std::string::npos) << b.out;
        }
    }
    for (const std::string &f : e2e::list_files(typed.at("backup/removed"))) EXPECT_EQ(count(f, ".~"), 0) << f;
}

TEST(Unattended, RecordedRunReplaysToTheSameTreesAndConfiguration)
{
    // by hand, with a round of changes (to answers that make no folder: a
    // folder made for an answer changed later would stay behind, unrecorded)
    Sandbox byhand, replay;
    e2e::Run r = run(byhand, {"--record", "rec.txt"},
                     lines({"1",
                            "\\web\\cgi\\",
                            "news1",
                            "dom1",
                            "\\site\\",
                            "\\site\\c\\",
                            "\\web\\www\\",
                            "/pics",
                            "n",
                            "yes",
                            "",
                            "",
                            "dom2",
                            "",
                            "",
                            "",
                            "",
                            "y",
                            "",
                            "",  // changed
                            "Y",
                            "Y",
                            "pop1",
                            "y",
                            "yes",
                            "y",
                            "n",
                            "",
                            "n",
                            "n",
                            ""})
                         .c_str());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, "Please press enter to exit"));  // typed runs wait as always
    std::string rec = plain(read_file(byhand.in_dist("rec.txt")));
    EXPECT_EQ(rec.rfind("# Quillor Install answers, recorded by version 1.0 on ", 0), 0u) << rec;
    EXPECT_EQ(rec.substr(rec.find("\nJOB ")),
              "\nJOB install\nSCRIPTS \\web\\cgi\\\nNEWSHOST news1\nDOMAIN dom2\nTEMPLATES \\site\\\n"
              "CACHE \\site\\c\\\nWWWROOT \\web\\www\\\nQLIMG /pics\nBACK_ORIGINALS y\nCHANGE n\n"
              "ORIGINALS \\quillor\\originals\\\nAUTH_USER_POP Y\nAUTH_ADMIN_POP Y\nPOPHOST pop1\n"
              "FORCE_LOGIN y\nAUTH_NEWS yes\nAUTHENT_LOCAL y\nAUTHENT_LOCAL_CREATE n\nAUTHENT_COOKIE y\nUSER n\n");

    e2e::write_file(replay.in_dist("rec.txt"), rec);
    e2e::Run p = run(replay, {"--answers", "rec.txt"});
    ASSERT_EQ(p.status, 0) << p.out << p.err;
    EXPECT_EQ(snapshot(replay), snapshot(byhand));

    // a run that stops before its summary records nothing: the old record stays
    r = run(byhand, {"--record", "rec.txt"}, "1\n\nQ\n\n");
    EXPECT_EQ(plain(read_file(byhand.in_dist("rec.txt"))), rec);
    // nor does one that ends without a summary (nothing installed to remove)
    r = run(byhand, {"--record", "none.txt"}, "3\n\n\n\n\n");
    EXPECT_NE(r.out.find("Do you want to do install instead of update?"), std::string::npos) << r.out;
    EXPECT_FALSE(e2e::exists(byhand.in_dist("none.txt")));
    for (const std::string &f : e2e::list_files(byhand.dist)) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST(Unattended, FaultsStopWithStatusTwoBeforeAnythingIsWritten)
{
    Sandbox s;
    const std::vector<std::string> before = e2e::list_files(s.dist);
    const std::pair<std::string, std::string> faults[] = {
        {"# comment\n\nJOB install\nSCRIPTZ \\x\\\n", "a.txt:4: unknown tag \"SCRIPTZ\""},
        {"scripts \\a\\\r\n  # indented\r\nSCRIPTS \\b\\\r\n", "a.txt:3: SCRIPTS given twice (first on line 1)"},
        {"NEWSHOST " + std::string(512, 'h') + "\n", "a.txt:1: value of NEWSHOST over 511 characters"},
        {"CHANGE  yes\n", "a.txt:1: CHANGE given as yes would ask the questions again and again"},
        {"\xEF\xBB\xBFJOB install\nJOB update\n", "a.txt:2: JOB given twice (first on line 1)"},  // BOM
        {"JOB reinstall\n", "a.txt:1: unknown job \"reinstall\" (install, update or remove)"},
        {"JOB install\nCHANGE Y\n", "a.txt:2: CHANGE given as yes would ask the questions again and again"},
        {"", "a.txt: cannot open: No such file or directory"},  // no file at all
        {std::string("JOB install\nNEWSHOST a\0b\n", 25), "a.txt:2: a NUL byte: this is not a text file"},
        {std::string("\xFF\xFEJ\0O\0B\0 \0", 10),
         "a.txt:1: UTF-16 text, not read: save the file as plain text (ANSI or UTF-8)"},
        {"# a \x1a byte\nJOB install\nJOB update\n", "a.txt:3: JOB given twice (first on line 2)"},  // no end
    };
    for (const auto &[content, message] : faults) {
        fs::remove(s.in_dist("a.txt"));
        if (!content.empty()) e2e::write_file(s.in_dist("a.txt"), content);
        e2e::Run r = run(s, {"--answers", "a.txt"});
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, "quillor-install: " + message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(e2e::exists(s.in_dist("install.log"))) << message;  // not even the log
    }
    fs::remove(s.in_dist("a.txt"));
    if (!e2e::under_wine()) {  // a pipe is refused for what it is
        ASSERT_EQ(mkfifo(s.in_dist("a.txt").c_str(), 0600), 0);
        e2e::Run r = run(s, {"--answers", "a.txt"});
        EXPECT_EQ(r.err, "quillor-install: a.txt: cannot open: not a regular file (a device, pipe or socket)\n");
        fs::remove(s.in_dist("a.txt"));
    }
    for (const auto &args : std::vector<std::vector<std::string>>{{"--answer", "a.txt"},
                                                                  {"--answers"},
                                                                  {"--answers="},
                                                                  {"--record", "--defaults"},
                                                                  {"-x"},
                                                                  {"--record", "r.txt", "--record=r.txt"}}) {
        e2e::Run r = run(s, args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(count(r.err, "\n"), 2) << r.err;
        EXPECT_TRUE(ends_with(r.err, "Try 'quillor-install --help' for more information.\n")) << r.err;
    }
    EXPECT_EQ(e2e::list_files(s.dist), before);
}

TEST(Unattended, AFileWithAUtf8MarkNamesItsFoldersAsWritten)
{
    Sandbox s;
    const std::string folder = "mod\xC3\xA8les";  // "modèles" in UTF-8
    e2e::write_file(s.in_dist("a.txt"), "\xEF\xBB\xBFJOB install\nTEMPLATES \\" + folder + "\\\nUSER n\n");
    e2e::Run r = run(s, {"--answers", "a.txt", "--defaults"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(e2e::exists(s.at(folder + "/index.tpl")));
    if (!e2e::under_wine()) return;  // names are bytes here, UTF-8 as they come
    e2e::write_file(s.in_dist("a.txt"), "\xEF\xBB\xBFJOB install\nTEMPLATES \\\xE5\x88\x86\xE5\x8F\x91\\\n");
    r = run(s, {"--answers", "a.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillor-install: a.txt:2: text that the system's code page cannot hold (the file is UTF-8)\n");
}

TEST(Unattended, RejectedAnswersAndStopsGiveStatusTwo)
{
    Sandbox s;
    e2e::write_file(s.at("blocker"), "a file where a folder is wanted");
    e2e::write_file(s.in_dist("a.txt"), "JOB install\nSCRIPTS \\blocker\\cgi\\\n");
    e2e::Run r = run(s, {"--answers", "a.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(count(r.out, kScripts), 1);  // never asked again
    EXPECT_NE(r.out.find("\nERROR: could not create directory \\blocker\\cgi\\: "), std::string::npos) << r.out;
    EXPECT_TRUE(ends_with(r.out, "\nThe answer \"\\blocker\\cgi\\\" to SCRIPTS from a.txt line 2 was not "
                                 "accepted, Quillor Install stopped\n"))
        << r.out;
    EXPECT_NE(r.log.find("answer \"\\blocker\\cgi\\\" to SCRIPTS from a.txt line 2 rejected"), std::string::npos);

    // "?" is an ordinary host name, "Q" an ordinary (wrong) yes/no answer
    e2e::write_file(s.in_dist("a.txt"), "JOB install\nNEWSHOST ?\nBACK_ORIGINALS Q\n");
    r = run(s, {"--answers", "a.txt", "--defaults"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("]: ?\n" + prompt("What is your domain?", "?")), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "Do you really want to exit?"), 0);
    EXPECT_NE(r.out.find("The answer \"Q\" to BACK_ORIGINALS from a.txt line 3 was not accepted"), std::string::npos);
    EXPECT_EQ(e2e::list_files(s.at("inetpub")), std::vector<std::string>{});
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(kSample + "/quillor.ini"));

    // questions left to the console: their end of input and a confirmed Q stop the run
    e2e::write_file(s.in_dist("a.txt"), "JOB remove\n");
    EXPECT_EQ(run(s, {"--answers", "a.txt"}).status, 2);
    r = run(s, {"--answers", "a.txt"}, "Q\n\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(ends_with(r.out, "Do you really want to exit? [y]:\nGoodbye :-)\n")) << r.out;
    EXPECT_EQ(s.run(lines({"3", "Q", ""})).status, 0);  // without options as before

    // a failed folder check reaches no summary, and does not wait
    e2e::make_dirs(s.at("elsewhere"));
    r = run(s, {"--defaults"}, nullptr, s.at("elsewhere"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(ends_with(r.out, "This folder must be the current directory\n")) << r.out;
}

TEST(Unattended, DefaultsHandOverAndCountedErrors)
{
    // defaults for all but the job: the install Enter at every question makes
    Sandbox filed, typed;
    // (CRLF line ends, and a long comment line that is one line, not several)
    e2e::write_file(filed.in_dist("a.txt"), "JOB install\r\n# " + std::string(4000, 'c') + "\r\nUSER n\r\n");
    e2e::Run a = run(filed, {"--defaults", "--answers", "a.txt"});
    ASSERT_EQ(typed.run("1\n" + std::string(17, '\n') + "n\n\n").status, 0);
    ASSERT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(snapshot(filed), snapshot(typed));
    EXPECT_NE(a.out.find(prompt("Where is your templates directory?\n", "\\quillor\\") + "\\quillor\\\n"),
              std::string::npos);  // a default printed as if typed

    // installed now: the install hands over to the update, which gets the same SCRIPTS
    const std::string longest = "y" + std::string(510, 'e');  // 511 characters: the longest value
    e2e::write_file(filed.in_dist("a.txt"),
                    "JOB install\nSCRIPTS \\inetpub\\scripts\\\nDO_UPDATE " + longest + "\nUSER n\n");
    a = run(filed, {"--answers", "a.txt", "--defaults"});
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(count(a.out, prompt(kScripts, "\\inetpub\\scripts\\") + "\\inetpub\\scripts\\\n"), 2) << a.out;
    EXPECT_NE(a.out.find(" files backed up\n"), std::string::npos);  // the update's summary
    EXPECT_NE(a.out.find("]: " + longest + "\n"), std::string::npos);

    // a record that cannot be written makes a complete run's status 1
    a = run(filed, {"--answers", "a.txt", "--defaults", "--record", "nodir/rec.txt"});
    EXPECT_EQ(a.status, 1) << a.out;
    EXPECT_NE(a.out.find("\nrecord: could not "), std::string::npos) << a.out;

    // a copy step that fails is counted: status 1, and the record is written
    Sandbox s;
    put_example(s, "install");
    e2e::make_dirs(s.at("quillor"));
    e2e::write_file(s.at("quillor/img"), "a file where the images folder goes");
    e2e::Run r = run(s, {"--answers", "install.txt", "--record", "rec.txt"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" errors occured during copying, check install.log for details\n"), std::string::npos);
    EXPECT_TRUE(e2e::exists(s.in_dist("rec.txt")));
}

TEST(Unattended, RecordNeverReplacesAnotherFile)
{
    Sandbox s;
    put_example(s, "install");
    const std::string answers = read_file(s.in_dist("install.txt"));
    const std::pair<std::string, std::string> refused[] = {{"install.txt", "the answers file"},
                                                           {"./install.log", "the log"},
                                                           {"install.jnl", "the journal"},
                                                           {"QUILLOR.INI", "the distribution's configuration"}};
    for (const auto &[file, what] : refused) {
        if (file == "QUILLOR.INI" && !e2e::under_wine()) continue;  // names are exact on POSIX
        e2e::Run r = run(s, {"--answers", "install.txt", "--record", file});
        EXPECT_EQ(r.status, 2) << file;
        EXPECT_EQ(r.err, "quillor-install: " + file + ": the record may not replace " + what + "\n");
    }
    EXPECT_EQ(read_file(s.in_dist("install.txt")), answers);

    // another file is kept; files given as absolute paths are taken as they are
    const bool wine = e2e::under_wine();
    const std::string notes = wine ? s.in_dist("notes.txt") : s.at("notes.txt");
    e2e::write_file(notes, "my notes\n");
    e2e::Run r =
        run(s, {"--answers", wine ? "install.txt" : s.in_dist("install.txt"), "--record", wine ? "notes.txt" : notes});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(notes + ".~1~"), "my notes\n");
    EXPECT_EQ(read_file(notes).rfind("# Quillor Install answers", 0), 0u);

    // the installed configuration is a file the run writes
    put_example(s, "update");
    r = run(s, {"--answers", "update.txt", "--record", "../inetpub/scripts/quillor.ini"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("the record may not replace the installed configuration"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")).find("JOB update"), std::string::npos);
    // and so is the program beside it, or any file in a folder the run writes in
    r = run(s, {"--answers", "update.txt", "--record", "../inetpub/scripts/quillor.exe"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("the record may not replace a file in a folder the run writes in"), std::string::npos);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
}

TEST(Options, HelpAndVersionTouchNothing)
{
    Sandbox s;
    const std::vector<std::string> before = e2e::list_files(s.dist);
    e2e::Run r = run(s, {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quillor-install 1.0\n");
    r = run(s, {"foo", "--version"});  // a stray argument is ignored, with one line
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "quillor-install: argument ignored: foo\n");
    EXPECT_EQ(r.out, "quillor-install 1.0\n");
    r = run(s, {"--help"}, nullptr, s.root);  // from another folder: no folder check either
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char *part :
         {"Usage: quillor-install [--answers FILE] [--defaults] [--record FILE] [--dry-run] [--rollback]\n",
          "\"JOB install\"", " SCRIPTS NEWSHOST ", " USER END\n", "  1  the summary counted errors", "QUILLOR_ROOT"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    EXPECT_EQ(e2e::list_files(s.dist), before);
    EXPECT_FALSE(e2e::exists(s.at("install.log")));
}

}  // namespace
