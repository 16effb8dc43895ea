// The output builder and its pieces: placement geometry, page content and
// resources, the closure of copied objects, and the file writer.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/buf.h"
#include "base/number_text.h"
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

// The rotation a page's placement carries out (90, 180, 270, else 0): the
// page's own /Rotate (p->own_rotate when the loader set it, else looked up),
// else the inherited one.
int effective_rotation(const doc *d, const pageinfo *p);

// Room for place_line's text.
constexpr size_t PLACE_LINE_SIZE = 4 * NUMTEXT_SIZE + 32;
// Writes "q s 0 0 s tx ty cm /F0 Do Q\n" (numbers by the number-text rule)
// into out; returns its length, no NUL.
size_t place_line(double s, double tx, double ty, char *out);
// Appends place_line's text to b.
void place_form(buf *b, double s, double tx, double ty);

// Room for form_head's text.
constexpr size_t FORM_HEAD_SIZE = 10 * NUMTEXT_SIZE + 160;
// Writes the part of the form dictionary fixed by the page box and placement
// ("<< /Type /XObject /Subtype /Form /BBox [...]" and any /Matrix) into out;
// returns its length, no NUL.
size_t form_head(const pageinfo *p, const placement &pl, char *out);
// The pieces that follow form_head's text: the /Length key (then the
// length), the /Resources key (then the resources text, when there is one)
// and the end of the dictionary with the stream keyword.
constexpr char FORM_LENGTH_KEY[] = " /Length ";
constexpr char FORM_RESOURCES_KEY[] = " /Resources ";
constexpr char FORM_DICT_END[] = " >> stream\n";

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

// A position to search for rather than one the caller already has.
constexpr int32_t KEY_UNKNOWN = -2;

// Positions of the '/' of a page dictionary's /Contents and /Resources keys
// (top level first, else anywhere), -1 when absent.
struct page_keys {
    int32_t contents;
    int32_t resources;
};

// Both keys of the page's dictionary, found in one walk. Never allocates.
page_keys find_page_keys(const doc *d, const objent *page);

// Decoded content of the streams that several places (pages, array elements)
// draw, so that a build decodes each of them once.
struct content_cache {
    std::unordered_map<int32_t, int32_t> uses;                 // stream -> places still to draw it
    std::unordered_map<int32_t, std::vector<uint8_t>> kept;    // decoded copies
    std::vector<int32_t> spent;                                // last use handed out
    uint64_t bytes = 0;                                        // kept bytes (bounded)
};

// Counts the places that draw each stream over all pages (keys[k] for page
// k, as find_page_keys gives them); only streams drawn at two or more places
// are kept. Throws std::bad_alloc.
void content_cache_count(const doc *d, const page_keys *keys, content_cache *c);

// gather_content for a build drawing its pages in order: contents_key is the
// page's /Contents key position from find_page_keys (or KEY_UNKNOWN);
// out->owned keeps its storage between calls (zero it before the first;
// release it with buf_free after the last), and streams counted in c are
// decoded once, their copies (at most 32 MiB at a time) released after their
// last use. out->data is valid until the next call. Throws std::bad_alloc.
void gather_content_reusing(const doc *d, const objent *page, int32_t contents_key, content_cache *c,
                            page_content *out);

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
// own_key: the position of the page's own /Resources key (find_page_keys),
// or KEY_UNKNOWN to search for it.
resources_at locate_page_resources(const doc *d, const objent *page, const pageinfo *p,
                                   int32_t own_key = KEY_UNKNOWN);

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
// keys, when given, holds each page's keys from find_page_keys.
void build_copy_list(const doc *d, int32_t first_new, copy_list *cl, const page_keys *keys = nullptr);

// The text with every reference to a copied object rewritten to its new number
// and references to pages, page-tree nodes and the catalog written as null.
// Literal strings, hex strings and comments are copied unchanged.
std::string rewrite_refs(const uint8_t *t, size_t n, const doc *d, const copy_list &cl);

// Appends object e's text under number newnum to b, references rewritten
// (never inside stream data).
void copy_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b);

// ---- file output (atomic_write.cpp) ----

// An output file being written: a temporary file beside the target, renamed
// over it by out_file_commit. A failure to open or write is recorded and
// reported only by out_file_commit; later writes are then ignored. The
// destructor removes a temporary file that was not committed.
struct out_file {
    enum failure { NONE, CANNOT_WRITE, SHORT_WRITE, CLOSE_ERROR };
    std::string path;    // as given, for messages
    std::string target;  // path with symbolic links followed
    std::string tmp;
    int fd = -1;
    bool replacing = false;  // a file exists at target: flush before the rename
    failure fail = NONE;

    out_file() = default;
    out_file(const out_file &) = delete;
    out_file &operator=(const out_file &) = delete;
    ~out_file();
};

// Creates the temporary file for path. Never sets the error text.
void out_file_open(out_file *f, const char *path);
// Appends len bytes. Never sets the error text; a failure removes the
// temporary file and is kept for out_file_commit.
void out_file_write(out_file *f, const uint8_t *data, uint64_t len);
// Closes the file and renames it over its target, flushing its data to disk
// first when it replaces an existing file.
// Returns 1, or 0 with the message set ("cannot write %s", "short write to
// %s", "close error on %s"); on failure nothing at the path changes and no
// temporary file remains.
int out_file_commit(out_file *f);
// Closes and removes an uncommitted temporary file; no message.
void out_file_discard(out_file *f);

// Writes data to path in one go through the steps above. Returns 1, or 0 with
// the message set, like out_file_commit.
int write_file_atomic(const char *path, const uint8_t *data, uint64_t len);

}  // namespace plenvo
