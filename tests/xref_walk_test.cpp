// The cross-reference walk: /Root, /Info and /Encrypt from the trailers of a classic
// section and from the dictionaries of cross-reference streams, reached from
// the last "startxref".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "reader/doc.h"

using namespace plenvo;

namespace {

struct walked {
    int32_t root;
    int32_t encrypted;
    int32_t info;
};

walked walk(const std::string &bytes) {
    doc d;
    std::memset(&d, 0, sizeof d);
    d.root = -1;
    d.info = -1;
    d.len = static_cast<int32_t>(bytes.size());
    d.data = static_cast<uint8_t *>(std::malloc(bytes.size() + 1));
    std::memcpy(d.data, bytes.data(), bytes.size());
    xref_walk(&d);
    walked w{d.root, d.encrypted, d.info};
    doc_free(&d);
    return w;
}

// Appends "startxref <offset of marker>" to s; marker must occur in s.
std::string with_startxref(const std::string &s, const std::string &marker) {
    size_t at = s.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    return s + "startxref\n" + std::to_string(at) + "\n%%EOF\n";
}

const std::string TABLE = "xref\n0 1\n0000000000 65535 f \n";

// A cross-reference stream object "num 0 obj <<dict>> stream ... endstream endobj".
std::string xref_stream(int num, const std::string &dict) {
    return std::to_string(num) + " 0 obj\n<< /Type /XRef " + dict + " >>\nstream\nxx\nendstream\nendobj\n";
}

}  // namespace

// ---------------- classic sections ----------------

TEST(ClassicTrailer, LastTrailerWithUsableRootDecides) {
    std::string s = "%PDF-1.4\n" + TABLE + "trailer\n<< /Root 1 0 R >>\ntrailer\n<< /Root 7 0 R >>\n";
    EXPECT_EQ(walk(with_startxref(s, "xref")).root, 7);
    // A later trailer without a usable /Root does not undo an earlier one.
    s = "%PDF-1.4\n" + TABLE + "trailer\n<< /Root 1 0 R >>\ntrailer\n<< /Root /None >>\n";
    EXPECT_EQ(walk(with_startxref(s, "xref")).root, 1);
}

TEST(ClassicTrailer, FirstUsableRootOccurrenceInTheTrailer) {
    std::string s = TABLE + "trailer\n<< /Root /Catalog /Root 3 0 R >>\n";
    EXPECT_EQ(walk(with_startxref(s, "xref")).root, 3);
}

TEST(ClassicTrailer, EncryptInATrailer) {
    std::string s = TABLE + "trailer\n<< /Root 1 0 R /Encrypt 9 0 R >>\n";
    walked w = walk(with_startxref(s, "xref"));
    EXPECT_EQ(w.root, 1);
    EXPECT_EQ(w.encrypted, 1);
}

TEST(ClassicTrailer, ExtentEndsAtTheNextStartxref) {
    // The /Root after "startxref" belongs to no trailer's extent.
    std::string s = TABLE + "trailer\n<< /Size 1 >>\nstartxref\n0\n%%EOF\n/Root 5 0 R /Encrypt 1 0 R\n";
    walked w = walk(s);
    EXPECT_EQ(w.root, -1);
    EXPECT_EQ(w.encrypted, 0);
}

TEST(ClassicTrailer, TrailerWithoutDictionaryIsPassedOver) {
    std::string s = TABLE + "trailer\n/Root 5 0 R\n";
    EXPECT_EQ(walk(with_startxref(s, "xref")).root, -1);
}

TEST(ClassicTrailer, OffsetMayPointAtWhiteSpaceBeforeXref) {
    std::string s = "%PDF-1.4\n  \n" + TABLE + "trailer\n<< /Root 2 0 R >>\n";
    EXPECT_EQ(walk(with_startxref(s, "  \n")).root, 2);
}

TEST(ClassicTrailer, OffsetAtAnythingElseReadsNothing) {
    std::string s = "garbage\n" + TABLE + "trailer\n<< /Root 2 0 R /Encrypt 3 0 R >>\n";
    walked w = walk(with_startxref(s, "garbage"));
    EXPECT_EQ(w.root, -1);
    EXPECT_EQ(w.encrypted, 0);
}

