#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/text_utils.h"
#include "protocol/in_packet.h"

namespace morvale {
namespace {

// "1970-01-01 08:00:00" China time as a day count.
constexpr double kEpochLocal = 25569.0 + 8.0 / 24.0;

std::string Frame(const std::string& type, const std::string& seq, const std::string& payload) {
    return "\x02" + type + "\x05" + seq + "\x05" + std::to_string(payload.size()) + "\x05" + payload + "\x03";
}

std::string Fields(const std::vector<std::string>& fields) {
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) joined += '\x06';
        joined += fields[i];
    }
    return joined;
}

template <typename T>
const T& As(const std::unique_ptr<InPacket>& packet) {
    const T* typed = dynamic_cast<const T*>(packet.get());
    if (typed == nullptr) ADD_FAILURE() << "packet of kind " << packet->kind << " has the wrong class";
    static const T empty{};
    return typed != nullptr ? *typed : empty;
}

// Collects the log sink's lines while a test runs.
class LogCapture {
  public:
    LogCapture() : file_(std::tmpfile()) { SetLogEcho(file_); }
    ~LogCapture() {
        SetLogEcho(nullptr);
        std::fclose(file_);
    }
    std::string Text() const {
        std::fflush(file_);
        std::string text;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        return text;
    }

  private:
    std::FILE* file_;
};

TEST(ParsePackets, FailedLoginFromTheWire) {
    InPacketList packets =
        ParsePackets(std::string("\x02"
                                 "104\x05"
                                 "7\x05"
                                 "3\x05"
                                 "0\x06"
                                 "x\x03"));
    ASSERT_EQ(packets.size(), 1u);
    const auto& login = As<InLoginPacket>(packets[0]);
    EXPECT_EQ(login.kind, DOWN_LOGIN);
    EXPECT_EQ(login.seq, 7);
    EXPECT_EQ(login.length, 3);
    EXPECT_EQ(login.body, "0\x06x");
    EXPECT_FALSE(login.ok);
    EXPECT_EQ(login.errorText, "x");
    EXPECT_EQ(login.errorLink, "");
    EXPECT_EQ(login.sessionId, "");
}

TEST(ParsePackets, SuccessfulLoginFillsEverySessionMember) {
    std::string payload =
        Fields({"1", "sess42", "asp7", "demo", "op9", "op01", "小王", "1", "/faq/demo.xml", "3", "15000"});
    InPacketList packets = ParsePackets(Frame("104", "1", payload));
    ASSERT_EQ(packets.size(), 1u);
    const auto& login = As<InLoginPacket>(packets[0]);
    EXPECT_TRUE(login.ok);
    EXPECT_EQ(login.sessionId, "sess42");
    EXPECT_EQ(login.aspId, "asp7");
    EXPECT_EQ(login.site, "demo");
    EXPECT_EQ(login.opid, "op9");
    EXPECT_EQ(login.oplogin, "op01");
    EXPECT_EQ(login.opname, "小王");
    EXPECT_TRUE(login.isAdmin);
    EXPECT_EQ(login.faqUrl, "/faq/demo.xml");
    EXPECT_EQ(login.leaveMsgCount, 3);
    EXPECT_EQ(login.pushInterval, 15000);
    EXPECT_EQ(login.errorText, "");
}

TEST(ParsePackets, BytesOutsideFramesAreIgnoredAndOrderKept) {
    std::string text = "junk\r\n" + Frame("127", "1", Fields({"g1", "张三"})) + "<html>\x05\x06</html>" +
                       Frame("132", "2", "5") + "trailing";
    InPacketList packets = ParsePackets(text);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(As<InVisitorGuestPacket>(packets[0]).guestName, "张三");
    EXPECT_EQ(As<InLeaveMsgPacket>(packets[1]).count, 5);
    EXPECT_EQ(packets[1]->seq, 2);
}

TEST(ParsePackets, UnlistedAndWorkerOnlyTypesAreUnknown) {
    for (std::string type : {"999", "124", "4", "105", "3", "", "x1"}) {
        SCOPED_TRACE(type);
        InPacketList packets = ParsePackets(Frame(type, "8", "a\x06z"));
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0]->kind, DOWN_UNKNOWN_PACKET);
        EXPECT_NE(dynamic_cast<InUnknownPacket*>(packets[0].get()), nullptr);
        EXPECT_EQ(packets[0]->body, "a\x06z");
        EXPECT_EQ(packets[0]->seq, 8);
    }
}

