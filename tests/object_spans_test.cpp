// Object spans: objects without an "endobj" of their own reach over the
// objects after them; past 16 such headers the reach is cut.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
