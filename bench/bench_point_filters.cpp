// Threshold, gamma, colour twist, colour lookup and hue vector as a user runs them
// (TPXCommonFilter::ProcessFrame: pooled output frame, one thread) at 1920x1080, next to a pooled
// frame copy (the memory floor) and the nearest OpenCV call on one thread: cv::threshold with
// THRESH_TOZERO_INV (the threshold's initial settings do exactly that), cv::LUT for gamma and
// colour lookup, cv::transform for the colour twist.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "analysis/PXHueVector.h"
#include "filters/point/PXColorLookup.h"
#include "filters/point/PXColorTwist.h"
#include "filters/point/PXGammaFilter.h"
#include "filters/point/PXThreshold.h"
#include "platform/kernels/Gamma.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace pixora::bench {
namespace {

constexpr int KWidth = 1920, KHeight = 1080;

IPXImageBuffer MakeFrame(TPXVideoFormat format) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(i * 2654435761u >> 13);
    return frame;
}

// Each frame is read once and written once.
void SetBytes(benchmark::State& state, std::size_t frameBytes) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes) * 2);
}

void FrameCopy(benchmark::State& state, TPXVideoFormat format) {
    const IPXImageBuffer in = MakeFrame(format);
    for (auto _ : state) {
        IPXImageBuffer out = TPXImageBuffer::CreateSize(KWidth, KHeight, format);
        std::memcpy(out->GetWritePointer(), in->GetReadPointer(), in->GetDataSize());
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    SetBytes(state, in->GetDataSize());
}

void RunFilter(benchmark::State& state, TPXCommonFilter& filter, TPXVideoFormat format) {
    const IPXImageBuffer in = MakeFrame(format);
    filter.SetThreaded(false);
    for (auto _ : state) {
        IPXImageBuffer out = filter.ProcessFrame(in);
        benchmark::DoNotOptimize(out->GetReadPointer());
    }
    SetBytes(state, in->GetDataSize());
}

void Threshold(benchmark::State& state, TPXVideoFormat format) {
    TPXThreshold filter;  // initial settings: samples above 128 become 0
    RunFilter(state, filter, format);
}

void Gamma(benchmark::State& state, TPXVideoFormat format) {
    TPXGammaFilter filter;
    RunFilter(state, filter, format);
}

const float KTwist[3][4] = {{0.6f, 0.3f, 0.1f, 4.0f}, {-0.2f, 1.1f, 0.1f, -3.0f}, {0.05f, 0.15f, 0.8f, 10.0f}};

void ColorTwist(benchmark::State& state, TPXVideoFormat format) {
    TPXColorTwist filter;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) filter.ColorTwists().Row(k).SetElement(i, KTwist[k][i]);
    RunFilter(state, filter, format);
}

void ColorLookup(benchmark::State& state, TPXVideoFormat format, TPXColorLookupMode mode) {
    TPXColorLookup filter;
    filter.LookupTables().SetLookupMode(mode);
    const int32_t top = format == vfGray16 ? 65536 : 256;
    for (int c = 0; c < 4; ++c) {
        TPXLookupTable& table = filter.LookupTables().GetColorChannel(c);
        table.BeginUpdate();
        for (int i = 0; i <= 8; ++i) table.Add(top * i / 8, (top - 1) * ((i * (3 + c)) % 9) / 8);
        table.EndUpdate();
    }
    RunFilter(state, filter, format);
}

void HueVector(benchmark::State& state, TPXHueVectorMode mode) {
    const IPXImageBuffer in = MakeFrame(vfRGB24);
    TPXHueVector vector;
    vector.SetThreaded(false);
    vector.SetMode(mode);
    TLRSinkPin sinks[3] = {{nullptr, "a", TPinDataType::Real, [](TLRSinkPin&, const ILRNotifyOperation&) { return true; }},
                           {nullptr, "b", TPinDataType::Real, [](TLRSinkPin&, const ILRNotifyOperation&) { return true; }},
                           {nullptr, "c", TPinDataType::Real, [](TLRSinkPin&, const ILRNotifyOperation&) { return true; }}};
    for (int i = 0; i < 3; ++i) static_cast<TLRSourcePin&>(vector.OutputPins[i]).Connect(sinks[i]);
    for (auto _ : state) vector.InputPin.Receive(TLRSuppliedBufferOperation::Make(IQNData(in)));
    state.SetItemsProcessed(int64_t(state.iterations()) * KWidth * KHeight);
}

