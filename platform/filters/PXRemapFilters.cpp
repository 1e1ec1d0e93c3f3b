// The remap base (maps, per-frame remap) and the circle-distortion base (radius, background,
// largest output rectangle).
#include "platform/filters/PXRemapFilters.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "platform/kernels/Remap.h"

namespace pixora {

// ---- TPXBaseRemapFilter ----------------------------------------------------------------------

const TPropertyTable& TPXBaseRemapFilter::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TPXBaseRemapFilter, TPXGeometricTransfromFilter>("TPXBaseRemapFilter", {});
    return table;
}

TPXBaseRemapFilter::TPXBaseRemapFilter(TComponent* owner) : TPXGeometricTransfromFilter(owner) {
    FSubscription = GetLock().Subscribe([this](std::string_view property) { PropertyChanged(property); });
}

TPXBaseRemapFilter::~TPXBaseRemapFilter() {
    ShutdownThread();
    GetLock().Unsubscribe(FSubscription);
}

const char* TPXBaseRemapFilter::ClassName() const { return GetPropertyTable().ClassName().c_str(); }

bool TPXBaseRemapFilter::IsResamplingSetting(std::string_view property) {
    // Settings of the frame pipeline that leave the coordinate tables as they are (a new output
    // size is picked up by the next frame, which rebuilds the maps for it).
    static constexpr std::string_view kNames[] = {
        "BackgroundColor", "InterpolationType", "OutputFormat", "MultiCore", "BlockSize", "Enabled",
        "Threaded",        "QueueSize",         "AutoSize",     "Width",     "Height",    "X",
        "Y",
    };
    return std::find(std::begin(kNames), std::end(kNames), property) != std::end(kNames);
}

void TPXBaseRemapFilter::PropertyChanged(std::string_view property) {
    if (!IsResamplingSetting(property)) Recalculate();
}

bool TPXBaseRemapFilter::Geometry(TSize& input, TSize& output) const {
    std::lock_guard guard(GetLock());
    input = FGeometryIn;
    output = FGeometryOut;
    return FHaveGeometry;
}

TRemapMapsPtr TPXBaseRemapFilter::GetMaps() const {
    std::lock_guard guard(GetLock());
    return FMaps;
}

TRemapMapsPtr TPXBaseRemapFilter::BuildMaps(TSize input, TSize output) {
    auto maps = std::make_shared<TRemapMaps>();
    maps->Input = input;
    maps->Output = output;
    if (output.Width <= 0 || output.Height <= 0) return maps;  // no pixels to map
    const std::size_t cells = std::size_t(output.Width) * std::size_t(output.Height);
    // Two float tables per output pixel: beyond the largest frame the platform makes (16384 ×
    // 16384) they would take gigabytes, so such a size is refused before anything is allocated.
    constexpr std::size_t kMaxCells = std::size_t(16384) * 16384;
    if (cells > kMaxCells)
        throw EPXError(std::string(ClassName()) + ": a " + std::to_string(output.Width) + " x " +
                       std::to_string(output.Height) + " output is too large for its remap tables");
    try {
        maps->X.resize(cells);
        maps->Y.resize(cells);
    } catch (const std::bad_alloc&) {
        throw EPXError(std::string(ClassName()) + ": the remap tables of a " + std::to_string(output.Width) + " x " +
                       std::to_string(output.Height) + " output do not fit in memory");
    }
    std::lock_guard guard(GetLock());
    Calculate(*maps);
    return maps;
}

void TPXBaseRemapFilter::Install(TSize input, TSize output) {
    std::lock_guard guard(GetLock());
    TRemapMapsPtr maps = BuildMaps(input, output);
    FGeometryIn = input;
    FGeometryOut = output;
    FHaveGeometry = true;
    FMaps = std::move(maps);
}

void TPXBaseRemapFilter::Recalculate() {
    std::lock_guard guard(GetLock());
    if (FHaveGeometry) Install(FGeometryIn, FGeometryOut);
}

TSize TPXBaseRemapFilter::CheckedOutputSize(int inputWidth, int inputHeight) const {
    if (GetAutoSize() == asCustom) {
        const TSize custom = CustomSize().GetSize();
        if (custom.Width <= 0 || custom.Height <= 0)
            throw EPXError(std::string(ClassName()) + ": CustomSize " + std::to_string(custom.Width) + " x " +
                           std::to_string(custom.Height) + " is empty");
    }
    return OutputSizeFor(inputWidth, inputHeight);
}

void TPXBaseRemapFilter::StreamStart(const TLRStartFrameOperation& start) {
    TPXGeometricTransfromFilter::StreamStart(start);
    if (start.Width <= 0 || start.Height <= 0) return;
    const TSize output = CheckedOutputSize(start.Width, start.Height);
    Install({start.Width, start.Height}, output);
}

void TPXBaseRemapFilter::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXGeometricTransfromFilter::SetVideoFormat(buffer);
}

