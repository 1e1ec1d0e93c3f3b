// Published properties, declared once per class in a property table. Defaults at construction,
// get and set by name from text, JSON persistence and the host's `inspect` all read that table.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/base/PXErrors.h"
#include "platform/props/PXChangeNotifyLock.h"

namespace pixora {

class TPropertyTable;
class TCollectionBase;

// Anything with published properties: components, their persistent sub-objects, collection items.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual const TPropertyTable& GetPropertyTable() const = 0;
    virtual TChangeNotifyLock& GetLock() const = 0;

    // Reads a field under the change-notify lock: one consistent value per frame.
    template <class V>
    V ReadLocked(const V& field) const {
        std::lock_guard guard(GetLock());
        return field;
    }

protected:
    // Sets every property that this table itself declares (not its parents') to its default.
    void AutoInitProperties(const TPropertyTable& table);
    // Stores a value through the property declared for that field: range rule, change-notify
    // lock, follow-up. Used by the published C++ setters.
    template <class TClass, class V>
    void SetPublished(V TClass::*field, V value);
};

// A persistent sub-object that shares its owner's change-notify lock.
class TLockPersistent : public TPersistent {
public:
    explicit TLockPersistent(TChangeNotifyLock& ownerLock) : FLock(&ownerLock) {}
    TChangeNotifyLock& GetLock() const override { return *FLock; }

private:
    TChangeNotifyLock* FLock;
};

enum class TOutOfRange { Clamp, Refuse };
enum class TPropertyKind { Bool, Integer, Float, Enum, Color, String, Object, Collection, Data };

// One published property: what it is called, its type and rules, and how to reach it on an object.
class TPropertyInfo {
public:
    TPropertyInfo(std::string name, TPropertyKind kind) : FName(std::move(name)), FKind(kind) {}
    virtual ~TPropertyInfo() = default;

    const std::string& Name() const noexcept { return FName; }
    TPropertyKind Kind() const noexcept { return FKind; }
    const std::string& Category() const noexcept { return FCategory; }
    const std::string& DisplayName() const noexcept { return FDisplayName.empty() ? FName : FDisplayName; }
    // Data blocks are persisted but not shown or set by name.
    bool Published() const noexcept { return FKind != TPropertyKind::Data; }

    virtual std::string TypeName() const = 0;
    virtual std::string DefaultText() const { return {}; }
    virtual std::string RangeText() const { return {}; }
    virtual std::vector<std::string> MemberNames() const { return {}; }
    // The table of a sub-object or collection item class.
    virtual const TPropertyTable* ItemTable() const { return nullptr; }

    virtual void ApplyDefault(TPersistent&) const {}
    virtual std::string GetText(const TPersistent& object) const;
    virtual void SetText(TPersistent& object, std::string_view text) const;
    virtual void Save(const TPersistent& object, nlohmann::json& properties) const = 0;
    virtual void Load(TPersistent& object, const nlohmann::json& value) const = 0;
    virtual TPersistent* GetObject(TPersistent&) const { return nullptr; }
    virtual TCollectionBase* GetCollection(TPersistent&) const { return nullptr; }

    // Whether SaveProperties writes the property for this object; always, unless a stored-test
    // was declared. A property that is not written keeps its default when the object is loaded.
    bool IsStored(const TPersistent& object) const { return !FStoredTest || FStoredTest(object); }
    // The designer's entry for editing the value in a dialog ("Edit &Kernel ..."); empty for none.
    const std::string& EditorEntry() const noexcept { return FEditorEntry; }

    void SetCategory(std::string category) { FCategory = std::move(category); }
    void SetDisplayName(std::string name) { FDisplayName = std::move(name); }
    void SetStoredTest(std::function<bool(const TPersistent&)> test) { FStoredTest = std::move(test); }
    void SetEditorEntry(std::string entry) { FEditorEntry = std::move(entry); }

protected:
    [[noreturn]] void Fail(const TPersistent& object, const std::string& what) const;

private:
    std::string FName;
    TPropertyKind FKind;
    std::string FCategory, FDisplayName, FEditorEntry;
    std::function<bool(const TPersistent&)> FStoredTest;
};

// Options of a value property; Min and Max are inclusive.
template <class V>
struct TPropOpts {
    V Default{};
    std::optional<V> Min{};
    std::optional<V> Max{};
    TOutOfRange OutOfRange = TOutOfRange::Clamp;
    const char* Category = nullptr;
    const char* DisplayName = nullptr;
};

