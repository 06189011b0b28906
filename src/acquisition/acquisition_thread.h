// The acquisition worker thread: at most one exists at a time. It opens every
// configured port, polls them, writes the period files and statistics, and
// on request makes a final flush, closes its ports and ends.
#pragma once

#include "acquisition/status.h"

class CDataAcquisitionThread;

// The running thread object, or null. Read and written on the user-interface
// thread only (the thread that starts and stops acquisition).
extern CDataAcquisitionThread* ActiveAcquisitionThread;

// Starts acquisition unless a thread is already running: creates the thread
// object, which reports every drawing block to `view` (may be null), starts
// it and records it in ActiveAcquisitionThread. A thread that cannot be
// created leaves acquisition stopped, silently. Returns true when a new
// thread was started.
bool StartAcquisitionThread(StatusObserver* view);

// Stops acquisition if it runs: RequestStop on the active thread (blocks until
// its final flush is written, its ports are closed and it has ended), deletes
// it and sets ActiveAcquisitionThread to null.
void StopAcquisitionThread();
