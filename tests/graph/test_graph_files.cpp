// Graph files: every kind of bad file is refused with a message naming the problem and leaves
// the graph empty; truncated and corrupted files load or fail cleanly; saved graphs load back
// to the same text.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "filters/combine/PXVideoMixer.h"
#include "frame/PixoraPkg.h"
#include "platform/graph/PXGraph.h"

namespace pixora::graphtest {
namespace {

namespace fs = std::filesystem;

const std::string KGraph = R"({
  "components": {
    "gen": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 37, "Height": 23}, "FrameRate": 29.97}},
    "neg": {"class": "TPXNegative", "properties": {"Threaded": false, "RegionOfInterest": {"Enabled": true, "X": 3}}},
    "sol": {"class": "TPXSolarize", "properties": {"Level": 0.3, "MultiCore": true, "Enabled": false}},
    "out": {"class": "TPXMediaFileSink", "properties": {"FileName": "frames/f_%04d.png"}}
  },
  "connections": [["gen.OutputPin", "neg.InputPin"], ["neg.OutputPin", "sol.InputPin"], ["sol.OutputPin", "out.InputPin"]]
})";

// Loads text into a graph; returns the error message, or "" when it loaded. A graph that failed
// to load must be empty; anything but a platform error is a test failure.
std::string LoadError(TPXGraph& graph, const std::string& text) {
    try {
        graph.LoadFromText(text, "test graph");
    } catch (const EPXError& e) {
        EXPECT_TRUE(graph.Components().empty()) << "components left after: " << e.what();
        EXPECT_TRUE(graph.Connections().empty()) << "connections left after: " << e.what();
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "a non-platform exception escaped: " << e.what() << "\nfor: " << text;
        return "<non-platform exception>";
    }
    return {};
}

std::string LoadError(const std::string& text) {
    TPXGraph graph;
    return LoadError(graph, text);
}

class GraphFiles : public testing::Test {
protected:
    void SetUp() override { RegisterPackage(); }
};

TEST_F(GraphFiles, AGoodFileBuildsTheGraphItDescribes) {
    TPXGraph graph;
    ASSERT_EQ(LoadError(graph, KGraph), "");
    ASSERT_EQ(graph.Components().size(), 4u);
    EXPECT_EQ(graph.Get("gen").GetPropertyTable().ClassName(), "TPXJaehneGen");
    EXPECT_EQ(graph.Get("gen").GetName(), "gen");
    EXPECT_EQ(GetPropertyText(graph.Get("gen"), "ImageSize.Width"), "37");
    EXPECT_EQ(GetPropertyText(graph.Get("gen"), "FrameRate"), "29.97");
    EXPECT_EQ(GetPropertyText(graph.Get("neg"), "RegionOfInterest.X"), "3");
    EXPECT_EQ(GetPropertyText(graph.Get("sol"), "Enabled"), "False");
    EXPECT_EQ(GetPropertyText(graph.Get("out"), "FileName"), "frames/f_%04d.png");
    ASSERT_EQ(graph.Connections().size(), 3u);
    auto& genOut = static_cast<TLRSourcePin&>(graph.Get("gen").FindPin("OutputPin"));
    ASSERT_EQ(genOut.Sinks().size(), 1u);
    EXPECT_EQ(genOut.Sinks()[0], &graph.Get("neg").FindPin("InputPin"));
    EXPECT_TRUE(static_cast<TLRSinkPin&>(graph.Get("out").FindPin("InputPin")).IsConnected());
    // Feeders come first.
    const auto order = graph.TopologicalOrder();
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.front(), &graph.Get("gen"));
    EXPECT_EQ(order.back(), &graph.Get("out"));
}

