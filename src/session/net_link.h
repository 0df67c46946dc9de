#pragma once

// The part of the network hub that Client drives. The real hub is adapted to it (MakeNetLink);
// tests put a recording fake in its place, which is the network boundary of the session layer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/in_packet.h"
#include "protocol/out_packet.h"

namespace morvale {

class NetLink {
  public:
    using BatchCallback = std::function<void(InPacketList batch)>;

    virtual ~NetLink() = default;

    // Called on the hub's event thread with every non-empty batch of events, in queue order.
    virtual void SetCallback(BatchCallback callback) = 0;
    // What the keep-alive ticker does on each tick (called on the ticker's thread).
    virtual void SetKeepalive(std::function<void()> keepalive) = 0;
    virtual void SendPacket(std::unique_ptr<OutPacket> packet) = 0;
    virtual void SetBaseUrl(const std::string& url) = 0;
    virtual void SetProxy(const std::string& host, int port) = 0;
    virtual void ClearProxy() = 0;
    virtual void StartWorkers() = 0;
    virtual void ResumePush() = 0;
    virtual void SuspendPush() = 0;
    virtual void StartKeepalive() = 0;
    virtual void StopKeeplive() = 0;
    virtual void SetPushChannel(const std::string& sessionId) = 0;
    virtual void SetPushInterval(int milliseconds) = 0;
    virtual void SetCommandReadTimeout(int milliseconds) = 0;
    virtual void AddCookie(const std::string& cookie) = 0;
    // Stops the keep-alive ticker and the event thread; no callback or tick runs after it returns.
    virtual void Shutdown() = 0;
};

}  // namespace morvale
