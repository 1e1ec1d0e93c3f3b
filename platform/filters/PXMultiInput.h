// The multi-input base: components that build one output frame from several input streams (the
// two-input combiners, the video mixer, the colour merge). It owns the queued sink pins that
// hold the latest frame of each stream, negotiates the output stream start and the pump
// master, decides when a set of input frames is complete, has the descendant compute the
// output, sends it (directly or from an output thread) and keeps the output alive after the
// inputs stop when AfterStop asks for it.
//
// Writing a descendant
// --------------------
// 1. Create the input pins in the constructor with AddQueuedPin (into a pin list the descendant
//    publishes as "InputPins"), one per input: a fixed two for a combiner, one per channel for
//    a mixer. Pins may be added, removed and reordered later, also while frames flow
//    (RemoveQueuedPin, SwapQueuedPins); the base keeps its own list in the same order, and
//    "input i" below means position i in it.
// 2. Override CalculateGetOutput: it receives the pins (frames in pin->Frame, possibly empty)
//    and returns the output frame, or an empty handle for "nothing this time". It runs on the
//    thread that delivered the frame completing the set, with the component lock held.
// 3. Override CalculateSendStart to fix the output geometry: call the base first (it stores
//    the stream values, creates the output thread and marks the output running), then send
//    the start with SubmitStart(width, height). The base's own version sends a start of the
//    intersection size when a descendant does not override it.
// 4. Optionally answer GetInputOffset (placement of input i for the start geometry),
//    GetRateChannel, CanStartIfNotAllRunning, GetStopOnAll, IgnoreIsConnected, ZeroBuffer.
// 5. Call ShutdownMultiInput() first thing in the descendant's destructor, so that no thread
//    calls into the descendant while its members are destroyed. Stop the sources that feed the
//    component (their threads) before destroying it, as the graph does.
// 6. To combine given frames synchronously (a ProcessFrame of the descendant), answer
//    IgnoreIsConnected true meanwhile and push a start and the frames into the pins' Receive
//    yourself; the output leaves on OutputPin as usual.
//
// Sets: an arriving frame completes a set when it arrives on the rate channel, or (no rate
// channel) when every waited input (connected or IgnoreIsConnected, not ignored, not disabled)
// holds a frame and the held time stamps are equal or the arriving one is the smallest.
// Nothing is computed while a connected input has not started. CanStartIfNotAllRunning lets
// the output stream be announced as soon as one input runs; when another input starts before
// any output frame went out, the start is negotiated again (TPXStreamValues::Renegotiated).
//
// Pumping: offline inputs (their start is not Live) are asked at their start to be driven by
// this component (a pump request up the pin); those that accept send one frame per master
// pump, and the component pumps each in proportion to its rate relative to the output's, one
// round after the other, so inputs of different speeds stay in step. When a downstream
// component asks to drive this one (a pump request arriving on OutputPin), its master pumps
// are passed on in the same proportion instead, and it also paces the after-stop output.
//
// Locking: everything that touches the pins' queued state (Frame, Running, ...), the stream
// values and the running flags runs under the component lock (GetLock(), recursive; property
// setters take it too, so a setter waits for a frame in progress). The base's pin list has its
// own reader/writer lock, taken exclusively by Add/Remove/SwapQueuedPins and shared while the
// pins are iterated; it is always taken after the component lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/component/PXComponent.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/threads/PXPeriodicThread.h"
#include "platform/threads/PXProcessingThread.h"

