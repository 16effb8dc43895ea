// The catalog, the page-tree walk, page types, rotation and page boxes.
//
// Documents are indexed here by a small header scan of their own, so that the
// page tree is tested on exactly the objects each test writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "output/page_keys.h"
#include "plenvo.h"
#include "reader/doc.h"
#include "reader/page_box.h"
#include "reader/page_tree.h"
#include "reader/scan.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

// A doc indexed from the "N G obj" headers that start a line. Members of
// object streams can be added by hand. Frees itself.
struct test_doc {
    doc d{};

    explicit test_doc(const std::string &bytes, int32_t root = -1) {
        d.root = root;
        d.catalog = -1;
        d.len = static_cast<int32_t>(bytes.size());
        d.data = static_cast<uint8_t *>(std::malloc(bytes.size() + 1));
        std::memcpy(d.data, bytes.data(), bytes.size());
        const uint8_t *t = d.data;
        for (int32_t k = find_kw(t, d.len, 0, "obj"); k >= 0; k = find_kw(t, d.len, k + 3, "obj")) {
            int32_t p = k;
            while (p > 0 && t[p - 1] == ' ') --p;
            while (p > 0 && is_digit(t[p - 1])) --p;
            while (p > 0 && t[p - 1] == ' ') --p;
            while (p > 0 && is_digit(t[p - 1])) --p;
            if (p > 0 && t[p - 1] != '\n') continue;
            objent e{};
            int32_t q = p;
            e.num = parse_int_at(t, d.len, &q);
            e.gen = parse_int_at(t, d.len, &q);
            e.hdr_pos = p;
            int32_t v = skip_ws(t, k + 3, d.len);
            e.dict_pos = (v < d.len && t[v] == '<') ? v : -1;
            e.endobj_pos = find_kw(t, d.len, k, "endobj");
            e.end_pos = e.endobj_pos + 6;
            e.stream_pos = e.dict_pos >= 0 ? dict_stream_kw(t, e.endobj_pos, e.dict_pos) : -1;
            e.has_stream = e.stream_pos >= 0;
            e.data_pos = e.data_end = e.data_len = -1;
            objvec_push(&d.objs, &e);
            if (e.num > d.max_num) d.max_num = e.num;
        }
    }
    // Adds a member of an object stream with the given text.
    void add_member(int32_t num, const std::string &text) {
        auto *block = static_cast<uint8_t *>(arena_alloc(&d.arena, text.size()));
        std::memcpy(block, text.data(), text.size());
        objent e{};
        e.num = num;
        e.hdr_pos = e.dict_pos = e.stream_pos = e.data_pos = e.data_end = -1;
        e.endobj_pos = e.end_pos = e.data_len = -1;
        e.in_objstm = 1;
        e.text = block;
        e.text_len = static_cast<int32_t>(text.size());
        objvec_push(&d.objs, &e);
        if (num > d.max_num) d.max_num = num;
    }
    // Builds the index and runs the page-tree phase.
    int load() {
        doc_build_index(&d);
        return load_page_tree(&d);
    }
    const objent *obj(int32_t num) {
        if (!d.index) doc_build_index(&d);
        return doc_lookup(&d, num);
    }
    ~test_doc() { doc_free(&d); }
};

// A document from a builder, with the trailer's /Root as the doc's root.
std::string build(const pdf_builder &b) { return b.build(); }

const char *INLINE_MSG =
    "page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect objects";

std::string broken_msg(int root) {
    return "could not resolve the page tree (obj " + std::to_string(root) +
           " is not a /Pages or /Page object, or tree is broken)";
}

std::vector<int32_t> page_nums(const doc &d) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < d.pages.count; ++i) v.push_back(d.pages.items[i].objnum);
    return v;
}

void expect_box(const pageinfo &p, double llx, double lly, double urx, double ury) {
    EXPECT_DOUBLE_EQ(p.llx, llx);
    EXPECT_DOUBLE_EQ(p.lly, lly);
    EXPECT_DOUBLE_EQ(p.urx, urx);
    EXPECT_DOUBLE_EQ(p.ury, ury);
}

