// The whole document through the exports: annotations, links, outline,
// named destinations, fields, information and catalog entries in the
// rescaled file, their geometry checked against where a viewer shows the
// input page, in percent, fit and custom modes on turned pages; and damaged
// pieces dropped without costing the pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <regex>
#include <string>
#include <vector>

#include "output/pdf_value.h"
#include "plenvo.h"
#include "support/pdf_builder.h"
#include "support/render_compare.h"

using namespace plenvo;
using namespace plenvo_test;

namespace {

// An output file and its objects, parsed on demand.
struct output {
    std::string bytes;
    std::string path;
    std::deque<std::string> texts;  // parsed texts live as long as their trees
    std::deque<pv_tree> trees;

    // The value of object k (a stream's dictionary), or -1; *tr receives the tree.
    int32_t object(int k, pv_tree **tr) {
        std::string t = object_at(bytes, k);
        const size_t at = t.find(" obj");
        if (t.empty() || at == std::string::npos) return -1;
        texts.push_back(t.substr(at + 4));
        trees.emplace_back();
        *tr = &trees.back();
        size_t pos = 0;
        return pv_parse(*tr, reinterpret_cast<const uint8_t *>(texts.back().data()), texts.back().size(), &pos);
    }
    // The numbers of array node a.
    static std::vector<double> numbers(const pv_tree &tr, int32_t a) {
        double v[16];
        int32_t n = 0;
        if (!pv_numbers(tr, a, v, 16, &n)) return {};
        return std::vector<double>(v, v + n);
    }
    static int32_t ref(const pv_tree &tr, int32_t x) {
        return x >= 0 && tr.nodes[x].type == PV_REF ? tr.nodes[x].ref : -1;
    }
    static std::string text(const pv_tree &tr, int32_t x) {
        if (x < 0) return "";
        std::string s;
        pv_write(tr, x, &s);
        return s;
    }
};

// An input page: its box and rotation.
struct in_page {
    double box[4];
    int rotate;
};

// Where a viewer shows user-space point (x, y) of page p, in points from the
// bottom-left corner of the page as displayed.
void displayed(const in_page &p, double x, double y, double *dx, double *dy) {
    const double x0 = p.box[0], y0 = p.box[1], x1 = p.box[2], y1 = p.box[3];
    switch (p.rotate) {
    case 90: *dx = y - y0, *dy = x1 - x; break;
    case 180: *dx = x1 - x, *dy = y1 - y; break;
    case 270: *dx = y1 - y, *dy = x - x0; break;
    default: *dx = x - x0, *dy = y - y0; break;
    }
}

// How a call places the displayed page on a new page of size pw x ph:
// uniformly scaled and centred.
struct target {
    const char *name;
    int kind;  // 0 percent, 1 paper, 2 custom
    float a, b;
};

struct mapped {
    double s, left, bottom;
};

mapped place(const in_page &p, const target &t, double pw, double ph) {
    const bool turned = p.rotate == 90 || p.rotate == 270;
    const double cw = turned ? p.box[3] - p.box[1] : p.box[2] - p.box[0];
    const double ch = turned ? p.box[2] - p.box[0] : p.box[3] - p.box[1];
    const double s = t.kind == 0 ? t.a / 100.0 : std::min(pw / cw, ph / ch);
    return {s, (pw - cw * s) / 2, (ph - ch * s) / 2};
}

int run(const target &t, const std::string &in, const std::string &out) {
    switch (t.kind) {
    case 0: return plenvo_percent(in.c_str(), out.c_str(), t.a);
    case 1: return plenvo_to_size(in.c_str(), out.c_str(), static_cast<int>(t.a));
    default: return plenvo_custom(in.c_str(), out.c_str(), t.a, t.b);
    }
}

const in_page PAGES[] = {
    {{0, 0, 600, 800}, 0},
    {{0, 0, 600, 800}, 90},
    {{50, 40, 650, 840}, 180},
    {{0, 0, 500, 700}, 270},
};

// Four pages (objects 10..13) with annotations, an outline, named
// destinations and a form.
std::string feature_document() {
    pdf_builder b;
    b.head = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 30 0 R /Names << /Dests 40 0 R >> /PageMode /UseOutlines "
             "/AcroForm << /Fields [50 0 R] /NeedAppearances true /XFA 60 0 R >> /StructTreeRoot 61 0 R "
             "/MarkInfo << /Marked true >> /Perms << /DocMDP 62 0 R >> /Lang (en) >>");
    b.add(2, "<< /Type /Pages /Kids [10 0 R 11 0 R 12 0 R 13 0 R] /Count 4 >>");
    for (int k = 0; k < 4; ++k) {
        const in_page &p = PAGES[k];
        char box[128];
        std::snprintf(box, sizeof box, "/MediaBox [%g %g %g %g] /Rotate %d", p.box[0], p.box[1], p.box[2], p.box[3],
                      p.rotate);
        std::string annots = "/Annots [" + std::to_string(20 + 2 * k) + " 0 R " + std::to_string(21 + 2 * k) + " 0 R]";
        b.add(10 + k, "<< /Type /Page /Parent 2 0 R " + std::string(box) + " " + annots + " /Contents 70 0 R >>");
    }
    b.add_stream(70, "0 0 1 rg 100 100 200 100 re f");
    for (int k = 0; k < 4; ++k) {
        const int other = 10 + (k + 1) % 4;
        // A link to the next page and a square.
        b.add(20 + 2 * k, "<< /Type /Annot /Subtype /Link /Rect [100 200 300 250] /Border [0 0 1] /P " +
                              std::to_string(10 + k) + " 0 R /Dest [" + std::to_string(other) +
                              " 0 R /XYZ 120 640 0] /StructParent 4 >>");
        b.add(21 + 2 * k, "<< /Type /Annot /Subtype /Square /Rect [300 400 360 480] /C [1 0 0] /P " +
                              std::to_string(10 + k) + " 0 R >>");
    }
    b.add(30, "<< /Type /Outlines /First 31 0 R /Last 32 0 R /Count 2 >>");
    b.add(31, "<< /Title (First) /Parent 30 0 R /Next 32 0 R /Dest [11 0 R /FitH 500] >>");
    b.add(32, "<< /Title (Second) /Parent 30 0 R /Prev 31 0 R /A << /S /GoTo /D [12 0 R /XYZ 100 300 null] >> >>");
    b.add(40, "<< /Names [(there) [13 0 R /FitR 100 100 200 300]] >>");
    b.add(50, "<< /FT /Tx /T (name) /V (Ann) /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /P 10 0 R >>");
    b.add(60, "[(template) 63 0 R]");
    b.add(61, "<< /Type /StructTreeRoot >>");
    b.add(62, "<< /Type /Sig >>");
    b.add_stream(63, "<xdp/>");
    b.trailer_extra = "/Info 64 0 R";
    b.add(64, "<< /Title (Carried) /Author (Someone) >>");
    return b.build();
}

}  // namespace

