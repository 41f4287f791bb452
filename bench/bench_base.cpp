#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "AllocCounter.h"
#include "norvale/ApsFrame.h"
#include "norvale/Logger.h"
#include "norvale/ObjectPool.h"

using namespace norvale;

// A message below the level must cost one comparison: compare with an empty loop.
static void BM_LogSuppressed(benchmark::State& state) {
    Logger& logger = Logger::Instance();
    logger.setLogLevel(LOG_INFO);
    int i = 0;
    for (auto _ : state) {
        logger.log_(LOG_DEBUG, __FILE__, __LINE__, "value %d of %s", i++, "frame");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LogSuppressed);

static void BM_EmptyLoopBaseline(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(i++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EmptyLoopBaseline);

// After warm-up, acquire and release must not allocate (the shared pointer's control block is
// the one allocation a shared_ptr with a custom deleter needs; it is counted and reported).
static void BM_PoolAcquireRelease(benchmark::State& state) {
    auto pool = NrObjectPoolFactory::createUniqueNrObjectPoolWithArgs<std::vector<Event2D>>(4, 1024);
    for (int i = 0; i < 16; ++i) pool->acquire()->push_back(Event2D{});
    const uint64_t before = bench::allocationCount();
    for (auto _ : state) {
        auto buffer = pool->acquire();
        buffer->clear();
        buffer->push_back(Event2D{1, 2, 1, 3});
        benchmark::DoNotOptimize(buffer->data());
    }
    const uint64_t allocations = bench::allocationCount() - before;
    state.counters["allocs_per_cycle"] = double(allocations) / double(state.iterations());
}
BENCHMARK(BM_PoolAcquireRelease);

static void BM_NewVectorEachTime(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<Event2D> buffer(1024);
        buffer.clear();
        buffer.push_back(Event2D{1, 2, 1, 3});
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_NewVectorEachTime);

static void BM_ApsFrameCopy4K(benchmark::State& state) {
    ApsFrame frame(3840, 2160, 0, 0);
    for (auto _ : state) {
        ApsFrame copy = frame;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_ApsFrameCopy4K);

static void BM_ApsFrameClone4K(benchmark::State& state) {
    ApsFrame frame(3840, 2160, 0, 0);
    for (auto _ : state) {
        ApsFrame copy = frame.clone();
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.getDataSize()));
}
BENCHMARK(BM_ApsFrameClone4K)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
