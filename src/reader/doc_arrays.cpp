#include <cstdlib>
#include <cstring>

#include "reader/doc.h"

namespace plenvo {

// Grows a (items, count, cap) array of `size`-byte elements when full: first
// room for `first`, then double. Returns false (array untouched) when it
// cannot grow.
static bool grow(void **items, int32_t count, int32_t *cap, size_t size, int32_t first) {
    if (count < *cap) return true;
    int64_t ncap = *cap == 0 ? first : static_cast<int64_t>(*cap) * 2;
    if (ncap > 0x7FFFFFFF) return false;
    void *p = std::realloc(*items, static_cast<size_t>(ncap) * size);
    if (!p) return false;
    *items = p;
    *cap = static_cast<int32_t>(ncap);
    return true;
}

void objvec_push(objvec *v, const objent *e) {
    void *items = v->items;
    if (!grow(&items, v->count, &v->cap, sizeof(objent), 128)) return;
    v->items = static_cast<objent *>(items);
    v->items[v->count++] = *e;
}

bool objvec_reserve(objvec *v, int64_t n) {
    if (n <= v->cap) return true;
    if (n > 0x7FFFFFFF) return false;
    void *p = std::realloc(v->items, static_cast<size_t>(n) * sizeof(objent));
    if (!p) return false;
    v->items = static_cast<objent *>(p);
    v->cap = static_cast<int32_t>(n);
    return true;
}

bool pagevec_reserve(pagevec *v, int64_t n) {
    if (n <= v->cap) return true;
    if (n > 0x7FFFFFFF) return false;
    void *p = std::realloc(v->items, static_cast<size_t>(n) * sizeof(pageinfo));
    if (!p) return false;
    v->items = static_cast<pageinfo *>(p);
    v->cap = static_cast<int32_t>(n);
    return true;
}

void pagevec_push(pagevec *v, const pageinfo *p) {
    void *items = v->items;
    if (!grow(&items, v->count, &v->cap, sizeof(pageinfo), 64)) return;
    v->items = static_cast<pageinfo *>(items);
    v->items[v->count++] = *p;
}

void *arena_alloc(struct arena *a, uint64_t n) {
    if (n == 0 || n > SIZE_MAX) return nullptr;
    void *items = a->blocks;
    if (!grow(&items, a->count, &a->cap, sizeof(void *), 4)) return nullptr;
    a->blocks = static_cast<void **>(items);
    void *block = std::malloc(static_cast<size_t>(n));
    if (!block) return nullptr;
    a->blocks[a->count++] = block;
    return block;
}

void arena_release_last(struct arena *a, void *block) {
    if (a->count > 0 && block && a->blocks[a->count - 1] == block) {
        std::free(block);
        --a->count;
    }
}

}  // namespace plenvo
