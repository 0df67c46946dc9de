#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "net/ms_multi_part_form_data_stream.h"
#include "net/net.h"
#include "net_test_support.h"
#include "support/test_http_server.h"

namespace morvale::test {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

TEST(MultiPartStream, BoundaryIsHyphensAndTheLocalTimeDigits) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 7;
    EXPECT_EQ(TMsMultiPartFormDataStream::MakeBoundary(t, 123), std::string(27, '-') + "120926134507123");
    TMsMultiPartFormDataStream now;
    EXPECT_EQ(now.Boundary().size(), 27u + 15u);
    EXPECT_EQ(now.ContentType(), "multipart/form-data; boundary=" + now.Boundary());
}

TEST(MultiPartStream, FieldsThenFileThenClosingBoundary) {
    TempDir dir;
    const std::string file = dir.File("a b.txt");
    WriteFile(file, std::string("bytes\0\r\n", 8));
    TMsMultiPartFormDataStream s("BND");
    s.AddFormField("vid", "V1");
    s.AddFormField("rid", "R%D6%D0");
    std::string error;
    ASSERT_TRUE(s.AddFile("file", file, "", &error)) << error;
    s.PrepareStreamForDispatch();
    const std::string expected =
        "--BND\r\n"
        "Content-Disposition: form-data; name=\"vid\"\r\n"
        "\r\n"
        "V1\r\n"
        "--BND\r\n"
        "Content-Disposition: form-data; name=\"rid\"\r\n"
        "\r\n"
        "R%D6%D0\r\n"
        "--BND\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"" +
        file +
        "\"\r\n"
        "Content-Type: \r\n"
        "\r\n" +
        std::string("bytes\0\r\n", 8) +
        "\r\n"
        "--BND--\r\n";
    EXPECT_EQ(s.Bytes(), expected);
    EXPECT_EQ(s.Position(), 0u);
}

TEST(MultiPartStream, AFileOnlyBodyStartsWithCrLfAndEmptyFilesHaveEmptyParts) {
    TempDir dir;
    const std::string file = dir.File("empty.xml");
    WriteFile(file, "");
    TMsMultiPartFormDataStream s("B");
    std::string error;
    ASSERT_TRUE(s.AddFile("faqfile", file, "", &error));
    s.PrepareStreamForDispatch();
    EXPECT_EQ(s.Bytes(), "\r\n--B\r\nContent-Disposition: form-data; name=\"faqfile\"; filename=\"" + file +
                             "\"\r\nContent-Type: \r\n\r\n\r\n--B--\r\n");
    EXPECT_FALSE(s.AddFile("x", dir.File("missing"), "", &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

// Upload over the wire: the bytes a server receives, checked byte for byte.
struct UploadHub {
    RawHttpServer raw;
    BatchCollector events;
    Net net;
    UploadHub() {
        net.SetBaseUrl(raw.BaseUrl());
        net.SetCallback([this](InPacketList b) { events.Add(std::move(b)); });
        net.SendFile().SetInterval(10);
        net.StartWorkers();
    }
};

std::string HttpReply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

TEST(SendFileThread, SendsTheMultipartBodyAndParsesTheReply) {
    LogCapture log;
    TempDir dir;
    const std::string file = dir.File("photo.jpg");
    WriteFile(file, "JPEGDATA");
    UploadHub hub;
    hub.raw.SetDefault({HttpReply(Frame(999, 1, "up"))});
    hub.net.SendPacket(std::make_unique<OutSendFilePacket>("v 1", "r1", file));
    ASSERT_TRUE(hub.events.WaitForPackets(1));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0]->body, "up");

    ASSERT_EQ(hub.raw.RequestCount(), 1u);
    const RecordedRequest req = hub.raw.Requests()[0];
    const std::string raw = hub.raw.RawRequests()[0];
    EXPECT_EQ(raw.rfind("POST /c/asendfile.php? HTTP/1.0\r\n", 0), 0u);
    const std::string contentType = req.Header("Content-Type").value_or("");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(contentType.rfind(prefix, 0), 0u);
    const std::string b = contentType.substr(prefix.size());
    EXPECT_EQ(b.size(), 42u);
    EXPECT_EQ(req.body, "--" + b + "\r\nContent-Disposition: form-data; name=\"vid\"\r\n\r\nv%201\r\n--" + b +
                            "\r\nContent-Disposition: form-data; name=\"rid\"\r\n\r\nr1\r\n--" + b +
                            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + file +
                            "\"\r\nContent-Type: \r\n\r\nJPEGDATA\r\n--" + b + "--\r\n");
    EXPECT_FALSE(req.HasHeader("Accept"));

    const std::string url = hub.raw.BaseUrl() + "/c/asendfile.php?";
    const auto info = log.Records("NetSF", "Information");
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0], "▼▼SF --> " + url + "......");
    const std::string done = std::regex_replace(info[1], std::regex("^▼▼SF <-- [0-9]+ms"), "▼▼SF <-- <ms>ms");
    EXPECT_EQ(done.rfind("▼▼SF <-- <ms>ms " + url + "    ---------    \r\nHost: 127.0.0.1:", 0), 0u) << done;
    EXPECT_NE(done.find("Content-Type: " + contentType + "\r\nContent-Length: "), std::string::npos);
    const std::string tail =
        "\r\n<<<<\r\nContent-Length: 12\r\nConnection: close\r\n\r\n<<<<\r\n" + Frame(999, 1, "up") + "\r\n";
    EXPECT_EQ(done.substr(done.size() - tail.size()), tail);
    ASSERT_TRUE(log.WaitForText("<<<<<\r\n"));
    const auto level2 = log.Records("NetSF", "L2");
    ASSERT_EQ(level2.size(), 1u);
    EXPECT_EQ(level2[0], "----/c/asendfile.php?  --------  \r\nvid=v%201\r\nrid=r1\r\n\r\nfile=" + file +
                             "\r\n\r\n<<<<<\r\n" + Frame(999, 1, "up") + "\r\n");
}

