#include "session/client.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "core/app_config.h"
#include "core/log.h"
#include "core/text_utils.h"
#include "faq/faq_files.h"

namespace morvale {
namespace {

struct EditionRow {
    const char* name;
    const char* base64Url;
};

// Base URLs of the editions; "morvale" is the stand-in service on its default loopback address.
constexpr EditionRow kEditions[] = {
    {"morvalea", "aHR0cDovL2EubW9ydmFsZS5leGFtcGxlL2Nz"},
    {"morvaleb", "aHR0cDovL2IubW9ydmFsZS5leGFtcGxlL2Nz"},
    {"morvale", "aHR0cDovLzEyNy4wLjAuMTo4ODQ4L21vcnZhbGU="},
    {"tarsip", "aHR0cDovL2NzLnRhcnNpcC5leGFtcGxlL2tm"},
    {"plomek", "aHR0cDovL2NzLnBsb21lay5leGFtcGxlL2tm"},
    {"drisan", "aHR0cDovL2NzLmRyaXNhbi5leGFtcGxlL2tm"},
};

std::atomic<Client*> gInstance{nullptr};

void Log(std::string_view text) { LogLine("Client", 1, text); }

}  // namespace

std::string Client::EditionBaseUrl(std::string_view edition) {
    for (const EditionRow& row : kEditions) {
        if (edition == row.name) return Base64Decode(row.base64Url);
    }
    return {};
}

Client* Client::Instance() { return gInstance.load(); }

Client::Client(std::unique_ptr<NetLink> net, Executor& executor, ClientOptions options)
    : net_(std::move(net)), executor_(executor), alive_(std::make_shared<Client*>(this)) {
    baseUrl_ = options.baseUrl;
    if (baseUrl_.empty()) {
        const char* env = std::getenv("MORVALE_BASE_URL");
        if (env != nullptr) baseUrl_ = env;
    }
    if (baseUrl_.empty()) baseUrl_ = EditionBaseUrl(options.edition);
    if (baseUrl_.empty()) {
        LogLine("Client", LogMsgType::Error, "no server base URL for the edition " + options.edition);
    }
    serverUrl_ = baseUrl_;
    net_->SetBaseUrl(baseUrl_);
    // The hub stops its event thread before this client goes (destructor), so the callback never
    // outlives it.
    net_->SetCallback([this](InPacketList batch) { OnPackets(std::move(batch)); });
    net_->SetKeepalive([this] { SendKeepalive(); });
    gInstance.store(this);
}

Client::~Client() {
    // The event thread stops first; batches it posted but not yet applied are dropped.
    net_->Shutdown();
    alive_.reset();
    Client* self = this;
    gInstance.compare_exchange_strong(self, nullptr);
}

void Client::RegisterWindow(ClientListener* listener) {
    if (listener != nullptr) windows_.push_back(listener);
}

void Client::UnregisterWindow(ClientListener* listener) {
    auto it = std::find(windows_.begin(), windows_.end(), listener);
    if (it == windows_.end() || listener == nullptr) return;
    if (notifying_ > 0) {
        *it = nullptr;  // compacted when the outermost callback returns
    } else {
        windows_.erase(it);
    }
}

bool Client::Notify(int code, void* data, int status) {
    if (std::none_of(windows_.begin(), windows_.end(), [](ClientListener* w) { return w != nullptr; })) {
        return false;
    }
    const CallbackInfo info{code, data, status};
    ++notifying_;
    const std::size_t count = windows_.size();
    for (std::size_t i = 0; i < count && i < windows_.size(); ++i) {
        if (ClientListener* w = windows_[i]) w->OnClientCallback(info);
    }
    if (--notifying_ == 0)
        windows_.erase(std::remove(windows_.begin(), windows_.end(), nullptr), windows_.end());
    return true;
}

void Client::SetUser(std::unique_ptr<User> user) { user_ = std::move(user); }

void Client::SetProxy(const std::string& host, int port) { net_->SetProxy(host, port); }
void Client::ClearProxy() { net_->ClearProxy(); }
void Client::StartNet() { net_->StartWorkers(); }

void Client::StartKeepalive() {
    net_->ResumePush();
    net_->StartKeepalive();
}

void Client::StopKeepalive() {
    Log("    StopKeepalive");
    net_->SuspendPush();
    net_->StopKeeplive();
}

void Client::SetServer(const std::string& url) {
    serverUrl_ = url;
    net_->SetBaseUrl(url);
}

void Client::Send(std::unique_ptr<OutPacket> packet) { net_->SendPacket(std::move(packet)); }

void Client::CheckSite(std::string_view site) { Send(Make<OutCheckSitePacket>(site)); }

void Client::RegSite(std::string_view site, std::string_view user, std::string_view email,
                     std::string_view pass) {
    Send(Make<OutRegSitePacket>(site, user, pass, email));
}

void Client::LoginServer() {
    if (user_ == nullptr) return;
    Send(Make<OutLoginServerPacket>(user_->site));
}

void Client::Login() {
    if (user_ == nullptr) return;
    Send(Make<OutLoginPacket>(user_->site, user_->loginName, user_->password, AppName(), VersionText(), false,
                              traceOp_));
}

void Client::Status(const char* name, const char* action) {
    Log(std::string("[Client::") + name + "]");
    Send(Make<OutStatusPacket>(action));
}

void Client::StatusOnline() { Status("StatusOnline", "online"); }
void Client::StatusBusy() { Status("StatusBusy", "busy"); }
void Client::StatusAway() { Status("StatusAway", "away"); }
void Client::StatusHide() { Status("StatusHide", "hide"); }
void Client::StatusOffline() { Status("StatusOffline", "offline"); }

void Client::SendKeepalive() { Send(Make<OutKeepalivePacket>()); }
void Client::RequestVisitorList() { Send(Make<OutVisitorListPacket>()); }

bool Client::Accept(const Visitor& visitor) {
    if (visitor.chat == nullptr || user_ == nullptr) return false;
    Send(Make<OutRequestPacket>("accept", user_->aspId, visitor.chat->rid, user_->loginName, user_->opId,
                                user_->site));
    return true;
}

void Client::Invite(const Visitor& visitor) { Send(Make<OutInvitePacket>(visitor.vid, visitor.ip)); }

void Client::InitialChat(const Visitor& visitor) {
    Send(Make<OutInitialChatPacket>(visitor.vid, visitor.ip));
}

bool Client::CloseChat(const Visitor& visitor) {
    if (visitor.chat == nullptr) return false;
    Send(Make<OutCloseChatPacket>(visitor.vid, visitor.chat->rid));
    return true;
}

void Client::SendTyping(std::string_view sid, std::string_view sessionId, bool typing) {
    Send(Make<OutSendTypingPacket>(sid, sessionId, typing));
}

bool Client::SendMsg(const Visitor& visitor, std::string_view msg) {
    if (visitor.chat == nullptr) return false;
    Send(Make<OutSendMsgPacket>(visitor.vid, visitor.chat->rid, msg));
    return true;
}

bool Client::SendFile(const Visitor& visitor, std::string_view path) {
    if (visitor.chat == nullptr) return false;
    Send(Make<OutSendFilePacket>(visitor.vid, visitor.chat->rid, path));
    return true;
}

void Client::SetGuest(std::string_view guestId, std::string_view name) {
    Send(Make<OutSetGuestPacket>(guestId, name));
}

void Client::FAQUp(std::string_view path) {
    Log("[Client::FAQUp]" + std::string(path));
    Send(Make<OutFAQUpPacket>(path));
}

void Client::FAQFromUrl(std::string_view url) {
    if (url.empty() || user_ == nullptr) return;
    if (user_->faqLocalPath.empty()) user_->faqLocalPath = FAQLocalPath(user_->loginName, url);
    Log("    [Client::FAQFromUrl]" + std::string(url) + "\r\nfaqLocalPath:" + user_->faqLocalPath);
    if (user_->faqLocalPath.empty()) {
        LogLine("Client", LogMsgType::Error, "no temporary directory for the reply library");
        return;
    }
    Send(Make<OutFAQFromUrlPacket>(url, user_->faqLocalPath));
}

void Client::FAQRefresh() { Send(Make<OutFAQRefreshPacket>()); }

void Client::RequestUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return;
    std::string_view rest = url.substr(scheme + 3);
    const std::size_t host = rest.find('/');
    if (host == std::string_view::npos) return;
    rest.remove_prefix(host + 1);
    const std::size_t segment = rest.find('/');
    if (segment == std::string_view::npos) return;
    net_->SetCommandReadTimeout(600000);
    Send(Make<OutUrlPacket>(rest.substr(segment)));
}

void Client::RequestRawUrl(std::string_view path) { Send(Make<OutUrlPacket>(path)); }

void Client::SetDebugCookie() {
    net_->SetCommandReadTimeout(10000);
    net_->AddCookie("ZendDebuggerCookie=");
}

void Client::OnPackets(InPacketList batch) {
    auto shared = std::make_shared<InPacketList>(std::move(batch));
    std::weak_ptr<Client*> self = alive_;
    executor_.Post([self, shared] {
        if (auto client = self.lock()) (*client)->ApplyPackets(std::move(*shared));
    });
}

void Client::ApplyPackets(InPacketList batch) {
    for (auto& packet : batch) {
        if (packet != nullptr) Dispatch(*packet);
    }
}

}  // namespace morvale
