// The region-of-interest processing filter: works out the rectangle to process from the region
// of interest, and runs a pure kernel over it on one of three paths: an OpenCL kernel, bands on
// the process-wide pool, or one call.
#pragma once

#include "platform/filters/PXCommonFilter.h"
#include "platform/kernels/View.h"
#include "platform/ocl/PXOpenCL.h"
#include "platform/props/PXCommonObjects.h"
#include "platform/threads/PXBandPool.h"

#include <atomic>
#include <cstring>
#include <functional>

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
    // "" (no OpenCL), "auto" (the first GPU, else the first device), "P:D" or part of a device name.
    std::string GetOpenCLDevice() const { return ReadLocked(FOpenCLDevice); }
    void SetOpenCLDevice(std::string value) { SetPublished(&TPXCommonBasicROIProcessingFilter::FOpenCLDevice, std::move(value)); }
    // True once frames run on an OpenCL device (after the first frame with OpenCLDevice set).
    bool UsesOpenCL() const noexcept { return FOpenCLContext != nullptr; }

protected:
    // OpenCL: ClearExecutors releases the filter's kernels (overrides call the base first);
    // BuildOpenCL builds them into the context; PopupateExecutors (called at every frame, on the
    // processing thread) applies a changed OpenCLDevice: it releases the old kernels, takes the
    // device's shared context and calls BuildOpenCL. A device that cannot be had, or kernels
    // that fail to build, are reported once and the filter goes on on the CPU.
    virtual void ClearExecutors() {}
    virtual void BuildOpenCL(TOCLContext&) {}
    virtual void PopupateExecutors();
    // The OpenCL context when the OpenCL path is in use, else null.
    TOCLContext* OpenCLContext() const noexcept { return FOpenCLContext.get(); }

    // Step 1 of every frame: the clamped rectangle and the partial flag.
    TROIRect ComputeRect(const IPXImageBuffer& in) const;

    // Runs `kernel(ConstView<T> src, View<T> dst, TRect r)` over the region of interest on the
    // path the settings choose: the OpenCL kernel `clKernel` when a context exists and the
    // kernel was built (`ownArgs(TOCLArgs&)` then sets the kernel's own arguments after the
    // common ones), else bands on the pool when MultiCore is set, else one call. Samples
    // outside the rectangle keep the input's values.
    template <class T, class TKernel, class TOwnArgs>
    void RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel, const IOCLKernel& clKernel,
                TOwnArgs&& ownArgs);
    template <class T, class TKernel>
    void RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel) {
        RunROI<T>(in, out, std::forward<TKernel>(kernel), IOCLKernel(), [](TOCLArgs&) {});
    }
    // The OpenCL path of one frame: device buffers of the whole frames, the common arguments
    // bound by name, own arguments, the launch over (width, height, channels) and the read-back.
    void RunOpenCL(const IPXImageBuffer& in, IPXImageBuffer& out, const TRect& rect, TOCLKernel& kernel,
                   const std::function<void(TOCLArgs&)>& ownArgs);

private:
    struct TPathSettings {
        bool MultiCore;
        int BlockSize;
    };
    TPathSettings ReadPathSettings() const;

    void OpenCLDeviceChanged() { FOpenCLDirty.store(true); }

    TPXRectRegion FRegionOfInterest;
    bool FMultiCore;
    int32_t FBlockSize;
    std::string FOpenCLDevice;
    IOCLContext FOpenCLContext;
    std::atomic<bool> FOpenCLDirty{false};
};

template <class T, class TKernel, class TOwnArgs>
void TPXCommonBasicROIProcessingFilter::RunROI(const IPXImageBuffer& in, IPXImageBuffer& out, TKernel&& kernel,
                                               const IOCLKernel& clKernel, TOwnArgs&& ownArgs) {
    PopupateExecutors();
    const TROIRect roi = ComputeRect(in);
    if (roi.Rect.Empty()) return;  // nothing to write: the output keeps the input's pixels
    if (FOpenCLContext && clKernel) {
        RunOpenCL(in, out, roi.Rect, *clKernel, std::function<void(TOCLArgs&)>(std::ref(ownArgs)));
        return;
    }
    const ConstView<T> src = in->ReadView<T>();
    const TPathSettings settings = ReadPathSettings();
    if (settings.MultiCore) {
        // A partial region: each band copies its own rows of the input before its kernel runs
        // (the kernel may leave samples of its rows alone), the rows above and below the
        // rectangle are copied here.
        const View<T> dst = out->WriteView<T>(false);
        const int rowBytes = in->GetBitsPerPixel() * roi.Rect.Width / 8;
        const TRect rect = roi.Rect;
        const bool partial = roi.Partial;
        if (partial) {
            CopyAroundRect(src, dst, rect, 0, rect.Y, true);
            CopyAroundRect(src, dst, rect, rect.Y + rect.Height, dst.Height, true);
        }
        auto band = [&](int y, int height) {
            if (partial) CopyAroundRect(src, dst, rect, y, y + height, true);
            kernel(src, dst, TRect{rect.X, y, rect.Width, height});
        };
        // A reference wrapper keeps the std::function free of heap allocation.
        RunBands(&TBandPool::Instance(), rect.Y, rect.Height, rowBytes, settings.BlockSize,
                 std::function<void(int, int)>(std::ref(band)));
    } else {
        kernel(src, out->WriteView<T>(roi.Partial), roi.Rect);
    }
}

}  // namespace pixora
