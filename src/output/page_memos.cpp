// Texts the writer keeps from one page for the next: a page of the same box
// and rotation as the last one placed, or a page sharing another page's
// resources dictionary, costs no new text.
#include "output/page_memos.h"

#include <cstdlib>
#include <cstring>

namespace plenvo {

bool geometry_memo::place(const doc *d, const pageinfo *p, int mode, double W, double H, double f) {
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

const rewritten_resources &resources_memo::of(const doc *d, int32_t k, const copy_list &cl) {
    const resources_at at = cl.page_res[static_cast<size_t>(k)];
    fresh = rewritten_resources{};
    if (!at.t) return fresh;
    const std::pair<const uint8_t *, const uint8_t *> key{at.t + at.pos, at.t + at.len};
    auto it = kept.find(key);
    if (it != kept.end()) return it->second;
    if (char *res = page_resources_dict(at)) {
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

}  // namespace plenvo
