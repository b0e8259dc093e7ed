/* Configuration-loading driver for the benchmark: loads one file through
 * vini_load the way the installer reads a configuration (host sections on,
 * a host name no section names, every key undeclared), looks one key up,
 * and frees everything.
 *
 *   vini_driver FILE [TIMES]
 *
 * Prints the number of undeclared settings kept.
 */
#include <cstdio>
#include <cstdlib>

#include "bench/bench_log.h"
#include "config/vini.h"

static const ini_definition NO_SETTINGS[] = {{nullptr, nullptr, 0}};

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: vini_driver FILE [TIMES]\n");
        return 2;
    }
    int times = argc == 3 ? atoi(argv[2]) : 1;
    log_record lg;
    bench_log_start(&lg);
    int kept = 0;
    for (int i = 0; i < times; i++) {
        vini v;
        vini_init(&v, log_error, log_debug);
        vini_set_table(&v, NO_SETTINGS, nullptr, 0);
        if (!vini_load(&v, nullptr, argv[1], "vhost", "supercalafragalistikexpialadocious")) return 1;
        if (!vini_get(&v, "setting_000002", 1)) return 1;
        kept = static_count(&v.undeclared);
        vini_free(&v);
    }
    log_close(&lg);
    printf("%d\n", kept);
    return 0;
}
