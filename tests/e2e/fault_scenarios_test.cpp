// Whole-system fault scenarios: the session controller with the real network hub, in this process,
// against the real stand-in service in a child process whose fault controls break the exchanges.
// Each scenario checks the callbacks, the diagnostic log lines and that no message the operator
// sent was lost without a notice in its transcript. Nothing here sleeps: every wait polls for a
// condition with a deadline.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "net/net.h"
#include "protocol/in_packet.h"
#include "session/client.h"
#include "session/executor.h"
#include "session/hub_link.h"
#include "session/relogin_policy.h"
#include "support/child_process.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One callback as the listener saw it.
struct Seen {
    int code = 0;
    int status = 0;
    std::string vid;
    int visitorState = -1;
    std::string text;                  // CbcShowMessage
    std::vector<std::string> content;  // the visitor's transcript at that moment
    bool loginOk = false;              // CbcLogin with a successful reply
    std::size_t visitors = 0;          // size of the visitor list after the callback
};

// A subscription request in the stand-in service's request log.
const std::string kSubscription = "\"path\":\"/live/sub.php\"";

// Occurrences of `part` in `text`.
std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

std::string JsonField(const std::string& json, const std::string& name) {
    std::smatch m;
    if (std::regex_search(json, m, std::regex("\"" + name + "\":\"([^\"]*)\""))) return m[1];
    return {};
}

