// The direct object scan: object headers, where stream data begins and ends,
// the clean-up of false hits, duplicate resolution, and the same table as a
// plain position-by-position reading of the file gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "reader/doc.h"
#include "reader/scan.h"
#include "reader/scan_phases.h"
#include "support/pdf_builder.h"

using namespace plenvo;

namespace {

// A document record over the given bytes, freed at the end of the scope.
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

    std::vector<objent> entries() const { return {d.objs.items, d.objs.items + d.objs.count}; }
    // Entries with number num, in table order.
    std::vector<objent> with_num(int32_t num) const {
        std::vector<objent> out;
        for (const objent &e : entries())
            if (e.num == num) out.push_back(e);
        return out;
    }
    int32_t pos_of(const std::string &needle, size_t from = 0) const {
        std::string s(reinterpret_cast<const char *>(d.data), static_cast<size_t>(d.len));
        size_t p = s.find(needle, from);
        return p == std::string::npos ? -1 : static_cast<int32_t>(p);
    }
};

// Scan, extents and clean-up.
std::vector<objent> scan(test_doc &t) {
    scan_objects(&t.d);
    return t.entries();
}

// ---- a plain reading, position by position, for comparison ----

// The header before the "obj" at o, read backwards; numbers beyond 32 bits
// make no header.
bool ref_header(const uint8_t *t, int32_t o, objent *e) {
    auto space = [](uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); };
    auto value = [](const std::string &digits, int32_t *out) {
        int64_t v = 0;
        for (char c : digits) {
            v = v * 10 + (c - '0');
            if (v > 0x7FFFFFFF) return false;
        }
        *out = static_cast<int32_t>(v);
        return true;
    };
    int32_t i = o - 1;
    std::string gen, num;
    if (i < 0 || !space(t[i])) return false;
    while (i >= 0 && space(t[i])) --i;
    while (i >= 0 && is_digit(t[i])) gen.insert(gen.begin(), static_cast<char>(t[i--]));
    if (gen.empty() || i < 0 || !space(t[i])) return false;
    while (i >= 0 && space(t[i])) --i;
    while (i >= 0 && is_digit(t[i])) num.insert(num.begin(), static_cast<char>(t[i--]));
    if (num.empty() || (i >= 0 && is_alnum(t[i]))) return false;
    if (!value(num, &e->num) || !value(gen, &e->gen) || e->num <= 0) return false;
    e->hdr_pos = i + 1;
    return true;
}

std::vector<objent> reference_scan(const uint8_t *t, int32_t len) {
    std::vector<objent> v;
    if (len <= 3) return v;
    for (int32_t p = 0; p <= len - 4; ++p) {
        if (!kw_at(t, p, len, "obj")) continue;
        objent e{};
        e.hdr_pos = e.dict_pos = e.stream_pos = e.data_pos = e.data_end = e.endobj_pos = e.end_pos = e.data_len = -1;
        if (!ref_header(t, p, &e)) continue;
        int32_t v0 = skip_ws(t, p + 3, len);
        int32_t from = p + 3;
        if (v0 < len && t[v0] == '<') {
            e.dict_pos = v0;
            from = v0;
            int32_t s = dict_stream_kw(t, len, v0);
            if (s >= 0) {
                e.stream_pos = s;
                e.has_stream = 1;
                int32_t a = s + 6;
                if (a >= len) {
                    e.data_pos = a;
                } else {
                    int32_t i = a;
                    while (i < len && (t[i] == ' ' || t[i] == '\t')) ++i;
                    if (i < len && t[i] == '\n')
                        e.data_pos = i + 1;
                    else if (i < len && t[i] == '\r')
                        e.data_pos = (i + 1 < len && t[i + 1] == '\n') ? i + 2 : i + 1;
                    else
                        e.data_pos = a + 1;
                }
                v.push_back(e);
                continue;
            }
        }
        int32_t ep = find_kw(t, len, from, "endobj");
        if (ep < 0) continue;
        e.endobj_pos = ep;
        e.end_pos = ep + 6;
        v.push_back(e);
    }
    for (objent &e : v) {
        if (!e.has_stream) continue;
        int32_t L, R;
        parse_length(t, len, e.dict_pos, e.stream_pos, &L, &R);
        if (L == -1 && R >= 0) {
            for (const objent &o : v)
                if (o.num == R) {
                    if (!o.has_stream) L = read_obj_int_value(t, len, o.hdr_pos);
                    break;
                }
        }
        bool ok = false;
        if (L >= 0) {
            int64_t E = static_cast<int64_t>(e.data_pos) + L;
            if (E < len) {
                int64_t i = E;
                while (i < len && (t[i] == ' ' || (t[i] >= 9 && t[i] <= 13))) ++i;
                if (i + 9 <= len && std::memcmp(t + i, "endstream", 9) == 0) {
                    e.data_end = static_cast<int32_t>(E);
                    ok = true;
                }
            }
        }
        if (!ok) {
            int32_t y = find_kw(t, len, e.data_pos + 1, "endstream");
            if (y < 0) {
                e.data_end = len;
                e.no_endstream = 1;
            } else {
                e.data_end = y;
                if (t[y - 1] == '\n') {
                    e.data_end = y - 1;
                    if (y - 2 >= e.data_pos && t[y - 2] == '\r') e.data_end = y - 2;
                } else if (t[y - 1] == '\r') {
                    e.data_end = y - 1;
                }
            }
        }
        if (e.data_end < e.data_pos) e.data_end = e.data_pos;
        e.data_len = e.data_end - e.data_pos;
        int32_t ep = find_kw(t, len, e.data_end + 1, "endobj");
        e.endobj_pos = ep;
        e.end_pos = ep >= 0 ? ep + 6 : -1;
    }
    std::vector<objent> out;
    for (const objent &e : v) {
        bool drop = e.has_stream && e.endobj_pos < 0;
        for (const objent &s : v)
            if (s.has_stream && s.data_pos >= 0 && s.data_pos < s.data_end && s.data_pos <= e.hdr_pos &&
                e.hdr_pos < s.data_end)
                drop = true;
        if (!drop) out.push_back(e);
    }
    return out;
}

