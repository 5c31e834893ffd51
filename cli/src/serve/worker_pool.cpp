#include "serve/worker_pool.hpp"

#include <algorithm>

namespace zembra::serve {

WorkerPool::WorkerPool(size_t workers, size_t queueCapacity) : capacity_(queueCapacity) {
    workers = std::max<size_t>(workers, 1);
    threads_.reserve(workers);
    for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
}

bool WorkerPool::trySubmit(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= capacity_) return false;
        queue_.push_back(std::move(task));
    }
    ready_.notify_one();
    return true;
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            task();
        } catch (...) {
            // Tasks report their own failures; one that escapes must not end the thread.
        }
    }
}

}  // namespace zembra::serve
