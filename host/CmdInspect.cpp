// pixora inspect: the pins and published properties of one class, from its property table.
#include <cstdio>

#include "host/Host.h"
#include "platform/registry/PXRegistry.h"

namespace pixora::host {

namespace {

void PrintTable(const TPropertyTable& table, const std::string& prefix, int depth) {
    for (const TPropertyInfo* info : table.All()) {
        if (!info->Published()) continue;
        const std::string name = prefix + info->Name();
        std::string line = "  " + name;
        line.resize(std::max<std::size_t>(line.size() + 1, 30), ' ');
        line += info->TypeName();
        if (!info->DefaultText().empty()) line += "  default " + info->DefaultText();
        if (!info->RangeText().empty()) line += "  range " + info->RangeText();
        const auto members = info->MemberNames();
        if (!members.empty()) {
            line += "  one of ";
            for (std::size_t i = 0; i < members.size(); ++i) line += (i ? ", " : "") + members[i];
        }
        if (!info->Category().empty()) line += "  [" + info->Category() + "]";
        if (info->DisplayName() != info->Name()) line += "  \"" + info->DisplayName() + "\"";
        if (!info->EditorEntry().empty()) line += "  editor \"" + info->EditorEntry() + "\"";
        std::puts(line.c_str());
        if (const TPropertyTable* sub = info->ItemTable(); sub && depth < 4) {
            const bool collection = info->Kind() == TPropertyKind::Collection;
            PrintTable(*sub, name + (collection ? "[i]." : "."), depth + 1);
        }
    }
}

}  // namespace

int CmdInspect(const TArgs& args) {
    if (WantsHelp(args)) {
        std::puts("usage: pixora inspect CLASS\n\nShows a component class's pins and its published properties with\n"
                  "type, default, range and enumeration members. Sub-object properties are\n"
                  "written Parent.Child, as --set and graph files name them.");
        return 0;
    }
    if (args.size() != 1) throw TUsageError{"inspect takes one class name"};
    LoadPackage();
    const TComponentClass* entry = TRegistry::Instance().Find(args[0]);
    if (!entry) throw EGraphError("Unknown component class '" + args[0] + "' (pixora list shows the classes)");
    std::printf("%s", entry->ClassName.c_str());
    if (!entry->DisplayName.empty()) std::printf(" \"%s\"", entry->DisplayName.c_str());
    for (const auto& category : entry->Categories) std::printf(" [%s]", category.c_str());
    std::puts("");
    TComponentPtr instance = TRegistry::Instance().Create(entry->ClassName);
    std::puts("pins:");
    for (TLRPin* pin : instance->Pins())
        std::printf("  %-28s %s %s\n", pin->Name().c_str(), pin->IsSource() ? "output" : "input",
                    std::string(PinDataTypeName(pin->DataType())).c_str());
    for (TLRPinList* list : instance->PinLists()) std::printf("  %s[0..%d]\n", list->Name().c_str(), list->Count() - 1);
    std::puts("properties:");
    PrintTable(*entry->Properties, "", 0);
    return 0;
}

}  // namespace pixora::host
