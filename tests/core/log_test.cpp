#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace morvale {
namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { SetLogFilePath(path_); }
    void TearDown() override {
        SetLogEcho(nullptr);
        SetLogFilePath(dir_ / "after.cdd");
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::istringstream in(test::ReadFile(path_));
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    test::TempDir dir_;
    std::string path_ = dir_ / "app.cdd";
};

TEST_F(LogTest, LineFormatForLevelsAndTypes) {
    test::WriteFile(path_, "old line\n");
    LogLine("Form", 0, "发现升级包 1.0");
    LogLine("Net", 2, "▼▼G /c/a.php?");
    LogLine("Client", 7, "clamped high");
    LogLine("Client", -1, "clamped low");
    LogLine("Client", LogMsgType::Information, "i");
    LogLine("Client", LogMsgType::Warning, "w");
    LogLine("Client", LogMsgType::Error, "e");
    LogLine("Client", LogMsgType::Exception, "x");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "old line");  // appended, not truncated
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");
    const char* rest[] = {"[Form] L0 发现升级包 1.0", "[Net] L2 ▼▼G /c/a.php?", "[Client] L2 clamped high",
                          "[Client] L0 clamped low",  "[Client] Information i", "[Client] Warning w",
                          "[Client] Error e",         "[Client] Exception x"};
    for (size_t i = 0; i < 8; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i + 1], m, stamp)) << lines[i + 1];
        EXPECT_EQ(m[1].str(), rest[i]);
    }
    EXPECT_EQ(lines[1].find("\xB7\xA2\xCF\xD6"), 34u);  // the GBK bytes of 发现 after "[Form] L0 "
}

TEST_F(LogTest, NewFileIsPrivate) {
    LogLine("Client", 0, "x");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, EchoCopiesEveryLine) {
    char* buf = nullptr;
    size_t size = 0;
    std::FILE* mem = open_memstream(&buf, &size);
    SetLogEcho(mem);
    LogLine("Trace", 1, "one");
    SetLogEcho(nullptr);
    LogLine("Trace", 1, "two");
    std::fclose(mem);
    const std::string echoed(buf, size);
    std::free(buf);
    EXPECT_NE(echoed.find("[Trace] L1 one\n"), std::string::npos);
    EXPECT_EQ(echoed.find("two"), std::string::npos);
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(LogTest, UnwritableSinkDropsLinesQuietly) {
    SetLogFilePath(dir_ / "no/such/dir/app.cdd");
    for (int i = 0; i < 100; ++i) LogLine("Net", 0, "lost");
    SetLogFilePath(path_);
    LogLine("Net", 0, "kept");
    ASSERT_EQ(Lines().size(), 1u);
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
    constexpr int kThreads = 4, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string text(200, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) LogLine("T" + std::to_string(t), 0, text);
        });
    }
    for (auto& th : threads) th.join();
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& l : lines) {
        const size_t p = l.find("] L0 ");
        ASSERT_NE(p, std::string::npos);
        const char tagDigit = l[p - 1];
        EXPECT_EQ(l.substr(p + 5), std::string(200, static_cast<char>('a' + (tagDigit - '0'))));
    }
}

TEST_F(LogTest, RotationMovesOnlyLargerThanTwoMebibytes) {
    const std::string aside = path_ + ".2";
    test::WriteFile(aside, "older rotation");
    test::WriteFile(path_, std::string(2097152, 'x'));
    EXPECT_FALSE(RotateLog(path_));
    EXPECT_EQ(test::ReadFile(aside), "older rotation");

    LogLine("Form", 0, "y");  // the sink holds the file open while it grows past the limit
    EXPECT_TRUE(RotateLog(path_));
    EXPECT_GT(test::ReadFile(aside).size(), 2097152u);
    struct stat st {};
    EXPECT_NE(stat(path_.c_str(), &st), 0);

    LogLine("Form", 0, "after rotation");  // goes to a fresh file, not the moved one
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find("after rotation"), std::string::npos);
    EXPECT_FALSE(RotateLog(dir_ / "missing.cdd"));
}

TEST_F(LogTest, DebugOutputGoesToStandardErrorOnly) {
    ::testing::internal::CaptureStderr();
    DebugOutput("TLoadForm::FormClose");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "TLoadForm::FormClose\n");
    EXPECT_TRUE(Lines().empty());
}

}  // namespace
}  // namespace morvale
