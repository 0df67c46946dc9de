#include "test_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

// cpp-httplib comes as a shared library built without thread-sanitizer instrumentation: its own
// synchronisation is invisible to the sanitizer, so what it does internally is not reported.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib.so\n"; }

namespace morvale::test {
namespace {

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCaseAscii(key, name)) return value;
    }
    return std::nullopt;
}

ScriptedReply ScriptedReply::Body(std::string body, int status) {
    ScriptedReply reply;
    reply.body = std::move(body);
    reply.status = status;
    return reply;
}

ScriptedReply ScriptedReply::Silent() {
    ScriptedReply reply;
    reply.mode = Mode::Silence;
    return reply;
}

std::string Gzip(std::string_view bytes) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&zs, bytes.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void RequestLog::Add(RecordedRequest request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

std::vector<RecordedRequest> RequestLog::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t RequestLog::Count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool RequestLog::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void RequestLog::Clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

// ---------------------------------------------------------------------------------------------------
// TestHttpServer

TestHttpServer::TestHttpServer() : server_(std::make_unique<httplib::Server>()) {
    server_->set_keep_alive_timeout(2);
    server_->set_tcp_nodelay(true);  // headers and body go out in separate writes
    auto handle = [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest rec;
        rec.method = req.method;
        rec.target = req.target;
        rec.path = PathOf(req.target);
        for (const auto& [key, value] : req.headers) {
            // httplib adds these bookkeeping entries itself; they were never on the wire.
            if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" || key == "LOCAL_PORT") {
                continue;
            }
            rec.headers.emplace_back(key, value);
        }
        rec.body = req.body;
        rec.when = std::chrono::steady_clock::now();
        ScriptedReply reply = NextReply(rec);
        log_.Add(rec);

        if (reply.delay.count() > 0 && WaitStopped(reply.delay)) return;
        if (reply.mode == ScriptedReply::Mode::Silence) {
            std::unique_lock lock(mutex_);
            stopCv_.wait(lock, [this] { return stopping_ || released_; });
            res.status = 200;
            return;
        }
        std::string body = reply.gzip ? Gzip(reply.body) : reply.body;
        res.status = reply.status;
        std::string contentType = "application/octet-stream";
        for (const auto& [key, value] : reply.headers) {
            if (EqualsNoCaseAscii(key, "Content-Type")) {
                contentType = value;
            } else {
                res.set_header(key, value);
            }
        }
        if (reply.gzip) res.set_header("Content-Encoding", "gzip");

        switch (reply.mode) {
            case ScriptedReply::Mode::Truncate: {
                auto data = std::make_shared<std::string>(std::move(body));
                const size_t cut = std::min(reply.truncateAt, data->size());
                res.set_content_provider(data->size(), contentType,
                                         [data, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                             if (offset < cut)
                                                 sink.write(data->data() + offset, cut - offset);
                                             return false;
                                         });
                break;
            }
            case ScriptedReply::Mode::Trickle: {
                auto data = std::make_shared<std::string>(std::move(body));
                const int chunks = std::max(1, reply.trickleChunks);
                const auto gap = reply.trickleGap;
                auto sent = std::make_shared<int>(0);
                res.set_chunked_content_provider(
                    contentType, [this, data, chunks, gap, sent](size_t, httplib::DataSink& sink) {
                        if (*sent == chunks) {
                            sink.done();
                            return true;
                        }
                        if (*sent > 0 && WaitStopped(gap)) return false;
                        const size_t piece = (data->size() + chunks - 1) / chunks;
                        const size_t from = std::min(data->size(), piece * static_cast<size_t>(*sent));
                        const size_t len = std::min(piece, data->size() - from);
                        ++*sent;
                        if (len > 0) return sink.write(data->data() + from, len);
                        return true;
                    });
                break;
            }
            default:
                res.set_content(body, contentType);
                break;
        }
    };
    server_->Get(".*", handle);
    server_->Post(".*", handle);
    server_->Put(".*", handle);
    server_->Delete(".*", handle);
    server_->Options(".*", handle);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("test server cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    WaitUntil([this] { return server_->is_running(); });
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string TestHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestHttpServer::Enqueue(const std::string& path, ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    queued_[path].push_back(std::move(reply));
}

void TestHttpServer::SetDefault(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
}

void TestHttpServer::SetHandler(std::function<ScriptedReply(const RecordedRequest&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void TestHttpServer::ReleaseSilent() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    stopCv_.notify_all();
}

std::vector<RecordedRequest> TestHttpServer::RequestsFor(std::string_view path) const {
    std::vector<RecordedRequest> out;
    for (auto& r : log_.Requests()) {
        if (r.path == path) out.push_back(std::move(r));
    }
    return out;
}

ScriptedReply TestHttpServer::NextReply(const RecordedRequest& request) {
    std::function<ScriptedReply(const RecordedRequest&)> handler;
    {
        std::lock_guard lock(mutex_);
        auto it = queued_.find(request.path);
        if (it != queued_.end() && !it->second.empty()) {
            ScriptedReply reply = std::move(it->second.front());
            it->second.pop_front();
            return reply;
        }
        if (!handler_) return default_;
        handler = handler_;
    }
    return handler(request);
}

bool TestHttpServer::WaitStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return stopCv_.wait_for(lock, duration, [this] { return stopping_; });
}

// ---------------------------------------------------------------------------------------------------
// RawHttpServer

RawHttpServer::RawHttpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("raw server: socket");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        throw std::runtime_error("raw server: bind");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawHttpServer::~RawHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    const char byte = 'x';
    [[maybe_unused]] auto n = ::write(wakePipe_[1], &byte, 1);
    acceptThread_.join();
    for (auto& t : connections_) t.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

std::string RawHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void RawHttpServer::Enqueue(Action action) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(action));
}

