// One subcommand per adjustment, made from the list of adjustments: each
// option of the list becomes an option of its command, with its help, its
// neutral value as the default, and its values parsed here. Ranges are shown
// in --help and checked here, in the words typed, before any file is
// touched; what only the library can tell comes back in its message.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "adjustments.h"
#include "commands.h"

namespace velmora_cli {
namespace {

using velmora_list::Adjustment;
using velmora_list::Kind;
using velmora_list::Values;

// One int in decimal, with nothing around it.
bool parse_int(const std::string &text, int &out) {
    const char *s = text.c_str();
    char *stop = nullptr;
    errno = 0;
    const long long n = std::strtoll(s, &stop, 10);
    if (text.empty() || *stop != '\0' || errno != 0 || n < std::numeric_limits<int>::min() ||
        n > std::numeric_limits<int>::max())
        return false;
    out = static_cast<int>(n);
    return true;
}

// "A,B,..." -> ints; false unless every item is an int.
bool parse_ints(const std::string &text, std::vector<int> &out) {
    out.clear();
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        int v;
        if (!parse_int(text.substr(at, end - at), v)) return false;
        out.push_back(v);
        at = end + 1;
    }
    return true;
}

struct Points {
    std::vector<int> xs, ys;
};

// "X:Y,X:Y,..." -> points; false on anything else. Values are not range
// checked here: check_points does that, as they are typed.
bool parse_points(const std::string &text, Points &out) {
    out = Points{};
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(at, end - at);
        const size_t colon = pair.find(':');
        int x, y;
        if (colon == std::string::npos || !parse_int(pair.substr(0, colon), x) ||
            !parse_int(pair.substr(colon + 1), y))
            return false;
        out.xs.push_back(x);
        out.ys.push_back(y);
        at = end + 1;
    }
    return true;
}

// Points as X:Y,..., 2..64 of them, each level 0..255.
std::string check_points(const std::string &text) {
    Points p;
    if (!parse_points(text, p)) return "expected points as X:Y,X:Y,... (integers), got '" + text + "'";
    if (p.xs.size() < 2 || p.xs.size() > 64)
        return std::to_string(p.xs.size()) + " point" + (p.xs.size() == 1 ? "" : "s") +
               " given in '" + text + "'; a curve takes 2..64";
    for (size_t k = 0; k < p.xs.size(); ++k)
        for (int v : {p.xs[k], p.ys[k]})
            if (v < 0 || v > 255)
                return "'" + text + "': " + std::to_string(v) + " is out of range 0..255";
    for (size_t k = 1; k < p.xs.size(); ++k)
        if (p.xs[k] <= p.xs[k - 1])
            return "'" + text + "': X " + std::to_string(p.xs[k]) + " comes after X " +
                   std::to_string(p.xs[k - 1]) + "; X must increase from point to point";
    return "";
}

const CLI::Validator kPointList([](std::string &text) { return check_points(text); }, "",
                                "points");

// What one command's options fill in.
struct State {
    Values values;
    Points points;  // curves: one curve, or red, green and blue in a row
};

// The curve options: one shared curve, or three of the same length.
void add_curve_options(CLI::App *cmd, const Adjustment &adj, std::shared_ptr<State> state) {
    auto texts = std::make_shared<std::vector<std::string>>(4);
    (*texts)[0] = "0:0,255:255";
    CLI::Option *shared = cmd->add_option("--points", (*texts)[0], adj.params[0].help)
                              ->check(kPointList)
                              ->type_name("X:Y,...")
                              ->capture_default_str();
    const char *const names[3] = {"--red", "--green", "--blue"};
    const char *const helps[3] = {"Red curve, as --points", "Green curve, as --points",
                                  "Blue curve, as --points"};
    CLI::Option *channel[3];
    for (int c = 0; c < 3; ++c)
        channel[c] = cmd->add_option(names[c], (*texts)[c + 1], helps[c])
                         ->check(kPointList)
                         ->type_name("X:Y,...");
    for (CLI::Option *one : channel) {
        one->excludes(shared);
        for (CLI::Option *other : channel)
            if (other != one) one->needs(other);
    }
    cmd->footer(
        "Give either --points, or all three of --red, --green and --blue with the same "
        "number of points.\nExample: velmora curves in.png out.png --points 0:0,128:200,255:255");
    CLI::Option *red = channel[0];
    cmd->callback([state, texts, red]() {
        Points &all = state->points;
        if (red->count() == 0) {
            parse_points((*texts)[0], all);
            state->values.v[0] = static_cast<double>(all.xs.size());
            state->values.v[3] = 0;
        } else {
            Points c[3];
            for (int k = 0; k < 3; ++k) parse_points((*texts)[k + 1], c[k]);
            if (c[0].xs.size() != c[1].xs.size() || c[0].xs.size() != c[2].xs.size())
                throw CLI::ValidationError(
                    "--red, --green and --blue need the same number of points (got " +
                    std::to_string(c[0].xs.size()) + ", " + std::to_string(c[1].xs.size()) +
                    ", " + std::to_string(c[2].xs.size()) + ")");
            all = Points{};
            for (const Points &one : c) {
                all.xs.insert(all.xs.end(), one.xs.begin(), one.xs.end());
                all.ys.insert(all.ys.end(), one.ys.begin(), one.ys.end());
            }
            state->values.v[0] = static_cast<double>(c[0].xs.size());
            state->values.v[3] = 3;
        }
        state->values.xs = all.xs.data();
        state->values.ys = all.ys.data();
    });
}

