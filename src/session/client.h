#pragma once

// The session controller: owns the network link, the signed-in operator and the visitor list; turns
// window commands into requests; applies the server's events to the records on the owner thread
// (batches arrive through the executor) and tells the listeners what happened.

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/in_packet.h"
#include "session/callback.h"
#include "session/executor.h"
#include "session/model.h"
#include "session/net_link.h"

namespace morvale {

struct ClientOptions {
    std::string edition = "morvale";  // the row of the edition table to use
    std::string baseUrl;              // when set, replaces the table and MORVALE_BASE_URL
};

class Client {
  public:
    // The edition table's base URL, Base64-decoded; empty for an unknown edition.
    static std::string EditionBaseUrl(std::string_view edition);
    // The process's client (the most recently constructed one still alive), or null.
    static Client* Instance();

    Client(std::unique_ptr<NetLink> net, Executor& executor, ClientOptions options = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Listeners, in registration order. Removing one during a callback is safe; it gets no further
    // callbacks.
    void RegisterWindow(ClientListener* listener);
    void UnregisterWindow(ClientListener* listener);
    // Delivers one callback to every listener; false when none is registered.
    bool Notify(int code, void* data, int status);

    // Takes the operator of a new sign-in (the previous record is released).
    void SetUser(std::unique_ptr<User> user);
    User* user() const { return user_.get(); }
    const VisitorList& visitors() const { return visitors_; }
    const std::string& baseUrl() const { return baseUrl_; }
    const std::string& serverUrl() const { return serverUrl_; }
    const std::string& updatePath() const { return updatePath_; }
    int pendingCalls() const { return pendingCalls_; }
    int leaveMsgCount() const { return leaveMsgCount_; }
    bool traceOp() const { return traceOp_; }
    void SetTraceOp() { traceOp_ = true; }
    NetLink& link() { return *net_; }

    void SetProxy(const std::string& host, int port);
    void ClearProxy();
    void StartNet();
    void StartKeepalive();
    void StopKeepalive();
    void SetServer(const std::string& url);

    // Requests; none waits for an answer. Those that need the visitor's current chat return false,
    // and send nothing, when it has none.
    void CheckSite(std::string_view site);
    void RegSite(std::string_view site, std::string_view user, std::string_view email, std::string_view pass);
    void LoginServer();
    void Login();
    void StatusOnline();
    void StatusBusy();
    void StatusAway();
    void StatusHide();
    void StatusOffline();
    void SendKeepalive();
    void RequestVisitorList();
    bool Accept(const Visitor& visitor);
    void Invite(const Visitor& visitor);
    void InitialChat(const Visitor& visitor);
    bool CloseChat(const Visitor& visitor);
    void SendTyping(std::string_view sid, std::string_view sessionId, bool typing);
    bool SendMsg(const Visitor& visitor, std::string_view msg);
    bool SendFile(const Visitor& visitor, std::string_view path);
    void SetGuest(std::string_view guestId, std::string_view name);
    void FAQUp(std::string_view path);
    void FAQFromUrl(std::string_view url);
    void FAQRefresh();
    void RequestUrl(std::string_view url);
    void RequestRawUrl(std::string_view path);
    void SetDebugCookie();

    // Requests made by this client that the hub has not yet disposed of: queued, in flight, or
    // carried by a time-out event not yet applied.
    int OutstandingRequests() const { return outstanding_->load(); }

    // Event entry, called on the hub's event thread: the batch is applied on the executor's thread.
    void OnPackets(InPacketList batch);
    // Applies a batch on the calling (owner) thread, event by event, then releases it.
    void ApplyPackets(InPacketList batch);

  private:
    // A request that counts itself in outstanding_ for as long as it exists.
    template <class P>
    class Counted final : public P {
      public:
        template <class... Args>
        explicit Counted(std::shared_ptr<std::atomic<int>> counter, Args&&... args)
            : P(std::forward<Args>(args)...), counter_(std::move(counter)) {
            ++*counter_;
        }
        ~Counted() override { --*counter_; }

      private:
        std::shared_ptr<std::atomic<int>> counter_;
    };
    template <class P, class... Args>
    std::unique_ptr<OutPacket> Make(Args&&... args) {
        return std::make_unique<Counted<P>>(outstanding_, std::forward<Args>(args)...);
    }

    void Send(std::unique_ptr<OutPacket> packet);
    void Status(const char* name, const char* action);
    void Dispatch(InPacket& packet);

    void Process_DOWN_OPERATION_TIMEOUT(InTimeoutPacket& p);
    void Process_DOWN_UNKNOWN_PACKET(InPacket& p);
    void Process_OP_MUSTRELOGIN_PACKET(InPacket& p);
    void Process_DOWN_CHECKSITE(InCheckSitePacket& p);
    void Process_DOWN_REGSITE(InRegSitePacket& p);
    void Process_DOWN_LOGINSERVER(InLoginServerPacket& p);
    void Process_DOWN_LOGIN(InLoginPacket& p);
    void Process_DOWN_OP_LOGIN(InOpLoginPacket& p);
    void Process_DOWN_VISITOR_ALL(InVisitorAllPacket& p);
    void Process_DOWN_VISITOR_ADD(InVisitorAddPacket& p);
    void Process_DOWN_VISITOR_CHANGE_PAGE(InVisitorChangePagePacket& p);
    void Process_DOWN_VISITOR_LEFT(InVisitorLeftPacket& p);
    void Process_DOWN_VISITOR_CALL(InVisitorCallPacket& p);
    void Process_DOWN_VISITOR_ENDCALL(InVisitorEndCallPacket& p);
    void Process_DOWN_VISITOR_CHAT(InVisitorChatPacket& p);
    void Process_DOWN_VISITOR_TRANSFER(InVisitorTransferPacket& p);
    void Process_DOWN_VISITOR_PREMSG(InVisitorPreMsgPacket& p);
    void Process_DOWN_VISITOR_MSG(InVisitorMsgPacket& p);
    void Process_DOWN_VISITOR_ENDCHAT(InVisitorEndChatPacket& p);
    void Process_DOWN_VISITOR_CHAT_CONTENT(InVisitorChatContentPacket& p);
    void Process_DOWN_VISITOR_GUEST(InVisitorGuestPacket& p);
    void Process_DOWN_LEAVEMSG_COUNT(InLeaveMsgPacket& p);
    void Process_DOWN_FAQ_CHANGED(InFAQXmlPacket& p);
    void Process_DOWN_FAQ_UPOK(InPacket& p);
    void Process_DOWN_FILE_DOWNLOAED(InDownFilePacket& p);

    // A chat started (or was handed over) for this visitor: state and session from the event.
    void StartChat(Visitor& visitor, std::string_view rid, std::string_view opId, std::string_view opLogin,
                   std::string_view opName, DateTime time);
    void LogIpLine(const Visitor& visitor, std::string_view tail = {});

    std::shared_ptr<std::atomic<int>> outstanding_ = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<NetLink> net_;
    Executor& executor_;
    // Posted batches check it, so that batches still queued when the client goes are dropped.
    std::shared_ptr<Client*> alive_;
    std::vector<ClientListener*> windows_;
    int notifying_ = 0;
    std::unique_ptr<User> user_;
    std::string baseUrl_;
    std::string serverUrl_;
    std::string updatePath_ = "/dl/update.php";
    VisitorList visitors_;
    int pendingCalls_ = 0;
    int leaveMsgCount_ = 0;
    bool traceOp_ = false;
    DateTime loginServerTime_ = 0;  // the own sign-in on the server's clock (China time)
};

}  // namespace morvale
