// The platform layer's guards on files: what is opened, what is never
// followed, where ".." ends, the lock of a folder, the order in which the
// configuration rewrite makes its result durable, and the log's last entry
// on an interruption.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "config/set_ini.h"
#include "installer/flows.h"
#include "table/table.h"
#include "log/log.h"
#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
// The lock's own call, replaced in this program: while armed, the name is
// given to another file just before a lock is granted, as when an earlier
// holder ends between a later one's open and its lock.
static int lock_name_swaps = 0;
extern "C" int flock(int fd, int operation)
{
    if (lock_name_swaps > 0) {
        lock_name_swaps--;
        unlink("install.lck");
        close(open("install.lck", O_CREAT | O_WRONLY, 0666));
    }
    return (int)syscall(SYS_flock, fd, operation);
}
#endif

namespace {

class Guards : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    void TearDown() override { plat_syscall_reset(); }
};

TEST_F(Guards, RemovingNeverTakesAFolder)
{
    tu::make_dirs(scratch.path("d"));
    EXPECT_EQ(plat_remove(".\\d"), -1);
    EXPECT_TRUE(tu::is_dir(scratch.path("d")));
    tu::write_file(scratch.path("f"), "x");
    EXPECT_EQ(plat_remove(".\\f"), 0);
    EXPECT_FALSE(tu::exists(scratch.path("f")));
}

TEST_F(Guards, DotDotStopsAtTheDriveRoot)
{
    FILE *f = plat_fopen("\\..\\..\\x", "w");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
    EXPECT_TRUE(tu::exists(scratch.path("x")));
    tu::make_dirs(scratch.path("a/b"));
    f = plat_fopen("\\a\\b\\..\\..\\..\\..\\a\\y", "w");
    ASSERT_NE(f, nullptr);
    plat_fclose(f);
    EXPECT_TRUE(tu::exists(scratch.path("a/y")));
}

#ifndef _WIN32
std::string native(const char *path)
{
    char buf[4096];
    EXPECT_EQ(plat_native_path(path, buf, sizeof buf), 1);
    return buf;
}

TEST_F(Guards, DotDotIsResolvedByNameAndNeverLeavesTheRoot)
{
    const std::string &d = scratch.dir;
    EXPECT_EQ(native("\\..\\x"), d + "/x");
    EXPECT_EQ(native("\\a\\..\\..\\..\\b"), d + "/b");
    EXPECT_EQ(native("/../.."), d);
    EXPECT_EQ(native("/../../"), d + "/");
    EXPECT_EQ(native("C:\\..\\x"), d + "/x");
    EXPECT_EQ(native("\\inetpub\\wwwroot\\../../../qlimg"), d + "/qlimg");  // a URL with ".."
    EXPECT_EQ(native(".\\a\\..\\b"), "./b");
    EXPECT_EQ(native(".\\a\\.\\b"), "./a/b");
    EXPECT_EQ(native("..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\q"), d + "/q");  // from the root
    tu::make_dirs(d + "/dist");
    ASSERT_EQ(chdir((d + "/dist").c_str()), 0);
    EXPECT_EQ(native(".\\..\\x"), d + "/x");
    EXPECT_EQ(native("..\\..\\..\\..\\y\\"), d + "/y/");
    unsetenv("QUILLOR_ROOT");
    EXPECT_EQ(native("\\..\\..\\z"), "/z");
    setenv("QUILLOR_ROOT", d.c_str(), 1);
}

