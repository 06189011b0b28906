// Replacing a small file as a whole: the new content goes to a temporary file
// beside it, which then takes the file's name in one step. A reader opens the
// old content or the new one, never a part of either (on Windows it may find
// no file under the name for a moment, and should try again).
#pragma once

#include <string>

namespace platform {

// Writes `content` to `path` + ".tmp", then renames it over `path`. False
// (with `path` unchanged and no temporary file left) when either step fails.
// On Windows the rename fails while another program has `path` open without
// delete sharing; the caller then writes again at its next change.
bool ReplaceFileContent(const std::string& path, const std::string& content);

}  // namespace platform
