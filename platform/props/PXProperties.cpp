// Text and JSON codecs of published values, and the table-driven whole-object operations.
#include "platform/props/PXProperties.h"

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace pixora {

using nlohmann::json;

void TPersistent::AutoInitProperties(const TPropertyTable& table) {
    for (const auto& entry : table.Own()) entry->ApplyDefault(*this);
}

void TPropertyInfo::Fail(const TPersistent& object, const std::string& what) const {
    throw EPropertyError(object.GetPropertyTable().ClassName() + "." + Name() + ": " + what);
}

std::string TPropertyInfo::GetText(const TPersistent& object) const {
    throw EPropertyError(object.GetPropertyTable().ClassName() + "." + Name() + " has no text form");
}
void TPropertyInfo::SetText(TPersistent& object, std::string_view) const {
    throw EPropertyError(object.GetPropertyTable().ClassName() + "." + Name() + " cannot be set from text");
}

void TDataProperty::Save(const TPersistent& object, json& properties) const { FWriter(object, properties); }
void TDataProperty::Load(TPersistent& object, const json& value) const {
    try {
        FReader(object, value);
    } catch (const EPXError&) {
        throw;
    } catch (const std::exception& e) {
        throw EPropertyError(object.GetPropertyTable().ClassName() + "." + Name() + ": " + e.what());
    }
}

TPropertyTable::TPropertyTable(std::string className, const TPropertyTable* parent,
                               std::initializer_list<TPropertyEntry> entries)
    : FClassName(std::move(className)), FParent(parent) {
    for (const auto& entry : entries) FEntries.push_back(entry.Info);
}

std::vector<const TPropertyInfo*> TPropertyTable::All() const {
    std::vector<const TPropertyInfo*> all = FParent ? FParent->All() : std::vector<const TPropertyInfo*>{};
    for (const auto& entry : FEntries) all.push_back(entry.get());
    return all;
}

const TPropertyInfo* TPropertyTable::Find(std::string_view name) const {
    for (const TPropertyTable* table = this; table; table = table->FParent)
        for (const auto& entry : table->FEntries)
            if (entry->Name() == name) return entry.get();
    return nullptr;
}

namespace props_detail {

static std::string Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

static std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

bool ParseBool(std::string_view text, std::string& error) {
    std::string t = Trim(text);
    for (auto& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (t == "true" || t == "1" || t == "yes" || t == "on") return true;
    if (t == "false" || t == "0" || t == "no" || t == "off") return false;
    error = Quote(text) + " is not a Boolean (expected True or False)";
    return false;
}

std::optional<int64_t> ParseInteger(std::string_view text, bool hexColor, std::string& error) {
    std::string t = Trim(text);
    int base = 10;
    std::string_view digits = t;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    } else if (digits.starts_with("$") || (hexColor && digits.starts_with("#"))) {
        base = 16;
        digits.remove_prefix(1);
    }
    int64_t value = 0;
    bool negative = base == 10 && digits.starts_with("-");
    if (negative) digits.remove_prefix(1);
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
        error = Quote(text) + " is not an integer";
        return std::nullopt;
    }
    if (magnitude > uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1u : 0u)) {
        error = Quote(text) + " is too large";
        return std::nullopt;
    }
    value = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return value;
}

std::optional<double> ParseFloat(std::string_view text, std::string& error) {
    std::string t = Trim(text);
    double value = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
        error = Quote(text) + " is not a number";
        return std::nullopt;
    }
    if (!std::isfinite(value)) {
        error = "value must be a finite number, got " + Quote(text);
        return std::nullopt;
    }
    return value;
}

std::string FormatFloat(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::to_string(value);
}

std::string FormatColor(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", value);
    return buffer;
}

void SaveBool(json& properties, const std::string& name, bool value) { properties[name] = value; }
void SaveInteger(json& properties, const std::string& name, int64_t value) { properties[name] = value; }
void SaveUnsigned(json& properties, const std::string& name, uint64_t value) { properties[name] = value; }
void SaveFloat(json& properties, const std::string& name, double value) { properties[name] = value; }
void SaveString(json& properties, const std::string& name, const std::string& value) { properties[name] = value; }

static std::string JsonTypeOf(const json& value) { return std::string(value.type_name()); }

std::optional<bool> LoadBool(const json& value, std::string& error) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_string()) {
        bool result = ParseBool(value.get<std::string>(), error);
        if (error.empty()) return result;
        return std::nullopt;
    }
    error = "expected a Boolean, got " + JsonTypeOf(value);
    return std::nullopt;
}