// One page whose dictionary holds `page_extra`, under node 2 with `node_extra`.
test_doc *one_page(const std::string &page_extra, const std::string &node_extra = "") {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + node_extra + " >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R " + page_extra + " >>");
    return new test_doc(build(b), 1);
}

}  // namespace

// ---------------------------------------------------------------- catalog

TEST(Catalog, RootFromTrailerIsUsed) {
    test_doc t(plenvo_test::simple_pdf(2), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.catalog, 1);
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 4}));
    EXPECT_EQ(t.d.pages.items[0].parent, 2);
}

TEST(Catalog, MissingRootFallsBackToObjectNamingCatalog) {
    pdf_builder b;
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R >>");
    b.add(5, "<< /Type /Catalog /Pages 2 0 R >>");
    test_doc t(build(b), 9);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.catalog, 5);
    EXPECT_EQ(t.d.pages.count, 1);
}

TEST(Catalog, NoRootAndNoCatalogNameTakesObject1) {
    pdf_builder b;
    b.add(1, "<< /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b));
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.catalog, 1);
    EXPECT_EQ(t.d.pages.count, 1);
}

TEST(Catalog, NoObject1NamesObject1InMessage) {
    pdf_builder b;
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 7);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "catalog (obj 1) has no /Pages reference");
}

TEST(Catalog, PagesReferenceZeroIsRefused) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 0 0 R >>");
    b.add(4, "<< /Type /Pages /Kids [] >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "catalog (obj 1) has no /Pages reference");
}

TEST(Catalog, LaterPagesKeyWithPositiveNumberIsTaken) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages /Oops /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.pages.count, 1);
}

TEST(Catalog, CatalogWithoutDictionaryIsRefused) {
    pdf_builder b;
    b.add(4, "42");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 4);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "catalog (obj 4) has no /Pages reference");
}

TEST(Catalog, RootPointingAtPagesNodeStartsThere) {
    test_doc t(plenvo_test::simple_pdf(3), 2);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.catalog, 2);
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 4, 5}));
}

TEST(Catalog, RootPointingAtSinglePageGivesOneEntryWithoutParent) {
    test_doc t(plenvo_test::simple_pdf(3), 4);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(t.d.pages.count, 1);
    EXPECT_EQ(t.d.pages.items[0].objnum, 4);
    EXPECT_EQ(t.d.pages.items[0].parent, -1);
    EXPECT_EQ(t.d.pages.items[0].res_node, -1);
}

TEST(Catalog, PagesReferenceToUntypedObjectIsBroken) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 5 0 R >>");
    b.add(5, "<< /Type /Font >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(5));
}

TEST(Catalog, PagesReferenceToMissingObjectIsBroken) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 8 0 R >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(8));
}

// ---------------------------------------------------------------- walk

TEST(Walk, DepthFirstInKidsOrder) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 10 0 R 4 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    b.add(4, "<< /Type /Page >>");
    b.add(10, "<< /Type /Pages /Kids [12 0 R 11 0 R] /Parent 2 0 R >>");
    b.add(11, "<< /Type /Page >>");
    b.add(12, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 12, 11, 4}));
    EXPECT_EQ(t.d.pages.items[0].parent, 2);
    EXPECT_EQ(t.d.pages.items[1].parent, 10);
    EXPECT_EQ(t.d.pages.items[3].parent, 2);
}

TEST(Walk, KidsWithReferencesShortReferencesAndBareNumbers) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 5 R 7] >>");
    for (int n : {3, 5, 7}) b.add(n, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 5, 7}));
}

TEST(Walk, KidsWithoutSpacesAndOtherWhiteSpace) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<</Type/Pages/Kids[\r\n3 0 R\t4 0 R\f]>>");
    b.add(3, "<</Type/Page>>");
    b.add(4, "<</Type/Page>>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 4}));
}

TEST(Walk, PageListedTwiceIsListedTwice) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 3}));
}

