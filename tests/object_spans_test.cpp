// Object spans: objects without an "endobj" of their own reach over the
// objects after them; past 16 such headers the reach is cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "reader/doc.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

// A document loaded from bytes, freed at the end.
struct loaded : plenvo_test::loaded_doc {
    explicit loaded(const std::string &bytes) : loaded_doc(bytes, "test") {}
    // The searched text of object num (its dictionary text), or "<none>".
    std::string dict(int32_t num) const {
        const objent *e = doc_lookup(&d, num);
        if (!e) return "<none>";
        text_range r = dict_range(&d, e);
        if (r.start < 0) return "<none>";
        return std::string(reinterpret_cast<const char *>(r.base + r.start), static_cast<size_t>(r.end - r.start));
    }
};

const char *const k_tree =
    "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";

// Object 3 is a page whose dictionary is followed, before its "endobj", by
// `headers` objects 100, 101, ... that have no "endobj" of their own.
std::string page_then_headers(int headers, const std::string &page_tail) {
    std::string s = std::string("%PDF-1.4\n") + k_tree + "3 0 obj\n<< /Type /Page /MediaBox [0 0 300 400] " + page_tail;
    for (int k = 0; k < headers; ++k) s += "\n" + std::to_string(100 + k) + " 0 obj << /K " + std::to_string(k);
    return s + "\n>> endobj\n";
}

TEST(ObjectSpans, SixteenHeadersInsideAnObjectKeepItsWholeText) {
    loaded l(page_then_headers(16, ""));
    ASSERT_EQ(l.rc, 0);
    // The page's dictionary runs to its endobj, over all sixteen.
    EXPECT_NE(l.dict(3).find("115 0 obj"), std::string::npos);
    EXPECT_NE(doc_lookup(&l.d, 115), nullptr);
}

TEST(ObjectSpans, SeventeenHeadersCutTheTextAtTheFirst) {
    loaded l(page_then_headers(17, ""));
    ASSERT_EQ(l.rc, 0);
    std::string t = l.dict(3);
    EXPECT_EQ(t.find("100 0 obj"), std::string::npos) << t;
    EXPECT_EQ(t.rfind("<< /Type /Page /MediaBox [0 0 300 400]", 0), 0u) << t;
    // The objects inside stay: the first reaches over sixteen and keeps its
    // text, the last ends at the endobj.
    EXPECT_NE(l.dict(100).find("116 0 obj << /K 16"), std::string::npos);
    EXPECT_EQ(l.dict(116), "<< /K 16\n>> ");
    EXPECT_EQ(l.d.pages.count, 1);
}

TEST(ObjectSpans, FewHeadersInsideAStringKeepTheObjectWhole) {
    // Header look-alikes inside a literal string are taken for objects by
    // the scan; the catalog around them keeps its /Pages after the string.
    std::string s = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Note (see 7 0 obj and 8 0 obj) /Pages 2 0 R >>\nendobj\n"
                    "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
                    "3 0 obj\n<< /Type /Page /MediaBox [0 0 300 400] >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n";
    loaded l(s);
    ASSERT_EQ(l.rc, 0);
    EXPECT_NE(l.dict(1).find("/Pages 2 0 R"), std::string::npos);
    EXPECT_EQ(l.d.pages.count, 1);
}

TEST(ObjectSpans, StreamDictionaryRegionOverManyHeadersLeavesTheTable) {
    // Twenty objects whose dictionaries nest, closed before one "stream"
    // keyword: the outermost is the stream, its dictionary region reaching
    // over nineteen headers; the others have no stream and share its endobj.
    std::string s = std::string("%PDF-1.4\n") + k_tree + "3 0 obj\n<< /Type /Page >>\nendobj\n";
    std::string closing;
    for (int k = 0; k < 20; ++k) {
        s += std::to_string(10 + k) + " 0 obj << /A ";
        closing += ">> ";
    }
    s += "1 " + closing + "\nstream\nhello\nendstream\nendobj\n";
    loaded l(s);
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(doc_lookup(&l.d, 10), nullptr) << "the stream reaching over nineteen headers";
    EXPECT_EQ(l.dict(11), "<< /A ") << "eighteen headers: cut at the next";
    EXPECT_EQ(l.dict(12), "<< /A ") << "seventeen headers: cut at the next";
    EXPECT_NE(l.dict(13).find("29 0 obj"), std::string::npos) << "sixteen headers: whole";
    EXPECT_EQ(l.d.max_num, 29);
}

