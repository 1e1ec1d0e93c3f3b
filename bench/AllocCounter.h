// Counts the heap allocations of the benchmark process (global operator new), for the
// allocations-per-frame counters.
#pragma once

namespace pixora::bench {
long AllocationCount() noexcept;
}
