// The one benchmark binary: every family registers its cases here, in an explicit list, then
// Google Benchmark runs what the command line selects.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/kernels/Neighbourhood.h"

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

namespace {

// --pixora_isa=avx2 or --pixora_isa=baseline caps the instruction sets of the neighbourhood
// kernels, so that a machine with AVX-512 also shows what a CPU without it gets. Returns false
// for an unknown level.
bool ApplyIsaOption(const char* arg) {
    using pixora::kernels::nbh::TIsa;
    const char* level = arg + std::strlen("--pixora_isa=");
    if (std::strcmp(level, "avx512") == 0) pixora::kernels::nbh::LimitIsa(TIsa::Avx512);
    else if (std::strcmp(level, "avx2") == 0) pixora::kernels::nbh::LimitIsa(TIsa::Avx2);
    else if (std::strcmp(level, "baseline") == 0) pixora::kernels::nbh::LimitIsa(TIsa::Baseline);
    else return false;
    return true;
}

}  // namespace

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
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], "--pixora_isa=", 13) == 0) {
            if (!ApplyIsaOption(argv[i])) {
                std::fprintf(stderr, "%s: expected avx512, avx2 or baseline\n", argv[i]);
                return 1;
            }
            continue;
        }
        args.push_back(argv[i]);
    }
    argc = int(args.size());
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
