// Media file reader and writer: files made here with libav directly are read back exactly,
// written files read back (and Y4M files parsed by hand) match the frames written, bad files
// and bad arguments give errors naming the file, and unfinished output leaves nothing behind.
#include "io/AvMedia.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace pixora {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Support

class TTempDir {
public:
    TTempDir() {
        static std::atomic<int> counter{0};
        FPath = fs::temp_directory_path() /
                ("pixora_av_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::remove_all(FPath);
        fs::create_directories(FPath);
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }
    const fs::path& Path() const { return FPath; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(FPath))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path FPath;
};

void Require(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("test setup failed: " + what);
}

int BytesPerPixel(TPXVideoFormat format) { return BitsPerPixel(format) / 8; }

std::string FormatLabel(TPXVideoFormat format) {
    switch (format) {
        case vfRGB24: return "RGB24";
        case vfRGBA32: return "RGBA32";
        case vfUYVY: return "UYVY";
        case vfGray8: return "Gray8";
        case vfGray16: return "Gray16";
    }
    return "unknown";
}

// A frame in caller memory with padded rows; the padding holds a marker that must survive.
struct TImage {
    static constexpr uint8_t kMarker = 0xA5;
    int Width = 0, Height = 0;
    TPXVideoFormat Format = vfRGB24;
    std::ptrdiff_t Stride = 0;
    std::vector<uint8_t> Bytes;

    TImage() = default;
    TImage(int width, int height, TPXVideoFormat format, int padding = 7)
        : Width(width),
          Height(height),
          Format(format),
          Stride(std::ptrdiff_t(width) * BytesPerPixel(format) + padding),
          Bytes(std::size_t(Stride) * height, kMarker) {}
    std::size_t RowBytes() const { return std::size_t(Width) * BytesPerPixel(Format); }
    uint8_t* Row(int y) { return Bytes.data() + y * Stride; }
    const uint8_t* Row(int y) const { return Bytes.data() + y * Stride; }
    uint16_t Word(int x, int y) const {
        uint16_t v;
        std::memcpy(&v, Row(y) + 2 * x, 2);
        return v;
    }
    void SetWord(int x, int y, uint16_t v) { std::memcpy(Row(y) + 2 * x, &v, 2); }
    bool PaddingIntact() const {
        for (int y = 0; y < Height; ++y)
            for (std::size_t i = RowBytes(); i < std::size_t(Stride); ++i)
                if (Row(y)[i] != kMarker) return false;
        return true;
    }
};

uint8_t Sample8(int x, int y, int c, int seed) {
    return uint8_t(x * 37 + y * 101 + c * 59 + seed * 13 + ((x * y) ^ (seed * 7 + c)));
}
uint16_t Sample16(int x, int y, int seed) {
    return uint16_t(x * 1777 + y * 40503 + seed * 911 + x * y * 7);
}

// A varied pattern: every byte position differs from its neighbours, both bytes of 16-bit
// samples vary, alpha takes many values.
TImage MakePattern(TPXVideoFormat format, int width, int height, int seed) {
    TImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (format == vfGray16) {
                image.SetWord(x, y, Sample16(x, y, seed));
                continue;
            }
            for (int c = 0; c < BytesPerPixel(format); ++c)
                image.Row(y)[x * BytesPerPixel(format) + c] = Sample8(x, y, c, seed);
        }
    return image;
}

::testing::AssertionResult SamePixels(const TImage& expected, const TImage& actual) {
    if (expected.Width != actual.Width || expected.Height != actual.Height ||
        expected.Format != actual.Format)
        return ::testing::AssertionFailure() << "size or format differs";
    for (int y = 0; y < expected.Height; ++y)
        for (std::size_t i = 0; i < expected.RowBytes(); ++i)
            if (expected.Row(y)[i] != actual.Row(y)[i])
                return ::testing::AssertionFailure()
                       << "byte " << i << " of row " << y << ": expected "
                       << int(expected.Row(y)[i]) << ", got " << int(actual.Row(y)[i]);
    return ::testing::AssertionSuccess();
}

struct TFrames {
    std::vector<TImage> Images;
    std::vector<TAvFrameInfo> Infos;
};

TFrames ReadAll(TAvMediaReader& reader, int limit = 1000) {
    TFrames result;
    for (int i = 0; i < limit; ++i) {
        TImage image(reader.Width(), reader.Height(), reader.Format(), 5);
        TAvFrameInfo info;
        if (!reader.ReadFrame(image.Row(0), image.Stride, info)) break;
        EXPECT_TRUE(image.PaddingIntact()) << "frame " << i;
        result.Images.push_back(std::move(image));
        result.Infos.push_back(info);
    }
    return result;
}

void Write(TAvMediaWriter& writer, const TImage& image, int64_t start = 0) {
    writer.WriteFrame(image.Row(0), image.Stride, start);
}

