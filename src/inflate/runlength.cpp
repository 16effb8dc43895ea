// RunLengthDecode: a length byte, then either a literal run or one repeated byte.
#include <cstring>

#include "inflate/filter_out.h"
#include "inflate/filters.h"

namespace plenvo {

// Decodes src[0..n) into out. Length byte L: 0..127 copies the next L + 1
// bytes, 129..255 repeats the next byte 257 - L times, 128 ends the data (so
// does the end of the input). A run cut short by the end of the input keeps
// the bytes that are there. False only when the output would pass limit.
bool runlength_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit) {
    out.clear();
    out.resize(out_first_size(n > limit / 2 ? limit : n * 2, limit));
    size_t o = 0;
    size_t i = 0;
    while (i < n) {
        const unsigned l = src[i++];
        if (l == 128) break;
        if (l < 128) {
            size_t k = l + 1;
            if (k > n - i) k = n - i;
            if (!out_room(out, o, k, limit)) return false;
            std::memcpy(out.data() + o, src + i, k);
            o += k;
            i += k;
        } else {
            if (i == n) break;
            const size_t k = 257 - l;
            if (!out_room(out, o, k, limit)) return false;
            std::memset(out.data() + o, src[i++], k);
            o += k;
        }
    }
    out.resize(o);
    return true;
}

}  // namespace plenvo
