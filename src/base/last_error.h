// The last-error text: one buffer per process, written by every failing call
// and emptied by every successful one. Internal.
#ifndef VELMORA_LAST_ERROR_H
#define VELMORA_LAST_ERROR_H

#if defined(__GNUC__)
#define VELMORA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VELMORA_PRINTF(fmt, args)
#endif

namespace velmora {

// Formats into the last-error buffer, cut at 511 characters.
void set_err(const char *format, ...) VELMORA_PRINTF(1, 2);

// Records a message and yields 0, so a check reads `return fail(...)`.
int fail(const char *format, ...) VELMORA_PRINTF(1, 2);

// Empties the last-error text.
void clear_err();

// The text itself, for velmora_last_error.
const char *last_error_text();

// "(null)" for a null string, whatever the C library would print.
inline const char *str_or_null(const char *s) { return s ? s : "(null)"; }

// A float widened for "%g", with a NaN's sign dropped so that every platform
// prints "nan" (glibc prints "-nan" for a negative NaN).
double printable(float value);

}  // namespace velmora

#endif