void expect_same_tables(const std::vector<objent> &got, const std::vector<objent> &want, const std::string &what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t k = 0; k < got.size(); ++k) {
        const objent &a = got[k], &b = want[k];
        SCOPED_TRACE(what + " entry " + std::to_string(k));
        EXPECT_EQ(a.num, b.num);
        EXPECT_EQ(a.gen, b.gen);
        EXPECT_EQ(a.hdr_pos, b.hdr_pos);
        EXPECT_EQ(a.dict_pos, b.dict_pos);
        EXPECT_EQ(a.stream_pos, b.stream_pos);
        EXPECT_EQ(a.data_pos, b.data_pos);
        EXPECT_EQ(a.data_end, b.data_end);
        EXPECT_EQ(a.endobj_pos, b.endobj_pos);
        EXPECT_EQ(a.end_pos, b.end_pos);
        EXPECT_EQ(a.data_len, b.data_len);
        EXPECT_EQ(a.has_stream, b.has_stream);
        EXPECT_EQ(a.no_endstream, b.no_endstream);
        if (::testing::Test::HasFailure()) return;
    }
}

// Random texts made of PDF-ish pieces, dense in the constructs the scan cares for.
std::string token_soup(std::mt19937 &rng, int pieces) {
    static const char *const tok[] = {
        "1 0 obj",   " 2 0 obj ", "\n3 0 obj\n", "12 0 obj", "<<",       ">>",        "<",         ">",
        "(",         ")",         "\\",         " ",        "\n",       "\r\n",      "stream",    "stream\n",
        "stream\r\n", "endstream", "\nendstream", "endobj", "/Length 5", "/Length 3 0 R", "/Length [2 4]",
        "/Length 12 0 R", "HELLO",  "5",         "0",        "R",        "/Type/ObjStm", "<a>",     "%",
        "4 0 obj 5 endobj", "3 0 obj 7 endobj", "\x01", "\t", "obj", "x", "99999999999 0 obj",
        "/Length [", "]", "/Length ", "/Length", "7", " R", "-3", "/Length1 4", "/N 1 /First 0 ", "1 0 R",
        "<a>", "<a>", "stream\n", ">>stream\n",
    };
    const int n = static_cast<int>(sizeof tok / sizeof tok[0]);
    std::string s;
    for (int k = 0; k < pieces; ++k) s += tok[std::uniform_int_distribution<int>(0, n - 1)(rng)];
    return s;
}

// Random objects whose values often open with a single '<' or leave their
// dictionary open, so that dictionary regions of several objects overlap.
std::string overlapping_soup(std::mt19937 &rng, int objects) {
    static const char *const open[] = {"<41> ", "<< ", "<<", "<", "<< /A << ", "5 ", "(", "<<("};
    static const char *const body[] = {"/Length 5 ", "/Length [1 2] ", "/Length [ ", "] ", "/Length 3 0 R ",
                                       "/Length /X ", "/Length", " R", "/Type /ObjStm ", "/N 2 ", "/First 0 ",
                                       "<< ", ">> ", "(x) ", "(", ")", "\\", "3 0 obj 4 endobj ", "7 ", "\n"};
    static const char *const close[] = {">> stream\nHELLO\nendstream endobj\n", ">>stream\r\nAB\r\nendstream\nendobj\n",
                                        ">> endobj\n", "endobj\n", ">> stream\n", "", ")>> stream\nX\nendstream endobj\n"};
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::string s;
    for (int k = 0; k < objects; ++k) {
        s += std::to_string(1 + pick(6)) + " 0 obj ";
        s += open[pick(8)];
        for (int j = pick(4); j > 0; --j) s += body[pick(20)];
        s += close[pick(7)];
    }
    return s;
}

}  // namespace

// ---------------- object headers ----------------

