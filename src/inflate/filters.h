// Stream filter decoders other than the zlib core: each decodes a whole
// input into a growable std::vector, bounded by `limit` output bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plenvo {

// Output bound shared by every filter (the Flate decoder's own limit).
constexpr size_t FILTER_MAX_OUT = size_t(1) << 30;

// Parameters of one filter from /DecodeParms; defaults as PDF defines them.
struct filter_parms {
    int predictor = 1;
    int colors = 1;
    int bits_per_component = 8;
    int columns = 1;
    int early_change = 1;
};

// One filter of a chain: its name without the slash ("FlateDecode", "Fl", ...).
struct filter_spec {
    std::string name;
    filter_parms parms;
};

// Each decoder: true with `out` replaced by the decoded bytes, or false (out
// unspecified) on damaged data or output over `limit`. None reads outside
// src[0..n). Ends of data markers ('~>' for ASCII85, '>' for ASCIIHex, EOD for
// LZW and RunLength) end decoding; data missing an end marker is accepted.
bool flate_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit);
// The Flate decoder's core: inflates zlib data src[0..n) into a new block
// from std::malloc (the caller releases it with std::free) holding *out_n
// bytes, or nullptr on bad input, output over `limit` (capped at 2^30) or no
// memory. The first block holds n * 20 + 4096 bytes; only when the output does
// not fit is the block released and a four times larger one tried. Damaged
// data yields the bytes decoded before the damage.
uint8_t *flate_decode_alloc(const uint8_t *src, size_t n, size_t limit, size_t *out_n);
bool lzw_decode(const uint8_t *src, size_t n, int early_change, std::vector<uint8_t> &out, size_t limit);
bool ascii85_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit);
bool asciihex_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit);
bool runlength_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit);
// Undoes a PNG (10..15) or TIFF (2) predictor in place on `data`; predictor 1
// (or any value below 2) leaves it unchanged. False on bad parameters.
bool unpredict(std::vector<uint8_t> &data, const filter_parms &p);

// Decodes through a whole chain, first filter first. False when a filter is
// not one of Flate, LZW, ASCIIHex, ASCII85, RunLength (full or abbreviated
// names), or any step fails.
bool decode_chain(const uint8_t *src, size_t n, const std::vector<filter_spec> &chain,
                  std::vector<uint8_t> &out, size_t limit = FILTER_MAX_OUT);

}  // namespace plenvo
