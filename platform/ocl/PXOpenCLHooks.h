// What the region-of-interest filters see of OpenCL: a context with its command queue, and the
// argument list of a kernel bound by name. The wrapper behind them lives in platform/ocl/.
#pragma once

namespace pixora {

class TOCLContext;  // a device's context and command queue, shared by the filters using it
class TOCLArgs;     // the arguments of one kernel launch, set by name

}  // namespace pixora
