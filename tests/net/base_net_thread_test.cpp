#include "net/base_net_thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <regex>

#include "net_test_support.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;

// A worker whose body is whatever the test gives it; without a body the routines are called from the
// test thread while the worker thread never starts.
class Probe : public BaseNetThread {
  public:
    Probe() : BaseNetThread("Net") {}
    ~Probe() override { Stop(); }
    std::function<void(Probe&)> body;
    using BaseNetThread::Perform;

  protected:
    void Execute() override {
        if (body) body(*this);
    }
};

// The elapsed milliseconds are the only varying part of a log head; they become "<ms>".
std::string MaskElapsed(const std::string& record) {
    return std::regex_replace(record, std::regex("^(▼▼[GP] )[0-9]+ms"), "$1<ms>ms");
}

TEST(ReplyLines, SplitAtEveryKindOfLineBreakAndJoinWithCrLf) {
    struct Row {
        const char* name;
        std::string body;
        ReplyLines lines;
    } rows[] = {
        {"empty", "", {}},
        {"single", "abc", {"abc"}},
        {"final break adds nothing", "abc\r\n", {"abc"}},
        {"mixed breaks", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"empty lines kept", "a\n\nb", {"a", "", "b"}},
        {"lone break", "\r\n", {""}},
        {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SplitReplyLines(row.body), row.lines) << row.name;
    }
    EXPECT_EQ(JoinReplyLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(JoinReplyLines({}), "");
}

TEST(HttpGet, SuccessStoresLinesSendsBareRequestAndLogsTheExchange) {
    LogCapture log;
    TestHttpServer server;
    ScriptedReply reply = ScriptedReply::Body("a\r\nb\rc\nd");
    reply.headers = {{"X-Tag", "t1"}};
    server.Enqueue("/c/a.php", reply);
    Probe probe;
    ReplyLines lines = {"old"};
    const std::string url = server.BaseUrl() + "/c/a.php?";
    EXPECT_EQ(probe.HttpGet(url, lines, 3), NET_OK);
    EXPECT_EQ(lines, (ReplyLines{"a", "b", "c", "d"}));

    ASSERT_EQ(server.RequestCount(), 1u);
    const RecordedRequest req = server.Requests()[0];
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/c/a.php?");  // the empty query survives
    EXPECT_FALSE(req.HasHeader("Accept"));
    EXPECT_FALSE(req.HasHeader("User-Agent"));
    EXPECT_FALSE(req.HasHeader("Cookie"));

    const auto records = log.Records("Net", "Information");
    ASSERT_EQ(records.size(), 1u);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n";
    const std::string masked = MaskElapsed(records[0]);
    const std::string head = "▼▼G <ms>ms 2c - " + url + ">>>>\r\n" + host + "<<<<\r\n";
    EXPECT_EQ(masked.substr(0, head.size()), head);
    EXPECT_NE(masked.find("X-Tag: t1\r\n"), std::string::npos);
    const std::string tail = "\r\n\r\na\r\nb\r\nc\r\nd\r\n";
    ASSERT_GE(masked.size(), tail.size());
    EXPECT_EQ(masked.substr(masked.size() - tail.size()), tail);
}

TEST(HttpGet, BytesAUrlCannotHoldGoOutPercentEncoded) {
    TestHttpServer server;
    server.Enqueue("/c/a b.php", ScriptedReply::Body("ok"));
    Probe probe;
    ReplyLines lines;
    EXPECT_EQ(probe.HttpGet(server.BaseUrl() + "/c/a b.php?msg=x\x7fy\tz\xb0\xa1", lines, 1), NET_OK);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/c/a%20b.php?msg=x%7Fy%09z%B0%A1");
}

TEST(HttpGet, GzipIsDecodedOnlyForExactlyGzip) {
    const std::string plain = "line one\r\nline two";
    struct Row {
        const char* name;
        std::string encoding;
        std::string body;
        int code;
        ReplyLines lines;
    } rows[] = {
        {"gzip", "gzip", Gzip(plain), NET_OK, {"line one", "line two"}},
        {"other case kept", "GZIP", "raw\nbody", NET_OK, {"raw", "body"}},
        {"deflate kept", "deflate", "raw", NET_OK, {"raw"}},
        {"corrupt gzip", "gzip", "not gzip at all", NET_ERROR, {"before"}},
        {"truncated gzip", "gzip", Gzip(plain).substr(0, 12), NET_ERROR, {"before"}},
    };
    for (const auto& row : rows) {
        TestHttpServer server;
        ScriptedReply reply = ScriptedReply::Body(row.body);
        reply.headers = {{"Content-Encoding", row.encoding}};
        server.SetDefault(reply);
        Probe probe;
        ReplyLines lines = {"before"};
        EXPECT_EQ(probe.HttpGet(server.BaseUrl() + "/x", lines, 1), row.code) << row.name;
        EXPECT_EQ(lines, row.lines) << row.name;
    }
}

struct FailureRow {
    const char* name;
    std::function<std::string(TestHttpServer&, RawHttpServer&)> setUp;  // returns the URL
    int code;
    const char* kind;
    const char* messageStart;
};

TEST(HttpGet, FailuresAreClassifiedAndLogged) {
    const FailureRow rows[] = {
        {"refused",
         [](TestHttpServer&, RawHttpServer&) {
             return "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
         },
         NET_CONNECT_FAILED, "Warning", ""},
        {"name resolution",
         [](TestHttpServer&, RawHttpServer&) { return std::string("http://nonexistent.invalid/"); },
         NET_DNS_FAILED, "Warning", ""},
        {"server error",
         [](TestHttpServer& s, RawHttpServer&) {
             s.SetDefault(ScriptedReply::Body("boom body", 500));
             return s.BaseUrl() + "/e";
         },
         NET_ERROR, "Warning", "HTTP/1.1 500 Internal Server Error\r\nboom body"},
        {"not found",
         [](TestHttpServer& s, RawHttpServer&) {
             s.SetDefault(ScriptedReply::Body("", 404));
             return s.BaseUrl() + "/nf";
         },
         NET_ERROR, "Warning", "HTTP/1.1 404 Not Found\r\n"},
        {"silence",
         [](TestHttpServer& s, RawHttpServer&) {
             s.SetDefault(ScriptedReply::Silent());
             return s.BaseUrl() + "/quiet";
         },
         NET_READ_TIMEOUT, "Warning", "Read timed out."},
        {"closed without reply",
         [](TestHttpServer&, RawHttpServer& r) {
             r.SetDefault({});
             return r.BaseUrl() + "/c";
         },
         NET_CLOSED, "Warning", "Connection Closed Gracefully."},
        {"truncated body",
         [](TestHttpServer& s, RawHttpServer&) {
             ScriptedReply reply = ScriptedReply::Body(std::string(1000, 'x'));
             reply.mode = ScriptedReply::Mode::Truncate;
             reply.truncateAt = 100;
             s.SetDefault(reply);
             return s.BaseUrl() + "/t";
         },
         NET_CLOSED, "Warning", "Connection Closed Gracefully."},
        {"garbage bytes",
         [](TestHttpServer&, RawHttpServer& r) {
             r.SetDefault({"\x01\x02 no http here\r\n\r\n"});
             return r.BaseUrl() + "/g";
         },
         NET_ERROR, "Exception", ""},
        {"over-long header line",
         [](TestHttpServer& s, RawHttpServer&) {
             ScriptedReply reply = ScriptedReply::Body("x");
             reply.headers = {{"X-Long", std::string(20000, 'h')}};
             s.SetDefault(reply);
             return s.BaseUrl() + "/h";
         },
         NET_ERROR, "Exception", "Max line length exceeded."},
        {"oversized reply",
         [](TestHttpServer& s, RawHttpServer&) {
             s.SetDefault(ScriptedReply::Body(std::string(kMaxReplyBytes + 1, 'z')));
             return s.BaseUrl() + "/big";
         },
         NET_ERROR, "Exception", "Reply larger than 67108864 bytes"},
    };
    for (const auto& row : rows) {
        LogCapture log;
        TestHttpServer server;
        RawHttpServer raw;
        const std::string url = row.setUp(server, raw);
        Probe probe;
        // Short only where the time-out is the point: building the oversized reply takes a while.
        probe.SetReadTimeout(row.code == NET_READ_TIMEOUT ? 300 : 10000);
        ReplyLines lines = {"before"};
        EXPECT_EQ(probe.HttpGet(url, lines, 1), row.code) << row.name;
        EXPECT_EQ(lines, ReplyLines{"before"}) << row.name;
        const auto records = log.Records("Net", row.kind);
        ASSERT_EQ(records.size(), 1u) << row.name << "\n" << log.Text();
        const std::string head = "▼▼G <ms>ms 0c - " + url + "    ---------    \r\n" + row.messageStart;
        EXPECT_EQ(MaskElapsed(records[0]).substr(0, head.size()), head) << row.name;
        server.ReleaseSilent();
    }
}

TEST(HttpGet, ConnectTimeoutIsItsOwnFailure) {
    StalledListener stalled;
    Probe probe;
    probe.SetConnectTimeout(200);
    ReplyLines lines;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(probe.HttpGet(stalled.BaseUrl() + "/", lines, 1), NET_CONNECT_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(HttpGet, ReadTimeoutMeansNoDataForThatLong) {
    TestHttpServer server;
    ScriptedReply reply = ScriptedReply::Body("0123456789");
    reply.mode = ScriptedReply::Mode::Trickle;
    reply.trickleChunks = 5;
    reply.trickleGap = 150ms;  // 600 ms in all, never 400 ms without data
    server.SetDefault(reply);
    Probe probe;
    probe.SetReadTimeout(400);
    ReplyLines lines;
    EXPECT_EQ(probe.HttpGet(server.BaseUrl() + "/slow", lines, 1), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"0123456789"});
}

TEST(HttpGet, RetriesOneSecondApartWithRemainingCountDown) {
    LogCapture log;
    TestHttpServer server;
    server.SetDefault(ScriptedReply::Body("no", 503));
    Probe probe;
    ReplyLines lines;
    const std::string url = server.BaseUrl() + "/r";
    EXPECT_EQ(probe.HttpGet(url, lines, 3), NET_ERROR);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 1; i < requests.size(); ++i) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].when - requests[i - 1].when);
        EXPECT_GE(gap.count(), 990) << i;
        EXPECT_LT(gap.count(), 1500) << i;
    }
    const auto records = log.Records("Net", "Warning");
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(MaskElapsed(records[i]).rfind("▼▼G <ms>ms " + std::to_string(2 - i) + "c - " + url, 0), 0u);
    }
}

