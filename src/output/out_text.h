// The output text as the writer composes it: short texts made in place, and
// the buffer that hands them on to the output file.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/buf.h"
#include "base/number_text.h"
#include "output/atomic_write.h"

namespace plenvo {

// The output text: a buffer passed on to the output file whenever it would
// grow past FLUSH_AT, so memory stays bounded however large the output. A
// piece of FLUSH_AT or more goes to the file directly. After a failed growth
// it stays failed: later appends are dropped instead of starting a fresh buffer.
struct out_text {
    static constexpr uint64_t FLUSH_AT = uint64_t(256) << 10;
    buf b{};
    bool failed = false;
    uint64_t written = 0;  // bytes already handed to the file
    out_file *file;

    explicit out_text(out_file *f) : file(f) {}
    ~out_text() { buf_free(&b); }

    // Hands the buffered text to the file and empties the buffer; nothing
    // after a failed growth.
    void flush() {
        if (failed || b.len == 0) return;
        out_file_write(file, b.data, b.len);
        written += b.len;
        b.len = 0;
        b.data[0] = 0;
    }
    // Flushes once the buffer holds FLUSH_AT bytes; for texts appended to b directly.
    void flush_if_full() {
        if (!failed && b.data && b.len >= FLUSH_AT) flush();
    }
    // Appends n bytes (flushing first when the buffer would pass FLUSH_AT).
    // A growth that fails sets failed and drops this and every later append.
    void put(const void *p, uint64_t n) {
        // The common case: room in the buffer below the flush mark.
        if (b.data && !failed && n < b.cap - b.len && b.len + n <= FLUSH_AT) {
            std::memmove(b.data + b.len, p, static_cast<size_t>(n));
            b.len += n;
            b.data[b.len] = 0;
            return;
        }
        if (failed) return;
        if (b.len + n > FLUSH_AT && b.len > 0) flush();
        if (n >= FLUSH_AT) {
            out_file_write(file, static_cast<const uint8_t *>(p), n);
            written += n;
            return;
        }
        buf_append(&b, p, n);
        if (!b.data) failed = true;
    }
    void put(const char *s) { put(s, std::strlen(s)); }
    void put(const std::string &s) { put(s.data(), s.size()); }
    void put_int(long v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        put(tmp, static_cast<uint64_t>(r.ptr - tmp));
    }
    // The length of the text so far (written and buffered); 0 once failed.
    uint64_t len() const { return failed ? 0 : written + b.len; }
};

// Writes the decimal digits of v at p; returns the end. Two digits at a time
// from a table: object numbers, lengths and offsets are most of the numbers
// an output holds.
inline char *write_decimal(char *p, uint64_t v) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char tmp[20];
    char *q = tmp + sizeof tmp;
    while (v >= 100) {
        const unsigned r = static_cast<unsigned>(v % 100);
        v /= 100;
        q -= 2;
        q[0] = pairs[2 * r];
        q[1] = pairs[2 * r + 1];
    }
    if (v >= 10) {
        q -= 2;
        q[0] = pairs[2 * v];
        q[1] = pairs[2 * v + 1];
    } else {
        *--q = static_cast<char>('0' + v);
    }
    const size_t n = static_cast<size_t>(tmp + sizeof tmp - q);
    std::memcpy(p, q, n);
    return p + n;
}

// A short text composed in place before one append: the fixed parts of a
// page's three objects. Room for a few numbers and the literal pieces.
struct short_text {
    char b[6 * NUMTEXT_SIZE + 192];
    char *p = b;

    template <size_t N>
    short_text &lit(const char (&s)[N]) {
        std::memcpy(p, s, N - 1);
        p += N - 1;
        return *this;
    }
    short_text &num(long v) {
        if (v < 0) {
            *p++ = '-';
            p = write_decimal(p, 0 - static_cast<uint64_t>(v));
        } else {
            p = write_decimal(p, static_cast<uint64_t>(v));
        }
        return *this;
    }
    short_text &raw(const char *s, size_t n) {
        std::memcpy(p, s, n);
        p += n;
        return *this;
    }
    const char *data() const { return b; }
    uint64_t size() const { return static_cast<uint64_t>(p - b); }
};

}  // namespace plenvo
