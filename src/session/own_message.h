#pragma once

// The operator's own side of a chat: what may be written to, and sending a message or a file with
// its transcript entry (appended before the request goes out, so the transcript shows it at once).

#include <string>
#include <string_view>

#include "session/model.h"

namespace morvale {

class Client;

// A chat is the operator's own when the visitor has a current session, is in vsChatMine and the
// session's operator is the signed-in one.
bool IsMineChat(const Client& client, const Visitor& visitor);

enum class OwnSendResult {
    Sent,
    Empty,    // nothing to send ("" or "0", the editor without a document)
    NotMine,  // "未与您对话，不能发消息"
    Offline,  // re-logging: "您已离线，不能发消息，请上线后再次尝试"
};

struct OwnSend {
    OwnSendResult result = OwnSendResult::Empty;
    std::string fragment;  // the transcript entry appended, when sent
};

// Sends the HTML typed by the operator: line breaks CR LF removed, links opened in a new window,
// the 'inMsg' entry appended to the chat's transcript, then the message request.
OwnSend SendOwnMessage(Client& client, Visitor& visitor, std::string_view html, bool relogging);

// Sends a file into a chat in vsChatMine and appends its "发送文件" entry, naming the file by
// shownPath (GBK) when given, else by path; NotMine otherwise.
OwnSend SendOwnFile(Client& client, Visitor& visitor, std::string_view path, std::string_view shownPath = {});

}  // namespace morvale
