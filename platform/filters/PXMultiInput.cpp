// Frame sets, stream start and stop, pumping and the output thread of the multi-input base.
#include "platform/filters/PXMultiInput.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <thread>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace pixora {

namespace {

// The period of the after-stop clock when the stream announced no frame duration (25 fps).
constexpr int64_t KDefaultPeriod = 400'000;

void ReportTo(const TComponent& owner, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        owner.ReportError(e.what());
    } catch (...) {
        owner.ReportError("unknown failure");
    }
}

}  // namespace

// ---- Sub-objects

const TPropertyTable& TQNThreading::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TQNThreading>("TQNThreading", {
        Bool("Enabled", &TQNThreading::FEnabled, {.Default = false}),
        Enum("Priority", &TQNThreading::FPriority, "TQNThreadPriority",
             {"tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest", "tpTimeCritical"},
             {.Default = tpNormal})
            .FollowUp(&TQNThreading::PriorityChanged),
    });
    return table;
}

const TPropertyTable& TPXVideoFormatSettings::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXVideoFormatSettings>("TPXVideoFormatSettings", {
        Enum("Format", &TPXVideoFormatSettings::FFormat, "TPXOutputFormatChoice",
             {"fcNegotiated", "fcRGB24", "fcRGBA32", "fcGray8", "fcGray16"}, {.Default = fcNegotiated}),
    });
    return table;
}

TPXVideoFormat TPXVideoFormatSettings::Apply(TPXVideoFormat negotiated) const {
    switch (GetFormat()) {
    case fcNegotiated: return negotiated;
    case fcRGB24: return vfRGB24;
    case fcRGBA32: return vfRGBA32;
    case fcGray8: return vfGray8;
    case fcGray16: return vfGray16;
    }
    return negotiated;
}

void ApplyThreadPriority(TQNThreadPriority priority) noexcept {
#ifdef __linux__
    // Nice values are per thread on Linux: PRIO_PROCESS with a thread id sets that thread only.
    const auto self = id_t(syscall(SYS_gettid));
    errno = 0;
    int base = getpriority(PRIO_PROCESS, id_t(getpid()));
    if (base == -1 && errno != 0) base = 0;
    int offset = 0;
    switch (priority) {
    case tpIdle:
    case tpNormal: offset = 0; break;
    case tpLowest: offset = 10; break;
    case tpLower: offset = 5; break;
    case tpHigher: offset = -5; break;
    case tpHighest: offset = -10; break;
    case tpTimeCritical: offset = -20; break;
    }
    const sched_param param{};
    const auto fallBack = [&] {
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
        setpriority(PRIO_PROCESS, self, base);
    };
    if (pthread_setschedparam(pthread_self(), priority == tpIdle ? SCHED_IDLE : SCHED_OTHER, &param) != 0) {
        fallBack();
        return;
    }
    if (setpriority(PRIO_PROCESS, self, std::clamp(base + offset, -20, 19)) != 0) fallBack();
#else
    (void)priority;
#endif
}

// ---- Component

const TPropertyTable& TPXMultiInput::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMultiInput, TLockComponent>("TPXMultiInput", {
        Object("Threading", &TPXMultiInput::FThreading),
        Object("VideoFormat", &TPXMultiInput::FVideoFormat),
        Enum("AfterStop", &TPXMultiInput::FAfterStop, "TPXMixerAfterStop", {"asStop", "asZero", "asLastFrame"},
             {.Default = asStop}),
    });
    return table;
}

TPXMultiInput::TPXMultiInput(TComponent* owner)
    : TLockComponent(owner),
      OutputPin(this, "OutputPin", [this](TLRSourcePin&, const ILRNotifyOperation& op) { return UpstreamOperation(op); }),
      FThreading(GetLock()),
      FVideoFormat(GetLock()) {
    AutoInitProperties(Properties());
    PublishPin(OutputPin);
}

TPXMultiInput::~TPXMultiInput() { ShutdownMultiInput(); }

