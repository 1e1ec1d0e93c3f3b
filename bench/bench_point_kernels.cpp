// Negative and solarize kernels on full-HD frames, next to a frame copy and the OpenCV equivalents.
//
// Needs: benchmark::benchmark and libpixoraplatform; with PIXORA_HAVE_OPENCV defined, also the
// OpenCV core library (opencv_core). Every kernel row reads and writes the frame once, so the
// frame copy (one memcpy of the whole frame) is the floor to compare with.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernels/Point.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using namespace pixora;

// Full HD, and a frame small enough to stay in the L2 cache, where compute rather than memory
// bandwidth limits the kernels.
struct TFrameSize {
    int Width, Height;
};
constexpr TFrameSize kFullHd{1920, 1080}, kSmall{640, 360};

// One source and one destination frame of a format, rows without padding.
template <class T>
struct TFrames {
    int Width, Height, Channels;
    std::vector<T> Src, Dst;
    TFrames(TFrameSize size, int channels)
        : Width(size.Width), Height(size.Height), Channels(channels),
          Src(std::size_t(Width) * Height * channels), Dst(Src.size()) {
        uint32_t x = 12345;
        for (T& s : Src) {  // a cheap LCG: content does not change the work, only keeps it honest
            x = x * 1664525u + 1013904223u;
            s = T(x >> 16);
        }
        std::memset(Dst.data(), 0, Dst.size() * sizeof(T));
    }
    std::ptrdiff_t Stride() const { return std::ptrdiff_t(Width) * Channels; }
    ConstView<T> In() const { return {Src.data(), Stride(), Width, Height, Channels}; }
    View<T> Out() { return {Dst.data(), Stride(), Width, Height, Channels}; }
    TRect All() const { return {0, 0, Width, Height}; }
    std::size_t Bytes() const { return Src.size() * sizeof(T); }
};

template <class T>
void Memcpy(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    for (auto _ : state) {
        std::memcpy(f.Dst.data(), f.Src.data(), f.Bytes());
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}

template <class T>
void Negative(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    for (auto _ : state) {
        kernels::SubtractFromConstant2D<T>(f.In(), f.Out(), f.All(), SampleMax<T>);
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}

template <class T>
void Solarize(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    const T level = T(SampleMax<T> / 2 + 1);
    for (auto _ : state) {
        kernels::Solarize2D<T>(f.In(), f.Out(), f.All(), level);
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}

// The same arithmetic compiled here, for the x86-64 baseline only (no run-time dispatch): shows
// what the wider clone gains.
template <class T>
void SolarizeBaseline(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    const T level = T(SampleMax<T> / 2 + 1);
    for (auto _ : state) {
        for (int y = 0; y < f.Height; ++y)
            kernels::detail::SolarizeSamples<T>(f.Src.data() + y * f.Stride(), f.Dst.data() + y * f.Stride(),
                                                std::size_t(f.Stride()), level);
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}

#ifdef PIXORA_HAVE_OPENCV
template <class T>
int CvType(int channels) {
    return CV_MAKETYPE(sizeof(T) == 1 ? CV_8U : CV_16U, channels);
}

template <class T>
void CvNegative(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    const cv::Mat src(f.Height, f.Width, CvType<T>(channels), f.Src.data());
    cv::Mat dst(f.Height, f.Width, CvType<T>(channels), f.Dst.data());
    for (auto _ : state) {
        if constexpr (sizeof(T) == 1)
            cv::bitwise_not(src, dst);
        else
            cv::subtract(cv::Scalar::all(SampleMax<T>), src, dst);
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}

// 8-bit: a 256-entry table through cv::LUT. 16-bit (no 16-bit LUT in OpenCV): inverted copy,
// mask of samples below the level, masked copy.
template <class T>
void CvSolarize(benchmark::State& state, TFrameSize size, int channels) {
    TFrames<T> f(size, channels);
    const cv::Mat src(f.Height, f.Width, CvType<T>(channels), f.Src.data());
    cv::Mat dst(f.Height, f.Width, CvType<T>(channels), f.Dst.data());
    const T level = T(SampleMax<T> / 2 + 1);
    cv::Mat table(1, 256, CV_8U);
    for (int v = 0; v < 256; ++v) table.at<uint8_t>(v) = uint8_t(v < level ? 255 - v : v);
    cv::Mat mask;
    for (auto _ : state) {
        if constexpr (sizeof(T) == 1) {
            cv::LUT(src, table, dst);
        } else {
            cv::subtract(cv::Scalar::all(SampleMax<T>), src, dst);
            cv::compare(src, cv::Scalar::all(level), mask, cv::CMP_GE);
            src.copyTo(dst, mask);
        }
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.Bytes()));
}
#endif

struct TFormatCase {
    const char* Name;
    int Channels;
    bool Wide;  // 16-bit samples
};

constexpr TFormatCase kCases[] = {{"RGB24", 3, false}, {"RGBA32", 4, false}, {"Gray8", 1, false}, {"Gray16", 1, true}};

template <class Fn8, class Fn16>
void RegisterFamily(const std::string& name, Fn8 fn8, Fn16 fn16, bool small = false) {
    for (const TFormatCase& c : kCases) {
        const TFrameSize size = small ? kSmall : kFullHd;
        const std::string full = name + "/" + c.Name + "/" + std::to_string(size.Width) + "x" +
                                 std::to_string(size.Height);
        if (c.Wide)
            benchmark::RegisterBenchmark(full.c_str(), fn16, size, c.Channels)->Unit(benchmark::kMicrosecond);
        else
            benchmark::RegisterBenchmark(full.c_str(), fn8, size, c.Channels)->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace

namespace pixora::bench {

void RegisterPointKernelBenchmarks() {
    RegisterFamily("FrameCopy", Memcpy<uint8_t>, Memcpy<uint16_t>);
    RegisterFamily("Negative", Negative<uint8_t>, Negative<uint16_t>);
    RegisterFamily("Solarize", Solarize<uint8_t>, Solarize<uint16_t>);
    RegisterFamily("SolarizeBaselineSSE2", SolarizeBaseline<uint8_t>, SolarizeBaseline<uint16_t>);
#ifdef PIXORA_HAVE_OPENCV
    RegisterFamily("OpenCV_Negative", CvNegative<uint8_t>, CvNegative<uint16_t>);
    RegisterFamily("OpenCV_Solarize", CvSolarize<uint8_t>, CvSolarize<uint16_t>);
#endif
    // Cache-resident frames: where the AVX2 clone can pull ahead of the baseline.
    RegisterFamily("FrameCopy", Memcpy<uint8_t>, Memcpy<uint16_t>, true);
    RegisterFamily("Solarize", Solarize<uint8_t>, Solarize<uint16_t>, true);
    RegisterFamily("SolarizeBaselineSSE2", SolarizeBaseline<uint8_t>, SolarizeBaseline<uint16_t>, true);
}

}  // namespace pixora::bench
