#include "base/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace plenvo {

namespace {

// |x| * 10^4 rounded to the nearest integer, when the product computed in
// floating point decides it for certain: |x| below 1e5 keeps the product's
// rounding error below 2^-23, and a product farther than 2^-20 from a half
// rounds the same way as the exact one. False otherwise (near a tie, large,
// or not finite): the caller then formats the exact value.
bool scaled_by_10000(double x, int64_t *out) {
    const double a = std::fabs(x);
    if (!(a < 1e5)) return false;
    const double y = a * 10000.0;
    const double whole = std::floor(y);
    const double frac = y - whole;
    if (std::fabs(frac - 0.5) <= 0x1p-20) return false;
    *out = static_cast<int64_t>(frac > 0.5 ? whole + 1.0 : whole);
    return true;
}

// Writes "[-]I.FFFF" for the scaled value n = |x| * 10^4; returns the length.
int write_fixed4(bool negative, int64_t n, char *out) {
    char *p = out;
    if (negative) *p++ = '-';
    auto r = std::to_chars(p, out + NUMTEXT_SIZE - 6, n / 10000);
    p = r.ptr;
    int64_t f = n % 10000;
    p[0] = '.';
    p[4] = static_cast<char>('0' + f % 10);
    f /= 10;
    p[3] = static_cast<char>('0' + f % 10);
    f /= 10;
    p[2] = static_cast<char>('0' + f % 10);
    p[1] = static_cast<char>('0' + f / 10);
    p[5] = '\0';
    return static_cast<int>(p + 5 - out);
}

}  // namespace

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
    // Most values are page sizes and offsets: formatted from the product
    // with 10^4 when that is certain to give the digits of the exact value.
    int64_t scaled = 0;
    if (scaled_by_10000(x, &scaled)) return write_fixed4(x < 0, scaled, out);
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
