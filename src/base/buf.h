// Growable byte buffer, always NUL-terminated while it has storage.
#pragma once

#include <cstdint>

namespace plenvo {

// Starts all zero. First storage is 1 MiB; growth doubles. A failed growth
// releases the storage and leaves data null, len 0, cap 0.
struct buf {
    uint8_t *data;
    uint64_t len;
    uint64_t cap;
};

constexpr uint64_t BUF_FIRST_CAP = 1048576;

// Makes room for n more bytes plus the NUL, or leaves b without storage.
void buf_reserve(buf *b, uint64_t n);
// Makes room for n more bytes plus the NUL like buf_reserve, but a failure
// leaves b exactly as it was. Returns true when the room is there.
bool buf_try_reserve(buf *b, uint64_t n);
// Appends n bytes (and re-terminates); does nothing when the reservation fails.
void buf_append(buf *b, const void *p, uint64_t n);
// Appends a NUL-terminated text without its NUL.
void buf_str(buf *b, const char *s);
// Releases the storage and zeroes b.
void buf_free(buf *b);

}  // namespace plenvo
