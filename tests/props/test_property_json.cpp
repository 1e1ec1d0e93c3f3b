// JSON persistence of published properties: round trips for the test class and for every
// registered class, the value types JSON may carry for each kind, sub-objects, collections and
// sized data blocks, and the errors for JSON that does not fit.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>

#include "filters/point/PXSolarize.h"
#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "platform/registry/PXRegistry.h"
#include "tests/props/PropTestObjects.h"

namespace pixora::proptest {
namespace {

using nlohmann::json;

json Saved(const TPersistent& object) {
    json properties = json::object();
    SaveProperties(object, properties);
    return properties;
}

TEST(PropJson, EveryKindRoundTripsThroughAFreshObject) {
    TGadget a;
    SetPropertyText(a, "Flag", "False");
    SetPropertyText(a, "Small", "254");
    SetPropertyText(a, "Medium", "65535");
    SetPropertyText(a, "Large", "4294967295");
    SetPropertyText(a, "Count", "-2147483648");
    SetPropertyText(a, "Big", "-9223372036854775807");
    SetPropertyText(a, "Strict", "9");
    a.Ratio = 1.0 / 3.0;
    a.Gain = 0.3f;
    SetPropertyText(a, "Tint", "0xFF00FF01");
    SetPropertyText(a, "Label", "line1\nline2 \"quoted\" \xc3\xa9");
    SetPropertyText(a, "Mode", "gmFast");
    SetPropertyText(a, "Region.Enabled", "True");
    SetPropertyText(a, "Region.Y", "12");
    a.Items.Add().Offset = -9;
    a.Items.Add().Caption = "second";
    a.Items.Add();
    a.SetMatrix(2, 3, {1.5, -2.0, 0.1, 1e-300, 3.0, 1.0 / 7.0});

    const json first = Saved(a);
    // The persisted names are exactly the table's names (data blocks included).
    std::set<std::string> names;
    for (const TPropertyInfo* info : a.GetPropertyTable().All()) names.insert(info->Name());
    std::set<std::string> keys;
    for (const auto& [key, value] : first.items()) keys.insert(key);
    EXPECT_EQ(keys, names);
    EXPECT_EQ(first["Mode"], "gmFast") << "enumerations persist by name";
    EXPECT_EQ(first["Items"].size(), 3u);
    EXPECT_TRUE(first["Region"].is_object());

    TGadget b;
    LoadProperties(b, json::parse(first.dump()));  // through text, as a file would
    EXPECT_EQ(Saved(b), first);
    EXPECT_FALSE(b.Flag);
    EXPECT_EQ(b.Small, 254);
    EXPECT_EQ(b.Large, 4294967295u);
    EXPECT_EQ(b.Count, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(b.Big, -9223372036854775807LL);
    EXPECT_EQ(b.Ratio, 1.0 / 3.0);
    EXPECT_EQ(b.Gain, 0.3f);
    EXPECT_EQ(b.Tint, 0xFF00FF01u);
    EXPECT_EQ(b.Label, a.Label);
    EXPECT_EQ(b.Mode, gmFast);
    EXPECT_EQ(b.Region.GetRectangle(), (TRect{0, 12, 100, 100}));
    ASSERT_EQ(b.Items.Count(), 3);
    EXPECT_EQ(b.Items[0].Offset, -9);
    EXPECT_EQ(b.Items[1].Caption, "second");
    EXPECT_EQ(b.Items[2].Offset, 7);
    EXPECT_EQ(b.MatrixRows, 2);
    EXPECT_EQ(b.MatrixCols, 3);
    EXPECT_EQ(b.Matrix, a.Matrix);
}

TEST(PropJson, SizeBlockIsReadBeforeTheDataItSizesWhateverTheFileOrder) {
    // JSON objects list "_MatrixDat" before "_MatrixDataSize" (sorted keys); the block must
    // still be read against the size stored in the same file, not the object's old size.
    TGadget a;
    a.SetMatrix(3, 1, {4.0, 5.0, 6.0});
    const std::string text = R"({"_MatrixDat": [4.0, 5.0, 6.0], "_MatrixDataSize": [3, 1]})";
    TGadget b;  // 2 x 2 until loaded
    LoadProperties(b, json::parse(text));
    EXPECT_EQ(b.MatrixRows, 3);
    EXPECT_EQ(b.MatrixCols, 1);
    EXPECT_EQ(b.Matrix, (std::vector<double>{4.0, 5.0, 6.0}));
}

TEST(PropJson, TruncatedOrMismatchedDataBlocksAreRefusedClearly) {
    TGadget g;
    struct TCase {
        const char* Json;
        std::vector<std::string> Expected;
    };
    const TCase cases[] = {
        {R"({"_MatrixDataSize": [2, 3], "_MatrixDat": [1, 2, 3, 4, 5]})", {"_MatrixDat", "5", "2 x 3"}},
        {R"({"_MatrixDataSize": [1, 1], "_MatrixDat": [1, 2]})", {"_MatrixDat", "1 x 1"}},
        {R"({"_MatrixDat": [1, 2, 3]})", {"_MatrixDat", "2 x 2"}},
        {R"({"_MatrixDataSize": [2, 2], "_MatrixDat": "1 2 3 4"})", {"_MatrixDat"}},
        {R"({"_MatrixDataSize": [2, 2], "_MatrixDat": [1, "two", 3, 4]})", {"TGadget._MatrixDat"}},
        {R"({"_MatrixDataSize": [2, 2], "_MatrixDat": [1, null, 3, 4]})", {"TGadget._MatrixDat"}},
        {R"({"_MatrixDataSize": [0, 2]})", {"_MatrixDataSize"}},
        {R"({"_MatrixDataSize": 4})", {"_MatrixDataSize"}},
        {R"({"_MatrixDataSize": [2]})", {"_MatrixDataSize"}},
    };
    for (const TCase& c : cases) {
        TGadget fresh;
        std::string error;
        try {
            LoadProperties(fresh, json::parse(c.Json));
        } catch (const EPropertyError& e) {
            error = e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.Json << " raised something other than EPropertyError: " << e.what();
        }
        ASSERT_FALSE(error.empty()) << c.Json << " was accepted";
        for (const std::string& part : c.Expected) EXPECT_TRUE(Contains(error, part)) << c.Json << ": " << error;
    }
}

TEST(PropJson, JsonValueTypesAcceptedPerKind) {
    TGadget g;
    // Strings in the text forms are accepted for every value kind.
    LoadProperties(g, json{{"Flag", "False"}, {"Count", "0x10"}, {"Ratio", "0.5"}, {"Tint", "#00000080"}, {"Mode", "gmOff"}});
    EXPECT_FALSE(g.Flag);
    EXPECT_EQ(g.Count, 16);
    EXPECT_EQ(g.Ratio, 0.5);
    EXPECT_EQ(g.Tint, 0x80u);
    EXPECT_EQ(g.Mode, gmOff);
    // Integral floats are integers; ordinals are enumeration members.
    LoadProperties(g, json{{"Count", 12.0}, {"Mode", 2}, {"Ratio", 1}});
    EXPECT_EQ(g.Count, 12);
    EXPECT_EQ(g.Mode, gmFast);
    EXPECT_EQ(g.Ratio, 1.0);
    LoadProperties(g, json{{"Large", 4294967295u}, {"Big", std::numeric_limits<int64_t>::min()}});
    EXPECT_EQ(g.Large, 4294967295u);
    EXPECT_EQ(g.Big, std::numeric_limits<int64_t>::min());
    // An empty object changes nothing.
    const json before = Saved(g);
    LoadProperties(g, json::object());
    EXPECT_EQ(Saved(g), before);
}

TEST(PropJson, WrongJsonTypesAreRefusedNamingClassAndProperty) {
    struct TCase {
        json Properties;
        std::string Expected;
    };
    const TCase cases[] = {
        {{{"Flag", 3.5}}, "TGadget.Flag"},
        {{{"Flag", nullptr}}, "TGadget.Flag"},
        {{{"Flag", "perhaps"}}, "TGadget.Flag"},
        {{{"Count", 1.5}}, "TGadget.Count"},
        {{{"Count", true}}, "TGadget.Count"},
        {{{"Count", json::array({1})}}, "TGadget.Count"},
        {{{"Count", "many"}}, "TGadget.Count"},
        {{{"Count", 4294967296LL}}, "TGadget.Count"},
        {{{"Small", 300}}, "TGadget.Small"},
        {{{"Small", -1}}, "TGadget.Small"},
        {{{"Large", -1}}, "TGadget.Large"},
        {{{"Big", 18446744073709551615ULL}}, "TGadget.Big"},
        {{{"Ratio", "x"}}, "TGadget.Ratio"},
        {{{"Ratio", true}}, "TGadget.Ratio"},
        {{{"Ratio", json::object()}}, "TGadget.Ratio"},
        {{{"Ratio", 2.0}}, "0 to 1"},
        {{{"Strict", 11}}, "0 to 10"},
        {{{"Gain", 1e300}}, "TGadget.Gain"},
        {{{"Label", 5}}, "TGadget.Label"},
        {{{"Label", nullptr}}, "TGadget.Label"},
        {{{"Mode", "gmNone"}}, "TGadget.Mode"},
        {{{"Mode", 3}}, "TGadget.Mode"},
        {{{"Mode", -1}}, "TGadget.Mode"},
        {{{"Mode", 1.5}}, "TGadget.Mode"},
        {{{"Region", 5}}, "Region"},
        {{{"Region", json::array()}}, "Region"},
        {{{"Region", {{"Width", "wide"}}}}, "TPXRectRegion.Width"},
        {{{"Region", {{"Depth", 1}}}}, "'Depth'"},
        {{{"Items", json::object()}}, "Items"},
        {{{"Items", json::array({1, 2})}}, "Items"},
        {{{"Items", json::array({{{"Offset", "far"}}})}}, "TGadgetItem.Offset"},
        {{{"Nope", 1}}, "'Nope'"},
    };
    for (const TCase& c : cases) {
        TGadget g;
        std::string error;
        try {
            LoadProperties(g, c.Properties);
        } catch (const EPropertyError& e) {
            error = e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.Properties.dump() << " raised something other than EPropertyError: " << e.what();
            continue;
        }
        EXPECT_TRUE(Contains(error, c.Expected)) << c.Properties.dump() << ": '" << error << "'";
    }
    TGadget g;
    for (const json& notAnObject : {json::array(), json(5), json("text"), json(nullptr)}) {
        const std::string error = ErrorOf([&] { LoadProperties(g, notAnObject); });
        EXPECT_TRUE(Contains(error, "TGadget")) << error;
    }

    TPXSolarize solarize;
    const std::string error = ErrorOf([&] { LoadProperties(solarize, json{{"Level", "abc"}}); });
    EXPECT_TRUE(Contains(error, "TPXSolarize.Level")) << error;
    EXPECT_EQ(solarize.GetLevel(), 0.5f);
    // JSON numbers go through the same clamp as text.
    LoadProperties(solarize, json{{"Level", 7}});
    EXPECT_EQ(solarize.GetLevel(), 1.0f);
}

TEST(PropJson, AnUnknownNameChangesNothing) {
    TGadget g;
    const json before = Saved(g);
    EXPECT_TRUE(Contains(ErrorOf([&] { LoadProperties(g, json{{"Count", 99}, {"Label", "x"}, {"Zzz", 1}}); }), "'Zzz'"));
    EXPECT_EQ(Saved(g), before) << "names are checked before any value is applied";
}

// What a bad value does to the values before it: properties are applied in declaration order,
// and the ones applied before the failing one stay applied (loading is not all-or-nothing).
// The bad value itself is never stored, nothing after it is applied, and the object stays
// usable.
TEST(PropJson, ABadValueIsNeverStoredAndTheObjectStaysUsable) {
    TGadget g;
    const std::string error =
        ErrorOf([&] { LoadProperties(g, json{{"Flag", false}, {"Count", 42}, {"Strict", 99}, {"Label", "later"}}); });
    EXPECT_TRUE(Contains(error, "TGadget.Strict")) << error;
    EXPECT_EQ(g.Strict, 5);
    EXPECT_EQ(g.Label, "none") << "properties declared after the failing one are not applied";
    // Declared before Strict: they stay applied (observed), or a load that is made
    // all-or-nothing rolls both back; never one without the other.
    const bool prefixKept = !g.Flag && g.Count == 42;
    const bool rolledBack = g.Flag && g.Count == 0;
    EXPECT_TRUE(prefixKept || rolledBack) << "Flag " << g.Flag << ", Count " << g.Count;
    // Still a consistent object: it saves and reloads.
    TGadget copy;
    LoadProperties(copy, Saved(g));
    EXPECT_EQ(Saved(copy), Saved(g));

    // A refused collection keeps its old items when the array itself is malformed.
    g.Items.Add().Offset = 1;
    g.Items.Add().Offset = 2;
    EXPECT_FALSE(ErrorOf([&] { LoadProperties(g, json{{"Items", json::array({json::object(), 3})}}); }).empty());
    ASSERT_EQ(g.Items.Count(), 2);
    EXPECT_EQ(g.Items[1].Offset, 2);
}

TEST(PropJson, LoadingACollectionReplacesItsItems) {
    TGadget g;
    for (int i = 0; i < 5; ++i) g.Items.Add().Offset = i;
    LoadProperties(g, json{{"Items", json::array({{{"Offset", 50}}, json::object()})}});
    ASSERT_EQ(g.Items.Count(), 2);
    EXPECT_EQ(g.Items[0].Offset, 50);
    EXPECT_EQ(g.Items[1].Offset, 7) << "an item starts at its defaults";
    EXPECT_EQ(g.Items[1].Caption, "item");
    LoadProperties(g, json{{"Items", json::array()}});
    EXPECT_EQ(g.Items.Count(), 0);
}

TEST(PropJson, SubObjectsLoadOnlyWhatTheyName) {
    TPXJaehneGen gen;
    LoadProperties(gen, json{{"ImageSize", {{"Width", 37}}}});
    EXPECT_EQ(gen.ImageSize().GetSize(), (TSize{37, 480}));
    LoadProperties(gen, json{{"ImageSize", {{"Height", 23}}}, {"FrameRate", 50}});
    EXPECT_EQ(gen.ImageSize().GetSize(), (TSize{37, 23}));
    EXPECT_EQ(gen.GetFrameRate(), 50.0);
    const json saved = Saved(gen);
    EXPECT_EQ(saved["ImageSize"], (json{{"Width", 37}, {"Height", 23}}));
}

// Flips every Boolean in a JSON tree of properties.
void FlipBooleans(json& value) {
    if (value.is_boolean()) value = !value.get<bool>();
    else if (value.is_object() || value.is_array())
        for (auto& child : value) FlipBooleans(child);
}

TEST(PropJson, EveryRegisteredClassRoundTrips) {
    RegisterPackage();
    const auto classes = TRegistry::Instance().Classes();
    ASSERT_FALSE(classes.empty());
    for (const TComponentClass* entry : classes) {
        SCOPED_TRACE(entry->ClassName);
        TComponentPtr a = TRegistry::Instance().Create(entry->ClassName);
        const json defaults = Saved(*a);
        TComponentPtr b = TRegistry::Instance().Create(entry->ClassName);
        ASSERT_NO_THROW(LoadProperties(*b, defaults));
        EXPECT_EQ(Saved(*b), defaults);

        // With every Boolean changed, so that the load visibly does something.
        json flipped = defaults;
        FlipBooleans(flipped);
        TComponentPtr c = TRegistry::Instance().Create(entry->ClassName);
        ASSERT_NO_THROW(LoadProperties(*c, flipped));
        const json once = Saved(*c);
        EXPECT_EQ(once, flipped);
        TComponentPtr d = TRegistry::Instance().Create(entry->ClassName);
        LoadProperties(*d, json::parse(once.dump()));
        EXPECT_EQ(Saved(*d), once);
    }
}

}  // namespace
}  // namespace pixora::proptest
