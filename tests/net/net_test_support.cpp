#include "net_test_support.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/log.h"

namespace morvale::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("morvale-net-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

LogCapture::LogCapture() : path_(dir_.File("test.cdd")) { SetLogFilePath(path_); }

std::string LogCapture::Text() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> LogCapture::Records(const std::string& tag, const std::string& kind) const {
    // A record starts with "YYYY-MM-DD hh:mm:ss.zzz [" and runs up to the next record's start.
    const std::string text = Text();
    std::vector<size_t> starts;
    for (size_t pos = 0; pos < text.size();) {
        if (pos + 25 <= text.size() && text[pos + 4] == '-' && text[pos + 7] == '-' &&
            text[pos + 10] == ' ' && text[pos + 13] == ':' && text[pos + 23] == ' ' &&
            text[pos + 24] == '[') {
            starts.push_back(pos);
        }
        const size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    std::vector<std::string> records;
    const std::string head = "[" + tag + "] " + kind + " ";
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        std::string record = text.substr(starts[i] + 24, end - starts[i] - 24);
        if (record.rfind(head, 0) != 0) continue;
        record.erase(0, head.size());
        if (!record.empty() && record.back() == '\n') record.pop_back();
        records.push_back(record);
    }
    return records;
}

bool LogCapture::WaitForText(const std::string& needle, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Text().find(needle) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

size_t LogCapture::Count(const std::string& needle) const {
    const std::string text = Text();
    size_t count = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++count;
    return count;
}

void BatchCollector::Add(InPacketList batch) {
    {
        std::lock_guard lock(mutex_);
        packets_ += batch.size();
        batches_.push_back(std::move(batch));
    }
    cv_.notify_all();
}

bool BatchCollector::WaitForPackets(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return packets_ >= count; });
}

std::vector<InPacketList> BatchCollector::TakeBatches() {
    std::lock_guard lock(mutex_);
    std::vector<InPacketList> out;
    out.swap(batches_);
    packets_ = 0;
    return out;
}

InPacketList BatchCollector::TakePackets() {
    InPacketList all;
    for (auto& batch : TakeBatches()) {
        for (auto& p : batch) all.push_back(std::move(p));
    }
    return all;
}

size_t BatchCollector::PacketCount() {
    std::lock_guard lock(mutex_);
    return packets_;
}

std::string Frame(int type, int seq, const std::string& payload) {
    return "\x02" + std::to_string(type) + "\x05" + std::to_string(seq) + "\x05" +
           std::to_string(payload.size()) + "\x05" + payload + "\x03";
}

}  // namespace morvale::test
