// The output builder and its pieces: placement geometry, page content and
// resources, the closure of copied objects, and the file writer.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "reader/buf.h"
#include "reader/doc.h"

namespace plenvo {

enum scale_mode { MODE_FIT = 0, MODE_PERCENT = 1 };

// Writes the rescaled document to out_path. Returns 1 with the error text
// emptied, or 0 with a message set; an existing file at out_path is left
// untouched on every failure. Never modifies d.
int scale_doc(const doc *d, const char *out_path, int mode, double W, double H, double f);

// ---- placement (placement.cpp) ----

struct placement {
    int r;            // effective rotation: 90, 180, 270, or 0 for anything else
    double bw, bh;    // page box width and height
    double cw, ch;    // displayed width and height
    double s;         // scale
    double pw, ph;    // new page size
    double tx, ty;    // translation
};

// Computes one page's placement. Returns 0, or -1 when the page cannot be
// placed (fit-mode scale not > 0 or NaN, or any computed value not finite or
// too large, 1e50 or more in magnitude, to be written as a plain decimal).
int compute_placement(const doc *d, const pageinfo *p, int mode, double W, double H, double f,
                      placement *out);

// Appends "q s 0 0 s tx ty cm /F0 Do Q\n" to b (numbers by the number-text rule).
void place_form(buf *b, double s, double tx, double ty);

// The form XObject's dictionary and "stream\n" keyword for a page with the given
// placement, content length and rewritten resources text (nullptr: none).
std::string form_header(const pageinfo *p, const placement &pl, long length, const char *resources);

// ---- page content and resources (page_content.cpp, page_resources.cpp) ----

// A page's content: data/len, borrowed from the input or pointing into `owned`.
struct page_content {
    const uint8_t *data;
    int32_t len;
    buf owned;
    int32_t too_long;  // 1 when the parts of an array reach 2 GiB together (data then empty)
};

// Gathers the page's /Contents (a stream, an array of streams, an array object,
// or an inline stream) decoded through each stream's filters; parts of an array
// are joined with one line feed. Unreadable parts are left out. Parts that
// together reach 2 GiB, more than an output can hold, are not gathered:
// too_long is set and the content is empty. Throws std::bad_alloc when the
// parts gathered so far are lost for want of memory.
// Release with buf_free(&out->owned).
void gather_content(const doc *d, const objent *page, page_content *out);

// Decoded content of the streams that several places (pages, array elements)
// draw, so that a build does not decode them again for every place.
struct content_cache {
    std::vector<uint8_t> seen;                                 // by object number: drawn before
    std::unordered_map<int32_t, std::vector<uint8_t>> kept;    // decoded copies
    uint64_t bytes = 0;                                        // kept bytes (bounded)
};

// gather_content for a build drawing its pages in order: out->owned keeps its
// storage between calls (zero it before the first; release it with buf_free
// after the last), and a stream drawn a second time is kept in c, decoded
// copies of at most 32 MiB in all, so that later places copy it instead of
// decoding it. out->data is valid until the next call. Throws std::bad_alloc.
void gather_content_reusing(const doc *d, const objent *page, content_cache *c, page_content *out);

// Where a /Resources dictionary lies: dict_text_at(t, len, pos) copies it.
// t is null when there is none. Two pages with equal locations have equal
// resources texts.
struct resources_at {
    const uint8_t *t;
    int32_t len;
    int32_t pos;
};

// The location of the dictionary that page_resources_dict copies. Never
// allocates, never changes the doc.
resources_at locate_page_resources(const doc *d, const objent *page, const pageinfo *p);

// A malloc'd copy of the page's /Resources dictionary text ("<<" .. ">>"), its
// own or, when it has none, the nearest ancestor's (p->res_node); nullptr when
// there is none. The caller frees it with free().
char *page_resources_dict(const doc *d, const objent *page, const pageinfo *p);

// ---- copied objects (copy_list.cpp) ----

// The objects reachable from the pages' resources, in order of discovery, and
// the map from old to new numbers.
struct copy_list {
    std::vector<int32_t> old_nums;   // position j gets new number first_new + j
    std::vector<int32_t> new_of;     // old number -> new number, 0 when not copied (size max_num+1);
                                     // -1 for a page, page-tree node or catalog (written as null)
    std::unordered_map<int32_t, int32_t> far_new;  // numbers above max_num (never in the table)
    std::vector<resources_at> page_res;            // per page: where its resources lie (as located)
    int32_t first_new = 0;
    int32_t new_number(int32_t old_num) const;  // 0 when not copied
};

// Builds the closure. Throws std::bad_alloc when memory runs out.
void build_copy_list(const doc *d, int32_t first_new, copy_list *cl);

// The text with every reference to a copied object rewritten to its new number
// and references to pages, page-tree nodes and the catalog written as null.
// Literal strings, hex strings and comments are copied unchanged.
std::string rewrite_refs(const uint8_t *t, size_t n, const doc *d, const copy_list &cl);

// Appends object e's text under number newnum to b, references rewritten
// (never inside stream data).
void copy_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b);

// ---- file output (atomic_write.cpp) ----

// Writes data to path through a temporary file in the same directory renamed
// over path. Returns 1, or 0 with the message set ("cannot write %s",
// "short write to %s", "close error on %s"); on failure nothing at path changes
// and no temporary file remains.
int write_file_atomic(const char *path, const uint8_t *data, uint64_t len);

}  // namespace plenvo
