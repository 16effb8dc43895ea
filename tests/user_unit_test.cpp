// /UserUnit: a page whose unit is u times 1/72 inch is u times larger than its
// box says. The page-size answer and the scaled output show its true size.
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {

// A one-page file: the page's keys, the tree node's keys; object 20 holds
// 1.5 and object 21 the name /Two.
std::string one_page(const std::string &page, const std::string &node = "") {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + node + " >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R " + page + " >>");
    b.add_stream(4, "0 0 1 rg 10 10 50 50 re f");
    b.add(20, "1.5");
    b.add(21, "/Two");
    return write_file(temp_dir(), "in.pdf", b.build());
}

std::string size_of(const std::string &path) {
    const char *r = plenvo_page_size(path.c_str(), 1);
    return r ? r : std::string("ERROR: ") + plenvo_last_error();
}

struct unit_case {
    const char *page, *node;
    const char *w, *h, *size;
};

void PrintTo(const unit_case &c, std::ostream *os) { *os << "page \"" << c.page << "\" node \"" << c.node << "\""; }

class UserUnitSize : public ::testing::TestWithParam<unit_case> {};

// The new page's /MediaBox and placement line of a one-page output.
std::string placed(const std::string &out) {
    const std::string s = read_file(out);
    std::smatch box, line;
    if (!std::regex_search(s, box, std::regex("/MediaBox \\[([^\\]]*)\\]")) ||
        !std::regex_search(s, line, std::regex("q [^\\n]* cm /F0 Do Q")))
        return "(not found)";
    return box[1].str() + " | " + line[0].str();
}

}  // namespace

TEST_P(UserUnitSize, Answer) {
    const unit_case &c = GetParam();
    EXPECT_EQ(size_of(one_page(c.page, c.node)), std::string("{\"width_pt\":") + c.w + ",\"height_pt\":" + c.h +
                                                     ",\"page\":1,\"size\":\"" + c.size + "\"}");
}

INSTANTIATE_TEST_SUITE_P(
    Units, UserUnitSize,
    ::testing::Values(
        unit_case{"/MediaBox [0 0 300 200]", "", "300", "200", "Custom"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit 2", "", "600", "400", "Custom"},
        unit_case{"/MediaBox [0 0 306 396] /UserUnit 2.0", "", "612", "792", "Letter"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit 1", "", "300", "200", "Custom"},
        unit_case{"/MediaBox [0 0 400 240] /UserUnit 0.75 /Rotate 90", "", "180", "300", "Custom"},
        unit_case{"/MediaBox [0 0 200 120] /UserUnit 20 0 R", "", "300", "180", "Custom"},
        unit_case{"/MediaBox [10 20 310 220] /UserUnit 1.25", "", "375", "250", "Custom"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit 0.3333", "", "99.9900", "66.6600", "Custom"},
        // Not a positive number: no unit.
        unit_case{"/MediaBox [0 0 300 200] /UserUnit 0", "", "300", "200", "Custom"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit -2", "", "300", "200", "Custom"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit /Two", "", "300", "200", "Custom"},
        unit_case{"/MediaBox [0 0 300 200] /UserUnit 21 0 R", "", "300", "200", "Custom"},
        // A page's own key: a tree node's does not count.
        unit_case{"/MediaBox [0 0 300 200]", "/UserUnit 2", "300", "200", "Custom"}));

TEST(UserUnitOutput, PercentKeepsThePhysicalSize) {
    struct {
        const char *page;
        float percent;
        const char *want;
    } cases[] = {
        {"/MediaBox [0 0 300 200]", 100, "0 0 300 200 | q 1 0 0 1 0 0 cm /F0 Do Q"},
        {"/MediaBox [0 0 300 200] /UserUnit 2", 100, "0 0 600 400 | q 2 0 0 2 0 0 cm /F0 Do Q"},
        {"/MediaBox [0 0 300 200] /UserUnit 2", 50, "0 0 300 200 | q 1 0 0 1 0 0 cm /F0 Do Q"},
        {"/MediaBox [10 20 310 220] /UserUnit 2", 100, "0 0 600 400 | q 2 0 0 2 -20 -40 cm /F0 Do Q"},
        {"/MediaBox [0 0 400 240] /UserUnit 0.75 /Rotate 90", 100,
         "0 0 180 300 | q 0.7500 0 0 0.7500 0 0 cm /F0 Do Q"},
    };
    for (const auto &c : cases) {
        const std::string in = one_page(c.page);
        const std::string out = in + ".out.pdf";
        ASSERT_EQ(plenvo_percent(in.c_str(), out.c_str(), c.percent), 1) << plenvo_last_error();
        EXPECT_EQ(placed(out), c.want) << c.page << " at " << c.percent;
    }
}

TEST(UserUnitOutput, FittingUsesTheTrueSizeWhichHasTheBoxProportions) {
    // A page and the same page at twice its unit fill a paper the same way:
    // the outputs are the same bytes.
    for (int paper = 0; paper < 5; ++paper) {
        const std::string a = one_page("/MediaBox [0 0 300 200]");
        const std::string b = one_page("/MediaBox [0 0 300 200] /UserUnit 2");
        ASSERT_EQ(plenvo_to_size(a.c_str(), (a + ".out").c_str(), paper), 1) << plenvo_last_error();
        ASSERT_EQ(plenvo_to_size(b.c_str(), (b + ".out").c_str(), paper), 1) << plenvo_last_error();
        EXPECT_EQ(read_file(a + ".out"), read_file(b + ".out")) << paper;
    }
    const std::string b = one_page("/MediaBox [0 0 300 200] /UserUnit 2");
    ASSERT_EQ(plenvo_custom(b.c_str(), (b + ".out").c_str(), 1200, 800), 1) << plenvo_last_error();
    EXPECT_EQ(placed(b + ".out"), "0 0 1200 800 | q 4 0 0 4 0 0 cm /F0 Do Q");
}
