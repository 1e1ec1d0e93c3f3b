// The component root: a named object with published properties and pins, and the lock that
// guards its settings.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pins/PXPins.h"
#include "platform/props/PXProperties.h"

namespace pixora {

// How sources pace a stream: Live ticks from a clock at the frame duration, Offline runs as fast
// as downstream accepts (back-pressure, nothing dropped).
enum class TRunMode { Offline, Live };

struct TRunOptions {
    TRunMode Mode = TRunMode::Offline;
    int64_t FrameLimit = -1;  // frames to send before stopping; -1 for no limit
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr) : FOwner(owner) {}
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    const std::string& GetName() const noexcept { return FName; }
    void SetName(std::string name) { FName = std::move(name); }
    TComponent* GetOwner() const noexcept { return FOwner; }
    // The name, or the class name for an unnamed component; used in messages.
    std::string GetDisplayPath() const;

    const std::vector<TLRPin*>& Pins() const noexcept { return FPins; }
    const std::vector<TLRPinList*>& PinLists() const noexcept { return FPinLists; }
    // "OutputPin", "InputPins[1]" or "OutputPins.Red"; raises EGraphError naming what is missing.
    TLRPin& FindPin(std::string_view path) const;
    // The path that FindPin takes back to `pin` ("OutputPin", "InputPins[2]", or
    // "OutputPins.Red" when byName and the name still leads to it); empty when the component no
    // longer has the pin. Addresses are compared before anything is read: `pin` may be gone.
    std::string PinPath(const TLRPin* pin, bool byName) const;

    // Sources (generators, file sources, receivers) start and stop streams; others ignore these.
    virtual bool CanStart() const { return false; }
    virtual void Start(const TRunOptions&) {}
    virtual void Stop() {}
    // True once a started source has sent its stop (frame limit or end of input).
    virtual bool IsFinished() const { return true; }
    // Returns when the component has processed everything queued to it.
    virtual void WaitIdle() {}

    // One line on what the last stream produced, for hosts ("12 frames -> out/a_0000.png ...");
    // empty when there is nothing to tell.
    virtual std::string Summary() const { return {}; }

    // Reports a failure that dropped a frame or stopped a stream; the process goes on.
    void ReportError(const std::string& message) const;
    // Reports something the user should know that did not stop the work (a fallback taken).
    void ReportWarning(const std::string& message) const;

protected:
    void PublishPin(TLRPin& pin) { FPins.push_back(&pin); }
    void PublishPinList(TLRPinList& list) { FPinLists.push_back(&list); }

private:
    TComponent* FOwner;
    std::string FName;
    std::vector<TLRPin*> FPins;
    std::vector<TLRPinList*> FPinLists;
};

// A component with its own change-notify lock; the base of every component of the package.
class TLockComponent : public TComponent {
public:
    using TComponent::TComponent;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    TChangeNotifyLock& GetLock() const override { return FLock; }

private:
    mutable TChangeNotifyLock FLock;
};

// Where component errors go: the host prints them, tests collect them. The default handler
// writes one line to standard error.
using TErrorHandler = std::function<void(const TComponent& component, const std::string& message)>;
void SetErrorHandler(TErrorHandler handler);
// Where warnings go; the default handler writes "warning: " lines to standard error.
void SetWarningHandler(TErrorHandler handler);

}  // namespace pixora
