// What an output keeps of its input: the RGB colour profile, the orientation
// and the resolution, byte for byte or as the rules say, nothing else, and
// the very same encoded picture as without them. Inputs are made here: a
// file from the test writers with segments or chunks spliced in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "metadata.h"
#include "piece_source.h"
#include "support.h"
#include "velmora.h"

using namespace vt;
using velmora::Metadata;
using Bytes = std::vector<uint8_t>;

namespace {

void put16(Bytes &b, uint32_t v, bool little = false) {
    if (little) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    else b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
}
void put32(Bytes &b, uint32_t v, bool little = false) {
    if (little) {
        put16(b, v & 0xFFFF, true);
        put16(b, v >> 16, true);
    } else {
        put16(b, v >> 16);
        put16(b, v & 0xFFFF);
    }
}

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;  // value, or offset into the TIFF
};

// A TIFF of IFD0 entries, with `extra` bytes after the IFD (offsets count
// from the TIFF's start: the IFD is at 8, its extra data at 8 + 2 + 12n + 4).
Bytes tiff(bool little, const std::vector<Entry> &entries, const Bytes &extra = {},
           uint32_t next_ifd = 0) {
    Bytes t;
    if (little) t.insert(t.end(), {'I', 'I', 42, 0});
    else t.insert(t.end(), {'M', 'M', 0, 42});
    put32(t, 8, little);
    put16(t, uint32_t(entries.size()), little);
    for (const Entry &e : entries) {
        put16(t, e.tag, little);
        put16(t, e.type, little);
        put32(t, e.count, little);
        if (e.type == 3 && e.count == 1) {
            put16(t, e.value, little);
            put16(t, 0, little);
        } else {
            put32(t, e.value, little);
        }
    }
    put32(t, next_ifd, little);
    t.insert(t.end(), extra.begin(), extra.end());
    return t;
}

uint32_t extra_at(size_t entries) { return uint32_t(8 + 2 + 12 * entries + 4); }

// EXIF with an orientation, a resolution, and what must never be copied: a
// camera make, a GPS position and a thumbnail in IFD1.
Bytes camera_exif(bool little, int orientation, uint32_t dpi) {
    const size_t n = 6;
    const uint32_t base = extra_at(n);
    Bytes extra;
    put32(extra, dpi, little);
    put32(extra, 1, little);
    put32(extra, dpi, little);
    put32(extra, 1, little);
    const char make[] = "SecretCam";  // 10 bytes with the NUL
    extra.insert(extra.end(), make, make + sizeof make);
    // IFD1 with a thumbnail pointer, and a tiny GPS IFD.
    const uint32_t ifd1 = base + uint32_t(extra.size());
    put16(extra, 1, little);
    put16(extra, 0x0201, little), put16(extra, 4, little), put32(extra, 1, little),
        put32(extra, 0, little);
    put32(extra, 0, little);
    const uint32_t gps = base + uint32_t(extra.size());
    put16(extra, 1, little);
    put16(extra, 0x0002, little), put16(extra, 5, little), put32(extra, 1, little),
        put32(extra, base, little);
    put32(extra, 0, little);
    return tiff(little,
                {{0x010F, 2, 10, base + 16},
                 {0x0112, 3, 1, uint32_t(orientation)},
                 {0x011A, 5, 1, base},
                 {0x011B, 5, 1, base + 8},
                 {0x0128, 3, 1, 2},
                 {0x8825, 4, 1, gps}},
                extra, ifd1);
}

// A profile of `size` bytes: its size, class, colour space and signature
// where a profile has them, filler elsewhere.
Bytes profile(size_t size, const char *space, const char *device_class = "mntr",
              const char *signature = "acsp") {
    Bytes p(size);
    for (size_t i = 0; i < size; ++i) p[i] = uint8_t(i * 7 + 3);
    p[0] = uint8_t(size >> 24), p[1] = uint8_t(size >> 16), p[2] = uint8_t(size >> 8),
    p[3] = uint8_t(size);
    std::memcpy(&p[12], device_class, 4);
    std::memcpy(&p[16], space, 4);
    std::memcpy(&p[36], signature, 4);
    return p;
}