// The signed-in operator op01 of site demo, kept by this process the way the workbench keeps it
// (keep-alive and push, visitor list, re-login policy), on the stand-in service.
class FaultScenario : public ::testing::Test, public ClientListener {
  protected:
    void SetUp() override {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& ch : name)
            if (ch == '/') ch = '_';
        logPath_ = testing::TempDir() + "e2e_" + name + ".cdd";
        std::remove(logPath_.c_str());
        SetLogFilePath(logPath_);
    }

    void TearDown() override {
        if (client_) {
            client_->UnregisterWindow(this);
            if (policy_) client_->UnregisterWindow(policy_.get());
            client_.reset();
        }
        executor_.Clear();
    }

    void OnClientCallback(const CallbackInfo& info) override {
        Seen s;
        s.code = info.code;
        s.status = info.status;
        if (const Visitor* v = info.visitor()) {
            s.vid = v->vid;
            s.visitorState = v->state;
            if (v->chat) s.content = v->chat->content;
        }
        if (const std::string* t = info.text()) s.text = *t;
        if (info.code == CbcLogin) {
            const auto* p = static_cast<const InLoginPacket*>(info.packet());
            s.loginOk = p != nullptr && p->ok;
        }
        s.visitors = client_->visitors().size();
        seen_.push_back(std::move(s));
    }

    // A client on `baseUrl`, with op01's sign-in begun.
    void StartClient(const std::string& baseUrl) {
        client_ = std::make_unique<Client>(MakeHubLink(), executor_, ClientOptions{"morvale", baseUrl});
        policy_ = std::make_unique<ReLoginPolicy>(
            *client_, ReLoginPolicy::Hooks{[this](std::chrono::milliseconds d) { timers_.push_back(d); },
                                           nullptr, nullptr});
        client_->ClearProxy();
        client_->RegisterWindow(this);
        client_->SetUser(std::make_unique<User>("demo", "op01", "123456"));
        client_->StartNet();
        client_->LoginServer();
    }

    // Signs in on the stand-in service and starts the session as the main window does.
    void SignIn() {
        StartClient(sim_.BaseUrl());
        ASSERT_TRUE(RunUntil([&] { return Has(CbcLogin, [](const Seen& s) { return s.loginOk; }); }));
        client_->RegisterWindow(policy_.get());
        client_->StartKeepalive();
        client_->RequestVisitorList();
        ASSERT_TRUE(RunUntil([&] { return Has(CbcVisitorAll); }));
    }

    Net& Hub() { return *HubOf(client_->link()); }

    // Runs the model's thread (the executor) until `condition` holds or the time is up.
    bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s) {
        const auto deadline = Clock::now() + timeout;
        while (!condition()) {
            if (Clock::now() >= deadline) return false;
            executor_.RunFor(20ms);
        }
        return true;
    }

    // Whether a callback with that code (and matching `also`) has been seen since `from`.
    bool Has(int code, const std::function<bool(const Seen&)>& also = nullptr, std::size_t from = 0) const {
        for (std::size_t i = from; i < seen_.size(); ++i)
            if (seen_[i].code == code && (!also || also(seen_[i]))) return true;
        return false;
    }
    std::size_t CountSeen(int code) const {
        std::size_t n = 0;
        for (const auto& s : seen_) n += s.code == code;
        return n;
    }

    std::string LogText() const {
        std::ifstream in(logPath_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Runs the model's thread meanwhile: some lines are written as events are applied.
    bool LogHas(const std::string& part, std::size_t times = 1, std::chrono::milliseconds timeout = 10s) {
        return RunUntil([&] { return Count(LogText(), part) >= times; }, timeout);
    }

    std::string Control(const std::string& name, const std::string& json = "{}") {
        return sim_.Control(name, json);
    }
    void Fault(const std::string& json) { ASSERT_NE(Control("fault", json), "") << json; }

    // A visitor in a chat with this operator; its id.
    std::string VisitorInChat() {
        const std::string vid = JsonField(Control("visitor/arrive", R"({"area":"Beijing"})"), "vid");
        EXPECT_FALSE(vid.empty());
        EXPECT_TRUE(
            RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == vid; }); }));
        EXPECT_NE(Control("visitor/call", R"({"vid":")" + vid + R"(","question":"hello?"})"), "");
        EXPECT_TRUE(
            RunUntil([&] { return Has(CbcVisitorCall, [&](const Seen& s) { return s.vid == vid; }); }));
        const Visitor* v = FindVisitor(client_->visitors(), vid);
        EXPECT_NE(v, nullptr);
        if (v == nullptr) return vid;
        client_->Accept(*v);
        EXPECT_TRUE(RunUntil([&] {
            return Has(CbcVisitorChat,
                       [&](const Seen& s) { return s.vid == vid && s.visitorState == vsChatMine; });
        }));
        return vid;
    }

    // Sends an operator message "<div>text</div>" in the visitor's chat.
    void SendMessage(const std::string& vid, const std::string& text) {
        const Visitor* v = FindVisitor(client_->visitors(), vid);
        ASSERT_NE(v, nullptr);
        ASSERT_TRUE(client_->SendMsg(*v, "<div>" + text + "</div>"));
        sent_.push_back({vid, text});
    }

    bool Delivered(const std::string& vid, const std::string& text) {
        return Control("visitor/inbox", R"({"vid":")" + vid + R"("})").find(text) != std::string::npos;
    }
    bool Noticed(const std::string& vid, const std::string& text) {
        const Visitor* v = FindVisitor(client_->visitors(), vid);
        if (v == nullptr || v->chat == nullptr) return false;
        const std::string notice =
            "<div class='evtMsg'><br/>【通知】可能由于网络原因，消息“" + text + "”发送失败<br/></div>";
        for (const auto& fragment : v->chat->content)
            if (fragment == notice) return true;
        return false;
    }
    // Every message the operator sent reached the visitor or has the failed-send notice in its
    // transcript.
    void ExpectNoMessageLostSilently() {
        for (const auto& [vid, text] : sent_) {
            EXPECT_TRUE(RunUntil([&] { return Delivered(vid, text) || Noticed(vid, text); }))
                << "message \"" << text << "\" neither delivered nor noted as failed";
        }
    }

    Sim sim_;
    QueueExecutor executor_;
    std::unique_ptr<Client> client_;
    std::unique_ptr<ReLoginPolicy> policy_;
    std::vector<Seen> seen_;
    std::vector<std::chrono::milliseconds> timers_;
    std::vector<std::pair<std::string, std::string>> sent_;
    std::string logPath_;
};

