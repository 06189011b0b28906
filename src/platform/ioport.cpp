#include "platform/ioport.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define QUORVANE_HAVE_IOPERM 1
#endif

namespace platform {
namespace {

#if defined(_WIN32)

// Port I/O on Windows needs a kernel driver; the inpout family of DLLs brings
// one. It is looked for at run time, so the program runs without it.
class DriverDllIoPorts final : public IoPorts {
public:
    std::string RequestAccess(uint16_t, int) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (out_ == nullptr && !Load()) {
            return std::string("no port-I/O driver DLL (") + kDllName + ") installed";
        }
        if (is_open_ != nullptr && is_open_() == 0) {
            return std::string(kDllName) + " is installed but its driver is not running";
        }
        return {};
    }
    void Write(uint16_t port, uint8_t value) override {
        if (out_ != nullptr) {
            out_(static_cast<short>(port), static_cast<short>(value));
        }
    }

private:
#if defined(_WIN64)
    static constexpr const char* kDllName = "inpoutx64.dll";
#else
    static constexpr const char* kDllName = "inpout32.dll";
#endif
    using OutFn = void(__stdcall*)(short, short);
    using IsOpenFn = BOOL(__stdcall*)();

    template <typename Fn>
    static Fn Lookup(HMODULE dll, const char* name) {
        // Through a plain function pointer type: FARPROC has no parameters.
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
    }
    bool Load() {
        HMODULE dll = LoadLibraryA(kDllName);
        if (dll == nullptr) {
            return false;
        }
        out_ = Lookup<OutFn>(dll, "Out32");
        is_open_ = Lookup<IsOpenFn>(dll, "IsInpOutDriverOpen");
        if (out_ == nullptr) {
            FreeLibrary(dll);
            return false;
        }
        return true;  // kept loaded for the life of the process
    }

    std::mutex mutex_;
    OutFn out_ = nullptr;
    IsOpenFn is_open_ = nullptr;
};
using HardwareIoPorts = DriverDllIoPorts;

#elif defined(QUORVANE_HAVE_IOPERM)

class IopermIoPorts final : public IoPorts {
public:
    std::string RequestAccess(uint16_t first, int count) override {
        if (::ioperm(first, static_cast<unsigned long>(count), 1) == 0) {
            return {};
        }
        const int error = errno;
        if (error == EPERM) {
            return "ioperm refused: the process lacks the CAP_SYS_RAWIO privilege";
        }
        return std::string("ioperm failed: ") + std::strerror(error);
    }
    void Write(uint16_t port, uint8_t value) override { outb(value, port); }
};
using HardwareIoPorts = IopermIoPorts;

#else

class NoIoPorts final : public IoPorts {
public:
    std::string RequestAccess(uint16_t, int) override {
        return "this platform has no processor I/O ports";
    }
    void Write(uint16_t, uint8_t) override {}
};
using HardwareIoPorts = NoIoPorts;

#endif

HardwareIoPorts hardware_io_ports;
std::atomic<IoPorts*> installed_io_ports{nullptr};

}  // namespace

IoPorts& CurrentIoPorts() {
    IoPorts* ports = installed_io_ports.load(std::memory_order_acquire);
    return ports != nullptr ? *ports : hardware_io_ports;
}

void SetIoPorts(IoPorts* ports) {
    installed_io_ports.store(ports, std::memory_order_release);
}

std::string RecordingIoPorts::RequestAccess(uint16_t, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_;
    return grant_ ? std::string() : std::string("access refused by the test");
}

void RecordingIoPorts::Write(uint16_t port, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back({port, value});
}

std::vector<RecordingIoPorts::Written> RecordingIoPorts::Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

int RecordingIoPorts::AccessRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

}  // namespace platform