// Expects `call` to throw TAvError whose message contains every fragment.
template <class F>
void ExpectAvError(F&& call, std::vector<std::string> fragments) {
    try {
        call();
        ADD_FAILURE() << "no TAvError";
    } catch (const TAvError& error) {
        const std::string message = error.what();
        for (const std::string& fragment : fragments)
            EXPECT_NE(message.find(fragment), std::string::npos)
                << "'" << message << "' lacks '" << fragment << "'";
    }
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Reference colour conversion, studio range BT.601.
uint8_t Clamp8(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }
struct TRgb {
    double R, G, B;
};
TRgb Bt601ToRgb(int y, int u, int v) {
    const double luma = 1.164383 * (y - 16);
    return {luma + 1.596027 * (v - 128), luma - 0.391762 * (u - 128) - 0.812968 * (v - 128),
            luma + 2.017232 * (u - 128)};
}
double Bt601Luma(double r, double g, double b) {
    return 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
}

// --- files made with libav directly, sharing nothing with the code under test ---

using TFill = std::function<void(AVFrame&, int index)>;

struct TCodecPtr {
    AVCodecContext* P = nullptr;
    ~TCodecPtr() { avcodec_free_context(&P); }
};
struct TFramePtr {
    AVFrame* P = av_frame_alloc();
    TFramePtr() = default;
    // Frame `index` of a reference input, filled by `fill`.
    TFramePtr(AVPixelFormat pixFmt, int width, int height, const TFill& fill, int index) {
        P->width = width, P->height = height, P->format = pixFmt;
        Require(av_frame_get_buffer(P, 0) >= 0, "frame buffer");
        fill(*P, index);
    }
    TFramePtr(const TFramePtr&) = delete;
    TFramePtr& operator=(const TFramePtr&) = delete;
    ~TFramePtr() { av_frame_free(&P); }
};
struct TPacketPtr {
    AVPacket* P = av_packet_alloc();
    ~TPacketPtr() { av_packet_free(&P); }
};

void OpenTestEncoder(TCodecPtr& enc, const char* name, AVPixelFormat pixFmt, int width, int height,
                     AVRational rate, int maxBFrames, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    Require(codec, std::string("encoder ") + name);
    enc.P = avcodec_alloc_context3(codec);
    enc.P->width = width;
    enc.P->height = height;
    enc.P->pix_fmt = pixFmt;
    enc.P->time_base = av_inv_q(rate);
    enc.P->framerate = rate;
    enc.P->max_b_frames = maxBFrames;
    enc.P->flags |= AV_CODEC_FLAG_QSCALE;
    enc.P->global_quality = FF_QP2LAMBDA * 2;
    if (globalHeader) enc.P->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Require(avcodec_open2(enc.P, codec, nullptr) >= 0, std::string("open encoder ") + name);
}

void FillFrame(TCodecPtr& enc, TFramePtr& frame, const TFill& fill, int index) {
    av_frame_unref(frame.P);
    frame.P->width = enc.P->width;
    frame.P->height = enc.P->height;
    frame.P->format = enc.P->pix_fmt;
    Require(av_frame_get_buffer(frame.P, 0) >= 0, "frame buffer");
    fill(*frame.P, index);
    frame.P->pts = index;
    frame.P->quality = enc.P->global_quality;
}

// One image file: the encoder's packet is the whole file.
void EncodeImageFile(const std::string& path, const char* encoder, AVPixelFormat pixFmt, int width,
                     int height, const TFill& fill) {
    TCodecPtr enc;
    OpenTestEncoder(enc, encoder, pixFmt, width, height, {25, 1}, 0, false);
    TFramePtr frame;
    FillFrame(enc, frame, fill, 0);
    TPacketPtr packet;
    Require(avcodec_send_frame(enc.P, frame.P) >= 0 && avcodec_send_frame(enc.P, nullptr) >= 0,
            "encode");
    std::vector<uint8_t> bytes;
    while (avcodec_receive_packet(enc.P, packet.P) >= 0) {
        bytes.insert(bytes.end(), packet.P->data, packet.P->data + packet.P->size);
        av_packet_unref(packet.P);
    }
    Require(!bytes.empty(), "encoded image");
    WriteBytes(path, bytes);
}

void EncodeVideoFile(const std::string& path, const char* encoder, AVPixelFormat pixFmt, int width,
                     int height, AVRational rate, int frames, const TFill& fill,
                     int maxBFrames = 0) {
    AVFormatContext* mux = nullptr;
    Require(avformat_alloc_output_context2(&mux, nullptr, nullptr, path.c_str()) >= 0, "muxer");
    TCodecPtr enc;
    OpenTestEncoder(enc, encoder, pixFmt, width, height, rate, maxBFrames,
                    mux->oformat->flags & AVFMT_GLOBALHEADER);
    AVStream* stream = avformat_new_stream(mux, nullptr);
    avcodec_parameters_from_context(stream->codecpar, enc.P);
    stream->time_base = enc.P->time_base;
    stream->avg_frame_rate = rate;
    Require(avio_open(&mux->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0, "open " + path);
    Require(avformat_write_header(mux, nullptr) >= 0, "header");
    TFramePtr frame;
    TPacketPtr packet;
    auto drain = [&] {
        while (avcodec_receive_packet(enc.P, packet.P) >= 0) {
            av_packet_rescale_ts(packet.P, enc.P->time_base, stream->time_base);
            packet.P->stream_index = 0;
            Require(av_interleaved_write_frame(mux, packet.P) >= 0, "write packet");
        }
    };
    for (int i = 0; i < frames; ++i) {
        FillFrame(enc, frame, fill, i);
        Require(avcodec_send_frame(enc.P, frame.P) >= 0, "encode");
        drain();
    }
    avcodec_send_frame(enc.P, nullptr);
    drain();
    Require(av_write_trailer(mux) >= 0, "trailer");
    avio_closep(&mux->pb);
    avformat_free_context(mux);
}

// Fills plane 0 of a packed or one-plane frame from a pattern of bytes.
TFill BytePattern(int bytesPerPixel, int seed) {
    return [=](AVFrame& f, int index) {
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width * bytesPerPixel; ++x)
                f.data[0][y * f.linesize[0] + x] =
                    Sample8(x / bytesPerPixel, y, x % bytesPerPixel, seed + index);
    };
}

// ---------------------------------------------------------------------------------------------
// Reading still images written by libav's own encoders

struct TStillCase {
    const char* Name;
    const char* Encoder;
    AVPixelFormat PixFmt;
    TPXVideoFormat Expected;
    TFill Fill;
    // Expected native bytes of pixel (x, y), written to `out`.
    std::function<void(const AVFrame& source, int x, int y, uint8_t* out)> Pixel;
    int Tolerance;
};

std::vector<TStillCase> StillCases() {
    auto p = [](const AVFrame& f, int y) { return f.data[0] + y * f.linesize[0]; };
    std::vector<TStillCase> cases;
    cases.push_back({"PngRgb", "png", AV_PIX_FMT_RGB24, vfRGB24, BytePattern(3, 1),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) {
                         const uint8_t* s = p(f, y) + 3 * x;
                         o[0] = s[2], o[1] = s[1], o[2] = s[0];
                     },
                     0});
    cases.push_back({"PngRgba", "png", AV_PIX_FMT_RGBA, vfRGBA32, BytePattern(4, 2),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) {
                         const uint8_t* s = p(f, y) + 4 * x;
                         o[0] = s[2], o[1] = s[1], o[2] = s[0], o[3] = s[3];
                     },
                     0});
    cases.push_back({"PngGray", "png", AV_PIX_FMT_GRAY8, vfGray8, BytePattern(1, 3),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) { o[0] = p(f, y)[x]; }, 0});
    cases.push_back({"PngGray16", "png", AV_PIX_FMT_GRAY16BE, vfGray16, BytePattern(2, 4),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) {
                         const uint16_t v = uint16_t(p(f, y)[2 * x] << 8 | p(f, y)[2 * x + 1]);
                         std::memcpy(o, &v, 2);
                     },
                     0});
    cases.push_back({"PngGrayAlpha", "png", AV_PIX_FMT_YA8, vfRGBA32, BytePattern(2, 5),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) {
                         const uint8_t* s = p(f, y) + 2 * x;
                         o[0] = o[1] = o[2] = s[0], o[3] = s[1];
                     },
                     0});
    cases.push_back({"PngRgb48", "png", AV_PIX_FMT_RGB48BE, vfRGB24, BytePattern(6, 6),
                     [=](const AVFrame& f, int x, int y, uint8_t* o) {
                         const uint8_t* s = p(f, y) + 6 * x;
                         for (int c = 0; c < 3; ++c)
                             o[2 - c] =
                                 uint8_t(std::lround((s[2 * c] << 8 | s[2 * c + 1]) / 257.0));
                     },
                     1});
    // Palettes: 16 entries used by a pattern of indices.
    auto palette = [](std::function<uint32_t(int)> entry) {
        return [=](AVFrame& f, int) {
            auto* pal = reinterpret_cast<uint32_t*>(f.data[1]);
            for (int i = 0; i < 256; ++i) pal[i] = entry(i);
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x)
                    f.data[0][y * f.linesize[0] + x] = uint8_t((x * 3 + y * 5) % 16);
        };
    };
    auto fromPalette = [](int channels) {
        return [=](const AVFrame& f, int x, int y, uint8_t* o) {
            const uint32_t c =
                reinterpret_cast<const uint32_t*>(f.data[1])[f.data[0][y * f.linesize[0] + x]];
            if (channels == 1) {
                o[0] = uint8_t(c);
                return;
            }
            o[0] = uint8_t(c), o[1] = uint8_t(c >> 8), o[2] = uint8_t(c >> 16);
            if (channels == 4) o[3] = uint8_t(c >> 24);
        };
    };
    cases.push_back({"PngPaletteColour", "png", AV_PIX_FMT_PAL8, vfRGB24, palette([](int i) {
                         return 0xFF000000u | (uint32_t(i * 0x0B3D17 + 0x102030) & 0xFFFFFF);
                     }),
                     fromPalette(3), 0});
    cases.push_back({"PngPaletteTranslucent", "png", AV_PIX_FMT_PAL8, vfRGBA32, palette([](int i) {
                         return uint32_t(i * 16 + 8) << 24 | (uint32_t(i * 0x0B3D17) & 0xFFFFFF);
                     }),
                     fromPalette(4), 0});
    cases.push_back({"PngPaletteGrey", "png", AV_PIX_FMT_PAL8, vfGray8,
                     palette([](int i) { return 0xFF000000u | uint32_t(i * 15) * 0x010101u; }),
                     fromPalette(1), 0});
    cases.push_back(
        {"BmpBgr", "bmp", AV_PIX_FMT_BGR24, vfRGB24, BytePattern(3, 7),
         [=](const AVFrame& f, int x, int y, uint8_t* o) { std::memcpy(o, p(f, y) + 3 * x, 3); },
         0});
    cases.push_back(
        {"TiffGray16", "tiff", AV_PIX_FMT_GRAY16LE, vfGray16, BytePattern(2, 8),
         [=](const AVFrame& f, int x, int y, uint8_t* o) { std::memcpy(o, p(f, y) + 2 * x, 2); },
         0});
    return cases;
}

