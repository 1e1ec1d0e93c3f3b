// Apply alpha: colour from the first input, alpha from the second (its alpha byte or its grey
// sample), against a per-pixel reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "platform/kernels/Combine.h"

namespace pixora {
namespace {

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = uint8_t(rng());
    return v;
}

TEST(ApplyAlphaKernel, ColourFromInputOneAlphaFromTheAlphaInputInBothAlphaFormats) {
    const int w = 37, h = 23, x0 = 2, y0 = 1, rw = 33, rh = 20;
    for (int alphaBytes : {4, 1}) {
        const std::ptrdiff_t cs = w * 4 + 8, as = w * alphaBytes + 3, ds = w * 4 + 12;
        const auto colour = RandomBytes(std::size_t(cs * h), 1), alpha = RandomBytes(std::size_t(as * h), 2);
        const auto before = RandomBytes(std::size_t(ds * h), 3);
        auto dst = before;
        kernels::ApplyAlphaOp(colour.data() + y0 * cs + x0 * 4, cs, alpha.data() + y0 * as + x0 * alphaBytes,
                              alphaBytes, as, dst.data() + y0 * ds + x0 * 4, ds, {rw, rh});
        for (int y = 0; y < h; ++y)
            for (std::ptrdiff_t i = 0; i < ds; ++i) {
                const int x = int(i / 4), c = int(i % 4);
                const bool inside = i < w * 4 && x >= x0 && x < x0 + rw && y >= y0 && y < y0 + rh;
                uint8_t want = before[std::size_t(y * ds + i)];
                if (inside)
                    want = c < 3 ? colour[std::size_t(y * cs + x * 4 + c)]
                                 : alpha[std::size_t(y * as + x * alphaBytes + (alphaBytes - 1))];
                ASSERT_EQ(dst[std::size_t(y * ds + i)], want) << "alpha bytes " << alphaBytes << " at " << x << "," << y
                                                              << " channel " << c;
            }
    }
}

TEST(ApplyAlphaKernel, UnsupportedAlphaPixelSizeWritesNothing) {
    const auto colour = RandomBytes(64, 4), alpha = RandomBytes(64, 5), before = RandomBytes(64, 6);
    auto dst = before;
    kernels::ApplyAlphaOp(colour.data(), 16, alpha.data(), 3, 16, dst.data(), 16, {4, 4});
    kernels::ApplyAlphaOp(colour.data(), 16, nullptr, 4, 16, dst.data(), 16, {4, 4});
    EXPECT_EQ(dst, before);
}

}  // namespace
}  // namespace pixora

// ---- The component ----------------------------------------------------------------------------

#include "filters/combine/PXApplyAlpha.h"
#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {
namespace {

IPXImageBuffer Frame(int w, int h, TPXVideoFormat format, uint32_t seed) {
    IPXImageBuffer f = TPXImageBuffer::CreateSize(w, h, format);
    std::mt19937 rng(seed);
    uint8_t* p = f->GetWritePointer();
    for (std::size_t i = 0; i < f->GetDataSize(); ++i) p[i] = uint8_t(rng());
    return f;
}

TEST(ApplyAlpha, OutputIsRgbaWithColourFromInput1AndAlphaFromInput2) {
    TPXApplyAlpha aa;
    const IPXImageBuffer colour = Frame(9, 5, vfRGBA32, 1);
    for (TPXVideoFormat alphaFormat : {vfGray8, vfRGBA32}) {
        const IPXImageBuffer alpha = Frame(9, 5, alphaFormat, 2);
        const IPXImageBuffer out = aa.CombineFrames(colour, alpha);
        ASSERT_EQ(out->GetFormat(), vfRGBA32);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x) {
                const uint8_t* o = out->GetReadPointer() + y * out->GetLineSize() + x * 4;
                const uint8_t* c = colour->GetReadPointer() + y * colour->GetLineSize() + x * 4;
                const uint8_t a = alpha->GetReadPointer()[y * alpha->GetLineSize() +
                                                         (alphaFormat == vfRGBA32 ? x * 4 + 3 : x)];
                ASSERT_EQ(o[0], c[0]);
                ASSERT_EQ(o[1], c[1]);
                ASSERT_EQ(o[2], c[2]);
                ASSERT_EQ(o[3], a) << "alpha from " << int(alphaFormat) << " at " << x << "," << y;
            }
    }
}

