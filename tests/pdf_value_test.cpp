// PDF value trees: what parses (and how it is written back), what is
// refused, the bounds, and the edits the carried objects make.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "output/pdf_value.h"

using namespace plenvo;

namespace {

// Parses a copy of text that lives as long as the test program (trees point
// into their text); returns the root (-1 on refusal) and where parsing stopped.
int32_t parse(pv_tree *tr, const std::string &text, size_t *stop = nullptr) {
    static std::deque<std::string> texts;
    texts.push_back(text);
    const std::string &kept = texts.back();
    size_t pos = 0;
    const int32_t v = pv_parse(tr, reinterpret_cast<const uint8_t *>(kept.data()), kept.size(), &pos);
    if (stop) *stop = pos;
    return v;
}

std::string written(const pv_tree &tr, int32_t v) {
    std::string out;
    pv_write(tr, v, &out);
    return out;
}

std::string round_trip(const std::string &text) {
    pv_tree tr;
    const int32_t v = parse(&tr, text);
    return v < 0 ? "REFUSED" : written(tr, v);
}

}  // namespace

TEST(PdfValue, WrittenBackWithOneSpaceBetweenTokens) {
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"<</Type/Annot/Rect[0 0 10.5 20]>>", "<< /Type /Annot /Rect [0 0 10.5 20] >>"},
        {"<<\n/A <</S/URI /URI(http://x.org/a b)>>\r\n/P 3 0 R>>", "<< /A << /S /URI /URI (http://x.org/a b) >> /P 3 0 R >>"},
        {"[ true false null /N ]", "[true false null /N]"},
        // Strings keep their bytes, nested parentheses and escapes included.
        {"[(a(b)c\\) d) <41 42>]", "[(a(b)c\\) d) <41 42>]"},
        // Comments are white space.
        {"<< /A 1 % a comment ]>>\n/B 2 >>", "<< /A 1 /B 2 >>"},
        // References lose their generation; "N R" without one is no reference.
        {"[12 5 R 7 0 R]", "[12 0 R 7 0 R]"},
        {"[1 2 3]", "[1 2 3]"},
        {"<<>>", "<<>>"},
        {"[]", "[]"},
        {"[[[]]]", "[[[]]]"},
        // Braces and unknown keywords are kept as written.
        {"[{ 1 add } abc]", "[{ 1 add } abc]"},
        // Numbers as written: signs, leading and trailing points.
        {"[+4. -.5 0.0 007]", "[+4. -.5 0.0 007]"},
    };
    for (const auto &c : cases) EXPECT_EQ(round_trip(c.in), c.out) << c.in;
}

TEST(PdfValue, MalformedTextsAreRefused) {
    const char *cases[] = {
        "<< /A 1",          // unterminated dictionary
        "[1 2",             // unterminated array
        "<< 1 2 >>",        // a key that is no name
        "<< /A >>",         // a key without value
        "<< /A [1] ]",      // mismatched close
        "[ (abc ]",         // unterminated string
        "[ <41 ]",          // unterminated hex string
        "[ ) ]",            // stray delimiter
        "",                 // nothing at all
        "   % only a comment",
    };
    for (const char *c : cases) EXPECT_EQ(round_trip(c), "REFUSED") << c;
}

TEST(PdfValue, NestingIsBoundedWithoutRecursion) {
    const std::string ok = std::string(PV_MAX_DEPTH, '[') + std::string(PV_MAX_DEPTH, ']');
    EXPECT_EQ(round_trip(ok), ok);
    const std::string deep = std::string(PV_MAX_DEPTH + 1, '[') + std::string(PV_MAX_DEPTH + 1, ']');
    EXPECT_EQ(round_trip(deep), "REFUSED");
    // A crafted text a million levels deep is refused at the bound.
    const std::string crafted = std::string(1000000, '[');
    EXPECT_EQ(round_trip(crafted), "REFUSED");
}

TEST(PdfValue, ParsingStopsAfterTheFirstValueAndNeverReadsPastTheEnd) {
    pv_tree tr;
    size_t stop = 0;
    const std::string text = "<< /A 1 >> endobj 5 0 obj";
    ASSERT_GE(parse(&tr, text, &stop), 0);
    EXPECT_EQ(stop, std::string("<< /A 1 >>").size());

    // The length given ends inside a reference, a string, a name: no byte
    // beyond it is read (the heap copy of exactly n bytes catches an overread
    // under the sanitizers).
    const char *cuts[] = {"[5 0 R]", "[(ab)]", "<< /Name /Value >>", "[1.5 2]"};
    for (const char *full : cuts) {
        const std::string s(full);
        for (size_t n = 0; n < s.size(); ++n) {
            std::vector<uint8_t> bytes(s.begin(), s.begin() + static_cast<long>(n));
            pv_tree t2;
            size_t pos = 0;
            EXPECT_LT(pv_parse(&t2, bytes.data(), bytes.size(), &pos), 0) << full << " cut at " << n;
        }
    }
}

