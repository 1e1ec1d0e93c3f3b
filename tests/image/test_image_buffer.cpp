// Frames: sharing and copy-on-write between handles, row layout and alignment, creation from
// sizes, caller memory and generic payloads, fills in every format, alpha planes, in-place
// conversion, and the pools that make steady-state frames free of heap allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/image/PXImageBuffer.h"
#include "support/ReferenceImage.h"

namespace pixora {
namespace {

using testref::Capture;
using testref::RandomRaw;
using testref::RowBytes;
using testref::SameImage;
using testref::ToFrame;

constexpr TPXVideoFormat KAllFormats[] = {vfRGB24, vfRGBA32, vfUYVY, vfGray8, vfGray16};

// Runs f and checks that it raises E with a message containing every one of the parts.
template <class E, class F>
void ExpectError(F&& f, std::initializer_list<const char*> parts) {
    try {
        f();
        ADD_FAILURE() << "no exception raised";
    } catch (const E& e) {
        const std::string message = e.what();
        for (const char* part : parts) EXPECT_NE(message.find(part), std::string::npos) << "message: " << message;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "raised the wrong exception type: " << e.what();
    }
}

TPXTimeStamp Stamp(int64_t start) { return {true, start, start + 400000}; }

IPXImageBuffer RandomFrame(int w, int h, TPXVideoFormat format, uint64_t seed) {
    return ToFrame(RandomRaw(w, h, format, seed));
}

// ---- Sharing between handles -------------------------------------------------------------------

TEST(ImageBufferSharing, HandleCopyIsTheSameFrame) {
    IPXImageBuffer a = RandomFrame(5, 4, vfRGB24, 1);
    IPXImageBuffer b = a;
    EXPECT_EQ(a.Get(), b.Get());
    b->SetTimeStamp(Stamp(7));
    EXPECT_EQ(a->GetTimeStamp(), Stamp(7));
}

TEST(ImageBufferSharing, AssignTakesSizeFormatTimeStampAndSharesPixels) {
    IPXImageBuffer source = RandomFrame(37, 23, vfRGBA32, 2);
    source->SetTimeStamp(Stamp(1234));
    IPXImageBuffer target = RandomFrame(3, 2, vfGray16, 3);
    target->Assign(source);
    EXPECT_EQ(target->GetWidth(), 37);
    EXPECT_EQ(target->GetHeight(), 23);
    EXPECT_EQ(target->GetFormat(), vfRGBA32);
    EXPECT_EQ(target->GetLineSize(), source->GetLineSize());
    EXPECT_EQ(target->GetTimeStamp(), Stamp(1234));
    EXPECT_EQ(target->GetReadPointer(), source->GetReadPointer());
    EXPECT_TRUE(target->IsShared());
    EXPECT_TRUE(SameImage(Capture(source), target));
}

TEST(ImageBufferSharing, AssignToItselfKeepsThePixels) {
    IPXImageBuffer frame = RandomFrame(9, 3, vfGray8, 4);
    const auto before = Capture(frame);
    frame->Assign(*frame);
    EXPECT_FALSE(frame->IsShared());
    EXPECT_TRUE(SameImage(before, frame));
}

TEST(ImageBufferSharing, CreateCopySharesUntilWritten) {
    IPXImageBuffer original = RandomFrame(37, 23, vfRGB24, 5);
    original->SetTimeStamp(Stamp(99));
    const auto pixels = Capture(original);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
    EXPECT_NE(copy.Get(), original.Get());
    EXPECT_EQ(copy->GetReadPointer(), original->GetReadPointer());
    EXPECT_EQ(copy->GetTimeStamp(), Stamp(99));
    EXPECT_TRUE(original->IsShared());

    copy->GetModifyPointer()[0] ^= 0xFF;
    EXPECT_NE(copy->GetReadPointer(), original->GetReadPointer());
    EXPECT_FALSE(original->IsShared());
    EXPECT_FALSE(copy->IsShared());
    EXPECT_TRUE(SameImage(pixels, original));
}

TEST(ImageBufferSharing, CreateCopyOfNothingRaises) {
    ExpectError<EPXError>([] { TPXImageBuffer::CreateCopy(IPXImageBuffer()); }, {"CreateCopy"});
}

TEST(ImageBufferSharing, WritePointerOnSharedBlockLeavesTheOtherHandleUnchanged) {
    for (bool writeThroughCopy : {true, false}) {
        SCOPED_TRACE(writeThroughCopy ? "writing through the copy" : "writing through the original");
        IPXImageBuffer original = RandomFrame(21, 7, vfRGBA32, 6);
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
        IPXImageBuffer& writer = writeThroughCopy ? copy : original;
        IPXImageBuffer& reader = writeThroughCopy ? original : copy;
        const auto pixels = Capture(reader);
        const uint8_t* shared = reader->GetReadPointer();

        uint8_t* data = writer->GetWritePointer();
        EXPECT_NE(data, shared);
        EXPECT_EQ(reader->GetReadPointer(), shared);
        for (int y = 0; y < writer->GetHeight(); ++y)
            std::memset(data + y * writer->GetLineSize(), 0x5A, std::size_t(RowBytes(vfRGBA32, 21)));
        EXPECT_TRUE(SameImage(pixels, reader));
        EXPECT_EQ(writer->GetWidth(), 21);
        EXPECT_EQ(writer->GetHeight(), 7);
        EXPECT_EQ(writer->GetFormat(), vfRGBA32);
    }
}

TEST(ImageBufferSharing, ModifyPointerKeepsTheContentAndDetaches) {
    for (TPXVideoFormat format : KAllFormats) {
        SCOPED_TRACE(std::string(FormatName(format)));
        IPXImageBuffer original = RandomFrame(13, 5, format, 7);
        const auto pixels = Capture(original);
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
        uint8_t* data = copy->GetModifyPointer();
        EXPECT_NE(data, original->GetReadPointer());
        EXPECT_TRUE(SameImage(pixels, copy));
        data[2 * copy->GetLineSize() + 1] ^= 0x81;
        EXPECT_TRUE(SameImage(pixels, original));
        EXPECT_FALSE(SameImage(pixels, copy));
    }
}

TEST(ImageBufferSharing, UnsharedAccessKeepsTheBlockAndItsContent) {
    IPXImageBuffer frame = RandomFrame(37, 23, vfGray16, 8);
    const auto pixels = Capture(frame);
    const uint8_t* block = frame->GetReadPointer();
    EXPECT_FALSE(frame->IsShared());
    EXPECT_EQ(frame->GetWritePointer(), block);
    EXPECT_TRUE(SameImage(pixels, frame));
    EXPECT_EQ(frame->GetModifyPointer(), block);
    EXPECT_TRUE(SameImage(pixels, frame));

    // Once the only other sharer is gone, the block is unshared again.
    {
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
        EXPECT_TRUE(frame->IsShared());
    }
    EXPECT_FALSE(frame->IsShared());
    EXPECT_EQ(frame->GetWritePointer(), block);
    EXPECT_TRUE(SameImage(pixels, frame));
}

TEST(ImageBufferSharing, BlockOutlivesTheFrameItCameFrom) {
    IPXImageBuffer original = RandomFrame(64, 3, vfRGB24, 9);
    const auto pixels = Capture(original);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
    original.Reset();
    // A frame of the same size may now reuse pooled memory; the copy's pixels must stay.
    IPXImageBuffer other = TPXImageBuffer::CreateSize(64, 3, vfRGB24);
    other->FillColor(KDRGB(1, 2, 3));
    EXPECT_TRUE(SameImage(pixels, copy));
    EXPECT_FALSE(copy->IsShared());
}

// ---- Layout ------------------------------------------------------------------------------------

TEST(ImageBufferLayout, RowsAndDataAre64ByteAligned) {
    for (TPXVideoFormat format : KAllFormats)
        for (int width : {1, 2, 3, 15, 16, 21, 22, 63, 64, 65, 100, 1920}) {
            SCOPED_TRACE(std::string(FormatName(format)) + " width " + std::to_string(width));
            IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, 3, format);
            const int rowBytes = RowBytes(format, width);
            EXPECT_EQ(frame->GetLineSize() % 64, 0);
            EXPECT_GE(frame->GetLineSize(), rowBytes);
            EXPECT_LT(frame->GetLineSize(), rowBytes + 64);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame->GetDataPointer()) % 64, 0u);
            EXPECT_EQ(frame->GetReadPointer(), frame->GetDataPointer());
            EXPECT_GE(frame->GetDataSize(), std::size_t(frame->GetLineSize()) * 3);
            EXPECT_EQ(frame->GetSize(), (TSize{width, 3}));
            EXPECT_EQ(frame->GetBitsPerPixel(), format == vfRGB24    ? 24
                                                : format == vfRGBA32 ? 32
                                                : format == vfGray8  ? 8
                                                                     : 16);
            // Every row can be written up to its last pixel byte and read back.
            const auto raw = RandomRaw(width, 3, format, uint64_t(width) * 31 + format);
            EXPECT_TRUE(SameImage(raw, ToFrame(raw)));
        }
}

