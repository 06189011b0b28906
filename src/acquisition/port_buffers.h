// The acquisition thread's per-port work arrays and the growth of the port
// buffers that collect a period's received text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

inline constexpr int32_t kReadBlockSize = 512;     // in-period reads take whole blocks of this
inline constexpr int32_t kBufferGrowthStep = 512;  // buffer sizes are whole steps of this

// The receive queue the engine asks the driver for: at least 65000 bytes and
// at least 60 seconds of the port's line rate (baud / 10 bytes a second), so
// that the logger's own pauses (a period's flush, an hourly exchange with a
// silent hygrometer) never fill it.
inline constexpr uint32_t kMinReceiveQueueSize = 65000;
inline constexpr int kReceiveQueueSeconds = 60;
uint32_t ReceiveQueueSizeFor(int32_t baud);

// The most text a port's buffer holds in memory. A period that brings more
// (a fast instrument, a long period) goes on in the port's journal, which
// holds all of it anyway: the buffer then starts again, and the period's end
// reads the text back from the journal. Nine ports so stay within a few
// hundred megabytes, and far from the 2 GiB a buffer index can count.
// (A build for tests may make it small, so that long periods come quickly.)
#ifdef QUORVANE_PORT_BUFFER_CAP_BYTES
inline constexpr int32_t kPortBufferCapBytes = QUORVANE_PORT_BUFFER_CAP_BYTES;
#else
inline constexpr int32_t kPortBufferCapBytes = 32 << 20;
#endif

// One entry per configured port, in configuration order.
struct PerPortArrays {
    int NumPorts = 0;
    int32_t* PortBufferIndex = nullptr;  // bytes held in PortBuffer
    int32_t* GotData = nullptr;          // polls that found data since the last status update
    int32_t* GotOverflow = nullptr;      // overflows seen since the last status update
    // Bytes of text the buffer holds room for; its row has one byte more, so
    // the terminating zero always has its place.
    int32_t* CurrentBufferSize = nullptr;
    char** PortBuffer = nullptr;                // the period's received text, then a zero byte
    platform::SystemTime* StartTime = nullptr;  // start of the port's current period
    platform::SystemTime* StopTime = nullptr;   // end of the port's last final drain
};

// Allocates the seven arrays in order with the array allocator. On a failure
// shows the array's message to the operator and ends the process (status -1).
PerPortArrays AllocatePerPortArrays(int num_ports);
void FreePerPortArrays(PerPortArrays& arrays);

// The size a buffer of `size` bytes grows to: about half as much again, in
// whole 512-byte steps, at least one step. Growing geometrically keeps a long
// period from being copied over and over, and the log from an entry for every
// 512 bytes.
int32_t GrownBufferSize(int32_t size);

// One growth of port i's buffer: its row is reallocated to GrownBufferSize
// (plus the byte of the terminating zero), and log entry 18 gives the new
// size. Returns false when memory could not be had: log entry 17, the buffer
// and its size stay as they were.
// The buffer grows to `limit` bytes at the most.
bool GrowPortBuffer(PerPortArrays& arrays, int i, int port_number, const char* log_directory,
                    int32_t limit = INT32_MAX);

// Test seam: the reallocation behind every growth (std::realloc by default).
// nullptr restores the default.
using PortBufferReallocator = void* (*)(void* block, size_t size);
void SetPortBufferReallocator(PortBufferReallocator reallocator);
