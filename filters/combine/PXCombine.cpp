#include "filters/combine/PXCombine.h"

#include "platform/registry/PXRegistry.h"

namespace pixora {

TPXCombine::TPXCombine(TComponent* owner) : TPXCommonCombine(owner), InputPins(this, "InputPins") {
    AutoInitProperties(Properties());
    CreateInputPins(InputPins);
}

TPXCombine::~TPXCombine() { ShutdownMultiInput(); }

const TPropertyTable& TPXCombine::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCombine, TPXCommonCombine>("TPXCombine", {
        Enum("CombineOperation", &TPXCombine::FCombineOperation, "TPXCombineOperation",
             {"coAdd", "coSubtract", "coMultiply", "coDivide", "coOr", "coAnd", "coXor", "coAbsDiff", "coCopy"},
             {.Default = coAdd}),
        Double("Coefficient1", &TPXCombine::FCoefficient1, {.Default = 1.0}),
        Double("Coefficient2", &TPXCombine::FCoefficient2, {.Default = 1.0}),
        Enum("RateSource", &TPXCombine::FRateSource, "TPXFrameRateSource", {"frsMin", "frsChannel1", "frsChannel2"},
             {.Default = frsMin}),
    });
    return table;
}

int TPXCombine::GetRateChannel() const { return int(ReadLocked(FRateSource)) - 1; }

bool TPXCombine::IgnoreIsConnected() const { return FInForcedProcess.load() || TPXCommonCombine::IgnoreIsConnected(); }

bool TPXCombine::GetNeedsModify1() const { return FFrame.Coefficient1 != 1.0; }

bool TPXCombine::GetNeedsModify2() const { return FFrame.Coefficient2 != 1.0 || FrameFormat() == vfRGBA32; }

void TPXCombine::BeginFrame(TPXVideoFormat format) {
    FFrame.Operation = FCombineOperation;
    FFrame.Coefficient1 = FCoefficient1;
    FFrame.Coefficient2 = FCoefficient2;
    FFrame.Background = GetBackgroundColor();
    // Refuse the frame before anything is written when a coefficient cannot be applied.
    const auto check = [&](double c, const char* name) {
        if (kernels::CoefficientAction(c) != kernels::TCoefficientAction::Scale) return;
        try {
            kernels::CoefficientScale(format, c);
        } catch (const ERangeError& e) {
            throw ERangeError(GetDisplayPath() + ": " + name + ": " + e.what());
        }
    };
    check(FFrame.Coefficient1, "Coefficient1");
    check(FFrame.Coefficient2, "Coefficient2");
}

void TPXCombine::DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step,
                             uint8_t* dst, std::ptrdiff_t dstStep, TSize size, int) {
    if (src1 == nullptr || src2 == nullptr) return;
    const TPXVideoFormat format = FrameFormat();
    // Coefficients first, in place on the private copies (checked in BeginFrame).
    kernels::ApplyCoefficient(format, src1, src1Step, size, FFrame.Coefficient1, FFrame.Background, true);
    kernels::ApplyCoefficient(format, src2, src2Step, size, FFrame.Coefficient2, FFrame.Background, false);
    kernels::CombineOp(FFrame.Operation, format, src1, src1Step, src2, src2Step, dst, dstStep, size);
}

void TPXCombine::ProcessFrame(const IPXImageBuffer& frame1, const IPXImageBuffer& frame2, IPXImageBuffer& result) {
    FInForcedProcess.store(true);
    try {
        result = CombineFrames(frame1, frame2);
    } catch (...) {
        FInForcedProcess.store(false);
        throw;
    }
    FInForcedProcess.store(false);
}

void PXCombine::RegisterPkg() {
    RegisterComponents<TPXCombine>({"TPixoraMixersToolbarCategory"}, "Combine two Video streams");
}

}  // namespace pixora
