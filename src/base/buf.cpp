// The growable output buffer: 1 MiB at first, doubling, always NUL-terminated.
#include "base/buf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace plenvo {

// Releases the storage of b and zeroes it: the state after a failed growth.
static void buf_drop(buf *b) {
    std::free(b->data);
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

// Makes room for n more bytes plus the NUL. The capacity is always 1 MiB
// times a power of two. On failure (arithmetic overflow or no memory) the
// previous storage is released and b is left with no storage; a later call
// starts again from an empty 1 MiB buffer.
void buf_reserve(buf *b, uint64_t n) {
    if (!b->data) {
        b->len = 0;
        b->cap = 0;
    }
    if (n > UINT64_MAX - 1 - b->len) {
        buf_drop(b);
        return;
    }
    const uint64_t need = b->len + n + 1;
    if (b->data && need <= b->cap) return;

    uint64_t cap = b->data ? b->cap : BUF_FIRST_CAP;
    while (cap < need) {
        if (cap > UINT64_MAX / 2) {
            buf_drop(b);
            return;
        }
        cap *= 2;
    }
    if (cap > SIZE_MAX) {
        buf_drop(b);
        return;
    }
    void *p = b->data ? std::realloc(b->data, static_cast<size_t>(cap))
                      : std::malloc(static_cast<size_t>(cap));
    if (!p) {
        buf_drop(b);
        return;
    }
    b->data = static_cast<uint8_t *>(p);
    b->cap = cap;
}

// Makes room for n more bytes plus the NUL with the same growth rule as
// buf_reserve; on failure nothing changes (the storage is kept).
bool buf_try_reserve(buf *b, uint64_t n) {
    const uint64_t len = b->data ? b->len : 0;
    if (n > UINT64_MAX - 1 - len) return false;
    const uint64_t need = len + n + 1;
    if (b->data && need <= b->cap) return true;
    uint64_t cap = b->data ? b->cap : BUF_FIRST_CAP;
    while (cap < need) {
        if (cap > UINT64_MAX / 2) return false;
        cap *= 2;
    }
    if (cap > SIZE_MAX) return false;
    void *p = b->data ? std::realloc(b->data, static_cast<size_t>(cap)) : std::malloc(static_cast<size_t>(cap));
    if (!p) return false;
    if (!b->data) {
        b->len = 0;
        static_cast<uint8_t *>(p)[0] = 0;
    }
    b->data = static_cast<uint8_t *>(p);
    b->cap = cap;
    return true;
}

// Appends n bytes from p and re-terminates. p may point into b's own storage.
// Does nothing but leave b without storage when the reservation fails.
void buf_append(buf *b, const void *p, uint64_t n) {
    // Room already there: no growth, so a source inside b stays where it is.
    if (b->data && n < b->cap - b->len) {
        if (n) std::memmove(b->data + b->len, p, static_cast<size_t>(n));
        b->len += n;
        b->data[b->len] = 0;
        return;
    }
    const uint8_t *src = static_cast<const uint8_t *>(p);
    // A source inside b's storage moves with it when the storage grows.
    const uintptr_t at = reinterpret_cast<uintptr_t>(src);
    const uintptr_t base = reinterpret_cast<uintptr_t>(b->data);
    const bool inside = b->data && at >= base && at - base < b->cap;
    const uint64_t off = inside ? at - base : 0;
    buf_reserve(b, n);
    if (!b->data) return;
    if (inside) src = b->data + off;
    if (n) std::memmove(b->data + b->len, src, static_cast<size_t>(n));
    b->len += n;
    b->data[b->len] = 0;
}

// Appends the NUL-terminated text s without its NUL.
void buf_str(buf *b, const char *s) { buf_append(b, s, std::strlen(s)); }

// Releases the storage and zeroes b; harmless on an empty buffer.
void buf_free(buf *b) { buf_drop(b); }

}  // namespace plenvo