TEST(ScanHeaders, AcceptsHeadersOnlyWithBothNumbersAndSpaces) {
    test_doc t("12 0 obj 5 endobj 0 0 obj 6 endobj 13 0obj 7 endobj x14 0 obj 8 endobj 15\v0\vobj 9 endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].num, 12);  // at the very start of the file
    EXPECT_EQ(v[0].hdr_pos, 0);
    EXPECT_EQ(v[1].num, 15);  // VT is a space byte here
}

TEST(ScanHeaders, NulIsNoSpaceByteAndTheGenerationNeedsANumberBeforeIt) {
    std::string nul = "1";
    nul += '\0';
    nul += "0 obj 5 endobj";
    test_doc a(nul);
    EXPECT_TRUE(scan(a).empty());
    test_doc b("0 obj 6 endobj");  // the generation reaches offset 0
    EXPECT_TRUE(scan(b).empty());
}

TEST(ScanHeaders, NumbersBeyond32BitsAreNoHeader) {
    // 4294967297 would read as 1 in wrapping 32-bit arithmetic.
    test_doc t("4294967297 0 obj 5 endobj 2147483648 0 obj 6 endobj 3 4294967296 obj 7 endobj "
               "00000000000000000009 0 obj 8 endobj 2147483647 0 obj 9 endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].num, 9);  // leading zeros do not overflow
    EXPECT_EQ(v[1].num, 2147483647);
}

TEST(ScanHeaders, PlainValueAndMissingEndobj) {
    test_doc t("7 0 obj 42 endobj\n8 0 obj 43 ");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].num, 7);
    EXPECT_EQ(v[0].dict_pos, -1);
    EXPECT_EQ(v[0].has_stream, 0);
    EXPECT_EQ(v[0].endobj_pos, t.pos_of("endobj"));
    EXPECT_EQ(v[0].end_pos, v[0].endobj_pos + 6);
}

// ---------------- stream extents ----------------

TEST(StreamExtents, RightLengthWithCrLf) {
    test_doc t("1 0 obj << /Length 5 >>stream\r\nHELLO\r\nendstream endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].stream_pos, t.pos_of("stream"));
    EXPECT_EQ(v[0].data_pos, t.pos_of("HELLO"));
    EXPECT_EQ(v[0].data_end, t.pos_of("HELLO") + 5);
    EXPECT_EQ(v[0].data_len, 5);
    EXPECT_EQ(v[0].endobj_pos, t.pos_of("endobj"));
    EXPECT_EQ(v[0].no_endstream, 0);
}

TEST(StreamExtents, WrongLengthFallsBackToTheKeyword) {
    test_doc t("1 0 obj << /Length 3 >>stream\r\nHELLO\r\nendstream endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].data_pos, t.pos_of("HELLO"));
    EXPECT_EQ(v[0].data_len, 5);  // the CR LF before "endstream" is not data
}

TEST(StreamExtents, DataStartVariants) {
    struct variant {
        std::string after;  // bytes right after "stream"
        int skip;           // bytes from the keyword's end to the data
    } cases[] = {{"\n", 1}, {"  \r\n", 4}, {"\r", 1}, {"\r\n", 2}, {" \t\n", 3}, {"\x01", 1}, {">", 1}, {"  x", 1}};
    for (const auto &c : cases) {
        test_doc t("1 0 obj <<>>stream" + c.after + "DATA\nendstream endobj");
        auto v = scan(t);
        ASSERT_EQ(v.size(), 1u) << c.after;
        EXPECT_EQ(v[0].data_pos, t.pos_of("stream") + 6 + c.skip) << c.after;
    }
}

TEST(StreamExtents, StreamFollowedByALetterIsNoStream) {
    test_doc t("1 0 obj <<>>streamX endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].has_stream, 0);
    EXPECT_EQ(v[0].dict_pos, t.pos_of("<<"));
    EXPECT_EQ(v[0].endobj_pos, t.pos_of("endobj"));
}

TEST(StreamExtents, IndirectLengthIsResolved) {
    // Two spaces before "endstream": the length (5) and the keyword (7) differ.
    test_doc t("1 0 obj << /Length 10 0 R >>stream\nHELLO  endstream endobj 10 0 obj 5 endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].data_len, 5);
}

TEST(StreamExtents, UnresolvableIndirectLengthUsesTheKeyword) {
    // No object 10: the stream is kept, its data found by "endstream".
    test_doc t("1 0 obj << /Length 10 0 R >>stream\nHELLO  endstream endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].data_len, 7);
    EXPECT_GE(v[0].endobj_pos, 0);
}

TEST(StreamExtents, LengthObjectWithStreamOrLaterDuplicateUsesTheFirst) {
    // Object 10 is a stream: no length from it.
    test_doc a("1 0 obj << /Length 10 0 R >>stream\nHELLO  endstream endobj "
               "10 0 obj <</Length 1>>stream\nx\nendstream endobj");
    auto v = scan(a);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].data_len, 7);
    // Two objects 10: the first in the table gives the length.
    test_doc b("10 0 obj 5 endobj 1 0 obj << /Length 10 0 R >>stream\nHELLO  endstream endobj 10 0 obj 6 endobj");
    v = scan(b);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[1].data_len, 5);
}

TEST(StreamExtents, HugeLengthDoesNotOverflow) {
    test_doc t("1 0 obj << /Length 2147483647 >>stream\nHELLO\nendstream endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].data_len, 5);
}

TEST(StreamExtents, NoEndstreamRunsToTheEnd) {
    test_doc t("1 0 obj << /Length 99 >>stream\nHELLO endobj");
    scan_headers(&t.d);
    stream_extents(&t.d);
    ASSERT_EQ(t.d.objs.count, 1);
    EXPECT_EQ(t.d.objs.items[0].data_end, t.d.len);
    EXPECT_EQ(t.d.objs.items[0].no_endstream, 1);
    EXPECT_EQ(t.d.objs.items[0].endobj_pos, -1);
    cleanup_entries(&t.d);
    EXPECT_EQ(t.d.objs.count, 0);
}

TEST(StreamExtents, EndstreamWithoutEndobjIsRemoved) {
    test_doc t("1 0 obj << /Length 5 >>stream\nHELLO\nendstream 2 0 obj 5");
    EXPECT_TRUE(scan(t).empty());
}

// ---------------- clean-up ----------------

TEST(Cleanup, FalseObjectsInsideStreamDataAreRemoved) {
    test_doc t("1 0 obj << /Length 22 >>stream\n3 0 obj << >> endobj\n\nendstream endobj 4 0 obj 1 endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].num, 1);
    EXPECT_EQ(v[1].num, 4);
}

TEST(Cleanup, NestedRangesUseTheRunningMaximum) {
    // A long stream range contains a short one; a header after the short one
    // but inside the long one must still go.
    const std::string inner = "2 0 obj <</Length 1>>stream\nx\nendstream endobj 3 0 obj 9 endobj ";
    const std::string data = inner + "PADDING";
    test_doc t("1 0 obj <</Length " + std::to_string(data.size()) + ">>stream\n" + data +
               "\nendstream endobj 4 0 obj 1 endobj");
    auto v = scan(t);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].num, 1);
    EXPECT_EQ(v[1].num, 4);
}

TEST(Cleanup, UnindexedFallbackDropsTheSameFalseHits) {
    test_doc t("1 0 obj << /Length 22 >>stream\n3 0 obj << >> endobj\n\nendstream endobj 4 0 obj 1 endobj "
               "5 0 obj <</Length 1>>stream\nx\nendstream");
    scan_headers(&t.d);
    stream_extents(&t.d);
    cleanup_entries_unindexed(&t.d);
    auto v = t.entries();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].num, 1);
    EXPECT_EQ(v[1].num, 4);
}

