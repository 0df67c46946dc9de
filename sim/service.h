#pragma once

// The stand-in service's state and rules: sites and operator sign-ins, visitors and their chats, and
// the per-sign-in event queues that the push subscription, keep-alive and command replies drain.
// HTTP-free and thread-safe (one lock); every text is GBK. SimServer puts it on the wire.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "accounts.h"
#include "json.h"

namespace morvale::sim {

struct ServiceOptions {
    int pushIntervalMs = 1000;         // sent in the login reply
    int pushHoldMs = 55000;            // how long a subscription waits for an event
    int sessionTimeoutS = 300;         // a sign-in without any request for this long expires
    std::string realPrefix = "/live";  // path of the "real server" named by the login-server reply
    std::uint32_t seed = 1;
};

// A reply to a protocol request.
struct Reply {
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int status = 200;
};

// Visitor data given on arrival; empty fields get made-up values.
struct VisitorInfo {
    std::string site = "demo";
    std::string ip, area, title, url, refer, keyname, keyvalue, guestId, guestName;
};

// Everything a web page needs to know about the sign-in that opened it.
struct SessionView {
    std::string id, site, opid, login, name, status;
    bool admin = false;
};

struct OperatorView {
    std::string opid, login, name, status;
    bool online = false;
};

class Service {
  public:
    Service(std::vector<Account> accounts, ServiceOptions options);

    // --- requests of the workbench; sid is the PHPSESSID cookie (empty when absent) ---
    Reply CheckSite(const std::string& site);
    Reply RegSite(const std::string& site, const std::string& user, const std::string& pass,
                  const std::string& email);
    Reply LoginServer(const std::string& site, const std::string& hostBase);
    Reply Login(const std::string& site, const std::string& user, const std::string& pass,
                const std::string& cookieSid, const std::string& hostBase);
    Reply KeepAlive(const std::string& sid);
    Reply SetStatus(const std::string& sid, const std::string& action);
    Reply VisitorList(const std::string& sid);
    Reply Accept(const std::string& sid, const std::string& rid);
    Reply Invite(const std::string& sid, const std::string& vid);
    Reply InitialChat(const std::string& sid, const std::string& vid);
    Reply SendMsg(const std::string& sid, const std::string& vid, const std::string& rid,
                  const std::string& msg);
    Reply Typing(const std::string& sid, const std::string& chatSid, const std::string& callId, bool typing);
    Reply CloseChat(const std::string& sid, const std::string& vid, const std::string& rid);
    Reply SetGuest(const std::string& sid, const std::string& guestId, const std::string& name);
    Reply SendFile(const std::string& sid, const std::string& vid, const std::string& rid,
                   const std::string& fileName, const std::string& bytes);
    Reply FaqUpload(const std::string& sid, const std::string& bytes);
    Reply FaqRefresh(const std::string& sid);
    Reply Clean(const std::string& sid);
    // A request of a signed-in session with nothing to answer but queued events (plain URLs).
    Reply Touch(const std::string& sid);

    // The push subscription of channel "op_" + session id: waits until an event is queued past the
    // cursor (If-None-Match) or the hold time passes. Events stay re-deliverable until a later
    // request's cursor confirms them; the Etag of a reply names its last event.
    Reply Subscribe(const std::string& channel, const std::string& ifModifiedSince,
                    const std::string& ifNoneMatch);

    // The reply library of a site (GBK XML), none for an unknown site.
    std::optional<std::string> FaqDocument(const std::string& site);
    // A file an operator sent to a visitor.
    struct StoredFile {
        std::string name, bytes;
    };
    std::optional<StoredFile> File(const std::string& id);

    // --- web pages ---
    std::optional<SessionView> Session(const std::string& sid);
    std::vector<OperatorView> Operators(const std::string& site);
    // Offers the chat rid of visitor vid, served by sid's operator, to the operator toOpid.
    bool Transfer(const std::string& sid, const std::string& vid, const std::string& rid,
                  const std::string& toOpid, std::string* error);
    // Ended and running chats of a returning guest: {rid, start, opname, transcript}.
    struct ChatRecord {
        std::string rid, opname, question;
        std::time_t start = 0, end = 0;
        std::vector<std::string> transcript;
    };
    std::vector<ChatRecord> GuestChats(const std::string& site, const std::string& guestId);
    std::vector<ChatRecord> SiteChats(const std::string& site);
    int LeaveMsgCount(const std::string& site);

    // --- the visitor side (the browser page, scripted visitors and the control API) ---
    std::optional<std::string> VisitorArrive(VisitorInfo info, std::string* error = nullptr);
    bool VisitorPage(const std::string& vid, const std::string& url, const std::string& title);
    // Returns the chat id of the new request.
    std::optional<std::string> VisitorCall(const std::string& vid, const std::string& question,
                                           const std::string& guestName);
    bool VisitorSend(const std::string& vid, const std::string& msg, bool plain);
    bool VisitorType(const std::string& vid, const std::string& text);
    bool VisitorCancel(const std::string& vid);  // gives up a pending request or ends a running chat
    bool VisitorAnswerInvite(const std::string& vid, bool accept);
    bool VisitorLeave(const std::string& vid);
    // What reached the visitor side after entry `since` (UTF-8 JSON array), waiting up to waitMs for one.
    // A heartbeat poll comes from an open page: a visitor whose heartbeats stop for 90 s has closed it.
    std::optional<Json> VisitorInbox(const std::string& vid, long since, int waitMs, bool heartbeat = false);
    std::vector<std::string> LiveVisitors(bool scriptedOnly);
    void MarkScripted(const std::string& vid);

