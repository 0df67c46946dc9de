#pragma once

// The push subscription: a long-lived GET of "/sub.php?id=op_" + channel id that the server answers
// when it has events, or that runs into its 60 s read time-out and is made again at once. The URL is
// fixed when the thread first runs. The conditional headers are carried from one answer to the next
// request; the subscription sends and keeps no cookies.

#include <mutex>
#include <string>

#include "net/base_net_thread.h"
#include "net/net_queues.h"

namespace morvale {

class PushThread : public BaseNetThread {
  public:
    PushThread();
    ~PushThread() override;

    void SetOutput(InQueue* out) { out_ = out; }
    // Takes effect only before the thread first runs.
    void SetChannel(std::string id);
    std::string Channel() const;

  protected:
    void Execute() override;

  private:
    InQueue* out_ = nullptr;
    mutable std::mutex mutex_;
    std::string channel_;
};

}  // namespace morvale
