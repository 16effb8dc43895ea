// Content streams drawn by several pages: a build decodes each once, and
// every page's form still holds exactly that page's content.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "output/scale.h"
#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

const std::string A = "q 1 0 0 RG 0 0 m 100 100 l S Q\n";
const std::string B = "BT /F1 9 Tf (second part) Tj ET\n";
const std::string C = "0 0 200 300 re f\n";

// Four pages: 1 and 3 draw stream 10, page 2 the array [10 11], page 4
// stream 11 and page 5 stream 12 alone. All three are Flate streams.
pdf_builder shared_streams() {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 >>");
    const std::string box = "/MediaBox [0 0 612 792] ";
    b.add(3, "<< /Type /Page /Parent 2 0 R " + box + "/Contents 10 0 R >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R " + box + "/Contents [10 0 R 11 0 R] >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R " + box + "/Contents 10 0 R >>");
    b.add(6, "<< /Type /Page /Parent 2 0 R " + box + "/Contents 11 0 R >>");
    b.add(7, "<< /Type /Page /Parent 2 0 R " + box + "/Contents 12 0 R >>");
    b.add_stream(10, plenvo_test::zlib_compress(A), "/Filter /FlateDecode");
    b.add_stream(11, plenvo_test::zlib_compress(B), "/Filter /FlateDecode");
    b.add_stream(12, plenvo_test::zlib_compress(C), "/Filter /FlateDecode");
    return b;
}

struct loaded {
    doc d{};
    int rc;
    explicit loaded(const std::string &pdf) {
        rc = doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), "test.pdf", &d);
    }
    ~loaded() { doc_free(&d); }
};

// The stream data of output object num, read with its /Length.
std::string form_content(const std::string &out, int num) {
    std::regex head("(^|\n)" + std::to_string(num) + R"( 0 obj\n<<[^\n]*?/Length (\d+)[^\n]*>> stream\n)");
    std::smatch m;
    if (!std::regex_search(out, m, head)) return "<no form>";
    const size_t start = static_cast<size_t>(m.position(0) + m.length(0));
    return out.substr(start, std::stoul(m[2].str()));
}

std::string scale_file(const std::string &pdf) {
    std::string dir = plenvo_test::temp_dir();
    std::string in = plenvo_test::write_file(dir, "in.pdf", pdf);
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 1) << plenvo_last_error();
    return plenvo_test::read_file(out);
}

}  // namespace

TEST(SharedContent, EveryPageDrawsItsOwnContent) {
    const std::string out = scale_file(shared_streams().build());
    // Form of page k is object 3k + 1; array parts are joined by one line feed.
    EXPECT_EQ(form_content(out, 4), A);
    EXPECT_EQ(form_content(out, 7), A + "\n" + B);
    EXPECT_EQ(form_content(out, 10), A);
    EXPECT_EQ(form_content(out, 13), B);
    EXPECT_EQ(form_content(out, 16), C);
}

TEST(SharedContent, SharedStreamThatDoesNotDecodeIsEmptyEverywhere) {
    pdf_builder b = shared_streams();
    std::string bad = plenvo_test::zlib_compress(A);
    bad[2] = static_cast<char>(0xFF);  // a block type deflate does not define
    for (auto &o : b.objs)
        if (o.num == 10) o.body = "<< /Length " + std::to_string(bad.size()) + " /Filter /FlateDecode >>\nstream\n" + bad + "\nendstream";
    const std::string out = scale_file(b.build());
    EXPECT_EQ(form_content(out, 4), "");
    EXPECT_EQ(form_content(out, 7), B);
    EXPECT_EQ(form_content(out, 10), "");
    EXPECT_EQ(form_content(out, 13), B);
}

TEST(SharedContent, ReusedGatheringMatchesPlainGathering) {
    loaded l(shared_streams().build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    page_content reused{};
    for (int32_t k = 0; k < l.d.pages.count; ++k) {
        const objent *page = doc_lookup(&l.d, l.d.pages.items[k].objnum);
        ASSERT_NE(page, nullptr);
        page_content plain;
        gather_content(&l.d, page, &plain);
        gather_content_reusing(&l.d, page, &c, &reused);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(reused.data), reused.len),
                  std::string(reinterpret_cast<const char *>(plain.data), plain.len))
            << "page " << k + 1;
        buf_free(&plain.owned);
    }
    // Streams 10 and 11 were drawn more than once; 12 only once.
    EXPECT_EQ(c.kept.count(10), 1u);
    EXPECT_EQ(c.kept.count(11), 1u);
    EXPECT_EQ(c.kept.count(12), 0u);
    EXPECT_EQ(c.bytes, A.size() + B.size());
    buf_free(&reused.owned);
}

TEST(SharedContent, SecondDrawingIsKeptAndHandedOutAfterwards) {
    loaded l(shared_streams().build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    page_content reused{};
    auto draw = [&](int k) {
        gather_content_reusing(&l.d, doc_lookup(&l.d, l.d.pages.items[k].objnum), &c, &reused);
        return std::string(reinterpret_cast<const char *>(reused.data), reused.len);
    };
    EXPECT_EQ(draw(0), A);
    EXPECT_TRUE(c.kept.empty());  // drawn once so far
    EXPECT_EQ(draw(1), A + "\n" + B);
    ASSERT_EQ(c.kept.count(10), 1u);
    EXPECT_EQ(draw(2), A);
    // The third drawing hands out the kept copy itself, not the page's buffer.
    EXPECT_EQ(reused.data, c.kept[10].data());
    buf_free(&reused.owned);
}

TEST(SharedContent, LargeDecodedStreamsAreNotKept) {
    // 33 MiB of decoded content, drawn by three pages: over the cache's bound.
    const std::string big(33u << 20, 'x');
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int k = 3; k <= 5; ++k) b.add(k, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 10 0 R >>");
    b.add_stream(10, plenvo_test::zlib_compress(big, 1), "/Filter /FlateDecode");
    loaded l(b.build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    page_content reused{};
    for (int k = 0; k < 3; ++k) {
        gather_content_reusing(&l.d, doc_lookup(&l.d, l.d.pages.items[k].objnum), &c, &reused);
        ASSERT_EQ(static_cast<size_t>(reused.len), big.size());
        EXPECT_EQ(reused.data[0], 'x');
        EXPECT_EQ(reused.data[big.size() - 1], 'x');
    }
    EXPECT_TRUE(c.kept.empty());
    EXPECT_EQ(c.bytes, 0u);
    buf_free(&reused.owned);
}
