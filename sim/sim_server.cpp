#include "sim_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <random>

#include "core/gbk.h"
#include "core/text_utils.h"
#include "http_util.h"
#include "visitor_script.h"
#include "wire.h"

namespace morvale::sim {
namespace {

constexpr const char* kGbkHtml = "text/html; charset=GBK";
constexpr size_t kLogCap = 20000;
constexpr size_t kLogBodyCap = 16384;

// A pool that grows to many threads: long-polls hold a thread each for up to a minute.
class WidePool : public httplib::TaskQueue {
  public:
    explicit WidePool(size_t n) {
        for (size_t i = 0; i < n; ++i) threads_.emplace_back([this] { Run(); });
    }
    ~WidePool() override = default;
    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard lock(mu_);
            jobs_.push_back(std::move(fn));
        }
        cv_.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard lock(mu_);
            done_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_) t.join();
    }

  private:
    void Run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mu_);
                cv_.wait(lock, [&] { return done_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool done_ = false;
};

// Ends the connection that carries req without a reply: finds its socket by the two ports and shuts it
// down, so that the peer sees a close with nothing received. httplib's later write fails quietly.
void AbortConnection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        int fd = std::atoi(e->d_name);
        if (fd <= 2) continue;
        sockaddr_storage peer{}, local{};
        socklen_t pl = sizeof peer, ll = sizeof local;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        auto port = [](const sockaddr_storage& a) -> int {
            if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
            if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
            return -1;
        };
        if (port(peer) == req.remote_port && port(local) == req.local_port) {
            shutdown(fd, SHUT_RDWR);
            break;
        }
    }
    closedir(dir);
}

std::string HostBase(const httplib::Request& req, const std::string& fallback) {
    std::string host = req.get_header_value("Host");
    return "http://" + (host.empty() ? fallback : host);
}

std::string SessionCookie(const httplib::Request& req) {
    for (size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
        std::string v = CookieValue(req.get_header_value("Cookie", i), "PHPSESSID");
        if (!v.empty()) return v;
    }
    return {};
}

// The path below the edition or real-server prefix: "/live/c/a.php" and "/c/a.php" both give "/c/a.php".
std::string EndpointPath(const std::string& path) {
    static const char* const kTop[] = {"/c/", "/cadmin/", "/sub.php", "/faq/", "/setting/", "/reg/", "/dl/"};
    for (const char* top : kTop)
        if (path.rfind(top, 0) == 0) return path;
    size_t second = path.find('/', 1);
    if (second == std::string::npos) return path;
    return path.substr(second);
}

void SendJson(httplib::Response& res, const Json& j, int status = 200) {
    res.status = status;
    res.set_content(j.Dump(), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& text) {
    Json j = Json::Object();
    j["error"] = text;
    SendJson(res, j, status);
}

std::string Gbk(const std::string& utf8) { return Utf8ToGbk(utf8, GbkFallback::Question); }
std::string GbkHtml(const std::string& utf8) { return Utf8ToGbk(utf8, GbkFallback::CharRef); }

std::string MalformedFrames() {
    std::string s;
    s += "\x02"
         "104\x05"
         "1\x05"
         "99\x05"
         "1\x06"
         "x\x03";  // length beyond the frame
    s += "junk\x02"
         "106\x05"
         "2\x03";  // too few separators
    s += "\x02"
         "110\x05"
         "3\x05"
         "5\x05"
         "a\x06"
         "abc\x03";  // time that is not a number
    s += "\x02"
         "x\x05"
         "y\x05"
         "z\x05"
         "\x03";  // no digits at all
    s += "\x02"
         "112\x05"
         "4\x05"
         "100\x05"
         "unterminated";
    return s;
}

}  // namespace

SimServer::SimServer(SimOptions options) : options_(std::move(options)) {
    std::signal(SIGPIPE, SIG_IGN);
    service_ = std::make_unique<Service>(options_.accounts, options_.service);
    http_ = std::make_unique<httplib::Server>();
    if (!options_.logPath.empty()) logFile_.open(options_.logPath, std::ios::app | std::ios::binary);
    started_ = std::chrono::steady_clock::now();
}

