#pragma once

// Pieces for the session benchmarks: reply frames built field by field (so that every event reaches
// Client through the real parser) and a signed-in client whose requests go nowhere.

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

#include "protocol/in_packet.h"
#include "session/client.h"
#include "session/executor.h"

namespace morvale::bench {

// One frame of a reply body with the fields joined by 0x06.
std::string Frame(int type, std::initializer_list<std::string> fields, int seq = 1);

// A network link that drops every request (the benchmarks feed the replies themselves).
class NullNet : public NetLink {
  public:
    void SetCallback(BatchCallback) override {}
    void SetKeepalive(std::function<void()>) override {}
    void SendPacket(std::unique_ptr<OutPacket>) override {}
    void SetBaseUrl(const std::string&) override {}
    void SetProxy(const std::string&, int) override {}
    void ClearProxy() override {}
    void StartWorkers() override {}
    void ResumePush() override {}
    void SuspendPush() override {}
    void StartKeepalive() override {}
    void StopKeeplive() override {}
    void SetPushChannel(const std::string&) override {}
    void SetPushInterval(int) override {}
    void SetCommandReadTimeout(int) override {}
    void AddCookie(const std::string&) override {}
    void Shutdown() override {}
};

// A client signed in as operator op1 ("王小明") of site demo, applying batches inline.
struct SignedInClient {
    SignedInClient();
    void Feed(const std::string& reply) { client->ApplyPackets(ParsePackets(reply)); }

    InlineExecutor executor;
    std::unique_ptr<Client> client;
};

}  // namespace morvale::bench
