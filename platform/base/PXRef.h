// Intrusive reference counting for the payloads that travel through pins.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

namespace pixora {

// A reference-counted object. When the last reference goes, Recycle() runs: the default deletes
// the object; pooled payloads put themselves back into their pool instead.
class TRefCounted {
public:
    TRefCounted() = default;
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

    void AddRef() const noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            const_cast<TRefCounted*>(this)->Recycle();
    }
    int RefCount() const noexcept { return FRefCount.load(std::memory_order_acquire); }

protected:
    virtual ~TRefCounted() = default;
    virtual void Recycle() noexcept { delete this; }

private:
    mutable std::atomic<int> FRefCount{0};
};

// Smart handle over a TRefCounted descendant; copying shares the object.
template <class T>
class TRef {
public:
    TRef() noexcept = default;
    TRef(std::nullptr_t) noexcept {}
    explicit TRef(T* object) noexcept : FObject(object) {
        if (FObject) FObject->AddRef();
    }
    TRef(const TRef& other) noexcept : TRef(other.FObject) {}
    TRef(TRef&& other) noexcept : FObject(std::exchange(other.FObject, nullptr)) {}
    template <class U>
    TRef(const TRef<U>& other) noexcept : TRef(static_cast<T*>(other.Get())) {}
    ~TRef() {
        if (FObject) FObject->Release();
    }
    TRef& operator=(TRef other) noexcept {
        std::swap(FObject, other.FObject);
        return *this;
    }

    T* Get() const noexcept { return FObject; }
    T* operator->() const noexcept { return FObject; }
    T& operator*() const noexcept { return *FObject; }
    explicit operator bool() const noexcept { return FObject != nullptr; }
    void Reset() noexcept { *this = TRef(); }
    friend bool operator==(const TRef& a, const TRef& b) noexcept { return a.FObject == b.FObject; }

private:
    T* FObject = nullptr;
};

}  // namespace pixora
