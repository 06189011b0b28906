// Command exchange with an Ophir infrared hygrometer: fetches its humidity and
// engineering constants as one header text for the port's data files.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "serial/port.h"

// Sends '9', drains, asks '5' (7 fields) then '0' (18 fields), sends 'a'.
// On success `header` holds the '0' reply followed by the '5' reply (it must
// hold 1000 characters); on failure it keeps what it held and entry 27 is
// logged. `time` receives the UTC time at the end in both cases; after an
// allocation failure (entry 25) neither is touched.
void GetOphirConstants(PortRecord* port, const char* directory, int com_number, char* header,
                       platform::SystemTime* time);

// Sends `command` and reads one CR-terminated reply into `reply` until it has
// `expected` blank-separated fields, at most `limit` tries. 1 when the last
// reply had exactly `expected` fields, else 0.
int OphirQuery(PortRecord* port, char* reply, uint32_t size, char command, int expected, int limit);
