// Which body of an object number is used when a file holds several: the one
// sound cross-reference data names (verified at its offset, or as the member
// its object stream lists), else the latest in the file.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "reader/doc.h"
#include "support/loaded_doc.h"
#include "support/raw_pdf.h"

using namespace plenvo;
using plenvo_test::loaded_doc;
using plenvo_test::raw_pdf;
using entries = std::map<int, raw_pdf::entry>;

namespace {

// Catalog 1, page tree 2 and page 3 (whose /Contents names object 4).
void page_tree(raw_pdf &p) {
    p.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    p.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    p.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] >>");
}

const std::string ROOT = "/Root 1 0 R";
const std::string TRAILER = "<< /Size 9 /Root 1 0 R >>";

// The text of object num's value: a member's text, or the bytes between a
// direct object's "obj" and "endobj".
std::string value_of(const doc &d, int32_t num) {
    const objent *e = doc_lookup(&d, num);
    if (!e) return "(missing)";
    if (e->in_objstm) return std::string(reinterpret_cast<const char *>(e->text), static_cast<size_t>(e->text_len));
    const std::string s(reinterpret_cast<const char *>(d.data), static_cast<size_t>(d.len));
    const size_t from = s.find("obj", static_cast<size_t>(e->hdr_pos)) + 3;
    return s.substr(from, static_cast<size_t>(e->endobj_pos) - from);
}

// Two direct bodies of object 4, (A) and then (B); returns their offsets.
void two_bodies(raw_pdf &p, long *a, long *b) {
    page_tree(p);
    *a = p.obj(4, "(A)");
    *b = p.obj(4, "(B)");
}

// A classic file whose only table gives object 4 the entry `e` (the others
// as written); `how` then finishes the file.
std::string classic(const std::function<raw_pdf::entry(long a, long b)> &e,
                    const std::function<void(raw_pdf &, long xref)> &how = nullptr) {
    raw_pdf p;
    long a, b;
    two_bodies(p, &a, &b);
    p.chosen[4] = e(a, b);
    const long x = p.table(TRAILER);
    if (how)
        how(p, x);
    else
        p.startxref(x);
    return p.out;
}

// Two bodies, a first table naming (A), then an update's table that lists 4
// as (B) when `names_later`, else only object 3.
std::string updated(bool names_later) {
    raw_pdf p;
    long a, b;
    two_bodies(p, &a, &b);
    p.chosen[4] = {1, a, 0};
    const long x1 = p.table(TRAILER);
    p.startxref(x1);
    const entries upd = names_later ? entries{{4, {1, b, 0}}} : entries{{3, p.chosen[3]}};
    p.startxref(p.table("<< /Size 9 /Root 1 0 R /Prev " + std::to_string(x1) + " >>", &upd));
    return p.out;
}

// Two bodies and one table naming (A) whose trailer's /Prev is `prev` (-1:
// the table itself).
std::string one_update_with_prev(long prev) {
    raw_pdf p;
    long a, b;
    two_bodies(p, &a, &b);
    const entries upd{{4, {1, a, 0}}};
    const long x = p.at();
    p.startxref(p.table("<< /Size 9 /Root 1 0 R /Prev " + std::to_string(prev < 0 ? x : prev) + " >>", &upd));
    return p.out;
}

// classic() naming the earlier body, its table (at x) changed by `edit`
// before "startxref" is appended.
std::string table_edited(void (*edit)(std::string &s, size_t x)) {
    std::string s = classic([](long a, long) { return raw_pdf::entry{1, a, 0}; }, [](raw_pdf &, long) {});
    const size_t x = s.find("xref\n");
    edit(s, x);
    return s + "startxref\n" + std::to_string(x) + "\n%%EOF\n";
}

// Direct body (A) of object 4, then object stream 6 holding (M) as 4, the
// update's cross-reference stream giving 4 the entry `e`.
std::string moved_to_objstm(const std::function<raw_pdf::entry(long a)> &e, bool flate = false) {
    raw_pdf p;
    page_tree(p);
    const long a = p.obj(4, "(A)");
    const long x1 = p.xref_stream(5, ROOT);
    p.startxref(x1);
    p.objstm(6, {{4, "(M)"}, {7, "(other)"}});
    p.chosen[4] = e(a);
    const long x2 = p.xref_stream(8, ROOT + " /Prev " + std::to_string(x1), nullptr, flate);
    p.startxref(x2);
    return p.out;
}

// Object stream 6 holding (M1) as 4, then object stream `second` holding
// (M2) as 4; the cross-reference stream lists what stood before the second.
std::string two_object_streams(int second) {
    raw_pdf p;
    page_tree(p);
    p.objstm(6, {{4, "(M1)"}});
    const entries first = p.chosen;
    p.objstm(second, {{4, "(M2)"}});
    p.startxref(p.xref_stream(8, ROOT, &first));
    return p.out;
}

struct choice_case {
    const char *name;
    std::function<std::string()> file;
    const char *want;  // the value object 4 must have
};

void PrintTo(const choice_case &c, std::ostream *os) { *os << c.name; }

class XrefChoice : public ::testing::TestWithParam<choice_case> {};

}  // namespace

