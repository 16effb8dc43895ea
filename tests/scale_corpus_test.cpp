// End to end over the real PDFs of the corpus: every file that loads is
// scaled by all three calls, qpdf finds no error in any output, and at 100
// percent every page renders like the input page (crop box shown); every
// copied object is its source object renumbered.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "base/error.h"
#include "output/copy_list.h"
#include "output/page_keys.h"
#include "plenvo.h"
#include "reader/doc.h"
#include "support/pdf_builder.h"
#include "support/render_compare.h"

using namespace plenvo_test;

namespace {

std::string base_name(const std::string &path) {
    size_t s = path.rfind('/');
    return s == std::string::npos ? path : path.substr(s + 1);
}

// Whether the loader takes the file (and its message when not).
bool loads(const std::string &path, std::string *why) {
    plenvo::doc d{};
    if (plenvo::doc_load(path.c_str(), &d) != 0) {
        *why = plenvo::g_err;
        return false;
    }
    plenvo::doc_free(&d);
    return true;
}

}  // namespace

TEST(ScaleCorpus, AllThreeCallsSucceedAndQpdfFindsNoError) {
    const auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    const bool qpdf = have_tool("qpdf");
    std::string dir = temp_dir();
    int scaled = 0;
    std::string skipped;
    for (const auto &f : files) {
        std::string why;
        if (!loads(f, &why)) {
            skipped += "  " + base_name(f) + ": " + why + "\n";
            continue;
        }
        ++scaled;
        const std::string outs[3] = {dir + "/size.pdf", dir + "/percent.pdf", dir + "/custom.pdf"};
        EXPECT_EQ(plenvo_to_size(f.c_str(), outs[0].c_str(), 0), 1) << base_name(f) << ": " << plenvo_last_error();
        EXPECT_EQ(plenvo_percent(f.c_str(), outs[1].c_str(), 73.5f), 1) << base_name(f) << ": " << plenvo_last_error();
        EXPECT_EQ(plenvo_custom(f.c_str(), outs[2].c_str(), 300.0f, 450.5f), 1) << base_name(f) << ": "
                                                                                 << plenvo_last_error();
        for (const auto &o : outs) {
            const std::string bytes = read_file(o);
            EXPECT_EQ(xref_problems(bytes), "") << base_name(f) << " -> " << base_name(o);
            if (!qpdf) continue;
            std::string log;
            int rc = qpdf_check(o, &log);
            // 2 is qpdf's status for errors; warnings alone (3) are listed below.
            EXPECT_NE(rc, 2) << base_name(f) << " -> " << base_name(o) << ":\n" << log;
            if (rc != 0) std::printf("qpdf warnings for %s -> %s:\n%s", base_name(f).c_str(), base_name(o).c_str(), log.c_str());
        }
    }
    std::printf("%d files scaled; not loadable:\n%s", scaled, skipped.c_str());
}

