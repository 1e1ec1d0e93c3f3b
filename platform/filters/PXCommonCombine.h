// Two-input combining: where two frames of possibly different sizes sit relative to each other
// (TPXCombineOffset), how large the output is (TPXCombineFrameSize), and the panes the output is
// cut into (TPXCombineGeometry): areas that show input 1, input 2, both (combined by the
// component's per-pixel step) or the background.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"
#include "platform/props/PXProperties.h"

namespace pixora {

// How the output size is chosen from the two placed inputs.
enum TPXCombineSizeMode : uint8_t {
    smIntersect,            // the overlap of the two inputs
    smWrappingRect,         // the smallest rectangle holding both
    smVerticalIntersect,    // overlap width, wrapping height
    smHorizontalIntersect,  // wrapping width, overlap height
    smCustom,               // Width x Height of the frame size object
};

// What one pane of the output shows.
enum TPXCombinePicToShow : uint8_t { psNone, psImage1, psImage2, psImageBoth, psBackground };

struct TPXCombinePoint {
    int32_t X = 0, Y = 0;
    friend bool operator==(const TPXCombinePoint&, const TPXCombinePoint&) = default;
};

// One rectangle of the output and where it comes from.
struct TPXCombineFramePane {
    TSize Roi;                                  // size of the pane
    TPXCombinePicToShow PicToShow = psNone;
    TPXCombinePoint LocInPic1;                  // top-left corner inside input 1
    TPXCombinePoint LocInPic2;                  // top-left corner inside input 2
    TPXCombinePoint OutputLoc;                  // top-left corner inside the output
    friend bool operator==(const TPXCombineFramePane&, const TPXCombineFramePane&) = default;
};

// The size policy as the three flags it is kept as.
struct TPXCombineSizeFlags {
    bool WrapWidth = true, WrapHeight = true, Custom = false;
    int64_t CustomWidth = 240, CustomHeight = 180;
};

// The flags a size mode sets (Custom sets both wrap flags too), and the mode the flags read as.
TPXCombineSizeFlags SizeFlagsOf(TPXCombineSizeMode mode);
TPXCombineSizeMode SizeModeOf(bool wrapWidth, bool wrapHeight, bool custom) noexcept;

// The layout of one output frame.
struct TPXCombineGeometry {
    TSize Input1, Input2;           // the sizes it was computed for
    TPXCombinePoint Place1, Place2; // top-left corners of the inputs in the common plane
    TSize Wrapping;                 // the wrapping rectangle (its corner is the plane's origin)
    TRect Intersection;             // in the plane; width or height 0 when they do not overlap
    TPXCombinePoint OutputOrigin;   // where the output's top-left corner lies in the plane
    TSize Output;
    // The inputs overlap or touch in both directions (an overlap of zero pixels counts).
    bool Overlap = false;
    // Some part of the output shows the background.
    bool NeedsBackground = false;
    // With Overlap: the nine panes, [vertical band][horizontal band], top-left first.
    TPXCombineFramePane Panes[3][3];
    // Without Overlap: input 1 alone (psImage1, or psNone when clipped away) and input 2 alone.
    TPXCombineFramePane Single1, Single2;
    // With Overlap: part of the output lies outside the wrapping rectangle (the nine panes do not
    // cover it; it shows the background).
    bool OutputBeyondPanes = false;
};

// Lays out two inputs of sizes in1 and in2, input 1's corner offset by (horizontal, vertical)
// from input 2's. Input 1 sits at (max(h, 0), max(v, 0)), input 2 at (max(-h, 0), max(-v, 0)).
// With useFrameSize the output size follows the flags: per axis the wrapping extent when that
// wrap flag is set, else the intersection's (the output window then starts at the
// intersection); Custom gives CustomWidth x CustomHeight from the plane's origin. Without it the
// output keeps keepOutput's size from the plane's origin. Throws ERangeError when a size or
// offset is negative or the arithmetic leaves the 32-bit range.
TPXCombineGeometry ComputeCombineGeometry(TSize in1, TSize in2, int32_t horizontal, int32_t vertical,
                                          const TPXCombineSizeFlags& flags, bool useFrameSize,
                                          TSize keepOutput = {});

// ---- Persistent sub-objects ----------------------------------------------------------------

// Position of input 1's top-left corner relative to input 2's, in pixels.
class TPXCombineOffset final : public TLockPersistent {
public:
    explicit TPXCombineOffset(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    int32_t GetHorizontal() const { return ReadLocked(FHorizontal); }
    int32_t GetVertical() const { return ReadLocked(FVertical); }
    void SetHorizontal(int32_t value) { SetPublished(&TPXCombineOffset::FHorizontal, value); }
    void SetVertical(int32_t value) { SetPublished(&TPXCombineOffset::FVertical, value); }

private:
    int32_t FHorizontal, FVertical;
};

// The output size policy: a custom Width x Height and a SizeMode that is kept as three flags
// (WrapWidth, WrapHeight, Custom). SizeMode is published and stored; reading it derives it from
// the flags, setting it first clears Custom and then sets the flags of the mode.
class TPXCombineFrameSize final : public TLockPersistent {
public:
    explicit TPXCombineFrameSize(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    uint32_t GetWidth() const { return ReadLocked(FWidth); }
    uint32_t GetHeight() const { return ReadLocked(FHeight); }
    void SetWidth(uint32_t value) { SetPublished(&TPXCombineFrameSize::FWidth, value); }
    void SetHeight(uint32_t value) { SetPublished(&TPXCombineFrameSize::FHeight, value); }
    TPXCombineSizeMode GetSizeMode() const;
    void SetSizeMode(TPXCombineSizeMode value);

    bool GetWrapWidth() const { return ReadLocked(FWrapWidth); }
    bool GetWrapHeight() const { return ReadLocked(FWrapHeight); }
    bool GetCustom() const { return ReadLocked(FCustom); }
    // One consistent reading of everything, for a frame's layout.
    TPXCombineSizeFlags Flags() const;

    // Copies Width, Height and the two wrap flags (not Custom) from another, then notifies.
    void Assign(const TPXCombineFrameSize& other);

private:
    void StoreFlags(bool wrapWidth, bool wrapHeight, bool custom);

    uint32_t FWidth, FHeight;
    TPXCombineSizeMode FSizeMode;  // mirrors the flags, for the property table
    bool FWrapWidth = true, FWrapHeight = true, FCustom = false;
};

}  // namespace pixora
