// Stream data of a loaded document: in place, inflated, decoded through a
// filter chain with its parameters, or refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "reader/decoded_stream.h"
#include "reader/doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::pdf_builder;

namespace {

// A one-page document whose extra objects start at 4; the page draws object 4.
pdf_builder base_pdf() {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    return b;
}

struct loaded {
    doc d{};
    buf b{};
    bool ok = false;
    explicit loaded(const pdf_builder &pb) {
        const std::string bytes = pb.build();
        ok = doc_load_bytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "test.pdf",
                            &d) == 0;
    }
    ~loaded() {
        buf_free(&b);
        doc_free(&d);
    }
    // The decoded data of object num as text; "<null>" when refused.
    std::string stream(int num, int32_t *len_out = nullptr) {
        const objent *e = doc_lookup(&d, num);
        if (!e) return "<no object>";
        int32_t n = -7;
        const uint8_t *p = decoded_stream(&d, e, &b, &n);
        if (len_out) *len_out = n;
        if (!p) return "<null>";
        return std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
    }
};

std::string hex(const std::string &s) {
    static const char *digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out + ">";
}

const std::string CONTENT = "q 1 0 0 1 50 50 cm 0 0 m 100 100 l S Q\n";

}  // namespace

TEST(DecodedStreamRaw, UnfilteredDataIsHandedOutInPlace) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, CONTENT);
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    const objent *e = doc_lookup(&l.d, 4);
    ASSERT_NE(e, nullptr);
    int32_t n = 0;
    const uint8_t *p = decoded_stream(&l.d, e, &l.b, &n);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p, l.d.data);
    EXPECT_LT(p, l.d.data + l.d.len);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), n), CONTENT);
    EXPECT_EQ(l.b.len, 0u);  // nothing was appended
}

TEST(DecodedStreamRaw, FilterNamedOnlyInANestedDictionaryIsNotTaken) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, CONTENT, "/DecodeParms << /Filter /FlateDecode >>");
    pb.add_stream(5, CONTENT, "/Metadata << /Filter /ASCIIHexDecode /Sub << /Filter /FlateDecode >> >>");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
}

TEST(DecodedStreamRaw, EmptyFilterArrayAndNullAreNoFilter) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, CONTENT, "/Filter []");
    pb.add_stream(5, CONTENT, "/Filter null");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
}

TEST(DecodedStreamInvalid, ObjectWithoutStreamGivesNull) {
    pdf_builder pb = base_pdf();
    pb.add(4, "<< /Length 0 >>");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    int32_t n = 0;
    EXPECT_EQ(l.stream(4, &n), "<null>");
    EXPECT_EQ(n, -7);  // untouched
    EXPECT_EQ(l.stream(3), "<null>");
}

TEST(DecodedStreamInvalid, EmptyStreamGivesNull) {
    pdf_builder pb = base_pdf();
    pb.add(4, "<< /Length 0 >>\nstream\nendstream");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), "<null>");
}

#if defined(PLENVO_HAVE_ZLIB)
TEST(DecodedStreamFlate, InflatedDataIsAppendedToTheBuffer) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, plenvo_test::zlib_compress(CONTENT), "/Filter /FlateDecode");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    buf_str(&l.b, "before|");
    const objent *e = doc_lookup(&l.d, 4);
    int32_t n = 0;
    const uint8_t *p = decoded_stream(&l.d, e, &l.b, &n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, l.b.data + 7);
    EXPECT_EQ(n, static_cast<int32_t>(CONTENT.size()));
    EXPECT_EQ(l.b.len, 7 + CONTENT.size());
    EXPECT_EQ(std::string(reinterpret_cast<char *>(l.b.data), l.b.len), "before|" + CONTENT);
    EXPECT_EQ(l.b.data[l.b.len], 0);
}

TEST(DecodedStreamFlate, ContentGrowingFarMoreThanTwentyTimesIsNotLost) {
    std::string content;
    while (content.size() < 3000000) content += "1 0 0 RG 10 10 m 20 20 l S\n";
    pdf_builder pb = base_pdf();
    pb.add_stream(4, plenvo_test::zlib_compress(content, 9), "/Filter /FlateDecode");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), content);
}

