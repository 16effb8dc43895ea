// Writes PDF files in order, byte by byte, for tests that need what
// pdf_builder keeps right: two bodies of one object number, cross-reference
// data that names any of them (or nothing readable), cross-reference
// streams, object streams and incremental updates.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace plenvo_test {

struct raw_pdf {
    // One cross-reference entry: type 1 (f2 offset, f3 generation), type 2
    // (f2 object stream, f3 index) or type 0 (free).
    struct entry {
        int type;
        long f2;
        int f3;
    };
    std::string out = "%PDF-1.5\n";
    std::map<int, entry> chosen;  // what the next section lists (the body written last, unless chosen otherwise)

    long at() const { return static_cast<long>(out.size()); }
    // "num gen obj<after_obj><body>\nendobj\n"; returns its offset.
    long obj(int num, const std::string &body, bool choose = true, int gen = 0,
             const std::string &after_obj = "\n");
    // A stream object "<< /Length n <extra> >>\nstream\n<data>\nendstream".
    long stream(int num, const std::string &data, const std::string &extra = "", bool choose = true);
    // An object stream holding `members`, each chosen as compressed in it;
    // its data is passed through `encode` when given (for /Filter in `extra`).
    long objstm(int num, const std::vector<std::pair<int, std::string>> &members, const std::string &extra = "",
                const std::function<std::string(const std::string &)> &encode = {});
    // A classic section listing the in-use entries of `entries` (default:
    // chosen), every offset moved by `shift`, then "trailer\n<trailer>\n".
    // Returns the offset of "xref".
    long table(const std::string &trailer, const std::map<int, entry> *entries = nullptr, long shift = 0);
    // A cross-reference stream object num listing `entries` (default: chosen)
    // and itself, /W [1 4 2], uncompressed unless `flate`, when it is Flate
    // with the PNG Up predictor (written /Fl). Returns its offset.
    long xref_stream(int num, const std::string &keys, const std::map<int, entry> *entries = nullptr,
                     bool flate = false);
    void startxref(long off);
};

}  // namespace plenvo_test
