// Parsing and writing of PDF value trees: dictionaries, arrays, names,
// strings, numbers, references and keywords, with no recursion.
#include "output/pdf_value.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/byte_class.h"
#include "base/number_text.h"

namespace plenvo {

namespace {

// Position after white space and comments from i.
size_t skip_space(const uint8_t *t, size_t n, size_t i) {
    while (i < n) {
        if (is_ws(t[i])) {
            ++i;
        } else if (t[i] == '%') {
            while (i < n && t[i] != '\r' && t[i] != '\n') ++i;
        } else {
            break;
        }
    }
    return i;
}

// End of the regular token starting at i.
size_t token_end(const uint8_t *t, size_t n, size_t i) {
    while (i < n && is_regular(t[i])) ++i;
    return i;
}

// Position after the literal string opening at t[i] == '(', or 0 when it
// never closes.
size_t literal_end(const uint8_t *t, size_t n, size_t i) {
    int64_t depth = 1;
    for (++i; i < n; ++i) {
        if (t[i] == '\\') {
            ++i;
        } else if (t[i] == '(') {
            ++depth;
        } else if (t[i] == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

// The value of a PDF number token t[a, b) ("12", "-3.5", ".5", "+4."), read
// without the host's locale; false when the token is no number.
bool read_number(const uint8_t *t, size_t a, size_t b, double *out) {
    size_t i = a;
    bool neg = false;
    if (i < b && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
    double whole = 0.0, frac = 0.0, scale = 1.0;
    bool digits = false, dot = false;
    for (; i < b; ++i) {
        const uint8_t c = t[i];
        if (is_digit(c)) {
            digits = true;
            if (dot) {
                scale *= 10.0;
                frac = frac * 10.0 + (c - '0');
            } else {
                whole = whole * 10.0 + (c - '0');
            }
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    const double v = whole + frac / scale;
    *out = neg ? -v : v;
    return true;
}

// An unsigned digit run t[a, b) as a 32-bit number; -1 when it is longer
// than that or holds another byte.
int64_t read_uint(const uint8_t *t, size_t a, size_t b) {
    if (a >= b) return -1;
    int64_t v = 0;
    for (size_t i = a; i < b; ++i) {
        if (!is_digit(t[i])) return -1;
        v = v * 10 + (t[i] - '0');
        if (v > INT32_MAX) return -1;
    }
    return v;
}

int32_t add_node(pv_tree *tr, pv_type type, const char *text, size_t len) {
    pv_node v{};
    v.type = type;
    v.text = text;
    v.len = static_cast<uint32_t>(len);
    v.first = v.last = v.next = -1;
    tr->nodes.push_back(v);
    return static_cast<int32_t>(tr->nodes.size() - 1);
}

int32_t made_text(pv_tree *tr, pv_type type, std::string s) {
    tr->made.push_front(std::move(s));
    const std::string &m = tr->made.front();
    return add_node(tr, type, m.data(), m.size());
}

// Decodes the #xx escapes of a name's text (without its '/').
bool name_equals(const char *s, size_t n, const char *name) {
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        int c = static_cast<uint8_t>(s[i]);
        if (c == '#' && i + 2 < n) {
            auto hex = [](int h) {
                if (h >= '0' && h <= '9') return h - '0';
                if (h >= 'a' && h <= 'f') return h - 'a' + 10;
                if (h >= 'A' && h <= 'F') return h - 'A' + 10;
                return -1;
            };
            const int hi = hex(static_cast<uint8_t>(s[i + 1])), lo = hex(static_cast<uint8_t>(s[i + 2]));
            if (hi >= 0 && lo >= 0) {
                c = hi * 16 + lo;
                i += 2;
            }
        }
        if (name[k] == 0 || static_cast<uint8_t>(name[k]) != c) return false;
        ++k;
    }
    return name[k] == 0;
}

}  // namespace

int32_t pv_parse(pv_tree *tr, const uint8_t *t, size_t n, size_t *pos) {
    struct open_container {
        int32_t node;
        bool dict;
        bool want_key;  // a dictionary's next child is a key
    };
    std::vector<open_container> stack;
    int32_t root = -1;
    size_t i = *pos;
    // Room for the nodes of a text of this size (a token takes two bytes at least).
    tr->nodes.reserve(tr->nodes.size() + std::min<size_t>((n - i) / 4 + 8, 4096));
    // Attaches node v to the open container, or makes it the root. False on
    // a dictionary key that is no name.
    auto attach = [&](int32_t v) {
        if (stack.empty()) {
            root = v;
            return true;
        }
        open_container &c = stack.back();
        if (c.dict) {
            if (c.want_key && tr->nodes[static_cast<size_t>(v)].type != PV_NAME) return false;
            c.want_key = !c.want_key;
        }
        pv_push(tr, c.node, v);
        return true;
    };

    while (true) {
        i = skip_space(t, n, i);
        if (i >= n) return -1;
        const uint8_t c = t[i];
        const char *at = reinterpret_cast<const char *>(t + i);
        int32_t v = -1;
        if (c == '[' || (c == '<' && i + 1 < n && t[i + 1] == '<')) {
            if (static_cast<int>(stack.size()) >= PV_MAX_DEPTH) return -1;
            v = add_node(tr, c == '[' ? PV_ARRAY : PV_DICT, at, 0);
            if (!attach(v)) return -1;
            stack.push_back({v, c != '[', true});
            i += c == '[' ? 1 : 2;
            continue;
        }
        if (c == ']' || (c == '>' && i + 1 < n && t[i + 1] == '>')) {
            if (stack.empty()) return -1;
            const open_container &top = stack.back();
            if (top.dict != (c == '>') || (top.dict && !top.want_key)) return -1;
            i += c == ']' ? 1 : 2;
            stack.pop_back();
            if (stack.empty()) {
                *pos = i;
                return root;
            }
            continue;
        }
        size_t end;
        if (c == '(') {
            end = literal_end(t, n, i);
            if (end == 0) return -1;
            v = add_node(tr, PV_STRING, at, end - i);
        } else if (c == '<') {
            const void *gt = std::memchr(t + i + 1, '>', n - i - 1);
            if (!gt) return -1;
            end = static_cast<size_t>(static_cast<const uint8_t *>(gt) - t) + 1;
            v = add_node(tr, PV_STRING, at, end - i);
        } else if (c == '/') {
            end = token_end(t, n, i + 1);
            v = add_node(tr, PV_NAME, at, end - i);
            bool escaped = false;
            for (size_t k = i + 1; k < end; ++k) escaped |= t[k] == '#';
            tr->nodes.back().escaped = escaped;
        } else if (c == '{' || c == '}') {
            end = i + 1;
            v = add_node(tr, PV_OTHER, at, 1);
        } else if (is_delim(c)) {
            return -1;  // a stray ')' or '>'
        } else {
            end = token_end(t, n, i);
            double x;
            const int64_t num = read_uint(t, i, end);
            if (num >= 0) {
                // "N G R"?
                size_t j = skip_space(t, n, end);
                const size_t gend = token_end(t, n, j);
                if (j > end && read_uint(t, j, gend) >= 0) {
                    size_t r = skip_space(t, n, gend);
                    if (r > gend && r < n && t[r] == 'R' && (r + 1 == n || !is_regular(t[r + 1]))) {
                        v = add_node(tr, PV_REF, at, r + 1 - i);
                        tr->nodes.back().ref = static_cast<int32_t>(num);
                        end = r + 1;
                    }
                }
            }
            if (v >= 0) {
                // the reference made above
            } else if (read_number(t, i, end, &x)) {
                v = add_node(tr, PV_NUM, at, end - i);
                tr->nodes.back().num = x;
            } else {
                const size_t len = end - i;
                pv_type type = PV_OTHER;
                if ((len == 4 && std::memcmp(at, "null", 4) == 0)) type = PV_NULL;
                if ((len == 4 && std::memcmp(at, "true", 4) == 0) || (len == 5 && std::memcmp(at, "false", 5) == 0))
                    type = PV_BOOL;
                v = add_node(tr, type, at, len);
            }
        }
        if (!attach(v)) return -1;
        i = end;
        if (stack.empty()) {
            *pos = i;
            return root;
        }
    }
}

void pv_write(const pv_tree &tr, int32_t v, std::string *out) {
    // Each stack entry: a container and the child to write next.
    struct frame {
        int32_t c;
        int32_t child;
        bool started;
    };
    std::vector<frame> stack;
    auto open = [&](int32_t x) {
        const pv_node &nd = tr.nodes[static_cast<size_t>(x)];
        if (nd.type == PV_ARRAY || nd.type == PV_DICT) {
            *out += nd.type == PV_ARRAY ? "[" : "<<";
            stack.push_back({x, nd.first, false});
            return;
        }
        if (nd.type == PV_REF) {
            char tmp[16];
            const auto r = std::to_chars(tmp, tmp + sizeof tmp, nd.ref);
            out->append(tmp, r.ptr);
            *out += " 0 R";
        } else if (nd.type == PV_NUM && nd.made) {
            char tmp[NUMTEXT_SIZE];
            int len = number_text(nd.num, tmp);
            out->append(tmp, static_cast<size_t>(len));
        } else {
            out->append(nd.text, nd.len);
        }
    };
    open(v);
    while (!stack.empty()) {
        frame &f = stack.back();
        const pv_node &cn = tr.nodes[static_cast<size_t>(f.c)];
        if (f.child < 0) {
            *out += cn.type == PV_ARRAY ? "]" : (cn.first < 0 ? ">>" : " >>");
            stack.pop_back();
            continue;
        }
        const int32_t x = f.child;
        if (f.started || cn.type == PV_DICT) *out += ' ';
        f.started = true;
        f.child = tr.nodes[static_cast<size_t>(x)].next;
        open(x);  // may grow the stack: f is not used after this
    }
}

bool pv_is_name(const pv_tree &tr, int32_t v, const char *name) {
    if (v < 0) return false;
    const pv_node &nd = tr.nodes[static_cast<size_t>(v)];
    if (nd.type != PV_NAME || nd.len < 1) return false;
    const size_t n = nd.len - 1;
    if (nd.escaped) return name_equals(nd.text + 1, n, name);
    size_t k = 0;
    while (k < n && name[k] != 0 && name[k] == nd.text[k + 1]) ++k;
    return k == n && name[n] == 0;
}

int32_t pv_get(const pv_tree &tr, int32_t d, const char *name) {
    if (d < 0 || tr.nodes[static_cast<size_t>(d)].type != PV_DICT) return -1;
    for (int32_t k = tr.nodes[static_cast<size_t>(d)].first; k >= 0;) {
        const int32_t val = tr.nodes[static_cast<size_t>(k)].next;
        if (val < 0) break;
        if (pv_is_name(tr, k, name)) return val;
        k = tr.nodes[static_cast<size_t>(val)].next;
    }
    return -1;
}

namespace {

// Removes the entries of key `name` in dictionary d that follow child prev
// (-1: all of them); true when there was one.
bool remove_from(pv_tree *tr, int32_t d, int32_t prev, const char *name) {
    bool removed = false;
    int32_t k = prev < 0 ? tr->nodes[static_cast<size_t>(d)].first : tr->nodes[static_cast<size_t>(prev)].next;
    while (k >= 0) {
        const int32_t val = tr->nodes[static_cast<size_t>(k)].next;
        if (val < 0) break;
        if (pv_is_name(*tr, k, name)) {
            k = pv_unlink(tr, d, prev, 2);
            removed = true;
        } else {
            prev = val;
            k = tr->nodes[static_cast<size_t>(val)].next;
        }
    }
    return removed;
}

}  // namespace

bool pv_remove(pv_tree *tr, int32_t d, const char *name) {
    if (d < 0 || tr->nodes[static_cast<size_t>(d)].type != PV_DICT) return false;
    return remove_from(tr, d, -1, name);
}

void pv_set(pv_tree *tr, int32_t d, const char *name, int32_t v) {
    if (d < 0 || tr->nodes[static_cast<size_t>(d)].type != PV_DICT) return;
    for (int32_t k = tr->nodes[static_cast<size_t>(d)].first; k >= 0;) {
        const int32_t val = tr->nodes[static_cast<size_t>(k)].next;
        if (val < 0) break;
        if (pv_is_name(*tr, k, name)) {
            // v takes the old value's place; later entries of the key go.
            tr->nodes[static_cast<size_t>(v)].next = tr->nodes[static_cast<size_t>(val)].next;
            tr->nodes[static_cast<size_t>(k)].next = v;
            if (tr->nodes[static_cast<size_t>(d)].last == val) tr->nodes[static_cast<size_t>(d)].last = v;
            remove_from(tr, d, v, name);
            return;
        }
        k = tr->nodes[static_cast<size_t>(val)].next;
    }
    pv_push(tr, d, pv_name(tr, name));
    pv_push(tr, d, v);
}

int32_t pv_number(pv_tree *tr, double x) {
    const int32_t v = add_node(tr, PV_NUM, nullptr, 0);
    tr->nodes.back().num = x;
    tr->nodes.back().made = true;
    return v;
}

int32_t pv_name(pv_tree *tr, const char *name) { return made_text(tr, PV_NAME, std::string("/") + name); }

int32_t pv_ref(pv_tree *tr, int32_t num) {
    const int32_t v = add_node(tr, PV_REF, nullptr, 0);
    tr->nodes.back().ref = num;
    return v;
}

int32_t pv_null(pv_tree *tr) {
    static const char text[] = "null";
    return add_node(tr, PV_NULL, text, 4);
}

int32_t pv_array(pv_tree *tr) { return add_node(tr, PV_ARRAY, nullptr, 0); }

int32_t pv_dict(pv_tree *tr) { return add_node(tr, PV_DICT, nullptr, 0); }

int32_t pv_refs(pv_tree *tr, const std::vector<int32_t> &nums) {
    const int32_t a = pv_array(tr);
    for (int32_t n : nums) pv_push(tr, a, pv_ref(tr, n));
    return a;
}

void pv_push(pv_tree *tr, int32_t a, int32_t v) {
    pv_node &an = tr->nodes[static_cast<size_t>(a)];
    tr->nodes[static_cast<size_t>(v)].next = -1;
    if (an.last < 0) {
        an.first = v;
    } else {
        tr->nodes[static_cast<size_t>(an.last)].next = v;
    }
    tr->nodes[static_cast<size_t>(a)].last = v;
}

int32_t pv_unlink(pv_tree *tr, int32_t a, int32_t prev, int32_t count) {
    pv_node &an = tr->nodes[static_cast<size_t>(a)];
    int32_t x = prev < 0 ? an.first : tr->nodes[static_cast<size_t>(prev)].next;
    for (int32_t i = 0; i < count && x >= 0; ++i) x = tr->nodes[static_cast<size_t>(x)].next;
    if (prev < 0) {
        an.first = x;
    } else {
        tr->nodes[static_cast<size_t>(prev)].next = x;
    }
    if (x < 0) an.last = prev;
    return x;
}

int32_t pv_count(const pv_tree &tr, int32_t c) {
    int32_t k = 0;
    for (int32_t x = tr.nodes[static_cast<size_t>(c)].first; x >= 0; x = tr.nodes[static_cast<size_t>(x)].next) ++k;
    return k;
}

bool pv_numbers(const pv_tree &tr, int32_t a, double *out, int32_t max, int32_t *count) {
    if (a < 0 || tr.nodes[static_cast<size_t>(a)].type != PV_ARRAY) return false;
    int32_t k = 0;
    for (int32_t x = tr.nodes[static_cast<size_t>(a)].first; x >= 0; x = tr.nodes[static_cast<size_t>(x)].next) {
        if (tr.nodes[static_cast<size_t>(x)].type != PV_NUM || k >= max) return false;
        out[k++] = tr.nodes[static_cast<size_t>(x)].num;
    }
    *count = k;
    return true;
}

void pv_set_number(pv_tree *tr, int32_t v, double x) {
    pv_node &nd = tr->nodes[static_cast<size_t>(v)];
    nd.type = PV_NUM;
    nd.num = x;
    nd.made = true;
}

}  // namespace plenvo
