// Per-operation handling of the single-input filter.
#include "platform/filters/PXCommonFilter.h"

namespace pixora {

const TPropertyTable& TPXCommonFilter::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TPXCommonFilter, TQNBasicTypedThreadedEnableFilter>("TPXCommonFilter", {});
    return table;
}

TPXCommonFilter::TPXCommonFilter(TComponent* owner)
    : TQNBasicTypedThreadedEnableFilter(owner),
      InputPin(this, "InputPin", [this](TLRSinkPin& pin, const ILRNotifyOperation& op) { return EnqueueOperation(pin, op); }),
      OutputPin(this, "OutputPin", [this](TLRSourcePin&, const ILRNotifyOperation& op) {
          // Pump negotiation passes through a filter to whoever feeds it.
          return InputPin.NotifyUpstream(op);
      }) {
    PublishPin(InputPin);
    PublishPin(OutputPin);
}

void TPXCommonFilter::SetVideoFormat(const IPXImageBuffer&) { FConvertToDefault = true; }

void TPXCommonFilter::Negotiate(TPXVideoFormat format, int width, int height) {
    FConvertToDefault = false;
    FInputFormat = format;
    FFormatKnown = true;
    SetVideoFormat(TPXImageBuffer::CreateHeader(width, height, format));
}

TLRStartFrameOperation TPXCommonFilter::OutputStart(const TLRStartFrameOperation& input) {
    TLRStartFrameOperation output = input;
    output.Format = ProcessingFormat(input.Format);
    return output;
}

void TPXCommonFilter::StreamStart(const TLRStartFrameOperation& start) {
    Negotiate(start.Format, start.Width, start.Height);
}

IPXImageBuffer TPXCommonFilter::Run(const IPXImageBuffer& frame) {
    if (!IsEnabled()) {
        IPXImageBuffer out = frame;
        ProcessDisabled(frame, out);
        return out;
    }
    if (!FFormatKnown || frame->GetFormat() != FInputFormat)
        Negotiate(frame->GetFormat(), frame->GetWidth(), frame->GetHeight());
    IPXImageBuffer in = frame;
    if (FConvertToDefault && in->GetFormat() != vfRGB24) {
        in = TPXImageBuffer::CreateCopy(frame);
        in->ConvertToFormat(vfRGB24);
    }
    IPXImageBuffer out = PrepareOutput(in);
    FilterInternalOperation(in, out);
    return out;
}

IPXImageBuffer TPXCommonFilter::ProcessFrame(const IPXImageBuffer& frame) {
    if (!frame) throw EPXError(GetDisplayPath() + ": no frame to process");
    return Run(frame);
}

void TPXCommonFilter::SinkDispatch(TQueuedOperation& op) {
    switch (op.Kind) {
    case TOperationKind::StartFrame: {
        StreamStart(op.Start);
        OutputPin.Notify(OutputStart(op.Start));
        break;
    }
    case TOperationKind::SuppliedBuffer: {
        IPXImageBuffer out = Run(TPXImageBuffer::CreateUniversal(op.Data));
        op.Data.Reset();
        OutputPin.Notify(TLRSuppliedBufferOperation::Make(std::move(out)));
        break;
    }
    case TOperationKind::Stop:
        StreamStop();
        OutputPin.Notify(TLRStopOperation::Make(op.Aborted));
        FFormatKnown = false;
        break;
    case TOperationKind::StartSampleRate: OutputPin.Notify(op.SampleRate); break;
    case TOperationKind::IgnoreStream: OutputPin.Notify(TLRIgnoreStreamOperation()); break;
    case TOperationKind::StartPump: OutputPin.Notify(TLRStartPumpOperation()); break;
    default: break;
    }
}

}  // namespace pixora
