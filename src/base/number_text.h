// Locale-independent number texts for PDF output, JSON answers and messages.
#pragma once

#include <string>

namespace plenvo {

constexpr int NUMTEXT_SIZE = 64;

// Writes x as a whole number when it is one within the 32-bit signed range,
// otherwise with four decimals ("595.2800"), always with '.'. out must hold
// NUMTEXT_SIZE bytes; the text is NUL-terminated and at most 63 characters
// (non-finite or huge values included). Returns the text's length.
int number_text(double x, char *out);

// The text printf's "%g" gives for x in the C locale ("-12.5", "0", "1e+20").
std::string format_g(double x);

}  // namespace plenvo
