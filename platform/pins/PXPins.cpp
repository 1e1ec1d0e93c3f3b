// Pin connections and operation delivery.
#include "platform/pins/PXPins.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "platform/base/PXErrors.h"
#include "platform/component/PXComponent.h"

namespace pixora {

std::string_view PinDataTypeName(TPinDataType type) noexcept {
    switch (type) {
    case TPinDataType::Video: return "video";
    case TPinDataType::Real: return "real";
    case TPinDataType::Integer: return "integer";
    case TPinDataType::Data: return "data";
    case TPinDataType::Text: return "text";
    case TPinDataType::Count: return "count";
    case TPinDataType::Audio: return "audio";
    }
    return "unknown";
}

std::string_view DataKindName(TDataKind kind) noexcept {
    switch (kind) {
    case TDataKind::Image: return "video";
    case TDataKind::Real: return "real";
    case TDataKind::Integer: return "integer";
    case TDataKind::Block: return "data block";
    case TDataKind::Text: return "text";
    case TDataKind::Count: return "count";
    case TDataKind::Audio: return "audio";
    }
    return "unknown";
}

IQNMarker TQNKeyFrameMarker::Instance() {
    static const IQNMarker marker(new TQNKeyFrameMarker);
    return marker;
}

std::string TLRPin::FullName() const {
    const std::string owner = FOwner ? FOwner->GetDisplayPath() : std::string("?");
    return owner + "." + Name();
}

TLRSourcePin::~TLRSourcePin() { DisconnectAll(); }

void TLRSourcePin::Connect(TLRSinkPin& sink) {
    if (sink.DataType() != DataType())
        throw EGraphError("Cannot connect " + FullName() + " (" + std::string(PinDataTypeName(DataType())) + ") to " +
                          sink.FullName() + " (" + std::string(PinDataTypeName(sink.DataType())) + "): pin types differ");
    std::scoped_lock lock(FMutex, sink.FMutex);
    if (sink.FSource == this)
        throw EGraphError("Cannot connect " + FullName() + " to " + sink.FullName() + ": they are already connected");
    if (sink.FSource)
        throw EGraphError("Cannot connect " + FullName() + " to " + sink.FullName() + ": the input is already connected to " +
                          sink.FSource->FullName());
    FSinks.push_back(&sink);
    sink.FSource = this;
}

void TLRSourcePin::Disconnect(TLRSinkPin& sink) {
    std::scoped_lock lock(FMutex, sink.FMutex);
    if (sink.FSource != this) return;
    std::erase(FSinks, &sink);
    sink.FSource = nullptr;
}

void TLRSourcePin::DisconnectAll() {
    for (TLRSinkPin* sink : Sinks()) Disconnect(*sink);
}

bool TLRSourcePin::IsConnected() const {
    std::shared_lock lock(FMutex);
    return !FSinks.empty();
}

std::vector<TLRSinkPin*> TLRSourcePin::Sinks() const {
    std::shared_lock lock(FMutex);
    return FSinks;
}

bool TLRSourcePin::Notify(const ILRNotifyOperation& op) const {
    // Deliver outside the lock: a receiver may send operations back upstream. A sink may be
    // disconnected (and its owner may want to destroy it) while a delivery runs, so each sink of
    // the snapshot is counted as being delivered to from the moment it is picked, under the lock
    // that Disconnect takes exclusively, until its Receive returns.
    std::array<TLRSinkPin*, 16> local{};
    std::vector<TLRSinkPin*> many;
    std::size_t count = 0;
    {
        std::shared_lock lock(FMutex);
        count = FSinks.size();
        if (count <= local.size()) std::copy(FSinks.begin(), FSinks.end(), local.begin());
        else many = FSinks;
        for (TLRSinkPin* sink : FSinks) sink->FDeliveries.fetch_add(1, std::memory_order_relaxed);
    }
    TLRSinkPin* const* sinks = count <= local.size() ? local.data() : many.data();
    // Every counted sink is released, also when a receiver throws.
    struct TRelease {
        TLRSinkPin* const* Sinks;
        std::size_t Next, Count;
        ~TRelease() {
            for (; Next < Count; ++Next) Sinks[Next]->FDeliveries.fetch_sub(1, std::memory_order_release);
        }
    } release{sinks, 0, count};
    bool accepted = false;
    for (; release.Next < count; ++release.Next) {
        TLRSinkPin* sink = sinks[release.Next];
        accepted |= sink->Receive(op);
        // The last access to the sink: its owner may destroy it as soon as the count reads 0.
        sink->FDeliveries.fetch_sub(1, std::memory_order_release);
    }
    return accepted;
}

TLRSinkPin::~TLRSinkPin() { Disconnect(); }

TLRSourcePin* TLRSinkPin::Source() const {
    std::shared_lock lock(FMutex);
    return FSource;
}

void TLRSinkPin::Disconnect() {
    if (TLRSourcePin* source = Source()) source->Disconnect(*this);
}

bool TLRSinkPin::NotifyUpstream(const ILRNotifyOperation& op) const {
    TLRSourcePin* source = Source();
    return source ? source->ReceiveUpstream(op) : false;
}

TLRPin& TLRPinList::operator[](int index) const {
    if (index < 0 || index >= Count())
        throw ERangeError("Pin index " + std::to_string(index) + " out of range in " + FName + " (count " +
                          std::to_string(Count()) + ")");
    return *FPins[std::size_t(index)];
}

TLRPin* TLRPinList::Find(std::string_view name) const {
    for (const auto& pin : FPins)
        if (pin->Name() == name) return pin.get();
    return nullptr;
}

int TLRPinList::IndexOf(const TLRPin& pin) const {
    for (std::size_t i = 0; i < FPins.size(); ++i)
        if (FPins[i].get() == &pin) return int(i);
    return -1;
}

void TLRPinList::SetPinName(int index, std::string name) { (*this)[index].SetName(std::move(name)); }

void TLRPinList::Delete(int index) {
    (void)(*this)[index];
    FPins.erase(FPins.begin() + index);
}

std::unique_ptr<TLRPin> TLRPinList::Extract(int index) {
    (void)(*this)[index];
    std::unique_ptr<TLRPin> pin = std::move(FPins[std::size_t(index)]);
    FPins.erase(FPins.begin() + index);
    return pin;
}

void TLRPinList::Swap(int a, int b) {
    (void)(*this)[a];
    (void)(*this)[b];
    std::swap(FPins[std::size_t(a)], FPins[std::size_t(b)]);
}

bool TLRPinList::Notify(const ILRNotifyOperation& op) const {
    bool accepted = false;
    for (const auto& pin : FPins)
        if (pin->IsSource()) accepted |= static_cast<TLRSourcePin&>(*pin).Notify(op);
    return accepted;
}

}  // namespace pixora