void TPXMultiInput::ShutdownMultiInput() {
    if (FShutdown.exchange(true)) return;
    // A dispatch in progress holds the component lock: wait for it; later ones see FShutdown.
    { std::lock_guard guard(GetLock()); }
    std::unique_ptr<TQNClockGen> clock;
    {
        std::lock_guard guard(FClockLock);
        clock = std::move(FClock);
    }
    if (clock) clock->Stop();
    StopOutputThread(TStopMode::Discard);
    std::vector<TPXLRQueuedImageSinkPin*> pins = PinSnapshot();
    for (TPXLRQueuedImageSinkPin* pin : pins) pin->Disconnect();
    // Deliveries that picked a pin before it was disconnected see FShutdown and return; the
    // pins (and the removed ones still held) may be destroyed once they have.
    {
        std::lock_guard guard(GetLock());
        for (const auto& retired : FRetiredPins) pins.push_back(static_cast<TPXLRQueuedImageSinkPin*>(retired.get()));
    }
    for (TPXLRQueuedImageSinkPin* pin : pins)
        while (pin->DeliveriesInProgress() > 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// ---- Pins

TSinkHandler TPXMultiInput::MakePinHandler() {
    return [this](TLRSinkPin& pin, const ILRNotifyOperation& op) { return PinOperation(pin, op); };
}

void TPXMultiInput::RemoveQueuedPin(TLRPinList& list, TPXLRQueuedImageSinkPin& pin) {
    std::lock_guard guard(GetLock());
    bool wasRunning = false;
    {
        std::unique_lock pins(FPinListLock);
        const int index = list.IndexOf(pin);
        if (index < 0) throw ERangeError(GetDisplayPath() + ": pin " + pin.Name() + " is not in " + list.Name());
        {
            std::lock_guard pump(FPumpLock);
            std::erase(FPins, &pin);
        }
        wasRunning = pin.Running;
        pin.Retired = true;
        pin.Clear();
        pin.Frame.Reset();
        pin.Driven = false;
        pin.Outstanding = 0;
        // After the disconnect no delivery picks the pin any more; one that already did is
        // counted by the pin and finds it retired (it waits for the component lock held here).
        pin.Disconnect();
        std::unique_ptr<TLRPin> owned = list.Extract(index);
        if (pin.DeliveriesInProgress() > 0) FRetiredPins.push_back(std::move(owned));
    }
    ReleaseRetiredPins();
    if (FShutdown.load()) return;
    // The remaining inputs go on without the removed one.
    if (wasRunning) {
        ActiveChannelsChanged();
        TrySendStop();
    }
    if (!FRunning) {
        try {
            TryStartOutput();  // it may have been the input that the start waited for
        } catch (...) {
            ReportTo(*this, std::current_exception());
        }
    }
    SelfDriveRound();  // a round may have waited for the removed input's frame
}

void TPXMultiInput::ReleaseRetiredPins() {
    std::erase_if(FRetiredPins, [](const std::unique_ptr<TLRPin>& pin) {
        return static_cast<const TLRSinkPin&>(*pin).DeliveriesInProgress() == 0;
    });
}

void TPXMultiInput::SwapQueuedPins(TLRPinList& list, int a, int b) {
    std::lock_guard guard(GetLock());
    std::unique_lock pins(FPinListLock);
    const int count = int(FPins.size());
    if (a < 0 || b < 0 || a >= count || b >= count)
        throw ERangeError(GetDisplayPath() + ": pin positions " + std::to_string(a) + " and " + std::to_string(b) +
                          " out of range (count " + std::to_string(count) + ")");
    if (a == b) return;
    list.Swap(a, b);
    std::lock_guard pump(FPumpLock);
    std::swap(FPins[std::size_t(a)], FPins[std::size_t(b)]);
}

std::vector<TPXLRQueuedImageSinkPin*> TPXMultiInput::PinSnapshot() const {
    std::shared_lock pins(FPinListLock);
    return FPins;
}

int TPXMultiInput::QueuedPinCount() const {
    std::shared_lock pins(FPinListLock);
    return int(FPins.size());
}

TPXLRQueuedImageSinkPin& TPXMultiInput::QueuedPin(int index) const {
    std::shared_lock pins(FPinListLock);
    if (index < 0 || index >= int(FPins.size()))
        throw ERangeError(GetDisplayPath() + ": input " + std::to_string(index) + " out of range (count " +
                          std::to_string(FPins.size()) + ")");
    return *FPins[std::size_t(index)];
}

bool TPXMultiInput::Waited(const TPXLRQueuedImageSinkPin& pin) const {
    return (IgnoreIsConnected() || pin.IsConnected()) && !pin.GetIgnore();
}

bool TPXMultiInput::PinOperation(TLRSinkPin& sink, const ILRNotifyOperation& op) {
    if (FShutdown.load()) return false;
    auto& pin = static_cast<TPXLRQueuedImageSinkPin&>(sink);
    try {
        switch (op.Kind()) {
        case TOperationKind::StartFrame: PinStart(pin, static_cast<const TLRStartFrameOperation&>(op)); return true;
        case TOperationKind::SuppliedBuffer:
            PinFrame(pin, static_cast<const TLRSuppliedBufferOperation&>(op).Data);
            return true;
        case TOperationKind::Stop: PinStop(pin); return true;
        case TOperationKind::IgnoreStream: {
            std::lock_guard guard(GetLock());
            if (pin.Retired) return false;
            pin.Ignored = true;
            pin.Frame.Reset();
            ActiveChannelsChanged();
            if (!FRunning) TryStartOutput();
            return true;
        }
        case TOperationKind::StartPump: OutputPin.Notify(TLRStartPumpOperation()); return true;
        case TOperationKind::StartSampleRate:
        case TOperationKind::PumpRequest:
        case TOperationKind::MasterPump: return false;
        }
    } catch (...) {
        // The frame (or start) is dropped; the stream goes on.
        ReportTo(*this, std::current_exception());
    }
    return true;
}

void TPXMultiInput::PinStart(TPXLRQueuedImageSinkPin& pin, const TLRStartFrameOperation& start) {
    std::lock_guard guard(GetLock());
    if (FShutdown.load() || pin.Retired) return;
    if (start.Width < 1 || start.Height < 1)
        throw ERangeError(GetDisplayPath() + ": input " + pin.Name() + " announced a " + std::to_string(start.Width) +
                          " x " + std::to_string(start.Height) + " stream");
    pin.Width = start.Width;
    pin.Height = start.Height;
    pin.Format = start.Format;
    pin.FrameDuration = start.FrameDuration;
    pin.Live = start.Live;
    pin.Running = true;
    pin.Ignored = false;
    pin.StartSeen = true;
    pin.Frame.Reset();
    pin.Outstanding = 0;
    // An offline input (not paced by its own clock) is driven by this component: one frame per
    // pump, in proportion to the output rate, so inputs of any speed stay in step. A
    // downstream master drives the inputs through MasterPump instead; live inputs pace
    // themselves.
    pin.Driven = !start.Live && !FDownstreamMaster.load() && pin.NotifyUpstream(TLRPumpRequestOperation());
    {
        std::lock_guard pump(FPumpLock);
        pin.PumpDuration = start.FrameDuration;
        pin.PumpCredit = start.FrameDuration;
    }
    ActiveChannelsChanged();
    if (FRunning && !FStopPending && !FFrameSent) {
        // The output was announced before this input started and nothing went out yet: the
        // start is negotiated again over every input that runs now.
        FRunning = false;
        FRenegotiating = true;
    }
    if (!FRunning) {
        TryStartOutput();
        FRenegotiating = false;
        SelfDriveRound();
        return;
    }
    SelfDriveRound();
    // A running output whose input came back, maybe in another format.
    std::vector<TPXVideoFormat> formats;
    for (TPXLRQueuedImageSinkPin* other : PinSnapshot())
        if (other->Running) formats.push_back(other->Format);
    const TPXVideoFormat format = FVideoFormat.Apply(NegotiateFormat(formats));
    if (format != FStream.Format) Reconfigure(format);
}

void TPXMultiInput::TryStartOutput() {
    if (FRunning) return;
    const auto pins = PinSnapshot();
    bool anyRunning = false, allRunning = true;
    for (TPXLRQueuedImageSinkPin* pin : pins) {
        if (pin->Running) anyRunning = true;
        else if (Waited(*pin)) allRunning = false;
    }
    if (!anyRunning || (!allRunning && !CanStartIfNotAllRunning())) return;

    PopulateStartParams();
    int minLeft = std::numeric_limits<int>::max(), minTop = minLeft;
    int maxLeft = std::numeric_limits<int>::min(), maxTop = maxLeft, maxRight = maxLeft, maxBottom = maxLeft;
    int minRight = std::numeric_limits<int>::max(), minBottom = minRight;
    int64_t duration = 0;
    bool live = false;
    std::vector<TPXVideoFormat> formats;
    for (std::size_t i = 0; i < pins.size(); ++i) {
        const TPXLRQueuedImageSinkPin& pin = *pins[i];
        if (!pin.Running) continue;
        const TPXPoint at = GetInputOffset(int(i));
        // Edges beyond the integer range are held at its ends (placements that far out only
        // matter to the descendant's own clipping).
        constexpr int64_t KMax = std::numeric_limits<int>::max();
        const int right = int(std::min<int64_t>(int64_t(at.X) + pin.Width, KMax));
        const int bottom = int(std::min<int64_t>(int64_t(at.Y) + pin.Height, KMax));
        minLeft = std::min(minLeft, at.X);
        maxLeft = std::max(maxLeft, at.X);
        minTop = std::min(minTop, at.Y);
        maxTop = std::max(maxTop, at.Y);
        minRight = std::min(minRight, right);
        maxRight = std::max(maxRight, right);
        minBottom = std::min(minBottom, bottom);
        maxBottom = std::max(maxBottom, bottom);
        if (pin.FrameDuration > 0 && (duration == 0 || pin.FrameDuration < duration)) duration = pin.FrameDuration;
        live |= pin.Live;
        formats.push_back(pin.Format);
    }
    const int rate = GetRateChannel();
    if (rate >= 0 && rate < int(pins.size()) && pins[std::size_t(rate)]->Running &&
        pins[std::size_t(rate)]->FrameDuration > 0)
        duration = pins[std::size_t(rate)]->FrameDuration;

    TPXStartGeometry geometry;
    geometry.Intersection = {maxLeft, maxTop, int(std::max<int64_t>(0, int64_t(minRight) - maxLeft)),
                             int(std::max<int64_t>(0, int64_t(minBottom) - maxTop))};
    constexpr int64_t KMaxSpan = std::numeric_limits<int>::max();
    const int64_t wrapWidth = std::min<int64_t>(int64_t(maxRight) - minLeft, KMaxSpan);
    const int64_t wrapHeight = std::min<int64_t>(int64_t(maxBottom) - minTop, KMaxSpan);
    geometry.Wrapping = {minLeft, minTop, int(wrapWidth), int(wrapHeight)};

    TPXStreamValues values;
    values.Format = FVideoFormat.Apply(NegotiateFormat(formats));
    values.FrameDuration = duration;
    values.Live = live;
    values.Renegotiated = FRenegotiating;

    FStartSubmitted = false;
    try {
        CalculateSendStart(values, geometry);
    } catch (...) {
        // No stream was announced: the output stays stopped until the next input start, and
        // the inputs that wait for this component's pumps are let run out.
        FRunning = false;
        StartDraining();
        throw;
    }
    FDraining = false;
    if (!FStartSubmitted) {
        const TRect& area = geometry.Intersection.Empty() ? geometry.Wrapping : geometry.Intersection;
        SubmitStart(std::max(1, area.Width), std::max(1, area.Height));
    }
}

void TPXMultiInput::PinFrame(TPXLRQueuedImageSinkPin& pin, const IQNData& data) {
    IPXImageBuffer frame = TPXImageBuffer::CreateUniversal(data);
    std::lock_guard guard(GetLock());
    if (FShutdown.load() || pin.Retired) return;
    if (!FRetiredPins.empty()) ReleaseRetiredPins();
    // A frame outside its stream (before a start or after a stop) is not part of any set.
    if (!pin.Running) return;
    pin.SetFrame(frame);
    if (pin.Outstanding > 0) --pin.Outstanding;
    if (FDraining && pin.Driven) pin.NotifyUpstream(TLRMasterPumpOperation());
    if (!FRunning) return;
    EvaluateSet(pin, frame);
    SelfDriveRound();
}

bool TPXMultiInput::AllWaitedRunning(const std::vector<TPXLRQueuedImageSinkPin*>& pins) const {
    return std::all_of(pins.begin(), pins.end(), [&](TPXLRQueuedImageSinkPin* pin) { return pin->Running || !Waited(*pin); });
}

void TPXMultiInput::EvaluateSet(TPXLRQueuedImageSinkPin& pin, const IPXImageBuffer& frame) {
    const auto pins = PinSnapshot();
    // Nothing is computed while a connected input has not started (also when the output could
    // start without it): its frames would be missing from the set.
    if (!AllWaitedRunning(pins)) return;
    const int rate = GetRateChannel();
    bool compute = false;
    if (rate >= 0) {
        compute = rate < int(pins.size()) && pins[std::size_t(rate)] == &pin;
    } else if (!Waited(pin) && std::any_of(pins.begin(), pins.end(), [&](TPXLRQueuedImageSinkPin* other) {
                   return other->Running && Waited(*other);
               })) {
        // An ignored input's frames are drawn when a set completes, they complete none.
        compute = false;
    } else {
        bool complete = true, equal = true, haveStamp = false;
        int64_t first = 0, smallest = std::numeric_limits<int64_t>::max();
        for (TPXLRQueuedImageSinkPin* other : pins) {
            if (!Waited(*other)) continue;
            if (!other->Frame) {
                complete = false;
                break;
            }
            const TPXTimeStamp& stamp = other->Frame->GetTimeStamp();
            if (!stamp.Valid || !other->FollowsRate()) continue;  // matches any
            if (!haveStamp) {
                first = stamp.Start;
                haveStamp = true;
            } else if (stamp.Start != first) {
                equal = false;
            }
            smallest = std::min(smallest, stamp.Start);
        }
        const TPXTimeStamp& own = frame->GetTimeStamp();
        compute = complete && (equal || !own.Valid || own.Start <= smallest);
    }
    if (compute) MainCalculateSendOutput(pin);
}

void TPXMultiInput::MainCalculateSendOutput(TPXLRQueuedImageSinkPin& completing) {
    const auto pins = PinSnapshot();
    const TPXTimeStamp stamp = completing.Frame ? completing.Frame->GetTimeStamp() : TPXTimeStamp{};
    // On a rate channel only its own frame is released, so the other inputs' latest frames
    // take part in the following outputs as well; a set completed by time stamps is consumed.
    const bool onRate = GetRateChannel() >= 0;
    const auto release = [&] {
        if (onRate) completing.ClearFrame();
        else
            for (TPXLRQueuedImageSinkPin* pin : pins) pin->ClearFrame();
    };
    IPXImageBuffer output;
    try {
        output = CalculateGetOutput(pins, completing);
    } catch (...) {
        release();
        throw;
    }
    release();
    if (!output) return;
    if (!output->GetTimeStamp().Valid) output->SetTimeStamp(stamp);
    SubmitBuffer(output);
}

void TPXMultiInput::PinStop(TPXLRQueuedImageSinkPin& pin) {
    std::lock_guard guard(GetLock());
    if (FShutdown.load() || pin.Retired || !pin.Running) return;
    // The pin keeps its last frame: it may still complete a set with the inputs that run on.
    pin.Clear();
    pin.Driven = false;
    pin.Outstanding = 0;
    ActiveChannelsChanged();
    TrySendStop();
    SelfDriveRound();
}

// ---- Start, stop and pumping

IPXImageBuffer TPXMultiInput::CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>&, TPXLRQueuedImageSinkPin&) {
    return {};
}

void TPXMultiInput::CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry&) {
    FStream = values;
    FFrameSent = false;
    FPumpDuration.store(values.FrameDuration);
    FStopPending = false;
    FStopPendingFlag.store(false);
    FPumpIndex = 0;
    if (FThreading.GetEnabled()) EnsureOutputThread();
    FRunning = true;
}

