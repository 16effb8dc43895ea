// The Flate decoder against zlib on streams zlib writes (every level and
// strategy), and against the bit-at-a-time reference decoder on damaged,
// truncated and random streams with random capacities.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "inflate_reference.h"

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>

using plenvo_test::fast_inflate;
using plenvo_test::reference_inflate;

namespace {

// Data with the mix of a PDF: words, operators, runs, copies and noise.
std::string payload(std::mt19937_64 &rng, size_t n) {
    static const char *const words[] = {"stream ", "endobj\n", "BT /F1 12 Tf ", "0 0 1 rg ", "q 1 0 0 1 ",
                                        "ET\n"};
    std::string s;
    while (s.size() < n) {
        switch (rng() % 4) {
        case 0: s += words[rng() % 6]; break;
        case 1:
            for (int i = int(rng() % 20); i > 0; --i) s += char(rng());
            break;
        case 2: s.append(rng() % 300, char('a' + rng() % 3)); break;
        default:
            if (s.size() > 100) s += s.substr(rng() % (s.size() - 50), rng() % 40);
            break;
        }
    }
    s.resize(n);
    return s;
}

std::string deflate_with(const std::string &data, int level, int strategy, int mem_level) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, mem_level, strategy), Z_OK);
    std::string out(deflateBound(&z, uLong(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string zlib_output(const std::string &packed, size_t size) {
    std::string out(size, '\0');
    uLongf n = uLongf(size);
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &n,
                         reinterpret_cast<const Bytef *>(packed.data()), uLong(packed.size())),
              Z_OK);
    out.resize(n);
    return out;
}

const int STRATEGIES[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

}  // namespace

TEST(InflateDifferential, SameBytesAsZlibAtEveryLevelAndStrategy) {
    std::mt19937_64 rng(1);
    for (size_t size : {size_t(0), size_t(1), size_t(700), size_t(90000)}) {
        const std::string data = payload(rng, size);
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : STRATEGIES) {
                const std::string packed = deflate_with(data, level, strategy, 1 + int(rng() % 9));
                const std::string want = zlib_output(packed, size);
                ASSERT_EQ(want, data);
                plenvo_test::inflate_result got = fast_inflate(packed, size);
                ASSERT_EQ(got.ret, 0) << "level " << level << " strategy " << strategy;
                ASSERT_EQ(std::string(got.out.begin(), got.out.end()), want)
                    << "level " << level << " strategy " << strategy << " size " << size;
            }
        }
    }
}

TEST(InflateDifferential, LargeStreamsWithBlocksOfEveryKind) {
    std::mt19937_64 rng(2);
    const std::string data = payload(rng, 1500000);
    for (int level : {0, 1, 6, 9}) {
        const std::string packed = deflate_with(data, level, Z_DEFAULT_STRATEGY, 8);
        plenvo_test::inflate_result got = fast_inflate(packed, data.size() + 1000);
        ASSERT_EQ(got.ret, 0);
        ASSERT_TRUE(std::string(got.out.begin(), got.out.end()) == data) << "level " << level;
    }
}

TEST(InflateDifferential, SameResultsAsReferenceOnDamagedStreams) {
    std::mt19937_64 rng(3);
    int cases = 0;
    for (int round = 0; round < 400; ++round) {
        const size_t size = rng() % 8 == 0 ? rng() % 60000 : rng() % 3000;
        const std::string data = payload(rng, size);
        const std::string packed = deflate_with(data, int(rng() % 10), STRATEGIES[rng() % 5], 8);
        for (int k = 0; k < 8; ++k) {
            std::string s = packed;
            switch (rng() % 4) {
            case 0: s.resize(rng() % (s.size() + 1)); break;
            case 1:
                for (int i = 1 + int(rng() % 3); i > 0; --i) s[rng() % s.size()] ^= char(1 << (rng() % 8));
                break;
            case 2: s[2 + rng() % (s.size() - 2)] = char(rng()); break;
            default:
                s.resize(2 + rng() % (s.size() - 1));
                for (size_t i = 2; i < s.size(); ++i)
                    if (rng() % 50 == 0) s[i] = char(rng());
                break;
            }
            const size_t cap = rng() % 3 == 0 ? size : rng() % 2 ? rng() % (size + 2) : size + rng() % 100;
            plenvo_test::inflate_result got = fast_inflate(s, cap);
            plenvo_test::inflate_result want = reference_inflate(s, cap);
            ASSERT_EQ(got.ret, want.ret) << "round " << round << " case " << k;
            ASSERT_EQ(got.produced, want.produced) << "round " << round << " case " << k;
            ASSERT_EQ(got.no_room, want.no_room) << "round " << round << " case " << k;
            ASSERT_TRUE(got.out == want.out) << "round " << round << " case " << k;
            ++cases;
        }
    }
    EXPECT_EQ(cases, 3200);
}

