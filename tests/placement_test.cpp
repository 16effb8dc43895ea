// Page placement: scale, new page size, translation, form /BBox and /Matrix,
// the form header and the placement line, in fit and percent mode.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "output/placement.h"
#include "output/scale.h"

using namespace plenvo;

namespace {

// A document held in memory by hand: page objects with the given dictionary
// texts, numbered from 3. No index, so lookups search the table.
struct hand_doc {
    std::string text;
    std::vector<objent> ents;
    doc d{};

    explicit hand_doc(const std::vector<std::string> &dicts) {
        std::vector<std::pair<int32_t, int32_t>> pos;
        for (size_t i = 0; i < dicts.size(); ++i) {
            int32_t hdr = static_cast<int32_t>(text.size());
            text += std::to_string(3 + i) + " 0 obj\n";
            int32_t dict = static_cast<int32_t>(text.size());
            text += dicts[i] + "\n";
            int32_t endobj = static_cast<int32_t>(text.size());
            text += "endobj\n";
            objent e{};
            e.num = static_cast<int32_t>(3 + i);
            e.hdr_pos = hdr;
            e.dict_pos = dict;
            e.stream_pos = e.data_pos = e.data_end = e.data_len = -1;
            e.endobj_pos = endobj;
            e.end_pos = endobj + 6;
            ents.push_back(e);
        }
        d.data = reinterpret_cast<uint8_t *>(text.data());
        d.len = static_cast<int32_t>(text.size());
        d.root = d.catalog = -1;
        d.objs.items = ents.data();
        d.objs.count = d.objs.cap = static_cast<int32_t>(ents.size());
        d.max_num = static_cast<int32_t>(2 + ents.size());
        d.index = nullptr;
    }
};

pageinfo page_box(double x0, double y0, double x1, double y1, int32_t inherited = 0, int32_t objnum = 99) {
    pageinfo p{};
    p.objnum = objnum;
    p.parent = 2;
    p.rotate = inherited;
    p.llx = x0;
    p.lly = y0;
    p.urx = x1;
    p.ury = y1;
    p.res_node = -1;
    return p;
}

std::string num(double x) {
    char t[NUMTEXT_SIZE];
    number_text(x, t);
    return t;
}

std::string line_of(const placement &pl) {
    char line[PLACE_LINE_SIZE];
    return std::string(line, place_line(pl.s, pl.tx, pl.ty, line));
}

// The form dictionary as the writer puts it together: form_head's text, the
// /Length, the resources text when there is one, and the stream keyword.
std::string form_header(const pageinfo *p, const placement &pl, long length, const char *resources) {
    char head[FORM_HEAD_SIZE];
    std::string h(head, form_head(p, pl, head));
    h += FORM_LENGTH_KEY + std::to_string(length);
    if (resources) h += FORM_RESOURCES_KEY + std::string(resources);
    return h + FORM_DICT_END;
}

std::string media_of(const placement &pl) { return "[0 0 " + num(pl.pw) + " " + num(pl.ph) + "]"; }

// A document with no objects: every page uses its inherited rotation.
const hand_doc &empty_doc() {
    static hand_doc h({});
    return h;
}

placement place(const pageinfo &p, int mode, double W, double H, double f, const doc *d = nullptr) {
    placement pl{};
    EXPECT_EQ(compute_placement(d ? d : &empty_doc().d, &p, mode, W, H, f, &pl), 0);
    return pl;
}

}  // namespace

// ---- fit mode ----

TEST(PlacementFit, PortraitA4IntoLetterIsCentredHorizontally) {
    pageinfo p = page_box(0, 0, 595, 842);
    placement pl = place(p, MODE_FIT, 612, 792, 1.0);
    EXPECT_EQ(media_of(pl), "[0 0 612 792]");
    EXPECT_EQ(line_of(pl), "q 0.9406 0 0 0.9406 26.1663 0 cm /F0 Do Q\n");
    std::string h = form_header(&p, pl, 0, nullptr);
    EXPECT_EQ(h, "<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] /Length 0 >> stream\n");
}