void TPXMultiInput::SubmitStart(int width, int height) {
    if (width < 1 || height < 1)
        throw ERangeError(GetDisplayPath() + ": output size " + std::to_string(width) + " x " + std::to_string(height) +
                          " is not valid");
    std::lock_guard guard(GetLock());
    FOutputSize = {width, height};
    TOutputItem item;
    item.Kind = TOutputItem::Start;
    item.StartOp = TLRStartFrameOperation::Make(width, height, FStream.Format, FStream.FrameDuration);
    item.StartOp.Live = FStream.Live;
    FStarted = true;
    FStartSubmitted = true;
    SendItem(std::move(item));
}

void TPXMultiInput::SubmitBuffer(const IPXImageBuffer& frame) {
    std::lock_guard guard(GetLock());
    FLastOutput = frame;
    FFrameSent = true;
    FPumpIndex = 0;
    TOutputItem item;
    item.Kind = TOutputItem::Frame;
    item.Buffer = frame;
    SendItem(std::move(item));
}

void TPXMultiInput::Reconfigure(TPXVideoFormat format) {
    std::lock_guard guard(GetLock());
    FStream.Format = format;
    FLastOutput.Reset();
    if (FStarted) SubmitStart(FOutputSize.Width, FOutputSize.Height);
}

void TPXMultiInput::TrySendStop() {
    if (!FRunning) return;
    const auto pins = PinSnapshot();
    if (GetStopOnAll())
        for (TPXLRQueuedImageSinkPin* pin : pins)
            if (pin->Running) return;
    // No input runs on to complete a set with the frames still held: they are dropped.
    for (TPXLRQueuedImageSinkPin* pin : pins) pin->Frame.Reset();
    SendStopCommand(false);
    FRunning = false;
    if (!FStopPending && std::any_of(pins.begin(), pins.end(), [](auto* pin) { return pin->Running; }))
        StartDraining();  // stopped at the first input's stop: the others are let run out
}