// ------------------------------------------------------------------------------------------------
// Broken replies to commands. Each row breaks the noted-name command (3 tries; a failure shows
// "修改备注姓名失败") for good and, when `messageFault` is set, the first two attempts of an operator
// message (10 tries) in the same way.

struct CommandFaultCase {
    const char* name;
    std::string fault;                  // the fault's members besides path and count
    bool fails;                         // the command ends as a failed request
    std::vector<std::string> logParts;  // each appears in the log once per attempt
    int attempts;
    bool messageNoticed = false;  // the message's first attempt already ends its request as failed
    int readTimeoutMs = 0;        // the command read time-out to set first (0: the default 10 s)
    bool messageFault = true;
};

void PrintTo(const CommandFaultCase& c, std::ostream* os) { *os << c.name; }

class CommandFaults : public FaultScenario, public ::testing::WithParamInterface<CommandFaultCase> {};

TEST_P(CommandFaults, FailOrSucceedAsClassifiedWithoutLosingMessages) {
    const CommandFaultCase& c = GetParam();
    SignIn();
    const std::string vid = VisitorInChat();
    if (c.readTimeoutMs > 0) Hub().SetCommandReadTimeout(c.readTimeoutMs);
    Fault(R"({"path":"/c/asetguest.php","count":-1,)" + c.fault + "}");
    if (c.messageFault) Fault(R"({"path":"/c/asendmsg.php","count":2,)" + c.fault + "}");

    client_->SetGuest("g-" + vid, "Zhang");
    if (c.messageFault) SendMessage(vid, std::string("during ") + c.name);
    const std::string request = "----/c/asetguest.php?guestid=g-" + vid;
    if (c.fails) {
        EXPECT_TRUE(RunUntil(
            [&] { return Has(CbcShowMessage, [](const Seen& s) { return s.text == "修改备注姓名失败"; }); },
            60s));
        EXPECT_TRUE(LogHas(request));
        EXPECT_TRUE(LogHas("网络异常"));
    } else {
        // A reply that is not empty counts as answered, however little of it could be read.
        ASSERT_TRUE(LogHas(request, 1, 30s));
        EXPECT_FALSE(LogHas("网络异常", 1, 0ms));
    }
    for (const auto& part : c.logParts) EXPECT_TRUE(LogHas(part, c.attempts)) << part;
    ExpectNoMessageLostSilently();
    EXPECT_EQ(Has(CbcMsgSendFailed), c.messageNoticed);

    // The session goes on: events and commands after the broken exchanges arrive and are answered.
    ASSERT_NE(Control("faults/clear"), "");
    const std::string next = JsonField(Control("visitor/arrive", R"({"area":"after"})"), "vid");
    EXPECT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == next; }); }));
    const std::size_t lists = CountSeen(CbcVisitorAll);
    client_->RequestVisitorList();
    EXPECT_TRUE(RunUntil([&] { return CountSeen(CbcVisitorAll) > lists; }));
    EXPECT_FALSE(Has(CbcOpMustReLogin));
}

const std::string kBody500 = "<html><body>server busy 42</body></html>";

