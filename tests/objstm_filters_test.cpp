// Object streams decoded through their whole /Filter chain with /DecodeParms,
// full and abbreviated filter names alike, as content streams are.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "base/error.h"
#include "reader/doc.h"
#include "support/encoders.h"
#include "support/loaded_doc.h"
#include "support/pdf_builder.h"
#include "support/raw_pdf.h"

using namespace plenvo;
using namespace plenvo_test;

namespace {

std::string lzw_early(const std::string &s, int early) {
    const std::vector<uint8_t> v = lzw_encode(s, early);
    return std::string(v.begin(), v.end());
}

struct filter_case {
    const char *keys;  // /Filter and /DecodeParms of the object stream
    std::function<std::string(const std::string &)> encode;
    bool readable;
};

void PrintTo(const filter_case &c, std::ostream *os) { *os << c.keys; }

// Catalog, page tree and page (box 0 0 210 120) in object stream 10, object
// 20 the name /FlateDecode, object 21 parameters; what the load made of it:
// the page's width or the error.
std::string load(const filter_case &c) {
    raw_pdf p;
    p.obj(20, "/FlateDecode");
    p.obj(21, "<< /Predictor 12 /Columns 5 >>");
    p.objstm(10,
             {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
              {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
              {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 210 120] >>"}},
             c.keys, c.encode);
    p.startxref(p.xref_stream(11, "/Root 1 0 R"));
    loaded_doc l(p.out);
    if (l.rc != 0) return g_err;
    return "width " + std::to_string(int(l.d.pages.items[0].urx));
}

class ObjstmFilters : public ::testing::TestWithParam<filter_case> {};

}  // namespace

TEST_P(ObjstmFilters, Decoded) {
    const filter_case &c = GetParam();
    EXPECT_EQ(load(c), c.readable ? "width 210" : "catalog (obj 1) has no /Pages reference");
}

INSTANTIATE_TEST_SUITE_P(
    Names, ObjstmFilters,
    ::testing::Values(
        filter_case{"", nullptr, true},
        filter_case{"/Filter /FlateDecode", [](const std::string &s) { return zlib_compress(s); }, true},
        filter_case{"/Filter /Fl", [](const std::string &s) { return zlib_compress(s); }, true},
        filter_case{"/Filter [/Fl]", [](const std::string &s) { return zlib_compress(s); }, true},
        filter_case{"/Filter /Fl#61teDecode", [](const std::string &s) { return zlib_compress(s); }, true},
        filter_case{"/Filter 20 0 R", [](const std::string &s) { return zlib_compress(s); }, true},
        filter_case{"/Filter /AHx", hex_encode, true},
        filter_case{"/Filter /ASCIIHexDecode", hex_encode, true},
        filter_case{"/Filter /A85", ascii85_encode, true},
        filter_case{"/Filter /RL", run_length_encode, true},
        filter_case{"/Filter /RunLengthDecode", run_length_encode, true},
        filter_case{"/Filter /LZW", [](const std::string &s) { return lzw_early(s, 1); }, true},
        filter_case{"/Filter /LZW /DecodeParms << /EarlyChange 0 >>", [](const std::string &s) { return lzw_early(s, 0); },
                    true},
        // The names stand for what they are: the encoder must match.
        filter_case{"/Filter /RL", hex_encode, false},
        filter_case{"/Filter /DCT", [](const std::string &s) { return s; }, false},
        filter_case{"/Filter /Crypt", [](const std::string &s) { return s; }, false}));

INSTANTIATE_TEST_SUITE_P(
    Chains, ObjstmFilters,
    ::testing::Values(
        filter_case{"/Filter [/A85 /Fl]", [](const std::string &s) { return ascii85_encode(zlib_compress(s)); }, true},
        filter_case{"/Filter [/AHx /A85]", [](const std::string &s) { return hex_encode(ascii85_encode(s)); }, true},
        filter_case{"/Filter [/AHx /RL]", [](const std::string &s) { return hex_encode(run_length_encode(s)); }, true},
        filter_case{"/Filter /Fl /DecodeParms << /Predictor 12 /Columns 5 >>",
                    [](const std::string &s) { return zlib_compress(png_encode(s + std::string(5 - s.size() % 5, ' '), 5, 1, 2)); },
                    true},
        filter_case{"/Filter /Fl /DecodeParms 21 0 R",
                    [](const std::string &s) { return zlib_compress(png_encode(s + std::string(5 - s.size() % 5, ' '), 5, 1, 4)); },
                    true},
        filter_case{"/Filter [/AHx /Fl] /DecodeParms [null << /Predictor 2 /Columns 7 >>]",
                    [](const std::string &s) {
                        std::string raw = s + std::string(7 - s.size() % 7, ' '), tiff = raw;
                        for (size_t i = tiff.size(); i-- > 0;)
                            if (i % 7) tiff[i] = static_cast<char>(raw[i] - raw[i - 1]);
                        return hex_encode(zlib_compress(tiff));
                    },
                    true},
        filter_case{"/Filter [/A85 /DCT]", [](const std::string &s) { return ascii85_encode(s); }, false}));
