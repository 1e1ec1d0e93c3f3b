// Published properties from their one declaration: defaults, text and JSON for every kind,
// clamping and refusal, one notification per effective change, sub-objects, collections and
// custom data blocks, and the registry's classes round-tripping through JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "filters/point/PXSolarize.h"
#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {
namespace {

using nlohmann::json;

enum TPXTestMode : uint8_t { tmFirst, tmSecond, tmThird };

class TTestItem final : public TLockPersistent {
public:
    explicit TTestItem(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TTestItem>("TTestItem", {
            Int("Offset", &TTestItem::FOffset, {.Default = 7}),
        });
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    int32_t FOffset;
};

// A component using every kind of declaration, as later components will.
class TEveryKind final : public TLockComponent {
public:
    TEveryKind() : FItems(GetLock()), FRegion(GetLock()) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties() {
        using T = TEveryKind;
        static const TPropertyTable table = TPropertyTable::Of<T, TLockComponent>("TEveryKind", {
            Bool("Flag", &T::FFlag, {.Default = true}),
            Byte("Small", &T::FSmall, {.Default = 3}),
            Word("Seed", &T::FSeed, {.Default = 31192}),
            Int("Refused", &T::FRefused, {.Default = 5, .Min = 0, .Max = 10, .OutOfRange = TOutOfRange::Refuse}),
            Double("Ratio", &T::FRatio, {.Default = 0.25, .Min = 0.0, .Max = 1.0}),
            Color("Background", &T::FBackground, {.Default = KDRGB(1, 2, 3)}),
            String("Label", &T::FLabel, {.Default = "none"}),
            Enum("Mode", &T::FMode, "TPXTestMode", {"tmFirst", "tmSecond", "tmThird"}, {.Default = tmSecond}),
            Object("Region", &T::FRegion),
            Collection("Items", &T::FItems),
            Data("_MatrixDataSize", &T::WriteSize, &T::ReadSize),
            Data("_MatrixDat", &T::WriteData, &T::ReadData),
        });
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool FFlag;
    uint8_t FSmall;
    uint16_t FSeed;
    int32_t FRefused;
    double FRatio;
    TColor FBackground;
    std::string FLabel;
    TPXTestMode FMode;
    TCollection<TTestItem> FItems;
    TPXRectRegion FRegion;
    std::vector<float> FMatrix{1.0f, 2.0f, 3.0f};
    std::size_t FAnnounced = 3;

private:
    void WriteSize(json& out) const { out["_MatrixDataSize"] = FMatrix.size(); }
    void ReadSize(const json& in) {
        if (!in.is_number_integer() || in.get<int64_t>() < 0) throw EPropertyError("_MatrixDataSize must be a count");
        FAnnounced = in.get<std::size_t>();
    }
    void WriteData(json& out) const { out["_MatrixDat"] = FMatrix; }
    void ReadData(const json& in) {
        if (!in.is_array() || in.size() < FAnnounced)
            throw EPropertyError("_MatrixDat holds fewer values than _MatrixDataSize announces");
        FMatrix = in.get<std::vector<float>>();
        FMatrix.resize(FAnnounced);
    }
};

TEST(Properties, DefaultsComeFromTheDeclaration) {
    TEveryKind object;
    EXPECT_TRUE(object.FFlag);
    EXPECT_EQ(object.FSeed, 31192);
    EXPECT_EQ(object.FMode, tmSecond);
    EXPECT_EQ(object.FLabel, "none");
    EXPECT_FALSE(object.FRegion.GetEnabled());
    TPXSolarize solarize;
    EXPECT_FLOAT_EQ(solarize.GetLevel(), 0.5f);
    EXPECT_TRUE(solarize.GetEnabled());
    TPXJaehneGen gen;
    EXPECT_EQ(gen.ImageSize().GetSize(), (TSize{640, 480}));
}

TEST(Properties, TextForEveryKind) {
    TEveryKind o;
    SetPropertyText(o, "Flag", "False");
    SetPropertyText(o, "Small", "200");
    SetPropertyText(o, "Seed", "0x10");
    SetPropertyText(o, "Ratio", "0.75");
    SetPropertyText(o, "Background", "$00FF0000");
    SetPropertyText(o, "Label", "a b");
    SetPropertyText(o, "Mode", "tmThird");
    SetPropertyText(o, "Region.Width", "33");
    EXPECT_FALSE(o.FFlag);
    EXPECT_EQ(o.FSmall, 200);
    EXPECT_EQ(o.FSeed, 16);
    EXPECT_DOUBLE_EQ(o.FRatio, 0.75);
    EXPECT_EQ(o.FBackground, KDRGB(0, 0, 255));
    EXPECT_EQ(o.FLabel, "a b");
    EXPECT_EQ(o.FMode, tmThird);
    EXPECT_EQ(o.FRegion.GetRectangle().Width, 33);
    EXPECT_EQ(GetPropertyText(o, "Mode"), "tmThird");
    EXPECT_EQ(GetPropertyText(o, "Background"), "0x00FF0000");
    SetPropertyText(o, "Mode", "0");
    EXPECT_EQ(o.FMode, tmFirst);
}

// The message of the EPropertyError a call raises, or "" when it raises none.
template <class F>
std::string ErrorOf(F call) {
    try {
        call();
    } catch (const EPXError& e) {
        return e.what();
    }
    return {};
}

TEST(Properties, BadTextIsRefusedWithAMessageNamingThePropertyAndNothingChanges) {
    TEveryKind o;
    EXPECT_EQ(ErrorOf([&] { SetPropertyText(o, "Ratio", "abc"); }), "TEveryKind.Ratio: 'abc' is not a number");
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Ratio", "nan"); }).find("finite"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Ratio", "inf"); }).find("finite"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Small", "300"); }).find("does not fit Byte (0 to 255)"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Small", "-1"); }).find("does not fit"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Flag", "maybe"); }).find("not a Boolean"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Mode", "tmFourth"); }).find("tmFirst, tmSecond, tmThird"), std::string::npos);
    EXPECT_EQ(ErrorOf([&] { SetPropertyText(o, "Refused", "11"); }), "TEveryKind.Refused: 11 is out of range 0 to 10");
    EXPECT_EQ(ErrorOf([&] { SetPropertyText(o, "Nope", "1"); }), "TEveryKind has no property 'Nope'");
    EXPECT_EQ(ErrorOf([&] { SetPropertyText(o, "Region.Nope", "1"); }), "TPXRectRegion has no property 'Nope'");
    EXPECT_NE(ErrorOf([&] { SetPropertyText(o, "Region", "1"); }).find("is an object"), std::string::npos);
    EXPECT_DOUBLE_EQ(o.FRatio, 0.25);
    EXPECT_EQ(o.FSmall, 3);
    EXPECT_EQ(o.FRefused, 5);
}

