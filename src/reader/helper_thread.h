// A second thread lent to the work on one large document: started when the
// document is loaded, so that it is already running when the first work that
// splits comes, and ended with the document.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <exception>
#include <thread>

namespace plenvo {

// Inputs of at least this many bytes get a helper thread. Tests change it to
// compare the work split and not split.
extern int64_t split_min_bytes;

class helper_thread {
public:
    // How long the helper waits for work (spinning) before it ends by itself.
    static constexpr int IDLE_MS = 40;

    // Starts the thread; when it cannot be started, every call below runs
    // the work on the calling thread (post returns false).
    helper_thread();
    // Ends the thread. No posted work may still run.
    ~helper_thread();
    helper_thread(const helper_thread &) = delete;
    helper_thread &operator=(const helper_thread &) = delete;

    // Hands fn(ctx) to the helper. True when the helper will run it (the
    // caller must then call finish or revoke_or_finish before ctx goes);
    // false when the helper has ended, cannot be reached from this process,
    // or still has work. One caller at a time.
    bool post(void (*fn)(void *), void *ctx);
    // Waits until the posted work has run.
    void finish();
    // Takes the posted work back when the helper has not begun it, else
    // waits until it has run.
    void revoke_or_finish();

    // Runs work(i) once for every i in [0, n), on this thread and on the
    // helper (when there is one and it is free), both taking the next index
    // from a shared counter. Returns once every call has ended; when calls
    // threw, rethrows what the lowest such index threw. work(i) must not
    // write what another index's call reads or writes.
    template <class Work>
    static void split(helper_thread *h, int32_t n, Work &&work);

private:
    enum : int { IDLE, POSTED, TAKEN, DONE, ENDED, STOP };
    void loop();

    std::atomic<int> state_{IDLE};
    std::mutex done_mu_;  // for a caller that sleeps until the work is done
    std::condition_variable done_cv_;
    void (*fn_)(void *) = nullptr;
    void *ctx_ = nullptr;
    long owner_ = 0;  // the process that started the thread
    std::thread thread_;
};

template <class Work>
void helper_thread::split(helper_thread *h, int32_t n, Work &&work) {
    std::atomic<int32_t> next{0};
    struct failure {
        int32_t index = INT32_MAX;
        std::exception_ptr what;
    } failed[2];
    struct taker {
        std::atomic<int32_t> *next;
        int32_t n;
        Work *work;
        failure *slot;
        void operator()() {
            for (int32_t i = next->fetch_add(1); i < n; i = next->fetch_add(1)) {
                try {
                    (*work)(i);
                } catch (...) {
                    if (i < slot->index) *slot = failure{i, std::current_exception()};
                }
            }
        }
    };
    taker mine{&next, n, &work, &failed[0]}, theirs{&next, n, &work, &failed[1]};
    const bool posted = h && n > 1 && h->post([](void *t) { (*static_cast<taker *>(t))(); }, &theirs);
    mine();
    if (posted) h->revoke_or_finish();
    const failure &first = failed[0].index <= failed[1].index ? failed[0] : failed[1];
    if (first.what) std::rethrow_exception(first.what);
}

}  // namespace plenvo
