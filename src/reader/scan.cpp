#include "reader/scan.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace plenvo {

int32_t skip_ws(const uint8_t *t, int32_t start, int32_t end) {
    while (start < end && is_ws(t[start])) ++start;
    return start;
}

int32_t skip_blank(const uint8_t *t, int32_t start, int32_t end) {
    for (;;) {
        while (start < end && is_ws(t[start])) ++start;
        if (start >= end || t[start] != '%') return start;
        while (start < end && t[start] != '\r' && t[start] != '\n') ++start;
    }
}

int32_t find_kw(const uint8_t *t, int32_t len, int32_t start, const char *kw) {
    const int32_t n = static_cast<int32_t>(std::strlen(kw));
    int32_t i = start < 0 ? 0 : start;
    if (n == 0) return -1;
    const uint8_t first = static_cast<uint8_t>(kw[0]);
    while (i <= len - n) {
        const void *hit = std::memchr(t + i, first, static_cast<size_t>(len - n - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t);
        if (std::memcmp(t + i, kw, static_cast<size_t>(n)) == 0 && (i == 0 || !is_alnum(t[i - 1])) &&
            (i + n == len || !is_alnum(t[i + n])))
            return i;
        ++i;
    }
    return -1;
}

int kw_at(const uint8_t *t, int32_t pos, int32_t len, const char *kw) {
    const int32_t n = static_cast<int32_t>(std::strlen(kw));
    if (pos < 0 || static_cast<int64_t>(pos) + n > len) return 0;
    if (std::memcmp(t + pos, kw, static_cast<size_t>(n)) != 0) return 0;
    if (pos > 0 && is_alnum(t[pos - 1])) return 0;
    if (pos + n == len) return 1;
    return is_alnum(t[pos + n]) ? 0 : 1;
}

// True when `name` (n bytes) stands right after the '/' at p, ending by end
// and not followed by a name-continuation byte.
static bool name_at(const uint8_t *t, int32_t p, int32_t end, const char *name, int32_t n) {
    if (static_cast<int64_t>(p) + n + 1 > end) return false;
    if (n > 0 && t[p + 1] != static_cast<uint8_t>(name[0])) return false;
    if (std::memcmp(t + p + 1, name, static_cast<size_t>(n)) != 0) return false;
    return p + n + 1 == end || !is_namecont(t[p + n + 1]);
}

int32_t find_name(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *name) {
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    const int32_t end = len < limit ? len : limit;
    int32_t p = start < 0 ? 0 : start;
    while (static_cast<int64_t>(p) + n + 1 <= end) {
        const void *hit = std::memchr(t + p, '/', static_cast<size_t>(end - n - p));
        if (!hit) return -1;
        p = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t);
        if (name_at(t, p, end, name, n)) return p;
        ++p;
    }
    return -1;
}

namespace {

// Names searched for in one walk, with their lengths and the set of their
// first bytes (most names met in a walk start with none of them).
struct name_set {
    const char *const *names;
    int count;
    int32_t n[8];
    uint64_t firsts[4] = {};
    bool empty_name = false;

    name_set(const char *const *nm, int c) : names(nm), count(c) {
        for (int k = 0; k < c; ++k) {
            n[k] = static_cast<int32_t>(std::strlen(nm[k]));
            if (n[k] == 0) {
                empty_name = true;
            } else {
                const uint8_t f = static_cast<uint8_t>(nm[k][0]);
                firsts[f >> 6] |= uint64_t(1) << (f & 63);
            }
        }
    }

    // Records p in out[k] for every name not found yet that stands at the
    // '/' at p (as name_at decides); returns how many were recorded.
    int match(const uint8_t *t, int32_t p, int32_t end, int32_t *out) const {
        if (!empty_name) {
            if (p + 1 >= end) return 0;
            const uint8_t f = t[p + 1];
            if (!((firsts[f >> 6] >> (f & 63)) & 1)) return 0;
        }
        int got = 0;
        for (int k = 0; k < count; ++k) {
            if (out[k] < 0 && name_at(t, p, end, names[k], n[k])) {
                out[k] = p;
                ++got;
            }
        }
        return got;
    }
};

// Names looked for anywhere (as find_names) while a top-level walk runs:
// the walk passes every '/' it steps on to at() and every stretch it skips
// (a comment, a literal or hex string, the rest after it stops) to
// skipped(), in increasing order, so each name keeps its first occurrence.
// find_names itself is one skipped() over its whole range.
struct any_names {
    const name_set *set;
    int32_t *out;
    int left;
    int32_t end;

