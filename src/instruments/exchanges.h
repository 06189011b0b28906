// The instrument exchanges a port's configuration can name, one row each:
// the keyword of StartupInitializationFunction and
// AcquisitionInitializationFunction, its code in the configuration record,
// where it may be named, whether its result heads the port's new data files,
// and the routine that runs it. The configuration reader, the acquisition
// engine and the data files all read this table; adding an exchange is a
// file of its own (like ophir.cpp) and a row here.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "serial/port.h"

// The codes the configuration record stores for the keywords, one per row.
inline constexpr int32_t INIT_NONE = 0;
inline constexpr int32_t INIT_GETOPHIRCONSTANTS = 2;
inline constexpr int32_t INIT_LOWRANCEGPSSETUP = 3;

// The header an exchange fills, terminating zero included.
inline constexpr int kExchangeHeaderSize = 1000;

// Runs an exchange on an open port: `header` (kExchangeHeaderSize) receives the
// text for the heads of the port's data files, `time` when the exchange
// ended. `directory` is where the log is; `com_number` names the port in it.
using ExchangeRoutine = void (*)(PortRecord* port, const char* directory, int com_number,
                                 char* header, platform::SystemTime* time);

struct InstrumentExchange {
    int32_t code;         // in StartupInitializationFunction / AcquisitionInitializationFunction
    const char* keyword;  // in the INI file, matched without regard to case
    bool at_startup;      // may be a StartupInitializationFunction
    bool on_the_hour;     // may be an AcquisitionInitializationFunction
    bool writes_header;   // as the acquisition function, its text heads new data files
    ExchangeRoutine run;  // null: the keyword is accepted and nothing is done
};

// The row of a configuration code, or null.
const InstrumentExchange* FindExchange(int32_t code);
// The row of an upper-cased keyword, or null.
const InstrumentExchange* FindExchangeByKeyword(const char* keyword);

// Whether the acquisition function of a port asks for an exchange on the
// hour that heads its files (the row's flags, for the callers that only ask).
bool RunsOnTheHour(int32_t acquisition_code);
bool WritesFileHeader(int32_t acquisition_code);
