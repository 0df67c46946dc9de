#include "wire.h"

#include <gtest/gtest.h>

#include "accounts.h"
#include "frame_reader.h"
#include "http_util.h"
#include "json.h"

namespace morvale::sim {
namespace {

TEST(SimWire, FrameBytesAreExact) {
    EXPECT_EQ(Frame(104, 7, std::string("0\x06x")), std::string("\x02"
                                                                "104\x05"
                                                                "7\x05"
                                                                "3\x05"
                                                                "0\x06x\x03"));
    EXPECT_EQ(Frame(123, 0, ""), std::string("\x02"
                                             "123\x05"
                                             "0\x05"
                                             "0\x05\x03"));
}

TEST(SimWire, PayloadLengthCountsNormalisedLineBreaks) {
    // The workbench turns every line break into CR LF before applying the length.
    struct Case {
        const char* name;
        std::string in, payload;
    } cases[] = {
        {"lone LF", "a\nb", "a\r\nb"},
        {"lone CR", "a\rb", "a\r\nb"},
        {"CR LF kept", "a\r\nb", "a\r\nb"},
        {"CR CR LF", "a\r\r\nb", "a\r\n\r\nb"},
        {"0x03 dropped",
         "a\x03"
         "b",
         "ab"},
    };
    for (const auto& c : cases) {
        auto r = test::ReadFrames(Frame(112, 1, c.in));
        ASSERT_TRUE(r.error.empty()) << c.name << ": " << r.error;
        ASSERT_EQ(r.frames.size(), 1u) << c.name;
        EXPECT_EQ(r.frames[0].payload, c.payload) << c.name;
    }
}

TEST(SimWire, FieldsCannotBreakTheFrame) {
    std::string payload = JoinFields({"V1",
                                      std::string("a\x06"
                                                  "b\x03"
                                                  "c\x02"
                                                  "d\x05"
                                                  "e"),
                                      ""});
    EXPECT_EQ(payload, std::string("V1\x06"
                                   "a b c d e\x06"));
    auto r = test::ReadFrames(Frame(112, 1, payload));
    ASSERT_TRUE(r.error.empty());
    EXPECT_EQ(r.frames[0].fields, (std::vector<std::string>{"V1", "a b c d e", ""}));
}

TEST(SimWire, MultipartAsTheWorkbenchSendsIt) {
    const std::string b = "---------------------------120926134507123";
    const std::string upload =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"vid\"\r\n\r\nV%31\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"rid\"\r\n\r\nR9\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"C:\\a\\b.txt\"\r\n"
        "Content-Type: \r\n\r\nline1\r\n--x\r\n\r\n--" +
        b + "--\r\n";
    auto parts = ParseMultipart("multipart/form-data; boundary=" + b, upload);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 3u);
    EXPECT_EQ((*parts)[0].name, "vid");
    EXPECT_EQ((*parts)[0].data, "V%31");  // decoding is the caller's business
    EXPECT_EQ((*parts)[2].fileName, "C:\\a\\b.txt");
    EXPECT_EQ((*parts)[2].data, "line1\r\n--x\r\n");

    // The library upload has no plain part and starts with CR LF before the first boundary.
    const std::string faq =
        "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"faqfile\"; filename=\"/tmp/x.xml\"\r\n"
        "Content-Type: \r\n\r\n<root/>\r\n--" +
        b + "--\r\n";
    parts = ParseMultipart("multipart/form-data; boundary=" + b, faq);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 1u);
    EXPECT_EQ((*parts)[0].name, "faqfile");
    EXPECT_EQ((*parts)[0].data, "<root/>");

    EXPECT_FALSE(ParseMultipart("multipart/form-data", faq));
}

TEST(SimWire, FormDecoding) {
    auto p = ParseForm("vid=V1&msg=%D6%D0+a%20b&empty=&flag&bad=%zz%4");
    EXPECT_EQ(Param(p, "vid"), "V1");
    EXPECT_EQ(Param(p, "msg"), "\xD6\xD0 a b");
    EXPECT_EQ(Param(p, "empty"), "");
    EXPECT_EQ(p.count("flag"), 1u);
    EXPECT_EQ(Param(p, "bad"), "%zz%4");
    EXPECT_EQ(CookieValue("a=1; PHPSESSID=abc ; b=2", "PHPSESSID"), "abc");
    EXPECT_EQ(CookieValue("XPHPSESSID=abc", "PHPSESSID"), "");
}

TEST(SimWire, JsonParsesStrictly) {
    auto j = Json::Parse(R"({"a":"x\u4e2d\n","n":-1.5,"b":true,"l":[1,{"c":null}]})");
    ASSERT_TRUE(j);
    EXPECT_EQ(j->Str("a"), "x\xE4\xB8\xAD\n");
    EXPECT_EQ(j->Num("n"), -1.5);
    EXPECT_TRUE(j->Bool("b"));
    EXPECT_EQ(j->Find("l")->Size(), 2u);
    EXPECT_EQ(Json::Parse(j->Dump())->Dump(), j->Dump());
    for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "{} x", "\"\x01\"", "nul", "1e999"})
        EXPECT_FALSE(Json::Parse(bad)) << bad;
    std::string deep(200, '[');
    EXPECT_FALSE(Json::Parse(deep + std::string(200, ']')));
}

TEST(SimWire, AccountsFile) {
    auto r = ParseAccounts("# site login pass\nshop s1 secret12 Alice admin\n\nshop s2 secret34\n");
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.accounts.size(), 2u);
    EXPECT_TRUE(r.accounts[0].admin);
    EXPECT_EQ(r.accounts[0].name, "Alice");
    EXPECT_EQ(r.accounts[1].name, "s2");
    EXPECT_EQ(ParseAccounts("shop s1\n").error.rfind("line 1", 0), 0u);
    EXPECT_FALSE(ParseAccounts("shop s1 pw x bogus\n").error.empty());
}

}  // namespace
}  // namespace morvale::sim
