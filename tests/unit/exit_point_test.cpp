// Every module that ends the process does it through the platform's one
// exit point, so a test can survive the exit in-process (also under Wine,
// where there is no fork) by setting the hook.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "config/ini.h"
#include "config/static_list.h"
#include "config/vini.h"
#include "log/log.h"
#include "platform/platform.h"

namespace {

struct exited {
    int status;
};

[[noreturn]] void leave_by_throwing(int status) { throw exited{status}; }

// The status the call exited with through the hook, or -1 when it returned.
int exit_status_of(const std::function<void()> &call)
{
    plat_exit_hook old = plat_set_exit_hook(leave_by_throwing);
    int status = -1;
    try {
        call();
    } catch (const exited &e) {
        status = e.status;
    }
    plat_set_exit_hook(old);
    return status;
}

TEST(ExitPoint, UseBeforeInitLeavesThroughTheHookWithItsMessage)
{
    static_list list{};
    ini_list ini{};
    vini v{};
    log_record lg{};
    struct misuse {
        const char *message;
        std::function<void()> call;
    };
    const std::vector<misuse> cases = {
        {"Error Using Static List before Init", [&] { static_count(&list); }},
        {"Error Using ini before Init", [&] { ini_find(&ini, "x"); }},
        {"Error Using virtual ini before Init", [&] { vini_get(&v, "x", 0); }},
        {"Error Using New-Log before Init", [&] { log_set_level(&lg, 1); }},
    };
    for (const misuse &m : cases) {
        testing::internal::CaptureStderr();
        int status = exit_status_of(m.call);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 1) << m.message;
        EXPECT_NE(err.find(m.message), std::string::npos) << err;
    }
    EXPECT_EQ(exit_status_of([] {}), -1);  // no exit, no status
}

}  // namespace