TEST(PlacementFit, LetterIntoA4KeepsDecimalsOfTheTarget) {
    pageinfo p = page_box(0, 0, 612, 792);
    placement pl = place(p, MODE_FIT, 595.28, 841.89, 1.0);
    EXPECT_EQ(media_of(pl), "[0 0 595.2800 841.8900]");
    EXPECT_EQ(line_of(pl), "q 0.9727 0 0 0.9727 0 35.7638 cm /F0 Do Q\n");
}

TEST(PlacementFit, LandscapeBoxIsLetterboxedOnPortraitTarget) {
    pageinfo p = page_box(0, 0, 842, 595);
    placement pl = place(p, MODE_FIT, 595.28, 841.89, 1.0);
    EXPECT_EQ(media_of(pl), "[0 0 595.2800 841.8900]");
    EXPECT_EQ(line_of(pl), "q 0.7070 0 0 0.7070 0 210.6174 cm /F0 Do Q\n");
}

TEST(PlacementFit, RotatedPortraitPlacesLikeALandscapeBox) {
    pageinfo p = page_box(0, 0, 595, 842, 90);
    placement pl = place(p, MODE_FIT, 595.28, 841.89, 1.0);
    EXPECT_EQ(pl.r, 90);
    EXPECT_EQ(line_of(pl), "q 0.7070 0 0 0.7070 0 210.6174 cm /F0 Do Q\n");
    EXPECT_EQ(form_header(&p, pl, 12, nullptr),
              "<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] /Matrix [0 -1 1 0 0 595] "
              "/Length 12 >> stream\n");
}

TEST(PlacementFit, UpsideDownPageThatAlreadyFits) {
    pageinfo p = page_box(0, 0, 612, 792, 180);
    placement pl = place(p, MODE_FIT, 612, 792, 1.0);
    EXPECT_EQ(line_of(pl), "q 1 0 0 1 0 0 cm /F0 Do Q\n");
    EXPECT_EQ(form_header(&p, pl, 5, nullptr),
              "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Matrix [-1 0 0 -1 612 792] "
              "/Length 5 >> stream\n");
}

TEST(PlacementFit, BoxAwayFromTheOrigin) {
    pageinfo p = page_box(36, 36, 576, 756);
    placement pl = place(p, MODE_FIT, 612, 792, 1.0);
    EXPECT_DOUBLE_EQ(pl.s, 1.1);
    EXPECT_EQ(line_of(pl), "q 1.1000 0 0 1.1000 -30.6000 -39.6000 cm /F0 Do Q\n");
    EXPECT_EQ(form_header(&p, pl, 0, nullptr),
              "<< /Type /XObject /Subtype /Form /BBox [36 36 576 756] /Length 0 >> stream\n");
}

// ---- percent mode ----

TEST(PlacementPercent, HalfOfLetter) {
    pageinfo p = page_box(0, 0, 612, 792);
    placement pl = place(p, MODE_PERCENT, 0, 0, 0.5);
    EXPECT_EQ(media_of(pl), "[0 0 306 396]");
    EXPECT_EQ(line_of(pl), "q 0.5000 0 0 0.5000 0 0 cm /F0 Do Q\n");
}

TEST(PlacementPercent, RotatedPageGetsALandscapeMediaBox) {
    pageinfo p = page_box(0, 0, 595, 842, 90);
    placement pl = place(p, MODE_PERCENT, 0, 0, 1.0);
    EXPECT_EQ(media_of(pl), "[0 0 842 595]");
    EXPECT_EQ(line_of(pl), "q 1 0 0 1 0 0 cm /F0 Do Q\n");
    EXPECT_NE(form_header(&p, pl, 0, nullptr).find("/Matrix [0 -1 1 0 0 595]"), std::string::npos);
}

