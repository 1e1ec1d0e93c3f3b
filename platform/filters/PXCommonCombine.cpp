// The two-input layout (offset, output size, panes) and its persistent settings.
#include "platform/filters/PXCommonCombine.h"

#include <algorithm>
#include <limits>
#include <string>

namespace pixora {

namespace {

constexpr int64_t KMaxExtent = std::numeric_limits<int32_t>::max();

// A rectangle in 64-bit plane coordinates: [X0, X1) x [Y0, Y1).
struct TSpan {
    int64_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    bool Empty() const noexcept { return X1 <= X0 || Y1 <= Y0; }
    bool Contains(const TSpan& inner) const noexcept {
        return inner.X0 >= X0 && inner.X1 <= X1 && inner.Y0 >= Y0 && inner.Y1 <= Y1;
    }
    TSpan Clip(const TSpan& window) const noexcept {
        TSpan r{std::max(X0, window.X0), std::max(Y0, window.Y0), std::min(X1, window.X1), std::min(Y1, window.Y1)};
        if (r.X1 < r.X0) r.X1 = r.X0;
        if (r.Y1 < r.Y0) r.Y1 = r.Y0;
        return r;
    }
};

int32_t Checked(int64_t value, const char* what) {
    if (value < 0 || value > KMaxExtent)
        throw ERangeError(std::string("Combine layout: ") + what + " " + std::to_string(value) +
                          " is outside 0.." + std::to_string(KMaxExtent));
    return int32_t(value);
}

TPXCombinePoint PointOf(int64_t x, int64_t y) { return {int32_t(x), int32_t(y)}; }

}  // namespace

TPXCombineSizeFlags SizeFlagsOf(TPXCombineSizeMode mode) {
    TPXCombineSizeFlags f;
    f.Custom = false;
    switch (mode) {
    case smIntersect: f.WrapWidth = false, f.WrapHeight = false; break;
    case smWrappingRect: f.WrapWidth = true, f.WrapHeight = true; break;
    case smVerticalIntersect: f.WrapWidth = false, f.WrapHeight = true; break;
    case smHorizontalIntersect: f.WrapWidth = true, f.WrapHeight = false; break;
    case smCustom: f.WrapWidth = true, f.WrapHeight = true, f.Custom = true; break;
    }
    return f;
}

TPXCombineSizeMode SizeModeOf(bool wrapWidth, bool wrapHeight, bool custom) noexcept {
    if (wrapWidth && wrapHeight) return custom ? smCustom : smWrappingRect;
    if (wrapWidth) return smHorizontalIntersect;
    if (wrapHeight) return smVerticalIntersect;
    return smIntersect;
}

TPXCombineGeometry ComputeCombineGeometry(TSize in1, TSize in2, int32_t horizontal, int32_t vertical,
                                          const TPXCombineSizeFlags& flags, bool useFrameSize, TSize keepOutput) {
    Checked(in1.Width, "input 1 width"), Checked(in1.Height, "input 1 height");
    Checked(in2.Width, "input 2 width"), Checked(in2.Height, "input 2 height");
    TPXCombineGeometry g;
    g.Input1 = in1;
    g.Input2 = in2;
    const int64_t h = horizontal, v = vertical;

    // 1. Both inputs in one plane whose origin is the wrapping rectangle's corner.
    const TSpan r1{std::max<int64_t>(h, 0), std::max<int64_t>(v, 0), std::max<int64_t>(h, 0) + in1.Width,
                   std::max<int64_t>(v, 0) + in1.Height};
    const TSpan r2{std::max<int64_t>(-h, 0), std::max<int64_t>(-v, 0), std::max<int64_t>(-h, 0) + in2.Width,
                   std::max<int64_t>(-v, 0) + in2.Height};
    g.Place1 = PointOf(r1.X0, r1.Y0);
    g.Place2 = PointOf(r2.X0, r2.Y0);
    const int64_t wrapW = std::max(r1.X1, r2.X1), wrapH = std::max(r1.Y1, r2.Y1);
    g.Wrapping = {Checked(wrapW, "wrapping width"), Checked(wrapH, "wrapping height")};
    const int64_t left = std::max(r1.X0, r2.X0), right = std::min(r1.X1, r2.X1);
    const int64_t top = std::max(r1.Y0, r2.Y0), bottom = std::min(r1.Y1, r2.Y1);
    g.Intersection = {int(left), int(top), int(std::max<int64_t>(right - left, 0)),
                      int(std::max<int64_t>(bottom - top, 0))};

    // 2. Touching counts as overlapping (a middle band of zero pixels).
    const bool overlapX = h <= in2.Width && (h >= 0 || -h <= in1.Width);
    const bool overlapY = v <= in2.Height && (v >= 0 || -v <= in1.Height);
    g.Overlap = overlapX && overlapY;

    // 3. The output window in the plane.
    TSpan window{0, 0, keepOutput.Width, keepOutput.Height};
    if (useFrameSize) {
        if (flags.Custom) {
            window = {0, 0, flags.CustomWidth, flags.CustomHeight};
        } else {
            window.X0 = flags.WrapWidth ? 0 : left;
            window.X1 = flags.WrapWidth ? wrapW : window.X0 + std::max<int64_t>(right - left, 0);
            window.Y0 = flags.WrapHeight ? 0 : top;
            window.Y1 = flags.WrapHeight ? wrapH : window.Y0 + std::max<int64_t>(bottom - top, 0);
        }
    }
    g.Output = {Checked(window.X1 - window.X0, "output width"), Checked(window.Y1 - window.Y0, "output height")};
    g.OutputOrigin = PointOf(window.X0, window.Y0);
    const bool beyondWrap = window.X0 < 0 || window.Y0 < 0 || window.X1 > wrapW || window.Y1 > wrapH;

    const auto pane = [&](const TSpan& cell, TPXCombinePicToShow show) {
        TPXCombineFramePane p;
        const TSpan c = cell.Clip(window);
        p.Roi = {int(c.X1 - c.X0), int(c.Y1 - c.Y0)};
        p.PicToShow = c.Empty() ? psNone : show;
        p.OutputLoc = PointOf(c.X0 - window.X0, c.Y0 - window.Y0);
        if (p.PicToShow == psImage1 || p.PicToShow == psImageBoth) p.LocInPic1 = PointOf(c.X0 - r1.X0, c.Y0 - r1.Y0);
        if (p.PicToShow == psImage2 || p.PicToShow == psImageBoth) p.LocInPic2 = PointOf(c.X0 - r2.X0, c.Y0 - r2.Y0);
        return p;
    };

    if (!g.Overlap) {
        // 4. Each input alone; the rest of the output is background.
        g.Single1 = pane(r1, psImage1);
        g.Single2 = pane(r2, psImage2);
        g.NeedsBackground = true;
        return g;
    }

    // 5. Cut at both inputs' left/right and top/bottom edges: three bands each way.
    const int64_t xs[4] = {std::min(r1.X0, r2.X0), left, right, wrapW};
    const int64_t ys[4] = {std::min(r1.Y0, r2.Y0), top, bottom, wrapH};
    bool background = false;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            const TSpan cell{xs[col], ys[row], xs[col + 1], ys[row + 1]};
            TPXCombinePicToShow show = psNone;
            if (!cell.Empty()) {
                const bool in1Covers = r1.Contains(cell), in2Covers = r2.Contains(cell);
                show = in1Covers && in2Covers ? psImageBoth : in1Covers ? psImage1 : in2Covers ? psImage2 : psBackground;
            }
            g.Panes[row][col] = pane(cell, show);
            background = background || g.Panes[row][col].PicToShow == psBackground;
        }
    g.OutputBeyondPanes = beyondWrap;
    g.NeedsBackground = background || beyondWrap;
    return g;
}

