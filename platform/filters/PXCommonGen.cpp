// Stream start, pacing and stop of the generator base.
#include "platform/filters/PXCommonGen.h"

#include <chrono>
#include <cmath>

namespace pixora {

const TPropertyTable& TPXCommonGen::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCommonGen, TLockComponent>("TPXCommonGen", {
        Double("FrameRate", &TPXCommonGen::FFrameRate,
               {.Default = 25.0, .Min = 0.01, .Max = 1000.0, .DisplayName = "Frames per second"}),
    });
    return table;
}

TPXCommonGen::TPXCommonGen(TComponent* owner)
    : TLockComponent(owner),
      OutputPin(this, "OutputPin", [this](TLRSourcePin&, const ILRNotifyOperation& op) { return UpstreamOperation(op); }) {
    AutoInitProperties(Properties());
    PublishPin(OutputPin);
}

TPXCommonGen::~TPXCommonGen() {
    std::lock_guard lock(FRunMutex);
    FRepeat.reset();
    FClock.reset();
}

int64_t TPXCommonGen::GetFrameDuration() const { return std::llround(double(KTicksPerSecond) / GetFrameRate()); }

bool TPXCommonGen::UpstreamOperation(const ILRNotifyOperation& op) {
    switch (op.Kind()) {
    case TOperationKind::PumpRequest:
        // A downstream component drives the chain from now on: one frame per master pump.
        FPumped.store(true);
        return true;
    case TOperationKind::MasterPump: {
        std::lock_guard lock(FPumpMutex);
        ++FPumpCredits;
        FPumpSignal.notify_all();
        return true;
    }
    default: return false;
    }
}

IPXImageBuffer TPXCommonGen::GenerateOne() {
    const TSize size = GetImageSize();
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(size.Width, size.Height, GetVideoFormat());
    if (!GenerateFrame(frame)) throw EPXError(GetDisplayPath() + ": no frame to generate");
    return frame;
}

void TPXCommonGen::Start(const TRunOptions& options) {
    Stop();
    std::lock_guard lock(FRunMutex);
    FOptions = options;
    FStreamSize = GetImageSize();
    FStreamFormat = GetVideoFormat();
    FStreamDuration = GetFrameDuration();
    // Validate before announcing anything: a bad size fails here, with the stream not started.
    (void)TPXImageBuffer::CreateHeader(FStreamSize.Width, FStreamSize.Height, FStreamFormat);
    FFramesSent.store(0);
    FFinished.store(false);
    FStopSent.store(false);
    {
        std::lock_guard pump(FPumpMutex);
        FPumpCredits = 0;
    }
    FPumped.store(false);
    IntStartStream();
    auto start = TLRStartFrameOperation::Make(FStreamSize.Width, FStreamSize.Height, FStreamFormat, FStreamDuration);
    start.Live = options.Mode == TRunMode::Live;
    OutputPin.Notify(start);
    if (FOptions.FrameLimit == 0) {
        SendStopOnce();
        return;
    }
    const auto onError = [this](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            ReportError(e.what());
        } catch (...) {
            ReportError("unknown failure");
        }
    };
    if (options.Mode == TRunMode::Live) {
        FClock = std::make_unique<TQNClockGen>(FStreamDuration, [this](int64_t, int64_t stamp) { Tick(stamp); }, onError,
                                               "PXGenClock");
        FActivePacer.store(FClock.get());
        FClock->Start();
    } else {
        FRepeat = std::make_unique<TRepeatThread>([this] { Iterate(); }, onError, "PXGen");
        FActivePacer.store(FRepeat.get());
        FRepeat->Start();
    }
}

void TPXCommonGen::SendFrame() {
    const int64_t index = FFramesSent.load();
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(FStreamSize.Width, FStreamSize.Height, FStreamFormat);
    bool more = false;
    try {
        more = GenerateFrame(frame);
    } catch (const std::exception& e) {
        // A source that cannot go on ends its stream as failed; sinks drop what they wrote.
        ReportError(e.what());
        SendStopOnce(true);
        if (TLoopThread* pacer = FActivePacer.load()) pacer->Stop();
        return;
    }
    if (!more) {
        SendStopOnce();
        if (TLoopThread* pacer = FActivePacer.load()) pacer->Stop();
        return;
    }
    if (!frame->GetTimeStamp().Valid)
        frame->SetTimeStamp({true, index * FStreamDuration, (index + 1) * FStreamDuration});
    OutputPin.Notify(TLRSuppliedBufferOperation::Make(std::move(frame)));
    const int64_t sent = FFramesSent.fetch_add(1) + 1;
    if (FOptions.FrameLimit >= 0 && sent >= FOptions.FrameLimit) {
        SendStopOnce();
        if (TLoopThread* pacer = FActivePacer.load()) pacer->Stop();  // from the worker: only asks the loop to end
    }
}

void TPXCommonGen::Iterate() {
    if (FFinished.load()) return;
    if (FPumped.load()) {
        std::unique_lock lock(FPumpMutex);
        if (!FPumpSignal.wait_for(lock, std::chrono::milliseconds(20), [this] { return FPumpCredits > 0; })) return;
        --FPumpCredits;
    }
    SendFrame();
}

void TPXCommonGen::Tick(int64_t) {
    if (FFinished.load()) return;
    if (FPumped.load()) {
        std::lock_guard lock(FPumpMutex);
        if (FPumpCredits == 0) return;
        --FPumpCredits;
    }
    SendFrame();
}

void TPXCommonGen::SendStopOnce(bool aborted) {
    if (FStopSent.exchange(true)) return;
    OutputPin.Notify(TLRStopOperation::Make(aborted));
    FFinished.store(true);
}

void TPXCommonGen::Stop() {
    std::unique_ptr<TRepeatThread> repeat;
    std::unique_ptr<TQNClockGen> clock;
    {
        std::lock_guard lock(FRunMutex);
        repeat = std::move(FRepeat);
        FActivePacer.store(nullptr);
        clock = std::move(FClock);
    }
    if (repeat) repeat->Stop();
    if (clock) clock->Stop();
    SendStopOnce();
}

}  // namespace pixora