TEST(Walk, SharedPagesNodeBreaksTheTree) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [5 0 R 5 0 R] >>");
    b.add(5, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(2));
}

TEST(Walk, CycleBreaksTheTree) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] >>");
    b.add(5, "<< /Type /Pages /Kids [2 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(2));
}

TEST(Walk, MissingKidBreaksTheTree) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 9 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(2));
}

TEST(Walk, UntypedKidBreaksTheTree) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    b.add(3, "<< /Type /XObject >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(2));
}

TEST(Walk, EmptyKidsMeansNoPages) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [ ] /Count 0 >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "document has no pages");
}

TEST(Walk, NestedNodesWithoutPagesMeanNoPages) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [4 0 R] >>");
    b.add(4, "<< /Type /Pages /Kids [] >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "document has no pages");
}

TEST(Walk, KidsAsReferenceToArrayObjectIsFollowed) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids 7 0 R /Count 2 >>");
    b.add(3, "<< /Type /Page >>");
    b.add(4, "<< /Type /Page >>");
    b.add(7, "[4 0 R 3 0 R]");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{4, 3}));
}

TEST(Walk, KidsReferenceToMissingObjectMeansNoPages) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids 7 0 R >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, "document has no pages");
}

TEST(Walk, InlineDictionaryInRootKids) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R << /Type /Page >>] >>");
    b.add(3, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_STREQ(g_err, INLINE_MSG);
}

TEST(Walk, InlineDictionaryDeeperIsGeneralFailure) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    b.add(5, "<< /Type /Pages /Kids [<< /Type /Page >>] >>");
    test_doc t(build(b), 1);
    EXPECT_EQ(t.load(), -1);
    EXPECT_EQ(std::string(g_err), broken_msg(2));
}

TEST(Walk, LoneAngleBracketInKidsIsSkipped) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R <ab> 4 0 R] >>");
    b.add(3, "<< /Type /Page >>");
    b.add(4, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 4}));
}

TEST(Walk, VeryDeepTreeDoesNotExhaustTheStack) {
    pdf_builder b;
    const int depth = 20000;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int n = 2; n < 2 + depth; ++n)
        b.add(n, "<< /Type /Pages /Kids [" + std::to_string(n + 1) + " 0 R] /Rotate " +
                     std::to_string(90 * (n % 4)) + " >>");
    b.add(2 + depth, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(t.d.pages.count, 1);
    EXPECT_EQ(t.d.pages.items[0].parent, 1 + depth);
    EXPECT_EQ(t.d.pages.items[0].rotate, 90 * ((1 + depth) % 4));
}

TEST(Walk, WideTreeKeepsEveryKid) {
    const int pages = 30000;
    test_doc t(plenvo_test::simple_pdf(pages, ""), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(t.d.pages.count, pages);
    EXPECT_EQ(t.d.pages.items[pages - 1].objnum, 2 + pages);
}

TEST(Walk, MembersOfObjectStreamsAreWalked) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    test_doc t(build(b), 1);
    t.add_member(2, "<</Type/Pages/Kids[3 0 R]/MediaBox[0 0 200 300]/Rotate 90>>");
    t.add_member(3, "<</Type/Page/Parent 2 0 R>>");
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(t.d.pages.count, 1);
    EXPECT_EQ(t.d.pages.items[0].rotate, 90);
    expect_box(t.d.pages.items[0], 0, 0, 200, 300);
}

// ---------------------------------------------------------------- types

