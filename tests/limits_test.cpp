// The reader's limits on hostile shapes: a very deep page tree, object streams
// claiming 100,000 members, a /Length of 2^31-1, Flate bombs, numbers with 40
// and more digits. Every input is generated here.
//
// Each call runs in a forked child with an alarm, so that a hang or a crash
// is reported as such instead of stopping the test run. The child measures
// its own time and the growth of its peak resident size, and (in a
// sanitizer build) runs the leak checker before it reports back.
//
// "Bounded" means: every case finishes within its alarm; a case whose input
// is small and whose output is small grows the peak resident size by at most
// 256 MiB; a Flate bomb by at most 1.25 GiB, which is one decode buffer of
// 2^30 bytes (the decoders' output limit) plus working room. Sanitizer builds
// double the memory bounds (shadow memory and the freed-block quarantine).
// Outside sanitizer builds every child runs under an address-space limit
// (4 GiB), and one bomb under a limit well below the 2^30 buffer: the call
// must then still return cleanly.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "inflate/inflate.h"
#include "plenvo.h"
#include "reader/doc.h"
#include "support/pdf_builder.h"

#if defined(__SANITIZE_ADDRESS__)
#define LIMITS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIMITS_ASAN 1
#endif
#endif
#if defined(LIMITS_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

using namespace plenvo_test;