#ifdef PIXORA_HAVE_OPENCV
int CvType(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return CV_8UC3;
    case vfRGBA32: return CV_8UC4;
    default: return CV_8UC1;
    }
}

cv::Mat CvFrame(TPXVideoFormat format) {
    cv::Mat in(KHeight, KWidth, CvType(format));
    cv::randu(in, 0, 255);
    return in;
}

void CvThreshold(benchmark::State& state, TPXVideoFormat format) {
    const cv::Mat in = CvFrame(format);
    cv::Mat out;
    for (auto _ : state) {
        cv::threshold(in, out, 128, 0, cv::THRESH_TOZERO_INV);
        benchmark::DoNotOptimize(out.data);
    }
    SetBytes(state, in.total() * in.elemSize());
}

// A table per channel (cv::LUT with a table of the frame's channel count), as the filters have.
void CvLut(benchmark::State& state, TPXVideoFormat format, bool gamma) {
    const cv::Mat in = CvFrame(format);
    const int channels = in.channels();
    cv::Mat table(1, 256, CV_MAKETYPE(CV_8U, channels)), out;
    uint8_t forward[256];
    kernels::BuildGammaTable8(false, forward);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < channels; ++c)
            table.ptr<uint8_t>()[i * channels + c] = gamma ? (c == 3 ? uint8_t(i) : forward[i]) : uint8_t((i * (3 + c)) & 255);
    for (auto _ : state) {
        cv::LUT(in, table, out);
        benchmark::DoNotOptimize(out.data);
    }
    SetBytes(state, in.total() * in.elemSize());
}

// The twist as a 3 x 4 matrix; with alpha a 4 x 5 matrix whose last row copies it.
void CvTransform(benchmark::State& state, TPXVideoFormat format) {
    const cv::Mat in = CvFrame(format);
    const int channels = in.channels();
    cv::Mat m = cv::Mat::zeros(channels, channels + 1, CV_32F), out;
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 3; ++i) m.at<float>(k, i) = KTwist[k][i];
        m.at<float>(k, channels) = KTwist[k][3];
    }
    if (channels == 4) m.at<float>(3, 3) = 1.0f;
    for (auto _ : state) {
        cv::transform(in, out, m);
        benchmark::DoNotOptimize(out.data);
    }
    SetBytes(state, in.total() * in.elemSize());
}
#endif

}  // namespace

void RegisterPointFilterBenchmarks() {
    const struct {
        const char* Name;
        TPXVideoFormat Format;
    } formats[] = {{"RGB24", vfRGB24}, {"RGBA32", vfRGBA32}, {"Gray8", vfGray8}, {"Gray16", vfGray16}};
    auto add = [](const std::string& name, auto&&... args) {
        benchmark::RegisterBenchmark(name.c_str(), args...)->Unit(benchmark::kMicrosecond)->UseRealTime();
    };
    for (const auto& f : formats) {
        const std::string suffix = std::string("/Single/") + f.Name + "/1920x1080";
        const bool colour = f.Format == vfRGB24 || f.Format == vfRGBA32;
        add("PointFilters/FrameCopy" + suffix, FrameCopy, f.Format);
        if (f.Format != vfGray16) add("PointFilters/Threshold" + suffix, Threshold, f.Format);
        if (colour) {
            add("PointFilters/Gamma" + suffix, Gamma, f.Format);
            add("PointFilters/ColorTwist" + suffix, ColorTwist, f.Format);
        }
        add("PointFilters/ColorLookupStep" + suffix, ColorLookup, f.Format, clmStep);
        add("PointFilters/ColorLookupCubic" + suffix, ColorLookup, f.Format, clmCubic);
#ifdef PIXORA_HAVE_OPENCV
        if (f.Format != vfGray16) {
            add("PointFilters/OpenCV_threshold" + suffix, CvThreshold, f.Format);
            add("PointFilters/OpenCV_LUT" + suffix, CvLut, f.Format, false);
        }
        if (colour) {
            add("PointFilters/OpenCV_LUT_gamma" + suffix, CvLut, f.Format, true);
            add("PointFilters/OpenCV_transform" + suffix, CvTransform, f.Format);
        }
#endif
    }
    add("PointFilters/HueVectorCartesian/Single/RGB24/1920x1080", HueVector, vmCartesian);
    add("PointFilters/HueVectorPolar/Single/RGB24/1920x1080", HueVector, vmPolar);
}

}  // namespace pixora::bench