TEST(PlacementPercent, QuarterTurnBackwards) {
    pageinfo p = page_box(0, 0, 612, 792, 270);
    placement pl = place(p, MODE_PERCENT, 0, 0, 0.75);
    EXPECT_EQ(media_of(pl), "[0 0 594 459]");
    EXPECT_EQ(form_header(&p, pl, 3, nullptr),
              "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Matrix [0 1 -1 0 792 0] "
              "/Length 3 >> stream\n");
}

TEST(PlacementPercent, BoxAwayFromTheOrigin) {
    pageinfo p = page_box(36, 36, 576, 756);
    placement pl = place(p, MODE_PERCENT, 0, 0, 0.5);
    EXPECT_EQ(media_of(pl), "[0 0 270 360]");
    EXPECT_EQ(line_of(pl), "q 0.5000 0 0 0.5000 -18 -18 cm /F0 Do Q\n");
    EXPECT_NE(form_header(&p, pl, 0, nullptr).find("/BBox [36 36 576 756]"), std::string::npos);
}

// ---- where the image lands, for every rotation and an offset box ----

namespace {

// The bounding box of the page box's image on the new page: the corners
// through the form matrix (as a viewer applies it) and then [s 0 0 s tx ty].
void image_extent(const pageinfo &p, const placement &pl, double ext[4]) {
    double m[6] = {1, 0, 0, 1, 0, 0};
    if (pl.r == 90) m[0] = 0, m[1] = -1, m[2] = 1, m[3] = 0, m[4] = 0, m[5] = pl.bw;
    if (pl.r == 180) m[0] = -1, m[1] = 0, m[2] = 0, m[3] = -1, m[4] = pl.bw, m[5] = pl.bh;
    if (pl.r == 270) m[0] = 0, m[1] = 1, m[2] = -1, m[3] = 0, m[4] = pl.bh, m[5] = 0;
    const double xs[2] = {p.llx, p.urx}, ys[2] = {p.lly, p.ury};
    ext[0] = ext[1] = 1e300;
    ext[2] = ext[3] = -1e300;
    for (double x : xs)
        for (double y : ys) {
            double u = m[0] * x + m[2] * y + m[4], v = m[1] * x + m[3] * y + m[5];
            u = pl.s * u + pl.tx;
            v = pl.s * v + pl.ty;
            ext[0] = std::min(ext[0], u);
            ext[1] = std::min(ext[1], v);
            ext[2] = std::max(ext[2], u);
            ext[3] = std::max(ext[3], v);
        }
}

}  // namespace

TEST(PlacementGeometry, EveryRotationOfAnOffsetBoxIsCentredInFitMode) {
    for (int r : {0, 90, 180, 270}) {
        SCOPED_TRACE(r);
        pageinfo p = page_box(36, 50, 576, 756, r);
        placement pl = place(p, MODE_FIT, 612, 792, 1.0);
        double e[4];
        image_extent(p, pl, e);
        EXPECT_NEAR(e[0], pl.pw - e[2], 1e-9);  // equal margins left and right
        EXPECT_NEAR(e[1], pl.ph - e[3], 1e-9);  // and top and bottom
        EXPECT_TRUE(std::fabs(e[0]) < 1e-9 || std::fabs(e[1]) < 1e-9);  // touches one pair of edges
        EXPECT_GE(e[0], -1e-9);
        EXPECT_GE(e[1], -1e-9);
        // The displayed width is the box height for quarter turns.
        double cw = (r == 90 || r == 270) ? 706 : 540;
        EXPECT_NEAR(e[2] - e[0], cw * pl.s, 1e-9);
    }
}

TEST(PlacementGeometry, EveryRotationOfAnOffsetBoxFillsThePageInPercentMode) {
    for (int r : {0, 90, 180, 270}) {
        SCOPED_TRACE(r);
        pageinfo p = page_box(-20, 36, 500, 700, r);
        placement pl = place(p, MODE_PERCENT, 0, 0, 0.8);
        double e[4];
        image_extent(p, pl, e);
        EXPECT_NEAR(e[0], 0, 1e-9);
        EXPECT_NEAR(e[1], 0, 1e-9);
        EXPECT_NEAR(e[2], pl.pw, 1e-9);
        EXPECT_NEAR(e[3], pl.ph, 1e-9);
    }
}

