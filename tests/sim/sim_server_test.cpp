// Drives a real morvale-sim on a loopback port with a plain HTTP client and checks its replies with the
// independent frame reader.

#include "sim_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <regex>
#include <thread>

#include "core/gbk.h"
#include "core/text_utils.h"
#include "frame_reader.h"
#include "json.h"
#include "wire.h"

namespace morvale::sim {
namespace {

using test::ReadFrames;
using test::TestFrame;

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

struct Op {
    std::string sid, opid, login;
};

class SimServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SimOptions o;
        o.port = 0;
        o.service.pushHoldMs = 300;
        o.service.pushIntervalMs = 250;
        server_ = std::make_unique<SimServer>(o);
        ASSERT_TRUE(server_->Start());
    }
    void TearDown() override { server_->Stop(); }

    std::unique_ptr<httplib::Client> Client() {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
        c->set_decompress(false);
        c->set_read_timeout(10, 0);
        return c;
    }
    httplib::Result Get(const std::string& path, const std::string& sid = "", httplib::Headers h = {}) {
        if (!sid.empty()) h.emplace("Cookie", "PHPSESSID=" + sid);
        return Client()->Get(path, h);
    }
    std::vector<TestFrame> Frames(const std::string& body) {
        auto r = ReadFrames(body);
        EXPECT_TRUE(r.error.empty()) << r.error;
        return r.frames;
    }
    std::vector<TestFrame> GetFrames(const std::string& path, const std::string& sid = "") {
        auto res = Get(path, sid);
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(res->status, 200) << path;
        EXPECT_FALSE(res->body.empty()) << path;
        return Frames(res->body);
    }
    Json Control(const std::string& name, const Json& body = Json::Object(), int expect = 200) {
        auto res = Client()->Post("/_sim/" + name, body.Dump(), "application/json");
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(res->status, expect) << name << ": " << res->body;
        auto j = Json::Parse(res->body);
        EXPECT_TRUE(j) << res->body;
        return j ? *j : Json();
    }
    Op Login(const std::string& login, const std::string& cookie = "") {
        auto res = Get("/live/c/alogin.php?action=login&site=demo&user=" + login +
                           "&pass=123456&app=morvale&ver=1.0.0.1&hide=0",
                       cookie);
        EXPECT_TRUE(res);
        if (!res) return {};
        auto frames = Frames(res->body);
        EXPECT_EQ(frames.size(), 1u);
        if (frames.size() != 1 || frames[0].fields.size() != 11) return {};
        EXPECT_EQ(res->get_header_value("Set-Cookie"), "PHPSESSID=" + frames[0].fields[1] + "; path=/");
        return {frames[0].fields[1], frames[0].fields[4], login};
    }
    // Events queued for an operator so far, through the keep-alive.
    std::vector<TestFrame> Drain(const Op& op) {
        auto frames = GetFrames("/live/c/a.php?", op.sid);
        return frames;
    }
    std::string Arrive(Json extra = Json::Object()) {
        Json j = Control("visitor/arrive", extra);
        return j.Str("vid");
    }
    static std::vector<const TestFrame*> OfType(const std::vector<TestFrame>& frames, int type) {
        std::vector<const TestFrame*> out;
        for (const auto& f : frames)
            if (f.type == type) out.push_back(&f);
        return out;
    }
    static Json Obj(std::initializer_list<std::pair<const char*, Json>> members) {
        Json j = Json::Object();
        for (const auto& [k, v] : members) j[k] = v;
        return j;
    }

    std::unique_ptr<SimServer> server_;
};

TEST_F(SimServerTest, LoginServerNamesTheRealServer) {
    auto frames = GetFrames("/morvale/c/alogin.php?action=loginserver&site=demo");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kLoginServer);
    EXPECT_EQ(frames[0].payload, "http://127.0.0.1:" + std::to_string(server_->port()) + "/live");
    frames = GetFrames("/morvale/c/alogin.php?action=loginserver&site=nosuch");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, "0");
}

TEST_F(SimServerTest, LoginReplyFields) {
    auto res =
        Get("/live/c/alogin.php?action=login&site=demo&user=admin&pass=123456&app=morvale&ver=1&hide=0");
    ASSERT_TRUE(res);
    auto frames = Frames(res->body);
    ASSERT_EQ(frames.size(), 1u);
    const auto& f = frames[0].fields;
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(frames[0].type, kLogin);
    EXPECT_EQ(f[0], "1");
    EXPECT_EQ(f[1].size(), 26u);
    EXPECT_EQ(f[2], "1001");
    EXPECT_EQ(f[3], "demo");
    EXPECT_FALSE(f[4].empty());
    EXPECT_EQ(f[5], "admin");
    EXPECT_EQ(f[6], "管理员");
    EXPECT_EQ(f[7], "1");
    EXPECT_EQ(f[8], "/faq/demo.xml");
    EXPECT_EQ(f[9], "2");
    EXPECT_EQ(f[10], "250");
    EXPECT_EQ(Login("op01").login, "op01");
}

