#include "net/net.h"

#include "core/log.h"
#include "net/curl_global.h"

namespace morvale {

Net::Net() : events_(&incoming_) {
    EnsureCurlGlobalInit();
    pull_.SetCookieStore(&cookies_);
    sender_.SetCookieStore(&cookies_);
    sendFile_.SetCookieStore(&cookies_);
    downFile_.SetCookieStore(&cookies_);
    // The subscription detaches the store: it sends and keeps no cookies.
    push_.SetCookieStore(nullptr);
    push_.SetOutput(&incoming_);
    sender_.SetQueues(&send_, &incoming_);
    sendFile_.SetQueues(&upload_, &incoming_);
    downFile_.SetQueues(&download_, &incoming_);
    pull_.SetKeepalive([this] { SendPacket(std::make_unique<OutKeepalivePacket>()); });
}

Net::~Net() {
    events_.Stop();
    pull_.Stop();
    push_.Stop();
    sender_.Stop();
    sendFile_.Stop();
    downFile_.Stop();
    incoming_.Clear();
    send_.Clear();
    upload_.Clear();
    download_.Clear();
}

void Net::ForEachWorker(const std::function<void(BaseNetThread&)>& action) {
    action(pull_);
    action(push_);
    action(sender_);
    action(sendFile_);
    action(downFile_);
}

void Net::SetBaseUrl(std::string url) {
    {
        std::lock_guard lock(baseUrlMutex_);
        baseUrl_ = url;
    }
    ForEachWorker([&](BaseNetThread& w) { w.SetBaseUrl(url); });
}

std::string Net::BaseUrl() const {
    std::lock_guard lock(baseUrlMutex_);
    return baseUrl_;
}

void Net::SetCallback(BatchCallback callback) { events_.SetCallback(std::move(callback)); }

void Net::SetKeepalive(std::function<void()> keepalive) { pull_.SetKeepalive(std::move(keepalive)); }

void Net::SetProxy(std::string host, int port) {
    ForEachWorker([&](BaseNetThread& w) { w.SetProxy(host, port); });
}

void Net::ClearProxy() {
    ForEachWorker([](BaseNetThread& w) { w.SetProxy("", 0); });
}

void Net::SendPacket(std::unique_ptr<OutPacket> packet) {
    if (!packet) return;
    switch (packet->channel) {
        case CH_GET:
        case CH_POST:
            send_.Push(std::move(packet));
            break;
        case CH_UPLOAD:
            upload_.Push(std::move(packet));
            break;
        case CH_DOWNLOAD:
            download_.Push(std::move(packet));
            break;
        default:
            break;  // no worker serves it
    }
}

void Net::StartWorkers() {
    events_.Start();
    sender_.Start();
    sendFile_.Start();
    downFile_.Start();
}

void Net::ResumePush() { push_.Start(); }

void Net::SuspendPush() { push_.Pause(); }

void Net::StartKeepalive() { pull_.Start(); }

void Net::StopKeeplive() {
    LogLine("Net", 1, "    Net::StopKeeplive() pthread->Suspend()");
    pull_.Pause();
}

void Net::SetPushChannel(std::string id) { push_.SetChannel(std::move(id)); }

void Net::SetPushInterval(int ms) { push_.SetInterval(ms); }

void Net::SetCommandReadTimeout(int ms) { sender_.SetReadTimeout(ms); }

void Net::AddCookie(std::string_view cookie) {
    cookies_.Add(HostOf(BaseUrl()), std::string(cookie) + ";path=/");
}

std::string Net::HostOf(std::string_view url) {
    const size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const size_t at = rest.rfind('@');
    if (at != std::string_view::npos) rest.remove_prefix(at + 1);
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        return std::string(
            rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return std::string(rest.substr(0, rest.find(':')));
}

}  // namespace morvale
