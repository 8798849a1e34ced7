// Running the command's files: the outputs of a batch, a warning on an output
// whose extension names no format, every file run in this process or in
// worker processes, and the summary.
#ifndef VELMORA_TOOLS_BATCH_H
#define VELMORA_TOOLS_BATCH_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chain.h"

namespace velmora_cli {

struct Job {
    Job(std::string in, std::string out) : input(std::move(in)), output(std::move(out)) {}

    std::string input;
    std::string output;
    // What messages call a temporary path that stands for a pipe; "" for
    // the path itself.
    std::string shown_input;
    std::string shown_output;
};

// Runs one library call on the two paths; 1 success, 0 failure.
using Call = std::function<int(const char *input, const char *output)>;

// A step of a chain: an adjustment and the values parsed for it, asked for
// when a file runs (the values are parsed after the step is made).
using Link = std::function<velmora::ChainLink()>;

// The steps of a chain as one call: one decode, the adjustments in turn on
// the same pixels, one encode; the result is the one of the same steps run
// one by one through PNG files.
Call chain_of(std::vector<Link> steps);

// Output paths for a batch: DIR/<input's name without its extension><.FORMAT,
// or the input's extension>. False with `error` when two inputs would share
// an output.
bool plan_batch(const std::vector<std::string> &inputs, const std::string &dir,
                const std::string &format, std::vector<Job> &jobs, std::string &error);

// A warning when the output's extension names no format that is written.
void warn_about_extension(const Job &job);

// Runs every job, each in a worker process; per-file messages go to stderr,
// and for a `batch` the progress line and a count at the end. Returns the
// exit status: 0 all done, 1 some failed or not done; after a stop
// (stopping()), the caller cleans up and ends by end_by_stop_signal(). On
// Windows a worker is this program started as `velmora.exe WORKER_ARGS...
// INPUT OUTPUT`; elsewhere a fork, and WORKER_ARGS is unused.
// `json`: a line per file on stdout; `skipped`: files left out for an output
// already there (--no-clobber), counted in the summary.
int run_jobs(const std::vector<Job> &jobs, const Call &call, int parallel, bool batch,
             const std::vector<std::string> &worker_args, bool json, size_t skipped);

// The JSON line of one file: input, output, ok, skipped, message, milliseconds.
void print_json(const Job &job, bool ok, bool skipped, const std::string &message,
                double milliseconds);

// The number of processors this process may run on, at least 1.
int processor_count();

// A worker process runs one file: the library's message, if the call fails,
// goes to stderr whole and alone for the parent to report; the exit status
// is 0 written, 1 failed, 3 failed on a full device. Stops are left to the
// parent, which decides.
int run_as_worker(const Job &job, const Call &call);

}  // namespace velmora_cli

#endif