TEST_F(GraphFiles, BadFilesNameTheProblem) {
    struct TCase {
        std::string Text;
        std::vector<std::string> Expected;
    };
    const TCase cases[] = {
        {R"({"components": {"a": {"class": "TPXNope"}}})", {"'TPXNope'"}},
        {R"({"components": {"a": {"class": "TPXNegative", "properties": {"Levl": 1}}}})", {"'a'", "'Levl'"}},
        {R"({"components": {"a": {"class": "TPXSolarize", "properties": {"Level": "high"}}}})",
         {"'a'", "TPXSolarize.Level", "high"}},
        {R"({"components": {"a": {"class": "TPXSolarize", "properties": {"Level": [1]}}}})", {"TPXSolarize.Level"}},
        {R"({"components": {"a": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": "wide"}}}}})",
         {"'a'", "Width"}},
        {R"({"components": {"a": {"class": "TPXSolarize", "properties": [1]}}})", {"'a'"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["a.OutputPin", "a.Input"]]})", {"'Input'"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["a.Output", "a.InputPin"]]})", {"'Output'"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["b.OutputPin", "a.InputPin"]]})", {"'b'"}},
        {R"({"components": {"a": {"class": "TPXNegative"}, "b": {"class": "TPXNegative"}},
             "connections": [["a.OutputPin", "b.OutputPin"]]})",
         {"b.OutputPin", "output"}},
        {R"({"components": {"a": {"class": "TPXNegative"}, "b": {"class": "TPXNegative"}},
             "connections": [["a.InputPin", "b.InputPin"]]})",
         {"a.InputPin", "input"}},
        {R"({"components": {"a": {"class": "TPXNegative"}, "b": {"class": "TPXNegative"}},
             "connections": [["a.OutputPin", "b.InputPin"], ["a.OutputPin", "b.InputPin"]]})",
         {"already connected"}},
        {R"({"components": {"g": {"class": "TPXJaehneGen"}, "h": {"class": "TPXJaehneGen"}, "n": {"class": "TPXNegative"}},
             "connections": [["g.OutputPin", "n.InputPin"], ["h.OutputPin", "n.InputPin"]]})",
         {"h.OutputPin", "n.InputPin", "g.OutputPin"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["aOutputPin", "a.InputPin"]]})",
         {"aOutputPin"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["a.OutputPin"]]})", {"connection"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": [["a.OutputPin", 5]]})", {"connection"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}, "connections": {"a.OutputPin": "a.InputPin"}})",
         {"connections"}},
        {R"({"components": {"a.b": {"class": "TPXNegative"}}})", {"'a.b'"}},
        {R"({"components": {"": {"class": "TPXNegative"}}})", {"name"}},
        {R"({"components": {"a": {"clas": "TPXNegative"}}})", {"'a'", "class"}},
        {R"({"components": {"a": {"class": 5}}})", {"'a'", "class"}},
        {R"({"components": {"a": "TPXNegative"}})", {"'a'"}},
        {R"({"components": {"a": {"class": "TPXNegative", "extra": 1}}})", {"'extra'"}},
        {R"({"components": [], "connections": []})", {"components"}},
        {R"({"connections": []})", {"components"}},
        {R"({"components": {}, "wires": []})", {"'wires'"}},
        {R"([1, 2])", {"JSON object"}},
        {R"("graph")", {"JSON object"}},
        {R"({"components": {"a": {"class": "TPXNegative"}},})", {"test graph", "JSON"}},
        {R"({"components": {"a": {"class": "TPXNegative"}})", {"test graph", "JSON"}},
        {"", {"test graph", "JSON"}},
        {"{\"components\": {\"a\": {\"class\": \"TPX\xff\"}}}", {"test graph"}},
        {R"({"components": {"a": {"class": "TPXNegative"}}} trailing)", {"test graph"}},
    };
    for (const TCase& c : cases) {
        const std::string error = LoadError(c.Text);
        ASSERT_FALSE(error.empty()) << "accepted: " << c.Text;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        for (const std::string& part : c.Expected) EXPECT_NE(error.find(part), std::string::npos) << c.Text << "\n -> " << error;
    }
}

TEST_F(GraphFiles, AFailedLoadEmptiesAGraphThatHeldComponents) {
    TPXGraph graph;
    ASSERT_EQ(LoadError(graph, KGraph), "");
    // The unknown property sits in the last component: everything before it was built.
    const std::string bad = R"({"components": {"a": {"class": "TPXJaehneGen"}, "b": {"class": "TPXNegative"},
                                               "c": {"class": "TPXNegative", "properties": {"Nope": 1}}},
                               "connections": [["a.OutputPin", "b.InputPin"]]})";
    EXPECT_FALSE(LoadError(graph, bad).empty());
    EXPECT_TRUE(graph.Components().empty());
    // Text that is not JSON at all, and a file that is not there, empty it as well.
    ASSERT_EQ(LoadError(graph, KGraph), "");
    EXPECT_FALSE(LoadError(graph, KGraph.substr(0, 40)).empty());
    EXPECT_TRUE(graph.Components().empty());
    ASSERT_EQ(LoadError(graph, KGraph), "");
    EXPECT_THROW(graph.LoadFromFile("/nonexistent/graph.json"), EGraphError);
    EXPECT_TRUE(graph.Components().empty());
    // And it can be loaded again.
    EXPECT_EQ(LoadError(graph, KGraph), "");
    EXPECT_EQ(graph.Components().size(), 4u);
}

