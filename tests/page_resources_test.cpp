// Page resources: the /Resources dictionary text a page's form receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "output/page_keys.h"
#include "output/page_resources.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

using loaded = plenvo_test::loaded_doc;

// Catalog 1, page-tree node 2 (with pages_entries) and page 3 (with page_entries).
pdf_builder one_page(const std::string &page_entries, const std::string &pages_entries = "") {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + pages_entries + " >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries + " >>");
    return b;
}

// The resources text of page `index` of pdf, "(none)" when there is none.
std::string resources_of(const std::string &pdf, int index = 0) {
    loaded l(pdf);
    EXPECT_EQ(l.rc, 0);
    if (l.rc != 0 || l.d.pages.count <= index) return "(not loaded)";
    const pageinfo *p = &l.d.pages.items[index];
    const resources_at at = locate_page_resources(&l.d, doc_lookup(&l.d, p->objnum), p,
                                                  page_keys_of(&l.d)[static_cast<size_t>(index)].resources);
    char *t = page_resources_dict(at);
    std::string s = t ? t : "(none)";
    std::free(t);
    return s;
}

}  // namespace

TEST(Resources, InlineDictionaryIsCopiedExactly) {
    EXPECT_EQ(resources_of(one_page("/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R").build()),
              "<< /Font << /F1 5 0 R >> >>");
}

TEST(Resources, InlineDictionaryWithStringsHoldingBrackets) {
    EXPECT_EQ(resources_of(one_page("/Resources<</ProcSet [/PDF] /X (a>>b) >>").build()),
              "<</ProcSet [/PDF] /X (a>>b) >>");
}

TEST(Resources, ReferenceToADirectObject) {
    pdf_builder b = one_page("/Resources 7 0 R");
    b.add(7, "<< /XObject << /Im1 8 0 R >> /ProcSet [/PDF /ImageC] >>");
    EXPECT_EQ(resources_of(b.build()), "<< /XObject << /Im1 8 0 R >> /ProcSet [/PDF /ImageC] >>");
}

TEST(Resources, ReferenceToAnObjectStreamMember) {
    pdf_builder b = one_page("/Resources 7 0 R");
    std::string head = "7 0 ";
    b.add_stream(20, head + "<</Font <</F1 5 0 R>> >>", "/Type /ObjStm /N 1 /First " + std::to_string(head.size()));
    EXPECT_EQ(resources_of(b.build()), "<</Font <</F1 5 0 R>> >>");
}

TEST(Resources, InheritedFromThePageTreeNode) {
    std::string pdf = one_page("", "/Resources << /Font << /F9 9 0 R >> >>").build();
    EXPECT_EQ(resources_of(pdf), "<< /Font << /F9 9 0 R >> >>");
}

TEST(Resources, InheritedByReference) {
    pdf_builder b = one_page("", "/Resources 7 0 R");
    b.add(7, "<< /Font << /F2 10 0 R >> >>");
    EXPECT_EQ(resources_of(b.build()), "<< /Font << /F2 10 0 R >> >>");
}

TEST(Resources, PagesOwnDictionaryWinsOverTheInheritedOne) {
    std::string pdf = one_page("/Resources << /Own true >>", "/Resources << /Inherited true >>").build();
    EXPECT_EQ(resources_of(pdf), "<< /Own true >>");
}

TEST(Resources, NullOrDanglingReferenceFallsBackToTheInheritedOne) {
    EXPECT_EQ(resources_of(one_page("/Resources null", "/Resources << /Up 1 >>").build()), "<< /Up 1 >>");
    EXPECT_EQ(resources_of(one_page("/Resources 77 0 R", "/Resources << /Up 2 >>").build()), "<< /Up 2 >>");
}

TEST(Resources, NameOrArrayGivesNone) {
    EXPECT_EQ(resources_of(one_page("/Resources /Standard").build()), "(none)");
    EXPECT_EQ(resources_of(one_page("/Resources [/PDF /Text]").build()), "(none)");
    EXPECT_EQ(resources_of(one_page("/Resources <41>").build()), "(none)");
}

TEST(Resources, ReferenceToSomethingThatIsNoDictionaryGivesNone) {
    pdf_builder b = one_page("/Resources 7 0 R");
    b.add(7, "[/PDF]");
    EXPECT_EQ(resources_of(b.build()), "(none)");
}

TEST(Resources, NoneAnywhere) { EXPECT_EQ(resources_of(one_page("").build()), "(none)"); }

TEST(Resources, NestedKeyBeforeThePagesOwnIsNotTaken) {
    std::string pdf =
        one_page("/Annots [<< /Subtype /Widget /Resources << /Wrong 1 >> >>] /Resources << /Right 1 >>").build();
    EXPECT_EQ(resources_of(pdf), "<< /Right 1 >>");
}

TEST(Resources, EachPageOfSeveralGetsItsOwn) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /Resources << /Shared 1 >> >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Resources << /First 1 >> >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /Resources 6 0 R >>");
    b.add(6, "<< /Third 1 >>");
    std::string pdf = b.build();
    EXPECT_EQ(resources_of(pdf, 0), "<< /First 1 >>");
    EXPECT_EQ(resources_of(pdf, 1), "<< /Shared 1 >>");
    EXPECT_EQ(resources_of(pdf, 2), "<< /Third 1 >>");
}

TEST(Resources, NullArgumentsGiveNone) {
    EXPECT_EQ(page_resources_dict(locate_page_resources(nullptr, nullptr, nullptr, -1)), nullptr);
}
