#include "file_paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <cwchar>
#endif

namespace velmora {

#if !defined(_WIN32)

FILE *open_file(const char *path, const char *mode) { return std::fopen(path, mode); }

size_t folder_prefix_length(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

#else

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool is_utf8_with_non_ascii(const char *path) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(path);
    bool non_ascii = false;
    while (*p) {
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        non_ascii = true;
        int more;
        unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) more = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            unsigned b = *p;
            if (i == 0 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return false;
        }
    }
    return non_ascii;
}

// The code page the ANSI file functions use.
UINT ansi_file_code_page() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

// Whether the path is too long for the ANSI and CRT calls, which stop at
// MAX_PATH characters (a byte count is never below the character count).
// The limit is on the absolute form: a short relative path in a deep current
// folder is long too.
bool is_long(const char *path) {
    if (std::strlen(path) >= MAX_PATH) return true;
    const DWORD full = GetFullPathNameA(path, 0, nullptr, nullptr);  // counts the NUL
    return full > MAX_PATH;
}

// A path in UTF-16, converted from UTF-8 or from the ANSI code page.
class WidePath {
public:
    WidePath(const char *path, UINT code_page) {
        int n = MultiByteToWideChar(code_page, 0, path, -1, nullptr, 0);
        if (n <= 0) return;
        text_ = static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(n)));
        if (text_ && MultiByteToWideChar(code_page, 0, path, -1, text_, n) != n) {
            std::free(text_);
            text_ = nullptr;
        }
    }
    // The path as the wide calls take it: converted by its route, and a
    // long one made absolute with the \\?\ prefix, which lifts the limit.
    static WidePath of(const char *path) {
        WidePath wide(path, takes_utf8_route(path) ? CP_UTF8 : ansi_file_code_page());
        if (wide.text_ && is_long(path)) wide.make_extended();
        return wide;
    }
    ~WidePath() { std::free(text_); }
    WidePath(WidePath &&o) noexcept : text_(o.text_) { o.text_ = nullptr; }
    WidePath(const WidePath &) = delete;
    WidePath &operator=(const WidePath &) = delete;
    const wchar_t *get() const { return text_; }

private:
    // \\?\C:\full\path, or \\?\UNC\server\share\path; the prefix takes
    // the path as it stands, so it must be absolute, with no . or .. and
    // only backslashes, which GetFullPathNameW gives.
    void make_extended() {
        if (std::wcsncmp(text_, L"\\\\?\\", 4) == 0) return;
        const DWORD n = GetFullPathNameW(text_, 0, nullptr, nullptr);
        wchar_t *full = n ? static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * n)) : nullptr;
        const DWORD got = full ? GetFullPathNameW(text_, n, full, nullptr) : 0;
        const bool unc = got >= 2 && full[0] == L'\\' && full[1] == L'\\';
        const wchar_t *prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
        const wchar_t *rest = unc ? full + 1 : full;  // keeps one backslash of \\server
        wchar_t *extended = nullptr;
        if (got > 0 && got < n) {
            const size_t size = std::wcslen(prefix) + std::wcslen(rest) + 1;
            extended = static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * size));
            if (extended) {
                std::wcscpy(extended, prefix);
                std::wcscat(extended, rest);
            }
        }
        std::free(full);
        std::free(text_);
        text_ = extended;  // null when anything failed: the call reports ENOMEM
    }

    wchar_t *text_ = nullptr;
};

// Whether a path goes to the wide calls: UTF-8 with a non-ASCII character,
// or too long for the ANSI calls.
bool takes_wide_route(const char *path) { return takes_utf8_route(path) || is_long(path); }

}  // namespace

bool takes_utf8_route(const char *path) { return is_utf8_with_non_ascii(path); }

FILE *open_file(const char *path, const char *mode) {
    if (!takes_wide_route(path)) return std::fopen(path, mode);
    WidePath wide = WidePath::of(path);
    WidePath wide_mode(mode, CP_ACP);
    if (!wide.get() || !wide_mode.get()) {
        errno = ENOMEM;
        return nullptr;
    }
    return _wfopen(wide.get(), wide_mode.get());
}

size_t folder_prefix_length(const char *path) {
    // On the ANSI route a double-byte character's second byte may equal '\\'.
    const UINT code_page = takes_utf8_route(path) ? 0 : ansi_file_code_page();
    size_t prefix = 0;
    for (size_t i = 0; path[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (code_page && IsDBCSLeadByteEx(code_page, c) && path[i + 1]) {
            ++i;
            continue;
        }
        if (c == '/' || c == '\\' || (c == ':' && i == 1)) prefix = i + 1;
    }
    return prefix;
}

#define VELMORA_BY_ROUTE(path, wide_call, ansi_call, failure)                  \
    do {                                                                       \
        if (!takes_wide_route(path)) return ansi_call;                         \
        WidePath wide = WidePath::of(path);                                    \
        if (!wide.get()) {                                                     \
            errno = ENOMEM;                                                    \
            return failure;                                                    \
        }                                                                      \
        return wide_call;                                                      \
    } while (0)

int stat_file(const char *path, struct _stat64 *st) {
    VELMORA_BY_ROUTE(path, _wstat64(wide.get(), st), _stat64(path, st), -1);
}

int access_file(const char *path, int mode) {
    VELMORA_BY_ROUTE(path, _waccess(wide.get(), mode), _access(path, mode), -1);
}

int open_fd(const char *path, int flags, int permissions) {
    VELMORA_BY_ROUTE(path, _wopen(wide.get(), flags, permissions),
                     _open(path, flags, permissions), -1);
}

int remove_file(const char *path) {
    VELMORA_BY_ROUTE(path, _wunlink(wide.get()), _unlink(path), -1);
}

HANDLE create_file(const char *path, DWORD access, DWORD share, DWORD disposition) {
    VELMORA_BY_ROUTE(path,
                     CreateFileW(wide.get(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr),
                     CreateFileA(path, access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr),
                     INVALID_HANDLE_VALUE);
}

int move_file(const char *from, const char *to, DWORD flags) {
    if (!takes_wide_route(from) && !takes_wide_route(to))
        return MoveFileExA(from, to, flags) ? 1 : 0;
    // One of them needs the wide call: the other is converted the way the
    // ANSI call would have converted it.
    WidePath wide_from = WidePath::of(from), wide_to = WidePath::of(to);
    if (!wide_from.get() || !wide_to.get()) return 0;
    return MoveFileExW(wide_from.get(), wide_to.get(), flags) ? 1 : 0;
}

#undef VELMORA_BY_ROUTE

#endif

}  // namespace velmora
