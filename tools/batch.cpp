#include "batch.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "files.h"
#include "velmora.h"

#if defined(_WIN32)
#include <io.h>
#define VELMORA_ISATTY(fd) _isatty(fd)
#else
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#define VELMORA_ISATTY(fd) isatty(fd)
#endif

namespace velmora_cli {

namespace {

// The first stopping signal lets the files in progress finish, so no output
// is left half-written, and starts no further one; a second one stops at
// once (the workers are killed: their outputs are never named until whole).
volatile std::sig_atomic_t g_stop_signal = 0;
volatile std::sig_atomic_t g_stop_count = 0;
volatile std::sig_atomic_t g_resized = 0;

extern "C" void on_stop(int sig) {
    if (g_stop_signal == 0) g_stop_signal = sig;
    g_stop_count = g_stop_count + 1;
#if !defined(_WIN32)
    // Working in this process: a second signal ends it at once.
    if (g_stop_count == 1) signal(sig, SIG_DFL);
#endif
}

#if !defined(_WIN32)
extern "C" void on_resize(int) { g_resized = 1; }
#endif

bool stopping() { return g_stop_signal != 0; }

void catch_stops(bool in_this_process) {
#if defined(_WIN32)
    (void)in_this_process;
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
#else
    struct sigaction sa = {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: waitpid returns early. Workers take the second signal
    // in the parent, which kills them.
    if (in_this_process) sa.sa_flags = SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    struct sigaction winch = {};
    winch.sa_handler = on_resize;
    sigemptyset(&winch.sa_mask);
    sigaction(SIGWINCH, &winch, nullptr);
#endif
}

// 128 + the signal, as shells report it: 129 SIGHUP, 130 Ctrl-C, 143 SIGTERM.
int stop_status() { return 128 + int(g_stop_signal); }

int terminal_width() {
#if !defined(_WIN32)
    struct winsize ws;
    if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
    return 80;
}

std::string clock_text(double seconds) {
    const long s = long(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// One line on a terminal: done/total, percentage, elapsed and time left, the
// files in flight; cut to the terminal's width and drawn again on a resize.
class Progress {
public:
    Progress(size_t total, bool enabled)
        : total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

    void show(size_t done, const std::vector<std::string> &in_flight) {
        if (!enabled_) return;
        if (g_resized) {
            g_resized = 0;
            width_ = 0;
        }
        if (width_ == 0) width_ = terminal_width();
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const int percent = total_ ? int(done * 100 / total_) : 100;
        std::string line = "[";
        const int bar = 20, filled = total_ ? int(done * bar / total_) : bar;
        line += std::string(size_t(filled), '#') + std::string(size_t(bar - filled), '.');
        line += "] " + std::to_string(done) + "/" + std::to_string(total_) + " " +
                std::to_string(percent) + "% " + clock_text(elapsed);
        if (done > 0 && done < total_)
            line += ", " + clock_text(elapsed / double(done) * double(total_ - done)) + " left";
        for (size_t k = 0; k < in_flight.size(); ++k) line += (k ? ", " : "  ") + in_flight[k];
        if (line.size() > size_t(width_ - 1)) line.resize(size_t(width_ - 1));
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
    }
    void clear() {
        if (enabled_) std::fprintf(stderr, "\r\033[K");
    }

private:
    size_t total_;
    bool enabled_;
    int width_ = 0;
    std::chrono::steady_clock::time_point start_;
};

std::string file_name(const std::string &path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

struct Tally {
    size_t done = 0;
    size_t failed = 0;
};

void report(Tally &tally, Progress &progress, const Job &job, bool ok, const std::string &message,
            const std::vector<std::string> &in_flight) {
    ++tally.done;
    if (!ok) {
        ++tally.failed;
        progress.clear();
        std::fprintf(stderr, "velmora: %s\n", message.c_str());
        // Only a write can fail for a reason the files show.
        if (message.find(": cannot write ") != std::string::npos) {
            const std::string hint = write_failure_hint(job.input, job.output);
            if (!hint.empty()) std::fprintf(stderr, "velmora: hint: %s\n", hint.c_str());
        }
    }
    progress.show(tally.done, in_flight);
}

void run_here(const std::vector<Job> &jobs, const Call &call, Tally &tally, Progress &progress) {
    for (const Job &job : jobs) {
        if (stopping()) break;
        progress.show(tally.done, {file_name(job.input)});
        const bool ok = call(job.input.c_str(), job.output.c_str()) != 0;
        report(tally, progress, job, ok, ok ? "" : velmora_last_error(), {});
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
        if (g_stop_count >= 2) {
            // Stop at once: the workers' outputs are named only when whole,
            // so killing them leaves none half-written.
            for (const Worker &w : running) kill(w.pid, SIGKILL);
            for (const Worker &w : running) {
                waitpid(w.pid, nullptr, 0);
                close(w.fd);
            }
            running.clear();
            break;
        }
        while (!stopping() && next < jobs.size() && running.size() < parallel) {
            int fds[2];
            if (pipe(fds) != 0) break;
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_IGN);
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
            std::vector<std::string> names;
            for (const Worker &w : running) names.push_back(file_name(jobs[w.job].input));
            progress.show(tally.done, names);
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
            running.erase(running.begin() + long(i));
            std::vector<std::string> names;
            for (const Worker &w : running) names.push_back(file_name(jobs[w.job].input));
            report(tally, progress, job, ok, msg, names);
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
#if defined(_WIN32)
    const bool here = true;
#else
    const bool here = parallel <= 1 || jobs.size() <= 1;
#endif
    catch_stops(here);
    Progress progress(jobs.size(), summary && VELMORA_ISATTY(2));
    Tally tally;
#if defined(_WIN32)
    (void)parallel;
    run_here(jobs, call, tally, progress);
#else
    if (here)
        run_here(jobs, call, tally, progress);
    else
        run_workers(jobs, call, size_t(parallel), tally, progress);
#endif
    progress.clear();
    // Stopped before every file was done; a run that completed despite a
    // late signal reports as complete.
    const bool cut_short = stopping() && tally.done < jobs.size();
    if (summary) {
        std::fprintf(stderr, "velmora: %zu of %zu files written, %zu failed%s\n",
                     tally.done - tally.failed, jobs.size(), tally.failed,
                     cut_short ? " (stopped)" : "");
    }
    if (cut_short) return stop_status();
    return tally.failed ? 1 : 0;
}

}  // namespace velmora_cli
