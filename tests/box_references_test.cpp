// Page boxes whose numbers are references, or whose whole value is a
// reference to an array (whose numbers may be references again).
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "base/error.h"
#include "reader/doc.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::loaded_doc;
using plenvo_test::pdf_builder;

namespace {

struct box_case {
    const char *page;  // the page's box keys
    const char *node;  // the page tree node's keys
    const char *want;  // the page box read
};

void PrintTo(const box_case &c, std::ostream *os) { *os << "page \"" << c.page << "\" node \"" << c.node << "\""; }

// Objects 20 to 27 hold numbers, an array and a name for the boxes to name;
// 30 is an object stream holding 31 (a number).
std::string box_of(const box_case &c) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, std::string("<< /Type /Pages /Kids [3 0 R] /Count 1 ") + c.node + " >>");
    b.add(3, std::string("<< /Type /Page /Parent 2 0 R ") + c.page + " >>");
    b.add(20, "300");
    b.add(21, "200.5");
    b.add(22, "[0 0 250 180]");
    b.add(23, "[0 0 24 0 R 200]");
    b.add(24, "240");
    b.add(25, "/Foo");
    b.add(26, "-300");
    b.add(27, ".5");
    b.add_stream(30, "31 0 410", "/Type /ObjStm /N 1 /First 5");
    loaded_doc l(b.build());
    if (l.rc != 0) return g_err;
    const pageinfo &p = l.d.pages.items[0];
    char s[128];
    std::snprintf(s, sizeof s, "%g %g %g %g", p.llx, p.lly, p.urx, p.ury);
    return s;
}

class BoxReferences : public ::testing::TestWithParam<box_case> {};

}  // namespace

TEST_P(BoxReferences, Box) { EXPECT_EQ(box_of(GetParam()), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Numbers, BoxReferences,
    ::testing::Values(
        box_case{"/MediaBox [0 0 300 200]", "", "0 0 300 200"},
        box_case{"/MediaBox [0 0 20 0 R 21 0 R]", "", "0 0 300 200.5"},
        box_case{"/MediaBox [0 0 20 0 R 200]", "", "0 0 300 200"},
        box_case{"/MediaBox [20 0 R 20 0 R 0 0]", "", "0 0 300 300"},
        box_case{"/MediaBox [0 0 300 26 0 R]", "", "0 -300 300 0"},
        box_case{"/MediaBox [0 0 27 0 R 1]", "", "0 0 0.5 1"},
        box_case{"/MediaBox [0 0 31 0 R 200]", "", "0 0 410 200"},
        box_case{"/MediaBox [0\n0\n20\n0\nR\n21 0 R]", "", "0 0 300 200.5"},
        // A reference to what is no number makes the box unusable.
        box_case{"/MediaBox [0 0 25 0 R 200]", "", "0 0 595 842"},
        box_case{"/MediaBox [0 0 99 0 R 200]", "", "0 0 595 842"},
        box_case{"/MediaBox [0 0 22 0 R 200]", "", "0 0 595 842"},
        box_case{"/MediaBox [0 0 25 0 R 200] /MediaBox [0 0 20 0 R 100]", "", "0 0 300 100"}));

INSTANTIATE_TEST_SUITE_P(
    Arrays, BoxReferences,
    ::testing::Values(
        box_case{"/MediaBox 22 0 R", "", "0 0 250 180"},
        box_case{"/MediaBox 23 0 R", "", "0 0 240 200"},
        box_case{"/MediaBox 20 0 R", "", "0 0 595 842"},
        box_case{"", "/MediaBox [0 0 20 0 R 21 0 R]", "0 0 300 200.5"},
        box_case{"", "/MediaBox 23 0 R", "0 0 240 200"},
        box_case{"/MediaBox [0 0 300 200] /CropBox [10 10 24 0 R 170]", "", "10 10 240 170"},
        box_case{"/CropBox 23 0 R", "/MediaBox [0 0 20 0 R 20 0 R]", "0 0 240 200"}));
