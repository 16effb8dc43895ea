// Builds small PDF files for tests: numbered objects, streams, a correct
// cross-reference table and trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plenvo_test {

struct pdf_builder {
    std::string head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    struct obj {
        int num;
        std::string body;  // everything between "N 0 obj\n" and "\nendobj\n"
    };
    std::vector<obj> objs;
    int root = 1;                // /Root of the trailer; 0 leaves it out
    std::string trailer_extra;   // more trailer keys, e.g. "/Encrypt 9 0 R"
    bool write_xref = true;      // false: no xref table, trailer or startxref

    // Adds object num with the given body (a dictionary, number, array ...).
    pdf_builder &add(int num, const std::string &body);
    // Adds a stream object: "<< /Length n <extra> >>\nstream\n<data>\nendstream".
    pdf_builder &add_stream(int num, const std::string &data, const std::string &extra = "");
    // The whole file.
    std::string build() const;
};

// A document of `pages` pages, each "<< /Type /Page /Parent 2 0 R <page_extra> >>",
// catalog 1, pages node 2 with <pages_extra>, pages numbered 3, 4, ...
std::string simple_pdf(int pages, const std::string &page_extra = "/MediaBox [0 0 612 792]",
                       const std::string &pages_extra = "");

// zlib-compresses data (level 6). Only in tests linked with zlib.
std::string zlib_compress(const std::string &data, int level = 6);

// A fresh empty directory for one test's files; removed at exit.
std::string temp_dir();
// Writes bytes to dir/name and returns the path.
std::string write_file(const std::string &dir, const std::string &name, const std::string &bytes);
// The whole content of a file, or "" when it cannot be read.
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);

// The directory of real PDFs, or "" when it is absent.
std::string corpus_dir();
// The PDF files of the corpus, sorted by name (empty when absent).
std::vector<std::string> corpus_files();
// True when `tool` is on PATH.
bool have_tool(const std::string &tool);
// Runs a shell command; returns its exit status and, when out is not null,
// its standard output.
int run_command(const std::string &cmd, std::string *out = nullptr);

}  // namespace plenvo_test
