// The component registry: creation by class name, palette categories and display names,
// replacement on re-registration, and loading packages from shared libraries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"

namespace pixora::graphtest {
namespace {

namespace fs = std::filesystem;

class RegistryClasses : public testing::Test {
protected:
    void SetUp() override { RegisterPackage(); }
    static TRegistry& Registry() { return TRegistry::Instance(); }
};

TEST_F(RegistryClasses, EveryClassIsCreatedByNameWithItsOwnTable) {
    const auto classes = Registry().Classes();
    ASSERT_GE(classes.size(), 5u);
    std::set<std::string> seen;
    std::string previous;
    for (const TComponentClass* entry : classes) {
        SCOPED_TRACE(entry->ClassName);
        EXPECT_TRUE(seen.insert(entry->ClassName).second) << "listed twice";
        EXPECT_LT(previous, entry->ClassName) << "classes come sorted by name";
        previous = entry->ClassName;
        EXPECT_EQ(Registry().Find(entry->ClassName), entry);
        ASSERT_NE(entry->Properties, nullptr);
        EXPECT_EQ(entry->Properties->ClassName(), entry->ClassName);
        ASSERT_FALSE(entry->Categories.empty());
        for (const std::string& category : entry->Categories) {
            EXPECT_TRUE(category.starts_with("TPixora") && category.ends_with("ToolbarCategory")) << category;
        }
        TComponentPtr first = Registry().Create(entry->ClassName);
        TComponentPtr second = Registry().Create(entry->ClassName);
        ASSERT_TRUE(first && second);
        EXPECT_NE(first.get(), second.get());
        EXPECT_EQ(&first->GetPropertyTable(), entry->Properties);
        EXPECT_EQ(first->GetOwner(), nullptr);
        // Every published pin has a name it can be found by.
        for (TLRPin* pin : first->Pins()) EXPECT_EQ(&first->FindPin(pin->Name()), pin);
    }
    for (const char* name : {"TPXNegative", "TPXSolarize", "TPXJaehneGen", "TPXMediaFileSource", "TPXMediaFileSink"})
        EXPECT_TRUE(seen.count(name)) << name;
}

TEST_F(RegistryClasses, CategoriesAndDisplayNames) {
    struct TExpected {
        const char* ClassName;
        std::vector<std::string> Categories;
        const char* DisplayName;
    };
    const TExpected expected[] = {
        {"TPXNegative", {"TPixoraFiltersToolbarCategory"}, "Negative Video Filter"},
        {"TPXSolarize", {"TPixoraFiltersToolbarCategory"}, "Solarize Video Filter"},
        {"TPXJaehneGen", {"TPixoraGeneratorsToolbarCategory"}, "Jaehne Test Pattern Video Generator"},
    };
    for (const TExpected& e : expected) {
        const TComponentClass* entry = Registry().Find(e.ClassName);
        ASSERT_NE(entry, nullptr) << e.ClassName;
        EXPECT_EQ(entry->Categories, e.Categories) << e.ClassName;
        EXPECT_EQ(entry->DisplayName, e.DisplayName);
    }
    if (const TComponentClass* noise = Registry().Find("TPXUniformNoise")) {
        const std::set<std::string> categories(noise->Categories.begin(), noise->Categories.end());
        EXPECT_EQ(categories, (std::set<std::string>{"TPixoraFiltersToolbarCategory", "TPixoraGeneratorsToolbarCategory"}));
    }
    if (const TComponentClass* threshold = Registry().Find("TPXThreshold")) {
        EXPECT_EQ(threshold->DisplayName, "") << "a class without a display name keeps none";
    }
}

TEST_F(RegistryClasses, UnknownClassesAreNamedInTheError) {
    for (const char* name : {"TPXNothing", "", "tpxnegative", "TPXNegative ", "TComponent", "TPXBasicVideoOut"}) {
        EXPECT_EQ(Registry().Find(name), nullptr) << name;
        try {
            (void)Registry().Create(name);
            ADD_FAILURE() << "created '" << name << "'";
        } catch (const EGraphError& e) {
            EXPECT_NE(std::string(e.what()).find("'" + std::string(name) + "'"), std::string::npos) << e.what();
        }
    }
}

TEST_F(RegistryClasses, RegisteringANameAgainReplacesTheEntry) {
    const TComponentClass* entry = Registry().Find("TPXNegative");
    ASSERT_NE(entry, nullptr);
    const TComponentClass original = *entry;
    const std::size_t count = Registry().Classes().size();
    TComponentClass changed = original;
    changed.DisplayName = "Renamed For A Test";
    changed.Categories = {"TPixoraFiltersToolbarCategory", "TPixoraConvertersToolbarCategory"};
    Registry().Register(changed);
    const TComponentClass* now = Registry().Find("TPXNegative");
    const std::string displayName = now ? now->DisplayName : "";
    const std::size_t countAfter = Registry().Classes().size();
    Registry().Register(original);  // put the real entry back before checking
    EXPECT_EQ(displayName, "Renamed For A Test");
    EXPECT_EQ(countAfter, count) << "the name is listed once";
    EXPECT_EQ(Registry().Find("TPXNegative")->DisplayName, "Negative Video Filter");
    EXPECT_EQ(Registry().Classes().size(), count);
}

TEST_F(RegistryClasses, PackagesThatCannotBeLoadedAreRefusedClearly) {
    const fs::path dir = fs::temp_directory_path() / ("pixora_registry_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string notALibrary = (dir / "libnotalibrary.so").string();
    std::ofstream(notALibrary) << "this is text, not an ELF file\n";
    const std::string withoutEntry = (fs::path(PIXORA_HOST_BINARY).parent_path() / "libpixoraplatform.so").string();
    struct TCase {
        std::string Path;
        std::vector<std::string> Expected;
    };
    const TCase cases[] = {
        {(dir / "libabsent.so").string(), {"Can't load package", "libabsent.so"}},
        {notALibrary, {"libnotalibrary.so"}},
        {dir.string(), {dir.string()}},
        {withoutEntry, {"libpixoraplatform.so", "PixoraRegisterPackage"}},
    };
    const std::size_t count = Registry().Classes().size();
    for (const TCase& c : cases) {
        try {
            Registry().LoadPackage(c.Path);
            ADD_FAILURE() << "loaded " << c.Path;
        } catch (const EPXError& e) {
            for (const auto& part : c.Expected) EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(Registry().Classes().size(), count);
    fs::remove_all(dir);
}

TEST_F(RegistryClasses, TheRealPackageLoadsBesideTheHost) {
    const std::string package = (fs::path(PIXORA_HOST_BINARY).parent_path() / "libpixora.so").string();
    ASSERT_TRUE(fs::exists(package)) << package;
    const std::size_t count = Registry().Classes().size();
    ASSERT_NO_THROW(Registry().LoadPackage(package));
    ASSERT_NO_THROW(Registry().LoadPackage(package));  // loading twice registers nothing new
    EXPECT_EQ(Registry().Classes().size(), count);
    TComponentPtr negative = Registry().Create("TPXNegative");
    EXPECT_EQ(negative->GetPropertyTable().ClassName(), "TPXNegative");
}

}  // namespace
}  // namespace pixora::graphtest
