/* Benchmark data generator.
 *
 * Writes the synthetic trees the benchmark times the installer on, with a
 * fixed seed so that every run sees the same bytes:
 *
 *   gen_dist dist DIR TPL_FILES IMAGES PAGES
 *       a distribution: DIR/tpl (templates and data files of 1 KiB to
 *       64 KiB, nine in ten at the top level, the rest in four subfolders),
 *       DIR/img (images of 256 KiB to 4 MiB), DIR/manuals (pages of 4 KiB
 *       to 64 KiB, plus one text file the "*.htm*" mask leaves out) and
 *       DIR/quillor.exe (1 MiB).  quillor.ini and install.hlp are copied in
 *       by the caller.
 *   gen_dist walk DIR ENTRIES
 *       an empty-file tree of about ENTRIES entries, three levels deep, for
 *       the tree-walk comparison.
 *   gen_dist ini FILE LINES
 *       a configuration file of LINES lines (comments, blank lines, common
 *       settings and a host section), one new key per setting line.
 *
 * Only for the benchmark: it talks to the OS directly.
 */
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

constexpr size_t KIB = 1024;
constexpr uint64_t SEED = 0x5eed1e55c0ffee11ull;
constexpr int TPL_SUBFOLDERS = 4;
constexpr int TPL_SUBFOLDER_SHARE = 10; /* one file in ten goes into a subfolder */

static uint64_t rng_state = SEED;

static uint64_t next_random()
{
    uint64_t x = rng_state; /* xorshift64* */
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    rng_state = x;
    return x * 0x2545F4914F6CDD1Dull;
}

static size_t random_between(size_t lo, size_t hi) { return lo + (size_t)(next_random() % (hi - lo + 1)); }

static void die(const char *what, const std::string &path)
{
    fprintf(stderr, "gen_dist: %s %s: %s\n", what, path.c_str(), strerror(errno));
    exit(1);
}

static void make_dir(const std::string &path)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) die("cannot create", path);
}

/* A file of `size` pseudo-random bytes (incompressible, like real images). */
static void write_file(const std::string &path, size_t size)
{
    static std::vector<uint64_t> block(16 * KIB);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) die("cannot create", path);
    while (size > 0) {
        size_t words = (size + 7) / 8 < block.size() ? (size + 7) / 8 : block.size();
        for (size_t i = 0; i < words; i++) block[i] = next_random();
        size_t n = words * 8 < size ? words * 8 : size;
        if (fwrite(block.data(), 1, n, f) != n) die("cannot write", path);
        size -= n;
    }
    if (fclose(f) != 0) die("cannot write", path);
}

static std::string numbered(const char *fmt, int n)
{
    char name[64];
    snprintf(name, sizeof name, fmt, n);
    return name;
}

/* ---- the distribution ---- */

static const char *tpl_extension(int i)
{
    int k = i % 10; /* six templates, three data files, one other file in ten */
    return k < 6 ? ".tpl" : k < 9 ? ".dat" : ".txt";
}

static void make_templates(const std::string &dir, int files)
{
    static const char *const subfolders[TPL_SUBFOLDERS] = {"mail", "news", "user", "admin"};
    make_dir(dir);
    for (const char *sub : subfolders) make_dir(dir + "/" + sub);
    for (int i = 0; i < files; i++) {
        std::string where = dir;
        if (i % TPL_SUBFOLDER_SHARE == TPL_SUBFOLDER_SHARE - 1)
            where += std::string("/") + subfolders[(i / TPL_SUBFOLDER_SHARE) % TPL_SUBFOLDERS];
        write_file(where + numbered("/t%05d", i) + tpl_extension(i), random_between(1 * KIB, 64 * KIB));
    }
}

static void make_images(const std::string &dir, int images)
{
    static const char *const ext[] = {".png", ".gif", ".jpg"};
    make_dir(dir);
    for (int i = 0; i < images; i++)
        write_file(dir + numbered("/i%04d", i) + ext[i % 3], random_between(256 * KIB, 4096 * KIB));
}

static void make_manuals(const std::string &dir, int pages)
{
    make_dir(dir);
    for (int i = 0; i < pages; i++)
        write_file(dir + numbered("/m%04d", i) + (i % 5 == 4 ? ".html" : ".htm"), random_between(4 * KIB, 64 * KIB));
    write_file(dir + "/changes.txt", 4 * KIB);
}

/* ---- the walk tree ---- */

/* Ten directories at each of three levels; the files are spread so that
 * the whole tree holds about `entries` entries. */
static void make_walk_tree(const std::string &root, int entries)
{
    const int fan = 10, dirs = fan + fan * fan + fan * fan * fan;
    int per_leaf = (entries - dirs - (fan + fan * fan) * fan) / (fan * fan * fan);
    if (per_leaf < 1) per_leaf = 1;
    static const char *const ext[] = {".tpl", ".dat", ".htm", ".TPL"};
    make_dir(root);
    int serial = 0;
    auto files = [&](const std::string &dir, int n) {
        for (int i = 0; i < n; i++, serial++) write_file(dir + numbered("/f%06d", serial) + ext[serial % 4], 0);
    };
    for (int a = 0; a < fan; a++) {
        std::string da = root + numbered("/d%d", a);
        make_dir(da);
        files(da, fan);
        for (int b = 0; b < fan; b++) {
            std::string db = da + numbered("/d%d", b);
            make_dir(db);
            files(db, fan);
            for (int c = 0; c < fan; c++) {
                std::string dc = db + numbered("/d%d", c);
                make_dir(dc);
                files(dc, per_leaf);
            }
        }
    }
}

/* ---- configuration files ---- */

static void make_ini(const std::string &path, int lines)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) die("cannot create", path);
    for (int i = 0; i < lines; i++) {
        int k = i % 20;
        if (i == lines / 2)
            fprintf(f, "vhost www.example.org\n"); /* a section the installer skips */
        else if (i == lines / 2 + 5)
            fprintf(f, "vend\n");
        else if (k == 0)
            fprintf(f, "# settings group %d\n", i / 20);
        else if (k == 1)
            fprintf(f, "\n");
        else
            fprintf(f, "setting_%06d value %d for the setting number %d\n", i, i * 7, i);
    }
    if (fclose(f) != 0) die("cannot write", path);
}

int main(int argc, char **argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "dist" && argc == 6) {
        std::string dir = argv[2];
        make_dir(dir);
        make_templates(dir + "/tpl", atoi(argv[3]));
        make_images(dir + "/img", atoi(argv[4]));
        make_manuals(dir + "/manuals", atoi(argv[5]));
        write_file(dir + "/quillor.exe", 1024 * KIB);
        return 0;
    }
    if (what == "walk" && argc == 4) {
        make_walk_tree(argv[2], atoi(argv[3]));
        return 0;
    }
    if (what == "ini" && argc == 4) {
        make_ini(argv[2], atoi(argv[3]));
        return 0;
    }
    fprintf(stderr, "usage: gen_dist dist DIR TPL_FILES IMAGES PAGES\n"
                    "       gen_dist walk DIR ENTRIES\n"
                    "       gen_dist ini FILE LINES\n");
    return 2;
}
