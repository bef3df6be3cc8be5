#include "base/durable.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

// The files waiting for their flush, and the threads that wait for them.
// Nothing here touches the window: only the thread that owns it ticks it.
struct written_files::background {
    std::mutex mutex;
    std::condition_variable work;  // a file queued, or the end
    std::condition_variable done;  // a file flushed
    std::deque<std::string> queue;
    std::size_t in_flight = 0;     // taken from the queue, not flushed yet
    std::exception_ptr failure;    // the first flush that failed
    bool stopping = false;
    std::vector<std::thread> threads;

    void run(disk_flush& flush) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping) return;
            const std::string path = std::move(queue.front());
            queue.pop_front();
            ++in_flight;
            lock.unlock();
            std::exception_ptr failed;
            try {
                flush.finish(path, [] {});
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            --in_flight;
            if (failed && !failure) failure = failed;
            done.notify_all();
        }
    }
};

written_files::written_files(disk_flush& flush) : flush_(flush) {
    const unsigned threads = flush.background_threads();
    if (threads == 0) return;
    background_ = std::make_unique<background>();
    for (unsigned i = 0; i < threads; ++i)
        background_->threads.emplace_back([this] { background_->run(flush_); });
}

// A failed unpacking leaves with files still queued: they are given up, and
// the threads end once their current flush returns.
written_files::~written_files() {
    if (!background_) return;
    {
        const std::lock_guard<std::mutex> lock(background_->mutex);
        background_->stopping = true;
    }
    background_->work.notify_all();
    for (std::thread& thread : background_->threads) thread.join();
}

void written_files::writing(const std::string& path) { flush_.begin(path); }

void written_files::wrote(const std::string& path) {
    flush_.begin(path);
    written_.push_back(path);
    if (!background_) {
        paths_.push_back(path);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(background_->mutex);
        background_->queue.push_back(path);
    }
    background_->work.notify_one();
}

void written_files::flush_all(progress_pacer& pacer) {
    const auto tick = [&pacer] { pacer.tick(); };
    // In the order written: the oldest has had the longest to get there.
    for (const std::string& path : paths_) {
        flush_.finish(path, tick);
        pacer.tick();
    }
    paths_.clear();
    if (!background_) {
        complete();
        return;
    }
    // The window answers while the threads finish: a short wait, then a tick.
    std::unique_lock<std::mutex> lock(background_->mutex);
    while (!background_->failure && (!background_->queue.empty() || background_->in_flight > 0)) {
        background_->done.wait_for(lock, std::chrono::milliseconds(10));
        lock.unlock();
        pacer.tick();
        lock.lock();
    }
    if (background_->failure) std::rethrow_exception(background_->failure);
    lock.unlock();
    complete();
}

void written_files::complete() {
    if (!written_.empty()) flush_.complete(written_);
    written_.clear();
}

std::size_t written_files::pending() const {
    if (!background_) return paths_.size();
    const std::lock_guard<std::mutex> lock(background_->mutex);
    return background_->queue.size() + background_->in_flight;
}