namespace pixora {

// What the output does when every input has stopped.
enum TPXMixerAfterStop : uint8_t {
    asStop,       // the output stream ends
    asZero,       // zero (background) frames keep being sent at the stream period
    asLastFrame,  // the last output frame keeps being sent at the stream period
};

// Priority of the output thread (how it maps onto the operating system: ApplyThreadPriority).
enum TQNThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Gives the calling thread the scheduling that `priority` stands for. On Linux: tpIdle is the
// SCHED_IDLE policy (runs only when the CPU has nothing else to do); the others keep SCHED_OTHER
// with a nice value relative to the process's own (the main thread's): tpLowest +10, tpLower +5,
// tpNormal +0, tpHigher -5, tpHighest -10, tpTimeCritical -20, within -20 .. 19. No real-time
// policy: a frame sender that could starve the rest of the system is worse than a late frame.
// Raising a thread above the process's nice value (or leaving SCHED_IDLE) needs CAP_SYS_NICE or
// a matching RLIMIT_NICE; when a setting is refused the thread falls back to the process's
// default (SCHED_OTHER at the process's nice value), and when that is refused as well (a thread
// already lowered cannot come back up without the privilege) it stays as it is. Never fails.
void ApplyThreadPriority(TQNThreadPriority priority) noexcept;

// The output-thread switch of a multi-input component.
class TQNThreading final : public TLockPersistent {
public:
    explicit TQNThreading(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TQNThreading::FEnabled, value); }
    TQNThreadPriority GetPriority() const { return ReadLocked(FPriority); }
    void SetPriority(TQNThreadPriority value) { SetPublished(&TQNThreading::FPriority, value); }
    // The priority as last set, for the output thread (read per frame without the lock).
    TQNThreadPriority CurrentPriority() const noexcept { return TQNThreadPriority(FPriorityNow.load(std::memory_order_relaxed)); }

private:
    void PriorityChanged() { FPriorityNow.store(FPriority, std::memory_order_relaxed); }

    bool FEnabled;
    TQNThreadPriority FPriority;
    std::atomic<uint8_t> FPriorityNow{tpNormal};  // the declared default of Priority
};

// Which format the output stream takes: the negotiated one, or a forced one.
enum TPXOutputFormatChoice : uint8_t { fcNegotiated, fcRGB24, fcRGBA32, fcGray8, fcGray16 };

// The format policy of the output stream.
class TPXVideoFormatSettings final : public TLockPersistent {
public:
    explicit TPXVideoFormatSettings(TChangeNotifyLock& lock) : TLockPersistent(lock) {
        AutoInitProperties(Properties());
    }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXOutputFormatChoice GetFormat() const { return ReadLocked(FFormat); }
    void SetFormat(TPXOutputFormatChoice value) { SetPublished(&TPXVideoFormatSettings::FFormat, value); }
    // The negotiated format, or the forced one.
    TPXVideoFormat Apply(TPXVideoFormat negotiated) const;

private:
    TPXOutputFormatChoice FFormat;
};

class TPXMultiInput;

// A video sink pin that holds at most the latest frame of its stream, with the stream's start
// description. Its fields are read and written under the owning component's lock.
class TPXLRQueuedImageSinkPin : public TLRSinkPin {
public:
    TPXLRQueuedImageSinkPin(TComponent* owner, std::string name, TSinkHandler handler)
        : TLRSinkPin(owner, std::move(name), TPinDataType::Video, std::move(handler)) {}

    // Replaces the held frame (descendants may also remember it elsewhere).
    virtual void SetFrame(const IPXImageBuffer& frame) { Frame = frame; }
    // Releases the held frame after an output was computed (a descendant may keep it).
    virtual void ClearFrame() { Frame.Reset(); }
    // The stream is over: not running, ignored, no start seen.
    void Clear() {
        Running = false;
        Ignored = true;
        StartSeen = false;
    }
    // True when the base must not wait for this pin.
    virtual bool GetIgnore() const { return Ignored; }
    // False when the held frame's time stamp takes no part in completing sets by time stamps
    // (a pin that keeps showing its latest frame whatever its rate); it is still waited for
    // until it holds a frame.
    virtual bool FollowsRate() const { return true; }