TEST(ImageBufferLayout, OnePixelFramesInEveryFormat) {
    for (TPXVideoFormat format : KAllFormats) {
        SCOPED_TRACE(std::string(FormatName(format)));
        const auto raw = RandomRaw(1, 1, format, 11 + format);
        IPXImageBuffer frame = ToFrame(raw);
        EXPECT_EQ(frame->GetWidth(), 1);
        EXPECT_EQ(frame->GetHeight(), 1);
        EXPECT_EQ(frame->GetLineSize(), 64);
        EXPECT_TRUE(SameImage(raw, frame));
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
        copy->Clear();
        EXPECT_TRUE(SameImage(raw, frame));
    }
}

TEST(ImageBufferLayout, SetSizeTakesTheSizeAndKeepsTheFormat) {
    IPXImageBuffer frame = RandomFrame(4, 4, vfRGBA32, 12);
    frame->SetSize(37, 23);
    EXPECT_EQ(frame->GetSize(), (TSize{37, 23}));
    EXPECT_EQ(frame->GetFormat(), vfRGBA32);
    EXPECT_EQ(frame->GetLineSize(), 192);
    EXPECT_GE(frame->GetDataSize(), std::size_t(192) * 23);
    const auto raw = RandomRaw(37, 23, vfRGBA32, 13);
    // The whole new size is writable.
    uint8_t* data = frame->GetWritePointer();
    for (int y = 0; y < 23; ++y) std::memcpy(data + y * frame->GetLineSize(), raw.Row(y), std::size_t(raw.Stride()));
    EXPECT_TRUE(SameImage(raw, frame));
}

