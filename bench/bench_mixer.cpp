// An 8-channel video mixer composing a full-HD (1920 x 1080, vfRGB24) canvas, driven through its
// pins as in a graph, next to the same composition written with OpenCV in the same binary, and
// a plain frame copy as the memory-bandwidth yardstick.
//
// The channels: 0 is a full frame drawn with coCopy (it becomes the canvas); 1 is a full frame
// added with coefficient 0.5; 2..7 are 640 x 360 tiles with coAdd, coSubtract, coAbsDiff, coOr,
// coXor and coMultiply. Bytes touched per output, counted as reads plus writes of whole
// rectangles in memory (F = one frame's bytes): ours reads channel 0 (the shared canvas) and
// channel 1 and writes the new canvas in one pass (3F; channel 1's scaled rows stay in the
// cache), the six tiles read and write 3 x F / 9 each (2F): 5F. OpenCV's composition copies the
// canvas (2F), scales channel 1 into a buffer (2F), adds it (3F) and draws the tiles (2F): 9F.
// A frame copy touches 2F; it is timed on one pair of frames (cache-warm) and cycling over
// frames that do not fit the cache (memory). Two threads: the band pool runs two threads
// (ours), cv::setNumThreads(2) (OpenCV).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "filters/combine/PXVideoMixer.h"
#include "platform/threads/PXBandPool.h"

#ifdef PIXORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using namespace pixora;

constexpr int KWidth = 1920, KHeight = 1080, KTileWidth = 640, KTileHeight = 360;
constexpr std::size_t KFrameBytes = std::size_t(KWidth) * KHeight * 3;
constexpr int64_t KTouchedFrames = 5, KTouchedFramesOpenCv = 9;
const TPXCombineOperation KTileOps[6] = {coAdd, coSubtract, coAbsDiff, coOr, coXor, coMultiply};

IPXImageBuffer PatternFrame(int width, int height, uint32_t seed) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, vfRGB24);
    uint8_t* row = frame->GetWritePointer();
    uint32_t x = seed;
    for (int y = 0; y < height; ++y, row += frame->GetLineSize())
        for (int i = 0; i < width * 3; ++i) {
            x = x * 1664525u + 1013904223u;
            row[i] = uint8_t(x >> 24);
        }
    return frame;
}

// Sets the band pool's thread count for one benchmark and puts it back.
class TPoolThreads {
public:
    explicit TPoolThreads(int threads) : FPrevious(TBandPool::Instance().ThreadCount()) {
        TBandPool::Instance().SetThreadCount(threads);
    }
    ~TPoolThreads() { TBandPool::Instance().SetThreadCount(FPrevious); }

private:
    int FPrevious;
};

void MixerEightChannels(benchmark::State& state) {
    TPoolThreads pool(int(state.range(0)));
    TPXVideoMixer mixer;
    mixer.SetStartIfNotAllRunning(false);
    std::vector<std::unique_ptr<TLRSourcePin>> feeds;
    std::vector<IPXImageBuffer> frames;
    for (int i = 0; i < 8; ++i) {
        auto& channel = mixer.AddChannel();
        if (i == 0) channel.SetCombineOperation(coCopy);
        if (i == 1) channel.SetCoefficient(0.5);
        if (i >= 2) {
            channel.SetCombineOperation(KTileOps[i - 2]);
            channel.GetOffset().SetCX(((i - 2) % 3) * KTileWidth);
            channel.GetOffset().SetCY(((i - 2) / 3) * KTileHeight);
        }
        feeds.push_back(std::make_unique<TLRSourcePin>(nullptr, "Feed", TPinDataType::Video));
        feeds.back()->Connect(static_cast<TLRSinkPin&>(mixer.InputPins[i]));
        frames.push_back(i < 2 ? PatternFrame(KWidth, KHeight, 7u + unsigned(i)) : PatternFrame(KTileWidth, KTileHeight, 7u + unsigned(i)));
    }
    int64_t outputs = 0;
    TLRSinkPin sink(nullptr, "Sink", TPinDataType::Video, [&](TLRSinkPin&, const ILRNotifyOperation& op) {
        if (op.Kind() == TOperationKind::SuppliedBuffer) ++outputs;
        return true;
    });
    mixer.OutputPin.Connect(sink);
    for (int i = 0; i < 8; ++i)
        feeds[std::size_t(i)]->Notify(TLRStartFrameOperation::Make(frames[std::size_t(i)]->GetWidth(),
                                                                   frames[std::size_t(i)]->GetHeight(), vfRGB24, 400000));
    int64_t index = 0;
    for (auto _ : state) {
        for (int i = 0; i < 8; ++i) {
            // A new frame object per send (sharing the pixels), as a source would deliver.
            IPXImageBuffer frame = TPXImageBuffer::CreateCopy(frames[std::size_t(i)]);
            frame->SetTimeStamp({true, index * 400000, (index + 1) * 400000});
            feeds[std::size_t(i)]->Notify(TLRSuppliedBufferOperation::Make(frame));
        }
        ++index;
    }
    if (outputs != index) state.SkipWithError("the mixer did not produce one output per set");
    for (auto& feed : feeds) feed->Notify(TLRStopOperation::Make());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(KFrameBytes) * KTouchedFrames);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The bandwidth yardstick: one frame copied (read F, write F).
