// The geometry that carries annotations and destinations: the page's
// placement applied to rectangles, points, lengths and insets, checked
// against where a viewer shows the corners of the input page.
#include <gtest/gtest.h>

#include <cmath>

#include "output/carried.h"

using namespace plenvo;

namespace {

pageinfo page(double llx, double lly, double urx, double ury, int rotate) {
    pageinfo p{};
    p.objnum = 3;
    p.parent = -1;
    p.rotate = rotate;
    p.llx = llx, p.lly = lly, p.urx = urx, p.ury = ury;
    p.res_node = -1;
    p.dict_read = 1;
    p.own_rotate = -1;
    return p;
}

page_geometry geometry_of(const pageinfo &p, int mode, double W, double H, double f) {
    doc d{};
    placement pl{};
    EXPECT_EQ(compute_placement(&d, &p, mode, W, H, f, &pl), 0);
    return placement_geometry(pl);
}

// Named corners of a page box as a viewer shows it.
enum corner { TOP_LEFT, TOP_RIGHT, BOTTOM_RIGHT, BOTTOM_LEFT };

}  // namespace

// A page turned clockwise by r shows its user-space corner c at the displayed
// corner the table names; the new page shows it at that corner of the image.
TEST(PageGeometry, CornersLandWhereTheViewerShowedThem) {
    struct turn {
        int r;
        corner of_bottom_left, of_bottom_right, of_top_right, of_top_left;
    };
    const turn turns[] = {
        {0, BOTTOM_LEFT, BOTTOM_RIGHT, TOP_RIGHT, TOP_LEFT},
        {90, TOP_LEFT, BOTTOM_LEFT, BOTTOM_RIGHT, TOP_RIGHT},
        {180, TOP_RIGHT, TOP_LEFT, BOTTOM_LEFT, BOTTOM_RIGHT},
        {270, BOTTOM_RIGHT, TOP_RIGHT, TOP_LEFT, BOTTOM_LEFT},
    };
    struct target {
        int mode;
        double W, H, f;
    };
    const target targets[] = {{MODE_PERCENT, 0, 0, 1.0}, {MODE_PERCENT, 0, 0, 0.5}, {MODE_FIT, 612, 792, 1.0},
                              {MODE_FIT, 1000, 300, 1.0}};
    const double boxes[][4] = {{0, 0, 595, 842}, {36, 36, 576, 756}, {-100, 50, 200, 250}};
    for (const turn &t : turns) {
        for (const target &tg : targets) {
            for (const auto &b : boxes) {
                const pageinfo p = page(b[0], b[1], b[2], b[3], t.r);
                doc d{};
                placement pl{};
                ASSERT_EQ(compute_placement(&d, &p, tg.mode, tg.W, tg.H, tg.f, &pl), 0);
                const page_geometry g = placement_geometry(pl);
                // The image of the page on its new page: centred, displayed size times s.
                const double iw = pl.cw * pl.s, ih = pl.ch * pl.s;
                const double left = (pl.pw - iw) / 2, bottom = (pl.ph - ih) / 2;
                auto expect_at = [&](double x, double y, corner c) {
                    double pt[2] = {x, y};
                    ASSERT_TRUE(carry_geometry(g, GEOM_POINTS, pt, 2));
                    const double ex = (c == TOP_LEFT || c == BOTTOM_LEFT) ? left : left + iw;
                    const double ey = (c == BOTTOM_LEFT || c == BOTTOM_RIGHT) ? bottom : bottom + ih;
                    EXPECT_NEAR(pt[0], ex, 1e-9) << "r " << t.r << " box " << b[0] << " corner " << c;
                    EXPECT_NEAR(pt[1], ey, 1e-9) << "r " << t.r << " box " << b[0] << " corner " << c;
                };
                expect_at(b[0], b[1], t.of_bottom_left);
                expect_at(b[2], b[1], t.of_bottom_right);
                expect_at(b[2], b[3], t.of_top_right);
                expect_at(b[0], b[3], t.of_top_left);
            }
        }
    }
}

