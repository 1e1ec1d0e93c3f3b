// Colour lookup: the channel tables of (level, value) pairs become full sample tables whenever the
// pairs, the mode or the format change; each frame then maps every sample through them.
#include "filters/point/PXColorLookup.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/kernels/Lookup.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

// ---- TPXLookupTable -------------------------------------------------------------------------

TChangeNotifyLock& TPXLookupTable::Lock() const { return FOwner->GetLock(); }

void TPXLookupTable::CheckIndex(int index) const {
    if (index < 0 || index >= int(FLevels.size()))
        throw ERangeError("TPXLookupTable: index " + std::to_string(index) +
                          (FLevels.empty() ? std::string(" is out of range (the table is empty)")
                                           : " is out of range 0 to " + std::to_string(FLevels.size() - 1)));
}

void TPXLookupTable::DoChange() {
    FSorted = false;
    if (FUpdateCounter > 0) {
        FChanged = true;
        return;
    }
    FChanged = false;
    FOwner->TableChanged();
}

int TPXLookupTable::GetCount() const {
    std::lock_guard guard(Lock());
    return int(FLevels.size());
}

void TPXLookupTable::SetCount(int count) {
    if (count < 0) throw ERangeError("TPXLookupTable: count " + std::to_string(count) + " is negative");
    std::lock_guard guard(Lock());
    if (std::size_t(count) == FLevels.size()) return;
    FLevels.resize(std::size_t(count));
    FValues.resize(std::size_t(count));
    DoChange();
}

int32_t TPXLookupTable::GetLevel(int index) const {
    std::lock_guard guard(Lock());
    CheckIndex(index);
    return FLevels[std::size_t(index)];
}

void TPXLookupTable::SetLevel(int index, int32_t level) {
    std::lock_guard guard(Lock());
    CheckIndex(index);
    if (FLevels[std::size_t(index)] == level) return;
    FLevels[std::size_t(index)] = level;
    DoChange();
}

int32_t TPXLookupTable::GetValue(int index) const {
    std::lock_guard guard(Lock());
    CheckIndex(index);
    return FValues[std::size_t(index)];
}

void TPXLookupTable::SetValue(int index, int32_t value) {
    std::lock_guard guard(Lock());
    CheckIndex(index);
    if (FValues[std::size_t(index)] == value) return;
    FValues[std::size_t(index)] = value;
    DoChange();
}

void TPXLookupTable::Add(int32_t level, int32_t value) {
    std::lock_guard guard(Lock());
    FLevels.push_back(level);
    FValues.push_back(value);
    DoChange();
}

void TPXLookupTable::Clear() {
    std::lock_guard guard(Lock());
    if (FLevels.empty()) return;
    FLevels.clear();
    FValues.clear();
    DoChange();
}

void TPXLookupTable::Sort() {
    std::lock_guard guard(Lock());
    if (FSorted) return;
    // A stable order: pairs with equal levels stay in insertion order.
    std::vector<std::size_t> order(FLevels.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) { return FLevels[a] < FLevels[b]; });
    FSortedLevels.resize(order.size());
    FSortedValues.resize(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        FSortedLevels[i] = FLevels[order[i]];
        FSortedValues[i] = FValues[order[i]];
    }
    FSorted = true;
}

void TPXLookupTable::BeginUpdate() {
    std::lock_guard guard(Lock());
    ++FUpdateCounter;
}

void TPXLookupTable::EndUpdate() {
    std::lock_guard guard(Lock());
    if (FUpdateCounter > 0) --FUpdateCounter;
    if (FUpdateCounter == 0 && FChanged) DoChange();
}

void TPXLookupTable::Assign(const TPXLookupTable& other) {
    if (&other == this) return;
    std::vector<int32_t> levels, values;
    other.GetPairs(levels, values);
    SetPairs(std::move(levels), std::move(values));
}

void TPXLookupTable::GetSorted(std::vector<int32_t>& levels, std::vector<int32_t>& values) {
    std::lock_guard guard(Lock());
    Sort();
    levels = FSortedLevels;
    values = FSortedValues;
}

void TPXLookupTable::GetPairs(std::vector<int32_t>& levels, std::vector<int32_t>& values) const {
    std::lock_guard guard(Lock());
    levels = FLevels;
    values = FValues;
}

