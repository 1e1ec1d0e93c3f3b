// Pins: connection rules (one source per sink, matching types, no double connection), fan-out
// delivery to every sink, disconnection, upstream operations, pin lists and pin lookup.
#include <gtest/gtest.h>

#include <memory>

#include "frame/PixoraPkg.h"
#include "platform/graph/PXGraph.h"
#include "platform/image/PXImageBuffer.h"

namespace pixora::graphtest {
namespace {

// A component with video and real pins on both sides and a list of outputs; it records what
// reaches its inputs and its outputs (from downstream).
class TPinBox final : public TLockComponent {
public:
    explicit TPinBox(const std::string& name)
        : VideoOut(this, "VideoOut", TPinDataType::Video, Upstream()),
          VideoIn(this, "VideoIn", TPinDataType::Video, Handler()),
          RealOut(this, "RealOut", TPinDataType::Real, Upstream()),
          RealIn(this, "RealIn", TPinDataType::Real, Handler()),
          Outputs(this, "OutputPins") {
        SetName(name);
        PublishPin(VideoOut);
        PublishPin(VideoIn);
        PublishPin(RealOut);
        PublishPin(RealIn);
        Outputs.Add<TLRSourcePin>("", TPinDataType::Video);
        Outputs.Add<TLRSourcePin>("Red", TPinDataType::Video);
        Outputs.Add<TLRSinkPin>("Back", TPinDataType::Video, Handler());
        PublishPinList(Outputs);
    }
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TPinBox, TLockComponent>("TPinBox", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TLRSourcePin VideoOut;
    TLRSinkPin VideoIn;
    TLRSourcePin RealOut;
    TLRSinkPin RealIn;
    TLRPinList Outputs;

    bool Accept = true;
    std::vector<std::pair<std::string, const TQNData*>> Received;  // pin name, payload
    std::vector<TOperationKind> FromDownstream;

private:
    TSinkHandler Handler() {
        return [this](TLRSinkPin& pin, const ILRNotifyOperation& op) {
            const auto* buffer = As<TLRSuppliedBufferOperation>(op);
            Received.emplace_back(pin.Name(), buffer ? buffer->Data.Get() : nullptr);
            return Accept;
        };
    }
    TUpstreamHandler Upstream() {
        return [this](TLRSourcePin&, const ILRNotifyOperation& op) {
            FromDownstream.push_back(op.Kind());
            return true;
        };
    }
};

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EGraphError& e) {
        return e.what();
    }
    return {};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PinConnections, ConnectingTwiceIsRefused) {
    TPinBox a("a"), b("b");
    a.VideoOut.Connect(b.VideoIn);
    const std::string error = ErrorOf([&] { a.VideoOut.Connect(b.VideoIn); });
    EXPECT_TRUE(Contains(error, "a.VideoOut")) << error;
    EXPECT_TRUE(Contains(error, "b.VideoIn")) << error;
    EXPECT_TRUE(Contains(error, "already connected")) << error;
    EXPECT_EQ(a.VideoOut.Sinks().size(), 1u) << "the refused connection added nothing";
    EXPECT_EQ(b.VideoIn.Source(), &a.VideoOut);
}

TEST(PinConnections, ASinkTakesOneSourceAndTheErrorNamesBoth) {
    TPinBox a("first"), b("second"), c("target");
    a.VideoOut.Connect(c.VideoIn);
    const std::string error = ErrorOf([&] { b.VideoOut.Connect(c.VideoIn); });
    EXPECT_TRUE(Contains(error, "second.VideoOut")) << error;
    EXPECT_TRUE(Contains(error, "target.VideoIn")) << error;
    EXPECT_TRUE(Contains(error, "first.VideoOut")) << "names the source it already has: " << error;
    EXPECT_EQ(c.VideoIn.Source(), &a.VideoOut);
    EXPECT_FALSE(b.VideoOut.IsConnected());
    // Once the first source lets go, the second may connect.
    c.VideoIn.Disconnect();
    b.VideoOut.Connect(c.VideoIn);
    EXPECT_EQ(c.VideoIn.Source(), &b.VideoOut);
    EXPECT_FALSE(a.VideoOut.IsConnected());
}

TEST(PinConnections, TypesMustMatch) {
    TPinBox a("a"), b("b");
    for (auto [source, sink] : {std::pair{&a.VideoOut, &b.RealIn}, std::pair{&a.RealOut, &b.VideoIn}}) {
        const std::string error = ErrorOf([&] { source->Connect(*sink); });
        EXPECT_TRUE(Contains(error, source->FullName())) << error;
        EXPECT_TRUE(Contains(error, sink->FullName())) << error;
        EXPECT_TRUE(Contains(error, "video") && Contains(error, "real")) << "names both types: " << error;
        EXPECT_FALSE(sink->IsConnected());
        EXPECT_FALSE(source->IsConnected());
    }
    a.RealOut.Connect(b.RealIn);
    EXPECT_TRUE(b.RealIn.IsConnected());
    // A pin of a graph component against a real-valued pin.
    RegisterPackage();
    TComponentPtr negative = TRegistry::Instance().Create("TPXNegative");
    auto& output = static_cast<TLRSourcePin&>(negative->FindPin("OutputPin"));
    EXPECT_TRUE(Contains(ErrorOf([&] { output.Connect(a.RealIn); }), "types differ"));
    EXPECT_TRUE(Contains(ErrorOf([&] { a.RealOut.Connect(static_cast<TLRSinkPin&>(negative->FindPin("InputPin"))); }),
                         "types differ"));
}

// Fan-out to a few sinks and to more than a handful (the delivery keeps small sink lists on the
// stack and larger ones on the heap).
class PinFanOut : public testing::TestWithParam<int> {};

TEST_P(PinFanOut, EverySinkReceivesEachOperationOnce) {
    const int count = GetParam();
    TPinBox source("source");
    std::vector<std::unique_ptr<TPinBox>> sinks;
    for (int i = 0; i < count; ++i) {
        sinks.push_back(std::make_unique<TPinBox>("sink" + std::to_string(i)));
        source.VideoOut.Connect(sinks.back()->VideoIn);
    }
    ASSERT_EQ(source.VideoOut.Sinks().size(), std::size_t(count));
    const IPXImageBuffer frame = TPXImageBuffer::CreateSize(4, 3, vfRGB24);
    EXPECT_TRUE(source.VideoOut.Notify(TLRSuppliedBufferOperation::Make(frame)));
    EXPECT_TRUE(source.VideoOut.Notify(TLRStopOperation::Make()));
    for (const auto& sink : sinks) {
        ASSERT_EQ(sink->Received.size(), 2u) << sink->GetName();
        EXPECT_EQ(sink->Received[0].first, "VideoIn");
        EXPECT_EQ(sink->Received[0].second, frame.Get()) << "every sink sees the same frame";
        EXPECT_EQ(sink->Received[1].second, nullptr);
    }
    // The answer is true when any sink accepted.
    for (auto& sink : sinks) sink->Accept = false;
    EXPECT_FALSE(source.VideoOut.Notify(TLRStopOperation::Make()));
    sinks.back()->Accept = true;
    EXPECT_TRUE(source.VideoOut.Notify(TLRStopOperation::Make()));

    // Disconnecting one sink leaves the others fed.
    source.VideoOut.Disconnect(sinks.front()->VideoIn);
    EXPECT_FALSE(sinks.front()->VideoIn.IsConnected());
    source.VideoOut.Notify(TLRStopOperation::Make());
    EXPECT_EQ(sinks.front()->Received.size(), 4u);
    for (std::size_t i = 1; i < sinks.size(); ++i) EXPECT_EQ(sinks[i]->Received.size(), 5u) << i;
    source.VideoOut.DisconnectAll();
    EXPECT_FALSE(source.VideoOut.IsConnected());
    EXPECT_FALSE(source.VideoOut.Notify(TLRStopOperation::Make())) << "nobody to accept";
    for (const auto& sink : sinks) EXPECT_FALSE(sink->VideoIn.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(SinkCounts, PinFanOut, testing::Values(1, 3, 16, 17, 40));

TEST(PinConnections, DisconnectingAPairThatIsNotConnectedChangesNothing) {
    TPinBox a("a"), b("b"), c("c");
    a.VideoOut.Connect(b.VideoIn);
    a.VideoOut.Disconnect(c.VideoIn);  // never connected
    c.VideoOut.Disconnect(b.VideoIn);  // b is fed by a, not c
    EXPECT_EQ(b.VideoIn.Source(), &a.VideoOut);
    EXPECT_EQ(a.VideoOut.Sinks().size(), 1u);
    c.VideoIn.Disconnect();  // unconnected sink
    EXPECT_FALSE(c.VideoIn.IsConnected());
}

TEST(PinConnections, DestroyingEitherEndCutsTheConnection) {
    TPinBox source("source");
    {
        TPinBox sink("sink");
        source.VideoOut.Connect(sink.VideoIn);
    }
    EXPECT_FALSE(source.VideoOut.IsConnected()) << "the sink took itself off the source";
    EXPECT_FALSE(source.VideoOut.Notify(TLRStopOperation::Make()));

    TPinBox sink("sink");
    {
        TPinBox shortLived("shortLived");
        shortLived.VideoOut.Connect(sink.VideoIn);
    }
    EXPECT_FALSE(sink.VideoIn.IsConnected());
    source.VideoOut.Connect(sink.VideoIn);  // free for a new source
    EXPECT_TRUE(sink.VideoIn.IsConnected());
}

TEST(PinConnections, UpstreamOperationsReachTheConnectedSource) {
    TPinBox source("source"), sink("sink");
    EXPECT_FALSE(sink.VideoIn.NotifyUpstream(TLRPumpRequestOperation())) << "no source yet";
    source.VideoOut.Connect(sink.VideoIn);
    EXPECT_TRUE(sink.VideoIn.NotifyUpstream(TLRPumpRequestOperation()));
    EXPECT_TRUE(sink.VideoIn.NotifyUpstream(TLRMasterPumpOperation()));
    EXPECT_EQ(source.FromDownstream, (std::vector<TOperationKind>{TOperationKind::PumpRequest, TOperationKind::MasterPump}));
    source.VideoOut.Disconnect(sink.VideoIn);
    EXPECT_FALSE(sink.VideoIn.NotifyUpstream(TLRMasterPumpOperation()));
    EXPECT_EQ(source.FromDownstream.size(), 2u);
}

TEST(PinConnections, PinListsAreAddressedByIndexAndByName) {
    TPinBox box("box"), sink("sink");
    EXPECT_EQ(box.Outputs.Count(), 3);
    EXPECT_EQ(box.Outputs[0].Name(), "OutputPins0") << "a nameless pin is named after its list and index";
    EXPECT_EQ(&box.FindPin("OutputPins[0]"), &box.Outputs[0]);
    EXPECT_EQ(&box.FindPin("OutputPins[1]"), &box.Outputs[1]);
    EXPECT_EQ(&box.FindPin("OutputPins.Red"), &box.Outputs[1]);
    EXPECT_EQ(box.Outputs.IndexOf(box.Outputs[2]), 2);
    EXPECT_EQ(box.Outputs.IndexOf(box.VideoOut), -1);
    box.Outputs.SetPinName(0, "Green");
    EXPECT_EQ(&box.FindPin("OutputPins.Green"), &box.Outputs[0]);

    for (const char* path : {"OutputPins[3]", "OutputPins[-1]", "OutputPins[x]", "OutputPins[]", "OutputPins.Blue",
                             "OutputPins", "Nope", "videoout", ""}) {
        const std::string error = ErrorOf([&] { (void)box.FindPin(path); });
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_TRUE(Contains(error, "box")) << path << ": " << error;
    }
    EXPECT_TRUE(Contains(ErrorOf([&] { (void)box.FindPin("OutputPins[3]"); }), "count 3"));
    EXPECT_TRUE(Contains(ErrorOf([&] { (void)box.FindPin("Nope"); }), "VideoOut")) << "lists the pins it has";
    EXPECT_THROW((void)box.Outputs[3], ERangeError);

    // The list sends to its source pins only.
    static_cast<TLRSourcePin&>(box.Outputs[1]).Connect(sink.VideoIn);
    EXPECT_TRUE(box.Outputs.Notify(TLRStopOperation::Make()));
    EXPECT_EQ(sink.Received.size(), 1u);
    EXPECT_TRUE(box.Received.empty()) << "the list's sink pin is not sent to";
    box.Outputs.Delete(0);
    EXPECT_EQ(box.Outputs.Count(), 2);
    EXPECT_EQ(&box.FindPin("OutputPins[0]"), &box.FindPin("OutputPins.Red"));
}

TEST(PinConnections, GraphConnectChecksDirectionAndNames) {
    RegisterPackage();
    TPXGraph graph;
    graph.Add("gen", "TPXJaehneGen");
    graph.Add("neg", "TPXNegative");
    graph.Add("sol", "TPXSolarize");
    struct TCase {
        const char* From;
        const char* To;
        const char* Expected;
    };
    const TCase cases[] = {
        {"neg.InputPin", "sol.InputPin", "neg.InputPin"},
        {"gen.OutputPin", "neg.OutputPin", "neg.OutputPin"},
        {"gen.OutputPin", "absent.InputPin", "'absent'"},
        {"gen.OutputPin", "neg.Input", "'Input'"},
        {"gen", "neg.InputPin", "'gen'"},
        {"gen.", "neg.InputPin", "'gen.'"},
        {".OutputPin", "neg.InputPin", "'.OutputPin'"},
    };
    for (const TCase& c : cases) {
        const std::string error = ErrorOf([&] { graph.Connect(c.From, c.To); });
        EXPECT_TRUE(Contains(error, c.Expected)) << c.From << " -> " << c.To << ": " << error;
    }
    EXPECT_TRUE(graph.Connections().empty());
    graph.Connect("gen.OutputPin", "neg.InputPin");
    graph.Connect("gen.OutputPin", "sol.InputPin");
    EXPECT_EQ(graph.Connections().size(), 2u);
    const std::string twice = ErrorOf([&] { graph.Connect("gen.OutputPin", "sol.InputPin"); });
    EXPECT_TRUE(Contains(twice, "gen.OutputPin") && Contains(twice, "sol.InputPin")) << twice;
    const std::string taken = ErrorOf([&] { graph.Connect("neg.OutputPin", "sol.InputPin"); });
    EXPECT_TRUE(Contains(taken, "neg.OutputPin") && Contains(taken, "gen.OutputPin")) << taken;
}

}  // namespace
}  // namespace pixora::graphtest