TEST(PlacementGeometry, QuarterTurnMapsTheTopLeftCornerToTheTopRight) {
    // A viewer shows a page with /Rotate 90 turned clockwise: the box's
    // upper-left corner ends at the upper-right of the display.
    pageinfo p = page_box(0, 0, 200, 100, 90);
    placement pl = place(p, MODE_PERCENT, 0, 0, 1.0);
    // (x, y) -> (y, bw - x), then identity scale and zero translation.
    double u = 1 * 100 + 0, v = -1 * 0 + 200;  // corner (0, 100)
    EXPECT_DOUBLE_EQ(u * pl.s + pl.tx, 100);
    EXPECT_DOUBLE_EQ(v * pl.s + pl.ty, 200);
    EXPECT_DOUBLE_EQ(pl.pw, 100);
    EXPECT_DOUBLE_EQ(pl.ph, 200);
}

// ---- effective rotation ----

TEST(PlacementRotation, OwnRotateWinsOverInheritedEvenWhenZero) {
    hand_doc h({"<< /Type /Page /Rotate 0 >>"});
    pageinfo p = page_box(0, 0, 595, 842, 90, 3);
    placement pl = place(p, MODE_PERCENT, 0, 0, 1.0, &h.d);
    EXPECT_EQ(pl.r, 0);
    EXPECT_EQ(form_header(&p, pl, 0, nullptr).find("/Matrix"), std::string::npos);
}

TEST(PlacementRotation, OwnRotateBeyondAFullTurnIsReduced) {
    hand_doc h({"<< /Type /Page /Rotate 450 >>"});
    pageinfo p = page_box(0, 0, 595, 842, 0, 3);
    placement pl = place(p, MODE_PERCENT, 0, 0, 1.0, &h.d);
    EXPECT_EQ(pl.r, 90);
    EXPECT_EQ(media_of(pl), "[0 0 842 595]");
}

TEST(PlacementRotation, AngleThatIsNoQuarterTurnIsNoRotation) {
    hand_doc h({"<< /Type /Page /Rotate 45 >>"});
    pageinfo p = page_box(0, 0, 595, 842, 0, 3);
    placement pl = place(p, MODE_PERCENT, 0, 0, 1.0, &h.d);
    EXPECT_EQ(pl.r, 0);
    EXPECT_EQ(media_of(pl), "[0 0 595 842]");
    pageinfo q = page_box(0, 0, 595, 842, 135);
    EXPECT_EQ(place(q, MODE_PERCENT, 0, 0, 1.0).r, 0);
}

TEST(PlacementRotation, PageWithoutOwnRotateTakesTheInheritedOne) {
    hand_doc h({"<< /Type /Page >>"});
    pageinfo p = page_box(0, 0, 595, 842, 270, 3);
    EXPECT_EQ(place(p, MODE_PERCENT, 0, 0, 1.0, &h.d).r, 270);
}

// ---- pages that cannot be placed ----

TEST(PlacementFailure, DegenerateBoxInFitMode) {
    pageinfo p = page_box(700, 0, 612, 792);
    placement pl{};
    EXPECT_EQ(compute_placement(&empty_doc().d, &p, MODE_FIT, 612, 792, 1.0, &pl), -1);
    pageinfo z = page_box(10, 10, 10, 10);  // an empty box: both ratios are infinite
    EXPECT_EQ(compute_placement(&empty_doc().d, &z, MODE_FIT, 612, 792, 1.0, &pl), -1);
}

TEST(PlacementFailure, NotANumberTarget) {
    pageinfo p = page_box(0, 0, 612, 792);
    placement pl{};
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(compute_placement(&empty_doc().d, &p, MODE_FIT, nan, nan, 1.0, &pl), -1);
}

