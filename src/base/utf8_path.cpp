// UTF-8 paths: validation, conversion to and from UTF-16, and opening a file
// through the wide-character API on Windows.
#include "base/utf8_path.h"

#include <cstdint>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include <wchar.h>
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide-character API takes UTF-16");
#endif

namespace plenvo {

namespace {

// Length of the UTF-8 sequence at s[i..n) and its code point in *cp; 0 when
// the bytes there are not a valid sequence.
size_t utf8_sequence(const unsigned char *s, size_t i, size_t n, uint32_t *cp) {
    const unsigned char c = s[i];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    // Lead bytes: C2..DF two bytes, E0..EF three, F0..F4 four; anything
    // else (a continuation byte, C0, C1, F5..FF) starts no sequence.
    size_t len = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    if (c >= 0xE0 && c <= 0xEF) len = 3;
    if (c >= 0xF0 && c <= 0xF4) len = 4;
    if (len == 0) return 0;
    static constexpr uint32_t lead_bits[5] = {0, 0, 0x1F, 0x0F, 0x07};
    static constexpr uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t v = c & lead_bits[len];
    if (n - i < len) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (s[i + k] & 0x3Fu);
    }
    if (v < least[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return len;
}

}  // namespace

bool utf8_beyond_ascii(const char *s, size_t n) {
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    bool beyond = false;
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        const size_t len = utf8_sequence(u, i, n, &cp);
        if (len == 0) return false;
        beyond = beyond || len > 1;
        i += len;
    }
    return beyond;
}

std::u16string utf16_of_utf8(const char *s, size_t n) {
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        size_t len = utf8_sequence(u, i, n, &cp);
        if (len == 0) {  // not reached for checked input
            len = 1;
            cp = 0xFFFD;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf8_of_utf16(const char16_t *s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

FILE *open_path(const char *path, const char *mode) {
#if defined(_WIN32)
    const size_t n = std::strlen(path);
    if (utf8_beyond_ascii(path, n)) {
        try {
            const std::u16string wpath = utf16_of_utf8(path, n);
            const std::u16string wmode = utf16_of_utf8(mode, std::strlen(mode));
            return _wfopen(reinterpret_cast<const wchar_t *>(wpath.c_str()),
                           reinterpret_cast<const wchar_t *>(wmode.c_str()));
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    }
#endif
    return std::fopen(path, mode);
}

}  // namespace plenvo
