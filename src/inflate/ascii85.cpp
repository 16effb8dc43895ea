// ASCII85Decode: groups of five characters '!'..'u' give four bytes.
#include "base/byte_class.h"
#include "inflate/filter_out.h"
#include "inflate/filters.h"

namespace plenvo {

// Decodes src[0..n) into out. White space is ignored; 'z' stands for four
// zero bytes and is allowed only between groups; "~>" ends the data (so does
// the end of the input); a final group of k characters (k = 2..4) gives k - 1
// bytes, a lone final character none. False on any other character, a 'z'
// inside a group, a '~' not followed by '>', a group above 2^32 - 1, or output
// over limit.
bool ascii85_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit) {
    out.clear();
    out.resize(out_first_size(n / 5 * 4 + 4, limit));
    size_t o = 0;
    uint64_t acc = 0;
    int cnt = 0;

    size_t i = 0;
    for (; i < n; ++i) {
        const uint8_t c = src[i];
        if (c >= '!' && c <= 'u') {
            acc = acc * 85 + (c - '!');
            if (++cnt < 5) continue;
            if (acc > 0xFFFFFFFFu || !out_room(out, o, 4, limit)) return false;
            uint8_t *p = out.data() + o;
            p[0] = static_cast<uint8_t>(acc >> 24);
            p[1] = static_cast<uint8_t>(acc >> 16);
            p[2] = static_cast<uint8_t>(acc >> 8);
            p[3] = static_cast<uint8_t>(acc);
            o += 4;
            acc = 0;
            cnt = 0;
        } else if (c == 'z') {
            if (cnt != 0 || !out_room(out, o, 4, limit)) return false;
            uint8_t *p = out.data() + o;
            p[0] = p[1] = p[2] = p[3] = 0;
            o += 4;
        } else if (is_ws(c)) {
            continue;
        } else if (c == '~') {
            size_t j = i + 1;
            while (j < n && is_ws(src[j])) ++j;
            if (j < n && src[j] != '>') return false;
            break;
        } else {
            return false;
        }
    }

    if (cnt > 1) {
        // Pad the short group with the highest digit and keep its first bytes.
        for (int k = cnt; k < 5; ++k) acc = acc * 85 + 84;
        if (acc > 0xFFFFFFFFu || !out_room(out, o, cnt - 1, limit)) return false;
        for (int k = 0; k < cnt - 1; ++k) out[o++] = static_cast<uint8_t>(acc >> (24 - 8 * k));
    }
    out.resize(o);
    return true;
}

}  // namespace plenvo
