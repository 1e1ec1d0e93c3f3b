// The rectangle kernel and box filters as a user runs them (TPXCommonFilter::ProcessFrame) at
// 1920x1080: single call, bands on 2 threads and the OpenCL path on the installed device (PoCL's
// CPU device here), next to the OpenCV calls that do the same work: filter2D, boxFilter,
// erode / dilate and medianBlur. Registered at load time; run them with
// --benchmark_filter=Neighbourhood.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "filters/neighbourhood/PXBoxFilter.h"
#include "filters/neighbourhood/PXRectKernelFilter.h"

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

std::vector<float> Coefficients(int size) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> dist(-0.5f, 2.0f);
    std::vector<float> values(std::size_t(size * size));
    for (float& v : values) v = dist(random);
    return values;
}

// How a filter runs: one call, bands on 2 threads, or the OpenCL device.
enum class TRun { Single, Bands2, OpenCL };

void Configure(TPXCommonBasicROIProcessingFilter& filter, TRun run) {
    filter.SetThreaded(false);
    filter.SetMultiCore(run == TRun::Bands2);
    TBandPool::Instance().SetThreadCount(run == TRun::Bands2 ? 2 : 1);
    if (run == TRun::OpenCL) filter.SetOpenCLDevice("auto");
}

void Process(benchmark::State& state, TPXCommonFilter& filter, const IPXImageBuffer& in) {
    filter.ProcessFrame(in);  // builds the OpenCL program and fills the frame pool outside the timing
    for (auto _ : state) {
        IPXImageBuffer out = filter.ProcessFrame(in);
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * KWidth * KHeight);
}

void RectKernel(benchmark::State& state, TPXVideoFormat format, int size, TRun run) {
    const IPXImageBuffer in = NoiseFrame(format);
    TPXRectKernelFilter filter;
    filter.MaskSize().SetSize(size, size);
    filter.Anchor().SetPoint(size / 2, size / 2);
    const std::vector<float> values = Coefficients(size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) filter.Kernel().SetItems(uint32_t(x), uint32_t(y), values[std::size_t(y * size + x)]);
    Configure(filter, run);
    Process(state, filter, in);
}

void Box(benchmark::State& state, TPXVideoFormat format, TPXBoxFilterMode mode, int size, TRun run) {
    const IPXImageBuffer in = NoiseFrame(format);
    TPXBoxFilter filter;
    filter.SetFilterMode(mode);
    filter.MaskSize().SetSize(size, size);
    filter.Anchor().SetPoint(size / 2, size / 2);
    Configure(filter, run);
    Process(state, filter, in);
}

// The OpenCV call compared with each case.
enum class TCvOp { Filter2D, BoxFilter, Erode, Dilate, MedianBlur };

#ifdef PIXORA_HAVE_OPENCV
int CvType(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return CV_8UC3;
    case vfRGBA32: return CV_8UC4;
    case vfGray8: return CV_8UC1;
    default: return CV_16UC1;
    }
}

void OpenCV(benchmark::State& state, TPXVideoFormat format, TCvOp op, int size, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(KHeight, KWidth, CvType(format)), out;
    cv::randu(in, 0, format == vfGray16 ? 65535 : 255);
    const std::vector<float> values = Coefficients(size);
    const cv::Mat kernel(size, size, CV_32F, const_cast<float*>(values.data()));
    const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, {size, size});
    for (auto _ : state) {
        switch (op) {
        case TCvOp::Filter2D: cv::filter2D(in, out, -1, kernel); break;
        case TCvOp::BoxFilter: cv::boxFilter(in, out, -1, {size, size}); break;
        case TCvOp::Erode: cv::erode(in, out, element); break;
        case TCvOp::Dilate: cv::dilate(in, out, element); break;
        case TCvOp::MedianBlur: cv::medianBlur(in, out, size); break;
        }
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * KWidth * KHeight);
    cv::setNumThreads(1);
}
#endif

const char* FormatLabel(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return "RGB24";
    case vfRGBA32: return "RGBA32";
    case vfGray8: return "Gray8";
    default: return "Gray16";
    }
}

void Register() {
    const std::pair<TRun, const char*> runs[] = {{TRun::Single, "Single"}, {TRun::Bands2, "Bands2"}, {TRun::OpenCL, "OpenCL"}};
    struct TCase {
        const char* Name;
        bool Rect;
        TPXBoxFilterMode Mode;  // box filter cases only
        int Size;
        TCvOp Cv;
        const char* CvName;
    };
    const TCase cases[] = {
        {"RectKernel3x3", true, bfmAverage, 3, TCvOp::Filter2D, "OpenCV_filter2D3x3"},
        {"RectKernel7x7", true, bfmAverage, 7, TCvOp::Filter2D, "OpenCV_filter2D7x7"},
        {"BoxAverage5x5", false, bfmAverage, 5, TCvOp::BoxFilter, "OpenCV_boxFilter5x5"},
        {"BoxAverage15x15", false, bfmAverage, 15, TCvOp::BoxFilter, "OpenCV_boxFilter15x15"},
        {"BoxMin3x3", false, bfmMin, 3, TCvOp::Erode, "OpenCV_erode3x3"},
        {"BoxMax3x3", false, bfmMax, 3, TCvOp::Dilate, "OpenCV_dilate3x3"},
        {"BoxMedian3x3", false, bfmMedian, 3, TCvOp::MedianBlur, "OpenCV_medianBlur3x3"},
        {"BoxMedian5x5", false, bfmMedian, 5, TCvOp::MedianBlur, "OpenCV_medianBlur5x5"},
    };
    for (TPXVideoFormat format : {vfRGB24, vfGray8}) {
        const std::string suffix = std::string("/") + FormatLabel(format) + "/1920x1080";
        for (const TCase& c : cases) {
            for (const auto& [run, label] : runs) {
                const std::string name = "Neighbourhood/" + std::string(c.Name) + "/" + label + suffix;
                benchmark::internal::Benchmark* b =
                    c.Rect ? benchmark::RegisterBenchmark(name.c_str(), RectKernel, format, c.Size, run)
                           : benchmark::RegisterBenchmark(name.c_str(), Box, format, c.Mode, c.Size, run);
                b->Unit(benchmark::kMillisecond)->UseRealTime();
                // The OpenCL median of PoCL's CPU device takes seconds per frame.
                if (run == TRun::OpenCL) b->Iterations(c.Mode == bfmMedian && !c.Rect ? 1 : 3);
            }
#ifdef PIXORA_HAVE_OPENCV
            for (int threads : {1, 2}) {
                const std::string name =
                    "Neighbourhood/" + std::string(c.CvName) + "/" + (threads == 1 ? "Single" : "Threads2") + suffix;
                benchmark::RegisterBenchmark(name.c_str(), OpenCV, format, c.Cv, c.Size, threads)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
#endif
        }
    }
}

// Registered when the binary loads, beside the families that BenchMain registers by name.
const bool KRegistered = (Register(), true);

}  // namespace
}  // namespace pixora::bench