    void at(const uint8_t *t, int32_t p) {
        if (left > 0) left -= set->match(t, p, end, out);
    }
    // Every '/' in t[a, b).
    void skipped(const uint8_t *t, int32_t a, int32_t b) {
        while (left > 0 && a < b) {
            const void *hit = std::memchr(t + a, '/', static_cast<size_t>(b - a));
            if (!hit) return;
            a = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t);
            left -= set->match(t, a, end, out);
            ++a;
        }
    }
};

}  // namespace

void find_names(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names, int count,
                int32_t *out) {
    for (int k = 0; k < count; ++k) out[k] = -1;
    if (count <= 0) return;
    const name_set set(names, count);
    const int32_t end = len < limit ? len : limit;
    any_names walk{&set, out, count, end};
    walk.skipped(t, start < 0 ? 0 : start, end);
}

// Position right after the literal string that opens at i ("(" at t[i]), or
// -1 when it does not close before end. Backslash escapes the next byte.
static int32_t skip_literal(const uint8_t *t, int32_t i, int32_t end) {
    int depth = 1;
    int32_t j = i + 1;
    while (j < end) {
        uint8_t c = t[j];
        if (c == '\\') {
            if (j + 1 >= end) return -1;
            j += 2;
            continue;
        }
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) return j + 1;
        }
        ++j;
    }
    return -1;
}

int32_t skip_comment(const uint8_t *t, int32_t i, int32_t end) {
    while (i < end && t[i] != '\r' && t[i] != '\n') ++i;
    return i < end ? i : -1;
}

namespace {

// Bytes at which find_name_top does something other than step on.
struct top_events {
    bool on[256] = {};
    constexpr top_events() {
        on[static_cast<uint8_t>('%')] = on[static_cast<uint8_t>('(')] = on[static_cast<uint8_t>('<')] = true;
        on[static_cast<uint8_t>('>')] = on[static_cast<uint8_t>('/')] = true;
    }
};
constexpr top_events TOP_EVENTS;

// The first position in [i, end) holding a byte of TOP_EVENTS, or end.
// Sixteen bytes are classified at a time where the machine has SSE2; the
// bytes read always lie inside [i, end).
inline int32_t next_top_event(const uint8_t *t, int32_t i, int32_t end) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i slash = _mm_set1_epi8('/'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
    const __m128i paren = _mm_set1_epi8('('), pct = _mm_set1_epi8('%');
    while (end - i >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, slash), _mm_cmpeq_epi8(v, lt)),
                                         _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, paren)),
                                                      _mm_cmpeq_epi8(v, pct)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask) return i + std::countr_zero(mask);
        i += 16;
    }
#endif
    while (i < end && !TOP_EVENTS.on[t[i]]) ++i;
    return i;
}

}  // namespace

namespace {

// The same for a walk without such names.
struct no_names {
    void at(const uint8_t *, int32_t) {}
    void skipped(const uint8_t *, int32_t, int32_t) {}
};

// The walk of find_name_top for `count` names at once: out[k] receives the
// position find_name_top(t, len, start, limit, names[k]) gives. The walk stops
// once every name is found, or at the first unterminated construct (names
// not found before it keep -1); `any` then gets the rest of the text.
template <class Any>
void names_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names,
               int count, int32_t *out, Any &any) {
    for (int k = 0; k < count; ++k) out[k] = -1;
    const name_set set(names, count);
    int left = count;
    const int32_t end = len < limit ? len : limit;
    int depth = 0;
    int32_t i = start < 0 ? 0 : start;
    for (;;) {
        i = next_top_event(t, i, end);  // straight to the next byte that matters
        if (i >= end) return;
        uint8_t c = t[i];
        switch (c) {
        case '%': {
            int32_t j = i + 1;
            while (j < end && t[j] != '\r' && t[j] != '\n') ++j;
            if (j >= end) {
                any.skipped(t, i, end);
                return;
            }
            any.skipped(t, i + 1, j);
            i = j;
            break;
        }
        case '(': {
            int32_t j = i + 1 == end ? -1 : skip_literal(t, i, end);
            if (j < 0) {
                any.skipped(t, i, end);
                return;
            }
            any.skipped(t, i + 1, j);
            i = j;
            break;
        }
        case '<':
            if (i + 1 == end) return;
            if (t[i + 1] == '<') {
                ++depth;
                i += 2;
            } else {
                const void *gt = std::memchr(t + i + 1, '>', static_cast<size_t>(end - i - 1));
                if (!gt) {
                    any.skipped(t, i, end);
                    return;
                }
                const int32_t j = static_cast<int32_t>(static_cast<const uint8_t *>(gt) - t) + 1;
                any.skipped(t, i + 1, j);
                i = j;
            }
            break;
        case '>':
            if (i + 1 == end) return;
            if (t[i + 1] == '>') {
                if (depth > 0) --depth;
                i += 2;
            } else {
                ++i;
            }
            break;
        case '/':
            any.at(t, i);
            if (depth <= 1) {
                left -= set.match(t, i, end, out);
                if (left == 0) {
                    any.skipped(t, i + 1, end);
                    return;
                }
            }
            ++i;
            break;
        default:
            ++i;
            break;
        }
    }
}

