// Faults of the file system under the real binary: a disk that fills up
// while files are copied, a read-only destination, an unreadable source, a
// destination taken by something else, links that loop, and an install.log
// that cannot be written.  Whatever fails, the run ends, counts and reports
// the failed steps, says in the log what failed, and never leaves a
// damaged file where a good one stood.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "harness.h"

using e2e::count;
using e2e::exists;
using e2e::lines;
using e2e::list_files;
using e2e::read_file;
using e2e::RunOptions;
using e2e::Sandbox;
using e2e::write_file;
using Files = std::vector<std::string>;

namespace {

const std::string kSample = QUILLOR_SAMPLE_DIR;
const char kNoSpace[] = "No space left on device";
const char kTooLarge[] = "File too large";
const char kNoErrors[] = "No errors occured";

// Enter everywhere, keeping the distribution: menu, ten location answers,
// seven authentication answers, cleanup no, the final Enter.
const std::string kInstall = lines({"1", "", "", "", "", "", "", "",  "", "", "",  //
                                    "",  "", "", "", "", "", "", "n", ""});

std::string copy_errors(int n)
{
    return "\n" + std::to_string(n) + " errors occured during copying, check install.log for details\n";
}

// Bytes that cannot pass for a shorter copy of themselves.
std::string big_content(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = (char)('a' + (i * 31 + i / 997) % 26);
    return s;
}
const size_t kBig = 400 * 1024;  // more than the small disk holds

// A disk too small for the big file at rel: a 256 KB tmpfs when the test
// runs as root, else a 128 KB file size limit on the whole installer.  Sets
// *why to the reason the log will give; false when neither can be had.
bool small_disk(Sandbox &s, const std::string &rel, RunOptions &opt, std::string *why)
{
    if (s.mount_tmpfs(rel, "256k")) {
        *why = kNoSpace;
        return true;
    }
    if (e2e::under_wine()) return false;  // wineserver would inherit the limit
    e2e::make_dirs(s.at(rel));
    opt.file_size_limit = 128 * 1024;
    *why = kTooLarge;
    return true;
}

// The log line copy_file writes for a file it could not copy, with the
// reason (under Wine, whatever errno the C runtime made of it).
bool logged_failure(const e2e::Run &r, const std::string &from, const std::string &to, const std::string &why)
{
    std::string head = "Error: copy_file: could not copy " + from + " to " + to + " {";
    size_t at = r.log.find(head);
    if (at == std::string::npos) return false;
    return e2e::under_wine() || r.log.find(why, at) < r.log.find('\n', at);
}

// Every file below dir is one of the byte strings allowed for it: the new
// copy or the old one, never a piece of either and never a temporary file.
void expect_only_whole_files(const std::string &dir, const std::map<std::string, std::vector<std::string>> &allowed)
{
    for (const std::string &f : list_files(dir)) {
        auto it = allowed.find(f);
        if (it == allowed.end()) {
            ADD_FAILURE() << "unexpected file " << f << " in " << dir;
            continue;
        }
        std::string got = read_file(dir + "/" + f);
        bool whole = false;
        for (const std::string &ok : it->second) whole = whole || got == ok;
        EXPECT_TRUE(whole) << f << " holds " << got.size() << " bytes that are neither copy";
    }
}

// What a clean run of the same dialogue leaves: its console and configuration.
struct Reference {
    e2e::Run run;
    std::string ini;
};
Reference clean_install(const std::string &input)
{
    Sandbox s;
    Reference ref;
    ref.run = s.run(input);
    ref.ini = read_file(s.at("inetpub/scripts/quillor.ini"));
    return ref;
}

// ---- disk full ----

TEST(DiskFull, InstallCountsTheFailedStepsAndKeepsEveryFileWhole)
{
    Sandbox s;
    RunOptions opt;
    std::string why;
    if (!small_disk(s, "quillor", opt, &why)) GTEST_SKIP() << "no small file system and no file size limit";
    const std::string big = big_content(kBig);
    write_file(s.in_dist("tpl/index.tpl"), big);
    write_file(s.at("quillor/index.tpl"), "old good index\n");  // an earlier installation
    write_file(s.at("quillor/login.tpl"), "old login\n");
    e2e::make_dirs(s.at("quillor/originals"));
    write_file(s.at("quillor/originals/index.tpl"), "old original\n");

    e2e::Run r = s.run(kInstall, opt);
    ASSERT_EQ(r.status, 0) << r.out;
    // the templates and the pristine copy each lost index.tpl; the rest went on
    EXPECT_NE(r.out.find(copy_errors(2) + "\nPlease press enter to exit"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, kNoErrors), 0);
    EXPECT_TRUE(logged_failure(r, ".\\tpl\\index.tpl", "\\quillor\\index.tpl", why)) << r.log;
    EXPECT_TRUE(logged_failure(r, ".\\tpl\\index.tpl", "\\quillor\\originals\\index.tpl", why)) << r.log;

    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), "old good index\n");
    EXPECT_EQ(read_file(s.at("quillor/originals/index.tpl")), "old original\n");
    EXPECT_EQ(read_file(s.at("quillor/login.tpl")), read_file(kSample + "/tpl/login.tpl"));
    std::map<std::string, std::vector<std::string>> allowed = {{"index.tpl", {"old good index\n"}},
                                                               {"originals/index.tpl", {"old original\n"}}};
    for (const char *t : {"article.tpl", "login.tpl", "charsets.dat", "groups.dat"}) {
        allowed[t] = {read_file(kSample + "/tpl/" + t)};
        if (std::string(t).find(".tpl") != std::string::npos) allowed["originals/" + std::string(t)] = allowed[t];
    }
    for (const std::string &f : list_files(kSample + "/img")) allowed["img/" + f] = {read_file(kSample + "/img/" + f)};
    for (const char *m : {"index.htm", "install.htm", "templates.html"})
        allowed["manuals/" + std::string(m)] = {read_file(kSample + "/manuals/" + m)};
    expect_only_whole_files(s.at("quillor"), allowed);
    EXPECT_EQ(list_files(s.at("quillor")).size(), allowed.size());  // everything else arrived

    // the configuration, in the distribution and installed, is whole
    Reference ref = clean_install(kInstall);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), ref.ini);
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), ref.ini);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_TRUE(read_file(s.in_dist("tpl/index.tpl")) == big);
}