namespace {

#if defined(LIMITS_ASAN)
constexpr long MEM_FACTOR = 2;
#else
constexpr long MEM_FACTOR = 1;
#endif
constexpr long MIB = 1024;  // ru_maxrss counts KiB
constexpr long SMALL_BOUND_KIB = 256 * MIB * MEM_FACTOR;
constexpr long BOMB_BOUND_KIB = 1280 * MIB * MEM_FACTOR;

// What one isolated call reported.
struct outcome {
    int finished = 0;   // the child reported back
    int signal = 0;     // the signal that ended the child, 0 when none
    int rc = -1;        // the export's result (1/0, or 1 for an answer, 0 for NULL)
    int out_exists = 0; // the output file exists after the call
    int leaks = 0;      // the leak checker found something (sanitizer builds)
    double seconds = 0;
    long rss_growth_kib = 0;
    char msg[1024] = {};
    char answer[256] = {};
};

// Address space of a child when the case names none: a runaway allocation
// then fails inside the child instead of taking the machine's memory.
constexpr rlim_t DEFAULT_AS_LIMIT = rlim_t(4) << 30;

// Runs body in a forked child under an alarm of `timeout_s` seconds and,
// without a sanitizer, an address-space limit of as_limit bytes (0: the
// default limit). body fills rc, out_exists, msg and answer.
outcome isolated(const std::function<void(outcome *)> &body, unsigned timeout_s, rlim_t as_limit = 0) {
    int fds[2];
    outcome o;
    if (pipe(fds) != 0) return o;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(timeout_s);
#if !defined(LIMITS_ASAN)
        if (!as_limit) as_limit = DEFAULT_AS_LIMIT;
        rlimit r{as_limit, as_limit};
        setrlimit(RLIMIT_AS, &r);
#else
        (void)as_limit;
#endif
        outcome c;
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        auto t0 = std::chrono::steady_clock::now();
        body(&c);
        c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        getrusage(RUSAGE_SELF, &after);
        c.rss_growth_kib = after.ru_maxrss - before.ru_maxrss;
#if defined(LIMITS_ASAN)
        c.leaks = __lsan_do_recoverable_leak_check();
#endif
        c.finished = 1;
        const char *p = reinterpret_cast<const char *>(&c);
        size_t left = sizeof c;
        while (left > 0) {
            ssize_t w = write(fds[1], p, left);
            if (w <= 0) break;
            p += w;
            left -= static_cast<size_t>(w);
        }
        _exit(0);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return o;
    }
    outcome got;
    char *p = reinterpret_cast<char *>(&got);
    size_t have = 0;
    while (have < sizeof got) {
        ssize_t r = read(fds[0], p + have, sizeof got - have);
        if (r <= 0) break;
        have += static_cast<size_t>(r);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (have == sizeof got) o = got;
    if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
    return o;
}

std::string describe(const outcome &o) {
    return "finished=" + std::to_string(o.finished) + " signal=" + std::to_string(o.signal) +
           " rc=" + std::to_string(o.rc) + " msg='" + o.msg + "' seconds=" + std::to_string(o.seconds) +
           " rss_growth_kib=" + std::to_string(o.rss_growth_kib);
}

void copy_text(char *dst, size_t n, const char *src) {
    std::snprintf(dst, n, "%s", src ? src : "");
}

// One page-size query on the file at `in`.
outcome query(const std::string &in, int page, unsigned timeout_s = 60, rlim_t as_limit = 0) {
    return isolated(
        [&](outcome *c) {
            const char *a = plenvo_page_size(in.c_str(), page);
            c->rc = a ? 1 : 0;
            copy_text(c->answer, sizeof c->answer, a);
            copy_text(c->msg, sizeof c->msg, plenvo_last_error());
        },
        timeout_s, as_limit);
}

// One scaling call: fit to A4 (mode 0), 50 percent (mode 1) or 300 x 400 (mode 2).
outcome scale(const std::string &in, const std::string &out, int mode, unsigned timeout_s = 60,
              rlim_t as_limit = 0) {
    std::remove(out.c_str());
    return isolated(
        [&](outcome *c) {
            c->rc = mode == 0   ? plenvo_to_size(in.c_str(), out.c_str(), 0)
                    : mode == 1 ? plenvo_percent(in.c_str(), out.c_str(), 50.0f)
                                : plenvo_custom(in.c_str(), out.c_str(), 300.0f, 400.0f);
            c->out_exists = file_exists(out);
            copy_text(c->msg, sizeof c->msg, plenvo_last_error());
        },
        timeout_s, as_limit);
}

// The common checks of a clean result: the child finished by itself, leaked
// nothing, kept within the memory bound; success comes with an empty message
// (and an output file for a scaling call), failure with a message (and no
// output file).
void expect_clean(const outcome &o, long bound_kib, bool scaling, const std::string &what) {
    ASSERT_TRUE(o.finished) << what << ": " << describe(o)
                            << (o.signal == SIGALRM ? " (did not finish in time)" : "");
    EXPECT_EQ(o.signal, 0) << what;
    EXPECT_EQ(o.leaks, 0) << what;
    EXPECT_LE(o.rss_growth_kib, bound_kib) << what << ": " << describe(o);
    if (o.rc == 1) {
        EXPECT_STREQ(o.msg, "") << what;
        if (scaling) EXPECT_TRUE(o.out_exists) << what;
    } else {
        EXPECT_EQ(o.rc, 0) << what;
        EXPECT_STRNE(o.msg, "") << what;
        if (scaling) EXPECT_FALSE(o.out_exists) << what;
    }
}

// The query and all three scaling calls on one input; returns the query's outcome.
outcome all_calls(const std::string &dir, const std::string &bytes, long bound_kib, const std::string &what,
                  unsigned timeout_s = 60) {
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    outcome q = query(in, 1, timeout_s);
    expect_clean(q, bound_kib, false, what + " (page size)");
    for (int mode = 0; mode < 3; ++mode) {
        outcome s = scale(in, out, mode, timeout_s);
        expect_clean(s, bound_kib, true, what + " (scaling mode " + std::to_string(mode) + ")");
        std::remove(out.c_str());
    }
    return q;
}

std::string digits(int n, char first = '9') {
    std::string s(1, first);
    for (int i = 1; i < n; ++i) s += static_cast<char>('0' + (i * 7) % 10);
    return s;
}

// ---- Flate bombs ----

// Bits written lowest first, as deflate stores them.
struct bit_writer {
    std::string out;
    uint32_t acc = 0;
    int n = 0;
    void put(uint32_t v, int bits) {
        for (int i = 0; i < bits; ++i) {
            acc |= ((v >> i) & 1u) << n;
            if (++n == 8) {
                out += static_cast<char>(acc);
                acc = 0;
                n = 0;
            }
        }
    }
    // A Huffman code of `len` bits, most significant bit first.
    void code(uint32_t c, int len) {
        for (int i = len - 1; i >= 0; --i) put((c >> i) & 1u, 1);
    }
    std::string finish() {
        if (n) out += static_cast<char>(acc);
        acc = 0;
        n = 0;
        return out;
    }
};

// zlib data that inflates to 1 + 258 * matches zero bytes: one dynamic block
// whose only codes are literal 0 and end of block (2 bits each), length 258
// (1 bit) and distance 1 (1 bit), so every 258 bytes cost two zero bits.
std::string zero_bomb(uint64_t matches) {
    bit_writer w;
    w.out = "\x78\x9c";
    w.put(1, 1);     // final block
    w.put(2, 2);     // dynamic codes
    w.put(29, 5);    // 286 literal/length codes
    w.put(0, 5);     // 1 distance code
    w.put(14, 4);    // 18 code-length code lengths
    // Order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1: 18 gets 1 bit, 2 and 1 get 2 bits.
    const int cl[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
    for (int v : cl) w.put(static_cast<uint32_t>(v), 3);
    // Code-length code: 18 -> "0", 1 -> "10", 2 -> "11".
    auto len1 = [&] { w.code(2, 2); };
    auto len2 = [&] { w.code(3, 2); };
    auto zeros = [&](int k) {  // 11..138 zero lengths
        w.code(0, 1);
        w.put(static_cast<uint32_t>(k - 11), 7);
    };
    len2();          // literal 0
    zeros(138);      // 1..138
    zeros(117);      // 139..255
    len2();          // 256, end of block
    zeros(28);       // 257..284
    len1();          // 285, length 258
    len1();          // distance code 0, distance 1
    // Literal/length code: 285 -> "0", 0 -> "10", 256 -> "11"; distance 0 -> "0".
    w.code(2, 2);
    for (uint64_t k = 0; k < matches; ++k) w.put(0, 2);
    w.code(3, 2);
    std::string s = w.finish();
    s += std::string(4, '\0');  // Adler-32 place; the decoder does not read it
    return s;
}

// A one-page document whose page content is stream 4 with the given data and
// extra dictionary entries.
std::string page_with_content(const std::string &data, const std::string &extra) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    b.add_stream(4, data, extra);
    return b.build();
}

// The data of the form XObject (object 4) of a written one-page output.
std::string form_data(const std::string &out_path) {
    std::string bytes = read_file(out_path);
    size_t at = bytes.find("\n4 0 obj\n");
    if (at == std::string::npos) return "<no form>";
    size_t s = bytes.find("stream\n", at);
    size_t e = bytes.find("\nendstream", s);
    if (s == std::string::npos || e == std::string::npos) return "<no form data>";
    return bytes.substr(s + 7, e - s - 7);
}

class Limits : public ::testing::Test {
  protected:
    std::string dir = temp_dir();
};

// ---- the bomb generator itself ----

TEST_F(Limits, BombGeneratorInflatesToTheIntendedSize) {
    std::string z = zero_bomb(1000);
    std::vector<uint8_t> out(258 * 1000 + 1 + 16, 0xAA);
    size_t produced = 0;
    ASSERT_EQ(plenvo::inflate_decompress(reinterpret_cast<const uint8_t *>(z.data()), z.size(), out.data(),
                                         out.size(), &produced),
              0);
    EXPECT_EQ(produced, 258u * 1000 + 1);
    for (size_t i = 0; i < produced; ++i) ASSERT_EQ(out[i], 0) << i;
    // About two bits per 258 bytes.
    EXPECT_LT(z.size(), 300u);
}

// ---- page tree depth ----

// A chain of `depth` /Pages nodes (2 .. depth + 1), the root with /Rotate 90,
// ending in one page; with `cycle` the last node lists the root again instead.
std::string deep_tree(int depth, bool cycle) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int n = 2; n < 2 + depth; ++n) {
        int kid = n + 1;
        if (cycle && n == 1 + depth) kid = 2;
        std::string body = "<< /Type /Pages /Kids [" + std::to_string(kid) + " 0 R] /Count 1";
        if (n == 2) body += " /Rotate 90 /MediaBox [0 0 612 792]";
        b.add(n, body + " >>");
    }
    if (!cycle) b.add(2 + depth, "<< /Type /Page >>");
    return b.build();
}

