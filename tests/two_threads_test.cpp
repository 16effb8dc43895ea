// Work done on a second thread gives exactly what one thread gives: page
// contents decoded ahead of the writer, and the whole output file.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "output/content_ahead.h"
#include "output/scale.h"
#include "plenvo.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

using loaded = plenvo_test::loaded_doc;

// Sets content_ahead_min_pages for one scope.
struct min_pages {
    int32_t was = content_ahead_min_pages;
    explicit min_pages(int32_t v) { content_ahead_min_pages = v; }
    ~min_pages() { content_ahead_min_pages = was; }
};

// A document of `pages` pages whose contents take every form the gathering
// knows, in a repeating pattern: its own Flate stream, a stream shared by
// many pages (kept by the cache), an array mixing both, raw content lying in
// the input, no /Contents, a reference to a missing object, a damaged Flate
// stream. Page `big` (when >= 0) draws about 1.5 MB, more than one batch holds.
std::string mixed_document(int pages, int big = -1) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int k = 0; k < pages; ++k) kids += std::to_string(100 + 2 * k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    b.add_stream(10, plenvo_test::zlib_compress("0 0 m 10 10 l S % shared\n"), "/Filter /FlateDecode");
    b.add_stream(11, "1 0 0 RG 5 5 50 50 re f % raw, shared\n");
    for (int k = 0; k < pages; ++k) {
        const int page = 100 + 2 * k, own = page + 1;
        std::string content = "BT /F1 12 Tf 72 700 Td (page " + std::to_string(k) + ") Tj ET\n";
        if (k == big)
            for (int j = 0; content.size() < 1500000; ++j) content += std::to_string(j) + " 0 m 300 700 l S\n";
        std::string contents;
        switch (k % 8) {
            case 0: case 5: contents = "/Contents " + std::to_string(own) + " 0 R"; break;
            case 1: contents = "/Contents 10 0 R"; break;
            case 2: contents = "/Contents [10 0 R " + std::to_string(own) + " 0 R 11 0 R]"; break;
            case 3: contents = "/Contents 11 0 R"; break;
            case 4: contents = ""; break;
            case 6: contents = "/Contents 99999 0 R"; break;
            case 7: contents = "/Contents " + std::to_string(own) + " 0 R"; break;
        }
        if (k == big) contents = "/Contents " + std::to_string(own) + " 0 R";
        b.add(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(300 + k % 5) + " 400] " +
                        contents + " >>");
        if (k % 8 == 7 && k != big) {
            std::string damaged = plenvo_test::zlib_compress(content);
            damaged[damaged.size() / 2] ^= 0x55;
            b.add_stream(own, damaged, "/Filter /FlateDecode");
        } else {
            b.add_stream(own, plenvo_test::zlib_compress(content), "/Filter /FlateDecode");
        }
    }
    return b.build();
}

// Every page's content as gathering page by page on this thread gives it.
std::vector<std::string> gathered_one_by_one(const doc &d, const std::vector<page_keys> &keys) {
    content_cache cache;
    content_cache_count(&d, keys.data(), &cache);
    page_content pc{};
    std::vector<std::string> out;
    for (int32_t k = 0; k < d.pages.count; ++k) {
        gather_content_reusing(&d, doc_lookup(&d, d.pages.items[k].objnum), keys[k].contents, &cache, &pc);
        const int32_t len = pc.data && pc.len > 0 ? pc.len : 0;
        out.emplace_back(reinterpret_cast<const char *>(pc.data), static_cast<size_t>(len));
    }
    buf_free(&pc.owned);
    return out;
}

std::vector<page_keys> keys_of(const doc &d) {
    std::vector<page_keys> keys;
    for (int32_t k = 0; k < d.pages.count; ++k)
        keys.push_back(find_page_keys(&d, doc_lookup(&d, d.pages.items[k].objnum)));
    return keys;
}

std::string scaled(const std::string &dir, const std::string &in, const char *name) {
    const std::string out = dir + "/" + name;
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 1) << plenvo_last_error();
    return plenvo_test::read_file(out);
}

}  // namespace

