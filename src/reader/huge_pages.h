// Hints about large blocks about to be filled whole.
#pragma once

#include <cstddef>

namespace plenvo {

// Asks the system to back the block [p, p + n) with large pages where it can
// (Linux transparent huge pages), so that filling a block of many megabytes
// costs a few page faults instead of one per 4 KiB. Only whole 2 MiB-aligned
// stretches inside the block are touched by the hint; smaller blocks and
// other systems are left alone. Never fails, never changes the contents.
void hint_huge_pages(void *p, size_t n);

// Makes the pages of [p, p + n) present and writable now, so that the
// thread that fills the block later takes no page faults there: one system
// call on Linux (MADV_POPULATE_WRITE, 5.14 and later), else a write of one
// zero byte per 4 KiB page. The block must be writable memory of the caller
// that nothing reads before it is filled. Never fails.
void prefault(void *p, size_t n);

}  // namespace plenvo
