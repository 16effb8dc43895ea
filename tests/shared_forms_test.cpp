// Pages that would get the same form (the same content streams, resources,
// box and rotation, as in merged or templated documents): their forms are
// one object, the first such page's, and every page still places it with its
// own content stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plenvo.h"
#include "support/pdf_builder.h"
#include "support/render_compare.h"

using plenvo_test::pdf_builder;

namespace {

const std::string DRAW_A = "0 0 1 rg 100 100 300 400 re f\n";
const std::string DRAW_B = "BT /F1 48 Tf 120 600 Td (Shared) Tj ET\n";
const std::string RES_OBJ = "<< /Font << /F1 21 0 R >> >>";

struct page_case {
    const char *what;
    std::string dict;  // the page dictionary's keys beyond /Type and /Parent
    int drawn_form_of;  // the page (1-based) whose form it draws
};

const std::string LETTER = "/MediaBox [0 0 612 792] ";

// Page k's /Contents may name stream 10 (DRAW_A) or 11 (DRAW_B).
std::vector<page_case> cases() {
    return {
        {"first page", LETTER + "/Contents 10 0 R /Resources 20 0 R", 1},
        {"same stream, resources and box", LETTER + "/Contents 10 0 R /Resources 20 0 R", 1},
        {"another box", "/MediaBox [0 0 595 842] /Contents 10 0 R /Resources 20 0 R", 3},
        {"another rotation", LETTER + "/Rotate 90 /Contents 10 0 R /Resources 20 0 R", 4},
        {"another stream", LETTER + "/Contents 11 0 R /Resources 20 0 R", 5},
        {"inline resources reading as the shared ones", LETTER + "/Contents 10 0 R /Resources " + RES_OBJ, 1},
        {"other inline resources", LETTER + "/Contents 10 0 R /Resources << /Font << /F2 21 0 R >> >>", 7},
        {"the same other inline resources", LETTER + "/Contents 10 0 R /Resources << /Font << /F2 21 0 R >> >>", 7},
        {"an array of streams", LETTER + "/Contents [10 0 R 11 0 R] /Resources 20 0 R", 9},
        {"the same array", LETTER + "/Contents [10 0 R 11 0 R] /Resources 20 0 R", 9},
        {"the same array spaced otherwise", LETTER + "/Contents [ 10 0 R\n11 0 R ] /Resources 20 0 R", 9},
        {"the array in the other order", LETTER + "/Contents [11 0 R 10 0 R] /Resources 20 0 R", 12},
        {"no content", LETTER + "/Resources 20 0 R", 13},
        {"no content again", LETTER + "/Resources 20 0 R", 13},
        {"content written inside the page", LETTER + "/Resources 20 0 R /Contents << /Length " +
                                                std::to_string(DRAW_A.size()) + " >>\nstream\n" + DRAW_A + "endstream", 15},
        {"the same content inside another page", LETTER + "/Resources 20 0 R /Contents << /Length " +
                                                    std::to_string(DRAW_A.size()) + " >>\nstream\n" + DRAW_A + "endstream", 16},
        {"an explicit /Rotate 0", LETTER + "/Rotate 0 /Contents 10 0 R /Resources 20 0 R", 1},
    };
}

// The document of cases(): pages 200, 201, ...; streams 10 and 11 (Flate);
// resources 20 and font 21. With `own_copies`, every page that names a
// stream gets copies of its own (objects 100 + ...), so that no two pages
// share anything.
std::string case_document(bool own_copies) {
    const std::vector<page_case> cs = cases();
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t k = 0; k < cs.size(); ++k) kids += std::to_string(200 + k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(cs.size()) + " >>");
    int next = 100;
    for (size_t k = 0; k < cs.size(); ++k) {
        std::string dict = cs[k].dict;
        if (own_copies) {
            for (const char *ref : {"10 0 R", "11 0 R"}) {
                for (size_t at = dict.find(ref); at != std::string::npos;) {
                    const int copy = next++;
                    b.add_stream(copy, plenvo_test::zlib_compress(ref[1] == '0' ? DRAW_A : DRAW_B),
                                 "/Filter /FlateDecode");
                    const std::string renamed = std::to_string(copy) + " 0 R";
                    dict.replace(at, 6, renamed);
                    at = dict.find(ref, at + renamed.size());
                }
            }
        }
        b.add(static_cast<int>(200 + k), "<< /Type /Page /Parent 2 0 R " + dict + " >>");
    }
    b.add_stream(10, plenvo_test::zlib_compress(DRAW_A), "/Filter /FlateDecode");
    b.add_stream(11, plenvo_test::zlib_compress(DRAW_B), "/Filter /FlateDecode");
    b.add(20, RES_OBJ);
    b.add(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

struct scaled {
    std::string path;
    std::string bytes;
};

scaled fit_letter(const std::string &name, const std::string &pdf) {
    const std::string dir = plenvo_test::temp_dir();
    const std::string in = plenvo_test::write_file(dir, name + ".pdf", pdf);
    scaled s{dir + "/" + name + ".out.pdf", ""};
    EXPECT_EQ(plenvo_to_size(in.c_str(), s.path.c_str(), 1), 1) << plenvo_last_error();
    s.bytes = plenvo_test::read_file(s.path);
    return s;
}

}  // namespace

TEST(SharedForms, PagesWithTheSameFormDrawOneObject) {
    const std::vector<page_case> cs = cases();
    const scaled out = fit_letter("shared", case_document(false));
    ASSERT_EQ(plenvo_test::xref_problems(out.bytes), "");
    for (size_t i = 0; i < cs.size(); ++i) {
        const int k = static_cast<int>(i) + 1;
        const std::string page = plenvo_test::object_at(out.bytes, 3 * k);
        ASSERT_NE(page, "") << cs[i].what;
        // The page's /XObject name points at the form it draws.
        EXPECT_EQ(plenvo_test::ref_after(page, "/F0"), 3 * cs[i].drawn_form_of + 1) << cs[i].what;
        // Its own content stream places the form.
        EXPECT_EQ(plenvo_test::ref_after(page, "/Contents"), 3 * k + 2) << cs[i].what;
        const std::string draw = plenvo_test::stream_data(plenvo_test::object_at(out.bytes, 3 * k + 2));
        EXPECT_NE(draw.find(" cm /F0 Do Q"), std::string::npos) << cs[i].what << ": " << draw;
        // A page drawing another's form has no form object: its number stays free.
        const std::string form = plenvo_test::object_at(out.bytes, 3 * k + 1);
        if (cs[i].drawn_form_of == k) {
            EXPECT_NE(form.find("/Subtype /Form"), std::string::npos) << cs[i].what;
        } else {
            EXPECT_EQ(form, "") << cs[i].what;
        }
    }
    // The cross-reference table still counts every number of the layout:
    // three per page, three more, and the one copied object (the font).
    const std::string size = "/Size " + std::to_string(3 * cs.size() + 3 + 1);
    EXPECT_NE(out.bytes.find(size), std::string::npos) << size;
}

TEST(SharedForms, SharedFormsHoldWhatEachPageDraws) {
    const scaled out = fit_letter("shared", case_document(false));
    // Form of page 1: stream 10 alone; of page 9: the array, parts joined by a line feed.
    EXPECT_EQ(plenvo_test::stream_data(plenvo_test::object_at(out.bytes, 4)), DRAW_A);
    EXPECT_EQ(plenvo_test::stream_data(plenvo_test::object_at(out.bytes, 28)), DRAW_A + "\n" + DRAW_B);
    EXPECT_EQ(plenvo_test::stream_data(plenvo_test::object_at(out.bytes, 37)), DRAW_B + "\n" + DRAW_A);
}

TEST(SharedForms, ValidAndRenderedAsWithoutSharing) {
    const scaled shared = fit_letter("shared", case_document(false));
    const scaled apart = fit_letter("apart", case_document(true));
    // With copies of its own, a page with content has its own form.
    for (size_t k = 1; k <= cases().size(); ++k)
        if (cases()[k - 1].dict.find("/Contents") != std::string::npos)
            EXPECT_NE(plenvo_test::object_at(apart.bytes, static_cast<int>(3 * k + 1)), "") << "page " << k;
    EXPECT_LT(shared.bytes.size(), apart.bytes.size());
    if (plenvo_test::have_tool("qpdf")) {
        EXPECT_EQ(plenvo_test::qpdf_problems(shared.path), "");
    }
    if (!plenvo_test::have_tool("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
    std::vector<plenvo_test::grey_image> a, b;
    std::string why;
    ASSERT_TRUE(plenvo_test::render_pages(shared.path, 18, false, &a, &why)) << why;
    ASSERT_TRUE(plenvo_test::render_pages(apart.path, 18, false, &b, &why)) << why;
    ASSERT_EQ(a.size(), cases().size());
    ASSERT_EQ(b.size(), a.size());
    for (size_t k = 0; k < a.size(); ++k) EXPECT_EQ(plenvo_test::mean_abs_diff(a[k], b[k]), 0.0) << "page " << k + 1;
    // The drawings are there at all: page 1 is not blank.
    bool ink = false;
    for (uint8_t px : a[0].px) ink = ink || px < 128;
    EXPECT_TRUE(ink);
}

TEST(SharedForms, ManyCopiesOfFewPagesKeepTheOutputSmall) {
    // 2,000 pages made of 10 distinct ones, as a merge of copies writes them:
    // each copy a page object of its own naming shared streams and resources.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const int n = 2000, distinct = 10;
    std::string kids;
    for (int k = 0; k < n; ++k) kids += std::to_string(100 + k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    const std::string big(20000, ' ');
    for (int j = 0; j < distinct; ++j)
        b.add_stream(10 + j, plenvo_test::zlib_compress(DRAW_A + "% " + std::to_string(j) + big + "\n"),
                     "/Filter /FlateDecode");
    b.add(20, RES_OBJ);
    b.add(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int k = 0; k < n; ++k)
        b.add(100 + k, "<< /Type /Page /Parent 2 0 R " + LETTER + "/Resources 20 0 R /Contents " +
                           std::to_string(10 + k % distinct) + " 0 R >>");
    const scaled out = fit_letter("merged", b.build());
    int forms = 0;
    for (size_t at = out.bytes.find("/Subtype /Form"); at != std::string::npos;
         at = out.bytes.find("/Subtype /Form", at + 1))
        ++forms;
    EXPECT_EQ(forms, distinct);
    // Ten decoded contents of 20 kB, and a few hundred bytes per page.
    EXPECT_LT(out.bytes.size(), static_cast<size_t>(distinct * 21000 + n * 400));
    EXPECT_EQ(plenvo_test::xref_problems(out.bytes), "");
}

TEST(SharedForms, ArrayObjectsAndInheritedResources) {
    // Pages 1 and 2 inherit the root's resources, pages 3 and 4 those of an
    // inner node; all four name the array object 12 as their content.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [100 0 R 101 0 R 3 0 R] /Count 4 /Resources 20 0 R >>");
    b.add(3, "<< /Type /Pages /Parent 2 0 R /Kids [102 0 R 103 0 R] /Count 2 "
             "/Resources << /Font << /F2 21 0 R >> >> >>");
    for (int k = 0; k < 4; ++k)
        b.add(100 + k, "<< /Type /Page /Parent " + std::string(k < 2 ? "2" : "3") + " 0 R " + LETTER +
                           "/Contents 12 0 R >>");
    b.add_stream(10, plenvo_test::zlib_compress(DRAW_A), "/Filter /FlateDecode");
    b.add_stream(11, plenvo_test::zlib_compress(DRAW_B), "/Filter /FlateDecode");
    b.add(12, "[10 0 R 11 0 R]");
    b.add(20, RES_OBJ);
    b.add(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const scaled out = fit_letter("inherited", b.build());
    ASSERT_EQ(plenvo_test::xref_problems(out.bytes), "");
    const struct {
        int page, form;
        const char *font;  // the font name the form's resources hold
    } want[] = {{1, 4, "/F1"}, {2, 4, "/F1"}, {3, 10, "/F2"}, {4, 10, "/F2"}};
    for (const auto &w : want) {
        EXPECT_EQ(plenvo_test::ref_after(plenvo_test::object_at(out.bytes, 3 * w.page), "/F0"), w.form) << w.page;
        const std::string form = plenvo_test::object_at(out.bytes, w.form);
        EXPECT_EQ(plenvo_test::stream_data(form), DRAW_A + "\n" + DRAW_B) << w.page;
        EXPECT_NE(form.find(w.font), std::string::npos) << w.page;
    }
    EXPECT_EQ(plenvo_test::object_at(out.bytes, 7), "");
    EXPECT_EQ(plenvo_test::object_at(out.bytes, 13), "");
}

TEST(SharedForms, OneFormPlacedAtEachPagesOwnSize) {
    // The same content, resources and box; page 2 counts in units of 2 points.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R " + LETTER + "/Contents 10 0 R /Resources 20 0 R >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R " + LETTER + "/UserUnit 2 /Contents 10 0 R /Resources 20 0 R >>");
    b.add_stream(10, plenvo_test::zlib_compress(DRAW_A), "/Filter /FlateDecode");
    b.add(20, RES_OBJ);
    b.add(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const std::string dir = plenvo_test::temp_dir();
    const std::string in = plenvo_test::write_file(dir, "units.pdf", b.build());
    const std::string out_path = dir + "/units.out.pdf";
    ASSERT_EQ(plenvo_percent(in.c_str(), out_path.c_str(), 50.0f), 1) << plenvo_last_error();
    const std::string out = plenvo_test::read_file(out_path);
    const struct {
        int page;
        const char *media, *line;
    } want[] = {{1, "/MediaBox [0 0 306 396]", "q 0.5000 0 0 0.5000 0 0 cm /F0 Do Q"},
                {2, "/MediaBox [0 0 612 792]", "q 1 0 0 1 0 0 cm /F0 Do Q"}};
    for (const auto &w : want) {
        const std::string page = plenvo_test::object_at(out, 3 * w.page);
        EXPECT_EQ(plenvo_test::ref_after(page, "/F0"), 4) << w.page;
        EXPECT_NE(page.find(w.media), std::string::npos) << page;
        const std::string draw = plenvo_test::stream_data(plenvo_test::object_at(out, 3 * w.page + 2));
        EXPECT_EQ(draw.find(w.line), 0u) << draw;
    }
    if (plenvo_test::have_tool("qpdf")) EXPECT_EQ(plenvo_test::qpdf_problems(out_path), "");
}
