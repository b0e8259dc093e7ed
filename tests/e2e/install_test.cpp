// Install flow of the real binary: scripted answers in a scratch root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::lines;
using e2e::read_file;
using e2e::Sandbox;

namespace {

using e2e::ends_with;
using e2e::prompt;

const std::string kSample = QUILLOR_SAMPLE_DIR;
const std::string kIntro = "\n\n             ** INSTALL **\n\n"
                           "This installer will ask you a series of questions about what directories\n"
                           "Quillor's files are to be stored in.\n" +
                           std::string(e2e::kIntroCommon) +
                           "To see exactly what this installer has done, read the file \"install.log\"\n\n\n\n";
const char kNewshost[] = "What is the IP address / name of your newshost?\n";
const char kCookie[] = "Do you want to allow cookie login? (? for help)";
const char kCreate[] = "Do you want the cgi to automaticly create local accounts as required?\n(? for help)";
const char kOriginals[] = "Where do you want Quillor Install to put the copy of the default templates?\n";
const char kChange[] = "Do you want to change any of your answers";

// The default offered in a prompt's brackets, the first time it is shown.
std::string offered(const std::string &out, const std::string &q)
{
    size_t at = out.find(q + " [");
    if (at == std::string::npos) return "?";
    at += q.size() + 2;
    return out.substr(at, out.find("]: ", at) - at);
}

std::string line_after(const std::string &text, const std::string &key)
{
    size_t at = text.find("\n" + key + " ");
    if (at == std::string::npos) return "<missing>";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

// Enter at every question of an install from the menu on.
const std::string kAllDefaults = "1\n" + std::string(40, '\n');

TEST(InstallFlow, DefaultsGiveACompleteErrorFreeInstall)
{
    Sandbox s;
    e2e::Run r = s.run(kAllDefaults);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(kIntro), std::string::npos);
    std::string host = offered(r.out, kNewshost);
    EXPECT_EQ(offered(r.out, "What is your domain?"), host);  // the news host is offered as domain
    EXPECT_EQ(offered(r.out, "Where is your cache directory?\n"), "\\quillor\\cache\\");
    EXPECT_EQ(count(r.out, kCookie), 0);  // no forced login: cookie login is simply on

    EXPECT_EQ(e2e::list_files(s.at("inetpub")),
              (std::vector<std::string>{"scripts/quillor.exe", "scripts/quillor.ini", "wwwroot/qlimg/blank.gif",
                                        "wwwroot/qlimg/dot.gif", "wwwroot/qlimg/logo.png", "wwwroot/qlimg/new.png"}));
    EXPECT_EQ(e2e::list_files(s.at("quillor")),
              (std::vector<std::string>{"article.tpl", "charsets.dat", "groups.dat", "img/blank.gif", "img/dot.gif",
                                        "img/logo.png", "img/new.png", "index.tpl", "login.tpl", "manuals/index.htm",
                                        "manuals/install.htm", "manuals/templates.html", "originals/article.tpl",
                                        "originals/index.tpl", "originals/login.tpl"}));
    EXPECT_TRUE(e2e::is_dir(s.at("quillor/cache")));
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.at("quillor/groups.dat")), read_file(kSample + "/tpl/groups.dat"));
    EXPECT_EQ(read_file(s.at("quillor/originals/login.tpl")), read_file(kSample + "/tpl/login.tpl"));
    EXPECT_EQ(read_file(s.at("quillor/img/logo.png")), read_file(kSample + "/img/logo.png"));
    EXPECT_EQ(read_file(s.at("inetpub/wwwroot/qlimg/dot.gif")), read_file(kSample + "/img/dot.gif"));
    EXPECT_EQ(read_file(s.at("quillor/manuals/templates.html")), read_file(kSample + "/manuals/templates.html"));

    std::string ini = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_EQ(line_after(ini, "templates"), "\\quillor\\");
    EXPECT_EQ(line_after(ini, "cache_dir"), "\\quillor\\cache\\");
    EXPECT_EQ(line_after(ini, "newshost"), host);
    EXPECT_EQ(line_after(ini, "domain"), host);
    EXPECT_EQ(line_after(ini, "qlimg"), "/qlimg");
    EXPECT_EQ(line_after(ini, "authent_local"), "y");
    EXPECT_EQ(line_after(ini, "authent_cookie"), "y");
    EXPECT_EQ(line_after(ini, "language"), "en");  // unmanaged settings stay
    for (const char *gone : {"authent_pop", "authent_imap", "host_authent", "authent_news", "force_login"})
        EXPECT_EQ(line_after(ini, gone), "<missing>") << gone;

    // cleanup yes: the distribution's files are gone, the installer and its files stay
    EXPECT_EQ(e2e::list_files(s.dist), (std::vector<std::string>{"install.hlp", "install.log", e2e::program_name()}));
    EXPECT_TRUE(ends_with(r.out, "\n21 files copied\nNo errors occured\nCheck install.log for details\n\n"
                                 "Quillor' manuals have been copied too \\quillor\\manuals\\\n\n"
                                 "You should be able to use Quillor by entering the URL\n\t\thttp://" +
                                     host + "/scripts/quillor.exe\n\n\nPlease press enter to exit"))
        << r.out;
    EXPECT_NE(r.log.find("removed file .\\quillor.ini"), std::string::npos);
}