SimServer::~SimServer() { Stop(); }

std::string SimServer::BaseUrl() const { return "http://" + options_.host + ":" + std::to_string(port_); }

bool SimServer::Start() {
    http_->new_task_queue = [] { return new WidePool(64); };
    http_->set_keep_alive_max_count(100);
    // A reply goes out as headers and body in separate writes; with Nagle's algorithm on, the body
    // would wait for the client's delayed acknowledgement of the headers (some 40 ms on Linux).
    http_->set_tcp_nodelay(true);
    http_->set_read_timeout(120, 0);
    // httplib would parse form and multipart bodies itself (with an 8 KB form limit and a multipart
    // parser that refuses the workbench's leading CR LF); hand them over raw instead.
    http_->set_pre_routing_handler([](const httplib::Request& creq, httplib::Response&) {
        auto& req = const_cast<httplib::Request&>(creq);  // the request object itself is not const
        std::string type = req.get_header_value("Content-Type");
        if (!type.empty()) {
            req.headers.erase("Content-Type");
            req.headers.emplace("Content-Type", "application/octet-stream");
            req.headers.emplace("X-Sim-Content-Type", type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); };
    http_->Get(".*", handler);
    http_->Post(".*", handler);
    if (options_.port == 0) {
        port_ = http_->bind_to_any_port(options_.host);
        if (port_ <= 0) return false;
    } else {
        if (!http_->bind_to_port(options_.host, options_.port)) return false;
        port_ = options_.port;
    }
    thread_ = std::thread([this] { http_->listen_after_bind(); });
    if (options_.scriptedVisitors > 0) {
        script_ =
            std::make_unique<VisitorScript>(*service_, options_.service.seed, options_.scriptedVisitors);
        script_->Start();
    }
    return true;
}

void SimServer::Stop() {
    if (script_) script_->Stop();
    {
        std::lock_guard lock(mu_);
        shuttingDown_ = true;
    }
    cv_.notify_all();
    service_->Shutdown();
    if (thread_.joinable()) {
        http_->stop();
        thread_.join();
    }
}

void SimServer::SleepFor(int ms) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return shuttingDown_; });
}

void SimServer::WaitWhileStopped(const httplib::Request& req) {
    std::unique_lock lock(mu_);
    if (stopped_ && dropWhileStopped_) {
        lock.unlock();
        AbortConnection(req);
        return;
    }
    cv_.wait(lock, [&] { return !stopped_ || shuttingDown_; });
}

void SimServer::Record(const httplib::Request& req, const std::string& body) {
    LogEntry e;
    e.ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_)
            .count());
    e.method = req.method;
    e.target = req.target;
    for (const auto& [k, v] : req.headers) {
        if (k == "X-Sim-Content-Type") {
            e.headers += "Content-Type: " + v + "\r\n";
        } else if (k == "Content-Type" && req.has_header("X-Sim-Content-Type")) {
            continue;
        } else if (k != "REMOTE_ADDR" && k != "REMOTE_PORT" && k != "LOCAL_ADDR" && k != "LOCAL_PORT") {
            e.headers += k + ": " + v + "\r\n";
        }
    }
    e.body = body.substr(0, kLogBodyCap);
    e.remotePort = req.remote_port;
    std::lock_guard lock(mu_);
    e.n = nextLog_++;
    if (logFile_) {
        logFile_ << e.n << ' ' << e.ms << "ms " << e.method << ' ' << e.target;
        if (!body.empty()) logFile_ << " body=" << body.substr(0, 512);
        logFile_ << '\n';
        logFile_.flush();
    }
    log_.push_back(std::move(e));
    if (log_.size() > kLogCap) log_.pop_front();
}

