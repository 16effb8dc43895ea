// Where a dictionary closes, walked as dict_stream_kw walks it.
#include <algorithm>
#include <bit>
#include <memory>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "reader/scan.h"
#include "reader/scan_phases.h"

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define PLENVO_DICT_CLOSE_SSE2 1
#endif

namespace plenvo {

namespace {

// At t[*i], a '<' or '>' with a byte after it: a lone one is stepped over, a
// pair opens or closes a dictionary. True when the pair at *i is the ">>"
// that brings *depth back to zero (*i left on it); else *i is moved past
// what was read.
inline bool angle_step(const uint8_t *t, int32_t *i, int64_t *depth) {
    const uint8_t c = t[*i];
    if (t[*i + 1] != c) {
        ++*i;
        return false;
    }
    if (c == '<') {
        ++*depth;
    } else if (--*depth == 0) {
        return true;
    }
    *i += 2;
    return false;
}

}  // namespace

int32_t dict_close_one(const uint8_t *t, int32_t len, int32_t start) {
    int64_t depth = 0;
    int32_t i = start < 0 ? 0 : start;
    while (i < len) {
        const uint8_t c = t[i];
        if (c == '<' || c == '>') {
            if (i + 1 >= len) return -1;
            if (angle_step(t, &i, &depth)) return i;
            continue;
        }
        if (c == '(') {
            if (i + 1 >= len) return -1;
            int64_t nest = 1;
            int64_t j = i + 1;  // a backslash may step past len
            while (j < len) {
                const uint8_t b = t[j];
                if (b == '\\') {
                    j += 2;
                    continue;
                }
                if (b == '(') {
                    ++nest;
                } else if (b == ')' && --nest == 0) {
                    break;
                }
                ++j;
            }
            if (j >= len) return -1;
            i = static_cast<int32_t>(j + 1);
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

namespace {

constexpr int64_t NOWHERE = INT64_MAX;

// The same for three bytes.
inline int64_t find_any_of3(const uint8_t *t, int64_t i, int64_t end, uint8_t a, uint8_t b, uint8_t c) {
#if defined(PLENVO_DICT_CLOSE_SSE2)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
    while (i + 16 <= end) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return i + std::countr_zero(mask);
        i += 16;
    }
#endif
    while (i < end && t[i] != a && t[i] != b && t[i] != c) ++i;
    return i;
}

// First position in [i, end) holding byte a, b, c or d, or end (i >= end
// gives i). Reads nothing at or past end. Sixteen bytes at a time where the
// processor allows, one at a time over the rest.
inline int64_t find_any_of4(const uint8_t *t, int64_t i, int64_t end, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
#if defined(PLENVO_DICT_CLOSE_SSE2)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
    const __m128i vd = _mm_set1_epi8(static_cast<char>(d));
    while (i + 16 <= end) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)),
                                         _mm_or_si128(_mm_cmpeq_epi8(x, vc), _mm_cmpeq_epi8(x, vd)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return i + std::countr_zero(mask);
        i += 16;
    }
#endif
    while (i < end && t[i] != a && t[i] != b && t[i] != c && t[i] != d) ++i;
    return i;
}

// Queries that stand at the same position. Their walks are the same from here
// on; only their depths differ: a query's depth is base + its offset.
// Queries of one offset form a list (head, tail) linked through
// close_sweep::next_query; with a single offset the map stays unused.
struct walker {
    using lists = std::unordered_map<int64_t, std::pair<int32_t, int32_t>>;
    int64_t base = 0;
    size_t count = 0;
    int64_t one_off = 0;
    int32_t one_head = -1, one_tail = -1;
    std::unique_ptr<lists> many;

    size_t offsets() const { return many ? many->size() : (one_head >= 0 ? 1 : 0); }
};

// One forward sweep for all starts. Walks are simulated by walkers; a walker
// that reaches a position another walker also stands on takes its queries
// over (small into large), so no byte is walked twice in dictionary mode.
// Literal strings are measured by one shared scanner: every string walk that
// begins right after a '(' follows the same byte path (a backslash only ever
// hides the byte after it), so the string that opens at a '(' ends at the
// first ')' that takes that path's nesting below its level there.
struct close_sweep {
    close_sweep(const uint8_t *text, int32_t length, const int32_t *s, size_t count, int32_t *out)
        : t(text), len(length), starts(s), n(count), closes(out), next_query(count, -1) {}

    const uint8_t *t;
    int64_t len;
    const int32_t *starts;
    size_t n;
    int32_t *closes;

    size_t next_start = 0;
    std::vector<int32_t> next_query;  // query lists of the walkers
    std::vector<walker> walkers;
    std::vector<int32_t> free_ids;
    using item = std::pair<int64_t, int32_t>;  // (position, walker)
    std::priority_queue<item, std::vector<item>, std::greater<item>> heap;

    // The string scanner: next byte to read, nesting level there, and the
    // walkers waiting in a string with the level at which it opened
    // (non-decreasing from bottom to top).
    int64_t sp = 0;
    int64_t level = 0;
    std::vector<std::pair<int64_t, int32_t>> waiting;

    int32_t new_walker() {
        if (!free_ids.empty()) {
            const int32_t id = free_ids.back();
            free_ids.pop_back();
            return id;
        }
        walkers.emplace_back();
        return static_cast<int32_t>(walkers.size() - 1);
    }

    // Ends a walker: its remaining queries keep the answer -1.
    void drop(int32_t id) {
        walker &g = walkers[static_cast<size_t>(id)];
        g.many.reset();
        g.count = 0;
        g.one_head = g.one_tail = -1;
        g.base = 0;
        free_ids.push_back(id);
    }

    // Appends the query list head..tail, all at `depth`, to walker id.
    void add_list(int32_t id, int64_t depth, int32_t head, int32_t tail) {
        walker &g = walkers[static_cast<size_t>(id)];
        const int64_t off = depth - g.base;
        if (!g.many) {
            if (g.one_head < 0) {
                g.one_off = off;
                g.one_head = head;
                g.one_tail = tail;
                return;
            }
            if (g.one_off == off) {
                next_query[static_cast<size_t>(g.one_tail)] = head;
                g.one_tail = tail;
                return;
            }
            g.many = std::make_unique<walker::lists>();
            g.many->emplace(g.one_off, std::make_pair(g.one_head, g.one_tail));
            g.one_head = g.one_tail = -1;
        }
        auto [it, fresh] = g.many->try_emplace(off, head, tail);
        if (!fresh) {
            next_query[static_cast<size_t>(it->second.second)] = head;
            it->second.second = tail;
        }
    }

    void add_query(int32_t id, int32_t q, int64_t depth) {
        next_query[static_cast<size_t>(q)] = -1;
        add_list(id, depth, q, q);
        ++walkers[static_cast<size_t>(id)].count;
    }

    // Moves the queries of walker `src` (at the same position) into `dst`,
    // the one with fewer offsets into the other.
    void merge(int32_t dst, int32_t src) {
        walker &a = walkers[static_cast<size_t>(dst)];
        walker &b = walkers[static_cast<size_t>(src)];
        if (b.offsets() > a.offsets()) {
            std::swap(a.base, b.base);
            std::swap(a.count, b.count);
            std::swap(a.one_off, b.one_off);
            std::swap(a.one_head, b.one_head);
            std::swap(a.one_tail, b.one_tail);
            std::swap(a.many, b.many);
        }
        if (b.many) {
            for (const auto &kv : *b.many) add_list(dst, b.base + kv.first, kv.second.first, kv.second.second);
        } else if (b.one_head >= 0) {
            add_list(dst, b.base + b.one_off, b.one_head, b.one_tail);
        }
        walkers[static_cast<size_t>(dst)].count += walkers[static_cast<size_t>(src)].count;
        drop(src);
    }

    // Answers every query of the list starting at head with `at`; returns how many.
    size_t answer(int32_t head, int32_t at) {
        size_t k = 0;
        for (int32_t q = head; q >= 0; q = next_query[static_cast<size_t>(q)], ++k) closes[q] = at;
        return k;
    }

    // After a ">>": the queries whose depth is now 0 close at `at`.
    void close_at(int32_t id, int32_t at) {
        walker &g = walkers[static_cast<size_t>(id)];
        const int64_t off = -g.base;
        if (!g.many) {
            if (g.one_head >= 0 && g.one_off == off) {
                g.count -= answer(g.one_head, at);
                g.one_head = g.one_tail = -1;
            }
            return;
        }
        auto it = g.many->find(off);
        if (it == g.many->end()) return;
        g.count -= answer(it->second.first, at);
        g.many->erase(it);
    }

    // Reads strings up to (not including) `target`. Walkers whose string
    // closes on the way go back to the sweep right after the ')'; when the
    // text ends first, their strings never close. With `stop_at_resume` the
    // reading stops right after the first string that closes: the walker
    // handed back may stand before `target` and meet a '(' of its own, whose
    // level the scanner must not have passed yet.
    void read_strings(int64_t target, bool stop_at_resume) {
        while (!waiting.empty() && sp < target) {
            const uint8_t c = t[sp];
            if (c == '\\') {
                sp += 2;
                continue;
            }
            bool resumed = false;
            if (c == '(') {
                ++level;
            } else if (c == ')') {
                while (!waiting.empty() && waiting.back().first == level) {
                    heap.emplace(sp + 1, waiting.back().second);
                    waiting.pop_back();
                    resumed = true;
                }
                --level;
            }
            ++sp;
            if (resumed && stop_at_resume) return;
        }
        if (!waiting.empty() && sp >= len) {
            for (const auto &w : waiting) drop(w.second);
            waiting.clear();
        }
    }

    int64_t next_event(int64_t i) const { return i < len ? find_any_of4(t, i, len, '<', '>', '(', '%') : i; }

    // The walker `id` stands on the event byte at q (or on len).
    void step(int32_t id, int64_t q) {
        if (q + 1 >= len) {  // the end, or '<', '>', '(' as the last byte
            drop(id);
            return;
        }
        const uint8_t c = t[q];
        if (c == '%') {  // a comment: the walk goes on at the end of its line
            const int32_t e = skip_comment(t, static_cast<int32_t>(q), static_cast<int32_t>(len));
            if (e < 0) {
                drop(id);
            } else {
                heap.emplace(e, id);
            }
            return;
        }
        if (c == '(') {
            if (waiting.empty()) {
                sp = q + 1;
                level = 0;
            } else if (sp == q) {
                ++level;  // the scanner reads this '(' as string text
                sp = q + 1;
            }
            waiting.emplace_back(level, id);
            return;
        }
        if (t[q + 1] != c) {
            heap.emplace(q + 1, id);
            return;
        }
        walker &g = walkers[static_cast<size_t>(id)];
        if (c == '<') {
            ++g.base;
        } else {
            --g.base;
            close_at(id, static_cast<int32_t>(q));
            if (g.count == 0) {
                drop(id);
                return;
            }
        }
        heap.emplace(q + 2, id);
    }

    void run() {
        for (;;) {
            const int64_t hmin = heap.empty() ? NOWHERE : heap.top().first;
            const int64_t smin = next_start < n ? starts[next_start] : NOWHERE;
            const int64_t at = std::min(hmin, smin);
            if (at == NOWHERE) {
                if (waiting.empty()) return;
                read_strings(len, true);
                continue;
            }
            // Strings closing before `at` may put walkers before it.
            if (!waiting.empty() && sp < at) {
                read_strings(at, true);
                continue;
            }
            int32_t id;
            if (hmin <= smin) {
                id = heap.top().second;
                heap.pop();
            } else {
                id = new_walker();
                add_query(id, static_cast<int32_t>(next_start++), 0);
            }
            const int64_t q = next_event(at);
            // Walkers handed back inside (at, q] walk on to q and join below,
            // so the scanner may read on to q in one go.
            if (!waiting.empty() && sp < q) read_strings(q, false);
            // Everything standing in [at, q] walks on to q: join it there.
            while (!heap.empty() && heap.top().first <= q) {
                const int32_t other = heap.top().second;
                heap.pop();
                merge(id, other);
            }
            while (next_start < n && starts[next_start] <= q) add_query(id, static_cast<int32_t>(next_start++), 0);
            step(id, q);
        }
    }
};

// dict_close_one's walk from start, given up once it reads a byte at or past
// `limit` (limit <= len; limit == len never gives up). Returns true with
// *close set to dict_close_one's answer when the walk ended first, false when
// it was given up (*close untouched). Reads nothing at or past len.
bool walk_before(const uint8_t *t, int32_t len, int32_t start, int32_t limit, int32_t *close) {
    const bool last = limit >= len;
    int64_t depth = 0;
    int32_t i = start < 0 ? 0 : start;
    for (;;) {
        i = static_cast<int32_t>(find_any_of4(t, i, limit, '<', '>', '(', '%'));
        if (i >= limit) {
            if (!last) return false;
            *close = -1;
            return true;
        }
        const uint8_t c = t[i];
        if (i + 1 >= len) {  // '<', '>' or '(' as the last byte
            *close = -1;
            return true;
        }
        if (c == '%') {  // a comment: to the end of its line
            const int32_t e = skip_comment(t, i, limit);
            if (e >= 0) {
                i = e;
                continue;
            }
            if (!last) return false;
            *close = -1;
            return true;
        }
        if (i + 1 >= limit) return false;
        if (c == '<' || c == '>') {
            if (angle_step(t, &i, &depth)) {
                *close = i;
                return true;
            }
            continue;
        }
        // A literal string: a backslash hides the byte after it.
        int64_t nest = 1;
        int64_t j = i + 1;
        for (;;) {
            j = find_any_of3(t, j, limit, '\\', '(', ')');
            if (j >= limit) break;
            const uint8_t b = t[j];
            if (b == '\\') {
                j += 2;
                continue;
            }
            if (b == '(') {
                ++nest;
            } else if (--nest == 0) {
                break;
            }
            ++j;
        }
        if (j >= limit) {
            if (!last) return false;
            *close = -1;  // the string never closes
            return true;
        }
        i = static_cast<int32_t>(j + 1);
    }
}

}  // namespace

void find_dict_closes(const uint8_t *t, int32_t len, const int32_t *starts, size_t n, int32_t *closes) {
    for (size_t k = 0; k < n; ++k) closes[k] = -1;
    if (n == 0 || len <= 0) return;
    // As a rule each dictionary closes before the next start: walk them one
    // by one, every byte read once. The first walk that reaches the next
    // start hands that start and all later ones to the sweep, so the bytes
    // read twice are at most the file once.
    size_t k = 0;
    for (; k < n; ++k) {
        const int32_t limit = k + 1 < n ? starts[k + 1] : len;
        if (!walk_before(t, len, starts[k], limit, &closes[k])) break;
    }
    if (k == n) return;
    close_sweep s(t, len, starts + k, n - k, closes + k);
    s.run();
}

}  // namespace plenvo
