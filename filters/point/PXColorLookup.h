// Maps every sample through a per-channel table of (level, value) pairs with step, linear or
// cubic interpolation between the levels; samples outside a table's levels keep their value.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/filters/PXCommonFilter.h"

namespace pixora {

enum TPXColorLookupMode : uint8_t { clmStep, clmLinear, clmCubic };

class TPXLookupTables;

// One channel's pairs, in insertion order, plus the same pairs sorted by ascending level (pairs
// with equal levels keep their insertion order), rebuilt on demand. Every operation takes the
// owner's lock. A change is announced through the owner once, or once at the end of an update
// bracket (BeginUpdate / EndUpdate) however many changes it held. Levels and values are any
// 32-bit integers: a level outside the sample range only bounds an interval, a value outside it
// saturates when applied.
class TPXLookupTable final {
public:
    explicit TPXLookupTable(TPXLookupTables& owner) : FOwner(&owner) {}
    TPXLookupTable(const TPXLookupTable&) = delete;
    TPXLookupTable& operator=(const TPXLookupTable&) = delete;

    int GetCount() const;
    // A larger count appends (0, 0) pairs; a negative count raises ERangeError.
    void SetCount(int count);
    // Indices 0 .. GetCount() - 1, in insertion order; others raise ERangeError.
    int32_t GetLevel(int index) const;
    void SetLevel(int index, int32_t level);
    int32_t GetValue(int index) const;
    void SetValue(int index, int32_t value);
    void Add(int32_t level, int32_t value);
    void Clear();
    // Brings the sorted pairs up to date.
    void Sort();
    void BeginUpdate();
    // Ends a bracket (never below zero); the outermost end announces the changes it held.
    void EndUpdate();
    void Assign(const TPXLookupTable& other);

    // The sorted pairs, sorting first when needed.
    void GetSorted(std::vector<int32_t>& levels, std::vector<int32_t>& values);
    // The pairs in insertion order.
    void GetPairs(std::vector<int32_t>& levels, std::vector<int32_t>& values) const;
    // Replaces all pairs at once (levels and values of equal length).
    void SetPairs(std::vector<int32_t> levels, std::vector<int32_t> values);

private:
    TChangeNotifyLock& Lock() const;
    void CheckIndex(int index) const;
    void DoChange();

    TPXLookupTables* FOwner;
    std::vector<int32_t> FLevels, FValues;
    std::vector<int32_t> FSortedLevels, FSortedValues;
    bool FSorted = true;
    int FUpdateCounter = 0;
    bool FChanged = false;
};

// The four channel tables (channel 3 is alpha) and the interpolation mode. The tables persist as
// the data block "Tables": an array of four objects {"Levels": [...], "Values": [...]}, pairs in
// insertion order.
class TPXLookupTables final : public TLockPersistent {
public:
    static constexpr int KChannels = 4;

    explicit TPXLookupTables(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXColorLookupMode GetLookupMode() const { return ReadLocked(FLookupMode); }
    void SetLookupMode(TPXColorLookupMode value) { SetPublished(&TPXLookupTables::FLookupMode, value); }
    // Channel 0..3; other indices raise ERangeError.
    TPXLookupTable& GetColorChannel(int index);
    // Takes the other object's mode and pairs.
    void Assign(const TPXLookupTables& other);
    // Counts announced changes of the pairs or the mode; read under the lock.
    uint64_t Version() const { return FVersion; }

private:
    friend class TPXLookupTable;
    void TableChanged();
    void ModeChanged() { ++FVersion; }
    void WriteTables(nlohmann::json& properties) const;
    void ReadTables(const nlohmann::json& block);

    TPXColorLookupMode FLookupMode;
    TPXLookupTable FChannel0, FChannel1, FChannel2, FChannel3;
    uint64_t FVersion = 0;
};

class TPXColorLookup final : public TPXCommonFilter {
public:
    explicit TPXColorLookup(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLookupTables& LookupTables() { return FLookupTables; }
    // Setting the tables copies the given object.
    void SetLookupTables(const TPXLookupTables& value) { FLookupTables.Assign(value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    // Rebuilds the sample tables from the pairs when they or the format changed.
    void Prepare(TPXVideoFormat format);

    TPXLookupTables FLookupTables;
    uint64_t FBuiltVersion = 0;
    int FBuiltFormat = -1;
    std::array<std::array<uint8_t, 256>, 4> FTables8{};
    const uint8_t* FUse8[4] = {};  // null: the channel passes through
    std::vector<uint16_t> FTable16;
    bool FUse16 = false;
};

namespace PXColorLookup {
void RegisterPkg();
}

}  // namespace pixora
