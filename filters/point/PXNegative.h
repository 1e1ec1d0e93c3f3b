// Inverts every sample inside the region of interest: out = maximum - in, alpha included.
#pragma once

#include "platform/filters/PXROIProcessingFilter.h"

namespace pixora {

class TPXNegative final : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXNegative(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    IOCLKernel FCLKernel8Bit, FCLKernel16Bit;
};

namespace PXNegative {
void RegisterPkg();
}

}  // namespace pixora
