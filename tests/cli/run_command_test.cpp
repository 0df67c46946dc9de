// morvale-cli run as a separate process against a scripted loopback service.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/gbk.h"
#include "support/child_process.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;

std::string Frame(int type, std::vector<std::string> fields) {
    std::string payload;
    for (std::size_t i = 0; i < fields.size(); ++i) payload += (i ? "\x06" : "") + fields[i];
    return "\x02" + std::to_string(type) +
           "\x05"
           "1\x05" +
           std::to_string(payload.size()) + "\x05" + payload + "\x03";
}

// The service: an edition prefix that names the real server, the real server below "/real", and a
// queue of events handed out by the push subscription.
class Service {
    // Declared before the server, so that the server (and its handler threads) stops first.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string events_;

  public:
    std::atomic<bool> refuseLogin{false};
    std::atomic<int> failLogins{0};  // that many login requests get HTTP 500
    std::atomic<bool> failSend{false};
    std::atomic<int> logins{0};
    std::vector<std::chrono::steady_clock::time_point> loginTimes;
    std::mutex loginMutex;
    TestHttpServer http;

    Service() {
        http.SetHandler([this](const RecordedRequest& r) { return Answer(r); });
    }

    std::string EditionUrl() const { return http.BaseUrl() + "/ed"; }
    std::string RealUrl() const { return http.BaseUrl() + "/real"; }

    void Push(const std::string& frames) {
        {
            std::lock_guard lock(mutex_);
            events_ += frames;
        }
        changed_.notify_all();
    }

    // Targets of the requests received for a path (below /real), in order.
    std::vector<std::string> Targets(const std::string& path) const {
        std::vector<std::string> out;
        for (const auto& r : http.Requests()) {
            if (r.path == "/real" + path) out.push_back(r.target);
        }
        return out;
    }

  private:
    ScriptedReply Answer(const RecordedRequest& r) {
        if (r.path == "/ed/c/alogin.php") return ScriptedReply::Body(Frame(103, {RealUrl()}));
        if (r.path == "/real/c/alogin.php") {
            {
                std::lock_guard lock(loginMutex);
                loginTimes.push_back(std::chrono::steady_clock::now());
            }
            if (failLogins > 0) {
                --failLogins;
                return ScriptedReply::Body("busy", 500);
            }
            if (refuseLogin) return ScriptedReply::Body(Frame(104, {"0", "密码错误", ""}));
            const int n = ++logins;
            return ScriptedReply::Body(Frame(104, {"1", "sess" + std::to_string(n), "asp1", "demo", "op1",
                                                   "op01", "Alice", "1", "/faq/op01.xml", "2", "50"}));
        }
        if (r.path == "/real/sub.php") {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, 300ms, [this] { return !events_.empty(); });
            std::string body = "ok";
            if (!events_.empty()) body.swap(events_);
            events_.clear();
            return ScriptedReply::Body(body);
        }
        if (r.path == "/real/c/avisitorlist.php") {
            return ScriptedReply::Body(Frame(119, {"<?xml version=\"1.0\" encoding=\"gb2312\"?><vs><v "
                                                   "a=\"v1\" b=\"1700000000\" c=\"\" d=\"1.2.3.4\" "
                                                   "e=\"北京\" f=\"http://s/\" g=\"首页\"/></vs>"}));
        }
        if (r.path == "/real/faq/op01.xml") {
            return ScriptedReply::Body(
                "<?xml version=\"1.0\" encoding=\"gb2312\"?><root><i n=\"hi\">您好</i></root>");
        }
        if (r.path == "/real/c/aaccept.php") {
            return ScriptedReply::Body(
                Frame(109, {"v2", "1700000500", "r1", "op1", "op01", "Alice", "", "", ""}));
        }
        if (r.path == "/real/c/asendmsg.php" && failSend) return ScriptedReply::Body("", 500);
        if (r.path == "/real/c/aclose.php") return ScriptedReply::Body(Frame(115, {"v2", "1700000900"}));
        // Every command is answered with a body: an empty reply counts as a failed request.
        return ScriptedReply::Body("ok");
    }
};

std::vector<std::string> Args(const Service& s) {
    return {"--site", "demo", "--user", "op01", "--pass", "12 34", "--base-url", s.EditionUrl()};
}

std::string U8(const char* gbk) { return GbkToUtf8(gbk); }

// Signs in and waits for what the session does right after: the visitor list and the library.
void SignIn(Cli& cli) {
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcLoginServer\"", "\"ok\":true"}), "");
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":true", "\"sessionId\":\"sess1\""}), "");
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAll\""}), "");
}

