#pragma once

// The upload worker: each channel-2 request becomes one multipart/form-data POST (a single attempt),
// whose reply is parsed like a command reply; a failed upload becomes an InTimeoutPacket.

#include "net/base_net_thread.h"
#include "net/net_queues.h"

namespace morvale {

class SendFileThread : public BaseNetThread {
  public:
    SendFileThread();
    ~SendFileThread() override;

    void SetQueues(OutQueue* in, InQueue* out) {
        in_ = in;
        out_ = out;
    }

    // One upload; the reply body's lines go to `reply`.
    int Upload(const OutPacket& packet, ReplyLines& reply);

  protected:
    void Execute() override;

  private:
    OutQueue* in_ = nullptr;
    InQueue* out_ = nullptr;
};

}  // namespace morvale
