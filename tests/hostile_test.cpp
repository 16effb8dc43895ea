// Damaged real files: every corpus file cut at 50 evenly spaced offsets and
// with 50 single-byte changes (fixed seed). Every call must return cleanly;
// a failed scaling call leaves no output file and a message, a successful one
// an output file and an empty error text.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {

int g_ok = 0, g_failed = 0;

// Runs the page-size query and one scaling call on bytes; checks the contract.
void exercise(const std::string &dir, const std::string &bytes, const std::string &what, int variant) {
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    std::remove(out.c_str());
    const char *answer = plenvo_page_size(in.c_str(), 1);
    if (answer) {
        EXPECT_EQ(std::string(plenvo_last_error()), "") << what;
        EXPECT_EQ(std::string(answer).rfind("{\"width_pt\":", 0), 0u) << what;
    } else {
        EXPECT_NE(std::string(plenvo_last_error()), "") << what;
    }
    int rc = (variant % 3 == 0)   ? plenvo_to_size(in.c_str(), out.c_str(), 0)
             : (variant % 3 == 1) ? plenvo_percent(in.c_str(), out.c_str(), 75.0f)
                                  : plenvo_custom(in.c_str(), out.c_str(), 300.0f, 500.0f);
    if (rc == 1) {
        ++g_ok;
        EXPECT_EQ(std::string(plenvo_last_error()), "") << what;
        EXPECT_TRUE(file_exists(out)) << what;
    } else {
        ++g_failed;
        EXPECT_EQ(rc, 0) << what;
        EXPECT_NE(std::string(plenvo_last_error()), "") << what;
        EXPECT_FALSE(file_exists(out)) << what << ": " << plenvo_last_error();
    }
    std::remove(out.c_str());
}

}  // namespace

TEST(Hostile, TruncatedAndFlippedCorpusFiles) {
    auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    std::string dir = temp_dir();
    std::mt19937 rng(20261209);
    for (const auto &f : files) {
        std::string bytes = read_file(f);
        ASSERT_FALSE(bytes.empty()) << f;
        size_t n = bytes.size();
        for (int k = 1; k <= 50; ++k) {
            size_t cut = n * static_cast<size_t>(k) / 51;
            exercise(dir, bytes.substr(0, cut), f + " cut at " + std::to_string(cut), k);
        }
        for (int k = 0; k < 50; ++k) {
            std::string m = bytes;
            size_t pos = std::uniform_int_distribution<size_t>(0, n - 1)(rng);
            m[pos] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            exercise(dir, m, f + " byte " + std::to_string(pos) + " changed", k);
        }
    }
    std::printf("hostile inputs: %d rescaled, %d refused\n", g_ok, g_failed);
}
