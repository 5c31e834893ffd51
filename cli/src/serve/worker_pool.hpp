// A fixed set of threads with a bounded queue: work beyond the queue is refused at once
// rather than waiting, so the server can answer 503 instead of piling up requests.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zembra::serve {

class WorkerPool {
  public:
    // `workers` threads (at least one); at most `queueCapacity` tasks wait for a thread.
    WorkerPool(size_t workers, size_t queueCapacity);
    // Runs what is still queued, then joins the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues `task`; false, and the task dropped, when the queue is full. A task must not
    // throw: what it raises is caught and lost.
    bool trySubmit(std::function<void()> task);

    size_t workers() const noexcept { return threads_.size(); }

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    size_t capacity_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace zembra::serve
