// Page boxes and inherited page attributes: reading PDF rectangles, and
// filling a page's entry of the page list from its dictionary.
#pragma once

#include <cstdint>

#include "reader/doc.h"

namespace plenvo {

// A rectangle with llx <= urx and lly <= ury.
struct rect {
    double llx, lly, urx, ury;
};

// What a /Pages node hands down to the nodes and pages below it.
struct page_attrs {
    int32_t rotate;     // 0..359
    int has_media;      // 1 when media holds an inherited /MediaBox
    rect media;
    int has_crop;       // 1 when crop holds an inherited /CropBox
    rect crop;
    int32_t res_node;   // nearest /Pages node with /Resources, -1 when none
};

// The value of an indirect object: a member's whole text; for a direct object
// the bytes after its "obj" keyword up to its "endobj" (or the end of the
// file). start = -1 when the "obj" keyword cannot be found.
text_range value_range(const doc *d, const objent *e);

// The object number N when t[pos, end) begins, after white space, with a
// reference "N G R" (N > 0, "R" followed by a non-alphanumeric byte or end);
// else -1.
int32_t ref_at(const uint8_t *t, int32_t end, int32_t pos);

// The attributes at the top of the tree: rotation 0, no boxes, no resources.
page_attrs root_attrs();

// Reads a PDF rectangle from the array whose "[" stands at pos in t[0, end).
// Takes the first four numbers, normalises the corners and returns 1 when
// the width and height are both finite and greater than 0; else 0
// (*out untouched). Never reads at or past end.
int read_rect_at(const uint8_t *t, int32_t end, int32_t pos, rect *out);

// Looks for the key `name` (/MediaBox, /CropBox) in the object's dictionary
// text. Returns 1 with *out set from the first occurrence whose value (an
// array, or a reference to an array object) qualifies; 0 when the key occurs
// but no value qualifies; -1 when the key does not occur.
int find_rect(const doc *d, const objent *e, const char *name, rect *out);

// Writes the page box of the page object e into p->llx..ury: the own crop box
// (else the inherited one) clipped to the own media box (else the inherited
// one); either alone when the other is missing or they do not overlap;
// 0 0 595 842 when neither exists; and the page's own rotation
// (obj_rotate_own's answer) and the places of its /Contents and /Resources
// keys (find_page_keys' answers) into p, setting p->dict_read. Touches no
// other field.
void fill_pageinfo(const doc *d, const objent *e, const page_attrs *inherited, pageinfo *p);

}  // namespace plenvo
