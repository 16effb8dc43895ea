// Geometry of carried objects: the matrix that places a page's content,
// applied to the rectangles, points and lengths of annotations and
// destinations.
#include <algorithm>

#include "output/carried.h"

namespace plenvo {

// The form's /Matrix for rotation r (see form_head), followed by the scale
// s and the translation tx, ty of the placement line.
page_geometry placement_geometry(const placement &pl) {
    double fa = 1, fb = 0, fc = 0, fd = 1, fe = 0, ff = 0;
    switch (pl.r) {
    case 90:
        fa = 0, fb = -1, fc = 1, fd = 0, fe = 0, ff = pl.bw;
        break;
    case 180:
        fa = -1, fb = 0, fc = 0, fd = -1, fe = pl.bw, ff = pl.bh;
        break;
    case 270:
        fa = 0, fb = 1, fc = -1, fd = 0, fe = pl.bh, ff = 0;
        break;
    default:
        break;
    }
    const double s = pl.s;
    return {fa * s, fb * s, fc * s, fd * s, fe * s + pl.tx, ff * s + pl.ty, s, pl.r};
}

// Moves the n numbers in place; see carried.h.
bool carry_geometry(const page_geometry &g, geom_kind kind, double *v, int32_t n) {
    auto move = [&g](double x, double y, double *ox, double *oy) {
        *ox = g.a * x + g.c * y + g.e;
        *oy = g.b * x + g.d * y + g.f;
    };
    switch (kind) {
    case GEOM_RECT: {
        if (n != 4) return false;
        double xs[4], ys[4];
        move(v[0], v[1], &xs[0], &ys[0]);
        move(v[2], v[1], &xs[1], &ys[1]);
        move(v[2], v[3], &xs[2], &ys[2]);
        move(v[0], v[3], &xs[3], &ys[3]);
        v[0] = *std::min_element(xs, xs + 4);
        v[1] = *std::min_element(ys, ys + 4);
        v[2] = *std::max_element(xs, xs + 4);
        v[3] = *std::max_element(ys, ys + 4);
        return true;
    }
    case GEOM_POINTS:
        if (n % 2 != 0) return false;
        for (int32_t i = 0; i < n; i += 2) move(v[i], v[i + 1], &v[i], &v[i + 1]);
        return true;
    case GEOM_LENGTH:
        for (int32_t i = 0; i < n; ++i) v[i] *= g.s;
        return true;
    case GEOM_SIDES: {
        if (n != 4) return false;
        // Insets left, top, right, bottom. Turning the page clockwise by 90
        // degrees brings its left side to the top.
        const double l = v[0], t = v[1], r = v[2], b = v[3];
        double out[4] = {l, t, r, b};
        switch (g.r) {
        case 90: out[0] = b, out[1] = l, out[2] = t, out[3] = r; break;
        case 180: out[0] = r, out[1] = b, out[2] = l, out[3] = t; break;
        case 270: out[0] = t, out[1] = r, out[2] = b, out[3] = l; break;
        default: break;
        }
        for (int i = 0; i < 4; ++i) v[i] = out[i] * g.s;
        return true;
    }
    }
    return false;
}

}  // namespace plenvo
