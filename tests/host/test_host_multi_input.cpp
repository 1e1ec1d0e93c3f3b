// The pixora host with multi-input components, run as a separate process: apply with one
// input file per channel of a mixer, a graph of two generators feeding a mixer run offline and
// live, the example graph, and a mixer that cannot size its output.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "filters/combine/PXVideoMixer.h"
#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "io/AvMedia.h"
#include "platform/graph/PXGraph.h"
#include "tests/support/HostTest.h"

namespace pixora::hosttest {
namespace {

namespace fs = std::filesystem;
using testsupport::THostResult;

struct TRgbImage {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;  // packed rows, three bytes per pixel
    uint8_t& At(int x, int y, int c) { return Pixels[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * 3 + std::size_t(c)]; }
};

TRgbImage ReadRgb(const std::string& file) {
    TAvMediaReader reader(file);
    TRgbImage image{reader.Width(), reader.Height(), {}};
    EXPECT_EQ(reader.Format(), vfRGB24) << file;
    image.Pixels.resize(std::size_t(image.Width) * std::size_t(image.Height) * 3);
    TAvFrameInfo info;
    EXPECT_TRUE(reader.ReadFrame(image.Pixels.data(), image.Width * 3, info)) << file;
    return image;
}

// The generator's pattern at that size, made in this process.
TRgbImage Pattern(int width, int height) {
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(width, height);
    const IPXImageBuffer frame = gen.GenerateOne();
    TRgbImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = frame->GetReadPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
        image.Pixels.insert(image.Pixels.end(), row, row + width * 3);
    }
    return image;
}

// `top` placed at (x, y) over `base`, every sample combined by `op`.
template <class TOp>
TRgbImage Overlay(TRgbImage base, TRgbImage top, int x, int y, TOp op) {
    for (int ty = 0; ty < top.Height; ++ty)
        for (int tx = 0; tx < top.Width; ++tx)
            for (int c = 0; c < 3; ++c) {
                uint8_t& b = base.At(x + tx, y + ty, c);
                b = uint8_t(op(int(top.At(tx, ty, c)), int(b)));
            }
    return base;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class HostMultiInput : public testsupport::THostTest {
protected:
    HostMultiInput() : THostTest("pixora_host_multi") {}

    // A graph of two pattern generators (16 × 9 and 8 × 6) feeding a mixer that adds the small
    // one at (5, 2) onto the large one, written into a numbered sequence.
    // Live, the two sources are not in step: when one ends first, the other's next frames are
    // composed without it, and a channel not told to keep its last frame shows the background
    // there. Both channels keep theirs, so that every composition is the full one.
    std::string TwoGeneratorGraph() {
        const std::string file = Path("graph.json");
        std::ofstream(file) << R"({"components": {
            "large": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 16, "Height": 9}, "FrameRate": 100}},
            "small": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 8, "Height": 6}, "FrameRate": 100}},
            "mix": {"class": "TPXVideoMixer", "properties": {"StartIfNotAllRunning": false,
                    "Channels": [{"LastFrameOnStop": true},
                                 {"LastFrameOnStop": true, "CombineOperation": "coAdd", "Offset": {"CX": 5, "CY": 2}}]}},
            "out": {"class": "TPXMediaFileSink", "properties": {"FileName": ")" + Path("m_%04d.png") + R"("}}},
          "connections": [["large.OutputPin", "mix.InputPins[0]"], ["small.OutputPin", "mix.InputPins[1]"],
                          ["mix.OutputPin", "out.InputPin"]]})";
        return file;
    }
};

