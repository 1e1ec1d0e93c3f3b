// pixora list: the registered components by palette category.
#include <cstdio>
#include <map>

#include "host/Host.h"
#include "platform/registry/PXRegistry.h"

namespace pixora::host {

int CmdList(const TArgs& args) {
    if (WantsHelp(args)) {
        std::puts("usage: pixora list\n\nLists every registered component class under its palette categories,\n"
                  "with its display name.");
        return 0;
    }
    if (!args.empty()) throw TUsageError{"list takes no arguments"};
    LoadPackage();
    std::map<std::string, std::vector<const TComponentClass*>> byCategory;
    for (const TComponentClass* entry : TRegistry::Instance().Classes())
        for (const auto& category : entry->Categories) byCategory[category].push_back(entry);
    for (const auto& [category, classes] : byCategory) {
        std::printf("%s\n", category.c_str());
        for (const TComponentClass* entry : classes)
            std::printf("  %-28s %s\n", entry->ClassName.c_str(),
                        entry->DisplayName.empty() ? "" : ("\"" + entry->DisplayName + "\"").c_str());
    }
    return 0;
}

}  // namespace pixora::host
