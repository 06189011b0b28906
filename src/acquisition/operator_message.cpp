#include "acquisition/operator_message.h"

#include <atomic>
#include <cstdio>

namespace {

void WriteToStandardError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

std::atomic<OperatorMessageHandler> g_handler{nullptr};

}  // namespace

void SetOperatorMessageHandler(OperatorMessageHandler handler) { g_handler.store(handler); }

void ShowOperatorMessage(const std::string& text) {
    OperatorMessageHandler handler = g_handler.load();
    (handler != nullptr ? handler : WriteToStandardError)(text);
}