std::optional<int64_t> LoadInteger(const json& value, bool hexColor, std::string& error) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max())) {
            error = value.dump() + " is too large";
            return std::nullopt;
        }
        return int64_t(value.get<uint64_t>());
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.2e18) return int64_t(d);
        error = "expected an integer, got " + value.dump();
        return std::nullopt;
    }
    if (value.is_string()) return ParseInteger(value.get<std::string>(), hexColor, error);
    error = "expected an integer, got " + JsonTypeOf(value);
    return std::nullopt;
}

std::optional<double> LoadFloat(const json& value, std::string& error) {
    if (value.is_number()) {
        const double d = value.get<double>();
        if (std::isfinite(d)) return d;
        error = "value must be a finite number";
        return std::nullopt;
    }
    if (value.is_string()) return ParseFloat(value.get<std::string>(), error);
    error = "expected a number, got " + JsonTypeOf(value);
    return std::nullopt;
}

std::optional<std::string> LoadString(const json& value, std::string& error) {
    if (value.is_string()) return value.get<std::string>();
    error = "expected a string, got " + JsonTypeOf(value);
    return std::nullopt;
}

static std::string MemberList(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

std::optional<int64_t> ParseEnum(std::string_view text, const std::vector<std::string>& names, std::string& error) {
    const std::string t = Trim(text);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == t) return int64_t(i);
    std::string ignored;
    if (auto ordinal = ParseInteger(t, false, ignored); ordinal && *ordinal >= 0 && *ordinal < int64_t(names.size()))
        return ordinal;
    error = Quote(text) + " is not one of " + MemberList(names);
    return std::nullopt;
}

std::optional<int64_t> LoadEnum(const json& value, const std::vector<std::string>& names, std::string& error) {
    if (value.is_string()) return ParseEnum(value.get<std::string>(), names, error);
    if (value.is_number_integer()) {
        const int64_t ordinal = value.get<int64_t>();
        if (ordinal >= 0 && ordinal < int64_t(names.size())) return ordinal;
        error = "ordinal " + value.dump() + " is not one of " + MemberList(names);
        return std::nullopt;
    }
    error = "expected one of " + MemberList(names) + ", got " + JsonTypeOf(value);
    return std::nullopt;
}

void SaveObject(const TPersistent& sub, const std::string& name, json& properties) {
    json nested = json::object();
    SaveProperties(sub, nested);
    properties[name] = std::move(nested);
}

void LoadObject(TPersistent& sub, const json& value, const std::string& path) {
    if (!value.is_object()) throw EPropertyError(path + ": expected an object, got " + JsonTypeOf(value));
    LoadProperties(sub, value);
}

void SaveCollection(TCollectionBase& collection, const std::string& name, json& properties) {
    json items = json::array();
    for (int i = 0; i < collection.Count(); ++i) {
        json item = json::object();
        SaveProperties(collection.Item(i), item);
        items.push_back(std::move(item));
    }
    properties[name] = std::move(items);
}

void LoadCollection(TCollectionBase& collection, const json& value, const std::string& path) {
    if (!value.is_array()) throw EPropertyError(path + ": expected an array, got " + JsonTypeOf(value));
    for (const auto& item : value)
        if (!item.is_object()) throw EPropertyError(path + ": every item must be an object, got " + JsonTypeOf(item));
    collection.Clear();
    for (const auto& item : value) LoadProperties(collection.AddItem(), item);
}

void FailNoText(const TPersistent& object, const std::string& name, const char* what) {
    throw EPropertyError(object.GetPropertyTable().ClassName() + "." + name + " is " + what +
                         "; name one of its properties, e.g. " + name + ".<property>");
}

}  // namespace props_detail

void SaveProperties(const TPersistent& object, json& properties) {
    for (const TPropertyInfo* info : object.GetPropertyTable().All())
        if (info->IsStored(object)) info->Save(object, properties);
}

void LoadProperties(TPersistent& object, const json& properties) {
    const TPropertyTable& table = object.GetPropertyTable();
    if (!properties.is_object())
        throw EPropertyError(table.ClassName() + ": properties must be a JSON object, got " +
                             std::string(properties.type_name()));
    for (const auto& [name, value] : properties.items())
        if (!table.Find(name)) throw EPropertyError(table.ClassName() + " has no property '" + name + "'");
    // Declaration order, not the file's: a size is set before the data sized by it.
    for (const TPropertyInfo* info : table.All())
        if (const auto found = properties.find(info->Name()); found != properties.end()) info->Load(object, *found);
}

