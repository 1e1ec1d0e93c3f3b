// Two-frame combine kernels on full-HD frames, next to the OpenCV equivalents in the same binary.
//
// The library's combine operations are add, subtract, multiply, divide, or, and, xor, absolute
// difference and copy (vfRGBA32: alpha compositing). It has no minimum or maximum operation, so
// there is no counterpart to cv::min / cv::max; the alpha blend is the vfRGBA32 copy (input 2
// composited over input 1 by its alpha), compared with cv::addWeighted. Two threads: the frame is
// cut into two bands run on the band pool (our kernels) or cv::setNumThreads(2) (OpenCV).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "filters/combine/PXCombine.h"
#include "platform/kernels/Combine.h"
#include "platform/threads/PXBandPool.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using namespace pixora;

constexpr int KWidth = 1920, KHeight = 1080;

struct TCombineFrames {
    TPXVideoFormat Format;
    int PixelBytes;
    std::ptrdiff_t Step;
    std::vector<uint8_t> A, B, D;
    explicit TCombineFrames(TPXVideoFormat format)
        : Format(format), PixelBytes(format == vfRGBA32 ? 4 : format == vfRGB24 ? 3 : format == vfGray16 ? 2 : 1),
          Step(std::ptrdiff_t(KWidth) * PixelBytes), A(std::size_t(Step) * KHeight), B(A.size()), D(A.size()) {
        uint32_t x = 12345;
        for (std::size_t i = 0; i < A.size(); ++i) {
            x = x * 1664525u + 1013904223u;
            A[i] = uint8_t(x >> 16);
            B[i] = uint8_t(x >> 24);
        }
    }
    std::size_t Bytes() const { return A.size(); }
};

// threads 1: one call over the frame; 2: two bands on a two-thread pool.
void RunBands(int threads, const std::function<void(int y0, int rows)>& band) {
    if (threads <= 1) {
        band(0, KHeight);
        return;
    }
    static TBandPool pool(2);
    const int rows = (KHeight + threads - 1) / threads;
    pool.Run(threads, [&](int i) { band(i * rows, std::min(rows, KHeight - i * rows)); });
}

void Combine(benchmark::State& state, TPXCombineOperation op, TPXVideoFormat format) {
    TCombineFrames f(format);
    const int threads = int(state.range(0));
    for (auto _ : state) {
        RunBands(threads, [&](int y0, int rows) {
            const std::ptrdiff_t at = std::ptrdiff_t(y0) * f.Step;
            kernels::CombineOp(op, format, f.A.data() + at, f.Step, f.B.data() + at, f.Step, f.D.data() + at, f.Step,
                               {KWidth, rows});
        });
        benchmark::DoNotOptimize(f.D.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()) * 3);
}

// The coefficient step on one input (k from 0.6).
void Coefficient(benchmark::State& state, TPXVideoFormat format) {
    TCombineFrames f(format);
    const int threads = int(state.range(0));
    const int k = kernels::CoefficientScale(format, 0.6);
    for (auto _ : state) {
        RunBands(threads, [&](int y0, int rows) {
            kernels::ScaleSamples(format, f.A.data() + std::ptrdiff_t(y0) * f.Step, f.Step, {KWidth, rows}, k);
        });
        benchmark::DoNotOptimize(f.A.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()) * 2);
}

// TPXCombine end to end on two 1080p frames (layout, output frame, coefficient copies, operation).
void CombineComponent(benchmark::State& state, TPXCombineOperation op, TPXVideoFormat format, double coefficient) {
    TCombineFrames f(format);
    const IPXImageBuffer a = TPXImageBuffer::CreateData(f.A.data(), KWidth, KHeight, format);
    const IPXImageBuffer b = TPXImageBuffer::CreateData(f.B.data(), KWidth, KHeight, format);
    TPXCombine combine;
    combine.SetCombineOperation(op);
    combine.SetCoefficient1(coefficient);
    IPXImageBuffer out;
    for (auto _ : state) {
        combine.ProcessFrame(a, b, out);
        benchmark::DoNotOptimize(out->GetReadPointer());
        out.Reset();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()) * 3);
}

#ifdef PIXORA_HAVE_OPENCV
enum class TCvOp { Add, Subtract, Multiply, Divide, AbsDiff, Min, Max, AddWeighted };

