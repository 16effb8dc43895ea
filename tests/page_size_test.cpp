// plenvo_page_size: displayed page size, paper names, messages, locale
// independence, and agreement with poppler's pdfinfo on real files.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "interface/page_size.h"
#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {

// Writes a one-page document and queries page 1.
std::string query_one(const std::string &page_extra, const std::string &pages_extra = "") {
    std::string dir = temp_dir();
    std::string path = write_file(dir, "in.pdf", simple_pdf(1, page_extra, pages_extra));
    const char *r = plenvo_page_size(path.c_str(), 1);
    if (!r) return std::string("ERROR: ") + plenvo_last_error();
    return r;
}

std::string json(const std::string &w, const std::string &h, int page, const std::string &size) {
    return "{\"width_pt\":" + w + ",\"height_pt\":" + h + ",\"page\":" + std::to_string(page) +
           ",\"size\":\"" + size + "\"}";
}

struct size_case {
    const char *page_extra;
    const char *pages_extra;
    const char *w, *h, *size;
};

void PrintTo(const size_case &c, std::ostream *os) {
    *os << "page \"" << c.page_extra << "\" node \"" << c.pages_extra << "\"";
}

class PageSizeTable : public ::testing::TestWithParam<size_case> {};

}  // namespace

TEST_P(PageSizeTable, Answer) {
    const size_case &c = GetParam();
    EXPECT_EQ(query_one(c.page_extra, c.pages_extra), json(c.w, c.h, 1, c.size));
    EXPECT_STREQ(plenvo_last_error(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PageSizeTable,
    ::testing::Values(
        size_case{"/MediaBox [0 0 595.28 841.89]", "", "595.2800", "841.8900", "A4"},
        size_case{"/MediaBox [0 0 595 842]", "", "595", "842", "A4"},
        size_case{"", "", "595", "842", "A4"},  // no box anywhere: the default
        size_case{"/MediaBox [0 0 612 792]", "", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate 90", "", "792", "612", "Letter"},
        size_case{"/MediaBox [0 0 612 792]", "/Rotate 270", "792", "612", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate 450", "", "792", "612", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate -90", "", "792", "612", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate 180", "/Rotate 90", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate 0", "/Rotate 90", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 612 792] /Rotate 45", "", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 842 595]", "", "842", "595", "A4"},
        size_case{"/MediaBox [0 0 613 792]", "", "613", "792", "Letter"},
        size_case{"/MediaBox [0 0 614 792]", "", "614", "792", "Custom"},
        size_case{"/MediaBox [0 0 600 800]", "", "600", "800", "Custom"},
        size_case{"/MediaBox [36 36 576 756]", "", "540", "720", "Executive"},
        size_case{"/MediaBox [0 0 1190 1684]", "", "1190", "1684", "A2"},
        // Boxes inherited, normalised and clipped.
        size_case{"", "/MediaBox [0 0 612 1008]", "612", "1008", "Legal"},
        size_case{"/MediaBox [612 792 0 0]", "", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 1000 1000] /CropBox [-100 -100 612 792]", "", "612", "792",
                  "Letter"},
        size_case{"/CropBox [0 0 0 0] /MediaBox [0 0 612 792]", "", "612", "792", "Letter"},
        size_case{"/MediaBox [0 0 61.5 792.]", "", "61.5000", "792", "Custom"}));

TEST(PageSize, ChoosesThePageAsked) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1224 792] >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 419.53 595.28] /Rotate 270 >>");
    std::string path = write_file(temp_dir(), "three.pdf", b.build());
    const char *r = plenvo_page_size(path.c_str(), 2);
    ASSERT_NE(r, nullptr) << plenvo_last_error();
    EXPECT_EQ(std::string(r), json("1224", "792", 2, "Tabloid"));
    r = plenvo_page_size(path.c_str(), 3);
    ASSERT_NE(r, nullptr) << plenvo_last_error();
    EXPECT_EQ(std::string(r), json("595.2800", "419.5300", 3, "A5"));
}

TEST(PageSize, SecondAnswerReplacesTheFirstInTheSameBuffer) {
    std::string dir = temp_dir();
    std::string a = write_file(dir, "a.pdf", simple_pdf(1, "/MediaBox [0 0 612 792]"));
    std::string b = write_file(dir, "b.pdf", simple_pdf(1, "/MediaBox [0 0 612 1008]"));
    const char *first = plenvo_page_size(a.c_str(), 1);
    ASSERT_NE(first, nullptr);
    const char *second = plenvo_page_size(b.c_str(), 1);
    ASSERT_EQ(first, second);
    EXPECT_EQ(std::string(first), json("612", "1008", 1, "Legal"));
}

