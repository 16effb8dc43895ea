// Content streams drawn by several pages: a build decodes each once, and
// every page's form still holds exactly that page's content.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "output/page_content.h"
#include "output/page_keys.h"
#include "reader/scan.h"
#include "plenvo.h"
#include "support/loaded_doc.h"
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

using loaded = plenvo_test::loaded_doc;

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

// Each page's keys, as the writer finds them.
std::vector<page_keys> keys_of(const doc &d) {
    std::vector<page_keys> k;
    for (int32_t i = 0; i < d.pages.count; ++i) k.push_back(find_page_keys(&d, doc_lookup(&d, d.pages.items[i].objnum)));
    return k;
}

TEST(SharedContent, PlacesAreCountedPerStream) {
    loaded l(shared_streams().build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    const std::vector<page_keys> keys = keys_of(l.d);
    content_cache_count(&l.d, keys.data(), &c);
    ASSERT_EQ(c.uses.count(10), 1u);
    ASSERT_EQ(c.uses.count(11), 1u);
    EXPECT_EQ(c.uses[10], 3);
    EXPECT_EQ(c.uses[11], 2);
    EXPECT_EQ(c.uses.count(12), 0u);  // drawn once: not kept
}

TEST(SharedContent, ReusedGatheringMatchesPlainGathering) {
    loaded l(shared_streams().build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    const std::vector<page_keys> keys = keys_of(l.d);
    content_cache_count(&l.d, keys.data(), &c);
    page_content reused{};
    for (int32_t k = 0; k < l.d.pages.count; ++k) {
        const objent *page = doc_lookup(&l.d, l.d.pages.items[k].objnum);
        ASSERT_NE(page, nullptr);
        content_cache uncounted;
        page_content plain{};
        gather_content_reusing(&l.d, page, keys[k].contents, &uncounted, &plain);
        gather_content_reusing(&l.d, page, keys[k].contents, &c, &reused);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(reused.data), reused.len),
                  std::string(reinterpret_cast<const char *>(plain.data), plain.len))
            << "page " << k + 1;
        buf_free(&plain.owned);
    }
    // Every counted place has been drawn; the last copies go with the next call.
    EXPECT_TRUE(c.uses.empty());
    EXPECT_LE(c.kept.size(), 2u);
    buf_free(&reused.owned);
}

TEST(SharedContent, FirstDrawingIsKeptAndDroppedAfterTheLast) {
    loaded l(shared_streams().build());
    ASSERT_EQ(l.rc, 0);
    content_cache c;
    const std::vector<page_keys> keys = keys_of(l.d);
    content_cache_count(&l.d, keys.data(), &c);
    page_content reused{};
    auto draw = [&](int k) {
        gather_content_reusing(&l.d, doc_lookup(&l.d, l.d.pages.items[k].objnum), keys[k].contents, &c, &reused);
        return std::string(reinterpret_cast<const char *>(reused.data), reused.len);
    };
    EXPECT_EQ(draw(0), A);
    ASSERT_EQ(c.kept.count(10), 1u);  // kept from its first drawing
    EXPECT_EQ(draw(1), A + "\n" + B);
    EXPECT_EQ(draw(2), A);
    // The last drawing hands out the kept copy itself, not the page's buffer.
    EXPECT_EQ(reused.data, c.kept[10].data());
    EXPECT_EQ(draw(3), B);
    EXPECT_EQ(c.kept.count(10), 0u);  // released once its last drawing was handed on
    EXPECT_EQ(draw(4), C);
    EXPECT_TRUE(c.kept.empty());
    EXPECT_EQ(c.bytes, 0u);
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
    const std::vector<page_keys> keys = keys_of(l.d);
    content_cache_count(&l.d, keys.data(), &c);
    EXPECT_EQ(c.uses[10], 3);
    page_content reused{};
    for (int k = 0; k < 3; ++k) {
        gather_content_reusing(&l.d, doc_lookup(&l.d, l.d.pages.items[k].objnum), keys[k].contents, &c, &reused);
        ASSERT_EQ(static_cast<size_t>(reused.len), big.size());
        EXPECT_EQ(reused.data[0], 'x');
        EXPECT_EQ(reused.data[big.size() - 1], 'x');
        EXPECT_TRUE(c.kept.empty());
    }
    buf_free(&reused.owned);
}

TEST(PageKeys, OneWalkFindsWhatSeparateSearchesFind) {
    // Keys at the top level, only nested, absent, after a string holding
    // the name, and after an unterminated string (the top-level walk fails;
    // the plain search still finds the name).
    const char *dicts[] = {
        "<< /Type /Page /Contents 4 0 R /Resources << /Font << >> >> >>",
        "<< /Type /Page /Resources << /Contents 5 0 R >> /Contents 4 0 R >>",
        "<< /Type /Page /A << /B << /Resources 7 0 R /Contents 8 0 R >> >> >>",
        "<< /Type /Page >>",
        "<< /Type /Page /T (/Contents 9 0 R) /Contents 4 0 R /Resources 6 0 R >>",
        "<< /Type /Page /T (unclosed /Contents 4 0 R /Resources 6 0 R >>",
        "<< /Type /Page /Resources 6 0 R % /Contents 9 0 R\n /Contents 4 0 R >>",
    };
    for (const char *dict : dicts) {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.add(3, dict);
        loaded l(b.build());
        ASSERT_EQ(l.rc, 0) << dict;
        const objent *page = doc_lookup(&l.d, 3);
        ASSERT_NE(page, nullptr);
        const text_range r = dict_range(&l.d, page);
        auto separate = [&](const char *name) {
            int32_t p = find_name_top(r.base, r.end, r.start, r.end, name);
            return p >= 0 ? p : find_name(r.base, r.end, r.start, r.end, name);
        };
        const page_keys k = find_page_keys(&l.d, page);
        EXPECT_EQ(k.contents, separate("Contents")) << dict;
        EXPECT_EQ(k.resources, separate("Resources")) << dict;
    }
}