void TPXLookupTable::SetPairs(std::vector<int32_t> levels, std::vector<int32_t> values) {
    if (levels.size() != values.size())
        throw ERangeError("TPXLookupTable: " + std::to_string(levels.size()) + " levels but " +
                          std::to_string(values.size()) + " values");
    std::lock_guard guard(Lock());
    if (levels == FLevels && values == FValues) return;
    FLevels = std::move(levels);
    FValues = std::move(values);
    DoChange();
}

// ---- TPXLookupTables ------------------------------------------------------------------------

TPXLookupTables::TPXLookupTables(TChangeNotifyLock& lock)
    : TLockPersistent(lock), FChannel0(*this), FChannel1(*this), FChannel2(*this), FChannel3(*this) {
    AutoInitProperties(Properties());
}

const TPropertyTable& TPXLookupTables::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXLookupTables>("TPXLookupTables", {
        Enum("LookupMode", &TPXLookupTables::FLookupMode, "TPXColorLookupMode", {"clmStep", "clmLinear", "clmCubic"},
             {.Default = clmCubic})
            .FollowUp(&TPXLookupTables::ModeChanged),
        Data("Tables", &TPXLookupTables::WriteTables, &TPXLookupTables::ReadTables),
    });
    return table;
}

TPXLookupTable& TPXLookupTables::GetColorChannel(int index) {
    switch (index) {
    case 0: return FChannel0;
    case 1: return FChannel1;
    case 2: return FChannel2;
    case 3: return FChannel3;
    default:
        throw ERangeError("TPXLookupTables: channel " + std::to_string(index) + " is out of range 0 to " +
                          std::to_string(KChannels - 1));
    }
}

void TPXLookupTables::TableChanged() {
    std::lock_guard guard(GetLock());
    ++FVersion;
    GetLock().Notify("LookupTables");
}

void TPXLookupTables::Assign(const TPXLookupTables& other) {
    if (&other == this) return;
    const TPXColorLookupMode mode = other.GetLookupMode();
    std::vector<int32_t> levels[KChannels], values[KChannels];
    for (int c = 0; c < KChannels; ++c)
        const_cast<TPXLookupTables&>(other).GetColorChannel(c).GetPairs(levels[c], values[c]);
    std::lock_guard guard(GetLock());
    SetLookupMode(mode);
    for (int c = 0; c < KChannels; ++c) GetColorChannel(c).SetPairs(std::move(levels[c]), std::move(values[c]));
}

void TPXLookupTables::WriteTables(nlohmann::json& properties) const {
    nlohmann::json block = nlohmann::json::array();
    for (int c = 0; c < KChannels; ++c) {
        std::vector<int32_t> levels, values;
        const_cast<TPXLookupTables*>(this)->GetColorChannel(c).GetPairs(levels, values);
        block.push_back({{"Levels", levels}, {"Values", values}});
    }
    properties["Tables"] = std::move(block);
}

void TPXLookupTables::ReadTables(const nlohmann::json& block) {
    const std::string where = "TPXLookupTables.Tables: ";
    if (!block.is_array())
        throw EPropertyError(where + "expected an array of " + std::to_string(KChannels) + " tables, got " +
                             std::string(block.type_name()));
    if (block.size() != std::size_t(KChannels))
        throw EPropertyError(where + "the stored block holds " + std::to_string(block.size()) + " tables, expected " +
                             std::to_string(KChannels) + " (truncated or malformed)");
    // Everything is checked before anything is stored: a bad block leaves the tables as they were.
    std::vector<int32_t> levels[KChannels], values[KChannels];
    for (int c = 0; c < KChannels; ++c) {
        const nlohmann::json& table = block[std::size_t(c)];
        const std::string at = where + "table " + std::to_string(c) + ": ";
        if (!table.is_object()) throw EPropertyError(at + "expected an object, got " + std::string(table.type_name()));
        for (const auto& [key, item] : table.items())
            if (key != "Levels" && key != "Values") throw EPropertyError(at + "unknown field '" + key + "'");
        auto read = [&](const char* name, std::vector<int32_t>& out) {
            const auto found = table.find(name);
            if (found == table.end()) throw EPropertyError(at + "the field '" + name + "' is missing (truncated block)");
            if (!found->is_array())
                throw EPropertyError(at + "'" + name + "' must be an array, got " + std::string(found->type_name()));
            for (const auto& item : *found) {
                if (!item.is_number_integer())
                    throw EPropertyError(at + "'" + name + "' holds " + item.dump() + ", expected an integer");
                const int64_t v = item.get<int64_t>();
                if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max() ||
                    (item.is_number_unsigned() && item.get<uint64_t>() > uint64_t(std::numeric_limits<int32_t>::max())))
                    throw EPropertyError(at + "'" + name + "' holds " + item.dump() + ", outside the 32-bit integer range");
                out.push_back(int32_t(v));
            }
        };
        read("Levels", levels[c]);
        read("Values", values[c]);
        if (levels[c].size() != values[c].size())
            throw EPropertyError(at + std::to_string(levels[c].size()) + " levels but " + std::to_string(values[c].size()) +
                                 " values (truncated block)");
    }
    std::lock_guard guard(GetLock());
    for (int c = 0; c < KChannels; ++c) GetColorChannel(c).SetPairs(std::move(levels[c]), std::move(values[c]));
}

