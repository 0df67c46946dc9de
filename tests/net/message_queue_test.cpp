#include "net/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace morvale::test
