// The closure of copied resource objects: which objects are copied, in what
// order and under which numbers, how references are rewritten, and the text
// each copied object gets. Documents are built by hand (object table filled
// directly) so that only the output side is exercised.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "output/copy_list.h"
#include "output/page_keys.h"
#include "reader/doc.h"

using namespace plenvo;

namespace {

// A document whose object table is written straight from the objects given:
// each direct object is "N 0 obj\n<body>\nendobj\n"; a body holding
// "\nstream\n" is a stream whose data runs to "\nendstream". Members of an
// object stream are given separately. Pages are listed by number, all under
// node 2, box 0 0 612 792.
struct hand_doc {
    doc d{};

    hand_doc(const std::vector<std::pair<int, std::string>> &direct, const std::vector<int> &pages,
             const std::vector<std::pair<int, std::string>> &members = {}, int res_node = -1) {
        std::string bytes = "%PDF-1.4\n";
        std::vector<objent> ents;
        for (const auto &[num, body] : direct) {
            objent e{};
            e.num = num;
            e.hdr_pos = static_cast<int32_t>(bytes.size());
            e.dict_pos = e.stream_pos = e.data_pos = e.data_end = e.data_len = -1;
            bytes += std::to_string(num) + " 0 obj\n";
            const int32_t body_at = static_cast<int32_t>(bytes.size());
            if (body.rfind("<<", 0) == 0) e.dict_pos = body_at;
            size_t s = body.find("\nstream\n");
            if (s != std::string::npos) {
                e.has_stream = 1;
                e.stream_pos = body_at + static_cast<int32_t>(s) + 1;
                e.data_pos = e.stream_pos + 7;
                e.data_end = body_at + static_cast<int32_t>(body.rfind("\nendstream"));
                e.data_len = e.data_end - e.data_pos;
            }
            bytes += body + "\n";
            e.endobj_pos = static_cast<int32_t>(bytes.size());
            e.end_pos = e.endobj_pos + 6;
            bytes += "endobj\n";
            ents.push_back(e);
        }
        d.len = static_cast<int32_t>(bytes.size());
        d.data = static_cast<uint8_t *>(std::malloc(bytes.size()));
        std::memcpy(d.data, bytes.data(), bytes.size());
        for (const auto &[num, text] : members) {
            objent e{};
            e.num = num;
            e.hdr_pos = e.dict_pos = e.stream_pos = e.data_pos = e.data_end = e.data_len = -1;
            e.endobj_pos = e.end_pos = -1;
            e.in_objstm = 1;
            auto *block = static_cast<uint8_t *>(arena_alloc(&d.arena, text.size()));
            std::memcpy(block, text.data(), text.size());
            e.text = block;
            e.text_len = static_cast<int32_t>(text.size());
            ents.push_back(e);
        }
        for (const auto &e : ents) {
            objvec_push(&d.objs, &e);
            if (e.num > d.max_num) d.max_num = e.num;
        }
        for (int num : pages) {
            pageinfo p{};
            p.objnum = num;
            p.parent = 2;
            p.urx = 612;
            p.ury = 792;
            p.res_node = res_node;
            pagevec_push(&d.pages, &p);
        }
        d.root = d.catalog = 1;
        doc_build_index(&d);
    }
    ~hand_doc() { doc_free(&d); }
    hand_doc(const hand_doc &) = delete;
    hand_doc &operator=(const hand_doc &) = delete;
};

// Catalog, page-tree node and pages 3.. with the given page dictionaries.
std::vector<std::pair<int, std::string>> frame(const std::vector<std::string> &page_dicts,
                                               const std::string &node_extra = "") {
    std::vector<std::pair<int, std::string>> objs;
    objs.push_back({1, "<< /Type /Catalog /Pages 2 0 R >>"});
    std::string kids;
    for (size_t i = 0; i < page_dicts.size(); ++i) kids += std::to_string(3 + i) + " 0 R ";
    objs.push_back({2, "<< /Type /Pages /Kids [" + kids + "] /Count " +
                           std::to_string(page_dicts.size()) + " " + node_extra + " >>"});
    for (size_t i = 0; i < page_dicts.size(); ++i)
        objs.push_back({static_cast<int>(3 + i), "<< /Type /Page /Parent 2 0 R " + page_dicts[i] + " >>"});
    return objs;
}

std::vector<int> page_nums(int n, int first = 3) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back(first + i);
    return v;
}

std::string rewrite(const hand_doc &h, const copy_list &cl, const std::string &text) {
    return rewrite_refs(reinterpret_cast<const uint8_t *>(text.data()), text.size(), &h.d, cl);
}

