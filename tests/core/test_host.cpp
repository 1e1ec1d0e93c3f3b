// The pixora host end to end: list, inspect, apply on PNG files, run a graph file, and one
// clear line with a non-zero exit status for every kind of bad input, with no output left.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "io/AvMedia.h"

namespace pixora {
namespace {

namespace fs = std::filesystem;

struct TRunResult {
    int Status = -1;
    std::string Out, Err;
};

class Host : public testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("pixora_host_" + std::to_string(::getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    std::string Path(const std::string& name) const { return (FDir / name).string(); }

    TRunResult Run(const std::string& arguments) const {
        const std::string errFile = Path("stderr.txt");
        const std::string command = std::string(PIXORA_HOST_BINARY) + " " + arguments + " 2>" + errFile;
        TRunResult result;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return result;
        std::array<char, 4096> buffer{};
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) result.Out.append(buffer.data(), n);
        const int status = pclose(pipe);
        result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(errFile);
        result.Err.assign(std::istreambuf_iterator<char>(err), {});
        return result;
    }

    // Pixels of an image file through the media reader: width, height, format and packed rows.
    static std::vector<uint8_t> ReadPixels(const std::string& file, int& width, int& height, TPXVideoFormat& format) {
        TAvMediaReader reader(file);
        width = reader.Width();
        height = reader.Height();
        format = reader.Format();
        std::vector<uint8_t> pixels(std::size_t(width) * height * (BitsPerPixel(format) / 8));
        TAvFrameInfo info;
        EXPECT_TRUE(reader.ReadFrame(pixels.data(), width * (BitsPerPixel(format) / 8), info));
        return pixels;
    }

    static int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

    fs::path FDir;
};

TEST_F(Host, ListAndInspectComeFromTheRegistryAndTheTables) {
    const TRunResult list = Run("list");
    ASSERT_EQ(list.Status, 0) << list.Err;
    for (const char* text : {"TPixoraFiltersToolbarCategory", "TPXNegative", "\"Solarize Video Filter\"", "TPXJaehneGen",
                             "TPXMediaFileSource", "TPXMediaFileSink"})
        EXPECT_NE(list.Out.find(text), std::string::npos) << text;
    const TRunResult inspect = Run("inspect TPXSolarize");
    ASSERT_EQ(inspect.Status, 0) << inspect.Err;
    EXPECT_NE(inspect.Out.find("Level"), std::string::npos);
    EXPECT_NE(inspect.Out.find("default 0.5"), std::string::npos);
    EXPECT_NE(inspect.Out.find("range 0 to 1 (clamped)"), std::string::npos);
    EXPECT_NE(inspect.Out.find("RegionOfInterest.Width"), std::string::npos);
    EXPECT_NE(inspect.Out.find("InputPin"), std::string::npos);
    EXPECT_EQ(Run("inspect --help").Status, 0);
}

TEST_F(Host, ApplyNegativeAndSolarizeToAPng) {
    const TRunResult pattern =
        Run("apply TPXJaehneGen " + Path("in.png") + " --set ImageSize.Width=37 --set ImageSize.Height=23");
    ASSERT_EQ(pattern.Status, 0) << pattern.Err;
    ASSERT_EQ(Run("apply TPXNegative " + Path("in.png") + " " + Path("neg.png")).Status, 0);
    ASSERT_EQ(Run("apply TPXSolarize " + Path("in.png") + " " + Path("sol.png") + " --set Level=0.3 --set MultiCore=True")
                  .Status,
              0);
    int w = 0, h = 0;
    TPXVideoFormat format{};
    const auto in = ReadPixels(Path("in.png"), w, h, format);
    ASSERT_EQ(w, 37);
    ASSERT_EQ(h, 23);
    ASSERT_EQ(format, vfRGB24);
    const auto neg = ReadPixels(Path("neg.png"), w, h, format);
    const auto sol = ReadPixels(Path("sol.png"), w, h, format);
    const int level = 76;  // 0.3 x 255 = 76.5 in float is 76.49999..., to nearest: 76
    for (std::size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(neg[i], 255 - in[i]) << i;
        ASSERT_EQ(sol[i], in[i] < level ? 255 - in[i] : in[i]) << i;
    }
}

TEST_F(Host, RunAGraphFileIntoANumberedSequence) {
    std::ofstream(Path("graph.json")) << R"({"components": {
        "gen": {"class": "TPXJaehneGen", "properties": {"ImageSize": {"Width": 16, "Height": 8}}},
        "neg": {"class": "TPXNegative"},
        "out": {"class": "TPXMediaFileSink", "properties": {"FileName": ")" + Path("f_%04d.png") + R"("}}},
      "connections": [["gen.OutputPin", "neg.InputPin"], ["neg.OutputPin", "out.InputPin"]]})";
    const TRunResult run = Run("run " + Path("graph.json") + " --frames 5 --save " + Path("saved.json"));
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(fs::exists(Path("f_000" + std::to_string(i) + ".png"))) << i;
    EXPECT_FALSE(fs::exists(Path("f_0005.png")));
    EXPECT_NE(run.Out.find("5 frames"), std::string::npos) << run.Out;
    EXPECT_TRUE(fs::exists(Path("saved.json")));
}

TEST_F(Host, BadInputGivesOneLineAndNoOutput) {
    std::ofstream(Path("noise.png")) << "this is not a picture";
    {
        std::ofstream png(Path("cut.png"), std::ios::binary);
        png << "\x89PNG\r\n\x1a\n";
    }
    std::ofstream(Path("cut.json")) << R"({"components": {"gen": {"class": "TPXJae)";
    ASSERT_EQ(Run("apply TPXJaehneGen " + Path("ok.png")).Status, 0);
    struct TCase {
        std::string Arguments, Expected;
        int Status;
    };
    const TCase cases[] = {
        {"apply TPXNothing " + Path("ok.png") + " " + Path("o1.png"), "Unknown component class 'TPXNothing'", 1},
        {"apply TPXSolarize " + Path("ok.png") + " " + Path("o2.png") + " --set Levl=1", "has no property 'Levl'", 1},
        {"apply TPXSolarize " + Path("ok.png") + " " + Path("o3.png") + " --set Level=abc", "'abc' is not a number", 1},
        {"apply TPXNegative " + Path("missing.png") + " " + Path("o4.png"), "missing.png", 1},
        {"apply TPXNegative " + Path("noise.png") + " " + Path("o5.png"), "noise.png", 1},
        {"apply TPXNegative " + Path("cut.png") + " " + Path("o6.png"), "cut.png", 1},
        {"apply TPXNegative " + Path("ok.png") + " " + Path("o7.xyz"), "o7.xyz", 1},
        {"apply TPXNegative " + Path("ok.png") + " " + Path("ok.png") + " " + Path("o8.png"), "takes 1 video input", 2},
        {"run " + Path("cut.json"), "not valid JSON", 1},
        {"run " + Path("absent.json"), "Can't open graph file", 1},
        {"frobnicate", "unknown command 'frobnicate'", 2},
        {"run " + Path("cut.json") + " --fast", "unknown option '--fast'", 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Arguments);
        const TRunResult result = Run(c.Arguments);
        EXPECT_EQ(result.Status, c.Status);
        EXPECT_EQ(Lines(result.Err), 1) << result.Err;
        EXPECT_NE(result.Err.find(c.Expected), std::string::npos) << result.Err;
    }
    for (const auto& entry : fs::directory_iterator(FDir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "ok.png" || name == "noise.png" || name == "cut.png" || name == "cut.json" ||
                    name == "stderr.txt")
            << "left behind: " << name;
    }
}

}  // namespace
}  // namespace pixora