TEST(HttpGet, ZeroTriesMakeOneAttemptLoggedWithMinusOne) {
    LogCapture log;
    Probe probe;
    ReplyLines lines;
    const std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/z";
    EXPECT_EQ(probe.HttpGet(url, lines, 0), NET_CONNECT_FAILED);
    const auto records = log.Records("Net", "Warning");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(MaskElapsed(records[0]).rfind("▼▼G <ms>ms -1c - " + url, 0), 0u);
}

TEST(HttpGet, StoppingDuringTheRetryPauseReturnsTerminatedAtOnce) {
    TestHttpServer server;
    server.SetDefault(ScriptedReply::Body("", 500));
    Probe probe;
    std::atomic<int> result{-1};
    probe.body = [&](Probe& self) {
        ReplyLines lines;
        result = self.HttpGet(server.BaseUrl() + "/r", lines, 10);
    };
    probe.Start();
    ASSERT_TRUE(server.WaitForRequests(1));
    const auto start = std::chrono::steady_clock::now();
    probe.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(result.load(), NET_TERMINATED);
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(HttpGet, StoppingAbortsATransferInProgress) {
    TestHttpServer server;
    server.SetDefault(ScriptedReply::Silent());
    Probe probe;
    probe.SetReadTimeout(60000);
    std::atomic<int> result{-1};
    probe.body = [&](Probe& self) {
        ReplyLines lines;
        result = self.HttpGet(server.BaseUrl() + "/long", lines, 1);
    };
    probe.Start();
    ASSERT_TRUE(server.WaitForRequests(1));
    const auto start = std::chrono::steady_clock::now();
    probe.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(result.load(), NET_TERMINATED);
}

TEST(HttpPost, SendsTheFieldsAsAFormAndLogsThem) {
    LogCapture log;
    TestHttpServer server;
    server.SetDefault(ScriptedReply::Body("ok"));
    Probe probe;
    ReplyLines lines;
    const std::string url = server.BaseUrl() + "/c/asendmsg.php?";
    const std::vector<std::string> fields = {"vid=v1", "msg=%D6%D0%20x "};
    EXPECT_EQ(probe.HttpPost(url, fields, lines, 3), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"ok"});
    ASSERT_EQ(server.RequestCount(), 1u);
    const RecordedRequest req = server.Requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/c/asendmsg.php?");
    EXPECT_EQ(req.body, "vid=v1&msg=%D6%D0%20x");  // trailing blank trimmed
    EXPECT_EQ(req.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(req.HasHeader("Accept"));
    EXPECT_FALSE(req.HasHeader("Expect"));

    const auto records = log.Records("Net", "Information");
    ASSERT_EQ(records.size(), 1u);
    const std::string masked = MaskElapsed(records[0]);
    EXPECT_EQ(masked.rfind("▼▼P <ms>ms 2c - " + url + "    ---------    \r\nHost: 127.0.0.1:", 0), 0u);
    EXPECT_NE(masked.find("\r\n\r\n\r\nvid=v1\r\nmsg=%D6%D0%20x \r\n\r\n<<<<\r\n"), std::string::npos);
    EXPECT_EQ(masked.substr(masked.size() - 6), "\r\nok\r\n");
}

TEST(HttpPost, GracefulCloseCountsAsSentAndKeepsTheReply) {
    RawHttpServer raw;
    raw.SetDefault({});
    Probe probe;
    ReplyLines lines = {"kept"};
    EXPECT_EQ(probe.HttpPost(raw.BaseUrl() + "/p", {"a=1"}, lines, 3), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"kept"});
    EXPECT_EQ(raw.RequestCount(), 1u);
}

