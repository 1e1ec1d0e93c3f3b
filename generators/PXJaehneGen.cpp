// The Jaehne generator fills each frame through the dispatched pattern function.
#include "generators/PXJaehneGen.h"

#include "generators/PXJaehneDispatcher.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXJaehneGen::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXJaehneGen, TPXCommonGen>("TPXJaehneGen", {
        Object("ImageSize", &TPXJaehneGen::FImageSize),
    });
    return table;
}

TPXJaehneGen::TPXJaehneGen(TComponent* owner) : TPXCommonGen(owner), FImageSize(GetLock()) {}

bool TPXJaehneGen::GenerateFrame(IPXImageBuffer& frame) {
    const int status = ippiImageJaehne_8u_C3R(frame->GetWritePointer(), frame->GetLineSize(), frame->GetSize());
    if (status != 0) throw EPXError("ippiImageJaehne_8u_C3R failed with status " + std::to_string(status));
    return true;
}

void PXJaehneGen::RegisterPkg() {
    RegisterComponents<TPXJaehneGen>({"TPixoraGeneratorsToolbarCategory"}, "Jaehne Test Pattern Video Generator");
}

}  // namespace pixora