    IPXImageBuffer Frame;     // the latest frame, until released
    bool Running = false;     // the pin's stream has started and not stopped
    bool Ignored = false;     // the stream was ignored or stopped
    bool StartSeen = false;   // a start arrived since the last Clear
    int Width = 0, Height = 0;            // of the pin's stream (kept after a stop)
    TPXVideoFormat Format = vfRGB24;      // of the pin's stream
    int64_t FrameDuration = 0;            // of the pin's stream, 100 ns units
    bool Live = false;                    // the pin's source paces itself by a clock
    // Pumping in proportion to the output rate (MasterPump), guarded by the base's pump lock:
    // the stream's frame duration and the credit, in 100 ns units.
    int64_t PumpDuration = 0;
    int64_t PumpCredit = 0;
    // The pin's source accepted this component as its master (offline inputs): it sends one
    // frame per pump; Outstanding counts the frames pumped and not yet arrived. Guarded by the
    // component lock.
    bool Driven = false;
    int Outstanding = 0;
    // Removed from its component while a delivery may still reach it: operations that arrive
    // are ignored. Guarded by the component lock.
    bool Retired = false;
};

// A position in pixels.
struct TPXPoint {
    int X = 0, Y = 0;
    friend bool operator==(const TPXPoint&, const TPXPoint&) = default;
};

// The stream values of the output: what a start-frame operation carries besides the size.
struct TPXStreamValues {
    TPXVideoFormat Format = vfRGB24;
    int64_t FrameDuration = 0;  // 100 ns units
    bool Live = false;
    // This start replaces one announced before another input started and before any frame
    // was sent: descendants that fix their geometry once per run recompute it.
    bool Renegotiated = false;
};

// The start geometry over the started inputs, each placed at its offset (GetInputOffset).
struct TPXStartGeometry {
    TRect Intersection;  // origin and size; width or height 0 when the inputs do not overlap
    TRect Wrapping;      // the smallest rectangle holding every started input
};

class TPXMultiInput : public TLockComponent {
public:
    explicit TPXMultiInput(TComponent* owner = nullptr);
    ~TPXMultiInput() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLRImageSourcePin OutputPin;

    TQNThreading& GetThreading() { return FThreading; }
    TPXVideoFormatSettings& GetVideoFormat() { return FVideoFormat; }
    TPXMixerAfterStop GetAfterStop() const { return ReadLocked(FAfterStop); }
    void SetAfterStop(TPXMixerAfterStop value) { SetPublished(&TPXMultiInput::FAfterStop, value); }

    // Stops the output by force (also in the after-stop modes): the clock and the output thread
    // end, held frames are released and the output stream ends. Safe to call at any time.
    virtual void Close();
    // Returns when the output thread has sent everything queued to it.
    void WaitIdle() override;

    // Queries for hosts and tests.
    bool IsRunning() const;
    bool IsStopPending() const;
    // True when no downstream component drives the chain (this one paces its after-stop output).
    bool IsSelfMaster() const;
    int QueuedPinCount() const;
    TPXLRQueuedImageSinkPin& QueuedPin(int index) const;

protected:
    // ---- Pins (descendant API)

    // Creates a queued pin of class TPin (a TPXLRQueuedImageSinkPin descendant constructed from
    // owner, name and handler) in `list`, and appends it to the base's pin list. Takes the
    // component lock and the pin-list lock.
    template <class TPin = TPXLRQueuedImageSinkPin>
    TPin& AddQueuedPin(TLRPinList& list, std::string name = {}) {
        std::lock_guard guard(GetLock());
        std::unique_lock pins(FPinListLock);
        TPin& pin = list.Add<TPin>(std::move(name), MakePinHandler());
        FPins.push_back(&pin);
        ReleaseRetiredPins();
        return pin;
    }
    // Removes the pin from the base's list and from `list` and disconnects it; safe while
    // frames flow. The pin is destroyed at once when no delivery is reaching it, else as soon as
    // the last one has returned (it ignores what it receives meanwhile). The inputs that remain
    // go on: a set waits no more for the removed input, and the output stream ends when the
    // removed input was the last one running.
    void RemoveQueuedPin(TLRPinList& list, TPXLRQueuedImageSinkPin& pin);
    // Swaps the pins at two positions, in `list` and in the base's list.
    void SwapQueuedPins(TLRPinList& list, int a, int b);
    // A snapshot of the base's pin list (input i at position i).
    std::vector<TPXLRQueuedImageSinkPin*> PinSnapshot() const;
    // The pin-list lock, for descendants that iterate the pins themselves (shared) or change
    // them outside the helpers above (exclusive). Take it after the component lock.
    std::shared_mutex& PinListLock() const { return FPinListLock; }

