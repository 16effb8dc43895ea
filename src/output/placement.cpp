// Page placement: where and how large each input page is drawn on its new
// page, the form's /BBox and /Matrix, and the one-line content stream that
// draws the form.
#include <cmath>
#include <cstring>

#include "base/number_text.h"
#include "output/placement.h"
#include "output/scale.h"
#include "reader/page_tree.h"

namespace plenvo {

namespace {

// Largest magnitude (exclusive) of a value written into the output: the
// number text writes smaller values as plain decimals of at most 63
// characters.
constexpr double PLACE_MAX = 1e50;

}  // namespace

// The rotation that is carried out: 90, 180 or 270, and 0 for everything
// else (no rotation, or an angle that is not a multiple of 90).
int effective_rotation(const doc *d, const pageinfo *p) {
    const int own = page_rotate_own(d, p);
    int r = own >= 0 ? own % 360 : ((p->rotate % 360) + 360) % 360;
    return (r == 90 || r == 180 || r == 270) ? r : 0;
}

// Computes the placement of page p for the given mode and target. Takes the
// page's own /Rotate from its object (doc_lookup) and falls back to the
// inherited p->rotate when it has none. Returns 0 with *out filled, or -1
// when the fit-mode scale is not > 0 (or NaN) or any computed value is not
// finite or reaches PLACE_MAX in magnitude. Never writes anything but *out.
int compute_placement(const doc *d, const pageinfo *p, int mode, double W, double H, double f,
                      placement *out) {
    placement pl{};
    pl.r = effective_rotation(d, p);
    pl.bw = p->urx - p->llx;
    pl.bh = p->ury - p->lly;
    if (pl.r == 90 || pl.r == 270) {
        pl.cw = pl.bh;
        pl.ch = pl.bw;
    } else {
        pl.cw = pl.bw;
        pl.ch = pl.bh;
    }

    double ex = 0.0, ey = 0.0;
    if (mode == MODE_PERCENT) {
        pl.s = f;
        pl.pw = f * pl.cw;
        pl.ph = f * pl.ch;
    } else {
        double sx = W / pl.cw, sy = H / pl.ch;
        pl.s = sx < sy ? sx : sy;
        if (!(pl.s > 0.0)) return -1;  // also rejects NaN
        pl.pw = W;
        pl.ph = H;
        ex = (pl.pw - pl.cw * pl.s) * 0.5;
        ey = (pl.ph - pl.ch * pl.s) * 0.5;
    }

    double a = p->llx * pl.s, b = p->lly * pl.s;
    switch (pl.r) {
    case 90:
        pl.tx = ex - b;
        pl.ty = ey + a;
        break;
    case 180:
        pl.tx = ex + a;
        pl.ty = ey + b;
        break;
    case 270:
        pl.tx = ex + b;
        pl.ty = ey - a;
        break;
    default:
        pl.tx = ex - a;
        pl.ty = ey - b;
        break;
    }

    // Every one of these is written into the output, where a number must be
    // a plain decimal: beyond PLACE_MAX the number text would need an exponent.
    const double all[] = {p->llx, p->lly, p->urx, p->ury, pl.bw, pl.bh, pl.s, pl.pw, pl.ph, pl.tx, pl.ty};
    for (double v : all)
        if (!(std::fabs(v) < PLACE_MAX)) return -1;  // also rejects NaN and infinities
    *out = pl;
    return 0;
}

// Writes the placement line "q s 0 0 s tx ty cm /F0 Do Q\n" into out
// (PLACE_LINE_SIZE bytes) and returns its length; no NUL is written.
size_t place_line(double s, double tx, double ty, char *out) {
    char *p = out;
    auto put = [&p](const char *text, size_t n) {
        std::memcpy(p, text, n);
        p += n;
    };
    put("q ", 2);
    p += number_text(s, p);
    put(" 0 0 ", 5);
    p += number_text(s, p);
    *p++ = ' ';
    p += number_text(tx, p);
    *p++ = ' ';
    p += number_text(ty, p);
    put(" cm /F0 Do Q\n", 13);
    return static_cast<size_t>(p - out);
}

// The start of the form XObject's dictionary, "<< /Type /XObject /Subtype
// /Form /BBox [...]" and its /Matrix (none for rotation 0), written into out
// (FORM_HEAD_SIZE bytes); returns its length. No NUL is written.
size_t form_head(const pageinfo *p, const placement &pl, char *out) {
    char *q = out;
    auto put = [&q](const char *text) {
        const size_t n = std::strlen(text);
        std::memcpy(q, text, n);
        q += n;
    };
    auto num = [&q](double x) { q += number_text(x, q); };
    put("<< /Type /XObject /Subtype /Form /BBox [");
    num(p->llx);
    *q++ = ' ';
    num(p->lly);
    *q++ = ' ';
    num(p->urx);
    *q++ = ' ';
    num(p->ury);
    *q++ = ']';
    switch (pl.r) {
    case 90:
        put(" /Matrix [0 -1 1 0 0 ");
        num(pl.bw);
        *q++ = ']';
        break;
    case 180:
        put(" /Matrix [-1 0 0 -1 ");
        num(pl.bw);
        *q++ = ' ';
        num(pl.bh);
        *q++ = ']';
        break;
    case 270:
        put(" /Matrix [0 1 -1 0 ");
        num(pl.bh);
        put(" 0]");
        break;
    default:
        break;
    }
    return static_cast<size_t>(q - out);
}

}  // namespace plenvo