namespace props_detail {

// Value codecs shared by every value property (defined once, in PXProperties.cpp).
bool ParseBool(std::string_view text, std::string& error);
std::optional<int64_t> ParseInteger(std::string_view text, bool hexColor, std::string& error);
std::optional<double> ParseFloat(std::string_view text, std::string& error);
std::string FormatFloat(double value);
std::string FormatColor(uint32_t value);
void SaveBool(nlohmann::json& properties, const std::string& name, bool value);
void SaveInteger(nlohmann::json& properties, const std::string& name, int64_t value);
void SaveUnsigned(nlohmann::json& properties, const std::string& name, uint64_t value);
void SaveFloat(nlohmann::json& properties, const std::string& name, double value);
void SaveString(nlohmann::json& properties, const std::string& name, const std::string& value);
// Each returns nullopt with a message when the JSON value has the wrong type.
std::optional<bool> LoadBool(const nlohmann::json& value, std::string& error);
std::optional<int64_t> LoadInteger(const nlohmann::json& value, bool hexColor, std::string& error);
std::optional<double> LoadFloat(const nlohmann::json& value, std::string& error);
std::optional<std::string> LoadString(const nlohmann::json& value, std::string& error);
std::optional<int64_t> LoadEnum(const nlohmann::json& value, const std::vector<std::string>& names, std::string& error);
std::optional<int64_t> ParseEnum(std::string_view text, const std::vector<std::string>& names, std::string& error);

template <class V>
constexpr TPropertyKind KindOf() {
    if constexpr (std::is_same_v<V, bool>) return TPropertyKind::Bool;
    else if constexpr (std::is_enum_v<V>) return TPropertyKind::Enum;
    else if constexpr (std::is_integral_v<V>) return TPropertyKind::Integer;
    else if constexpr (std::is_floating_point_v<V>) return TPropertyKind::Float;
    else return TPropertyKind::String;
}

template <class V>
std::string TypeNameOf() {
    if constexpr (std::is_same_v<V, bool>) return "Boolean";
    else if constexpr (std::is_same_v<V, uint8_t>) return "Byte";
    else if constexpr (std::is_same_v<V, uint16_t>) return "Word";
    else if constexpr (std::is_same_v<V, uint32_t>) return "Cardinal";
    else if constexpr (std::is_same_v<V, int32_t>) return "Integer";
    else if constexpr (std::is_same_v<V, int64_t>) return "Int64";
    else if constexpr (std::is_same_v<V, uint64_t>) return "UInt64";
    else if constexpr (std::is_same_v<V, float>) return "Single";
    else if constexpr (std::is_same_v<V, double>) return "Double";
    else return "String";
}

}  // namespace props_detail

// A property over a data member of TClass of value type V (number, Boolean, enumeration,
// colour or string), with an optional custom setter and follow-up procedure.
template <class TClass, class V>
class TFieldProperty final : public TPropertyInfo {
public:
    using TSetter = void (TClass::*)(V);
    using TFollowUp = void (TClass::*)();

    TFieldProperty(std::string name, V TClass::*field, TPropOpts<V> opts, TPropertyKind kind,
                   std::vector<std::string> members = {}, std::string enumType = {})
        : TPropertyInfo(std::move(name), kind), FField(field), FOpts(std::move(opts)), FMembers(std::move(members)),
          FEnumType(std::move(enumType)) {
        if (FOpts.Category) SetCategory(FOpts.Category);
        if (FOpts.DisplayName) SetDisplayName(FOpts.DisplayName);
    }

    V TClass::*Field() const noexcept { return FField; }
    void SetSetter(TSetter setter) { FSetter = setter; }
    void SetFollowUp(TFollowUp followUp) { FFollowUpProc = followUp; }

    std::string TypeName() const override {
        if (Kind() == TPropertyKind::Color) return "TColor";
        if (Kind() == TPropertyKind::Enum) return FEnumType.empty() ? "enumeration" : FEnumType;
        return props_detail::TypeNameOf<V>();
    }
    std::string DefaultText() const override { return Format(FOpts.Default); }
    std::string RangeText() const override {
        if (!FOpts.Min && !FOpts.Max) return {};
        std::string text = (FOpts.Min ? Format(*FOpts.Min) : std::string("-")) + " to " +
                           (FOpts.Max ? Format(*FOpts.Max) : std::string("-"));
        return text + (FOpts.OutOfRange == TOutOfRange::Clamp ? " (clamped)" : "");
    }
    std::vector<std::string> MemberNames() const override { return FMembers; }

