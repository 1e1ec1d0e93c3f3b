// The generator base: a source of frames with no video input. It announces the stream, then
// paces it: by a clock at the frame duration (live), as fast as downstream accepts (offline), or
// one frame per master pump once a downstream component has asked to drive the chain.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/component/PXComponent.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/threads/PXPeriodicThread.h"

namespace pixora {

class TPXCommonGen : public TLockComponent {
public:
    explicit TPXCommonGen(TComponent* owner = nullptr);
    ~TPXCommonGen() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLRImageSourcePin OutputPin;

    double GetFrameRate() const { return ReadLocked(FFrameRate); }
    void SetFrameRate(double value) { SetPublished(&TPXCommonGen::FFrameRate, value); }
    // The frame duration in 100 ns units: round(10 000 000 / FrameRate) unless a source knows
    // its own.
    virtual int64_t GetFrameDuration() const;

    bool CanStart() const override { return true; }
    void Start(const TRunOptions& options) override;
    void Stop() override;
    bool IsFinished() const override { return FFinished.load(); }
    int64_t FramesSent() const noexcept { return FFramesSent.load(); }

    // Makes one frame of the current settings on the caller's thread, without a stream.
    IPXImageBuffer GenerateOne();

protected:
    virtual TSize GetImageSize() const = 0;
    virtual TPXVideoFormat GetVideoFormat() const { return vfRGB24; }
    // Fills a frame of GetImageSize() and GetVideoFormat() (it may replace it); false when the
    // source has no more frames, which ends the stream. A frame without a valid time stamp is
    // stamped from its index and the frame duration.
    virtual bool GenerateFrame(IPXImageBuffer& frame) = 0;
    // Called when a stream starts, before the first frame (reset per-stream state).
    virtual void IntStartStream() {}

private:
    bool UpstreamOperation(const ILRNotifyOperation& op);
    void Iterate();          // offline or pumped: one frame (or a wait for a pump)
    void Tick(int64_t);      // live: one frame per clock tick
    void SendFrame();
    void SendStopOnce(bool aborted = false);

    double FFrameRate;

    std::mutex FRunMutex;
    std::unique_ptr<TRepeatThread> FRepeat;
    std::unique_ptr<TQNClockGen> FClock;
    // The running pacer, for the worker to end its own loop; the objects outlive their callbacks.
    std::atomic<TLoopThread*> FActivePacer{nullptr};
    TRunOptions FOptions;
    TSize FStreamSize{};
    TPXVideoFormat FStreamFormat = vfRGB24;
    int64_t FStreamDuration = 0;
    std::atomic<int64_t> FFramesSent{0};
    std::atomic<bool> FFinished{true};
    std::atomic<bool> FStopSent{true};
    std::atomic<bool> FPumped{false};
    std::mutex FPumpMutex;
    std::condition_variable FPumpSignal;
    int64_t FPumpCredits = 0;
};

}  // namespace pixora
