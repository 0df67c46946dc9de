#pragma once

// The command sender: takes the send queue's packets in order and performs one HTTP exchange per
// packet (GET for channel 0, form POST for channel 1) with the packet's own number of attempts.
// A reply's events go to the incoming queue in one step; a failed or empty reply becomes an
// InTimeoutPacket that owns the failed request.

#include "net/base_net_thread.h"
#include "net/net_queues.h"

namespace morvale {

class SendThread : public BaseNetThread {
  public:
    SendThread();
    ~SendThread() override;

    void SetQueues(OutQueue* in, InQueue* out) {
        in_ = in;
        out_ = out;
    }

  protected:
    void Execute() override;

  private:
    void Send(std::unique_ptr<OutPacket> packet, ReplyLines& reply);

    OutQueue* in_ = nullptr;
    InQueue* out_ = nullptr;
};

}  // namespace morvale
