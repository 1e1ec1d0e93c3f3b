// Gaussian blur (5x5 and 15x15) and unsharp mask at 1920x1080 RGB24 next to OpenCV's
// cv::GaussianBlur and GaussianBlur + addWeighted: single thread and bands on 2 threads, and the
// OpenCL path on the first device (PoCL on a CPU-only machine).
#include <benchmark/benchmark.h>

#include <string>

#include "filters/neighbourhood/PXGaussianBlur.h"
#include "filters/neighbourhood/PXUnsharp.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace pixora::bench {
namespace {

IPXImageBuffer Input() {
    IPXImageBuffer in = TPXImageBuffer::CreateSize(1920, 1080, vfRGB24);
    uint8_t* data = in->GetWritePointer();
    for (std::size_t i = 0; i < in->GetDataSize(); ++i) data[i] = uint8_t(i * 2654435761u >> 11);
    return in;
}

// threads 0: the OpenCL path.
template <class TFilter>
void RunFilter(benchmark::State& state, TFilter& filter, int threads) {
    const IPXImageBuffer in = Input();
    filter.SetThreaded(false);
    filter.SetMultiCore(threads > 1);
    TBandPool::Instance().SetThreadCount(threads > 1 ? threads : 1);
    if (threads == 0) filter.SetOpenCLDevice("auto");
    filter.ProcessFrame(in);  // builds the OpenCL program outside the timing
    if (threads == 0 && !filter.UsesOpenCL()) {
        state.SkipWithError("no OpenCL device");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(filter.ProcessFrame(in)->GetReadPointer());
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
}

void Gaussian(benchmark::State& state, int size, int threads) {
    TPXGaussianBlur filter;
    filter.Kernel().SetSize(size, size);
    RunFilter(state, filter, threads);
}

void Unsharp(benchmark::State& state, TPXSmoothingKernelType type, int threads) {
    TPXUnsharp filter;
    filter.Kernel().SetSize(5, 5);
    filter.Kernel().SetKernelType(type);
    filter.SetAmount(0.3f);
    filter.SetThreshold(0.0f);
    RunFilter(state, filter, threads);
}

#ifdef PIXORA_HAVE_OPENCV
void CvGaussian(benchmark::State& state, int size, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(1080, 1920, CV_8UC3), out;
    cv::randu(in, 0, 255);
    for (auto _ : state) {
        cv::GaussianBlur(in, out, cv::Size(size, size), 0, 0, cv::BORDER_REFLECT_101);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
    cv::setNumThreads(1);
}

// The usual OpenCV unsharp mask: out = (1 + a) I - a blur.
void CvUnsharp(benchmark::State& state, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(1080, 1920, CV_8UC3), blur, out;
    cv::randu(in, 0, 255);
    for (auto _ : state) {
        cv::GaussianBlur(in, blur, cv::Size(5, 5), 0, 0, cv::BORDER_REFLECT_101);
        cv::addWeighted(in, 1.0 + 0.3 / 0.7, blur, -0.3 / 0.7, 0, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
    cv::setNumThreads(1);
}
#endif

}  // namespace

void RegisterGaussianBenchmarks() {
    for (int threads : {1, 2, 0}) {
        const std::string t = threads == 1 ? "Single" : threads == 2 ? "Bands2" : "OpenCL";
        for (int size : {5, 15}) {
            const std::string s = std::to_string(size) + "x" + std::to_string(size);
            benchmark::RegisterBenchmark(("Gaussian/Blur" + s + "/" + t + "/RGB24/1920x1080").c_str(), Gaussian, size, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
            if (threads > 0)
                benchmark::RegisterBenchmark(("Gaussian/OpenCV_GaussianBlur" + s + "/" + t + "/RGB24/1920x1080").c_str(),
                                             CvGaussian, size, threads)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
#endif
        }
        benchmark::RegisterBenchmark(("Gaussian/UnsharpGauss5x5/" + t + "/RGB24/1920x1080").c_str(), Unsharp, sktGauss, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Gaussian/UnsharpAverage5x5/" + t + "/RGB24/1920x1080").c_str(), Unsharp, sktAverage,
                                     threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
        if (threads > 0)
            benchmark::RegisterBenchmark(("Gaussian/OpenCV_GaussianBlur_addWeighted5x5/" + t + "/RGB24/1920x1080").c_str(),
                                         CvUnsharp, threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
    }
}

}  // namespace pixora::bench