TEST(ObjType, ClassifiesTypeValues) {
    pdf_builder b;
    b.add(1, "<< /Type /Pages >>");
    b.add(2, "<</Type/Page>>");
    b.add(3, "<< /Type /PageLabel >>");
    b.add(4, "<< /Type /Pagesx >>");
    b.add(5, "<< /Resources << /Type /Page >> /Type /Pages >>");
    b.add(6, "<< /A (/Type /Page) >>");
    b.add(7, "<< %/Type /Page\n/X 1 >>");
    b.add(8, "<< /Type /Catalog /Type /Page >>");
    b.add(9, "<< /Type /Annot /AP << /Type /Page >> >>");
    b.add(10, "[/Type /Page]");
    b.add(11, "<< /Type\n/Page/Parent 2 0 R >>");
    b.add(12, "<< /Type /Page /Contents 4 0 R >>");
    b.add(13, "<< /T <2F54797065> /Type /Pages >>");
    test_doc t(build(b));
    const int want[] = {0, 2, 1, 0, 0, 2, 0, 0, 1, 0, 0, 1, 1, 2};
    for (int n = 1; n <= 13; ++n) EXPECT_EQ(obj_type(&t.d, t.obj(n)), want[n]) << "object " << n;
}

TEST(ObjType, MemberText) {
    test_doc t("%PDF-1.4\n");
    t.add_member(4, "<</Type/Pages/Kids[]>>");
    t.add_member(5, "<</Type/Page>>");
    t.add_member(6, "<</Type/Page");  // unterminated: the name still ends the text
    EXPECT_EQ(obj_type(&t.d, t.obj(4)), 2);
    EXPECT_EQ(obj_type(&t.d, t.obj(5)), 1);
    EXPECT_EQ(obj_type(&t.d, t.obj(6)), 1);
}

// ---------------------------------------------------------------- rotation

TEST(Rotate, OwnValueNormalised) {
    pdf_builder b;
    b.add(1, "<< /Type /Page >>");
    b.add(2, "<< /Type /Page /Rotate 90 >>");
    b.add(3, "<< /Type /Page /Rotate -90 >>");
    b.add(4, "<< /Type /Page /Rotate 450 >>");
    b.add(5, "<< /Type /Page /Rotate -1 >>");
    b.add(6, "<< /Type /Page /Rotate /Ninety >>");
    b.add(7, "<< /Type /Page /Rotate 720 >>");
    b.add(8, "<< /Type /Page /Rotate 9 0 R >>");
    b.add(9, "270");
    b.add(10, "<< /Type /Page /Rotate 45 >>");
    b.add(11, "<< /Type /Page /Rotate 180 /Rotate 90 >>");
    b.add(12, "<< /Type /Page /Rotate -450 >>");
    test_doc t(build(b));
    const int want[] = {0, -1, 90, 270, 90, 359, -1, 0, 270, -1, 45, 180, 270};
    for (int n = 1; n <= 12; ++n) {
        if (n == 9) continue;
        EXPECT_EQ(obj_rotate_own(&t.d, t.obj(n)), want[n]) << "object " << n;
    }
}

TEST(Rotate, InheritedFromNearestAncestor) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Rotate 90 >>");
    b.add(3, "<< /Type /Page >>");
    b.add(4, "<< /Type /Pages /Kids [6 0 R 7 0 R] /Rotate 180 >>");
    b.add(5, "<< /Type /Pages /Kids [8 0 R] >>");
    b.add(6, "<< /Type /Page >>");
    b.add(7, "<< /Type /Page /Rotate 270 >>");
    b.add(8, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 6, 7, 8}));
    EXPECT_EQ(t.d.pages.items[0].rotate, 90);
    EXPECT_EQ(t.d.pages.items[1].rotate, 180);
    EXPECT_EQ(t.d.pages.items[2].rotate, 180);  // the page's own value is not recorded
    EXPECT_EQ(t.d.pages.items[3].rotate, 90);
}

TEST(Rotate, NegativeAndLargeNodeValues) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Rotate 180 >>");
    b.add(3, "<< /Type /Pages /Kids [5 0 R] /Rotate -90 >>");
    b.add(4, "<< /Type /Pages /Kids [6 0 R] /Rotate 450 >>");
    b.add(5, "<< /Type /Page >>");
    b.add(6, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.pages.items[0].rotate, 270);
    EXPECT_EQ(t.d.pages.items[1].rotate, 90);
}

TEST(Rotate, RootPageRecordsZero) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 3 0 R >>");
    b.add(3, "<< /Type /Page /Rotate 90 >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    EXPECT_EQ(t.d.pages.items[0].rotate, 0);
}

