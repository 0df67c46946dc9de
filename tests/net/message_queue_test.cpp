#include "net/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace morvale::test {
namespace {

struct Item {
    Item(int source, int index, std::atomic<int>* alive = nullptr)
        : source(source), index(index), alive(alive) {
        if (alive) ++*alive;
    }
    ~Item() {
        if (alive) --*alive;
    }
    int source;
    int index;
    std::atomic<int>* alive;
};

using Queue = MessageQueue<Item>;

TEST(MessageQueue, TakeAllReturnsEverythingInOrderAndEmptiesTheQueue) {
    Queue q;
    EXPECT_TRUE(q.TakeAll().empty());
    EXPECT_EQ(q.Push(std::make_unique<Item>(0, 1)), 0);
    Queue::List batch;
    batch.push_back(std::make_unique<Item>(0, 2));
    batch.push_back(std::make_unique<Item>(0, 3));
    EXPECT_EQ(q.PushAll(std::move(batch)), 0);
    Queue::List taken = q.TakeAll();
    ASSERT_EQ(taken.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(taken[i]->index, i + 1);
    EXPECT_EQ(q.Size(), 0u);
}

TEST(MessageQueue, ClearAndDestructionDestroyQueuedPackets) {
    std::atomic<int> alive{0};
    {
        Queue q;
        q.Push(std::make_unique<Item>(0, 0, &alive));
        q.Push(std::make_unique<Item>(0, 1, &alive));
        q.Clear();
        EXPECT_EQ(alive.load(), 0);
        q.Push(std::make_unique<Item>(0, 2, &alive));
        EXPECT_EQ(alive.load(), 1);
    }
    EXPECT_EQ(alive.load(), 0);
}

TEST(MessageQueue, ConcurrentBatchesStayContiguousAndNothingIsLost) {
    Queue q;
    constexpr int kWriters = 4;
    constexpr int kBatches = 300;
    constexpr int kBatchSize = 5;
    std::atomic<bool> done{false};
    std::vector<Item*> seen;
    std::vector<std::unique_ptr<Item>> kept;
    std::thread reader([&] {
        while (!done.load() || q.Size() > 0) {
            for (auto& item : q.TakeAll()) kept.push_back(std::move(item));
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&q, w] {
            for (int b = 0; b < kBatches; ++b) {
                Queue::List batch;
                for (int i = 0; i < kBatchSize; ++i)
                    batch.push_back(std::make_unique<Item>(w, b * kBatchSize + i));
                q.PushAll(std::move(batch));
            }
        });
    }
    for (auto& t : writers) t.join();
    done = true;
    reader.join();
    ASSERT_EQ(kept.size(), static_cast<size_t>(kWriters * kBatches * kBatchSize));
    std::vector<int> next(kWriters, 0);
    for (size_t i = 0; i < kept.size(); i += kBatchSize) {
        // Each run of five is one batch: one writer, consecutive indexes, the writer's order kept.
        const int source = kept[i]->source;
        for (int k = 0; k < kBatchSize; ++k) {
            ASSERT_EQ(kept[i + k]->source, source);
            ASSERT_EQ(kept[i + k]->index, next[source]++);
        }
    }
}

// A consumer asleep on an empty queue is woken by a push (either kind) and by Wake(), not by its
// time-out: each wait here would last a minute otherwise.
TEST(MessageQueue, WaitForItemsWakesOnPushAndOnWake) {
    using namespace std::chrono_literals;
    constexpr auto kLong = 60s;
    struct Case {
        const char* name;
        std::function<void(Queue&)> act;
        bool items;
    };
    const Case cases[] = {
        {"push", [](Queue& q) { q.Push(std::make_unique<Item>(0, 0)); }, true},
        {"push all",
         [](Queue& q) {
             Queue::List batch;
             batch.push_back(std::make_unique<Item>(0, 1));
             q.PushAll(std::move(batch));
         },
         true},
        {"wake", [](Queue& q) { q.Wake(); }, false},
    };
    for (const Case& c : cases) {
        Queue q;
        std::atomic<bool> waiting{false};
        bool got = !c.items;
        auto started = std::chrono::steady_clock::now();
        std::thread consumer([&] {
            waiting = true;
            got = q.WaitForItems(kLong);
        });
        while (!waiting) std::this_thread::yield();
        c.act(q);
        consumer.join();
        EXPECT_EQ(got, c.items) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, kLong / 2) << c.name;
    }
    // A wake before the wait ends that wait at once; the next one waits again.
    Queue q;
    q.Wake();
    EXPECT_FALSE(q.WaitForItems(kLong));
    EXPECT_FALSE(q.WaitForItems(1ms));
}

}  // namespace
}  // namespace morvale::test