TEST(HttpPost, RetriesLikeGet) {
    TestHttpServer server;
    server.Enqueue("/p", ScriptedReply::Body("", 500));
    server.SetDefault(ScriptedReply::Body("second"));
    Probe probe;
    ReplyLines lines;
    EXPECT_EQ(probe.HttpPost(server.BaseUrl() + "/p", {"a=1"}, lines, 2), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"second"});
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(HttpClient, ProxyIsUsedWhenSetAndClearedProxyMeansDirect) {
    TestHttpServer proxy;
    proxy.SetDefault(ScriptedReply::Body("via proxy"));
    TestHttpServer origin;
    origin.SetDefault(ScriptedReply::Body("direct"));
    // An environment proxy that would refuse: a cleared proxy must not fall back to it.
    const std::string dead = "http://127.0.0.1:" + std::to_string(UnusedPort());
    setenv("http_proxy", dead.c_str(), 1);
    setenv("HTTP_PROXY", dead.c_str(), 1);
    Probe probe;
    ReplyLines lines;
    const std::string url = origin.BaseUrl() + "/c/a.php?x=1";
    EXPECT_EQ(probe.HttpGet(url, lines, 1), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"direct"});

    probe.SetProxy("127.0.0.1", proxy.Port());
    EXPECT_EQ(probe.HttpGet(url, lines, 1), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"via proxy"});
    ASSERT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, url);

    probe.SetProxy("", 0);
    EXPECT_EQ(probe.HttpGet(url, lines, 1), NET_OK);
    EXPECT_EQ(lines, ReplyLines{"direct"});
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
}

