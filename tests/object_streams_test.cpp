// Object streams: decoding, the header of number/offset pairs, the members
// appended to the table, and their precedence against direct objects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reader/doc.h"
#include "reader/scan_phases.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using plenvo_test::zlib_compress;

namespace {

struct test_doc {
    doc d;
    explicit test_doc(const std::string &bytes) {
        std::memset(&d, 0, sizeof d);
        d.root = -1;
        d.catalog = -1;
        d.len = static_cast<int32_t>(bytes.size());
        d.data = static_cast<uint8_t *>(std::malloc(bytes.size() + 1));
        std::memcpy(d.data, bytes.data(), bytes.size());
    }
    ~test_doc() { doc_free(&d); }
    test_doc(const test_doc &) = delete;
    test_doc &operator=(const test_doc &) = delete;

    // Scan and object streams, without duplicate resolution.
    void read() {
        scan_objects(&d);
        read_object_streams(&d, objstm_flags(&d, d.objs.count));
    }
    std::vector<objent> members() const {
        std::vector<objent> out;
        for (int32_t i = 0; i < d.objs.count; ++i)
            if (d.objs.items[i].in_objstm) out.push_back(d.objs.items[i]);
        return out;
    }
};

std::string text_of(const objent &m) { return std::string(reinterpret_cast<const char *>(m.text), m.text_len); }

// A file holding object stream 10 with the given data and dictionary keys,
// plus the given extra objects before it.
std::string objstm_file(const std::string &data, const std::string &keys, const std::string &before = "") {
    return "%PDF-1.5\n" + before + "10 0 obj\n<< /Type /ObjStm /Length " + std::to_string(data.size()) + " " + keys +
           " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

// The example stream: members 5 and 6 after an 8-byte header.
const std::string EXAMPLE = std::string("5 0 6 9 ") + "<</A 1>> " + "<</B 2>>";

}  // namespace

// ---------------- decoding and members ----------------

TEST(ObjectStreams, UncompressedStreamGivesTwoMembers) {
    test_doc t(objstm_file(EXAMPLE, "/N 2 /First 8"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].num, 5);
    EXPECT_EQ(text_of(m[0]), "<</A 1>> ");
    EXPECT_EQ(m[1].num, 6);
    EXPECT_EQ(text_of(m[1]), "<</B 2>>");
    EXPECT_EQ(m[0].gen, 0);
    EXPECT_EQ(m[0].hdr_pos, -1);
    EXPECT_EQ(m[0].dict_pos, -1);
    EXPECT_EQ(m[0].has_stream, 0);
    // The text lives in an arena block, not in the file.
    EXPECT_EQ(t.d.arena.count, 1);
    EXPECT_TRUE(m[0].text < t.d.data || m[0].text >= t.d.data + t.d.len);
}

TEST(ObjectStreams, FlateStreamGivesTheSameMembers) {
    test_doc t(objstm_file(zlib_compress(EXAMPLE), "/N 2 /First 8 /Filter /FlateDecode"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].num, 5);
    EXPECT_EQ(text_of(m[0]), "<</A 1>> ");
    EXPECT_EQ(m[1].num, 6);
    EXPECT_EQ(text_of(m[1]), "<</B 2>>");
}

TEST(ObjectStreams, HighlyCompressedDataIsRetriedWithMoreRoom) {
    // 200 KiB of spaces after the header: far more than 8 x the compressed size.
    const std::string data = "5 0 " + std::string(200 * 1024, ' ') + "<</Big 1>>";
    const std::string z = zlib_compress(data, 9);
    ASSERT_GT(data.size(), 8 * z.size() + 64);
    test_doc t(objstm_file(z, "/N 1 /First 4 /Filter /FlateDecode"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text_len, static_cast<int32_t>(data.size() - 4));
    EXPECT_EQ(t.d.arena.count, 1);  // the buffer that was too small is released
}

TEST(ObjectStreams, BadNOrFirstGivesNoMembers) {
    for (const std::string &keys : {std::string("/N 0 /First 8"), std::string("/N 100001 /First 8"),
                                    std::string("/N 2 /First 26"), std::string("/N 2"),
                                    std::string("/N -2 /First 8"), std::string("/N 2 /First -1")}) {
        test_doc t(objstm_file(EXAMPLE, keys));
        t.read();
        EXPECT_TRUE(t.members().empty()) << keys;
    }
    // The first usable occurrence counts: /N 0 then /N 2.
    test_doc t(objstm_file(EXAMPLE, "/N 0 /First 8 /N 2"));
    t.read();
    EXPECT_EQ(t.members().size(), 2u);
}

TEST(ObjectStreams, FirstEqualToTheDataLengthIsAccepted) {
    // /First at the very end of the data: allowed, but the one member is empty.
    test_doc t(objstm_file("5 0", "/N 1 /First 3"));
    t.read();
    EXPECT_TRUE(t.members().empty());
}

TEST(ObjectStreams, NegativeHeaderValueDropsTheWholeStream) {
    test_doc t(objstm_file("5 0 6 -9 <</A 1>> <</B 2>>", "/N 2 /First 9"));
    t.read();
    EXPECT_TRUE(t.members().empty());
    // A header cut short counts as damaged too.
    test_doc u(objstm_file("5 0 6", "/N 2 /First 5"));
    u.read();
    EXPECT_TRUE(u.members().empty());
}

TEST(ObjectStreams, PlusSignInTheHeaderIsAccepted) {
    test_doc t(objstm_file("+5 0 6 +9 <</A 1>> <</B 2>>", "/N 2 /First 10"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].num, 5);
    EXPECT_EQ(m[1].num, 6);
}

TEST(ObjectStreams, EqualOffsetsPassOverOnlyThatMember) {
    test_doc t(objstm_file("5 0 6 0 7 9 <</A 1>> <</B 2>>", "/N 3 /First 12"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].num, 6);
    EXPECT_EQ(text_of(m[0]), "<</A 1>> ");
    EXPECT_EQ(m[1].num, 7);
}

TEST(ObjectStreams, NumberZeroIsPassedOver) {
    test_doc t(objstm_file("0 0 6 9 <</A 1>> <</B 2>>", "/N 2 /First 8"));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].num, 6);
}