void TPXBaseRemapFilter::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TSize inSize = in->GetSize();
    const TSize outSize = out->GetSize();
    TRemapMapsPtr maps;
    TColor background;
    {
        std::lock_guard guard(GetLock());
        if (!FMaps || FMaps->Input != inSize || FMaps->Output != outSize || MapsOutdated()) {
            CheckedOutputSize(inSize.Width, inSize.Height);
            Install(inSize, outSize);
        }
        maps = FMaps;
        background = GetBackgroundColor();
    }
    // The remap reads the source rectangle: the region of interest when enabled, else the frame.
    const TRect srcRoi = RegionRect(inSize.Width, inSize.Height);
    const int flag = InterpolationFlag();
    ProcessInInputFormat(in, out, [&](const IPXImageBuffer& work) {
        // The background of a four-channel frame is transparent: alpha 0.
        if ((background >> 24) != 0) TransparentBackground(work);
        if (srcRoi.Empty() || maps->X.empty()) return;
        const int outW = maps->Output.Width;
        ForSampleType(in->GetFormat(), [&]<class T>() {
            const ConstView<T> src = in->ReadView<T>();
            const View<T> dst = work->WriteView<T>(true);
            RunRowBands(maps->Output.Height, outW * work->GetBitsPerPixel() / 8, [&](int y, int h) {
                View<T> band = dst;
                band.Data = dst.Row(y);
                band.Height = h;
                const std::size_t offset = std::size_t(y) * std::size_t(outW);
                kernels::Remap<T>(src, srcRoi, maps->X.data() + offset, outW, maps->Y.data() + offset, outW, band,
                                  flag);
            });
        });
    });
}

// ---- radius and background ---------------------------------------------------------------------

const TPropertyTable& TPXRemapRadius::Properties() {
    using T = TPXRemapRadius;
    static const TPropertyTable table = TPropertyTable::Of<T>("TPXRemapRadius", {
        Enum("Mode", &T::FMode, "TPXRemapRadiusMode",
             {"rrmInputMin", "rrmInputMax", "rrmInputWidth", "rrmInputHeight", "rrmInputDiag", "rrmOutputMin",
              "rrmOutputMax", "rrmOutputWidth", "rrmOutputHeight", "rrmOutputDiag", "rrmCustom"},
             {.Default = rrmInputMin}),
        Int("CustomRadius", &T::FCustomRadius, {.Default = 50}),
    });
    return table;
}

void TPXRemapRadius::Assign(const TPXRemapRadius& other) {
    const TPXRemapRadiusMode mode = other.GetMode();
    const int custom = other.GetCustomRadius();
    std::lock_guard guard(GetLock());
    SetMode(mode);
    SetCustomRadius(custom);
}

const TPropertyTable& TPXCircleRemapBackground::PropertiesFor(bool preserveDefault) {
    using T = TPXCircleRemapBackground;
    static const TPropertyTable plain = TPropertyTable::Of<T>("TPXCircleRemapBackground", {
        Bool("Preserve", &T::FPreserve, {.Default = false}).Stored(&T::PreserveStored),
        Bool("Stretch", &T::FStretch, {.Default = false}),
    });
    static const TPropertyTable preserving = TPropertyTable::Of<T>("TPXCircleRemapBackground", {
        Bool("Preserve", &T::FPreserve, {.Default = true}).Stored(&T::PreserveStored),
        Bool("Stretch", &T::FStretch, {.Default = false}),
    });
    return preserveDefault ? preserving : plain;
}

void TPXCircleRemapBackground::SetPreserve_Default(bool value) {
    std::lock_guard guard(GetLock());
    FPreserve_Default = value;
    SetPreserve(value);
}

void TPXCircleRemapBackground::Assign(const TPXCircleRemapBackground& other) {
    const bool preserve = other.GetPreserve(), stretch = other.GetStretch();
    std::lock_guard guard(GetLock());
    SetPreserve(preserve);
    SetStretch(stretch);
}

// ---- TPXCircleRemapFilter ---------------------------------------------------------------------

const TPropertyTable& TPXCircleRemapFilter::Properties() {
    using T = TPXCircleRemapFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXBaseRemapFilter>("TPXCircleRemapFilter", {
        Object("CenterOffset", &T::FCenterOffset),
        Object("Radius", &T::FRadius),
        Object("Background", &T::FBackground),
    });
    return table;
}

TPXCircleRemapFilter::TPXCircleRemapFilter(TComponent* owner)
    : TPXBaseRemapFilter(owner), FCenterOffset(GetLock()), FRadius(GetLock()), FBackground(GetLock()) {}

