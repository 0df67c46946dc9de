#include "net/cookie_store.h"

#include <gtest/gtest.h>

#include <thread>

#include "net/base_net_thread.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

const std::string kA = "h\tFALSE\t/\tFALSE\t0\ta\t1";
const std::string kA2 = "h\tFALSE\t/\tFALSE\t0\ta\t2";
const std::string kB = "h\tFALSE\t/\tFALSE\t0\tb\t1";

TEST(CookieStore, AddStoresAHostOnlySessionCookie) {
    CookieStore store;
    EXPECT_TRUE(store.Add("example.test", "ZendDebuggerCookie=;path=/"));
    EXPECT_TRUE(store.Add("example.test", "sid=x y; Path=/c"));
    EXPECT_FALSE(store.Add("example.test", "no equals sign"));
    EXPECT_FALSE(store.Add("example.test", "=value"));
    EXPECT_FALSE(store.Add("", "a=b"));
    EXPECT_FALSE(store.Add("example.test", "a=b\tc"));
    EXPECT_EQ(store.Lines(),
              (std::vector<std::string>{"example.test\tFALSE\t/\tFALSE\t0\tZendDebuggerCookie\t",
                                        "example.test\tFALSE\t/c\tFALSE\t0\tsid\tx y"}));
}

TEST(CookieStore, MergeAppliesOnlyWhatTheTransferChanged) {
    CookieStore store;
    store.Merge({}, {kA, kB});
    const CookieStore::Snapshot first = store.Take();
    const CookieStore::Snapshot second = store.Take();
    // Transfer one changes a; transfer two, started from the same state, removes b and must not undo a.
    store.Merge(first, {kA2, kB});
    store.Merge(second, {kA});
    EXPECT_EQ(store.Lines(), std::vector<std::string>{kA2});
    // A transfer leaves alone what it never saw (b, added meanwhile) and what another transfer changed
    // meanwhile (a, removed by a transfer that started from its older value).
    store.Merge(store.Take(), {kA});
    const CookieStore::Snapshot third = store.Take();
    store.Merge(third, {kA2, kB});
    store.Merge(third, {});
    EXPECT_EQ(store.Lines(), (std::vector<std::string>{kA2, kB}));
}

class Worker : public BaseNetThread {
  public:
    Worker() : BaseNetThread("Net") {}
    ~Worker() override { Stop(); }

  protected:
    void Execute() override {}
};

TEST(CookieStore, FourWorkersShareOneStoreConcurrently) {
    TestHttpServer server;
    // Each worker's requests set a cookie named after the worker and its request number.
    server.SetHandler([](const RecordedRequest& req) {
        ScriptedReply reply = ScriptedReply::Body("ok");
        const std::string name = req.path.substr(1);  // "/w0" -> "w0"
        reply.headers = {
            {"Set-Cookie", name + "=" + req.target.substr(req.target.find('=') + 1) + "; path=/"}};
        return reply;
    });
    CookieStore store;
    constexpr int kWorkers = 4;
    constexpr int kRequests = 25;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<Worker>());
        workers.back()->SetCookieStore(&store);
    }
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kWorkers; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < kRequests; ++n) {
                ReplyLines lines;
                const std::string url =
                    server.BaseUrl() + "/w" + std::to_string(i) + "?n=" + std::to_string(n);
                if (workers[i]->HttpGet(url, lines, 1) != NET_OK) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    // Every worker's last value survived the others' merges.
    std::vector<std::string> lines = store.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWorkers));
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_EQ(lines[i], "127.0.0.1\tFALSE\t/\tFALSE\t0\tw" + std::to_string(i) + "\t" +
                                std::to_string(kRequests - 1));
    }
    // A worker's later request carries its own earlier cookie.
    for (const auto& req : server.Requests()) {
        if (req.target.find("n=0") != std::string::npos) continue;
        const std::string own = req.path.substr(1) + "=";
        EXPECT_NE(req.Header("Cookie").value_or("").find(own), std::string::npos) << req.target;
    }
}

}  // namespace
}  // namespace morvale::test
