// zlib/deflate decoder: table-driven Huffman decoding with a 64-bit bit
// buffer, a fast loop guarded by worst-case margins and a fully checked step
// for faults and the end of the output.
//
// Results are those of a decoder that reads one bit at a time and stops at
// the first bit it lacks: running out of input (anywhere) or of output room
// fails the call, while damaged data ends decoding early with the bytes
// already written. The checked step pads the input logically with zero bytes
// and counts them, so "ran out of input" is known exactly even though the
// lookups read ahead. Near the end of the input the fast loop runs on a
// zero-padded copy of the last bytes and checks, when it stops, whether it
// consumed padding.
#include "inflate/inflate.h"

#include <cstring>
#include <type_traits>

namespace plenvo {
namespace {

// ---------------------------------------------------------------------------
// Table entries
//
// One 32-bit entry per table slot:
//   bits 0-3    code length in bits (the whole code, subtable part included)
//   bits 4-7    extra bits that follow the code (length or distance), or the
//               index width of a subtable for a subtable link
//   bit  8      link to a subtable for codes longer than the table's width
//   bit  9      end of block (symbol 256)
//   bit  10     a length symbol that deflate never defines (286, 287)
//   bit  11     no code starts with these bits
//   bits 16-30  literal byte, base length, base distance, code-length symbol,
//               or the start of a subtable
//   bit  31     literal byte
// ---------------------------------------------------------------------------

constexpr uint32_t F_SUB = 0x100;
constexpr uint32_t F_END = 0x200;
constexpr uint32_t F_BADSYM = 0x400;
constexpr uint32_t F_NOCODE = 0x800;
constexpr uint32_t F_LIT = 0x80000000u;
constexpr uint32_t F_EXCEPT = F_END | F_BADSYM | F_NOCODE;

constexpr unsigned MAX_CODE_BITS = 15;
constexpr unsigned LIT_BITS = 11;   // first-level width of literal/length tables
constexpr unsigned DIST_BITS = 8;   // first-level width of distance tables
constexpr unsigned PRE_BITS = 7;    // code-length codes are at most 7 bits long

constexpr unsigned NUM_LITLEN = 288;  // fixed code; dynamic blocks allow 286
constexpr unsigned MAX_DYN_LITLEN = 286;
constexpr unsigned MAX_DIST = 30;
constexpr unsigned NUM_PRE = 19;

// Slots a table may need: the first level plus the subtables. A subtable of
// 2^k slots belongs to a complete subtree of depth k, which holds at least
// k + 1 codes, and k is at most 15 - width; deeper subtables give the most
// slots per code, so filling with the deepest ones bounds the total. Tables
// with subtables are built only for complete codes.
constexpr size_t table_bound(unsigned nsyms, unsigned width) {
    unsigned k = MAX_CODE_BITS - width;
    size_t full = nsyms / (k + 1);
    size_t rest = nsyms % (k + 1);
    return (size_t(1) << width) + full * (size_t(1) << k) + (rest >= 2 ? size_t(1) << (rest - 1) : 0);
}

constexpr size_t LIT_TABLE_SIZE = table_bound(NUM_LITLEN, LIT_BITS);
constexpr size_t DIST_TABLE_SIZE = table_bound(MAX_DIST, DIST_BITS);
constexpr size_t PRE_TABLE_SIZE = size_t(1) << PRE_BITS;
static_assert(LIT_TABLE_SIZE == 2964 && DIST_TABLE_SIZE == 672);
static_assert(LIT_TABLE_SIZE < (size_t(1) << 15) && DIST_TABLE_SIZE < (size_t(1) << 15),
              "subtable starts must fit the 15-bit value field");

// Base lengths and extra bits of length symbols 257..285.
constexpr uint16_t LEN_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Base distances and extra bits of distance symbols 0..29.
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which a dynamic block stores the code-length code's lengths.
constexpr uint8_t PRE_ORDER[NUM_PRE] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol's entry carries besides its code length.
struct symbol_payloads {
    uint32_t litlen[NUM_LITLEN];
    uint32_t dist[MAX_DIST];
    uint32_t pre[NUM_PRE];
};

constexpr symbol_payloads make_payloads() {
    symbol_payloads p{};
    for (unsigned s = 0; s < 256; ++s) p.litlen[s] = F_LIT | (s << 16);
    p.litlen[256] = F_END;
    for (unsigned s = 257; s < 286; ++s)
        p.litlen[s] = (uint32_t(LEN_BASE[s - 257]) << 16) | (uint32_t(LEN_EXTRA[s - 257]) << 4);
    p.litlen[286] = p.litlen[287] = F_BADSYM;
    for (unsigned s = 0; s < MAX_DIST; ++s)
        p.dist[s] = (uint32_t(DIST_BASE[s]) << 16) | (uint32_t(DIST_EXTRA[s]) << 4);
    for (unsigned s = 0; s < NUM_PRE; ++s) p.pre[s] = s << 16;
    return p;
}

constexpr symbol_payloads PAYLOADS = make_payloads();

// Each byte with its bits in reverse order.
struct byte_reversal {
    uint8_t of[256];
};
constexpr byte_reversal make_byte_reversal() {
    byte_reversal t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned r = 0;
        for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
        t.of[b] = uint8_t(r);
    }
    return t;
}
constexpr byte_reversal REVERSED = make_byte_reversal();

// The low len bits of code (len at most 16) in reverse order.
constexpr unsigned reverse_bits(unsigned code, unsigned len) {
    const unsigned r16 = (unsigned(REVERSED.of[code & 255]) << 8) | REVERSED.of[(code >> 8) & 255];
    return r16 >> (16 - len);
}

// Builds the decoding table of one canonical Huffman code.
// Takes the code lengths lens[0..n) (0 = symbol unused, at most 15), the
// per-symbol payloads and the table (capacity slots, first level `width` bits).
// Returns 0 for a complete code or one without any symbol, a positive number
// for an incomplete code and a negative number for an over-subscribed one.
// Fills the table (slots of unused bit patterns say "no code") for every code
// except an over-subscribed one and an incomplete one longer than the first
// level, which no block may use. Never writes past capacity slots.
constexpr int build_table(uint32_t *table, size_t capacity, unsigned width, const uint8_t *lens,
                          unsigned n, const uint32_t *payload) {
    // Four interleaved counts: one count's increments would wait on each
    // other (most neighbouring symbols share a length).
    uint16_t counts4[4][MAX_CODE_BITS + 1] = {};
    unsigned s4 = 0;
    for (; s4 + 4 <= n; s4 += 4) {
        ++counts4[0][lens[s4]];
        ++counts4[1][lens[s4 + 1]];
        ++counts4[2][lens[s4 + 2]];
        ++counts4[3][lens[s4 + 3]];
    }
    for (; s4 < n; ++s4) ++counts4[0][lens[s4]];
    uint16_t count[MAX_CODE_BITS + 1] = {};
    unsigned maxlen = 0;
    for (unsigned len = 0; len <= MAX_CODE_BITS; ++len) {
        count[len] = uint16_t(counts4[0][len] + counts4[1][len] + counts4[2][len] + counts4[3][len]);
        if (len > 0 && count[len] > 0) maxlen = len;
    }
    const size_t first_level = size_t(1) << width;
    if (count[0] == n) {
        for (size_t i = 0; i < first_level; ++i) table[i] = F_NOCODE;
        return 0;
    }
    int left = 1;
    for (unsigned len = 1; len <= MAX_CODE_BITS; ++len) {
        left = 2 * left - count[len];
        if (left < 0) return left;
    }
    if (left > 0 && maxlen > width) return left;

    // Symbols ordered by code length, then by value; their canonical codes.
    uint16_t offs[MAX_CODE_BITS + 2] = {};
    for (unsigned len = 1; len <= MAX_CODE_BITS; ++len) offs[len + 1] = uint16_t(offs[len] + count[len]);
    // Both arrays are written before they are read, up to `used`.
    const unsigned used = n - count[0];
    uint16_t sorted[NUM_LITLEN];
    for (unsigned s = 0; s < n; ++s)
        if (lens[s]) sorted[offs[lens[s]]++] = uint16_t(s);
    uint16_t codes[NUM_LITLEN];
    unsigned code = 0, curlen = 0;
    for (unsigned k = 0; k < used; ++k) {
        unsigned len = lens[sorted[k]];
        code <<= (len - curlen);
        curlen = len;
        codes[k] = uint16_t(code++);
    }

    // First-level slots: the table grows from 2^(shortest length) slots, all
    // "no code" at first, by doubling (the upper half a copy of the lower)
    // before each longer length, so that a code written once into its slot
    // of a 2^len table ends up in every slot whose low len bits it matches.
    unsigned cur_bits = lens[sorted[0]] < width ? lens[sorted[0]] : width;
    for (size_t i = 0; i < (size_t(1) << cur_bits); ++i) table[i] = F_NOCODE;
    auto grow_to = [&](unsigned bits) {
        for (; cur_bits < bits; ++cur_bits) {
            const size_t half = size_t(1) << cur_bits;
            if (std::is_constant_evaluated())
                for (size_t i = 0; i < half; ++i) table[half + i] = table[i];
            else
                std::memcpy(table + half, table, half * sizeof *table);
        }
    };
    size_t next_sub = first_level;
    size_t sub_start = 0;
    unsigned sub_bits = 0;
    unsigned cur_prefix = ~0u;
    for (unsigned k = 0; k < used; ++k) {
        const unsigned sym = sorted[k];
        const unsigned len = lens[sym];
        const uint32_t entry = payload[sym] | len;
        if (len <= width) {
            grow_to(len);
            table[reverse_bits(codes[k], len)] = entry;
            continue;
        }
        grow_to(width);
        const unsigned prefix = codes[k] >> (len - width);
        if (prefix != cur_prefix) {
            // Codes sharing a first-level prefix are consecutive and their
            // lengths grow, so the last one sets the subtable's width.
            unsigned last = k;
            while (last + 1 < used && unsigned(codes[last + 1] >> (lens[sorted[last + 1]] - width)) == prefix)
                ++last;
            sub_bits = lens[sorted[last]] - width;
            sub_start = next_sub;
            next_sub += size_t(1) << sub_bits;
            if (next_sub > capacity) return -1;  // cannot happen for a complete code
            table[reverse_bits(prefix, width)] =
                F_SUB | (uint32_t(sub_start) << 16) | (uint32_t(sub_bits) << 4);
            cur_prefix = prefix;
        }
        const unsigned tail = len - width;
        const unsigned low = reverse_bits(codes[k] & ((1u << tail) - 1), tail);
        for (size_t i = low; i < (size_t(1) << sub_bits); i += size_t(1) << tail)
            table[sub_start + i] = entry;
    }
    grow_to(width);
    return left;
}

// The fixed codes: literal/length lengths 8, 9, 7, 8 over 0-143, 144-255,
// 256-279, 280-287; 30 distance codes of 5 bits (5-bit patterns 30 and 31
// are no code). Built at compile time.
struct fixed_tables {
    uint32_t litlen[size_t(1) << LIT_BITS];
    uint32_t dist[size_t(1) << DIST_BITS];
};

constexpr fixed_tables make_fixed_tables() {
    fixed_tables t{};
    uint8_t lens[NUM_LITLEN] = {};
    for (unsigned s = 0; s < NUM_LITLEN; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    build_table(t.litlen, size_t(1) << LIT_BITS, LIT_BITS, lens, NUM_LITLEN, PAYLOADS.litlen);
    uint8_t dlens[MAX_DIST] = {};
    for (unsigned s = 0; s < MAX_DIST; ++s) dlens[s] = 5;
    build_table(t.dist, size_t(1) << DIST_BITS, DIST_BITS, dlens, MAX_DIST, PAYLOADS.dist);
    return t;
}

constexpr fixed_tables FIXED = make_fixed_tables();
static_assert(FIXED.litlen[0x0C] == (F_LIT | 8u), "code 00110000 (read reversed) is literal 0");
static_assert(FIXED.litlen[0] == (F_END | 7u), "code 0000000 is the end of block");
static_assert(FIXED.dist[0x0F] == F_NOCODE && FIXED.dist[0x1F] == F_NOCODE,
              "5-bit distance patterns 30 and 31 are no code");

// ---------------------------------------------------------------------------
// Bit input
// ---------------------------------------------------------------------------

enum class outcome { ok, fault, no_room, no_input };

// Input bits, lowest first. `cnt` bits of `buf` are loaded; bits above them
// are either zero or copies of the following input bytes. Once the input is
// exhausted the checked refill loads zero bytes and counts them in `pad`.
struct bit_input {
    const uint8_t *ip;
    const uint8_t *end;
    uint64_t buf;
    unsigned cnt;
    size_t pad;
};

// Output: dst[0..cap) with out the next byte to write.
struct byte_output {
    uint8_t *dst;
    uint8_t *out;
    uint8_t *end;
};

inline uint64_t load_le64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

inline uint64_t low_bits(uint64_t v, unsigned n) { return v & ((uint64_t(1) << n) - 1); }

// Loads whole bytes until 56 to 63 bits are held, zero bytes past the end.
// With 8 input bytes left one word load does it; the bytes it reads beyond
// the ones it takes stay as copies above cnt.
inline void refill_checked(bit_input &in) {
    if (in.end - in.ip >= 8) {
        in.buf |= load_le64(in.ip) << in.cnt;
        in.ip += (63 - in.cnt) >> 3;
        in.cnt |= 56;
        return;
    }
    while (in.cnt < 56) {
        uint64_t b = 0;
        if (in.ip < in.end)
            b = *in.ip++;
        else
            ++in.pad;
        in.buf |= b << in.cnt;
        in.cnt += 8;
    }
}

// Real (not padding) bits left from the current position; negative once
// padding has been consumed, i.e. the input ran out.
inline ptrdiff_t real_bits(const bit_input &in) {
    return ptrdiff_t(in.cnt) + 8 * (in.end - in.ip) - 8 * ptrdiff_t(in.pad);
}

inline void drop_bits(bit_input &in, unsigned n) {
    in.buf >>= n;
    in.cnt -= n;
}

// The next n (at most 32) bits; the caller checks real_bits afterwards.
inline uint32_t take_bits(bit_input &in, unsigned n) {
    refill_checked(in);
    uint32_t v = uint32_t(low_bits(in.buf, n));
    drop_bits(in, n);
    return v;
}

// Looks up the entry for the bits at the front of the buffer (which must hold
// at least 15 bits), following a subtable link.
inline uint32_t lookup(const uint32_t *table, unsigned width, uint64_t buf) {
    uint32_t e = table[buf & ((1u << width) - 1)];
    if (e & F_SUB) e = table[(e >> 16) + ((buf >> width) & ((1u << ((e >> 4) & 15)) - 1))];
    return e;
}

// The first-level entry only: a literal, or possibly a subtable link.
inline uint32_t lookup_first(const uint32_t *table, unsigned width, uint64_t buf) {
    return table[buf & ((1u << width) - 1)];
}

// The entry a first-level entry e stands for, following a subtable link.
inline uint32_t resolve_sub(const uint32_t *table, unsigned width, uint32_t e, uint64_t buf) {
    if (e & F_SUB) e = table[(e >> 16) + ((buf >> width) & ((1u << ((e >> 4) & 15)) - 1))];
    return e;
}

// Decodes one symbol with every check. Returns ok with *entry set, or fault
// when the bits match no code (a bit-at-a-time decoder gives up after 15
// bits), or no_input when the code runs past the input.
inline outcome decode_checked(bit_input &in, const uint32_t *table, unsigned width, uint32_t *entry) {
    refill_checked(in);
    const ptrdiff_t avail = real_bits(in);
    uint32_t e = lookup(table, width, in.buf);
    if (e & F_NOCODE) return avail >= ptrdiff_t(MAX_CODE_BITS) ? outcome::fault : outcome::no_input;
    drop_bits(in, e & 15);
    if (real_bits(in) < 0) return outcome::no_input;
    *entry = e;
    return outcome::ok;
}

// ---------------------------------------------------------------------------
// Match copies
// ---------------------------------------------------------------------------

inline void copy8(uint8_t *d, const uint8_t *s) { std::memcpy(d, s, 8); }

// Copies len bytes from dist bytes back, overlapping allowed. May write up to
// 15 bytes past out + len; the caller guarantees that room.
inline uint8_t *copy_match_fast(uint8_t *out, size_t dist, unsigned len) {
    uint8_t *const stop = out + len;
    const uint8_t *src = out - dist;
    if (dist >= 8) {
        do {
            copy8(out, src);
            copy8(out + 8, src + 8);
            out += 16;
            src += 16;
        } while (out < stop);
    } else if (dist == 1) {
        uint64_t v = uint64_t(*src) * 0x0101010101010101ull;
        do {
            std::memcpy(out, &v, 8);
            std::memcpy(out + 8, &v, 8);
            out += 16;
        } while (out < stop);
    } else {
        // The first 8 bytes one at a time, then 8 at a time from a whole
        // number of periods back (at least 8 bytes, so chunks do not overlap).
        for (unsigned i = 0; i < 8; ++i) out[i] = src[i];
        const size_t stride = dist * ((8 + dist - 1) / dist);
        uint8_t *p = out + 8;
        while (p < stop) {
            copy8(p, p - stride);
            p += 8;
        }
    }
    return stop;
}

constexpr size_t COPY_OVERRUN = 16;
// Output room for one step of the fast loop: two literals, then a 258-byte
// match with its overrun.
constexpr ptrdiff_t FAST_OUT_ROOM = 2 + 258 + COPY_OVERRUN;
// Input for the fast loop's two word refills (the first advances at most 7).
constexpr ptrdiff_t FAST_IN_ROOM = 16;
// Bits one fast step may consume after a refill (which leaves at least 56):
// literal/length code and extra bits, distance code and extra bits.
static_assert(15 + 5 + 15 + 13 <= 56 && 3 * 15 <= 56);

// The last input bytes (fewer than FAST_IN_ROOM) are copied with zero bytes
// after them, so that the fast loop can run to the end of the input. Until a
// padding bit is consumed, the loaded bytes reach at most TAIL_AHEAD past the
// real ones (the buffer holds at most 63 bits), so the loop may still start a
// step there, and that step's two refills read FAST_IN_ROOM - 1 more bytes.
constexpr ptrdiff_t TAIL_AHEAD = 7;
constexpr size_t TAIL_SIZE = 48;
static_assert((FAST_IN_ROOM - 1) + TAIL_AHEAD + FAST_IN_ROOM <= ptrdiff_t(TAIL_SIZE));

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

// Decodes the symbols of one Huffman block up to its end-of-block symbol.
// Returns ok at the end of the block, or the first fault, lack of room or
// lack of input, exactly where a bit-at-a-time decoder meets it. With
// Guess (for the fixed code, whose literals are mostly 8 bits long) the fast
// loop reads each literal's successor entry ahead, as if the literal were as
// long as the one before; a dynamic code's lengths vary too much for that
// to pay.
template <bool Guess>
outcome decode_symbols(bit_input &bin, byte_output &bout, const uint32_t *litlen, unsigned lit_bits,
                       const uint32_t *dist, unsigned dist_bits) {
    // The fixed code's widths are known here.
    const unsigned lb = Guess ? LIT_BITS : lit_bits;
    const unsigned db = Guess ? DIST_BITS : dist_bits;
    const uint8_t *ip = bin.ip;
    const uint8_t *const in_end = bin.end;
    uint64_t buf = bin.buf;
    unsigned cnt = bin.cnt;
    size_t pad = bin.pad;
    uint8_t *const dst = bout.dst;
    uint8_t *out = bout.out;
    uint8_t *const out_end = bout.end;
    outcome result;
    uint8_t tail[TAIL_SIZE];
    unsigned guess = 8;  // the length of the last literal decoded by the fast loop

    for (;;) {
        if (out_end - out >= FAST_OUT_ROOM) {
            // The fast loop reads words while fast_end - ip >= FAST_IN_ROOM:
            // from the input itself, or near its end from a zero-padded copy
            // of the last bytes, consuming padding bits freely; whether it
            // did is settled once the loop stops.
            const uint8_t *fast_end = in_end;
            const uint8_t *tail_from = nullptr;
            ptrdiff_t tail_real = 0;
            if (in_end - ip < FAST_IN_ROOM) {
                tail_from = ip;
                tail_real = in_end - ip;
                std::memset(tail, 0, sizeof tail);
                if (tail_real > 0) std::memcpy(tail, ip, size_t(tail_real));
                // Padding bytes already held (only once the real ones are
                // all loaded) count as zero bytes of the copy.
                ip = tail + ptrdiff_t(pad);
                pad = 0;
                fast_end = tail + tail_real + TAIL_AHEAD + FAST_IN_ROOM;
            }
            bool ended = false;
            // Both limits lie inside their arrays: the tests above saw the room.
            const uint8_t *const ip_last = fast_end - FAST_IN_ROOM;
            uint8_t *const out_last = out_end - FAST_OUT_ROOM;

            // Fast loop: input for a word refill and output room for the
            // longest step are there, so nothing inside needs a bounds check.
            // Anything unusual (a fault on the way) goes to the checked step
            // below with the symbol's bits not yet consumed. Literal entries
            // are never subtable links, so the link is followed only after
            // the literal test.
            while (ip <= ip_last && out <= out_last) {
                // cnt is at most 63 here: every refill stops below 64 bits.
                buf |= load_le64(ip) << cnt;
                ip += (63 - cnt) >> 3;
                cnt |= 56;

                // A literal's entry holds no extra-bit count: its low byte is
                // its code length. With Guess, beside each literal's entry the
                // entry after it is read as if the literal were `guess` bits
                // long: when it is, the next symbol's entry is there without
                // waiting for this one's length.
                uint32_t e = lookup_first(litlen, lb, buf);
                uint32_t after = Guess ? lookup_first(litlen, lb, buf >> guess) : 0;
                // Writes the literal of entry x and returns the next entry.
                auto literal = [&](uint32_t x) {
                    const unsigned n = x & 63;
                    buf >>= n;
                    cnt -= n;
                    *out++ = uint8_t(x >> 16);
                    uint32_t next;
                    if constexpr (Guess) {
                        next = n == guess ? after : lookup_first(litlen, lb, buf);
                        guess = n;
                        after = lookup_first(litlen, lb, buf >> guess);
                    } else {
                        next = lookup_first(litlen, lb, buf);
                    }
                    return next;
                };
                if (e & F_LIT) {
                    e = literal(e);
                    if (e & F_LIT) {
                        e = literal(e);
                        if (e & F_LIT) {
                            literal(e);
                            continue;
                        }
                    }
                    // A match may follow: top the buffer up again (the entry
                    // already read stays valid, refills only add bits above).
                    buf |= load_le64(ip) << cnt;
                    ip += (63 - cnt) >> 3;
                    cnt |= 56;
                }
                if (e & F_SUB) {
                    e = resolve_sub(litlen, lb, e, buf);
                    if (e & F_LIT) {
                        buf >>= (e & 63);
                        cnt -= e & 63;
                        *out++ = uint8_t(e >> 16);
                        continue;
                    }
                }
                if (e & F_EXCEPT) {
                    if (e & F_END) {
                        buf >>= (e & 15);
                        cnt -= e & 15;
                        ended = true;
                    }
                    break;
                }
                const uint64_t start_buf = buf;
                const unsigned start_cnt = cnt;
                unsigned n = e & 15;
                unsigned x = (e >> 4) & 15;
                const unsigned len = (e >> 16) + unsigned(low_bits(buf >> n, x));
                buf >>= n + x;
                cnt -= n + x;

                uint32_t d = lookup(dist, db, buf);
                n = d & 15;
                x = (d >> 4) & 15;
                const size_t distance = (d >> 16) + size_t(low_bits(buf >> n, x));
                if ((d & F_NOCODE) || distance > size_t(out - dst)) {
                    buf = start_buf;
                    cnt = start_cnt;
                    break;
                }
                buf >>= n + x;
                cnt -= n + x;
                out = copy_match_fast(out, distance, len);
            }

            if (tail_from) {
                // Back to input positions: bytes past the real ones were
                // padding. A bit-at-a-time decoder would have stopped at the
                // first padding bit consumed, before anything after it.
                const ptrdiff_t off = ip - tail;
                if (off <= tail_real) {
                    ip = tail_from + off;
                } else {
                    ip = in_end;
                    pad = size_t(off - tail_real);
                }
                if (real_bits(bit_input{ip, in_end, buf, cnt, pad}) < 0) {
                    result = outcome::no_input;
                    goto done;
                }
            }
            if (ended) {
                result = outcome::ok;
                goto done;
            }
            // Stopped for want of input words only: go on from the copy.
            if (!tail_from && in_end - ip < FAST_IN_ROOM && out_end - out >= FAST_OUT_ROOM) continue;
        }

        // Checked step: one symbol with every test, in the order a
        // bit-at-a-time decoder makes them.
        {
            bit_input in{ip, in_end, buf, cnt, pad};
            uint32_t e = 0;
            outcome r = decode_checked(in, litlen, lb, &e);
            if (r == outcome::ok) {
                if (e & F_LIT) {
                    if (out == out_end)
                        r = outcome::no_room;
                    else
                        *out++ = uint8_t(e >> 16);
                } else if (e & F_END) {
                    ip = in.ip, buf = in.buf, cnt = in.cnt, pad = in.pad;
                    result = r;
                    goto done;
                } else if (e & F_BADSYM) {
                    r = outcome::fault;
                } else {
                    unsigned len = (e >> 16) + take_bits(in, (e >> 4) & 15);
                    uint32_t d = 0;
                    if (real_bits(in) < 0)
                        r = outcome::no_input;
                    else
                        r = decode_checked(in, dist, db, &d);
                    if (r == outcome::ok) {
                        size_t distance = (d >> 16) + take_bits(in, (d >> 4) & 15);
                        if (real_bits(in) < 0)
                            r = outcome::no_input;
                        else if (distance > size_t(out - dst))
                            r = outcome::fault;
                        else if (size_t(out_end - out) < len)
                            r = outcome::no_room;
                        else if (size_t(out_end - out) >= len + COPY_OVERRUN)
                            out = copy_match_fast(out, distance, len);
                        else
                            for (unsigned i = 0; i < len; ++i, ++out) *out = *(out - distance);
                    }
                }
            }
            ip = in.ip, buf = in.buf, cnt = in.cnt, pad = in.pad;
            if (r != outcome::ok) {
                result = r;
                goto done;
            }
        }
    }

done:
    bin.ip = ip;
    bin.buf = buf;
    bin.cnt = cnt;
    bin.pad = pad;
    bout.out = out;
    return result;
}

// A stored block, after its three header bits: skips to the byte boundary,
// reads LEN and NLEN and copies LEN bytes.
outcome stored_block(bit_input &in, byte_output &out) {
    drop_bits(in, in.cnt & 7);
    // Hand the whole bytes still held back to the input, padding first.
    size_t held = in.cnt >> 3;
    size_t from_pad = held < in.pad ? held : in.pad;
    in.pad -= from_pad;
    in.ip -= held - from_pad;
    in.buf = 0;
    in.cnt = 0;
    if (in.pad > 0 || in.end - in.ip < 4) return outcome::no_input;
    const unsigned len = in.ip[0] | (unsigned(in.ip[1]) << 8);
    const unsigned nlen = in.ip[2] | (unsigned(in.ip[3]) << 8);
    if (len != (~nlen & 0xFFFFu)) return outcome::fault;
    in.ip += 4;
    if (size_t(in.end - in.ip) < len) return outcome::no_input;
    if (size_t(out.end - out.out) < len) return outcome::no_room;
    if (len) std::memcpy(out.out, in.ip, len);
    out.out += len;
    in.ip += len;
    return outcome::ok;
}

// True when a code that build_table called incomplete may still be used:
// only a single one-bit code (all lengths 0 or 1).
bool usable_incomplete(const uint8_t *lens, unsigned n) {
    for (unsigned s = 0; s < n; ++s)
        if (lens[s] > 1) return false;
    return true;
}

// The first-level width of a table for the code lengths lens[0..n): the
// longest length when it is below `widest` (the table then has no subtable
// and fewer slots to fill: a small block's code is short), else `widest`;
// at least 1. Any width up to `widest` decodes alike.
unsigned first_level_bits(const uint8_t *lens, unsigned n, unsigned widest) {
    unsigned longest = 1;
    for (unsigned s = 0; s < n; ++s) longest = lens[s] > longest ? lens[s] : longest;
    return longest < widest ? longest : widest;
}

// A dynamic block, after its three header bits: reads the code descriptions,
// builds the tables on the stack and decodes the symbols.
outcome dynamic_block(bit_input &in, byte_output &out) {
    const unsigned nlen = take_bits(in, 5) + 257;
    const unsigned ndist = take_bits(in, 5) + 1;
    const unsigned ncode = take_bits(in, 4) + 4;
    if (real_bits(in) < 0) return outcome::no_input;
    if (nlen > MAX_DYN_LITLEN || ndist > MAX_DIST) return outcome::fault;

    // Every length up to `total` is written below before it is read; a
    // repeat may write up to 15 bytes past its end, inside the slack.
    constexpr unsigned REPEAT_SLACK = 16;
    uint8_t lens[MAX_DYN_LITLEN + MAX_DIST + REPEAT_SLACK];
    std::memset(lens, 0, NUM_PRE);
    for (unsigned i = 0; i < ncode; ++i) lens[PRE_ORDER[i]] = uint8_t(take_bits(in, 3));
    if (real_bits(in) < 0) return outcome::no_input;
    uint32_t pre[PRE_TABLE_SIZE];
    if (build_table(pre, PRE_TABLE_SIZE, PRE_BITS, lens, NUM_PRE, PAYLOADS.pre) != 0) return outcome::fault;

    const unsigned total = nlen + ndist;
    unsigned idx = 0;
    while (idx < total) {
        uint32_t e = 0;
        outcome r = decode_checked(in, pre, PRE_BITS, &e);
        if (r != outcome::ok) return r;
        const unsigned sym = e >> 16;
        if (sym < 16) {
            lens[idx++] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (idx == 0) return outcome::fault;
            value = lens[idx - 1];
            repeat = 3 + take_bits(in, 2);
        } else if (sym == 17) {
            repeat = 3 + take_bits(in, 3);
        } else {
            repeat = 11 + take_bits(in, 7);
        }
        if (real_bits(in) < 0) return outcome::no_input;
        if (idx + repeat > total) return outcome::fault;
        // Sixteen bytes at a time: repeats are short, a call would cost more.
        uint8_t run[16];
        std::memset(run, value, sizeof run);
        for (unsigned k = 0; k < repeat; k += 16) std::memcpy(lens + idx + k, run, 16);
        idx += repeat;
    }
    if (lens[256] == 0) return outcome::fault;

    uint32_t litlen[LIT_TABLE_SIZE];
    const unsigned lit_bits = first_level_bits(lens, nlen, LIT_BITS);
    int left = build_table(litlen, LIT_TABLE_SIZE, lit_bits, lens, nlen, PAYLOADS.litlen);
    if (left < 0 || (left > 0 && !usable_incomplete(lens, nlen))) return outcome::fault;
    uint32_t dist[DIST_TABLE_SIZE];
    const unsigned dist_bits = first_level_bits(lens + nlen, ndist, DIST_BITS);
    left = build_table(dist, DIST_TABLE_SIZE, dist_bits, lens + nlen, ndist, PAYLOADS.dist);
    if (left < 0 || (left > 0 && !usable_incomplete(lens + nlen, ndist))) return outcome::fault;

    return decode_symbols<false>(in, out, litlen, lit_bits, dist, dist_bits);
}

// Decodes blocks until the final one ends or decoding stops.
outcome decode_blocks(bit_input &in, byte_output &out) {
    for (;;) {
        const unsigned header = take_bits(in, 3);
        if (real_bits(in) < 0) return outcome::no_input;
        outcome r;
        switch (header >> 1) {
        case 0: r = stored_block(in, out); break;
        case 1: r = decode_symbols<true>(in, out, FIXED.litlen, LIT_BITS, FIXED.dist, DIST_BITS); break;
        case 2: r = dynamic_block(in, out); break;
        default: r = outcome::fault; break;
        }
        if (r != outcome::ok || (header & 1)) return r;
    }
}

}  // namespace

int inflate_decompress_ex(const uint8_t *src, size_t srclen, uint8_t *dst, size_t cap,
                          size_t *produced, inflate_why *why) {
    if (produced) *produced = 0;
    if (why) *why = INFLATE_BAD_INPUT;
    if (src == nullptr || srclen < 2 || cap > INFLATE_MAX_CAP) return -1;
    if ((src[0] & 0x0F) != 8 || (src[1] & 0x20) != 0) return -1;
    if (dst == nullptr) cap = 0;

    bit_input in{src + 2, src + srclen, 0, 0, 0};
    byte_output out{dst, dst, dst + cap};
    switch (decode_blocks(in, out)) {
    case outcome::ok:
    case outcome::fault:
        if (produced) *produced = size_t(out.out - out.dst);
        if (why) *why = INFLATE_DONE;
        return 0;
    case outcome::no_room:
        if (why) *why = INFLATE_NO_ROOM;
        return -1;
    case outcome::no_input:
        break;
    }
    return -1;
}

int inflate_decompress(const uint8_t *src, size_t srclen, uint8_t *dst, size_t cap, size_t *produced) {
    return inflate_decompress_ex(src, srclen, dst, cap, produced, nullptr);
}

}  // namespace plenvo
