// Finding the pages whose forms would be one and the same object: the form
// is made of the page's content (fixed by its /Contents value), its rewritten
// resources (fixed by where its dictionary lies) and the placement's box and
// matrix (fixed by its box and rotation), and of nothing else.
#include "output/shared_forms.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "output/page_content.h"
#include "output/page_resources.h"
#include "output/placement.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// What a page's form is made of.
struct form_key {
    std::string contents;         // the content's source, see contents_source
    const std::string *resources;  // the resources dictionary's text, one copy per text (null: none)
    uint64_t box[4];              // the box, bit for bit
    int rotation;

    bool operator==(const form_key &o) const {
        return contents == o.contents && resources == o.resources &&
               std::memcmp(box, o.box, sizeof box) == 0 && rotation == o.rotation;
    }
};

struct form_key_hash {
    size_t operator()(const form_key &k) const {
        size_t h = std::hash<std::string>()(k.contents);
        auto mix = [&h](size_t v) { h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2); };
        mix(std::hash<const std::string *>()(k.resources));
        for (uint64_t b : k.box) mix(std::hash<uint64_t>()(b));
        mix(static_cast<size_t>(k.rotation));
        return h;
    }
};

// Resources texts, one copy of each: two pages whose dictionaries read the
// same (copies of one page made by a merge often repeat it inline) get the
// same pointer. A dictionary at a place already read is not read again. The
// texts kept total at most LIMIT bytes.
struct resources_texts {
    static constexpr uint64_t LIMIT = uint64_t(16) << 20;
    struct place_hash {
        size_t operator()(const std::pair<const uint8_t *, int32_t> &k) const {
            return std::hash<const uint8_t *>()(k.first) * 31 + static_cast<size_t>(k.second);
        }
    };
    std::unordered_set<std::string> texts;
    uint64_t bytes = 0;
    std::unordered_map<std::pair<const uint8_t *, int32_t>, const std::string *, place_hash> at_place;

    // Sets *text to the one copy of the text of the dictionary at `at`
    // (null when there is none or it cannot be copied). False when that text
    // is new and cannot be kept within LIMIT: the page then shares no form.
    bool of(const resources_at &at, const std::string **text) {
        *text = nullptr;
        if (!at.t) return true;
        const std::pair<const uint8_t *, int32_t> place{at.t + at.pos, at.len - at.pos};
        const auto known = at_place.find(place);
        if (known != at_place.end()) {
            *text = known->second;
            return true;
        }
        const std::unique_ptr<char, void (*)(void *)> copy(page_resources_dict(at), std::free);
        if (copy) {
            std::string t(copy.get());
            const auto kept = texts.find(t);
            if (kept != texts.end()) {
                *text = &*kept;
            } else {
                if (bytes + t.size() > LIMIT) return false;
                bytes += t.size();
                *text = &*texts.insert(std::move(t)).first;
            }
        }
        at_place.emplace(place, *text);
        return true;
    }
};

void put_number(std::string *s, int32_t v) { s->append(reinterpret_cast<const char *>(&v), sizeof v); }

// Where a page's /Contents value (its key at `at`, -1 when none) starts.
struct contents_value {
    enum kind_t { NONE, NUMBER, ARRAY, OTHER } kind = NONE;
    const uint8_t *t = nullptr;  // the page dictionary's text
    int32_t pos = 0, end = 0;    // the value's first byte, the dictionary's end

    contents_value(const doc *d, const objent *page, int32_t at) {
        if (at < 0) return;
        kind = OTHER;
        const text_range r = dict_range(d, page);
        if (r.start < 0) return;
        t = r.base;
        end = r.end;
        pos = contents_value_at(t, at, end);
        if (pos < end && is_digit(t[pos])) kind = NUMBER;
        if (pos < end && t[pos] == '[') kind = ARRAY;
    }
};

