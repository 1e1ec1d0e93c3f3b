// Running graphs: a generator through threaded and inline filters into a checking sink, started
// and stopped many times to a frame limit and mid-stream, restarted with new settings, and
// torn down while running. Every run must deliver exactly one start, the frames and one stop.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "platform/graph/PXGraph.h"
#include "tests/graph/GraphTestSupport.h"

namespace pixora::graphtest {
namespace {

using namespace std::chrono_literals;

// Negative then solarize of a frame, sample by sample.
std::vector<uint8_t> NegativeThenSolarize(std::vector<uint8_t> pixels, float level) {
    const int threshold = int(std::nearbyint(double(level) * 255.0));
    for (auto& s : pixels) {
        const int negative = 255 - s;
        s = uint8_t(negative < threshold ? 255 - negative : negative);
    }
    return pixels;
}

// The generator's own frame at that size, for the reference.
std::vector<uint8_t> JaehneFrame(int width, int height) {
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(width, height);
    return PackedPixels(gen.GenerateOne());
}

class GraphRuns : public testing::TestWithParam<std::tuple<bool, bool>> {
protected:
    void SetUp() override {
        RegisterPackage();
        SetErrorHandler([this](const TComponent& component, const std::string& message) {
            std::lock_guard lock(FErrorsMutex);
            FErrors.push_back(component.GetDisplayPath() + ": " + message);
        });
        FGraph.LoadFromText(R"({
          "components": {
            "gen": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 33, "Height": 17}}},
            "neg": {"class": "TPXNegative"},
            "sol": {"class": "TPXSolarize", "properties": {"Level": 0.25}}
          },
          "connections": [["gen.OutputPin", "neg.InputPin"], ["neg.OutputPin", "sol.InputPin"]]
        })");
        SetPropertyText(FGraph.Get("neg"), "Threaded", std::get<0>(GetParam()) ? "True" : "False");
        SetPropertyText(FGraph.Get("sol"), "Threaded", std::get<1>(GetParam()) ? "True" : "False");
        // The threaded solarize also cuts its frames into one-row bands on the pool.
        if (std::get<1>(GetParam())) {
            SetPropertyText(FGraph.Get("sol"), "MultiCore", "True");
            SetPropertyText(FGraph.Get("sol"), "BlockSize", "1");
        }
        Output().Connect(FSink.InputPin);
        FSink.SetReference({33, 17}, NegativeThenSolarize(JaehneFrame(33, 17), 0.25f));
    }
    void TearDown() override {
        FGraph.Clear();
        SetErrorHandler({});
    }

    TLRSourcePin& Output() { return static_cast<TLRSourcePin&>(FGraph.Get("sol").FindPin("OutputPin")); }
    std::vector<std::string> Errors() {
        std::lock_guard lock(FErrorsMutex);
        return FErrors;
    }

    TPXGraph FGraph;
    TCheckingSink FSink;
    std::mutex FErrorsMutex;
    std::vector<std::string> FErrors;
};

TEST_P(GraphRuns, EveryRunToAFrameLimitDeliversExactlyThoseFramesAndOneStop) {
    TWatchdog watchdog(240s, "100 runs to a frame limit");
    constexpr int KRuns = 100, KFrames = 6;
    for (int run = 1; run <= KRuns; ++run) {
        FGraph.Start({TRunMode::Offline, KFrames});
        ASSERT_TRUE(FGraph.WaitUntilFinished(30s)) << "run " << run << " did not finish";
        FGraph.Stop();
        const auto counts = FSink.Counts();
        ASSERT_EQ(counts.Starts, run);
        ASSERT_EQ(counts.Stops, run) << "run " << run;
        ASSERT_EQ(counts.FramesThisStream, KFrames) << "run " << run;
        ASSERT_EQ(counts.Frames, run * KFrames);
        ASSERT_TRUE(FSink.Faults().empty()) << "run " << run << ":\n" << Joined(FSink.Faults());
    }
    EXPECT_EQ(FSink.Counts().AbortedStops, 0);
    EXPECT_EQ(static_cast<TPXJaehneGen&>(FGraph.Get("gen")).FramesSent(), KFrames);
    EXPECT_TRUE(Errors().empty()) << Joined(Errors());
}

