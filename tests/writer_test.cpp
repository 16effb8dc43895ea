// The output file: fixed object layout, head, page objects, forms, content
// streams, copied objects, cross-reference table and trailer; and the closure
// of copied resources checked end to end (qpdf --check, and every reference
// leading to an object of the kind the input named).
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "plenvo.h"
#include "support/pdf_builder.h"
#include "support/render_compare.h"

using namespace plenvo_test;

namespace {

std::string entry(long off) {
    char e[32];
    std::snprintf(e, sizeof e, "%010ld 00000 n \n", off);
    return e;
}

// Writes `pdf` as the input, runs plenvo_percent at 100 and returns the output bytes.
std::string scale_100(const std::string &pdf) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", pdf);
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_percent(in.c_str(), out.c_str(), 100.0f), 1) << plenvo_last_error();
    return read_file(out);
}

std::string run_to_file(const std::string &pdf, std::string *out_path) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", pdf);
    *out_path = dir + "/out.pdf";
    EXPECT_EQ(plenvo_to_size(in.c_str(), out_path->c_str(), 1), 1) << plenvo_last_error();
    return read_file(*out_path);
}

int count_of(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

// Size from the trailer.
int trailer_size(const std::string &out) {
    std::smatch m;
    std::regex re(R"(trailer\n<< /Size (\d+) /Root 1 0 R >>)");
    return std::regex_search(out, m, re) ? std::stoi(m[1].str()) : -1;
}

// The catalog (1) and one /Pages node (2, media box 100 x 100) listing pages
// 1000 to 1000 + n - 1, which the caller adds.
void add_flat_tree(pdf_builder &b, int n) {
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int k = 0; k < n; ++k) kids += std::to_string(1000 + k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " /MediaBox [0 0 100 100] >>");
}

}  // namespace

// ---- layout ----

