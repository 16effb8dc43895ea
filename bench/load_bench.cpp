// Loading speed: whole loads (every reading phase and the page tree) of
// generated documents of 10,000 and 100,000 pages, with plain objects and
// with the pages inside compressed object streams, of a 100 MB document, and
// of hostile files built to make an object-by-object search quadratic.
// Reports MB/s and pages/s; time must grow linearly with size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>
#endif

#include "reader/doc.h"

using namespace plenvo;

namespace {

// Collects numbered objects and writes a file with a classic table.
struct writer {
    std::string out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;

    void obj(int num, const std::string &body) {
        if (static_cast<size_t>(num) >= offsets.size()) offsets.resize(static_cast<size_t>(num) + 1, 0);
        offsets[static_cast<size_t>(num)] = out.size();
        out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    void stream(int num, const std::string &dict, const std::string &data) {
        obj(num, "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
    }
    std::string finish(int root) {
        const size_t xref = out.size();
        out += "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
        char line[32];
        for (size_t k = 1; k < offsets.size(); ++k) {
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[k]);
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root " + std::to_string(root) +
               " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }
};

// A page tree of up to 100 kids per node over the pages numbered first_page,
// first_page + 2, ...; node objects are numbered from next_num.
struct page_tree {
    std::vector<std::pair<int, std::string>> nodes;  // (number, dictionary without << >>)
    std::vector<int> parent;                         // by object number, 0 for none
    int root = 0;
};

page_tree make_tree(int pages, int first_page, int next_num) {
    page_tree t;
    std::vector<std::pair<int, int>> level;  // (number, pages below)
    for (int k = 0; k < pages; ++k) level.push_back({first_page + 2 * k, 1});
    t.parent.assign(static_cast<size_t>(next_num + pages / 50 + 16), 0);
    do {
        std::vector<std::pair<int, int>> up;
        for (size_t k = 0; k < level.size(); k += 100) {
            const int num = next_num++;
            std::string kids;
            int total = 0;
            for (size_t j = k; j < level.size() && j < k + 100; ++j) {
                kids += std::to_string(level[j].first) + " 0 R ";
                total += level[j].second;
                t.parent[static_cast<size_t>(level[j].first)] = num;
            }
            t.nodes.push_back({num, "/Type /Pages /Kids [" + kids + "] /Count " + std::to_string(total)});
            up.push_back({num, total});
        }
        level = up;
    } while (level.size() > 1);
    t.root = level[0].first;
    return t;
}

// A document of `pages` pages: catalog 1, font 2, page objects and their
// content streams, a page tree of 100 kids per node. With `objstm`, pages and
// nodes go into Flate object streams of 100 objects (contents stay direct).
std::string make_document(int pages, bool objstm, size_t content_bytes = 60) {
    const int first_page = 3;
    const page_tree tree = make_tree(pages, first_page, first_page + 2 * pages);
    std::string content(content_bytes, ' ');
    const char *ops = "0 0 m 100 100 l S BT /F1 12 Tf (Hello) Tj ET ";
    for (size_t k = 0; k < content_bytes; ++k) content[k] = ops[k % std::strlen(ops)];

    std::vector<std::pair<int, std::string>> plain;  // objects that may go into object streams
    for (int k = 0; k < pages; ++k) {
        const int num = first_page + 2 * k;
        plain.push_back({num, "<< /Type /Page /Parent " + std::to_string(tree.parent[static_cast<size_t>(num)]) +
                                  " 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(num + 1) +
                                  " 0 R /Resources << /Font << /F1 2 0 R >> >> >>"});
    }
    for (const auto &n : tree.nodes) {
        std::string d = "<< " + n.second;
        const int up = tree.parent[static_cast<size_t>(n.first)];
        if (up) d += " /Parent " + std::to_string(up) + " 0 R";
        plain.push_back({n.first, d + " >>"});
    }

    writer w;
    w.obj(1, "<< /Type /Catalog /Pages " + std::to_string(tree.root) + " 0 R >>");
    w.obj(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int k = 0; k < pages; ++k) w.stream(first_page + 2 * k + 1, "", content);
    int next = first_page + 2 * pages + static_cast<int>(tree.nodes.size()) + 1;
#if defined(PLENVO_HAVE_ZLIB)
    if (objstm) {
        for (size_t k = 0; k < plain.size(); k += 100) {
            std::string header, body;
            for (size_t j = k; j < plain.size() && j < k + 100; ++j) {
                header += std::to_string(plain[j].first) + " " + std::to_string(body.size()) + " ";
                body += plain[j].second + "\n";
            }
            const std::string data = header + body;
            uLongf n = compressBound(static_cast<uLong>(data.size()));
            std::string z(n, '\0');
            compress2(reinterpret_cast<Bytef *>(z.data()), &n, reinterpret_cast<const Bytef *>(data.data()),
                      static_cast<uLong>(data.size()), 6);
            z.resize(n);
            w.stream(next++, "/Type /ObjStm /N " + std::to_string(std::min<size_t>(100, plain.size() - k)) +
                                 " /First " + std::to_string(header.size()) + " /Filter /FlateDecode",
                     z);
        }
        return w.finish(1);
    }
#endif
    (void)objstm;
    for (const auto &o : plain) w.obj(o.first, o.second);
    return w.finish(1);
}

void run_load(benchmark::State &state, const std::string &file, int pages) {
    for (auto _ : state) {
        doc d;
        if (doc_load_bytes(reinterpret_cast<const uint8_t *>(file.data()), file.size(), "bench", &d) != 0) {
            state.SkipWithError("load failed");
            return;
        }
        if (d.pages.count != pages) {
            state.SkipWithError("wrong page count");
            doc_free(&d);
            return;
        }
        benchmark::DoNotOptimize(d.objs.count);
        doc_free(&d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(pages) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["MB"] = static_cast<double>(file.size()) / 1e6;
}

// Generated documents are kept between runs of one benchmark.
const std::string &document(int pages, bool objstm) {
    static std::map<std::pair<int, bool>, std::string> made;
    std::string &file = made[{pages, objstm}];
    if (file.empty()) file = make_document(pages, objstm);
    return file;
}

// 10,000 pages fit the processor's second-level cache; from 30,000 on the
// time grows in proportion to the size.
void BM_LoadPages(benchmark::State &state) {
    const int pages = static_cast<int>(state.range(0));
    run_load(state, document(pages, false), pages);
}
BENCHMARK(BM_LoadPages)->Arg(10000)->Arg(30000)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond)->UseRealTime();

#if defined(PLENVO_HAVE_ZLIB)
void BM_LoadPagesInObjectStreams(benchmark::State &state) {
    const int pages = static_cast<int>(state.range(0));
    run_load(state, document(pages, true), pages);
}
BENCHMARK(BM_LoadPagesInObjectStreams)->Arg(10000)->Arg(30000)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// About 100 MB: 1,000 pages with 100 KB content streams each.
void BM_Load100MB(benchmark::State &state) {
    static const std::string file = make_document(1000, false, 100000);
    run_load(state, file, 1000);
}
BENCHMARK(BM_Load100MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- hostile shapes: time must grow linearly with the repetitions ----

void run_hostile(benchmark::State &state, const std::string &file) {
    for (auto _ : state) {
        doc d;
        // Most of these are refused (no pages); the time is what matters.
        doc_load_bytes(reinterpret_cast<const uint8_t *>(file.data()), file.size(), "bench", &d);
        doc_free(&d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
    state.counters["MB"] = static_cast<double>(file.size()) / 1e6;
}

std::string repeat(const std::string &piece, int64_t n, const std::string &tail = "") {
    std::string s;
    s.reserve(piece.size() * static_cast<size_t>(n) + tail.size());
    for (int64_t k = 0; k < n; ++k) s += piece;
    return s + tail;
}

void BM_HostileUnclosedDictionaries(benchmark::State &state) {
    run_hostile(state, repeat("1 0 obj <<\n", state.range(0)) + repeat("2 0 obj <(\n", state.range(0), "endobj"));
}
BENCHMARK(BM_HostileUnclosedDictionaries)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HostileObjectsWithoutEndobj(benchmark::State &state) {
    run_hostile(state, repeat("1 0 obj\n", state.range(0)));
}
BENCHMARK(BM_HostileObjectsWithoutEndobj)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HostileStreamsWithoutEndstream(benchmark::State &state) {
    run_hostile(state, repeat("1 0 obj <</Length 99999999>>stream\nxx\n", state.range(0)));
}
BENCHMARK(BM_HostileStreamsWithoutEndstream)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HostileHexValuesSharingOneStream(benchmark::State &state) {
    run_hostile(state, repeat("1 0 obj <41> /Length /X /N /Y endobj\n", state.range(0),
                              "2 0 obj <</Length 8 /Type /ObjStm /N 1 /First 4>>stream\n2 0 <<>>\nendstream endobj\n"));
}
BENCHMARK(BM_HostileHexValuesSharingOneStream)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HostileManyTrailers(benchmark::State &state) {
    run_hostile(state, "xref\n" + repeat("trailer << /Root /X /Encrypt >>\n", state.range(0), "startxref\n0\n"));
}
BENCHMARK(BM_HostileManyTrailers)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