TEST(SendFileThread, AMissingFileOrARefusedConnectionIsOneTimeoutWithoutRetry) {
    LogCapture log;
    TempDir dir;
    const std::string present = dir.File("faq.xml");
    WriteFile(present, "<faq/>");
    BatchCollector events;
    Net net;
    net.SetBaseUrl("http://127.0.0.1:" + std::to_string(UnusedPort()));
    net.SetCallback([&](InPacketList b) { events.Add(std::move(b)); });
    net.SendFile().SetInterval(10);
    net.SendPacket(std::make_unique<OutFAQUpPacket>(dir.File("missing.xml")));
    net.SendPacket(std::make_unique<OutFAQUpPacket>(present));
    net.StartWorkers();
    ASSERT_TRUE(events.WaitForPackets(2));
    InPacketList packets = events.TakePackets();
    ASSERT_EQ(packets.size(), 2u);
    for (const auto& p : packets) {
        auto* t = dynamic_cast<InTimeoutPacket*>(p.get());
        ASSERT_NE(t, nullptr);
        ASSERT_NE(t->request, nullptr);
        EXPECT_EQ(t->request->requestKind, 504);
    }
    const auto exceptions = log.Records("NetSF", "Exception");
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_NE(exceptions[0].find("Cannot open file"), std::string::npos);
    EXPECT_EQ(log.Records("NetSF", "Warning").size(), 1u);  // the refused connection, once
    const auto level2 = log.Records("NetSF", "L2");
    ASSERT_EQ(level2.size(), 2u);
    EXPECT_EQ(level2[1], "----/c/acannedxml.php?action=save_canned&  --------  \r\n\r\nfaqfile=" + present +
                             "\r\n\r\n<<<<<网络异常");
}

TEST(SendFileThread, AClosedConnectionIsSuccessAnErrorStatusIsAFailure) {
    LogCapture log;
    TempDir dir;
    const std::string file = dir.File("f.txt");
    WriteFile(file, "x");
    UploadHub hub;
    hub.raw.Enqueue({});  // read the upload, close without a reply
    hub.raw.Enqueue({"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"});
    hub.raw.SetDefault({HttpReply(Frame(999, 1, "third"))});
    for (int i = 0; i < 3; ++i) hub.net.SendPacket(std::make_unique<OutSendFilePacket>("v", "r", file));
    ASSERT_TRUE(hub.events.WaitForPackets(2));
    InPacketList packets = hub.events.TakePackets();
    ASSERT_EQ(packets.size(), 2u);
    auto* failed = dynamic_cast<InTimeoutPacket*>(packets[0].get());
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->request->requestKind, 513);
    EXPECT_EQ(packets[1]->body, "third");
    EXPECT_EQ(hub.raw.RequestCount(), 3u);
    const auto exceptions = log.Records("NetSF", "Exception");
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_NE(exceptions[0].find("    ---------    \r\nHTTP/1.1 500 Internal Server Error"),
              std::string::npos);
    EXPECT_TRUE(log.Records("NetSF", "Warning").empty());
}

}  // namespace
}  // namespace morvale::test