    // ---- Virtual operations

    // The output stream starts (the inputs needed for a start are running): `values` are the
    // negotiated stream values (format after the VideoFormat settings, the rate channel's or
    // else the smallest frame duration) and `geometry` the start geometry. The base stores the
    // values, clears StopPending, creates the output thread when Threading is enabled and marks
    // the output running. A descendant that overrides it calls the base first and then
    // SubmitStart with its own output size. When no SubmitStart ran, the base sends the
    // intersection size (the wrapping size when the inputs do not overlap). Also called when
    // an input comes back while the after-stop output runs. Runs under the component lock.
    virtual void CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry);
    // Computes one output frame from the pins' current frames (pins[i]->Frame, possibly empty
    // for pins that are ignored, stopped, not connected or not started). Empty result: nothing
    // is sent. `completing` is the pin whose frame completed the set. A result without a valid
    // time stamp gets the completing frame's. Afterwards the base calls ClearFrame on every
    // pin (sets by time stamps) or on the rate channel's pin only (GetRateChannel >= 0, so the
    // other inputs' latest frames take part in the following outputs too). A frame may be
    // returned as it is (no copy) when the descendant does not write into it.
    virtual IPXImageBuffer CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                              TPXLRQueuedImageSinkPin& completing);
    // The input whose every frame produces an output (−1: none; sets are completed by time
    // stamps).
    virtual int GetRateChannel() const { return -1; }
    // True to treat unconnected pins as connected-and-running for set completion (forced
    // processing of given frames).
    virtual bool IgnoreIsConnected() const { return false; }
    // True: the output stops only when every input has stopped; false: at the first stop.
    virtual bool GetStopOnAll() const { return true; }
    // True: the output stream may be announced while some connected inputs have not started
    // (frames are computed only once they all run).
    virtual bool CanStartIfNotAllRunning() const { return false; }
    // Fills a frame for asZero (and for descendants' backgrounds); the base clears it to 0.
    virtual void ZeroBuffer(IPXImageBuffer& buffer);
    // Called before the start geometry is computed (copy offsets into pins and the like).
    virtual void PopulateStartParams() {}
    // The set of running inputs changed (a pin started, stopped or was ignored).
    virtual void ActiveChannelsChanged() {}
    // The output format was negotiated again for a running stream: the base stores it.
    virtual void Reconfigure(TPXVideoFormat format);
    // Stop by force: clears the pins' frames and the pending stop, ends the output stream.
    // Call without holding the component lock (it waits for the after-stop clock).
    virtual void IntStop();
    // The inputs have stopped: ends the stream (asStop, or `force`), else keeps the output alive.
    virtual void SendStopCommand(bool force);
    // Ends the output stream: releases the last output, sends the stop, clears Running.
    virtual void StreamStop();
    // One after-stop frame: the last output again (asLastFrame) or a zeroed one (asZero).
    virtual void Pump();
    // Where input i sits in the common plane of the start geometry; (0, 0) by default.
    virtual TPXPoint GetInputOffset(int index) const;

    // ---- Helpers for descendants

    // Sends the output stream's start: that size, the stream format and duration.
    void SubmitStart(int width, int height);
    // Keeps `frame` as the last output and sends it (or queues it to the output thread).
    void SubmitBuffer(const IPXImageBuffer& frame);
    // The values received at the last start.
    TPXStreamValues StreamValues() const;
    // The output size sent by the last SubmitStart.
    TSize OutputSize() const;
    // The negotiated format over pins: the common one, else vfRGBA32 when any pin has it, else
    // vfRGB24 (mixing grey with anything else never yields grey).
    static TPXVideoFormat NegotiateFormat(const std::vector<TPXVideoFormat>& formats);
    // Call first in the descendant's destructor: stops the clock and the output thread and
    // disconnects the pins, so nothing calls into the descendant any more.
    void ShutdownMultiInput();