void PrintTo(const TStillCase& c, std::ostream* os) { *os << c.Name; }

class StillImageReading : public ::testing::TestWithParam<TStillCase> {};

TEST_P(StillImageReading, GivesTheNearestNativeFormatWithExactPixels) {
    const TStillCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir / (std::string(c.Name) + "." + c.Encoder);
    for (const auto& [width, height] : {std::pair{37, 23}, std::pair{1, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        EncodeImageFile(path, c.Encoder, c.PixFmt, width, height, c.Fill);
        TAvMediaReader reader(path);
        EXPECT_EQ(reader.Width(), width);
        EXPECT_EQ(reader.Height(), height);
        ASSERT_EQ(reader.Format(), c.Expected);
        EXPECT_TRUE(reader.IsStillImage());
        EXPECT_EQ(reader.FrameCount(), 1);
        EXPECT_EQ(reader.FrameDuration(), 400000);

        const TFrames frames = ReadAll(reader);
        ASSERT_EQ(frames.Images.size(), 1u);
        EXPECT_EQ(frames.Infos[0].Start, 0);
        EXPECT_EQ(frames.Infos[0].Duration, 400000);
        EXPECT_EQ(frames.Infos[0].Format, c.Expected);

        // The reference decodes nothing: it recomputes the source frame and maps it by hand.
        const TFramePtr source(c.PixFmt, width, height, c.Fill, 0);
        const TImage& image = frames.Images[0];
        const int bpp = BytesPerPixel(c.Expected);
        int worst = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t expected[4];
                c.Pixel(*source.P, x, y, expected);
                for (int i = 0; i < bpp; ++i)
                    worst = std::max(worst,
                                     std::abs(int(expected[i]) - int(image.Row(y)[x * bpp + i])));
            }
        EXPECT_LE(worst, c.Tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(AvMediaReader, StillImageReading, ::testing::ValuesIn(StillCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------------------------------------
// Reading videos written by libav's own encoders and muxers

struct TLosslessCase {
    const char* Name;
    AVPixelFormat PixFmt;
    TPXVideoFormat Expected;
    int BytesPerPixel;
};

void PrintTo(const TLosslessCase& c, std::ostream* os) { *os << c.Name; }

class LosslessVideoReading : public ::testing::TestWithParam<TLosslessCase> {};

TEST_P(LosslessVideoReading, Ffv1InMatroskaGivesEveryFrameExactWithItsTimeStamp) {
    const TLosslessCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir / "clip.mkv";
    constexpr int kFrames = 12;
    const TFill fill = BytePattern(c.BytesPerPixel, 40);
    EncodeVideoFile(path, "ffv1", c.PixFmt, 37, 23, {25, 1}, kFrames, fill);

    TAvMediaReader reader(path);
    EXPECT_FALSE(reader.IsStillImage());
    ASSERT_EQ(reader.Format(), c.Expected);
    EXPECT_EQ(reader.FrameDuration(), 400000);
    EXPECT_EQ(reader.FrameCount(), kFrames);
    const TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(), std::size_t(kFrames));
    TImage spare(37, 23, c.Expected);
    TAvFrameInfo info;
    EXPECT_FALSE(reader.ReadFrame(spare.Row(0), spare.Stride, info));  // and stays at the end

    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(frames.Infos[i].Start, int64_t(i) * 400000);
        EXPECT_EQ(frames.Infos[i].Duration, 400000);
        const TFramePtr source(c.PixFmt, 37, 23, fill, i);
        TImage expected(37, 23, c.Expected);
        for (int y = 0; y < 23; ++y)  // ffv1 here carries the native byte layout itself
            std::memcpy(expected.Row(y), source.P->data[0] + y * source.P->linesize[0],
                        expected.RowBytes());
        EXPECT_TRUE(SamePixels(expected, frames.Images[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(AvMediaReader, LosslessVideoReading,
                         ::testing::Values(TLosslessCase{"Gray8", AV_PIX_FMT_GRAY8, vfGray8, 1},
                                           TLosslessCase{"Gray16", AV_PIX_FMT_GRAY16LE, vfGray16,
                                                         2},
                                           TLosslessCase{"Bgra", AV_PIX_FMT_BGRA, vfRGBA32, 4}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Flat frames of strongly coloured YUV: the reference is the BT.601 studio-range formula, so a
// wrong matrix or range is off by far more than the codec's error.
void FillFlatYuv(AVFrame& f, int index) {
    const int y = 40 + 13 * index % 180, u = 60 + 29 * index % 140, v = 200 - 23 * index % 140;
    for (int row = 0; row < f.height; ++row)
        std::memset(f.data[0] + row * f.linesize[0], y, f.width);
    for (int row = 0; row < (f.height + 1) / 2; ++row) {
        std::memset(f.data[1] + row * f.linesize[1], u, (f.width + 1) / 2);
        std::memset(f.data[2] + row * f.linesize[2], v, (f.width + 1) / 2);
    }
}

TEST(AvMediaReader, Mpeg4WithBFramesGivesEveryFrameInOrderWithConsistentStamps) {
    TTempDir dir;
    const std::string path = dir / "clip.mp4";
    constexpr int kFrames = 15;
    EncodeVideoFile(path, "mpeg4", AV_PIX_FMT_YUV420P, 64, 48, {30000, 1001}, kFrames, FillFlatYuv,
                    2);

    TAvMediaReader reader(path);
    EXPECT_EQ(reader.Format(), vfRGB24);
    EXPECT_EQ(reader.FrameDuration(), 333667);
    EXPECT_EQ(reader.FrameCount(), kFrames);
    const TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(),
              std::size_t(kFrames));  // includes the frames held back by B-frames
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TAvFrameInfo& info = frames.Infos[i];
        EXPECT_NEAR(double(info.Start), i * 1e7 * 1001 / 30000, 1.0);
        if (i + 1 < kFrames) {
            EXPECT_EQ(info.Start + info.Duration, frames.Infos[i + 1].Start);
        }
        EXPECT_NEAR(double(info.Duration), 333667, 1.0);

        const TFramePtr source(AV_PIX_FMT_YUV420P, 64, 48, FillFlatYuv, i);
        const TRgb rgb =
            Bt601ToRgb(source.P->data[0][0], source.P->data[1][0], source.P->data[2][0]);
        const uint8_t expected[3] = {Clamp8(rgb.B), Clamp8(rgb.G), Clamp8(rgb.R)};
        int worst = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64 * 3; ++x)
                worst = std::max(worst,
                                 std::abs(int(frames.Images[i].Row(y)[x]) - int(expected[x % 3])));
        EXPECT_LE(worst, 5);
    }
}

TEST(AvMediaReader, TruncatedVideoEndsEarlyOrFailsWithTheFileName) {
    TTempDir dir;
    const std::string path = dir / "cut.mkv";
    EncodeVideoFile(path, "ffv1", AV_PIX_FMT_BGRA, 37, 23, {25, 1}, 12, BytePattern(4, 9));
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(bytes.size() * 6 / 10);
    WriteBytes(path, bytes);
    std::size_t frames = 0;
    try {
        TAvMediaReader reader(path);
        frames = ReadAll(reader).Images.size();
    } catch (const TAvError& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
    EXPECT_LT(frames, 12u);
}

// ---------------------------------------------------------------------------------------------
// Bad input to the reader

TEST(AvMediaReader, RejectsFilesThatAreNotReadableMedia) {
    TTempDir dir;
    ExpectAvError([&] { TAvMediaReader r(dir / "missing.png"); },
                  {dir / "missing.png", "no such file"});
    ExpectAvError([&] { TAvMediaReader r(dir.Path().string()); }, {dir.Path().string(), "folder"});

    const std::string empty = dir / "empty.png";
    WriteBytes(empty, {});
    ExpectAvError([&] { TAvMediaReader r(empty); }, {empty, "empty"});

    std::mt19937 random(5);
    std::vector<uint8_t> noise(20000);
    for (uint8_t& b : noise) b = uint8_t(random());
    for (const char* name : {"noise.png", "noise.dat", "noise.mkv"}) {
        WriteBytes(dir / name, noise);
        ExpectAvError([&] { TAvMediaReader r(dir / name); }, {dir / name});
    }

    const std::string good = dir / "good.png";
    EncodeImageFile(good, "png", AV_PIX_FMT_RGB24, 64, 64, BytePattern(3, 11));
    const std::vector<uint8_t> png = ReadBytes(good);
    for (std::size_t keep : {png.size() / 2, std::size_t(8), std::size_t(40)}) {
        const std::string cut = dir / ("cut" + std::to_string(keep) + ".png");
        WriteBytes(cut, std::vector<uint8_t>(png.begin(), png.begin() + std::ptrdiff_t(keep)));
        ExpectAvError([&] { TAvMediaReader r(cut); }, {cut});
    }

    const std::string text = dir / "notes.txt";
    WriteBytes(text, std::vector<uint8_t>(100, 'a'));
    ExpectAvError([&] { TAvMediaReader r(text); }, {text});

    ExpectAvError([&] { TAvMediaReader r(dir / "none_%04d.png"); }, {dir / "none_%04d.png"});

    if (::geteuid() != 0) {  // permissions do not bind the superuser
        fs::permissions(good, fs::perms::none);
        ExpectAvError([&] { TAvMediaReader r(good); }, {good, "ermission"});
    }
}

TEST(AvMediaReader, RejectsDestinationMemoryThatCannotHoldARow) {
    TTempDir dir;
    const std::string path = dir / "a.png";
    EncodeImageFile(path, "png", AV_PIX_FMT_RGB24, 5, 3, BytePattern(3, 1));
    TAvMediaReader reader(path);
    std::vector<uint8_t> memory(100);
    TAvFrameInfo info;
    ExpectAvError([&] { reader.ReadFrame(memory.data(), 14, info); }, {path, "stride"});
    ExpectAvError([&] { reader.ReadFrame(nullptr, 15, info); }, {path});
    // Still readable after the refusals; a negative stride fills the rows bottom-up.
    ASSERT_TRUE(reader.ReadFrame(memory.data() + 30, -15, info));
    const TFramePtr source(AV_PIX_FMT_RGB24, 5, 3, BytePattern(3, 1), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(memory[std::size_t(30 - 15 * y + 3 * x + c)],
                          source.P->data[0][y * source.P->linesize[0] + 3 * x + 2 - c]);
}

// ---------------------------------------------------------------------------------------------
// Writing images and reading them back

struct TRoundTripCase {
    const char* Extension;
    TPXVideoFormat Format;
    TPXVideoFormat ReadAs;
};

void PrintTo(const TRoundTripCase& c, std::ostream* os) {
    *os << c.Extension << " " << FormatLabel(c.Format);
}

class LosslessImageWriting : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(LosslessImageWriting, ReadsBackByteIdentical) {
    const TRoundTripCase& c = GetParam();
    TTempDir dir;
    for (const auto& [width, height] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{2, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const std::string path = dir / (std::string("out") + c.Extension);
        const TImage image = MakePattern(c.Format, width, height, width);
        {
            TAvMediaWriter writer(path, width, height, c.Format, 400000);
            Write(writer, image);
            writer.Close();
        }
        TAvMediaReader reader(path);
        ASSERT_EQ(reader.Format(), c.ReadAs);
        TFrames frames = ReadAll(reader);
        ASSERT_EQ(frames.Images.size(), 1u);
        EXPECT_TRUE(SamePixels(image, frames.Images[0]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AvMediaWriter, LosslessImageWriting,
    ::testing::Values(
        TRoundTripCase{".png", vfRGB24, vfRGB24}, TRoundTripCase{".png", vfRGBA32, vfRGBA32},
        TRoundTripCase{".png", vfGray8, vfGray8}, TRoundTripCase{".png", vfGray16, vfGray16},
        TRoundTripCase{".tif", vfRGB24, vfRGB24}, TRoundTripCase{".tiff", vfRGBA32, vfRGBA32},
        TRoundTripCase{".TIF", vfGray8, vfGray8}, TRoundTripCase{".tif", vfGray16, vfGray16},
        TRoundTripCase{".bmp", vfRGB24, vfRGB24}, TRoundTripCase{".bmp", vfRGBA32, vfRGBA32},
        TRoundTripCase{".bmp", vfGray8, vfGray8}),
    [](const auto& info) {
        return std::string(info.param.Extension + 1) + FormatLabel(info.param.Format);
    });

TEST(AvMediaWriter, LossyAndReducedImagesStayCloseToTheFrame) {
    TTempDir dir;
    // A smooth frame: JPEG at high quality keeps it within a few levels.
    TImage smooth(61, 35, vfRGB24);
    for (int y = 0; y < 35; ++y)
        for (int x = 0; x < 61; ++x) {
            uint8_t* p = smooth.Row(y) + 3 * x;
            p[0] = uint8_t(40 + 3 * x), p[1] = uint8_t(200 - 4 * y), p[2] = uint8_t(90 + x + y);
        }
    TImage smoothGrey(61, 35, vfGray8);
    for (int y = 0; y < 35; ++y)
        for (int x = 0; x < 61; ++x) smoothGrey.Row(y)[x] = uint8_t(20 + 2 * x + 3 * y);

    auto roundTrip = [&](const std::string& name, const TImage& image) {
        TAvMediaWriter writer(dir / name, image.Width, image.Height, image.Format, 400000);
        Write(writer, image);
        writer.Close();
        TAvMediaReader reader(dir / name);
        TFrames frames = ReadAll(reader);
        Require(frames.Images.size() == 1, "one image");
        return frames.Images[0];
    };
    auto worstDifference = [](const TImage& a, const TImage& b, int channelsA, int channelsB) {
        int worst = 0;
        for (int y = 0; y < a.Height; ++y)
            for (int x = 0; x < a.Width; ++x)
                for (int c = 0; c < channelsB; ++c)
                    worst = std::max(
                        worst, std::abs(int(a.Row(y)[x * channelsA + std::min(c, channelsA - 1)]) -
                                        int(b.Row(y)[x * channelsB + c])));
        return worst;
    };

    for (const char* name : {"smooth.jpg", "smooth.JPEG"}) {
        const TImage back = roundTrip(name, smooth);
        ASSERT_EQ(back.Format, vfRGB24);
        EXPECT_LE(worstDifference(smooth, back, 3, 3), 4);
    }
    const TImage greyBack = roundTrip("grey.jpg", smoothGrey);
    ASSERT_EQ(greyBack.Format, vfRGB24);  // JPEG here is always YCbCr
    EXPECT_LE(worstDifference(smoothGrey, greyBack, 1, 3), 3);

    // 16-bit grey in an 8-bit BMP: the high byte, rounded.
    const TImage deep = MakePattern(vfGray16, 37, 23, 3);
    const TImage bmp = roundTrip("deep.bmp", deep);
    ASSERT_EQ(bmp.Format, vfGray8);
    double worst = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            worst = std::max(worst, std::abs(deep.Word(x, y) / 257.0 - bmp.Row(y)[x]));
    EXPECT_LE(worst, 1.0);
}

TEST(AvMediaWriter, UyvyIsWrittenToPngAsStudioRangeBt601Colour) {
    TTempDir dir;
    TImage uyvy(38, 23, vfUYVY);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 38 * 2; ++x)
            // Chroma varies down the frame only, so that interpolating it sideways changes nothing.
            uyvy.Row(y)[x] =
                uint8_t(x % 2 ? 16 + (x * 7 + y * 11) % 220 : 16 + (x % 4 * 64 + y * 9) % 225);
    {
        TAvMediaWriter writer(dir / "u.png", 38, 23, vfUYVY, 400000);
        Write(writer, uyvy);
        writer.Close();
    }
    TAvMediaReader reader(dir / "u.png");
    ASSERT_EQ(reader.Format(), vfRGB24);
    TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(), 1u);
    int worst = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 38; ++x) {
            const uint8_t* pair = uyvy.Row(y) + 4 * (x / 2);
            const TRgb rgb = Bt601ToRgb(pair[1 + 2 * (x % 2)], pair[0], pair[2]);
            const uint8_t* got = frames.Images[0].Row(y) + 3 * x;
            worst = std::max({worst, std::abs(got[0] - Clamp8(rgb.B)),
                              std::abs(got[1] - Clamp8(rgb.G)), std::abs(got[2] - Clamp8(rgb.R))});
        }
    EXPECT_LE(worst, 2);
}

TEST(AvMediaWriter, SingleImageKeepsTheLastFrameAndAppearsOnlyOnClose) {
    TTempDir dir;
    const std::string path = dir / "still.png";
    const TImage first = MakePattern(vfRGB24, 37, 23, 1), last = MakePattern(vfRGB24, 37, 23, 2);
    TAvMediaWriter writer(path, 37, 23, vfRGB24, 400000);
    Write(writer, first, 0);
    Write(writer, last, 400000);
    EXPECT_EQ(writer.FramesWritten(), 2);
    EXPECT_FALSE(fs::exists(path));
    writer.Close();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"still.png"});
    writer.Close();  // a second close changes nothing
    TAvMediaReader reader(path);
    TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(), 1u);
    EXPECT_TRUE(SamePixels(last, frames.Images[0]));
    ExpectAvError([&] { Write(writer, first); }, {path, "closed"});
}

TEST(AvMediaWriter, NumberedSequenceWritesOneImagePerFrameFromZero) {
    TTempDir dir;
    constexpr int kFrames = 5;
    std::vector<TImage> images;
    {
        TAvMediaWriter writer(dir / "shot_%04d.png", 37, 23, vfRGBA32, 400000);
        EXPECT_EQ(writer.OutputName(3), dir / "shot_0003.png");
        for (int i = 0; i < kFrames; ++i) {
            images.push_back(MakePattern(vfRGBA32, 37, 23, 10 + i));
            Write(writer, images.back(), i * 400000);
            EXPECT_TRUE(
                fs::exists(dir / ("shot_000" + std::to_string(i) + ".png")));  // complete at once
        }
        writer.Close();
    }
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"shot_0000.png", "shot_0001.png", "shot_0002.png",
                                        "shot_0003.png", "shot_0004.png"}));
    for (int i = 0; i < kFrames; ++i) {
        TAvMediaReader single(dir / ("shot_000" + std::to_string(i) + ".png"));
        EXPECT_TRUE(SamePixels(images[i], ReadAll(single).Images.at(0))) << "image " << i;
    }

    // The pattern reads back as a video in number order.
    TAvMediaReader sequence(dir / "shot_%04d.png");
    EXPECT_FALSE(sequence.IsStillImage());
    EXPECT_EQ(sequence.FrameCount(), kFrames);
    const TFrames frames = ReadAll(sequence);
    ASSERT_EQ(frames.Images.size(), std::size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_TRUE(SamePixels(images[i], frames.Images[i])) << "frame " << i;
        EXPECT_EQ(frames.Infos[i].Start, i * sequence.FrameDuration());
    }
}

TEST(AvMediaReader, ScalesLaterFramesOfAnotherSizeToTheFirstFramesSize) {
    TTempDir dir;
    TImage first(16, 8, vfRGB24), second(40, 30, vfRGB24);
    std::fill(first.Bytes.begin(), first.Bytes.end(), uint8_t(10));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) std::memcpy(second.Row(y) + 3 * x, "\x20\x80\xF0", 3);
    for (const auto& [name, image] :
         {std::pair{"s_0000.png", &first}, std::pair{"s_0001.png", &second}}) {
        TAvMediaWriter writer(dir / name, image->Width, image->Height, vfRGB24, 400000);
        Write(writer, *image);
        writer.Close();
    }
    TAvMediaReader reader(dir / "s_%04d.png");
    const TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(), 2u);
    EXPECT_EQ(frames.Infos[1].Width, 16);
    EXPECT_EQ(frames.Infos[1].Height, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint8_t* p = frames.Images[1].Row(y) + 3 * x;
            EXPECT_TRUE(p[0] == 0x20 && p[1] == 0x80 && p[2] == 0xF0) << x << "," << y;
        }
}

// ---------------------------------------------------------------------------------------------
// YUV4MPEG2

struct TY4m {
    std::map<char, std::string> Header;  // first letter of each header field -> rest
    std::vector<std::vector<uint8_t>> Frames;
};

// Parses a YUV4MPEG2 file by hand: the header line, then "FRAME" lines each followed by planes.
TY4m ParseY4m(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    TY4m result;
    const auto headerEnd = std::find(bytes.begin(), bytes.end(), uint8_t('\n'));
    Require(headerEnd != bytes.end(), "y4m header");
    std::istringstream header(std::string(bytes.begin(), headerEnd));
    std::string field;
    header >> field;
    Require(field == "YUV4MPEG2", "y4m magic");
    while (header >> field) result.Header[field[0]] = field.substr(1);
    const int w = std::stoi(result.Header['W']), h = std::stoi(result.Header['H']);
    const std::string space = result.Header['C'];
    std::size_t frameBytes = 0;
    if (space == "mono")
        frameBytes = std::size_t(w) * h;
    else if (space == "mono16")
        frameBytes = std::size_t(w) * h * 2;
    else if (space == "444")
        frameBytes = std::size_t(w) * h * 3;
    else if (space == "422")
        frameBytes = std::size_t(w) * h + 2 * std::size_t((w + 1) / 2) * h;
    Require(frameBytes > 0, "known y4m colour space " + space);
    std::size_t at = std::size_t(headerEnd - bytes.begin()) + 1;
    while (at < bytes.size()) {
        Require(std::string(bytes.begin() + std::ptrdiff_t(at),
                            bytes.begin() + std::ptrdiff_t(at + 5)) == "FRAME",
                "FRAME");
        const auto lineEnd =
            std::find(bytes.begin() + std::ptrdiff_t(at), bytes.end(), uint8_t('\n'));
        at = std::size_t(lineEnd - bytes.begin()) + 1;
        Require(at + frameBytes <= bytes.size(), "whole frame");
        result.Frames.emplace_back(bytes.begin() + std::ptrdiff_t(at),
                                   bytes.begin() + std::ptrdiff_t(at + frameBytes));
        at += frameBytes;
    }
    return result;
}

TEST(AvMediaWriter, Y4mGreyFramesAreStoredExactlyAndReadBackWithTheirTiming) {
    for (TPXVideoFormat format : {vfGray8, vfGray16}) {
        SCOPED_TRACE(FormatLabel(format));
        TTempDir dir;
        const std::string path = dir / "grey.y4m";
        constexpr int kFrames = 7;
        std::vector<TImage> images;
        {
            TAvMediaWriter writer(path, 37, 23, format, 400000);
            for (int i = 0; i < kFrames; ++i) {
                images.push_back(MakePattern(format, 37, 23, i));
                Write(writer, images.back(), i * 400000);
            }
            EXPECT_FALSE(fs::exists(path));
            writer.Close();
        }
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"grey.y4m"});

        const TY4m y4m = ParseY4m(path);
        EXPECT_EQ(y4m.Header.at('W'), "37");
        EXPECT_EQ(y4m.Header.at('H'), "23");
        EXPECT_EQ(y4m.Header.at('F'), "25:1");
        EXPECT_EQ(y4m.Header.at('C'), format == vfGray8 ? "mono" : "mono16");
        ASSERT_EQ(y4m.Frames.size(), std::size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            TImage stored(37, 23, format, 0);
            if (format == vfGray8) {
                stored.Bytes = y4m.Frames[i];
            } else {  // mono16 is little-endian
                for (int p = 0; p < 37 * 23; ++p) {
                    const uint16_t v =
                        uint16_t(y4m.Frames[i][2 * p] | y4m.Frames[i][2 * p + 1] << 8);
                    stored.SetWord(p % 37, p / 37, v);
                }
            }
            EXPECT_TRUE(SamePixels(images[i], stored)) << "stored frame " << i;
        }

        TAvMediaReader reader(path);
        EXPECT_EQ(reader.Format(), format);
        EXPECT_EQ(reader.FrameDuration(), 400000);
        EXPECT_EQ(reader.FrameCount(), kFrames);
        const TFrames frames = ReadAll(reader);
        ASSERT_EQ(frames.Images.size(), std::size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_TRUE(SamePixels(images[i], frames.Images[i])) << "read frame " << i;
            EXPECT_EQ(frames.Infos[i].Start, i * 400000);
            EXPECT_EQ(frames.Infos[i].Duration, 400000);
        }
    }
}

TEST(AvMediaWriter, Y4mColourIsStudioRange444AtAnNtscRate) {
    TTempDir dir;
    const std::string path = dir / "colour.y4m";
    std::vector<TImage> images;
    {
        TAvMediaWriter writer(path, 37, 23, vfRGB24, 333667);
        for (int i = 0; i < 3; ++i) {
            images.push_back(MakePattern(vfRGB24, 37, 23, i));
            Write(writer, images.back());
        }
        writer.Close();
    }
    const TY4m y4m = ParseY4m(path);
    EXPECT_EQ(y4m.Header.at('F'), "30000:1001");
    EXPECT_EQ(y4m.Header.at('C'), "444");
    ASSERT_EQ(y4m.Frames.size(), 3u);
    int worstLuma = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint8_t* bgr = images[1].Row(y) + 3 * x;
            worstLuma = std::max(worstLuma, std::abs(Clamp8(Bt601Luma(bgr[2], bgr[1], bgr[0])) -
                                                     int(y4m.Frames[1][std::size_t(y) * 37 + x])));
        }
    EXPECT_LE(worstLuma, 1);

    TAvMediaReader reader(path);
    EXPECT_EQ(reader.Format(), vfRGB24);
    EXPECT_EQ(reader.FrameDuration(), 333667);
    const TFrames frames = ReadAll(reader);
    ASSERT_EQ(frames.Images.size(), 3u);
    int worst = 0;
    for (int i = 0; i < 3; ++i) {
        if (i < 2) {
            EXPECT_EQ(frames.Infos[i].Start + frames.Infos[i].Duration, frames.Infos[i + 1].Start);
        }
        for (int y = 0; y < 23; ++y)
            for (std::size_t b = 0; b < images[i].RowBytes(); ++b)
                worst = std::max(worst, std::abs(images[i].Row(y)[b] - frames.Images[i].Row(y)[b]));
    }
    EXPECT_NEAR(double(frames.Infos[2].Start), 2 * 1e7 * 1001 / 30000, 1.0);
    EXPECT_LE(worst, 3);  // studio-range 4:4:4 loses at most a level or two per channel
}

