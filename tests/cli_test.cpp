// The command-line program, run as a user would: usage errors, library
// failures with their messages, single files, whole batches, parallel jobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <locale.h>

#include "support/pdf_builder.h"

namespace fs = std::filesystem;
using namespace plenvo_test;

namespace {

const std::string CLI = std::string(PLENVO_BINARY_DIR) + "/cli/plenvo";

struct result {
    int status;
    std::string out;
    std::string err;
};

std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// Runs the program in `dir` with the given words; `env` is put before the
// command ("LC_ALL=de_DE.UTF-8").
result run_in(const std::string &dir, const std::vector<std::string> &args,
              const std::string &env = "") {
    std::string errfile = dir + "/.stderr";
    std::string cmd = "cd " + shell_quote(dir) + " && " + env + (env.empty() ? "" : " ") +
                      shell_quote(CLI);
    for (const auto &a : args) cmd += " " + shell_quote(a);
    cmd += " 2>" + shell_quote(errfile) + " </dev/null";
    result r;
    r.status = run_command(cmd, &r.out);
    r.err = read_file(errfile);
    fs::remove(errfile);
    return r;
}

// A PDF whose pages have the given media boxes, in this order.
std::string pdf_with_boxes(const std::vector<std::string> &boxes) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < boxes.size(); ++i) kids += " " + std::to_string(3 + 2 * i) + " 0 R";
    b.add(2, "<< /Type /Pages /Kids [" + kids + " ] /Count " + std::to_string(boxes.size()) + " >>");
    for (size_t i = 0; i < boxes.size(); ++i) {
        int page = static_cast<int>(3 + 2 * i);
        b.add(page, "<< /Type /Page /Parent 2 0 R /MediaBox [" + boxes[i] + "] /Contents " +
                        std::to_string(page + 1) + " 0 R >>");
        b.add_stream(page + 1, "0 0 1 rg 10 10 100 100 re f");
    }
    return b.build();
}

std::string letter_pdf() { return pdf_with_boxes({"0 0 612 792"}); }

std::string json(const std::string &w, const std::string &h, int page, const std::string &size) {
    return "{\"width_pt\":" + w + ",\"height_pt\":" + h + ",\"page\":" + std::to_string(page) +
           ",\"size\":\"" + size + "\"}";
}

// The page-size answer for page 1 of `path`, run from `dir`.
std::string size_of(const std::string &dir, const std::string &path) {
    result r = run_in(dir, {"size", path});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Whether the C library can load locale `name`, looking where the program
// run from this test will look (LOCPATH included).
bool have_locale(const char *name) {
    locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    if (l) freelocale(l);
    return l != static_cast<locale_t>(0);
}

// The names of the entries of dir, sorted.
std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// ---- help, version and usage errors (exit status 2, no file touched) ----

TEST(CliUsage, VersionLineCarriesTheProjectVersion) {
    std::string cmake = read_file(std::string(PLENVO_SOURCE_DIR) + "/CMakeLists.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(cmake, m, std::regex("project\\(plenvo VERSION ([0-9.]+)")));
    std::string dir = temp_dir();
    for (const char *flag : {"--version", "-V"}) {
        result r = run_in(dir, {flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "plenvo " + m[1].str() + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliUsage, HelpIsAManualOnStdout) {
    std::string dir = temp_dir();
    for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}, {"fit", "--help"}}) {
        result r = run_in(dir, args);
        EXPECT_EQ(r.status, 0) << args[0];
        for (const char *section : {"NAME", "SYNOPSIS", "OPTIONS", "EXIT STATUS", "plenvo size FILE",
                                    "plenvo fit", "plenvo percent", "--jobs", "--suffix", "--all"})
            EXPECT_NE(r.out.find(section), std::string::npos) << section;
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliUsage, WrongCommandLinesExitWithTwoAndAHint) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"resize", "in.pdf", "out.pdf"},
        {"--frobnicate"},
        {"fit", "in.pdf", "out.pdf"},                                // no size given
        {"fit", "--paper", "B7", "in.pdf", "out.pdf"},               // not a target paper
        {"fit", "--paper", "A4", "in.pdf"},                          // no output
        {"fit", "--paper", "A4", "in.pdf", "b.pdf", "out.pdf"},      // several inputs, no -o
        {"fit", "--paper", "A4", "--size", "1", "2", "in.pdf", "out.pdf"},
        {"fit", "--size", "100", "in.pdf", "out.pdf"},               // one number missing
        {"fit", "--paper", "A4", "--colour", "in.pdf", "out.pdf"},
        {"fit", "--paper", "A4", "-j", "two", "-o", "d", "in.pdf"},
        {"fit", "--paper", "A4", "--suffix", "x/y", "in.pdf"},
        {"percent", "in.pdf", "out.pdf"},                            // "out.pdf" is no percent
        {"size"},
        {"size", "in.pdf", "0"},
        {"size", "in.pdf", "-1"},
        {"size", "in.pdf", "1.5"},
        {"size", "in.pdf", "2", "--all"},
        {"size", "in.pdf", "1", "2"},
    };
    for (const auto &args : cases) {
        result r = run_in(dir, args);
        std::string shown = args.empty() ? "(none)" : args[0] + " ...";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.err.rfind("plenvo: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Try 'plenvo --help'"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"in.pdf"});
}

TEST(CliUsage, NumbersThatAreNotPlainPositiveDecimalsAreRefused) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    for (const char *bad : {"1,5", "abc", "", "12pt", "0x10", "nan", "inf", "-inf", "1e39", "0", "-0",
                            "-3", "50%", " 5"}) {
        result fit = run_in(dir, {"fit", "--size", bad, "100", "in.pdf", "out.pdf"});
        EXPECT_EQ(fit.status, 2) << "width " << bad;
        result fit_h = run_in(dir, {"fit", "--size", "100", bad, "in.pdf", "out.pdf"});
        EXPECT_EQ(fit_h.status, 2) << "height " << bad;
        result pct = run_in(dir, {"percent", "in.pdf", "out.pdf", bad});
        EXPECT_EQ(pct.status, 2) << "percent " << bad;
        result opt = run_in(dir, {"percent", "--percent", bad, "in.pdf", "out.pdf"});
        EXPECT_EQ(opt.status, 2) << "--percent " << bad;
    }
    EXPECT_FALSE(file_exists(dir + "/out.pdf"));
}

