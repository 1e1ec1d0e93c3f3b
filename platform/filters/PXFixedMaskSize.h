// The framework's predefined square mask sizes of the fixed filters: ordinal 0 is 3 x 3, ordinal 1
// is 5 x 5. IPP passes them as the mask-size codes 33 and 55.
#pragma once

#include <cstdint>

namespace pixora {

enum TPXFixedMaskSize : uint8_t { fms3x3, fms5x5 };

// IPP's mask-size code of a fixed mask: 33 for 3 x 3, 55 for 5 x 5.
constexpr int FixedMaskCode(TPXFixedMaskSize size) noexcept { return size == fms3x3 ? 33 : 55; }

}  // namespace pixora
