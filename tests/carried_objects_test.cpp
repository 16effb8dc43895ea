// Carried document objects, piece by piece: destinations carried through
// the placement of the page they point to, actions and their /Next chains,
// annotations' geometry and appearances, and the walks over the outline,
// name trees and form fields, with loops and broken pieces dropped.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "output/carried.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using namespace plenvo_test;

namespace {

// A document of two pages, 3 (box 0 0 600 800) and 4 (the same box turned
// by /Rotate 90), with the objects given; catalog 1, page tree 2.
std::string two_pages(const std::vector<std::pair<int, std::string>> &objs, const std::string &catalog_extra = "",
                      const std::string &page3_extra = "", const std::string &page4_extra = "") {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 600 800] >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R " + page3_extra + " >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Rotate 90 " + page4_extra + " >>");
    for (const auto &[num, body] : objs) b.add(num, body);
    return b.build();
}

// A loaded document with its pages mapped the way the copy list maps them
// (page k to 3(k + 1)) and a plan for percent mode at `factor`.
struct carry_fixture {
    loaded_doc ld;
    copy_list cl;
    carry_plan plan;
    std::vector<std::pair<int32_t, carry_role>> hints;
    carry_ctx c{};

    explicit carry_fixture(const std::string &pdf, double factor = 0.5) : ld(pdf) {
        EXPECT_EQ(ld.rc, 0);
        const doc &d = ld.d;
        cl.first_new = 3 * d.pages.count + 3;
        cl.new_of.assign(static_cast<size_t>(d.max_num) + 1, 0);
        for (int32_t k = 0; k < d.pages.count; ++k) cl.new_of[d.pages.items[k].objnum] = 3 * (k + 1);
        plan.mode = MODE_PERCENT;
        plan.f = factor;
        c = carry_ctx{&ld.d, &cl, &plan, &hints};
    }

    // Parses text, applies fn to its root and returns the written result
    // (or "DROPPED" when fn says the value cannot be carried).
    template <class Fn>
    std::string carried(const std::string &text, Fn fn) {
        texts.push_back(text);
        const std::string &t = texts.back();
        pv_tree tr;
        size_t pos = 0;
        const int32_t v = pv_parse(&tr, reinterpret_cast<const uint8_t *>(t.data()), t.size(), &pos);
        EXPECT_GE(v, 0) << text;
        if (v < 0) return "UNPARSED";
        if (!fn(tr, v)) return "DROPPED";
        std::string out;
        pv_write(tr, v, &out);
        return out;
    }
    std::string target(const std::string &text) {
        return carried(text, [&](pv_tree &tr, int32_t v) { return carry_target(c, tr, v); });
    }
    std::vector<std::string> texts;
};

}  // namespace

// ---- destinations ----