TEST(ApplyAlpha, ColourInputOfAnotherFormatIsConvertedFirst) {
    TPXApplyAlpha aa;
    IPXImageBuffer colour = TPXImageBuffer::CreateSize(3, 2, vfRGB24);
    uint8_t* p = colour->GetWritePointer();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) p[y * colour->GetLineSize() + x * 3] = 11, p[y * colour->GetLineSize() + x * 3 + 1] = 22,
                                    p[y * colour->GetLineSize() + x * 3 + 2] = 33;
    IPXImageBuffer alpha = TPXImageBuffer::CreateSize(3, 2, vfGray8);
    alpha->FillColor(0);
    std::memset(alpha->GetWritePointer(), 77, std::size_t(alpha->GetLineSize()) * 2);
    const IPXImageBuffer out = aa.CombineFrames(colour, alpha);
    ASSERT_EQ(out->GetFormat(), vfRGBA32);
    const uint8_t* o = out->GetReadPointer();
    EXPECT_EQ(o[0], 11);
    EXPECT_EQ(o[1], 22);
    EXPECT_EQ(o[2], 33);
    EXPECT_EQ(o[3], 77);
}

TEST(ApplyAlpha, ThroughThePinsTheStreamIsRgbaWhateverTheInputsAre) {
    std::vector<TLRStartFrameOperation> starts;
    std::vector<IPXImageBuffer> frames;
    std::mutex lock;
    TLRSinkPin out(nullptr, "Out", TPinDataType::Video, [&](TLRSinkPin&, const ILRNotifyOperation& op) {
        std::lock_guard guard(lock);
        if (auto* start = As<TLRStartFrameOperation>(op)) starts.push_back(*start);
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
        return true;
    });
    const auto ignore = [](TLRSourcePin&, const ILRNotifyOperation&) { return true; };
    TLRSourcePin in1(nullptr, "In1", TPinDataType::Video, ignore), in2(nullptr, "In2", TPinDataType::Video, ignore);
    TPXApplyAlpha aa;
    in1.Connect(static_cast<TLRSinkPin&>(aa.FindPin("InputPin")));
    in2.Connect(static_cast<TLRSinkPin&>(aa.FindPin("AlphaInputPin")));
    aa.OutputPin.Connect(out);
    in1.Notify(TLRStartFrameOperation::Make(6, 4, vfRGB24, 400000));
    in2.Notify(TLRStartFrameOperation::Make(6, 4, vfGray8, 400000));
    IPXImageBuffer colour = Frame(6, 4, vfRGB24, 7), alpha = Frame(6, 4, vfGray8, 8);
    colour->SetTimeStamp({true, 0, 400000});
    alpha->SetTimeStamp({true, 0, 400000});
    in1.Notify(TLRSuppliedBufferOperation::Make(colour));
    in2.Notify(TLRSuppliedBufferOperation::Make(alpha));
    aa.WaitIdle();
    std::lock_guard guard(lock);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.back().Format, vfRGBA32);
    EXPECT_EQ(frames[0]->GetFormat(), vfRGBA32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint8_t* o = frames[0]->GetReadPointer() + y * frames[0]->GetLineSize() + x * 4;
            const uint8_t* c = colour->GetReadPointer() + y * colour->GetLineSize() + x * 3;
            EXPECT_EQ(o[0], c[0]);
            EXPECT_EQ(o[2], c[2]);
            EXPECT_EQ(o[3], alpha->GetReadPointer()[y * alpha->GetLineSize() + x]);
        }
}

TEST(ApplyAlpha, IsRegisteredAsAFilter) {
    RegisterPackage();
    const TComponentClass* cls = TRegistry::Instance().Find("TPXApplyAlpha");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->DisplayName, "Combine Video with Alpha Transparency");
    EXPECT_EQ(cls->Categories, std::vector<std::string>{"TPixoraFiltersToolbarCategory"});
    TComponentPtr c = TRegistry::Instance().Create("TPXApplyAlpha");
    c->FindPin("InputPin");
    c->FindPin("AlphaInputPin");
}

}  // namespace
}  // namespace pixora
