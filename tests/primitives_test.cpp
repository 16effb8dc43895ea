// The scanning primitives on hand-written byte texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "reader/scan.h"

using namespace plenvo;

namespace {
const uint8_t *u(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }
int32_t L(const std::string &s) { return static_cast<int32_t>(s.size()); }
}  // namespace

TEST(FindKw, RespectsKeywordBoundaries) {
    std::string a = "12 0 obj";
    EXPECT_EQ(find_kw(u(a), L(a), 0, "obj"), 5);
    std::string b = "endobj";
    EXPECT_EQ(find_kw(u(b), L(b), 0, "obj"), -1);
    std::string c = "startxref 12 xref";
    EXPECT_EQ(find_kw(u(c), L(c), 0, "xref"), 13);
    std::string d = "xobj obj";
    EXPECT_EQ(find_kw(u(d), L(d), -5, "obj"), 5);  // negative start counts as 0
    EXPECT_EQ(find_kw(u(d), L(d), 6, "obj"), -1);
    // The text may end right after the keyword; nothing is read past it.
    std::string e = "a obj";
    EXPECT_EQ(find_kw(u(e), 5, 0, "obj"), 2);
    EXPECT_EQ(find_kw(u(e), 4, 0, "obj"), -1);
}

TEST(KwAt, BoundariesAndEdges) {
    std::string a = "streams";
    EXPECT_EQ(kw_at(u(a), 0, L(a), "stream"), 0);
    std::string b = "stream\r\n";
    EXPECT_EQ(kw_at(u(b), 0, L(b), "stream"), 1);
    std::string c = "xstream ";
    EXPECT_EQ(kw_at(u(c), 1, L(c), "stream"), 0);
    EXPECT_EQ(kw_at(u(c), -1, L(c), "stream"), 0);
    std::string d = "<<>>stream";
    EXPECT_EQ(kw_at(u(d), 4, L(d), "stream"), 1);
    EXPECT_EQ(kw_at(u(d), 5, L(d), "stream"), 0);
}

TEST(FindName, NameBoundaries) {
    std::string a = "<</Type/Pages>>";
    EXPECT_EQ(find_name(u(a), L(a), 0, L(a), "Page"), -1);
    std::string b = "<</Type/Page>>";
    EXPECT_EQ(find_name(u(b), L(b), 0, L(b), "Page"), 7);
    for (std::string s : {"/Page+", "/Page_x", "/Page-A"}) EXPECT_EQ(find_name(u(s), L(s), 0, L(s), "Page"), -1) << s;
    std::string c = "/Page.";
    EXPECT_EQ(find_name(u(c), L(c), 0, L(c), "Page"), 0);
    // A limit ending right after the name matches without looking further.
    std::string d = "/Pages";
    EXPECT_EQ(find_name(u(d), L(d), 0, 5, "Page"), 0);
    std::string e = "/Page/Parent";
    EXPECT_EQ(find_name(u(e), L(e), 1, L(e), "Page"), -1);
    EXPECT_EQ(find_name(u(e), L(e), 0, L(e), "Parent"), 5);
}

TEST(FindNameTop, OnlyOuterLevelOutsideStringsAndComments) {
    std::string a = "<</Resources<</Type/Font>>/Type/Page>>";
    EXPECT_EQ(find_name_top(u(a), L(a), 0, L(a), "Type"), static_cast<int32_t>(a.find("/Type/Page")));
    std::string b = "<</A (/Type)>>";
    EXPECT_EQ(find_name_top(u(b), L(b), 0, L(b), "Type"), -1);
    std::string c = "<<%/Type\n/X 1>>";
    EXPECT_EQ(find_name_top(u(c), L(c), 0, L(c), "Type"), -1);
    std::string d = "<</A <2F54797065> /Type/Page>>";
    EXPECT_EQ(find_name_top(u(d), L(d), 0, L(d), "Type"), static_cast<int32_t>(d.find("/Type")));
    std::string e = "<</A (unterminated /Type";
    EXPECT_EQ(find_name_top(u(e), L(e), 0, L(e), "Type"), -1);
    std::string f = "<</A (a\\) /Type) /Type /X>>";
    EXPECT_EQ(find_name_top(u(f), L(f), 0, L(f), "Type"), static_cast<int32_t>(f.rfind("/Type")));
}