TEST(Properties, ClampedValuesAndOneNotificationPerEffectiveChange) {
    TPXSolarize solarize;
    std::vector<std::string> changes;
    solarize.GetLock().Subscribe([&](std::string_view name) { changes.emplace_back(name); });
    solarize.SetLevel(0.7f);
    solarize.SetLevel(0.7f);  // same value: no change, no notification
    SetPropertyText(solarize, "Level", "5");  // clamped to 1.0
    SetPropertyText(solarize, "Level", "1.0");  // already 1.0
    solarize.SetLevel(-3.0f);  // clamped to 0.0
    EXPECT_EQ(changes, (std::vector<std::string>{"Level", "Level", "Level"}));
    EXPECT_FLOAT_EQ(solarize.GetLevel(), 0.0f);
}

TEST(Properties, JsonRoundTripIncludingSubObjectsCollectionsAndDataBlocks) {
    TEveryKind o;
    o.FItems.Add().FOffset = 11;
    o.FItems.Add().FOffset = 12;
    o.FMatrix = {4.0f, 5.0f};
    SetPropertyText(o, "Mode", "tmFirst");
    SetPropertyText(o, "Region.Enabled", "True");
    json saved;
    SaveProperties(o, saved);
    EXPECT_EQ(saved["Mode"], "tmFirst");
    EXPECT_EQ(saved["_MatrixDataSize"], 2);
    EXPECT_EQ(saved["Items"].size(), 2u);

    TEveryKind loaded;
    LoadProperties(loaded, saved);
    json again;
    SaveProperties(loaded, again);
    EXPECT_EQ(again, saved);
    EXPECT_EQ(loaded.FItems[1].FOffset, 12);
    EXPECT_EQ(loaded.FMatrix, (std::vector<float>{4.0f, 5.0f}));
    EXPECT_THROW(loaded.FItems[2], ERangeError);
    SetPropertyText(loaded, "Items[0].Offset", "99");
    EXPECT_EQ(loaded.FItems[0].FOffset, 99);
    EXPECT_THROW(SetPropertyText(loaded, "Items[5].Offset", "1"), ERangeError);
}

