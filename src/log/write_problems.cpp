#include "log/write_problems.h"

#include <atomic>

namespace {
std::atomic<WriteProblemHandler> g_handler{nullptr};
}

void SetWriteProblemHandler(WriteProblemHandler handler) {
    g_handler.store(handler);
}

void ReportWriteProblem(const std::string& problem) {
    if (WriteProblemHandler handler = g_handler.load()) {
        handler(problem);
    }
}
