// A test fixture for running the pixora host: a fresh folder per test (kept when the test
// fails), paths in it, runs of the host with the command line and its output in every message.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "frame/PixoraPkg.h"
#include "tests/support/HostRunner.h"

namespace pixora::testsupport {

class THostTest : public testing::Test {
protected:
    // prefix names the folder: <temp>/<prefix>_<pid>_<test name>.
    explicit THostTest(std::string prefix) : FPrefix(std::move(prefix)) {}

    void SetUp() override {
        RegisterPackage();
        FDir = std::filesystem::temp_directory_path() /
               (FPrefix + "_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(FDir);
        std::filesystem::create_directories(FDir);
    }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(FDir);
    }

    std::string Path(const std::string& name) const { return (FDir / name).string(); }

    static std::string Describe(const std::vector<std::string>& args, const THostResult& result) {
        std::string text = "pixora";
        for (const auto& arg : args) text += " " + arg;
        return text + "\n  exit " + std::to_string(result.ExitCode) + "\n  stdout: " + result.Out +
               "\n  stderr: " + result.Err;
    }
    static THostResult Run(const std::vector<std::string>& args) {
        THostResult result = RunProgram(PIXORA_HOST_BINARY, args);
        EXPECT_FALSE(result.TimedOut) << Describe(args, result);
        return result;
    }
    // Runs and requires success with nothing on standard error.
    static THostResult RunOk(const std::vector<std::string>& args) {
        THostResult result = Run(args);
        EXPECT_EQ(result.ExitCode, 0) << Describe(args, result);
        EXPECT_EQ(result.Err, "") << Describe(args, result);
        return result;
    }
    // Every file in the folder, by name.
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FDir))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::filesystem::path FDir;

private:
    std::string FPrefix;
};

}  // namespace pixora::testsupport