// ---------------------------------------------------------------- boxes

TEST(Rect, ReadsFourNumbersAndNormalises) {
    auto rd = [](const std::string &s, rect *r) {
        return read_rect_at(reinterpret_cast<const uint8_t *>(s.data()),
                            static_cast<int32_t>(s.size()), 0, r);
    };
    rect r{};
    ASSERT_EQ(rd("[0 0 61.5 792.]", &r), 1);
    EXPECT_DOUBLE_EQ(r.urx, 61.5);
    EXPECT_DOUBLE_EQ(r.ury, 792.0);
    ASSERT_EQ(rd("[.5 -.25 +10 20]", &r), 1);
    EXPECT_DOUBLE_EQ(r.llx, 0.5);
    EXPECT_DOUBLE_EQ(r.lly, -0.25);
    EXPECT_DOUBLE_EQ(r.urx, 10);
    ASSERT_EQ(rd("[612 792 0 0]", &r), 1);
    EXPECT_EQ(r.llx, 0);
    EXPECT_EQ(r.lly, 0);
    EXPECT_EQ(r.urx, 612);
    EXPECT_EQ(r.ury, 792);
    ASSERT_EQ(rd("[700 0 612 792]", &r), 1);
    EXPECT_EQ(r.llx, 612);
    EXPECT_EQ(r.urx, 700);
    ASSERT_EQ(rd("[-612 -792 0 0]", &r), 1);
    EXPECT_EQ(r.llx, -612);
    EXPECT_EQ(r.ury, 0);
    ASSERT_EQ(rd("[1 2 3 4 5]", &r), 1);
    EXPECT_EQ(r.ury, 4);
    ASSERT_EQ(rd("[0\n0\r\n100\t200]", &r), 1);
    EXPECT_EQ(r.urx, 100);
    r = rect{7, 7, 7, 7};
    EXPECT_EQ(rd("[0 0 612]", &r), 0);
    EXPECT_EQ(rd("[0 0 0 0]", &r), 0);
    EXPECT_EQ(rd("[0 10 100 10]", &r), 0);  // no height
    EXPECT_EQ(rd("[0 0 612 792", &r), 1);   // the text ends, four numbers were read
    EXPECT_EQ(rd("[0 0 612", &r), 0);
    EXPECT_EQ(rd("(0 0 612 792)", &r), 0);
    EXPECT_EQ(rd("[0 0 1" + std::string(400, '0') + " 5]", &r), 0);  // infinite
    const std::string big = "1" + std::string(308, '0');                // 1e308
    r = rect{7, 7, 7, 7};
    EXPECT_EQ(rd("[-" + big + " 0 " + big + " 5]", &r), 0);             // width overflows
    EXPECT_EQ(r.llx, 7);
}

TEST(Box, CropBoxThatDoesNotQualifyFallsBackToMediaBox) {
    std::unique_ptr<test_doc> t(one_page("/CropBox [0 0 0 0] /MediaBox [0 0 612 792]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 612, 792);
}

TEST(Box, DefaultWithoutAnyBox) {
    std::unique_ptr<test_doc> t(one_page(""));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 595, 842);
}

TEST(Box, SwappedCornersAreNormalised) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [612 792 0 0]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 612, 792);
}

TEST(Box, NegativeCornersQualify) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [-612 -792 0 0]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], -612, -792, 0, 0);
}

TEST(Box, CropBoxIsClippedToMediaBox) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 612 792] /CropBox [-10 50 300 900]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 50, 300, 792);
}

TEST(Box, DisjointCropBoxGivesMediaBox) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 100 100] /CropBox [200 200 300 300]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 100, 100);
}

TEST(Box, TouchingCropBoxGivesMediaBox) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 100 100] /CropBox [100 0 200 100]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 100, 100);
}

