// Combines two video streams pixel by pixel: one of the combine operations over the area where
// they overlap, each input first scaled by its coefficient.
#pragma once

#include "platform/filters/PXCommonCombine.h"
#include "platform/kernels/Combine.h"

namespace pixora {

// Which input paces the output.
enum TPXFrameRateSource : uint8_t {
    frsMin,       // complete sets by time stamps: the output follows the inputs together
    frsChannel1,  // every frame of input 1 gives an output (with input 2's latest frame)
    frsChannel2,  // every frame of input 2 gives an output (with input 1's latest frame)
};

// Coefficient1 and Coefficient2 start at 1.0 (the inputs are used unchanged); exactly 0.0
// replaces an input by the background colour, any other value scales its samples
// (kernels::ApplyCoefficient). A coefficient whose scale falls outside the sample range (or is
// not a number) drops each frame with a range error naming it.
class TPXCombine final : public TPXCommonCombine {
public:
    explicit TPXCombine(TComponent* owner = nullptr);
    ~TPXCombine() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TLRPinList InputPins;

    TPXCombineOperation GetCombineOperation() const { return ReadLocked(FCombineOperation); }
    void SetCombineOperation(TPXCombineOperation value) { SetPublished(&TPXCombine::FCombineOperation, value); }
    double GetCoefficient1() const { return ReadLocked(FCoefficient1); }
    void SetCoefficient1(double value) { SetPublished(&TPXCombine::FCoefficient1, value); }
    double GetCoefficient2() const { return ReadLocked(FCoefficient2); }
    void SetCoefficient2(double value) { SetPublished(&TPXCombine::FCoefficient2, value); }
    TPXFrameRateSource GetRateSource() const { return ReadLocked(FRateSource); }
    void SetRateSource(TPXFrameRateSource value) { SetPublished(&TPXCombine::FRateSource, value); }

    // Combines two given frames synchronously with the current settings, without waiting for
    // unconnected inputs; result receives the output frame. Errors are raised, not reported.
    void ProcessFrame(const IPXImageBuffer& frame1, const IPXImageBuffer& frame2, IPXImageBuffer& result);

protected:
    void DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step, uint8_t* dst,
                     std::ptrdiff_t dstStep, TSize size, int pixelBytes) override;
    bool GetNeedsModify1() const override;
    bool GetNeedsModify2() const override;
    void BeginFrame(TPXVideoFormat format) override;
    int GetRateChannel() const override;
    bool IgnoreIsConnected() const override;

private:
    TPXCombineOperation FCombineOperation;
    double FCoefficient1, FCoefficient2;
    TPXFrameRateSource FRateSource;
    std::atomic<bool> FInForcedProcess{false};
    // The frame's settings, taken in BeginFrame.
    struct TFrameSettings {
        TPXCombineOperation Operation = coAdd;
        double Coefficient1 = 1.0, Coefficient2 = 1.0;
        uint32_t Background = 0;
    } FFrame;
};

namespace PXCombine {
void RegisterPkg();
}

}  // namespace pixora
