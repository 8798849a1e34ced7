// Our JPEG reader against the reference decoder: for every file, the same
// pixels or the same refusal, on every instruction set, however the rows
// are asked for. The files: the committed encoder-made table
// (tests/data/jpeg-reader, see scripts/make_jpeg_reader_fixtures.py) with
// Adobe and JFIF variants made here, the reference writer's files at every
// small size, every truncation of a few files, damaged scan data, and the
// fuzz corpora.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec.h"
#include "cpu.h"
#include "formats.h"
#include "jpeg_reader.h"
#include "memory.h"
#include "support.h"

namespace fs = std::filesystem;
using velmora::Isa;
using namespace vt;

namespace {

const std::string kFixtures = VELMORA_JPEG_FIXTURES;
const std::string kFuzzDir = VELMORA_FUZZ_DIR;

struct Outcome {
    bool left = false;  // our reader left the file to the reference
    bool ok = false;
    int w = 0, h = 0;
    std::string reason;
    std::vector<unsigned char> px;
};

// Ours, reading `step` rows per call (0: a band at a time).
Outcome ours(const std::vector<uint8_t> &file, Isa isa, int step) {
    Outcome o;
    const char *reason = nullptr;
    auto reader = velmora::open_jpeg_reader(file.data(), file.size(), &reason, isa);
    if (!reader) {
        o.left = reason == nullptr;
        o.reason = reason ? reason : "";
        return o;
    }
    o.w = reader->width();
    o.h = reader->height();
    const size_t stride = static_cast<size_t>(o.w) * 4;
    o.px.assign(stride * o.h, 0);
    const int n = step ? step : reader->band_rows();
    for (int y = 0; y < o.h; y += n) {
        if (!reader->read_rows(o.px.data() + y * stride, stride, std::min(n, o.h - y))) {
            o.reason = reader->reason() ? reader->reason() : "(none)";
            o.px.clear();
            return o;
        }
    }
    o.ok = true;
    return o;
}

Outcome reference(const std::vector<uint8_t> &file) {
    Outcome o;
    const char *reason = nullptr;
    velmora::Buffer px(velmora::decode_rgba(file.data(), static_cast<int>(file.size()), &o.w, &o.h,
                                            &reason, velmora::Reader::reference));
    if (!px) {
        o.reason = reason ? reason : "(none)";
        return o;
    }
    o.ok = true;
    o.px.assign(px.get(), px.get() + static_cast<size_t>(o.w) * o.h * 4);
    return o;
}

// Compares on every instruction set and two ways of asking for rows; true
// when our reader took the file.
bool same_as_reference(const std::vector<uint8_t> &file, const std::string &what) {
    const Outcome ref = reference(file);
    bool taken = true;
    for (Isa isa : velmora::available_isas()) {
        for (int step : {0, 3}) {
            const Outcome o = ours(file, isa, step);
            if (o.left) {
                taken = false;
                continue;
            }
            SCOPED_TRACE(what + " on " + velmora::isa_name(isa) + ", rows per call " +
                         std::to_string(step));
            EXPECT_EQ(o.ok, ref.ok) << "ours: " << o.reason << ", reference: " << ref.reason;
            if (!o.ok || !ref.ok) {
                EXPECT_EQ(o.reason, ref.reason);
                continue;
            }
            EXPECT_EQ(o.w, ref.w);
            EXPECT_EQ(o.h, ref.h);
            if (o.px != ref.px) {
                size_t k = 0;
                while (o.px[k] == ref.px[k]) ++k;
                ADD_FAILURE() << "pixels differ first at byte " << k << " (pixel " << k / 4 % o.w
                              << ", row " << k / 4 / o.w << "): " << int(o.px[k]) << " vs "
                              << int(ref.px[k]);
            }
        }
    }
    return taken;
}

std::vector<std::string> files_in(const std::string &dir, const std::string &prefix = "") {
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && name.rfind(prefix, 0) == 0 && name.rfind("README", 0) != 0)
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// An APP14 "Adobe" segment with this colour transform, right after SOI.
std::vector<uint8_t> with_adobe(std::vector<uint8_t> f, int transform) {
    const uint8_t seg[] = {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 0, 100, 0, 0, 0, 0,
                           static_cast<uint8_t>(transform)};
    f.insert(f.begin() + 2, seg, seg + sizeof seg);
    return f;
}

// The JFIF tag spoiled, so that the file no longer counts as JFIF.
std::vector<uint8_t> without_jfif(std::vector<uint8_t> f) {
    for (size_t i = 0; i + 5 < f.size() && i < 64; ++i)
        if (std::memcmp(&f[i], "JFIF", 5) == 0) f[i + 3] = 'X';
    return f;
}

TEST(JpegReader, EncoderTableEveryVariant) {
    const auto files = files_in(kFixtures);
    ASSERT_GT(files.size(), 40u);
    for (const std::string &path : files) {
        const std::vector<uint8_t> f = read_bytes(path);
        const std::string name = fs::path(path).filename().string();
        EXPECT_TRUE(same_as_reference(f, name)) << name << " was left to the reference";
        same_as_reference(without_jfif(f), name + " without JFIF");
        for (int t : {0, 1, 2}) {
            same_as_reference(with_adobe(f, t), name + " Adobe " + std::to_string(t));
            same_as_reference(with_adobe(without_jfif(f), t),
                              name + " Adobe " + std::to_string(t) + " without JFIF");
        }
    }
}

TEST(JpegReader, ReferenceWriterAtEverySmallSize) {
    for (int a = 1; a <= 40; ++a) {
        for (const auto &wh : {std::make_pair(a, (a * 7) % 40 + 1), std::make_pair((a * 11) % 40 + 1, a)}) {
            const Picture pic = gradient(wh.first, wh.second);
            const std::vector<uint8_t> f =
                stb_jpeg_q92(pic.width, pic.height, reinterpret_cast<const uint8_t *>(pic.px.data()));
            EXPECT_TRUE(same_as_reference(f, std::to_string(wh.first) + "x" + std::to_string(wh.second)));
        }
    }
}

TEST(JpegReader, EveryTruncation) {
    for (const char *name : {"base-2x2.jpg", "prog-2x1.jpg", "base-restart-1-block.jpg", "prog-grey.jpg"}) {
        const std::vector<uint8_t> f = read_bytes(kFixtures + "/" + name);
        for (size_t n = 2; n < f.size(); ++n)
            same_as_reference(std::vector<uint8_t>(f.begin(), f.begin() + n),
                              std::string(name) + " cut to " + std::to_string(n));
    }
}

// Every byte of the headers changed four ways: the segment checks and their
// order, lengths that no longer add up, tables and factors out of range.
TEST(JpegReader, DamagedHeaders) {
    for (const char *name : {"base-2x2.jpg", "prog-2x1.jpg", "base-restart-1-row.jpg", "base-grey.jpg"}) {
        const std::vector<uint8_t> f = read_bytes(kFixtures + "/" + name);
        size_t sos = 2;
        while (sos + 1 < f.size() && !(f[sos] == 0xFF && f[sos + 1] == 0xDA)) ++sos;
        for (size_t at = 2; at < std::min(f.size(), sos + 14); ++at) {
            for (int change : {0x00, 0xFF, 1, -1}) {
                std::vector<uint8_t> g = f;
                g[at] = static_cast<uint8_t>(change == 1 || change == -1 ? g[at] + change : change);
                same_as_reference(g, std::string(name) + " byte " + std::to_string(at) + " changed");
            }
        }
    }
}

// A refusal the reference gives no reason for must not name the PNG probe's
// failure: a DQT segment whose length disagrees with its table, through
// either reader and as the caller sees it.
TEST(JpegReader, RefusalWithoutItsOwnReasonSaysCorruptJpeg) {
    std::vector<uint8_t> f = read_bytes(kFixtures + "/base-2x2.jpg");
    size_t dqt = 2;
    while (dqt + 3 < f.size() && !(f[dqt] == 0xFF && f[dqt + 1] == 0xDB)) ++dqt;
    ASSERT_LT(dqt + 3, f.size());
    f[dqt + 2] = 0x00;
    f[dqt + 3] = 0x03;  // room for one byte of a 65-byte table
    for (velmora::Reader reader : {velmora::Reader::fast, velmora::Reader::reference}) {
        int w = 0, h = 0;
        const char *reason = nullptr;
        velmora::Buffer px(velmora::decode_rgba(f.data(), static_cast<int>(f.size()), &w, &h,
                                                &reason, reader));
        EXPECT_EQ(px, nullptr);
        EXPECT_STREQ(reason, "corrupt JPEG")
            << (reader == velmora::Reader::fast ? "ours" : "reference");
    }
}

// Damage after the headers: bytes set to 0xFF (stray markers), 0x00, a
// restart marker, or noise. Fixed seed: the same cases every run.
TEST(JpegReader, DamagedScanData) {
    std::mt19937 rng(22);
    for (const std::string &path : files_in(kFixtures)) {
        const std::vector<uint8_t> f = read_bytes(path);
        if (f.size() > 3000) continue;
        for (int k = 0; k < 24; ++k) {
            std::vector<uint8_t> g = f;
            const size_t at = g.size() / 3 + rng() % (g.size() * 2 / 3);
            switch (k % 4) {
            case 0: g[at] = 0xFF; break;
            case 1: g[at] = 0x00; break;
            case 2: g[at] = 0xFF; if (at + 1 < g.size()) g[at + 1] = 0xD0 + rng() % 8; break;
            default: g[at] = static_cast<uint8_t>(rng()); break;
            }
            same_as_reference(g, fs::path(path).filename().string() + " damaged at " + std::to_string(at));
        }
    }
}

// Scans long enough for the block decoder that runs away from markers: noise
// (long codes, large magnitudes, a stuffed 0xFF every few hundred bytes)
// and a smoother picture, subsampled and not. Each whole, cut at points
// across the scan, and damaged there, so that the decoder hands over to the
// careful one near markers and the end in every kind of state.
TEST(JpegReader, LongScansWholeCutAndDamaged) {
    Sandbox box;
    std::mt19937 rng(31);
    struct Source {
        const char *name;
        int w, h, quality;
        bool noise;
    };
    const Source sources[] = {{"noise-q92", 160, 120, 92, true},
                              {"noise-q60-420", 200, 136, 60, true},
                              {"gradient-q90-420", 333, 211, 90, false},
                              {"gradient-q100", 257, 129, 100, false}};
    for (const Source &src : sources) {
        Picture pic = gradient(src.w, src.h);
        if (src.noise)
            for (Rgba &p : pic.px) p = Rgba{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 255};
        write_jpg(box.path("long.jpg"), pic, src.quality);
        const std::vector<uint8_t> f = read_bytes(box.path("long.jpg"));
        size_t sos = 2;
        while (sos + 1 < f.size() && !(f[sos] == 0xFF && f[sos + 1] == 0xDA)) ++sos;
        ASSERT_GT(f.size(), sos + 4000) << src.name << ": too short a scan to test";
        EXPECT_TRUE(same_as_reference(f, src.name));
        for (int n = 0; n < 48; ++n) {
            const size_t at = sos + 14 + rng() % (f.size() - sos - 14);
            same_as_reference(std::vector<uint8_t>(f.begin(), f.begin() + at),
                              std::string(src.name) + " cut to " + std::to_string(at));
            std::vector<uint8_t> g = f;
            switch (n % 4) {
            case 0: g[at] = 0xFF; break;
            case 1: g[at] = 0x00; break;
            case 2: g[at] = 0xFF; if (at + 1 < g.size()) g[at + 1] = uint8_t(0xD0 + rng() % 8); break;
            default: g[at] = static_cast<uint8_t>(rng()); break;
            }
            same_as_reference(g, std::string(src.name) + " damaged at " + std::to_string(at));
        }
    }
}

TEST(JpegReader, FuzzCorpora) {
    for (const auto &dir : {kFuzzDir + "/corpus", kFuzzDir + "/crashers", kFuzzDir + "/corpus-jpeg-reader"})
        for (const std::string &path : files_in(dir))
            if (velmora::detect_format(read_bytes(path).data(), read_bytes(path).size()) == velmora::FORMAT_JPEG)
                same_as_reference(read_bytes(path), path);
}

// The block transform: every instruction set gives the scalar statement's
// bytes, for ordinary blocks and for the extreme ones where 16-bit lanes
// wrap and saturate.
TEST(JpegReader, BlockTransformSameOnEverySet) {
    std::mt19937 rng(5);
    struct Kind {
        const char *name;
        int lo, hi;
        int density;  // one in `density` coefficients set
    };
    const Kind kinds[] = {{"dc only", -1024, 1023, 64}, {"small", -64, 64, 3},
                          {"full range", -32768, 32767, 1}, {"sparse extreme", -32768, 32767, 9}};
    std::vector<std::vector<short>> blocks;
    for (const Kind &kind : kinds) {
        for (int rep = 0; rep < 2000; ++rep) {
            alignas(16) short c[64] = {};
            for (int i = 0; i < 64; ++i)
                if (rng() % kind.density == 0 || i == 0)
                    c[i] = static_cast<short>(kind.lo + static_cast<int>(rng() % (kind.hi - kind.lo + 1)));
            unsigned char want[64], got[64];
            velmora::jpeg_idct_block(Isa::scalar, want, 8, c);
            for (Isa isa : velmora::available_isas()) {
                velmora::jpeg_idct_block(isa, got, 8, c);
                ASSERT_EQ(0, std::memcmp(want, got, 64)) << kind.name << " on " << velmora::isa_name(isa);
            }
            blocks.emplace_back(c, c + 64);
        }
    }
    // In pairs, as the reader transforms them where a set can: every block
    // next to blocks of every kind, each half its own block's bytes, written
    // only inside its 8x8 (a wider stride, the space between left alone).
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::vector<short> &a = blocks[i], &b = blocks[(i * 7919 + 1) % blocks.size()];
        unsigned char want_a[64], want_b[64];
        velmora::jpeg_idct_block(Isa::scalar, want_a, 8, a.data());
        velmora::jpeg_idct_block(Isa::scalar, want_b, 8, b.data());
        for (Isa isa : velmora::available_isas()) {
            unsigned char out[2][8 * 12];
            std::memset(out, 0x5a, sizeof out);
            velmora::jpeg_idct_pair(isa, out[0], out[1], 12, a.data(), b.data());
            for (int y = 0; y < 8; ++y) {
                ASSERT_EQ(0, std::memcmp(want_a + 8 * y, out[0] + 12 * y, 8)) << "block " << i << " row " << y
                                                                            << " on " << velmora::isa_name(isa);
                ASSERT_EQ(0, std::memcmp(want_b + 8 * y, out[1] + 12 * y, 8)) << "block " << i << " row " << y
                                                                            << " on " << velmora::isa_name(isa);
                for (int x = 8; x < 12; ++x)
                    ASSERT_TRUE(out[0][12 * y + x] == 0x5a && out[1][12 * y + x] == 0x5a);
            }
        }
    }
}

