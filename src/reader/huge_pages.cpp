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

void prefault(void *p, size_t n) {
    if (!p || n == 0) return;
    constexpr uintptr_t PAGE = 4096;
#if defined(__linux__)
#if defined(MADV_POPULATE_WRITE)
    constexpr int POPULATE_WRITE = MADV_POPULATE_WRITE;
#else
    constexpr int POPULATE_WRITE = 23;  // older headers, newer kernel
#endif
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + PAGE - 1) & ~(PAGE - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(PAGE - 1);
    if (end > begin && madvise(reinterpret_cast<void *>(begin), end - begin, POPULATE_WRITE) == 0) return;
#endif
    volatile uint8_t *b = static_cast<uint8_t *>(p);
    for (size_t i = 0; i < n; i += PAGE) b[i] = 0;
    b[n - 1] = 0;
}

}  // namespace plenvo
