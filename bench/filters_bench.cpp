// Throughput of the content filter decoders and of decoded_stream over the
// corpus. Bytes processed are decoded (output) bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "inflate/filters.h"
#include "reader/decoded_stream.h"
#include "reader/doc.h"
#include "support/encoders.h"

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>
#endif

using namespace plenvo;
using plenvo_test::ascii85_encode;

namespace {

// Page-content-like text: path operators with varying coordinates.
std::string content_text(size_t n) {
    std::mt19937 rng(42);
    std::string s;
    char line[96];
    while (s.size() < n) {
        std::snprintf(line, sizeof line, "%u %u m %u %u l %u.%u w S\n", unsigned(rng() % 612),
                      unsigned(rng() % 792), unsigned(rng() % 612), unsigned(rng() % 792),
                      unsigned(rng() % 4), unsigned(rng() % 10));
        s += line;
    }
    s.resize(n);
    return s;
}

const std::string &sample() {
    static const std::string s = content_text(size_t(8) << 20);
    return s;
}

template <class F>
void run(benchmark::State &state, const std::vector<uint8_t> &in, F decode) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!decode(in, out)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

void BM_lzw(benchmark::State &state) {
    static const std::vector<uint8_t> in = plenvo_test::lzw_encode(sample(), 1);
    run(state, in, [](const std::vector<uint8_t> &i, std::vector<uint8_t> &o) {
        return lzw_decode(i.data(), i.size(), 1, o, FILTER_MAX_OUT);
    });
}
BENCHMARK(BM_lzw)->Unit(benchmark::kMillisecond);

void BM_ascii85(benchmark::State &state) {
    static const std::string enc = ascii85_encode(sample());
    static const std::vector<uint8_t> in(enc.begin(), enc.end());
    run(state, in, [](const std::vector<uint8_t> &i, std::vector<uint8_t> &o) {
        return ascii85_decode(i.data(), i.size(), o, FILTER_MAX_OUT);
    });
}
BENCHMARK(BM_ascii85)->Unit(benchmark::kMillisecond);

void BM_asciihex(benchmark::State &state) {
    static const std::vector<uint8_t> in = [] {
        static const char *digits = "0123456789abcdef";
        std::vector<uint8_t> v;
        for (unsigned char c : sample()) {
            v.push_back(uint8_t(digits[c >> 4]));
            v.push_back(uint8_t(digits[c & 15]));
        }
        v.push_back('>');
        return v;
    }();
    run(state, in, [](const std::vector<uint8_t> &i, std::vector<uint8_t> &o) {
        return asciihex_decode(i.data(), i.size(), o, FILTER_MAX_OUT);
    });
}
BENCHMARK(BM_asciihex)->Unit(benchmark::kMillisecond);

void BM_runlength(benchmark::State &state) {
    static const std::vector<uint8_t> in = [] {
        std::vector<uint8_t> v;
        const std::string &s = sample();
        for (size_t i = 0; i < s.size(); i += 100) {
            v.push_back(99);  // literal runs of 100 bytes, then a run of 64 spaces
            v.insert(v.end(), s.begin() + i, s.begin() + std::min(s.size(), i + 100));
            v.push_back(257 - 64);
            v.push_back(' ');
        }
        v.push_back(128);
        return v;
    }();
    run(state, in, [](const std::vector<uint8_t> &i, std::vector<uint8_t> &o) {
        return runlength_decode(i.data(), i.size(), o, FILTER_MAX_OUT);
    });
}
BENCHMARK(BM_runlength)->Unit(benchmark::kMillisecond);

// PNG rows of 1024 columns of three 8-bit components; state.range(0) is the row type.
void BM_png_predictor(benchmark::State &state) {
    const int type = int(state.range(0));
    const size_t row = 3 * 1024;
    std::vector<uint8_t> rows;
    const std::string &s = sample();
    for (size_t i = 0; i + row <= s.size(); i += row) {
        rows.push_back(uint8_t(type));
        rows.insert(rows.end(), s.begin() + i, s.begin() + i + row);
    }
    filter_parms p;
    p.predictor = 10 + type;
    p.colors = 3;
    p.columns = 1024;
    std::vector<uint8_t> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = rows;
        state.ResumeTiming();
        unpredict(work, p);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(work.size()));
}
BENCHMARK(BM_png_predictor)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);

#if defined(PLENVO_HAVE_ZLIB)
// Content compressing far beyond 20:1, so the output block is retried larger.
void BM_flate_high_ratio(benchmark::State &state) {
    std::string s;
    while (s.size() < (size_t(32) << 20)) s += "0 0 m 612 792 l S\n";
    uLongf n = compressBound(uLong(s.size()));
    std::vector<uint8_t> in(n);
    compress2(in.data(), &n, reinterpret_cast<const Bytef *>(s.data()), uLong(s.size()), 9);
    in.resize(n);
    state.counters["ratio"] = double(s.size()) / double(n);
    run(state, in, [](const std::vector<uint8_t> &i, std::vector<uint8_t> &o) {
        return flate_decode(i.data(), i.size(), o, FILTER_MAX_OUT);
    });
}
BENCHMARK(BM_flate_high_ratio)->Unit(benchmark::kMillisecond);
#endif

// decoded_stream over every stream of every corpus file.
void BM_decoded_stream_corpus(benchmark::State &state) {
    namespace fs = std::filesystem;
    std::vector<doc> docs;
    std::error_code ec;
    if (fs::is_directory(PLENVO_CORPUS_DIR, ec)) {
        for (const auto &f : fs::directory_iterator(PLENVO_CORPUS_DIR)) {
            if (f.path().extension() != ".pdf") continue;
            std::ifstream in(f.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            doc d{};
            if (doc_load_bytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "bench",
                               &d) == 0)
                docs.push_back(d);
        }
    }
    if (docs.empty()) {
        state.SkipWithError("corpus absent");
        return;
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const doc &d : docs) {
            for (int32_t i = 0; i < d.objs.count; ++i) {
                buf b{};
                int32_t n = 0;
                if (decoded_stream(&d, &d.objs.items[i], &b, &n)) bytes += n;
                buf_free(&b);
            }
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.counters["decoded_MiB"] = double(bytes) / 1048576.0;
    for (doc &d : docs) doc_free(&d);
}
BENCHMARK(BM_decoded_stream_corpus)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
