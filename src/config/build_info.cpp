#include "config/build_info.h"

#include "config/version.h"
#include "quorvane_build_commit.h"

const char* BuildCommit() {
    return kBuildCommitText;
}

std::string VersionLine(const std::string& program) {
    return program + " " + kProgramVersion + " (commit " + BuildCommit() + ")";
}
