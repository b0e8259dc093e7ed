// Faults of the input under the real binary: the end of input after every
// single answer of each flow, answers of 100,000 characters, NUL bytes and
// lone carriage returns, in answers as in the configuration and help files.
// The run always ends, at once and with status 2 when an answer is missing,
// and never does a step whose answers it has not all read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

using e2e::ends_with;
using e2e::prompt;

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kStopped[] = "\nEnd of input, Quillor Install stopped\n";
const char kPressEnter[] = "\nPlease press enter to exit";

std::string line_after(const std::string &text, const std::string &key)
{
    size_t at = text.find("\n" + key + " ");
    if (at == std::string::npos) return "<missing>";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

std::string without(std::string s, char c)
{
    s.erase(std::remove(s.begin(), s.end(), c), s.end());
    return s;
}

// ---- end of input after every answer ----

// One line of a dialogue and where the installer waits for it: the help
// tag its log names when the input ends there ("the main menu" for the
// menu), or null for the final "press enter", where the end is normal.
struct Answer {
    std::string text;
    const char *waits_at;
};

// The index of the first answer that waits at `tag`, counting from `from`.
size_t index_of(const std::vector<Answer> &d, const std::string &tag, size_t from = 0)
{
    for (size_t i = from; i < d.size(); i++)
        if (d[i].waits_at && tag == d[i].waits_at) return i;
    return d.size();
}

// Runs the dialogue once for every number of lines given, from none to
// all, each time in a fresh tree that `prepare` sets up; `check` then looks
// at what the run left with `given` answers read.
void run_every_prefix(const std::vector<Answer> &dialogue, const std::function<void(const Sandbox &)> &prepare,
                      const std::function<void(const Sandbox &, size_t given, const e2e::Run &)> &check)
{
    for (size_t given = 0; given <= dialogue.size(); given++) {
        std::string input;
        for (size_t i = 0; i < given; i++) input += dialogue[i].text + "\n";
        const char *waits_at = given < dialogue.size() ? dialogue[given].waits_at : nullptr;
        SCOPED_TRACE("after " + std::to_string(given) + " answers, waiting at " + (waits_at ? waits_at : "the end"));
        Sandbox s;
        prepare(s);
        e2e::Run r = s.run(input, "", 30);
        ASSERT_FALSE(r.timed_out) << r.out;
        EXPECT_LT(r.seconds, e2e::under_wine() ? 20.0 : 5.0);  // Wine itself takes its time
        if (waits_at) {
            EXPECT_EQ(r.status, 2) << r.out;
            EXPECT_TRUE(ends_with(r.out, kStopped)) << r.out;
            EXPECT_NE(r.log.find("Error: end of input at " + std::string(waits_at) + ", installer stopped\n"),
                      std::string::npos)
                << r.log;
        } else {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_TRUE(ends_with(r.out, kPressEnter)) << r.out;
        }
        check(s, given, r);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Everything the install flow asks, with a second pass of the locations,
// help, a quit declined and the admin POP server.
std::vector<Answer> install_dialogue()
{
    std::vector<Answer> d = {{"1", "the main menu"}, {"?", "SCRIPTS"}};
    for (int pass = 0; pass < 2; pass++) {
        d.push_back({"", "SCRIPTS"});
        if (pass == 1) {
            d.push_back({"Q", "NEWSHOST"});
            d.push_back({"n", "NEWSHOST"});  // quitting declined: asked again
        }
        for (const char *tag :
             {"NEWSHOST", "DOMAIN", "TEMPLATES", "CACHE", "WWWROOT", "QLIMG", "BACK_ORIGINALS", "ORIGINALS"})
            d.push_back({"", tag});
        d.push_back({pass == 0 ? "y" : "", "CHANGE"});
    }
    for (const Answer &a : std::vector<Answer>{{"", "AUTH_USER_POP"},
                                               {"y", "AUTH_ADMIN_POP"},
                                               {"pop1", "POPHOST"},
                                               {"", "FORCE_LOGIN"},
                                               {"", "AUTH_NEWS"},
                                               {"", "AUTHENT_LOCAL"},
                                               {"", "AUTHENT_LOCAL_CREATE"},
                                               {"", "CHANGE"},
                                               {"", "USER"},
                                               {"", nullptr}})
        d.push_back(a);
    return d;
}

TEST(EndOfInput, InstallStopsAtEveryAnswerBeforeItsSteps)
{
    const std::vector<Answer> d = install_dialogue();
    const size_t copy_at = index_of(d, "CHANGE", index_of(d, "AUTH_USER_POP"));  // the last change question
    const size_t clean_at = index_of(d, "USER");
    const std::string shipped_ini = read_file(kSample + "/quillor.ini");
    run_every_prefix(
        d, [](const Sandbox &) {},
        [&](const Sandbox &s, size_t given, const e2e::Run &r) {
            bool copied = given > copy_at, cleaned = given > clean_at;
            EXPECT_EQ(!list_files(s.at("quillor")).empty(), copied);
            EXPECT_EQ(exists(s.at("inetpub/scripts/quillor.exe")), copied);
            if (!copied) {
                EXPECT_EQ(list_files(s.at("inetpub")), Files{});
                EXPECT_EQ(read_file(s.in_dist("quillor.ini")), shipped_ini);  // not rewritten
                EXPECT_FALSE(exists(s.in_dist("tempquillor.ini")));
            }
            EXPECT_EQ(exists(s.in_dist("tpl/index.tpl")), !cleaned);
            EXPECT_EQ(count(r.out, "Check install.log for details"), cleaned ? 1 : 0);  // the summary
        });
}

// An installation for the update and remove flows.
void install_old(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(s.at("inetpub/scripts/quillor.ini"),
               "templates \\site\\tpl\\\ncache_dir \\site\\cache\\\nworkarea \\site\\users\\\n");
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "old index");
    e2e::make_dirs(s.at("site/cache"));
    write_file(s.at("site/cache/group.1"), "cached");
    write_file(s.at("site/cache/keep.txt"), "kept");
    e2e::make_dirs(s.at("site/users"));
    write_file(s.at("site/users/bob.dat"), "bob");
}

TEST(EndOfInput, UpdateStopsAtEveryAnswerBeforeItsSteps)
{
    const std::vector<Answer> d = {{"2", "the main menu"},
                                   {"", "SCRIPTS"},
                                   {"?", "END"},
                                   {"", "END"},
                                   {"", "TEMPLATES"},
                                   {"", "CACHE"},
                                   {"", "WWWROOT"},
                                   {"", "QLIMG"},
                                   {"y", "DEL_TEMPLATES"},
                                   {"", "BACK_TEMPLATES"},
                                   {"\\bak\\", "BACKUP"},
                                   {"Q", "BACK_ORIGINALS"},
                                   {"n", "BACK_ORIGINALS"},
                                   {"", "BACK_ORIGINALS"},
                                   {"", "ORIGINALS"},
                                   {"", "CHANGE"},
                                   {"", "USER"},
                                   {"", nullptr}};
    const size_t cache_at = index_of(d, "END", index_of(d, "END") + 1);
    const size_t copy_at = index_of(d, "CHANGE");
    const size_t clean_at = index_of(d, "USER");
    run_every_prefix(d, install_old, [&](const Sandbox &s, size_t given, const e2e::Run &r) {
        bool uncached = given > cache_at, copied = given > copy_at, cleaned = given > clean_at;
        EXPECT_EQ(list_files(s.at("site/cache")), uncached ? Files{"keep.txt"} : (Files{"group.1", "keep.txt"}));
        EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")),
                  copied ? read_file(kSample + "/quillor.exe") : "old exe");
        EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), copied ? read_file(kSample + "/tpl/index.tpl") : "old index");
        EXPECT_EQ(list_files(s.at("bak")), copied ? Files{"index.tpl"} : Files{});
        EXPECT_EQ(exists(s.at("site/tpl/img")), copied);
        EXPECT_EQ(exists(s.in_dist("tpl/index.tpl")), !cleaned);
        EXPECT_EQ(count(r.out, "files copied"), cleaned ? 1 : 0);
    });
}

