// Setting and reading published properties by name from text: defaults at construction, every
// value kind, dotted paths into sub-objects and collection items, range rules, and the errors
// for text that does not fit.
#include <gtest/gtest.h>

#include <limits>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "frame/PixoraPkg.h"
#include "generators/PXJaehneGen.h"
#include "platform/registry/PXRegistry.h"
#include "tests/props/PropTestObjects.h"

namespace pixora::proptest {
namespace {

TEST(PropDefaults, ComponentsStartAtTheirDeclaredValues) {
    TPXSolarize solarize;
    EXPECT_EQ(solarize.GetLevel(), 0.5f);
    EXPECT_TRUE(solarize.GetEnabled());
    EXPECT_TRUE(solarize.GetThreaded());
    EXPECT_FALSE(solarize.RegionOfInterest().GetEnabled());
    EXPECT_EQ(solarize.RegionOfInterest().GetRectangle(), (TRect{0, 0, 100, 100}));
    EXPECT_EQ(GetPropertyText(solarize, "Level"), "0.5");
    EXPECT_EQ(GetPropertyText(solarize, "Enabled"), "True");
    EXPECT_EQ(GetPropertyText(solarize, "RegionOfInterest.Enabled"), "False");
    EXPECT_EQ(GetPropertyText(solarize, "RegionOfInterest.Width"), "100");

    TPXJaehneGen gen;
    EXPECT_EQ(gen.ImageSize().GetSize(), (TSize{640, 480}));
    EXPECT_EQ(GetPropertyText(gen, "ImageSize.Width"), "640");
    EXPECT_EQ(GetPropertyText(gen, "ImageSize.Height"), "480");
    EXPECT_EQ(gen.GetFrameRate(), 25.0);
}

TEST(PropDefaults, TestClassStartsAtItsDeclaredValues) {
    TGadget g;
    EXPECT_TRUE(g.Flag);
    EXPECT_EQ(g.Small, 3);
    EXPECT_EQ(g.Medium, 500);
    EXPECT_EQ(g.Large, 7u);
    EXPECT_EQ(g.Big, -1);
    EXPECT_EQ(g.Strict, 5);
    EXPECT_EQ(g.Ratio, 0.25);
    EXPECT_EQ(g.Gain, 1.5f);
    EXPECT_EQ(g.Tint, KDRGB(0x30, 0x20, 0x10));
    EXPECT_EQ(g.Label, "none");
    EXPECT_EQ(g.Mode, gmSlow);
    EXPECT_EQ(g.Items.Count(), 0);
    EXPECT_TRUE(g.FollowUpSaw.empty()) << "defaults are applied without running follow-ups";
    EXPECT_TRUE(g.CustomSetterGot.empty()) << "defaults are applied without calling custom setters";
    TGadgetItem& item = g.Items.Add();
    EXPECT_EQ(item.Offset, 7);
    EXPECT_EQ(item.Caption, "item");
}

// Every published value property of every registered class reads back its declared default,
// the same text `pixora inspect` shows: a property the constructor forgot to initialise, or
// one a constructor overrides after the fact, shows up here.
TEST(PropDefaults, EveryRegisteredClassReadsBackTheDefaultsItsTableDeclares) {
    RegisterPackage();
    for (const TComponentClass* entry : TRegistry::Instance().Classes()) {
        SCOPED_TRACE(entry->ClassName);
        TComponentPtr component = TRegistry::Instance().Create(entry->ClassName);
        std::function<void(TPersistent&, const std::string&)> check = [&](TPersistent& object, const std::string& prefix) {
            for (const TPropertyInfo* info : object.GetPropertyTable().All()) {
                if (!info->Published()) continue;
                if (TPersistent* sub = info->GetObject(object)) {
                    check(*sub, prefix + info->Name() + ".");
                    continue;
                }
                if (info->Kind() == TPropertyKind::Collection || info->DefaultText().empty()) continue;
                EXPECT_EQ(GetPropertyText(*component, prefix + info->Name()), info->DefaultText())
                    << prefix + info->Name();
            }
        };
        check(*component, "");
    }
}

TEST(PropText, BooleanForms) {
    TGadget g;
    for (const char* text : {"False", "false", "FALSE", "0", " False "}) {
        g.Flag = true;
        SetPropertyText(g, "Flag", text);
        EXPECT_FALSE(g.Flag) << text;
    }
    for (const char* text : {"True", "true", "TRUE", "1"}) {
        g.Flag = false;
        SetPropertyText(g, "Flag", text);
        EXPECT_TRUE(g.Flag) << text;
    }
    EXPECT_EQ(GetPropertyText(g, "Flag"), "True");
    for (const char* text : {"", "maybe", "2", "Tru", "-1", "True False"}) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, "Flag", text); });
        EXPECT_TRUE(Contains(error, "TGadget.Flag")) << text << ": " << error;
        EXPECT_TRUE(g.Flag) << text;
    }
}

