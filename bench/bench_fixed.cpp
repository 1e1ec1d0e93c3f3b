// The fixed filter as a user runs it (TPXCommonFilter::ProcessFrame) at 1920x1080, one call and
// bands on 2 threads, next to the OpenCV calls that do the same work: cv::Sobel (dy = 1 is the
// horizontal detector's row below minus row above; dx = 1 with scale -1 the vertical one's left
// minus right, both saturated to 8 bits), cv::Laplacian (its own 3x3 / 5x5 masks, same size) and
// cv::GaussianBlur (3x3 is the same [1 2 1] mask; 5x5 with sigma 1). The cross and colour medians
// have no OpenCV counterpart. Registered at load time; run them with --benchmark_filter=Fixed.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "filters/neighbourhood/PXFixedFilter.h"
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

// Registered when the binary loads, beside the families that BenchMain registers by name.
const bool KRegistered = (Register(), true);

}  // namespace
}  // namespace pixora::bench
