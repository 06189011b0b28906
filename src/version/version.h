// The program's version text, shown on the status page, in the About box, in
// the help file name, in the log header and in the statistics header.
#pragma once

inline constexpr char kProgramVersion[] = "1.3";