TEST(PageSize, FailureLeavesTheLastAnswer) {
    std::string path = write_file(temp_dir(), "a.pdf", simple_pdf(1, "/MediaBox [0 0 612 792]"));
    const char *ok = plenvo_page_size(path.c_str(), 1);
    ASSERT_NE(ok, nullptr);
    std::string before = ok;
    EXPECT_EQ(plenvo_page_size(path.c_str(), 5), nullptr);
    EXPECT_EQ(std::string(ok), before);
}

// ---------------------------------------------------------------- messages

TEST(PageSizeErrors, NullPath) {
    EXPECT_EQ(plenvo_page_size(nullptr, 1), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "NULL path argument");
    EXPECT_EQ(plenvo_page_size(nullptr, 0), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "NULL path argument");
}

TEST(PageSizeErrors, PageBelowOneIsRefusedBeforeOpeningTheFile) {
    std::string missing = temp_dir() + "/does-not-exist.pdf";
    EXPECT_EQ(plenvo_page_size(missing.c_str(), 0), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "page must be >= 1 (got 0)");
    EXPECT_EQ(plenvo_page_size(missing.c_str(), -1), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "page must be >= 1 (got -1)");
    EXPECT_EQ(plenvo_page_size(missing.c_str(), -2147483647 - 1), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "page must be >= 1 (got -2147483648)");
}

TEST(PageSizeErrors, LoaderMessagePassesThrough) {
    std::string missing = temp_dir() + "/does-not-exist.pdf";
    EXPECT_EQ(plenvo_page_size(missing.c_str(), 1), nullptr);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot open " + missing);
}

TEST(PageSizeErrors, PageTreeMessagePassesThrough) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    std::string path = write_file(temp_dir(), "empty.pdf", b.build());
    EXPECT_EQ(plenvo_page_size(path.c_str(), 1), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "document has no pages");
}

TEST(PageSizeErrors, OutOfRangePlural) {
    std::string path = write_file(temp_dir(), "two.pdf", simple_pdf(2));
    EXPECT_EQ(plenvo_page_size(path.c_str(), 3), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "page 3 out of range (document has 2 pages)");
}

TEST(PageSizeErrors, OutOfRangeSingular) {
    std::string path = write_file(temp_dir(), "one.pdf", simple_pdf(1));
    EXPECT_EQ(plenvo_page_size(path.c_str(), 2), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "page 2 out of range (document has 1 page)");
}

TEST(PageSizeErrors, SuccessEmptiesAnEarlierMessage) {
    std::string path = write_file(temp_dir(), "one.pdf", simple_pdf(1));
    EXPECT_EQ(plenvo_page_size(path.c_str(), 9), nullptr);
    EXPECT_STRNE(plenvo_last_error(), "");
    EXPECT_NE(plenvo_page_size(path.c_str(), 1), nullptr);
    EXPECT_STREQ(plenvo_last_error(), "");
}

// ---------------------------------------------------------------- paper table

TEST(Papiers, EveryRowMatchesInBothOrientations) {
    for (int i = 0; i < plenvo::PAPIER_COUNT; ++i) {
        const auto &p = plenvo::PAPIERS[i];
        EXPECT_LT(p.w, p.h) << p.name;
        EXPECT_EQ(plenvo::nearest_papier(p.w, p.h), i) << p.name;
        EXPECT_EQ(plenvo::nearest_papier(p.h, p.w), i) << p.name;
        EXPECT_EQ(plenvo::nearest_papier(p.w + 1.9, p.h - 1.9), i) << p.name;
    }
}

TEST(Papiers, TableValues) {
    const char *names[] = {"A0", "A1", "A2", "A3", "A4", "A5", "A6",
                           "4A", "B5", "Letter", "Legal", "Tabloid", "Executive"};
    const double sizes[][2] = {{2383.94, 3369.39}, {1683.78, 2383.94}, {1190.55, 1683.78},
                               {841.89, 1190.55},  {595.28, 841.89},   {419.53, 595.28},
                               {297.64, 419.53},   {3369.39, 4767.17}, {498.9, 708.66},
                               {612, 792},         {612, 1008},        {792, 1224},
                               {540, 720}};
    for (int i = 0; i < plenvo::PAPIER_COUNT; ++i) {
        EXPECT_STREQ(plenvo::PAPIERS[i].name, names[i]);
        EXPECT_EQ(plenvo::PAPIERS[i].w, sizes[i][0]);
        EXPECT_EQ(plenvo::PAPIERS[i].h, sizes[i][1]);
    }
}

