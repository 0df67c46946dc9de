#pragma once

// The HTML fragments a chat transcript is made of (ChatSession::content), in the markup the chat
// page's style sheet expects: visitor messages ('outMsg'), the operator's own ('inMsg') and notices
// ('evtMsg').

#include <string>
#include <string_view>
#include <vector>

#include "core/text_utils.h"
#include "session/model.h"

namespace morvale {

// guestName + "[" + area + "]" when a name is noted, else "访客[" + ip + "]"; HTML-escaped, since every
// part comes from the visitor's side.
std::string DisplayName(const Visitor& visitor);

// A visitor's message, inserted as the service sends it, stamped with the time it is applied.
std::string VisitorMessageFragment(const Visitor& visitor, std::string_view msg, DateTime now);

// The operator's own message or file notice (body is HTML).
std::string OwnMessageFragment(std::string_view opName, std::string_view body, DateTime now);

// The notice after a message the service did not confirm; msg is the message as it was sent. Its
// wrapping division element is left out of the quotation.
std::string FailedSendFragment(std::string_view msg);

// A transcript text cut into lines at CR LF, LF or CR (a final line break ends the last line).
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace morvale
