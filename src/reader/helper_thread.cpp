#include "reader/helper_thread.h"

#include <chrono>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#endif
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace plenvo {

int64_t split_min_bytes = int64_t(1) << 20;

namespace {

// One step of a busy wait: tells the processor that this is one.
inline void relax() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

long this_process() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

}  // namespace

helper_thread::helper_thread() : owner_(this_process()) {
    if (std::thread::hardware_concurrency() == 1) {
        state_.store(ENDED);
        return;
    }
    try {
        thread_ = std::thread(&helper_thread::loop, this);
    } catch (...) {
        state_.store(ENDED);
    }
}

helper_thread::~helper_thread() {
    // The helper is idle, done or ended: no work may be running now.
    int s = state_.load(std::memory_order_acquire);
    while (s != ENDED && !state_.compare_exchange_weak(s, STOP, std::memory_order_acq_rel)) {
    }
    if (thread_.joinable()) thread_.join();
}

// Waits for work, runs it, and waits again; ends after IDLE_MS without work
// or when told to stop. The wait spins: a thread that sleeps takes long to
// wake on some machines, longer than the pieces of work it is there for.
void helper_thread::loop() {
    using clock = std::chrono::steady_clock;
    auto idle_since = clock::now();
    for (unsigned spins = 0;; ++spins) {
        int s = state_.load(std::memory_order_acquire);
        if (s == STOP) return;
        if (s == POSTED && state_.compare_exchange_strong(s, TAKEN, std::memory_order_acq_rel)) {
            fn_(ctx_);
            state_.store(DONE, std::memory_order_release);
            // Taking the lock once orders the store before a waiter's check.
            { std::lock_guard<std::mutex> l(done_mu_); }
            done_cv_.notify_all();
            idle_since = clock::now();
            continue;
        }
        relax();
        if ((spins & 255) == 0) {
            if (clock::now() - idle_since > std::chrono::milliseconds(IDLE_MS)) {
                s = IDLE;
                if (state_.compare_exchange_strong(s, ENDED, std::memory_order_acq_rel)) return;
            }
            // Should both threads share one processor, the other gets it now.
            std::this_thread::yield();
        }
    }
}

bool helper_thread::post(void (*fn)(void *), void *ctx) {
    if (state_.load(std::memory_order_acquire) != IDLE || this_process() != owner_) return false;
    fn_ = fn;
    ctx_ = ctx;
    int s = IDLE;
    return state_.compare_exchange_strong(s, POSTED, std::memory_order_acq_rel);
}

void helper_thread::finish() {
    // Spins while the work is likely to end soon; then sleeps until it has:
    // a helper held up by other work on its processor (or sharing this one)
    // should not keep this thread spinning.
    for (unsigned spins = 0; spins < 4096; ++spins) {
        if (state_.load(std::memory_order_acquire) == DONE) {
            state_.store(IDLE, std::memory_order_release);
            return;
        }
        relax();
    }
    {
        std::unique_lock<std::mutex> l(done_mu_);
        done_cv_.wait(l, [this] { return state_.load(std::memory_order_acquire) == DONE; });
    }
    state_.store(IDLE, std::memory_order_release);
}

void helper_thread::revoke_or_finish() {
    int s = POSTED;
    if (state_.compare_exchange_strong(s, IDLE, std::memory_order_acq_rel)) return;
    finish();
}

}  // namespace plenvo
