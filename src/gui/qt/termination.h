// SIGTERM and SIGINT close the main window as its close box does, so a
// station that is shut down ends acquisition with its final flush.
#pragma once

class QWidget;

// Installs the handlers; a signal later closes `main_window` on its own
// thread. Any modal window open at that moment is closed first.
void CloseOnTerminationSignals(QWidget* main_window);