TEST_F(SimServerTest, LoginRefusals) {
    struct Case {
        const char* name;
        std::string query;
        std::string text;
        bool link;
    } cases[] = {
        {"wrong password", "site=demo&user=op01&pass=654321", "工号或密码错误，请重新输入", false},
        {"unknown operator", "site=demo&user=op99&pass=123456", "工号或密码错误，请重新输入", false},
        {"unknown site", "site=nosuch&user=op01&pass=123456", "网站ID不存在，请检查后重新输入", false},
        {"service ended", "site=expired&user=admin&pass=123456", "该网站的服务已到期，请续费后再登录", true},
    };
    for (const auto& c : cases) {
        auto res = Get("/live/c/alogin.php?action=login&" + c.query + "&app=morvale&ver=1&hide=0");
        ASSERT_TRUE(res) << c.name;
        EXPECT_FALSE(res->has_header("Set-Cookie")) << c.name;
        auto frames = Frames(res->body);
        ASSERT_EQ(frames.size(), 1u) << c.name;
        ASSERT_EQ(frames[0].fields.size(), 3u) << c.name;
        EXPECT_EQ(frames[0].fields[0], "0") << c.name;
        EXPECT_EQ(frames[0].fields[1], c.text) << c.name;
        if (c.link)
            EXPECT_EQ(frames[0].fields[2], "http://127.0.0.1:" + std::to_string(server_->port()) +
                                               "/live/reg/renew.php?site=expired")
                << c.name;
        else
            EXPECT_EQ(frames[0].fields[2], "") << c.name;
    }
}

TEST_F(SimServerTest, UnknownSessionsMustSignInAgain) {
    const std::string mustRelogin = std::string(
        "\x02"
        "6\x05"
        "0\x05"
        "0\x05\x03");
    for (const char* path :
         {"/live/c/a.php?", "/live/c/avisitorlist.php", "/live/c/asendmsg.php?vid=V1&rid=R1&msg=x",
          "/live/c/asetstatus.php?action=busy", "/live/cadmin/istyping.php?sid=&sessionid=&istyping=1"}) {
        for (const char* sid : {"", "nosuchsession"}) {
            auto res = Get(path, sid);
            ASSERT_TRUE(res) << path;
            EXPECT_EQ(res->body, mustRelogin) << path << " sid=" << sid;
        }
    }
    auto res = Get("/live/sub.php?id=op_nosuch", "", {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, mustRelogin);

    Op op = Login("op01");
    Control("operator/relogin", Obj({{"login", "op01"}}));
    EXPECT_EQ(Get("/live/c/a.php?", op.sid)->body, mustRelogin);
    // Signing in again from the same cookie jar keeps the session id, so a running subscription goes on.
    Op again = Login("op01", op.sid);
    EXPECT_EQ(again.sid, op.sid);
    EXPECT_EQ(Get("/live/c/a.php?", op.sid)->body, "ok");
}

TEST_F(SimServerTest, IdleSessionsExpireOnClean) {
    Op a = Login("op01"), b = Login("op02");
    const std::string mustRelogin = std::string(
        "\x02"
        "6\x05"
        "0\x05"
        "0\x05\x03");
    EXPECT_EQ(Get("/live/c/clean.php", b.sid)->body.find(mustRelogin), std::string::npos);
    Control("config", Obj({{"session_timeout_s", 0}}));
    EXPECT_EQ(Get("/live/c/clean.php", b.sid)->body, mustRelogin);
    EXPECT_EQ(Get("/live/c/a.php?", a.sid)->body, mustRelogin);
    Control("config", Obj({{"session_timeout_s", 300}}));
    EXPECT_EQ(Login("op01", a.sid).sid, a.sid);
}

TEST_F(SimServerTest, VisitorListAttributesInPositionOrder) {
    Op op = Login("op01");
    std::string v1 = Arrive(Obj({{"ip", "1.2.3.4"},
                                 {"area", U8(u8"北京市")},
                                 {"title", "T&\"<"},
                                 {"url", "/p1"},
                                 {"refer", "http://www.baidu.com/s?wd=x"},
                                 {"keyname", U8(u8"百度")},
                                 {"keyvalue", U8(u8"客服")}}));
    std::string v2 = Arrive();
    std::string rid = Control("visitor/call", Obj({{"vid", v2}, {"question", "hi"}})).Str("rid");
    Get("/live/c/aaccept.php?action=accept&aspid=1001&rid=" + rid + "&user=op01&opid=" + op.opid +
            "&site=demo",
        op.sid);
    Drain(op);

    auto frames = GetFrames("/live/c/avisitorlist.php", op.sid);
    ASSERT_GE(frames.size(), 1u);
    ASSERT_EQ(frames[0].type, kVisitorAll);
    ASSERT_EQ(frames[0].fields.size(), 1u);
    const std::string& xml = frames[0].fields[0];
    std::regex element("<v( [a-z]+=\"[^\"]*\")*/>");
    std::regex attr(" [a-z]+=\"([^\"]*)\"");
    std::vector<std::vector<std::string>> rows;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element); it != std::sregex_iterator();
         ++it) {
        std::string el = it->str();
        std::vector<std::string> values;
        for (auto a = std::sregex_iterator(el.begin(), el.end(), attr); a != std::sregex_iterator(); ++a)
            values.push_back((*a)[1]);
        rows.push_back(values);
    }
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), 17u);
    EXPECT_EQ(rows[0][0], v1);
    EXPECT_EQ(rows[0][3], "1.2.3.4");
    EXPECT_EQ(rows[0][4], "北京市");
    EXPECT_EQ(rows[0][5], "/p1");
    EXPECT_EQ(rows[0][6], "T&amp;&quot;&lt;");
    EXPECT_EQ(rows[0][7], "http://www.baidu.com/s?wd=x");
    EXPECT_EQ(rows[0][8], "百度");
    EXPECT_EQ(rows[0][9], "客服");
    EXPECT_EQ(rows[0][12], "");
    EXPECT_EQ(rows[1][0], v2);
    EXPECT_EQ(rows[1][12], rid);
    EXPECT_EQ(rows[1][13], op.opid);
    EXPECT_EQ(rows[1][14], "op01");
    EXPECT_EQ(rows[1][15], "小王");
    EXPECT_FALSE(rows[1][16].empty());
}