TEST(Box, CropBoxAloneIsUsed) {
    std::unique_ptr<test_doc> t(one_page("/CropBox [10 20 110 220]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 10, 20, 110, 220);
}

TEST(Box, MediaBoxInheritedFromParent) {
    std::unique_ptr<test_doc> t(one_page("", "/MediaBox [0 0 612 792]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 612, 792);
}

TEST(Box, OwnMediaBoxWinsOverInherited) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 300 400]", "/MediaBox [0 0 612 792]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 300, 400);
}

TEST(Box, OwnMediaBoxThatDoesNotQualifyFallsBackToInherited) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 300]", "/MediaBox [0 0 612 792]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 0, 0, 612, 792);
}

TEST(Box, InheritedCropBoxClipsOwnMediaBox) {
    std::unique_ptr<test_doc> t(one_page("/MediaBox [0 0 500 500]", "/CropBox [100 100 700 700]"));
    ASSERT_EQ(t->load(), 0) << g_err;
    expect_box(t->d.pages.items[0], 100, 100, 500, 500);
}

TEST(Box, NearestAncestorWinsAndUnqualifiedValueHidesFartherOnes) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R] /MediaBox [0 0 1000 1000] >>");
    b.add(4, "<< /Type /Pages /Kids [7 0 R] /MediaBox [0 0 612 792] >>");
    b.add(5, "<< /Type /Pages /Kids [8 0 R] /MediaBox [0 0 0 0] >>");
    b.add(6, "<< /Type /Pages /Kids [9 0 R] >>");
    b.add(7, "<< /Type /Page >>");
    b.add(8, "<< /Type /Page >>");
    b.add(9, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(page_nums(t.d), (std::vector<int32_t>{7, 8, 9}));
    expect_box(t.d.pages.items[0], 0, 0, 612, 792);
    expect_box(t.d.pages.items[1], 0, 0, 595, 842);
    expect_box(t.d.pages.items[2], 0, 0, 1000, 1000);
}

TEST(Box, IndirectBoxValues) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /MediaBox 8 0 R >>");
    b.add(3, "<< /Type /Page /CropBox 9 0 R >>");
    b.add(4, "<< /Type /Page /MediaBox 10 0 R >>");
    b.add(8, "[0 0 612 792]");
    b.add(9, "[50 50 100 100]");
    b.add(10, "<< /NotAnArray 1 >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    expect_box(t.d.pages.items[0], 50, 50, 100, 100);
    expect_box(t.d.pages.items[1], 0, 0, 612, 792);
}

TEST(Box, BoxOnMemberPage) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] >>");
    test_doc t(build(b), 1);
    t.add_member(3, "<</Type/Page/MediaBox[0 0 842 595]/CropBox 4 0 R>>");
    t.add_member(4, "[0 0 421 595]");
    ASSERT_EQ(t.load(), 0) << g_err;
    expect_box(t.d.pages.items[0], 0, 0, 421, 595);
}

// ---------------------------------------------------------------- resources

TEST(Resources, NearestAncestorHoldingResourcesIsRecorded) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Resources << /Font << >> >> >>");
    b.add(3, "<< /Type /Page >>");
    b.add(4, "<< /Type /Pages /Kids [6 0 R] /Resources 9 0 R >>");
    b.add(5, "<< /Type /Pages /Kids [7 0 R] >>");
    b.add(6, "<< /Type /Page /Resources << >> >>");
    b.add(7, "<< /Type /Page >>");
    test_doc t(build(b), 1);
    ASSERT_EQ(t.load(), 0) << g_err;
    ASSERT_EQ(page_nums(t.d), (std::vector<int32_t>{3, 6, 7}));
    EXPECT_EQ(t.d.pages.items[0].res_node, 2);
    EXPECT_EQ(t.d.pages.items[1].res_node, 4);
    EXPECT_EQ(t.d.pages.items[2].res_node, 2);
}

TEST(Resources, NoneWhenNoAncestorHasThem) {
    std::unique_ptr<test_doc> t(one_page("/Resources << >>"));
    ASSERT_EQ(t->load(), 0) << g_err;
    EXPECT_EQ(t->d.pages.items[0].res_node, -1);
}

