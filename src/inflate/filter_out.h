// Output growth shared by the filter decoders: the vector is sized ahead of
// the bytes written (`used` of them are real) and grows by doubling, never
// past the caller's limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plenvo {

// Ensures out.size() >= used + k. False (out unchanged) when used + k would
// pass limit. Growth at least doubles, so appends are amortised constant.
inline bool out_room(std::vector<uint8_t> &out, size_t used, size_t k, size_t limit) {
    if (k > limit || used > limit - k) return false;
    const size_t need = used + k;
    if (need <= out.size()) return true;
    size_t grown = out.size() < 4096 ? 4096 : out.size() * 2;
    if (grown < need) grown = need;
    if (grown > limit) grown = limit;
    out.resize(grown);
    return true;
}

// A first size for an output expected to be about `guess` bytes.
inline size_t out_first_size(size_t guess, size_t limit) {
    if (guess < 4096) guess = 4096;
    return guess < limit ? guess : limit;
}

}  // namespace plenvo
