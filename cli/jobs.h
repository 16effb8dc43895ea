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

// Runs every job and returns how many failed. Each failure is printed on
// standard error as "plenvo: <input>: <message>". At most `parallel` jobs
// run at once; above 1 each runs in its own child process (on POSIX), since
// the library's calls must not overlap inside one process. On Windows the
// jobs always run one after another.
int run_jobs(const std::vector<job> &jobs, int parallel, const job_fn &fn, progress *pr);

}  // namespace plenvo::cli
