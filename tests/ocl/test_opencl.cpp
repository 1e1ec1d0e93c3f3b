// The OpenCL wrapper on the installed driver (PoCL's CPU device in CI), and the negative and
// solarize kernels against the CPU path: equal bytes for every format, region and odd size.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "platform/ocl/PXOpenCL.h"

namespace pixora {
namespace {

bool HaveOpenCL() { return !TOpenCL::Devices().empty(); }


TEST(OpenCLTemplate, PlaceholdersAreReplacedInOrder) {
    const std::string text = "__kernel void <[KernelName]>(__global <[uchar]>* a) { a[0] = <[255]> - a[0]; }";
    EXPECT_EQ(InstantiateKernelTemplate(text, {{"<[KernelName]>", "K8"}}, false),
              "__kernel void K8(__global uchar* a) { a[0] = 255 - a[0]; }");
    EXPECT_EQ(InstantiateKernelTemplate(text, {{"<[KernelName]>", "K16"}}, true),
              "__kernel void K16(__global ushort* a) { a[0] = 65535 - a[0]; }");
}

TEST(OpenCLWrapper, ErrorCheckNamesTheEntryPoint) {
    try {
        ErrorCheck(-49, "clSetKernelArg");
        FAIL();
    } catch (const EOpenCLError& e) {
        EXPECT_STREQ(e.what(), "clSetKernelArg failed: CL_INVALID_ARG_INDEX (-49)");
        EXPECT_EQ(e.Code(), -49);
    }
    EXPECT_NO_THROW(ErrorCheck(0, "clFinish"));
}

TEST(OpenCLWrapper, BuildFailureCarriesTheBuildLog) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    IOCLContext context = TOpenCL::ContextFor("auto");
    try {
        context->BuildProgram("__kernel void Broken(__global uchar* a) { a[0] = undeclared_name; }", "-cl-kernel-arg-info");
        FAIL() << "the program must not build";
    } catch (const EOpenCLError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("clBuildProgram failed"), std::string::npos) << message;
        EXPECT_NE(message.find("undeclared_name"), std::string::npos) << message;
    }
}

TEST(OpenCLWrapper, ArgumentsAreBoundByNameAndChecked) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    IOCLContext context = TOpenCL::ContextFor("auto");
    EXPECT_EQ(TOpenCL::ContextFor("auto"), context);  // one context per device
    const IOCLProgram program = context->BuildProgram(
        "__kernel void AddTo(__global const uint* src, __global uint* dst, uint AValue, float AScale) {"
        "  size_t i = get_global_id(0); dst[i] = src[i] + AValue + (uint)AScale; }",
        "-cl-kernel-arg-info");
    EXPECT_EQ(context->BuildProgram(
                  "__kernel void AddTo(__global const uint* src, __global uint* dst, uint AValue, float AScale) {"
                  "  size_t i = get_global_id(0); dst[i] = src[i] + AValue + (uint)AScale; }",
                  "-cl-kernel-arg-info"),
              program);  // cached
    IOCLKernel kernel = program->CreateKernel("AddTo");
    ASSERT_EQ(kernel->Arguments().size(), 4u);
    EXPECT_EQ(kernel->Argument("AScale").Index(), 3u);
    EXPECT_THROW(kernel->Argument("ANope"), EOpenCLError);

    const uint32_t input[5] = {1, 2, 3, 4, 5};
    uint32_t output[5] = {};
    IOCLBuffer in = context->CreateBuffer(mfReadOnly | mfCopyHostPtr, sizeof input, input);
    IOCLBuffer out = context->CreateBuffer(mfWriteOnly, sizeof output, nullptr);
    TOCLArgs args(*kernel);
    args.Set("src", in);
    args.Set("dst", out);
    args.Set("AValue", uint32_t(10));
    EXPECT_THROW(context->Queue().Run(*kernel, TOCLGlobalDimensions::Create({5})), EOpenCLError);  // AScale unset
    args.Set("AScale", 2.0f);
    context->Queue().Run(*kernel, TOCLGlobalDimensions::Create({5}));
    context->Queue().ReadBuffer(*out, true, 0, output, sizeof output);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(output[i], input[i] + 12);
    EXPECT_THROW(kernel->Argument("AValue").SetUShort(1), EOpenCLError);  // wrong size for a uint
    EXPECT_THROW(program->CreateKernel("Missing"), EOpenCLError);
}

TEST(OpenCLWrapper, UnknownDeviceSettingNamesTheDevices) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    try {
        TOpenCL::ContextFor("no-such-device");
        FAIL();
    } catch (const EOpenCLError& e) {
        EXPECT_NE(std::string(e.what()).find("no-such-device"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("0:0"), std::string::npos);
    }
}

IPXImageBuffer RandomFrame(int width, int height, TPXVideoFormat format, uint32_t seed) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
    std::mt19937 random(seed);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(random());
    return frame;
}

