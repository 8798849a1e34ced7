// The three file formats: how a file's first bytes name one, how an output
// path's extension chooses one, and what JPEG can hold. Shared by the library
// and the command, so that both decide alike. Internal; header-only.
#ifndef VELMORA_FORMATS_H
#define VELMORA_FORMATS_H

#include <cstdint>
#include <cstring>

namespace velmora {

enum ImageFormat { FORMAT_UNKNOWN = 0, FORMAT_JPEG = 1, FORMAT_PNG = 2, FORMAT_BMP = 3 };

// JPEG stores each side in 16 bits.
constexpr int kMaxJpegSide = 65535;

// JPEG, PNG or BMP from the first bytes; FORMAT_UNKNOWN for anything else.
inline ImageFormat detect_format(const unsigned char *b, uint64_t n) {
    if (n <= 1) return FORMAT_UNKNOWN;
    if (b[0] == 0xFF) return b[1] == 0xD8 ? FORMAT_JPEG : FORMAT_UNKNOWN;
    if (n >= 8 && b[0] == 0x89)
        return (b[1] == 0x50 && b[2] == 0x4E && b[3] == 0x47) ? FORMAT_PNG : FORMAT_UNKNOWN;
    if (b[0] == 0x42 && b[1] == 0x4D) return FORMAT_BMP;
    return FORMAT_UNKNOWN;
}

namespace formats_detail {
// ASCII-only case folding: the locale must not change which format is chosen.
inline bool ext_equals(const char *ext, const char *lower) {
    for (; *ext && *lower; ++ext, ++lower) {
        char c = *ext;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *lower) return false;
    }
    return *ext == '\0' && *lower == '\0';
}
}  // namespace formats_detail

// The format an extension names ("jpg", "JPEG", "png", "bmp"; no dot), or
// FORMAT_UNKNOWN.
inline ImageFormat format_from_extension(const char *ext) {
    using formats_detail::ext_equals;
    if (ext_equals(ext, "jpg") || ext_equals(ext, "jpeg")) return FORMAT_JPEG;
    if (ext_equals(ext, "png")) return FORMAT_PNG;
    if (ext_equals(ext, "bmp")) return FORMAT_BMP;
    return FORMAT_UNKNOWN;
}

// The format the path's extension names, else `fallback`.
inline ImageFormat format_from_path(const char *path, ImageFormat fallback) {
    const char *dot = std::strrchr(path, '.');
    if (!dot || dot[1] == '\0') return fallback;
    const ImageFormat named = format_from_extension(dot + 1);
    return named == FORMAT_UNKNOWN ? fallback : named;
}

// "JPEG", "PNG", "BMP", or "" for FORMAT_UNKNOWN.
inline const char *format_name(ImageFormat format) {
    switch (format) {
    case FORMAT_JPEG: return "JPEG";
    case FORMAT_PNG: return "PNG";
    case FORMAT_BMP: return "BMP";
    default: return "";
    }
}

}  // namespace velmora

#endif