void MixerFrameCopy(benchmark::State& state) {
    std::vector<uint8_t> a(KFrameBytes, 1), b(KFrameBytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), KFrameBytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(KFrameBytes) * 2);
}

// The same from memory: 24 frames (150 MB) copied in turn, so that no source is still cached.
void MixerFrameCopyFromMemory(benchmark::State& state) {
    constexpr int KFrames = 24;
    std::vector<std::vector<uint8_t>> frames(KFrames, std::vector<uint8_t>(KFrameBytes, 1));
    int at = 0;
    for (auto _ : state) {
        std::memcpy(frames[std::size_t((at + 1) % KFrames)].data(), frames[std::size_t(at)].data(), KFrameBytes);
        at = (at + 2) % KFrames;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(KFrameBytes) * 2);
}

#ifdef PIXORA_HAVE_OPENCV
cv::Mat ToMat(const IPXImageBuffer& frame) {
    return cv::Mat(frame->GetHeight(), frame->GetWidth(), CV_8UC3, const_cast<uint8_t*>(frame->GetReadPointer()),
                   std::size_t(frame->GetLineSize()));
}

// The same composition with OpenCV: copy, scaled add, and the six tile operations on ROIs.
void MixerEightChannelsOpenCv(benchmark::State& state) {
    const int previous = cv::getNumThreads();
    cv::setNumThreads(int(state.range(0)));
    std::vector<IPXImageBuffer> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(i < 2 ? PatternFrame(KWidth, KHeight, 7u + unsigned(i)) : PatternFrame(KTileWidth, KTileHeight, 7u + unsigned(i)));
    cv::Mat canvas, scaled;
    for (auto _ : state) {
        ToMat(frames[0]).copyTo(canvas);
        ToMat(frames[1]).convertTo(scaled, -1, 0.5);
        cv::add(canvas, scaled, canvas);
        for (int i = 2; i < 8; ++i) {
            cv::Mat roi = canvas(cv::Rect(((i - 2) % 3) * KTileWidth, ((i - 2) / 3) * KTileHeight, KTileWidth, KTileHeight));
            const cv::Mat tile = ToMat(frames[std::size_t(i)]);
            switch (KTileOps[i - 2]) {
            case coAdd: cv::add(roi, tile, roi); break;
            case coSubtract: cv::subtract(roi, tile, roi); break;
            case coAbsDiff: cv::absdiff(roi, tile, roi); break;
            case coOr: cv::bitwise_or(roi, tile, roi); break;
            case coXor: cv::bitwise_xor(roi, tile, roi); break;
            case coMultiply: cv::multiply(roi, tile, roi); break;
            default: break;
            }
        }
        benchmark::DoNotOptimize(canvas.data);
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previous);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(KFrameBytes) * KTouchedFramesOpenCv);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
#endif

}  // namespace

// Ours and OpenCV's interleaved, so that both see the same machine load.
BENCHMARK(MixerEightChannels)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef PIXORA_HAVE_OPENCV
BENCHMARK(MixerEightChannelsOpenCv)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(MixerFrameCopy)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MixerFrameCopyFromMemory)->UseRealTime()->Unit(benchmark::kMillisecond);
