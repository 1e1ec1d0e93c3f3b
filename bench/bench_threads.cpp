// Cost of running a frame's bands on the band pool: the pool's own overhead per Run with 1080
// one-row tasks and with 2 tasks, next to running the same tasks inline, and the same bands
// doing real work (inverting a full-HD RGB frame) next to one call over the whole frame.
//
// With PIXORA_HAVE_TBB defined (and TBB::tbb linked) oneTBB's parallel_for runs the same tasks
// for comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "platform/threads/PXBandPool.h"

#ifdef PIXORA_HAVE_TBB
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#endif

namespace {

using namespace pixora;

constexpr int kWidth = 1920, kHeight = 1080, kRowBytes = kWidth * 3;
#ifdef PIXORA_HAVE_TBB
int Cores() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }
#endif

// ---- overhead: tasks that do (almost) nothing

void BM_PoolRunEmptyTasks(benchmark::State& state) {
    TBandPool& pool = TBandPool::Instance();
    const int tasks = static_cast<int>(state.range(0));
    std::vector<std::int64_t> sink(static_cast<std::size_t>(tasks));
    const std::function<void(int)> task = [&](int i) { benchmark::DoNotOptimize(sink[i] += i); };
    pool.Run(tasks, task);  // start the workers outside the timing
    for (auto _ : state) pool.Run(tasks, task);
    state.counters["threads"] = pool.ThreadCount();
    state.counters["per_task_ns"] =
        benchmark::Counter(static_cast<double>(tasks), benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}
BENCHMARK(BM_PoolRunEmptyTasks)->Arg(2)->Arg(1080)->UseRealTime();

void BM_DirectRunEmptyTasks(benchmark::State& state) {
    TDirectExecutor direct;
    const int tasks = static_cast<int>(state.range(0));
    std::vector<std::int64_t> sink(static_cast<std::size_t>(tasks));
    const std::function<void(int)> task = [&](int i) { benchmark::DoNotOptimize(sink[i] += i); };
    for (auto _ : state) direct.Run(tasks, task);
}
BENCHMARK(BM_DirectRunEmptyTasks)->Arg(2)->Arg(1080)->UseRealTime();

#ifdef PIXORA_HAVE_TBB
void BM_TbbParallelForEmptyTasks(benchmark::State& state) {
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(Cores()));
    const int tasks = static_cast<int>(state.range(0));
    std::vector<std::int64_t> sink(static_cast<std::size_t>(tasks));
    const auto body = [&](int i) { benchmark::DoNotOptimize(sink[i] += i); };
    tbb::parallel_for(0, tasks, body);
    for (auto _ : state) tbb::parallel_for(0, tasks, body);
}
BENCHMARK(BM_TbbParallelForEmptyTasks)->Arg(2)->Arg(1080)->UseRealTime();
#endif

// ---- real bands: invert a full-HD RGB frame

struct TFrame {
    std::vector<std::uint8_t> Src = std::vector<std::uint8_t>(std::size_t{kRowBytes} * kHeight, 77);
    std::vector<std::uint8_t> Dst = std::vector<std::uint8_t>(std::size_t{kRowBytes} * kHeight);
    void Invert(int y, int h) {
        const std::uint8_t* s = Src.data() + std::size_t{kRowBytes} * y;
        std::uint8_t* d = Dst.data() + std::size_t{kRowBytes} * y;
        for (std::size_t i = 0, n = std::size_t{kRowBytes} * h; i < n; ++i) d[i] = static_cast<std::uint8_t>(255 - s[i]);
    }
};

// range(0): block size in rows (1: 1080 bands; 540: 2 bands); 0: no pool, one call.
void BM_InvertFrameInBands(benchmark::State& state) {
    TFrame frame;
    const int rows = static_cast<int>(state.range(0));
    IBandExecutor* pool = rows == 0 ? nullptr : &TBandPool::Instance();
    const std::function<void(int, int)> band = [&](int y, int h) { frame.Invert(y, h); };
    for (auto _ : state) {
        RunBands(pool, 0, kHeight, kRowBytes, rows * kRowBytes, band);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kRowBytes * kHeight * 2);
}
BENCHMARK(BM_InvertFrameInBands)->Arg(0)->Arg(1)->Arg(16)->Arg(540)->UseRealTime();

void BM_FrameCopy(benchmark::State& state) {
    TFrame frame;
    for (auto _ : state) {
        std::copy(frame.Src.begin(), frame.Src.end(), frame.Dst.begin());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kRowBytes * kHeight * 2);
}
BENCHMARK(BM_FrameCopy)->UseRealTime();

}  // namespace

