#include "acquisition/port_buffers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acquisition/operator_message.h"
#include "config/dynamic_array.h"
#include "log/log_codes.h"
#include "log/log_file.h"

namespace {

std::atomic<PortBufferReallocator> g_reallocator{nullptr};

void* Reallocate(void* block, size_t size) {
    PortBufferReallocator reallocator = g_reallocator.load();
    return reallocator != nullptr ? reallocator(block, size) : std::realloc(block, size);
}

[[noreturn]] void AllocationFailed(const char* text) {
    ShowOperatorMessage(text);
    std::fflush(nullptr);
    // Other threads still run (the user-interface thread waits for this
    // one), so the process ends at once without running destructors.
    std::_Exit(-1);
}

template <typename T>
T* AllocateRow(int num_ports, const char* failure_text) {
    T* array = dynamic_array_1d<T>(static_cast<uint32_t>(num_ports));
    if (array == nullptr) {
        AllocationFailed(failure_text);
    }
    return array;
}

// Room for the first 512 bytes and the terminating zero.
constexpr uint32_t kInitialRow = kBufferGrowthStep + 1;
// The buffer index and size are 32-bit: a buffer stays below 2 GiB.
constexpr int64_t kMaxBufferSize = int64_t{0x7FFFFE00};

}  // namespace

PerPortArrays AllocatePerPortArrays(int num_ports) {
    PerPortArrays arrays;
    arrays.NumPorts = num_ports;
    if (num_ports <= 0) {
        return arrays;  // no ports: nothing to allocate
    }
    arrays.PortBufferIndex =
        AllocateRow<int32_t>(num_ports,
                             "Memory allocation error for array PortBufferIndex in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.GotData = AllocateRow<int32_t>(num_ports,
                                          "Memory allocation error for array GotData in "
                                          "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.GotOverflow =
        AllocateRow<int32_t>(num_ports,
                             "Memory allocation error for array GotOverflow in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.CurrentBufferSize =
        AllocateRow<int32_t>(num_ports,
                             "Memory allocation error for array CurrentBufferSize in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.PortBuffer = dynamic_array_2d<char>(static_cast<uint32_t>(num_ports), kInitialRow);
    if (arrays.PortBuffer == nullptr) {
        AllocationFailed(
            "Memory allocation error for array PortBuffer "
            "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    }
    arrays.StartTime =
        AllocateRow<platform::SystemTime>(num_ports,
                                          "Memory allocation error for array StartTime "
                                          "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.StopTime =
        AllocateRow<platform::SystemTime>(num_ports,
                                          "Memory allocation error for array StopTime "
                                          "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    for (int i = 0; i < num_ports; ++i) {
        arrays.CurrentBufferSize[i] = kBufferGrowthStep;
    }
    return arrays;
}

void FreePerPortArrays(PerPortArrays& arrays) {
    const auto n = static_cast<uint32_t>(arrays.NumPorts);
    if (n == 0) {
        return;
    }
    // Grown rows came from realloc; the array allocator releases every row
    // with free, which takes them as well.
    free_dynamic_array(n, 0, 0, 0, arrays.PortBufferIndex);
    free_dynamic_array(n, 0, 0, 0, arrays.GotData);
    free_dynamic_array(n, 0, 0, 0, arrays.GotOverflow);
    free_dynamic_array(n, 0, 0, 0, arrays.CurrentBufferSize);
    free_dynamic_array(n, kInitialRow, 0, 0, arrays.PortBuffer);
    free_dynamic_array(n, 0, 0, 0, arrays.StartTime);
    free_dynamic_array(n, 0, 0, 0, arrays.StopTime);
    arrays = PerPortArrays{};
}

uint32_t ReceiveQueueSizeFor(int32_t baud) {
    const int64_t rate = baud > 0 ? int64_t{baud} / 10 : 0;
    return static_cast<uint32_t>(
        std::clamp<int64_t>(rate * kReceiveQueueSeconds, kMinReceiveQueueSize, INT32_MAX));
}

int32_t GrownBufferSize(int32_t size) {
    const int64_t wanted = int64_t{size} + size / 2;
    const int64_t steps = (wanted + kBufferGrowthStep - 1) / kBufferGrowthStep;
    const int64_t grown =
        std::max<int64_t>(steps * kBufferGrowthStep, int64_t{size} + kBufferGrowthStep);
    return static_cast<int32_t>(std::min<int64_t>(grown, kMaxBufferSize));
}

bool GrowPortBuffer(PerPortArrays& arrays, int i, int port_number, const char* log_directory,
                    int32_t limit) {
    const int32_t new_size = std::min(GrownBufferSize(arrays.CurrentBufferSize[i]), limit);
    void* grown = new_size > arrays.CurrentBufferSize[i]
                      ? Reallocate(arrays.PortBuffer[i], static_cast<size_t>(new_size) + 1)
                      : nullptr;
    if (grown == nullptr) {
        WriteLogMessagef(log_directory, logmsg::k17ReallocError, i);
        return false;
    }
    arrays.PortBuffer[i] = static_cast<char*>(grown);
    arrays.CurrentBufferSize[i] = new_size;
    WriteLogMessagef(log_directory, logmsg::k18Reallocation, port_number,
                     static_cast<long>(new_size));
    return true;
}

void SetPortBufferReallocator(PortBufferReallocator reallocator) {
    g_reallocator.store(reallocator);
}
