// Fuzzing the content filter decoders. The first byte picks the decoder (and,
// for the predictor and the chain, the bytes after it give the parameters);
// the rest is the data. Every decoder must return cleanly within its output
// bound. Where zlib is linked, Flate output is compared with zlib's.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inflate/filters.h"

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace {

// Small enough that a decompression bomb stays quick under the sanitizers.
constexpr size_t LIMIT = size_t(16) << 20;

void check_bound(const std::vector<uint8_t> &out) {
    if (out.size() > LIMIT) std::abort();
}

#if defined(PLENVO_HAVE_ZLIB)
// zlib's reading of the same data: true with out filled when it is a whole,
// valid zlib stream that fits the limit.
bool zlib_inflate(const uint8_t *src, size_t n, std::vector<uint8_t> &out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef *>(src);
    z.avail_in = static_cast<uInt>(n);
    out.clear();
    int rc = Z_OK;
    uint8_t chunk[16384];
    while (rc == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (out.size() > LIMIT) rc = Z_BUF_ERROR;
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}
#endif

void fuzz_flate(const uint8_t *p, size_t n) {
    std::vector<uint8_t> out;
    const bool ok = plenvo::flate_decode(p, n, out, LIMIT);
    if (ok) check_bound(out);
#if defined(PLENVO_HAVE_ZLIB)
    std::vector<uint8_t> ref;
    if (zlib_inflate(p, n, ref) && ref.size() <= LIMIT) {
        // A valid stream must decode to exactly zlib's bytes.
        if (!ok || out != ref) std::abort();
    }
#endif
}

plenvo::filter_parms parms_from(const uint8_t *p, size_t n) {
    static const int predictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 3, 0};
    static const int bpcs[] = {1, 2, 4, 8, 16, 3, 0, 32};
    plenvo::filter_parms f;
    if (n < 4) return f;
    f.predictor = predictors[p[0] % 10];
    f.bits_per_component = bpcs[p[1] % 8];
    f.colors = p[2] % 36;
    f.columns = (p[3] & 0x80) ? (p[3] & 0x7F) * 977 : p[3];
    f.early_change = p[0] >> 7;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t sel = data[0];
    const uint8_t *p = data + 1;
    const size_t n = size - 1;
    std::vector<uint8_t> out;
    switch (sel % 8) {
    case 0:
        fuzz_flate(p, n);
        break;
    case 1:
    case 2:
        if (plenvo::lzw_decode(p, n, sel % 8 == 1, out, LIMIT)) check_bound(out);
        break;
    case 3:
        if (plenvo::ascii85_decode(p, n, out, LIMIT)) check_bound(out);
        break;
    case 4:
        if (plenvo::asciihex_decode(p, n, out, LIMIT)) check_bound(out);
        break;
    case 5:
        if (plenvo::runlength_decode(p, n, out, LIMIT)) check_bound(out);
        break;
    case 6: {
        if (n < 4) break;
        out.assign(p + 4, p + n);
        const size_t before = out.size();
        if (plenvo::unpredict(out, parms_from(p, n)) && out.size() > before) std::abort();
        break;
    }
    default: {
        // A chain of up to three filters from the next byte, parameters after it.
        static const char *names[] = {"FlateDecode", "LZW", "AHx", "ASCII85Decode",
                                      "RL", "Fl", "DCTDecode", "A85"};
        if (n < 5) break;
        std::vector<plenvo::filter_spec> chain;
        const unsigned count = (sel >> 3) % 4;
        for (unsigned i = 0; i < count; ++i)
            chain.push_back(plenvo::filter_spec{names[(p[0] >> (3 * i)) & 7], parms_from(p + 1, 4)});
        if (plenvo::decode_chain(p + 5, n - 5, chain, out, LIMIT)) check_bound(out);
        break;
    }
    }
    return 0;
}
