// End-to-end harness: runs the real installer binary in a scratch tree.
//
// A Sandbox makes a scratch root (what the installer sees as the drive, via
// QUILLOR_ROOT) holding a distribution folder "dist" filled from the sample
// distribution without its example answers files (or left empty), copies
// the binary into it and runs it there with scripted answers on standard
// input and a timeout.  A Run tells the exit status, the console text and
// install.log.  A run may be given RunOptions (arguments, a closed standard
// input, and for fault injection a file size limit or user nobody), and a
// Sandbox may mount small or read-only file systems into its tree (root
// only), which it takes down again at its end.
//
// QUILLOR_E2E_BINARY overrides the binary under test and QUILLOR_E2E_RUNNER
// names a program to start it with (for instance wine for the .exe).
//
// Under Wine the Windows program knows nothing of QUILLOR_ROOT: a rooted path
// names the root of the current drive.  When QUILLOR_E2E_WINE_DOSDEVICES
// names the prefix's dosdevices folder, each Sandbox claims a free drive
// letter (d: to y:) mapped to its root, so the program runs with the current
// directory X:\dist and "\x" lands in root + "/x".  A Sandbox may map more
// letters (map_drive), and QUILLOR_E2E_WIN_HELPER names a small Windows
// program for what only Windows can tell (win_helper).  Under Wine, too, the
// console text and the text files the installer writes (*.log, *.ini) are
// compared in their LF form: there they end their lines with CRLF, as
// Windows programs do.  Every other file is read byte for byte.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace e2e {

struct Run {
    int status = -1;  // exit status; -1 when killed or not started
    bool timed_out = false;
    std::string out;     // everything the installer printed on stdout
    std::string err;     // stderr
    std::string log;     // install.log after the run ("" when missing)
    double seconds = 0;  // wall-clock time the run took
};

// How to start one run beyond the input.  The defaults are those of
// Sandbox::run(input).
struct RunOptions {
    std::string cwd;  // "" = the distribution folder
    int timeout_s = 30;
    // > 0: the installer's file size limit (RLIMIT_FSIZE) in bytes, SIGXFSZ
    // ignored, so a write past it fails with EFBIG as on a full disk.  The
    // console is then read through pipes, which the limit does not touch.
    long long file_size_limit = 0;
    // Run as user and group nobody (65534); see can_run_as_nobody().
    bool as_nobody = false;
    // Command-line arguments after the program's name.
    std::vector<std::string> args;
    // Start with standard input closed: no input at all, not even an end.
    bool no_stdin = false;
    // Start with standard output closed, or as a pipe nobody reads.
    bool no_stdout = false;
    bool stdout_unread = false;
    // The program and its arguments, started instead of the installer
    // copied into dist (behind the runner, when there is one); args are
    // then not used.
    std::vector<std::string> command;
};

struct Sandbox {
    std::string top;    // scratch folder that holds everything
    std::string root;   // QUILLOR_ROOT: "\x" in an answer is root + "/x"
    std::string dist;   // the distribution folder, root + "/dist"
    std::string exe;    // the installer copied into dist
    std::string drive;  // under Wine, the drive letter mapped to root ("D:"); else ""

    explicit Sandbox(bool with_sample = true);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // Runs the installer with `input` on stdin; cwd defaults to dist.
    Run run(const std::string &input, const std::string &cwd = "", int timeout_s = 30) const;
    Run run(const std::string &input, const RunOptions &opt) const;

    // Starts the installer without waiting: its standard input is a pipe
    // the caller writes answers to (Started::in) and closes.  finish()
    // waits for it like run() does and tells the result.
    struct Started {
        int pid = -1;
        int in = -1;
        std::string out_path, err_path, cwd;
    };
    Started start(const std::string &cwd = "", const std::vector<std::string> &args = {}) const;
    Run finish(Started &p, int timeout_s = 30) const;

    // A small tmpfs of `size` ("256k") mounted at at(rel), made first when
    // missing; false when it cannot be mounted (not root, no mount).  Every
    // mount is taken down again before the scratch tree is removed.
    bool mount_tmpfs(const std::string &rel, const std::string &size);
    // Makes a file system mounted with mount_tmpfs read-only; false on failure.
    bool remount_readonly(const std::string &rel);
    // Mounts the folder at(from) a second time at at(rel) (root only); false
    // when it cannot be mounted.  Taken down with the other mounts.
    bool mount_bind(const std::string &from, const std::string &rel);
    // Under Wine: one more drive letter ("E:"), mapped to at(rel), or to the
    // root for ""; released with the sandbox.  "" when not under Wine.
    std::string map_drive(const std::string &rel);
    // Hands the whole scratch tree to nobody, so that a run as_nobody can
    // work in it; permissions set afterwards then bind that user too.
    void give_to_nobody() const;

    std::string at(const std::string &rel) const { return root + "/" + rel; }
    std::string in_dist(const std::string &rel) const { return dist + "/" + rel; }

  private:
    std::vector<std::string> mounts_;
    std::vector<std::string> drives_;
};

// True when the binary under test is started through Wine: tests skip the
// checks that only POSIX can make (permission bits, for instance).
bool under_wine();
// True when a run may switch to user nobody: the tests run as root, and the
// binary is not started through Wine (whose prefix belongs to root).
bool can_run_as_nobody();
// Under Wine, runs the Windows helper with args ("short", "D:\\x") and gives
// its output without the line end; "" when there is no helper or it fails.
std::string win_helper(const std::vector<std::string> &args);
// The installer's file name as copied into dist ("quillor-install" or
// "quillor-install.exe").
std::string program_name();

// A file's bytes; under Wine, *.log and *.ini in their LF form (see above).
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool exists(const std::string &path);
bool is_dir(const std::string &path);
void make_dirs(const std::string &path);
// Every file below dir, as relative paths, sorted ("a/b.tpl").
std::vector<std::string> list_files(const std::string &dir);
// Every entry below root, as relative paths, but those in skip: its mode,
// its modification time when with_times, and a hash of a file's contents;
// two states compare equal when nothing below root changed.
std::map<std::string, std::string> tree_state(const std::string &root, bool with_times,
                                              const std::set<std::string> &skip = {});
// Number of times `needle` occurs in `hay`.
int count(const std::string &hay, const std::string &needle);
// The lines every flow's introduction shares, between its own first lines
// and its pointer to install.log.
constexpr const char kIntroCommon[] = "The default options will be in square brackets like this:\t[default]\n"
                                      "To select the default, simply press enter.\n"
                                      "You will be asked after you have finshed if you want to make any changes to\n"
                                      "your answers. Your previous answers will become the default.\n"
                                      "If at any time you want to exit the program, type a capital Q\n"
                                      "as one of your answers.\n\n";

// A question as the installer shows it: "question [default]: ".
inline std::string prompt(const std::string &q, const std::string &def) { return q + " [" + def + "]: "; }
inline bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
// Answers joined with newlines, each line ended: lines({"1", "", "y"}).
std::string lines(const std::vector<std::string> &answers);

}  // namespace e2e
