// The reader of Quorvane.ini: reads the whole file, checks it and builds the
// configuration record. It stops at the first error and reports it through the
// record's ErrorCode and ErrorString; it shows nothing and logs nothing itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/com_config.h"

// Result codes of ReadQuorInitializationFile (ComConfig::ErrorCode); -4 is
// never produced.
inline constexpr int32_t INI_OK = 0;
// The file cannot be opened.
inline constexpr int32_t INI_ERR_OPEN = -1;
// A tenth [COMn] section.
inline constexpr int32_t INI_ERR_TOO_MANY_PORTS = -2;
// A statistics list longer than MAX_TOKENS, or a token position outside 0..99.
inline constexpr int32_t INI_ERR_LIST = -3;
// The number of labels differs from the number of token indices.
inline constexpr int32_t INI_ERR_LABEL_COUNT = -5;
// The number of error-checking indices or error values differs from it.
inline constexpr int32_t INI_ERR_ERROR_LIST_COUNT = -6;
// Two [COMn] sections name the same port.
inline constexpr int32_t INI_ERR_DUPLICATE_PORT = -7;
// A key defined twice in a section, a key without value, or a period that
// does not divide the hour.
inline constexpr int32_t INI_ERR_DEFINITION = -8;
// An initialisation function keyword that the key does not allow.
inline constexpr int32_t INI_ERR_INIT_FUNCTION = -9;
// A required key is missing.
inline constexpr int32_t INI_ERR_MISSING_KEY = -10;
// The output directory denies write access, or its path contains a ".".
inline constexpr int32_t INI_ERR_ACCESS_DENIED = -11;
// The output directory cannot be found.
inline constexpr int32_t INI_ERR_PATH_NOT_FOUND = -12;
// An array of the record or of the reader cannot be created.
inline constexpr int32_t INI_ERR_MEMORY = -13;

// Reads the configuration file `path` (the program passes "Quorvane.ini",
// relative to the current directory). Lines ending in CR LF read exactly like
// lines ending in LF on every platform.
//
// On success ErrorCode is 0 and ErrorString "Successful.\n". On failure the
// record holds what was stored before the error, ErrorCode the negative code of
// the first error found and ErrorString its message (null only when ErrorString
// itself could not be created). In both cases the caller owns the arrays of the
// record and releases them with FreeComConfig.
ComConfig ReadQuorInitializationFile(const char* path);

// The keys the reader knows: those of a [COMn] section and those of
// [QUORVANE], in the order it matches and reports them. Anything else in a
// section is passed over (a checker warns of it).
std::vector<std::string> PortSectionKeys();
std::vector<std::string> GlobalSectionKeys();