TEST(ContentAhead, HandsOutWhatGatheringPageByPageGives) {
    // 700 pages: several batches, one of them cut short by a large page.
    loaded l(mixed_document(700, 300));
    ASSERT_EQ(l.rc, 0) << plenvo_last_error();
    const std::vector<page_keys> keys = keys_of(l.d);
    const std::vector<std::string> want = gathered_one_by_one(l.d, keys);
    for (const int32_t threshold : {1, INT32_MAX}) {
        min_pages m(threshold);
        content_cache cache;
        content_cache_count(&l.d, keys.data(), &cache);
        content_ahead ahead(&l.d, keys.data(), &cache);
        if (threshold == INT32_MAX) EXPECT_FALSE(ahead.threaded());
        else if (std::thread::hardware_concurrency() != 1) EXPECT_TRUE(ahead.threaded());
        int in_place = 0;
        for (int32_t k = 0; k < l.d.pages.count; ++k) {
            const content_view v = ahead.page(k);
            EXPECT_EQ(v.too_long, 0);
            ASSERT_EQ(std::string(reinterpret_cast<const char *>(v.data), static_cast<size_t>(v.len)),
                      want[static_cast<size_t>(k)])
                << "page " << k << " threshold " << threshold;
            in_place += v.len > 0 && v.data >= l.d.data && v.data < l.d.data + l.d.len;
        }
        // Raw content is handed out where it lies in the input.
        EXPECT_GT(in_place, 80);
    }
}

TEST(ContentAhead, LeftEarlyStopsTheWorker) {
    loaded l(mixed_document(600));
    ASSERT_EQ(l.rc, 0) << plenvo_last_error();
    const std::vector<page_keys> keys = keys_of(l.d);
    min_pages m(1);
    for (const int read : {0, 1, 300}) {
        content_cache cache;
        content_cache_count(&l.d, keys.data(), &cache);
        content_ahead ahead(&l.d, keys.data(), &cache);
        for (int32_t k = 0; k < read; ++k) ahead.page(k);
        // The destructor stops a worker that is waiting for room or still decoding.
    }
}

TEST(ContentAhead, OutputFileIsTheSameOnOneThreadAndOnTwo) {
    const std::string dir = plenvo_test::temp_dir();
    const std::string in = plenvo_test::write_file(dir, "in.pdf", mixed_document(900, 450));
    std::string one, two;
    {
        min_pages m(INT32_MAX);
        one = scaled(dir, in, "one.pdf");
    }
    {
        min_pages m(1);
        two = scaled(dir, in, "two.pdf");
    }
    EXPECT_GT(one.size(), 1500000u);
    EXPECT_TRUE(one == two);
}

TEST(ContentAhead, AFailingPageStopsBothWaysAlike) {
    // Page 500 of 800 cannot be placed (its box is too large to write): the
    // build stops there with the same message, leaving no file.
    std::string pdf = mixed_document(800);
    const std::string page = "/MediaBox [0 0 " + std::to_string(300 + 500 % 5) + " 400]";
    const size_t at = pdf.find(std::to_string(100 + 2 * 500) + " 0 obj");
    ASSERT_NE(at, std::string::npos);
    pdf.replace(pdf.find(page, at), page.size(), "/MediaBox [0 0 1" + std::string(60, '0') + " 400]");
    const std::string dir = plenvo_test::temp_dir();
    const std::string in = plenvo_test::write_file(dir, "in.pdf", pdf);
    std::vector<std::string> messages;
    for (const int32_t threshold : {INT32_MAX, 1}) {
        min_pages m(threshold);
        const std::string out = dir + "/out" + std::to_string(messages.size()) + ".pdf";
        EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 0);
        messages.push_back(plenvo_last_error());
        EXPECT_FALSE(plenvo_test::file_exists(out));
    }
    EXPECT_EQ(messages[0], "failed to build output (damaged page tree or content)");
    EXPECT_EQ(messages[0], messages[1]);
}
