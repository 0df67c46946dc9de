#include "protocol/out_packet.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvale {
namespace {

struct RequestCase {
    const char* name;
    std::function<std::unique_ptr<OutPacket>()> make;
    std::string url;
    std::int32_t channel;
    std::int32_t tries;
    std::int32_t requestKind;
    std::vector<std::string> params;
    std::vector<std::string> postFields;
    std::string localFile;
};

template <typename T, typename... Args>
std::function<std::unique_ptr<OutPacket>()> Make(Args... args) {
    return [=] { return std::make_unique<T>(args...); };
}

TEST(OutPacket, RequestCatalogue) {
    const std::vector<RequestCase> cases = {
        {"check site",
         Make<OutCheckSitePacket>("demo"),
         "/c/aregister.php?action=check&",
         CH_POST,
         3,
         0,
         {"site=demo"},
         {},
         ""},
        {"register site",
         Make<OutRegSitePacket>("demo", "op01", "p&w", "a@b.cn"),
         "/c/aregister.php?action=reg&",
         CH_POST,
         3,
         500,
         {"site=demo", "user=op01", "pass=p%26w", "email=a@b.cn"},
         {},
         ""},
        {"login server",
         Make<OutLoginServerPacket>("demo"),
         "/c/alogin.php?action=loginserver&site=demo",
         CH_GET,
         10,
         501,
         {"site=demo"},
         {},
         ""},
        {"login",
         Make<OutLoginPacket>("demo", "op01", "p w中", "MorVale", "1.0.0.1", false, false),
         "/c/alogin.php?action=login&site=demo&user=op01&pass=p%20w%D6%D0&app=MorVale&ver=1.0.0.1&hide=0",
         CH_GET,
         10,
         502,
         {"site=demo", "user=op01", "pass=p%20w%D6%D0", "app=MorVale", "ver=1.0.0.1", "hide=0"},
         {},
         ""},
        {"hidden login with trace",
         Make<OutLoginPacket>("demo", "op01", "", "A", "V", true, true),
         "/c/alogin.php?action=login&site=demo&user=op01&pass=&app=A&ver=V&hide=1&trace=1",
         CH_GET,
         10,
         502,
         {"site=demo", "user=op01", "pass=", "app=A", "ver=V", "hide=1", "trace=1"},
         {},
         ""},
        {"library download",
         Make<OutFAQFromUrlPacket>("/faq/demo.xml", "/tmp/m/faq.xml"),
         "/faq/demo.xml",
         CH_DOWNLOAD,
         3,
         503,
         {},
         {},
         "/tmp/m/faq.xml"},
        {"library upload",
         Make<OutFAQUpPacket>("/tmp/m/faq.xml"),
         "/c/acannedxml.php?action=save_canned&",
         CH_UPLOAD,
         3,
         504,
         {},
         {"faqfile=/tmp/m/faq.xml"},
         ""},
        {"library refresh", Make<OutFAQRefreshPacket>(), "/c/afaqrefresh.php", CH_GET, 3, 505, {}, {}, ""},
        {"message",
         Make<OutSendMsgPacket>("v1", "r1", "<b>你好</b>"),
         "/c/asendmsg.php?vid=v1&rid=r1&msg=%3Cb%3E%C4%E3%BA%C3%3C/b%3E",
         CH_GET,
         10,
         507,
         {"vid=v1", "rid=r1", "msg=%3Cb%3E%C4%E3%BA%C3%3C/b%3E"},
         {},
         ""},
        {"status",
         Make<OutStatusPacket>("busy"),
         "/c/asetstatus.php?action=busy",
         CH_GET,
         3,
         508,
         {"action=busy"},
         {},
         ""},
        {"guest name",
         Make<OutSetGuestPacket>("g1", "王 五"),
         "/c/asetguest.php?guestid=g1&name=%CD%F5%20%CE%E5",
         CH_GET,
         3,
         509,
         {"guestid=g1", "name=%CD%F5%20%CE%E5"},
         {},
         ""},
        {"invite",
         Make<OutInvitePacket>("v1", "10.0.0.1"),
         "/c/ainvite.php?vid=v1",
         CH_GET,
         3,
         511,
         {"vid=v1"},
         {},
         ""},
        {"initial chat",
         Make<OutInitialChatPacket>("v1", "10.0.0.1"),
         "/c/ainitialchat.php?vid=v1",
         CH_GET,
         3,
         511,
         {"vid=v1"},
         {},
         ""},
        {"typing",
         Make<OutSendTypingPacket>("s1", "sess", true),
         "/cadmin/istyping.php?sid=s1&sessionid=sess&istyping=1",
         CH_GET,
         1,
         512,
         {"sid=s1", "sessionid=sess", "istyping=1"},
         {},
         ""},
        {"not typing",
         Make<OutSendTypingPacket>("s1", "sess", false),
         "/cadmin/istyping.php?sid=s1&sessionid=sess&istyping=0",
         CH_GET,
         1,
         512,
         {"sid=s1", "sessionid=sess", "istyping=0"},
         {},
         ""},
        {"send file",
         Make<OutSendFilePacket>("v1", "r1", "/home/op/报价.pdf"),
         "/c/asendfile.php?",
         CH_UPLOAD,
         3,
         513,
         {"vid=v1", "rid=r1"},
         {"file=/home/op/报价.pdf"},
         ""},
        {"visitor list", Make<OutVisitorListPacket>(), "/c/avisitorlist.php", CH_GET, 3, 514, {}, {}, ""},
        {"keep-alive", Make<OutKeepalivePacket>(), "/c/a.php?", CH_GET, 3, 515, {}, {}, ""},
        {"url", Make<OutUrlPacket>("/c/stat.php?x=1"), "/c/stat.php?x=1", CH_GET, 3, 516, {}, {}, ""},
        {"close chat",
         Make<OutCloseChatPacket>("v1", "r1"),
         "/c/aclose.php?vid=v1&rid=r1",
         CH_GET,
         3,
         0,
         {"vid=v1", "rid=r1"},
         {},
         ""},
        {"accept chat",
         Make<OutRequestPacket>("accept", "asp7", "r1", "op01", "op9", "demo"),
         "/c/aaccept.php?action=accept&aspid=asp7&rid=r1&user=op01&opid=op9&site=demo",
         CH_GET,
         3,
         0,
         {"action=accept", "aspid=asp7", "rid=r1", "user=op01", "opid=op9", "site=demo"},
         {},
         ""},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<OutPacket> packet = c.make();
        EXPECT_EQ(packet->GetUrl(), c.url);
        EXPECT_EQ(packet->channel, c.channel);
        EXPECT_EQ(packet->tries, c.tries);
        EXPECT_EQ(packet->requestKind, c.requestKind);
        EXPECT_EQ(packet->GetParams(), c.params);
        EXPECT_EQ(packet->GetPostFields(), c.postFields);
        EXPECT_EQ(packet->localFile, c.localFile);
    }
}

TEST(OutPacket, ParameterEncoding) {
    OutPacket packet;
    packet.path = "/p?";
    packet.AddParam("a", "-_./:?~");
    packet.AddParam("b", "x=1&y");
    packet.AddParam("c", "");
    packet.AddParam("d", "*#%<>[]+\"");
    packet.AddRawParam("e", "a b&c");
    packet.AddPostField("f", "a b");
    EXPECT_EQ(packet.GetUrl(), "/p?a=-_./:?~&b=x%3D1%26y&c=&d=%2A%23%25%3C%3E%5B%5D%2B%22&e=a b&c");
    EXPECT_EQ(packet.GetPostFields(), std::vector<std::string>{"f=a b"});

    packet.channel = CH_POST;
    EXPECT_EQ(packet.GetUrl(), "/p?");
    EXPECT_EQ(packet.GetFormBody(), "a=-_./:?~&b=x%3D1%26y&c=&d=%2A%23%25%3C%3E%5B%5D%2B%22&e=a b&c");
}

TEST(OutPacket, FormBodyIsTrimmedOfBlanksAndControlBytes) {
    OutPacket packet;
    packet.AddRawParam(" \t a", "b\r\n\x01 ");
    EXPECT_EQ(packet.GetFormBody(), "a=b");
    EXPECT_EQ(OutPacket().GetFormBody(), "");
}

// Path "/c/asendmsg.php?" (16) + "vid=v\r\n" (7) + "rid=r\r\n" (7) + "msg=" and CR LF (6) = 36 bytes
// besides the encoded message.
TEST(OutSendMsgPacket, SwitchesToPostBeyond2000Bytes) {
    struct Case {
        const char* name;
        std::string msg;
        std::int32_t channel;
    };
    const std::vector<Case> cases = {
        {"exactly 2000 bytes", std::string(1964, 'a'), CH_GET},
        {"2001 bytes", std::string(1965, 'a'), CH_POST},
        {"encoding counts, not the typed length", std::string(655, ' '), CH_POST},
        {"654 blanks and 2 letters make 2000", std::string(654, ' ') + "aa", CH_GET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutSendMsgPacket packet("v", "r", c.msg);
        EXPECT_EQ(packet.channel, c.channel);
        if (c.channel == CH_POST) {
            EXPECT_EQ(packet.GetUrl(), "/c/asendmsg.php?");
            EXPECT_EQ(packet.GetFormBody().substr(0, 16), "vid=v&rid=r&msg=");
        } else {
            EXPECT_EQ(packet.GetUrl().substr(0, 32), "/c/asendmsg.php?vid=v&rid=r&msg=");
        }
    }
}

// What the POST worker sends: the path alone as the URL, the encoded parameters as the form body.
TEST(OutPacket, PostRequestsCarryTheirParametersInTheFormBody) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<OutPacket>()> make;
        std::string url;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"check site", Make<OutCheckSitePacket>("de mo"), "/c/aregister.php?action=check&", "site=de%20mo"},
        {"register site", Make<OutRegSitePacket>("demo", "op01", "p&w=", "a@b.cn"),
         "/c/aregister.php?action=reg&", "site=demo&user=op01&pass=p%26w%3D&email=a@b.cn"},
        {"long message", Make<OutSendMsgPacket>("v 1", "r1", std::string(1963, 'a')), "/c/asendmsg.php?",
         "vid=v%201&rid=r1&msg=" + std::string(1963, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<OutPacket> packet = c.make();
        EXPECT_EQ(packet->channel, CH_POST);
        EXPECT_EQ(packet->GetUrl(), c.url);
        EXPECT_EQ(packet->GetFormBody(), c.body);
    }
}

// Every part of the request counts towards the 2000 bytes, each parameter with its CR LF, and each
// GBK character as its six encoded bytes.
TEST(OutSendMsgPacket, EveryEncodedByteCountsTowardsTheSwitch) {
    std::string zhong327;
    std::string zhong327Encoded;
    for (int i = 0; i < 327; ++i) {
        zhong327 += "\xD6\xD0";
        zhong327Encoded += "%D6%D0";
    }
    struct Case {
        const char* name;
        std::string vid;
        std::string rid;
        std::string msg;
        std::string encodedMsg;
        std::int32_t channel;
    };
    // 16 (path) + 6 + vid + 6 + rid + 6 + encoded message
    const std::vector<Case> cases = {
        {"GBK message of 2000", "v", "r", zhong327 + "aa", zhong327Encoded + "aa", CH_GET},
        {"GBK message of 2001", "v", "r", zhong327 + "aaa", zhong327Encoded + "aaa", CH_POST},
        {"long ids, 2000", std::string(980, 'v'), std::string(980, 'r'), "abcdef", "abcdef", CH_GET},
        {"long ids, 2001", std::string(980, 'v'), std::string(980, 'r'), "abcdefg", "abcdefg", CH_POST},
        {"empty message, long vid", std::string(1967, 'v'), "", "", "", CH_POST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutSendMsgPacket packet(c.vid, c.rid, c.msg);
        const std::string query = "vid=" + c.vid + "&rid=" + c.rid + "&msg=" + c.encodedMsg;
        EXPECT_EQ(packet.channel, c.channel);
        EXPECT_EQ(packet.GetUrl(), c.channel == CH_GET ? "/c/asendmsg.php?" + query : "/c/asendmsg.php?");
        EXPECT_EQ(packet.GetFormBody(), query);
        EXPECT_EQ(packet.tries, 10);
        EXPECT_EQ(packet.requestKind, 507);
    }
}

}  // namespace
}  // namespace morvale
