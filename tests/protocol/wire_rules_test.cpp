// Field conventions and framing rules checked against frames written out by hand (lengths counted
// by hand, not computed), so that a shared mistake in a frame builder cannot hide a decoding fault.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/text_utils.h"
#include "protocol/in_packet.h"

namespace morvale {
namespace {

// Readable wire notation: '{' start byte, '|' header separator, '^' field separator, '}' end byte.
std::string Wire(std::string_view notation) {
    std::string bytes;
    for (char c : notation) {
        switch (c) {
            case '{':
                bytes += '\x02';
                break;
            case '|':
                bytes += '\x05';
                break;
            case '^':
                bytes += '\x06';
                break;
            case '}':
                bytes += '\x03';
                break;
            default:
                bytes += c;
        }
    }
    return bytes;
}

// Parses one hand-written frame that must decode to exactly one packet whose payload is complete.
const InPacket* ParseOne(InPacketList& holder, std::string_view notation) {
    holder = ParsePackets(Wire(notation));
    if (holder.size() != 1) {
        ADD_FAILURE() << holder.size() << " packets from " << notation;
        return nullptr;
    }
    // Guards the hand count: the packet must hold exactly the bytes written between header and end.
    std::size_t from = 0;
    for (int separators = 0; separators < 3; ++separators) from = notation.find('|', from) + 1;
    EXPECT_EQ(holder[0]->body, Wire(notation.substr(from, notation.rfind('}') - from)))
        << "miscounted " << notation;
    return holder[0].get();
}

template <typename T>
const T& As(const InPacket& packet) {
    return dynamic_cast<const T&>(packet);
}

TEST(WireRules, FlagIsTheTextOneExactly) {
    struct Case {
        const char* name;
        const char* wire;
        std::function<bool(const InPacket&)> flag;
        bool expected;
    };
    auto checkSite = [](const InPacket& p) { return As<InCheckSitePacket>(p).ok; };
    auto regSite = [](const InPacket& p) { return As<InRegSitePacket>(p).ok; };
    auto loginOk = [](const InPacket& p) { return As<InLoginPacket>(p).ok; };
    auto isAdmin = [](const InPacket& p) { return As<InLoginPacket>(p).isAdmin; };
    const std::vector<Case> cases = {
        {"check site 1", "{101|1|1|1}", checkSite, true},
        {"check site 01", "{101|1|2|01}", checkSite, false},
        {"check site with a trailing blank", "{101|1|2|1 }", checkSite, false},
        {"check site reads the whole payload", "{101|1|3|1^x}", checkSite, false},
        {"register true", "{102|1|4|true}", regSite, false},
        {"register empty", "{102|1||}", regSite, false},
        {"register 1", "{102|1|1|1}", regSite, true},
        {"login first field 01", "{104|1|6|01^e^l}", loginOk, false},
        {"admin 1", "{104|1|22|1^s^a^d^o^l^n^1^/f^0^0}", isAdmin, true},
        {"admin 01", "{104|1|23|1^s^a^d^o^l^n^01^/f^0^0}", isAdmin, false},
        {"admin empty", "{104|1|21|1^s^a^d^o^l^n^^/f^0^0}", isAdmin, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            EXPECT_EQ(c.flag(*packet), c.expected);
        }
    }
}

TEST(WireRules, WholeOrSplitPayloadPerKind) {
    struct Case {
        const char* name;
        const char* wire;
        std::function<std::string(const InPacket&)> member;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"server url keeps its field separators", "{103|1|10|http://a^b}",
         [](const InPacket& p) { return As<InLoginServerPacket>(p).serverUrl; },
         "http://a\x06"
         "b"},
        {"server url of 8 GBK bytes", "{103|1|8|\xD6\xD0\xB9\xFA\xB7\xFE\xCE\xF1}",
         [](const InPacket& p) { return As<InLoginServerPacket>(p).serverUrl; },
         "\xD6\xD0\xB9\xFA\xB7\xFE\xCE\xF1"},
        {"server url of 7 bytes", "{103|1|7|\xD6\xD0\xB9\xFA\xB7\xFEx}",
         [](const InPacket& p) { return As<InLoginServerPacket>(p).serverUrl; }, "0"},
        {"visitor list takes the first field", "{119|1|6|<a/>^b}",
         [](const InPacket& p) { return As<InVisitorAllPacket>(p).xml; }, "<a/>"},
        {"library path takes the first field", "{122|1|8|/f.xml^x}",
         [](const InPacket& p) { return As<InFAQXmlPacket>(p).faqUrl; }, "/f.xml"},
        {"left-message count takes the first field", "{132|1|3|5^x}",
         [](const InPacket& p) { return std::to_string(As<InLeaveMsgPacket>(p).count); }, "5"},
        {"guest name stops at the next separator", "{127|1|5|g^n^x}",
         [](const InPacket& p) { return As<InVisitorGuestPacket>(p).guestName; }, "n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            EXPECT_EQ(c.member(*packet), c.expected);
        }
    }
}

TEST(WireRules, TimesAreChinaTimeDayCounts) {
    struct Case {
        const char* name;
        const char* wire;
        double days;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"epoch", "{115|1|3|v^0}", 25569.0 + 1.0 / 3.0, "1970-01-01 08:00:00"},
        {"midnight China time", "{115|1|7|v^57600}", 25570.0, "1970-01-02"},
        {"negative to the epoch day", "{115|1|8|v^-28800}", 25569.0, "1970-01-01"},
        {"one second before the epoch", "{115|1|4|v^-1}", 25569.0 + 28799.0 / 86400.0, "1970-01-01 07:59:59"},
        {"noon", "{115|1|7|v^14400}", 25569.5, "1970-01-01 12:00:00"},
        {"2023-11-14 22:13:20 UTC", "{115|1|12|v^1700000000}", 45245.0 + 22400.0 / 86400.0,
         "2023-11-15 06:13:20"},
        {"beyond 32 bits", "{115|1|12|v^4102444800}", 73051.0 + 1.0 / 3.0, "2100-01-01 08:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            double time = As<InVisitorEndChatPacket>(*packet).time;
            EXPECT_DOUBLE_EQ(time, c.days);
            EXPECT_EQ(DateTimeToText(time), c.text);
        }
    }

