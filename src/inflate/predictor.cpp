// Undoing the PNG and TIFF predictors of Flate and LZW data.
#include <cstdlib>

#include "inflate/filters.h"

namespace plenvo {

namespace {

// Row geometry of predicted data.
struct row_shape {
    size_t row_bytes;  // bytes of one row of samples (without a PNG tag byte)
    size_t bpp;        // bytes per pixel, at least 1: the PNG filters' left distance
    size_t samples;    // samples in one row: colors * columns
};

// Row geometry for p, or false when the parameters are unusable.
bool shape_of(const filter_parms &p, row_shape *s) {
    if (p.colors < 1 || p.colors > 32 || p.columns < 1) return false;
    const int bpc = p.bits_per_component;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) return false;
    const uint64_t pixel_bits = static_cast<uint64_t>(p.colors) * static_cast<uint64_t>(bpc);
    const uint64_t row_bits = pixel_bits * static_cast<uint64_t>(p.columns);
    if (row_bits / 8 >= FILTER_MAX_OUT) return false;
    s->row_bytes = static_cast<size_t>((row_bits + 7) / 8);
    s->bpp = static_cast<size_t>((pixel_bits + 7) / 8);
    s->samples = static_cast<size_t>(p.colors) * static_cast<size_t>(p.columns);
    return true;
}

// The Paeth predictor: of left a, up b and upper-left c, the one nearest to
// a + b - c (ties prefer a, then b). Written without data-dependent branches.
inline int paeth(int a, int b, int c) {
    const int db = b - c, da = a - c;
    const int pa = db < 0 ? -db : db;            // |p - a|
    const int pb = da < 0 ? -da : da;            // |p - b|
    const int pc = da + db < 0 ? -(da + db) : da + db;  // |p - c|
    const int bc = pb <= pc ? b : c;
    const int pbc = pb <= pc ? pb : pc;
    return pa <= pbc ? a : bc;
}

// Undoes one PNG row: its tag, then n bytes (n <= row_bytes) from `in`,
// written to `row`; `up` is the decoded row above or nullptr for the first.
// `row` may lie before `in` in the same storage (it never lies after it).
// An unknown tag leaves the bytes as they are.
void png_row(uint8_t tag, const uint8_t *in, uint8_t *row, const uint8_t *up, size_t n,
             size_t bpp) {
    size_t i = 0;
    switch (tag) {
    case 1:  // Sub
        for (; i < n && i < bpp; ++i) row[i] = in[i];
        for (; i < n; ++i) row[i] = static_cast<uint8_t>(in[i] + row[i - bpp]);
        return;
    case 2:  // Up
        if (!up) break;
        for (; i < n; ++i) row[i] = static_cast<uint8_t>(in[i] + up[i]);
        return;
    case 3:  // Average
        for (; i < n && i < bpp; ++i) row[i] = static_cast<uint8_t>(in[i] + (up ? up[i] / 2 : 0));
        for (; i < n; ++i)
            row[i] = static_cast<uint8_t>(in[i] + ((row[i - bpp] + (up ? up[i] : 0)) >> 1));
        return;
    case 4:  // Paeth
        if (!up) {  // with no row above, Paeth is Sub
            for (; i < n && i < bpp; ++i) row[i] = in[i];
            for (; i < n; ++i) row[i] = static_cast<uint8_t>(in[i] + row[i - bpp]);
            return;
        }
        for (; i < n && i < bpp; ++i) row[i] = static_cast<uint8_t>(in[i] + up[i]);
        for (; i < n; ++i) row[i] = static_cast<uint8_t>(in[i] + paeth(row[i - bpp], up[i], up[i - bpp]));
        return;
    default:  // None, and tags that no encoder writes
        break;
    }
    for (; i < n; ++i) row[i] = in[i];
}

// PNG predictors: each row is a tag byte and row_bytes bytes. The tags are
// removed in place. A last row cut short keeps its bytes, decoded as far as
// they go; a lone tag byte at the end gives nothing.
void unpredict_png(std::vector<uint8_t> &data, const row_shape &s) {
    const size_t n = data.size();
    uint8_t *base = data.data();
    size_t r = 0, w = 0;
    const uint8_t *up = nullptr;
    while (r < n) {
        const uint8_t tag = base[r++];
        const size_t k = n - r < s.row_bytes ? n - r : s.row_bytes;
        png_row(tag, base + r, base + w, up, k, s.bpp);
        up = base + w;
        r += k;
        w += k;
    }
    data.resize(w);
}

inline unsigned sample_get(const uint8_t *row, size_t idx, int bpc) {
    const size_t bit = idx * static_cast<size_t>(bpc);
    const int shift = 8 - bpc - static_cast<int>(bit & 7);
    return (row[bit >> 3] >> shift) & ((1u << bpc) - 1);
}

inline void sample_set(uint8_t *row, size_t idx, int bpc, unsigned v) {
    const size_t bit = idx * static_cast<size_t>(bpc);
    const int shift = 8 - bpc - static_cast<int>(bit & 7);
    const unsigned mask = ((1u << bpc) - 1) << shift;
    row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~mask) | ((v << shift) & mask));
}

// TIFF predictor 2 on one row of n bytes (n <= row_bytes): each sample adds
// the same component of the pixel to its left, modulo 2^bpc.
void tiff_row(uint8_t *row, size_t n, const row_shape &s, int colors, int bpc) {
    const size_t c = static_cast<size_t>(colors);
    if (bpc == 8) {
        for (size_t i = c; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - c]);
    } else if (bpc == 16) {
        const size_t words = n / 2;
        for (size_t i = c; i < words; ++i) {
            const unsigned v = (unsigned(row[2 * i]) << 8 | row[2 * i + 1]) +
                               (unsigned(row[2 * (i - c)]) << 8 | row[2 * (i - c) + 1]);
            row[2 * i] = static_cast<uint8_t>(v >> 8);
            row[2 * i + 1] = static_cast<uint8_t>(v);
        }
    } else {
        size_t count = n * 8 / static_cast<size_t>(bpc);
        if (count > s.samples) count = s.samples;
        for (size_t i = c; i < count; ++i)
            sample_set(row, i, bpc, sample_get(row, i, bpc) + sample_get(row, i - c, bpc));
    }
}

}  // namespace

// Undoes predictor p.predictor on data in place; see filters.h. Predictors
// below 2 leave the data as it is; 2 (TIFF) and 10..15 (PNG, each row
// carrying its own tag) are undone; any other value, a colour count outside
// 1..32, bits per component other than 1, 2, 4, 8, 16, or fewer than one
// column is refused (false, data unchanged).
bool unpredict(std::vector<uint8_t> &data, const filter_parms &p) {
    if (p.predictor < 2) return true;
    if (p.predictor != 2 && (p.predictor < 10 || p.predictor > 15)) return false;
    row_shape s;
    if (!shape_of(p, &s)) return false;
    if (p.predictor >= 10) {
        unpredict_png(data, s);
        return true;
    }
    for (size_t at = 0; at < data.size(); at += s.row_bytes) {
        const size_t k = data.size() - at < s.row_bytes ? data.size() - at : s.row_bytes;
        tiff_row(data.data() + at, k, s, p.colors, p.bits_per_component);
    }
    return true;
}

}  // namespace plenvo