TEST(DecodedStreamFlate, AbbreviatedAndEscapedNames) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, plenvo_test::zlib_compress(CONTENT), "/Filter /Fl");
    pb.add_stream(5, plenvo_test::zlib_compress(CONTENT), "/Filter [/Fl#61teDecode]");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
}

// A lone Flate name ends where any name ends: at white space, a delimiter
// or a comment; a longer name, a near miss or an escape that changes the
// name is another filter, which is refused.
TEST(DecodedStreamFlate, SingleNameEndsWhereANameEnds) {
    const std::string z = plenvo_test::zlib_compress(CONTENT);
    pdf_builder pb = base_pdf();
    pb.add_stream(4, z, "/Filter/FlateDecode/Type/XObject");
    pb.add_stream(5, z, "/Filter /Fl%note\n/Subtype/Form");
    pb.add_stream(6, z, "/Filter %note\n/Fl[/Dummy]");
    pb.add_stream(7, z, "/Filter /FlateDecodeX");
    pb.add_stream(8, z, "/Filter /Flate");
    pb.add_stream(9, z, "/Filter /FlateDecode#20");
    pb.add_stream(10, z, "/Filter /Fl# /Type/XObject");
    pb.add_stream(11, z, "/Filter /F#6c");
    pb.add_stream(12, z, "/Filter /FlateDecode /DecodeParms null");
    pb.add_stream(13, z, "/Filter /FlateDecode /DecodeParms << /Predictor 1 >>");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
    EXPECT_EQ(l.stream(6), CONTENT);
    EXPECT_EQ(l.stream(7), "<null>");
    EXPECT_EQ(l.stream(8), "<null>");
    EXPECT_EQ(l.stream(9), "<null>");
    EXPECT_EQ(l.stream(10), "<null>");
    EXPECT_EQ(l.stream(11), CONTENT);
    EXPECT_EQ(l.stream(12), CONTENT);
    EXPECT_EQ(l.stream(13), CONTENT);
}

// Many small Flate streams appended one after another to the same buffer,
// each found at the address returned for it.
TEST(DecodedStreamFlate, ManySmallStreamsAppendInTurn) {
    pdf_builder pb = base_pdf();
    std::vector<std::string> texts;
    for (int i = 0; i < 40; ++i) {
        texts.push_back("BT /F1 12 Tf 72 " + std::to_string(700 - i) + " Td (line " + std::to_string(i) +
                        ") Tj ET\n");
        pb.add_stream(4 + i, plenvo_test::zlib_compress(texts.back()),
                      i % 2 ? "/Filter /Fl" : "/Filter /FlateDecode");
    }
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    uint64_t total = 0;
    for (int i = 0; i < 40; ++i) {
        const objent *e = doc_lookup(&l.d, 4 + i);
        int32_t n = 0;
        const uint8_t *p = decoded_stream(&l.d, e, &l.b, &n);
        ASSERT_NE(p, nullptr) << i;
        EXPECT_EQ(p, l.b.data + total) << i;
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(n)), texts[i]);
        total += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(l.b.len, total);
}

TEST(DecodedStreamFlate, DamagedDataKeepsWhatWasDecodedBeforeTheDamage) {
    // A stored block with the content, then a block of the reserved type 3.
    std::string z = "\x78\x01";
    z += '\x00';
    z += static_cast<char>(CONTENT.size());
    z += '\x00';
    z += static_cast<char>(~CONTENT.size());
    z += '\xFF';
    z += CONTENT + "\x07";
    pdf_builder pb = base_pdf();
    pb.add_stream(4, z, "/Filter /FlateDecode");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
}

TEST(DecodedStreamChain, HexThenFlate) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, hex(plenvo_test::zlib_compress(CONTENT)), "/Filter [/ASCIIHexDecode /FlateDecode]");
    pb.add_stream(5, hex(plenvo_test::zlib_compress(CONTENT)), "/Filter [ /AHx\n/Fl ]");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
}

TEST(DecodedStreamChain, PngPredictorFromDecodeParms) {
    // Two rows of four bytes, Up-filtered on the second row.
    const std::string predicted = std::string("\x00" "abcd" "\x02" "\x01\x01\x01\x01", 10);
    pdf_builder pb = base_pdf();
    const std::string z = plenvo_test::zlib_compress(predicted);
    pb.add_stream(4, z, "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >>");
    pb.add_stream(5, z, "/Filter [/FlateDecode] /DecodeParms [<< /Predictor 12 /Columns 4 >>]");
    pb.add_stream(6, z, "/DecodeParms 9 0 R /Filter /FlateDecode");
    pb.add(9, "<< /Columns 4 /Predictor 10 >>");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), "abcdbcde");
    EXPECT_EQ(l.stream(5), "abcdbcde");
    EXPECT_EQ(l.stream(6), "abcdbcde");
}