TEST(ImageBufferLayout, SetSizeOfASharedFrameLeavesTheOtherAlone) {
    IPXImageBuffer original = RandomFrame(8, 8, vfGray8, 14);
    const auto pixels = Capture(original);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
    copy->SetSize(100, 50);
    copy->FillColor(KDRGB(255, 255, 255));
    EXPECT_TRUE(SameImage(pixels, original));
    EXPECT_EQ(copy->GetSize(), (TSize{100, 50}));
}

TEST(ImageBufferLayout, SetSizeRefusesEmptySizes) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 4, vfRGB24);
    ExpectError<ERangeError>([&] { frame->SetSize(0, 3); }, {"0x3"});
    ExpectError<ERangeError>([&] { frame->SetSize(3, -2); }, {"3x-2"});
    EXPECT_EQ(frame->GetSize(), (TSize{4, 4}));
}

// ---- Creation ----------------------------------------------------------------------------------

TEST(ImageBufferCreate, ZeroOrNegativeSizeRaisesRangeError) {
    for (TPXVideoFormat format : KAllFormats) {
        ExpectError<ERangeError>([&] { TPXImageBuffer::CreateSize(0, 5, format); }, {"frame size", "0x5", "at least 1"});
        ExpectError<ERangeError>([&] { TPXImageBuffer::CreateSize(5, 0, format); }, {"5x0"});
        ExpectError<ERangeError>([&] { TPXImageBuffer::CreateSize(-1, 5, format); }, {"-1x5"});
        ExpectError<ERangeError>([&] { TPXImageBuffer::CreateSize(7, -3, format); }, {"7x-3"});
        ExpectError<ERangeError>([&] { TPXImageBuffer::CreateHeader(0, 0, format); }, {"0x0"});
    }
}

