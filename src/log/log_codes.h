// Every message the log can hold: a two-digit code, two blanks, the text.
// Texts with a %d/%s/%ld are printf formats filled by the caller.
#pragma once

namespace logmsg {

inline constexpr char k00StartupOk[] =
    "00  Quorvane Startup - Settings acquired from Quorvane.ini and quality controlled successfully.";
inline constexpr char k01StartupError[] = "01  Quorvane Startup - Initialization error...program aborted.";
inline constexpr char k02Shutdown[] = "02  Quorvane Shutdown.";
inline constexpr char k03ThreadStarted[] = "03  Data acquisition thread started.";
inline constexpr char k04ThreadStopped[] = "04  Data acquisition thread stopped.";
inline constexpr char k05OpenNoMemory[] = "05  PortOpenMSWin32 error on COM%d...Out of memory. ";
inline constexpr char k06OpenBadArguments[] =
    "06  PortOpenMSWin32 error on COM%d...Invalid Arguments in the call.";
inline constexpr char k07OpenBadPort[] =
    "07  PortOpenMSWin32 error on COM%d...Specified port is invalid or not open.";
inline constexpr char k08OpenInUse[] = "08  PortOpenMSWin32 error on COM%d...Port already in use.";
inline constexpr char k09OpenNoUart[] =
    "09  PortOpenMSWin32 error on COM%d...No 8250 UART at the requested location.";
inline constexpr char k10OpenNotOpen[] =
    "10  PortOpenMSWin32 error on COM%d...Port has not been initialized or opened.";
inline constexpr char k11OpenBadParity[] =
    "11  PortOpenMSWin32 error on COM%d...Parity specification not leagal for this driver.";
inline constexpr char k12OpenBadDataBits[] =
    "12  PortOpenMSWin32 error on COM%d...Data bit length not leagal for this driver.";
inline constexpr char k13OpenBadStopBits[] =
    "13  PortOpenMSWin32 error on COM%d...Number of stop bits specified not leagal for this driver.";
inline constexpr char k14OpenBadBaud[] =
    "14  PortOpenMSWin32 error on COM%d...Baud rate specified is not leagal for this driver.";
inline constexpr char k15OpenGeneral[] = "15  PortOpenMSWin32 error on COM%d...General error, non-specific.";
inline constexpr char k16BufferOverflow[] = "16  Buffer overflow on COM%d.";
inline constexpr char k17ReallocError[] =
    "17  Realloc error: NULL returned while allocating memory for PortBuffer[%d].";
inline constexpr char k18Reallocation[] = "18  Dynamic memory reallocation: COM%d total size: %ld";
inline constexpr char k19CantOpen[] = "19  Can't open %s for data output.";
inline constexpr char k20DiskWrite[] = "20  Disk I/O: Write to %s.";
inline constexpr char k21NoData[] =
    "21  No data received from COM%d during the period %02d:%02d:%02d to %02d:%02d:%02d";
inline constexpr char k22RecordTooLong[] =
    "22  The number of characters in SampleTok exceeds MAX_WORKING_STRING_LEN for COM%d";
inline constexpr char k23TooManyTokens[] =
    "23  The number of detected field tokens exceeds MAX_TOKENS for COM%d";
inline constexpr char k24Statistics[] = "24  Calculating diagnostic statistics.";
inline constexpr char k25OphirMemory[] = "25  Memory Allocation Error in GetOphirConstants.\n";
inline constexpr char k26OphirAcquiring[] =
    "26  Acquiring Ophir humidity and engineering constants.";
inline constexpr char k27OphirError[] = "27  Error acquiring Ophir constants from COM%d.";
inline constexpr char k28IncompleteTokens[] =
    "28  Incomplete number of tokens acquired from COM%d data string.";

// Codes 29 and up: what the station also logs, beyond the set above (a
// watchdog that cannot be reached, text given up or rescued, clock steps,
// ports explained).
inline constexpr char k29WatchdogUnreachable[] =
    "29  Watchdog timer ports %Xh-%Xh cannot be written (%s)...acquisition continues without the watchdog.";
inline constexpr char k30UnwrittenDiscarded[] =
    "30  %ld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d could not be written and are discarded (%s).";
inline constexpr char k31BytesLost[] =
    "31  %ld bytes received on COM%d were lost: its receive queue of %ld bytes was full.";
inline constexpr char k32PortLost[] = "32  COM%d lost (%s); it is reopened when it returns.";
inline constexpr char k33PortReopened[] = "33  COM%d reopened after %ld s.";
inline constexpr char k34Recovered[] =
    "34  %ld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d recovered.";
// One port's analysis in one period logs the first ten records of each of the
// codes 22, 23 and 28; this entry counts the rest of one code (the count, the
// COM number, the code).
inline constexpr char k35MoreRecords[] =
    "35  %ld more records of COM%d like the entries %02d above in this period.";
inline constexpr char k36ClockStep[] =
    "36  The clock moved from %02d/%02d/%02d %02d:%02d:%02d to %02d/%02d/%02d %02d:%02d:%02d; the period is cut short and the schedule set anew.";
inline constexpr char k37PortFlapping[] =
    "37  COM%d was lost and reopened %ld more times in this period than the entries above tell.";
inline constexpr char k38LogEntriesLost[] =
    "38  %ld log entries could not be written between %s and %s.";
// Entries kept while the log could not be written, written above this one
// with their own times (the times are those of the first and the last).
inline constexpr char k39LogEntriesLate[] =
    "39  %ld log entries above were written late: they could not be written between %s and %s.";
// A full receive queue made the port's device wait (it was not read, and
// lost nothing): once per port and period, the seconds rounded up.
inline constexpr char k40MadeToWait[] =
    "40  COM%d was made to wait %ld s: its receive queue of %ld bytes was full.";
// Text that only a port's journal held when the journal had to be given up
// (the disk refused it): the count, the COM number, when it was received, why.
inline constexpr char k41LostWithJournal[] =
    "41  %ld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d were lost with its journal (%s).";
// After a failed open's entry (05 to 15): the device the port names and why
// it cannot be used, in the system's words or as the setting it refused.
inline constexpr char k42PortCannotBeUsed[] = "42  COM%d (%s) cannot be used: %s.";
// Text that neither its data file nor its journal could keep, written to the
// rescue directory instead of being discarded: the count, the COM number,
// when it was received, the rescue file, why.
inline constexpr char k43KeptInRescue[] =
    "43  %ld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d could not be written and are kept in %s (%s).";
// A data file left holding part of a write that failed, where neither its
// undo nor the note that tells the next start to make it could be written
// (the disk refused all three): the file, how many bytes, where they begin.
inline constexpr char k44FailedWriteLeft[] =
    "44  %s holds %ld bytes of a failed write at byte %ld that could not be taken out: remove them by hand.";
// Publishing (PublishTo): text of a port that was not published, and why (the
// journal no longer held it, or the stop came before the broker took it and
// the outbox could not be written); the data files hold it all the same.
inline constexpr char k45NotPublished[] = "45  %s of COM%d could not be published: %s.";
// The broker cannot be reached or refused the connection (in its words), the
// credentials file cannot be used, or this build cannot publish: told once
// per reason, until publishing works again.
inline constexpr char k46PublishingFails[] = "46  Publishing to %s fails: %s.";
// Publishing works: at the first connection, and after entry 46.
inline constexpr char k47PublishingWorks[] = "47  Publishing to %s works.";

// Every format above, by its code: kFormatsByCode[n] begins with n.
inline constexpr const char* kFormatsByCode[] = {
    k00StartupOk,
    k01StartupError,
    k02Shutdown,
    k03ThreadStarted,
    k04ThreadStopped,
    k05OpenNoMemory,
    k06OpenBadArguments,
    k07OpenBadPort,
    k08OpenInUse,
    k09OpenNoUart,
    k10OpenNotOpen,
    k11OpenBadParity,
    k12OpenBadDataBits,
    k13OpenBadStopBits,
    k14OpenBadBaud,
    k15OpenGeneral,
    k16BufferOverflow,
    k17ReallocError,
    k18Reallocation,
    k19CantOpen,
    k20DiskWrite,
    k21NoData,
    k22RecordTooLong,
    k23TooManyTokens,
    k24Statistics,
    k25OphirMemory,
    k26OphirAcquiring,
    k27OphirError,
    k28IncompleteTokens,
    k29WatchdogUnreachable,
    k30UnwrittenDiscarded,
    k31BytesLost,
    k32PortLost,
    k33PortReopened,
    k34Recovered,
    k35MoreRecords,
    k36ClockStep,
    k37PortFlapping,
    k38LogEntriesLost,
    k39LogEntriesLate,
    k40MadeToWait,
    k41LostWithJournal,
    k42PortCannotBeUsed,
    k43KeptInRescue,
    k44FailedWriteLeft,
    k45NotPublished,
    k46PublishingFails,
    k47PublishingWorks,
};
inline constexpr int kCodeCount = static_cast<int>(sizeof kFormatsByCode / sizeof kFormatsByCode[0]);

}  // namespace logmsg