// The source of a page's content as text that is equal for two pages exactly
// when their /Contents values name the same objects: "-" for none, "R" and
// the number for a reference, "A" and the numbers of the elements for an
// array (read as the content gathering reads them). False for content
// written inside the page object (and for a value that cannot be read),
// which no other page can share.
bool contents_source(const contents_value &v, std::string *out) {
    out->clear();
    if (v.kind == contents_value::NONE) {
        out->push_back('-');
        return true;
    }
    const uint8_t *t = v.t;
    const int32_t end = v.end;
    int32_t pos = v.pos;
    if (v.kind == contents_value::NUMBER) {
        const int32_t n = parse_int_at(t, end, &pos);
        if (n < 0) return false;
        out->push_back('R');
        put_number(out, n);
        return true;
    }
    if (v.kind != contents_value::ARRAY) return false;
    out->push_back('A');
    ++pos;
    for (int32_t n = 0; next_content_element(t, end, &pos, &n);) {
        if (n < 0) return false;
        put_number(out, n);
    }
    return true;
}

// The content stream each page names alone (/Contents N 0 R), and how many
// pages name each stream so, up to 2: a page whose stream no other page
// names shares no form, and is passed over without further work.
struct single_streams {
    static constexpr int32_t ARRAY_OR_NONE = -1;  // an array, or no /Contents
    static constexpr int32_t UNSHARED = -2;       // content that is never shared
    std::vector<int32_t> of_page;
    std::vector<uint8_t> pages_naming;  // by object number

    single_streams(const doc *d, const std::vector<page_keys> &keys, int32_t n)
        : of_page(static_cast<size_t>(n), UNSHARED),
          pages_naming(static_cast<size_t>(d->max_num > 0 ? d->max_num : 0) + 1, 0) {
        for (int32_t k = 0; k < n; ++k) {
            const objent *page = doc_lookup(d, d->pages.items[k].objnum);
            if (!page) continue;
            const contents_value v(d, page, keys[static_cast<size_t>(k)].contents);
            int32_t num = v.kind == contents_value::OTHER ? UNSHARED : ARRAY_OR_NONE;
            if (v.kind == contents_value::NUMBER) {
                int32_t pos = v.pos;
                num = parse_int_at(v.t, v.end, &pos);
                if (num < 0) num = UNSHARED;
                if (num >= 0 && static_cast<size_t>(num) >= pages_naming.size()) num = ARRAY_OR_NONE;
            }
            of_page[static_cast<size_t>(k)] = num;
            if (num >= 0 && pages_naming[static_cast<size_t>(num)] < 2) ++pages_naming[static_cast<size_t>(num)];
        }
    }
    // False when page k cannot share its form with another page.
    bool may_share(int32_t k) const {
        const int32_t num = of_page[static_cast<size_t>(k)];
        return num == ARRAY_OR_NONE || (num >= 0 && pages_naming[static_cast<size_t>(num)] >= 2);
    }
};

}  // namespace

form_sharing find_shared_forms(const doc *d, const std::vector<page_keys> &keys, const copy_list &cl) {
    const int32_t n = d->pages.count > 0 ? d->pages.count : 0;
    form_sharing s{std::vector<int32_t>(static_cast<size_t>(n)), keys};
    form_key key{};
    const single_streams single(d, keys, n);
    std::unordered_map<form_key, int32_t, form_key_hash> first;
    resources_texts resources;
    for (int32_t k = 0; k < n; ++k) {
        s.owner[static_cast<size_t>(k)] = k;
        if (!single.may_share(k)) continue;
        const pageinfo *p = &d->pages.items[k];
        const objent *page = doc_lookup(d, p->objnum);
        if (!page || !contents_source(contents_value(d, page, keys[static_cast<size_t>(k)].contents), &key.contents))
            continue;
        if (!resources.of(cl.page_res[static_cast<size_t>(k)], &key.resources)) continue;
        const double box[4] = {p->llx, p->lly, p->urx, p->ury};
        std::memcpy(key.box, box, sizeof box);
        key.rotation = effective_rotation(d, p);
        const auto found = first.emplace(key, k);
        if (found.second) continue;
        s.owner[static_cast<size_t>(k)] = found.first->second;
        s.drawn[static_cast<size_t>(k)].contents = -1;
    }
    return s;
}

}  // namespace plenvo
