// What the real binary's guards see through the spelling of a path: drive
// roots, the distribution folder and the backup under other names (another
// drive letter, a short name, a second mount), the folder check started by
// a relative path, configurations holding a Ctrl-Z byte, "/" in answers and
// read-only files.  Each case runs on POSIX and under Wine where it can be
// made there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

const char kRefused[] = "\nremove_flow: refusing to delete files in ";
const char kNotice[] = "\n\nQuillor Install must be run from inside the Quillor temporary files folder\n"
                       "This folder must be the current directory";

std::string errors_line(int n)
{
    return "\n" + std::to_string(n) + " errors occured during removing, check install.log for details\n";
}

// An installation to remove, and files in the drive root that nothing may
// delete.  Run again before each removal: the program's files go each time.
void install_old(const Sandbox &s)
{
    e2e::make_dirs(s.at("inetpub/scripts"));
    write_file(s.at("inetpub/scripts/quillor.exe"), "exe");
    write_file(s.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\n");
    e2e::make_dirs(s.at("site/tpl"));
    write_file(s.at("site/tpl/index.tpl"), "tpl");
    write_file(s.at("keep.txt"), "root file");
    e2e::make_dirs(s.at("docs"));
    write_file(s.at("docs/readme.txt"), "doc");
}

// A remove with the templates answered by `tpl`, no work area, a backup
// into `backup` when one is given, and no clean-up.
std::string remove_answers(const std::string &tpl, const std::string &backup = "")
{
    std::vector<std::string> a = {"3", "", "", tpl, "n"};
    if (backup.empty()) {
        a.push_back("n");
    } else {
        a.push_back("y");
        a.push_back(backup);
    }
    for (const char *x : {"", "n", ""}) a.push_back(x);
    return lines(a);
}

// A host path as Wine's drive Z: (the host's "/") names it.
std::string z_path(const std::string &host)
{
    std::string p = "Z:" + host;
    for (char &c : p)
        if (c == '/') c = '\\';
    return p;
}

bool have_z_drive()
{
    const char *dev = getenv("QUILLOR_E2E_WINE_DOSDEVICES");
    return dev && exists(std::string(dev) + "/z:");
}

// ---- drive roots ----

TEST(Guards, EverySpellingOfADriveRootIsRefused)
{
    Sandbox s;
    std::vector<std::string> roots = {"\\.\\", "/.", "\\docs\\..", "\\..\\", "\\docs\\..\\.\\", "..\\", "/"};
    // under Wine: another drive with files of its own, spelt every way
    // Windows reads as its root, and the root of this drive by other names
    e2e::make_dirs(s.at("other/docs"));
    write_file(s.at("other/keep.txt"), "other drive");
    std::string e = s.map_drive("other");
    if (!e.empty()) {
        for (const char *tail : {".", "\\.\\", "/.", "\\docs\\.."}) roots.push_back(e + tail);
        roots.push_back(std::string(1, (char)tolower((unsigned char)e[0])) + ":\\..\\");
        roots.push_back("\\\\?\\" + e + "\\");
        roots.push_back("\\\\.\\" + e + "\\");
        roots.push_back("\\\\.\\" + e);
        roots.push_back("\\??\\" + e + "\\");  // the system's own prefix, passed on unchanged
        std::string f = s.map_drive("");
        roots.push_back(f + "\\");
        roots.push_back(f);
        if (have_z_drive()) roots.push_back(z_path(s.root) + "\\");
    } else if (!e2e::under_wine()) {  // a link from inside the root to a folder above it
        ASSERT_EQ(symlink(s.top.c_str(), s.at("up").c_str()), 0);
        roots.push_back("\\up\\");
    }
    for (const std::string &root : roots) {
        install_old(s);
        e2e::Run r = s.run(remove_answers(root));
        ASSERT_EQ(r.status, 0) << root << "\n" << r.out;
        std::string kept = e2e::ends_with(root, "\\") ? root : root + "\\";  // as the question stores it
        if (e2e::ends_with(root, "/")) kept = root.substr(0, root.size() - 1) + "\\";  // "/" is the separator
        EXPECT_NE(r.out.find(kRefused + kept + ": it is a drive root\n"), std::string::npos) << root << "\n" << r.out;
        EXPECT_NE(r.out.find(errors_line(1)), std::string::npos) << root << "\n" << r.out;
        EXPECT_EQ(read_file(s.at("keep.txt")), "root file") << root;
        EXPECT_EQ(read_file(s.at("docs/readme.txt")), "doc") << root;
        EXPECT_EQ(read_file(s.at("other/keep.txt")), "other drive") << root;
        EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl") << root;
        EXPECT_TRUE(exists(s.in_dist(e2e::program_name()))) << root;
    }
    if (e2e::under_wine()) return;
    // the same link as the scripts folder: the program found there stays
    write_file(s.top + "/quillor.exe", "exe above");
    write_file(s.top + "/quillor.ini", "templates \\site\\tpl\\\n");
    install_old(s);
    e2e::Run r = s.run(lines({"3", "\\up\\", "", "\\site\\tpl\\", "n", "n", "", "n", ""}));
    EXPECT_NE(r.out.find("\nremove_flow: refusing to delete quillor.* in \\up\\: it is a drive root\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(s.top + "/quillor.exe"), "exe above");
    EXPECT_EQ(read_file(s.at("keep.txt")), "root file");
}

// ---- the distribution folder and the backup under other names ----

TEST(Guards, TheDistributionFolderUnderAnotherNameIsRefused)
{
    Sandbox s;
    Files dist_before = list_files(s.dist);
    std::vector<std::string> names;
    if (s.mount_bind("dist", "bound")) names.push_back("\\bound\\");  // the same folder mounted twice
    std::string f = s.map_drive("");
    if (!f.empty()) names.push_back(f + "\\dist\\");  // another drive letter for the same place
    if (!f.empty()) names.push_back("\\??\\" + s.drive + "\\dist\\");
    if (!f.empty() && have_z_drive()) names.push_back(z_path(s.dist) + "\\");
    if (names.empty()) GTEST_SKIP() << "no second mount and no second drive letter";
    for (const std::string &name : names) {
        install_old(s);
        e2e::Run r = s.run(remove_answers(name));
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(kRefused + name + ": it holds Quillor Install's own folder\n"), std::string::npos)
            << name << "\n"
            << r.out;
        Files dist_after = list_files(s.dist);
        for (const std::string &file : dist_before)
            EXPECT_NE(std::find(dist_after.begin(), dist_after.end(), file), dist_after.end()) << name << ": " << file;
    }
}

TEST(Guards, TheCleanUpSeesTheDistributionFolderUnderAnotherName)
{
    Sandbox s;
    std::string alias;
    if (s.mount_bind("dist", "bound")) alias = "\\bound\\";
    std::string f = s.map_drive("");
    if (!f.empty()) alias = f + "\\dist\\";  // under Wine a second letter says it best
    if (alias.empty()) GTEST_SKIP() << "no second mount and no second drive letter";
    // the templates land in the distribution folder, where the clean-up's
    // "*tpl*" would take them again
    e2e::Run r = s.run(lines({"1", "", "", "", alias + "mytpl\\"}) + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("lies in the distribution folder, temporary files not deleted"), std::string::npos) << r.out;
    EXPECT_TRUE(exists(s.in_dist("mytpl/index.tpl")));
    EXPECT_TRUE(exists(s.in_dist("quillor.ini")));
}

TEST(Guards, ABackupInsideTheTemplatesIsSeenThroughShortNames)
{
    Sandbox s;
    if (!e2e::under_wine()) GTEST_SKIP() << "short (8.3) names are Windows' own";
    e2e::make_dirs(s.at("templates_dir"));
    write_file(s.at("templates_dir/index.tpl"), "tpl");
    std::string short_path = e2e::win_helper({"short", s.drive + "\\templates_dir"});
    if (short_path.empty()) GTEST_SKIP() << "no Windows helper to read short names";
    std::string short_dir = short_path.substr(2) + "\\";  // without the drive: "\TEMP~MNB\"
    ASSERT_NE(short_dir, "\\templates_dir\\");
    struct Case {
        std::string tpl, backup;
    };
    for (const Case &c : {Case{short_dir, "\\templates_dir\\bak\\"}, Case{"\\templates_dir\\", short_dir + "bak\\"}}) {
        install_old(s);
        e2e::Run r = s.run(remove_answers(c.tpl, c.backup));
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(kRefused + c.tpl + ": it holds the backup directory\n"), std::string::npos)
            << c.tpl << "\n"
            << r.out;
        EXPECT_EQ(read_file(s.at("templates_dir/index.tpl")), "tpl") << c.tpl;
        EXPECT_EQ(read_file(s.at("templates_dir/bak/quillor.exe")), "exe") << c.tpl;  // the program's backup
        EXPECT_FALSE(exists(s.at("templates_dir/bak/bak"))) << c.tpl;
    }
}

// ---- the folder check ----

TEST(Guards, FolderCheckStartedByARelativePathWithSlashesSeesTheRealFolder)
{
    Sandbox s;
    std::string other = s.at("elsewhere");
    e2e::make_dirs(other);
    for (const char *f : {"my_tpl_notes.txt", "quillor.cfg", "img_list.txt"}) write_file(other + "/" + f, "mine");
    RunOptions opt;
    opt.cwd = other;
    std::string relative = "../dist/" + e2e::program_name();
    if (e2e::under_wine()) {
        const char *helper = getenv("QUILLOR_E2E_WIN_HELPER");
        if (!helper || !*helper) GTEST_SKIP() << "no Windows helper to start a program by a given command line";
        opt.command = {helper, "run", relative};
    } else {
        opt.command = {relative};
    }
    e2e::Run r = s.run(lines({"1", "", "", "", "", "", "", "", "", "", "y"}), opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kNotice);
    EXPECT_EQ(list_files(other), (Files{"img_list.txt", "install.log", "my_tpl_notes.txt", "quillor.cfg"}));
}

// ---- the configuration read byte for byte ----

TEST(Guards, ACtrlZInTheConfigurationEndsNothing)
{
    // install: every line after the byte is rewritten and installed
    Sandbox s;
    std::string shipped = read_file(std::string(QUILLOR_SAMPLE_DIR) + "/quillor.ini");
    std::string ini = "# Quillor configuration\nnote a \x1a byte\n" + shipped.substr(shipped.find('\n') + 1);
    write_file(s.in_dist("quillor.ini"), ini);
    e2e::Run r = s.run("1\n" + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No errors occured"), std::string::npos) << r.out;
    std::string out = read_file(s.at("inetpub/scripts/quillor.ini"));
    EXPECT_NE(out.find("note a \x1a byte\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\narticles_per_page 40\nexpire_days 14\n"), std::string::npos) << out;
    EXPECT_EQ(count(out, "\ntemplates "), 1) << out;

    // update: the installed configuration's settings after the byte count
    Sandbox t;
    e2e::make_dirs(t.at("inetpub/scripts"));
    write_file(t.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(t.at("inetpub/scripts/quillor.ini"),
               "# installed\r\n\x1a\r\ntemplates \\site\\tpl\\\r\ndomain www.installed.org\r\n");
    e2e::make_dirs(t.at("site/tpl"));
    write_file(t.at("site/tpl/index.tpl"), "old index");
    r = t.run(lines({"2", "", "", "", "", "", "", "", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Where is your templates directory?\n [\\site\\tpl\\]: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("http://www.installed.org/scripts/quillor.exe"), std::string::npos) << r.out;
    EXPECT_FALSE(exists(t.at("quillor")));  // no fresh tree beside the real one
    EXPECT_EQ(read_file(t.at("site/tpl/index.tpl")), "old index");
    EXPECT_TRUE(exists(t.at("site/tpl/manuals")));
}

// ---- "/" in answers ----

TEST(Guards, AnAnswerStartingWithASlashNamesTheCurrentDrive)
{
    Sandbox s;
    // "/tmp/qe2e.../tpl/" on the installer's drive is root + that path; read
    // as the host's own path it would be the sandbox's top folder + "/tpl"
    std::string rel = s.top.substr(1) + "/tpl";
    e2e::make_dirs(s.at(s.top.substr(1)));  // both parents exist: only the reading decides
    e2e::Run r = s.run(lines({"1", "", "", "", "/" + rel + "/"}) + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No errors occured"), std::string::npos) << r.out;
    EXPECT_TRUE(exists(s.at(rel + "/index.tpl")));
    EXPECT_FALSE(exists(s.top + "/tpl"));
}

// ---- read-only files ----

void make_read_only(const std::string &path) { ASSERT_EQ(chmod(path.c_str(), 0444), 0) << path; }

TEST(Guards, ReadOnlyFilesAreNeitherReplacedNorRemoved)
{
    if (!e2e::under_wine()) GTEST_SKIP() << "on POSIX the permission bits decide, and root may write anything";
    // install: the distribution's read-only configuration is not rewritten
    Sandbox s;
    std::string shipped = read_file(s.in_dist("quillor.ini"));
    make_read_only(s.in_dist("quillor.ini"));
    e2e::Run r = s.run("1\n" + std::string(40, '\n'));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("set_ini: could not rename"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.in_dist("quillor.ini")), shipped);
    struct stat st;
    ASSERT_EQ(stat(s.in_dist("quillor.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);  // still read-only

    // update: a read-only template is not replaced; the step counts
    Sandbox t;
    e2e::make_dirs(t.at("inetpub/scripts"));
    write_file(t.at("inetpub/scripts/quillor.exe"), "old exe");
    write_file(t.at("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\n");
    e2e::make_dirs(t.at("site/tpl"));
    write_file(t.at("site/tpl/index.tpl"), "old index");
    make_read_only(t.at("site/tpl/index.tpl"));
    r = t.run(lines({"2", "", "", "", "", "", "", "y", "n", "n", "", "n", ""}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(t.at("site/tpl/index.tpl")), "old index");
    EXPECT_NE(r.log.find("could not copy .\\tpl\\index.tpl"), std::string::npos) << r.log;
    EXPECT_NE(r.out.find("errors occured"), std::string::npos) << r.out;

    // remove: a read-only file stays, and so does its folder
    Sandbox u;
    install_old(u);
    write_file(u.at("site/tpl/locked.tpl"), "locked");
    make_read_only(u.at("site/tpl/locked.tpl"));
    r = u.run(remove_answers("\\site\\tpl\\"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(u.at("site/tpl/locked.tpl")), "locked");
    EXPECT_FALSE(exists(u.at("site/tpl/index.tpl")));
    EXPECT_NE(r.log.find("rmfile: could not remove \\site\\tpl\\locked.tpl"), std::string::npos) << r.log;
    EXPECT_NE(r.out.find(errors_line(1)), std::string::npos) << r.out;
}

// ---- a full backup drive ----

TEST(Guards, ABackupOntoAFullDriveDeletesNothing)
{
    Sandbox s;
    if (!s.mount_tmpfs("backup", "64k")) GTEST_SKIP() << "no small file system (needs root)";
    write_file(s.at("backup/filler"), std::string(64 * 1024, 'x'));  // as much as it takes
    install_old(s);
    write_file(s.at("site/tpl/small.tpl"), "small");  // less than any write buffer
    e2e::Run r = s.run(remove_answers("\\site\\tpl\\", "\\backup\\"));
    ASSERT_EQ(r.status, 0) << r.out;
    // Windows' C runtime reports a failed write of a small file only when
    // the stream is flushed, not by closing it: an empty backup must never
    // pass for a good one
    EXPECT_FALSE(exists(s.at("backup/quillor.exe")) && read_file(s.at("backup/quillor.exe")).empty());
    EXPECT_EQ(read_file(s.at("inetpub/scripts/quillor.exe")), "exe") << r.log;
    EXPECT_EQ(read_file(s.at("site/tpl/index.tpl")), "tpl") << r.log;
    EXPECT_EQ(read_file(s.at("site/tpl/small.tpl")), "small");
    EXPECT_NE(r.out.find(errors_line(2)), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "No errors occured"), 0);
}

}  // namespace
