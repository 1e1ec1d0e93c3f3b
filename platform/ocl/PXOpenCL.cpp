// OpenCL through the ICD loader (OpenCL 1.2 entry points).
#define CL_TARGET_OPENCL_VERSION 120
#include "platform/ocl/PXOpenCL.h"

#include <CL/cl.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace pixora {

std::string_view OpenCLErrorName(int code) noexcept {
    switch (code) {
    case CL_SUCCESS: return "CL_SUCCESS";
    case CL_DEVICE_NOT_FOUND: return "CL_DEVICE_NOT_FOUND";
    case CL_DEVICE_NOT_AVAILABLE: return "CL_DEVICE_NOT_AVAILABLE";
    case CL_COMPILER_NOT_AVAILABLE: return "CL_COMPILER_NOT_AVAILABLE";
    case CL_MEM_OBJECT_ALLOCATION_FAILURE: return "CL_MEM_OBJECT_ALLOCATION_FAILURE";
    case CL_OUT_OF_RESOURCES: return "CL_OUT_OF_RESOURCES";
    case CL_OUT_OF_HOST_MEMORY: return "CL_OUT_OF_HOST_MEMORY";
    case CL_BUILD_PROGRAM_FAILURE: return "CL_BUILD_PROGRAM_FAILURE";
    case CL_INVALID_VALUE: return "CL_INVALID_VALUE";
    case CL_INVALID_DEVICE: return "CL_INVALID_DEVICE";
    case CL_INVALID_CONTEXT: return "CL_INVALID_CONTEXT";
    case CL_INVALID_COMMAND_QUEUE: return "CL_INVALID_COMMAND_QUEUE";
    case CL_INVALID_HOST_PTR: return "CL_INVALID_HOST_PTR";
    case CL_INVALID_MEM_OBJECT: return "CL_INVALID_MEM_OBJECT";
    case CL_INVALID_BUFFER_SIZE: return "CL_INVALID_BUFFER_SIZE";
    case CL_INVALID_PROGRAM: return "CL_INVALID_PROGRAM";
    case CL_INVALID_PROGRAM_EXECUTABLE: return "CL_INVALID_PROGRAM_EXECUTABLE";
    case CL_INVALID_KERNEL_NAME: return "CL_INVALID_KERNEL_NAME";
    case CL_INVALID_KERNEL: return "CL_INVALID_KERNEL";
    case CL_INVALID_ARG_INDEX: return "CL_INVALID_ARG_INDEX";
    case CL_INVALID_ARG_VALUE: return "CL_INVALID_ARG_VALUE";
    case CL_INVALID_ARG_SIZE: return "CL_INVALID_ARG_SIZE";
    case CL_INVALID_KERNEL_ARGS: return "CL_INVALID_KERNEL_ARGS";
    case CL_INVALID_WORK_DIMENSION: return "CL_INVALID_WORK_DIMENSION";
    case CL_INVALID_WORK_GROUP_SIZE: return "CL_INVALID_WORK_GROUP_SIZE";
    case CL_INVALID_GLOBAL_WORK_SIZE: return "CL_INVALID_GLOBAL_WORK_SIZE";
    case CL_INVALID_BUILD_OPTIONS: return "CL_INVALID_BUILD_OPTIONS";
    case CL_KERNEL_ARG_INFO_NOT_AVAILABLE: return "CL_KERNEL_ARG_INFO_NOT_AVAILABLE";
    case -1001: return "CL_PLATFORM_NOT_FOUND_KHR";
    }
    return "unknown OpenCL error";
}

void ErrorCheck(int result, const char* entryPoint) {
    if (result == CL_SUCCESS) return;
    throw EOpenCLError(std::string(entryPoint) + " failed: " + std::string(OpenCLErrorName(result)) + " (" +
                           std::to_string(result) + ")",
                       result);
}

TOCLBuffer::~TOCLBuffer() {
    if (FMem) clReleaseMemObject(FMem);
}

void TOCLArgument::SetBuffer(const IOCLBuffer& buffer) {
    if (!buffer) throw EOpenCLError("Kernel " + FKernel->Name() + ": no buffer for argument " + FName, CL_INVALID_MEM_OBJECT);
    cl_mem mem = buffer->Handle();
    ErrorCheck(clSetKernelArg(FKernel->Handle(), FIndex, sizeof(cl_mem), &mem), "clSetKernelArg");
    FBuffer = buffer;  // kept alive until the argument is set again
    FSet = true;
}

