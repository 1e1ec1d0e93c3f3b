// The pixora host end to end, run as a separate process: list and inspect against the registry
// and the property tables, apply on PNG files checked pixel by pixel, a graph file run into a
// numbered sequence, and bad input: a non-zero exit status, exactly one line on standard error
// naming the problem, and no output file left behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "io/AvMedia.h"
#include "platform/graph/PXGraph.h"
#include "platform/registry/PXRegistry.h"
#include "tests/support/HostTest.h"

namespace pixora::hosttest {
namespace {

namespace fs = std::filesystem;
using testsupport::THostResult;

struct TImage {
    int Width = 0, Height = 0;
    TPXVideoFormat Format = vfRGB24;
    std::vector<uint8_t> Pixels;  // packed rows
};

TImage ReadImage(const std::string& file) {
    TAvMediaReader reader(file);
    TImage image{reader.Width(), reader.Height(), reader.Format(), {}};
    const int rowBytes = image.Width * (BitsPerPixel(image.Format) / 8);
    image.Pixels.resize(std::size_t(rowBytes) * std::size_t(image.Height));
    TAvFrameInfo info;
    EXPECT_TRUE(reader.ReadFrame(image.Pixels.data(), rowBytes, info)) << file;
    return image;
}

// The generator's pattern at that size, made in this process.
std::vector<uint8_t> Pattern(int width, int height) {
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(width, height);
    const IPXImageBuffer frame = gen.GenerateOne();
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = frame->GetReadPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
        pixels.insert(pixels.end(), row, row + width * 3);
    }
    return pixels;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class HostCli : public testsupport::THostTest {
protected:
    HostCli() : THostTest("pixora_host_cli") {}
};

TEST_F(HostCli, ListShowsEveryRegisteredClassUnderEachOfItsCategories) {
    const THostResult list = RunOk({"list"});
    // category -> class -> the rest of the line
    std::map<std::string, std::map<std::string, std::string>> shown;
    std::string category;
    std::istringstream lines(list.Out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        if (line[0] != ' ') {
            category = line;
            continue;
        }
        std::istringstream fields(line);
        std::string className;
        fields >> className;
        std::string rest;
        std::getline(fields, rest);
        ASSERT_FALSE(category.empty()) << "a class line before any category: " << line;
        shown[category][className] = rest;
    }
    const auto classes = TRegistry::Instance().Classes();
    for (const TComponentClass* entry : classes)
        for (const std::string& cat : entry->Categories) {
            ASSERT_TRUE(shown[cat].count(entry->ClassName)) << entry->ClassName << " missing under " << cat;
            if (!entry->DisplayName.empty()) {
                EXPECT_TRUE(Contains(shown[cat][entry->ClassName], "\"" + entry->DisplayName + "\""))
                    << entry->ClassName << ": " << shown[cat][entry->ClassName];
            }
        }
    EXPECT_TRUE(Contains(shown["TPixoraFiltersToolbarCategory"]["TPXNegative"], "\"Negative Video Filter\""));
    EXPECT_TRUE(Contains(shown["TPixoraFiltersToolbarCategory"]["TPXSolarize"], "\"Solarize Video Filter\""));
    EXPECT_TRUE(Contains(shown["TPixoraGeneratorsToolbarCategory"]["TPXJaehneGen"],
                         "\"Jaehne Test Pattern Video Generator\""));
    EXPECT_TRUE(shown["TPixoraInputToolbarCategory"].count("TPXMediaFileSource"));
    EXPECT_TRUE(shown["TPixoraOutputToolbarCategory"].count("TPXMediaFileSink"));
    std::size_t listed = 0;
    for (const auto& [cat, entries] : shown) listed += entries.size();
    std::size_t expected = 0;
    for (const TComponentClass* entry : classes) expected += entry->Categories.size();
    EXPECT_EQ(listed, expected) << "nothing listed that is not registered";
}

// The line of `inspect` output that describes a property or pin (starts with two spaces and
// the name, then white space).
std::string LineOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("  " + name + " ")) return line;
    return {};
}