TEST(ParsePackets, WholePayloadKinds) {
    struct Case {
        const char* name;
        std::string frame;
        std::int32_t kind;
        bool ok;
        std::string serverUrl;
    };
    const std::vector<Case> cases = {
        {"check site yes", Frame("101", "1", "1"), DOWN_CHECKSITE, true, ""},
        {"check site other text", Frame("101", "1", "1 "), DOWN_CHECKSITE, false, ""},
        {"register no", Frame("102", "1", "0"), DOWN_REGSITE, false, ""},
        {"register yes", Frame("102", "1", "1"), DOWN_REGSITE, true, ""},
        {"server url of 7 bytes", Frame("103", "1", "http://"), DOWN_LOGINSERVER, false, "0"},
        {"server url of 8 bytes", Frame("103", "1", "http://a"), DOWN_LOGINSERVER, true, "http://a"},
        {"server url with separators", Frame("103", "1", "http://s\x06x"), DOWN_LOGINSERVER, true,
         "http://s\x06x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPacketList packets = ParsePackets(c.frame);
        ASSERT_EQ(packets.size(), 1u);
        ASSERT_EQ(packets[0]->kind, c.kind);
        if (c.kind == DOWN_CHECKSITE) {
            EXPECT_EQ(As<InCheckSitePacket>(packets[0]).ok, c.ok);
        }
        if (c.kind == DOWN_REGSITE) {
            EXPECT_EQ(As<InRegSitePacket>(packets[0]).ok, c.ok);
        }
        if (c.kind == DOWN_LOGINSERVER) {
            EXPECT_EQ(As<InLoginServerPacket>(packets[0]).ok, c.ok);
            EXPECT_EQ(As<InLoginServerPacket>(packets[0]).serverUrl, c.serverUrl);
        }
    }
}

TEST(ParsePackets, VisitorEvents) {
    std::string text =
        Frame("106", "1",
              Fields({"v1", "10.0.0.1", "0", "g1", "老客户", "北京", "首页", "http://s/", "http://r/", "百度",
                      "空调"})) +
        Frame("107", "2", Fields({"v1", "86400", "http://s/b", "产品"})) +
        Frame("110", "3", Fields({"v1,v2", "60"})) + Frame("126", "4", Fields({"v1", "0", "你好"})) +
        Frame("115", "5", Fields({"v1", "0"})) + Frame("125", "6", Fields({"op9", "sess2", "0"})) +
        Frame("119", "7", "<vs><v a=\"1\"/></vs>") + Frame("122", "8", "/faq/x.xml") + Frame("123", "9", "") +
        Frame("6", "10", "ignored");
    InPacketList packets = ParsePackets(text);
    ASSERT_EQ(packets.size(), 10u);

    const auto& add = As<InVisitorAddPacket>(packets[0]);
    EXPECT_EQ(add.vid, "v1");
    EXPECT_EQ(add.ip, "10.0.0.1");
    EXPECT_DOUBLE_EQ(add.time, kEpochLocal);
    EXPECT_EQ(add.guestId, "g1");
    EXPECT_EQ(add.guestName, "老客户");
    EXPECT_EQ(add.location, "北京");
    EXPECT_EQ(add.pageTitle, "首页");
    EXPECT_EQ(add.pageUrl, "http://s/");
    EXPECT_EQ(add.referUrl, "http://r/");
    EXPECT_EQ(add.keyname, "百度");
    EXPECT_EQ(add.keyvalue, "空调");

    const auto& page = As<InVisitorChangePagePacket>(packets[1]);
    EXPECT_EQ(page.vid, "v1");
    EXPECT_DOUBLE_EQ(page.time, kEpochLocal + 1);
    EXPECT_EQ(page.pageUrl, "http://s/b");
    EXPECT_EQ(page.pageTitle, "产品");

    const auto& left = As<InVisitorLeftPacket>(packets[2]);
    EXPECT_EQ(left.vids, "v1,v2");
    EXPECT_DOUBLE_EQ(left.time, kEpochLocal + 60.0 / 86400);

    EXPECT_EQ(As<InVisitorPreMsgPacket>(packets[3]).preview, "你好");
    EXPECT_EQ(As<InVisitorEndChatPacket>(packets[4]).vid, "v1");

    const auto& opLogin = As<InOpLoginPacket>(packets[5]);
    EXPECT_EQ(opLogin.opid, "op9");
    EXPECT_EQ(opLogin.sessionId, "sess2");
    EXPECT_DOUBLE_EQ(opLogin.loginTime, kEpochLocal);

    EXPECT_EQ(As<InVisitorAllPacket>(packets[6]).xml, "<vs><v a=\"1\"/></vs>");
    EXPECT_EQ(As<InFAQXmlPacket>(packets[7]).faqUrl, "/faq/x.xml");
    EXPECT_EQ(packets[8]->kind, DOWN_FAQ_UPOK);
    EXPECT_EQ(packets[9]->kind, OP_MUSTRELOGIN);
    EXPECT_EQ(packets[9]->seq, 10);
}

TEST(ParsePackets, ChatEvents) {
    std::string text =
        Frame("108", "1", Fields({"1", "t2", "v1", "c1", "g1", "r1", "0", "王先生", "请问价格"})) +
        Frame("108", "2", Fields({"2", "t2", "v1", "c1", "r1", "0", "op9", "小李"})) +
        Frame("131", "3", Fields({"v1", "c1", "0"})) +
        Frame("109", "4", Fields({"v1", "0", "r1", "op9", "op01", "小李", "a", "b", "c"})) +
        Frame("133", "5", Fields({"v1", "r1", "op9", "op01", "小李", "0", "<p>记录</p>"})) +
        Frame("130", "6", Fields({"t1", "t2", "k1", "%3Cb%3E%D6%D0+x", "0"}));
    InPacketList packets = ParsePackets(text);
    ASSERT_EQ(packets.size(), 6u);

    const auto& request = As<InVisitorCallPacket>(packets[0]);
    EXPECT_EQ(request.callType, 1);
    EXPECT_EQ(request.text2, "t2");
    EXPECT_EQ(request.vid, "v1");
    EXPECT_EQ(request.callId, "c1");
    EXPECT_EQ(request.guestId, "g1");
    EXPECT_EQ(request.rid, "r1");
    EXPECT_DOUBLE_EQ(request.time, kEpochLocal);
    EXPECT_EQ(request.guestName, "王先生");
    EXPECT_EQ(request.callText, "请问价格");
    EXPECT_EQ(request.opid, "");

    const auto& followUp = As<InVisitorCallPacket>(packets[1]);
    EXPECT_EQ(followUp.callType, 2);
    EXPECT_EQ(followUp.callId, "c1");
    EXPECT_EQ(followUp.rid, "r1");
    EXPECT_EQ(followUp.opid, "op9");
    EXPECT_EQ(followUp.opname, "小李");
    EXPECT_EQ(followUp.guestId, "");
    EXPECT_EQ(followUp.callText, "");

    const auto& endCall = As<InVisitorEndCallPacket>(packets[2]);
    EXPECT_EQ(endCall.text1, "v1");
    EXPECT_EQ(endCall.callId, "c1");

    const auto& chat = As<InVisitorChatPacket>(packets[3]);
    EXPECT_EQ(chat.rid, "r1");
    EXPECT_EQ(chat.opid, "op9");
    EXPECT_EQ(chat.oplogin, "op01");
    EXPECT_EQ(chat.opname, "小李");
    EXPECT_EQ(chat.text7 + chat.text8 + chat.text9, "abc");

    const auto& transfer = As<InVisitorTransferPacket>(packets[4]);
    EXPECT_EQ(transfer.rid, "r1");
    EXPECT_EQ(transfer.oplogin, "op01");
    EXPECT_EQ(transfer.transcript, "<p>记录</p>");

    const auto& content = As<InVisitorChatContentPacket>(packets[5]);
    EXPECT_EQ(content.chatKey, "k1");
    EXPECT_EQ(content.transcript, "<b>中 x");
}

TEST(ParsePackets, PlainMessagesAreEscapedHtmlMessagesAreNot) {
    LogCapture log;
    InPacketList packets = ParsePackets(Frame("112", "1", Fields({"v1", "0", "1", "a<b>&c"})) +
                                        Frame("112", "2", Fields({"v1", "0", "0", "a<b>&c"})));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(As<InVisitorMsgPacket>(packets[0]).msg, "a&lt;b&gt;&amp;c");
    EXPECT_EQ(As<InVisitorMsgPacket>(packets[0]).plain, 1);
    EXPECT_EQ(As<InVisitorMsgPacket>(packets[1]).msg, "a<b>&c");
    EXPECT_NE(log.Text().find("[InPacket] L2     InVisitorMsgPacket"), std::string::npos) << log.Text();
}

TEST(ParsePackets, ConversionErrorKeepsEarlierPacketsAndLogsTheReply) {
    std::string text =
        Frame("132", "1", "4") + Frame("115", "2", Fields({"v1", "abc"})) + Frame("132", "3", "9");
    LogCapture log;
    InPacketList packets = ParsePackets(text);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(As<InLeaveMsgPacket>(packets[0]).count, 4);
    std::string expected =
        "[Packet] Error [PacketParser]'abc' is not a valid integer value ---->>> Content=" + text;
    EXPECT_NE(log.Text().find(expected), std::string::npos) << log.Text();
}

TEST(ParsePackets, BadNumbersAndMissingFieldsStopTheParse) {
    struct Case {
        const char* name;
        std::string frame;
    };
    const std::vector<Case> cases = {
        {"count with junk", Frame("132", "1", "12a")},
        {"count out of range", Frame("132", "1", "2147483648")},
        {"empty count", Frame("132", "1", "")},
        {"call type missing", Frame("108", "1", "")},
        {"time missing", Frame("126", "1", "v1")},
        {"login ok but short", Frame("104", "1", "1\x06s")},
        {"sign only", Frame("132", "1", "-")},
        {"double sign", Frame("132", "1", "+-3")},
        {"truncated escape", Frame("130", "1", Fields({"a", "b", "k", "%4", "0"}))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_TRUE(ParsePackets(c.frame + Frame("132", "2", "1")).empty());
        EXPECT_NE(log.Text().find("[PacketParser]"), std::string::npos);
    }
}

TEST(ParsePackets, NumbersWithinRangeAndSigns) {
    InPacketList packets = ParsePackets(Frame("132", "1", "-2147483648") + Frame("132", "1", "+7") +
                                        Frame("125", "1", Fields({"op", "s", "4102444800"})));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(As<InLeaveMsgPacket>(packets[0]).count, -2147483647 - 1);
    EXPECT_EQ(As<InLeaveMsgPacket>(packets[1]).count, 7);
    // 2100-01-01 00:00:00 UTC is beyond 32 bits of seconds.
    EXPECT_DOUBLE_EQ(As<InOpLoginPacket>(packets[2]).loginTime, UnixToLocal(4102444800LL));
}

TEST(ParsePackets, MissingTextFieldsDecodeAsEmpty) {
    InPacketList packets =
        ParsePackets(Frame("104", "1", "0") + Frame("127", "1", "") + Frame("119", "1", ""));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_FALSE(As<InLoginPacket>(packets[0]).ok);
    EXPECT_EQ(As<InLoginPacket>(packets[0]).errorText, "");
    EXPECT_EQ(As<InVisitorGuestPacket>(packets[1]).guestId, "");
    EXPECT_EQ(As<InVisitorAllPacket>(packets[2]).xml, "");
}

TEST(ParsePackets, MalformedHeaderEndsTheParse) {
    LogCapture log;
    std::string text = Frame("132", "1", "1") +
                       "\x02"
                       "132\x05"
                       "2\x03" +
                       Frame("132", "3", "3");
    InPacketList packets = ParsePackets(text);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_NE(log.Text().find("[Packet] Error [ParsePackets]Catch (...) Exception"), std::string::npos);
}

TEST(ParsePackets, PayloadLengthGovernsTheBytesTaken) {
    // Start and separator bytes inside a payload belong to it; the search for the next frame resumes
    // at the end byte.
    InPacketList inner =
        ParsePackets(std::string("\x02"
                                 "122\x05"
                                 "1\x05"
                                 "5\x05"
                                 "a\x02"
                                 "b\x05"
                                 "c\x03"));
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0]->body,
              "a\x02"
              "b\x05"
              "c");
    EXPECT_EQ(As<InFAQXmlPacket>(inner[0]).faqUrl,
              "a\x02"
              "b\x05"
              "c");

    // A short length leaves the rest of the frame unread.
    InPacketList shorter =
        ParsePackets(std::string("\x02"
                                 "122\x05"
                                 "1\x05"
                                 "2\x05"
                                 "abcdef\x03"));
    ASSERT_EQ(shorter.size(), 1u);
    EXPECT_EQ(shorter[0]->body, "ab");
    EXPECT_EQ(shorter[0]->length, 2);

    // A length beyond the frame takes the frame up to and including its end byte, never more.
    InPacketList longer =
        ParsePackets(std::string("\x02"
                                 "122\x05"
                                 "1\x05"
                                 "99999999999\x05"
                                 "ab\x03"
                                 "cd"));
    ASSERT_EQ(longer.size(), 1u);
    EXPECT_EQ(longer[0]->body, "ab\x03");

    // An unterminated last frame runs to the end of the text.
    InPacketList open =
        ParsePackets(std::string("\x02"
                                 "122\x05"
                                 "1\x05"
                                 "10\x05"
                                 "abc"));
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0]->body, "abc");
}

