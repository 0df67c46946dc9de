#pragma once

// Where Client applies event batches: the owner thread of the model (the UI thread in the workbench,
// the main loop of the command-line client, the calling thread in tests). The event thread posts each
// batch; the executor runs posted tasks in order on its thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace morvale {

class Executor {
  public:
    virtual ~Executor() = default;
    // May be called from any thread; tasks run in the order posted.
    virtual void Post(std::function<void()> task) = 0;
};

// Runs each task at once on the posting thread (unit tests).
class InlineExecutor : public Executor {
  public:
    void Post(std::function<void()> task) override { task(); }
};

// A task queue drained by the thread that owns the model.
class QueueExecutor : public Executor {
  public:
    void Post(std::function<void()> task) override;

    // Runs every queued task; waits up to timeout for the first one. Returns how many ran.
    int RunFor(std::chrono::milliseconds timeout);
    // Drops the tasks not yet run.
    void Clear();
    // Wakes a RunFor that waits (with nothing to run).
    void Wake();

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
    bool woken_ = false;
};

}  // namespace morvale
