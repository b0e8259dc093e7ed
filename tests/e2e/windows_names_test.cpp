// Names Windows reads as others and links it does not show: each step acts
// on the entry it listed and on nothing else.  Under Wine a name ending
// with a dot names another entry on a plain path, and a host's link to a
// file looks like a plain file; elsewhere both are ordinary, so the same
// runs check that nothing changed there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::exists;
using e2e::lines;
using e2e::read_file;
using e2e::Sandbox;
using e2e::write_file;

namespace {

const std::string kSample = QUILLOR_SAMPLE_DIR;
// Enter everywhere; the last answer is the clean-up's.
std::string install(const char *cleanup)
{
    return lines({"1", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", cleanup, ""});
}
const std::string kRemoveWithBackup = lines({"3", "", "", "", "y", "", "", "", "", "n", ""});
const std::string kRemoveNoBackup = lines({"3", "", "", "", "", "n", "", "", ""});
const std::string kUpdate = lines({"2", "", "", "", "", "", "", "", "n", "", "n", ""});

// An installation whose scripts folder holds "quillor." (the pattern
// "quillor.*" takes it) and another program's "quillor" (it does not).
void installed(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts/quillor."));
    e2e::make_dirs(s.at("inetpub/scripts/quillor"));
    e2e::make_dirs(s.at("site/users"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\nworkarea \\site\\users\\\n"
                                                      "cache_dir \\site\\cache\\\n");
    write_file(s.at("inetpub/scripts/quillor./data.txt"), "ours");
    write_file(s.at("inetpub/scripts/quillor/other.txt"), "theirs");
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "tpl");
    e2e::make_dirs(s.at("site/cache"));
}

TEST(NamesReadAsOthers, ARemovalTakesTheDottedFolderItselfAndLeavesItsTwin)
{
    Sandbox s;
    installed(s);
    e2e::Run r = s.run(kRemoveWithBackup);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor/other.txt")), "theirs");
    EXPECT_FALSE(exists(s.at("inetpub/scripts/quillor.")));
    EXPECT_EQ(read_file(s.at("backup/quillor./data.txt")), "ours");
    EXPECT_FALSE(exists(s.at("backup/quillor/other.txt")));
    EXPECT_EQ(count(r.out, "errors occured during"), 0) << r.out;
}

// The copy and the clean-up take no such name, and never another for it.
TEST(NamesReadAsOthers, ACopyAndTheCleanUpLeaveThemAloneAndCountThem)
{
    Sandbox s;
    write_file(s.in_dist("tpl/index.tpl."), "dotted");
    write_file(s.in_dist("quillor."), "dotted too");
    write_file(s.in_dist("quillor"), "the administrator's");
    e2e::Run r = s.run(install("y"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.in_dist("quillor")), "the administrator's");
    if (!e2e::under_wine()) {
        EXPECT_EQ(read_file(s.at("quillor/index.tpl.")), "dotted");
        return;
    }
    EXPECT_FALSE(exists(s.at("quillor/index.tpl.")));
    EXPECT_EQ(read_file(s.in_dist("quillor.")), "dotted too");
    EXPECT_NE(r.out.find("\n2 errors occured during copying"), std::string::npos) << r.out;  // the copy, the clean-up
    EXPECT_NE(r.log.find("left \"index.tpl.\" in .\\tpl\\ alone: Windows reads that name as another"),
              std::string::npos)
        << r.log;
}

// A folder answer ending with a dot, and a device named on the command
// line, are refused naming the fault.
TEST(NamesReadAsOthers, ADottedFolderAnswerAndADeviceAreRefusedByName)
{
    if (!e2e::under_wine()) GTEST_SKIP() << "names like any other here";
    Sandbox s;
    e2e::Run r = s.run(lines({"1", "", "", "", "\\\\?\\" + s.drive + "\\dist.", "", "", "", "", "", "", "", "", "",
                              "", "", "", "", "", "n", ""}));
    EXPECT_NE(r.out.find("the name \"dist.\" ends with a dot or a space, which Windows drops"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(s.at("dist.")));
    for (const auto &[args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--answers", "CON"}, "CON: cannot open: it names the device CON, not a file"},
             {{"--answers", "nul.txt"}, "nul.txt: cannot open: it names the device NUL, not a file"},
             {{"--record", "COM1"}, "COM1: the record cannot be written to the device COM1"}}) {
        e2e::RunOptions opt;
        opt.args = args;
        r = s.run("", opt);
        EXPECT_EQ(r.status, 2) << said;
        EXPECT_EQ(r.err, "quillor-install: " + said + "\n");
    }
}

// A link to a file outside, where a step would remove, replace or append
// to a file: what it leads to is never touched.
TEST(LinksHoweverTheyLook, WhatALinkLeadsToIsNeverTouched)
{
    struct Case {
        std::string link, input, said;
        int wine_status;  // 2: the run does not start; else it ends counting one error
    };
    const std::vector<Case> cases = {
        {"site/tpl/evil.tpl", kRemoveNoBackup, "evil.tpl is a link to another file, left alone", 1},
        {"site/cache/group.2", kUpdate, "group.2 is a link to another file, left alone", 1},
        {"dist/tempquillor.ini", install("n"), "tempquillor.ini is a link to another file, left alone", 1},
        {"dist/install.lck", install("n"), "install.lck is a link to another file", 2},
        {"dist/install.jnl", install("n"), "install.jnl is a link to another file", 2},
        {"dist/install.log", install("n"), "install.log is a link to another file", 2},
    };
    for (const Case &c : cases) {
        Sandbox s;
        if (c.input != install("n")) installed(s);
        const std::string outside = s.top + "/outside.txt";
        write_file(outside, "precious\n");
        ASSERT_EQ(symlink(outside.c_str(), s.at(c.link).c_str()), 0) << c.link;
        e2e::Run r = s.run(c.input);
        EXPECT_EQ(read_file(outside), "precious\n") << c.link;
        if (!e2e::under_wine()) continue;  // a link here is removed as itself, or never opened
        if (c.wine_status == 2)
            EXPECT_EQ(r.status, 2) << c.link << r.out << r.err;
        else
            EXPECT_NE(r.out.find("\n1 errors occured during"), std::string::npos) << c.link << r.out;
        EXPECT_NE((r.log + r.out + r.err).find(c.said), std::string::npos) << c.link << r.log << r.err;
    }
}

}  // namespace
