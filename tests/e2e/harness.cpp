// End-to-end harness: scratch trees and runs of the real binary.
#include "harness.h"
#include "../common/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

static void sh(const std::string &cmd)
{
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "harness command failed: %s\n", cmd.c_str());
        abort();
    }
}

static std::string quote(const std::string &s) { return "'" + s + "'"; }

static std::string binary_under_test()
{
    const char *b = getenv("QUILLOR_E2E_BINARY");
    return b && *b ? b : QUILLOR_BINARY;
}

constexpr int kNobody = 65534;  // uid and gid of nobody

bool under_wine()
{
    const char *r = getenv("QUILLOR_E2E_RUNNER");
    if (!r || !*r) return false;
    std::string base = r;
    base = base.substr(base.find_last_of('/') + 1);
    return base.rfind("wine", 0) == 0;
}

bool can_run_as_nobody() { return geteuid() == 0 && !under_wine(); }

std::string program_name()
{
    std::string bin = binary_under_test();
    return bin.substr(bin.find_last_of('/') + 1);
}

// The link in Wine's dosdevices folder that stands for drive d ("D:").
static std::string drive_link(const std::string &d)
{
    const char *dev = getenv("QUILLOR_E2E_WINE_DOSDEVICES");
    return std::string(dev ? dev : "") + "/" + char(tolower((unsigned char)d[0])) + ":";
}

// Maps the first free drive letter to root.  Making the link is the claim:
// it fails when another sandbox, in this process or another, holds the letter.
static std::string claim_drive(const std::string &root)
{
    const char *dev = getenv("QUILLOR_E2E_WINE_DOSDEVICES");
    if (!dev || !*dev) return "";
    for (char c = 'D'; c <= 'Y'; c++) {
        std::string d = std::string(1, c) + ":";
        if (symlink(root.c_str(), drive_link(d).c_str()) == 0) return d;
        if (errno != EEXIST) break;
    }
    fprintf(stderr, "harness: no free drive letter in %s: %s\n", dev, strerror(errno));
    abort();
}

Sandbox::Sandbox(bool with_sample)
{
    char tmpl[] = "/tmp/qe2eXXXXXX";
    top = mkdtemp(tmpl);
    root = top + "/root";
    dist = root + "/dist";
    make_dirs(dist);
    if (with_sample) {  // the example answers files are no part of a distribution
        sh("cp -R " + quote(std::string(QUILLOR_SAMPLE_DIR) + "/.") + " " + quote(dist));
        sh("rm -rf " + quote(dist + "/answers"));
    }
    std::string bin = binary_under_test();
    exe = dist + "/" + program_name();
    sh("cp " + quote(bin) + " " + quote(exe));
    drive = claim_drive(root);
}

Sandbox::~Sandbox()
{
    for (auto m = mounts_.rbegin(); m != mounts_.rend(); ++m)
        if (system(("umount -l " + quote(*m) + " 2>/dev/null").c_str()) != 0)
            fprintf(stderr, "harness: could not unmount %s\n", m->c_str());
    if (!drive.empty()) unlink(drive_link(drive).c_str());
    for (const auto &d : drives_) unlink(drive_link(d).c_str());
    if (getenv("QUILLOR_E2E_KEEP")) return;
    sh("chmod -R u+rwx " + quote(top) + " 2>/dev/null; rm -rf " + quote(top));
}

bool Sandbox::mount_tmpfs(const std::string &rel, const std::string &size)
{
    if (geteuid() != 0) return false;
    std::string dir = at(rel);
    make_dirs(dir);
    std::string cmd = "mount -t tmpfs -o size=" + size + " tmpfs " + quote(dir) + " 2>/dev/null";
    if (system(cmd.c_str()) != 0) return false;
    mounts_.push_back(dir);
    return true;
}

bool Sandbox::remount_readonly(const std::string &rel)
{
    std::string cmd = "mount -o remount,ro " + quote(at(rel)) + " 2>/dev/null";
    return system(cmd.c_str()) == 0;
}

bool Sandbox::mount_bind(const std::string &from, const std::string &rel)
{
    if (geteuid() != 0) return false;
    std::string dir = at(rel);
    make_dirs(dir);
    if (system(("mount --bind " + quote(at(from)) + " " + quote(dir) + " 2>/dev/null").c_str()) != 0) return false;
    mounts_.push_back(dir);
    return true;
}

std::string Sandbox::map_drive(const std::string &rel)
{
    if (drive.empty()) return "";
    std::string d = claim_drive(rel.empty() ? root : at(rel));
    drives_.push_back(d);
    return d;
}

