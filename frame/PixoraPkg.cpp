// The explicit list of units: their load-time initialisation, then their RegisterPkg calls.
#include "frame/PixoraPkg.h"

#include <mutex>

#include "analysis/PXHueVector.h"
#include "filters/combine/PXApplyAlpha.h"
#include "filters/combine/PXCombine.h"
#include "filters/combine/PXTransparentColor.h"
#include "filters/combine/PXVideoMixer.h"
#include "filters/geometric/PXCylinder.h"
#include "filters/geometric/PXFishEye.h"
#include "filters/geometric/PXMirror.h"
#include "filters/geometric/PXMovingLeastSquaresWarp.h"
#include "filters/geometric/PXRipple.h"
#include "filters/geometric/PXRotate.h"
#include "filters/geometric/PXShear.h"
#include "filters/geometric/PXSwirl.h"
#include "filters/geometric/PXWarp.h"
#include "filters/neighbourhood/PXBoxFilter.h"
#include "filters/neighbourhood/PXFixedFilter.h"
#include "filters/neighbourhood/PXGaussianBlur.h"
#include "filters/neighbourhood/PXRectKernelFilter.h"
#include "filters/neighbourhood/PXUnsharp.h"
#include "filters/point/PXColorLookup.h"
#include "filters/point/PXColorTwist.h"
#include "filters/point/PXGammaFilter.h"
#include "filters/point/PXImageAdjust.h"
#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "filters/point/PXThreshold.h"
#include "generators/PXGaussNoise.h"
#include "generators/PXJaehneDispatcher.h"
#include "generators/PXJaehneGen.h"
#include "generators/PXUniformNoise.h"
#include "io/PXMediaFileSink.h"
#include "io/PXMediaFileSource.h"

namespace pixora {

void RegisterPackage() {
    static std::once_flag once;
    std::call_once(once, [] {
        PXJaehneDispatcher::Initialize();

        PXNegative::RegisterPkg();
        PXSolarize::RegisterPkg();
        PXImageAdjust::RegisterPkg();
        PXThreshold::RegisterPkg();
        PXGammaFilter::RegisterPkg();
        PXColorTwist::RegisterPkg();
        PXColorLookup::RegisterPkg();
        PXHueVector::RegisterPkg();
        PXRectKernelFilter::RegisterPkg();
        PXBoxFilter::RegisterPkg();
        PXFixedFilter::RegisterPkg();
        PXGaussianBlur::RegisterPkg();
        PXUnsharp::RegisterPkg();
        PXRotate::RegisterPkg();
        PXShear::RegisterPkg();
        PXMirror::RegisterPkg();
        PXWarp::RegisterPkg();
        PXSwirl::RegisterPkg();
        PXFishEye::RegisterPkg();
        PXCylinder::RegisterPkg();
        PXRipple::RegisterPkg();
        PXMovingLeastSquaresWarp::RegisterPkg();
        PXJaehneGen::RegisterPkg();
        PXUniformNoise::RegisterPkg();
        PXGaussNoise::RegisterPkg();
        PXVideoMixer::RegisterPkg();
        PXMediaFileSource::RegisterPkg();
        PXMediaFileSink::RegisterPkg();
        PXCombine::RegisterPkg();
        PXTransparentColor::RegisterPkg();
        PXApplyAlpha::RegisterPkg();
    });
}

}  // namespace pixora

extern "C" __attribute__((visibility("default"))) void PixoraRegisterPackage() { pixora::RegisterPackage(); }
