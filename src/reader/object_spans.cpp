// Object spans: how far an object's text may reach over the objects after it.
//
// A direct object's text runs from its header to its own "endobj" (its
// dictionary to its "stream" keyword). An object without "endobj" of its own
// reaches the next one in the file, so its text holds the headers and texts of
// the objects in between, and every search in it (the page type, boxes,
// rotation, resources, the references a copy rewrites) reads them again. A
// few such objects are harmless; thousands in a row make each of those
// searches cost the square of the file's size (a 1 MB file took minutes).
//
// So an object whose text reaches over more than MAX_SPANNED other headers is
// cut: an object without stream ends where the next object begins, and a
// stream object whose dictionary region holds that many headers (several
// headers before one "stream" keyword) leaves the table. Every text then
// covers at most MAX_SPANNED + 1 of the stretches between headers, so all
// searches together read the file a bounded number of times. Headers inside
// strings are taken for real ones by the scan, so a text with a few of them
// keeps its whole extent.
#include <algorithm>
#include <climits>
#include <vector>

#include "reader/doc.h"

namespace plenvo {
namespace {

constexpr int32_t MAX_SPANNED = 16;

// Where the searched text of direct entry e ends: its "stream" keyword, else
// its "endobj"; -1 when it has neither.
int32_t text_end(const objent &e) {
    if (e.has_stream) return e.stream_pos > 0 ? e.stream_pos : -1;
    return e.endobj_pos > 0 ? e.endobj_pos : -1;
}

}  // namespace

void limit_object_spans(doc *d) {
    objent *it = d->objs.items;
    const int32_t n = d->objs.count;
    std::vector<int32_t> hdrs;
    for (int32_t i = 0; i < n; ++i)
        if (!it[i].in_objstm && it[i].hdr_pos >= 0) hdrs.push_back(it[i].hdr_pos);
    if (hdrs.size() <= static_cast<size_t>(MAX_SPANNED)) return;
    if (!std::is_sorted(hdrs.begin(), hdrs.end())) std::sort(hdrs.begin(), hdrs.end());  // in file order already, as a rule

    // The text reaches over more than MAX_SPANNED headers exactly when the
    // (MAX_SPANNED + 1)-th header after its own lies before its end. The
    // headers after e's own are found by stepping forward from the previous
    // entry's while entries come in file order (the rule), by binary search
    // otherwise.
    const size_t nh = hdrs.size();
    size_t after = 0;  // headers at or before the previous entry's header
    int32_t prev = INT32_MIN;
    bool dropped = false;
    std::vector<uint8_t> drop(static_cast<size_t>(n), 0);
    for (int32_t i = 0; i < n; ++i) {
        objent &e = it[i];
        if (e.in_objstm || e.hdr_pos < 0) continue;
        const int32_t end = text_end(e);
        if (end <= e.hdr_pos) continue;
        if (e.hdr_pos >= prev) {
            while (after < nh && hdrs[after] <= e.hdr_pos) ++after;
        } else {
            after = static_cast<size_t>(std::upper_bound(hdrs.begin(), hdrs.end(), e.hdr_pos) - hdrs.begin());
        }
        prev = e.hdr_pos;
        if (nh - after <= static_cast<size_t>(MAX_SPANNED) || hdrs[after + MAX_SPANNED] >= end) continue;
        const int32_t first = hdrs[after];
        if (e.has_stream) {
            drop[static_cast<size_t>(i)] = 1;
            dropped = true;
        } else {
            // The next header starts after this object's "obj" keyword and
            // after the '<' of its dictionary, so the text stays non-empty.
            e.endobj_pos = first;
            e.end_pos = first;
        }
    }
    if (!dropped) return;
    int32_t w = 0;
    int32_t top = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (drop[static_cast<size_t>(i)]) continue;
        it[w++] = it[i];
        top = std::max(top, it[i].num);
    }
    d->objs.count = w;
    d->max_num = top;
}

}  // namespace plenvo
