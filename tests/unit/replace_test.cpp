// The atomic replace: a failure at any call it makes leaves the target as
// it was and no temporary file behind, for installer and native paths.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "test_util.h"

namespace {

FILE *no_open(const char *, const char *)
{
    errno = EACCES;
    return nullptr;
}
int no_mode(FILE *, const char *)
{
    errno = EPERM;
    return -1;
}
size_t no_room(const void *, size_t, size_t, FILE *)
{
    errno = ENOSPC;
    return 0;
}
int no_sync(FILE *)
{
    errno = EIO;
    return -1;
}
int no_flush(FILE *)
{
    errno = ENOSPC;
    return EOF;
}
int close_fails(FILE *f)
{
    tu::real_calls().fclose(f);  // closed all the same: only the report fails
    errno = EIO;
    return EOF;
}
int no_rename(const char *, const char *)
{
    errno = EACCES;
    return -1;
}
int no_dir_sync(const char *)
{
    errno = EIO;
    return -1;
}

struct fault_row {
    const char *call;
    void (*inject)(plat_syscalls *);
    unsigned flags;
    int began;          // plat_replace_begin succeeds
    int step;           // what plat_replace_commit returns
    int err;            // errno then
    const char *after;  // the target's content after it
};

const fault_row FAULTS[] = {
    {"none", [](plat_syscalls *) {}, 0, 1, PLAT_REPLACE_DONE, 0, "new"},
    {"fopen", [](plat_syscalls *s) { s->fopen = no_open; }, 0, 0, PLAT_REPLACE_WRITE, EACCES, "old"},
#ifndef _WIN32  // Windows keeps attributes at the rename instead
    {"mode_like", [](plat_syscalls *s) { s->mode_like = no_mode; }, 0, 0, PLAT_REPLACE_WRITE, EPERM, "old"},
#endif
    {"fwrite", [](plat_syscalls *s) { s->fwrite = no_room; }, 0, 1, PLAT_REPLACE_WRITE, ENOSPC, "old"},
    {"fsync", [](plat_syscalls *s) { s->fsync = no_sync; }, 0, 1, PLAT_REPLACE_WRITE, EIO, "old"},
    {"fflush", [](plat_syscalls *s) { s->fflush = no_flush; }, 0, 1, PLAT_REPLACE_WRITE, ENOSPC, "old"},
    {"fclose", [](plat_syscalls *s) { s->fclose = close_fails; }, 0, 1, PLAT_REPLACE_WRITE, EIO, "old"},
    {"rename", [](plat_syscalls *s) { s->rename = no_rename; }, 0, 1, PLAT_REPLACE_RENAME, EACCES, "old"},
    // replaced: only the new name may not be on the disk yet
    {"sync_dir", [](plat_syscalls *s) { s->sync_dir = no_dir_sync; }, 0, 1, PLAT_REPLACE_SYNC_DIR, EIO, "new"},
    // a copy step's replace leaves both syncs to plat_sync_now
    {"later",
     [](plat_syscalls *s) {
         s->fsync = no_sync;
         s->sync_dir = no_dir_sync;
     },
     PLAT_REPLACE_SYNC_LATER, 1, PLAT_REPLACE_DONE, 0, "new"},
};

std::vector<std::string> names_in(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

// Replaces target with "new" under one injected fault; the step, or -1
// when the replace could not begin.
int replace_under(const fault_row &row, const char *target, const char *temp, unsigned form)
{
    plat_replacing r;
    row.inject(plat_syscall_table());
    errno = 0;
    int step = -1;
    if (plat_replace_begin(&r, target, temp, form | row.flags)) {
        plat_replace_write(&r, "new", 3);
        step = plat_replace_commit(&r);
    }
    int err = errno;
    plat_syscall_reset();
    plat_sync_now();
    errno = err;
    return step;
}

TEST(AtomicReplace, FailsCleanlyAtEachOfItsCalls)
{
    struct form {
        const char *target, *temp;
        unsigned flags;
    };
    for (const form &f :
         {form{".\\target.txt", ".\\target.tmp", 0u}, form{"target.txt", "target.tmp", PLAT_REPLACE_NATIVE}})
        for (const fault_row &row : FAULTS) {
            tu::Scratch scratch;
            tu::write_file(scratch.path("target.txt"), "old");
            int step = replace_under(row, f.target, f.temp, f.flags);
            int err = errno;
            SCOPED_TRACE(std::string(row.call) + " " + f.target);
            EXPECT_EQ(step, row.began ? row.step : -1);
            if (row.err) {
                EXPECT_EQ(err, row.err);  // errno is only told on a failure
            }
            EXPECT_EQ(tu::read_file(scratch.path("target.txt")), row.after);
            EXPECT_EQ(names_in(scratch.dir), std::vector<std::string>{"target.txt"});  // no temporary file left
        }
}

TEST(AtomicReplace, ATakenTemporaryNameIsNeverOverwritten)
{
    tu::Scratch scratch;
    tu::write_file(scratch.path("target.txt"), "old");
    tu::write_file(scratch.path("target.tmp"), "somebody's");
    plat_replacing r;
    EXPECT_EQ(plat_replace_begin(&r, ".\\target.txt", ".\\target.tmp", 0), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(tu::read_file(scratch.path("target.tmp")), "somebody's");
    EXPECT_EQ(tu::read_file(scratch.path("target.txt")), "old");
}

}  // namespace
