#pragma once

// Shared pieces of the session tests: a recording network link, a recording listener, and reply
// bytes built frame by frame so that every event reaches Client through the real parser.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "protocol/in_packet.h"
#include "session/client.h"

namespace morvale::test {

class FakeNet : public NetLink {
  public:
    void SetCallback(BatchCallback callback) override { this->callback = std::move(callback); }
    void SetKeepalive(std::function<void()> keepalive) override { this->keepalive = std::move(keepalive); }
    void SendPacket(std::unique_ptr<OutPacket> packet) override { sent.push_back(std::move(packet)); }
    void SetBaseUrl(const std::string& url) override { calls.push_back("SetBaseUrl " + url); }
    void SetProxy(const std::string& host, int port) override {
        calls.push_back("SetProxy " + host + ":" + std::to_string(port));
    }
    void ClearProxy() override { calls.push_back("ClearProxy"); }
    void StartWorkers() override { calls.push_back("StartWorkers"); }
    void ResumePush() override { calls.push_back("ResumePush"); }
    void SuspendPush() override { calls.push_back("SuspendPush"); }
    void StartKeepalive() override { calls.push_back("StartKeepalive"); }
    void StopKeeplive() override { calls.push_back("StopKeeplive"); }
    void SetPushChannel(const std::string& id) override { calls.push_back("SetPushChannel " + id); }
    void SetPushInterval(int ms) override { calls.push_back("SetPushInterval " + std::to_string(ms)); }
    void SetCommandReadTimeout(int ms) override {
        calls.push_back("SetCommandReadTimeout " + std::to_string(ms));
    }
    void AddCookie(const std::string& cookie) override { calls.push_back("AddCookie " + cookie); }
    void Shutdown() override { calls.push_back("Shutdown"); }

    // The URLs of the requests sent so far, and forgets them.
    std::vector<std::string> TakeUrls() {
        std::vector<std::string> urls;
        for (const auto& p : sent) urls.push_back(p->GetUrl());
        sent.clear();
        return urls;
    }

    BatchCallback callback;
    std::function<void()> keepalive;
    std::vector<std::unique_ptr<OutPacket>> sent;
    std::vector<std::string> calls;
};

// Records each callback as "CbcName", ":vid" for a visitor, "[vids]" for a left list, "/1" for a
// time-out.
class Recorder : public ClientListener {
  public:
    void OnClientCallback(const CallbackInfo& info) override {
        std::string line(CallbackName(info.code));
        if (const Visitor* v = info.visitor()) line += ":" + v->vid;
        if (const auto* list = info.leftList()) {
            line += "[";
            for (std::size_t i = 0; i < list->size(); ++i) line += (i ? "," : "") + (*list)[i]->vid;
            line += "]";
        }
        if (const std::string* text = info.text()) line += " " + *text;
        if (info.status != 0) line += "/" + std::to_string(info.status);
        events.push_back(line);
        if (onCallback) onCallback(info);
    }
    std::string Joined() const {
        std::string out;
        for (const auto& e : events) out += (out.empty() ? "" : " ") + e;
        return out;
    }
    std::vector<std::string> events;
    std::function<void(const CallbackInfo&)> onCallback;
};

// One frame of a reply body with the fields joined by 0x06.
inline std::string Frame(int type, std::initializer_list<std::string> fields, int seq = 1) {
    std::string payload;
    bool first = true;
    for (const auto& f : fields) {
        if (!first) payload += '\x06';
        payload += f;
        first = false;
    }
    return "\x02" + std::to_string(type) + "\x05" + std::to_string(seq) + "\x05" +
           std::to_string(payload.size()) + "\x05" + payload + "\x03";
}

inline InPacketList Parse(const std::string& reply) { return ParsePackets(reply); }

// A visitor element with its attributes in position order.
inline std::string VisitorElement(const std::vector<std::string>& attrs) {
    std::string out = "<v";
    for (std::size_t i = 0; i < attrs.size(); ++i) out += " a" + std::to_string(i) + "=\"" + attrs[i] + "\"";
    return out + "/>";
}

inline std::string VisitorListXml(const std::vector<std::vector<std::string>>& visitors) {
    std::string out = "<?xml version=\"1.0\" encoding=\"gb2312\"?><vs>";
    for (const auto& v : visitors) out += VisitorElement(v);
    return out + "</vs>";
}

// A signed-in client (operator op1 "Alice" of site demo) with an inline executor, a fake network and
// a recorder registered.
class SessionTest : public testing::Test {
  protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeNet>();
        net = fake.get();
        client =
            std::make_unique<Client>(std::move(fake), executor, ClientOptions{"morvale", "http://base/seg"});
        client->RegisterWindow(&recorder);
        client->SetUser(std::make_unique<User>("demo", "op01", "secret"));
        Feed(Frame(
            104, {"1", "sess1", "asp1", "demo", "op1", "op01", "Alice", "1", "/faq/op01.xml", "3", "2000"}));
        recorder.events.clear();
        net->sent.clear();
        net->calls.clear();
    }

    // Hands a reply body to the client the way the hub does: parsed, then through the executor.
    void Feed(const std::string& reply) { net->callback(Parse(reply)); }

    InlineExecutor executor;
    FakeNet* net = nullptr;
    std::unique_ptr<Client> client;
    Recorder recorder;
};

}  // namespace morvale::test
