#include "session/own_message.h"

#include "core/text_utils.h"
#include "session/client.h"
#include "session/transcript.h"

namespace morvale {

bool IsMineChat(const Client& client, const Visitor& visitor) {
    return visitor.chat != nullptr && visitor.state == vsChatMine && client.user() != nullptr &&
           visitor.chat->opId == client.user()->opId;
}

OwnSend SendOwnMessage(Client& client, Visitor& visitor, std::string_view html, bool relogging) {
    OwnSend out;
    if (relogging) {
        out.result = OwnSendResult::Offline;
        return out;
    }
    if (!IsMineChat(client, visitor)) {
        out.result = OwnSendResult::NotMine;
        return out;
    }
    if (html.empty() || html == "0") return out;
    std::string msg = ReplaceAll(html, "\r\n", "");
    msg = ReplaceAll(msg, "<A ", "<A target=_blank ");
    msg = ReplaceAll(msg, "<a ", "<a target=_blank ");
    out.fragment = OwnMessageFragment(client.user()->opName, msg, NowDateTime());
    visitor.chat->content.push_back(out.fragment);
    client.SendMsg(visitor, msg);
    out.result = OwnSendResult::Sent;
    return out;
}

OwnSend SendOwnFile(Client& client, Visitor& visitor, std::string_view path, std::string_view shownPath) {
    OwnSend out;
    if (visitor.state != vsChatMine || visitor.chat == nullptr || client.user() == nullptr) {
        out.result = OwnSendResult::NotMine;
        return out;
    }
    client.SendFile(visitor, path);
    // A local path may hold markup characters; the entry shows it as text.
    out.fragment = OwnMessageFragment(
        client.user()->opName, "发送文件 “" + XmlEscapeText(shownPath.empty() ? path : shownPath) + "”",
        NowDateTime());
    visitor.chat->content.push_back(out.fragment);
    out.result = OwnSendResult::Sent;
    return out;
}

}  // namespace morvale
