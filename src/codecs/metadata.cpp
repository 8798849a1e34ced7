// The metadata kept from input to output: a bounded reader of JPEG segments,
// PNG chunks and EXIF's TIFF structure, and the writers of the few segments
// and chunks that carry them back. Every read is checked against the end of
// its buffer; a field that fails a check is simply not kept.
#include "metadata.h"

#include <algorithm>
#include <cstring>

#include "checksums.h"
#include "formats.h"
#include "png_container.h"
#include "zlib.h"

namespace velmora {

namespace {

// ---- bounded reads ----------------------------------------------------------

struct Bytes {
    const unsigned char *p;
    size_t n;
    bool has(size_t at, size_t len) const { return at <= n && len <= n - at; }
    uint32_t be16(size_t at) const { return (uint32_t(p[at]) << 8) | p[at + 1]; }
    uint32_t be32(size_t at) const { return (be16(at) << 16) | be16(at + 2); }
    bool starts(size_t at, const char *text, size_t len) const {
        return has(at, len) && std::memcmp(p + at, text, len) == 0;
    }
};

// A TIFF structure (EXIF's body) of either byte order.
struct Tiff {
    Bytes b;
    bool little;
    uint32_t u16(size_t at) const {
        return little ? uint32_t(b.p[at]) | (uint32_t(b.p[at + 1]) << 8) : b.be16(at);
    }
    uint32_t u32(size_t at) const {
        return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    }
};

constexpr uint16_t kTagOrientation = 0x0112, kTagXResolution = 0x011A,
                   kTagYResolution = 0x011B, kTagResolutionUnit = 0x0128;
constexpr uint16_t kTypeShort = 3, kTypeRational = 5;

bool read_rational(const Tiff &t, size_t entry, uint32_t &num, uint32_t &den) {
    if (t.u16(entry + 2) != kTypeRational || t.u32(entry + 4) != 1) return false;
    const uint32_t at = t.u32(entry + 8);
    if (!t.b.has(at, 8)) return false;
    num = t.u32(at);
    den = t.u32(at + 4);
    return num != 0 && den != 0;
}

// Orientation and resolution from IFD0 of an EXIF TIFF.
void read_exif(Bytes b, Metadata &meta) {
    if (!b.has(0, 8)) return;
    Tiff t{b, false};
    if (b.starts(0, "II*\0", 4)) t.little = true;
    else if (!b.starts(0, "MM\0*", 4)) return;
    const uint32_t ifd = t.u32(4);
    if (!b.has(ifd, 2)) return;
    const uint32_t count = t.u16(ifd);
    if (!b.has(ifd + 2, size_t(count) * 12)) return;
    Resolution res;
    bool x = false, y = false;
    // Of an entry given twice, the first counts, as of a chunk or segment.
    bool seen_orientation = false, seen_x = false, seen_y = false, seen_unit = false;
    for (uint32_t k = 0; k < count; ++k) {
        const size_t e = ifd + 2 + size_t(k) * 12;
        const uint32_t tag = t.u16(e);
        const bool one_short = t.u16(e + 2) == kTypeShort && t.u32(e + 4) == 1;
        if (tag == kTagOrientation && !seen_orientation) {
            seen_orientation = true;
            const uint32_t v = t.u16(e + 8);
            if (one_short && v >= 1 && v <= 8) meta.orientation = int(v);
        } else if (tag == kTagXResolution && !seen_x) {
            seen_x = true;
            x = read_rational(t, e, res.x_num, res.x_den);
        } else if (tag == kTagYResolution && !seen_y) {
            seen_y = true;
            y = read_rational(t, e, res.y_num, res.y_den);
        } else if (tag == kTagResolutionUnit && !seen_unit) {
            seen_unit = true;
            // 1 names no unit (an aspect ratio only): not a resolution. A
            // unit of the wrong type says nothing: no resolution either,
            // never the default inch in its place.
            const uint32_t v = one_short ? t.u16(e + 8) : 0;
            res.unit = v == 2 || v == 3 ? int(v) : 0;
        }
    }
    if (x && y && res.unit != 0) {
        meta.has_resolution = true;
        meta.resolution = res;
    }
}

// A whole profile that describes RGB pixels: its declared size, the 'acsp'
// signature, an RGB colour space and a class that describes a colour space
// (input, display, output or plain colour space; never a device link, an
// abstract or a named-colour profile). Anything else is not ours to keep.
bool usable_profile(const std::vector<unsigned char> &icc) {
    if (icc.size() < 128 || icc.size() > kMaxProfile) return false;
    const Bytes b{icc.data(), icc.size()};
    const bool colour_space_class = b.starts(12, "scnr", 4) || b.starts(12, "mntr", 4) ||
                                    b.starts(12, "prtr", 4) || b.starts(12, "spac", 4);
    return b.be32(0) == icc.size() && b.starts(36, "acsp", 4) && colour_space_class &&
           b.starts(16, "RGB ", 4);
}

// ---- JPEG -------------------------------------------------------------------

void read_jpeg(Bytes b, Metadata &meta) {
    std::vector<Bytes> icc_parts;  // by sequence number - 1
    int icc_total = -1;
    bool icc_broken = false, exif_seen = false, jfif_seen = false;
    Resolution jfif;
    bool has_jfif = false;
    size_t at = 2;
    while (b.has(at, 4) && b.p[at] == 0xFF) {
        const unsigned marker = b.p[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break;  // end of image, start of scan
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const uint32_t len = b.be16(at + 2);
        if (len < 2 || !b.has(at + 2, len)) break;
        const Bytes seg{b.p + at + 4, len - 2};
        if (marker == 0xE0 && !jfif_seen && seg.starts(0, "JFIF\0", 5) && seg.has(7, 5)) {
            jfif_seen = true;
            const unsigned units = seg.p[7];
            const uint32_t xd = seg.be16(8), yd = seg.be16(10);
            if ((units == 1 || units == 2) && xd && yd) {
                has_jfif = true;
                jfif.x_num = xd;
                jfif.y_num = yd;
                jfif.unit = units == 1 ? UNIT_INCH : UNIT_CENTIMETRE;
            }
        } else if (marker == 0xE1 && !exif_seen && seg.starts(0, "Exif\0\0", 6)) {
            exif_seen = true;
            read_exif(Bytes{seg.p + 6, seg.n - 6}, meta);
        } else if (marker == 0xE2 && seg.starts(0, "ICC_PROFILE\0", 12) && seg.has(12, 2)) {
            const int seq = seg.p[12], total = seg.p[13];
            if (icc_total < 0) {
                icc_total = total;
                icc_parts.assign(size_t(total), Bytes{nullptr, 0});
            }
            if (seq < 1 || seq > icc_total || total != icc_total || icc_parts[seq - 1].p)
                icc_broken = true;
            else
                icc_parts[seq - 1] = Bytes{seg.p + 14, seg.n - 14};
        }
        at += 2 + len;
    }
    if (!meta.has_resolution && has_jfif) {
        meta.has_resolution = true;
        meta.resolution = jfif;
    }
    if (icc_total <= 0 || icc_broken) return;
    std::vector<unsigned char> icc;
    for (const Bytes &part : icc_parts) {
        if (!part.p) return;  // a part is missing
        if (icc.size() + part.n > kMaxProfile) return;
        icc.insert(icc.end(), part.p, part.p + part.n);
    }
    if (usable_profile(icc)) meta.icc.swap(icc);
}

// ---- PNG --------------------------------------------------------------------

// Whether the zlib stream `z` ends in the Adler-32 of what it inflated to:
// the inflater does not check it, and a damaged profile must not travel.
bool ends_in_adler32(Bytes z, const std::vector<unsigned char> &inflated) {
    if (z.n < 6) return false;
    Adler32 adler;
    adler.update(inflated.data(), inflated.size());
    return z.be32(z.n - 4) == adler.value();
}

// A PNG keyword: 1..79 printable Latin-1 bytes, no space at either end and
// no two in a row. A profile name that is not one would make the output
// invalid; the writer then names the profile "ICC Profile".
bool is_keyword(const unsigned char *p, size_t n) {
    if (n < 1 || n > 79 || p[0] == ' ' || p[n - 1] == ' ') return false;
    for (size_t i = 0; i < n; ++i) {
        const unsigned c = p[i];
        if (!((c >= 32 && c <= 126) || c >= 161)) return false;
        if (c == ' ' && i > 0 && p[i - 1] == ' ') return false;
    }
    return true;
}

// The chunks a PNG's metadata comes from: the first of each kind counts.
struct PngKept {
    bool exif_seen = false, icc_seen = false, phys_seen = false;

    bool wants(const unsigned char *type) const {
        return (!icc_seen && std::memcmp(type, "iCCP", 4) == 0) ||
               (!exif_seen && std::memcmp(type, "eXIf", 4) == 0) ||
               (!phys_seen && std::memcmp(type, "pHYs", 4) == 0);
    }

    // `chunk` points at the length field of a whole chunk of `len` bytes of data.
    void take(const unsigned char *chunk, uint32_t len, Metadata &meta) {
        const Bytes data{chunk + 8, len};
        const char *type = reinterpret_cast<const char *>(chunk + 4);
        // A damaged chunk is absent, as any malformed metadata is; it does
        // not stand in for a later one either.
        const bool intact = png_chunk_crc_ok(chunk, len);
        if (std::memcmp(type, "iCCP", 4) == 0 && !icc_seen) {
            icc_seen = true;
            size_t name_end = 0;
            while (name_end < data.n && name_end < 80 && data.p[name_end] != 0) ++name_end;
            if (intact && name_end >= 1 && name_end < 80 && data.has(name_end, 2) &&
                data.p[name_end + 1] == 0) {
                const Bytes z{data.p + name_end + 2, data.n - name_end - 2};
                std::vector<unsigned char> icc;
                if (zlib_inflate(z.p, z.n, kMaxProfile, icc) && ends_in_adler32(z, icc) &&
                    usable_profile(icc)) {
                    meta.icc.swap(icc);
                    if (is_keyword(data.p, name_end))
                        meta.icc_name.assign(reinterpret_cast<const char *>(data.p), name_end);
                }
            }
        } else if (std::memcmp(type, "eXIf", 4) == 0 && !exif_seen) {
            exif_seen = true;
            Metadata exif;
            if (intact) read_exif(data, exif);
            meta.orientation = exif.orientation;  // PNG's resolution is pHYs alone
        } else if (std::memcmp(type, "pHYs", 4) == 0 && !phys_seen) {
            phys_seen = true;
            // PNG's four-byte numbers stop at 2^31 - 1.
            const uint32_t x = len == 9 ? data.be32(0) : 0, y = len == 9 ? data.be32(4) : 0;
            if (intact && len == 9 && data.p[8] == 1 && x && y && x <= 0x7FFFFFFFu &&
                y <= 0x7FFFFFFFu) {
                // Pixels per metre, kept exactly as pixels per centimetre.
                meta.has_resolution = true;
                meta.resolution = Resolution{x, 100, y, 100, UNIT_CENTIMETRE};
            }
        }
    }
};

void read_png(Bytes b, Metadata &meta) {
    size_t at = 8;
    PngKept kept;
    while (b.has(at, 12)) {
        const uint32_t len = b.be32(at);
        if (!b.has(at + 8, size_t(len) + 4)) break;
        if (std::memcmp(b.p + at + 4, "IEND", 4) == 0) break;
        if (kept.wants(b.p + at + 4)) kept.take(b.p + at, len, meta);
        at += 12 + size_t(len);
    }
}

// The same walk read in pieces: the chunk headers, and only the chunks kept.
void read_png(InputSource &src, Metadata &meta) {
    const uint64_t size = src.size();
    uint64_t at = 8;
    PngKept kept;
    std::vector<unsigned char> chunk;
    unsigned char head[8];
    while (at <= size && size - at >= 12) {
        if (!src.read_at(at, head, 8)) return;
        const uint32_t len = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 |
                             uint32_t(head[2]) << 8 | head[3];
        if (uint64_t(len) + 4 > size - at - 8) break;
        if (std::memcmp(head + 4, "IEND", 4) == 0) break;
        if (kept.wants(head + 4)) {
            chunk.resize(size_t(len) + 12);
            if (!src.read_at(at, chunk.data(), chunk.size())) return;
            kept.take(chunk.data(), len, meta);
        }
        at += 12 + uint64_t(len);
    }
}

// ---- writing ----------------------------------------------------------------

void put16(std::vector<unsigned char> &o, uint32_t v) {
    o.push_back(static_cast<unsigned char>(v >> 8));
    o.push_back(static_cast<unsigned char>(v));
}
void put32(std::vector<unsigned char> &o, uint32_t v) {
    put16(o, v >> 16);
    put16(o, v & 0xFFFF);
}

// A big-endian TIFF with IFD0 only: orientation (2..8) and, if asked, the
// resolution. Empty when it would hold nothing.
std::vector<unsigned char> minimal_tiff(const Metadata &meta, bool with_resolution) {
    const bool orient = meta.orientation >= 2 && meta.orientation <= 8;
    const bool res = with_resolution && meta.has_resolution;
    const uint32_t count = (orient ? 1 : 0) + (res ? 3 : 0);
    std::vector<unsigned char> t;
    if (count == 0) return t;
    t.insert(t.end(), {'M', 'M', 0, 42});
    put32(t, 8);
    put16(t, count);
    const uint32_t values = 8 + 2 + count * 12 + 4;  // the rationals follow the IFD
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        put16(t, tag);
        put16(t, type);
        put32(t, 1);
        put32(t, value);
    };
    // Entries in increasing tag order; a SHORT sits in the first two bytes.
    if (orient) entry(kTagOrientation, kTypeShort, uint32_t(meta.orientation) << 16);
    if (res) {
        entry(kTagXResolution, kTypeRational, values);
        entry(kTagYResolution, kTypeRational, values + 8);
        entry(kTagResolutionUnit, kTypeShort, uint32_t(meta.resolution.unit) << 16);
    }
    put32(t, 0);  // no next IFD
    if (res) {
        put32(t, meta.resolution.x_num);
        put32(t, meta.resolution.x_den);
        put32(t, meta.resolution.y_num);
        put32(t, meta.resolution.y_den);
    }
    return t;
}

// Pixels per metre from a resolution, rounded half up.
uint32_t per_metre(uint32_t num, uint32_t den, int unit) {
    const uint64_t n = uint64_t(num) * (unit == UNIT_INCH ? 10000u : 100u);
    const uint64_t d = uint64_t(den) * (unit == UNIT_INCH ? 254u : 1u);
    const uint64_t v = (2 * n + d) / (2 * d);
    return v < 1 ? 1 : v > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(v);
}

}  // namespace

Metadata read_metadata(const unsigned char *bytes, size_t size) {
    Metadata meta;
    const Bytes b{bytes, size};
    // The pipeline's own sniffing: a file it does not decode as JPEG or
    // PNG gives no metadata either.
    const ImageFormat format = detect_format(bytes, size);
    if (format == FORMAT_JPEG) read_jpeg(b, meta);
    else if (format == FORMAT_PNG) read_png(b, meta);
    return meta;
}

Metadata read_metadata(InputSource &src) {
    Metadata meta;
    if (const unsigned char *bytes = src.memory())
        return read_metadata(bytes, static_cast<size_t>(src.size()));
    unsigned char head[8] = {0};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(src.size(), sizeof head));
    if (!src.read_at(0, head, n)) return meta;
    const ImageFormat format = detect_format(head, src.size());
    if (format == FORMAT_PNG) {
        read_png(src, meta);
    } else if (format == FORMAT_JPEG) {
        // The JPEG reader needs the file whole anyway: read once, for both.
        if (const unsigned char *bytes = src.whole())
            read_jpeg(Bytes{bytes, static_cast<size_t>(src.size())}, meta);
    }
    return meta;
}