// What the loader keeps from each page's dictionary is what a later search
// of that dictionary gives: keys in strings, comments, hex strings or nested
// dictionaries, repeated keys, an indirect /Rotate, and a page held in an
// object stream.
TEST(PageDictionary, KeptAnswersMatchSearchingAgain) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 20 0 R] /Count 7 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R /Resources << >> /Rotate 90 >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Note (/Contents 1 0 R /Rotate 180) /Contents 9 0 R >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /A << /Contents 9 0 R /Resources << >> >> /Rotate 10 0 R >>");
    b.add(6, "<< /Type /Page /Parent 2 0 R %/Resources\n /Resources << >> /Contents [9 0 R] >>");
    b.add(7, "<< /Type /Page /Parent 2 0 R /H <2F5265736F7572636573> /Contents 9 0 R /Contents 11 0 R >>");
    b.add(8, "<< /Type /Page /Parent 2 0 R /Note (unterminated /Contents 9 0 R /Resources << >>");
    b.add(9, "<< /Length 0 >>");
    b.add(10, "270");
    b.add(11, "<< /Length 0 >>");
    test_doc t(build(b));
    t.add_member(20, "<< /Type /Page /Parent 2 0 R /Rotate -90 /Resources << /Font << >> >> /Contents 9 0 R >>");
    ASSERT_EQ(t.load(), 0) << plenvo_last_error();
    ASSERT_EQ(t.d.pages.count, 7);
    for (int32_t k = 0; k < t.d.pages.count; ++k) {
        const pageinfo &p = t.d.pages.items[k];
        const objent *e = t.obj(p.objnum);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(p.dict_read, 1);
        const page_keys want = find_page_keys(&t.d, e);
        EXPECT_EQ(p.contents_key, want.contents) << "page " << p.objnum;
        EXPECT_EQ(p.resources_key, want.resources) << "page " << p.objnum;
        EXPECT_EQ(p.own_rotate, obj_rotate_own(&t.d, e)) << "page " << p.objnum;
    }
    // The answers are the ones the dictionaries call for, not merely equal.
    EXPECT_EQ(t.d.pages.items[0].own_rotate, 90);
    EXPECT_EQ(t.d.pages.items[1].own_rotate, 180);  // a name inside a string still counts for /Rotate
    EXPECT_EQ(t.d.pages.items[2].own_rotate, 270);
    EXPECT_EQ(t.d.pages.items[6].own_rotate, 270);
}

// The keys of every page as a build takes them: what the loader kept when it
// read the page's dictionary, else the keys found afresh, and none for a
// page whose object is missing.
TEST(PageDictionary, KeysOfEveryPage) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Resources << >> /Contents 9 0 R >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /Resources << >> >>");
    b.add(9, "<< /Length 0 >>");
    test_doc t(build(b));
    ASSERT_EQ(t.load(), 0) << plenvo_last_error();
    ASSERT_EQ(t.d.pages.count, 3);
    pageinfo *pages = t.d.pages.items;
    pages[1].dict_read = 0;  // not read: its kept keys must not be taken
    pages[1].contents_key = pages[1].resources_key = 12345;
    pages[2].dict_read = 0;
    pages[2].objnum = 99;  // no such object
    const std::vector<page_keys> keys = page_keys_of(&t.d);
    ASSERT_EQ(keys.size(), 3u);
    const page_keys first = find_page_keys(&t.d, t.obj(3)), second = find_page_keys(&t.d, t.obj(4));
    EXPECT_GE(first.contents, 0);
    EXPECT_EQ(first.resources, -1);
    EXPECT_GE(second.resources, 0);
    EXPECT_EQ(keys[0].contents, first.contents);
    EXPECT_EQ(keys[0].resources, first.resources);
    EXPECT_EQ(keys[1].contents, second.contents);
    EXPECT_EQ(keys[1].resources, second.resources);
    EXPECT_EQ(keys[2].contents, -1);
    EXPECT_EQ(keys[2].resources, -1);
}
