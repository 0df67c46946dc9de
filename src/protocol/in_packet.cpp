#include "protocol/in_packet.h"

#include <charconv>
#include <limits>
#include <utility>

#include "core/log.h"
#include "core/text_utils.h"
#include "protocol/packet_blocks.h"

namespace morvale {

namespace {

// Decimal text with an optional sign and nothing else, within the range of T.
template <typename T>
std::optional<T> ParseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    }
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "'text'" followed by what is wrong with it, the form conversion errors are reported in.
std::string Quoted(std::string_view text, std::string_view complaint) {
    std::string message;
    message.reserve(text.size() + complaint.size() + 2);
    message.append(1, '\'').append(text).append(1, '\'').append(complaint);
    return message;
}

}  // namespace

PayloadReader::PayloadReader(std::int32_t length, std::int32_t seq, std::string_view payload)
    : length_(length), seq_(seq), payload_(payload) {}

void PayloadReader::SplitFields() {
    count_ = 0;
    if (payload_.empty()) return;
    std::size_t from = 0;
    while (true) {
        std::size_t at = payload_.find('\x06', from);
        std::string_view field = payload_.substr(from, at == std::string_view::npos ? at : at - from);
        if (count_ < kMaxFields) fields_[count_] = field;
        ++count_;
        if (at == std::string_view::npos) break;
        from = at + 1;
    }
}

void PayloadReader::Fail(std::string message) {
    if (!error_) error_ = std::move(message);
}

std::string_view PayloadReader::View(std::size_t n) const {
    if (n == 0 || n > count_ || n > kMaxFields) return {};
    return fields_[n - 1];
}

std::string PayloadReader::Text(std::size_t n) const { return std::string(View(n)); }

std::int32_t PayloadReader::Int(std::size_t n) {
    std::string_view text = View(n);
    if (auto value = ParseDecimal<std::int32_t>(text)) return *value;
    Fail(Quoted(text, " is not a valid integer value"));
    return 0;
}

PacketTime PayloadReader::Time(std::size_t n) {
    std::string_view text = View(n);
    if (auto value = ParseDecimal<std::int64_t>(text)) return UnixToLocal(*value);
    Fail(Quoted(text, " is not a valid integer value"));
    return 0;
}

bool PayloadReader::Flag(std::size_t n) const { return View(n) == "1"; }

std::string PayloadReader::UrlDecoded(std::size_t n) {
    std::string_view text = View(n);
    if (auto decoded = UrlDecode(text)) return std::move(*decoded);
    Fail(Quoted(text, " is not a valid percent-encoded text"));
    return {};
}

void* InPacket::operator new(std::size_t size) { return AllocatePacketBlock(size); }

void InPacket::operator delete(void* block, std::size_t size) noexcept { FreePacketBlock(block, size); }

InPacket::InPacket(std::int32_t kind, const PayloadReader& in)
    : kind(kind), seq(in.seq()), length(in.length()), body(in.payload()) {}

InTimeoutPacket::InTimeoutPacket(std::unique_ptr<OutPacket> request)
    : InPacket(DOWN_OPERATION_TIMEOUT), request(std::move(request)) {}

InDownFilePacket::InDownFilePacket(bool ok, std::unique_ptr<OutPacket> request)
    : InPacket(DOWN_FILE_DOWNLOAED), ok(ok), request(std::move(request)) {}

InUnknownPacket::InUnknownPacket(PayloadReader& in) : InPacket(DOWN_UNKNOWN_PACKET, in) {}

InOpMustReLoginPacket::InOpMustReLoginPacket(PayloadReader& in) : InPacket(OP_MUSTRELOGIN, in) {}

InCheckSitePacket::InCheckSitePacket(PayloadReader& in) : InPacket(DOWN_CHECKSITE, in), ok(body == "1") {}

InRegSitePacket::InRegSitePacket(PayloadReader& in) : InPacket(DOWN_REGSITE, in), ok(body == "1") {}

InLoginServerPacket::InLoginServerPacket(PayloadReader& in) : InPacket(DOWN_LOGINSERVER, in) {
    ok = body.size() >= 8;
    serverUrl = ok ? body : "0";
}

InLoginPacket::InLoginPacket(PayloadReader& in) : InPacket(DOWN_LOGIN, in) {
    in.SplitFields();
    ok = in.Flag(1);
    if (ok) {
        sessionId = in.Text(2);
        aspId = in.Text(3);
        site = in.Text(4);
        opid = in.Text(5);
        oplogin = in.Text(6);
        opname = in.Text(7);
        isAdmin = in.Flag(8);
        faqUrl = in.Text(9);
        leaveMsgCount = in.Int(10);
        pushInterval = in.Int(11);
    } else {
        errorText = in.Text(2);
        errorLink = in.Text(3);
    }
}