TEST(InstallFlow, ChangeRepeatsWithPreviousAnswersAndNoSecondDerivation)
{
    Sandbox s;
    e2e::Run r = s.run(lines({"1",
                              // first pass
                              "\\srv\\scripts\\", "news1", "dom1", "\\tp\\", "\\c1\\", "\\www1\\", "", "n", "yes",
                              // second pass: previous answers offered
                              "", "", "", "\\tp2\\", "", "", "", "", "",
                              // authentication, cleanup no
                              "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    // first pass derivations
    EXPECT_NE(r.out.find(prompt("What is your domain?", "news1")), std::string::npos);
    EXPECT_NE(r.out.find(prompt("Where is your cache directory?\n", "\\tp\\cache\\")), std::string::npos);
    EXPECT_NE(r.out.find(prompt("What is the path to your webserver/webpages directory?\n", "\\srv\\wwwroot\\")),
              std::string::npos);
    // second pass: the answers come back, nothing is derived again
    EXPECT_NE(r.out.find(prompt("What is the path to your cgi-bin/scripts directory?\n", "\\srv\\scripts\\")),
              std::string::npos);
    EXPECT_NE(r.out.find(prompt("What is your domain?", "dom1")), std::string::npos);
    EXPECT_NE(r.out.find(prompt("Where is your cache directory?\n", "\\c1\\")), std::string::npos);
    EXPECT_NE(r.out.find(prompt("What is the path to your webserver/webpages directory?\n", "\\www1\\")),
              std::string::npos);
    EXPECT_EQ(count(r.out, "\\tp2\\cache\\"), 0);
    EXPECT_NE(r.out.find(prompt(kChange, "nes")), std::string::npos);  // only the first letter is reset
    EXPECT_EQ(count(r.out, kOriginals), 0);                            // BACK_ORIGINALS no, twice

    std::string ini = read_file(s.at("srv/scripts/quillor.ini"));
    EXPECT_EQ(line_after(ini, "templates"), "\\tp2\\");
    EXPECT_EQ(line_after(ini, "cache_dir"), "\\c1\\");
    EXPECT_EQ(line_after(ini, "domain"), "dom1");
    EXPECT_EQ(line_after(ini, "newshost"), "news1");
    EXPECT_TRUE(e2e::exists(s.at("tp2/index.tpl")));
    EXPECT_TRUE(e2e::exists(s.at("www1/qlimg/logo.png")));
    EXPECT_FALSE(e2e::exists(s.at("quillor/originals")));
    EXPECT_NE(r.out.find("\n18 files copied\n"), std::string::npos);  // 21 without the three originals
    EXPECT_NE(r.out.find("http://dom1/scripts/quillor.exe"), std::string::npos);
    // cleanup no: the distribution is untouched apart from its rewritten configuration
    EXPECT_EQ(read_file(s.in_dist("tpl/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), ini);
}

TEST(InstallFlow, AuthenticationBranchesShapeTheConfiguration)
{
    Sandbox s;
    const std::vector<std::string> locations = {"1", "", "", "", "", "", "", "", "", "", ""};
    // every method, with a forced login: cookie login is asked; then a second pass keeps it all
    std::vector<std::string> a = locations;
    for (const char *x : {"y", "y", "pop1", "y", "y", "y", "n", "n", "y", "", "", "", "", "", "", "", "", "n", "", ""})
        a.push_back(x);
    e2e::Run r = s.run(lines(a));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, kCookie), 2);
    EXPECT_NE(r.out.find(prompt("What is the IP address / name of this POP3 server?\n", "pop1")), std::string::npos);
    std::string ini = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_EQ(count(ini, "\nauthent_pop true\nauthent_imap true\n"), 1);
    EXPECT_EQ(count(ini, "\nhost_authent true\nauthent_host pop1\nauthent_port 110\n"), 1);
    EXPECT_EQ(line_after(ini, "authent_news"), "y");
    EXPECT_EQ(line_after(ini, "force_login"), "y");
    EXPECT_EQ(line_after(ini, "authent_local"), "y");
    EXPECT_EQ(line_after(ini, "authent_local_create"), "<missing>");
    EXPECT_EQ(line_after(ini, "authent_cookie"), "<missing>");

    // no local accounts: neither local question is asked
    Sandbox t;
    std::vector<std::string> b = locations;
    for (const char *x : {"", "", "", "", "n", "", "n", ""}) b.push_back(x);
    r = t.run(lines(b));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, kCreate), 0);
    EXPECT_EQ(count(r.out, kCookie), 0);
    EXPECT_EQ(count(r.out, "What is the IP address / name of this POP3 server?"), 0);
    ini = read_file(t.at("inetpub/scripts/quillor.ini"));
    EXPECT_EQ(line_after(ini, "authent_local"), "<missing>");
    EXPECT_EQ(line_after(ini, "authent_pop"), "<missing>");
}

TEST(InstallFlow, InstalledApplicationHandsOverToUpdateAndEndsWithIt)
{
    Sandbox s;
    e2e::make_dirs(s.at("inetpub/scripts"));
    e2e::write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\old\\\ndomain old.example\n");
    // update accepted, then the cache clear declined: nothing at all happens
    e2e::Run r = s.run(lines({"1", "", "y", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("** UPDATE **"), std::string::npos);
    EXPECT_TRUE(ends_with(r.out, prompt("Do you want to continue?", "y") + "\nPlease press enter to exit")) << r.out;
    EXPECT_EQ(count(r.out, kNewshost), 0);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), "templates \\old\\\ndomain old.example\n");
    EXPECT_FALSE(e2e::exists(s.at("inetpub/scripts/quillor.exe")));

    // declining the update installs over it
    r = s.run(kAllDefaults.substr(0, 3) + "n\n" + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "** UPDATE **"), 0);
    EXPECT_NE(r.out.find("\nNo errors occured\n"), std::string::npos);
    EXPECT_TRUE(e2e::exists(s.at("inetpub/scripts/quillor.exe")));
}

TEST(InstallFlow, QuitStopsBeforeTheNextStep)
{
    Sandbox s;
    // quit at the last question before anything is written
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "Q", ""}));
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(ends_with(r.out, "Do you really want to exit? [y]:\nGoodbye :-)\n")) << r.out;
    EXPECT_EQ(e2e::list_files(s.at("inetpub")), std::vector<std::string>{});
    EXPECT_EQ(e2e::list_files(s.at("quillor")), std::vector<std::string>{});
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(kSample + "/quillor.ini"));

    // quit at the cleanup question: everything is copied, nothing is cleaned, no summary
    r = s.run(lines({"1", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "Q", ""}));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, "files copied"), 0);
    EXPECT_EQ(e2e::list_files(s.at("quillor")).size(), 15u);
    EXPECT_TRUE(e2e::exists(s.in_dist("tpl/index.tpl")));
}

}  // namespace
