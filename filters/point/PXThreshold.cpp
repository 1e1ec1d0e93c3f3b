// Threshold: the frame is copied, then samples beyond the enabled limits are replaced, channel
// by channel (byte k of a colour applies to stored channel k).
#include "filters/point/PXThreshold.h"

#include "platform/kernels/Threshold.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXThresholdValue::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXThresholdValue>("TPXThresholdValue", {
        Bool("Enabled", &TPXThresholdValue::FEnabled, {.Default = true}),
    });
    return table;
}

const TPropertyTable& TPXThresholdValueTop::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXThresholdValueTop, TPXThresholdValue>("TPXThresholdValueTop", {
        Color("Threshold", &TPXThresholdValueTop::FThreshold, {.Default = 8421504}),  // 128 in each colour byte
        Color("Value", &TPXThresholdValueTop::FValue, {.Default = 0}),
    });
    return table;
}

const TPropertyTable& TPXThresholdValueBottom::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXThresholdValueBottom, TPXThresholdValue>("TPXThresholdValueBottom", {
        Color("Threshold", &TPXThresholdValueBottom::FThreshold, {.Default = 0}),
        Color("Value", &TPXThresholdValueBottom::FValue, {.Default = 0}),
    });
    return table;
}

void TPXThresholdValue::Assign(const TPXThresholdValue& other) {
    if (&other == this) return;
    bool enabled;
    TColor threshold, value;
    {
        std::lock_guard guard(other.GetLock());
        enabled = other.FEnabled;
        threshold = other.FThreshold;
        value = other.FValue;
    }
    std::lock_guard guard(GetLock());
    SetEnabled(enabled);
    SetThreshold(threshold);
    SetValue(value);
}

const TPropertyTable& TPXThreshold::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXThreshold, TPXCommonFilter>("TPXThreshold", {
        Object("ThresholdTop", &TPXThreshold::FThresholdTop),
        Object("ThresholdBottom", &TPXThreshold::FThresholdBottom),
    });
    return table;
}

TPXThreshold::TPXThreshold(TComponent* owner)
    : TPXCommonFilter(owner), FThresholdTop(GetLock()), FThresholdBottom(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXThreshold::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8) return;
    TPXCommonFilter::SetVideoFormat(buffer);
}

void TPXThreshold::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TPXVideoFormat format = in->GetFormat();
    if (format != vfRGB24 && format != vfRGBA32 && format != vfGray8)
        throw EPXError(GetDisplayPath() + ": Unsupported format " + std::string(FormatName(format)));

    // One consistent snapshot of both limits per frame.
    bool top, bottom;
    TColor topLevel, topValue, bottomLevel, bottomValue;
    unsigned long change;
    {
        std::lock_guard guard(GetLock());
        top = FThresholdTop.GetEnabled();
        bottom = FThresholdBottom.GetEnabled();
        topLevel = FThresholdTop.GetThreshold();
        topValue = FThresholdTop.GetValue();
        bottomLevel = FThresholdBottom.GetThreshold();
        bottomValue = FThresholdBottom.GetValue();
        change = GetLock().ChangeCount();
    }
    if (!top && !bottom) return;  // the output stays the copy of the input

    // Colour bytes in storage order: byte k applies to stored channel k (vfGray8: byte 0 only).
    // A fourth (alpha) channel keeps its disabled limits and so passes through.
    const int colourChannels = format == vfGray8 ? 1 : 3;
    kernels::TThresholdLimits limits;
    for (int c = 0; c < colourChannels; ++c) {
        const int shift = 8 * c;
        if (bottom) {
            limits.LowerLevel[c] = uint8_t(bottomLevel >> shift);
            limits.LowerValue[c] = uint8_t(bottomValue >> shift);
        }
        if (top) {
            limits.UpperLevel[c] = uint8_t(topLevel >> shift);
            limits.UpperValue[c] = uint8_t(topValue >> shift);
        }
    }
    if (top && bottom) {
        // The two-sided vendor function refuses a lower threshold above the upper one and leaves
        // the frame as it was; tell the user once per setting.
        for (int c = 0; c < colourChannels; ++c)
            if (limits.LowerLevel[c] > limits.UpperLevel[c]) {
                if (FWarnedChange != change) {
                    FWarnedChange = change;
                    ReportWarning("ThresholdBottom.Threshold is above ThresholdTop.Threshold in channel " +
                                  std::to_string(c) + " (" + std::to_string(limits.LowerLevel[c]) + " > " +
                                  std::to_string(limits.UpperLevel[c]) + "); frames pass unchanged");
                }
                return;
            }
    }
    const TRect whole{0, 0, in->GetWidth(), in->GetHeight()};
    kernels::Threshold8(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(false), whole, limits);
}

void PXThreshold::RegisterPkg() { RegisterComponents<TPXThreshold>({"TPixoraFiltersToolbarCategory"}, ""); }

}  // namespace pixora
