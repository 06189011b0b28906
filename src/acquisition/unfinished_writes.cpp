#include "acquisition/unfinished_writes.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "acquisition/journal_file.h"
#include "platform/durable_file.h"

namespace {

std::string NotePath(const char* directory) {
    return platform::JoinPath(JournalFolderPath(directory), kUnfinishedWritesNote);
}

// One line: name, "remove" or "cut", the length to cut back to, the file's
// length and the CRC of the part, in hexadecimal.
std::string NoteLine(const std::string& path, const platform::UnfinishedAppends::Undo& undo) {
    const int64_t found = platform::FileLength(path.c_str());
    if (found < 0) {
        return {};  // gone: nothing of the part is left
    }
    const auto length = static_cast<uint64_t>(found);
    const uint64_t from = undo.remove ? 0 : undo.length;
    if (length <= from) {
        return {};
    }
    const auto crc = journal::CrcOfRange(path, from, length - from);
    if (!crc) {
        return {};
    }
    const std::string name = std::filesystem::path(path).filename().string();
    char line[160];
    std::snprintf(line, sizeof line, " %s %llu %llu %08x\n", undo.remove ? "remove" : "cut",
                  static_cast<unsigned long long>(from), static_cast<unsigned long long>(length),
                  *crc);
    return name + line;
}

bool RemoveNote(const std::string& path) {
    if (!platform::PathExists(path.c_str())) {
        return true;
    }
    return platform::RemoveFile(path.c_str());
}

}  // namespace

bool NoteUnfinishedWrites(const char* directory, const platform::UnfinishedAppends& owed) {
    std::string text;
    for (const auto& [path, undo] : owed.owed()) {
        text += NoteLine(path, undo);
    }
    const std::string path = NotePath(directory);
    if (text.empty()) {
        return RemoveNote(path);
    }
    std::error_code ec;
    std::filesystem::create_directory(JournalFolderPath(directory), ec);
    const bool existed = platform::PathExists(path.c_str());
    platform::DurableFile note;
    const bool written = note.Open(path) && note.Truncate(0) &&
                         note.WriteAt(0, text.data(), text.size()) && note.Sync();
    note.Close();
    if (written && !existed) {
        platform::SyncDirectory(JournalFolderPath(directory).c_str());
    }
    return written;
}

platform::UnfinishedAppends SettleUnfinishedWrites(const char* directory) {
    platform::UnfinishedAppends failed;
    const std::string note_path = NotePath(directory);
    std::ifstream note(note_path);
    if (!note) {
        return failed;
    }
    std::string line;
    while (std::getline(note, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string kind;
        unsigned long long from = 0;
        unsigned long long length = 0;
        std::string crc_text;
        // A line a crash tore, or a name that is not a plain file name, is
        // passed over: only evidence that holds leads to a cut.
        if (!(fields >> name >> kind >> from >> length >> crc_text) || length <= from ||
            name.find_first_of("/\\") != std::string::npos || (kind != "remove" && kind != "cut")) {
            continue;
        }
        const std::string path = platform::JoinPath(directory, name);
        char* end = nullptr;
        const unsigned long noted_crc = std::strtoul(crc_text.c_str(), &end, 16);
        const auto crc = journal::CrcOfRange(path, from, length - from);
        if (*end != '\0' || platform::FileLength(path.c_str()) != static_cast<int64_t>(length) ||
            !crc || *crc != noted_crc) {
            continue;
        }
        platform::UnfinishedAppends undo;
        undo.Owe(path, kind == "remove", from);
        if (!undo.PutBack(path)) {
            failed.Include(undo);
        }
    }
    note.close();
    if (failed.empty()) {
        RemoveNote(note_path);
    }
    return failed;
}