// Puts the whole distribution folder on a tmpfs with `spare` bytes free
// beyond what it holds (root only); false when it cannot be had.
bool dist_on_small_disk(Sandbox &s, size_t spare)
{
    if (geteuid() != 0) return false;
    size_t bytes = spare;
    for (const std::string &f : list_files(s.dist)) bytes += (read_file(s.in_dist(f)).size() + 4095) / 4096 * 4096;
    std::string keep = s.at("dist.kept");
    if (rename(s.dist.c_str(), keep.c_str()) != 0) return false;
    if (!s.mount_tmpfs("dist", std::to_string(bytes / 1024 + 1) + "k")) {
        rename(keep.c_str(), s.dist.c_str());
        return false;
    }
    return system(("cp -R '" + keep + "/.' '" + s.dist + "' && rm -rf '" + keep + "'").c_str()) == 0;
}

TEST(DiskFull, ConfigurationRewriteThatCannotBeWrittenKeepsTheOldFileAndCounts)
{
    Sandbox s;
    std::string shipped = read_file(s.in_dist("quillor.ini"));
    for (int i = 0; i < 2500; i++) shipped += "# a long explanation, one of many lines that make the file large\n";
    write_file(s.in_dist("quillor.ini"), shipped);  // about 160 KB
    RunOptions opt;
    bool limited = false;
    if (!dist_on_small_disk(s, 64 * 1024)) {
        if (e2e::under_wine()) GTEST_SKIP() << "no small file system and no file size limit";
        opt.file_size_limit = 128 * 1024;  // the copy into the scripts folder fails too
        limited = true;
    }
    e2e::Run r = s.run(kInstall, opt);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\nset_ini: error writing to .\\tempquillor.ini\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nset_ini: .\\quillor.ini left unchanged\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(copy_errors(limited ? 2 : 1)), std::string::npos) << r.out;
    EXPECT_TRUE(read_file(s.in_dist("quillor.ini")) == shipped);
    EXPECT_FALSE(exists(s.in_dist("tempquillor.ini")));
    if (limited)
        EXPECT_FALSE(exists(s.at("inetpub/scripts/quillor.ini")));
    else
        EXPECT_TRUE(read_file(s.at("inetpub/scripts/quillor.ini")) == shipped);
    EXPECT_EQ(list_files(s.at("quillor")).size(), 15u);  // the rest went on
}

