// Prints the list of adjustments as JSON, for the checks of the places that
// name every adjustment outside C++ (README, gallery, Python binding, the
// manual page).
#include <cstdio>

#include "adjustments.h"

const char *kind_name(velmora_list::Kind kind) {
    switch (kind) {
    case velmora_list::Kind::integer: return "integer";
    case velmora_list::Kind::real: return "real";
    case velmora_list::Kind::points: return "points";
    }
    return "";
}

int main() {
    std::printf("[\n");
    for (int k = 0; k < velmora_list::kAdjustmentCount; ++k) {
        const velmora_list::Adjustment &adj = velmora_list::kAdjustments[k];
        std::printf("  {\"name\": \"%s\", \"command\": \"%s\", \"params\": [", adj.name,
                    adj.command);
        for (int p = 0; p < adj.param_count; ++p)
            std::printf("%s{\"name\": \"%s\", \"option\": \"%s\", \"kind\": \"%s\", "
                        "\"min\": %.17g, \"max\": %.17g}",
                        p ? ", " : "", adj.params[p].name, adj.params[p].option,
                        kind_name(adj.params[p].kind), adj.params[p].min, adj.params[p].max);
        std::printf("]}%s\n", k + 1 < velmora_list::kAdjustmentCount ? "," : "");
    }
    std::printf("]\n");
    return 0;
}