TEST(ImageBufferCreate, HugeSizeRaisesRangeError) {
    ExpectError<ERangeError>([] { TPXImageBuffer::CreateSize(1 << 20, 1 << 20, vfRGBA32); }, {"frame size"});
}

TEST(ImageBufferCreate, UnknownFormatRaises) {
    ExpectError<EPXError>([] { TPXImageBuffer::CreateSize(4, 4, TPXVideoFormat(2)); }, {"Unsupported format", "2"});
    ExpectError<EPXError>([] { TPXImageBuffer::CreateSize(4, 4, TPXVideoFormat(15)); }, {"Unsupported format", "15"});
}

TEST(ImageBufferCreate, CreateDataReadsRowsAtACallerStride) {
    for (TPXVideoFormat format : KAllFormats)
        for (int width : {1, 5, 37}) {
            SCOPED_TRACE(std::string(FormatName(format)) + " width " + std::to_string(width));
            const int height = 6;
            const auto raw = RandomRaw(width, height, format, 15 + width);
            const int stride = raw.Stride() + 13;
            // Caller memory with junk in the padding of every row.
            std::vector<uint8_t> memory(std::size_t(stride) * height, 0xEE);
            for (int y = 0; y < height; ++y) std::memcpy(memory.data() + y * stride, raw.Row(y), std::size_t(raw.Stride()));
            IPXImageBuffer frame = TPXImageBuffer::CreateData(memory.data(), width, height, format, stride);
            EXPECT_EQ(frame->GetFormat(), format);
            EXPECT_TRUE(SameImage(raw, frame));
            EXPECT_FALSE(frame->IsShared());
        }
}

TEST(ImageBufferCreate, CreateDataWithZeroStrideReadsTightRows) {
    const auto raw = RandomRaw(37, 23, vfRGB24, 16);
    EXPECT_TRUE(SameImage(raw, TPXImageBuffer::CreateData(raw.Bytes.data(), 37, 23, vfRGB24)));
    EXPECT_TRUE(SameImage(raw, TPXImageBuffer::CreateData(raw.Bytes.data(), 37, 23, vfRGB24, 0)));
}

TEST(ImageBufferCreate, CreateDataWithNegativeStrideReadsBottomUpRows) {
    const auto raw = RandomRaw(9, 4, vfGray16, 17);
    std::vector<uint8_t> flipped(raw.Bytes.size());
    for (int y = 0; y < 4; ++y) std::memcpy(flipped.data() + (3 - y) * raw.Stride(), raw.Row(y), std::size_t(raw.Stride()));
    const uint8_t* lastRow = flipped.data() + 3 * raw.Stride();
    EXPECT_TRUE(SameImage(raw, TPXImageBuffer::CreateData(lastRow, 9, 4, vfGray16, -raw.Stride())));
}

TEST(ImageBufferCreate, CreateDataRefusesBadInput) {
    ExpectError<EPXError>([] { TPXImageBuffer::CreateData(nullptr, 4, 4, vfRGB24); }, {"no source pixels"});
    std::vector<uint8_t> memory(64);
    ExpectError<ERangeError>([&] { TPXImageBuffer::CreateData(memory.data(), 0, 4, vfGray8); }, {"0x4"});
    // A stride shorter than a row would read rows into each other and past the caller's memory.
    ExpectError<ERangeError>([&] { TPXImageBuffer::CreateData(memory.data(), 4, 4, vfRGB24, 5); }, {"stride", "5"});
    ExpectError<ERangeError>([&] { TPXImageBuffer::CreateData(memory.data(), 4, 4, vfGray8, -3); }, {"stride", "-3"});
}

