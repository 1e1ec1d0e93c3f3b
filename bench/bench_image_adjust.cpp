// Image adjust at 1920x1080 next to OpenCV's round trip through HLS (cvtColor BGR->HLS->BGR),
// the nearest equivalent, single thread and bands on 2 threads; and the brightness/contrast
// step alone next to cv::convertScaleAbs.
#include <benchmark/benchmark.h>

#include <string>

#include "filters/point/PXImageAdjust.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace pixora::bench {
namespace {

void Adjust(benchmark::State& state, bool hls, int threads) {
    IPXImageBuffer in = TPXImageBuffer::CreateSize(1920, 1080, vfRGB24);
    uint8_t* data = in->GetWritePointer();
    for (std::size_t i = 0; i < in->GetDataSize(); ++i) data[i] = uint8_t(i * 2654435761u >> 11);
    TPXImageAdjust adjust;
    adjust.SetThreaded(false);
    adjust.SetContrast(1.2f);
    adjust.SetBrightness(0.05f);
    if (hls) adjust.SetHue(0.1f);
    adjust.SetMultiCore(threads > 1);
    TBandPool::Instance().SetThreadCount(threads);
    for (auto _ : state) benchmark::DoNotOptimize(adjust.ProcessFrame(in)->GetReadPointer());
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
}

#ifdef PIXORA_HAVE_OPENCV
void CvHLSRoundTrip(benchmark::State& state, int threads) {
    cv::setNumThreads(threads);
    cv::Mat in(1080, 1920, CV_8UC3), hls, out;
    cv::randu(in, 0, 255);
    for (auto _ : state) {
        cv::cvtColor(in, hls, cv::COLOR_BGR2HLS);
        cv::cvtColor(hls, out, cv::COLOR_HLS2BGR);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
    cv::setNumThreads(1);
}

void CvScale(benchmark::State& state) {
    cv::Mat in(1080, 1920, CV_8UC3), out;
    cv::randu(in, 0, 255);
    for (auto _ : state) {
        in.convertTo(out, CV_8U, 1.2, 13);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1920 * 1080);
}
#endif

}  // namespace

void RegisterImageAdjustBenchmarks() {
    for (int threads : {1, 2}) {
        const std::string t = threads == 1 ? "Single" : "Bands2";
        benchmark::RegisterBenchmark(("ImageAdjust/HLS/" + t + "/RGB24/1920x1080").c_str(), Adjust, true, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("ImageAdjust/BrightnessContrast/" + t + "/RGB24/1920x1080").c_str(), Adjust, false,
                                     threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#ifdef PIXORA_HAVE_OPENCV
        benchmark::RegisterBenchmark(("ImageAdjust/OpenCV_cvtColor_HLS_roundtrip/" + t + "/RGB24/1920x1080").c_str(),
                                     CvHLSRoundTrip, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#endif
    }
#ifdef PIXORA_HAVE_OPENCV
    benchmark::RegisterBenchmark("ImageAdjust/OpenCV_convertTo_scale_offset/Single/RGB24/1920x1080", CvScale)
        ->Unit(benchmark::kMillisecond);
#endif
}

}  // namespace pixora::bench
