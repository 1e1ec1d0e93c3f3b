// The base of components that consume video without producing any (files, displays): one
// image input pin whose every operation goes to InputDispatch.
#pragma once

#include "platform/component/PXComponent.h"

namespace pixora {

class TPXBasicVideoOut : public TLockComponent {
public:
    explicit TPXBasicVideoOut(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLRImageSinkPin InputPin;

protected:
    // Every operation arriving at InputPin, on the delivering thread; the result is the pin's answer.
    virtual bool InputDispatch(TLRSinkPin& pin, const ILRNotifyOperation& op) = 0;
};

}  // namespace pixora
