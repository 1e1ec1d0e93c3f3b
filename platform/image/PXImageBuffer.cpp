// Frames and the pools they come from. A running graph in steady state takes every frame object
// and pixel block from the pools, so it makes no heap allocation per frame.
#include "platform/image/PXImageBuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/image/PXConvert.h"

namespace pixora {

namespace {

constexpr std::size_t KBlockGranularity = 4096;
constexpr int64_t KMaxFrameBytes = int64_t(1) << 31;
constexpr std::size_t KMaxPooledBlocks = 96;
constexpr std::size_t KMaxPooledFrames = 512;

std::atomic<uint64_t> GBlockAllocations{0}, GBlockReuses{0}, GFrameAllocations{0};

}  // namespace

// A 64-byte aligned pixel block shared by the frames that show it.
class TPixelBlock {
public:
    std::atomic<int> RefCount{1};
    std::size_t Capacity = 0;
    uint8_t* Data = nullptr;
};

// Free lists of pixel blocks (by capacity) and of frame objects.
class TPXImagePool {
public:
    static TPXImagePool& Instance() {
        static TPXImagePool* pool = new TPXImagePool;  // outlives every frame, even at exit
        return *pool;
    }

    TPixelBlock* TakeBlock(std::size_t bytes) {
        const std::size_t capacity = (bytes + KBlockGranularity - 1) / KBlockGranularity * KBlockGranularity;
        {
            std::lock_guard lock(FMutex);
            for (std::size_t i = FBlocks.size(); i-- > 0;) {
                if (FBlocks[i]->Capacity == capacity) {
                    TPixelBlock* block = FBlocks[i];
                    FBlocks[i] = FBlocks.back();
                    FBlocks.pop_back();
                    block->RefCount.store(1, std::memory_order_relaxed);
                    GBlockReuses.fetch_add(1, std::memory_order_relaxed);
                    return block;
                }
            }
        }
        auto* block = new TPixelBlock;
        block->Data = static_cast<uint8_t*>(std::aligned_alloc(TPXImageBuffer::KRowAlignment, capacity));
        if (!block->Data) {
            delete block;
            throw std::bad_alloc();
        }
        block->Capacity = capacity;
        GBlockAllocations.fetch_add(1, std::memory_order_relaxed);
        return block;
    }

    void GiveBlock(TPixelBlock* block) noexcept {
        {
            std::lock_guard lock(FMutex);
            if (FBlocks.size() < KMaxPooledBlocks) {
                FBlocks.push_back(block);
                return;
            }
            // A full pool gives up the block that has waited longest, so that after a change of
            // frame size the new size is pooled rather than taken from the heap every frame.
            std::swap(block, FBlocks.front());
            std::rotate(FBlocks.begin(), FBlocks.begin() + 1, FBlocks.end());
        }
        std::free(block->Data);
        delete block;
    }

    TPXImageBuffer* TakeFrame() {
        {
            std::lock_guard lock(FMutex);
            if (!FFrames.empty()) {
                TPXImageBuffer* frame = FFrames.back();
                FFrames.pop_back();
                return frame;
            }
        }
        GFrameAllocations.fetch_add(1, std::memory_order_relaxed);
        return new TPXImageBuffer;
    }

    void GiveFrame(TPXImageBuffer* frame) noexcept {
        {
            std::lock_guard lock(FMutex);
            if (FFrames.size() < KMaxPooledFrames) {
                FFrames.push_back(frame);
                return;
            }
        }
        delete frame;
    }

