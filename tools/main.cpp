#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "files.h"
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
    cmd->add_option("--format", format_,
                    "Batch: output format jpg (or jpeg), png or bmp, any case (default: the "
                    "input's)")
        ->transform(CLI::Validator(
            [](std::string &text) {
            std::string f;
            for (char c : text) f += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
            if (f == "jpeg") f = "jpg";
            if (f != "jpg" && f != "png" && f != "bmp")
                return "--format " + text + " is not one of jpg, jpeg, png, bmp";
            text = f;
            return std::string();
            },
            "FORMAT", "format"));
    cmd->add_option("-j,--jobs", jobs_, "Batch: files processed in parallel")
        ->check(CLI::Range(1, 256));
    // Set by the command itself when it runs one file in a process of its
    // own (on Windows, the worker processes of every run).
    cmd->add_flag("--batch-worker", worker_)->group("");
    entries_.push_back({cmd, std::move(call)});
    return cmd;
}

void Registry::print_list() const {
    for (const Entry &e : entries_) {
        std::printf("%-14s %s\n", e.command->get_name().c_str(),
                    e.command->get_description().c_str());
        for (const CLI::Option *opt : e.command->get_options()) {
            const std::string &name = opt->get_name();
            if (name.empty() || name == "--help" || name == "FILES" || opt->get_group().empty() ||
                opt->check_name("--output-dir") || opt->check_name("--format") ||
                opt->check_name("--jobs"))
                continue;
            std::string line = opt->get_description();
            if (!opt->get_default_str().empty()) line += " [" + opt->get_default_str() + "]";
            std::printf("    %-16s %s\n", name.c_str(), line.c_str());
        }
    }
}

std::vector<std::string> Registry::worker_args(const CLI::App &command) {
    std::vector<std::string> args{command.get_name()};
    for (const CLI::Option *opt : command.get_options()) {
        if (opt->count() == 0 || opt->get_name() == "FILES" || opt->check_name("--help") ||
            opt->check_name("--output-dir") || opt->check_name("--format") ||
            opt->check_name("--jobs") || opt->check_name("--batch-worker"))
            continue;
        // NAME=VALUE in one argument: a value may start with '-'.
        for (const std::string &value : opt->results())
            args.push_back(opt->get_name() + "=" + value);
    }
    args.push_back("--batch-worker");
    args.push_back("--");
    return args;
}

int Registry::run() const {
    for (const Entry &e : entries_) {
        if (!e.command->parsed()) continue;
        if (worker_) {
            if (files_.size() != 2) return 2;
            return run_as_worker({files_[0], files_[1]}, e.call);
        }
        std::vector<Job> jobs;
        const bool batch = !output_dir_.empty();
        if (!batch) {
            if (files_.size() != 2 || jobs_ != 1 || !format_.empty()) {
                usage_error(
                    "give INPUT OUTPUT, or inputs with -o DIR for a batch (--format and -j need "
                    "-o)",
                    e.command->get_name());
                return 2;
            }
            jobs.push_back({files_[0], files_[1]});
            std::string error;
            if (!make_output_folder(files_[1], error)) {
                std::fprintf(stderr, "velmora: %s\n", error.c_str());
                return 1;
            }
        } else {
            std::string error;
            if (!plan_batch(files_, output_dir_, format_, jobs, error)) {
                std::fprintf(stderr, "velmora: %s\n", error.c_str());
                return 2;
            }
        }
        for (const Job &job : jobs) warn_about_extension(job);
        return run_jobs(jobs, e.call, jobs_, batch, worker_args(*e.command));
    }
    return 0;
}

void usage_error(const std::string &message, const std::string &command) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
    if (command.empty())
        std::fprintf(stderr, "usage: velmora ADJUSTMENT INPUT OUTPUT [options]  (velmora help: "
                             "every adjustment; velmora help ADJUSTMENT: its options)\n");
    else
        std::fprintf(stderr, "usage: velmora %s INPUT OUTPUT [options]  (velmora help %s: its "
                             "options)\n",
                     command.c_str(), command.c_str());
}

void warn_about_extension(const Job &job) {
    const std::string name = job.output.substr(job.output.find_last_of("/\\") + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || !format_of_extension(job.output).empty()) return;
    const std::string input_format = sniff_format(job.input);
    if (input_format.empty()) return;  // the call reports the input
    std::fprintf(stderr,
                 "velmora: warning: %s: velmora writes no %s files; it writes %s, the input's "
                 "format (use .jpg, .png or .bmp to choose)\n",
                 job.output.c_str(), name.substr(dot).c_str(), input_format.c_str());
}