TEST(DictStreamKw, FindsStreamAfterDictionary) {
    std::string a = "<</Length 5>>\r\nstream";
    EXPECT_EQ(dict_stream_kw(u(a), L(a), 0), 15);
    std::string b = "<</Length 5>>endobj";
    EXPECT_EQ(dict_stream_kw(u(b), L(b), 0), -1);
    std::string c = "<</S (a>>b) /E (x\\)>>) >>stream";
    EXPECT_EQ(dict_stream_kw(u(c), L(c), 0), static_cast<int32_t>(c.find("stream")));
    std::string d = "<</A <</B 1>> >> stream";
    EXPECT_EQ(dict_stream_kw(u(d), L(d), 0), static_cast<int32_t>(d.find("stream")));
    std::string e = "<</A 1";
    EXPECT_EQ(dict_stream_kw(u(e), L(e), 0), -1);
    std::string f = "<</A 1>> streamx";
    EXPECT_EQ(dict_stream_kw(u(f), L(f), 0), -1);
}

TEST(DictTextAt, CopiesWholeDictionary) {
    std::string a = "<</A (x)>> rest";
    char *t = dict_text_at(u(a), L(a), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "<</A (x)>>");
    std::free(t);
    std::string b = "<</A <</B 1>> >>";
    t = dict_text_at(u(b), L(b), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, b.c_str());
    std::free(t);
    std::string c = "< /A 1 >>";
    EXPECT_EQ(dict_text_at(u(c), L(c), 0), nullptr);
    std::string d = "<</A (>>) /B 2>>";
    t = dict_text_at(u(d), L(d), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, d.c_str());
    std::free(t);
    std::string e = "<</A 1";
    EXPECT_EQ(dict_text_at(u(e), L(e), 0), nullptr);
}

TEST(ParseInt, ValuesPositionsAndFailures) {
    std::string a = "  42 0 R";
    int32_t p = 0;
    EXPECT_EQ(parse_int_at(u(a), L(a), &p), 42);
    EXPECT_EQ(p, 4);
    std::string b = "-7";
    p = 0;
    EXPECT_EQ(parse_int_at(u(b), L(b), &p), -7);
    for (std::string s : {"+7", "R", "", "   ", "-", "- 5"}) {
        p = 0;
        EXPECT_EQ(parse_int_at(u(s), L(s), &p), -1) << s;
        EXPECT_EQ(p, 0) << s;
    }
    std::string c = "-0";
    p = 0;
    EXPECT_EQ(parse_int_at(u(c), L(c), &p), 0);
    // Values outside the 32-bit range are no number.
    std::string big = "2147483648";
    p = 0;
    EXPECT_EQ(parse_int_at(u(big), L(big), &p), -1);
    EXPECT_EQ(p, 0);
    std::string max = "2147483647";
    p = 0;
    EXPECT_EQ(parse_int_at(u(max), L(max), &p), 2147483647);
    std::string forty(40, '9');
    p = 0;
    EXPECT_EQ(parse_int_at(u(forty), L(forty), &p), -1);
    // The length bounds the read: "123" with length 2 reads 12.
    std::string d = "123";
    p = 0;
    EXPECT_EQ(parse_int_at(u(d), 2, &p), 12);
    EXPECT_EQ(p, 2);
}

TEST(ReadIntAdv, AcceptsPlusSign) {
    std::string a = "+7 ";
    int32_t p = 0;
    EXPECT_EQ(read_int_adv(u(a), L(a), &p), 7);
    EXPECT_EQ(p, 2);
    std::string b = " -12";
    p = 0;
    EXPECT_EQ(read_int_adv(u(b), L(b), &p), -12);
    std::string c = "x";
    p = 0;
    EXPECT_LT(read_int_adv(u(c), L(c), &p), 0);
}

TEST(ParseLength, DirectIndirectAndOddValues) {
    struct C { std::string text; int32_t len, ref; };
    const C cases[] = {
        {"/Length 1234 /Filter /FlateDecode", 1234, -1},
        {"/Length 17 0 R", -1, 17},
        {"/Length 17 R", 17, -1},
        {"/Length -5", -1, -1},
        {"/Length /X", -1, -1},
        {"/Length1 300 /Length 40", 40, -1},
        {"/Length [1 2 3]", 3, -1},
        {"/Length /X /Length 9", 9, -1},
        {"/Length\n5\r\n0\nR", -1, 5},
        {"/Length 99999999999", -1, -1},
        // The byte right after the name is a separator and is never examined.
        {"/Length[5 6]", 5, -1},
        {"/Length [5 6]", 6, -1},
        {"/Length [-5 x] /Length 4", 4, -1},
    };
    for (const auto &c : cases) {
        int32_t l = 7, r = 7;
        parse_length(u(c.text), L(c.text), 0, L(c.text), &l, &r);
        EXPECT_EQ(l, c.len) << c.text;
        EXPECT_EQ(r, c.ref) << c.text;
    }
    // The region's end bounds the search.
    std::string t = "<< /A 1 >> /Length 5";
    int32_t l, r;
    parse_length(u(t), L(t), 0, 10, &l, &r);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(r, -1);
}