TEST_F(HostCli, InspectShowsPinsAndPropertiesFromTheTable) {
    const THostResult solarize = RunOk({"inspect", "TPXSolarize"});
    EXPECT_TRUE(Contains(solarize.Out, "TPXSolarize")) << solarize.Out;
    EXPECT_TRUE(Contains(solarize.Out, "Solarize Video Filter"));
    EXPECT_TRUE(Contains(solarize.Out, "TPixoraFiltersToolbarCategory"));
    const std::string level = LineOf(solarize.Out, "Level");
    EXPECT_TRUE(Contains(level, "default 0.5")) << level;
    EXPECT_TRUE(Contains(level, "range 0 to 1")) << level;
    EXPECT_TRUE(Contains(level, "clamped")) << level;
    EXPECT_TRUE(Contains(LineOf(solarize.Out, "Enabled"), "default True")) << solarize.Out;
    EXPECT_TRUE(Contains(LineOf(solarize.Out, "RegionOfInterest.Width"), "default 100")) << solarize.Out;
    EXPECT_TRUE(Contains(LineOf(solarize.Out, "RegionOfInterest.Enabled"), "default False")) << solarize.Out;
    const std::string input = LineOf(solarize.Out, "InputPin");
    EXPECT_TRUE(Contains(input, "input") && Contains(input, "video")) << input;
    const std::string output = LineOf(solarize.Out, "OutputPin");
    EXPECT_TRUE(Contains(output, "output") && Contains(output, "video")) << output;
    // Every published property of the table has its line, with its default.
    TComponentPtr instance = TRegistry::Instance().Create("TPXSolarize");
    for (const TPropertyInfo* info : instance->GetPropertyTable().All()) {
        if (!info->Published()) continue;
        const std::string line = LineOf(solarize.Out, info->Name());
        EXPECT_FALSE(line.empty()) << info->Name() << " not shown";
        if (!info->DefaultText().empty()) {
            EXPECT_TRUE(Contains(line, "default " + info->DefaultText())) << line;
        }
    }

    const THostResult gen = RunOk({"inspect", "TPXJaehneGen"});
    const std::string width = LineOf(gen.Out, "ImageSize.Width");
    EXPECT_TRUE(Contains(width, "default 640")) << gen.Out;
    EXPECT_TRUE(Contains(width, "range 1 to 16384")) << width;
    EXPECT_TRUE(Contains(LineOf(gen.Out, "ImageSize.Height"), "default 480")) << gen.Out;
    EXPECT_TRUE(Contains(LineOf(gen.Out, "OutputPin"), "output")) << gen.Out;
    EXPECT_TRUE(LineOf(gen.Out, "InputPin").empty()) << "a generator has no input";
}

TEST_F(HostCli, ApplyMakesThePatternThenNegativeAndSolarizeOfIt) {
    const std::string x = Path("x.png"), y = Path("y.png"), z = Path("z.png");
    const THostResult made =
        RunOk({"apply", "TPXJaehneGen", x, "--set", "ImageSize.Width=37", "--set", "ImageSize.Height=23"});
    const TImage pattern = ReadImage(x);
    ASSERT_EQ(pattern.Width, 37);
    ASSERT_EQ(pattern.Height, 23);
    ASSERT_EQ(pattern.Format, vfRGB24);
    EXPECT_TRUE(pattern.Pixels == Pattern(37, 23)) << "the file holds the generator's pattern";

    RunOk({"apply", "TPXNegative", x, y});
    const TImage negative = ReadImage(y);
    ASSERT_EQ(negative.Width, 37);
    ASSERT_EQ(negative.Height, 23);
    ASSERT_EQ(negative.Pixels.size(), pattern.Pixels.size());
    for (std::size_t i = 0; i < pattern.Pixels.size(); ++i)
        ASSERT_EQ(negative.Pixels[i], 255 - pattern.Pixels[i]) << "sample " << i;

    RunOk({"apply", "TPXSolarize", x, z, "--set", "Level=0.3"});
    const TImage solarized = ReadImage(z);
    ASSERT_EQ(solarized.Pixels.size(), pattern.Pixels.size());
    // The level is the stored single-precision 0.3 times 255, to the nearest integer.
    const int threshold = int(std::nearbyint(double(0.3f) * 255.0));
    int changed = 0;
    for (std::size_t i = 0; i < pattern.Pixels.size(); ++i) {
        const int s = pattern.Pixels[i];
        ASSERT_EQ(solarized.Pixels[i], s < threshold ? 255 - s : s) << "sample " << i << " (input " << s << ")";
        changed += s < threshold;
    }
    EXPECT_GT(changed, 0) << "the pattern has samples below the level";
    EXPECT_LT(changed, int(pattern.Pixels.size())) << "and samples above it";
    EXPECT_EQ(Files(), (std::set<std::string>{"x.png", "y.png", "z.png"})) << "nothing else written";
}