// ---- TPXCombineOffset ------------------------------------------------------------------------

const TPropertyTable& TPXCombineOffset::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCombineOffset>("TPXCombineOffset", {
        Int("Horizontal", &TPXCombineOffset::FHorizontal, {.Default = 0}),
        Int("Vertical", &TPXCombineOffset::FVertical, {.Default = 0}),
    });
    return table;
}

// ---- TPXCombineFrameSize ---------------------------------------------------------------------

TPXCombineFrameSize::TPXCombineFrameSize(TChangeNotifyLock& lock) : TLockPersistent(lock) {
    AutoInitProperties(Properties());
    SetSizeMode(smWrappingRect);
}

const TPropertyTable& TPXCombineFrameSize::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCombineFrameSize>("TPXCombineFrameSize", {
        Cardinal("Width", &TPXCombineFrameSize::FWidth, {.Default = 240}),
        Cardinal("Height", &TPXCombineFrameSize::FHeight, {.Default = 180}),
        Enum("SizeMode", &TPXCombineFrameSize::FSizeMode, "TPXCombineSizeMode",
             {"smIntersect", "smWrappingRect", "smVerticalIntersect", "smHorizontalIntersect", "smCustom"},
             {.Default = smWrappingRect})
            .Setter(&TPXCombineFrameSize::SetSizeMode),
    });
    return table;
}

TPXCombineSizeMode TPXCombineFrameSize::GetSizeMode() const {
    std::lock_guard guard(GetLock());
    return SizeModeOf(FWrapWidth, FWrapHeight, FCustom);
}

void TPXCombineFrameSize::SetSizeMode(TPXCombineSizeMode value) {
    const TPXCombineSizeFlags f = SizeFlagsOf(value);
    std::lock_guard guard(GetLock());
    // Custom is cleared first, then the mode's flags are set (smCustom sets it again).
    StoreFlags(f.WrapWidth, f.WrapHeight, f.Custom);
}

void TPXCombineFrameSize::StoreFlags(bool wrapWidth, bool wrapHeight, bool custom) {
    std::lock_guard guard(GetLock());
    const bool changed = FWrapWidth != wrapWidth || FWrapHeight != wrapHeight || FCustom != custom;
    FWrapWidth = wrapWidth;
    FWrapHeight = wrapHeight;
    FCustom = custom;
    FSizeMode = SizeModeOf(wrapWidth, wrapHeight, custom);
    if (changed) GetLock().Notify("SizeMode");
}

TPXCombineSizeFlags TPXCombineFrameSize::Flags() const {
    std::lock_guard guard(GetLock());
    TPXCombineSizeFlags f;
    f.WrapWidth = FWrapWidth;
    f.WrapHeight = FWrapHeight;
    f.Custom = FCustom;
    f.CustomWidth = FWidth;
    f.CustomHeight = FHeight;
    return f;
}

void TPXCombineFrameSize::Assign(const TPXCombineFrameSize& other) {
    if (&other == this) return;
    const TPXCombineSizeFlags f = other.Flags();
    std::lock_guard guard(GetLock());
    FWidth = uint32_t(f.CustomWidth);
    FHeight = uint32_t(f.CustomHeight);
    FWrapWidth = f.WrapWidth;
    FWrapHeight = f.WrapHeight;
    FSizeMode = SizeModeOf(FWrapWidth, FWrapHeight, FCustom);
    GetLock().Notify();
}

}  // namespace pixora
