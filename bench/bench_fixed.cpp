// The fixed filter as a user runs it (TPXCommonFilter::ProcessFrame) at 1920x1080, one call and
// bands on 2 threads, next to the OpenCV calls that do the same work: cv::Sobel (dy = 1 is the
// horizontal detector's row below minus row above; dx = 1 with scale -1 the vertical one's left
// minus right, both saturated to 8 bits), cv::Laplacian (its own 3x3 / 5x5 masks, same size) and
// cv::GaussianBlur (3x3 is the same [1 2 1] mask; 5x5 with sigma 1). The cross and colour medians
// have no OpenCV counterpart. Registered at load time; run them with --benchmark_filter=Fixed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filters/neighbourhood/PXFixedFilter.h"
#include "platform/kernels/FixedFilters.h"
#include "platform/threads/PXBandPool.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace pixora::bench {
namespace {

constexpr int KWidth = 1920, KHeight = 1080;

IPXImageBuffer NoiseFrame(TPXVideoFormat format) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
    std::mt19937 random(7);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(random() >> 24);
    return frame;
}

void Fixed(benchmark::State& state, TPXVideoFormat format, TPXFixedFilterType type, TPXFixedMaskSize mask, int threads) {
    const IPXImageBuffer in = NoiseFrame(format);
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(type);
    filter.SetMaskSize(mask);
    filter.SetMultiCore(threads > 1);
    TBandPool::Instance().SetThreadCount(threads);
    filter.ProcessFrame(in);  // fills the frame pool outside the timing
    for (auto _ : state) {
        IPXImageBuffer out = filter.ProcessFrame(in);
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * KWidth * KHeight);
}

enum class TCvOp { None, SobelHoriz, SobelVert, Laplacian3, Laplacian5, Gauss3, Gauss5 };

#ifdef PIXORA_HAVE_OPENCV
void OpenCV(benchmark::State& state, TPXVideoFormat format, TCvOp op, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(KHeight, KWidth, format == vfRGB24 ? CV_8UC3 : CV_8UC1), out;
    cv::randu(in, 0, 255);
    for (auto _ : state) {
        switch (op) {
        case TCvOp::SobelHoriz: cv::Sobel(in, out, CV_8U, 0, 1, 3); break;
        case TCvOp::SobelVert: cv::Sobel(in, out, CV_8U, 1, 0, 3, -1.0); break;
        case TCvOp::Laplacian3: cv::Laplacian(in, out, CV_8U, 3); break;
        case TCvOp::Laplacian5: cv::Laplacian(in, out, CV_8U, 5); break;
        case TCvOp::Gauss3: cv::GaussianBlur(in, out, {3, 3}, 0); break;
        case TCvOp::Gauss5: cv::GaussianBlur(in, out, {5, 5}, 1.0); break;
        case TCvOp::None: break;
        }
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * KWidth * KHeight);
    cv::setNumThreads(1);
}
#endif

// What bands on 2 threads can gain at best on this machine: each band copies its rows of a
// 1920x1080 frame (memcpy), cut as the filters cut them (64 KiB blocks). Bands2 / Single is the
// memory system's own 2-thread scaling for a frame that size.
void BandCopy(benchmark::State& state, int channels, int threads) {
    const std::size_t rowBytes = std::size_t(KWidth) * std::size_t(channels);
    std::vector<uint8_t> src(rowBytes * KHeight, 91), dst(rowBytes * KHeight, 0);
    TBandPool& pool = TBandPool::Instance();
    pool.SetThreadCount(threads);
    const auto band = [&](int y, int h) {
        std::memcpy(dst.data() + rowBytes * std::size_t(y), src.data() + rowBytes * std::size_t(y),
                    rowBytes * std::size_t(h));
    };
    const std::function<void(int, int)> bandFunction(std::ref(band));
    RunBands(&pool, 0, KHeight, int(rowBytes), 65536, bandFunction);
    for (auto _ : state) {
        RunBands(&pool, 0, KHeight, int(rowBytes), 65536, bandFunction);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rowBytes) * KHeight * 2);
    pool.SetThreadCount(1);
}

