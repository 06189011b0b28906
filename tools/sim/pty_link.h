// A symbolic link with a stable name (for example /tmp/ttyWXT) to the
// simulator's pseudo-terminal, so that a Device key can name it.
#pragma once

#include <string>

namespace sim {

class PtyLink {
public:
    PtyLink() = default;
    // Removes the link, but only if it still points to the target it was made
    // for: another simulator may have taken the name over meanwhile.
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Makes `link` point to `target`. A link whose target is gone (left by a
    // simulator that was killed) is replaced; anything else at `link` (a link
    // to a device that exists, such as another simulator's live pty, or a
    // file) is left alone, and the reason is in `error`.
    bool Make(const std::string& link, const std::string& target, std::string& error);

private:
    std::string link_;
    std::string target_;
};

}  // namespace sim
