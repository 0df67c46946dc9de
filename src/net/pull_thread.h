#pragma once

// The keep-alive ticker: once per interval (60 s) it runs the keep-alive operation it was given,
// which queues one keep-alive request; it makes no HTTP request itself. While paused it queues
// nothing, and resuming never sends a burst for the time spent paused.

#include <functional>
#include <mutex>

#include "net/base_net_thread.h"

namespace morvale {

class PullThread : public BaseNetThread {
  public:
    PullThread();
    ~PullThread() override;

    void SetKeepalive(std::function<void()> keepalive);

  protected:
    void Execute() override;

  private:
    std::mutex mutex_;
    std::function<void()> keepalive_;
};

}  // namespace morvale
