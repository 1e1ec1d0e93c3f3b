// A region filter that is also a source: with its input connected it works on incoming frames
// inside the region of interest; with nothing connected it generates frames of its own at its
// ImageSize and FrameRate, paced like any generator.
#pragma once

#include "platform/filters/PXFramePacer.h"
#include "platform/filters/PXROIFilters.h"

namespace pixora {

class TPXCommonROIGenFilter : public TPXCommonROIFilter {
public:
    explicit TPXCommonROIGenFilter(TComponent* owner = nullptr);
    ~TPXCommonROIGenFilter() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXImageSize& ImageSize() { return FImageSize; }
    double GetFrameRate() const { return ReadLocked(FFrameRate); }
    void SetFrameRate(double value) { SetPublished(&TPXCommonROIGenFilter::FFrameRate, value); }

    // A source only while nothing feeds its input.
    bool CanStart() const override { return !InputPin.IsConnected(); }
    void Start(const TRunOptions& options) override;
    // Derived components call Stop in their own destructor, before their state goes away.
    void Stop() override;
    bool IsFinished() const override { return FPacer.IsFinished(); }
    int64_t FramesSent() const noexcept { return FPacer.FramesSent(); }

    // Makes one generated frame of the current settings on the caller's thread.
    IPXImageBuffer GenerateOne();

protected:
    // Generator stream start and stop (reset per-stream state here).
    virtual void IntStart() {}
    virtual void IntStop() {}
    virtual TSize GetImageSize() const { return FImageSize.GetSize(); }
    virtual TPXVideoFormat GetVideoFormat() const { return vfRGBA32; }
    // Fills a generated frame of GetImageSize() and GetVideoFormat(); false ends the stream.
    virtual bool GenerateFrame(IPXImageBuffer& frame) = 0;

private:
    TPXImageSize FImageSize;
    double FFrameRate;
    TPXFramePacer FPacer;
    std::atomic<bool> FGenerating{false};
};

}  // namespace pixora
