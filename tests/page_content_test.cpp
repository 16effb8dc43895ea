// Page content: what a page's /Contents yields for a stream, an array, an
// array object, an inline stream, and values that name no content.
#include <gtest/gtest.h>

#include <string>

#include "output/page_content.h"
#include "output/page_keys.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

using loaded = plenvo_test::loaded_doc;

// Catalog 1, page-tree node 2 and the page 3 with the given dictionary entries.
pdf_builder one_page(const std::string &page_entries) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries + " >>");
    return b;
}

struct gathered {
    std::string text;
    bool owned = false;     // the data lies in the page's own buffer
    bool borrowed = false;  // the data lies inside the input's bytes
};

// Gathers the first page's content of pdf and releases it again.
gathered content_of(const std::string &pdf) {
    gathered g;
    loaded l(pdf);
    EXPECT_EQ(l.rc, 0);
    if (l.rc != 0 || l.d.pages.count < 1) return g;
    const objent *page = doc_lookup(&l.d, l.d.pages.items[0].objnum);
    EXPECT_NE(page, nullptr);
    content_cache cache;
    page_content c{};
    gather_content_reusing(&l.d, page, page_keys_of(&l.d)[0].contents, &cache, &c);
    EXPECT_GE(c.len, 0);
    EXPECT_NE(c.data, nullptr);
    if (c.data && c.len > 0) {
        g.text.assign(reinterpret_cast<const char *>(c.data), static_cast<size_t>(c.len));
        g.owned = c.owned.data && c.data >= c.owned.data && c.data + c.len <= c.owned.data + c.owned.len;
        g.borrowed = c.data >= l.d.data && c.data + c.len <= l.d.data + l.d.len;
    }
    buf_free(&c.owned);
    return g;
}

const std::string kDraw = "0 0 m 100 100 l S\n";

}  // namespace

// ---- a reference to a stream ----

TEST(ContentReference, FlateStreamIsInflated) {
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add_stream(4, plenvo_test::zlib_compress(kDraw), "/Filter /FlateDecode");
    gathered g = content_of(b.build());
    EXPECT_EQ(g.text, kDraw);
    EXPECT_TRUE(g.owned);
}

TEST(ContentReference, UnfilteredStreamIsReadInPlace) {
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add_stream(4, "BT /F1 12 Tf (Hi) Tj ET");
    gathered g = content_of(b.build());
    EXPECT_EQ(g.text, "BT /F1 12 Tf (Hi) Tj ET");
    EXPECT_TRUE(g.borrowed);
}

TEST(ContentReference, WholeFilterChainIsDecoded) {
    std::string z = plenvo_test::zlib_compress(kDraw);
    static const char hex[] = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : z) {
        h += hex[c >> 4];
        h += hex[c & 15];
    }
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add_stream(4, h + ">", "/Filter [/ASCIIHexDecode /FlateDecode]");
    EXPECT_EQ(content_of(b.build()).text, kDraw);
}

TEST(ContentReference, UnsupportedFilterGivesEmptyContent) {
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add_stream(4, "not really jbig2", "/Filter /JBIG2Decode");
    EXPECT_EQ(content_of(b.build()).text, "");
}

TEST(ContentReference, DamagedFlateGivesEmptyContent) {
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add_stream(4, "this is not zlib data at all", "/Filter /FlateDecode");
    EXPECT_EQ(content_of(b.build()).text, "");
}

TEST(ContentReference, MissingObjectOrNonStreamGivesEmptyContent) {
    EXPECT_EQ(content_of(one_page("/Contents 40 0 R").build()).text, "");
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add(4, "<< /Length 3 >>");
    EXPECT_EQ(content_of(b.build()).text, "");
}

// ---- an array of streams ----

TEST(ContentArray, PartsAreJoinedByOneLineFeed) {
    pdf_builder b = one_page("/Contents [4 0 R 5 0 R]");
    b.add_stream(4, "q\n");
    b.add_stream(5, "Q\n");
    EXPECT_EQ(content_of(b.build()).text, "q\n\nQ\n");
}