TEST(ImageBufferCreate, CreateUniversalSeesTheSameFrame) {
    IPXImageBuffer frame = RandomFrame(6, 2, vfRGBA32, 18);
    IQNData payload = frame;
    IPXImageBuffer back = TPXImageBuffer::CreateUniversal(payload);
    EXPECT_EQ(back.Get(), frame.Get());
}

TEST(ImageBufferCreate, CreateUniversalOfOtherDataRaises) {
    ExpectError<EPXError>([] { TPXImageBuffer::CreateUniversal(IQNData(TQNText::Create("hello"))); },
                          {"Expected a video frame", "text"});
    ExpectError<EPXError>([] { TPXImageBuffer::CreateUniversal(IQNData(TQNDataBlock::Create({1, 2, 3}))); },
                          {"Expected a video frame", "data block"});
    ExpectError<EPXError>([] { TPXImageBuffer::CreateUniversal(IQNData(TQNRealBuffer::Create({1.0}))); },
                          {"Expected a video frame", "real"});
    ExpectError<EPXError>([] { TPXImageBuffer::CreateUniversal(IQNData()); }, {"Expected a video frame", "no data"});
}

TEST(ImageBufferCreate, HeaderAnnouncesSizeAndFormatWithoutPixels) {
    IPXImageBuffer header = TPXImageBuffer::CreateHeader(37, 23, vfGray16);
    EXPECT_EQ(header->GetSize(), (TSize{37, 23}));
    EXPECT_EQ(header->GetFormat(), vfGray16);
    EXPECT_EQ(header->GetDataPointer(), nullptr);
    EXPECT_EQ(header->GetDataSize(), 0u);
    ExpectError<EPXError>([&] { header->GetWritePointer(); }, {"no pixels"});
    ExpectError<EPXError>([&] { header->GetModifyPointer(); }, {"no pixels"});
}

// ---- Fills -------------------------------------------------------------------------------------

// BT.601 luma of an RGB colour, rounded half up in integers.
int Luma(int r, int g, int b) { return (299 * r + 587 * g + 114 * b + 500) / 1000; }

struct TFillCase {
    TPXVideoFormat Format;
    int Width;
};

class ImageBufferFillColor : public testing::TestWithParam<TFillCase> {};

TEST_P(ImageBufferFillColor, StoresTheColourInEveryPixel) {
    const auto [format, width] = GetParam();
    const int height = 3;
    const TColor colours[] = {KDRGB(0, 0, 0), KDRGB(255, 255, 255), KDRGB(10, 200, 30), 0xC8123456u, 0x01FF0080u};
    for (TColor colour : colours) {
        SCOPED_TRACE("colour " + std::to_string(colour));
        const int r = KDGetRValue(colour), g = KDGetGValue(colour), b = KDGetBValue(colour), a = colour >> 24;
        IPXImageBuffer frame = RandomFrame(width, height, format, colour);
        frame->FillColor(colour);
        const auto raw = Capture(frame);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = raw.Row(y);
            for (int x = 0; x < width; ++x) {
                SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
                switch (format) {
                case vfRGB24:
                    ASSERT_EQ(row[x * 3 + 0], b);
                    ASSERT_EQ(row[x * 3 + 1], g);
                    ASSERT_EQ(row[x * 3 + 2], r);
                    break;
                case vfRGBA32:
                    ASSERT_EQ(row[x * 4 + 0], b);
                    ASSERT_EQ(row[x * 4 + 1], g);
                    ASSERT_EQ(row[x * 4 + 2], r);
                    ASSERT_EQ(row[x * 4 + 3], a);
                    break;
                case vfGray8: ASSERT_EQ(row[x], Luma(r, g, b)); break;
                case vfGray16: ASSERT_EQ(raw.Sample(x, y, 0), Luma(r, g, b) * 257); break;
                default: {
                    // Limited-range BT.601: U, Y, V, Y per pixel pair; both lumas alike for one colour.
                    const int pair = x / 2 * 4;
                    const double lumaY = 16.0 + 219.0 * (0.299 * r + 0.587 * g + 0.114 * b) / 255.0;
                    const double cb = 128.0 + 224.0 * (-0.168736 * r - 0.331264 * g + 0.5 * b) / 255.0;
                    const double cr = 128.0 + 224.0 * (0.5 * r - 0.418688 * g - 0.081312 * b) / 255.0;
                    ASSERT_NEAR(row[pair + 0], cb, 1.0);
                    ASSERT_NEAR(row[pair + 1 + 2 * (x % 2)], lumaY, 1.0);
                    ASSERT_NEAR(row[pair + 2], cr, 1.0);
                    ASSERT_EQ(row[pair + 1], row[pair + 3]);
                    break;
                }
                }
            }
        }
    }
}