TEST_F(HostMultiInput, ApplyGivesTheMixerOneChannelPerInputFile) {
    const std::string a = Path("a.png"), b = Path("b.png"), out = Path("out.png");
    RunOk({"apply", "TPXJaehneGen", a, "--set", "ImageSize.Width=16", "--set", "ImageSize.Height=9"});
    RunOk({"apply", "TPXJaehneGen", b, "--set", "ImageSize.Width=8", "--set", "ImageSize.Height=6"});
    RunOk({"apply", "TPXVideoMixer", a, b, out, "--set", "StartIfNotAllRunning=False", "--set",
           "Channels[1].Offset.CX=4", "--set", "Channels[1].Offset.CY=2", "--set",
           "Channels[1].CombineOperation=coAbsDiff"});
    const TRgbImage got = ReadRgb(out);
    ASSERT_EQ(got.Width, 16);
    ASSERT_EQ(got.Height, 9);
    const TRgbImage expected =
        Overlay(Pattern(16, 9), Pattern(8, 6), 4, 2, [](int top, int base) { return std::abs(top - base); });
    EXPECT_TRUE(got.Pixels == expected.Pixels) << "input 2 at (4, 2), absolute difference with input 1";
    EXPECT_EQ(Files(), (std::set<std::string>{"a.png", "b.png", "out.png"}));
}

TEST_F(HostMultiInput, ApplyCombinesTwoInputsInPinOrder) {
    const std::string a = Path("a.png"), b = Path("b.png"), sum = Path("sum.png"), diff = Path("diff.png");
    RunOk({"apply", "TPXJaehneGen", a, "--set", "ImageSize.Width=12", "--set", "ImageSize.Height=7"});
    RunOk({"apply", "TPXNegative", a, b});
    RunOk({"apply", "TPXCombine", a, b, sum, "--set", "CombineOperation=coAdd"});
    RunOk({"apply", "TPXCombine", b, a, diff, "--set", "CombineOperation=coSubtract"});
    const TRgbImage first = ReadRgb(a), second = ReadRgb(b), added = ReadRgb(sum), subtracted = ReadRgb(diff);
    ASSERT_EQ(added.Pixels.size(), first.Pixels.size());
    ASSERT_EQ(subtracted.Pixels.size(), first.Pixels.size());
    for (std::size_t i = 0; i < first.Pixels.size(); ++i) {
        ASSERT_EQ(added.Pixels[i], std::min(first.Pixels[i] + second.Pixels[i], 255)) << "sample " << i;
        // Input 2 minus input 1, saturated at 0: the pattern (second input) minus its negative.
        ASSERT_EQ(subtracted.Pixels[i], std::max(first.Pixels[i] - second.Pixels[i], 0)) << "sample " << i;
    }
}

TEST_F(HostMultiInput, RunTwoGeneratorsIntoAMixerOfflineAndLive) {
    const std::string graph = TwoGeneratorGraph();
    const TRgbImage expected =
        Overlay(Pattern(16, 9), Pattern(8, 6), 5, 2, [](int top, int base) { return std::min(top + base, 255); });
    for (bool live : {false, true}) {
        for (const std::string& name : Files())
            if (name != "graph.json") fs::remove(FDir / name);
        std::vector<std::string> args{"run", graph, "--frames", "4"};
        if (live) args.push_back("--live");
        RunOk(args);
        const std::set<std::string> files = Files();
        if (!live) {
            // Offline the mixer drives both generators in step: one output per frame pair.
            EXPECT_EQ(files, (std::set<std::string>{"graph.json", "m_0000.png", "m_0001.png", "m_0002.png", "m_0003.png"}));
        } else {
            EXPECT_TRUE(files.count("m_0000.png")) << "live: at least one frame";
        }
        for (const std::string& name : files) {
            if (name == "graph.json") continue;
            const TRgbImage got = ReadRgb(Path(name));
            ASSERT_EQ(got.Width, 16) << name;
            ASSERT_EQ(got.Height, 9) << name;
            EXPECT_TRUE(got.Pixels == expected.Pixels) << name << (live ? " (live)" : " (offline)");
        }
    }
}

