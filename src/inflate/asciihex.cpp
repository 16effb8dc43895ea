// ASCIIHexDecode: pairs of hexadecimal digits give one byte each.
#include "inflate/filter_out.h"
#include "inflate/filters.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// The value of a hexadecimal digit, or -1.
inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// Decodes src[0..n) into out. White space is ignored, '>' ends the data (so
// does the end of the input), and an odd final digit counts as if followed by
// 0. False on any other character or output over limit.
bool asciihex_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit) {
    out.clear();
    if (!out_room(out, 0, (n + 1) / 2 < limit ? (n + 1) / 2 : limit, limit)) return false;
    size_t o = 0;
    int high = -1;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = src[i];
        const int v = hex_value(c);
        if (v < 0) {
            if (is_ws(c)) continue;
            if (c == '>') break;
            return false;
        }
        if (high < 0) {
            high = v;
            continue;
        }
        if (!out_room(out, o, 1, limit)) return false;
        out[o++] = static_cast<uint8_t>(high << 4 | v);
        high = -1;
    }
    if (high >= 0) {
        if (!out_room(out, o, 1, limit)) return false;
        out[o++] = static_cast<uint8_t>(high << 4);
    }
    out.resize(o);
    return true;
}

}  // namespace plenvo
