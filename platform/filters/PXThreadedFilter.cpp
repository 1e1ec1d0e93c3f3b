// Queueing and inline handling of the operations that reach a filter.
#include "platform/filters/PXThreadedFilter.h"

#include <exception>

namespace pixora {

const TPropertyTable& TQNBasicTypedThreadedFilter::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TQNBasicTypedThreadedFilter, TLockComponent>("TQNBasicTypedThreadedFilter", {
            Bool("Threaded", &TQNBasicTypedThreadedFilter::FThreaded,
                 {.Default = true, .Category = "Threading", .DisplayName = "Process on own thread"}),
            Int("QueueSize", &TQNBasicTypedThreadedFilter::FQueueSize,
                {.Default = 4, .Min = 1, .Max = 256, .Category = "Threading"}),
        });
    return table;
}

TQNBasicTypedThreadedFilter::TQNBasicTypedThreadedFilter(TComponent* owner) : TLockComponent(owner) {
    AutoInitProperties(Properties());
}

TQNBasicTypedThreadedFilter::~TQNBasicTypedThreadedFilter() { ShutdownThread(); }

void TQNBasicTypedThreadedFilter::ShutdownThread() {
    std::unique_ptr<TProcessingThread<TQueuedOperation>> thread;
    {
        std::lock_guard lock(FThreadMutex);
        thread = std::move(FThread);
    }
    if (thread) thread->Stop(TStopMode::Discard);
    thread.reset();
    FPending.store(0);
    FIdle.notify_all();
}

void TQNBasicTypedThreadedFilter::Handle(TQueuedOperation& op) {
    try {
        SinkDispatch(op);
    } catch (const std::exception& e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("unknown failure");
    }
}

bool TQNBasicTypedThreadedFilter::EnqueueOperation(TLRSinkPin& pin, const ILRNotifyOperation& op) {
    TQueuedOperation item;
    item.Kind = op.Kind();
    item.Pin = &pin;
    switch (op.Kind()) {
    case TOperationKind::StartFrame: item.Start = static_cast<const TLRStartFrameOperation&>(op); break;
    case TOperationKind::StartSampleRate:
        item.SampleRate = static_cast<const TLRStartSampleRateOperation&>(op);
        item.Intensity = As<TLRStartIntensityOperation>(op) != nullptr;
        break;
    case TOperationKind::SuppliedBuffer: item.Data = static_cast<const TLRSuppliedBufferOperation&>(op).Data; break;
    case TOperationKind::Stop: item.Aborted = static_cast<const TLRStopOperation&>(op).Aborted; break;
    case TOperationKind::IgnoreStream:
    case TOperationKind::StartPump: break;
    case TOperationKind::PumpRequest:
    case TOperationKind::MasterPump: return false;  // upstream operations never arrive at a sink pin
    }

    if (!ReadLocked(FThreaded)) {
        Handle(item);
        return true;
    }
    TProcessingThread<TQueuedOperation>* thread = nullptr;
    {
        std::lock_guard lock(FThreadMutex);
        if (!FThread || !FThread->IsRunning()) {
            FThread.reset();
            FThread = std::make_unique<TProcessingThread<TQueuedOperation>>(
                std::size_t(ReadLocked(FQueueSize)),
                [this](TQueuedOperation& queued) {
                    Handle(queued);
                    queued.Data.Reset();
                    if (FPending.fetch_sub(1) == 1) {
                        std::lock_guard idle(FIdleMutex);
                        FIdle.notify_all();
                    }
                },
                TThreadErrorHandler{}, "PXFilter");
            FThread->Start();
        }
        thread = FThread.get();
    }
    FPending.fetch_add(1);
    if (!thread->Push(std::move(item))) {
        FPending.fetch_sub(1);
        return false;
    }
    return true;
}

void TQNBasicTypedThreadedFilter::WaitIdle() {
    std::unique_lock lock(FIdleMutex);
    FIdle.wait(lock, [this] { return FPending.load() <= 0; });
}

const TPropertyTable& TQNBasicTypedThreadedEnableFilter::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TQNBasicTypedThreadedEnableFilter, TQNBasicTypedThreadedFilter>(
            "TQNBasicTypedThreadedEnableFilter", {
                Bool("Enabled", &TQNBasicTypedThreadedEnableFilter::FEnabled, {.Default = true}),
            });
    return table;
}

TQNBasicTypedThreadedEnableFilter::TQNBasicTypedThreadedEnableFilter(TComponent* owner)
    : TQNBasicTypedThreadedFilter(owner) {
    AutoInitProperties(Properties());
}

}  // namespace pixora