TEST(WriterLayout, OnePageWithoutResourcesByteForByte) {
    std::string out_path;
    std::string out = run_to_file(simple_pdf(1, "/MediaBox [0 0 612 792]"), &out_path);

    const std::string head = std::string("%PDF-1.4\n") + "\x25\xE2\xE3\xCF\xD3\n";
    ASSERT_EQ(head.size(), 15u);
    const std::string o1 = "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    const std::string o2 = "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
    const std::string o3 =
        "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
        "/Resources << /XObject << /F0 4 0 R >> >> >>\nendobj\n";
    const std::string o4 =
        "4 0 obj\n<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 0 >> stream\n"
        "\nendstream\nendobj\n";
    const std::string line = "q 1 0 0 1 0 0 cm /F0 Do Q\n";
    ASSERT_EQ(line.size(), 26u);
    const std::string o5 = "5 0 obj\n<< /Length 26 >>\nstream\n" + line + "endstream\nendobj\n";
    const long off1 = 15;
    const long off2 = off1 + static_cast<long>(o1.size());
    const long off3 = off2 + static_cast<long>(o2.size());
    const long off4 = off3 + static_cast<long>(o3.size());
    const long off5 = off4 + static_cast<long>(o4.size());
    const long xref = off5 + static_cast<long>(o5.size());
    const std::string expected = head + o1 + o2 + o3 + o4 + o5 + "xref\n0 6\n0000000000 65535 f \n" +
                                 "0000000015 00000 n \n" + entry(off2) + entry(off3) + entry(off4) +
                                 entry(off5) + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref " +
                                 std::to_string(xref) + "\n%%EOF\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(xref_problems(out), "");
    EXPECT_STREQ(plenvo_last_error(), "");
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

TEST(WriterLayout, ThreePagesAndTwoCopiedObjects) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /MediaBox [0 0 612 792] >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 7 0 R >> >> >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 7 0 R /F2 8 0 R >> >> >>");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(8, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    std::string out_path;
    std::string out = run_to_file(b.build(), &out_path);
    EXPECT_EQ(xref_problems(out), "");
    EXPECT_NE(out.find("2 0 obj\n<< /Type /Pages /Kids [3 0 R 6 0 R 9 0 R] /Count 3 >>\nendobj\n"), std::string::npos);
    EXPECT_EQ(trailer_size(out), 14);
    for (int k = 3; k <= 11; ++k) {
        std::string o = object_at(out, k);
        ASSERT_FALSE(o.empty()) << k;
        const char *kind = k % 3 == 0 ? "/Type /Page " : (k % 3 == 1 ? "/Subtype /Form" : "stream\nq ");
        EXPECT_NE(o.find(kind), std::string::npos) << k << ": " << o;
    }
    EXPECT_NE(object_at(out, 12).find("/BaseFont /Helvetica"), std::string::npos);
    EXPECT_NE(object_at(out, 13).find("/BaseFont /Courier"), std::string::npos);
    EXPECT_NE(object_at(out, 4).find("/Resources << /Font << /F1 12 0 R >> >>"), std::string::npos);
    EXPECT_EQ(object_at(out, 7).find("/Resources"), std::string::npos);
    EXPECT_NE(object_at(out, 10).find("/Resources << /Font << /F1 12 0 R /F2 13 0 R >> >>"), std::string::npos);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

TEST(WriterLayout, MissingCopiedObjectHasAFreeEntry) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 40 0 R /F2 41 0 R >> >> >>");
    b.add(41, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
    const std::string pdf = b.build();
    std::string out_path;
    std::string out = run_to_file(pdf, &out_path);
    EXPECT_EQ(xref_problems(out), "");
    EXPECT_EQ(trailer_size(out), 8);
    // 40 -> 6 (absent: free), 41 -> 7.
    EXPECT_EQ(out.find("6 0 obj"), std::string::npos);
    EXPECT_NE(out.find("0000000000 65535 f \n" + entry(static_cast<long>(out.find("7 0 obj")))), std::string::npos);
    EXPECT_NE(object_at(out, 4).find("/F1 6 0 R /F2 7 0 R"), std::string::npos);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

// Thousands of entries, offsets of six and seven digits, free entries spread
// over the table: every entry points at its object or is the exact free entry.
TEST(WriterLayout, LargeTableWithFreeEntriesThroughout) {
    const int n = 1500;
    pdf_builder b;
    add_flat_tree(b, n);
    for (int k = 0; k < n; ++k) {
        // Fonts of odd pages are missing: their copies keep free entries.
        b.add(1000 + k, "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(3000 + k) +
                            " 0 R /Resources << /Font << /F1 " + std::to_string(5000 + k) + " 0 R >> >> >>");
        if (k % 2 == 0) b.add(5000 + k, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
        b.add_stream(3000 + k, "BT /F1 9 Tf 10 50 Td (" + std::string(300, 'x') + ") Tj ET\n");
    }
    std::string out_path;
    const std::string out = run_to_file(b.build(), &out_path);
    ASSERT_EQ(xref_problems(out), "");
    ASSERT_GT(out.size(), 1000000u);
    EXPECT_EQ(trailer_size(out), 3 * n + 3 + n);
    const size_t table = out.rfind("xref\n0 ");
    ASSERT_NE(table, std::string::npos);
    const size_t first = out.find('\n', table + 5) + 1;
    for (int k = 0; k < n; ++k) {
        const int num = 3 * n + 3 + k;
        const std::string e = out.substr(first + 20 * static_cast<size_t>(num), 20);
        if (k % 2 == 0)
            EXPECT_EQ(e, entry(static_cast<long>(out.find("\n" + std::to_string(num) + " 0 obj") + 1))) << k;
        else
            EXPECT_EQ(e, "0000000000 65535 f \n") << k;
    }
}

TEST(WriterLayout, PercentModePageSize) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(2, "/MediaBox [0 0 612 792]"));
    std::string out = dir + "/out.pdf";
    ASSERT_EQ(plenvo_percent(in.c_str(), out.c_str(), 50.0f), 1) << plenvo_last_error();
    std::string o = read_file(out);
    EXPECT_EQ(count_of(o, "/MediaBox [0 0 306 396]"), 2);
    EXPECT_EQ(count_of(o, "q 0.5000 0 0 0.5000 0 0 cm /F0 Do Q\n"), 2);
    EXPECT_EQ(xref_problems(o), "");
}

// Pages of one size share their placement texts; a page whose box or
// rotation (its own or inherited) differs from the page before gets its own.
// Each page's form is the one its /F0 names (pages alike in everything may
// draw one form).
TEST(WriterLayout, EveryPagePlacedByItsOwnBoxAndRotation) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 10 0 R 6 0 R 7 0 R 8 0 R] /Count 7 /MediaBox [0 0 612 792] >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Rotate 90 >>");
    b.add(10, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 9 0 R] /Count 2 /Rotate 90 >>");
    b.add(5, "<< /Type /Page /Parent 10 0 R >>");
    b.add(9, "<< /Type /Page /Parent 10 0 R /Rotate 0 >>");
    b.add(6, "<< /Type /Page /Parent 2 0 R /Rotate 180 >>");
    b.add(7, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>");
    b.add(8, "<< /Type /Page /Parent 2 0 R /MediaBox [10 20 622 812] >>");
    std::string out = scale_100(b.build());
    EXPECT_EQ(xref_problems(out), "");
    struct want {
        const char *media, *bbox, *matrix, *line;
    };
    const want pages[] = {
        {"612 792", "0 0 612 792", "", "q 1 0 0 1 0 0 cm"},
        {"792 612", "0 0 612 792", " /Matrix [0 -1 1 0 0 612]", "q 1 0 0 1 0 0 cm"},
        {"792 612", "0 0 612 792", " /Matrix [0 -1 1 0 0 612]", "q 1 0 0 1 0 0 cm"},
        {"612 792", "0 0 612 792", "", "q 1 0 0 1 0 0 cm"},
        {"612 792", "0 0 612 792", " /Matrix [-1 0 0 -1 612 792]", "q 1 0 0 1 0 0 cm"},
        {"595 842", "0 0 595 842", "", "q 1 0 0 1 0 0 cm"},
        {"612 792", "10 20 622 812", "", "q 1 0 0 1 -10 -20 cm"},
    };
    for (int k = 0; k < 7; ++k) {
        const int pnum = 3 * (k + 1);
        EXPECT_NE(object_at(out, pnum).find(std::string("/MediaBox [0 0 ") + pages[k].media + "]"), std::string::npos)
            << "page " << k + 1 << ": " << object_at(out, pnum);
        const std::string head = std::string("/BBox [") + pages[k].bbox + "]" + pages[k].matrix + " /Length ";
        const std::string form = object_at(out, ref_after(object_at(out, pnum), "/F0"));
        EXPECT_NE(form.find(head), std::string::npos) << "page " << k + 1 << ": " << form.substr(0, 160);
        EXPECT_NE(object_at(out, pnum + 2).find(std::string("stream\n") + pages[k].line + " /F0 Do Q\n"),
                  std::string::npos)
            << "page " << k + 1 << ": " << object_at(out, pnum + 2);
    }
}

