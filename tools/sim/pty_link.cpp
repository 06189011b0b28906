#include "pty_link.h"

#include <filesystem>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

namespace {

// Whether the name is taken by something that must be kept: anything but a
// symbolic link whose target no longer exists.
bool IsInUse(const fs::path& link, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (!fs::exists(status)) {
        return false;
    }
    if (!fs::is_symlink(status)) {
        error = link.string() + " exists and is not a symbolic link";
        return true;
    }
    const fs::path target = fs::read_symlink(link, ec);
    if (fs::exists(fs::status(link, ec))) {
        error = link.string() + " already links to " + target.string() +
                ", which exists (another simulator's pseudo-terminal?)";
        return true;
    }
    return false;
}

}  // namespace

bool PtyLink::Make(const std::string& link, const std::string& target, std::string& error) {
    if (IsInUse(link, error)) {
        return false;
    }
    std::error_code ec;
    fs::remove(link, ec);  // a stale link to a pty that is gone
    // Fails if another simulator made the link in between: nothing is replaced.
    fs::create_symlink(target, link, ec);
    if (ec) {
        error = "cannot link " + link + ": " + ec.message();
        return false;
    }
    link_ = link;
    target_ = target;
    return true;
}

PtyLink::~PtyLink() {
    if (link_.empty()) {
        return;
    }
    std::error_code ec;
    if (fs::read_symlink(link_, ec) == fs::path(target_) && !ec) {
        fs::remove(link_, ec);
    }
}

}  // namespace sim
