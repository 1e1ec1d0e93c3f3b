// Resolution of the Jaehne pattern entry point at package load.
#include "generators/PXJaehneDispatcher.h"

#include "platform/kernels/Jaehne.h"
#include "platform/kernels/PXIppLoader.h"

namespace pixora {

static int OwnImageJaehne(uint8_t* dst, int dstStep, TSize roiSize) { return kernels::ImageJaehne_8u_C3R(dst, dstStep, roiSize); }

TPtr_ippiImageJaehne_8u_C3R ippiImageJaehne_8u_C3R = &OwnImageJaehne;

void PXJaehneDispatcher::Initialize() {
    if (void* proc = GetIPPIProcAddress("ippiImageJaehne_8u_C3R"))
        ippiImageJaehne_8u_C3R = reinterpret_cast<TPtr_ippiImageJaehne_8u_C3R>(proc);
    else
        ippiImageJaehne_8u_C3R = &OwnImageJaehne;
}

}  // namespace pixora