// Page 3: (x, y) -> (x / 2, y / 2). Page 4, a quarter turn of a 600-point
// wide box: (x, y) -> (y / 2, (600 - x) / 2).
TEST(CarriedDestinations, CoordinatesFollowThePageTheyPointTo) {
    carry_fixture fx(two_pages({}));
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"[3 0 R /XYZ 100 700 2]", "[3 0 R /XYZ 50 350 2]"},
        {"[3 0 R /XYZ null 700 0]", "[3 0 R /XYZ null 350 0]"},
        {"[3 0 R /XYZ null null null]", "[3 0 R /XYZ null null null]"},
        {"[3 0 R /Fit]", "[3 0 R /Fit]"},
        {"[3 0 R /FitH 700]", "[3 0 R /FitH 350]"},
        {"[3 0 R /FitBV 101]", "[3 0 R /FitBV 50.5000]"},
        {"[3 0 R /FitR 100 200 300 400]", "[3 0 R /FitR 50 100 150 200]"},
        {"[3 0 R /FitH null]", "[3 0 R /FitH null]"},
        // On the turned page the horizontal and vertical coordinates trade
        // places, and so do /FitH and /FitV.
        {"[4 0 R /XYZ 100 700 0]", "[4 0 R /XYZ 350 250 0]"},
        {"[4 0 R /XYZ null 700 0]", "[4 0 R /XYZ 350 null 0]"},
        {"[4 0 R /XYZ 100 null 0]", "[4 0 R /XYZ null 250 0]"},
        {"[4 0 R /FitH 700]", "[4 0 R /FitV 350]"},
        {"[4 0 R /FitV 100]", "[4 0 R /FitH 250]"},
        {"[4 0 R /FitBH 700]", "[4 0 R /FitBV 350]"},
        {"[4 0 R /FitBV 100]", "[4 0 R /FitBH 250]"},
        {"[4 0 R /FitR 100 200 300 400]", "[4 0 R /FitR 100 150 200 250]"},
        // A page given by its index (some producers write it so).
        {"[1 /XYZ 100 700 0]", "[1 /XYZ 350 250 0]"},
        // Values after the ones a kind takes are kept.
        {"[3 0 R /FitH 700 5]", "[3 0 R /FitH 350 5]"},
        // A destination dictionary, and named destinations (kept as they are).
        {"<< /D [3 0 R /FitH 700] >>", "<< /D [3 0 R /FitH 350] >>"},
        {"(chapter.1)", "(chapter.1)"},
        {"/Intro", "/Intro"},
    };
    for (const auto &t : cases) EXPECT_EQ(fx.target(t.in), t.out) << t.in;
}

TEST(CarriedDestinations, WhatCannotBeCarriedIsDropped) {
    carry_fixture fx(two_pages({{9, "<< /Type /Font >>"}, {10, "<< /Type /Page >>"}}));
    const char *cases[] = {
        "[9 0 R /Fit]",                  // not a page
        "[10 0 R /Fit]",                 // a page outside the page tree
        "[2 0 R /Fit]",                  // the page-tree node
        "[77 0 R /Fit]",                 // a missing object
        "[3 0 R /XYZ 1 2]",              // too few numbers
        "[3 0 R /FitH]",
        "[3 0 R /FitR 1 2 3]",
        "[3 0 R /FitR 1 2 3 null]",      // a rectangle needs all four
        "[3 0 R /XYZ (a) 1 2]",          // not a number
        "[3 0 R /Zoom 2]",               // no such kind
        "[3 0 R]",
        "[]",
        "[7 /Fit]",                      // an index past the last page
        "[-1 /Fit]",
        "<< /D [3 0 R] >>",
    };
    for (const char *t : cases) EXPECT_EQ(fx.target(t), "DROPPED") << t;
}

TEST(CarriedDestinations, ActionsCarryTheirGoToStepsAlongTheNextChain) {
    carry_fixture fx(two_pages({}));
    EXPECT_EQ(fx.target("<< /S /GoTo /D [3 0 R /FitH 700] /Next << /S /GoTo /D [4 0 R /FitH 700] "
                        "/Next [<< /S /GoTo /D [9 0 R /Fit] >> << /S /URI /URI (u) >>] >> >>"),
              "<< /S /GoTo /D [3 0 R /FitH 350] /Next << /S /GoTo /D [4 0 R /FitV 350] "
              "/Next [<< /S /GoTo >> << /S /URI /URI (u) >>] >> >>");
    // Destinations in other files are left alone.
    EXPECT_EQ(fx.target("<< /S /GoToR /F (o.pdf) /D [0 /XYZ 100 700 0] >>"),
              "<< /S /GoToR /F (o.pdf) /D [0 /XYZ 100 700 0] >>");
    // References hand the target role on.
    fx.hints.clear();
    EXPECT_EQ(fx.target("<< /S /GoTo /D 12 0 R /Next [13 0 R] >>"), "<< /S /GoTo /D 12 0 R /Next [13 0 R] >>");
    ASSERT_EQ(fx.hints.size(), 2u);
    EXPECT_EQ(fx.hints[0].first, 12);
    EXPECT_EQ(fx.hints[1].first, 13);
    EXPECT_EQ(fx.hints[1].second.kinds, CARRY_TARGET);
    // Dictionaries of targets lose the entries that cannot be carried.
    EXPECT_EQ(fx.carried("<< /a [3 0 R /Fit] /b [99 0 R /Fit] /c << /D [4 0 R /FitV 0] >> >>",
                         [&](pv_tree &tr, int32_t v) {
                             carry_targets(fx.c, tr, v);
                             return true;
                         }),
              "<< /a [3 0 R /Fit] /c << /D [4 0 R /FitH 300] >> >>");
}

