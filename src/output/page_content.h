// Page content: the bytes a page draws, gathered from its /Contents and
// decoded, with a cache for streams that several places draw.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/buf.h"
#include "output/page_keys.h"
#include "reader/doc.h"

namespace plenvo {

// A page's content: data/len, borrowed from the input or pointing into `owned`.
struct page_content {
    const uint8_t *data;
    int32_t len;
    buf owned;
    int32_t too_long;  // 1 when the parts of an array reach 2 GiB together (data then empty)
};

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

// Gathers the page's /Contents (a stream, an array of streams, an array object,
// or an inline stream) decoded through each stream's filters; parts of an array
// are joined with one line feed. Unreadable parts are left out. Parts that
// together reach 2 GiB, more than an output can hold, are not gathered:
// too_long is set and the content is empty. For a build drawing its pages in
// order: contents_key is the page's /Contents key position (page_keys_of or
// find_page_keys, -1 when none); out->owned keeps its storage between calls
// (zero it before the first; release it with buf_free after the last), and
// streams counted in c are decoded once, their copies (at most 32 MiB at a
// time) released after their last use. out->data is valid until the next
// call. Throws std::bad_alloc, also when the parts gathered so far are lost
// for want of memory.
void gather_content_reusing(const doc *d, const objent *page, int32_t contents_key, content_cache *c,
                            page_content *out);

// Where the value of the /Contents key at `key` starts in t (comments are
// white space); end or more when there is none.
int32_t contents_value_at(const uint8_t *t, int32_t key, int32_t end);

// The next element of a content array, read from *pos (inside the array) up
// to its ']' or end. True with *num its object number (a bare number counts;
// -1 for one too long for 32 bits) and *pos past its generation and R; false
// at the array's end. Other bytes are passed over, comments are white space.
// Every reader of content arrays walks them through this, so that all agree.
bool next_content_element(const uint8_t *t, int32_t end, int32_t *pos, int32_t *num);

}  // namespace plenvo