// Colour conversion: every Y, Cb, Cr triple, on every set against the scalar
// statement, in rows of lengths that leave every tail a vector step can.
TEST(JpegReader, ColourConversionEveryTripleOnEverySet) {
    const int n = 1 << 16;  // every Y with every Cb, for one Cr at a time
    std::vector<unsigned char> y(n), cb(n), cr(n), want(4 * n), got(4 * n);
    for (int i = 0; i < n; ++i) {
        y[i] = static_cast<unsigned char>(i);
        cb[i] = static_cast<unsigned char>(i >> 8);
    }
    for (int v = 0; v < 256; ++v) {
        std::fill(cr.begin(), cr.end(), static_cast<unsigned char>(v));
        velmora::jpeg_ycc_row(Isa::scalar, want.data(), y.data(), cb.data(), cr.data(), n);
        for (Isa isa : velmora::available_isas()) {
            velmora::jpeg_ycc_row(isa, got.data(), y.data(), cb.data(), cr.data(), n);
            ASSERT_EQ(want, got) << "Cr " << v << " on " << velmora::isa_name(isa);
        }
    }
    // short rows: the vector steps and the tails meet at every length
    for (int count = 1; count <= 40; ++count) {
        velmora::jpeg_ycc_row(Isa::scalar, want.data(), y.data() + 77, cb.data() + 300, cr.data(), count);
        for (Isa isa : velmora::available_isas()) {
            std::fill(got.begin(), got.end(), 0);
            velmora::jpeg_ycc_row(isa, got.data(), y.data() + 77, cb.data() + 300, cr.data(), count);
            ASSERT_TRUE(std::equal(want.begin(), want.begin() + 4 * count, got.begin()))
                << count << " pixels on " << velmora::isa_name(isa);
            ASSERT_EQ(0, got[4 * count]) << "wrote past " << count << " pixels";
        }
    }
}

