// One named OS thread with a safe join.
#include "platform/threads/PXWorkerThread.h"

#include <pthread.h>

#include "platform/base/PXErrors.h"

namespace pixora {

namespace {
thread_local const TWorkerThread* tCurrentWorker = nullptr;
}

TWorkerThread::TWorkerThread(std::string name) : FName(std::move(name)) {}

TWorkerThread::~TWorkerThread() { Join(); }

void TWorkerThread::Launch(std::function<void()> body) {
    if (IsCurrent()) throw EPXError("Thread \"" + FName + "\" cannot restart itself from its own thread");
    std::lock_guard lock(FJoinLock);
    if (FRunning.load(std::memory_order_acquire))
        throw EPXError("Thread \"" + FName + "\" is already running");
    if (FThread.joinable()) FThread.join();
    FRunning.store(true, std::memory_order_release);
    try {
        FThread = std::thread([this, body = std::move(body)] {
            tCurrentWorker = this;
            if (!FName.empty()) {
                char shortName[16] = {};
                FName.copy(shortName, sizeof shortName - 1);
                pthread_setname_np(pthread_self(), shortName);
            }
            try {
                body();
            } catch (...) {
            }
            tCurrentWorker = nullptr;
            FRunning.store(false, std::memory_order_release);
        });
    } catch (...) {
        FRunning.store(false, std::memory_order_release);
        throw;
    }
}

bool TWorkerThread::Join() {
    if (IsCurrent()) return false;
    std::lock_guard lock(FJoinLock);
    if (FThread.joinable()) FThread.join();
    return true;
}

bool TWorkerThread::IsCurrent() const noexcept { return tCurrentWorker == this; }

bool TWorkerThread::IsRunning() const noexcept { return FRunning.load(std::memory_order_acquire); }

}  // namespace pixora