void TPXMultiInput::StartDraining() {
    FDraining = true;
    std::shared_lock lock(FPinListLock);
    for (TPXLRQueuedImageSinkPin* pin : FPins)
        if (pin->Driven && pin->Running) pin->NotifyUpstream(TLRMasterPumpOperation());
}

void TPXMultiInput::SendStopCommand(bool force) {
    std::lock_guard guard(GetLock());
    if (force || GetAfterStop() == asStop) {
        FStopPending = false;
        FStopPendingFlag.store(false);
        StreamStop();
        return;
    }
    FStopPending = true;
    FStopPendingFlag.store(true);
    FPumpIndex = 0;
    if (!IsSelfMaster() || FShutdown.load()) return;  // the downstream master's pumps keep the output alive
    const int64_t period = FStream.FrameDuration > 0 ? FStream.FrameDuration : KDefaultPeriod;
    std::lock_guard clockGuard(FClockLock);
    if (!FClock)
        FClock = std::make_unique<TQNClockGen>(
            period, [this](int64_t, int64_t) { ClockTick(); },
            [this](std::exception_ptr error) { ReportTo(*this, std::move(error)); }, "PXMultiClock");
    else
        FClock->SetPeriod(period);
    FClock->Start();
}

void TPXMultiInput::StreamStop() {
    std::lock_guard guard(GetLock());
    FLastOutput.Reset();
    FRunning = false;
    // The next run waits again for every connected input, also those that stopped in this one.
    for (TPXLRQueuedImageSinkPin* pin : PinSnapshot())
        if (!pin->Running) pin->Ignored = false;
    if (!FStarted) return;
    FStarted = false;
    TOutputItem item;
    item.Kind = TOutputItem::Stop;
    SendItem(std::move(item));
}

