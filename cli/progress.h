// The progress line drawn on a terminal while several files are processed,
// and the messages printed around it.
#pragma once

#include <cstddef>
#include <string>

namespace plenvo::cli {

struct progress {
    bool enabled = false;  // drawing on a terminal
    int total = 0;
    int done = 0;
    int failed = 0;
    size_t shown = 0;      // characters of the line now on screen
    int width = 80;        // terminal columns
};

// True when the standard error stream is a terminal.
bool stderr_is_terminal();

// A progress record for `total` files; it draws only when `enabled`.
progress progress_start(int total, bool enabled);

// Counts one finished file (failed or not) and redraws the line with `name`.
void progress_step(progress *p, const std::string &name, bool ok);

// Prints one message line on standard error, keeping the progress line
// below it. `line` has no newline.
void progress_message(progress *p, const std::string &line);

// Removes the progress line from the screen.
void progress_finish(progress *p);

}  // namespace plenvo::cli
