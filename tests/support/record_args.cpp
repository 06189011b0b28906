// A stand-in for the viewers and editors that the logger starts: it writes
// its arguments, one per line, into a file of its own in the directory named
// by QUORVANE_RECORD_DIR, and with QUORVANE_RECORD_STAY set it then stays
// until it is ended, like a viewer the operator has left open.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const char* directory = std::getenv("QUORVANE_RECORD_DIR");
    if (directory == nullptr) {
        return 2;
    }
    const std::string base = std::string(directory) + "/" + std::to_string(ProcessId());
    const std::string partial = base + ".part";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return 3;
    }
    for (int i = 0; i < argc; ++i) {
        std::fprintf(file, "%s\n", argv[i]);
    }
    std::fclose(file);
    // Complete records only: the name appears once everything is written.
    std::rename(partial.c_str(), (base + ".args").c_str());
    if (std::getenv("QUORVANE_RECORD_STAY") != nullptr) {
        for (;;) {
#ifdef _WIN32
            Sleep(INFINITE);
#else
            pause();
#endif
        }
    }
    return 0;
}
