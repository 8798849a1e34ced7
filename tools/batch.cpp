#include "batch.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "files.h"
#include "velmora.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
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
}

bool stopping() { return g_stop_signal != 0; }

#if defined(_WIN32)
// Ctrl-C and Ctrl-Break count as SIGINT; a closed console, a logoff or a
// shutdown as SIGHUP, its number taken for the exit status (129).
constexpr int kConsoleGone = 1;

// Set at every stop, to wake the wait for the workers.
HANDLE g_stop_event = nullptr;

BOOL WINAPI on_console_event(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        on_stop(SIGINT);
        SetEvent(g_stop_event);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process a few seconds after this returns: stop at
        // once, as after a second Ctrl-C, and let the main thread clean up
        // and exit meanwhile.
        if (g_stop_signal == 0) g_stop_signal = kConsoleGone;
        g_stop_count = 2;
        SetEvent(g_stop_event);
        Sleep(10000);
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL WINAPI ignore_breaks(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

void catch_stops(bool) {
    g_stop_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
#else
extern "C" void on_resize(int) { g_resized = 1; }

void catch_stops(bool in_this_process) {
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
}
#endif

// 128 + the signal, as shells report it: 129 SIGHUP, 130 Ctrl-C, 143 SIGTERM.
int stop_status() { return 128 + int(g_stop_signal); }

int terminal_width() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize ws;
    if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
    return 80;
}

bool stderr_is_terminal() {
#if defined(_WIN32)
    // A console (_isatty also says yes for the NUL device).
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
    return isatty(2) != 0;
#endif
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
            const std::vector<std::string> &in_flight, bool out_of_space = false) {
    ++tally.done;
    if (!ok) {
        ++tally.failed;
        progress.clear();
        std::fprintf(stderr, "velmora: %s\n", message.c_str());
        // Only a write can fail for a reason the files show.
        if (message.find(": cannot write ") != std::string::npos) {
            const std::string hint = write_failure_hint(job.input, job.output, out_of_space);
            if (!hint.empty()) std::fprintf(stderr, "velmora: hint: %s\n", hint.c_str());
        }
    }
    progress.show(tally.done, in_flight);
}

#if !defined(_WIN32)
void run_here(const std::vector<Job> &jobs, const Call &call, Tally &tally, Progress &progress) {
    for (const Job &job : jobs) {
        if (stopping()) break;
        progress.show(tally.done, {file_name(job.input)});
        errno = 0;
        const bool ok = call(job.input.c_str(), job.output.c_str()) != 0;
        const bool full = !ok && errno_says_full();
        report(tally, progress, job, ok, ok ? "" : velmora_last_error(), {}, full);
    }
}

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
                errno = 0;
                const int ok = call(jobs[next].input.c_str(), jobs[next].output.c_str());
                const bool full = !ok && errno_says_full();
                if (!ok) {
                    const std::string msg = velmora_last_error();
                    ssize_t w = write(fds[1], msg.data(), msg.size());
                    (void)w;
                }
                _exit(ok ? 0 : full ? kExitFailedFull : 1);
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
            const bool full = WIFEXITED(status) && WEXITSTATUS(status) == kExitFailedFull;
            if (!ok && msg.empty()) msg = job.input + ": worker process ended abnormally";
            running.erase(running.begin() + long(i));
            std::vector<std::string> names;
            for (const Worker &w : running) names.push_back(file_name(jobs[w.job].input));
            report(tally, progress, job, ok, msg, names, full);
            break;
        }
    }
}
#else
// Worker processes on Windows: this program started again for each file, as
// `velmora.exe ADJUSTMENT [options] --batch-worker -- INPUT OUTPUT`, its
// stderr (the library's message, if any) read from a pipe of its own.

std::wstring wide(const std::string &utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
    return w;
}

// One argument, quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes double only before a quote, which is escaped.
std::wstring quoted(const std::wstring &arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < arg.size() && arg[i] == L'\\') ++i, ++slashes;
        if (i == arg.size()) {
            q.append(slashes * 2, L'\\');
            break;
        }
        q.append(arg[i] == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        q += arg[i];
    }
    return q + L"\"";
}

