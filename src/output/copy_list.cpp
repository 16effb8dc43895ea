// The objects copied into the output: every object reachable from the pages'
// resources, their new numbers, the rewriting of references and the text of
// each copied object.
//
// References are recognised token by token. A reference is a digit run that
// starts a token (it follows white space, a delimiter or the start of the
// text), optional white space, an optional generation digit run with optional
// white space after it, and the keyword R ending at white space, a delimiter
// or the end of the text. Names (/F1), real numbers (0.5), literal strings,
// hex strings and comments are stepped over whole, so digits inside them
// never start a reference.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "output/copy_list.h"

#include "output/carried.h"
#include "reader/page_tree.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Position right after the literal string opening at t[i] == '(' (nested
// parentheses and backslash escapes honoured), or n when it never closes.
size_t skip_literal_string(const uint8_t *t, size_t n, size_t i) {
    int depth = 1;
    for (++i; i < n; ++i) {
        uint8_t c = t[i];
        if (c == '\\') {
            ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return n;
}

struct ref_hit {
    size_t start;  // first digit of the object number
    size_t end;    // just past the R
    int32_t num;
};

// Finds the next reference in t[*pos, n). Returns true with *hit filled and
// *pos moved past it; false (with *pos = n) when the text holds no more.
bool next_ref(const uint8_t *t, size_t n, size_t *pos, ref_hit *hit) {
    size_t i = *pos;
    while (i < n) {
        const uint8_t c = t[i];
        if (is_ws(c)) {
            ++i;
        } else if (c == '%') {
            while (i < n && t[i] != '\r' && t[i] != '\n') ++i;
        } else if (c == '(') {
            i = skip_literal_string(t, n, i);
        } else if (c == '<') {
            if (i + 1 < n && t[i + 1] == '<') {
                i += 2;
            } else {
                const void *gt = std::memchr(t + i + 1, '>', n - i - 1);
                i = gt ? static_cast<size_t>(static_cast<const uint8_t *>(gt) - t) + 1 : n;
            }
        } else if (c == '/') {
            ++i;
            while (i < n && is_regular(t[i])) ++i;
        } else if (is_delim(c)) {
            ++i;
        } else {
            // A regular token starts here; only a digit can begin a reference.
            if (is_digit(c)) {
                size_t k = i;
                int64_t num = 0;
                while (k < n && is_digit(t[k])) {
                    if (num <= INT32_MAX) num = num * 10 + (t[k] - '0');
                    ++k;
                }
                size_t j = k;
                while (j < n && is_ws(t[j])) ++j;
                if (j < n && is_digit(t[j])) {
                    while (j < n && is_digit(t[j])) ++j;
                    while (j < n && is_ws(t[j])) ++j;
                }
                if (num <= INT32_MAX && j < n && t[j] == 'R' && (j + 1 == n || !is_regular(t[j + 1]))) {
                    hit->start = i;
                    hit->end = j + 1;
                    hit->num = static_cast<int32_t>(num);
                    *pos = j + 1;
                    return true;
                }
            }
            while (i < n && is_regular(t[i])) ++i;
        }
    }
    *pos = n;
    return false;
}

// The state of old number `num` in the list: the new number (> 0), -1 for an
// object written as null, 0 when it was never collected.
int32_t ref_state(const copy_list &cl, int32_t num) {
    if (num < 0) return 0;
    if (static_cast<size_t>(num) < cl.new_of.size()) return cl.new_of[num];
    auto it = cl.far_new.find(num);
    return it == cl.far_new.end() ? 0 : it->second;
}

// The part of an object that is scanned for references and rewritten: a
// member's whole text; a stream object's dictionary (up to its stream
// keyword); for any other direct object its body, after "N G obj" and up to
// its endobj keyword. base null when there is none.
struct obj_text {
    const uint8_t *base;
    size_t start;
    size_t end;
};

obj_text object_text(const doc *d, const objent *e) {
    if (e->in_objstm) {
        if (!e->text || e->text_len <= 0) return {nullptr, 0, 0};
        return {e->text, 0, static_cast<size_t>(e->text_len)};
    }
    if (e->has_stream) {
        if (e->dict_pos < 0 || e->stream_pos <= e->dict_pos || e->stream_pos > d->len) return {nullptr, 0, 0};
        return {d->data, static_cast<size_t>(e->dict_pos), static_cast<size_t>(e->stream_pos)};
    }
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    int32_t i = e->hdr_pos;
    if (i < 0 || i >= len || e->endobj_pos <= 0 || e->endobj_pos > len) return {nullptr, 0, 0};
    while (i < len && is_digit(t[i])) ++i;
    i = skip_ws(t, i, len);
    if (i < len && is_digit(t[i])) {
        while (i < len && is_digit(t[i])) ++i;
        i = skip_ws(t, i, len);
    }
    if (kw_at(t, i, len, "obj")) i = skip_ws(t, i + 3, len);
    if (i >= e->endobj_pos) return {nullptr, 0, 0};
    return {t, static_cast<size_t>(i), static_cast<size_t>(e->endobj_pos)};
}

// True for objects that must never be copied: pages, page-tree nodes and the
// catalog (a reference to them is written as null).
bool is_structural(const doc *d, const objent *e, const std::vector<uint8_t> &tree_marks) {
    if (e->num == d->catalog || e->num == d->root) return true;
    if (static_cast<size_t>(e->num) < tree_marks.size() && tree_marks[e->num]) return true;
    int type = obj_type(d, e);
    return type == 1 || type == 2;
}

struct collector {
    const doc *d;
    copy_list *cl;
    std::vector<uint8_t> tree_marks;  // pages and their parents and resource nodes

    void add(int32_t num) {
        copy_list &l = *cl;
        if (static_cast<size_t>(num) < l.new_of.size()) {
            if (l.new_of[num] != 0) return;
            const objent *e = doc_lookup(d, num);
            if (e && is_structural(d, e, tree_marks)) {
                l.new_of[num] = -1;
                return;
            }
            l.new_of[num] = l.first_new + static_cast<int32_t>(l.old_nums.size());
        } else {
            auto ins = l.far_new.emplace(num, l.first_new + static_cast<int32_t>(l.old_nums.size()));
            if (!ins.second) return;
        }
        l.old_nums.push_back(num);
    }

    void scan(const uint8_t *t, size_t n) {
        size_t pos = 0;
        ref_hit h;
        while (next_ref(t, n, &pos, &h)) add(h.num);
    }
};

void append_int(std::string &s, long v) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    s.append(tmp, r.ptr);
}

void rewrite_into(std::string &out, const uint8_t *t, size_t n, const copy_list &cl) {
    size_t pos = 0, last = 0;
    ref_hit h;
    while (next_ref(t, n, &pos, &h)) {
        int32_t v = ref_state(cl, h.num);
        if (v == 0) continue;
        out.append(reinterpret_cast<const char *>(t + last), h.start - last);
        if (v > 0) {
            append_int(out, v);
            out += " 0 R";
        } else {
            out += "null";
        }
        last = h.end;
    }
    out.append(reinterpret_cast<const char *>(t + last), n - last);
}

// Appends n bytes; false once the buffer has lost its storage.
bool put(buf *b, const void *p, uint64_t n) {
    buf_append(b, p, n);
    return b->data != nullptr;
}
bool put(buf *b, const std::string &s) { return put(b, s.data(), s.size()); }

// The integer value of object num when it is a plain integer object, else -1.
int32_t int_object_value(const doc *d, int32_t num) {
    const objent *e = doc_lookup(d, num);
    if (!e || e->has_stream) return -1;
    if (e->in_objstm) {
        int32_t p = 0;
        return e->text ? parse_int_at(e->text, e->text_len, &p) : -1;
    }
    return read_obj_int_value(d->data, d->len, e->hdr_pos);
}

// The rewritten dictionary of stream object e, its /Length made to state the
// stored data's length when the declared one (direct or through a reference)
// does not.
std::string stream_dict_text(const doc *d, const objent *e, const copy_list &cl) {
    const uint8_t *t = d->data;
    const int32_t a = e->dict_pos, z = e->stream_pos;
    const int64_t actual = static_cast<int64_t>(e->data_end) - e->data_pos;
    std::string out;
    out.reserve(static_cast<size_t>(z - a) + 16);

    int32_t key = find_name_top(t, z, a, z, "Length");
    if (key < 0) {
        if (find_name(t, z, a, z, "Length") < 0 && z - a >= 2 && t[a] == '<' && t[a + 1] == '<') {
            out += "<< /Length ";
            append_int(out, static_cast<long>(actual));
            rewrite_into(out, t + a + 2, static_cast<size_t>(z - a - 2), cl);
        } else {
            rewrite_into(out, t + a, static_cast<size_t>(z - a), cl);
        }
        return out;
    }
    // The value after the key: an integer, a reference, or some other token.
    int32_t v = skip_ws(t, key + 7, z);
    int32_t vend = v;
    int64_t declared = -1;
    if (v < z && is_digit(t[v])) {
        int64_t n1 = 0;
        int32_t p = v;
        while (p < z && is_digit(t[p])) {
            if (n1 <= INT32_MAX) n1 = n1 * 10 + (t[p] - '0');
            ++p;
        }
        int32_t q = skip_ws(t, p, z);
        int32_t r = q;
        if (q < z && is_digit(t[q])) {
            while (r < z && is_digit(t[r])) ++r;
            r = skip_ws(t, r, z);
        }
        if (r < z && t[r] == 'R' && (r + 1 == z || !is_regular(t[r + 1])) && n1 <= INT32_MAX) {
            declared = int_object_value(d, static_cast<int32_t>(n1));
            vend = r + 1;
        } else if (p == z || !is_regular(t[p])) {
            declared = n1;
            vend = p;
        }
    }
    if (vend == v) {
        // Not a number or a reference: replace a plain token (null, 5.0 ...);
        // leave anything else (an array, a dictionary) as it is.
        while (vend < z && is_regular(t[vend])) ++vend;
    }
    if (declared == actual || vend == v) {
        rewrite_into(out, t + a, static_cast<size_t>(z - a), cl);
        return out;
    }
    rewrite_into(out, t + a, static_cast<size_t>(v - a), cl);
    append_int(out, static_cast<long>(actual));
    rewrite_into(out, t + vend, static_cast<size_t>(z - vend), cl);
    return out;
}

// Takes the document-level objects after the resources: each page's
// annotations in page order, what the catalog's kept entries refer to and
// the information dictionary, then everything those reach. An object with a
// role is scanned as its role rewrites it (the text is kept for the writer)
// and hands roles on to the objects it refers to that are not taken yet.
void take_carried(const doc *d, copy_list *cl, collector &c) {
    carry_plan &plan = *cl->carry;
    std::vector<std::pair<int32_t, carry_role>> hints;
    carry_ctx ctx{d, cl, &plan, &hints};
    const size_t from = cl->old_nums.size();
    carry_prepare(ctx);
    plan.texts.reserve(plan.roles.size());
    auto settle = [&] {
        for (const auto &[num, r] : hints) {
            if (ref_state(*cl, num) != 0) continue;
            carry_role &have = plan.roles[num];
            if (have.kinds == 0) have = r;
        }
        hints.clear();
    };
    settle();
    for (int32_t a : plan.annots) {
        if (a > 0) {
            c.add(a);
        } else {
            const std::string &t = plan.inline_annots[static_cast<size_t>(-a - 1)];
            c.scan(reinterpret_cast<const uint8_t *>(t.data()), t.size());
        }
    }
    const std::string &cat = plan.catalog_entries;
    c.scan(reinterpret_cast<const uint8_t *>(cat.data()), cat.size());
    if (d->info > 0 && doc_lookup(d, d->info)) {
        plan.info = d->info;
        c.add(d->info);
    }
    std::string text;
    for (size_t j = from; j < cl->old_nums.size(); ++j) {
        const objent *e = doc_lookup(d, cl->old_nums[j]);
        if (!e) continue;
        if (carried_text(ctx, e, &text)) {
            settle();
            c.scan(reinterpret_cast<const uint8_t *>(text.data()), text.size());
            plan.texts[e->num] = std::move(text);
            continue;
        }
        obj_text ot = object_text(d, e);
        if (ot.base) c.scan(ot.base + ot.start, ot.end - ot.start);
    }
}

}  // namespace