TEST_F(SimServerTest, PendingRequestsFollowTheVisitorList) {
    Op op = Login("op02");
    std::string vid = Arrive();
    std::string rid = Control("visitor/call", Obj({{"vid", vid}, {"question", "q"}})).Str("rid");
    // The add and call events are still queued: the list replaces them, the request follows it.
    auto frames = GetFrames("/live/c/avisitorlist.php", op.sid);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, kVisitorAll);
    EXPECT_EQ(frames[1].type, kVisitorCall);
    EXPECT_EQ(frames[1].fields[0], "1");
    EXPECT_EQ(frames[1].fields[5], rid);
    EXPECT_EQ(Get("/live/c/a.php?", op.sid)->body, "ok");
}

TEST_F(SimServerTest, SubscriptionHoldsUntilAnEventAndDeliversOnce) {
    Op op = Login("op01");
    auto push = [&](const std::string& ims, const std::string& inm) {
        return Get("/live/sub.php?id=op_" + op.sid, "", {{"If-Modified-Since", ims}, {"If-None-Match", inm}});
    };
    Control("config", Obj({{"push_hold_ms", 5000}}));
    auto pending = std::async(std::launch::async, [&] { return push("0", "0"); });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    std::string vid = Arrive();
    auto first = pending.get();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 200);
    auto frames = Frames(first->body);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kVisitorAdd);
    EXPECT_EQ(frames[0].fields[0], vid);
    std::string lm = first->get_header_value("Last-Modified"), etag = first->get_header_value("Etag");
    EXPECT_EQ(etag, "1");
    EXPECT_NE(lm.find("GMT"), std::string::npos);

    // Three more events come out together, once; the next request with the new cursor waits.
    Control("visitor/page", Obj({{"vid", vid}, {"url", "/p2"}, {"title", "P2"}}));
    Control("visitor/page", Obj({{"vid", vid}, {"url", "/p3"}, {"title", "P3"}}));
    Control("visitor/leave", Obj({{"vid", vid}}));
    auto second = push(lm, etag);
    ASSERT_TRUE(second);
    frames = Frames(second->body);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].type, kVisitorChangePage);
    EXPECT_EQ(frames[2].type, kVisitorLeft);
    EXPECT_EQ(second->get_header_value("Etag"), "4");

    // A reply that got lost: the old cursor is sent again and gets the same events again.
    auto retry = push(lm, etag);
    EXPECT_EQ(Frames(retry->body).size(), 3u);

    // Confirmed events go nowhere else: not in the keep-alive, not in the next subscription.
    EXPECT_EQ(Get("/live/c/a.php?", op.sid)->body, "ok");
    Control("config", Obj({{"push_hold_ms", 200}}));
    auto idle = push(second->get_header_value("Last-Modified"), "4");
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->status, 304);
    EXPECT_EQ(idle->body, "");
    EXPECT_EQ(idle->get_header_value("Etag"), "4");
    EXPECT_EQ(idle->get_header_value("Last-Modified"), second->get_header_value("Last-Modified"));
}

TEST_F(SimServerTest, EventsTakenByACommandAreNotPushedAgain) {
    Op op = Login("op01");
    Arrive();
    Arrive();
    auto frames = Drain(op);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].seq, 1);
    EXPECT_EQ(frames[1].seq, 2);
    auto res = Get("/live/sub.php?id=op_" + op.sid, "", {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 304);
    Arrive();
    res = Get("/live/sub.php?id=op_" + op.sid, "", {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    frames = Frames(res->body);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].seq, 3);
}

