// The output builder: lays out the new document (catalog 1, page tree 2,
// then page 3k, form 3k + 1 and content 3k + 2 for page k, then the copied
// objects) with a classic cross-reference table, and streams the text into
// the safe file write through a buffer of 256 KiB.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/number_text.h"
#include "output/scale.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Offsets are written as 32-bit numbers: the whole output must stay below 2 GiB.
constexpr uint64_t OUTPUT_LIMIT = 2147483648ull;

const char *const MSG_GENERIC = "failed to build output (damaged page tree or content)";

// The output text: a buffer passed on to the output file whenever it would
// grow past FLUSH_AT, so memory stays bounded however large the output. A
// piece of FLUSH_AT or more goes to the file directly. After a failed growth
// it stays failed: later appends are dropped instead of starting a fresh buffer.
struct out_text {
    static constexpr uint64_t FLUSH_AT = uint64_t(256) << 10;
    buf b{};
    bool failed = false;
    uint64_t written = 0;  // bytes already handed to the file
    out_file *file;

    explicit out_text(out_file *f) : file(f) {}
    ~out_text() { buf_free(&b); }

    void flush() {
        if (failed || b.len == 0) return;
        out_file_write(file, b.data, b.len);
        written += b.len;
        b.len = 0;
        b.data[0] = 0;
    }
    // Flushes once the buffer holds FLUSH_AT bytes; for texts appended to b directly.
    void flush_if_full() {
        if (!failed && b.data && b.len >= FLUSH_AT) flush();
    }
    void put(const void *p, uint64_t n) {
        // The common case: room in the buffer below the flush mark.
        if (b.data && !failed && n < b.cap - b.len && b.len + n <= FLUSH_AT) {
            std::memmove(b.data + b.len, p, static_cast<size_t>(n));
            b.len += n;
            b.data[b.len] = 0;
            return;
        }
        if (failed) return;
        if (b.len + n > FLUSH_AT && b.len > 0) flush();
        if (n >= FLUSH_AT) {
            out_file_write(file, static_cast<const uint8_t *>(p), n);
            written += n;
            return;
        }
        buf_append(&b, p, n);
        if (!b.data) failed = true;
    }
    void put(const char *s) { put(s, std::strlen(s)); }
    void put(const std::string &s) { put(s.data(), s.size()); }
    void put_int(long v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        put(tmp, static_cast<uint64_t>(r.ptr - tmp));
    }
    void put_num(double x) {
        char tmp[NUMTEXT_SIZE];
        int n = number_text(x, tmp);
        put(tmp, static_cast<uint64_t>(n));
    }
    uint64_t len() const { return failed ? 0 : written + b.len; }
};

// Writes the decimal digits of v at p; returns the end. Two digits at a time
// from a table: object numbers, lengths and offsets are most of the numbers
// an output holds.
char *write_decimal(char *p, uint64_t v) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char tmp[20];
    char *q = tmp + sizeof tmp;
    while (v >= 100) {
        const unsigned r = static_cast<unsigned>(v % 100);
        v /= 100;
        q -= 2;
        q[0] = pairs[2 * r];
        q[1] = pairs[2 * r + 1];
    }
    if (v >= 10) {
        q -= 2;
        q[0] = pairs[2 * v];
        q[1] = pairs[2 * v + 1];
    } else {
        *--q = static_cast<char>('0' + v);
    }
    const size_t n = static_cast<size_t>(tmp + sizeof tmp - q);
    std::memcpy(p, q, n);
    return p + n;
}

// A short text composed in place before one append: the fixed parts of a
// page's three objects. Room for a few numbers and the literal pieces.
struct short_text {
    char b[6 * NUMTEXT_SIZE + 192];
    char *p = b;

    template <size_t N>
    short_text &lit(const char (&s)[N]) {
        std::memcpy(p, s, N - 1);
        p += N - 1;
        return *this;
    }
    short_text &num(long v) {
        if (v < 0) {
            *p++ = '-';
            p = write_decimal(p, 0 - static_cast<uint64_t>(v));
        } else {
            p = write_decimal(p, static_cast<uint64_t>(v));
        }
        return *this;
    }
    short_text &raw(const char *s, size_t n) {
        std::memcpy(p, s, n);
        p += n;
        return *this;
    }
    short_text &real(double x) {
        p += number_text(x, p);
        return *this;
    }
    const char *data() const { return b; }
    uint64_t size() const { return static_cast<uint64_t>(p - b); }
};

