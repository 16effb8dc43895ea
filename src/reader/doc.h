// The loaded document: its bytes, object table, page list and owned blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plenvo {

// Largest object number that survives loading.
constexpr int32_t MAX_OBJNUM = 0x7FFFFF;

// One indirect object: a direct object found in the file (positions are
// offsets into doc::data) or a member of an object stream (text points into
// an arena block). Positions are -1 when absent. 64 bytes, no padding: the
// table of a large file is most of the memory a load writes.
struct objent {
    int32_t num;
    int32_t gen;
    int32_t hdr_pos;
    int32_t dict_pos;
    int32_t stream_pos;
    int32_t data_pos;
    int32_t data_end;
    int32_t endobj_pos;
    int32_t end_pos;
    int32_t data_len;
    int32_t has_stream;
    int32_t no_endstream;
    int32_t in_objstm;
    int32_t text_len;
    const uint8_t *text;
};

static_assert(sizeof(void *) != 8 || sizeof(objent) == 64, "objent: 64 bytes on 64-bit systems");

// Growable array of objent: first append makes room for 128, then doubles.
struct objvec {
    objent *items;
    int32_t count;
    int32_t cap;
};

// One page, in document order. 72 bytes, no padding.
struct pageinfo {
    int32_t objnum;   // the /Page object
    int32_t parent;   // the /Pages node that listed it, -1 when the page is the tree root
    int32_t rotate;   // rotation inherited from /Pages ancestors, 0..359 (never the page's own)
    int32_t res_node; // nearest /Pages ancestor holding /Resources, -1 when none
    double llx, lly, urx, ury;  // the page box: normalised, crop box clipped to media box
    // Read from the page's dictionary by the loader (valid when dict_read is 1):
    int32_t dict_read;
    int32_t own_rotate;     // the page's own /Rotate, 0..359, -1 when none (obj_rotate_own)
    int32_t contents_key;   // where its /Contents key stands, -1 when none (find_page_keys)
    int32_t resources_key;  // where its /Resources key stands, -1 when none (find_page_keys)
    double user_unit;       // its own /UserUnit (above 0, not 1; its units are that many points), 0 when none
};

static_assert(sizeof(pageinfo) == 72, "pageinfo: 72 bytes");

// Growable array of pageinfo: first append makes room for 64, then doubles.
struct pagevec {
    pageinfo *items;
    int32_t count;
    int32_t cap;
};

// Blocks owned by a document until doc_free. The list starts with room for 4.
struct arena {
    void **blocks;
    int32_t count;
    int32_t cap;
};

struct doc {
    uint8_t *data;      // the whole input file
    int32_t len;
    int32_t root;       // /Root from the trailers, -1 when none
    int32_t info;       // /Info of the trailer that gave /Root, -1 when none
    int32_t encrypted;  // 1 when /Encrypt was seen by the cross-reference walk
    objvec objs;
    struct arena arena;
    pagevec pages;
    int32_t catalog;    // chosen catalog object number, -1 until chosen
    int32_t max_num;    // largest num in the final table
    int32_t *index;     // num -> position in objs (or -1), max_num + 1 entries; built after resolution
};

// A byte range [start, end) inside base. start < 0 means "no range".
struct text_range {
    const uint8_t *base;
    int32_t start;
    int32_t end;
};

// ---- arrays (doc_arrays.cpp) ----

// Appends a copy of e. When the array is full and cannot grow, nothing happens.
void objvec_push(objvec *v, const objent *e);
// Makes room for n entries in all; false (v untouched) when it cannot.
bool objvec_reserve(objvec *v, int64_t n);
// Appends a copy of p. Same growth contract as objvec_push.
void pagevec_push(pagevec *v, const pageinfo *p);
// Makes room for n pages in all; false (v untouched) when it cannot.
bool pagevec_reserve(pagevec *v, int64_t n);
// A new block of n bytes owned by the arena, or nullptr (arena unchanged).
void *arena_alloc(struct arena *a, uint64_t n);
// Releases the most recently allocated block when it is `block` (a failed
// decode attempt); any other pointer is ignored.
void arena_release_last(struct arena *a, void *block);

// ---- load sequence (doc_load.cpp) ----

// Reads `path` whole and runs every reading phase into *d. Returns 0, or -1
// with the error text set and *d owning nothing. Never throws.
int doc_load(const char *path, doc *d);
// Loads from bytes already in memory (copied into the doc). Same contract;
// `name` stands in for the path in messages.
int doc_load_bytes(const uint8_t *bytes, size_t n, const char *name, doc *d);
// Releases everything d owns and zeroes it. Harmless when it owns nothing.
int doc_free(doc *d);

// ---- lookup (doc_index.cpp) ----

// Builds d->index from the final table. Returns 0, or -1 when it cannot be
// allocated (lookups then fall back to a linear search).
int doc_build_index(doc *d);
// The table entry with number num, or nullptr. Borrowed from the doc.
const objent *doc_lookup(const doc *d, int32_t num);

// While the table is not final (no index yet), lookups search it from its
// start. A phase that may look up many references builds an index of the
// table as it stands for the time it runs: d->index and d->max_num are as
// before once this is gone. Entries appended meanwhile are not in the index.
struct temporary_index {
    doc *d;
    bool built = false;
    int32_t max_num = 0;
    // Builds the index when `wanted` and d has none (and memory allows).
    temporary_index(doc *doc_, bool wanted);
    ~temporary_index();
    temporary_index(const temporary_index &) = delete;
    temporary_index &operator=(const temporary_index &) = delete;
};

// Dictionary text of an object: a member's whole text; for a direct object
// from dict_pos up to stream_pos (>0), else endobj_pos (>0), else len.
// start = -1 when the object has none.
text_range dict_range(const doc *d, const objent *e);
// Object text: a member's whole text; for a direct object from dict_pos up
// to endobj_pos (>0), else len. start = -1 when dict_pos is -1.
text_range obj_range(const doc *d, const objent *e);

// ---- reading phases (each in its own file; none fails the load but for
// want of memory: std::bad_alloc, also when the object table cannot grow) ----

// Cross-reference walk: fills d->root, d->info and d->encrypted.
void xref_walk(doc *d);
// After the object scan: sets d->encrypted when a trailer dictionary between
// the objects or the dictionary of a cross-reference stream names /Encrypt.
void mark_encryption(doc *d);
// The direct object scan (stream extents and clean-up included), the object
// streams (members appended to d->objs, blocks in d->arena) and duplicate
// resolution (one entry per number, sets d->max_num) share the object-stream
// flags of the table: scan_objects, read_object_streams and
// resolve_duplicates in scan_phases.h.
// Object spans (after duplicate resolution): an object without stream whose
// text reaches over more than 16 other object headers ends at the next
// header; a stream object whose dictionary region does leaves the table.
void limit_object_spans(doc *d);
// Catalog and page tree: fills d->pages and d->catalog. Returns 0, or -1 with
// the error text set (the caller frees the doc).
int load_page_tree(doc *d);

}  // namespace plenvo