TEST_F(SimServerTest, ANewSubscriptionAnswersTheOldOne) {
    Op op = Login("op01");
    Control("config", Obj({{"push_hold_ms", 10000}}));
    auto old = std::async(std::launch::async, [&] {
        return Get("/live/sub.php?id=op_" + op.sid, "", {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    });
    EXPECT_EQ(old.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    auto fresh = std::async(std::launch::async, [&] {
        return Get("/live/sub.php?id=op_" + op.sid, "", {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    });
    auto answered = old.get();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 304);
    Arrive();
    auto got = fresh.get();
    ASSERT_TRUE(got);
    EXPECT_EQ(Frames(got->body).size(), 1u);
}

TEST_F(SimServerTest, ChatFromRequestToClose) {
    Op a = Login("op01"), b = Login("op02");
    std::string vid = Arrive(Obj({{"ip", "1.2.3.4"}}));
    Drain(a);
    Drain(b);
    std::string rid = Control("visitor/call", Obj({{"vid", vid}, {"question", U8(u8"多少钱？")}})).Str("rid");

    std::string callId;
    for (const Op* op : {&a, &b}) {
        auto frames = Drain(*op);
        ASSERT_EQ(frames.size(), 1u);
        const auto& f = frames[0].fields;
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(f[0], "1");
        EXPECT_EQ(f[2], vid);
        EXPECT_EQ(f[5], rid);
        EXPECT_EQ(f[8], "多少钱？");
        callId = f[3];
    }
    // A command's reply carries the events queued for its operator, here the chat it started.
    auto accepted = GetFrames("/live/c/aaccept.php?action=accept&aspid=1001&rid=" + rid +
                                  "&user=op01&opid=" + a.opid + "&site=demo",
                              a.sid);
    for (const auto& frames : {accepted, Drain(b)}) {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, kVisitorChat);
        ASSERT_EQ(frames[0].fields.size(), 9u);
        EXPECT_EQ(frames[0].fields[2], rid);
        EXPECT_EQ(frames[0].fields[3], a.opid);
        EXPECT_EQ(frames[0].fields[4], "op01");
    }
    // A second accept of the same chat changes nothing.
    Get("/live/c/aaccept.php?action=accept&aspid=1001&rid=" + rid + "&user=op02&opid=" + b.opid +
            "&site=demo",
        b.sid);
    EXPECT_EQ(Get("/live/c/a.php?", b.sid)->body, "ok");

    // Visitor typing and message reach the serving operator; the other gets the transcript.
    Control("visitor/type", Obj({{"vid", vid}, {"text", "hel"}}));
    Control("visitor/send", Obj({{"vid", vid}, {"msg", "a<b"}}));
    auto frames = Drain(a);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, kVisitorPreMsg);
    EXPECT_EQ(frames[0].fields[2], "hel");
    EXPECT_EQ(frames[1].type, kVisitorMsg);
    EXPECT_EQ(frames[1].fields[2], "1");
    EXPECT_EQ(frames[1].fields[3], "a<b");
    frames = Drain(b);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kVisitorChatContent);
    EXPECT_EQ(frames[0].fields[2], callId);
    auto transcript = UrlDecode(frames[0].fields[3]);
    ASSERT_TRUE(transcript);
    EXPECT_NE(transcript->find("<div class='outMsg'>"), std::string::npos);
    EXPECT_NE(transcript->find("访客[1.2.3.4]"), std::string::npos);
    EXPECT_NE(transcript->find("a&lt;b"), std::string::npos);

    // Operator message by GET and, when long, by POST; both reach the visitor side.
    EXPECT_EQ(Get("/live/c/asendmsg.php?vid=" + vid + "&rid=" + rid + "&msg=%C4%FA%BA%C3", a.sid)->body,
              "ok");
    std::string longMsg(2500, 'x');
    auto post = Client()->Post("/live/c/asendmsg.php?", {{"Cookie", "PHPSESSID=" + a.sid}},
                               "vid=" + vid + "&rid=" + rid + "&msg=%3Cb%3E" + longMsg + "%3C%2Fb%3E",
                               "application/x-www-form-urlencoded");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 200);
    Get("/live/cadmin/istyping.php?sid=&sessionid=" + callId + "&istyping=1", a.sid);
    Json inbox = Control("visitor/inbox", Obj({{"vid", vid}}));
    std::vector<std::string> types;
    for (const auto& e : inbox.Find("events")->Items()) types.push_back(e.Str("type"));
    EXPECT_EQ(types, (std::vector<std::string>{"calling", "chat", "msg", "msg", "typing"}));
    EXPECT_EQ(inbox.Find("events")->Items()[2].Str("html"), U8(u8"您好"));
    EXPECT_EQ(inbox.Find("events")->Items()[3].Str("html"), "<b>" + longMsg + "</b>");
    EXPECT_EQ(inbox.Str("chat"), "active");
    Drain(b);

    auto closed = GetFrames("/live/c/aclose.php?vid=" + vid + "&rid=" + rid, a.sid);
    for (const auto& got : {closed, Drain(b)}) {
        frames = got;
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, kVisitorEndChat);
        EXPECT_EQ(frames[0].fields[0], vid);
    }
    EXPECT_EQ(Control("visitor/inbox", Obj({{"vid", vid}})).Str("chat"), "none");
}

TEST_F(SimServerTest, RequestEndedByTheVisitorAndLeaving) {
    Op op = Login("op01");
    std::string vid = Arrive();
    std::string rid = Control("visitor/call", Obj({{"vid", vid}})).Str("rid");
    Control("visitor/leave", Obj({{"vid", vid}}));
    auto frames = Drain(op);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1].type, kVisitorCall);
    EXPECT_EQ(frames[2].type, kVisitorEndCall);
    EXPECT_EQ(frames[2].fields[0], vid);
    EXPECT_EQ(frames[2].fields[1], frames[1].fields[3]);
    EXPECT_EQ(frames[3].type, kVisitorLeft);
    Control("visitor/send", Obj({{"vid", vid}, {"msg", "x"}}), 409);
}

