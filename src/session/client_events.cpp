// Client's handling of server events: the model change, transcript markup, counters, log lines and
// callbacks of each event kind.

#include <ctime>
#include <unordered_map>

#include "core/log.h"
#include "core/text_utils.h"
#include "session/client.h"
#include "session/transcript.h"
#include "session/visitor_list_xml.h"

namespace morvale {
namespace {

void Log(std::string_view text) { LogLine("Client", 1, text); }

// The decoded value of the first "name=value" line of a request's parameters.
std::string ParamValue(const OutPacket& request, std::string_view name) {
    for (const std::string& line : request.GetParams()) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
            line[name.size()] == '=') {
            const std::string_view value = std::string_view(line).substr(name.size() + 1);
            return UrlDecode(value).value_or(std::string(value));
        }
    }
    return {};
}

constexpr StateMask kChatMine = StateBit(vsChatMine);

}  // namespace

void Client::Dispatch(InPacket& packet) {
    switch (packet.kind) {
        case DOWN_OPERATION_TIMEOUT:
            return Process_DOWN_OPERATION_TIMEOUT(static_cast<InTimeoutPacket&>(packet));
        case DOWN_UNKNOWN_PACKET:
            return Process_DOWN_UNKNOWN_PACKET(packet);
        case OP_MUSTRELOGIN:
            return Process_OP_MUSTRELOGIN_PACKET(packet);
        case DOWN_CHECKSITE:
            return Process_DOWN_CHECKSITE(static_cast<InCheckSitePacket&>(packet));
        case DOWN_REGSITE:
            return Process_DOWN_REGSITE(static_cast<InRegSitePacket&>(packet));
        case DOWN_LOGINSERVER:
            return Process_DOWN_LOGINSERVER(static_cast<InLoginServerPacket&>(packet));
        case DOWN_LOGIN:
            return Process_DOWN_LOGIN(static_cast<InLoginPacket&>(packet));
        case DOWN_VISITOR_ADD:
            return Process_DOWN_VISITOR_ADD(static_cast<InVisitorAddPacket&>(packet));
        case DOWN_VISITOR_CHANGE_PAGE:
            return Process_DOWN_VISITOR_CHANGE_PAGE(static_cast<InVisitorChangePagePacket&>(packet));
        case DOWN_VISITOR_CALL:
            return Process_DOWN_VISITOR_CALL(static_cast<InVisitorCallPacket&>(packet));
        case DOWN_VISITOR_CHAT:
            return Process_DOWN_VISITOR_CHAT(static_cast<InVisitorChatPacket&>(packet));
        case DOWN_VISITOR_LEFT:
            return Process_DOWN_VISITOR_LEFT(static_cast<InVisitorLeftPacket&>(packet));
        case DOWN_VISITOR_MSG:
            return Process_DOWN_VISITOR_MSG(static_cast<InVisitorMsgPacket&>(packet));
        case DOWN_VISITOR_ENDCHAT:
            return Process_DOWN_VISITOR_ENDCHAT(static_cast<InVisitorEndChatPacket&>(packet));
        case DOWN_VISITOR_ALL:
            return Process_DOWN_VISITOR_ALL(static_cast<InVisitorAllPacket&>(packet));
        case DOWN_FAQ_CHANGED:
            return Process_DOWN_FAQ_CHANGED(static_cast<InFAQXmlPacket&>(packet));
        case DOWN_FAQ_UPOK:
            return Process_DOWN_FAQ_UPOK(packet);
        case DOWN_FILE_DOWNLOAED:
            return Process_DOWN_FILE_DOWNLOAED(static_cast<InDownFilePacket&>(packet));
        case DOWN_OP_LOGIN:
            return Process_DOWN_OP_LOGIN(static_cast<InOpLoginPacket&>(packet));
        case DOWN_VISITOR_PREMSG:
            return Process_DOWN_VISITOR_PREMSG(static_cast<InVisitorPreMsgPacket&>(packet));
        case DOWN_VISITOR_GUEST:
            return Process_DOWN_VISITOR_GUEST(static_cast<InVisitorGuestPacket&>(packet));
        case DOWN_VISITOR_CHAT_CONTENT:
            return Process_DOWN_VISITOR_CHAT_CONTENT(static_cast<InVisitorChatContentPacket&>(packet));
        case DOWN_VISITOR_ENDCALL:
            return Process_DOWN_VISITOR_ENDCALL(static_cast<InVisitorEndCallPacket&>(packet));
        case DOWN_LEAVEMSG_COUNT:
            return Process_DOWN_LEAVEMSG_COUNT(static_cast<InLeaveMsgPacket&>(packet));
        case DOWN_VISITOR_TRANSFER:
            return Process_DOWN_VISITOR_TRANSFER(static_cast<InVisitorTransferPacket&>(packet));
        default:
            return;
    }
}