TEST_F(Limits, PageTreeOfHundredThousandLevelsLoads) {
    outcome q = all_calls(dir, deep_tree(100000, false), SMALL_BOUND_KIB, "deep tree");
    ASSERT_EQ(q.rc, 1) << q.msg;
    // The rotation and the media box come down all levels: 612 x 792 turned.
    EXPECT_EQ(std::string(q.answer).rfind("{\"width_pt\":792,\"height_pt\":612,\"page\":1,", 0), 0u) << q.answer;
}

TEST_F(Limits, DeepPageTreeWithCycleFailsCleanly) {
    outcome q = all_calls(dir, deep_tree(100000, true), SMALL_BOUND_KIB, "deep cycle");
    EXPECT_EQ(q.rc, 0);
    EXPECT_EQ(std::string(q.msg).rfind("could not resolve the page tree (obj 2 ", 0), 0u) << q.msg;
}

TEST_F(Limits, DeeplyNestedDictionariesAndArraysAreHarmless) {
    // 100,000 nested dictionaries in the resources and 100,000 nested arrays
    // in /Kids around the real kid.
    std::string nested_dicts, closing;
    for (int i = 0; i < 100000; ++i) {
        nested_dicts += "<< /A ";
        closing += " >>";
    }
    std::string open_arrays(100000, '['), close_arrays(100000, ']');
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [" + open_arrays + "3 0 R" + close_arrays + "] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /X " + nested_dicts + "5 0 R" +
                 closing + " >> /Contents 4 0 R >>");
    b.add_stream(4, "0 0 m 10 10 l S");
    b.add(5, "<< /Deep 1 >>");
    outcome q = all_calls(dir, b.build(), SMALL_BOUND_KIB, "nested");
    EXPECT_EQ(q.rc, 1) << q.msg;
}

