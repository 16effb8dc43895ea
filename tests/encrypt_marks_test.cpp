// Encryption cannot be missed: /Encrypt in any trailer dictionary or any
// cross-reference stream dictionary of the file refuses it, wherever the
// last "startxref" leads; the name elsewhere (in stream data, in other
// objects) does not.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "base/error.h"
#include "support/loaded_doc.h"
#include "support/raw_pdf.h"

using plenvo_test::loaded_doc;
using plenvo_test::raw_pdf;
using entries = std::map<int, raw_pdf::entry>;

namespace {

const char *const REFUSED = "encrypted PDFs are not supported: test.pdf";
const char *const LOADED = "loaded";

// Catalog 1, page tree 2, page 3, and the encryption dictionary 6.
void body(raw_pdf &p) {
    p.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    p.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    p.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] >>");
    p.obj(6, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>");
}

const std::string ENCRYPTED = "<< /Size 7 /Root 1 0 R /Encrypt 6 0 R >>";
const std::string PLAIN = "<< /Size 7 /Root 1 0 R >>";
constexpr long NO_STARTXREF = -1, TO_TABLE = -2;

// body(), then what `more` adds, then a classic table with `trailer` and a
// startxref to `startxref` (TO_TABLE: the table; NO_STARTXREF: none).
std::string with_table(const std::function<void(raw_pdf &)> &more, const std::string &trailer, long startxref) {
    raw_pdf p;
    body(p);
    if (more) more(p);
    const long x = p.table(trailer);
    if (startxref != NO_STARTXREF) p.startxref(startxref == TO_TABLE ? x : startxref);
    return p.out;
}

// A hex string as value: its walk runs on into the next stream's dictionary,
// so that dictionary regions overlap.
void hex_value(raw_pdf &p) { p.out += "7 0 obj <41> /X endobj\n"; }

struct encrypt_case {
    const char *name;
    std::function<std::string()> file;
    const char *want;
};

void PrintTo(const encrypt_case &c, std::ostream *os) { *os << c.name; }

class EncryptMarks : public ::testing::TestWithParam<encrypt_case> {};

// A chain of n cross-reference streams, the oldest first, each /Prev to the
// one before; /Encrypt in the oldest only.
std::string stream_chain(int n) {
    raw_pdf p;
    body(p);
    long prev = -1;
    for (int k = 0; k < n; ++k) {
        std::string keys = "/Root 1 0 R";
        if (k == 0) keys += " /Encrypt 6 0 R";
        if (prev >= 0) keys += " /Prev " + std::to_string(prev);
        prev = p.xref_stream(10 + k, keys);
    }
    p.startxref(prev);
    return p.out;
}

}  // namespace

TEST_P(EncryptMarks, Load) {
    loaded_doc l(GetParam().file());
    EXPECT_EQ(l.rc == 0 ? std::string(LOADED) : std::string(plenvo::g_err), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, EncryptMarks,
    ::testing::Values(
        encrypt_case{"the trailer startxref leads to", [] { return with_table(nullptr, ENCRYPTED, TO_TABLE); }, REFUSED},
        encrypt_case{"startxref leading nowhere", [] { return with_table(nullptr, ENCRYPTED, 4); }, REFUSED},
        encrypt_case{"no startxref", [] { return with_table(nullptr, ENCRYPTED, NO_STARTXREF); }, REFUSED},
        encrypt_case{"no startxref, a comment before the dictionary",
                     [] { return with_table(nullptr, "% the trailer\n" + ENCRYPTED, NO_STARTXREF); }, REFUSED},
        encrypt_case{"only in the trailer before an update's table",
                     [] {
                         raw_pdf p;
                         body(p);
                         const long x1 = p.table(ENCRYPTED);
                         p.startxref(x1);
                         const entries upd{{3, p.chosen[3]}};
                         p.startxref(p.table("<< /Size 7 /Root 1 0 R /Prev " + std::to_string(x1) + " >>", &upd));
                         return p.out;
                     },
                     REFUSED},
        encrypt_case{"only in an older cross-reference stream, the newer's /Prev broken",
                     [] {
                         raw_pdf p;
                         body(p);
                         p.startxref(p.xref_stream(10, "/Root 1 0 R /Encrypt 6 0 R"));
                         p.startxref(p.xref_stream(11, "/Root 1 0 R /Prev 2"));
                         return p.out;
                     },
                     REFUSED},
        encrypt_case{"in a cross-reference stream no startxref leads to",
                     [] {
                         raw_pdf p;
                         body(p);
                         p.xref_stream(10, "/Root 1 0 R /Encrypt 6 0 R");
                         return p.out;
                     },
                     REFUSED},
        encrypt_case{"in the oldest of 40 chained cross-reference streams", [] { return stream_chain(40); }, REFUSED},
        encrypt_case{"in a cross-reference stream whose dictionary region another one overlaps",
                     [] {
                         raw_pdf p;
                         body(p);
                         hex_value(p);
                         p.xref_stream(10, "/Root 1 0 R /Encrypt 6 0 R");
                         return p.out;
                     },
                     REFUSED},
        encrypt_case{"in a trailer, with dictionary regions overlapping",
                     [] {
                         return with_table([](raw_pdf &p) {
                             hex_value(p);
                             p.stream(8, "BT ET");
                         }, ENCRYPTED,
                                           NO_STARTXREF);
                     },
                     REFUSED}));

INSTANTIATE_TEST_SUITE_P(
    Loaded, EncryptMarks,
    ::testing::Values(
        encrypt_case{"no /Encrypt anywhere", [] { return with_table(nullptr, PLAIN, TO_TABLE); }, LOADED},
        encrypt_case{"a trailer with /Encrypt inside stream data",
                     [] {
                         return with_table(
                             [](raw_pdf &p) {
                                 p.stream(7, "xref\n0 1\n0000000000 65535 f \ntrailer\n" + ENCRYPTED +
                                                 "\nstartxref\n4\n%%EOF");
                             },
                             PLAIN, NO_STARTXREF);
                     },
                     LOADED},
        encrypt_case{"/Encrypt in another stream, with dictionary regions overlapping",
                     [] {
                         return with_table([](raw_pdf &p) {
                             hex_value(p);
                             p.stream(8, "BT ET", "/Encrypt 6 0 R");
                         },
                                           PLAIN, NO_STARTXREF);
                     },
                     LOADED},
        encrypt_case{"/Encrypt in a dictionary of another object",
                     [] {
                         return with_table(
                             [](raw_pdf &p) {
                                 p.obj(7, "<< /Encrypt 6 0 R >>");
                                 p.stream(8, "BT ET", "/Encrypt 6 0 R");
                             },
                             PLAIN, NO_STARTXREF);
                     },
                     LOADED},
        encrypt_case{"the word trailer in a string",
                     [] { return with_table([](raw_pdf &p) { p.obj(7, "(trailer << /Encrypt 6 0 R >>)"); }, PLAIN, NO_STARTXREF); },
                     LOADED}));

TEST(EncryptMarks, NoObjectsIsReportedFirst) {
    loaded_doc l("%PDF-1.4\ntrailer\n<< /Encrypt 6 0 R >>\n");
    EXPECT_EQ(l.rc, -1);
    EXPECT_STREQ(plenvo::g_err, "no PDF objects found \xE2\x80\x94 not a PDF: test.pdf");
}
