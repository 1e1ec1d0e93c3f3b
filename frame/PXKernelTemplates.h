// The OpenCL kernel templates the library holds (frame/opencl/*.cl, embedded at build time).
#pragma once

#include <string>
#include <string_view>

namespace pixora {

// The template text of frame/opencl/<name>.cl; raises EPXError for an unknown name.
const std::string& KernelTemplate(std::string_view name);

}  // namespace pixora