// Compares the pixels of two frames row by row (padding is not part of a frame).
void ExpectSamePixels(const IPXImageBuffer& a, const IPXImageBuffer& b) {
    ASSERT_EQ(a->GetSize(), b->GetSize());
    ASSERT_EQ(a->GetFormat(), b->GetFormat());
    const std::size_t rowBytes = std::size_t(a->GetWidth()) * std::size_t(a->GetBitsPerPixel() / 8);
    for (int y = 0; y < a->GetHeight(); ++y)
        ASSERT_EQ(std::memcmp(a->GetReadPointer() + y * a->GetLineSize(), b->GetReadPointer() + y * b->GetLineSize(), rowBytes),
                  0)
            << "row " << y;
}

struct TPathCase {
    TPXVideoFormat Format;
    TRect Region;  // Width 0: region disabled
};

class PointFiltersOnOpenCL : public testing::TestWithParam<TPathCase> {};

template <class TFilter>
void CompareOpenCLWithCPU(TFilter& cpu, TFilter& gpu, const TPathCase& param) {
    for (TFilter* filter : {&cpu, &gpu}) {
        filter->SetThreaded(false);
        if (param.Region.Width > 0) {
            filter->RegionOfInterest().SetRectangle(param.Region);
            filter->RegionOfInterest().SetEnabled(true);
        }
    }
    gpu.SetOpenCLDevice("auto");
    for (uint32_t seed = 1; seed <= 2; ++seed) {
        const IPXImageBuffer in = RandomFrame(37, 23, param.Format, seed);
        const IPXImageBuffer keep = TPXImageBuffer::CreateData(in->GetReadPointer(), 37, 23, param.Format, in->GetLineSize());
        const IPXImageBuffer expected = cpu.ProcessFrame(in);
        const IPXImageBuffer actual = gpu.ProcessFrame(in);
        ASSERT_TRUE(gpu.UsesOpenCL());
        ExpectSamePixels(actual, expected);
        ExpectSamePixels(in, keep);  // the input is never written
    }
}

TEST_P(PointFiltersOnOpenCL, NegativeEqualsTheCPUPath) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    TPXNegative cpu, gpu;
    CompareOpenCLWithCPU(cpu, gpu, GetParam());
}

TEST_P(PointFiltersOnOpenCL, SolarizeEqualsTheCPUPath) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    TPXSolarize cpu, gpu;
    cpu.SetLevel(0.37f);
    gpu.SetLevel(0.37f);
    CompareOpenCLWithCPU(cpu, gpu, GetParam());
}

INSTANTIATE_TEST_SUITE_P(FormatsAndRegions, PointFiltersOnOpenCL,
                         testing::Values(TPathCase{vfRGB24, {}}, TPathCase{vfRGBA32, {}}, TPathCase{vfGray8, {}},
                                         TPathCase{vfGray16, {}}, TPathCase{vfUYVY, {}},
                                         TPathCase{vfRGB24, {5, 3, 20, 10}}, TPathCase{vfRGBA32, {30, 20, 50, 50}},
                                         TPathCase{vfGray16, {0, 0, 1, 23}}, TPathCase{vfGray8, {36, 22, 1, 1}}),
                         [](const testing::TestParamInfo<TPathCase>& info) {
                             const TRect& r = info.param.Region;
                             return std::string(FormatName(info.param.Format).substr(2)) +
                                    (r.Width > 0 ? "_Region" + std::to_string(r.X) + "_" + std::to_string(r.Y) + "_" +
                                                       std::to_string(r.Width) + "x" + std::to_string(r.Height)
                                                 : "_Full");
                         });

TEST(PointFiltersOnOpenCLSwitch, ChangingTheDeviceMidStreamKeepsResultsEqual) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    TPXNegative filter;
    filter.SetThreaded(false);
    const IPXImageBuffer in = RandomFrame(37, 23, vfRGB24, 9);
    const IPXImageBuffer cpu = filter.ProcessFrame(in);
    filter.SetOpenCLDevice("auto");
    ExpectSamePixels(filter.ProcessFrame(in), cpu);
    EXPECT_TRUE(filter.UsesOpenCL());
    filter.SetOpenCLDevice("");
    ExpectSamePixels(filter.ProcessFrame(in), cpu);
    EXPECT_FALSE(filter.UsesOpenCL());
}

TEST(PointFiltersOnOpenCLSwitch, AnUnknownDeviceWarnsOnceAndStaysOnTheCPU) {
    std::vector<std::string> warnings;
    SetWarningHandler([&](const TComponent&, const std::string& message) { warnings.push_back(message); });
    TPXSolarize filter;
    filter.SetThreaded(false);
    filter.SetOpenCLDevice("no-such-device");
    const IPXImageBuffer in = RandomFrame(8, 4, vfGray8, 3);
    TPXSolarize reference;
    reference.SetThreaded(false);
    ExpectSamePixels(filter.ProcessFrame(in), reference.ProcessFrame(in));
    ExpectSamePixels(filter.ProcessFrame(in), reference.ProcessFrame(in));
    SetWarningHandler({});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("OpenCL is not used"), std::string::npos);
    EXPECT_FALSE(filter.UsesOpenCL());
}

}  // namespace
}  // namespace pixora