int32_t copy_list::new_number(int32_t old_num) const {
    int32_t v = ref_state(*this, old_num);
    return v > 0 ? v : 0;
}

// Builds the closure of the objects reachable from every page's resources
// text: first the references of the resources texts, pages in order, then
// breadth-first through the copied objects, each text left to right. Pages,
// page-tree nodes and the catalog are never taken. Throws std::bad_alloc.
void build_copy_list(const doc *d, int32_t first_new, copy_list *cl, const page_keys *keys) {
    cl->old_nums.clear();
    cl->far_new.clear();
    cl->first_new = first_new;
    const size_t slots = d->max_num >= 0 ? static_cast<size_t>(d->max_num) + 1 : 1;
    cl->new_of.assign(slots, 0);

    collector c{d, cl, std::vector<uint8_t>(slots, 0)};
    auto mark = [&](int32_t num) {
        if (num >= 0 && static_cast<size_t>(num) < slots) c.tree_marks[num] = 1;
    };
    for (int32_t k = 0; k < d->pages.count; ++k) {
        const pageinfo &p = d->pages.items[k];
        mark(p.objnum);
        mark(p.parent);
        mark(p.res_node);
        // Pages are referred to, never copied: page k (from 1) is the new page 3k.
        if (p.objnum >= 0 && static_cast<size_t>(p.objnum) < slots && cl->new_of[p.objnum] == 0)
            cl->new_of[p.objnum] = 3 * (k + 1);
    }

    // A dictionary shared by several pages is scanned once: scanning it again
    // would find only numbers already taken.
    // Neighbouring pages most often share theirs: the last one scanned is
    // recognised without a lookup.
    std::set<std::pair<const uint8_t *, const uint8_t *>> scanned;
    std::pair<const uint8_t *, const uint8_t *> last{nullptr, nullptr};
    cl->page_res.assign(static_cast<size_t>(d->pages.count > 0 ? d->pages.count : 0), resources_at{nullptr, 0, -1});
    for (int32_t k = 0; k < d->pages.count; ++k) {
        const pageinfo *p = &d->pages.items[k];
        const objent *e = doc_lookup(d, p->objnum);
        if (!e) continue;
        const resources_at at = locate_page_resources(d, e, p, keys[k].resources);
        cl->page_res[static_cast<size_t>(k)] = at;
        if (!at.t) continue;
        const std::pair<const uint8_t *, const uint8_t *> where{at.t + at.pos, at.t + at.len};
        if (where == last) continue;
        last = where;
        if (!scanned.insert(where).second) continue;
        char *res = page_resources_dict(at);
        if (!res) continue;
        c.scan(reinterpret_cast<const uint8_t *>(res), std::strlen(res));
        std::free(res);
    }

    for (size_t j = 0; j < cl->old_nums.size(); ++j) {
        const objent *e = doc_lookup(d, cl->old_nums[j]);
        if (!e) continue;
        obj_text ot = object_text(d, e);
        if (ot.base) c.scan(ot.base + ot.start, ot.end - ot.start);
    }
    if (cl->carry) take_carried(d, cl, c);
}

