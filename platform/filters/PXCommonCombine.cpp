// The two-input layout (offset, output size, panes) and its persistent settings.
#include "platform/filters/PXCommonCombine.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/kernels/Combine.h"

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

// ---- TPXCommonCombine ------------------------------------------------------------------------

namespace {

// Copies a w x h pixel rectangle between frames of one format.
void CopyPixels(const uint8_t* src, std::ptrdiff_t srcStep, uint8_t* dst, std::ptrdiff_t dstStep, TSize size,
                int pixelBytes) {
    const std::size_t n = std::size_t(size.Width) * std::size_t(pixelBytes);
    for (int y = 0; y < size.Height; ++y)
        std::memcpy(dst + std::ptrdiff_t(y) * dstStep, src + std::ptrdiff_t(y) * srcStep, n);
}

// The frame in that format: itself, or a converted copy.
IPXImageBuffer InFormat(const IPXImageBuffer& frame, TPXVideoFormat format) {
    if (!frame || frame->GetFormat() == format) return frame;
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
    copy->ConvertToFormat(format);
    return copy;
}

}  // namespace

TPXCommonCombine::TPXCommonCombine(TComponent* owner)
    : TPXMultiInput(owner), FFrameSize(GetLock()), FOffset(GetLock()) {
    AutoInitProperties(Properties());
    // Any stored change (own properties, offset, frame size) makes the next frame lay out again.
    FListener = GetLock().Subscribe([this](std::string_view) { FPanesInitialized.store(false); });
}

TPXCommonCombine::~TPXCommonCombine() { GetLock().Unsubscribe(FListener); }

const TPropertyTable& TPXCommonCombine::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCommonCombine, TPXMultiInput>("TPXCommonCombine", {
        Object("FrameSize", &TPXCommonCombine::FFrameSize),
        Object("Offset", &TPXCommonCombine::FOffset),
        Bool("StartIfNotAllRunning", &TPXCommonCombine::FStartIfNotAllRunning, {.Default = true}),
        Color("BackgroundColor", &TPXCommonCombine::FBackgroundColor, {.Default = 0}),
    });
    return table;
}

void TPXCommonCombine::CreateInputPins(TLRPinList& list, const char* name1, const char* name2) {
    TLRPin& pin1 = AddQueuedPin(list, name1 ? name1 : "");
    TLRPin& pin2 = AddQueuedPin(list, name2 ? name2 : "");
    if (name1 && name2) {
        PublishPin(pin1);
        PublishPin(pin2);
    } else {
        PublishPinList(list);
    }
}

TPXVideoFormat TPXCommonCombine::GetFormat2(const IPXImageBuffer&) const { return FFrameFormat; }

bool TPXCommonCombine::CanStartIfNotAllRunning() const { return ReadLocked(FStartIfNotAllRunning); }

TPXPoint TPXCommonCombine::GetInputOffset(int index) const {
    if (index != 0) return {};
    std::lock_guard guard(GetLock());
    return {FOffset.GetHorizontal(), FOffset.GetVertical()};
}

TPXCombineGeometry TPXCommonCombine::GetGeometry() const {
    std::lock_guard guard(GetLock());
    return FGeometry;
}

void TPXCommonCombine::InitializeFramePanes(bool useFrameSize) {
    std::lock_guard guard(GetLock());
    // Setters take the same lock, so no change can slip in between computing and marking.
    FPanesInitialized.store(true);
    try {
        FGeometry = ComputeCombineGeometry(FSize1, FSize2, FOffset.GetHorizontal(), FOffset.GetVertical(),
                                           FFrameSize.Flags(), useFrameSize, FGeometry.Output);
    } catch (...) {
        FPanesInitialized.store(false);
        throw;
    }
}

void TPXCommonCombine::UnInitializeFramePanes() {
    std::lock_guard guard(GetLock());
    FPanesInitialized.store(false);
}

