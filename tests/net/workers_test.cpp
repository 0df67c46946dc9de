#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "net/net.h"
#include "net_test_support.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<OutPacket> Request(const std::string& path, int channel = CH_GET, int tries = 1,
                                   int kind = 0) {
    auto p = std::make_unique<OutPacket>();
    p->path = path;
    p->channel = channel;
    p->tries = tries;
    p->requestKind = kind;
    return p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

long long GapMs(const RecordedRequest& a, const RecordedRequest& b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b.when - a.when).count();
}

// A hub on a test server, with short loop intervals so that the tests run in moments.
struct Hub {
    TestHttpServer server;
    BatchCollector events;
    Net net;

    Hub() {
        net.SetBaseUrl(server.BaseUrl());
        net.SetCallback([this](InPacketList batch) { events.Add(std::move(batch)); });
        net.Send().SetInterval(10);
        net.SendFile().SetInterval(10);
        net.DownFile().SetInterval(10);
    }
};

// --- SendThread ---------------------------------------------------------------------------------

TEST(SendThread, AnEmptyReplyIsAFailedRequest) {
    LogCapture log;
    Hub hub;
    hub.server.SetDefault(ScriptedReply::Body(""));
    auto p = Request("/c/a.php?", CH_GET, 1, 515);
    p->params = {"x=1"};
    hub.net.SendPacket(std::move(p));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    auto* timeout = dynamic_cast<InTimeoutPacket*>(packets.at(0).get());
    ASSERT_NE(timeout, nullptr);
    EXPECT_EQ(timeout->request->requestKind, 515);
    EXPECT_EQ(hub.server.Requests().at(0).target, "/c/a.php?x=1");
    EXPECT_EQ(log.Records("NetSend", "L2"),
              std::vector<std::string>{"----/c/a.php?x=1 ■ \r\nx=1\r\n\r\n<<<<<网络异常"});
}

TEST(SendThread, SuccessLogQuotesTheReplyAndPostCarriesTheParameters) {
    LogCapture log;
    Hub hub;
    hub.server.SetDefault(ScriptedReply::Body("plain text, no frames"));
    auto p = Request("/c/asendmsg.php?", CH_POST, 1, 507);
    p->params = {"vid=v1", "msg=hi"};
    hub.net.SendPacket(std::move(p));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.server.WaitForRequests(1));
    ASSERT_TRUE(log.WaitForText("[NetSend] L2"));
    const RecordedRequest req = hub.server.Requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/c/asendmsg.php?");
    EXPECT_EQ(req.body, "vid=v1&msg=hi");
    EXPECT_EQ(log.Records("NetSend", "L2"),
              std::vector<std::string>{
                  "----/c/asendmsg.php? ■ \r\nvid=v1\r\nmsg=hi\r\n\r\n<<<<<\r\n【plain text, no "
                  "frames\r\n】"});
    EXPECT_EQ(hub.events.PacketCount(), 0u);  // no frames, no failure
}

TEST(SendThread, RetriesAPacketThenSendsTheOnesQueuedMeanwhile) {
    Hub hub;
    hub.server.Enqueue("/login", ScriptedReply::Body("", 503));
    hub.server.Enqueue("/login", ScriptedReply::Body("", 503));
    hub.server.SetDefault(ScriptedReply::Body(Frame(999, 1, "later")));
    hub.net.SendPacket(Request("/login", CH_GET, 2, 1));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.server.WaitForRequests(1));
    hub.net.SendPacket(Request("/after", CH_GET, 1));
    ASSERT_TRUE(hub.events.WaitForPackets(2));
    InPacketList packets = hub.events.TakePackets();
    EXPECT_NE(dynamic_cast<InTimeoutPacket*>(packets[0].get()), nullptr);
    EXPECT_EQ(packets[1]->body, "later");
    const auto requests = hub.server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, "/login");
    EXPECT_EQ(requests[1].path, "/login");
    EXPECT_EQ(requests[2].path, "/after");
    EXPECT_GE(GapMs(requests[0], requests[1]), 990);
}

TEST(SendThread, CommandReadTimeoutIsSetThroughTheHub) {
    Hub hub;
    hub.server.SetDefault(ScriptedReply::Silent());
    hub.net.SetCommandReadTimeout(200);
    EXPECT_EQ(hub.net.Send().ReadTimeout(), 200);
    hub.net.SendPacket(Request("/slow", CH_GET, 1, 516));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    EXPECT_NE(dynamic_cast<InTimeoutPacket*>(hub.events.TakePackets()[0].get()), nullptr);
    hub.server.ReleaseSilent();
}