TEST(ParsePackets, RepliesWithoutFramesGiveNothingAndLogNothing) {
    LogCapture log;
    EXPECT_TRUE(ParsePackets("").empty());
    EXPECT_TRUE(ParsePackets("<html><body>502 Bad Gateway</body></html>\r\n").empty());
    EXPECT_TRUE(ParsePackets(std::string("\x05\x03\x06")).empty());
    EXPECT_EQ(log.Text(), "");
}

TEST(PayloadReader, SplitKeepsEmptyFields) {
    PayloadReader in(5, 1,
                     "a\x06\x06"
                     "b\x06");
    in.SplitFields();
    ASSERT_EQ(in.FieldCount(), 4u);
    EXPECT_EQ(in.Text(1), "a");
    EXPECT_EQ(in.Text(2), "");
    EXPECT_EQ(in.Text(3), "b");
    EXPECT_EQ(in.Text(4), "");
    EXPECT_EQ(in.Text(5), "");

    PayloadReader empty(0, 1, "");
    empty.SplitFields();
    EXPECT_EQ(empty.FieldCount(), 0u);

    // The reader's views cut exactly where the general splitter does.
    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (std::size_t k = rng() % 12; k > 0; --k) text += "ab\x06"[rng() % 3];
        PayloadReader reader(0, 0, text);
        reader.SplitFields();
        std::vector<std::string> expected = Split(text, "\x06");
        ASSERT_EQ(reader.FieldCount(), expected.size()) << text;
        for (std::size_t n = 1; n <= expected.size(); ++n) EXPECT_EQ(reader.Text(n), expected[n - 1]);
    }
}