TEST(ClassicTrailer, OffsetOutOfRange) {
    std::string body = TABLE + "trailer\n<< /Root 2 0 R /Encrypt 3 0 R >>\n";
    for (const std::string &off : {std::string("-5"), std::to_string(body.size() + 100), std::string("x"),
                                   std::string("99999999999")}) {
        walked w = walk(body + "startxref\n" + off + "\n%%EOF\n");
        EXPECT_EQ(w.root, -1) << off;
        EXPECT_EQ(w.encrypted, 0) << off;
    }
}

TEST(ClassicTrailer, OnlyTheLastStartxrefCounts) {
    std::string s = TABLE + "trailer\n<< /Root 2 0 R >>\nstartxref\n0\n%%EOF\n";
    // A later "startxref" that points at nothing readable ends the walk.
    EXPECT_EQ(walk(s + "startxref\n3\n%%EOF\n").root, -1);
    EXPECT_EQ(walk(s).root, 2);
}

TEST(ClassicTrailer, IncrementalUpdateReadsOnlyTrailersAfterTheNewestTable) {
    std::string old_part = TABLE + "trailer\n<< /Root 1 0 R /Encrypt 5 0 R >>\nstartxref\n0\n%%EOF\n";
    std::string update = "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 8 0 R /Prev 0 >>\n";
    std::string s = old_part + update + "startxref\n" + std::to_string(old_part.size()) + "\n%%EOF\n";
    walked w = walk(s);
    EXPECT_EQ(w.root, 8);
    EXPECT_EQ(w.encrypted, 0);  // only in the older trailer, before the table read
}

TEST(ClassicTrailer, ManyTrailersStayLinear) {
    // Each trailer's extent reaches the one "startxref" at the end.
    std::string s = TABLE;
    for (int k = 0; k < 100000; ++k) s += "trailer << /Root /X /Root /Y >>\n";
    s += "trailer << /Root 4 0 R >>\n";
    walked w = walk(with_startxref(s, "xref"));
    EXPECT_EQ(w.root, 4);
}

TEST(ClassicTrailer, InfoOfTheTrailerThatGaveRoot) {
    const struct {
        const char *trailers;
        int32_t info;
    } cases[] = {
        {"trailer\n<< /Root 1 0 R /Info 5 0 R >>\n", 5},
        {"trailer\n<< /Info 5 0 R /Root 1 0 R >>\n", 5},
        {"trailer\n<< /Root 1 0 R >>\n", -1},
        // A later trailer with /Root decides, with its own /Info or none.
        {"trailer\n<< /Root 1 0 R /Info 5 0 R >>\ntrailer\n<< /Root 1 0 R /Info 8 0 R >>\n", 8},
        {"trailer\n<< /Root 1 0 R /Info 5 0 R >>\ntrailer\n<< /Root 1 0 R >>\n", -1},
        // One without a usable /Root leaves the earlier answer.
        {"trailer\n<< /Root 1 0 R /Info 5 0 R >>\ntrailer\n<< /Info 9 0 R >>\n", 5},
    };
    for (const auto &c : cases) {
        const std::string s = "%PDF-1.4\n" + TABLE + c.trailers;
        EXPECT_EQ(walk(with_startxref(s, "xref")).info, c.info) << c.trailers;
    }
    std::string x = "%PDF-1.5\n" + xref_stream(12, "/Root 4 0 R /Info 7 0 R");
    EXPECT_EQ(walk(with_startxref(x, "12 0 obj")).info, 7);
    x = "%PDF-1.5\n" + xref_stream(12, "/Root 4 0 R");
    EXPECT_EQ(walk(with_startxref(x, "12 0 obj")).info, -1);
}

// ---------------- cross-reference streams ----------------

TEST(XrefStream, RootAndEncryptFromTheStreamDictionary) {
    std::string s = "%PDF-1.5\n" + xref_stream(12, "/Root 4 0 R /Encrypt 12 0 R");
    walked w = walk(with_startxref(s, "12 0 obj"));
    EXPECT_EQ(w.root, 4);
    EXPECT_EQ(w.encrypted, 1);
}

TEST(XrefStream, ClassicTrailerRootWinsOverTheStreamChain) {
    std::string s = "%PDF-1.5\n" + TABLE + "trailer\n<< /Root 9 0 R >>\n";
    const size_t table = s.find("xref");
    s += xref_stream(20, "/Root 4 0 R /Prev " + std::to_string(table));
    walked w = walk(with_startxref(s, "20 0 obj"));
    EXPECT_EQ(w.root, 9);
}

