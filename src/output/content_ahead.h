// Page contents for a build that writes its pages in order, decoded on a
// second thread ahead of the writer when the document is large enough.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "output/scale.h"

namespace plenvo {

// Documents of fewer pages are gathered on the calling thread: for them a
// second thread costs more than it saves. Tests set it to compare both ways.
extern int32_t content_ahead_min_pages;

// One page's gathered content: data/len stay valid until the next call of
// content_ahead::page. too_long as in page_content.
struct content_view {
    const uint8_t *data;
    int32_t len;
    int32_t too_long;
};

// Hands out the pages' contents (gather_content_reusing's results) in page
// order. With a worker, contents are gathered in batches of a few pages
// (holding at most BATCH_BYTES of copies each, but for one larger page) and at most
// READY batches wait, so memory stays bounded however large the document.
// Content that lies in the input is handed out in place, other content is
// copied into the batch. The results are those of gathering on the calling
// thread, page by page.
class content_ahead {
public:
    static constexpr int32_t BATCH_PAGES = 256;
    static constexpr uint64_t BATCH_BYTES = uint64_t(1) << 20;
    static constexpr size_t READY = 8;

    // Takes the document, each page's keys (as find_page_keys gives them)
    // and a counted cache, which it uses from then on. Starts the worker
    // when the document has content_ahead_min_pages pages or more, the
    // machine has more than one core and a thread can be started: on the
    // document's helper thread when that is still there, else on a new one.
    content_ahead(const doc *d, const page_keys *keys, content_cache *cache);
    // Stops and joins the worker; releases every copy.
    ~content_ahead();
    content_ahead(const content_ahead &) = delete;
    content_ahead &operator=(const content_ahead &) = delete;

    // The content of page k (0-based); k must grow by one from call to call.
    // Throws what gathering that page threw (std::bad_alloc).
    content_view page(int32_t k);

    bool threaded() const { return on_helper_ || worker_.joinable(); }

private:
    struct piece {
        const uint8_t *in_input;  // content lying in the input, else null
        uint64_t at;              // else its offset in the batch's bytes
        int32_t len;
        int32_t too_long;
    };
    struct batch {
        int32_t first = 0;
        std::vector<piece> pieces;
        std::vector<uint8_t> bytes;
        std::exception_ptr failure;  // thrown by page first + pieces.size()
    };

    void run();
    void fill(batch *b, int32_t first, page_content *pc);

    const doc *d_;
    const page_keys *keys_;
    content_cache *cache_;
    int32_t n_;

    // Calling thread only (no worker).
    page_content single_{};

    // Shared with the worker, under mu_.
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<batch> ready_;
    std::vector<batch> spare_;  // emptied batches, their storage kept for reuse
    bool stop_ = false;
    bool done_ = false;

    batch current_;  // calling thread: the batch being handed out
    bool have_current_ = false;
    bool on_helper_ = false;  // the worker runs on the document's helper thread
    std::thread worker_;
};

}  // namespace plenvo
