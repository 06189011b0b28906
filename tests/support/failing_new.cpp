#include "support/failing_new.h"

#include <atomic>
#include <cstddef>
#include <new>

namespace {
std::atomic<int> g_countdown{-1};

bool FailThisOne() {
    int left = g_countdown.load();
    while (left >= 0 && !g_countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}
}  // namespace

namespace testing_support {
void FailNothrowAllocationAfter(int successes) {
    g_countdown.store(successes);
}
void StopFailingAllocations() {
    g_countdown.store(-1);
}
}  // namespace testing_support

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (FailThisOne()) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (FailThisOne()) {
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
