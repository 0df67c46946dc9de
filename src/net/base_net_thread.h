#pragma once

// Base of the hub's five HTTP workers: one libcurl handle per worker, the server base URL, the loop
// interval, and the two request routines every worker uses (GET and form POST with bounded retries
// 1 s apart, gzip decoding by our own rule, failures classified into NET_* codes, one log line per
// attempt). The thread itself starts on the first Start(), can be paused and resumed, and stops
// promptly on Stop(), also in the middle of a transfer.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/cookie_store.h"

typedef void CURL;
typedef void CURLM;

namespace morvale {

// Results of HttpGet / HttpPost and of the worker routines built on them.
inline constexpr int NET_OK = 0;
inline constexpr int NET_CONNECT_TIMEOUT = 1;
inline constexpr int NET_CONNECT_FAILED = 2;
inline constexpr int NET_CLOSED = 3;
inline constexpr int NET_READ_TIMEOUT = 4;
inline constexpr int NET_DNS_FAILED = 5;
inline constexpr int NET_ERROR = 6;
inline constexpr int NET_TERMINATED = 8;

// A reply body larger than this is a failure (NET_ERROR), not an unbounded allocation; the limit also
// holds for decompressed bodies and downloaded files.
inline constexpr std::size_t kMaxReplyBytes = 64u * 1024u * 1024u;

// Pause between two attempts of one request.
inline constexpr int kRetryDelayMs = 1000;

// A reply body as a list of text lines.
using ReplyLines = std::vector<std::string>;

// Splits a body into lines at CR LF, a lone CR and a lone LF; a final line break adds no empty line.
ReplyLines SplitReplyLines(std::string_view body);
// The lines joined again, each followed by CR LF (the reply text the workers log and parse).
std::string JoinReplyLines(const ReplyLines& lines);
// The lines each followed by CR LF; empty for no lines.
std::string LinesText(const std::vector<std::string>& lines);

// Decompresses a gzip container (every member); nullopt when it is not valid gzip or would exceed
// `limit` bytes.
std::optional<std::string> Gunzip(std::string_view data, std::size_t limit = kMaxReplyBytes);

// Milliseconds of a monotonic clock (the "tick count" of elapsed times in log lines).
std::int64_t TickMs();

// How one attempt failed; decides the result code and the kind of log line.
enum class NetFailure {
    None,
    Closed,
    ConnectTimeout,
    ReadTimeout,
    ConnectFailed,
    Dns,
    HttpStatus,
    Other,
    Terminated
};

// Maps a failure kind to its NET_* code (NET_OK for None).
int NetCodeOf(NetFailure failure);

// One HTTP exchange as performed by BaseNetThread::Perform.
struct HttpExchange {
    NetFailure failure = NetFailure::None;
    long status = 0;
    bool gotReply = false;       // a status line arrived
    std::string statusLine;      // e.g. "HTTP/1.1 500 Internal Server Error"
    std::string requestHeaders;  // header lines as sent, each ending in CR LF (no request line)
    std::string replyHeaders;    // header lines as received, each ending in CR LF (no status line)
    std::string body;            // reply body (an error reply's body too); empty when written to a file
    std::string message;         // what went wrong
    bool fileError = false;      // writing the body to the file failed

    // Value of the first reply header of that name (case-insensitive), if any.
    std::optional<std::string> ReplyHeader(std::string_view name) const;
};

// What to send in one attempt.
struct HttpRequest {
    bool post = false;
    std::string url;
    std::string body;           // POST only
    std::string contentType;    // POST only
    std::FILE* sink = nullptr;  // when set, a successful reply's body is written here instead of `body`
};

class BaseNetThread {
  public:
    explicit BaseNetThread(std::string_view name);
    virtual ~BaseNetThread();
    BaseNetThread(const BaseNetThread&) = delete;
    BaseNetThread& operator=(const BaseNetThread&) = delete;

    // Starts the thread at the first call, resumes it after Pause() otherwise.
    void Start();
    // No new request until Start() again; the current one is finished (or abandoned by workers that
    // set abandonOnPause_).
    void Pause();
    // Asks the thread to end, wakes it, aborts a transfer in progress and waits for it. Idempotent.
    void Stop();
    bool Terminated() const { return terminated_.load(); }
    bool Paused() const;
    bool Started() const;

    // Settings; safe from any thread, copied at the start of each attempt.
    void SetBaseUrl(std::string url);
    std::string BaseUrl() const;
    void SetProxy(std::string host, int port);
    void SetConnectTimeout(int ms);
    void SetReadTimeout(int ms);
    int ReadTimeout() const;
    void SetInterval(int ms) { interval_.store(ms); }
    int Interval() const { return interval_.load(); }
    // The shared store, or none (no cookies sent or kept). Set before the thread starts.
    void SetCookieStore(CookieStore* store);
    // Without it, POSTs go out as HTTP/1.0 on a fresh connection.
    void SetKeepProtocolVersion(bool keep);

    // `url` is the full URL; `reply` receives the body's lines; at most `tries` attempts (one when
    // tries <= 1), kRetryDelayMs apart. Only the owning thread calls these.
    virtual int HttpGet(const std::string& url, ReplyLines& reply, int tries);
    virtual int HttpPost(const std::string& url, const std::vector<std::string>& fields, ReplyLines& reply,
                         int tries);

  protected:
    virtual void Execute() = 0;

    // Blocks while paused; false once asked to terminate.
    bool WaitWhilePaused();
    // Sleeps, waking early only to terminate; false once asked to terminate.
    bool SleepMs(int ms);

    // One attempt (no retry, no log line). Loads and merges cookies, applies the settings.
    HttpExchange Perform(const HttpRequest& request);
    // Drops the connection, so that the next attempt starts on a fresh one.
    void CloseConnection();

    // The last attempt of HttpGet/HttpPost (its body is not kept here).
    HttpExchange lastExchange_;
    // Extra request header lines ("Name: value") sent with every request of this worker.
    std::vector<std::string> extraHeaders_;
    // Abandon a transfer in progress when paused (the long-poll subscription).
    bool abandonOnPause_ = false;
    std::string name_;

  private:
    struct Settings {
        std::string baseUrl;
        std::string proxyHost;
        int proxyPort = 0;
        int connectTimeoutMs = 10000;
        int readTimeoutMs = 10000;
        bool keepProtocolVersion = true;
    };
    Settings CopySettings() const;
    void Run();
    bool ShouldAbort() const;

    mutable std::mutex settingsMutex_;
    Settings settings_;
    CookieStore* cookies_ = nullptr;
    std::atomic<int> interval_{1000};

    mutable std::mutex stateMutex_;
    std::condition_variable stateCv_;
    std::thread thread_;
    bool started_ = false;
    std::atomic<bool> paused_{false};
    std::atomic<bool> terminated_{false};
    bool joined_ = false;

    CURL* easy_ = nullptr;
    bool cookieEngineOn_ = false;
    CURLM* multi_ = nullptr;
};

}  // namespace morvale