TEST(DecodedStreamChain, ParametersArrayFollowsTheFilterOrder) {
    // Hex, then Flate with TIFF predictor 2 over two-byte pixels.
    const std::string predicted = std::string("\x10\x20\x01\x02\x01\x02", 6);
    pdf_builder pb = base_pdf();
    pb.add_stream(4, hex(plenvo_test::zlib_compress(predicted)),
                  "/Filter [/AHx /Fl] /DecodeParms [null << /Predictor 2 /Colors 2 /Columns 3 >>]");
    // A single dictionary does not belong to a chain of two filters.
    pb.add_stream(5, hex(plenvo_test::zlib_compress(predicted)),
                  "/Filter [/AHx /Fl] /DecodeParms << /Predictor 2 /Colors 2 /Columns 3 >>");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), std::string("\x10\x20\x11\x22\x12\x24", 6));
    EXPECT_EQ(l.stream(5), predicted);
}

TEST(DecodedStreamChain, IndirectFilterValues) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, plenvo_test::zlib_compress(CONTENT), "/Filter 8 0 R");
    pb.add_stream(5, hex(plenvo_test::zlib_compress(CONTENT)), "/Filter 9 0 R");
    pb.add_stream(6, hex(plenvo_test::zlib_compress(CONTENT)), "/Filter [10 0 R /FlateDecode]");
    pb.add(8, "/FlateDecode");
    pb.add(9, "[/ASCIIHexDecode /FlateDecode]");
    pb.add(10, "/AHx");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), CONTENT);
    EXPECT_EQ(l.stream(5), CONTENT);
    EXPECT_EQ(l.stream(6), CONTENT);
}
#endif

namespace {
// LZW data made of a clear code, literal codes only and the end code. The
// decoder's table gains one entry per code from the second on, so code k
// (counting from 1) is read with 10 bits once 256 + k + EarlyChange reaches
// 512, and with 9 bits before.
std::string lzw_literals(const std::string &lits, int early) {
    std::string out;
    uint32_t acc = 0;
    int nbits = 0;
    auto put = [&](unsigned code, int width) {
        acc = (acc << width) | code;
        nbits += width;
        while (nbits >= 8) {
            out += static_cast<char>(acc >> (nbits - 8));
            nbits -= 8;
        }
    };
    put(256, 9);
    int k = 1;
    for (unsigned char c : lits) {
        put(c, 256 + k + early >= 512 ? 10 : 9);
        ++k;
    }
    put(257, 256 + k + early >= 512 ? 10 : 9);
    if (nbits) out += static_cast<char>(acc << (8 - nbits));
    return out;
}
}  // namespace

TEST(DecodedStreamChain, LzwStandardExample) {
    // Codes 256 45 258 258 65 259 66 257 (the standard's example, 9 bits).
    const std::string lzw("\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01", 9);
    pdf_builder pb = base_pdf();
    pb.add_stream(4, lzw, "/Filter /LZWDecode");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), "-----A---B");
}

TEST(DecodedStreamChain, LzwEarlyChangeComesFromDecodeParms) {
    std::string lits;
    for (int i = 0; i < 300; ++i) lits += static_cast<char>(i * 37 % 256);
    pdf_builder pb = base_pdf();
    pb.add_stream(4, lzw_literals(lits, 1), "/Filter /LZWDecode");
    pb.add_stream(5, lzw_literals(lits, 0), "/Filter /LZW /DecodeParms << /EarlyChange 0 >>");
    pb.add_stream(6, lzw_literals(lits, 0), "/Filter /LZWDecode");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), lits);
    EXPECT_EQ(l.stream(5), lits);
    EXPECT_NE(l.stream(6), lits);  // read with the default early change
}

