#include "platform/replace_file.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

bool WriteWhole(const std::string& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool Rename(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    if (WriteWhole(temporary, content) && Rename(temporary, path)) {
        return true;
    }
    std::remove(temporary.c_str());
    return false;
}

}  // namespace platform
