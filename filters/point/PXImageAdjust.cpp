// Image adjust: the kernel of platform/kernels/ImageAdjust on the CPU paths, the program
// frame/opencl/ImageAdjust.cl on OpenCL. The two paths agree exactly on the colour step; in
// the brightness step the CPU adds round(Brightness × 255) before rounding while the kernel
// adds Brightness × 255 unrounded, so they can differ by one where Brightness × 255 is not whole.
#include "filters/point/PXImageAdjust.h"

#include "frame/PXKernelTemplates.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXImageAdjust::Properties() {
    using T = TPXImageAdjust;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonBasicROIProcessingFilter>("TPXImageAdjust", {
        Float("Brightness", &T::FBrightness, {.Default = 0.0f}),
        Float("Contrast", &T::FContrast, {.Default = 1.0f}),
        Float("Saturation", &T::FSaturation, {.Default = 1.0f}),
        Float("Hue", &T::FHue, {.Default = 0.0f, .Min = -1.0f, .Max = 1.0f, .DisplayName = "Hue (fraction of a turn)"}),
        Float("Lightness", &T::FLightness, {.Default = 1.0f}),
    });
    return table;
}

TPXImageAdjust::TPXImageAdjust(TComponent* owner) : TPXCommonBasicROIProcessingFilter(owner) {
    AutoInitProperties(Properties());
}

void TPXImageAdjust::SetVideoFormat(const IPXImageBuffer& buffer) {
    if (buffer->GetFormat() == vfRGBA32) return;
    TPXCommonBasicROIProcessingFilter::SetVideoFormat(buffer);
}

kernels::TImageAdjustParams TPXImageAdjust::Snapshot() const {
    std::lock_guard guard(GetLock());
    return {FBrightness, FContrast, FSaturation, FHue, FLightness};
}

void TPXImageAdjust::ClearExecutors() {
    TPXCommonBasicROIProcessingFilter::ClearExecutors();
    FAdjustKernel.reset();
    FAdjustKernel_NoHLS.reset();
}

void TPXImageAdjust::BuildOpenCL(TOCLContext& context) {
    const IOCLProgram program = context.BuildProgram(KernelTemplate("ImageAdjust"), "-cl-kernel-arg-info");
    FAdjustKernel = program->CreateKernel("ImageAdjust");
    FAdjustKernel_NoHLS = program->CreateKernel("ImageAdjust_NoHLS");
}

void TPXImageAdjust::RunAdjustKernel(const IPXImageBuffer& in, IPXImageBuffer& out, const TRect& rect,
                                     const kernels::TImageAdjustParams& params) {
    TOCLContext& context = *OpenCLContext();
    const bool hls = params.UsesHLS();
    TOCLKernel& kernel = hls ? *FAdjustKernel : *FAdjustKernel_NoHLS;
    std::lock_guard run(context.RunMutex());
    IOCLBuffer input = context.CreateBuffer(mfReadOnly | mfCopyHostPtr, in->GetDataSize(), in->GetDataPointer());
    IOCLBuffer output = context.CreateBuffer(mfWriteOnly, out->GetDataSize(), nullptr);
    TOCLArgs args(kernel);
    args.Set("in_buffer", input);
    args.Set("out_buffer", output);
    args.Set("step", uint32_t(in->GetLineSize()));
    args.Set("pixel_size", uint8_t(in->GetFormat() == vfRGBA32 ? 4 : 3));
    args.Set("brightness", params.Brightness);
    args.Set("contrast", params.Contrast);
    if (hls) {
        args.Set("saturation", params.Saturation);
        args.Set("hue", params.Hue);
        args.Set("lightness", params.Lightness);
    }
    args.Set("ARoiX", uint32_t(rect.X));
    args.Set("ARoiY", uint32_t(rect.Y));
    args.Set("ARoiWidth", uint32_t(rect.Width));
    args.Set("ARoiHeight", uint32_t(rect.Height));
    context.Queue().Run(kernel, TOCLGlobalDimensions::Create({std::size_t(in->GetWidth()), std::size_t(in->GetHeight())}));
    context.Queue().ReadBuffer(*output, true, 0, out->GetWritePointer(), out->GetDataSize());
}

void TPXImageAdjust::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const kernels::TImageAdjustParams params = Snapshot();
    if (params.IsIdentity()) return;  // the output keeps the input's pixels
    PopupateExecutors();
    const TROIRect roi = ComputeRect(in);
    if (roi.Rect.Empty()) return;
    if (OpenCLContext() && FAdjustKernel) {
        RunAdjustKernel(in, out, roi.Rect, params);
        return;
    }
    RunROI<uint8_t>(in, out, [&params](ConstView<uint8_t> src, View<uint8_t> dst, TRect r) {
        kernels::ImageAdjust(src, dst, r, params);
    });
}

void PXImageAdjust::RegisterPkg() {
    RegisterComponents<TPXImageAdjust>({"TPixoraFiltersToolbarCategory"}, "Image Color Adjustment");
}

}  // namespace pixora