TEST(Papiers, ToleranceIsStrict) {
    EXPECT_EQ(plenvo::nearest_papier(613.999, 792), 9);
    EXPECT_EQ(plenvo::nearest_papier(614, 792), -1);
    EXPECT_EQ(plenvo::nearest_papier(610, 792), -1);
    EXPECT_EQ(plenvo::nearest_papier(612, 790.0001), 9);
    EXPECT_EQ(plenvo::nearest_papier(792, 614), -1);  // landscape, exactly 2 off
    EXPECT_EQ(plenvo::nearest_papier(0, 0), -1);
    EXPECT_EQ(plenvo::nearest_papier(NAN, 792), -1);
}

// ---------------------------------------------------------------- locale

TEST(PageSizeLocale, DecimalCommaLocaleStillWritesPoints) {
    const char *old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not available (ctest finds it through LOCPATH "
                        "in the build folder, made there when the package locales is installed)";
    }
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    std::string r = query_one("/MediaBox [0 0 595.28 841.89]");
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_STREQ(probe, "1,5") << "the locale does not use a decimal comma";
    EXPECT_EQ(r, json("595.2800", "841.8900", 1, "A4"));
}

// ---------------------------------------------------------------- real files

namespace {

struct info_page {
    double w = -1, h = -1;  // pdfinfo's size: the crop box, not rotated
    int rot = -1;
};

// Every page pdfinfo can describe, indexed by page number - 1; empty when it
// cannot read the file.
std::vector<info_page> pdfinfo_pages(const std::string &path) {
    std::string out;
    run_command("pdfinfo -f 1 -l 1000000 '" + path + "' 2>/dev/null", &out);
    std::vector<info_page> pages;
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("Pages: +([0-9]+)"))) return pages;
    pages.resize(std::atoi(m[1].str().c_str()));
    std::regex size_re("Page +([0-9]+) size: +([0-9.]+) x ([0-9.]+) pts");
    std::regex rot_re("Page +([0-9]+) rot: +([0-9]+)");
    for (std::sregex_iterator it(out.begin(), out.end(), size_re), end; it != end; ++it) {
        size_t k = std::strtoul((*it)[1].str().c_str(), nullptr, 10);
        if (k < 1 || k > pages.size()) continue;
        pages[k - 1].w = std::strtod((*it)[2].str().c_str(), nullptr);
        pages[k - 1].h = std::strtod((*it)[3].str().c_str(), nullptr);
    }
    for (std::sregex_iterator it(out.begin(), out.end(), rot_re), end; it != end; ++it) {
        size_t k = std::strtoul((*it)[1].str().c_str(), nullptr, 10);
        if (k >= 1 && k <= pages.size()) pages[k - 1].rot = std::atoi((*it)[2].str().c_str());
    }
    return pages;
}

double number_of(const std::string &json_text, const std::string &key) {
    std::smatch m;
    if (!std::regex_search(json_text, m, std::regex("\"" + key + "\":([0-9.]+)"))) return -1;
    return std::strtod(m[1].str().c_str(), nullptr);
}

}  // namespace

TEST(PageSizeCorpus, AgreesWithPdfinfo) {
    auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    if (!have_tool("pdfinfo")) GTEST_SKIP() << "pdfinfo not installed";
    int compared = 0, skipped_files = 0;
    for (const auto &f : files) {
        const char *first = plenvo_page_size(f.c_str(), 1);
        std::string err = first ? "" : plenvo_last_error();
        if (err.rfind("encrypted PDFs are not supported", 0) == 0) {
            ++skipped_files;
            continue;
        }
        std::vector<info_page> info = pdfinfo_pages(f);
        if (!first) {
            // Refusing a file is right only when pdfinfo cannot size it either.
            for (size_t k = 0; k < info.size(); ++k)
                EXPECT_FALSE(info[k].w > 0 && info[k].h > 0)
                    << f << ": refused (" << err << ") but pdfinfo sizes page " << k + 1;
            ++skipped_files;
            continue;
        }
        for (int p = 1; p <= static_cast<int>(info.size()); ++p) {
            double w = info[p - 1].w, h = info[p - 1].h;
            int rot = info[p - 1].rot;
            if (!(w > 0 && h > 0) || rot < 0) continue;  // pdfinfo cannot read this page
            if (rot == 90 || rot == 270) std::swap(w, h);
            const char *r = plenvo_page_size(f.c_str(), p);
            ASSERT_NE(r, nullptr) << f << " page " << p << ": " << plenvo_last_error();
            std::string ans = r;
            EXPECT_NEAR(number_of(ans, "width_pt"), w, 0.01) << f << " page " << p << ": " << ans;
            EXPECT_NEAR(number_of(ans, "height_pt"), h, 0.01) << f << " page " << p << ": " << ans;
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);
    std::printf("compared %d pages; %d files left out (encrypted, or unreadable to pdfinfo too)\n",
                compared, skipped_files);
}
