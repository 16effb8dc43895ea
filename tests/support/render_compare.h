// Checks of written PDF files for tests: rendering pages to grey images and
// comparing them, the verdict of qpdf --check, and a walk over the
// cross-reference table of a file with one classic table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plenvo_test {

struct grey_image {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // w * h bytes, row by row
};

// Renders every page of `pdf` with pdftoppm at `dpi` in grey, annotations
// hidden, showing the crop box when `cropbox` is set. Returns false (with
// *why set) when pdftoppm fails or writes nothing readable.
bool render_pages(const std::string &pdf, int dpi, bool cropbox, std::vector<grey_image> *out,
                  std::string *why = nullptr);

// Mean absolute grey difference over the area both images cover; -1 when
// their sizes differ by more than one pixel in either direction.
double mean_abs_diff(const grey_image &a, const grey_image &b);

// Runs qpdf --check on `pdf`. Returns "" when it reports no error and no
// warning, otherwise its report.
std::string qpdf_problems(const std::string &pdf);

// Runs qpdf --check on `pdf`: its exit status (0 clean, 2 errors, 3
// warnings only) with the report in *log.
int qpdf_check(const std::string &pdf, std::string *log);

// Checks the file's last cross-reference table: startxref names the offset
// of "xref", every entry is 20 bytes, and every in-use entry k gives the
// offset of "k 0 obj". Returns "" when all holds, else what is wrong.
std::string xref_problems(const std::string &bytes);

// The text of object k found through the cross-reference table, from
// "k 0 obj" through "endobj"; "" when k is free or absent.
std::string object_at(const std::string &bytes, int k);

// The data of the stream object text `obj` (between "stream\n" and
// "\nendstream"); "" when it has none.
std::string stream_data(const std::string &obj);

// The object number N of the first "key N G R" in text, or -1.
int ref_after(const std::string &text, const std::string &key);

}  // namespace plenvo_test
