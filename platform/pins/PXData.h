// Payloads that travel through pins: image frames, real and integer buffers, data blocks with
// marker objects, text, unsigned counts and audio buffers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/PXRef.h"

namespace pixora {

enum class TDataKind : uint8_t { Image, Real, Integer, Block, Text, Count, Audio };

std::string_view DataKindName(TDataKind kind) noexcept;

// Start and end of a frame or block in 100-nanosecond units (10 000 000 per second).
struct TPXTimeStamp {
    bool Valid = false;
    int64_t Start = 0;
    int64_t End = 0;
    friend bool operator==(const TPXTimeStamp&, const TPXTimeStamp&) = default;
};

constexpr int64_t KTicksPerSecond = 10'000'000;

// round(10 000 000 / duration): a stream with a 333 667 tick duration runs at 30 frames per second.
constexpr int64_t FrameRateFromDuration(int64_t duration) noexcept {
    return duration <= 0 ? 0 : (KTicksPerSecond + duration / 2) / duration;
}

// The generic payload seen through a supplied-buffer operation.
class TQNData : public TRefCounted {
public:
    virtual TDataKind Kind() const noexcept = 0;
    const TPXTimeStamp& GetTimeStamp() const noexcept { return FTimeStamp; }
    void SetTimeStamp(const TPXTimeStamp& stamp) noexcept { FTimeStamp = stamp; }

protected:
    TPXTimeStamp FTimeStamp;
};

using IQNData = TRef<TQNData>;

// Values of one kind with a time stamp: real (double) planes, integer histograms and the like.
template <class TValue, TDataKind KKind>
class TQNValueBuffer final : public TQNData {
public:
    static TRef<TQNValueBuffer> Create(std::vector<TValue> values = {}) {
        auto* buffer = new TQNValueBuffer;
        buffer->Values = std::move(values);
        return TRef<TQNValueBuffer>(buffer);
    }
    TDataKind Kind() const noexcept override { return KKind; }
    std::vector<TValue> Values;
    // Optional shape for planes (width × height); 0 when the data is one-dimensional.
    int Width = 0, Height = 0;
};

using TQNRealBuffer = TQNValueBuffer<double, TDataKind::Real>;
using TQNIntegerBuffer = TQNValueBuffer<int64_t, TDataKind::Integer>;

// A marker object carried beside a data block (for example "this block is a key frame").
class TQNMarker : public TRefCounted {
public:
    virtual std::string_view Name() const noexcept = 0;
};
using IQNMarker = TRef<TQNMarker>;

// Marks a compressed block that can be decoded on its own.
class TQNKeyFrameMarker final : public TQNMarker {
public:
    std::string_view Name() const noexcept override { return "KeyFrame"; }
    static IQNMarker Instance();
};

// Bytes with markers: compressed packets, raw network data.
class TQNDataBlock final : public TQNData {
public:
    static TRef<TQNDataBlock> Create(std::vector<uint8_t> bytes = {}) {
        auto* block = new TQNDataBlock;
        block->Bytes = std::move(bytes);
        return TRef<TQNDataBlock>(block);
    }
    TDataKind Kind() const noexcept override { return TDataKind::Block; }
    bool HasMarker(std::string_view name) const noexcept {
        for (const auto& marker : Markers)
            if (marker->Name() == name) return true;
        return false;
    }
    std::vector<uint8_t> Bytes;
    std::vector<IQNMarker> Markers;
};

class TQNText final : public TQNData {
public:
    static TRef<TQNText> Create(std::string text) {
        auto* data = new TQNText;
        data->Text = std::move(text);
        return TRef<TQNText>(data);
    }
    TDataKind Kind() const noexcept override { return TDataKind::Text; }
    std::string Text;
};

class TQNCount final : public TQNData {
public:
    static TRef<TQNCount> Create(uint64_t value) {
        auto* data = new TQNCount;
        data->Value = value;
        return TRef<TQNCount>(data);
    }
    TDataKind Kind() const noexcept override { return TDataKind::Count; }
    uint64_t Value = 0;
};

// Interleaved float samples, -1.0 to 1.0.
class TQNAudioBuffer final : public TQNData {
public:
    static TRef<TQNAudioBuffer> Create(int sampleRate, int channels, std::vector<float> samples = {}) {
        auto* data = new TQNAudioBuffer;
        data->SampleRate = sampleRate;
        data->Channels = channels;
        data->Samples = std::move(samples);
        return TRef<TQNAudioBuffer>(data);
    }
    TDataKind Kind() const noexcept override { return TDataKind::Audio; }
    int SampleRate = 0;
    int Channels = 0;
    std::vector<float> Samples;
    int64_t FrameCount() const noexcept { return Channels > 0 ? int64_t(Samples.size()) / Channels : 0; }
};

}  // namespace pixora