double TPXCircleRemapFilter::RadiusFor(TSize input, TSize output) const {
    TPXRemapRadiusMode mode;
    int custom;
    {
        std::lock_guard guard(GetLock());
        mode = FRadius.GetMode();
        custom = FRadius.GetCustomRadius();
    }
    if (GetAutoSize() == asBoundingRect) output = input;
    const double inW = input.Width, inH = input.Height, outW = output.Width, outH = output.Height;
    switch (mode) {
    case rrmInputMin: return std::min(inW, inH) / 2;
    case rrmInputMax: return std::max(inW, inH) / 2;
    case rrmInputWidth: return inW / 2;
    case rrmInputHeight: return inH / 2;
    case rrmInputDiag: return std::sqrt(inW * inW + inH * inH) / 2;
    case rrmOutputMin: return std::min(outW, outH) / 2;
    case rrmOutputMax: return std::max(outW, outH) / 2;
    case rrmOutputWidth: return outW / 2;
    case rrmOutputHeight: return outH / 2;
    case rrmOutputDiag: return std::sqrt(outW * outW + outH * outH) / 2;
    case rrmCustom: return custom;
    }
    return 0;
}

double TPXCircleRemapFilter::GetRadius() const {
    TSize input, output;
    if (!Geometry(input, output)) return 0;
    return RadiusFor(input, output);
}

TBoundRect TPXCircleRemapFilter::MaxBoundingRect(int width, int height) const {
    // The output size is what is being decided here: the radius takes the size the maps were
    // last built for, or the input size before any.
    const TSize input{width, height};
    TSize output = input, known, recorded;
    if (Geometry(known, recorded) && known == input) output = recorded;
    const double r = RadiusFor(input, output);
    const double rounded = std::nearbyint(r);
    if (!std::isfinite(rounded) || std::fabs(rounded) * 2 > double(INT32_MAX))
        throw ERangeError(std::string(ClassName()) + ": the radius " + std::to_string(r) + " overflows the output size");
    const int64_t d = 2 * int64_t(rounded);
    int cx, cy;
    bool preserve;
    {
        std::lock_guard guard(GetLock());
        cx = FCenterOffset.GetCX();
        cy = FCenterOffset.GetCY();
        preserve = FBackground.GetPreserve();
    }
    if (!preserve) return {0, 0, int(d), int(d)};
    const int64_t w = std::max<int64_t>(width, 2 * std::abs(int64_t(cx)) + d);
    const int64_t h = std::max<int64_t>(height, 2 * std::abs(int64_t(cy)) + d);
    if (w > INT32_MAX || h > INT32_MAX)
        throw ERangeError(std::string(ClassName()) + ": CenterOffset and radius overflow the output size");
    return {0, 0, int(w), int(h)};
}

TSize TPXCircleRemapFilter::GetMaxBoundingRect(int width, int height) const {
    const TBoundRect r = MaxBoundingRect(width, height);
    return {std::max(r.Width(), 0), std::max(r.Height(), 0)};
}

TPXCircleRemapFilter::TCircle TPXCircleRemapFilter::CircleFor(TSize input, TSize output) const {
    std::lock_guard guard(GetLock());
    TCircle c;
    c.InW = input.Width, c.InH = input.Height, c.OutW = output.Width, c.OutH = output.Height;
    c.R = RadiusFor(input, output);
    c.Hw = output.Width / 2, c.Hh = output.Height / 2;
    c.CX = FCenterOffset.GetCX(), c.CY = FCenterOffset.GetCY();
    c.Sx = c.Hw - ((c.OutW - c.InW) / 2 - c.CX);
    c.Sy = c.Hh - ((c.OutH - c.InH) / 2 - c.CY);
    c.Preserve = FBackground.GetPreserve();
    c.Stretch = FBackground.GetStretch();
    return c;
}

void TPXCircleRemapFilter::Store(const TCircle& c, double x, double y, float& mx, float& my) {
    if (c.Stretch) {
        x = std::clamp(x, 0.0, std::max(c.InW - 1, 0.0));
        y = std::clamp(y, 0.0, std::max(c.InH - 1, 0.0));
    }
    mx = float(x);
    my = float(y);
}

void TPXCircleRemapFilter::StoreOutside(const TCircle& c, double dx, double dy, float& mx, float& my) {
    if (c.Preserve) {
        Store(c, dx + c.Sx, dy + c.Sy, mx, my);
    } else {
        // A point outside any source: the remap leaves the background there.
        mx = my = -10.0f;
    }
}

TSize TPXCircleRemapFilter::CachedBoundingRect(int width, int height, const std::function<TBoundRect()>& walk) const {
    std::lock_guard guard(GetLock());
    const unsigned long changes = GetLock().ChangeCount();
    if (!FBoundCache.Valid || FBoundCache.Width != width || FBoundCache.Height != height ||
        FBoundCache.Changes != changes) {
        const TBoundRect r = walk();
        FBoundCache.Size = {std::max(r.Width(), 0), std::max(r.Height(), 0)};
        FBoundCache.Width = width;
        FBoundCache.Height = height;
        FBoundCache.Changes = changes;
        FBoundCache.Valid = true;
    }
    return FBoundCache.Size;
}

void TPXCircleRemapFilter::HoldInput(TBoundRect& r, int width, int height) const {
    if (!FBackground.GetPreserve()) return;
    if (r.Right - r.Left < width) r.Right = r.Left + width;
    if (r.Bottom - r.Top < height) r.Bottom = r.Top + height;
}

}  // namespace pixora