TEST(Cleanup, KeepsTableOrderSoTheNewerDefinitionWins) {
    // Removing the false object 9 must not move the later object 4 ahead of
    // the earlier one: the definition appended by the update has to win.
    const std::string body = "9 0 obj << >> endobj";
    test_doc t("1 0 obj << /Length " + std::to_string(body.size()) + " >>stream\n" + body +
               "\nendstream endobj\n4 0 obj (old) endobj\n5 0 obj 1 endobj\n4 0 obj (new) endobj\n");
    scan_objects(&t.d);
    ASSERT_EQ(t.d.objs.count, 4);
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    auto four = t.with_num(4);
    ASSERT_EQ(four.size(), 1u);
    EXPECT_EQ(four[0].hdr_pos, t.pos_of("4 0 obj (new)"));
}

// ---------------- duplicate resolution ----------------

TEST(Duplicates, LaterDirectDefinitionWins) {
    test_doc t("4 0 obj (a) endobj 5 0 obj 1 endobj 4 0 obj (b) endobj");
    scan_objects(&t.d);
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 2);
    EXPECT_EQ(t.d.objs.items[0].num, 5);  // the earlier 4 is gone, order kept
    EXPECT_EQ(t.d.objs.items[1].hdr_pos, t.pos_of("4 0 obj (b)"));
    EXPECT_EQ(t.d.max_num, 5);
}

TEST(Duplicates, NumberLimit) {
    test_doc t("8388607 0 obj 1 endobj 8388608 0 obj 2 endobj 2147483647 0 obj 3 endobj");
    scan_objects(&t.d);
    EXPECT_EQ(t.d.objs.count, 3);
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 1);
    EXPECT_EQ(t.d.objs.items[0].num, 8388607);
    EXPECT_EQ(t.d.max_num, 8388607);
}

TEST(Duplicates, SparseAndDenseNumberingAgree) {
    // Few objects with one large number go through the sorted path; the
    // same table with small numbers through the arrays.
    for (int32_t big : {7, 8000000}) {
        const std::string b = std::to_string(big);
        test_doc t("3 0 obj (x) endobj " + b + " 0 obj (a) endobj 3 0 obj (y) endobj " + b + " 0 obj (b) endobj");
        scan_objects(&t.d);
        resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
        ASSERT_EQ(t.d.objs.count, 2) << big;
        EXPECT_EQ(t.d.objs.items[0].hdr_pos, t.pos_of("3 0 obj (y)")) << big;
        EXPECT_EQ(t.d.objs.items[1].hdr_pos, t.pos_of(b + " 0 obj (b)")) << big;
        EXPECT_EQ(t.d.max_num, big);
    }
}

