// Worker processes on Windows: this program started again for each file, as
// `velmora.exe ADJUSTMENT [options] --batch-worker -- INPUT OUTPUT`, its
// stderr (the library's message, if any) read from a pipe of its own.
#include <windows.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "stop_signals.h"
#include "workers.h"

namespace velmora_cli {

namespace {

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

// The library's temporary file for an output: ".velmora-" six characters
// ".tmp", beside the output (or beside the file a link leads to).
bool is_temp_name(const std::wstring &name) {
    return name.size() == 19 && name.compare(0, 9, L".velmora-") == 0 &&
           name.compare(15, 4, L".tmp") == 0;
}

// Where a worker's temporary file can be, and the ones there before it.
struct InFlight {
    std::vector<std::filesystem::path> folders;
    std::set<std::filesystem::path> before;
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

Outcome outcome_of(DWORD code, std::string message, const Job &job) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    Outcome outcome;
    outcome.ok = code == 0;
    outcome.full = code == kExitFailedFull;
    outcome.message = message;
    if (!outcome.ok && ((code != 1 && !outcome.full) || message.empty()))
        outcome.message = job.input + ": worker process ended abnormally (exit " +
                          std::to_string(code) + ")";
    return outcome;
}

class SpawnedWorkers : public Pool<Worker> {
public:
    SpawnedWorkers(const std::vector<Job> &jobs, const std::vector<std::string> &worker_args,
                   size_t parallel, Tally &tally, Progress &progress)
        : Pool(jobs, parallel, tally, progress), self_(own_path()), worker_args_(worker_args) {}

    // A file whose worker cannot start fails, and the next one is tried.
    void start_more() {
        while (may_start()) {
            std::string error;
            if (!start(next_, error))
                report(jobs_[next_], {false, false,
                                      jobs_[next_].input + ": cannot start a worker process: " +
                                          error});
            started();
            show_progress();
        }
    }

    bool wait_for_one() {
        const DWORD r = wait();
        for (Worker &w : running_) read_message(w, false);
        if (r > WAIT_OBJECT_0 && r <= WAIT_OBJECT_0 + running_.size()) {
            finish(r - WAIT_OBJECT_0 - 1);
        } else if (r == WAIT_FAILED) {
            // Cannot tell when they end: stop them as a second Ctrl-C would.
            stop_at_once(SIGTERM);
        } else if (r == WAIT_TIMEOUT) {
            show_progress();
        }
        return true;
    }

    // Stops at once, and removes what the workers were writing.
    void end_all() {
        for (const Worker &w : running_) TerminateProcess(w.process, 1);
        for (const Worker &w : running_) {
            WaitForSingleObject(w.process, 10000);
            CloseHandle(w.process);
            CloseHandle(w.out);
            remove_left_over(w.in_flight);
        }
        running_.clear();
    }

private:
    std::wstring command_line(const Job &job) const {
        std::wstring line = quoted(self_);
        for (const std::string &a : worker_args_) line += L" " + quoted(wide(a));
        return line + L" " + quoted(wide(job.input)) + L" " + quoted(wide(job.output));
    }

    // False with `error` when the worker cannot start.
    bool start(size_t index, std::string &error) {
        if (self_.empty()) {
            error = system_message(GetLastError());
            return false;
        }
        const std::wstring line = command_line(jobs_[index]);
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
        InFlight in_flight = note_in_flight(jobs_[index]);
        // A group of its own: the console's Ctrl-C is the parent's to act on.
        const BOOL ok = CreateProcessW(self_.c_str(), text.data(), nullptr, nullptr, TRUE,
                                       CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi);
        const DWORD code = GetLastError();
        CloseHandle(write_end);
        if (!ok) {
            CloseHandle(read_end);
            error = system_message(code);
            return false;
        }
        CloseHandle(pi.hThread);
        running_.push_back({pi.hProcess, read_end, index, std::string(), std::move(in_flight)});
        return true;
    }

    // The stop event or a worker's end, or WAIT_TIMEOUT after a while.
    DWORD wait() const {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        handles[0] = stop_event();
        for (size_t i = 0; i < running_.size(); ++i) handles[i + 1] = running_[i].process;
        // A worker blocked on a full pipe never ends: the pipes are emptied
        // at every wake, so wake now and then for that and the clock.
        return WaitForMultipleObjects(DWORD(running_.size() + 1), handles, FALSE, 250);
    }

    // Reports running_[i], which has ended.
    void finish(size_t i) {
        Worker w = std::move(running_[i]);
        running_.erase(running_.begin() + long(i));
        read_message(w, true);
        DWORD code = 1;
        GetExitCodeProcess(w.process, &code);
        CloseHandle(w.process);
        CloseHandle(w.out);
        const Job &job = jobs_[w.job];
        report(job, outcome_of(code, w.message, job));
    }

    std::wstring self_;
    const std::vector<std::string> &worker_args_;
};

}  // namespace

int processor_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

void run_workers(const std::vector<Job> &jobs, const Call & /* run by the workers */,
                 const std::vector<std::string> &worker_args, size_t parallel, Tally &tally,
                 Progress &progress) {
    // One wait covers the stop event and every worker.
    if (parallel > MAXIMUM_WAIT_OBJECTS - 1) parallel = MAXIMUM_WAIT_OBJECTS - 1;
    SpawnedWorkers workers(jobs, worker_args, parallel, tally, progress);
    run_until_done(workers);
}

}  // namespace velmora_cli
