#include "sandbox.h"
#include "process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef VOKT_CGI
#error "VOKT_CGI must name the built program"
#endif

namespace {

struct Running {
    pid_t pid = -1;
    int feed = -1;  // write end of the standard-input pipe, or -1
    std::string outpath, errpath;
};

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> p;
    for (auto &t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

bool bind_if_there(const std::string &from, const char *to)
{
    return access(from.c_str(), F_OK) != 0 || mount(from.c_str(), to, nullptr, MS_BIND, nullptr) == 0;
}

// Everything the child needs, made before the fork: other threads (the
// feeders) may hold the allocator's lock at that moment, so the child must
// not allocate.
struct Start {
    std::string passwd, nsswitch, extrausers, tmp;
    std::string getent;  // a program bound over /usr/bin/getent, when there
    int prog = -1;  // the program, opened before /tmp is replaced in the child
    bool wrapped = false;
    std::vector<std::string> argv, env;
    std::vector<char *> argp, envp;
};

// The program is opened here: a build folder below /tmp is hidden in the
// child's namespace, the open file is not.  VOKT_WRAPPER in the test's
// environment: a command, words split at spaces, that runs the program
// (valgrind, say) with the same arguments and environment; the wrapper (a
// system program, seen in the namespace) is given the program as
// /proc/self/fd/N of the open file.
void prepare(Start &st, const std::string &dir, const Request &r)
{
    st.passwd = dir + "/passwd";
    st.nsswitch = dir + "/nsswitch.conf";
    st.extrausers = dir + "/extrausers";
    st.getent = dir + "/getent";
    st.tmp = dir + "/tmp";
    st.prog = open(VOKT_CGI, O_PATH | O_CLOEXEC);
    const char *wrapper = std::getenv("VOKT_WRAPPER");
    std::istringstream words(wrapper != nullptr ? wrapper : "");
    for (std::string w; words >> w;)
        st.argv.push_back(w);
    st.wrapped = !st.argv.empty();
    st.argv.push_back(st.wrapped ? "/proc/self/fd/" + std::to_string(st.prog) : std::string(VOKT_CGI));
    st.argv.insert(st.argv.end(), r.args.begin(), r.args.end());
    st.env = r.env;
    st.argp = pointers(st.argv);
    st.envp = pointers(st.env);
}

// In the child, which has its descriptors 0, 1 and 2 already: private
// mounts, the user, the descriptors the request asks for, then exec.
[[noreturn]] void child(const Start &st, const Request &r)
{
    if (st.prog < 0)
        _exit(127);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(st.passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0 ||
        !bind_if_there(st.nsswitch, "/etc/nsswitch.conf") || !bind_if_there(st.extrausers, "/var/lib/extrausers") ||
        !bind_if_there(st.getent, "/usr/bin/getent") ||
        mount(st.tmp.c_str(), "/tmp", nullptr, MS_BIND | MS_REC, nullptr) != 0)
        _exit(125);
    if (r.no_dev && mount("none", "/dev", "tmpfs", 0, "size=4k") != 0)
        _exit(125);
    umask(static_cast<mode_t>(r.umask_bits));
    if (r.file_size_limit >= 0) {
        rlimit lim{static_cast<rlim_t>(r.file_size_limit), static_cast<rlim_t>(r.file_size_limit)};
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    if (r.address_space_limit >= 0) {
        rlimit lim{static_cast<rlim_t>(r.address_space_limit), static_cast<rlim_t>(r.address_space_limit)};
        setrlimit(RLIMIT_AS, &lim);
    }
    gid_t gid = r.uid;
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(r.uid, r.uid, r.uid) != 0)
        _exit(126);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != st.prog)
            close(fd);
    if (r.close_stdout)
        close(1);
    for (int fd = 0; fd <= 2; ++fd)
        if (r.closed_fds & (1 << fd))
            close(fd);
    if (r.stdout_pipe_closed) {
        int p[2];
        if (pipe(p) != 0)
            _exit(124);
        dup2(p[1], 1);
        close(p[0]);
        close(p[1]);
    }
    if (chdir("/") != 0)
        _exit(124);
    char *none[] = {nullptr};
    if (st.wrapped) {
        fcntl(st.prog, F_SETFD, 0);  // the wrapper opens it by that name
        execve(st.argp[0], st.argp.data(), st.envp.data());
    } else {
        execveat(st.prog, "", r.no_argv0 ? none : st.argp.data(), st.envp.data(), AT_EMPTY_PATH);
    }
    _exit(127);
}

void feed(int fd, const Request &r, pid_t pid, size_t *fed)
{
    const std::string &body = r.body;
    size_t chunk = r.chunk;
    long deliver = r.deliver;
    int kill_signal = r.kill_signal;
    size_t total = deliver < 0 ? body.size() : static_cast<size_t>(deliver);
    for (size_t &done = *fed; done < total;) {
        size_t n = std::min(chunk, total - done);
        ssize_t w = write(fd, body.data() + done, n);
        if (w <= 0)
            break;
        done += static_cast<size_t>(w);
        std::this_thread::sleep_for(std::chrono::milliseconds(r.pause_ms));
    }
    if (kill_signal != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, kill_signal);
    }
    close(fd);
}

} // namespace

