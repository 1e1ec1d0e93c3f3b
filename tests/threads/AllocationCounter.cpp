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

void* operator new(std::size_t size) {
    if (gCounting.load(std::memory_order_relaxed) > 0) gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace pixora::testing_support {

TAllocationCounter::TAllocationCounter() {
    gAllocations.store(0);
    gCounting.fetch_add(1);
}
TAllocationCounter::~TAllocationCounter() { gCounting.fetch_sub(1); }
long TAllocationCounter::Count() const { return gAllocations.load(); }

}  // namespace pixora::testing_support
