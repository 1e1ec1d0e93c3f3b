// Driving a single-input filter in tests: the processing paths (one call, bands with a chosen
// block size on a chosen number of pool threads), a sink that records what leaves an output
// pin, and a collector of component errors.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/component/PXComponent.h"
#include "platform/filters/PXROIProcessingFilter.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/pins/PXPins.h"
#include "platform/threads/PXBandPool.h"

namespace pixora::testharness {

// How a region-of-interest filter runs a frame.
enum class TBlock { BelowRow, OneRow, SeveralRows, AboveFrame };

struct TPath {
    bool MultiCore = false;
    TBlock Block = TBlock::BelowRow;
    int Threads = 1;

    std::string Name() const {
        if (!MultiCore) return "single call";
        static const char* const blocks[] = {"block below a row", "block of one row", "block of several rows",
                                             "block above the frame"};
        return std::string("bands, ") + blocks[int(Block)] + ", " + std::to_string(Threads) + " thread(s)";
    }
};

// The single call, then every block size on 1, 2 and 3 pool threads.
inline std::vector<TPath> AllPaths() {
    std::vector<TPath> paths{{false, TBlock::BelowRow, 1}};
    for (int threads : {1, 2, 3})
        for (TBlock block : {TBlock::BelowRow, TBlock::OneRow, TBlock::SeveralRows, TBlock::AboveFrame})
            paths.push_back({true, block, threads});
    return paths;
}

// The block size in bytes for a rectangle rowBytes wide and height rows high.
inline int BlockSizeFor(TBlock block, int rowBytes, int height) {
    switch (block) {
    case TBlock::BelowRow: return rowBytes > 1 ? rowBytes - 1 : 1;
    case TBlock::OneRow: return std::max(rowBytes, 1);
    case TBlock::SeveralRows: return std::max(rowBytes * 3, 1);
    case TBlock::AboveFrame: return std::max(rowBytes * (height + 1), 1);
    }
    return 1;
}

// Sets the process-wide band pool's thread count and puts the previous count back afterwards.
class TPoolThreads {
public:
    explicit TPoolThreads(int threads) : FPrevious(TBandPool::Instance().ThreadCount()) {
        TBandPool::Instance().SetThreadCount(threads);
    }
    ~TPoolThreads() { TBandPool::Instance().SetThreadCount(FPrevious); }
    TPoolThreads(const TPoolThreads&) = delete;
    TPoolThreads& operator=(const TPoolThreads&) = delete;

private:
    int FPrevious;
};

// Applies a path to a filter; rowBytes and height describe the rectangle it will process.
inline void ApplyPath(TPXCommonBasicROIProcessingFilter& filter, const TPath& path, int rowBytes, int height) {
    filter.SetMultiCore(path.MultiCore);
    filter.SetBlockSize(BlockSizeFor(path.Block, rowBytes, height));
}

// Everything that arrives at a sink pin, in order.
class TFrameSink {
public:
    TFrameSink()
        : Pin(nullptr, "TestSink", TPinDataType::Video, [this](TLRSinkPin&, const ILRNotifyOperation& op) {
              std::lock_guard guard(FMutex);
              if (auto* start = As<TLRStartFrameOperation>(op)) Starts.push_back(*start);
              if (auto* buffer = As<TLRSuppliedBufferOperation>(op))
                  Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
              if (op.Kind() == TOperationKind::Stop) ++Stops;
              FChanged.notify_all();
              return true;
          }) {}

    // Waits (bounded) until `count` stops arrived; false on time-out.
    bool WaitForStops(int count) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(20), [&] { return Stops >= count; });
    }

    TLRSinkPin Pin;
    std::vector<TLRStartFrameOperation> Starts;
    std::vector<IPXImageBuffer> Frames;
    int Stops = 0;

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
};

// Collects the errors components report while it lives.
class TErrorLog {
public:
    TErrorLog() {
        SetErrorHandler([this](const TComponent& component, const std::string& message) {
            std::lock_guard guard(FMutex);
            FMessages.push_back(component.GetDisplayPath() + ": " + message);
        });
    }
    ~TErrorLog() { SetErrorHandler(nullptr); }
    TErrorLog(const TErrorLog&) = delete;
    TErrorLog& operator=(const TErrorLog&) = delete;

    std::vector<std::string> Messages() {
        std::lock_guard guard(FMutex);
        return FMessages;
    }
    std::string Joined() {
        std::string text;
        for (const auto& m : Messages()) text += m + "\n";
        return text;
    }

private:
    std::mutex FMutex;
    std::vector<std::string> FMessages;
};

}  // namespace pixora::testharness