private:
    struct TOutputItem {
        enum TKind : uint8_t { Start, Frame, Stop } Kind = Frame;
        TLRStartFrameOperation StartOp;
        IPXImageBuffer Buffer;
    };

    TSinkHandler MakePinHandler();
    bool PinOperation(TLRSinkPin& pin, const ILRNotifyOperation& op);
    bool UpstreamOperation(const ILRNotifyOperation& op);
    void PinStart(TPXLRQueuedImageSinkPin& pin, const TLRStartFrameOperation& start);
    void PinFrame(TPXLRQueuedImageSinkPin& pin, const IQNData& data);
    void PinStop(TPXLRQueuedImageSinkPin& pin);
    void TryStartOutput();
    void TrySendStop();
    void MainCalculateSendOutput(TPXLRQueuedImageSinkPin& completing);
    void EvaluateSet(TPXLRQueuedImageSinkPin& pin, const IPXImageBuffer& frame);
    bool AllWaitedRunning(const std::vector<TPXLRQueuedImageSinkPin*>& pins) const;
    void MasterPump();
    std::vector<std::pair<TPXLRQueuedImageSinkPin*, int>> DuePumps(bool drivenOnly);
    void SelfDriveRound();
    void StartDraining();
    void ClockTick();
    void SendItem(TOutputItem item);
    void DeliverItem(TOutputItem& item);
    void EnsureOutputThread();
    void StopOutputThread(TStopMode mode);
    bool Waited(const TPXLRQueuedImageSinkPin& pin) const;
    // Destroys the removed pins that no delivery reaches any more (component lock held).
    void ReleaseRetiredPins();

    TQNThreading FThreading;
    TPXVideoFormatSettings FVideoFormat;
    TPXMixerAfterStop FAfterStop;

    mutable std::shared_mutex FPinListLock;
    std::vector<TPXLRQueuedImageSinkPin*> FPins;
    // Removed pins that a delivery may still reach (guarded by the component lock).
    std::vector<std::unique_ptr<TLRPin>> FRetiredPins;

    // Guarded by the component lock.
    TPXStreamValues FStream;
    TSize FOutputSize{};
    bool FRunning = false;
    bool FStopPending = false;
    bool FStarted = false;  // the output stream has been announced and not ended
    bool FStartSubmitted = false;  // SubmitStart ran during the current CalculateSendStart
    bool FFrameSent = false;       // an output frame went out since the last start
    bool FRenegotiating = false;
    // The output cannot take frames (its start failed, or it stopped at the first input's
    // stop): driven inputs get a pump per frame so that they run out instead of waiting.
    bool FDraining = false;
    IPXImageBuffer FLastOutput;
    int64_t FPumpIndex = 0;  // after-stop frames sent since the stop
    std::atomic<uint64_t> FPumpRound{0};  // names the frames this component asks its sources for

    std::atomic<bool> FStopPendingFlag{false};  // FStopPending, readable without the lock
    std::atomic<int64_t> FPumpDuration{0};      // the output's frame duration, for MasterPump
    std::atomic<bool> FDownstreamMaster{false};
    std::mutex FPumpLock;  // the pins' pump credits; MasterPump does not take the component lock

    std::mutex FClockLock;
    std::unique_ptr<TQNClockGen> FClock;

    std::mutex FThreadLock;
    std::unique_ptr<TProcessingThread<TOutputItem>> FOutputThread;
    std::atomic<int> FOutputPending{0};
    std::mutex FIdleLock;
    std::condition_variable FIdle;
    std::atomic<bool> FShutdown{false};
};

}  // namespace pixora