// Fills the file system holding dir to the last byte.
void fill_up(const std::string &dir)
{
    FILE *f = fopen((dir + "/filler").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    setvbuf(f, nullptr, _IONBF, 0);
    const std::string block(4096, 'f');
    while (fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    for (char c = 'f'; fwrite(&c, 1, 1, f) == 1;) {
    }
    fclose(f);
}

// Small files fit the streams' buffers whole: a disk that is already full
// refuses them only when they are flushed, at the latest inside fclose.
TEST(DiskFull, FullDiskFailsSmallCopiesAndTheRewriteWithoutEmptyFiles)
{
    {
        Sandbox s;
        if (!s.mount_tmpfs("quillor", "256k")) GTEST_SKIP() << "no small file system";
        e2e::make_dirs(s.at("quillor/originals"));
        e2e::make_dirs(s.at("quillor/img"));
        e2e::make_dirs(s.at("quillor/manuals"));
        fill_up(s.at("quillor"));
        e2e::Run r = s.run(kInstall);
        ASSERT_EQ(r.status, 0) << r.out;
        // templates, originals, the images beside them and the manuals
        EXPECT_NE(r.out.find(copy_errors(4)), std::string::npos) << r.out;
        EXPECT_EQ(count(r.out, kNoErrors), 0);
        EXPECT_EQ(list_files(s.at("quillor")), Files{"filler"});  // not one empty template
        EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    }
    {
        Sandbox s;
        const std::string shipped = read_file(s.in_dist("quillor.ini"));
        if (!dist_on_small_disk(s, 0)) GTEST_SKIP() << "no small file system";
        fill_up(s.dist);
        e2e::Run r = s.run(kInstall);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\nset_ini: .\\quillor.ini left unchanged\n"), std::string::npos) << r.out;
        EXPECT_EQ(read_file(s.in_dist("quillor.ini")), shipped);  // never an empty file
        EXPECT_FALSE(exists(s.in_dist("tempquillor.ini")));
        EXPECT_EQ(count(r.out, kNoErrors), 0);
    }
}

const std::string kInstalledIni = "templates \\site\\tpl\\\n"
                                  "cache_dir \\site\\cache\\\n"
                                  "domain www.installed.org\n"
                                  "qlimg /pics\n";

TEST(DiskFull, UpdateKeepsTheInstalledTemplatesAndConfiguration)
{
    Sandbox s;
    RunOptions opt;
    std::string why;
    if (!small_disk(s, "site/tpl", opt, &why)) GTEST_SKIP() << "no small file system and no file size limit";
    write_file(s.in_dist("tpl/index.tpl"), big_content(kBig));
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), kInstalledIni);
    write_file(s.at("site/tpl/index.tpl"), "old index");
    write_file(s.at("site/tpl/custom.tpl"), "mine");
    e2e::make_dirs(s.at("inetpub/wwwroot/pics"));

    // replace the templates with a backup in \bak\, keep the originals, no cleanup
    e2e::Run r = s.run(lines({"2", "", "", "", "", "", "", "y", "", "\\bak\\", "", "", "", "n", ""}), opt);
    ASSERT_EQ(r.status, 0) << r.out;
    // the templates' *.tpl step and the pristine copy (below the templates) failed
    EXPECT_NE(r.out.find(copy_errors(2) + "\nPlease press enter to exit"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "files backed up"), 0);
    EXPECT_TRUE(logged_failure(r, ".\\tpl\\index.tpl", "\\site\\tpl\\index.tpl", why)) << r.log;

    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "old index");
    EXPECT_EQ(read_file(s.at("bak/index.tpl")), "old index");
    EXPECT_EQ(read_file(s.at("site/tpl/custom.tpl")), "mine");
    EXPECT_EQ(read_file(s.at("site/tpl/groups.dat")), read_file(kSample + "/tpl/groups.dat"));
    EXPECT_FALSE(exists(s.at("site/tpl/originals/index.tpl")));
    EXPECT_EQ(read_file(s.at("site/tpl/originals/login.tpl")), read_file(kSample + "/tpl/login.tpl"));
    for (const std::string &f : list_files(s.at("site/tpl"))) EXPECT_EQ(f.find("~qcp"), std::string::npos) << f;
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), kInstalledIni);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), read_file(kSample + "/quillor.ini"));
}

