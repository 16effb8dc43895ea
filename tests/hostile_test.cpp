// Damaged files: every corpus file (and every fuzz seed, which the repository
// always has) cut at 50 evenly spaced offsets and with 50 single-byte changes
// (fixed seed). Every call must return cleanly: a failed scaling call leaves
// a message and no output file (or, when one was there before, that file
// unchanged); a successful one an output file and an empty error text.
// Leaks are found by the sanitizer build, which runs this test too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {

int g_ok = 0, g_failed = 0;

const char *const k_previous = "previous output, kept by a failed call\n";

// Runs the page-size query and one scaling call on bytes; checks the
// contract. With `previous`, the output path holds a file before the call.
void exercise(const std::string &dir, const std::string &bytes, const std::string &what, int variant,
              bool previous) {
    std::string in = write_file(dir, "in.pdf", bytes);
    std::string out = dir + "/out.pdf";
    std::remove(out.c_str());
    if (previous) write_file(dir, "out.pdf", k_previous);
    const char *answer = plenvo_page_size(in.c_str(), 1 + variant % 2);
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
        if (previous) EXPECT_NE(read_file(out), k_previous) << what << ": the output was not replaced";
    } else {
        ++g_failed;
        EXPECT_EQ(rc, 0) << what;
        EXPECT_NE(std::string(plenvo_last_error()), "") << what;
        if (previous)
            EXPECT_EQ(read_file(out), k_previous) << what << ": " << plenvo_last_error();
        else
            EXPECT_FALSE(file_exists(out)) << what << ": " << plenvo_last_error();
    }
    std::remove(out.c_str());
}

// Every file cut at 50 offsets and changed at 50 random bytes.
void damage_all(const std::vector<std::string> &files) {
    std::string dir = temp_dir();
    std::mt19937 rng(20261209);
    for (const auto &f : files) {
        std::string bytes = read_file(f);
        ASSERT_FALSE(bytes.empty()) << f;
        size_t n = bytes.size();
        for (int k = 1; k <= 50; ++k) {
            size_t cut = n * static_cast<size_t>(k) / 51;
            exercise(dir, bytes.substr(0, cut), f + " cut at " + std::to_string(cut), k, false);
        }
        for (int k = 0; k < 50; ++k) {
            std::string m = bytes;
            size_t pos = std::uniform_int_distribution<size_t>(0, n - 1)(rng);
            m[pos] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            exercise(dir, m, f + " byte " + std::to_string(pos) + " changed", k, k % 5 == 0);
        }
    }
}

}  // namespace

TEST(Hostile, TruncatedAndFlippedCorpusFiles) {
    auto files = corpus_files();
    if (files.empty()) GTEST_SKIP() << "corpus not present";
    g_ok = g_failed = 0;
    damage_all(files);
    std::printf("hostile inputs: %d rescaled, %d refused\n", g_ok, g_failed);
}

TEST(Hostile, TruncatedAndFlippedFuzzSeeds) {
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::directory_iterator(std::string(PLENVO_SOURCE_DIR) + "/fuzz/corpus/load"))
        if (e.is_regular_file()) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    g_ok = g_failed = 0;
    damage_all(files);
    std::printf("hostile seeds: %d rescaled, %d refused\n", g_ok, g_failed);
    // The seeds include intact documents: damage does not refuse everything.
    EXPECT_GT(g_ok, 0);
    EXPECT_GT(g_failed, 0);
}

TEST(HostilePaths, DirectoryAsInputCannotBeOpened) {
    std::string dir = temp_dir();
    EXPECT_EQ(plenvo_page_size(dir.c_str(), 1), nullptr);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot open " + dir);
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_percent(dir.c_str(), out.c_str(), 50.0f), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot open " + dir);
    EXPECT_FALSE(file_exists(out));
}

TEST(HostilePaths, SpecialFilesAsOutputAreNeverReplaced) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    // A named pipe stands for any node that is not a regular file (devices
    // such as /dev/null, sockets): renaming a file over it would replace the
    // node itself.
    std::string fifo = dir + "/pipe.pdf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_EQ(plenvo_to_size(in.c_str(), fifo.c_str(), 0), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + fifo);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // A directory is not replaced either.
    std::string sub = dir + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    EXPECT_EQ(plenvo_custom(in.c_str(), sub.c_str(), 300, 400), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + sub);
    ASSERT_EQ(lstat(sub.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}
