// Writes the manual page: the hand-written parts from the template, and in
// place of its @ADJUSTMENTS@ line one section per adjustment of the list,
// with every option, its range, its default and an example, so that the page
// can never lag behind the command.
//   velmora_man TEMPLATE OUTPUT VERSION
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "adjustments.h"

namespace {

using velmora_list::Adjustment;
using velmora_list::Kind;
using velmora_list::Param;

// Text for roff: a backslash doubled, every '-' as \- (a plain one may be
// typeset as a hyphen, which a reader cannot copy into a shell), and a
// leading '.' or '\'' kept from being read as a request.
std::string roff(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

std::string number(double v, Kind kind) {
    char text[32];
    if (kind == Kind::real) std::snprintf(text, sizeof text, "%.1f", v);
    else std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

// An example or default value as it is typed on the command line.
std::string typed(double v, Kind kind) {
    char text[32];
    if (kind == Kind::real) std::snprintf(text, sizeof text, "%g", v);
    else std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

std::string range(const Param &p) {
    if (p.min <= velmora_list::kAnyInt) return "any integer";
    return number(p.min, p.kind) + ".." + number(p.max, p.kind);
}

std::string points(const int *xs, const int *ys, int count) {
    std::string text;
    for (int k = 0; k < count; ++k)
        text += (k ? "," : "") + std::to_string(xs[k]) + ":" + std::to_string(ys[k]);
    return text;
}

// Parameters that share an option (R,G,B; A,B) are given together.
int shared_count(const Adjustment &adj, int first) {
    int count = 1;
    while (first + count < adj.param_count &&
           std::string(adj.params[first + count].option) == adj.params[first].option)
        ++count;
    return count;
}

void curve_section(std::ostream &out, const Adjustment &adj) {
    const int n = static_cast<int>(sizeof velmora_list::kExampleCurveXs / sizeof(int));
    const std::string example = points(velmora_list::kExampleCurveXs,
                                       velmora_list::kExampleCurveYs, n);
    // The other channels unchanged, through as many points as the red one.
    const std::string identity = points(velmora_list::kExampleCurveXs,
                                        velmora_list::kExampleCurveXs, n);
    out << ".TP\n\\fB\\-\\-points\\fR \\fIX:Y,...\\fR\n" << roff(adj.params[0].help) << ".\n"
        << "Points: " << number(adj.params[0].min, Kind::integer) << ".."
        << number(adj.params[0].max, Kind::integer) << "; X and Y: "
        << number(adj.params[1].min, Kind::integer) << ".."
        << number(adj.params[1].max, Kind::integer) << ". Default: 0:0,255:255 (no change).\n";
    for (const char *channel : {"red", "green", "blue"})
        out << ".TP\n\\fB\\-\\-" << channel << "\\fR \\fIX:Y,...\\fR\n"
            << "The " << channel << " channel's own curve, as \\fB\\-\\-points\\fR.\n";
    out << ".PP\nGive either \\fB\\-\\-points\\fR, or all three of \\fB\\-\\-red\\fR, "
           "\\fB\\-\\-green\\fR and \\fB\\-\\-blue\\fR with the same number of points.\n"
        << ".PP\nExamples:\n.PP\n.RS\n.nf\nvelmora " << adj.command << " in.jpg out.jpg "
        << "\\-\\-points " << example << "\n"
        << "velmora " << adj.command << " in.jpg out.jpg \\-\\-red " << example
        << " \\-\\-green " << identity << " \\-\\-blue " << identity << "\n.fi\n.RE\n";
}

void adjustment_section(std::ostream &out, const Adjustment &adj) {
    out << ".SS " << roff(adj.command) << "\n" << roff(adj.summary) << ".\n";
    out << "Library function: \\fBvelmora_" << adj.name << "\\fR.\n";
    if (adj.param_count > 1 && adj.params[1].kind == Kind::points) {
        curve_section(out, adj);
        return;
    }
    if (adj.param_count == 0) out << "It takes no options.\n";
    std::string example = "velmora " + std::string(adj.command) + " in.jpg out.jpg";
    for (int first = 0; first < adj.param_count;) {
        const Param &p = adj.params[first];
        const int count = shared_count(adj, first);
        std::string values, defaults, ranges;
        const char *const names[] = {"R", "G", "B"};
        bool same_range = true;
        for (int k = first; k < first + count; ++k) {
            const std::string sep = k > first ? "," : "";
            values += sep + typed(adj.params[k].example, adj.params[k].kind);
            defaults += sep + typed(adj.params[k].neutral, adj.params[k].kind);
            same_range = same_range && range(adj.params[k]) == range(p);
        }
        const std::string metavar = count == 1 ? (p.kind == Kind::real ? "FLOAT" : "INT")
                                    : count == 2 ? "A,B" : "R,G,B";
        out << ".TP\n\\fB" << roff(p.option) << "\\fR \\fI" << metavar << "\\fR\n"
            << roff(p.help ? p.help : "") << ".\n";
        if (count == 1 || same_range)
            ranges = count == 1 ? range(p) : "each " + range(p);
        else
            for (int k = first; k < first + count; ++k)
                ranges += std::string(k > first ? ", " : "") +
                          (count == 3 ? names[k - first] : std::string(1, char('A' + k - first))) +
                          " " + range(adj.params[k]);
        out << "Range: " << roff(ranges) << ". ";
        if (p.required) out << "Required.\n";
        else out << "Default: " << roff(defaults) << ".\n";
        example += " " + std::string(p.option) + " " + values;
        first += count;
    }
    out << ".PP\nExample:\n.PP\n.RS\n.nf\n" << roff(example) << "\n.fi\n.RE\n";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: velmora_man TEMPLATE OUTPUT VERSION\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "velmora_man: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream page;
    std::string line;
    bool placed = false;
    while (std::getline(in, line)) {
        for (size_t at; (at = line.find("@VERSION@")) != std::string::npos;)
            line.replace(at, 9, argv[3]);
        if (line == "@ADJUSTMENTS@") {
            for (const Adjustment &adj : velmora_list::kAdjustments) adjustment_section(page, adj);
            placed = true;
        } else {
            page << line << "\n";
        }
    }
    if (!placed) {
        std::fprintf(stderr, "velmora_man: %s has no @ADJUSTMENTS@ line\n", argv[1]);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << page.str();
    out.close();
    if (!out) {
        std::fprintf(stderr, "velmora_man: cannot write %s\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
