// Graph building, persistence and the run of a whole graph.
#include "platform/graph/PXGraph.h"

#include <algorithm>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

namespace pixora {

using nlohmann::json;

TPXGraph::~TPXGraph() { Clear(); }

void TPXGraph::Clear() {
    if (FRunning) Stop();
    for (auto& [name, component] : FComponents)
        for (TLRPin* pin : component->Pins())
            if (pin->IsSource()) static_cast<TLRSourcePin*>(pin)->DisconnectAll();
    FLinks.clear();
    FComponents.clear();
}

TComponent& TPXGraph::Add(const std::string& name, std::string_view className) {
    if (name.empty()) throw EGraphError("A component needs a name");
    if (name.find('.') != std::string::npos)
        throw EGraphError("Component name '" + name + "' must not contain '.'");
    if (Find(name)) throw EGraphError("Component name '" + name + "' is used twice");
    TComponentPtr component = TRegistry::Instance().Create(className);
    component->SetName(name);
    FComponents.emplace_back(name, std::move(component));
    return *FComponents.back().second;
}

TComponent* TPXGraph::Find(std::string_view name) const {
    for (const auto& [key, component] : FComponents)
        if (key == name) return component.get();
    return nullptr;
}

TComponent& TPXGraph::Get(std::string_view name) const {
    if (TComponent* component = Find(name)) return *component;
    throw EGraphError("No component named '" + std::string(name) + "' in the graph");
}

static std::pair<std::string, std::string> SplitPinPath(const std::string& path) {
    const std::size_t dot = path.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == path.size())
        throw EGraphError("Pin '" + path + "' must be written component.Pin");
    return {path.substr(0, dot), path.substr(dot + 1)};
}

void TPXGraph::Connect(const std::string& from, const std::string& to) {
    const auto [fromName, fromPin] = SplitPinPath(from);
    const auto [toName, toPin] = SplitPinPath(to);
    TLRPin& source = Get(fromName).FindPin(fromPin);
    TLRPin& sink = Get(toName).FindPin(toPin);
    if (!source.IsSource()) throw EGraphError("Pin '" + from + "' is an input; a connection starts at an output");
    if (sink.IsSource()) throw EGraphError("Pin '" + to + "' is an output; a connection ends at an input");
    static_cast<TLRSourcePin&>(source).Connect(static_cast<TLRSinkPin&>(sink));
    const auto byName = [](const std::string& pin) { return pin.find('.') != std::string::npos; };
    FLinks.push_back({fromName, toName, &source, &sink, byName(fromPin), byName(toPin)});
}

std::vector<std::pair<std::string, std::string>> TPXGraph::Connections() const {
    std::vector<std::pair<std::string, std::string>> connections;
    for (const TLink& link : FLinks) {
        const TComponent* from = Find(link.FromComponent);
        const TComponent* to = Find(link.ToComponent);
        if (!from || !to) continue;
        const std::string fromPath = from->PinPath(link.From, link.FromByName);
        const std::string toPath = to->PinPath(link.To, link.ToByName);
        if (fromPath.empty() || toPath.empty()) continue;  // the pin was removed
        if (static_cast<const TLRSinkPin*>(link.To)->Source() != link.From) continue;  // disconnected since
        std::pair<std::string, std::string> connection{link.FromComponent + "." + fromPath, link.ToComponent + "." + toPath};
        // A pin made where a removed one lay may be connected again under the same addresses.
        if (std::find(connections.begin(), connections.end(), connection) == connections.end())
            connections.push_back(std::move(connection));
    }
    return connections;
}

