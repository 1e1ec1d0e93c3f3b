// pixora run: loads a graph file, runs it offline (as fast as it goes) or live (paced by the
// sources' clocks), and reports what the file sinks wrote.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "host/Host.h"
#include "platform/filters/PXCommonGen.h"
#include "platform/graph/PXGraph.h"

namespace pixora::host {

namespace {

constexpr const char* KHelp =
    "usage: pixora run GRAPH.json [--frames N] [--live] [--save FILE]\n"
    "\n"
    "Loads a graph file ({\"components\": {...}, \"connections\": [[from, to], ...]})\n"
    "and runs it until every source has finished.\n"
    "  --frames N   each source stops after N frames\n"
    "  --live       sources pace frames by their frame rate instead of running as fast\n"
    "               as the graph allows\n"
    "  --save FILE  writes the loaded graph back as JSON (every property) before running\n"
    "Ctrl-C stops the sources; files written so far are completed.\n";

std::atomic<bool> GInterrupted{false};
extern "C" void OnInterrupt(int) { GInterrupted.store(true); }

}  // namespace

int CmdRun(const TArgs& args) {
    if (WantsHelp(args)) {
        std::fputs(KHelp, stdout);
        return 0;
    }
    std::string file, save;
    TRunOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--live") {
            options.Mode = TRunMode::Live;
        } else if (args[i] == "--frames") {
            if (i + 1 >= args.size()) throw TUsageError{"--frames needs a count"};
            try {
                std::size_t used = 0;
                options.FrameLimit = std::stoll(args[++i], &used);
                if (used != args[i].size() || options.FrameLimit < 1) throw std::invalid_argument("count");
            } catch (const std::exception&) {
                throw TUsageError{"--frames needs a positive count, got '" + args[i] + "'"};
            }
        } else if (args[i] == "--save") {
            if (i + 1 >= args.size()) throw TUsageError{"--save needs a file name"};
            save = args[++i];
        } else if (args[i].starts_with("--")) {
            throw TUsageError{"unknown option '" + args[i] + "'"};
        } else if (file.empty()) {
            file = args[i];
        } else {
            throw TUsageError{"run takes one graph file"};
        }
    }
    if (file.empty()) throw TUsageError{"run needs a graph file"};
    LoadPackage();
    TErrorCollector errors;
    TPXGraph graph;
    graph.LoadFromFile(file);
    if (!save.empty()) {
        std::ofstream out(save);
        out << graph.SaveToText();
        if (!out) throw EPXError("Can't write graph file '" + save + "'");
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    graph.Start(options);
    TProgress progress("run");
    std::vector<TPXCommonGen*> sources;
    for (const auto& [name, item] : graph.Components())
        if (auto* gen = dynamic_cast<TPXCommonGen*>(item.get())) sources.push_back(gen);
    while (!graph.WaitUntilFinished(std::chrono::milliseconds(100))) {
        if (GInterrupted.load()) break;
        long long frames = 0;
        for (auto* source : sources) frames = std::max<long long>(frames, source->FramesSent());
        progress.Update(frames);
    }
    progress.Finish();
    CloseMultiInputs(graph);
    graph.Stop();
    for (const auto& [name, item] : graph.Components())
        if (const std::string summary = item->Summary(); !summary.empty())
            std::printf("%s: %s\n", name.c_str(), summary.c_str());
    if (const auto reported = errors.Errors(); !reported.empty()) throw EPXError(reported.front());
    return 0;
}

}  // namespace pixora::host