TEST(HttpClient, CookiesComeFromAndGoBackToTheStore) {
    TestHttpServer server;
    ScriptedReply setter = ScriptedReply::Body("set");
    setter.headers = {{"Set-Cookie", "sid=abc; path=/"}};
    server.Enqueue("/login", setter);
    server.SetDefault(ScriptedReply::Body("ok"));
    CookieStore store;
    store.Add("127.0.0.1", "ZendDebuggerCookie=;path=/");
    Probe withStore;
    withStore.SetCookieStore(&store);
    Probe without;
    ReplyLines lines;
    ASSERT_EQ(withStore.HttpGet(server.BaseUrl() + "/login", lines, 1), NET_OK);
    ASSERT_EQ(withStore.HttpGet(server.BaseUrl() + "/next", lines, 1), NET_OK);
    ASSERT_EQ(without.HttpGet(server.BaseUrl() + "/other", lines, 1), NET_OK);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Cookie"), "ZendDebuggerCookie=");
    const std::string second = requests[1].Header("Cookie").value_or("");
    EXPECT_NE(second.find("sid=abc"), std::string::npos);
    EXPECT_NE(second.find("ZendDebuggerCookie="), std::string::npos);
    EXPECT_FALSE(requests[2].HasHeader("Cookie"));
    EXPECT_EQ(store.Lines().size(), 2u);
}

}  // namespace
}  // namespace morvale::test
