// Comments are white space wherever the reader looks for a value: after an
// object's "obj", between a stream's dictionary and "stream", between keys
// and values, inside boxes, /Kids arrays and dictionaries, in trailers.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "base/error.h"
#include "reader/doc.h"
#include "reader/page_tree.h"
#include "support/loaded_doc.h"

using namespace plenvo;
using plenvo_test::loaded_doc;

namespace {

// The pieces of a one-page file; each case changes some of them.
struct parts {
    std::string after_catalog_obj = "\n";
    std::string kids = "[3 0 R]";
    std::string node_extra = "";
    std::string after_page_obj = "\n";
    std::string box = "/MediaBox [0 0 300 200]";
    std::string page_extra = "";
    std::string length = "/Length 5";
    std::string stream_dict_extra = "";
    std::string before_stream = "\n";
    std::string data = "HELLO";
    std::string more = "";  // further objects
    std::string trailer = "";

    std::string file() const {
        std::string s = "%PDF-1.4\n";
        s += "1 0 obj" + after_catalog_obj + "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
        s += "2 0 obj\n<< /Type /Pages /Kids " + kids + " /Count 1 " + node_extra + ">>\nendobj\n";
        s += "3 0 obj" + after_page_obj + "<< /Type /Page /Parent 2 0 R " + box + " /Contents 4 0 R " + page_extra +
             ">>\nendobj\n";
        s += "4 0 obj\n<< " + length + " " + stream_dict_extra + ">>" + before_stream + "stream\n" + data +
             "\nendstream\nendobj\n";
        return s + more + trailer;
    }
};

// What the reader made of a file: the first page's box and own rotation, and
// the data of stream object 4.
std::string summary(const std::string &bytes) {
    loaded_doc l(bytes);
    if (l.rc != 0) return std::string("error: ") + g_err;
    const pageinfo &p = l.d.pages.items[0];
    std::string s = "pages " + std::to_string(l.d.pages.count) + ", box " + std::to_string(int(p.urx - p.llx)) + "x" +
                    std::to_string(int(p.ury - p.lly)) + ", rotate " + std::to_string(page_rotate_own(&l.d, &p));
    const objent *e = doc_lookup(&l.d, 4);
    if (!e || !e->has_stream) return s + ", no stream";
    return s + ", data " +
           std::string(reinterpret_cast<const char *>(l.d.data + e->data_pos), static_cast<size_t>(e->data_end - e->data_pos));
}

struct comment_case {
    const char *name;
    parts file;
    const char *want;
};

void PrintTo(const comment_case &c, std::ostream *os) { *os << c.name; }

parts with(void (*change)(parts &)) {
    parts p;
    change(p);
    return p;
}

const char *const PLAIN = "pages 1, box 300x200, rotate -1, data HELLO";

class Comments : public ::testing::TestWithParam<comment_case> {};

}  // namespace

TEST_P(Comments, ReadAsWhiteSpace) { EXPECT_EQ(summary(GetParam().file.file()), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Objects, Comments,
    ::testing::Values(
        comment_case{"none", parts{}, PLAIN},
        comment_case{"after the page's obj", with([](parts &p) { p.after_page_obj = " % written by X\n"; }), PLAIN},
        comment_case{"after the catalog's obj", with([](parts &p) { p.after_catalog_obj = " % 12 0 R (x\n"; }), PLAIN},
        comment_case{"two comment lines after obj",
                     with([](parts &p) { p.after_page_obj = "\n% one\r% two\r\n  "; }), PLAIN},
        comment_case{"between the dictionary and stream",
                     with([](parts &p) { p.before_stream = " % the data\n"; }), PLAIN},
        comment_case{"two comment lines before stream",
                     with([](parts &p) { p.before_stream = "\n% a\n%b\n"; }), PLAIN},
        comment_case{"an open parenthesis in a comment inside the dictionary",
                     with([](parts &p) { p.stream_dict_extra = "% raw (data\n"; }), PLAIN},
        comment_case{"'>>' in a comment inside the dictionary",
                     with([](parts &p) { p.stream_dict_extra = "% not the end >>\n"; }), PLAIN},
        comment_case{"'%' inside a string is no comment",
                     with([](parts &p) { p.stream_dict_extra = "/T (100% sure) "; }), PLAIN}));

INSTANTIATE_TEST_SUITE_P(
    Values, Comments,
    ::testing::Values(
        comment_case{"between /MediaBox and its array",
                     with([](parts &p) { p.box = "/MediaBox % 999 999\n[0 0 300 200]"; }), PLAIN},
        comment_case{"inside the box array",
                     with([](parts &p) { p.box = "/MediaBox [0 0 % 50 50\n300 % 9\r200]"; }), PLAIN},
        comment_case{"inside /Kids", with([](parts &p) { p.kids = "[ % 9 0 R\n3 0 R % 8\n]"; }), PLAIN},
        comment_case{"between /Rotate and its value",
                     with([](parts &p) {
                         p.page_extra = "/Rotate % 90\n 0 ";
                         p.node_extra = "/Rotate 90 ";
                     }),
                     "pages 1, box 300x200, rotate 0, data HELLO"},
        comment_case{"between /Length and its value",
                     with([](parts &p) {
                         p.data = "AB\nendstream\nCD";
                         p.length = "/Length % bytes\n 15";
                     }),
                     "pages 1, box 300x200, rotate -1, data AB\nendstream\nCD"},
        comment_case{"after the obj of an indirect length",
                     with([](parts &p) {
                         p.data = "AB\nendstream\nCD";
                         p.length = "/Length 9 0 R";
                         p.more = "9 0 obj % the length\n15\nendobj\n";
                     }),
                     "pages 1, box 300x200, rotate -1, data AB\nendstream\nCD"}));

TEST(CommentsInTrailer, RootAfterAComment) {
    // A second catalog comes first in the file; /Root names object 7.
    parts p;
    p.after_catalog_obj = "\n";
    p.more = "7 0 obj\n<< /Type /Catalog /Pages 8 0 R >>\nendobj\n8 0 obj\n<< /Type /Pages /Kids [9 0 R] /Count 1 "
             ">>\nendobj\n9 0 obj\n<< /Type /Page /Parent 8 0 R /MediaBox [0 0 50 60] >>\nendobj\n";
    p.trailer = "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 10 /Root % the catalog\n 7 0 R >>\n";
    std::string s = p.file();
    s += "startxref\n" + std::to_string(s.find("xref\n")) + "\n%%EOF\n";
    loaded_doc l(s);
    ASSERT_EQ(l.rc, 0) << g_err;
    EXPECT_EQ(l.d.catalog, 7);
    EXPECT_EQ(l.d.pages.items[0].urx, 50);
}

TEST(CommentsInObjectStreams, HeaderKeysAfterComments) {
    const std::string data = "5 0 6 9 <</A 1>> <</B 2>>";
    parts p;
    p.more = "10 0 obj % an object stream\n<< /Type /ObjStm /N % two\n 2 /First % eight\n 8 /Length " +
             std::to_string(data.size()) + " >> %\nstream\n" + data + "\nendstream\nendobj\n";
    loaded_doc l(p.file());
    ASSERT_EQ(l.rc, 0) << g_err;
    const objent *six = doc_lookup(&l.d, 6);
    ASSERT_NE(six, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(six->text), static_cast<size_t>(six->text_len)), "<</B 2>>");
}