// Walks a dotted path to the object that holds the last property.
static std::pair<TPersistent*, const TPropertyInfo*> Resolve(TPersistent& root, std::string_view path) {
    TPersistent* object = &root;
    std::string_view rest = path;
    while (true) {
        const std::size_t dot = rest.find('.');
        std::string_view part = rest.substr(0, dot);
        std::optional<int> index;
        if (const std::size_t bracket = part.find('['); bracket != std::string_view::npos) {
            std::string error;
            if (!part.ends_with("]"))
                throw EPropertyError("Malformed property path '" + std::string(path) + "'");
            auto value = props_detail::ParseInteger(part.substr(bracket + 1, part.size() - bracket - 2), false, error);
            if (!value) throw EPropertyError("Malformed property path '" + std::string(path) + "': " + error);
            index = int(*value);
            part = part.substr(0, bracket);
        }
        const TPropertyTable& table = object->GetPropertyTable();
        const TPropertyInfo* info = table.Find(part);
        if (!info || !info->Published())
            throw EPropertyError(table.ClassName() + " has no property '" + std::string(part) + "'");
        if (index) {
            TCollectionBase* collection = info->GetCollection(*object);
            if (!collection) throw EPropertyError(table.ClassName() + "." + std::string(part) + " is not a collection");
            if (*index < 0 || *index >= collection->Count())
                throw ERangeError(table.ClassName() + "." + std::string(part) + ": index " + std::to_string(*index) +
                                  " is out of range 0 to " + std::to_string(collection->Count() - 1));
            if (dot == std::string_view::npos)
                throw EPropertyError(table.ClassName() + "." + std::string(part) + "[" + std::to_string(*index) +
                                     "] is an item; name one of its properties");
            object = &collection->Item(*index);
        } else if (dot == std::string_view::npos) {
            return {object, info};
        } else {
            TPersistent* sub = info->GetObject(*object);
            if (!sub) throw EPropertyError(table.ClassName() + "." + std::string(part) + " has no properties of its own");
            object = sub;
        }
        rest = rest.substr(dot + 1);
    }
}

// "Items[i].Index" names an item's position, unless the item class publishes an Index itself.
struct TItemPosition {
    TCollectionBase* Collection;
    int Index;
    std::string Name;  // "Class.Items[i].Index", for messages
};

static std::optional<TItemPosition> ResolveItemPosition(TPersistent& root, std::string_view path) {
    constexpr std::string_view suffix = "].Index";
    if (!path.ends_with(suffix)) return std::nullopt;
    const std::string_view item = path.substr(0, path.size() - suffix.size() + 1);  // "...Items[i]"
    const std::size_t bracket = item.rfind('[');
    if (bracket == std::string_view::npos) return std::nullopt;
    auto [holder, info] = Resolve(root, item.substr(0, bracket));
    TCollectionBase* collection = info->GetCollection(*holder);
    if (!collection || collection->ItemTable().Find("Index")) return std::nullopt;
    std::string error;
    const auto index = props_detail::ParseInteger(item.substr(bracket + 1, item.size() - bracket - 2), false, error);
    if (!index) throw EPropertyError("Malformed property path '" + std::string(path) + "': " + error);
    const std::string name = holder->GetPropertyTable().ClassName() + "." + info->Name();
    if (*index < 0 || *index >= collection->Count())
        throw ERangeError(name + ": index " + std::to_string(*index) + " is out of range 0 to " +
                          std::to_string(collection->Count() - 1));
    return TItemPosition{collection, int(*index), name + "[" + std::to_string(*index) + "].Index"};
}

std::string GetPropertyText(TPersistent& object, std::string_view path) {
    if (const auto position = ResolveItemPosition(object, path)) return std::to_string(position->Index);
    auto [holder, info] = Resolve(object, path);
    return info->GetText(*holder);
}

void SetPropertyText(TPersistent& object, std::string_view path, std::string_view text) {
    if (const auto position = ResolveItemPosition(object, path)) {
        std::string error;
        const auto to = props_detail::ParseInteger(text, false, error);
        if (!to) throw EPropertyError(position->Name + ": " + error);
        const int count = position->Collection->Count();
        if (*to < 0 || *to >= count)
            throw ERangeError(position->Name + ": " + std::to_string(*to) + " is out of range 0 to " +
                              std::to_string(count - 1));
        position->Collection->Move(position->Index, int(*to));
        return;
    }
    auto [holder, info] = Resolve(object, path);
    info->SetText(*holder, text);
}

}  // namespace pixora
