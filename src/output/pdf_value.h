// A small tree of PDF values, parsed from an object's text, changed in place
// and written back: what the carried document objects (annotations,
// destinations, outline items, fields, name-tree nodes) need to rewrite
// their keys and transform their numbers. Parsing and writing iterate with
// an explicit stack; nesting is bounded by PV_MAX_DEPTH and the node count
// by the text's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <string>
#include <vector>

namespace plenvo {

enum pv_type : uint8_t {
    PV_NULL,
    PV_BOOL,
    PV_NUM,
    PV_NAME,    // text with its '/'
    PV_STRING,  // literal or hex string, text with its delimiters
    PV_REF,     // "N G R": ref holds N
    PV_ARRAY,
    PV_DICT,    // children alternate key (a PV_NAME) and value
    PV_OTHER,   // any other token (a keyword, braces), kept as written
};

// Containers deeper than this are refused by the parser.
constexpr int PV_MAX_DEPTH = 64;

struct pv_node {
    pv_type type;
    bool made;          // PV_NUM set by pv_number or pv_set_number: written from num
    bool escaped;       // PV_NAME written with a #xx escape
    int32_t ref;        // PV_REF: the object number
    double num;         // PV_NUM: the value
    const char *text;   // the token as written, or a text made here (not for containers)
    uint32_t len;
    int32_t first, last;  // containers: first and last child, -1 when empty
    int32_t next;         // the next sibling, -1 at the end
};

// Nodes point into the parsed text, which must outlive the tree; texts made
// here live in `made`.
struct pv_tree {
    std::vector<pv_node> nodes;
    std::forward_list<std::string> made;
};

// Parses the value that starts at t[*pos] (white space and comments before
// it skipped) into tr, a dictionary or array with everything inside it.
// Returns its node, *pos moved past it; -1 when the text is malformed (an
// unterminated construct, a dictionary key that is no name, a stray
// delimiter) or nested deeper than PV_MAX_DEPTH. Never reads t[n] or beyond.
// Throws std::bad_alloc.
int32_t pv_parse(pv_tree *tr, const uint8_t *t, size_t n, size_t *pos);

// Appends the text of node v (and everything inside it) to out: tokens as
// written, numbers made here by the number text, references as "N 0 R",
// one space between tokens.
void pv_write(const pv_tree &tr, int32_t v, std::string *out);

// True when node v is the name `name` (given without '/'); #xx escapes of
// the written name are decoded before comparing.
bool pv_is_name(const pv_tree &tr, int32_t v, const char *name);

// The value of key `name` in dictionary d, or -1 (also when d is no dictionary).
int32_t pv_get(const pv_tree &tr, int32_t d, const char *name);

// Removes every entry of key `name` from dictionary d; true when one was there.
bool pv_remove(pv_tree *tr, int32_t d, const char *name);

// Makes v the value of key `name` in dictionary d: replaces the first
// entry's value (removing later entries of the key) or appends an entry.
void pv_set(pv_tree *tr, int32_t d, const char *name, int32_t v);

// New unattached nodes.
int32_t pv_number(pv_tree *tr, double x);
int32_t pv_name(pv_tree *tr, const char *name);  // name given without '/'
int32_t pv_ref(pv_tree *tr, int32_t num);
int32_t pv_null(pv_tree *tr);
int32_t pv_array(pv_tree *tr);
int32_t pv_dict(pv_tree *tr);

// A new array of references to the objects nums, in order.
int32_t pv_refs(pv_tree *tr, const std::vector<int32_t> &nums);

// Appends v to container a.
void pv_push(pv_tree *tr, int32_t a, int32_t v);

// Removes the `count` children of container a that follow child prev (-1:
// the first ones). Returns the child after them, or -1.
int32_t pv_unlink(pv_tree *tr, int32_t a, int32_t prev, int32_t count);

// Number of children of container c (a dictionary counts keys and values).
int32_t pv_count(const pv_tree &tr, int32_t c);

// The numbers of array a, in order, into out; false (out then undefined)
// when an element is not a number or there are more than max.
bool pv_numbers(const pv_tree &tr, int32_t a, double *out, int32_t max, int32_t *count);

// Sets number node v to x (written by the number text).
void pv_set_number(pv_tree *tr, int32_t v, double x);

}  // namespace plenvo
