// Figures of a live session against the stand-in service on loopback, the service running in a
// child process so that only the client's own costs are counted:
//
//   live_bench latency [N]   N visitor messages (default 1000), one at a time, from the moment the
//                            service is asked to queue each to the client's callback; p50 and p99
//   live_bench idle [S]      CPU time and resident memory of a signed-in session left alone for S
//                            seconds (default 60)
//
// Push interval 0, no scripted visitors. Prints "key value" lines.

#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "session/client.h"
#include "session/executor.h"
#include "session/hub_link.h"
#include "sim_server.h"

namespace morvale::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "live_bench: %s\n", why.c_str());
    std::exit(1);
}

// The service in a child process: its port comes back through a pipe; it ends when the parent
// closes the other pipe (also when the parent dies).
struct SimChild {
    pid_t pid = -1;
    int port = 0;
    int keepAlive = -1;

    void Start() {
        int portPipe[2], lifePipe[2];
        if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) Die("pipe failed");
        pid = fork();
        if (pid < 0) Die("fork failed");
        if (pid == 0) {
            close(portPipe[0]);
            close(lifePipe[1]);
            sim::SimOptions o;
            o.port = 0;
            o.scriptedVisitors = 0;
            o.service.pushIntervalMs = 0;
            sim::SimServer server(o);
            int got = server.Start() ? server.port() : 0;
            if (write(portPipe[1], &got, sizeof got) != static_cast<ssize_t>(sizeof got)) _exit(1);
            char c;
            while (read(lifePipe[0], &c, 1) > 0) {
            }
            server.Stop();
            _exit(0);
        }
        close(portPipe[1]);
        close(lifePipe[0]);
        keepAlive = lifePipe[1];
        if (read(portPipe[0], &port, sizeof port) != static_cast<ssize_t>(sizeof port) || port == 0) {
            Die("the stand-in service did not start");
        }
        close(portPipe[0]);
    }

    void Stop() {
        if (pid <= 0) return;
        close(keepAlive);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }
};

// The value of a text member in the service's flat JSON answer.
std::string JsonText(const std::string& json, const std::string& key) {
    const std::string tag = std::string("\"") + key + "\":\"";
    std::size_t at = json.find(tag);
    if (at == std::string::npos) return {};
    at += tag.size();
    return json.substr(at, json.find('"', at) - at);
}

class Control {
  public:
    explicit Control(int port) : http_("127.0.0.1", port) { http_.set_read_timeout(10, 0); }
    std::string Post(const std::string& path, const std::string& json) {
        auto res = http_.Post(std::string("/_sim/") + path, json, "application/json");
        if (!res || res->status != 200) Die(std::string("control ") + path + " failed");
        return res->body;
    }

  private:
    httplib::Client http_;
};

// The signed-in operator op01 of site demo, its model applied on the calling thread.
class Session : public ClientListener {
  public:
    explicit Session(int port) {
        client_ = std::make_unique<Client>(
            MakeHubLink(), executor_,
            ClientOptions{"morvale", std::string("http://127.0.0.1:") + std::to_string(port) + "/morvale"});
        client_->ClearProxy();
        client_->RegisterWindow(this);
        client_->SetUser(std::make_unique<User>("demo", "op01", "123456"));
        client_->StartNet();
        client_->LoginServer();
        RunUntil([&] { return signedIn_; }, 30s, "sign-in");
        client_->StartKeepalive();
        client_->RequestVisitorList();
        RunUntil([&] { return listed_; }, 30s, "visitor list");
    }
    ~Session() override {
        client_->UnregisterWindow(this);
        client_.reset();
        executor_.Clear();
    }

    // Runs the model's thread until done() or the limit.
    template <class Done>
    void RunUntil(Done done, Clock::duration limit, const char* what) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= deadline) Die(std::string("no ") + what + " in time");
            executor_.RunFor(50ms);
        }
    }
    void RunFor(Clock::duration span) {
        const auto end = Clock::now() + span;
        while (Clock::now() < end) {
            executor_.RunFor(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min<Clock::duration>(200ms, end - Clock::now())));
        }
    }

    Client& client() { return *client_; }
    std::function<void(const CallbackInfo&)> onCallback;

    void OnClientCallback(const CallbackInfo& info) override {
        if (info.code == CbcLogin && info.status == 0) signedIn_ = true;
        if (info.code == CbcLogin && info.status != 0) Die("sign-in timed out");
        if (info.code == CbcVisitorAll) listed_ = true;
        if (onCallback) onCallback(info);
    }

  private:
    QueueExecutor executor_;
    std::unique_ptr<Client> client_;
    bool signedIn_ = false;
    bool listed_ = false;
};