std::string copied_text(const hand_doc &h, const copy_list &cl, int old_num) {
    const objent *e = doc_lookup(&h.d, old_num);
    EXPECT_NE(e, nullptr);
    if (!e) return "";
    buf b{};
    copy_object(&h.d, e, cl.new_number(old_num), cl, &b);
    std::string s(reinterpret_cast<const char *>(b.data), b.len);
    buf_free(&b);
    return s;
}

using ints = std::vector<int32_t>;

}  // namespace

// ---- collecting and numbering ----

TEST(CopyListOrder, DirectReferencesOfTwoPagesNumberedAfterThePages) {
    auto objs = frame({"/Resources << /Font << /F1 5 0 R /F2 7 0 R >> /ProcSet [/PDF /Text] >>",
                       "/Resources << /Font << /F1 5 0 R >> >>"});
    objs.push_back({5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
    objs.push_back({7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"});
    hand_doc h(objs, {3, 4});
    copy_list cl;
    build_copy_list(&h.d, 3 * 2 + 3, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{5, 7}));
    EXPECT_EQ(cl.new_number(5), 9);
    EXPECT_EQ(cl.new_number(7), 10);
    EXPECT_EQ(rewrite(h, cl, "<< /Font << /F1 5 0 R /F2 7 0 R >> /ProcSet [/PDF /Text] >>"),
              "<< /Font << /F1 9 0 R /F2 10 0 R >> /ProcSet [/PDF /Text] >>");
    // The second page's text names the same font under the same new number.
    EXPECT_EQ(rewrite(h, cl, "<< /Font << /F1 5 0 R >> >>"), "<< /Font << /F1 9 0 R >> >>");
}

TEST(CopyListOrder, PagesFirstThenBreadthFirstThroughCopiedObjects) {
    // Page 3 names 10 (which names 12, then 11); page 4 names 20 (which names 21).
    auto objs = frame({"/Resources << /Font << /F1 10 0 R >> >>", "/Resources << /XObject << /X 20 0 R >> >>"});
    objs.push_back({10, "<< /Type /Font /FontDescriptor 12 0 R /Widths 11 0 R >>"});
    objs.push_back({11, "[500 500]"});
    objs.push_back({12, "<< /Type /FontDescriptor /FontFile2 13 0 R >>"});
    objs.push_back({13, "<< /Length 3 >>\nstream\nabc\nendstream"});
    objs.push_back({20, "<< /Subtype /Image /SMask 21 0 R /Length 1 >>\nstream\nx\nendstream"});
    objs.push_back({21, "<< /Subtype /Image /Length 1 >>\nstream\ny\nendstream"});
    hand_doc h(objs, page_nums(2));
    copy_list cl;
    build_copy_list(&h.d, 9, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{10, 20, 12, 11, 21, 13}));
    for (size_t j = 0; j < cl.old_nums.size(); ++j)
        EXPECT_EQ(cl.new_number(cl.old_nums[j]), 9 + static_cast<int32_t>(j));
}

TEST(CopyListOrder, SharedObjectCopiedOnce) {
    std::vector<std::string> pages(5, "/Resources << /Font << /F1 40 0 R >> >>");
    auto objs = frame(pages);
    objs.push_back({40, "<< /Type /Font /FontDescriptor 41 0 R >>"});
    objs.push_back({41, "<< /Type /FontDescriptor /Flags 32 >>"});
    hand_doc h(objs, page_nums(5));
    copy_list cl;
    build_copy_list(&h.d, 18, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{40, 41}));
}

TEST(CopyListOrder, NoLimitOnReferencesPerPageOrInAll) {
    // The first page names 20 images, each of the 99 others one image of its own.
    std::string res = "/Resources << /XObject << ";
    for (int i = 0; i < 20; ++i) res += "/Im" + std::to_string(i) + " " + std::to_string(200 + i) + " 0 R ";
    res += ">> >>";
    std::vector<std::string> pages(1, res);
    for (int k = 0; k < 99; ++k) pages.push_back("/Resources << /XObject << /Im " + std::to_string(2100 + k) + " 0 R >> >>");
    auto objs = frame(pages);
    for (int i = 0; i < 20; ++i) objs.push_back({200 + i, "<< /Length 1 >>\nstream\nz\nendstream"});
    for (int k = 0; k < 99; ++k) objs.push_back({2100 + k, "<< /Length 1 >>\nstream\nz\nendstream"});
    hand_doc h(objs, page_nums(100));
    copy_list cl;
    build_copy_list(&h.d, 303, &cl, page_keys_of(&h.d).data());
    ASSERT_EQ(cl.old_nums.size(), 119u);
    EXPECT_EQ(cl.old_nums[19], 219);
    EXPECT_EQ(cl.old_nums[20], 2100);
    EXPECT_EQ(cl.new_number(2198), 303 + 118);
    EXPECT_EQ(rewrite(h, cl, "<< /Im 2198 0 R >>"), "<< /Im 421 0 R >>");
}

TEST(CopyListOrder, InheritedResourcesAreCollected) {
    auto objs = frame({"", ""}, "/Resources << /Font << /F1 9 0 R >> >>");
    objs.push_back({9, "<< /Type /Font >>"});
    hand_doc h(objs, page_nums(2), {}, /*res_node=*/2);
    copy_list cl;
    build_copy_list(&h.d, 9, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{9}));
}

