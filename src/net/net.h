#pragma once

// The network hub: the single object through which the session controller reaches the server. It
// owns the cookie store, the four packet queues, the event thread and the five HTTP workers. Requests
// go in through SendPacket and are filed by channel; decoded events come back as batches through the
// callback, on the event thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/cookie_store.h"
#include "net/down_file_thread.h"
#include "net/event_thread.h"
#include "net/net_queues.h"
#include "net/pull_thread.h"
#include "net/push_thread.h"
#include "net/send_file_thread.h"
#include "net/send_thread.h"

namespace morvale {

class Net {
  public:
    // Creates the store, the queues and the six threads, none of them running yet.
    Net();
    // Stops the event thread and then each worker (promptly, also in a long-poll), then destroys the
    // queues with any packets still in them, then the cookie store.
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    void SetBaseUrl(std::string url);
    std::string BaseUrl() const;
    // Receives every non-empty batch of events on the event thread (the session layer posts it to its
    // own executor). Until it is set, queued events are discarded.
    void SetCallback(BatchCallback callback);
    // What the keep-alive ticker does once per minute; by default it queues an OutKeepalivePacket.
    void SetKeepalive(std::function<void()> keepalive);

    void SetProxy(std::string host, int port);
    // Direct connection, also when http_proxy is set in the environment.
    void ClearProxy();

    // Files the packet by channel: 0 and 1 on the send queue, 2 on the upload queue, 3 on the download
    // queue; any other channel is discarded. Safe from any thread, also from inside the callback.
    void SendPacket(std::unique_ptr<OutPacket> packet);

    // Starts the event thread and the command, upload and download workers.
    void StartWorkers();
    void ResumePush();
    void SuspendPush();
    void StartKeepalive();
    void StopKeeplive();

    // Subscription id; takes effect only before the push worker first runs.
    void SetPushChannel(std::string id);
    void SetPushInterval(int ms);
    void SetCommandReadTimeout(int ms);

    // Stores "name=value" (";path=/" is appended) as a cookie for the host of the current base URL.
    void AddCookie(std::string_view cookie);

    // The parts, for settings the hub has no setter for (time-outs, intervals) and for inspection.
    CookieStore& Cookies() { return cookies_; }
    InQueue& IncomingQueue() { return incoming_; }
    OutQueue& SendQueue() { return send_; }
    OutQueue& UploadQueue() { return upload_; }
    OutQueue& DownloadQueue() { return download_; }
    PullThread& Pull() { return pull_; }
    PushThread& Push() { return push_; }
    SendThread& Send() { return sender_; }
    SendFileThread& SendFile() { return sendFile_; }
    DownFileThread& DownFile() { return downFile_; }
    EventThread& Events() { return events_; }

    // The host part of a URL ("http://user@h:80/x" gives "h").
    static std::string HostOf(std::string_view url);

  private:
    void ForEachWorker(const std::function<void(BaseNetThread&)>& action);

    // Declared so that members are destroyed in the reverse of the teardown order: threads first.
    mutable std::mutex baseUrlMutex_;
    std::string baseUrl_;
    CookieStore cookies_;
    OutQueue download_;
    OutQueue upload_;
    OutQueue send_;
    InQueue incoming_;
    EventThread events_;
    PullThread pull_;
    PushThread push_;
    SendThread sender_;
    SendFileThread sendFile_;
    DownFileThread downFile_;
};

}  // namespace morvale
