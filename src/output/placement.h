// Page placement: where and how large a page is drawn on its new page, and
// the texts it fixes (the drawing line, the form's /BBox and /Matrix).
#pragma once

#include <cstddef>

#include "base/number_text.h"
#include "reader/doc.h"

namespace plenvo {

struct placement {
    int r;            // effective rotation: 90, 180, 270, or 0 for anything else
    double bw, bh;    // page box width and height
    double cw, ch;    // displayed width and height
    double s;         // scale
    double pw, ph;    // new page size
    double tx, ty;    // translation
};

// Computes one page's placement (mode: MODE_FIT or MODE_PERCENT). Returns 0,
// or -1 when the page cannot be placed (fit-mode scale not > 0 or NaN, or any
// computed value not finite or too large, 1e50 or more in magnitude, to be
// written as a plain decimal).
int compute_placement(const doc *d, const pageinfo *p, int mode, double W, double H, double f,
                      placement *out);

// The rotation a page's placement carries out (90, 180, 270, else 0): the
// page's own /Rotate (p->own_rotate when the loader set it, else looked up),
// else the inherited one.
int effective_rotation(const doc *d, const pageinfo *p);

// Room for place_line's text.
constexpr size_t PLACE_LINE_SIZE = 4 * NUMTEXT_SIZE + 32;
// Writes "q s 0 0 s tx ty cm /F0 Do Q\n" (numbers by the number-text rule)
// into out; returns its length, no NUL.
size_t place_line(double s, double tx, double ty, char *out);

// Room for form_head's text.
constexpr size_t FORM_HEAD_SIZE = 10 * NUMTEXT_SIZE + 160;
// Writes the part of the form dictionary fixed by the page box and placement
// ("<< /Type /XObject /Subtype /Form /BBox [...]" and any /Matrix) into out;
// returns its length, no NUL.
size_t form_head(const pageinfo *p, const placement &pl, char *out);
// The pieces that follow form_head's text: the /Length key (then the
// length), the /Resources key (then the resources text, when there is one)
// and the end of the dictionary with the stream keyword.
constexpr char FORM_LENGTH_KEY[] = " /Length ";
constexpr char FORM_RESOURCES_KEY[] = " /Resources ";
constexpr char FORM_DICT_END[] = " >> stream\n";

}  // namespace plenvo
