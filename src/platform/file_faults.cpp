#include "platform/file_faults.h"

#include <atomic>
#include <cerrno>

namespace platform {
namespace {
std::atomic<FileFaults*> g_faults{nullptr};
}

void SetFileFaults(FileFaults* faults) {
    g_faults.store(faults);
}

bool FileFaultsInstalled() {
    return g_faults.load(std::memory_order_relaxed) != nullptr;
}

int CheckFileAccess(FileAccess& access) {
    FileFaults* faults = g_faults.load();
    if (faults == nullptr) {
        return 0;
    }
    const FileVerdict verdict = faults->Before(access);
    if (verdict.error != 0) {
        errno = verdict.error;
        return verdict.error;
    }
    if (access.operation == FileOperation::kWrite && verdict.bytes < access.size) {
        access.size = verdict.bytes;
    }
    return 0;
}

void ReportFileAccess(const FileAccess& access) {
    if (FileFaults* faults = g_faults.load()) {
        faults->After(access);
    }
}

}  // namespace platform
