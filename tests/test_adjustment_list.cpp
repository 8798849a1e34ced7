// The one list of adjustments against the header that declares them, and
// against the library itself: the same names and parameters in the same
// order, neutral values that change nothing, example values that change a
// photograph.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "adjustments.h"
#include "export_names.h"  // generated from velmora.h
#include "support.h"

using namespace vt;
using velmora_list::Adjustment;
using velmora_list::Kind;

namespace velmora_list {
// Test names and failure messages show the adjustment by its name.
inline void PrintTo(const Adjustment &adj, std::ostream *os) { *os << adj.name; }
}  // namespace velmora_list

namespace {

std::string c_type(Kind kind) {
    switch (kind) {
    case Kind::integer: return "int ";
    case Kind::real: return "float ";
    case Kind::points: return "const int *";
    }
    return "?";
}

// The declaration the list describes, spelled as the generated signatures are.
std::string signature(const Adjustment &adj) {
    std::string s = std::string("velmora_") + adj.name +
                    "(const char *input_path, const char *output_path";
    for (int k = 0; k < adj.param_count; ++k) s += ", " + c_type(adj.params[k].kind) + adj.params[k].name;
    return s + ")";
}

TEST(AdjustmentList, MatchesTheHeaderDeclarations) {
    std::set<std::string> declared;
    for (const char *sig : velmora_export_signatures) {
        const std::string s = sig;
        if (s.rfind("velmora_init(", 0) == 0 || s.rfind("velmora_cleanup(", 0) == 0 ||
            s.rfind("velmora_last_error(", 0) == 0)
            continue;
        declared.insert(s);
    }
    std::set<std::string> listed;
    for (const Adjustment &adj : velmora_list::kAdjustments) listed.insert(signature(adj));
    for (const std::string &s : declared) EXPECT_TRUE(listed.count(s)) << "not in the list: " << s;
    for (const std::string &s : listed) EXPECT_TRUE(declared.count(s)) << "not declared: " << s;
    EXPECT_EQ(size_t(velmora_list::kAdjustmentCount), declared.size());
}

TEST(AdjustmentList, CommandNamesAreTheNamesWithHyphens) {
    for (const Adjustment &adj : velmora_list::kAdjustments) {
        std::string expected = adj.name;
        for (char &c : expected)
            if (c == '_') c = '-';
        EXPECT_EQ(adj.command, expected);
        EXPECT_EQ(velmora_list::find(adj.name), &adj);
    }
    EXPECT_EQ(velmora_list::find("brightnes"), nullptr);
}

TEST(AdjustmentList, NeutralAndExampleValuesLieInTheirRanges) {
    for (const Adjustment &adj : velmora_list::kAdjustments)
        for (int k = 0; k < adj.param_count; ++k) {
            const velmora_list::Param &p = adj.params[k];
            SCOPED_TRACE(std::string(adj.name) + " " + p.name);
            EXPECT_LE(p.min, p.max);
            EXPECT_GE(p.neutral, p.min);
            EXPECT_LE(p.neutral, p.max);
            EXPECT_GE(p.example, p.min);
            EXPECT_LE(p.example, p.max);
            EXPECT_EQ(std::string(p.option).rfind("--", 0), 0u);
        }
}

class ListedValues : public testing::TestWithParam<Adjustment> {};

TEST_P(ListedValues, NeutralChangesNothingAndTheExampleChangesThePicture) {
    const Adjustment &adj = GetParam();
    Picture in = gradient(41, 29);
    // Colours of every hue at full saturation too, for the colour adjustments.
    // and a row of muted earth tones.
    for (int x = 0; x < in.width; ++x) {
        in.at(x, 0) = rgb(x * 6, 255 - x * 6, (x * 37) % 256);
        in.at(x, 1) = rgb(x * 6, x * 6 + 5, x * 6 / 2 + 15);
    }
    const Picture example = adjusted(in, [&](const char *i, const char *o) {
        return adj.call(i, o, velmora_list::example_values(adj));
    });
    EXPECT_NE(example.px, in.px) << "the example values change nothing";
    if (adj.param_count == 0) return;  // nothing to be neutral
    const Picture neutral = adjusted(in, [&](const char *i, const char *o) {
        return adj.call(i, o, velmora_list::neutral_values(adj));
    });
    EXPECT_EQ(neutral.px, in.px) << "the neutral values change the picture";
}

INSTANTIATE_TEST_SUITE_P(EveryAdjustment, ListedValues,
                         testing::ValuesIn(velmora_list::kAdjustments),
                         [](const testing::TestParamInfo<Adjustment> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