TEST(CarriedDocument, AnnotationsLinksAndOutlineFollowTheirPages) {
    const target targets[] = {
        {"percent 50", 0, 50, 0}, {"percent 100", 0, 100, 0}, {"A4", 1, 0, 0}, {"custom 1000 x 400", 2, 1000, 400}};
    const std::string dir = temp_dir();
    const std::string in = write_file(dir, "in.pdf", feature_document());
    for (const target &t : targets) {
        SCOPED_TRACE(t.name);
        output o;
        o.path = dir + "/out.pdf";
        ASSERT_EQ(run(t, in, o.path), 1) << plenvo_last_error();
        o.bytes = read_file(o.path);
        if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(o.path), "");

        std::vector<mapped> where;
        for (int k = 0; k < 4; ++k) {
            pv_tree *tr;
            const int32_t pg = o.object(3 * (k + 1), &tr);
            ASSERT_GE(pg, 0);
            const std::vector<double> mb = output::numbers(*tr, pv_get(*tr, pg, "MediaBox"));
            ASSERT_EQ(mb.size(), 4u);
            where.push_back(place(PAGES[k], t, mb[2], mb[3]));
        }
        // Where point (x, y) of input page k lands.
        auto land = [&](int k, double x, double y, double *ox, double *oy) {
            double dx, dy;
            displayed(PAGES[k], x, y, &dx, &dy);
            *ox = where[k].left + where[k].s * dx;
            *oy = where[k].bottom + where[k].s * dy;
        };
        auto expect_rect = [&](int k, const std::vector<double> &got, double x1, double y1, double x2, double y2) {
            ASSERT_EQ(got.size(), 4u);
            double ax, ay, bx, by;
            land(k, x1, y1, &ax, &ay);
            land(k, x2, y2, &bx, &by);
            EXPECT_NEAR(got[0], std::min(ax, bx), 0.01);
            EXPECT_NEAR(got[1], std::min(ay, by), 0.01);
            EXPECT_NEAR(got[2], std::max(ax, bx), 0.01);
            EXPECT_NEAR(got[3], std::max(ay, by), 0.01);
        };

        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE("page " + std::to_string(k + 1));
            pv_tree *tr;
            const int32_t pg = o.object(3 * (k + 1), &tr);
            const int32_t annots = pv_get(*tr, pg, "Annots");
            ASSERT_GE(annots, 0);
            ASSERT_EQ(pv_count(*tr, annots), 2);
            const int32_t link_num = output::ref(*tr, tr->nodes[annots].first);
            const int32_t square_num = output::ref(*tr, tr->nodes[tr->nodes[annots].first].next);
            // Carried objects come after the pages.
            EXPECT_GT(link_num, 14);
            pv_tree *lt;
            const int32_t link = o.object(link_num, &lt);
            ASSERT_GE(link, 0);
            EXPECT_TRUE(pv_is_name(*lt, pv_get(*lt, link, "Subtype"), "Link"));
            expect_rect(k, output::numbers(*lt, pv_get(*lt, link, "Rect")), 100, 200, 300, 250);
            EXPECT_EQ(output::ref(*lt, pv_get(*lt, link, "P")), 3 * (k + 1));
            EXPECT_EQ(pv_get(*lt, link, "StructParent"), -1);
            const std::vector<double> border = output::numbers(*lt, pv_get(*lt, link, "Border"));
            ASSERT_EQ(border.size(), 3u);
            EXPECT_NEAR(border[2], where[k].s, 1e-4);
            // The link's destination: the next page, its point carried there.
            const int32_t dest = pv_get(*lt, link, "Dest");
            const int next = (k + 1) % 4;
            EXPECT_EQ(output::ref(*lt, lt->nodes[dest].first), 3 * (next + 1));
            const int32_t kind = lt->nodes[lt->nodes[dest].first].next;
            EXPECT_TRUE(pv_is_name(*lt, kind, "XYZ"));
            double ex, ey;
            land(next, 120, 640, &ex, &ey);
            const int32_t left = lt->nodes[kind].next, top = lt->nodes[left].next;
            EXPECT_NEAR(lt->nodes[left].num, ex, 0.01);
            EXPECT_NEAR(lt->nodes[top].num, ey, 0.01);

            pv_tree *st;
            const int32_t sq = o.object(square_num, &st);
            EXPECT_TRUE(pv_is_name(*st, pv_get(*st, sq, "Subtype"), "Square"));
            expect_rect(k, output::numbers(*st, pv_get(*st, sq, "Rect")), 300, 400, 360, 480);
        }

        // The outline: titles in order, destinations carried.
        pv_tree *cat;
        const int32_t c = o.object(1, &cat);
        ASSERT_GE(c, 0);
        pv_tree *ot;
        const int32_t root = o.object(output::ref(*cat, pv_get(*cat, c, "Outlines")), &ot);
        ASSERT_GE(root, 0);
        pv_tree *i1;
        const int32_t first = o.object(output::ref(*ot, pv_get(*ot, root, "First")), &i1);
        ASSERT_GE(first, 0);
        EXPECT_EQ(output::text(*i1, pv_get(*i1, first, "Title")), "(First)");
        const int32_t d1 = pv_get(*i1, first, "Dest");
        EXPECT_EQ(output::ref(*i1, i1->nodes[d1].first), 6);
        // /FitH on a page turned by 90 degrees becomes /FitV.
        const int32_t k1 = i1->nodes[i1->nodes[d1].first].next;
        EXPECT_TRUE(pv_is_name(*i1, k1, "FitV"));
        double ex, ey;
        land(1, 0, 500, &ex, &ey);
        EXPECT_NEAR(i1->nodes[i1->nodes[k1].next].num, ex, 0.01);
        pv_tree *i2;
        const int32_t second = o.object(output::ref(*i1, pv_get(*i1, first, "Next")), &i2);
        EXPECT_EQ(output::text(*i2, pv_get(*i2, second, "Title")), "(Second)");
        const int32_t act = pv_get(*i2, second, "A");
        const int32_t d2 = pv_get(*i2, act, "D");
        EXPECT_EQ(output::ref(*i2, i2->nodes[d2].first), 9);

        // The named destination on page 4 (turned by 270 degrees).
        pv_tree *nt;
        const int32_t names = pv_get(*cat, c, "Names");
        const int32_t dests = o.object(output::ref(*cat, pv_get(*cat, names, "Dests")), &nt);
        const int32_t arr = pv_get(*nt, dests, "Names");
        const int32_t nd = nt->nodes[nt->nodes[arr].first].next;
        EXPECT_EQ(output::ref(*nt, nt->nodes[nd].first), 12);
        std::vector<double> r;
        for (int32_t x = nt->nodes[nt->nodes[nd].first].next; x >= 0; x = nt->nodes[x].next)
            if (nt->nodes[x].type == PV_NUM) r.push_back(nt->nodes[x].num);
        expect_rect(3, r, 100, 100, 200, 300);

        // Catalog entries kept and dropped; the form's widget is one object.
        EXPECT_TRUE(pv_is_name(*cat, pv_get(*cat, c, "PageMode"), "UseOutlines"));
        EXPECT_TRUE(pv_is_name(*cat, pv_get(*cat, c, "Version"), "1.7"));
        EXPECT_EQ(output::text(*cat, pv_get(*cat, c, "Lang")), "(en)");
        for (const char *gone : {"StructTreeRoot", "MarkInfo", "Perms"}) EXPECT_EQ(pv_get(*cat, c, gone), -1) << gone;
        const int32_t form = pv_get(*cat, c, "AcroForm");
        EXPECT_EQ(pv_get(*cat, form, "XFA"), -1);
        EXPECT_EQ(output::text(*cat, pv_get(*cat, form, "NeedAppearances")), "true");
        const int32_t field = output::ref(*cat, cat->nodes[pv_get(*cat, form, "Fields")].first);
        pv_tree *ft;
        const int32_t fv = o.object(field, &ft);
        EXPECT_EQ(output::text(*ft, pv_get(*ft, fv, "V")), "(Ann)");
        expect_rect(0, output::numbers(*ft, pv_get(*ft, fv, "Rect")), 10, 10, 100, 30);

        // The information dictionary.
        const size_t tr_at = o.bytes.rfind("trailer");
        ASSERT_NE(tr_at, std::string::npos);
        const int info = ref_after(o.bytes.substr(tr_at), "/Info");
        ASSERT_GT(info, 0);
        EXPECT_NE(object_at(o.bytes, info).find("/Title (Carried)"), std::string::npos);
        // No page object of the input is written: every /Type /Page is a new page.
        size_t pages = 0;
        for (size_t p = o.bytes.find("/Type /Page "); p != std::string::npos; p = o.bytes.find("/Type /Page ", p + 1))
            ++pages;
        EXPECT_EQ(pages, 4u);
    }
}

