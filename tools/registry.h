// The adjustments' subcommands, each with the same file arguments and batch
// options, and the run of the one chosen:
//   velmora NAME INPUT OUTPUT [options]
//   velmora NAME INPUT... -o DIR [--format jpg|png|bmp] [-j N] [options]
// and of a chain, whose steps before the last take no files:
//   velmora NAME [options] + NAME [options] ... + NAME [options] FILES...
#ifndef VELMORA_TOOLS_REGISTRY_H
#define VELMORA_TOOLS_REGISTRY_H

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "batch.h"

namespace velmora_cli {

class Registry {
public:
    // `takes_files` false: a chain's step before the last, without the
    // file arguments and batch options.
    explicit Registry(CLI::App &app, bool takes_files = true)
        : app_(app), takes_files_(takes_files) {}

    // Adds the subcommand NAME with the file arguments and batch options;
    // add the adjustment's own options to the result.
    // `unchanged`: after parsing, "" or a note that the values given change
    // nothing, for a warning.
    // `example`: options with values that show what it does, for `list`.
    // `link`: the adjustment and its parsed values, for a chain.
    CLI::App *add(const std::string &name, const std::string &description, Call call, Link link,
                  std::function<std::string()> unchanged, const std::string &example);

    // `velmora list`: every adjustment with its options and an example.
    void print_list() const;

    // Runs the chosen subcommand; the process exit status.
    int run() const;

    // Whether `name` is an adjustment's subcommand; the nearest ones to a
    // name that is not (same name but for case and _/-, else two edits away).
    bool knows(const std::string &name) const;
    std::vector<std::string> suggestions(const std::string &typed) const;

    // A parser's error in the command's own words, with the options nearest
    // to one that is not known. `args`: what was parsed, program name first.
    std::string explain(const CLI::ParseError &error, const std::vector<std::string> &args,
                        const std::string &command) const;

    // After parsing a chain's step: the chosen adjustment with its values,
    // and the arguments that give a worker the same step. False when none
    // was chosen. `note`: the warning that the step changes nothing, or "".
    bool chosen_step(Link &link, std::vector<std::string> &args, std::string &note) const;

    // The steps of a chain that come before this one's adjustment, run in
    // order on each file before it.
    void follow(std::vector<Link> links, std::vector<std::vector<std::string>> args,
                std::vector<std::string> notes);

private:
    struct Entry {
        CLI::App *command;
        Call call;
        Link link;
        std::function<std::string()> unchanged;
        std::string example;
    };
    CLI::App &app_;
    std::vector<Entry> entries_;
    std::vector<std::string> files_;
    std::string output_dir_;
    std::string format_;
    int jobs_ = 0;  // 0: as many as there are processors
    bool worker_ = false;
    bool json_ = false;
    bool no_clobber_ = false;
    bool takes_files_;
    std::vector<Link> before_;
    std::vector<std::vector<std::string>> before_args_;
    std::vector<std::string> before_notes_;

    int run_command(const Entry &entry) const;
    int run_files(const Entry &entry) const;

    // The jobs of INPUT OUTPUT, or of a batch; 0, or the exit status when
    // they cannot be run.
    int plan_single(const std::string &command, std::vector<Job> &jobs) const;
    int plan_many(const std::string &command, std::vector<Job> &jobs) const;

    // The call that runs a file: the adjustment's own, or the chain.
    Call file_call(const Entry &entry) const;

    // The arguments that start this program on one file of a batch with the
    // same adjustment and values: NAME --option=value... --batch-worker --
    static std::vector<std::string> worker_args(const CLI::App &command);
};

// "velmora: MESSAGE" and a line of usage on stderr.
void usage_error(const std::string &message, const std::string &command);

}  // namespace velmora_cli

#endif
