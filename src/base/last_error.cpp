// The last-error buffer.
#include "last_error.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace velmora {

// Zero-filled at load, so it reads as "" before any call. One buffer for the
// whole process, as the header promises: never per thread.
static char s_err[512];

static void vset_err(const char *format, va_list args) {
    std::vsnprintf(s_err, sizeof s_err, format, args);
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
