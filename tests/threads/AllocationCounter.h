// Counts the heap allocations (global operator new) the whole process makes while counting is
// on; used to show that steady-state paths allocate nothing.
#pragma once

namespace pixora::testing_support {

// Counts from construction to destruction; Count() reads the total so far.
class TAllocationCounter {
public:
    TAllocationCounter();
    ~TAllocationCounter();
    TAllocationCounter(const TAllocationCounter&) = delete;
    TAllocationCounter& operator=(const TAllocationCounter&) = delete;
    long Count() const;
};

}  // namespace pixora::testing_support
