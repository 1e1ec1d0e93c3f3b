// Helpers of the graph tests: a sink that checks the stream it receives (one start, frames of
// the announced size with rising time stamps and the expected pixels, one stop), and a
// watchdog that ends the process when a test hangs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/filters/PXBasicVideoOut.h"
#include "platform/image/PXImageBuffer.h"

namespace pixora::graphtest {

// Ends the process with a message when it is not dismissed in time: a hung test fails instead
// of blocking the suite.
class TWatchdog {
public:
    TWatchdog(std::chrono::seconds limit, std::string what) : FWhat(std::move(what)) {
        FThread = std::thread([this, limit] {
            std::unique_lock lock(FMutex);
            if (!FDone.wait_for(lock, limit, [this] { return FDismissed; })) {
                std::fprintf(stderr, "\nFATAL: '%s' did not finish within %lld s; giving up\n", FWhat.c_str(),
                             static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~TWatchdog() {
        {
            std::lock_guard lock(FMutex);
            FDismissed = true;
        }
        FDone.notify_all();
        FThread.join();
    }

private:
    std::string FWhat;
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FDismissed = false;
    std::thread FThread;
};

// The packed bytes of a frame's rows (no row padding).
inline std::vector<uint8_t> PackedPixels(const IPXImageBuffer& frame) {
    const std::size_t rowBytes = std::size_t(frame->GetWidth()) * std::size_t(frame->GetBitsPerPixel() / 8);
    std::vector<uint8_t> pixels(rowBytes * std::size_t(frame->GetHeight()));
    for (int y = 0; y < frame->GetHeight(); ++y)
        std::copy_n(frame->GetReadPointer() + std::ptrdiff_t(y) * frame->GetLineSize(), rowBytes,
                    pixels.begin() + std::ptrdiff_t(y * rowBytes));
    return pixels;
}

// Consumes a video stream and checks its shape: every frame lies between a start and a stop,
// has the announced size, a valid time stamp later than the previous frame's, and (when a
// reference is set for that size) exactly the reference's pixels.
class TCheckingSink final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCheckingSink, TPXBasicVideoOut>("TCheckingSink", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    void SetReference(TSize size, std::vector<uint8_t> pixels) {
        std::lock_guard lock(FMutex);
        FReferences.emplace_back(size, std::move(pixels));
    }

    struct TCounts {
        int Starts = 0, Frames = 0, Stops = 0, AbortedStops = 0;
        int FramesThisStream = 0;
        bool Streaming = false;
        TSize LastSize{};
    };
    TCounts Counts() const {
        std::lock_guard lock(FMutex);
        return FCounts;
    }
    // What went wrong, one line per fault (at most a few of each kind).
    std::vector<std::string> Faults() const {
        std::lock_guard lock(FMutex);
        return FFaults;
    }

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        std::lock_guard lock(FMutex);
        switch (op.Kind()) {
        case TOperationKind::StartFrame: {
            const auto& start = static_cast<const TLRStartFrameOperation&>(op);
            if (FCounts.Streaming) Fault("a start arrived while a stream was running");
            FCounts.Streaming = true;
            ++FCounts.Starts;
            FCounts.FramesThisStream = 0;
            FCounts.LastSize = {start.Width, start.Height};
            FStreamFormat = start.Format;
            FLastStamp = -1;
            break;
        }
        case TOperationKind::SuppliedBuffer: {
            ++FCounts.Frames;
            ++FCounts.FramesThisStream;
            if (!FCounts.Streaming) Fault("a frame arrived outside a stream");
            const IPXImageBuffer frame = TPXImageBuffer::CreateUniversal(static_cast<const TLRSuppliedBufferOperation&>(op).Data);
            if (frame->GetSize() != FCounts.LastSize || frame->GetFormat() != FStreamFormat)
                Fault("frame of " + std::to_string(frame->GetWidth()) + "x" + std::to_string(frame->GetHeight()) +
                      " in a stream announced as " + std::to_string(FCounts.LastSize.Width) + "x" +
                      std::to_string(FCounts.LastSize.Height));
            const TPXTimeStamp stamp = frame->GetTimeStamp();
            if (!stamp.Valid) Fault("a frame without a valid time stamp");
            else if (stamp.Start <= FLastStamp)
                Fault("time stamp " + std::to_string(stamp.Start) + " after " + std::to_string(FLastStamp));
            else if (stamp.End <= stamp.Start) Fault("time stamp ends before it starts");
            FLastStamp = stamp.Start;
            for (const auto& [size, pixels] : FReferences)
                if (size == frame->GetSize() && PackedPixels(frame) != pixels) Fault("frame pixels differ from the reference");
            break;
        }
        case TOperationKind::Stop:
            if (!FCounts.Streaming) Fault("a stop arrived without a running stream");
            FCounts.Streaming = false;
            ++FCounts.Stops;
            if (static_cast<const TLRStopOperation&>(op).Aborted) ++FCounts.AbortedStops;
            break;
        default: break;
        }
        return true;
    }

private:
    void Fault(const std::string& what) {
        if (FFaults.size() < 20) FFaults.push_back(what);
    }

    mutable std::mutex FMutex;
    TCounts FCounts;
    TPXVideoFormat FStreamFormat = vfRGB24;
    int64_t FLastStamp = -1;
    std::vector<std::pair<TSize, std::vector<uint8_t>>> FReferences;
    std::vector<std::string> FFaults;
};

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

}  // namespace pixora::graphtest