std::string number(double v, Kind kind) {
    char text[32];
    std::snprintf(text, sizeof text, kind == Kind::real ? "%.1f" : "%.0f", v);
    return text;
}

// A value outside the parameter's range, told in the words the user typed.
void check_range(const velmora_list::Param &p, const std::string &option,
                 const std::string &typed, double v) {
    if (p.min <= velmora_list::kAnyInt) return;  // every int is accepted
    // Real parameters are taken as float, as the library takes them.
    const bool inside = p.kind == Kind::real
                            ? static_cast<float>(v) >= static_cast<float>(p.min) &&
                                  static_cast<float>(v) <= static_cast<float>(p.max)
                            : v >= p.min && v <= p.max;
    if (inside) return;
    const std::string value = p.kind == Kind::real ? typed : std::to_string(static_cast<long long>(v));
    throw CLI::ValidationError(option + " " + typed +
                               (typed == value ? "" : ": " + value) + " is out of range " +
                               number(p.min, p.kind) + ".." + number(p.max, p.kind));
}

std::string neutral_text(const Adjustment &adj, int first, int count) {
    std::string text;
    for (int k = first; k < first + count; ++k) {
        if (k > first) text += ",";
        const double v = adj.params[k].neutral;
        text += adj.params[k].kind == Kind::real ? CLI::detail::to_string(v)
                                                 : std::to_string(static_cast<int>(v));
    }
    return text;
}

// Rules between two parameters of one adjustment, checked with the others
// before any file is read: the first must be below the second.
struct Below {
    const char *adjustment;
    int lower, upper;  // parameter positions
};
const Below kBelow[] = {{"levels", 0, 1}};

void add_order_rules(CLI::App *cmd, const Adjustment &adj, std::shared_ptr<State> state) {
    for (const Below &rule : kBelow) {
        if (std::string(rule.adjustment) != adj.name) continue;
        cmd->callback([state, rule, adj = &adj]() {
            const double low = state->values.v[rule.lower], high = state->values.v[rule.upper];
            if (low < high) return;
            throw CLI::ValidationError(
                std::string(adj->params[rule.lower].option) + " " + number(low, Kind::integer) +
                " must be below " + adj->params[rule.upper].option + " " +
                number(high, Kind::integer));
        });
    }
}

// "" unless every value is the neutral one, when the picture will come out
// as it went in: then the warning's text, naming the values.
std::string unchanged_note(const Adjustment &adj, const State &state) {
    if (adj.param_count == 0) return "";
    std::string values;
    const bool curves = adj.param_count > 1 && adj.params[1].kind == Kind::points;
    if (curves) {
        const Points &p = state.points;
        for (size_t k = 0; k < p.xs.size(); ++k)
            if (p.xs[k] != (k % 2 ? 255 : 0) || p.ys[k] != p.xs[k] ||
                state.values.v[0] != 2)
                return "";
        values = "--points 0:0,255:255";
    } else {
        for (int first = 0; first < adj.param_count;) {
            int count = 1;
            while (first + count < adj.param_count &&
                   std::string(adj.params[first + count].option) == adj.params[first].option)
                ++count;
            for (int k = first; k < first + count; ++k)
                if (state.values.v[k] != adj.params[k].neutral) return "";
            values += std::string(values.empty() ? "" : " ") + adj.params[first].option + " " +
                      neutral_text(adj, first, count);
            first += count;
        }
    }
    return std::string(adj.command) + " with " + values +
           " leaves the picture unchanged (it is only written again)";
}