TEST_F(Guards, OnlyRegularFilesAreOpenedAndWrittenFilesAreNeverLinks)
{
    errno = 0;
    EXPECT_EQ(plat_fopen("\\..\\..\\..\\..\\dev\\zero", "rb"), nullptr);  // stays in the root: missing
    ASSERT_EQ(symlink("/dev/zero", scratch.path("zero").c_str()), 0);
    EXPECT_EQ(plat_fopen(".\\zero", "rb"), nullptr);
    EXPECT_EQ(errno, PLAT_ENOTREG);
    EXPECT_EQ(plat_fopen(".\\zero", "r+b"), nullptr);
    tu::make_dirs(scratch.path("dir"));
    EXPECT_EQ(plat_fopen(".\\dir", "rb"), nullptr);
    EXPECT_EQ(errno, EISDIR);

    tu::write_file(scratch.path("target"), "keep");
    ASSERT_EQ(symlink(scratch.path("target").c_str(), scratch.path("link").c_str()), 0);
    for (const char *mode : {"w", "a", "wb", "wx"}) {
        EXPECT_EQ(plat_fopen(".\\link", mode), nullptr) << mode;
        EXPECT_EQ(tu::read_file(scratch.path("target")), "keep") << mode;
    }
    FILE *f = plat_fopen(".\\link", "rb");  // reading may follow a link
    ASSERT_NE(f, nullptr);
    plat_fclose(f);

    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    for (const char *mode : {"r", "w", "a", "r+"}) EXPECT_EQ(plat_fopen(".\\pipe", mode), nullptr) << mode;
    int reader = open(scratch.path("pipe").c_str(), O_RDONLY | O_NONBLOCK);  // a writer would not wait now
    EXPECT_EQ(plat_fopen(".\\pipe", "a"), nullptr);
    EXPECT_EQ(errno, PLAT_ENOTREG);
    close(reader);
}

TEST_F(Guards, OneLockPerFolder)
{
    EXPECT_EQ(plat_lock_folder(".\\install.lck"), 1);
    EXPECT_EQ(plat_lock_folder(".\\install.lck"), 0);  // a second open file: as another process
    EXPECT_TRUE(tu::exists(scratch.path("install.lck")));
}

// A lock counts only on the file its name still names; a link planted in
// its place is never followed.
TEST_F(Guards, TheLockIsCheckedAgainstItsNameAndNeverFollowsALink)
{
    lock_name_swaps = 1;
    EXPECT_EQ(plat_lock_folder(".\\install.lck"), 1);
    EXPECT_EQ(lock_name_swaps, 0);
    EXPECT_EQ(plat_lock_folder(".\\install.lck"), 0);  // the file under the name is the one locked

    ASSERT_EQ(symlink("victim", "link.lck"), 0);
    EXPECT_EQ(plat_lock_folder(".\\link.lck"), -1);
    EXPECT_FALSE(tu::exists(scratch.path("victim")));
}
#endif

// ---- durability ----

std::vector<std::string> calls;

int recording_fsync(FILE *f)
{
    calls.push_back("fsync");
    return tu::real_calls().fsync(f);
}
int recording_rename(const char *from, const char *to)
{
    calls.push_back(std::string("rename ") + (strstr(from, "tempquillor") ? "temp" : "?"));
    return tu::real_calls().rename(from, to);
}
int recording_sync_dir(const char *native)
{
    calls.push_back("sync_dir");
    return tu::real_calls().sync_dir(native);
}
int failing_fsync(FILE *)
{
    errno = EIO;
    return -1;
}
int counting_sync_fs(const char *)
{
    calls.push_back("sync_fs");
    return 0;
}
#ifndef _WIN32
void counting_sync() { calls.push_back("sync"); }
#endif
int failing_sync_fs(const char *)
{
    errno = EIO;
    return -1;
}

TEST_F(Guards, RewriteSyncsTheNewFileBeforeTheRenameAndTheFolderAfter)
{
    tu::TestLog log;
    question_table t;
    table_init(&t);
    tu::write_file(scratch.path("quillor.ini"), "templates \\old\\\n");
    calls.clear();
    plat_syscall_table()->fsync = recording_fsync;
    plat_syscall_table()->rename = recording_rename;
    plat_syscall_table()->sync_dir = recording_sync_dir;
    EXPECT_EQ(set_ini(nullptr, &t), 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"fsync", "rename temp", "sync_dir"}));

    plat_syscall_table()->fsync = failing_fsync;  // what cannot be made durable never replaces the old file
    const std::string before = tu::read_file(scratch.path("quillor.ini"));
    tu::CapturedOutput out;
    EXPECT_EQ(set_ini(nullptr, &t), 0);
    EXPECT_EQ(tu::read_file(scratch.path("quillor.ini")), before);
    EXPECT_FALSE(tu::exists(scratch.path("tempquillor.ini")));
    EXPECT_NE(out.text().find("set_ini: .\\quillor.ini left unchanged"), std::string::npos);
}

