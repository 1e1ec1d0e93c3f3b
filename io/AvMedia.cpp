// Reads and writes media files for the media file source and sink: demuxing and decoding with
// libavformat/libavcodec, encoding images and muxing YUV4MPEG2, format conversion with libswscale.
#include "io/AvMedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace pixora {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTicksPerSecond = 10'000'000;

// libav's own log lines ("EOI missing, emulating", "Invalid PNG signature") stay quiet: every
// failure reaches the caller as one TAvError naming the file. PIXORA_AV_LOG=1 shows them.
void QuietLibav() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("PIXORA_AV_LOG")) av_log_set_level(AV_LOG_QUIET);
    });
}
constexpr AVRational kTickBase{1, 10'000'000};
constexpr int64_t kDefaultFrameDuration = kTicksPerSecond / 25;

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        std::snprintf(text, sizeof text, "libav error %d", code);
    return text;
}

struct TInputDeleter {
    void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
struct TCodecDeleter {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct TFrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
struct TPacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct TSwsDeleter {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};
struct TFileDeleter {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using TInputPtr = std::unique_ptr<AVFormatContext, TInputDeleter>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecDeleter>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
using TSwsPtr = std::unique_ptr<SwsContext, TSwsDeleter>;
using TFilePtr = std::unique_ptr<std::FILE, TFileDeleter>;

TFramePtr NewFrame() {
    AVFrame* frame = av_frame_alloc();
    if (!frame) throw std::bad_alloc();
    return TFramePtr(frame);
}

TPacketPtr NewPacket() {
    AVPacket* packet = av_packet_alloc();
    if (!packet) throw std::bad_alloc();
    return TPacketPtr(packet);
}

// Gives `frame` its own 64-byte aligned buffers of the given size and pixel format.
void AllocateFrame(AVFrame& frame, int width, int height, AVPixelFormat pixFmt) {
    av_frame_unref(&frame);
    frame.width = width;
    frame.height = height;
    frame.format = pixFmt;
    if (av_frame_get_buffer(&frame, 64) < 0) throw std::bad_alloc();
}

AVPixelFormat PixFmtOf(TPXVideoFormat format) {
    switch (format) {
        case vfRGB24: return AV_PIX_FMT_BGR24;
        case vfRGBA32: return AV_PIX_FMT_BGRA;
        case vfUYVY: return AV_PIX_FMT_UYVY422;
        case vfGray8: return AV_PIX_FMT_GRAY8;
        case vfGray16: return AV_PIX_FMT_GRAY16;  // host byte order
    }
    return AV_PIX_FMT_NONE;
}

std::size_t RowBytes(int width, TPXVideoFormat format) {
    return std::size_t(width) * std::size_t(BitsPerPixel(format)) / 8;
}

void CopyRows(const uint8_t* src, std::ptrdiff_t srcStride, uint8_t* dst, std::ptrdiff_t dstStride,
              std::size_t rowBytes, int rows) {
    for (int y = 0; y < rows; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, rowBytes);
}

// Checks caller memory of `rows` rows of `rowBytes` bytes, `stride` bytes apart.
void CheckCallerRows(const void* data, std::ptrdiff_t stride, std::size_t rowBytes,
                     const std::string& what) {
    if (!data) throw TAvError(what + ": no pixel memory given");
    const std::size_t magnitude = std::size_t(stride < 0 ? -stride : stride);
    if (magnitude < rowBytes)
        throw TAvError(what + ": the row stride " + std::to_string(stride) +
                       " is smaller than the row size " + std::to_string(rowBytes));
}

// YUV in the sense of libswscale: three or more components that are neither RGB nor a palette.
bool IsYuv(AVPixelFormat pixFmt) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixFmt);
    return desc && desc->nb_components >= 3 &&
           !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER));
}

// The full-range "J" formats as their plain layout twin, which libswscale wants together with an
// explicit range; other formats unchanged.
AVPixelFormat PlainLayoutOf(AVPixelFormat pixFmt) {
    switch (pixFmt) {
        case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
        default: return pixFmt;
    }
}