// The options with the list's example values, which visibly change a photo.
std::string example_text(const Adjustment &adj) {
    const bool curves = adj.param_count > 1 && adj.params[1].kind == Kind::points;
    if (curves) {
        std::string points;
        for (size_t k = 0; k < sizeof velmora_list::kExampleCurveXs / sizeof(int); ++k)
            points += (k ? "," : "") + std::to_string(velmora_list::kExampleCurveXs[k]) + ":" +
                      std::to_string(velmora_list::kExampleCurveYs[k]);
        return "--points " + points;
    }
    std::string text;
    for (int first = 0; first < adj.param_count;) {
        int count = 1;
        while (first + count < adj.param_count &&
               std::string(adj.params[first + count].option) == adj.params[first].option)
            ++count;
        std::string values;
        for (int k = first; k < first + count; ++k) {
            const double v = adj.params[k].example;
            values += (k > first ? "," : "") + (adj.params[k].kind == Kind::real
                                                    ? CLI::detail::to_string(v)
                                                    : std::to_string(static_cast<int>(v)));
        }
        // A value that starts with '-' would read as an option after a space.
        text += std::string(text.empty() ? "" : " ") + adj.params[first].option +
                (values[0] == '-' ? "=" : " ") + values;
        first += count;
    }
    return text;
}

// The options of the list: parameters that share an option are given as A,B,C.
void add_value_options(CLI::App *cmd, const Adjustment &adj, std::shared_ptr<State> state) {
    for (int first = 0; first < adj.param_count;) {
        const velmora_list::Param &p = adj.params[first];
        int count = 1;
        while (first + count < adj.param_count &&
               std::string(adj.params[first + count].option) == p.option)
            ++count;
        for (int k = first; k < first + count; ++k) state->values.v[k] = adj.params[k].neutral;
        CLI::Option *opt;
        if (count == 1 && p.kind == Kind::real) {
            const std::string option = p.option;
            const velmora_list::Param param = p;
            opt = cmd->add_option_function<std::string>(
                option,
                [state, first, option, param](const std::string &text) {
                    char *stop = nullptr;
                    const double v = std::strtod(text.c_str(), &stop);
                    if (text.empty() || *stop != '\0' || v != v)
                        throw CLI::ValidationError(option + " takes a number, got '" + text + "'");
                    check_range(param, option, text, v);
                    state->values.v[first] = v;
                },
                p.help);
            opt->type_name("FLOAT");
        } else {
            const std::string option = p.option;
            opt = cmd->add_option_function<std::string>(
                option,
                [state, first, count, option, adj = &adj](const std::string &text) {
                    std::vector<int> ints;
                    if (!parse_ints(text, ints) || static_cast<int>(ints.size()) != count)
                        throw CLI::ValidationError(
                            option + " takes " +
                            (count == 1 ? std::string("an integer")
                                        : std::to_string(count) + " integers separated by commas") +
                            ", got '" + text + "'");
                    for (int k = 0; k < count; ++k) {
                        const velmora_list::Param &param = adj->params[first + k];
                        if (param.min > velmora_list::kAnyInt &&
                            (ints[size_t(k)] < param.min || ints[size_t(k)] > param.max))
                            throw CLI::ValidationError(
                                option + " " + text +
                                (count == 1 ? "" : ": " + std::to_string(ints[size_t(k)])) +
                                " is out of range " + number(param.min, param.kind) + ".." +
                                number(param.max, param.kind));
                        state->values.v[first + k] = ints[size_t(k)];
                    }
                },
                p.help);
            opt->type_name(count == 1 ? "INT" : count == 2 ? "A,B" : "R,G,B");
        }
        if (p.required) opt->required();
        else opt->default_str(neutral_text(adj, first, count));
        first += count;
    }
}

}  // namespace

void add_adjustment_commands(Registry &registry) {
    for (const Adjustment &adj : velmora_list::kAdjustments) {
        auto state = std::make_shared<State>();
        state->values = velmora_list::neutral_values(adj);
        CLI::App *cmd = registry.add(
            adj.command, adj.summary,
            [&adj, state](const char *in, const char *out) {
                return adj.call(in, out, state->values);
            },
            [&adj, state]() { return velmora::ChainLink{&adj, state->values}; },
            [&adj, state]() { return unchanged_note(adj, *state); },
            adj.param_count ? example_text(adj) : std::string());
        const bool curves = adj.param_count > 1 && adj.params[1].kind == Kind::points;
        if (curves) add_curve_options(cmd, adj, state);
        else add_value_options(cmd, adj, state);
        add_order_rules(cmd, adj, state);
    }
}

}  // namespace velmora_cli