TEST(PropText, IntegersInDecimalAndHexAndTheirLimits) {
    TGadget g;
    SetPropertyText(g, "Count", "-42");
    EXPECT_EQ(g.Count, -42);
    SetPropertyText(g, "Count", "0x1F");
    EXPECT_EQ(g.Count, 31);
    SetPropertyText(g, "Count", "$ff");
    EXPECT_EQ(g.Count, 255);
    SetPropertyText(g, "Count", " 17 ");
    EXPECT_EQ(g.Count, 17);
    EXPECT_EQ(GetPropertyText(g, "Count"), "17");

    SetPropertyText(g, "Count", "2147483647");
    EXPECT_EQ(g.Count, std::numeric_limits<int32_t>::max());
    SetPropertyText(g, "Count", "-2147483648");
    EXPECT_EQ(g.Count, std::numeric_limits<int32_t>::min());
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Count", "2147483648"); }), "does not fit Integer"));
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Count", "-2147483649"); }), "does not fit Integer"));
    EXPECT_EQ(g.Count, std::numeric_limits<int32_t>::min());

    SetPropertyText(g, "Small", "255");
    EXPECT_EQ(g.Small, 255);
    SetPropertyText(g, "Small", "0");
    EXPECT_EQ(g.Small, 0);
    const std::string tooBig = ErrorOf([&] { SetPropertyText(g, "Small", "300"); });
    EXPECT_TRUE(Contains(tooBig, "TGadget.Small")) << tooBig;
    EXPECT_TRUE(Contains(tooBig, "300")) << tooBig;
    EXPECT_TRUE(Contains(tooBig, "Byte")) << tooBig;
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Small", "256"); }), "Byte"));
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Small", "-1"); }), "Byte"));
    EXPECT_EQ(g.Small, 0) << "a refused value leaves the field alone";

    SetPropertyText(g, "Medium", "65535");
    EXPECT_EQ(g.Medium, 65535);
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Medium", "65536"); }), "Word"));
    SetPropertyText(g, "Large", "4294967295");
    EXPECT_EQ(g.Large, 4294967295u);
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Large", "4294967296"); }), "Cardinal"));
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Large", "-1"); }), "Cardinal"));

    SetPropertyText(g, "Big", "-9223372036854775808");
    EXPECT_EQ(g.Big, std::numeric_limits<int64_t>::min());
    SetPropertyText(g, "Big", "9223372036854775807");
    EXPECT_EQ(g.Big, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(GetPropertyText(g, "Big"), "9223372036854775807");
    EXPECT_FALSE(ErrorOf([&] { SetPropertyText(g, "Big", "9223372036854775808"); }).empty());
    EXPECT_FALSE(ErrorOf([&] { SetPropertyText(g, "Big", "99999999999999999999999"); }).empty());
    EXPECT_EQ(g.Big, std::numeric_limits<int64_t>::max());

    for (const char* text : {"", "abc", "12abc", "1.5", "1e3", "0x", "--3", "0xZZ", "3 4"}) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, "Count", text); });
        EXPECT_TRUE(Contains(error, "TGadget.Count")) << "'" << text << "': " << error;
    }
    EXPECT_EQ(g.Count, std::numeric_limits<int32_t>::min());
}

TEST(PropText, ColoursTakeHexInEveryUsualSpelling) {
    TGadget g;
    SetPropertyText(g, "Tint", "0x00FF0000");
    EXPECT_EQ(g.Tint, KDRGB(0, 0, 255));
    SetPropertyText(g, "Tint", "$0000FF00");
    EXPECT_EQ(g.Tint, KDRGB(0, 255, 0));
    SetPropertyText(g, "Tint", "#000000FF");
    EXPECT_EQ(g.Tint, KDRGB(255, 0, 0));
    SetPropertyText(g, "Tint", "16777215");
    EXPECT_EQ(g.Tint, KDRGB(255, 255, 255));
    SetPropertyText(g, "Tint", "0xFFFFFFFF");
    EXPECT_EQ(g.Tint, 0xFFFFFFFFu);
    EXPECT_EQ(GetPropertyText(g, "Tint"), "0xFFFFFFFF");
    SetPropertyText(g, "Tint", "0x00123456");
    // The text form reads back to the same value.
    const std::string text = GetPropertyText(g, "Tint");
    g.Tint = 0;
    SetPropertyText(g, "Tint", text);
    EXPECT_EQ(g.Tint, 0x00123456u);
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Tint", "0x1FFFFFFFF"); }), "TGadget.Tint"));
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Tint", "red"); }), "TGadget.Tint"));
    // '#' is a colour spelling only.
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Count", "#10"); }), "TGadget.Count"));
    EXPECT_EQ(g.Tint, 0x00123456u);
}