TEST(ParseLength, ManyUnclosedArraysStayLinear) {
    std::string t;
    for (int i = 0; i < 200000; ++i) t += "/Length [ ";
    int32_t l, r;
    parse_length(u(t), L(t), 0, L(t), &l, &r);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(r, -1);
    t += "7]";
    parse_length(u(t), L(t), 0, L(t), &l, &r);
    EXPECT_EQ(l, 7);
}

TEST(SkipWs, SixWhiteSpaceBytesOnly) {
    std::string a("\0\t\n\f\r x", 7);
    EXPECT_EQ(skip_ws(u(a), 0, L(a)), 6);
    std::string b = "\x0b";  // vertical tab is not PDF white space
    EXPECT_EQ(skip_ws(u(b), 0, L(b)), 0);
    EXPECT_EQ(skip_ws(u(a), 5, 3), 5);
}

TEST(ReadObjIntValue, ReadsPlainIntegerObjects) {
    std::string a = "10 0 obj 5 endobj";
    EXPECT_EQ(read_obj_int_value(u(a), L(a), 0), 5);
    std::string b = "10 0 obj\n<< >> endobj";
    EXPECT_EQ(read_obj_int_value(u(b), L(b), 0), -1);
    std::string c = "10 0 obj -3 endobj";
    EXPECT_EQ(read_obj_int_value(u(c), L(c), 0), -1);
}

// The several-name walks (and the walk doing both kinds at once) give, for
// every name, exactly what the one-name searches give: on texts made of names that are prefixes of each other,
// strings, comments, hex strings and nested dictionaries, cut at every
// start and limit.
TEST(FindNames, SameAnswersAsOneNameAtATime) {
    const char *const pieces[] = {"/Page", "/Pages", "/P", "/Type", "/Page#20", "/Page+x", " ", "\n", "<<", ">>",
                                  "(", ")", "(/Page)", "%/Pages\n", "<2F50>", "<", ">", "[", "]", "1", "\\"};
    const char *const names[] = {"Page", "Pages", "P", "Type"};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 400; ++round) {
        std::string s;
        const int n = 1 + static_cast<int>(next() % 24);
        for (int k = 0; k < n; ++k) s += pieces[next() % (sizeof pieces / sizeof pieces[0])];
        for (int32_t start = 0; start <= L(s); start += 3) {
            for (int32_t limit : {L(s), L(s) - 1, L(s) / 2}) {
                int32_t any[4], top[4], both_top[2], both_any[3];
                find_names(u(s), L(s), start, limit, names, 4, any);
                find_names_top(u(s), L(s), start, limit, names, 4, top);
                for (int k = 0; k < 4; ++k) {
                    EXPECT_EQ(any[k], find_name(u(s), L(s), start, limit, names[k])) << s << " " << names[k];
                    EXPECT_EQ(top[k], find_name_top(u(s), L(s), start, limit, names[k])) << s << " " << names[k];
                }
                // Top-level and anywhere names in one walk, the sets overlapping.
                const char *const top_names[] = {"Pages", "Type"};
                const char *const any_names[] = {"P", "Page", "Type"};
                find_names_top_any(u(s), L(s), start, limit, top_names, 2, both_top, any_names, 3, both_any);
                for (int k = 0; k < 2; ++k)
                    EXPECT_EQ(both_top[k], find_name_top(u(s), L(s), start, limit, top_names[k])) << s << " top " << k;
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(both_any[k], find_name(u(s), L(s), start, limit, any_names[k])) << s << " any " << k;
                find_names_top_any(u(s), L(s), start, limit, top_names, 0, both_top, any_names, 3, both_any);
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(both_any[k], find_name(u(s), L(s), start, limit, any_names[k])) << s << " alone " << k;
            }
        }
    }
}

TEST(ByteClasses, MatchTheirDefinitions) {
    for (int b = 0; b < 256; ++b) {
        const uint8_t c = static_cast<uint8_t>(b);
        const bool digit = b >= '0' && b <= '9';
        const bool alnum = digit || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
        EXPECT_EQ(is_ws(c), b == 0 || b == 9 || b == 10 || b == 12 || b == 13 || b == 32) << b;
        EXPECT_EQ(is_alnum(c), alnum) << b;
        EXPECT_EQ(is_digit(c), digit) << b;
        EXPECT_EQ(is_namecont(c), alnum || b == '+' || b == '-' || b == '_') << b;
        EXPECT_EQ(is_space_byte(c), b == 32 || (b >= 9 && b <= 13)) << b;
    }
}