INSTANTIATE_TEST_SUITE_P(
    E2e, CommandFaults,
    ::testing::Values(
        CommandFaultCase{"Status500WithBody",
                         R"("kind":"status","status":500,"body":")" + kBody500 + "\"",
                         true,
                         {"HTTP/1.1 500 Internal Server Error\r\n" + kBody500},
                         3},
        CommandFaultCase{"EmptyReply", R"("kind":"empty")", true, {"/c/asetguest.php?guestid="}, 1, true},
        CommandFaultCase{"ConnectionClosed", R"("kind":"close")", true, {"Connection Closed Gracefully."}, 3},
        CommandFaultCase{"Truncated", R"("kind":"truncate")", true, {"Connection Closed Gracefully."}, 3},
        CommandFaultCase{"Garbage", R"("kind":"garbage","size":4096)", false, {}, 0, false, 0, false},
        CommandFaultCase{"MalformedFrames", R"("kind":"malformed")", false, {}, 0, false, 0, false},
        CommandFaultCase{
            "CorruptGzip", R"("kind":"badgzip")", true, {"The gzip reply cannot be decompressed"}, 3},
        CommandFaultCase{
            "SlowReply", R"("kind":"silence","delay_ms":20000)", true, {"Read timed out."}, 3, false, 700},
        CommandFaultCase{"ReplyAboveTheSizeBound",
                         R"("kind":"garbage","size":70000000)",
                         true,
                         {"Reply larger than 67108864 bytes"},
                         3,
                         false,
                         0,
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------------------------------------

TEST_F(FaultScenario, ServiceDownAtSignInTriesTenTimesThenTimesOut) {
    const std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/morvale";
    const auto start = Clock::now();
    StartClient(url);
    ASSERT_TRUE(RunUntil([&] { return Has(CbcLoginServer); }, 60s));
    const auto took = Clock::now() - start;
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].status, 1);
    const std::string log = LogText();
    for (int remaining = 9; remaining >= 0; --remaining) {
        EXPECT_EQ(
            Count(log, "ms " + std::to_string(remaining) + "c - " + url + "/c/alogin.php?action=loginserver"),
            1u)
            << remaining;
    }
    EXPECT_EQ(Count(log, "▼▼G "), 10u);
    EXPECT_EQ(Count(log, "Failed to connect to 127.0.0.1"), 10u);
    EXPECT_EQ(Count(log, "网络异常"), 1u);
    EXPECT_EQ(Count(log, "    Process_DOWN_OPERATION_TIMEOUT"), 1u);
    // Nine pauses of a second between the ten attempts.
    EXPECT_GE(took, 8500ms);
}

TEST_F(FaultScenario, ServiceGoneMidSessionSignsInAgainAndFetchesAFreshList) {
    SignIn();
    const std::size_t before = seen_.size();
    ASSERT_NE(Control("stop", R"({"mode":"drop"})"), "");
    // What the keep-alive ticker does once a minute.
    client_->SendKeepalive();
    ASSERT_TRUE(RunUntil([&] { return Has(CbcOpMustReLogin, nullptr, before); }));
    // The sign-in again finds the service still gone: ten attempts, then the first wait of 10 s.
    ASSERT_TRUE(RunUntil(
        [&] {
            return Has(
                CbcLogin, [](const Seen& s) { return s.status == 1; }, before);
        },
        60s));
    ASSERT_EQ(timers_, (std::vector<std::chrono::milliseconds>{10000ms}));
    EXPECT_TRUE(LogHas("CbcLogin 重登陆超时了"));
    EXPECT_TRUE(LogHas("    StopKeepalive"));

    // A visitor arrives while the operator is away; the service comes back before the wait is over.
    const std::string vid = JsonField(Control("visitor/arrive", R"({"area":"Shanghai"})"), "vid");
    ASSERT_NE(Control("resume"), "");
    const std::size_t lists = CountSeen(CbcVisitorAll);
    policy_->OnTimer();
    ASSERT_TRUE(RunUntil([&] {
        return Has(
            CbcLogin, [](const Seen& s) { return s.loginOk; }, before);
    }));
    EXPECT_TRUE(LogHas("CbcLogin 重登陆成功了"));
    ASSERT_TRUE(RunUntil([&] { return CountSeen(CbcVisitorAll) > lists; }));
    EXPECT_NE(FindVisitor(client_->visitors(), vid), nullptr);
    EXPECT_FALSE(policy_->relogging());

    // The session is live again: push and commands carry events.
    ASSERT_NE(Control("visitor/page", R"({"vid":")" + vid + R"(","url":"http://x/2","title":"two"})"), "");
    EXPECT_TRUE(
        RunUntil([&] { return Has(CbcVisitorChangePage, [&](const Seen& s) { return s.vid == vid; }); }));
}

TEST_F(FaultScenario, SlowKeepaliveIsALostSignIn) {
    SignIn();
    const std::size_t before = seen_.size();
    Hub().SetCommandReadTimeout(700);
    Fault(R"({"path":"/c/a.php","kind":"silence","delay_ms":20000,"count":3})");
    client_->SendKeepalive();
    ASSERT_TRUE(RunUntil([&] { return Has(CbcOpMustReLogin, nullptr, before); }));
    EXPECT_TRUE(LogHas("Read timed out.", 3));
    ASSERT_TRUE(RunUntil([&] {
        return Has(
            CbcLogin, [](const Seen& s) { return s.loginOk; }, before);
    }));
    const std::size_t lists = CountSeen(CbcVisitorAll);
    ASSERT_TRUE(RunUntil([&] { return CountSeen(CbcVisitorAll) > lists; }));
    EXPECT_TRUE(timers_.empty());
}

TEST_F(FaultScenario, SlowPushIsAskedAgainAtOnceAndLosesNoEvent) {
    SignIn();
    ASSERT_NE(Control("config", R"({"push_hold_ms":30000})"), "");
    Hub().Push().SetReadTimeout(700);
    // An answer ends the subscription held with the old read time-out.
    const std::string first = JsonField(Control("visitor/arrive", R"({"area":"push"})"), "vid");
    ASSERT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == first; }); }));
    ASSERT_TRUE(LogHas("Read timed out."));
    // From now on any other outcome would be followed by a pause of 10 s; a read time-out is
    // followed by the next subscription at once, so four of them come well within one pause.
    Hub().SetPushInterval(10000);
    const std::size_t subscriptions = Count(Control("log"), kSubscription);
    EXPECT_TRUE(WaitUntil([&] { return Count(Control("log"), kSubscription) >= subscriptions + 4; }, 9s));
    EXPECT_EQ(Count(LogText(), "    Process_DOWN_OPERATION_TIMEOUT"), 0u);
    // An event still arrives by the subscription.
    const std::string vid = JsonField(Control("visitor/arrive", R"({"area":"push"})"), "vid");
    EXPECT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == vid; }); }));
}

