// Property tables and clamping of the shared sub-objects.
#include "platform/props/PXCommonObjects.h"

#include <algorithm>

namespace pixora {

const TPropertyTable& TPXRectRegion::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXRectRegion>("TPXRectRegion", {
        Bool("Enabled", &TPXRectRegion::FEnabled, {.Default = false}),
        Int("X", &TPXRectRegion::FX, {.Default = 0, .Min = 0}),
        Int("Y", &TPXRectRegion::FY, {.Default = 0, .Min = 0}),
        Int("Width", &TPXRectRegion::FWidth, {.Default = 100, .Min = 0}),
        Int("Height", &TPXRectRegion::FHeight, {.Default = 100, .Min = 0}),
    });
    return table;
}

TRect TPXRectRegion::GetRectangle() const {
    std::lock_guard guard(GetLock());
    return {FX, FY, FWidth, FHeight};
}

void TPXRectRegion::SetRectangle(const TRect& rect) {
    std::lock_guard guard(GetLock());
    SetPublished(&TPXRectRegion::FX, int32_t(rect.X));
    SetPublished(&TPXRectRegion::FY, int32_t(rect.Y));
    SetPublished(&TPXRectRegion::FWidth, int32_t(rect.Width));
    SetPublished(&TPXRectRegion::FHeight, int32_t(rect.Height));
}

TRect TPXRectRegion::Clamp(int frameWidth, int frameHeight) const {
    std::lock_guard guard(GetLock());
    if (!FEnabled) return {0, 0, frameWidth, frameHeight};
    // Width = min(Width, W - X), Height = min(Height, H - Y); a region that starts outside the
    // frame is empty.
    TRect rect{FX, FY, std::min(FWidth, frameWidth - FX), std::min(FHeight, frameHeight - FY)};
    if (rect.Width <= 0 || rect.Height <= 0) return {std::min(FX, frameWidth), std::min(FY, frameHeight), 0, 0};
    return rect;
}

const TPropertyTable& TPXImageSize::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXImageSize>("TPXImageSize", {
        Int("Width", &TPXImageSize::FWidth, {.Default = 640, .Min = 1, .Max = 16384}),
        Int("Height", &TPXImageSize::FHeight, {.Default = 480, .Min = 1, .Max = 16384}),
    });
    return table;
}

const TPropertyTable& TPXImageSize::RefusingProperties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXImageSize>("TPXImageSize", {
        Int("Width", &TPXImageSize::FWidth, {.Default = 640, .Min = 1, .Max = 16384, .OutOfRange = TOutOfRange::Refuse}),
        Int("Height", &TPXImageSize::FHeight, {.Default = 480, .Min = 1, .Max = 16384, .OutOfRange = TOutOfRange::Refuse}),
    });
    return table;
}

TSize TPXImageSize::GetSize() const {
    std::lock_guard guard(GetLock());
    return {FWidth, FHeight};
}

const TPropertyTable& TQNOffset::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TQNOffset>("TQNOffset", {
        Int("CX", &TQNOffset::FCX),
        Int("CY", &TQNOffset::FCY),
    });
    return table;
}

const TPropertyTable& TPXCenterOffset::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCenterOffset>("TPXCenterOffset", {
        Enum("Mode", &TPXCenterOffset::FMode, "TQNCoordinateMode",
             {"cmLeftTop", "cmLeftBottom", "cmLeftCenter", "cmRightTop", "cmRightBottom", "cmRightCenter",
              "cmTopCenter", "cmBottomCenter", "cmCenter"},
             {.Default = cmCenter}),
        Int("CX", &TPXCenterOffset::FCX),
        Int("CY", &TPXCenterOffset::FCY),
    });
    return table;
}

}  // namespace pixora
