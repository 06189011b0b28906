// The acquisition thread's per-port work arrays and the growth of the port
// buffers that collect a period's received text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

inline constexpr int32_t kReadBlockSize = 512;     // in-period reads take whole blocks of this
inline constexpr int32_t kBufferGrowthStep = 512;  // CurrentBufferSize grows by this
inline constexpr int32_t kOverflowThreshold = 65000;

// One entry per configured port, in configuration order.
struct PerPortArrays {
    int NumPorts = 0;
    int32_t* PortBufferIndex = nullptr;    // bytes held in PortBuffer
    int32_t* GotData = nullptr;            // polls that found data since the last status update
    int32_t* GotOverflow = nullptr;        // overflows seen since the last status update
    int32_t* CurrentBufferSize = nullptr;  // the buffer's size as logged (grows by 512)
    char** PortBuffer = nullptr;           // the period's received text, then a zero byte
    platform::SystemTime* StartTime = nullptr;  // start of the port's current period
    platform::SystemTime* StopTime = nullptr;   // end of the port's last final drain
    // Bytes really allocated for each PortBuffer row. Always at least
    // CurrentBufferSize + 1, so the terminating zero has its byte; grows
    // geometrically so that a long period is not copied over and over.
    std::vector<size_t> Capacity;
};

// Allocates the seven arrays in order with the array allocator. On a failure
// shows the array's message to the operator and ends the process (status -1).
PerPortArrays AllocatePerPortArrays(int numPorts);
void FreePerPortArrays(PerPortArrays& arrays);

// One growth step of port i's buffer: CurrentBufferSize += 512 (log entry 18)
// and, when the row is too small for that plus the terminating zero, a larger
// row. Returns false when memory could not be had: log entry 17, the buffer
// and its size stay as they were.
bool GrowPortBuffer(PerPortArrays& arrays, int i, int portNumber, const char* logDirectory);

// Test seam: the reallocation behind every growth (std::realloc by default).
// nullptr restores the default.
using PortBufferReallocator = void* (*)(void* block, size_t size);
void SetPortBufferReallocator(PortBufferReallocator reallocator);