TEST_F(Guards, CopiesAreMadeDurableOncePerFileSystem)
{
    for (const char *name : {"a", "b", "c"}) tu::write_file(scratch.path(name), "x");
    calls.clear();
    plat_syscall_table()->sync_fs = counting_sync_fs;
    plat_sync_later(".\\a");
    plat_sync_later(".\\b");
    plat_sync_later(".\\c");
    EXPECT_EQ(plat_sync_now(), 1);
#ifdef _WIN32
    EXPECT_EQ(calls.size(), 3u);  // Windows flushes file by file
#else
    EXPECT_EQ(calls.size(), 1u);  // one file system
#endif
    calls.clear();
    EXPECT_EQ(plat_sync_now(), 1);  // nothing pending
    EXPECT_TRUE(calls.empty());
    plat_syscall_table()->sync_fs = failing_sync_fs;
    plat_sync_later(".\\a");
    EXPECT_EQ(plat_sync_now(), 0);
    EXPECT_EQ(errno, EIO);
#ifndef _WIN32
    tu::Fault s(&plat_syscalls::sync, counting_sync);
    calls.clear();
    plat_sync_later(".\\missing");  // where it lies cannot be told: every file system is synced
    EXPECT_EQ(plat_sync_now(), 1);
    EXPECT_EQ(calls, std::vector<std::string>{"sync"});
#endif
}

// An update replaces no template before their backup is on the disk: a
// backup whose copies cannot be made durable saved nothing.
TEST_F(Guards, TemplatesAreReplacedOnlyOnceTheirBackupIsDurable)
{
    tu::TestLog log;
    for (const char *d : {"inetpub/scripts", "quillor", "tpl"}) tu::make_dirs(scratch.path(d));
    tu::write_file(scratch.path("inetpub/scripts/quillor.ini"), "templates \\quillor\\\n");
    tu::write_file(scratch.path("quillor/index.tpl"), "custom");
    tu::write_file(scratch.path("tpl/index.tpl"), "new index");
    plat_syscall_table()->sync_fs = failing_sync_fs;
    question_table t;
    table_init(&t);
    tu::ScriptedInput in("\n\n\n\n\n\ny\n\n\n\n\n\nn\nn\n");
    tu::CapturedOutput out;
    EXPECT_TRUE(update_flow(&t).reached);
    EXPECT_NE(out.text().find("backup of \\quillor\\ failed, templates not replaced"), std::string::npos);
    EXPECT_EQ(tu::read_file(scratch.path("quillor/index.tpl")), "custom");
}

// ---- interruption ----

TEST_F(Guards, InterruptedLogGetsItsLastEntryAndIsClosed)
{
    tu::TestLog log;
    log_info("working");
    log_interrupted(0);
    EXPECT_EQ(log.rec.file, nullptr);
    std::string text = log.text();
    size_t at = text.rfind('\n', text.size() - 2);
    std::string last = text.substr(at + 1);
    EXPECT_TRUE(last.size() > 12 && last[2] == ' ' && last[5] == ':' && last[8] == ':') << last;
    EXPECT_NE(last.find(" [" + std::to_string(plat_process_id()) + "] Info: interrupted\n"), std::string::npos) << last;
    EXPECT_EQ(text.substr(0, 2), last.substr(0, 2));  // the same day as the entry before
    EXPECT_LT(text.find("Info: working\n"), at);      // the entry kept before it went first
}

int raw_writes;
void counting_write_close(FILE *f, const char *text, size_t len)
{
    raw_writes++;
    tu::real_calls().write_close(f, text, len);
}

TEST_F(Guards, InterruptedLogWithOnlyItsHeadingStillGetsTheTime)
{
    tu::TestLog log;
    log_info("\n\nheading");  // no time stamp of its own, as at the menu
    {
        tu::Fault w(&plat_syscalls::write_close, counting_write_close);
        log_interrupted(0);
    }
    EXPECT_EQ(raw_writes, 1);  // through the system-call table
    std::string text = log.text();
    std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_NE(last.substr(0, 3), "00 ") << last;  // no month has a day 0
}

}  // namespace
