// The Flate decoder on hand-built bit streams, one group per failure class.
// Every case is also checked against the bit-at-a-time reference decoder.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "inflate/inflate.h"
#include "inflate_reference.h"
#include "support/pdf_builder.h"

using plenvo_test::bit_writer;
using plenvo_test::fast_inflate;
using plenvo_test::reference_inflate;

namespace {

const std::string HEAD = "\x78\x9C";
enum expect_kind { OK, NO_INPUT, NO_ROOM };

// Decodes `stream` with capacity cap and checks the result: for OK a return
// of 0 with exactly `bytes`; otherwise -1, nothing produced, and the reason.
void expect(const std::string &stream, size_t cap, expect_kind kind, const std::string &bytes = "") {
    plenvo_test::inflate_result got = fast_inflate(stream, cap);
    if (kind == OK) {
        EXPECT_EQ(got.ret, 0);
        EXPECT_EQ(std::string(got.out.begin(), got.out.end()), bytes);
    } else {
        EXPECT_EQ(got.ret, -1);
        EXPECT_EQ(got.produced, 0u);
        EXPECT_EQ(got.no_room, kind == NO_ROOM);
    }
    EXPECT_TRUE(got == reference_inflate(stream, cap)) << "differs from the reference decoder";
}

// A stored block holding `data`.
bit_writer &stored(bit_writer &w, bool final, const std::string &data) {
    w.put(final, 1).put(0, 2).align();
    std::string hdr = {char(data.size() & 0xFF), char(data.size() >> 8), char(~data.size() & 0xFF),
                       char((~data.size() >> 8) & 0xFF)};
    return w.raw(hdr + data);
}

// Fixed-code literals.
bit_writer &literals(bit_writer &w, const std::string &s) {
    for (unsigned char c : s) w.fixed_sym(c);
    return w;
}

// The stream with `extra` zero bytes appended, cut to its first n bytes.
std::string cut(const bit_writer &w, size_t n, size_t extra = 8) {
    return (HEAD + w.bytes + std::string(extra, '\0')).substr(0, n);
}

// Bytes of a stream whose last code starts at bit `at` so that the code has
// 15 bits of input (enough = true) or at most 14.
size_t bytes_for_15_bits(size_t at, bool enough) {
    return 2 + (enough ? (at + 15 + 7) / 8 : (at + 14) / 8);
}

// The code-length code used by dynamic_header: lengths 0-15 get 5 bits, 16
// gets 2, 17 and 18 get 3 (a complete code).
const std::vector<uint8_t> PRECODE = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 2, 3, 3};
const unsigned ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

bit_writer &precode_sym(bit_writer &w, unsigned sym) {
    static const std::vector<unsigned> codes = plenvo_test::canonical_codes(PRECODE);
    return w.code(codes[sym], PRECODE[sym]);
}

// Dynamic block header up to and including the code-length code `pre`.
bit_writer &dynamic_start(bit_writer &w, bool final, size_t nlit, size_t ndist,
                          const std::vector<uint8_t> &pre) {
    w.put(final, 1).put(2, 2).put(unsigned(nlit - 257), 5).put(unsigned(ndist - 1), 5).put(15, 4);
    for (unsigned i = 0; i < 19; ++i) w.put(pre[ORDER[i]], 3);
    return w;
}

// Dynamic block header with the given code lengths, each written as a
// plain code-length symbol (no repeats).
bit_writer &dynamic_header(bit_writer &w, bool final, const std::vector<uint8_t> &lit,
                           const std::vector<uint8_t> &dist) {
    dynamic_start(w, final, lit.size(), dist.size(), PRECODE);
    for (uint8_t l : lit) precode_sym(w, l);
    for (uint8_t l : dist) precode_sym(w, l);
    return w;
}

// Literal/length lengths: 'a' 1 bit, end of block 2, length 3 (257) 2.
std::vector<uint8_t> small_litlen() {
    std::vector<uint8_t> lit(258, 0);
    lit['a'] = 1;
    lit[256] = 2;
    lit[257] = 2;
    return lit;
}
// Their codes: 'a' = 0, end = 10, length = 11.

}  // namespace