    void ApplyDefault(TPersistent& object) const override { Cast(object).*FField = FOpts.Default; }

    V Get(const TPersistent& object) const { return object.ReadLocked(Cast(object).*FField); }

    // Validates and stores through the change-notify lock, bypassing any custom setter.
    void Store(TPersistent& object, V value) const {
        value = Validate(object, value);
        TClass& self = Cast(object);
        auto followUp = [&] {
            if (FFollowUpProc) (self.*FFollowUpProc)();
        };
        object.GetLock().NotifySetter(self.*FField, value, followUp, Name());
    }
    // What setting by name does: the custom setter when there is one, else Store.
    void Assign(TPersistent& object, V value) const {
        if (FSetter) {
            (Cast(object).*FSetter)(Validate(object, value));
        } else {
            Store(object, value);
        }
    }

    std::string GetText(const TPersistent& object) const override { return Format(Get(object)); }
    void SetText(TPersistent& object, std::string_view text) const override {
        using namespace props_detail;
        std::string error;
        if constexpr (std::is_same_v<V, bool>) {
            const bool value = ParseBool(text, error);
            if (!error.empty()) Fail(object, error);
            Assign(object, value);
        } else if constexpr (std::is_enum_v<V>) {
            const auto ordinal = ParseEnum(text, FMembers, error);
            if (!ordinal) Fail(object, error);
            Assign(object, V(*ordinal));
        } else if constexpr (std::is_integral_v<V>) {
            const auto value = ParseInteger(text, Kind() == TPropertyKind::Color, error);
            if (!value) Fail(object, error);
            Assign(object, FromInteger(object, *value));
        } else if constexpr (std::is_floating_point_v<V>) {
            const auto value = ParseFloat(text, error);
            if (!value) Fail(object, error);
            Assign(object, FromDouble(object, *value));
        } else {
            Assign(object, V(text));
        }
    }
    void Save(const TPersistent& object, nlohmann::json& properties) const override {
        using namespace props_detail;
        const V value = Get(object);
        if constexpr (std::is_same_v<V, bool>) SaveBool(properties, Name(), value);
        else if constexpr (std::is_enum_v<V>) SaveString(properties, Name(), Format(value));
        else if constexpr (std::is_integral_v<V> && std::is_unsigned_v<V>) SaveUnsigned(properties, Name(), value);
        else if constexpr (std::is_integral_v<V>) SaveInteger(properties, Name(), value);
        else if constexpr (std::is_floating_point_v<V>) SaveFloat(properties, Name(), value);
        else SaveString(properties, Name(), value);
    }
    void Load(TPersistent& object, const nlohmann::json& json) const override {
        using namespace props_detail;
        std::string error;
        if constexpr (std::is_same_v<V, bool>) {
            const auto value = LoadBool(json, error);
            if (!value) Fail(object, error);
            Assign(object, *value);
        } else if constexpr (std::is_enum_v<V>) {
            const auto ordinal = LoadEnum(json, FMembers, error);
            if (!ordinal) Fail(object, error);
            Assign(object, V(*ordinal));
        } else if constexpr (std::is_integral_v<V>) {
            const auto value = LoadInteger(json, Kind() == TPropertyKind::Color, error);
            if (!value) Fail(object, error);
            Assign(object, FromInteger(object, *value));
        } else if constexpr (std::is_floating_point_v<V>) {
            const auto value = LoadFloat(json, error);
            if (!value) Fail(object, error);
            Assign(object, FromDouble(object, *value));
        } else {
            const auto value = LoadString(json, error);
            if (!value) Fail(object, error);
            Assign(object, *value);
        }
    }

private:
    static TClass& Cast(TPersistent& object) { return static_cast<TClass&>(object); }
    static const TClass& Cast(const TPersistent& object) { return static_cast<const TClass&>(object); }

    std::string Format(const V& value) const {
        using namespace props_detail;
        if constexpr (std::is_same_v<V, bool>) return value ? "True" : "False";
        else if constexpr (std::is_enum_v<V>) {
            const auto ordinal = std::size_t(value);
            return ordinal < FMembers.size() ? FMembers[ordinal] : std::to_string(ordinal);
        } else if constexpr (std::is_integral_v<V>) {
            return Kind() == TPropertyKind::Color ? FormatColor(uint32_t(value)) : std::to_string(value);
        } else if constexpr (std::is_floating_point_v<V>) return FormatFloat(double(value));
        else return value;
    }

