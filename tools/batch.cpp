#include "batch.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "velmora.h"

#if defined(_WIN32)
#include <io.h>
#define VELMORA_ISATTY(fd) _isatty(fd)
#else
#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>
#define VELMORA_ISATTY(fd) isatty(fd)
#endif

namespace velmora_cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) { g_interrupted = 1; }

// Ctrl-C lets the files in progress finish, so no output is left half-written,
// and starts no further one.
void catch_interrupts() {
#if defined(_WIN32)
    std::signal(SIGINT, on_interrupt);
#else
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);  // no SA_RESTART: waitpid returns early
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

class Progress {
public:
    Progress(size_t total, bool enabled) : total_(total), enabled_(enabled) {}
    void show(size_t done, const std::string &current) {
        if (!enabled_) return;
        const int width = 30;
        const int filled = total_ ? int(done * width / total_) : width;
        std::fprintf(stderr, "\r\033[K[%.*s%.*s] %zu/%zu %s", filled,
                     "##############################", width - filled,
                     "..............................", done, total_, current.c_str());
        std::fflush(stderr);
    }
    void clear() {
        if (enabled_) std::fprintf(stderr, "\r\033[K");
    }

private:
    size_t total_;
    bool enabled_;
};

std::string file_name(const std::string &path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

struct Tally {
    size_t done = 0;
    size_t failed = 0;
};

void report(Tally &tally, Progress &progress, const Job &job, bool ok, const std::string &message) {
    ++tally.done;
    if (!ok) {
        ++tally.failed;
        progress.clear();
        std::fprintf(stderr, "velmora: %s\n", message.c_str());
    }
    progress.show(tally.done, file_name(job.input));
}

void run_here(const std::vector<Job> &jobs, const Call &call, Tally &tally, Progress &progress) {
    for (const Job &job : jobs) {
        if (g_interrupted) break;
        const bool ok = call(job.input.c_str(), job.output.c_str()) != 0;
        report(tally, progress, job, ok, ok ? "" : velmora_last_error());
    }
}

#if !defined(_WIN32)
// Worker processes: the library's last-error text is one per process, so each
// file gets a process of its own and sends its message back through a pipe.
void run_workers(const std::vector<Job> &jobs, const Call &call, size_t parallel, Tally &tally,
                 Progress &progress) {
    struct Worker {
        pid_t pid;
        int fd;
        size_t job;
    };
    std::vector<Worker> running;
    size_t next = 0;
    while (true) {
        while (!g_interrupted && next < jobs.size() && running.size() < parallel) {
            int fds[2];
            if (pipe(fds) != 0) break;
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                std::signal(SIGINT, SIG_IGN);
                std::signal(SIGTERM, SIG_IGN);
                close(fds[0]);
                const int ok = call(jobs[next].input.c_str(), jobs[next].output.c_str());
                if (!ok) {
                    const std::string msg = velmora_last_error();
                    ssize_t w = write(fds[1], msg.data(), msg.size());
                    (void)w;
                }
                _exit(ok ? 0 : 1);
            }
            close(fds[1]);
            if (pid < 0) {
                close(fds[0]);
                break;
            }
            running.push_back({pid, fds[0], next++});
        }
        if (running.empty()) break;
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t i = 0; i < running.size(); ++i) {
            if (running[i].pid != pid) continue;
            std::string msg;
            char buf[512];
            ssize_t n;
            while ((n = read(running[i].fd, buf, sizeof buf)) > 0) msg.append(buf, size_t(n));
            close(running[i].fd);
            const Job &job = jobs[running[i].job];
            const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (!ok && msg.empty()) msg = job.input + ": worker process ended abnormally";
            report(tally, progress, job, ok, msg);
            running.erase(running.begin() + long(i));
            break;
        }
    }
}
#endif

}  // namespace

bool plan_batch(const std::vector<std::string> &inputs, const std::string &dir,
                const std::string &format, std::vector<Job> &jobs, std::string &error) {
    std::set<std::string> outputs;
    for (const std::string &input : inputs) {
        const std::string name = file_name(input);
        const size_t dot = name.rfind('.');
        const bool has_ext = dot != std::string::npos && dot > 0;
        const std::string stem = has_ext ? name.substr(0, dot) : name;
        const std::string ext = !format.empty() ? "." + format : has_ext ? name.substr(dot) : "";
        const std::string output = dir + "/" + stem + ext;
        if (!outputs.insert(output).second) {
            error = "two inputs would both be written to " + output;
            return false;
        }
        jobs.push_back({input, output});
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create the folder " + dir + ": " + ec.message();
        return false;
    }
    return true;
}

int run_jobs(const std::vector<Job> &jobs, const Call &call, int parallel, bool summary) {
    catch_interrupts();
    Progress progress(jobs.size(), summary && VELMORA_ISATTY(2));
    Tally tally;
#if defined(_WIN32)
    (void)parallel;
    run_here(jobs, call, tally, progress);
#else
    if (parallel <= 1 || jobs.size() <= 1)
        run_here(jobs, call, tally, progress);
    else
        run_workers(jobs, call, size_t(parallel), tally, progress);
#endif
    progress.clear();
    if (summary) {
        std::fprintf(stderr, "velmora: %zu of %zu files written, %zu failed%s\n",
                     tally.done - tally.failed, jobs.size(), tally.failed,
                     g_interrupted ? " (interrupted)" : "");
    }
    if (g_interrupted) return 130;
    return tally.failed ? 1 : 0;
}

}  // namespace velmora_cli
