#include <gtest/gtest.h>

#include "session/own_message.h"
#include "session/relogin_policy.h"
#include "session_fixture.h"

namespace morvale::test {
namespace {

using std::chrono::milliseconds;

class ReLogin : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        policy = std::make_unique<ReLoginPolicy>(
            *client,
            ReLoginPolicy::Hooks{[this](milliseconds d) { delays.push_back(d); }, [this] { ++starts; },
                                 [this](bool ok) { ends.push_back(ok ? "ok" : "refused"); }});
        client->RegisterWindow(policy.get());
    }
    void TimeOut(std::unique_ptr<OutPacket> request) {
        InPacketList batch;
        batch.push_back(std::make_unique<InTimeoutPacket>(std::move(request)));
        net->callback(std::move(batch));
    }
    void LoginTimesOut() {
        TimeOut(std::make_unique<OutLoginPacket>("demo", "op01", "secret", "a", "v", false, false));
    }
    std::string Ok() {
        return Frame(104, {"1", "sess2", "asp1", "demo", "op1", "op01", "Alice", "1", "/f.xml", "0", "9"});
    }

    std::vector<milliseconds> delays;
    std::vector<std::string> ends;
    int starts = 0;
    std::unique_ptr<ReLoginPolicy> policy;
};

TEST_F(ReLogin, FirstLostSignInOnlyThenGrowingWaitsThenResetOnAReply) {
    Feed(Frame(6, {}) + Frame(6, {}));
    EXPECT_TRUE(policy->relogging());
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(net->calls, (std::vector<std::string>{"SuspendPush", "StopKeeplive"}));
    EXPECT_EQ(net->sent.size(), 1u);
    EXPECT_EQ(net->sent[0]->requestKind, 502);
    net->sent.clear();

    for (int i = 0; i < 4; ++i) {
        LoginTimesOut();
        policy->OnTimer();
    }
    EXPECT_EQ(delays, (std::vector<milliseconds>{milliseconds(10000), milliseconds(30000),
                                                 milliseconds(60000), milliseconds(60000)}));
    EXPECT_EQ(net->sent.size(), 4u);
    net->sent.clear();
    net->calls.clear();

    Feed(Ok());
    EXPECT_FALSE(policy->relogging());
    EXPECT_EQ(policy->reloginAttempts(), 0);
    EXPECT_EQ(ends, std::vector<std::string>{"ok"});
    EXPECT_EQ(net->TakeUrls(), std::vector<std::string>{"/c/avisitorlist.php"});
    EXPECT_EQ(net->calls, (std::vector<std::string>{"SetPushChannel sess2", "SetPushInterval 9", "ResumePush",
                                                    "StartKeepalive"}));

    // A lost keep-alive starts the next sequence, which waits 10 s again.
    TimeOut(std::make_unique<OutKeepalivePacket>());
    EXPECT_EQ(starts, 2);
    LoginTimesOut();
    EXPECT_EQ(delays.back(), milliseconds(10000));
}

TEST_F(ReLogin, RefusalIsNotRetriedAndRepliesOutsideAReLoginAreIgnored) {
    Feed(Ok());
    EXPECT_TRUE(ends.empty());
    LoginTimesOut();
    EXPECT_TRUE(delays.empty());

    Feed(Frame(6, {}));
    net->sent.clear();
    Feed(Frame(104, {"0", "bad"}));
    EXPECT_EQ(ends, std::vector<std::string>{"refused"});
    EXPECT_FALSE(policy->relogging());
    policy->OnTimer();
    EXPECT_TRUE(net->sent.empty());
}

TEST_F(SessionTest, OwnMessageGoesIntoTheTranscriptThenOut) {
    Feed(Frame(106, {"v1", "1.1.1.1", "1700000000", "", "", "", "", "", "", "", ""}) +
         Frame(109, {"v1", "1700000500", "r1", "op1", "l", "Alice", "", "", ""}));
    Visitor& v = *client->visitors()[0];
    net->sent.clear();

    EXPECT_EQ(SendOwnMessage(*client, v, "<div>x</div>", true).result, OwnSendResult::Offline);
    EXPECT_EQ(SendOwnMessage(*client, v, "", false).result, OwnSendResult::Empty);
    EXPECT_EQ(SendOwnMessage(*client, v, "0", false).result, OwnSendResult::Empty);
    EXPECT_TRUE(net->sent.empty());
    EXPECT_TRUE(v.chat->content.empty());

    const OwnSend sent = SendOwnMessage(*client, v, "<div>a\r\n<a href=x>l</a><A href=y>L</A></div>", false);
    ASSERT_EQ(sent.result, OwnSendResult::Sent);
    const std::string body = "<div>a<a target=_blank href=x>l</a><A target=_blank href=y>L</A></div>";
    const std::string head =
        "<div class='inMsg'><div class='titleTag'><span class='nameTag'>Alice</span>说：<span "
        "class='createTime'>(";
    ASSERT_EQ(v.chat->content, std::vector<std::string>{sent.fragment});
    EXPECT_EQ(sent.fragment.substr(0, head.size()), head);
    EXPECT_EQ(sent.fragment.substr(head.size() + 19),
              ")</span></div><div class='msg'>" + body + "</div></div>");
    ASSERT_EQ(net->sent.size(), 1u);
    EXPECT_EQ(net->sent[0]->requestKind, 507);
    EXPECT_NE(net->sent[0]->GetUrl().find("msg=%3Cdiv%3Ea%3Ca%20target%3D_blank"), std::string::npos);

    const OwnSend file = SendOwnFile(*client, v, "/tmp/a<b>.txt");
    EXPECT_EQ(file.result, OwnSendResult::Sent);
    EXPECT_NE(file.fragment.find("<div class='msg'>发送文件 “/tmp/a&lt;b&gt;.txt”</div>"), std::string::npos);
    EXPECT_EQ(net->sent.size(), 2u);

    // Handed to another operator: no longer writable.
    Feed(Frame(133, {"v1", "r3", "op2", "l", "n", "1700000800", ""}));
    EXPECT_EQ(SendOwnMessage(*client, v, "<div>x</div>", false).result, OwnSendResult::NotMine);
    EXPECT_EQ(SendOwnFile(*client, v, "/tmp/x").result, OwnSendResult::NotMine);
    EXPECT_EQ(net->sent.size(), 2u);
}

}  // namespace
}  // namespace morvale::test
