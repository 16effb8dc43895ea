// The content filter decoders: known vectors, damaged data, limits, chains.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "inflate/filters.h"
#include "support/encoders.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::ascii85_encode;
using plenvo_test::hex_encode;
using plenvo_test::lzw_encode;
using plenvo_test::png_encode;

namespace {

std::vector<uint8_t> bytes(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v) out.push_back(static_cast<uint8_t>(x));
    return out;
}
std::string text(const std::vector<uint8_t> &v) { return std::string(v.begin(), v.end()); }
const uint8_t *ptr(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

std::string random_text(size_t n, unsigned seed, int alphabet) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s) c = static_cast<char>('a' + rng() % alphabet);
    return s;
}

filter_parms parms(int predictor, int colors, int bpc, int columns) {
    filter_parms p;
    p.predictor = predictor;
    p.colors = colors;
    p.bits_per_component = bpc;
    p.columns = columns;
    return p;
}

}  // namespace

// ---- ASCIIHex ----

TEST(AsciiHex, DecodesPairsInEitherCase) {
    std::vector<uint8_t> out;
    std::string in = "48656C6c6F>";
    ASSERT_TRUE(asciihex_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "Hello");
}

TEST(AsciiHex, IgnoresWhiteSpaceAndStopsAtEndMarker) {
    std::vector<uint8_t> out;
    std::string in = std::string(" 48 65\r\n6C\t6C\f6F", 17) + std::string("\0", 1) + "> 4142 not hex";
    ASSERT_TRUE(asciihex_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "Hello");
}

TEST(AsciiHex, OddDigitCountPadsWithZero) {
    std::vector<uint8_t> out;
    std::string in = "7>";
    ASSERT_TRUE(asciihex_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0x70}));
    in = "41 4 2 4";  // no end marker, odd count
    ASSERT_TRUE(asciihex_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0x41, 0x42, 0x40}));
}

TEST(AsciiHex, InvalidCharacterFails) {
    std::vector<uint8_t> out;
    std::string in = "414G>";
    EXPECT_FALSE(asciihex_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
}

TEST(AsciiHex, OutputOverLimitFails) {
    std::vector<uint8_t> out;
    std::string in = "41424344>";
    EXPECT_FALSE(asciihex_decode(ptr(in), in.size(), out, 3));
    ASSERT_TRUE(asciihex_decode(ptr(in), in.size(), out, 4));
    EXPECT_EQ(text(out), "ABCD");
}

// ---- ASCII85 ----

TEST(Ascii85, KnownVectorWithFinalPartialGroup) {
    // "Hello world": two full groups and a last group of three bytes in four characters.
    std::vector<uint8_t> out;
    std::string in = "87cURD]j7BEbo7~>";
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "Hello world");
}

TEST(Ascii85, WhiteSpaceIgnoredAndEndMarkerEndsData) {
    std::vector<uint8_t> out;
    std::string in = "87cU\r\nRD]j7 BEb\to7~> anything after";
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "Hello world");
    in = "87cURD]j7BEbo7~ \n>";  // white space inside the end marker
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "Hello world");
}

TEST(Ascii85, ZStandsForFourZeroBytesBetweenGroups) {
    std::vector<uint8_t> out;
    std::string in = "z87cURz~>";
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0, 0, 0, 0, 'H', 'e', 'l', 'l', 0, 0, 0, 0}));
    in = "!!!!!";  // the long form of the same four zeros
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0, 0, 0, 0}));
}

TEST(Ascii85, ZInsideAGroupFails) {
    std::vector<uint8_t> out;
    std::string in = "87z~>";
    EXPECT_FALSE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
}

TEST(Ascii85, InvalidCharactersFail) {
    std::vector<uint8_t> out;
    for (std::string in : {"87cUv~>", "87cU{~>", "87cURD~x"}) {
        EXPECT_FALSE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT)) << in;
    }
}