TEST(PdfValue, ReferencesNumbersAndNamesAreRead) {
    pv_tree tr;
    const int32_t v = parse(&tr, "<< /P 12 0 R /F 28 /X -1.25 /D#65st /Here /Q 3 >>");
    ASSERT_GE(v, 0);
    const int32_t p = pv_get(tr, v, "P");
    ASSERT_GE(p, 0);
    EXPECT_EQ(tr.nodes[p].type, PV_REF);
    EXPECT_EQ(tr.nodes[p].ref, 12);
    EXPECT_DOUBLE_EQ(tr.nodes[pv_get(tr, v, "F")].num, 28);
    EXPECT_DOUBLE_EQ(tr.nodes[pv_get(tr, v, "X")].num, -1.25);
    // A name written with an escape is the same name.
    EXPECT_TRUE(pv_is_name(tr, pv_get(tr, v, "Dest"), "Here"));
    EXPECT_EQ(pv_get(tr, v, "Missing"), -1);
    EXPECT_EQ(pv_get(tr, p, "P"), -1);  // not a dictionary
}

TEST(PdfValue, EditsKeepTheOtherEntries) {
    pv_tree tr;
    int32_t v = parse(&tr, "<< /A 1 /B 2 /A 3 /C 4 >>");
    ASSERT_GE(v, 0);
    // Setting a repeated key keeps one entry, in the first one's place.
    pv_set(&tr, v, "A", pv_number(&tr, 0.5));
    EXPECT_EQ(written(tr, v), "<< /A 0.5000 /B 2 /C 4 >>");
    // A new key goes last.
    pv_set(&tr, v, "D", pv_ref(&tr, 9));
    EXPECT_EQ(written(tr, v), "<< /A 0.5000 /B 2 /C 4 /D 9 0 R >>");
    // Removing the last entry, then appending, keeps the list whole.
    EXPECT_TRUE(pv_remove(&tr, v, "D"));
    pv_set(&tr, v, "E", pv_name(&tr, "FitV"));
    EXPECT_EQ(written(tr, v), "<< /A 0.5000 /B 2 /C 4 /E /FitV >>");
    EXPECT_FALSE(pv_remove(&tr, v, "D"));

    tr = pv_tree{};
    v = parse(&tr, "<< /K 1 /K 2 /L 3 /K 4 >>");
    EXPECT_TRUE(pv_remove(&tr, v, "K"));
    EXPECT_EQ(written(tr, v), "<< /L 3 >>");
    EXPECT_TRUE(pv_remove(&tr, v, "L"));
    EXPECT_EQ(written(tr, v), "<<>>");
    pv_set(&tr, v, "M", pv_null(&tr));
    EXPECT_EQ(written(tr, v), "<< /M null >>");
}

TEST(PdfValue, ArraysUnlinkAndNumbers) {
    pv_tree tr;
    const int32_t a = parse(&tr, "[(a) 1 (b) 2 (c) 3]");
    ASSERT_GE(a, 0);
    // Remove the middle pair, then the last pair.
    int32_t first_val = tr.nodes[tr.nodes[a].first].next;
    EXPECT_GE(pv_unlink(&tr, a, first_val, 2), 0);
    EXPECT_EQ(written(tr, a), "[(a) 1 (c) 3]");
    EXPECT_EQ(pv_unlink(&tr, a, first_val, 2), -1);
    EXPECT_EQ(written(tr, a), "[(a) 1]");
    pv_push(&tr, a, pv_number(&tr, 7));
    EXPECT_EQ(written(tr, a), "[(a) 1 7]");
    EXPECT_EQ(pv_count(tr, a), 3);

    double v[4];
    int32_t n = 0;
    tr = pv_tree{};
    const int32_t r = parse(&tr, "[1 2.5 -3 4]");
    ASSERT_TRUE(pv_numbers(tr, r, v, 4, &n));
    EXPECT_EQ(n, 4);
    EXPECT_DOUBLE_EQ(v[1], 2.5);
    EXPECT_FALSE(pv_numbers(tr, r, v, 3, &n));  // more than asked for
    tr = pv_tree{};
    const int32_t bad = parse(&tr, "[1 null 3]");
    EXPECT_FALSE(pv_numbers(tr, bad, v, 4, &n));
    pv_set_number(&tr, tr.nodes[bad].first, -0.0);
    EXPECT_EQ(written(tr, bad), "[0 null 3]");
}