void Client::LogIpLine(const Visitor& visitor, std::string_view tail) {
    Log("        ip=" + visitor.ip + visitor.area + std::string(tail));
}

void Client::Process_DOWN_OPERATION_TIMEOUT(InTimeoutPacket& p) {
    Log("    Process_DOWN_OPERATION_TIMEOUT");
    if (p.request == nullptr) return;
    switch (p.request->requestKind) {
        case 501:
            Notify(CbcLoginServer, nullptr, 1);
            break;
        case 502:
        case 504:
            Notify(CbcLogin, nullptr, 1);
            break;
        case 507: {
            Visitor* v = FindVisitor(visitors_, ParamValue(*p.request, "vid"), kChatMine);
            if (v == nullptr || v->chat == nullptr) return;
            v->preMsg.clear();
            v->chat->content.push_back(FailedSendFragment(ParamValue(*p.request, "msg")));
            ++v->newMsgCount;
            Notify(CbcMsgSendFailed, v, 0);
            break;
        }
        case 509: {
            std::string text = "修改备注姓名失败";
            Notify(CbcShowMessage, &text, 0);
            break;
        }
        case 515:
            Notify(CbcOpMustReLogin, nullptr, 0);
            break;
        default:
            break;
    }
}

void Client::Process_DOWN_UNKNOWN_PACKET(InPacket&) { Log("    Process_DOWN_UNKNOWN_PACKET"); }

void Client::Process_OP_MUSTRELOGIN_PACKET(InPacket&) {
    Log("    Process_OP_MUSTRELOGIN_PACKET");
    Notify(CbcOpMustReLogin, nullptr, 0);
}

void Client::Process_DOWN_CHECKSITE(InCheckSitePacket& p) {
    Log("    Process_DOWN_CHECKSITE");
    Notify(CbcCheckSite, &p, 0);
}

void Client::Process_DOWN_REGSITE(InRegSitePacket& p) {
    Log("    Process_DOWN_REGSITE");
    Notify(CbcRegSite, &p, 0);
}

void Client::Process_DOWN_LOGINSERVER(InLoginServerPacket& p) {
    Log("    Process_DOWN_LOGINSERVER");
    if (p.serverUrl != "0") {
        Log("        RealServer=" + p.serverUrl);
        SetServer(p.serverUrl);
        Login();
    }
    Notify(CbcLoginServer, &p, 0);
}

void Client::Process_DOWN_LOGIN(InLoginPacket& p) {
    Log("    Process_DOWN_LOGIN");
    if (p.ok && user_ != nullptr) {
        user_->sessionId = p.sessionId;
        user_->aspId = p.aspId;
        user_->site = p.site;
        user_->opId = p.opid;
        user_->loginName = p.oplogin;
        user_->opName = p.opname;
        user_->isAdmin = p.isAdmin;
        user_->faqUrl = p.faqUrl;
        user_->loginTime = NowDateTime();
        loginServerTime_ = UnixToLocal(static_cast<std::int64_t>(std::time(nullptr)));
        net_->SetPushChannel(p.sessionId);
        net_->SetPushInterval(p.pushInterval);
        leaveMsgCount_ = p.leaveMsgCount;
    }
    Notify(CbcLogin, &p, 0);
}