    V FromInteger(const TPersistent& object, int64_t value) const {
        if constexpr (std::is_integral_v<V> && !std::is_same_v<V, bool>) {
            using L = std::numeric_limits<V>;
            const bool below = value < 0 ? (std::is_unsigned_v<V> || value < int64_t(L::min())) : false;
            const bool above = value > 0 && uint64_t(value) > uint64_t(L::max());
            if (below || above)
                Fail(object, std::to_string(value) + " does not fit " + TypeName() + " (" + std::to_string(L::min()) +
                                 " to " + std::to_string(L::max()) + ")");
            return V(value);
        } else {
            return V(value);
        }
    }
    V FromDouble(const TPersistent& object, double value) const {
        if constexpr (std::is_same_v<V, float>) {
            if (std::fabs(value) > double(std::numeric_limits<float>::max()))
                Fail(object, props_detail::FormatFloat(value) + " does not fit Single");
        }
        return V(value);
    }

    V Validate(const TPersistent& object, V value) const {
        if constexpr (std::is_floating_point_v<V>) {
            if (!std::isfinite(value)) Fail(object, "value must be a finite number");
        }
        if constexpr (!std::is_same_v<V, std::string> && !std::is_same_v<V, bool>) {
            if constexpr (std::is_enum_v<V>) {
                if (std::size_t(value) >= FMembers.size())
                    Fail(object, "ordinal " + std::to_string(std::size_t(value)) + " is not a member of " + TypeName());
            }
            const bool below = FOpts.Min && value < *FOpts.Min;
            const bool above = FOpts.Max && *FOpts.Max < value;
            if (below || above) {
                if (FOpts.OutOfRange == TOutOfRange::Refuse)
                    Fail(object, Format(value) + " is out of range " + (FOpts.Min ? Format(*FOpts.Min) : "-") + " to " +
                                     (FOpts.Max ? Format(*FOpts.Max) : "-"));
                value = below ? *FOpts.Min : *FOpts.Max;
            }
        }
        return value;
    }

    V TClass::*FField;
    TPropOpts<V> FOpts;
    std::vector<std::string> FMembers;
    std::string FEnumType;
    TSetter FSetter = nullptr;
    TFollowUp FFollowUpProc = nullptr;
};

// A published sub-object held by value; it persists as a nested JSON object.
template <class TClass, class TSub>
class TObjectProperty final : public TPropertyInfo {
public:
    TObjectProperty(std::string name, TSub TClass::*field) : TPropertyInfo(std::move(name), TPropertyKind::Object), FField(field) {}
    std::string TypeName() const override;
    const TPropertyTable* ItemTable() const override { return &TSub::Properties(); }
    TPersistent* GetObject(TPersistent& object) const override { return &(static_cast<TClass&>(object).*FField); }
    std::string GetText(const TPersistent& object) const override;
    void SetText(TPersistent& object, std::string_view) const override;
    void Save(const TPersistent& object, nlohmann::json& properties) const override;
    void Load(TPersistent& object, const nlohmann::json& value) const override;

private:
    TSub TClass::*FField;
};

// Items of a collection: persistent objects created by the collection, sharing its lock.
class TCollectionBase {
public:
    virtual ~TCollectionBase() = default;
    virtual int Count() const = 0;
    virtual TPersistent& Item(int index) = 0;
    virtual TPersistent& AddItem() = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    // Moves the item at `from` to position `to`; the items between shift by one. Item identity
    // is kept, so references to items stay valid.
    virtual void Move(int from, int to) = 0;
    virtual const TPropertyTable& ItemTable() const = 0;
};

