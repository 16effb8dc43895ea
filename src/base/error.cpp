#include "base/error.h"

#include <cstdarg>
#include <cstdio>

namespace plenvo {

char g_err[ERR_SIZE];

void set_error(const char *fmt, ...) {
    char tmp[ERR_SIZE];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
    va_end(ap);
    if (n < 0) tmp[0] = '\0';
    // Formatting into a local first keeps an argument that points into g_err valid.
    for (int i = 0; i < ERR_SIZE; ++i) {
        g_err[i] = tmp[i];
        if (!tmp[i]) break;
    }
    g_err[ERR_SIZE - 1] = '\0';
}

void clear_error() { g_err[0] = '\0'; }

}  // namespace plenvo
