// Our PNG reader against stb_image under fuzzing: any bytes (the PNG
// signature put in front when they lack it) go to both readers, below the
// checksum tests and with them; the outcomes must be equal: the same size and
// pixels, or the same reason. Our reader is also read a few rows at a time,
// which must give the pixels of the whole read, and read in pieces from a
// source that is not in memory, which must give the outcome of the bytes in
// memory (or, when the source's reads fail part-way, that refusal). Any
// difference aborts, so that the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "input_file.h"
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

// Bytes handed out only by reads, as from a file; failing from `fail_from` on.
class Pieces final : public velmora::InputSource {
public:
    Pieces(const std::vector<uint8_t> &f, uint64_t fail_from)
        : InputSource(f.size()), f_(f), fail_from_(fail_from) {}

protected:
    bool fetch(uint64_t offset, unsigned char *dst, size_t n) override {
        if (offset + n > fail_from_) return false;
        std::memcpy(dst, f_.data() + offset, n);
        return true;
    }

private:
    const std::vector<uint8_t> &f_;
    uint64_t fail_from_;
};

void decode_pieces(const std::vector<uint8_t> &f, uint64_t fail_from, velmora::Checksums c,
                   Outcome &o) {
    Pieces src(f, fail_from);
    const char *why = nullptr;
    auto rows = velmora::open_rows(src, &why, velmora::Reader::fast, c);
    if (rows) {
        o.px = velmora::read_picture(*rows, &why);
        o.w = rows->width();
        o.h = rows->height();
    }
    if (!o.px) o.reason = why ? why : "(none)";
}

// Read in pieces: the outcome of the bytes in memory, whole or failing
// part-way (then that refusal, unless the failure came after every read).
void compare_pieces(const std::vector<uint8_t> &f, velmora::Checksums c, const Outcome &ours) {
    for (uint64_t fail_from : {uint64_t(UINT64_MAX), uint64_t(f.size() / 2 + f.size() % 7)}) {
        Outcome p;
        decode_pieces(f, fail_from, c, p);
        if (fail_from < f.size() && !p.px && p.reason == velmora::kInputReadFailed) continue;
        if (!p.px || !ours.px) {
            if (p.px || ours.px || p.reason != ours.reason) {
                std::fprintf(stderr, "fuzz_png_reader: pieces \"%s\", memory \"%s\"\n",
                             p.reason.c_str(), ours.reason.c_str());
                std::abort();
            }
            continue;
        }
        if (p.w != ours.w || p.h != ours.h ||
            std::memcmp(p.px, ours.px, size_t(p.w) * size_t(p.h) * 4) != 0)
            fail("pieces' pixels", "", "");
    }
}

void compare(const std::vector<uint8_t> &f, velmora::Checksums c) {
    Outcome ours, ref;
    decode(f, velmora::Reader::fast, c, ours);
    compare_pieces(f, c, ours);
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
    const size_t head = size < 8 || std::memcmp(data, kSig, 8) != 0 ? 8 : 0;
    std::vector<uint8_t> f(head + size);
    std::memcpy(f.data(), kSig, head);
    if (size) std::memcpy(f.data() + head, data, size);
    compare(f, velmora::Checksums::ignore);
    compare(f, velmora::Checksums::verify);
    return 0;
}