TEST(Duplicates, DirectBeatsMemberAndLatestMemberWins) {
    test_doc t("4 0 obj (direct) endobj 1 0 obj 1 endobj");
    scan_objects(&t.d);
    static const uint8_t a[] = "<</A 1>>", b[] = "<</B 2>>", c[] = "<</C 3>>";
    auto member = [&](int32_t num, const uint8_t *text) {
        objent m{};
        m.num = num;
        m.hdr_pos = m.dict_pos = m.stream_pos = m.data_pos = m.data_end = m.endobj_pos = m.end_pos = m.data_len = -1;
        m.in_objstm = 1;
        m.text = text;
        m.text_len = 8;
        objvec_push(&t.d.objs, &m);
    };
    member(4, a);  // loses to the direct object 4
    member(6, b);
    member(6, c);  // the later member 6 wins
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    ASSERT_EQ(t.d.objs.count, 3);
    auto four = t.with_num(4);
    ASSERT_EQ(four.size(), 1u);
    EXPECT_EQ(four[0].in_objstm, 0);
    auto six = t.with_num(6);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].text, c);
    EXPECT_EQ(t.d.max_num, 6);
}

// ---------------- the same table as a plain reading ----------------

TEST(ScanAgreement, RandomTextsGiveThePlainReadingsTable) {
    std::mt19937 rng(4242);
    int overlapping = 0;
    for (int round = 0; round < 6000; ++round) {
        const std::string s = round % 2 ? token_soup(rng, 10 + round % 60) : overlapping_soup(rng, 2 + round % 12);
        test_doc t(s);
        scan_headers(&t.d);
        overlapping += stream_regions_overlap(&t.d, t.d.objs.count) ? 1 : 0;
        stream_extents(&t.d);
        cleanup_entries(&t.d);
        auto got = t.entries();
        auto want = reference_scan(t.d.data, t.d.len);
        expect_same_tables(got, want, "round " + std::to_string(round));
        if (HasFailure()) {
            ADD_FAILURE() << "text: " << s;
            return;
        }
    }
    // Both ways of reading /Length and /ObjStm were exercised.
    EXPECT_GT(overlapping, 500);
    std::printf("%d of 6000 texts had overlapping dictionary regions\n", overlapping);
    EXPECT_LT(overlapping, 5500);
}

TEST(ScanAgreement, CorpusFilesCutAndChanged) {
    auto files = plenvo_test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    std::mt19937 rng(99);
    for (const auto &f : files) {
        const std::string bytes = plenvo_test::read_file(f);
        std::vector<std::string> variants = {bytes, bytes.substr(0, bytes.size() / 2)};
        for (int k = 0; k < 4; ++k) {
            std::string m = bytes;
            for (int j = 0; j < 8; ++j)
                m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] =
                    "<>()\\ \nsd0"[std::uniform_int_distribution<int>(0, 10)(rng)];
            variants.push_back(m);
        }
        for (size_t k = 0; k < variants.size(); ++k) {
            test_doc t(variants[k]);
            expect_same_tables(scan(t), reference_scan(t.d.data, t.d.len), f + " variant " + std::to_string(k));
            if (HasFailure()) return;
        }
    }
}

// ---------------- dictionary ends found in one sweep ----------------

TEST(DictCloses, SweepAgreesWithWalkingEachStart) {
    std::mt19937 rng(7);
    static const char alphabet[] = "<<<>>>(()\\ a\nstream";
    for (int round = 0; round < 4000; ++round) {
        const int n = 1 + round % 200;
        std::string s;
        for (int k = 0; k < n; ++k) s += alphabet[std::uniform_int_distribution<int>(0, sizeof alphabet - 2)(rng)];
        const uint8_t *t = reinterpret_cast<const uint8_t *>(s.data());
        const int32_t len = static_cast<int32_t>(s.size());
        std::vector<int32_t> starts;
        for (int32_t i = 0; i < len; ++i)
            if (t[i] == '<' && std::uniform_int_distribution<int>(0, 2)(rng) != 0) starts.push_back(i);
        std::vector<int32_t> closes(starts.size());
        find_dict_closes(t, len, starts.data(), starts.size(), closes.data());
        for (size_t k = 0; k < starts.size(); ++k) {
            const int32_t one = dict_close_one(t, len, starts[k]);
            ASSERT_EQ(closes[k], one) << "text '" << s << "' start " << starts[k];
            // And both agree with dict_stream_kw about the "stream" keyword.
            int32_t via_close = -1;
            if (one >= 0) {
                const int32_t p = skip_ws(t, one + 2, len);
                if (kw_at(t, p, len, "stream")) via_close = p;
            }
            ASSERT_EQ(via_close, dict_stream_kw(t, len, starts[k])) << "text '" << s << "' start " << starts[k];
        }
    }
}