TEST(ObjectStreams, OversizedMemberIsPassedOver) {
    const std::string big = "<<" + std::string(0x100000, ' ') + ">>";
    const std::string header = "5 0 6 " + std::to_string(big.size()) + " ";
    const std::string data = header + big + "<</B 2>>";
    test_doc t(objstm_file(data, "/N 2 /First " + std::to_string(header.size())));
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].num, 6);
    EXPECT_EQ(text_of(m[0]), "<</B 2>>");
}

TEST(ObjectStreams, MemberReachingPastTheDataIsPassedOver) {
    // Offsets out of order: member 5 would run from 0 to 400, past the data.
    test_doc t(objstm_file("5 0 6 400 7 9 <</A 1>> <</B 2>>", "/N 3 /First 14"));
    t.read();
    auto m = t.members();
    // Member 6 gets a negative length; member 7 runs from 9 to the end.
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].num, 7);
    EXPECT_EQ(text_of(m[0]), "<</B 2>>");
}

TEST(ObjectStreams, DataCutShortAddsNothingAndKeepsNoMemory) {
    const std::string z = zlib_compress(EXAMPLE + std::string(5000, 'x'));
    test_doc t(objstm_file(z.substr(0, z.size() / 2), "/N 2 /First 8 /Filter /FlateDecode"));
    t.read();
    EXPECT_TRUE(t.members().empty());
    EXPECT_EQ(t.d.arena.count, 0);
}

TEST(ObjectStreams, DamagedHeaderOfTheZlibDataAddsNothing) {
    std::string z = zlib_compress(EXAMPLE);
    z[0] = 0x7F;  // not deflate
    test_doc t(objstm_file(z, "/N 2 /First 8 /Filter /FlateDecode"));
    t.read();
    EXPECT_TRUE(t.members().empty());
    EXPECT_EQ(t.d.arena.count, 0);
}

