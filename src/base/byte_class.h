// Byte classes of PDF syntax, one table lookup each.
#pragma once

#include <cstdint>

namespace plenvo {

// Byte classes, one table lookup each.
enum : uint8_t { BC_WS = 1, BC_ALNUM = 2, BC_NAMECONT = 4, BC_SPACE = 8 };
struct byte_class_table {
    uint8_t c[256] = {};
    constexpr byte_class_table() {
        for (int b = 0; b < 256; ++b) {
            uint8_t v = 0;
            if (b == 0x20 || b == 0x0A || b == 0x0D || b == 0x09 || b == 0x0C || b == 0x00) v |= BC_WS;
            const bool digit = b >= '0' && b <= '9';
            const bool alnum = digit || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
            if (alnum) v |= BC_ALNUM;
            if (alnum || b == '+' || b == '-' || b == '_') v |= BC_NAMECONT;
            if (b == ' ' || (b >= 0x09 && b <= 0x0D)) v |= BC_SPACE;
            c[b] = v;
        }
    }
};
inline constexpr byte_class_table BYTE_CLASS{};

// PDF white space: NUL, HT, LF, FF, CR, SP.
inline bool is_ws(uint8_t c) { return (BYTE_CLASS.c[c] & BC_WS) != 0; }
// ASCII letters and digits only.
inline bool is_alnum(uint8_t c) { return (BYTE_CLASS.c[c] & BC_ALNUM) != 0; }
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
// Bytes that continue a name: alphanumeric, '+', '-', '_'.
inline bool is_namecont(uint8_t c) { return (BYTE_CLASS.c[c] & BC_NAMECONT) != 0; }
// PDF delimiters: ( ) < > [ ] { } / %.
inline bool is_delim(uint8_t c) {
    switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']':
    case '{': case '}': case '/': case '%':
        return true;
    default:
        return false;
    }
}
// Regular bytes: neither white space nor a delimiter (what tokens are made of).
inline bool is_regular(uint8_t c) { return !is_ws(c) && !is_delim(c); }
// Space bytes of the object-header test: SP, HT, LF, VT, FF, CR (not NUL).
inline bool is_space_byte(uint8_t c) { return (BYTE_CLASS.c[c] & BC_SPACE) != 0; }

}  // namespace plenvo
