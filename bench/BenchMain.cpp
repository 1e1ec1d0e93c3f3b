// The one benchmark binary: every family registers its cases here, in an explicit list, then
// Google Benchmark runs what the command line selects.
#include <benchmark/benchmark.h>

#include <vector>

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
void RegisterGaussianBenchmarks();
}  // namespace pixora::bench

int main(int argc, char** argv) {
    pixora::bench::RegisterPointKernelBenchmarks();
    pixora::bench::RegisterConvertBenchmarks();
    pixora::bench::RegisterFilterBenchmarks();
    pixora::bench::RegisterPipelineBenchmarks();
    pixora::bench::RegisterImageAdjustBenchmarks();
    pixora::bench::RegisterPointFilterBenchmarks();
    pixora::bench::RegisterGaussianBenchmarks();
#ifdef PIXORA_HAVE_OPENCV
    cv::setNumThreads(1);  // OpenCV on one thread unless a benchmark says otherwise
#endif
    // A shorter default than the library's 0.5 s keeps the whole run to a few minutes; a
    // --benchmark_min_time on the command line (it comes later) still wins.
    std::vector<char*> args(argv, argv + argc);
    char defaultMinTime[] = "--benchmark_min_time=0.2";
    args.insert(args.begin() + (argc > 0 ? 1 : 0), defaultMinTime);
    args.push_back(nullptr);
    argc = int(args.size()) - 1;
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