TEST_F(HostCli, ApplyWithARegionOfInterestLeavesTheRestAlone) {
    const std::string x = Path("x.png"), y = Path("y.png");
    RunOk({"apply", "TPXJaehneGen", x, "--set", "ImageSize.Width=20", "--set", "ImageSize.Height=10"});
    RunOk({"apply", "TPXNegative", x, y, "--set", "RegionOfInterest.Enabled=True", "--set", "RegionOfInterest.X=3",
           "--set", "RegionOfInterest.Y=2", "--set", "RegionOfInterest.Width=5", "--set", "RegionOfInterest.Height=100"});
    const TImage in = ReadImage(x), out = ReadImage(y);
    ASSERT_EQ(out.Pixels.size(), in.Pixels.size());
    for (int py = 0; py < 10; ++py)
        for (int px = 0; px < 20; ++px)
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = std::size_t((py * 20 + px) * 3 + c);
                const bool inside = px >= 3 && px < 8 && py >= 2;  // height clamps to the frame
                ASSERT_EQ(out.Pixels[i], inside ? 255 - in.Pixels[i] : in.Pixels[i]) << px << "," << py;
            }
}

TEST_F(HostCli, RunWritesANumberedSequenceAndSavesTheGraph) {
    const std::string graphFile = Path("graph.json");
    std::ofstream(graphFile) << R"({"components": {
        "gen": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 16, "Height": 9}}},
        "neg": {"class": "TPXNegative", "properties": {"Threaded": false}},
        "out": {"class": "TPXMediaFileSink", "properties": {"FileName": ")" + Path("f_%04d.png") + R"("}}},
      "connections": [["gen.OutputPin", "neg.InputPin"], ["neg.OutputPin", "out.InputPin"]]})";
    const THostResult run = RunOk({"run", graphFile, "--frames", "5", "--save", Path("saved.json")});
    EXPECT_TRUE(Contains(run.Out, "5")) << run.Out;
    EXPECT_EQ(Files(), (std::set<std::string>{"graph.json", "saved.json", "f_0000.png", "f_0001.png", "f_0002.png",
                                              "f_0003.png", "f_0004.png"}));
    std::vector<uint8_t> expected = Pattern(16, 9);
    for (auto& s : expected) s = uint8_t(255 - s);
    for (int i = 0; i < 5; ++i) {
        const TImage frame = ReadImage(Path("f_000" + std::to_string(i) + ".png"));
        ASSERT_EQ(frame.Width, 16);
        ASSERT_EQ(frame.Height, 9);
        EXPECT_TRUE(frame.Pixels == expected) << "frame " << i;
    }
    // The saved graph is the loaded graph.
    TPXGraph original, saved;
    original.LoadFromFile(graphFile);
    saved.LoadFromFile(Path("saved.json"));
    EXPECT_EQ(saved.SaveToText(), original.SaveToText());
}

TEST_F(HostCli, HelpAndUsage) {
    const THostResult help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(Contains(help.Out, "apply")) << help.Out;
    const THostResult none = Run({});
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_FALSE(none.Err.empty());
    for (const char* command : {"list", "inspect", "apply", "run"}) {
        const THostResult result = Run({command, "--help"});
        EXPECT_EQ(result.ExitCode, 0) << command;
        EXPECT_TRUE(Contains(result.Out, command)) << command << ": " << result.Out;
    }
}

