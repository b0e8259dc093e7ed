// The guards that protect a deletion or a clean-up refuse, and say why,
// when they cannot tell what a path is: a folder that cannot be examined,
// a path whose canonical form cannot be made.  The faults are injected into
// the system-call table: stat and realpath on POSIX, the identity and the
// full path on Windows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>

#include "installer/flow_util.h"
#include "installer/flows.h"
#include "installer/probes.h"
#include "table/table.h"
#include "test_util.h"

namespace {

// What cannot be told: no folder can be examined, no canonical form can be
// made, or only the backup folder (or the pristine copy's) can be examined.
enum Unknown { EXAMINE, CANONICAL, EXAMINE_BAK };

#ifndef _WIN32
int stat_fails(const char *, struct stat *) { return errno = EIO, -1; }
char *realpath_fails(const char *, char *) { return errno = EIO, nullptr; }
int stat_fails_in_bak(const char *native, struct stat *st)
{
    return strstr(native, "/bak") || strstr(native, "/orig") ? stat_fails(native, st) : stat(native, st);
}
struct Faults {
    tu::Fault<int (*)(const char *, struct stat *)> s;
    tu::Fault<char *(*)(const char *, char *)> r;
    explicit Faults(Unknown u)
        : s(&plat_syscalls::stat, u == EXAMINE       ? stat_fails
                                  : u == EXAMINE_BAK ? stat_fails_in_bak
                                                     : stat),
          r(&plat_syscalls::realpath, u == CANONICAL ? realpath_fails : realpath)
    {}
};
#else
int identity_fails(const wchar_t *, unsigned long *) { return errno = EIO, -1; }
unsigned long full_path_fails(const char *, char *, unsigned long) { return errno = EIO, 0; }
int identity_fails_in_bak(const wchar_t *native, unsigned long *id)
{
    if (wcsstr(native, L"\\bak") || wcsstr(native, L"\\orig")) return identity_fails(native, id);
    return tu::real_calls().identity(native, id);
}
struct Faults {
    tu::Fault<int (*)(const wchar_t *, unsigned long *)> i;
    tu::Fault<unsigned long (*)(const char *, char *, unsigned long)> p;
    explicit Faults(Unknown u)
        : i(&plat_syscalls::identity, u == EXAMINE       ? identity_fails
                                      : u == EXAMINE_BAK ? identity_fails_in_bak
                                                         : tu::real_calls().identity),
          p(&plat_syscalls::full_path, u == CANONICAL ? full_path_fails : tu::real_calls().full_path)
    {}
};
#endif

TEST(CannotTell, EachGuardAnswersSoWhenAFolderCannotBeExamined)
{
    tu::Scratch scratch;
    tu::make_dirs(scratch.path("a/b"));
    for (int fault = 0; fault < 2; fault++) {
        Faults f(fault ? CANONICAL : EXAMINE);
        errno = 0;
        EXPECT_EQ(plat_is_root("\\a\\"), PLAT_UNKNOWN) << fault;
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(plat_same_dir("\\a\\", "\\a\\b\\"), PLAT_UNKNOWN) << fault;
        EXPECT_EQ(plat_dir_contains("\\a\\b\\", "\\a\\"), PLAT_UNKNOWN) << fault;
        EXPECT_EQ(plat_is_root("\\"), fault ? PLAT_UNKNOWN : PLAT_YES) << fault;  // the name alone tells
    }
}

struct GuardRow {
    const char *guard;
    Unknown unknown;
    const char *input;
    std::function<void(question_table *)> run;
    const char *logged;
};

void install_old(const tu::Scratch &s)
{
    tu::make_dirs(s.path("inetpub/scripts"));
    tu::write_file(s.path("inetpub/scripts/quillor.exe"), "exe");
    tu::write_file(s.path("inetpub/scripts/quillor.ini"), "templates \\site\\tpl\\\n");
    tu::make_dirs(s.path("site/tpl"));
    tu::write_file(s.path("site/tpl/index.tpl"), "tpl");
    tu::make_dirs(s.path("cache"));
    tu::write_file(s.path("cache/msg"), "cached");
}

const char kRemoveInput[] = "\\inetpub\\scripts\\\n\n\\site\\tpl\\\nn\ny\n\\bak\\\n\ny\n\n";
const char kUpdateInput[] = "\n\n\n\n\n\nn\ny\n\\orig\\\n\nn\n\n";
const char kIo[] = " {5=Input/output error}";

TEST(CannotTell, EachGuardRefusesAndSaysWhy)
{
    const char *const written[] = {"\\site\\tpl\\"};
    const GuardRow rows[] = {
        {"cache clean-up", EXAMINE, "\n", [](question_table *t) { del_cache(t); },
         "del_cache: refusing to delete cache files in \\cache\\: cannot tell whether it is a drive root"},
        {"distribution clean-up", CANONICAL, "y\n",
         [&](question_table *t) { flow_cleanup(t, written, 1, "install_flow"); },
         "install_flow: cannot tell whether \\site\\tpl\\ lies in the distribution folder"},
        {"removal: drive root", EXAMINE, kRemoveInput, remove_flow,
         "remove_flow: refusing to delete files in \\site\\tpl\\: cannot tell whether it is a drive root"},
        {"removal: executable in a drive root", EXAMINE, kRemoveInput, remove_flow,
         "remove_flow: refusing to delete quillor.* in \\inetpub\\scripts\\: cannot tell whether it is a drive root"},
        {"removal: backup inside", EXAMINE_BAK, kRemoveInput, remove_flow,
         "remove_flow: refusing to delete files in \\site\\tpl\\: cannot tell whether it holds the backup directory"},
        {"removal: backup among the executables", EXAMINE_BAK, kRemoveInput, remove_flow,
         "in \\inetpub\\scripts\\: cannot tell whether the backup would be made there"},
        {"pristine copy", EXAMINE_BAK, kUpdateInput, update_flow,
         "update_flow: cannot tell whether \\orig\\ is the templates directory"},
    };
    for (const GuardRow &row : rows) {
        tu::Scratch scratch;
        tu::TestLog log;
        install_old(scratch);
        question_table t;
        table_init(&t);
        text_copy(t.q[Q_CACHE].default_answer, "\\cache\\", TEXT_PATH_SIZE);
        {
            tu::ScriptedInput in(row.input);
            tu::CapturedOutput out;  // gtest's own reports wait until it is back
            Faults f(row.unknown);
            row.run(&t);
        }
        std::string text = log.text();
        EXPECT_NE(text.find(std::string(row.logged) + kIo), std::string::npos) << row.guard << "\n" << text;
        for (const char *kept : {"site/tpl/index.tpl", "cache/msg", "inetpub/scripts/quillor.exe"})
            EXPECT_TRUE(tu::exists(scratch.path(kept))) << row.guard << ": " << kept;
    }
}

#ifndef _WIN32
// A folder swapped for a link to another while it is backed up is not
// emptied: its answer is checked again after the backup.
std::string elsewhere;
int swap_after_open(const char *native)
{
    int fd = tu::real_calls().open_source(native);
    if (strstr(native, "site/tpl/index.tpl") && rename("site/tpl", "site/moved") == 0) {
        EXPECT_EQ(symlink(elsewhere.c_str(), "site/tpl"), 0);
    }
    return fd;
}

TEST(CannotTell, AFolderSwappedWhileItIsBackedUpIsNotEmptied)
{
    tu::Scratch scratch;
    tu::TestLog log;
    install_old(scratch);
    elsewhere = scratch.path("elsewhere");
    tu::make_dirs(elsewhere);
    tu::write_file(elsewhere + "/precious", "p");
    question_table t;
    table_init(&t);
    {
        tu::ScriptedInput in(kRemoveInput);
        tu::CapturedOutput out;
        tu::Fault f(&plat_syscalls::open_source, swap_after_open);
        remove_flow(&t);
    }
    EXPECT_TRUE(tu::exists(scratch.path("elsewhere/precious")));
    EXPECT_NE(log.text().find("\\site\\tpl\\ no longer names the folder it named"), std::string::npos) << log.text();
}
#endif

}  // namespace
