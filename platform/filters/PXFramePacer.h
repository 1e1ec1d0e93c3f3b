// Paces the frames of a source: announces the stream on a pin, then sends one generated frame
// per clock tick (live), as fast as downstream accepts (offline), or one per master pump once a
// downstream component has asked to drive the chain. Shared by every kind of generator.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/component/PXComponent.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/threads/PXPeriodicThread.h"

namespace pixora {

class TPXFramePacer {
public:
    // Fills one frame of the stream's size and format; false when there are no more frames.
    using TGenerate = std::function<bool(IPXImageBuffer& frame)>;

    TPXFramePacer(TComponent& owner, TLRSourcePin& pin, TGenerate generate);
    ~TPXFramePacer();
    TPXFramePacer(const TPXFramePacer&) = delete;
    TPXFramePacer& operator=(const TPXFramePacer&) = delete;

    // Stops a running stream, announces the new one and starts pacing it. Raises before
    // announcing anything when the size or format cannot make frames.
    void Start(const TRunOptions& options, TSize size, TPXVideoFormat format, int64_t frameDuration);
    // Ends the stream: the pacing thread stops, one stop operation is sent.
    void Stop();
    // Pump negotiation arriving on the source pin from downstream.
    bool UpstreamOperation(const ILRNotifyOperation& op);

    bool IsFinished() const noexcept { return FFinished.load(); }
    int64_t FramesSent() const noexcept { return FFramesSent.load(); }

private:
    void Iterate();
    void Tick();
    void SendFrame();
    void SendStopOnce(bool aborted = false);
    void EndFromWorker();

    TComponent& FOwner;
    TLRSourcePin& FPin;
    TGenerate FGenerate;

    std::mutex FRunMutex;
    std::unique_ptr<TRepeatThread> FRepeat;
    std::unique_ptr<TQNClockGen> FClock;
    // The running pacer, for the worker to end its own loop; the objects outlive their callbacks.
    std::atomic<TLoopThread*> FActivePacer{nullptr};
    TRunOptions FOptions;
    TSize FSize{};
    TPXVideoFormat FFormat = vfRGB24;
    int64_t FDuration = 0;
    std::atomic<int64_t> FFramesSent{0};
    std::atomic<bool> FFinished{true};
    std::atomic<bool> FStopSent{true};
    std::atomic<bool> FPumped{false};
    std::mutex FPumpMutex;
    std::condition_variable FPumpSignal;
    int64_t FPumpCredits = 0;
    // Per master that names its requests: the highest slot taken (guarded by FPumpMutex).
    std::vector<std::pair<const void*, uint64_t>> FLastSlots;
};

}  // namespace pixora