// ---- annotations ----

TEST(CarriedAnnotations, GeometryGoesThroughThePagePlacement) {
    carry_fixture fx(two_pages({}));
    auto annot = [&](const std::string &text, int32_t page) {
        return fx.carried(text, [&](pv_tree &tr, int32_t v) {
            carry_annot(fx.c, tr, v, page);
            return true;
        });
    };
    const struct {
        const char *in;
        int32_t page;
        const char *out;
    } cases[] = {
        // Page 3: halved. Border widths scale; the structure tree is not carried.
        {"<< /Subtype /Link /Rect [200 150 100 100] /Border [0 0 2] /StructParent 3 >>", 0,
         "<< /Subtype /Link /Rect [50 50 100 75] /Border [0 0 1] >>"},
        {"<< /Subtype /Square /Rect [0 0 10 10] /BS << /W 4 /D [6 2] >> /RD [1 2 3 4] >>", 0,
         "<< /Subtype /Square /Rect [0 0 5 5] /BS << /W 2 /D [3 1] >> /RD [0.5000 1 1.5000 2] >>"},
        // Page 4 turns a quarter: (x, y) -> (y / 2, (600 - x) / 2).
        {"<< /Subtype /Ink /Rect [0 0 100 20] /InkList [[0 0 100 0] [10 20]] >>", 1,
         "<< /Subtype /Ink /Rect [0 250 10 300] /InkList [[0 300 0 250] [10 295]] >>"},
        {"<< /Subtype /Highlight /Rect [0 0 10 10] /QuadPoints [0 10 10 10 0 0 10 0] >>", 1,
         "<< /Subtype /Highlight /Rect [0 295 5 300] /QuadPoints [5 300 5 295 0 300 0 295] >>"},
        {"<< /Subtype /Line /Rect [0 0 10 10] /L [0 0 10 10] /CL [1 1 2 2 3 3] >>", 1,
         "<< /Subtype /Line /Rect [0 295 5 300] /L [0 300 5 295] /CL [0.5000 299.5000 1 299 1.5000 298.5000] >>"},
        {"<< /Subtype /Polygon /Rect [0 0 10 10] /Vertices [0 0 10 0 10 10] >>", 1,
         "<< /Subtype /Polygon /Rect [0 295 5 300] /Vertices [0 300 0 295 5 295] >>"},
        // Insets turn with their sides: left, top, right, bottom.
        {"<< /Subtype /Circle /Rect [0 0 10 10] /RD [1 2 3 4] >>", 1,
         "<< /Subtype /Circle /Rect [0 295 5 300] /RD [2 0.5000 1 1.5000] >>"},
        // A widget's rotation turns with the page (counterclockwise against clockwise).
        {"<< /Subtype /Widget /Rect [0 0 10 10] /MK << /R 90 >> >>", 1,
         "<< /Subtype /Widget /Rect [0 295 5 300] /MK << /R 0 >> >>"},
        {"<< /Subtype /Widget /Rect [0 0 10 10] /MK << /BG [1] >> >>", 1,
         "<< /Subtype /Widget /Rect [0 295 5 300] /MK << /BG [1] /R 270 >> >>"},
        {"<< /Subtype /Widget /Rect [0 0 10 10] >>", 1, "<< /Subtype /Widget /Rect [0 295 5 300] /MK << /R 270 >> >>"},
        {"<< /Subtype /Widget /Rect [0 0 10 10] >>", 0, "<< /Subtype /Widget /Rect [0 0 5 5] >>"},
        {"<< /Subtype /Widget /F 16 /Rect [0 0 10 10] /MK << /R 90 >> >>", 1,
         "<< /Subtype /Widget /F 16 /Rect [5 295 10 300] /MK << /R 90 >> >>"},
        // NoRotate: upright, from the upper-left corner the page puts it at.
        {"<< /Subtype /Text /F 16 /Rect [100 700 120 720] >>", 1, "<< /Subtype /Text /F 16 /Rect [360 240 370 250] >>"},
        // NoZoom too: its own size.
        {"<< /Subtype /Text /F 24 /Rect [100 700 120 720] >>", 1, "<< /Subtype /Text /F 24 /Rect [360 230 380 250] >>"},
        // NoZoom alone: turned with the page, its own size from the upper-left corner.
        {"<< /Subtype /Text /F 8 /Rect [100 700 140 720] >>", 1, "<< /Subtype /Text /F 8 /Rect [350 210 370 250] >>"},
        // NoRotate on a page that is not turned changes nothing but the scale.
        {"<< /Subtype /Text /F 16 /Rect [100 700 120 720] >>", 0, "<< /Subtype /Text /F 16 /Rect [50 350 60 360] >>"},
        // Geometry that does not fit its key is dropped; a /Rect that is not
        // four numbers is left as written.
        {"<< /Subtype /Highlight /Rect [0 0 10] /QuadPoints [1 2 3] /InkList [[1 2] 3] /Vertices [(a) 1] >>", 0,
         "<< /Subtype /Highlight /Rect [0 0 10] >>"},
        // Destinations and actions go through their own pages.
        {"<< /Subtype /Link /Rect [0 0 2 2] /Dest [4 0 R /FitH 700] /A << /S /GoTo /D [77 0 R /Fit] >> >>", 0,
         "<< /Subtype /Link /Rect [0 0 1 1] /Dest [4 0 R /FitV 350] >>"},
    };
    for (const auto &t : cases) EXPECT_EQ(annot(t.in, t.page), t.out) << t.in;
}

