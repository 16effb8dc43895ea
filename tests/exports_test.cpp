// The exports' argument checks, messages and error-text rules.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "base/error.h"
#include "base/number_text.h"
#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {
std::string err() { return plenvo_last_error(); }

// Sets a decimal-comma locale for the scope; skips the test when none exists.
struct comma_locale {
    std::string old;
    bool ok = false;
    comma_locale() {
        old = std::setlocale(LC_ALL, nullptr);
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"})
            if (std::setlocale(LC_ALL, name)) {
                ok = true;
                break;
            }
    }
    ~comma_locale() { std::setlocale(LC_ALL, old.c_str()); }
};
}  // namespace

TEST(ErrorText, EmptyAtStartAndAfterInit) {
    // Nothing has failed yet in this process.
    EXPECT_EQ(err(), "");
    EXPECT_EQ(plenvo_init(), 1);
    plenvo_to_size(nullptr, "x", 0);
    EXPECT_NE(err(), "");
    EXPECT_EQ(plenvo_init(), 1);
    EXPECT_EQ(err(), "");
    plenvo_to_size(nullptr, "x", 0);
    plenvo_cleanup();
    EXPECT_EQ(err(), "");
    EXPECT_NE(plenvo_last_error(), nullptr);
}

TEST(ErrorText, CutAt1023AndReplaced) {
    std::string path(3000, 'a');
    EXPECT_EQ(plenvo_percent(path.c_str(), "out.pdf", 50.0f), 0);
    std::string e = err();
    EXPECT_EQ(e.size(), 1023u);
    EXPECT_EQ(e.rfind("cannot open aaa", 0), 0u);
    plenvo_to_size(nullptr, nullptr, 9);
    EXPECT_EQ(err(), "NULL path argument");
}

TEST(ToSize, ArgumentChecksInOrder) {
    EXPECT_EQ(plenvo_to_size(nullptr, "o.pdf", 0), 0);
    EXPECT_EQ(err(), "NULL path argument");
    EXPECT_EQ(plenvo_to_size("i.pdf", nullptr, 0), 0);
    EXPECT_EQ(err(), "NULL path argument");
    EXPECT_EQ(plenvo_to_size(nullptr, "o.pdf", 7), 0);  // null path checked first
    EXPECT_EQ(err(), "NULL path argument");
    for (int bad : {-1, 5, 2147483647, -2147483647 - 1}) {
        EXPECT_EQ(plenvo_to_size("/nonexistent/in.pdf", "/nonexistent/out.pdf", bad), 0);
        EXPECT_EQ(err(), "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got " +
                             std::to_string(bad) + ")");
    }
}

TEST(Percent, ArgumentChecksAndValueTexts) {
    EXPECT_EQ(plenvo_percent("i.pdf", nullptr, -3.0f), 0);
    EXPECT_EQ(err(), "NULL path argument");
    struct C { float v; const char *text; };
    const C cases[] = {{0.0f, "0"}, {-12.5f, "-12.5"}, {-0.0f, "-0"}, {-0.1f, "-0.1"},
                       {-1e20f, "-1e+20"}, {-123456789.0f, "-1.23457e+08"},
                       {std::numeric_limits<float>::quiet_NaN(), "nan"},
                       {-std::numeric_limits<float>::infinity(), "-inf"}};
    for (const auto &c : cases) {
        EXPECT_EQ(plenvo_percent("/nonexistent/in.pdf", "/nonexistent/o.pdf", c.v), 0);
        EXPECT_EQ(err(), std::string("percent must be > 0 (got ") + c.text + ")");
    }
}

TEST(Custom, ArgumentChecks) {
    EXPECT_EQ(plenvo_custom(nullptr, "o", 0.0f, 0.0f), 0);
    EXPECT_EQ(err(), "NULL path argument");
    EXPECT_EQ(plenvo_custom("/nonexistent/i", "/nonexistent/o", 0.0f, 842.0f), 0);
    EXPECT_EQ(err(), "width_pt and height_pt must both be > 0 (got 0 x 842)");
    EXPECT_EQ(plenvo_custom("/nonexistent/i", "/nonexistent/o", 595.28f, -1.5f), 0);
    EXPECT_EQ(err(), "width_pt and height_pt must both be > 0 (got 595.28 x -1.5)");
    EXPECT_EQ(plenvo_custom("/nonexistent/i", "/nonexistent/o", 100.0f,
                            std::numeric_limits<float>::quiet_NaN()),
              0);
    EXPECT_EQ(err(), "width_pt and height_pt must both be > 0 (got 100 x nan)");
}

