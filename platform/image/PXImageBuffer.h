// Video frames: reference-counted handles over copy-on-write, pooled pixel blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/PXVideoFormat.h"
#include "platform/kernels/View.h"
#include "platform/pins/PXData.h"

namespace pixora {

class TPixelBlock;
class TPXImageBuffer;

// The handle components pass around. Copying a handle shares the same frame object (as an
// interface reference would); use TPXImageBuffer::CreateCopy for a second frame that shares
// pixels until one of them is written.
using IPXImageBuffer = TRef<TPXImageBuffer>;

// One video frame. Rows are 64-byte aligned and GetLineSize() bytes apart; the pixel block is
// shared between frames after Assign or CreateCopy and detached on the first write access.
class TPXImageBuffer final : public TQNData {
public:
    static constexpr std::size_t KRowAlignment = 64;

    // A new frame of that size and format, content undefined. Width and height must be at least 1.
    static IPXImageBuffer CreateSize(int width, int height, TPXVideoFormat format);
    // A new frame with the size, format, time stamp and pixels of another (pixels shared until written).
    static IPXImageBuffer CreateCopy(const IPXImageBuffer& other);
    // A new frame filled from caller memory; stride 0 means tightly packed rows.
    static IPXImageBuffer CreateData(const void* data, int width, int height, TPXVideoFormat format,
                                     std::ptrdiff_t stride = 0);
    // A frame that only announces size and format (no pixels): what SetVideoFormat receives.
    static IPXImageBuffer CreateHeader(int width, int height, TPXVideoFormat format);
    // The frame behind a generic payload; raises EPXError when the payload is not a frame.
    static IPXImageBuffer CreateUniversal(const IQNData& data);

    TDataKind Kind() const noexcept override { return TDataKind::Image; }

    // Takes the other frame's size, format, time stamp and pixels (shared until written).
    void Assign(const TPXImageBuffer& other);
    void Assign(const IPXImageBuffer& other) { Assign(*other); }

    const uint8_t* GetDataPointer() const noexcept;
    std::size_t GetDataSize() const noexcept { return FBlock ? std::size_t(FLineSize) * std::size_t(FHeight) : 0; }
    const uint8_t* GetReadPointer() const noexcept { return GetDataPointer(); }
    // Write access that may discard the content when the block is shared.
    uint8_t* GetWritePointer();
    // Write access that keeps the content.
    uint8_t* GetModifyPointer();

    int GetWidth() const noexcept { return FWidth; }
    int GetHeight() const noexcept { return FHeight; }
    TSize GetSize() const noexcept { return {FWidth, FHeight}; }
    TPXVideoFormat GetFormat() const noexcept { return FFormat; }
    int GetBitsPerPixel() const noexcept { return BitsPerPixel(FFormat); }
    int GetLineSize() const noexcept { return FLineSize; }
    bool IsShared() const noexcept;

    // Converts the frame in place to another format with the platform's conversions.
    void ConvertToFormat(TPXVideoFormat format);
    // Takes that size (keeping the format); content undefined.
    void SetSize(int width, int height);
    void SetFormat(TPXVideoFormat format);
    // Every pixel set to that colour; on vfRGBA32 the colour's top byte is the alpha.
    void FillColor(TColor color);
    void FillColorEx(TColor color, uint32_t flags) { (void)flags; FillColor(color); }
    // The fourth channel of every pixel set to the value; frames without one are left alone.
    void FillChannel4(uint8_t value);
    void Clear();
    // The alpha channel of a vfRGBA32 frame taken from a one-byte-per-pixel plane.
    void SetAlphaFromPlane(const uint8_t* plane, std::ptrdiff_t planeStride);

    using TQNData::GetTimeStamp;
    using TQNData::SetTimeStamp;

    // Typed views for the pure kernels (T = uint16_t only for vfGray16).
    template <class T>
    ConstView<T> ReadView() const noexcept {
        return {reinterpret_cast<const T*>(GetReadPointer()), std::ptrdiff_t(FLineSize) / std::ptrdiff_t(sizeof(T)),
                FWidth, FHeight, ChannelCount(FFormat)};
    }
    template <class T>
    View<T> WriteView(bool keepContent) {
        T* data = reinterpret_cast<T*>(keepContent ? GetModifyPointer() : GetWritePointer());
        return {data, std::ptrdiff_t(FLineSize) / std::ptrdiff_t(sizeof(T)), FWidth, FHeight, ChannelCount(FFormat)};
    }

    // Bytes per row for a width and format, rounded up to the row alignment.
    static int LineSizeFor(int width, TPXVideoFormat format);

private:
    TPXImageBuffer() = default;
    ~TPXImageBuffer() override;
    void Recycle() noexcept override;
    static TPXImageBuffer* Acquire();
    void Allocate(int width, int height, TPXVideoFormat format);
    void ReleaseBlock() noexcept;

    TPixelBlock* FBlock = nullptr;
    int FWidth = 0, FHeight = 0, FLineSize = 0;
    TPXVideoFormat FFormat = vfRGB24;

    friend class TPXImagePool;
};

// Statistics of the process-wide pools, for tests and benchmarks.
struct TPXPoolStats {
    uint64_t BlockAllocations = 0;   // pixel blocks taken from the heap
    uint64_t BlockReuses = 0;        // pixel blocks taken from the pool
    uint64_t FrameAllocations = 0;   // frame objects taken from the heap
};
TPXPoolStats GetImagePoolStats() noexcept;
// Gives pooled memory back to the heap.
void TrimImagePool() noexcept;

}  // namespace pixora