TEST(CliRun, ChatFromRequestToEnd) {
    Service s;
    Cli cli(Args(s));
    SignIn(cli);
    ASSERT_NE(cli.WaitFor({"CbcFileDownloaded"}), "");
    EXPECT_EQ(s.Targets("/c/alogin.php"),
              std::vector<std::string>{
                  "/real/c/alogin.php?action=login&site=demo&user=op01&pass=12%2034&app=morvale&ver=" +
                  std::string(MORVALE_VERSION_TEXT) + "&hide=0"});
    EXPECT_EQ(s.http.RequestsFor("/ed/c/alogin.php").at(0).target,
              "/ed/c/alogin.php?action=loginserver&site=demo");

    cli.Send("visitors");
    EXPECT_NE(cli.WaitFor({"{\"visitors\":[{\"state\":1", "\"vid\":\"v1\"", U8("\"area\":\"北京\""),
                           "\"pages\":[]", "\"chat\":null"}),
              "");

    s.Push(Frame(106, {"v2", "5.6.7.8", "1700000000", "", "", "上海", "T", "http://s/p", "", "", ""}));
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAdd\"", "\"vid\":\"v2\"", "\"pages\":[{\"title\":\"T\""}), "");
    cli.Send("send v2 <div>x</div>");
    EXPECT_NE(cli.WaitFor({U8("{\"error\":\"未与您对话，不能发消息\"}")}), "");
    s.Push(Frame(108, {"1", "", "v2", "c1", "g2", "r1", "1700000300", "", "多少钱"}));
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorCall\"", "\"state\":7", U8("\"question\":\"多少钱\"")}), "");

    cli.Send("accept v2");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorChat\"", "\"state\":5"}), "");
    EXPECT_EQ(s.Targets("/c/aaccept.php"),
              std::vector<std::string>{
                  "/real/c/aaccept.php?action=accept&aspid=asp1&rid=r1&user=op01&opid=op1&site=demo"});

    s.Push(Frame(112, {"v2", "1700000600", "1", "a<b"}));
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorMsg\"", "\"newMsgCount\":1", "\"lastMsg\":\"a&lt;b\""}), "");
    cli.Send("typing v2 1");
    cli.Send(U8("send v2 <div>你好 a</div>"));
    cli.Send("send v9 hi");
    EXPECT_NE(cli.WaitFor({"{\"error\":\"unknown visitor v9\"}"}), "");
    ASSERT_TRUE(WaitUntil([&] { return !s.Targets("/c/asendmsg.php").empty(); }));
    EXPECT_EQ(s.Targets("/c/asendmsg.php")[0],
              "/real/c/asendmsg.php?vid=v2&rid=r1&msg=%3Cdiv%3E%C4%E3%BA%C3%20a%3C/div%3E");
    EXPECT_EQ(s.Targets("/cadmin/istyping.php"),
              std::vector<std::string>{"/real/cadmin/istyping.php?sid=&sessionid=c1&istyping=1"});

    cli.Send("close v2");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorEndChat\"", "\"state\":2"}), "");
    cli.Send("send v2 <div>late</div>");
    EXPECT_NE(cli.WaitFor({"\"error\""}), "");
    cli.Send("bogus");
    EXPECT_NE(cli.WaitFor({"{\"error\":\"unknown command bogus\"}"}), "");

    s.Push(Frame(110, {"v2", "1700001000"}));
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorLeft\"", "\"visitors\":[{\"state\":0", "\"vid\":\"v2\""}), "");
    cli.Send("status busy");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_EQ(s.Targets("/c/asetstatus.php"), std::vector<std::string>{"/real/c/asetstatus.php?action=busy"});
    EXPECT_EQ(s.Targets("/c/asendmsg.php").size(), 1u);
}

TEST(CliRun, RefusedSignIn) {
    Service s;
    s.refuseLogin = true;
    Cli cli(Args(s));
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":false", U8("\"errorText\":\"密码错误\"")}), "");
    EXPECT_EQ(cli.Wait(), 3);
}

TEST(CliRun, SignInTimesOut) {
    Cli cli({"--site", "demo", "--user", "op01", "--pass", "x", "--base-url",
             "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/ed"});
    EXPECT_NE(cli.WaitFor({"{\"cb\":\"CbcLoginServer\",\"code\":6,\"status\":1}"}, 60s), "");
    EXPECT_EQ(cli.Wait(), 4);
}

TEST(CliRun, Usage) {
    Cli cli({"--site", "demo"});
    EXPECT_EQ(cli.Wait(), 2);
}

TEST(CliRun, FailedSendIsNotedInTheTranscript) {
    Service s;
    s.failSend = true;
    Cli cli(Args(s));
    SignIn(cli);
    s.Push(Frame(106, {"v2", "5.6.7.8", "1700000000", "", "", "", "", "", "", "", ""}) +
           Frame(109, {"v2", "1700000500", "r1", "op1", "op01", "Alice", "", "", ""}));
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorChat\""}), "");
    cli.Send("send v2 <div>hello</div>");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcMsgSendFailed\"", U8("消息“hello”发送失败")}, 40s), "");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
}

TEST(CliRun, SignsInAgainAfterALostSignInWithItsWait) {
    Service s;
    Cli cli(Args(s));
    SignIn(cli);
    const std::size_t lists = s.Targets("/c/avisitorlist.php").size();
    s.failLogins = 10;  // the first re-login times out after its ten tries
    s.Push(Frame(6, {}));
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcOpMustReLogin\""}), "");
    ASSERT_NE(cli.WaitFor({"{\"cb\":\"CbcLogin\",\"code\":7,\"status\":1}"}, 40s), "");
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"sessionId\":\"sess2\""}, 40s), "");
    {
        std::lock_guard lock(s.loginMutex);
        ASSERT_EQ(s.loginTimes.size(), 12u);
        EXPECT_GE(s.loginTimes[11] - s.loginTimes[10], 9s);  // the first wait is ten seconds
    }
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAll\""}), "");
    EXPECT_EQ(s.Targets("/c/avisitorlist.php").size(), lists + 1);
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
}

TEST(CliRun, EndsWhenSignedInElsewhere) {
    Service s;
    Cli cli(Args(s));
    SignIn(cli);
    s.Push(Frame(125, {"op1", "sess1", "4000000000"}) + Frame(125, {"op1", "other", "4000000000"}));
    EXPECT_NE(cli.WaitFor({"{\"cb\":\"CbcOtherMeLogin\",\"code\":8,\"status\":0}"}), "");
    EXPECT_EQ(cli.Wait(), 5);
}

}  // namespace
}  // namespace morvale::test