void Client::Process_DOWN_OP_LOGIN(InOpLoginPacket& p) {
    Log("    Process_DOWN_OP_LOGIN");
    if (user_ == nullptr) return;
    // Server times are China time in whole seconds; the own sign-in is compared on the same clock and
    // to the second, so a sign-in elsewhere within the same second still counts.
    if (p.opid == user_->opId && p.sessionId != user_->sessionId && p.loginTime >= loginServerTime_) {
        Log("        CbcOtherMeLogin");
        Notify(CbcOtherMeLogin, nullptr, 0);
    }
}

void Client::Process_DOWN_VISITOR_ALL(InVisitorAllPacket& p) {
    Log("    Process_DOWN_VISITOR_ALL");
    VisitorListResult list = ReadVisitorList(p.xml);
    if (!list.error.empty()) {
        LogLine("Client", LogMsgType::Warning, "        visitor list not read: " + list.error);
        return;
    }
    // The old records stay alive until every listener has handled CbcVisitorAll.
    VisitorList dropped;
    dropped.swap(visitors_);
    std::unordered_map<std::string_view, Visitor*> known;
    known.reserve(dropped.size());
    for (const auto& v : dropped) known.emplace(v->vid, v.get());
    const std::string_view ownOpId = user_ != nullptr ? std::string_view(user_->opId) : std::string_view();

    visitors_.reserve(list.entries.size());
    for (VisitorListEntry& entry : list.entries) {
        Visitor& v = *entry.visitor;
        // A visitor already known keeps its conversations: a fresh list after a re-login must not wipe
        // the chats in progress.
        if (auto it = known.find(v.vid); it != known.end() && !it->second->chats.empty()) {
            Visitor& old = *it->second;
            v.chats = std::move(old.chats);
            v.chat = old.chat;
            old.chat = nullptr;
            old.chats.clear();
            known.erase(it);
        }
        if (entry.chatting) {
            v.state = (user_ != nullptr && entry.opId == ownOpId) ? vsChatMine : vsChatOther;
            if (v.chat != nullptr && v.chat->rid == entry.rid && v.chat->endTime == 0) {
                v.chat->opId = entry.opId;
                v.chat->opLogin = entry.opLogin;
                v.chat->opName = entry.opName;
            } else {
                NewChat(v, entry.rid, entry.opId, entry.opLogin, entry.opName, entry.chatTime);
            }
        }
        visitors_.push_back(std::move(entry.visitor));
    }
    Notify(CbcVisitorAll, nullptr, 0);
}

void Client::Process_DOWN_VISITOR_ADD(InVisitorAddPacket& p) {
    Log("    Process_DOWN_VISITOR_ADD");
    auto visitor = std::make_unique<Visitor>();
    Visitor& v = *visitor;
    v.state = vsBrowsing;
    v.vid = p.vid;
    v.ip = p.ip;
    v.guestId = p.guestId;
    v.guestName = p.guestName;
    v.area = p.location;
    v.pageTitle = p.pageTitle;
    v.pageUrl = p.pageUrl;
    v.referUrl = p.referUrl;
    v.keyName = p.keyname;
    v.keyValue = p.keyvalue;
    v.arriveTime = p.time;
    v.AddPage(v.pageTitle, v.pageUrl, DateTimeToText(p.time));
    visitors_.insert(visitors_.begin(), std::move(visitor));
    Log("        ip=" + v.ip + v.area + " keyname=" + v.keyName + " keyvalue=" + v.keyValue +
        " refer_url=" + v.referUrl);
    Notify(CbcVisitorAdd, &v, 0);
}

void Client::Process_DOWN_VISITOR_CHANGE_PAGE(InVisitorChangePagePacket& p) {
    Log("    Process_DOWN_VISITOR_CHANGE_PAGE");
    Visitor* v = FindVisitor(visitors_, p.vid);
    if (v == nullptr) return;
    LogIpLine(*v, " page=" + p.pageUrl);
    if (v->state == vsLeft) v->state = vsBrowsing;
    v->pageTitle = p.pageTitle;
    v->pageUrl = p.pageUrl;
    v->AddPage(p.pageTitle, p.pageUrl, DateTimeToText(p.time));
    Notify(CbcVisitorChangePage, v, 0);
}