// ---- object streams ----

// An uncompressed object stream (object 10) with /N n and /First first over
// `data`, next to a direct catalog, pages node and page whose /Resources
// names member `probe`.
std::string with_objstm(const std::string &n, const std::string &first, const std::string &data, int probe) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /ExtGState << /G " +
                 std::to_string(probe) + " 0 R >> >> >>");
    b.add_stream(10, data, "/Type /ObjStm /N " + n + " /First " + first);
    return b.build();
}

// The header and members of an object stream holding objects
// first_num .. first_num + count - 1, each the text "<< /M k >>".
std::string objstm_data(int first_num, int count, std::string *first_out) {
    std::string head, body;
    for (int k = 0; k < count; ++k) {
        head += std::to_string(first_num + k) + " " + std::to_string(body.size()) + " ";
        body += "<< /M " + std::to_string(k) + " >>\n";
    }
    *first_out = std::to_string(head.size());
    return head + body;
}

// Loads bytes in-process in a child and reports whether object num is in the table.
outcome member_present(const std::string &dir, const std::string &bytes, int num) {
    std::string in = write_file(dir, "in.pdf", bytes);
    return isolated(
        [&](outcome *c) {
            plenvo::doc d;
            if (plenvo::doc_load(in.c_str(), &d) != 0) {
                c->rc = -2;
                return;
            }
            c->rc = plenvo::doc_lookup(&d, num) ? 1 : 0;
            plenvo::doc_free(&d);
        },
        60);
}

TEST_F(Limits, ObjectStreamWithHundredThousandMembersLoads) {
    std::string first;
    std::string data = objstm_data(100, 100000, &first);
    std::string bytes = with_objstm("100000", first, data, 100099);
    outcome m = member_present(dir, bytes, 100099);
    ASSERT_TRUE(m.finished) << describe(m);
    EXPECT_EQ(m.rc, 1) << "the last of 100,000 members is in the table";
    EXPECT_LE(m.rss_growth_kib, SMALL_BOUND_KIB);
    all_calls(dir, bytes, SMALL_BOUND_KIB, "100000 members");
}

TEST_F(Limits, ObjectStreamClaimingMoreThanHundredThousandMembersIsPassedOver) {
    std::string first;
    std::string data = objstm_data(100, 100001, &first);
    outcome m = member_present(dir, with_objstm("100001", first, data, 150), 150);
    ASSERT_TRUE(m.finished) << describe(m);
    EXPECT_EQ(m.rc, 0) << "no member of a stream with /N above 100,000";
    // The document itself loads: the page names a missing resource only.
    all_calls(dir, with_objstm("100001", first, data, 150), SMALL_BOUND_KIB, "100001 members");
}

TEST_F(Limits, ObjectStreamClaimingHundredThousandMembersWithShortHeader) {
    // /N says 100,000, the header holds two pairs: a damaged header, no member.
    std::string data = "20 0 21 12 << /A 1 >> << /B 2 >>";
    std::string bytes = with_objstm("100000", "11", data, 20);
    outcome m = member_present(dir, bytes, 20);
    ASSERT_TRUE(m.finished) << describe(m);
    EXPECT_EQ(m.rc, 0);
    all_calls(dir, bytes, SMALL_BOUND_KIB, "short header");
}

