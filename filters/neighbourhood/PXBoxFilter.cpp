// The box filter: mean, minimum, maximum or median of a rectangular window.
#include "filters/neighbourhood/PXBoxFilter.h"

#include <limits>
#include <vector>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Box.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXBoxFilter::Properties() {
    using T = TPXBoxFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIMatrixSizeAnchorFilter>("TPXBoxFilter", {
        Enum("FilterMode", &T::FFilterMode, "TPXBoxFilterMode", {"bfmAverage", "bfmMin", "bfmMax", "bfmMedian"},
             {.Default = bfmAverage}),
    });
    return table;
}

TPXBoxFilter::TPXBoxFilter(TComponent* owner) : TPXCommonROIMatrixSizeAnchorFilter(owner) {
    AutoInitProperties(Properties());
}

void TPXBoxFilter::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonROIMatrixSizeAnchorFilter::SetVideoFormat(buffer);
}

IOCLBuffer TPXBoxFilter::MedianScratch(std::size_t bytes) {
    if (!FMedianScratch || FMedianScratch->Size() < bytes)
        FMedianScratch = OpenCLContext()->CreateBuffer(mfReadWrite, bytes, nullptr);
    return FMedianScratch;
}

void TPXBoxFilter::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    TSize mask;
    TPoint anchor;
    TPXBoxFilterMode mode;
    {
        std::lock_guard guard(GetLock());
        GetMaskAnchor(mask, anchor);
        mode = FFilterMode;
    }
    const std::string problem = kernels::DescribeWindowProblem(mask, anchor.X, anchor.Y, in->GetSize());
    if (!problem.empty()) throw EPXError(GetDisplayPath() + ": " + problem);
    const kernels::TBoxWindow window{mask.Width, mask.Height, anchor.X, anchor.Y};
    // The mean's coefficient as a single, the value the OpenCL kernel gets too.
    const float coefficient = float(1.0 / (double(mask.Width) * double(mask.Height)));
    ForSampleType(in->GetFormat(), [&]<class T>() {
        constexpr bool sixteen = std::is_same_v<T, uint16_t>;
        const auto windowArgs = [&](TOCLArgs& args) {
            args.Set("AKernelWidth", uint32_t(mask.Width));
            args.Set("AKernelHeight", uint32_t(mask.Height));
            args.Set("AKernelCenterX", uint32_t(anchor.X));
            args.Set("AKernelCenterY", uint32_t(anchor.Y));
        };
        switch (mode) {
        case bfmAverage:
            RunROI<T>(
                in, out,
                [&](ConstView<T> src, View<T> dst, TRect r) { kernels::Average2D(src, dst, r, window, coefficient); },
                sixteen ? FCLKernels.Average16Bit : FCLKernels.Average8Bit, [&](TOCLArgs& args) {
                    windowArgs(args);
                    args.Set("AKernelCoeffitient", coefficient);
                });
            break;
        case bfmMin:
            RunROI<T>(
                in, out, [&](ConstView<T> src, View<T> dst, TRect r) { kernels::Min2D(src, dst, r, window); },
                sixteen ? FCLKernels.Min16Bit : FCLKernels.Min8Bit, windowArgs);
            break;
        case bfmMax:
            RunROI<T>(
                in, out, [&](ConstView<T> src, View<T> dst, TRect r) { kernels::Max2D(src, dst, r, window); },
                sixteen ? FCLKernels.Max16Bit : FCLKernels.Max8Bit, windowArgs);
            break;
        case bfmMedian:
            RunROI<T>(
                in, out, [&](ConstView<T> src, View<T> dst, TRect r) { kernels::Median2D(src, dst, r, window); },
                sixteen ? FCLKernels.Median16Bit : FCLKernels.Median8Bit, [&](TOCLArgs& args) {
                    windowArgs(args);
                    // One list of Width × Height samples per work item of the region; the kernel
                    // addresses it with 32-bit offsets.
                    const TROIRect roi = ComputeRect(in);
                    const int channels = sixteen ? 1 : in->GetBitsPerPixel() / 8;
                    const uint64_t samples = uint64_t(roi.Rect.Width) * uint64_t(roi.Rect.Height) * uint64_t(channels) *
                                             uint64_t(mask.Width) * uint64_t(mask.Height);
                    if (samples > std::numeric_limits<uint32_t>::max())
                        throw EPXError(GetDisplayPath() + ": the OpenCL median needs " + std::to_string(samples) +
                                       " list samples for this region and mask, more than its 32-bit offsets reach");
                    args.Set("ASortList", MedianScratch(std::size_t(samples) * sizeof(T)));
                });
            break;
        }
    });
}

void TPXBoxFilter::ClearExecutors() {
    TPXCommonROIMatrixSizeAnchorFilter::ClearExecutors();
    FCLKernels = {};
    FMedianScratch.reset();
}

namespace {

// The text of one template of the box file: from the line after "//@template <name>" to the next
// such line or the end.
std::string TemplateSection(const std::string& text, const std::string& name) {
    const std::string marker = "//@template " + name + "\n";
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) throw EPXError("TPXBoxFilter: the OpenCL template text has no " + name + " section");
    const std::size_t begin = at + marker.size();
    const std::size_t end = text.find("//@template ", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

TPXBoxFilter::TKernels TPXBoxFilter::BuildKernels(TOCLContext& context, const std::string& templateText) {
    const std::string average = TemplateSection(templateText, "Average2DKernel");
    const std::string median = TemplateSection(templateText, "Median2DKernel");
    const std::string minMax = TemplateSection(templateText, "MinMax2DKernel");
    std::string source;
    for (const bool sixteen : {false, true}) {
        const std::string bits = sixteen ? "16Bits" : "8Bits";
        source += InstantiateKernelTemplate(average, {{"<[Average2DKernel]>", "Average2DKernel" + bits}}, sixteen);
        source += InstantiateKernelTemplate(median, {{"<[Median2DKernel]>", "Median2DKernel" + bits}}, sixteen);
        source += InstantiateKernelTemplate(minMax, {{"<[MinMax2DKernel]>", "Min2DKernel" + bits}, {"<[Min]>", "min"}},
                                            sixteen);
        // The maximum starts from 0 for both sample sizes.
        source += InstantiateKernelTemplate(
            minMax, {{"<[MinMax2DKernel]>", "Max2DKernel" + bits}, {"<[Min]>", "max"}, {"<[255]>", "0"}}, sixteen);
    }
    const IOCLProgram program = context.BuildProgram(source, "-cl-kernel-arg-info");
    TKernels kernels;
    kernels.Average8Bit = program->CreateKernel("Average2DKernel8Bits");
    kernels.Average16Bit = program->CreateKernel("Average2DKernel16Bits");
    kernels.Min8Bit = program->CreateKernel("Min2DKernel8Bits");
    kernels.Min16Bit = program->CreateKernel("Min2DKernel16Bits");
    kernels.Max8Bit = program->CreateKernel("Max2DKernel8Bits");
    kernels.Max16Bit = program->CreateKernel("Max2DKernel16Bits");
    kernels.Median8Bit = program->CreateKernel("Median2DKernel8Bits");
    kernels.Median16Bit = program->CreateKernel("Median2DKernel16Bits");
    return kernels;
}

void TPXBoxFilter::BuildOpenCL(TOCLContext& context) {
    FCLKernels = BuildKernels(context, KernelTemplate("BoxFilter"));
}

void PXBoxFilter::RegisterPkg() {
    RegisterComponents<TPXBoxFilter>({"TPixoraFiltersToolbarCategory"}, "Box Kernel Video Filter");
}

}  // namespace pixora