TEST(PropText, FloatsAndTheirRefusals) {
    TGadget g;
    SetPropertyText(g, "Gain", "0.125");
    EXPECT_EQ(g.Gain, 0.125f);
    SetPropertyText(g, "Gain", "-3e2");
    EXPECT_EQ(g.Gain, -300.0f);
    SetPropertyText(g, "Gain", "7");
    EXPECT_EQ(g.Gain, 7.0f);
    SetPropertyText(g, "Ratio", "0.1");
    EXPECT_EQ(g.Ratio, 0.1);
    // The text form of a float reads back to the identical value.
    for (double value : {0.1, 1.0 / 3.0, 2.0 / 3.0, 1e-300, 0.999999999999}) {
        g.Ratio = value;
        const std::string text = GetPropertyText(g, "Ratio");
        g.Ratio = 0.5;
        SetPropertyText(g, "Ratio", text);
        EXPECT_EQ(g.Ratio, value) << text;
    }
    g.Gain = 0.3f;
    const std::string gainText = GetPropertyText(g, "Gain");
    g.Gain = 0.0f;
    SetPropertyText(g, "Gain", gainText);
    EXPECT_EQ(g.Gain, 0.3f) << gainText;

    g.Gain = 2.0f;
    for (const char* text : {"abc", "", "1.5x", "1,5", "0x10", "nan", "NaN", "inf", "-inf", "infinity", "1e999"}) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, "Gain", text); });
        EXPECT_TRUE(Contains(error, "TGadget.Gain")) << "'" << text << "': " << error;
        EXPECT_EQ(g.Gain, 2.0f) << text;
    }
    // Finite as a double but beyond a Single.
    EXPECT_TRUE(Contains(ErrorOf([&] { SetPropertyText(g, "Gain", "1e39"); }), "TGadget.Gain"));
    EXPECT_EQ(g.Gain, 2.0f);
}

TEST(PropText, WrongTypeTextNamesClassAndProperty) {
    TPXSolarize solarize;
    const std::string error = ErrorOf([&] { SetPropertyText(solarize, "Level", "abc"); });
    EXPECT_TRUE(Contains(error, "TPXSolarize")) << error;
    EXPECT_TRUE(Contains(error, "Level")) << error;
    EXPECT_TRUE(Contains(error, "abc")) << error;
    EXPECT_EQ(solarize.GetLevel(), 0.5f);
    for (const char* text : {"nan", "inf", "-inf"}) {
        const std::string bad = ErrorOf([&] { SetPropertyText(solarize, "Level", text); });
        EXPECT_TRUE(Contains(bad, "TPXSolarize.Level")) << bad;
        EXPECT_EQ(solarize.GetLevel(), 0.5f) << text;
    }
    // Not even a clamped property takes a value that is not a number.
    EXPECT_THROW(solarize.SetLevel(std::numeric_limits<float>::quiet_NaN()), EPropertyError);
    EXPECT_THROW(solarize.SetLevel(std::numeric_limits<float>::infinity()), EPropertyError);
    EXPECT_EQ(solarize.GetLevel(), 0.5f);
}

TEST(PropText, ClampedPropertiesTakeTheNearestBound) {
    TPXSolarize solarize;
    SetPropertyText(solarize, "Level", "1.5");
    EXPECT_EQ(solarize.GetLevel(), 1.0f);
    SetPropertyText(solarize, "Level", "-1");
    EXPECT_EQ(solarize.GetLevel(), 0.0f);
    SetPropertyText(solarize, "Level", "0.75");
    EXPECT_EQ(solarize.GetLevel(), 0.75f);
    solarize.SetLevel(3.0f);
    EXPECT_EQ(solarize.GetLevel(), 1.0f);
    solarize.SetLevel(-0.0001f);
    EXPECT_EQ(solarize.GetLevel(), 0.0f);
    // The bounds themselves are inside the range.
    SetPropertyText(solarize, "Level", "1");
    EXPECT_EQ(solarize.GetLevel(), 1.0f);

    SetPropertyText(solarize, "RegionOfInterest.Width", "-20");
    EXPECT_EQ(solarize.RegionOfInterest().GetRectangle().Width, 0);
    TPXJaehneGen gen;
    SetPropertyText(gen, "ImageSize.Width", "0");
    EXPECT_EQ(gen.ImageSize().GetWidth(), 1);
    SetPropertyText(gen, "ImageSize.Height", "100000");
    EXPECT_EQ(gen.ImageSize().GetHeight(), 16384);

    TGadget g;
    SetPropertyText(g, "Clamped", "-6");
    EXPECT_EQ(g.Clamped, -5);
    SetPropertyText(g, "Clamped", "6");
    EXPECT_EQ(g.Clamped, 5);
    SetPropertyText(g, "Clamped", "-5");
    EXPECT_EQ(g.Clamped, -5);
}

