// The journal of a run that can be put back: each row of changes, noted and
// made in a small tree, is put back byte for byte in-process and from the
// file of a killed run; a file changed since is left alone; a committed
// journal only removes what was moved aside.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "act/journal.h"
#include "platform/common_internal.h"
#include "platform/folder.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative name -> content, "<dir>" for a folder

const char JOURNAL[] = "quillor.jnl";

enum act { MKDIR, MKFILE, REPLACE, REMOVE, RENAME, RMDIR };
struct change {
    act what;
    const char *a, *b;  // installer paths; b only for RENAME
};
struct row {
    const char *name;
    std::vector<change> changes;
};
const row ROWS[] = {
    {"replace and add",
     {{REPLACE, "\\t\\a.txt", nullptr},
      {MKDIR, "\\t\\new", nullptr},
      {MKFILE, "\\t\\new\\n.txt", nullptr},
      {REPLACE, "\\t\\sub\\c.txt", nullptr}}},
    {"remove and rename",
     {{REMOVE, "\\t\\b.txt", nullptr}, {RENAME, "\\t\\sub\\c.txt", "\\t\\sub\\d.txt"}, {RMDIR, "\\t\\empty", nullptr}}},
    {"one file twice",
     {{REPLACE, "\\t\\a.txt", nullptr},
      {REPLACE, "\\t\\a.txt", nullptr},
      {REMOVE, "\\t\\a.txt", nullptr},
      {MKFILE, "\\t\\a.txt", nullptr}}},
};

Tree snapshot(const fs::path &top)
{
    Tree t;
    for (const auto &e : fs::recursive_directory_iterator(top))
        t[fs::relative(e.path(), top).generic_string()] = e.is_directory() ? "<dir>" : tu::read_file(e.path());
    return t;
}

void write(const char *path, const std::string &content)
{
    FILE *f = plat_fopen(path, "wb");
    ASSERT_NE(f, nullptr) << path;
    plat_fwrite(content.data(), 1, content.size(), f);
    ASSERT_EQ(plat_fclose(f), 0);
}

// Notes one change and makes it, as a run does.
void make_one(const change &c)
{
    static const int ops[] = {JOURNAL_MADE_DIR, JOURNAL_MADE_FILE, JOURNAL_ASIDE,
                              JOURNAL_ASIDE,    JOURNAL_RENAMED,   JOURNAL_REMOVED_DIR};
    char aside[512];
    const char *b = c.b;
    if (c.what == REPLACE || c.what == REMOVE) {
        ASSERT_TRUE(journal_aside_name(c.a, aside, sizeof aside));
        EXPECT_NE(strstr(aside, "~qrb"), nullptr) << aside;
        b = aside;
    }
    ASSERT_TRUE(journal_note(ops[c.what], c.a, b)) << c.a;
    switch (c.what) {
    case MKDIR: ASSERT_EQ(plat_mkdir(c.a), 0); break;
    case MKFILE: write(c.a, "made"); break;
    case RMDIR: ASSERT_EQ(plat_rmdir(c.a), 0); break;
    default:
        ASSERT_EQ((c.what == RENAME ? plat_rename_new : plat_rename)(c.a, b), 0);
        if (c.what == REPLACE) write(c.a, std::string("new content of ") + c.a);
    }
    journal_made();
}

void make_changes(const row &r)
{
    for (const change &c : r.changes) make_one(c);
}

std::vector<std::string> reports;
void collect(const char *what, const char *native, int) { reports.push_back(std::string(what) + ": " + native); }

struct Journal : ::testing::Test {
    tu::Scratch scratch;
    fs::path top = fs::path(scratch.dir) / "t";
    Tree before;
    void SetUp() override
    {
        tu::make_dirs((top / "sub").string());
        tu::make_dirs((top / "empty").string());
        tu::write_file((top / "a.txt").string(), "A");
        tu::write_file((top / "b.txt").string(), "BB");
        tu::write_file((top / "sub" / "c.txt").string(), "CCC");
        before = snapshot(top);
        reports.clear();
    }
    void TearDown() override { plat_syscall_reset(); }
    bool journal_there(const char *suffix = "") { return tu::exists(std::string(JOURNAL) + suffix); }
};

