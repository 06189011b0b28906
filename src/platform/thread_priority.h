// Thread priorities, where the platform lets a process change them.
#pragma once

#include <thread>

namespace platform {

// Raises `thread` one step above normal. On Linux an ordinary process may not
// raise a thread above its normal priority, so nothing changes there.
void RaiseThreadPriority(std::thread& thread);

}  // namespace platform