namespace {

// One page with the given extra page keys and objects; catalog extra keys.
std::string one_page(const std::string &page_extra, const std::string &catalog_extra,
                     const std::vector<std::pair<int, std::string>> &objs) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 400] /Contents 4 0 R " + page_extra + " >>");
    b.add_stream(4, "0 0 1 rg 10 10 100 100 re f");
    for (const auto &[num, body] : objs) b.add(num, body);
    return b.build();
}

// The object numbers of the references in the array that follows key in text.
std::vector<int> refs_in(const std::string &text, const std::string &key) {
    std::vector<int> out;
    const size_t at = text.find(key);
    if (at == std::string::npos) return out;
    const size_t open = text.find('[', at), close = text.find(']', at);
    if (open == std::string::npos || close == std::string::npos) return out;
    const std::string list = text.substr(open, close - open);
    static const std::regex ref(R"((\d+)\s+\d+\s+R)");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), ref); it != std::sregex_iterator(); ++it)
        out.push_back(std::stoi((*it)[1].str()));
    return out;
}

std::string scaled(const std::string &pdf, std::string *path_out = nullptr) {
    const std::string dir = temp_dir();
    const std::string in = write_file(dir, "in.pdf", pdf);
    const std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_percent(in.c_str(), out.c_str(), 100.0f), 1) << plenvo_last_error();
    if (path_out) *path_out = out;
    return read_file(out);
}

}  // namespace

