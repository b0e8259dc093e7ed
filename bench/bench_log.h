/* The log both benchmark drivers write to, set up exactly as the installer
 * sets up its own (install.log in the current directory, 100000-byte limit,
 * one old generation, level 2), so that the progress and debug entries the
 * timed code writes cost what they cost in a real run.
 */
#ifndef QUILLOR_BENCH_LOG_H
#define QUILLOR_BENCH_LOG_H

#include "log/log.h"

constexpr int32_t BENCH_LOG_LIMIT = 100000;

static inline void bench_log_start(log_record *lg)
{
    log_init(lg);
    log_open(lg, "", "install.log");
    log_set_limits(lg, BENCH_LOG_LIMIT, 1, 0);
    log_set_level(lg, LOG_LEVEL_DEBUG);
    log_make_current(lg);
}

#endif