TEST_F(SimServerTest, InviteAndForcedChat) {
    Op op = Login("op01");
    std::string v1 = Arrive(), v2 = Arrive();
    Drain(op);
    Get("/live/c/ainvite.php?vid=" + v1, op.sid);
    EXPECT_EQ(Get("/live/c/a.php?", op.sid)->body, "ok");  // nothing happens until the visitor answers
    Json inbox = Control("visitor/inbox", Obj({{"vid", v1}}));
    ASSERT_EQ(inbox.Find("events")->Size(), 1u);
    EXPECT_EQ(inbox.Find("events")->Items()[0].Str("type"), "invite");
    Control("visitor/invite_answer", Obj({{"vid", v1}, {"accept", true}}));
    auto frames = Drain(op);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kVisitorChat);
    EXPECT_EQ(frames[0].fields[0], v1);
    EXPECT_EQ(frames[0].fields[3], op.opid);

    frames = GetFrames("/live/c/ainitialchat.php?vid=" + v2, op.sid);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kVisitorChat);
    EXPECT_EQ(frames[0].fields[0], v2);
    // Typing without a request id goes to the operator's latest chat.
    Get("/live/cadmin/istyping.php?sid=&sessionid=&istyping=1", op.sid);
    inbox = Control("visitor/inbox", Obj({{"vid", v2}}));
    EXPECT_EQ(inbox.Find("events")->Items().back().Str("type"), "typing");
    // A visitor already chatting cannot be invited.
    Get("/live/c/ainvite.php?vid=" + v2, op.sid);
    EXPECT_EQ(Control("visitor/inbox", Obj({{"vid", v2}})).Find("events")->Items().back().Str("type"),
              "typing");
}

TEST_F(SimServerTest, GuestNameReachesEveryOperator) {
    Op a = Login("op01"), b = Login("op02");
    std::string vid = Arrive(Obj({{"guest_id", "G1"}}));
    Drain(a);
    Drain(b);
    auto set = GetFrames("/live/c/asetguest.php?guestid=G1&name=%D5%C5%C8%FD", a.sid);
    for (const auto& frames : {set, Drain(b)}) {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, kVisitorGuest);
        EXPECT_EQ(frames[0].fields, (std::vector<std::string>{"G1", "张三"}));
    }
    // The name stays with the guest: a later visit arrives with it.
    Control("visitor/leave", Obj({{"vid", vid}}));
    Arrive(Obj({{"guest_id", "G1"}}));
    auto drained = Drain(a);
    auto frames = OfType(drained, kVisitorAdd);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->fields[4], "张三");
}

TEST_F(SimServerTest, FileSentToTheVisitor) {
    Op op = Login("op01");
    std::string vid = Arrive();
    Get("/live/c/ainitialchat.php?vid=" + vid, op.sid);
    std::string rid = Control("visitor/inbox", Obj({{"vid", vid}})).Str("rid");
    const std::string b = "---------------------------121126134507123";
    std::string bytes = std::string("\x00\x01\xFF", 3) + "data\r\n";
    std::string body =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"vid\"\r\n\r\n" + vid + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"rid\"\r\n\r\n" + rid + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"C:\\docs\\price.txt\"\r\n"
        "Content-Type: \r\n\r\n" +
        bytes + "\r\n--" + b + "--\r\n";
    auto res = Client()->Post("/live/c/asendfile.php?", {{"Cookie", "PHPSESSID=" + op.sid}}, body,
                              "multipart/form-data; boundary=" + b);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    Json inbox = Control("visitor/inbox", Obj({{"vid", vid}}));
    const Json& e = inbox.Find("events")->Items().back();
    EXPECT_EQ(e.Str("type"), "file");
    EXPECT_EQ(e.Str("name"), "price.txt");
    auto file = Get(e.Str("url"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->status, 200);
    EXPECT_EQ(file->body, bytes);
}

TEST_F(SimServerTest, ReplyLibraryUploadAndDownload) {
    Op admin = Login("admin"), other = Login("op02");
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"gb2312\"?><root><c n=\"新\"><i n=\"t\">a&amp;b</i></c></root>";
    const std::string b = "---------------------------121126134507999";
    std::string body = "\r\n--" + b +
                       "\r\nContent-Disposition: form-data; name=\"faqfile\"; filename=\"/tmp/ife1.xml\"\r\n"
                       "Content-Type: \r\n\r\n" +
                       doc + "\r\n--" + b + "--\r\n";
    auto up = [&](const Op& op) {
        return Client()->Post("/live/c/acannedxml.php?action=save_canned&",
                              {{"Cookie", "PHPSESSID=" + op.sid}}, body,
                              "multipart/form-data; boundary=" + b);
    };
    auto res = up(admin);
    ASSERT_TRUE(res);
    auto frames = Frames(res->body);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, kFaqUpOk);
    EXPECT_EQ(frames[0].payload, "");
    EXPECT_EQ(OfType(frames, kFaqChanged).size(), 1u);
    frames = Drain(other);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kFaqChanged);
    EXPECT_EQ(frames[0].fields[0], "/faq/demo.xml");
    EXPECT_EQ(Get("/live/faq/demo.xml")->body, doc);

    // Only an administrator may replace the library.
    EXPECT_EQ(up(other)->body, "ok");

    Control("config", Obj({{"faq_gzip", true}}));
    auto gz = Get("/live/faq/demo.xml", "", {{"Accept-Encoding", "gzip,deflate"}});
    ASSERT_TRUE(gz);
    EXPECT_EQ(gz->get_header_value("Content-Encoding"), "gzip");
    EXPECT_EQ(gz->body, GzipCompress(doc));
    EXPECT_EQ(Get("/live/faq/demo.xml")->get_header_value("Content-Encoding"), "");

    frames = GetFrames("/live/c/afaqrefresh.php", other.sid);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, kFaqChanged);
}

