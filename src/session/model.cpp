#include "session/model.h"

namespace morvale {

User::User(std::string_view site, std::string_view loginName, std::string_view password)
    : site(site), loginName(loginName), password(password) {}

std::string_view VisitorStateText(std::uint8_t state) {
    switch (state) {
        case vsLeft:
            return "离开";
        case vsBrowsing:
        case vsChatEnded:
            return "浏览";
        case vsChatOther:
        case vsChatMine:
            return "对话";
        case vsCalling:
            return "呼叫";
        case vsTransfer:
            return "转接";
        default:
            return "";
    }
}

std::string_view VisitorStateName(std::uint8_t state) {
    switch (state) {
        case vsLeft:
            return "vsLeft";
        case vsBrowsing:
            return "vsBrowsing";
        case vsChatEnded:
            return "vsChatEnded";
        case vsChatOther:
            return "vsChatOther";
        case vsChatMine:
            return "vsChatMine";
        case vsCalling:
            return "vsCalling";
        case vsTransfer:
            return "vsTransfer";
        default:
            return "";
    }
}

void Visitor::AddPage(std::string_view title, std::string_view url, std::string_view timeText) {
    pages.push_back(Page{std::string(title), std::string(url), TextToDateTime(timeText).value_or(0)});
}

ChatSession& NewChat(Visitor& visitor, std::string_view rid, std::string_view opId, std::string_view opLogin,
                     std::string_view opName, DateTime time) {
    auto session = std::make_unique<ChatSession>();
    session->rid = rid;
    session->opId = opId;
    session->opLogin = opLogin;
    session->opName = opName;
    session->callTime = time;
    session->startTime = time;
    visitor.chats.push_back(std::move(session));
    visitor.chat = visitor.chats.back().get();
    return *visitor.chat;
}

ChatSession& NewCall(Visitor& visitor, std::string_view callId, std::string_view rid,
                     std::string_view question, DateTime time) {
    visitor.state = vsCalling;
    auto session = std::make_unique<ChatSession>();
    session->callId = callId;
    session->rid = rid;
    session->question = question;
    session->callTime = time;
    visitor.chats.push_back(std::move(session));
    visitor.chat = visitor.chats.back().get();
    return *visitor.chat;
}

bool MarkTransfer(Visitor& visitor, std::string_view callId, std::string_view rid, std::string_view opId,
                  std::string_view opName, DateTime time) {
    if (visitor.chat == nullptr) return false;
    visitor.state = vsTransfer;
    visitor.chat->callId = callId;
    visitor.chat->rid = rid;
    visitor.chat->opId = opId;
    visitor.chat->opName = opName;
    visitor.chat->callTime = time;
    return true;
}

Visitor* FindVisitor(const VisitorList& visitors, std::string_view vid, StateMask states) {
    for (const auto& v : visitors) {
        if (v->vid == vid && (states & StateBit(v->state)) != 0) return v.get();
    }
    return nullptr;
}

Visitor* FindVisitorByCallId(const VisitorList& visitors, std::string_view callId, StateMask states) {
    for (const auto& v : visitors) {
        if ((states & StateBit(v->state)) != 0 && v->chat != nullptr && v->chat->callId == callId)
            return v.get();
    }
    return nullptr;
}

std::vector<Visitor*> FindVisitorsInText(const VisitorList& visitors, std::string_view text) {
    std::vector<Visitor*> found;
    for (const auto& v : visitors) {
        // An empty id occurs in every text; it names nobody.
        if (v->state != vsLeft && !v->vid.empty() && text.find(v->vid) != std::string_view::npos) {
            found.push_back(v.get());
        }
    }
    return found;
}

std::vector<Visitor*> FindVisitorsByGuestId(const VisitorList& visitors, std::string_view guestId) {
    std::vector<Visitor*> found;
    for (const auto& v : visitors) {
        if (v->guestId == guestId) found.push_back(v.get());
    }
    return found;
}

}  // namespace morvale
