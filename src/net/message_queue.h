#pragma once

// Thread-safe first-in-first-out list of owned packets, used for the hub's four queues. Every
// operation holds the lock for its whole duration and no code path holds two queue locks at once.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace morvale {

template <class Packet>
class MessageQueue {
  public:
    using Ptr = std::unique_ptr<Packet>;
    using List = std::vector<Ptr>;

    MessageQueue() = default;
    ~MessageQueue() { Clear(); }
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Appends one packet at the tail. Always succeeds (returns 0).
    int Push(Ptr packet) {
        if (!packet) return 0;
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(packet));
        }
        ready_.notify_all();
        return 0;
    }

    // Appends every packet of the list, in order, in one locked step, so the packets of one reply
    // are never interleaved with another worker's. Returns 0.
    int PushAll(List packets) {
        {
            std::lock_guard lock(mutex_);
            for (auto& packet : packets) {
                if (packet) items_.push_back(std::move(packet));
            }
        }
        ready_.notify_all();
        return 0;
    }

    // Moves every queued packet, in queue order, out to the caller; empty when nothing was queued.
    List TakeAll() {
        List taken;
        std::lock_guard lock(mutex_);
        taken.swap(items_);
        return taken;
    }

    // Waits until a packet is queued, Wake() is called or the time is up; true when packets wait.
    // Lets a consumer sleep while the queue stays empty instead of looking at it again and again.
    bool WaitForItems(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return !items_.empty() || woken_; });
        woken_ = false;
        return !items_.empty();
    }

    // Ends a WaitForItems in progress, or the next one, at once.
    void Wake() {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        ready_.notify_all();
    }

    // Destroys every queued packet. The packets are destroyed outside the lock.
    void Clear() { List dropped = TakeAll(); }

    size_t Size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    List items_;
    bool woken_ = false;
};

}  // namespace morvale
