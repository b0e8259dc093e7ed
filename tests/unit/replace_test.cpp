// The atomic replace: a failure at any call it makes leaves the target as
// it was and no temporary file behind, for installer and native paths and
// for a target already looked up.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/replace.h"
#include "test_util.h"

namespace {

template <typename R, typename... A> R fails(A...) { return errno = EIO, R(-1); }
FILE *no_open(const char *, const char *) { return errno = EIO, nullptr; }
int close_fails(FILE *f) { return tu::real_calls().fclose(f), errno = EIO, EOF; }  // closed all the same

constexpr int NOT_BEGUN = -1;
constexpr unsigned LOOKED_UP = 1u << 16;  // plat_replace_begin_named, in this test only
struct fault_row {
    const char *call;
    void (*inject)(plat_syscalls *);
    unsigned flags;
    int step;           // what plat_replace_commit returns, or NOT_BEGUN
    const char *after;  // the target's content then
};
const fault_row FAULTS[] = {
    {"none", [](plat_syscalls *) {}, 0, PLAT_REPLACE_DONE, "new"},
    {"fopen", [](plat_syscalls *s) { s->fopen = no_open; }, 0, NOT_BEGUN, "old"},
#ifndef _WIN32  // Windows keeps attributes at the rename instead
    {"mode_like",
     [](plat_syscalls *s) { s->mode_like = fails<int, plat_file *, int, const char *, const plat_name *>; }, 0,
     NOT_BEGUN, "old"},
#endif
    {"fwrite", [](plat_syscalls *s) { s->fwrite = fails<size_t, const void *, size_t, size_t, FILE *>; }, 0,
     PLAT_REPLACE_WRITE, "old"},
    {"fsync", [](plat_syscalls *s) { s->fsync = fails<int, FILE *>; }, 0, PLAT_REPLACE_WRITE, "old"},
    {"fflush", [](plat_syscalls *s) { s->fflush = fails<int, FILE *>; }, 0, PLAT_REPLACE_WRITE, "old"},
    {"fclose", [](plat_syscalls *s) { s->fclose = close_fails; }, 0, PLAT_REPLACE_WRITE, "old"},
    {"rename", [](plat_syscalls *s) { s->rename = fails<int, const char *, const char *>; }, 0, PLAT_REPLACE_RENAME,
     "old"},
    // replaced: only the new name may not be on the disk yet
    {"sync_dir", [](plat_syscalls *s) { s->sync_dir = fails<int, const char *>; }, 0, PLAT_REPLACE_SYNC_DIR, "new"},
    // a copy step's replace leaves both syncs to plat_sync_now
    {"later", [](plat_syscalls *s) { s->fsync = fails<int, FILE *>, s->sync_dir = fails<int, const char *>; },
     PLAT_REPLACE_SYNC_LATER, PLAT_REPLACE_DONE, "new"},
};

// Replaces target with "new" under one row's fault: the step, errno.
std::pair<int, int> replace_under(const fault_row &row, const char *target, const char *temp, unsigned form)
{
    plat_replacing r;
    row.inject(plat_syscall_table());
    int step = NOT_BEGUN;
    plat_name t;
    int begun = form == LOOKED_UP ? plat_look_up(target, &t), plat_replace_begin_named(&r, target, &t, temp, row.flags)
                                  : plat_replace_begin(&r, target, temp, form | row.flags);
    if (begun) {
        plat_replace_write(&r, "new", 3);
        step = plat_replace_commit(&r);
    }
    int err = errno;
    plat_syscall_reset();
    plat_sync_now();
    return {step, err};
}

TEST(AtomicReplace, FailsCleanlyAtEachOfItsCalls)
{
    for (unsigned form : {0u, PLAT_REPLACE_NATIVE, LOOKED_UP})
        for (const fault_row &row : FAULTS) {
            tu::Scratch scratch;
            tu::write_file(scratch.path("target.txt"), "old");
            int native = form == PLAT_REPLACE_NATIVE;
            auto [step, err] = replace_under(row, native ? "target.txt" : ".\\target.txt",
                                             form ? "target.tmp" : ".\\target.tmp", form);
            SCOPED_TRACE(std::string(row.call) + (native ? " native" : form ? " looked up" : " installer path"));
            EXPECT_EQ(step, row.step);
            if (step != PLAT_REPLACE_DONE) {
                EXPECT_EQ(err, EIO);  // errno tells why
            }
            EXPECT_EQ(tu::read_file(scratch.path("target.txt")), row.after);
            std::vector<std::string> names;  // no temporary file left
            for (const auto &e : std::filesystem::directory_iterator(scratch.dir))
                names.push_back(e.path().filename().string());
            EXPECT_EQ(names, std::vector<std::string>{"target.txt"});
        }
}

}  // namespace
