// The command line of the plenvo program, parsed into one plain record.
#pragma once

#include <string>
#include <vector>

namespace plenvo::cli {

enum class command { none, help, version, size, fit, percent };

// One input file and the path its result is written to.
struct job {
    std::string input;
    std::string output;
};

struct options {
    command cmd = command::none;

    // size
    std::string file;       // the queried file
    int page = 1;           // 1 = first page
    bool all = false;       // one answer per page

    // fit / percent
    int paper = -1;         // 0..4 (A4, Letter, A3, A5, Legal) with --paper, else -1
    bool has_size = false;  // --size W H given
    float width = 0, height = 0;
    bool has_percent = false;
    float percent = 0;
    std::vector<std::string> inputs;
    std::string output;     // explicit output of the single input, "" when none
    std::string outdir;     // -o DIR, "" when none
    bool has_suffix = false;
    std::string suffix;     // inserted before the extension of each output name
    int jobs = 1;           // files processed at the same time; 0 = one per processor
    bool quiet = false;     // no progress line and no summary
};

// Parses argv[1..argc-1]. Returns "" with *out filled, or the text of a usage
// error (no prefix, no newline). Never touches the file system.
std::string parse_args(int argc, char **argv, options *out);

// The paper index 0..4 for a name (A4, Letter, A3, A5, Legal; any letter
// case), or -1 for any other text.
int paper_index(const std::string &name);

// The name of paper index 0..4 ("A4", "Letter", "A3", "A5", "Legal").
const char *paper_name(int index);

// Reads a whole text as a finite decimal number that fits a float, without
// regard to the host's locale. Returns false for anything else ("1,5", "",
// "12abc", "inf", "nan", "1e39").
bool parse_float(const std::string &text, float *out);

// Reads a whole text as a decimal int. Returns false for anything else.
bool parse_int(const std::string &text, int *out);

}  // namespace plenvo::cli
