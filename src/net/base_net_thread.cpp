#include "net/base_net_thread.h"

#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "core/log.h"
#include "core/text_utils.h"
#include "net/curl_global.h"
#include "protocol/out_packet.h"

namespace morvale {
namespace {

constexpr int kPollMs = 20;
// A reply header line longer than this fails the request, as an over-long line does.
constexpr size_t kMaxHeaderLine = 16384;

std::string StripLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return std::string(line);
}

// The request target exactly as the caller wrote it: libcurl would drop an empty query ("a.php?").
std::string OriginForm(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t slash = url.find_first_of("/?", from);
    if (slash == std::string::npos) return "/";
    std::string target = url.substr(slash);
    if (target[0] == '?') target.insert(target.begin(), '/');
    const size_t hash = target.find('#');
    if (hash != std::string::npos) target.resize(hash);
    return target;
}

// libcurl refuses a URL holding a blank, a control byte or DEL (and 8-bit bytes are not URL bytes
// either), which UrlEncode and server-given paths may carry; they go out percent-encoded, which the
// server decodes to the same bytes.
std::string WireUrl(const std::string& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

// Header lines of a request block, without the request line and the closing empty line.
std::string HeaderLinesOf(std::string_view block) {
    std::string out;
    size_t pos = block.find('\n');
    if (pos == std::string_view::npos) return out;
    ++pos;
    while (pos < block.size()) {
        size_t end = block.find('\n', pos);
        if (end == std::string_view::npos) end = block.size();
        std::string line = StripLineEnd(block.substr(pos, end - pos));
        if (!line.empty()) {
            out += line;
            out += "\r\n";
        }
        pos = end + 1;
    }
    return out;
}

struct Transfer {
    HttpExchange* ex = nullptr;
    const HttpRequest* req = nullptr;
    std::int64_t lastActivity = 0;
    bool connected = false;
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    std::size_t received = 0;
    bool tooLarge = false;
    bool lineTooLong = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = TickMs();
    if (n > kMaxHeaderLine) {
        t->lineTooLong = true;
        return 0;
    }
    const std::string line = StripLineEnd(std::string_view(data, n));
    if (line.rfind("HTTP/", 0) == 0) {
        t->ex->statusLine = line;
        t->ex->replyHeaders.clear();
        t->ex->gotReply = true;
        const size_t sp = line.find(' ');
        t->ex->status = sp == std::string::npos ? 0 : std::atol(line.c_str() + sp + 1);
    } else if (!line.empty()) {
        t->ex->replyHeaders += line;
        t->ex->replyHeaders += "\r\n";
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = TickMs();
    if (t->received + n > kMaxReplyBytes) {
        t->tooLarge = true;
        return 0;
    }
    t->received += n;
    if (t->req->sink != nullptr && t->ex->status < 400) {
        if (std::fwrite(data, 1, n, t->req->sink) != n) {
            t->ex->fileError = true;
            return 0;
        }
        return n;
    }
    t->ex->body.append(data, n);
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (dlnow != t->lastDown || ulnow != t->lastUp) {
        t->lastDown = dlnow;
        t->lastUp = ulnow;
        t->lastActivity = TickMs();
    }
    return 0;
}

int OnConnected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->lastActivity = TickMs();
    return CURL_PREREQFUNC_OK;
}

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type == CURLINFO_HEADER_OUT) {
        static_cast<Transfer*>(user)->ex->requestHeaders = HeaderLinesOf(std::string_view(data, size));
    }
    return 0;
}

std::vector<std::string> CookieLinesOf(CURL* easy) {
    std::vector<std::string> lines;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist* it = list; it != nullptr; it = it->next) lines.emplace_back(it->data);
        curl_slist_free_all(list);
    }
    return lines;
}

}  // namespace

ReplyLines SplitReplyLines(std::string_view body) {
    ReplyLines lines;
    size_t pos = 0;
    while (pos < body.size()) {
        size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = body.size();
        lines.emplace_back(body.substr(pos, end - pos));
        if (end < body.size() && body[end] == '\r') ++end;
        if (end < body.size() && body[end] == '\n') ++end;
        pos = end;
    }
    return lines;
}

std::string JoinReplyLines(const ReplyLines& lines) { return LinesText(lines); }

