// End to end over the real PDFs of the corpus: every file that loads is
// scaled by all three calls, qpdf finds no error in any output, and at 100
// percent every page renders like the input page (crop box shown).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "interface/error.h"
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
