// plenvo: the command-line host of the library. Parses the command line,
// then makes one library call per file (or per page for size --all).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "help.h"
#include "jobs.h"
#include "options.h"
#include "outputs.h"
#include "plenvo.h"
#include "progress.h"
#include "interface/page_size.h"
#include "reader/doc.h"

namespace plenvo::cli {

using plenvo::doc;
using plenvo::doc_free;
using plenvo::doc_load;
using plenvo::format_page_size;
using plenvo::PSIZE_OUT_SIZE;

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The largest page side, in points (200 inches), that most PDF viewers
// accept; the library writes larger pages all the same.
constexpr float VIEWER_PAGE_LIMIT_PT = 14400.0f;

int usage_error(const std::string &message) {
    std::string text = "plenvo: " + message + "\nTry 'plenvo --help' for more information.\n";
    std::fputs(text.c_str(), stderr);
    return EXIT_USAGE;
}

void print_failure(const std::string &file, const std::string &message) {
    std::string text = "plenvo: " + file + ": " + message + "\n";
    std::fputs(text.c_str(), stderr);
}

// Prints one answer of the page-size query on its own line.
void print_answer(const char *json) {
    std::fputs(json, stdout);
    std::fputc('\n', stdout);
}

int run_size(const options &o) {
    if (!o.all) {
        const char *answer = plenvo_page_size(o.file.c_str(), o.page);
        if (!answer) {
            print_failure(o.file, plenvo_last_error());
            return EXIT_FAILED;
        }
        print_answer(answer);
        return std::fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
    }
    // Every page: one load, then one answer per page in the query's format.
    doc d;
    if (doc_load(o.file.c_str(), &d) != 0) {
        print_failure(o.file, plenvo_last_error());
        return EXIT_FAILED;
    }
    char line[PSIZE_OUT_SIZE];
    for (int page = 1; page <= d.pages.count; ++page) {
        format_page_size(&d, page, line, sizeof line);
        print_answer(line);
    }
    doc_free(&d);
    return std::fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
}

// The library call of one fit or percent job.
bool scale_one(const options &o, const job &j, std::string *message) {
    const char *in = j.input.c_str();
    const char *out = j.output.c_str();
    int ok = 0;
    if (o.cmd == command::percent) ok = plenvo_percent(in, out, o.percent);
    else if (o.has_size) ok = plenvo_custom(in, out, o.width, o.height);
    else ok = plenvo_to_size(in, out, o.paper);
    if (!ok) *message = plenvo_last_error();
    return ok != 0;
}

// A float as the shortest text that reads back as the same float.
std::string exact_text(float v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

// The words of a run of this program that does job j alone, quietly.
std::vector<std::string> job_words(const options &o, const job &j) {
    std::vector<std::string> w;
    if (o.cmd == command::percent) w = {"percent", "--percent", exact_text(o.percent)};
    else if (o.has_size) w = {"fit", "--size", exact_text(o.width), exact_text(o.height)};
    else w = {"fit", "--paper", paper_name(o.paper)};
    w.insert(w.end(), {"--quiet", "--", j.input, j.output});
    return w;
}

// Warns on stderr when fit's target size has a side above what most viewers
// accept. Prints nothing for a paper name or a percentage, or with --quiet
// (which also keeps the Windows child runs, started with --quiet, silent).
void warn_about_page_size(const options &o) {
    if (o.cmd != command::fit || !o.has_size || o.quiet) return;
    if (o.width <= VIEWER_PAGE_LIMIT_PT && o.height <= VIEWER_PAGE_LIMIT_PT) return;
    std::string text = "plenvo: warning: target size " + exact_text(o.width) + " x " +
                       exact_text(o.height) + " pt exceeds " + exact_text(VIEWER_PAGE_LIMIT_PT) +
                       " pt on a side, the largest page most PDF viewers accept\n";
    std::fputs(text.c_str(), stderr);
}

int run_scale(const options &o) {
    std::vector<job> jobs;
    std::string err = plan_jobs(o, &jobs);
    if (!err.empty()) return usage_error(err);
    warn_about_page_size(o);
    if (!o.outdir.empty()) {
        err = make_output_dir(o.outdir);
        if (!err.empty()) {
            print_failure(o.outdir, err);
            return EXIT_FAILED;
        }
    }
    int parallel = o.jobs;
    if (parallel == 0) parallel = static_cast<int>(std::thread::hardware_concurrency());
    if (parallel < 1) parallel = 1;

    bool several = jobs.size() > 1;
    progress pr = progress_start(static_cast<int>(jobs.size()),
                                 several && !o.quiet && stderr_is_terminal());
    int failed = run_jobs(
        jobs, parallel, [&o](const job &j, std::string *m) { return scale_one(o, j, m); },
        [&o](const job &j) { return job_words(o, j); }, &pr);
    progress_finish(&pr);
    if (failed && several && !o.quiet) {
        std::string text = "plenvo: " + std::to_string(failed) + " of " +
                           std::to_string(jobs.size()) + " files failed\n";
        std::fputs(text.c_str(), stderr);
    }
    return failed ? EXIT_FAILED : EXIT_OK;
}

}  // namespace

int main_cli(int argc, char **argv) {
    options o;
    std::string err = parse_args(argc, argv, &o);
    if (!err.empty()) return usage_error(err);
    switch (o.cmd) {
    case command::help:
        std::fputs(help_text(), stdout);
        return std::fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
    case command::version:
        std::printf("%s\n", version_text());
        return std::fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
    case command::size:
        return run_size(o);
    case command::fit:
    case command::percent:
        return run_scale(o);
    case command::none:
        break;
    }
    return usage_error("no command given");
}

}  // namespace plenvo::cli

int main(int argc, char **argv) {
    try {
        return plenvo::cli::main_cli(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "plenvo: %s\n", e.what());
        return 1;
    }
}
