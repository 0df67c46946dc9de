#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "core/log.h"
#include "protocol/in_packet.h"

namespace morvale {

namespace {

constexpr char kFrameStart = '\x02';
constexpr char kFrameEnd = '\x03';
constexpr char kHeaderSeparator = '\x05';

// The leading decimal digits of a header field (none gives 0); saturates instead of overflowing, so
// an absurd length simply means "the rest of the frame".
std::int32_t LeadingNumber(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min<std::int64_t>(value * 10 + (c - '0'), std::numeric_limits<std::int32_t>::max());
    }
    return static_cast<std::int32_t>(value);
}

// How many frames the text may hold, to size the list once instead of growing it step by step;
// bounded, so that text that is nothing but start bytes reserves little.
std::size_t FrameCountHint(std::string_view text) {
    constexpr std::size_t kMaxHint = 65536;
    std::size_t starts = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (starts < kMaxHint && (p = static_cast<const char*>(std::memchr(
                                     p, kFrameStart, static_cast<std::size_t>(end - p)))) != nullptr) {
        ++starts;
        ++p;
    }
    return starts;
}

template <typename Packet>
std::unique_ptr<InPacket> Make(PayloadReader& in) {
    return std::make_unique<Packet>(in);
}

std::unique_ptr<InPacket> MakeForType(std::int32_t type, PayloadReader& in) {
    switch (type) {
        case OP_MUSTRELOGIN:
            return Make<InOpMustReLoginPacket>(in);
        case DOWN_CHECKSITE:
            return Make<InCheckSitePacket>(in);
        case DOWN_REGSITE:
            return Make<InRegSitePacket>(in);
        case DOWN_LOGINSERVER:
            return Make<InLoginServerPacket>(in);
        case DOWN_LOGIN:
            return Make<InLoginPacket>(in);
        case DOWN_VISITOR_ADD:
            return Make<InVisitorAddPacket>(in);
        case DOWN_VISITOR_CHANGE_PAGE:
            return Make<InVisitorChangePagePacket>(in);
        case DOWN_VISITOR_CALL:
            return Make<InVisitorCallPacket>(in);
        case DOWN_VISITOR_CHAT:
            return Make<InVisitorChatPacket>(in);
        case DOWN_VISITOR_LEFT:
            return Make<InVisitorLeftPacket>(in);
        case DOWN_VISITOR_MSG:
            return Make<InVisitorMsgPacket>(in);
        case DOWN_VISITOR_ENDCHAT:
            return Make<InVisitorEndChatPacket>(in);
        case DOWN_VISITOR_ALL:
            return Make<InVisitorAllPacket>(in);
        case DOWN_FAQ_CHANGED:
            return Make<InFAQXmlPacket>(in);
        case DOWN_FAQ_UPOK:
            return Make<InFAQUpOKPacket>(in);
        case DOWN_OP_LOGIN:
            return Make<InOpLoginPacket>(in);
        case DOWN_VISITOR_PREMSG:
            return Make<InVisitorPreMsgPacket>(in);
        case DOWN_VISITOR_GUEST:
            return Make<InVisitorGuestPacket>(in);
        case DOWN_VISITOR_CHAT_CONTENT:
            return Make<InVisitorChatContentPacket>(in);
        case DOWN_VISITOR_ENDCALL:
            return Make<InVisitorEndCallPacket>(in);
        case DOWN_LEAVEMSG_COUNT:
            return Make<InLeaveMsgPacket>(in);
        case DOWN_VISITOR_TRANSFER:
            return Make<InVisitorTransferPacket>(in);
        // 124 (a finished download) is made by the download worker only, never taken from the wire.
        default:
            return Make<InUnknownPacket>(in);
    }
}

}  // namespace

DecodeResult DecodePacket(std::int32_t type, std::int32_t seq, std::int32_t length,
                          std::string_view payload) {
    PayloadReader in(length, seq, payload);
    DecodeResult result;
    result.packet = MakeForType(type, in);
    if (in.error()) {
        result.packet.reset();
        result.error = *in.error();
    }
    return result;
}

InPacketList ParsePackets(std::string_view text) {
    InPacketList packets;
    try {
        packets.reserve(FrameCountHint(text));
        std::size_t start = text.find(kFrameStart);
        while (start != std::string_view::npos) {
            // A frame runs to the first end byte after its start, or to the end of the text.
            std::size_t close = text.find(kFrameEnd, start + 1);
            std::size_t end = close == std::string_view::npos ? text.size() - 1 : close;
            std::string_view frame = text.substr(start, end - start + 1);

            std::size_t a = frame.find(kHeaderSeparator, 1);
            std::size_t b = a == std::string_view::npos ? a : frame.find(kHeaderSeparator, a + 1);
            std::size_t c = b == std::string_view::npos ? b : frame.find(kHeaderSeparator, b + 1);
            if (c == std::string_view::npos) {
                LogLine("Packet", LogMsgType::Error, "[ParsePackets]Catch (...) Exception");
                break;
            }
            std::int32_t type = LeadingNumber(frame.substr(1, a - 1));
            std::int32_t seq = LeadingNumber(frame.substr(a + 1, b - a - 1));
            std::int32_t length = LeadingNumber(frame.substr(b + 1, c - b - 1));
            // A length beyond the frame takes what the frame holds (the end byte included).
            std::string_view payload = frame.substr(c + 1, static_cast<std::size_t>(length));

            DecodeResult decoded = DecodePacket(type, seq, length, payload);
            if (!decoded.packet) {
                std::string line = "[PacketParser]";
                line += decoded.error;
                line += " ---->>> Content=";
                line += text;
                LogLine("Packet", LogMsgType::Error, line);
                break;
            }
            packets.push_back(std::move(decoded.packet));
            start = text.find(kFrameStart, std::max(end, start + 1));
        }
    } catch (const std::exception&) {
        // Only allocation can fail here; the packets decoded so far stay valid.
        LogLine("Packet", LogMsgType::Error, "[ParsePackets]Catch (...) Exception");
    }
    return packets;
}

}  // namespace morvale
