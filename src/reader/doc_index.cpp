#include <cstdlib>

#include "reader/doc.h"

namespace plenvo {

int doc_build_index(doc *d) {
    std::free(d->index);
    d->index = nullptr;
    int32_t maxn = 0;
    for (int32_t i = 0; i < d->objs.count; ++i)
        if (d->objs.items[i].num > maxn && d->objs.items[i].num <= MAX_OBJNUM) maxn = d->objs.items[i].num;
    if (maxn > d->max_num) d->max_num = maxn;
    int32_t *idx = static_cast<int32_t *>(std::malloc((static_cast<size_t>(d->max_num) + 1) * sizeof(int32_t)));
    if (!idx) return -1;
    for (int32_t k = 0; k <= d->max_num; ++k) idx[k] = -1;
    // The first entry with a number wins, as a search from the table's start would find.
    for (int32_t i = 0; i < d->objs.count; ++i) {
        int32_t n = d->objs.items[i].num;
        if (n >= 0 && n <= d->max_num && idx[n] < 0) idx[n] = i;
    }
    d->index = idx;
    return 0;
}

temporary_index::temporary_index(doc *doc_, bool wanted) : d(doc_), max_num(doc_->max_num) {
    if (wanted && !d->index) built = doc_build_index(d) == 0;
}

temporary_index::~temporary_index() {
    if (!built) return;
    std::free(d->index);
    d->index = nullptr;
    d->max_num = max_num;
}

const objent *doc_lookup(const doc *d, int32_t num) {
    if (num < 0) return nullptr;
    if (d->index) {
        if (num > d->max_num) return nullptr;
        int32_t i = d->index[num];
        return i >= 0 ? &d->objs.items[i] : nullptr;
    }
    for (int32_t i = 0; i < d->objs.count; ++i)
        if (d->objs.items[i].num == num) return &d->objs.items[i];
    return nullptr;
}

text_range dict_range(const doc *d, const objent *e) {
    if (e->in_objstm) return {e->text, 0, e->text_len};
    if (e->dict_pos < 0) return {d->data, -1, -1};
    int32_t end = e->stream_pos > 0 ? e->stream_pos : (e->endobj_pos > 0 ? e->endobj_pos : d->len);
    return {d->data, e->dict_pos, end};
}

text_range obj_range(const doc *d, const objent *e) {
    if (e->in_objstm) return {e->text, 0, e->text_len};
    if (e->dict_pos < 0) return {d->data, -1, -1};
    int32_t end = e->endobj_pos > 0 ? e->endobj_pos : d->len;
    return {d->data, e->dict_pos, end};
}

}  // namespace plenvo
