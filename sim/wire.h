#pragma once

// The service side of the reply format: framed packets, 0x06-separated fields, and the few HTTP
// helpers (dates, gzip, HTML escaping) the stand-in service needs around them.

#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace morvale::sim {

// Event kinds the service sends.
enum WireType : int {
    kOpMustRelogin = 6,
    kCheckSite = 101,
    kRegSite = 102,
    kLoginServer = 103,
    kLogin = 104,
    kVisitorAdd = 106,
    kVisitorChangePage = 107,
    kVisitorCall = 108,
    kVisitorChat = 109,
    kVisitorLeft = 110,
    kVisitorMsg = 112,
    kVisitorEndChat = 115,
    kVisitorAll = 119,
    kFaqChanged = 122,
    kFaqUpOk = 123,
    kOpLogin = 125,
    kVisitorPreMsg = 126,
    kVisitorGuest = 127,
    kVisitorChatContent = 130,
    kVisitorEndCall = 131,
    kLeaveMsgCount = 132,
    kVisitorTransfer = 133,
};

// The client rewrites every line break of a reply as CR LF before it applies payload lengths, so the
// service sends CR LF only: lone CR and lone LF become CR LF.
std::string NormalizeLineBreaks(std::string_view text);

// A field value safe inside a payload: the frame and field control bytes (0x02, 0x03, 0x05, 0x06)
// become blanks and line breaks are normalised.
std::string CleanField(std::string_view value);

// Joins cleaned fields with 0x06.
std::string JoinFields(std::initializer_list<std::string_view> fields);
std::string JoinFields(const std::vector<std::string>& fields);

// 0x02 type 0x05 seq 0x05 length 0x05 payload 0x03; the payload is normalised and cleared of 0x03
// first, and the length counts its bytes as sent.
std::string Frame(int type, std::int64_t seq, std::string_view payload);

// RFC 1123 date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::time_t t);

// gzip container around deflate (zlib); empty on failure.
std::string GzipCompress(std::string_view data);

// "<" ">" "&" and both quotes as entities, for text placed in HTML or attributes.
std::string HtmlEscape(std::string_view text);

// China time of a Unix time as "yyyy-mm-dd hh:nn:ss".
std::string ChinaTimeText(std::time_t t);

}  // namespace morvale::sim
