#include "session/transcript.h"

namespace morvale {
namespace {

std::string Fragment(std::string_view cls, std::string_view name, std::string_view body, DateTime now) {
    std::string out = "<div class='";
    out += cls;
    out += "'><div class='titleTag'><span class='nameTag'>";
    out += name;
    out += "</span>说：<span class='createTime'>(";
    out += FormatDateTime("yyyy-mm-dd hh:nn:ss", now);
    out += ")</span></div><div class='msg'>";
    out += body;
    out += "</div></div>";
    return out;
}

}  // namespace

std::string DisplayName(const Visitor& visitor) {
    if (!visitor.guestName.empty()) return XmlEscapeText(visitor.guestName + "[" + visitor.area + "]");
    return XmlEscapeText("访客[" + visitor.ip + "]");
}

std::string VisitorMessageFragment(const Visitor& visitor, std::string_view msg, DateTime now) {
    return Fragment("outMsg", DisplayName(visitor), msg, now);
}

std::string OwnMessageFragment(std::string_view opName, std::string_view body, DateTime now) {
    return Fragment("inMsg", opName, body, now);
}

std::string FailedSendFragment(std::string_view msg) {
    // The editor wraps every message in one division element ("<div>" ... "</div>", any case): the
    // notice quotes what is inside. Cutting five and six bytes off a message without that wrapper
    // would split characters, so such a message is quoted whole.
    std::string_view text = msg;
    if (msg.size() >= 11 && EqualsNoCase(msg.substr(0, 5), "<div>") &&
        EqualsNoCase(msg.substr(msg.size() - 6), "</div>")) {
        text = msg.substr(5, msg.size() - 11);
    }
    return "<div class='evtMsg'><br/>【通知】可能由于网络原因，消息“" + std::string(text) +
           "”发送失败<br/></div>";
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find_first_of("\r\n", i);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(i, end - i));
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
        i = end + 1;
    }
    return lines;
}

}  // namespace morvale
