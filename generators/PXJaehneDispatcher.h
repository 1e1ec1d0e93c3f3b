// The Jaehne pattern entry point: IPP's ippiImageJaehne_8u_C3R when an IPP library provides it,
// else the platform's own implementation of the same function.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora {

using TPtr_ippiImageJaehne_8u_C3R = int (*)(uint8_t* dst, int dstStep, TSize roiSize);
extern TPtr_ippiImageJaehne_8u_C3R ippiImageJaehne_8u_C3R;

namespace PXJaehneDispatcher {
// Resolves the entry point (run once when the package loads).
void Initialize();
}

}  // namespace pixora
