// zlib-wrapped deflate decoding into a caller's fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plenvo {

constexpr size_t INFLATE_MAX_CAP = size_t(1) << 30;

// Why a decode returned -1.
enum inflate_why {
    INFLATE_DONE = 0,      // success (also a data fault, which returns 0)
    INFLATE_NO_ROOM = 1,   // the output would exceed the capacity
    INFLATE_BAD_INPUT = 2, // header refused, capacity over 2^30, or input ran out
};

// Decodes zlib data src[0..srclen) into dst[0..cap). Returns 0 with *produced
// set to the bytes written (a data fault in the middle also returns 0, with
// the bytes written before it), or -1 with *produced 0 when the header is
// refused, cap exceeds 2^30, input runs out, or the output would not fit.
// Allocates nothing, writes only inside dst[0..cap), is thread-safe.
int inflate_decompress(const uint8_t *src, size_t srclen, uint8_t *dst, size_t cap,
                       size_t *produced);

// As inflate_decompress; *why (when not null) tells why -1 was returned.
int inflate_decompress_ex(const uint8_t *src, size_t srclen, uint8_t *dst, size_t cap,
                          size_t *produced, inflate_why *why);

}  // namespace plenvo