// The kernel alone in the same bands, without the filter around it (no frame from the pool, no
// copy of the frame's border): what is left of Bands2 / Single when only the kernel is cut.
void BandKernel(benchmark::State& state, kernels::TFixedKernel kernel, int channels, int threads) {
    const int rowSamples = KWidth * channels;
    std::vector<uint8_t> src(std::size_t(rowSamples) * KHeight), dst(src.size(), 0);
    std::mt19937 random(3);
    for (uint8_t& v : src) v = uint8_t(random() >> 24);
    const ConstView<uint8_t> in{src.data(), rowSamples, KWidth, KHeight, channels};
    const View<uint8_t> out{dst.data(), rowSamples, KWidth, KHeight, channels};
    const int reach = kernels::FixedKernelReach(kernel);
    const TRect rect = kernels::FixedKernelRect({0, 0, KWidth, KHeight}, KWidth, KHeight, reach);
    TBandPool& pool = TBandPool::Instance();
    pool.SetThreadCount(threads);
    const auto band = [&](int y, int h) { kernels::FixedFilter(in, out, TRect{rect.X, y, rect.Width, h}, kernel); };
    const std::function<void(int, int)> bandFunction(std::ref(band));
    RunBands(&pool, rect.Y, rect.Height, rowSamples, 65536, bandFunction);
    for (auto _ : state) {
        RunBands(&pool, rect.Y, rect.Height, rowSamples, 65536, bandFunction);
        benchmark::ClobberMemory();
    }
    pool.SetThreadCount(1);
}

// The pool's two hand-overs on 2 threads, per Run of 2 tasks: how long after one task starts the
// other starts on the other thread (the worker's wake-up), and how long after the worker's task
// ends the caller returns from Run (the caller's wake-up: it has run out of tasks and waits for
// the worker). Each task waits until both have begun; the worker's then works 20 us so that the
// caller is waiting when it ends. Arg 0: back to back with the previous Run; arg 1: the worker
// has been idle 2 ms since, as between frames. Counters: minimum and median over the
// iterations, in microseconds.
void BandWakeLatency(benchmark::State& state) {
    TBandPool& pool = TBandPool::Instance();
    pool.SetThreadCount(2);
    const bool rested = state.range(0) == 1;
    using TClock = std::chrono::steady_clock;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> started[2];
    TClock::time_point startAt[2], workerDone;
    const std::function<void(int)> task = [&](int index) {
        startAt[index] = TClock::now();
        started[index].store(true, std::memory_order_release);
        while (!started[1 - index].load(std::memory_order_acquire)) {
        }
        if (std::this_thread::get_id() != caller) {
            while (TClock::now() - startAt[index] < std::chrono::microseconds(20)) {
            }
            workerDone = TClock::now();
        }
    };
    std::vector<double> wake, back;
    for (auto _ : state) {
        state.PauseTiming();
        if (rested) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        started[0].store(false);
        started[1].store(false);
        state.ResumeTiming();
        pool.Run(2, task);
        const TClock::time_point returned = TClock::now();
        const auto gap = startAt[1] > startAt[0] ? startAt[1] - startAt[0] : startAt[0] - startAt[1];
        wake.push_back(std::chrono::duration<double, std::micro>(gap).count());
        back.push_back(std::chrono::duration<double, std::micro>(returned - workerDone).count());
    }
    for (auto* v : {&wake, &back}) std::sort(v->begin(), v->end());
    state.counters["start_min_us"] = wake.front();
    state.counters["start_med_us"] = wake[wake.size() / 2];
    state.counters["end_min_us"] = back.front();
    state.counters["end_med_us"] = back[back.size() / 2];
    pool.SetThreadCount(1);
}