TEST_F(GraphFiles, EveryCutOfAGoodFileLoadsOrFailsCleanly) {
    int loaded = 0;
    for (std::size_t cut = 0; cut <= KGraph.size(); ++cut) {
        TPXGraph graph;
        const std::string error = LoadError(graph, KGraph.substr(0, cut));
        if (error.empty()) {
            ++loaded;
            EXPECT_EQ(graph.Components().size(), 4u) << "cut at " << cut;
        } else {
            EXPECT_NE(error.find("test graph"), std::string::npos) << "cut at " << cut << ": " << error;
        }
    }
    EXPECT_EQ(loaded, 1) << "only the whole file is a graph";
}

TEST_F(GraphFiles, CorruptedBytesLoadOrFailCleanly) {
    // Every byte replaced by characters that upset a JSON reader in different ways.
    const char replacements[] = {'"', '{', ']', '0', 'x', ' ', ',', '\\', '\xff', '.'};
    for (std::size_t at = 0; at < KGraph.size(); ++at)
        for (const char replacement : replacements) {
            std::string text = KGraph;
            text[at] = replacement;
            TPXGraph graph;
            (void)LoadError(graph, text);
            if (testing::Test::HasFailure()) {
                ADD_FAILURE() << "at byte " << at << " replaced by '" << replacement << "'";
                return;
            }
        }
}

TEST_F(GraphFiles, SavedGraphsLoadBackToTheSameText) {
    TPXGraph graph;
    ASSERT_EQ(LoadError(graph, KGraph), "");
    const std::string saved = graph.SaveToText();
    TPXGraph again;
    ASSERT_EQ(LoadError(again, saved), "");
    EXPECT_EQ(again.SaveToText(), saved);
    EXPECT_EQ(again.Connections(), graph.Connections());
    // The saved file holds every property, defaults included, with the values set.
    const nlohmann::json json = nlohmann::json::parse(saved);
    EXPECT_EQ(json["components"]["sol"]["properties"]["Level"].get<double>(), double(0.3f));
    EXPECT_EQ(json["components"]["neg"]["properties"]["RegionOfInterest"]["Width"], 100);
    EXPECT_EQ(json["components"]["gen"]["class"], "TPXJaehneGen");
    EXPECT_EQ(json["connections"].size(), 3u);
    EXPECT_EQ(GetPropertyText(again.Get("sol"), "Level"), GetPropertyText(graph.Get("sol"), "Level"));
}

TEST_F(GraphFiles, AGraphBuiltInCodeSavesAndLoads) {
    TPXGraph graph;
    graph.Add("source", "TPXJaehneGen");
    graph.Add("first", "TPXSolarize");
    graph.Add("second", "TPXSolarize");
    graph.Add("third", "TPXNegative");
    SetPropertyText(graph.Get("first"), "Level", "0.125");
    SetPropertyText(graph.Get("second"), "RegionOfInterest.Height", "7");
    graph.Connect("source.OutputPin", "first.InputPin");
    graph.Connect("source.OutputPin", "third.InputPin");  // fan-out
    graph.Connect("first.OutputPin", "second.InputPin");
    const std::string saved = graph.SaveToText();
    TPXGraph again;
    ASSERT_EQ(LoadError(again, saved), "");
    EXPECT_EQ(again.SaveToText(), saved);
    EXPECT_EQ(GetPropertyText(again.Get("first"), "Level"), "0.125");
    EXPECT_EQ(GetPropertyText(again.Get("second"), "RegionOfInterest.Height"), "7");
    EXPECT_EQ(static_cast<TLRSourcePin&>(again.Get("source").FindPin("OutputPin")).Sinks().size(), 2u);

    EXPECT_THROW(graph.Add("first", "TPXNegative"), EGraphError);
    EXPECT_THROW(graph.Add("x.y", "TPXNegative"), EGraphError);
    EXPECT_THROW(graph.Add("", "TPXNegative"), EGraphError);
    EXPECT_THROW(graph.Add("fresh", "TPXMissing"), EGraphError);
    EXPECT_EQ(graph.Find("fresh"), nullptr) << "a failed Add adds nothing";
    EXPECT_EQ(graph.Components().size(), 4u);
    EXPECT_THROW(graph.Get("absent"), EGraphError);
    EXPECT_THROW(graph.Connect("first.OutputPin", "third.InputPin"), EGraphError);  // third already fed
    EXPECT_EQ(graph.Connections().size(), 3u) << "a refused connection is not recorded";
}