// --- PullThread ---------------------------------------------------------------------------------

TEST(PullThread, TicksAtOnceThenOncePerIntervalAndNotWhilePaused) {
    Net net;
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> ticks;
    net.SetKeepalive([&] {
        std::lock_guard lock(mutex);
        ticks.push_back(std::chrono::steady_clock::now());
    });
    auto count = [&] {
        std::lock_guard lock(mutex);
        return ticks.size();
    };
    net.Pull().SetInterval(150);
    const auto start = std::chrono::steady_clock::now();
    net.StartKeepalive();
    ASSERT_TRUE(WaitUntil([&] { return count() >= 3; }));
    {
        std::lock_guard lock(mutex);
        EXPECT_LT(ticks[0] - start, 100ms);
        EXPECT_GE(ticks[1] - ticks[0], 140ms);
        EXPECT_GE(ticks[2] - ticks[1], 140ms);
    }
    net.StopKeeplive();
    const size_t atPause = count();
    // Paused across several intervals: at most the tick already under way, then nothing.
    ASSERT_FALSE(WaitUntil([&] { return count() > atPause + 1; }, 600ms));
    const size_t paused = count();
    net.StartKeepalive();
    ASSERT_TRUE(WaitUntil([&] { return count() >= paused + 1; }));
    // No burst for the time spent paused.
    EXPECT_FALSE(WaitUntil([&] { return count() >= paused + 2; }, 100ms));
}

TEST(PullThread, StopBeforeStartLogsAndStaysPaused) {
    LogCapture log;
    Net net;
    std::atomic<int> ticks{0};
    net.SetKeepalive([&] { ++ticks; });
    net.StopKeeplive();
    EXPECT_EQ(log.Records("Net", "L1"),
              std::vector<std::string>{"    Net::StopKeeplive() pthread->Suspend()"});
    EXPECT_FALSE(net.Pull().Started());
    EXPECT_EQ(ticks.load(), 0);
}

TEST(PullThread, DefaultKeepaliveFailsOverTheNetworkAsOneTimeoutOfKind515) {
    BatchCollector events;
    Net net;
    net.SetBaseUrl("http://127.0.0.1:" + std::to_string(UnusedPort()));
    net.SetCallback([&](InPacketList b) { events.Add(std::move(b)); });
    net.Send().SetInterval(10);
    net.StartWorkers();
    net.StartKeepalive();
    ASSERT_TRUE(events.WaitForPackets(1, 10s));
    InPacketList packets = events.TakePackets();
    auto* timeout = dynamic_cast<InTimeoutPacket*>(packets.at(0).get());
    ASSERT_NE(timeout, nullptr);
    EXPECT_EQ(timeout->request->requestKind, 515);
    EXPECT_EQ(timeout->request->GetUrl(), "/c/a.php?");
}

// --- PushThread ---------------------------------------------------------------------------------

TEST(PushThread, ConditionalHeadersAreCarriedAndNoCookieIsSent) {
    Hub hub;
    hub.net.AddCookie("ZendDebuggerCookie=");
    hub.net.SetPushChannel("S1");
    hub.net.SetPushInterval(20);
    ScriptedReply first = ScriptedReply::Body(Frame(999, 1, "pushed"));
    first.headers = {{"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"}, {"Etag", "\"e1\""}};
    hub.server.Enqueue("/sub.php", first);
    hub.server.Enqueue("/sub.php", ScriptedReply::Body(""));  // no validators: both headers dropped
    hub.server.SetDefault(ScriptedReply::Silent());
    hub.net.StartWorkers();
    hub.net.ResumePush();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    EXPECT_EQ(hub.events.TakePackets()[0]->body, "pushed");
    ASSERT_TRUE(hub.server.WaitForRequests(3));
    const auto r = hub.server.Requests();
    EXPECT_EQ(r[0].target, "/sub.php?id=op_S1");
    EXPECT_EQ(r[0].Header("If-Modified-Since"), "0");
    EXPECT_EQ(r[0].Header("If-None-Match"), "0");
    EXPECT_EQ(r[1].Header("If-Modified-Since"), "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(r[1].Header("If-None-Match"), "\"e1\"");
    EXPECT_FALSE(r[2].HasHeader("If-Modified-Since"));
    EXPECT_FALSE(r[2].HasHeader("If-None-Match"));
    for (const auto& req : r) {
        EXPECT_FALSE(req.HasHeader("Cookie"));
        EXPECT_FALSE(req.HasHeader("Accept"));
    }
    hub.server.ReleaseSilent();
}