TEST(ObjectStreams, FirstBufferAbove1GiBGivesNoMembers) {
    // A Flate object stream of 135 MB: its first buffer (8 x + 64) exceeds
    // 2^30 bytes, which the decoder refuses; it is past the retry limit too.
    const size_t n = 135u * 1000 * 1000;
    const std::string head = "10 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Filter /FlateDecode >>\nstream\n";
    const std::string tail = "\nendstream\nendobj\n";
    doc d;
    std::memset(&d, 0, sizeof d);
    d.root = -1;
    d.len = static_cast<int32_t>(head.size() + n + tail.size());
    d.data = static_cast<uint8_t *>(std::calloc(static_cast<size_t>(d.len), 1));
    if (!d.data) GTEST_SKIP() << "no memory for the test file";
    std::memcpy(d.data, head.data(), head.size());
    std::memcpy(d.data + head.size() + n, tail.data(), tail.size());
    scan_objects(&d);
    ASSERT_EQ(d.objs.count, 1);
    EXPECT_EQ(d.objs.items[0].data_len, static_cast<int32_t>(n));
    read_object_streams(&d, objstm_flags(&d, d.objs.count));
    EXPECT_EQ(d.objs.count, 1);
    EXPECT_EQ(d.arena.count, 0);
    doc_free(&d);
}

TEST(ObjectStreams, MembersAreNeverOpenedAsObjectStreams) {
    // Member 5 looks like an object stream dictionary: it stays a member.
    const std::string data = "5 0 <</Type /ObjStm /N 1 /First 0>>";
    test_doc t(objstm_file(data, "/N 1 /First 4"));
    t.read();
    ASSERT_EQ(t.members().size(), 1u);
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 1);
    EXPECT_EQ(t.d.objs.items[0].num, 5);
}

TEST(ObjectStreams, MembersFollowTableOrderThenHeaderOrder) {
    std::string f = "%PDF-1.5\n20 0 obj\n<< /Type /ObjStm /N 2 /First 8 /Length " + std::to_string(EXAMPLE.size()) +
                    " >>\nstream\n" + EXAMPLE + "\nendstream\nendobj\n";
    f += "21 0 obj\n<< /Type /ObjStm /N 2 /First 8 /Length 11 >>\nstream\n3 0 4 2 1 2\nendstream\nendobj\n";
    test_doc t(f);
    t.read();
    auto m = t.members();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].num, 5);
    EXPECT_EQ(m[1].num, 6);
    EXPECT_EQ(m[2].num, 3);
    EXPECT_EQ(m[3].num, 4);
}

// ---------------- precedence ----------------

TEST(ObjectStreams, DirectObjectBeatsMemberOfTheSameNumber) {
    test_doc t(objstm_file(EXAMPLE, "/N 2 /First 8", "5 0 obj\n<</Direct true>>\nendobj\n"));
    t.read();
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 2);  // direct 5 and member 6; the object stream is gone
    EXPECT_EQ(t.d.objs.items[0].num, 5);
    EXPECT_EQ(t.d.objs.items[0].in_objstm, 0);
    EXPECT_EQ(t.d.objs.items[1].num, 6);
    EXPECT_EQ(t.d.objs.items[1].in_objstm, 1);
    EXPECT_EQ(t.d.max_num, 6);
}

TEST(ObjectStreams, ObjectStreamSharingItsNumberWithADirectObject) {
    // Direct object 10 and object stream 10: the stream is still read, and
    // only the direct object 10 stays.
    test_doc t(objstm_file(EXAMPLE, "/N 2 /First 8", "10 0 obj\n(direct)\nendobj\n"));
    t.read();
    EXPECT_EQ(t.members().size(), 2u);
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 3);
    int tens = 0;
    for (int32_t i = 0; i < t.d.objs.count; ++i)
        if (t.d.objs.items[i].num == 10) {
            ++tens;
            EXPECT_EQ(t.d.objs.items[i].has_stream, 0);
        }
    EXPECT_EQ(tens, 1);
}