TEST_F(Limits, ManyObjectStreamsClaimingHundredThousandMembersEach) {
    // 2,000 small object streams in about 200 KB, each claiming 100,000 members.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    for (int k = 0; k < 2000; ++k) b.add_stream(10 + k, "7 0 <<>>", "/Type /ObjStm /N 100000 /First 4");
    std::string bytes = b.build();
    std::string in = write_file(dir, "in.pdf", bytes);
    outcome q = query(in, 1);
    expect_clean(q, SMALL_BOUND_KIB, false, "many claiming streams");
    EXPECT_EQ(q.rc, 1) << q.msg;
    // Reading 2,000 tiny headers is quick work; a second would be very slow.
    EXPECT_LT(q.seconds, 5.0) << describe(q);
}

TEST_F(Limits, ObjectStreamOffsetsGoingBackAndForthShareNoText) {
    // 20,000 pairs whose offsets alternate 0, 999999: read naively, 10,000
    // members would each own the same 1 MB of '/' bytes, and looking for the
    // catalog through them would read 10 GB.
    const int pairs = 20000;
    std::string head;
    for (int j = 0; j < pairs / 2; ++j)
        head += std::to_string(10 + 2 * j) + " 0 " + std::to_string(11 + 2 * j) + " 999999 ";
    std::string data = head + std::string(1000000, '/') + " ";
    std::string extra = "/Type /ObjStm /N " + std::to_string(pairs) + " /First " + std::to_string(head.size());
#if defined(PLENVO_HAVE_ZLIB)
    data = zlib_compress(data, 9);
    extra += " /Filter /FlateDecode";
#endif
    pdf_builder b;
    b.root = 0;  // no trailer /Root: the catalog is searched for
    b.add(1, "<< /Type /Pages /Kids [2 0 R] /Count 1 >>");
    b.add(2, "<< /Type /Page /Parent 1 0 R /MediaBox [0 0 612 792] >>");
    b.add_stream(3, data, extra);
    std::string bytes = b.build();
    outcome first = member_present(dir, bytes, 10);
    ASSERT_TRUE(first.finished) << describe(first);
    EXPECT_EQ(first.rc, 1) << "the first member keeps its text";
    outcome third = member_present(dir, bytes, 12);
    ASSERT_TRUE(third.finished) << describe(third);
    EXPECT_EQ(third.rc, 0) << "a member starting inside an earlier one is passed over";
    outcome q = query(write_file(dir, "in.pdf", bytes), 1, 30);
    expect_clean(q, SMALL_BOUND_KIB, false, "back-and-forth offsets");
    EXPECT_EQ(q.rc, 1) << q.msg;
}

TEST_F(Limits, ManyObjectHeadersSharingOneEndobj) {
    // 100,000 headers, each opening a dictionary, before one "endobj": every
    // object's text reaches that keyword, so the texts overlap; without a
    // /Root the catalog is searched for through all of them.
    std::string bytes = "%PDF-1.4\n";
    for (int k = 0; k < 100000; ++k) bytes += std::to_string(100 + k) + " 0 obj <</";
    bytes += std::string(4096, '/') + ">>\nendobj\n";
    bytes += "1 0 obj\n<< /Type /Pages /Kids [2 0 R] /Count 1 >>\nendobj\n"
             "2 0 obj\n<< /Type /Page /Parent 1 0 R /MediaBox [0 0 612 792] >>\nendobj\n";
    outcome q = query(write_file(dir, "in.pdf", bytes), 1, 30);
    expect_clean(q, SMALL_BOUND_KIB, false, "shared endobj");
    EXPECT_EQ(q.rc, 1) << q.msg;
}

TEST_F(Limits, ThirtyThousandPagesWithoutEndobj) {
    // Every page object lacks its "endobj", so each one's text reaches the
    // single one at the end of the file: 30,000 texts of up to 1 MB for the
    // page type, the boxes and the rotation to be searched in.
    const int pages = 30000;
    std::string kids;
    for (int k = 0; k < pages; ++k) kids += std::to_string(10 + k) + " 0 R ";
    std::string s = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                    "2 0 obj\n<< /Type /Pages /Kids [" + kids + "] >>\nendobj\n";
    for (int k = 0; k < pages; ++k) s += std::to_string(10 + k) + " 0 obj <</Type/Page ";
    s += ">>\nendobj\ntrailer\n<< /Root 1 0 R >>\n";
    std::string in = write_file(dir, "in.pdf", s);
    outcome q = query(in, pages, 30);
    expect_clean(q, SMALL_BOUND_KIB, false, "pages without endobj");
    EXPECT_EQ(q.rc, 1) << q.msg;
    outcome c = scale(in, dir + "/out.pdf", 1, 30);
    expect_clean(c, SMALL_BOUND_KIB, true, "pages without endobj (scaling)");
}

