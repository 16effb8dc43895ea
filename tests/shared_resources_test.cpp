// Resources dictionaries shared by several pages: found at one location,
// rewritten once, and every page's form still names its own resources.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "output/page_keys.h"
#include "output/page_resources.h"
#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

// Pages 3 and 4 name resources object 20, page 5 has its own inline
// dictionary, pages 6 and 7 inherit node 8's. Fonts 21, 22 and 23.
pdf_builder shared_resources() {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 8 0 R] /Count 5 >>");
    const std::string page = "<< /Type /Page /MediaBox [0 0 612 792] ";
    b.add(3, page + "/Parent 2 0 R /Resources 20 0 R >>");
    b.add(4, page + "/Parent 2 0 R /Resources 20 0 R >>");
    b.add(5, page + "/Parent 2 0 R /Resources << /Font << /F2 22 0 R >> >> >>");
    b.add(8, "<< /Type /Pages /Parent 2 0 R /Kids [6 0 R 7 0 R] /Count 2 /Resources << /Font << /F3 23 0 R >> >> >>");
    b.add(6, page + "/Parent 8 0 R >>");
    b.add(7, page + "/Parent 8 0 R >>");
    b.add(20, "<< /Font << /F1 21 0 R >> >>");
    for (int f = 21; f <= 23; ++f) b.add(f, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b;
}

// The /Resources text of output object num (a form), or "<none>".
std::string form_resources(const std::string &out, int num) {
    std::regex re("(^|\n)" + std::to_string(num) + R"( 0 obj\n<<[^\n]*? /Resources (<<.*>>) >> stream\n)");
    std::smatch m;
    return std::regex_search(out, m, re) ? m[2].str() : "<none>";
}

}  // namespace

TEST(SharedResources, EveryFormNamesItsPagesResources) {
    std::string dir = plenvo_test::temp_dir();
    std::string in = plenvo_test::write_file(dir, "in.pdf", shared_resources().build());
    std::string out_path = dir + "/out.pdf";
    ASSERT_EQ(plenvo_to_size(in.c_str(), out_path.c_str(), 0), 1) << plenvo_last_error();
    const std::string out = plenvo_test::read_file(out_path);
    // Five pages: copied objects start at 18, in order of first reference (21, 22, 23).
    EXPECT_EQ(form_resources(out, 4), "<< /Font << /F1 18 0 R >> >>");
    EXPECT_EQ(form_resources(out, 7), "<< /Font << /F1 18 0 R >> >>");
    EXPECT_EQ(form_resources(out, 10), "<< /Font << /F2 19 0 R >> >>");
    EXPECT_EQ(form_resources(out, 13), "<< /Font << /F3 20 0 R >> >>");
    EXPECT_EQ(form_resources(out, 16), "<< /Font << /F3 20 0 R >> >>");
}

TEST(SharedResources, SharedDictionariesHaveOneLocation) {
    const std::string pdf = shared_resources().build();
    doc d{};
    ASSERT_EQ(doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), "t.pdf", &d), 0);
    ASSERT_EQ(d.pages.count, 5);
    resources_at at[5];
    const std::vector<page_keys> keys = page_keys_of(&d);
    for (int k = 0; k < 5; ++k) {
        const pageinfo *p = &d.pages.items[k];
        at[k] = locate_page_resources(&d, doc_lookup(&d, p->objnum), p, keys[k].resources);
        ASSERT_NE(at[k].t, nullptr) << "page " << k + 1;
    }
    auto same = [](const resources_at &a, const resources_at &b) {
        return a.t + a.pos == b.t + b.pos && a.t + a.len == b.t + b.len;
    };
    EXPECT_TRUE(same(at[0], at[1]));   // both name object 20
    EXPECT_FALSE(same(at[0], at[2]));  // page 5's own dictionary
    EXPECT_TRUE(same(at[3], at[4]));   // both inherit node 8's
    EXPECT_FALSE(same(at[2], at[3]));
    // The location holds what page_resources_dict copies from the location
    // that the page's key, found afresh, leads to.
    for (int k = 0; k < 5; ++k) {
        const pageinfo *p = &d.pages.items[k];
        const objent *page = doc_lookup(&d, p->objnum);
        char *copy = page_resources_dict(locate_page_resources(&d, page, p, find_page_keys(&d, page).resources));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(at[k].t + at[k].pos), std::strlen(copy)), copy);
        std::free(copy);
    }
    doc_free(&d);
}