Json SimServer::LogJson(long since) {
    std::lock_guard lock(mu_);
    Json arr = Json::Array();
    for (const auto& e : log_) {
        if (e.n <= since) continue;
        Json j = Json::Object();
        j["n"] = e.n;
        j["ms"] = e.ms;
        j["method"] = e.method;
        j["target"] = GbkToUtf8(e.target);
        size_t q = e.target.find('?');
        j["path"] = GbkToUtf8(e.target.substr(0, q));
        Json params = Json::Object();
        if (q != std::string::npos)
            for (const auto& [k, v] : ParseForm(e.target.substr(q + 1))) params[GbkToUtf8(k)] = GbkToUtf8(v);
        j["params"] = std::move(params);
        j["headers"] = e.headers;
        j["body"] = GbkToUtf8(e.body);
        j["remote_port"] = e.remotePort;
        arr.Push(std::move(j));
    }
    return arr;
}

void SimServer::Handle(const httplib::Request& req, httplib::Response& res) {
    const std::string& path = req.path;
    size_t q = req.target.find('?');
    std::string query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    Params params = ParseForm(query);
    std::string contentType = req.get_header_value("X-Sim-Content-Type");
    if (req.method == "POST" && contentType.rfind("application/x-www-form-urlencoded", 0) == 0)
        for (auto& kv : ParseForm(Trim(req.body))) params.insert(kv);

    if (path.rfind("/_sim/", 0) == 0) {
        HandleControl(req, res, path, params);
        return;
    }
    Record(req, req.body);
    if (path.rfind("/site/", 0) == 0 || path.rfind("/files/", 0) == 0 || path == "/") {
        HandleVisitorSite(req, res, path, params, req.body);
        return;
    }
    WaitWhileStopped(req);
    std::optional<Fault> fault = faults_.Take(path, query);
    if (fault && (fault->kind == FaultKind::Close || fault->kind == FaultKind::Silence)) {
        if (fault->kind == FaultKind::Silence) SleepFor(fault->delayMs);
        AbortConnection(req);
        return;
    }
    if (fault && fault->kind == FaultKind::Delay) SleepFor(fault->delayMs);

    // A fault whose answer replaces the whole reply stands for a server that failed before it acted:
    // the request changes nothing, takes none of the session's queued events (they would be lost
    // with the discarded reply) and a subscription answers at once instead of after its hold.
    const bool replaced = fault && (fault->kind == FaultKind::Status || fault->kind == FaultKind::Empty ||
                                    fault->kind == FaultKind::Garbage ||
                                    fault->kind == FaultKind::Malformed || fault->kind == FaultKind::Raw);
    std::string endpoint = EndpointPath(path);
    if (!replaced && !HandlePages(req, res, endpoint, params))
        HandleProtocol(req, res, endpoint, params, req.body);
    if (fault && !ApplyFault(*fault, req, res)) AbortConnection(req);
}

bool SimServer::ApplyFault(const Fault& f, const httplib::Request& req, httplib::Response& res) {
    (void)req;
    switch (f.kind) {
        case FaultKind::Status:
            res.status = f.status;
            res.set_content(f.body, f.contentType);
            return true;
        case FaultKind::Empty:
            res.status = 200;
            res.set_content("", kGbkHtml);
            return true;
        case FaultKind::Truncate: {
            auto body =
                std::make_shared<std::string>(res.body.empty() ? std::string("truncated reply") : res.body);
            std::string type = res.get_header_value("Content-Type");
            res.body.clear();
            res.set_content_provider(body->size(), type.empty() ? kGbkHtml : type,
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) sink.write(body->data(), body->size() / 2);
                                         return false;
                                     });
            return true;
        }
        case FaultKind::Garbage: {
            // Random bytes in a block of at most 64 KiB, repeated: a reply of many megabytes is made
            // at once instead of keeping the client waiting past its read time-out.
            std::mt19937 rng(static_cast<unsigned>(f.size) * 7919u + 17u);
            const std::size_t size = static_cast<std::size_t>(f.size);
            std::string block(std::min<std::size_t>(size, 65536), '\0');
            for (char& b : block) b = static_cast<char>(rng() & 0xFF);
            std::string bytes;
            bytes.reserve(size);
            while (bytes.size() < size) bytes.append(block, 0, std::min(block.size(), size - bytes.size()));
            res.status = 200;
            res.set_content(bytes, "application/octet-stream");
            return true;
        }
        case FaultKind::Malformed:
            res.status = 200;
            res.set_content(MalformedFrames(), kGbkHtml);
            return true;
        case FaultKind::Gzip: {
            std::string packed = GzipCompress(res.body);
            res.set_content(packed, "application/octet-stream");
            res.set_header("Content-Encoding", "gzip");
            return true;
        }
        case FaultKind::BadGzip:
            res.set_content(res.body, "application/octet-stream");
            res.set_header("Content-Encoding", "gzip");
            return true;
        case FaultKind::Raw:
            res.status = f.status;
            res.set_content(f.body, f.contentType);
            return true;
        case FaultKind::Delay:
        case FaultKind::Silence:
        case FaultKind::Close:
            return true;
    }
    return true;
}

