#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace morvale::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query, as sent
    std::string path;    // target without the query
    HeaderList headers;
    std::string body;  // raw body (multipart bodies only on RawHttpServer; see there)
    std::chrono::steady_clock::time_point when;

    // First value of the header (case-insensitive name), if present.
    std::optional<std::string> Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const { return Header(name).has_value(); }
};

// What the server does with one request.
struct ScriptedReply {
    enum class Mode {
        Answer,    // status, headers, body
        Silence,   // answer nothing until the server stops or ReleaseSilent(), then an empty 200
        Truncate,  // announce the whole body's length, send `truncateAt` bytes, drop the connection
        Trickle,   // send the body in `trickleChunks` pieces, `trickleGap` apart (chunked encoding)
    };
    int status = 200;
    std::string body;
    HeaderList headers;
    bool gzip = false;  // compress `body` and send "Content-Encoding: gzip"
    std::chrono::milliseconds delay{0};
    Mode mode = Mode::Answer;
    size_t truncateAt = 0;
    int trickleChunks = 1;
    std::chrono::milliseconds trickleGap{0};

    static ScriptedReply Body(std::string body, int status = 200);
    static ScriptedReply Silent();
};

// gzip container (RFC 1952) of the bytes.
std::string Gzip(std::string_view bytes);

// A loopback port on which nothing listens (connections to it are refused).
int UnusedPort();

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Shared bookkeeping of both servers: recorded requests and waiting for them.
class RequestLog {
  public:
    void Add(RecordedRequest request);
    std::vector<RecordedRequest> Requests() const;
    size_t Count() const;
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedRequest> requests_;
};

// In-process HTTP/1.1 server on 127.0.0.1 and a random port (cpp-httplib). Every request is recorded;
// each is answered by the next reply queued for its path, else by the handler, else by the default
// reply (200 with an empty body). Bodies go out as application/octet-stream unless scripted otherwise,
// so the server never compresses on its own.
class TestHttpServer {
  public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const;  // "http://127.0.0.1:<port>"

    void Enqueue(const std::string& path, ScriptedReply reply);
    void SetDefault(ScriptedReply reply);
    void SetHandler(std::function<ScriptedReply(const RecordedRequest&)> handler);
    // Lets every silent request (present and future) end with an empty 200 reply.
    void ReleaseSilent();

    std::vector<RecordedRequest> Requests() const { return log_.Requests(); }
    std::vector<RecordedRequest> RequestsFor(std::string_view path) const;
    size_t RequestCount() const { return log_.Count(); }
    bool WaitForRequests(size_t count,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const {
        return log_.WaitForCount(count, timeout);
    }
    void ClearRequests() { log_.Clear(); }

  private:
    ScriptedReply NextReply(const RecordedRequest& request);
    bool WaitStopped(std::chrono::milliseconds duration);  // true when stopping began meanwhile

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    RequestLog log_;
    std::mutex mutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
    bool released_ = false;
    std::map<std::string, std::deque<ScriptedReply>> queued_;
    std::function<ScriptedReply(const RecordedRequest&)> handler_;
    ScriptedReply default_;
};

// A bare TCP server for what an HTTP library will not send: a connection closed without any reply,
// raw bytes that are no HTTP at all, silence. It reads one request per connection (head and a
// Content-Length body), records it byte for byte (also multipart bodies) and then follows the next
// queued action, else the default one.
class RawHttpServer {
  public:
    struct Action {
        std::string bytes;        // written after the request was read
        bool silent = false;      // then keep the connection open until the server stops
        bool readRequest = true;  // false: act as soon as the connection is accepted
    };

    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const;
    void Enqueue(Action action);
    void SetDefault(Action action);

    std::vector<RecordedRequest> Requests() const { return log_.Requests(); }
    // The request bytes exactly as received, one entry per connection that sent any.
    std::vector<std::string> RawRequests() const;
    size_t RequestCount() const { return log_.Count(); }
    bool WaitForRequests(size_t count,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const {
        return log_.WaitForCount(count, timeout);
    }
    size_t ConnectionCount() const;

  private:
    void AcceptLoop();
    void Serve(int fd);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;
    std::vector<std::thread> connections_;
    RequestLog log_;
    mutable std::mutex mutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
    std::deque<Action> queued_;
    Action default_;
    std::vector<std::string> raw_;
    size_t connectionCount_ = 0;
};

// A loopback port whose connections never complete: a listener with a full backlog that never
// accepts, so that connecting runs into the connect time-out.
class StalledListener {
  public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    int Port() const { return port_; }
    std::string BaseUrl() const;

  private:
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace morvale::test