TEST_F(Journal, RollbackInProcessPutsTheTreeBack)
{
    for (const row &r : ROWS) {
        ASSERT_TRUE(journal_start(JOURNAL)) << r.name;
        make_changes(r);
        ASSERT_NE(snapshot(top), before) << r.name;
        int failed = -1;
        EXPECT_EQ(journal_rollback(&failed, collect), (int)r.changes.size()) << r.name;
        EXPECT_EQ(failed, 0) << r.name;
        EXPECT_EQ(snapshot(top), before) << r.name;
        EXPECT_FALSE(journal_there()) << r.name;
        EXPECT_FALSE(journal_active());
    }
    EXPECT_TRUE(reports.empty());
    // a file the run made, changed by another while the run waited: it stays
    ASSERT_TRUE(journal_start(JOURNAL));
    make_changes(ROWS[0]);
    tu::write_file((top / "new" / "n.txt").string(), "the administrator's own");
    int failed = 0;
    EXPECT_EQ(journal_rollback(&failed, collect), 2);
    EXPECT_EQ(failed, 2);  // the file, and the folder that holds it
    EXPECT_EQ(tu::read_file((top / "new" / "n.txt").string()), "the administrator's own");
    EXPECT_TRUE(journal_there(".failed"));
}

TEST_F(Journal, AKilledRunIsPutBackFromItsFile)
{
    for (const row &r : ROWS) {
        ASSERT_TRUE(journal_start(JOURNAL)) << r.name;
        make_changes(r);
        journal_forget();
        ASSERT_TRUE(journal_there()) << r.name;
        char native[PLAT_NATIVE_MAX];
        ASSERT_TRUE(plat_native_path("\\t\\b.txt", native, sizeof native));
        FILE *torn = fopen(JOURNAL, "ab");  // killed while writing a note: its line has no end
        fprintf(torn, "F\t1\t%s\t", native);
        fclose(torn);
        int failed = -1;
        EXPECT_EQ(journal_recover(JOURNAL, &failed, collect), (int)r.changes.size()) << r.name;
        EXPECT_EQ(failed, 0) << r.name;
        EXPECT_EQ(snapshot(top), before) << r.name;
        EXPECT_FALSE(journal_there()) << r.name;
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(journal_recover(JOURNAL, nullptr, collect), -1);  // none left
}

// A file set aside by a second name and not yet replaced when the run is
// put back keeps no second name; a colon inside a name is part of it.
TEST_F(Journal, PuttingBackASetAsideLeavesNoSecondName)
{
    ASSERT_TRUE(journal_start(JOURNAL));
    ASSERT_TRUE(journal_set_aside("\\t\\a.txt", nullptr));
#ifndef _WIN32
    make_one({MKFILE, "\\t\\c:d.txt", nullptr});
#endif
    int failed = -1;
    journal_rollback(&failed, collect);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(snapshot(top), before);
}

// A name aside that is taken (another's file) is passed over; the run kept
// never removes it.
TEST_F(Journal, ANameAsideThatWasTakenIsLeftAlone)
{
    ASSERT_TRUE(journal_start(JOURNAL));
    char given[512];
    ASSERT_TRUE(journal_aside_name("\\t\\a.txt", given, sizeof given));  // the next one is taken
    std::string name = strrchr(given, '\\') + 1, taken = name.substr(0, name.rfind('_') + 1);
    taken += std::to_string(std::stoi(name.substr(taken.size())) + 1) + ".old";
    tu::write_file((top / taken).string(), "someone's");
    ASSERT_TRUE(journal_set_aside("\\t\\a.txt", nullptr));
    EXPECT_EQ(journal_commit(collect), 1);
    EXPECT_EQ(tu::read_file(top / taken), "someone's") << taken;
}

// A killed run's journal that cannot be read whole is put back in no part
// and kept for a look, beside an earlier run's kept journal.
int fgets_calls;
char *fails_after_header(char *buf, int size, FILE *f)
{
    if (fgets_calls++ == 0) return tu::real_calls().fgets(buf, size, f);
    errno = EIO;
    return nullptr;
}

TEST_F(Journal, AJournalThatCannotBeReadWholeIsKept)
{
    ASSERT_TRUE(journal_start(JOURNAL));
    make_changes(ROWS[0]);
    journal_forget();
    const Tree changed = snapshot(top);
    tu::write_file(std::string(JOURNAL) + ".failed", "an earlier run's");
    for (int n = 2; n <= 10; n++) tu::write_file(std::string(JOURNAL) + ".failed." + std::to_string(n), "earlier");
    fgets_calls = 0;
    int failed = -1;
    {
        tu::Fault f(&plat_syscalls::fgets, fails_after_header);
        EXPECT_EQ(journal_recover(JOURNAL, &failed, collect), 0);
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(snapshot(top), changed);
    EXPECT_EQ(tu::read_file(std::string(JOURNAL) + ".failed"), "an earlier run's");  // never over another
    EXPECT_TRUE(journal_there(".failed.11"));                                        // however many were kept before
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].find("could not read the journal"), 0u) << reports[0];
}

