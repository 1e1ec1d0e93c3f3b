// A graph of named components and pin connections: built in code or loaded from a JSON graph
// file, saved back to the same form, started and stopped as one.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/registry/PXRegistry.h"

namespace pixora {

class TPXGraph {
public:
    TPXGraph() = default;
    ~TPXGraph();
    TPXGraph(const TPXGraph&) = delete;
    TPXGraph& operator=(const TPXGraph&) = delete;

    // Creates a component of a registered class under a unique name.
    TComponent& Add(const std::string& name, std::string_view className);
    TComponent* Find(std::string_view name) const;
    TComponent& Get(std::string_view name) const;  // raises EGraphError when missing
    const std::vector<std::pair<std::string, TComponentPtr>>& Components() const noexcept { return FComponents; }

    // "gen.OutputPin" to "neg.InputPin"; pins of lists as "mix.InputPins[1]" or "hist.OutputPins.Red".
    void Connect(const std::string& from, const std::string& to);
    // The connections made through Connect that still stand, written as the pins are placed now:
    // a mixer channel moved to another position keeps its connection under its new index, and a
    // connection whose pin was removed or disconnected is gone.
    std::vector<std::pair<std::string, std::string>> Connections() const;

    // The graph file form: {"components": {name: {"class", "properties"}}, "connections": [[from, to]]}.
    // Loading checks everything before it keeps anything: on error the graph stays empty.
    void LoadFromJson(const nlohmann::json& graph);
    void LoadFromText(const std::string& text, const std::string& sourceName = "graph");
    void LoadFromFile(const std::string& fileName);
    nlohmann::json SaveToJson() const;
    std::string SaveToText() const;

    // Starts every source; the other components follow the stream.
    void Start(const TRunOptions& options);
    // Waits until every source has finished and everything downstream has processed what it
    // was sent; false when the timeout passed first.
    bool WaitUntilFinished(std::chrono::milliseconds timeout);
    // Stops the sources and waits for the stop to reach every component.
    void Stop();
    void Clear();
    // Components in an order where every component comes after those that feed it.
    std::vector<TComponent*> TopologicalOrder() const;

private:
    std::vector<std::pair<std::string, TComponentPtr>> FComponents;
    struct TLink {
        std::string FromComponent, ToComponent;
        const TLRPin* From;  // compared, not read, until the component is seen to still have it
        const TLRPin* To;
        bool FromByName, ToByName;  // written "List.Name" rather than "List[i]"
    };
    std::vector<TLink> FLinks;
    bool FRunning = false;
};

}  // namespace pixora
