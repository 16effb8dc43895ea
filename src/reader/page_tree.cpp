// Catalog and page tree: choosing the catalog, finding the root of the page
// tree and walking it into the document's page list.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/error.h"
#include "reader/page_tree.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Resumable search for the name `name` (n bytes, without '/') at dictionary
// depth 0 or 1, outside strings, hex strings and comments. *i is where the
// scan resumes and *depth the depth there; both are updated. Returns the
// position of the '/' or -1 at the end or at an unterminated construct.
int32_t next_top_name(const uint8_t *t, int32_t end, int32_t *i, int *depth, const char *name,
                      int32_t n) {
    int32_t k = *i;
    while (k < end) {
        uint8_t c = t[k];
        if (c == '%') {
            while (k < end && t[k] != '\r' && t[k] != '\n') ++k;
            if (k >= end) return -1;
        } else if (c == '(') {
            if (k + 1 >= end) return -1;
            int nest = 1;
            ++k;
            while (k < end) {
                if (t[k] == '\\') {
                    if (k + 1 >= end) return -1;
                    k += 2;
                    continue;
                }
                if (t[k] == '(') {
                    ++nest;
                } else if (t[k] == ')' && --nest == 0) {
                    break;
                }
                ++k;
            }
            if (k >= end) return -1;
            ++k;
        } else if (c == '<') {
            if (k + 1 >= end) return -1;
            if (t[k + 1] == '<') {
                ++*depth;
                k += 2;
            } else {
                const void *gt = std::memchr(t + k + 1, '>', static_cast<size_t>(end - k - 1));
                if (!gt) return -1;
                k = static_cast<int32_t>(static_cast<const uint8_t *>(gt) - t) + 1;
            }
        } else if (c == '>') {
            if (k + 1 >= end) return -1;
            if (t[k + 1] == '>') {
                if (*depth > 0) --*depth;
                k += 2;
            } else {
                ++k;
            }
        } else if (c == '/') {
            if (*depth <= 1 && k + n + 1 <= end && std::memcmp(t + k + 1, name, n) == 0 &&
                (k + n + 1 == end || !is_namecont(t[k + n + 1]))) {
                *i = k + n + 1;
                return k;
            }
            ++k;
        } else {
            ++k;
        }
    }
    *i = k;
    return -1;
}

// Appends the object numbers of the /Kids array whose "[" stands at pos.
// Returns 0, or -2 when the array holds an inline dictionary.
int read_kids_array(const uint8_t *t, int32_t end, int32_t pos, std::vector<int32_t> &kids) {
    int32_t i = skip_ws(t, pos + 1, end);
    while (i < end) {
        uint8_t c = t[i];
        if (c == ']') break;
        if (c == '<' && i + 1 < end && t[i + 1] == '<') return -2;
        if (!is_digit(c)) {
            ++i;
            continue;
        }
        int32_t j = i;
        int32_t num = parse_int_at(t, end, &j);
        if (j == i) {  // a digit run beyond the 32-bit range: no object
            while (i < end && is_digit(t[i])) ++i;
            continue;
        }
        i = j;
        if (num > 0) kids.push_back(num);
        i = skip_ws(t, i, end);
        if (i < end && is_digit(t[i])) {  // the generation number
            j = i;
            parse_int_at(t, end, &j);
            if (j == i)
                while (i < end && is_digit(t[i])) ++i;
            else
                i = j;
        }
        i = skip_ws(t, i, end);
        if (i < end && t[i] == 'R') ++i;
        i = skip_ws(t, i, end);
    }
    return 0;
}

// Appends the kids of /Pages node e: the first /Kids key whose value is an
// array (or a reference to an array object). Returns 0 (also when there is
// none) or -2 for an inline dictionary.
int read_kids(const doc *d, const objent *e, std::vector<int32_t> &kids) {
    text_range r = dict_range(d, e);
    if (r.start < 0) return 0;
    for (int32_t p = find_name(r.base, r.end, r.start, r.end, "Kids"); p >= 0;
         p = find_name(r.base, r.end, p + 5, r.end, "Kids")) {
        int32_t q = skip_ws(r.base, p + 5, r.end);
        if (q < r.end && r.base[q] == '[') return read_kids_array(r.base, r.end, q, kids);
        int32_t ref = ref_at(r.base, r.end, q);
        if (ref <= 0) continue;
        const objent *o = doc_lookup(d, ref);
        if (!o) continue;
        text_range v = value_range(d, o);
        if (v.start < 0) continue;
        int32_t s = skip_ws(v.base, v.start, v.end);
        if (s < v.end && v.base[s] == '[') return read_kids_array(v.base, v.end, s, kids);
    }
    return 0;
}

