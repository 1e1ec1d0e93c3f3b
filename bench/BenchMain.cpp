// The one benchmark binary: every family registers its cases here, in an explicit list, then
// Google Benchmark runs what the command line selects.
#include <benchmark/benchmark.h>

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace pixora::bench {
void RegisterPointKernelBenchmarks();
void RegisterConvertBenchmarks();
void RegisterFilterBenchmarks();
void RegisterPipelineBenchmarks();
void RegisterImageAdjustBenchmarks();
void RegisterPointFilterBenchmarks();
}  // namespace pixora::bench

int main(int argc, char** argv) {
    pixora::bench::RegisterPointKernelBenchmarks();
    pixora::bench::RegisterConvertBenchmarks();
    pixora::bench::RegisterFilterBenchmarks();
    pixora::bench::RegisterPipelineBenchmarks();
    pixora::bench::RegisterImageAdjustBenchmarks();
    pixora::bench::RegisterPointFilterBenchmarks();
#ifdef PIXORA_HAVE_OPENCV
    cv::setNumThreads(1);  // OpenCV on one thread unless a benchmark says otherwise
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
