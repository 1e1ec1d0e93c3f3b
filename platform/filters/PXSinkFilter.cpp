// Dispatch of the sink filter's input operations.
#include "platform/filters/PXSinkFilter.h"

namespace pixora {

const TPropertyTable& TPXSinkFilter::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TPXSinkFilter, TQNBasicTypedThreadedEnableFilter>("TPXSinkFilter", {});
    return table;
}

TPXSinkFilter::TPXSinkFilter(TComponent* owner)
    : TQNBasicTypedThreadedEnableFilter(owner),
      InputPin(this, "InputPin", [this](TLRSinkPin& pin, const ILRNotifyOperation& op) { return EnqueueOperation(pin, op); }) {
    PublishPin(InputPin);
}

void TPXSinkFilter::SinkDispatch(TQueuedOperation& op) {
    switch (op.Kind) {
    case TOperationKind::StartFrame: VideoStreamStart(op.Start); break;
    case TOperationKind::SuppliedBuffer:
        if (IsEnabled()) ProcessImage(TPXImageBuffer::CreateUniversal(op.Data));
        break;
    case TOperationKind::Stop: VideoStreamStop(op.Aborted); break;
    default: break;
    }
}

}  // namespace pixora
