// A device that runs out of memory or goes away in the middle of a stream: the frame that hits the
// failure is reported with the failed entry point and error, and dropped; the frames before and after
// it are processed on the device and equal the CPU's results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "filters/neighbourhood/PXBoxFilter.h"
#include "filters/neighbourhood/PXGaussianBlur.h"
#include "filters/neighbourhood/PXRectKernelFilter.h"
#include "filters/neighbourhood/PXUnsharp.h"
#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "platform/ocl/PXOpenCL.h"
#include "support/FilterHarness.h"
#include "support/NeighbourhoodReference.h"

namespace pixora {
namespace {

using reference::HaveOpenCL;
using reference::NoiseFrame;
using reference::SameSamples;

struct TFailureCase {
    std::string Name;
    std::function<std::unique_ptr<TPXCommonBasicROIProcessingFilter>()> Make;
    int Tolerance = 0;  // the Gaussian's device sum is 2D, the CPU's separable: float rounding only
};

int MaxDifference(const IPXImageBuffer& a, const IPXImageBuffer& b) {
    int worst = 0;
    const int channels = reference::NeighbourhoodChannels(a->GetFormat());
    for (int y = 0; y < a->GetHeight(); ++y)
        for (int x = 0; x < a->GetWidth(); ++x)
            for (int c = 0; c < channels; ++c)
                worst = std::max(worst, std::abs(reference::ReadSample(a, x, y, c) - reference::ReadSample(b, x, y, c)));
    return worst;
}

std::vector<TFailureCase> Filters() {
    return {
        {"Gaussian", [] { return std::make_unique<TPXGaussianBlur>(); }, 1},
        {"Box", [] { return std::make_unique<TPXBoxFilter>(); }},
        {"RectKernel", [] { return std::make_unique<TPXRectKernelFilter>(); }},
        {"Unsharp", [] { return std::make_unique<TPXUnsharp>(); }, 1},
        {"Negative", [] { return std::make_unique<TPXNegative>(); }},
        {"Solarize", [] { return std::make_unique<TPXSolarize>(); }},
    };
}

TEST(OpenCLDeviceFailure, TheFailingFrameIsReportedAndDroppedAndTheStreamGoesOn) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    const IOCLContext context = TOpenCL::ContextFor("auto");
    for (const int code : {-4 /* CL_MEM_OBJECT_ALLOCATION_FAILURE */, -2 /* CL_DEVICE_NOT_AVAILABLE */}) {
        for (const TFailureCase& item : Filters()) {
            for (const TPXVideoFormat format : {vfRGB24, vfGray16}) {
                const std::string what = item.Name + " format " + std::to_string(int(format)) + " code " + std::to_string(code);
                const IPXImageBuffer first = NoiseFrame(37, 23, format, 5), second = NoiseFrame(37, 23, format, 6),
                                     third = NoiseFrame(37, 23, format, 7);
                // What the CPU makes of the frames that get through.
                auto cpu = item.Make();
                cpu->SetThreaded(false);
                const IPXImageBuffer expectedFirst = cpu->ProcessFrame(first), expectedThird = cpu->ProcessFrame(third);

                testharness::TErrorLog errors;
                testharness::TFrameSink sink;
                auto filter = item.Make();  // on its own thread
                filter->SetOpenCLDevice("auto");
                filter->OutputPin.Connect(sink.Pin);
                filter->InputPin.Receive(TLRStartFrameOperation::Make(37, 23, format, 400000));
                filter->InputPin.Receive(TLRSuppliedBufferOperation::Make(first));
                filter->WaitIdle();
                context->FailNextAllocations(code);
                filter->InputPin.Receive(TLRSuppliedBufferOperation::Make(second));
                filter->WaitIdle();
                filter->InputPin.Receive(TLRSuppliedBufferOperation::Make(third));
                filter->InputPin.Receive(TLRStopOperation::Make(false));
                ASSERT_TRUE(sink.WaitForStops(1)) << what;
                filter->WaitIdle();

                EXPECT_TRUE(filter->UsesOpenCL()) << what;
                const auto messages = errors.Messages();
                ASSERT_EQ(messages.size(), 1u) << what << "\n" << errors.Joined();
                EXPECT_NE(messages[0].find("clCreateBuffer"), std::string::npos) << messages[0];
                EXPECT_NE(messages[0].find(std::string(OpenCLErrorName(code))), std::string::npos) << messages[0];
                ASSERT_EQ(sink.Frames.size(), 2u) << what;
                EXPECT_LE(MaxDifference(sink.Frames[0], expectedFirst), item.Tolerance) << what;
                EXPECT_LE(MaxDifference(sink.Frames[1], expectedThird), item.Tolerance) << what;
            }
        }
    }
    context->FailNextAllocations(0, 0);
}

// The same frame through the same device kernel gives the same bits every time.
TEST(OpenCLDeviceFailure, DeviceResultsAreRepeatable) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    for (const TFailureCase& item : Filters()) {
        for (const TPXVideoFormat format : {vfRGB24, vfGray16}) {
            auto filter = item.Make();
            filter->SetThreaded(false);
            filter->SetOpenCLDevice("auto");
            const IPXImageBuffer in = NoiseFrame(37, 23, format, 11);
            const IPXImageBuffer first = filter->ProcessFrame(in);
            ASSERT_TRUE(filter->UsesOpenCL());
            for (int run = 0; run < 8; ++run)
                EXPECT_TRUE(SameSamples(filter->ProcessFrame(in), first)) << item.Name << " format " << int(format) << " run " << run;
        }
    }
}

}  // namespace
}  // namespace pixora
