// The generator base: a source of frames with no video input. It announces the stream, then
// paces it (TPXFramePacer): by a clock at the frame duration (live), as fast as downstream
// accepts (offline), or one frame per master pump once a downstream component drives the chain.
#pragma once

#include "platform/filters/PXFramePacer.h"

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
    // Derived generators call Stop in their own destructor, before their state goes away.
    void Stop() override { FPacer.Stop(); }
    bool IsFinished() const override { return FPacer.IsFinished(); }
    int64_t FramesSent() const noexcept { return FPacer.FramesSent(); }

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
    double FFrameRate;
    TPXFramePacer FPacer;
};

}  // namespace pixora
