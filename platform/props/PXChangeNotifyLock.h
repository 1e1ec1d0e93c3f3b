// The change-notify lock: every published setter stores through it, so a change is stored once,
// announced once, and never torn for the processing thread that reads a snapshot under it.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

namespace pixora {

class TChangeNotifyLock {
public:
    // Called after a stored change, under the lock, with the property's name when known.
    using TListener = std::function<void(std::string_view property)>;

    void lock() { FMutex.lock(); }
    void unlock() { FMutex.unlock(); }
    bool try_lock() { return FMutex.try_lock(); }

    int Subscribe(TListener listener) {
        std::lock_guard guard(FMutex);
        FListeners.push_back({++FNextId, std::move(listener)});
        return FNextId;
    }
    void Unsubscribe(int id) {
        std::lock_guard guard(FMutex);
        std::erase_if(FListeners, [id](const auto& entry) { return entry.Id == id; });
    }
    // Fires the change notification (callers hold the lock or take it here). A listener may
    // subscribe or unsubscribe (itself included) while it is called, so the listeners of this
    // moment are called from a copy of the list.
    void Notify(std::string_view property = {}) {
        std::lock_guard guard(FMutex);
        ++FChangeCount;
        if (FListeners.empty()) return;
        const std::vector<TEntry> listeners = FListeners;
        for (const auto& entry : listeners) entry.Listener(property);
    }
    unsigned long ChangeCount() const noexcept { return FChangeCount; }

    // Takes the lock; stores and notifies only when the value differs; runs followUp after storing.
    template <class V, class TFollowUp = void (*)()>
    bool NotifySetter(V& field, const V& value, TFollowUp followUp = nullptr, std::string_view property = {}) {
        std::lock_guard guard(FMutex);
        if (field == value) return false;
        field = value;
        if constexpr (!std::is_same_v<TFollowUp, std::nullptr_t>) {
            if constexpr (std::is_pointer_v<TFollowUp>) {
                if (followUp) followUp();
            } else {
                followUp();
            }
        }
        Notify(property);
        return true;
    }
    // Clamped setters: out-of-range values are stored as the nearest bound.
    template <class V>
    bool NotifySetterMin(V& field, V value, V minimum, std::string_view property = {}) {
        return NotifySetter(field, std::max(value, minimum), nullptr, property);
    }
    template <class V>
    bool NotifySetterMax(V& field, V value, V maximum, std::string_view property = {}) {
        return NotifySetter(field, std::min(value, maximum), nullptr, property);
    }
    template <class V>
    bool NotifySetterMinMax(V& field, V value, V minimum, V maximum, std::string_view property = {}) {
        return NotifySetter(field, std::clamp(value, minimum, maximum), nullptr, property);
    }

private:
    struct TEntry {
        int Id;
        TListener Listener;
    };
    std::recursive_mutex FMutex;
    std::vector<TEntry> FListeners;
    int FNextId = 0;
    unsigned long FChangeCount = 0;
};

}  // namespace pixora