    // --- control ---
    bool ForceRelogin(const std::string& site, const std::string& login);
    // Signs the operator in once more from nowhere; returns the new session id.
    std::optional<std::string> SignInElsewhere(const std::string& site, const std::string& login);
    bool SetLeaveMsgCount(const std::string& site, int count);
    // Queues a raw event for every live sign-in of site (login empty) or of one operator.
    int InjectEvent(const std::string& site, const std::string& login, int type,
                    const std::vector<std::string>& fields);
    void Configure(const Json& config);  // push_hold_ms, push_interval_ms, session_timeout_s
    Json Snapshot();                     // sites, sessions, visitors, chats (UTF-8)
    void Shutdown();                     // wakes and answers every waiting subscription

  private:
    struct Event {
        std::int64_t id = 0;
        std::time_t stamp = 0;
        int type = 0;
        std::string frame;
        bool viaPush = false;
    };
    struct SessionRec {
        std::string id, site, opid;
        std::time_t loginTime = 0;
        std::chrono::steady_clock::time_point lastSeen;
        std::string status = "online";
        bool valid = true;
        std::deque<Event> events;
        std::int64_t nextEvent = 1;
        std::uint64_t pushTicket = 0;
    };
    struct Page {
        std::string url, title;
        std::time_t time = 0;
    };
    struct InboxEntry {
        long n = 0;
        std::string type;
        std::vector<std::pair<std::string, std::string>> fields;  // GBK
    };
    enum class ChatState { Calling, Active, Ended };
    struct Chat {
        std::string rid, callId, vid, site, question, opid, guestId;
        ChatState state = ChatState::Calling;
        std::time_t callTime = 0, startTime = 0, endTime = 0;
        std::vector<std::string> transcript;
        std::string transferTo, transferFrom, transferCallId;
        std::string lastTypingOp;
    };
    struct VisitorRec {
        std::string vid, site, ip, area, guestId, guestName, referUrl, keyname, keyvalue;
        std::time_t arrive = 0;
        std::vector<Page> pages;
        bool left = false, scripted = false;
        std::chrono::steady_clock::time_point lastPoll{};  // visitors that poll and then stop have gone
        std::string chatRid;                               // current (calling or active) chat
        std::string invitedBy;
        std::vector<InboxEntry> inbox;
        long nextInbox = 1;
    };
    struct SiteRec {
        std::string name, aspId, faqXml;
        int leaveMsgCount = 0;
        std::map<std::string, std::string> guestNames;
    };

    // All below run under mu_.
    SessionRec* FindSession(const std::string& sid);
    const Account* AccountOf(const SessionRec& s) const;
    const Account* FindAccount(const std::string& site, const std::string& login) const;
    const Account* FindAccountById(const std::string& site, const std::string& opid) const;
    VisitorRec* FindVisitor(const std::string& vid);
    Chat* FindChat(const std::string& rid);
    Chat* CurrentChat(VisitorRec& v);
    void Expire();
    void Leave(VisitorRec& v);
    void Queue(SessionRec& s, int type, const std::string& payload);
    void Broadcast(const std::string& site, int type, const std::string& payload,
                   const SessionRec* except = nullptr);
    void ToOperator(const std::string& site, const std::string& opid, int type, const std::string& payload);
    void ToOthers(const std::string& site, const std::string& opid, int type, const std::string& payload);
    void ToVisitor(VisitorRec& v, std::string type, std::vector<std::pair<std::string, std::string>> fields);
    // The frames of events not yet handed to a subscription, which this reply now carries.
    std::string DrainForCommand(SessionRec& s);
    Reply CommandReply(SessionRec& s, std::string frames = {});
    Reply MustRelogin();
    std::string NewSessionId();
    std::string NextId(char prefix, long& counter);
    std::string OperatorFragment(const Account& a, const std::string& html, std::time_t t);
    std::string VisitorFragment(const VisitorRec& v, const std::string& html, std::time_t t);
    void SendChatContent(const Chat& c);
    void EndChat(VisitorRec& v, Chat& c, bool byOperator);
    void StartChat(VisitorRec& v, Chat& c, const Account& op, std::time_t now);
    std::string VisitorListXml(const std::string& site);
    std::string SessionIdOfOp(const std::string& site, const std::string& opid);
    Json InboxJson(const VisitorRec& v, long since);

    std::mutex mu_;
    std::condition_variable cv_;
    ServiceOptions options_;
    std::vector<Account> accounts_;
    std::map<std::string, SiteRec> sites_;
    std::map<std::string, SessionRec> sessions_;
    std::map<std::string, VisitorRec> visitors_;
    std::vector<std::string> visitorOrder_;  // arrival order
    std::map<std::string, Chat> chats_;
    std::vector<std::string> chatOrder_;
    std::map<std::string, StoredFile> files_;
    std::mt19937 rng_;
    long nextVisitor_ = 100000001, nextChat_ = 300000001, nextCall_ = 500000001, nextGuest_ = 70000001,
         nextFile_ = 1;
    bool stopping_ = false;
};

}  // namespace morvale::sim