TEST(AvMediaWriter, Y4mKeepsUyvySamplesAs422Planes) {
    TTempDir dir;
    const std::string path = dir / "packed.y4m";
    const TImage uyvy = MakePattern(vfUYVY, 38, 23, 4);
    {
        TAvMediaWriter writer(path, 38, 23, vfUYVY, 400000);
        Write(writer, uyvy);
        writer.Close();
    }
    const TY4m y4m = ParseY4m(path);
    EXPECT_EQ(y4m.Header.at('C'), "422");
    ASSERT_EQ(y4m.Frames.size(), 1u);
    const std::vector<uint8_t>& planes = y4m.Frames[0];
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 38; ++x) {
            const uint8_t* pair = uyvy.Row(y) + 4 * (x / 2);
            ASSERT_EQ(planes[std::size_t(y * 38 + x)], pair[1 + 2 * (x % 2)]) << x << "," << y;
            if (x % 2 == 0) {
                ASSERT_EQ(planes[std::size_t(38 * 23 + y * 19 + x / 2)], pair[0]);
                ASSERT_EQ(planes[std::size_t(38 * 23 + 19 * 23 + y * 19 + x / 2)], pair[2]);
            }
        }
}

// ---------------------------------------------------------------------------------------------
// Unfinished output and bad arguments

