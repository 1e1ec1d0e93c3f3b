// Gaussian blur: separable on the CPU, the rectangular convolution kernel on OpenCL.
#include "filters/neighbourhood/PXGaussianBlur.h"

#include <tuple>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Neighbourhood.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXGaussianBlur::Properties() {
    using T = TPXGaussianBlur;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonBasicROIProcessingFilter>("TPXGaussianBlur", {
        Object("Kernel", &T::FKernel),
    });
    return table;
}

TPXGaussianBlur::TPXGaussianBlur(TComponent* owner) : TPXCommonBasicROIProcessingFilter(owner), FKernel(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXGaussianBlur::StreamStart(const TLRStartFrameOperation& start) {
    TPXCommonBasicROIProcessingFilter::StreamStart(start);
    FKernel.Changed();
}

void TPXGaussianBlur::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonBasicROIProcessingFilter::SetVideoFormat(buffer);
}

void TPXGaussianBlur::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const kernels::TGaussianCoefficients k = FKernel.Coefficients();  // one consistent kernel per frame
    const int anchorX = k.Width / 2, anchorY = k.Height / 2;
    std::string problem = kernels::DescribeWindowProblem({k.Width, k.Height}, anchorX, anchorY, in->GetSize());
    if (!problem.empty()) {
        if (problem.rfind("MaskSize ", 0) == 0) problem.erase(0, 9);  // the size here is the Kernel's
        throw EPXError(GetDisplayPath() + ": Kernel " + problem);
    }
    ForSampleType(in->GetFormat(), [&]<class T>() {
        RunROI<T>(
            in, out,
            [&](ConstView<T> src, View<T> dst, TRect r) {
                kernels::GaussianBlur2D(src, dst, r, k, anchorX, anchorY);
            },
            std::is_same_v<T, uint16_t> ? FCLKernel16Bit : FCLKernel8Bit, [&](TOCLArgs& args) {
                args.Set("AKernel", OpenCLContext()->CreateBuffer(mfReadOnly | mfCopyHostPtr, k.Matrix.size() * sizeof(float),
                                                                  k.Matrix.data()));
                args.Set("AKernelWidth", uint32_t(k.Width));
                args.Set("AKernelHeight", uint32_t(k.Height));
                args.Set("AKernelCenterX", uint32_t(anchorX));
                args.Set("AKernelCenterY", uint32_t(anchorY));
            });
    });
}

void TPXGaussianBlur::ClearExecutors() {
    TPXCommonBasicROIProcessingFilter::ClearExecutors();
    FCLKernel8Bit.reset();
    FCLKernel16Bit.reset();
}

std::pair<IOCLKernel, IOCLKernel> TPXGaussianBlur::BuildKernels(TOCLContext& context, const std::string& templateText) {
    return BuildKernelPair(context, templateText, "Convolution2DKernel");
}

void TPXGaussianBlur::BuildOpenCL(TOCLContext& context) {
    // The rectangular convolution template, over the Gaussian coefficient matrix.
    std::tie(FCLKernel8Bit, FCLKernel16Bit) = BuildKernels(context, KernelTemplate("Convolution"));
}

void PXGaussianBlur::RegisterPkg() {
    RegisterComponents<TPXGaussianBlur>({"TPixoraFiltersToolbarCategory"}, "Gaussian Blur Video Filter");
}

}  // namespace pixora