InOpLoginPacket::InOpLoginPacket(PayloadReader& in) : InPacket(DOWN_OP_LOGIN, in) {
    in.SplitFields();
    opid = in.Text(1);
    sessionId = in.Text(2);
    loginTime = in.Time(3);
}

InVisitorAllPacket::InVisitorAllPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_ALL, in) {
    in.SplitFields();
    xml = in.Text(1);
}

InVisitorAddPacket::InVisitorAddPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_ADD, in) {
    in.SplitFields();
    vid = in.Text(1);
    ip = in.Text(2);
    time = in.Time(3);
    guestId = in.Text(4);
    guestName = in.Text(5);
    location = in.Text(6);
    pageTitle = in.Text(7);
    pageUrl = in.Text(8);
    referUrl = in.Text(9);
    keyname = in.Text(10);
    keyvalue = in.Text(11);
}

InVisitorChangePagePacket::InVisitorChangePagePacket(PayloadReader& in)
    : InPacket(DOWN_VISITOR_CHANGE_PAGE, in) {
    in.SplitFields();
    vid = in.Text(1);
    time = in.Time(2);
    pageUrl = in.Text(3);
    pageTitle = in.Text(4);
}

InVisitorLeftPacket::InVisitorLeftPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_LEFT, in) {
    in.SplitFields();
    vids = in.Text(1);
    time = in.Time(2);
}

InVisitorCallPacket::InVisitorCallPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_CALL, in) {
    in.SplitFields();
    callType = in.Int(1);
    text2 = in.Text(2);
    vid = in.Text(3);
    callId = in.Text(4);
    if (callType == 1) {
        guestId = in.Text(5);
        rid = in.Text(6);
        time = in.Time(7);
        guestName = in.Text(8);
        callText = in.Text(9);
    } else {
        rid = in.Text(5);
        time = in.Time(6);
        opid = in.Text(7);
        opname = in.Text(8);
    }
}

InVisitorEndCallPacket::InVisitorEndCallPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_ENDCALL, in) {
    in.SplitFields();
    text1 = in.Text(1);
    callId = in.Text(2);
    time = in.Time(3);
}

InVisitorChatPacket::InVisitorChatPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_CHAT, in) {
    in.SplitFields();
    vid = in.Text(1);
    time = in.Time(2);
    rid = in.Text(3);
    opid = in.Text(4);
    oplogin = in.Text(5);
    opname = in.Text(6);
    text7 = in.Text(7);
    text8 = in.Text(8);
    text9 = in.Text(9);
}

InVisitorTransferPacket::InVisitorTransferPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_TRANSFER, in) {
    in.SplitFields();
    vid = in.Text(1);
    rid = in.Text(2);
    opid = in.Text(3);
    oplogin = in.Text(4);
    opname = in.Text(5);
    time = in.Time(6);
    transcript = in.Text(7);
}

InVisitorChatContentPacket::InVisitorChatContentPacket(PayloadReader& in)
    : InPacket(DOWN_VISITOR_CHAT_CONTENT, in) {
    in.SplitFields();
    text1 = in.Text(1);
    text2 = in.Text(2);
    chatKey = in.Text(3);
    transcript = in.UrlDecoded(4);
    time = in.Time(5);
}

InVisitorPreMsgPacket::InVisitorPreMsgPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_PREMSG, in) {
    in.SplitFields();
    vid = in.Text(1);
    time = in.Time(2);
    preview = in.Text(3);
}

InVisitorMsgPacket::InVisitorMsgPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_MSG, in) {
    LogLine("InPacket", 2, "    InVisitorMsgPacket");
    in.SplitFields();
    vid = in.Text(1);
    time = in.Time(2);
    plain = in.Int(3);
    msg = plain != 0 ? XmlEscapeText(in.View(4)) : in.Text(4);
}

InVisitorEndChatPacket::InVisitorEndChatPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_ENDCHAT, in) {
    in.SplitFields();
    vid = in.Text(1);
    time = in.Time(2);
}

InVisitorGuestPacket::InVisitorGuestPacket(PayloadReader& in) : InPacket(DOWN_VISITOR_GUEST, in) {
    in.SplitFields();
    guestId = in.Text(1);
    guestName = in.Text(2);
}

InFAQXmlPacket::InFAQXmlPacket(PayloadReader& in) : InPacket(DOWN_FAQ_CHANGED, in) {
    in.SplitFields();
    faqUrl = in.Text(1);
}

InFAQUpOKPacket::InFAQUpOKPacket(PayloadReader& in) : InPacket(DOWN_FAQ_UPOK, in) {}

InLeaveMsgPacket::InLeaveMsgPacket(PayloadReader& in) : InPacket(DOWN_LEAVEMSG_COUNT, in) {
    in.SplitFields();
    count = in.Int(1);
}

}  // namespace morvale
