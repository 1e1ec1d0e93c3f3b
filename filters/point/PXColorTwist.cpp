// Colour twist: the frame is copied, then every pixel's colour channels are replaced by the
// matrix product (single precision, saturated to 0..255); a fourth channel is copied.
#include "filters/point/PXColorTwist.h"

#include <cmath>
#include <string>

#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXColorChannelTwist::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXColorChannelTwist>("TPXColorChannelTwist", {
        Float("Red", &TPXColorChannelTwist::FRed, {.Default = 0.0f}),
        Float("Green", &TPXColorChannelTwist::FGreen, {.Default = 0.0f}),
        Float("Blue", &TPXColorChannelTwist::FBlue, {.Default = 0.0f}),
        Float("Offset", &TPXColorChannelTwist::FOffset, {.Default = 0.0f}),
    });
    return table;
}

namespace {

[[noreturn]] void BadIndex(const char* what, int index, int last) {
    throw ERangeError(std::string(what) + ": index " + std::to_string(index) + " is out of range 0 to " +
                      std::to_string(last));
}

}  // namespace

float TPXColorChannelTwist::GetElement(int index) const {
    switch (index) {
    case 0: return GetRed();
    case 1: return GetGreen();
    case 2: return GetBlue();
    case 3: return GetOffset();
    default: BadIndex("TPXColorChannelTwist element", index, 3);
    }
}

void TPXColorChannelTwist::SetElement(int index, float value) {
    switch (index) {
    case 0: SetRed(value); break;
    case 1: SetGreen(value); break;
    case 2: SetBlue(value); break;
    case 3: SetOffset(value); break;
    default: BadIndex("TPXColorChannelTwist element", index, 3);
    }
}

void TPXColorChannelTwist::Assign(const TPXColorChannelTwist& other) {
    if (&other == this) return;
    float row[4];
    {
        std::lock_guard guard(other.GetLock());
        row[0] = other.FRed;
        row[1] = other.FGreen;
        row[2] = other.FBlue;
        row[3] = other.FOffset;
    }
    std::lock_guard guard(GetLock());
    for (int i = 0; i < 4; ++i) SetElement(i, row[i]);
}

TPXColorTwists::TPXColorTwists(TChangeNotifyLock& lock)
    : TLockPersistent(lock), FRedTwist(lock), FGreenTwist(lock), FBlueTwist(lock) {}

const TPropertyTable& TPXColorTwists::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXColorTwists>("TPXColorTwists", {
        Object("RedTwist", &TPXColorTwists::FRedTwist),
        Object("GreenTwist", &TPXColorTwists::FGreenTwist),
        Object("BlueTwist", &TPXColorTwists::FBlueTwist),
    });
    return table;
}

TPXColorChannelTwist& TPXColorTwists::Row(int index) {
    switch (index) {
    case 0: return FRedTwist;
    case 1: return FGreenTwist;
    case 2: return FBlueTwist;
    default: BadIndex("TPXColorTwists row", index, 2);
    }
}

kernels::TTwistMatrix TPXColorTwists::GetTwistArray() const {
    std::lock_guard guard(GetLock());
    kernels::TTwistMatrix m;
    const TPXColorChannelTwist* rows[3] = {&FRedTwist, &FGreenTwist, &FBlueTwist};
    for (int k = 0; k < 3; ++k) {
        m.M[k][0] = rows[k]->FRed;
        m.M[k][1] = rows[k]->FGreen;
        m.M[k][2] = rows[k]->FBlue;
        m.M[k][3] = rows[k]->FOffset;
    }
    return m;
}

void TPXColorTwists::SetTwistArray(const kernels::TTwistMatrix& matrix) {
    // Validates every element before storing any, so a refused value leaves the matrix whole.
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(matrix.M[k][i]))
                throw EPropertyError("TPXColorTwists: element " + std::to_string(i) + " of row " + std::to_string(k) +
                                     " must be a finite number");
    std::lock_guard guard(GetLock());
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) Row(k).SetElement(i, matrix.M[k][i]);
}

const TPropertyTable& TPXColorTwist::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXColorTwist, TPXCommonFilter>("TPXColorTwist", {
        Object("ColorTwists", &TPXColorTwist::FColorTwists),
    });
    return table;
}

TPXColorTwist::TPXColorTwist(TComponent* owner) : TPXCommonFilter(owner), FColorTwists(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXColorTwist::SetVideoFormat(const IPXImageBuffer& buffer) {
    if (buffer->GetFormat() == vfRGBA32) return;
    TPXCommonFilter::SetVideoFormat(buffer);
}

void TPXColorTwist::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TPXVideoFormat format = in->GetFormat();
    if (format != vfRGB24 && format != vfRGBA32)
        throw EPXError(GetDisplayPath() + ": Unsupported format " + std::string(FormatName(format)));
    const kernels::TTwistMatrix matrix = FColorTwists.GetTwistArray();  // one consistent matrix per frame
    const TRect whole{0, 0, in->GetWidth(), in->GetHeight()};
    kernels::ColorTwist8(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(false), whole, matrix);
}

void PXColorTwist::RegisterPkg() {
    RegisterComponents<TPXColorTwist>({"TPixoraFiltersToolbarCategory"}, "Color Twist Video Filter");
}

}  // namespace pixora