TEST_F(SimServerTest, SignInElsewhereIsAnnounced) {
    Op first = Login("op01");
    Op second = Login("op01");  // another machine: no cookie
    EXPECT_NE(first.sid, second.sid);
    auto drained = Drain(first);
    auto frames = OfType(drained, kOpLogin);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->fields[0], first.opid);
    EXPECT_EQ(frames[0]->fields[1], second.sid);
    EXPECT_GE(std::stoll(frames[0]->fields[2]), std::time(nullptr) - 5);

    std::string sid = Control("operator/elsewhere", Obj({{"login", "op01"}})).Str("session");
    drained = Drain(second);
    frames = OfType(drained, kOpLogin);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->fields[1], sid);
}

TEST_F(SimServerTest, StatusLeaveCountAndInjectedEvents) {
    Op op = Login("op01");
    EXPECT_EQ(Get("/live/c/asetstatus.php?action=busy", op.sid)->body, "ok");
    bool busy = false;
    Json state = Control("state");
    for (const auto& s : state.Find("sessions")->Items())
        if (s.Str("id") == op.sid) busy = s.Str("status") == "busy";
    EXPECT_TRUE(busy);
    Control("leavemsg", Obj({{"count", 7}}));
    Control("event", Obj({{"login", "op01"}, {"type", 999}, {"fields", Json::Array()}}));
    auto frames = Drain(op);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, kLeaveMsgCount);
    EXPECT_EQ(frames[0].payload, "7");
    EXPECT_EQ(frames[1].type, 999);
}

TEST_F(SimServerTest, FaultsPerEndpoint) {
    Op op = Login("op01");
    const std::string ka = "/live/c/a.php?";
    struct Case {
        const char* name;
        Json fault;
        std::function<void(const httplib::Result&)> check;
    };
    std::vector<Case> cases = {
        {"status", Obj({{"kind", "status"}, {"status", 503}, {"body", "busy"}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->status, 503);
             EXPECT_EQ(r->body, "busy");
         }},
        {"empty", Obj({{"kind", "empty"}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->status, 200);
             EXPECT_EQ(r->body, "");
         }},
        {"close", Obj({{"kind", "close"}}), [](const httplib::Result& r) { EXPECT_FALSE(r); }},
        {"silence", Obj({{"kind", "silence"}, {"delay_ms", 100}}),
         [](const httplib::Result& r) { EXPECT_FALSE(r); }},
        {"truncate", Obj({{"kind", "truncate"}}), [](const httplib::Result& r) { EXPECT_FALSE(r); }},
        {"garbage", Obj({{"kind", "garbage"}, {"size", 64}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->body.size(), 64u);
         }},
        {"malformed", Obj({{"kind", "malformed"}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_FALSE(ReadFrames(r->body).error.empty());
         }},
        {"gzip", Obj({{"kind", "gzip"}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->get_header_value("Content-Encoding"), "gzip");
             EXPECT_EQ(r->body, GzipCompress("ok"));
         }},
        {"raw", Obj({{"kind", "raw"}, {"body_hex", "0231303405"}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->body,
                       "\x02"
                       "104\x05");
         }},
        {"delay", Obj({{"kind", "delay"}, {"delay_ms", 50}}),
         [](const httplib::Result& r) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->body, "ok");
         }},
    };
    for (auto& c : cases) {
        c.fault["path"] = "/c/a.php";
        Control("fault", c.fault);
        SCOPED_TRACE(c.name);
        c.check(Get(ka, op.sid));
        // A fault is used up by one request; the next is answered normally.
        EXPECT_EQ(Get(ka, op.sid)->body, "ok");
    }
    // Faults match their endpoint only; a query part narrows the match.
    Control("fault", Obj({{"path", "/c/alogin.php?action=login"}, {"kind", "status"}, {"count", -1}}));
    EXPECT_EQ(Get("/morvale/c/alogin.php?action=loginserver&site=demo")->status, 200);
    EXPECT_EQ(Get("/live/c/alogin.php?action=login&site=demo&user=op01&pass=123456")->status, 500);
    EXPECT_EQ(Get("/live/c/alogin.php?action=login&site=demo&user=op01&pass=123456")->status, 500);
    Control("faults/clear");
    EXPECT_EQ(Get("/live/c/alogin.php?action=login&site=demo&user=op01&pass=123456")->status, 200);
    Control("fault", Obj({{"path", "c/a.php"}}), 400);
    Control("fault", Obj({{"path", "/c/a.php"}, {"kind", "explode"}}), 400);
}

