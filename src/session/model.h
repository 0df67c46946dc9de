#pragma once

// The records of the current sign-in: the operator (User), the website's live visitors (Visitor) with
// their page views (Page) and chat sessions (ChatSession). Plain data owned by Client, changed only
// on its owner thread; texts are GBK, times day-count date-times (0 = not set).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_utils.h"

namespace morvale {

// The operator of the current sign-in.
struct User {
    User() = default;
    User(std::string_view site, std::string_view loginName, std::string_view password);

    std::string sessionId;
    std::string aspId;
    std::string site;
    std::string opId;
    std::string loginName;
    std::string password;
    std::string opName;
    bool isAdmin = false;
    std::string faqUrl;
    std::string faqLocalPath;
    DateTime loginTime = 0;
};

enum VisitorState : std::uint8_t {
    vsLeft = 0,
    vsBrowsing = 1,
    vsChatEnded = 2,
    vsChatOther = 4,
    vsChatMine = 5,
    vsCalling = 7,
    vsTransfer = 8,
};

// The visitor list's state column text ("离开", "浏览", "对话", "呼叫", "转接").
std::string_view VisitorStateText(std::uint8_t state);
// The member name of a state ("vsChatMine"), for machine-readable output.
std::string_view VisitorStateName(std::uint8_t state);

// One page view.
struct Page {
    std::string title;
    std::string url;
    DateTime time = 0;
};

// One conversation of a visitor, from request (or transfer request) to end.
struct ChatSession {
    std::string sid;
    std::string callId;
    std::string rid;
    std::string question;
    DateTime callTime = 0;
    DateTime startTime = 0;
    DateTime endTime = 0;
    std::string opId;
    std::string opLogin;
    std::string opName;
    std::string lastMsg;
    std::vector<std::string> content;  // transcript: HTML fragments in arrival order
};

// One visitor of the website; owns its pages and sessions.
struct Visitor {
    std::uint8_t state = vsLeft;
    void* node = nullptr;  // the view's row; set and used only by the view
    int newMsgCount = 0;
    std::string vid;
    std::string ip;
    std::string area;
    std::string guestId;
    std::string guestName;
    std::string pageUrl;
    std::string pageTitle;
    std::string referUrl;
    std::string keyName;
    std::string keyValue;
    DateTime arriveTime = 0;
    DateTime leftTime = 0;
    ChatSession* chat = nullptr;  // the newest of chats, null until the first
    std::vector<Page> pages;
    std::vector<std::unique_ptr<ChatSession>> chats;
    std::string preMsg;

    // Appends a page whose time is parsed from a local date-time text (the DateTimeToText form).
    void AddPage(std::string_view title, std::string_view url, std::string_view timeText);
};

// A session for a chat found running or started without a request; the state is not changed.
ChatSession& NewChat(Visitor& visitor, std::string_view rid, std::string_view opId, std::string_view opLogin,
                     std::string_view opName, DateTime time);
// A chat request: the visitor goes to vsCalling.
ChatSession& NewCall(Visitor& visitor, std::string_view callId, std::string_view rid,
                     std::string_view question, DateTime time);
// A transfer request rewrites the current session in place (vsTransfer); false, and nothing changes,
// when the visitor has no current session.
bool MarkTransfer(Visitor& visitor, std::string_view callId, std::string_view rid, std::string_view opId,
                  std::string_view opName, DateTime time);

using VisitorList = std::vector<std::unique_ptr<Visitor>>;

// A set of states for the lookups; kAnyState admits every state.
using StateMask = std::uint32_t;
constexpr StateMask StateBit(std::uint8_t state) { return StateMask{1} << state; }
inline constexpr StateMask kAnyState = ~StateMask{0};

// Lookups in list order, the first match wins.
Visitor* FindVisitor(const VisitorList& visitors, std::string_view vid, StateMask states = kAnyState);
Visitor* FindVisitorByCallId(const VisitorList& visitors, std::string_view callId, StateMask states);
// Every visitor not in vsLeft whose vid occurs anywhere inside text (one event may name several).
std::vector<Visitor*> FindVisitorsInText(const VisitorList& visitors, std::string_view text);
std::vector<Visitor*> FindVisitorsByGuestId(const VisitorList& visitors, std::string_view guestId);

}  // namespace morvale
