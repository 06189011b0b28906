#include "platform/thread_priority.h"

#ifdef _WIN32
#include <pthread.h>
#include <windows.h>
#endif

namespace platform {

void RaiseThreadPriority(std::thread& thread) {
#ifdef _WIN32
    if (thread.joinable()) {
        // MinGW's std::thread runs on winpthreads, which knows the Win32 handle.
        SetThreadPriority(pthread_gethandle(thread.native_handle()), THREAD_PRIORITY_ABOVE_NORMAL);
    }
#else
    (void)thread;
#endif
}

}  // namespace platform