std::string rewrite_refs(const uint8_t *t, size_t n, const doc *d, const copy_list &cl) {
    (void)d;
    std::string out;
    out.reserve(n + n / 8 + 16);
    rewrite_into(out, t, n, cl);
    return out;
}

void copy_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b) {
    if (cl.carry && copy_carried_object(d, e, newnum, cl, b)) return;
    std::string head;
    append_int(head, newnum);
    head += " 0 obj\n";
    if (!put(b, head)) return;

    if (e->in_objstm) {
        obj_text ot = object_text(d, e);
        std::string body = ot.base ? rewrite_refs(ot.base + ot.start, ot.end - ot.start, d, cl) : "";
        if (body.find_first_not_of(" \t\r\n\f", 0) == std::string::npos) body = "null";
        if (!put(b, body)) return;
        put(b, "\nendobj\n", 8);
        return;
    }

    if (e->has_stream) {
        const bool have_data = e->data_pos >= 0 && e->data_end >= e->data_pos && e->data_end <= d->len;
        const int32_t dlen = have_data ? e->data_end - e->data_pos : 0;
        std::string dict;
        if (e->dict_pos >= 0 && e->stream_pos > e->dict_pos && e->stream_pos <= d->len && have_data) {
            dict = stream_dict_text(d, e, cl);
        } else {
            dict = "<< /Length ";
            append_int(dict, dlen);
            dict += " >>\n";
        }
        if (!put(b, dict)) return;
        if (!put(b, "stream\n", 7)) return;
        if (dlen > 0 && !put(b, d->data + e->data_pos, static_cast<uint64_t>(dlen))) return;
        put(b, "\nendstream\nendobj\n", 18);
        return;
    }

    obj_text ot = object_text(d, e);
    std::string body = ot.base ? rewrite_refs(ot.base + ot.start, ot.end - ot.start, d, cl) : "";
    if (body.find_first_not_of(" \t\r\n\f", 0) == std::string::npos) body = "null\n";
    if (!put(b, body)) return;
    const char last = body.back();
    if (!is_ws(static_cast<uint8_t>(last)) && !put(b, "\n", 1)) return;
    put(b, "endobj\n", 7);
}

}  // namespace plenvo