// Two threads doing pure arithmetic (no memory traffic): 1080 one-row bands of a fixed
// integer recurrence each. Bands2 / Single shows whether this machine's two hardware threads
// compute in parallel at full speed.
void BandCompute(benchmark::State& state, int threads) {
    TBandPool& pool = TBandPool::Instance();
    pool.SetThreadCount(threads);
    std::vector<uint64_t> sink(KHeight);
    const auto band = [&](int y, int h) {
        for (int row = y; row < y + h; ++row) {
            uint64_t x = uint64_t(row) + 1;
            for (int i = 0; i < 2000; ++i) x = x * 6364136223846793005ull + 1442695040888963407ull;
            sink[std::size_t(row)] = x;
        }
    };
    const std::function<void(int, int)> bandFunction(std::ref(band));
    for (auto _ : state) {
        RunBands(&pool, 0, KHeight, KWidth, 34 * KWidth, bandFunction);
        benchmark::DoNotOptimize(sink.data());
    }
    pool.SetThreadCount(1);
}

void Register() {
    struct TCase {
        const char* Name;
        TPXFixedFilterType Type;
        TPXFixedMaskSize Mask;
        TCvOp Cv;
        const char* CvName;
    };
    const TCase cases[] = {
        {"SobelHoriz", ftSobelHoriz, fms3x3, TCvOp::SobelHoriz, "OpenCV_Sobel_dy1"},
        {"SobelVert", ftSobelVert, fms3x3, TCvOp::SobelVert, "OpenCV_Sobel_dx1_neg"},
        {"Laplace3x3", ftLaplace, fms3x3, TCvOp::Laplacian3, "OpenCV_Laplacian3"},
        {"Laplace5x5", ftLaplace, fms5x5, TCvOp::Laplacian5, "OpenCV_Laplacian5"},
        {"Gauss3x3", ftGauss, fms3x3, TCvOp::Gauss3, "OpenCV_GaussianBlur3x3"},
        {"Gauss5x5", ftGauss, fms5x5, TCvOp::Gauss5, "OpenCV_GaussianBlur5x5"},
        {"MedianCross3x3", ftMedianCross, fms3x3, TCvOp::None, nullptr},
        {"MedianCross5x5", ftMedianCross, fms5x5, TCvOp::None, nullptr},
        {"MedianColor3x3", ftMedianColor, fms3x3, TCvOp::None, nullptr},
        {"MedianColor5x5", ftMedianColor, fms5x5, TCvOp::None, nullptr},
    };
    for (TPXVideoFormat format : {vfGray8, vfRGB24}) {
        const std::string suffix = std::string(format == vfGray8 ? "/Gray8" : "/RGB24") + "/1920x1080";
        for (const TCase& c : cases) {
            if (c.Type == ftMedianColor && format != vfRGB24) continue;
            for (int threads : {1, 2}) {
                const std::string run = threads == 1 ? "/Single" : "/Bands2";
                benchmark::RegisterBenchmark(("Fixed/" + std::string(c.Name) + run + suffix).c_str(), Fixed, format,
                                             c.Type, c.Mask, threads)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
                if (c.Cv != TCvOp::None)
                    benchmark::RegisterBenchmark(
                        ("Fixed/" + std::string(c.CvName) + (threads == 1 ? "/Single" : "/Threads2") + suffix).c_str(),
                        OpenCV, format, c.Cv, threads)
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime();
#endif
            }
        }
    }
}

void RegisterBandLimits() {
    for (int channels : {1, 3})
        for (int threads : {1, 2})
            benchmark::RegisterBenchmark((std::string("FixedBands/Copy/") + (threads == 1 ? "Single" : "Bands2") +
                                          (channels == 1 ? "/Gray8" : "/RGB24") + "/1920x1080")
                                             .c_str(),
                                         BandCopy, channels, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
    for (int threads : {1, 2})
        benchmark::RegisterBenchmark((std::string("FixedBands/Compute/") + (threads == 1 ? "Single" : "Bands2")).c_str(),
                                     BandCompute, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    for (int threads : {1, 2})
        benchmark::RegisterBenchmark((std::string("FixedBands/KernelOnly/SobelVert/") +
                                      (threads == 1 ? "Single" : "Bands2") + "/Gray8/1920x1080")
                                         .c_str(),
                                     BandKernel, kernels::TFixedKernel::SobelVert, 1, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::RegisterBenchmark("FixedBands/WakeLatency", BandWakeLatency)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
}

// Registered when the binary loads, beside the families that BenchMain registers by name.
const bool KRegistered = (Register(), RegisterBandLimits(), true);

}  // namespace
}  // namespace pixora::bench
