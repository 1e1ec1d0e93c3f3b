// What gets persisted and how collection items move: stored-tests (a value equal to a class
// default, an empty collection), item positions through "Items[i].Index", and the designer's
// editor entries.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "filters/combine/PXTransparentColor.h"
#include "filters/combine/PXVideoMixer.h"
#include "filters/geometric/PXFishEye.h"
#include "filters/geometric/PXMovingLeastSquaresWarp.h"
#include "filters/geometric/PXSwirl.h"
#include "filters/neighbourhood/PXRectKernelFilter.h"
#include "filters/point/PXColorLookup.h"
#include "tests/props/PropTestObjects.h"

namespace pixora::proptest {
namespace {

// A component whose Level is persisted only when it differs from a default chosen at run time,
// and whose collection is persisted only when it holds items.
class TShelf final : public TLockComponent {
public:
    explicit TShelf(int32_t levelDefault = 0) : Items(GetLock()), LevelDefault(levelDefault) {
        AutoInitProperties(Properties());
        Level = levelDefault;
    }
    static const TPropertyTable& Properties() {
        using T = TShelf;
        static const TPropertyTable table = TPropertyTable::Of<T, TLockComponent>("TShelf", {
            Int("Level", &T::Level, {.Default = 0}).Stored(&T::LevelStored),
            StoredWhenNotEmpty(Collection("Items", &T::Items)),
            WithEditor(Collection("Always", &T::Always), "Edit &Always ..."),
        });
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    bool LevelStored() const { return Level != LevelDefault; }

    int32_t Level;
    TCollection<TGadgetItem> Items;
    TCollection<TGadgetItem> Always{GetLock()};
    int32_t LevelDefault;
};

nlohmann::json Saved(const TPersistent& object) {
    nlohmann::json j = nlohmann::json::object();
    SaveProperties(object, j);
    return j;
}

std::vector<std::string> Captions(TCollection<TGadgetItem>& items) {
    std::vector<std::string> out;
    for (auto& item : items) out.push_back(item->Caption);
    return out;
}

TEST(PropStorage, StoredTestsLeaveDefaultsAndEmptyCollectionsOut) {
    TShelf shelf(4);
    nlohmann::json j = Saved(shelf);
    EXPECT_FALSE(j.contains("Level"));
    EXPECT_FALSE(j.contains("Items"));
    EXPECT_TRUE(j.contains("Always")) << "a collection without a stored-test is always written";

    shelf.Level = 9;
    shelf.Items.Add().Caption = "x";
    j = Saved(shelf);
    EXPECT_EQ(j.at("Level"), 9);
    ASSERT_EQ(j.at("Items").size(), 1u);

    // Loading what was saved gives the same object back, the unsaved value staying at its default.
    TShelf copy(4);
    LoadProperties(copy, j);
    EXPECT_EQ(copy.Level, 9);
    ASSERT_EQ(copy.Items.Count(), 1);
    EXPECT_EQ(copy.Items[0].Caption, "x");
    TShelf plain(4);
    LoadProperties(plain, Saved(TShelf(4)));
    EXPECT_EQ(plain.Level, 4);
}

TEST(PropStorage, CollectionMoveKeepsItemsAndShiftsTheOthers) {
    TGadget g;
    for (const char* c : {"a", "b", "c", "d"}) g.Items.Add().Caption = c;
    TGadgetItem* b = &g.Items[1];
    g.Items.Move(1, 3);
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"a", "c", "d", "b"}));
    EXPECT_EQ(&g.Items[3], b) << "moving keeps the item object";
    EXPECT_EQ(g.Items.IndexOf(*b), 3);
    g.Items.Move(3, 0);
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"b", "a", "c", "d"}));
    g.Items.Move(2, 2);
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"b", "a", "c", "d"}));
    EXPECT_THROW(g.Items.Move(0, 4), ERangeError);
    EXPECT_THROW(g.Items.Move(-1, 0), ERangeError);
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"b", "a", "c", "d"}));
}

TEST(PropStorage, ItemIndexPathReadsAndMovesAnItem) {
    TGadget g;
    for (const char* c : {"a", "b", "c"}) g.Items.Add().Caption = c;
    EXPECT_EQ(GetPropertyText(g, "Items[2].Index"), "2");
    SetPropertyText(g, "Items[2].Index", "0");
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(GetPropertyText(g, "Items[0].Caption"), "c");

    try {
        SetPropertyText(g, "Items[1].Index", "3");
        FAIL() << "a position past the end was accepted";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("TGadget.Items[1].Index"), std::string::npos) << e.what();
    }
    EXPECT_THROW(SetPropertyText(g, "Items[5].Index", "0"), ERangeError);
    EXPECT_THROW(SetPropertyText(g, "Items[1].Index", "first"), EPropertyError);
    EXPECT_THROW(GetPropertyText(g, "Region.Index"), EPropertyError) << "Index belongs to collection items only";
    EXPECT_EQ(Captions(g.Items), (std::vector<std::string>{"c", "a", "b"}));
}

TEST(PropStorage, CircleBackgroundPreserveIsStoredOnlyAwayFromTheClassDefault) {
    auto preserve = [](const TPersistent& filter) -> nlohmann::json {
        const nlohmann::json j = Saved(filter);
        return j.at("Background").contains("Preserve") ? j.at("Background").at("Preserve") : nlohmann::json();
    };
    TPXSwirl swirl;  // preserves by default
    EXPECT_TRUE(preserve(swirl).is_null());
    swirl.Background().SetPreserve(false);
    EXPECT_EQ(preserve(swirl), false);

    TPXFishEye fish;  // does not
    EXPECT_TRUE(preserve(fish).is_null());
    fish.Background().SetPreserve(true);
    EXPECT_EQ(preserve(fish), true);

    // A swirl saved with Preserve off loads back off; one saved at its default loads back on.
    TPXSwirl loaded;
    LoadProperties(loaded, Saved(swirl));
    EXPECT_FALSE(loaded.Background().GetPreserve());
    TPXSwirl fresh;
    LoadProperties(fresh, Saved(TPXSwirl()));
    EXPECT_TRUE(fresh.Background().GetPreserve());
}

TEST(PropStorage, EmptyChannelAndColourCollectionsAreNotSaved) {
    TPXVideoMixer mixer;
    EXPECT_FALSE(Saved(mixer).contains("Channels"));
    mixer.AddChannel();
    EXPECT_EQ(Saved(mixer).at("Channels").size(), 1u);

    TPXTransparentColor transparent;
    EXPECT_FALSE(Saved(transparent).contains("TransparentColors"));
}

TEST(PropStorage, DesignerEditorEntries) {
    auto entry = [](const TPropertyTable& table, const char* name) {
        const TPropertyInfo* info = table.Find(name);
        return info ? info->EditorEntry() : std::string("(missing)");
    };
    EXPECT_EQ(entry(TPXMovingLeastSquaresWarp::Properties(), "Points"), "Edit P&oints ...");
    EXPECT_EQ(entry(TPXRectKernelFilter::Properties(), "Kernel"), "Edit &Kernel ...");
    EXPECT_EQ(entry(TPXColorLookup::Properties(), "LookupTables"), "Edit Color &Table ...");
    EXPECT_EQ(entry(TShelf::Properties(), "Items"), "");
}

}  // namespace
}  // namespace pixora::proptest
