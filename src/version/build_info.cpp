#include "version/build_info.h"

#include "quorvane_build_commit.h"
#include "version/version.h"

const char* BuildCommit() {
    return kBuildCommitText;
}

std::string VersionLine(const std::string& program) {
    return program + " " + kProgramVersion + " (commit " + BuildCommit() + ")";
}