TEST_F(FaultScenario, SlowDownloadTimesOutAndTheNextOneArrives) {
    SignIn();
    const std::string faqUrl = client_->user()->faqUrl;
    ASSERT_NE(faqUrl.find("/faq/"), std::string::npos);
    Hub().DownFile().SetReadTimeout(700);
    Fault(R"({"path":")" + faqUrl.substr(faqUrl.find("/faq/")) +
          R"(","kind":"silence","delay_ms":20000,"count":-1})");
    client_->FAQFromUrl(faqUrl);
    // Every attempt times out waiting for data; the download ends as failed, with no callback.
    EXPECT_TRUE(LogHas("Read timed out.", 3, 30s));
    EXPECT_TRUE(LogHas("<<<<<网络异常"));
    EXPECT_FALSE(Has(CbcFileDownloaded));
    ASSERT_NE(Control("faults/clear"), "");
    client_->FAQFromUrl(faqUrl);
    EXPECT_TRUE(RunUntil([&] { return Has(CbcFileDownloaded); }));
    EXPECT_FALSE(Has(CbcOpMustReLogin));
}

TEST_F(FaultScenario, FailedPushIsATimeoutEventWithoutARequest) {
    SignIn();
    Fault(R"({"path":"/sub.php","kind":"status","status":500,"count":2})");
    // The subscription held now answers this arrival; the next two fail.
    Control("visitor/arrive", R"({"area":"first"})");
    ASSERT_TRUE(LogHas("    Process_DOWN_OPERATION_TIMEOUT", 2));
    EXPECT_TRUE(LogHas("HTTP/1.1 500", 2));
    const std::string vid = JsonField(Control("visitor/arrive", R"({"area":"push"})"), "vid");
    EXPECT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == vid; }); }));
    EXPECT_FALSE(Has(CbcOpMustReLogin));
}

