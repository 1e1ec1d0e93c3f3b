// The OpenCL wrapper: device choice, one context and command queue per device shared by the
// filters that use it, a program cache, kernels whose arguments are bound by name, device
// buffers, and errors that name the failed entry point. OpenCL headers stay in the .cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/PXErrors.h"

typedef struct _cl_context* cl_context;
typedef struct _cl_command_queue* cl_command_queue;
typedef struct _cl_program* cl_program;
typedef struct _cl_kernel* cl_kernel;
typedef struct _cl_mem* cl_mem;
typedef struct _cl_device_id* cl_device_id;

namespace pixora {

// A failed OpenCL call: the message names the entry point and the error code.
class EOpenCLError : public EPXError {
public:
    EOpenCLError(const std::string& message, int code) : EPXError(message), FCode(code) {}
    int Code() const noexcept { return FCode; }

private:
    int FCode;
};

// Raises EOpenCLError("<entryPoint> failed: CL_... (code)") unless result is CL_SUCCESS.
void ErrorCheck(int result, const char* entryPoint);
std::string_view OpenCLErrorName(int code) noexcept;

// Memory flags in the bit order of cl_mem_flags.
enum TOCLMemFlag : uint64_t {
    mfReadWrite = 1 << 0,
    mfWriteOnly = 1 << 1,
    mfReadOnly = 1 << 2,
    mfUseHostPtr = 1 << 3,
    mfAllocHostPtr = 1 << 4,
    mfCopyHostPtr = 1 << 5,
};

class TOCLBuffer {
public:
    TOCLBuffer(cl_mem mem, std::size_t size) : FMem(mem), FSize(size) {}
    ~TOCLBuffer();
    TOCLBuffer(const TOCLBuffer&) = delete;
    TOCLBuffer& operator=(const TOCLBuffer&) = delete;
    cl_mem Handle() const noexcept { return FMem; }
    std::size_t Size() const noexcept { return FSize; }

private:
    cl_mem FMem;
    std::size_t FSize;
};
using IOCLBuffer = std::shared_ptr<TOCLBuffer>;

class TOCLKernel;

// One kernel argument, found by name.
class TOCLArgument {
public:
    TOCLArgument(TOCLKernel& kernel, unsigned index, std::string name, std::string typeName)
        : FKernel(&kernel), FIndex(index), FName(std::move(name)), FTypeName(std::move(typeName)) {}
    const std::string& Name() const noexcept { return FName; }
    const std::string& TypeName() const noexcept { return FTypeName; }
    unsigned Index() const noexcept { return FIndex; }
    bool IsSet() const noexcept { return FSet; }

    void SetBuffer(const IOCLBuffer& buffer);
    // Value setters: each drops any buffer held and calls clSetKernelArg with the value's size.
    void SetUInt(uint32_t value) { SetValue(&value, sizeof value); }
    void SetInt(int32_t value) { SetValue(&value, sizeof value); }
    void SetFloat(float value) { SetValue(&value, sizeof value); }
    void SetUShort(uint16_t value) { SetValue(&value, sizeof value); }
    void SetUChar(uint8_t value) { SetValue(&value, sizeof value); }

private:
    void SetValue(const void* value, std::size_t size);
    TOCLKernel* FKernel;
    unsigned FIndex;
    std::string FName, FTypeName;
    IOCLBuffer FBuffer;
    bool FSet = false;
};

class TOCLKernel {
public:
    TOCLKernel(cl_kernel kernel, std::string name);
    ~TOCLKernel();
    TOCLKernel(const TOCLKernel&) = delete;
    TOCLKernel& operator=(const TOCLKernel&) = delete;
    cl_kernel Handle() const noexcept { return FKernel; }
    const std::string& Name() const noexcept { return FName; }
    std::vector<TOCLArgument>& Arguments() noexcept { return FArguments; }
    // Raises EOpenCLError naming the kernel and the argument when there is none of that name.
    TOCLArgument& Argument(std::string_view name);

private:
    cl_kernel FKernel;
    std::string FName;
    std::vector<TOCLArgument> FArguments;
};
using IOCLKernel = std::shared_ptr<TOCLKernel>;

class TOCLProgram {
public:
    TOCLProgram(cl_program program, cl_device_id device) : FProgram(program), FDevice(device) {}
    ~TOCLProgram();
    TOCLProgram(const TOCLProgram&) = delete;
    TOCLProgram& operator=(const TOCLProgram&) = delete;
    // Raises EOpenCLError carrying the build log when the source does not compile.
    void Build(const std::string& options);
    IOCLKernel CreateKernel(const std::string& name);

private:
    cl_program FProgram;
    cl_device_id FDevice;
};
using IOCLProgram = std::shared_ptr<TOCLProgram>;

struct TOCLGlobalDimensions {
    std::vector<std::size_t> Sizes;
    static TOCLGlobalDimensions Create(std::initializer_list<std::size_t> sizes) { return {sizes}; }
};

class TOCLCommandQueue {
public:
    explicit TOCLCommandQueue(cl_command_queue queue) : FQueue(queue) {}
    ~TOCLCommandQueue();
    TOCLCommandQueue(const TOCLCommandQueue&) = delete;
    TOCLCommandQueue& operator=(const TOCLCommandQueue&) = delete;
    void Run(TOCLKernel& kernel, const TOCLGlobalDimensions& global);
    void ReadBuffer(const TOCLBuffer& buffer, bool blocking, std::size_t offset, void* destination, std::size_t size);
    void Finish();

private:
    cl_command_queue FQueue;
};

struct TOCLDeviceInfo {
    int PlatformIndex = 0, DeviceIndex = 0;
    std::string PlatformName, DeviceName;
    bool IsGPU = false;
    std::string Label() const;  // "0:1 Portable Computing Language / cpu-haswell-..."
};

// One device's context and queue, shared by every filter that runs on that device.
class TOCLContext {
public:
    TOCLContext(cl_context context, cl_device_id device, TOCLDeviceInfo info);
    ~TOCLContext();
    TOCLContext(const TOCLContext&) = delete;
    TOCLContext& operator=(const TOCLContext&) = delete;