TEST(DecodedStreamChain, Ascii85AndRunLength) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, "87cURD]j7BEbo7~>", "/Filter /ASCII85Decode");
    pb.add_stream(5, std::string("\xFC" "A" "\x02" "BCD" "\x80", 7), "/Filter /RunLengthDecode");
    pb.add_stream(6, hex(std::string("\xFC" "A" "\x80", 3)), "/Filter [/AHx /RL]");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.stream(4), "Hello world");
    EXPECT_EQ(l.stream(5), "AAAAABCD");
    EXPECT_EQ(l.stream(6), "AAAAA");
}

TEST(DecodedStreamInvalid, UndecodableFiltersGiveNullAndLeaveTheBuffer) {
    pdf_builder pb = base_pdf();
    pb.add_stream(4, "\xFF\xD8\xFF\xE0 jpeg bytes", "/Filter /DCTDecode");
    pb.add_stream(5, "48656C6C6F>", "/Filter [/AHx /DCTDecode]");
    pb.add_stream(6, "48656C6C6F>", "/Filter [/JPXDecode]");
    pb.add_stream(7, "48656C6C6F>", "/Filter /Crypt");
    pb.add_stream(8, "48656C6C6F>", "/Filter /NoSuchFilter");
    pb.add_stream(9, "not zlib at all", "/Filter /FlateDecode");
    pb.add_stream(10, "48656C6C6F>", "/Filter 5");
    pb.add_stream(11, "4865 nothex>", "/Filter /ASCIIHexDecode");
    pb.add_stream(12, "48656C6C6F>", "/Filter [/AHx (text)]");
    loaded l(pb);
    ASSERT_TRUE(l.ok);
    buf_str(&l.b, "kept");
    for (int num = 4; num <= 12; ++num) {
        int32_t n = -7;
        EXPECT_EQ(l.stream(num, &n), "<null>") << num;
        EXPECT_EQ(n, -7) << num;
        EXPECT_EQ(l.b.len, 4u) << num;
    }
    EXPECT_EQ(std::string(reinterpret_cast<char *>(l.b.data), l.b.len), "kept");
}

// Every stream of the real files, decoded here and by qpdf (which writes each
// stream's data decoded through Flate, LZW, ASCII85, ASCIIHex and RunLength
// with their predictors, and leaves other streams as stored).
TEST(DecodedStreamCorpus, AgreesWithQpdf) {
    const auto files = plenvo_test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus absent";
    if (!plenvo_test::have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    const std::string dir = plenvo_test::temp_dir();
    int compared = 0, filtered = 0, kept_raw = 0, refused = 0;
    for (const std::string &path : files) {
        const std::string pdf = plenvo_test::read_file(path);
        doc d{};
        if (doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), "corpus", &d) != 0)
            continue;
        const std::string prefix = dir + "/s";
        plenvo_test::run_command("rm -f " + prefix + "-*; qpdf --json=2 --json-stream-data=file"
                                 " --json-stream-prefix=" + prefix +
                                 " --decode-level=specialized '" + path + "' " + dir + "/out.json"
                                 " >/dev/null 2>&1");
        for (int32_t i = 0; i < d.objs.count; ++i) {
            const objent *e = &d.objs.items[i];
            if (!e->has_stream || e->in_objstm || e->data_end <= e->data_pos) continue;
            const std::string theirs = prefix + "-" + std::to_string(e->num);
            if (!plenvo_test::file_exists(theirs)) continue;
            const std::string q = plenvo_test::read_file(theirs);
            const std::string raw(reinterpret_cast<const char *>(d.data + e->data_pos),
                                  static_cast<size_t>(e->data_end - e->data_pos));
            buf b{};
            int32_t n = 0;
            const uint8_t *p = decoded_stream(&d, e, &b, &n);
            if (p) {
                const std::string ours(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
                // qpdf leaves data it cannot decode as stored.
                if (q != raw || ours == raw) {
                    EXPECT_EQ(ours.size(), q.size()) << path << " object " << e->num;
                    EXPECT_TRUE(ours == q) << path << " object " << e->num;
                } else {
                    ++kept_raw;
                }
                ++compared;
                if (ours != raw) ++filtered;
            } else {
                EXPECT_EQ(q, raw) << "refused what qpdf decodes: " << path << " object " << e->num;
                ++refused;
            }
            buf_free(&b);
        }
        doc_free(&d);
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(filtered, 50);
    std::printf("%d streams decoded (%d of them filtered), %d of these left stored by qpdf, %d refused\n",
                compared, filtered, kept_raw, refused);
}
