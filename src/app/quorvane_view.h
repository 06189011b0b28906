// The status view: paints the status page, starts and stops acquisition,
// carries out the View and Help menu commands and, when its window goes,
// runs the shutdown sequence.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "acquisition/status.h"
#include "app/status_page.h"

class FrontEnd;

class CQuorvaneView : public StatusObserver {
public:
    explicit CQuorvaneView(FrontEnd& front_end);
    ~CQuorvaneView() override;
    CQuorvaneView(const CQuorvaneView&) = delete;
    CQuorvaneView& operator=(const CQuorvaneView&) = delete;

    // Window creation: from here on the acquisition thread's drawing reaches
    // the window. 0 on success, -1 when the toolkit's own creation failed.
    int OnCreate(bool window_created);

    // Paint: the auto-start test, then the page, under StatusLock.
    void OnDraw(PageCanvas& canvas);

    // Starts acquisition unless it runs. The argument is not used.
    virtual void StartAcquisition(int unused);
    // Stops acquisition if it runs; blocks until the thread has ended.
    void StopAcquisition();
    bool IsAcquisitionRunning() const;

    // Menu state: Start only while stopped, Stop only while running, every
    // other command always.
    bool IsCommandEnabled(int command) const;
    // Carries out a command of the view. False when it is not the view's.
    bool OnCommand(int command);

    void OnTerminalData();
    void OnLogEntries();
    void OnDiagnosticStatistics();
    void OnArchivedData();
    void OnOperatingInstructions();

    // Window destruction: stop acquisition, let go of the window, end the
    // viewers, log the shutdown, release the configuration. Runs once.
    void OnDestroy();

    // Called by the acquisition thread after each drawing block.
    void OnStatusDrawn(const std::vector<StatusDraw>& block) override;

private:
    FrontEnd& front_end_;
    // The window the acquisition thread's drawing goes to; null before the
    // window exists and after the shutdown has let go of it.
    std::atomic<FrontEnd*> ViewDrawingContext{nullptr};
    bool destroyed_ = false;
};

// True while the user-interface thread is blocked in StopAcquisition, waiting
// for the acquisition thread to end: whatever that thread would ask of the
// window must not wait for it then.
bool IsWaitingForAcquisitionStop();

// The text handed to the terminal emulator for COM<port_number> at port
// position `position`: " %d %ld %c %d %d" with the port number, baud rate,
// parity letter, data bits and stop bits.
std::string TerminalArgumentText(int port_number, int position);
// The text split at blanks into its values.
std::vector<std::string> SplitAtBlanks(const std::string& text);

// Message texts of the commands.
extern const char kTerminalWhileRunningWarning[];
