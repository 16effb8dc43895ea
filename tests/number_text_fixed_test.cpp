// Four-decimal number texts: the quick path through the product with 10^4
// must give exactly the digits of the exact binary value, as the full
// formatter does, on every kind of value (ties, near ties, signs, ranges).
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "base/number_text.h"

namespace {

// The text the full formatter gives for a value that is not a whole number.
std::string exact_fixed4(double x) {
    char tmp[80];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, x, std::chars_format::fixed, 4);
    return std::string(tmp, r.ptr);
}

std::string text(double x) {
    char t[plenvo::NUMTEXT_SIZE];
    const int n = plenvo::number_text(x, t);
    return std::string(t, static_cast<size_t>(n));
}

bool whole_in_range(double x) {
    return x >= -2147483648.0 && x <= 2147483647.0 && static_cast<double>(static_cast<int32_t>(x)) == x;
}

void expect_same(double x) {
    if (whole_in_range(x)) return;  // written as an integer, not with decimals
    ASSERT_EQ(text(x), exact_fixed4(x)) << "value " << std::hexfloat << x;
}

}  // namespace

TEST(NumberTextFixed, KnownValues) {
    EXPECT_EQ(text(595.28), "595.2800");
    EXPECT_EQ(text(841.89), "841.8900");
    EXPECT_EQ(text(-0.00004), "-0.0000");
    EXPECT_EQ(text(0.00005000000000000001), "0.0001");
    EXPECT_EQ(text(12345.67891), "12345.6789");
    EXPECT_EQ(text(-99999.99999), "-100000.0000");
}

TEST(NumberTextFixed, ExactTiesAndTheirNeighbours) {
    // k / 20000 lies halfway between two four-decimal values; it is exact in
    // binary when 625 divides k, and near a tie otherwise.
    for (int64_t k = -400001; k <= 400001; k += 2) {
        const double tie = static_cast<double>(k) / 20000.0;
        expect_same(tie);
        expect_same(std::nextafter(tie, 1e9));
        expect_same(std::nextafter(tie, -1e9));
    }
}

TEST(NumberTextFixed, RandomValuesOverManyRanges) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double scales[] = {1e-5, 1e-3, 0.5, 1, 100, 612, 14400, 99999, 1e5, 3e5, 1e9, 1e12};
    for (double s : scales)
        for (int i = 0; i < 40000; ++i) expect_same(unit(rng) * s);
}

TEST(NumberTextFixed, RandomBitPatterns) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        double x;
        static_assert(sizeof x == sizeof bits);
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x) || std::fabs(x) > 1e15) continue;
        expect_same(x);
    }
}