TEST_F(SimServerTest, FaultThatReplacesTheReplyKeepsQueuedEventsAndDoesNotHold) {
    Op op = Login("op01");
    Drain(op);
    Control("event", Obj({{"login", "op01"}, {"type", 999}, {"fields", Json::Array()}}));
    for (const char* kind : {"status", "empty", "garbage", "malformed", "raw"}) {
        SCOPED_TRACE(kind);
        Control("fault", Obj({{"path", "/c/a.php"}, {"kind", kind}}));
        Get("/live/c/a.php?", op.sid);
    }
    // The failed replies took nothing: the event is still there for the next request.
    auto frames = Drain(op);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 999);

    // A failing subscription answers at once, not after holding the request.
    server_->Stop();
    SimOptions o;
    o.port = 0;
    o.service.pushHoldMs = 60000;
    server_ = std::make_unique<SimServer>(o);
    ASSERT_TRUE(server_->Start());
    op = Login("op01");
    Control("fault", Obj({{"path", "/sub.php"}, {"kind", "status"}}));
    auto c = Client();
    c->set_read_timeout(5, 0);
    auto res = c->Get("/live/sub.php?id=op_" + op.sid, {{"If-Modified-Since", "0"}, {"If-None-Match", "0"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
}

TEST_F(SimServerTest, StopAndResumeAnswering) {
    Op op = Login("op01");
    Control("stop");
    auto held = std::async(std::launch::async, [&] { return Get("/live/c/a.php?", op.sid); });
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    Control("resume");
    auto res = held.get();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "ok");
    Control("stop", Obj({{"mode", "drop"}}));
    EXPECT_FALSE(Get("/live/c/a.php?", op.sid));
    Control("resume");
    EXPECT_TRUE(Get("/live/c/a.php?", op.sid));
}

TEST_F(SimServerTest, RequestLog) {
    Op op = Login("op01");
    Get("/live/c/asendmsg.php?vid=V1&rid=R1&msg=%C4%E3", op.sid);
    Json log = Control("log", Obj({{"since", 0}}));
    ASSERT_EQ(log.Size(), 2u);
    const Json& e = log.Items()[1];
    EXPECT_EQ(e.Str("method"), "GET");
    EXPECT_EQ(e.Str("path"), "/live/c/asendmsg.php");
    EXPECT_EQ(e.Find("params")->Str("msg"), U8(u8"你"));
    EXPECT_NE(e.Str("headers").find("Cookie: PHPSESSID=" + op.sid), std::string::npos);
    EXPECT_EQ(Control("log", Obj({{"since", e.Num("n")}})).Size(), 0u);
}

TEST_F(SimServerTest, TransferBetweenOperators) {
    Op a = Login("op01"), b = Login("op02");
    std::string vid = Arrive(Obj({{"ip", "5.6.7.8"}}));
    std::string rid = Control("visitor/call", Obj({{"vid", vid}, {"question", "q1"}})).Str("rid");
    Get("/live/c/aaccept.php?action=accept&aspid=1001&rid=" + rid + "&user=op01&opid=" + a.opid +
            "&site=demo",
        a.sid);
    Control("visitor/send", Obj({{"vid", vid}, {"msg", "before transfer"}}));
    Drain(a);
    Drain(b);

    // The page lists the other operators; only those signed in can be chosen.
    std::string page = "/live/c/atransfer.php?PHPSESSID=" + a.sid + "&vid=" + vid + "&rid=" + rid;
    auto list = Get(page);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    EXPECT_NE(list->body.find("&to=" + b.opid + "\">小李"), std::string::npos);
    EXPECT_NE(list->body.find("管理员（admin，离线）"), std::string::npos);
    EXPECT_EQ(list->body.find("小王"), std::string::npos);
    auto done = Get(page + "&to=" + b.opid);
    ASSERT_TRUE(done);
    EXPECT_NE(done->body.find("url=me:://close"), std::string::npos);
    EXPECT_NE(done->body.find("location.href='me:://close'"), std::string::npos);

    std::string transferCall;
    for (const Op* op : {&a, &b}) {
        auto frames = Drain(*op);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, kVisitorCall);
        const auto& f = frames[0].fields;
        ASSERT_EQ(f.size(), 8u);
        EXPECT_NE(f[0], "1");
        EXPECT_EQ(f[2], vid);
        EXPECT_EQ(f[4], rid);
        EXPECT_EQ(f[6], b.opid);
        EXPECT_EQ(f[7], "小李");
        transferCall = f[3];
    }
    // Until the offered operator accepts, the chat stays with the first.
    Control("visitor/send", Obj({{"vid", vid}, {"msg", "still here"}}));
    EXPECT_EQ(OfType(Drain(a), kVisitorMsg).size(), 1u);
    Drain(b);

    auto accepted = GetFrames("/live/c/aaccept.php?action=accept&aspid=1001&rid=" + rid +
                                  "&user=op02&opid=" + b.opid + "&site=demo",
                              b.sid);
    for (const auto& frames : {accepted, Drain(a)}) {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, kVisitorTransfer);
        const auto& f = frames[0].fields;
        ASSERT_EQ(f.size(), 7u);
        EXPECT_EQ(f[0], vid);
        EXPECT_EQ(f[1], rid);
        EXPECT_EQ(f[2], b.opid);
        EXPECT_EQ(f[3], "op02");
        EXPECT_NE(f[6].find("before transfer"), std::string::npos);
        EXPECT_NE(f[6].find("still here"), std::string::npos);
        EXPECT_NE(f[6].find("\r\n<div class='outMsg'>"), std::string::npos);
    }
    Control("visitor/send", Obj({{"vid", vid}, {"msg", "after"}}));
    auto toB = Drain(b);
    ASSERT_EQ(OfType(toB, kVisitorMsg).size(), 1u);
    auto toA = Drain(a);
    auto content = OfType(toA, kVisitorChatContent);
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0]->fields[2], transferCall);  // the key the first operator's session now carries
    // The first operator can no longer write into the chat.
    Get("/live/c/asendmsg.php?vid=" + vid + "&rid=" + rid + "&msg=x", a.sid);
    Json inbox = Control("visitor/inbox", Obj({{"vid", vid}}));
    EXPECT_EQ(inbox.Find("events")->Items().back().Str("type"), "transfer");

    // Transfers of a chat that is not the operator's own are refused on the page.
    auto refused =
        Get("/live/c/atransfer.php?PHPSESSID=" + a.sid + "&vid=" + vid + "&rid=" + rid + "&to=" + b.opid);
    EXPECT_NE(refused->body.find("转接失败"), std::string::npos);
}