// --- Header ---------------------------------------------------------------

TEST(InflateHeader, SourcesTooShortFail) {
    expect("", 10, NO_INPUT);
    expect("\x78", 10, NO_INPUT);
    expect(HEAD, 10, NO_INPUT);  // the first block header cannot be read
}

TEST(InflateHeader, OnlyMethodAndPresetDictionaryAreChecked) {
    bit_writer w;
    stored(w, true, "ok");
    const std::vector<std::string> heads = {"\x78\x9C", "\x78\xDA", "\x78\x01", std::string("\x08\x00", 2),
                                            "\xF8\x01"};
    for (const std::string &head : heads)
        expect(head + w.bytes, 2, OK, "ok");  // 08 00 fails the check value, F8 has window 15
    expect("\x79\x9C" + w.bytes, 2, NO_INPUT);  // method 9
    expect("\x77\x9C" + w.bytes, 2, NO_INPUT);  // method 7
    expect("\x78\xBC" + w.bytes, 2, NO_INPUT);  // preset dictionary
}

TEST(InflateHeader, NothingAfterTheFinalBlockIsRead) {
    bit_writer w;
    stored(w, true, "hello");
    expect(HEAD + w.bytes + "\xDE\xAD\xBE\xEF trailing garbage", 5, OK, "hello");
}

TEST(InflateHeader, CapacityUpTo2Pow30) {
    const std::string empty_stream = HEAD + std::string("\x01\x00\x00\xFF\xFF", 5);
    const size_t limit = size_t(1) << 30;
    std::unique_ptr<uint8_t[]> big(new (std::nothrow) uint8_t[limit + 1]);
    if (!big) GTEST_SKIP() << "cannot reserve 1 GiB of address space";
    auto src = reinterpret_cast<const uint8_t *>(empty_stream.data());
    size_t produced = 99;
    plenvo::inflate_why why = plenvo::INFLATE_NO_ROOM;
    EXPECT_EQ(plenvo::inflate_decompress_ex(src, empty_stream.size(), big.get(), limit, &produced, &why), 0);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(why, plenvo::INFLATE_DONE);
    produced = 99;
    EXPECT_EQ(plenvo::inflate_decompress_ex(src, empty_stream.size(), big.get(), limit + 1, &produced, &why), -1);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(why, plenvo::INFLATE_BAD_INPUT);
}

// --- Stored blocks --------------------------------------------------------

TEST(InflateStored, EmptyFinalBlockAndAlignmentAfterCodedBlock) {
    bit_writer e;
    stored(e, true, "");
    expect(HEAD + e.bytes, 0, OK, "");
    // A fixed block ends mid-byte (18 bits); the stored block after it
    // starts at the next byte boundary.
    bit_writer w;
    w.put(0, 1).put(1, 2);
    literals(w, "a").fixed_sym(256);
    stored(w, true, "bc");
    expect(HEAD + w.bytes, 3, OK, "abc");
}

TEST(InflateStored, LengthChecks) {
    bit_writer w;
    stored(w, false, "xy");
    w.put(1, 1).put(0, 2).align().raw(std::string("\x03\x00\xFC\xFE" "abc", 7));  // NLEN wrong in its high byte
    expect(HEAD + w.bytes, 10, OK, "xy");

    bit_writer s;
    stored(s, true, "hello");  // 1 header byte, 4 length bytes, 5 data bytes
    expect(HEAD + s.bytes.substr(0, 4), 10, NO_INPUT);   // 3 of the 4 length bytes
    expect(HEAD + s.bytes.substr(0, 9), 10, NO_INPUT);   // 4 of the 5 data bytes
    expect(HEAD + s.bytes.substr(0, 9), 2, NO_INPUT);    // missing input is found before lack of room
    expect(HEAD + s.bytes, 4, NO_ROOM);
    expect(HEAD + s.bytes, 5, OK, "hello");
}