template <class TItem>
class TCollection final : public TCollectionBase {
public:
    explicit TCollection(TChangeNotifyLock& lock) : FLock(&lock) {}
    int Count() const override {
        std::lock_guard guard(*FLock);
        return int(FItems.size());
    }
    TItem& operator[](int index) {
        std::lock_guard guard(*FLock);
        CheckIndex(index);
        return *FItems[std::size_t(index)];
    }
    TPersistent& Item(int index) override { return (*this)[index]; }
    TItem& Add() {
        std::lock_guard guard(*FLock);
        FItems.push_back(std::make_unique<TItem>(*FLock));
        FLock->Notify();
        return *FItems.back();
    }
    TPersistent& AddItem() override { return Add(); }
    void Delete(int index) override {
        std::lock_guard guard(*FLock);
        CheckIndex(index);
        FItems.erase(FItems.begin() + index);
        FLock->Notify();
    }
    void Clear() override {
        std::lock_guard guard(*FLock);
        if (FItems.empty()) return;
        FItems.clear();
        FLock->Notify();
    }
    void Move(int from, int to) override {
        std::lock_guard guard(*FLock);
        CheckIndex(from);
        CheckIndex(to);
        if (from == to) return;
        const auto first = FItems.begin();
        if (from < to) std::rotate(first + from, first + from + 1, first + to + 1);
        else std::rotate(first + to, first + from, first + from + 1);
        FLock->Notify();
    }
    // The position of an item of this collection, -1 when it is not one.
    int IndexOf(const TItem& item) const {
        std::lock_guard guard(*FLock);
        for (std::size_t i = 0; i < FItems.size(); ++i)
            if (FItems[i].get() == &item) return int(i);
        return -1;
    }
    const TPropertyTable& ItemTable() const override { return TItem::Properties(); }
    auto begin() { return FItems.begin(); }
    auto end() { return FItems.end(); }

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= int(FItems.size()))
            throw ERangeError("List index out of bounds (" + std::to_string(index) + "), count is " +
                              std::to_string(FItems.size()));
    }
    TChangeNotifyLock* FLock;
    std::vector<std::unique_ptr<TItem>> FItems;
};

// A published collection; it persists as a JSON array of item objects.
template <class TClass, class TItem>
class TCollectionProperty final : public TPropertyInfo {
public:
    TCollectionProperty(std::string name, TCollection<TItem> TClass::*field)
        : TPropertyInfo(std::move(name), TPropertyKind::Collection), FField(field) {}
    std::string TypeName() const override;
    const TPropertyTable* ItemTable() const override { return &TItem::Properties(); }
    TCollectionBase* GetCollection(TPersistent& object) const override {
        return &(static_cast<TClass&>(object).*FField);
    }
    std::string GetText(const TPersistent& object) const override;
    void SetText(TPersistent& object, std::string_view) const override;
    void Save(const TPersistent& object, nlohmann::json& properties) const override;
    void Load(TPersistent& object, const nlohmann::json& value) const override;

private:
    TCollection<TItem> TClass::*FField;
};

// A block that a class writes and reads itself under a persisted name ("_MatrixDat" and such).
class TDataProperty final : public TPropertyInfo {
public:
    using TWriter = std::function<void(const TPersistent&, nlohmann::json&)>;
    using TReader = std::function<void(TPersistent&, const nlohmann::json&)>;
    TDataProperty(std::string name, TWriter writer, TReader reader)
        : TPropertyInfo(std::move(name), TPropertyKind::Data), FWriter(std::move(writer)), FReader(std::move(reader)) {}
    std::string TypeName() const override { return "data"; }
    void Save(const TPersistent& object, nlohmann::json& properties) const override;
    void Load(TPersistent& object, const nlohmann::json& value) const override;

private:
    TWriter FWriter;
    TReader FReader;
};

// Chaining helper returned by the declaration functions below.
template <class TClass, class V>
struct TFieldDecl {
    std::shared_ptr<TFieldProperty<TClass, V>> Info;
    TFieldDecl&& Setter(void (TClass::*setter)(V)) && {
        Info->SetSetter(setter);
        return std::move(*this);
    }
    TFieldDecl&& FollowUp(void (TClass::*followUp)()) && {
        Info->SetFollowUp(followUp);
        return std::move(*this);
    }
    // Persisted only when the object's test says so (a value equal to a class default is not).
    TFieldDecl&& Stored(bool (TClass::*test)() const) && {
        Info->SetStoredTest([test](const TPersistent& o) { return (static_cast<const TClass&>(o).*test)(); });
        return std::move(*this);
    }
};

// One entry of a table's declaration list.
struct TPropertyEntry {
    std::shared_ptr<const TPropertyInfo> Info;
    template <class TClass, class V>
    TPropertyEntry(TFieldDecl<TClass, V>&& decl) : Info(std::move(decl.Info)) {}
    template <class TInfo>
    TPropertyEntry(std::shared_ptr<TInfo> info) : Info(std::move(info)) {}
};

