// morvale-cli run against the real stand-in service, both as child processes; the service's control
// API plays the visitor and the operator's other sign-ins.

#include <httplib.h>

#include <regex>

#include "support/child_process.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

// UTF-8 text (narrow literals are GBK in this build; the CLI's output and the control API are UTF-8).
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string Field(const std::string& json, const std::string& name) {
    std::smatch m;
    if (std::regex_search(json, m, std::regex("\"" + name + "\":\"([^\"]*)\""))) return m[1];
    return {};
}

TEST(CliRunOnSim, OperatorSessionEndToEnd) {
    Sim sim;
    ASSERT_GT(sim.port, 0);
    Cli cli({"--site", "demo", "--user", "op01", "--pass", "123456", "--base-url", sim.BaseUrl()});
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":true"}), "");
    ASSERT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAll\""}), "");

    const std::string vid =
        Field(sim.Control("visitor/arrive", U8(u8R"({"site":"demo","area":"北京","title":"首页"})")), "vid");
    ASSERT_FALSE(vid.empty());
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAdd\"", "\"vid\":\"" + vid + "\"", U8(u8"\"area\":\"北京\"")}),
              "");

    ASSERT_NE(sim.Control("visitor/call", R"({"vid":")" + vid + U8(u8R"(","question":"在吗"})")), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorCall\"", U8(u8"\"question\":\"在吗\"")}), "");
    cli.Send("accept " + vid);
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorChat\"", "\"vid\":\"" + vid + "\"", "\"state\":5"}), "");

    ASSERT_NE(sim.Control("visitor/send", R"({"vid":")" + vid + U8(u8R"(","msg":"你好"})")), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorMsg\"", U8(u8"\"lastMsg\":\"你好\"")}), "");
    cli.Send("send " + vid + U8(u8" <div>您好，请问有什么可以帮您？</div>"));
    std::string inbox;
    EXPECT_TRUE(WaitUntil([&] {
        inbox = sim.Control("visitor/inbox", R"({"vid":")" + vid + R"(","since":2,"wait_ms":500})");
        return inbox.find(U8(u8"您好，请问有什么可以帮您？")) != std::string::npos;
    })) << inbox;

    cli.Send("close " + vid);
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorEndChat\"", "\"vid\":\"" + vid + "\""}), "");
    ASSERT_NE(sim.Control("visitor/leave", R"({"vid":")" + vid + R"("})"), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorLeft\"", "\"vid\":\"" + vid + "\""}), "");

    ASSERT_NE(sim.Control("operator/relogin", R"({"site":"demo","login":"op01"})"), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcOpMustReLogin\""}), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":true"}), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcVisitorAll\""}), "");

    ASSERT_NE(sim.Control("operator/elsewhere", R"({"site":"demo","login":"op01"})"), "");
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcOtherMeLogin\""}), "");
    EXPECT_EQ(cli.Wait(), 5);
}

TEST(CliRunOnSim, WrongPasswordIsRefused) {
    Sim sim;
    Cli cli({"--site", "demo", "--user", "op01", "--pass", "wrong", "--base-url", sim.BaseUrl()});
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":false"}), "");
    EXPECT_EQ(cli.Wait(), 3);
}

}  // namespace
}  // namespace morvale::test
