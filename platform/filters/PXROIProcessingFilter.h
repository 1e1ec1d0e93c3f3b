// The region-of-interest processing filter: works out the rectangle to process from the region
// of interest, and runs a pure kernel over it on one of three paths: an OpenCL kernel, bands on
// the process-wide pool, or one call.
#pragma once

#include "platform/filters/PXCommonFilter.h"
#include "platform/ocl/PXOpenCLHooks.h"
#include "platform/props/PXCommonObjects.h"
#include "platform/threads/PXBandPool.h"

namespace pixora {

// The rectangle of one frame and whether it leaves part of the frame untouched.
struct TROIRect {
    TRect Rect;
    bool Partial = false;
};

class TPXCommonBasicROIProcessingFilter : public TPXCommonFilter {
public:
    explicit TPXCommonBasicROIProcessingFilter(TComponent* owner = nullptr);
    ~TPXCommonBasicROIProcessingFilter() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXRectRegion& RegionOfInterest() { return FRegionOfInterest; }
    bool GetMultiCore() const { return ReadLocked(FMultiCore); }
    void SetMultiCore(bool value) { SetPublished(&TPXCommonBasicROIProcessingFilter::FMultiCore, value); }
    int GetBlockSize() const { return ReadLocked(FBlockSize); }
    void SetBlockSize(int32_t value) { SetPublished(&TPXCommonBasicROIProcessingFilter::FBlockSize, value); }

protected:
    // OpenCL: ClearExecutors releases the filter's kernels (overrides call the base first);
    // BuildOpenCL builds them into the context; PopupateExecutors prepares the context and
    // calls BuildOpenCL. Without an OpenCL context none of them has work to do.
    virtual void ClearExecutors() {}
    virtual void BuildOpenCL(TOCLContext&) {}
    virtual void PopupateExecutors() {}
    // The OpenCL context when the OpenCL path is in use, else null.
    TOCLContext* OpenCLContext() const noexcept { return FOpenCLContext; }

    // Step 1 of every frame: the clamped rectangle and the partial flag.
    TROIRect ComputeRect(const IPXImageBuffer& in) const;

    // Runs `kernel(ConstView<T> src, View<T> dst, TRect r)` over the region of interest on the
    // path the settings choose. Samples outside the rectangle keep the input's values. `openCL`
    // is called with the launch arguments when the OpenCL path runs; it is never called
    // without an OpenCL context.
    template <class T, class TKernel, class TOpenCL>
    void RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel, TOpenCL&& openCL);
    template <class T, class TKernel>
    void RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel) {
        RunROI<T>(in, out, std::forward<TKernel>(kernel), [](TOCLArgs&) {});
    }

private:
    struct TPathSettings {
        bool MultiCore;
        int BlockSize;
    };
    TPathSettings ReadPathSettings() const;

    TPXRectRegion FRegionOfInterest;
    bool FMultiCore;
    int32_t FBlockSize;
    TOCLContext* FOpenCLContext = nullptr;
};

template <class T, class TKernel, class TOpenCL>
void TPXCommonBasicROIProcessingFilter::RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel,
                                               TOpenCL&& openCL) {
    (void)openCL;
    const TROIRect roi = ComputeRect(in);
    if (roi.Rect.Empty()) return;  // nothing to write: the output keeps the input's pixels
    const ConstView<T> src = in->ReadView<T>();
    const View<T> dst = out->WriteView<T>(roi.Partial);
    const TPathSettings settings = ReadPathSettings();
    if (settings.MultiCore) {
        const int rowBytes = in->GetBitsPerPixel() * roi.Rect.Width / 8;
        const TRect rect = roi.Rect;
        auto band = [&](int y, int height) { kernel(src, dst, TRect{rect.X, y, rect.Width, height}); };
        // A reference wrapper keeps the std::function free of heap allocation.
        RunBands(&TBandPool::Instance(), rect.Y, rect.Height, rowBytes, settings.BlockSize,
                 std::function<void(int, int)>(std::ref(band)));
    } else {
        kernel(src, dst, roi.Rect);
    }
}

}  // namespace pixora
