// The framework's own cost: a source feeding 1, 5 and 10 disabled negative filters at 320x240,
// inline and each on its own thread. Reports frames per second and heap allocations per frame
// in steady state; also the real Jaehne generator running offline through the same chains.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

#include "AllocCounter.h"
#include "filters/point/PXNegative.h"
#include "generators/PXJaehneGen.h"
#include "platform/filters/PXBasicVideoOut.h"

namespace pixora::bench {
namespace {

class TCountingSink final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCountingSink, TPXBasicVideoOut>("TBenchSink", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::atomic<int64_t> Frames{0};
    std::atomic<bool> Stopped{false};

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        if (op.Kind() == TOperationKind::SuppliedBuffer) Frames.fetch_add(1, std::memory_order_relaxed);
        if (op.Kind() == TOperationKind::Stop) Stopped = true;
        return true;
    }
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
    void WaitIdle() {
        for (auto& filter : Filters) filter->WaitIdle();
    }
};

// Frames pushed into the first filter from a pooled copy of one source frame.
void PushedChain(benchmark::State& state, int filters, bool threaded) {
    TChain chain(filters, threaded);
    const IPXImageBuffer source = TPXImageBuffer::CreateSize(320, 240, vfRGB24);
    source->Clear();
    TLRSinkPin& input = chain.Filters.front()->InputPin;
    input.Receive(TLRStartFrameOperation::Make(320, 240, vfRGB24, 400000));
    int64_t index = 0;
    const auto push = [&] {
        IPXImageBuffer frame = TPXImageBuffer::CreateCopy(source);
        frame->SetTimeStamp({true, index * 400000, (index + 1) * 400000});
        ++index;
        input.Receive(TLRSuppliedBufferOperation::Make(std::move(frame)));
    };
    for (int i = 0; i < 500; ++i) push();  // warm-up to the pools' working size
    chain.WaitIdle();
    const long allocationsBefore = AllocationCount();
    const int64_t framesBefore = chain.Sink.Frames.load();
    for (auto _ : state) push();
    chain.WaitIdle();
    const long allocations = AllocationCount() - allocationsBefore;
    const int64_t frames = chain.Sink.Frames.load() - framesBefore;
    state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
    input.Receive(TLRStopOperation());
    chain.WaitIdle();
}

// The real generator, offline, as fast as the chain accepts.
void GeneratedChain(benchmark::State& state, int filters, bool threaded) {
    TChain chain(filters, threaded);
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(320, 240);
    gen.OutputPin.Connect(chain.Filters.front()->InputPin);
    constexpr int64_t KFrames = 400;
    int64_t frames = 0;
    for (auto _ : state) {
        chain.Sink.Stopped = false;
        gen.Start({TRunMode::Offline, KFrames});
        while (!chain.Sink.Stopped.load()) std::this_thread::yield();
        frames += KFrames;
    }
    gen.Stop();
    state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

}  // namespace

void RegisterPipelineBenchmarks() {
    for (bool threaded : {false, true})
        for (int filters : {1, 5, 10}) {
            const std::string mode = threaded ? "Threaded" : "Inline";
            benchmark::RegisterBenchmark(("Pipeline/Pushed/" + mode + "/" + std::to_string(filters) + "filters/320x240").c_str(),
                                         PushedChain, filters, threaded)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->Iterations(20000);
            benchmark::RegisterBenchmark(
                ("Pipeline/JaehneGen/" + mode + "/" + std::to_string(filters) + "filters/320x240").c_str(), GeneratedChain,
                filters, threaded)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(3);
        }
}

}  // namespace pixora::bench