void SimServer::HandleProtocol(const httplib::Request& req, httplib::Response& res, const std::string& path,
                               const Params& params, const std::string& body) {
    const std::string sid = SessionCookie(req);
    const std::string hostBase = HostBase(req, options_.host + ":" + std::to_string(port_));
    auto p = [&](const char* name) { return Param(params, name); };
    Reply r;
    if (path == "/c/aregister.php") {
        if (p("action") == "check")
            r = service_->CheckSite(p("site"));
        else
            r = service_->RegSite(p("site"), p("user"), p("pass"), p("email"));
    } else if (path == "/c/alogin.php") {
        if (p("action") == "loginserver")
            r = service_->LoginServer(p("site"), hostBase);
        else
            r = service_->Login(p("site"), p("user"), p("pass"), sid, hostBase);
    } else if (path == "/c/a.php") {
        r = service_->KeepAlive(sid);
    } else if (path == "/sub.php") {
        r = service_->Subscribe(p("id"), req.get_header_value("If-Modified-Since"),
                                req.get_header_value("If-None-Match"));
    } else if (path == "/c/asetstatus.php") {
        r = service_->SetStatus(sid, p("action"));
    } else if (path == "/c/avisitorlist.php") {
        r = service_->VisitorList(sid);
    } else if (path == "/c/aaccept.php") {
        r = service_->Accept(sid, p("rid"));
    } else if (path == "/c/ainvite.php") {
        r = service_->Invite(sid, p("vid"));
    } else if (path == "/c/ainitialchat.php") {
        r = service_->InitialChat(sid, p("vid"));
    } else if (path == "/c/asendmsg.php") {
        r = service_->SendMsg(sid, p("vid"), p("rid"), p("msg"));
    } else if (path == "/cadmin/istyping.php") {
        r = service_->Typing(sid, p("sid"), p("sessionid"), p("istyping") == "1");
    } else if (path == "/c/aclose.php") {
        r = service_->CloseChat(sid, p("vid"), p("rid"));
    } else if (path == "/c/asetguest.php") {
        r = service_->SetGuest(sid, p("guestid"), p("name"));
    } else if (path == "/c/asendfile.php" || path == "/c/acannedxml.php") {
        auto parts = ParseMultipart(req.get_header_value("X-Sim-Content-Type"), body);
        std::string vid, rid, fileName, bytes;
        bool gotFile = false;
        if (parts) {
            for (const auto& part : *parts) {
                // Plain parts carry their values percent-encoded, as the request parameters are.
                auto decoded = UrlDecode(part.data);
                if (part.name == "vid")
                    vid = decoded ? *decoded : part.data;
                else if (part.name == "rid")
                    rid = decoded ? *decoded : part.data;
                else if (part.hasFileName && (part.name == "file" || part.name == "faqfile")) {
                    fileName = part.fileName;
                    bytes = part.data;
                    gotFile = true;
                }
            }
        }
        if (!gotFile) {
            res.status = 400;
            res.set_content("no file part", kGbkHtml);
            return;
        }
        r = path == "/c/asendfile.php" ? service_->SendFile(sid, vid, rid, fileName, bytes)
                                       : service_->FaqUpload(sid, bytes);
    } else if (path == "/c/afaqrefresh.php") {
        r = service_->FaqRefresh(sid);
    } else if (path == "/c/clean.php") {
        r = service_->Clean(sid);
    } else if (path.rfind("/faq/", 0) == 0 && path.size() > 9 && path.ends_with(".xml")) {
        auto doc = service_->FaqDocument(path.substr(5, path.size() - 9));
        if (!doc) {
            res.status = 404;
            res.set_content("not found", kGbkHtml);
            return;
        }
        bool gzip;
        {
            std::lock_guard lock(mu_);
            gzip = faqGzip_;
        }
        if (gzip && req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos) {
            res.set_content(GzipCompress(*doc), "application/octet-stream");
            res.set_header("Content-Encoding", "gzip");
        } else {
            res.set_content(*doc, "application/octet-stream");
        }
        return;
    } else {
        res.status = 404;
        res.set_content("<html><body>404 Not Found</body></html>", kGbkHtml);
        return;
    }
    res.status = r.status;
    for (const auto& [k, v] : r.headers) res.set_header(k, v);
    if (r.status == 304) return;
    res.set_content(r.body, kGbkHtml);
}

