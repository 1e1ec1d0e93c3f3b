// Package loading, error collection and progress display of the host.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "host/Host.h"
#include "platform/filters/PXMultiInput.h"
#include "platform/graph/PXGraph.h"
#include "platform/registry/PXRegistry.h"

namespace pixora::host {

namespace {
std::mutex GErrorsMutex;
std::vector<std::string> GErrors;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void LoadPackage() {
    static bool loaded = false;
    if (loaded) return;
    std::string path;
    if (const char* env = std::getenv("PIXORA_PACKAGE"); env && *env) {
        path = env;
    } else {
        std::error_code error;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
        path = (error ? std::filesystem::path(".") : exe.parent_path()) / "libpixora.so";
    }
    TRegistry::Instance().LoadPackage(path);
    loaded = true;
}

void CloseMultiInputs(TPXGraph& graph) {
    for (TComponent* component : graph.TopologicalOrder())
        if (auto* multi = dynamic_cast<TPXMultiInput*>(component)) {
            multi->Close();
            multi->WaitIdle();
        }
}

bool WantsHelp(const TArgs& args) {
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

TErrorCollector::TErrorCollector() {
    SetErrorHandler([](const TComponent& component, const std::string& message) {
        std::lock_guard lock(GErrorsMutex);
        GErrors.push_back(component.GetDisplayPath() + ": " + message);
    });
    SetWarningHandler([](const TComponent& component, const std::string& message) {
        std::fprintf(stderr, "pixora: warning: %s: %s\n", component.GetDisplayPath().c_str(), message.c_str());
    });
}

TErrorCollector::~TErrorCollector() {
    SetErrorHandler({});
    SetWarningHandler({});
}

std::vector<std::string> TErrorCollector::Errors() const {
    std::lock_guard lock(GErrorsMutex);
    return GErrors;
}

TProgress::TProgress(std::string what) : FWhat(std::move(what)), FStart(NowMs()) {}

void TProgress::Update(long long frames) {
    const long long now = NowMs();
    if (now - FStart < 1000 || now - FLastShown < 200) return;
    FLastShown = now;
    FShown = true;
    std::fprintf(stderr, "\r%s: %lld frames, %.1f s", FWhat.c_str(), frames, double(now - FStart) / 1000.0);
    std::fflush(stderr);
}

void TProgress::Finish() {
    if (FShown) std::fputs("\n", stderr);
}

}  // namespace pixora::host