TEST(WriterLayout, ContentCarriedDecodedIntoTheForm) {
    const std::string content = "0 0 m 100 100 l S\n";
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>");
    b.add_stream(4, zlib_compress(content), "/Filter /FlateDecode");
    std::string out_path;
    std::string out = run_to_file(b.build(), &out_path);
    std::string form = object_at(out, 4);
    EXPECT_EQ(stream_data(form), content);
    EXPECT_NE(form.find("/Length " + std::to_string(content.size()) + " >>"), std::string::npos);
    EXPECT_EQ(form.find("/Filter"), std::string::npos);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

// ---- the closure, end to end ----

namespace {

// One page drawing a TrueType font (descriptor, embedded font file with an
// indirect /Length), an image with a soft mask and a pattern whose shading
// has a function.
std::string rich_pdf(const std::string &font_bytes) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R "
             "/Resources << /Font << /F1 40 0 R >> /XObject << /Im1 30 0 R >> /Pattern << /P1 20 0 R >> >> >>");
    b.add_stream(4, "BT /F1 12 Tf 10 10 Td (A) Tj ET q 50 0 0 50 100 100 cm /Im1 Do Q "
                    "/Pattern cs /P1 scn 0 200 100 100 re f\n");
    b.add(20, "<< /Type /Pattern /PatternType 2 /Shading 21 0 R >>");
    b.add(21, "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function 22 0 R >>");
    b.add(22, "<< /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >>");
    b.add_stream(30, std::string(4, '\x80'),
                 "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                 "/BitsPerComponent 8 /SMask 31 0 R");
    b.add_stream(31, std::string(4, '\xff'),
                 "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8");
    b.add(40, "<< /Type /Font /Subtype /TrueType /BaseFont /Fake /FirstChar 65 /LastChar 65 "
              "/Widths 43 0 R /FontDescriptor 41 0 R >>");
    b.add(41, "<< /Type /FontDescriptor /FontName /Fake /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 "
              "/Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 42 0 R >>");
    b.add(42, "<< /Length 44 0 R /Length1 " + std::to_string(font_bytes.size()) + " >>\nstream\n" + font_bytes +
                  "\nendstream");
    b.add(43, "[600]");
    b.add(44, std::to_string(font_bytes.size()));
    return b.build();
}

}  // namespace

