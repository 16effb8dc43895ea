#include "support/render_compare.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "support/pdf_builder.h"

namespace fs = std::filesystem;

namespace plenvo_test {

namespace {

std::string quoted(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Reads a binary PGM (P5, maxval < 256).
bool read_pgm(const std::string &bytes, grey_image *img) {
    size_t i = 0;
    auto skip = [&] {
        for (;;) {
            while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i]))) ++i;
            if (i < bytes.size() && bytes[i] == '#') {
                while (i < bytes.size() && bytes[i] != '\n') ++i;
                continue;
            }
            return;
        }
    };
    auto number = [&](int *v) {
        skip();
        if (i >= bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[i]))) return false;
        *v = 0;
        while (i < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[i]))) *v = *v * 10 + (bytes[i++] - '0');
        return true;
    };
    if (bytes.compare(0, 2, "P5") != 0) return false;
    i = 2;
    int w, h, maxval;
    if (!number(&w) || !number(&h) || !number(&maxval) || maxval > 255) return false;
    ++i;  // the single white-space byte after maxval
    if (bytes.size() < i + static_cast<size_t>(w) * h) return false;
    img->w = w;
    img->h = h;
    img->px.assign(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + static_cast<size_t>(w) * h));
    return true;
}

}  // namespace

bool render_pages(const std::string &pdf, int dpi, bool cropbox, std::vector<grey_image> *out,
                  std::string *why) {
    out->clear();
    std::string dir = temp_dir();
    std::string cmd = "pdftoppm -r " + std::to_string(dpi) + " -gray -hide-annotations " +
                      (cropbox ? "-cropbox " : "") + quoted(pdf) + " " + quoted(dir + "/p") + " 2>&1";
    std::string log;
    int rc = run_command(cmd, &log);
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.path().extension() == ".pgm") files.push_back(e.path().string());
    // Page numbers are zero-padded to one width, so name order is page order.
    std::sort(files.begin(), files.end());
    for (const auto &f : files) {
        grey_image img;
        if (!read_pgm(read_file(f), &img)) {
            if (why) *why = "unreadable image " + f;
            return false;
        }
        out->push_back(std::move(img));
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (rc != 0 || out->empty()) {
        if (why) *why = "pdftoppm exit " + std::to_string(rc) + ": " + log;
        return false;
    }
    return true;
}

double mean_abs_diff(const grey_image &a, const grey_image &b) {
    if (std::abs(a.w - b.w) > 1 || std::abs(a.h - b.h) > 1) return -1;
    const int w = std::min(a.w, b.w), h = std::min(a.h, b.h);
    if (w <= 0 || h <= 0) return 0;
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sum += std::abs(static_cast<int>(a.px[static_cast<size_t>(y) * a.w + x]) -
                            static_cast<int>(b.px[static_cast<size_t>(y) * b.w + x]));
    return sum / (static_cast<double>(w) * h);
}

int qpdf_check(const std::string &pdf, std::string *log) {
    return run_command("qpdf --check " + quoted(pdf) + " 2>&1", log);
}

std::string qpdf_problems(const std::string &pdf) {
    std::string log;
    int rc = run_command("qpdf --check " + quoted(pdf) + " 2>&1", &log);
    if (rc != 0 || log.find("WARNING") != std::string::npos || log.find("ERROR") != std::string::npos)
        return "qpdf exit " + std::to_string(rc) + ":\n" + log;
    return "";
}

std::string xref_problems(const std::string &bytes) {
    size_t sx = bytes.rfind("startxref");
    if (sx == std::string::npos) return "no startxref";
    long x = std::strtol(bytes.c_str() + sx + 9, nullptr, 10);
    if (x < 0 || static_cast<size_t>(x) + 4 > bytes.size() || bytes.compare(static_cast<size_t>(x), 5, "xref\n") != 0)
        return "startxref " + std::to_string(x) + " does not point at xref";
    size_t p = static_cast<size_t>(x) + 5;
    char *end = nullptr;
    long first = std::strtol(bytes.c_str() + p, &end, 10);
    long count = std::strtol(end, &end, 10);
    if (first != 0 || count <= 0 || *end != '\n') return "bad subsection header";
    p = static_cast<size_t>(end - bytes.c_str()) + 1;
    if (bytes.size() < p + 20 * static_cast<size_t>(count)) return "table runs past the file";
    for (long k = 0; k < count; ++k) {
        std::string e = bytes.substr(p + 20 * static_cast<size_t>(k), 20);
        if (e.size() != 20 || e[10] != ' ' || e[16] != ' ' || e.compare(18, 2, " \n") != 0)
            return "entry " + std::to_string(k) + " malformed: " + e;
        long off = std::strtol(e.c_str(), nullptr, 10);
        if (e[17] == 'n') {
            std::string want = std::to_string(k) + " 0 obj";
            if (static_cast<size_t>(off) + want.size() > bytes.size() || bytes.compare(static_cast<size_t>(off), want.size(), want) != 0)
                return "entry " + std::to_string(k) + " points at offset " + std::to_string(off) + " which is not " + want;
        } else if (e[17] != 'f') {
            return "entry " + std::to_string(k) + " neither n nor f";
        }
    }
    if (bytes.compare(p + 20 * static_cast<size_t>(count), 8, "trailer\n") != 0) return "no trailer after the table";
    return "";
}

std::string object_at(const std::string &bytes, int k) {
    size_t sx = bytes.rfind("startxref");
    if (sx == std::string::npos) return "";
    size_t x = static_cast<size_t>(std::strtol(bytes.c_str() + sx + 9, nullptr, 10));
    if (x >= bytes.size()) return "";
    char *end = nullptr;
    std::strtol(bytes.c_str() + x + 5, &end, 10);
    long count = std::strtol(end, &end, 10);
    if (k < 0 || k >= count) return "";
    size_t e = static_cast<size_t>(end - bytes.c_str()) + 1 + 20 * static_cast<size_t>(k);
    if (bytes[e + 17] != 'n') return "";
    size_t off = static_cast<size_t>(std::strtol(bytes.c_str() + e, nullptr, 10));
    size_t stop = bytes.find("endobj", off);
    if (stop == std::string::npos) return "";
    // A stream's data may hold anything: its object ends after "endstream".
    size_t st = bytes.find("stream\n", off);
    if (st < stop) {
        size_t es = bytes.find("endstream\nendobj", st);
        if (es != std::string::npos) stop = es + 10;
    }
    return bytes.substr(off, stop + 6 - off);
}

std::string stream_data(const std::string &obj) {
    size_t s = obj.find("stream\n");
    size_t e = obj.rfind("\nendstream");
    if (s == std::string::npos || e == std::string::npos || e < s + 7) return "";
    return obj.substr(s + 7, e - s - 7);
}

int ref_after(const std::string &text, const std::string &key) {
    std::regex re(std::regex_replace(key, std::regex(R"([\\^$.|?*+()\[\]{}/])"), R"(\$&)") +
                  R"(\s+(\d+)\s+\d+\s+R)");
    std::smatch m;
    if (!std::regex_search(text, m, re)) return -1;
    return std::stoi(m[1].str());
}

}  // namespace plenvo_test
