// Helpers shared by the threshold, gamma, colour twist, colour lookup and hue vector tests:
// sample access by coordinates, frame comparisons, and a collector for a filter's output pin.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/component/PXComponent.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/pins/PXPins.h"
#include "support/SlowPoint.h"

namespace pixora::pointtest {

using reference::RandomFrame;
using reference::SamePixels;

inline int SamplesPerPixel(TPXVideoFormat format) { return format == vfGray16 ? 1 : BitsPerPixel(format) / 8; }

// Sample c of pixel (x, y), read through byte offsets (16-bit samples as words).
inline int SampleAt(const IPXImageBuffer& frame, int x, int y, int c) {
    const uint8_t* row = frame->GetReadPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
    if (frame->GetFormat() == vfGray16) {
        uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        return v;
    }
    return row[x * SamplesPerPixel(frame->GetFormat()) + c];
}

inline void SetSample(const IPXImageBuffer& frame, int x, int y, int c, int value) {
    uint8_t* row = frame->GetModifyPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
    if (frame->GetFormat() == vfGray16) {
        const uint16_t v = uint16_t(value);
        std::memcpy(row + x * 2, &v, 2);
        return;
    }
    row[x * SamplesPerPixel(frame->GetFormat()) + c] = uint8_t(value);
}

// A deep copy (its own pixel block), to check later that a frame was not written.
inline IPXImageBuffer Snapshot(const IPXImageBuffer& frame) {
    return TPXImageBuffer::CreateData(frame->GetReadPointer(), frame->GetWidth(), frame->GetHeight(), frame->GetFormat(),
                                      frame->GetLineSize());
}

// Compares every sample of out with expect(x, y, c) and reports the first difference and the count.
inline void ExpectSamples(const IPXImageBuffer& out, const std::function<int(int x, int y, int c)>& expect,
                          const std::string& what = {}) {
    const int spp = SamplesPerPixel(out->GetFormat());
    long bad = 0;
    std::string first;
    for (int y = 0; y < out->GetHeight(); ++y)
        for (int x = 0; x < out->GetWidth(); ++x)
            for (int c = 0; c < spp; ++c) {
                const int got = SampleAt(out, x, y, c), want = expect(x, y, c);
                if (got != want && bad++ == 0)
                    first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") channel " + std::to_string(c) +
                            ": got " + std::to_string(got) + ", want " + std::to_string(want);
            }
    EXPECT_EQ(bad, 0) << what << " first difference at " << first;
}

// What arrives on a sink pin connected to a source pin.
struct TPinRecorder {
    std::mutex Mutex;
    std::vector<IQNData> Buffers;
    std::vector<double> SampleRates;
    int Starts = 0, Stops = 0;
    TLRSinkPin Pin;

    explicit TPinRecorder(TPinDataType type)
        : Pin(nullptr, "Recorder", type, [this](TLRSinkPin&, const ILRNotifyOperation& op) {
              std::lock_guard guard(Mutex);
              if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) Buffers.push_back(buffer->Data);
              if (auto* rate = As<TLRStartSampleRateOperation>(op)) SampleRates.push_back(rate->SampleRate);
              if (op.Kind() == TOperationKind::StartFrame || op.Kind() == TOperationKind::StartSampleRate) ++Starts;
              if (op.Kind() == TOperationKind::Stop) ++Stops;
              return true;
          }) {}
};

// Collects warnings reported by components while alive.
struct TWarningRecorder {
    std::mutex Mutex;
    std::vector<std::string> Messages;
    TWarningRecorder() {
        SetWarningHandler([this](const TComponent&, const std::string& message) {
            std::lock_guard guard(Mutex);
            Messages.push_back(message);
        });
    }
    ~TWarningRecorder() { SetWarningHandler(nullptr); }
};

}  // namespace pixora::pointtest
