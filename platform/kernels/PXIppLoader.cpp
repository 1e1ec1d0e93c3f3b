// Looks for an installed IPP image library once, by its usual file names.
#include "platform/kernels/PXIppLoader.h"

#include <dlfcn.h>

#include <mutex>

namespace pixora {

void* GetIPPIProcAddress(const char* name) noexcept {
    static void* library = [] {
        for (const char* file : {"libippi.so", "libippi.so.10", "libippi.so.11"})
            if (void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL)) return handle;
        return static_cast<void*>(nullptr);
    }();
    return library && name ? dlsym(library, name) : nullptr;
}

}  // namespace pixora
