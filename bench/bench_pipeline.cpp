// The framework's own cost: a source feeding 1, 5 and 10 disabled negative filters at 320x240,
// inline and each on its own thread, ending in a counting sink. Reports frames per second and
// heap allocations per frame in steady state; first with frames pushed straight into the first
// filter, then with the real Jaehne generator running offline through the same chains.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "filters/point/PXNegative.h"
#include "generators/PXJaehneGen.h"
#include "platform/filters/PXBasicVideoOut.h"

namespace pixora::bench {
namespace {

constexpr int KWidth = 320, KHeight = 240;
constexpr int64_t KDuration = 400000;  // 25 frames per second, in 100 ns units

// Frame objects and pixel blocks the image pool has allocated so far: its growth towards the
// high-water mark of frames in flight, which a threaded chain may reach late.
int64_t PoolGrowth() {
    const TPXPoolStats stats = GetImagePoolStats();
    return int64_t(stats.BlockAllocations + stats.FrameAllocations);
}

// Counts the frames of each stream and, between frames WindowBegin and WindowEnd of a stream,
// the heap allocations of the whole process: the steady-state window, after the pools have
// reached their working size and before the stream winds down.
class TCountingSink final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCountingSink, TPXBasicVideoOut>("TBenchSink", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    int64_t WindowBegin = 100, WindowEnd = 300;
    std::atomic<int64_t> Frames{0};          // every frame received
    std::atomic<bool> Stopped{false};        // the current stream has ended
    std::atomic<int64_t> WindowFrames{0};    // frames inside completed windows
    std::atomic<int64_t> WindowAllocations{0};
    std::atomic<int64_t> WindowPoolGrowth{0};  // frame objects and pixel blocks the pool had to make

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        switch (op.Kind()) {
        case TOperationKind::StartFrame:
            FStreamFrames = 0;
            break;
        case TOperationKind::SuppliedBuffer: {
            const int64_t index = FStreamFrames++;
            if (index == WindowBegin) {
                FWindowStart = AllocationCount();
                FPoolStart = PoolGrowth();
            }
            if (index == WindowEnd) {
                WindowAllocations.fetch_add(AllocationCount() - FWindowStart);
                WindowPoolGrowth.fetch_add(PoolGrowth() - FPoolStart);
                WindowFrames.fetch_add(WindowEnd - WindowBegin);
            }
            Frames.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        case TOperationKind::Stop:
            Stopped = true;
            Stopped.notify_all();
            break;
        default: break;
        }
        return true;
    }

private:
    // Touched only on the delivering thread, one stream at a time.
    int64_t FStreamFrames = 0;
    long FWindowStart = 0;
    int64_t FPoolStart = 0;
};

struct TChain {
    std::vector<std::unique_ptr<TPXNegative>> Filters;
    TCountingSink Sink;
    TChain(int count, bool threaded) {
        for (int i = 0; i < count; ++i) {
            Filters.push_back(std::make_unique<TPXNegative>());
            Filters.back()->SetEnabled(false);
            Filters.back()->SetThreaded(threaded);
            if (i > 0) Filters[std::size_t(i) - 1]->OutputPin.Connect(Filters.back()->InputPin);
        }
        Filters.back()->OutputPin.Connect(Sink.InputPin);
    }
    // Filters drain in chain order: once one is idle, nothing more reaches the next.
    void WaitIdle() {
        for (auto& filter : Filters) filter->WaitIdle();
    }
};

// Fills the image pool up to the most frames a chain of `filters` can hold at once (each
// threaded filter: a full queue and the frame in hand; a generator, the sink, the producer):
// the working size a long run reaches, made before the measurement instead of during it.
void PrefillPool(int filters) {
    std::vector<IPXImageBuffer> frames;
    for (int i = 0; i < filters * 8 + 16; ++i) frames.push_back(TPXImageBuffer::CreateSize(KWidth, KHeight, vfRGB24));
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Frames pushed into the first filter, each a pooled frame sharing the pixels of one source
// frame (what a source hands on): the loop measures the filters and the sink, not a generator.
void PushedChain(benchmark::State& state, int filters, bool threaded) {
    TChain chain(filters, threaded);
    PrefillPool(filters);
    const IPXImageBuffer source = TPXImageBuffer::CreateSize(KWidth, KHeight, vfRGB24);
    source->Clear();
    TLRSinkPin& input = chain.Filters.front()->InputPin;
    input.Receive(TLRStartFrameOperation::Make(KWidth, KHeight, vfRGB24, KDuration));
    int64_t index = 0;
    const auto push = [&] {
        IPXImageBuffer frame = TPXImageBuffer::CreateCopy(source);
        frame->SetTimeStamp({true, index * KDuration, (index + 1) * KDuration});
        ++index;
        input.Receive(TLRSuppliedBufferOperation::Make(std::move(frame)));
    };
    for (int i = 0; i < 500; ++i) push();  // warm-up: pools and queues reach their working size
    chain.WaitIdle();
    const long allocationsBefore = AllocationCount();
    const int64_t poolBefore = PoolGrowth();
    const int64_t framesBefore = chain.Sink.Frames.load();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) push();
    chain.WaitIdle();  // frames still queued count, so the clock runs until they are through
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    const long allocations = AllocationCount() - allocationsBefore;
    const int64_t frames = chain.Sink.Frames.load() - framesBefore;
    state.counters["fps"] = double(frames) / seconds;
    state.counters["ns_per_frame"] = frames ? seconds * 1e9 / double(frames) : 0.0;
    state.counters["allocs_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
    state.counters["allocs"] = double(allocations);
    state.counters["pool_growth"] = double(PoolGrowth() - poolBefore);
    if (frames != int64_t(state.iterations())) state.SkipWithError("the sink lost frames");
    input.Receive(TLRStopOperation::Make(false));
    chain.WaitIdle();
}

// The real generator, started offline with a frame limit: as fast as the chain accepts. Each
// iteration is one stream; allocations are counted over frames 100 to 300 of every stream, away
// from the thread starts and stops at either end of it.
void GeneratedChain(benchmark::State& state, int filters, bool threaded) {
    TChain chain(filters, threaded);
    PrefillPool(filters);
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(KWidth, KHeight);
    gen.OutputPin.Connect(chain.Filters.front()->InputPin);
    constexpr int64_t KFrames = 400;
    const auto runStream = [&] {
        chain.Sink.Stopped = false;
        gen.Start({TRunMode::Offline, KFrames});
        chain.Sink.Stopped.wait(false);  // asleep: a spinning waiter would take a core from the chain
    };
    runStream();  // warm-up stream: threads, pools and queues
    const int64_t framesBefore = chain.Sink.Frames.load();
    const int64_t windowFramesBefore = chain.Sink.WindowFrames.load();
    const int64_t windowAllocationsBefore = chain.Sink.WindowAllocations.load();
    const int64_t windowPoolBefore = chain.Sink.WindowPoolGrowth.load();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) runStream();
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    gen.Stop();
    chain.WaitIdle();
    const int64_t frames = chain.Sink.Frames.load() - framesBefore;
    const int64_t windowFrames = chain.Sink.WindowFrames.load() - windowFramesBefore;
    state.counters["fps"] = double(frames) / seconds;
    state.counters["ns_per_frame"] = frames ? seconds * 1e9 / double(frames) : 0.0;
    const int64_t windowAllocations = chain.Sink.WindowAllocations.load() - windowAllocationsBefore;
    state.counters["allocs_per_frame"] = windowFrames ? double(windowAllocations) / double(windowFrames) : 0.0;
    state.counters["allocs"] = double(windowAllocations);
    state.counters["pool_growth"] = double(chain.Sink.WindowPoolGrowth.load() - windowPoolBefore);
    if (frames != KFrames * int64_t(state.iterations())) state.SkipWithError("the sink lost frames");
}

}  // namespace

void RegisterPipelineBenchmarks() {
    for (bool threaded : {false, true})
        for (int filters : {1, 5, 10}) {
            const std::string mode = threaded ? "Threaded" : "Inline";
            const std::string suffix = mode + "/" + std::to_string(filters) + "filters/320x240";
            benchmark::RegisterBenchmark(("Pipeline/Pushed/" + suffix).c_str(), PushedChain, filters, threaded)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->Iterations(20000);
            benchmark::RegisterBenchmark(("Pipeline/JaehneGen/" + suffix).c_str(), GeneratedChain, filters, threaded)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(3);
        }
}

}  // namespace pixora::bench