void TOCLArgument::SetValue(const void* value, std::size_t size) {
    FBuffer.reset();
    FSet = true;
    ErrorCheck(clSetKernelArg(FKernel->Handle(), FIndex, size, value), "clSetKernelArg");
}

static std::string KernelInfoString(cl_kernel kernel, cl_uint index, cl_kernel_arg_info what) {
    std::size_t size = 0;
    ErrorCheck(clGetKernelArgInfo(kernel, index, what, 0, nullptr, &size), "clGetKernelArgInfo");
    std::string text(size, '\0');
    ErrorCheck(clGetKernelArgInfo(kernel, index, what, size, text.data(), nullptr), "clGetKernelArgInfo");
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

TOCLKernel::TOCLKernel(cl_kernel kernel, std::string name) : FKernel(kernel), FName(std::move(name)) {
    cl_uint count = 0;
    ErrorCheck(clGetKernelInfo(kernel, CL_KERNEL_NUM_ARGS, sizeof count, &count, nullptr), "clGetKernelInfo");
    FArguments.reserve(count);
    for (cl_uint i = 0; i < count; ++i)
        FArguments.emplace_back(*this, i, KernelInfoString(kernel, i, CL_KERNEL_ARG_NAME),
                                KernelInfoString(kernel, i, CL_KERNEL_ARG_TYPE_NAME));
}

TOCLKernel::~TOCLKernel() {
    if (FKernel) clReleaseKernel(FKernel);
}

TOCLArgument& TOCLKernel::Argument(std::string_view name) {
    for (auto& argument : FArguments)
        if (argument.Name() == name) return argument;
    // Some compilers (PoCL's) rename arguments that share a built-in function's name, such as
    // "step", to "_cl_step" in the argument info.
    for (auto& argument : FArguments)
        if (argument.Name().starts_with("_cl_") && std::string_view(argument.Name()).substr(4) == name) return argument;
    throw EOpenCLError("Kernel " + FName + " has no argument named " + std::string(name), CL_INVALID_ARG_INDEX);
}

TOCLProgram::~TOCLProgram() {
    if (FProgram) clReleaseProgram(FProgram);
}

void TOCLProgram::Build(const std::string& options) {
    const cl_int result = clBuildProgram(FProgram, 1, &FDevice, options.c_str(), nullptr, nullptr);
    if (result == CL_SUCCESS) return;
    std::size_t size = 0;
    clGetProgramBuildInfo(FProgram, FDevice, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
    std::string log(size, '\0');
    if (size) clGetProgramBuildInfo(FProgram, FDevice, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
    while (!log.empty() && (log.back() == '\0' || log.back() == '\n')) log.pop_back();
    throw EOpenCLError("clBuildProgram failed: " + std::string(OpenCLErrorName(result)) + " (" + std::to_string(result) +
                           ")" + (log.empty() ? std::string() : "; build log:\n" + log),
                       result);
}

IOCLKernel TOCLProgram::CreateKernel(const std::string& name) {
    cl_int result = CL_SUCCESS;
    cl_kernel kernel = clCreateKernel(FProgram, name.c_str(), &result);
    if (result != CL_SUCCESS)
        throw EOpenCLError("clCreateKernel failed for " + name + ": " + std::string(OpenCLErrorName(result)), result);
    try {
        return std::make_shared<TOCLKernel>(kernel, name);
    } catch (...) {
        clReleaseKernel(kernel);
        throw;
    }
}

TOCLCommandQueue::~TOCLCommandQueue() {
    if (FQueue) clReleaseCommandQueue(FQueue);
}

void TOCLCommandQueue::Run(TOCLKernel& kernel, const TOCLGlobalDimensions& global) {
    for (const auto& argument : kernel.Arguments())
        if (!argument.IsSet())
            throw EOpenCLError("Kernel " + kernel.Name() + ": argument " + argument.Name() + " was not set",
                               CL_INVALID_KERNEL_ARGS);
    ErrorCheck(clEnqueueNDRangeKernel(FQueue, kernel.Handle(), cl_uint(global.Sizes.size()), nullptr, global.Sizes.data(),
                                      nullptr, 0, nullptr, nullptr),
               "clEnqueueNDRangeKernel");
}

void TOCLCommandQueue::ReadBuffer(const TOCLBuffer& buffer, bool blocking, std::size_t offset, void* destination,
                                  std::size_t size) {
    ErrorCheck(clEnqueueReadBuffer(FQueue, buffer.Handle(), blocking ? CL_TRUE : CL_FALSE, offset, size, destination, 0,
                                   nullptr, nullptr),
               "clEnqueueReadBuffer");
}

void TOCLCommandQueue::Finish() { ErrorCheck(clFinish(FQueue), "clFinish"); }

std::string TOCLDeviceInfo::Label() const {
    return std::to_string(PlatformIndex) + ":" + std::to_string(DeviceIndex) + " " + PlatformName + " / " + DeviceName;
}

TOCLContext::TOCLContext(cl_context context, cl_device_id device, TOCLDeviceInfo info)
    : FContext(context), FDevice(device), FInfo(std::move(info)) {
    cl_int result = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(FContext, FDevice, 0, &result);
    if (result != CL_SUCCESS) {
        clReleaseContext(FContext);
        ErrorCheck(result, "clCreateCommandQueue");
    }
    FQueue = std::make_unique<TOCLCommandQueue>(queue);
}

TOCLContext::~TOCLContext() {
    FPrograms.clear();
    FQueue.reset();
    if (FContext) clReleaseContext(FContext);
}

IOCLProgram TOCLContext::CreateProgram(const std::string& source) {
    const char* text = source.c_str();
    const std::size_t length = source.size();
    cl_int result = CL_SUCCESS;
    cl_program program = clCreateProgramWithSource(FContext, 1, &text, &length, &result);
    ErrorCheck(result, "clCreateProgramWithSource");
    return std::make_shared<TOCLProgram>(program, FDevice);
}

IOCLProgram TOCLContext::BuildProgram(const std::string& source, const std::string& options) {
    const std::string key = options + '\n' + source;
    std::lock_guard lock(FCacheMutex);
    for (const auto& [cached, program] : FPrograms)
        if (cached == key) return program;
    IOCLProgram program = CreateProgram(source);
    program->Build(options);
    FPrograms.emplace_back(key, program);
    return program;
}

void TOCLContext::FailNextAllocations(int code, int count) noexcept {
    FFailureCode.store(code);
    FFailingAllocations.store(count);
}

IOCLBuffer TOCLContext::CreateBuffer(uint64_t flags, std::size_t size, const void* hostPointer) {
    for (int failing = FFailingAllocations.load(); failing > 0;) {
        if (FFailingAllocations.compare_exchange_weak(failing, failing - 1)) ErrorCheck(FFailureCode.load(), "clCreateBuffer");
    }
    cl_int result = CL_SUCCESS;
    cl_mem mem = clCreateBuffer(FContext, cl_mem_flags(flags), std::max<std::size_t>(size, 1),
                                const_cast<void*>(hostPointer), &result);
    ErrorCheck(result, "clCreateBuffer");
    return std::make_shared<TOCLBuffer>(mem, size);
}

namespace {

struct TDeviceEntry {
    TOCLDeviceInfo Info;
    cl_device_id Id;
};

std::string PlatformString(cl_platform_id platform, cl_platform_info what) {
    std::size_t size = 0;
    if (clGetPlatformInfo(platform, what, 0, nullptr, &size) != CL_SUCCESS) return {};
    std::string text(size, '\0');
    clGetPlatformInfo(platform, what, size, text.data(), nullptr);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::string DeviceString(cl_device_id device, cl_device_info what) {
    std::size_t size = 0;
    if (clGetDeviceInfo(device, what, 0, nullptr, &size) != CL_SUCCESS) return {};
    std::string text(size, '\0');
    clGetDeviceInfo(device, what, size, text.data(), nullptr);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::vector<TDeviceEntry> Enumerate() {
    std::vector<TDeviceEntry> devices;
    cl_uint platformCount = 0;
    if (clGetPlatformIDs(0, nullptr, &platformCount) != CL_SUCCESS || platformCount == 0) return devices;
    std::vector<cl_platform_id> platforms(platformCount);
    clGetPlatformIDs(platformCount, platforms.data(), nullptr);
    for (cl_uint p = 0; p < platformCount; ++p) {
        cl_uint deviceCount = 0;
        if (clGetDeviceIDs(platforms[p], CL_DEVICE_TYPE_ALL, 0, nullptr, &deviceCount) != CL_SUCCESS) continue;
        std::vector<cl_device_id> ids(deviceCount);
        clGetDeviceIDs(platforms[p], CL_DEVICE_TYPE_ALL, deviceCount, ids.data(), nullptr);
        for (cl_uint d = 0; d < deviceCount; ++d) {
            cl_device_type type = 0;
            clGetDeviceInfo(ids[d], CL_DEVICE_TYPE, sizeof type, &type, nullptr);
            devices.push_back({{int(p), int(d), PlatformString(platforms[p], CL_PLATFORM_NAME),
                                DeviceString(ids[d], CL_DEVICE_NAME), (type & CL_DEVICE_TYPE_GPU) != 0},
                               ids[d]});
        }
    }
    return devices;
}

const std::vector<TDeviceEntry>& DeviceList() {
    static const std::vector<TDeviceEntry> devices = Enumerate();
    return devices;
}

}  // namespace

std::vector<TOCLDeviceInfo> TOpenCL::Devices() {
    std::vector<TOCLDeviceInfo> infos;
    for (const auto& entry : DeviceList()) infos.push_back(entry.Info);
    return infos;
}

IOCLContext TOpenCL::ContextFor(const std::string& setting) {
    const auto& devices = DeviceList();
    if (devices.empty())
        throw EOpenCLError("No OpenCL platform is available (install an OpenCL driver, for example pocl-opencl-icd)",
                           CL_DEVICE_NOT_FOUND);
    const TDeviceEntry* chosen = nullptr;
    if (setting == "auto") {
        for (const auto& entry : devices)
            if (entry.Info.IsGPU) {
                chosen = &entry;
                break;
            }
        if (!chosen) chosen = &devices.front();
    } else {
        int platform = -1, device = -1;
        char extra = 0;
        if (std::sscanf(setting.c_str(), "%d:%d%c", &platform, &device, &extra) == 2) {
            for (const auto& entry : devices)
                if (entry.Info.PlatformIndex == platform && entry.Info.DeviceIndex == device) chosen = &entry;
        } else {
            for (const auto& entry : devices)
                if (entry.Info.DeviceName.find(setting) != std::string::npos ||
                    entry.Info.PlatformName.find(setting) != std::string::npos) {
                    chosen = &entry;
                    break;
                }
        }
    }
    if (!chosen) {
        std::string known;
        for (const auto& entry : devices) known += (known.empty() ? "" : "; ") + entry.Info.Label();
        throw EOpenCLError("No OpenCL device matches '" + setting + "' (devices: " + known + ")", CL_DEVICE_NOT_FOUND);
    }
    static std::mutex mutex;
    static std::map<cl_device_id, std::weak_ptr<TOCLContext>> contexts;
    std::lock_guard lock(mutex);
    if (auto existing = contexts[chosen->Id].lock()) return existing;
    cl_int result = CL_SUCCESS;
    cl_context context = clCreateContext(nullptr, 1, &chosen->Id, nullptr, nullptr, &result);
    ErrorCheck(result, "clCreateContext");
    auto shared = std::make_shared<TOCLContext>(context, chosen->Id, chosen->Info);
    contexts[chosen->Id] = shared;
    return shared;
}

std::string InstantiateKernelTemplate(const std::string& text,
                                      const std::vector<std::pair<std::string, std::string>>& names, bool sixteenBit) {
    const auto replaceAll = [](std::string& subject, const std::string& from, const std::string& to) {
        for (std::size_t at = subject.find(from); at != std::string::npos; at = subject.find(from, at + to.size()))
            subject.replace(at, from.size(), to);
    };
    std::string result = text;
    replaceAll(result, "<[uchar]>", sixteenBit ? "ushort" : "uchar");
    for (const auto& [placeholder, name] : names) replaceAll(result, placeholder, name);
    replaceAll(result, "<[255]>", sixteenBit ? "65535" : "255");
    return result;
}

std::pair<IOCLKernel, IOCLKernel> BuildKernelPair(TOCLContext& context, const std::string& templateText,
                                                  const std::string& baseName) {
    const std::string name8 = baseName + "8Bits", name16 = baseName + "16Bits";
    const std::string source = InstantiateKernelTemplate(templateText, {{"<[KernelName]>", name8}}, false) +
                               InstantiateKernelTemplate(templateText, {{"<[KernelName]>", name16}}, true);
    const IOCLProgram program = context.BuildProgram(source, "-cl-kernel-arg-info");
    return {program->CreateKernel(name8), program->CreateKernel(name16)};
}

}  // namespace pixora
