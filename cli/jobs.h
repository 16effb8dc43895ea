// Running one library call per file, one after another or in parallel child
// processes, with the progress line and one message per failure.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "options.h"
#include "progress.h"

namespace plenvo::cli {

// Runs the library call for one job. Returns true on success; on failure
// sets *message to the reason (the library's error text).
using job_fn = std::function<bool(const job &, std::string *message)>;

// The command-line words (after the program name) of a run of this program
// that does exactly one job quietly; used where child processes cannot be
// forked and must be started afresh (Windows).
using job_words_fn = std::function<std::vector<std::string>(const job &)>;

// Runs every job and returns how many failed. Each failure is printed on
// standard error as "plenvo: <input>: <message>". At most `parallel` jobs
// run at once; above 1 each runs in its own child process, since the
// library's calls must not overlap inside one process: forked on POSIX,
// started from `words` on Windows (at most 64 at once there).
int run_jobs(const std::vector<job> &jobs, int parallel, const job_fn &fn,
             const job_words_fn &words, progress *pr);

// Prints the outcome of one job (the failure line, then the progress step).
void report_job(progress *pr, const job &j, bool ok, const std::string &message);

// The parallel runners, one per platform (jobs_posix.cpp, jobs_windows.cpp).
int run_parallel(const std::vector<job> &jobs, int parallel, const job_fn &fn,
                 const job_words_fn &words, progress *pr);

}  // namespace plenvo::cli
