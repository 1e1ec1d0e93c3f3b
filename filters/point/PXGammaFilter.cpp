// Gamma: the frame is copied, then the three colour channels go through the forward or inverse
// table (tables built once; the gamma functions have no parameter besides the direction).
#include "filters/point/PXGammaFilter.h"

#include "platform/kernels/Gamma.h"
#include "platform/kernels/Lookup.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

namespace {

struct TGammaTables {
    uint8_t Forward[256], Inverse[256];
};

const TGammaTables& GammaTables() {
    static const TGammaTables tables = [] {
        TGammaTables t;
        kernels::BuildGammaTable8(false, t.Forward);
        kernels::BuildGammaTable8(true, t.Inverse);
        return t;
    }();
    return tables;
}

}  // namespace

const TPropertyTable& TPXGammaFilter::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXGammaFilter, TPXCommonFilter>("TPXGammaFilter", {
        Enum("GammaType", &TPXGammaFilter::FGammaType, "TPXGammaType", {"gtForward", "gtInverse"}, {.Default = gtForward}),
    });
    return table;
}

TPXGammaFilter::TPXGammaFilter(TComponent* owner) : TPXCommonFilter(owner) { AutoInitProperties(Properties()); }

void TPXGammaFilter::SetVideoFormat(const IPXImageBuffer& buffer) {
    if (buffer->GetFormat() == vfRGBA32) return;
    TPXCommonFilter::SetVideoFormat(buffer);
}

void TPXGammaFilter::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TPXVideoFormat format = in->GetFormat();
    if (format != vfRGB24 && format != vfRGBA32)
        throw EPXError(GetDisplayPath() + ": Unsupported format " + std::string(FormatName(format)));
    const uint8_t* table = GetGammaType() == gtInverse ? GammaTables().Inverse : GammaTables().Forward;
    // The colour channels through the table; a fourth (alpha) channel is copied.
    const uint8_t* const tables[4] = {table, table, table, nullptr};
    const TRect whole{0, 0, in->GetWidth(), in->GetHeight()};
    kernels::Lookup8(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(false), whole, tables);
}

void PXGammaFilter::RegisterPkg() {
    RegisterComponents<TPXGammaFilter>({"TPixoraFiltersToolbarCategory"}, "Gamma Color Video Filter");
}

}  // namespace pixora
