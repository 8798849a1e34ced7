// Our JPEG reader against the reference decoder under fuzzing: arbitrary
// bytes go to both (as a JPEG: the first two bytes are forced to its
// signature), and the outcomes must be equal: the same pixels, or the same
// refusal. A file our reader leaves to the reference counts as equal. The
// input's length chooses the instruction set and how many rows each call
// asks for, so that every path and band boundary gets its share.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "cpu.h"
#include "jpeg_reader.h"
#include "memory.h"

namespace {

[[noreturn]] void fail(const char *what, const char *ours, const char *theirs) {
    std::fprintf(stderr, "fuzz_jpeg_reader: %s differ (ours: %s, reference: %s)\n", what,
                 ours ? ours : "(none)", theirs ? theirs : "(none)");
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    std::vector<unsigned char> file(data, data + size);
    file[0] = 0xFF;
    file[1] = 0xD8;
    const std::vector<velmora::Isa> isas = velmora::available_isas();
    const velmora::Isa isa = isas[size % isas.size()];

    const char *reason = nullptr;
    std::unique_ptr<velmora::RowReader> ours =
        velmora::open_jpeg_reader(file.data(), file.size(), &reason, isa);
    if (!ours && !reason) return 0;  // left to the reference

    int w = 0, h = 0;
    const char *ref_reason = nullptr;
    velmora::Buffer ref(velmora::decode_rgba(file.data(), static_cast<int>(file.size()), &w, &h,
                                             &ref_reason, velmora::Reader::reference));
    if (!ours) {
        if (ref) fail("outcomes", reason, "decoded");
        if (!ref_reason || std::strcmp(reason, ref_reason) != 0) fail("reasons", reason, ref_reason);
        return 0;
    }
    const size_t stride = static_cast<size_t>(ours->width()) * 4;
    std::vector<unsigned char> px(stride * static_cast<size_t>(ours->height()));
    const int step = 1 + static_cast<int>(size / 3 % 17);
    bool ok = true;
    for (int y = 0; y < ours->height() && ok; y += step) {
        const int n = ours->height() - y < step ? ours->height() - y : step;
        ok = ours->read_rows(px.data() + static_cast<size_t>(y) * stride, stride, n);
    }
    if (!ok) {
        if (ref) fail("outcomes", ours->reason(), "decoded");
        const char *r = ours->reason();
        if ((r == nullptr) != (ref_reason == nullptr) || (r && std::strcmp(r, ref_reason) != 0))
            fail("reasons", r, ref_reason);
        return 0;
    }
    if (!ref) fail("outcomes", "decoded", ref_reason);
    if (w != ours->width() || h != ours->height()) fail("sizes", "", "");
    if (std::memcmp(px.data(), ref.get(), px.size()) != 0) fail("pixels", "", "");
    return 0;
}
