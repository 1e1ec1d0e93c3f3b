// Cylinder: wraps the picture around the centre of a circle, the input's width running out
// from the centre and its height running round the circle.
#pragma once

#include "platform/filters/PXRemapFilters.h"

namespace pixora {

class TPXCylinder final : public TPXCircleRemapFilter {
public:
    explicit TPXCylinder(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

protected:
    void Calculate(TRemapMaps& maps) override;
};

namespace PXCylinder {
void RegisterPkg();
}

}  // namespace pixora
