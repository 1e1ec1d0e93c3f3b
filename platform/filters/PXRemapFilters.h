// Filters that resample every frame through two per-pixel coordinate tables (an X map and a Y
// map, one float per output pixel, row-major): the remap base, and the base of the circular
// distortions (swirl, fish-eye, cylinder) with their centre offset, radius rule and background
// rule.
//
// Map lifetime: a mapping is built into a fresh, immutable TRemapMaps and then swapped in under
// the component's lock; a frame takes the current maps' handle under the lock and resamples
// without it. So a frame always samples one complete mapping, never a half-written one, and a
// setter that rebuilds never waits for a frame.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/filters/PXROIFilters.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

// The coordinate tables of one mapping, for one pair of input and output sizes.
struct TRemapMaps {
    TSize Input{}, Output{};
    std::vector<float> X, Y;  // Output.Width × Output.Height cells each; row stride Output.Width
    float* XRow(int y) { return X.data() + std::size_t(y) * std::size_t(Output.Width); }
    float* YRow(int y) { return Y.data() + std::size_t(y) * std::size_t(Output.Width); }
    // Every output pixel samples its own position: the picture stays as it is.
    void FillIdentity() {
        for (int y = 0; y < Output.Height; ++y)
            for (int x = 0; x < Output.Width; ++x) XRow(y)[x] = float(x), YRow(y)[x] = float(y);
    }
};
using TRemapMapsPtr = std::shared_ptr<const TRemapMaps>;

class TPXBaseRemapFilter : public TPXGeometricTransfromFilter {
public:
    explicit TPXBaseRemapFilter(TComponent* owner = nullptr);
    ~TPXBaseRemapFilter() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // Rebuilds the maps for the sizes last seen (stream start or the last frame); nothing
    // before any size is known. Runs under the component's lock.
    void Recalculate();
    // The maps frames sample now (empty before the first stream start or frame).
    TRemapMapsPtr GetMaps() const;
    // Builds the maps this filter gives for an input and output size, without installing them.
    TRemapMapsPtr BuildMaps(TSize input, TSize output);

protected:
    // Writes X and Y for every output pixel of maps.Output (sizes are non-zero). Called under
    // the component's lock.
    virtual void Calculate(TRemapMaps& maps) = 0;
    // A frame rebuilds the maps first when this says so (state that setters only flag).
    virtual bool MapsOutdated() const { return false; }
    // A published value changed (under the lock): by default every change except those of the
    // base's own resampling, size and threading settings rebuilds the maps at once.
    virtual void PropertyChanged(std::string_view property);
    static bool IsResamplingSetting(std::string_view property);

    void StreamStart(const TLRStartFrameOperation& start) override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    bool BackgroundByBands() const override { return true; }

    // The output size the current policy gives for an input size (an empty custom size refused).
    TSize CheckedOutputSize(int inputWidth, int inputHeight) const;
    // Input and output sizes the maps are built for; false before any size is known.
    bool Geometry(TSize& input, TSize& output) const;
    const char* ClassName() const;

private:
    void Install(TSize input, TSize output);

    TRemapMapsPtr FMaps;
    bool FHaveGeometry = false;
    TSize FGeometryIn{}, FGeometryOut{};
    int FSubscription = 0;
};

enum TPXRemapRadiusMode : uint8_t {
    rrmInputMin,
    rrmInputMax,
    rrmInputWidth,
    rrmInputHeight,
    rrmInputDiag,
    rrmOutputMin,
    rrmOutputMax,
    rrmOutputWidth,
    rrmOutputHeight,
    rrmOutputDiag,
    rrmCustom
};

// How the radius of a circular distortion follows the frame size.
class TPXRemapRadius final : public TLockPersistent {
public:
    explicit TPXRemapRadius(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXRemapRadiusMode GetMode() const { return ReadLocked(FMode); }
    void SetMode(TPXRemapRadiusMode value) { SetPublished(&TPXRemapRadius::FMode, value); }
    int GetCustomRadius() const { return ReadLocked(FCustomRadius); }
    void SetCustomRadius(int32_t value) { SetPublished(&TPXRemapRadius::FCustomRadius, value); }
    void Assign(const TPXRemapRadius& other);

private:
    TPXRemapRadiusMode FMode;
    int32_t FCustomRadius;
};

// What a circular distortion shows outside its circle, and whether sampling is clamped into
// the input.
class TPXCircleRemapBackground final : public TLockPersistent {
public:
    explicit TPXCircleRemapBackground(TChangeNotifyLock& lock) : TLockPersistent(lock) {
        AutoInitProperties(Properties());
    }
    static const TPropertyTable& Properties() { return PropertiesFor(false); }
    // The table whose Preserve default is the class default: a filter whose background starts
    // preserved declares True there, so that reading back and persisting follow its default.
    static const TPropertyTable& PropertiesFor(bool preserveDefault);
    const TPropertyTable& GetPropertyTable() const override { return PropertiesFor(FPreserve_Default); }