// The 2x2 upsampler: random and extreme rows of every length up to a few
// vector steps, against the scalar statement, nothing written past 2 * w.
TEST(JpegReader, UpsamplerSameOnEverySet) {
    std::mt19937 rng(9);
    for (int w = 1; w <= 80; ++w) {
        for (int kind = 0; kind < 4; ++kind) {
            std::vector<unsigned char> nr(w), fr(w);
            for (int i = 0; i < w; ++i) {
                nr[i] = kind == 0 ? static_cast<unsigned char>(rng()) : kind == 1 ? 255 : kind == 2 ? 0 : (i & 1) * 255;
                fr[i] = kind == 0 ? static_cast<unsigned char>(rng()) : kind == 1 ? 255 : kind == 2 ? 255 : (~i & 1) * 255;
            }
            std::vector<unsigned char> want(2 * w + 32, 0xa5), got(2 * w + 32);
            velmora::jpeg_upsample_hv2(Isa::scalar, want.data(), nr.data(), fr.data(), w);
            for (Isa isa : velmora::available_isas()) {
                std::fill(got.begin(), got.end(), 0xa5);
                velmora::jpeg_upsample_hv2(isa, got.data(), nr.data(), fr.data(), w);
                ASSERT_EQ(want, got) << w << " inputs, kind " << kind << " on " << velmora::isa_name(isa);
            }
        }
    }
}

}  // namespace