TEST(DiskFull, RemoveKeepsWhatItCouldNotBackUp)
{
    Sandbox s;
    RunOptions opt;
    std::string why;
    if (!small_disk(s, "backup", opt, &why)) GTEST_SKIP() << "no small file system and no file size limit";
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\nworkarea \\site\\users\\\n");
    e2e::make_dirs(s.at("site/tpl/img"));
    const std::string big = big_content(kBig);
    write_file(s.at("site/tpl/archive.dat"), big);  // more than the backup disk takes
    write_file(s.at("site/tpl/index.tpl"), "tpl");
    e2e::make_dirs(s.at("site/users"));
    write_file(s.at("site/users/bob.dat"), "bob");

    // back everything up into \backup\, work area included, no cleanup
    e2e::Run r = s.run(lines({"3", "", "", "", "y", "", "", "", "", "n", ""}), opt);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\n1 errors occured during removing, check install.log for details\n"), std::string::npos)
        << r.out;
    EXPECT_TRUE(logged_failure(r, "\\site\\tpl\\archive.dat", "\\backup\\archive.dat", why)) << r.log;
    EXPECT_NE(r.out.find("\nremove_flow: backup of \\site\\tpl\\ failed, nothing removed there\n"), std::string::npos)
        << r.out;
    // the templates stay whole; what was backed up went
    EXPECT_TRUE(read_file(s.at("site/tpl/archive.dat")) == big);
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl");
    EXPECT_FALSE(exists(s.at("backup/archive.dat")));
    EXPECT_EQ(list_files(s.at("inetpub/scripts")), Files{});
    EXPECT_EQ(read_file(s.at("backup/quillor.exe")), "exe");
    EXPECT_FALSE(exists(s.at("site/users")));
    EXPECT_EQ(read_file(s.at("backup/bob.dat")), "bob");
}

// The backup is written, but a folder it went to cannot be opened to make
// it durable (its read permission is gone): nothing it saved is removed.
TEST(DiskFull, RemoveKeepsWhatItsBackupCouldNotMakeDurable)
{
    Sandbox s;
    if (!e2e::can_run_as_nobody()) GTEST_SKIP() << "needs user nobody: root opens every folder";
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\n");
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "tpl");
    e2e::make_dirs(s.at("backup"));
    s.give_to_nobody();
    ASSERT_EQ(chmod(s.at("backup").c_str(), 0333), 0);
    RunOptions opt;
    opt.as_nobody = true;
    e2e::Run r = s.run(lines({"3", "", "", "", "n", "y", "\\backup\\", "", "n", ""}), opt);
    chmod(s.at("backup").c_str(), 0755);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\n2 errors occured during removing, check install.log for details\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.log.find("Error: remove_flow: backup of \\site\\tpl\\ failed, nothing removed there"),
              std::string::npos);
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl");
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), "exe");
}

// ---- permissions and paths taken by something else ----

TEST(Permissions, ReadOnlyTemplatesDirectoryFailsItsStepsAndStaysAsItWas)
{
    Sandbox s;
    bool mounted = s.mount_tmpfs("quillor", "1m");
    if (!mounted && geteuid() == 0) GTEST_SKIP() << "root writes everywhere and no read-only mount could be made";
    if (!mounted && e2e::under_wine()) GTEST_SKIP() << "Wine keeps no POSIX permission bits";
    e2e::make_dirs(s.at("quillor"));
    write_file(s.at("quillor/index.tpl"), "old index\n");
    if (mounted ? !s.remount_readonly("quillor") : chmod(s.at("quillor").c_str(), 0555) != 0)
        GTEST_SKIP() << "the templates directory could not be made read-only";

    // cache and originals elsewhere: a read-only directory cannot hold them
    e2e::Run r = s.run(lines({"1", "", "", "", "", "\\cache\\", "", "", "n", "",  //
                              "", "", "", "", "", "", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    // the templates, the images beside them and the manuals
    EXPECT_NE(r.out.find(copy_errors(3)), std::string::npos) << r.out;
    const std::string why = mounted ? "Read-only file system" : "Permission denied";
    EXPECT_TRUE(logged_failure(r, ".\\tpl\\index.tpl", "\\quillor\\index.tpl", why)) << r.log;
    EXPECT_EQ(list_files(s.at("quillor")), Files{"index.tpl"});
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), "old index\n");
    // the steps outside it went through
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), read_file(kSample + "/quillor.exe"));
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/qlimg")).size(), 4u);
}

