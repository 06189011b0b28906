// The document: holds nothing of its own. Creating it loads Quorvane.ini into
// `com`; a file that is not acceptable is explained to the operator, opened
// for correction, and ends the program.
#pragma once

#include <cstdint>
#include <string>

#include "station/station_session.h"

class FrontEnd;

class CQuorvaneDoc {
public:
    explicit CQuorvaneDoc(FrontEnd& front_end) : front_end_(front_end) {}

    // Resets the status texts, forgets the viewers, reads the configuration,
    // takes its output directory for this logger and logs the outcome. True
    // when it was accepted; on a refused file the process ends with status -1,
    // on a directory that another logger holds with 75 (73 when its lock file
    // cannot be made), after a message box, and this does not return.
    bool OnNewDocument();

    // The output directory's lock and status file, held from the accepted
    // configuration to the end of the program.
    StationSession& Station() { return station_; }

private:
    FrontEnd& front_end_;
    StationSession station_;
};

// The name of the configuration file, in the current directory.
inline constexpr char kInitializationFileName[] = "Quorvane.ini";

// The advice that follows the reader's message for result `code`.
std::string InitializationAdvice(int32_t code);
// The whole message for a refused file: the reader's text, then the advice.
std::string InitializationErrorMessage(int32_t code, const std::string& error_string);