TEST(CarriedAnnotations, AppearancesAndPopupsTakeTheirRoles) {
    carry_fixture fx(two_pages({}));
    fx.carried("<< /Subtype /Text /F 16 /Rect [0 0 1 1] /AP << /N 30 0 R /D << /On 31 0 R /Off 32 0 R >> /X 33 0 R >> "
               "/Popup 34 0 R /AA 35 0 R >>",
               [&](pv_tree &tr, int32_t v) {
                   carry_annot(fx.c, tr, v, 1);
                   return true;
               });
    ASSERT_EQ(fx.hints.size(), 5u);
    const struct {
        int32_t num;
        uint16_t kinds;
        uint8_t level;
    } want[] = {{30, CARRY_APPEARANCE, 1}, {31, CARRY_APPEARANCE, 2}, {32, CARRY_APPEARANCE, 2},
                {35, CARRY_TARGETS, 0}, {34, CARRY_ANNOT, 0}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(fx.hints[i].first, want[i].num);
        EXPECT_EQ(fx.hints[i].second.kinds, want[i].kinds) << i;
        if (want[i].kinds == CARRY_APPEARANCE) {
            EXPECT_EQ(fx.hints[i].second.ap_level, want[i].level);
            EXPECT_TRUE(fx.hints[i].second.no_rotate);
        }
        if (want[i].kinds != CARRY_TARGETS) EXPECT_EQ(fx.hints[i].second.page, 1);
    }
}

