// FlateDecode: the zlib decoder run with a growing output block.
#include <cstdlib>
#include <memory>

#include "inflate/filters.h"
#include "inflate/inflate.h"

namespace plenvo {

namespace {

struct free_deleter {
    void operator()(uint8_t *p) const { std::free(p); }
};

}  // namespace

// Inflates src[0..n) into a new malloc'd block; see filters.h. Each attempt
// that runs out of room is released before the next, larger one, so at most
// one block is held at a time. Damaged or truncated data is never retried.
uint8_t *flate_decode_alloc(const uint8_t *src, size_t n, size_t limit, size_t *out_n) {
    *out_n = 0;
    const size_t max_cap = limit < INFLATE_MAX_CAP ? limit : INFLATE_MAX_CAP;
    size_t cap = max_cap < 4096 || n > (max_cap - 4096) / 20 ? max_cap : n * 20 + 4096;
    for (;;) {
        uint8_t *block = static_cast<uint8_t *>(std::malloc(cap ? cap : 1));
        if (!block) return nullptr;
        size_t produced = 0;
        inflate_why why = INFLATE_DONE;
        if (inflate_decompress_ex(src, n, block, cap, &produced, &why) == 0) {
            *out_n = produced;
            return block;
        }
        std::free(block);
        if (why != INFLATE_NO_ROOM || cap >= max_cap) return nullptr;
        cap = cap > max_cap / 4 ? max_cap : cap * 4;
    }
}

// FlateDecode into a vector; false on bad input or output over limit.
bool flate_decode(const uint8_t *src, size_t n, std::vector<uint8_t> &out, size_t limit) {
    size_t produced = 0;
    std::unique_ptr<uint8_t, free_deleter> block(flate_decode_alloc(src, n, limit, &produced));
    if (!block) return false;
    out.assign(block.get(), block.get() + produced);
    return true;
}

}  // namespace plenvo
