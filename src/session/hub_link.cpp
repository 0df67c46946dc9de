#include "session/hub_link.h"

#include "net/net.h"

namespace morvale {
namespace {

class HubLink : public NetLink {
  public:
    void SetCallback(BatchCallback callback) override { net.SetCallback(std::move(callback)); }
    void SetKeepalive(std::function<void()> keepalive) override { net.SetKeepalive(std::move(keepalive)); }
    void SendPacket(std::unique_ptr<OutPacket> packet) override { net.SendPacket(std::move(packet)); }
    void SetBaseUrl(const std::string& url) override { net.SetBaseUrl(url); }
    void SetProxy(const std::string& host, int port) override { net.SetProxy(host, port); }
    void ClearProxy() override { net.ClearProxy(); }
    void StartWorkers() override { net.StartWorkers(); }
    void ResumePush() override { net.ResumePush(); }
    void SuspendPush() override { net.SuspendPush(); }
    void StartKeepalive() override { net.StartKeepalive(); }
    void StopKeeplive() override { net.StopKeeplive(); }
    void SetPushChannel(const std::string& id) override { net.SetPushChannel(id); }
    void SetPushInterval(int ms) override { net.SetPushInterval(ms); }
    void SetCommandReadTimeout(int ms) override { net.SetCommandReadTimeout(ms); }
    void AddCookie(const std::string& cookie) override { net.AddCookie(cookie); }
    // The ticker and the event thread, the two that call into Client, stop first; the other workers
    // stop when the hub is destroyed with the link.
    void Shutdown() override {
        net.Pull().Stop();
        net.Events().Stop();
    }

    Net net;
};

}  // namespace

std::unique_ptr<NetLink> MakeHubLink() { return std::make_unique<HubLink>(); }

Net* HubOf(NetLink& link) {
    auto* hub = dynamic_cast<HubLink*>(&link);
    return hub != nullptr ? &hub->net : nullptr;
}

}  // namespace morvale