void TPXCommonCombine::SubmitStartCommand() {
    const TSize out = FGeometry.Output;
    if (out.Width < 0 || out.Height < 0)
        throw ERangeError(GetDisplayPath() + ": output size " + std::to_string(out.Width) + " x " +
                          std::to_string(out.Height) + " is negative");
    SubmitStart(out.Width, out.Height);
}

void TPXCommonCombine::CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry) {
    TPXStreamValues own = values;
    own.Format = OutputFormat(values.Format);
    TPXMultiInput::CalculateSendStart(own, geometry);
    FFrameFormat = own.Format;
    // The sizes of the started streams; an input that has not started counts as its last size.
    const auto pins = PinSnapshot();
    if (pins.size() >= 2) {
        const TSize s1{pins[0]->Width, pins[0]->Height}, s2{pins[1]->Width, pins[1]->Height};
        if (s1 != FSize1 || s2 != FSize2) FPanesInitialized.store(false);
        FSize1 = s1;
        FSize2 = s2;
    }
    if (values.Renegotiated) FPanesInitialized.store(false);
    if (!FPanesInitialized.load()) InitializeFramePanes(true);
    // Announced before the other input started (StartIfNotAllRunning): a layout that is empty
    // for want of that input announces the started input's size; the start is negotiated again,
    // with both sizes, before any frame is computed.
    const auto empty = [](TSize s) { return s.Width < 1 || s.Height < 1; };
    if ((empty(FSize1) || empty(FSize2)) && empty(FGeometry.Output)) {
        const TSize started = empty(FSize1) ? FSize2 : FSize1;
        if (started.Width > 0 && started.Height > 0) {
            SubmitStart(started.Width, started.Height);
            return;
        }
    }
    SubmitStartCommand();
}

void TPXCommonCombine::IntStop() {
    UnInitializeFramePanes();
    TPXMultiInput::IntStop();
}

IPXImageBuffer TPXCommonCombine::CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                                    TPXLRQueuedImageSinkPin&) {
    if (pins.size() < 2) return {};
    const IPXImageBuffer f1 = pins[0]->Frame, f2 = pins[1]->Frame;
    if (!f1 && !f2) return {};
    const TPXVideoFormat format = OutputFormat(StreamValues().Format);
    const TSize s1 = f1 ? f1->GetSize() : TSize{pins[0]->Width, pins[0]->Height};
    const TSize s2 = f2 ? f2->GetSize() : TSize{pins[1]->Width, pins[1]->Height};
    if (s1 != FSize1 || s2 != FSize2) {
        FPanesInitialized.store(false);
        FSize1 = s1;
        FSize2 = s2;
    }
    if (!FPanesInitialized.load()) {
        InitializeFramePanes(true);
        // A new size is announced before the frames that have it.
        if (FGeometry.Output != OutputSize()) SubmitStartCommand();
    }
    return BuildOutput(f1, f2, format);
}

IPXImageBuffer TPXCommonCombine::CombineFrames(const IPXImageBuffer& first, const IPXImageBuffer& second) {
    if (!first || !second) throw EPXError(GetDisplayPath() + ": two frames are needed");
    std::lock_guard guard(GetLock());
    const TPXVideoFormat format = OutputFormat(NegotiateFormat({first->GetFormat(), second->GetFormat()}));
    FSize1 = first->GetSize();
    FSize2 = second->GetSize();
    InitializeFramePanes(true);
    return BuildOutput(first, second, format);
}