// ---- TPXColorLookup -------------------------------------------------------------------------

const TPropertyTable& TPXColorLookup::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXColorLookup, TPXCommonFilter>("TPXColorLookup", {
        WithEditor(Object("LookupTables", &TPXColorLookup::FLookupTables), "Edit Color &Table ..."),
    });
    return table;
}

TPXColorLookup::TPXColorLookup(TComponent* owner) : TPXCommonFilter(owner), FLookupTables(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXColorLookup::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonFilter::SetVideoFormat(buffer);
}

void TPXColorLookup::Prepare(TPXVideoFormat format) {
    const int channels = ChannelCount(format);  // tables 0 .. channels - 1 are used
    std::vector<int32_t> levels[TPXLookupTables::KChannels], values[TPXLookupTables::KChannels];
    TPXColorLookupMode mode;
    uint64_t version;
    {
        std::lock_guard guard(GetLock());
        version = FLookupTables.Version();
        if (version == FBuiltVersion && int(format) == FBuiltFormat) return;
        mode = FLookupTables.GetLookupMode();
        for (int c = 0; c < channels; ++c) FLookupTables.GetColorChannel(c).GetSorted(levels[c], values[c]);
    }
    const auto interpolation = mode == clmStep     ? kernels::TLevelInterpolation::Step
                               : mode == clmLinear ? kernels::TLevelInterpolation::Linear
                                                   : kernels::TLevelInterpolation::Cubic;
    for (int c = 0; c < channels; ++c)
        if (levels[c].size() == 1)
            ReportWarning("lookup table " + std::to_string(c) +
                          " has one pair; a table needs at least two, so channel " + std::to_string(c) +
                          " passes through unchanged");
    if (format == vfGray16) {
        FTable16.resize(65536);
        kernels::BuildLevelTable<uint16_t>(levels[0].data(), values[0].data(), int(levels[0].size()), interpolation,
                                           FTable16.data());
        FUse16 = !kernels::IsIdentityTable(FTable16.data());
    } else {
        for (int c = 0; c < TPXLookupTables::KChannels; ++c) {
            FUse8[c] = nullptr;
            if (c >= channels) continue;
            kernels::BuildLevelTable<uint8_t>(levels[c].data(), values[c].data(), int(levels[c].size()), interpolation,
                                              FTables8[std::size_t(c)].data());
            if (!kernels::IsIdentityTable(FTables8[std::size_t(c)].data())) FUse8[c] = FTables8[std::size_t(c)].data();
        }
    }
    FBuiltVersion = version;
    FBuiltFormat = int(format);
}

void TPXColorLookup::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TPXVideoFormat format = in->GetFormat();
    if (format != vfRGB24 && format != vfRGBA32 && format != vfGray8 && format != vfGray16)
        throw EPXError(GetDisplayPath() + ": Unsupported format " + std::string(FormatName(format)));
    Prepare(format);
    const TRect whole{0, 0, in->GetWidth(), in->GetHeight()};
    // Tables that change nothing (empty, one pair, or an identity mapping) leave the output as the
    // copy of the input.
    if (format == vfGray16) {
        if (FUse16) kernels::Lookup16(in->ReadView<uint16_t>(), out->WriteView<uint16_t>(false), whole, FTable16.data());
        return;
    }
    if (FUse8[0] || FUse8[1] || FUse8[2] || FUse8[3])
        kernels::Lookup8(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(false), whole, FUse8);
}

void PXColorLookup::RegisterPkg() {
    RegisterComponents<TPXColorLookup>({"TPixoraFiltersToolbarCategory"}, "Color Lookup Video Filter");
}

}  // namespace pixora