void TPXMultiInput::ClockTick() {
    if (!FStopPendingFlag.load()) return;
    std::lock_guard guard(GetLock());
    if (FStopPending) Pump();
}

void TPXMultiInput::Pump() {
    std::lock_guard guard(GetLock());
    if (!FStopPending || !FStarted) return;
    IPXImageBuffer frame;
    TPXTimeStamp after{};
    if (GetAfterStop() == asLastFrame) {
        if (!FLastOutput) return;
        frame = TPXImageBuffer::CreateCopy(FLastOutput);
        after = FLastOutput->GetTimeStamp();
    } else if (GetAfterStop() == asZero) {
        frame = TPXImageBuffer::CreateSize(FOutputSize.Width, FOutputSize.Height, FStream.Format);
        ZeroBuffer(frame);
        if (FLastOutput) after = FLastOutput->GetTimeStamp();
    } else {
        return;
    }
    // After-stop frames continue the time line of the last output at the stream period.
    const int64_t period = FStream.FrameDuration > 0 ? FStream.FrameDuration : KDefaultPeriod;
    const int64_t start = (after.Valid ? after.End : 0) + FPumpIndex * period;
    ++FPumpIndex;
    frame->SetTimeStamp({true, start, start + period});
    TOutputItem item;
    item.Kind = TOutputItem::Frame;
    item.Buffer = std::move(frame);
    SendItem(std::move(item));
}