TEST(Properties, MalformedJsonIsRefusedWithTheReason) {
    TEveryKind o;
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json{{"Ratio", "x"}}); }).find("Ratio"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json{{"Flag", 3.5}}); }).find("expected a Boolean"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json{{"Region", 5}}); }).find("expected an object"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json{{"Items", json::object()}}); }).find("expected an array"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json::array()); }).find("must be a JSON object"), std::string::npos);
    // A block that announces more values than it holds.
    EXPECT_NE(ErrorOf([&] { LoadProperties(o, json{{"_MatrixDataSize", 5}, {"_MatrixDat", {1.0, 2.0}}}); })
                  .find("fewer values"),
              std::string::npos);
}

TEST(Properties, SettersFromOtherThreadsNeverTearAValue) {
    TChangeNotifyLock lock;
    TPXRectRegion region(lock);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000 && !stop; ++i) region.SetRectangle(i % 2 ? TRect{1, 1, 1, 1} : TRect{2, 2, 2, 2});
    });
    for (int i = 0; i < 20000; ++i) {
        const TRect r = region.GetRectangle();
        ASSERT_TRUE(r == (TRect{1, 1, 1, 1}) || r == (TRect{2, 2, 2, 2}) || r == (TRect{0, 0, 100, 100})) << r.X << r.Width;
    }
    stop = true;
    writer.join();
}

TEST(Registry, EveryClassIsCreatedByNameAndRoundTripsThroughJson) {
    RegisterPackage();
    const auto classes = TRegistry::Instance().Classes();
    ASSERT_GE(classes.size(), 5u);
    for (const TComponentClass* entry : classes) {
        SCOPED_TRACE(entry->ClassName);
        TComponentPtr a = TRegistry::Instance().Create(entry->ClassName);
        EXPECT_EQ(a->GetPropertyTable().ClassName(), entry->ClassName);
        EXPECT_FALSE(entry->Categories.empty());
        json saved;
        SaveProperties(*a, saved);
        TComponentPtr b = TRegistry::Instance().Create(entry->ClassName);
        LoadProperties(*b, saved);
        json again;
        SaveProperties(*b, again);
        EXPECT_EQ(again, saved);
    }
    EXPECT_EQ(TRegistry::Instance().Find("TPXNegative")->DisplayName, "Negative Video Filter");
    EXPECT_EQ(TRegistry::Instance().Find("TPXSolarize")->DisplayName, "Solarize Video Filter");
    EXPECT_EQ(TRegistry::Instance().Find("TPXJaehneGen")->Categories,
              (std::vector<std::string>{"TPixoraGeneratorsToolbarCategory"}));
    EXPECT_EQ(ErrorOf([] { TRegistry::Instance().Create("TPXNothing"); }), "Unknown component class 'TPXNothing'");
    EXPECT_NE(ErrorOf([] { TRegistry::Instance().LoadPackage("/nonexistent/libnothing.so"); }).find("Can't load package"),
              std::string::npos);
}

}  // namespace
}  // namespace pixora