// Every prefix and many random mutations of a realistic reply: the parser must stay inside the
// buffer (the address sanitizer build checks this, the buffer is allocated to the exact size).
TEST(ParsePackets, TruncatedAndMutatedRepliesStayInBounds) {
    std::string reply = Frame("104", "1", Fields({"1", "s", "a", "d", "o", "l", "n", "0", "/f", "1", "2"})) +
                        Frame("108", "2", Fields({"1", "t", "v", "c", "g", "r", "0", "n", "x"})) +
                        Frame("130", "3", Fields({"a", "b", "k", "%41", "0"})) +
                        Frame("112", "4", Fields({"v", "0", "1", "<"})) + Frame("103", "5", "http://x");
    auto parse_exact = [](const std::string& bytes) {
        std::unique_ptr<char[]> exact(new char[bytes.size() == 0 ? 1 : bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        return ParsePackets(std::string_view(exact.get(), bytes.size())).size();
    };
    SetLogEcho(nullptr);
    for (std::size_t n = 0; n <= reply.size(); ++n) EXPECT_LE(parse_exact(reply.substr(0, n)), 5u);

    std::mt19937 rng(12345);
    const char specials[] = {'\x02', '\x03', '\x05', '\x06', '9', '%', '\xff'};
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = reply;
        for (int k = 0; k < 4; ++k) {
            std::size_t at = rng() % mutated.size();
            mutated[at] = (rng() % 2) ? specials[rng() % sizeof specials] : static_cast<char>(rng());
        }
        std::string cut = mutated.substr(0, rng() % (mutated.size() + 1));
        EXPECT_LE(parse_exact(cut), cut.size());
    }
}

TEST(WorkerPackets, OwnTheirRequests) {
    auto request = std::make_unique<OutPacket>();
    request->requestKind = 507;
    InTimeoutPacket timeout(std::move(request));
    EXPECT_EQ(timeout.kind, DOWN_OPERATION_TIMEOUT);
    ASSERT_NE(timeout.request, nullptr);
    EXPECT_EQ(timeout.request->requestKind, 507);
    EXPECT_EQ(timeout.seq, 0);
    EXPECT_EQ(timeout.body, "");

    InTimeoutPacket push(nullptr);
    EXPECT_EQ(push.request, nullptr);

    std::unique_ptr<InPacket> done = std::make_unique<InDownFilePacket>(true, std::make_unique<OutPacket>());
    EXPECT_EQ(done->kind, DOWN_FILE_DOWNLOAED);
    EXPECT_TRUE(static_cast<InDownFilePacket&>(*done).ok);
}

}  // namespace
}  // namespace morvale