void TPXMultiInput::ZeroBuffer(IPXImageBuffer& buffer) { buffer->Clear(); }

TPXPoint TPXMultiInput::GetInputOffset(int) const { return {}; }

void TPXMultiInput::IntStop() {
    std::unique_ptr<TQNClockGen> clock;
    {
        std::lock_guard guard(FClockLock);
        clock = std::move(FClock);
    }
    if (clock) clock->Stop();
    std::lock_guard guard(GetLock());
    for (TPXLRQueuedImageSinkPin* pin : PinSnapshot()) pin->Frame.Reset();
    SendStopCommand(true);
    FRunning = false;
}

void TPXMultiInput::Close() {
    IntStop();
    StopOutputThread(TStopMode::Drain);
}

bool TPXMultiInput::UpstreamOperation(const ILRNotifyOperation& op) {
    switch (op.Kind()) {
    case TOperationKind::PumpRequest: {
        // A downstream component drives the chain: it paces the after-stop output as well, and
        // the inputs are driven through this component in proportion to their rates.
        FDownstreamMaster.store(true);
        std::shared_lock pins(FPinListLock);
        for (TPXLRQueuedImageSinkPin* pin : FPins) pin->NotifyUpstream(op);
        return true;
    }
    case TOperationKind::MasterPump:
        if (FStopPendingFlag.load()) {
            std::lock_guard guard(GetLock());
            if (FStopPending) {
                Pump();
                return true;
            }
        }
        MasterPump();
        return true;
    default: return false;
    }
}