IPXImageBuffer TPXCommonCombine::BuildOutput(const IPXImageBuffer& in1, const IPXImageBuffer& in2,
                                             TPXVideoFormat format) {
    const TPXCombineGeometry& g = FGeometry;
    if (g.Output.Width < 1 || g.Output.Height < 1)
        throw ERangeError(GetDisplayPath() + ": output size " + std::to_string(g.Output.Width) + " x " +
                          std::to_string(g.Output.Height) + " is empty (the inputs do not overlap)");
    FFrameFormat = format;
    BeginFrame(format);
    IPXImageBuffer f1 = InFormat(in1, format);
    IPXImageBuffer f2 = in2 ? InFormat(in2, GetFormat2(in2)) : in2;
    FFrame2Format = f2 ? f2->GetFormat() : format;
    const uint32_t background = FBackgroundColor;
    const int pixelBytes = BitsPerPixel(format) / 8;

    IPXImageBuffer out = TPXImageBuffer::CreateSize(g.Output.Width, g.Output.Height, format);
    uint8_t* o = out->GetWritePointer();
    const std::ptrdiff_t os = out->GetLineSize();
    const auto at = [](uint8_t* base, std::ptrdiff_t step, TPXCombinePoint p, int bytes) {
        return base + std::ptrdiff_t(p.Y) * step + std::ptrdiff_t(p.X) * bytes;
    };
    const auto fill = [&](TPXCombinePoint loc, TSize size) {
        kernels::FillBackground(format, at(o, os, loc, pixelBytes), os, size, background, true);
    };
    const auto copyFrom = [&](const IPXImageBuffer& f, TPXCombinePoint from, TPXCombinePoint to, TSize size) {
        const int bytes = f->GetBitsPerPixel() / 8;
        CopyPixels(f->GetReadPointer() + std::ptrdiff_t(from.Y) * f->GetLineSize() + std::ptrdiff_t(from.X) * bytes,
                   f->GetLineSize(), at(o, os, to, pixelBytes), os, size, pixelBytes);
    };
    const bool copy2 = DoCopyStream2() && f2 && f2->GetFormat() == format;

    if (!g.Overlap || g.OutputBeyondPanes || !f1 || !f2) fill({0, 0}, g.Output);
    if (!g.Overlap) {
        if (g.Single1.PicToShow == psImage1 && f1) copyFrom(f1, g.Single1.LocInPic1, g.Single1.OutputLoc, g.Single1.Roi);
        if (g.Single2.PicToShow == psImage2 && copy2)
            copyFrom(f2, g.Single2.LocInPic2, g.Single2.OutputLoc, g.Single2.Roi);
        return out;
    }

    // Private copies of the inputs the step writes into, made once per frame.
    uint8_t* src1 = nullptr;
    uint8_t* src2 = nullptr;
    std::ptrdiff_t step1 = 0, step2 = 0;
    IPXImageBuffer own1, own2;
    bool prepared = false;
    const auto prepare = [&] {
        if (prepared) return;
        prepared = true;
        if (f1) {
            if (GetNeedsModify1()) own1 = TPXImageBuffer::CreateCopy(f1);
            src1 = own1 ? own1->GetModifyPointer() : const_cast<uint8_t*>(f1->GetReadPointer());
            step1 = f1->GetLineSize();
        }
        if (f2) {
            if (GetNeedsModify2()) own2 = TPXImageBuffer::CreateCopy(f2);
            src2 = own2 ? own2->GetModifyPointer() : const_cast<uint8_t*>(f2->GetReadPointer());
            step2 = f2->GetLineSize();
        }
    };
    const int bytes2 = f2 ? f2->GetBitsPerPixel() / 8 : pixelBytes;
    for (const auto& row : g.Panes)
        for (const TPXCombineFramePane& p : row) {
            switch (p.PicToShow) {
            case psNone: break;
            case psBackground: fill(p.OutputLoc, p.Roi); break;
            case psImage1:
                if (f1) copyFrom(f1, p.LocInPic1, p.OutputLoc, p.Roi);
                break;
            case psImage2:
                if (copy2) copyFrom(f2, p.LocInPic2, p.OutputLoc, p.Roi);
                else if (f2) fill(p.OutputLoc, p.Roi);
                break;
            case psImageBoth:
                if (!f1) break;
                prepare();
                DoCombineOp(at(src1, step1, p.LocInPic1, pixelBytes), step1,
                            src2 ? at(src2, step2, p.LocInPic2, bytes2) : nullptr, step2, at(o, os, p.OutputLoc, pixelBytes),
                            os, p.Roi, pixelBytes);
                break;
            }
        }
    return out;
}

}  // namespace pixora