TEST_P(GraphRuns, StopRightAfterStartEndsEveryStreamOnce) {
    TWatchdog watchdog(240s, "100 runs stopped mid-stream");
    constexpr int KRuns = 100;
    for (int run = 1; run <= KRuns; ++run) {
        FGraph.Start({TRunMode::Offline, -1});
        FGraph.Stop();
        const auto counts = FSink.Counts();
        ASSERT_EQ(counts.Starts, run);
        ASSERT_EQ(counts.Stops, run) << "run " << run << ": the stop must have reached the sink when Stop returns";
        ASSERT_FALSE(counts.Streaming);
        ASSERT_TRUE(FGraph.Get("gen").IsFinished());
        ASSERT_TRUE(FSink.Faults().empty()) << "run " << run << ":\n" << Joined(FSink.Faults());
    }
    // Stopped streams were cut short, not failed.
    EXPECT_TRUE(Errors().empty()) << Joined(Errors());
    // And the graph still runs to a limit afterwards.
    const int before = FSink.Counts().Frames;
    FGraph.Start({TRunMode::Offline, 3});
    ASSERT_TRUE(FGraph.WaitUntilFinished(30s));
    FGraph.Stop();
    EXPECT_EQ(FSink.Counts().Frames - before, 3);
}

TEST_P(GraphRuns, StopsPartWayThroughLongStreams) {
    TWatchdog watchdog(240s, "runs stopped after some frames");
    for (int run = 1; run <= 20; ++run) {
        FGraph.Start({TRunMode::Offline, -1});
        // Wait until frames of this stream flow, then stop in the middle of it.
        for (auto counts = FSink.Counts(); counts.Starts < run || counts.FramesThisStream < run; counts = FSink.Counts())
            std::this_thread::yield();
        FGraph.Stop();
        const auto counts = FSink.Counts();
        ASSERT_EQ(counts.Stops, run);
        ASSERT_GE(counts.FramesThisStream, run);
        ASSERT_TRUE(FSink.Faults().empty()) << Joined(FSink.Faults());
    }
}

TEST_P(GraphRuns, ARestartTakesTheNewSettings) {
    TWatchdog watchdog(120s, "restarts with new sizes");
    const TSize sizes[] = {{8, 5}, {64, 3}, {1, 1}, {33, 17}};
    for (const TSize size : sizes) {
        FSink.SetReference(size, NegativeThenSolarize(JaehneFrame(size.Width, size.Height), 0.25f));
        LoadProperties(FGraph.Get("gen"), nlohmann::json{{"ImageSize", {{"Width", size.Width}, {"Height", size.Height}}}});
        FGraph.Start({TRunMode::Offline, 2});
        ASSERT_TRUE(FGraph.WaitUntilFinished(30s));
        FGraph.Stop();
        EXPECT_EQ(FSink.Counts().LastSize, size);
        EXPECT_EQ(FSink.Counts().FramesThisStream, 2);
    }
    // A new level changes the frames of the next run.
    SetPropertyText(FGraph.Get("sol"), "Level", "0.8");
    FSink.SetReference({5, 4}, NegativeThenSolarize(JaehneFrame(5, 4), 0.8f));
    LoadProperties(FGraph.Get("gen"), nlohmann::json{{"ImageSize", {{"Width", 5}, {"Height", 4}}}});
    FGraph.Start({TRunMode::Offline, 2});
    ASSERT_TRUE(FGraph.WaitUntilFinished(30s));
    FGraph.Stop();
    EXPECT_TRUE(FSink.Faults().empty()) << Joined(FSink.Faults());
    EXPECT_TRUE(Errors().empty()) << Joined(Errors());
}

