// Channels, output geometry and the per-frame composition of the video mixer.
#include "filters/combine/PXVideoMixer.h"

#include <algorithm>
#include <vector>

#include "platform/kernels/View.h"
#include "platform/registry/PXRegistry.h"
#include "platform/threads/PXBandPool.h"

namespace pixora {

namespace {

// Rectangles of at least this many bytes are drawn in bands on the band pool.
constexpr std::size_t KBandThresholdBytes = 256 * 1024;
// Rows processed together inside a band (their scaled copy stays in the cache).
constexpr std::size_t KChunkBytes = 32 * 1024;

// The formats the composition works in; any other stream format is treated as vfRGB24.
TPXVideoFormat CompositionFormat(TPXVideoFormat format) {
    return format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16 ? format : vfRGB24;
}

}  // namespace

// ---- Channel item

TPXVideoMixerChannelItem::TPXVideoMixerChannelItem(TChangeNotifyLock& lock) : TLockPersistent(lock), FOffset(lock) {
    AutoInitProperties(Properties());
}

const TPropertyTable& TPXVideoMixerChannelItem::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXVideoMixerChannelItem>("TPXVideoMixerChannelItem", {
        // A new channel draws its frame unchanged; 0 or less hides it.
        Double("Coefficient", &TPXVideoMixerChannelItem::FCoefficient, {.Default = 1.0}),
        Enum("CombineOperation", &TPXVideoMixerChannelItem::FCombineOperation, "TPXCombineOperation",
             {"coAdd", "coSubtract", "coMultiply", "coDivide", "coOr", "coAnd", "coXor", "coAbsDiff", "coCopy"},
             {.Default = coAdd}),
        Bool("Enabled", &TPXVideoMixerChannelItem::FEnabled, {.Default = true}),
        Enum("WaitForDataBefore", &TPXVideoMixerChannelItem::FWaitForDataBefore, "TQNMixerChannelWaitType",
             {"cwtNone", "cwtWait", "cwtSkip"}, {.Default = cwtNone}),
        Object("Offset", &TPXVideoMixerChannelItem::FOffset),
        Bool("LastFrameOnStop", &TPXVideoMixerChannelItem::FLastFrameOnStop, {.Default = false}),
        Bool("IgnoreRate", &TPXVideoMixerChannelItem::FIgnoreRate, {.Default = false}),
    });
    return table;
}

// ---- Mixer

const TPropertyTable& TPXVideoMixer::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXVideoMixer, TPXMultiInput>("TPXVideoMixer", {
        Color("BackgroundColor", &TPXVideoMixer::FBackgroundColor, {.Default = 0}),
        StoredWhenNotEmpty(Collection("Channels", &TPXVideoMixer::FChannels)),
        Object("FrameSize", &TPXVideoMixer::FFrameSize),
        Bool("StartIfNotAllRunning", &TPXVideoMixer::FStartIfNotAllRunning, {.Default = true}),
    });
    return table;
}

TPXVideoMixer::TPXVideoMixer(TComponent* owner)
    : TPXMultiInput(owner), InputPins(this, "InputPins"), FChannels(GetLock()), FFrameSize(GetLock()) {
    AutoInitProperties(Properties());
    PublishPinList(InputPins);
    // Items come and go through the collection; every change notification brings the pins in
    // line (an added item gets its pin before Add returns, a deleted one loses it).
    FListener = GetLock().Subscribe([this](std::string_view) { SyncChannels(); });
}

TPXVideoMixer::~TPXVideoMixer() {
    GetLock().Unsubscribe(FListener);
    ShutdownMultiInput();
}

void TPXVideoMixer::SyncChannels() {
    std::lock_guard guard(GetLock());
    if (FSyncing) return;
    FSyncing = true;
    try {
        std::vector<TPXLRMixerQueuedImageSinkPin*> wanted;
        for (auto& item : FChannels) {
            if (!item->FPin) {
                item->FPin = &AddQueuedPin<TPXLRMixerQueuedImageSinkPin>(InputPins);
                item->FPin->OffsetX = item->FOffset.GetCX();
                item->FPin->OffsetY = item->FOffset.GetCY();
            }
            item->FPin->Enabled = item->FEnabled;
            item->FPin->LastFrameOnStop = item->FLastFrameOnStop;
            item->FPin->IgnoreRate = item->FIgnoreRate;
            wanted.push_back(item->FPin);
        }
        for (TPXLRQueuedImageSinkPin* pin : PinSnapshot())
            if (std::find(wanted.begin(), wanted.end(), pin) == wanted.end()) RemoveQueuedPin(InputPins, *pin);
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const auto pins = PinSnapshot();
            if (pins[i] == wanted[i]) continue;
            const auto at = std::find(pins.begin(), pins.end(), wanted[i]);
            SwapQueuedPins(InputPins, int(i), int(at - pins.begin()));
        }
        for (std::size_t i = 0; i < wanted.size(); ++i) InputPins.SetPinName(int(i), "InputPins" + std::to_string(i));
    } catch (...) {
        FSyncing = false;
        throw;
    }
    FSyncing = false;
}