// The attributes /Pages node e hands to its kids, given its own inherited ones.
page_attrs node_attrs(const doc *d, const objent *e, const page_attrs *up) {
    page_attrs a = *up;
    int32_t own = obj_rotate_own(d, e);
    if (own >= 0) a.rotate = own;
    rect r{};
    int got = find_rect(d, e, "MediaBox", &r);
    if (got >= 0) {
        a.has_media = got;
        a.media = r;
    }
    got = find_rect(d, e, "CropBox", &r);
    if (got >= 0) {
        a.has_crop = got;
        a.crop = r;
    }
    text_range t = dict_range(d, e);
    if (t.start >= 0 && find_name(t.base, t.end, t.start, t.end, "Resources") >= 0) a.res_node = e->num;
    return a;
}

// The entry of page e, listed by /Pages node `parent` with attributes a.
pageinfo page_entry(const doc *d, const objent *e, int32_t parent, const page_attrs &a) {
    pageinfo p{};
    p.objnum = e->num;
    p.parent = parent;
    p.rotate = a.rotate;
    p.res_node = a.res_node;
    fill_pageinfo(d, e, &a, &p);
    return p;
}

// One /Pages node on the path of the walk; its kids are kids[next, end).
struct frame {
    int32_t num;
    size_t begin, next, end;
    page_attrs attrs;
};

// Marks /Pages node e visited and appends its kids. Returns 0, -1 when it was
// entered before, -2 when its /Kids holds an inline dictionary.
int enter_node(const doc *d, const objent *e, const page_attrs *up, uint8_t *visited,
               std::vector<int32_t> &kids, frame *f) {
    if (e->num >= 0 && e->num <= d->max_num) {
        if (visited[e->num]) return -1;
        visited[e->num] = 1;
    }
    f->num = e->num;
    f->begin = f->next = kids.size();
    if (read_kids(d, e, kids) < 0) {
        kids.resize(f->begin);
        return -2;
    }
    f->end = kids.size();
    f->attrs = f->end > f->begin ? node_attrs(d, e, up) : *up;
    return 0;
}

// The number of the first object of the table whose object text holds the
// name /Catalog, or -1. The texts of direct objects may overlap (several
// headers before one "endobj" all reach it), so searching each text in turn
// could read the same bytes once per object: the file is searched once and
// each direct object tests for an occurrence inside its text. A name cannot
// end right at an object's "endobj" keyword (the keyword needs a
// non-alphanumeric byte before it), so the boundary tested against the file
// is the one tested against the text. Members' texts are disjoint and are
// searched directly.
int32_t first_catalog_object(const doc *d) {
    std::vector<int32_t> occ;
    for (int32_t p = find_name(d->data, d->len, 0, d->len, "Catalog"); p >= 0;
         p = find_name(d->data, d->len, p + 8, d->len, "Catalog"))
        occ.push_back(p);
    for (int32_t k = 0; k < d->objs.count; ++k) {
        const objent *o = &d->objs.items[k];
        text_range r = obj_range(d, o);
        if (r.start < 0) continue;
        if (o->in_objstm) {
            if (find_name(r.base, r.end, r.start, r.end, "Catalog") >= 0) return o->num;
            continue;
        }
        auto it = std::lower_bound(occ.begin(), occ.end(), r.start);
        if (it != occ.end() && static_cast<int64_t>(*it) + 8 <= r.end) return o->num;
    }
    return -1;
}

}  // namespace

int obj_type(const doc *d, const objent *e) {
    text_range r = dict_range(d, e);
    if (r.start < 0) return 0;
    int32_t i = r.start;
    int depth = 0;
    for (;;) {
        int32_t p = next_top_name(r.base, r.end, &i, &depth, "Type", 4);
        if (p < 0) return 0;
        int32_t q = skip_ws(r.base, p + 5, r.end);
        if (q + 5 > r.end || std::memcmp(r.base + q, "/Page", 5) != 0) continue;
        int32_t s = q + 5;
        if (s == r.end || !is_alnum(r.base[s])) return 1;
        if (r.base[s] == 's' && (s + 1 == r.end || !is_alnum(r.base[s + 1]))) return 2;
        return 0;
    }
}

int obj_rotate_own(const doc *d, const objent *e) {
    text_range r = dict_range(d, e);
    if (r.start < 0) return -1;
    return rotate_value_at(d, r, find_name(r.base, r.end, r.start, r.end, "Rotate"));
}

int page_rotate_own(const doc *d, const pageinfo *p) {
    if (p->dict_read) return p->own_rotate;
    const objent *e = doc_lookup(d, p->objnum);
    return e ? obj_rotate_own(d, e) : -1;
}

int rotate_value_at(const doc *d, const text_range &r, int32_t p) {
    if (p < 0) return -1;
    const uint8_t *t = r.base;
    int32_t pos = p + 7, end = r.end;
    int32_t ref = ref_at(t, end, pos);
    if (ref > 0) {  // /Rotate n 0 R: the value is object n's integer
        const objent *o = doc_lookup(d, ref);
        if (!o) return -1;
        text_range v = value_range(d, o);
        if (v.start < 0) return -1;
        t = v.base;
        pos = v.start;
        end = v.end;
    }
    int32_t i = pos;
    int32_t val = parse_int_at(t, end, &i);
    if (i == pos) return -1;
    return ((val % 360) + 360) % 360;
}