namespace {

std::string normalised(const std::string &name) {
    std::string out;
    for (char c : name) out += c == '_' ? '-' : (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return out;
}

size_t edit_distance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<std::string> Registry::suggestions(const std::string &typed) const {
    const std::string want = normalised(typed);
    std::vector<std::string> exact, near;
    size_t best = 3;  // at most two edits away
    for (const Entry &e : entries_) {
        const std::string &name = e.command->get_name();
        if (normalised(name) == want) exact.push_back(name);
        const size_t d = edit_distance(want, name);
        if (d < best) {
            best = d;
            near.assign(1, name);
        } else if (d == best) {
            near.push_back(name);
        }
    }
    return exact.empty() ? near : exact;
}

bool Registry::knows(const std::string &name) const {
    for (const Entry &e : entries_)
        if (e.command->get_name() == name) return true;
    return false;
}

}  // namespace velmora_cli

namespace {

std::string version_line() {
    return "velmora " + std::to_string(VELMORA_VERSION_MAJOR) + "." +
           std::to_string(VELMORA_VERSION_MINOR) + "." + std::to_string(VELMORA_VERSION_PATCH);
}

}  // namespace

int velmora_main(int argc, char **argv) {
    using velmora_cli::usage_error;
    CLI::App app{"velmora: colour and tone adjustments for JPEG, PNG and BMP files"};
    app.require_subcommand(1);
    app.footer("Outputs keep the input's RGB colour profile, orientation and resolution; nothing "
               "else of its metadata (GPS, camera serials, names, thumbnails) is copied.\n"
               "A missing output folder is created, in single-file and batch mode alike.\n"
               "Exit status: 0 all written, 1 a file failed, 2 usage error, 129/130/143 "
               "stopped by SIGHUP/Ctrl-C/SIGTERM.");
    app.set_version_flag("--version", version_line());
    velmora_cli::Registry registry(app);
    app.add_subcommand("list", "List the adjustments and their options");
    CLI::App *help = app.add_subcommand("help", "Show the usage, or one adjustment's options");
    std::string help_topic;
    help->add_option("ADJUSTMENT", help_topic, "An adjustment");
    app.add_subcommand("version", "Show the version");
    velmora_cli::add_adjustment_commands(registry);

    if (argc < 2) {
        usage_error("no adjustment given", "");
        return 2;
    }
    const std::string first = argv[1];
    if (first[0] != '-' && !registry.knows(first) && first != "list" && first != "help" &&
        first != "version") {
        const std::vector<std::string> near = registry.suggestions(first);
        std::string message = "unknown adjustment '" + first + "'";
        if (!near.empty()) {
            message += "; did you mean ";
            for (size_t k = 0; k < near.size(); ++k)
                message += (k ? k + 1 == near.size() ? " or " : ", " : "") + near[k];
            message += "?";
        }
        usage_error(message + " ('velmora list' shows them all)", "");
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::printf("%s", app.help().c_str());
        for (CLI::App *sub : app.get_subcommands())
            if (sub->parsed()) return 0;
        return 0;
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help of a subcommand, --version
    } catch (const CLI::ParseError &e) {
        std::string command;
        for (const CLI::App *sub : app.get_subcommands()) command = sub->get_name();
        usage_error(e.what(), command);
        return 2;
    }
    if (app.got_subcommand("list")) {
        registry.print_list();
        return 0;
    }
    if (app.got_subcommand("version")) {
        std::printf("%s\n", version_line().c_str());
        return 0;
    }
    if (app.got_subcommand("help")) {
        if (help_topic.empty()) {
            std::printf("%s", app.help().c_str());
            return 0;
        }
        CLI::App *sub = nullptr;
        try {
            sub = app.get_subcommand(help_topic);
        } catch (const CLI::OptionNotFound &) {
        }
        if (!sub || !registry.knows(help_topic)) {
            const std::vector<std::string> near = registry.suggestions(help_topic);
            usage_error("unknown adjustment '" + help_topic + "'" +
                            (near.empty() ? "" : "; did you mean " + near[0] + "?"),
                        "");
            return 2;
        }
        std::printf("%s", sub->help().c_str());
        return 0;
    }
    return registry.run();
}

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

// The arguments as Windows has them, in UTF-16, passed on as UTF-8, so that
// any file name reaches the library whole (the ANSI arguments would turn
// characters outside the code page into '?').
int main(int, char **) {
    int argc = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!wide) return 2;
    std::vector<std::string> args;
    for (int k = 0; k < argc; ++k) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? size_t(n) : 1, '\0');
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, &arg[0], n, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    LocalFree(wide);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // Messages are UTF-8 with plain line ends, as elsewhere; a console shows
    // them as such, and takes the progress bar's escape sequences.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(err, &mode))
        SetConsoleMode(err, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    const int status = velmora_main(argc, argv.data());
    std::fflush(nullptr);
    return status;
}
#else
int main(int argc, char **argv) { return velmora_main(argc, argv); }
#endif
