// Flate decoding speed: the library's decoder against zlib's uncompress on
// the same data, (a) every Flate stream of the sample PDFs, (b) 10,000 small
// streams of about 100 packed bytes with fixed or dynamic Huffman codes, as
// the page contents of a long text document, (c) a generated 64 MiB mixed
// text/binary payload compressed at levels 1, 6 and 9.
// Reports output MB/s for both and, at the end, the ratio library/zlib
// (medians when repeated).
//
//   inflate_bench [--benchmark_filter=...] [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "inflate/inflate.h"

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>

namespace {

struct stream_set {
    std::vector<std::string> packed;
    std::vector<size_t> sizes;  // decoded size of each
    size_t total_out = 0;
};

// zlib's full decode of one candidate; true with its output size when the
// stream ends properly.
bool zlib_accepts(const std::string &s, size_t *size) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    std::vector<uint8_t> out(std::max<size_t>(s.size() * 4, 4096));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(s.data()));
    z.avail_in = uInt(s.size());
    int r;
    for (;;) {
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        r = inflate(&z, Z_NO_FLUSH);
        if (r != Z_OK || z.avail_out != 0) break;
        out.resize(out.size() * 2);
    }
    *size = z.total_out;
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

// Every stream of the corpus PDFs that zlib decodes completely.
const stream_set &corpus_streams() {
    static const stream_set set = [] {
        stream_set s;
        std::error_code ec;
        std::vector<std::filesystem::path> files;
        for (const auto &e : std::filesystem::directory_iterator(PLENVO_CORPUS_DIR, ec))
            if (e.path().extension() == ".pdf") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const auto &f : files) {
            std::ifstream in(f, std::ios::binary);
            std::string pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            size_t at = 0;
            while ((at = pdf.find("stream", at)) != std::string::npos) {
                size_t begin = at + 6;
                at = begin;
                if (begin < pdf.size() && pdf[begin] == '\r') ++begin;
                if (begin >= pdf.size() || pdf[begin] != '\n') continue;
                ++begin;
                size_t end = pdf.find("endstream", begin);
                if (end == std::string::npos) break;
                std::string data = pdf.substr(begin, end - begin);
                size_t size = 0;
                if (data.size() >= 2 && zlib_accepts(data, &size)) {
                    s.packed.push_back(std::move(data));
                    s.sizes.push_back(size);
                    s.total_out += size;
                }
                at = end + 9;
            }
        }
        return s;
    }();
    return set;
}

// 64 MiB of mixed content: prose, page-description text, smooth image-like
// samples and random bytes, in runs of 4 to 64 KiB.
const std::string &mixed_payload() {
    static const std::string data = [] {
        std::mt19937_64 rng(20240611);
        std::vector<std::string> words;
        for (int i = 0; i < 600; ++i) {
            std::string w;
            int n = 1 + int(rng() % 9);
            for (int k = 0; k < n; ++k) w += char('a' + rng() % 26);
            words.push_back(w);
        }
        auto word = [&] {
            // Skewed choice: common words come up far more often.
            double u = double(rng() % 1000000) / 1000000.0;
            return words[size_t(u * u * u * double(words.size()))];
        };
        const size_t target = size_t(64) << 20;
        std::string s;
        s.reserve(target + 65536);
        while (s.size() < target) {
            size_t run = 4096 + rng() % 61440;
            size_t stop = s.size() + run;
            switch (rng() % 10) {
            case 0: case 1: case 2: case 3: case 4:
                while (s.size() < stop) {
                    s += word();
                    s += rng() % 12 == 0 ? ".\n" : " ";
                }
                break;
            case 5: case 6: {
                char line[96];
                while (s.size() < stop) {
                    int n = std::snprintf(line, sizeof line, "BT /F%d %d Tf %d %d Td (%s %s) Tj ET\n",
                                          int(rng() % 4), 8 + int(rng() % 6), int(rng() % 600),
                                          int(rng() % 800), word().c_str(), word().c_str());
                    s.append(line, size_t(n));
                }
                break;
            }
            case 7: case 8: {
                int v = int(rng() % 256);
                while (s.size() < stop) {
                    v = std::clamp(v + int(rng() % 7) - 3, 0, 255);
                    s += char(v);
                }
                break;
            }
            default:
                while (s.size() < stop) s += char(rng());
                break;
            }
        }
        s.resize(target);
        return s;
    }();
    return data;
}