void RawHttpServer::SetDefault(Action action) {
    std::lock_guard lock(mutex_);
    default_ = std::move(action);
}

std::vector<std::string> RawHttpServer::RawRequests() const {
    std::lock_guard lock(mutex_);
    return raw_;
}

size_t RawHttpServer::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connectionCount_;
}

void RawHttpServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        ++connectionCount_;
        connections_.emplace_back([this, fd] { Serve(fd); });
    }
}

void RawHttpServer::Serve(int fd) {
    Action action;
    {
        std::lock_guard lock(mutex_);
        if (!queued_.empty()) {
            action = std::move(queued_.front());
            queued_.pop_front();
        } else {
            action = default_;
        }
    }
    auto stopping = [this] {
        std::lock_guard lock(mutex_);
        return stopping_;
    };
    // Reads with a short poll so that a stopping server never waits on a quiet client.
    auto readSome = [&](std::string& into) {
        while (!stopping()) {
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r < 0) return false;
            if (r == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) return false;
            into.append(buf, static_cast<size_t>(n));
            return true;
        }
        return false;
    };

    if (action.readRequest) {
        std::string data;
        size_t headEnd = std::string::npos;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (!readSome(data)) break;
        }
        if (headEnd != std::string::npos) {
            RecordedRequest rec;
            const std::string head = data.substr(0, headEnd);
            size_t lineEnd = head.find("\r\n");
            const std::string requestLine = head.substr(0, lineEnd);
            const size_t sp1 = requestLine.find(' ');
            const size_t sp2 = requestLine.find(' ', sp1 + 1);
            rec.method = requestLine.substr(0, sp1);
            rec.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
            rec.path = PathOf(rec.target);
            size_t contentLength = 0;
            size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
            while (pos < head.size()) {
                size_t next = head.find("\r\n", pos);
                if (next == std::string::npos) next = head.size();
                const std::string line = head.substr(pos, next - pos);
                const size_t colon = line.find(':');
                if (colon != std::string::npos) {
                    std::string value = line.substr(colon + 1);
                    value.erase(0, value.find_first_not_of(' '));
                    rec.headers.emplace_back(line.substr(0, colon), value);
                    if (EqualsNoCaseAscii(line.substr(0, colon), "Content-Length")) {
                        contentLength = std::stoul(value);
                    }
                }
                pos = next + 2;
            }
            while (data.size() < headEnd + 4 + contentLength) {
                if (!readSome(data)) break;
            }
            rec.body = data.substr(headEnd + 4);
            rec.when = std::chrono::steady_clock::now();
            {
                std::lock_guard lock(mutex_);
                raw_.push_back(data);
            }
            log_.Add(std::move(rec));
        }
    }
    size_t written = 0;
    while (written < action.bytes.size()) {
        const ssize_t n =
            ::send(fd, action.bytes.data() + written, action.bytes.size() - written, MSG_NOSIGNAL);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    if (action.silent) {
        std::unique_lock lock(mutex_);
        stopCv_.wait(lock, [this] { return stopping_; });
    }
    ::close(fd);
}

// ---------------------------------------------------------------------------------------------------
// StalledListener

StalledListener::StalledListener() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 0) != 0) {
        throw std::runtime_error("stalled listener: bind");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    // Fill the backlog; later SYNs are dropped and their connects hang.
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the handshakes settle
}

StalledListener::~StalledListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listenFd_);
}

std::string StalledListener::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace morvale::test
