// Where each input's result goes.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace plenvo::cli {

// The output path for `input`: inside `outdir` when it is not empty, else
// next to the input; the file name is the input's stem, then `suffix`, then
// the input's extension ("in/a.pdf", "_a4" -> "in/a_a4.pdf").
std::string output_name(const std::string &input, const std::string &outdir,
                        const std::string &suffix);

// The jobs of a fit or percent command. Returns "" with *out filled, or a
// usage error when two inputs would be written to the same file or one
// input's result would overwrite another input. Touches no file.
std::string plan_jobs(const options &o, std::vector<job> *out);

// Creates `dir` and its parents when missing. Returns "" or the reason.
std::string make_output_dir(const std::string &dir);

}  // namespace plenvo::cli
