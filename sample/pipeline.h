#pragma once
// The ordered, bounded pipeline: workers produce items 0..count-1 (a slice's row extents, say) at
// most a window ahead of the one consumer, which takes them in order; the consumer may also hand
// over side jobs (a slab's reduction), which workers run first: they are what the consumer waits
// for at the end. Without workers every item and job runs on the calling thread when it is asked
// for, so the results, and the order of everything the consumer sees, are the same for any number.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {

// The workers for N slices: threads, or one per core for 0, but never more than there are slices.
inline unsigned Workers(unsigned threads, std::int64_t N) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::int64_t>(threads, std::max<std::int64_t>(N, 1)));
}

// The rules of a sampler fed from memory: a positive stack size, then exactly N slices of at most
// W x H samples, then one Finish. Both in-memory samplers (one object, every object) keep them.
// With N = kAnySlices the stack is what was added: from one slice up to the last plane the hull's
// coordinates reach, the bound that a known N must keep to be reduced at all.
struct FeedRules {
    static void CheckSize(std::int32_t W, std::int32_t H, std::int64_t N) {
        if (W <= 0 || H <= 0 || (N <= 0 && N != kAnySlices))
            Fail(Error::Kind::Argument, "sampler: the stack size must be positive.");
    }
    // The slices the loops may size their work for: N, or as many as an open stack can hold.
    std::int64_t Slices() const { return N == kAnySlices ? kCoordinateLimit : N; }
    void CheckSlice(std::int32_t w, std::int32_t h) const {
        if (finished || added == Slices())
            Fail(Error::Kind::Argument, "sampler: more slices than the stack holds.");
        if (w < 0 || h < 0 || w > W || h > H)
            Fail(Error::Kind::Argument, "sampler: slice larger than the stack.");
    }
    void CheckFinish() {
        if (finished) Fail(Error::Kind::Argument, "sampler: already finished.");
        if (N == kAnySlices && added == 0)
            Fail(Error::Kind::Argument, "sampler: the stack size must be positive.");
        if (N != kAnySlices && added != N)
            Fail(Error::Kind::Argument, "sampler: fewer slices than the stack holds.");
        finished = true;
    }
    std::int32_t W, H;
    std::int64_t N;  // or kAnySlices
    std::int64_t added = 0;
    bool finished = false;
};

template <class Item>
class OrderedPipeline {
  public:
    // Produces item k, appending whole warning lines to *warnings; may throw.
    using Produce = std::function<Item(std::size_t k, std::string* warnings)>;

    // What the consumer takes: the item's warnings, then either the item or its failure.
    struct Taken {
        std::string warnings;
        std::unique_ptr<Item> item;  // null on failure
        std::exception_ptr failure;
    };

    OrderedPipeline(std::size_t count, unsigned threads, Produce produce)
        : produce_(std::move(produce)), items_(count), window_(2 * std::size_t{threads} + 2) {
        if (threads <= 1) return;
        try {
            for (unsigned t = 0; t < threads; ++t)
                workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for, or none and everything on this one: the same work.
        }
    }
    ~OrderedPipeline() { Stop(); }
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    // Item k, taken in order k = 0, 1, ...
    Taken Take(std::size_t k) {
        if (workers_.empty()) return Run(k);
        std::unique_lock<std::mutex> lock(mutex_);
        taken_ = k + 1;  // the window moves on
        changed_.notify_all();
        changed_.wait(lock, [&] { return items_[k].done; });
        Taken taken = std::move(items_[k].taken);
        items_[k].taken = Taken();
        return taken;
    }

    // Runs job on a worker, or at once without workers. A job must not throw.
    void Submit(std::function<void()> job) {
        if (workers_.empty()) {
            job();
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        ++pendingJobs_;
        changed_.notify_all();
    }

    // Waits until every submitted job has run.
    void Drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return pendingJobs_ == 0; });
    }

  private:
    struct Slot {
        bool done = false;
        Taken taken;
    };

    Taken Run(std::size_t k) {
        Taken taken;
        try {
            taken.item = std::make_unique<Item>(produce_(k, &taken.warnings));
        } catch (...) {
            taken.failure = std::current_exception();
        }
        return taken;
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] {
                return stop_ || !jobs_.empty() ||
                       (next_ < items_.size() && next_ < taken_ + window_);
            });
            if (stop_) return;
            if (!jobs_.empty()) {
                const std::function<void()> job = std::move(jobs_.front());
                jobs_.pop_front();
                lock.unlock();
                job();
                lock.lock();
                --pendingJobs_;
                changed_.notify_all();
                continue;
            }
            const std::size_t k = next_++;
            lock.unlock();
            Taken taken = Run(k);
            lock.lock();
            items_[k].taken = std::move(taken);
            items_[k].done = true;
            changed_.notify_all();
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
    }

    const Produce produce_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> items_;
    std::size_t next_ = 0, taken_ = 0;
    const std::size_t window_;
    std::deque<std::function<void()>> jobs_;
    std::size_t pendingJobs_ = 0;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace sampling
}  // namespace voxwrap