std::string FillCaseName(const testing::TestParamInfo<TFillCase>& info) {
    return std::string(FormatName(info.param.Format)) + "_w" + std::to_string(info.param.Width);
}

INSTANTIATE_TEST_SUITE_P(FormatsAndWidths, ImageBufferFillColor,
                         testing::Values(TFillCase{vfRGB24, 1}, TFillCase{vfRGB24, 37}, TFillCase{vfRGBA32, 1},
                                         TFillCase{vfRGBA32, 37}, TFillCase{vfGray8, 1}, TFillCase{vfGray8, 64},
                                         TFillCase{vfGray16, 1}, TFillCase{vfGray16, 37}, TFillCase{vfUYVY, 1},
                                         TFillCase{vfUYVY, 2}, TFillCase{vfUYVY, 37}),
                         FillCaseName);

TEST(ImageBufferFill, GreyColoursInUYVYHaveNeutralChroma) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 1, vfUYVY);
    frame->FillColor(KDRGB(0, 0, 0));
    const uint8_t black[] = {128, 16, 128, 16, 128, 16, 128, 16};
    EXPECT_EQ(0, std::memcmp(frame->GetReadPointer(), black, sizeof black));
    frame->FillColor(KDRGB(255, 255, 255));
    const uint8_t white[] = {128, 235, 128, 235, 128, 235, 128, 235};
    EXPECT_EQ(0, std::memcmp(frame->GetReadPointer(), white, sizeof white));
}

TEST(ImageBufferFill, FillColorOfASharedFrameLeavesTheOtherAlone) {
    IPXImageBuffer original = RandomFrame(37, 23, vfRGB24, 19);
    const auto pixels = Capture(original);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(original);
    copy->FillColorEx(KDRGB(1, 2, 3), 0);
    EXPECT_TRUE(SameImage(pixels, original));
    EXPECT_EQ(copy->GetReadPointer()[0], 3);
}

TEST(ImageBufferFill, FillChannel4SetsOnlyTheAlpha) {
    const auto raw = RandomRaw(37, 5, vfRGBA32, 20);
    IPXImageBuffer frame = ToFrame(raw);
    IPXImageBuffer sibling = TPXImageBuffer::CreateCopy(frame);
    frame->FillChannel4(0x42);
    auto expected = raw;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) expected.SetSample(x, y, 3, 0x42);
    EXPECT_TRUE(SameImage(expected, frame));
    EXPECT_TRUE(SameImage(raw, sibling));
}

TEST(ImageBufferFill, FillChannel4LeavesFramesWithoutAFourthChannelAlone) {
    for (TPXVideoFormat format : {vfRGB24, vfGray8, vfGray16, vfUYVY}) {
        SCOPED_TRACE(std::string(FormatName(format)));
        const auto raw = RandomRaw(7, 3, format, 21);
        IPXImageBuffer frame = ToFrame(raw);
        frame->FillChannel4(0);
        EXPECT_TRUE(SameImage(raw, frame));
    }
}

TEST(ImageBufferFill, ClearZeroesEverySample) {
    for (TPXVideoFormat format : KAllFormats) {
        SCOPED_TRACE(std::string(FormatName(format)));
        const auto raw = RandomRaw(37, 23, format, 22);
        IPXImageBuffer frame = ToFrame(raw);
        IPXImageBuffer sibling = TPXImageBuffer::CreateCopy(frame);
        frame->Clear();
        EXPECT_TRUE(SameImage(testref::MakeRaw(37, 23, format), frame));
        EXPECT_TRUE(SameImage(raw, sibling));
    }
}