TEST(EndOfInput, RemoveStopsAtEveryAnswerBeforeItsSteps)
{
    std::vector<Answer> d = {{"3", "the main menu"}};
    for (int pass = 0; pass < 2; pass++) {
        d.push_back({"", "SCRIPTS"});
        if (pass == 1) d.push_back({"?", "CACHE"});
        for (const char *tag : {"CACHE", "TEMPLATES"}) d.push_back({"", tag});
        d.push_back({pass == 0 ? "y" : "", "WORKAREA_TRUE"});
        d.push_back({"", "WORKAREA"});
        if (pass == 1) {
            d.push_back({"Q", "BACK_ALL"});
            d.push_back({"n", "BACK_ALL"});
        }
        d.push_back({"", "BACK_ALL"});
        d.push_back({"", "BACKUP"});
        d.push_back({pass == 0 ? "y" : "", "CHANGE"});
    }
    d.push_back({"", "USER"});
    d.push_back({"", nullptr});
    const size_t remove_at = index_of(d, "CHANGE", index_of(d, "CHANGE") + 1);
    const size_t clean_at = index_of(d, "USER");
    run_every_prefix(d, install_old, [&](const Sandbox &s, size_t given, const e2e::Run &r) {
        bool removed = given > remove_at, cleaned = given > clean_at;
        EXPECT_EQ(exists(s.at("inetpub/scripts/quillor.exe")), !removed);
        EXPECT_EQ(exists(s.at("site/tpl")), !removed);
        EXPECT_EQ(exists(s.at("site/users/bob.dat")), !removed);
        EXPECT_EQ(list_files(s.at("backup")),
                  removed ? (Files{"bob.dat", "index.tpl", "quillor.exe", "quillor.ini"}) : Files{});
        EXPECT_EQ(exists(s.in_dist("tpl/index.tpl")), !cleaned);
        EXPECT_EQ(count(r.out, "No errors occured"), cleaned ? 1 : 0);
    });
}