TEST(ScaleCorpus, HundredPercentRendersLikeTheInput) {
    const auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    if (!have_tool("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
    std::string dir = temp_dir();
    std::string report;
    int pages = 0;
    for (const auto &f : files) {
        std::string why;
        if (!loads(f, &why)) continue;
        const std::string out = dir + "/" + base_name(f);
        ASSERT_EQ(plenvo_percent(f.c_str(), out.c_str(), 100.0f), 1) << base_name(f) << ": " << plenvo_last_error();
        std::vector<grey_image> want, got;
        std::string err;
        if (!render_pages(f, 36, true, &want, &err)) {
            report += base_name(f) + ": input does not render (" + err + ")\n";
            continue;
        }
        if (!render_pages(out, 36, true, &got, &err)) {
            ADD_FAILURE() << base_name(f) << ": output does not render: " << err;
            continue;
        }
        EXPECT_EQ(got.size(), want.size()) << base_name(f);
        for (size_t k = 0; k < want.size() && k < got.size(); ++k) {
            ++pages;
            double diff = mean_abs_diff(want[k], got[k]);
            if (diff < 0 || diff >= 1.0) {
                char line[256];
                std::snprintf(line, sizeof line, "%s page %zu: %s %.3f (%dx%d vs %dx%d)\n", base_name(f).c_str(), k + 1,
                              diff < 0 ? "size differs" : "mean grey difference", diff, want[k].w, want[k].h,
                              got[k].w, got[k].h);
                report += line;
                ADD_FAILURE() << line;
            }
        }
    }
    std::printf("%d pages compared\n%s", pages, report.c_str());
}

namespace {

const std::regex &ref_pattern() {
    static const std::regex re(R"((^|[\s\[\]<>/(){}%])(\d+)\s+(\d+)\s+R(?=[\s\[\]<>/(){}%]|$))");
    return re;
}

// Replaces every reference "N G R" by "@" + map(N) (or by what map returns
// when it starts with something else), and trims trailing white space.
template <class Map>
std::string normalise(const std::string &text, Map map) {
    std::string out;
    auto begin = std::sregex_iterator(text.begin(), text.end(), ref_pattern());
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        const std::smatch &m = *it;
        size_t at = static_cast<size_t>(m.position(0)) + m[1].length();
        out += text.substr(last, at - last);
        out += map(std::stol(m[2].str()));
        last = static_cast<size_t>(m.position(0) + m.length(0));
    }
    out += text.substr(last);
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
    return out;
}

// The source text of a copied object as the writer copies it: a member's
// text, a stream's dictionary, or the body after "N G obj".
std::string source_text(const plenvo::doc &d, const plenvo::objent *e) {
    if (e->in_objstm) return std::string(reinterpret_cast<const char *>(e->text), static_cast<size_t>(e->text_len));
    const char *t = reinterpret_cast<const char *>(d.data);
    if (e->has_stream) return std::string(t + e->dict_pos, static_cast<size_t>(e->stream_pos - e->dict_pos));
    std::string all(t + e->hdr_pos, static_cast<size_t>(e->endobj_pos - e->hdr_pos));
    size_t obj = all.find("obj");
    size_t start = obj + 3;
    while (start < all.size() && std::isspace(static_cast<unsigned char>(all[start]))) ++start;
    return all.substr(start);
}

}  // namespace

// Every copied object of every corpus output is its source object with each
// reference leading to the copy of the object the source named (or null for
// pages and the catalog), and every stream's data is the stored data.
TEST(ScaleCorpus, CopiedObjectsAreTheirSourcesRenumbered) {
    const auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    std::string dir = temp_dir();
    size_t checked = 0;
    for (const auto &f : files) {
        plenvo::doc d{};
        if (plenvo::doc_load(f.c_str(), &d) != 0) continue;
        const std::string out = dir + "/out.pdf";
        ASSERT_EQ(plenvo_percent(f.c_str(), out.c_str(), 100.0f), 1) << base_name(f) << ": " << plenvo_last_error();
        const std::string bytes = read_file(out);
        plenvo::copy_list cl;
        const int32_t first = 3 * d.pages.count + 3;
        plenvo::build_copy_list(&d, first, &cl, plenvo::page_keys_of(&d).data());
        auto old_of_new = [&](long m) -> std::string {
            if (m >= first && m < first + static_cast<long>(cl.old_nums.size()))
                return "@" + std::to_string(cl.old_nums[static_cast<size_t>(m - first)]);
            return "?" + std::to_string(m);
        };
        auto source_ref = [&](long n) -> std::string {
            if (n >= 0 && static_cast<size_t>(n) < cl.new_of.size() && cl.new_of[static_cast<size_t>(n)] < 0) return "null";
            return "@" + std::to_string(n);
        };
        for (size_t j = 0; j < cl.old_nums.size(); ++j) {
            const plenvo::objent *e = plenvo::doc_lookup(&d, cl.old_nums[j]);
            const std::string copy = object_at(bytes, first + static_cast<int>(j));
            if (!e) {
                EXPECT_EQ(copy, "") << base_name(f) << " old " << cl.old_nums[j];
                continue;
            }
            ++checked;
            std::string head = std::to_string(first + j) + " 0 obj\n";
            ASSERT_EQ(copy.rfind(head, 0), 0u) << base_name(f);
            std::string body = copy.substr(head.size());
            std::string want = source_text(d, e);
            if (e->has_stream && !e->in_objstm) {
                size_t s = body.find("stream\n");
                EXPECT_EQ(stream_data(copy), std::string(reinterpret_cast<const char *>(d.data) + e->data_pos,
                                                         static_cast<size_t>(e->data_end - e->data_pos)))
                    << base_name(f) << " old " << e->num;
                body = body.substr(0, s);
            } else {
                body = body.substr(0, body.rfind("endobj"));
            }
            EXPECT_EQ(normalise(body, old_of_new), normalise(want, source_ref)) << base_name(f) << " old " << e->num;
        }
        plenvo::doc_free(&d);
    }
    std::printf("%zu copied objects compared with their sources\n", checked);
}
