// Resolves vendor image-library (Intel IPP) entry points by name when such a library is
// installed; callers fall back to the platform's own implementation when a name is not found.
#pragma once

namespace pixora {

// The address of an IPP image function, or nullptr when no IPP library provides it.
void* GetIPPIProcAddress(const char* name) noexcept;

}  // namespace pixora