std::string LinesText(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::optional<std::string> Gunzip(std::string_view data, std::size_t limit) {
    if (data.empty()) return std::nullopt;
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) return std::nullopt;
    std::string out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    char buf[65536];
    int rc = Z_OK;
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        const size_t produced = sizeof buf - zs.avail_out;
        if (out.size() + produced > limit) {
            rc = Z_MEM_ERROR;
            break;
        }
        out.append(buf, produced);
        if (rc == Z_STREAM_END) {
            if (zs.avail_in == 0) break;
            // Another gzip member follows.
            if (inflateReset(&zs) != Z_OK) break;
            continue;
        }
        if (zs.avail_in == 0 && produced == 0) {
            rc = Z_DATA_ERROR;  // truncated
            break;
        }
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

std::int64_t TickMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int NetCodeOf(NetFailure failure) {
    switch (failure) {
        case NetFailure::None:
            return NET_OK;
        case NetFailure::Closed:
            return NET_CLOSED;
        case NetFailure::ConnectTimeout:
            return NET_CONNECT_TIMEOUT;
        case NetFailure::ReadTimeout:
            return NET_READ_TIMEOUT;
        case NetFailure::ConnectFailed:
            return NET_CONNECT_FAILED;
        case NetFailure::Dns:
            return NET_DNS_FAILED;
        case NetFailure::HttpStatus:
            return NET_ERROR;
        case NetFailure::Other:
            return NET_ERROR;
        case NetFailure::Terminated:
            return NET_TERMINATED;
    }
    return NET_ERROR;
}

std::optional<std::string> HttpExchange::ReplyHeader(std::string_view name) const {
    size_t pos = 0;
    while (pos < replyHeaders.size()) {
        size_t end = replyHeaders.find("\r\n", pos);
        if (end == std::string::npos) end = replyHeaders.size();
        std::string_view line(replyHeaders.data() + pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualsNoCase(Trim(line.substr(0, colon)), name)) {
            return Trim(line.substr(colon + 1));
        }
        pos = end + 2;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------------

BaseNetThread::BaseNetThread(std::string_view name) : name_(name) { EnsureCurlGlobalInit(); }

BaseNetThread::~BaseNetThread() {
    Stop();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
}

void BaseNetThread::Start() {
    std::lock_guard lock(stateMutex_);
    if (terminated_) return;
    paused_ = false;
    if (!started_) {
        started_ = true;
        thread_ = std::thread([this] { Run(); });
    }
    stateCv_.notify_all();
}

void BaseNetThread::Pause() {
    std::lock_guard lock(stateMutex_);
    paused_ = true;
}

void BaseNetThread::Stop() {
    {
        std::lock_guard lock(stateMutex_);
        terminated_ = true;
        paused_ = false;
        stateCv_.notify_all();
    }
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // stopped from its own body: it ends when that returns
    } else {
        thread_.join();
    }
}

bool BaseNetThread::Paused() const { return paused_.load(); }

bool BaseNetThread::Started() const {
    std::lock_guard lock(stateMutex_);
    return started_;
}

bool BaseNetThread::WaitWhilePaused() {
    std::unique_lock lock(stateMutex_);
    stateCv_.wait(lock, [this] { return !paused_ || terminated_; });
    return !terminated_;
}

bool BaseNetThread::SleepMs(int ms) {
    std::unique_lock lock(stateMutex_);
    stateCv_.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)),
                      [this] { return terminated_.load(); });
    return !terminated_;
}

void BaseNetThread::Run() {
    try {
        Execute();
    } catch (const std::exception& e) {
        LogLine(name_, LogMsgType::Exception, std::string("worker ended: ") + e.what());
    } catch (...) {
        LogLine(name_, LogMsgType::Exception, "worker ended: Catch ... Exception");
    }
}

bool BaseNetThread::ShouldAbort() const { return terminated_.load() || (abandonOnPause_ && paused_.load()); }

void BaseNetThread::SetBaseUrl(std::string url) {
    std::lock_guard lock(settingsMutex_);
    settings_.baseUrl = std::move(url);
}

std::string BaseNetThread::BaseUrl() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.baseUrl;
}

void BaseNetThread::SetProxy(std::string host, int port) {
    std::lock_guard lock(settingsMutex_);
    settings_.proxyHost = std::move(host);
    settings_.proxyPort = port;
}

void BaseNetThread::SetConnectTimeout(int ms) {
    std::lock_guard lock(settingsMutex_);
    settings_.connectTimeoutMs = ms;
}

void BaseNetThread::SetReadTimeout(int ms) {
    std::lock_guard lock(settingsMutex_);
    settings_.readTimeoutMs = ms;
}

int BaseNetThread::ReadTimeout() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.readTimeoutMs;
}

void BaseNetThread::SetCookieStore(CookieStore* store) {
    std::lock_guard lock(settingsMutex_);
    cookies_ = store;
}

void BaseNetThread::SetKeepProtocolVersion(bool keep) {
    std::lock_guard lock(settingsMutex_);
    settings_.keepProtocolVersion = keep;
}

BaseNetThread::Settings BaseNetThread::CopySettings() const {
    std::lock_guard lock(settingsMutex_);
    return settings_;
}

void BaseNetThread::CloseConnection() {
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
        multi_ = nullptr;
    }
}

HttpExchange BaseNetThread::Perform(const HttpRequest& request) {
    HttpExchange ex;
    const Settings settings = CopySettings();
    CookieStore* cookies = nullptr;
    {
        std::lock_guard lock(settingsMutex_);
        cookies = cookies_;
    }
    if (easy_ == nullptr) easy_ = curl_easy_init();
    if (multi_ == nullptr) multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
        ex.failure = NetFailure::Other;
        ex.message = "cannot create an HTTP client";
        return ex;
    }
    // The handle is not reset between attempts (libcurl 7.88 leaks the cookie-file list on a reset);
    // every option that differs between requests is set each time instead.
    CURL* h = easy_;

    Transfer t;
    t.ex = &ex;
    t.req = &request;
    t.lastActivity = TickMs();
    char errbuf[CURL_ERROR_SIZE] = {0};

    const bool proxied = !settings.proxyHost.empty();
    const std::string url = WireUrl(request.url);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    const std::string target = proxied ? url : OriginForm(url);
    curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, settings.connectTimeoutMs)));
    // An empty proxy also overrides http_proxy and friends from the environment: a direct connection.
    std::string proxy;
    if (proxied) {
        proxy = settings.proxyHost;
        if (settings.proxyPort > 0) proxy += ":" + std::to_string(settings.proxyPort);
    }
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));

    const bool http10 = request.post && !settings.keepProtocolVersion;
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                     static_cast<long>(http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, http10 ? 1L : 0L);

    curl_slist* headers = nullptr;
    // libcurl would add "Accept: */*" and, for larger bodies, "Expect: 100-continue".
    headers = curl_slist_append(headers, "Accept:");
    headers = curl_slist_append(headers, "Expect:");
    for (const auto& line : extraHeaders_) headers = curl_slist_append(headers, line.c_str());
    std::string contentType;
    if (request.post) {
        contentType = "Content-Type: " + request.contentType;
        headers = curl_slist_append(headers, contentType.c_str());
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &t);

    CookieStore::Snapshot before;
    if (cookies != nullptr) {
        if (!cookieEngineOn_) {
            curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // turns the handle's cookie engine on
            cookieEngineOn_ = true;
        }
        curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");
        before = cookies->Take();
        for (const auto& [key, line] : before) curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
    } else {
        curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");
    }

    curl_multi_add_handle(multi_, h);
    bool aborted = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) break;
        if (running == 0) break;
        if (ShouldAbort()) {
            ex.failure = NetFailure::Terminated;
            ex.message = "Terminated";
            aborted = true;
            break;
        }
        if (t.connected && settings.readTimeoutMs > 0 && TickMs() - t.lastActivity > settings.readTimeoutMs) {
            ex.failure = NetFailure::ReadTimeout;
            ex.message = "Read timed out.";
            aborted = true;
            break;
        }
        curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
    }
    CURLcode rc = CURLE_OK;
    if (!aborted) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg == CURLMSG_DONE) rc = msg->data.result;
        }
    }
    curl_multi_remove_handle(multi_, h);
    if (cookies != nullptr) cookies->Merge(before, CookieLinesOf(h));
    // Nothing in the handle may point into this frame once it returns.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    curl_slist_free_all(headers);
    if (aborted) {
        CloseConnection();
        return ex;
    }

    const std::string curlMessage = errbuf[0] != '\0' ? std::string(errbuf) : curl_easy_strerror(rc);
    switch (rc) {
        case CURLE_OK:
            if (ex.status >= 400) {
                ex.failure = NetFailure::HttpStatus;
                ex.message = ex.statusLine;
            }
            break;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            ex.failure = NetFailure::Closed;
            ex.message = "Connection Closed Gracefully.";
            break;
        case CURLE_OPERATION_TIMEDOUT:
            ex.failure = t.connected ? NetFailure::ReadTimeout : NetFailure::ConnectTimeout;
            ex.message = curlMessage;
            break;
        case CURLE_COULDNT_CONNECT:
            ex.failure = NetFailure::ConnectFailed;
            ex.message = curlMessage;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            ex.failure = NetFailure::Dns;
            ex.message = curlMessage;
            break;
        default:
            ex.failure = NetFailure::Other;
            if (t.lineTooLong) {
                ex.message = "Max line length exceeded.";
            } else if (t.tooLarge) {
                ex.message = "Reply larger than " + std::to_string(kMaxReplyBytes) + " bytes";
            } else if (ex.fileError) {
                ex.message = "Cannot write the file";
            } else {
                ex.message = curlMessage;
            }
            break;
    }
    return ex;
}

// ---------------------------------------------------------------------------------------------------

namespace {

// The kind of log line for a failed attempt: transport trouble and error statuses warn, anything
// else is logged as an exception.
LogMsgType FailureKind(NetFailure failure) {
    return failure == NetFailure::Other ? LogMsgType::Exception : LogMsgType::Warning;
}

std::string Head(std::string_view mark, std::int64_t elapsed, int remaining, const std::string& url) {
    return std::string(mark) + std::to_string(elapsed) + "ms " + std::to_string(remaining) + "c - " + url;
}

std::string FailureText(std::string head, const HttpExchange& ex) {
    head += "    ---------    \r\n";
    head += ex.message;
    if (ex.failure == NetFailure::HttpStatus) {
        head += "\r\n";
        head += ex.body;
    }
    return head;
}

// Decodes a gzip body under the exact rule: Content-Encoding equal to "gzip", case-sensitive.
bool DecodeBody(HttpExchange& ex) {
    const auto encoding = ex.ReplyHeader("Content-Encoding");
    if (!encoding || *encoding != "gzip") return true;
    auto plain = Gunzip(ex.body);
    if (!plain) {
        ex.failure = NetFailure::Other;
        ex.message = "The gzip reply cannot be decompressed";
        ex.body.clear();
        return false;
    }
    ex.body = std::move(*plain);
    return true;
}

}  // namespace

int BaseNetThread::HttpGet(const std::string& url, ReplyLines& reply, int tries) {
    int code = NET_OK;
    int remaining = tries;
    bool failed = false;
    do {
        if (failed && (Terminated() || !SleepMs(kRetryDelayMs))) return NET_TERMINATED;
        --remaining;
        const std::int64_t start = TickMs();
        HttpRequest request;
        request.url = url;
        HttpExchange ex = Perform(request);
        lastExchange_ = ex;
        lastExchange_.body.clear();
        if (ex.failure == NetFailure::Terminated) return NET_TERMINATED;
        if (ex.failure == NetFailure::None) DecodeBody(ex);
        const std::int64_t elapsed = TickMs() - start;
        const std::string head = Head("▼▼G ", elapsed, remaining, url);
        if (ex.failure == NetFailure::None) {
            reply = SplitReplyLines(ex.body);
            LogLine("Net", LogMsgType::Information,
                    head + ">>>>\r\n" + ex.requestHeaders + "<<<<\r\n" + ex.replyHeaders + "\r\n" +
                        JoinReplyLines(reply));
            code = NET_OK;
        } else {
            LogLine("Net", FailureKind(ex.failure), FailureText(head, ex));
            CloseConnection();
            code = NetCodeOf(ex.failure);
            failed = true;
        }
    } while (code != NET_OK && remaining > 0);
    return code;
}

int BaseNetThread::HttpPost(const std::string& url, const std::vector<std::string>& fields, ReplyLines& reply,
                            int tries) {
    const std::string body = FormBody(fields);

    int code = NET_OK;
    int remaining = tries;
    bool failed = false;
    do {
        if (failed && !SleepMs(kRetryDelayMs)) return NET_TERMINATED;
        --remaining;
        const std::int64_t start = TickMs();
        HttpRequest request;
        request.post = true;
        request.url = url;
        request.body = body;
        request.contentType = "application/x-www-form-urlencoded";
        HttpExchange ex = Perform(request);
        lastExchange_ = ex;
        lastExchange_.body.clear();
        if (ex.failure == NetFailure::Terminated) return NET_TERMINATED;
        if (ex.failure == NetFailure::None) DecodeBody(ex);
        const std::int64_t elapsed = TickMs() - start;
        const std::string head = Head("▼▼P ", elapsed, remaining, url);
        if (ex.failure == NetFailure::None) {
            reply = SplitReplyLines(ex.body);
            LogLine("Net", LogMsgType::Information,
                    head + "    ---------    \r\n" + ex.requestHeaders + "\r\n\r\n" + LinesText(fields) +
                        "\r\n<<<<\r\n" + ex.replyHeaders + "\r\n" + JoinReplyLines(reply));
            code = NET_OK;
        } else if (ex.failure == NetFailure::Closed) {
            // A POST whose connection was closed gracefully counts as sent; the reply stays as it was.
            LogLine("Net", FailureKind(ex.failure), FailureText(head, ex));
            code = NET_OK;
        } else {
            LogLine("Net", FailureKind(ex.failure), FailureText(head, ex));
            CloseConnection();
            code = NetCodeOf(ex.failure);
            failed = true;
        }
    } while (code != NET_OK && remaining > 0);
    return code;
}

}  // namespace morvale