// The YUV matrix a stream declares; undeclared means BT.601 for standard definition and
// BT.709 from 720 lines up, as video players assume.
int MatrixOf(AVColorSpace space, int height) {
    switch (space) {
        case AVCOL_SPC_BT709: return SWS_CS_ITU709;
        case AVCOL_SPC_FCC: return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
        default: return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

AVColorSpace ColorSpaceOf(int matrix) {
    return matrix == SWS_CS_ITU709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

// Converts whole frames between pixel formats and sizes. Channel reorders, byte swaps and
// repacking between layouts of the same sampling are exact (bit-exact, accurately rounded
// swscale paths).
class TConverter {
public:
    // dst must already own buffers of its size and format. Ranges only matter for YUV sides.
    void Convert(const AVFrame& src, AVFrame& dst, int matrix, bool srcFullRange,
                 bool dstFullRange) {
        const auto srcFmt = PlainLayoutOf(AVPixelFormat(src.format));
        const auto dstFmt = PlainLayoutOf(AVPixelFormat(dst.format));
        srcFullRange = srcFullRange || srcFmt != src.format;
        dstFullRange = dstFullRange || dstFmt != dst.format;
        constexpr int kFlags =
            SWS_BICUBIC | SWS_BITEXACT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
        SwsContext* context =
            sws_getCachedContext(FContext.release(), src.width, src.height, srcFmt, dst.width,
                                 dst.height, dstFmt, kFlags, nullptr, nullptr, nullptr);
        if (!context)
            throw TAvError(std::string("Can't convert from ") + PixFmtName(srcFmt) + " to " +
                           PixFmtName(dstFmt));
        FContext.reset(context);
        const std::array<int, 3> details{matrix, srcFullRange, dstFullRange};
        if (context != FDetailsContext || details != FDetails) {
            ApplyColorDetails(context, srcFmt, dstFmt, matrix, srcFullRange, dstFullRange);
            FDetailsContext = context;
            FDetails = details;
        }
        const int rows =
            sws_scale(context, src.data, src.linesize, 0, src.height, dst.data, dst.linesize);
        if (rows != dst.height)
            throw TAvError(std::string("Can't convert from ") + PixFmtName(srcFmt) + " to " +
                           PixFmtName(dstFmt) + ": " +
                           (rows < 0 ? AvErrorText(rows) : "short output"));
    }

private:
    static const char* PixFmtName(AVPixelFormat pixFmt) {
        const char* name = av_get_pix_fmt_name(pixFmt);
        return name ? name : "an unknown pixel format";
    }

    static void ApplyColorDetails(SwsContext* context, AVPixelFormat srcFmt, AVPixelFormat dstFmt,
                                  int matrix, bool srcFullRange, bool dstFullRange) {
        const bool srcYuv = IsYuv(srcFmt), dstYuv = IsYuv(dstFmt);
        if (!srcYuv && !dstYuv) return;  // RGB, grey and palette sides keep libswscale's defaults
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        sws_getColorspaceDetails(context, &invTable, &srcRange, &table, &dstRange, &brightness,
                                 &contrast, &saturation);
        const int* coefficients = sws_getCoefficients(matrix);
        if (srcYuv) srcRange = srcFullRange;
        if (dstYuv) dstRange = dstFullRange;
        sws_setColorspaceDetails(context, coefficients, srcRange, coefficients, dstRange,
                                 brightness, contrast, saturation);
    }

    TSwsPtr FContext;
    const SwsContext* FDetailsContext = nullptr;
    std::array<int, 3> FDetails{};
};

std::string ToLower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A name with exactly one printf-style number field ("%d", "%04d"; "%%" is a literal '%').
bool IsNumberPattern(const std::string& name) { return av_filename_number_test(name.c_str()) != 0; }

std::string FormatNumberPattern(const std::string& pattern, int64_t index) {
    std::vector<char> buffer(pattern.size() + 32);
    if (index > INT_MAX || av_get_frame_filename2(buffer.data(), int(buffer.size()),
                                                  pattern.c_str(), int(index), 0) < 0)
        throw TAvError("Can't number the image " + std::to_string(index) + " of '" + pattern + "'");
    return buffer.data();
}

int64_t RescaleToTicks(int64_t value, AVRational timeBase) {
    return av_rescale_q(value, timeBase, kTickBase);
}

bool IsValidRate(AVRational rate) { return rate.num > 0 && rate.den > 0; }

int64_t FrameDurationOfRate(AVRational rate) {
    return av_rescale(kTicksPerSecond, rate.den, rate.num);  // rounded to nearest
}

// The rate whose frame duration rounds to `duration`; the 1000/1001 rates of NTSC video are
// recognised, every other duration gives 10000000 / duration exactly.
AVRational RateOfFrameDuration(int64_t duration) {
    for (int base : {24000, 30000, 48000, 60000, 120000}) {
        const AVRational ntsc{base, 1001};
        if (FrameDurationOfRate(ntsc) == duration) return ntsc;
    }
    AVRational rate{};
    av_reduce(&rate.num, &rate.den, kTicksPerSecond, duration, INT_MAX);
    return rate;
}

int64_t FrameDurationOf(const AVFrame& frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 2, 100)
    return frame.duration;
#else
    return frame.pkt_duration;
#endif
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reader

struct TAvMediaReader::TImpl {
    std::string Name;
    TInputPtr Input;
    TCodecPtr Decoder;
    AVStream* Stream = nullptr;
    TPacketPtr Packet = NewPacket();
    TFramePtr Current = NewFrame();    // decoded, the next to deliver
    TFramePtr Lookahead = NewFrame();  // decoded after Current, gives Current its duration
    TFramePtr Converted = NewFrame();
    bool HasCurrent = false;
    bool HasLookahead = false;
    bool Draining = false;
    bool Ended = false;
    int Width = 0;
    int Height = 0;
    TPXVideoFormat Format = vfRGB24;
    AVPixelFormat TargetPixFmt = AV_PIX_FMT_BGR24;
    int64_t NominalDuration = kDefaultFrameDuration;
    int64_t FrameCount = -1;
    bool StillImage = false;
    int64_t FirstStamp = AV_NOPTS_VALUE;  // first frame's stamp in 100 ns, before rebasing
    int64_t CurrentStart = 0;
    int64_t Delivered = 0;
    TConverter Converter;

    explicit TImpl(const std::string& fileName) : Name(fileName) {
        try {
            Open();
        } catch (const TAvError& error) {
            throw TAvError("Can't open media file '" + Name + "': " + error.what());
        }
    }

    void Open() {
        if (Name.empty()) throw TAvError("no file name given");
        std::error_code ec;
        const fs::file_status status = fs::status(Name, ec);
        const bool sequence = status.type() == fs::file_type::not_found && IsNumberPattern(Name);
        if (!sequence) {
            if (status.type() == fs::file_type::not_found) throw TAvError("no such file");
            if (ec) throw TAvError(ec.message());
            if (fs::is_directory(status)) throw TAvError("it is a folder");
            if (!fs::is_regular_file(status)) throw TAvError("it is not a regular file");
            if (fs::file_size(Name, ec) == 0 && !ec) throw TAvError("the file is empty");
        }

        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        const AVInputFormat* forced = sequence ? av_find_input_format("image2") : nullptr;
        AVFormatContext* input = nullptr;
        // The "file:" prefix keeps names with a colon from being taken for other protocols.
        int result = avformat_open_input(&input, ("file:" + Name).c_str(), forced, &options);
        av_dict_free(&options);
        if (result < 0) throw TAvError(AvErrorText(result));
        Input.reset(input);

        result = avformat_find_stream_info(input, nullptr);
        if (result < 0) throw TAvError(AvErrorText(result));

        const AVCodec* codec = nullptr;
        const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (index == AVERROR_STREAM_NOT_FOUND) throw TAvError("it contains no video stream");
        if (index < 0 || !codec) {
            const AVStream* video = index >= 0 ? input->streams[index] : nullptr;
            throw TAvError(std::string("no decoder for ") +
                           (video ? avcodec_get_name(video->codecpar->codec_id) : "its video"));
        }
        Stream = input->streams[index];
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;

        Decoder.reset(avcodec_alloc_context3(codec));
        if (!Decoder) throw std::bad_alloc();
        result = avcodec_parameters_to_context(Decoder.get(), Stream->codecpar);
        if (result < 0) throw TAvError(AvErrorText(result));
        Decoder->pkt_timebase = Stream->time_base;
        Decoder->thread_count = 0;  // as many as the machine has
        result = avcodec_open2(Decoder.get(), codec, nullptr);
        if (result < 0)
            throw TAvError(std::string("can't open the ") + codec->name +
                           " decoder: " + AvErrorText(result));

        const std::string_view demuxer = input->iformat->name;
        StillImage = !sequence && (demuxer == "image2" || demuxer.ends_with("_pipe"));

        if (!Decode(*Current)) throw TAvError("it contains no decodable video frame");
        HasCurrent = true;
        Width = Current->width;
        Height = Current->height;
        if (Width <= 0 || Height <= 0) throw TAvError("the video has no size");
        Format = NativeFormatOf(*Current);
        TargetPixFmt = PixFmtOf(Format);
        FirstStamp = StampOf(*Current);
        if (FirstStamp == AV_NOPTS_VALUE) FirstStamp = 0;

        AVRational rate = Stream->avg_frame_rate;
        if (!IsValidRate(rate)) rate = Stream->r_frame_rate;
        if (!StillImage && IsValidRate(rate) && FrameDurationOfRate(rate) > 0)
            NominalDuration = FrameDurationOfRate(rate);
        FrameCount = CountFrames(rate);
    }

    int64_t CountFrames(AVRational rate) const {
        if (StillImage) return 1;
        if (Stream->nb_frames > 0) return Stream->nb_frames;
        if (!IsValidRate(rate)) return -1;
        if (Stream->duration > 0)
            return av_rescale_q(Stream->duration, Stream->time_base, av_inv_q(rate));
        if (Input->duration > 0)
            return av_rescale_q(Input->duration, AV_TIME_BASE_Q, av_inv_q(rate));
        return -1;
    }

    // The decoder's best-effort stamp in 100 ns units, not yet relative to the first frame.
    int64_t StampOf(const AVFrame& frame) const {
        int64_t stamp = frame.best_effort_timestamp;
        if (stamp == AV_NOPTS_VALUE) stamp = frame.pts;
        if (stamp == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
        return RescaleToTicks(stamp, Stream->time_base);
    }

    // Nearest native format; palette images are judged by the entries their first frame uses.
    static TPXVideoFormat NativeFormatOf(const AVFrame& frame) {
        const auto pixFmt = AVPixelFormat(frame.format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixFmt);
        if (!desc) return vfRGB24;
        if (pixFmt == AV_PIX_FMT_PAL8) {
            std::array<bool, 256> used{};
            for (int y = 0; y < frame.height; ++y)
                for (int x = 0; x < frame.width; ++x)
                    used[frame.data[0][std::ptrdiff_t(y) * frame.linesize[0] + x]] = true;
            const auto* palette = reinterpret_cast<const uint32_t*>(frame.data[1]);
            bool opaque = true, grey = true;
            for (int i = 0; i < 256; ++i) {
                if (!used[i]) continue;
                const uint32_t c = palette[i];
                opaque = opaque && (c >> 24) == 0xFF;
                grey = grey && (c & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 16) & 0xFF);
            }
            return !opaque ? vfRGBA32 : grey ? vfGray8 : vfRGB24;
        }
        if (desc->flags & AV_PIX_FMT_FLAG_ALPHA) return vfRGBA32;
        if (desc->nb_components == 1) return desc->comp[0].depth > 8 ? vfGray16 : vfGray8;
        return vfRGB24;
    }

    // Decodes the next frame of the stream into `frame`; false at the end, after draining.
    bool Decode(AVFrame& frame) {
        if (Ended) return false;
        for (;;) {
            int result = avcodec_receive_frame(Decoder.get(), &frame);
            if (result >= 0) return true;
            if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && Draining)) {
                Ended = true;
                return false;
            }
            if (result != AVERROR(EAGAIN)) throw TAvError(AvErrorText(result));
            result = av_read_frame(Input.get(), Packet.get());
            if (result == AVERROR_EOF) {
                Draining = true;
                avcodec_send_packet(Decoder.get(), nullptr);
                continue;
            }
            if (result < 0) {
                // A damaged or unreadable rest of the file: what was decoded still comes out,
                // then the stream ends.
                Draining = true;
                avcodec_send_packet(Decoder.get(), nullptr);
                throw TAvError(AvErrorText(result));
            }
            if (Packet->stream_index != Stream->index) {
                av_packet_unref(Packet.get());
                continue;
            }
            result = avcodec_send_packet(Decoder.get(), Packet.get());
            av_packet_unref(Packet.get());
            if (result < 0 && result != AVERROR(EAGAIN)) throw TAvError(AvErrorText(result));
        }
    }

    bool Read(uint8_t* dst, std::ptrdiff_t dstStride, TAvFrameInfo& info) {
        const std::size_t rowBytes = RowBytes(Width, Format);
        CheckCallerRows(dst, dstStride, rowBytes, "Can't read '" + Name + "'");
        if (!HasCurrent) return false;
        if (!HasLookahead) {
            try {
                HasLookahead = Decode(*Lookahead);
            } catch (const TAvError& error) {
                throw TAvError("Can't decode '" + Name + "' after " +
                               std::to_string(Delivered + 1) + " frames: " + error.what());
            }
        }

        // Duration: distance to the next frame's stamp, or the nominal one where the next
        // frame is missing or its stamp is unknown or not later.
        int64_t duration = 0;
        if (HasLookahead) {
            const int64_t next = StampOf(*Lookahead);
            if (next != AV_NOPTS_VALUE && next - FirstStamp > CurrentStart)
                duration = next - FirstStamp - CurrentStart;
        }
        if (duration <= 0) {
            const int64_t own = FrameDurationOf(*Current);
            duration = own > 0 && !StillImage ? RescaleToTicks(own, Stream->time_base) : 0;
            if (duration <= 0) duration = NominalDuration;
        }

        const TAvFrameInfo current{Width, Height, Format, CurrentStart, duration};
        std::string failure;
        try {
            Deliver(*Current, dst, dstStride, rowBytes);
        } catch (const TAvError& error) {
            failure = error.what();
        }
        // The frame is used up even when it could not be converted, so reading goes on.
        CurrentStart += duration;
        ++Delivered;
        av_frame_unref(Current.get());
        std::swap(Current, Lookahead);
        HasCurrent = HasLookahead;
        HasLookahead = false;
        if (!failure.empty())
            throw TAvError("Can't convert frame " + std::to_string(Delivered) + " of '" + Name +
                           "': " + failure);
        info = current;
        return true;
    }

    void Deliver(const AVFrame& frame, uint8_t* dst, std::ptrdiff_t dstStride,
                 std::size_t rowBytes) {
        const auto pixFmt = AVPixelFormat(frame.format);
        const bool sameSize = frame.width == Width && frame.height == Height;
        if (sameSize && pixFmt == TargetPixFmt) {
            CopyRows(frame.data[0], frame.linesize[0], dst, dstStride, rowBytes, Height);
            return;
        }
        if (sameSize && pixFmt == AV_PIX_FMT_PAL8) {
            DeliverPalette(frame, dst, dstStride);
            return;
        }
        if (Converted->format != TargetPixFmt)
            AllocateFrame(*Converted, Width, Height, TargetPixFmt);
        Converter.Convert(frame, *Converted, MatrixOf(frame.colorspace, frame.height),
                          frame.color_range == AVCOL_RANGE_JPEG, true);
        CopyRows(Converted->data[0], Converted->linesize[0], dst, dstStride, rowBytes, Height);
    }

    // Palette entries are 32-bit ARGB values.
    void DeliverPalette(const AVFrame& frame, uint8_t* dst, std::ptrdiff_t dstStride) const {
        const auto* palette = reinterpret_cast<const uint32_t*>(frame.data[1]);
        for (int y = 0; y < Height; ++y) {
            const uint8_t* in = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
            uint8_t* out = dst + y * dstStride;
            for (int x = 0; x < Width; ++x) {
                const uint32_t c = palette[in[x]];
                const uint8_t b = uint8_t(c), g = uint8_t(c >> 8), r = uint8_t(c >> 16);
                switch (Format) {
                    case vfGray8:  // exact for grey entries: the weights sum to 256
                        out[x] = uint8_t((77 * r + 150 * g + 29 * b + 128) >> 8);
                        break;
                    case vfRGBA32:
                        out[4 * x] = b;
                        out[4 * x + 1] = g;
                        out[4 * x + 2] = r;
                        out[4 * x + 3] = uint8_t(c >> 24);
                        break;
                    default:
                        out[3 * x] = b;
                        out[3 * x + 1] = g;
                        out[3 * x + 2] = r;
                        break;
                }
            }
        }
    }
};

TAvMediaReader::TAvMediaReader(const std::string& fileName) : FImpl((QuietLibav(), std::make_unique<TImpl>(fileName))) {}
TAvMediaReader::~TAvMediaReader() = default;
TAvMediaReader::TAvMediaReader(TAvMediaReader&&) noexcept = default;
TAvMediaReader& TAvMediaReader::operator=(TAvMediaReader&&) noexcept = default;

const std::string& TAvMediaReader::FileName() const { return FImpl->Name; }
int TAvMediaReader::Width() const { return FImpl->Width; }
int TAvMediaReader::Height() const { return FImpl->Height; }
TPXVideoFormat TAvMediaReader::Format() const { return FImpl->Format; }
int64_t TAvMediaReader::FrameDuration() const { return FImpl->NominalDuration; }
int64_t TAvMediaReader::FrameCount() const { return FImpl->FrameCount; }
bool TAvMediaReader::IsStillImage() const { return FImpl->StillImage; }

bool TAvMediaReader::ReadFrame(uint8_t* dst, std::ptrdiff_t dstStride, TAvFrameInfo& info) {
    return FImpl->Read(dst, dstStride, info);
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

enum class TOutputKind { Image, Sequence, Y4m };

struct TImageType {
    std::string_view Extension;
    const char* Encoder;
};

constexpr TImageType kImageTypes[] = {
    {".png", "png"}, {".jpg", "mjpeg"}, {".jpeg", "mjpeg"},
    {".bmp", "bmp"}, {".tif", "tiff"},  {".tiff", "tiff"},
};
constexpr const char* kSupportedExtensions = ".png, .jpg, .jpeg, .bmp, .tif, .tiff, .y4m";

// Encoder pixel formats in order of preference for each native format.
std::vector<AVPixelFormat> PreferredPixFmts(std::string_view encoder, TPXVideoFormat format) {
    const bool grey = format == vfGray8 || format == vfGray16;
    if (encoder == "png") switch (format) {
            case vfRGBA32: return {AV_PIX_FMT_RGBA};
            case vfGray8: return {AV_PIX_FMT_GRAY8};
            case vfGray16: return {AV_PIX_FMT_GRAY16BE};
            default: return {AV_PIX_FMT_RGB24};
        }
    if (encoder == "tiff") switch (format) {
            case vfRGBA32: return {AV_PIX_FMT_RGBA};
            case vfGray8: return {AV_PIX_FMT_GRAY8};
            case vfGray16: return {AV_PIX_FMT_GRAY16LE};
            default: return {AV_PIX_FMT_RGB24};
        }
    if (encoder == "bmp")
        return grey                 ? std::vector{AV_PIX_FMT_GRAY8}
               : format == vfRGBA32 ? std::vector{AV_PIX_FMT_BGRA}
                                    : std::vector{AV_PIX_FMT_BGR24};
    if (encoder == "mjpeg") return {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVJ444P};  // full range
    // YUV4MPEG2 through wrapped frames
    switch (format) {
        case vfUYVY: return {AV_PIX_FMT_YUV422P};
        case vfGray8: return {AV_PIX_FMT_GRAY8};
        case vfGray16: return {AV_PIX_FMT_GRAY16};
        default: return {AV_PIX_FMT_YUV444P};
    }
}

AVPixelFormat ChoosePixFmt(const AVCodec& codec, TPXVideoFormat format) {
    for (AVPixelFormat wanted : PreferredPixFmts(codec.name, format)) {
        if (!codec.pix_fmts) return wanted;
        for (const AVPixelFormat* p = codec.pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == wanted) return wanted;
    }
    return AV_PIX_FMT_NONE;
}

}  // namespace

struct TAvMediaWriter::TImpl {
    std::string Name;
    TOutputKind Kind = TOutputKind::Image;
    int Width = 0;
    int Height = 0;
    TPXVideoFormat Format = vfRGB24;
    AVPixelFormat SourcePixFmt = AV_PIX_FMT_NONE;
    AVPixelFormat EncoderPixFmt = AV_PIX_FMT_NONE;
    int Matrix = SWS_CS_ITU601;
    bool EncoderFullRange = true;
    TCodecPtr Encoder;
    TFramePtr Source = NewFrame();   // the caller's last frame, copied
    TFramePtr Encoded = NewFrame();  // Source in the encoder's pixel format
    TPacketPtr Packet = NewPacket();
    TConverter Converter;
    TFilePtr ImageFile;                // Image: the ".part" file, open from construction
    AVFormatContext* Muxer = nullptr;  // Y4m
    AVStream* MuxStream = nullptr;
    std::string PendingPart;  // a ".part" file that exists now
    int64_t Frames = 0;
    bool Closed = false;
    bool Finished = false;  // closed or aborted

    TImpl(const std::string& fileName, int width, int height, TPXVideoFormat format,
          int64_t frameDuration)
        : Name(fileName), Width(width), Height(height), Format(format) {
        try {
            Open(frameDuration);
        } catch (...) {
            Discard();
            throw;
        }
    }

    ~TImpl() { Discard(); }

    TAvError Failure(const std::string& why) const {
        return TAvError("Can't write '" + Name + "': " + why);
    }

    void Open(int64_t frameDuration) {
        if (Name.empty()) throw TAvError("Can't write media file: no file name given");
        const std::string extension = ToLower(fs::path(Name).extension().string());
        const TImageType* image = nullptr;
        for (const TImageType& type : kImageTypes)
            if (type.Extension == extension) image = &type;
        if (!image && extension != ".y4m")
            throw Failure("unknown file type '" + extension + "'; supported are " +
                          kSupportedExtensions);
        const bool sequence = IsNumberPattern(Name);
        if (sequence && !image)
            throw Failure(
                "a numbered sequence is written as images (.png, .jpg, .jpeg, .bmp, "
                ".tif, .tiff)");
        Kind = sequence ? TOutputKind::Sequence : image ? TOutputKind::Image : TOutputKind::Y4m;

        if (Width <= 0 || Height <= 0 ||
            av_image_check_size(unsigned(Width), unsigned(Height), 0, nullptr) < 0)
            throw Failure("invalid frame size " + std::to_string(Width) + "x" +
                          std::to_string(Height));
        if (!IsKnownFormat(Format))
            throw Failure("unknown video format " + std::to_string(int(Format)));
        if (Format == vfUYVY && Width % 2 != 0)
            throw Failure("UYVY frames need an even width, not " + std::to_string(Width));
        if (Kind == TOutputKind::Y4m && frameDuration <= 0)
            throw Failure("the frame duration must be positive, not " +
                          std::to_string(frameDuration));

        fs::path folder = fs::path(Name).parent_path();
        if (folder.empty()) folder = ".";
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            throw Failure("the folder '" + folder.string() + "' does not exist");
        if (::access(folder.c_str(), W_OK) != 0)
            throw Failure("the folder '" + folder.string() + "' is not writable");
        if (Kind != TOutputKind::Sequence && fs::is_directory(Name, ec))
            throw Failure("it is a folder");

        const AVCodec* codec =
            avcodec_find_encoder_by_name(image ? image->Encoder : "wrapped_avframe");
        if (!codec)
            throw Failure(std::string("libav has no ") +
                          (image ? image->Encoder : "wrapped_avframe") + " encoder");
        SourcePixFmt = PixFmtOf(Format);
        EncoderPixFmt = ChoosePixFmt(*codec, Format);
        if (EncoderPixFmt == AV_PIX_FMT_NONE)
            throw Failure(std::string("the ") + codec->name +
                          " encoder takes none of the pixel formats this writer converts to");
        Matrix = Height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
        EncoderFullRange = Kind != TOutputKind::Y4m;

        const AVRational rate =
            frameDuration > 0 ? RateOfFrameDuration(frameDuration) : AVRational{25, 1};
        OpenEncoder(*codec, rate);
        AllocateFrame(*Source, Width, Height, SourcePixFmt);
        if (EncoderPixFmt != SourcePixFmt) AllocateFrame(*Encoded, Width, Height, EncoderPixFmt);

        if (Kind == TOutputKind::Image) {
            PendingPart = Name + ".part";
            ImageFile.reset(std::fopen(PendingPart.c_str(), "wb"));
            if (!ImageFile) {
                PendingPart.clear();
                throw Failure(std::strerror(errno));
            }
        } else if (Kind == TOutputKind::Y4m) {
            OpenMuxer(rate);
        }
    }

    void OpenEncoder(const AVCodec& codec, AVRational rate) {
        Encoder.reset(avcodec_alloc_context3(&codec));
        if (!Encoder) throw std::bad_alloc();
        AVCodecContext& enc = *Encoder;
        enc.width = Width;
        enc.height = Height;
        enc.pix_fmt = EncoderPixFmt;
        enc.time_base = av_inv_q(rate);
        enc.framerate = rate;
        enc.sample_aspect_ratio = AVRational{1, 1};
        enc.thread_count = 1;
        if (IsYuv(PlainLayoutOf(EncoderPixFmt))) {
            enc.color_range = EncoderFullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
            enc.colorspace = ColorSpaceOf(Matrix);
        }
        const std::string_view name = codec.name;
        if (name == "mjpeg") {
            // Fixed quantiser 2 of 1..31: visually lossless still images.
            enc.flags |= AV_CODEC_FLAG_QSCALE;
            enc.global_quality = FF_QP2LAMBDA * 2;
            enc.strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;  // 4:4:4 full range
        }
        if (name == "tiff") av_opt_set(enc.priv_data, "compression_algo", "deflate", 0);
        const int result = avcodec_open2(&enc, &codec, nullptr);
        if (result < 0)
            throw Failure(std::string("can't open the ") + codec.name +
                          " encoder: " + AvErrorText(result));
    }

    void OpenMuxer(AVRational rate) {
        int result = avformat_alloc_output_context2(&Muxer, nullptr, "yuv4mpegpipe", nullptr);
        if (result < 0 || !Muxer) throw Failure("libav has no yuv4mpegpipe muxer");
        // mono16 is a libav extension of the format.
        Muxer->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        MuxStream = avformat_new_stream(Muxer, nullptr);
        if (!MuxStream) throw std::bad_alloc();
        result = avcodec_parameters_from_context(MuxStream->codecpar, Encoder.get());
        if (result < 0) throw Failure(AvErrorText(result));
        MuxStream->time_base = Encoder->time_base;
        MuxStream->avg_frame_rate = rate;
        MuxStream->r_frame_rate = rate;
        PendingPart = Name + ".part";
        result = avio_open(&Muxer->pb, ("file:" + PendingPart).c_str(), AVIO_FLAG_WRITE);
        if (result < 0) {
            PendingPart.clear();
            throw Failure(AvErrorText(result));
        }
        result = avformat_write_header(Muxer, nullptr);
        if (result < 0) throw Failure(AvErrorText(result));
    }

    void Write(const uint8_t* src, std::ptrdiff_t srcStride) {
        if (Finished)
            throw TAvError("Can't write to '" + Name + "': it is already " +
                           (Closed ? "closed" : "aborted"));
        const std::size_t rowBytes = RowBytes(Width, Format);
        CheckCallerRows(src, srcStride, rowBytes, "Can't write to '" + Name + "'");
        if (av_frame_make_writable(Source.get()) < 0) throw std::bad_alloc();
        CopyRows(src, srcStride, Source->data[0], Source->linesize[0], rowBytes, Height);
        Source->pts = Frames;
        switch (Kind) {
            case TOutputKind::Image: break;  // encoded by Close
            case TOutputKind::Sequence: WriteSequenceImage(); break;
            case TOutputKind::Y4m: SendToMuxer(&EncoderInput()); break;
        }
        ++Frames;
    }

    AVFrame& EncoderInput() {
        if (EncoderPixFmt == SourcePixFmt) return *Source;
        if (av_frame_make_writable(Encoded.get()) < 0) throw std::bad_alloc();
        try {
            // The native formats are full range except UYVY, which carries studio-range video.
            Converter.Convert(*Source, *Encoded, Matrix, Format != vfUYVY, EncoderFullRange);
        } catch (const TAvError& error) {
            throw Failure(error.what());
        }
        Encoded->pts = Source->pts;
        Encoded->color_range = Encoder->color_range;
        Encoded->colorspace = Encoder->colorspace;
        Encoded->quality = Encoder->global_quality;
        return *Encoded;
    }

    // Encodes the last frame written as one complete image file into `file`.
    void EncodeImage(std::FILE* file) {
        int result = avcodec_send_frame(Encoder.get(), &EncoderInput());
        if (result < 0) throw Failure("can't encode the image: " + AvErrorText(result));
        bool any = false;
        while ((result = avcodec_receive_packet(Encoder.get(), Packet.get())) >= 0) {
            const std::size_t size = std::size_t(Packet->size);
            const bool written = std::fwrite(Packet->data, 1, size, file) == size;
            av_packet_unref(Packet.get());
            if (!written) throw Failure(std::strerror(errno));
            any = true;
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            throw Failure("can't encode the image: " + AvErrorText(result));
        if (!any) throw Failure("the encoder gave no image data");
        if (std::fflush(file) != 0) throw Failure(std::strerror(errno));
    }

    void WriteSequenceImage() {
        const std::string target = FormatNumberPattern(Name, Frames);
        PendingPart = target + ".part";
        TFilePtr file(std::fopen(PendingPart.c_str(), "wb"));
        if (!file) {
            PendingPart.clear();
            throw TAvError("Can't write '" + target + "': " + std::strerror(errno));
        }
        try {
            EncodeImage(file.get());
            if (std::fclose(file.release()) != 0)
                throw TAvError("Can't write '" + target + "': " + std::strerror(errno));
            Commit(PendingPart, target);
        } catch (...) {
            file.reset();
            std::error_code ec;
            fs::remove(PendingPart, ec);
            PendingPart.clear();
            throw;
        }
    }

    void SendToMuxer(AVFrame* frame) {
        int result = avcodec_send_frame(Encoder.get(), frame);
        if (result < 0) throw Failure(AvErrorText(result));
        while ((result = avcodec_receive_packet(Encoder.get(), Packet.get())) >= 0) {
            av_packet_rescale_ts(Packet.get(), Encoder->time_base, MuxStream->time_base);
            Packet->stream_index = MuxStream->index;
            result = av_write_frame(Muxer, Packet.get());
            av_packet_unref(Packet.get());
            if (result < 0) throw Failure(AvErrorText(result));
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) throw Failure(AvErrorText(result));
    }

    void Commit(std::string& part, const std::string& target) {
        if (std::rename(part.c_str(), target.c_str()) != 0)
            throw TAvError("Can't write '" + target + "': " + std::strerror(errno));
        part.clear();
    }

    void Close() {
        if (Finished) return;
        try {
            if (Frames == 0) throw Failure("no frame was written");
            switch (Kind) {
                case TOutputKind::Image: {
                    EncodeImage(ImageFile.get());
                    if (std::fclose(ImageFile.release()) != 0) throw Failure(std::strerror(errno));
                    Commit(PendingPart, Name);
                    break;
                }
                case TOutputKind::Sequence: break;
                case TOutputKind::Y4m: {
                    SendToMuxer(nullptr);
                    int result = av_write_trailer(Muxer);
                    if (result < 0) throw Failure(AvErrorText(result));
                    result = avio_closep(&Muxer->pb);
                    if (result < 0) throw Failure(AvErrorText(result));
                    Commit(PendingPart, Name);
                    break;
                }
            }
        } catch (...) {
            Discard();
            throw;
        }
        Closed = true;
        Finished = true;
        ReleaseLibav();
    }

    void ReleaseLibav() noexcept {
        ImageFile.reset();
        if (Muxer) {
            if (Muxer->pb) avio_closep(&Muxer->pb);
            avformat_free_context(Muxer);
            Muxer = nullptr;
            MuxStream = nullptr;
        }
        Encoder.reset();
        av_frame_unref(Source.get());
        av_frame_unref(Encoded.get());
    }

    // Removes everything an unfinished writer has produced.
    void Discard() noexcept {
        if (Finished) return;
        Finished = true;
        ReleaseLibav();
        std::error_code ec;
        if (!PendingPart.empty()) fs::remove(PendingPart, ec);
        PendingPart.clear();
        if (Kind == TOutputKind::Sequence) {
            for (int64_t i = 0; i < Frames; ++i) {
                try {
                    fs::remove(FormatNumberPattern(Name, i), ec);
                } catch (...) {
                }
            }
        }
    }
};

TAvMediaWriter::TAvMediaWriter(const std::string& fileName, int width, int height,
                               TPXVideoFormat format, int64_t frameDuration)
    : FImpl((QuietLibav(), std::make_unique<TImpl>(fileName, width, height, format, frameDuration))) {}

TAvMediaWriter::~TAvMediaWriter() { Abort(); }
TAvMediaWriter::TAvMediaWriter(TAvMediaWriter&&) noexcept = default;
TAvMediaWriter& TAvMediaWriter::operator=(TAvMediaWriter&& other) noexcept {
    if (this != &other) {
        Abort();
        FImpl = std::move(other.FImpl);
    }
    return *this;
}

const std::string& TAvMediaWriter::FileName() const { return FImpl->Name; }
int64_t TAvMediaWriter::FramesWritten() const { return FImpl->Frames; }

std::string TAvMediaWriter::OutputName(int64_t index) const {
    return FImpl->Kind == TOutputKind::Sequence ? FormatNumberPattern(FImpl->Name, index)
                                                : FImpl->Name;
}

void TAvMediaWriter::WriteFrame(const uint8_t* src, std::ptrdiff_t srcStride, int64_t start) {
    (void)start;
    FImpl->Write(src, srcStride);
}

void TAvMediaWriter::Close() { FImpl->Close(); }

void TAvMediaWriter::Abort() noexcept {
    if (FImpl) FImpl->Discard();
}

}  // namespace pixora
