// Graph files: every kind of bad file gets one message and leaves an empty graph; a saved
// graph loads back to the same graph; pins refuse double and mistyped connections; a graph
// starts and stops a hundred times, to completion and mid-stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "frame/PixoraPkg.h"
#include "platform/filters/PXBasicVideoOut.h"
#include "platform/graph/PXGraph.h"

namespace pixora {
namespace {

const char* KGoodGraph = R"({
  "components": {
    "gen": { "class": "TPXJaehneGen", "properties": { "ImageSize": { "Width": 37, "Height": 23 }, "FrameRate": 50 } },
    "neg": { "class": "TPXNegative", "properties": { "Threaded": false } },
    "sol": { "class": "TPXSolarize", "properties": { "Level": 0.25, "MultiCore": true, "BlockSize": 50 } }
  },
  "connections": [ ["gen.OutputPin", "neg.InputPin"], ["neg.OutputPin", "sol.InputPin"] ]
})";

std::string LoadError(const std::string& text) {
    RegisterPackage();
    TPXGraph graph;
    try {
        graph.LoadFromText(text, "test.json");
    } catch (const EPXError& e) {
        EXPECT_TRUE(graph.Components().empty()) << "a failed load must leave nothing behind";
        return e.what();
    }
    return {};
}

TEST(GraphFile, BadFilesAreRefusedWithOneMessage) {
    EXPECT_EQ(LoadError(KGoodGraph), "");
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXNope"}}})").find("Unknown component class 'TPXNope'"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXNegative", "properties": {"Levl": 1}}}})")
                  .find("Component 'a': TPXNegative has no property 'Levl'"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXSolarize", "properties": {"Level": "high"}}}})")
                  .find("TPXSolarize.Level: 'high' is not a number"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["a.OutputPin", "a.Input"]]})")
                  .find("has no pin 'Input'"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXNegative"}, "b": {"class": "TPXNegative"}},
                            "connections": [["a.OutputPin", "b.OutputPin"]]})")
                  .find("is an output"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {"a": {"class": "TPXJaehneGen"}, "b": {"class": "TPXJaehneGen"},
                            "n": {"class": "TPXNegative"}},
                            "connections": [["a.OutputPin", "n.InputPin"], ["b.OutputPin", "n.InputPin"]]})")
                  .find("already connected"),
              std::string::npos);
    EXPECT_NE(LoadError(R"({"components": {}, "connections": [["a.OutputPin"]]})").find("Each connection"), std::string::npos);
    EXPECT_NE(LoadError(R"({"componets": {}})").find("Unknown graph member 'componets'"), std::string::npos);
    EXPECT_NE(LoadError("[1, 2]").find("must be a JSON object"), std::string::npos);
    EXPECT_NE(LoadError("{ \"components\": { ").find("test.json is not valid JSON"), std::string::npos);
}

TEST(GraphFile, EveryTruncationOfAGoodFileLoadsOrFailsCleanly) {
    const std::string text = KGoodGraph;
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        const std::string error = LoadError(text.substr(0, cut));
        EXPECT_FALSE(error.empty()) << "cut at " << cut;
    }
}

TEST(GraphFile, ASavedGraphLoadsBackToTheSameGraph) {
    RegisterPackage();
    TPXGraph graph;
    graph.LoadFromText(KGoodGraph);
    const std::string saved = graph.SaveToText();
    TPXGraph again;
    again.LoadFromText(saved);
    EXPECT_EQ(again.SaveToText(), saved);
    EXPECT_EQ(again.Connections().size(), 2u);
    EXPECT_EQ(GetPropertyText(again.Get("sol"), "Level"), "0.25");
}

TEST(Pins, ConnectionsAreCheckedForTypeAndSingleSource) {
    RegisterPackage();
    TPXGraph graph;
    TComponent& gen = graph.Add("gen", "TPXJaehneGen");
    TComponent& neg = graph.Add("neg", "TPXNegative");
    auto& out = static_cast<TLRSourcePin&>(gen.FindPin("OutputPin"));
    auto& in = static_cast<TLRSinkPin&>(neg.FindPin("InputPin"));
    out.Connect(in);
    EXPECT_THROW(out.Connect(in), EGraphError);
    TLRSinkPin real(nullptr, "RealIn", TPinDataType::Real, {});
    try {
        out.Connect(real);
        FAIL();
    } catch (const EGraphError& e) {
        EXPECT_NE(std::string(e.what()).find("pin types differ"), std::string::npos) << e.what();
    }
    EXPECT_THROW(graph.Add("neg", "TPXNegative"), EGraphError);  // the name is taken
    out.Disconnect(in);
    EXPECT_FALSE(in.IsConnected());
}

class TCounting final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCounting, TPXBasicVideoOut>("TCountingOut", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::atomic<int> Frames{0}, Stops{0}, Starts{0};
    std::atomic<int64_t> LastStamp{-1};
    std::atomic<bool> Ordered{true};

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        if (op.Kind() == TOperationKind::StartFrame) {
            ++Starts;
            LastStamp = -1;
        }
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) {
            const int64_t stamp = buffer->Data->GetTimeStamp().Start;
            if (stamp <= LastStamp.load()) Ordered = false;
            LastStamp = stamp;
            ++Frames;
        }
        if (op.Kind() == TOperationKind::Stop) ++Stops;
        return true;
    }
};

TEST(GraphRun, StartedAndStoppedAHundredTimes) {
    RegisterPackage();
    TPXGraph graph;
    graph.LoadFromText(KGoodGraph);
    TCounting sink;
    static_cast<TLRSourcePin&>(graph.Get("sol").FindPin("OutputPin")).Connect(sink.InputPin);
    for (int run = 0; run < 100; ++run) {
        sink.Frames = 0;
        graph.Start({TRunMode::Offline, 5});
        ASSERT_TRUE(graph.WaitUntilFinished(std::chrono::seconds(20))) << "run " << run;
        graph.Stop();
        ASSERT_EQ(sink.Frames.load(), 5) << "run " << run;
    }
    EXPECT_EQ(sink.Starts.load(), 100);
    EXPECT_EQ(sink.Stops.load(), 100);
    EXPECT_TRUE(sink.Ordered.load());
    // Stopped mid-stream: every run still ends with exactly one stop.
    for (int run = 0; run < 100; ++run) {
        graph.Start({TRunMode::Offline, -1});
        graph.Stop();
    }
    EXPECT_EQ(sink.Stops.load(), 200);
    static_cast<TLRSourcePin&>(graph.Get("sol").FindPin("OutputPin")).Disconnect(sink.InputPin);
}

}  // namespace
}  // namespace pixora
