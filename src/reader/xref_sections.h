// The entries of the cross-reference sections chained from the last
// "startxref": what the file itself says about where its objects are.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/doc.h"

namespace plenvo {

// One in-use cross-reference entry: type 1 (f2 the offset of "num gen obj",
// f3 the generation) or type 2 (f2 the object stream's number, f3 the
// member's index in it).
struct xref_entry {
    int32_t num;
    int32_t type;
    int64_t f2;
    int64_t f3;
};

// Direct entries of the object table by the position of their header, for
// finding the object a section or an entry points at.
struct entries_by_pos {
    std::vector<std::pair<int32_t, int32_t>> at;  // (hdr_pos, index in d->objs), sorted

    explicit entries_by_pos(const doc *d);
    // The index of the direct entry whose header starts at pos, or -1.
    int32_t find(int32_t pos) const;
};

// Reads the chain of sections from the last "startxref", newest first: a
// classic table with its trailer, then the cross-reference stream its
// /XRefStm names, then its /Prev; a cross-reference stream, then its /Prev.
// For each number of `wanted` (increasing, distinct) the first in-use entry
// met in that order goes to *out (increasing by number; free entries are
// passed over). Returns false with *out empty when the chain does not read
// cleanly: no "startxref", an offset that holds no section, a table or
// stream that does not parse in full, a /Prev that leads back or nowhere.
// Reads only the sections' bytes; never reads outside d->data.
bool read_xref_chain(const doc *d, const entries_by_pos &objects, const std::vector<int32_t> &wanted,
                     std::vector<xref_entry> *out);

// The position of the last "startxref" keyword in t[0, len), or -1.
int32_t last_startxref(const uint8_t *t, int32_t len);

// The position of the first digit of the header "num gen obj" when it stands
// at pos (white space before it allowed), else -1.
int32_t header_at(const uint8_t *t, int32_t len, int64_t pos, int32_t num, int64_t gen);

}  // namespace plenvo
