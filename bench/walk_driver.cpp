/* Tree-walk driver for the benchmark: lists, through dir_walk, every entry
 * of a tree that a mask selects, recursing into every subdirectory, and
 * prints one full path a line, as find prints its matches.
 *
 *   walk_driver START MASK      (START in installer form, e.g. ".\walk\")
 *
 * The last line on standard error is the number of entries listed.
 */
#include <cstdio>

#include "bench/bench_log.h"
#include "files/tree.h"
#include "platform/platform.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: walk_driver START MASK\n");
        return 2;
    }
    log_record lg;
    bench_log_start(&lg);
    static_list found;
    dir_walk(&found, argv[1], argv[2], WALK_FILES | WALK_DIRS, 1);
    int count = static_count(&found);
    static_rewind(&found);
    while (const char *item = static_cast<const char *>(static_next(&found))) {
        plat_out(item);
        plat_out("\n");
    }
    plat_flush();
    static_free(&found);
    log_close(&lg);
    fprintf(stderr, "%d\n", count);
    return 0;
}
