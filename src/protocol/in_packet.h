#pragma once

// Decoded server events. A reply body is a run of control-byte framed packets; ParsePackets turns
// it into one InPacket per frame, of the subclass named by the frame's type. Two kinds never come
// from the wire: the workers make them for a failed request and a finished download.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/out_packet.h"

namespace morvale {

// Event kinds (the InPacket::kind values).
inline constexpr std::int32_t DOWN_OPERATION_TIMEOUT = 3;
inline constexpr std::int32_t DOWN_UNKNOWN_PACKET = 4;
inline constexpr std::int32_t OP_MUSTRELOGIN = 6;
inline constexpr std::int32_t DOWN_CHECKSITE = 101;
inline constexpr std::int32_t DOWN_REGSITE = 102;
inline constexpr std::int32_t DOWN_LOGINSERVER = 103;
inline constexpr std::int32_t DOWN_LOGIN = 104;
inline constexpr std::int32_t DOWN_VISITOR_ADD = 106;
inline constexpr std::int32_t DOWN_VISITOR_CHANGE_PAGE = 107;
inline constexpr std::int32_t DOWN_VISITOR_CALL = 108;
inline constexpr std::int32_t DOWN_VISITOR_CHAT = 109;
inline constexpr std::int32_t DOWN_VISITOR_LEFT = 110;
inline constexpr std::int32_t DOWN_VISITOR_MSG = 112;
inline constexpr std::int32_t DOWN_VISITOR_ENDCHAT = 115;
inline constexpr std::int32_t DOWN_VISITOR_ALL = 119;
inline constexpr std::int32_t DOWN_FAQ_CHANGED = 122;
inline constexpr std::int32_t DOWN_FAQ_UPOK = 123;
inline constexpr std::int32_t DOWN_FILE_DOWNLOAED = 124;
inline constexpr std::int32_t DOWN_OP_LOGIN = 125;
inline constexpr std::int32_t DOWN_VISITOR_PREMSG = 126;
inline constexpr std::int32_t DOWN_VISITOR_GUEST = 127;
inline constexpr std::int32_t DOWN_VISITOR_CHAT_CONTENT = 130;
inline constexpr std::int32_t DOWN_VISITOR_ENDCALL = 131;
inline constexpr std::int32_t DOWN_LEAVEMSG_COUNT = 132;
inline constexpr std::int32_t DOWN_VISITOR_TRANSFER = 133;

// Date-time values: days since 1899-12-30, the time of day as the fraction.
using PacketTime = double;

// The fields of one frame's payload, numbered from 1 as the wire lists them. Missing fields read as
// empty text; the first failed number or time conversion is remembered in `error` so that a
// constructor can decode all its members and the parser can then reject the frame as a whole.
// Fields are views into the payload (no kind reads more than kMaxFields of them), so decoding a
// reply allocates only for the members themselves.
class PayloadReader {
  public:
    static constexpr std::size_t kMaxFields = 16;

    PayloadReader(std::int32_t length, std::int32_t seq, std::string_view payload);

    std::int32_t length() const { return length_; }
    std::int32_t seq() const { return seq_; }
    std::string_view payload() const { return payload_; }

    // Splits the payload at every 0x06, keeping empty fields (also after a trailing separator); an
    // empty payload has no fields. Before this call there are no fields.
    void SplitFields();
    std::size_t FieldCount() const { return count_; }

    std::string_view View(std::size_t n) const;  // field n, a view into the payload
    std::string Text(std::size_t n) const;       // field n as it is
    std::int32_t Int(std::size_t n);             // decimal 32-bit signed, else error
    PacketTime Time(std::size_t n);              // decimal Unix seconds, as China local date-time
    bool Flag(std::size_t n) const;              // the field is exactly "1"
    std::string UrlDecoded(std::size_t n);       // percent-decoded, error on a truncated escape

    const std::optional<std::string>& error() const { return error_; }

  private:
    void Fail(std::string message);

    std::int32_t length_;
    std::int32_t seq_;
    std::string_view payload_;
    std::array<std::string_view, kMaxFields> fields_{};
    std::size_t count_ = 0;
    std::optional<std::string> error_;
};

// Base of every event: consumers dispatch on `kind` and cast to the matching subclass.
class InPacket {
  public:
    explicit InPacket(std::int32_t kind) : kind(kind) {}
    InPacket(std::int32_t kind, const PayloadReader& in);
    virtual ~InPacket() = default;

    // Packets live in kept blocks (protocol/packet_blocks.h): a reply's worth of them is freed and
    // made again with every batch.
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;