// The appearance is drawn into /Rect after its /Matrix: on a turned page its
// bottom-left corner must land where the viewer showed it.
TEST(CarriedAnnotations, AppearancesTurnWithThePageUnlessNoRotate) {
    const struct {
        int rotate;
        bool left, top;  // where the appearance's bottom-left corner lands
    } turns[] = {{90, true, true}, {180, false, true}, {270, false, false}};
    for (const auto &t : turns) {
        carry_fixture fx(two_pages({}, "", "/Rotate " + std::to_string(t.rotate)));
        for (const char *matrix : {"", "/Matrix [1 0 0 1 5 5]", "/Matrix [2 0 0 1 0 0]"}) {
            carry_role r;
            r.kinds = CARRY_APPEARANCE;
            r.page = 0;
            const std::string out = fx.carried(std::string("<< /Subtype /Form /BBox [0 0 20 10] ") + matrix + " >>",
                                               [&](pv_tree &tr, int32_t v) {
                                                   carry_appearance(fx.c, tr, v, r, true);
                                                   return true;
                                               });
            pv_tree tr;
            size_t pos = 0;
            const int32_t v = pv_parse(&tr, reinterpret_cast<const uint8_t *>(out.data()), out.size(), &pos);
            double m[6];
            int32_t n = 0;
            ASSERT_TRUE(pv_numbers(tr, pv_get(tr, v, "Matrix"), m, 6, &n)) << out;
            auto at = [&](double x, double y, double *ox, double *oy) {
                *ox = m[0] * x + m[2] * y + m[4];
                *oy = m[1] * x + m[3] * y + m[5];
            };
            double xs[4], ys[4];
            at(0, 0, &xs[0], &ys[0]);
            at(20, 0, &xs[1], &ys[1]);
            at(20, 10, &xs[2], &ys[2]);
            at(0, 10, &xs[3], &ys[3]);
            const double minx = std::min({xs[0], xs[1], xs[2], xs[3]}), maxy = std::max({ys[0], ys[1], ys[2], ys[3]});
            const double maxx = std::max({xs[0], xs[1], xs[2], xs[3]}), miny = std::min({ys[0], ys[1], ys[2], ys[3]});
            EXPECT_DOUBLE_EQ(xs[0], t.left ? minx : maxx) << t.rotate << " " << out;
            EXPECT_DOUBLE_EQ(ys[0], t.top ? maxy : miny) << t.rotate << " " << out;
        }
        // NoRotate, or a page that is not turned: the appearance is left alone.
        carry_role r;
        r.kinds = CARRY_APPEARANCE;
        r.page = 0;
        r.no_rotate = true;
        const auto keep = [&](pv_tree &tr, int32_t v) {
            carry_appearance(fx.c, tr, v, r, true);
            return true;
        };
        EXPECT_EQ(fx.carried("<< /BBox [0 0 1 1] >>", keep), "<< /BBox [0 0 1 1] >>");
    }
    carry_fixture flat(two_pages({}));
    carry_role r;
    r.kinds = CARRY_APPEARANCE;
    r.page = 0;
    EXPECT_EQ(flat.carried("<< /BBox [0 0 1 1] >>",
                           [&](pv_tree &tr, int32_t v) {
                               carry_appearance(flat.c, tr, v, r, true);
                               return true;
                           }),
              "<< /BBox [0 0 1 1] >>");
}

// ---- walks ----