TEST(ObjectSpans, OrdinaryFilesAreUnchanged) {
    // Every object with its own endobj: nothing is cut.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int k = 0; k < 40; ++k) kids += std::to_string(3 + k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count 40 >>");
    for (int k = 0; k < 40; ++k) b.add(3 + k, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] >>");
    loaded l(b.build());
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(l.d.pages.count, 40);
    EXPECT_EQ(l.dict(20), "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] >>\n");
}

// ---------------- entries out of file order ----------------

// The cut worked out plainly: count, for each entry, the headers lying
// strictly between its own and the end of its text.
void plain_limit(std::vector<objent> *table, int32_t *max_num) {
    std::vector<int32_t> hdrs;
    for (const objent &e : *table)
        if (!e.in_objstm && e.hdr_pos >= 0) hdrs.push_back(e.hdr_pos);
    if (hdrs.size() <= 16) return;
    std::vector<objent> kept;
    bool dropped = false;
    for (objent e : *table) {
        const int32_t end = e.has_stream ? (e.stream_pos > 0 ? e.stream_pos : -1) : (e.endobj_pos > 0 ? e.endobj_pos : -1);
        if (!e.in_objstm && e.hdr_pos >= 0 && end > e.hdr_pos) {
            int32_t inside = 0, next = INT32_MAX;
            for (int32_t h : hdrs)
                if (h > e.hdr_pos) {
                    next = std::min(next, h);
                    if (h < end) ++inside;
                }
            if (inside > 16) {
                if (e.has_stream) {
                    dropped = true;
                    continue;
                }
                e.endobj_pos = e.end_pos = next;
            }
        }
        kept.push_back(e);
    }
    *table = kept;
    if (dropped) {
        *max_num = 0;
        for (const objent &e : kept) *max_num = std::max(*max_num, e.num);
    }
}

// Tables made by hand, sorted by header, sorted in stretches or not at all
// (headers that go back are looked up by binary search, the others by
// stepping forward): the cut is the plain one.
TEST(ObjectSpans, EntriesOutOfFileOrderAreCutAsThePlainCount) {
    std::mt19937 rng(11);
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    int cut = 0, backwards = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<objent> table;
        const int n = 10 + pick(80);
        for (int k = 0; k < n; ++k) {
            objent e{};
            e.num = 1 + pick(200);
            e.hdr_pos = pick(20) == 0 ? -1 : pick(3000);
            e.dict_pos = e.hdr_pos + 8;
            e.stream_pos = e.data_pos = e.data_end = e.data_len = -1;
            e.in_objstm = pick(12) == 0;
            e.has_stream = pick(3) == 0;
            const int32_t end = e.hdr_pos + pick(1500) - 100;
            if (e.has_stream)
                e.stream_pos = end;
            else
                e.endobj_pos = end;
            e.end_pos = end + 6;
            table.push_back(e);
        }
        auto by_hdr = [](const objent &a, const objent &b) { return a.hdr_pos < b.hdr_pos; };
        if (round % 3 == 0) std::sort(table.begin(), table.end(), by_hdr);
        if (round % 3 == 1) std::sort(table.begin(), table.begin() + pick(n), by_hdr);
        for (size_t k = 1; k < table.size(); ++k) backwards += table[k].hdr_pos < table[k - 1].hdr_pos ? 1 : 0;
        doc d{};
        for (const objent &e : table) objvec_push(&d.objs, &e);
        d.max_num = -7;  // left alone unless a stream object leaves
        std::vector<objent> want = table;
        int32_t want_max = -7;
        plain_limit(&want, &want_max);
        limit_object_spans(&d);
        ASSERT_EQ(d.objs.count, static_cast<int32_t>(want.size())) << "round " << round;
        EXPECT_EQ(d.max_num, want_max) << "round " << round;
        for (size_t k = 0; k < want.size(); ++k) {
            const objent &g = d.objs.items[k];
            ASSERT_EQ(g.num, want[k].num) << "round " << round;
            ASSERT_EQ(g.endobj_pos, want[k].endobj_pos) << "round " << round << " entry " << k;
            ASSERT_EQ(g.end_pos, want[k].end_pos) << "round " << round << " entry " << k;
        }
        bool changed = want.size() != table.size();
        for (size_t k = 0; !changed && k < want.size(); ++k) changed = want[k].endobj_pos != table[k].endobj_pos;
        cut += changed ? 1 : 0;
        doc_free(&d);
    }
    EXPECT_GT(cut, 30);
    EXPECT_GT(backwards, 1000);
}

}  // namespace
