#pragma once

// Helpers of the network tests: a private log file to read lines back from, a batch collector for
// the hub's callback, and a temporary folder.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/in_packet.h"

namespace morvale::test {

// A fresh temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Points the process log at a private file and reads it back.
class LogCapture {
  public:
    LogCapture();
    std::string Text() const;
    // Records "<stamp> [tag] kind text\n" whose tag, kind and text are exactly these.
    std::vector<std::string> Records(const std::string& tag, const std::string& kind) const;
    bool WaitForText(const std::string& needle,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    size_t Count(const std::string& needle) const;

  private:
    TempDir dir_;
    std::string path_;
};

// Collects the hub's batches.
class BatchCollector {
  public:
    void Add(InPacketList batch);
    bool WaitForPackets(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<InPacketList> TakeBatches();
    InPacketList TakePackets();
    size_t PacketCount();

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<InPacketList> batches_;
    size_t packets_ = 0;
};

// A reply body holding one frame of the given wire type and payload.
std::string Frame(int type, int seq, const std::string& payload);

}  // namespace morvale::test
