#include "support/raw_pdf.h"

#include <cstdio>

#include "support/encoders.h"
#include "support/pdf_builder.h"

namespace plenvo_test {

long raw_pdf::obj(int num, const std::string &body, bool choose, int gen, const std::string &after_obj) {
    const long off = at();
    out += std::to_string(num) + " " + std::to_string(gen) + " obj" + after_obj + body + "\nendobj\n";
    if (choose) chosen[num] = entry{1, off, gen};
    return off;
}

long raw_pdf::stream(int num, const std::string &data, const std::string &extra, bool choose) {
    std::string body = "<< /Length " + std::to_string(data.size());
    if (!extra.empty()) body += " " + extra;
    return obj(num, body + " >>\nstream\n" + data + "\nendstream", choose);
}

long raw_pdf::objstm(int num, const std::vector<std::pair<int, std::string>> &members, const std::string &extra,
                     const std::function<std::string(const std::string &)> &encode) {
    std::string header, texts;
    for (size_t k = 0; k < members.size(); ++k) {
        header += (k ? " " : "") + std::to_string(members[k].first) + " " + std::to_string(texts.size());
        texts += members[k].second + "\n";
        chosen[members[k].first] = entry{2, num, static_cast<int>(k)};
    }
    header += "\n";
    std::string data = header + texts;
    if (encode) data = encode(data);
    std::string keys = "/Type /ObjStm /N " + std::to_string(members.size()) + " /First " + std::to_string(header.size());
    if (!extra.empty()) keys += " " + extra;
    return stream(num, data, keys);
}

long raw_pdf::table(const std::string &trailer, const std::map<int, entry> *entries, long shift) {
    const std::map<int, entry> &e = entries ? *entries : chosen;
    const long off = at();
    out += "xref\n0 1\n0000000000 65535 f \n";
    char line[32];
    for (auto it = e.begin(); it != e.end();) {
        if (it->second.type != 1 || it->first == 0) {
            ++it;
            continue;
        }
        auto run_end = it;
        int count = 0;
        while (run_end != e.end() && run_end->second.type == 1 && run_end->first == it->first + count) {
            ++run_end;
            ++count;
        }
        out += std::to_string(it->first) + " " + std::to_string(count) + "\n";
        for (; it != run_end; ++it) {
            std::snprintf(line, sizeof line, "%010ld %05d n \n", it->second.f2 + shift, it->second.f3);
            out += line;
        }
    }
    out += "trailer\n" + trailer + "\n";
    return off;
}

long raw_pdf::xref_stream(int num, const std::string &keys, const std::map<int, entry> *entries, bool flate) {
    std::map<int, entry> e = entries ? *entries : chosen;
    const long off = at();
    e[num] = entry{1, off, 0};
    chosen[num] = entry{1, off, 0};
    const int size = e.rbegin()->first + 1;
    std::string rows;
    for (int n = 0; n < size; ++n) {
        auto it = e.find(n);
        const entry x = it != e.end() ? it->second : entry{0, 0, n == 0 ? 65535 : 0};
        rows += static_cast<char>(x.type);
        for (int s = 24; s >= 0; s -= 8) rows += static_cast<char>((x.f2 >> s) & 0xFF);
        rows += static_cast<char>((x.f3 >> 8) & 0xFF);
        rows += static_cast<char>(x.f3 & 0xFF);
    }
    std::string dict = "/Type /XRef /Size " + std::to_string(size) + " /W [1 4 2]";
    if (flate) {
        rows = zlib_compress(png_encode(rows, 7, 1, 2));
        dict += " /Filter /Fl /DecodeParms << /Predictor 12 /Columns 7 >>";
    }
    stream(num, rows, dict + (keys.empty() ? "" : " " + keys));
    return off;
}

void raw_pdf::startxref(long off) { out += "startxref\n" + std::to_string(off) + "\n%%EOF\n"; }

}  // namespace plenvo_test