TEST(CliUsage, CollidingOutputsAreRefusedBeforeAnythingIsWritten) {
    std::string dir = temp_dir();
    fs::create_directory(dir + "/x");
    write_file(dir, "a.pdf", letter_pdf());
    write_file(dir, "x/a.pdf", letter_pdf());
    write_file(dir, "b.pdf", letter_pdf());
    write_file(dir, "b_s.pdf", letter_pdf());

    // Two inputs with one file name land on one output.
    result same = run_in(dir, {"fit", "--paper", "A4", "-o", "out", "a.pdf", "x/a.pdf"});
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("'a.pdf' and 'x/a.pdf' would both be written to"), std::string::npos) << same.err;
    EXPECT_FALSE(fs::exists(dir + "/out"));

    // The same input twice, spelled differently.
    result twice = run_in(dir, {"fit", "--paper", "A4", "-o", "out", "a.pdf", "./x/../a.pdf"});
    EXPECT_EQ(twice.status, 2) << twice.err;

    // b.pdf's result b_s.pdf would overwrite the input b_s.pdf.
    std::string before = read_file(dir + "/b_s.pdf");
    result over = run_in(dir, {"percent", "--suffix", "_s", "b.pdf", "b_s.pdf", "50"});
    EXPECT_EQ(over.status, 2);
    EXPECT_NE(over.err.find("would overwrite the input 'b_s.pdf'"), std::string::npos) << over.err;
    EXPECT_EQ(read_file(dir + "/b_s.pdf"), before);
}

// ---- library failures (exit status 1, "plenvo: FILE: MESSAGE") ----

TEST(CliFailures, MissingInputIsReportedWithTheLoadersMessage) {
    std::string dir = temp_dir();
    result r = run_in(dir, {"fit", "--paper", "A4", "missing.pdf", "out.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "plenvo: missing.pdf: cannot open missing.pdf\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(dir + "/out.pdf"));

    result s = run_in(dir, {"size", "missing.pdf"});
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err, "plenvo: missing.pdf: cannot open missing.pdf\n");
    EXPECT_EQ(s.out, "");
}