TEST(WriterClosure, FontImageAndPatternGraphsCopiedAndRenumbered) {
    const std::string font_bytes = std::string("\0\1\0\0", 4) + " fake font program 7 0 R bytes";
    std::string out_path;
    std::string out = run_to_file(rich_pdf(font_bytes), &out_path);
    ASSERT_EQ(xref_problems(out), "");
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");

    const std::string form = object_at(out, 4);
    // Direct references, in text order, take 6, 7, 8.
    EXPECT_EQ(ref_after(form, "/F1"), 6);
    EXPECT_EQ(ref_after(form, "/Im1"), 7);
    EXPECT_EQ(ref_after(form, "/P1"), 8);

    const std::string font = object_at(out, ref_after(form, "/F1"));
    EXPECT_NE(font.find("/Subtype /TrueType"), std::string::npos) << font;
    EXPECT_EQ(object_at(out, ref_after(font, "/Widths")).find("[600]") != std::string::npos, true);
    const std::string desc = object_at(out, ref_after(font, "/FontDescriptor"));
    EXPECT_NE(desc.find("/Type /FontDescriptor"), std::string::npos) << desc;
    const std::string file = object_at(out, ref_after(desc, "/FontFile2"));
    EXPECT_EQ(stream_data(file), font_bytes);
    const std::string len_obj = object_at(out, ref_after(file, "/Length"));
    EXPECT_NE(len_obj.find("\n" + std::to_string(font_bytes.size()) + "\n"), std::string::npos) << len_obj;

    const std::string image = object_at(out, ref_after(form, "/Im1"));
    EXPECT_EQ(stream_data(image), std::string(4, '\x80'));
    const std::string mask = object_at(out, ref_after(image, "/SMask"));
    EXPECT_EQ(stream_data(mask), std::string(4, '\xff'));

    const std::string pattern = object_at(out, ref_after(form, "/P1"));
    EXPECT_NE(pattern.find("/PatternType 2"), std::string::npos);
    const std::string shading = object_at(out, ref_after(pattern, "/Shading"));
    EXPECT_NE(shading.find("/ShadingType 2"), std::string::npos);
    const std::string function = object_at(out, ref_after(shading, "/Function"));
    EXPECT_NE(function.find("/FunctionType 2"), std::string::npos);

    // Ten objects copied: 6 .. 15.
    EXPECT_EQ(trailer_size(out), 16);
}

TEST(WriterClosure, FontSharedByEveryPageCopiedOnce) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int k = 0; k < 4; ++k) kids += std::to_string(10 + k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count 4 /MediaBox [0 0 200 200] >>");
    // Pages 3 and 4 are larger: at least two forms name the font.
    for (int k = 0; k < 4; ++k)
        b.add(10 + k, std::string("<< /Type /Page /Parent 2 0 R ") + (k >= 2 ? "/MediaBox [0 0 300 300] " : "") +
                          "/Resources << /Font << /F1 5 0 R >> >> >>");
    b.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    std::string out_path;
    std::string out = run_to_file(b.build(), &out_path);
    EXPECT_EQ(count_of(out, "/BaseFont /Helvetica"), 1);
    EXPECT_EQ(trailer_size(out), 16);
    std::vector<int> forms;
    for (int k = 1; k <= 4; ++k) {
        forms.push_back(ref_after(object_at(out, 3 * k), "/F0"));
        EXPECT_EQ(ref_after(object_at(out, forms.back()), "/F1"), 15) << k;
    }
    EXPECT_NE(forms[0], forms[2]);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

TEST(WriterClosure, HundredPagesWithTheirOwnImages) {
    const int n = 100;
    pdf_builder b;
    add_flat_tree(b, n);
    for (int k = 0; k < n; ++k) {
        b.add(1000 + k, "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(3000 + k) +
                            " 0 R /Resources << /XObject << /Im " + std::to_string(2000 + k) + " 0 R >> >> >>");
        b.add_stream(2000 + k, std::string(1, static_cast<char>(k)),
                     "/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8");
        b.add_stream(3000 + k, "q 100 0 0 100 0 0 cm /Im Do Q\n");
    }
    std::string out_path;
    std::string out = run_to_file(b.build(), &out_path);
    ASSERT_EQ(xref_problems(out), "");
    EXPECT_EQ(trailer_size(out), 3 * n + 3 + n);
    for (int k = 0; k < n; ++k) {
        int img = ref_after(object_at(out, 3 * (k + 1) + 1), "/Im");
        EXPECT_EQ(img, 3 * n + 3 + k);
        EXPECT_EQ(stream_data(object_at(out, img)), std::string(1, static_cast<char>(k))) << k;
    }
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}

TEST(WriterClosure, ReferencesToPagesBecomeTheirNewPagesAndToTheCatalogNull) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 200 200] >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /X 9 0 R >> >> >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R >>");
    b.add_stream(9, "", "/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Link << /Target 4 0 R /Root 1 0 R >>");
    std::string out_path;
    std::string out = run_to_file(b.build(), &out_path);
    const std::string x = object_at(out, ref_after(object_at(out, 4), "/X"));
    EXPECT_NE(x.find("/Target 6 0 R /Root null"), std::string::npos) << x;
    EXPECT_EQ(trailer_size(out), 10);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(out_path), "");
}