TEST_F(SimServerTest, WebPagesCheckTheSession) {
    Op admin = Login("admin"), op = Login("op01");
    struct Nav {
        const char* go;
        const char* target;
    } navs[] = {{"tongji", "/live/setting/stats.php?"},
                {"kf", "/live/setting/operators.php?"},
                {"style", "/live/setting/style_code.php?action=generate&deptid=0&"},
                {"msg", "/live/setting/chat_msglist.php?"},
                {"msgoff", "/live/setting/leavemsg.php?"}};
    for (const auto& n : navs) {
        auto res = Get(std::string("/live/setting/nav.php?go=") + n.go + "&PHPSESSID=" + op.sid);
        ASSERT_TRUE(res) << n.go;
        EXPECT_EQ(res->status, 302) << n.go;
        std::string location = res->get_header_value("Location");
        EXPECT_EQ(location, std::string(n.target) + "PHPSESSID=" + op.sid) << n.go;
        auto page = Get(location);
        ASSERT_TRUE(page) << n.go;
        EXPECT_EQ(page->status, 200) << n.go;
        EXPECT_NE(page->get_header_value("Content-Type").find("GBK"), std::string::npos);
    }
    struct Case {
        std::string path;
        int status;
        const char* contains;
    } cases[] = {
        {"/live/setting/stats.php?PHPSESSID=nosuch", 403, "登录已失效"},
        {"/live/setting/nav.php?go=tongji&", 403, "登录已失效"},
        {"/live/setting/nav.php?go=bogus&PHPSESSID=" + op.sid, 404, "bogus"},
        {"/live/setting/style_company.php?PHPSESSID=" + op.sid + "&action=clientread", 403, "管理员"},
        {"/live/setting/style_company.php?PHPSESSID=" + admin.sid +
             "&action=clientread&aspID=1001&url=options.php",
         200, "公司设置"},
        {"/live/setting/leavemsg.php?PHPSESSID=" + op.sid, 200, "访客留言 2"},
        {"/live/setting/operators.php?PHPSESSID=" + op.sid, 200, "小李"},
        {"/live/reg/getpassword.php", 200, "找回密码"},
        {"/live/reg/getpassword.php?site=demo&user=op01&email=a%40b.cn", 200, "a@b.cn"},
    };
    for (const auto& c : cases) {
        auto res = Get(c.path);
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, c.status) << c.path;
        EXPECT_NE(res->body.find(c.contains), std::string::npos) << c.path << "\n" << res->body;
    }
}

TEST_F(SimServerTest, GuestOldChats) {
    Op op = Login("op01");
    std::string vid = Arrive(Obj({{"guest_id", "G9"}}));
    Get("/live/c/ainitialchat.php?vid=" + vid, op.sid);
    std::string rid = Control("visitor/inbox", Obj({{"vid", vid}})).Str("rid");
    Get("/live/c/asendmsg.php?vid=" + vid + "&rid=" + rid + "&msg=%3Cb%3Eold%3C%2Fb%3E", op.sid);
    Get("/live/c/aclose.php?vid=" + vid + "&rid=" + rid, op.sid);
    auto res = Get("/live/c/aguestoldchats.php?PHPSESSID=" + op.sid + "&gid=G9");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("<div class='msg'><b>old</b></div>"), std::string::npos);
    EXPECT_NE(Get("/live/c/aguestoldchats.php?PHPSESSID=" + op.sid + "&gid=G0")->body.find("没有对话记录"),
              std::string::npos);
}

TEST_F(SimServerTest, UpdateDescriptionAndInstaller) {
    Control("update", Obj({{"version", "1.2.0.0"},
                           {"noticetype", 2},
                           {"description", U8(u8"修复问题||提速")},
                           {"installer", "12345"}}));
    auto res = Get("/live/dl/update.php?app=morvale&ver=1.0.0.1&l=demo");
    ASSERT_TRUE(res);
    const std::string base = "http://127.0.0.1:" + std::to_string(server_->port());
    EXPECT_EQ(
        res->body,
        "[morvale]\r\nversion=1.2.0.0\r\nmajor_version=1\r\nminor_version=2\r\nrelease_version=0\r\n"
        "build_version=0\r\nurl_download=" +
            base +
            "/live/dl/morvale-setup.exe\r\n"
            "filename=morvale-setup.exe\r\nfilesize=5\r\nnoticetype=2\r\ndescription=修复问题||提速\r\n");
    EXPECT_EQ(Get("/live/dl/morvale-setup.exe")->body, "12345");
    Control("update", Obj({{"filesize", 6}}));
    EXPECT_NE(Get("/live/dl/update.php?app=morvale")->body.find("filesize=6\r\n"), std::string::npos);
    EXPECT_EQ(Get("/live/dl/other.exe")->status, 404);
}

TEST_F(SimServerTest, VisitorSitePages) {
    auto res = Get("/site/demo/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("data-site=\"demo\""), std::string::npos);
    EXPECT_NE(res->body.find("/_sim/visitor/"), std::string::npos);
    EXPECT_EQ(Get("/site/demo/price.html")->status, 200);
    EXPECT_EQ(Get("/site/nosuch/")->status, 404);
    EXPECT_EQ(Get("/site/demo/nosuch.html")->status, 404);
}

}  // namespace
}  // namespace morvale::sim
