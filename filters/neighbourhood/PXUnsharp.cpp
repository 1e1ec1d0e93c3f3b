// Unsharp mask over a Gaussian or box-average blur, on one call, bands or OpenCL.
#include "filters/neighbourhood/PXUnsharp.h"

#include <mutex>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Neighbourhood.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXUnsharp::Properties() {
    using T = TPXUnsharp;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonBasicROISmoothingFilter>("TPXUnsharp", {
        Float("Amount", &T::FAmount, {.Default = 0.3f}),
        Float("Threshold", &T::FThreshold, {.Default = 0.1f, .Min = 0.0f, .Max = 1.0f, .OutOfRange = TOutOfRange::Clamp}),
    });
    return table;
}

TPXUnsharp::TPXUnsharp(TComponent* owner) : TPXCommonBasicROISmoothingFilter(owner) {
    AutoInitProperties(Properties());
}

void TPXUnsharp::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonBasicROISmoothingFilter::SetVideoFormat(buffer);
}

void TPXUnsharp::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    // One consistent kernel and parameter set per frame.
    kernels::TGaussianCoefficients k;
    TPXSmoothingKernelType type;
    kernels::TUnsharpParams p;
    {
        std::lock_guard guard(GetLock());
        k = FKernel.Coefficients();
        type = FKernel.GetKernelType();
        p.Amount = FAmount;
        p.Threshold = FThreshold;
    }
    p.Width = k.Width;
    p.Height = k.Height;
    p.AnchorX = k.Width / 2;
    p.AnchorY = k.Height / 2;
    p.Kernel = &k;
    p.AverageCoefficient = float(1.0 / (double(k.Width) * double(k.Height)));
    std::string problem = kernels::DescribeWindowProblem({k.Width, k.Height}, p.AnchorX, p.AnchorY, in->GetSize());
    if (!problem.empty()) {
        if (problem.rfind("MaskSize ", 0) == 0) problem.erase(0, 9);  // the size here is the Kernel's
        throw EPXError(GetDisplayPath() + ": Kernel " + problem);
    }
    const bool gauss = type == sktGauss;
    ForSampleType(in->GetFormat(), [&]<class T>() {
        const bool sixteen = std::is_same_v<T, uint16_t>;
        const IOCLKernel& cl = gauss ? (sixteen ? FCLKernels.Gauss16Bit : FCLKernels.Gauss8Bit)
                                     : (sixteen ? FCLKernels.Average16Bit : FCLKernels.Average8Bit);
        RunROI<T>(
            in, out,
            [&](ConstView<T> src, View<T> dst, TRect r) {
                if (gauss) kernels::UnsharpGauss2D(src, dst, r, p);
                else kernels::UnsharpAverage2D(src, dst, r, p);
            },
            cl, [&](TOCLArgs& args) {
                if (gauss)
                    args.Set("AKernel", OpenCLContext()->CreateBuffer(mfReadOnly | mfCopyHostPtr,
                                                                      k.Matrix.size() * sizeof(float), k.Matrix.data()));
                args.Set("AKernelWidth", uint32_t(p.Width));
                args.Set("AKernelHeight", uint32_t(p.Height));
                args.Set("AKernelCenterX", uint32_t(p.AnchorX));
                args.Set("AKernelCenterY", uint32_t(p.AnchorY));
                if (!gauss) args.Set("AKC", p.AverageCoefficient);
                args.Set("AMC", p.Amount);
                args.Set("ATl", p.Threshold);
            });
    });
}

void TPXUnsharp::ClearExecutors() {
    TPXCommonBasicROISmoothingFilter::ClearExecutors();
    FCLKernels = {};
}

TPXUnsharp::TKernels TPXUnsharp::BuildKernels(TOCLContext& context, const std::string& templateText) {
    const std::string source =
        InstantiateKernelTemplate(templateText, {{"<[GaussKernel]>", "UnsharpGauss8Bits"}, {"<[AverageKernel]>", "UnsharpAverage8Bits"}}, false) +
        InstantiateKernelTemplate(templateText, {{"<[GaussKernel]>", "UnsharpGauss16Bits"}, {"<[AverageKernel]>", "UnsharpAverage16Bits"}}, true);
    const IOCLProgram program = context.BuildProgram(source, "-cl-kernel-arg-info");
    TKernels kernels;
    kernels.Gauss8Bit = program->CreateKernel("UnsharpGauss8Bits");
    kernels.Gauss16Bit = program->CreateKernel("UnsharpGauss16Bits");
    kernels.Average8Bit = program->CreateKernel("UnsharpAverage8Bits");
    kernels.Average16Bit = program->CreateKernel("UnsharpAverage16Bits");
    return kernels;
}

void TPXUnsharp::BuildOpenCL(TOCLContext& context) {
    FCLKernels = BuildKernels(context, KernelTemplate("Unsharp"));
}

void PXUnsharp::RegisterPkg() {
    RegisterComponents<TPXUnsharp>({"TPixoraFiltersToolbarCategory"}, "Unsharp Video Filter");
}

}  // namespace pixora
