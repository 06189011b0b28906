#include "acquisition/port_buffers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "acquisition/log_codes.h"
#include "acquisition/log_file.h"
#include "acquisition/operator_message.h"
#include "config/dynamic_array.h"

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
T* AllocateRow(int numPorts, const char* failureText) {
    T* array = dynamic_array_1d<T>(static_cast<uint32_t>(numPorts));
    if (array == nullptr) {
        AllocationFailed(failureText);
    }
    return array;
}

// Room for the first 512 bytes and the terminating zero.
constexpr uint32_t kInitialRow = kBufferGrowthStep + 1;

}  // namespace

PerPortArrays AllocatePerPortArrays(int numPorts) {
    PerPortArrays arrays;
    arrays.NumPorts = numPorts;
    if (numPorts <= 0) {
        return arrays;  // no ports: nothing to allocate
    }
    arrays.PortBufferIndex =
        AllocateRow<int32_t>(numPorts,
                             "Memory allocation error for array PortBufferIndex in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.GotData = AllocateRow<int32_t>(numPorts,
                                          "Memory allocation error for array GotData in "
                                          "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.GotOverflow =
        AllocateRow<int32_t>(numPorts,
                             "Memory allocation error for array GotOverflow in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.CurrentBufferSize =
        AllocateRow<int32_t>(numPorts,
                             "Memory allocation error for array CurrentBufferSize in "
                             "CDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.PortBuffer = dynamic_array_2d<char>(static_cast<uint32_t>(numPorts), kInitialRow);
    if (arrays.PortBuffer == nullptr) {
        AllocationFailed(
            "Memory allocation error for array PortBuffer "
            "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    }
    arrays.StartTime =
        AllocateRow<platform::SystemTime>(numPorts,
                                          "Memory allocation error for array StartTime "
                                          "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.StopTime =
        AllocateRow<platform::SystemTime>(numPorts,
                                          "Memory allocation error for array StopTime "
                                          "inCDataAcquisitionThread::CDataAcquisitionThread().\n");
    arrays.Capacity.assign(static_cast<size_t>(numPorts), kInitialRow);
    for (int i = 0; i < numPorts; ++i) {
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

bool GrowPortBuffer(PerPortArrays& arrays, int i, int portNumber, const char* logDirectory) {
    const auto index = static_cast<size_t>(i);
    const int32_t new_size = arrays.CurrentBufferSize[i] + kBufferGrowthStep;
    const size_t needed = static_cast<size_t>(new_size) + 1;
    if (needed > arrays.Capacity[index]) {
        const size_t capacity =
            std::max(needed, arrays.Capacity[index] + arrays.Capacity[index] / 2);
        void* grown = Reallocate(arrays.PortBuffer[i], capacity);
        if (grown == nullptr) {
            WriteLogMessagef(logDirectory, logmsg::k17ReallocError, i);
            return false;
        }
        arrays.PortBuffer[i] = static_cast<char*>(grown);
        arrays.Capacity[index] = capacity;
    }
    arrays.CurrentBufferSize[i] = new_size;
    WriteLogMessagef(logDirectory, logmsg::k18Reallocation, portNumber,
                     static_cast<long>(new_size));
    return true;
}

void SetPortBufferReallocator(PortBufferReallocator reallocator) {
    g_reallocator.store(reallocator);
}