// The texts fixed by a page's box and rotation, kept from the last page
// placed: pages of one size (the usual case) reuse them instead of placing
// and formatting again. Placement depends on nothing else of the page.
struct geometry_memo {
    bool valid = false;
    double box[4] = {};
    int r = 0;
    placement pl{};
    char media[2 * NUMTEXT_SIZE + 2];  // "W H" of the new /MediaBox
    size_t media_len = 0;
    char line[PLACE_LINE_SIZE];  // the drawing line
    size_t line_len = 0;
    char head[FORM_HEAD_SIZE];  // the form dictionary's fixed part
    size_t head_len = 0;

    // Brings the memo to page p; false when the page cannot be placed.
    bool place(const doc *d, const pageinfo *p, int mode, double W, double H, double f) {
        const double key[4] = {p->llx, p->lly, p->urx, p->ury};
        const int rot = effective_rotation(d, p);
        // Compared bit for bit: -0.0 and 0.0 are kept apart.
        if (valid && rot == r && std::memcmp(key, box, sizeof box) == 0) return true;
        valid = false;
        if (compute_placement(d, p, mode, W, H, f, &pl) != 0) return false;
        std::memcpy(box, key, sizeof box);
        r = rot;
        size_t n = static_cast<size_t>(number_text(pl.pw, media));
        media[n++] = ' ';
        n += static_cast<size_t>(number_text(pl.ph, media + n));
        media_len = n;
        line_len = place_line(pl.s, pl.tx, pl.ty, line);
        head_len = form_head(p, pl, head);
        valid = true;
        return true;
    }
};

// Appends the 20-byte cross-reference entries of objects 1 to
// offsets.size() - 1: "nnnnnnnnnn 00000 n \n" for an offset of 0 or more,
// "0000000000 65535 f \n" for -1. Offsets stay below 10^10. The digits are
// made two at a time and the entries appended a block at a time: a large
// output has hundreds of thousands of them.
void put_xref_entries(out_text &o, const std::vector<int64_t> &offsets) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    // Five digits of x < 100000 at e.
    auto five = [](char *e, unsigned x) {
        const unsigned r = x % 10000;
        e[0] = static_cast<char>('0' + x / 10000);
        std::memcpy(e + 1, pairs + 2 * (r / 100), 2);
        std::memcpy(e + 3, pairs + 2 * (r % 100), 2);
    };
    constexpr size_t BLOCK = 2048;
    char block[BLOCK * 20];
    size_t used = 0;
    for (size_t k = 1; k < offsets.size(); ++k) {
        char *e = block + used * 20;
        const int64_t off = offsets[k];
        if (off >= 0) {
            const uint64_t v = static_cast<uint64_t>(off);
            five(e, static_cast<unsigned>(v / 100000 % 100000));
            five(e + 5, static_cast<unsigned>(v % 100000));
            std::memcpy(e + 10, " 00000 n \n", 10);
        } else {
            std::memcpy(e, "0000000000 65535 f \n", 20);
        }
        if (++used == BLOCK) {
            o.put(block, sizeof block);
            used = 0;
        }
    }
    o.put(block, used * 20);
}

// A page's rewritten resources text, or none.
struct rewritten_resources {
    bool present = false;
    std::string text;
};

// Rewritten resources texts by the location of their dictionary: pages that
// share one dictionary (a referenced resources object, or one inherited from
// the page tree) get the same text, made once. Texts are kept while they
// total at most 16 MiB.
struct resources_memo {
    static constexpr uint64_t LIMIT = uint64_t(16) << 20;
    struct key_hash {
        size_t operator()(const std::pair<const uint8_t *, const uint8_t *> &k) const {
            return std::hash<const uint8_t *>()(k.first) * 31 + std::hash<const uint8_t *>()(k.second);
        }
    };
    std::unordered_map<std::pair<const uint8_t *, const uint8_t *>, rewritten_resources, key_hash> kept;
    uint64_t bytes = 0;
    rewritten_resources fresh;

