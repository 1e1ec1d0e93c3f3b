// Component naming, pin lookup and error reporting.
#include "platform/component/PXComponent.h"

#include <cstdio>
#include <mutex>

namespace pixora {

namespace {
std::mutex GErrorMutex;
TErrorHandler GErrorHandler;
TErrorHandler GWarningHandler;
}  // namespace

void SetWarningHandler(TErrorHandler handler) {
    std::lock_guard lock(GErrorMutex);
    GWarningHandler = std::move(handler);
}

void TComponent::ReportWarning(const std::string& message) const {
    std::lock_guard lock(GErrorMutex);
    if (GWarningHandler) GWarningHandler(*this, message);
    else std::fprintf(stderr, "warning: %s: %s\n", GetDisplayPath().c_str(), message.c_str());
}

void SetErrorHandler(TErrorHandler handler) {
    std::lock_guard lock(GErrorMutex);
    GErrorHandler = std::move(handler);
}

void TComponent::ReportError(const std::string& message) const {
    std::lock_guard lock(GErrorMutex);
    if (GErrorHandler) GErrorHandler(*this, message);
    else std::fprintf(stderr, "%s: %s\n", GetDisplayPath().c_str(), message.c_str());
}

const TPropertyTable& TComponent::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TComponent>("TComponent", {});
    return table;
}

const TPropertyTable& TLockComponent::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TLockComponent, TComponent>("TLockComponent", {});
    return table;
}

TComponent::~TComponent() = default;

std::string TComponent::GetDisplayPath() const { return FName.empty() ? GetPropertyTable().ClassName() : FName; }

TLRPin& TComponent::FindPin(std::string_view path) const {
    const auto missing = [&](const std::string& what) {
        std::string known;
        for (TLRPin* pin : FPins) known += (known.empty() ? "" : ", ") + pin->Name();
        for (TLRPinList* list : FPinLists) known += (known.empty() ? "" : ", ") + list->Name() + "[i]";
        return EGraphError(GetDisplayPath() + " (" + GetPropertyTable().ClassName() + ") has no pin " + what +
                           (known.empty() ? std::string(" (it has no pins)") : "; its pins are " + known));
    };
    for (TLRPin* pin : FPins)
        if (pin->Name() == path) return *pin;
    for (TLRPinList* list : FPinLists) {
        const std::string& name = list->Name();
        if (!path.starts_with(name)) continue;
        std::string_view rest = path.substr(name.size());
        if (rest.starts_with("[") && rest.ends_with("]")) {
            const std::string digits(rest.substr(1, rest.size() - 2));
            std::size_t used = 0;
            int index = -1;
            try {
                index = std::stoi(digits, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != digits.size() || digits.empty()) throw missing("'" + std::string(path) + "'");
            if (index < 0 || index >= list->Count())
                throw EGraphError(GetDisplayPath() + "." + name + ": pin index " + std::to_string(index) +
                                  " is out of range (count " + std::to_string(list->Count()) + ")");
            return (*list)[index];
        }
        if (rest.starts_with(".")) {
            if (TLRPin* pin = list->Find(rest.substr(1))) return *pin;
        }
    }
    throw missing("'" + std::string(path) + "'");
}

std::string TComponent::PinPath(const TLRPin* pin, bool byName) const {
    for (const TLRPin* own : FPins)
        if (own == pin) return own->Name();
    for (const TLRPinList* list : FPinLists) {
        for (int i = 0; i < list->Count(); ++i) {
            const TLRPin& item = (*list)[i];
            if (&item != pin) continue;
            if (byName && list->Find(item.Name()) == &item) return list->Name() + "." + item.Name();
            return list->Name() + "[" + std::to_string(i) + "]";
        }
    }
    return {};
}

}  // namespace pixora