void names_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names,
               int count, int32_t *out) {
    no_names none;
    names_top(t, len, start, limit, names, count, out, none);
}

}  // namespace

void find_names_top_any(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *top,
                        int ntop, int32_t *top_out, const char *const *any, int nany, int32_t *any_out) {
    for (int k = 0; k < nany; ++k) any_out[k] = -1;
    if (nany <= 0) {
        names_top(t, len, start, limit, top, ntop, top_out);
        return;
    }
    if (ntop <= 0) {  // no top-level name to stop at: the walk would see every byte
        find_names(t, len, start, limit, any, nany, any_out);
        return;
    }
    const name_set set(any, nany);
    any_names walk{&set, any_out, nany, len < limit ? len : limit};
    names_top(t, len, start, limit, top, ntop, top_out, walk);
}

int32_t find_name_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *name) {
    int32_t at = -1;
    names_top(t, len, start, limit, &name, 1, &at);
    return at;
}

void find_names_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names,
                    int count, int32_t *out) {
    for (int k = 0; k < count; k += 8) names_top(t, len, start, limit, names + k, count - k < 8 ? count - k : 8, out + k);
}

int32_t dict_stream_kw(const uint8_t *t, int32_t len, int32_t start) {
    int depth = 0;
    int32_t i = start < 0 ? 0 : start;
    while (i < len) {
        uint8_t c = t[i];
        if (c == '<' || c == '>') {
            if (i + 1 >= len) return -1;
            if (t[i + 1] != c) {
                ++i;
                continue;
            }
            if (c == '<') {
                ++depth;
                i += 2;
                continue;
            }
            --depth;
            if (depth == 0) {
                int32_t p = skip_blank(t, i + 2, len);
                return kw_at(t, p, len, "stream") ? p : -1;
            }
            i += 2;
            continue;
        }
        if (c == '(') {
            if (i + 1 >= len) return -1;
            int32_t j = skip_literal(t, i, len);
            if (j < 0) return -1;
            i = j;
            continue;
        }
        if (c == '%') {
            i = skip_comment(t, i, len);
            if (i < 0) return -1;
            continue;
        }
        ++i;
    }
    return -1;
}

char *dict_text_at(const uint8_t *t, int32_t len, int32_t pos) {
    if (pos < 0 || static_cast<int64_t>(pos) + 1 >= len || t[pos] != '<' || t[pos + 1] != '<')
        return nullptr;
    int depth = 0;
    int32_t i = pos;
    int32_t end = -1;
    while (i + 1 < len) {
        uint8_t c = t[i];
        if (c == '<' && t[i + 1] == '<') {
            ++depth;
            i += 2;
        } else if (c == '>' && t[i + 1] == '>') {
            if (--depth == 0) {
                end = i + 1;
                break;
            }
            i += 2;
        } else if (c == '(') {
            int32_t j = skip_literal(t, i, len);
            i = j < 0 ? len : j;
        } else if (c == '%') {
            int32_t j = skip_comment(t, i, len);
            i = j < 0 ? len : j;
        } else {
            ++i;
        }
    }
    if (end < 0) return nullptr;
    size_t n = static_cast<size_t>(end - pos + 1);
    char *out = static_cast<char *>(std::malloc(n + 1));
    if (!out) return nullptr;
    std::memcpy(out, t + pos, n);
    out[n] = '\0';
    return out;
}