// --- Capacity -------------------------------------------------------------

TEST(InflateCapacity, ExactFitAndOneOver) {
    bit_writer w;  // 'x', then 10 bytes at distance 1: eleven x
    w.put(1, 1).put(1, 2);
    literals(w, "x").fixed_match(10, 1).fixed_sym(256);
    const std::string s = HEAD + w.bytes;
    expect(s, 11, OK, std::string(11, 'x'));
    expect(s, 12, OK, std::string(11, 'x'));
    expect(s, 10, NO_ROOM);  // the match would end past the capacity, though 9 of it fit
    expect(s, 1, NO_ROOM);
    expect(s, 0, NO_ROOM);  // the literal meets a full buffer

    bit_writer l;
    l.put(1, 1).put(1, 2);
    literals(l, "abc").fixed_sym(256);
    expect(HEAD + l.bytes, 3, OK, "abc");
    expect(HEAD + l.bytes, 2, NO_ROOM);
}

#if defined(PLENVO_HAVE_ZLIB)
TEST(InflateCapacity, ZlibStreamExactFit) {
    std::string data;
    for (int i = 0; i < 40000; ++i) data += char("the quick brown fox "[i % 20] ^ (i % 7 == 0 ? i & 0x1F : 0));
    const std::string z = plenvo_test::zlib_compress(data, 6);
    expect(z, data.size(), OK, data);
    expect(z, data.size() - 1, NO_ROOM);
}

// --- Truncation -----------------------------------------------------------

TEST(InflateTruncation, EveryCutBeforeTheEndRunsOutOfInput) {
    std::string data;
    for (int i = 0; i < 6000; ++i) data += char(i % 251 < 120 ? 'a' + (i * 7 % 26) : i * 31 % 256);
    for (int level : {0, 1, 6}) {
        const std::string z = plenvo_test::zlib_compress(data, level);
        const size_t deflate_end = z.size() - 4;  // Adler-32 follows
        for (size_t n = 0; n < deflate_end; ++n) {
            plenvo_test::inflate_result r = fast_inflate(z.substr(0, n), data.size());
            ASSERT_EQ(r.ret, -1) << "level " << level << " cut at " << n;
            ASSERT_EQ(r.produced, 0u);
            ASSERT_FALSE(r.no_room);
        }
        expect(z.substr(0, deflate_end), data.size(), OK, data);
    }
}
#endif

TEST(InflateTruncation, CutInsideCodesAndExtraBits) {
    bit_writer w;  // 'q', then 300 bytes at distance 1 as 258 + 42
    w.put(1, 1).put(1, 2);
    literals(w, "q").fixed_match(258, 1).fixed_match(42, 1).fixed_sym(256);
    const std::string s = HEAD + w.bytes;
    for (size_t n = 2; n < s.size(); ++n) expect(s.substr(0, n), 400, NO_INPUT);
    expect(s, 400, OK, std::string(301, 'q'));
}

// --- Data faults: 0 with the bytes written before -------------------------

TEST(InflateDataFault, CorruptSecondBlockKeepsFirstBlockBytes) {
    bit_writer w;
    stored(w, false, "first");
    w.put(1, 1).put(1, 2);
    literals(w, "se").fixed_match(3, 100).fixed_sym(256);  // 100 > 7 bytes written
    expect(HEAD + w.bytes, 100, OK, "firstse");

    bit_writer b;
    stored(b, false, "keep");
    b.put(1, 1).put(3, 2);  // block type 3
    expect(cut(b, 99), 100, OK, "keep");
    bit_writer c;
    c.put(1, 1).put(3, 2);
    expect(cut(c, 99), 100, OK, "");
}