std::vector<unsigned char> jpeg_metadata_segments(const Metadata &meta) {
    std::vector<unsigned char> out;
    const std::vector<unsigned char> tiff = minimal_tiff(meta, true);
    if (!tiff.empty()) {
        out.insert(out.end(), {0xFF, 0xE1});
        put16(out, static_cast<uint32_t>(2 + 6 + tiff.size()));
        out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
        out.insert(out.end(), tiff.begin(), tiff.end());
    }
    // 65535 bytes of segment, less its length field and the 14-byte header.
    constexpr size_t kPart = 65519;
    const size_t parts = (meta.icc.size() + kPart - 1) / kPart;
    for (size_t k = 0; k < parts && parts <= 255; ++k) {
        const size_t from = k * kPart, n = std::min(kPart, meta.icc.size() - from);
        out.insert(out.end(), {0xFF, 0xE2});
        put16(out, static_cast<uint32_t>(2 + 14 + n));
        const char head[] = "ICC_PROFILE";
        out.insert(out.end(), head, head + 12);  // with its NUL
        out.push_back(static_cast<unsigned char>(k + 1));
        out.push_back(static_cast<unsigned char>(parts));
        out.insert(out.end(), meta.icc.begin() + long(from), meta.icc.begin() + long(from + n));
    }
    return out;
}

std::vector<unsigned char> png_metadata_chunks(const Metadata &meta) {
    std::vector<unsigned char> out;
    if (!meta.icc.empty()) {
        std::vector<unsigned char> data;
        const std::string name = meta.icc_name.empty() ? "ICC Profile" : meta.icc_name;
        data.insert(data.end(), name.begin(), name.end());
        data.push_back(0);
        data.push_back(0);  // deflate
        std::vector<unsigned char> packed;
        if (zlib_deflate(meta.icc.data(), meta.icc.size(), packed)) {
            data.insert(data.end(), packed.begin(), packed.end());
            png_chunk(out, "iCCP", data.data(), data.size());
        }
    }
    if (meta.has_resolution) {
        const Resolution &r = meta.resolution;
        std::vector<unsigned char> data;
        put32(data, per_metre(r.x_num, r.x_den, r.unit));
        put32(data, per_metre(r.y_num, r.y_den, r.unit));
        data.push_back(1);  // metre
        png_chunk(out, "pHYs", data.data(), data.size());
    }
    const std::vector<unsigned char> tiff = minimal_tiff(meta, false);
    if (!tiff.empty()) png_chunk(out, "eXIf", tiff.data(), tiff.size());
    return out;
}

}  // namespace velmora
