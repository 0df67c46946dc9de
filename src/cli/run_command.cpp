// morvale-cli run: a headless operator. Signs in as the login window does, then keeps the session
// as the main window does (keep-alive and push, visitor list, reply library, re-login, sign-out when
// the operator signs in elsewhere); prints every callback as a JSON line and takes commands, one per
// line, from standard input.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "cli/json_line.h"
#include "cli/packet_json.h"
#include "core/gbk.h"
#include "core/text_utils.h"
#include "session/client.h"
#include "session/executor.h"
#include "session/hub_link.h"
#include "session/own_message.h"
#include "session/relogin_policy.h"

namespace morvale::cli {

const char* const kRunUsage =
    "morvale-cli run --site S --user U --pass P [--base-url URL] [--trace] [--proxy HOST:PORT]\n"
    "                            sign in and run a headless operator session (commands on standard input)";

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The whole sign-in, whatever the workers' own retries make of it.
constexpr auto kSignInLimit = 120s;
// How long quitting waits for the requests still queued or in flight.
constexpr auto kQuitLimit = 10s;

struct RunOptions {
    std::string site, user, pass, baseUrl, proxyHost;
    int proxyPort = 0;
    bool trace = false;
};

std::optional<RunOptions> ParseArgs(const std::vector<std::string>& args, std::string& error) {
    RunOptions o;
    bool site = false, user = false, pass = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = "missing value after " + a;
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--site") {
            if (!value(o.site)) return std::nullopt;
            site = true;
        } else if (a == "--user") {
            if (!value(o.user)) return std::nullopt;
            user = true;
        } else if (a == "--pass") {
            if (!value(o.pass)) return std::nullopt;
            pass = true;
        } else if (a == "--base-url") {
            if (!value(o.baseUrl)) return std::nullopt;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--proxy") {
            std::string hostPort;
            if (!value(hostPort)) return std::nullopt;
            const std::size_t colon = hostPort.rfind(':');
            int port = 0;
            const bool digits = colon != std::string::npos && colon + 1 < hostPort.size() &&
                                hostPort.find_first_not_of("0123456789", colon + 1) == std::string::npos &&
                                hostPort.size() - colon <= 6;
            if (digits) port = std::stoi(hostPort.substr(colon + 1));
            if (!digits || colon == 0 || port < 1 || port > 65535) {
                error = "--proxy needs HOST:PORT";
                return std::nullopt;
            }
            o.proxyHost = hostPort.substr(0, colon);
            o.proxyPort = port;
        } else {
            error = "unexpected argument \"" + a + "\"";
            return std::nullopt;
        }
    }
    if (!site || !user || !pass || o.site.empty() || o.user.empty()) {
        error = "--site, --user and --pass are required";
        return std::nullopt;
    }
    return o;
}

JsonLine ChatJson(const ChatSession& c) {
    JsonLine j;
    j.Text("sid", c.sid)
        .Text("callId", c.callId)
        .Text("rid", c.rid)
        .Text("question", c.question)
        .Number("callTime", c.callTime)
        .Number("startTime", c.startTime)
        .Number("endTime", c.endTime)
        .Text("opId", c.opId)
        .Text("opLogin", c.opLogin)
        .Text("opName", c.opName)
        .Text("lastMsg", c.lastMsg)
        .TextArray("content", c.content);
    return j;
}

JsonLine VisitorJson(const Visitor& v) {
    std::vector<JsonLine> pages;
    for (const Page& p : v.pages) {
        JsonLine page;
        page.Text("title", p.title).Text("url", p.url).Number("time", p.time);
        pages.push_back(page);
    }
    JsonLine j;
    j.Int("state", v.state)
        .Int("newMsgCount", v.newMsgCount)
        .Text("vid", v.vid)
        .Text("ip", v.ip)
        .Text("area", v.area)
        .Text("guestId", v.guestId)
        .Text("guestName", v.guestName)
        .Text("pageUrl", v.pageUrl)
        .Text("pageTitle", v.pageTitle)
        .Text("referUrl", v.referUrl)
        .Text("keyName", v.keyName)
        .Text("keyValue", v.keyValue)
        .Number("arriveTime", v.arriveTime)
        .Number("leftTime", v.leftTime)
        .Text("preMsg", v.preMsg)
        .Array("pages", pages);
    if (v.chat != nullptr) {
        j.Object("chat", ChatJson(*v.chat));
    } else {
        j.Null("chat");
    }
    return j;
}

