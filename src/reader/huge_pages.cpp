#include "reader/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plenvo {

void hint_huge_pages(void *p, size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t HUGE = uintptr_t(2) << 20;
    if (!p || n < 2 * HUGE) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + HUGE - 1) & ~(HUGE - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(HUGE - 1);
    if (end > begin) (void)madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

}  // namespace plenvo