TEST(ObjectStreams, LaterObjectStreamWinsAmongMembers) {
    std::string f = "%PDF-1.5\n20 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length 12 >>\nstream\n5 0 <</A 1>>\nendstream\nendobj\n";
    f += "21 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length 12 >>\nstream\n5 0 <</B 2>>\nendstream\nendobj\n";
    test_doc t(f);
    t.read();
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 1);
    EXPECT_EQ(text_of(t.d.objs.items[0]), "<</B 2>>");
}

// ---------------- whole loads ----------------

TEST(ObjectStreamsLoad, CatalogAndPagesInsideAnObjectStream) {
    const std::string members[] = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>"};
    std::string header, body;
    for (int k = 0; k < 3; ++k) {
        header += std::to_string(k + 1) + " " + std::to_string(body.size()) + " ";
        body += members[k] + "\n";
    }
    const std::string data = header + body;
    const std::string z = zlib_compress(data);
    std::string f = "%PDF-1.5\n9 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(header.size()) +
                    " /Filter /FlateDecode /Length 11 0 R >>\nstream\n" + z + "\nendstream\nendobj\n";
    // The length object itself lives in the object stream's neighbourhood.
    f += "11 0 obj\n" + std::to_string(z.size()) + "\nendobj\n";
    f += "trailer\n<< /Root 1 0 R >>\n";
    doc d;
    ASSERT_EQ(doc_load_bytes(reinterpret_cast<const uint8_t *>(f.data()), f.size(), "mem", &d), 0);
    EXPECT_EQ(d.pages.count, 1);
    EXPECT_EQ(d.catalog, 1);
    doc_free(&d);
}

TEST(ObjectStreamsLoad, BrokenObjectStreamDoesNotStopTheLoad) {
    std::string f = plenvo_test::simple_pdf(2);
    const std::string z = zlib_compress(EXAMPLE + std::string(3000, 'q'));
    f += "30 0 obj\n<< /Type /ObjStm /N 2 /First 8 /Filter /FlateDecode /Length 40 >>\nstream\n" +
         z.substr(0, 40) + "\nendstream\nendobj\n";
    doc d;
    ASSERT_EQ(doc_load_bytes(reinterpret_cast<const uint8_t *>(f.data()), f.size(), "mem", &d), 0);
    EXPECT_EQ(d.pages.count, 2);
    EXPECT_EQ(d.arena.count, 0);
    doc_free(&d);
}

TEST(ObjectStreamsLoad, CorpusRewrittenWithObjectStreams) {
    auto files = plenvo_test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    if (!plenvo_test::have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    const std::string dir = plenvo_test::temp_dir();
    int checked = 0;
    for (const auto &f : files) {
        doc orig;
        if (doc_load(f.c_str(), &orig) != 0) continue;  // refused as it is (encrypted, broken tree)
        const int32_t pages = orig.pages.count;
        doc_free(&orig);
        const std::string out = dir + "/rewritten.pdf";
        // qpdf exits with 3 on warnings; the file is written all the same.
        int rc = plenvo_test::run_command("qpdf --object-streams=generate '" + f + "' '" + out + "' 2>/dev/null");
        if (rc != 0 && rc != 3) continue;
        doc d;
        ASSERT_EQ(doc_load(out.c_str(), &d), 0) << f;
        EXPECT_GT(d.objs.count, 0) << f;
        int32_t members = 0;
        for (int32_t i = 0; i < d.objs.count; ++i) members += d.objs.items[i].in_objstm;
        EXPECT_GT(members, 0) << f;
        EXPECT_EQ(d.pages.count, pages) << f;
        doc_free(&d);
        ++checked;
    }
    EXPECT_GT(checked, 20);
}