void Client::Process_DOWN_VISITOR_LEFT(InVisitorLeftPacket& p) {
    Log("    Process_DOWN_VISITOR_LEFT");
    std::vector<Visitor*> left = FindVisitorsInText(visitors_, p.vids);
    for (Visitor* v : left) {
        v->state = vsLeft;
        v->leftTime = p.time;
        LogLine("Trace", 1, v->ip + " Client::Process_DOWN_VISITOR_LEFT 内存中离线了");
    }
    Notify(CbcVisitorLeft, &left, 0);
}

void Client::Process_DOWN_VISITOR_CALL(InVisitorCallPacket& p) {
    Log("    Process_DOWN_VISITOR_CALL");
    Visitor* v = FindVisitor(visitors_, p.vid);
    if (v == nullptr) return;
    if (p.callType == 1) {
        if (!p.guestName.empty()) v->guestName = p.guestName;
        v->guestId = p.guestId;
        NewCall(*v, p.callId, p.rid, p.callText, p.time);
        ++pendingCalls_;
    } else {
        // A transfer offered for a visitor without a session gets one, so that the offer can be shown
        // and accepted.
        if (v->chat == nullptr) NewChat(*v, {}, {}, {}, {}, p.time);
        MarkTransfer(*v, p.callId, p.rid, p.opid, p.opname, p.time);
    }
    Notify(CbcVisitorCall, v, 0);
}

void Client::Process_DOWN_VISITOR_ENDCALL(InVisitorEndCallPacket& p) {
    Log("    Process_DOWN_VISITOR_ENDCALL");
    Visitor* found = nullptr;
    for (const auto& v : visitors_) {
        if (v->state != vsCalling || v->chat == nullptr) continue;
        if (v->chat->callId == p.callId || (!p.text1.empty() && v->vid == p.text1)) {
            found = v.get();
            break;
        }
    }
    if (found == nullptr) return;
    found->chat->endTime = p.time;
    found->state = vsChatEnded;
    found->preMsg.clear();
    found->newMsgCount = 0;
    --pendingCalls_;
    Notify(CbcVisitorEndCall, found, 0);
}

void Client::StartChat(Visitor& v, std::string_view rid, std::string_view opId, std::string_view opLogin,
                       std::string_view opName, DateTime time) {
    v.state = (user_ != nullptr && opId == user_->opId) ? vsChatMine : vsChatOther;
    // A session that has ended keeps its record; a chat starting after it gets a session of its own.
    if (v.chat != nullptr && v.chat->endTime == 0) {
        v.chat->rid = rid;
        v.chat->callTime = time;
        v.chat->startTime = time;
        v.chat->opId = opId;
        v.chat->opLogin = opLogin;
        v.chat->opName = opName;
    } else {
        NewChat(v, rid, opId, opLogin, opName, time);
    }
}

void Client::Process_DOWN_VISITOR_CHAT(InVisitorChatPacket& p) {
    Log("    Process_DOWN_VISITOR_CHAT    rid=" + p.rid + " opid=" + p.opid + " oplogin=" + p.oplogin +
        " opname=" + p.opname);
    Visitor* v = FindVisitor(visitors_, p.vid);
    if (v == nullptr) return;
    LogIpLine(*v);
    StartChat(*v, p.rid, p.opid, p.oplogin, p.opname, p.time);
    --pendingCalls_;
    Notify(CbcVisitorChat, v, 0);
}

void Client::Process_DOWN_VISITOR_TRANSFER(InVisitorTransferPacket& p) {
    Log("    Process_DOWN_VISITOR_TRANSFER");
    Visitor* v = FindVisitor(visitors_, p.vid);
    if (v == nullptr) return;
    StartChat(*v, p.rid, p.opid, p.oplogin, p.opname, p.time);
    v->chat->content = SplitLines(p.transcript);
    --pendingCalls_;
    Notify(CbcVisitorChat, v, 0);
}