TEST(InflateDataFault, DistanceFarBack) {
    bit_writer ok, far, room;
    for (bit_writer *w : {&ok, &far, &room}) literals(w->put(1, 1).put(1, 2), "abc");
    ok.fixed_match(3, 3).fixed_sym(256);
    expect(HEAD + ok.bytes, 6, OK, "abcabc");
    far.fixed_match(3, 4).fixed_sym(256);
    expect(HEAD + far.bytes, 6, OK, "abc");
    room.fixed_match(10, 5).fixed_sym(256);  // too far back is found before lack of room
    expect(HEAD + room.bytes, 4, OK, "abc");
}

TEST(InflateDataFault, LengthSymbols286And287) {
    for (unsigned sym : {286u, 287u}) {
        bit_writer w;
        w.put(1, 1).put(1, 2);
        literals(w, "z").fixed_sym(sym);
        expect(cut(w, 99), 10, OK, "z");
    }
}

TEST(InflateDataFault, FixedDistanceCodes30And31NeedFifteenBits) {
    for (unsigned code : {30u, 31u}) {
        bit_writer w;
        w.put(1, 1).put(1, 2);
        literals(w, "z").fixed_sym(257);
        const size_t at = w.bit_size();
        w.code(code, 5);
        expect(cut(w, bytes_for_15_bits(at, true)), 10, OK, "z");
        expect(cut(w, bytes_for_15_bits(at, false)), 10, NO_INPUT);
    }
}

// --- Runs -----------------------------------------------------------------

TEST(InflateRuns, LiteralThenLongestMatchAtDistanceOne) {
    bit_writer w;
    w.put(1, 1).put(1, 2);
    literals(w, "q").fixed_match(258, 1).fixed_sym(256);
    expect(HEAD + w.bytes, 259, OK, std::string(259, 'q'));
    expect(HEAD + w.bytes, 258, NO_ROOM);
}

TEST(InflateRuns, OverlappingMatchesAtEveryShortDistance) {
    const std::string seed = "0123456789ABCDEFGHIJ";
    for (unsigned d = 1; d <= 20; ++d) {
        for (unsigned len : {3u, 9u, 17u, 258u}) {
            bit_writer w;
            w.put(1, 1).put(1, 2);
            literals(w, seed.substr(0, d)).fixed_match(len, d).fixed_sym(256);
            std::string want = seed.substr(0, d);
            for (unsigned i = 0; i < len; ++i) want += want[want.size() - d];
            expect(HEAD + w.bytes, want.size(), OK, want);
            expect(HEAD + w.bytes, want.size() + 300, OK, want);
        }
    }
}

// --- Code descriptions of dynamic blocks ----------------------------------

TEST(InflateCodes, SingleOneBitCodesAreAccepted) {
    // Literal/length code with only the end of block, 1 bit; no distance code.
    std::vector<uint8_t> eob_only(257, 0);
    eob_only[256] = 1;
    bit_writer w;
    dynamic_header(w, false, eob_only, {0}).code(0, 1);
    stored(w, true, "z");
    expect(HEAD + w.bytes, 5, OK, "z");

    // Bit pattern 1 is no code: a data fault once 15 bits are there.
    bit_writer bad;
    stored(bad, false, "ab");
    dynamic_header(bad, true, eob_only, {0});
    const size_t at = bad.bit_size();
    bad.code(1, 1);
    expect(cut(bad, bytes_for_15_bits(at, true)), 5, OK, "ab");
    expect(cut(bad, bytes_for_15_bits(at, false)), 5, NO_INPUT);

    // A single one-bit distance code.
    bit_writer d;
    dynamic_header(d, true, small_litlen(), {1}).code(0, 1).code(3, 2).code(0, 1).code(2, 2);
    expect(HEAD + d.bytes, 10, OK, "aaaa");
}

TEST(InflateCodes, EmptyDistanceCodeUntilAMatchNeedsIt) {
    bit_writer w;
    dynamic_header(w, true, small_litlen(), {0}).code(0, 1).code(0, 1).code(2, 2);
    expect(HEAD + w.bytes, 10, OK, "aa");

    bit_writer m;
    dynamic_header(m, true, small_litlen(), {0}).code(0, 1).code(3, 2);
    const size_t at = m.bit_size();
    expect(cut(m, bytes_for_15_bits(at, true)), 10, OK, "a");
    expect(cut(m, bytes_for_15_bits(at, false)), 10, NO_INPUT);
}

