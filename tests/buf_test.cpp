// The growable output buffer: first storage, doubling, termination, failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/buf.h"

using namespace plenvo;

namespace {
constexpr uint64_t MiB = 1048576;

std::string content(const buf &b) { return std::string(reinterpret_cast<char *>(b.data), b.len); }
}  // namespace

TEST(BufFirstStorage, SmallTextOnNewBufferGetsOneMebibyte) {
    buf b{};
    buf_str(&b, "abc");
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.len, 3u);
    EXPECT_EQ(b.cap, MiB);
    EXPECT_EQ(content(b), "abc");
    EXPECT_EQ(b.data[3], 0);
    buf_free(&b);
}

TEST(BufFirstStorage, EmptyReservationStillCreatesStorage) {
    buf b{};
    buf_reserve(&b, 0);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, MiB);
    buf_free(&b);
}

TEST(BufFirstStorage, LargeFirstReservationDoublesFromOneMebibyte) {
    buf b{};
    buf_reserve(&b, 5 * MiB);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, 8 * MiB);
    buf_free(&b);
}

TEST(BufGrowth, NeedJustAboveOneMebibyteGrowsOnceToTwo) {
    buf b{};
    buf_append(&b, std::string(100, 'a').data(), 100);
    const std::string more(MiB - 100, 'b');  // need = MiB + 1
    buf_str(&b, more.c_str());
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, 2 * MiB);
    EXPECT_EQ(b.len, MiB);
    EXPECT_EQ(content(b), std::string(100, 'a') + more);
    EXPECT_EQ(b.data[b.len], 0);
    buf_free(&b);
}

TEST(BufGrowth, NeedAboveTwoMebibytesGrowsTwiceToFour) {
    buf b{};
    buf_append(&b, std::string(100, 'a').data(), 100);
    const std::string more(2 * MiB, 'c');
    buf_str(&b, more.c_str());
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, 4 * MiB);
    EXPECT_EQ(b.len, 2 * MiB + 100);
    EXPECT_EQ(b.data[b.len], 0);
    buf_free(&b);
}

TEST(BufGrowth, NeedEqualToCapacityDoesNotGrow) {
    buf b{};
    buf_append(&b, std::string(100, 'a').data(), 100);
    const std::string more(MiB - 101, 'd');  // need = exactly MiB
    buf_str(&b, more.c_str());
    EXPECT_EQ(b.cap, MiB);
    EXPECT_EQ(b.len, MiB - 1);
    EXPECT_EQ(b.data[b.len], 0);
    buf_free(&b);
}

TEST(BufGrowth, CapacityIsAlwaysOneMebibyteTimesAPowerOfTwo) {
    buf b{};
    const std::string chunk(300001, 'x');
    for (int i = 0; i < 40; ++i) {
        buf_append(&b, chunk.data(), chunk.size());
        ASSERT_NE(b.data, nullptr);
        ASSERT_EQ(b.cap % MiB, 0u);
        const uint64_t m = b.cap / MiB;
        EXPECT_EQ(m & (m - 1), 0u) << b.cap;
        EXPECT_GE(b.cap, b.len + 1);
    }
    EXPECT_EQ(b.len, 40u * 300001u);
    buf_free(&b);
}

TEST(BufAppend, RawBytesKeepNulsAndStayTerminated) {
    buf b{};
    const uint8_t raw[] = {'x', 0, 'y', 0xFF};
    buf_append(&b, raw, sizeof raw);
    buf_append(&b, nullptr, 0);
    ASSERT_EQ(b.len, 4u);
    EXPECT_EQ(std::memcmp(b.data, raw, 4), 0);
    EXPECT_EQ(b.data[4], 0);
    buf_free(&b);
}

TEST(BufAppend, SourceInsideTheBufferSurvivesGrowth) {
    buf b{};
    std::string big(MiB - 10, 'e');
    big[0] = 'S';
    buf_append(&b, big.data(), big.size());
    // Appending the buffer's own first half forces a move to 2 MiB storage.
    buf_append(&b, b.data, b.len / 2);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, 2 * MiB);
    EXPECT_EQ(b.len, big.size() + big.size() / 2);
    EXPECT_EQ(b.data[big.size()], 'S');
    EXPECT_EQ(content(b), big + big.substr(0, big.size() / 2));
    buf_free(&b);
}

TEST(BufFailure, ImpossibleReservationReleasesEverything) {
    buf b{};
    buf_str(&b, "kept until now");
    buf_reserve(&b, UINT64_MAX - 3);  // len + n + 1 overflows
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
}

TEST(BufFailure, CapacityThatCannotDoubleFails) {
    buf b{};
    buf_str(&b, "x");
    buf_reserve(&b, uint64_t(1) << 63);  // no power of two of 64 bits holds it
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
}

TEST(BufFailure, FailedAppendDoesNothingAndNextUseStartsAfresh) {
    buf b{};
    buf_str(&b, "old");
    buf_append(&b, "never read", UINT64_MAX - 1);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    buf_str(&b, "new");
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, MiB);
    EXPECT_EQ(content(b), "new");
    buf_free(&b);
}

TEST(BufFree, ZeroesAndIsHarmlessTwice) {
    buf b{};
    buf_str(&b, "abc");
    buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
}
