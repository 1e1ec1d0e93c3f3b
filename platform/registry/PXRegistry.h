// The component registry: classes by name with their palette categories and display names, and
// the loader of component packages (shared libraries) at run time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/component/PXComponent.h"

namespace pixora {

// Destroys a component after stopping its threads and cutting its connections.
struct TComponentDeleter {
    void operator()(TComponent* component) const noexcept;
};
using TComponentPtr = std::unique_ptr<TComponent, TComponentDeleter>;

struct TComponentClass {
    std::string ClassName;
    std::vector<std::string> Categories;  // palette categories; a class may carry two
    std::string DisplayName;              // may be empty
    const TPropertyTable* Properties = nullptr;
    std::function<TComponent*(TComponent* owner)> Create;
};

class TRegistry {
public:
    static TRegistry& Instance();

    // Registering a class name twice replaces the earlier entry.
    void Register(TComponentClass componentClass);
    const TComponentClass* Find(std::string_view className) const;
    std::vector<const TComponentClass*> Classes() const;
    // Raises EGraphError for an unknown class name.
    TComponentPtr Create(std::string_view className, TComponent* owner = nullptr) const;

    // Loads a package (a shared library exporting PixoraRegisterPackage) and registers its
    // classes; raises EPXError with the loader's reason when it cannot be loaded.
    void LoadPackage(const std::string& path);

private:
    TRegistry() = default;
    std::vector<std::unique_ptr<TComponentClass>> FClasses;  // stable addresses
};

// What a unit's RegisterPkg calls: puts one class into the palette.
template <class TClass>
void RegisterComponents(std::vector<std::string> categories, std::string displayName) {
    TRegistry::Instance().Register({TClass::Properties().ClassName(), std::move(categories), std::move(displayName),
                                    &TClass::Properties(), [](TComponent* owner) -> TComponent* { return new TClass(owner); }});
}

// The package's exported entry point, called by TRegistry::LoadPackage.
extern "C" using TPackageRegisterProc = void();
inline constexpr const char* KPackageRegisterProcName = "PixoraRegisterPackage";

}  // namespace pixora