// Reads a digit run at i (sign already consumed). Returns the magnitude in
// *value, or false when there is no digit or the run leaves the 32-bit range
// (negative allows one more).
static bool read_digits(const uint8_t *t, int32_t len, int32_t *i, bool neg, int32_t *value) {
    int64_t v = 0;
    const int64_t lim = neg ? 2147483648LL : 2147483647LL;
    int32_t j = *i;
    if (j >= len || !is_digit(t[j])) return false;
    while (j < len && is_digit(t[j])) {
        v = v * 10 + (t[j] - '0');
        if (v > lim) return false;
        ++j;
    }
    *i = j;
    *value = static_cast<int32_t>(neg ? -v : v);
    return true;
}

int32_t parse_int_at(const uint8_t *t, int32_t len, int32_t *pos) {
    int32_t i = skip_blank(t, *pos, len);
    if (i >= len) return -1;
    bool neg = false;
    if (t[i] == '-') {
        neg = true;
        if (++i >= len) return -1;
    }
    int32_t v;
    if (!read_digits(t, len, &i, neg, &v)) return -1;
    *pos = i;
    return v;
}

int32_t read_int_adv(const uint8_t *t, int32_t len, int32_t *pos) {
    int32_t i = skip_blank(t, *pos, len);
    if (i >= len) return -1;
    bool neg = false;
    if (t[i] == '-' || t[i] == '+') {
        neg = t[i] == '-';
        if (++i >= len) return -1;
    }
    int32_t v;
    if (!read_digits(t, len, &i, neg, &v)) return -1;
    *pos = i;
    return v;
}

// Examines the /Length value whose name occurrence is at p (n = 6 bytes with
// the slash); returns true when it decided a result.
static bool length_value(const uint8_t *t, int32_t end, int32_t p, int32_t *out_len, int32_t *out_ref,
                         bool *array_dead) {
    // The byte right after "/Length" is the separator; the value starts after it.
    int32_t i = p + 8 < end ? p + 8 : end;
    i = skip_blank(t, i, end);
    if (i >= end) return false;
    uint8_t c = t[i];
    if (is_digit(c) || c == '-') {
        int32_t n = parse_int_at(t, end, &i);
        if (n < 0) return false;
        int32_t j = skip_blank(t, i, end);
        if (j < end && is_digit(t[j])) {
            int32_t g = j;
            parse_int_at(t, end, &g);  // the generation: any value
            if (g != j) {
                int32_t k = skip_blank(t, g, end);
                if (k < end && t[k] == 'R' && (k + 1 == end || !is_alnum(t[k + 1]))) {
                    *out_ref = n;
                    return true;
                }
            }
        }
        *out_len = n;
        return true;
    }
    if (c == '[') {
        // An array that ran to the end without a usable number leaves every
        // later array in the region nothing to find either.
        if (*array_dead) return false;
        int32_t last = -1;
        ++i;
        while (i < end && t[i] != ']') {
            if (t[i] == '%') {  // a comment: to the end of its line
                const int32_t e = skip_comment(t, i, end);
                i = e < 0 ? end : e;
                continue;
            }
            int32_t q = i;
            int32_t v = parse_int_at(t, end, &q);
            if (q != i && v >= 0) last = v;
            i = q != i ? q : i + 1;
        }
        if (last >= 0) {
            *out_len = last;
            return true;
        }
        if (i >= end) *array_dead = true;
    }
    return false;
}

void parse_length(const uint8_t *t, int32_t len, int32_t start, int32_t end, int32_t *out_len,
                  int32_t *out_ref) {
    *out_len = -1;
    *out_ref = -1;
    const int32_t lim = len < end ? len : end;
    bool array_dead = false;
    int32_t p = find_name(t, len, start, lim, "Length");
    while (p >= 0) {
        if (length_value(t, lim, p, out_len, out_ref, &array_dead)) return;
        p = find_name(t, len, p + 7, lim, "Length");
    }
}

int32_t read_obj_int_value(const uint8_t *t, int32_t len, int32_t hdr_pos) {
    int32_t i = hdr_pos;
    if (i < 0 || i >= len) return -1;
    if (parse_int_at(t, len, &i) < 0) return -1;
    i = skip_ws(t, i, len);
    if (i < len && is_digit(t[i])) {
        if (parse_int_at(t, len, &i) < 0) return -1;
        i = skip_ws(t, i, len);
    }
    if (kw_at(t, i, len, "obj")) i = skip_blank(t, i + 3, len);
    int32_t v = parse_int_at(t, len, &i);
    return v >= 0 ? v : -1;
}

}  // namespace plenvo
