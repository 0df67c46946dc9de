#include "cli/json_line.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "cli/packet_json.h"

namespace morvale::cli {
namespace {

TEST(JsonLine, EscapesAndConvertsTexts) {
    struct Case {
        const char* name;
        std::string gbk;
        std::string json;
    };
    const Case cases[] = {
        {"plain", "abc", R"({"t":"abc"})"},
        {"quote and backslash", "a\"b\\c", R"({"t":"a\"b\\c"})"},
        {"short escapes", "\b\f\n\r\t", R"({"t":"\b\f\n\r\t"})"},
        {"other control bytes", std::string("\x00\x02\x06\x1f\x7f", 5),
         R"({"t":"\u0000\u0002\u0006\u001f\u007f"})"},
        {"gbk to utf-8", "中文", "{\"t\":\"\xe4\xb8\xad\xe6\x96\x87\"}"},
        {"invalid gbk",
         "a\xff"
         "b",
         "{\"t\":\"a\xef\xbf\xbd"
         "b\"}"},
        {"truncated gbk", "a\xd6", "{\"t\":\"a\xef\xbf\xbd\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(JsonLine().Text("t", c.gbk).Str(), c.json);
    }
}

TEST(JsonLine, NumbersFlagsAndNesting) {
    JsonLine inner;
    inner.Int("i", -5);
    JsonLine line;
    line.Int("a", 2147483647)
        .Number("b", 25569.5)
        .Number("c", 25570)
        .Number("d", 25569.0 + 1.0 / 3.0)
        .Number("e", std::numeric_limits<double>::quiet_NaN())
        .Bool("f", true)
        .Bool("g", false)
        .Null("h")
        .Object("o", inner);
    EXPECT_EQ(line.Str(),
              R"({"a":2147483647,"b":25569.5,"c":25570,"d":25569.333333333332,"e":null,"f":true,"g":false,)"
              R"("h":null,"o":{"i":-5}})");
    EXPECT_EQ(JsonLine().Str(), "{}");
}

TEST(JsonLine, Arrays) {
    JsonLine a, b;
    a.Int("i", 1);
    EXPECT_EQ(JsonLine().Array("o", {a, b}).TextArray("t", {"\xD6\xD0", "\"", ""}).Array("e", {}).Str(),
              "{\"o\":[{\"i\":1},{}],\"t\":[\"\xE4\xB8\xAD\",\"\\\"\",\"\"],\"e\":[]}");
}

TEST(PacketJson, WorkerMadeKindsCarryTheirRequest) {
    auto request = std::make_unique<OutSendMsgPacket>("v1", "r1", "hi");
    InTimeoutPacket timeout(std::move(request));
    EXPECT_EQ(PacketJson(timeout).Str(),
              R"({"kind":3,"seq":0,"length":0,"body":"","request":{"requestKind":507,"channel":0,"tries":10,)"
              R"("url":"/c/asendmsg.php?vid=v1&rid=r1&msg=hi","localFile":""}})");
    EXPECT_EQ(PacketJson(InTimeoutPacket(nullptr)).Str(),
              R"({"kind":3,"seq":0,"length":0,"body":"","request":null})");

    InDownFilePacket done(false, std::make_unique<OutFAQFromUrlPacket>("/faq/a.xml", "/tmp/a.xml"));
    EXPECT_EQ(
        PacketJson(done).Str(),
        R"({"kind":124,"seq":0,"length":0,"body":"","ok":false,"request":{"requestKind":503,"channel":3,)"
        R"("tries":3,"url":"/faq/a.xml","localFile":"/tmp/a.xml"}})");
}

}  // namespace
}  // namespace morvale::cli
