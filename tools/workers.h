// What the batch shares with the workers of each platform
// (workers_posix.cpp, workers_windows.cpp): running one file and telling how
// it failed, reporting a finished file, and what a run of workers keeps and
// how it goes.
#ifndef VELMORA_TOOLS_WORKERS_H
#define VELMORA_TOOLS_WORKERS_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "batch.h"
#include "files.h"
#include "progress.h"
#include "stop_signals.h"

namespace velmora_cli {

// What became of one file.
struct Outcome {
    bool ok = true;
    bool full = false;    // failed because the device or quota is full
    std::string message;  // why it failed
};

// Runs the call on one file in this process.
Outcome run_one(const Job &job, const Call &call);

// A worker's exit status for a failed file whose device was full (1 for any
// other failure), so that the parent can give the hint.
constexpr int kExitFailedFull = 3;

// A worker's exit status: 0 written, 1 failed, kExitFailedFull.
int exit_status(const Outcome &outcome);

struct Tally {
    size_t done = 0;
    size_t failed = 0;
    std::vector<std::string> failed_inputs;  // as reported, in the order they failed
    bool json = false;                       // a JSON line per file on stdout
    std::vector<std::chrono::steady_clock::time_point> started;  // by job
};

// Counts a finished file; a failure's message and hint go to stderr, and
// with --json a line on stdout. Then the progress line again, with the files
// still in flight. `milliseconds`: from its start to its end.
void report(Tally &tally, Progress &progress, const Job &job, const Outcome &outcome,
            const std::vector<std::string> &in_flight, double milliseconds);

// What a run of workers has on either platform: the files, the next one to
// start, the workers in flight, the tally and the progress line.
template <class Worker>
class Pool {
public:
    Pool(const std::vector<Job> &jobs, size_t parallel, Tally &tally, Progress &progress)
        : jobs_(jobs), parallel_(parallel), tally_(tally), progress_(progress) {
        tally_.started.assign(jobs.size(), {});
    }

    bool empty() const { return running_.empty(); }

protected:
    // No stop has come, a file is left and a worker may start on it.
    bool may_start() const {
        return !stopping() && next_ < jobs_.size() && running_.size() < parallel_;
    }

    void show_progress() { progress_.show(tally_.done, in_flight()); }

    // The next file has been started (or has failed to start).
    void started() {
        tally_.started[next_++] = std::chrono::steady_clock::now();
    }

    // A file whose worker is no longer among those running.
    void report(const Job &job, const Outcome &outcome) {
        const size_t index = size_t(&job - jobs_.data());
        const bool timed = index < tally_.started.size() &&
                           tally_.started[index] != std::chrono::steady_clock::time_point{};
        const double ms =
            timed ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                            tally_.started[index])
                      .count()
                : 0.0;
        velmora_cli::report(tally_, progress_, job, outcome, in_flight(), ms);
    }

    const std::vector<Job> &jobs_;
    std::vector<Worker> running_;
    size_t next_ = 0;

private:
    std::vector<std::string> in_flight() const {
        std::vector<std::string> names;
        for (const Worker &w : running_) names.push_back(file_name(jobs_[w.job].input));
        return names;
    }

    size_t parallel_;
    Tally &tally_;
    Progress &progress_;
};

// The loop of either platform's workers: start what may start, wait for one
// to end and report it, until every file is done; enough stops (see
// catch_stops) end those running at once. `wait_for_one` is false when there is no waiting for them.
template <class Workers>
void run_until_done(Workers &workers) {
    while (!stopping_at_once()) {
        workers.start_more();
        if (workers.empty() || !workers.wait_for_one()) return;
    }
    workers.end_all();
}

// Per platform: runs the jobs in up to `parallel` worker processes, until all
// are done or a stop comes. POSIX forks and runs `call`; Windows starts this
// program again with `worker_args`.
void run_workers(const std::vector<Job> &jobs, const Call &call,
                 const std::vector<std::string> &worker_args, size_t parallel, Tally &tally,
                 Progress &progress);

}  // namespace velmora_cli

#endif