TEST(AvMediaWriter, UnfinishedOutputLeavesNoFile) {
    TTempDir dir;
    const TImage image = MakePattern(vfGray8, 37, 23, 1);
    for (const char* name : {"a.png", "b.y4m", "c.jpg"}) {
        TAvMediaWriter writer(dir / name, 37, 23, vfGray8, 400000);
        Write(writer, image);
        EXPECT_FALSE(fs::exists(dir / name));
    }  // destroyed without Close
    {
        TAvMediaWriter writer(dir / "d_%03d.tif", 37, 23, vfGray8, 400000);
        Write(writer, image);
        Write(writer, image);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"d_000.tif", "d_001.tif"}));
        writer.Abort();
        writer.Abort();
        ExpectAvError([&] { Write(writer, image); }, {"aborted"});
    }
    {
        TAvMediaWriter writer(dir / "e.y4m", 37, 23, vfGray8, 400000);
        ExpectAvError([&] { writer.Close(); }, {dir / "e.y4m", "no frame"});
    }
    EXPECT_TRUE(dir.Entries().empty()) << dir.Entries().front();

    // A moved writer is finished by its new owner only.
    TAvMediaWriter first(dir / "f.png", 37, 23, vfGray8, 400000);
    Write(first, image);
    TAvMediaWriter second = std::move(first);
    second.Close();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"f.png"});
}