    // Page k's text; its location was found by build_copy_list.
    const rewritten_resources &of(const doc *d, int32_t k, const copy_list &cl) {
        const resources_at at = cl.page_res[static_cast<size_t>(k)];
        fresh = rewritten_resources{};
        if (!at.t) return fresh;
        const std::pair<const uint8_t *, const uint8_t *> key{at.t + at.pos, at.t + at.len};
        auto it = kept.find(key);
        if (it != kept.end()) return it->second;
        if (char *res = dict_text_at(at.t, at.len, at.pos)) {
            try {
                fresh.text = rewrite_refs(reinterpret_cast<const uint8_t *>(res), std::strlen(res), d, cl);
            } catch (...) {
                std::free(res);
                throw;
            }
            std::free(res);
            fresh.present = true;
        }
        if (bytes + fresh.text.size() > LIMIT) return fresh;
        bytes += fresh.text.size();
        return kept.emplace(key, std::move(fresh)).first->second;
    }
};

int build_and_write(const doc *d, const char *out_path, int mode, double W, double H, double f) {
    const int32_t n = d->pages.count;
    if (n <= 0) {
        set_error("input has no pages");
        return 0;
    }
    if (mode == MODE_FIT ? !(W > 0 && H > 0 && std::isfinite(W) && std::isfinite(H))
                         : !(f > 0 && std::isfinite(f))) {
        set_error("invalid target dimensions");
        return 0;
    }

    const int64_t first_new = 3 * static_cast<int64_t>(n) + 3;
    if (first_new > INT32_MAX) {
        set_error("output too large (2 GiB or more)");
        return 0;
    }
    // Each page's /Contents and /Resources keys, found once for the copy
    // list, the content counting and the pages.
    std::vector<page_keys> keys(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
        const pageinfo &p = d->pages.items[k];
        keys[k] = p.dict_read ? page_keys{p.contents_key, p.resources_key} : find_page_keys(d, doc_lookup(d, p.objnum));
    }
    // The contents are gathered page by page as the pages are written, into
    // one buffer released on every path.
    content_cache cache;
    content_cache_count(d, keys.data(), &cache);
    page_content content{};
    const std::unique_ptr<buf, void (*)(buf *)> release_content(&content.owned, buf_free);
    copy_list cl;
    build_copy_list(d, static_cast<int32_t>(first_new), &cl, keys.data());
    const int64_t size = first_new + static_cast<int64_t>(cl.old_nums.size());
    if (size > INT32_MAX) {
        set_error("output too large (2 GiB or more)");
        return 0;
    }
    std::vector<int64_t> offsets(static_cast<size_t>(size), -1);

    // The temporary file is made before the build; a failure to make or
    // write it is reported after the build, which then runs to its end
    // without writing, so that its own failures keep precedence.
    out_file file;
    out_file_open(&file, out_path);
    out_text o(&file);
    buf_reserve(&o.b, 0);
    if (!o.b.data) {
        set_error("out of memory");
        return 0;
    }
    auto too_large = [&] { return o.len() >= OUTPUT_LIMIT; };

    // Head, catalog and page-tree node.
    o.put("%PDF-1.4\n");
    static const uint8_t binary_line[] = {0x25, 0xE2, 0xE3, 0xCF, 0xD3, '\n'};
    o.put(binary_line, sizeof binary_line);
    offsets[1] = static_cast<int64_t>(o.len());
    o.put("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    offsets[2] = static_cast<int64_t>(o.len());
    o.put("2 0 obj\n<< /Type /Pages /Kids [");
    for (int32_t k = 1; k <= n; ++k) {
        short_text kid;
        if (k > 1) kid.lit(" ");
        kid.num(3L * k).lit(" 0 R");
        o.put(kid.data(), kid.size());
    }
    o.put("] /Count ");
    o.put_int(n);
    o.put(" >>\nendobj\n");

    // Pages: page object, form object, content stream.
    geometry_memo geo;
    resources_memo resources;
    for (int32_t k = 1; k <= n; ++k) {
        const pageinfo *p = &d->pages.items[k - 1];
        const objent *e = doc_lookup(d, p->objnum);
        if (!e || !geo.place(d, p, mode, W, H, f)) {
            set_error("%s", MSG_GENERIC);
            return 0;
        }
        const long pnum = 3L * k;
        const uint64_t line_len = geo.line_len;

        offsets[pnum] = static_cast<int64_t>(o.len());
        short_text page_obj;
        page_obj.num(pnum).lit(" 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ").raw(geo.media, geo.media_len);
        page_obj.lit("] /Contents ").num(pnum + 2).lit(" 0 R /Resources << /XObject << /F0 ");
        page_obj.num(pnum + 1).lit(" 0 R >> >> >>\nendobj\n");
        o.put(page_obj.data(), page_obj.size());

        gather_content_reusing(d, e, keys[k - 1].contents, &cache, &content);
        if (content.too_long) {
            set_error("output too large (2 GiB or more)");
            return 0;
        }
        const int32_t clen = content.data && content.len > 0 ? content.len : 0;
        const rewritten_resources &res = resources.of(d, k - 1, cl);
        // The form dictionary: the fixed part, /Length, /Resources, then the keyword.
        short_text length_text;
        length_text.lit(FORM_LENGTH_KEY).num(clen);
        const uint64_t header_size = geo.head_len + length_text.size() +
                                     (res.present ? sizeof FORM_RESOURCES_KEY - 1 + res.text.size() : 0) +
                                     sizeof FORM_DICT_END - 1;
        // Refused before the text is appended, so the buffer never grows past the limit.
        if (o.len() + header_size + static_cast<uint64_t>(clen) + line_len + 256 >= OUTPUT_LIMIT) {
            set_error("output too large (2 GiB or more)");
            return 0;
        }

        offsets[pnum + 1] = static_cast<int64_t>(o.len());
        short_text form_obj;
        form_obj.num(pnum + 1).lit(" 0 obj\n");
        o.put(form_obj.data(), form_obj.size());
        o.put(geo.head, geo.head_len);
        o.put(length_text.data(), length_text.size());
        if (res.present) {
            o.put(FORM_RESOURCES_KEY, sizeof FORM_RESOURCES_KEY - 1);
            o.put(res.text);
        }
        o.put(FORM_DICT_END, sizeof FORM_DICT_END - 1);
        if (clen > 0) o.put(content.data, static_cast<uint64_t>(clen));
        static const char form_end[] = "\nendstream\nendobj\n";
        o.put(form_end, sizeof form_end - 1);

        offsets[pnum + 2] = static_cast<int64_t>(o.len());
        short_text draw_obj;
        draw_obj.num(pnum + 2).lit(" 0 obj\n<< /Length ").num(static_cast<long>(line_len)).lit(" >>\nstream\n");
        o.put(draw_obj.data(), draw_obj.size());
        o.put(geo.line, line_len);
        static const char draw_end[] = "endstream\nendobj\n";
        o.put(draw_end, sizeof draw_end - 1);
        o.flush_if_full();

        if (o.failed) break;
        if (too_large()) {
            set_error("output too large (2 GiB or more)");
            return 0;
        }
    }

    // Copied objects; one that is not in the table keeps a free entry.
    for (size_t j = 0; j < cl.old_nums.size() && !o.failed; ++j) {
        const objent *e = doc_lookup(d, cl.old_nums[j]);
        if (!e) continue;
        const int64_t num = first_new + static_cast<int64_t>(j);
        const uint64_t stored = e->in_objstm ? static_cast<uint64_t>(e->text_len)
                                             : static_cast<uint64_t>(e->end_pos > e->hdr_pos ? e->end_pos - e->hdr_pos : 0);
        if (o.len() + stored >= OUTPUT_LIMIT) {
            set_error("output too large (2 GiB or more)");
            return 0;
        }
        offsets[static_cast<size_t>(num)] = static_cast<int64_t>(o.len());
        copy_object(d, e, static_cast<int32_t>(num), cl, &o.b);
        if (!o.b.data) o.failed = true;
        o.flush_if_full();
        if (too_large()) {
            set_error("output too large (2 GiB or more)");
            return 0;
        }
    }

    // Cross-reference table and trailer.
    const uint64_t xref_at = o.len();
    o.put("xref\n0 ");
    o.put_int(static_cast<long>(size));
    o.put("\n0000000000 65535 f \n");
    put_xref_entries(o, offsets);
    o.put("trailer\n<< /Size ");
    o.put_int(static_cast<long>(size));
    o.put(" /Root 1 0 R >>\nstartxref ");
    o.put_int(static_cast<long>(xref_at));
    o.put("\n%%EOF\n");

    if (o.failed) {
        set_error("failed to build output");
        return 0;
    }
    if (too_large()) {
        set_error("output too large (2 GiB or more)");
        return 0;
    }
    o.flush();
    if (!out_file_commit(&file)) return 0;
    clear_error();
    return 1;
}

}  // namespace

int scale_doc(const doc *d, const char *out_path, int mode, double W, double H, double f) {
    if (!d || !out_path) {
        set_error("NULL path argument");
        return 0;
    }
    try {
        return build_and_write(d, out_path, mode, W, H, f);
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
        return 0;
    }
}

}  // namespace plenvo
