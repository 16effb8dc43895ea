#include "interface/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace plenvo {

int number_text(double x, char *out) {
    // Whole numbers inside the 32-bit range are written as integers (-0.0 too).
    if (x == x && x >= -2147483648.0 && x <= 2147483647.0) {
        int32_t n = static_cast<int32_t>(x);
        if (static_cast<double>(n) == x && std::fabs(x) < 1e15) {
            auto r = std::to_chars(out, out + NUMTEXT_SIZE - 1, n);
            *r.ptr = '\0';
            return static_cast<int>(r.ptr - out);
        }
    }
    if (!std::isfinite(x)) {
        // Never reaches a PDF (placements refuse non-finite values); keep it short.
        const char *t = x != x ? "nan" : (x > 0 ? "inf" : "-inf");
        std::strcpy(out, t);
        return static_cast<int>(std::strlen(t));
    }
    auto r = std::to_chars(out, out + NUMTEXT_SIZE - 1, x, std::chars_format::fixed, 4);
    if (r.ec != std::errc()) {
        // Beyond 63 characters (about 1e58): scientific form still fits.
        r = std::to_chars(out, out + NUMTEXT_SIZE - 1, x, std::chars_format::scientific, 4);
    }
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

std::string format_g(double x) {
    if (x != x) return std::signbit(x) ? "-nan" : "nan";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
    char tmp[64];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, x, std::chars_format::general, 6);
    std::string s(tmp, r.ptr);
    // to_chars writes exponents as e+20 / e-05 like printf; printf pads to two digits.
    auto e = s.find('e');
    if (e != std::string::npos) {
        std::string mant = s.substr(0, e);
        char sign = s[e + 1];
        std::string digits = s.substr(e + 2);
        while (digits.size() < 2) digits = "0" + digits;
        s = mant + "e" + sign + digits;
    }
    return s;
}

}  // namespace plenvo
