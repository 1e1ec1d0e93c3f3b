// Settings and rectangle of the region-of-interest processing filter.
#include "platform/filters/PXROIProcessingFilter.h"

namespace pixora {

const TPropertyTable& TPXCommonBasicROIProcessingFilter::Properties() {
    using T = TPXCommonBasicROIProcessingFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonFilter>("TPXCommonBasicROIProcessingFilter", {
        Object("RegionOfInterest", &T::FRegionOfInterest),
        Bool("MultiCore", &T::FMultiCore, {.Default = false, .Category = "Threading",
                                           .DisplayName = "Process in bands on all cores"}),
        Int("BlockSize", &T::FBlockSize, {.Default = 65536, .Min = 1, .Category = "Threading",
                                          .DisplayName = "Band size in bytes"}),
        String("OpenCLDevice", &T::FOpenCLDevice, {.Category = "OpenCL",
                                                   .DisplayName = "OpenCL device: empty for none, auto, P:D or a name"})
            .FollowUp(&T::OpenCLDeviceChanged),
    });
    return table;
}

TPXCommonBasicROIProcessingFilter::TPXCommonBasicROIProcessingFilter(TComponent* owner)
    : TPXCommonFilter(owner), FRegionOfInterest(GetLock()) {
    AutoInitProperties(Properties());
}

TPXCommonBasicROIProcessingFilter::~TPXCommonBasicROIProcessingFilter() = default;

void TPXCommonBasicROIProcessingFilter::PopupateExecutors() {
    if (!FOpenCLDirty.exchange(false)) return;
    ClearExecutors();
    FOpenCLContext.reset();
    const std::string device = GetOpenCLDevice();
    if (device.empty()) return;
    try {
        IOCLContext context = TOpenCL::ContextFor(device);
        BuildOpenCL(*context);
        FOpenCLContext = std::move(context);
    } catch (const EPXError& e) {
        ClearExecutors();
        ReportWarning(std::string("OpenCL is not used, frames are processed on the CPU: ") + e.what());
    }
}

void TPXCommonBasicROIProcessingFilter::RunOpenCL(const IPXImageBuffer& in, IPXImageBuffer& out, const TRect& rect,
                                                  TOCLKernel& kernel, const std::function<void(TOCLArgs&)>& ownArgs) {
    TOCLContext& context = *FOpenCLContext;
    const bool sixteenBit = in->GetFormat() == vfGray16;
    const uint32_t unit = sixteenBit ? 2 : 1;
    std::lock_guard run(context.RunMutex());
    IOCLBuffer input = context.CreateBuffer(mfReadOnly | mfCopyHostPtr, in->GetDataSize(), in->GetDataPointer());
    IOCLBuffer output = context.CreateBuffer(mfWriteOnly, out->GetDataSize(), nullptr);
    TOCLArgs args(kernel);
    args.Set("AI", input);
    args.Set("AO", output);
    args.Set("AISW", uint32_t(in->GetWidth()));
    args.Set("AISH", uint32_t(in->GetHeight()));
    args.Set("AOSW", uint32_t(out->GetWidth()));
    args.Set("AOSH", uint32_t(out->GetHeight()));
    args.Set("ARX", uint32_t(rect.X));
    args.Set("ARY", uint32_t(rect.Y));
    args.Set("ARW", uint32_t(rect.Width));
    args.Set("ARH", uint32_t(rect.Height));
    args.Set("AIS", uint32_t(in->GetLineSize()) / unit);
    args.Set("AOS", uint32_t(out->GetLineSize()) / unit);
    ownArgs(args);
    const std::size_t channels = sixteenBit ? 1 : std::size_t(out->GetBitsPerPixel() / 8);
    context.Queue().Run(kernel, TOCLGlobalDimensions::Create({std::size_t(in->GetWidth()), std::size_t(in->GetHeight()), channels}));
    context.Queue().ReadBuffer(*output, true, 0, out->GetWritePointer(), out->GetDataSize());
}

TROIRect TPXCommonBasicROIProcessingFilter::ComputeRect(const IPXImageBuffer& in) const {
    const int width = in->GetWidth(), height = in->GetHeight();
    TROIRect roi;
    roi.Rect = FRegionOfInterest.Clamp(width, height);
    roi.Partial = !(roi.Rect == TRect{0, 0, width, height});
    return roi;
}

TPXCommonBasicROIProcessingFilter::TPathSettings TPXCommonBasicROIProcessingFilter::ReadPathSettings() const {
    std::lock_guard guard(GetLock());
    return {FMultiCore, FBlockSize};
}

}  // namespace pixora
