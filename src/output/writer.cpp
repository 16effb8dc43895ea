// The output builder: lays out the new document (catalog 1, page tree 2,
// then page 3k, form 3k + 1 and content 3k + 2 for page k, then the copied
// objects) with a classic cross-reference table, and streams the text into
// the safe file write through a buffer of 256 KiB.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/error.h"
#include "output/atomic_write.h"
#include "output/carried.h"
#include "output/copy_list.h"
#include "output/out_text.h"
#include "output/page_content.h"
#include "output/page_keys.h"
#include "output/page_memos.h"
#include "output/scale.h"
#include "output/shared_forms.h"

namespace plenvo {

namespace {

// Offsets are written as 32-bit numbers: the whole output must stay below 2 GiB.
constexpr uint64_t OUTPUT_LIMIT = 2147483648ull;

const char *const MSG_GENERIC = "failed to build output (damaged page tree or content)";

// Sets the message of an output that would reach OUTPUT_LIMIT. Returns 0,
// the build's failure.
int fail_too_large() {
    set_error("output too large (2 GiB or more)");
    return 0;
}

// The start checks, in this order: the page list is not empty; the target
// suits the mode (fit: W and H finite and greater than 0; percent: f finite
// and greater than 0). Returns 1, or 0 with the message set.
int check_request(const doc *d, int mode, double W, double H, double f) {
    if (d->pages.count <= 0) {
        set_error("input has no pages");
        return 0;
    }
    if (mode == MODE_FIT ? !(W > 0 && H > 0 && std::isfinite(W) && std::isfinite(H))
                         : !(f > 0 && std::isfinite(f))) {
        set_error("invalid target dimensions");
        return 0;
    }
    return 1;
}

// Appends the file's first two lines, the catalog (object 1, with the
// carried entries) and the page-tree node (object 2) whose /Kids are the page
// objects 3k of the n pages; records the offsets of objects 1 and 2.
void put_head(out_text &o, int32_t n, const std::string &catalog_entries, std::vector<int64_t> &offsets) {
    o.put("%PDF-1.4\n");
    static const uint8_t binary_line[] = {0x25, 0xE2, 0xE3, 0xCF, 0xD3, '\n'};
    o.put(binary_line, sizeof binary_line);
    offsets[1] = static_cast<int64_t>(o.len());
    o.put("1 0 obj\n<< /Type /Catalog /Pages 2 0 R");
    o.put(catalog_entries);
    o.put(" >>\nendobj\n");
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
}

// Appends page object pnum (3k for page k): the new /MediaBox from geo, the
// content stream pnum + 2, the form `form` (its own pnum + 1, or the one of
// an earlier page that would get the same form) as its one resource, and the
// page's carried /Annots entry (annots, "" for none); records its offset.
void put_page_object(out_text &o, long pnum, long form, const geometry_memo &geo, const std::string &annots,
                     std::vector<int64_t> &offsets) {
    offsets[pnum] = static_cast<int64_t>(o.len());
    short_text page_obj;
    page_obj.num(pnum).lit(" 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ").raw(geo.media, geo.media_len);
    page_obj.lit("] /Contents ").num(pnum + 2).lit(" 0 R /Resources << /XObject << /F0 ");
    page_obj.num(form).lit(" 0 R >> >>");
    o.put(page_obj.data(), page_obj.size());
    o.put(annots);
    o.put(" >>\nendobj\n");
}

// Appends the form object pnum + 1, which holds the page's content (clen
// bytes at data) under the dictionary fixed by geo, with /Resources res when
// present; records its offset. Returns 1, or 0 with the message set and
// nothing appended when the form and the page's drawing (put_drawing) would
// take the output to OUTPUT_LIMIT.
int put_form(out_text &o, long pnum, const geometry_memo &geo, const uint8_t *data, int32_t clen,
             const rewritten_resources &res, std::vector<int64_t> &offsets) {
    // The form dictionary: the fixed part, /Length, /Resources, then the keyword.
    short_text length_text;
    length_text.lit(FORM_LENGTH_KEY).num(clen);
    const uint64_t header_size = geo.head_len + length_text.size() +
                                 (res.present ? sizeof FORM_RESOURCES_KEY - 1 + res.text.size() : 0) +
                                 sizeof FORM_DICT_END - 1;
    // Refused before the text is appended, so the buffer never grows past the limit.
    if (o.len() + header_size + static_cast<uint64_t>(clen) + geo.line_len + 256 >= OUTPUT_LIMIT)
        return fail_too_large();

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
    if (clen > 0) o.put(data, static_cast<uint64_t>(clen));
    static const char form_end[] = "\nendstream\nendobj\n";
    o.put(form_end, sizeof form_end - 1);
    return 1;
}

// Appends the content stream pnum + 2, which draws the page's form with the
// placement line of geo; records its offset. The caller has checked that it
// keeps the output below OUTPUT_LIMIT.
void put_drawing(out_text &o, long pnum, const geometry_memo &geo, std::vector<int64_t> &offsets) {
    const uint64_t line_len = geo.line_len;
    offsets[pnum + 2] = static_cast<int64_t>(o.len());
    short_text draw_obj;
    draw_obj.num(pnum + 2).lit(" 0 obj\n<< /Length ").num(static_cast<long>(line_len)).lit(" >>\nstream\n");
    o.put(draw_obj.data(), draw_obj.size());
    o.put(geo.line, line_len);
    static const char draw_end[] = "endstream\nendobj\n";
    o.put(draw_end, sizeof draw_end - 1);
}

// Appends every page's page object, form object (for a page that draws its
// own, forms.owner) and content stream, in page order: each page placed by
// mode, W, H and f, its content gathered from its keys (forms.drawn) through
// cache (into one buffer released on every path), its resources rewritten by
// cl. Returns 1, also when the output text failed (it stops then; the caller
// reports that), or 0 with the message set: a page that is missing or cannot
// be placed, or an output that would reach OUTPUT_LIMIT. Throws
// std::bad_alloc.
int write_pages(out_text &o, const doc *d, int mode, double W, double H, double f, const form_sharing &forms,
                content_cache &cache, const copy_list &cl, std::vector<int64_t> &offsets) {
    page_content content{};
    const std::unique_ptr<buf, void (*)(buf *)> release_content(&content.owned, buf_free);
    geometry_memo geo;
    resources_memo resources;
    for (int32_t k = 1; k <= d->pages.count; ++k) {
        const pageinfo *p = &d->pages.items[k - 1];
        const objent *e = doc_lookup(d, p->objnum);
        if (!e || !geo.place(d, p, mode, W, H, f)) {
            set_error("%s", MSG_GENERIC);
            return 0;
        }
        const long pnum = 3L * k;
        const int32_t owner = forms.owner[static_cast<size_t>(k - 1)];
        put_page_object(o, pnum, 3L * owner + 4, geo, carried_annots(d, cl, k - 1), offsets);

        if (owner == k - 1) {
            gather_content_reusing(d, e, forms.drawn[static_cast<size_t>(k - 1)].contents, &cache, &content);
            if (content.too_long) return fail_too_large();
            const rewritten_resources &res = resources.of(d, k - 1, cl);
            if (!put_form(o, pnum, geo, content.data, content.len, res, offsets)) return 0;
        } else if (o.len() + geo.line_len + 256 >= OUTPUT_LIMIT) {
            return fail_too_large();
        }
        put_drawing(o, pnum, geo, offsets);
        o.flush_if_full();

        if (o.failed) break;
        if (o.len() >= OUTPUT_LIMIT) return fail_too_large();
    }
    return 1;
}

// Appends the copied objects under their new numbers (cl.first_new + j) and
// records their offsets; one that is not in the table is left out and keeps
// offset -1. Returns 1, also when the output text failed (it stops then), or
// 0 with the message set when the output would reach OUTPUT_LIMIT.
int put_copied_objects(out_text &o, const doc *d, const copy_list &cl, std::vector<int64_t> &offsets) {
    for (size_t j = 0; j < cl.old_nums.size() && !o.failed; ++j) {
        const objent *e = doc_lookup(d, cl.old_nums[j]);
        if (!e) continue;
        const int64_t num = static_cast<int64_t>(cl.first_new) + static_cast<int64_t>(j);
        const uint64_t stored = e->in_objstm ? static_cast<uint64_t>(e->text_len)
                                             : static_cast<uint64_t>(e->end_pos > e->hdr_pos ? e->end_pos - e->hdr_pos : 0);
        if (o.len() + stored >= OUTPUT_LIMIT) return fail_too_large();
        offsets[static_cast<size_t>(num)] = static_cast<int64_t>(o.len());
        copy_object(d, e, static_cast<int32_t>(num), cl, &o.b);
        if (!o.b.data) o.failed = true;
        o.flush_if_full();
        if (o.len() >= OUTPUT_LIMIT) return fail_too_large();
    }
    return 1;
}

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

// Appends the cross-reference table, one entry per object number from 0 to
// offsets.size() - 1, and the trailer that points at it, with the carried
// /Info entry (info, "" for none).
void put_xref_and_trailer(out_text &o, const std::vector<int64_t> &offsets, const std::string &info) {
    const uint64_t xref_at = o.len();
    const long size = static_cast<long>(offsets.size());
    o.put("xref\n0 ");
    o.put_int(size);
    o.put("\n0000000000 65535 f \n");
    put_xref_entries(o, offsets);
    o.put("trailer\n<< /Size ");
    o.put_int(size);
    o.put(" /Root 1 0 R");
    o.put(info);
    o.put(" >>\nstartxref ");
    o.put_int(static_cast<long>(xref_at));
    o.put("\n%%EOF\n");
}

// Ends the build: a failed output text gives "failed to build output", an
// output that reached OUTPUT_LIMIT its own message; otherwise the rest of the
// text goes to the file, which is committed. Returns 1 with the error text
// emptied, or 0 with the message set.
int finish(out_text &o) {
    if (o.failed) {
        set_error("failed to build output");
        return 0;
    }
    if (o.len() >= OUTPUT_LIMIT) return fail_too_large();
    o.flush();
    if (!out_file_commit(o.file)) return 0;
    clear_error();
    return 1;
}

// scale_doc's work, in the order of the file. Returns 1, or 0 with the
// message set. Throws std::bad_alloc.
int build_and_write(const doc *d, const char *out_path, int mode, double W, double H, double f) {
    if (!check_request(d, mode, W, H, f)) return 0;
    const int32_t n = d->pages.count;
    const int64_t first_new = 3 * static_cast<int64_t>(n) + 3;
    if (first_new > INT32_MAX) return fail_too_large();
    // Each page's /Contents and /Resources keys, found once for the copy
    // list, the content counting and the pages.
    const std::vector<page_keys> keys = page_keys_of(d);
    // The copy list carries the document-level objects too, placed as the
    // pages they belong to.
    carry_plan carried;
    carried.mode = mode;
    carried.W = W;
    carried.H = H;
    carried.f = f;
    copy_list cl;
    cl.carry = &carried;
    build_copy_list(d, static_cast<int32_t>(first_new), &cl, keys.data());
    // Pages that would get the same form draw the first one's. Streams that
    // several pages draw are counted once, so that each is decoded once while
    // the pages are written.
    const form_sharing forms = find_shared_forms(d, keys, cl);
    content_cache cache;
    content_cache_count(d, forms.drawn.data(), &cache);
    const int64_t size = first_new + static_cast<int64_t>(cl.old_nums.size());
    if (size > INT32_MAX) return fail_too_large();
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
    put_head(o, n, carried_catalog(d, cl), offsets);
    if (!write_pages(o, d, mode, W, H, f, forms, cache, cl, offsets)) return 0;
    if (!put_copied_objects(o, d, cl, offsets)) return 0;
    put_xref_and_trailer(o, offsets, carried_info(cl));
    return finish(o);
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