TEST(Ascii85, GroupAboveThirtyTwoBitsFails) {
    std::vector<uint8_t> out;
    std::string in = "s8W-!";  // 2^32 - 1
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    in = "s8W-\"";  // 2^32
    EXPECT_FALSE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
}

TEST(Ascii85, PartialGroupsGiveOneByteLessThanCharacters) {
    const std::string data = "\x01\x02\x03\xfe\xff\x80\x7f";
    for (size_t n = 0; n <= data.size(); ++n) {
        std::string in = ascii85_encode(data.substr(0, n));
        std::vector<uint8_t> out;
        ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT)) << n;
        EXPECT_EQ(text(out), data.substr(0, n)) << n;
    }
}

TEST(Ascii85, RoundTripsRandomBytes) {
    std::mt19937 rng(7);
    std::string data(10007, '\0');
    for (auto &c : data) c = static_cast<char>(rng() % 4 ? rng() : 0);
    std::string in = ascii85_encode(data);
    std::vector<uint8_t> out;
    ASSERT_TRUE(ascii85_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
}

// ---- RunLength ----

TEST(RunLength, LiteralAndRepeatRuns) {
    std::vector<uint8_t> out;
    auto in = bytes({0xFC, 'A', 0x02, 'B', 'C', 'D', 0x80, 'X', 'Y'});
    ASSERT_TRUE(runlength_decode(in.data(), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "AAAAABCD");
}

TEST(RunLength, LongestRuns) {
    std::vector<uint8_t> in = {0x81, 'z', 0x7F};
    for (int i = 0; i < 128; ++i) in.push_back(static_cast<uint8_t>(i));
    in.push_back(0x80);
    std::vector<uint8_t> out;
    ASSERT_TRUE(runlength_decode(in.data(), in.size(), out, FILTER_MAX_OUT));
    ASSERT_EQ(out.size(), 256u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 128), std::string(128, 'z'));
    for (int i = 0; i < 128; ++i) EXPECT_EQ(out[128 + i], i);
}

TEST(RunLength, RunCutShortKeepsWhatIsThere) {
    std::vector<uint8_t> out;
    auto in = bytes({0x01, 'a', 'b', 0x05, 'c', 'd'});
    ASSERT_TRUE(runlength_decode(in.data(), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "abcd");
    in = bytes({0x00, 'a', 0xFE});  // a repeat without its byte
    ASSERT_TRUE(runlength_decode(in.data(), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "a");
}

TEST(RunLength, OutputOverLimitFails) {
    std::vector<uint8_t> in;
    for (int i = 0; i < 100; ++i) {
        in.push_back(0x81);
        in.push_back('x');
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(runlength_decode(in.data(), in.size(), out, 128 * 100 - 1));
    ASSERT_TRUE(runlength_decode(in.data(), in.size(), out, 128 * 100));
    EXPECT_EQ(out.size(), 12800u);
}

// ---- LZW ----

TEST(Lzw, ExampleOfTheStandard) {
    // Codes 256 45 258 258 65 259 66 257 in nine bits each.
    auto in = bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01});
    std::vector<uint8_t> out;
    ASSERT_TRUE(lzw_decode(in.data(), in.size(), 1, out, FILTER_MAX_OUT));
    EXPECT_EQ(out, bytes({0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x41, 0x2D, 0x2D, 0x2D, 0x42}));
}

TEST(Lzw, RoundTripsAcrossEveryCodeWidthWithEarlyChange) {
    // Enough distinct strings to pass 512, 1024, 2048 entries and a table reset.
    const std::string data = random_text(60000, 1, 7);
    std::vector<uint8_t> enc = lzw_encode(data, 1), out;
    ASSERT_TRUE(lzw_decode(enc.data(), enc.size(), 1, out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
}

TEST(Lzw, RoundTripsWithoutEarlyChange) {
    const std::string data = random_text(60000, 2, 5);
    std::vector<uint8_t> enc = lzw_encode(data, 0), out;
    ASSERT_TRUE(lzw_decode(enc.data(), enc.size(), 0, out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
    // The same codes read with the other width rule come out wrong.
    std::vector<uint8_t> wrong;
    lzw_decode(enc.data(), enc.size(), 1, wrong, FILTER_MAX_OUT);
    EXPECT_NE(text(wrong), data);
}

TEST(Lzw, RepeatedByteUsesTheCodeBeingDefined) {
    const std::string data(5000, 'Q');
    std::vector<uint8_t> enc = lzw_encode(data, 1), out;
    ASSERT_TRUE(lzw_decode(enc.data(), enc.size(), 1, out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
}

TEST(Lzw, MissingEndCodeKeepsTheData) {
    std::vector<uint8_t> enc = lzw_encode("ABABABABAB", 1), out;
    enc.pop_back();  // loses the end code (and the last bits of the data)
    ASSERT_TRUE(lzw_decode(enc.data(), enc.size(), 1, out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out).substr(0, 6), "ABABAB");
}

TEST(Lzw, CodeBeyondTheTableStopsWithWhatWasDecoded) {
    // Nine-bit codes 256 'A' 'B' 300 'C' 257: code 300 is not in the table
    // (which holds 258 only), so 'C' is never reached.
    auto in = bytes({0x80, 0x10, 0x48, 0x52, 0xC2, 0x1C, 0x04});
    std::vector<uint8_t> out;
    ASSERT_TRUE(lzw_decode(in.data(), in.size(), 1, out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "AB");
}

TEST(Lzw, OutputOverLimitFails) {
    const std::string data(100000, 'Q');
    std::vector<uint8_t> enc = lzw_encode(data, 1), out;
    EXPECT_FALSE(lzw_decode(enc.data(), enc.size(), 1, out, 99999));
    EXPECT_TRUE(lzw_decode(enc.data(), enc.size(), 1, out, 100000));
}

TEST(Lzw, QpdfAgreesWithTheTestEncoder) {
    // Checks the test's own encoder against an independent decoder.
    if (!plenvo_test::have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    const std::string data = random_text(20000, 3, 6);
    for (int early : {0, 1}) {
        std::vector<uint8_t> enc = lzw_encode(data, early);
        plenvo_test::pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        b.add_stream(3, text(enc),
                     "/Filter /LZWDecode /DecodeParms << /EarlyChange " + std::to_string(early) + " >>");
        std::string dir = plenvo_test::temp_dir();
        std::string path = plenvo_test::write_file(dir, "lzw.pdf", b.build());
        std::string out;
        ASSERT_EQ(plenvo_test::run_command("qpdf --show-object=3 --filtered-stream-data " + path +
                                               " 2>/dev/null",
                                           &out),
                  0);
        EXPECT_EQ(out, data) << "early change " << early;
    }
}

// ---- Flate ----

#if defined(PLENVO_HAVE_ZLIB)
TEST(Flate, DecodesZlibData) {
    const std::string data = random_text(30000, 4, 20);
    const std::string z = plenvo_test::zlib_compress(data);
    std::vector<uint8_t> out;
    ASSERT_TRUE(flate_decode(ptr(z), z.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
}

TEST(Flate, ContentGrowingFarMoreThanTwentyTimesDecodes) {
    std::string data;
    while (data.size() < 4000000) data += "0 0 m 100 100 l S\n";
    const std::string z = plenvo_test::zlib_compress(data, 9);
    ASSERT_GT(data.size(), z.size() * 200);
    std::vector<uint8_t> out;
    ASSERT_TRUE(flate_decode(ptr(z), z.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), data);
}

TEST(Flate, OutputOverLimitFails) {
    const std::string data(1 << 20, 'x');
    const std::string z = plenvo_test::zlib_compress(data);
    std::vector<uint8_t> out;
    EXPECT_FALSE(flate_decode(ptr(z), z.size(), out, (1 << 20) - 1));
    ASSERT_TRUE(flate_decode(ptr(z), z.size(), out, 1 << 20));
    EXPECT_EQ(out.size(), size_t(1) << 20);
}

TEST(Flate, TruncatedDataFails) {
    const std::string data = random_text(30000, 5, 20);
    const std::string z = plenvo_test::zlib_compress(data);
    std::vector<uint8_t> out;
    EXPECT_FALSE(flate_decode(ptr(z), z.size() / 2, out, FILTER_MAX_OUT));
}

TEST(Flate, AllocVariantHandsOutAMallocBlock) {
    const std::string z = plenvo_test::zlib_compress("q 1 0 0 1 0 0 cm Q\n");
    size_t n = 0;
    uint8_t *p = flate_decode_alloc(ptr(z), z.size(), FILTER_MAX_OUT, &n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(p), n), "q 1 0 0 1 0 0 cm Q\n");
    std::free(p);
}
#endif

TEST(Flate, DamagedSecondBlockKeepsTheFirst) {
    // A stored block "abc", then a block of the reserved type 3.
    auto in = bytes({0x78, 0x01, 0x00, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c', 0x07});
    std::vector<uint8_t> out;
    ASSERT_TRUE(flate_decode(in.data(), in.size(), out, FILTER_MAX_OUT));
    EXPECT_EQ(text(out), "abc");
}

TEST(Flate, NotZlibDataFails) {
    std::vector<uint8_t> out;
    std::string in = "this is not compressed";
    EXPECT_FALSE(flate_decode(ptr(in), in.size(), out, FILTER_MAX_OUT));
    EXPECT_FALSE(flate_decode(ptr(in), 0, out, FILTER_MAX_OUT));
}

// ---- Predictors ----

TEST(Predictor, PngRowsOfEachType) {
    // Columns 3, one 8-bit component: Sub, Up, Average, Paeth, None.
    auto data = bytes({1, 10, 5, 5,  //
                       2, 1, 1, 1,   //
                       3, 5, 5, 5,   //
                       4, 1, 2, 3,   //
                       0, 7, 8, 9});
    ASSERT_TRUE(unpredict(data, parms(12, 1, 8, 3)));
    EXPECT_EQ(data, bytes({10, 15, 20, 11, 16, 21, 10, 18, 24, 11, 20, 27, 7, 8, 9}));
}

TEST(Predictor, PaethChoosesTheUpperLeftNeighbour) {
    // Second row: the first byte takes its upper neighbour (5 + 4 = 9); for the
    // second, p = 9 + 0 - 5 = 4 lies nearest to the upper-left 5.
    auto data = bytes({0, 5, 0, 4, 4, 1});
    ASSERT_TRUE(unpredict(data, parms(15, 1, 8, 2)));
    EXPECT_EQ(data, bytes({5, 0, 9, 6}));
}

TEST(Predictor, PngRoundTripsEveryTypeWithWiderPixels) {
    std::mt19937 rng(11);
    for (int colors : {1, 3}) {
        for (int bpc : {8, 16}) {
            const size_t columns = 17, bpp = size_t(colors) * bpc / 8, row_bytes = bpp * columns;
            std::string raw(row_bytes * 9, '\0');
            for (auto &c : raw) c = static_cast<char>(rng());
            for (int type = 0; type <= 4; ++type) {
                auto data = bytes(png_encode(raw, row_bytes, bpp, type));
                ASSERT_TRUE(unpredict(data, parms(10 + type, colors, bpc, int(columns))));
                EXPECT_EQ(text(data), raw) << colors << " " << bpc << " " << type;
            }
        }
    }
}

TEST(Predictor, PngLastRowCutShortKeepsItsBytes) {
    auto data = bytes({0, 1, 2, 3, 2, 5});  // second row: Up, one byte of three
    ASSERT_TRUE(unpredict(data, parms(12, 1, 8, 3)));
    EXPECT_EQ(data, bytes({1, 2, 3, 6}));
    data = bytes({0, 1, 2, 3, 2});  // a lone tag byte gives nothing
    ASSERT_TRUE(unpredict(data, parms(12, 1, 8, 3)));
    EXPECT_EQ(data, bytes({1, 2, 3}));
}

TEST(Predictor, TiffEightBitsPerComponent) {
    // Three components, two columns, two rows: each pixel adds the one to its left.
    auto data = bytes({10, 20, 30, 1, 2, 3, 200, 100, 0, 100, 200, 1});
    ASSERT_TRUE(unpredict(data, parms(2, 3, 8, 2)));
    EXPECT_EQ(data, bytes({10, 20, 30, 11, 22, 33, 200, 100, 0, 44, 44, 1}));
}

TEST(Predictor, TiffSixteenBitsPerComponent) {
    auto data = bytes({0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF});
    ASSERT_TRUE(unpredict(data, parms(2, 1, 16, 3)));
    EXPECT_EQ(data, bytes({0x01, 0x00, 0x01, 0x01, 0x01, 0x00}));
}

TEST(Predictor, TiffSubByteComponents) {
    auto data = bytes({0x12, 0x3F});  // four-bit samples 1 2 3 15
    ASSERT_TRUE(unpredict(data, parms(2, 1, 4, 4)));
    EXPECT_EQ(data, bytes({0x13, 0x65}));  // 1 3 6 (21 mod 16 = 5)
    data = bytes({0x88, 0x80});  // one-bit samples, two rows of eight
    ASSERT_TRUE(unpredict(data, parms(2, 1, 1, 8)));
    EXPECT_EQ(data, bytes({0xF0, 0xFF}));
}

TEST(Predictor, NoneLeavesDataAlone) {
    auto data = bytes({1, 2, 3});
    ASSERT_TRUE(unpredict(data, parms(1, 1, 8, 1)));
    EXPECT_EQ(data, bytes({1, 2, 3}));
}

TEST(Predictor, BadParametersAreRefused) {
    auto data = bytes({0, 1, 2, 3});
    EXPECT_FALSE(unpredict(data, parms(5, 1, 8, 3)));
    EXPECT_FALSE(unpredict(data, parms(16, 1, 8, 3)));
    EXPECT_FALSE(unpredict(data, parms(12, 1, 3, 3)));
    EXPECT_FALSE(unpredict(data, parms(12, 0, 8, 3)));
    EXPECT_FALSE(unpredict(data, parms(12, 1, 8, 0)));
    EXPECT_FALSE(unpredict(data, parms(12, 1, 8, -4)));
    EXPECT_FALSE(unpredict(data, parms(2, 33, 8, 3)));
    EXPECT_FALSE(unpredict(data, parms(12, 32, 16, 0x7FFFFFFF)));
    EXPECT_EQ(data, bytes({0, 1, 2, 3}));
}

// ---- Chains ----

namespace {
std::vector<filter_spec> chain_of(std::initializer_list<const char *> names) {
    std::vector<filter_spec> c;
    for (const char *n : names) c.push_back(filter_spec{n, filter_parms{}});
    return c;
}
}  // namespace

#if defined(PLENVO_HAVE_ZLIB)
TEST(Chain, Ascii85ThenFlate) {
    const std::string data = "BT /F1 12 Tf 72 712 Td (Hello) Tj ET\n";
    const std::string in = ascii85_encode(plenvo_test::zlib_compress(data));
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), chain_of({"ASCII85Decode", "FlateDecode"}), out));
    EXPECT_EQ(text(out), data);
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), chain_of({"A85", "Fl"}), out));
    EXPECT_EQ(text(out), data);
}

TEST(Chain, FlateWithPngPredictor) {
    std::string raw;
    for (int i = 0; i < 40; ++i) raw += static_cast<char>(i * 7 % 256);
    const std::string in = plenvo_test::zlib_compress(png_encode(raw, 8, 1, 4));
    auto c = chain_of({"FlateDecode"});
    c[0].parms = parms(12, 1, 8, 8);
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), c, out));
    EXPECT_EQ(text(out), raw);
}
#endif

TEST(Chain, HexThenRunLengthThenLzw) {
    const std::string data = random_text(3000, 9, 4);
    std::vector<uint8_t> lzw = lzw_encode(data, 1);
    // RunLength-encode as literal runs only.
    std::string rl;
    for (size_t i = 0; i < lzw.size(); i += 128) {
        const size_t k = std::min<size_t>(128, lzw.size() - i);
        rl += static_cast<char>(k - 1);
        rl.append(reinterpret_cast<const char *>(lzw.data() + i), k);
    }
    rl += '\x80';
    const std::string in = hex_encode(rl);
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), chain_of({"AHx", "RL", "LZW"}), out));
    EXPECT_EQ(text(out), data);
    ASSERT_TRUE(
        decode_chain(ptr(in), in.size(), chain_of({"ASCIIHexDecode", "RunLengthDecode", "LZWDecode"}), out));
    EXPECT_EQ(text(out), data);
}

TEST(Chain, LzwPredictorAndEarlyChangeComeFromItsParameters) {
    std::string raw;
    for (int i = 0; i < 600; ++i) raw += static_cast<char>((i * i) % 251);
    std::string predicted = raw;  // TIFF predictor 2, one component, 600 columns
    for (size_t i = predicted.size() - 1; i > 0; --i)
        predicted[i] = static_cast<char>(uint8_t(raw[i]) - uint8_t(raw[i - 1]));
    std::vector<uint8_t> lzw = lzw_encode(predicted, 0);
    auto c = chain_of({"LZWDecode"});
    c[0].parms = parms(2, 1, 8, 600);
    c[0].parms.early_change = 0;
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode_chain(lzw.data(), lzw.size(), c, out));
    EXPECT_EQ(text(out), raw);
}

