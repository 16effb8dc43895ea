// LZWDecode: 9 to 12-bit codes, most significant bit first, clear code 256,
// end-of-data code 257, with or without the early change of code width.
#include <cstring>

#include "inflate/filter_out.h"
#include "inflate/filters.h"

namespace plenvo {

namespace {

constexpr unsigned LZW_CLEAR = 256;
constexpr unsigned LZW_EOD = 257;
constexpr unsigned LZW_FIRST = 258;
constexpr unsigned LZW_TABLE = 4096;

}  // namespace

// Every string of the table is a stretch of the output already written: the
// string added after codes p, c is p's string followed by the first byte of
// c's, which is exactly where p's string was written plus one byte. So the
// table keeps (offset, length) pairs into the output and decoding a code is
// one copy from earlier output, never a walk along a chain of prefixes.
//
// Decodes src[0..n) into out. early_change 0 widens codes when the table
// reaches 512, 1024, 2048; any other value one code earlier (the PDF default).
// Ends at code 257 or when the input runs out. A code beyond the table is
// damage: decoding stops there and the bytes decoded so far are the result.
// False only when the output would pass limit.
bool lzw_decode(const uint8_t *src, size_t n, int early_change, std::vector<uint8_t> &out,
                size_t limit) {
    const unsigned early = early_change ? 1 : 0;
    if (limit > FILTER_MAX_OUT) limit = FILTER_MAX_OUT;  // offsets fit 32 bits
    uint32_t off[LZW_TABLE];
    uint16_t len[LZW_TABLE];

    out.clear();
    out.resize(out_first_size(n > limit / 4 ? limit : n * 4, limit));
    size_t o = 0;

    uint64_t bitbuf = 0;
    unsigned bitcnt = 0;
    size_t ip = 0;
    unsigned width = 9;
    unsigned next = LZW_FIRST;
    bool have_prev = false;
    size_t prev_off = 0, prev_len = 0;

    for (;;) {
        while (bitcnt < width) {
            if (ip == n) {
                out.resize(o);
                return true;  // input ends without the end-of-data code
            }
            bitbuf = (bitbuf << 8) | src[ip++];
            bitcnt += 8;
        }
        bitcnt -= width;
        const unsigned code = static_cast<unsigned>(bitbuf >> bitcnt) & ((1u << width) - 1);

        if (code == LZW_CLEAR) {
            width = 9;
            next = LZW_FIRST;
            have_prev = false;
            continue;
        }
        if (code == LZW_EOD) break;

        size_t cur_len;
        if (code < 256) {
            if (!out_room(out, o, 1, limit)) return false;
            out[o] = static_cast<uint8_t>(code);
            cur_len = 1;
        } else if (code < next) {
            cur_len = len[code];
            if (!out_room(out, o, cur_len, limit)) return false;
            std::memcpy(out.data() + o, out.data() + off[code], cur_len);
        } else if (code == next && have_prev) {
            // The code being defined: the previous string plus its own first byte.
            cur_len = prev_len + 1;
            if (!out_room(out, o, cur_len, limit)) return false;
            uint8_t *p = out.data();
            std::memcpy(p + o, p + prev_off, prev_len);
            p[o + prev_len] = p[prev_off];
        } else {
            break;  // a code beyond the table: damaged data ends here
        }

        if (have_prev && next < LZW_TABLE) {
            off[next] = static_cast<uint32_t>(prev_off);
            len[next] = static_cast<uint16_t>(prev_len + 1);
            ++next;
            if (next + early >= (1u << width) && width < 12) ++width;
        }
        have_prev = true;
        prev_off = o;
        prev_len = cur_len;
        o += cur_len;
    }
    out.resize(o);
    return true;
}

}  // namespace plenvo
