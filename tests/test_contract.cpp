// What every adjustment promises, checked for all of them from the one list:
// null paths first, file failures before parameter checks, a refused
// parameter writes nothing and leaves an existing output alone, a failed
// write names the output, and every message starts with the adjustment's name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adjustments.h"
#include "support.h"

using namespace vt;
using velmora_list::Adjustment;
using velmora_list::Kind;
using velmora_list::Values;

namespace velmora_list {
// Test names and failure messages show the adjustment by its name.
inline void PrintTo(const Adjustment &adj, std::ostream *os) { *os << adj.name; }
}  // namespace velmora_list

namespace {

bool is_curves(const Adjustment &adj) {
    return adj.param_count > 1 && adj.params[1].kind == Kind::points;
}

// Every way to give a value out of range after decoding, one parameter at a
// time: just below and just above each bounded parameter. The curve points
// out of range stand for curves, whose count and mode are checked first.
std::vector<Values> refused_values(const Adjustment &adj) {
    std::vector<Values> out;
    if (is_curves(adj)) {
        static const int xs[] = {0, 255}, ys[] = {0, 256};
        Values v = velmora_list::neutral_values(adj);
        v.xs = xs;
        v.ys = ys;
        out.push_back(v);
        return out;
    }
    for (int k = 0; k < adj.param_count; ++k) {
        const velmora_list::Param &p = adj.params[k];
        if (p.min <= velmora_list::kAnyInt) continue;  // every int is accepted
        const double step = p.kind == Kind::real ? 0.05 : 1.0;
        for (double bad : {p.min - step, p.max + step}) {
            Values v = velmora_list::example_values(adj);
            v.v[k] = bad;
            out.push_back(v);
        }
    }
    return out;
}

Call bound(const Adjustment &adj, const Values &values) {
    return [&adj, values](const char *i, const char *o) { return adj.call(i, o, values); };
}

class Contract : public testing::TestWithParam<Adjustment> {
protected:
    std::string name() const { return GetParam().name; }
    Call example() const { return bound(GetParam(), velmora_list::example_values(GetParam())); }
    // The example, or a refused value where the adjustment has one: file
    // failures must win over it.
    std::vector<Call> calls() const {
        std::vector<Call> all = {example()};
        for (const Values &v : refused_values(GetParam())) all.push_back(bound(GetParam(), v));
        return all;
    }
};

TEST_P(Contract, NullPathsAreRefusedFirst) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, gradient(4, 3));
    for (const Call &call : calls()) {
        EXPECT_EQ(call(nullptr, out.c_str()), 0);
        EXPECT_EQ(last_error(), name() + ": NULL input/output");
        EXPECT_EQ(call(in.c_str(), nullptr), 0);
        EXPECT_EQ(last_error(), name() + ": NULL input/output");
        EXPECT_EQ(call(nullptr, nullptr), 0);
        EXPECT_EQ(last_error(), name() + ": NULL input/output");
    }
    EXPECT_FALSE(file_exists(out));
}

TEST_P(Contract, FileFailuresComeBeforeParameterChecks) {
    Sandbox box;
    const std::string missing = box.path("missing.png"), text = box.path("text.png"),
                      bm = box.path("bm.bmp"), png = box.path("cut.png"), out = box.path("out.png");
    write_bytes(text, {'h', 'e', 'l', 'l', 'o'});
    write_bytes(bm, {'B', 'M'});
    write_bytes(png, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0});
    for (const Call &call : calls()) {
        EXPECT_EQ(call(missing.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), name() + ": cannot read " + missing);
        EXPECT_EQ(call(box.dir().c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), name() + ": cannot read " + box.dir());
        EXPECT_EQ(call(text.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), name() + ": unsupported image format: " + text);
        EXPECT_EQ(call(bm.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), name() + ": cannot decode " + bm + " (unknown image type)");
        EXPECT_EQ(call(png.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error().rfind(name() + ": cannot decode " + png + " (", 0), 0u)
            << last_error();
    }
    EXPECT_FALSE(file_exists(out));
}

TEST_P(Contract, RefusedParameterWritesNothingAndKeepsAnExistingOutput) {
    Sandbox box;
    const std::string in = box.path("in.png"), fresh = box.path("fresh.png"),
                      existing = box.path("existing.jpg");
    write_png(in, gradient(6, 5));
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};
    write_bytes(existing, old);
    for (const Values &v : refused_values(GetParam())) {
        const Call call = bound(GetParam(), v);
        EXPECT_EQ(call(in.c_str(), fresh.c_str()), 0);
        EXPECT_EQ(last_error().rfind(name() + ": ", 0), 0u) << last_error();
        EXPECT_EQ(call(in.c_str(), existing.c_str()), 0);
        EXPECT_FALSE(file_exists(fresh));
        EXPECT_EQ(read_bytes(existing), old);
    }
    EXPECT_EQ(box.entries().size(), 2u) << "a stray file was left in the folder";
}

TEST_P(Contract, FailedWriteNamesTheOutput) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("no-such-dir/out.png");
    write_png(in, gradient(4, 3));
    EXPECT_EQ(example()(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(last_error(), name() + ": cannot write " + out);
    // Writing over a folder fails too, and leaves the folder.
    EXPECT_EQ(example()(in.c_str(), box.dir().c_str()), 0);
    EXPECT_EQ(last_error(), name() + ": cannot write " + box.dir());
}

TEST_P(Contract, JpegSideOverTheFormatLimitIsAWriteFailure) {
    // 65535 is JPEG's largest side; one more cannot be written (the header
    // would wrap it to 0), while PNG takes it.
    Sandbox box;
    const std::string in = box.path("wide.png");
    write_png(in, filled(65536, 1, rgb(90, 120, 150)), 3);
    const std::string jpg = box.path("wide.jpg"), png = box.path("wide-out.png");
    EXPECT_EQ(example()(in.c_str(), jpg.c_str()), 0);
    EXPECT_EQ(last_error(), name() + ": cannot write " + jpg);
    EXPECT_FALSE(file_exists(jpg));
    EXPECT_EQ(example()(in.c_str(), png.c_str()), 1) << last_error();

    write_png(in, filled(65535, 1, rgb(90, 120, 150)), 3);
    ASSERT_EQ(example()(in.c_str(), jpg.c_str()), 1) << last_error();
    EXPECT_EQ(read_picture(jpg).width, 65535);
}

TEST_P(Contract, SuccessEmptiesAnEarlierMessage) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.bmp");
    write_png(in, gradient(4, 3));
    EXPECT_EQ(example()(box.path("missing").c_str(), out.c_str()), 0);
    ASSERT_NE(last_error(), "");
    EXPECT_EQ(example()(in.c_str(), out.c_str()), 1) << last_error();
    EXPECT_EQ(last_error(), "");
    EXPECT_EQ(sniff(out), "bmp");
}

INSTANTIATE_TEST_SUITE_P(EveryAdjustment, Contract,
                         testing::ValuesIn(velmora_list::kAdjustments),
                         [](const testing::TestParamInfo<Adjustment> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