std::string system_message(DWORD code) {
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(code);
    if (text) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (n > 1) {
            message.assign(size_t(n - 1), '\0');
            WideCharToMultiByte(CP_UTF8, 0, text, -1, &message[0], n, nullptr, nullptr);
        }
        LocalFree(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == '.'))
            message.pop_back();
    }
    return message;
}

// The library's temporary file for an output: ".velmora-" six characters
// ".tmp", beside the output (or beside the file a link leads to).
bool is_temp_name(const std::wstring &name) {
    return name.size() == 19 && name.compare(0, 9, L".velmora-") == 0 &&
           name.compare(15, 4, L".tmp") == 0;
}

struct InFlight {
    std::vector<std::filesystem::path> folders;
    std::set<std::filesystem::path> before;  // temporary names there already
};

std::set<std::filesystem::path> temp_files_in(const std::vector<std::filesystem::path> &folders) {
    std::set<std::filesystem::path> found;
    std::error_code ec;
    for (const std::filesystem::path &folder : folders)
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec))
            if (is_temp_name(it->path().filename().wstring())) found.insert(it->path());
    return found;
}

InFlight note_in_flight(const Job &job) {
    namespace fs = std::filesystem;
    InFlight f;
    std::error_code ec;
    const fs::path out = fs_path(job.output);
    f.folders.push_back(out.has_parent_path() ? out.parent_path() : fs::path(L"."));
    const fs::path real = fs::weakly_canonical(out, ec);
    if (!ec && real.has_parent_path() &&
        !fs::equivalent(real.parent_path(), f.folders[0], ec))
        f.folders.push_back(real.parent_path());
    f.before = temp_files_in(f.folders);
    return f;
}

// After workers were ended mid-file: their temporary files go too.
void remove_left_over(const InFlight &f) {
    std::error_code ec;
    for (const std::filesystem::path &p : temp_files_in(f.folders))
        if (!f.before.count(p)) std::filesystem::remove(p, ec);
}

struct Worker {
    HANDLE process;
    HANDLE out;  // the read end of its stderr
    size_t job;
    std::string message;
    InFlight in_flight;
};

// Starts a worker on jobs[index]; false with `error` when it cannot start.
bool start_worker(const std::wstring &self, const std::vector<std::string> &worker_args,
                  const std::vector<Job> &jobs, size_t index, std::vector<Worker> &running,
                  std::string &error) {
    std::wstring line = quoted(self);
    for (const std::string &a : worker_args) line += L" " + quoted(wide(a));
    line += L" " + quoted(wide(jobs[index].input)) + L" " + quoted(wide(jobs[index].output));
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(L'\0');

    // Only the write end is inherited, and the parent closes its copy at
    // once, so the pipe ends when the worker does.
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 1 << 16)) {
        error = system_message(GetLastError());
        return false;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = write_end;
    PROCESS_INFORMATION pi = {};
    InFlight in_flight = note_in_flight(jobs[index]);
    // A group of its own: the console's Ctrl-C is the parent's to act on.
    const BOOL ok = CreateProcessW(self.c_str(), text.data(), nullptr, nullptr, TRUE,
                                   CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi);
    const DWORD code = GetLastError();
    CloseHandle(write_end);
    if (!ok) {
        CloseHandle(read_end);
        error = system_message(code);
        return false;
    }
    CloseHandle(pi.hThread);
    running.push_back({pi.hProcess, read_end, index, std::string(), std::move(in_flight)});
    return true;
}

// What the worker wrote so far; `to_end` reads on until it has closed the pipe.
void read_message(Worker &w, bool to_end) {
    char buf[4096];
    while (true) {
        DWORD available = 0, n = 0;
        if (!to_end && (!PeekNamedPipe(w.out, nullptr, 0, nullptr, &available, nullptr) ||
                        available == 0))
            return;
        if (!ReadFile(w.out, buf, sizeof buf, &n, nullptr) || n == 0) return;
        w.message.append(buf, n);
    }
}