TEST_F(HostCli, BadInputGivesOneLineANonZeroStatusAndNoOutput) {
    const std::string ok = Path("ok.png");
    RunOk({"apply", "TPXJaehneGen", ok, "--set", "ImageSize.Width=8", "--set", "ImageSize.Height=8"});
    {
        std::mt19937 random(20240611);
        std::ofstream noise(Path("noise.png"), std::ios::binary);
        for (int i = 0; i < 4096; ++i) noise.put(char(random() & 0xFF));
        std::ofstream signed_(Path("signed.png"), std::ios::binary);
        signed_ << "\x89PNG\r\n\x1a\n";
        for (int i = 0; i < 512; ++i) signed_.put(char(random() & 0xFF));
        std::ifstream good(ok, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(good)), {});
        std::ofstream(Path("half.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
        std::ofstream(Path("empty.png"), std::ios::binary);
    }
    const std::string graphText = R"({"components": {"gen": {"class": "TPXJaehneGen"}, "out": {"class": "TPXMediaFileSink",
        "properties": {"FileName": ")" + Path("g_%04d.png") + R"("}}}, "connections": [["gen.OutputPin", "out.InputPin"]]})";
    std::ofstream(Path("cut.json")) << graphText.substr(0, graphText.size() - 30);
    std::ofstream(Path("unknown.json")) << R"({"components": {"gen": {"class": "TPXNoSuchGen"}}})";
    std::ofstream(Path("nosource.json")) << R"({"components": {"neg": {"class": "TPXNegative"}}})";
    std::ofstream(Path("badsink.json")) << R"({"components": {"gen": {"class": "TPXJaehneGen"},
        "out": {"class": "TPXMediaFileSink", "properties": {"FileName": ")" + Path("nofolder/s_%04d.png") + R"("}}},
        "connections": [["gen.OutputPin", "out.InputPin"]]})";
    const std::set<std::string> inputs = Files();

    struct TCase {
        std::vector<std::string> Args;
        int Status;
        std::vector<std::string> Expected;  // each must appear in the error line
    };
    const TCase cases[] = {
        {{"apply", "TPXNothing", ok, Path("o1.png")}, 1, {"TPXNothing"}},
        {{"apply", "TPXSolarize", ok, Path("o2.png"), "--set", "Levl=1"}, 1, {"'Levl'"}},
        {{"apply", "TPXSolarize", ok, Path("o3.png"), "--set", "RegionOfInterest.Wdth=1"}, 1, {"'Wdth'"}},
        {{"apply", "TPXSolarize", ok, Path("o4.png"), "--set", "Level=abc"}, 1, {"Level", "abc"}},
        {{"apply", "TPXSolarize", ok, Path("o5.png"), "--set", "Level=nan"}, 1, {"Level"}},
        {{"apply", "TPXSolarize", ok, Path("o6.png"), "--set", "Enabled=perhaps"}, 1, {"Enabled", "perhaps"}},
        {{"apply", "TPXNegative", Path("missing.png"), Path("o7.png")}, 1, {"missing.png"}},
        {{"apply", "TPXNegative", Path("noise.png"), Path("o8.png")}, 1, {"noise.png"}},
        {{"apply", "TPXNegative", Path("signed.png"), Path("o9.png")}, 1, {"signed.png"}},
        {{"apply", "TPXNegative", Path("half.png"), Path("o10.png")}, 1, {"half.png"}},
        {{"apply", "TPXNegative", Path("empty.png"), Path("o11.png")}, 1, {"empty.png"}},
        {{"apply", "TPXNegative", ok, Path("nofolder/o12.png")}, 1, {"o12.png"}},
        {{"apply", "TPXNegative", ok, Path("o13.unknownext")}, 1, {"o13.unknownext"}},
        {{"apply", "TPXNegative", ok, ok, Path("o14.png")}, 2, {"TPXNegative"}},
        {{"apply", "TPXNegative", Path("o15.png")}, 2, {"TPXNegative"}},
        {{"apply", "TPXNegative"}, 2, {"apply"}},
        {{"apply", "TPXSolarize", ok, Path("o16.png"), "--set"}, 2, {"--set"}},
        {{"apply", "TPXSolarize", ok, Path("o17.png"), "--set", "Level"}, 2, {"Level"}},
        {{"apply", "TPXSolarize", ok, Path("o18.png"), "--frames", "0"}, 2, {"--frames"}},
        {{"apply", "TPXSolarize", ok, Path("o19.png"), "--frames", "many"}, 2, {"many"}},
        {{"apply", "TPXSolarize", ok, Path("o20.png"), "--fast"}, 2, {"'--fast'"}},
        {{"run", Path("cut.json")}, 1, {"cut.json"}},
        {{"run", Path("unknown.json")}, 1, {"TPXNoSuchGen"}},
        {{"run", Path("absent.json")}, 1, {"absent.json"}},
        {{"run", Path("nosource.json")}, 1, {"source"}},
        {{"run", Path("badsink.json"), "--frames", "2"}, 1, {"nofolder"}},
        {{"run", Path("cut.json"), "--frames", "-3"}, 2, {"--frames"}},
        {{"run", Path("cut.json"), "--speed"}, 2, {"'--speed'"}},
        {{"run"}, 2, {"run"}},
        {{"inspect", "TPXNothing"}, 1, {"TPXNothing"}},
        {{"inspect"}, 2, {"inspect"}},
        {{"list", "extra"}, 2, {"list"}},
        {{"frobnicate"}, 2, {"'frobnicate'"}},
        {{"--frobnicate"}, 2, {"--frobnicate"}},
    };
    for (const TCase& c : cases) {
        const THostResult result = Run(c.Args);
        const std::string description = Describe(c.Args, result);
        EXPECT_EQ(result.ExitCode, c.Status) << description;
        const auto lines = result.ErrLines();
        ASSERT_EQ(lines.size(), 1u) << description;
        EXPECT_TRUE(lines[0].starts_with("pixora: ")) << description;
        for (const std::string& part : c.Expected) EXPECT_TRUE(Contains(lines[0], part)) << "'" << part << "' in " << description;
        EXPECT_EQ(Files(), inputs) << "left behind by " << description;
    }
}

}  // namespace
}  // namespace pixora::hosttest
