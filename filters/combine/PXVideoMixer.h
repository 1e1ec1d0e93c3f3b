// The video mixer: any number of channels, each with its own input pin, offset, coefficient,
// combine operation and switches, drawn bottom to top (channel 0 first) onto a canvas of the
// output size.
#pragma once

#include "platform/filters/PXCommonCombine.h"
#include "platform/filters/PXMultiInput.h"
#include "platform/kernels/Combine.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

// Stored and published for each channel; the composition does not consult it.
enum TQNMixerChannelWaitType : uint8_t { cwtNone, cwtWait, cwtSkip };

// The queued pin of one mixer channel: the base's queued pin plus the channel's switches (kept
// here so the base and the composition read them with the pin), the last frame received and
// the channel's offset as copied at stream start. Fields are guarded by the mixer's lock.
class TPXLRMixerQueuedImageSinkPin final : public TPXLRQueuedImageSinkPin {
public:
    using TPXLRQueuedImageSinkPin::TPXLRQueuedImageSinkPin;

    // Also keeps the frame as the last frame (drawn with LastFrameOnStop).
    void SetFrame(const IPXImageBuffer& frame) override {
        TPXLRQueuedImageSinkPin::SetFrame(frame);
        LastFrame = frame;
    }
    // An ignore-rate pin keeps its frame, so a slow channel keeps showing its latest frame.
    void ClearFrame() override {
        if (!IgnoreRate) TPXLRQueuedImageSinkPin::ClearFrame();
    }
    // A disabled channel is not waited for.
    bool GetIgnore() const override { return TPXLRQueuedImageSinkPin::GetIgnore() || !Enabled; }
    // An ignore-rate channel's old frame does not hold the other channels' sets back.
    bool FollowsRate() const override { return !IgnoreRate; }

    bool Enabled = true;
    bool LastFrameOnStop = false;
    bool IgnoreRate = false;
    IPXImageBuffer LastFrame;
    int OffsetX = 0, OffsetY = 0;
};

class TPXVideoMixer;

// One channel. Items live in the mixer's Channels collection and share the mixer's lock; the
// mixer gives each item its pin (and takes it away when the item goes).
class TPXVideoMixerChannelItem final : public TLockPersistent {
public:
    explicit TPXVideoMixerChannelItem(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    double GetCoefficient() const { return ReadLocked(FCoefficient); }
    void SetCoefficient(double value) { SetPublished(&TPXVideoMixerChannelItem::FCoefficient, value); }
    TPXCombineOperation GetCombineOperation() const { return ReadLocked(FCombineOperation); }
    void SetCombineOperation(TPXCombineOperation value) { SetPublished(&TPXVideoMixerChannelItem::FCombineOperation, value); }
    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TPXVideoMixerChannelItem::FEnabled, value); }
    TQNMixerChannelWaitType GetWaitForDataBefore() const { return ReadLocked(FWaitForDataBefore); }
    void SetWaitForDataBefore(TQNMixerChannelWaitType value) {
        SetPublished(&TPXVideoMixerChannelItem::FWaitForDataBefore, value);
    }
    TQNOffset& GetOffset() { return FOffset; }
    bool GetLastFrameOnStop() const { return ReadLocked(FLastFrameOnStop); }
    void SetLastFrameOnStop(bool value) { SetPublished(&TPXVideoMixerChannelItem::FLastFrameOnStop, value); }
    bool GetIgnoreRate() const { return ReadLocked(FIgnoreRate); }
    void SetIgnoreRate(bool value) { SetPublished(&TPXVideoMixerChannelItem::FIgnoreRate, value); }

    // The channel's input pin; null only while the item is being added.
    TPXLRMixerQueuedImageSinkPin* GetInputPin() const { return ReadLocked(FPin); }

private:
    friend class TPXVideoMixer;
    double FCoefficient;
    TPXCombineOperation FCombineOperation;
    bool FEnabled;
    TQNMixerChannelWaitType FWaitForDataBefore;
    TQNOffset FOffset;
    bool FLastFrameOnStop;
    bool FIgnoreRate;
    TPXLRMixerQueuedImageSinkPin* FPin = nullptr;
};

using TPXVideoMixerChannels = TCollection<TPXVideoMixerChannelItem>;

class TPXVideoMixer final : public TPXMultiInput {
public:
    explicit TPXVideoMixer(TComponent* owner = nullptr);
    ~TPXVideoMixer() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // One queued pin per channel, in channel order.
    TLRPinList InputPins;

    TPXVideoMixerChannels& GetChannels() { return FChannels; }
    // Adds a channel (and its pin) and returns it.
    TPXVideoMixerChannelItem& AddChannel() { return FChannels.Add(); }
    TPXCombineFrameSize& GetFrameSize() { return FFrameSize; }
    uint32_t GetBackgroundColor() const { return ReadLocked(FBackgroundColor); }
    void SetBackgroundColor(uint32_t value) { SetPublished(&TPXVideoMixer::FBackgroundColor, value); }
    bool GetStartIfNotAllRunning() const { return ReadLocked(FStartIfNotAllRunning); }
    void SetStartIfNotAllRunning(bool value) { SetPublished(&TPXVideoMixer::FStartIfNotAllRunning, value); }

    // Where offset (0, 0) of a channel lands on the canvas, fixed at stream start.
    TPXPoint OutputOrigin() const;

    void Close() override;

protected:
    void CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry) override;
    IPXImageBuffer CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                      TPXLRQueuedImageSinkPin& completing) override;
    bool CanStartIfNotAllRunning() const override { return GetStartIfNotAllRunning(); }
    void ZeroBuffer(IPXImageBuffer& buffer) override;
    void PopulateStartParams() override;
    void StreamStop() override;
    TPXPoint GetInputOffset(int index) const override;

private:
    // Gives every item without a pin a new one, removes the pins whose item is gone and keeps
    // the pins' switches equal to the items' settings; runs on every change notification.
    void SyncChannels();
    // Fills a frame with the background: vfRGBA32 with BackgroundColor as it is, every other
    // format with its opaque colour.
    void FillBackground(IPXImageBuffer& frame) const;
    // Draws the channel's rectangle starting at (sx, sy) of its frame onto the canvas at
    // (left, top): alpha composite (32-bit), coefficient, then the operation.
    static void DrawChannel(IPXImageBuffer& canvas, const IPXImageBuffer& frame, int sx, int sy, int left, int top,
                            TSize size, int bytes, double coefficient, TPXCombineOperation op);

    TPXVideoMixerChannels FChannels;
    TPXCombineFrameSize FFrameSize;
    uint32_t FBackgroundColor;
    bool FStartIfNotAllRunning;
    int FListener = 0;
    bool FSyncing = false;

    // Output geometry, fixed once per run (guarded by the component lock).
    bool FSizeFixed = false;
    TPXPoint FOrigin;
    TSize FCanvasSize{};
};

namespace PXVideoMixer {
void RegisterPkg();
}

}  // namespace pixora