TEST(PropText, RefusedRangesNameTheRangeAndKeepTheValue) {
    TGadget g;
    for (const char* text : {"11", "-1", "1000"}) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, "Strict", text); });
        EXPECT_TRUE(Contains(error, "TGadget.Strict")) << error;
        EXPECT_TRUE(Contains(error, "0 to 10")) << error;
        EXPECT_TRUE(Contains(error, text)) << error;
        EXPECT_EQ(g.Strict, 5);
    }
    SetPropertyText(g, "Strict", "10");
    EXPECT_EQ(g.Strict, 10);
    SetPropertyText(g, "Strict", "0");
    EXPECT_EQ(g.Strict, 0);

    const std::string error = ErrorOf([&] { SetPropertyText(g, "Ratio", "1.5"); });
    EXPECT_TRUE(Contains(error, "TGadget.Ratio")) << error;
    EXPECT_TRUE(Contains(error, "0 to 1")) << error;
    EXPECT_EQ(g.Ratio, 0.25);
    EXPECT_FALSE(ErrorOf([&] { SetPropertyText(g, "Ratio", "-0.0001"); }).empty());
    SetPropertyText(g, "Ratio", "1");
    EXPECT_EQ(g.Ratio, 1.0);

    // The C++ setter path applies the same rule.
    EXPECT_THROW(SetPropertyText(g, "Strict", "11"), EPropertyError);
    const auto* strict = g.GetPropertyTable().Find("Strict");
    ASSERT_NE(strict, nullptr);
    EXPECT_EQ(strict->RangeText(), "0 to 10");
    EXPECT_EQ(g.GetPropertyTable().Find("Clamped")->RangeText(), "-5 to 5 (clamped)");
}

TEST(PropText, EnumerationsByNameOrOrdinal) {
    TGadget g;
    SetPropertyText(g, "Mode", "gmFast");
    EXPECT_EQ(g.Mode, gmFast);
    EXPECT_EQ(GetPropertyText(g, "Mode"), "gmFast");
    SetPropertyText(g, "Mode", "0");
    EXPECT_EQ(g.Mode, gmOff);
    SetPropertyText(g, "Mode", "1");
    EXPECT_EQ(g.Mode, gmSlow);
    SetPropertyText(g, "Mode", " gmFast ");
    EXPECT_EQ(g.Mode, gmFast);
    for (const char* text : {"3", "-1", "gmMedium", "", "fast", "0x7"}) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, "Mode", text); });
        EXPECT_TRUE(Contains(error, "TGadget.Mode")) << error;
        EXPECT_TRUE(Contains(error, "gmOff, gmSlow, gmFast")) << "the message lists the members: " << error;
        EXPECT_EQ(g.Mode, gmFast);
    }
    const auto* info = g.GetPropertyTable().Find("Mode");
    EXPECT_EQ(info->TypeName(), "TPXGadgetMode");
    EXPECT_EQ(info->MemberNames(), (std::vector<std::string>{"gmOff", "gmSlow", "gmFast"}));
    EXPECT_EQ(info->DefaultText(), "gmSlow");
}

TEST(PropText, StringsAreTakenVerbatim) {
    TGadget g;
    for (const std::string text : {"", "a b", " padded ", "x=y", "quote\"and\\slash", "\xc3\xa9t\xc3\xa9", "0x10"}) {
        SetPropertyText(g, "Label", text);
        EXPECT_EQ(g.Label, text);
        EXPECT_EQ(GetPropertyText(g, "Label"), text);
    }
}

