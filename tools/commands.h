// The velmora command: one subcommand per adjustment, `velmora NAME IN OUT [options]`.
#ifndef VELMORA_TOOLS_COMMANDS_H
#define VELMORA_TOOLS_COMMANDS_H

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora_cli {

// Runs one library call on the two paths; 1 success, 0 failure.
using Call = std::function<int(const char *input, const char *output)>;

class Registry {
public:
    explicit Registry(CLI::App &app) : app_(app) {}

    // Adds `velmora NAME INPUT OUTPUT`; add the adjustment's options to the result.
    CLI::App *add(const std::string &name, const std::string &description, Call call);

    // Runs the chosen subcommand: 0 on success, 1 after printing the error.
    int run() const;

private:
    struct Entry {
        CLI::App *command;
        Call call;
    };
    CLI::App &app_;
    std::vector<Entry> entries_;
    std::string input_, output_;
};

// Per-group registration.
void add_fixed_commands(Registry &registry);
void add_colour_commands(Registry &registry);

}  // namespace velmora_cli

#endif
