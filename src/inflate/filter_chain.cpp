// Running a stream's data through its whole chain of filters.
#include "inflate/filters.h"

namespace plenvo {

namespace {

enum filter_kind { FK_FLATE, FK_LZW, FK_ASCIIHEX, FK_ASCII85, FK_RUNLENGTH, FK_UNKNOWN };

// The decoder for a filter name, full or abbreviated.
filter_kind kind_of(const std::string &name) {
    if (name == "FlateDecode" || name == "Fl") return FK_FLATE;
    if (name == "LZWDecode" || name == "LZW") return FK_LZW;
    if (name == "ASCIIHexDecode" || name == "AHx") return FK_ASCIIHEX;
    if (name == "ASCII85Decode" || name == "A85") return FK_ASCII85;
    if (name == "RunLengthDecode" || name == "RL") return FK_RUNLENGTH;
    return FK_UNKNOWN;
}

// One step of the chain: src[0..n) decoded by filter f into out.
bool run_filter(const filter_spec &f, filter_kind k, const uint8_t *src, size_t n,
                std::vector<uint8_t> &out, size_t limit) {
    switch (k) {
    case FK_FLATE:
        return flate_decode(src, n, out, limit) && unpredict(out, f.parms);
    case FK_LZW:
        return lzw_decode(src, n, f.parms.early_change, out, limit) && unpredict(out, f.parms);
    case FK_ASCIIHEX:
        return asciihex_decode(src, n, out, limit);
    case FK_ASCII85:
        return ascii85_decode(src, n, out, limit);
    case FK_RUNLENGTH:
        return runlength_decode(src, n, out, limit);
    default:
        return false;
    }
}

}  // namespace

// Decodes src[0..n) through chain, first filter first, into out; each step's
// output is bounded by limit. Every name is checked before anything is
// decoded: one filter outside the supported set refuses the whole chain. An
// empty chain copies the data. False (out unspecified) on any failure.
bool decode_chain(const uint8_t *src, size_t n, const std::vector<filter_spec> &chain,
                  std::vector<uint8_t> &out, size_t limit) {
    for (const filter_spec &f : chain)
        if (kind_of(f.name) == FK_UNKNOWN) return false;
    if (chain.empty()) {
        if (n > limit) return false;
        out.assign(src, src + n);
        return true;
    }
    std::vector<uint8_t> cur, next;
    const uint8_t *in = src;
    size_t in_n = n;
    for (const filter_spec &f : chain) {
        if (!run_filter(f, kind_of(f.name), in, in_n, next, limit)) return false;
        cur.swap(next);
        std::vector<uint8_t>().swap(next);  // the step's input is no longer needed
        in = cur.data();
        in_n = cur.size();
    }
    out.swap(cur);
    return true;
}

}  // namespace plenvo
