// Stream operations: what travels through pins besides nothing. Start, stop and frames flow
// downstream; pump requests and master pumps flow upstream.
#pragma once

#include <cstdint>

#include "platform/image/PXVideoFormat.h"
#include "platform/pins/PXData.h"

namespace pixora {

enum class TOperationKind : uint8_t {
    StartFrame,       // a video stream starts: size, format, frame duration
    StartSampleRate,  // a data stream starts: sample rate (and its subclasses)
    Stop,             // the stream ends
    SuppliedBuffer,   // one frame or data block
    PumpRequest,      // upstream: "is there a master that drives this chain?"
    StartPump,        // downstream: the master starts driving
    MasterPump,       // upstream: the master asks for one frame
    IgnoreStream,     // downstream: this stream will send nothing; do not wait for it
};

class ILRNotifyOperation {
public:
    virtual ~ILRNotifyOperation() = default;
    virtual TOperationKind Kind() const noexcept = 0;
};

// Tests an operation's class: As<TLRStartFrameOperation>(op) is null unless op is one.
template <class TOperation>
const TOperation* As(const ILRNotifyOperation& op) noexcept {
    return dynamic_cast<const TOperation*>(&op);
}

class TLRStartFrameOperation final : public ILRNotifyOperation {
public:
    static TLRStartFrameOperation Make(int width, int height, TPXVideoFormat format, int64_t frameDuration) {
        TLRStartFrameOperation op;
        op.Width = width;
        op.Height = height;
        op.Format = format;
        op.FrameDuration = frameDuration;
        return op;
    }
    TOperationKind Kind() const noexcept override { return TOperationKind::StartFrame; }
    int Width = 0, Height = 0;
    TPXVideoFormat Format = vfRGB24;
    int64_t FrameDuration = 0;  // 100 ns units
    bool Live = false;          // the source paces itself by a clock
};

class TLRStartSampleRateOperation : public ILRNotifyOperation {
public:
    static TLRStartSampleRateOperation Make(double sampleRate, int channels = 1) {
        TLRStartSampleRateOperation op;
        op.SampleRate = sampleRate;
        op.Channels = channels;
        return op;
    }
    TOperationKind Kind() const noexcept override { return TOperationKind::StartSampleRate; }
    double SampleRate = 0;
    int Channels = 1;
};

// A data stream of intensity values (one per channel plane) at a sample rate.
class TLRStartIntensityOperation final : public TLRStartSampleRateOperation {
public:
    static TLRStartIntensityOperation Make(double sampleRate, int channels = 1) {
        TLRStartIntensityOperation op;
        op.SampleRate = sampleRate;
        op.Channels = channels;
        return op;
    }
};

class TLRStopOperation final : public ILRNotifyOperation {
public:
    static TLRStopOperation Make(bool aborted = false) {
        TLRStopOperation op;
        op.Aborted = aborted;
        return op;
    }
    TOperationKind Kind() const noexcept override { return TOperationKind::Stop; }
    // The stream ended by a failure: sinks abandon what they were writing.
    bool Aborted = false;
};

class TLRSuppliedBufferOperation final : public ILRNotifyOperation {
public:
    static TLRSuppliedBufferOperation Make(IQNData data) {
        TLRSuppliedBufferOperation op;
        op.Data = std::move(data);
        return op;
    }
    TOperationKind Kind() const noexcept override { return TOperationKind::SuppliedBuffer; }
    IQNData Data;
};

class TLRPumpRequestOperation final : public ILRNotifyOperation {
public:
    TOperationKind Kind() const noexcept override { return TOperationKind::PumpRequest; }
};

class TLRStartPumpOperation final : public ILRNotifyOperation {
public:
    TOperationKind Kind() const noexcept override { return TOperationKind::StartPump; }
    int64_t FrameDuration = 0;
};

// One frame asked for by a master. A master that reaches one source along several paths (a
// source fanned out to two inputs of a mixer) names each frame it asks for: Master plus a Slot
// that only grows. A source counts a named request only when its slot is above the last one it
// took from that master, so the same frame asked for along two paths is made once. Unnamed
// requests (Master null) always count.
class TLRMasterPumpOperation final : public ILRNotifyOperation {
public:
    TLRMasterPumpOperation() = default;
    TLRMasterPumpOperation(const void* master, uint64_t slot) noexcept : Master(master), Slot(slot) {}
    TOperationKind Kind() const noexcept override { return TOperationKind::MasterPump; }

    const void* Master = nullptr;
    uint64_t Slot = 0;
};

class TLRIgnoreStreamOperation final : public ILRNotifyOperation {
public:
    TOperationKind Kind() const noexcept override { return TOperationKind::IgnoreStream; }
};

}  // namespace pixora
