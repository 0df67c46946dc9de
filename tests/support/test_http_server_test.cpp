#include "support/test_http_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

namespace morvale::test {
namespace {

TEST(TestHttpServer, AnswersQueuedRepliesThenDefaultAndRecordsRequests) {
    TestHttpServer server;
    ScriptedReply first = ScriptedReply::Body("one");
    first.headers = {{"Etag", "E1"}};
    server.Enqueue("/a.php", first);
    server.Enqueue("/a.php", ScriptedReply::Body("oops", 500));
    server.SetDefault(ScriptedReply::Body("default"));

    httplib::Client client("127.0.0.1", server.Port());
    httplib::Headers headers = {{"X-Probe", "1"}};
    auto r1 = client.Get("/a.php?x=1&y=%D6%D0", headers);
    ASSERT_TRUE(r1);
    EXPECT_EQ(r1->body, "one");
    EXPECT_EQ(r1->get_header_value("Etag"), "E1");
    auto r2 = client.Get("/a.php");
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->status, 500);
    auto r3 = client.Post("/b.php", "k=v", "application/x-www-form-urlencoded");
    ASSERT_TRUE(r3);
    EXPECT_EQ(r3->body, "default");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/a.php?x=1&y=%D6%D0");
    EXPECT_EQ(requests[0].path, "/a.php");
    EXPECT_EQ(requests[0].Header("x-probe"), "1");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].body, "k=v");
}

TEST(TestHttpServer, GzipBodyCarriesContentEncoding) {
    TestHttpServer server;
    ScriptedReply reply = ScriptedReply::Body("hello hello hello");
    reply.gzip = true;
    server.SetDefault(reply);
    httplib::Client client("127.0.0.1", server.Port());
    client.set_decompress(false);
    auto r = client.Get("/");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Content-Encoding"), "gzip");
    EXPECT_EQ(r->body, Gzip("hello hello hello"));
}

TEST(RawHttpServer, RecordsExactBytesAndSendsRawReply) {
    RawHttpServer server;
    server.Enqueue({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"});
    httplib::Client client("127.0.0.1", server.Port());
    auto r = client.Post("/up", "abc", "text/plain");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "ok");
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(server.Requests()[0].body, "abc");
    EXPECT_NE(server.RawRequests()[0].find("POST /up HTTP/1.1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace morvale::test
