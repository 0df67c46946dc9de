#include "session/executor.h"

namespace morvale {

void QueueExecutor::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
}

int QueueExecutor::RunFor(std::chrono::milliseconds timeout) {
    std::deque<std::function<void()>> batch;
    {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return !tasks_.empty() || woken_; });
        woken_ = false;
        batch.swap(tasks_);
    }
    int ran = 0;
    for (auto& task : batch) {
        task();
        ++ran;
    }
    return ran;
}

void QueueExecutor::Clear() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(tasks_);
}

void QueueExecutor::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    ready_.notify_one();
}

}  // namespace morvale
