// Output naming and the checks that keep one run from writing a file twice
// or overwriting an input that another file still has to read.
#include "outputs.h"

#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace plenvo::cli {

namespace {

// A key under which two spellings of one file compare equal ("a.pdf",
// "./a.pdf", "dir/../a.pdf", a link to it), as far as the file system tells.
std::string path_key(const std::string &p) {
    std::error_code ec;
    fs::path abs = fs::absolute(fs::path(p), ec);
    if (ec) abs = fs::path(p);
    fs::path canon = fs::weakly_canonical(abs, ec);
    if (ec) canon = abs.lexically_normal();
    return canon.string();
}

}  // namespace

std::string output_name(const std::string &input, const std::string &outdir,
                        const std::string &suffix) {
    fs::path in(input);
    fs::path name = in.stem();
    name += suffix;
    name += in.extension();
    if (!outdir.empty()) return (fs::path(outdir) / name).string();
    return (in.parent_path() / name).string();
}

std::string plan_jobs(const options &o, std::vector<job> *out) {
    std::vector<job> jobs;
    if (!o.output.empty()) {
        jobs.push_back(job{o.inputs.at(0), o.output});
    } else {
        for (const std::string &in : o.inputs) {
            if (fs::path(in).filename().empty())
                return "'" + in + "' does not name a file";
            jobs.push_back(job{in, output_name(in, o.outdir, o.suffix)});
        }
    }
    if (jobs.size() > 1) {
        std::map<std::string, size_t> by_output;  // output key -> job index
        std::map<std::string, size_t> by_input;   // input key -> job index
        for (size_t i = 0; i < jobs.size(); ++i) by_input.emplace(path_key(jobs[i].input), i);
        for (size_t i = 0; i < jobs.size(); ++i) {
            std::string key = path_key(jobs[i].output);
            auto [it, fresh] = by_output.emplace(key, i);
            if (!fresh)
                return "'" + jobs[it->second].input + "' and '" + jobs[i].input +
                       "' would both be written to '" + jobs[i].output + "'";
            auto in = by_input.find(key);
            if (in != by_input.end() && in->second != i)
                return "the result of '" + jobs[i].input + "' would overwrite the input '" +
                       jobs[in->second].input + "'";
        }
    }
    *out = std::move(jobs);
    return "";
}

std::string make_output_dir(const std::string &dir) {
    std::error_code ec;
    if (fs::is_directory(fs::path(dir), ec)) return "";
    fs::create_directories(fs::path(dir), ec);
    if (ec) return "cannot create the output directory: " + ec.message();
    if (!fs::is_directory(fs::path(dir), ec)) return "not a directory";
    return "";
}

}  // namespace plenvo::cli
