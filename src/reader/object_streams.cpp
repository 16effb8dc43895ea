// Object streams: each stream whose dictionary names /ObjStm is decoded into
// a block of the document's arena, and every object listed in its header is
// appended to the table as a member whose text points into that block.
#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "inflate/inflate.h"
#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {
namespace {

// Decoded data of one object stream: a block owned by the arena.
struct decoded {
    const uint8_t *data = nullptr;
    int32_t len = 0;
    bool ok = false;
};

// What the dictionary of one object stream says: /FlateDecode, /N, /First.
struct objstm_dict {
    bool flate = false;
    int32_t n = -1;
    int32_t first = -1;
};

// Decodes the data of object stream e. Data without /FlateDecode is copied
// as it is. Flate data gets a buffer of 8 x compressed + 64 bytes; only when
// decoding stops for lack of room is it tried again with four times the
// buffer, up to the retry limit. A failed attempt's buffer is released before
// the next one, so damaged data costs one attempt and keeps no memory.
decoded decode_objstm(doc *d, const objent &e, bool flate) {
    decoded out;
    const int64_t clen = static_cast<int64_t>(e.data_end) - e.data_pos;
    if (clen < 0 || clen > OBJSTM_MAX_COMPRESSED) return out;
    const uint8_t *src = d->data + e.data_pos;
    if (!flate) {
        // One byte at least: the arena hands out no empty blocks.
        void *buf = arena_alloc(&d->arena, clen > 0 ? static_cast<uint64_t>(clen) : 1);
        if (!buf) return out;
        if (clen > 0) std::memcpy(buf, src, static_cast<size_t>(clen));
        out.data = static_cast<const uint8_t *>(buf);
        out.len = static_cast<int32_t>(clen);
        out.ok = true;
        return out;
    }
    uint64_t size = 8 * static_cast<uint64_t>(clen) + 64;
    // The decoder refuses buffers above 2^30 bytes, and such a buffer is past
    // the retry limit: no need to allocate it to learn that.
    if (size > INFLATE_MAX_CAP) return out;
    for (;;) {
        uint8_t *buf = static_cast<uint8_t *>(arena_alloc(&d->arena, size));
        if (!buf) return out;
        size_t produced = 0;
        inflate_why why = INFLATE_DONE;
        if (inflate_decompress_ex(src, static_cast<size_t>(clen), buf, static_cast<size_t>(size), &produced, &why) ==
            0) {
            out.data = buf;
            out.len = static_cast<int32_t>(produced);
            out.ok = true;
            return out;
        }
        arena_release_last(&d->arena, buf);
        if (why != INFLATE_NO_ROOM || size > OBJSTM_RETRY_LIMIT) return out;
        size *= 4;
    }
}

// The integer right after a name of n bytes whose '/' is at p (white space
// skipped), or -1.
int32_t int_after_name(const doc *d, int32_t p, int32_t n) {
    int32_t pos = p + n + 1;
    if (pos >= d->len) return -1;
    return parse_int_at(d->data, d->len, &pos);
}

// Reads /FlateDecode, /N (first value above 0) and /First (first value of 0
// or more) for every object stream among the first `count` entries.
std::vector<objstm_dict> read_objstm_dicts(const doc *d, int32_t count, const std::vector<uint8_t> &is_objstm) {
    std::vector<objstm_dict> out(static_cast<size_t>(count));
    const bool overlap = stream_regions_overlap(d, count);
    const std::vector<int32_t> flate =
        first_name_in_stream_regions(d, count, overlap, "FlateDecode", [](int32_t) { return true; }, &is_objstm);
    const std::vector<int32_t> n = first_name_in_stream_regions(
        d, count, overlap, "N", [d](int32_t p) { return int_after_name(d, p, 1) >= 1; }, &is_objstm);
    const std::vector<int32_t> first = first_name_in_stream_regions(
        d, count, overlap, "First", [d](int32_t p) { return int_after_name(d, p, 5) >= 0; }, &is_objstm);
    for (size_t i = 0; i < out.size(); ++i) {
        if (!is_objstm[i]) continue;
        out[i].flate = flate[i] >= 0;
        if (n[i] >= 0) out[i].n = int_after_name(d, n[i], 1);
        if (first[i] >= 0) out[i].first = int_after_name(d, first[i], 5);
    }
    return out;
}

// Appends the members of one object stream: N pairs (number, offset) at the
// start of the decoded data, each member's text running from First + offset
// to the next member's start (the last one to the end of the data). Offsets
// that go back and forth (0, 900000, 0, 900000 ...) would give members
// sharing the same bytes, so that a small stream could make up texts far
// longer than its data: a member whose text begins inside an earlier
// member's text is passed over.
void add_members(doc *d, const objstm_dict &sd, const decoded &dec) {
    const int32_t n = sd.n;
    const int32_t first = sd.first;
    if (first < 0 || n < 1 || n > OBJSTM_MAX_N || first > dec.len) return;
    // 2n integers take 4n - 1 bytes at least (a digit each, a byte between
    // two): shorter data cannot hold the header, and no member would be
    // taken. Refused before the arrays are made, so that a stream of a few
    // bytes claiming 100,000 members costs nothing.
    if (4 * static_cast<int64_t>(n) - 1 > dec.len) return;
    std::vector<int32_t> nums(static_cast<size_t>(n)), offs(static_cast<size_t>(n));
    int32_t pos = 0;
    for (size_t k = 0; k < static_cast<size_t>(n); ++k) {
        nums[k] = read_int_adv(dec.data, dec.len, &pos);
        if (nums[k] < 0) return;  // a damaged header: none of the members
        offs[k] = read_int_adv(dec.data, dec.len, &pos);
        if (offs[k] < 0) return;
    }
    int64_t free_from = 0;  // end of the last member taken
    for (size_t k = 0; k < static_cast<size_t>(n); ++k) {
        const int64_t begin = static_cast<int64_t>(first) + offs[k];
        const int64_t size =
            k + 1 < static_cast<size_t>(n) ? static_cast<int64_t>(offs[k + 1]) - offs[k] : dec.len - begin;
        if (nums[k] <= 0 || size < 1 || size > OBJSTM_MAX_MEMBER) continue;
        // Offsets that disagree with each other could point past the data.
        if (begin + size > dec.len) continue;
        if (begin < free_from) continue;
        free_from = begin + size;
        objent m;
        m.num = nums[k];
        m.gen = 0;
        m.hdr_pos = m.dict_pos = m.stream_pos = m.data_pos = m.data_end = -1;
        m.endobj_pos = m.end_pos = m.data_len = -1;
        m.has_stream = 0;
        m.no_endstream = 0;
        m.in_objstm = 1;
        m.text = dec.data + begin;
        m.text_len = static_cast<int32_t>(size);
        const int32_t before = d->objs.count;
        objvec_push(&d->objs, &m);
        if (d->objs.count == before) throw std::bad_alloc();
    }
}

}  // namespace