TEST_F(Limits, ThirtyThousandResourcesWithoutEndobj) {
    // The page's resources name 30,000 objects that lack their "endobj":
    // copying each with its text up to the shared one would write 12 GB.
    const int objects = 30000;
    std::string refs;
    for (int k = 0; k < objects; ++k) refs += std::to_string(10 + k) + " 0 R ";
    std::string s = "%PDF-1.4\n";
    for (int k = 0; k < objects; ++k) s += std::to_string(10 + k) + " 0 obj <</X/";
    s += ">>\nendobj\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
         "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
         "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /X [" + refs +
         "] >> >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n";
    std::string in = write_file(dir, "in.pdf", s);
    std::string out = dir + "/out.pdf";
    outcome c = scale(in, out, 0, 30);
    expect_clean(c, SMALL_BOUND_KIB, true, "resources without endobj");
    EXPECT_EQ(c.rc, 1) << c.msg;
    EXPECT_LT(read_file(out).size(), 20u * s.size()) << "each copy ends where the next object begins";
}

// ---- /Length values ----

TEST_F(Limits, HugeAndBrokenLengthsFallBackToTheEndstreamKeyword) {
    const std::string content = "0 0 m 100 100 l S";
    const char *lengths[] = {"2147483647", "2147483648", "4294967296", "-1", "-2147483648",
                             "9999999999999999999999999999999999999999", "1.5", "null", "99 0 R"};
    for (const char *len : lengths) {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
        b.add(4, std::string("<< /Length ") + len + " >>\nstream\n" + content + "\nendstream");
        std::string in = write_file(dir, "in.pdf", b.build());
        std::string out = dir + "/out.pdf";
        outcome s = scale(in, out, 1);
        expect_clean(s, SMALL_BOUND_KIB, true, std::string("/Length ") + len);
        ASSERT_EQ(s.rc, 1) << len << ": " << s.msg;
        EXPECT_EQ(form_data(out), content) << "/Length " << len;
        std::remove(out.c_str());
    }
}

TEST_F(Limits, HugeLengthOnAnObjectStream) {
    // The page tree lives in an object stream whose /Length is 2^31-1.
    std::string head = "2 0 3 48 ";
    std::string body = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>      \n"
                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] >>";
    ASSERT_EQ(body.find("<< /Type /Page /"), 48u);
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(10, "<< /Type /ObjStm /N 2 /First " + std::to_string(head.size()) +
                  " /Length 2147483647 >>\nstream\n" + head + body + "\nendstream");
    outcome q = all_calls(dir, b.build(), SMALL_BOUND_KIB, "objstm length");
    ASSERT_EQ(q.rc, 1) << q.msg;
    EXPECT_EQ(std::string(q.answer).rfind("{\"width_pt\":300,\"height_pt\":200,", 0), 0u) << q.answer;
}

// ---- Flate bombs ----

// A bomb of at least 2^30 + 1 MiB zero bytes: one deflate layer of about 1 MB.
std::string big_bomb() { return zero_bomb(((uint64_t(1) << 30) + (uint64_t(1) << 20)) / 258); }

void check_bomb_output(const outcome &s, const std::string &out, const std::string &what) {
    // The content cannot be decoded within the output limit: the page is
    // written with empty content.
    ASSERT_EQ(s.rc, 1) << what << ": " << s.msg;
    EXPECT_EQ(form_data(out), "") << what;
}

TEST_F(Limits, FlateBombContentIsRefusedWithBoundedMemory) {
    std::string bytes = page_with_content(big_bomb(), "/Filter /FlateDecode");
    EXPECT_LT(bytes.size(), 1100000u);
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    outcome s = scale(in, out, 0, 120);
    expect_clean(s, BOMB_BOUND_KIB, true, "flate bomb");
    check_bomb_output(s, out, "flate bomb");
    std::printf("flate bomb (1 MB input): %.2f s, peak resident growth %ld MiB\n", s.seconds,
                s.rss_growth_kib / 1024);
}

