#include "batch.h"

#include <cerrno>
#include <cstdio>
#include <set>
#include <utility>

#include "files.h"
#include "formats.h"
#include "progress.h"
#include "stop_signals.h"
#include "text.h"
#include "velmora.h"
#include "workers.h"

namespace velmora_cli {

namespace {

std::string output_path(const std::string &input, const std::string &dir,
                        const std::string &format) {
    const std::string name = file_name(input);
    const size_t dot = name.rfind('.');
    const bool has_ext = dot != std::string::npos && dot > 0;
    const std::string stem = has_ext ? name.substr(0, dot) : name;
    const std::string ext = !format.empty() ? "." + format : has_ext ? name.substr(dot) : "";
    return dir + "/" + stem + ext;
}

// Equal for two outputs that are one file.
std::string file_key(const std::string &output) {
#if defined(_WIN32)
    // Names that differ only in case are one file there.
    std::string key = output;
    for (char &c : key)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return key;
#else
    return output;
#endif
}

void replace_all(std::string &text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// `text` with a pipe's temporary paths told as the pipe.
std::string as_shown(const Job &job, std::string text) {
    if (!job.shown_input.empty()) replace_all(text, job.input, job.shown_input);
    if (!job.shown_output.empty()) replace_all(text, job.output, job.shown_output);
    return text;
}

// A hint on the files, for the failure the message names: a read's looks at
// the input alone, a write's at the output.
void print_hint(const Job &job, const Outcome &outcome) {
    std::string hint;
    if (outcome.message.find(": cannot read ") != std::string::npos)
        hint = read_failure_hint(job.input);
    else if (outcome.message.find(": cannot write ") != std::string::npos)
        hint = write_failure_hint(job.input, job.output, outcome.full);
    if (!hint.empty()) std::fprintf(stderr, "velmora: hint: %s\n", as_shown(job, hint).c_str());
}

// The summary of a batch, and its failed files again, in the order given, so
// that a long run's failures need no scrolling back; the exit status.
int finish(const std::vector<Job> &jobs, const Tally &tally, bool batch, size_t skipped) {
    const size_t total = jobs.size() + skipped;
    const bool cut_short = stopping() && tally.done < jobs.size();
    if (batch) {
        std::fprintf(stderr, "velmora: %zu of %zu files written, %zu failed%s%s\n",
                     tally.done - tally.failed, total, tally.failed,
                     skipped ? (", " + std::to_string(skipped) + " skipped (already there)").c_str()
                             : "",
                     cut_short ? " (stopped)" : "");
        std::multiset<std::string> failed(tally.failed_inputs.begin(), tally.failed_inputs.end());
        for (const Job &job : jobs) {
            const auto it = failed.find(job.input);
            if (it == failed.end()) continue;
            failed.erase(it);
            std::fprintf(stderr, "velmora: failed: %s\n", job.input.c_str());
        }
    }
    return tally.failed || cut_short ? 1 : 0;
}

}  // namespace

Outcome run_one(const Job &job, const Call &call) {
    // Cleared first: a failure that sets no errno must not read as a full device.
    errno = 0;
    Outcome outcome;
    outcome.ok = call(job.input.c_str(), job.output.c_str()) != 0;
    if (outcome.ok) return outcome;
    outcome.full = errno_says_full();
    outcome.message = velmora_last_error();
    return outcome;
}

int exit_status(const Outcome &outcome) {
    return outcome.ok ? 0 : outcome.full ? kExitFailedFull : 1;
}

void print_json(const Job &job, bool ok, bool skipped, const std::string &message,
                double milliseconds) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", milliseconds);
    std::printf("{\"input\": %s, \"output\": %s, \"ok\": %s, \"skipped\": %s, \"message\": %s, "
                "\"milliseconds\": %s}\n",
                json_string(job.shown_input.empty() ? job.input : job.shown_input).c_str(),
                json_string(job.shown_output.empty() ? job.output : job.shown_output).c_str(),
                ok ? "true" : "false", skipped ? "true" : "false",
                json_string(as_shown(job, message)).c_str(), ms);
    std::fflush(stdout);
}

void report(Tally &tally, Progress &progress, const Job &job, const Outcome &outcome,
            const std::vector<std::string> &in_flight, double milliseconds) {
    ++tally.done;
    if (tally.json) print_json(job, outcome.ok, false, outcome.message, milliseconds);
    if (!outcome.ok) {
        ++tally.failed;
        tally.failed_inputs.push_back(job.input);
        progress.clear();
        std::fprintf(stderr, "velmora: %s\n", as_shown(job, outcome.message).c_str());
        print_hint(job, outcome);
    }
    progress.show(tally.done, in_flight);
}

Call chain_of(std::vector<Link> steps) {
    return [steps = std::move(steps)](const char *input, const char *output) {
        std::vector<velmora::ChainLink> links;
        links.reserve(steps.size());
        for (const Link &step : steps) links.push_back(step());
        return velmora::run_chain(links.data(), links.size(), input, output);
    };
}

bool plan_batch(const std::vector<std::string> &inputs, const std::string &dir,
                const std::string &format, std::vector<Job> &jobs, std::string &error) {
    std::set<std::string> outputs;
    for (const std::string &input : inputs) {
        const std::string output = output_path(input, dir, format);
        if (!outputs.insert(file_key(output)).second) {
            error = "two inputs would both be written to " + output;
            return false;
        }
        jobs.push_back({input, output});
    }
    return true;
}

void warn_about_extension(const Job &job) {
    const std::string name = file_name(job.output);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 ||
        velmora::format_from_path(job.output.c_str(), velmora::FORMAT_UNKNOWN) !=
            velmora::FORMAT_UNKNOWN)
        return;
    const velmora::ImageFormat input_format = sniff_format(job.input);
    if (input_format == velmora::FORMAT_UNKNOWN) return;  // the call reports the input
    std::fprintf(stderr,
                 "velmora: warning: %s: velmora writes no %s files; it writes %s, the input's "
                 "format (use .jpg, .png or .bmp to choose)\n",
                 job.output.c_str(), name.substr(dot).c_str(), velmora::format_name(input_format));
}

int run_jobs(const std::vector<Job> &jobs, const Call &call, int parallel, bool batch,
             const std::vector<std::string> &worker_args, bool json, size_t skipped) {
    // One file is not worth finishing once stopped: nothing else is left
    // for a stop to spare.
    catch_stops(!batch);
    watch_resizes();
    Progress progress(jobs.size(), batch && stderr_is_terminal());
    Tally tally;
    tally.json = json;
    run_workers(jobs, call, worker_args, size_t(parallel), tally, progress);
    progress.clear();
    return finish(jobs, tally, batch, skipped);
}

int run_as_worker(const Job &job, const Call &call) {
    ignore_stops();
    const Outcome outcome = run_one(job, call);
    if (!outcome.ok) {
        std::fputs(outcome.message.c_str(), stderr);
        std::fflush(stderr);
    }
    return exit_status(outcome);
}

}  // namespace velmora_cli
