// The program's version and the commit it was built from, as the programs'
// --version shows them.
#pragma once

#include <string>

// The commit the build comes from (twelve hex digits, "-modified" after them
// when the tree had uncommitted changes), or "unknown" for a build outside git.
const char* BuildCommit();

// "<program> 1.3 (commit <BuildCommit()>)".
std::string VersionLine(const std::string& program);