TEST(PageGeometry, RectanglesBecomeTheBoundingBoxOfTheirCorners) {
    for (int r : {0, 90, 180, 270}) {
        const page_geometry g = geometry_of(page(0, 0, 600, 800, r), MODE_PERCENT, 0, 0, 0.5);
        // Corners written in either order give the same, normalised box.
        double a[4] = {100, 200, 300, 250};
        double b[4] = {300, 250, 100, 200};
        ASSERT_TRUE(carry_geometry(g, GEOM_RECT, a, 4));
        ASSERT_TRUE(carry_geometry(g, GEOM_RECT, b, 4));
        for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(a[i], b[i]);
        EXPECT_LT(a[0], a[2]);
        EXPECT_LT(a[1], a[3]);
        // Its sides: 200 by 50, halved, turned on a quarter turn.
        const bool turned = r == 90 || r == 270;
        EXPECT_NEAR(a[2] - a[0], turned ? 25 : 100, 1e-9);
        EXPECT_NEAR(a[3] - a[1], turned ? 100 : 25, 1e-9);
    }
}

TEST(PageGeometry, InsetsFollowTheSidesTheyBelongTo) {
    // An inner rectangle given by insets from /Rect: carrying both
    // rectangles must give the insets carried as sides.
    for (int r : {0, 90, 180, 270}) {
        const page_geometry g = geometry_of(page(0, 0, 600, 800, r), MODE_FIT, 500, 500, 1.0);
        const double rect[4] = {100, 100, 300, 200};
        const double rd[4] = {1, 2, 3, 4};  // left top right bottom
        double outer[4] = {rect[0], rect[1], rect[2], rect[3]};
        double inner[4] = {rect[0] + rd[0], rect[1] + rd[3], rect[2] - rd[2], rect[3] - rd[1]};
        ASSERT_TRUE(carry_geometry(g, GEOM_RECT, outer, 4));
        ASSERT_TRUE(carry_geometry(g, GEOM_RECT, inner, 4));
        double sides[4] = {rd[0], rd[1], rd[2], rd[3]};
        ASSERT_TRUE(carry_geometry(g, GEOM_SIDES, sides, 4));
        EXPECT_NEAR(sides[0], inner[0] - outer[0], 1e-9) << r;
        EXPECT_NEAR(sides[1], outer[3] - inner[3], 1e-9) << r;
        EXPECT_NEAR(sides[2], outer[2] - inner[2], 1e-9) << r;
        EXPECT_NEAR(sides[3], inner[1] - outer[1], 1e-9) << r;
    }
}

TEST(PageGeometry, LengthsScaleAndPointListsKeepTheirOrder) {
    const page_geometry g = geometry_of(page(0, 0, 100, 100, 90), MODE_PERCENT, 0, 0, 2.0);
    double len[3] = {1, 0.5, 3};
    ASSERT_TRUE(carry_geometry(g, GEOM_LENGTH, len, 3));
    EXPECT_DOUBLE_EQ(len[0], 2);
    EXPECT_DOUBLE_EQ(len[1], 1);
    EXPECT_DOUBLE_EQ(len[2], 6);
    double pts[6] = {0, 0, 10, 0, 10, 20};
    ASSERT_TRUE(carry_geometry(g, GEOM_POINTS, pts, 6));
    // (x, y) -> (2y, 2(100 - x)) on a quarter turn of a 100-point box.
    const double want[6] = {0, 200, 0, 180, 40, 180};
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(pts[i], want[i]) << i;
}

TEST(PageGeometry, CountsThatDoNotFitTheKindLeaveTheNumbersAlone) {
    const page_geometry g = geometry_of(page(0, 0, 100, 100, 0), MODE_PERCENT, 0, 0, 3.0);
    const struct {
        geom_kind kind;
        int32_t n;
    } cases[] = {{GEOM_RECT, 3}, {GEOM_RECT, 5}, {GEOM_POINTS, 3}, {GEOM_SIDES, 2}, {GEOM_POINTS, 1}};
    for (const auto &c : cases) {
        double v[5] = {1, 2, 3, 4, 5};
        EXPECT_FALSE(carry_geometry(g, c.kind, v, c.n));
        for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], i + 1);
    }
    double none[1] = {7};
    EXPECT_TRUE(carry_geometry(g, GEOM_POINTS, none, 0));  // an empty list is a list
    EXPECT_EQ(none[0], 7);
}