TEST(Permissions, UnreadableSourceFileIsReportedAndNothingIsMadeForIt)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Wine keeps no POSIX permission bits";
    Sandbox s;
    RunOptions opt;
    if (geteuid() == 0) {
        if (!e2e::can_run_as_nobody()) GTEST_SKIP() << "root reads everything";
        s.give_to_nobody();
        opt.as_nobody = true;
    }
    ASSERT_EQ(chmod(s.in_dist("tpl/login.tpl").c_str(), 0), 0);
    e2e::Run r = s.run(kInstall, opt);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // the templates and the pristine copy each miss login.tpl
    EXPECT_NE(r.out.find(copy_errors(2)), std::string::npos) << r.out;
    EXPECT_TRUE(logged_failure(r, ".\\tpl\\login.tpl", "\\quillor\\login.tpl", "Permission denied")) << r.log;
    EXPECT_FALSE(exists(s.at("quillor/login.tpl")));  // not even an empty file
    EXPECT_FALSE(exists(s.at("quillor/originals/login.tpl")));
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(list_files(s.at("quillor/manuals")).size(), 3u);
}

TEST(Permissions, TemplatesPathThatIsAFileIsRefusedAtItsQuestionAndLeftAlone)
{
    Sandbox s;
    write_file(s.at("quillor"), "a file, not a folder\n");
    // the offered \quillor\ is refused and asked again; cache and originals elsewhere
    e2e::Run r = s.run(lines({"1", "", "", "", "", "\\site\\", "\\cache\\", "",  "", "n", "",  //
                              "",  "", "", "", "", "",         "",          "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\ndirectory_test: \\quillor is a file, not a folder\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No errors occured"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.at("quillor")), "a file, not a folder\n");
    EXPECT_EQ(read_file(s.at("site/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    EXPECT_EQ(list_files(s.at("inetpub/wwwroot/qlimg")).size(), 4u);
}

TEST(Permissions, TargetNameTakenByAFolderFailsThatFileOnly)
{
    Sandbox s;
    e2e::make_dirs(s.at("quillor/index.tpl"));
    write_file(s.at("quillor/index.tpl/keep"), "keep");
    e2e::Run r = s.run(kInstall);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(copy_errors(1)), std::string::npos) << r.out;  // the templates step
    EXPECT_NE(r.log.find("could not copy .\\tpl\\index.tpl to \\quillor\\index.tpl"), std::string::npos) << r.log;
    EXPECT_EQ(read_file(s.at("quillor/index.tpl/keep")), "keep");
    EXPECT_EQ(read_file(s.at("quillor/login.tpl")), read_file(kSample + "/tpl/login.tpl"));
    EXPECT_EQ(read_file(s.at("quillor/originals/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
}

// ---- symbolic links ----

TEST(Links, LoopsInTheSourceAreNeverFollowed)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Sandbox s;
    ASSERT_EQ(symlink("loop", s.in_dist("tpl/loop").c_str()), 0);  // itself
    ASSERT_EQ(symlink("..", s.in_dist("tpl/up").c_str()), 0);      // the distribution
    ASSERT_EQ(symlink("../..", s.in_dist("tpl/mail/top").c_str()), 0);
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "", "", "",  //
                              "",  "", "", "", "", "", "", "", ""}),
                       "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(copy_errors(1)), std::string::npos) << r.out;  // the templates step
    EXPECT_NE(r.log.find("could not copy .\\tpl\\loop to \\quillor\\loop"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("could not copy .\\tpl\\up to \\quillor\\up"), std::string::npos) << r.log;
    EXPECT_FALSE(exists(s.at("quillor/loop")));
    EXPECT_FALSE(exists(s.at("quillor/up")));
    EXPECT_EQ(read_file(s.at("quillor/index.tpl")), read_file(kSample + "/tpl/index.tpl"));
    // the cleanup took the links themselves, never what they point at
    EXPECT_EQ(list_files(s.dist), (Files{"install.hlp", "install.log", e2e::program_name()}));
    EXPECT_TRUE(exists(s.in_dist("install.hlp")));
}

TEST(Links, RemoveTakesLinksAwayWithoutEnteringThem)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Sandbox s;
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\n");
    e2e::make_dirs(s.at("site/tpl/sub"));
    e2e::make_dirs(s.at("precious"));
    write_file(s.at("precious/data"), "keep me");
    write_file(s.at("site/tpl/index.tpl"), "tpl");
    ASSERT_EQ(symlink("sub", s.at("site/tpl/sub/loop").c_str()), 0);
    ASSERT_EQ(symlink("..", s.at("site/tpl/sub/up").c_str()), 0);
    ASSERT_EQ(symlink(s.at("precious").c_str(), s.at("site/tpl/elsewhere").c_str()), 0);

    // no backup, no work area, no cleanup
    e2e::Run r = s.run(lines({"3", "", "", "", "", "n", "", "n", ""}), "", 10);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(exists(s.at("site/tpl")));
    EXPECT_EQ(read_file(s.at("precious/data")), "keep me");
    EXPECT_NE(r.out.find("No errors occured"), std::string::npos) << r.out;
}

// ---- install.log ----

TEST(InstallLog, ThatCannotBeOpenedIsSwitchedOffSilently)
{
    Reference ref = clean_install(kInstall);
    Sandbox s;
    e2e::make_dirs(s.in_dist("install.log"));  // a folder cannot be opened for appending
    e2e::Run r = s.run(kInstall);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, ref.run.out);  // not a word more
    EXPECT_EQ(list_files(s.in_dist("install.log")), Files{});
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), ref.ini);
}

