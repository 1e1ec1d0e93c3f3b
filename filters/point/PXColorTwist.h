// Applies a 3 x 4 colour-twist matrix to the colour channels: each output channel is a weighted
// sum of the three input channels plus an offset. Alpha passes through.
#pragma once

#include "platform/filters/PXCommonFilter.h"
#include "platform/kernels/ColorTwist.h"

namespace pixora {

// One row of the matrix: the weights of stored channels 0, 1, 2 (Red, Green, Blue) and the
// Offset added, all 0 at first.
class TPXColorChannelTwist final : public TLockPersistent {
public:
    explicit TPXColorChannelTwist(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetRed() const { return ReadLocked(FRed); }
    float GetGreen() const { return ReadLocked(FGreen); }
    float GetBlue() const { return ReadLocked(FBlue); }
    float GetOffset() const { return ReadLocked(FOffset); }
    // Finite values only: NaN and infinities are refused with an EPropertyError.
    void SetRed(float value) { SetPublished(&TPXColorChannelTwist::FRed, value); }
    void SetGreen(float value) { SetPublished(&TPXColorChannelTwist::FGreen, value); }
    void SetBlue(float value) { SetPublished(&TPXColorChannelTwist::FBlue, value); }
    void SetOffset(float value) { SetPublished(&TPXColorChannelTwist::FOffset, value); }
    // Elements 0 to 3 of the row (Red, Green, Blue, Offset); other indices raise ERangeError.
    float GetElement(int index) const;
    void SetElement(int index, float value);
    void Assign(const TPXColorChannelTwist& other);

private:
    friend class TPXColorTwists;
    float FRed, FGreen, FBlue, FOffset;
};

// The matrix: row 0 (RedTwist) gives stored channel 0, row 1 (GreenTwist) channel 1, row 2
// (BlueTwist) channel 2. All zeros, the initial state, turns every pixel black.
class TPXColorTwists final : public TLockPersistent {
public:
    explicit TPXColorTwists(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXColorChannelTwist& RedTwist() { return FRedTwist; }
    TPXColorChannelTwist& GreenTwist() { return FGreenTwist; }
    TPXColorChannelTwist& BlueTwist() { return FBlueTwist; }
    // Row 0..2; other indices raise ERangeError.
    TPXColorChannelTwist& Row(int index);
    // The whole matrix as one consistent snapshot.
    kernels::TTwistMatrix GetTwistArray() const;
    void SetTwistArray(const kernels::TTwistMatrix& matrix);
    void Assign(const TPXColorTwists& other) { SetTwistArray(other.GetTwistArray()); }

private:
    TPXColorChannelTwist FRedTwist, FGreenTwist, FBlueTwist;
};

class TPXColorTwist final : public TPXCommonFilter {
public:
    explicit TPXColorTwist(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXColorTwists& ColorTwists() { return FColorTwists; }
    // Setting the twists copies the given object's matrix.
    void SetColorTwists(const TPXColorTwists& value) { FColorTwists.Assign(value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    TPXColorTwists FColorTwists;
};

namespace PXColorTwist {
void RegisterPkg();
}

}  // namespace pixora
