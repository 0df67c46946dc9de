#pragma once

// The download worker: each channel-3 request is fetched into its local file, up to 3 attempts 1 s
// apart, the file closed after every attempt; a gzip-encoded reply is decompressed in place. Every
// download ends in an InDownFilePacket carrying the request and whether it succeeded.

#include <optional>
#include <string>

#include "net/base_net_thread.h"
#include "net/net_queues.h"

namespace morvale {

class DownFileThread : public BaseNetThread {
  public:
    DownFileThread();
    ~DownFileThread() override;

    void SetQueues(OutQueue* in, InQueue* out) {
        in_ = in;
        out_ = out;
    }

    int Download(const OutPacket& packet);

    static constexpr int kAttempts = 3;

  protected:
    void Execute() override;

  private:
    OutQueue* in_ = nullptr;
    InQueue* out_ = nullptr;
};

// Replaces the gzip file `path` by its decompressed content (the name inside the gzip data is not
// used); nullopt on success, else what went wrong.
std::optional<std::string> GunzipFileInPlace(const std::string& path);

}  // namespace morvale