    for (const char* wire : {"{115|1|5|v^1.5}", "{115|1|2|v^}", "{115|1|1|v}",
                             "{115|1|21|v^9223372036854775808}", "{115|1|6|v^0x10}"}) {
        SCOPED_TRACE(wire);
        EXPECT_TRUE(ParsePackets(Wire(wire)).empty());
    }
}

TEST(WireRules, HeaderNumbersTakeTheirLeadingDigits) {
    struct Case {
        const char* name;
        const char* wire;
        std::int32_t kind;
        std::int32_t seq;
        std::int32_t length;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"leading zero and trailing junk", "{0104|7x|3 |0^x}", DOWN_LOGIN, 7, 3, "0\x06x"},
        {"empty sequence number", "{132abc||1|5}", DOWN_LEAVEMSG_COUNT, 0, 1, "5"},
        {"a sign is no digit", "{+132|1|1|5}", DOWN_UNKNOWN_PACKET, 1, 1, "5"},
        {"a blank is no digit", "{ 132|1|1|5}", DOWN_UNKNOWN_PACKET, 1, 1, "5"},
        {"empty length takes nothing", "{127|2||abc}", DOWN_VISITOR_GUEST, 2, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList packets = ParsePackets(Wire(c.wire));
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0]->kind, c.kind);
        EXPECT_EQ(packets[0]->seq, c.seq);
        EXPECT_EQ(packets[0]->length, c.length);
        EXPECT_EQ(packets[0]->body, c.body);
    }
}

TEST(WireRules, EveryUnlistedWireTypeIsUnknown) {
    for (const char* type :
         {"0",   "1",   "2",   "3",   "5",   "7",   "100", "105", "111", "113",  "114",
          "116", "117", "118", "120", "121", "124", "128", "129", "134", "1000", "4294967397"}) {
        SCOPED_TRACE(type);
        InPacketList packets = ParsePackets(Wire(std::string("{") + type + "|3|3|1^x}"));
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0]->kind, DOWN_UNKNOWN_PACKET);
        EXPECT_NE(dynamic_cast<const InUnknownPacket*>(packets[0].get()), nullptr);
        EXPECT_EQ(packets[0]->body, "1\x06x");
    }
}

