// The scaling exports and the error-text accessors. Each runs load, build,
// free on its own document; no exception leaves this file.
#include <cstring>
#include <new>

#include "base/error.h"
#include "base/number_text.h"
#include "output/scale.h"
#include "plenvo.h"
#include "reader/doc.h"

namespace plenvo {
namespace {

struct target { double w, h; };
constexpr target TARGETS[5] = {
    {595.28, 841.89},   // A4
    {612, 792},         // Letter
    {841.89, 1190.55},  // A3
    {419.53, 595.28},   // A5
    {612, 1008},        // Legal
};

// load -> build -> free. Returns the build's result; the doc is freed on every path.
int run_scale(const char *in, const char *out, int mode, double w, double h, double f) {
    doc d;
    std::memset(&d, 0, sizeof d);
    if (doc_load(in, &d) != 0) return 0;
    int rc = 0;
    try {
        rc = scale_doc(&d, out, mode, w, h, f);
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
        rc = 0;
    } catch (...) {
        set_error("failed to build output");
        rc = 0;
    }
    doc_free(&d);
    return rc;
}

// Runs fn, turning any exception into a failure with a message.
template <class Fn>
int guarded(Fn fn) {
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
    } catch (...) {
        set_error("internal error");
    }
    return 0;
}

}  // namespace
}  // namespace plenvo

using namespace plenvo;

extern "C" {

PLENVO_API int plenvo_init(void) {
    clear_error();
    return 1;
}

PLENVO_API void plenvo_cleanup(void) { clear_error(); }

PLENVO_API const char *plenvo_last_error(void) { return g_err; }

PLENVO_API int plenvo_to_size(const char *input_path, const char *output_path, int target_size) {
    return guarded([&] {
        if (!input_path || !output_path) {
            set_error("NULL path argument");
            return 0;
        }
        if (static_cast<unsigned>(target_size) > 4u) {
            set_error("target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got %d)",
                      target_size);
            return 0;
        }
        const target &t = TARGETS[target_size];
        return run_scale(input_path, output_path, MODE_FIT, t.w, t.h, 1.0);
    });
}

PLENVO_API int plenvo_percent(const char *input_path, const char *output_path, float percent) {
    return guarded([&] {
        if (!input_path || !output_path) {
            set_error("NULL path argument");
            return 0;
        }
        if (!(percent > 0.0f)) {
            set_error("percent must be > 0 (got %s)", format_g(static_cast<double>(percent)).c_str());
            return 0;
        }
        double f = static_cast<double>(percent) / 100.0;
        return run_scale(input_path, output_path, MODE_PERCENT, 0.0, 0.0, f);
    });
}

PLENVO_API int plenvo_custom(const char *input_path, const char *output_path, float width_pt,
                             float height_pt) {
    return guarded([&] {
        if (!input_path || !output_path) {
            set_error("NULL path argument");
            return 0;
        }
        if (!(width_pt > 0.0f) || !(height_pt > 0.0f)) {
            set_error("width_pt and height_pt must both be > 0 (got %s x %s)",
                      format_g(static_cast<double>(width_pt)).c_str(),
                      format_g(static_cast<double>(height_pt)).c_str());
            return 0;
        }
        return run_scale(input_path, output_path, MODE_FIT, static_cast<double>(width_pt),
                         static_cast<double>(height_pt), 1.0);
    });
}

}  // extern "C"