std::vector<std::pair<TPXLRQueuedImageSinkPin*, int>> TPXMultiInput::DuePumps(bool drivenOnly) {
    // Each input is pumped in proportion to its own rate relative to the output's: the credit
    // starts at one frame duration of the input (a frame is due at the start), every whole
    // frame duration of the input in the credit is one pump, and each master pump then adds
    // the output's frame duration. An input without a duration is pumped once per master pump.
    std::vector<std::pair<TPXLRQueuedImageSinkPin*, int>> pumps;
    std::lock_guard pump(FPumpLock);
    const int64_t output = FPumpDuration.load();
    for (TPXLRQueuedImageSinkPin* pin : FPins) {
        if (drivenOnly && !(pin->Driven && pin->Running)) continue;
        const int64_t own = pin->PumpDuration;
        if (own <= 0 || output <= 0) {
            pumps.emplace_back(pin, 1);
            continue;
        }
        int count = 0;
        while (pin->PumpCredit >= own) {
            ++count;
            pin->PumpCredit -= own;
        }
        pin->PumpCredit += output;
        if (count > 0) pumps.emplace_back(pin, count);
    }
    return pumps;
}

void TPXMultiInput::MasterPump() {
    std::shared_lock pins(FPinListLock);
    // Requests named by round and index: a source that feeds several inputs makes each frame once.
    const uint64_t round = FPumpRound.fetch_add(1) + 1;
    for (auto [pin, count] : DuePumps(false))
        for (int i = 0; i < count; ++i) pin->NotifyUpstream(TLRMasterPumpOperation(this, (round << 20) + uint64_t(i)));
}

void TPXMultiInput::SelfDriveRound() {
    if (FDownstreamMaster.load() || !FRunning) return;
    std::shared_lock pins(FPinListLock);
    for (TPXLRQueuedImageSinkPin* pin : FPins)
        if (pin->Driven && pin->Running && pin->Outstanding > 0) return;  // the round is not over
    if (std::none_of(FPins.begin(), FPins.end(), [](auto* pin) { return pin->Driven && pin->Running; })) return;
    // Rounds begin when every waited input runs: an input pumped ahead of a late one would
    // only replace its held frames.
    if (!AllWaitedRunning(FPins)) return;
    // Rounds in which no input is due yet (its credit still short) pass without a frame; an
    // input is due within a bounded number of them.
    for (int rounds = 0; rounds < 100000; ++rounds) {
        const auto pumps = DuePumps(true);
        if (pumps.empty()) continue;
        for (auto [pin, count] : pumps) pin->Outstanding += count;
        const uint64_t round = FPumpRound.fetch_add(1) + 1;
        for (auto [pin, count] : pumps)
            for (int i = 0; i < count; ++i)
                pin->NotifyUpstream(TLRMasterPumpOperation(this, (round << 20) + uint64_t(i)));
        return;
    }
}

