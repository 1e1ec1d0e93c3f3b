// Test classes that declare their own property tables the way components do: every value kind,
// a refused range, a follow-up procedure, a custom setter, a sub-object, a collection and a
// sized data block.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/component/PXComponent.h"
#include "platform/image/PXVideoFormat.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora::proptest {

enum TPXGadgetMode : uint8_t { gmOff, gmSlow, gmFast };

// One item of the gadget's collection.
class TGadgetItem final : public TLockPersistent {
public:
    explicit TGadgetItem(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TGadgetItem>("TGadgetItem", {
            Int("Offset", &TGadgetItem::Offset, {.Default = 7, .Min = -100, .Max = 100}),
            String("Caption", &TGadgetItem::Caption, {.Default = "item"}),
        });
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    int32_t Offset;
    std::string Caption;
};

// A component with one property of every kind. The matrix persists as a size block
// "_MatrixDataSize" ([rows, cols]) followed by a value block "_MatrixDat" (rows x cols numbers).
class TGadget final : public TLockComponent {
public:
    TGadget() : Items(GetLock()), Region(GetLock()) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties() {
        using T = TGadget;
        static const TPropertyTable table = TPropertyTable::Of<T, TLockComponent>("TGadget", {
            Bool("Flag", &T::Flag, {.Default = true}),
            Byte("Small", &T::Small, {.Default = 3}),
            Word("Medium", &T::Medium, {.Default = 500}),
            Cardinal("Large", &T::Large, {.Default = 7}),
            Int("Count", &T::Count, {.Default = 0}),
            Int64("Big", &T::Big, {.Default = -1}),
            Int("Strict", &T::Strict, {.Default = 5, .Min = 0, .Max = 10, .OutOfRange = TOutOfRange::Refuse}),
            Double("Ratio", &T::Ratio, {.Default = 0.25, .Min = 0.0, .Max = 1.0, .OutOfRange = TOutOfRange::Refuse}),
            Int("Clamped", &T::Clamped, {.Default = 0, .Min = -5, .Max = 5}),
            Float("Gain", &T::Gain, {.Default = 1.5f}),
            Color("Tint", &T::Tint, {.Default = KDRGB(0x30, 0x20, 0x10)}),
            String("Label", &T::Label, {.Default = "none"}),
            Enum("Mode", &T::Mode, "TPXGadgetMode", {"gmOff", "gmSlow", "gmFast"}, {.Default = gmSlow}),
            Int("Followed", &T::Followed, {.Default = 0}).FollowUp(&T::FollowedChanged),
            Int("Custom", &T::Custom, {.Default = 0, .Min = 0, .Max = 50}).Setter(&T::SetCustom),
            Object("Region", &T::Region),
            Collection("Items", &T::Items),
            Data("_MatrixDataSize", &T::WriteMatrixSize, &T::ReadMatrixSize),
            Data("_MatrixDat", &T::WriteMatrixData, &T::ReadMatrixData),
        });
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // A published C++ setter, as components write them.
    void SetBig(int64_t value) { SetPublished(&TGadget::Big, value); }

    void SetMatrix(int rows, int cols, std::vector<double> values) {
        std::lock_guard guard(GetLock());
        MatrixRows = rows;
        MatrixCols = cols;
        Matrix = std::move(values);
    }

    bool Flag;
    uint8_t Small;
    uint16_t Medium;
    uint32_t Large;
    int32_t Count;
    int64_t Big;
    int32_t Strict;
    double Ratio;
    int32_t Clamped;
    float Gain;
    TColor Tint;
    std::string Label;
    TPXGadgetMode Mode;
    int32_t Followed;
    int32_t Custom;
    TCollection<TGadgetItem> Items;
    TPXRectRegion Region;

    int MatrixRows = 2, MatrixCols = 2;
    std::vector<double> Matrix{1.0, 0.0, 0.0, 1.0};

    // What the follow-up procedure saw, and what the custom setter was handed.
    std::vector<int32_t> FollowUpSaw;
    std::vector<int32_t> CustomSetterGot;

private:
    void FollowedChanged() { FollowUpSaw.push_back(Followed); }
    void SetCustom(int32_t value) {
        CustomSetterGot.push_back(value);
        SetPublished(&TGadget::Custom, value);
    }

    void WriteMatrixSize(nlohmann::json& out) const { out["_MatrixDataSize"] = {MatrixRows, MatrixCols}; }
    void ReadMatrixSize(const nlohmann::json& in) {
        if (!in.is_array() || in.size() != 2 || !in[0].is_number_integer() || !in[1].is_number_integer() ||
            in[0].get<int>() < 1 || in[1].get<int>() < 1)
            throw EPropertyError("TGadget._MatrixDataSize: expected [rows, cols] with both at least 1, got " + in.dump());
        MatrixRows = in[0].get<int>();
        MatrixCols = in[1].get<int>();
        Matrix.assign(std::size_t(MatrixRows * MatrixCols), 0.0);
    }
    void WriteMatrixData(nlohmann::json& out) const { out["_MatrixDat"] = Matrix; }
    void ReadMatrixData(const nlohmann::json& in) {
        const std::size_t expected = std::size_t(MatrixRows * MatrixCols);
        if (!in.is_array() || in.size() != expected)
            throw EPropertyError("TGadget._MatrixDat: holds " + std::to_string(in.is_array() ? in.size() : 0) +
                                 " values, _MatrixDataSize announces " + std::to_string(MatrixRows) + " x " +
                                 std::to_string(MatrixCols));
        // A non-number element makes the JSON library raise; the data property turns that into
        // a property error naming the block.
        Matrix = in.get<std::vector<double>>();
    }
};

// The message of the EPXError that `call` raises; fails the test when it raises nothing or
// something else.
template <class F>
std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const EPXError& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "raised a non-platform exception: " << e.what();
        return "<non-platform exception>";
    }
    ADD_FAILURE() << "raised nothing";
    return {};
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace pixora::proptest