// The first word of a command line and the rest after the blanks that follow it.
std::pair<std::string, std::string> Word(std::string_view text) {
    const std::size_t end = text.find(' ');
    if (end == std::string_view::npos) return {std::string(text), {}};
    std::size_t rest = end;
    while (rest < text.size() && text[rest] == ' ') ++rest;
    return {std::string(text.substr(0, end)), std::string(text.substr(rest))};
}

class Runner : public ClientListener {
  public:
    Runner(const RunOptions& options, const CommandStreams& io) : options_(options), io_(io) {}

    int Run() {
        client_ =
            std::make_unique<Client>(MakeHubLink(), executor_, ClientOptions{"morvale", options_.baseUrl});
        policy_ = std::make_unique<ReLoginPolicy>(
            *client_, ReLoginPolicy::Hooks{
                          [this](std::chrono::milliseconds d) { reloginAt_ = Clock::now() + d; }, nullptr,
                          [this](bool ok) {
                              if (!ok) Finish(kExitRefused);
                          }});
        if (!options_.proxyHost.empty()) {
            client_->SetProxy(options_.proxyHost, options_.proxyPort);
        } else {
            client_->ClearProxy();
        }
        if (options_.trace) client_->SetTraceOp();
        client_->RegisterWindow(this);
        client_->SetUser(std::make_unique<User>(Utf8ToGbk(options_.site, GbkFallback::Question),
                                                Utf8ToGbk(options_.user, GbkFallback::Question),
                                                Utf8ToGbk(options_.pass, GbkFallback::Question)));
        client_->StartNet();
        client_->LoginServer();
        signInDeadline_ = Clock::now() + kSignInLimit;

        while (phase_ != Phase::Done) {
            executor_.RunFor(NextWait());
            const auto now = Clock::now();
            if (reloginAt_ && now >= *reloginAt_) {
                reloginAt_.reset();
                policy_->OnTimer();
            }
            if (phase_ == Phase::SigningIn && now >= signInDeadline_) Finish(kExitTimedOut);
            if (phase_ == Phase::Quitting && (client_->OutstandingRequests() == 0 || now >= quitDeadline_)) {
                Finish(kExitOk);
            }
        }
        StopReader();
        client_->UnregisterWindow(this);
        client_.reset();
        executor_.Clear();
        return exitCode_;
    }

    void OnClientCallback(const CallbackInfo& info) override {
        if (phase_ == Phase::Done) return;
        Print(CallbackJson(info));
        switch (info.code) {
            case CbcLoginServer:
                if (phase_ != Phase::SigningIn) break;
                if (info.status == 1) {
                    Finish(kExitTimedOut);
                } else if (const auto* p = static_cast<const InLoginServerPacket*>(info.packet());
                           p && !p->ok) {
                    Finish(kExitRefused);
                }
                break;
            case CbcLogin:
                if (phase_ != Phase::SigningIn) break;
                if (info.status == 1) {
                    Finish(kExitTimedOut);
                } else if (const auto* p = static_cast<const InLoginPacket*>(info.packet()); p && p->ok) {
                    SignedIn();
                } else {
                    Finish(kExitRefused);
                }
                break;
            case CbcOtherMeLogin:
                client_->StopKeepalive();
                Finish(kExitElsewhere);
                break;
            default:
                break;
        }
    }

  private:
    enum class Phase { SigningIn, Running, Quitting, Done };

    // What the main window does when it is created after the sign-in.
    void SignedIn() {
        phase_ = Phase::Running;
        client_->RegisterWindow(policy_.get());
        client_->StartKeepalive();
        client_->FAQFromUrl(client_->user()->faqUrl);
        client_->RequestVisitorList();
        StartReader();
    }

    void Finish(int code) {
        if (phase_ == Phase::Done) return;
        exitCode_ = code;
        phase_ = Phase::Done;
        executor_.Wake();
    }

