#include "commands.h"

#include <cstdio>

#include "velmora.h"

namespace velmora_cli {

CLI::App *Registry::add(const std::string &name, const std::string &description, Call call) {
    CLI::App *cmd = app_.add_subcommand(name, description);
    cmd->add_option("INPUT", input_, "Input image (JPEG, PNG or BMP)")->required();
    cmd->add_option("OUTPUT", output_,
                    "Output image; .jpg/.jpeg, .png or .bmp chooses the format, "
                    "anything else keeps the input's")
        ->required();
    entries_.push_back({cmd, std::move(call)});
    return cmd;
}

int Registry::run() const {
    for (const Entry &e : entries_) {
        if (!e.command->parsed()) continue;
        if (e.call(input_.c_str(), output_.c_str())) return 0;
        std::fprintf(stderr, "velmora: %s\n", velmora_last_error());
        return 1;
    }
    return 0;
}

}  // namespace velmora_cli

int main(int argc, char **argv) {
    CLI::App app{"velmora: colour and tone adjustments for JPEG, PNG and BMP files"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::to_string(VELMORA_VERSION_MAJOR) + "." +
                                          std::to_string(VELMORA_VERSION_MINOR) + "." +
                                          std::to_string(VELMORA_VERSION_PATCH));
    velmora_cli::Registry registry(app);
    velmora_cli::add_fixed_commands(registry);
    velmora_cli::add_colour_commands(registry);
    CLI11_PARSE(app, argc, argv);
    return registry.run();
}