const std::string &mixed_packed(int level) {
    static std::map<int, std::string> cache;
    auto it = cache.find(level);
    if (it != cache.end()) return it->second;
    const std::string &raw = mixed_payload();
    uLongf n = compressBound(uLong(raw.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(raw.data()),
              uLong(raw.size()), level);
    out.resize(n);
    return cache.emplace(level, std::move(out)).first->second;
}

// The block type of a zlib stream's first deflate block (1 fixed, 2 dynamic).
int first_block_type(const std::string &packed) {
    return packed.size() > 2 ? (uint8_t(packed[2]) >> 1) & 3 : -1;
}

// 10,000 small streams like the page contents of a long text document, each
// about 100 bytes packed: fixed Huffman codes (page text, as zlib writes it
// for so little data) or dynamic ones (number-heavy drawing operators over a
// small alphabet, Huffman coding only).
const stream_set &small_streams(bool dynamic) {
    static std::map<bool, stream_set> cache;
    auto it = cache.find(dynamic);
    if (it != cache.end()) return it->second;
    stream_set s;
    std::mt19937_64 rng(dynamic ? 7 : 8);
    for (int i = 0; i < 10000; ++i) {
        std::string text;
        int strategy = Z_DEFAULT_STRATEGY;
        if (!dynamic) {
            text = "BT /F1 12 Tf 72 770 Td (Page " + std::to_string(i + 1) +
                   " of 50000: the quick brown fox jumps over the lazy dog.) Tj ET\n";
        } else {
            // Skewed choice: the first characters come up far more often.
            static const char alphabet[] = "0123456789 .\nmlc";
            const size_t n = sizeof alphabet - 1;
            while (text.size() < 170) text += alphabet[std::min(rng() % n, rng() % n)];
            strategy = Z_HUFFMAN_ONLY;
        }
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, 15, 8, strategy);
        std::string out(deflateBound(&z, uLong(text.size())), '\0');
        z.next_in = reinterpret_cast<Bytef *>(text.data());
        z.avail_in = uInt(text.size());
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        if (first_block_type(out) != (dynamic ? 2 : 1)) continue;
        s.total_out += text.size();
        s.sizes.push_back(text.size());
        s.packed.push_back(std::move(out));
    }
    return cache.emplace(dynamic, std::move(s)).first->second;
}

bool decode_ours(const std::string &src, uint8_t *dst, size_t size) {
    size_t produced = 0;
    int r = plenvo::inflate_decompress(reinterpret_cast<const uint8_t *>(src.data()), src.size(), dst,
                                       size, &produced);
    return r == 0 && produced == size;
}

bool decode_zlib(const std::string &src, uint8_t *dst, size_t size) {
    uLongf n = uLongf(size);
    int r = uncompress(dst, &n, reinterpret_cast<const Bytef *>(src.data()), uLong(src.size()));
    return r == Z_OK && n == size;
}

template <bool (*Decode)(const std::string &, uint8_t *, size_t)>
void corpus_case(benchmark::State &state) {
    const stream_set &set = corpus_streams();
    if (set.packed.empty()) {
        state.SkipWithError("no Flate streams found (corpus absent?)");
        return;
    }
    std::vector<uint8_t> dst(*std::max_element(set.sizes.begin(), set.sizes.end()) + 1);
    for (auto _ : state) {
        for (size_t i = 0; i < set.packed.size(); ++i) {
            if (!Decode(set.packed[i], dst.data(), set.sizes[i])) {
                state.SkipWithError("decode failed");
                return;
            }
        }
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(set.total_out));
    state.counters["streams"] = double(set.packed.size());
}

// Every stream of a set decoded into a block as large as the reader gives
// it (20 times the packed size plus 4 KiB), as page contents are decoded.
// Decoders given a capacity larger than the expected size.
bool decode_ours_in(const std::string &src, uint8_t *dst, size_t cap, size_t size) {
    size_t produced = 0;
    int r = plenvo::inflate_decompress(reinterpret_cast<const uint8_t *>(src.data()), src.size(), dst,
                                       cap, &produced);
    return r == 0 && produced == size;
}

