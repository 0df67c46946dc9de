#pragma once

// Drains the incoming queue every 5 ms and hands each non-empty batch to the callback; without a
// callback the batch is discarded. While the queue stays empty the thread sleeps until a packet is
// queued (an idle session costs no wake-ups), then takes it at once and resumes the 5 ms cadence.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/net_queues.h"

namespace morvale {

class EventThread {
  public:
    explicit EventThread(InQueue* incoming);
    ~EventThread();
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    void SetCallback(BatchCallback callback);
    // Starts the thread (once); later calls do nothing.
    void Start();
    // Asks the thread to end and waits for it (a callback in progress finishes first). Idempotent.
    void Stop();

    static constexpr int kPollMs = 5;
    // Longest sleep on an empty queue; a packet or Stop() ends it sooner.
    static constexpr int kIdleWaitMs = 1000;

  private:
    void Run();

    InQueue* incoming_;
    std::mutex mutex_;
    std::condition_variable cv_;
    BatchCallback callback_;
    bool started_ = false;
    bool terminated_ = false;
    std::thread thread_;
};

}  // namespace morvale
