// Work shared between the calling thread and one more.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>

namespace plenvo {

// Inputs of at least this many bytes are scanned in pieces on two threads.
// Tests lower it to compare both ways on small inputs.
extern int64_t split_min_bytes;

// Runs work(i) once for every i in [0, n), on this thread and, when `two`
// and a thread can be started, on one more; both take the next index from a
// shared counter, so a helper that starts late only takes what is left.
// Returns once every call has ended; when calls threw, rethrows what the
// lowest such index threw. work(i) must not write what another index's call
// reads or writes.
template <class Work>
void split_work(int32_t n, bool two, Work &&work) {
    std::atomic<int32_t> next{0};
    struct failure {
        int32_t index = INT32_MAX;
        std::exception_ptr what;
    } failed[2];
    auto take = [&](int slot) {
        for (int32_t i = next.fetch_add(1); i < n; i = next.fetch_add(1)) {
            try {
                work(i);
            } catch (...) {
                if (i < failed[slot].index) failed[slot] = failure{i, std::current_exception()};
            }
        }
    };
    std::thread helper;
    if (two && n > 1) {
        try {
            helper = std::thread(take, 1);
        } catch (...) {
            // No second thread: everything runs here.
        }
    }
    take(0);
    if (helper.joinable()) helper.join();
    const failure &first = failed[0].index <= failed[1].index ? failed[0] : failed[1];
    if (first.what) std::rethrow_exception(first.what);
}

}  // namespace plenvo