Bytes segment(uint8_t marker, const Bytes &body) {
    Bytes s = {0xFF, marker};
    put16(s, uint32_t(body.size() + 2));
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

Bytes app1_exif(const Bytes &t) {
    Bytes body = {'E', 'x', 'i', 'f', 0, 0};
    body.insert(body.end(), t.begin(), t.end());
    return segment(0xE1, body);
}

// The profile as APP2 segments of `part` bytes, numbered by `seq`.
Bytes app2_icc(const Bytes &icc, size_t part, std::vector<int> seq = {}, int total = -1) {
    const size_t parts = (icc.size() + part - 1) / part;
    if (seq.empty())
        for (size_t k = 0; k < parts; ++k) seq.push_back(int(k + 1));
    Bytes out;
    for (size_t k = 0; k < seq.size() && k < parts; ++k) {
        Bytes body = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, uint8_t(seq[k]),
                      uint8_t(total < 0 ? parts : size_t(total))};
        const size_t from = k * part, n = std::min(part, icc.size() - from);
        body.insert(body.end(), icc.begin() + long(from), icc.begin() + long(from + n));
        const Bytes s = segment(0xE2, body);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

Bytes with_jfif_density(Bytes jpg, int units, int x, int y) {
    jpg[13] = uint8_t(units);
    jpg[14] = uint8_t(x >> 8), jpg[15] = uint8_t(x), jpg[16] = uint8_t(y >> 8),
    jpg[17] = uint8_t(y);
    return jpg;
}

uint32_t crc(const Bytes &b, size_t from) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < b.size(); ++i) {
        c ^= b[i];
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

Bytes chunk(const char *type, const Bytes &data) {
    Bytes c;
    put32(c, uint32_t(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    put32(c, crc(c, 4));
    return c;
}

Bytes splice(const Bytes &file, size_t at, const Bytes &extra) {
    Bytes out(file.begin(), file.begin() + long(at));
    out.insert(out.end(), extra.begin(), extra.end());
    out.insert(out.end(), file.begin() + long(at), file.end());
    return out;
}

// The base files: a picture written by the test writers.
Bytes base_file(Sandbox &box, bool jpeg) {
    const std::string path = box.path(jpeg ? "base.jpg" : "base.png");
    if (jpeg) write_jpg(path, gradient(37, 23));
    else write_png(path, gradient(37, 23));
    return read_bytes(path);
}

Bytes iccp(const Bytes &icc, const char *name, uint32_t adler_flip = 0) {
    // Stored deflate blocks inside a zlib stream, written by hand.
    Bytes z = {0x78, 0x01};
    for (size_t at = 0; at < icc.size(); at += 65535) {
        const size_t n = std::min<size_t>(65535, icc.size() - at);
        z.push_back(at + n == icc.size() ? 1 : 0);
        z.insert(z.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), icc.begin() + long(at), icc.begin() + long(at + n));
    }
    uint32_t a = 1, b = 0;
    for (uint8_t v : icc) a = (a + v) % 65521, b = (b + a) % 65521;
    put32(z, ((b << 16) | a) ^ adler_flip);
    Bytes data(name, name + std::strlen(name));
    data.insert(data.end(), {0, 0});
    data.insert(data.end(), z.begin(), z.end());
    return chunk("iCCP", data);
}

// A chunk whose CRC no longer matches.
Bytes bad_crc(Bytes c) {
    c.back() ^= 1;
    return c;
}

Bytes phys(uint32_t x, uint32_t y, uint8_t unit) {
    Bytes d;
    put32(d, x);
    put32(d, y);
    d.push_back(unit);
    return chunk("pHYs", d);
}

// ---- the table ----------------------------------------------------------------

struct Case {
    const char *label;
    bool jpeg_input;
    Bytes extra;  // spliced in after the header
    Bytes (*edit)(Bytes) = nullptr;
    // Expected in the output:
    Bytes icc = {};
    int orientation = 1;
    double dpi = 0;  // 0: no resolution
    std::string png_name = "ICC Profile";  // the iCCP name of a PNG output that keeps a profile
};

double dpi_of(const Metadata &m) {
    if (!m.has_resolution) return 0;
    const double v = double(m.resolution.x_num) / m.resolution.x_den;
    return m.resolution.unit == velmora::UNIT_INCH ? v : v * 2.54;
}

std::vector<Case> cases() {
    const Bytes rgb_small = profile(560, "RGB "), rgb_big = profile(150000, "RGB ");
    std::vector<Case> all;
    for (bool little : {false, true})
        for (int o = 1; o <= 8; ++o)
            all.push_back({little ? "EXIF II, orientation" : "EXIF MM, orientation", true,
                           app1_exif(camera_exif(little, o, 300)), nullptr, {}, o, 300});
    all.push_back({"72 dpi", true, app1_exif(camera_exif(false, 6, 72)), nullptr, {}, 6, 72});
    all.push_back({"small RGB profile", true, app2_icc(rgb_small, 65519), nullptr, rgb_small});
    all.push_back({"RGB profile over 64 KB in three parts", true, app2_icc(rgb_big, 65519),
                   nullptr, rgb_big});
    all.push_back({"the same in small parts", true, app2_icc(rgb_big, 1000), nullptr, rgb_big});
    all.push_back({"grey profile dropped", true, app2_icc(profile(400, "GRAY"), 65519)});
    all.push_back({"CMYK profile dropped", true, app2_icc(profile(400, "CMYK"), 65519)});
    all.push_back({"a part missing: dropped", true, app2_icc(rgb_big, 65519, {1, 3}, 3)});
    all.push_back({"parts out of order: joined in order", true,
                   [&] {
                       Bytes a = app2_icc(rgb_big, 65519);
                       // the segments as 2, 1, 3
                       const size_t s1 = 4 + 65519 + 14, s2 = s1;
                       Bytes out(a.size());
                       auto to = std::copy(a.begin() + long(s1), a.begin() + long(s1 + s2), out.begin());
                       to = std::copy(a.begin(), a.begin() + long(s1), to);
                       std::copy(a.begin() + long(s1 + s2), a.end(), to);
                       return out;
                   }(),
                   nullptr, rgb_big});
    all.push_back({"a part twice: dropped", true, app2_icc(rgb_big, 65519, {1, 1, 2}, 3)});
    all.push_back({"sequence number 0: dropped", true, app2_icc(rgb_small, 65519, {0}, 1)});
    all.push_back({"declared size differs: dropped", true,
                   app2_icc(Bytes(rgb_small.begin(), rgb_small.end() - 1), 65519)});
    all.push_back({"JFIF density in dpi", true, {},
                   [](Bytes b) { return with_jfif_density(b, 1, 300, 300); }, {}, 1, 300});
    all.push_back({"JFIF aspect ratio only: no resolution", true, {},
                   [](Bytes b) { return with_jfif_density(b, 0, 2, 1); }});
    all.push_back({"PNG iCCP and pHYs", false,
                   [&] {
                       Bytes c = iccp(rgb_big, "Display P3");
                       const Bytes p = phys(11811, 11811, 1);
                       c.insert(c.end(), p.begin(), p.end());
                       return c;
                   }(),
                   nullptr, rgb_big, 1, 11811 * 0.0254, "Display P3"});
    all.push_back({"PNG eXIf orientation", false, chunk("eXIf", camera_exif(true, 8, 300)),
                   nullptr, {}, 8, 0});
    all.push_back({"PNG pHYs without a unit: none", false, phys(2, 1, 0)});
    all.push_back({"PNG grey iCCP dropped", false, iccp(profile(300, "GRAY"), "g")});
    // Profiles that do not describe a colour space are not kept.
    all.push_back({"profile without the acsp signature dropped", true,
                   app2_icc(profile(560, "RGB ", "mntr", "xxxx"), 65519)});
    all.push_back({"device-link profile dropped", true,
                   app2_icc(profile(560, "RGB ", "link"), 65519)});
    all.push_back({"abstract profile dropped", true,
                   app2_icc(profile(560, "RGB ", "abst"), 65519)});
    all.push_back({"input-device profile kept", true,
                   app2_icc(profile(560, "RGB ", "scnr"), 65519), nullptr,
                   profile(560, "RGB ", "scnr")});
    // Every part present, one of them twice: dropped, not the later one kept.
    all.push_back({"all parts, one twice: dropped", true,
                   [&] {
                       Bytes a = app2_icc(rgb_big, 65519);
                       const size_t s1 = 4 + 65519 + 14;
                       a.insert(a.end(), a.begin() + long(s1), a.begin() + long(2 * s1));
                       return a;
                   }()});
    all.push_back({"parts disagree on the count: dropped", true,
                   [&] {
                       Bytes a = app2_icc(rgb_big, 65519);
                       a[4 + 65519 + 14 + 4 + 13] = 4;  // the second part says four
                       return a;
                   }()});
    // Of duplicates the first counts, and a value of the wrong type or
    // out of range is absent, never a default in its place.
    all.push_back({"second JFIF density ignored", true,
                   segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 1, 1, 44, 1, 44, 0, 0})});
    all.push_back({"EXIF resolution before JFIF density", true,
                   app1_exif(camera_exif(false, 1, 300)),
                   [](Bytes b) { return with_jfif_density(b, 1, 72, 72); }, {}, 1, 300});
    all.push_back({"two orientation entries: the first", true,
                   app1_exif(tiff(false, {{0x0112, 3, 1, 6}, {0x0112, 3, 1, 3}})), nullptr,
                   {}, 6});
    all.push_back({"ResolutionUnit of the wrong type: no resolution", true,
                   app1_exif(tiff(true,
                                  {{0x011A, 5, 1, extra_at(3)},
                                   {0x011B, 5, 1, extra_at(3) + 8},
                                   {0x0128, 4, 1, 3}},
                                  {118, 0, 0, 0, 1, 0, 0, 0, 118, 0, 0, 0, 1, 0, 0, 0}))});
    all.push_back({"ResolutionUnit 1 (no unit): no resolution", true,
                   app1_exif(tiff(true,
                                  {{0x011A, 5, 1, extra_at(3)},
                                   {0x011B, 5, 1, extra_at(3) + 8},
                                   {0x0128, 3, 1, 1}},
                                  {44, 1, 0, 0, 1, 0, 0, 0, 44, 1, 0, 0, 1, 0, 0, 0}))});
    all.push_back({"two pHYs: the first", false,
                   [] {
                       Bytes c = phys(11811, 11811, 1);
                       const Bytes p = phys(3937, 3937, 1);
                       c.insert(c.end(), p.begin(), p.end());
                       return c;
                   }(),
                   nullptr, {}, 1, 11811 * 0.0254});
    all.push_back({"pHYs over 2^31 - 1: none", false, phys(0x80000000u, 0x80000000u, 1)});
    all.push_back({"iCCP name with a newline: named anew", false, iccp(rgb_small, "P3\nevil"),
                   nullptr, rgb_small});
    all.push_back({"iCCP name with two spaces: named anew", false, iccp(rgb_small, "Display  P3"),
                   nullptr, rgb_small});
    all.push_back({"iCCP name kept", false, iccp(rgb_small, "Display P3"), nullptr, rgb_small, 1,
                   0, "Display P3"});
    // Damaged metadata chunks are absent, and do not stand in for a later one.
    all.push_back({"iCCP with a wrong CRC: none", false, bad_crc(iccp(rgb_small, "P3"))});
    all.push_back({"iCCP whose zlib checksum fails: none", false, iccp(rgb_small, "P3", 1)});
    all.push_back({"pHYs with a wrong CRC: none", false, bad_crc(phys(11811, 11811, 1))});
    all.push_back({"eXIf with a wrong CRC: none", false,
                   bad_crc(chunk("eXIf", camera_exif(true, 8, 300)))});
    all.push_back({"damaged pHYs, then a good one: none", false,
                   [] {
                       Bytes c = bad_crc(phys(11811, 11811, 1));
                       const Bytes p = phys(3937, 3937, 1);
                       c.insert(c.end(), p.begin(), p.end());
                       return c;
                   }()});
    all.push_back({"nothing to keep", true, {}});
    return all;
}

// The EXIF tags of an output (JPEG APP1 or PNG eXIf), IFD0 only; and
// whether IFD0 points to another.
std::vector<uint32_t> exif_tags(const Bytes &out, bool &more) {
    std::vector<uint32_t> tags;
    more = false;
    Bytes t;
    if (out[0] == 0xFF) {
        for (size_t at = 2; at + 4 < out.size() && out[at] == 0xFF && out[at + 1] != 0xDA;) {
            const size_t len = (size_t(out[at + 2]) << 8) | out[at + 3];
            if (out[at + 1] == 0xE1) t.assign(out.begin() + long(at + 10), out.begin() + long(at + 2 + len));
            at += 2 + len;
        }
    } else {
        for (size_t at = 8; at + 12 <= out.size();) {
            const size_t len = (size_t(out[at]) << 24) | (size_t(out[at + 1]) << 16) |
                               (size_t(out[at + 2]) << 8) | out[at + 3];
            if (std::memcmp(&out[at + 4], "eXIf", 4) == 0)
                t.assign(out.begin() + long(at + 8), out.begin() + long(at + 8 + len));
            at += 12 + len;
        }
    }
    if (t.size() < 14) return tags;
    const size_t n = (size_t(t[8]) << 8) | t[9];  // we write big-endian
    for (size_t k = 0; k < n; ++k) tags.push_back((uint32_t(t[10 + 12 * k]) << 8) | t[11 + 12 * k]);
    const size_t next = 10 + 12 * n;
    more = t[next] || t[next + 1] || t[next + 2] || t[next + 3];
    return tags;
}

class Kept : public testing::TestWithParam<Case> {};

TEST_P(Kept, ByTheRulesAndNothingElse) {
    const Case &c = GetParam();
    Sandbox box;
    const Bytes base = base_file(box, c.jpeg_input);
    Bytes in = splice(base, c.jpeg_input ? 20 : 33, c.extra);
    if (c.edit) in = c.edit(in);
    write_bytes(box.path("in.img"), in);
    write_bytes(box.path("plain.img"), base);
    for (const char *ext : {".jpg", ".png"}) {
        SCOPED_TRACE(ext);
        const std::string out = box.path(std::string("out") + ext),
                          plain = box.path(std::string("plain") + ext);
        ASSERT_EQ(velmora_invert(box.path("in.img").c_str(), out.c_str()), 1) << last_error();
        ASSERT_EQ(velmora_invert(box.path("plain.img").c_str(), plain.c_str()), 1);
        const Bytes o = read_bytes(out), p = read_bytes(plain);
        const Metadata m = velmora::read_metadata(o.data(), o.size());
        EXPECT_EQ(m.icc, c.icc);
        if (std::string(ext) == ".png" && !c.icc.empty()) {
            EXPECT_EQ(m.icc_name, c.png_name);
        }
        EXPECT_EQ(m.orientation, c.orientation);
        EXPECT_NEAR(dpi_of(m), c.dpi, 0.01);
        // The output is the plain one with the kept metadata inserted whole
        // after the header: the same picture, the same codes.
        const size_t at = std::string(ext) == ".jpg" ? 20 : 33;
        ASSERT_GE(o.size(), p.size());
        EXPECT_TRUE(std::equal(p.begin(), p.begin() + long(at), o.begin()));
        EXPECT_TRUE(std::equal(p.begin() + long(at), p.end(), o.end() - long(p.size() - at)));
        if (c.icc.empty() && c.orientation == 1 && c.dpi == 0) {
            EXPECT_EQ(o, p);
        }
        // Only orientation and resolution tags; no further IFD.
        bool more = false;
        for (uint32_t tag : exif_tags(o, more))
            EXPECT_TRUE(tag == 0x0112 || tag == 0x011A || tag == 0x011B || tag == 0x0128) << tag;
        EXPECT_FALSE(more);
        const std::string text(o.begin(), o.end());
        EXPECT_EQ(text.find("SecretCam"), std::string::npos);
    }
    // BMP keeps nothing.
    const std::string bmp = box.path("out.bmp"), plain_bmp = box.path("plain.bmp");
    ASSERT_EQ(velmora_invert(box.path("in.img").c_str(), bmp.c_str()), 1);
    ASSERT_EQ(velmora_invert(box.path("plain.img").c_str(), plain_bmp.c_str()), 1);
    EXPECT_EQ(read_bytes(bmp), read_bytes(plain_bmp));
}

INSTANTIATE_TEST_SUITE_P(Inputs, Kept, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case> &info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (const char *p = info.param.label; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// The metadata read in pieces, as from the bytes in memory.
::testing::AssertionResult pieces_as_memory(const Bytes &file) {
    const Metadata want = velmora::read_metadata(file.data(), file.size());
    PieceSource src(file);
    const Metadata got = velmora::read_metadata(src);
    if (got.icc != want.icc || got.icc_name != want.icc_name ||
        got.orientation != want.orientation || got.has_resolution != want.has_resolution ||
        std::memcmp(&got.resolution, &want.resolution, sizeof got.resolution) != 0)
        return ::testing::AssertionFailure() << "metadata from pieces differs";
    // A PNG is never read whole; its image data is never read at all.
    const bool png = file.size() >= 8 && file[0] == 0x89;
    if (png && src.memory() != nullptr) return ::testing::AssertionFailure() << "read whole";
    return ::testing::AssertionSuccess();
}

// ---- the parser on damaged input ------------------------------------------------

TEST(MetadataParser, DamagedStructuresAreAbsentNeverAnError) {
    const Bytes exif = camera_exif(false, 6, 300);
    std::vector<Bytes> damaged;
    // Every truncation of an APP1 segment (declared length kept).
    Bytes jpg = {0xFF, 0xD8};
    const Bytes seg = app1_exif(exif);
    for (size_t cut = 0; cut < seg.size(); cut += 3) {
        Bytes b = jpg;
        b.insert(b.end(), seg.begin(), seg.begin() + long(cut));
        damaged.push_back(b);
    }
    // Offsets and counts pointing outside.
    for (uint32_t bad : {0xFFFFFFFFu, 0x7FFFFFF0u, 60000u, 70u}) {
        damaged.push_back(splice(jpg, 2, app1_exif(tiff(false, {{0x011A, 5, 1, bad}, {0x011B, 5, 1, bad}}))));
        Bytes t = tiff(true, {{0x0112, 3, 1, 6}});
        t[8] = 0xFF, t[9] = 0xFF;  // 65535 entries
        damaged.push_back(splice(jpg, 2, app1_exif(t)));
        Bytes u = tiff(false, {{0x0112, 3, 1, 6}});
        u[4] = uint8_t(bad >> 24), u[5] = uint8_t(bad >> 16), u[6] = uint8_t(bad >> 8),
        u[7] = uint8_t(bad);
        damaged.push_back(splice(jpg, 2, app1_exif(u)));
    }
    // A segment length running past the end, a PNG chunk likewise.
    damaged.push_back({0xFF, 0xD8, 0xFF, 0xE2, 0xFF, 0xF0, 'I', 'C', 'C'});
    damaged.push_back({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x7F, 0xFF, 0xFF, 0xFF,
                       'i', 'C', 'C', 'P', 'x', 0});
    for (const Bytes &b : damaged) {
        EXPECT_TRUE(pieces_as_memory(b));
        const Metadata m = velmora::read_metadata(b.data(), b.size());
        EXPECT_TRUE(m.icc.empty());
        EXPECT_FALSE(m.has_resolution);
        EXPECT_TRUE(m.orientation == 1 || m.orientation == 6);
    }
    // Orientation out of 1..8 is none.
    const Bytes nine = splice(jpg, 2, app1_exif(tiff(false, {{0x0112, 3, 1, 9}})));
    EXPECT_EQ(velmora::read_metadata(nine.data(), nine.size()).orientation, 1);
}

// ---- read in pieces ------------------------------------------------------------------

TEST_P(Kept, ReadInPiecesAsFromMemory) {
    const Case &c = GetParam();
    Sandbox box;
    Bytes in = splice(base_file(box, c.jpeg_input), c.jpeg_input ? 20 : 33, c.extra);
    if (c.edit) in = c.edit(in);
    EXPECT_TRUE(pieces_as_memory(in));
    // Cut anywhere: what is whole still counts, the rest is absent.
    for (size_t cut = 0; cut < in.size(); cut += 1 + in.size() / 97)
        ASSERT_TRUE(pieces_as_memory(Bytes(in.begin(), in.begin() + long(cut)))) << "cut at " << cut;
}

TEST(MetadataParser, ChunksAfterTheImageDataReadInPieces) {
    // Chunks after the image data count too; the first of a kind wins, a
    // damaged one stands in for no later one; nothing after IEND.
    Sandbox box;
    const Bytes png = base_file(box, false);
    const Bytes exif = camera_exif(true, 6, 300);
    const Bytes late = splice(png, png.size() - 12, chunk("eXIf", exif));
    EXPECT_EQ(velmora::read_metadata(late.data(), late.size()).orientation, 6);
    EXPECT_TRUE(pieces_as_memory(late));
    EXPECT_TRUE(pieces_as_memory(splice(late, 33, bad_crc(chunk("eXIf", camera_exif(false, 3, 72))))));
    EXPECT_TRUE(pieces_as_memory(splice(png, png.size() - 12, phys(3780, 3780, 1))));
    Bytes after_end = png;
    const Bytes p = phys(3780, 3780, 1);
    after_end.insert(after_end.end(), p.begin(), p.end());
    EXPECT_TRUE(pieces_as_memory(after_end));
    EXPECT_TRUE(pieces_as_memory(splice(png, png.size() - 12, iccp(profile(560, "RGB "), "late"))));
}

TEST(MetadataParser, PngProfileThatInflatesBeyondTheLimitIsDropped) {
    // A valid zlib stream of zeros whose inflated size exceeds the limit.
    Bytes icc = profile(velmora::kMaxProfile + 1000, "RGB ");
    const Bytes c = iccp(icc, "big");
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.insert(png.end(), c.begin(), c.end());
    EXPECT_TRUE(velmora::read_metadata(png.data(), png.size()).icc.empty());
}

}  // namespace