TEST(PushThread, AReadTimeoutResubscribesAtOnceOtherOutcomesWaitTheInterval) {
    Hub hub;
    hub.net.SetPushChannel("S");
    hub.net.SetPushInterval(400);
    hub.net.Push().SetReadTimeout(150);
    hub.server.Enqueue("/sub.php", ScriptedReply::Silent());
    hub.server.Enqueue("/sub.php", ScriptedReply::Body("", 500));
    hub.server.SetDefault(ScriptedReply::Body(""));
    hub.net.StartWorkers();
    hub.net.ResumePush();
    ASSERT_TRUE(hub.server.WaitForRequests(3));
    const auto r = hub.server.Requests();
    EXPECT_LT(GapMs(r[0], r[1]), 150 + 250);  // time-out, then at once
    EXPECT_GE(GapMs(r[1], r[2]), 390);        // error, then the interval
    // The HTTP error became one InTimeoutPacket without a request.
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_FALSE(packets.empty());
    auto* timeout = dynamic_cast<InTimeoutPacket*>(packets[0].get());
    ASSERT_NE(timeout, nullptr);
    EXPECT_EQ(timeout->request, nullptr);
    hub.server.ReleaseSilent();
}

TEST(PushThread, RefusedConnectionsGiveOneTimeoutPerAttempt) {
    BatchCollector events;
    Net net;
    net.SetBaseUrl("http://127.0.0.1:" + std::to_string(UnusedPort()));
    net.SetCallback([&](InPacketList b) { events.Add(std::move(b)); });
    net.SetPushInterval(100);
    net.StartWorkers();
    net.ResumePush();
    ASSERT_TRUE(events.WaitForPackets(3));
    for (const auto& p : events.TakePackets()) {
        auto* t = dynamic_cast<InTimeoutPacket*>(p.get());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->request, nullptr);
    }
}

TEST(PushThread, TheUrlIsFixedAtFirstRunAndPausingAbandonsTheLongPoll) {
    Hub hub;
    hub.net.SetPushChannel("first");
    hub.net.SetPushInterval(10);
    hub.server.SetDefault(ScriptedReply::Silent());
    hub.net.StartWorkers();
    hub.net.ResumePush();
    ASSERT_TRUE(hub.server.WaitForRequests(1));
    hub.net.SetPushChannel("second");
    hub.net.SetBaseUrl("http://127.0.0.1:1");
    hub.net.SuspendPush();
    hub.server.ReleaseSilent();
    // Paused: the abandoned poll is not followed by another.
    EXPECT_FALSE(hub.server.WaitForRequests(2, 300ms));
    hub.net.ResumePush();
    ASSERT_TRUE(hub.server.WaitForRequests(2));
    for (const auto& req : hub.server.Requests()) EXPECT_EQ(req.target, "/sub.php?id=op_first");
}

// --- DownFileThread -----------------------------------------------------------------------------

