#include <gtest/gtest.h>

#include "core/app_config.h"
#include "session/client.h"
#include "session/transcript.h"
#include "session_fixture.h"

namespace morvale::test {
namespace {

std::string Add(const std::string& vid, const std::string& guestId = "", const std::string& guestName = "") {
    return Frame(106, {vid, "1.2.3.4", "1700000000", guestId, guestName, "北京", "Title", "http://site/p1",
                       "http://ref/", "百度", "kw"});
}
std::string Page(const std::string& vid) { return Frame(107, {vid, "1700000100", "http://site/p2", "T2"}); }
std::string Left(const std::string& vids) { return Frame(110, {vids, "1700000200"}); }
std::string Call(const std::string& vid, const std::string& callId) {
    return Frame(108, {"1", "x", vid, callId, "g1", "r1", "1700000300", "", "question"});
}
std::string Offer(const std::string& vid, const std::string& callId) {
    return Frame(108, {"2", "x", vid, callId, "r2", "1700000300", "op1", "Alice"});
}
std::string EndCall(const std::string& vid, const std::string& callId) {
    return Frame(131, {vid, callId, "1700000400"});
}
std::string Chat(const std::string& vid, const std::string& opid) {
    return Frame(109, {vid, "1700000500", "r1", opid, "login", "Name", "", "", ""});
}
std::string Msg(const std::string& vid, const std::string& text = "<b>hi</b>") {
    return Frame(112, {vid, "1700000600", "0", text});
}
std::string EndChat(const std::string& vid) { return Frame(115, {vid, "1700000700"}); }
std::string Handed(const std::string& vid, const std::string& opid) {
    return Frame(133, {vid, "r3", opid, "l", "n", "1700000800", "line1\r\nline2"});
}
std::string Content(const std::string& key) {
    return Frame(130, {"t1", "t2", key, "a%3Cb%3E%0D%0Ac", "1700000900"});
}
std::string PreMsg(const std::string& vid) { return Frame(126, {vid, "1700000000", "typing..."}); }
std::string Guest(const std::string& id, const std::string& name) { return Frame(127, {id, name}); }
std::string All(const std::vector<std::vector<std::string>>& visitors) {
    return Frame(119, {VisitorListXml(visitors)});
}

std::vector<std::string> Browsing(const std::string& vid) {
    return {vid, "1700000000", "", "5.6.7.8", "上海", "http://site/", "首页", "", "", "", "", ""};
}
std::vector<std::string> Chatting(const std::string& vid, const std::string& opid,
                                  const std::string& rid = "r9") {
    auto attrs = Browsing(vid);
    attrs.insert(attrs.end(), {rid, opid, "l", "n", "1700000000"});
    return attrs;
}

// "vid:state[:pN][:cN][:mN]" per visitor in list order, then the pending-call counter.
std::string Model(const Client& client) {
    std::string out;
    for (const auto& v : client.visitors()) {
        out += v->vid + ":" + std::string(VisitorStateName(v->state));
        if (!v->pages.empty()) out += ":p" + std::to_string(v->pages.size());
        if (!v->chats.empty()) out += ":c" + std::to_string(v->chats.size());
        if (v->newMsgCount != 0) out += ":m" + std::to_string(v->newMsgCount);
        out += " ";
    }
    return out + "pending=" + std::to_string(client.pendingCalls());
}

struct EventCase {
    const char* name;
    std::vector<std::string> replies;
    std::string callbacks;
    std::string model;
};
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

class EventSequence : public SessionTest, public testing::WithParamInterface<EventCase> {};

TEST_P(EventSequence, ChangesModelAndRaisesCallbacks) {
    for (const std::string& reply : GetParam().replies) Feed(reply);
    EXPECT_EQ(recorder.Joined(), GetParam().callbacks);
    EXPECT_EQ(Model(*client), GetParam().model);
    EXPECT_TRUE(net->sent.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, EventSequence,
    testing::Values(
        EventCase{"FullList",
                  {All({Browsing("v1"), Chatting("v2", "op1"), Chatting("v3", "op2")})},
                  "CbcVisitorAll",
                  "v1:vsBrowsing v2:vsChatMine:c1 v3:vsChatOther:c1 pending=0"},
        EventCase{"FullListReplacesEarlierRecords",
                  {Add("v1"), All({Browsing("v2")})},
                  "CbcVisitorAdd:v1 CbcVisitorAll",
                  "v2:vsBrowsing pending=0"},
        EventCase{"FullListShortElementsReadAsEmpty",
                  {All({{"v1"}, {}})},
                  "CbcVisitorAll",
                  "v1:vsBrowsing :vsBrowsing pending=0"},
        EventCase{"FullListUnparsable",
                  {Add("v1"), Frame(119, {"<vs><v a0='x'></vs>"})},
                  "CbcVisitorAdd:v1",
                  "v1:vsBrowsing:p1 pending=0"},
        EventCase{"FullListNotXml", {Frame(119, {"nonsense"}), Frame(119, {})}, "", "pending=0"},
        EventCase{"AddedNewestFirst",
                  {Add("v1") + Add("v2")},
                  "CbcVisitorAdd:v1 CbcVisitorAdd:v2",
                  "v2:vsBrowsing:p1 v1:vsBrowsing:p1 pending=0"},
        EventCase{"ReturningVisitor",
                  {Add("v1"), Left("v1"), Page("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorLeft[v1] CbcVisitorChangePage:v1",
                  "v1:vsBrowsing:p2 pending=0"},
        EventCase{"LeftBySubstring",
                  {Add("12"), Add("123"), Left("123")},
                  "CbcVisitorAdd:12 CbcVisitorAdd:123 CbcVisitorLeft[123,12]",
                  "123:vsLeft:p1 12:vsLeft:p1 pending=0"},
        EventCase{"LeftUnknownStillRaised", {Left("zz")}, "CbcVisitorLeft[]", "pending=0"},
        EventCase{"LeftOnlyOnce",
                  {Add("v1"), Left("v1"), Left("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorLeft[v1] CbcVisitorLeft[]",
                  "v1:vsLeft:p1 pending=0"},
        EventCase{"CallThenRequestEnded",
                  {Add("v1"), Call("v1", "c1"), EndCall("v1", "c1")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1 CbcVisitorEndCall:v1",
                  "v1:vsChatEnded:p1:c1 pending=0"},
        EventCase{"RequestEndedByCallIdAlone",
                  {Add("v1"), Call("v1", "c1"), EndCall("", "c1")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1 CbcVisitorEndCall:v1",
                  "v1:vsChatEnded:p1:c1 pending=0"},
        EventCase{"RequestEndedOtherCallIgnored",
                  {Add("v1"), Call("v1", "c1"), EndCall("", "c2"), EndCall("", "")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1",
                  "v1:vsCalling:p1:c1 pending=1"},
        EventCase{"ChatWithoutRequest",
                  {Add("v1"), Chat("v1", "op1")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1",
                  "v1:vsChatMine:p1:c1 pending=-1"},
        EventCase{"RequestAccepted",
                  {Add("v1"), Call("v1", "c1"), Chat("v1", "op1"), Msg("v1"), Msg("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1 CbcVisitorChat:v1 CbcVisitorMsg:v1 CbcVisitorMsg:v1",
                  "v1:vsChatMine:p1:c1:m2 pending=0"},
        EventCase{"ChatAfterEndedChatGetsNewSession",
                  {Add("v1"), Chat("v1", "op1"), EndChat("v1"), Chat("v1", "op1")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1 CbcVisitorEndChat:v1 CbcVisitorChat:v1",
                  "v1:vsChatMine:p1:c2 pending=-2"},
        EventCase{"OtherOperatorsChatIgnoresMessages",
                  {Add("v1"), Chat("v1", "op2"), Msg("v1"), PreMsg("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1",
                  "v1:vsChatOther:p1:c1 pending=-1"},
        EventCase{"TypingPreview",
                  {Add("v1"), Chat("v1", "op1"), PreMsg("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1 CbcVisitorPreMsg:v1",
                  "v1:vsChatMine:p1:c1 pending=-1"},
        EventCase{"ChatEnded",
                  {Add("v1"), Chat("v1", "op1"), Msg("v1"), EndChat("v1")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1 CbcVisitorMsg:v1 CbcVisitorEndChat:v1",
                  "v1:vsChatEnded:p1:c1 pending=-1"},
        EventCase{"EndChatWhileBrowsingIgnored",
                  {Add("v1"), EndChat("v1")},
                  "CbcVisitorAdd:v1",
                  "v1:vsBrowsing:p1 pending=0"},
        EventCase{"TransferOffered",
                  {Add("v1"), Chat("v1", "op2"), Offer("v1", "c5")},
                  "CbcVisitorAdd:v1 CbcVisitorChat:v1 CbcVisitorCall:v1",
                  "v1:vsTransfer:p1:c1 pending=-1"},
        EventCase{"TransferOfferedWithoutSession",
                  {Add("v1"), Offer("v1", "c5")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1",
                  "v1:vsTransfer:p1:c1 pending=0"},
        EventCase{"TransferredToMe",
                  {Add("v1"), Offer("v1", "c5"), Handed("v1", "op1")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1 CbcVisitorChat:v1",
                  "v1:vsChatMine:p1:c1 pending=-1"},
        EventCase{"ContentOfOthersChat",
                  {Add("v1"), Call("v1", "c1"), Chat("v1", "op2"), Content("c1"), Content("c9")},
                  "CbcVisitorAdd:v1 CbcVisitorCall:v1 CbcVisitorChat:v1 CbcVisitorChatContent:v1",
                  "v1:vsChatOther:p1:c1 pending=0"},
        EventCase{"GuestNameByGuestIdOrVid",
                  {Add("v1", "g1"), Add("v2"), Add("v3", "g1"), Guest("g1", "张三"), Guest("v2", "李四")},
                  "CbcVisitorAdd:v1 CbcVisitorAdd:v2 CbcVisitorAdd:v3 CbcVisitorGuest:v3 CbcVisitorGuest:v1 "
                  "CbcVisitorGuest:v2",
                  "v3:vsBrowsing:p1 v2:vsBrowsing:p1 v1:vsBrowsing:p1 pending=0"},
        EventCase{"GuestWithEmptyIdIgnored",
                  {Add("v1"), Guest("", "x")},
                  "CbcVisitorAdd:v1",
                  "v1:vsBrowsing:p1 pending=0"},
        EventCase{"UnknownVisitorChangesNothing",
                  {Page("vX"), Call("vX", "c"), Chat("vX", "op1"), Msg("vX"), EndChat("vX"), PreMsg("vX"),
                   Handed("vX", "op1"), Offer("vX", "c")},
                  "",
                  "pending=0"},
        EventCase{"MustReLogin", {Frame(6, {})}, "CbcOpMustReLogin", "pending=0"},
        EventCase{"LeftMessageCount", {Frame(132, {"7"})}, "CbcLeaveMsgCount", "pending=0"},
        EventCase{"UploadConfirmed", {Frame(123, {})}, "CbcFAQUpOK", "pending=0"},
        EventCase{"UnknownKindOnlyLogged", {Frame(999, {"x"}) + Frame(124, {"1"})}, "", "pending=0"},
        EventCase{"SignedInElsewhere",
                  {Frame(125, {"op1", "sess2", "4000000000"})},
                  "CbcOtherMeLogin",
                  "pending=0"},
        EventCase{"OwnSignInOrOthersOrOlderIgnored",
                  {Frame(125, {"op1", "sess1", "4000000000"}), Frame(125, {"op2", "sess2", "4000000000"}),
                   Frame(125, {"op1", "sess2", "1000"})},
                  "",
                  "pending=0"}),
    [](const testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, SignInStoresTheReplyAndSwitchesServer) {
    auto fresh = std::make_unique<User>("demo", "op01", "p w");
    client->SetUser(std::move(fresh));
    client->LoginServer();
    EXPECT_EQ(net->TakeUrls(), std::vector<std::string>{"/c/alogin.php?action=loginserver&site=demo"});

    Feed(Frame(103, {"http://real/seg"}));
    EXPECT_EQ(client->serverUrl(), "http://real/seg");
    EXPECT_EQ(client->baseUrl(), "http://base/seg");
    EXPECT_EQ(net->calls, std::vector<std::string>{"SetBaseUrl http://real/seg"});
    EXPECT_EQ(net->TakeUrls(),
              std::vector<std::string>{"/c/alogin.php?action=login&site=demo&user=op01&pass=p%20w&app=" +
                                       AppName() + "&ver=" + VersionText() + "&hide=0"});

    net->calls.clear();
    Feed(Frame(104, {"1", "sess9", "asp9", "Demo", "op7", "op01x", "Bob", "0", "/faq/f.xml", "4", "1500"}));
    const User& u = *client->user();
    EXPECT_EQ(u.sessionId, "sess9");
    EXPECT_EQ(u.aspId, "asp9");
    EXPECT_EQ(u.site, "Demo");
    EXPECT_EQ(u.opId, "op7");
    EXPECT_EQ(u.loginName, "op01x");
    EXPECT_EQ(u.opName, "Bob");
    EXPECT_FALSE(u.isAdmin);
    EXPECT_EQ(u.faqUrl, "/faq/f.xml");
    EXPECT_GT(u.loginTime, 0);
    EXPECT_EQ(client->leaveMsgCount(), 4);
    EXPECT_EQ(net->calls, (std::vector<std::string>{"SetPushChannel sess9", "SetPushInterval 1500"}));
    EXPECT_EQ(recorder.Joined(), "CbcLoginServer CbcLogin");
}

TEST_F(SessionTest, TraceParameterOnlyWhenTracing) {
    client->Login();
    client->SetTraceOp();
    client->Login();
    const auto urls = net->TakeUrls();
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0].find("trace"), std::string::npos);
    EXPECT_EQ(urls[1].substr(urls[1].size() - 15), "&hide=0&trace=1");
}

TEST_F(SessionTest, LoginServerWithoutAddressStopsTheSequence) {
    Feed(Frame(103, {"short"}));
    EXPECT_TRUE(net->sent.empty());
    EXPECT_EQ(client->serverUrl(), "http://base/seg");
    EXPECT_EQ(recorder.Joined(), "CbcLoginServer");
}

TEST_F(SessionTest, RefusedLoginKeepsTheRecord) {
    Feed(Frame(104, {"0", "密码错误", "http://help/"}));
    EXPECT_EQ(client->user()->sessionId, "sess1");
    EXPECT_EQ(recorder.Joined(), "CbcLogin");
}

struct TimeoutCase {
    const char* name;
    std::function<std::unique_ptr<OutPacket>()> request;
    std::string callbacks;
};
void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.name; }

class Timeout : public SessionTest, public testing::WithParamInterface<TimeoutCase> {};

TEST_P(Timeout, IsReportedByRequestKind) {
    Feed(Add("v1") + Chat("v1", "op1"));
    recorder.events.clear();
    InPacketList batch;
    batch.push_back(std::make_unique<InTimeoutPacket>(GetParam().request()));
    net->callback(std::move(batch));
    EXPECT_EQ(recorder.Joined(), GetParam().callbacks);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Timeout,
    testing::Values(
        TimeoutCase{"NoRequest", [] { return nullptr; }, ""},
        TimeoutCase{"LoginServer", [] { return std::make_unique<OutLoginServerPacket>("demo"); },
                    "CbcLoginServer/1"},
        TimeoutCase{"Login",
                    [] { return std::make_unique<OutLoginPacket>("d", "u", "p", "a", "v", false, false); },
                    "CbcLogin/1"},
        TimeoutCase{"LibraryUpload", [] { return std::make_unique<OutFAQUpPacket>("/tmp/x.xml"); },
                    "CbcLogin/1"},
        TimeoutCase{"Message",
                    [] { return std::make_unique<OutSendMsgPacket>("v1", "r1", "<div>hello</div>"); },
                    "CbcMsgSendFailed:v1"},
        TimeoutCase{"MessageUnknownVisitor",
                    [] { return std::make_unique<OutSendMsgPacket>("v9", "r1", "x"); }, ""},
        TimeoutCase{"GuestName", [] { return std::make_unique<OutSetGuestPacket>("g", "n"); },
                    "CbcShowMessage 修改备注姓名失败"},
        TimeoutCase{"Keepalive", [] { return std::make_unique<OutKeepalivePacket>(); }, "CbcOpMustReLogin"},
        TimeoutCase{"Other", [] { return std::make_unique<OutVisitorListPacket>(); }, ""},
        TimeoutCase{"Accept",
                    [] { return std::make_unique<OutRequestPacket>("accept", "a", "r", "u", "o", "s"); },
                    ""}),
    [](const testing::TestParamInfo<TimeoutCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, FailedSendAppendsANoticeQuotingTheMessage) {
    Feed(Add("v1") + Chat("v1", "op1"));
    for (const char* msg : {"<div>hello</div>", "<DIV>中文</DIV>", "plain text!", "short"}) {
        InPacketList batch;
        batch.push_back(
            std::make_unique<InTimeoutPacket>(std::make_unique<OutSendMsgPacket>("v1", "r1", msg)));
        net->callback(std::move(batch));
    }
    const Visitor& v = *client->visitors()[0];
    ASSERT_EQ(v.chat->content.size(), 4u);
    EXPECT_EQ(v.chat->content[0],
              "<div class='evtMsg'><br/>【通知】可能由于网络原因，消息“hello”发送失败<br/></div>");
    EXPECT_NE(v.chat->content[1].find("消息“中文”发送"), std::string::npos);
    EXPECT_NE(v.chat->content[2].find("消息“plain text!”发送"), std::string::npos);
    EXPECT_NE(v.chat->content[3].find("消息“short”发送"), std::string::npos);
    EXPECT_EQ(v.newMsgCount, 4);
}

TEST_F(SessionTest, VisitorMessageMarkupAndDisplayName) {
    Feed(Add("v1", "g1", "张三") + Chat("v1", "op1") + Msg("v1", "<b>hi</b>"));
    const Visitor& v = *client->visitors()[0];
    ASSERT_EQ(v.chat->content.size(), 1u);
    const std::string& f = v.chat->content[0];
    const std::string head =
        "<div class='outMsg'><div class='titleTag'><span class='nameTag'>张三[北京]</span>说：<span "
        "class='createTime'>(";
    ASSERT_EQ(f.substr(0, head.size()), head);
    EXPECT_EQ(f.substr(head.size() + 19), ")</span></div><div class='msg'><b>hi</b></div></div>");
    EXPECT_EQ(v.chat->lastMsg, "<b>hi</b>");
    EXPECT_TRUE(TextToDateTime(f.substr(head.size(), 19)).has_value());

    Visitor anon;
    anon.ip = "1.2.3.4";
    EXPECT_EQ(DisplayName(anon), "访客[1.2.3.4]");
    Visitor hostile;
    hostile.guestName = "<script>x</script>";
    hostile.area = "a&b";
    EXPECT_EQ(DisplayName(hostile), "&lt;script&gt;x&lt;/script&gt;[a&amp;b]");
}

TEST_F(SessionTest, PlainMessagesArriveEscapedAndPreviewIsCleared) {
    Feed(Add("v1") + Chat("v1", "op1") + PreMsg("v1"));
    EXPECT_EQ(client->visitors()[0]->preMsg, "typing...");
    Feed(Frame(112, {"v1", "1700000600", "1", "<i>"}));
    const Visitor& v = *client->visitors()[0];
    EXPECT_TRUE(v.preMsg.empty());
    EXPECT_NE(v.chat->content.back().find("<div class='msg'>&lt;i&gt;</div>"), std::string::npos);
}

TEST_F(SessionTest, TranscriptsFromTheServerReplaceTheContentLineByLine) {
    Feed(Add("v1") + Handed("v1", "op1"));
    EXPECT_EQ(client->visitors()[0]->chat->content, (std::vector<std::string>{"line1", "line2"}));
    Feed(Add("v2") + Call("v2", "c1") + Chat("v2", "op2") + Content("c1"));
    EXPECT_EQ(client->visitors()[0]->chat->content, (std::vector<std::string>{"a<b>", "c"}));
}

TEST_F(SessionTest, CallRecordsQuestionAndGuest) {
    Feed(Add("v1", "old", "Old") +
         Frame(108, {"1", "x", "v1", "c1", "g7", "r1", "1700000300", "王五", "多少钱"}));
    const Visitor& v = *client->visitors()[0];
    EXPECT_EQ(v.guestId, "g7");
    EXPECT_EQ(v.guestName, "王五");
    EXPECT_EQ(v.chat->question, "多少钱");
    EXPECT_EQ(v.chat->callId, "c1");
    EXPECT_EQ(v.chat->rid, "r1");
    EXPECT_DOUBLE_EQ(v.chat->callTime, UnixToLocal(1700000300));
    Feed(Frame(108, {"1", "x", "v1", "c2", "", "r2", "1700000300", "", "q"}));
    EXPECT_EQ(v.guestId, "");
    EXPECT_EQ(v.guestName, "王五");
    EXPECT_EQ(client->pendingCalls(), 2);
}

TEST_F(SessionTest, AddedVisitorRecordsItsFirstPage) {
    Feed(Add("v1", "g", "n"));
    const Visitor& v = *client->visitors()[0];
    EXPECT_EQ(v.ip, "1.2.3.4");
    EXPECT_EQ(v.area, "北京");
    EXPECT_EQ(v.keyName, "百度");
    EXPECT_EQ(v.keyValue, "kw");
    EXPECT_EQ(v.referUrl, "http://ref/");
    EXPECT_DOUBLE_EQ(v.arriveTime, UnixToLocal(1700000000));
    ASSERT_EQ(v.pages.size(), 1u);
    EXPECT_EQ(v.pages[0].url, "http://site/p1");
    EXPECT_DOUBLE_EQ(v.pages[0].time, UnixToLocal(1700000000));
    Feed(Page("v1"));
    EXPECT_EQ(v.pageUrl, "http://site/p2");
    EXPECT_EQ(v.pageTitle, "T2");
}

TEST_F(SessionTest, FullListFillsEveryPosition) {
    Feed(All({{"v1", "1700000000", "skip", "9.9.9.9", "广州", "http://s/a?x=1&amp;y=2", "标&lt;题",
               "http://r/", "谷歌", "词", "g1", "赵六", "r5", "op1", "alice", "Alice", "1700000050"}}));
    const Visitor& v = *client->visitors()[0];
    EXPECT_EQ(v.vid, "v1");
    EXPECT_DOUBLE_EQ(v.arriveTime, UnixToLocal(1700000000));
    EXPECT_EQ(v.ip, "9.9.9.9");
    EXPECT_EQ(v.area, "广州");
    EXPECT_EQ(v.pageUrl, "http://s/a?x=1&y=2");
    EXPECT_EQ(v.pageTitle, "标<题");
    EXPECT_EQ(v.referUrl, "http://r/");
    EXPECT_EQ(v.keyName, "谷歌");
    EXPECT_EQ(v.keyValue, "词");
    EXPECT_EQ(v.guestId, "g1");
    EXPECT_EQ(v.guestName, "赵六");
    EXPECT_TRUE(v.pages.empty());
    ASSERT_NE(v.chat, nullptr);
    EXPECT_EQ(v.state, vsChatMine);
    EXPECT_EQ(v.chat->rid, "r5");
    EXPECT_EQ(v.chat->opLogin, "alice");
    EXPECT_EQ(v.chat->opName, "Alice");
    EXPECT_DOUBLE_EQ(v.chat->startTime, UnixToLocal(1700000050));
}

TEST_F(SessionTest, FullListKeepsTheConversationsOfKnownVisitors) {
    Feed(Add("v1") + Chat("v1", "op1") + Msg("v1") + Add("v2") + Chat("v2", "op1") + Msg("v2"));
    const ChatSession* v1Chat = client->visitors()[1]->chat;
    ASSERT_EQ(client->visitors()[1]->vid, "v1");
    // v1 is still in the same room; v2's list entry names another room; v3 is new.
    Feed(All({Chatting("v1", "op1", "r1"), Chatting("v2", "op1", "r8"), Browsing("v3")}));
    const auto& vs = client->visitors();
    ASSERT_EQ(vs.size(), 3u);
    EXPECT_EQ(vs[0]->chats.size(), 1u);
    EXPECT_EQ(vs[0]->chat, v1Chat);
    EXPECT_EQ(vs[0]->chat->content.size(), 1u);
    ASSERT_EQ(vs[1]->chats.size(), 2u);
    EXPECT_EQ(vs[1]->chats[0]->content.size(), 1u);
    EXPECT_EQ(vs[1]->chat->rid, "r8");
    EXPECT_TRUE(vs[2]->chats.empty());
}

TEST_F(SessionTest, DroppedRecordsOutliveEveryListenersHandling) {
    Feed(Add("v1") + Add("v2"));
    std::vector<Visitor*> held;
    for (const auto& v : client->visitors()) held.push_back(v.get());
    Recorder second;
    std::string seen;
    second.onCallback = [&](const CallbackInfo& info) {
        if (info.code != CbcVisitorAll) return;
        for (Visitor* v : held) seen += v->vid + v->ip;  // a view rebuilding from its old rows
    };
    client->RegisterWindow(&second);
    Feed(All({Browsing("v3")}));
    EXPECT_EQ(seen, "v21.2.3.4v11.2.3.4");
    EXPECT_EQ(second.Joined(), "CbcVisitorAll");
}

TEST_F(SessionTest, NotifyReachesListenersInOrderAndSurvivesRemovalDuringACallback) {
    std::string order;
    Recorder a, b, c;
    a.onCallback = [&](const CallbackInfo&) {
        order += "a";
        client->UnregisterWindow(&b);
    };
    b.onCallback = [&](const CallbackInfo&) { order += "b"; };
    c.onCallback = [&](const CallbackInfo&) { order += "c"; };
    client->UnregisterWindow(&recorder);
    client->RegisterWindow(&a);
    client->RegisterWindow(&b);
    client->RegisterWindow(&c);
    EXPECT_TRUE(client->Notify(CbcLeaveMsgCount, nullptr, 0));
    EXPECT_TRUE(client->Notify(CbcLeaveMsgCount, nullptr, 0));
    EXPECT_EQ(order, "acac");
    client->UnregisterWindow(&a);
    client->UnregisterWindow(&c);
    EXPECT_FALSE(client->Notify(CbcLeaveMsgCount, nullptr, 0));
}

TEST_F(SessionTest, LibraryFetchChoosesTheLocalPathOnce) {
    client->FAQFromUrl("");
    EXPECT_TRUE(net->sent.empty());
    EXPECT_TRUE(client->user()->faqLocalPath.empty());

    Feed(Frame(122, {"/faq/one.xml"}));
    const std::string path = client->user()->faqLocalPath;
    EXPECT_EQ(path, TempPath() + "op01_one.xml");
    Feed(Frame(122, {"/faq/two.xml"}));
    EXPECT_EQ(client->user()->faqUrl, "/faq/two.xml");
    ASSERT_EQ(net->sent.size(), 2u);
    for (const auto& p : net->sent) {
        EXPECT_EQ(p->requestKind, 503);
        EXPECT_EQ(p->channel, CH_DOWNLOAD);
        EXPECT_EQ(p->localFile, path);
    }
    EXPECT_EQ(net->sent[1]->path, "/faq/two.xml");
    Feed(Frame(122, {""}));
    EXPECT_EQ(net->sent.size(), 2u);
    EXPECT_EQ(recorder.Joined(), "");

    auto download = [&](bool ok, std::unique_ptr<OutPacket> request) {
        InPacketList batch;
        batch.push_back(std::make_unique<InDownFilePacket>(ok, std::move(request)));
        net->callback(std::move(batch));
    };
    download(false, std::make_unique<OutFAQFromUrlPacket>("/faq/two.xml", "/elsewhere"));
    download(true, std::make_unique<OutUrlPacket>("/other"));
    EXPECT_EQ(recorder.Joined(), "");
    download(true, std::make_unique<OutFAQFromUrlPacket>("/faq/two.xml", "/elsewhere"));
    EXPECT_EQ(recorder.Joined(), "CbcFileDownloaded");
    EXPECT_EQ(client->user()->faqLocalPath, "/elsewhere");
}

TEST_F(SessionTest, RequestsCarryTheVisitorsChat) {
    Feed(Add("v1") + Call("v1", "c1"));
    const Visitor& v = *client->visitors()[0];
    EXPECT_TRUE(client->Accept(v));
    client->Invite(v);
    client->InitialChat(v);
    EXPECT_TRUE(client->SendMsg(v, "<div>a b</div>"));
    EXPECT_TRUE(client->CloseChat(v));
    client->SendTyping("", "c1", true);
    client->SetGuest("g1", "张");
    client->StatusBusy();
    client->RequestVisitorList();
    client->FAQRefresh();
    net->keepalive();  // the hub's keep-alive tick asks the client for its request
    EXPECT_EQ(
        net->TakeUrls(),
        (std::vector<std::string>{
            "/c/aaccept.php?action=accept&aspid=asp1&rid=r1&user=op01&opid=op1&site=demo",
            "/c/ainvite.php?vid=v1", "/c/ainitialchat.php?vid=v1",
            "/c/asendmsg.php?vid=v1&rid=r1&msg=%3Cdiv%3Ea%20b%3C/div%3E", "/c/aclose.php?vid=v1&rid=r1",
            "/cadmin/istyping.php?sid=&sessionid=c1&istyping=1", "/c/asetguest.php?guestid=g1&name=%D5%C5",
            "/c/asetstatus.php?action=busy", "/c/avisitorlist.php", "/c/afaqrefresh.php", "/c/a.php?"}));
    EXPECT_TRUE(client->SendFile(v, "/tmp/f.txt"));
    client->FAQUp("/tmp/lib.xml");
    ASSERT_EQ(net->sent.size(), 2u);
    EXPECT_EQ(net->sent[0]->GetPostFields(), std::vector<std::string>{"file=/tmp/f.txt"});
    EXPECT_EQ(net->sent[1]->GetPostFields(), std::vector<std::string>{"faqfile=/tmp/lib.xml"});
    net->sent.clear();

    Visitor lone;
    lone.vid = "v9";
    EXPECT_FALSE(client->Accept(lone));
    EXPECT_FALSE(client->SendMsg(lone, "x"));
    EXPECT_FALSE(client->CloseChat(lone));
    EXPECT_FALSE(client->SendFile(lone, "/x"));
    EXPECT_TRUE(net->sent.empty());
}

TEST_F(SessionTest, RequestsCountUntilTheHubDisposesOfThem) {
    EXPECT_EQ(client->OutstandingRequests(), 0);
    client->RequestVisitorList();
    client->FAQRefresh();
    EXPECT_EQ(client->OutstandingRequests(), 2);
    InPacketList batch;
    batch.push_back(std::make_unique<InTimeoutPacket>(std::move(net->sent[0])));
    net->sent.clear();
    EXPECT_EQ(client->OutstandingRequests(), 1);
    net->callback(std::move(batch));
    EXPECT_EQ(client->OutstandingRequests(), 0);
}

TEST_F(SessionTest, PlainRequestsAndDebugCookie) {
    client->RequestUrl("no scheme here");
    client->RequestUrl("http://host");
    EXPECT_TRUE(net->sent.empty());
    client->RequestUrl("http://host/seg/a/b.php?x=1");
    EXPECT_EQ(net->TakeUrls(), std::vector<std::string>{"/a/b.php?x=1"});
    client->RequestRawUrl("/c/clean.php");
    EXPECT_EQ(net->TakeUrls(), std::vector<std::string>{"/c/clean.php"});
    client->SetDebugCookie();
    EXPECT_EQ(net->calls,
              (std::vector<std::string>{"SetCommandReadTimeout 600000", "SetCommandReadTimeout 10000",
                                        "AddCookie ZendDebuggerCookie="}));
}

TEST_F(SessionTest, KeepaliveSwitchAndPlumbing) {
    client->StartNet();
    client->StartKeepalive();
    client->StopKeepalive();
    client->SetProxy("proxy", 3128);
    client->ClearProxy();
    EXPECT_EQ(net->calls,
              (std::vector<std::string>{"StartWorkers", "ResumePush", "StartKeepalive", "SuspendPush",
                                        "StopKeeplive", "SetProxy proxy:3128", "ClearProxy"}));
}

TEST(ClientEdition, TableAndOverrides) {
    EXPECT_EQ(Client::EditionBaseUrl("morvale"), "http://127.0.0.1:8848/morvale");
    EXPECT_EQ(Client::EditionBaseUrl("tarsip"), "http://cs.tarsip.example/kf");
    EXPECT_EQ(Client::EditionBaseUrl("nothing"), "");
    InlineExecutor executor;
    {
        Client fromTable(std::make_unique<FakeNet>(), executor, ClientOptions{"morvaleb", ""});
        if (std::getenv("MORVALE_BASE_URL") == nullptr) {
            EXPECT_EQ(fromTable.baseUrl(), "http://b.morvale.example/cs");
        }
        EXPECT_EQ(Client::Instance(), &fromTable);
    }
    EXPECT_EQ(Client::Instance(), nullptr);
    Client given(std::make_unique<FakeNet>(), executor, ClientOptions{"morvale", "http://x/y"});
    EXPECT_EQ(given.serverUrl(), "http://x/y");
    EXPECT_EQ(given.updatePath(), "/dl/update.php");
}

}  // namespace
}  // namespace morvale::test