// The published properties of one class, and a link to those of its base class.
class TPropertyTable {
public:
    TPropertyTable(std::string className, const TPropertyTable* parent, std::initializer_list<TPropertyEntry> entries);

    // The usual way to declare: TPropertyTable::Of<TPXSolarize, TPXCommonBasicROIProcessingFilter>(...).
    template <class TClass, class TBase = void>
    static TPropertyTable Of(std::string className, std::initializer_list<TPropertyEntry> entries) {
        if constexpr (std::is_void_v<TBase>) return TPropertyTable(std::move(className), nullptr, entries);
        else return TPropertyTable(std::move(className), &TBase::Properties(), entries);
    }

    const std::string& ClassName() const noexcept { return FClassName; }
    const TPropertyTable* Parent() const noexcept { return FParent; }
    // Entries of this class only.
    const std::vector<std::shared_ptr<const TPropertyInfo>>& Own() const noexcept { return FEntries; }
    // Every entry, base classes first.
    std::vector<const TPropertyInfo*> All() const;
    // Searches this class and its bases; nullptr when not declared.
    const TPropertyInfo* Find(std::string_view name) const;

private:
    std::string FClassName;
    const TPropertyTable* FParent;
    std::vector<std::shared_ptr<const TPropertyInfo>> FEntries;
};

// Declaration functions: one per value type, plus sub-objects, collections and data blocks.
template <class TClass, class V>
TFieldDecl<TClass, V> MakeField(const char* name, V TClass::*field, TPropOpts<V> opts, TPropertyKind kind) {
    return {std::make_shared<TFieldProperty<TClass, V>>(name, field, std::move(opts), kind)};
}
template <class TClass>
auto Bool(const char* name, bool TClass::*field, TPropOpts<bool> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Bool); }
template <class TClass>
auto Int(const char* name, int32_t TClass::*field, TPropOpts<int32_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Integer); }
template <class TClass>
auto Int64(const char* name, int64_t TClass::*field, TPropOpts<int64_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Integer); }
template <class TClass>
auto Byte(const char* name, uint8_t TClass::*field, TPropOpts<uint8_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Integer); }
template <class TClass>
auto Word(const char* name, uint16_t TClass::*field, TPropOpts<uint16_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Integer); }
template <class TClass>
auto Cardinal(const char* name, uint32_t TClass::*field, TPropOpts<uint32_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Integer); }
template <class TClass>
auto Float(const char* name, float TClass::*field, TPropOpts<float> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Float); }
template <class TClass>
auto Double(const char* name, double TClass::*field, TPropOpts<double> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Float); }
template <class TClass>
auto String(const char* name, std::string TClass::*field, TPropOpts<std::string> opts = {}) { return MakeField(name, field, opts, TPropertyKind::String); }
template <class TClass>
auto Color(const char* name, uint32_t TClass::*field, TPropOpts<uint32_t> opts = {}) { return MakeField(name, field, opts, TPropertyKind::Color); }
// Enumeration members are named in ordinal order, starting at 0.
template <class TClass, class E>
TFieldDecl<TClass, E> Enum(const char* name, E TClass::*field, const char* typeName, std::vector<std::string> members,
                           TPropOpts<E> opts = {}) {
    static_assert(std::is_enum_v<E>);
    return {std::make_shared<TFieldProperty<TClass, E>>(name, field, std::move(opts), TPropertyKind::Enum,
                                                        std::move(members), typeName)};
}
template <class TClass, class TSub>
auto Object(const char* name, TSub TClass::*field) { return std::make_shared<TObjectProperty<TClass, TSub>>(name, field); }
template <class TClass, class TItem>
auto Collection(const char* name, TCollection<TItem> TClass::*field) {
    return std::make_shared<TCollectionProperty<TClass, TItem>>(name, field);
}
template <class TClass>
auto Data(const char* name, void (TClass::*writer)(nlohmann::json&) const, void (TClass::*reader)(const nlohmann::json&)) {
    return std::make_shared<TDataProperty>(
        name, [writer](const TPersistent& o, nlohmann::json& j) { (static_cast<const TClass&>(o).*writer)(j); },
        [reader](TPersistent& o, const nlohmann::json& j) { (static_cast<TClass&>(o).*reader)(j); });
}

