// Job runner: the sequential loop and the choice between it and the
// platform's parallel runner.
#include "jobs.h"

namespace plenvo::cli {

void report_job(progress *pr, const job &j, bool ok, const std::string &message) {
    if (!ok) progress_message(pr, "plenvo: " + j.input + ": " + message);
    progress_step(pr, j.input, ok);
}

int run_jobs(const std::vector<job> &jobs, int parallel, const job_fn &fn,
             const job_words_fn &words, progress *pr) {
    if (parallel > 1 && jobs.size() > 1) return run_parallel(jobs, parallel, fn, words, pr);
    int failed = 0;
    for (const job &j : jobs) {
        std::string message;
        bool ok = fn(j, &message);
        if (!ok) ++failed;
        report_job(pr, j, ok, message);
    }
    return failed;
}

}  // namespace plenvo::cli