    std::int32_t kind;
    std::int32_t seq = 0;
    std::int32_t length = 0;
    std::string body;
};

// A request failed (made by the workers); `request` is none when the push subscription failed.
class InTimeoutPacket : public InPacket {
  public:
    explicit InTimeoutPacket(std::unique_ptr<OutPacket> request);
    std::unique_ptr<OutPacket> request;
};

// A download ended (made by the download worker).
class InDownFilePacket : public InPacket {
  public:
    InDownFilePacket(bool ok, std::unique_ptr<OutPacket> request);
    bool ok;
    std::unique_ptr<OutPacket> request;
};

// Wire type 4 and every type not listed: only `body` is kept.
class InUnknownPacket : public InPacket {
  public:
    InUnknownPacket() : InPacket(DOWN_UNKNOWN_PACKET) {}
    explicit InUnknownPacket(PayloadReader& in);
};

// The server has ended this sign-in; the payload is not read.
class InOpMustReLoginPacket : public InPacket {
  public:
    InOpMustReLoginPacket() : InPacket(OP_MUSTRELOGIN) {}
    explicit InOpMustReLoginPacket(PayloadReader& in);
};

// Reply to the site-existence check.
class InCheckSitePacket : public InPacket {
  public:
    InCheckSitePacket() : InPacket(DOWN_CHECKSITE) {}
    explicit InCheckSitePacket(PayloadReader& in);
    bool ok = false;
};

// Reply to the site registration.
class InRegSitePacket : public InPacket {
  public:
    InRegSitePacket() : InPacket(DOWN_REGSITE) {}
    explicit InRegSitePacket(PayloadReader& in);
    bool ok = false;
};

// The base URL of the server serving this site; a payload under 8 bytes means none ("0").
class InLoginServerPacket : public InPacket {
  public:
    InLoginServerPacket() : InPacket(DOWN_LOGINSERVER) {}
    explicit InLoginServerPacket(PayloadReader& in);
    bool ok = false;
    std::string serverUrl;
};

// Reply to the sign-in: the session's identifiers when `ok`, else the error text and link.
class InLoginPacket : public InPacket {
  public:
    InLoginPacket() : InPacket(DOWN_LOGIN) {}
    explicit InLoginPacket(PayloadReader& in);
    bool ok = false;
    std::string sessionId;
    std::string aspId;
    std::string site;
    std::string opid;
    std::string oplogin;
    std::string opname;
    bool isAdmin = false;
    std::string faqUrl;
    std::int32_t leaveMsgCount = 0;
    std::int32_t pushInterval = 0;
    std::string errorText;
    std::string errorLink;
};

// Another sign-in of an operator.
class InOpLoginPacket : public InPacket {
  public:
    InOpLoginPacket() : InPacket(DOWN_OP_LOGIN) {}
    explicit InOpLoginPacket(PayloadReader& in);
    std::string opid;
    std::string sessionId;
    PacketTime loginTime = 0;
};

// The complete visitor list as an XML document.
class InVisitorAllPacket : public InPacket {
  public:
    InVisitorAllPacket() : InPacket(DOWN_VISITOR_ALL) {}
    explicit InVisitorAllPacket(PayloadReader& in);
    std::string xml;
};

// A visitor arrived.
class InVisitorAddPacket : public InPacket {
  public:
    InVisitorAddPacket() : InPacket(DOWN_VISITOR_ADD) {}
    explicit InVisitorAddPacket(PayloadReader& in);
    std::string vid;
    std::string ip;
    PacketTime time = 0;
    std::string guestId;
    std::string guestName;
    std::string location;
    std::string pageTitle;
    std::string pageUrl;
    std::string referUrl;
    std::string keyname;
    std::string keyvalue;
};

// A visitor opened another page.
class InVisitorChangePagePacket : public InPacket {
  public:
    InVisitorChangePagePacket() : InPacket(DOWN_VISITOR_CHANGE_PAGE) {}
    explicit InVisitorChangePagePacket(PayloadReader& in);
    std::string vid;
    PacketTime time = 0;
    std::string pageUrl;
    std::string pageTitle;
};

// Visitors left; every visitor whose id occurs in `vids` is gone.
class InVisitorLeftPacket : public InPacket {
  public:
    InVisitorLeftPacket() : InPacket(DOWN_VISITOR_LEFT) {}
    explicit InVisitorLeftPacket(PayloadReader& in);
    std::string vids;
    PacketTime time = 0;
};

// A chat request (`callType` 1) or its follow-up; members not carried by the form stay empty.
class InVisitorCallPacket : public InPacket {
  public:
    InVisitorCallPacket() : InPacket(DOWN_VISITOR_CALL) {}
    explicit InVisitorCallPacket(PayloadReader& in);
    std::int32_t callType = 0;
    std::string text2;
    std::string vid;
    std::string callId;
    std::string guestId;
    std::string rid;
    PacketTime time = 0;
    std::string guestName;
    std::string callText;
    std::string opid;
    std::string opname;
};

// A chat request ended without a chat.
class InVisitorEndCallPacket : public InPacket {
  public:
    InVisitorEndCallPacket() : InPacket(DOWN_VISITOR_ENDCALL) {}
    explicit InVisitorEndCallPacket(PayloadReader& in);
    std::string text1;
    std::string callId;
    PacketTime time = 0;
};

// A chat started.
class InVisitorChatPacket : public InPacket {
  public:
    InVisitorChatPacket() : InPacket(DOWN_VISITOR_CHAT) {}
    explicit InVisitorChatPacket(PayloadReader& in);
    std::string vid;
    PacketTime time = 0;
    std::string rid;
    std::string opid;
    std::string oplogin;
    std::string opname;
    std::string text7;
    std::string text8;
    std::string text9;
};

// A chat handed to an operator, with the transcript so far (HTML).
class InVisitorTransferPacket : public InPacket {
  public:
    InVisitorTransferPacket() : InPacket(DOWN_VISITOR_TRANSFER) {}
    explicit InVisitorTransferPacket(PayloadReader& in);
    std::string vid;
    std::string rid;
    std::string opid;
    std::string oplogin;
    std::string opname;
    PacketTime time = 0;
    std::string transcript;
};

// The transcript of a chat held by another operator; `transcript` arrives percent-encoded and is
// stored decoded.
class InVisitorChatContentPacket : public InPacket {
  public:
    InVisitorChatContentPacket() : InPacket(DOWN_VISITOR_CHAT_CONTENT) {}
    explicit InVisitorChatContentPacket(PayloadReader& in);
    std::string text1;
    std::string text2;
    std::string chatKey;
    std::string transcript;
    PacketTime time = 0;
};

// What a visitor is typing but has not sent.
class InVisitorPreMsgPacket : public InPacket {
  public:
    InVisitorPreMsgPacket() : InPacket(DOWN_VISITOR_PREMSG) {}
    explicit InVisitorPreMsgPacket(PayloadReader& in);
    std::string vid;
    PacketTime time = 0;
    std::string preview;
};

// A visitor's message; a plain-text message (`plain` non-zero) is HTML-escaped on decoding.
class InVisitorMsgPacket : public InPacket {
  public:
    InVisitorMsgPacket() : InPacket(DOWN_VISITOR_MSG) {}
    explicit InVisitorMsgPacket(PayloadReader& in);
    std::string vid;
    PacketTime time = 0;
    std::int32_t plain = 0;
    std::string msg;
};

// A visitor's chat ended.
class InVisitorEndChatPacket : public InPacket {
  public:
    InVisitorEndChatPacket() : InPacket(DOWN_VISITOR_ENDCHAT) {}
    explicit InVisitorEndChatPacket(PayloadReader& in);
    std::string vid;
    PacketTime time = 0;
};

// A name was noted for a guest (matched by guest id or visitor id).
class InVisitorGuestPacket : public InPacket {
  public:
    InVisitorGuestPacket() : InPacket(DOWN_VISITOR_GUEST) {}
    explicit InVisitorGuestPacket(PayloadReader& in);
    std::string guestId;
    std::string guestName;
};

// The canned-reply library changed; it can be fetched from `faqUrl` below the base URL.
class InFAQXmlPacket : public InPacket {
  public:
    InFAQXmlPacket() : InPacket(DOWN_FAQ_CHANGED) {}
    explicit InFAQXmlPacket(PayloadReader& in);
    std::string faqUrl;
};

// The canned-reply library upload was stored.
class InFAQUpOKPacket : public InPacket {
  public:
    InFAQUpOKPacket() : InPacket(DOWN_FAQ_UPOK) {}
    explicit InFAQUpOKPacket(PayloadReader& in);
};

// Number of messages left by visitors.
class InLeaveMsgPacket : public InPacket {
  public:
    InLeaveMsgPacket() : InPacket(DOWN_LEAVEMSG_COUNT) {}
    explicit InLeaveMsgPacket(PayloadReader& in);
    std::int32_t count = 0;
};

using InPacketList = std::vector<std::unique_ptr<InPacket>>;

// One decoded frame, or the message of the conversion that failed in it.
struct DecodeResult {
    std::unique_ptr<InPacket> packet;
    std::string error;
};

// Builds the packet for a wire type (unlisted types and 124 give InUnknownPacket).
DecodeResult DecodePacket(std::int32_t type, std::int32_t seq, std::int32_t length, std::string_view payload);

// Decodes every frame of a reply body, in order. On a malformed frame or a failed conversion the
// packets before it are returned, the rest is dropped and a "Packet" error line is logged. Never
// reads outside `text`; keeps no state between calls, so workers may call it concurrently.
InPacketList ParsePackets(std::string_view text);

}  // namespace morvale