TEST(ContentArray, OperatorsAtTheSeamStaySeparate) {
    pdf_builder b = one_page("/Contents [4 0 R 5 0 R]");
    b.add_stream(4, "Q");
    b.add_stream(5, "q");
    gathered g = content_of(b.build());
    EXPECT_EQ(g.text, "Q\nq");
    EXPECT_TRUE(g.owned);
}

TEST(ContentArray, MissingAndUnusableElementsAreSkipped) {
    pdf_builder b = one_page("/Contents [4 0 R 99 0 R 6 0 R 7 0 R 5 0 R]");
    b.add_stream(4, "1 0 0 RG");
    b.add_stream(5, plenvo_test::zlib_compress("0 g"), "/Filter /FlateDecode");
    b.add(6, "<< /NotAStream true >>");
    b.add_stream(7, "garbage", "/Filter /FlateDecode");
    EXPECT_EQ(content_of(b.build()).text, "1 0 0 RG\n0 g");
}

TEST(ContentArray, EmptyArrayAndAllFailingElementsGiveEmptyContent) {
    EXPECT_EQ(content_of(one_page("/Contents []").build()).text, "");
    pdf_builder b = one_page("/Contents [98 0 R 99 0 R 4 0 R]");
    b.add_stream(4, "");
    EXPECT_EQ(content_of(b.build()).text, "");
}

TEST(ContentArray, BareNumbersAndCompactSpellingCount) {
    pdf_builder b = one_page("/Contents[4 0 R 5 R 6]");
    b.add_stream(4, "a");
    b.add_stream(5, "b");
    b.add_stream(6, "c");
    EXPECT_EQ(content_of(b.build()).text, "a\nb\nc");
}

// Comments are white space: the references a comment holds are no parts,
// also in an array object and before the value.
TEST(ContentArray, CommentsHoldNoParts) {
    const struct {
        const char *contents;
        const char *array_object;  // object 8, when the page names it
        const char *text;
    } cases[] = {
        {"/Contents [4 0 R % 5 0 R\n 6 0 R]", nullptr, "a\nc"},
        {"/Contents [4 0 R%5 0 R\r6 0 R]", nullptr, "a\nc"},
        {"/Contents % [5 0 R]\n[6 0 R]", nullptr, "c"},
        {"/Contents % 5 0 R\n4 0 R", nullptr, "a"},
        {"/Contents 8 0 R", "% [5 0 R]\n[4 0 R %5 0 R\n]", "a"},
    };
    for (const auto &c : cases) {
        pdf_builder b = one_page(c.contents);
        b.add_stream(4, "a");
        b.add_stream(5, "b");
        b.add_stream(6, "c");
        if (c.array_object) b.add(8, c.array_object);
        EXPECT_EQ(content_of(b.build()).text, c.text) << c.contents;
    }
}

TEST(ContentArray, ArrayObjectIsReadAsTheArray) {
    pdf_builder b = one_page("/Contents 4 0 R");
    b.add(4, "[5 0 R 6 0 R]");
    b.add_stream(5, "q 2 0 0 2 0 0 cm");
    b.add_stream(6, plenvo_test::zlib_compress("0 0 10 10 re f Q"), "/Filter /FlateDecode");
    EXPECT_EQ(content_of(b.build()).text, "q 2 0 0 2 0 0 cm\n0 0 10 10 re f Q");
}

TEST(ContentArray, ArrayObjectInsideAnObjectStream) {
    pdf_builder b = one_page("/Contents 4 0 R");
    std::string head = "4 0 ";
    std::string body = "[5 0 R 6 0 R]";
    b.add_stream(20, head + body, "/Type /ObjStm /N 1 /First " + std::to_string(head.size()));
    b.add_stream(5, "q");
    b.add_stream(6, "Q");
    EXPECT_EQ(content_of(b.build()).text, "q\nQ");
}

