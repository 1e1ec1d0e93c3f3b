// Run-time dispatch by instruction set for whole functions: the function is compiled once per
// listed target and the loader picks the best one for the CPU through an IFUNC resolver.
// ThreadSanitizer cannot run those resolvers (they are called while libraries are relocated,
// before its runtime is set up), so a ThreadSanitizer build keeps only the default version.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define PIXORA_TARGET_CLONES(...)
#else
#define PIXORA_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif
