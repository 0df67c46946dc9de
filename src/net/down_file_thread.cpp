#include "net/down_file_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/log.h"

namespace morvale {

namespace {

// Downloads land in the private temporary directory; a link planted at the file's name is refused
// rather than followed, so a download can never overwrite a file elsewhere.
std::FILE* CreateForWriting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace

std::optional<std::string> GunzipFileInPlace(const std::string& path) {
    const std::string gz = path + ".gz";
    if (std::rename(path.c_str(), gz.c_str()) != 0) {
        return "Cannot rename \"" + path + "\": " + std::strerror(errno);
    }
    // The download is bounded by kMaxReplyBytes, so the compressed file fits in memory.
    std::string data;
    std::FILE* in = std::fopen(gz.c_str(), "rb");
    if (in != nullptr) {
        char buf[65536];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) data.append(buf, n);
        std::fclose(in);
    }
    std::remove(gz.c_str());
    const std::optional<std::string> plain = Gunzip(data);
    std::FILE* out = CreateForWriting(path);
    if (out == nullptr) return "Cannot create file \"" + path + "\". " + std::strerror(errno);
    bool ok = true;
    if (plain && !plain->empty()) ok = std::fwrite(plain->data(), 1, plain->size(), out) == plain->size();
    ok = std::fclose(out) == 0 && ok;
    if (!plain) return std::string("The gzip file is damaged");
    if (!ok) return "Cannot write \"" + path + "\"";
    return std::nullopt;
}

DownFileThread::DownFileThread() : BaseNetThread("NetDF") {
    SetInterval(100);
    SetKeepProtocolVersion(false);
    extraHeaders_ = {"Accept-Encoding: gzip,deflate"};
}

DownFileThread::~DownFileThread() { Stop(); }

void DownFileThread::Execute() {
    while (SleepMs(Interval()) && WaitWhilePaused()) {
        OutQueue::List batch = in_->TakeAll();
        for (auto& packet : batch) {
            if (Terminated()) break;
            if (packet->channel != CH_DOWNLOAD) continue;
            const int result = Download(*packet);
            const std::string head = "----" + packet->GetUrl() + "  --------  \r\n" + packet->localFile;
            if (result == NET_OK) {
                LogLine("NetDF", 2, head);
            } else {
                LogLine("NetDF", 2, head + "<<<<<网络异常");
            }
            out_->Push(std::make_unique<InDownFilePacket>(result == NET_OK, std::move(packet)));
        }
    }
}

int DownFileThread::Download(const OutPacket& packet) {
    const std::string url = BaseUrl() + packet.GetUrl();
    const std::string& localFile = packet.localFile;
    int code = NET_OK;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0 && !SleepMs(kRetryDelayMs)) return NET_TERMINATED;
        const int remaining = kAttempts - attempt - 1;
        auto head = [&](std::int64_t elapsed) {
            return "▼▼DF <-- " + std::to_string(elapsed) + "ms " + std::to_string(remaining) + "c - " + url +
                   "    ---------    \r\n";
        };
        auto fail = [&](LogMsgType kind, std::int64_t elapsed, const std::string& message) {
            LogLine("NetDF", kind, head(elapsed) + localFile + "    ---------    \r\n" + message);
        };
        const std::int64_t start = TickMs();
        std::FILE* file = CreateForWriting(localFile);
        if (file == nullptr) {
            fail(LogMsgType::Warning, 0, "Cannot create file \"" + localFile + "\". " + std::strerror(errno));
            code = NET_ERROR;
            continue;
        }
        LogLine("NetDF", LogMsgType::Information, "▼▼DF --> " + url + "    ---------    \r\n" + localFile);
        HttpRequest request;
        request.url = url;
        request.sink = file;
        HttpExchange ex = Perform(request);
        const std::int64_t elapsed = TickMs() - start;
        if (std::fclose(file) != 0 && ex.failure == NetFailure::None) {
            ex.failure = NetFailure::Other;
            ex.fileError = true;
            ex.message = "Cannot write the file";
        }
        if (ex.failure == NetFailure::Terminated) return NET_TERMINATED;
        if (ex.fileError) {
            fail(LogMsgType::Warning, 0, ex.message + " \"" + localFile + "\"");
            CloseConnection();
            code = NET_ERROR;
            continue;
        }
        if (ex.failure == NetFailure::None) {
            const auto encoding = ex.ReplyHeader("Content-Encoding");
            if (encoding && encoding->find("gzip") != std::string::npos) {
                if (auto error = GunzipFileInPlace(localFile)) {
                    fail(LogMsgType::Exception, elapsed, *error);
                    code = NET_ERROR;
                    continue;
                }
            }
            LogLine(
                "NetDF", LogMsgType::Information,
                head(elapsed) + ex.requestHeaders + "\r\n<<<<\r\n" + ex.replyHeaders + "\r\n" + localFile);
            return NET_OK;
        }
        if (ex.failure == NetFailure::Closed) {
            // libcurl ends a body delimited by the connection's close without error; a close here means
            // the reply was cut short (or never came), and a cut-off file is no download.
            fail(LogMsgType::Warning, elapsed, ex.message);
            CloseConnection();
            code = NET_CLOSED;
            continue;
        }
        const bool transport = ex.failure != NetFailure::HttpStatus && ex.failure != NetFailure::Other;
        fail(transport ? LogMsgType::Warning : LogMsgType::Exception, elapsed, ex.message);
        CloseConnection();
        code = NetCodeOf(ex.failure);
    }
    return code;
}

}  // namespace morvale