TEST(WireRules, TranscriptIsPercentDecoded) {
    struct Case {
        const char* name;
        const char* wire;
        std::string transcript;
    };
    const std::vector<Case> cases = {
        {"escapes in either case", "{130|1|14|a^b^k^%2f%2F^0}", "//"},
        {"plus is a blank", "{130|1|11|a^b^k^a+b^0}", "a b"},
        {"non-hex escape is copied", "{130|1|11|a^b^k^%zz^0}", "%zz"},
        {"percent before an escape", "{130|1|12|a^b^k^%%41^0}", "%A"},
        {"GBK bytes", "{130|1|14|a^b^k^%D6%d0^0}", "\xD6\xD0"},
        {"empty", "{130|1|8|a^b^k^^0}", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            EXPECT_EQ(As<InVisitorChatContentPacket>(*packet).transcript, c.transcript);
        }
    }

    for (const char* wire : {"{130|1|9|a^b^k^%^0}", "{130|1|11|a^b^k^x%4^0}", "{130|1|10|a^b^k^%%^0}"}) {
        SCOPED_TRACE(wire);
        EXPECT_TRUE(ParsePackets(Wire(wire)).empty());
    }
}

TEST(WireRules, AnyNonZeroPlainValueEscapesTheMessage) {
    struct Case {
        const char* name;
        const char* wire;
        std::string msg;
    };
    const std::vector<Case> cases = {
        {"1", "{112|1|14|v^0^1^<b>&</b>}", "&lt;b&gt;&amp;&lt;/b&gt;"},
        {"2", "{112|1|7|v^0^2^<}", "&lt;"},
        {"-1", "{112|1|8|v^0^-1^<}", "&lt;"},
        {"0", "{112|1|7|v^0^0^<}", "<"},
        {"00", "{112|1|8|v^0^00^<}", "<"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            EXPECT_EQ(As<InVisitorMsgPacket>(*packet).msg, c.msg);
        }
    }
}

TEST(WireRules, CallTypeChoosesTheFieldForm) {
    struct Case {
        const char* name;
        const char* wire;
        std::string guestId;
        std::string rid;
        std::string opid;
    };
    const std::vector<Case> cases = {
        {"01 is the request form", "{108|1|24|01^t^v^c^g^r^0^name^text}", "g", "r", ""},
        {"0 is the follow-up form", "{108|1|19|0^t^v^c^r^0^op^name}", "", "r", "op"},
        {"-1 is the follow-up form", "{108|1|20|-1^t^v^c^r^0^op^name}", "", "r", "op"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList holder;
        if (const InPacket* packet = ParseOne(holder, c.wire)) {
            const auto& call = As<InVisitorCallPacket>(*packet);
            EXPECT_EQ(call.guestId, c.guestId);
            EXPECT_EQ(call.rid, c.rid);
            EXPECT_EQ(call.opid, c.opid);
        }
    }
}

TEST(WireRules, FramesEndAtTheFirstEndByte) {
    struct Case {
        const char* name;
        const char* wire;
        std::vector<std::int32_t> counts;
    };
    const std::vector<Case> cases = {
        // The first frame has no end byte of its own: it runs to the second frame's, swallowing it.
        {"unterminated frame swallows the next", "{132|1|1|4{132|2|1|5}", {4}},
        {"junk with control bytes between frames", "}|^{132|1|1|4}x}|^{132|2|1|5}", {4, 5}},
        {"end byte inside the header stops the parse", "{132|1|1|4}{132}{132|2|1|5}", {4}},
        {"adjacent frames", "{132|1|1|4}{132|2|1|5}{132|3|1|6}", {4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList packets = ParsePackets(Wire(c.wire));
        std::vector<std::int32_t> counts;
        for (const auto& packet : packets) counts.push_back(As<InLeaveMsgPacket>(*packet).count);
        EXPECT_EQ(counts, c.counts);
    }
}

}  // namespace
}  // namespace morvale