TEST_F(Limits, TinyDoubleFlateBombIsRefusedWithBoundedMemory) {
#if !defined(PLENVO_HAVE_ZLIB)
    GTEST_SKIP() << "needs zlib to compress the outer layer";
#else
    std::string outer = zlib_compress(big_bomb(), 9);
    ASSERT_LT(outer.size(), 8192u) << "a tiny stream";
    std::string bytes = page_with_content(outer, "/Filter [/FlateDecode /FlateDecode]");
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    outcome s = scale(in, out, 1, 120);
    expect_clean(s, BOMB_BOUND_KIB, true, "double flate bomb");
    check_bomb_output(s, out, "double flate bomb");
    std::printf("double flate bomb (%zu byte stream): %.2f s, peak resident growth %ld MiB\n", outer.size(),
                s.seconds, s.rss_growth_kib / 1024);
    outcome q = query(in, 1, 120);
    expect_clean(q, BOMB_BOUND_KIB, false, "double flate bomb (page size)");
    EXPECT_EQ(q.rc, 1) << q.msg;
#endif
}

TEST_F(Limits, FlateBombUnderAnAddressSpaceLimitFailsCleanly) {
#if defined(LIMITS_ASAN)
    GTEST_SKIP() << "address-space limits do not mix with the address sanitizer";
#else
    std::string in = write_file(dir, "in.pdf", page_with_content(big_bomb(), "/Filter /FlateDecode"));
    std::string out = dir + "/out.pdf";
    // 512 MiB: the 2^30 decode buffer cannot even be reserved.
    outcome s = scale(in, out, 2, 120, rlim_t(512) << 20);
    expect_clean(s, BOMB_BOUND_KIB, true, "flate bomb under 512 MiB");
    if (s.rc == 1) EXPECT_EQ(form_data(out), "");
#endif
}

TEST_F(Limits, ObjectStreamBombYieldsNoMembers) {
    // The page tree sits in a Flate object stream that inflates past 2^30.
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add_stream(10, big_bomb(), "/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode");
    std::string in = write_file(dir, "in.pdf", b.build());
    outcome q = query(in, 1, 120);
    expect_clean(q, BOMB_BOUND_KIB, false, "object stream bomb");
    EXPECT_EQ(q.rc, 0);
    EXPECT_STREQ(q.msg, "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is broken)");
    std::printf("object stream bomb: %.2f s, peak resident growth %ld MiB\n", q.seconds, q.rss_growth_kib / 1024);
}

TEST_F(Limits, RepeatedBombPartsInOneContentArray) {
#if defined(LIMITS_ASAN)
    GTEST_SKIP() << "gathers 2 GiB of content: too heavy for a sanitizer build";
#else
    // One stream that inflates to 1 MiB, named 20,000 times in one /Contents
    // array: 20 GiB if every part were gathered. A form's content cannot
    // reach 2 GiB, so gathering stops there and the call fails.
    std::string part = zero_bomb((uint64_t(1) << 20) / 258);
    std::string refs;
    for (int i = 0; i < 20000; ++i) refs += "4 0 R ";
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [" + refs + "] >>");
    b.add_stream(4, part, "/Filter /FlateDecode");
    std::string bytes = b.build();
    EXPECT_LT(bytes.size(), 200000u);
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    // The default address-space limit keeps a regression from taking the
    // machine's memory; the resident-size bound below catches it too.
    outcome s = scale(in, out, 0, 120);
    // 2 GiB of gathered content, and up to one decoded part beyond.
    expect_clean(s, 3 * 1024 * MIB, true, "repeated parts");
    EXPECT_EQ(s.rc, 0);
    EXPECT_STREQ(s.msg, "output too large (2 GiB or more)");
    std::printf("20,000 x 1 MiB content parts: %.2f s, peak resident growth %ld MiB\n", s.seconds,
                s.rss_growth_kib / 1024);
#endif
}

// ---- numbers with 40 digits ----

TEST_F(Limits, FortyDigitBoxValue) {
    const std::string big = digits(40, '1');  // about 1.0e39
    outcome q = all_calls(dir, simple_pdf(1, "/MediaBox [0 0 " + big + " 792]"), SMALL_BOUND_KIB, "40-digit box");
    ASSERT_EQ(q.rc, 1) << q.msg;
    // The width is the 40-digit value, written out in full.
    std::string a = q.answer;
    ASSERT_EQ(a.rfind("{\"width_pt\":", 0), 0u) << a;
    double w = std::strtod(a.c_str() + 12, nullptr);
    EXPECT_NEAR(w / std::strtod(big.c_str(), nullptr), 1.0, 1e-9) << a;
}

