// The last-error buffer.
#include "last_error.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace velmora {

// Zero-filled at load, so it reads as "" before any call. One buffer for the
// whole process, as the header promises: never per thread.
static char s_err[512];

// A message cut at the buffer's end (a long path) must not end inside a
// UTF-8 character: hosts decode the text as UTF-8 and would fail on it.
static void drop_cut_character(char *text, size_t length) {
    size_t lead = length;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == 0) return;
    const unsigned char first = static_cast<unsigned char>(text[lead - 1]);
    if (first < 0xC0) return;  // ASCII, or stray continuation bytes: nothing was cut
    const size_t whole = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    if (length - (lead - 1) < whole) text[lead - 1] = '\0';
}

static void vset_err(const char *format, va_list args) {
    const int n = std::vsnprintf(s_err, sizeof s_err, format, args);
    if (n >= static_cast<int>(sizeof s_err)) drop_cut_character(s_err, sizeof s_err - 1);
}

void set_err(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vset_err(format, args);
    va_end(args);
}

int fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vset_err(format, args);
    va_end(args);
    return 0;
}

void clear_err() { s_err[0] = '\0'; }

double printable(float value) {
    double d = value;
    return std::isnan(d) ? std::fabs(d) : d;
}

const char *last_error_text() { return s_err; }

}  // namespace velmora
