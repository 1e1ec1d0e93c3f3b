// Start, pacing and stop of a generated stream.
#include "platform/filters/PXFramePacer.h"

#include <algorithm>
#include <chrono>

namespace pixora {

TPXFramePacer::TPXFramePacer(TComponent& owner, TLRSourcePin& pin, TGenerate generate)
    : FOwner(owner), FPin(pin), FGenerate(std::move(generate)) {}

TPXFramePacer::~TPXFramePacer() {
    std::lock_guard lock(FRunMutex);
    FActivePacer.store(nullptr);
    FRepeat.reset();
    FClock.reset();
}

bool TPXFramePacer::UpstreamOperation(const ILRNotifyOperation& op) {
    switch (op.Kind()) {
    case TOperationKind::PumpRequest:
        // A downstream component drives the chain from now on: one frame per master pump.
        FPumped.store(true);
        return true;
    case TOperationKind::MasterPump: {
        std::lock_guard lock(FPumpMutex);
        if (const auto* pump = As<TLRMasterPumpOperation>(op); pump && pump->Master) {
            // The same frame asked for again along another path from the same master.
            auto last = std::find_if(FLastSlots.begin(), FLastSlots.end(),
                                     [&](const auto& seen) { return seen.first == pump->Master; });
            if (last == FLastSlots.end()) {
                FLastSlots.emplace_back(pump->Master, pump->Slot);
            } else {
                if (pump->Slot <= last->second) return true;
                last->second = pump->Slot;
            }
        }
        ++FPumpCredits;
        FPumpSignal.notify_all();
        return true;
    }
    default: return false;
    }
}

void TPXFramePacer::Start(const TRunOptions& options, TSize size, TPXVideoFormat format, int64_t frameDuration) {
    Stop();
    std::lock_guard lock(FRunMutex);
    // Validate before announcing anything: a bad size fails here, with the stream not started.
    (void)TPXImageBuffer::CreateHeader(size.Width, size.Height, format);
    if (frameDuration <= 0) throw ERangeError(FOwner.GetDisplayPath() + ": the frame duration must be positive");
    FOptions = options;
    FSize = size;
    FFormat = format;
    FDuration = frameDuration;
    FFramesSent.store(0);
    FFinished.store(false);
    FStopSent.store(false);
    {
        std::lock_guard pump(FPumpMutex);
        FPumpCredits = 0;
        FLastSlots.clear();
    }
    FPumped.store(false);
    auto start = TLRStartFrameOperation::Make(size.Width, size.Height, format, frameDuration);
    start.Live = options.Mode == TRunMode::Live;
    FPin.Notify(start);
    if (FOptions.FrameLimit == 0) {
        SendStopOnce();
        return;
    }
    const auto onError = [this](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            FOwner.ReportError(e.what());
        } catch (...) {
            FOwner.ReportError("unknown failure");
        }
    };
    if (options.Mode == TRunMode::Live) {
        FClock = std::make_unique<TQNClockGen>(frameDuration, [this](int64_t, int64_t) { Tick(); }, onError, "PXGenClock");
        FActivePacer.store(FClock.get());
        FClock->Start();
    } else {
        FRepeat = std::make_unique<TRepeatThread>([this] { Iterate(); }, onError, "PXGen");
        FActivePacer.store(FRepeat.get());
        FRepeat->Start();
    }
}

void TPXFramePacer::EndFromWorker() {
    if (TLoopThread* pacer = FActivePacer.load()) pacer->Stop();  // from the worker: only asks the loop to end
}

void TPXFramePacer::SendFrame() {
    const int64_t index = FFramesSent.load();
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(FSize.Width, FSize.Height, FFormat);
    bool more = false;
    try {
        more = FGenerate(frame);
    } catch (const std::exception& e) {
        // A source that cannot go on ends its stream as failed; sinks drop what they wrote.
        FOwner.ReportError(e.what());
        SendStopOnce(true);
        EndFromWorker();
        return;
    }
    if (!more) {
        SendStopOnce();
        EndFromWorker();
        return;
    }
    if (!frame->GetTimeStamp().Valid) frame->SetTimeStamp({true, index * FDuration, (index + 1) * FDuration});
    FPin.Notify(TLRSuppliedBufferOperation::Make(std::move(frame)));
    const int64_t sent = FFramesSent.fetch_add(1) + 1;
    if (FOptions.FrameLimit >= 0 && sent >= FOptions.FrameLimit) {
        SendStopOnce();
        EndFromWorker();
    }
}

void TPXFramePacer::Iterate() {
    if (FFinished.load()) return;
    // Pumped by a downstream component: each frame waits for its pump. Once no sink is left
    // (the one that pumped was removed while running), nothing would ever pump again, so the
    // source runs out at its own speed like an unpumped one instead of waiting for ever.
    if (FPumped.load() && FPin.IsConnected()) {
        std::unique_lock lock(FPumpMutex);
        if (!FPumpSignal.wait_for(lock, std::chrono::milliseconds(20), [this] { return FPumpCredits > 0; })) return;
        --FPumpCredits;
    }
    SendFrame();
}

void TPXFramePacer::Tick() {
    if (FFinished.load()) return;
    if (FPumped.load()) {
        std::lock_guard lock(FPumpMutex);
        if (FPumpCredits == 0) return;
        --FPumpCredits;
    }
    SendFrame();
}

void TPXFramePacer::SendStopOnce(bool aborted) {
    if (FStopSent.exchange(true)) return;
    FPin.Notify(TLRStopOperation::Make(aborted));
    FFinished.store(true);
}

void TPXFramePacer::Stop() {
    std::unique_ptr<TRepeatThread> repeat;
    std::unique_ptr<TQNClockGen> clock;
    {
        std::lock_guard lock(FRunMutex);
        FActivePacer.store(nullptr);
        repeat = std::move(FRepeat);
        clock = std::move(FClock);
    }
    if (repeat) repeat->Stop();
    if (clock) clock->Stop();
    SendStopOnce();
}

}  // namespace pixora
