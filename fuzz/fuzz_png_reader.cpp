// Our PNG reader against stb_image under fuzzing: any bytes (the PNG
// signature put in front when they lack it) go to both readers, below the
// checksum tests and with them; the outcomes must be equal: the same size and
// pixels, or the same reason. Our reader is also read a few rows at a time,
// which must give the pixels of the whole read. Any difference aborts, so
// that the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "png_reader.h"

namespace {

struct Outcome {
    unsigned char *px = nullptr;
    int w = 0, h = 0;
    std::string reason;
    ~Outcome() { std::free(px); }
};

void decode(const std::vector<uint8_t> &f, velmora::Reader r, velmora::Checksums c, Outcome &o) {
    const char *why = nullptr;
    o.px = velmora::decode_rgba(f.data(), int(f.size()), &o.w, &o.h, &why, r, c);
    if (!o.px) o.reason = why ? why : "(none)";
}

[[noreturn]] void fail(const char *what, const std::string &a, const std::string &b) {
    std::fprintf(stderr, "fuzz_png_reader: %s differ: ours \"%s\", stb \"%s\"\n", what, a.c_str(),
                 b.c_str());
    std::abort();
}

void compare(const std::vector<uint8_t> &f, velmora::Checksums c) {
    Outcome ours, ref;
    decode(f, velmora::Reader::fast, c, ours);
    decode(f, velmora::Reader::reference, c, ref);
    if (!ours.px || !ref.px) {
        if (ours.px || ref.px || ours.reason != ref.reason) fail("outcomes", ours.reason, ref.reason);
        return;
    }
    if (ours.w != ref.w || ours.h != ref.h) fail("sizes", "", "");
    if (std::memcmp(ours.px, ref.px, size_t(ours.w) * size_t(ours.h) * 4) != 0)
        fail("pixels", "", "");
    if (c != velmora::Checksums::ignore) return;
    // A few rows at a time, into a buffer with a wider stride.
    const char *why = nullptr;
    auto rows = velmora::open_png_reader(f.data(), f.size(), &why, false);
    if (!rows) return;  // left to stb
    const size_t line = size_t(rows->width()) * 4, stride = line + 3;
    std::vector<unsigned char> band(stride * 3);
    for (int y = 0; y < rows->height();) {
        const int n = rows->height() - y < 3 ? rows->height() - y : 3;
        if (!rows->read_rows(band.data(), stride, n)) fail("banded read", "refused", "decodes");
        for (int i = 0; i < n; ++i)
            if (std::memcmp(band.data() + size_t(i) * stride, ref.px + size_t(y + i) * line, line))
                fail("banded pixels", "", "");
        y += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const uint8_t kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> f;
    if (size < 8 || std::memcmp(data, kSig, 8) != 0) f.assign(kSig, kSig + 8);
    f.insert(f.end(), data, data + size);
    compare(f, velmora::Checksums::ignore);
    compare(f, velmora::Checksums::verify);
    return 0;
}
