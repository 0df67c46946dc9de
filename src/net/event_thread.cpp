#include "net/event_thread.h"

#include <chrono>
#include <exception>

#include "core/log.h"

namespace morvale {

EventThread::EventThread(InQueue* incoming) : incoming_(incoming) {}

EventThread::~EventThread() { Stop(); }

void EventThread::SetCallback(BatchCallback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void EventThread::Start() {
    std::lock_guard lock(mutex_);
    if (started_ || terminated_) return;
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void EventThread::Stop() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    cv_.notify_all();
    incoming_->Wake();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // stopped from its own body: it ends when that returns
    } else {
        thread_.join();
    }
}

void EventThread::Run() {
    std::unique_lock lock(mutex_);
    while (!terminated_) {
        BatchCallback callback = callback_;
        lock.unlock();
        InPacketList batch = incoming_->TakeAll();
        const bool idle = batch.empty();
        if (!batch.empty() && callback) {
            try {
                callback(std::move(batch));
            } catch (const std::exception& e) {
                LogLine("Net", LogMsgType::Exception, std::string("event callback: ") + e.what());
            } catch (...) {
                LogLine("Net", LogMsgType::Exception, "event callback: Catch ... Exception");
            }
        }
        batch.clear();
        if (idle) {
            incoming_->WaitForItems(std::chrono::milliseconds(kIdleWaitMs));
            lock.lock();
            continue;
        }
        lock.lock();
        cv_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return terminated_; });
    }
}

}  // namespace morvale