    const TOCLDeviceInfo& Info() const noexcept { return FInfo; }
    IOCLProgram CreateProgram(const std::string& source);
    // Built once per device for each source and option text; later calls return the cached program.
    IOCLProgram BuildProgram(const std::string& source, const std::string& options);
    IOCLBuffer CreateBuffer(uint64_t flags, std::size_t size, const void* hostPointer);
    TOCLCommandQueue& Queue() noexcept { return *FQueue; }
    // Serialises runs on the shared queue between the filters' threads.
    std::mutex& RunMutex() noexcept { return FRunMutex; }
    // Makes the next `count` buffer allocations fail with `code` (CL_MEM_OBJECT_ALLOCATION_FAILURE,
    // CL_DEVICE_NOT_AVAILABLE ...), as a device that runs out of memory or goes away would, so the
    // filters' recovery from a failed frame can be exercised on any device.
    void FailNextAllocations(int code, int count = 1) noexcept;

private:
    cl_context FContext;
    cl_device_id FDevice;
    TOCLDeviceInfo FInfo;
    std::unique_ptr<TOCLCommandQueue> FQueue;
    std::mutex FCacheMutex, FRunMutex;
    std::atomic<int> FFailingAllocations{0}, FFailureCode{0};
    std::vector<std::pair<std::string, IOCLProgram>> FPrograms;  // key: options + '\n' + source
};
using IOCLContext = std::shared_ptr<TOCLContext>;

class TOpenCL {
public:
    // Every device of every platform the ICD loader knows; empty when there is none.
    static std::vector<TOCLDeviceInfo> Devices();
    // The shared context for a device setting: "auto" (the first GPU, else the first device),
    // "P:D" (platform and device index) or a part of a device or platform name. Raises
    // EOpenCLError with a clear message when no device matches or no platform exists.
    static IOCLContext ContextFor(const std::string& setting);
};

// Fills a kernel template: "<[uchar]>" becomes "uchar" or "ushort", then each name placeholder
// its kernel name, then "<[255]>" becomes "255" or "65535".
std::string InstantiateKernelTemplate(const std::string& text,
                                      const std::vector<std::pair<std::string, std::string>>& names, bool sixteenBit);

// The usual build of a one-kernel template: instantiated for 8 bits ("<base>8Bits") and 16 bits
// ("<base>16Bits"), joined 8-bit first, built with "-cl-kernel-arg-info"; returns both kernels.
std::pair<IOCLKernel, IOCLKernel> BuildKernelPair(TOCLContext& context, const std::string& templateText,
                                                  const std::string& baseName);

// Sets a kernel's arguments by name for one launch.
class TOCLArgs {
public:
    explicit TOCLArgs(TOCLKernel& kernel) : FKernel(&kernel) {}
    void Set(std::string_view name, const IOCLBuffer& buffer) { FKernel->Argument(name).SetBuffer(buffer); }
    void Set(std::string_view name, uint32_t value) { FKernel->Argument(name).SetUInt(value); }
    void Set(std::string_view name, int32_t value) { FKernel->Argument(name).SetInt(value); }
    void Set(std::string_view name, float value) { FKernel->Argument(name).SetFloat(value); }
    void Set(std::string_view name, uint16_t value) { FKernel->Argument(name).SetUShort(value); }
    void Set(std::string_view name, uint8_t value) { FKernel->Argument(name).SetUChar(value); }
    TOCLKernel& Kernel() noexcept { return *FKernel; }

private:
    TOCLKernel* FKernel;
};

}  // namespace pixora
