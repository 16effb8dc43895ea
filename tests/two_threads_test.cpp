// Work done on a second thread gives exactly what one thread gives: the
// helper thread's work sharing, a whole load (object table and page list),
// page contents decoded ahead of the writer, and the whole output file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "output/content_ahead.h"
#include "output/scale.h"
#include "plenvo.h"
#include "reader/helper_thread.h"
#include "reader/scan_phases.h"
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

// ---------------- the helper thread ----------------

TEST(HelperThread, SplitRunsEveryIndexOnceWithAndWithoutHelper) {
    helper_thread helper;
    for (helper_thread *h : {&helper, static_cast<helper_thread *>(nullptr)}) {
        for (const int32_t n : {0, 1, 2, 7, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(n));
            helper_thread::split(h, n, [&](int32_t i) { runs[static_cast<size_t>(i)].fetch_add(1); });
            for (int32_t i = 0; i < n; ++i) EXPECT_EQ(runs[static_cast<size_t>(i)].load(), 1) << n << " " << i;
        }
    }
}

TEST(HelperThread, WorkIsSharedWhileTheHelperWaits) {
    helper_thread helper;
    // Pieces long enough for the helper to take some while this thread works.
    std::atomic<int> by_helper{0};
    const std::thread::id me = std::this_thread::get_id();
    helper_thread::split(&helper, 64, [&](int32_t) {
        if (std::this_thread::get_id() != me) by_helper.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    if (std::thread::hardware_concurrency() != 1) EXPECT_GT(by_helper.load(), 0);
}

TEST(HelperThread, LowestFailingIndexIsRethrownAfterAllRan) {
    helper_thread helper;
    std::atomic<int> ran{0};
    try {
        helper_thread::split(&helper, 200, [&](int32_t i) {
            ran.fetch_add(1);
            if (i == 150 || i == 40 || i == 199) throw std::runtime_error(std::to_string(i));
        });
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "40");
    }
    EXPECT_EQ(ran.load(), 200);
}

TEST(HelperThread, EndsWhenIdleAndTheWorkThenRunsHere) {
    helper_thread helper;
    std::this_thread::sleep_for(std::chrono::milliseconds(helper_thread::IDLE_MS + 60));
    int ran = 0;
    EXPECT_FALSE(helper.post([](void *r) { ++*static_cast<int *>(r); }, &ran));
    const std::thread::id me = std::this_thread::get_id();
    bool elsewhere = false;
    helper_thread::split(&helper, 10, [&](int32_t) { elsewhere |= std::this_thread::get_id() != me; });
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(ran, 0);
}

TEST(HelperThread, PostedWorkRunsOnceOrIsTakenBack) {
    helper_thread helper;
    if (std::thread::hardware_concurrency() == 1) GTEST_SKIP() << "one core: no helper";
    std::atomic<int> ran{0};
    auto bump = [](void *r) { static_cast<std::atomic<int> *>(r)->fetch_add(1); };
    ASSERT_TRUE(helper.post(bump, &ran));
    helper.finish();
    EXPECT_EQ(ran.load(), 1);
    // Taken back at once or run: either way once at most, and the helper
    // takes new work afterwards.
    for (int k = 0; k < 100; ++k) {
        ASSERT_TRUE(helper.post(bump, &ran));
        helper.revoke_or_finish();
    }
    EXPECT_GE(ran.load(), 1);
    EXPECT_LE(ran.load(), 101);
    ASSERT_TRUE(helper.post(bump, &ran));
    const int before = ran.load();
    helper.finish();
    EXPECT_EQ(ran.load(), before + 1);
}

#if !defined(_WIN32)
TEST(HelperThread, ForkedChildGetsNoHelper) {
    helper_thread helper;
    if (std::thread::hardware_concurrency() == 1) GTEST_SKIP() << "one core: no helper";
    const pid_t pid = fork();
    if (pid == 0) {
        // The helper thread does not exist here: nothing may wait for it.
        int ran = 0;
        const bool posted = helper.post([](void *r) { ++*static_cast<int *>(r); }, &ran);
        int sum = 0;
        helper_thread::split(&helper, 50, [&](int32_t i) { sum += i; });
        // Nor may ending it wait for a thread that is not here.
        helper.~helper_thread();
        _exit(!posted && ran == 0 && sum == 1225 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

// ---------------- a whole load, split and not ----------------

namespace {

// Sets split_min_bytes for one scope.
struct split_from {
    int64_t was = split_min_bytes;
    explicit split_from(int64_t v) { split_min_bytes = v; }
    ~split_from() { split_min_bytes = was; }
};

// A page tree of `nodes` /Pages kids of the root with `per_node` pages
// each; nodes hand down boxes, rotation and resources in turn, some pages
// have their own. `twist` damages it: 1 a node listed twice, 2 a cycle, 3 a
// missing kid, 4 an inline dictionary in a nested /Kids, 5 an untyped kid.
std::string wide_tree(int nodes, int per_node, int twist = 0) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string root_kids;
    int next = 10 + nodes;
    for (int n = 0; n < nodes; ++n) {
        const int node = 10 + n;
        root_kids += std::to_string(node) + " 0 R ";
        std::string kids;
        for (int k = 0; k < per_node; ++k) {
            const int page = next++;
            kids += std::to_string(page) + " 0 R ";
            std::string own;
            if (k % 3 == 0) own += " /MediaBox [0 0 " + std::to_string(200 + k) + " 300]";
            if (k % 4 == 1) own += " /Rotate " + std::to_string(90 * (k % 4));
            if (k % 5 == 2) own += " /CropBox [10 10 150 250]";
            if (k % 2) own += " /Contents 5 0 R";
            b.add(page, "<< /Type /Page /Parent " + std::to_string(node) + " 0 R" + own + " >>");
        }
        if (twist == 1 && n == nodes - 1) kids += "11 0 R ";
        if (twist == 2 && n == nodes / 2) kids += "2 0 R ";
        if (twist == 3 && n == nodes / 3) kids += "99999 0 R ";
        if (twist == 4 && n == nodes / 4) kids += "<< /Type /Page >> ";
        if (twist == 5 && n == nodes / 5) kids += "5 0 R ";
        std::string inherited;
        if (n % 2) inherited += " /MediaBox [0 0 612 792]";
        if (n % 3 == 1) inherited += " /Rotate 270";
        if (n % 4 == 3) inherited += " /Resources << /Font << /F1 6 0 R >> >>";
        b.add(node, "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + "] /Count " + std::to_string(per_node) +
                        inherited + " >>");
    }
    b.add(2, "<< /Type /Pages /Kids [" + root_kids + "] /Count " + std::to_string(nodes * per_node) + " >>");
    b.add_stream(5, "0 0 m 10 10 l S\n");
    b.add(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

// Loads on one thread and split; with `path`, the split load reads that
// file (holding `bytes`) in blocks of `block` bytes, searched as they come.
void expect_same_load(const std::string &bytes, const std::string &what, const std::string &path = "",
                      int64_t block = 0) {
    std::string msg_one, msg_split;
    int rc_one, rc_split;
    doc one{}, split{};
    {
        split_from s(INT64_MAX);
        rc_one = doc_load_bytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "t.pdf", &one);
        msg_one = plenvo_last_error();
        EXPECT_EQ(one.helper, nullptr);
    }
    if (path.empty()) {
        split_from s(0);
        rc_split = doc_load_bytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "t.pdf", &split);
        msg_split = plenvo_last_error();
    } else {
        split_from s(0);
        const int64_t was = read_block_bytes;
        read_block_bytes = block;
        rc_split = doc_load(path.c_str(), &split);
        read_block_bytes = was;
        msg_split = plenvo_last_error();
        // The messages name the file loaded.
        const size_t at = msg_split.find(path);
        if (at != std::string::npos) msg_split.replace(at, path.size(), "t.pdf");
    }
    EXPECT_EQ(rc_one, rc_split) << what;
    EXPECT_EQ(msg_one, msg_split) << what;
    if (rc_one == 0 && rc_split == 0) {
        ASSERT_EQ(one.objs.count, split.objs.count) << what;
        for (int32_t i = 0; i < one.objs.count; ++i) {
            const objent &a = one.objs.items[i], &b = split.objs.items[i];
            const auto fields = [](const objent &e) {
                return std::vector<int32_t>{e.num,      e.gen,        e.hdr_pos,    e.dict_pos,    e.stream_pos,
                                            e.data_pos, e.data_end,   e.endobj_pos, e.end_pos,     e.data_len,
                                            e.has_stream, e.no_endstream, e.in_objstm, e.text_len};
            };
            ASSERT_EQ(fields(a), fields(b)) << what << " entry " << i;
            // Member texts live in each load's own arena.
            if (a.text && b.text)
                ASSERT_EQ(std::memcmp(a.text, b.text, static_cast<size_t>(a.text_len)), 0) << what << " entry " << i;
        }
        ASSERT_EQ(one.pages.count, split.pages.count) << what;
        for (int32_t k = 0; k < one.pages.count; ++k) {
            const auto fields = [](const pageinfo &p) {
                return std::vector<double>{double(p.objnum), double(p.parent),   double(p.rotate),     p.llx,
                                           p.lly,            p.urx,              p.ury,                double(p.res_node),
                                           double(p.dict_read), double(p.own_rotate), double(p.contents_key),
                                           double(p.resources_key)};
            };
            ASSERT_EQ(fields(one.pages.items[k]), fields(split.pages.items[k])) << what << " page " << k;
        }
        EXPECT_EQ(one.root, split.root);
        EXPECT_EQ(one.catalog, split.catalog);
    }
    doc_free(&one);
    doc_free(&split);
}

}  // namespace

TEST(LoadAgreement, PiecesOnTwoThreadsGiveTheSameTableAndPages) {
    expect_same_load(wide_tree(40, 30), "wide tree");
    expect_same_load(wide_tree(200, 3), "many small nodes");
    for (int twist = 1; twist <= 5; ++twist) expect_same_load(wide_tree(40, 10, twist), "twist " + std::to_string(twist));
    expect_same_load(mixed_document(500), "mixed document");
    // Damaged forms of one document: cut anywhere, bytes changed.
    const std::string base = wide_tree(36, 8);
    std::mt19937 rng(20261209);
    for (int k = 0; k < 150; ++k) {
        std::string m = base;
        if (k % 3 == 0) m.resize(std::uniform_int_distribution<size_t>(0, m.size())(rng));
        for (int j = k % 3; j > 0; --j)
            m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] = "<>[]()/ \n0R"[rng() % 11];
        if (!m.empty()) expect_same_load(m, "damaged " + std::to_string(k));
        if (HasFailure()) return;
    }
    for (const auto &f : plenvo_test::corpus_files()) expect_same_load(plenvo_test::read_file(f), f);
}

// A file read in blocks while the helper searches the blocks already read:
// blocks of every size around the pieces' boundaries, one byte to the whole.
TEST(LoadAgreement, SearchWhileReadingGivesTheSameTableAndPages) {
    const std::string dir = plenvo_test::temp_dir();
    const std::string tree = wide_tree(40, 30);
    const std::string path = plenvo_test::write_file(dir, "tree.pdf", tree);
    for (int64_t block : {int64_t(1), int64_t(7), int64_t(4096), int64_t(tree.size() / 8), int64_t(tree.size() / 8 + 3),
                          int64_t(tree.size() - 1), int64_t(tree.size()), int64_t(1) << 20})
        expect_same_load(tree, "block " + std::to_string(block), path, block);
    const std::string mixed = mixed_document(500);
    expect_same_load(mixed, "mixed document", plenvo_test::write_file(dir, "mixed.pdf", mixed), 1000);
    std::mt19937 rng(20261210);
    for (int k = 0; k < 40; ++k) {
        std::string m = tree;
        if (k % 2 == 0) m.resize(std::uniform_int_distribution<size_t>(1, m.size())(rng));
        for (int j = 1 + k % 3; j > 0; --j)
            m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] = "<>[]()/ \nobj"[rng() % 13];
        expect_same_load(m, "damaged " + std::to_string(k), plenvo_test::write_file(dir, "damaged.pdf", m),
                         1 + static_cast<int64_t>(rng() % 5000));
        if (HasFailure()) return;
    }
    for (const auto &f : plenvo_test::corpus_files()) expect_same_load(plenvo_test::read_file(f), f, f, 65536);
}