TEST(Messages, FloatTextsIgnoreTheHostLocale) {
    comma_locale loc;
    if (!loc.ok) GTEST_SKIP() << "no decimal-comma locale installed";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%g", 1.5);
    ASSERT_STREQ(probe, "1,5") << "locale did not switch the decimal point";
    EXPECT_EQ(plenvo_percent("/nonexistent/in.pdf", "/nonexistent/o.pdf", -12.5f), 0);
    EXPECT_EQ(err(), "percent must be > 0 (got -12.5)");
    EXPECT_EQ(plenvo_custom("/nonexistent/i", "/nonexistent/o", -0.25f, 842.5f), 0);
    EXPECT_EQ(err(), "width_pt and height_pt must both be > 0 (got -0.25 x 842.5)");
    char t[plenvo::NUMTEXT_SIZE];
    plenvo::number_text(595.28, t);
    EXPECT_STREQ(t, "595.2800");
}

TEST(NumberText, WholeNumbersAndFourDecimals) {
    struct C { double v; const char *text; };
    const C cases[] = {{612, "612"}, {595.28, "595.2800"}, {-0.0, "0"}, {0.5, "0.5000"},
                       {0.00001, "0.0000"}, {3000000000.0, "3000000000.0000"},
                       {-2147483648.0, "-2147483648"}, {2147483647.0, "2147483647"},
                       {2147483648.0, "2147483648.0000"}, {-30.6, "-30.6000"}, {0.94063, "0.9406"},
                       {26.16627, "26.1663"}};
    for (const auto &c : cases) {
        char t[plenvo::NUMTEXT_SIZE];
        int n = plenvo::number_text(c.v, t);
        EXPECT_STREQ(t, c.text);
        EXPECT_EQ(n, static_cast<int>(std::string(c.text).size()));
    }
    char t[plenvo::NUMTEXT_SIZE];
    EXPECT_LE(plenvo::number_text(1e300, t), 63);
}

TEST(FormatG, MatchesPrintfInTheCLocale) {
    for (double v : {0.0, -0.0, 1.0, -12.5, 0.1, 1e-5, 123456.0, 1234567.0, 1e100, 595.280029296875,
                     -1e-300, 100000.0, 999999.5, 0.0001234567}) {
        char want[64];
        std::snprintf(want, sizeof want, "%g", v);
        EXPECT_EQ(plenvo::format_g(v), want) << v;
    }
}

TEST(LoadFailures, MessagesNameThePath) {
    std::string dir = temp_dir();
    std::string missing = dir + "/missing.pdf";
    EXPECT_EQ(plenvo_to_size(missing.c_str(), (dir + "/o.pdf").c_str(), 0), 0);
    EXPECT_EQ(err(), "cannot open " + missing);
    std::string empty = write_file(dir, "empty.pdf", "");
    EXPECT_EQ(plenvo_percent(empty.c_str(), (dir + "/o.pdf").c_str(), 50.0f), 0);
    EXPECT_EQ(err(), "empty input file: " + empty);
    std::string header = write_file(dir, "header.pdf", "%PDF-1.4\n");
    EXPECT_EQ(plenvo_custom(header.c_str(), (dir + "/o.pdf").c_str(), 100.0f, 100.0f), 0);
    EXPECT_EQ(err(), "no PDF objects found \xE2\x80\x94 not a PDF: " + header);
    EXPECT_EQ(plenvo_page_size(header.c_str(), 1), nullptr);
    EXPECT_EQ(err(), "no PDF objects found \xE2\x80\x94 not a PDF: " + header);
    EXPECT_FALSE(file_exists(dir + "/o.pdf"));
    // A directory opens on some systems but cannot be read as a file.
    EXPECT_EQ(plenvo_to_size(dir.c_str(), (dir + "/o.pdf").c_str(), 0), 0);
    EXPECT_FALSE(err().empty());
}

TEST(PageSizeArgs, CheckedBeforeTheFile) {
    EXPECT_EQ(plenvo_page_size(nullptr, 0), nullptr);
    EXPECT_EQ(err(), "NULL path argument");
    EXPECT_EQ(plenvo_page_size("/nonexistent/x.pdf", 0), nullptr);
    EXPECT_EQ(err(), "page must be >= 1 (got 0)");
    EXPECT_EQ(plenvo_page_size("/nonexistent/x.pdf", -1), nullptr);
    EXPECT_EQ(err(), "page must be >= 1 (got -1)");
    EXPECT_EQ(plenvo_page_size("/nonexistent/x.pdf", 1), nullptr);
    EXPECT_EQ(err(), "cannot open /nonexistent/x.pdf");
}