// One generator feeding two mixer channels, one of them through a threaded filter: offline, the
// mixer asks for each frame along both paths, and the generator must make it once, so every run
// gives exactly one output per frame.
TEST_F(HostMultiInput, OfflineRunWithASourceFannedOutToTwoChannelsGivesEveryFrame) {
    const std::string graph = Path("fan.json");
    std::ofstream(graph) << R"({"components": {
        "large": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 16, "Height": 9}, "FrameRate": 25}},
        "small": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 8, "Height": 6}, "FrameRate": 25}},
        "neg": {"class": "TPXNegative"},
        "mix": {"class": "TPXVideoMixer", "properties": {"StartIfNotAllRunning": false,
                "Channels": [{}, {"Offset": {"CX": 1, "CY": 1}}, {"Offset": {"CX": 7, "CY": 2}}]}},
        "out": {"class": "TPXMediaFileSink", "properties": {"FileName": ")" + Path("f_%04d.png") + R"("}}},
      "connections": [["large.OutputPin", "mix.InputPins[0]"], ["small.OutputPin", "neg.InputPin"],
                      ["neg.OutputPin", "mix.InputPins[1]"], ["small.OutputPin", "mix.InputPins[2]"],
                      ["mix.OutputPin", "out.InputPin"]]})";
    for (int run = 0; run < 6; ++run) {
        for (const std::string& name : Files())
            if (name != "fan.json") fs::remove(FDir / name);
        RunOk({"run", graph, "--frames", "5"});
        EXPECT_EQ(Files(), (std::set<std::string>{"fan.json", "f_0000.png", "f_0001.png", "f_0002.png", "f_0003.png",
                                                  "f_0004.png"}))
            << "run " << run;
    }
}

TEST_F(HostMultiInput, RunEndsWhenTheSourcesEndAlsoWithAnAfterStopOutput) {
    std::string text;
    {
        std::ifstream in(TwoGeneratorGraph());
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string marker = R"("StartIfNotAllRunning": false,)";
    ASSERT_NE(text.find(marker), std::string::npos);
    text.replace(text.find(marker), marker.size(), marker + R"( "AfterStop": "asLastFrame",)");
    std::ofstream(Path("graph.json")) << text;
    const TRgbImage expected =
        Overlay(Pattern(16, 9), Pattern(8, 6), 5, 2, [](int top, int base) { return std::min(top + base, 255); });
    RunOk({"run", Path("graph.json"), "--frames", "3", "--live"});
    int written = 0;
    for (const std::string& name : Files()) {
        if (name == "graph.json") continue;
        ++written;
        const TRgbImage got = ReadRgb(Path(name));
        EXPECT_TRUE(got.Pixels == expected.Pixels) << name << ": repeated frames are the last output";
    }
    EXPECT_GE(written, 1);
}

TEST_F(HostMultiInput, ExampleGraphLoadsWithItsChannelsConnected) {
    TPXGraph graph;
    graph.LoadFromFile(std::string(PIXORA_SOURCE_DIR) + "/examples/two_generators_mixer.json");
    auto& mixer = dynamic_cast<TPXVideoMixer&>(graph.Get("mixer"));
    ASSERT_EQ(mixer.GetChannels().Count(), 3);
    ASSERT_EQ(mixer.InputPins.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(static_cast<TLRSinkPin&>(mixer.InputPins[i]).IsConnected()) << i;
    EXPECT_EQ(mixer.GetChannels()[1].GetOffset().GetCX(), 460);
}

TEST_F(HostMultiInput, MixerThatCannotSizeItsOutputFailsWithOneLineAndNoFile) {
    const std::string a = Path("a.png"), out = Path("out.png");
    RunOk({"apply", "TPXJaehneGen", a, "--set", "ImageSize.Width=10", "--set", "ImageSize.Height=4"});
    const std::vector<std::string> args{"apply", "TPXVideoMixer", a, a, out, "--set", "StartIfNotAllRunning=False",
                                        "--set", "FrameSize.SizeMode=smIntersect", "--set", "Channels[1].Offset.CX=10"};
    const THostResult result = Run(args);
    EXPECT_EQ(result.ExitCode, 1) << Describe(args, result);
    EXPECT_TRUE(Contains(result.Err, "do not overlap")) << Describe(args, result);
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << Describe(args, result);
    EXPECT_EQ(Files(), (std::set<std::string>{"a.png"}));
}

}  // namespace
}  // namespace pixora::hosttest
