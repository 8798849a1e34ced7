// Worker processes on POSIX: the library's last-error text is one per
// process, so each file gets a forked process of its own and sends its
// message back through a pipe. One file alone runs in one too, so that a
// stop can end it at once.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <sys/wait.h>
#if defined(__linux__)
#include <sched.h>
#endif
#include <unistd.h>

#include "stop_signals.h"
#include "workers.h"

namespace velmora_cli {

namespace {

struct Worker {
    pid_t pid;
    int fd;  // the read end of its pipe
    size_t job;
};

extern "C" void on_child_end(int) {}

// While workers run, the stop signals and SIGCHLD are blocked but during the
// wait, which they end: a stop cannot come between the check for it and the
// wait, which would then go on until a worker ended.
class WaitSignals {
public:
    WaitSignals() {
        struct sigaction sa = {};
        sa.sa_handler = on_child_end;  // the default would not wake sigsuspend
        sigemptyset(&sa.sa_mask);
        sigaction(SIGCHLD, &sa, &old_child_);
        sigset_t block;
        sigemptyset(&block);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&block, sig);
        sigprocmask(SIG_BLOCK, &block, &before_);
        during_wait_ = before_;
        sigdelset(&during_wait_, SIGCHLD);
    }
    ~WaitSignals() { restore(); }
    WaitSignals(const WaitSignals &) = delete;
    WaitSignals &operator=(const WaitSignals &) = delete;

    // Until a signal comes in.
    void wait() const { sigsuspend(&during_wait_); }

    // As before, for the end of the run or a forked worker.
    void restore() const {
        sigprocmask(SIG_SETMASK, &before_, nullptr);
        sigaction(SIGCHLD, &old_child_, nullptr);
    }

private:
    sigset_t before_, during_wait_;
    struct sigaction old_child_;
};

// In the forked process: runs the file, sends a failure's message, exits.
[[noreturn]] void work(const Job &job, const Call &call, const int fds[2],
                       const WaitSignals &signals) {
    ignore_stops();
    signals.restore();
    close(fds[0]);
    const Outcome outcome = run_one(job, call);
    if (!outcome.ok) {
        ssize_t w = write(fds[1], outcome.message.data(), outcome.message.size());
        (void)w;
    }
    _exit(exit_status(outcome));
}

std::string read_to_end(int fd) {
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    return text;
}

Outcome outcome_of(int status, const std::string &message, const Job &job) {
    Outcome outcome;
    outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.full = WIFEXITED(status) && WEXITSTATUS(status) == kExitFailedFull;
    outcome.message = message;
    if (!outcome.ok && message.empty())
        outcome.message = job.input + ": worker process ended abnormally";
    return outcome;
}

class ForkedWorkers : public Pool<Worker> {
public:
    ForkedWorkers(const std::vector<Job> &jobs, const Call &call, size_t parallel, Tally &tally,
                  Progress &progress)
        : Pool(jobs, parallel, tally, progress), call_(call) {}

    // Up to the first that cannot start: it is tried again after a worker
    // ends. With none running, no end will come to wait for: that file
    // fails, so that none is left untried.
    void start_more() {
        while (may_start()) {
            std::string error;
            if (!start(next_, error)) {
                if (!empty()) break;
                const Job &job = jobs_[next_];
                report(job, {false, false, job.input + ": cannot start a worker process: " + error});
            }
            started();
            show_progress();
        }
    }

    bool wait_for_one() {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid < 0) return false;
        if (pid > 0) finish(pid, status);
        else signals_.wait();
        return true;
    }

    // Stops at once: the workers' outputs are named only when whole, so
    // killing them leaves none half-written.
    void end_all() {
        for (const Worker &w : running_) kill(w.pid, SIGKILL);
        for (const Worker &w : running_) {
            waitpid(w.pid, nullptr, 0);
            close(w.fd);
        }
        running_.clear();
    }

private:
    // False with `error` when no pipe or process can be had.
    bool start(size_t index, std::string &error) {
        int fds[2];
        if (pipe(fds) != 0) {
            error = std::strerror(errno);
            return false;
        }
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) work(jobs_[index], call_, fds, signals_);
        const int fork_errno = errno;
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            error = std::strerror(fork_errno);
            return false;
        }
        running_.push_back({pid, fds[0], index});
        return true;
    }

    // Reports the worker `pid`, which ended with `status`.
    void finish(pid_t pid, int status) {
        for (size_t i = 0; i < running_.size(); ++i) {
            if (running_[i].pid != pid) continue;
            const std::string message = read_to_end(running_[i].fd);
            close(running_[i].fd);
            const Job &job = jobs_[running_[i].job];
            running_.erase(running_.begin() + long(i));
            report(job, outcome_of(status, message, job));
            return;
        }
    }

    const Call &call_;
    WaitSignals signals_;
};

}  // namespace

int processor_count() {
#if defined(__linux__)
    // Those this process may use: a container or taskset may allow fewer.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
#endif
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

void run_workers(const std::vector<Job> &jobs, const Call &call,
                 const std::vector<std::string> & /* Windows only */, size_t parallel,
                 Tally &tally, Progress &progress) {
    ForkedWorkers workers(jobs, call, parallel, tally, progress);
    run_until_done(workers);
}

}  // namespace velmora_cli
