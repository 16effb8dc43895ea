// The page-tree phase on synthetic documents: one wide /Pages node, a
// balanced tree of /Pages nodes with 10 kids each, and a chain of nested
// /Pages nodes. The time per page should stay flat as the documents grow.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/doc.h"

using namespace plenvo;

namespace {

struct pdf_text {
    std::string out = "%PDF-1.4\n";
    void add(int num, const std::string &body) {
        out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
};

std::string kids_of(const std::vector<int> &nums) {
    std::string k = "[";
    for (int n : nums) k += std::to_string(n) + " 0 R ";
    return k + "]";
}

// Catalog 1, root node 2, n pages right under it.
std::string wide_pdf(int n) {
    pdf_text p;
    p.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::vector<int> kids;
    for (int i = 0; i < n; ++i) kids.push_back(3 + i);
    p.add(2, "<< /Type /Pages /Kids " + kids_of(kids) + " /MediaBox [0 0 612 792] >>");
    for (int i = 0; i < n; ++i) p.add(3 + i, "<< /Type /Page /Parent 2 0 R /Rotate 90 >>");
    p.out += "trailer\n<< /Root 1 0 R >>\n";
    return p.out;
}

// Catalog 1; /Pages nodes with 10 kids each down to n pages.
std::string balanced_pdf(int n) {
    pdf_text p;
    p.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    int next = 3;
    std::vector<int> level;
    for (int i = 0; i < n; ++i) {
        p.add(next, "<< /Type /Page /CropBox [0 0 500 500] >>");
        level.push_back(next++);
    }
    while (level.size() > 10) {
        std::vector<int> up;
        for (size_t i = 0; i < level.size(); i += 10) {
            std::vector<int> group(level.begin() + i, level.begin() + std::min(level.size(), i + 10));
            p.add(next, "<< /Type /Pages /Kids " + kids_of(group) + " /Rotate 180 >>");
            up.push_back(next++);
        }
        level = up;
    }
    p.add(2, "<< /Type /Pages /Kids " + kids_of(level) + " /MediaBox [0 0 612 792] >>");
    p.out += "trailer\n<< /Root 1 0 R >>\n";
    return p.out;
}

// Catalog 1; a chain of n nested /Pages nodes with one page at the bottom.
std::string chain_pdf(int n) {
    pdf_text p;
    p.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int i = 0; i < n; ++i)
        p.add(2 + i, "<< /Type /Pages /Kids [" + std::to_string(3 + i) + " 0 R] >>");
    p.add(2 + n, "<< /Type /Page >>");
    p.out += "trailer\n<< /Root 1 0 R >>\n";
    return p.out;
}

// Loads the document once, then times only the page-tree phase.
void run_tree(benchmark::State &state, const std::string &pdf) {
    doc d;
    if (doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), "bench", &d) != 0) {
        state.SkipWithError("the document does not load");
        return;
    }
    int64_t pages = d.pages.count, objects = d.objs.count;
    for (auto _ : state) {
        d.pages.count = 0;
        if (load_page_tree(&d) != 0) {
            state.SkipWithError("the page tree does not load");
            break;
        }
        benchmark::DoNotOptimize(d.pages.items);
    }
    state.SetItemsProcessed(state.iterations() * objects);  // pages and nodes
    state.counters["pages"] = static_cast<double>(pages);
    doc_free(&d);
}

void BM_wide(benchmark::State &state) { run_tree(state, wide_pdf(static_cast<int>(state.range(0)))); }
void BM_balanced(benchmark::State &state) {
    run_tree(state, balanced_pdf(static_cast<int>(state.range(0))));
}
void BM_chain(benchmark::State &state) { run_tree(state, chain_pdf(static_cast<int>(state.range(0)))); }

}  // namespace

BENCHMARK(BM_wide)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_balanced)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_chain)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