void Client::Process_DOWN_VISITOR_PREMSG(InVisitorPreMsgPacket& p) {
    Log("    Process_DOWN_VISITOR_PREMSG    " + p.preview);
    Visitor* v = FindVisitor(visitors_, p.vid, kChatMine);
    if (v == nullptr) return;
    v->preMsg = p.preview;
    Notify(CbcVisitorPreMsg, v, 0);
}

void Client::Process_DOWN_VISITOR_MSG(InVisitorMsgPacket& p) {
    Log("    Process_DOWN_VISITOR_MSG    msg=" + p.msg);
    Visitor* v = FindVisitor(visitors_, p.vid, kChatMine);
    if (v == nullptr || v->chat == nullptr) return;
    LogIpLine(*v);
    v->preMsg.clear();
    v->chat->lastMsg = p.msg;
    v->chat->content.push_back(VisitorMessageFragment(*v, p.msg, NowDateTime()));
    ++v->newMsgCount;
    Notify(CbcVisitorMsg, v, 0);
}

void Client::Process_DOWN_VISITOR_ENDCHAT(InVisitorEndChatPacket& p) {
    Log("    Process_DOWN_VISITOR_ENDCHAT");
    Visitor* v =
        FindVisitor(visitors_, p.vid, StateBit(vsChatOther) | StateBit(vsChatMine) | StateBit(vsCalling));
    if (v == nullptr) return;
    LogIpLine(*v);
    if (v->chat != nullptr) v->chat->endTime = p.time;
    v->state = vsChatEnded;
    v->preMsg.clear();
    v->newMsgCount = 0;
    Notify(CbcVisitorEndChat, v, 0);
}

void Client::Process_DOWN_VISITOR_CHAT_CONTENT(InVisitorChatContentPacket& p) {
    Log("    Process_DOWN_VISITOR_CHAT_CONTENT");
    Visitor* v = FindVisitorByCallId(visitors_, p.chatKey, StateBit(vsChatOther));
    if (v == nullptr) return;
    v->preMsg.clear();
    v->chat->content = SplitLines(p.transcript);
    Notify(CbcVisitorChatContent, v, 0);
}

void Client::Process_DOWN_VISITOR_GUEST(InVisitorGuestPacket& p) {
    Log("    Process_DOWN_VISITOR_GUEST");
    // An empty id would match every visitor without a guest id.
    if (p.guestId.empty()) return;
    for (const auto& v : visitors_) {
        if (v->guestId == p.guestId) {
            v->guestName = p.guestName;
        } else if (v->vid == p.guestId) {
            v->guestId = p.guestId;
            v->guestName = p.guestName;
        } else {
            continue;
        }
        Notify(CbcVisitorGuest, v.get(), 0);
    }
}

void Client::Process_DOWN_LEAVEMSG_COUNT(InLeaveMsgPacket& p) {
    Log("    Process_DOWN_LEAVEMSG_COUNT");
    leaveMsgCount_ = p.count;
    Notify(CbcLeaveMsgCount, nullptr, 0);
}

void Client::Process_DOWN_FAQ_CHANGED(InFAQXmlPacket& p) {
    Log("    Process_DOWN_FAQ_CHANGED");
    if (user_ == nullptr) return;
    user_->faqUrl = p.faqUrl;
    if (!user_->faqUrl.empty()) FAQFromUrl(user_->faqUrl);
}

void Client::Process_DOWN_FAQ_UPOK(InPacket&) {
    Log("    Process_DOWN_FAQ_UPOK");
    Notify(CbcFAQUpOK, nullptr, 0);
}

void Client::Process_DOWN_FILE_DOWNLOAED(InDownFilePacket& p) {
    Log("    Process_DOWN_FILE_DOWNLOAED");
    if (!p.ok || p.request == nullptr || p.request->requestKind != 503 || user_ == nullptr) return;
    user_->faqLocalPath = p.request->localFile;
    Notify(CbcFileDownloaded, nullptr, 0);
}

}  // namespace morvale
