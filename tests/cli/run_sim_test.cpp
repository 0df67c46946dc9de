// morvale-cli run against the real stand-in service, both as child processes; the service's control
// API plays the visitor and the operator's other sign-ins.

#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

// Two operators of one site: what one does reaches the visitor and the other operator.
TEST(CliRunOnSim, TwoOperatorsShareTheSite) {
    Sim sim;
    ASSERT_GT(sim.port, 0);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("morvale-cli-sim-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "price.txt").string();
    std::ofstream(file) << "price list";
    const std::string library = (dir / "library.xml").string();
    std::ofstream(library) << "<?xml version=\"1.0\" encoding=\"gb2312\"?><root><i n=\"hi\">hello</i></root>";

    Cli admin({"--site", "demo", "--user", "admin", "--pass", "123456", "--base-url", sim.BaseUrl()});
    Cli op({"--site", "demo", "--user", "op01", "--pass", "123456", "--base-url", sim.BaseUrl()});
    const std::string adminLogin = admin.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":true"});
    const std::string opLogin = op.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":true"});
    ASSERT_NE(adminLogin, "");
    ASSERT_NE(opLogin, "");
    for (Cli* cli : {&admin, &op}) ASSERT_NE(cli->WaitFor({"\"cb\":\"CbcVisitorAll\""}), "");

    const std::string vid = Field(sim.Control("visitor/arrive", R"({"guest_id":"g1"})"), "vid");
    ASSERT_FALSE(vid.empty());
    const std::string inVisitor = "\"vid\":\"" + vid + "\"";
    ASSERT_NE(sim.Control("visitor/page", R"({"vid":")" + vid + R"(","url":"http://demo/p2","title":"p2"})"),
              "");
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorChangePage\"", inVisitor}), "");

    ASSERT_NE(sim.Control("visitor/call", R"({"vid":")" + vid + R"(","question":"hi"})"), "");
    ASSERT_NE(admin.WaitFor({"\"cb\":\"CbcVisitorCall\"", inVisitor}), "");
    admin.Send("accept " + vid);
    const std::string adminChat = admin.WaitFor({"\"cb\":\"CbcVisitorChat\"", inVisitor, "\"state\":5"});
    EXPECT_NE(adminChat, "");
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorChat\"", inVisitor, "\"state\":4"}), "");

    ASSERT_NE(sim.Control("visitor/type", R"({"vid":")" + vid + R"(","text":"typing now"})"), "");
    EXPECT_NE(admin.WaitFor({"\"cb\":\"CbcVisitorPreMsg\"", inVisitor}), "");
    admin.Send("typing " + vid + " 1");
    admin.Send("sendfile " + vid + " " + file);
    std::string inbox;
    EXPECT_TRUE(WaitUntil([&] {
        inbox = sim.Control("visitor/inbox", R"({"vid":")" + vid + R"(","since":0,"wait_ms":500})");
        return inbox.find("\"typing\"") != std::string::npos && inbox.find("price.txt") != std::string::npos;
    })) << inbox;

    admin.Send(U8(u8"guest g1 张三"));
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorGuest\"", U8(u8"张三")}), "");

    // The administrator's new library reaches the other operator as a fresh download.
    admin.Send("faq-up " + library);
    EXPECT_NE(admin.WaitFor({"\"cb\":\"CbcFAQUpOK\""}), "");
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcFileDownloaded\""}), "");
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcFileDownloaded\""}), "");

    // A transfer, as the transfer page performs it on a click: offered to op01, who accepts it and
    // continues the chat with its transcript.
    ASSERT_NE(sim.Control("visitor/send", R"({"vid":")" + vid + R"(","msg":"before the transfer"})"), "");
    ASSERT_NE(admin.WaitFor({"\"cb\":\"CbcVisitorMsg\"", "before the transfer"}), "");
    httplib::Client page("127.0.0.1", sim.port);
    const std::string transfer = "/live/c/atransfer.php?PHPSESSID=" + Field(adminLogin, "sessionId") +
                                 "&vid=" + vid + "&rid=" + Field(adminChat, "rid") +
                                 "&to=" + Field(opLogin, "opid");
    const auto transferred = page.Get(transfer.c_str());
    ASSERT_TRUE(transferred && transferred->status == 200);
    EXPECT_NE(transferred->body.find("me:://close"), std::string::npos);
    ASSERT_NE(op.WaitFor({"\"cb\":\"CbcVisitorCall\"", inVisitor, "\"state\":8"}), "");
    op.Send("accept " + vid);
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorChat\"", inVisitor, "\"state\":5", "before the transfer"}), "");

    // An invitation the visitor accepts, and a forced chat, both become the inviting operator's chats.
    const std::string invited = Field(sim.Control("visitor/arrive", "{}"), "vid");
    ASSERT_NE(op.WaitFor({"\"cb\":\"CbcVisitorAdd\"", "\"vid\":\"" + invited + "\""}), "");
    op.Send("invite " + invited);
    EXPECT_TRUE(WaitUntil([&] {
        inbox = sim.Control("visitor/inbox", R"({"vid":")" + invited + R"(","since":0,"wait_ms":500})");
        return inbox.find("\"invite\"") != std::string::npos;
    })) << inbox;
    ASSERT_NE(sim.Control("visitor/invite_answer", R"({"vid":")" + invited + R"(","accept":true})"), "");
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorChat\"", "\"vid\":\"" + invited + "\"", "\"state\":5"}), "");

    const std::string forced = Field(sim.Control("visitor/arrive", "{}"), "vid");
    ASSERT_NE(op.WaitFor({"\"cb\":\"CbcVisitorAdd\"", "\"vid\":\"" + forced + "\""}), "");
    op.Send("force " + forced);
    EXPECT_NE(op.WaitFor({"\"cb\":\"CbcVisitorChat\"", "\"vid\":\"" + forced + "\"", "\"state\":5"}), "");

    admin.Send("quit");
    op.Send("quit");
    EXPECT_EQ(admin.Wait(), 0);
    EXPECT_EQ(op.Wait(), 0);
    std::filesystem::remove_all(dir);
}

TEST(CliRunOnSim, WrongPasswordIsRefused) {
    Sim sim;
    Cli cli({"--site", "demo", "--user", "op01", "--pass", "wrong", "--base-url", sim.BaseUrl()});
    EXPECT_NE(cli.WaitFor({"\"cb\":\"CbcLogin\"", "\"ok\":false"}), "");
    EXPECT_EQ(cli.Wait(), 3);
}

}  // namespace
}  // namespace morvale::test