// ---------------- hostile inputs stay linear ----------------
// Each of these takes hours when some pass redoes a search from every object.

TEST(Hostile, ManyObjectsWithoutEndobj) {
    std::string s;
    for (int k = 0; k < 200000; ++k) s += "1 0 obj\n";
    test_doc t(s);
    EXPECT_TRUE(scan(t).empty());
}

TEST(Hostile, ManyUnclosedDictionaries) {
    std::string s;
    for (int k = 0; k < 100000; ++k) s += "1 0 obj <<\n";
    for (int k = 0; k < 100000; ++k) s += "2 0 obj <(\n";
    for (int k = 0; k < 100000; ++k) s += "3 0 obj <a>>\n";
    s += "endobj";
    test_doc t(s);
    auto v = scan(t);
    // No dictionary closes with a "stream" after it: all end at the one "endobj".
    EXPECT_EQ(v.size(), 300000u);
}

TEST(Hostile, ManyStreamsWithoutEndstream) {
    std::string s;
    for (int k = 0; k < 100000; ++k) s += "1 0 obj <</Length 1000000>>stream\nxx\n";
    test_doc t(s);
    EXPECT_TRUE(scan(t).empty());
}

TEST(Hostile, ManyHexValuesSharingOneStream) {
    std::string s;
    for (int k = 0; k < 100000; ++k) s += "1 0 obj <41> /Length /X endobj\n";
    s += "2 0 obj <</Length 8 /Type /ObjStm /N 1 /First 4>>stream\n2 0 <<>>\nendstream endobj\n";
    test_doc t(s);
    auto v = scan(t);
    // Every hex value walks on to the stream's dictionary and shares its stream.
    ASSERT_EQ(v.size(), 100001u);
    EXPECT_EQ(v[0].stream_pos, v[100000].stream_pos);
    EXPECT_EQ(v[0].data_len, 8);
    read_object_streams(&t.d, objstm_flags(&t.d, t.d.objs.count));
    resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
    // All of them are object streams, and all hold member 2: one is left.
    ASSERT_EQ(t.d.objs.count, 1);
    EXPECT_EQ(t.d.objs.items[0].num, 2);
    EXPECT_EQ(t.d.objs.items[0].in_objstm, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(t.d.objs.items[0].text), 4), "<<>>");
}

TEST(Hostile, DictionariesNestedAcrossObjects) {
    // Object k's dictionary holds the objects after it; each closes before a
    // "stream" keyword, so every region contains all later ones.
    std::string s;
    for (int k = 1; k <= 20000; ++k) s += std::to_string(k) + " 0 obj << /X /Length /Y /ObjStm\n";
    for (int k = 0; k < 20000; ++k) s += ">> stream\n";
    test_doc t(s);
    auto v = scan(t);
    EXPECT_TRUE(v.empty());  // no "endstream": nothing survives
}

TEST(Hostile, SharedCloseMetAgainAndAgain) {
    // Hex values whose walk jumps a string holding another object's
    // dictionary: starts alternate between two closes, and the shared one
    // is followed by a long run of white space before "stream".
    std::string s;
    for (int k = 0; k < 50000; ++k) s += "1 0 obj <41> ( 2 0 obj << >> ) endobj\n";
    s += "3 0 obj << >>" + std::string(1000000, ' ') + "stream\nHELLO\nendstream\nendobj\n";
    test_doc t(s);
    auto v = scan(t);
    ASSERT_EQ(v.size(), 100001u);
    EXPECT_EQ(v[0].has_stream, 1);
    EXPECT_EQ(v[1].has_stream, 0);
    EXPECT_EQ(v[2].stream_pos, v[100000].stream_pos);
}

TEST(Hostile, LongSpaceRunAfterManyDeclaredEnds) {
    std::string s;
    for (int k = 0; k < 20000; ++k) s += "1 0 obj <</Length 2000000>>stream\n";
    s += std::string(4000000, ' ') + "endstream endobj";
    test_doc t(s);
    auto v = scan(t);
    // Each declared end lands in the run of spaces before "endstream"; the
    // stream headers inside the longer ranges are false hits.
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].data_len, 2000000);
}

// ---------------- walks one by one, then the sweep ----------------

