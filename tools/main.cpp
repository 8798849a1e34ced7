#include <cstdio>
#include <string>

#include "batch.h"
#include "commands.h"
#include "velmora.h"

namespace velmora_cli {

CLI::App *Registry::add(const std::string &name, const std::string &description, Call call) {
    CLI::App *cmd = app_.add_subcommand(name, description);
    cmd->add_option("FILES", files_,
                    "INPUT OUTPUT, or with -o: one or more inputs (JPEG, PNG or BMP). The "
                    "output's extension .jpg/.jpeg, .png or .bmp chooses its format; any "
                    "other keeps the input's")
        ->required();
    cmd->add_option("-o,--output-dir", output_dir_,
                    "Batch: write each input's result into this folder, under its own name");
    cmd->add_option("--format", format_, "Batch: output format (default: the input's)")
        ->check(CLI::IsMember({"jpg", "png", "bmp"}));
    cmd->add_option("-j,--jobs", jobs_, "Batch: files processed in parallel")
        ->check(CLI::Range(1, 256));
    entries_.push_back({cmd, std::move(call)});
    return cmd;
}

void Registry::print_list() const {
    for (const Entry &e : entries_) {
        std::printf("%-14s %s\n", e.command->get_name().c_str(),
                    e.command->get_description().c_str());
        for (const CLI::Option *opt : e.command->get_options()) {
            const std::string &name = opt->get_name();
            if (name.empty() || name == "--help" || name == "FILES" ||
                opt->check_name("--output-dir") || opt->check_name("--format") ||
                opt->check_name("--jobs"))
                continue;
            std::string line = opt->get_description();
            if (!opt->get_default_str().empty()) line += " [" + opt->get_default_str() + "]";
            std::printf("    %-16s %s\n", name.c_str(), line.c_str());
        }
    }
}

int Registry::run() const {
    for (const Entry &e : entries_) {
        if (!e.command->parsed()) continue;
        std::vector<Job> jobs;
        const bool batch = !output_dir_.empty();
        if (!batch) {
            if (files_.size() != 2 || jobs_ != 1 || !format_.empty()) {
                std::fprintf(stderr,
                             "velmora: give INPUT OUTPUT, or inputs with -o DIR for a batch "
                             "(--format and -j need -o)\n");
                return 2;
            }
            jobs.push_back({files_[0], files_[1]});
        } else {
            std::string error;
            if (!plan_batch(files_, output_dir_, format_, jobs, error)) {
                std::fprintf(stderr, "velmora: %s\n", error.c_str());
                return 2;
            }
        }
        return run_jobs(jobs, e.call, jobs_, batch);
    }
    return 0;
}

}  // namespace velmora_cli

int main(int argc, char **argv) {
    CLI::App app{"velmora: colour and tone adjustments for JPEG, PNG and BMP files"};
    app.require_subcommand(1);
    app.footer("Outputs keep the input's RGB colour profile, orientation and resolution; nothing "
               "else of its metadata (GPS, camera serials, names, thumbnails) is copied.");
    app.set_version_flag("--version", std::to_string(VELMORA_VERSION_MAJOR) + "." +
                                          std::to_string(VELMORA_VERSION_MINOR) + "." +
                                          std::to_string(VELMORA_VERSION_PATCH));
    velmora_cli::Registry registry(app);
    app.add_subcommand("list", "List the adjustments and their options");
    velmora_cli::add_adjustment_commands(registry);
    CLI11_PARSE(app, argc, argv);
    if (app.got_subcommand("list")) {
        registry.print_list();
        return 0;
    }
    return registry.run();
}
