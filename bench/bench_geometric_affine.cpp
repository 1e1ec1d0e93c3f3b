// Rotate, perspective warp and mirror at 1920x1080 RGB24 next to OpenCV's cv::warpAffine,
// cv::warpPerspective and cv::flip with the same transforms: nearest and linear, one thread and
// bands on 2 threads. Registered at load time (static registrar), so BenchMain needs no entry.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "filters/geometric/PXMirror.h"
#include "filters/geometric/PXRotate.h"
#include "filters/geometric/PXWarp.h"
#include "platform/kernels/Warp.h"
#include "platform/threads/PXBandPool.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace pixora::bench {
namespace {

constexpr int kW = 1920, kH = 1080;
constexpr double kAngle = 30;
// Corner offsets of the perspective warp.
constexpr int kLT[2] = {60, 40}, kRT[2] = {-80, 20}, kLB[2] = {30, -50}, kRB[2] = {-40, -70};

IPXImageBuffer Input() {
    IPXImageBuffer in = TPXImageBuffer::CreateSize(kW, kH, vfRGB24);
    uint8_t* data = in->GetWritePointer();
    for (std::size_t i = 0; i < in->GetDataSize(); ++i) data[i] = uint8_t(i * 2654435761u >> 11);
    return in;
}

template <class TFilter>
void Run(benchmark::State& state, TFilter& filter, int threads) {
    const IPXImageBuffer in = Input();
    filter.SetThreaded(false);
    TBandPool::Instance().SetThreadCount(threads);
    filter.ProcessFrame(in);
    for (auto _ : state) benchmark::DoNotOptimize(filter.ProcessFrame(in)->GetReadPointer());
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
    TBandPool::Instance().SetThreadCount(1);
}

void Rotate(benchmark::State& state, TPXInterpolationType type, int threads) {
    TPXRotate rotate;
    rotate.SetAngle(kAngle);
    rotate.SetAutoSize(asInputSize);
    rotate.SetInterpolationType(type);
    rotate.SetSmoothEdge(false);
    rotate.SetMultiCore(threads > 1);
    Run(state, rotate, threads);
}

void Warp(benchmark::State& state, TPXInterpolationType type, int threads) {
    TPXWarp warp;
    warp.SetWarpType(wtPerspective);
    warp.SetAutoSize(asInputSize);
    warp.SetInterpolationType(type);
    warp.SetSmoothEdge(false);
    warp.SetMultiCore(threads > 1);
    warp.LeftTopOffset().SetCX(kLT[0]), warp.LeftTopOffset().SetCY(kLT[1]);
    warp.RightTopOffset().SetCX(kRT[0]), warp.RightTopOffset().SetCY(kRT[1]);
    warp.LeftBottomOffset().SetCX(kLB[0]), warp.LeftBottomOffset().SetCY(kLB[1]);
    warp.RightBottomOffset().SetCX(kRB[0]), warp.RightBottomOffset().SetCY(kRB[1]);
    Run(state, warp, threads);
}

// A slight tilt and scale (the linear part of the perspective warp above): each destination row
// reads the source along a path that steps to the next source row every ~80 pixels. The kernel
// alone, on plain buffers.
constexpr double kTilt[2][3] = {{0.926, -0.0288, 60}, {-0.0104, 0.8806, 40}};

void AffineTilt(benchmark::State& state, int interpolation) {
    const IPXImageBuffer in = Input();
    std::vector<uint8_t> out(std::size_t(kW) * kH * 3);
    const ConstView<uint8_t> src = in->ReadView<uint8_t>();
    const View<uint8_t> dst{out.data(), std::ptrdiff_t(kW) * 3, kW, kH, 3};
    const TRect rect{0, 0, kW, kH};
    for (auto _ : state) {
        kernels::WarpAffine<uint8_t>(src, rect, dst, rect, kTilt, interpolation);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void Mirror(benchmark::State& state, TPXMirrorType type) {
    TPXMirror mirror;
    mirror.SetMirrorType(type);
    Run(state, mirror, 1);
}

#ifdef PIXORA_HAVE_OPENCV
cv::Mat CvInput() {
    cv::Mat in(kH, kW, CV_8UC3);
    cv::randu(in, 0, 255);
    return in;
}

void CvRotate(benchmark::State& state, int flags, int threads) {
    cv::setNumThreads(threads);
    const cv::Mat in = CvInput();
    cv::Mat out;
    // The same turn: clockwise on screen by kAngle about the centre, as TPXRotate does it.
    const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f((kW - 1) / 2.0f, (kH - 1) / 2.0f), -kAngle, 1.0);
    for (auto _ : state) {
        cv::warpAffine(in, out, m, in.size(), flags, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
    cv::setNumThreads(1);
}

void CvWarp(benchmark::State& state, int flags, int threads) {
    cv::setNumThreads(threads);
    const cv::Mat in = CvInput();
    cv::Mat out;
    const TRect rect{0, 0, kW, kH};
    const double quad[4][2] = {{double(kLT[0]), double(kLT[1])},
                               {double(kRT[0] + kW), double(kRT[1])},
                               {double(kRB[0] + kW), double(kRB[1] + kH)},
                               {double(kLB[0]), double(kLB[1] + kH)}};
    double c[3][3];
    kernels::GetPerspectiveTransform(rect, quad, c);
    cv::Mat m(3, 3, CV_64F);
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) m.at<double>(r, k) = c[r][k];
    for (auto _ : state) {
        cv::warpPerspective(in, out, m, in.size(), flags, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
    cv::setNumThreads(1);
}

void CvAffineTilt(benchmark::State& state, int flags) {
    cv::setNumThreads(1);
    const cv::Mat in = CvInput();
    cv::Mat out;
    cv::Mat m(2, 3, CV_64F);
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 3; ++k) m.at<double>(r, k) = kTilt[r][k];
    for (auto _ : state) {
        cv::warpAffine(in, out, m, in.size(), flags, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void CvFlip(benchmark::State& state, int code, int threads) {
    cv::setNumThreads(threads);
    const cv::Mat in = CvInput();
    cv::Mat out;
    for (auto _ : state) {
        cv::flip(in, out, code);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
    cv::setNumThreads(1);
}
#endif

void Register() {
    for (int threads : {1, 2}) {
        const std::string t = threads == 1 ? "Single" : "Bands2";
        for (TPXInterpolationType type : {itNearestNeighbor, itLinear}) {
            const std::string i = type == itNearestNeighbor ? "Nearest" : "Linear";
            benchmark::RegisterBenchmark(("Geometric/Rotate30/" + i + "/" + t + "/RGB24/1920x1080").c_str(), Rotate, type,
                                         threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("Geometric/WarpPerspective/" + i + "/" + t + "/RGB24/1920x1080").c_str(), Warp,
                                         type, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
            const int flags = type == itNearestNeighbor ? cv::INTER_NEAREST : cv::INTER_LINEAR;
            benchmark::RegisterBenchmark(("Geometric/OpenCV_warpAffine30/" + i + "/" + t + "/RGB24/1920x1080").c_str(),
                                         CvRotate, flags, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("Geometric/OpenCV_warpPerspective/" + i + "/" + t + "/RGB24/1920x1080").c_str(),
                                         CvWarp, flags, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
        }
#ifdef PIXORA_HAVE_OPENCV
        benchmark::RegisterBenchmark(("Geometric/OpenCV_flipBoth/" + t + "/RGB24/1920x1080").c_str(), CvFlip, -1, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Geometric/OpenCV_flipColumns/" + t + "/RGB24/1920x1080").c_str(), CvFlip, 1, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#endif
    }
    for (int linear : {0, 1}) {
        const std::string i = linear ? "Linear" : "Nearest";
        benchmark::RegisterBenchmark(("Geometric/AffineTilt/" + i + "/Single/RGB24/1920x1080").c_str(), AffineTilt,
                                     linear ? kernels::kInterLinear : kernels::kInterNN)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
        benchmark::RegisterBenchmark(("Geometric/OpenCV_warpAffineTilt/" + i + "/Single/RGB24/1920x1080").c_str(),
                                     CvAffineTilt, linear ? cv::INTER_LINEAR : cv::INTER_NEAREST)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#endif
    }
    // The mirror runs as one call (its base has no bands).
    benchmark::RegisterBenchmark("Geometric/MirrorBoth/Single/RGB24/1920x1080", Mirror, mtBoth)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Geometric/MirrorColumns/Single/RGB24/1920x1080", Mirror, mtVertical)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

[[maybe_unused]] const int kRegistered = (Register(), 0);

}  // namespace
}  // namespace pixora::bench
