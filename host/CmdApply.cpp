// pixora apply: one component over images or videos: file sources into its inputs (in pin
// order), its first video output into a file sink.
#include <chrono>
#include <cstdio>

#include "host/Host.h"
#include "platform/filters/PXCommonGen.h"
#include "platform/graph/PXGraph.h"

namespace pixora::host {

namespace {

constexpr const char* KHelp =
    "usage: pixora apply CLASS INPUT... OUTPUT [--set PROP=VALUE]... [--frames N]\n"
    "\n"
    "Runs the component CLASS over the frames of the INPUT files (one per video input\n"
    "of the component, in pin order; none for a generator, or for a filter that also\n"
    "generates, such as the noise components; a mixer gets one channel per input) and\n"
    "writes its output to\n"
    "OUTPUT: a single image (.png .jpg .bmp .tif), a numbered sequence (name with %04d)\n"
    "or a raw .y4m video.\n"
    "  --set PROP=VALUE  sets a published property; sub-objects as Parent.Child,\n"
    "                    e.g. --set RegionOfInterest.Enabled=True, items as\n"
    "                    Channels[1].Offset.CX=40\n"
    "  --frames N        stops after N frames (a generator makes 1 frame by default)\n";

std::vector<TLRSinkPin*> VideoInputs(TComponent& component) {
    std::vector<TLRSinkPin*> inputs;
    for (TLRPin* pin : component.Pins())
        if (!pin->IsSource() && pin->DataType() == TPinDataType::Video) inputs.push_back(static_cast<TLRSinkPin*>(pin));
    for (TLRPinList* list : component.PinLists())
        for (int i = 0; i < list->Count(); ++i)
            if (!(*list)[i].IsSource() && (*list)[i].DataType() == TPinDataType::Video)
                inputs.push_back(static_cast<TLRSinkPin*>(&(*list)[i]));
    return inputs;
}

TLRSourcePin* VideoOutput(TComponent& component) {
    for (TLRPin* pin : component.Pins())
        if (pin->IsSource() && pin->DataType() == TPinDataType::Video) return static_cast<TLRSourcePin*>(pin);
    for (TLRPinList* list : component.PinLists())
        for (int i = 0; i < list->Count(); ++i)
            if ((*list)[i].IsSource() && (*list)[i].DataType() == TPinDataType::Video)
                return static_cast<TLRSourcePin*>(&(*list)[i]);
    return nullptr;
}

void AddChannelsFor(TComponent& component, std::size_t inputs) {
    const TPropertyInfo* info = component.GetPropertyTable().Find("Channels");
    if (!info || info->Kind() != TPropertyKind::Collection) return;
    TCollectionBase* channels = info->GetCollection(component);
    if (!channels) return;
    const std::size_t before = VideoInputs(component).size();
    for (std::size_t i = before; i < inputs; ++i) channels->AddItem();
}

std::string PinPath(const TLRPin& pin) {
    TComponent& owner = *pin.Owner();
    for (TLRPinList* list : owner.PinLists())
        if (const int index = list->IndexOf(pin); index >= 0)
            return owner.GetName() + "." + list->Name() + "[" + std::to_string(index) + "]";
    return owner.GetName() + "." + pin.Name();
}

}  // namespace

int CmdApply(const TArgs& args) {
    if (WantsHelp(args)) {
        std::fputs(KHelp, stdout);
        return 0;
    }
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> settings;
    int64_t frames = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--set") {
            if (i + 1 >= args.size()) throw TUsageError{"--set needs PROP=VALUE"};
            const std::string& pair = args[++i];
            const std::size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) throw TUsageError{"--set needs PROP=VALUE, got '" + pair + "'"};
            settings.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        } else if (args[i] == "--frames") {
            if (i + 1 >= args.size()) throw TUsageError{"--frames needs a count"};
            try {
                std::size_t used = 0;
                frames = std::stoll(args[++i], &used);
                if (used != args[i].size() || frames < 1) throw std::invalid_argument("count");
            } catch (const std::exception&) {
                throw TUsageError{"--frames needs a positive count, got '" + args[i] + "'"};
            }
        } else if (args[i].starts_with("--")) {
            throw TUsageError{"unknown option '" + args[i] + "'"};
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() < 2) throw TUsageError{"apply needs CLASS and OUTPUT"};
    LoadPackage();
    TErrorCollector errors;
    TPXGraph graph;
    TComponent& component = graph.Add(positional[0], positional[0]);
    const std::vector<std::string> inputs(positional.begin() + 1, positional.end() - 1);
    const std::string output = positional.back();
    // A component whose inputs are the pins of a channel collection (the video mixer) gets one
    // channel per input it lacks, before the settings, so that --set can address them.
    AddChannelsFor(component, inputs.size());
    for (const auto& [path, value] : settings) SetPropertyText(component, path, value);

    const auto pins = VideoInputs(component);
    // A component that is also a source (noise) generates when given no input.
    const bool generating = inputs.empty() && component.CanStart();
    if (inputs.size() != pins.size() && !generating)
        throw TUsageError{positional[0] + " takes " + std::to_string(pins.size()) + " video input" +
                          (pins.size() == 1 ? "" : "s") + ", got " + std::to_string(inputs.size())};
    TLRSourcePin* result = VideoOutput(component);
    if (!result) throw TUsageError{positional[0] + " has no video output to write"};
    if (generating && frames < 0) frames = 1;

    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string name = "input" + std::to_string(i);
        TComponent& source = graph.Add(name, "TPXMediaFileSource");
        SetPropertyText(source, "FileName", inputs[i]);
        graph.Connect(name + ".OutputPin", PinPath(*pins[i]));
    }
    TComponent& sink = graph.Add("output", "TPXMediaFileSink");
    SetPropertyText(sink, "FileName", output);
    graph.Connect(PinPath(*result), "output.InputPin");

    graph.Start({TRunMode::Offline, frames});
    TProgress progress("apply");
    std::vector<TPXCommonGen*> sources;
    for (const auto& [name, item] : graph.Components())
        if (auto* gen = dynamic_cast<TPXCommonGen*>(item.get())) sources.push_back(gen);
    while (!graph.WaitUntilFinished(std::chrono::milliseconds(100)))
        progress.Update(sources.empty() ? 0 : sources.front()->FramesSent());
    progress.Finish();
    CloseMultiInputs(graph);
    graph.Stop();
    if (const auto reported = errors.Errors(); !reported.empty()) throw EPXError(reported.front());
    std::printf("%s\n", sink.Summary().empty() ? ("wrote " + output).c_str() : sink.Summary().c_str());
    return 0;
}

}  // namespace pixora::host