TEST(CarriedWalks, OutlineLoopsAndMissingItemsEndTheirChains) {
    carry_fixture fx(two_pages({
        {10, "<< /Type /Outlines /First 11 0 R /Last 13 0 R /Count 3 >>"},
        {11, "<< /Title (A) /Parent 10 0 R /Next 12 0 R /First 14 0 R /Last 14 0 R /Dest [3 0 R /XYZ 0 800 0] >>"},
        {12, "<< /Title (B) /Parent 10 0 R /Prev 11 0 R /Next 11 0 R /SE 50 0 R /A << /S /GoTo /D [4 0 R /Fit] >> >>"},
        {13, "<< /Title (never reached) >>"},
        {14, "<< /Title (A1) /Parent 11 0 R /Next 15 0 R /First 10 0 R >>"},
    }));
    walk_outline(fx.c, 10);
    auto links = [&](int32_t n) {
        const outline_links l = fx.plan.outline[n];
        return std::vector<int32_t>{l.parent, l.first, l.last, l.next, l.prev};
    };
    using v = std::vector<int32_t>;
    EXPECT_EQ(links(10), (v{0, 11, 12, 0, 0}));
    EXPECT_EQ(links(11), (v{10, 14, 14, 12, 0}));
    EXPECT_EQ(links(12), (v{10, 0, 0, 0, 11}));
    EXPECT_EQ(links(14), (v{11, 0, 0, 0, 0}));
    EXPECT_EQ(fx.plan.roles.count(13), 0u);
    EXPECT_EQ(fx.plan.roles.count(15), 0u);
    EXPECT_EQ(fx.carried("<< /Title (B) /Parent 10 0 R /Prev 11 0 R /Next 11 0 R /SE 50 0 R "
                         "/A << /S /GoTo /D [4 0 R /Fit] >> >>",
                         [&](pv_tree &tr, int32_t r) {
                             carry_outline_item(fx.c, tr, r, 12);
                             return true;
                         }),
              "<< /Title (B) /Parent 10 0 R /Prev 11 0 R /A << /S /GoTo /D [4 0 R /Fit] >> >>");
    EXPECT_EQ(fx.carried("<< /Title (A1) /Parent 11 0 R /Next 15 0 R /First 10 0 R >>",
                         [&](pv_tree &tr, int32_t r) {
                             carry_outline_item(fx.c, tr, r, 14);
                             return true;
                         }),
              "<< /Title (A1) /Parent 11 0 R >>");
}

TEST(CarriedWalks, LongAndDeepOutlinesAreWalkedWithoutRecursion) {
    // 5,000 items in one chain, then 600 levels of single children.
    std::vector<std::pair<int, std::string>> objs;
    objs.push_back({10, "<< /First 100 0 R >>"});
    for (int i = 0; i < 5000; ++i)
        objs.push_back({100 + i, "<< /Title (x) /Parent 10 0 R" +
                                     (i + 1 < 5000 ? " /Next " + std::to_string(101 + i) + " 0 R" : std::string()) +
                                     (i == 0 ? std::string(" /First 20000 0 R") : std::string()) + " >>"});
    for (int i = 0; i < 600; ++i) objs.push_back({20000 + i, "<< /First " + std::to_string(20001 + i) + " 0 R >>"});
    carry_fixture fx(two_pages(objs));
    walk_outline(fx.c, 10);
    EXPECT_EQ(fx.plan.outline[10].last, 5099);
    EXPECT_EQ(fx.plan.outline[5099].prev, 5098);
    // Every level is kept, down to the last item (which refers to a missing one).
    EXPECT_EQ(fx.plan.roles.count(20000 + 599), 1u);
    EXPECT_EQ(fx.plan.outline[20000 + 598].first, 20000 + 599);
    EXPECT_EQ(fx.plan.outline.size(), 1u + 5000u + 600u);
}

TEST(CarriedWalks, NameTreesDropLoopsMissingNodesAndBadDestinations) {
    carry_fixture fx(two_pages({
        {20, "<< /Kids [21 0 R 22 0 R 21 0 R 99 0 R 23 0 R] >>"},
        {21, "<< /Kids [20 0 R] /Limits [(a) (b)] >>"},
        {22, "<< /Names [(a) [3 0 R /FitH 700] (b) [99 0 R /Fit] (c) 24 0 R (d)] >>"},
        {23, "[1 2 3]"},
    }));
    pv_tree root;
    const int32_t v = parse_object_dict(&fx.ld.d, 20, &root);
    ASSERT_GE(v, 0);
    walk_tree(fx.c, root, v, 20, false, true);
    EXPECT_EQ(fx.plan.kids[20], (std::vector<int32_t>{21, 22}));
    EXPECT_TRUE(fx.plan.kids[21].empty());
    const carry_role r = fx.plan.roles[22];
    EXPECT_TRUE(r.kinds & CARRY_TREE);
    EXPECT_TRUE(r.dest_values);
    const auto node = [&](int32_t num) {
        return [&, num](pv_tree &tr, int32_t x) {
            carry_tree_node(fx.c, tr, x, num, r);
            return true;
        };
    };
    EXPECT_EQ(fx.carried("<< /Kids [21 0 R 22 0 R 21 0 R 99 0 R 23 0 R] >>", node(20)), "<< /Kids [21 0 R 22 0 R] >>");
    EXPECT_EQ(fx.carried("<< /Kids [20 0 R] /Limits [(a) (b)] >>", node(21)), "<< /Limits [(a) (b)] >>");
    fx.hints.clear();
    EXPECT_EQ(fx.carried("<< /Names [(a) [3 0 R /FitH 700] (b) [99 0 R /Fit] (c) 24 0 R (d)] >>", node(22)),
              "<< /Names [(a) [3 0 R /FitH 350] (c) 24 0 R] >>");
    ASSERT_EQ(fx.hints.size(), 1u);
    EXPECT_EQ(fx.hints[0].first, 24);
}