TEST(CliFailures, EveryScalingCommandReportsLoadFailures) {
    std::string dir = temp_dir();
    write_file(dir, "empty.pdf", "");
    write_file(dir, "junk.pdf", "%PDF-1.4\nnothing here\n");
    const std::vector<std::vector<std::string>> cmds = {
        {"fit", "--paper", "Legal"}, {"fit", "--size", "300", "400"}, {"percent", "--percent", "80"}};
    for (const auto &cmd : cmds) {
        std::vector<std::string> a = cmd;
        a.insert(a.end(), {"empty.pdf", "out.pdf"});
        result r = run_in(dir, a);
        EXPECT_EQ(r.status, 1) << cmd[0];
        EXPECT_EQ(r.err, "plenvo: empty.pdf: empty input file: empty.pdf\n");
        a = cmd;
        a.insert(a.end(), {"junk.pdf", "out.pdf"});
        r = run_in(dir, a);
        EXPECT_EQ(r.status, 1) << cmd[0];
        EXPECT_EQ(r.err, "plenvo: junk.pdf: no PDF objects found \xE2\x80\x94 not a PDF: junk.pdf\n");
    }
    EXPECT_FALSE(file_exists(dir + "/out.pdf"));
}

TEST(CliFailures, PaperNamesAreTakenInAnyLetterCase) {
    // A name that is accepted gets as far as the library (which then cannot
    // open the input); a refused one would be a usage error.
    std::string dir = temp_dir();
    for (const char *name : {"a4", "LETTER", "lEgAl", "A3", "a5"}) {
        result r = run_in(dir, {"fit", "--paper", name, "none.pdf", "out.pdf"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "plenvo: none.pdf: cannot open none.pdf\n") << name;
    }
}

TEST(CliFailures, AFailedCallLeavesAnExistingOutputAlone) {
    std::string dir = temp_dir();
    write_file(dir, "out.pdf", "keep me");
    result r = run_in(dir, {"percent", "missing.pdf", "out.pdf", "50"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir + "/out.pdf"), "keep me");
}

TEST(CliFailures, AnOutputDirectoryThatCannotBeMadeIsAFailure) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    write_file(dir, "plain", "a file, not a directory");
    result r = run_in(dir, {"fit", "--paper", "A4", "-o", "plain/sub", "in.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("plenvo: plain/sub: ", 0), 0u) << r.err;
}

// ---- page sizes ----

TEST(CliSize, PrintsTheAnswerVerbatimOnItsOwnLine) {
    std::string dir = temp_dir();
    write_file(dir, "three.pdf", pdf_with_boxes({"0 0 612 792", "0 0 842 595", "0 0 600 800"}));
    EXPECT_EQ(size_of(dir, "three.pdf"), json("612", "792", 1, "Letter") + "\n");
    result r = run_in(dir, {"size", "three.pdf", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, json("842", "595", 2, "A4") + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliSize, AllPrintsOneLinePerPageInOrder) {
    std::string dir = temp_dir();
    write_file(dir, "three.pdf", pdf_with_boxes({"0 0 612 792", "0 0 842 595", "36 36 576 756"}));
    result r = run_in(dir, {"size", "--all", "three.pdf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{json("612", "792", 1, "Letter"),
                                                         json("842", "595", 2, "A4"),
                                                         json("540", "720", 3, "Executive")}));
    EXPECT_EQ(r.err, "");

    write_file(dir, "one.pdf", letter_pdf());
    r = run_in(dir, {"size", "one.pdf", "--all"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, json("612", "792", 1, "Letter") + "\n");
}

TEST(CliSize, PagePastTheEndIsALibraryFailure) {
    std::string dir = temp_dir();
    write_file(dir, "two.pdf", pdf_with_boxes({"0 0 612 792", "0 0 612 792"}));
    result r = run_in(dir, {"size", "two.pdf", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "plenvo: two.pdf: page 3 out of range (document has 2 pages)\n");
    EXPECT_EQ(r.out, "");
}

// ---- scaling one file ----

TEST(CliScale, FitToEachPaperGivesPagesOfThatPaper) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    struct { const char *name, *w, *h, *size; } papers[] = {
        {"A4", "595.2800", "841.8900", "A4"},  {"letter", "612", "792", "Letter"},
        {"A3", "841.8900", "1190.5500", "A3"}, {"a5", "419.5300", "595.2800", "A5"},
        {"Legal", "612", "1008", "Legal"}};
    for (const auto &p : papers) {
        result r = run_in(dir, {"fit", "--paper", p.name, "in.pdf", "out.pdf"});
        ASSERT_EQ(r.status, 0) << p.name << ": " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(size_of(dir, "out.pdf"), json(p.w, p.h, 1, p.size) + "\n") << p.name;
    }
}

TEST(CliScale, OptionsMayFollowTheFiles) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    result r = run_in(dir, {"fit", "in.pdf", "out.pdf", "--paper", "A4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(size_of(dir, "out.pdf"), json("595.2800", "841.8900", 1, "A4") + "\n");
}

TEST(CliScale, CustomSizeAndPercentReadDecimalPointsInAnyLocale) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    std::vector<std::string> envs = {""};
    if (have_locale("de_DE.UTF-8")) envs.push_back("LC_ALL=de_DE.UTF-8");
    for (const auto &env : envs) {
        result r = run_in(dir, {"fit", "--size", "595.5", "842", "in.pdf", "custom.pdf"}, env);
        ASSERT_EQ(r.status, 0) << env << r.err;
        EXPECT_EQ(size_of(dir, "custom.pdf"), json("595.5000", "842", 1, "A4") + "\n") << env;

        // 612 x 792 scaled by 50% is 306 x 396; by 12.5% it is 76.5 x 99.
        r = run_in(dir, {"percent", "in.pdf", "half.pdf", "50"}, env);
        ASSERT_EQ(r.status, 0) << env << r.err;
        EXPECT_EQ(size_of(dir, "half.pdf"), json("306", "396", 1, "Custom") + "\n");
        r = run_in(dir, {"percent", "--percent=12.5", "in.pdf", "small.pdf"}, env);
        ASSERT_EQ(r.status, 0) << env << r.err;
        EXPECT_EQ(size_of(dir, "small.pdf"), json("76.5000", "99", 1, "Custom") + "\n");
    }
}

TEST(CliScale, AnOutputMayReplaceItsInput) {
    std::string dir = temp_dir();
    write_file(dir, "doc.pdf", letter_pdf());
    result r = run_in(dir, {"fit", "--paper", "A5", "doc.pdf", "doc.pdf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(size_of(dir, "doc.pdf"), json("419.5300", "595.2800", 1, "A5") + "\n");
}

// ---- the largest page most viewers accept (a warning, never a refusal) ----

TEST(CliWarning, TargetSidesAboveTheViewerLimitAreWarnedAboutOnce) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    write_file(dir, "second.pdf", letter_pdf());
    const std::string warning = "plenvo: warning: target size ";
    struct {
        std::vector<std::string> args;
        const char *shown;  // the size as the warning names it, nullptr: no warning
        std::string answer; // page 1 of the output, as the size query gives it
    } cases[] = {
        {{"fit", "--size", "14400", "14400", "in.pdf", "edge.pdf"}, nullptr,
         json("14400", "14400", 1, "Custom")},
        {{"fit", "--size", "14400.01", "500", "in.pdf", "wide.pdf"}, "14400.01 x 500 pt",
         json("14400.0098", "500", 1, "Custom")},
        {{"fit", "--size", "500", "20000", "in.pdf", "tall.pdf"}, "500 x 20000 pt",
         json("500", "20000", 1, "Custom")},
        {{"fit", "--paper", "A3", "in.pdf", "a3.pdf"}, nullptr,
         json("841.8900", "1190.5500", 1, "A3")},
        // Several files, in parallel processes: one warning for the run.
        {{"fit", "--size", "30000", "30000", "-j", "2", "-o", "batch", "in.pdf", "second.pdf"},
         "30000 x 30000 pt", ""},
    };
    for (const auto &c : cases) {
        result r = run_in(dir, c.args);
        std::string shown = c.args[2] + " " + c.args[3];
        EXPECT_EQ(r.status, 0) << shown << ": " << r.err;
        EXPECT_EQ(r.out, "") << shown;
        if (!c.shown) {
            EXPECT_EQ(r.err, "") << shown;
        } else {
            EXPECT_EQ(r.err.rfind(warning + c.shown + " exceeds 14400 pt on a side", 0), 0u) << r.err;
            EXPECT_NE(r.err.find("the largest page most PDF viewers accept\n"), std::string::npos) << r.err;
            EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
        }
        if (!c.answer.empty()) EXPECT_EQ(size_of(dir, c.args.back()), c.answer + "\n") << shown;
    }
    // The pages are written at the size asked for, warning or not.
    for (const char *n : {"batch/in.pdf", "batch/second.pdf"})
        EXPECT_EQ(size_of(dir, n), json("30000", "30000", 1, "Custom") + "\n") << n;
}

TEST(CliWarning, FailuresKeepTheirStatusAndQuietRunsPrintNoWarning) {
    std::string dir = temp_dir();
    write_file(dir, "in.pdf", letter_pdf());
    result failed = run_in(dir, {"fit", "--size", "20000", "100", "missing.pdf", "out.pdf"});
    EXPECT_EQ(failed.status, 1);
    std::vector<std::string> lines = lines_of(failed.err);
    ASSERT_EQ(lines.size(), 2u) << failed.err;
    EXPECT_EQ(lines[0].rfind("plenvo: warning: target size 20000 x 100 pt", 0), 0u) << failed.err;
    EXPECT_EQ(lines[1], "plenvo: missing.pdf: cannot open missing.pdf");

    // A usage error stops before any warning.
    result usage = run_in(dir, {"fit", "--size", "20000", "100", "in.pdf"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err.find("warning"), std::string::npos) << usage.err;

    result quiet = run_in(dir, {"fit", "-q", "--size", "20000", "100", "in.pdf", "out.pdf"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(size_of(dir, "out.pdf"), json("20000", "100", 1, "Custom") + "\n");
}

// ---- batches ----

TEST(CliBatch, OutputDirectoryReceivesEveryFileUnderItsName) {
    std::string dir = temp_dir();
    fs::create_directory(dir + "/in");
    for (const char *n : {"a.pdf", "b.pdf", "c.PDF"}) write_file(dir + "/in", n, letter_pdf());
    result r = run_in(dir, {"fit", "--paper", "A4", "-o", "out/new", "in/a.pdf", "in/b.pdf", "in/c.PDF"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // not a terminal: no progress line
    EXPECT_EQ(names_in(dir + "/out/new"), (std::vector<std::string>{"a.pdf", "b.pdf", "c.PDF"}));
    for (const char *n : {"a.pdf", "b.pdf", "c.PDF"})
        EXPECT_EQ(size_of(dir, std::string("out/new/") + n), json("595.2800", "841.8900", 1, "A4") + "\n");
}

TEST(CliBatch, SuffixPutsResultsNextToTheirInputs) {
    std::string dir = temp_dir();
    fs::create_directory(dir + "/sub");
    write_file(dir, "a.pdf", letter_pdf());
    write_file(dir, "sub/b.pdf", letter_pdf());
    write_file(dir, "noext", letter_pdf());
    result r = run_in(dir, {"percent", "--suffix", "_half", "a.pdf", "sub/b.pdf", "noext", "50"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *n : {"a_half.pdf", "sub/b_half.pdf", "noext_half"})
        EXPECT_EQ(size_of(dir, n), json("306", "396", 1, "Custom") + "\n") << n;
    // Suffix and directory together.
    r = run_in(dir, {"fit", "--paper", "A4", "--suffix", "-A4", "-o", "o", "a.pdf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir + "/o/a-A4.pdf"));
}

TEST(CliBatch, OneBadFileFailsTheRunButNotTheOthers) {
    std::string dir = temp_dir();
    write_file(dir, "a.pdf", letter_pdf());
    write_file(dir, "bad.pdf", "not a pdf at all");
    write_file(dir, "c.pdf", letter_pdf());
    result r = run_in(dir, {"fit", "--paper", "A4", "-o", "out", "a.pdf", "bad.pdf", "c.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "plenvo: bad.pdf: no PDF objects found \xE2\x80\x94 not a PDF: bad.pdf\n"
              "plenvo: 1 of 3 files failed\n");
    EXPECT_EQ(names_in(dir + "/out"), (std::vector<std::string>{"a.pdf", "c.pdf"}));

    r = run_in(dir, {"fit", "--paper", "A4", "-q", "-o", "quiet", "a.pdf", "bad.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "plenvo: bad.pdf: no PDF objects found \xE2\x80\x94 not a PDF: bad.pdf\n");
}

TEST(CliBatch, ParallelJobsGiveTheSameFilesAndMessages) {
    std::string dir = temp_dir();
    std::vector<std::string> inputs;
    for (int i = 0; i < 7; ++i) {
        std::string name = "f" + std::to_string(i) + ".pdf";
        bool bad = i == 2 || i == 5;
        write_file(dir, name, bad ? std::string("garbage") : pdf_with_boxes({"0 0 612 792", "0 0 " +
                                                                 std::to_string(300 + i) + " 400"}));
        inputs.push_back(name);
    }
    auto run_with = [&](const std::string &jobs, const std::string &out) {
        std::vector<std::string> a = {"fit", "--size", "500", "700", "-j", jobs, "-o", out};
        a.insert(a.end(), inputs.begin(), inputs.end());
        return run_in(dir, a);
    };
    result seq = run_with("1", "seq");
    result par = run_with("3", "par");
    result all = run_with("0", "all");
    for (const result *r : {&seq, &par, &all}) {
        EXPECT_EQ(r->status, 1);
        std::vector<std::string> lines = lines_of(r->err);
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{
                             "plenvo: 2 of 7 files failed",
                             "plenvo: f2.pdf: no PDF objects found \xE2\x80\x94 not a PDF: f2.pdf",
                             "plenvo: f5.pdf: no PDF objects found \xE2\x80\x94 not a PDF: f5.pdf"}));
    }
    // Summary comes last.
    EXPECT_EQ(lines_of(par.err).back(), "plenvo: 2 of 7 files failed");
    std::vector<std::string> want = {"f0.pdf", "f1.pdf", "f3.pdf", "f4.pdf", "f6.pdf"};
    ASSERT_EQ(names_in(dir + "/seq"), want);
    ASSERT_EQ(names_in(dir + "/par"), want);
    ASSERT_EQ(names_in(dir + "/all"), want);
    for (const auto &n : want) {
        EXPECT_EQ(read_file(dir + "/par/" + n), read_file(dir + "/seq/" + n)) << n;
        EXPECT_EQ(read_file(dir + "/all/" + n), read_file(dir + "/seq/" + n)) << n;
    }
}

TEST(CliBatch, ProgressLineOnlyOnATerminal) {
    if (!have_tool("script")) GTEST_SKIP() << "script(1) not installed";
    std::string dir = temp_dir();
    for (const char *n : {"a.pdf", "b.pdf", "c.pdf"}) write_file(dir, n, letter_pdf());
    auto on_terminal = [&](const std::string &words) {
        std::string out;
        std::string cmd = "cd " + shell_quote(dir) + " && script -qec " +
                          shell_quote(shell_quote(CLI) + " " + words) + " /dev/null";
        int status = run_command(cmd, &out);
        EXPECT_EQ(status, 0) << out;
        return out;
    };
    std::string shown = on_terminal("fit --paper A4 -o t1 a.pdf b.pdf c.pdf");
    EXPECT_NE(shown.find("[1/3]"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[3/3]"), std::string::npos) << shown;
    EXPECT_NE(shown.find('\r'), std::string::npos);
    EXPECT_EQ(on_terminal("fit --paper A4 -q -o t2 a.pdf b.pdf c.pdf").find("[1/3]"), std::string::npos);
    EXPECT_EQ(on_terminal("fit --paper A4 -o t3 a.pdf").find("[1/1]"), std::string::npos);
    EXPECT_EQ(names_in(dir + "/t2"), (std::vector<std::string>{"a.pdf", "b.pdf", "c.pdf"}));
}

TEST(CliSize, AllListsEveryPageOfEachCorpusFile) {
    if (corpus_dir().empty()) GTEST_SKIP() << "corpus absent";
    if (!have_tool("pdfinfo")) GTEST_SKIP() << "pdfinfo not installed";
    std::string dir = temp_dir();
    int checked = 0;
    for (const std::string &file : corpus_files()) {
        std::string info;
        if (run_command("pdfinfo " + shell_quote(file) + " 2>/dev/null", &info) != 0) continue;
        std::smatch m;
        if (!std::regex_search(info, m, std::regex("Pages:\\s+([0-9]+)"))) continue;
        int pages = std::stoi(m[1].str());
        result r = run_in(dir, {"size", "--all", file});
        if (r.status != 0) {
            // A refused file fails once, with its name, and prints no answer.
            EXPECT_EQ(r.status, 1) << file;
            EXPECT_EQ(r.err.rfind("plenvo: " + file + ": ", 0), 0u) << r.err;
            EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
            EXPECT_EQ(r.out, "") << file;
            continue;
        }
        std::vector<std::string> lines = lines_of(r.out);
        ASSERT_EQ(static_cast<int>(lines.size()), pages) << file;
        for (int p = 1; p <= pages; ++p)
            EXPECT_NE(lines[p - 1].find(",\"page\":" + std::to_string(p) + ",\"size\":"), std::string::npos)
                << file << " line " << p;
        // The last line is the same as asking for that page alone.
        result last = run_in(dir, {"size", file, std::to_string(pages)});
        EXPECT_EQ(last.out, lines.back() + "\n") << file;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}