TEST(CarriedDocument, DamagedPiecesAreDroppedAndThePagesKept) {
    const std::string plain = scaled(one_page("", "", {}));
    std::string path;
    const std::string out = scaled(
        one_page("/Annots [5 0 R 99 0 R (junk) 9 0 R 6 0 R 7 0 R << /Subtype /Text /Rect [1 1 2 2] >>]",
                 "/Outlines 30 0 R /Names << /Dests 40 0 R >> /AcroForm << /Fields [98 0 R 5 0 R] >> /Dests 45 0 R",
                 {
                     {5, "[1 2]"},
                     {6, "<< /Subtype /Link /Rect [0 0 10 10] /Dest [8 0 R /Fit] /A << /S /GoTo /D [3 0 R /FitH] >> >>"},
                     {7, "<< /Subtype /Square /Rect [0 0 10 10] >>"},
                     {8, "<< /Type /Font >>"},
                     {9, "<< /Subtype /Square /Rect [0 0 10 10] /Length 2 >>\nstream\nq\n\nendstream"},
                     {30, "<< /First 31 0 R >>"},
                     {31, "<< /Title (a) /Next 32 0 R /Parent 32 0 R >>"},
                     {32, "<< /Title (b) /Next 31 0 R /First 32 0 R >>"},
                     {40, "<< /Kids [40 0 R 41 0 R] >>"},
                     {41, "<< /Names [(x) [3 0 R /XYZ] (y)] >>"},
                     {45, "<< /good [3 0 R /Fit] /bad [8 0 R /Fit] >>"},
                 }),
        &path);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(path), "");
    // The page and its content are those of the same page without the damage.
    for (int k : {3, 4, 5}) {
        std::string a = object_at(plain, k), b = object_at(out, k);
        if (k == 3) b = b.substr(0, b.find(" /Annots")) + " >>\nendobj";
        EXPECT_EQ(a, b) << k;
    }
    // Three annotations remain: the link without its destination or action,
    // the square, and the inline note.
    const std::string page = object_at(out, 3);
    const size_t at = page.find("/Annots [");
    ASSERT_NE(at, std::string::npos) << page;
    const std::string list = page.substr(at, page.find(']', at) - at);
    const std::vector<int> listed = refs_in(page, "/Annots");
    ASSERT_EQ(listed.size(), 2u) << list;
    EXPECT_NE(list.find("<< /Subtype /Text"), std::string::npos) << list;
    const int link = listed[0];
    const std::string link_text = object_at(out, link);
    EXPECT_EQ(link_text.find("/Dest"), std::string::npos) << link_text;
    EXPECT_EQ(link_text.find("/A "), std::string::npos) << link_text;
    // The outline loop ends: b's /Next and /First are gone.
    EXPECT_EQ(out.find("/Next 31 0 R"), std::string::npos);
    const int b_item = ref_after(out.substr(out.find("(a)")), "/Next");
    ASSERT_GT(b_item, 0);
    const std::string b_text = object_at(out, b_item);
    EXPECT_NE(b_text.find("(b)"), std::string::npos);
    EXPECT_EQ(b_text.find("/Next"), std::string::npos) << b_text;
    EXPECT_EQ(b_text.find("/First"), std::string::npos) << b_text;
    // The catalog's /Dests keeps the good destination only.
    EXPECT_NE(out.find("/good [3 0 R /Fit]"), std::string::npos);
    EXPECT_EQ(out.find("/bad"), std::string::npos);
}