TEST(CopyListOrder, MissingAndFarObjectsStillTakeNumbers) {
    auto objs = frame({"/Resources << /Font << /F1 7 0 R /F2 99999 0 R /F3 5 0 R >> >>"});
    objs.push_back({5, "<< /Type /Font >>"});
    objs.push_back({8, "<< /Type /Font >>"});  // max_num 8: 7 is a gap, 99999 lies beyond
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{7, 99999, 5}));
    EXPECT_EQ(cl.new_number(7), 6);
    EXPECT_EQ(cl.new_number(99999), 7);
    EXPECT_EQ(cl.new_number(5), 8);
    EXPECT_EQ(cl.new_number(8), 0);
    EXPECT_EQ(rewrite(h, cl, "<< /F2 99999 0 R >>"), "<< /F2 7 0 R >>");
}

TEST(CopyListStructure, PagesBecomeTheirNewPagesNodesAndCatalogAreNeverCopied) {
    // Page 4 (the second page) is the new page 6; page 11 is outside the page
    // list, 2 the page-tree node, 1 the catalog: those are written as null.
    auto objs = frame({"/Resources << /XObject << /X 9 0 R >> >>", ""});
    objs.push_back(
        {9, "<< /Subtype /Form /P 4 0 R /Up 2 0 R /Cat 1 0 R /Keep 10 0 R /Lost 11 0 R /Length 0 >>\nstream\n\nendstream"});
    objs.push_back({10, "<< /Kind /Other >>"});
    objs.push_back({11, "<< /Type /Page >>"});
    hand_doc h(objs, page_nums(2));
    copy_list cl;
    build_copy_list(&h.d, 9, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{9, 10}));
    EXPECT_EQ(cl.new_number(3), 3);
    EXPECT_EQ(cl.new_number(4), 6);
    EXPECT_EQ(cl.new_number(1), 0);
    EXPECT_EQ(cl.new_number(11), 0);
    std::string t = copied_text(h, cl, 9);
    EXPECT_NE(t.find("/P 6 0 R /Up null /Cat null /Keep 10 0 R /Lost null"), std::string::npos) << t;
}

// ---- the reference pattern ----

TEST(CopyListPattern, DigitsInNamesRealsStringsAndCommentsAreNoReferences) {
    auto objs = frame({"/Resources << /ExtGState << /GS1 << /CA 0.5 >> >> /Font << /F1 5 0 R >> "
                       "/Properties << /P0 << /Name (6 0 R) /Id <37> /Alt (a\\) 7 0 R (x) y) >> >> >>\n"});
    objs.push_back({5, "<< /Type /Font >> % 8 0 R in a comment\n"});
    objs.push_back({6, "1"});
    objs.push_back({7, "2"});
    objs.push_back({8, "3"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{5}));
    const std::string text = "<< /GS1 << /CA 0.5 >> /F1 5 0 R /N (6 0 R) /Id <37> % 7 0 R\n/Q [8.0 1] >>";
    EXPECT_EQ(rewrite(h, cl, text), "<< /GS1 << /CA 0.5 >> /F1 6 0 R /N (6 0 R) /Id <37> % 7 0 R\n/Q [8.0 1] >>");
}

TEST(CopyListPattern, SpacingAndGenerationForms) {
    auto objs = frame({"/Resources << /A 5\n0\rR /B 12 10 R /C 13 R /D 14 0R /E [15 0 R] /F 16 0 Rx >>"});
    for (int n : {5, 12, 13, 14, 15, 16}) objs.push_back({n, "<< >>"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{5, 12, 13, 14, 15}));
    EXPECT_EQ(rewrite(h, cl, "<< /A 5\n0\rR /B 12 10 R /C 13 R /D 14 0R /E [15 0 R] /F 16 0 Rx >>"),
              "<< /A 6 0 R /B 7 0 R /C 8 0 R /D 9 0 R /E [10 0 R] /F 16 0 Rx >>");
}