std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void run_workers(const std::vector<Job> &jobs, const std::vector<std::string> &worker_args,
                 size_t parallel, Tally &tally, Progress &progress) {
    // One wait covers the stop event and every worker.
    if (parallel > MAXIMUM_WAIT_OBJECTS - 1) parallel = MAXIMUM_WAIT_OBJECTS - 1;
    const std::wstring self = own_path();
    std::vector<Worker> running;
    auto names = [&] {
        std::vector<std::string> n;
        for (const Worker &w : running) n.push_back(file_name(jobs[w.job].input));
        return n;
    };
    size_t next = 0;
    while (true) {
        if (g_stop_count >= 2) {
            for (const Worker &w : running) TerminateProcess(w.process, 1);
            for (const Worker &w : running) {
                WaitForSingleObject(w.process, 10000);
                CloseHandle(w.process);
                CloseHandle(w.out);
                remove_left_over(w.in_flight);
            }
            running.clear();
            break;
        }
        while (!stopping() && next < jobs.size() && running.size() < parallel) {
            std::string error;
            if (self.empty() || !start_worker(self, worker_args, jobs, next, running, error)) {
                if (self.empty()) error = system_message(GetLastError());
                report(tally, progress, jobs[next], false,
                       jobs[next].input + ": cannot start a worker process: " + error, names());
            }
            ++next;
            progress.show(tally.done, names());
        }
        if (running.empty()) break;
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        handles[0] = g_stop_event;
        for (size_t i = 0; i < running.size(); ++i) handles[i + 1] = running[i].process;
        // A worker blocked on a full pipe never ends: empty the pipes at
        // every wake, and wake now and then for that and the clock.
        const DWORD r = WaitForMultipleObjects(DWORD(running.size() + 1), handles, FALSE, 250);
        for (Worker &w : running) read_message(w, false);
        if (r > WAIT_OBJECT_0 && r <= WAIT_OBJECT_0 + running.size()) {
            const size_t i = r - WAIT_OBJECT_0 - 1;
            Worker w = std::move(running[i]);
            running.erase(running.begin() + long(i));
            read_message(w, true);
            DWORD code = 1;
            GetExitCodeProcess(w.process, &code);
            CloseHandle(w.process);
            CloseHandle(w.out);
            const Job &job = jobs[w.job];
            std::string message = w.message;
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
                message.pop_back();
            const bool ok = code == 0;
            const bool full = code == kExitFailedFull;
            if (!ok && ((code != 1 && !full) || message.empty()))
                message = job.input + ": worker process ended abnormally (exit " +
                          std::to_string(code) + ")";
            report(tally, progress, job, ok, message, names(), full);
        } else if (r == WAIT_FAILED) {
            // Cannot tell when they end: stop them as a second Ctrl-C would.
            if (g_stop_signal == 0) g_stop_signal = SIGTERM;
            g_stop_count = 2;
        } else if (r == WAIT_TIMEOUT) {
            progress.show(tally.done, names());
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
#if defined(_WIN32)
        // Names that differ only in case are one file there.
        std::string key = output;
        for (char &c : key)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
#else
        const std::string &key = output;
#endif
        if (!outputs.insert(key).second) {
            error = "two inputs would both be written to " + output;
            return false;
        }
        jobs.push_back({input, output});
    }
    std::error_code ec;
    std::filesystem::create_directories(fs_path(dir), ec);
    if (ec) {
        error = "cannot create the folder " + dir + ": " + ec.message();
        return false;
    }
    return true;
}

int run_jobs(const std::vector<Job> &jobs, const Call &call, int parallel, bool summary,
             const std::vector<std::string> &worker_args) {
#if defined(_WIN32)
    // Every file in a worker process, even one at a time: a second Ctrl-C
    // can then end it and remove what it was writing.
    const bool here = false;
#else
    const bool here = parallel <= 1 || jobs.size() <= 1;
#endif
    catch_stops(here);
    Progress progress(jobs.size(), summary && stderr_is_terminal());
    Tally tally;
#if defined(_WIN32)
    (void)call;
    run_workers(jobs, worker_args, size_t(parallel), tally, progress);
#else
    (void)worker_args;
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

int run_as_worker(const Job &job, const Call &call) {
#if defined(_WIN32)
    SetConsoleCtrlHandler(ignore_breaks, TRUE);
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_IGN);
#endif
    errno = 0;
    if (call(job.input.c_str(), job.output.c_str())) return 0;
    const bool full = errno_says_full();
    std::fputs(velmora_last_error(), stderr);
    std::fflush(stderr);
    return full ? kExitFailedFull : 1;
}

}  // namespace velmora_cli