TEST_F(Limits, NumbersBeyondDoubleRangeInABox) {
    // 400 digits overflow to infinity: the box does not qualify, the default applies.
    outcome q = all_calls(dir, simple_pdf(1, "/MediaBox [0 0 " + digits(400) + " 792]"), SMALL_BOUND_KIB,
                          "400-digit box");
    ASSERT_EQ(q.rc, 1) << q.msg;
    EXPECT_EQ(std::string(q.answer).rfind("{\"width_pt\":595,\"height_pt\":842,", 0), 0u) << q.answer;
}

TEST_F(Limits, FortyDigitIntegersEverywhere) {
    const std::string big = digits(40);
    struct variant {
        std::string what;
        std::string bytes;
        int expect_rc;  // 1 success, 0 failure, -1 either
    };
    std::vector<variant> v;
    v.push_back({"rotate", simple_pdf(1, "/MediaBox [0 0 612 792] /Rotate " + big), 1});
    v.push_back({"count", simple_pdf(1, "/MediaBox [0 0 612 792]", "/Count " + big), 1});
    {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [" + big + " 0 R] /Count 1 >>");
        v.push_back({"kid", b.build(), 0});
    }
    {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages " + big + " 0 R >>");
        v.push_back({"pages reference", b.build(), 0});
    }
    {
        // The page's own header carries a 40-digit number: it is not an object.
        std::string s = simple_pdf(1);
        size_t at = s.find("\n3 0 obj");
        s.replace(at + 1, 1, big);
        v.push_back({"object number", s, 0});
    }
    {
        std::string s = simple_pdf(1);
        size_t at = s.find("\n3 0 obj");
        s.replace(at + 3, 1, big);
        v.push_back({"generation number", s, -1});
    }
    {
        std::string s = simple_pdf(1);
        size_t at = s.rfind("startxref\n");
        s = s.substr(0, at) + "startxref\n" + big + "\n%%EOF\n";
        v.push_back({"startxref", s, 1});
    }
    {
        pdf_builder b;
        b.root = 0;
        b.trailer_extra = "/Root " + big + " 0 R /Prev " + big + " /Size " + big;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
        v.push_back({"trailer", b.build(), 1});
    }
    v.push_back({"object stream /N and /First", with_objstm(big, big, "5 0 <<>>", 5), 1});
    {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
        b.add_stream(4, "0 0 m 1 1 l S",
                     "/Filter /FlateDecode /DecodeParms << /Predictor " + big + " /Columns " + big + " /Colors " +
                         big + " /BitsPerComponent " + big + " >>");
        v.push_back({"decode parameters", b.build(), 1});
    }
    {
        std::string box = "/MediaBox [-" + big + " -" + big + " 0." + big + " " + big + "." + big + "]";
        v.push_back({"signed and fractional box values", simple_pdf(1, box), 1});
    }
    for (const variant &x : v) {
        outcome q = all_calls(dir, x.bytes, SMALL_BOUND_KIB, x.what);
        if (x.expect_rc >= 0) EXPECT_EQ(q.rc, x.expect_rc) << x.what << ": " << q.msg;
    }
}

TEST_F(Limits, HugePageSizesInPercentModeStayPdfNumbers) {
    // A 60-digit box width scaled by 50 percent: every number written into
    // the output must remain a PDF number (digits, a sign and a point; no
    // exponent), or the call must fail cleanly.
    std::string in = write_file(dir, "in.pdf", simple_pdf(1, "/MediaBox [0 0 " + digits(60, '1') + " 792]"));
    std::string out = dir + "/out.pdf";
    outcome s = scale(in, out, 1);
    expect_clean(s, SMALL_BOUND_KIB, true, "60-digit width");
    if (s.rc == 1) {
        std::string bytes = read_file(out);
        size_t m = bytes.find("/MediaBox [");
        ASSERT_NE(m, std::string::npos);
        std::string box = bytes.substr(m, bytes.find(']', m) - m);
        EXPECT_EQ(box.find_first_of("eE"), std::string::npos) << box;
    }
}

}  // namespace