    void Trim() noexcept {
        std::vector<TPixelBlock*> blocks;
        std::vector<TPXImageBuffer*> frames;
        {
            std::lock_guard lock(FMutex);
            blocks.swap(FBlocks);
            frames.swap(FFrames);
            FBlocks.reserve(KMaxPooledBlocks);
            FFrames.reserve(KMaxPooledFrames);
        }
        for (auto* block : blocks) {
            std::free(block->Data);
            delete block;
        }
        for (auto* frame : frames) delete frame;
    }

private:
    TPXImagePool() {
        FBlocks.reserve(KMaxPooledBlocks);
        FFrames.reserve(KMaxPooledFrames);
    }
    std::mutex FMutex;
    std::vector<TPixelBlock*> FBlocks;
    std::vector<TPXImageBuffer*> FFrames;
};

TPXPoolStats GetImagePoolStats() noexcept {
    return {GBlockAllocations.load(), GBlockReuses.load(), GFrameAllocations.load()};
}

void TrimImagePool() noexcept { TPXImagePool::Instance().Trim(); }

static void ReleaseBlockRef(TPixelBlock* block) noexcept {
    if (block && block->RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        TPXImagePool::Instance().GiveBlock(block);
}

static void CheckFrameSize(int width, int height, TPXVideoFormat format) {
    if (!IsKnownFormat(format))
        throw EPXError("Unsupported format: video format ordinal " + std::to_string(int(format)));
    if (width < 1 || height < 1)
        throw ERangeError("Invalid frame size " + std::to_string(width) + "x" + std::to_string(height) +
                          ": width and height must be at least 1");
    if (int64_t(TPXImageBuffer::LineSizeFor(std::min(width, 1 << 28), format)) * height > KMaxFrameBytes)
        throw ERangeError("Invalid frame size " + std::to_string(width) + "x" + std::to_string(height) +
                          ": the frame would exceed 2 GiB");
}

int TPXImageBuffer::LineSizeFor(int width, TPXVideoFormat format) {
    // vfUYVY stores whole pixel pairs, so an odd width still takes a full last pair.
    const int64_t bytes = format == vfUYVY ? (int64_t(width) + 1) / 2 * 4 : int64_t(width) * BitsPerPixel(format) / 8;
    const int64_t aligned = (bytes + int64_t(KRowAlignment) - 1) / int64_t(KRowAlignment) * int64_t(KRowAlignment);
    return int(std::min<int64_t>(aligned, KMaxFrameBytes));
}

TPXImageBuffer::~TPXImageBuffer() { ReleaseBlockRef(FBlock); }

void TPXImageBuffer::Recycle() noexcept {
    ReleaseBlock();
    SetTimeStamp({});
    TPXImagePool::Instance().GiveFrame(this);
}

TPXImageBuffer* TPXImageBuffer::Acquire() { return TPXImagePool::Instance().TakeFrame(); }

void TPXImageBuffer::ReleaseBlock() noexcept {
    ReleaseBlockRef(FBlock);
    FBlock = nullptr;
}

void TPXImageBuffer::Allocate(int width, int height, TPXVideoFormat format) {
    CheckFrameSize(width, height, format);
    const int lineSize = LineSizeFor(width, format);
    TPixelBlock* block = TPXImagePool::Instance().TakeBlock(std::size_t(lineSize) * std::size_t(height));
    ReleaseBlock();
    FBlock = block;
    FWidth = width;
    FHeight = height;
    FFormat = format;
    FLineSize = lineSize;
}

IPXImageBuffer TPXImageBuffer::CreateSize(int width, int height, TPXVideoFormat format) {
    CheckFrameSize(width, height, format);
    IPXImageBuffer frame(Acquire());
    frame->Allocate(width, height, format);
    return frame;
}

IPXImageBuffer TPXImageBuffer::CreateHeader(int width, int height, TPXVideoFormat format) {
    CheckFrameSize(width, height, format);
    IPXImageBuffer frame(Acquire());
    frame->ReleaseBlock();
    frame->FWidth = width;
    frame->FHeight = height;
    frame->FFormat = format;
    frame->FLineSize = LineSizeFor(width, format);
    return frame;
}

IPXImageBuffer TPXImageBuffer::CreateCopy(const IPXImageBuffer& other) {
    if (!other) throw EPXError("CreateCopy: no frame to copy");
    IPXImageBuffer frame(Acquire());
    frame->Assign(*other);
    return frame;
}

IPXImageBuffer TPXImageBuffer::CreateData(const void* data, int width, int height, TPXVideoFormat format,
                                          std::ptrdiff_t stride) {
    IPXImageBuffer frame = CreateSize(width, height, format);
    const int rowBytes = format == vfUYVY ? (width + 1) / 2 * 4 : width * BitsPerPixel(format) / 8;
    if (stride == 0) stride = rowBytes;
    if (!data) throw EPXError("CreateData: no source pixels");
    // Rows may run bottom-up (negative stride), but never into each other.
    if (stride < rowBytes && stride > -rowBytes)
        throw ERangeError("CreateData: stride " + std::to_string(stride) + " is shorter than a row of " +
                          std::to_string(rowBytes) + " bytes");
    auto* dst = frame->GetWritePointer();
    for (int y = 0; y < height; ++y)
        std::memcpy(dst + std::ptrdiff_t(y) * frame->FLineSize, static_cast<const uint8_t*>(data) + y * stride,
                    std::size_t(rowBytes));
    return frame;
}

IPXImageBuffer TPXImageBuffer::CreateUniversal(const IQNData& data) {
    if (!data) throw EPXError("Expected a video frame, got no data");
    if (data->Kind() != TDataKind::Image)
        throw EPXError("Expected a video frame, got " + std::string(DataKindName(data->Kind())) + " data");
    return IPXImageBuffer(static_cast<TPXImageBuffer*>(data.Get()));
}

void TPXImageBuffer::Assign(const TPXImageBuffer& other) {
    if (&other == this) return;
    if (other.FBlock) other.FBlock->RefCount.fetch_add(1, std::memory_order_relaxed);
    ReleaseBlock();
    FBlock = other.FBlock;
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FFormat = other.FFormat;
    FLineSize = other.FLineSize;
    SetTimeStamp(other.GetTimeStamp());
}

const uint8_t* TPXImageBuffer::GetDataPointer() const noexcept { return FBlock ? FBlock->Data : nullptr; }

bool TPXImageBuffer::IsShared() const noexcept {
    return FBlock && FBlock->RefCount.load(std::memory_order_acquire) > 1;
}

uint8_t* TPXImageBuffer::GetWritePointer() {
    if (!FBlock) throw EPXError("Frame has no pixels: set its size first");
    if (IsShared()) {
        TPixelBlock* block = TPXImagePool::Instance().TakeBlock(GetDataSize());
        ReleaseBlock();
        FBlock = block;
    }
    return FBlock->Data;
}

uint8_t* TPXImageBuffer::GetModifyPointer() {
    if (!FBlock) throw EPXError("Frame has no pixels: set its size first");
    if (IsShared()) {
        TPixelBlock* block = TPXImagePool::Instance().TakeBlock(GetDataSize());
        std::memcpy(block->Data, FBlock->Data, GetDataSize());
        ReleaseBlock();
        FBlock = block;
    }
    return FBlock->Data;
}

void TPXImageBuffer::ConvertToFormat(TPXVideoFormat format) {
    if (format == FFormat && FBlock) return;
    if (!FBlock) {
        SetFormat(format);
        return;
    }
    IPXImageBuffer target = CreateSize(FWidth, FHeight, format);
    ConvertPixels(GetReadPointer(), FLineSize, FFormat, target->GetWritePointer(), target->FLineSize, format, FWidth,
                  FHeight);
    const TPXTimeStamp stamp = GetTimeStamp();
    Assign(*target);
    SetTimeStamp(stamp);
}

void TPXImageBuffer::SetSize(int width, int height) {
    if (FBlock && width == FWidth && height == FHeight) return;
    Allocate(width, height, FFormat);
}

void TPXImageBuffer::SetFormat(TPXVideoFormat format) {
    if (FBlock && format == FFormat) return;
    if (!FBlock) {
        CheckFrameSize(1, 1, format);
        FFormat = format;
        return;
    }
    Allocate(FWidth, FHeight, format);
}

void TPXImageBuffer::FillColor(TColor color) {
    // One pixel pair of the colour in this format, then repeated over every row.
    const uint8_t rgb[6] = {KDGetBValue(color), KDGetGValue(color), KDGetRValue(color),
                            KDGetBValue(color), KDGetGValue(color), KDGetRValue(color)};
    uint8_t pair[8] = {};
    ConvertPixels(rgb, sizeof rgb, vfRGB24, pair, sizeof pair, FFormat, 2, 1);
    if (FFormat == vfRGBA32) pair[3] = pair[7] = KDGetAValue(color);
    const int pairBytes = FFormat == vfUYVY ? 4 : 2 * BitsPerPixel(FFormat) / 8;
    const int pixelBytes = FFormat == vfUYVY ? 4 : pairBytes / 2;
    uint8_t* data = GetWritePointer();
    for (int x = 0; x < FLineSize / pixelBytes; ++x) std::memcpy(data + x * pixelBytes, pair, std::size_t(pixelBytes));
    for (int y = 1; y < FHeight; ++y) std::memcpy(data + std::ptrdiff_t(y) * FLineSize, data, std::size_t(FLineSize));
}

void TPXImageBuffer::FillChannel4(uint8_t value) {
    if (FFormat != vfRGBA32) return;
    uint8_t* data = GetModifyPointer();
    for (int y = 0; y < FHeight; ++y) {
        uint8_t* row = data + std::ptrdiff_t(y) * FLineSize;
        for (int x = 0; x < FWidth; ++x) row[x * 4 + 3] = value;
    }
}

void TPXImageBuffer::Clear() { std::memset(GetWritePointer(), 0, GetDataSize()); }

void TPXImageBuffer::SetAlphaFromPlane(const uint8_t* plane, std::ptrdiff_t planeStride) {
    if (FFormat != vfRGBA32) throw EPXError("Unsupported format: alpha can only be set on vfRGBA32 frames");
    if (!plane) throw EPXError("SetAlphaFromPlane: no alpha plane");
    uint8_t* data = GetModifyPointer();
    for (int y = 0; y < FHeight; ++y) {
        uint8_t* row = data + std::ptrdiff_t(y) * FLineSize;
        const uint8_t* alpha = plane + std::ptrdiff_t(y) * planeStride;
        for (int x = 0; x < FWidth; ++x) row[x * 4 + 3] = alpha[x];
    }
}

}  // namespace pixora