std::string win_helper(const std::vector<std::string> &args)
{
    const char *helper = getenv("QUILLOR_E2E_WIN_HELPER");
    if (!under_wine() || !helper || !*helper) return "";
    std::string cmd = std::string(getenv("QUILLOR_E2E_RUNNER")) + " " + quote(helper);
    for (const auto &a : args) cmd += " " + quote(a);
    FILE *p = popen((cmd + " 2>/dev/null </dev/null").c_str(), "r");
    if (!p) return "";
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (pclose(p) != 0) return "";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

void Sandbox::give_to_nobody() const
{
    sh("chown -R " + std::to_string(kNobody) + ":" + std::to_string(kNobody) + " " + quote(top));
}

// CRLF line ends as LF.
static std::string lf_form(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

static bool text_written_by_installer(const std::string &path)
{
    std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    for (char &c : tail) c = (char)tolower((unsigned char)c);
    return tail == ".log" || tail == ".ini";
}

static int open_temp(std::string &path)
{
    char tmpl[] = "/tmp/qe2eioXXXXXX";
    int fd = mkstemp(tmpl);
    path = tmpl;
    return fd;
}

// The limits and the user a run asks for, set in the child before exec.
static void restrict_child(const RunOptions &opt)
{
    if (opt.file_size_limit > 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing
        struct rlimit lim = {(rlim_t)opt.file_size_limit, (rlim_t)opt.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(125);
    }
    if (opt.as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(125);
}

// Starts the binary in the child: cwd, environment, redirections, exec.
static void child(const Sandbox &s, const RunOptions &opt, const std::string &cwd, int in, int out, int err)
{
    dup2(in, 0);
    if (opt.no_stdin) close(0);
    dup2(out, 1);
    int unread[2];
    if (opt.stdout_unread && pipe(unread) == 0) {  // its reading end goes before the installer starts
        signal(SIGPIPE, SIG_DFL);                     // as a shell would start it
        close(unread[0]);
        dup2(unread[1], 1);
        close(unread[1]);
    }
    if (opt.no_stdout) close(1);
    dup2(err, 2);
    restrict_child(opt);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    setenv("QUILLOR_ROOT", s.root.c_str(), 1);
    const char *runner = getenv("QUILLOR_E2E_RUNNER");
    std::vector<char *> argv;
    if (runner && *runner) argv.push_back(const_cast<char *>(runner));
    if (!opt.command.empty()) {  // another program, or the installer by another path
        for (const std::string &a : opt.command) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    argv.push_back(const_cast<char *>(s.exe.c_str()));
    for (const std::string &a : opt.args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    if (runner && *runner)
        execvp(runner, argv.data());
    else
        execv(s.exe.c_str(), argv.data());
    _exit(127);
}

// The console through pipes: what the child wrote so far is moved into
// the strings.  fds[i] is -1 once its pipe is at its end.
struct Pipes {
    int fds[2] = {-1, -1};
    std::string *to[2] = {nullptr, nullptr};
    void drain(int wait_ms)
    {
        struct pollfd p[2];
        int n = 0;
        for (int i = 0; i < 2; i++)
            if (fds[i] >= 0) p[n++] = {fds[i], POLLIN, 0};
        if (n == 0 || poll(p, n, wait_ms) <= 0) return;
        for (int k = 0; k < n; k++) {
            if (!p[k].revents) continue;
            int i = p[k].fd == fds[0] ? 0 : 1;
            char buf[65536];
            ssize_t got = read(fds[i], buf, sizeof buf);
            if (got > 0) {
                to[i]->append(buf, (size_t)got);
            } else {
                close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    bool open() const { return fds[0] >= 0 || fds[1] >= 0; }
    ~Pipes()
    {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
};

// Waits for pid up to timeout_s seconds; kills it when it takes longer.
static int wait_for(pid_t pid, int timeout_s, bool &timed_out, Pipes *pipes)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int st = 0;
    for (;;) {
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            timed_out = true;
            break;
        }
        if (pipes && pipes->open())
            pipes->drain(5);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // what is left in the pipes; a helper the child started (wineserver)
    // may hold them open, so not beyond the deadline
    auto drained_by = std::max(end, std::chrono::steady_clock::now()) + std::chrono::seconds(1);
    while (pipes && pipes->open() && std::chrono::steady_clock::now() < drained_by) pipes->drain(100);
    if (timed_out) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

Run Sandbox::run(const std::string &input, const std::string &cwd, int timeout_s) const
{
    RunOptions opt;
    opt.cwd = cwd;
    opt.timeout_s = timeout_s;
    return run(input, opt);
}

Run Sandbox::run(const std::string &input, const RunOptions &opt) const
{
    Run r;
    std::string in_path, out_path, err_path;
    int in = open_temp(in_path), out, err;
    Pipes pipes;
    if (opt.file_size_limit > 0) {  // the limit would cut console files short
        int po[2], pe[2];
        if (pipe(po) != 0 || pipe(pe) != 0) abort();
        out = po[1];
        err = pe[1];
        pipes.fds[0] = po[0];
        pipes.fds[1] = pe[0];
        pipes.to[0] = &r.out;
        pipes.to[1] = &r.err;
    } else {
        out = open_temp(out_path);
        err = open_temp(err_path);
    }
    if (write(in, input.data(), input.size()) != (ssize_t)input.size()) abort();
    lseek(in, 0, SEEK_SET);
    fflush(nullptr);
    std::string cwd = opt.cwd.empty() ? dist : opt.cwd;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        for (int fd : pipes.fds)
            if (fd >= 0) close(fd);
        child(*this, opt, cwd, in, out, err);
    }
    close(in);
    close(out);
    close(err);
    r.status = wait_for(pid, opt.timeout_s, r.timed_out, opt.file_size_limit > 0 ? &pipes : nullptr);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!out_path.empty()) {
        r.out = read_file(out_path);
        r.err = read_file(err_path);
        unlink(out_path.c_str());
        unlink(err_path.c_str());
    }
    if (under_wine()) {
        r.out = lf_form(r.out);
        r.err = lf_form(r.err);
    }
    struct stat st;  // a log that is a device (/dev/full) would read for ever
    std::string log_path = cwd + "/install.log";
    if (stat(log_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) r.log = read_file(log_path);
    unlink(in_path.c_str());
    return r;
}

Sandbox::Started Sandbox::start(const std::string &cwd, const std::vector<std::string> &args) const
{
    Started p;
    int fds[2];
    if (pipe(fds) != 0) abort();
    int out = open_temp(p.out_path), err = open_temp(p.err_path);
    p.cwd = cwd.empty() ? dist : cwd;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        RunOptions o;
        o.args = args;
        child(*this, o, p.cwd, fds[0], out, err);
    }
    close(fds[0]);
    close(out);
    close(err);
    p.pid = pid;
    p.in = fds[1];
    return p;
}

Run Sandbox::finish(Started &p, int timeout_s) const
{
    Run r;
    if (p.in >= 0) close(p.in);
    p.in = -1;
    r.status = wait_for(p.pid, timeout_s, r.timed_out, nullptr);
    r.out = read_file(p.out_path);
    r.err = read_file(p.err_path);
    unlink(p.out_path.c_str());
    unlink(p.err_path.c_str());
    if (under_wine()) r.out = lf_form(r.out);
    struct stat st;
    std::string log_path = p.cwd + "/install.log";
    if (stat(log_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) r.log = read_file(log_path);
    return r;
}

std::string read_file(const std::string &path)
{
    std::string bytes = test_files::read_bytes(path);
    if (under_wine() && text_written_by_installer(path)) return lf_form(bytes);
    return bytes;
}

void write_file(const std::string &path, const std::string &content) { test_files::write_bytes(path, content); }
bool exists(const std::string &path) { return test_files::exists(path); }
bool is_dir(const std::string &path) { return test_files::is_dir(path); }
void make_dirs(const std::string &path) { test_files::make_dirs(path); }

static void walk(const std::string &dir, const std::string &rel, std::vector<std::string> &out)
{
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        std::string full = dir + "/" + n, r = rel.empty() ? n : rel + "/" + n;
        struct stat st;
        if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            walk(full, r, out);
        else
            out.push_back(r);
    }
    closedir(d);
}

std::map<std::string, std::string> tree_state(const std::string &root, bool with_times, const std::set<std::string> &skip)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> t;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st;
        std::string rel = fs::relative(it->path(), root).generic_string();
        if (skip.count(rel) || lstat(it->path().c_str(), &st) != 0) continue;
        std::ostringstream e;
        e << st.st_mode;
        if (with_times) e << " " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec;
        e << " " << (S_ISREG(st.st_mode) ? std::hash<std::string>{}(read_file(it->path().string())) : 0);
        t[rel] = e.str();
    }
    return t;
}

std::vector<std::string> list_files(const std::string &dir)
{
    std::vector<std::string> out;
    walk(dir, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

int count(const std::string &hay, const std::string &needle)
{
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) n++;
    return n;
}

std::string lines(const std::vector<std::string> &answers)
{
    std::string s;
    for (const auto &a : answers) s += a + "\n";
    return s;
}

}  // namespace e2e