TEST(EndOfInput, CarriageReturnsAloneEndNoLine)
{
    Sandbox s;
    e2e::Run r = s.run("1\r\r\r\r", "", 10);  // one line: the menu's, then nothing
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("** INSTALL **"), std::string::npos);
    EXPECT_NE(r.log.find("end of input at SCRIPTS, installer stopped"), std::string::npos) << r.log;
}

// ---- long lines, NUL bytes and lone carriage returns ----

TEST(LongLines, AnswersAreCutAt511CharactersAndTheRestIsNoAnswer)
{
    const std::string n100k(100000, 'n');
    Sandbox s;
    e2e::Run r = s.run(lines({"1" + std::string(99999, 'x'),
                              "\\" + std::string(99999, 'd'),  // SCRIPTS: refused, asked again
                              "",
                              n100k,
                              "dom",  // NEWSHOST of 100,000 characters
                              "Q",
                              n100k,
                              "",  // TEMPLATES: quitting declined at length
                              "",
                              "",
                              "",
                              "y" + std::string(99999, 'y'),
                              "",
                              n100k,  // CHANGE no
                              "",
                              "",
                              "",
                              "",
                              "",
                              "",
                              "",  //
                              "n",
                              ""}),
                       "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 3000);
    EXPECT_EQ(count(r.out, "please choose a value"), 0);
    EXPECT_NE(r.out.find("\ndirectory_test: directory name too long: \\" + std::string(510, 'd') + "\n"),
              std::string::npos);
    EXPECT_EQ(count(r.out, "What is the path to your cgi-bin/scripts directory?\n"), 2);
    EXPECT_EQ(count(r.out, "Where is your templates directory?\n"), 2);
    EXPECT_EQ(count(r.out, "Do you want to change any of your answers"), 2);  // one per loop
    EXPECT_NE(r.out.find("What is your domain? [" + std::string(511, 'n') + "]: "), std::string::npos);
    EXPECT_NE(r.out.find("\nNo errors occured\n"), std::string::npos);
    std::string ini = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_EQ(line_after(ini, "newshost"), std::string(501, 'n'));  // a line holds 510 characters
    EXPECT_EQ(line_after(ini, "domain"), "dom");
    EXPECT_EQ(line_after(ini, "templates"), "\\quillor\\");
    EXPECT_EQ(list_files(s.at("quillor/originals")).size(), 3u);
}

TEST(LongLines, NulBytesEndAnAnswerAndLoneCarriageReturnsAreNoPartOfIt)
{
    using namespace std::string_literals;
    Sandbox s;
    e2e::Run r = s.run(lines({"1\r",
                              "\\srv\\scripts\\\0\\junk\\"s,
                              "news\0evil"s,
                              "dom\r\r",
                              "\r",
                              "",
                              "",
                              "/pics\r",
                              "\0y"s,
                              "",
                              "n\r",  // BACK_ORIGINALS: an empty answer, the default
                              "y\r",
                              "n\0y"s,
                              "",
                              "",
                              "",
                              "",
                              "",
                              "n",
                              ""}),
                       "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out;
    std::string ini = read_file(s.at("srv/scripts/quillor.ini"));
    EXPECT_EQ(line_after(ini, "newshost"), "news");
    EXPECT_EQ(line_after(ini, "domain"), "dom");
    EXPECT_EQ(line_after(ini, "templates"), "\\quillor\\");
    EXPECT_EQ(line_after(ini, "qlimg"), "/pics");
    EXPECT_EQ(line_after(ini, "authent_pop"), "true");
    EXPECT_EQ(line_after(ini, "host_authent"), "<missing>");
    EXPECT_EQ(count(ini, "evil") + count(ini, "\r"), 0);
    EXPECT_EQ(list_files(s.at("srv")).size(), 2u + 4u);  // scripts: program and configuration; images
    EXPECT_EQ(list_files(s.at("srv/wwwroot/pics")).size(), 4u);
    EXPECT_EQ(list_files(s.at("quillor/originals")).size(), 3u);
    EXPECT_NE(r.out.find("http://dom/scripts/quillor.exe"), std::string::npos) << r.out;
}

TEST(LongLines, ConfigurationFileWithLongLinesNulBytesAndLoneReturns)
{
    Sandbox s;
    std::string ini = read_file(s.in_dist("quillor.ini"));
    auto replace = [&ini](const std::string &from, const std::string &to) {
        size_t at = ini.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        ini.replace(at, from.size(), to);
    };
    const std::string comment = "# " + std::string(100000, 'c');
    replace("newshost news.example.org\n", comment + "\nnewshost news\rold.org\n");
    replace("domain www.example.org\n", std::string("domain www.old\0evil.org\n", 24));
    replace("language en\n", std::string("lang\0uage en\nmotd hello\rworld\n", 30));
    ini += std::string(100000, 'x');  // a last line without its line end
    write_file(s.in_dist("quillor.ini"), ini);

    e2e::Run r = s.run(lines({"1", "", "news1", "dom1", "", "", "", "",  "", "", "",  //
                              "",  "", "",      "",     "", "", "", "n", ""}),
                       "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 3000);
    EXPECT_NE(r.out.find("\nNo errors occured\n"), std::string::npos);
    EXPECT_EQ(count(r.out, "evil"), 0);
    std::string installed = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_TRUE(installed == read_file(s.in_dist("quillor.ini")));
    for (const char *key : {"templates", "cache_dir", "newshost", "domain", "qlimg"})
        EXPECT_EQ(count(installed, "\n" + std::string(key) + " "), 1) << key;
    EXPECT_EQ(line_after(installed, "newshost"), "news1");
    EXPECT_EQ(line_after(installed, "domain"), "dom1");
    EXPECT_EQ(line_after(installed, "templates"), "\\quillor\\");
    EXPECT_NE(installed.find("\nmotd hello\rworld\n"), std::string::npos);  // unmanaged, kept as it was
    // long lines may be broken up, but not a byte of them is lost
    std::string joined = without(installed, '\n');
    EXPECT_NE(joined.find(comment), std::string::npos);
    EXPECT_NE(joined.find(std::string(100000, 'x')), std::string::npos);
}

TEST(LongLines, HelpFileWithLongLinesNulBytesAndLoneReturns)
{
    Sandbox s;
    std::string help = read_file(s.in_dist("install.hlp"));
    auto replace = [&help](const std::string &from, const std::string &to) {
        size_t at = help.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        help.replace(at, from.size(), to);
    };
    const std::string h100k(100000, 'h'), u100k(100000, 'u');
    replace("[SCRIPTS]\n", "[SCRIPTS]\nfirst\rline\n" + h100k + std::string("\nnul\0hidden\nlast line\n", 22));
    replace("[NEWSHOST]\n", "[NEWSHOST]\r");  // no line end: the header takes the next line in
    replace("[USER]", "[OLD_USER]");
    help += "[USER]\n" + u100k;  // the file ends inside its last line
    write_file(s.in_dist("install.hlp"), help);

    e2e::Run r = s.run(lines({"1", "?", "", "?", "", "", "", "",  "",  "", "", "", "",  //
                              "",  "",  "", "",  "", "", "", "?", "n", ""}),
                       "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 3000);
    EXPECT_NE(r.out.find("\nfirstline\n" + h100k + "\n"), std::string::npos);  // the first return goes
    EXPECT_NE(r.out.find("last line\nThe folder from which your web server runs CGI programs"), std::string::npos);
    EXPECT_EQ(count(r.out, "hidden"), 0);
    EXPECT_NE(r.out.find("]: \nfor example news.example.org.\n\nWhat is the IP address / name of your newshost?"),
              std::string::npos);
    EXPECT_NE(r.out.find("\n" + u100k + "\n"), std::string::npos);
    EXPECT_EQ(count(r.out, "What is the path to your cgi-bin/scripts directory?\n"), 2);
    EXPECT_NE(r.out.find("\nNo errors occured\n"), std::string::npos);
}

}  // namespace
