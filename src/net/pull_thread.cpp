#include "net/pull_thread.h"

#include <exception>

#include "core/log.h"

namespace morvale {

PullThread::PullThread() : BaseNetThread("Net") { SetInterval(60000); }

PullThread::~PullThread() { Stop(); }

void PullThread::SetKeepalive(std::function<void()> keepalive) {
    std::lock_guard lock(mutex_);
    keepalive_ = std::move(keepalive);
}

void PullThread::Execute() {
    while (WaitWhilePaused()) {
        std::function<void()> keepalive;
        {
            std::lock_guard lock(mutex_);
            keepalive = keepalive_;
        }
        if (keepalive) {
            try {
                keepalive();
            } catch (const std::exception& e) {
                LogLine("Net", LogMsgType::Exception, std::string("keep-alive: ") + e.what());
            }
        }
        if (!SleepMs(Interval())) break;
    }
}

}  // namespace morvale