// Decodes s from a heap block of exactly its size with both decoders and
// compares: a read past the input is caught by the sanitizer builds.
void expect_same_exact(const std::string &s, size_t cap, const std::string &what) {
    std::unique_ptr<uint8_t[]> src(new uint8_t[s.size() ? s.size() : 1]);
    if (!s.empty()) std::memcpy(src.get(), s.data(), s.size());
    ASSERT_TRUE(fast_inflate(src.get(), s.size(), cap) == reference_inflate(src.get(), s.size(), cap))
        << what << " length " << s.size() << " cap " << cap;
}

// Short streams of each block kind, ending at every byte: the last 16 input
// bytes are decoded by the fast loop from a zero-padded copy, and a cut or a
// damaged bit there must give exactly the reference decoder's result. The
// capacities cross the fast loop's output margin (276 bytes) at every step.
TEST(InflateDifferential, ShortStreamsAtEveryInputAndOutputBoundary) {
    std::mt19937_64 rng(5);
    std::vector<std::pair<std::string, std::string>> streams;  // packed, decoded
    const std::string text = "BT /F1 12 Tf 72 770 Td (Page 1 of 50000: the quick brown fox.) Tj ET\n";
    for (int strategy : {Z_FIXED, Z_DEFAULT_STRATEGY, Z_HUFFMAN_ONLY, Z_RLE}) {
        streams.emplace_back(deflate_with(text, 6, strategy, 8), text);
        const std::string mixed = payload(rng, 40 + rng() % 300);
        streams.emplace_back(deflate_with(mixed, 9, strategy, 8), mixed);
    }
    const std::string tiny = "q Q\n";
    streams.emplace_back(deflate_with(tiny, 6, Z_FIXED, 8), tiny);
    streams.emplace_back(deflate_with(std::string(600, 'x'), 6, Z_FIXED, 8), std::string(600, 'x'));
    streams.emplace_back(deflate_with(text, 0, Z_DEFAULT_STRATEGY, 8), text);

    for (const auto &[packed, decoded] : streams) {
        ASSERT_EQ(zlib_output(packed, decoded.size()), decoded);
        const size_t size = decoded.size();
        for (size_t n = 0; n <= packed.size(); ++n) {
            const std::string cut = packed.substr(0, n);
            for (size_t cap : {size_t(0), size / 2, size - 1, size, size + 1, size + 275, size + 276,
                               size + 277, size + 300})
                expect_same_exact(cut, cap, "cut");
        }
        for (size_t cap = 0; cap <= size + 300; ++cap) expect_same_exact(packed, cap, "whole");
        const size_t from = packed.size() > 26 ? packed.size() - 24 : 2;
        for (size_t i = from; i < packed.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                std::string s = packed;
                s[i] = char(uint8_t(s[i]) ^ (1u << bit));
                for (size_t cap : {size - 1, size, size + 276, size + 1000})
                    expect_same_exact(s, cap, "flip");
            }
        }
    }
}

// Streams of 2 to 40 bytes: the whole input lies in the padded copy.
TEST(InflateDifferential, VeryShortRandomStreamsOfEveryLength) {
    std::mt19937_64 rng(6);
    for (int round = 0; round < 4000; ++round) {
        std::string s = "\x78\x9C";
        const size_t n = rng() % 39;
        for (size_t i = 0; i < n; ++i) s += char(rng());
        if (n > 0) s[2] = char((uint8_t(s[2]) & ~6) | (rng() % 3 ? 2 : 4));
        expect_same_exact(s, rng() % 2 ? rng() % 40 : 276 + rng() % 40, "random");
    }
}

TEST(InflateDifferential, SameResultsAsReferenceOnRandomBits) {
    std::mt19937_64 rng(4);
    for (int round = 0; round < 20000; ++round) {
        std::string s = "\x78\x9C";
        const size_t n = rng() % 64;
        for (size_t i = 0; i < n; ++i) s += char(rng());
        // Mostly dynamic or fixed blocks: the first three bits choose.
        if (n > 0) s[2] = char((uint8_t(s[2]) & ~6) | (rng() % 2 ? 4 : 2));
        const size_t cap = rng() % 300;
        ASSERT_TRUE(fast_inflate(s, cap) == reference_inflate(s, cap)) << "round " << round;
    }
}

#endif