TEST(PropText, DottedPathsReachSubObjectsAndItems) {
    TGadget g;
    SetPropertyText(g, "Region.Enabled", "True");
    SetPropertyText(g, "Region.X", "4");
    SetPropertyText(g, "Region.Height", "9");
    EXPECT_TRUE(g.Region.GetEnabled());
    EXPECT_EQ(g.Region.GetRectangle(), (TRect{4, 0, 100, 9}));
    EXPECT_EQ(GetPropertyText(g, "Region.X"), "4");

    g.Items.Add();
    g.Items.Add();
    SetPropertyText(g, "Items[1].Offset", "-3");
    SetPropertyText(g, "Items[0].Caption", "first");
    EXPECT_EQ(g.Items[0].Offset, 7);
    EXPECT_EQ(g.Items[1].Offset, -3);
    EXPECT_EQ(g.Items[0].Caption, "first");
    EXPECT_EQ(GetPropertyText(g, "Items[1].Offset"), "-3");
    SetPropertyText(g, "Items[0].Offset", "1000");  // the item's own clamp applies
    EXPECT_EQ(g.Items[0].Offset, 100);

    TPXJaehneGen gen;
    SetPropertyText(gen, "ImageSize.Width", "37");
    SetPropertyText(gen, "ImageSize.Height", "23");
    EXPECT_EQ(gen.ImageSize().GetSize(), (TSize{37, 23}));
}

TEST(PropText, BadPathsNameWhatIsMissing) {
    TGadget g;
    g.Items.Add();
    struct TCase {
        const char* Path;
        std::vector<std::string> Expected;
    };
    const TCase cases[] = {
        {"Nope", {"TGadget", "'Nope'"}},
        {"nope.Width", {"TGadget", "'nope'"}},
        {"Region.Nope", {"TPXRectRegion", "'Nope'"}},
        {"Region.", {"TPXRectRegion"}},
        {"Region", {"TGadget.Region", "object"}},
        {"Items", {"TGadget.Items", "collection"}},
        {"Count.X", {"TGadget.Count"}},
        {"Count[0].X", {"TGadget.Count", "not a collection"}},
        {"Items[1].Offset", {"index 1", "0 to 0"}},
        {"Items[-1].Offset", {"index -1"}},
        {"Items[x].Offset", {"Items[x]"}},
        {"Items[0.Offset", {"Items[0.Offset"}},
        {"Items[0]", {"TGadget.Items[0]"}},
        {"Items[0].Nope", {"TGadgetItem", "'Nope'"}},
        {"_MatrixDat", {"'_MatrixDat'"}},  // data blocks are not set by name
        {"", {"TGadget"}},
    };
    for (const TCase& c : cases) {
        const std::string error = ErrorOf([&] { SetPropertyText(g, c.Path, "1"); });
        for (const std::string& part : c.Expected) EXPECT_TRUE(Contains(error, part)) << c.Path << ": " << error;
        const std::string readError = ErrorOf([&] { (void)GetPropertyText(g, c.Path); });
        EXPECT_FALSE(readError.empty()) << c.Path;
    }
    EXPECT_THROW(SetPropertyText(g, "Items[3].Offset", "1"), ERangeError);
}

TEST(PropText, CustomSettersGetTheRangeCheckedValue) {
    TGadget g;
    SetPropertyText(g, "Custom", "20");
    SetPropertyText(g, "Custom", "99");
    SetPropertyText(g, "Custom", "-4");
    EXPECT_EQ(g.CustomSetterGot, (std::vector<int32_t>{20, 50, 0}));
    EXPECT_EQ(g.Custom, 0);
    LoadProperties(g, nlohmann::json{{"Custom", 33}});
    EXPECT_EQ(g.CustomSetterGot.back(), 33) << "loading goes through the custom setter as well";
    EXPECT_EQ(g.Custom, 33);
}

TEST(PropText, TextRoundTripsForEveryPublishedValueOfEveryClass) {
    RegisterPackage();
    for (const TComponentClass* entry : TRegistry::Instance().Classes()) {
        SCOPED_TRACE(entry->ClassName);
        TComponentPtr component = TRegistry::Instance().Create(entry->ClassName);
        std::function<void(TPersistent&, const std::string&)> visit = [&](TPersistent& object, const std::string& prefix) {
            for (const TPropertyInfo* info : object.GetPropertyTable().All()) {
                if (!info->Published() || info->Kind() == TPropertyKind::Collection) continue;
                const std::string path = prefix + info->Name();
                if (TPersistent* sub = info->GetObject(object)) {
                    visit(*sub, path + ".");
                    continue;
                }
                const std::string before = GetPropertyText(*component, path);
                SetPropertyText(*component, path, before);
                EXPECT_EQ(GetPropertyText(*component, path), before) << path;
            }
        };
        visit(*component, "");
    }
}

}  // namespace
}  // namespace pixora::proptest
