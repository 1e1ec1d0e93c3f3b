// Lifetime and error reporting of a filter's processing thread.
#include "platform/threads/PXProcessingThread.h"

namespace pixora {

TProcessingThreadBase::TProcessingThreadBase(std::string name, TThreadErrorHandler onError)
    : FThread(std::move(name)), FOnError(std::move(onError)) {}

TProcessingThreadBase::~TProcessingThreadBase() = default;

void TProcessingThreadBase::Start() {
    if (FThread.IsCurrent()) throw EPXError("Processing thread cannot be restarted from its own handler");
    std::lock_guard control(FControl);
    if (FThread.IsRunning() && !QueueClosed()) return;
    FThread.Join();  // a worker that was asked to stop finishes first
    OpenQueue();
    FThread.Launch([this] {
        while (HandleNext()) {
        }
    });
}

void TProcessingThreadBase::Stop(TStopMode mode) {
    if (FThread.IsCurrent()) {
        // Joining here would wait for ourselves: only ask, the loop ends after this item.
        CloseQueue(mode);
        return;
    }
    std::lock_guard control(FControl);
    CloseQueue(mode);
    FThread.Join();
}

void TProcessingThreadBase::ReportError(std::exception_ptr error) noexcept {
    FErrorCount.fetch_add(1, std::memory_order_relaxed);
    if (!FOnError) return;
    try {
        FOnError(std::move(error));
    } catch (...) {
        // The worker must survive a failing error handler as well.
    }
}

}  // namespace pixora
