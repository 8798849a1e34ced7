#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "registry.h"
#include "velmora.h"

namespace {

std::string version_line() {
    return "velmora " + std::to_string(VELMORA_VERSION_MAJOR) + "." +
           std::to_string(VELMORA_VERSION_MINOR) + "." + std::to_string(VELMORA_VERSION_PATCH);
}

int unknown_adjustment(const velmora_cli::Registry &registry, const std::string &typed) {
    const std::vector<std::string> near = registry.suggestions(typed);
    std::string message = "unknown adjustment '" + typed + "'";
    if (!near.empty()) {
        message += "; did you mean ";
        for (size_t k = 0; k < near.size(); ++k)
            message += (k ? k + 1 == near.size() ? " or " : ", " : "") + near[k];
        message += "?";
    }
    velmora_cli::usage_error(message + " ('velmora list' shows them all)", "");
    return 2;
}

// `velmora help [TOPIC]`: the usage, an adjustment's options, or what list,
// help and version do.
int show_help(CLI::App &app, const velmora_cli::Registry &registry, const std::string &topic) {
    if (topic.empty()) {
        // The whole command's usage, not that of `help`, which is the one chosen.
        std::printf("%s", app.get_formatter()->make_help(&app, "velmora",
                                                         CLI::AppFormatMode::Normal).c_str());
        return 0;
    }
    if (topic == "list" || topic == "help" || topic == "version") {
        const CLI::App *sub = app.get_subcommand(topic);
        std::printf("%s\nusage: velmora %s\n", sub->get_description().c_str(),
                    topic == "help" ? "help [ADJUSTMENT | list | version]" : topic.c_str());
        return 0;
    }
    CLI::App *sub = nullptr;
    try {
        sub = app.get_subcommand(topic);
    } catch (const CLI::OptionNotFound &) {
    }
    if (!sub || !registry.knows(topic)) {
        const std::vector<std::string> near = registry.suggestions(topic);
        velmora_cli::usage_error("unknown adjustment '" + topic + "'" +
                                     (near.empty() ? "" : "; did you mean " + near[0] + "?"),
                                 "");
        return 2;
    }
    std::printf("%s", sub->help("velmora").c_str());
    return 0;
}

// The command line of one adjustment (or of list, help, version): the
// subcommands and what parsing them fills in.
struct Command {
    explicit Command(bool takes_files) : registry(app, takes_files) {
        app.name("velmora");
        app.require_subcommand(1);
        app.footer(kFooter);
        app.set_version_flag("--version", version_line());
        app.add_subcommand("list", "List the adjustments and their options");
        CLI::App *help = app.add_subcommand("help", "Show the usage, or one adjustment's options");
        help->add_option("ADJUSTMENT", help_topic, "An adjustment");
        app.add_subcommand("version", "Show the version");
        velmora_cli::add_adjustment_commands(registry);
    }

    // 0 when parsed, else the exit status (after --help, --version or an error).
    int parse(std::vector<char *> &args, bool last) {
        try {
            app.parse(int(args.size()), args.data());
        } catch (const CLI::CallForHelp &) {
            std::printf("%s", app.help().c_str());
            return kDone;
        } catch (const CLI::Success &e) {
            const int status = app.exit(e);  // --help of a subcommand, --version
            return status == 0 ? kDone : status;
        } catch (const CLI::ParseError &e) {
            std::string command;
            for (const CLI::App *sub : app.get_subcommands()) command = sub->get_name();
            const std::vector<std::string> words(args.begin(), args.end());
            const std::string said = registry.explain(e, words, command);
            if (!last && dynamic_cast<const CLI::ExtrasError *>(&e) && !names_own_option(said)) {
                velmora_cli::usage_error(
                    "in a chain, files and batch options (-o, --format, -j) go after the last "
                    "adjustment: velmora A [options] + B [options] INPUT OUTPUT",
                    "");
                return 2;
            }
            velmora_cli::usage_error(said, command);
            return 2;
        }
        return 0;
    }

    // Whether an explanation is about an option other than the files' and
    // batch options, which a chain's earlier steps do not take.
    static bool names_own_option(const std::string &said) {
        const size_t at = said.find(" has no option ");
        if (at == std::string::npos) return false;
        std::string option = said.substr(at + 15);
        option = option.substr(0, option.find(';'));
        for (const char *batch : {"-o", "--output-dir", "--format", "-j", "--jobs", "--json",
                                  "--no-clobber"})
            if (option == batch) return false;
        return true;
    }

