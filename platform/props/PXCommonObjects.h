// Small persistent sub-objects that many components publish: a region of interest, a size and
// an offset. Each takes its owner's change-notify lock.
#pragma once

#include "platform/kernels/View.h"
#include "platform/props/PXProperties.h"

namespace pixora {

// The region of interest: a rectangle that is used only when Enabled.
class TPXRectRegion final : public TLockPersistent {
public:
    explicit TPXRectRegion(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TPXRectRegion::FEnabled, value); }
    TRect GetRectangle() const;
    void SetRectangle(const TRect& rect);

    // The rectangle to process in a frame of that size: the whole frame when disabled, else the
    // region clamped to the frame (possibly empty).
    TRect Clamp(int frameWidth, int frameHeight) const;

private:
    bool FEnabled;
    int32_t FX, FY, FWidth, FHeight;
};

// A width and a height in pixels, at least 1 each.
// What a size outside 1 .. 16384 does: a generator's frame size is clamped into the range; an
// output size that a transform must allocate refuses it with a message instead.
enum class TImageSizeRule { Clamp, Refuse };

class TPXImageSize final : public TLockPersistent {
public:
    explicit TPXImageSize(TChangeNotifyLock& lock, TImageSizeRule rule = TImageSizeRule::Clamp)
        : TLockPersistent(lock), FRule(rule) {
        AutoInitProperties(GetPropertyTable());
    }
    TPXImageSize(TChangeNotifyLock& lock, int width, int height) : TPXImageSize(lock) { SetSize(width, height); }
    // The clamping table; RefusingProperties() declares the same properties with the refusing rule.
    static const TPropertyTable& Properties();
    static const TPropertyTable& RefusingProperties();
    const TPropertyTable& GetPropertyTable() const override {
        return FRule == TImageSizeRule::Refuse ? RefusingProperties() : Properties();
    }

    int GetWidth() const { return ReadLocked(FWidth); }
    int GetHeight() const { return ReadLocked(FHeight); }
    TSize GetSize() const;
    void SetWidth(int32_t value) { SetPublished(&TPXImageSize::FWidth, value); }
    void SetHeight(int32_t value) { SetPublished(&TPXImageSize::FHeight, value); }
    void SetSize(int width, int height) {
        SetWidth(width);
        SetHeight(height);
    }

private:
    TImageSizeRule FRule;
    int32_t FWidth, FHeight;
};

// The offset record of the signal framework: integer CX, CY.
class TQNOffset final : public TLockPersistent {
public:
    explicit TQNOffset(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    int GetCX() const { return ReadLocked(FCX); }
    int GetCY() const { return ReadLocked(FCY); }
    void SetCX(int32_t value) { SetPublished(&TQNOffset::FCX, value); }
    void SetCY(int32_t value) { SetPublished(&TQNOffset::FCY, value); }

private:
    int32_t FCX, FCY;
};

// Where an offset is measured from: a corner, the middle of an edge, or the centre of a frame.
enum TQNCoordinateMode : uint8_t {
    cmLeftTop,
    cmLeftBottom,
    cmLeftCenter,
    cmRightTop,
    cmRightBottom,
    cmRightCenter,
    cmTopCenter,
    cmBottomCenter,
    cmCenter
};

// An offset (integer CX, CY) from a reference point of the frame chosen by Mode.
class TPXCenterOffset final : public TLockPersistent {
public:
    explicit TPXCenterOffset(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TQNCoordinateMode GetMode() const { return ReadLocked(FMode); }
    int GetCX() const { return ReadLocked(FCX); }
    int GetCY() const { return ReadLocked(FCY); }
    void SetMode(TQNCoordinateMode value) { SetPublished(&TPXCenterOffset::FMode, value); }
    void SetCX(int32_t value) { SetPublished(&TPXCenterOffset::FCX, value); }
    void SetCY(int32_t value) { SetPublished(&TPXCenterOffset::FCY, value); }

private:
    TQNCoordinateMode FMode;
    int32_t FCX, FCY;
};

}  // namespace pixora

namespace pixora {

// A point with single-precision coordinates X, Y (the control points of the free-form warps).
class TKDFloatPointProperty final : public TLockPersistent {
public:
    explicit TKDFloatPointProperty(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties() {
        using T = TKDFloatPointProperty;
        static const TPropertyTable table =
            TPropertyTable::Of<T>("TKDFloatPointProperty", {Float("X", &T::FX, {.Default = 0.0f}),
                                                            Float("Y", &T::FY, {.Default = 0.0f})});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetX() const { return ReadLocked(FX); }
    float GetY() const { return ReadLocked(FY); }
    void SetX(float value) { SetPublished(&TKDFloatPointProperty::FX, value); }
    void SetY(float value) { SetPublished(&TKDFloatPointProperty::FY, value); }
    void SetPoint(float x, float y) {
        std::lock_guard guard(GetLock());
        SetX(x);
        SetY(y);
    }

private:
    float FX, FY;
};

}  // namespace pixora