TEST(InstallLog, WriteFailingAtOnceIsReportedOnceAndTheInstallGoesOn)
{
    if (e2e::under_wine()) GTEST_SKIP() << "wineserver would inherit the file size limit";
    Reference ref = clean_install(kInstall);
    Sandbox s;
    const std::string full(1500, 'x');
    write_file(s.in_dist("install.log"), full);  // already at the size limit: every write fails
    RunOptions opt;
    opt.file_size_limit = 1500;
    e2e::Run r = s.run(kInstall, opt);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "Error printing to log file\n" + ref.run.out);
    EXPECT_EQ(read_file(s.in_dist("install.log")), full);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), ref.ini);
}

TEST(InstallLog, ThatIsALinkOrADeviceIsNeverWrittenThrough)
{
    if (e2e::under_wine()) GTEST_SKIP() << "Windows programs see no POSIX links";
    Reference ref = clean_install(kInstall);
    for (const std::string target : {"outside", "/dev/full", "/dev/null"}) {
        Sandbox s;
        const std::string outside = s.top + "/outside.log";
        write_file(outside, "not the installer's\n");
        ASSERT_EQ(symlink(target == "outside" ? outside.c_str() : target.c_str(), s.in_dist("install.log").c_str()), 0);
        e2e::Run r = s.run(kInstall);
        ASSERT_EQ(r.status, 0) << target << r.out;
        EXPECT_EQ(r.out, ref.run.out) << target;  // switched off, as a log that cannot be opened
        EXPECT_EQ(read_file(outside), "not the installer's\n") << target;
        EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), ref.ini) << target;
    }
}

TEST(InstallLog, WriteFailingMidwayIsReportedOnceAndTheInstallGoesOn)
{
    if (e2e::under_wine()) GTEST_SKIP() << "wineserver would inherit the file size limit";
    Reference ref = clean_install(kInstall);
    ASSERT_GT(ref.run.log.size(), 2000u);
    Sandbox s;
    RunOptions opt;
    opt.file_size_limit = 1500;  // above every file the install writes but its log
    e2e::Run r = s.run(kInstall, opt);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string said = "Error printing to log file\n";
    ASSERT_EQ(count(r.out, said), 1) << r.out;
    std::string rest = r.out;
    rest.erase(rest.find(said), said.size());
    EXPECT_EQ(rest, ref.run.out);
    EXPECT_LE(r.log.size(), 1500u);
    EXPECT_GT(r.log.size(), 1000u);
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.ini")), ref.ini);
    EXPECT_EQ(list_files(s.at("quillor")).size(), 15u);
}

}  // namespace
