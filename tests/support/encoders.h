// Encoders for the stream filters the reader decodes, written from each
// format's definition, for tests that need encoded data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plenvo_test {

// LZW with 9- to 12-bit codes, widening `early` (0 or 1) codes ahead as
// /EarlyChange says; restarts its table before it fills.
std::vector<uint8_t> lzw_encode(const std::string &in, int early);
// ASCII85 with "z" for four zero bytes, ending with "~>".
std::string ascii85_encode(const std::string &in);
// ASCIIHex in upper-case digits, ending with ">".
std::string hex_encode(const std::string &in);
// PNG row filter `type` (0 to 4) over rows of row_bytes, bpp bytes per pixel,
// each row led by its tag byte.
std::string png_encode(const std::string &raw, size_t row_bytes, size_t bpp, int type);
// RunLength: repeats of 2 to 128 bytes as one pair, other bytes in literal
// runs of up to 128, then the end marker 128.
std::string run_length_encode(const std::string &in);

}  // namespace plenvo_test
