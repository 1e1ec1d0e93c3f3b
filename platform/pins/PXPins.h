// Typed pins: a source pin fans out to any number of sink pins of the same data type; a sink pin
// takes at most one source. Operations go downstream with Notify and upstream with NotifyUpstream.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pins/PXOperations.h"

namespace pixora {

class TComponent;

enum class TPinDataType : uint8_t { Video, Real, Integer, Data, Text, Count, Audio };
std::string_view PinDataTypeName(TPinDataType type) noexcept;

class TLRSinkPin;
class TLRSourcePin;

class TLRPin {
public:
    TLRPin(TComponent* owner, std::string name, TPinDataType type) : FOwner(owner), FName(std::move(name)), FType(type) {}
    virtual ~TLRPin() = default;
    TLRPin(const TLRPin&) = delete;
    TLRPin& operator=(const TLRPin&) = delete;

    TComponent* Owner() const noexcept { return FOwner; }
    // A copy: a list may rename its pins (a mixer renumbers its inputs when channels move)
    // while other threads read names for messages or a saved graph.
    std::string Name() const {
        std::lock_guard lock(FNameMutex);
        return FName;
    }
    void SetName(std::string name) {
        std::lock_guard lock(FNameMutex);
        FName.swap(name);
    }
    TPinDataType DataType() const noexcept { return FType; }
    virtual bool IsSource() const noexcept = 0;
    // "component.Pin" for messages.
    std::string FullName() const;

private:
    TComponent* FOwner;
    mutable std::mutex FNameMutex;
    std::string FName;  // guarded by FNameMutex
    TPinDataType FType;
};

// Handler for operations arriving at a pin; the result is the pin's answer (accepted or not).
using TSinkHandler = std::function<bool(TLRSinkPin& pin, const ILRNotifyOperation& op)>;
using TUpstreamHandler = std::function<bool(TLRSourcePin& pin, const ILRNotifyOperation& op)>;

class TLRSourcePin : public TLRPin {
public:
    TLRSourcePin(TComponent* owner, std::string name, TPinDataType type, TUpstreamHandler upstream = {})
        : TLRPin(owner, std::move(name), type), FUpstream(std::move(upstream)) {}
    ~TLRSourcePin() override;
    bool IsSource() const noexcept override { return true; }

    // Raises EGraphError when the types differ or the sink already has a source.
    void Connect(TLRSinkPin& sink);
    void Disconnect(TLRSinkPin& sink);
    void DisconnectAll();
    bool IsConnected() const;
    std::vector<TLRSinkPin*> Sinks() const;

    // Sends the operation to every connected sink; true when any accepted it.
    bool Notify(const ILRNotifyOperation& op) const;
    // An operation from a downstream sink pin.
    bool ReceiveUpstream(const ILRNotifyOperation& op) { return FUpstream ? FUpstream(*this, op) : false; }
    void SetUpstreamHandler(TUpstreamHandler handler) { FUpstream = std::move(handler); }

private:
    friend class TLRSinkPin;
    mutable std::shared_mutex FMutex;
    std::vector<TLRSinkPin*> FSinks;
    TUpstreamHandler FUpstream;
};

class TLRSinkPin : public TLRPin {
public:
    TLRSinkPin(TComponent* owner, std::string name, TPinDataType type, TSinkHandler handler)
        : TLRPin(owner, std::move(name), type), FHandler(std::move(handler)) {}
    ~TLRSinkPin() override;
    bool IsSource() const noexcept override { return false; }

    TLRSourcePin* Source() const;
    bool IsConnected() const { return Source() != nullptr; }
    void Disconnect();

    // An operation from upstream (or pushed directly by a host or test harness).
    bool Receive(const ILRNotifyOperation& op) { return FHandler ? FHandler(*this, op) : false; }
    // Sends an operation to the connected source pin's owner.
    bool NotifyUpstream(const ILRNotifyOperation& op) const;

    // Deliveries from a source pin that have picked this pin and not yet returned from its
    // Receive. Once the pin is disconnected no new one begins, so an owner that removes a pin
    // while frames flow may destroy it when this reads 0 after the disconnect.
    int DeliveriesInProgress() const noexcept { return FDeliveries.load(std::memory_order_acquire); }

private:
    friend class TLRSourcePin;
    TSinkHandler FHandler;
    TLRSourcePin* FSource = nullptr;  // guarded by the source's mutex
    mutable std::shared_mutex FMutex;
    std::atomic<int> FDeliveries{0};  // counted under the source's mutex, see TLRSourcePin::Notify
};

// Convenience names for the pin types the components publish.
class TPXLRImageSourcePin final : public TLRSourcePin {
public:
    TPXLRImageSourcePin(TComponent* owner, std::string name, TUpstreamHandler upstream = {})
        : TLRSourcePin(owner, std::move(name), TPinDataType::Video, std::move(upstream)) {}
};
class TPXLRImageSinkPin final : public TLRSinkPin {
public:
    TPXLRImageSinkPin(TComponent* owner, std::string name, TSinkHandler handler)
        : TLRSinkPin(owner, std::move(name), TPinDataType::Video, std::move(handler)) {}
};

// An ordered, named list of pins of one direction; pins are addressed by index or by name.
class TLRPinList {
public:
    TLRPinList(TComponent* owner, std::string name) : FOwner(owner), FName(std::move(name)) {}
    const std::string& Name() const noexcept { return FName; }
    int Count() const noexcept { return int(FPins.size()); }
    TLRPin& operator[](int index) const;
    TLRPin* Find(std::string_view name) const;
    int IndexOf(const TLRPin& pin) const;
    void SetPinName(int index, std::string name);

    // PinListAddSetter / PinListAddNamedSetter: add a pin made by the caller; a nameless pin is
    // called after the list and its index ("OutputPins1").
    template <class TPin, class... TArgs>
    TPin& Add(std::string name, TArgs&&... args) {
        if (name.empty()) name = FName + std::to_string(FPins.size());
        auto pin = std::make_unique<TPin>(FOwner, std::move(name), std::forward<TArgs>(args)...);
        TPin& ref = *pin;
        FPins.push_back(std::move(pin));
        return ref;
    }
    void Delete(int index);
    // Takes the pin at `index` out of the list without destroying it (its owner keeps it alive
    // until no delivery reaches it any more).
    std::unique_ptr<TLRPin> Extract(int index);
    // Exchanges the pins at two positions (reordering channels keeps pin order = item order).
    void Swap(int a, int b);
    // Sends to every source pin of the list.
    bool Notify(const ILRNotifyOperation& op) const;

private:
    TComponent* FOwner;
    std::string FName;
    std::vector<std::unique_ptr<TLRPin>> FPins;
};

}  // namespace pixora