TEST(DownFileThread, GzipRepliesAreStoredDecompressedAndOthersAsReceived) {
    LogCapture log;
    TempDir dir;
    Hub hub;
    ScriptedReply gz = ScriptedReply::Body("<faq>library</faq>");
    gz.gzip = true;
    hub.server.Enqueue("/faq/a.xml", gz);
    ScriptedReply deflate = ScriptedReply::Body("raw deflate bytes");
    deflate.headers = {{"Content-Encoding", "deflate"}};
    hub.server.Enqueue("/faq/b.xml", deflate);
    const std::string a = dir.File("a.xml");
    const std::string b = dir.File("b.xml");
    hub.net.SendPacket(std::make_unique<OutFAQFromUrlPacket>("/faq/a.xml", a));
    hub.net.SendPacket(std::make_unique<OutFAQFromUrlPacket>("/faq/b.xml", b));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(2));
    for (const auto& p : hub.events.TakePackets()) {
        auto* done = dynamic_cast<InDownFilePacket*>(p.get());
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(done->ok);
        EXPECT_EQ(done->request->requestKind, 503);
    }
    EXPECT_EQ(ReadFile(a), "<faq>library</faq>");
    EXPECT_FALSE(std::filesystem::exists(a + ".gz"));
    EXPECT_EQ(ReadFile(b), "raw deflate bytes");
    EXPECT_EQ(hub.server.Requests()[0].Header("Accept-Encoding"), "gzip,deflate");
    EXPECT_EQ(hub.server.Requests()[0].target, "/faq/a.xml");

    const std::string url = hub.server.BaseUrl() + "/faq/a.xml";
    const auto info = log.Records("NetDF", "Information");
    ASSERT_EQ(info.size(), 4u);
    EXPECT_EQ(info[0], "▼▼DF --> " + url + "    ---------    \r\n" + a);
    const std::string done = std::regex_replace(info[1], std::regex("^▼▼DF <-- [0-9]+ms"), "▼▼DF <-- <ms>ms");
    const std::string head = "▼▼DF <-- <ms>ms 2c - " + url +
                             "    ---------    \r\nHost: 127.0.0.1:" + std::to_string(hub.server.Port()) +
                             "\r\n";
    EXPECT_EQ(done.rfind(head, 0), 0u) << done;
    EXPECT_NE(done.find("Accept-Encoding: gzip,deflate\r\n\r\n<<<<\r\n"), std::string::npos);
    EXPECT_NE(done.find("Content-Encoding: gzip\r\n"), std::string::npos);
    EXPECT_EQ(done.substr(done.size() - a.size() - 4), "\r\n\r\n" + a);
    EXPECT_EQ(log.Records("NetDF", "L2").at(0), "----/faq/a.xml  --------  \r\n" + a);
}

TEST(DownFileThread, AMissingFolderFailsEveryAttemptThenReportsOnce) {
    LogCapture log;
    TempDir dir;
    Hub hub;
    const std::string local = dir.File("no/such/folder/faq.xml");
    hub.net.SendPacket(std::make_unique<OutFAQFromUrlPacket>("/faq.xml", local));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_FALSE(packets.empty());
    auto* done = dynamic_cast<InDownFilePacket*>(packets[0].get());
    ASSERT_NE(done, nullptr);
    EXPECT_FALSE(done->ok);
    EXPECT_EQ(hub.server.RequestCount(), 0u);
    const auto warnings = log.Records("NetDF", "Warning");
    ASSERT_EQ(warnings.size(), 3u);
    const std::string url = hub.server.BaseUrl() + "/faq.xml";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            warnings[i].rfind("▼▼DF <-- 0ms " + std::to_string(2 - i) + "c - " + url +
                                  "    ---------    \r\n" + local + "    ---------    \r\nCannot create file",
                              0),
            0u);
    }
    EXPECT_EQ(log.Records("NetDF", "L2"),
              std::vector<std::string>{"----/faq.xml  --------  \r\n" + local + "<<<<<网络异常"});
}

TEST(DownFileThread, ALinkPlantedAtTheFileNameIsNotFollowed) {
    LogCapture log;
    TempDir dir;
    Hub hub;
    const std::string target = dir.File("elsewhere.txt");
    std::ofstream(target) << "keep me";
    const std::string local = dir.File("faq.xml");
    std::filesystem::create_symlink(target, local);
    hub.net.SendPacket(std::make_unique<OutFAQFromUrlPacket>("/faq.xml", local));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    auto* done = dynamic_cast<InDownFilePacket*>(packets.at(0).get());
    ASSERT_NE(done, nullptr);
    EXPECT_FALSE(done->ok);
    EXPECT_EQ(hub.server.RequestCount(), 0u);
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
}

TEST(DownFileThread, ACutOffReplyOrAnErrorStatusIsRetriedAndNotKept) {
    TempDir dir;
    Hub hub;
    ScriptedReply cut = ScriptedReply::Body("<faq>only the first part of it</faq>");
    cut.mode = ScriptedReply::Mode::Truncate;
    cut.truncateAt = 10;
    hub.server.Enqueue("/f.xml", cut);
    hub.server.Enqueue("/f.xml", ScriptedReply::Body("error page", 404));
    hub.server.SetDefault(ScriptedReply::Body("content"));
    const std::string local = dir.File("f.xml");
    hub.net.SendPacket(std::make_unique<OutFAQFromUrlPacket>("/f.xml", local));
    hub.net.StartWorkers();
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_FALSE(packets.empty());
    auto* done = dynamic_cast<InDownFilePacket*>(packets[0].get());
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->ok);
    EXPECT_EQ(hub.server.RequestCount(), 3u);
    EXPECT_EQ(ReadFile(local), "content");
}

