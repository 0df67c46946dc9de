#include "net/push_thread.h"

#include <optional>

namespace morvale {

PushThread::PushThread() : BaseNetThread("Net") {
    SetInterval(1000);
    SetReadTimeout(60000);
    SetCookieStore(nullptr);
    // Pausing ends the subscription phase: a long-poll in progress is dropped rather than waited for.
    abandonOnPause_ = true;
}

PushThread::~PushThread() { Stop(); }

void PushThread::SetChannel(std::string id) {
    std::lock_guard lock(mutex_);
    channel_ = std::move(id);
}

std::string PushThread::Channel() const {
    std::lock_guard lock(mutex_);
    return channel_;
}

void PushThread::Execute() {
    const std::string url = BaseUrl() + "/sub.php?id=op_" + Channel();
    std::optional<std::string> ifModifiedSince = "0";
    std::optional<std::string> ifNoneMatch = "0";
    ReplyLines reply;
    while (WaitWhilePaused()) {
        reply.clear();
        extraHeaders_.clear();
        if (ifModifiedSince) extraHeaders_.push_back("If-Modified-Since: " + *ifModifiedSince);
        if (ifNoneMatch) extraHeaders_.push_back("If-None-Match: " + *ifNoneMatch);
        const int result = HttpGet(url, reply, 1);
        // Without any reply the previous values are sent again; a reply without the header drops it.
        if (lastExchange_.gotReply) {
            ifModifiedSince = lastExchange_.ReplyHeader("Last-Modified");
            ifNoneMatch = lastExchange_.ReplyHeader("Etag");
        }
        switch (result) {
            case NET_OK: {
                InPacketList packets = ParsePackets(JoinReplyLines(reply));
                if (!packets.empty() && out_ != nullptr) out_->PushAll(std::move(packets));
                break;
            }
            case NET_READ_TIMEOUT:
                continue;  // nothing arrived: subscribe again at once
            case NET_CONNECT_TIMEOUT:
            case NET_CONNECT_FAILED:
            case NET_DNS_FAILED:
            case NET_ERROR:
                if (out_ != nullptr) out_->Push(std::make_unique<InTimeoutPacket>(nullptr));
                break;
            default:
                break;
        }
        if (Terminated() || !SleepMs(Interval())) break;
    }
}

}  // namespace morvale