namespace {

// Makes room in the list for the pages that /Pages node e counts (its
// /Count), at most one per object of the table: the list of a large document
// then grows without being copied. Only a hint: nothing happens when the
// count is absent or the room cannot be had.
void reserve_counted_pages(const doc *d, const objent *e, pagevec *pages) {
    const text_range r = dict_range(d, e);
    if (r.start < 0) return;
    const int32_t p = find_name(r.base, r.end, r.start, r.end, "Count");
    if (p < 0) return;
    int32_t i = p + 6;
    const int32_t n = parse_int_at(r.base, r.end, &i);
    if (n <= 0) return;
    pagevec_reserve(pages, static_cast<int64_t>(pages->count) + std::min(n, d->objs.count));
}

// Appends p to the list; throws std::bad_alloc when it cannot grow.
void append_page(pagevec *pages, const pageinfo &p) {
    const int32_t before = pages->count;
    pagevec_push(pages, &p);
    if (pages->count == before) throw std::bad_alloc();
}

}  // namespace

int resolve_pages(const doc *d, int32_t num, pagevec *pages, uint8_t *visited,
                  const page_attrs *inherited) {
    const objent *e = doc_lookup(d, num);
    if (!e) return -1;
    int type = obj_type(d, e);
    if (type == 1) {
        append_page(pages, page_entry(d, e, -1, *inherited));
        return 1;
    }
    if (type != 2) return -1;

    // Depth-first walk with an explicit stack: the depth of the tree costs
    // heap, not call stack. Each frame's kids sit in one shared array.
    std::vector<int32_t> kids;
    std::vector<frame> stack;
    frame f{};
    int rc = enter_node(d, e, inherited, visited, kids, &f);
    if (rc < 0) return rc;
    reserve_counted_pages(d, e, pages);
    stack.push_back(f);
    while (!stack.empty()) {
        frame &top = stack.back();
        if (top.next == top.end) {
            kids.resize(top.begin);
            stack.pop_back();
            continue;
        }
        const objent *k = doc_lookup(d, kids[top.next++]);
        if (!k) return -1;
        const int kt = obj_type(d, k);
        if (kt == 1) {
            append_page(pages, page_entry(d, k, top.num, top.attrs));
        } else if (kt == 2) {
            page_attrs up = top.attrs;  // top may move when the stack grows
            if (enter_node(d, k, &up, visited, kids, &f) < 0) return -1;
            stack.push_back(f);
        } else {
            return -1;
        }
    }
    return pages->count;
}

int load_page_tree(doc *d) {
    // The catalog: /Root when it exists, else the first object naming
    // /Catalog, else object 1.
    int32_t cat = -1;
    if (d->root >= 0 && doc_lookup(d, d->root)) {
        cat = d->root;
    } else {
        cat = first_catalog_object(d);
        if (cat < 0) cat = 1;
    }
    d->catalog = cat;
    const objent *ce = doc_lookup(d, cat);
    if (!ce) {
        set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(cat));
        return -1;
    }

    // The root of the page tree: the catalog itself when it is a page-tree
    // object, else the first /Pages key with a positive object number.
    int32_t root = -1;
    int ct = obj_type(d, ce);
    if (ct == 1 || ct == 2) {
        root = cat;
    } else {
        text_range r = obj_range(d, ce);
        if (r.start >= 0) {
            for (int32_t p = find_name(r.base, r.end, r.start, r.end, "Pages"); p >= 0;
                 p = find_name(r.base, r.end, p + 6, r.end, "Pages")) {
                int32_t q = p + 6;
                int32_t v = parse_int_at(r.base, r.end, &q);
                if (v > 0) {
                    root = v;
                    break;
                }
            }
        }
        if (root < 0) {
            set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(cat));
            return -1;
        }
    }

    std::vector<uint8_t> visited;
    try {
        visited.assign(static_cast<size_t>(d->max_num > 0 ? d->max_num : 0) + 1, 0);
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
        return -1;
    }
    page_attrs top = root_attrs();
    int rc;
    try {
        rc = resolve_pages(d, root, &d->pages, visited.data(), &top);
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
        return -1;
    }
    if (rc == -2) {
        set_error("page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect objects");
        return -1;
    }
    if (rc < 0) {
        set_error("could not resolve the page tree (obj %ld is not a /Pages or /Page object, or tree is broken)",
                  static_cast<long>(root));
        return -1;
    }
    if (rc == 0) {
        set_error("document has no pages");
        return -1;
    }
    return 0;
}

}  // namespace plenvo
