// Command-line parsing: words into an options record, usage errors as text.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <system_error>

#include "options.h"

namespace plenvo::cli {

namespace {

constexpr const char *PAPER_NAMES[5] = {"A4", "Letter", "A3", "A5", "Legal"};

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Walks the words after the command, splitting "--name=value" and "-xVALUE"
// forms, so each option's value is fetched the same way.
struct word_reader {
    int argc;
    char **argv;
    int next;                  // index of the next unread word
    std::string inline_value;  // value glued to the current option, if any
    bool has_inline = false;

    // The current option's value: the glued one, else the next word.
    // Returns false when there is none.
    bool value(std::string *out) {
        if (has_inline) {
            *out = inline_value;
            has_inline = false;
            return true;
        }
        if (next >= argc) return false;
        *out = argv[next++];
        return true;
    }
};

std::string quoted(const std::string &s) { return "'" + s + "'"; }

// Reads a number > 0 for option text `what`. Returns "" or the usage error.
std::string positive_number(const std::string &text, const char *what, float *out) {
    float v = 0;
    if (!parse_float(text, &v) || !(v > 0.0f))
        return std::string("invalid ") + what + " " + quoted(text) + " (expected a number > 0)";
    *out = v;
    return "";
}

// The options shared by fit and percent. Returns 1 when `name` is one of
// them (consumed with its value, *err set when that is wrong), 0 otherwise.
int batch_option(const std::string &name, word_reader &w, options *o, std::string *err) {
    std::string v;
    if (name == "-o" || name == "--output-dir") {
        if (!w.value(&v) || v.empty()) { *err = "missing directory after " + name; return 1; }
        o->outdir = v;
        return 1;
    }
    if (name == "--suffix") {
        if (!w.value(&v)) { *err = "missing text after --suffix"; return 1; }
        o->has_suffix = true;
        o->suffix = v;
        if (v.find('/') != std::string::npos || v.find('\\') != std::string::npos)
            *err = "the suffix must not contain a path separator (got " + quoted(v) + ")";
        return 1;
    }
    if (name == "-j" || name == "--jobs") {
        int n = 0;
        if (!w.value(&v)) { *err = "missing number after " + name; return 1; }
        if (!parse_int(v, &n) || n < 0 || n > 1024)
            *err = "invalid number of jobs " + quoted(v) + " (expected 0 to 1024)";
        else
            o->jobs = n;
        return 1;
    }
    if (name == "-q" || name == "--quiet") {
        if (w.has_inline) { *err = name + " takes no value"; return 1; }
        o->quiet = true;
        return 1;
    }
    return 0;
}

// Reads the words after the command: options into *o, the rest into *pos.
// Returns "" or the usage error; stops early at --help.
std::string read_words(word_reader &w, options *o, std::vector<std::string> *pos) {
    bool only_positional = false;
    while (w.next < w.argc) {
        std::string arg = w.argv[w.next++];
        bool negative_number = arg.size() >= 2 && arg[0] == '-' &&
                               ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.');
        if (only_positional || negative_number || arg.size() < 2 || arg[0] != '-') {
            pos->push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_positional = true;
            continue;
        }
        std::string name = arg;
        w.has_inline = false;
        if (arg.compare(0, 2, "--") == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                w.inline_value = arg.substr(eq + 1);
                w.has_inline = true;
            }
        } else if (arg.size() > 2 && (arg[1] == 'o' || arg[1] == 'j')) {
            name = arg.substr(0, 2);
            w.inline_value = arg.substr(2);
            w.has_inline = true;
        }

        if (name == "-h" || name == "--help") {
            o->cmd = command::help;
            return "";
        }
        std::string err, v;
        if (o->cmd == command::size) {
            if (name == "--all" && !w.has_inline) {
                o->all = true;
                continue;
            }
            return "unknown option " + quoted(arg) + " for size";
        }
        if (batch_option(name, w, o, &err)) {
            if (!err.empty()) return err;
            continue;
        }
        if (o->cmd == command::fit && name == "--paper") {
            if (!w.value(&v)) return "missing paper name after --paper";
            if (o->paper >= 0 || o->has_size) return "give only one of --paper and --size";
            o->paper = paper_index(v);
            if (o->paper < 0) return "unknown paper " + quoted(v) + " (use A4, Letter, A3, A5 or Legal)";
            continue;
        }
        if (o->cmd == command::fit && name == "--size" && !w.has_inline) {
            std::string ws, hs;
            if (!w.value(&ws) || !w.value(&hs)) return "--size needs a width and a height in points";
            if (o->paper >= 0 || o->has_size) return "give only one of --paper and --size";
            if (!(err = positive_number(ws, "width", &o->width)).empty()) return err;
            if (!(err = positive_number(hs, "height", &o->height)).empty()) return err;
            o->has_size = true;
            continue;
        }
        if (o->cmd == command::percent && name == "--percent") {
            if (!w.value(&v)) return "missing number after --percent";
            if (!(err = positive_number(v, "percent", &o->percent)).empty()) return err;
            o->has_percent = true;
            continue;
        }
        return "unknown option " + quoted(arg);
    }
    return "";
}

std::string finish_size(options *o, const std::vector<std::string> &pos) {
    if (pos.empty()) return "size needs a FILE";
    if (pos.size() > 2) return "size takes one FILE and at most one PAGE";
    o->file = pos[0];
    if (pos.size() == 2) {
        if (o->all) return "give either a PAGE or --all, not both";
        if (!parse_int(pos[1], &o->page) || o->page < 1)
            return "invalid page " + quoted(pos[1]) + " (expected a whole number >= 1)";
    }
    return "";
}

// Splits the positional words of fit and percent into inputs and the
// explicit output.
std::string finish_batch(options *o, std::vector<std::string> pos) {
    const char *name = o->cmd == command::fit ? "fit" : "percent";
    if (o->cmd == command::fit && o->paper < 0 && !o->has_size)
        return "fit needs --paper NAME or --size W H";
    if (o->cmd == command::percent && !o->has_percent) {
        if (pos.empty()) return "percent needs a PERCENT";
        std::string err = positive_number(pos.back(), "percent", &o->percent);
        if (!err.empty()) return err;
        o->has_percent = true;
        pos.pop_back();
    }
    if (!o->outdir.empty() || o->has_suffix) {
        if (pos.empty()) return std::string(name) + " needs at least one input FILE";
        o->inputs = pos;
        return "";
    }
    if (pos.size() == 2) {
        o->inputs = {pos[0]};
        o->output = pos[1];
        return "";
    }
    if (pos.size() < 2) return std::string(name) + " needs an input and an output file (or -o DIR)";
    return "several input files need -o DIR or --suffix TEXT";
}

}  // namespace