// Appends the members of every object stream of the table (is_objstm[i] 1
// for an object stream at entry i), in table order, then header order.
// Members appended here are never opened themselves. Never fails: a stream
// that cannot be read adds nothing.
void read_object_streams(doc *d, const std::vector<uint8_t> &is_objstm) {
    if (!d->data || d->objs.count == 0) return;
    const int32_t count = static_cast<int32_t>(std::min<size_t>(is_objstm.size(), static_cast<size_t>(d->objs.count)));
    // Most files have no object stream: nothing to read then.
    if (std::find(is_objstm.begin(), is_objstm.begin() + count, uint8_t{1}) == is_objstm.begin() + count) return;
    const std::vector<objstm_dict> dicts = read_objstm_dicts(d, count, is_objstm);
    // Entries that share one "stream" keyword share its data: decode it once.
    std::unordered_map<uint64_t, decoded> done;
    for (int32_t k = 0; k < count; ++k) {
        if (!is_objstm[static_cast<size_t>(k)]) continue;
        const objent e = d->objs.items[k];  // a copy: appending may move the table
        const objstm_dict &sd = dicts[static_cast<size_t>(k)];
        // Without a usable /N and /First nothing can be read: no decoding.
        if (sd.first < 0 || sd.n < 1 || sd.n > OBJSTM_MAX_N) continue;
        const uint64_t key = (static_cast<uint64_t>(e.data_pos) << 32) | (static_cast<uint64_t>(e.data_end) << 1) |
                             (sd.flate ? 1u : 0u);
        auto seen = done.find(key);
        decoded dec;
        if (seen != done.end()) {
            dec = seen->second;
        } else {
            dec = decode_objstm(d, e, sd.flate);
            done.emplace(key, dec);
        }
        if (dec.ok) add_members(d, sd, dec);
    }
}

}  // namespace plenvo