void OpenCv(benchmark::State& state, TCvOp op, TPXVideoFormat format) {
    TCombineFrames f(format);
    const int type = format == vfRGBA32 ? CV_8UC4 : format == vfRGB24 ? CV_8UC3 : format == vfGray16 ? CV_16UC1 : CV_8UC1;
    cv::Mat a(KHeight, KWidth, type, f.A.data(), std::size_t(f.Step));
    cv::Mat b(KHeight, KWidth, type, f.B.data(), std::size_t(f.Step));
    cv::Mat d(KHeight, KWidth, type, f.D.data(), std::size_t(f.Step));
    const int previous = cv::getNumThreads();
    cv::setNumThreads(int(state.range(0)));
    for (auto _ : state) {
        switch (op) {
        case TCvOp::Add: cv::add(a, b, d); break;
        case TCvOp::Subtract: cv::subtract(b, a, d); break;
        case TCvOp::Multiply: cv::multiply(a, b, d); break;
        case TCvOp::Divide: cv::divide(b, a, d); break;
        case TCvOp::AbsDiff: cv::absdiff(a, b, d); break;
        case TCvOp::Min: cv::min(a, b, d); break;
        case TCvOp::Max: cv::max(a, b, d); break;
        case TCvOp::AddWeighted: cv::addWeighted(b, 0.5, a, 0.5, 0.0, d); break;
        }
        benchmark::DoNotOptimize(f.D.data());
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previous);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()) * 3);
}

// Multiplication by a constant scale, the OpenCV counterpart of the coefficient step.
void OpenCvScale(benchmark::State& state, TPXVideoFormat format) {
    TCombineFrames f(format);
    const int type = format == vfRGBA32 ? CV_8UC4 : format == vfRGB24 ? CV_8UC3 : CV_8UC1;
    cv::Mat a(KHeight, KWidth, type, f.A.data(), std::size_t(f.Step));
    const int previous = cv::getNumThreads();
    cv::setNumThreads(int(state.range(0)));
    for (auto _ : state) {
        a.convertTo(a, -1, 153.0 / 255.0);
        benchmark::DoNotOptimize(f.A.data());
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previous);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()) * 2);
}
#endif

}  // namespace

// Ours and OpenCV's interleaved, so that both see the same machine load.
#define PIXORA_COMBINE_PAIR(name, ourOp, cvOp, format)                                                     \
    BENCHMARK_CAPTURE(Combine, name##_ours, ourOp, format)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond); \
    BENCHMARK_CAPTURE(OpenCv, name##_opencv, cvOp, format)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond)

#ifdef PIXORA_HAVE_OPENCV
PIXORA_COMBINE_PAIR(CombineAddRGB24, coAdd, TCvOp::Add, vfRGB24);
PIXORA_COMBINE_PAIR(CombineSubtractRGB24, coSubtract, TCvOp::Subtract, vfRGB24);
PIXORA_COMBINE_PAIR(CombineMultiplyRGB24, coMultiply, TCvOp::Multiply, vfRGB24);
PIXORA_COMBINE_PAIR(CombineDivideRGB24, coDivide, TCvOp::Divide, vfRGB24);
PIXORA_COMBINE_PAIR(CombineAbsDiffRGB24, coAbsDiff, TCvOp::AbsDiff, vfRGB24);
PIXORA_COMBINE_PAIR(CombineAddGray16, coAdd, TCvOp::Add, vfGray16);
PIXORA_COMBINE_PAIR(CombineMultiplyGray16, coMultiply, TCvOp::Multiply, vfGray16);
PIXORA_COMBINE_PAIR(CombineAlphaBlendRGBA32, coCopy, TCvOp::AddWeighted, vfRGBA32);
PIXORA_COMBINE_PAIR(CombineAddRGBA32, coAdd, TCvOp::Add, vfRGBA32);
// No min / max among the combine operations: OpenCV's alone, for reference.
BENCHMARK_CAPTURE(OpenCv, CombineMinRGB24_opencv_only, TCvOp::Min, vfRGB24)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenCv, CombineMaxRGB24_opencv_only, TCvOp::Max, vfRGB24)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Coefficient, CombineCoefficientRGB24_ours, vfRGB24)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenCvScale, CombineCoefficientRGB24_opencv, vfRGB24)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
#endif
BENCHMARK_CAPTURE(CombineComponent, CombineComponentAddRGB24, coAdd, vfRGB24, 1.0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(CombineComponent, CombineComponentAddRGB24Coefficient, coAdd, vfRGB24, 0.5)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(CombineComponent, CombineComponentCopyRGBA32, coCopy, vfRGBA32, 1.0)->UseRealTime()->Unit(benchmark::kMicrosecond);
#ifndef PIXORA_HAVE_OPENCV
BENCHMARK_CAPTURE(Combine, CombineAddRGB24_ours, coAdd, vfRGB24)->Arg(1)->Arg(2)->UseRealTime();
BENCHMARK_CAPTURE(Combine, CombineAlphaBlendRGBA32_ours, coCopy, vfRGBA32)->Arg(1)->Arg(2)->UseRealTime();
BENCHMARK_CAPTURE(Coefficient, CombineCoefficientRGB24_ours, vfRGB24)->Arg(1)->Arg(2)->UseRealTime();
#endif