// Dictionaries that close before the next one opens are walked one by one;
// from the first walk that reaches the next start on, the sweep answers.
// Texts long enough for many 16-byte blocks, with strings, escapes and
// nesting, and now and then a start whose walk runs on (a hex string, an
// unclosed string): every answer must be the single walk's.
TEST(DictCloses, WalksOneByOneThenSweepAgreeWithWalkingEachStart) {
    std::mt19937 rng(99);
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    static const char *const pieces[] = {
        "<< /Type /Page /MediaBox [0 0 612 792] >>",
        "<< /A (a string) /B (nested (paren) and \\) escaped) >>",
        "<< /Kids [1 0 R 2 0 R] /D << /E <41> /F << >> >> >>",
        "<< /S (\\\\) /T (x\\(y) >>",
        "<<>>",
        "<< /Long (" "0123456789abcdef0123456789abcdef0123456789abcdef" ") >>",
    };
    static const char *const runaways[] = {"<41> /X ", "<< (unclosed ", "<< /A << ", "< "};
    int fell_back = 0, walked_through = 0;
    for (int round = 0; round < 600; ++round) {
        std::string s;
        std::vector<int32_t> starts;
        const int count = 1 + pick(40);
        const int runaway_at = round % 3 == 0 ? -1 : pick(count);
        for (int k = 0; k < count; ++k) {
            s += std::string(static_cast<size_t>(pick(40)), k % 2 ? ' ' : 'x');
            starts.push_back(static_cast<int32_t>(s.size()));
            s += k == runaway_at ? runaways[pick(4)] : pieces[pick(6)];
            if (pick(5) == 0) s += "stream\n";
        }
        if (pick(4) == 0) s += "<";  // an opening byte as the very last byte
        const uint8_t *t = reinterpret_cast<const uint8_t *>(s.data());
        const int32_t len = static_cast<int32_t>(s.size());
        std::vector<int32_t> closes(starts.size());
        find_dict_closes(t, len, starts.data(), starts.size(), closes.data());
        bool overlap = false;
        for (size_t k = 0; k < starts.size(); ++k) {
            const int32_t one = dict_close_one(t, len, starts[k]);
            ASSERT_EQ(closes[k], one) << "text '" << s << "' start " << starts[k];
            if (k + 1 < starts.size() && (one < 0 || one >= starts[k + 1])) overlap = true;
        }
        (overlap ? fell_back : walked_through) += 1;
    }
    // Both ways were taken many times.
    EXPECT_GT(fell_back, 100);
    EXPECT_GT(walked_through, 100);
}

// ---------------- clean-up with headers out of file order ----------------

// Tables made by hand, their entries partly in file order and partly not:
// the clean-up that steps forward (binary search when a header goes back)
// drops exactly the entries a plain comparison with every stream range of
// the table drops.
TEST(Cleanup, HeadersOutOfFileOrderAgreeWithAPlainComparison) {
    std::mt19937 rng(5);
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    int backwards = 0, dropped_inside = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<objent> table;
        const int n = 1 + pick(60);
        for (int k = 0; k < n; ++k) {
            objent e{};
            e.num = k + 1;
            e.hdr_pos = pick(2000);
            e.dict_pos = e.hdr_pos + 8;
            e.stream_pos = e.data_pos = e.data_end = e.endobj_pos = e.end_pos = e.data_len = -1;
            e.in_objstm = pick(10) == 0;
            e.endobj_pos = pick(8) == 0 ? -1 : e.hdr_pos + 50;
            if (!e.in_objstm && pick(3) == 0) {
                e.has_stream = 1;
                e.data_pos = e.hdr_pos + 20;
                e.data_end = e.data_pos + pick(400);
            }
            table.push_back(e);
        }
        // Sorted by header in some rounds, sorted in stretches in others.
        if (round % 3 != 2) {
            const size_t cut = static_cast<size_t>(pick(n));
            std::sort(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(cut),
                      [](const objent &a, const objent &b) { return a.hdr_pos < b.hdr_pos; });
            if (round % 3 == 0) std::sort(table.begin(), table.end(), [](const objent &a, const objent &b) { return a.hdr_pos < b.hdr_pos; });
        }
        for (size_t k = 1; k < table.size(); ++k) backwards += table[k].hdr_pos < table[k - 1].hdr_pos ? 1 : 0;
        std::vector<int32_t> want;
        for (const objent &e : table) {
            bool drop = e.has_stream && e.endobj_pos < 0;
            for (const objent &r : table)
                if (!drop && !e.in_objstm && r.has_stream && r.data_pos >= 0 && r.data_pos < r.data_end &&
                    r.data_pos <= e.hdr_pos && e.hdr_pos < r.data_end)
                    drop = true;
            if (!drop) want.push_back(e.num);
        }
        dropped_inside += static_cast<int>(table.size() - want.size());
        test_doc a(std::string(1, ' '));
        for (const objent &e : table) objvec_push(&a.d.objs, &e);
        cleanup_entries(&a.d);
        ASSERT_EQ(a.d.objs.count, static_cast<int32_t>(want.size())) << "round " << round;
        for (int32_t k = 0; k < a.d.objs.count; ++k) ASSERT_EQ(a.d.objs.items[k].num, want[static_cast<size_t>(k)]) << "round " << round;
    }
    EXPECT_GT(backwards, 1000);
    EXPECT_GT(dropped_inside, 1000);
}

// ---------------- object streams told apart once per load ----------------