void TPXGraph::LoadFromJson(const json& graph) {
    Clear();
    try {
        if (!graph.is_object()) throw EGraphError("A graph must be a JSON object with \"components\" and \"connections\"");
        for (const auto& [key, value] : graph.items())
            if (key != "components" && key != "connections")
                throw EGraphError("Unknown graph member '" + key + "' (expected \"components\" and \"connections\")");
        if (!graph.contains("components") || !graph["components"].is_object())
            throw EGraphError("A graph needs a \"components\" object");
        for (const auto& [name, entry] : graph["components"].items()) {
            if (!entry.is_object() || !entry.contains("class") || !entry["class"].is_string())
                throw EGraphError("Component '" + name + "' needs a \"class\" string");
            for (const auto& [key, value] : entry.items())
                if (key != "class" && key != "properties")
                    throw EGraphError("Component '" + name + "': unknown member '" + key + "'");
            TComponent& component = Add(name, entry["class"].get<std::string>());
            if (entry.contains("properties")) {
                try {
                    LoadProperties(component, entry["properties"]);
                } catch (const EPXError& e) {
                    throw EGraphError("Component '" + name + "': " + e.what());
                }
            }
        }
        if (graph.contains("connections")) {
            const json& connections = graph["connections"];
            if (!connections.is_array()) throw EGraphError("\"connections\" must be an array of [from, to] pairs");
            for (const auto& pair : connections) {
                if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string())
                    throw EGraphError("Each connection must be [\"component.Pin\", \"component.Pin\"], got " + pair.dump());
                Connect(pair[0].get<std::string>(), pair[1].get<std::string>());
            }
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TPXGraph::LoadFromText(const std::string& text, const std::string& sourceName) {
    Clear();  // a file that is not even JSON leaves an empty graph too
    json graph;
    try {
        graph = json::parse(text);
    } catch (const json::parse_error& e) {
        throw EGraphError(sourceName + " is not valid JSON: " + e.what());
    }
    try {
        LoadFromJson(graph);
    } catch (const EPXError& e) {
        throw EGraphError(sourceName + ": " + e.what());
    }
}

void TPXGraph::LoadFromFile(const std::string& fileName) {
    Clear();
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw EGraphError("Can't open graph file '" + fileName + "'");
    std::stringstream text;
    text << file.rdbuf();
    if (file.bad()) throw EGraphError("Can't read graph file '" + fileName + "'");
    LoadFromText(text.str(), "Graph file '" + fileName + "'");
}

json TPXGraph::SaveToJson() const {
    json components = json::object();
    for (const auto& [name, component] : FComponents) {
        json properties = json::object();
        SaveProperties(*component, properties);
        components[name] = {{"class", component->GetPropertyTable().ClassName()}, {"properties", std::move(properties)}};
    }
    json connections = json::array();
    for (const auto& [from, to] : Connections()) connections.push_back({from, to});
    return {{"components", std::move(components)}, {"connections", std::move(connections)}};
}

std::string TPXGraph::SaveToText() const { return SaveToJson().dump(2) + "\n"; }

std::vector<TComponent*> TPXGraph::TopologicalOrder() const {
    std::map<TComponent*, std::set<TComponent*>> feeds;  // component -> components it feeds
    std::map<TComponent*, int> inDegree;
    for (const auto& [name, component] : FComponents) inDegree[component.get()] = 0;
    for (const auto& [name, component] : FComponents)
        for (TLRPin* pin : component->Pins())
            if (pin->IsSource())
                for (TLRSinkPin* sink : static_cast<TLRSourcePin*>(pin)->Sinks())
                    if (inDegree.count(sink->Owner()) && feeds[component.get()].insert(sink->Owner()).second)
                        ++inDegree[sink->Owner()];
    std::vector<TComponent*> order;
    for (const auto& [name, component] : FComponents)
        if (inDegree[component.get()] == 0) order.push_back(component.get());
    for (std::size_t i = 0; i < order.size(); ++i)
        for (TComponent* next : feeds[order[i]])
            if (--inDegree[next] == 0) order.push_back(next);
    for (const auto& [name, component] : FComponents)  // cycles: append what is left
        if (inDegree[component.get()] > 0) order.push_back(component.get());
    return order;
}

void TPXGraph::Start(const TRunOptions& options) {
    bool anySource = false;
    for (const auto& [name, component] : FComponents) anySource |= component->CanStart();
    if (!anySource) throw EGraphError("The graph has no source component to start");
    FRunning = true;
    // Start downstream sources last so that everything they feed exists; order by topology.
    for (TComponent* component : TopologicalOrder())
        if (component->CanStart()) {
            try {
                component->Start(options);
            } catch (const EPXError& e) {
                Stop();
                throw EGraphError("Component '" + component->GetName() + "' could not start: " + e.what());
            }
        }
}

bool TPXGraph::WaitUntilFinished(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto order = TopologicalOrder();
    for (TComponent* component : order)
        while (component->CanStart() && !component->IsFinished()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    for (TComponent* component : order) component->WaitIdle();
    return true;
}

void TPXGraph::Stop() {
    const auto order = TopologicalOrder();
    for (TComponent* component : order)
        if (component->CanStart()) component->Stop();
    for (TComponent* component : order) component->WaitIdle();
    FRunning = false;
}

}  // namespace pixora
