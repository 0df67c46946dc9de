#include "session/executor.h"

#include <gtest/gtest.h>

#include <thread>

#include "session_fixture.h"

namespace morvale::test {
namespace {

using namespace std::chrono_literals;

// Batches delivered on another thread (as the hub's event thread does) are applied on the thread
// that drains the executor, in order, and each callback runs there.
TEST(QueueExecutorThreads, BatchesAreAppliedOnTheOwnerThreadInOrder) {
    QueueExecutor executor;
    auto fake = std::make_unique<FakeNet>();
    FakeNet* net = fake.get();
    Client client(std::move(fake), executor, ClientOptions{"morvale", "http://x/y"});
    Recorder recorder;
    std::vector<std::thread::id> threads;
    recorder.onCallback = [&](const CallbackInfo&) { threads.push_back(std::this_thread::get_id()); };
    client.RegisterWindow(&recorder);

    constexpr int kBatches = 50;
    std::thread eventThread([&] {
        for (int i = 0; i < kBatches; ++i) net->callback(ParsePackets(Frame(132, {std::to_string(i)})));
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (recorder.events.size() < kBatches && std::chrono::steady_clock::now() < deadline)
        executor.RunFor(50ms);
    eventThread.join();
    ASSERT_EQ(recorder.events.size(), static_cast<std::size_t>(kBatches));
    EXPECT_EQ(client.leaveMsgCount(), kBatches - 1);
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(QueueExecutorThreads, BatchesLeftWhenTheClientGoesAreDropped) {
    QueueExecutor executor;
    Recorder recorder;
    {
        auto fake = std::make_unique<FakeNet>();
        FakeNet* net = fake.get();
        Client client(std::move(fake), executor, ClientOptions{"morvale", "http://x/y"});
        client.RegisterWindow(&recorder);
        std::thread([&] { net->callback(ParsePackets(Frame(6, {}))); }).join();
    }
    EXPECT_EQ(executor.RunFor(0ms), 1);
    EXPECT_TRUE(recorder.events.empty());
}

TEST(QueueExecutorThreads, WakeEndsAWaitWithNothingToRun) {
    QueueExecutor executor;
    std::thread waker([&] { executor.Wake(); });  // before or during the wait
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(executor.RunFor(10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    waker.join();
}

}  // namespace
}  // namespace morvale::test
