// ASCIIHexDecode: pairs of hexadecimal digits give one byte each.
#include "inflate/filters.h"

namespace plenvo {

namespace {

// Byte classes: 0..15 a hexadecimal digit's value, HX_WS white space,
// HX_END the end marker '>', HX_BAD anything else.
constexpr int8_t HX_WS = -1, HX_END = -2, HX_BAD = -3;

struct hex_table {
    int8_t v[256];
    constexpr hex_table() : v() {
        for (int c = 0; c < 256; ++c) v[c] = HX_BAD;
        for (int c = '0'; c <= '9'; ++c) v[c] = static_cast<int8_t>(c - '0');
        for (int c = 'a'; c <= 'f'; ++c) v[c] = static_cast<int8_t>(c - 'a' + 10);
        for (int c = 'A'; c <= 'F'; ++c) v[c] = static_cast<int8_t>(c - 'A' + 10);
        for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) v[c] = HX_WS;
        v[static_cast<unsigned char>('>')] = HX_END;
    }
};
constexpr hex_table HEX;

}  // namespace

// Decodes src[0..n) into out. White space is ignored, '>' ends the data (so
// does the end of the input), and an odd final digit counts as if followed by
// 0. False on any other character or output over limit.
bool asciihex_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit) {
    // The output never exceeds (n + 1) / 2 bytes: size it once.
    const size_t most = (n + 1) / 2;
    out.clear();
    out.resize(most < limit ? most : limit);
    uint8_t *dst = out.data();
    size_t o = 0;
    int high = -1;
    for (size_t i = 0; i < n; ++i) {
        const int v = HEX.v[src[i]];
        if (v < 0) {
            if (v == HX_WS) continue;
            if (v == HX_END) break;
            return false;
        }
        if (high < 0) {
            high = v;
            continue;
        }
        if (o == out.size()) return false;  // over limit
        dst[o++] = static_cast<uint8_t>(high << 4 | v);
        high = -1;
    }
    if (high >= 0) {
        if (o == out.size()) return false;
        dst[o++] = static_cast<uint8_t>(high << 4);
    }
    out.resize(o);
    return true;
}

}  // namespace plenvo