TEST(ContentArray, ManyPartsKeepTheirOrder) {
    std::string refs, want;
    pdf_builder b;
    for (int i = 0; i < 300; ++i) {
        refs += std::to_string(10 + i) + " 0 R ";
        std::string part = std::to_string(i) + " w";
        if (i % 2) b.add_stream(10 + i, plenvo_test::zlib_compress(part), "/Filter /FlateDecode");
        else b.add_stream(10 + i, part);
        want += (i ? "\n" : "") + part;
    }
    pdf_builder p = one_page("/Contents [" + refs + "]");
    for (const auto &o : b.objs) p.objs.push_back(o);
    EXPECT_EQ(content_of(p.build()).text, want);
}

// ---- a stream written inside the page ----

TEST(ContentInline, DirectLength) {
    gathered g = content_of(one_page("/Contents << /Length 9 >> stream\n0 0 m S Q\nendstream").build());
    EXPECT_EQ(g.text, "0 0 m S Q");
}

TEST(ContentInline, CarriageReturnLineFeedAfterTheKeyword) {
    EXPECT_EQ(content_of(one_page("/Contents << /Length 3 >> stream\r\nabc\r\nendstream").build()).text,
              "abc");
}

TEST(ContentInline, IndirectLength) {
    pdf_builder b = one_page("/Contents << /Length 9 0 R >> stream\nq 1 w Q\nendstream");
    b.add(9, "7");
    EXPECT_EQ(content_of(b.build()).text, "q 1 w Q");
}

TEST(ContentInline, IndirectLengthThatIsNoNumberGivesEmptyContent) {
    pdf_builder b = one_page("/Contents << /Length 9 0 R >> stream\nq 1 w Q\nendstream");
    b.add(9, "/Seven");
    EXPECT_EQ(content_of(b.build()).text, "");
    EXPECT_EQ(content_of(one_page("/Contents << /Length 19 0 R >> stream\nq\nendstream").build()).text, "");
}

TEST(ContentInline, LengthBeyondThePageGivesEmptyContent) {
    EXPECT_EQ(content_of(one_page("/Contents << /Length 900 >> stream\nq Q\nendstream").build()).text, "");
}

TEST(ContentInline, FilteredInlineStreamIsDecoded) {
    std::string data = "48656C6C6F>";  // "Hello" in hex
    EXPECT_EQ(content_of(one_page("/Contents << /Length " + std::to_string(data.size()) +
                                  " /Filter /ASCIIHexDecode >> stream\n" + data + "\nendstream")
                             .build())
                  .text,
              "Hello");
}

// ---- values that name no content ----

TEST(ContentNone, NoContentsKey) { EXPECT_EQ(content_of(one_page("").build()).text, ""); }

TEST(ContentNone, NameNullOrLoneBracket) {
    EXPECT_EQ(content_of(one_page("/Contents /Nothing").build()).text, "");
    EXPECT_EQ(content_of(one_page("/Contents null").build()).text, "");
    EXPECT_EQ(content_of(one_page("/Contents <41>").build()).text, "");
}

TEST(ContentNone, AnnotationTextBeforeTheKeyDoesNotHideIt) {
    // An inline annotation's /Contents is a text string, not the page's content.
    pdf_builder b = one_page("/Annots [<< /Type /Annot /Subtype /Text /Contents (note) >>] /Contents 4 0 R");
    b.add_stream(4, kDraw);
    EXPECT_EQ(content_of(b.build()).text, kDraw);
}

TEST(ContentNone, NullArgumentsGiveEmptyContent) {
    content_cache cache;
    page_content c{};
    gather_content_reusing(nullptr, nullptr, find_page_keys(nullptr, nullptr).contents, &cache, &c);
    EXPECT_EQ(c.len, 0);
    EXPECT_NE(c.data, nullptr);
    EXPECT_EQ(c.owned.data, nullptr);
}
