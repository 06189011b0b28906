#include "platform/replace_file.h"

#include <cstdio>

#include "platform/file_faults.h"
#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

bool WriteWhole(const std::string& path, const std::string& content) {
    FileAccess opening{FileOperation::kOpen, path.c_str()};
    opening.creates = !PathExists(path.c_str());
    if (CheckFileAccess(opening) != 0) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    ReportFileAccess(opening);
    FileAccess write{FileOperation::kWrite, path.c_str()};
    write.data = content.data();
    write.size = content.size();
    bool written = CheckFileAccess(write) == 0;
    if (written) {
        written = std::fwrite(content.data(), 1, write.size, file) == write.size;
        if (written) {
            ReportFileAccess(write);
        }
    }
    const bool closed = std::fclose(file) == 0;
    return written && write.size == content.size() && closed;
}

bool Rename(const std::string& from, const std::string& to) {
    FileAccess access{FileOperation::kRename, from.c_str()};
    access.new_path = to.c_str();
    if (CheckFileAccess(access) != 0) {
        return false;
    }
#ifdef _WIN32
    const bool renamed = MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool renamed = std::rename(from.c_str(), to.c_str()) == 0;
#endif
    if (renamed) {
        ReportFileAccess(access);
    }
    return renamed;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    if (WriteWhole(temporary, content) && Rename(temporary, path)) {
        return true;
    }
    RemoveFile(temporary.c_str());
    return false;
}

}  // namespace platform
