// A real directory for a test's files, removed with everything in it at the end.
#pragma once

#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with `name` by the platform's separator.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

// The whole content of a file, byte for byte ("" when it cannot be read).
std::string ReadFile(const std::string& path);
// Writes `content` to a file, replacing it.
void WriteFile(const std::string& path, const std::string& content);
// `text` as a file written in text mode holds it: a line feed becomes CR LF
// on Windows.
std::string InTextMode(const std::string& text);

}  // namespace testing_support