TEST(CarriedDocument, WidgetsAreOneObjectAndSignaturesLoseTheirValue) {
    std::string path;
    const std::string out = scaled(
        one_page("/Annots [20 0 R 21 0 R]",
                 "/AcroForm << /Fields [20 0 R 21 0 R] /SigFlags 3 >> /Perms << /DocMDP 22 0 R >>",
                 {
                     {20, "<< /FT /Tx /T (name) /V (Ann) /DV (none) /Subtype /Widget /Rect [10 10 100 30] /P 3 0 R >>"},
                     {21, "<< /FT /Sig /T (sign) /V 22 0 R /Subtype /Widget /Rect [10 50 100 80] /P 3 0 R >>"},
                     {22, "<< /Type /Sig /Contents <DEADBEEF> /ByteRange [0 1 2 3] >>"},
                 }),
        &path);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(path), "");
    const std::string page = object_at(out, 3);
    const std::string cat = object_at(out, 1);
    const std::vector<int> annots = refs_in(page, "/Annots"), fields = refs_in(cat, "/Fields");
    ASSERT_EQ(annots.size(), 2u);
    EXPECT_EQ(annots, fields);
    const int text_widget = annots[0];
    EXPECT_NE(object_at(out, text_widget).find("/V (Ann) /DV (none)"), std::string::npos);
    // The signature keeps its field and look but not its value; /Perms goes.
    EXPECT_EQ(out.find("DEADBEEF"), std::string::npos);
    EXPECT_EQ(cat.find("/Perms"), std::string::npos);
    EXPECT_NE(out.find("/T (sign)"), std::string::npos);
}