// A temporary name noted ahead reaches the file with the next, synced note,
// so a run killed once its temporary file exists leaves none.
TEST_F(Journal, ATemporaryNameNotedAheadGoesWithTheNextNote)
{
    ASSERT_TRUE(journal_start(JOURNAL));
    ASSERT_TRUE(journal_note(JOURNAL_TEMP | JOURNAL_AHEAD, "\\t\\~qcp1_1.tmp", nullptr));
    make_one({REPLACE, "\\t\\a.txt", nullptr});
    write("\\t\\~qcp1_1.tmp", "half");  // made after both notes
    journal_forget();                   // killed here
    int failed = -1;
    EXPECT_EQ(journal_recover(JOURNAL, &failed, collect), 2);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(snapshot(top), before);
}

TEST_F(Journal, AFileChangedSinceIsLeftAndTheJournalKeptAside)
{
    ASSERT_TRUE(journal_start(JOURNAL));
    make_changes(ROWS[0]);
    journal_forget();
    ASSERT_EQ(plat_remove("\\t\\a.txt"), 0);
    write("\\t\\a.txt", "the administrator's own");
    int failed = 0;
    EXPECT_EQ(journal_recover(JOURNAL, &failed, collect), 3);
    EXPECT_EQ(failed, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("a.txt"), std::string::npos) << reports[0];
    EXPECT_EQ(tu::read_file((top / "a.txt").string()), "the administrator's own");
    EXPECT_EQ(tu::read_file((top / "sub" / "c.txt").string()), "CCC");
    EXPECT_FALSE(fs::exists(top / "new"));
    EXPECT_FALSE(journal_there());
    EXPECT_TRUE(journal_there(".failed"));
    // a file the run removed (set aside), and one put at its name since
    ASSERT_TRUE(journal_start(JOURNAL));
    make_one({REMOVE, "\\t\\b.txt", nullptr});
    journal_forget();
    write("\\t\\b.txt", "put there since");
    EXPECT_EQ(journal_recover(JOURNAL, &failed, collect), 0);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(tu::read_file((top / "b.txt").string()), "put there since");
}

// What a committed run leaves: its changes, without the names aside.
Tree committed(const Tree &t)
{
    Tree out;
    for (const auto &e : t)
        if (e.first.find("~qrb") == std::string::npos) out.insert(e);
    return out;
}

int remove_fails(const char *) { return errno = EACCES, -1; }