TEST_F(FaultScenario, MessageThatNeverGetsThroughIsNotedInItsTranscript) {
    SignIn();
    const std::string vid = VisitorInChat();
    Fault(R"({"path":"/c/asendmsg.php","kind":"status","count":-1})");
    SendMessage(vid, "lost one");
    ASSERT_TRUE(
        RunUntil([&] { return Has(CbcMsgSendFailed, [&](const Seen& s) { return s.vid == vid; }); }, 60s));
    EXPECT_TRUE(Noticed(vid, "lost one"));
    EXPECT_TRUE(LogHas("HTTP/1.1 500", 10));
    ExpectNoMessageLostSilently();
}

TEST_F(FaultScenario, GzipReplyIsDecoded) {
    SignIn();
    Control("visitor/arrive", R"({"area":"zip"})");
    ASSERT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd); }));
    Fault(R"({"path":"/c/avisitorlist.php","kind":"gzip"})");
    const std::size_t lists = CountSeen(CbcVisitorAll);
    client_->RequestVisitorList();
    ASSERT_TRUE(RunUntil([&] { return CountSeen(CbcVisitorAll) > lists; }));
    EXPECT_EQ(seen_.back().visitors, 1u);
    EXPECT_TRUE(LogHas("Content-Encoding: gzip"));
}

TEST_F(FaultScenario, SixtyMegabyteReplyIsReadWithoutHarm) {
    SignIn();
    Fault(R"({"path":"/c/avisitorlist.php","kind":"garbage","size":60000000})");
    client_->RequestVisitorList();
    ASSERT_TRUE(LogHas("----/c/avisitorlist.php", 1, 60s));
    const std::string vid = JsonField(Control("visitor/arrive", R"({"area":"after"})"), "vid");
    EXPECT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd, [&](const Seen& s) { return s.vid == vid; }); }));
}

TEST_F(FaultScenario, VisitorListOfTenThousand) {
    httplib::Client http("127.0.0.1", sim_.port);
    for (int i = 0; i < 10000; ++i) {
        auto res = http.Post("/_sim/visitor/arrive", R"({"area":"crowd"})", "application/json");
        ASSERT_TRUE(res && res->status == 200) << i;
    }
    SignIn();
    EXPECT_EQ(client_->visitors().size(), 10000u);
    for (const auto& v : client_->visitors()) EXPECT_EQ(v->state, vsBrowsing);
    EXPECT_TRUE(LogHas("    Process_DOWN_VISITOR_ALL"));
}

TEST_F(FaultScenario, TwoHundredEventsInOneReply) {
    SignIn();
    ASSERT_NE(Control("stop"), "");
    // The subscription held before the stop answers the first arrival; the next one waits for the
    // service to answer again, while two hundred more arrive.
    Control("visitor/arrive", R"({"area":"first"})");
    ASSERT_TRUE(RunUntil([&] { return Has(CbcVisitorAdd); }));
    httplib::Client http("127.0.0.1", sim_.port);
    std::vector<std::string> vids;
    for (int i = 0; i < 200; ++i) {
        auto res = http.Post("/_sim/visitor/arrive", R"({"area":"burst"})", "application/json");
        ASSERT_TRUE(res && res->status == 200);
        vids.push_back(JsonField(res->body, "vid"));
    }
    ASSERT_NE(Control("resume"), "");
    ASSERT_TRUE(RunUntil([&] { return CountSeen(CbcVisitorAdd) >= 201; }));
    std::vector<std::string> order;
    for (const auto& s : seen_)
        if (s.code == CbcVisitorAdd) order.push_back(s.vid);
    order.erase(order.begin());
    EXPECT_EQ(order, vids);
    ASSERT_EQ(client_->visitors().size(), 201u);
    EXPECT_EQ(client_->visitors().front()->vid, vids.back());
    // All two hundred rode in one reply: no other exchange was logged between the first and the last.
    const std::string log = LogText();
    const std::size_t from = log.find(vids.front()), to = log.find(vids.back());
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(log.substr(from, to - from).find("\n20"), std::string::npos)
        << "the events came in several replies";
}

}  // namespace
}  // namespace morvale::test