    static constexpr int kDone = -1;  // help or version shown: exit 0
    static constexpr const char *kFooter =
        "Adjustments chain with +: velmora levels --black 16 --white 235 + saturation --amount "
        "20 IN OUT runs them in order on each file and writes only the result (the chain's "
        "output must name its format: .jpg, .png, .bmp, or --format).\n"
        "Outputs keep the input's RGB colour profile, orientation and resolution; nothing "
        "else of its metadata (GPS, camera serials, names, thumbnails) is copied.\n"
        "A missing output folder is created, in single-file and batch mode alike.\n"
        "Exit status: 0 all written, 1 a file failed, 2 usage error. Stopped by "
        "Ctrl-C, SIGTERM or SIGHUP, it cleans up and ends by that signal (a shell "
        "shows 130, 143, 129), so that a calling script stops too. A batch finishes "
        "the files in progress at the first stop and ends them at the second; one "
        "file ends at the first, leaving nothing written.";

    CLI::App app{"velmora: colour and tone adjustments for JPEG, PNG and BMP files"};
    velmora_cli::Registry registry;
    std::string help_topic;
};

// The arguments split at each + that stands alone before any --: the steps
// of a chain, each with the program's name first as a parser wants it.
std::vector<std::vector<char *>> steps_of(int argc, char **argv) {
    std::vector<std::vector<char *>> steps(1, std::vector<char *>{argv[0]});
    bool options_end = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--") == 0) options_end = true;
        if (!options_end && std::strcmp(argv[k], "+") == 0)
            steps.push_back(std::vector<char *>{argv[0]});
        else
            steps.back().push_back(argv[k]);
    }
    return steps;
}

// `velmora A [options] + B [options] ... FILES`: every step parsed, and so
// its values checked, before any file is touched.
int run_chain(std::vector<std::vector<char *>> &steps) {
    std::vector<std::unique_ptr<Command>> commands;
    std::vector<velmora_cli::Link> calls;
    std::vector<std::vector<std::string>> args;
    std::vector<std::string> notes;
    for (size_t k = 0; k < steps.size(); ++k) {
        const bool last = k + 1 == steps.size();
        commands.push_back(std::make_unique<Command>(last));
        Command &command = *commands.back();
        if (steps[k].size() < 2) {
            velmora_cli::usage_error("+ joins two adjustments: velmora A [options] + B [options] "
                                     "INPUT OUTPUT",
                                     "");
            return 2;
        }
        const std::string name = steps[k][1];
        if (name[0] != '-' && !command.registry.knows(name)) {
            if (name == "list" || name == "help" || name == "version") {
                velmora_cli::usage_error("+ joins adjustments; " + name + " is not one", "");
                return 2;
            }
            return unknown_adjustment(command.registry, name);
        }
        const int status = command.parse(steps[k], last);
        if (status != 0) return status == Command::kDone ? 0 : status;
        if (last) break;
        velmora_cli::Link link;
        std::vector<std::string> step_args;
        std::string note;
        if (!command.registry.chosen_step(link, step_args, note)) {
            velmora_cli::usage_error("+ joins adjustments", "");
            return 2;
        }
        calls.push_back(std::move(link));
        args.push_back(std::move(step_args));
        notes.push_back(std::move(note));
    }
    Command &last = *commands.back();
    if (last.app.got_subcommand("list") || last.app.got_subcommand("help") ||
        last.app.got_subcommand("version")) {
        velmora_cli::usage_error("+ joins adjustments; the last step is not one", "");
        return 2;
    }
    last.registry.follow(std::move(calls), std::move(args), std::move(notes));
    return last.registry.run();
}

}  // namespace

int velmora_main(int argc, char **argv) {
    using velmora_cli::usage_error;
    if (argc < 2) {
        usage_error("no adjustment given", "");
        return 2;
    }
    std::vector<std::vector<char *>> steps = steps_of(argc, argv);
    if (steps.size() > 1) return run_chain(steps);
    Command command(true);
    CLI::App &app = command.app;
    velmora_cli::Registry &registry = command.registry;
    const std::string first = argv[1];
    if (first[0] != '-' && !registry.knows(first) && first != "list" && first != "help" &&
        first != "version")
        return unknown_adjustment(registry, first);
    const int status = command.parse(steps[0], true);
    if (status != 0) return status == Command::kDone ? 0 : status;
    if (app.got_subcommand("list")) {
        registry.print_list();
        return 0;
    }
    if (app.got_subcommand("version")) {
        std::printf("%s\n", version_line().c_str());
        return 0;
    }
    if (app.got_subcommand("help")) return show_help(app, registry, command.help_topic);
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
    _setmode(_fileno(stdin), _O_BINARY);  // a picture piped in, as `-`
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