    bool GetPreserve() const { return ReadLocked(FPreserve); }
    void SetPreserve(bool value) { SetPublished(&TPXCircleRemapBackground::FPreserve, value); }
    bool GetStretch() const { return ReadLocked(FStretch); }
    void SetStretch(bool value) { SetPublished(&TPXCircleRemapBackground::FStretch, value); }
    // The class default of Preserve: sets both the default and the value.
    void SetPreserve_Default(bool value);
    bool GetPreserve_Default() const { return ReadLocked(FPreserve_Default); }
    // Preserve is worth persisting only when it differs from the class default.
    bool PreserveStored() const { return GetPreserve() != GetPreserve_Default(); }
    void Assign(const TPXCircleRemapBackground& other);

private:
    bool FPreserve;
    bool FPreserve_Default = false;
    bool FStretch;
};

class TPXCircleRemapFilter : public TPXBaseRemapFilter {
public:
    explicit TPXCircleRemapFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TQNOffset& CenterOffset() { return FCenterOffset; }
    TPXRemapRadius& Radius() { return FRadius; }
    TPXCircleRemapBackground& Background() { return FBackground; }

    // The radius in pixels for the sizes the maps are built for (0 before any size is known).
    double GetRadius() const;
    // The radius for an input and output size by Radius.Mode; while the size policy is
    // asBoundingRect the output size is taken to be the input size.
    double RadiusFor(TSize input, TSize output) const;
    // (0, 0, D, D) with D = 2 × round(radius); with Background.Preserve grown to hold the input
    // and the offset circle: (max(W, 2|CX| + D), max(H, 2|CY| + D)).
    TBoundRect MaxBoundingRect(int width, int height) const;

protected:
    TSize GetMaxBoundingRect(int width, int height) const override;

    // What the circle distortions share, read once per map build.
    struct TCircle {
        double InW, InH, OutW, OutH;
        double R;              // radius in pixels
        int Hw, Hh;            // OutW div 2, OutH div 2
        int CX, CY;            // CenterOffset
        double Sx, Sy;         // the source position of the circle's centre
        bool Preserve, Stretch;
    };
    TCircle CircleFor(TSize input, TSize output) const;
    // Stores (x, y) for a pixel inside the circle, clamped when Background.Stretch is set.
    static void Store(const TCircle& c, double x, double y, float& mx, float& my);
    // The background rule for a pixel outside the circle at offset (dx, dy) from its centre.
    static void StoreOutside(const TCircle& c, double dx, double dy, float& mx, float& my);
    // The output size of a bounding-rectangle walk, cached per input size and settings.
    TSize CachedBoundingRect(int width, int height, const std::function<TBoundRect()>& walk) const;
    // The walk of the bounding rectangle over the W × H offsets around the circle's centre:
    // every offset (dx, dy) within the radius whose source point, displaced(dx, dy, d, θ) from the
    // centre and rounded, lies inside 0 .. W × 0 .. H grows the rectangle (which starts as the
    // empty rectangle at the centre). The rectangle is in offsets from the centre.
    template <class F>
    static TBoundRect WalkBounds(int width, int height, double r, F&& displaced) {
        TBoundRect rect;
        const int hw = width / 2, hh = height / 2;
        for (int dy = -hh; dy <= height - hh - 1; ++dy)
            for (int dx = -hw; dx <= width - hw - 1; ++dx) {
                const double d = std::sqrt(double(dx) * dx + double(dy) * dy);
                if (!(d <= r)) continue;
                const double theta = std::atan2(double(float(dy)), double(float(dx)));
                double px, py;
                displaced(d, theta, px, py);
                const double sx = std::nearbyint(px + hw), sy = std::nearbyint(py + hh);
                if (sx >= 0 && sx <= width && sy >= 0 && sy <= height) {
                    rect.Left = std::min(rect.Left, dx);
                    rect.Right = std::max(rect.Right, dx);
                    rect.Top = std::min(rect.Top, dy);
                    rect.Bottom = std::max(rect.Bottom, dy);
                }
            }
        return rect;
    }
    // Clamps a walked rectangle so that it holds the input when Background.Preserve is set.
    void HoldInput(TBoundRect& r, int width, int height) const;

private:
    TQNOffset FCenterOffset;
    TPXRemapRadius FRadius;
    TPXCircleRemapBackground FBackground;

    mutable struct {
        bool Valid = false;
        int Width = 0, Height = 0;
        unsigned long Changes = 0;
        TSize Size{};
    } FBoundCache;
};

}  // namespace pixora