// The scan lists every "/ObjStm" of the file; the flags worked out from that
// list (only regions holding one are searched) are the flags of a search in
// every region, also when "/ObjStm" ends a region, is followed by more name
// bytes or stands in stream data.
TEST(ObjectStreamFlags, FromTheScansListTheSameAsSearchingEveryRegion) {
    std::mt19937 rng(31);
    int flagged = 0, disjoint = 0;  // object streams among disjoint regions
    for (int round = 0; round < 3000; ++round) {
        std::string s = round % 2 ? token_soup(rng, 10 + round % 60) : overlapping_soup(rng, 2 + round % 12);
        if (round % 5 == 0) s += "9 0 obj <</Type /ObjStmX>>stream\nab/ObjStm\nendstream endobj 10 0 obj <</ObjStm";
        test_doc t(s);
        std::vector<int32_t> names;
        scan_objects(&t.d, &names);
        std::vector<int32_t> want_names;
        for (size_t p = s.find("/ObjStm"); p != std::string::npos; p = s.find("/ObjStm", p + 1))
            want_names.push_back(static_cast<int32_t>(p));
        ASSERT_EQ(names, want_names) << s;
        const std::vector<uint8_t> got = objstm_flags(&t.d, t.d.objs.count, names);
        ASSERT_EQ(got, objstm_flags(&t.d, t.d.objs.count)) << s;
        if (stream_regions_overlap(&t.d, t.d.objs.count)) continue;
        ++disjoint;
        for (uint8_t f : got) flagged += f;
    }
    // The list is used for disjoint regions (overlapping ones search the whole file).
    EXPECT_GT(disjoint, 1000);
    EXPECT_GT(flagged, 100);
}

// A whole load computes the object-stream flags once for the object streams
// and the duplicate resolution; running the phases one by one, each working
// them out itself, gives the same table.
TEST(ObjectStreamFlags, OneLoadAndThePhasesOneByOneGiveTheSameTable) {
    // Object stream `num` holding the given (number, text) members, uncompressed.
    auto objstm = [](int num, const std::vector<std::pair<int, std::string>> &members, const std::string &dict_end) {
        std::string header, body;
        for (const auto &m : members) {
            header += std::to_string(m.first) + " " + std::to_string(body.size()) + " ";
            body += m.second + "\n";
        }
        const std::string data = header + body;
        return std::to_string(num) + " 0 obj <</Length " + std::to_string(data.size()) + " /Type /ObjStm /N " +
               std::to_string(members.size()) + " /First " + std::to_string(header.size()) + dict_end +
               ">>stream\n" + data + "\nendstream endobj\n";
    };
    const std::vector<std::pair<int, std::string>> tree = {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>"}};
    std::vector<std::string> files;
    // Regions overlapping: hex values walked on into the one stream's dictionary.
    std::string hex_values = "%PDF-1.5\n";
    for (int k = 0; k < 50; ++k) hex_values += std::to_string(k + 100) + " 0 obj <41> /Length /X endobj\n";
    files.push_back(hex_values + objstm(60, tree, "") + "trailer << /Root 1 0 R >>\n");
    // Disjoint regions: object streams among plain streams, a direct object
    // beating a member, an object stream sharing its number with a direct object.
    std::string mixed = "%PDF-1.5\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    mixed += objstm(20, {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"}, {3, "<< /Member true >>"}}, " /X (a) ");
    mixed += "21 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n";
    mixed += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>\nendobj\n";
    mixed += "22 0 obj\n(direct 22)\nendobj\n" + objstm(22, {{4, "<< /Unused 1 >>"}}, "");
    files.push_back(mixed + "trailer << /Root 1 0 R >>\n");
    files.push_back(plenvo_test::simple_pdf(3));
    int members = 0;
    for (const std::string &f : files) {
        doc whole;
        const int rc = doc_load_bytes(reinterpret_cast<const uint8_t *>(f.data()), f.size(), "mem", &whole);
        test_doc t(f);
        scan_objects(&t.d);
        read_object_streams(&t.d, objstm_flags(&t.d, t.d.objs.count));
        resolve_duplicates(&t.d, objstm_flags(&t.d, t.d.objs.count));
        limit_object_spans(&t.d);
        ASSERT_EQ(rc, 0) << f;
        ASSERT_EQ(whole.objs.count, t.d.objs.count) << f;
        EXPECT_EQ(whole.max_num, t.d.max_num) << f;
        for (int32_t k = 0; k < whole.objs.count; ++k) {
            const objent &x = whole.objs.items[k], &y = t.d.objs.items[k];
            EXPECT_EQ(x.num, y.num);
            EXPECT_EQ(x.hdr_pos, y.hdr_pos);
            EXPECT_EQ(x.in_objstm, y.in_objstm);
            EXPECT_EQ(x.text_len, y.text_len);
            if (x.in_objstm) EXPECT_EQ(std::memcmp(x.text, y.text, static_cast<size_t>(x.text_len)), 0);
            members += x.in_objstm;
        }
        doc_free(&whole);
    }
    EXPECT_EQ(members, 5);  // 1, 2, 3 of stream 60; 2 of stream 20 and 4 of stream 22
}
