// The output base routes its pin straight to the derived component.
#include "platform/filters/PXBasicVideoOut.h"

namespace pixora {

const TPropertyTable& TPXBasicVideoOut::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXBasicVideoOut, TLockComponent>("TPXBasicVideoOut", {});
    return table;
}

TPXBasicVideoOut::TPXBasicVideoOut(TComponent* owner)
    : TLockComponent(owner),
      InputPin(this, "InputPin", [this](TLRSinkPin& pin, const ILRNotifyOperation& op) { return InputDispatch(pin, op); }) {
    PublishPin(InputPin);
}

}  // namespace pixora
