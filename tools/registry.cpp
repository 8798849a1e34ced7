#include "registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "files.h"
#include "formats.h"
#include "pipes.h"
#include "stop_signals.h"

namespace velmora_cli {

namespace {

// The options that only a batch takes: `velmora list` does not show them
// and a batch's workers are not given them.
const char *const kBatchOptions[] = {"--output-dir", "--format", "--jobs", "--json",
                                     "--no-clobber"};

bool is_batch_option(const CLI::Option *opt) {
    for (const char *name : kBatchOptions)
        if (opt->check_name(name)) return true;
    return false;
}

// --format takes the names the outputs' extensions take, and keeps the
// extension a batch gives its outputs.
std::string check_format(std::string &text) {
    const velmora::ImageFormat format = velmora::format_from_extension(text.c_str());
    if (format == velmora::FORMAT_UNKNOWN)
        return "--format " + text + " is not one of jpg, jpeg, png, bmp";
    text = format == velmora::FORMAT_JPEG ? "jpg" : format == velmora::FORMAT_PNG ? "png" : "bmp";
    return std::string();
}

// A chain's output names its format: run one by one, the steps would hand
// the last one a PNG, and "the input's format" would be ambiguous.
bool chain_output_named(const std::string &output, const std::string &format) {
    if (output_descriptor(output) >= 0) return !format.empty();
    return velmora::format_from_path(output.c_str(), velmora::FORMAT_UNKNOWN) !=
           velmora::FORMAT_UNKNOWN;
}

// Ends in a separator: a folder, where one file's output takes a file name.
bool names_a_folder(const std::string &output) {
    if (output.empty()) return false;
    const char last = output.back();
#if defined(_WIN32)
    return last == '/' || last == '\\';
#else
    return last == '/';
#endif
}

// Words other programs and people use for an adjustment.
struct Alias {
    const char *word, *command;
};
const Alias kAliases[] = {
    {"gray", "grayscale"},        {"grey", "grayscale"},           {"greyscale", "grayscale"},
    {"mono", "grayscale"},        {"monochrome", "grayscale"},     {"desaturate", "grayscale"},
    {"black-and-white", "grayscale"}, {"bw", "grayscale"},         {"negate", "invert"},
    {"negative", "invert"},       {"inverse", "invert"},           {"brighten", "brightness"},
    {"lighten", "brightness"},    {"darken", "brightness"},        {"bright", "brightness"},
    {"level", "levels"},          {"curve", "curves"},             {"tone-curve", "curves"},
    {"normalize", "auto-levels"}, {"normalise", "auto-levels"},    {"autolevels", "auto-levels"},
    {"auto-level", "auto-levels"}, {"stretch", "auto-levels"},     {"auto-contrast", "auto-levels"},
    {"vibrance", "saturation"},   {"saturate", "saturation"},      {"hue-rotate", "hue"},
    {"rotate-hue", "hue"},        {"tint", "colorize"},            {"colourize", "colorize"},
    {"colorise", "colorize"},     {"colourise", "colorize"},       {"temperature", "white-balance"},
    {"warmth", "white-balance"},  {"colour-balance", "color-balance"}, {"vignetting", "vignette"},
    {"old-photo", "sepia"},       {"swap-color", "replace"},       {"replace-color", "replace"},
};

// The text after "expected: " in the parser's message on arguments it did
// not take, which lists them last first.
std::vector<std::string> unexpected_arguments(const std::string &what) {
    std::vector<std::string> words;
    const size_t at = what.find("expected: ");
    if (at == std::string::npos) return words;
    std::string rest = what.substr(at + 10);
    for (size_t start = 0; start <= rest.size();) {
        size_t end = rest.find(' ', start);
        if (end == std::string::npos) end = rest.size();
        if (end > start) words.insert(words.begin(), rest.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// "A", "A or B", "A, B or C" (or with "and").
std::string listed(const std::vector<std::string> &names, const char *last = " or ") {
    std::string text;
    for (size_t k = 0; k < names.size(); ++k)
        text += (k ? k + 1 == names.size() ? last : ", " : "") + names[k];
    return text;
}

std::string check_jobs(const std::string &text) {
    char *stop = nullptr;
    const long n = std::strtol(text.c_str(), &stop, 10);
    if (text.empty() || *stop != '\0' || n < 1 || n > 256)
        return "--jobs takes a whole number 1..256, got '" + text + "'";
    return "";
}

void print_error(const std::string &message) {
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

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

CLI::App *Registry::add(const std::string &name, const std::string &description, Call call,
                        Link link, std::function<std::string()> unchanged,
                        const std::string &example) {
    CLI::App *cmd = app_.add_subcommand(name, description);
    entries_.push_back({cmd, std::move(call), std::move(link), std::move(unchanged), example});
    if (!takes_files_) return cmd;
    cmd->add_option("FILES", files_,
                    "INPUT OUTPUT, or with -o: one or more inputs (JPEG, PNG or BMP). The "
                    "output's extension .jpg/.jpeg, .png or .bmp chooses its format; any "
                    "other keeps the input's. For one file, - is standard input or output "
                    "(written once whole; its format from --format, else the input's)")
        ->required();
    cmd->add_option("-o,--output-dir", output_dir_,
                    "Batch: write each input's result into this folder, under its own name");
    cmd->add_option("--format", format_,
                    "Batch, or an output of -: output format jpg (or jpeg), png or bmp, any "
                    "case (default: the input's)")
        ->transform(CLI::Validator(check_format, "FORMAT", "format"));
    cmd->add_option("-j,--jobs", jobs_,
                    "Batch: files processed in parallel, 1..256 (default: the number of "
                    "processors)")
        ->check(CLI::Validator(check_jobs, "", "jobs"));
    cmd->add_flag("--json", json_,
                  "A line of JSON per file on standard output: input, output, ok, skipped, "
                  "message, milliseconds");
    cmd->add_flag("--no-clobber", no_clobber_,
                  "Leave outputs that are already there as they are (a batch counts them as "
                  "skipped)");
    // Given by the command itself to the worker processes it starts on
    // Windows, one per file.
    cmd->add_flag("--batch-worker", worker_)->group("");
    return cmd;
}

void Registry::print_list() const {
    for (const Entry &e : entries_) {
        std::printf("%-14s %s\n", e.command->get_name().c_str(),
                    e.command->get_description().c_str());
        for (const CLI::Option *opt : e.command->get_options()) {
            const std::string &name = opt->get_name();
            if (name.empty() || name == "--help" || name == "FILES" || opt->get_group().empty() ||
                is_batch_option(opt))
                continue;
            std::string line = opt->get_description();
            if (!opt->get_default_str().empty()) line += " [" + opt->get_default_str() + "]";
            std::printf("    %-16s %s\n", name.c_str(), line.c_str());
        }
        if (!e.example.empty())
            std::printf("    %-16s velmora %s %s IN OUT\n", "example:",
                        e.command->get_name().c_str(), e.example.c_str());
    }
}

std::vector<std::string> Registry::worker_args(const CLI::App &command) {
    std::vector<std::string> args{command.get_name()};
    for (const CLI::Option *opt : command.get_options()) {
        if (opt->count() == 0 || opt->get_name() == "FILES" || opt->check_name("--help") ||
            is_batch_option(opt) || opt->check_name("--batch-worker"))
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
    for (const Entry &e : entries_)
        if (e.command->parsed()) return run_command(e);
    return 0;
}

bool Registry::chosen_step(Link &link, std::vector<std::string> &args,
                           std::string &note) const {
    for (const Entry &e : entries_) {
        if (!e.command->parsed()) continue;
        link = e.link;
        note = e.unchanged();
        args = worker_args(*e.command);
        args.resize(args.size() - 2);  // --batch-worker --: the last step's
        return true;
    }
    return false;
}

void Registry::follow(std::vector<Link> links, std::vector<std::vector<std::string>> args,
                      std::vector<std::string> notes) {
    before_ = std::move(links);
    before_args_ = std::move(args);
    before_notes_ = std::move(notes);
}

Call Registry::file_call(const Entry &entry) const {
    if (before_.empty()) return entry.call;
    std::vector<Link> steps = before_;
    steps.push_back(entry.link);
    return chain_of(std::move(steps));
}

int Registry::run_command(const Entry &entry) const {
    if (worker_) {
        if (files_.size() != 2) return 2;
        return run_as_worker({files_[0], files_[1]}, file_call(entry));
    }
    // A warning, not a refusal: a script that computes a value may well
    // come to the neutral one, and the output is still right.
    std::vector<std::string> notes = before_notes_;
    notes.push_back(entry.unchanged());
    for (const std::string &note : notes)
        if (!note.empty()) std::fprintf(stderr, "velmora: warning: %s\n", note.c_str());
    // Its temporary files are gone when it returns, before a stop ends the process.
    const int status = run_files(entry);
    return stopping() ? end_by_stop_signal() : status;
}

int Registry::run_files(const Entry &entry) const {
    std::vector<Job> jobs;
    const bool batch = !output_dir_.empty();
    const std::string &command = entry.command->get_name();
    int status = batch ? plan_many(command, jobs) : plan_single(command, jobs);
    if (status != 0) return status;
    if (json_ && !batch && output_descriptor(jobs[0].output) >= 0) {
        usage_error("--json writes to standard output: the picture cannot go there too",
                    entry.command->get_name());
        return 2;
    }
    // Outputs there before the run are left alone; a pipe is never "there".
    size_t skipped = 0;
    if (no_clobber_) {
        std::vector<Job> kept;
        for (Job &job : jobs) {
            std::error_code ec;
            if (output_descriptor(job.output) >= 0 ||
                !std::filesystem::exists(fs_path(job.output), ec)) {
                kept.push_back(std::move(job));
                continue;
            }
            ++skipped;
            if (json_) print_json(job, true, true, "", 0.0);
            if (!batch)
                std::fprintf(stderr, "velmora: %s is already there; left as it is (--no-clobber)\n",
                             job.output.c_str());
        }
        jobs = std::move(kept);
        if (jobs.empty() && !batch) return 0;
    }
    std::string error;
    Pipes pipes;
    if (!batch && !pipes.prepare(jobs[0], format_, error)) {
        if (!error.empty()) print_error(error);
        return 1;
    }
    for (const Job &job : jobs) warn_about_extension(job);
    std::vector<std::string> args;
    for (const std::vector<std::string> &step : before_args_) {
        args.insert(args.end(), step.begin(), step.end());
        args.push_back("+");
    }
    const std::vector<std::string> own = worker_args(*entry.command);
    args.insert(args.end(), own.begin(), own.end());
    status = run_jobs(jobs, file_call(entry), jobs_ ? jobs_ : std::min(processor_count(), 256),
                      batch, args, json_, skipped);
    if (status != 0 || stopping() || pipes.deliver(error)) return status;
    print_error(error);
    return 1;
}

int Registry::plan_single(const std::string &command, std::vector<Job> &jobs) const {
    if (files_.size() != 2 || jobs_ > 1 ||
        (!format_.empty() && output_descriptor(files_[1]) < 0)) {
        usage_error("give INPUT OUTPUT, or inputs with -o DIR for a batch (--format and -j need "
                    "-o, or --format an output of -)",
                    command);
        return 2;
    }
    if (names_a_folder(files_[1])) {
        usage_error("the output " + files_[1] + " ends in a separator, as a folder would; give a "
                        "file name, or -o " + files_[1] + " for a batch",
                    command);
        return 2;
    }
    if (!before_.empty() && !chain_output_named(files_[1], format_)) {
        usage_error(output_descriptor(files_[1]) >= 0
                        ? "a chain writes the format its output names: for " + files_[1] +
                              " give --format"
                        : "a chain writes the format its output names: give " + files_[1] +
                              " the extension .jpg, .png or .bmp",
                    command);
        return 2;
    }
    jobs.push_back({files_[0], files_[1]});
    std::string error;
    if (make_output_folder(files_[1], error)) return 0;
    print_error(error);
    return 1;
}

int Registry::plan_many(const std::string &command, std::vector<Job> &jobs) const {
    for (const std::string &input : files_) {
        if (!is_standard_input(input)) continue;
        usage_error("- (standard input) is for one file: INPUT OUTPUT", command);
        return 2;
    }
    for (const std::string &input : files_) {
        if (before_.empty() || !format_.empty() || chain_output_named(input, format_)) continue;
        usage_error("a chain writes the format its output names: " + input +
                        " has no .jpg, .png or .bmp extension for its output to keep; give "
                        "--format",
                    command);
        return 2;
    }
    std::string error;
    if (!plan_batch(files_, output_dir_, format_, jobs, error)) {
        print_error(error);
        return 2;
    }
    // As for one file: the folder that cannot be made fails its files.
    if (make_folder(output_dir_, error)) return 0;
    print_error(error);
    return 1;
}

std::vector<std::string> Registry::suggestions(const std::string &typed) const {
    const std::string want = normalised(typed);
    for (const Alias &alias : kAliases)
        if (want == alias.word && knows(alias.command)) return {alias.command};
    // Further off, a name is more likely another word than a typo.
    constexpr size_t kMostEdits = 2;
    std::vector<std::string> exact, near;
    size_t best = kMostEdits;
    for (const Entry &e : entries_) {
        const std::string &name = e.command->get_name();
        if (normalised(name) == want) exact.push_back(name);
        const size_t d = edit_distance(want, name);
        if (d > kMostEdits) continue;
        if (d < best || near.empty()) {
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

std::string Registry::explain(const CLI::ParseError &error, const std::vector<std::string> &args,
                              const std::string &command) const {
    const std::string what = error.what();
    const Entry *entry = nullptr;
    for (const Entry &e : entries_)
        if (e.command->get_name() == command) entry = &e;
    // The option a message starts with ("--value: ..."), or "".
    const size_t colon = what.find(": ");
    const std::string option =
        what.compare(0, 1, "-") == 0 && colon != std::string::npos ? what.substr(0, colon) : "";
    if (dynamic_cast<const CLI::ExtrasError *>(&error)) {
        const std::vector<std::string> extras = unexpected_arguments(what);
        // An option typed before the adjustment: the most common slip.
        for (size_t k = 1; k < args.size() && entry; ++k) {
            if (args[k] == command) break;
            if (args[k][0] == '-')
                return args[k] + " comes before the adjustment; options go after it: velmora " +
                       command + " [options] INPUT OUTPUT";
        }
        if (!entry)
            return (command.empty() ? std::string("velmora") : command) +
                   " takes no arguments (given: " + listed(extras, " and ") + ")";
        for (const std::string &extra : extras) {
            if (extra.size() < 2 || extra[0] != '-') continue;
            const std::string typed = extra.substr(0, extra.find('='));
            std::vector<std::string> options, near;
            constexpr size_t kMostEdits = 2;  // as for adjustments
            size_t best = kMostEdits;
            for (const CLI::Option *opt : entry->command->get_options()) {
                if (opt->get_group().empty() || opt->get_name() == "FILES") continue;
                std::vector<std::string> names;
                for (const std::string &n : opt->get_lnames()) names.push_back("--" + n);
                for (const std::string &n : opt->get_snames()) names.push_back("-" + n);
                if (!opt->check_name("--help") && !is_batch_option(opt))
                    options.push_back(names.empty() ? opt->get_name() : names.front());
                for (const std::string &name : names) {
                    const size_t d = edit_distance(typed, name);
                    if (d > kMostEdits) continue;
                    if (d < best || near.empty()) near.assign(1, name), best = d;
                    else if (d == best && std::find(near.begin(), near.end(), name) == near.end())
                        near.push_back(name);
                }
            }
            std::string text = command + " has no option " + typed;
            if (!near.empty()) return text + "; did you mean " + listed(near) + "?";
            if (options.size() == 1) return text + "; the option is " + options[0];
            if (options.empty()) return text + "; it takes no options of its own";
            return text + "; its options are " + listed(options, " and ");
        }
        return "too many arguments: " + listed(extras) +
               " not taken (files come as INPUT OUTPUT, or INPUT... -o DIR)";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&error)) {
        if (what.find("missing") != std::string::npos) return option + " needs a value";
        return option + " is given more than once; give it once";
    }
    if (dynamic_cast<const CLI::RequiredError *>(&error)) {
        if (what.rfind("FILES", 0) == 0)
            return "give INPUT OUTPUT, or inputs with -o DIR for a batch";
        const std::string needed = what.substr(0, what.find(' '));
        return command + " needs " + needed;
    }
    if (dynamic_cast<const CLI::RequiresError *>(&error) ||
        dynamic_cast<const CLI::ExcludesError *>(&error)) {
        if (command == "curves")
            return "give either --points, or all three of --red, --green and --blue";
        return what;
    }
    // Our own checks' words, without the option's name said twice.
    if (!option.empty() && what.compare(colon + 2, option.size() + 1, option + " ") == 0)
        return what.substr(colon + 2);
    return what;
}

void usage_error(const std::string &message, const std::string &command) {
    print_error(message);
    if (command == "list" || command == "version")
        std::fprintf(stderr, "usage: velmora %s\n", command.c_str());
    else if (command == "help")
        std::fprintf(stderr, "usage: velmora help [ADJUSTMENT]\n");
    else if (command.empty())
        std::fprintf(stderr, "usage: velmora ADJUSTMENT INPUT OUTPUT [options]  (velmora help: "
                             "every adjustment; velmora help ADJUSTMENT: its options)\n");
    else
        std::fprintf(stderr, "usage: velmora %s INPUT OUTPUT [options]  (velmora help %s: its "
                             "options)\n",
                     command.c_str(), command.c_str());
}

}  // namespace velmora_cli
