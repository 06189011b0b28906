// The configuration record: everything Quorvane.ini says, validated.
// Built by ReadQuorInitializationFile, copied into the process-wide `com`,
// read by every subsystem, released at shutdown with FreeComConfig.
#pragma once

#include <cstdint>
#include <string>

#include "instruments/exchanges.h"  // the INIT_* codes of the two function fields

// Fixed capacities.
inline constexpr int MAX_COM_PORTS = 9;        // [COMn] sections accepted
inline constexpr int MAX_TOKENS = 100;         // entries per statistics list
inline constexpr int CONFIG_STRING_LEN = 500;  // every string buffer, terminating zero included

// Per-port arrays are indexed by port position: the order of the [COMn]
// sections in the file. PortNumber[p] gives the COM number. Every array is
// created with dynamic_array at the fixed capacities and zero-filled, so
// positions NumPorts..8 stay zero.
struct ComConfig {
    int32_t WatchDogTimerAddress = 0;                 // 0: no watchdog
    int32_t DiskWriteAndStatsFrequencyInMinutes = 0;  // a divisor of 60
    int32_t NumPorts = 0;                             // 0..9
    int32_t* NumTokenIndices = nullptr;               // [9]
    char** InstrumentType = nullptr;                  // [9][500]
    int32_t* PortNumber = nullptr;                    // [9]  n of [COMn]
    int32_t* Baud = nullptr;                          // [9]
    char* Parity = nullptr;                           // [9]  upper-cased letter
    int32_t* DataBits = nullptr;                      // [9]
    int32_t* StopBits = nullptr;                      // [9]
    int32_t* DoStats = nullptr;                       // [9]  1 or 0
    char* StringTerminationCharacter = nullptr;       // [9]
    int32_t* LeadingTokenCharactersToStrip = nullptr; // [9]
    int32_t* StartupInitializationFunction = nullptr; // [9]  INIT_* code
    int32_t* AcquisitionInitializationFunction = nullptr;  // [9]  INIT_* code
    int32_t** TokenIndicesForStatistics = nullptr;    // [9][100]
    int32_t** ErrorCheckingTokenIndices = nullptr;    // [9][100]
    double** ErrorValuesPerTokenIndex = nullptr;      // [9][100]
    char*** TokenLabelsForStatistics = nullptr;       // [9][100][500]
    char* OutputDriveAndPath = nullptr;               // [500] no trailing separator
    int32_t ErrorCode = 0;                            // 0 or the first error's negative code
    char* ErrorString = nullptr;                      // [500] "Successful.\n" or the message
    // Optional device path of each port (key Device); empty when not given.
    // Used on POSIX in place of the COM port name; ignored on Windows.
    char** Device = nullptr;  // [9][500]
    // Optional keys of [QUORVANE] beside the specified ones: where the
    // station's text, status, statistics and log are published
    // (mqtt://HOST[:PORT]/PREFIX or mqtts://...), and the file with the
    // credentials for that broker. Empty when not given.
    std::string PublishTo;
    std::string PublishCredentialsFile;
};

// The program's configuration, filled on the user-interface thread before any
// acquisition thread exists and read-only afterwards.
extern ComConfig com;

// Releases every array of `config` (null ones are passed over) with the
// dimensions they were created with, and leaves the pointers null.
void FreeComConfig(ComConfig& config);