void TPXVideoMixer::PopulateStartParams() {
    std::lock_guard guard(GetLock());
    for (auto& item : FChannels)
        if (item->FPin) {
            item->FPin->OffsetX = item->FOffset.GetCX();
            item->FPin->OffsetY = item->FOffset.GetCY();
        }
}

TPXPoint TPXVideoMixer::GetInputOffset(int index) const {
    const auto& pin = static_cast<const TPXLRMixerQueuedImageSinkPin&>(QueuedPin(index));
    return {pin.OffsetX, pin.OffsetY};
}

TPXPoint TPXVideoMixer::OutputOrigin() const {
    std::lock_guard guard(GetLock());
    return FOrigin;
}

void TPXVideoMixer::CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry) {
    TPXMultiInput::CalculateSendStart(values, geometry);
    if (!FSizeFixed || values.Renegotiated) {
        // The canvas shows a window of the plane in which the channels sit at their offsets;
        // the origin is where the plane's (0, 0) lands on the canvas.
        const TRect& in = geometry.Intersection;
        const TRect& wrap = geometry.Wrapping;
        int width = 0, height = 0;
        TPXPoint origin;
        if (FFrameSize.GetCustom()) {
            width = int(FFrameSize.GetWidth());
            height = int(FFrameSize.GetHeight());
        } else {
            const bool wrapWidth = FFrameSize.GetWrapWidth(), wrapHeight = FFrameSize.GetWrapHeight();
            width = wrapWidth ? wrap.Width : in.Width;
            origin.X = -(wrapWidth ? wrap.X : in.X);
            height = wrapHeight ? wrap.Height : in.Height;
            origin.Y = -(wrapHeight ? wrap.Y : in.Y);
        }
        if (width < 1 || height < 1)
            throw ERangeError(GetDisplayPath() + ": the output would be " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels (the channels do not overlap; choose a wrapping or " +
                              "custom FrameSize.SizeMode)");
        FOrigin = origin;
        FCanvasSize = {width, height};
        FSizeFixed = true;
    }
    SubmitStart(FCanvasSize.Width, FCanvasSize.Height);
}

void TPXVideoMixer::StreamStop() {
    std::lock_guard guard(GetLock());
    FSizeFixed = false;
    TPXMultiInput::StreamStop();
}

void TPXVideoMixer::Close() {
    {
        std::lock_guard guard(GetLock());
        for (TPXLRQueuedImageSinkPin* pin : PinSnapshot()) {
            auto* mixerPin = static_cast<TPXLRMixerQueuedImageSinkPin*>(pin);
            mixerPin->Clear();
            mixerPin->Frame.Reset();
            mixerPin->LastFrame.Reset();
        }
    }
    TPXMultiInput::Close();
}

void TPXVideoMixer::FillBackground(IPXImageBuffer& frame) const {
    const uint32_t color = ReadLocked(FBackgroundColor);
    const TPXVideoFormat format = frame->GetFormat();
    // vfRGBA32 takes the colour with its alpha; the other formats the opaque colour.
    kernels::FillBackground(format, frame->GetWritePointer(), frame->GetLineSize(), frame->GetSize(),
                            format == vfRGBA32 ? color : (color | 0xFF000000u), true);
}

void TPXVideoMixer::ZeroBuffer(IPXImageBuffer& buffer) { FillBackground(buffer); }

IPXImageBuffer TPXVideoMixer::CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                                 TPXLRQueuedImageSinkPin&) {
    std::lock_guard guard(GetLock());
    const TPXVideoFormat format = CompositionFormat(StreamValues().Format);
    const int bytes = BitsPerPixel(format) / 8;
    const int width = FCanvasSize.Width, height = FCanvasSize.Height;
    IPXImageBuffer canvas;
    const int count = std::min(int(pins.size()), FChannels.Count());
    for (int i = 0; i < count; ++i) {
        const TPXVideoMixerChannelItem& item = FChannels[i];
        auto& pin = static_cast<TPXLRMixerQueuedImageSinkPin&>(*pins[std::size_t(i)]);
        const double coefficient = item.FCoefficient;
        if (!pin.Enabled || !(coefficient > 0)) continue;

        IPXImageBuffer frame = pin.Frame;
        if (!frame && pin.LastFrameOnStop) frame = pin.LastFrame;
        const int frameWidth = frame ? frame->GetWidth() : pin.Width;
        const int frameHeight = frame ? frame->GetHeight() : pin.Height;
        if (frameWidth < 1 || frameHeight < 1) continue;  // never started: nothing known to draw
        // Placement in 64 bits: offsets far outside the canvas must not overflow.
        const int64_t x = int64_t(pin.OffsetX) + FOrigin.X, y = int64_t(pin.OffsetY) + FOrigin.Y;
        if (x > width || y > height || x + frameWidth < 0 || y + frameHeight < 0) continue;

        if (!frame) {
            // Known size but no frame: the channel's area shows the background.
            frame = TPXImageBuffer::CreateSize(frameWidth, frameHeight, format);
            FillBackground(frame);
        } else if (frame->GetFormat() != format) {
            frame = TPXImageBuffer::CreateCopy(frame);
            frame->ConvertToFormat(format);
        }
        const int left = int(std::max<int64_t>(x, 0)), top = int(std::max<int64_t>(y, 0));
        const int right = int(std::min<int64_t>(x + frameWidth, width));
        const int bottom = int(std::min<int64_t>(y + frameHeight, height));

        if (!canvas) {
            if (coefficient == 1.0 && x == 0 && y == 0 && frameWidth == width && frameHeight == height) {
                // The bottom channel covers the canvas exactly: it is the canvas (a new frame
                // object sharing its pixels until a later channel writes).
                canvas = TPXImageBuffer::CreateCopy(frame);
                canvas->SetTimeStamp({});
                continue;
            }
            canvas = TPXImageBuffer::CreateSize(width, height, format);
            FillBackground(canvas);
        }
        if (right <= left || bottom <= top) continue;
        DrawChannel(canvas, frame, int(left - x), int(top - y), left, top, {right - left, bottom - top}, bytes,
                    coefficient, item.FCombineOperation);
    }
    if (!canvas) {
        canvas = TPXImageBuffer::CreateSize(width, height, format);
        FillBackground(canvas);
    }
    return canvas;
}

