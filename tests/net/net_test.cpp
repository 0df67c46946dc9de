#include "net/net.h"

#include <gtest/gtest.h>

#include <thread>

#include "net_test_support.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<OutPacket> Get(const std::string& path, int tries = 1, int kind = 0) {
    auto p = std::make_unique<OutPacket>();
    p->path = path;
    p->tries = tries;
    p->requestKind = kind;
    return p;
}

const InUnknownPacket* Unknown(const std::unique_ptr<InPacket>& p) {
    return dynamic_cast<const InUnknownPacket*>(p.get());
}

// A hub wired to a test server with a collecting callback.
struct Hub {
    TestHttpServer server;
    BatchCollector events;
    std::unique_ptr<Net> net = std::make_unique<Net>();

    Hub() {
        net->SetBaseUrl(server.BaseUrl());
        net->SetCallback([this](InPacketList batch) { events.Add(std::move(batch)); });
    }
};

TEST(Net, SendPacketFilesByChannelAndDiscardsOthers) {
    Net net;
    struct Row {
        int channel;
        size_t send, upload, download;
    } rows[] = {{CH_GET, 1, 0, 0},      {CH_POST, 2, 0, 0}, {CH_UPLOAD, 2, 1, 0},
                {CH_DOWNLOAD, 2, 1, 1}, {4, 2, 1, 1},       {-1, 2, 1, 1}};
    for (const auto& row : rows) {
        auto p = std::make_unique<OutPacket>();
        p->channel = row.channel;
        net.SendPacket(std::move(p));
        EXPECT_EQ(net.SendQueue().Size(), row.send) << row.channel;
        EXPECT_EQ(net.UploadQueue().Size(), row.upload) << row.channel;
        EXPECT_EQ(net.DownloadQueue().Size(), row.download) << row.channel;
    }
}

TEST(Net, CommandRepliesArriveAsBatchesInOrderAndFailuresCarryTheRequest) {
    Hub hub;
    hub.server.Enqueue("/one", ScriptedReply::Body(Frame(999, 1, "A") + Frame(999, 2, "B")));
    hub.server.Enqueue("/two", ScriptedReply::Body("", 500));
    hub.server.Enqueue("/three", ScriptedReply::Body(Frame(999, 3, "C")));
    // Queued before the workers start: they wait.
    hub.net->SendPacket(Get("/one"));
    hub.net->SendPacket(Get("/two", 1, 507));
    hub.net->SendPacket(Get("/three"));
    hub.net->StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(4));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_EQ(packets.size(), 4u);
    ASSERT_TRUE(Unknown(packets[0]));
    EXPECT_EQ(packets[0]->body, "A");
    EXPECT_EQ(packets[1]->body, "B");
    auto* timeout = dynamic_cast<InTimeoutPacket*>(packets[2].get());
    ASSERT_NE(timeout, nullptr);
    ASSERT_NE(timeout->request, nullptr);
    EXPECT_EQ(timeout->request->requestKind, 507);
    EXPECT_EQ(packets[3]->body, "C");
}

}  // namespace
}  // namespace morvale::test