// ---- Output path

void TPXMultiInput::SendItem(TOutputItem item) {
    {
        std::lock_guard guard(FThreadLock);
        if (FOutputThread && FOutputThread->IsAccepting()) {
            FOutputPending.fetch_add(1);
            if (FOutputThread->Push(std::move(item))) return;
            FOutputPending.fetch_sub(1);
        }
    }
    DeliverItem(item);
}

void TPXMultiInput::DeliverItem(TOutputItem& item) {
    switch (item.Kind) {
    case TOutputItem::Start: OutputPin.Notify(item.StartOp); break;
    case TOutputItem::Frame: OutputPin.Notify(TLRSuppliedBufferOperation::Make(std::move(item.Buffer))); break;
    case TOutputItem::Stop: OutputPin.Notify(TLRStopOperation::Make()); break;
    }
}

void TPXMultiInput::EnsureOutputThread() {
    std::lock_guard guard(FThreadLock);
    if (FOutputThread && FOutputThread->IsAccepting()) return;
    if (FOutputThread) FOutputThread->Stop(TStopMode::Drain);
    FOutputThread = std::make_unique<TProcessingThread<TOutputItem>>(
        8,
        [this, applied = -1](TOutputItem& item) mutable {
            // Threading.Priority is applied by the thread itself, before the first item and
            // before the next item after each change.
            const TQNThreadPriority priority = FThreading.CurrentPriority();
            if (int(priority) != applied) {
                ApplyThreadPriority(priority);
                applied = int(priority);
            }
            try {
                DeliverItem(item);
            } catch (...) {
                ReportTo(*this, std::current_exception());
            }
            item.Buffer.Reset();
            if (FOutputPending.fetch_sub(1) == 1) {
                std::lock_guard idle(FIdleLock);
                FIdle.notify_all();
            }
        },
        TThreadErrorHandler{}, "PXMultiOut");
    FOutputThread->Start();
}

void TPXMultiInput::StopOutputThread(TStopMode mode) {
    std::unique_ptr<TProcessingThread<TOutputItem>> thread;
    {
        std::lock_guard guard(FThreadLock);
        thread = std::move(FOutputThread);
    }
    if (thread) thread->Stop(mode);
    thread.reset();
    if (mode == TStopMode::Discard) FOutputPending.store(0);
    std::lock_guard idle(FIdleLock);
    FIdle.notify_all();
}

void TPXMultiInput::WaitIdle() {
    std::unique_lock lock(FIdleLock);
    FIdle.wait(lock, [this] { return FOutputPending.load() <= 0; });
}

// ---- Queries and helpers

bool TPXMultiInput::IsRunning() const {
    std::lock_guard guard(GetLock());
    return FRunning;
}

bool TPXMultiInput::IsStopPending() const {
    std::lock_guard guard(GetLock());
    return FStopPending;
}

bool TPXMultiInput::IsSelfMaster() const { return !FDownstreamMaster.load(); }

TPXStreamValues TPXMultiInput::StreamValues() const {
    std::lock_guard guard(GetLock());
    return FStream;
}

TSize TPXMultiInput::OutputSize() const {
    std::lock_guard guard(GetLock());
    return FOutputSize;
}

TPXVideoFormat TPXMultiInput::NegotiateFormat(const std::vector<TPXVideoFormat>& formats) {
    if (formats.empty()) return vfRGB24;
    if (std::all_of(formats.begin(), formats.end(), [&](TPXVideoFormat f) { return f == formats.front(); })) {
        // A single packed-YUV stream is delivered as colour: the combining arithmetic has no
        // meaning on packed chroma pairs.
        return formats.front() == vfUYVY ? vfRGB24 : formats.front();
    }
    if (std::find(formats.begin(), formats.end(), vfRGBA32) != formats.end()) return vfRGBA32;
    return vfRGB24;
}

}  // namespace pixora