TEST(CarriedDocument, TurnedAppearancesGetAMatrixAndNoRotateKeepsItsLook) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 600] /Rotate 90 /Annots [5 0 R 6 0 R] >>");
    b.add(5, "<< /Subtype /Square /Rect [10 10 50 30] /AP << /N 7 0 R >> >>");
    b.add(6, "<< /Subtype /Text /F 24 /Rect [100 100 120 120] /AP << /N 8 0 R >> >>");
    b.add_stream(7, "0 0 1 rg 0 0 40 20 re f", "/Type /XObject /Subtype /Form /BBox [0 0 40 20]");
    b.add_stream(8, "1 0 0 rg 0 0 20 20 re f", "/Type /XObject /Subtype /Form /BBox [0 0 20 20]");
    std::string path;
    const std::string out = scaled(b.build(), &path);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(path), "");
    const std::string page = object_at(out, 3);
    const std::vector<int> annots = refs_in(page, "/Annots");
    ASSERT_EQ(annots.size(), 2u);
    const int square_ap = ref_after(object_at(out, annots[0]), "/N");
    EXPECT_NE(object_at(out, square_ap).find("/Matrix [0 -1 1 0 0 0]"), std::string::npos) << object_at(out, square_ap);
    // The note keeps its unrotated look: its appearance has no /Matrix.
    const int note_ap = ref_after(object_at(out, annots[1]), "/N");
    EXPECT_EQ(object_at(out, note_ap).find("/Matrix"), std::string::npos) << object_at(out, note_ap);
    // The appearance streams keep their data.
    EXPECT_NE(object_at(out, square_ap).find("0 0 40 20 re f"), std::string::npos);
}

TEST(CarriedDocument, InformationOfTheLastTrailerAndTheVersion) {
    // An update appends a new information dictionary and a trailer naming it.
    pdf_builder b;
    b.head = "%PDF-1.6\n%\xE2\xE3\xCF\xD3\n";
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
    b.add(7, "<< /Title (old) >>");
    b.trailer_extra = "/Info 7 0 R";
    std::string pdf = b.build();
    const size_t at = pdf.size();
    pdf += "8 0 obj\n<< /Title (new) >>\nendobj\n";
    pdf += "xref\n0 1\n0000000000 65535 f \n8 1\n" + std::string(10 - std::to_string(at).size(), '0') +
           std::to_string(at) + " 00000 n \ntrailer\n<< /Size 9 /Root 1 0 R /Info 8 0 R >>\nstartxref\n" +
           std::to_string(pdf.size()) + "\n%%EOF\n";
    std::string path;
    const std::string out = scaled(pdf, &path);
    if (have_tool("qpdf")) EXPECT_EQ(qpdf_problems(path), "");
    const std::string trailer = out.substr(out.rfind("trailer"));
    const int info = ref_after(trailer, "/Info");
    ASSERT_GT(info, 0) << trailer;
    EXPECT_NE(object_at(out, info).find("(new)"), std::string::npos);
    EXPECT_EQ(out.find("(old)"), std::string::npos);
    EXPECT_NE(object_at(out, 1).find("/Version /1.6"), std::string::npos) << object_at(out, 1);

    // A trailer naming a missing dictionary, in a 1.4 file: nothing is added.
    pdf_builder c;
    c.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    c.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    c.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
    c.trailer_extra = "/Info 9 0 R";
    const std::string plain = scaled(c.build());
    EXPECT_NE(plain.find("trailer\n<< /Size 6 /Root 1 0 R >>"), std::string::npos) << plain;
    EXPECT_NE(plain.find("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj"), std::string::npos);
}
