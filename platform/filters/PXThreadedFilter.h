// The threaded filter bases: operations that arrive at a filter's input pins are handled in
// arrival order, either on the filter's own processing thread (bounded queue, back-pressure,
// nothing dropped) or inline on the thread that delivered them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/component/PXComponent.h"
#include "platform/threads/PXProcessingThread.h"

namespace pixora {

// One operation as it waits in a filter's queue.
struct TQueuedOperation {
    TOperationKind Kind = TOperationKind::Stop;
    TLRSinkPin* Pin = nullptr;
    TLRStartFrameOperation Start;          // Kind == StartFrame
    TLRStartSampleRateOperation SampleRate;  // Kind == StartSampleRate
    bool Intensity = false;                // the sample-rate start was an intensity start
    bool Aborted = false;                  // Kind == Stop: the stream ended by a failure
    IQNData Data;                          // Kind == SuppliedBuffer
};

class TQNBasicTypedThreadedFilter : public TLockComponent {
public:
    explicit TQNBasicTypedThreadedFilter(TComponent* owner = nullptr);
    ~TQNBasicTypedThreadedFilter() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    virtual bool IsEnabled() const { return true; }
    bool GetThreaded() const { return ReadLocked(FThreaded); }
    void SetThreaded(bool value) { SetPublished(&TQNBasicTypedThreadedFilter::FThreaded, value); }

    void WaitIdle() override;
    // Stops the processing thread, dropping what is still queued. Call before destroying a
    // component that may still be processing (the graph does).
    void ShutdownThread();

protected:
    // The handler for every sink pin of the filter: queues or runs the operation.
    bool EnqueueOperation(TLRSinkPin& pin, const ILRNotifyOperation& op);
    // Handles one operation, on the processing thread or inline.
    virtual void SinkDispatch(TQueuedOperation& op) = 0;

private:
    void Handle(TQueuedOperation& op);

    bool FThreaded;
    int32_t FQueueSize;
    std::mutex FThreadMutex;
    std::unique_ptr<TProcessingThread<TQueuedOperation>> FThread;
    std::mutex FIdleMutex;
    std::condition_variable FIdle;
    std::atomic<int> FPending{0};
};

// Adds the published Enabled switch; a disabled filter passes frames through unchanged.
class TQNBasicTypedThreadedEnableFilter : public TQNBasicTypedThreadedFilter {
public:
    explicit TQNBasicTypedThreadedEnableFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool IsEnabled() const override { return ReadLocked(FEnabled); }
    bool GetEnabled() const { return IsEnabled(); }
    void SetEnabled(bool value) { SetPublished(&TQNBasicTypedThreadedEnableFilter::FEnabled, value); }

private:
    bool FEnabled;
};

}  // namespace pixora