TEST(Chain, UnsupportedFilterRefusesTheWholeChain) {
    const std::string in = "414243>";
    std::vector<uint8_t> out;
    for (const char *other : {"DCTDecode", "JPXDecode", "CCITTFaxDecode", "JBIG2Decode", "Crypt",
                              "DCT", "CCF", "Bogus", ""}) {
        EXPECT_FALSE(decode_chain(ptr(in), in.size(), chain_of({"AHx", other}), out)) << other;
        EXPECT_FALSE(decode_chain(ptr(in), in.size(), chain_of({other}), out)) << other;
    }
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), chain_of({"AHx"}), out));
    EXPECT_EQ(text(out), "ABC");
}

TEST(Chain, FailingStepFailsTheChain) {
    const std::string in = "41 zz>";
    std::vector<uint8_t> out;
    EXPECT_FALSE(decode_chain(ptr(in), in.size(), chain_of({"AHx", "RL"}), out));
}

TEST(Chain, EmptyChainCopiesTheData) {
    const std::string in = "plain";
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), {}, out));
    EXPECT_EQ(text(out), "plain");
}

TEST(Chain, EachStepIsBoundedByTheLimit) {
    // Hex decodes to 64 repeat runs of 128 bytes: 8192 bytes after RunLength.
    std::string rl;
    for (int i = 0; i < 64; ++i) rl += "\x81q";
    const std::string in = hex_encode(rl);
    std::vector<uint8_t> out;
    EXPECT_FALSE(decode_chain(ptr(in), in.size(), chain_of({"AHx", "RL"}), out, 8191));
    ASSERT_TRUE(decode_chain(ptr(in), in.size(), chain_of({"AHx", "RL"}), out, 8192));
    EXPECT_EQ(out.size(), 8192u);
}
