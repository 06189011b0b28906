// The process's standard streams.
#pragma once

namespace platform {

// Makes standard output pass bytes unchanged. On Windows it would otherwise
// write every "\n" as CR LF; elsewhere it already does.
void UseBinaryStandardOutput();

}  // namespace platform
