#include "support/pdf_builder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace fs = std::filesystem;

namespace plenvo_test {

pdf_builder &pdf_builder::add(int num, const std::string &body) {
    objs.push_back({num, body});
    return *this;
}

pdf_builder &pdf_builder::add_stream(int num, const std::string &data, const std::string &extra) {
    std::string body = "<< /Length " + std::to_string(data.size());
    if (!extra.empty()) body += " " + extra;
    body += " >>\nstream\n" + data + "\nendstream";
    objs.push_back({num, body});
    return *this;
}

std::string pdf_builder::build() const {
    std::string out = head;
    int maxnum = 0;
    for (const auto &o : objs) maxnum = std::max(maxnum, o.num);
    std::vector<long> offs(maxnum + 1, -1);
    for (const auto &o : objs) {
        offs[o.num] = static_cast<long>(out.size());
        out += std::to_string(o.num) + " 0 obj\n" + o.body + "\nendobj\n";
    }
    if (!write_xref) return out;
    long xref = static_cast<long>(out.size());
    out += "xref\n0 " + std::to_string(maxnum + 1) + "\n0000000000 65535 f \n";
    char line[32];
    for (int k = 1; k <= maxnum; ++k) {
        if (offs[k] >= 0)
            std::snprintf(line, sizeof line, "%010ld 00000 n \n", offs[k]);
        else
            std::snprintf(line, sizeof line, "%010d 65535 f \n", 0);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(maxnum + 1);
    if (root > 0) out += " /Root " + std::to_string(root) + " 0 R";
    if (!trailer_extra.empty()) out += " " + trailer_extra;
    out += " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string simple_pdf(int pages, const std::string &page_extra, const std::string &pages_extra) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += (i ? " " : "") + std::to_string(3 + i) + " 0 R";
    std::string node = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages);
    if (!pages_extra.empty()) node += " " + pages_extra;
    b.add(2, node + " >>");
    for (int i = 0; i < pages; ++i)
        b.add(3 + i, "<< /Type /Page /Parent 2 0 R " + page_extra + " >>");
    return b.build();
}

std::string zlib_compress(const std::string &data, int level) {
#if defined(PLENVO_HAVE_ZLIB)
    uLongf n = compressBound(static_cast<uLong>(data.size()));
    std::string out(n, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &n,
                  reinterpret_cast<const Bytef *>(data.data()), static_cast<uLong>(data.size()),
                  level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(n);
    return out;
#else
    (void)data;
    (void)level;
    throw std::runtime_error("tests built without zlib");
#endif
}

namespace {
struct dir_cleanup {
    std::vector<std::string> dirs;
    ~dir_cleanup() {
        for (const auto &d : dirs) {
            std::error_code ec;
            fs::remove_all(d, ec);
        }
    }
};
dir_cleanup g_dirs;
}  // namespace

std::string temp_dir() {
    std::string tmpl = (fs::temp_directory_path() / "plenvo-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    g_dirs.dirs.emplace_back(buf.data());
    return buf.data();
}

std::string write_file(const std::string &dir, const std::string &name, const std::string &bytes) {
    std::string path = dir + "/" + name;
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "";
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool file_exists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string corpus_dir() {
    const char *env = std::getenv("PLENVO_CORPUS");
    std::string d = env && *env ? env : PLENVO_CORPUS_DIR;
    std::error_code ec;
    if (fs::is_directory(d, ec)) return d;
    return "";
}

std::vector<std::string> corpus_files() {
    std::vector<std::string> out;
    std::string d = corpus_dir();
    if (d.empty()) return out;
    for (const auto &e : fs::directory_iterator(d))
        if (e.path().extension() == ".pdf") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

bool have_tool(const std::string &tool) {
    return run_command("command -v " + tool + " >/dev/null 2>&1") == 0;
}

int run_command(const std::string &cmd, std::string *out) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (out) out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace plenvo_test
