#include "files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <cstdlib>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#define VELMORA_ACCESS(p, m) _waccess(fs_path(p).c_str(), m)
#define VELMORA_W_OK 2
#else
#include <sys/statvfs.h>
#include <unistd.h>
#define VELMORA_ACCESS(p, m) access(p, m)
#define VELMORA_W_OK W_OK
#endif

namespace velmora_cli {

namespace fs = std::filesystem;

#if defined(_WIN32)
namespace {

// Past MAX_PATH characters (less 12 for a folder: room for a file's 8.3
// name) the file calls fail, unless the path is absolute and starts with
// \\?\ (\\?\UNC\ for \\server\share), which lifts the limit; the library's
// own file calls do the same. Measured on the absolute path, which is what
// the calls meet.
constexpr size_t kLongPath = MAX_PATH - 12;

fs::path extended(const fs::path &path) {
    const std::wstring &text = path.native();
    if (text.compare(0, 4, L"\\\\?\\") == 0) return path;
    const DWORD n = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(text.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n) return path;
    full.resize(got);
    if (full.size() < kLongPath) return path;
    // GetFullPathNameW gives backslashes and no . or .., as the prefix needs.
    if (full.compare(0, 2, L"\\\\") == 0) return fs::path(L"\\\\?\\UNC" + full.substr(1));
    return fs::path(L"\\\\?\\" + full);
}

}  // namespace
#endif

fs::path fs_path(const std::string &utf8) {
#if defined(_WIN32)
    const fs::path path = fs::u8path(utf8);
    return extended(path);
#else
    return fs::path(utf8);
#endif
}

std::string utf8_of(const fs::path &path) {
#if defined(_WIN32)
    // Messages name the path as it was typed, without the long-path prefix.
    std::string text = path.u8string();
    if (text.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + text.substr(7);
    if (text.compare(0, 4, "\\\\?\\") == 0) return text.substr(4);
    return text;
#else
    return path.string();
#endif
}

namespace {

std::vector<unsigned char> head(const std::string &path, size_t n) {
    std::ifstream in(fs_path(path), std::ios::binary);
    std::vector<unsigned char> bytes(n);
    in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(n));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

uint32_t be16(const std::vector<unsigned char> &b, size_t at) {
    return (uint32_t(b[at]) << 8) | b[at + 1];
}

// Width and height from the header: PNG's IHDR, BMP's info header, JPEG's
// first frame header. False when the file does not say.
bool picture_size(const std::string &path, uint64_t &width, uint64_t &height) {
    const velmora::ImageFormat format = sniff_format(path);
    if (format == velmora::FORMAT_PNG || format == velmora::FORMAT_BMP) {
        const std::vector<unsigned char> b = head(path, 26);
        if (b.size() < 26) return false;
        if (format == velmora::FORMAT_PNG) {
            width = (be16(b, 16) << 16) | be16(b, 18);
            height = (be16(b, 20) << 16) | be16(b, 22);
        } else {
            const auto le32 = [&](size_t at) {
                return int32_t(uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) |
                               (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24));
            };
            width = uint64_t(std::abs(int64_t(le32(18))));
            height = uint64_t(std::abs(int64_t(le32(22))));
        }
        return true;
    }
    if (format != velmora::FORMAT_JPEG) return false;
    const std::vector<unsigned char> b = head(path, 1 << 20);
    for (size_t at = 2; at + 9 < b.size() && b[at] == 0xFF;) {
        const unsigned marker = b[at + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            height = be16(b, at + 5);
            width = be16(b, at + 7);
            return true;
        }
        at += 2 + be16(b, at + 2);
    }
    return false;
}

std::string folder_of(const std::string &path) {
    const fs::path parent = fs_path(path).parent_path();
    return parent.empty() ? std::string(".") : utf8_of(parent);
}

// The format the library writes `output` in: its extension's, else the input's.
velmora::ImageFormat written_format(const std::string &input, const std::string &output) {
    const velmora::ImageFormat named =
        velmora::format_from_path(output.c_str(), velmora::FORMAT_UNKNOWN);
    return named != velmora::FORMAT_UNKNOWN ? named : sniff_format(input);
}

// Why the input cannot be written as JPEG, or "" when it can.
std::string jpeg_too_large(const std::string &input) {
    uint64_t width = 0, height = 0;
    if (!picture_size(input, width, height) ||
        (width <= uint64_t(velmora::kMaxJpegSide) && height <= uint64_t(velmora::kMaxJpegSide)))
        return "";
    const std::string side = std::to_string(velmora::kMaxJpegSide);
    return "JPEG stores at most " + side + " pixels a side and the picture is " +
           std::to_string(width) + " x " + std::to_string(height) + "; write PNG or BMP";
}

}  // namespace

std::string file_name(const std::string &path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

velmora::ImageFormat sniff_format(const std::string &path) {
    const std::vector<unsigned char> b = head(path, 8);
    return velmora::detect_format(b.data(), b.size());
}

bool errno_says_full() {
#if defined(EDQUOT)
    if (errno == EDQUOT) return true;
#endif
    return errno == ENOSPC;
}

std::string write_failure_hint(const std::string &input, const std::string &output,
                               bool out_of_space) {
    std::error_code ec;
    if (fs::is_directory(fs_path(output), ec)) return output + " is a folder";
    const std::string folder = folder_of(output);
    if (!fs::exists(fs_path(folder), ec)) return "the folder " + folder + " does not exist";
    if (!fs::is_directory(fs_path(folder), ec)) return folder + " is not a folder";
    if (written_format(input, output) == velmora::FORMAT_JPEG) {
        const std::string cause = jpeg_too_large(input);
        if (!cause.empty()) return cause;
    }
    if (VELMORA_ACCESS(folder.c_str(), VELMORA_W_OK) != 0 &&
        (!fs::exists(fs_path(output), ec) || VELMORA_ACCESS(output.c_str(), VELMORA_W_OK) != 0))
        return "the folder " + folder + " is not writable";
    if (out_of_space) return "no space left on the device that holds " + folder;
#if !defined(_WIN32)
    struct statvfs st;
    if (statvfs(folder.c_str(), &st) == 0 && st.f_bavail == 0)
        return "no space left on the device that holds " + folder;
#endif
    return "";
}

std::string read_failure_hint(const std::string &input) {
    std::error_code ec;
    const fs::path path = fs_path(input);
    if (!fs::exists(path, ec)) return input + " does not exist";
    if (fs::is_directory(path, ec)) return input + " is a folder";
    if (!std::ifstream(path, std::ios::binary)) return "no permission to read " + input;
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == 0 && !ec)
        return input + " is empty";
    return "";
}

bool make_folder(const std::string &folder, std::string &error) {
    const fs::path path = fs_path(folder);
    std::error_code ec;
    if (fs::is_directory(path, ec)) return true;
    fs::create_directories(path, ec);
    if (!ec) return true;
    // A file where a folder of the path should be: said as such, whichever
    // form (one file or a batch's -o) met it.
    for (fs::path up = path; !up.empty(); up = up.parent_path()) {
        std::error_code exists;
        if (!fs::exists(up, exists)) {
            if (up == up.parent_path()) break;
            continue;
        }
        if (!fs::is_directory(up, exists)) {
            error = "cannot create the folder " + folder + ": " + utf8_of(up) +
                    " is a file, not a folder";
            return false;
        }
        break;
    }
    error = "cannot create the folder " + folder + ": " + ec.message();
    return false;
}

bool make_output_folder(const std::string &output, std::string &error) {
    const fs::path parent = fs_path(output).parent_path();
    return parent.empty() || make_folder(utf8_of(parent), error);
}

bool make_temp_folder(std::string &folder, std::string &error) {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        error = "no folder for temporary files: " + ec.message();
        return false;
    }
#if defined(_WIN32)
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path made = temp / ("velmora-" + std::to_string(random()));
        if (fs::create_directory(made, ec)) {
            folder = utf8_of(made);
            return true;
        }
    }
#else
    std::string pattern = utf8_of(temp / "velmora-XXXXXX");
    if (mkdtemp(&pattern[0])) {
        folder = pattern;
        return true;
    }
    ec.assign(errno, std::generic_category());
#endif
    error = "cannot make a temporary folder in " + utf8_of(temp) + ": " + ec.message();
    return false;
}

}  // namespace velmora_cli
