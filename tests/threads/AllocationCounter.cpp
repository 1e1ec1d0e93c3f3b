// Replaces the global operator new of the test binary with a counting one (a plain malloc
// underneath); counting is off except inside a TAllocationCounter's lifetime.
#include "threads/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int> gCounting{0};
std::atomic<long> gAllocations{0};
}  // namespace

namespace {
void* CountedAllocate(std::size_t size) noexcept {
    if (gCounting.load(std::memory_order_relaxed) > 0) gAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Every form that pairs with the plain operator delete is replaced, so that memory allocated
// by one form and released by another (as LLVM inside the OpenCL driver does) stays matched;
// the aligned forms are left to the runtime on both sides.
void* operator new(std::size_t size) {
    if (void* p = CountedAllocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = CountedAllocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace pixora::testing_support {

TAllocationCounter::TAllocationCounter() {
    gAllocations.store(0);
    gCounting.fetch_add(1);
}
TAllocationCounter::~TAllocationCounter() { gCounting.fetch_sub(1); }
long TAllocationCounter::Count() const { return gAllocations.load(); }

}  // namespace pixora::testing_support