    std::chrono::milliseconds NextWait() const {
        auto wait = std::chrono::milliseconds(200);
        if (reloginAt_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*reloginAt_ - Clock::now());
            wait = std::max(std::chrono::milliseconds(0), std::min(wait, left));
        }
        if (phase_ == Phase::Quitting) wait = std::min(wait, std::chrono::milliseconds(20));
        return wait;
    }

    JsonLine CallbackJson(const CallbackInfo& info) const {
        JsonLine j;
        j.Text("cb", CallbackName(info.code)).Int("code", info.code).Int("status", info.status);
        if (const Visitor* v = info.visitor()) j.Object("visitor", VisitorJson(*v));
        if (const InPacket* p = info.packet()) j.Object("packet", PacketJson(*p));
        if (const std::string* t = info.text()) j.Text("text", *t);
        if (const auto* list = info.leftList()) {
            std::vector<JsonLine> left;
            for (const Visitor* v : *list) left.push_back(VisitorJson(*v));
            j.Array("visitors", left);
        }
        return j;
    }

    void Print(const JsonLine& line) {
        std::fputs(line.Str().c_str(), io_.out);
        std::fputc('\n', io_.out);
        std::fflush(io_.out);
    }

    // msg is GBK (the system's own texts, or ASCII).
    void Error(const std::string& msg) { Print(JsonLine().Text("error", msg)); }

    Visitor* Target(const std::string& vidUtf8) {
        const std::string vid = Utf8ToGbk(vidUtf8, GbkFallback::Question);
        Visitor* v = vid.empty() ? nullptr : FindVisitor(client_->visitors(), vid);
        if (v == nullptr) Error("unknown visitor " + vid);
        return v;
    }

    void HandleLine(std::string line) {
        if (phase_ != Phase::Running) return;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') return;
        auto [cmd, rest] = Word(trimmed);
        auto [vidText, tail] = Word(rest);

        if (cmd == "quit") {
            Quit();
        } else if (cmd == "accept") {
            if (Visitor* v = Target(vidText)) {
                if ((v->state == vsCalling || v->state == vsTransfer) && v->chat != nullptr) {
                    client_->Accept(*v);
                } else {
                    Error("no chat request to accept");
                }
            }
        } else if (cmd == "invite" || cmd == "force") {
            if (Visitor* v = Target(vidText)) {
                if (v->state != vsBrowsing && v->state != vsChatEnded) {
                    Error(cmd == "invite" ? "不能邀请该访客对话" : "不能强制该访客对话");
                } else if (cmd == "invite") {
                    client_->Invite(*v);
                } else {
                    client_->InitialChat(*v);
                }
            }
        } else if (cmd == "close") {
            if (Visitor* v = Target(vidText)) {
                if (v->state == vsChatOther) {
                    Error("不能结束他人的对话");
                } else if (v->state != vsChatMine || !client_->CloseChat(*v)) {
                    Error("no chat to close");
                }
            }
        } else if (cmd == "send") {
            if (Visitor* v = Target(vidText)) {
                const OwnSend sent =
                    SendOwnMessage(*client_, *v, Utf8ToGbk(tail, GbkFallback::CharRef), policy_->relogging());
                if (sent.result == OwnSendResult::Offline) Error("您已离线，不能发消息，请上线后再次尝试");
                if (sent.result == OwnSendResult::NotMine) Error("未与您对话，不能发消息");
                if (sent.result == OwnSendResult::Empty) Error("empty message");
            }
        } else if (cmd == "typing") {
            if (Visitor* v = Target(vidText)) {
                if (tail != "0" && tail != "1") {
                    Error("usage: typing VID 0|1");
                } else if (!IsMineChat(*client_, *v)) {
                    Error("未与您对话，不能发消息");
                } else {
                    client_->SendTyping("", v->chat->callId, tail == "1");
                }
            }
        } else if (cmd == "sendfile") {
            if (Visitor* v = Target(vidText)) {
                if (tail.empty() || access(tail.c_str(), R_OK) != 0) {
                    Error("cannot read " + Utf8ToGbk(tail, GbkFallback::Question));
                } else if (SendOwnFile(*client_, *v, tail, Utf8ToGbk(tail, GbkFallback::Question)).result !=
                           OwnSendResult::Sent) {
                    Error("未与您对话，不能发消息");
                }
            }
        } else if (cmd == "guest") {
            if (vidText.empty() || tail.empty()) {
                Error("usage: guest GUESTID NAME");
            } else {
                client_->SetGuest(Utf8ToGbk(vidText, GbkFallback::Question),
                                  Utf8ToGbk(tail, GbkFallback::Question));
            }
        } else if (cmd == "status") {
            if (rest == "online") {
                client_->StatusOnline();
            } else if (rest == "busy") {
                client_->StatusBusy();
            } else if (rest == "away") {
                client_->StatusAway();
            } else if (rest == "hide") {
                client_->StatusHide();
            } else if (rest == "offline") {
                client_->StatusOffline();
            } else {
                Error("usage: status online|busy|away|hide|offline");
            }
        } else if (cmd == "visitors") {
            std::vector<JsonLine> all;
            for (const auto& v : client_->visitors()) all.push_back(VisitorJson(*v));
            Print(JsonLine().Array("visitors", all));
        } else if (cmd == "faq-refresh") {
            client_->FAQRefresh();
        } else if (cmd == "faq-up") {
            if (!client_->user()->isAdmin) {
                Error("only an administrator may upload the reply library");
            } else if (rest.empty() || access(rest.c_str(), R_OK) != 0) {
                Error("cannot read " + Utf8ToGbk(rest, GbkFallback::Question));
            } else {
                client_->FAQUp(rest);
            }
        } else {
            Error("unknown command " + Utf8ToGbk(cmd, GbkFallback::Question));
        }
    }

    void Quit() {
        if (phase_ != Phase::Running) return;
        phase_ = Phase::Quitting;
        quitDeadline_ = Clock::now() + kQuitLimit;
        executor_.Wake();
    }

    // Standard input is read on a thread of its own; every line is handled on the main loop.
    void StartReader() {
        reader_ = std::thread([this] {
            const int fd = fileno(io_.in);
            std::string pending;
            char chunk[4096];
            bool eof = false;
            while (!stopReader_.load()) {
                pollfd p{fd, POLLIN, 0};
                const int ready = poll(&p, 1, 100);
                if (ready < 0 && errno == EINTR) continue;
                if (ready < 0) break;
                if (ready == 0) continue;
                const ssize_t n = read(fd, chunk, sizeof chunk);
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (n <= 0) {
                    eof = true;
                    break;
                }
                pending.append(chunk, static_cast<std::size_t>(n));
                for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                    std::string line = pending.substr(0, nl);
                    pending.erase(0, nl + 1);
                    executor_.Post([this, line] { HandleLine(line); });
                }
            }
            if (stopReader_.load()) return;
            if (!pending.empty()) executor_.Post([this, pending] { HandleLine(pending); });
            // End of input (or an unreadable input) means quit.
            (void)eof;
            executor_.Post([this] { Quit(); });
        });
    }

    void StopReader() {
        stopReader_.store(true);
        if (reader_.joinable()) reader_.join();
    }

    RunOptions options_;
    CommandStreams io_;
    QueueExecutor executor_;
    std::unique_ptr<Client> client_;
    std::unique_ptr<ReLoginPolicy> policy_;
    Phase phase_ = Phase::SigningIn;
    int exitCode_ = kExitOk;
    std::optional<Clock::time_point> reloginAt_;
    Clock::time_point signInDeadline_;
    Clock::time_point quitDeadline_;
    std::thread reader_;
    std::atomic<bool> stopReader_{false};
};

}  // namespace

int RunCommand(const std::vector<std::string>& args, const CommandStreams& io) {
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::fprintf(io.out, "usage: %s\n", kRunUsage);
        return kExitOk;
    }
    std::string error;
    const std::optional<RunOptions> options = ParseArgs(args, error);
    if (!options) {
        std::fprintf(io.err, "morvale-cli run: %s\nusage: %s\n", error.c_str(), kRunUsage);
        return kExitUsage;
    }
    return Runner(*options, io).Run();
}

}  // namespace morvale::cli
