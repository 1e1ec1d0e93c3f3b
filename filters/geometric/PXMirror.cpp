// Mirror: the region of interest is flipped in place of itself; pixels outside it keep the
// input's values.
#include "filters/geometric/PXMirror.h"

#include "platform/kernels/Warp.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXMirror::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMirror, TPXCommonROIFilter>("TPXMirror", {
        Enum("MirrorType", &TPXMirror::FMirrorType, "TPXMirrorType", {"mtHorizontal", "mtVertical", "mtBoth"},
             {.Default = mtHorizontal}),
    });
    return table;
}

TPXMirror::TPXMirror(TComponent* owner) : TPXCommonROIFilter(owner) { AutoInitProperties(Properties()); }

void TPXMirror::SetVideoFormat(const IPXImageBuffer& buffer) {
    // The formats the mirror primitive handles whole pixels of; packed 4:2:2 would split its
    // pixel pairs and goes through the base's conversion.
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonROIFilter::SetVideoFormat(buffer);
}

void TPXMirror::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TPXMirrorType type = GetMirrorType();
    const TRect r = RegionRect(in->GetWidth(), in->GetHeight());
    if (r.Empty()) return;  // an empty region: the frame passes unchanged
    const bool partial = !(r == TRect{0, 0, in->GetWidth(), in->GetHeight()});
    const kernels::TMirrorAxis axis =
        type == mtHorizontal ? kernels::kAxsHorizontal : type == mtVertical ? kernels::kAxsVertical : kernels::kAxsBoth;
    ForSampleType(in->GetFormat(), [&]<class T>() {
        const ConstView<T> src = in->ReadView<T>();
        const View<T> dst = out->WriteView<T>(partial);
        kernels::Mirror<T>(src, dst, r, axis);
    });
}

void PXMirror::RegisterPkg() {
    RegisterComponents<TPXMirror>({"TPixoraTransformsToolbarCategory"}, "Mirror Video Frame");
}

}  // namespace pixora