TEST(InflateCodes, OverSubscribedAndIncompleteCodesAreFaults) {
    std::vector<uint8_t> over = small_litlen();
    over['b'] = 1;  // 1/2 + 1/2 + 1/4 + 1/4
    std::vector<uint8_t> incomplete(257, 0);
    incomplete['a'] = 2;
    incomplete[256] = 2;
    struct {
        std::vector<uint8_t> lit, dist;
    } cases[] = {{over, {1}}, {incomplete, {1}}, {small_litlen(), {1, 1, 1}}, {small_litlen(), {2, 2}}};
    for (const auto &c : cases) {
        bit_writer w;
        stored(w, false, "pre");
        dynamic_header(w, true, c.lit, c.dist).code(0, 1).code(2, 2);
        expect(cut(w, 999), 10, OK, "pre");
    }
}

TEST(InflateCodes, BadCodeLengthCodes) {
    std::vector<uint8_t> over(19, 0), incomplete(19, 0);
    over[0] = over[1] = over[2] = 1;
    incomplete[0] = incomplete[1] = 2;
    for (const auto *pre : {&over, &incomplete}) {
        bit_writer w;
        stored(w, false, "pre");
        dynamic_start(w, true, 258, 1, *pre);
        expect(cut(w, 999), 10, OK, "pre");
    }
    // No code-length code at all: reading the first length fails after 15 bits.
    const std::vector<uint8_t> none(19, 0);
    bit_writer w;
    stored(w, false, "pre");
    dynamic_start(w, true, 258, 1, none);
    const size_t at = w.bit_size();
    expect(cut(w, bytes_for_15_bits(at, true)), 10, OK, "pre");
    expect(cut(w, bytes_for_15_bits(at, false)), 10, NO_INPUT);
}

TEST(InflateCodes, RepeatsAndMissingEndOfBlock) {
    auto header_start = [](bit_writer &w) {
        stored(w, false, "pre");
        dynamic_start(w, true, 258, 1, PRECODE);  // 259 lengths
    };
    bit_writer first;  // 16 with no previous length
    header_start(first);
    precode_sym(first, 16).put(0, 2);
    expect(cut(first, 999), 10, OK, "pre");
    // The fault is found before the repeat count is read: here the input
    // ends one bit after the 16 (a 9-bit literal sets the alignment).
    bit_writer early;
    early.put(0, 1).put(1, 2).fixed_sym(0xC8).fixed_sym(256);
    dynamic_start(early, true, 258, 1, PRECODE);
    precode_sym(early, 16);
    ASSERT_EQ(early.bit_size() % 8, 7u);
    expect(HEAD + early.bytes, 10, OK, "\xC8");

    bit_writer past;  // 138 + 138 zeros > 259 lengths
    header_start(past);
    precode_sym(past, 18).put(127, 7);
    precode_sym(past, 18).put(127, 7);
    expect(cut(past, 999), 10, OK, "pre");

    std::vector<uint8_t> no_eob = small_litlen();
    no_eob[256] = 0;
    no_eob['b'] = 2;
    bit_writer eob;
    stored(eob, false, "pre");
    dynamic_header(eob, true, no_eob, {1});
    expect(cut(eob, 999), 10, OK, "pre");
}

TEST(InflateCodes, TooManyCodes) {
    for (unsigned hlit : {29u, 30u, 31u}) {
        for (unsigned hdist : {29u, 30u, 31u}) {
            if (hlit == 29 && hdist == 29) continue;  // 286 and 30 are allowed
            bit_writer w;
            stored(w, false, "pre");
            w.put(1, 1).put(2, 2).put(hlit, 5).put(hdist, 5).put(0, 4);
            expect(cut(w, 999), 10, OK, "pre");
        }
    }
}
