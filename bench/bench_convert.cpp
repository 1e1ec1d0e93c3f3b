// Pixel format conversions on full-HD frames, next to a frame copy and OpenCV's cvtColor.
//
// Needs: benchmark::benchmark and libpixoraplatform; with PIXORA_HAVE_OPENCV defined, also
// opencv_core and opencv_imgproc.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/image/PXConvert.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace pixora;

constexpr int kWidth = 1920, kHeight = 1080;

struct TFramePair {
    std::size_t SrcRow, DstRow;
    std::vector<uint8_t> Src, Dst;
    TFramePair(TPXVideoFormat from, TPXVideoFormat to)
        : SrcRow(PixelRowBytes(from, kWidth)), DstRow(PixelRowBytes(to, kWidth)), Src(SrcRow * kHeight),
          Dst(DstRow * kHeight) {
        uint32_t x = 777;
        for (uint8_t& b : Src) {
            x = x * 1664525u + 1013904223u;
            b = uint8_t(x >> 24);
        }
    }
    int64_t Bytes() const { return int64_t(Src.size() + Dst.size()); }  // read plus written
};

void Convert(benchmark::State& state, TPXVideoFormat from, TPXVideoFormat to) {
    TFramePair f(from, to);
    for (auto _ : state) {
        ConvertPixels(f.Src.data(), std::ptrdiff_t(f.SrcRow), from, f.Dst.data(), std::ptrdiff_t(f.DstRow), to,
                      kWidth, kHeight);
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.Bytes());
}

// The floor: copying the source frame.
void FrameCopy(benchmark::State& state, TPXVideoFormat format) {
    TFramePair f(format, format);
    for (auto _ : state) {
        std::memcpy(f.Dst.data(), f.Src.data(), f.Src.size());
        benchmark::DoNotOptimize(f.Dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.Bytes());
}

#ifdef PIXORA_HAVE_OPENCV
void CvConvert(benchmark::State& state, TPXVideoFormat from, TPXVideoFormat to, int srcType, int code) {
    TFramePair f(from, to);
    const cv::Mat src(kHeight, kWidth, srcType, f.Src.data());
    cv::Mat dst;
    cv::cvtColor(src, dst, code);
    for (auto _ : state) {
        cv::cvtColor(src, dst, code);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.Bytes());
}
#endif

struct TPairCase {
    const char* Name;
    TPXVideoFormat From, To;
};

constexpr TPairCase kPairs[] = {
    {"RGB24_to_RGBA32", vfRGB24, vfRGBA32}, {"RGBA32_to_RGB24", vfRGBA32, vfRGB24},
    {"RGB24_to_Gray8", vfRGB24, vfGray8},   {"RGBA32_to_Gray8", vfRGBA32, vfGray8},
    {"Gray8_to_RGB24", vfGray8, vfRGB24},   {"Gray16_to_Gray8", vfGray16, vfGray8},
    {"Gray8_to_Gray16", vfGray8, vfGray16}, {"UYVY_to_RGB24", vfUYVY, vfRGB24},
    {"UYVY_to_RGBA32", vfUYVY, vfRGBA32},   {"RGB24_to_UYVY", vfRGB24, vfUYVY},
    {"RGBA32_to_UYVY", vfRGBA32, vfUYVY},   {"UYVY_to_Gray8", vfUYVY, vfGray8},
};

}  // namespace

namespace pixora::bench {

void RegisterConvertBenchmarks() {
    const struct {
        const char* Name;
        TPXVideoFormat Format;
    } copies[] = {{"RGB24", vfRGB24}, {"RGBA32", vfRGBA32}, {"UYVY", vfUYVY}, {"Gray8", vfGray8}};
    for (const auto& c : copies)
        benchmark::RegisterBenchmark((std::string("FrameCopy/") + c.Name).c_str(), FrameCopy, c.Format)
            ->Unit(benchmark::kMicrosecond);
    for (const TPairCase& p : kPairs)
        benchmark::RegisterBenchmark((std::string("Convert/") + p.Name).c_str(), Convert, p.From, p.To)
            ->Unit(benchmark::kMicrosecond);
#ifdef PIXORA_HAVE_OPENCV
    const struct {
        const char* Name;
        TPXVideoFormat From, To;
        int SrcType, Code;
    } cvCases[] = {
        {"RGB24_to_RGBA32", vfRGB24, vfRGBA32, CV_8UC3, cv::COLOR_BGR2BGRA},
        {"RGBA32_to_RGB24", vfRGBA32, vfRGB24, CV_8UC4, cv::COLOR_BGRA2BGR},
        {"RGB24_to_Gray8", vfRGB24, vfGray8, CV_8UC3, cv::COLOR_BGR2GRAY},
        {"Gray8_to_RGB24", vfGray8, vfRGB24, CV_8UC1, cv::COLOR_GRAY2BGR},
        {"UYVY_to_RGB24", vfUYVY, vfRGB24, CV_8UC2, cv::COLOR_YUV2BGR_UYVY},
        {"UYVY_to_RGBA32", vfUYVY, vfRGBA32, CV_8UC2, cv::COLOR_YUV2BGRA_UYVY},
    };
    for (const auto& c : cvCases)
        benchmark::RegisterBenchmark((std::string("OpenCV_cvtColor/") + c.Name).c_str(), CvConvert, c.From, c.To,
                                     c.SrcType, c.Code)
            ->Unit(benchmark::kMicrosecond);
#endif
}

}  // namespace pixora::bench
