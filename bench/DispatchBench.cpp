// Micro-benchmarks of the dispatch layer: the costs the logging path pays per record.
#include <benchmark/benchmark.h>

#include <atomic>

#include "dispatch/Group.h"
#include "dispatch/SerialQueue.h"

namespace {

using dispatch::SerialQueue;

// Asynchronous submission of small items to a serial queue, including the time to drain them.
void BM_AsyncSerialDrained(benchmark::State& state) {
    auto queue = SerialQueue::create("bench.async");
    constexpr int kBatch = 1000;
    std::atomic<long> ran{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            queue->async([&ran] { ran.fetch_add(1, std::memory_order_relaxed); });
        queue->sync([] {});
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_AsyncSerialDrained)->UseRealTime();

// A synchronous item on an idle queue: runs on the caller's thread (the per-record fan-out path).
void BM_SyncIdle(benchmark::State& state) {
    static auto queue = SerialQueue::create("bench.idle");
    long counter = 0;
    for (auto _ : state) queue->sync([&counter] { ++counter; });
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncIdle)->UseRealTime();
// Two callers on one queue: often one finds it busy and waits its turn.
BENCHMARK(BM_SyncIdle)->Threads(2)->UseRealTime();

// A synchronous item behind an asynchronous one: the queue is busy, the caller waits for a worker to hand it
// the queue (a thread wake-up each way).
void BM_SyncBusy(benchmark::State& state) {
    auto queue = SerialQueue::create("bench.busy");
    long counter = 0;
    for (auto _ : state) {
        queue->async([&counter] { ++counter; });
        queue->sync([&counter] { ++counter; });
    }
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncBusy)->UseRealTime();

// Group fan-out of one item to each of two serial queues, then a wait for both.
void BM_GroupFanOutTwoQueues(benchmark::State& state) {
    auto first = SerialQueue::create("bench.fan1");
    auto second = SerialQueue::create("bench.fan2");
    std::atomic<long> counter{0};
    for (auto _ : state) {
        dispatch::Group group;
        group.async(*first, [&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        group.async(*second, [&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        group.wait();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GroupFanOutTwoQueues)->UseRealTime();

// The same fan-out done as two synchronous calls on idle queues: no thread switch at all.
void BM_SyncFanOutTwoQueues(benchmark::State& state) {
    auto first = SerialQueue::create("bench.sfan1");
    auto second = SerialQueue::create("bench.sfan2");
    long counter = 0;
    for (auto _ : state) {
        first->sync([&counter] { ++counter; });
        second->sync([&counter] { ++counter; });
    }
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncFanOutTwoQueues)->UseRealTime();

}  // namespace
