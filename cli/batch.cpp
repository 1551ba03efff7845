#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace qrx::cli {

namespace {

// The write end of the pipe the signal handler reports through; -1 outside runWorkers.
volatile sig_atomic_t gSignalFd = -1;

extern "C" void onStopSignal(int sig) {
    const int saved = errno;
    const char c = char(sig);
    if (gSignalFd >= 0) (void)!write(gSignalFd, &c, 1);
    errno = saved;
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A file descriptor closed on destruction.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.release();
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
};

Pipe makePipe(int extraFlags = 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | extraFlags) != 0) throwErrno("pipe");
    return {Fd(fds[0]), Fd(fds[1])};
}

// SIGINT and SIGTERM handled through a pipe while it lives; the previous handlers come back after.
class StopSignals {
  public:
    StopSignals() : pipe_(makePipe(O_NONBLOCK)) {
        gSignalFd = pipe_.write.get();
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, &oldInt_);
        sigaction(SIGTERM, &sa, &oldTerm_);
    }
    ~StopSignals() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        gSignalFd = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return pipe_.read.get(); }
    // The number of signals that arrived since the last call.
    int drain() {
        int n = 0;
        char buf[64];
        ssize_t got;
        while ((got = ::read(pipe_.read.get(), buf, sizeof buf)) > 0)
            n += int(got);
        return n;
    }

  private:
    Pipe pipe_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

struct Running {
    size_t job;
    pid_t pid;
    Fd out, err;
};

// Spawns one worker with its standard output and error going into new pipes.
Running spawnWorker(const std::filesystem::path& program, const std::string& argv0,
                    const std::vector<std::string>& args, size_t job) {
    Pipe out = makePipe();
    Pipe err = makePipe();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGHUP})
        sigaddset(&defaults, sig);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), program.string());
    return {job, pid, std::move(out.read), std::move(err.read)};
}

// Appends what one read of the descriptor gives to text; closes it at the end of the stream. One
// read per wake-up, so a busy worker cannot hold up the others.
void drainInto(Fd& fd, std::string& text) {
    char buf[65536];
    ssize_t got;
    while ((got = ::read(fd.get(), buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    if (got > 0)
        text.append(buf, size_t(got));
    else
        fd.reset(); // end of stream, or an error that ends it
}

} // namespace

WorkerRun runWorkers(const std::filesystem::path& program, const std::string& argv0,
                     const std::vector<std::vector<std::string>>& jobs, size_t parallel,
                     const WorkerEvents& events) {
    if (parallel == 0) parallel = 1;
    WorkerRun run;
    run.outcomes.resize(jobs.size());
    StopSignals signals;
    std::vector<Running> running;
    size_t next = 0;
    int stops = 0;

    auto finish = [&](size_t job) {
        if (events.finished) events.finished(job, run.outcomes[job]);
    };

    for (;;) {
        while (stops == 0 && next < jobs.size() && running.size() < parallel) {
            const size_t job = next++;
            if (events.starting) events.starting(job);
            try {
                running.push_back(spawnWorker(program, argv0, jobs[job], job));
                run.outcomes[job].started = true;
            } catch (const std::system_error& e) {
                run.outcomes[job].spawnError = e.what();
                finish(job);
            }
        }
        if (running.empty()) break;

        std::vector<pollfd> fds;
        fds.push_back({signals.fd(), POLLIN, 0});
        for (const Running& r : running)
            for (const Fd* fd : {&r.out, &r.err})
                if (fd->open()) fds.push_back({fd->get(), POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throwErrno("poll");
        }

        if (fds[0].revents) {
            const int arrived = signals.drain();
            for (int i = 0; i < arrived; ++i) {
                ++stops;
                run.interrupted = true;
                if (stops >= 2)
                    for (const Running& r : running)
                        kill(r.pid, SIGTERM);
                if (events.interrupted) events.interrupted(stops);
            }
        }

        size_t k = 1;
        for (Running& r : running)
            for (Fd* fd : {&r.out, &r.err}) {
                if (!fd->open()) continue;
                const pollfd& p = fds[k++];
                if (p.revents)
                    drainInto(*fd,
                              fd == &r.out ? run.outcomes[r.job].out : run.outcomes[r.job].err);
            }

        // A worker whose pipes both ended has exited or is about to.
        for (size_t i = 0; i < running.size();) {
            Running& r = running[i];
            if (r.out.open() || r.err.open()) {
                ++i;
                continue;
            }
            int status = 0;
            while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
            WorkerOutcome& o = run.outcomes[r.job];
            if (WIFEXITED(status)) o.exitCode = WEXITSTATUS(status);
            if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
            const size_t job = r.job;
            running.erase(running.begin() + std::ptrdiff_t(i));
            finish(job);
        }
    }
    return run;
}

size_t availableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return size_t(n);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

std::string signalName(int sig) {
    if (const char* abbrev = sigabbrev_np(sig)) return std::string("SIG") + abbrev;
    return "signal " + std::to_string(sig);
}

} // namespace qrx::cli
