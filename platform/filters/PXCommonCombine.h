// Two-input combining: where two frames of possibly different sizes sit relative to each other
// (TPXCombineOffset), how large the output is (TPXCombineFrameSize), and the panes the output is
// cut into (TPXCombineGeometry): areas that show input 1, input 2, both (combined by the
// component's per-pixel step) or the background.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/filters/PXMultiInput.h"
#include "platform/image/PXImageBuffer.h"
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

// ---- The two-input combining base ------------------------------------------------------------

// Builds every output frame from two inputs: input 1 (pin 0) placed at Offset relative to input
// 2 (pin 1), an output of the size FrameSize chooses, areas that only one input covers copied
// from it, areas that neither covers filled with BackgroundColor, and the overlap handed to the
// descendant's DoCombineOp. Descendants create the two queued pins (CreateInputPins) and supply
// DoCombineOp; they may answer GetNeedsModify1/2, GetFormat2, DoCopyStream2 and BeginFrame.
//
// BackgroundColor holds blue in bits 0..7, green in 8..15, red in 16..23 and alpha in 24..31.
// A frame of another format than the output stream's is converted to it first (input 2 to
// GetFormat2's). An input without a frame (not started yet, or paced by the other input's
// rate) shows as background.
class TPXCommonCombine : public TPXMultiInput {
public:
    explicit TPXCommonCombine(TComponent* owner = nullptr);
    ~TPXCommonCombine() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXCombineFrameSize& GetFrameSize() { return FFrameSize; }
    TPXCombineOffset& GetOffset() { return FOffset; }
    bool GetStartIfNotAllRunning() const { return ReadLocked(FStartIfNotAllRunning); }
    void SetStartIfNotAllRunning(bool value) { SetPublished(&TPXCommonCombine::FStartIfNotAllRunning, value); }
    uint32_t GetBackgroundColor() const { return ReadLocked(FBackgroundColor); }
    void SetBackgroundColor(uint32_t value) { SetPublished(&TPXCommonCombine::FBackgroundColor, value); }

    // The layout the next frame uses (recomputed after a size or settings change); for tests
    // and hosts.
    TPXCombineGeometry GetGeometry() const;

    // Combines two frames synchronously, outside the streams: the output of the current
    // settings for input 1 = first and input 2 = second, in their negotiated format. Raises the
    // errors a frame would report (a coefficient out of range, an empty output size).
    IPXImageBuffer CombineFrames(const IPXImageBuffer& first, const IPXImageBuffer& second);

protected:
    // Creates the two queued input pins in `list` (input 1 first). Without names the list is
    // published ("InputPins[0]", "InputPins[1]"); with names the two pins are published alone
    // under them ("InputPin", "BackgroundInputPin").
    void CreateInputPins(TLRPinList& list, const char* name1 = nullptr, const char* name2 = nullptr);

    // The per-pixel step over one rectangle that both inputs cover. src1/src2 point at the
    // rectangle's first pixel in input 1 / input 2, dst at the output rectangle's; steps are
    // row strides in bytes. A source is writable only when GetNeedsModify1/2 answered true for
    // this frame (the caller then passes a private copy); src2 null means input 2 has no frame:
    // do nothing. Runs on the thread completing the input set, under the component lock.
    virtual void DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step,
                             uint8_t* dst, std::ptrdiff_t dstStep, TSize size, int pixelBytes) = 0;
    virtual bool GetNeedsModify1() const { return false; }
    virtual bool GetNeedsModify2() const { return false; }
    // The format input 2's frames are used in; the output stream's by default.
    virtual TPXVideoFormat GetFormat2(const IPXImageBuffer& frame) const;
    // Whether areas only input 2 covers are copied from it (else they show the background).
    virtual bool DoCopyStream2() const { return true; }
    // The output stream's format, given the negotiated one.
    virtual TPXVideoFormat OutputFormat(TPXVideoFormat negotiated) const { return negotiated; }
    // Called once per frame before any DoCombineOp, under the component lock: take the frame's
    // settings, check them (throwing drops the frame with the error's message).
    virtual void BeginFrame(TPXVideoFormat format) {}
    // The format of the frame being built (valid from BeginFrame on), and the one input 2's
    // frame is used in (valid in DoCombineOp).
    TPXVideoFormat FrameFormat() const noexcept { return FFrameFormat; }
    TPXVideoFormat Frame2Format() const noexcept { return FFrame2Format; }

    // Recomputes the layout from the last input sizes, the offset and the frame size; without
    // useFrameSize the output keeps its current size.
    void InitializeFramePanes(bool useFrameSize);
    // The next frame recomputes the layout.
    void UnInitializeFramePanes();

    // TPXMultiInput
    void CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry) override;
    IPXImageBuffer CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                      TPXLRQueuedImageSinkPin& completing) override;
    bool CanStartIfNotAllRunning() const override;
    TPXPoint GetInputOffset(int index) const override;
    void IntStop() override;

private:
    // Sends the output start of the current layout; a negative size is a range error.
    void SubmitStartCommand();
    IPXImageBuffer BuildOutput(const IPXImageBuffer& in1, const IPXImageBuffer& in2, TPXVideoFormat format);

    TPXCombineFrameSize FFrameSize;
    TPXCombineOffset FOffset;
    bool FStartIfNotAllRunning;
    uint32_t FBackgroundColor;

    // Working state, under the component lock.
    TPXCombineGeometry FGeometry;
    TSize FSize1{}, FSize2{};
    std::atomic<bool> FPanesInitialized{false};
    TPXVideoFormat FFrameFormat = vfRGB24, FFrame2Format = vfRGB24;
    int FListener = 0;
};

}  // namespace pixora
