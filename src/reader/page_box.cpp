// Page boxes: reading PDF rectangles from page and /Pages dictionaries and
// combining the crop box with the media box.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "reader/page_box.h"
#include "reader/page_tree.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Reads one number starting at *i (a sign, digits, an optional fraction) and
// moves *i past it. A sign followed by neither a digit nor '.' reads as 0.
double read_real(const uint8_t *t, int32_t end, int32_t *i) {
    int32_t k = *i;
    bool neg = false;
    if (t[k] == '+' || t[k] == '-') {
        neg = t[k] == '-';
        ++k;
    }
    double v = 0.0;
    while (k < end && is_digit(t[k])) {
        v = v * 10.0 + (t[k] - '0');
        ++k;
    }
    if (k < end && t[k] == '.') {
        ++k;
        double f = 0.1;
        while (k < end && is_digit(t[k])) {
            v += (t[k] - '0') * f;
            f *= 0.1;
            ++k;
        }
    }
    *i = k;
    return neg ? -v : v;
}

}  // namespace

page_attrs root_attrs() {
    page_attrs a{};
    a.rotate = 0;
    a.has_media = 0;
    a.has_crop = 0;
    a.res_node = -1;
    return a;
}

text_range value_range(const doc *d, const objent *e) {
    if (e->in_objstm) return text_range{e->text, 0, e->text_len};
    int32_t lim = e->endobj_pos > 0 ? e->endobj_pos : d->len;
    if (e->hdr_pos < 0 || e->hdr_pos >= lim) return text_range{d->data, -1, -1};
    int32_t k = find_kw(d->data, lim, e->hdr_pos, "obj");
    if (k < 0) return text_range{d->data, -1, -1};
    return text_range{d->data, k + 3, lim};
}

int32_t ref_at(const uint8_t *t, int32_t end, int32_t pos) {
    int32_t i = skip_ws(t, pos, end);
    if (i >= end || !is_digit(t[i])) return -1;
    int32_t num = parse_int_at(t, end, &i);
    if (num <= 0) return -1;
    i = skip_ws(t, i, end);
    if (i >= end || !is_digit(t[i])) return -1;
    int32_t j = i;
    parse_int_at(t, end, &j);
    if (j == i) return -1;
    i = skip_ws(t, j, end);
    if (i < end && t[i] == 'R' && (i + 1 == end || !is_alnum(t[i + 1]))) return num;
    return -1;
}

int read_rect_at(const uint8_t *t, int32_t end, int32_t pos, rect *out) {
    if (pos < 0 || pos >= end || t[pos] != '[') return 0;
    double v[4];
    int n = 0;
    int32_t i = skip_ws(t, pos + 1, end);
    while (n < 4 && i < end) {
        uint8_t c = t[i];
        if (c == ']') break;
        if (c == '+' || c == '-' || c == '.' || is_digit(c))
            v[n++] = read_real(t, end, &i);
        else
            ++i;  // white space, or a byte that is not part of a number
    }
    if (n < 4) return 0;
    for (double x : v)
        if (!std::isfinite(x)) return 0;
    rect r{std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
    const double w = r.urx - r.llx, h = r.ury - r.lly;
    if (!(w > 0.0) || !(h > 0.0) || !std::isfinite(w) || !std::isfinite(h)) return 0;
    *out = r;
    return 1;
}

namespace {

// find_rect's answer for the dictionary text r, the key's first occurrence
// being at `first` (-1: none); later occurrences are searched as needed.
int rect_from(const doc *d, const text_range &r, const char *name, int32_t first, rect *out) {
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    int found = -1;
    for (int32_t p = first; p >= 0; p = find_name(r.base, r.end, p + n + 1, r.end, name)) {
        found = 0;
        int32_t q = skip_ws(r.base, p + n + 1, r.end);
        if (q < r.end && r.base[q] == '[') {
            if (read_rect_at(r.base, r.end, q, out)) return 1;
            continue;
        }
        // An indirect value: the referenced object's value must be the array.
        int32_t ref = ref_at(r.base, r.end, q);
        if (ref <= 0) continue;
        const objent *o = doc_lookup(d, ref);
        if (!o) continue;
        text_range v = value_range(d, o);
        if (v.start < 0) continue;
        int32_t s = skip_ws(v.base, v.start, v.end);
        if (read_rect_at(v.base, v.end, s, out)) return 1;
    }
    return found;
}

}  // namespace

int find_rect(const doc *d, const objent *e, const char *name, rect *out) {
    text_range r = dict_range(d, e);
    if (r.start < 0) return -1;
    return rect_from(d, r, name, find_name(r.base, r.end, r.start, r.end, name), out);
}

void fill_pageinfo(const doc *d, const objent *e, const page_attrs *inherited, pageinfo *p) {
    // One walk over the dictionary finds the first occurrence of each key
    // anywhere, and of /Contents and /Resources at its top level (which the
    // writer looks for first).
    static const char *const top[] = {"Contents", "Resources"};
    static const char *const any[] = {"MediaBox", "CropBox", "Rotate", "Contents", "Resources"};
    int32_t top_at[2] = {-1, -1};
    int32_t at[5] = {-1, -1, -1, -1, -1};
    const text_range r = dict_range(d, e);
    if (r.start >= 0) find_names_top_any(r.base, r.end, r.start, r.end, top, 2, top_at, any, 5, at);
    p->own_rotate = r.start >= 0 ? rotate_value_at(d, r, at[2]) : -1;
    p->contents_key = top_at[0] >= 0 ? top_at[0] : at[3];
    p->resources_key = top_at[1] >= 0 ? top_at[1] : at[4];
    p->dict_read = 1;

    rect media{}, crop{};
    bool has_media = r.start >= 0 && rect_from(d, r, "MediaBox", at[0], &media) == 1;
    if (!has_media && inherited->has_media) {
        media = inherited->media;
        has_media = true;
    }
    bool has_crop = r.start >= 0 && rect_from(d, r, "CropBox", at[1], &crop) == 1;
    if (!has_crop && inherited->has_crop) {
        crop = inherited->crop;
        has_crop = true;
    }
    rect b{0.0, 0.0, 595.0, 842.0};
    if (has_crop && has_media) {
        rect x{std::max(crop.llx, media.llx), std::max(crop.lly, media.lly),
               std::min(crop.urx, media.urx), std::min(crop.ury, media.ury)};
        b = (x.urx > x.llx && x.ury > x.lly) ? x : media;
    } else if (has_crop) {
        b = crop;
    } else if (has_media) {
        b = media;
    }
    p->llx = b.llx;
    p->lly = b.lly;
    p->urx = b.urx;
    p->ury = b.ury;
}

}  // namespace plenvo