TEST_F(Journal, ACommittedJournalOnlyRemovesTheAsides)
{
    for (const row &r : ROWS) {
        ASSERT_TRUE(journal_start(JOURNAL)) << r.name;
        make_changes(r);
        Tree after = committed(snapshot(top));
        EXPECT_EQ(journal_commit(collect), 1) << r.name;
        EXPECT_EQ(snapshot(top), after) << r.name;
        EXPECT_FALSE(journal_there()) << r.name;
    }
    EXPECT_TRUE(reports.empty());
    // committed, but killed before the asides went: the next start finishes
    ASSERT_TRUE(journal_start(JOURNAL));
    make_changes(ROWS[2]);  // the tree as the rows above left it
    Tree after = committed(snapshot(top));
    plat_syscall_table()->remove = remove_fails;
    EXPECT_FALSE(journal_commit(collect));
    plat_syscall_reset();
    EXPECT_NE(snapshot(top), after);
    EXPECT_EQ(journal_recover(JOURNAL, nullptr, collect), 0);
    EXPECT_EQ(snapshot(top), after);
    EXPECT_FALSE(journal_there());
}

#ifndef _WIN32  // the signal, in a forked child
FILE *said;     // where the child's last words go
void last_words()
{
    int failed = 0;
    char text[] = {char('0' + journal_interrupted(&failed)), char('0' + failed)};
    plat_write_close_raw(said, text, sizeof text);
}

TEST_F(Journal, AnInterruptPutsBackEverythingNoted)
{
    for (const row &r : ROWS) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            said = fopen("said", "wb");
            plat_on_interrupt(last_words);
            if (journal_start(JOURNAL)) make_changes(r);
            raise(SIGTERM);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << r.name;
        EXPECT_EQ(WEXITSTATUS(status), PLAT_INTERRUPTED_STATUS) << r.name;
        EXPECT_EQ(snapshot(top), before) << r.name;
        EXPECT_FALSE(journal_there()) << r.name;
        EXPECT_EQ(tu::read_file("said"), std::to_string(r.changes.size()) + "0") << r.name;  // all, none failed
    }
}
#endif

int fsync_fails(FILE *) { return errno = EIO, -1; }
int fsync_failures;  // that fsync_fails_first gives before it syncs again
int fsync_fails_first(FILE *f) { return fsync_failures-- > 0 ? fsync_fails(f) : tu::real_calls().fsync(f); }

TEST_F(Journal, ANoteNotOnTheDiskRefusesTheChange)
{
    EXPECT_EQ(journal_note(JOURNAL_MADE_FILE, "\\t\\x", nullptr), 1);  // no journal: nothing to do
    ASSERT_TRUE(journal_start(JOURNAL));
    EXPECT_FALSE(journal_start(JOURNAL));
    errno = 0;
    EXPECT_EQ(journal_note(JOURNAL_MADE_FILE, "\\t\\tab\there", nullptr), 0);
    EXPECT_EQ(errno, EINVAL);
    plat_syscall_table()->fsync = fsync_fails;
    EXPECT_EQ(journal_note(JOURNAL_MADE_FILE, "\\t\\x", nullptr), 0);
    EXPECT_EQ(errno, EIO);
    plat_syscall_reset();
    int failed = -1;
    EXPECT_EQ(journal_rollback(&failed, collect), 0);  // the refused note is not held
    EXPECT_EQ(failed, 0);
    EXPECT_FALSE(journal_there());
    // a run whose commit mark cannot reach the disk is not kept: the mark is taken back, and the
    // run put back at once; where not even that can be synced, by the next start
    for (int failures : {1, 2}) {
        ASSERT_TRUE(journal_start(JOURNAL));
        make_changes(ROWS[0]);
        fsync_failures = failures;
        plat_syscall_table()->fsync = fsync_fails_first;
        EXPECT_EQ(journal_commit(collect), -failures);
        plat_syscall_reset();
        int back = failures == 1 ? journal_rollback(&failed, collect) : journal_recover(JOURNAL, &failed, collect);
        EXPECT_EQ(back, 4);
        EXPECT_EQ(snapshot(top), before) << failures;
    }
}

}  // namespace