TEST(CarriedWalks, FieldsOnceEachSignaturesLoseTheirValuesAndXfaGoes) {
    carry_fixture fx(two_pages({
        {40, "<< /Fields [41 0 R 42 0 R 41 0 R 43 0 R 98 0 R] /XFA 50 0 R /DA (/Helv 0 Tf) >>"},
        {41, "<< /FT /Sig /T (sig) /Kids [44 0 R 41 0 R] /V 51 0 R >>"},
        {42, "<< /FT /Tx /T (name) /V (Ann) /Subtype /Widget /Rect [10 10 100 30] /P 4 0 R >>"},
        {43, "[1 2]"},
        {44, "<< /Parent 41 0 R /Subtype /Widget /Rect [0 0 10 10] /V 52 0 R /P 3 0 R >>"},
    }));
    pv_tree form;
    const int32_t v = parse_object_dict(&fx.ld.d, 40, &form);
    walk_fields(fx.c, form, v);
    EXPECT_EQ(fx.plan.top_fields, (std::vector<int32_t>{41, 42}));
    EXPECT_EQ(fx.plan.kids[41], (std::vector<int32_t>{44}));
    EXPECT_EQ(fx.plan.field_parent[44], 41);
    EXPECT_EQ(fx.plan.field_parent[41], 0);
    EXPECT_EQ(fx.plan.signature_fields.count(44), 1u);  // the type is inherited
    EXPECT_EQ(fx.plan.signature_fields.count(42), 0u);
    // A widget no page lists belongs to the page its /P names.
    EXPECT_TRUE(fx.plan.roles[42].kinds & CARRY_ANNOT);
    EXPECT_EQ(fx.plan.roles[42].page, 1);
    const auto field = [&](int32_t num) {
        return [&, num](pv_tree &tr, int32_t x) {
            carry_field(fx.c, tr, x, num);
            return true;
        };
    };
    EXPECT_EQ(fx.carried("<< /FT /Sig /T (sig) /Kids [44 0 R 41 0 R] /V 51 0 R >>", field(41)),
              "<< /FT /Sig /T (sig) /Kids [44 0 R] >>");
    EXPECT_EQ(fx.carried("<< /Parent 41 0 R /Subtype /Widget /V 52 0 R >>", field(44)),
              "<< /Parent 41 0 R /Subtype /Widget >>");
    EXPECT_EQ(fx.carried("<< /FT /Tx /T (name) /V (Ann) >>", field(42)), "<< /FT /Tx /T (name) /V (Ann) >>");
    EXPECT_EQ(fx.carried("<< /Fields [41 0 R 42 0 R 41 0 R 43 0 R 98 0 R] /XFA 50 0 R /DA (/Helv 0 Tf) >>",
                         [&](pv_tree &tr, int32_t x) {
                             carry_acroform(fx.c, tr, x);
                             return true;
                         }),
              "<< /Fields [41 0 R 42 0 R] /DA (/Helv 0 Tf) >>");
}
