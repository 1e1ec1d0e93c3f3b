// Registry storage, creation by class name and package loading.
#include "platform/registry/PXRegistry.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

#include "platform/filters/PXThreadedFilter.h"

namespace pixora {

namespace {
std::mutex GRegistryMutex;
}

void TComponentDeleter::operator()(TComponent* component) const noexcept {
    if (!component) return;
    if (auto* filter = dynamic_cast<TQNBasicTypedThreadedFilter*>(component)) filter->ShutdownThread();
    try {
        component->Stop();
    } catch (...) {
    }
    delete component;
}

TRegistry& TRegistry::Instance() {
    static TRegistry registry;
    return registry;
}

void TRegistry::Register(TComponentClass componentClass) {
    std::lock_guard lock(GRegistryMutex);
    for (auto& existing : FClasses)
        if (existing->ClassName == componentClass.ClassName) {
            *existing = std::move(componentClass);
            return;
        }
    FClasses.push_back(std::make_unique<TComponentClass>(std::move(componentClass)));
}

const TComponentClass* TRegistry::Find(std::string_view className) const {
    std::lock_guard lock(GRegistryMutex);
    for (const auto& entry : FClasses)
        if (entry->ClassName == className) return entry.get();
    return nullptr;
}

std::vector<const TComponentClass*> TRegistry::Classes() const {
    std::lock_guard lock(GRegistryMutex);
    std::vector<const TComponentClass*> classes;
    for (const auto& entry : FClasses) classes.push_back(entry.get());
    std::sort(classes.begin(), classes.end(), [](auto* a, auto* b) { return a->ClassName < b->ClassName; });
    return classes;
}

TComponentPtr TRegistry::Create(std::string_view className, TComponent* owner) const {
    const TComponentClass* entry = Find(className);
    if (!entry) throw EGraphError("Unknown component class '" + std::string(className) + "'");
    return TComponentPtr(entry->Create(owner));
}

void TRegistry::LoadPackage(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle) {
        const char* reason = dlerror();
        throw EPXError("Can't load package " + path + ": " + (reason ? reason : "unknown reason"));
    }
    auto* proc = reinterpret_cast<TPackageRegisterProc*>(dlsym(handle, KPackageRegisterProcName));
    if (!proc) throw EPXError("Package " + path + " does not export " + KPackageRegisterProcName);
    proc();  // the library stays loaded for the life of the process
}

}  // namespace pixora