double Percentile(std::vector<double> sorted, double p) {
    std::sort(sorted.begin(), sorted.end());
    const std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

int Latency(int port, int count) {
    Session session(port);
    Control control(port);
    const std::string vid = JsonText(control.Post("visitor/arrive", "{\"site\":\"demo\"}"), "vid");
    if (vid.empty()) Die("no visitor id");
    Visitor* visitor = nullptr;
    session.RunUntil([&] { return (visitor = FindVisitor(session.client().visitors(), vid)) != nullptr; },
                     30s, "arrival");
    control.Post("visitor/call", std::string("{\"vid\":\"") + vid + "\",\"question\":\"hello\"}");
    session.RunUntil([&] { return visitor->state == vsCalling && visitor->chat != nullptr; }, 30s,
                     "chat request");
    session.client().Accept(*visitor);
    session.RunUntil([&] { return visitor->state == vsChatMine; }, 30s, "chat start");

    // The messages are asked for from a thread of their own, so that the model's thread is free to
    // take each one the moment it arrives.
    std::mutex mu;
    std::condition_variable seen;
    std::string expected;
    std::optional<Clock::time_point> arrived;
    session.onCallback = [&](const CallbackInfo& info) {
        if (info.code != CbcVisitorMsg || info.visitor() != visitor) return;
        const auto now = Clock::now();
        std::lock_guard lock(mu);
        if (visitor->chat->lastMsg == expected) {
            arrived = now;
            seen.notify_all();
        }
    };
    std::vector<double> ms;
    std::atomic<bool> done{false};
    std::thread sender([&] {
        Control c(port);
        for (int i = 0; i < count; ++i) {
            std::string msg = std::to_string(i);
            msg.insert(0, 1, 'm');
            {
                std::lock_guard lock(mu);
                expected = msg;
                arrived.reset();
            }
            const auto sent = Clock::now();
            c.Post("visitor/send", std::string("{\"vid\":\"") + vid + "\",\"msg\":\"" + msg + "\"}");
            std::unique_lock lock(mu);
            if (!seen.wait_for(lock, 10s, [&] { return arrived.has_value(); }))
                Die(std::string("message ") + msg + " lost");
            ms.push_back(std::chrono::duration<double, std::milli>(*arrived - sent).count());
        }
        done = true;
    });
    session.RunUntil([&] { return done.load(); }, std::chrono::seconds(30 + count / 10),
                     "end of the messages");
    sender.join();
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("messages %zu\np50_ms %.3f\np99_ms %.3f\nmax_ms %.3f\nmean_ms %.3f\n", ms.size(),
                Percentile(ms, 0.50), Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()),
                sum / static_cast<double>(ms.size()));
    return 0;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::string(key).size(), nullptr, 10);
    }
    return -1;
}

int Idle(int port, int seconds) {
    Session session(port);
    session.RunFor(2s);  // let the sign-in's follow-up requests settle
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    session.RunFor(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    std::printf("seconds %.1f\ncpu_seconds %.4f\ncpu_percent_of_core %.4f\nrss_kb %ld\nrss_peak_kb %ld\n",
                wall, cpu, 100.0 * cpu / wall, StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    return 0;
}

}  // namespace
}  // namespace morvale::bench

int main(int argc, char** argv) {
    using namespace morvale::bench;
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    if ((mode != "latency" && mode != "idle") || argc > 3 || (argc == 3 && n <= 0)) {
        std::fprintf(stderr, "usage: live_bench latency [MESSAGES] | idle [SECONDS]\n");
        return 2;
    }
    // Forked before any thread exists.
    SimChild sim;
    sim.Start();
    const std::string log = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                            "/live_bench." + std::to_string(getpid()) + ".cdd";
    morvale::SetLogFilePath(log);
    const int rc = mode == "latency" ? Latency(sim.port, n > 0 ? n : 1000) : Idle(sim.port, n > 0 ? n : 60);
    sim.Stop();
    std::remove(log.c_str());
    return rc;
}
