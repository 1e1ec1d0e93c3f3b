// Negative and solarize as a user runs them (TPXCommonFilter::ProcessFrame: output frame from
// the pool, region logic, path choice), single call and bands on 2 threads, next to a frame
// copy into a pooled frame (the memory floor; one memcpy and row by row) and OpenCV's
// bitwise_not and LUT at 1920x1080. Bytes processed count each frame twice: read and written.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <tuple>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace pixora::bench {
namespace {

constexpr int KWidth = 1920, KHeight = 1080;

IPXImageBuffer MakeFrame(TPXVideoFormat format) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(i * 2654435761u >> 13);
    return frame;
}

void SetBytes(benchmark::State& state, const IPXImageBuffer& frame) {
    // Read once and written once per frame.
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame->GetDataSize()) * 2);
}

void FrameCopy(benchmark::State& state, TPXVideoFormat format) {
    const IPXImageBuffer in = MakeFrame(format);
    for (auto _ : state) {
        IPXImageBuffer out = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
        std::memcpy(out->GetWritePointer(), in->GetReadPointer(), in->GetDataSize());
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    SetBytes(state, in);
}

// The same copy one row at a time, as a filter that honours the line size has to do it.
void FrameRowCopy(benchmark::State& state, TPXVideoFormat format) {
    const IPXImageBuffer in = MakeFrame(format);
    const std::size_t rowBytes = std::size_t(in->GetWidth()) * std::size_t(in->GetBitsPerPixel() / 8);
    const std::ptrdiff_t lineSize = in->GetLineSize();
    for (auto _ : state) {
        IPXImageBuffer out = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
        const uint8_t* src = in->GetReadPointer();
        uint8_t* dst = out->GetWritePointer();
        const std::ptrdiff_t outLineSize = out->GetLineSize();
        for (int y = 0; y < KHeight; ++y) std::memcpy(dst + y * outLineSize, src + y * lineSize, rowBytes);
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    SetBytes(state, in);
}

template <class TFilter>
void Filter(benchmark::State& state, TPXVideoFormat format, int threads, int blockSize) {
    const IPXImageBuffer in = MakeFrame(format);
    TFilter filter;
    filter.SetThreaded(false);
    filter.SetMultiCore(threads > 1);
    if (blockSize > 0) filter.SetBlockSize(blockSize);
    TBandPool::Instance().SetThreadCount(threads);
    for (auto _ : state) {
        IPXImageBuffer out = filter.ProcessFrame(in);
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    SetBytes(state, in);
}

#ifdef PIXORA_HAVE_OPENCV
int CvType(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return CV_8UC3;
    case vfRGBA32: return CV_8UC4;
    case vfGray8: return CV_8UC1;
    default: return CV_16UC1;
    }
}

void CvNegative(benchmark::State& state, TPXVideoFormat format, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(KHeight, KWidth, CvType(format)), out;
    cv::randu(in, 0, format == vfGray16 ? 65536 : 256);
    for (auto _ : state) {
        cv::bitwise_not(in, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.total() * in.elemSize()) * 2);
    cv::setNumThreads(1);
}

// Solarize as OpenCV users write it: a 256-entry table through cv::LUT (8-bit only).
void CvSolarize(benchmark::State& state, TPXVideoFormat format, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(KHeight, KWidth, CvType(format)), out, table(1, 256, CV_8U);
    cv::randu(in, 0, 256);
    for (int i = 0; i < 256; ++i) table.at<uint8_t>(i) = uint8_t(i < 128 ? 255 - i : i);
    for (auto _ : state) {
        cv::LUT(in, table, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.total() * in.elemSize()) * 2);
    cv::setNumThreads(1);
}
// 16-bit solarize (OpenCV has no 16-bit LUT). At the filter's default level 0.5 (32768 in 16
// bits) a sample below the level becomes 65535 - s and any other is kept, which is
// max(s, 65535 - s): bitwise_not then max, two passes over the frame.
void CvSolarize16(benchmark::State& state, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(KHeight, KWidth, CV_16UC1), inverted, out;
    cv::randu(in, 0, 65536);
    for (auto _ : state) {
        cv::bitwise_not(in, inverted);
        cv::max(in, inverted, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.total() * in.elemSize()) * 2);
    cv::setNumThreads(1);
}
#endif

}  // namespace

void RegisterFilterBenchmarks() {
    const struct {
        const char* Name;
        TPXVideoFormat Format;
    } formats[] = {{"RGB24", vfRGB24}, {"RGBA32", vfRGBA32}, {"Gray8", vfGray8}, {"Gray16", vfGray16}};
    for (const auto& f : formats) {
        const std::string suffix = std::string("/") + f.Name + "/1920x1080";
        benchmark::RegisterBenchmark(("Frame/PooledCopy" + suffix).c_str(), FrameCopy, f.Format)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Frame/PooledRowCopy" + suffix).c_str(), FrameRowCopy, f.Format)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        for (const auto& [threads, block, label] :
             {std::tuple{1, 0, "Single"}, std::tuple{2, 0, "Bands2"}, std::tuple{2, 1 << 18, "Bands2_256K"}}) {
            benchmark::RegisterBenchmark(("Frame/Negative/" + std::string(label) + suffix).c_str(), Filter<TPXNegative>,
                                         f.Format, threads, block)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("Frame/Solarize/" + std::string(label) + suffix).c_str(), Filter<TPXSolarize>,
                                         f.Format, threads, block)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        }
#ifdef PIXORA_HAVE_OPENCV
        for (int threads : {1, 2}) {
            const std::string t = threads == 1 ? "Single" : "Threads2";
            benchmark::RegisterBenchmark(("Frame/OpenCV_bitwise_not/" + t + suffix).c_str(), CvNegative, f.Format, threads)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
            if (f.Format != vfGray16)
                benchmark::RegisterBenchmark(("Frame/OpenCV_LUT_solarize/" + t + suffix).c_str(), CvSolarize, f.Format,
                                             threads)
                    ->Unit(benchmark::kMicrosecond)
                    ->UseRealTime();
            else
                benchmark::RegisterBenchmark(("Frame/OpenCV_not_max_solarize/" + t + suffix).c_str(), CvSolarize16,
                                             threads)
                    ->Unit(benchmark::kMicrosecond)
                    ->UseRealTime();
        }
#endif
    }
}

}  // namespace pixora::bench