Sandbox::Sandbox()
{
    std::signal(SIGPIPE, SIG_IGN);
    char templ[] = "/tmp/vokt-test.XXXXXX";
    dir_ = mkdtemp(templ) ? templ : "";
    mkdir((dir_ + "/tmp").c_str(), 0);
    chmod((dir_ + "/tmp").c_str(), 01777);
    mkdir((dir_ + "/tmp/home0").c_str(), 0755);
    mkdir((dir_ + "/tmp/home1000").c_str(), 0755);
    if (chown((dir_ + "/tmp/home1000").c_str(), 1000, 1000) != 0) {
        // Without root the tests that need it skip.
    }
    homes_ = {{0, "/tmp/home0"}, {1000, "/tmp/home1000"}, {65534, "/nonexistent"}};
    write_passwd();
}

Sandbox::~Sandbox()
{
    if (small_tmp_)
        umount2((dir_ + "/tmp").c_str(), MNT_DETACH);
    if (!dir_.empty())
        std::system(("rm -rf '" + dir_ + "'").c_str());
}

bool Sandbox::usable()
{
    return finish(spawn([] { _exit(geteuid() == 0 && unshare(CLONE_NEWNS) == 0 ? 0 : 1); })) == 0;
}

void Sandbox::write_passwd() const
{
    std::string text;
    for (const auto &[uid, home] : homes_) {
        char line[64];
        std::snprintf(line, sizeof line, "u%u:x:%u:%u::", uid, uid, uid);
        text.append(line).append(home).append(":/bin/sh\n");
    }
    write_file(dir_ + "/passwd", text);
}

void Sandbox::set_home(uid_t uid, const std::string &home)
{
    for (auto &entry : homes_)
        if (entry.first == uid)
            entry.second = home;
    write_passwd();
}

std::string Sandbox::host(const std::string &inner) const
{
    return dir_ + inner;  // every path the program writes lies under /tmp
}

std::string Sandbox::read(const std::string &inner) const
{
    return read_file(host(inner));
}

std::vector<Result> Sandbox::run_all(const std::vector<Request> &rs)
{
    static int counter = 0;
    std::vector<Running> running;
    std::vector<std::thread> feeders;
    // One count per request, made before any feeder starts: no reallocation.
    std::vector<size_t> fed(rs.size(), 0);
    for (const auto &r : rs) {
        Running run;
        std::string base = dir_ + "/io" + std::to_string(++counter);
        run.outpath = base + ".out";
        run.errpath = base + ".err";
        int in;
        int pfd[2] = {-1, -1};
        if (r.zero_input) {
            in = open("/dev/zero", O_RDONLY);
        } else if (r.chunk == 0) {
            write_file(base + ".in", r.body);
            in = open((base + ".in").c_str(), O_RDONLY);
        } else {
            if (pipe(pfd) != 0)
                return {};
            in = pfd[0];
            if (r.nonblocking)
                fcntl(in, F_SETFL, O_NONBLOCK);
        }
        int out = open(run.outpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(run.errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        Start st;
        prepare(st, dir_, r);
        run.pid = spawn([&st, &r] { child(st, r); }, in, out, err);
        if (st.prog >= 0)
            close(st.prog);
        close(in);
        close(out);
        close(err);
        if (pfd[1] >= 0)
            feeders.emplace_back(feed, pfd[1], std::cref(r), run.pid, &fed[running.size()]);
        running.push_back(run);
    }
    for (auto &t : feeders)
        t.join();
    std::vector<Result> results;
    for (size_t i = 0; i < running.size(); ++i) {
        const Running &run = running[i];
        Result res;
        res.status = finish(run.pid);
        res.out = read_file(run.outpath);
        res.err = read_file(run.errpath);
        res.fed = fed[i];
        results.push_back(res);
    }
    return results;
}

Result Sandbox::run(const Request &r)
{
    return run_all({r})[0];
}

void Sandbox::set_nsswitch(const std::string &sources)
{
    write_file(dir_ + "/nsswitch.conf", "# written by the test\npasswd: " + sources + "\ngroup: files\n");
}

void Sandbox::set_extrausers(const std::string &passwd)
{
    mkdir((dir_ + "/extrausers").c_str(), 0755);
    write_file(dir_ + "/extrausers/passwd", passwd);
}

void Sandbox::small_tmp(size_t bytes, size_t inodes)
{
    std::string tmp = dir_ + "/tmp";
    std::string opts = "size=" + std::to_string(bytes) + ",mode=1777";
    if (inodes > 0)
        opts += ",nr_inodes=" + std::to_string(inodes);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("none", tmp.c_str(), "tmpfs", 0, opts.c_str()) != 0)
        return;
    small_tmp_ = true;
}

void Sandbox::set_passwd_text(const std::string &text)
{
    write_file(dir_ + "/passwd", text);
}

void Sandbox::set_nsswitch_text(const std::string &text)
{
    write_file(dir_ + "/nsswitch.conf", text);
}

void Sandbox::set_getent(const std::string &script)
{
    write_file(dir_ + "/getent", script);
    chmod((dir_ + "/getent").c_str(), 0755);
}
