// The hardware watchdog timer board: an 8254-style interval timer reached by
// single-byte writes to processor I/O ports (counter 1 data at base + 1,
// counter 2 data at base + 2, control at base + 3). The acquisition thread
// re-arms it on every pass of its loop and halts it when acquisition ends.
#pragma once

// Re-arms the board: counter 2 as a square wave dividing by 20000, counter 1
// counting `count` periods of it down to its terminal count. Six writes.
void KickWatchDogTimer(int base, int count);

// Halts the board: one control word to counter 2, which then waits for a
// count that never comes.
void StopWatchDogTimer(int base);

// Forgets whether port access was obtained, so the next kick asks again. The
// acquisition thread calls it as it starts; `log_directory` receives the one
// log entry (code 29) of a run in which the ports cannot be written.
void ResetWatchDogTimerAccess(const char* log_directory);