void TPXVideoMixer::DrawChannel(IPXImageBuffer& canvas, const IPXImageBuffer& frame, int sx, int sy, int left, int top,
                                TSize size, int bytes, double coefficient, TPXCombineOperation op) {
    const TPXVideoFormat format = canvas->GetFormat();
    const std::ptrdiff_t canvasStep = canvas->GetLineSize();
    const std::ptrdiff_t rectAt = std::ptrdiff_t(top) * canvasStep + std::ptrdiff_t(left) * bytes;
    // A canvas still sharing the bottom channel's pixels: the rectangle is computed from the
    // shared pixels straight into a new block (one pass instead of a copy and then a pass over
    // the copy), and only the canvas around the rectangle is copied. 32-bit canvases are
    // composited in place first and take the copy.
    IPXImageBuffer shared;
    uint8_t* canvasAt = nullptr;
    const uint8_t* canvasFrom = nullptr;
    if (format != vfRGBA32 && canvas->IsShared()) {
        shared = TPXImageBuffer::CreateCopy(canvas);
        const uint8_t* from = shared->GetReadPointer();
        uint8_t* to = canvas->GetWritePointer();
        // Pixels of `bytes` one-byte samples, whatever the format.
        const int width = canvas->GetWidth(), height = canvas->GetHeight();
        CopyAroundRect<uint8_t>({from, canvasStep, width, height, bytes}, {to, canvasStep, width, height, bytes},
                                {left, top, size.Width, size.Height}, 0, height, false);
        canvasAt = to + rectAt;
        canvasFrom = from + rectAt;
    } else {
        canvasAt = canvas->GetModifyPointer() + rectAt;
        canvasFrom = canvasAt;
    }
    const std::ptrdiff_t frameStep = frame->GetLineSize();
    const uint8_t* const frameAt = frame->GetReadPointer() + std::ptrdiff_t(sy) * frameStep + std::ptrdiff_t(sx) * bytes;

    // The coefficient scales the channel's samples into a scratch copy (the input frame is
    // never written); k is checked before anything is drawn.
    const bool scale = coefficient != 1.0;
    const int k = scale ? kernels::CoefficientScale(format, coefficient) : 0;
    const std::size_t rowBytes = std::size_t(size.Width) * std::size_t(bytes);
    // Rows are taken a few at a time, so that the scaled copy and the saved alpha stay in the
    // cache between the steps.
    const int chunkRows = int(std::max<std::size_t>(1, KChunkBytes / std::max<std::size_t>(rowBytes, 1)));

    // One band of rows [y0, y0 + rows): rows are independent, so bands may run in parallel.
    const auto band = [&](int y0, int rows) {
        thread_local std::vector<uint8_t> scratch, alpha;
        for (int c0 = y0; c0 < y0 + rows; c0 += chunkRows) {
            const int n = std::min(chunkRows, y0 + rows - c0);
            uint8_t* b = canvasAt + std::ptrdiff_t(c0) * canvasStep;
            const uint8_t* bFrom = canvasFrom + std::ptrdiff_t(c0) * canvasStep;
            const uint8_t* a = frameAt + std::ptrdiff_t(c0) * frameStep;
            std::ptrdiff_t aStep = frameStep;
            const TSize chunk{size.Width, n};
            // 32-bit: the channel is first composited over the canvas.
            if (format == vfRGBA32) kernels::AlphaCompositeOver(a, aStep, b, canvasStep, b, canvasStep, chunk);
            if (scale) {
                scratch.resize(rowBytes * std::size_t(n));
                kernels::ScaleSamples(format, a, aStep, scratch.data(), std::ptrdiff_t(rowBytes), chunk, k);
                a = scratch.data();
                aStep = std::ptrdiff_t(rowBytes);
            }
            // The operation writes into the canvas: B op A with A the channel and B the canvas.
            // The combine kernel's input 1 is A and input 2 is B (its subtraction and division
            // compute input 2 - input 1 and input 2 / input 1); for coCopy the channel is input
            // 2, which the kernel copies. The kernel writes nothing into its inputs in the byte
            // formats used here. 32-bit: every byte is processed as a single sample (rows of
            // width x 4 bytes), then the canvas alpha is put back, except for coAbsDiff which
            // works on all four bytes.
            TPXVideoFormat opFormat = format;
            TSize opSize = chunk;
            const bool keepAlpha = format == vfRGBA32 && op != coAbsDiff;
            if (format == vfRGBA32) {
                opFormat = vfGray8;
                opSize.Width = size.Width * 4;
            }
            if (keepAlpha) {
                alpha.resize(std::size_t(size.Width) * std::size_t(n));
                for (int row = 0; row < n; ++row)
                    for (int col = 0; col < size.Width; ++col)
                        alpha[std::size_t(row) * std::size_t(size.Width) + std::size_t(col)] = b[row * canvasStep + col * 4 + 3];
            }
            auto* channel = const_cast<uint8_t*>(a);
            if (op == coCopy)
                kernels::CombineOp(op, opFormat, bFrom, canvasStep, channel, aStep, b, canvasStep, opSize);
            else
                kernels::CombineOp(op, opFormat, a, aStep, const_cast<uint8_t*>(bFrom), canvasStep, b, canvasStep, opSize);
            if (keepAlpha)
                for (int row = 0; row < n; ++row)
                    for (int col = 0; col < size.Width; ++col)
                        b[row * canvasStep + col * 4 + 3] = alpha[std::size_t(row) * std::size_t(size.Width) + std::size_t(col)];
        }
    };

    // Large rectangles are cut into one band per thread of the process-wide band pool.
    TBandPool& pool = TBandPool::Instance();
    const int threads = std::min(pool.ThreadCount(), size.Height);
    if (threads <= 1 || rowBytes * std::size_t(size.Height) < KBandThresholdBytes) {
        band(0, size.Height);
        return;
    }
    const int rows = (size.Height + threads - 1) / threads;
    pool.Run(threads, [&](int i) {
        const int y0 = i * rows;
        if (y0 < size.Height) band(y0, std::min(rows, size.Height - y0));
    });
}

namespace PXVideoMixer {
void RegisterPkg() { RegisterComponents<TPXVideoMixer>({"TPixoraMixersToolbarCategory"}, "Video Mixer"); }
}  // namespace PXVideoMixer

}  // namespace pixora