// Connections follow the pins they were made with: a mixer channel moved to another position is
// saved under its new index (or its new name), a removed channel's connection is not saved, and
// the saved graph loads back with every source feeding the channel it fed before.
TEST_F(GraphFiles, ConnectionsFollowMovedAndRemovedChannels) {
    TPXGraph graph;
    for (const char* name : {"a", "b", "c"}) graph.Add(name, "TPXJaehneGen");
    auto& mixer = static_cast<TPXVideoMixer&>(graph.Add("mix", "TPXVideoMixer"));
    for (int i = 0; i < 3; ++i) mixer.AddChannel();
    graph.Connect("a.OutputPin", "mix.InputPins[0]");
    graph.Connect("b.OutputPin", "mix.InputPins[1]");
    graph.Connect("c.OutputPin", "mix.InputPins.InputPins2");
    const TLRPin* pinOfA = &mixer.InputPins[0];

    SetPropertyText(mixer, "Channels[0].Index", "2");  // a's channel drawn on top
    ASSERT_EQ(&mixer.InputPins[2], pinOfA);
    using TConnections = std::vector<std::pair<std::string, std::string>>;
    const TConnections moved{{"a.OutputPin", "mix.InputPins[2]"},
                             {"b.OutputPin", "mix.InputPins[0]"},
                             {"c.OutputPin", "mix.InputPins.InputPins1"}};
    EXPECT_EQ(graph.Connections(), moved);

    TPXGraph again;
    again.LoadFromText(graph.SaveToText());
    EXPECT_EQ(again.Connections(), moved);
    const auto sourceOf = [&](const char* pin) {
        return static_cast<TLRSinkPin&>(again.Get("mix").FindPin(pin)).Source();
    };
    EXPECT_EQ(sourceOf("InputPins[2]"), &again.Get("a").FindPin("OutputPin"));
    EXPECT_EQ(sourceOf("InputPins[0]"), &again.Get("b").FindPin("OutputPin"));
    EXPECT_EQ(sourceOf("InputPins[1]"), &again.Get("c").FindPin("OutputPin"));

    mixer.GetChannels().Delete(0);  // b's channel, pin and connection
    mixer.AddChannel();             // a fresh channel, not connected
    const TConnections removed{{"a.OutputPin", "mix.InputPins[1]"}, {"c.OutputPin", "mix.InputPins.InputPins0"}};
    EXPECT_EQ(graph.Connections(), removed);
    static_cast<TLRSourcePin&>(graph.Get("c").FindPin("OutputPin")).DisconnectAll();
    EXPECT_EQ(graph.Connections(), (TConnections{{"a.OutputPin", "mix.InputPins[1]"}}));
}

TEST_F(GraphFiles, FilesOnDisk) {
    const fs::path dir = fs::temp_directory_path() / ("pixora_graph_files_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string good = (dir / "good.json").string();
    std::ofstream(good) << KGraph;
    TPXGraph graph;
    graph.LoadFromFile(good);
    EXPECT_EQ(graph.Components().size(), 4u);

    const std::string cut = (dir / "cut.json").string();
    std::ofstream(cut) << KGraph.substr(0, KGraph.size() / 2);
    try {
        graph.LoadFromFile(cut);
        ADD_FAILURE() << "a truncated file loaded";
    } catch (const EGraphError& e) {
        EXPECT_NE(std::string(e.what()).find("cut.json"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(graph.Components().empty());
    for (const fs::path& path : {dir / "absent.json", dir}) {
        try {
            graph.LoadFromFile(path.string());
            ADD_FAILURE() << path << " loaded";
        } catch (const EGraphError& e) {
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace pixora::graphtest
