// Test helpers for the Flate decoder: a deliberately plain decoder that reads
// one bit at a time (the behaviour the fast decoder must match in every
// case), and a writer for hand-built deflate bit streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "inflate/inflate.h"

namespace plenvo_test {

// What a decode gave: return value, produced count, and for -1 whether the
// output lacked room.
struct inflate_result {
    int ret = 0;
    size_t produced = 0;
    bool no_room = false;
    std::vector<uint8_t> out;  // the first `produced` bytes

    bool operator==(const inflate_result &o) const {
        return ret == o.ret && produced == o.produced && no_room == o.no_room && out == o.out;
    }
};

namespace ref_detail {

struct out_of_input {};
struct out_of_room {};

struct huffman {
    uint16_t count[16];
    uint16_t symbol[288];
};

struct state {
    const uint8_t *in;
    size_t inlen, inpos;
    uint32_t bitbuf;
    int bitcnt;
    std::vector<uint8_t> out;
    size_t cap;
};

inline unsigned bits(state &s, int need) {
    uint64_t val = s.bitbuf;
    while (s.bitcnt < need) {
        if (s.inpos == s.inlen) throw out_of_input{};
        val |= uint64_t(s.in[s.inpos++]) << s.bitcnt;
        s.bitcnt += 8;
    }
    s.bitbuf = uint32_t(val >> need);
    s.bitcnt -= need;
    return unsigned(val & ((uint64_t(1) << need) - 1));
}

// Canonical decoding, one bit at a time: -10 when 15 bits match no code.
inline int decode(state &s, const huffman &h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15; ++len) {
        code |= int(bits(s, 1));
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -10;
}

// 0 complete or empty, >0 incomplete, <0 over-subscribed.
inline int construct(huffman &h, const uint8_t *length, int n) {
    for (int len = 0; len <= 15; ++len) h.count[len] = 0;
    for (int sym = 0; sym < n; ++sym) h.count[length[sym]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len <= 15; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }
    uint16_t offs[16];
    offs[1] = 0;
    for (int len = 1; len < 15; ++len) offs[len + 1] = uint16_t(offs[len] + h.count[len]);
    for (int sym = 0; sym < n; ++sym)
        if (length[sym] != 0) h.symbol[offs[length[sym]]++] = uint16_t(sym);
    return left;
}

// Length symbols 257..285 and distance symbols 0..29 (RFC 1951, 3.2.5).
inline constexpr uint16_t lens[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t dists[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                       33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr uint8_t dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// 0 at end of block, negative on a data fault; throws when out of input or room.
inline int codes(state &s, const huffman &lencode, const huffman &distcode) {
    for (;;) {
        int symbol = decode(s, lencode);
        if (symbol < 0) return symbol;
        if (symbol < 256) {
            if (s.out.size() == s.cap) throw out_of_room{};
            s.out.push_back(uint8_t(symbol));
        } else if (symbol == 256) {
            return 0;
        } else {
            symbol -= 257;
            if (symbol >= 29) return -10;
            size_t len = lens[symbol] + bits(s, lext[symbol]);
            symbol = decode(s, distcode);
            if (symbol < 0) return symbol;
            size_t dist = dists[symbol] + bits(s, dext[symbol]);
            if (dist > s.out.size()) return -11;
            if (s.out.size() + len > s.cap) throw out_of_room{};
            while (len--) s.out.push_back(s.out[s.out.size() - dist]);
        }
    }
}

inline int stored(state &s) {
    s.bitbuf = 0;
    s.bitcnt = 0;
    if (s.inpos + 4 > s.inlen) throw out_of_input{};
    unsigned len = s.in[s.inpos] | (unsigned(s.in[s.inpos + 1]) << 8);
    if (s.in[s.inpos + 2] != (~len & 0xff) || s.in[s.inpos + 3] != ((~len >> 8) & 0xff)) return -2;
    s.inpos += 4;
    if (s.inpos + len > s.inlen) throw out_of_input{};
    if (s.out.size() + len > s.cap) throw out_of_room{};
    s.out.insert(s.out.end(), s.in + s.inpos, s.in + s.inpos + len);
    s.inpos += len;
    return 0;
}

inline int fixed(state &s) {
    huffman lencode{}, distcode{};
    uint8_t lengths[288];
    int sym = 0;
    for (; sym < 144; ++sym) lengths[sym] = 8;
    for (; sym < 256; ++sym) lengths[sym] = 9;
    for (; sym < 280; ++sym) lengths[sym] = 7;
    for (; sym < 288; ++sym) lengths[sym] = 8;
    construct(lencode, lengths, 288);
    for (sym = 0; sym < 30; ++sym) lengths[sym] = 5;
    construct(distcode, lengths, 30);
    return codes(s, lencode, distcode);
}

inline int dynamic(state &s) {
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t lengths[316] = {};
    huffman lencode{}, distcode{};
    int nlen = int(bits(s, 5)) + 257;
    int ndist = int(bits(s, 5)) + 1;
    int ncode = int(bits(s, 4)) + 4;
    if (nlen > 286 || ndist > 30) return -3;
    int index = 0;
    for (; index < ncode; ++index) lengths[order[index]] = uint8_t(bits(s, 3));
    for (; index < 19; ++index) lengths[order[index]] = 0;
    if (construct(lencode, lengths, 19) != 0) return -4;
    index = 0;
    while (index < nlen + ndist) {
        int symbol = decode(s, lencode);
        if (symbol < 0) return symbol;
        if (symbol < 16) {
            lengths[index++] = uint8_t(symbol);
        } else {
            int len = 0;
            if (symbol == 16) {
                if (index == 0) return -5;
                len = lengths[index - 1];
                symbol = 3 + int(bits(s, 2));
            } else if (symbol == 17) {
                symbol = 3 + int(bits(s, 3));
            } else {
                symbol = 11 + int(bits(s, 7));
            }
            if (index + symbol > nlen + ndist) return -6;
            while (symbol--) lengths[index++] = uint8_t(len);
        }
    }
    if (lengths[256] == 0) return -9;
    int err = construct(lencode, lengths, nlen);
    if (err && (err < 0 || nlen != lencode.count[0] + lencode.count[1])) return -7;
    err = construct(distcode, lengths + nlen, ndist);
    if (err && (err < 0 || ndist != distcode.count[0] + distcode.count[1])) return -8;
    return codes(s, lencode, distcode);
}

}  // namespace ref_detail

// Decodes zlib data one bit at a time into a buffer of capacity `cap`.
inline inflate_result reference_inflate(const uint8_t *src, size_t srclen, size_t cap) {
    inflate_result r;
    r.ret = -1;
    if (srclen < 2 || cap > (size_t(1) << 30) || (src[0] & 0x0F) != 8 || (src[1] & 0x20)) return r;
    ref_detail::state s{src + 2, srclen - 2, 0, 0, 0, {}, cap};
    try {
        int last, err;
        do {
            last = int(ref_detail::bits(s, 1));
            int type = int(ref_detail::bits(s, 2));
            err = type == 0   ? ref_detail::stored(s)
                  : type == 1 ? ref_detail::fixed(s)
                  : type == 2 ? ref_detail::dynamic(s)
                              : -1;
        } while (err == 0 && !last);
    } catch (const ref_detail::out_of_input &) {
        return r;
    } catch (const ref_detail::out_of_room &) {
        r.no_room = true;
        return r;
    }
    r.ret = 0;
    r.produced = s.out.size();
    r.out = std::move(s.out);
    return r;
}

inline inflate_result reference_inflate(const std::string &src, size_t cap) {
    return reference_inflate(reinterpret_cast<const uint8_t *>(src.data()), src.size(), cap);
}

// Decodes with the library's decoder into a buffer of exactly `cap` bytes.
inline inflate_result fast_inflate(const uint8_t *src, size_t srclen, size_t cap) {
    std::vector<uint8_t> dst(cap);
    inflate_result r;
    plenvo::inflate_why why = plenvo::INFLATE_DONE;
    r.produced = 12345;
    r.ret = plenvo::inflate_decompress_ex(src, srclen, cap ? dst.data() : nullptr, cap, &r.produced, &why);
    r.no_room = why == plenvo::INFLATE_NO_ROOM;
    if (r.produced <= cap) r.out.assign(dst.begin(), dst.begin() + ptrdiff_t(r.produced));
    return r;
}

inline inflate_result fast_inflate(const std::string &src, size_t cap) {
    return fast_inflate(reinterpret_cast<const uint8_t *>(src.data()), src.size(), cap);
}

// Appends deflate bits, lowest bit first; Huffman codes go most significant
// bit first, as deflate stores them.
struct bit_writer {
    std::string bytes;
    unsigned nbits = 0;  // bits used in the last byte (0 = none open)

    bit_writer &put(unsigned value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (nbits == 0) bytes.push_back('\0');
            if ((value >> i) & 1) bytes.back() = char(uint8_t(bytes.back()) | (1u << nbits));
            nbits = (nbits + 1) & 7;
        }
        return *this;
    }
    bit_writer &code(unsigned code, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((code >> i) & 1, 1);
        return *this;
    }
    // Bits written so far.
    size_t bit_size() const { return bytes.size() * 8 - (nbits ? 8 - nbits : 0); }
    bit_writer &align() {
        nbits = 0;
        return *this;
    }
    bit_writer &raw(const std::string &s) {
        align();
        bytes += s;
        return *this;
    }
    // Fixed-code literal or end of block (0..287).
    bit_writer &fixed_sym(unsigned sym) {
        if (sym < 144) return code(0x30 + sym, 8);
        if (sym < 256) return code(0x190 + sym - 144, 9);
        if (sym < 280) return code(sym - 256, 7);
        return code(0xC0 + sym - 280, 8);
    }
    // A match with the fixed code: length symbol and extra bits, 5-bit
    // distance code and extra bits.
    bit_writer &fixed_match(unsigned len, unsigned dist) {
        unsigned ls = 28;
        while (ref_detail::lens[ls] > len) --ls;
        fixed_sym(257 + ls).put(len - ref_detail::lens[ls], ref_detail::lext[ls]);
        unsigned ds = 29;
        while (ref_detail::dists[ds] > dist) --ds;
        return code(ds, 5).put(dist - ref_detail::dists[ds], ref_detail::dext[ds]);
    }
};

// Canonical Huffman codes for the given code lengths (RFC 1951, 3.2.2).
inline std::vector<unsigned> canonical_codes(const std::vector<uint8_t> &lengths) {
    unsigned bl_count[16] = {};
    for (uint8_t l : lengths)
        if (l) ++bl_count[l];
    unsigned next[16] = {};
    unsigned code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + bl_count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<unsigned> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[lengths[i]]++;
    return codes;
}

// A zlib header (78 9C) followed by the writer's bytes.
inline std::string zlib_wrap(const bit_writer &w, const std::string &head = "\x78\x9C") {
    return head + w.bytes;
}

}  // namespace plenvo_test