TEST(ImageBufferFill, SetAlphaFromPlaneReadsAPaddedPlane) {
    const auto raw = RandomRaw(37, 23, vfRGBA32, 23);
    const int planeStride = 41;
    std::vector<uint8_t> plane(std::size_t(planeStride) * 23, 0xEE);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) plane[std::size_t(y * planeStride + x)] = uint8_t(x * 7 + y * 3);
    IPXImageBuffer frame = ToFrame(raw);
    IPXImageBuffer sibling = TPXImageBuffer::CreateCopy(frame);
    frame->SetAlphaFromPlane(plane.data(), planeStride);
    auto expected = raw;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) expected.SetSample(x, y, 3, uint8_t(x * 7 + y * 3));
    EXPECT_TRUE(SameImage(expected, frame));
    EXPECT_TRUE(SameImage(raw, sibling));
}

TEST(ImageBufferFill, SetAlphaFromPlaneRefusesBadInput) {
    std::vector<uint8_t> plane(64, 1);
    for (TPXVideoFormat format : {vfRGB24, vfGray8, vfGray16, vfUYVY}) {
        IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 4, format);
        ExpectError<EPXError>([&] { frame->SetAlphaFromPlane(plane.data(), 4); }, {"Unsupported format", "vfRGBA32"});
    }
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 4, vfRGBA32);
    ExpectError<EPXError>([&] { frame->SetAlphaFromPlane(nullptr, 4); }, {"no alpha plane"});
}

// ---- Conversion in place -----------------------------------------------------------------------

TEST(ImageBufferConvert, ToGray8TakesTheLumaAndKeepsSizeAndTimeStamp) {
    const auto raw = RandomRaw(37, 23, vfRGB24, 24);
    IPXImageBuffer frame = ToFrame(raw);
    frame->SetTimeStamp(Stamp(555));
    IPXImageBuffer sibling = TPXImageBuffer::CreateCopy(frame);
    frame->ConvertToFormat(vfGray8);
    EXPECT_EQ(frame->GetFormat(), vfGray8);
    EXPECT_EQ(frame->GetSize(), (TSize{37, 23}));
    EXPECT_EQ(frame->GetTimeStamp(), Stamp(555));
    auto expected = testref::MakeRaw(37, 23, vfGray8);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            expected.SetSample(x, y, 0, Luma(raw.Sample(x, y, 2), raw.Sample(x, y, 1), raw.Sample(x, y, 0)));
    EXPECT_TRUE(SameImage(expected, frame));
    EXPECT_TRUE(SameImage(raw, sibling));
    EXPECT_EQ(sibling->GetTimeStamp(), Stamp(555));
}

TEST(ImageBufferConvert, ToRGBA32AddsOpaqueAlphaAndKeepsTimeStamp) {
    const auto raw = RandomRaw(5, 3, vfRGB24, 25);
    IPXImageBuffer frame = ToFrame(raw);
    frame->SetTimeStamp(Stamp(-40));
    frame->ConvertToFormat(vfRGBA32);
    EXPECT_EQ(frame->GetTimeStamp(), Stamp(-40));
    auto expected = testref::MakeRaw(5, 3, vfRGBA32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            for (int c = 0; c < 3; ++c) expected.SetSample(x, y, c, raw.Sample(x, y, c));
            expected.SetSample(x, y, 3, 255);
        }
    EXPECT_TRUE(SameImage(expected, frame));
}