TEST_P(GraphRuns, StartingARunningGraphEndsTheOldStreamFirst) {
    TWatchdog watchdog(60s, "start while running");
    FGraph.Start({TRunMode::Offline, -1});
    FGraph.Start({TRunMode::Offline, 4});
    ASSERT_TRUE(FGraph.WaitUntilFinished(30s));
    FGraph.Stop();
    const auto counts = FSink.Counts();
    EXPECT_EQ(counts.Starts, 2);
    EXPECT_EQ(counts.Stops, 2);
    EXPECT_EQ(counts.FramesThisStream, 4);
    EXPECT_TRUE(FSink.Faults().empty()) << Joined(FSink.Faults());
}

TEST_P(GraphRuns, ClearingARunningGraphStopsItCleanly) {
    TWatchdog watchdog(60s, "graph cleared while running");
    FGraph.Start({TRunMode::Offline, -1});
    while (FSink.Counts().Frames < 2) std::this_thread::yield();
    FGraph.Clear();
    const auto counts = FSink.Counts();
    EXPECT_EQ(counts.Starts, 1);
    EXPECT_EQ(counts.Stops, 1);
    EXPECT_FALSE(FSink.InputPin.IsConnected()) << "clearing the graph cuts its connections";
    EXPECT_TRUE(FSink.Faults().empty()) << Joined(FSink.Faults());
}

INSTANTIATE_TEST_SUITE_P(ThreadedOrInline, GraphRuns,
                         testing::Values(std::make_tuple(true, false), std::make_tuple(false, true),
                                         std::make_tuple(true, true), std::make_tuple(false, false)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "NegThreaded" : "NegInline") +
                                    (std::get<1>(info.param) ? "SolThreaded" : "SolInline");
                         });

TEST(GraphRun, AGraphWithoutASourceDoesNotStart) {
    RegisterPackage();
    TPXGraph graph;
    graph.Add("neg", "TPXNegative");
    try {
        graph.Start({});
        FAIL() << "started";
    } catch (const EGraphError& e) {
        EXPECT_NE(std::string(e.what()).find("no source"), std::string::npos) << e.what();
    }
    TPXGraph empty;
    EXPECT_THROW(empty.Start({}), EGraphError);
}

TEST(GraphRun, FanOutFeedsEveryBranchTheSameFrames) {
    RegisterPackage();
    TWatchdog watchdog(60s, "fan-out run");
    TCheckingSink direct, viaA, viaB;  // outlive the graph that feeds them
    TPXGraph graph;
    graph.Add("gen", "TPXJaehneGen");
    graph.Add("a", "TPXNegative");
    graph.Add("b", "TPXNegative");
    SetPropertyText(graph.Get("gen"), "ImageSize.Width", "12");
    SetPropertyText(graph.Get("gen"), "ImageSize.Height", "7");
    SetPropertyText(graph.Get("b"), "Threaded", "False");
    graph.Connect("gen.OutputPin", "a.InputPin");
    graph.Connect("gen.OutputPin", "b.InputPin");
    static_cast<TLRSourcePin&>(graph.Get("gen").FindPin("OutputPin")).Connect(direct.InputPin);
    static_cast<TLRSourcePin&>(graph.Get("a").FindPin("OutputPin")).Connect(viaA.InputPin);
    static_cast<TLRSourcePin&>(graph.Get("b").FindPin("OutputPin")).Connect(viaB.InputPin);
    std::vector<uint8_t> pattern = JaehneFrame(12, 7);
    std::vector<uint8_t> negative = pattern;
    for (auto& s : negative) s = uint8_t(255 - s);
    direct.SetReference({12, 7}, pattern);
    viaA.SetReference({12, 7}, negative);
    viaB.SetReference({12, 7}, negative);
    for (int run = 0; run < 10; ++run) {
        graph.Start({TRunMode::Offline, 5});
        ASSERT_TRUE(graph.WaitUntilFinished(30s));
        graph.Stop();
    }
    for (TCheckingSink* sink : {&direct, &viaA, &viaB}) {
        EXPECT_EQ(sink->Counts().Frames, 50);
        EXPECT_EQ(sink->Counts().Stops, 10);
        EXPECT_TRUE(sink->Faults().empty()) << Joined(sink->Faults());
    }
    graph.Clear();
}

}  // namespace
}  // namespace pixora::graphtest