TEST(PlacementFailure, ValuesThatOverflow) {
    placement pl{};
    const doc *d = &empty_doc().d;
    double inf = std::numeric_limits<double>::infinity();
    pageinfo p = page_box(0, 0, 612, 792);
    EXPECT_EQ(compute_placement(d, &p, MODE_FIT, inf, inf, 1.0, &pl), -1);
    EXPECT_EQ(compute_placement(d, &p, MODE_PERCENT, 0, 0, 1e307, &pl), -1);  // page size overflows
    EXPECT_EQ(compute_placement(d, &p, MODE_PERCENT, 0, 0, inf, &pl), -1);
    pageinfo wide = page_box(-1.5e308, 0, 1.5e308, 792);  // width overflows
    EXPECT_EQ(compute_placement(d, &wide, MODE_FIT, 612, 792, 1.0, &pl), -1);
    pageinfo far = page_box(1e308, 0, 1.0000001e308, 792);  // translation overflows
    EXPECT_EQ(compute_placement(d, &far, MODE_PERCENT, 0, 0, 10, &pl), -1);
    // Finite, but a box value of 1e308 cannot be written as a plain decimal.
    EXPECT_EQ(compute_placement(d, &far, MODE_PERCENT, 0, 0, 0.1, &pl), -1);
    pageinfo big = page_box(1e49, 0, 1.0000001e49, 792);  // every value below 1e50
    EXPECT_EQ(compute_placement(d, &big, MODE_PERCENT, 0, 0, 0.1, &pl), 0);
    EXPECT_EQ(compute_placement(d, &big, MODE_PERCENT, 0, 0, 100, &pl), -1);  // translation 1e51
}

TEST(PlacementFailure, LeavesTheOutputUntouched) {
    pageinfo p = page_box(700, 0, 612, 792);
    placement pl{};
    pl.s = 42;
    compute_placement(&empty_doc().d, &p, MODE_FIT, 612, 792, 1.0, &pl);
    EXPECT_EQ(pl.s, 42);
}

// ---- texts ----

TEST(PlacementText, HeaderCarriesTheResourcesTextWhole) {
    pageinfo p = page_box(0, 0, 612, 792);
    placement pl = place(p, MODE_FIT, 612, 792, 1.0);
    std::string res = "<< /Font <<";
    for (int i = 0; i < 400; ++i) res += " /F" + std::to_string(i) + " " + std::to_string(1000 + i) + " 0 R";
    res += " >> >>";
    std::string h = form_header(&p, pl, 123456789, res.c_str());
    EXPECT_EQ(h, "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 123456789 /Resources " + res +
                     " >> stream\n");
    EXPECT_GT(h.size(), 1024u);
}

TEST(PlacementText, PlacementLineAppendsToWhatIsThere) {
    char text[5 + PLACE_LINE_SIZE] = "head ";
    const size_t n = place_line(2, -0.0, 3000000000.0, text + 5);
    EXPECT_EQ(std::string(text, 5 + n), "head q 2 0 0 2 0 3000000000.0000 cm /F0 Do Q\n");
}

TEST(PlacementText, NumbersIgnoreACommaDecimalLocale) {
    const char *old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not available (ctest finds it through LOCPATH "
                        "in the build folder, made there when the package locales is installed)";
    pageinfo p = page_box(0, 0, 612, 792);
    placement pl{};
    int rc = compute_placement(&empty_doc().d, &p, MODE_FIT, 595.28, 841.89, 1.0, &pl);
    std::string line = line_of(pl);
    std::string media = media_of(pl);
    pageinfo q = page_box(0.5, 0, 612.25, 792, 180);
    placement ql = place(q, MODE_PERCENT, 0, 0, 1.0);
    std::string header = form_header(&q, ql, 7, nullptr);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(line, "q 0.9727 0 0 0.9727 0 35.7638 cm /F0 Do Q\n");
    EXPECT_EQ(media, "[0 0 595.2800 841.8900]");
    EXPECT_EQ(header,
              "<< /Type /XObject /Subtype /Form /BBox [0.5000 0 612.2500 792] "
              "/Matrix [-1 0 0 -1 611.7500 792] /Length 7 >> stream\n");
}