bool decode_zlib_in(const std::string &src, uint8_t *dst, size_t cap, size_t size) {
    uLongf n = uLongf(cap);
    int r = uncompress(dst, &n, reinterpret_cast<const Bytef *>(src.data()), uLong(src.size()));
    return r == Z_OK && n == size;
}

template <bool (*Decode)(const std::string &, uint8_t *, size_t, size_t)>
void small_case(benchmark::State &state) {
    const stream_set &set = small_streams(state.range(0) != 0);
    if (set.packed.size() < 1000) {
        state.SkipWithError("too few streams of the wanted block type");
        return;
    }
    std::vector<uint8_t> dst(4096 + 20 * 400);
    for (auto _ : state) {
        for (size_t i = 0; i < set.packed.size(); ++i) {
            const size_t cap = set.packed[i].size() * 20 + 4096;
            if (!Decode(set.packed[i], dst.data(), cap, set.sizes[i])) {
                state.SkipWithError("decode failed");
                return;
            }
        }
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(set.total_out));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(set.packed.size()));
    size_t packed = 0;
    for (const std::string &p : set.packed) packed += p.size();
    state.counters["streams"] = double(set.packed.size());
    state.counters["avg_packed"] = double(packed) / double(set.packed.size());
}

template <bool (*Decode)(const std::string &, uint8_t *, size_t)>
void mixed_case(benchmark::State &state) {
    const std::string &packed = mixed_packed(int(state.range(0)));
    const size_t size = mixed_payload().size();
    std::vector<uint8_t> dst(size);
    for (auto _ : state) {
        if (!Decode(packed, dst.data(), size)) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(dst.data());
    }
    if (std::memcmp(dst.data(), mixed_payload().data(), size) != 0) state.SkipWithError("wrong output");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_corpus_plenvo(benchmark::State &s) { corpus_case<decode_ours>(s); }
void BM_corpus_zlib(benchmark::State &s) { corpus_case<decode_zlib>(s); }
void BM_mixed64M_plenvo(benchmark::State &s) { mixed_case<decode_ours>(s); }
void BM_mixed64M_zlib(benchmark::State &s) { mixed_case<decode_zlib>(s); }

void BM_small100_plenvo(benchmark::State &s) { small_case<decode_ours_in>(s); }
void BM_small100_zlib(benchmark::State &s) { small_case<decode_zlib_in>(s); }

BENCHMARK(BM_corpus_plenvo);
BENCHMARK(BM_small100_plenvo)->ArgName("dynamic")->Arg(0)->Arg(1);
BENCHMARK(BM_small100_zlib)->ArgName("dynamic")->Arg(0)->Arg(1);
BENCHMARK(BM_corpus_zlib);
BENCHMARK(BM_mixed64M_plenvo)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mixed64M_zlib)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

// Console output plus a closing table of output MB/s and the speed ratio.
struct ratio_reporter : benchmark::ConsoleReporter {
    std::map<std::string, double> rate;  // "corpus", "mixed64M/6" ... by decoder

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            // With --benchmark_repetitions the median stands for the runs.
            if (r.error_occurred || (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median"))
                continue;
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rate[r.run_name.str()] = it->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-16s %14s %14s %8s\n", "data", "plenvo MB/s", "zlib MB/s", "ratio");
        for (const auto &[name, ours] : rate) {
            size_t at = name.find("_plenvo");
            if (at == std::string::npos) continue;
            std::string other = name.substr(0, at) + "_zlib" + name.substr(at + 7);
            auto z = rate.find(other);
            if (z == rate.end()) continue;
            std::string label = name.substr(3, at - 3) + name.substr(at + 7);
            std::printf("%-16s %14.1f %14.1f %8.2f\n", label.c_str(), ours / 1e6, z->second / 1e6,
                        ours / z->second);
        }
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

#else
int main() {
    std::printf("inflate_bench needs zlib\n");
    return 0;
}
#endif
