// The error text shared by every call of the library.
#pragma once

namespace plenvo {

constexpr int ERR_SIZE = 1024;
extern char g_err[ERR_SIZE];

// Replaces the error text with the formatted message, cut at 1023 bytes.
// Locale-independent for %d, %ld and %s; never pass floating-point values
// (format them with format_g or number_text first).
void set_error(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Empties the error text.
void clear_error();

}  // namespace plenvo