// A sub-object or collection with a designer editor entry: WithEditor(Object(...), "Edit &Kernel ...").
template <class TInfo>
std::shared_ptr<TInfo> WithEditor(std::shared_ptr<TInfo> info, const char* entry) {
    info->SetEditorEntry(entry);
    return info;
}
// A collection that is persisted only when it holds at least one item.
template <class TInfo>
std::shared_ptr<TInfo> StoredWhenNotEmpty(std::shared_ptr<TInfo> info) {
    const TInfo* raw = info.get();
    info->SetStoredTest([raw](const TPersistent& o) {
        return raw->GetCollection(const_cast<TPersistent&>(o))->Count() > 0;
    });
    return info;
}

// Whole-object operations driven by the tables.
void SaveProperties(const TPersistent& object, nlohmann::json& properties);
// Applies every member of a JSON object; an unknown name raises EPropertyError.
void LoadProperties(TPersistent& object, const nlohmann::json& properties);
// Dotted paths reach sub-objects and collection items: "ThresholdTop.Threshold", "Points[2].X".
// "Channels[2].Index" is an item's position: reading gives 2, setting moves the item.
std::string GetPropertyText(TPersistent& object, std::string_view path);
void SetPropertyText(TPersistent& object, std::string_view path, std::string_view text);

template <class TClass, class V>
void TPersistent::SetPublished(V TClass::*field, V value) {
    for (const TPropertyTable* table = &GetPropertyTable(); table; table = table->Parent())
        for (const auto& entry : table->Own())
            if (auto* info = dynamic_cast<const TFieldProperty<TClass, V>*>(entry.get()); info && info->Field() == field) {
                info->Store(*this, value);
                return;
            }
    throw EPropertyError(GetPropertyTable().ClassName() + ": setter for a field that no property declares");
}

// Definitions that need the sub-object's table.
namespace props_detail {
void SaveObject(const TPersistent& sub, const std::string& name, nlohmann::json& properties);
void LoadObject(TPersistent& sub, const nlohmann::json& value, const std::string& path);
void SaveCollection(TCollectionBase& collection, const std::string& name, nlohmann::json& properties);
void LoadCollection(TCollectionBase& collection, const nlohmann::json& value, const std::string& path);
[[noreturn]] void FailNoText(const TPersistent& object, const std::string& name, const char* what);
}  // namespace props_detail

template <class TClass, class TSub>
std::string TObjectProperty<TClass, TSub>::TypeName() const { return TSub::Properties().ClassName(); }
template <class TClass, class TSub>
std::string TObjectProperty<TClass, TSub>::GetText(const TPersistent& object) const {
    props_detail::FailNoText(object, Name(), "an object");
}
template <class TClass, class TSub>
void TObjectProperty<TClass, TSub>::SetText(TPersistent& object, std::string_view) const {
    props_detail::FailNoText(object, Name(), "an object");
}
template <class TClass, class TSub>
void TObjectProperty<TClass, TSub>::Save(const TPersistent& object, nlohmann::json& properties) const {
    props_detail::SaveObject(static_cast<const TClass&>(object).*FField, Name(), properties);
}
template <class TClass, class TSub>
void TObjectProperty<TClass, TSub>::Load(TPersistent& object, const nlohmann::json& value) const {
    props_detail::LoadObject(static_cast<TClass&>(object).*FField, value, object.GetPropertyTable().ClassName() + "." + Name());
}
template <class TClass, class TItem>
std::string TCollectionProperty<TClass, TItem>::TypeName() const { return "collection of " + TItem::Properties().ClassName(); }
template <class TClass, class TItem>
std::string TCollectionProperty<TClass, TItem>::GetText(const TPersistent& object) const {
    props_detail::FailNoText(object, Name(), "a collection");
}
template <class TClass, class TItem>
void TCollectionProperty<TClass, TItem>::SetText(TPersistent& object, std::string_view) const {
    props_detail::FailNoText(object, Name(), "a collection");
}
template <class TClass, class TItem>
void TCollectionProperty<TClass, TItem>::Save(const TPersistent& object, nlohmann::json& properties) const {
    props_detail::SaveCollection(const_cast<TClass&>(static_cast<const TClass&>(object)).*FField, Name(), properties);
}
template <class TClass, class TItem>
void TCollectionProperty<TClass, TItem>::Load(TPersistent& object, const nlohmann::json& value) const {
    props_detail::LoadCollection(static_cast<TClass&>(object).*FField, value, object.GetPropertyTable().ClassName() + "." + Name());
}

}  // namespace pixora
