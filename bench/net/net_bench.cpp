// Costs of the hub's moving parts: the queue hand-over and a command's whole round trip over
// loopback HTTP (queue, worker, libcurl, reply parsing, event thread, callback).

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "net/net.h"
#include "support/test_http_server.h"

namespace morvale {
namespace {

void BM_QueuePushAllTakeAll(benchmark::State& state) {
    InQueue queue;
    const auto batchSize = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        InPacketList batch;
        batch.reserve(batchSize);
        for (size_t i = 0; i < batchSize; ++i) batch.push_back(std::make_unique<InUnknownPacket>());
        queue.PushAll(std::move(batch));
        InPacketList taken = queue.TakeAll();
        benchmark::DoNotOptimize(taken.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QueuePushAllTakeAll)->Arg(1)->Arg(20)->Arg(500);

// One GET command whose reply holds one event, from SendPacket to the callback. The sender's pause
// between passes is shortened to 1 ms so that the figure shows the pipeline, not the 200 ms pause;
// the event thread keeps its 5 ms poll.
void BM_CommandRoundTrip(benchmark::State& state) {
    test::TestHttpServer server;
    server.SetDefault(
        test::ScriptedReply::Body("\x02"
                                  "999\x05"
                                  "1\x05"
                                  "1\x05"
                                  "x\x03"));
    Net net;
    net.SetBaseUrl(server.BaseUrl());
    net.Send().SetInterval(1);
    std::mutex mutex;
    std::condition_variable cv;
    size_t received = 0;
    net.SetCallback([&](InPacketList batch) {
        std::lock_guard lock(mutex);
        received += batch.size();
        cv.notify_all();
    });
    net.StartWorkers();
    size_t expected = 0;
    for (auto _ : state) {
        auto packet = std::make_unique<OutPacket>();
        packet->path = "/c/a.php?";
        packet->tries = 1;
        net.SendPacket(std::move(packet));
        ++expected;
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return received >= expected; });
    }
}
BENCHMARK(BM_CommandRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace morvale

BENCHMARK_MAIN();
