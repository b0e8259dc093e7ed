// Unattended runs of the real binary: answers files, defaults taken, the
// record of a run, the exit status, and --help and --version.
#include <gtest/gtest.h>

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

}  // namespace
