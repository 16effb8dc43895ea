// Where a dictionary closes, walked as dict_stream_kw walks it.
#include "reader/scan_phases.h"

namespace plenvo {

int32_t dict_close_one(const uint8_t *t, int32_t len, int32_t start) {
    int64_t depth = 0;
    int32_t i = start < 0 ? 0 : start;
    while (i < len) {
        const uint8_t c = t[i];
        if (c == '<' || c == '>') {
            if (i + 1 >= len) return -1;
            if (t[i + 1] != c) {
                ++i;
                continue;
            }
            if (c == '<') {
                ++depth;
            } else if (--depth == 0) {
                return i;
            }
            i += 2;
            continue;
        }
        if (c == '(') {
            if (i + 1 >= len) return -1;
            int64_t nest = 1;
            int64_t j = i + 1;  // a backslash may step past len
            while (j < len) {
                const uint8_t b = t[j];
                if (b == '\\') {
                    j += 2;
                    continue;
                }
                if (b == '(') {
                    ++nest;
                } else if (b == ')' && --nest == 0) {
                    break;
                }
                ++j;
            }
            if (j >= len) return -1;
            i = static_cast<int32_t>(j + 1);
            continue;
        }
        ++i;
    }
    return -1;
}

void find_dict_closes(const uint8_t *t, int32_t len, const int32_t *starts, size_t n, int32_t *closes) {
    for (size_t k = 0; k < n; ++k) closes[k] = dict_close_one(t, len, starts[k]);
}

}  // namespace plenvo