// --- The hub as a whole -------------------------------------------------------------------------

TEST(Net, AddCookieStoresForTheBaseUrlHostAndStaysThere) {
    Net net;
    net.SetBaseUrl("http://h.example:8080/prefix");
    net.AddCookie("ZendDebuggerCookie=");
    net.SetBaseUrl("http://other.example");
    EXPECT_EQ(net.Cookies().Lines(),
              std::vector<std::string>{"h.example\tFALSE\t/\tFALSE\t0\tZendDebuggerCookie\t"});
    EXPECT_EQ(Net::HostOf("http://u:p@[::1]:80/x"), "::1");
    EXPECT_EQ(Net::HostOf("http://127.0.0.1:5/c"), "127.0.0.1");
}

TEST(Net, WithoutACallbackEventsAreDiscardedNotKept) {
    Hub hub;
    hub.net.SetCallback(nullptr);
    hub.server.Enqueue("/a", ScriptedReply::Body(Frame(999, 1, "x")));
    hub.server.Enqueue("/b", ScriptedReply::Body("no frames"));
    hub.server.Enqueue("/c", ScriptedReply::Body(Frame(999, 2, "y")));
    hub.net.StartWorkers();
    hub.net.SendPacket(Request("/a"));
    hub.net.SendPacket(Request("/b"));
    // Commands are sequential: once /b arrived, the events of /a are queued (or already dropped).
    ASSERT_TRUE(hub.server.WaitForRequests(2));
    ASSERT_TRUE(WaitUntil([&] { return hub.net.IncomingQueue().Size() == 0; }));
    hub.net.SetCallback([&](InPacketList b) { hub.events.Add(std::move(b)); });
    hub.net.SendPacket(Request("/c"));
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0]->body, "y");
}

TEST(Net, BatchesFromConcurrentWorkersStayContiguous) {
    std::string commandReply;  // outlive the hub, whose server answers with them
    std::string pushReply;
    for (int i = 0; i < 20; ++i) {
        commandReply += Frame(999, i, "c" + std::to_string(i));
        pushReply += Frame(999, i, "p" + std::to_string(i));
    }
    Hub hub;
    hub.server.SetHandler([&](const RecordedRequest& req) {
        return ScriptedReply::Body(req.path == "/sub.php" ? pushReply : commandReply);
    });
    hub.net.SetPushInterval(0);
    hub.net.StartWorkers();
    hub.net.ResumePush();
    for (int i = 0; i < 20; ++i) hub.net.SendPacket(Request("/cmd"));
    ASSERT_TRUE(hub.events.WaitForPackets(20 * 20 * 2));
    hub.net.SuspendPush();
    InPacketList packets = hub.events.TakePackets();
    // Every reply's twenty events arrive as one uninterrupted run, in order.
    for (size_t i = 0; i + 20 <= packets.size(); i += 20) {
        const char source = packets[i]->body[0];
        for (int k = 0; k < 20; ++k) {
            ASSERT_EQ(packets[i + k]->body, std::string(1, source) + std::to_string(k)) << i + k;
        }
    }
}

struct CountedPacket : OutPacket {
    explicit CountedPacket(std::atomic<int>* alive) : alive(alive) { ++*alive; }
    ~CountedPacket() override { --*alive; }
    std::atomic<int>* alive;
};

TEST(Net, TeardownIsPromptDuringALongPollAndDestroysQueuedPackets) {
    std::atomic<int> alive{0};
    TestHttpServer server;
    server.SetDefault(ScriptedReply::Silent());
    auto net = std::make_unique<Net>();
    net->SetBaseUrl(server.BaseUrl());
    net->SetPushChannel("S");
    net->StartWorkers();
    net->ResumePush();
    net->SendPacket(Request("/cmd", CH_GET, 3));  // blocks the sender in a silent request
    ASSERT_TRUE(server.WaitForRequests(2));
    for (int channel : {CH_GET, CH_UPLOAD, CH_DOWNLOAD}) {
        auto p = std::make_unique<CountedPacket>(&alive);
        p->channel = channel;
        p->path = "/never";
        net->SendPacket(std::move(p));
    }
    net->IncomingQueue().Push(std::make_unique<InUnknownPacket>());
    EXPECT_EQ(alive.load(), 3);
    const auto start = std::chrono::steady_clock::now();
    net.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(alive.load(), 0);
    server.ReleaseSilent();
}

}  // namespace
}  // namespace morvale::test