int paper_index(const std::string &name) {
    for (int i = 0; i < 5; ++i)
        if (same_letters(name, PAPER_NAMES[i])) return i;
    return -1;
}

const char *paper_name(int index) { return PAPER_NAMES[index]; }

bool parse_float(const std::string &text, float *out) {
    if (text.empty()) return false;
    const char *first = text.data();
    const char *last = first + text.size();
    if (*first == '+') {  // "+5" reads as 5; from_chars takes no plus sign
        ++first;
        if (first == last || *first == '+' || *first == '-') return false;
    }
    float v = 0;
    auto [p, ec] = std::from_chars(first, last, v, std::chars_format::general);
    if (ec != std::errc() || p != last || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool parse_int(const std::string &text, int *out) {
    if (text.empty()) return false;
    int v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (ec != std::errc() || p != text.data() + text.size()) return false;
    *out = v;
    return true;
}

std::string parse_args(int argc, char **argv, options *out) {
    options o;
    if (argc < 2) return "no command given";
    std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        o.cmd = command::help;
        *out = o;
        return "";
    }
    if (first == "-V" || first == "--version" || first == "version") {
        if (argc > 2) return "--version takes no arguments";
        o.cmd = command::version;
        *out = o;
        return "";
    }
    if (first == "size") o.cmd = command::size;
    else if (first == "fit") o.cmd = command::fit;
    else if (first == "percent") o.cmd = command::percent;
    else if (!first.empty() && first[0] == '-') return "unknown option " + quoted(first);
    else return "unknown command " + quoted(first) + " (use size, fit or percent)";

    word_reader w{argc, argv, 2, "", false};
    std::vector<std::string> pos;
    std::string err = read_words(w, &o, &pos);
    if (!err.empty()) return err;
    if (o.cmd == command::help) {
        *out = o;
        return "";
    }
    err = o.cmd == command::size ? finish_size(&o, pos) : finish_batch(&o, pos);
    if (!err.empty()) return err;
    *out = o;
    return "";
}

}  // namespace plenvo::cli
