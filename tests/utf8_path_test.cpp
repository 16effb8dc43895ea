// UTF-8 paths: which byte strings count as UTF-8 beyond ASCII (those open
// through the wide-character API on Windows), and the conversions.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/utf8_path.h"
#include "support/pdf_builder.h"

using namespace plenvo;

namespace {

struct classify_case {
    const char *name;
    std::string bytes;
    bool beyond_ascii;
};

const classify_case k_classify[] = {
    {"empty", "", false},
    {"plain ASCII", "C:\\out\\file.pdf", false},
    {"Greek", "\xce\xb4\xce\xbf\xce\xba\xce\xb9\xce\xbc\xce\xae.pdf", true},
    {"Chinese", "\xe6\x96\x87\xe4\xbb\xb6.pdf", true},
    {"emoji (four bytes)", "\xf0\x9f\x93\x84.pdf", true},
    {"largest code point", "\xf4\x8f\xbf\xbf", true},
    {"Latin-1 byte (an ANSI path)", "caf\xe9.pdf", false},
    {"truncated sequence at the end", "\xe6\x96", false},
    {"lone continuation byte", "a\x80", false},
    {"overlong slash", "\xc0\xaf", false},
    {"overlong three-byte form", "\xe0\x80\xaf", false},
    {"surrogate half", "\xed\xa0\x80", false},
    {"past U+10FFFF", "\xf4\x90\x80\x80", false},
    {"F5 lead byte", "\xf5\x80\x80\x80", false},
    {"valid then invalid", "\xce\xb4\xff", false},
};

TEST(Utf8Path, Classification) {
    for (const classify_case &c : k_classify)
        EXPECT_EQ(utf8_beyond_ascii(c.bytes.data(), c.bytes.size()), c.beyond_ascii) << c.name;
}

struct convert_case {
    const char *name;
    std::string utf8;
    std::u16string utf16;
};

const convert_case k_convert[] = {
    {"ASCII", "a/b.pdf", u"a/b.pdf"},
    {"two-byte", "\xc3\xa9t\xc3\xa9", u"\u00e9t\u00e9"},
    {"three-byte", "\xe6\x96\x87", u"\u6587"},
    {"four-byte: a surrogate pair", "\xf0\x9f\x93\x84", u"\U0001F4C4"},
    {"largest code point", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
    {"mixed", "x\xce\xb1\xf0\x9f\x98\x80y", u"x\u03b1\U0001F600y"},
};

TEST(Utf8Path, ConversionBothWays) {
    for (const convert_case &c : k_convert) {
        EXPECT_EQ(utf16_of_utf8(c.utf8.data(), c.utf8.size()), c.utf16) << c.name;
        EXPECT_EQ(utf8_of_utf16(c.utf16.data(), c.utf16.size()), c.utf8) << c.name;
    }
}

TEST(Utf8Path, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::u16string lone_high = {u'a', 0xD83D, u'b'};
    const std::u16string lone_low = {0xDC00};
    const std::u16string high_at_end = {u'a', 0xD83D};
    EXPECT_EQ(utf8_of_utf16(lone_high.data(), lone_high.size()), "a\xef\xbf\xbd" "b");
    EXPECT_EQ(utf8_of_utf16(lone_low.data(), lone_low.size()), "\xef\xbf\xbd");
    EXPECT_EQ(utf8_of_utf16(high_at_end.data(), high_at_end.size()), "a\xef\xbf\xbd");
}

TEST(Utf8Path, OpensNonAsciiNames) {
    const std::string dir = plenvo_test::temp_dir();
    for (const char *name : {"\xce\xb4\xce\xbf\xce\xba.pdf", "\xe6\x96\x87 \xf0\x9f\x93\x84.pdf", "plain.pdf"}) {
        const std::string path = dir + "/" + name;
        FILE *w = open_path(path.c_str(), "wb");
        ASSERT_NE(w, nullptr) << name;
        std::fputs("%PDF", w);
        std::fclose(w);
        EXPECT_EQ(plenvo_test::read_file(path), "%PDF") << name;
        FILE *r = open_path(path.c_str(), "rb");
        ASSERT_NE(r, nullptr) << name;
        std::fclose(r);
    }
    EXPECT_EQ(open_path((dir + "/missing \xce\xb4.pdf").c_str(), "rb"), nullptr);
}

}  // namespace