TEST(CopyListPattern, NumbersBeforeAReferenceInAnArray) {
    auto objs = frame({"/Resources << /ColorSpace << /CS [/Indexed /DeviceRGB 255 9 0 R] >> >>"});
    objs.push_back({9, "<< /Length 3 >>\nstream\nabc\nendstream"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{9}));
    EXPECT_EQ(rewrite(h, cl, "[/Indexed /DeviceRGB 255 9 0 R]"), "[/Indexed /DeviceRGB 255 6 0 R]");
}

// ---- copied object texts ----

TEST(CopyObject, PlainObjectBodyRewritten) {
    auto objs = frame({"/Resources << /Font << /F1 5 0 R >> >>"});
    objs.push_back({5, "<< /Type /Font /FontDescriptor 8 0 R /Encoding /WinAnsiEncoding >>"});
    objs.push_back({8, "<< /Type /FontDescriptor /FontName /Abc >>"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(copied_text(h, cl, 5),
              "6 0 obj\n<< /Type /Font /FontDescriptor 7 0 R /Encoding /WinAnsiEncoding >>\nendobj\n");
    EXPECT_EQ(copied_text(h, cl, 8), "7 0 obj\n<< /Type /FontDescriptor /FontName /Abc >>\nendobj\n");
}

TEST(CopyObject, StreamDataCopiedAsStoredDictionaryRewritten) {
    // The data holds bytes that look like references and binary bytes.
    const std::string data = std::string("5 0 R q\x00\xff", 9) + " Q";
    auto objs = frame({"/Resources << /XObject << /X 5 0 R >> >>"});
    objs.push_back({5, "<< /Subtype /Image /SMask 9 0 R /Length " + std::to_string(data.size()) +
                           " >>\nstream\n" + data + "\nendstream"});
    objs.push_back({9, "<< /Subtype /Image /Length 0 >>\nstream\n\nendstream"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(copied_text(h, cl, 5), "6 0 obj\n<< /Subtype /Image /SMask 7 0 R /Length 11 >>\nstream\n" + data +
                                         "\nendstream\nendobj\n");
}

TEST(CopyObject, IndirectLengthIsCopiedAndRenumbered) {
    auto objs = frame({"/Resources << /XObject << /X 5 0 R >> >>"});
    objs.push_back({5, "<< /Length 6 0 R >>\nstream\nhello\nendstream"});
    objs.push_back({6, "5"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{5, 6}));
    EXPECT_EQ(copied_text(h, cl, 5), "6 0 obj\n<< /Length 7 0 R >>\nstream\nhello\nendstream\nendobj\n");
    EXPECT_EQ(copied_text(h, cl, 6), "7 0 obj\n5\nendobj\n");
}

TEST(CopyObject, WrongLengthIsReplacedByTheStoredDataLength) {
    auto objs = frame({"/Resources << /XObject << /X 5 0 R /Y 7 0 R /Z 8 0 R >> >>"});
    objs.push_back({5, "<< /Length 99 /Filter /FlateDecode >>\nstream\nhello\nendstream"});
    objs.push_back({6, "4"});
    objs.push_back({7, "<< /Length 6 0 R >>\nstream\nhello\nendstream"});
    objs.push_back({8, "<< /Subtype /Form >>\nstream\nabc\nendstream"});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(copied_text(h, cl, 5), "6 0 obj\n<< /Length 5 /Filter /FlateDecode >>\nstream\nhello\nendstream\nendobj\n");
    EXPECT_EQ(copied_text(h, cl, 7), "7 0 obj\n<< /Length 5 >>\nstream\nhello\nendstream\nendobj\n");
    EXPECT_EQ(copied_text(h, cl, 8), "8 0 obj\n<< /Length 3 /Subtype /Form >>\nstream\nabc\nendstream\nendobj\n");
}

TEST(CopyObject, MemberOfObjectStreamWrittenAsPlainObject) {
    auto objs = frame({"/Resources << /Font << /F1 30 0 R >> >>"});
    objs.push_back({31, "<< /Flags 4 >>"});
    hand_doc h(objs, page_nums(1), {{30, "<</Type/Font/FontDescriptor 31 0 R>>"}});
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(cl.old_nums, (ints{30, 31}));
    EXPECT_EQ(copied_text(h, cl, 30), "6 0 obj\n<</Type/Font/FontDescriptor 7 0 R>>\nendobj\n");
}

TEST(CopyObject, EmptyBodyBecomesNull) {
    auto objs = frame({"/Resources << /Font << /F1 5 0 R >> >>"});
    objs.push_back({5, ""});
    hand_doc h(objs, page_nums(1));
    copy_list cl;
    build_copy_list(&h.d, 6, &cl, page_keys_of(&h.d).data());
    EXPECT_EQ(copied_text(h, cl, 5), "6 0 obj\nnull\nendobj\n");
}