TEST(AvMediaWriter, RejectsArgumentsItCannotWrite) {
    TTempDir dir;
    ExpectAvError([&] { TAvMediaWriter w(dir / "nowhere/a.png", 8, 8, vfRGB24, 400000); },
                  {dir / "nowhere/a.png", "does not exist"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "nowhere/a_%02d.png", 8, 8, vfRGB24, 400000); },
                  {"does not exist"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.xyz", 8, 8, vfRGB24, 400000); },
                  {dir / "a.xyz", ".xyz", ".png", ".jpg", ".bmp", ".tif", ".y4m"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "noextension", 8, 8, vfRGB24, 400000); }, {".png"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a_%03d.y4m", 8, 8, vfRGB24, 400000); },
                  {"sequence"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.png", 0, 8, vfRGB24, 400000); }, {"0x8"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.png", 8, -1, vfRGB24, 400000); }, {"8x-1"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.png", 8, 8, TPXVideoFormat(2), 400000); },
                  {"format"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.png", 7, 8, vfUYVY, 400000); }, {"even width"});
    ExpectAvError([&] { TAvMediaWriter w(dir / "a.y4m", 8, 8, vfRGB24, 0); }, {"duration"});
    ExpectAvError([&] { TAvMediaWriter w(dir.Path().string(), 8, 8, vfRGB24, 400000); }, {".png"});
    fs::create_directory(dir / "taken.png");
    ExpectAvError([&] { TAvMediaWriter w(dir / "taken.png", 8, 8, vfRGB24, 400000); }, {"folder"});

    TAvMediaWriter writer(dir / "b.png", 8, 8, vfRGB24, 400000);
    std::vector<uint8_t> pixels(8 * 24);
    ExpectAvError([&] { writer.WriteFrame(pixels.data(), 23, 0); }, {dir / "b.png", "stride"});
    ExpectAvError([&] { writer.WriteFrame(nullptr, 24, 0); }, {dir / "b.png"});
    writer.Abort();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken.png"});
}

}  // namespace
}  // namespace pixora
