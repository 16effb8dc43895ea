#include "output/content_ahead.h"

#include "reader/helper_thread.h"

#include <new>
#include <utility>

namespace plenvo {

int32_t content_ahead_min_pages = 4096;

content_ahead::content_ahead(const doc *d, const page_keys *keys, content_cache *cache)
    : d_(d), keys_(keys), cache_(cache), n_(d->pages.count) {
    if (n_ < content_ahead_min_pages || std::thread::hardware_concurrency() == 1) return;
    try {
        spare_.reserve(READY + 2);
        if (d->helper && d->helper->post([](void *self) { static_cast<content_ahead *>(self)->run(); }, this))
            on_helper_ = true;
        else
            worker_ = std::thread(&content_ahead::run, this);
    } catch (...) {
        // No thread (or no room to prepare one): the pages are gathered here.
    }
}

content_ahead::~content_ahead() {
    {
        std::lock_guard<std::mutex> l(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (on_helper_) d_->helper->finish();
    if (worker_.joinable()) worker_.join();
    buf_free(&single_.owned);
}

// Gathers pages from `first` into b until it holds BATCH_PAGES of them or
// BATCH_BYTES of copies. What a page's gathering throws ends the batch there.
void content_ahead::fill(batch *b, int32_t first, page_content *pc) {
    b->first = first;
    b->pieces.clear();
    b->bytes.clear();
    b->failure = nullptr;
    try {
        b->pieces.reserve(BATCH_PAGES);
        const uint8_t *in_lo = d_->data, *in_hi = d_->data + d_->len;
        for (int32_t k = first; k < n_ && k - first < BATCH_PAGES; ++k) {
            if (k > first && b->bytes.size() >= BATCH_BYTES) break;
            piece p{nullptr, 0, 0, 0};
            // A page without its object stops the writer before its content is asked.
            if (const objent *e = doc_lookup(d_, d_->pages.items[k].objnum)) {
                gather_content_reusing(d_, e, keys_[k].contents, cache_, pc);
                p.too_long = pc->too_long;
                p.len = pc->data && pc->len > 0 ? pc->len : 0;
                if (p.len > 0 && pc->data >= in_lo && pc->data + p.len <= in_hi) {
                    p.in_input = pc->data;
                } else if (p.len > 0) {
                    p.at = b->bytes.size();
                    b->bytes.insert(b->bytes.end(), pc->data, pc->data + p.len);
                }
            }
            b->pieces.push_back(p);
        }
    } catch (...) {
        b->failure = std::current_exception();
    }
}

void content_ahead::run() {
    page_content pc{};
    int32_t first = 0;
    try {
        while (first < n_) {
            batch b;
            {
                std::unique_lock<std::mutex> l(mu_);
                cv_.wait(l, [this] { return stop_ || ready_.size() < READY; });
                if (stop_) break;
                if (!spare_.empty()) {
                    b = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            fill(&b, first, &pc);
            first += static_cast<int32_t>(b.pieces.size());
            const bool failed = static_cast<bool>(b.failure);
            {
                std::lock_guard<std::mutex> l(mu_);
                ready_.push_back(std::move(b));
            }
            cv_.notify_all();
            if (failed) break;
        }
    } catch (...) {
        // Only the queue's own growth can fail here; the writer then hears
        // "out of memory" at the first page it does not get.
    }
    buf_free(&pc.owned);
    {
        std::lock_guard<std::mutex> l(mu_);
        done_ = true;
    }
    cv_.notify_all();
}

content_view content_ahead::page(int32_t k) {
    if (!threaded()) {
        const objent *e = doc_lookup(d_, d_->pages.items[k].objnum);
        if (!e) return content_view{nullptr, 0, 0};
        gather_content_reusing(d_, e, keys_[k].contents, cache_, &single_);
        const int32_t len = single_.data && single_.len > 0 ? single_.len : 0;
        return content_view{single_.data, len, single_.too_long};
    }
    for (;;) {
        if (have_current_) {
            const int64_t i = static_cast<int64_t>(k) - current_.first;
            if (i >= 0 && i < static_cast<int64_t>(current_.pieces.size())) {
                const piece &p = current_.pieces[static_cast<size_t>(i)];
                const uint8_t *data = p.in_input ? p.in_input : p.len > 0 ? current_.bytes.data() + p.at : nullptr;
                return content_view{data, p.len, p.too_long};
            }
            if (current_.failure) std::rethrow_exception(current_.failure);
            {
                std::lock_guard<std::mutex> l(mu_);
                // Room was reserved for every batch that can be out at once.
                spare_.push_back(std::move(current_));
                have_current_ = false;
            }
            cv_.notify_all();
        }
        std::unique_lock<std::mutex> l(mu_);
        cv_.wait(l, [this] { return !ready_.empty() || done_; });
        if (ready_.empty()) throw std::bad_alloc();
        current_ = std::move(ready_.front());
        ready_.pop_front();
        have_current_ = true;
        l.unlock();
        cv_.notify_all();
    }
}

}  // namespace plenvo