TEST_P(XrefChoice, ObjectFourIs) {
    loaded_doc l(GetParam().file());
    ASSERT_EQ(l.rc, 0);
    EXPECT_NE(value_of(l.d, 4).find(GetParam().want), std::string::npos) << value_of(l.d, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Classic, XrefChoice,
    ::testing::Values(
        choice_case{"the table names the earlier body", [] { return classic([](long a, long) { return raw_pdf::entry{1, a, 0}; }); }, "(A)"},
        choice_case{"the table names the later body", [] { return classic([](long, long b) { return raw_pdf::entry{1, b, 0}; }); }, "(B)"},
        choice_case{"the offset is at white space before the header",
                    [] { return classic([](long a, long) { return raw_pdf::entry{1, a - 1, 0}; }); }, "(A)"},
        choice_case{"the offset is inside the header: the scan decides",
                    [] { return classic([](long a, long) { return raw_pdf::entry{1, a + 1, 0}; }); }, "(B)"},
        choice_case{"the offset holds another object (the catalog): the scan decides",
                    [] { return classic([](long, long) { return raw_pdf::entry{1, 9, 0}; }); }, "(B)"},
        choice_case{"the offset lies past the end: the scan decides",
                    [] { return classic([](long, long) { return raw_pdf::entry{1, 999999, 0}; }); }, "(B)"},
        choice_case{"the generation differs: the scan decides",
                    [] { return classic([](long a, long) { return raw_pdf::entry{1, a, 1}; }); }, "(B)"},
        choice_case{"the number is not listed: the scan decides",
                    [] { return classic([](long, long) { return raw_pdf::entry{0, 0, 0}; }); }, "(B)"},
        choice_case{"no startxref: the scan decides",
                    [] { return classic([](long a, long) { return raw_pdf::entry{1, a, 0}; }, [](raw_pdf &, long) {}); },
                    "(B)"},
        choice_case{"startxref at nothing: the scan decides",
                    [] {
                        return classic([](long a, long) { return raw_pdf::entry{1, a, 0}; },
                                       [](raw_pdf &p, long) { p.startxref(3); });
                    },
                    "(B)"},
        choice_case{"entries of 19 bytes, ending in one line feed",
                    [] {
                        return table_edited([](std::string &s, size_t x) {
                            for (size_t p = s.find(" n \n", x); p != std::string::npos; p = s.find(" n \n", p))
                                s.erase(p + 2, 1);
                            s.replace(s.find(" f \n", x), 4, " f\n");
                        });
                    },
                    "(A)"},
        choice_case{"a subsection cut short: the scan decides",
                    [] { return table_edited([](std::string &s, size_t x) { s.replace(s.find("\n1 4\n", x), 5, "\n1 5\n"); }); },
                    "(B)"},
        choice_case{"no trailer after the table: the scan decides",
                    [] { return table_edited([](std::string &s, size_t x) { s.erase(s.find("trailer", x)); }); },
                    "(B)"}));

INSTANTIATE_TEST_SUITE_P(
    Updates, XrefChoice,
    ::testing::Values(
        choice_case{"the update's table names the later body", [] { return updated(true); }, "(B)"},
        choice_case{"an update that does not list it leaves the older table's entry", [] { return updated(false); }, "(A)"},
        choice_case{"a /Prev that leads nowhere: the scan decides", [] { return one_update_with_prev(5); }, "(B)"},
        choice_case{"a /Prev cycle: the scan decides", [] { return one_update_with_prev(-1); }, "(B)"}));

INSTANTIATE_TEST_SUITE_P(
    ObjectStreams, XrefChoice,
    ::testing::Values(
        choice_case{"the update names the member", [] { return moved_to_objstm([](long) { return raw_pdf::entry{2, 6, 0}; }); }, "(M)"},
        choice_case{"a compressed cross-reference stream names the member",
                    [] { return moved_to_objstm([](long) { return raw_pdf::entry{2, 6, 0}; }, true); }, "(M)"},
        choice_case{"the update names the direct body", [] { return moved_to_objstm([](long a) { return raw_pdf::entry{1, a, 0}; }); }, "(A)"},
        choice_case{"a wrong index: the scan decides (direct wins)",
                    [] { return moved_to_objstm([](long) { return raw_pdf::entry{2, 6, 1}; }); }, "(A)"},
        choice_case{"another object stream: the scan decides",
                    [] { return moved_to_objstm([](long) { return raw_pdf::entry{2, 3, 0}; }); }, "(A)"},
        choice_case{"the older of two object streams", [] { return two_object_streams(7); }, "(M1)"},
        choice_case{"the older body of the object stream itself", [] { return two_object_streams(6); }, "(M1)"},
        choice_case{"a hybrid file: the table leaves it out, /XRefStm names the member",
                    [] {
                        raw_pdf p;
                        page_tree(p);
                        p.obj(4, "(A)");
                        p.objstm(6, {{4, "(M)"}});
                        const long xs = p.xref_stream(8, "");
                        entries direct = p.chosen;
                        direct.erase(4);
                        p.startxref(p.table("<< /Size 9 /Root 1 0 R /XRefStm " + std::to_string(xs) + " >>", &direct));
                        return p.out;
                    },
                    "(M)"},
        choice_case{"an indirect /DecodeParms in a cross-reference stream: the scan decides",
                    [] {
                        std::string s = moved_to_objstm([](long) { return raw_pdf::entry{2, 6, 0}; }, true);
                        const std::string parms = "<< /Predictor 12 /Columns 7 >>";
                        s.replace(s.rfind(parms), parms.size(), "30 0 R");
                        return s + "30 0 obj\n" + parms + "\nendobj\n";
                    },
                    "(A)"},
        choice_case{"a cross-reference stream with a bad /W: the scan decides",
                    [] {
                        std::string s = moved_to_objstm([](long) { return raw_pdf::entry{2, 6, 0}; });
                        const size_t w = s.rfind("/W [1 4 2]");
                        s.replace(w, 10, "/W [1 4 9]");
                        return s;
                    },
                    "(A)"}));
