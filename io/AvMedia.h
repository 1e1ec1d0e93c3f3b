// Reads still images and videos and writes images, numbered image sequences and YUV4MPEG2
// video through libavformat, libavcodec and libswscale, converting to and from the native
// frame formats. Time stamps and durations are counts of 100 ns units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/image/PXVideoFormat.h"

namespace pixora {

// Every failure of this layer: the message names the file and what went wrong.
struct TAvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct TAvFrameInfo {
    int Width = 0;
    int Height = 0;
    TPXVideoFormat Format = vfRGB24;
    int64_t Start = 0;     // 100 ns units, 0 for the first frame of the file
    int64_t Duration = 0;  // 100 ns units; Start + Duration is the next frame's Start
};

// Decodes the best video stream of a file, a still image, or a numbered image sequence given as
// a printf-style pattern ("shot_%04d.png", first number 0 to 4).
//
// Frames come out in the nearest native format:
//   one-channel formats of 8 bits or fewer   -> vfGray8
//   one-channel formats of more than 8 bits  -> vfGray16 (host byte order)
//   formats with alpha (grey+alpha included) -> vfRGBA32
//   palette images: vfGray8 when every entry is an opaque grey, vfRGBA32 when an entry is
//   translucent, vfRGB24 otherwise
//   everything else                          -> vfRGB24
// Conversions that only reorder or swap bytes are exact. YUV sources use the matrix and range
// the stream declares; where it declares none, BT.601 below 720 lines and BT.709 from 720
// lines, studio range (full range for JPEG).
// If a later frame has another size than the first, it is scaled to the first frame's size.
//
// Time stamps: the decoder's best-effort time stamp, relative to the first frame. A frame's
// duration is the distance to the next frame's start; the last frame (and a frame whose
// neighbour has no usable stamp) gets the nominal FrameDuration().
//
// The first frame is decoded in the constructor, so a file that opens has at least one frame.
// Not thread-safe: use one reader from one thread at a time. A moved-from reader may only be
// destroyed or assigned to.
class TAvMediaReader {
public:
    // Throws TAvError("Can't open media file '<name>': <reason>") for a missing, empty,
    // unreadable, truncated or corrupt file, a directory, a file without a video stream or
    // without a decoder for it.
    explicit TAvMediaReader(const std::string& fileName);
    ~TAvMediaReader();
    TAvMediaReader(TAvMediaReader&&) noexcept;
    TAvMediaReader& operator=(TAvMediaReader&&) noexcept;
    TAvMediaReader(const TAvMediaReader&) = delete;
    TAvMediaReader& operator=(const TAvMediaReader&) = delete;

    const std::string& FileName() const;
    int Width() const;
    int Height() const;
    TPXVideoFormat Format() const;
    // Nominal frame duration from the stream's average or base frame rate, else 1/25 s
    // (400000). A still image reports 1/25 s as well.
    int64_t FrameDuration() const;
    // Frames the container declares, or the count its duration implies at the nominal rate
    // (an estimate for containers that store no count); 1 for a still image; -1 when unknown.
    // The frames ReadFrame delivers are authoritative.
    int64_t FrameCount() const;
    // True for single-image files (PNG, JPEG, BMP, TIFF and the other image formats).
    bool IsStillImage() const;

    // Decodes the next frame, converted to Format() at Width() x Height(), into caller memory
    // whose rows are dstStride bytes apart (|dstStride| >= Width() * bytes per pixel; negative
    // strides walk upwards). Only Width() * bytes per pixel bytes of each row are written.
    // Returns false at the end of the stream, leaving dst and info untouched.
    // Throws TAvError naming the file for a frame that cannot be decoded or converted; that
    // frame is skipped and the next call goes on after it. When the rest of the file cannot be
    // read, the frames already decoded still come out and then the stream ends.
    bool ReadFrame(uint8_t* dst, std::ptrdiff_t dstStride, TAvFrameInfo& info);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Writes frames of one size and format to
//   - a single image: ".png", ".jpg"/".jpeg", ".bmp", ".tif"/".tiff". The last frame written
//     wins; it is encoded in Close().
//   - a numbered image sequence: a name with one printf-style number field ("out_%04d.png",
//     "%%" for a literal '%'), image extensions as above. Frames are numbered from 0; each
//     image appears under its final name as soon as its frame is written.
//   - ".y4m": YUV4MPEG2 video at the rate 1 / frameDuration. vfRGB24 and vfRGBA32 are written
//     as 4:4:4 (alpha is dropped), vfUYVY as 4:2:2 (exact), vfGray8 as "mono" (exact),
//     vfGray16 as "mono16" (exact, a libav extension of the format). Colour uses limited range,
//     BT.601 below 720 lines and BT.709 from 720 lines. Y4M stores no time stamps: frames follow
//     each other at the frame rate, whatever their start stamps.
// Pixel formats per image type (lossless unless stated):
//   PNG:  vfRGB24 -> RGB, vfRGBA32 -> RGBA, vfGray8 -> grey, vfGray16 -> 16-bit grey,
//         vfUYVY -> RGB (colour conversion as for Y4M)
//   TIFF: as PNG (deflate compressed)
//   BMP:  vfRGB24 -> 24-bit, vfRGBA32 -> 32-bit with alpha, vfGray8 -> 8-bit grey palette,
//         vfGray16 -> 8-bit grey (rounded), vfUYVY -> 24-bit
//   JPEG: lossy full-range 4:4:4 YCbCr at high quality, grey included (reads back as colour)
// Output is written to "<final name>.part" and renamed by Close(), so an interrupted or aborted
// writer never leaves a file under the final name that looks complete.
// Not thread-safe: use one writer from one thread at a time. A moved-from writer may only be
// destroyed or assigned to.
class TAvMediaWriter {
public:
    // Throws TAvError for an unknown extension (the message lists the supported ones), a folder
    // that does not exist or cannot be written, a size that is not positive, an unknown format,
    // an odd width with vfUYVY, or a frame duration that is not positive for ".y4m".
    TAvMediaWriter(const std::string& fileName, int width, int height, TPXVideoFormat format,
                   int64_t frameDuration);
    ~TAvMediaWriter();  // not closed: Abort()
    TAvMediaWriter(TAvMediaWriter&&) noexcept;
    TAvMediaWriter& operator=(TAvMediaWriter&&) noexcept;
    TAvMediaWriter(const TAvMediaWriter&) = delete;
    TAvMediaWriter& operator=(const TAvMediaWriter&) = delete;

    const std::string& FileName() const;
    int64_t FramesWritten() const;
    // Name of the image for frame `index` of a sequence; the file name itself otherwise.
    std::string OutputName(int64_t index) const;

    // src holds `height` rows of `width` * bytes per pixel bytes, srcStride bytes apart
    // (negative strides walk upwards). Throws TAvError after Close() or Abort().
    // `start` (100 ns) is accepted for every kind and stored by none of the current ones.
    void WriteFrame(const uint8_t* src, std::ptrdiff_t srcStride, int64_t start);
    // Finishes the output; only now does the final name of a single image or Y4M file appear.
    // Throws TAvError (and removes the partial output) when no frame was written or the data
    // cannot be encoded or stored. Calling it again, or after Abort(), does nothing.
    void Close();
    // Removes every file this writer has produced (the images of a sequence included) unless it
    // was closed. Never throws.
    void Abort() noexcept;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace pixora
