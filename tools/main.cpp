#include <cstdio>
#include <cstring>
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

// `velmora help [ADJUSTMENT]`.
int show_help(CLI::App &app, const velmora_cli::Registry &registry, const std::string &topic) {
    if (topic.empty()) {
        std::printf("%s", app.help().c_str());
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
    std::printf("%s", sub->help().c_str());
    return 0;
}

}  // namespace

int velmora_main(int argc, char **argv) {
    using velmora_cli::usage_error;
    CLI::App app{"velmora: colour and tone adjustments for JPEG, PNG and BMP files"};
    app.require_subcommand(1);
    app.footer("Outputs keep the input's RGB colour profile, orientation and resolution; nothing "
               "else of its metadata (GPS, camera serials, names, thumbnails) is copied.\n"
               "A missing output folder is created, in single-file and batch mode alike.\n"
               "Exit status: 0 all written, 1 a file failed, 2 usage error. Stopped by "
               "Ctrl-C, SIGTERM or SIGHUP, it cleans up and ends by that signal (a shell "
               "shows 130, 143, 129), so that a calling script stops too. A batch finishes "
               "the files in progress at the first stop and ends them at the second; one "
               "file ends at the first, leaving nothing written.");
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
        first != "version")
        return unknown_adjustment(registry, first);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::printf("%s", app.help().c_str());
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
    if (app.got_subcommand("help")) return show_help(app, registry, help_topic);
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
