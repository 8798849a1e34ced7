#include "text.h"

#include <cstdio>

namespace velmora_cli {

Character next_character(const std::string &text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return {long(lead), 1};
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5) length = 0;
    if (length == 0 || at + length > text.size()) return {-1, 1};
    long code = long(lead & (0xFF >> (length + 1)));
    for (size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return {-1, 1};
        code = (code << 6) | long(byte(at + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not valid.
    static const long kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return {-1, 1};
    return {code, length};
}

std::string shown_name(const std::string &text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const Character c = next_character(text, at);
        char escape[8];
        if (c.code == '\n') out += "\\n";
        else if (c.code == '\t') out += "\\t";
        else if (c.code == '\r') out += "\\r";
        else if (c.code < 0x20 || c.code == 0x7F || (c.code >= 0x80 && c.code < 0xA0)) {
            // The bytes themselves, so that two names stay apart.
            for (size_t k = 0; k < c.bytes; ++k) {
                std::snprintf(escape, sizeof escape, "\\x%02X",
                              unsigned(static_cast<unsigned char>(text[at + k])));
                out += escape;
            }
        } else {
            out.append(text, at, c.bytes);
        }
        at += c.bytes;
    }
    return out;
}

int columns_of(long code) {
    struct Range {
        long first, last;
    };
    // Marks drawn on the character before them, and characters of no width.
    static const Range kZero[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
        {0x064B, 0x065F}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E},
        {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF},
        {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
        {0xE0100, 0xE01EF}};
    // East Asian wide and full-width characters, and emoji.
    static const Range kWide[] = {
        {0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC},
        {0x25FD, 0x25FE}, {0x2614, 0x2615}, {0x2648, 0x2653}, {0x26AA, 0x26AB},
        {0x26BD, 0x26BE}, {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA},
        {0x26F2, 0x26F5}, {0x26FA, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B},
        {0x2728, 0x2728}, {0x274C, 0x274C}, {0x2753, 0x2755}, {0x2757, 0x2757},
        {0x2795, 0x2797}, {0x27B0, 0x27B0}, {0x27BF, 0x27BF}, {0x2B1B, 0x2B1C},
        {0x2B50, 0x2B50}, {0x2B55, 0x2B55}, {0x2E80, 0x3029}, {0x302E, 0x303E},
        {0x3041, 0x3096}, {0x309B, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},
        {0xA000, 0xA4CF}, {0xA960, 0xA97F}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
        {0xFE10, 0xFE19}, {0xFE30, 0xFE6F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6},
        {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
        {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
        {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF},
        {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    for (const Range &r : kZero)
        if (code >= r.first && code <= r.last) return 0;
    for (const Range &r : kWide)
        if (code >= r.first && code <= r.last) return 2;
    return 1;
}

size_t columns(const std::string &text) {
    size_t total = 0;
    for (size_t at = 0; at < text.size();) {
        const Character c = next_character(text, at);
        total += size_t(c.code < 0 ? 1 : columns_of(c.code));
        at += c.bytes;
    }
    return total;
}

std::string cut_to_columns(const std::string &text, size_t width) {
    size_t used = 0, at = 0;
    while (at < text.size()) {
        const Character c = next_character(text, at);
        const size_t w = size_t(c.code < 0 ? 1 : columns_of(c.code));
        if (used + w > width) break;
        used += w;
        at += c.bytes;
    }
    return text.substr(0, at);
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const Character c = next_character(text, at);
        if (c.code < 0) out += "\\ufffd";
        else if (c.code == '"') out += "\\\"";
        else if (c.code == '\\') out += "\\\\";
        else if (c.code == '\n') out += "\\n";
        else if (c.code == '\t') out += "\\t";
        else if (c.code < 0x20 || c.code == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c.code));
            out += escape;
        } else {
            out.append(text, at, c.bytes);
        }
        at += c.bytes;
    }
    return out + "\"";
}

}  // namespace velmora_cli