// ---------------------------------------------------------------- control API

void SimServer::HandleControl(const httplib::Request& req, httplib::Response& res, const std::string& path,
                              const Params& params) {
    std::string name = path.substr(6);
    Json body = Json::Object();
    if (req.method == "POST" && !Trim(req.body).empty()) {
        auto parsed = Json::Parse(req.body);
        if (!parsed || !parsed->IsObject()) {
            SendError(res, 400, "body must be a JSON object");
            return;
        }
        body = *parsed;
    }
    // Query parameters fill in for body members, so that simple calls work from a browser or curl.
    for (const auto& [k, v] : params)
        if (!body.Has(k)) body[k] = v;
    auto ok = [&](Json extra = Json::Object()) {
        extra["ok"] = true;
        SendJson(res, extra);
    };
    auto need = [&](const char* key) {
        if (body.Str(key).empty()) {
            SendError(res, 400, std::string("missing ") + key);
            return false;
        }
        return true;
    };
    const std::string site = body.Str("site", "demo");

    if (name == "state") {
        SendJson(res, service_->Snapshot());
    } else if (name == "log") {
        SendJson(res, LogJson(static_cast<long>(body.Num("since", 0))));
    } else if (name == "log/clear") {
        std::lock_guard lock(mu_);
        log_.clear();
        ok();
    } else if (name == "visitor/arrive") {
        VisitorInfo info;
        info.site = site;
        info.ip = body.Str("ip");
        info.area = Gbk(body.Str("area"));
        info.title = Gbk(body.Str("title"));
        info.url = Gbk(body.Str("url"));
        info.refer = Gbk(body.Str("refer"));
        info.keyname = Gbk(body.Str("keyname"));
        info.keyvalue = Gbk(body.Str("keyvalue"));
        info.guestId = Gbk(body.Str("guest_id"));
        info.guestName = Gbk(body.Str("guest_name"));
        std::string error;
        auto vid = service_->VisitorArrive(info, &error);
        if (!vid) return SendError(res, 404, error);
        Json j = Json::Object();
        j["vid"] = *vid;
        ok(j);
    } else if (name == "visitor/page") {
        if (!need("vid")) return;
        if (!service_->VisitorPage(body.Str("vid"), Gbk(body.Str("url")), Gbk(body.Str("title"))))
            return SendError(res, 404, "unknown visitor");
        ok();
    } else if (name == "visitor/call") {
        if (!need("vid")) return;
        auto rid =
            service_->VisitorCall(body.Str("vid"), Gbk(body.Str("question")), Gbk(body.Str("guest_name")));
        if (!rid) return SendError(res, 409, "visitor unknown or gone");
        Json j = Json::Object();
        j["rid"] = *rid;
        ok(j);
    } else if (name == "visitor/send") {
        if (!need("vid")) return;
        bool plain = body.Bool("plain", true);
        std::string msg = plain ? Gbk(body.Str("msg")) : GbkHtml(body.Str("msg"));
        if (!service_->VisitorSend(body.Str("vid"), msg, plain))
            return SendError(res, 409, "no running chat");
        ok();
    } else if (name == "visitor/type") {
        if (!need("vid")) return;
        if (!service_->VisitorType(body.Str("vid"), Gbk(body.Str("text"))))
            return SendError(res, 409, "no running chat");
        ok();
    } else if (name == "visitor/end") {
        if (!need("vid")) return;
        if (!service_->VisitorCancel(body.Str("vid"))) return SendError(res, 409, "no request or chat");
        ok();
    } else if (name == "visitor/invite_answer") {
        if (!need("vid")) return;
        if (!service_->VisitorAnswerInvite(body.Str("vid"), body.Bool("accept", true)))
            return SendError(res, 409, "no pending invitation");
        ok();
    } else if (name == "visitor/leave") {
        if (!need("vid")) return;
        if (!service_->VisitorLeave(body.Str("vid"))) return SendError(res, 409, "visitor unknown or gone");
        ok();
    } else if (name == "visitor/inbox") {
        if (!need("vid")) return;
        int wait = std::min(static_cast<int>(body.Num("wait_ms", 0)), 60000);
        auto inbox = service_->VisitorInbox(body.Str("vid"), static_cast<long>(body.Num("since", 0)), wait,
                                            body.Bool("heartbeat"));
        if (!inbox) return SendError(res, 404, "unknown visitor");
        SendJson(res, *inbox);
    } else if (name == "operator/relogin") {
        if (!need("login")) return;
        if (!service_->ForceRelogin(site, body.Str("login")))
            return SendError(res, 404, "operator not signed in");
        ok();
    } else if (name == "operator/elsewhere") {
        if (!need("login")) return;
        auto sid = service_->SignInElsewhere(site, body.Str("login"));
        if (!sid) return SendError(res, 404, "unknown operator");
        Json j = Json::Object();
        j["session"] = *sid;
        ok(j);
    } else if (name == "leavemsg") {
        if (!service_->SetLeaveMsgCount(site, static_cast<int>(body.Num("count", 0))))
            return SendError(res, 404, "unknown site");
        ok();
    } else if (name == "event") {
        std::vector<std::string> fields;
        if (const Json* f = body.Find("fields"); f && f->IsArray())
            for (const auto& item : f->Items())
                fields.push_back(Gbk(item.IsString() ? item.AsString() : item.Dump()));
        int type = static_cast<int>(body.Num("type", 0));
        if (type <= 0) return SendError(res, 400, "missing type");
        Json j = Json::Object();
        j["queued"] = service_->InjectEvent(site, body.Str("login"), type, fields);
        ok(j);
    } else if (name == "fault") {
        std::string error;
        auto f = FaultTable::FromJson(body, &error);
        if (!f) return SendError(res, 400, error);
        faults_.Add(*f);
        ok();
    } else if (name == "faults") {
        SendJson(res, faults_.List());
    } else if (name == "faults/clear") {
        faults_.Clear();
        ok();
    } else if (name == "stop") {
        {
            std::lock_guard lock(mu_);
            stopped_ = true;
            dropWhileStopped_ = body.Str("mode", "hold") == "drop";
        }
        ok();
    } else if (name == "resume") {
        {
            std::lock_guard lock(mu_);
            stopped_ = false;
        }
        cv_.notify_all();
        ok();
    } else if (name == "config") {
        service_->Configure(body);
        {
            std::lock_guard lock(mu_);
            faqGzip_ = body.Bool("faq_gzip", faqGzip_);
        }
        if (script_ && body.Has("script_rate")) script_->SetRate(body.Num("script_rate", 1));
        ok();
    } else if (name == "update") {
        std::lock_guard lock(mu_);
        update_.version = body.Str("version", update_.version);
        update_.noticeType = static_cast<int>(body.Num("noticetype", update_.noticeType));
        update_.description = Gbk(body.Str("description", GbkToUtf8(update_.description)));
        update_.fileName = body.Str("filename", update_.fileName);
        if (body.Has("installer")) update_.installer = body.Str("installer");
        update_.sizeOverride = static_cast<long>(body.Num("filesize", -1));
        ok();
    } else {
        SendError(res, 404, "unknown control endpoint " + name);
    }
}

}  // namespace morvale::sim