TEST(XrefStream, NewestStreamRootWins) {
    std::string s = "%PDF-1.5\n" + xref_stream(10, "/Root 3 0 R");
    const size_t older = s.find("10 0 obj");
    s += xref_stream(11, "/Root 6 0 R /Prev " + std::to_string(older));
    EXPECT_EQ(walk(with_startxref(s, "11 0 obj")).root, 6);
    // Without /Root in the newest one, the older one gives it.
    std::string t = "%PDF-1.5\n" + xref_stream(10, "/Root 3 0 R");
    t += xref_stream(11, "/Prev " + std::to_string(older));
    EXPECT_EQ(walk(with_startxref(t, "11 0 obj")).root, 3);
}

TEST(XrefStream, CycleStopsAfter32Streams) {
    // A stream whose /Prev points at itself is read 32 times, then the walk ends.
    std::string s = "%PDF-1.5\n";
    const size_t self = s.size();
    s += xref_stream(5, "/Prev " + std::to_string(self) + " /Root 2 0 R");
    walked w = walk(with_startxref(s, "5 0 obj"));
    EXPECT_EQ(w.root, 2);
}

TEST(XrefStream, ChainIsReadUpToTheThirtySecondStream) {
    // Streams 1..40, each /Prev to the one before; the walk starts at 40.
    // /Encrypt in stream 9 (the 32nd read) counts, in stream 8 (the 33rd) not.
    for (int marked : {9, 8}) {
        std::string s = "%PDF-1.5\n";
        size_t prev = 0;
        for (int k = 1; k <= 40; ++k) {
            const size_t at = s.size();
            std::string dict = k > 1 ? "/Prev " + std::to_string(prev) : "";
            if (k == marked) dict += " /Encrypt 99 0 R";
            s += xref_stream(k, dict);
            prev = at;
        }
        s += "startxref\n" + std::to_string(prev) + "\n%%EOF\n";
        EXPECT_EQ(walk(s).encrypted, marked == 9 ? 1 : 0) << marked;
    }
}

TEST(XrefStream, UnusablePrevEndsTheWalk) {
    std::string s = "%PDF-1.5\n" + TABLE + "trailer\n<< /Root 9 0 R >>\n";
    s += xref_stream(20, "/Prev -3 /Root 4 0 R");
    EXPECT_EQ(walk(with_startxref(s, "20 0 obj")).root, 4);
    std::string t = "%PDF-1.5\n" + TABLE + "trailer\n<< /Root 9 0 R >>\n";
    t += xref_stream(20, "/Prev 999999 /Root 4 0 R");
    EXPECT_EQ(walk(with_startxref(t, "20 0 obj")).root, 4);
}

TEST(XrefStream, HeaderWithoutObjKeywordStops) {
    std::string s = "%PDF-1.5\n12 0 R << /Root 4 0 R >>\n";
    EXPECT_EQ(walk(with_startxref(s, "12 0 R")).root, -1);
}

TEST(XrefStream, DictionaryExtentEndsAtItsStreamKeyword) {
    // /Encrypt in the stream data is outside the dictionary.
    std::string s = "%PDF-1.5\n7 0 obj\n<< /Root 4 0 R >>\nstream\n/Encrypt 1 0 R\nendstream\nendobj\n";
    walked w = walk(with_startxref(s, "7 0 obj"));
    EXPECT_EQ(w.root, 4);
    EXPECT_EQ(w.encrypted, 0);
}

TEST(XrefWalk, NoStartxrefLeavesTheDefaults) {
    walked w = walk("1 0 obj << /Type /Catalog >> endobj trailer << /Root 1 0 R /Encrypt 2 0 R >>");
    EXPECT_EQ(w.root, -1);
    EXPECT_EQ(w.encrypted, 0);
}

TEST(XrefWalk, StartxrefFarFromTheEnd) {
    // More than 64 KiB of other bytes after the last "startxref".
    // An earlier, unusable one must not be taken; "xstartxref" is no keyword.
    std::string s = TABLE + "trailer\n<< /Root 6 0 R >>\n" + "startxref\n999999999\n" + "startxref\n0\n%%EOF\n" +
        std::string(70000, 'x') + "xstartxref";
    EXPECT_EQ(walk(s).root, 6);
    // The same file with the last one made unusable ends the walk.
    std::string u = TABLE + "trailer\n<< /Root 6 0 R >>\n" + "startxref\n0\n" + "startxref\n999999999\n" +
                    std::string(70000, 'x');
    EXPECT_EQ(walk(u).root, -1);
}