TEST(ImageBufferConvert, EveryPairOfFormatsKeepsSizeAndTimeStamp) {
    for (TPXVideoFormat from : KAllFormats)
        for (TPXVideoFormat to : KAllFormats) {
            SCOPED_TRACE(std::string(FormatName(from)) + " -> " + std::string(FormatName(to)));
            IPXImageBuffer frame = RandomFrame(7, 3, from, 26);
            frame->SetTimeStamp(Stamp(from * 100 + to));
            frame->ConvertToFormat(to);
            EXPECT_EQ(frame->GetFormat(), to);
            EXPECT_EQ(frame->GetSize(), (TSize{7, 3}));
            EXPECT_EQ(frame->GetLineSize(), TPXImageBuffer::LineSizeFor(7, to));
            EXPECT_EQ(frame->GetTimeStamp(), Stamp(from * 100 + to));
        }
}

TEST(ImageBufferConvert, SameFormatKeepsTheBlock) {
    IPXImageBuffer frame = RandomFrame(8, 2, vfGray16, 27);
    const auto pixels = Capture(frame);
    const uint8_t* block = frame->GetReadPointer();
    frame->ConvertToFormat(vfGray16);
    EXPECT_EQ(frame->GetReadPointer(), block);
    EXPECT_TRUE(SameImage(pixels, frame));
}

// ---- Pools -------------------------------------------------------------------------------------

TEST(ImageBufferPool, SteadyStateTakesFramesAndBlocksFromThePool) {
    TrimImagePool();
    // Warm-up: one frame object and one block of this size go through the pools.
    for (int i = 0; i < 3; ++i) {
        IPXImageBuffer frame = TPXImageBuffer::CreateSize(333, 77, vfRGB24);
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
        copy->GetWritePointer();
    }
    const TPXPoolStats before = GetImagePoolStats();
    for (int i = 0; i < 50; ++i) {
        IPXImageBuffer frame = TPXImageBuffer::CreateSize(333, 77, vfRGB24);
        frame->GetWritePointer()[0] = uint8_t(i);
        IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
        copy->GetWritePointer()[1] = uint8_t(i);  // detaches: a second block
    }
    const TPXPoolStats after = GetImagePoolStats();
    EXPECT_EQ(after.BlockAllocations, before.BlockAllocations);
    EXPECT_EQ(after.FrameAllocations, before.FrameAllocations);
    EXPECT_GE(after.BlockReuses, before.BlockReuses + 100);
}

TEST(ImageBufferPool, ANewFrameSizeIsPooledAfterABurstOfAnotherSize) {
    TrimImagePool();
    {
        // Many frames alive at once (a deep queue), then all released.
        std::vector<IPXImageBuffer> burst;
        for (int i = 0; i < 200; ++i) burst.push_back(TPXImageBuffer::CreateSize(16, 16, vfGray8));
    }
    for (int i = 0; i < 3; ++i) TPXImageBuffer::CreateSize(640, 480, vfRGB24);
    const TPXPoolStats before = GetImagePoolStats();
    for (int i = 0; i < 20; ++i) TPXImageBuffer::CreateSize(640, 480, vfRGB24)->GetWritePointer()[0] = 1;
    const TPXPoolStats after = GetImagePoolStats();
    EXPECT_EQ(after.BlockAllocations, before.BlockAllocations);
    EXPECT_GE(after.BlockReuses, before.BlockReuses + 20);
    TrimImagePool();
}

TEST(ImageBufferPool, ARecycledFrameStartsWithoutTimeStamp) {
    TrimImagePool();
    {
        IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 4, vfGray8);
        frame->SetTimeStamp(Stamp(77));
    }
    IPXImageBuffer next = TPXImageBuffer::CreateSize(4, 4, vfGray8);
    EXPECT_FALSE(next->GetTimeStamp().Valid);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(next);
    EXPECT_FALSE(copy->GetTimeStamp().Valid);
}

TEST(ImageBufferPool, TrimKeepsLiveFramesIntact) {
    const auto raw = RandomRaw(37, 23, vfRGBA32, 28);
    IPXImageBuffer frame = ToFrame(raw);
    IPXImageBuffer copy = TPXImageBuffer::CreateCopy(frame);
    TrimImagePool();
    EXPECT_TRUE(SameImage(raw, frame));
    EXPECT_TRUE(SameImage(raw, copy));
}

}  // namespace
}  // namespace pixora
